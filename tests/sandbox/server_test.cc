// The server around the sessions: databases and their files on the machine's drives, USE and
// three-part names, logins, the service state, time-outs and injected faults.
#include <filesystem>
#include <thread>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;
namespace fs = std::filesystem;

TEST_F(SandboxTest, CreateDatabaseMakesFilesAndDropRemovesThem) {
  Ok("CREATE DATABASE Plain");
  fs::path data =
      instance_->MapPath("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data\\Plain.mdf");
  fs::path log =
      instance_->MapPath("c:\\program files\\microsoft sql server\\mssql\\data\\Plain_log.LDF");
  EXPECT_TRUE(fs::exists(data));
  EXPECT_TRUE(fs::exists(log));
  EXPECT_GE(fs::file_size(log), 1024u * 1024u);
  EXPECT_EQ(Scalar("SELECT filename FROM master..sysdatabases WHERE name = 'plain'"),
            Value("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data\\Plain.mdf"));
  // The log grows with the changes made, once they fill the megabyte it starts with.
  auto before = fs::file_size(log);
  Ok("USE Plain CREATE TABLE t (a INT) INSERT INTO t VALUES (1) USE master");
  EXPECT_EQ(fs::file_size(log), before);
  std::string doubling = "USE Plain";
  for (int i = 0; i < 14; ++i) doubling += " INSERT INTO t SELECT a FROM t";
  Ok(doubling + " USE master");
  EXPECT_GT(fs::file_size(log), before);
  Ok("DROP DATABASE Plain");
  EXPECT_FALSE(fs::exists(data));
  EXPECT_FALSE(fs::exists(log));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master.dbo.sysdatabases WHERE name = 'Plain'"), Value(0));
}

TEST_F(SandboxTest, CreateDatabaseOnAGivenFile) {
  ASSERT_TRUE(fs::create_directories(instance_->MapPath("C:\\Archive")));
  Ok("CREATE DATABASE Named ON (NAME = Named_Data, FILENAME = 'c:\\ARCHIVE\\named.mdf')");
  EXPECT_TRUE(fs::exists(instance_->MapPath("C:\\Archive\\named.mdf")));
  EXPECT_TRUE(fs::exists(instance_->MapPath("C:\\Archive\\Named_log.LDF")));
  RowSet files = Query("USE Named SELECT fileid, name, filename FROM sysfiles ORDER BY fileid");
  ASSERT_EQ(files.rows.size(), 2u);
  EXPECT_EQ(files.rows[0][1], Value("Named_Data"));
  EXPECT_EQ(files.rows[0][2], Value("c:\\ARCHIVE\\named.mdf"));
  CollectingSink sink =
      Run("CREATE DATABASE Lost ON (NAME = Lost, FILENAME = 'C:\\No\\Such\\lost.mdf')");
  ASSERT_EQ(sink.FirstError(), 5123);
  EXPECT_EQ(sink.Errors()[0]->text,
            "CREATE FILE encountered operating system error 3(The system cannot find the path "
            "specified.) while attempting to open or create the physical file "
            "'C:\\No\\Such\\lost.mdf'.");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name = 'Lost'"), Value(0));
  EXPECT_EQ(Failure("CREATE DATABASE named"), "1801: Database 'named' already exists.");
  EXPECT_EQ(
      Run("CREATE DATABASE Again ON (NAME = a, FILENAME = 'C:\\Archive\\named.mdf')").FirstError(),
      5170);
  EXPECT_EQ(Run("BEGIN TRAN CREATE DATABASE InTran").FirstError(), 226);
}

TEST_F(SandboxTest, DetachLeavesFilesAndAttachBringsEverythingBack) {
  Ok("CREATE DATABASE Moving");
  Ok("USE Moving CREATE TABLE t (id INT IDENTITY NOT NULL PRIMARY KEY, v NVARCHAR(10)) "
     "INSERT INTO t (v) VALUES (N'kept') EXEC sp_addrole 'movers' GRANT SELECT ON t TO movers");
  Ok("CREATE PROCEDURE counts AS SELECT COUNT(*) FROM t");
  Ok("USE master");
  auto reader = Connect("Moving");
  EXPECT_EQ(Run("EXEC sp_detach_db 'Moving'").FirstError(), 3703);
  reader.reset();
  Ok("EXEC sp_detach_db @dbname = 'Moving'");
  fs::path data =
      instance_->MapPath("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data\\Moving.mdf");
  EXPECT_TRUE(fs::exists(data));
  EXPECT_FALSE(fs::exists(data.string() + "-wal"));
  EXPECT_EQ(Run("USE Moving").FirstError(), 911);
  // The files may move before they are attached again, under another name.
  ASSERT_TRUE(fs::create_directories(instance_->MapPath("C:\\Moved")));
  fs::rename(data, instance_->MapPath("C:\\Moved\\m.mdf"));
  Ok("EXEC sp_attach_db 'Arrived', 'C:\\Moved\\m.mdf'");
  Ok("USE Arrived");
  EXPECT_EQ(Scalar("SELECT v FROM t"), Value("kept"));
  EXPECT_EQ(Scalar("EXEC counts"), Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sysusers WHERE name = 'movers'"), Value(1));
  Ok("INSERT INTO t (v) VALUES (N'new')");
  EXPECT_EQ(Scalar("SELECT id FROM t WHERE v = N'new'"), Value(2));
  EXPECT_EQ(Scalar("SELECT db_name()"), Value("Arrived"));
  RowSet files = Query("SELECT filename FROM sysfiles ORDER BY fileid");
  ASSERT_EQ(files.rows.size(), 2u);
  EXPECT_EQ(files.rows[0][0], Value("C:\\Moved\\m.mdf"));
  EXPECT_TRUE(fs::exists(instance_->MapPath(*files.rows[1][0].AsText())));
  Ok("USE master");
  EXPECT_EQ(Run("EXEC sp_attach_db 'Twice', 'C:\\Moved\\m.mdf'").FirstError(), 5120);
  EXPECT_EQ(Run("EXEC sp_attach_db 'Nothing', 'C:\\Moved\\none.mdf'").FirstError(), 5120);
  Ok("CREATE DATABASE Again ON (NAME = a, FILENAME = 'C:\\Moved\\again.mdf')");
  Ok("EXEC sp_detach_db 'Again'");
  Ok("CREATE DATABASE AgainToo ON (FILENAME = 'C:\\Moved\\again.mdf') FOR ATTACH");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name = 'AgainToo'"), Value(1));
}

TEST_F(SandboxTest, AlterDatabaseOptionsAndName) {
  Ok("CREATE DATABASE Renamed");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Renamed', 'IsAutoShrink')"), Value(0));
  Ok("ALTER DATABASE Renamed SET AUTO_SHRINK ON");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Renamed', 'IsAutoShrink')"), Value(1));
  // Renaming needs the database to itself.
  auto other = Connect("Renamed");
  EXPECT_EQ(Run("ALTER DATABASE Renamed MODIFY NAME = Quillarchive_Renamed").FirstError(), 5030);
  Ok(*other, "USE master");
  Ok("ALTER DATABASE Renamed MODIFY NAME = Quillarchive_Renamed");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name = 'Quillarchive_Renamed'"),
            Value(1));
  // A session that used it before follows the new name.
  EXPECT_EQ(Query(*other, "USE Quillarchive_Renamed SELECT db_name()").rows.at(0).at(0),
            Value("Quillarchive_Renamed"));
  EXPECT_EQ(Run("USE Renamed").FirstError(), 911);
  Ok("CREATE DATABASE Taken");
  EXPECT_EQ(Run("ALTER DATABASE Taken MODIFY NAME = quillarchive_renamed").FirstError(), 1801);
  EXPECT_EQ(Run("ALTER DATABASE master MODIFY NAME = boss").FirstError(), 5030);
}

TEST_F(SandboxTest, UseSwitchesAndReportsIt) {
  Ok("CREATE DATABASE Other");
  CollectingSink sink = Run("USE other");
  EXPECT_EQ(sink.FirstError(), 0);
  ASSERT_FALSE(sink.messages.empty());
  EXPECT_EQ(sink.messages[0].number, 5701);
  EXPECT_EQ(sink.messages[0].severity, 10);
  EXPECT_EQ(sink.messages[0].text, "Changed database context to 'Other'.");
  EXPECT_EQ(session_->CurrentDatabase(), "Other");
  EXPECT_EQ(Scalar("SELECT db_name()"), Value("Other"));
  EXPECT_EQ(
      Failure("USE nowhere"),
      "911: Could not locate entry in sysdatabases for database 'nowhere'. No entry found with "
      "that name. Make sure that the name is entered correctly.");
  EXPECT_EQ(session_->CurrentDatabase(), "Other");
  // The current database cannot be dropped; another session's cannot either.
  EXPECT_EQ(Run("DROP DATABASE Other").FirstError(), 3702);
  auto other = Connect();
  EXPECT_EQ(Failure(*other, "DROP DATABASE Other"),
            "3702: Cannot drop the database 'Other' because it is currently in use.");
  Ok("USE master");
  Ok(*other, "DROP DATABASE Other");
}

TEST_F(SandboxTest, ThreePartNamesReachOtherDatabases) {
  Ok("CREATE DATABASE A CREATE DATABASE B");
  Ok("CREATE TABLE A.dbo.t (v INT) INSERT INTO A..t VALUES (1)");
  Ok("USE B CREATE TABLE t (v INT) INSERT INTO t SELECT v + 1 FROM A.dbo.t");
  EXPECT_EQ(Scalar("SELECT a.v + b.v FROM A..t a JOIN B..t b ON b.v = a.v + 1"), Value(3));
  Ok("USE A");
  // CREATE PROCEDURE must start its batch.
  EXPECT_EQ(Run("USE A CREATE PROCEDURE p AS SELECT 1").FirstError(), 111);
  Ok("CREATE PROCEDURE p AS SELECT db_name(), COUNT(*) FROM t");
  RowSet set = Query("USE master EXEC A..p");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], Value("A"));  // a procedure runs in its own database
  EXPECT_EQ(session_->CurrentDatabase(), "master");
  EXPECT_EQ(Run("SELECT * FROM Nowhere..t").FirstError(), 911);
}

TEST_F(SandboxTest, ManyDatabasesInOneSession) {
  // More databases than SQLite attaches at once.
  std::string sql;
  for (int i = 0; i < 14; ++i) {
    std::string name = "Many" + std::to_string(i);
    Ok("CREATE DATABASE " + name + " USE " + name +
       " CREATE TABLE t (v INT) INSERT INTO t VALUES (" + std::to_string(i) + ")");
  }
  Ok("USE master");
  for (int i = 0; i < 14; ++i)
    EXPECT_EQ(Scalar("SELECT v FROM Many" + std::to_string(i) + "..t"), Value(i));
}

TEST_F(SandboxTest, LoginsAndTheServiceState) {
  LoginRequest wrong;
  wrong.login = "sa";
  wrong.password = "guess";
  try {
    instance_->Connect(wrong);
    ADD_FAILURE() << "a wrong password was accepted";
  } catch (const ConnectError& e) {
    EXPECT_EQ(e.message().number, 18456);
    EXPECT_EQ(e.message().text, "Login failed for user 'sa'.");
  }
  LoginRequest windows;
  windows.integrated = true;
  windows.os_user = "alice";
  auto session = instance_->Connect(windows);
  EXPECT_EQ(Query(*session, "SELECT SUSER_SNAME()").rows.at(0).at(0), Value("SANDBOX\\alice"));
  LoginRequest nodb;
  nodb.login = "sa";
  nodb.database = "NoSuchDb";
  EXPECT_THROW(instance_->Connect(nodb), ConnectError);

  instance_->SetRunning(false);
  EXPECT_FALSE(instance_->config().running);
  CollectingSink sink;
  std::vector<Parameter> none;
  try {
    session->Execute("SELECT 1", none, sink, std::chrono::milliseconds(0));
    ADD_FAILURE() << "a stopped server answered";
  } catch (const SessionError& e) {
    EXPECT_EQ(e.kind(), SessionError::Kind::kBroken);
  }
  EXPECT_THROW(Connect(), ConnectError);
  instance_->SetRunning(true);
  auto again = Connect();
  EXPECT_EQ(Query(*again, "SELECT 1").rows.size(), 1u);
  // The state is kept with the instance.
  instance_->SetRunning(false);
  session_.reset();
  session.reset();
  again.reset();
  instance_.reset();
  host_ = OpenHost(root_);
  instance_ = host_->Find("");
  ASSERT_NE(instance_, nullptr);
  EXPECT_FALSE(instance_->config().running);
}

TEST_F(SandboxTest, NamedInstancesAndTheirConfiguration) {
  InstanceConfig seven;
  seven.product_version = "7.00.1063";
  seven.login_mode = LoginMode::kWindowsOnly;
  seven.full_text_installed = false;
  auto old = host_->Create("Old", seven);
  EXPECT_EQ(old->name(), "OLD");
  EXPECT_EQ(host_->Find("old"), old);
  EXPECT_EQ(host_->Find("missing"), nullptr);
  EXPECT_THROW(host_->Create("old", seven), std::runtime_error);
  EXPECT_THROW(host_->Create("bad/name", seven), std::runtime_error);
  LoginRequest sql;
  sql.login = "sa";
  EXPECT_THROW(old->Connect(sql), ConnectError);
  LoginRequest windows;
  windows.integrated = true;
  windows.os_user = "bob";
  auto session = old->Connect(windows);
  RowSet set = Query(*session,
                     "SELECT SUBSTRING(@@VERSION, 30, 9), FULLTEXTSERVICEPROPERTY("
                     "'IsFullTextInstalled'), @@SERVERNAME");
  EXPECT_EQ(set.rows[0][0], Value("7.00.1063"));
  EXPECT_EQ(set.rows[0][1], Value(0));
  EXPECT_EQ(set.rows[0][2], Value("SANDBOX\\OLD"));
  Ok(*session, "CREATE DATABASE x");
  EXPECT_TRUE(
      fs::exists(old->MapPath("C:\\Program Files\\Microsoft SQL Server\\MSSQL$OLD\\Data\\x.mdf")));
}

TEST_F(SandboxTest, TimeOutsEndTheBatch) {
  CollectingSink sink;
  std::vector<Parameter> none;
  auto start = std::chrono::steady_clock::now();
  try {
    session_->Execute("WAITFOR DELAY '00:00:05'", none, sink, std::chrono::milliseconds(100));
    ADD_FAILURE() << "no time-out";
  } catch (const SessionError& e) {
    EXPECT_EQ(e.kind(), SessionError::Kind::kTimeout);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // A long loop and a long query are stopped too, and the session stays usable.
  EXPECT_THROW(
      session_->Execute("WHILE 1 = 1 PRINT 'x'", none, sink, std::chrono::milliseconds(100)),
      SessionError);
  Ok("CREATE TABLE n (v INT) INSERT INTO n VALUES (1) INSERT INTO n VALUES (2)");
  for (int i = 0; i < 4; ++i) Ok("INSERT INTO n SELECT v FROM n");
  try {
    session_->Execute("SELECT COUNT(*) FROM n a, n b, n c, n d, n e, n f", none, sink,
                      std::chrono::milliseconds(50));
    ADD_FAILURE() << "no time-out";
  } catch (const SessionError& e) {
    EXPECT_EQ(e.kind(), SessionError::Kind::kTimeout);
  }
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM n"), Value(32));
  // WAITFOR within the time-out simply waits.
  start = std::chrono::steady_clock::now();
  Ok("WAITFOR DELAY '00:00:00.050'");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(SandboxTest, TimeOutInsideATransactionKeepsEarlierWork) {
  Ok("CREATE TABLE w (v INT)");
  CollectingSink sink;
  std::vector<Parameter> none;
  EXPECT_THROW(session_->Execute("BEGIN TRAN INSERT INTO w VALUES (1) WAITFOR DELAY '00:00:02'",
                                 none, sink, std::chrono::milliseconds(50)),
               SessionError);
  EXPECT_EQ(Scalar("SELECT @@TRANCOUNT"), Value(1));
  Ok("COMMIT");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM w"), Value(1));
}

TEST_F(SandboxTest, InjectedFaultsFailTheChosenStatement) {
  Ok("CREATE TABLE f (v INT)");
  ServerMessage error;
  error.number = 1105;
  error.severity = 17;
  error.text =
      "Could not allocate space for object 'f' in database 'master' because the "
      "'PRIMARY' filegroup is full.";
  instance_->InjectFault(Fault{"insert into f", 2, error});
  CollectingSink sink =
      Run("INSERT INTO f VALUES (1) INSERT INTO f VALUES (2) INSERT INTO f VALUES (3)");
  ASSERT_EQ(sink.FirstError(), 1105);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM f"), Value(2));
  EXPECT_EQ(Scalar("SELECT SUM(v) FROM f"), Value(4));
  // Used once, the fault is gone.
  Ok("INSERT INTO f VALUES (9)");
  // Statements inside procedures count too.
  Ok("CREATE PROCEDURE addf AS INSERT INTO f VALUES (100)");
  instance_->InjectFault(Fault{"VALUES (100)", 1, error});
  EXPECT_EQ(Run("EXEC addf").FirstError(), 1105);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM f WHERE v = 100"), Value(0));
  instance_->InjectFault(Fault{"", 1, error});
  instance_->ClearFaults();
  Ok("SELECT 1");
}

TEST_F(SandboxTest, DroppedSessionsFailOnTheirNextBatch) {
  auto other = Connect();
  Ok(*other, "CREATE TABLE #mine (v INT) BEGIN TRAN CREATE TABLE kept (v INT)");
  EXPECT_TRUE(instance_->DropSession(other->spid()));
  EXPECT_FALSE(instance_->DropSession(999));
  CollectingSink sink;
  std::vector<Parameter> none;
  try {
    other->Execute("SELECT 1", none, sink, std::chrono::milliseconds(0));
    ADD_FAILURE() << "a dropped session answered";
  } catch (const SessionError& e) {
    EXPECT_EQ(e.kind(), SessionError::Kind::kBroken);
  }
  other.reset();
  // Its open transaction was rolled back.
  EXPECT_EQ(Run("SELECT * FROM kept").FirstError(), 208);
  // KILL does the same from another session.
  auto victim = Connect();
  int spid = victim->spid();
  Ok("KILL " + std::to_string(spid));
  EXPECT_THROW(victim->Execute("SELECT 1", none, sink, std::chrono::milliseconds(0)), SessionError);
  EXPECT_EQ(Run("KILL " + std::to_string(session_->spid())).FirstError(), 6104);
}

TEST_F(SandboxTest, SessionsGetTheirOwnProcessIds) {
  auto second = Connect();
  auto third = Connect();
  EXPECT_EQ(session_->spid(), 51);
  EXPECT_EQ(second->spid(), 52);
  EXPECT_EQ(third->spid(), 53);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysprocesses"), Value(3));
  second->Close();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysprocesses"), Value(2));
  auto fourth = Connect();
  EXPECT_EQ(fourth->spid(), 52);
}

}  // namespace
}  // namespace sandbox::testing
