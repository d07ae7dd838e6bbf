// Databases and their files: creation on the machine's drives, sp_helpdb, detach and attach on
// the same and on another instance, renaming, options and states, and a log file whose size
// moves with the changes, BACKUP LOG and DBCC SHRINKFILE.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include "sandbox/sandbox_fixture.h"
#include "sandbox/sqlite.h"

namespace sandbox::testing {
namespace {

using common::Value;
namespace fs = std::filesystem;

class DatabasesTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ASSERT_TRUE(fs::create_directories(instance_->MapPath("C:\\Data")));
  }

  std::unique_ptr<Session> ConnectAs(Instance& instance, const std::string& login,
                                     const std::string& password,
                                     const std::string& database = "") {
    LoginRequest request;
    request.login = login;
    request.password = password;
    request.database = database;
    request.host_name = "OTHERHOST";
    return instance.Connect(request);
  }

  fs::path Host(const std::string& machine_path) { return instance_->MapPath(machine_path); }

  // The size of a file in 8 KB pages as sysaltfiles reports it.
  std::int64_t AltFilePages(const std::string& database, int fileid) {
    return Scalar(
               "SELECT f.size FROM master..sysaltfiles f JOIN master..sysdatabases d ON "
               "d.dbid = f.dbid WHERE d.name = '" +
               database + "' AND f.fileid = " + std::to_string(fileid))
        .ToInt()
        .value_or(-1);
  }

  // Makes changes enough to fill a few megabytes of log.
  void FillLog(const std::string& database) {
    std::string batch = "USE " + database +
                        " CREATE TABLE filler (a INT, b NVARCHAR(40)) INSERT INTO filler "
                        "VALUES (1, N'x')";
    for (int i = 0; i < 15; ++i) batch += " INSERT INTO filler SELECT a, b FROM filler";
    Ok(batch + " USE master");
  }
};

// --- creation and sp_helpdb --------------------------------------------------------------

TEST_F(DatabasesTest, CreateDatabasePutsTheLogBesideTheDataFile) {
  Ok("CREATE DATABASE Sales ON (NAME = Sales, FILENAME = 'C:\\Data\\Sales.mdf')");
  EXPECT_TRUE(fs::is_regular_file(Host("C:\\Data\\Sales.mdf")));
  EXPECT_TRUE(fs::is_regular_file(Host("C:\\Data\\Sales_log.LDF")));
  RowSet files = Query("USE Sales SELECT fileid, name, filename, size, groupid FROM sysfiles");
  ASSERT_EQ(files.rows.size(), 2u);
  EXPECT_EQ(files.rows[1][1], Value("Sales_log"));
  EXPECT_EQ(files.rows[1][2], Value("C:\\Data\\Sales_log.LDF"));
  EXPECT_EQ(files.rows[1][3], Value(128));  // a 1 MB log
  EXPECT_EQ(files.rows[1][4], Value(0));
  EXPECT_EQ(files.rows[0][4], Value(1));
  // sysaltfiles tells the same from any database.
  EXPECT_EQ(AltFilePages("Sales", 2), 128);
  EXPECT_EQ(
      Scalar("USE Sales SELECT COUNT(*) FROM master..sysaltfiles WHERE dbid = DB_ID('Sales')"),
      Value(2));

  // A folder that is not there fails as on SQL Server and leaves nothing behind.
  CollectingSink sink =
      Run("CREATE DATABASE Lost ON (NAME = Lost, FILENAME = 'C:\\Nowhere\\Lost.mdf')");
  EXPECT_EQ(sink.FirstError(), 5123);
  EXPECT_FALSE(fs::exists(Host("C:\\Nowhere")));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name = 'Lost'"), Value(0));
}

TEST_F(DatabasesTest, HelpdbListsEveryDatabaseWithItsSizeOwnerAndOptions) {
  Ok("CREATE DATABASE Beta ON (NAME = Beta, FILENAME = 'C:\\Data\\Beta.mdf')");
  Ok("CREATE DATABASE alpha ON (NAME = alpha, FILENAME = 'C:\\Data\\alpha.mdf')");
  CollectingSink sink = Run("EXEC master..sp_helpdb");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 1u);
  const RowSet& list = sink.sets[0];
  EXPECT_EQ(ColumnNames(list),
            (std::vector<std::string>{"name", "db_size", "owner", "dbid", "created", "status",
                                      "compatibility_level"}));
  std::vector<std::string> order;
  for (const auto& row : list.rows) order.push_back(row[0].ToText());
  EXPECT_EQ(order,
            (std::vector<std::string>{"alpha", "Beta", "master", "model", "msdb", "tempdb"}));
  const auto& beta = list.rows[1];
  // str(size, 10, 2) + ' MB', the size being both files together.
  std::int64_t pages = AltFilePages("Beta", 1) + AltFilePages("Beta", 2);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%10.2f MB", static_cast<double>(pages) / 128.0);
  EXPECT_EQ(beta[1], Value(std::string(expected)));
  EXPECT_EQ(beta[2], Value("sa"));
  EXPECT_TRUE(std::regex_match(beta[4].ToText(), std::regex("[A-Z][a-z]{2} [ 123][0-9] [0-9]{4}")))
      << beta[4].ToText();
  EXPECT_EQ(beta[5], Value("Status=ONLINE, Updateability=READ_WRITE, UserAccess=MULTI_USER, "
                           "Recovery=FULL, Version=539, Collation=SQL_Latin1_General_CP1_CI_AS, "
                           "SQLSortOrder=52, IsTornPageDetectionEnabled, IsAutoCreateStatistics, "
                           "IsAutoUpdateStatistics"));
  EXPECT_EQ(beta[6], Value(80));
  EXPECT_NE(list.rows[2][5].ToText().find("Recovery=SIMPLE"), std::string::npos);
}

TEST_F(DatabasesTest, HelpdbOfOneDatabaseAddsItsFiles) {
  Ok("CREATE DATABASE Sales ON (NAME = Sales, FILENAME = 'C:\\Data\\Sales.mdf', SIZE = 2MB, "
     "FILEGROWTH = 1MB)");
  CollectingSink sink = Run("EXEC sp_helpdb @dbname = 'sales'");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 2u);
  ASSERT_EQ(sink.sets[0].rows.size(), 1u);
  EXPECT_EQ(sink.sets[0].rows[0][0], Value("Sales"));
  const RowSet& files = sink.sets[1];
  EXPECT_EQ(ColumnNames(files), (std::vector<std::string>{"name", "fileid", "filename", "filegroup",
                                                          "size", "maxsize", "growth", "usage"}));
  ASSERT_EQ(files.rows.size(), 2u);
  EXPECT_EQ(files.rows[0][0], Value("Sales"));
  EXPECT_EQ(files.rows[0][2], Value("C:\\Data\\Sales.mdf"));
  EXPECT_EQ(files.rows[0][3], Value("PRIMARY"));
  EXPECT_EQ(files.rows[0][4], Value("2048 KB"));
  EXPECT_EQ(files.rows[0][5], Value("Unlimited"));
  EXPECT_EQ(files.rows[0][6], Value("1024 KB"));
  EXPECT_EQ(files.rows[0][7], Value("data only"));
  EXPECT_EQ(files.rows[1][0], Value("Sales_log"));
  EXPECT_EQ(files.rows[1][3], Value());
  EXPECT_EQ(files.rows[1][4], Value("1024 KB"));
  EXPECT_EQ(files.rows[1][6], Value("10%"));
  EXPECT_EQ(files.rows[1][7], Value("log only"));

  EXPECT_EQ(
      Failure("EXEC sp_helpdb 'Nothing'"),
      "15010: The database 'Nothing' does not exist. Use sp_helpdb to show available databases.");
}

// sp_helpdb reads each database's files and collation from master's copy and the sizes from
// the file system: it follows a file that grows, changes made by another server object on the
// same folders (as another process has), a change rolled back, a rename and a move, and a
// database master has no copy of (registered by an earlier version).
TEST_F(DatabasesTest, HelpdbFollowsTheFilesAsTheyGrowChangeAndMove) {
  Ok("CREATE DATABASE Growing ON (NAME = Growing, FILENAME = 'C:\\Data\\Growing.mdf', SIZE = "
     "1MB)");
  auto listed = [&](const std::string& name) {
    RowSet list = Query("EXEC master..sp_helpdb");
    for (const auto& row : list.rows)
      if (row[0] == Value(name)) return row;
    ADD_FAILURE() << name << " is not listed";
    return std::vector<Value>(7);
  };
  // str(size, 10, 2) + ' MB' of the files as they are on disk; a data file counts at least
  // its declared pages.
  auto on_disk = [&](const std::string& data, const std::string& log, std::int64_t declared) {
    auto pages = [](const fs::path& file) {
      return static_cast<std::int64_t>((fs::file_size(file) + 8191) / 8192);
    };
    std::int64_t total = std::max(pages(Host(data)), declared) + pages(Host(log));
    char text[32];
    std::snprintf(text, sizeof text, "%10.2f MB", static_cast<double>(total) / 128.0);
    return Value(std::string(text));
  };
  const std::string data = "C:\\Data\\Growing.mdf", log = "C:\\Data\\Growing_log.LDF";
  Value created = listed("Growing")[1];
  EXPECT_EQ(created, on_disk(data, log, 128));

  // Rows beyond the declared megabyte grow the files.
  std::string fill = "USE Growing CREATE TABLE t (v VARCHAR(4000)) INSERT INTO t VALUES ('" +
                     std::string(4000, 'x') + "')";
  for (int i = 0; i < 12; ++i) fill += " INSERT INTO t SELECT v FROM t";
  Ok(fill + " USE master");
  EXPECT_GT(fs::file_size(Host(data)), 1024u * 1024u);
  EXPECT_NE(listed("Growing")[1], created);
  EXPECT_EQ(listed("Growing")[1], on_disk(data, log, 128));

  // Another server object changes the declared size and the collation.
  auto other_host = OpenHost(root_);
  std::shared_ptr<Instance> other = other_host->Find("");
  ASSERT_NE(other, nullptr);
  std::unique_ptr<Session> writer = ConnectAs(*other, "sa", "");
  Ok(*writer, "ALTER DATABASE Growing MODIFY FILE (NAME = Growing, SIZE = 40MB)");
  EXPECT_EQ(listed("Growing")[1], on_disk(data, log, 5120));
  Ok(*writer, "ALTER DATABASE Growing COLLATE Latin1_General_CS_AS");
  const std::string collation = "Collation=Latin1_General_CS_AS, SQLSortOrder=0";
  EXPECT_NE(listed("Growing")[5].ToText().find(collation), std::string::npos)
      << listed("Growing")[5].ToText();
  // Refused in a transaction, which is then rolled back: nothing changed.
  EXPECT_EQ(Run(*writer, "BEGIN TRAN ALTER DATABASE Growing COLLATE French_CI_AS").FirstError(),
            226);
  Ok(*writer, "ROLLBACK");
  EXPECT_NE(listed("Growing")[5].ToText().find(collation), std::string::npos)
      << listed("Growing")[5].ToText();
  EXPECT_EQ(listed("Growing")[1], on_disk(data, log, 5120));
  writer.reset();

  // Renamed, detached, moved and attached under another name: the same files, where they are.
  Ok("EXEC sp_renamedb 'Growing', 'Grown'");
  EXPECT_EQ(listed("Grown")[1], on_disk(data, log, 5120));
  Ok("EXEC sp_detach_db 'Grown'");
  ASSERT_TRUE(fs::create_directories(Host("C:\\Moved")));
  fs::rename(Host(data), Host("C:\\Moved") / "g.mdf");
  fs::rename(Host(log), Host("C:\\Moved") / "g_log.ldf");
  Ok("EXEC sp_attach_db 'Back', 'C:\\Moved\\g.mdf', 'C:\\Moved\\g_log.ldf'");
  const std::string moved = "C:\\Moved\\g.mdf", moved_log = "C:\\Moved\\g_log.ldf";
  std::vector<Value> back = listed("Back");
  EXPECT_EQ(back[1], on_disk(moved, moved_log, 5120));
  EXPECT_NE(back[5].ToText().find(collation), std::string::npos) << back[5].ToText();
  RowSet files = Run("EXEC sp_helpdb 'Back'").sets.at(1);
  ASSERT_EQ(files.rows.size(), 2u);
  EXPECT_EQ(files.rows[0][2], Value(moved));
  EXPECT_EQ(files.rows[0][4], Value("40960 KB"));
  EXPECT_EQ(files.rows[1][2], Value(moved_log));

  // Without master's copy, the database's own file tells the same.
  const Value dbid = Scalar("SELECT DB_ID('Back')");
  {
    Connection master(
        instance_->MapPath("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data\\master.mdf")
            .string(),
        false);
    sqlite3_busy_timeout(master.get(), 5000);
    master.Exec("UPDATE \"sandbox$databases\" SET collation = NULL WHERE dbid = " + dbid.ToText() +
                "; DELETE FROM \"sandbox$altfiles\" WHERE dbid = " + dbid.ToText());
  }
  EXPECT_EQ(listed("Back"), back);
  EXPECT_EQ(Run("EXEC sp_helpdb 'Back'").sets.at(1).rows, files.rows);
}

TEST_F(DatabasesTest, SqlServer70ListsItsOptionsTheOldWay) {
  InstanceConfig config;
  config.product_version = "7.00.1063";
  auto seven = host_->Create("SEVEN", config);
  auto session = ConnectAs(*seven, "sa", "");
  fs::create_directories(seven->MapPath("C:\\Data"));
  Ok(*session, "CREATE DATABASE Old ON (NAME = Old, FILENAME = 'C:\\Data\\Old.mdf')");
  Ok(*session, "EXEC sp_dboption 'Old', 'autoshrink', 'true'");
  CollectingSink sink = Run(*session, "EXEC sp_helpdb 'Old'");
  ASSERT_GE(sink.sets.size(), 1u);
  EXPECT_EQ(sink.sets[0].rows[0][5], Value("autoshrink, torn page detection"));
  EXPECT_EQ(sink.sets[0].rows[0][6], Value(70));
}

// --- the log -----------------------------------------------------------------------------

TEST_F(DatabasesTest, TheLogGrowsIsTruncatedAndShrinks) {
  Ok("CREATE DATABASE Busy ON (NAME = Busy, FILENAME = 'C:\\Data\\Busy.mdf')");
  fs::path log = Host("C:\\Data\\Busy_log.LDF");
  FillLog("Busy");
  std::int64_t grown = AltFilePages("Busy", 2);
  EXPECT_GT(grown, 256);
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(log)), grown * 8192);

  // Shrinking a full log gives back only the unused end.
  Ok("USE Busy");
  RowSet shrunk = Query("DBCC SHRINKFILE (Busy_log, 1)");
  EXPECT_EQ(ColumnNames(shrunk),
            (std::vector<std::string>{"DbId", "FileId", "CurrentSize", "MinimumSize", "UsedPages",
                                      "EstimatedPages"}));
  ASSERT_EQ(shrunk.rows.size(), 1u);
  EXPECT_EQ(shrunk.rows[0][1], Value(2));
  std::int64_t used = shrunk.rows[0][4].ToInt().value_or(0);
  EXPECT_GT(used, 128);
  EXPECT_EQ(shrunk.rows[0][2], Value(static_cast<long long>(used)));

  // Truncated, it shrinks to the target, and no further than a log can go.
  Ok("BACKUP LOG Busy WITH TRUNCATE_ONLY");
  EXPECT_EQ(AltFilePages("Busy", 2), used);
  shrunk = Query("DBCC SHRINKFILE (2, 1)");
  EXPECT_EQ(shrunk.rows[0][2], Value(128));
  EXPECT_EQ(shrunk.rows[0][4], Value(1));
  EXPECT_EQ(fs::file_size(log), 128u * 8192u);
  shrunk = Query("DBCC SHRINKFILE ([Busy_log], 0)");
  EXPECT_EQ(shrunk.rows[0][2], Value(63));
  EXPECT_EQ(AltFilePages("Busy", 2), 63);
  CollectingSink sink = Run("DBCC SHRINKFILE (Busy_log) WITH NO_INFOMSGS");
  EXPECT_EQ(sink.FirstError(), 0);
  for (const ServerMessage& m : sink.messages) EXPECT_NE(m.number, 2528);
  EXPECT_EQ(Run("BACKUP LOG Busy WITH NO_LOG").FirstError(), 0);

  // The data file gives back what it holds beyond its pages in use.
  shrunk = Query("DBCC SHRINKFILE (Busy, 0)");
  EXPECT_EQ(shrunk.rows[0][2], shrunk.rows[0][4]);

  EXPECT_EQ(Run("DBCC SHRINKFILE (Nothing, 1)").FirstError(), 8985);
  EXPECT_EQ(Run("DBCC SHRINKFILE (Busy_log, -1)").FirstError(), 2560);
  EXPECT_EQ(Run("DBCC SHRINKFILE (Busy_log, 1, 2)").FirstError(), 2560);
  EXPECT_EQ(Run("BACKUP LOG Nothing WITH TRUNCATE_ONLY").FirstError(), 911);
  EXPECT_EQ(Run("BEGIN TRAN BACKUP LOG Busy WITH TRUNCATE_ONLY").FirstError(), 3021);
  Ok("IF @@TRANCOUNT > 0 ROLLBACK");
  EXPECT_EQ(Run("BACKUP DATABASE Busy TO DISK = 'C:\\Data\\b.bak'").FirstError(), 0);
}

TEST_F(DatabasesTest, ALogGrowsByItsGrowthAndSimpleRecoveryEmptiesItAtCheckpoint) {
  Ok("CREATE DATABASE Fixed ON (NAME = Fixed, FILENAME = 'C:\\Data\\Fixed.mdf') LOG ON (NAME = "
     "Fixed_log, FILENAME = 'C:\\Data\\Fixed_log.LDF', SIZE = 1MB, FILEGROWTH = 2MB)");
  FillLog("Fixed");
  // Each growth adds 2 MB (256 pages) to the first megabyte.
  EXPECT_EQ((AltFilePages("Fixed", 2) - 128) % 256, 0);
  Ok("ALTER DATABASE Fixed SET RECOVERY SIMPLE");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Fixed', 'Recovery')"), Value("SIMPLE"));
  Ok("USE Fixed CHECKPOINT");
  EXPECT_EQ(Query("DBCC SHRINKFILE (Fixed_log, 0)").rows[0][4], Value(1));
}

TEST_F(DatabasesTest, ModifyFileGrowsAFileAndNeverShrinksIt) {
  Ok("CREATE DATABASE Sized ON (NAME = Sized, FILENAME = 'C:\\Data\\Sized.mdf')");
  Ok("ALTER DATABASE Sized MODIFY FILE (NAME = Sized_log, SIZE = 3MB)");
  EXPECT_EQ(AltFilePages("Sized", 2), 384);
  EXPECT_EQ(fs::file_size(Host("C:\\Data\\Sized_log.LDF")), 384u * 8192u);
  Ok("ALTER DATABASE Sized MODIFY FILE (NAME = Sized, SIZE = 5MB)");
  EXPECT_EQ(AltFilePages("Sized", 1), 640);
  EXPECT_EQ(Failure("ALTER DATABASE Sized MODIFY FILE (NAME = Sized_log, SIZE = 1MB)"),
            "5039: MODIFY FILE failed. Specified size is less than current size.");
  EXPECT_EQ(AltFilePages("Sized", 2), 384);
  EXPECT_EQ(Run("ALTER DATABASE Sized MODIFY FILE (NAME = Nothing, SIZE = 9MB)").FirstError(),
            5041);
}

TEST_F(DatabasesTest, AutoshrinkShrinksAMostlyEmptyLogAtCheckpoint) {
  Ok("CREATE DATABASE Auto ON (NAME = Auto, FILENAME = 'C:\\Data\\Auto.mdf')");
  FillLog("Auto");
  Ok("BACKUP LOG Auto WITH TRUNCATE_ONLY");
  std::int64_t before = AltFilePages("Auto", 2);
  Ok("USE Auto CHECKPOINT USE master");
  EXPECT_EQ(AltFilePages("Auto", 2), before);  // autoshrink is off
  Ok("ALTER DATABASE Auto SET AUTO_SHRINK ON");
  Ok("USE Auto CHECKPOINT USE master");
  EXPECT_EQ(AltFilePages("Auto", 2), 63);
}

TEST_F(DatabasesTest, OnlyTheOwnerShrinksAndTruncates) {
  Ok("CREATE DATABASE Guarded ON (NAME = Guarded, FILENAME = 'C:\\Data\\Guarded.mdf')");
  Ok("EXEC sp_addlogin 'reader', 'pw'");
  Ok("USE Guarded EXEC sp_grantdbaccess 'reader' USE master");
  auto reader = ConnectAs(*instance_, "reader", "pw", "Guarded");
  EXPECT_EQ(Run(*reader, "DBCC SHRINKFILE (Guarded_log, 1)").FirstError(), 2571);
  EXPECT_EQ(Run(*reader, "BACKUP LOG Guarded WITH TRUNCATE_ONLY").FirstError(), 262);
  EXPECT_EQ(Run(*reader, "ALTER DATABASE Guarded SET AUTO_SHRINK ON").FirstError() == 0, false);
  EXPECT_EQ(Run(*reader, "EXEC sp_dboption 'Guarded', 'autoshrink', 'true'").FirstError(), 5011);
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Guarded', 'IsAutoShrink')"), Value(0));
}

// --- detach, attach, rename, drop --------------------------------------------------------

TEST_F(DatabasesTest, ADatabaseKeepsItsDataUsersAndRolesThroughDetachAttachRenameAndDrop) {
  Ok("CREATE DATABASE Keep ON (NAME = Keep, FILENAME = 'C:\\Data\\Keep.mdf')");
  Ok("EXEC sp_grantlogin 'SANDBOX\\bob'");
  Ok("USE Keep CREATE TABLE t (v NVARCHAR(20)) INSERT INTO t VALUES (N'kept') "
     "EXEC sp_addrole 'keepers' EXEC sp_grantdbaccess 'SANDBOX\\bob', 'bob' "
     "EXEC sp_addrolemember 'keepers', 'bob' USE master");
  Ok("ALTER DATABASE Keep SET AUTO_SHRINK ON");
  fs::path data = Host("C:\\Data\\Keep.mdf"), log = Host("C:\\Data\\Keep_log.LDF");

  Ok("EXEC sp_detach_db 'Keep'");
  EXPECT_TRUE(fs::exists(data));
  EXPECT_TRUE(fs::exists(log));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysaltfiles WHERE filename LIKE '%Keep%'"),
            Value(0));

  Ok("EXEC sp_attach_db 'Kept', 'C:\\Data\\Keep.mdf', 'C:\\Data\\Keep_log.LDF'");
  EXPECT_EQ(Scalar("SELECT v FROM Kept..t"), Value("kept"));
  EXPECT_EQ(Scalar("USE Kept SELECT COUNT(*) FROM sysusers u JOIN sysmembers m ON m.memberuid = "
                   "u.uid JOIN sysusers r ON r.uid = m.groupuid WHERE u.name = 'bob' AND r.name "
                   "= 'keepers'"),
            Value(1));
  // Its options and its owner come along.
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Kept', 'IsAutoShrink')"), Value(1));
  EXPECT_EQ(Scalar("SELECT SUSER_SNAME(sid) FROM master..sysdatabases WHERE name = 'Kept'"),
            Value("sa"));
  Ok("USE master");

  CollectingSink renamed = Run("EXEC sp_renamedb 'Kept', 'Quillarchive_Kept'");
  ASSERT_EQ(renamed.FirstError(), 0) << renamed.ErrorText();
  bool told = false;
  for (const ServerMessage& m : renamed.messages)
    told = told || m.text == "The database name 'Quillarchive_Kept' has been set.";
  EXPECT_TRUE(told);
  EXPECT_EQ(Scalar("SELECT v FROM Quillarchive_Kept..t"), Value("kept"));
  EXPECT_TRUE(fs::exists(data));  // the files keep their names

  Ok("DROP DATABASE Quillarchive_Kept");
  EXPECT_FALSE(fs::exists(data));
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(DatabasesTest, AttachingOnAnotherInstanceKeepsUsersAndMayLoseTheOwner) {
  Ok("EXEC sp_addlogin 'carol', 'pw'");
  Ok("EXEC sp_addsrvrolemember 'carol', 'dbcreator'");
  Ok("EXEC sp_grantlogin 'SANDBOX\\bob'");
  auto carol = ConnectAs(*instance_, "carol", "pw");
  Ok(*carol, "CREATE DATABASE Moving ON (NAME = Moving, FILENAME = 'C:\\Data\\Moving.mdf')");
  Ok("USE Moving EXEC sp_grantdbaccess 'SANDBOX\\bob', 'bob' CREATE TABLE t (a INT) "
     "INSERT INTO t VALUES (7) USE master");
  carol.reset();
  Ok("EXEC sp_detach_db 'Moving'");

  auto second = host_->Create("SECOND", InstanceConfig{});
  fs::create_directories(second->MapPath("C:\\Incoming"));
  fs::copy_file(Host("C:\\Data\\Moving.mdf"), second->MapPath("C:\\Incoming\\Moving.mdf"));
  auto admin = ConnectAs(*second, "sa", "");
  Ok(*admin, "EXEC sp_grantlogin 'SANDBOX\\bob'");
  CollectingSink sink =
      Run(*admin, "EXEC sp_attach_single_file_db 'Moving', 'C:\\Incoming\\Moving.mdf'");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  bool told = false;
  for (const ServerMessage& m : sink.messages)
    told = told || m.text == "New log file 'C:\\Incoming\\Moving_log.LDF' was created.";
  EXPECT_TRUE(told);
  EXPECT_TRUE(fs::is_regular_file(second->MapPath("C:\\Incoming\\Moving_log.LDF")));
  EXPECT_EQ(Query(*admin, "SELECT a FROM Moving..t").rows.at(0).at(0), Value(7));

  // Windows logins are the same everywhere, so bob is still the user of his login.
  LoginRequest bob;
  bob.integrated = true;
  bob.os_user = "bob";
  bob.database = "Moving";
  auto bob_session = second->Connect(bob);
  EXPECT_EQ(Query(*bob_session, "SELECT USER_NAME()").rows.at(0).at(0), Value("bob"));
  bob_session.reset();

  // carol is no login here: the list of databases fails until the owner is repaired.
  sink = Run(*admin, "EXEC master..sp_helpdb");
  ASSERT_EQ(sink.FirstError(), 515);
  EXPECT_TRUE(sink.Errors()[0]->text.starts_with(
      "Cannot insert the value NULL into column 'owner', table 'tempdb.dbo.#spdbdesc___"))
      << sink.Errors()[0]->text;
  EXPECT_TRUE(sink.Errors()[0]->text.ends_with("'; column does not allow nulls. INSERT fails."));
  RowSet orphans =
      Query(*admin, "SELECT name FROM master..sysdatabases Where SUSER_SNAME(sid) Is Null");
  ASSERT_EQ(orphans.rows.size(), 1u);
  EXPECT_EQ(orphans.rows[0][0], Value("Moving"));
  EXPECT_EQ(Run(*admin, "EXEC sp_helpdb 'master'").FirstError(), 0);
  Ok(*admin, "USE Moving EXEC sp_changedbowner 'sa' USE master");
  sink = Run(*admin, "EXEC master..sp_helpdb");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(sink.sets.at(0).rows.size(), 5u);
}

TEST_F(DatabasesTest, AttachRefusesWhatItCannotUse) {
  Ok("CREATE DATABASE Live ON (NAME = Live, FILENAME = 'C:\\Data\\Live.mdf')");
  Ok("CREATE DATABASE Gone ON (NAME = Gone, FILENAME = 'C:\\Data\\Gone.mdf')");
  Ok("EXEC sp_detach_db 'Gone'");

  EXPECT_EQ(Run("EXEC sp_attach_db 'Live', 'C:\\Data\\Gone.mdf'").FirstError(), 1801);
  EXPECT_EQ(Run("EXEC sp_attach_db 'Copy', 'C:\\Data\\Live.mdf'").FirstError(), 5120);
  EXPECT_EQ(Run("EXEC sp_attach_db 'Copy', 'C:\\Data\\None.mdf'").FirstError(), 5120);
  EXPECT_EQ(
      Run("EXEC sp_attach_db 'Copy', 'C:\\Data\\Gone.mdf', 'C:\\Data\\Live_log.LDF'").FirstError(),
      5120);
  EXPECT_EQ(Run("EXEC sp_attach_db 'Copy'").FirstError(), 201);
  {
    std::ofstream junk(Host("C:\\Data\\junk.mdf"));
    junk << "not a database at all";
  }
  EXPECT_EQ(Run("EXEC sp_attach_db 'Junk', 'C:\\Data\\junk.mdf'").FirstError(), 5172);

  // Without its log, sp_attach_db fails; the single-file form makes a new one.
  fs::remove(Host("C:\\Data\\Gone_log.LDF"));
  EXPECT_EQ(Failure("EXEC sp_attach_db 'Gone', 'C:\\Data\\Gone.mdf'"),
            "5105: Device activation error. The physical file name 'C:\\Data\\Gone_log.LDF' may be "
            "incorrect.");
  Ok("EXEC sp_attach_single_file_db @dbname = 'Gone', @physname = 'C:\\Data\\Gone.mdf'");
  EXPECT_TRUE(fs::is_regular_file(Host("C:\\Data\\Gone_log.LDF")));
  EXPECT_EQ(AltFilePages("Gone", 2), 128);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name IN ('Copy', 'Junk')"),
            Value(0));
}

TEST_F(DatabasesTest, RenameNeedsTheDatabaseToItself) {
  Ok("CREATE DATABASE Old ON (NAME = Old, FILENAME = 'C:\\Data\\Old.mdf')");
  auto other = Connect("Old");
  EXPECT_EQ(Failure("EXEC sp_renamedb 'Old', 'New'"),
            "5030: The database could not be exclusively locked to perform the operation.");
  // Nor in the renaming session's own hands, unless it holds it alone in single-user mode.
  Ok(*other, "USE master");
  Ok("USE Old");
  EXPECT_EQ(Run("EXEC sp_renamedb 'Old', 'New'").FirstError(), 5030);
  Ok("EXEC sp_dboption 'Old', 'single user', 'true'");
  Ok("EXEC sp_renamedb 'Old', 'New'");
  EXPECT_EQ(Scalar("SELECT db_name()"), Value("New"));
  Ok("USE master EXEC sp_dboption 'New', 'single user', 'false'");

  EXPECT_EQ(Run("EXEC sp_renamedb 'Nothing', 'x'").FirstError(), 15010);
  EXPECT_EQ(Run("EXEC sp_renamedb 'New', 'master'").FirstError(), 1801);
  EXPECT_EQ(Run("EXEC sp_renamedb 'master', 'boss'").FirstError(), 5030);
  EXPECT_EQ(Run("EXEC sp_renamedb 'New', ''").FirstError(), 1038);
  EXPECT_EQ(Run("EXEC sp_renamedb 'New', '" + std::string(129, 'n') + "'").FirstError(), 103);
  EXPECT_EQ(Run("EXEC sp_renamedb 'New'").FirstError(), 201);

  Ok("EXEC sp_addlogin 'plain', 'pw'");
  auto plain = ConnectAs(*instance_, "plain", "pw");
  EXPECT_EQ(Run(*plain, "EXEC sp_renamedb 'New', 'Mine'").FirstError(), 15247);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name = 'New'"), Value(1));
}

TEST_F(DatabasesTest, DropAndDetachWaitForTheLastSession) {
  Ok("CREATE DATABASE Held ON (NAME = Held, FILENAME = 'C:\\Data\\Held.mdf')");
  auto holder = Connect("Held");
  EXPECT_EQ(Failure("DROP DATABASE Held"),
            "3702: Cannot drop the database 'Held' because it is currently in use.");
  EXPECT_EQ(Failure("EXEC sp_detach_db 'Held'"),
            "3703: Cannot detach the database 'Held' because it is currently in use.");
  EXPECT_TRUE(fs::exists(Host("C:\\Data\\Held.mdf")));
  // Once its session is killed it goes.
  Ok("KILL " + std::to_string(holder->spid()));
  Ok("DROP DATABASE Held");
  EXPECT_FALSE(fs::exists(Host("C:\\Data\\Held.mdf")));
  EXPECT_EQ(Run("EXEC sp_detach_db 'Held'").FirstError(), 15010);
  // A session cannot let go of the database it is in.
  Ok("CREATE DATABASE Mine ON (NAME = Mine, FILENAME = 'C:\\Data\\Mine.mdf')");
  EXPECT_EQ(Run("USE Mine EXEC master..sp_detach_db 'Mine'").FirstError(), 3703);
}

// --- options and states ------------------------------------------------------------------

TEST_F(DatabasesTest, DboptionListsAndSetsOptions) {
  Ok("CREATE DATABASE Opt ON (NAME = Opt, FILENAME = 'C:\\Data\\Opt.mdf')");
  RowSet all = Query("EXEC sp_dboption");
  ASSERT_EQ(all.columns.size(), 1u);
  EXPECT_EQ(all.columns[0].name, "Settable database options:");
  std::vector<std::string> options;
  for (const auto& row : all.rows) options.push_back(row[0].ToText());
  for (const char* option : {"autoshrink", "single user", "read only", "trunc. log on chkpt.",
                             "dbo use only", "offline"})
    EXPECT_NE(std::find(options.begin(), options.end(), option), options.end()) << option;

  RowSet set = Query("EXEC sp_dboption 'Opt'");
  EXPECT_EQ(set.columns.at(0).name, "The following options are set:");
  ASSERT_EQ(set.rows.size(), 3u);
  EXPECT_EQ(set.rows[2][0], Value("torn page detection"));

  Ok("EXEC sp_dboption 'Opt', 'autoshrink', 'TRUE'");
  RowSet one = Query("EXEC sp_dboption 'Opt', 'autosh'");
  ASSERT_EQ(one.columns.size(), 2u);
  EXPECT_EQ(one.columns[0].name, "OptionName");
  EXPECT_EQ(one.columns[1].name, "CurrentSetting");
  EXPECT_EQ(one.rows.at(0)[0], Value("autoshrink"));
  EXPECT_EQ(one.rows.at(0)[1], Value("ON"));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Opt', 'IsAutoShrink')"), Value(1));
  EXPECT_NE(Query("EXEC sp_helpdb 'Opt'").rows.size(), 0u);
  Ok("EXEC sp_dboption @dbname = 'Opt', @optname = 'autoshrink', @optvalue = 'off'");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Opt', 'IsAutoShrink')"), Value(0));

  Ok("EXEC sp_dboption 'Opt', 'trunc', 'true'");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Opt', 'Recovery')"), Value("SIMPLE"));
  Ok("EXEC sp_dboption 'Opt', 'read only', 'true'");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Opt', 'Updateability')"), Value("READ_ONLY"));
  EXPECT_EQ(Scalar("SELECT status & 1024 FROM master..sysdatabases WHERE name = 'Opt'"),
            Value(1024));

  EXPECT_EQ(Run("EXEC sp_dboption 'Opt', 'auto', 'true'").FirstError(), 15242);
  EXPECT_EQ(Run("EXEC sp_dboption 'Opt', 'no such thing', 'true'").FirstError(), 15011);
  EXPECT_EQ(Run("EXEC sp_dboption 'Opt', 'autoshrink', 'maybe'").FirstError(), 15241);
  EXPECT_EQ(Run("EXEC sp_dboption 'Nothing', 'autoshrink', 'true'").FirstError(), 15010);
  EXPECT_EQ(Run("EXEC sp_dboption 'master', 'single user', 'true'").FirstError(), 5058);

  // The server catalogue is no part of a transaction: these refuse to run in one.
  EXPECT_EQ(Run("BEGIN TRAN EXEC sp_dboption 'Opt', 'autoshrink', 'true'").FirstError(), 15002);
  EXPECT_EQ(Run("EXEC sp_renamedb 'Opt', 'Other'").FirstError(), 15002);
  EXPECT_EQ(Run("EXEC sp_detach_db 'Opt'").FirstError(), 15002);
  EXPECT_EQ(Run("EXEC sp_attach_db 'x', 'C:\\Data\\x.mdf'").FirstError(), 226);
  EXPECT_EQ(Run("ALTER DATABASE Opt SET AUTO_SHRINK ON").FirstError(), 226);
  EXPECT_EQ(Run("ALTER DATABASE Opt COLLATE Latin1_General_BIN").FirstError(), 226);
  EXPECT_EQ(Run("ALTER DATABASE Opt MODIFY FILE (NAME = Opt, SIZE = 5MB)").FirstError(), 226);
  EXPECT_EQ(Run("ALTER DATABASE Opt MODIFY NAME = Other").FirstError(), 226);
  Ok("ROLLBACK");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Opt', 'Collation')"),
            Scalar("SELECT SERVERPROPERTY('Collation')"));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Opt', 'IsAutoShrink')"), Value(0));
}

TEST_F(DatabasesTest, SingleUserModeAdmitsOneSession) {
  Ok("CREATE DATABASE Solo ON (NAME = Solo, FILENAME = 'C:\\Data\\Solo.mdf')");
  auto inside = Connect("Solo");
  EXPECT_EQ(
      Failure("EXEC sp_dboption 'Solo', 'single user', 'true'"),
      "5070: Database state cannot be changed while other users are using the database 'Solo'");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Solo', 'UserAccess')"), Value("MULTI_USER"));

  // Ending the others makes room.
  Ok("ALTER DATABASE Solo SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
  EXPECT_THROW(Run(*inside, "SELECT 1"), SessionError);
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Solo', 'UserAccess')"), Value("SINGLE_USER"));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Solo', 'IsSingleUser')"), Value(1));

  auto first = Connect("Solo");
  try {
    Connect("Solo");
    ADD_FAILURE() << "a second session entered a single-user database";
  } catch (const ConnectError& e) {
    EXPECT_EQ(e.message().number, 924);
    EXPECT_EQ(e.message().text,
              "Database 'Solo' is already open and can only have one user at a time.");
  }
  EXPECT_EQ(Run("USE Solo").FirstError(), 924);
  first.reset();
  Ok("USE Solo");
  Ok("USE master ALTER DATABASE Solo SET MULTI_USER");
  auto again = Connect("Solo");
  auto and_again = Connect("Solo");
  EXPECT_EQ(Query(*and_again, "SELECT db_name()").rows.at(0).at(0), Value("Solo"));
}

TEST_F(DatabasesTest, ReadOnlyAndOfflineDatabases) {
  Ok("CREATE DATABASE Frozen ON (NAME = Frozen, FILENAME = 'C:\\Data\\Frozen.mdf')");
  Ok("USE Frozen CREATE TABLE t (a INT) INSERT INTO t VALUES (1) USE master");
  Ok("ALTER DATABASE Frozen SET READ_ONLY");
  EXPECT_EQ(Failure("INSERT INTO Frozen..t VALUES (2)"),
            "3906: Could not run BEGIN TRANSACTION in database 'Frozen' because the database is "
            "read-only.");
  EXPECT_EQ(Run("USE Frozen CREATE TABLE u (a INT)").FirstError(), 3906);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Frozen..t"), Value(1));
  Ok("USE master ALTER DATABASE Frozen SET READ_WRITE");
  Ok("INSERT INTO Frozen..t VALUES (2)");

  Ok("ALTER DATABASE Frozen SET OFFLINE");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Frozen', 'Status')"), Value("OFFLINE"));
  EXPECT_EQ(Run("USE Frozen").FirstError(), 942);
  Ok("ALTER DATABASE Frozen SET ONLINE");
  Ok("USE Frozen");

  EXPECT_EQ(Run("ALTER DATABASE Frozen SET NO_SUCH_OPTION ON").FirstError(), 170);
  EXPECT_EQ(Run("ALTER DATABASE Frozen SET RECOVERY SOMETIMES").FirstError(), 170);
  EXPECT_EQ(Run("ALTER DATABASE Frozen SET AUTO_SHRINK MAYBE").FirstError(), 102);
}

TEST_F(DatabasesTest, DatabasePropertiesFollowTheOptions) {
  Ok("CREATE DATABASE Props ON (NAME = Props, FILENAME = 'C:\\Data\\Props.mdf')");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'Collation')"),
            Value("SQL_Latin1_General_CP1_CI_AS"));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'Status')"), Value("ONLINE"));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'Version')"), Value(539));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'SQLSortOrder')"), Value(52));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'IsAutoCreateStatistics')"), Value(1));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'NoSuchProperty')"), Value());
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('NoSuchDatabase', 'Status')"), Value());
  Ok("ALTER DATABASE Props SET AUTO_CREATE_STATISTICS OFF, ANSI_NULLS ON, RESTRICTED_USER");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'IsAutoCreateStatistics')"), Value(0));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'IsAnsiNullsEnabled')"), Value(1));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'UserAccess')"), Value("RESTRICTED_USER"));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Props', 'IsDboOnly')"), Value(1));
  Ok("ALTER DATABASE Props COLLATE Latin1_General_CI_AS");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'Collation')"),
            Value("Latin1_General_CI_AS"));
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'SQLSortOrder')"), Value(0));
  EXPECT_EQ(Scalar("SELECT SERVERPROPERTY('Collation')"), Value("SQL_Latin1_General_CP1_CI_AS"));
  EXPECT_EQ(Run("ALTER DATABASE Props COLLATE x'; DROP DATABASE Props --").FirstError() == 0,
            false);
  EXPECT_EQ(Run("ALTER DATABASE Props COLLATE NoSuchThing").FirstError(), 448);
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Props', 'Collation')"),
            Value("Latin1_General_CI_AS"));

  Ok("CREATE DATABASE Cased ON (NAME = Cased, FILENAME = 'C:\\Data\\Cased.mdf') COLLATE "
     "Latin1_General_CS_AS");
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTYEX('Cased', 'Collation')"),
            Value("Latin1_General_CS_AS"));
  EXPECT_EQ(Run("CREATE DATABASE Odd COLLATE Klingon").FirstError(), 448);
  // The server's list of databases is read from any database.
  EXPECT_EQ(Scalar("USE Cased SELECT COUNT(*) FROM sysdatabases WHERE name = 'Odd'"), Value(0));
}

// --- hostile names and paths -------------------------------------------------------------

TEST_F(DatabasesTest, HostileNamesAndPathsStayInsideTheDrives) {
  Ok("CREATE DATABASE [O'Brien] ON (NAME = [O'Brien], FILENAME = 'C:\\Data\\O''Brien.mdf')");
  EXPECT_TRUE(fs::exists(Host("C:\\Data\\O'Brien_log.LDF")));
  EXPECT_EQ(Query("EXEC sp_helpdb 'O''Brien'").rows.at(0).at(0), Value("O'Brien"));
  Ok("EXEC sp_renamedb 'O''Brien', 'x]; DROP DATABASE model --'");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name IN ('model', 'x]; DROP "
                   "DATABASE model --')"),
            Value(2));
  Ok("EXEC sp_dboption 'x]; DROP DATABASE model --', 'autoshrink', 'true'");
  Ok("EXEC sp_detach_db 'x]; DROP DATABASE model --'");
  Ok("EXEC sp_attach_db 'x]', 'C:\\Data\\O''Brien.mdf'");
  Ok("DROP DATABASE [x]]]");
  EXPECT_FALSE(fs::exists(Host("C:\\Data\\O'Brien.mdf")));

  fs::path outside = root_.parent_path() / "outside-the-drives.mdf";
  std::string up = "C:\\..\\..\\..\\..\\..\\..\\..\\..\\" + outside.filename().string();
  // As on Windows, ".." stops at the root of the drive.
  Ok("CREATE DATABASE Outside ON (NAME = Outside, FILENAME = '" + up + "')");
  EXPECT_TRUE(fs::exists(Host("C:\\" + outside.filename().string())));
  EXPECT_FALSE(fs::exists(outside));
  Ok("DROP DATABASE Outside");
  EXPECT_NE(
      Run("CREATE DATABASE Outside ON (NAME = Outside, FILENAME = '..\\..\\x.mdf')").FirstError(),
      0);
  EXPECT_EQ(
      Run("CREATE DATABASE Outside ON (NAME = Outside, FILENAME = '\\\\server\\share\\x.mdf')")
          .FirstError(),
      5105);
  EXPECT_EQ(Run("EXEC sp_attach_db 'Outside', '/etc/hostname'").FirstError(), 5120);
  EXPECT_EQ(Run("EXEC sp_attach_single_file_db 'Outside', '" + up + "'").FirstError(), 5120);
  EXPECT_FALSE(fs::exists(outside));

  std::string long_name(129, 'd');
  EXPECT_EQ(Run("CREATE DATABASE " + long_name).FirstError(), 103);
  EXPECT_EQ(Run("EXEC sp_attach_db '" + long_name + "', 'C:\\Data\\x.mdf'").FirstError(), 103);
  std::string long_path = "C:\\Data\\" + std::string(400, 'p') + ".mdf";
  EXPECT_NE(Run("CREATE DATABASE LongPath ON (NAME = LongPath, FILENAME = '" + long_path + "')")
                .FirstError(),
            0);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases"), Value(4));
}

}  // namespace
}  // namespace sandbox::testing
