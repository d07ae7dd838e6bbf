// The tessera-sandbox command run as a process against a root folder of its own, the way a
// new user would try it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/admin_process.h"
#include "app/sandbox_cli/drop_command.h"
#include "common/version.h"

namespace {

namespace fs = std::filesystem;

using admin_testing::Contains;
using admin_testing::ReadFile;
using admin_testing::RunResult;
using admin_testing::RunShell;
using admin_testing::ShellQuote;

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string LocalUser() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

class SandboxCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tessera-sandbox-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    root_ = dir_ / "root";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs the command with the test's root and the text as standard input. Environment
  // variables of the caller are not seen, so that TESSERA_SANDBOX_ROOT of the machine cannot
  // point the command elsewhere.
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "",
                bool with_root = true, const std::string& env = "") {
    fs::path in_file = dir_ / "stdin.txt";
    fs::path err_file = dir_ / "stderr.txt";
    WriteFile(in_file, input);
    std::string command =
        "env -u TESSERA_SANDBOX_ROOT -u SQLCMDPASSWORD " + env + " " + ShellQuote(TESSERA_SANDBOX);
    if (with_root) command += " --root " + ShellQuote(root_.string());
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    return RunShell(command + " <" + ShellQuote(in_file.string()), err_file);
  }

  RunResult Sql(const std::string& query, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"sql", "-Q", query};
    args.insert(args.end(), more.begin(), more.end());
    return Run(args);
  }

  // The default instance, made by a first "status".
  void MakeDefault() {
    RunResult made = Run({"status"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }

  fs::path dir_;
  fs::path root_;
};

TEST_F(SandboxCommandTest, HelpOnEveryLevelAndTheVersion) {
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(Contains(help.out, "Usage: tessera-sandbox")) << help.out;
  for (const char* command : {"init", "list", "status", "start", "stop", "config", "sql", "drop"}) {
    RunResult run = Run({command, "--help"});
    EXPECT_EQ(run.exit_code, 0) << command << ": " << run.err;
    EXPECT_EQ(run.out.rfind(std::string("Usage: tessera-sandbox ") + command, 0), 0u) << run.out;
  }
  EXPECT_EQ(Run({"sql", "-?"}).exit_code, 0);
  RunResult version = Run({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("tessera-sandbox ") + common::kProductVersion + "\n");
  // Asking for help creates nothing.
  EXPECT_FALSE(fs::exists(root_));
}

TEST_F(SandboxCommandTest, WrongCommandLinesAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "a command is needed"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"init", "--login-mode", "trusted"}, "mixed, windows or sql, not 'trusted'"},
      {{"init", "--version", "6.50.201"}, "is not a product version"},
      {{"init", "--version", "8.1"}, "is not a product version; give a build such as"},
      {{"init", "--version", "2000; rm -rf"}, "or a version's name: 7, 7.0, 7.00"},
      {{"init", "--name"}, "the option --name needs a value"},
      {{"init", "V7"}, "unexpected argument 'V7'"},
      {{"status", "A", "B"}, "unexpected argument 'B'"},
      {{"stop", "--force"}, "unknown option '--force'"},
      {{"config", "V7", "nosuch_setting"}, "there is no setting 'nosuch_setting'"},
      {{"sql", "-Z"}, "unknown option '-Z'"},
      {{"sql", "-E", "-U", "sa"}, "-E and -U cannot be used together"},
      {{"sql", "-P", "x"}, "-P needs a login given with -U"},
      {{"sql", "-Q", "SELECT 1", "-i", "x.sql"}, "cannot be used together"},
      {{"sql", "-t", "soon"}, "-t takes the seconds"},
      {{"sql", "-s", "::"}, "-s takes one character"},
      {{"sql", "-S"}, "the option -S needs a value"},
      {{"sql", "SELECT 1"}, "unexpected argument 'SELECT 1'"},
      {{"sql", "-v", "novalue"}, "-v takes NAME=value"},
      {{"sql", "-v", "a b=1"}, "-v takes NAME=value"},
      {{"sql", "-v", "=1"}, "-v takes NAME=value"},
      {{"sql", "-o", ""}, "-o needs a file name"},
      {{"sql", "-o", "a", "-o", "b"}, "give one output file"},
      {{"sql", "--as", "maria"}, "--as takes a Windows account"},
      {{"sql", "--as", "SANDBOX\\maria", "-U", "sa"}, "--as and -U cannot be used together"},
      {{"sql", "--as"}, "the option --as needs a value"},
      {{"drop"}, "name the instance to remove"},
      {{"drop", "A", "B"}, "unexpected argument 'B'"},
      {{"drop", "A", "--now"}, "unknown option '--now'"},
      {{"drop", "../x", "--yes"}, "is not an instance name"},
  };
  for (const Case& c : cases) {
    RunResult run = Run(c.args);
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    EXPECT_EQ(run.exit_code, 2) << shown << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, c.message)) << shown << "\n" << run.err;
    EXPECT_TRUE(Contains(run.err, "--help")) << shown;
  }
  EXPECT_FALSE(fs::exists(root_ / "MSSQLSERVER"));
}

// A version's name stands for its last service pack, in init and in config.
TEST_F(SandboxCommandTest, InitTakesAVersionsShortName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"7.00", "7.00.1063 SP4"}, {"7.0", "7.00.1063 SP4"}, {"7", "7.00.1063 SP4"},
      {"8.00", "8.00.2039 SP4"}, {"2000", "8.00.2039 SP4"}, {"2005", "9.00.5000 SP4"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string name = "N" + std::to_string(i);
    RunResult init = Run({"init", "--name", name, "--version", cases[i].first});
    ASSERT_EQ(init.exit_code, 0) << cases[i].first << ": " << init.err;
    EXPECT_TRUE(Contains(init.out, "version " + cases[i].second)) << init.out;
  }
  ASSERT_EQ(Run({"config", "N0", "product_version", "2000"}).exit_code, 0);
  EXPECT_EQ(Run({"config", "N0", "product_version"}).out, "8.00.2039\n");
}

TEST_F(SandboxCommandTest, InitWithOptionsThenListStatusAndConfig) {
  RunResult empty = Run({"list"});
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_TRUE(Contains(empty.out, "No sandbox instances")) << empty.out;

  RunResult init = Run({"init", "--name", "v7", "--version", "7.00.1063", "--login-mode", "windows",
                        "--no-fulltext"});
  ASSERT_EQ(init.exit_code, 0) << init.err;
  EXPECT_TRUE(Contains(init.out, "(sandbox)\\V7")) << init.out;
  EXPECT_TRUE(Contains(init.out, "SANDBOX\\" + LocalUser() + " is sysadmin")) << init.out;
  ASSERT_EQ(Run({"init"}).exit_code, 0);

  RunResult again = Run({"init", "--name", "V7"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_TRUE(Contains(again.err, "exists already")) << again.err;

  RunResult list = Run({"list"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_EQ(list.out,
            "Instance    Data source  State   Version   Login mode Full-text\n"
            "----------- ------------ ------- --------- ---------- ---------\n"
            "MSSQLSERVER (sandbox)    running 8.00.2039 mixed      installed\n"
            "V7          (sandbox)\\V7 running 7.00.1063 windows    no\n");

  RunResult status = Run({"status", "(sandbox)\\V7"});
  ASSERT_EQ(status.exit_code, 0) << status.err;
  EXPECT_TRUE(Contains(status.out, "Data source:  (sandbox)\\V7\n")) << status.out;
  EXPECT_TRUE(Contains(status.out, "State:        running\n"));
  EXPECT_TRUE(Contains(status.out, "Version:      7.00.1063 SP4")) << status.out;
  EXPECT_TRUE(Contains(status.out, "Login mode:   windows\n"));
  EXPECT_TRUE(Contains(status.out, "Full-text:    not installed\n"));

  RunResult config = Run({"config", "V7"});
  ASSERT_EQ(config.exit_code, 0) << config.err;
  EXPECT_TRUE(Contains(config.out, "product_version=7.00.1063\n")) << config.out;
  EXPECT_TRUE(Contains(config.out, "product_level=SP4\n"));
  EXPECT_TRUE(Contains(config.out, "login_mode=windows\n"));
  EXPECT_TRUE(Contains(config.out, "full_text_installed=0\n"));
  EXPECT_TRUE(Contains(config.out, "running=1\n"));
  // One setting of the default instance, by its key alone.
  RunResult mode = Run({"config", "login_mode"});
  EXPECT_EQ(mode.out, "mixed\n");

  // The server itself says what the instance was set up as (in @@VERSION: 7.0 has no
  // SERVERPROPERTY).
  RunResult version = Run({"sql", "-S", "V7", "-h", "-1", "-W", "-Q",
                           "SELECT CHARINDEX('7.00.1063', @@VERSION), "
                           "FULLTEXTSERVICEPROPERTY('IsFulltextInstalled')"});
  ASSERT_EQ(version.exit_code, 0) << version.err;
  EXPECT_EQ(version.out.substr(version.out.find(' ')), " 0\n\n(1 rows affected)\n");
  EXPECT_GT(std::stoi(version.out), 0) << version.out;
  EXPECT_NE(Run({"sql", "-S", "V7", "-Q", "SELECT SERVERPROPERTY('ProductVersion')"}).exit_code, 0);
}

TEST_F(SandboxCommandTest, TheRootComesFromTheEnvironmentWithoutOption) {
  fs::path other = dir_ / "from-env";
  RunResult status =
      Run({"status"}, "", false, "TESSERA_SANDBOX_ROOT=" + ShellQuote(other.string()));
  ASSERT_EQ(status.exit_code, 0) << status.err;
  EXPECT_TRUE(fs::exists(other / "MSSQLSERVER" / "instance.conf"));
  EXPECT_FALSE(fs::exists(root_));
  // --root wins over the environment.
  RunResult list = Run({"list"}, "", true, "TESSERA_SANDBOX_ROOT=" + ShellQuote(other.string()));
  EXPECT_TRUE(Contains(list.out, "No sandbox instances")) << list.out;
}

TEST_F(SandboxCommandTest, SqlCreatesTheDefaultInstanceWithTheLocalAccountAsSysadmin) {
  RunResult first = Sql("SELECT SUSER_SNAME() AS login, IS_SRVROLEMEMBER('sysadmin') AS sa");
  ASSERT_EQ(first.exit_code, 0) << first.err;
  EXPECT_TRUE(Contains(first.err, "Created the default sandbox instance (sandbox)")) << first.err;
  std::string login = "SANDBOX\\" + LocalUser();
  std::string dashes(std::max<size_t>(login.size(), 5), '-');
  EXPECT_EQ(first.out, "login" + std::string(dashes.size() - 5, ' ') + " sa\n" + dashes + " --\n" +
                           login + std::string(dashes.size() - login.size(), ' ') +
                           "  1\n\n(1 rows affected)\n");
  // Only the first use creates it.
  RunResult second = Sql("SELECT 1");
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(second.out, "\n-\n1\n\n(1 rows affected)\n");
}

TEST_F(SandboxCommandTest, ServerErrorsGiveMsgLinesAndAFailingExitCode) {
  MakeDefault();
  RunResult missing = Sql("SELECT * FROM x");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "Msg 208, Level 16, State 1, Line 1\nInvalid object name 'x'.\n");

  // What ran before the error is shown; the error names the batch's line.
  RunResult later = Sql("SELECT 1 AS a\nPRINT 'between'\nSELECT * FROM nosuch");
  EXPECT_EQ(later.exit_code, 1);
  EXPECT_EQ(later.out, "a\n-\n1\n\n(1 rows affected)\nbetween\n");
  EXPECT_EQ(later.err, "Msg 208, Level 16, State 1, Line 3\nInvalid object name 'nosuch'.\n");

  RunResult syntax = Sql("SELEC 1");
  EXPECT_EQ(syntax.exit_code, 1);
  EXPECT_EQ(syntax.err.rfind("Msg ", 0), 0u) << syntax.err;

  // Informational messages are no errors.
  RunResult print = Sql("PRINT 'hello'; RAISERROR('just saying', 10, 1)");
  EXPECT_EQ(print.exit_code, 0) << print.err;
  EXPECT_EQ(print.out, "hello\njust saying\n");
  RunResult raised = Sql("RAISERROR('it broke', 16, 1)");
  EXPECT_EQ(raised.exit_code, 1);
  EXPECT_EQ(raised.err, "Msg 50000, Level 16, State 1, Line 1\nit broke\n");

  RunResult no_db = Run({"sql", "-d", "NoSuchDb", "-Q", "SELECT 1"});
  EXPECT_EQ(no_db.exit_code, 1);
  EXPECT_TRUE(Contains(no_db.err, "Msg 4060, Level 11")) << no_db.err;
  EXPECT_TRUE(Contains(no_db.err, "Cannot open database requested in login 'NoSuchDb'"));

  RunResult tempdb = Run({"sql", "-d", "tempdb", "-h", "-1", "-Q", "SELECT db_name()"});
  EXPECT_EQ(tempdb.exit_code, 0) << tempdb.err;
  EXPECT_EQ(tempdb.out, "tempdb\n\n(1 rows affected)\n");
}

TEST_F(SandboxCommandTest, InputFilesRunTheirGoBatches) {
  MakeDefault();
  fs::path script = dir_ / "script.sql";
  WriteFile(script,
            "CREATE DATABASE Cli\r\nGO\r\nUSE Cli\nCREATE TABLE t (a int)\ngo\n"
            "INSERT t VALUES (1)\nGO 3\n"
            "SELECT count(*) AS n FROM t\n");
  RunResult run = Run({"sql", "-i", script.string()});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  // CREATE DATABASE tells of its files first.
  ASSERT_EQ(run.out.rfind("The CREATE DATABASE process is allocating ", 0), 0u) << run.out;
  EXPECT_TRUE(Contains(run.out,
                       "'Cli_log'.\nChanged database context to 'Cli'.\n"
                       "\n(1 rows affected)\n\n(1 rows affected)\n\n(1 rows affected)\n"
                       "n\n-\n3\n\n(1 rows affected)\n"))
      << run.out;

  // Two files in order, a failing batch does not stop the next one, the exit code tells.
  fs::path failing = dir_ / "failing.sql";
  WriteFile(failing, "SELECT * FROM Cli..nosuch\nGO\nPRINT 'went on'\n");
  RunResult both = Run({"sql", "-i", failing.string(), "-i", script.string(), "-d", "Cli"});
  EXPECT_EQ(both.exit_code, 1);
  EXPECT_TRUE(Contains(both.out, "went on\n")) << both.out;
  EXPECT_TRUE(Contains(both.err, "Invalid object name 'Cli..nosuch'.")) << both.err;
  // The second file fails at CREATE DATABASE and creates its table anew in Cli: it exists.
  EXPECT_TRUE(Contains(both.err, "Msg 1801")) << both.err;

  // -b stops at the first failing batch.
  RunResult stop = Run({"sql", "-b", "-i", failing.string()});
  EXPECT_EQ(stop.exit_code, 1);
  EXPECT_FALSE(Contains(stop.out, "went on")) << stop.out;

  fs::path bad_go = dir_ / "bad_go.sql";
  WriteFile(bad_go, "PRINT 'one'\nGO\nPRINT 'two'\nGO twice\nPRINT 'three'\n");
  RunResult bad = Run({"sql", "-i", bad_go.string()});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.out, "one\n");
  EXPECT_TRUE(Contains(bad.err, "syntax error at line 4 near command 'GO'")) << bad.err;

  RunResult missing = Run({"sql", "-i", (dir_ / "nosuch.sql").string()});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_TRUE(Contains(missing.err, "cannot be read")) << missing.err;
  RunResult folder = Run({"sql", "-i", dir_.string()});
  EXPECT_EQ(folder.exit_code, 1);
  EXPECT_TRUE(Contains(folder.err, "is a folder")) << folder.err;
}

TEST_F(SandboxCommandTest, ThePromptGathersBatchesUntilGo) {
  MakeDefault();
  RunResult run = Run({"sql"}, "SELECT 1 AS one\nGO\nSELECT 2 AS two\nexit\nSELECT 3\nGO\n");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "1> 2> one\n---\n  1\n\n(1 rows affected)\n1> 2> ");

  // The input's end runs what is left; errors leave the prompt going and fail the exit code.
  RunResult rest = Run({"sql"}, "SELECT * FROM nosuch\nGO\nPRINT\n'after'\n");
  EXPECT_EQ(rest.exit_code, 1);
  EXPECT_EQ(rest.out, "1> 2> 1> 2> 3> \nafter\n");
  EXPECT_EQ(rest.err, "Msg 208, Level 16, State 1, Line 1\nInvalid object name 'nosuch'.\n");

  // -q runs its query first and then prompts.
  RunResult q = Run({"sql", "-h", "-1", "-q", "PRINT 'first'"}, "PRINT 'second'\nquit\n");
  EXPECT_EQ(q.exit_code, 0) << q.err;
  EXPECT_EQ(q.out, "first\n1> 2> ");
}

TEST_F(SandboxCommandTest, StopEndsServiceUntilStart) {
  MakeDefault();
  RunResult stop = Run({"stop"});
  ASSERT_EQ(stop.exit_code, 0) << stop.err;
  EXPECT_EQ(stop.out, "Stopped the sandbox instance (sandbox); its sessions have ended.\n");
  EXPECT_TRUE(Contains(Run({"status"}).out, "State:        stopped\n"));
  EXPECT_TRUE(Contains(Run({"list"}).out, "stopped"));

  RunResult refused = Sql("SELECT 1");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "tessera-sandbox: the sandbox instance (sandbox) is stopped; start it with: "
            "tessera-sandbox start\n");

  RunResult twice = Run({"stop"});
  EXPECT_EQ(twice.exit_code, 0);
  EXPECT_EQ(twice.out, "The sandbox instance (sandbox) is stopped already.\n");

  RunResult start = Run({"start", "(sandbox)"});
  ASSERT_EQ(start.exit_code, 0) << start.err;
  EXPECT_EQ(start.out, "Started the sandbox instance (sandbox).\n");
  EXPECT_EQ(Run({"start"}).out, "The sandbox instance (sandbox) is running already.\n");
  EXPECT_EQ(Sql("SELECT 1").exit_code, 0);
}

TEST_F(SandboxCommandTest, AStateThatCannotBeSavedIsNoSuccess) {
  MakeDefault();
  // Where the instance's file is written first, a folder is in the way.
  fs::create_directories(root_ / "MSSQLSERVER" / "instance.conf.new" / "x");
  RunResult stop = Run({"stop"});
  EXPECT_EQ(stop.exit_code, 1);
  EXPECT_TRUE(Contains(stop.err, "could not be saved")) << stop.err;
  RunResult set = Run({"config", "login_mode", "sql"});
  EXPECT_EQ(set.exit_code, 1);
  EXPECT_TRUE(Contains(set.err, "the setting login_mode could not be saved")) << set.err;
  fs::remove_all(root_ / "MSSQLSERVER" / "instance.conf.new");
  // Nothing changed for anyone.
  RunResult status = Run({"status"});
  EXPECT_TRUE(Contains(status.out, "State:        running\n")) << status.out;
  EXPECT_TRUE(Contains(status.out, "Login mode:   mixed\n")) << status.out;
}

TEST_F(SandboxCommandTest, MissingInstancesAreNamedAndNotMadeExceptTheDefault) {
  RunResult stop = Run({"stop"});
  EXPECT_EQ(stop.exit_code, 1);
  EXPECT_TRUE(Contains(stop.err, "there is no sandbox instance (sandbox)")) << stop.err;
  EXPECT_FALSE(fs::exists(root_ / "MSSQLSERVER"));

  for (const std::vector<std::string>& args : {std::vector<std::string>{"status", "Nosuch"},
                                               {"start", "Nosuch"},
                                               {"config", "(sandbox)\\Nosuch"},
                                               {"sql", "-S", "Nosuch", "-Q", "SELECT 1"}}) {
    RunResult run = Run(args);
    EXPECT_EQ(run.exit_code, 1) << args[0];
    EXPECT_TRUE(Contains(run.err, "there is no sandbox instance (sandbox)\\NOSUCH")) << run.err;
    EXPECT_TRUE(Contains(run.err, "tessera-sandbox init --name NOSUCH")) << run.err;
  }
  EXPECT_FALSE(fs::exists(root_ / "NOSUCH"));
  // The default instance's other spellings reach the same instance.
  for (const char* server : {"(sandbox)", "(SANDBOX)", ".", "(local)", "MSSQLSERVER"}) {
    RunResult run = Run({"sql", "-S", server, "-Q", "SELECT 1"});
    EXPECT_EQ(run.exit_code, 0) << server << run.err;
  }
  EXPECT_EQ(fs::directory_iterator(root_)->path().filename(), "MSSQLSERVER");
}

TEST_F(SandboxCommandTest, ConfigChangesWhatTheServerDoes) {
  MakeDefault();
  RunResult set = Run({"config", "login_mode", "windows"});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(set.out, "login_mode=windows\n");
  RunResult refused = Run({"sql", "-U", "sa", "-P", "", "-Q", "SELECT 1"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(Contains(refused.err, "Msg 18452, Level 14")) << refused.err;
  EXPECT_TRUE(Contains(refused.err, "Not associated with a trusted SQL Server connection"));

  RunResult text = Run({"config", "MSSQLSERVER", "version_text", "Sandbox SQL\\nsecond line"});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_EQ(text.out, "version_text=Sandbox SQL\\nsecond line\n");
  RunResult version = Run({"sql", "-h", "-1", "-Q", "SELECT @@VERSION"});
  EXPECT_EQ(version.out, "Sandbox SQL\nsecond line\n\n(1 rows affected)\n");

  RunResult fulltext = Run({"config", "full_text_installed", "no"});
  EXPECT_EQ(fulltext.out, "full_text_installed=0\n");
  RunResult installed =
      Run({"sql", "-h", "-1", "-Q", "SELECT FULLTEXTSERVICEPROPERTY('IsFulltextInstalled')"});
  EXPECT_EQ(installed.out, "0\n\n(1 rows affected)\n") << installed.err;

  struct Refusal {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Refusal& r : std::vector<Refusal>{
           {{"config", "login_mode", "trusted"}, "mixed, windows or sql"},
           {{"config", "collation", "Latin1_General_BIN"}, "chosen when the instance is created"},
           {{"config", "machine_name", "EVIL"}, "chosen when the instance is created"},
           {{"config", "running", "0"}, "start' and 'tessera-sandbox stop'"},
           {{"config", "product_version", "8.00.2039'; DROP"}, "is not a product version"},
           {{"config", "full_text_installed", "maybe"}, "is 1 or 0"},
           {{"config", "edition", ""}, "cannot be empty"},
           {{"config", "product_level", std::string(100, 'L')}, "at most 32"},
           // A line break would smuggle another setting into the instance's file.
           {{"config", "edition", "Developer\nrunning=0"}, "line breaks"},
       }) {
    RunResult run = Run(r.args);
    EXPECT_EQ(run.exit_code, 1) << r.args[1];
    EXPECT_TRUE(Contains(run.err, r.message)) << r.args[1] << ": " << run.err;
  }
  RunResult after = Run({"config"});
  EXPECT_TRUE(Contains(after.out, "running=1\n")) << after.out;
  EXPECT_TRUE(Contains(after.out, "edition=Developer Edition\n")) << after.out;
  EXPECT_TRUE(Contains(after.out, "login_mode=windows\n")) << after.out;
}

TEST_F(SandboxCommandTest, SqlServerLoginsAndTheSaPassword) {
  const std::string password = "p'a]s;s\"word";
  RunResult init =
      Run({"init", "--name", "Sqlx", "--login-mode", "sql", "--sa-password", password});
  ASSERT_EQ(init.exit_code, 0) << init.err;

  // The message says who can connect now: sa, not the local account.
  EXPECT_TRUE(Contains(init.out, "connect as sa with the password given")) << init.out;
  EXPECT_FALSE(Contains(init.out, "is sysadmin")) << init.out;
  RunResult integrated = Run({"sql", "-S", "(sandbox)\\SQLX", "-Q", "SELECT 1"});
  EXPECT_EQ(integrated.exit_code, 1);
  EXPECT_TRUE(Contains(integrated.err, "Msg 18452")) << integrated.err;

  RunResult wrong = Run({"sql", "-S", "SQLX", "-U", "sa", "-P", "wrong", "-Q", "SELECT 1"});
  EXPECT_EQ(wrong.exit_code, 1);
  EXPECT_EQ(wrong.err, "Msg 18456, Level 14, State 1, Line 1\nLogin failed for user 'sa'.\n");
  RunResult none = Run({"sql", "-S", "SQLX", "-U", "sa", "-Q", "SELECT 1"});
  EXPECT_EQ(none.exit_code, 1) << "no password was given and no terminal can ask for one";

  RunResult right = Run(
      {"sql", "-S", "SQLX", "-U", "sa", "-P", password, "-h", "-1", "-Q", "SELECT SUSER_SNAME()"});
  EXPECT_EQ(right.exit_code, 0) << right.err;
  EXPECT_EQ(right.out, "sa\n\n(1 rows affected)\n");
  // sqlcmd's variable gives the password when -P does not.
  RunResult from_env = Run({"sql", "-S", "SQLX", "-U", "sa", "-Q", "SELECT 1"}, "", true,
                           "SQLCMDPASSWORD=" + ShellQuote(password));
  EXPECT_EQ(from_env.exit_code, 0) << from_env.err;
  // The password is kept only as a hash.
  std::string file = ReadFile(root_ / "SQLX" / "instance.conf");
  EXPECT_FALSE(Contains(file, password));
}

TEST_F(SandboxCommandTest, HostileNamesAndValues) {
  for (const std::string& name :
       {std::string("x'];DROP"), std::string("../../etc"), std::string("a b"),
        std::string("(sandbox)\\..\\x"), std::string(300, 'N'), std::string("[V7]"),
        std::string("(sandbox)\\")}) {
    RunResult init = Run({"init", "--name", name});
    EXPECT_EQ(init.exit_code, 2) << name << init.err;
    EXPECT_TRUE(Contains(init.err, "is not an instance name")) << init.err;
    EXPECT_LT(init.err.size(), 400u) << "a long name is shortened in the message";
    RunResult sql = Run({"sql", "-S", name, "-Q", "SELECT 1"});
    EXPECT_EQ(sql.exit_code, 2) << name;
  }
  EXPECT_FALSE(fs::exists(root_));
  RunResult long_password = Run({"init", "--sa-password", std::string(200, 'p')});
  EXPECT_EQ(long_password.exit_code, 2);

  // Quotes, brackets and semicolons travel as data.
  RunResult quoted = Sql("SELECT 'O''Brien' AS [x]]y], N'a;b' AS [c d]");
  ASSERT_EQ(quoted.exit_code, 0) << quoted.err;
  EXPECT_EQ(quoted.out, "x]y     c d\n------- ---\nO'Brien a;b\n\n(1 rows affected)\n");
  RunResult long_text = Sql("SELECT REPLICATE('z', 4000) AS v");
  ASSERT_EQ(long_text.exit_code, 0) << long_text.err;
  EXPECT_TRUE(Contains(long_text.out, "\n" + std::string(4000, 'z') + "\n"));
  RunResult bad_db = Run({"sql", "-d", "x];DROP DATABASE master;--", "-Q", "SELECT 1"});
  EXPECT_EQ(bad_db.exit_code, 1);
  EXPECT_TRUE(Contains(bad_db.err, "Msg 4060")) << bad_db.err;
  // master is still there.
  RunResult master = Run({"sql", "-h", "-1", "-Q",
                          "SELECT name FROM master..sysdatabases "
                          "WHERE name = 'master'"});
  EXPECT_EQ(master.out, "master\n\n(1 rows affected)\n") << master.err;
}

TEST_F(SandboxCommandTest, InputFilesInEveryEncodingGiveTheSameResult) {
  MakeDefault();
  const std::u16string text = u"SELECT N'Müller 日本' AS name\r\nGO\r\nPRINT 'zwei'\r\n";
  auto utf16 = [&](bool big) {
    std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
      char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
      out += big ? high : low;
      out += big ? low : high;
    }
    return out;
  };
  const std::string utf8 = "SELECT N'Müller 日本' AS name\r\nGO\r\nPRINT 'zwei'\r\n";
  const std::string expected = "name\n---------\nMüller 日本\n\n(1 rows affected)\nzwei\n";
  for (const auto& [name, bytes] :
       std::vector<std::pair<std::string, std::string>>{{"utf8.sql", utf8},
                                                        {"mark.sql", "\xEF\xBB\xBF" + utf8},
                                                        {"le.sql", utf16(false)},
                                                        {"be.sql", utf16(true)}}) {
    WriteFile(dir_ / name, bytes);
    RunResult run = Run({"sql", "-i", (dir_ / name).string()});
    EXPECT_EQ(run.exit_code, 0) << name << run.err;
    EXPECT_EQ(run.out, expected) << name;
  }
}

TEST_F(SandboxCommandTest, VariablesCommandsAndExitCodesInScripts) {
  MakeDefault();
  fs::path part = dir_ / "part one.sql";
  WriteFile(part, ":setvar from_part \"set in part\"\nPRINT '$(greeting) from part'\n");
  fs::path script = dir_ / "main.sql";
  WriteFile(script,
            ":setvar greeting hello\n"
            "PRINT '$(greeting), $(who)'\n"
            "GO\n"
            ":r \"" +
                part.string() +
                "\"\n"
                "GO\n"
                "PRINT '$(FROM_PART)'\n"
                "GO\n"
                "PRINT 'forgotten'\n"
                "RESET\n"
                ":setvar greeting\n"
                "PRINT '$(SQLCMDSERVER) $(SQLCMDDBNAME)'\n"
                "EXIT(SELECT 40 + 2)\n"
                "PRINT 'never'\n");
  RunResult run = Run({"sql", "-i", script.string(), "-v", "who=Jörg \"J\" ]; --"});
  EXPECT_EQ(run.exit_code, 42) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "hello, Jörg \"J\" ]; --\nhello from part\nset in part\n(sandbox) master\n"
            "\n--\n42\n\n(1 rows affected)\n");

  // A variable nobody set is an error, and its batch does not run, nor the rest of the file.
  fs::path missing = dir_ / "missing.sql";
  WriteFile(missing, "PRINT 'first'\nGO\nPRINT 'second'\nPRINT '$(nosuch)'\nGO\nPRINT 'third'\n");
  RunResult undefined = Run({"sql", "-i", missing.string()});
  EXPECT_EQ(undefined.exit_code, 1);
  EXPECT_EQ(undefined.out, "first\n");
  EXPECT_EQ(undefined.err,
            "tessera-sandbox: 'nosuch' scripting variable not defined, at line 4 in file '" +
                missing.string() + "'\n");

  // EXIT ends every file; EXIT() runs its batch; a query that fails gives the usual failure.
  fs::path ends = dir_ / "ends.sql";
  WriteFile(ends, "PRINT 'ran'\nEXIT()\nPRINT 'not'\n");
  RunResult exit_empty = Run({"sql", "-i", ends.string(), "-i", script.string()});
  EXPECT_EQ(exit_empty.exit_code, 0) << exit_empty.err;
  EXPECT_EQ(exit_empty.out, "ran\n");
  WriteFile(ends, "EXIT(SELECT 1/0)\n");
  RunResult failing = Run({"sql", "-i", ends.string()});
  EXPECT_EQ(failing.exit_code, 1);
  EXPECT_TRUE(Contains(failing.err, "Msg 8134")) << failing.err;
  WriteFile(ends, "EXIT(SELECT 'many')\n");
  RunResult text = Run({"sql", "-i", ends.string()});
  EXPECT_EQ(text.exit_code, 1);
  EXPECT_TRUE(Contains(text.err, "not a number")) << text.err;
  WriteFile(ends, "EXIT(SELECT NULL)\n");
  EXPECT_EQ(Run({"sql", "-i", ends.string()}).exit_code, 0);

  // A file that reads itself ends, and says so.
  fs::path loop = dir_ / "loop.sql";
  WriteFile(loop, ":r " + loop.string() + "\n");
  RunResult looped = Run({"sql", "-i", loop.string()});
  EXPECT_EQ(looped.exit_code, 1);
  EXPECT_TRUE(Contains(looped.err, ":r files nest deeper than 16")) << looped.err;
  WriteFile(loop, "PRINT 1\n:r " + (dir_ / "nosuch.sql").string() + "\nGO\n");
  RunResult unreadable = Run({"sql", "-i", loop.string()});
  EXPECT_EQ(unreadable.exit_code, 1);
  EXPECT_EQ(unreadable.out, "");
  EXPECT_TRUE(Contains(unreadable.err, "cannot be read")) << unreadable.err;
  EXPECT_TRUE(Contains(unreadable.err, "at line 2 in file")) << unreadable.err;
}

TEST_F(SandboxCommandTest, ThePromptKnowsTheCommandsToo) {
  MakeDefault();
  RunResult run = Run({"sql", "-h", "-1", "-v", "n=7"},
                      "PRINT 'dropped'\nRESET\n:setvar word \"two words\"\nPRINT '$(word) $(n)'\n"
                      "GO\nPRINT $(nosuch)\nPRINT 'with it'\nGO\n:bogus\nPRINT 'on'\n"
                      "EXIT(SELECT $(n) * 2)\n");
  EXPECT_EQ(run.exit_code, 14) << run.err;
  EXPECT_EQ(run.out, "1> 2> 1> 1> 2> two words 7\n1> 2> 3> 1> 1> 2> on\n14\n\n(1 rows affected)\n");
  EXPECT_EQ(run.err,
            "tessera-sandbox: 'nosuch' scripting variable not defined\n"
            "tessera-sandbox: syntax error near command ':bogus': the commands are GO, RESET, "
            "EXIT, QUIT, :r, :setvar\n");
  // -b ends the prompt at the first error of the script.
  RunResult stop = Run({"sql", "-b"}, "PRINT '$(nosuch)'\nGO\nPRINT 'later'\nGO\n");
  EXPECT_EQ(stop.exit_code, 1);
  EXPECT_EQ(stop.out, "1> ");
}

TEST_F(SandboxCommandTest, HostileScriptsStayData) {
  MakeDefault();
  const std::string long_comment = "-- " + std::string(2'000'000, 'c');
  fs::path script = dir_ / "hostile.sql";
  WriteFile(script,
            ":setvar q \"say \"\"hi\"\" ]; --\"\n"
            "SELECT '$(q)' AS q, N'日本 $(' AS [open], '$(' + ')' AS split\n" +
                long_comment +
                "\nPRINT 'after a long line'\n"
                "GO\n"
                ":setvar ü x\n");
  RunResult run = Run({"sql", "-W", "-i", script.string()});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out,
            "q open split\n- ---- -----\nsay \"hi\" ]; -- 日本 $( $()\n\n(1 rows affected)\n"
            "after a long line\n");
  EXPECT_TRUE(Contains(run.err, ":setvar: '\xC3\xBC' is not a variable name")) << run.err;
  // A long variable value travels whole.
  RunResult long_value = Run(
      {"sql", "-h", "-1", "-W", "-v", "v=" + std::string(5000, 'v'), "-Q", "SELECT LEN('$(v)')"});
  EXPECT_EQ(long_value.exit_code, 0) << long_value.err;
  EXPECT_EQ(long_value.out, "5000\n\n(1 rows affected)\n");
  RunResult undefined = Run({"sql", "-Q", "SELECT '$(nosuch)'"});
  EXPECT_EQ(undefined.exit_code, 1);
  EXPECT_EQ(undefined.out, "");
  EXPECT_EQ(undefined.err, "tessera-sandbox: 'nosuch' scripting variable not defined\n");
}

TEST_F(SandboxCommandTest, OutputFileTakesResultsAndMessages) {
  MakeDefault();
  fs::path out = dir_ / "out.txt";
  RunResult run = Run({"sql", "-o", out.string(), "-Q", "PRINT 'hi' SELECT * FROM nosuch"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(out),
            "hi\nMsg 208, Level 16, State 1, Line 1\nInvalid object name 'nosuch'.\n");
  RunResult folder = Run({"sql", "-o", dir_.string(), "-Q", "SELECT 1"});
  EXPECT_EQ(folder.exit_code, 1);
  EXPECT_TRUE(Contains(folder.err, "cannot be written")) << folder.err;
}

TEST_F(SandboxCommandTest, AsConnectsAsAWindowsAccountOfTheInstance) {
  MakeDefault();
  RunResult grant = Sql("EXEC sp_grantlogin 'SANDBOX\\maria' EXEC sp_denylogin 'SANDBOX\\former'");
  ASSERT_EQ(grant.exit_code, 0) << grant.err;
  RunResult maria = Run({"sql", "--as", "sandbox\\maria", "-h", "-1", "-W", "-Q",
                         "SELECT SUSER_SNAME(), IS_SRVROLEMEMBER('sysadmin')"});
  EXPECT_EQ(maria.exit_code, 0) << maria.err;
  EXPECT_EQ(maria.out, "SANDBOX\\maria 0\n\n(1 rows affected)\n");
  // The local account through --as is the local account: sysadmin.
  RunResult self = Run({"sql", "--as", "SANDBOX\\" + LocalUser(), "-h", "-1", "-W", "-Q",
                        "SELECT IS_SRVROLEMEMBER('sysadmin')"});
  EXPECT_EQ(self.out, "1\n\n(1 rows affected)\n") << self.err;
  for (const std::string& account :
       {std::string("SANDBOX\\nobody"), std::string("SANDBOX\\former")}) {
    RunResult refused = Run({"sql", "--as", account, "-Q", "SELECT 1"});
    EXPECT_EQ(refused.exit_code, 1) << account;
    EXPECT_EQ(refused.err,
              "Msg 18456, Level 14, State 1, Line 1\nLogin failed for user '" + account + "'.\n");
  }
  RunResult elsewhere = Run({"sql", "--as", "OTHERPC\\maria", "-Q", "SELECT 1"});
  EXPECT_EQ(elsewhere.exit_code, 1);
  EXPECT_TRUE(Contains(elsewhere.err, "no account of the instance's machine SANDBOX"))
      << elsewhere.err;
  RunResult hostile = Run({"sql", "--as", "SANDBOX\\x'];--", "-Q", "SELECT 1"});
  EXPECT_EQ(hostile.exit_code, 1);
  EXPECT_TRUE(Contains(hostile.err, "Login failed for user 'SANDBOX\\x'];--'")) << hostile.err;
}

TEST_F(SandboxCommandTest, DropRemovesOnlyWhatNoProgramHasOpen) {
  ASSERT_EQ(Run({"init", "--name", "Gone"}).exit_code, 0);
  ASSERT_EQ(Run({"init", "--name", "Kept"}).exit_code, 0);
  RunResult asked = Run({"drop", "GONE"});
  EXPECT_EQ(asked.exit_code, 1);
  EXPECT_TRUE(Contains(asked.err, "is asked on a terminal; give --yes")) << asked.err;
  EXPECT_TRUE(fs::exists(root_ / "GONE"));
  RunResult dropped = Run({"drop", "(sandbox)\\Gone", "--yes"});
  EXPECT_EQ(dropped.exit_code, 0) << dropped.err;
  EXPECT_EQ(dropped.out, "Removed the sandbox instance (sandbox)\\GONE from " +
                             (root_ / "GONE").string() + ".\n");
  EXPECT_FALSE(fs::exists(root_ / "GONE"));
  RunResult again = Run({"drop", "GONE", "--yes"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_TRUE(Contains(again.err, "there is no sandbox instance (sandbox)\\GONE")) << again.err;

  // A program that has the instance open (its serve, a prompt) keeps it.
  auto start_holder = [&](std::vector<std::string> args, int* input) {
    int pipe_fds[2];
    EXPECT_EQ(::pipe(pipe_fds), 0);
    args.insert(args.begin(), {TESSERA_SANDBOX, "--root", root_.string()});
    pid_t child = ::fork();
    if (child == 0) {
      ::dup2(pipe_fds[0], STDIN_FILENO);
      ::close(pipe_fds[1]);
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(TESSERA_SANDBOX, argv.data());
      ::_exit(127);
    }
    ::close(pipe_fds[0]);
    *input = pipe_fds[1];
    bool held = false;
    for (int i = 0; i < 200 && !held; ++i) {
      for (const sandbox_cli::Holder& holder : sandbox_cli::ProcessesHolding(root_ / "KEPT"))
        held = held || holder.pid == child;
      if (!held) ::usleep(50'000);
    }
    EXPECT_TRUE(held) << args[3] << " did not open the instance";
    return child;
  };
  int serve_input = -1;
  pid_t serve = start_holder({"serve", "KEPT", "--port", "0", "--no-browser"}, &serve_input);
  RunResult served = Run({"drop", "KEPT", "--yes"});
  EXPECT_EQ(served.exit_code, 1);
  EXPECT_TRUE(Contains(
      served.err, "is in use by process " + std::to_string(serve) + " (tessera-sandbox --root"))
      << served.err;
  EXPECT_TRUE(Contains(served.err, "serve KEPT")) << served.err;
  ::kill(serve, SIGTERM);
  int serve_status = 0;
  ::waitpid(serve, &serve_status, 0);
  ::close(serve_input);

  // A prompt keeps it until --force.
  int input[2];
  pid_t prompt = start_holder({"sql", "-S", "KEPT"}, &input[1]);
  RunResult busy = Run({"drop", "KEPT", "--yes"});
  EXPECT_EQ(busy.exit_code, 1);
  EXPECT_TRUE(Contains(busy.err, "is in use by process " + std::to_string(prompt))) << busy.err;
  EXPECT_TRUE(Contains(busy.err, "sql -S KEPT")) << busy.err;
  EXPECT_TRUE(fs::exists(root_ / "KEPT" / "instance.conf"));
  RunResult forced = Run({"drop", "KEPT", "--yes", "--force"});
  EXPECT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_FALSE(fs::exists(root_ / "KEPT"));
  // The prompt's session ended with the stop: its next batch fails.
  const std::string batch = "SELECT 1\nGO\n";
  EXPECT_EQ(::write(input[1], batch.data(), batch.size()), static_cast<ssize_t>(batch.size()));
  ::close(input[1]);
  int status = 0;
  ::waitpid(prompt, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  RunResult list = Run({"list"});
  EXPECT_TRUE(Contains(list.out, "No sandbox instances")) << list.out;
}

// The prompt on a terminal: what was typed is kept for the next session, which recalls it with
// the keys of line editing.
TEST_F(SandboxCommandTest, ThePromptOnATerminalKeepsAHistory) {
  MakeDefault();
  const fs::path state = dir_ / "state";
  auto on_terminal = [&](const std::string& typed) {
    RunResult result;
    int terminal = -1;
    pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
      ::setenv("XDG_STATE_HOME", state.c_str(), 1);
      ::setenv("INPUTRC", "/dev/null", 1);
      ::setenv("TERM", "dumb", 1);
      ::execl(TESSERA_SANDBOX, TESSERA_SANDBOX, "--root", root_.c_str(), "sql", "-h", "-1",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (child < 0) return result;
    bool typed_yet = false;
    char buffer[4096];
    while (true) {
      pollfd ready{terminal, POLLIN, 0};
      if (::poll(&ready, 1, 60000) == 0) {
        ADD_FAILURE() << "no output for a minute:\n" << result.out;
        ::kill(child, SIGKILL);
        break;
      }
      ssize_t n = ::read(terminal, buffer, sizeof buffer);
      if (n > 0) {
        result.out.append(buffer, static_cast<size_t>(n));
        // Typed once the prompt is there, so the line editor reads every key.
        if (!typed_yet && Contains(result.out, "1> ")) {
          typed_yet = true;
          EXPECT_EQ(::write(terminal, typed.data(), typed.size()),
                    static_cast<ssize_t>(typed.size()));
        }
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  };
  RunResult first = on_terminal("SELECT 6 * 7 AS answer\rGO\rquit\r");
  EXPECT_EQ(first.exit_code, 0) << first.out;
  EXPECT_TRUE(Contains(first.out, "42")) << first.out;
  const fs::path history = state / "tessera-server-manager" / "sql_history";
  std::string kept = ReadFile(history);
  // (libedit writes blanks as \040.)
  EXPECT_TRUE(Contains(kept, "answer\n")) << kept;
  EXPECT_EQ(fs::status(history).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // Ctrl-P three times goes back past quit and GO to the query; Ctrl-A and text edit it.
  RunResult second = on_terminal("\x10\x10\x10\x01PRINT 'edited' \rGO\rquit\r");
  EXPECT_EQ(second.exit_code, 0) << second.out;
  EXPECT_TRUE(Contains(second.out, "edited")) << second.out;
  EXPECT_TRUE(Contains(second.out, "42")) << second.out;
  kept = ReadFile(history);
  EXPECT_TRUE(Contains(kept, "'edited'")) << kept;
  EXPECT_TRUE(Contains(kept, "answer\n")) << kept;
}

TEST_F(SandboxCommandTest, HelpDbListsTheDatabases) {
  MakeDefault();
  RunResult run = Sql("EXEC sp_helpdb");
  if (Contains(run.err, "Msg 2812")) GTEST_SKIP() << "the server has no sp_helpdb yet";
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("name", 0), 0u) << run.out;
  for (const char* db : {"\nmaster ", "\nmodel ", "\nmsdb ", "\ntempdb "})
    EXPECT_TRUE(Contains(run.out, db)) << db << "\n" << run.out;
  EXPECT_TRUE(Contains(run.out, "(4 rows affected)")) << run.out;
}

}  // namespace
