#include "app/sandbox_cli/commands.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "app/sandbox_cli/context.h"
#include "app/sandbox_cli/drop_command.h"
#include "app/sandbox_cli/result_printer.h"
#include "app/sandbox_cli/serve_command.h"
#include "app/sandbox_cli/sql_command.h"
#include "common/version.h"
#include "sandbox/instance.h"
#include "sandbox/server.h"
#include "sandbox/server_info.h"

namespace sandbox_cli {

namespace {

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
    "  drop      remove an instance with its databases\n"
    "  sql       run Transact-SQL on an instance, as sqlcmd does\n"
    "  serve     serve an instance over SQL Server's network protocol (TDS)\n"
    "\n"
    "Options:\n"
    "  --root DIR   the folder of the instances; default $TESSERA_SANDBOX_ROOT, else\n"
    "               $XDG_DATA_HOME/tessera-server-manager/sandbox\n"
    "  --help       show this help ('tessera-sandbox COMMAND --help' for a command)\n"
    "  --version    show the version\n"
    "\n"
    "NAME is an instance's name, (sandbox)\\NAME or (sandbox); without it the default instance\n"
    "is meant, which is created with the local account as sysadmin when first used.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  failed, or the server reported an error\n"
    "  2  wrong command line\n"
    "\n"
    "Environment:\n"
    "  TESSERA_SANDBOX_ROOT  the folder of the instances, instead of\n"
    "                        $XDG_DATA_HOME/tessera-server-manager/sandbox\n"
    "  XDG_DATA_HOME         the folder of data (default: ~/.local/share)\n"
    "  SQLCMDPASSWORD        the password of 'sql -U LOGIN' when -P is not given\n"
    "\n"
    "Files:\n"
    "  ~/.local/share/tessera-server-manager/sandbox/\n"
    "                        the instances, a folder each with its databases\n";

constexpr const char* kInitUsage =
    "Usage: tessera-sandbox init [--name NAME] [--version VERSION]\n"
    "                            [--login-mode mixed|windows|sql] [--no-fulltext]\n"
    "                            [--sa-password PASSWORD]\n"
    "\n"
    "Creates an instance with master, model, msdb and tempdb. The local account that runs the\n"
    "command is its administrator (a sysadmin through Windows authentication); in the login\n"
    "mode sql Windows authentication is refused and sa, with --sa-password, is the way in.\n"
    "\n"
    "  --name NAME            a named instance, (sandbox)\\NAME; letters, digits, '_', '$' and\n"
    "                         '-', at most 16 (default: the default instance, (sandbox))\n"
    "  --version VERSION      the product version: 7.00.x (7.0), 8.00.x (2000), 9.00.x (2005),\n"
    "                         10.50.x (2008 R2), 11.00.x (2012) or 15.00.x (2019), or the\n"
    "                         version's name (7.0, 2000, ...) for its last service pack;\n"
    "                         default 8.00.2039\n"
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
    "  product_version      SERVERPROPERTY('ProductVersion'): 7.00.x, 8.00.x, 9.00.x,\n"
    "                       10.50.x, 11.00.x or 15.00.x\n"
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

// NAME arguments of status, start, stop: at most one.
std::optional<Target> ReadTargetOnly(Arguments& args, Context& context, bool* help) {
  std::optional<Target> target;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, true, help)) continue;
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

// --- the other commands ---------------------------------------------------------------------

int Init(Arguments& args, Context& context) {
  Io& io = context.io();
  std::optional<Target> target;
  sandbox::InstanceConfig config = context.DefaultConfig();
  bool help = false;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, true, &help)) continue;
    auto [option, inline_value] = SplitLongOption(arg);
    if (option == "--name") {
      std::string name = args.Value(option, inline_value);
      target = ParseTarget(name, args.command());
    } else if (option == "--version") {
      std::string given = args.Value(option, inline_value);
      std::optional<std::string> version = sandbox::ProductVersionNamed(given);
      if (!version)
        throw UsageError{"'" + given.substr(0, 64) + "' is not a product version; give " +
                             sandbox::kProductVersionForms,
                         args.command()};
      config.product_version = *version;
      config.product_level = sandbox::ProductLevelOf(*version);
      config.platform = sandbox::PlatformOf(*version);
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
         << (made.full_text_installed ? "installed" : "not installed") << "\n";
  // Who can connect afterwards, as the login mode allows.
  std::string sa =
      config.sa_password.empty() ? "sa without a password" : "sa with the password given";
  switch (made.login_mode) {
    case sandbox::LoginMode::kSqlOnly:
      io.out << "  connect as " << sa << " (sql -U sa); Windows authentication, "
             << context.MachineAccount(made) << " among it, is refused\n";
      break;
    case sandbox::LoginMode::kWindowsOnly:
      io.out << "  " << context.MachineAccount(made)
             << " is sysadmin; SQL Server logins, sa among them, are refused\n";
      break;
    case sandbox::LoginMode::kMixed:
      io.out << "  " << context.MachineAccount(made) << " is sysadmin"
             << (config.sa_password.empty() ? "; sa has no password"
                                            : "; sa has the password given")
             << "\n";
      break;
  }
  return kExitSuccess;
}

int List(Arguments& args, Context& context) {
  Io& io = context.io();
  bool help = false;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, true, &help)) continue;
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
    Target target;
    try {
      target = ParseTarget(name, args.command());
    } catch (const UsageError&) {
      continue;  // a folder that no instance name can reach
    }
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
  std::optional<Target> target = ReadTargetOnly(args, context, &help);
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
  std::optional<Target> target = ReadTargetOnly(args, context, &help);
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
  std::optional<sandbox::InstanceConfig> saved = context.Saved(chosen);
  if (!saved || saved->running != start)
    throw CommandError{"the service state of " + chosen.DataSource() + " could not be saved in " +
                       instance->directory().string() + "; other programs still see it " +
                       (start ? "stopped" : "running")};
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
    if (CommonOption(args, arg, context, true, &help)) continue;
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
    std::optional<std::string> version = sandbox::ProductVersionNamed(*value);
    if (!version)
      throw CommandError{"'" + value->substr(0, 64) + "' is not a product version; give " +
                         sandbox::kProductVersionForms};
    config.product_version = *version;
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
  std::optional<sandbox::InstanceConfig> saved = context.Saved(target);
  if (!saved || ConfigValue(*saved, *key) != ConfigValue(config, *key))
    throw CommandError{"the setting " + *key + " could not be saved in " +
                       instance->directory().string()};
  io.out << ConfigLine(*key, EscapeLine(ConfigValue(*saved, *key))) << "\n";
  return kExitSuccess;
}

}  // namespace

int RunCommand(const std::vector<std::string>& args, Io io) {
  Context context(io);
  std::string command;
  try {
    Arguments global(args, 0, "");
    bool help = false;
    while (!global.Done()) {
      const std::string& arg = global.Peek();
      if (arg == "--version") {
        io.out << kProgram << " " << common::kProductVersion << "\n";
        return kExitSuccess;
      }
      if (arg.empty() || arg[0] != '-') break;
      global.Take();
      if (!CommonOption(global, arg, context, true, &help))
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
    if (command == "drop") return Drop(rest, context);
    if (command == "sql") return Sql(rest, context);
    if (command == "serve") return Serve(rest, context);
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
