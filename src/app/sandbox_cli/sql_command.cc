#include "app/sandbox_cli/sql_command.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "app/sandbox_cli/batches.h"
#include "app/sandbox_cli/result_printer.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/environment.h"
#include "db/error.h"

namespace sandbox_cli {

namespace fs = std::filesystem;

namespace {

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
        // Rows are shown as they arrive and forgotten: a result may be larger than memory.
        // Output that can no longer be written (a full disk) stops the batch instead of
        // computing rows nobody sees.
        session_.ExecuteEach(request, [this](db::ResultEvent& event) {
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
  while (!args.Done()) {
    std::string arg = args.Take();
    if (arg == "-?") {
      *help = true;
      continue;
    }
    if (CommonOption(args, arg, context, false, help)) continue;
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

}  // namespace sandbox_cli
