// What the server says about itself and its sessions: sp_who and KILL, xp_msver,
// xp_loginconfig, @@VERSION and SERVERPROPERTY per configured version, xp_fixeddrives and
// xp_dirtree on the machine's drives.
#include <filesystem>
#include <fstream>
#include <map>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;
namespace fs = std::filesystem;

class ServerProceduresTest : public SandboxTest {
 protected:
  std::shared_ptr<Instance> MakeInstance(const std::string& name, const std::string& version,
                                         LoginMode mode = LoginMode::kMixed) {
    InstanceConfig config;
    config.product_version = version;
    config.login_mode = mode;
    return host_->Create(name, config);
  }

  std::unique_ptr<Session> Sa(Instance& instance) {
    LoginRequest request;
    request.integrated = true;
    request.os_user = "admin";
    return instance.Connect(request);
  }

  static std::string Trimmed(const Value& value) {
    std::string text = value.ToText();
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
};

// --- sessions ----------------------------------------------------------------------------

TEST_F(ServerProceduresTest, WhoListsTheSessionsWithTheirDatabases) {
  Ok("CREATE DATABASE Work");
  auto worker = Connect("Work");
  RowSet who = Query("EXEC sp_who");
  EXPECT_EQ(ColumnNames(who), (std::vector<std::string>{"spid", "ecid", "status", "loginame",
                                                        "hostname", "blk", "dbname", "cmd"}));
  const std::vector<Value>* mine = nullptr;
  const std::vector<Value>* theirs = nullptr;
  int system_rows = 0;
  for (const auto& row : who.rows) {
    if (row[0] == Value(session_->spid())) mine = &row;
    if (row[0] == Value(worker->spid())) theirs = &row;
    if (row[0].ToInt().value_or(99) < 51) ++system_rows;
  }
  EXPECT_GT(system_rows, 0);
  ASSERT_NE(mine, nullptr);
  ASSERT_NE(theirs, nullptr);
  EXPECT_EQ(Trimmed((*mine)[2]), "runnable");
  EXPECT_EQ((*mine)[3], Value("sa"));
  EXPECT_EQ(Trimmed((*mine)[4]), "TESTHOST");
  EXPECT_EQ(Trimmed((*mine)[5]), "0");
  EXPECT_EQ((*mine)[6], Value("master"));
  EXPECT_EQ(Trimmed((*theirs)[2]), "sleeping");
  EXPECT_EQ((*theirs)[6], Value("Work"));
  EXPECT_EQ(Trimmed((*theirs)[7]), "AWAITING COMMAND");

  // master..sp_who called from inside a database still names that database.
  RowSet from_work = Query(*worker, "EXEC master..sp_who " + std::to_string(worker->spid()));
  ASSERT_EQ(from_work.rows.size(), 1u);
  EXPECT_EQ(from_work.rows[0][6], Value("Work"));

  EXPECT_EQ(Query("EXEC sp_who 'sa'").rows.size(), who.rows.size());
  EXPECT_EQ(Query("EXEC sp_who @loginame = 'SA'").rows.size(), who.rows.size());
  RowSet active = Query("EXEC sp_who 'active'");
  for (const auto& row : active.rows) EXPECT_NE(row[0], Value(worker->spid()));
  Ok("EXEC sp_addlogin 'idle', 'pw'");
  EXPECT_EQ(Query("EXEC sp_who 'idle'").rows.size(), 0u);
  EXPECT_EQ(Failure("EXEC sp_who 'nobody'"), "15007: The login 'nobody' does not exist.");
  EXPECT_EQ(Run("EXEC sp_who 'x''; DROP DATABASE Work --'").FirstError(), 15007);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name = 'Work'"), Value(1));
}

TEST_F(ServerProceduresTest, KillEndsAnotherSessionAsABrokenConnection) {
  Ok("CREATE DATABASE Work");
  auto victim = Connect("Work");
  int spid = victim->spid();
  Ok("KILL " + std::to_string(spid));
  try {
    Run(*victim, "SELECT 1");
    ADD_FAILURE() << "a killed session ran a statement";
  } catch (const SessionError& e) {
    EXPECT_EQ(e.kind(), SessionError::Kind::kBroken);
  }
  for (const auto& row : Query("EXEC sp_who").rows) EXPECT_NE(row[0], Value(spid));
  // With its only user gone the database can go too.
  Ok("DROP DATABASE Work");

  EXPECT_EQ(Failure("KILL " + std::to_string(session_->spid())),
            "6104: Cannot use KILL to kill your own process.");
  EXPECT_EQ(Run("KILL 3").FirstError(), 6107);
  EXPECT_EQ(Run("KILL 999").FirstError(), 6106);
  EXPECT_EQ(Run("KILL " + std::to_string(spid)).FirstError(), 6106);

  Ok("EXEC sp_addlogin 'plain', 'pw'");
  LoginRequest plain;
  plain.login = "plain";
  plain.password = "pw";
  auto session = instance_->Connect(plain);
  auto target = Connect();
  EXPECT_EQ(Run(*session, "KILL " + std::to_string(target->spid())).FirstError(), 6102);
  EXPECT_NO_THROW(Run(*target, "SELECT 1"));
}

TEST_F(ServerProceduresTest, KillRollsBackTheVictimsTransaction) {
  Ok("CREATE DATABASE Work");
  Ok("CREATE TABLE Work..t (a INT)");
  auto victim = Connect("Work");
  Ok(*victim, "BEGIN TRAN INSERT INTO t VALUES (1)");
  Ok("KILL " + std::to_string(victim->spid()));
  // Its locks are gone with it: others write at once, and its change is undone.
  CollectingSink sink = Run("INSERT INTO Work..t VALUES (2)");
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(Scalar("SELECT SUM(a) FROM Work..t"), Value(2));
  EXPECT_THROW(Run(*victim, "COMMIT"), SessionError);
  EXPECT_EQ(Scalar("SELECT SUM(a) FROM Work..t"), Value(2));
}

// --- version and configuration -----------------------------------------------------------

TEST_F(ServerProceduresTest, MsverReportsTheConfiguredVersion) {
  RowSet all = Query("EXEC master..xp_msver");
  EXPECT_EQ(ColumnNames(all),
            (std::vector<std::string>{"Index", "Name", "Internal_Value", "Character_Value"}));
  ASSERT_GE(all.rows.size(), 19u);
  EXPECT_EQ(all.rows[0][1], Value("ProductName"));
  EXPECT_EQ(all.rows[0][3], Value("Microsoft SQL Server"));
  std::map<std::string, std::vector<Value>> by_name;
  for (const auto& row : all.rows) by_name[row[1].ToText()] = row;
  EXPECT_EQ(by_name["ProductVersion"][2], Value(524288));
  EXPECT_EQ(by_name["ProductVersion"][3], Value("8.00.2039"));
  EXPECT_EQ(by_name["Platform"][3], Value("NT INTEL X86"));
  EXPECT_EQ(by_name["FileVersion"][3], Value("2000.080.2039.00"));

  RowSet one = Query("EXEC master..xp_msver 'productversion'");
  ASSERT_EQ(one.rows.size(), 1u);
  EXPECT_EQ(one.rows[0][3], Value("8.00.2039"));
  EXPECT_EQ(Query("EXEC master..xp_msver 'Platform', 'ProductName'").rows.size(), 2u);
  EXPECT_EQ(Query("EXEC master..xp_msver 'Nothing'").rows.size(), 0u);
  EXPECT_EQ(Query("EXEC master..xp_msver 'x''; SHUTDOWN --'").rows.size(), 0u);

  auto session = SessionOn("7.00.1063");
  RowSet old = Query(*session, "EXEC master..xp_msver 'ProductVersion'");
  EXPECT_EQ(old.rows.at(0)[2], Value(458752));
  EXPECT_EQ(old.rows.at(0)[3], Value("7.00.1063"));
}

TEST_F(ServerProceduresTest, VersionTextFollowsTheProductVersion) {
  auto lines = [](const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      out.push_back(text.substr(start, end - start));
    return out;
  };
  std::vector<std::string> v2000 = lines(Scalar("SELECT @@VERSION").ToText());
  ASSERT_EQ(v2000.size(), 4u);
  EXPECT_EQ(v2000[0], "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) ");
  EXPECT_EQ(v2000[2], "\tCopyright (c) 1988-2003 Microsoft Corporation");
  EXPECT_TRUE(v2000[3].starts_with("\tDeveloper Edition on Windows NT ")) << v2000[3];

  auto session = SessionOn("7.00.1063");
  std::vector<std::string> v7 =
      lines(Query(*session, "SELECT @@VERSION").rows.at(0).at(0).ToText());
  ASSERT_EQ(v7.size(), 4u);
  EXPECT_EQ(v7[0], "Microsoft SQL Server  7.00 - 7.00.1063 (Intel X86) ");

  session = SessionOn("9.00.1399.06");
  std::vector<std::string> v9 =
      lines(Query(*session, "SELECT @@VERSION").rows.at(0).at(0).ToText());
  ASSERT_EQ(v9.size(), 4u);
  EXPECT_EQ(v9[0], "Microsoft SQL Server 2005 - 9.00.1399.06 (Intel X86) ");
  EXPECT_EQ(Query(*session, "SELECT SERVERPROPERTY('ProductVersion')").rows.at(0).at(0),
            Value("9.00.1399.06"));

  // A version text configured for the instance is given as it is.
  InstanceConfig custom;
  custom.version_text = "Microsoft SQL Server  2000 - 8.00.760 (Intel X86) \n\tline two\n";
  auto configured = host_->Create("CUSTOM", custom);
  session = Sa(*configured);
  EXPECT_EQ(Query(*session, "SELECT @@VERSION").rows.at(0).at(0), Value(custom.version_text));
}

TEST_F(ServerProceduresTest, ServerNamesAndProperties) {
  EXPECT_EQ(Scalar("SELECT @@SERVERNAME"), Value("SANDBOX"));
  EXPECT_EQ(Scalar("SELECT SERVERPROPERTY('ServerName')"), Value("SANDBOX"));
  EXPECT_EQ(Scalar("SELECT SERVERPROPERTY('MachineName')"), Value("SANDBOX"));
  EXPECT_EQ(Scalar("SELECT SERVERPROPERTY('InstanceName')"), Value());
  EXPECT_EQ(Scalar("SELECT SERVERPROPERTY('Edition')"), Value("Developer Edition"));
  auto named = MakeInstance("Named", "8.00.2039");
  auto session = Sa(*named);
  EXPECT_EQ(Query(*session, "SELECT @@SERVERNAME").rows.at(0).at(0), Value("SANDBOX\\NAMED"));
  EXPECT_EQ(Query(*session, "SELECT SERVERPROPERTY('InstanceName')").rows.at(0).at(0),
            Value("NAMED"));
}

TEST_F(ServerProceduresTest, LoginConfigNamesTheLoginMode) {
  RowSet mixed = Query("EXEC master..xp_loginconfig 'login mode'");
  EXPECT_EQ(ColumnNames(mixed), (std::vector<std::string>{"name", "config_value"}));
  ASSERT_EQ(mixed.rows.size(), 1u);
  EXPECT_EQ(mixed.rows[0][0], Value("login mode"));
  EXPECT_EQ(mixed.rows[0][1], Value("Mixed"));
  EXPECT_GT(Query("EXEC master..xp_loginconfig").rows.size(), 1u);

  auto windows = MakeInstance("WINONLY", "8.00.2039", LoginMode::kWindowsOnly);
  auto session = Sa(*windows);
  EXPECT_EQ(Query(*session, "EXEC master..xp_loginconfig 'login mode'").rows.at(0).at(1),
            Value("Windows NT Authentication"));
  auto standard = MakeInstance("SQLONLY", "7.00.1063", LoginMode::kSqlOnly);
  LoginRequest sa;
  sa.login = "sa";
  session = standard->Connect(sa);
  EXPECT_EQ(Query(*session, "EXEC master..xp_loginconfig 'LOGIN MODE'").rows.at(0).at(1),
            Value("Standard"));

  EXPECT_EQ(Run("EXEC master..xp_loginconfig 'no such setting'").FirstError(), 50000);
  EXPECT_NE(Run("EXEC master..xp_loginconfig 'login mode', 'two'").FirstError(), 0);
}

// --- drives and folders ------------------------------------------------------------------

TEST_F(ServerProceduresTest, FixedDrivesAreTheMachinesDriveFolders) {
  RowSet drives = Query("EXEC master..xp_fixeddrives");
  EXPECT_EQ(ColumnNames(drives), (std::vector<std::string>{"drive", "MB free"}));
  ASSERT_EQ(drives.rows.size(), 1u);
  EXPECT_EQ(drives.rows[0][0], Value("C"));
  EXPECT_GE(drives.rows[0][1].ToInt().value_or(-1), 0);
  fs::create_directories(instance_->directory() / "drives" / "D");
  drives = Query("EXEC master..xp_fixeddrives");
  ASSERT_EQ(drives.rows.size(), 2u);
  EXPECT_EQ(drives.rows[1][0], Value("D"));
}

TEST_F(ServerProceduresTest, DirTreeListsFoldersAndFilesOnTheDrives) {
  fs::create_directories(instance_->MapPath("C:\\Archive\\b\\deep"));
  fs::create_directories(instance_->MapPath("C:\\Archive\\A"));
  std::ofstream(instance_->MapPath("C:\\Archive\\x.mdf")) << "x";
  std::ofstream(instance_->MapPath("C:\\Archive\\b\\y.ldf")) << "y";
  // The storage engine's companions of a database file are not listed; a file merely named so is.
  std::ofstream(instance_->MapPath("C:\\Archive\\x.mdf-wal")) << "w";
  std::ofstream(instance_->MapPath("C:\\Archive\\x.mdf-shm")) << "s";
  std::ofstream(instance_->MapPath("C:\\Archive\\b\\lone-wal")) << "l";

  RowSet folders = Query("EXEC master..xp_dirtree 'C:\\Archive', 1, 0");
  EXPECT_EQ(ColumnNames(folders), (std::vector<std::string>{"subdirectory", "depth"}));
  ASSERT_EQ(folders.rows.size(), 2u);
  EXPECT_EQ(folders.rows[0][0], Value("A"));
  EXPECT_EQ(folders.rows[1][0], Value("b"));
  EXPECT_EQ(folders.rows[1][1], Value(1));

  RowSet files = Query("EXEC master..xp_dirtree 'c:\\archive\\', 1, 1");
  EXPECT_EQ(ColumnNames(files), (std::vector<std::string>{"subdirectory", "depth", "file"}));
  ASSERT_EQ(files.rows.size(), 3u);
  EXPECT_EQ(files.rows[2][0], Value("x.mdf"));
  EXPECT_EQ(files.rows[2][2], Value(1));
  EXPECT_EQ(files.rows[0][2], Value(0));

  // Every level, each folder followed by what it holds.
  RowSet tree = Query("EXEC master..xp_dirtree 'C:\\Archive', 0, 1");
  std::vector<std::string> listed;
  for (const auto& row : tree.rows) listed.push_back(row[0].ToText() + "/" + row[1].ToText());
  EXPECT_EQ(listed,
            (std::vector<std::string>{"A/1", "b/1", "deep/2", "lone-wal/2", "y.ldf/2", "x.mdf/1"}));

  EXPECT_EQ(Query("EXEC master..xp_dirtree 'C:\\Nothing', 1, 1").rows.size(), 0u);
  EXPECT_EQ(Query("EXEC master..xp_dirtree 'Q:\\', 1, 1").rows.size(), 0u);
  EXPECT_EQ(Query("EXEC master..xp_dirtree '..\\..\\etc', 1, 1").rows.size(), 0u);
  EXPECT_EQ(Query("EXEC master..xp_dirtree '\\\\server\\share', 1, 1").rows.size(), 0u);
  EXPECT_EQ(Query("EXEC master..xp_dirtree '" + std::string(3000, 'x') + "', 1, 1").rows.size(),
            0u);
  EXPECT_NE(Run("EXEC master..xp_dirtree 'C:\\', 'one', 1").FirstError(), 0);

  // ".." stops at the drive's root, and links out of the drives are not followed.
  RowSet root = Query("EXEC master..xp_dirtree 'C:\\..\\..\\..', 1, 0");
  bool archive = false;
  for (const auto& row : root.rows) archive = archive || row[0] == Value("Archive");
  EXPECT_TRUE(archive);
  fs::create_directory_symlink(root_.parent_path(), instance_->MapPath("C:\\Archive\\A") / "out");
  EXPECT_EQ(Query("EXEC master..xp_dirtree 'C:\\Archive\\A', 0, 1").rows.size(), 0u);
  EXPECT_EQ(Query("EXEC master..xp_dirtree 'C:\\Archive\\A\\out', 0, 1").rows.size(), 0u);
}

}  // namespace
}  // namespace sandbox::testing
