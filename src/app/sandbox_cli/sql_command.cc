#include "app/sandbox_cli/sql_command.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "app/sandbox_cli/batches.h"
#include "app/sandbox_cli/line_editor.h"
#include "app/sandbox_cli/result_printer.h"
#include "app/sandbox_cli/script_input.h"
#include "app/sandbox_cli/variables.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/environment.h"
#include "db/error.h"
#include "sandbox/logins.h"

namespace sandbox_cli {

namespace {

constexpr const char* kSqlUsage =
    "Usage: tessera-sandbox sql [-S SERVER] [-U LOGIN [-P PASSWORD] | -E | --as ACCOUNT]\n"
    "                           [-d DATABASE] [-Q QUERY | -q QUERY | -i FILE...] [-o FILE]\n"
    "                           [-v NAME=VALUE...] [-b] [-t SECONDS] [-h -1] [-s SEPARATOR]\n"
    "                           [-W]\n"
    "\n"
    "Runs Transact-SQL as sqlcmd does. Without -Q or -i it reads batches from the standard\n"
    "input at the prompt \"1> \"; on a terminal lines can be edited and earlier ones recalled\n"
    "(arrow keys, Ctrl-R), and they are kept for the next time.\n"
    "\n"
    "  -S SERVER     (sandbox), (sandbox)\\NAME or NAME (default: (sandbox))\n"
    "  -U LOGIN      SQL Server authentication; -P PASSWORD, else $SQLCMDPASSWORD, else asked\n"
    "  -E            Windows authentication as the local account (the default without -U)\n"
    "  --as ACCOUNT  Windows authentication as another account of the instance's machine,\n"
    "                such as SANDBOX\\maria, to try what its login may do\n"
    "  -d DATABASE   the database to start in\n"
    "  -Q QUERY      runs the query and ends\n"
    "  -q QUERY      runs the query, then reads more at the prompt\n"
    "  -i FILE       runs the file's batches (may be given more than once); files in UTF-8,\n"
    "                with or without byte order mark, or UTF-16 with one, are read as they run\n"
    "  -o FILE       writes results and messages to the file instead\n"
    "  -v NAME=VALUE sets a scripting variable (may be given more than once)\n"
    "  -b            stops at the first batch that fails\n"
    "  -t SECONDS    the time a batch may take (default: no limit)\n"
    "  -h -1         no column headers\n"
    "  -s SEPARATOR  the character between columns (default: a space)\n"
    "  -W            no padding of values, for scripts\n"
    "\n"
    "Commands, on a line of their own, in any case:\n"
    "  GO [N]           runs the batch (N times)\n"
    "  RESET            forgets the batch typed so far\n"
    "  EXIT, QUIT       ends without running the batch\n"
    "  EXIT(QUERY)      runs the batch and the query, ends with the first column of its first\n"
    "                   row as exit code; EXIT() runs the batch and ends\n"
    "  :r FILE          reads the file's lines as if they were typed here\n"
    "  :setvar NAME [VALUE]\n"
    "                   sets a scripting variable (\"VALUE\" in double quotes may hold blanks),\n"
    "                   or removes it without a value\n"
    "$(NAME) in a line is the variable's value; -v, :setvar and the environment set them,\n"
    "SQLCMDSERVER, SQLCMDDBNAME and SQLCMDUSER are set at the start. A variable that is not\n"
    "set is an error, and the batch it is in is not run.\n"
    "\n"
    "Result sets show as tables with \"(N rows affected)\", messages as their text, errors as\n"
    "\"Msg N, Level L, State S, Line L\" and their text on the standard error. The exit code is\n"
    "1 when the server reported an error, or what EXIT(QUERY) chose.\n"
    "\n"
    "Files:\n"
    "  $XDG_STATE_HOME/tessera-server-manager/sql_history (default ~/.local/state/...)\n"
    "                the prompt's history\n";

struct SqlOptions {
  Target target;
  std::optional<std::string> login;
  std::optional<std::string> password;
  bool integrated_flag = false;
  std::optional<std::string> windows_account;  // --as MACHINE\user
  std::string database;
  std::optional<std::string> query;  // -Q
  bool then_interactive = false;     // -q
  std::vector<std::string> files;
  std::optional<std::string> output_file;
  std::vector<std::pair<std::string, std::string>> variables;  // -v
  bool stop_on_error = false;
  int timeout_seconds = 0;
  TableOptions table;
};

// Where the lines of a script come from: a file, or a person at the prompt.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // The next line; nullopt at the end. The prompt is shown where a person types.
  virtual std::optional<std::string> Next(const std::string& prompt) = 0;
  // The file's name for messages; empty at the prompt.
  virtual std::string name() const { return {}; }
};

class FileLines : public LineSource {
 public:
  explicit FileLines(const std::string& path) : file_(path) {}
  std::optional<std::string> Next(const std::string&) override { return file_.reader().ReadLine(); }
  std::string name() const override { return file_.path(); }

 private:
  ScriptFile file_;
};

// The prompt without a terminal: the prompt is written to the output, lines are read from the
// input as they come.
class StreamPrompt : public LineSource {
 public:
  StreamPrompt(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
  std::optional<std::string> Next(const std::string& prompt) override {
    out_ << prompt << std::flush;
    std::string line;
    if (!std::getline(in_, line)) {
      // The end of the input ends the prompt's line, as typing Ctrl-D does.
      out_ << "\n";
      return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

 private:
  std::istream& in_;
  std::ostream& out_;
};

class EditorPrompt : public LineSource {
 public:
  EditorPrompt() : editor_(LineEditor::DefaultHistoryFile()) {}
  std::optional<std::string> Next(const std::string& prompt) override {
    return editor_.ReadLine(prompt);
  }

 private:
  LineEditor editor_;
};

class SqlRunner {
 public:
  // How :r files nest at most: a file that reads itself ends here.
  static constexpr size_t kMaxIncludeDepth = 16;

  SqlRunner(Io& io, db::DriverSession& session, const SqlOptions& options, Variables& variables)
      : io_(io),
        session_(session),
        options_(options),
        variables_(variables),
        printer_(io.out, io.err, options.table) {}

  // Runs a batch count times. False when the connection is gone.
  bool Run(const std::string& text, int count) {
    if (IsBlank(text)) return true;
    for (int i = 0; i < count; ++i) {
      db::DriverRequest request;
      request.kind = db::DriverRequest::Kind::kBatch;
      request.text = text;
      request.timeout = std::chrono::seconds(options_.timeout_seconds);
      try {
        // Rows are shown as they arrive and forgotten: a result may be larger than memory.
        // Output that can no longer be written (a full disk) stops the batch instead of
        // computing rows nobody sees.
        session_.ExecuteEach(request, [this](db::ResultEvent& event) {
          // EXIT(query): the query comes last, so the last row set's first row is its.
          if (capture_ && event.kind == db::ResultEvent::Kind::kBeginRowSet) {
            captured_.reset();
            capture_row_ = true;
          }
          if (capture_row_ && event.kind == db::ResultEvent::Kind::kRow) {
            captured_ = event.row.empty() ? common::Value() : event.row.front();
            capture_row_ = false;
          }
          printer_.Print(event);
          if (!io_.out) throw std::runtime_error("writing the results failed");
        });
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
  // The exit code :exit(query) chose, if it did.
  std::optional<int> exit_code() const { return exit_code_; }

  // Reads lines from the source (a file or the prompt) and the files its :r commands name, and
  // runs their batches. False when nothing more is to run: EXIT, a lost connection, or an
  // error that ends the script.
  bool Process(LineSource& source) {
    frames_.clear();
    frames_.push_back({&source, nullptr, 0});
    batch_.clear();
    batch_lines_ = 0;
    poisoned_ = false;
    while (true) {
      Frame& frame = frames_.back();
      bool at_prompt = frames_.size() == 1 && source.name().empty();
      std::optional<std::string> raw =
          frame.source->Next(at_prompt ? std::to_string(batch_lines_ + 1) + "> " : std::string());
      if (!raw) {
        if (frames_.size() > 1) {
          frames_.pop_back();
          continue;
        }
        // Input that ends without GO still runs, as a script's last batch does.
        bool alive = RunBatch(1);
        return alive;
      }
      ++frame.line;
      std::string undefined;
      std::optional<std::string> line = variables_.Substitute(*raw, &undefined);
      if (!line) {
        // The batch would run with a hole in it: it is not sent at all.
        poisoned_ = true;
        ++batch_lines_;
        if (!ErrorAt("'" + undefined + "' scripting variable not defined")) return false;
        continue;
      }
      ScriptLine kind = ClassifyLine(*line);
      switch (kind.kind) {
        case ScriptLine::Kind::kText:
          batch_ += *line;
          batch_ += '\n';
          ++batch_lines_;
          break;
        case ScriptLine::Kind::kGo:
          if (!RunBatch(kind.count)) return false;
          break;
        case ScriptLine::Kind::kReset:
          ClearBatch();
          break;
        case ScriptLine::Kind::kExit:
          return false;
        case ScriptLine::Kind::kExitQuery: {
          // The query joins the batch; the first column of its first row is the exit code.
          if (!kind.argument.empty()) {
            batch_ += kind.argument;
            batch_ += '\n';
          }
          capture_ = !kind.argument.empty();
          captured_.reset();
          RunBatch(1);
          capture_ = false;
          if (!kind.argument.empty()) SetExitCode();
          return false;
        }
        case ScriptLine::Kind::kRead: {
          if (frames_.size() > kMaxIncludeDepth) {
            if (!ErrorAt(":r files nest deeper than " + std::to_string(kMaxIncludeDepth) +
                         " (does a file read itself?)"))
              return false;
            break;
          }
          std::unique_ptr<LineSource> file;
          try {
            file = std::make_unique<FileLines>(kind.argument);
          } catch (const CommandError& error) {
            if (!ErrorAt(error.text)) return false;
            break;
          }
          LineSource* raw_file = file.get();
          frames_.push_back({raw_file, std::move(file), 0});
          break;
        }
        case ScriptLine::Kind::kSetVar: {
          std::string error;
          std::optional<SetVar> setvar = ParseSetVar(kind.argument, &error);
          if (!setvar) {
            if (!ErrorAt(":setvar: " + error)) return false;
          } else if (setvar->value) {
            variables_.Set(setvar->name, *setvar->value);
          } else {
            variables_.Remove(setvar->name);
          }
          break;
        }
        case ScriptLine::Kind::kBadGo:
          if (!SyntaxErrorAt("GO",
                             "its count must be a number from 1 to " + std::to_string(INT_MAX)))
            return false;
          ClearBatch();
          break;
        case ScriptLine::Kind::kBadCommand:
          if (!SyntaxErrorAt(kind.argument.substr(0, 64),
                             "the commands are GO, RESET, EXIT, QUIT, :r, :setvar"))
            return false;
          ClearBatch();
          break;
      }
    }
  }

 private:
  struct Frame {
    LineSource* source;
    std::unique_ptr<LineSource> owned;  // the files of :r
    int line;
  };

  void ClearBatch() {
    batch_.clear();
    batch_lines_ = 0;
    poisoned_ = false;
  }

  bool RunBatch(int count) {
    bool poisoned = poisoned_;
    std::string text = std::move(batch_);
    ClearBatch();
    if (poisoned) return !options_.stop_on_error;
    return Run(text, count);
  }

  // Reports an error of the script where it happened. In a file the script ends there (false);
  // at the prompt the files of :r are left and the person goes on, unless -b says to stop. The
  // batch stays as it is; callers decide what becomes of it.
  bool ErrorAt(const std::string& text) {
    const Frame& frame = frames_.back();
    std::string where = frame.source->name();
    if (where.empty()) return Report(text);
    return Report(text + ", at line " + std::to_string(frame.line) + " in file '" + where + "'");
  }

  bool Report(const std::string& text) {
    ScriptError(text);
    bool prompt = frames_.front().source->name().empty();
    if (!prompt || options_.stop_on_error) return false;
    frames_.resize(1);
    return true;
  }

  // Without a row (the query failed, or chose none) the exit code is the usual one.
  // sqlcmd's form: "syntax error at line N near command 'GO' in file 'F'".
  bool SyntaxErrorAt(const std::string& command, const std::string& detail) {
    const Frame& frame = frames_.back();
    std::string where = frame.source->name();
    if (where.empty()) return Report("syntax error near command '" + command + "': " + detail);
    return Report("syntax error at line " + std::to_string(frame.line) + " near command '" +
                  command + "' in file '" + where + "': " + detail);
  }

  void SetExitCode() {
    if (!captured_) return;
    if (captured_->IsNull()) {
      exit_code_ = 0;
      return;
    }
    std::optional<std::int64_t> number = captured_->ToInt();
    if (!number || *number < INT_MIN || *number > INT_MAX) {
      ScriptError("the value of EXIT(query) is not a number of 4 bytes: '" +
                  DisplayValue(*captured_).substr(0, 64) + "'");
      return;
    }
    exit_code_ = static_cast<int>(*number);
  }

  Io& io_;
  db::DriverSession& session_;
  const SqlOptions& options_;
  Variables& variables_;
  ResultPrinter printer_;
  bool failed_ = false;
  bool connection_lost_ = false;
  std::vector<Frame> frames_;
  std::string batch_;
  int batch_lines_ = 0;
  bool poisoned_ = false;  // a line of the batch could not be read as written
  bool capture_ = false;
  bool capture_row_ = false;
  std::optional<common::Value> captured_;
  std::optional<int> exit_code_;
};

SqlOptions ParseSqlOptions(Arguments& args, Context& context, bool* help) {
  SqlOptions options;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (arg == "-?") {
      *help = true;
      continue;
    }
    if (CommonOption(args, arg, context, false, help)) continue;
    if (auto [long_option, long_value] = SplitLongOption(arg); long_option == "--as") {
      std::string account = args.Value(long_option, long_value);
      if (!sandbox::IsWindowsName(account))
        throw UsageError{"--as takes a Windows account of the instance, MACHINE\\user, not '" +
                             account.substr(0, 64) + "'",
                         args.command()};
      options.windows_account = account;
      continue;
    }
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
      case 'o':
        if (options.output_file) throw UsageError{"give one output file", args.command()};
        options.output_file = args.Value(option, inline_value);
        if (options.output_file->empty()) throw UsageError{"-o needs a file name", args.command()};
        break;
      case 'v': {
        std::string assignment = args.Value(option, inline_value);
        size_t eq = assignment.find('=');
        std::string name = assignment.substr(0, eq);
        if (eq == std::string::npos || !Variables::IsName(name))
          throw UsageError{
              "-v takes NAME=value, with a name of letters, digits, '_' and '-', "
              "not '" +
                  assignment.substr(0, 64) + "'",
              args.command()};
        std::string value = assignment.substr(eq + 1);
        // As the shell hands it over, a value may still be in double quotes.
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
          value = value.substr(1, value.size() - 2);
        options.variables.emplace_back(name, value);
        break;
      }
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
  if (options.login && options.integrated_flag)
    throw UsageError{"-E and -U cannot be used together", args.command()};
  if (options.login && options.windows_account)
    throw UsageError{"--as and -U cannot be used together", args.command()};
  if (options.password && !options.login)
    throw UsageError{"-P needs a login given with -U", args.command()};
  if (options.query && !options.files.empty())
    throw UsageError{"-Q or -q and -i cannot be used together", args.command()};
  if (options.login && options.login->empty())
    throw UsageError{"-U needs a login name", args.command()};
  return options;
}

}  // namespace

int Sql(Arguments& args, Context& context) {
  bool help = false;
  SqlOptions options = ParseSqlOptions(args, context, &help);
  Io& io = context.io();
  if (help) {
    io.out << kSqlUsage;
    return kExitSuccess;
  }
  // The files are opened first, so that a wrong name fails before anything runs; they are
  // read a piece at a time as their batches run.
  std::vector<std::unique_ptr<LineSource>> files;
  for (const std::string& file : options.files) files.push_back(std::make_unique<FileLines>(file));
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
  // --as: one of the instance's Windows accounts stands in for the local one.
  std::string os_user = context.os_user();
  if (options.windows_account) {
    const std::string& account = *options.windows_account;
    std::string machine = instance->config().machine_name;
    size_t slash = account.find('\\');
    if (Upper(account.substr(0, slash)) != Upper(machine))
      throw CommandError{"'" + account.substr(0, 64) +
                         "' is no account of the instance's machine " + machine +
                         "; its accounts are " + machine + "\\NAME"};
    os_user = account.substr(slash + 1);
  }

  std::optional<std::ofstream> output;
  if (options.output_file) {
    output.emplace(*options.output_file, std::ios::binary | std::ios::trunc);
    if (!*output)
      throw CommandError{"the output file '" + *options.output_file +
                         "' cannot be written: " + std::strerror(errno)};
  }

  db::DriverRegistry drivers;
  drivers.Add(std::make_shared<db::SandboxDriver>(context.host(), os_user));
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

  Variables variables;
  variables.Set("SQLCMDSERVER", options.target.DataSource());
  variables.Set("SQLCMDDBNAME", session->CurrentDatabase());
  if (options.login) variables.Set("SQLCMDUSER", *options.login);
  for (const auto& [name, value] : options.variables) variables.Set(name, value);

  // With -o, results and the server's messages go to the file, as sqlcmd writes them there.
  Io run_io{io.in, output ? *output : io.out, output ? *output : io.err, io.read_password,
            io.terminal};
  SqlRunner runner(run_io, *session, options, variables);
  auto prompt = [&]() {
    if (io.terminal) {
      EditorPrompt editor;
      runner.Process(editor);
    } else {
      StreamPrompt stream(io.in, io.out);
      runner.Process(stream);
    }
  };
  if (options.query) {
    // The query's variables are filled in as a script's are.
    std::string undefined;
    std::optional<std::string> query = variables.Substitute(*options.query, &undefined);
    bool alive = false;
    if (query) {
      alive = runner.Run(*query, 1);
    } else {
      runner.ScriptError("'" + undefined + "' scripting variable not defined");
    }
    if (alive && options.then_interactive && !runner.connection_lost() &&
        !(options.stop_on_error && runner.failed()))
      prompt();
  } else if (!files.empty()) {
    for (auto& file : files) {
      if (!runner.Process(*file)) break;
    }
  } else {
    prompt();
  }
  session->Close();
  if (runner.connection_lost() && !instance->config().running) {
    io.err << kProgram << ": the sandbox instance " << options.target.DataSource()
           << " was stopped\n";
  }
  run_io.out.flush();
  if (output && !*output) {
    io.err << kProgram << ": the output file '" << *options.output_file
           << "' could not be written completely\n";
    return kExitFailure;
  }
  if (runner.exit_code()) return *runner.exit_code();
  return runner.failed() ? kExitFailure : kExitSuccess;
}

}  // namespace sandbox_cli
