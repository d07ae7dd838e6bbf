#include "app/sandbox_cli/commands.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "app/sandbox_cli/batches.h"
#include "app/sandbox_cli/result_printer.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/environment.h"
#include "db/error.h"
#include "sandbox/instance.h"
#include "sandbox/server.h"

namespace sandbox_cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "tessera-sandbox";

constexpr const char* kUsage =
    "Usage: tessera-sandbox [--root DIR] COMMAND [ARGS]\n"
    "\n"
    "Runs the sandbox server: local instances that stand in for SQL Server 2000, reached by\n"
    "the data sources (sandbox) and (sandbox)\\NAME.\n"
    "\n"
    "Commands:\n"
    "  init      create an instance\n"
    "  list      list the instances\n"
    "  status    show an instance's state and settings\n"
    "  start     start an instance's service\n"
    "  stop      stop an instance's service, ending its sessions\n"
    "  config    show or change an instance's settings\n"
    "  sql       run Transact-SQL on an instance, as sqlcmd does\n"
    "\n"
    "Options:\n"
    "  --root DIR   the folder of the instances; default $TESSERA_SANDBOX_ROOT, else\n"
    "               $XDG_DATA_HOME/tessera-server-manager/sandbox\n"
    "  --help       show this help ('tessera-sandbox COMMAND --help' for a command)\n"
    "  --version    show the version\n"
    "\n"
    "NAME is an instance's name, (sandbox)\\NAME or (sandbox); without it the default instance\n"
    "is meant, which is created with the local account as sysadmin when first used.\n";

constexpr const char* kInitUsage =
    "Usage: tessera-sandbox init [--name NAME] [--version VERSION]\n"
    "                            [--login-mode mixed|windows|sql] [--no-fulltext]\n"
    "                            [--sa-password PASSWORD]\n"
    "\n"
    "Creates an instance with master, model, msdb and tempdb. The local account that runs the\n"
    "command is its administrator (a sysadmin through Windows authentication).\n"
    "\n"
    "  --name NAME            a named instance, (sandbox)\\NAME; letters, digits, '_', '$' and\n"
    "                         '-', at most 16 (default: the default instance, (sandbox))\n"
    "  --version VERSION      the product version, 7.00.x, 8.00.x or later (default 8.00.2039)\n"
    "  --login-mode MODE      mixed (default), windows (Windows authentication only) or sql\n"
    "  --no-fulltext          without full-text search\n"
    "  --sa-password PASSWORD the password of the login sa (default: none)\n";

constexpr const char* kListUsage =
    "Usage: tessera-sandbox list\n"
    "\n"
    "Lists the instances under the root folder with their data source, state and settings.\n";

constexpr const char* kStatusUsage =
    "Usage: tessera-sandbox status [NAME]\n"
    "\n"
    "Shows whether an instance's service runs, and its settings.\n";

constexpr const char* kStartUsage =
    "Usage: tessera-sandbox start [NAME]\n"
    "\n"
    "Starts an instance's service: it accepts connections again.\n";

constexpr const char* kStopUsage =
    "Usage: tessera-sandbox stop [NAME]\n"
    "\n"
    "Stops an instance's service: its sessions end, in every program, and new connections are\n"
    "refused until it is started.\n";

constexpr const char* kConfigUsage =
    "Usage: tessera-sandbox config [NAME] [KEY [VALUE]]\n"
    "\n"
    "Shows every setting, shows one, or changes one. Settings:\n"
    "  product_version      SERVERPROPERTY('ProductVersion'): 7.00.x, 8.00.x or later\n"
    "  product_level        SERVERPROPERTY('ProductLevel'), such as RTM or SP4\n"
    "  edition              SERVERPROPERTY('Edition')\n"
    "  platform             the platform xp_msver reports\n"
    "  version_text         @@VERSION (\\n for a line break); empty: made from the above\n"
    "  login_mode           mixed, windows or sql\n"
    "  full_text_installed  1 or 0\n"
    "  collation            the server collation (fixed)\n"
    "  machine_name         the machine part of @@SERVERNAME and Windows logins (fixed)\n"
    "  running              the service state (use start and stop)\n"
    "\n"
    "An instance named like a setting is given as (sandbox)\\NAME.\n";

constexpr const char* kSqlUsage =
    "Usage: tessera-sandbox sql [-S SERVER] [-U LOGIN [-P PASSWORD] | -E] [-d DATABASE]\n"
    "                           [-Q QUERY | -q QUERY | -i FILE...] [-b] [-t SECONDS]\n"
    "                           [-h -1] [-s SEPARATOR] [-W]\n"
    "\n"
    "Runs Transact-SQL as sqlcmd does. Without -Q or -i it reads batches from the standard\n"
    "input at the prompt \"1> \"; GO on a line of its own runs the batch (GO 3 three times),\n"
    "EXIT or QUIT ends.\n"
    "\n"
    "  -S SERVER     (sandbox), (sandbox)\\NAME or NAME (default: (sandbox))\n"
    "  -U LOGIN      SQL Server authentication; -P PASSWORD, else $SQLCMDPASSWORD, else asked\n"
    "  -E            Windows authentication as the local account (the default without -U)\n"
    "  -d DATABASE   the database to start in\n"
    "  -Q QUERY      runs the query and ends\n"
    "  -q QUERY      runs the query, then reads more at the prompt\n"
    "  -i FILE       runs the file's batches (may be given more than once)\n"
    "  -b            stops at the first batch that fails\n"
    "  -t SECONDS    the time a batch may take (default: no limit)\n"
    "  -h -1         no column headers\n"
    "  -s SEPARATOR  the character between columns (default: a space)\n"
    "  -W            no padding of values, for scripts\n"
    "\n"
    "Result sets show as tables with \"(N rows affected)\", messages as their text, errors as\n"
    "\"Msg N, Level L, State S, Line L\" and their text on the standard error. The exit code is\n"
    "1 when the server reported an error.\n";

// A wrong command line: the message, and the help of the command it concerns.
struct UsageError {
  std::string text;
  std::string command;
};

// A command that could not be done.
struct CommandError {
  std::string text;
};

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// --- the command line ------------------------------------------------------------------------

class Arguments {
 public:
  Arguments(const std::vector<std::string>& args, size_t position, std::string command)
      : args_(args), position_(position), command_(std::move(command)) {}

  bool Done() const { return position_ >= args_.size(); }
  const std::string& Peek() const { return args_[position_]; }
  std::string Take() { return args_[position_++]; }
  // The value of an option given as "--name VALUE" or "--name=VALUE"; inline_value is what
  // came after "=" (or, for "-SVALUE", after the letter).
  std::string Value(const std::string& option, std::optional<std::string> inline_value) {
    if (inline_value) return *inline_value;
    if (Done()) throw UsageError{"the option " + option + " needs a value", command_};
    return Take();
  }
  const std::string& command() const { return command_; }
  size_t position() const { return position_; }

 private:
  const std::vector<std::string>& args_;
  size_t position_;
  std::string command_;
};

// Splits "--name=value" into its parts.
std::pair<std::string, std::optional<std::string>> SplitLongOption(const std::string& arg) {
  size_t eq = arg.find('=');
  if (arg.rfind("--", 0) != 0 || eq == std::string::npos) return {arg, std::nullopt};
  return {arg.substr(0, eq), arg.substr(eq + 1)};
}

// --- instances -------------------------------------------------------------------------------

struct Target {
  std::string name;  // "" for the default instance, else upper case
  bool IsDefault() const { return name.empty(); }
  std::string DataSource() const { return name.empty() ? "(sandbox)" : "(sandbox)\\" + name; }
  // How a command names it on the command line.
  std::string Argument() const { return name.empty() ? "" : " " + name; }
};

bool IsInstanceNameText(std::string_view name) {
  if (name.empty() || name.size() > 16) return false;
  for (char c : name) {
    bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '-' ||
              static_cast<unsigned char>(c) >= 0x80;
    if (!ok) return false;
  }
  return true;
}

// "(sandbox)", "(sandbox)\NAME", "NAME", "MSSQLSERVER", "." and "(local)".
Target ParseTarget(std::string_view text, const std::string& command) {
  std::string name;
  if (auto from_source = db::SandboxDriver::InstanceName(text)) {
    name = *from_source;
    if (name.empty()) return Target{};
  } else {
    name = std::string(text);
    if (name == "." || Lower(name) == "(local)") return Target{};
  }
  if (!IsInstanceNameText(name)) {
    std::string shown = name.size() > 64 ? name.substr(0, 64) + "..." : name;
    throw UsageError{"'" + shown +
                         "' is not an instance name: use (sandbox), (sandbox)\\NAME or NAME, "
                         "with letters, digits, '_', '$' and '-', at most 16",
                     command};
  }
  if (Upper(name) == "MSSQLSERVER") return Target{};
  return Target{Upper(name)};
}

std::string LoginModeText(sandbox::LoginMode mode) {
  switch (mode) {
    case sandbox::LoginMode::kWindowsOnly:
      return "windows";
    case sandbox::LoginMode::kSqlOnly:
      return "sql";
    case sandbox::LoginMode::kMixed:
      return "mixed";
  }
  return "mixed";
}

std::optional<sandbox::LoginMode> ParseLoginMode(std::string_view text) {
  std::string mode = Lower(text);
  if (mode == "mixed") return sandbox::LoginMode::kMixed;
  if (mode == "windows") return sandbox::LoginMode::kWindowsOnly;
  if (mode == "sql") return sandbox::LoginMode::kSqlOnly;
  return std::nullopt;
}

// "8.00.2039": major, two-digit minor and build; SQL Server 7.0 and later.
bool IsProductVersion(std::string_view text) {
  size_t first = text.find('.');
  if (first == std::string_view::npos) return false;
  size_t second = text.find('.', first + 1);
  if (second == std::string_view::npos) return false;
  std::string_view major = text.substr(0, first);
  std::string_view minor = text.substr(first + 1, second - first - 1);
  std::string_view build = text.substr(second + 1);
  auto digits = [](std::string_view part, size_t min, size_t max) {
    if (part.size() < min || part.size() > max) return false;
    return std::all_of(part.begin(), part.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  };
  if (!digits(major, 1, 2) || !digits(minor, 2, 2) || !digits(build, 1, 5)) return false;
  return std::stoi(std::string(major)) >= 7;
}

// The service pack a build of SQL Server 7.0 or 2000 was released as.
std::string ProductLevelOf(std::string_view version) {
  struct Build {
    const char* version;
    const char* level;
  };
  static const Build kBuilds[] = {{"7.00.623", "RTM"}, {"7.00.699", "SP1"},  {"7.00.842", "SP2"},
                                  {"7.00.961", "SP3"}, {"7.00.1063", "SP4"}, {"8.00.194", "RTM"},
                                  {"8.00.384", "SP1"}, {"8.00.534", "SP2"},  {"8.00.760", "SP3"},
                                  {"8.00.2039", "SP4"}};
  for (const Build& build : kBuilds) {
    if (version == build.version) return build.level;
  }
  return "RTM";
}

class Context {
 public:
  Context(Io io, std::optional<fs::path> root) : io_(io), root_(std::move(root)) {}

  Io& io() { return io_; }
  fs::path root() const { return root_ ? *root_ : sandbox::DefaultRoot(); }
  void set_root(fs::path root) { root_ = std::move(root); }
  const std::string& os_user() {
    if (os_user_.empty()) os_user_ = db::LocalUserName();
    return os_user_;
  }

  std::shared_ptr<sandbox::Host> host() {
    if (!host_) host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root()));
    return host_;
  }
  // Lets go of every instance, so that their files can be removed.
  void CloseHost() { host_.reset(); }

  // The instance, or nullptr when there is none of that name.
  std::shared_ptr<sandbox::Instance> Find(const Target& target) {
    try {
      return host()->Find(target.name);
    } catch (const std::exception& e) {
      throw CommandError{"the sandbox instance " + target.DataSource() +
                         " cannot be opened: " + e.what()};
    }
  }

  // The instance; the default one is created when it does not exist yet.
  std::shared_ptr<sandbox::Instance> Open(const Target& target, bool create_default) {
    if (auto instance = Find(target)) return instance;
    if (target.IsDefault() && create_default) {
      std::shared_ptr<sandbox::Instance> instance;
      try {
        instance = host()->Create("", DefaultConfig());
      } catch (const std::exception& e) {
        throw CommandError{"the default sandbox instance cannot be created in " + root().string() +
                           ": " + e.what()};
      }
      io_.err << "Created the default sandbox instance (sandbox) in "
              << instance->directory().string() << "; " << MachineAccount(instance->config())
              << " is sysadmin.\n";
      return instance;
    }
    throw CommandError{"there is no sandbox instance " + target.DataSource() + " in " +
                       root().string() + "; create it with: " + kProgram + " init" +
                       (target.IsDefault() ? std::string() : " --name " + target.name)};
  }

  sandbox::InstanceConfig DefaultConfig() {
    sandbox::InstanceConfig config;
    config.creator = os_user();
    return config;
  }

  std::string MachineAccount(const sandbox::InstanceConfig& config) {
    return config.machine_name + "\\" + os_user();
  }

 private:
  Io io_;
  std::optional<fs::path> root_;
  std::string os_user_;
  std::shared_ptr<sandbox::Host> host_;
};

// Reads the options every command knows (--root, --help); true when the argument was one.
bool CommonOption(Arguments& args, const std::string& arg, Context& context, const char* usage,
                  bool* help) {
  auto [option, inline_value] = SplitLongOption(arg);
  if (option == "--root") {
    std::string root = args.Value(option, inline_value);
    if (root.empty()) throw UsageError{"the option --root needs a folder", args.command()};
    context.set_root(root);
    return true;
  }
  if (arg == "--help" || (arg == "-h" && usage != kSqlUsage)) {
    *help = true;
    return true;
  }
  return false;
}

// NAME arguments of status, start, stop: at most one.
std::optional<Target> ReadTargetOnly(Arguments& args, Context& context, const char* usage,
                                     bool* help) {
  std::optional<Target> target;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, usage, help)) continue;
    if (arg.size() > 1 && arg[0] == '-')
      throw UsageError{"unknown option '" + arg + "'", args.command()};
    if (target) throw UsageError{"unexpected argument '" + arg + "'", args.command()};
    target = ParseTarget(arg, args.command());
  }
  return target;
}

std::string ConfigLine(const std::string& key, const std::string& value) {
  return key + "=" + value;
}

std::string EscapeLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\\')
      out += "\\\\";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string UnescapeLine(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[++i];
      out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

const std::vector<std::string>& ConfigKeys() {
  static const std::vector<std::string> kKeys = {
      "product_version", "product_level",       "edition",   "platform",     "version_text",
      "login_mode",      "full_text_installed", "collation", "machine_name", "running"};
  return kKeys;
}

bool IsConfigKey(std::string_view text) {
  const auto& keys = ConfigKeys();
  return std::find(keys.begin(), keys.end(), Lower(text)) != keys.end();
}

std::string ConfigValue(const sandbox::InstanceConfig& config, const std::string& key) {
  if (key == "product_version") return config.product_version;
  if (key == "product_level") return config.product_level;
  if (key == "edition") return config.edition;
  if (key == "platform") return config.platform;
  if (key == "version_text") return config.version_text;
  if (key == "login_mode") return LoginModeText(config.login_mode);
  if (key == "full_text_installed") return config.full_text_installed ? "1" : "0";
  if (key == "collation") return config.collation;
  if (key == "machine_name") return config.machine_name;
  if (key == "running") return config.running ? "1" : "0";
  return std::string();
}

// A one-line setting: not empty, not too long, no line breaks (the instance file keeps one
// setting per line).
void CheckLineValue(const std::string& key, const std::string& value, size_t max) {
  if (value.empty()) throw CommandError{"the setting " + key + " cannot be empty"};
  if (value.size() > max)
    throw CommandError{"the setting " + key + " takes at most " + std::to_string(max) +
                       " characters"};
  for (char c : value) {
    if (static_cast<unsigned char>(c) < 0x20)
      throw CommandError{"the setting " + key + " cannot hold line breaks or control characters"};
  }
}

// --- sql -------------------------------------------------------------------------------------

struct SqlOptions {
  Target target;
  std::optional<std::string> login;
  std::optional<std::string> password;
  bool integrated_flag = false;
  std::string database;
  std::optional<std::string> query;  // -Q
  bool then_interactive = false;     // -q
  std::vector<std::string> files;
  bool stop_on_error = false;
  int timeout_seconds = 0;
  TableOptions table;
};

class SqlRunner {
 public:
  SqlRunner(Io& io, db::DriverSession& session, const SqlOptions& options)
      : io_(io), session_(session), options_(options), printer_(io.out, io.err, options.table) {}

  // Runs a batch count times. False when the connection is gone.
  bool Run(const std::string& text, int count) {
    if (IsBlank(text)) return true;
    for (int i = 0; i < count; ++i) {
      db::DriverRequest request;
      request.kind = db::DriverRequest::Kind::kBatch;
      request.text = text;
      request.timeout = std::chrono::seconds(options_.timeout_seconds);
      try {
        std::unique_ptr<db::ResultStream> stream = session_.Execute(request);
        db::ResultEvent event;
        while (stream->Next(event)) printer_.Print(event);
        printer_.Finish();
      } catch (const db::Error& error) {
        printer_.Finish();
        failed_ = true;
        PrintError(error);
        if (error.number() != db::kErrorTimeoutExpired) {
          connection_lost_ = true;
          return false;
        }
      }
      if (options_.stop_on_error && (printer_.had_error() || failed_)) return false;
    }
    return true;
  }

  void PrintError(const db::Error& error) {
    io_.out.flush();
    if (error.native_error() != 0) {
      db::ServerMessage message;
      message.number = error.native_error();
      message.severity = error.severity();
      message.state = error.state();
      message.text = error.description();
      io_.err << ErrorText(message) << "\n";
    } else {
      io_.err << kProgram << ": " << error.description() << "\n";
    }
    io_.err.flush();
  }

  void ScriptError(const std::string& text) {
    failed_ = true;
    io_.out.flush();
    io_.err << kProgram << ": " << text << "\n";
    io_.err.flush();
  }

  bool failed() const { return failed_ || printer_.had_error(); }
  bool connection_lost() const { return connection_lost_; }

  // The prompt loop: lines gather into a batch that GO runs.
  void Interactive() {
    std::string batch;
    int line_number = 1;
    std::string line;
    while (true) {
      io_.out << line_number << "> " << std::flush;
      if (!std::getline(io_.in, line)) {
        // Input that ends without GO still runs, as a script's last batch does.
        io_.out << "\n";
        Run(batch, 1);
        return;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ScriptLine kind = ClassifyLine(line);
      switch (kind.kind) {
        case ScriptLine::Kind::kText:
          batch += line;
          batch += '\n';
          ++line_number;
          break;
        case ScriptLine::Kind::kGo:
          if (!Run(batch, kind.count)) return;
          batch.clear();
          line_number = 1;
          break;
        case ScriptLine::Kind::kExit:
          return;
        case ScriptLine::Kind::kBadGo:
          ScriptError("syntax error near command 'GO': its count must be a number from 1 to " +
                      std::to_string(INT_MAX));
          if (options_.stop_on_error) return;
          batch.clear();
          line_number = 1;
          break;
      }
    }
  }

 private:
  Io& io_;
  db::DriverSession& session_;
  const SqlOptions& options_;
  ResultPrinter printer_;
  bool failed_ = false;
  bool connection_lost_ = false;
};

SqlOptions ParseSqlOptions(Arguments& args, Context& context, bool* help) {
  SqlOptions options;
  bool have_target = false;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (arg == "-?") {
      *help = true;
      continue;
    }
    if (CommonOption(args, arg, context, kSqlUsage, help)) continue;
    if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-')
      throw UsageError{arg.rfind("--", 0) == 0 ? "unknown option '" + arg + "'"
                                               : "unexpected argument '" + arg + "'",
                       args.command()};
    char letter = arg[1];
    std::optional<std::string> inline_value;
    if (arg.size() > 2) inline_value = arg.substr(2);
    std::string option = std::string("-") + letter;
    auto flag = [&]() {
      if (inline_value) throw UsageError{"unknown option '" + arg + "'", args.command()};
    };
    switch (letter) {
      case 'S':
        options.target = ParseTarget(args.Value(option, inline_value), args.command());
        have_target = true;
        break;
      case 'U':
        options.login = args.Value(option, inline_value);
        break;
      case 'P':
        options.password = args.Value(option, inline_value);
        break;
      case 'E':
        flag();
        options.integrated_flag = true;
        break;
      case 'd':
        options.database = args.Value(option, inline_value);
        break;
      case 'Q':
      case 'q':
        if (options.query) throw UsageError{"give one query, with -Q or -q", args.command()};
        options.query = args.Value(option, inline_value);
        options.then_interactive = letter == 'q';
        break;
      case 'i':
        options.files.push_back(args.Value(option, inline_value));
        break;
      case 'b':
        flag();
        options.stop_on_error = true;
        break;
      case 'W':
        flag();
        options.table.trim = true;
        break;
      case 't':
      case 'h': {
        std::string text = args.Value(option, inline_value);
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(text.c_str(), &end, 10);
        bool number = !text.empty() && end && *end == '\0' && errno == 0;
        if (letter == 't') {
          if (!number || value < 0 || value > 65535)
            throw UsageError{"-t takes the seconds a batch may take, 0 to 65535", args.command()};
          options.timeout_seconds = static_cast<int>(value);
        } else {
          if (!number || value < -1 || value == 0 || value > INT_MAX)
            throw UsageError{"-h takes -1 (no headers) or a number of rows", args.command()};
          options.table.headers = value != -1;
        }
        break;
      }
      case 's': {
        std::string separator = args.Value(option, inline_value);
        if (separator.size() != 1) throw UsageError{"-s takes one character", args.command()};
        options.table.separator = separator;
        break;
      }
      default:
        throw UsageError{"unknown option '" + arg + "'", args.command()};
    }
  }
  (void)have_target;
  if (options.login && options.integrated_flag)
    throw UsageError{"-E and -U cannot be used together", args.command()};
  if (options.password && !options.login)
    throw UsageError{"-P needs a login given with -U", args.command()};
  if (options.query && !options.files.empty())
    throw UsageError{"-Q or -q and -i cannot be used together", args.command()};
  if (options.login && options.login->empty())
    throw UsageError{"-U needs a login name", args.command()};
  return options;
}

int Sql(Arguments& args, Context& context) {
  bool help = false;
  SqlOptions options = ParseSqlOptions(args, context, &help);
  Io& io = context.io();
  if (help) {
    io.out << kSqlUsage;
    return kExitSuccess;
  }
  // The files are read first, so that a wrong name fails before anything runs.
  std::vector<std::string> scripts;
  for (const std::string& file : options.files) {
    std::error_code ec;
    if (fs::is_directory(file, ec)) throw CommandError{"the input file '" + file + "' is a folder"};
    std::ifstream in(file, std::ios::binary);
    if (!in)
      throw CommandError{"the input file '" + file + "' cannot be read: " + std::strerror(errno)};
    std::ostringstream text;
    text << in.rdbuf();
    scripts.push_back(text.str());
  }
  if (options.login && !options.password) {
    if (const char* env = std::getenv("SQLCMDPASSWORD")) {
      options.password = env;
    } else if (io.read_password) {
      options.password = io.read_password();
    }
  }

  std::shared_ptr<sandbox::Instance> instance = context.Open(options.target, true);
  if (!instance->config().running)
    throw CommandError{"the sandbox instance " + options.target.DataSource() +
                       " is stopped; start it with: " + kProgram + " start" +
                       options.target.Argument()};

  db::DriverRegistry drivers;
  drivers.Add(std::make_shared<db::SandboxDriver>(context.host(), context.os_user()));
  std::shared_ptr<db::Environment> environment = db::Environment::Create(std::move(drivers));
  db::Driver* driver = environment->drivers().Find(options.target.DataSource());
  db::ConnectRequest request;
  request.data_source = options.target.DataSource();
  request.integrated = !options.login.has_value();
  request.user = options.login.value_or("");
  request.password = options.password.value_or("");
  request.catalog = options.database;
  request.application = kProgram;
  std::unique_ptr<db::DriverSession> session;
  try {
    session = driver->Connect(request);
  } catch (const db::Error& error) {
    db::ServerMessage message;
    message.number = error.native_error();
    message.severity = error.severity();
    message.state = error.state();
    message.text = error.description();
    io.err << ErrorText(message) << "\n";
    return kExitFailure;
  }

  SqlRunner runner(io, *session, options);
  if (options.query) {
    bool alive = runner.Run(*options.query, 1);
    if (alive && options.then_interactive && !runner.connection_lost() &&
        !(options.stop_on_error && runner.failed()))
      runner.Interactive();
  } else if (!options.files.empty()) {
    for (size_t f = 0; f < scripts.size(); ++f) {
      int bad_go = 0;
      bool alive = true;
      for (const ScriptBatch& batch : SplitScript(scripts[f], &bad_go)) {
        alive = runner.Run(batch.text, batch.count);
        if (!alive) break;
      }
      if (!alive) break;
      if (bad_go != 0) {
        runner.ScriptError("syntax error at line " + std::to_string(bad_go) +
                           " near command 'GO' in file '" + options.files[f] + "'");
        break;
      }
    }
  } else {
    runner.Interactive();
  }
  session->Close();
  if (runner.connection_lost() && !instance->config().running) {
    io.err << kProgram << ": the sandbox instance " << options.target.DataSource()
           << " was stopped\n";
  }
  io.out.flush();
  return runner.failed() ? kExitFailure : kExitSuccess;
}

// --- the other commands ---------------------------------------------------------------------

int Init(Arguments& args, Context& context) {
  Io& io = context.io();
  std::optional<Target> target;
  sandbox::InstanceConfig config = context.DefaultConfig();
  bool help = false;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, kInitUsage, &help)) continue;
    auto [option, inline_value] = SplitLongOption(arg);
    if (option == "--name") {
      std::string name = args.Value(option, inline_value);
      target = ParseTarget(name, args.command());
    } else if (option == "--version") {
      std::string version = args.Value(option, inline_value);
      if (!IsProductVersion(version))
        throw UsageError{"'" + version.substr(0, 64) +
                             "' is not a product version such as 7.00.1063 or 8.00.2039",
                         args.command()};
      config.product_version = version;
      config.product_level = ProductLevelOf(version);
    } else if (option == "--login-mode") {
      std::string mode = args.Value(option, inline_value);
      auto parsed = ParseLoginMode(mode);
      if (!parsed)
        throw UsageError{
            "the login mode is mixed, windows or sql, not '" + mode.substr(0, 64) + "'",
            args.command()};
      config.login_mode = *parsed;
    } else if (arg == "--no-fulltext") {
      config.full_text_installed = false;
    } else if (option == "--sa-password") {
      config.sa_password = args.Value(option, inline_value);
      if (config.sa_password.size() > 128)
        throw UsageError{"the password of sa takes at most 128 characters", args.command()};
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option '" + arg + "'", args.command()};
    } else {
      throw UsageError{"unexpected argument '" + arg + "' (the name is given with --name)",
                       args.command()};
    }
  }
  if (help) {
    io.out << kInitUsage;
    return kExitSuccess;
  }
  Target chosen = target.value_or(Target{});
  if (context.Find(chosen))
    throw CommandError{"the sandbox instance " + chosen.DataSource() + " exists already in " +
                       context.root().string()};
  std::shared_ptr<sandbox::Instance> instance;
  try {
    instance = context.host()->Create(chosen.name, config);
  } catch (const std::exception& e) {
    throw CommandError{"the sandbox instance " + chosen.DataSource() +
                       " cannot be created: " + e.what()};
  }
  sandbox::InstanceConfig made = instance->config();
  io.out << "Created the sandbox instance " << chosen.DataSource() << " in "
         << instance->directory().string() << "\n"
         << "  version " << made.product_version << " " << made.product_level << ", "
         << LoginModeText(made.login_mode) << " login mode, full-text search "
         << (made.full_text_installed ? "installed" : "not installed") << "\n"
         << "  " << context.MachineAccount(made) << " is sysadmin"
         << (config.sa_password.empty() ? "; sa has no password" : "; sa has the password given")
         << "\n";
  return kExitSuccess;
}

int List(Arguments& args, Context& context) {
  Io& io = context.io();
  bool help = false;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, kListUsage, &help)) continue;
    throw UsageError{(arg[0] == '-' ? "unknown option '" : "unexpected argument '") + arg + "'",
                     args.command()};
  }
  if (help) {
    io.out << kListUsage;
    return kExitSuccess;
  }
  std::vector<std::string> names = sandbox::ListInstances(context.root());
  if (names.empty()) {
    io.out << "No sandbox instances in " << context.root().string() << ".\n"
           << "Create one with: " << kProgram << " init\n";
    return kExitSuccess;
  }
  // The default instance first, as a server list shows it.
  std::stable_partition(names.begin(), names.end(),
                        [](const std::string& name) { return name == "MSSQLSERVER"; });
  ResultPrinter printer(io.out, io.err, TableOptions{});
  db::ResultEvent begin;
  begin.kind = db::ResultEvent::Kind::kBeginRowSet;
  for (const char* heading :
       {"Instance", "Data source", "State", "Version", "Login mode", "Full-text"}) {
    db::ColumnInfo column;
    column.name = heading;
    begin.columns.push_back(column);
  }
  printer.Print(begin);
  int result = kExitSuccess;
  for (const std::string& name : names) {
    Target target = ParseTarget(name, args.command());
    db::ResultEvent row;
    row.kind = db::ResultEvent::Kind::kRow;
    try {
      std::shared_ptr<sandbox::Instance> instance = context.Find(target);
      if (!instance) continue;
      sandbox::InstanceConfig config = instance->config();
      row.row = {name,
                 target.DataSource(),
                 config.running ? "running" : "stopped",
                 config.product_version,
                 LoginModeText(config.login_mode),
                 config.full_text_installed ? "installed" : "no"};
    } catch (const CommandError& error) {
      io.err << kProgram << ": " << error.text << "\n";
      result = kExitFailure;
      continue;
    }
    printer.Print(row);
  }
  db::ResultEvent end;
  end.kind = db::ResultEvent::Kind::kEndRowSet;
  printer.Print(end);
  io.out.flush();
  return result;
}

int Status(Arguments& args, Context& context) {
  Io& io = context.io();
  bool help = false;
  std::optional<Target> target = ReadTargetOnly(args, context, kStatusUsage, &help);
  if (help) {
    io.out << kStatusUsage;
    return kExitSuccess;
  }
  Target chosen = target.value_or(Target{});
  std::shared_ptr<sandbox::Instance> instance = context.Open(chosen, true);
  sandbox::InstanceConfig config = instance->config();
  io.out << "Instance:     " << (chosen.IsDefault() ? "MSSQLSERVER" : chosen.name) << "\n"
         << "Data source:  " << chosen.DataSource() << "\n"
         << "State:        " << (config.running ? "running" : "stopped") << "\n"
         << "Version:      " << config.product_version << " " << config.product_level << " ("
         << config.edition << ")\n"
         << "Login mode:   " << LoginModeText(config.login_mode) << "\n"
         << "Full-text:    " << (config.full_text_installed ? "installed" : "not installed") << "\n"
         << "Collation:    " << config.collation << "\n"
         << "Folder:       " << instance->directory().string() << "\n";
  return kExitSuccess;
}

int StartOrStop(Arguments& args, Context& context, bool start) {
  Io& io = context.io();
  const char* usage = start ? kStartUsage : kStopUsage;
  bool help = false;
  std::optional<Target> target = ReadTargetOnly(args, context, usage, &help);
  if (help) {
    io.out << usage;
    return kExitSuccess;
  }
  Target chosen = target.value_or(Target{});
  // Stopping an instance that is not there has nothing to stop; starting the default one
  // makes it.
  std::shared_ptr<sandbox::Instance> instance = context.Open(chosen, start);
  bool running = instance->config().running;
  if (running == start) {
    io.out << "The sandbox instance " << chosen.DataSource() << " is "
           << (start ? "running" : "stopped") << " already.\n";
    return kExitSuccess;
  }
  instance->SetRunning(start);
  if (start) {
    io.out << "Started the sandbox instance " << chosen.DataSource() << ".\n";
  } else {
    io.out << "Stopped the sandbox instance " << chosen.DataSource()
           << "; its sessions have ended.\n";
  }
  return kExitSuccess;
}

int Config(Arguments& args, Context& context) {
  Io& io = context.io();
  bool help = false;
  std::vector<std::string> positional;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, kConfigUsage, &help)) continue;
    // A value may begin with "-"; only options before any argument are options.
    if (positional.empty() && arg.size() > 1 && arg[0] == '-')
      throw UsageError{"unknown option '" + arg + "'", args.command()};
    positional.push_back(arg);
  }
  if (help) {
    io.out << kConfigUsage;
    return kExitSuccess;
  }
  if (positional.size() > 3)
    throw UsageError{"unexpected argument '" + positional[3] + "'", args.command()};
  Target target;
  std::optional<std::string> key;
  std::optional<std::string> value;
  // The first argument is the instance unless it names a setting.
  size_t next = 0;
  if (!positional.empty() && (positional.size() == 3 || !IsConfigKey(positional[0]))) {
    target = ParseTarget(positional[0], args.command());
    next = 1;
  }
  if (next < positional.size()) key = Lower(positional[next++]);
  if (next < positional.size()) value = positional[next++];
  if (next < positional.size())
    throw UsageError{"unexpected argument '" + positional[next] + "'", args.command()};
  if (key && !IsConfigKey(*key))
    throw UsageError{"there is no setting '" + key->substr(0, 64) + "'", args.command()};

  std::shared_ptr<sandbox::Instance> instance = context.Open(target, true);
  sandbox::InstanceConfig config = instance->config();
  if (!key) {
    for (const std::string& k : ConfigKeys())
      io.out << ConfigLine(k, EscapeLine(ConfigValue(config, k))) << "\n";
    return kExitSuccess;
  }
  if (!value) {
    io.out << ConfigValue(config, *key) << "\n";
    return kExitSuccess;
  }
  if (*key == "collation" || *key == "machine_name")
    throw CommandError{"the setting " + *key + " is chosen when the instance is created"};
  if (*key == "running")
    throw CommandError{std::string("the service state changes with '") + kProgram +
                       " start' and '" + kProgram + " stop'"};
  if (*key == "product_version") {
    if (!IsProductVersion(*value))
      throw CommandError{"'" + value->substr(0, 64) +
                         "' is not a product version such as 7.00.1063 or 8.00.2039"};
    config.product_version = *value;
  } else if (*key == "product_level") {
    CheckLineValue(*key, *value, 32);
    config.product_level = *value;
  } else if (*key == "edition") {
    CheckLineValue(*key, *value, 128);
    config.edition = *value;
  } else if (*key == "platform") {
    CheckLineValue(*key, *value, 128);
    config.platform = *value;
  } else if (*key == "version_text") {
    std::string text = UnescapeLine(*value);
    if (text.size() > 1024)
      throw CommandError{"the setting version_text takes at most 1024 characters"};
    for (char c : text) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
        throw CommandError{"the setting version_text cannot hold control characters"};
    }
    config.version_text = text;
  } else if (*key == "login_mode") {
    auto mode = ParseLoginMode(*value);
    if (!mode)
      throw CommandError{"the login mode is mixed, windows or sql, not '" + value->substr(0, 64) +
                         "'"};
    config.login_mode = *mode;
  } else if (*key == "full_text_installed") {
    std::string flag = Lower(*value);
    if (flag == "1" || flag == "yes" || flag == "true" || flag == "on") {
      config.full_text_installed = true;
    } else if (flag == "0" || flag == "no" || flag == "false" || flag == "off") {
      config.full_text_installed = false;
    } else {
      throw CommandError{"the setting full_text_installed is 1 or 0, not '" + value->substr(0, 64) +
                         "'"};
    }
  }
  auto impl = std::dynamic_pointer_cast<sandbox::InstanceImpl>(instance);
  if (!impl) throw CommandError{"the settings of this instance cannot be changed"};
  impl->Reconfigure(config);
  io.out << ConfigLine(*key, EscapeLine(ConfigValue(instance->config(), *key))) << "\n";
  return kExitSuccess;
}

}  // namespace

int RunCommand(const std::vector<std::string>& args, Io io) {
  Context context(io, std::nullopt);
  std::string command;
  try {
    Arguments global(args, 0, "");
    bool help = false;
    while (!global.Done()) {
      const std::string& arg = global.Peek();
      if (arg == "--version") {
        io.out << kVersion << "\n";
        return kExitSuccess;
      }
      if (arg.empty() || arg[0] != '-') break;
      global.Take();
      if (!CommonOption(global, arg, context, kUsage, &help))
        throw UsageError{"unknown option '" + arg + "'", ""};
    }
    if (help) {
      io.out << kUsage;
      return kExitSuccess;
    }
    if (global.Done()) throw UsageError{"a command is needed", ""};
    command = global.Take();
    Arguments rest(args, global.position(), command);
    if (command == "init") return Init(rest, context);
    if (command == "list") return List(rest, context);
    if (command == "status") return Status(rest, context);
    if (command == "start") return StartOrStop(rest, context, true);
    if (command == "stop") return StartOrStop(rest, context, false);
    if (command == "config") return Config(rest, context);
    if (command == "sql") return Sql(rest, context);
    if (command == "help") {
      io.out << kUsage;
      return kExitSuccess;
    }
    throw UsageError{"unknown command '" + command.substr(0, 64) + "'", ""};
  } catch (const UsageError& error) {
    io.err << kProgram << (error.command.empty() ? "" : " " + error.command) << ": " << error.text
           << "\n"
           << "Try '" << kProgram << (error.command.empty() ? "" : " " + error.command)
           << " --help'.\n";
    return kExitUsage;
  } catch (const CommandError& error) {
    io.out.flush();
    io.err << kProgram << ": " << error.text << "\n";
    return kExitFailure;
  } catch (const std::exception& error) {
    io.out.flush();
    io.err << kProgram << ": " << error.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace sandbox_cli
