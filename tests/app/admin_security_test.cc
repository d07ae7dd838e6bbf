// tessera-admin's login, user and owner commands as a process against the demonstration server:
// what a new administrator does, the refusals of a login without roles, and hostile input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/admin_cli/commands.h"
#include "app/admin_process.h"
#include "common/messages.h"
#include "platform/terminal_user_interface.h"

namespace {

using admin_testing::AdminProcessTest;
using admin_testing::LinesStartingWith;
using admin_testing::RunResult;
using admin_testing::ShellQuote;

constexpr char kDemo[] = "(sandbox)\\DEMO";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The statements of a --trace-sql run that change something.
std::vector<std::string> Changes(const std::string& err) {
  std::vector<std::string> out;
  for (const std::string& line : LinesStartingWith(err, "[")) {
    std::string text = line.substr(line.find("] ") + 2);
    if (text.rfind("SELECT", 0) == 0 || text.rfind("SET ", 0) == 0 || Contains(text, "sp_help") ||
        Contains(text, "xp_"))
      continue;
    out.push_back(text);
  }
  return out;
}

class AdminSecurityTest : public AdminProcessTest {
 protected:
  void SetUp() override {
    AdminProcessTest::SetUp();
    RunResult demo = Run({"demo"});
    ASSERT_EQ(demo.exit_code, 0) << demo.out << demo.err;
  }
  // A query through tessera-sandbox sql on the demonstration instance.
  RunResult Sql(const std::vector<std::string>& login_args, const std::string& query) {
    std::string command = "TESSERA_SANDBOX_ROOT=" + ShellQuote((root_ / "sandbox").string()) + " " +
                          ShellQuote(TESSERA_SANDBOX) + " sql -S " + ShellQuote(kDemo);
    for (const std::string& arg : login_args) command += " " + ShellQuote(arg);
    command += " -Q " + ShellQuote(query) + " </dev/null 2>&1";
    RunResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    int status = ::pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }
  std::string AsSa(const std::string& query) { return Sql({"-E"}, query).out; }
  std::string PasswordFile(const std::string& password) {
    std::string path = (root_ / "password.txt").string();
    std::ofstream(path, std::ios::binary) << password << "\n";
    return path;
  }
};

TEST_F(AdminSecurityTest, ANewAdministratorsDay) {
  // A SQL Server login with two collections: the four statements per collection, in order.
  RunResult added =
      Run({"--trace-sql", "login", "add", "1", "clerk", "--sql", "--password-file",
           PasswordFile("first"), "--collection", "Archive", "--collection", "Projects"});
  ASSERT_EQ(added.exit_code, 0) << added.out << added.err;
  EXPECT_EQ(Changes(added.err), (std::vector<std::string>{
                                    "EXEC master..sp_addlogin 'clerk', '***'",
                                    "EXEC sp_grantdbaccess 'clerk', 'clerk'",
                                    "EXEC sp_addrolemember 'qa_reader', 'clerk'",
                                    "EXEC sp_addrolemember 'qa_writer', 'clerk'",
                                    "EXEC sp_addrolemember 'qa_structurer', 'clerk'",
                                    "EXEC sp_grantdbaccess 'clerk', 'clerk'",
                                    "EXEC sp_addrolemember 'qa_reader', 'clerk'",
                                    "EXEC sp_addrolemember 'qa_writer', 'clerk'",
                                    "EXEC sp_addrolemember 'qa_structurer', 'clerk'",
                                }));
  EXPECT_FALSE(Contains(added.err, "first"));
  EXPECT_TRUE(Contains(added.out, "The user 'clerk' has been added."));

  // A Windows login denied, then granted, then given server roles.
  RunResult denied =
      Run({"--trace-sql", "login", "add", "1", "SANDBOX\\anna", "--windows", "--deny"});
  ASSERT_EQ(denied.exit_code, 0) << denied.err;
  EXPECT_EQ(Changes(denied.err),
            std::vector<std::string>{"EXEC master..sp_denylogin 'SANDBOX\\anna'"});
  RunResult granted = Run({"--trace-sql", "login", "set", "1", "SANDBOX\\anna", "--grant", "--role",
                           "+dbcreator", "--role", "+securityadmin"});
  ASSERT_EQ(granted.exit_code, 0) << granted.err;
  EXPECT_EQ(
      Changes(granted.err),
      (std::vector<std::string>{"EXEC master..sp_grantlogin 'SANDBOX\\anna'",
                                "EXEC master..sp_addsrvrolemember 'SANDBOX\\anna', 'securityadmin'",
                                "EXEC master..sp_addsrvrolemember 'SANDBOX\\anna', 'dbcreator'"}));
  RunResult shown = Ok({"login", "properties", "1", "SANDBOX\\anna"});
  EXPECT_TRUE(Contains(shown.out, "Authentication: Windows\nAccess: Grant\n")) << shown.out;
  EXPECT_TRUE(Contains(shown.out, "[x] Database Creator (dbcreator)")) << shown.out;

  // A collection user's roles.
  RunResult roles =
      Run({"--trace-sql", "user", "set", "1", "Archive", "clerk", "--role", "-qa_writer"});
  ASSERT_EQ(roles.exit_code, 0) << roles.err;
  EXPECT_EQ(Changes(roles.err),
            (std::vector<std::string>{"EXEC sp_droprolemember 'qa_writer', 'clerk'",
                                      "EXEC sp_droprolemember 'qa_structurer', 'clerk'"}));
  EXPECT_TRUE(Contains(Ok({"user", "properties", "1", "Archive", "clerk"}).out,
                       "[x] Read permission (qa_reader)\n  [ ] Write permission (qa_writer)"));

  // The owner: a login that already is a user of the collection is revoked first.
  RunResult owner = Run({"--trace-sql", "collection", "owner", "1", "Archive", "clerk"});
  ASSERT_EQ(owner.exit_code, 0) << owner.err;
  EXPECT_EQ(Changes(owner.err),
            (std::vector<std::string>{"EXEC sp_revokedbaccess 'clerk'", "USE Quillarchive_Archive",
                                      "sp_changedbowner 'clerk'"}));
  EXPECT_TRUE(Contains(AsSa("SELECT SUSER_SNAME(sid) FROM master..sysdatabases WHERE name = "
                            "'Quillarchive_Archive'"),
                       "clerk"));

  // A new password, then a login with it.
  RunResult password = Run(
      {"--trace-sql", "login", "set", "1", "clerk", "--password-file", PasswordFile("s3cond; 'x")});
  ASSERT_EQ(password.exit_code, 0) << password.err;
  EXPECT_EQ(Changes(password.err),
            std::vector<std::string>{
                "EXEC master..sp_password @old=NULL, @new='***' , @loginame='clerk'"});
  EXPECT_EQ(Sql({"-U", "clerk", "-P", "s3cond; 'x"}, "SELECT SUSER_SNAME()").exit_code, 0);
  EXPECT_NE(Sql({"-U", "clerk", "-P", "first"}, "SELECT 1").exit_code, 0);
}

TEST_F(AdminSecurityTest, TheReaderIsRefusedEveryCommandAndNothingChanges) {
  Ok({"server", "add", kDemo, "--login", "reader", "--password", "tessera"});
  struct Refusal {
    std::vector<std::string> args;
    int message;
    std::vector<std::string> values;
  };
  const std::vector<Refusal> refusals = {
      {{"login", "add", "2", "x", "--sql", "--password", "p"}, 49, {kDemo}},
      {{"login", "add", "2", "SANDBOX\\x", "--windows"}, 49, {kDemo}},
      {{"login", "set", "2", "creator", "--role", "+sysadmin"}, 119, {}},
      {{"login", "set", "2", "reader", "--password-file", "/dev/null"}, 119, {}},
      {{"user", "add", "2", "Archive", "creator"}, 53, {"Archive"}},
      {{"user", "set", "2", "Archive", "reader", "--role", "+db_owner"}, 243, {}},
      {{"collection", "owner", "2", "Archive", "reader"}, 40, {}},
  };
  for (const Refusal& refusal : refusals) {
    std::vector<std::string> args = refusal.args;
    args.insert(args.begin(), "--trace-sql");
    RunResult run = Run(args);
    SCOPED_TRACE(args[1] + " " + args[2]);
    EXPECT_EQ(run.exit_code, 1);
    std::vector<common::Value> values(refusal.values.begin(), refusal.values.end());
    EXPECT_TRUE(
        Contains(run.err, platform::TerminalSafe(common::FormatMessage(refusal.message, values))))
        << run.err;
    EXPECT_EQ(Changes(run.err), std::vector<std::string>{}) << run.err;
  }
  EXPECT_TRUE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\nreader\tStandard\tGrant\n"));
  EXPECT_FALSE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\nx\t"));
}

TEST_F(AdminSecurityTest, HostileNamesAndPasswordsAreDataOrARefusal) {
  const std::string long_password(128, 'p');
  struct Case {
    std::string name;
    std::string password;
  };
  for (const Case& c : std::vector<Case>{{"O'Brien", "a'b"},
                                         {"x]; DROP DATABASE Quillarchive_Archive --", "; --"},
                                         {"Zoë ünïcode", "pässwörd"},
                                         {"long", long_password}}) {
    SCOPED_TRACE(c.name);
    RunResult added = Run({"--trace-sql", "login", "add", "1", c.name, "--sql", "--password-file",
                           PasswordFile(c.password), "--collection", "Projects"});
    ASSERT_EQ(added.exit_code, 0) << added.err;
    EXPECT_EQ(Sql({"-U", c.name, "-P", c.password}, "SELECT 1").exit_code, 0);
    EXPECT_TRUE(Contains(Ok({"--tsv", "user", "list", "1", "Projects"}).out, "\n" + c.name + "\t"));
  }
  EXPECT_TRUE(Contains(Ok({"--tsv", "collection", "list", "1"}).out, "\nArchive\t"));

  // 129 characters are refused before anything is sent: by the wizard and by the password
  // dialog.
  RunResult too_long = Run({"--trace-sql", "login", "add", "1", "toolong", "--sql",
                            "--password-file", PasswordFile(std::string(129, 'p'))});
  EXPECT_EQ(too_long.exit_code, 1);
  EXPECT_TRUE(Contains(too_long.err, common::LoadMessage(168))) << too_long.err;
  EXPECT_EQ(Changes(too_long.err), std::vector<std::string>{});
  RunResult set_long = Run({"--trace-sql", "login", "set", "1", "long", "--password-file",
                            PasswordFile(std::string(129, 'q'))});
  EXPECT_EQ(set_long.exit_code, 1);
  EXPECT_TRUE(Contains(set_long.err, common::LoadMessage(168))) << set_long.err;
  EXPECT_EQ(Changes(set_long.err), std::vector<std::string>{});

  // Unknown names are refused by the server, and said so.
  RunResult ghost = Run({"login", "add", "1", "GHOST\\nobody", "--windows"});
  EXPECT_EQ(ghost.exit_code, 1);
  EXPECT_TRUE(Contains(ghost.err, "Windows NT user or group 'GHOST\\nobody' not found."))
      << ghost.err;
  EXPECT_EQ(Run({"login", "properties", "1", "nobody'; --"}).exit_code, 1);
  EXPECT_EQ(Run({"collection", "owner", "1", "Archive", "nobody'; --"}).exit_code, 1);
  // Without a terminal a password is never asked for.
  RunResult unasked = Run({"login", "add", "1", "quiet", "--sql"});
  EXPECT_EQ(unasked.exit_code, 1);
  EXPECT_TRUE(Contains(unasked.err, "a password is needed")) << unasked.err;
}

TEST_F(AdminSecurityTest, APasswordLeftOutIsAskedTwice) {
  ::setenv("TESSERA_SANDBOX_ROOT", (root_ / "sandbox").c_str(), 1);
  ::setenv("TESSERA_REGISTRY", (root_ / "registry.db").c_str(), 1);
  struct Outcome {
    int code;
    std::string err;
    int asked;
  };
  auto run = [](const std::vector<std::string>& args, std::vector<std::string> typed) {
    std::istringstream in;
    std::ostringstream out, err;
    size_t asked = 0;
    int code =
        admin_cli::RunAdmin(args, admin_cli::Io{in, out, err}, [&]() -> std::optional<std::string> {
          if (asked >= typed.size()) return std::nullopt;
          return typed[asked++];
        });
    return Outcome{code, err.str(), static_cast<int>(asked)};
  };
  Outcome differ = run({"login", "add", "1", "typist", "--sql"}, {"one", "two"});
  EXPECT_EQ(differ.code, 1);
  EXPECT_EQ(differ.asked, 2);
  EXPECT_TRUE(Contains(differ.err, platform::TerminalSafe(common::LoadMessage(167)))) << differ.err;
  Outcome same = run({"--trace-sql", "login", "add", "1", "typist", "--sql"}, {"tw'ce", "tw'ce"});
  EXPECT_EQ(same.code, 0) << same.err;
  EXPECT_EQ(Changes(same.err),
            std::vector<std::string>{"EXEC master..sp_addlogin 'typist', '***'"});
  Outcome changed = run({"login", "set", "1", "typist", "--password"}, {"n3w", "n3w"});
  EXPECT_EQ(changed.code, 0) << changed.err;
  ::unsetenv("TESSERA_SANDBOX_ROOT");
  ::unsetenv("TESSERA_REGISTRY");
  EXPECT_EQ(Sql({"-U", "typist", "-P", "n3w"}, "SELECT 1").exit_code, 0);
}

TEST_F(AdminSecurityTest, HelpDescribesTheVerbs) {
  std::string login = Ok({"login", "--help"}).out;
  for (const char* verb : {"add", "properties", "set", "list", "remove"})
    EXPECT_TRUE(Contains(login, std::string("  ") + verb + " ")) << login;
  EXPECT_TRUE(Contains(Ok({"login", "add", "--help"}).out, "--password-file F"));
  EXPECT_TRUE(Contains(Ok({"collection", "--help"}).out, "owner SERVER COLLECTION LOGIN"));
  EXPECT_EQ(Run({"login", "add", "1", "x"}).exit_code, 2);
}

}  // namespace
