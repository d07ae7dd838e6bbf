// BACKUP DATABASE / LOG to disk files, RESTORE DATABASE / FILELISTONLY / HEADERONLY, and the
// DBCC commands an administrator types (CHECKDB, SQLPERF, OPENTRAN, INPUTBUFFER), with the
// messages and result columns of SQL Server 2000's documentation.
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;
namespace fs = std::filesystem;

class BackupRestoreTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    ASSERT_TRUE(fs::create_directories(instance_->MapPath("C:\\Data")));
    ASSERT_TRUE(fs::create_directories(instance_->MapPath("C:\\Backup")));
  }

  // A database with a table of three rows.
  void MakeDatabase(const std::string& name, const std::string& file_stem) {
    Ok("CREATE DATABASE " + name + " ON (NAME = " + file_stem + ", FILENAME = 'C:\\Data\\" +
       file_stem + ".mdf') LOG ON (NAME = " + file_stem + "_log, FILENAME = 'C:\\Data\\" +
       file_stem + "_log.ldf')");
    Ok("USE " + name +
       " CREATE TABLE t (id INT PRIMARY KEY, v NVARCHAR(40)) INSERT INTO t VALUES (1, N'one') "
       "INSERT INTO t VALUES (2, N'zwei; ''two'' [2]') INSERT INTO t VALUES (3, N'Ünïcode') "
       "USE master");
  }

  std::vector<std::int32_t> Numbers(const CollectingSink& sink) {
    std::vector<std::int32_t> numbers;
    for (const ServerMessage& m : sink.messages) numbers.push_back(m.number);
    return numbers;
  }

  std::vector<std::int32_t> ErrorNumbers(const CollectingSink& sink) {
    std::vector<std::int32_t> numbers;
    for (const ServerMessage* m : sink.Errors()) numbers.push_back(m->number);
    return numbers;
  }

  std::vector<std::string> Texts(const CollectingSink& sink, std::int32_t number) {
    std::vector<std::string> texts;
    for (const ServerMessage& m : sink.messages)
      if (m.number == number) texts.push_back(m.text);
    return texts;
  }
};

// --- what BACKUP and RESTORE print ---------------------------------------------------------

// BACKUP DATABASE pubs TO DISK = ...: "Processed 112 pages for database 'pubs', file 'pubs' on
// file 1." for the data file and the log, then "BACKUP DATABASE successfully processed 113 pages
// in 0.161 seconds (5.712 MB/sec)."; RESTORE prints the same for each file.
TEST_F(BackupRestoreTest, BackupAndRestorePrintTheProcessedPagesAsTheServerDoes) {
  MakeDatabase("Sales", "Sales");
  struct Case {
    const char* batch;
    const char* summary;
  } cases[] = {
      {"BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\Sales.bak' WITH INIT", "BACKUP DATABASE"},
      {"BACKUP LOG Sales TO DISK = 'C:\\Backup\\Sales.bak'", "BACKUP LOG"},
      {"RESTORE DATABASE Sales FROM DISK = 'C:\\Backup\\Sales.bak' WITH FILE = 1",
       "RESTORE DATABASE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = Run(c.batch);
    ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
    std::vector<std::string> processed = Texts(sink, 4035);
    ASSERT_FALSE(processed.empty());
    std::string file_no = std::string(c.summary) == "BACKUP LOG" ? "2" : "1";
    for (const std::string& text : processed)
      EXPECT_TRUE(std::regex_match(
          text, std::regex("Processed [1-9][0-9]* pages for database 'Sales', file "
                           "'Sales(_log)?' on file " +
                           file_no + "\\.")))
          << text;
    std::vector<std::string> summary = Texts(sink, 3014);
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        summary[0], std::regex(std::string(c.summary) +
                               " successfully processed [1-9][0-9]* pages in [0-9]+\\.[0-9]{3} "
                               "seconds \\([0-9]+\\.[0-9]{3} MB/sec\\)\\.")))
        << summary[0];
  }
  // A database backup carries both files; the log backup only the log.
  EXPECT_EQ(Query("RESTORE FILELISTONLY FROM DISK = 'C:\\Backup\\Sales.bak'").rows.size(), 2u);
  EXPECT_EQ(
      Query("RESTORE FILELISTONLY FROM DISK = 'C:\\Backup\\Sales.bak' WITH FILE = 2").rows.size(),
      1u);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Sales..t").ToInt(), 3);
  // A restored database's log may be backed up at once.
  Ok("BACKUP LOG Sales TO DISK = 'C:\\Backup\\Sales.bak'");
}

// STATS [= percentage]: "10 percent backed up." ... and "... percent restored.".
TEST_F(BackupRestoreTest, StatsReportsProgressInSteps) {
  MakeDatabase("Sales", "Sales");
  struct Case {
    const char* batch;
    std::vector<std::string> expected;
  } cases[] = {
      {"BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\s.bak' WITH STATS = 50",
       {"50 percent backed up.", "100 percent backed up."}},
      {"BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\s.bak' WITH INIT, STATS = 25",
       {"25 percent backed up.", "50 percent backed up.", "75 percent backed up.",
        "100 percent backed up."}},
      {"RESTORE DATABASE Sales FROM DISK = 'C:\\Backup\\s.bak' WITH STATS = 50, REPLACE",
       {"50 percent restored.", "100 percent restored."}},
      {"BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\s.bak' WITH INIT", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = Run(c.batch);
    EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
    EXPECT_EQ(Texts(sink, 3211), c.expected);
  }
}

// NOINIT appends a backup set, INIT overwrites them, FORMAT starts new media; RESTORE
// HEADERONLY lists the sets with the columns SQL Server 2000 documents.
TEST_F(BackupRestoreTest, HeaderOnlyListsTheBackupSetsAsInitAndNoinitLeaveThem) {
  MakeDatabase("Sales", "Sales");
  const std::string device = "DISK = 'C:\\Backup\\Sales.bak'";
  Ok("BACKUP DATABASE Sales TO " + device +
     " WITH NAME = 'first; ''full'' [1]', DESCRIPTION = "
     "N'Ünïcode description'");
  Ok("BACKUP DATABASE Sales TO " + device + " WITH NOINIT, NAME = 'second'");
  Ok("BACKUP LOG Sales TO " + device + " WITH NAME = 'log'");
  RowSet header = Query("RESTORE HEADERONLY FROM " + device);
  EXPECT_EQ(ColumnNames(header), (std::vector<std::string>{"BackupName",
                                                           "BackupDescription",
                                                           "BackupType",
                                                           "ExpirationDate",
                                                           "Compressed",
                                                           "Position",
                                                           "DeviceType",
                                                           "UserName",
                                                           "ServerName",
                                                           "DatabaseName",
                                                           "DatabaseVersion",
                                                           "DatabaseCreationDate",
                                                           "BackupSize",
                                                           "FirstLsn",
                                                           "LastLsn",
                                                           "CheckpointLsn",
                                                           "DatabaseBackupLsn",
                                                           "BackupStartDate",
                                                           "BackupFinishDate",
                                                           "SortOrder",
                                                           "CodePage",
                                                           "UnicodeLocaleId",
                                                           "UnicodeComparisonStyle",
                                                           "CompatibilityLevel",
                                                           "SoftwareVendorId",
                                                           "SoftwareVersionMajor",
                                                           "SoftwareVersionMinor",
                                                           "SoftwareVersionBuild",
                                                           "MachineName",
                                                           "Flags",
                                                           "BindingID",
                                                           "RecoveryForkID",
                                                           "Collation"}));
  ASSERT_EQ(header.rows.size(), 3u);
  struct Expected {
    const char* name;
    std::int64_t type;
    std::int64_t position;
  } expected[] = {{"first; 'full' [1]", 1, 1}, {"second", 1, 2}, {"log", 2, 3}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(header.rows[i][0].ToText(), expected[i].name);
    EXPECT_EQ(header.rows[i][2].ToInt(), expected[i].type);
    EXPECT_EQ(header.rows[i][5].ToInt(), expected[i].position);
    EXPECT_EQ(header.rows[i][9].ToText(), "Sales");
    EXPECT_EQ(header.rows[i][10].ToInt(), 539);  // a 2000 database
    EXPECT_EQ(header.rows[i][25].ToInt(), 8);
  }
  EXPECT_EQ(header.rows[0][1].ToText(), "Ünïcode description");
  // Log sequence numbers grow from set to set.
  EXPECT_LT(header.rows[0][13].ToInt(), header.rows[1][13].ToInt());
  EXPECT_LT(header.rows[1][13].ToInt(), header.rows[2][13].ToInt());

  // A log backup names the database backup it follows.
  EXPECT_EQ(header.rows[2][16].ToInt(), header.rows[1][13].ToInt());
  EXPECT_EQ(Query("RESTORE HEADERONLY FROM " + device + " WITH FILE = 2").rows.size(), 1u);
  Ok("BACKUP DATABASE Sales TO " + device + " WITH INIT, NAME = 'only'");
  header = Query("RESTORE HEADERONLY FROM " + device);
  ASSERT_EQ(header.rows.size(), 1u);
  EXPECT_EQ(header.rows[0][0].ToText(), "only");
  Ok("BACKUP DATABASE Sales TO " + device + " WITH FORMAT");
  EXPECT_EQ(Query("RESTORE HEADERONLY FROM " + device).rows.size(), 1u);
}

// A 7.0 server's header has no Flags, BindingID, RecoveryForkID or Collation, and its
// databases are version 515.
TEST_F(BackupRestoreTest, HeaderOnlyOfA70ServerHasItsColumns) {
  InstanceConfig config;
  config.product_version = "7.00.1063";
  auto seven = host_->Create("SEVEN", config);
  LoginRequest request;
  request.login = "sa";
  std::unique_ptr<Session> session = seven->Connect(request);
  fs::create_directories(seven->MapPath("C:\\Backup"));
  Ok(*session, "CREATE DATABASE Old BACKUP DATABASE Old TO DISK = 'C:\\Backup\\pubs.bak'");
  RowSet header = Query(*session, "RESTORE HEADERONLY FROM DISK = 'C:\\Backup\\pubs.bak'");
  ASSERT_EQ(header.columns.size(), 29u);
  EXPECT_EQ(header.columns.back().name, "MachineName");
  ASSERT_EQ(header.rows.size(), 1u);
  EXPECT_EQ(header.rows[0].size(), 29u);
  EXPECT_EQ(header.rows[0][10].ToInt(), 515);
  EXPECT_EQ(header.rows[0][25].ToInt(), 7);
}

// RESTORE FILELISTONLY: LogicalName, PhysicalName, Type (D data, L log), FileGroupName, Size,
// MaxSize, one row per file of the set.
TEST_F(BackupRestoreTest, FileListOnlyNamesTheFilesOfTheSet) {
  MakeDatabase("Sales", "Sales");
  Ok("BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\Sales.bak'");
  RowSet files = Query("RESTORE FILELISTONLY FROM DISK = 'C:\\Backup\\Sales.bak'");
  EXPECT_EQ(ColumnNames(files), (std::vector<std::string>{"LogicalName", "PhysicalName", "Type",
                                                          "FileGroupName", "Size", "MaxSize"}));
  ASSERT_EQ(files.rows.size(), 2u);
  EXPECT_EQ(files.rows[0][0].ToText(), "Sales");
  EXPECT_EQ(files.rows[0][1].ToText(), "C:\\Data\\Sales.mdf");
  EXPECT_EQ(files.rows[0][2].ToText(), "D");
  EXPECT_EQ(files.rows[0][3].ToText(), "PRIMARY");
  EXPECT_EQ(files.rows[1][0].ToText(), "Sales_log");
  EXPECT_EQ(files.rows[1][1].ToText(), "C:\\Data\\Sales_log.ldf");
  EXPECT_EQ(files.rows[1][2].ToText(), "L");
  EXPECT_TRUE(files.rows[1][3].IsNull());
  EXPECT_GT(files.rows[0][4].ToInt().value_or(0), 0);
}

// --- RESTORE's choices ---------------------------------------------------------------------

// FILE = n restores the n-th set; REPLACE puts the backup over a database; MOVE makes a copy
// under another name beside the original.
TEST_F(BackupRestoreTest, FileReplaceAndMoveChooseWhatIsRestoredWhere) {
  MakeDatabase("Sales", "Sales");
  const std::string device = "DISK = 'C:\\Backup\\Sales.bak'";
  Ok("BACKUP DATABASE Sales TO " + device);
  Ok("INSERT INTO Sales..t VALUES (4, N'four')");
  Ok("BACKUP DATABASE Sales TO " + device);
  Ok("INSERT INTO Sales..t VALUES (5, N'five')");

  struct Case {
    std::string batch;
    std::string count_query;
    std::int64_t rows;
  } cases[] = {
      // The same database by its own name needs no REPLACE.
      {"RESTORE DATABASE Sales FROM " + device + " WITH FILE = 1", "SELECT COUNT(*) FROM Sales..t",
       3},
      {"RESTORE DATABASE Sales FROM " + device + " WITH FILE = 2, REPLACE",
       "SELECT COUNT(*) FROM Sales..t", 4},
      {"RESTORE DATABASE [Sales Copy; 'Ü'] FROM " + device +
           " WITH FILE = 1, MOVE 'Sales' TO 'C:\\Data\\copy''s.mdf', MOVE N'Sales_log' TO "
           "'C:\\Data\\copy''s_log.ldf'",
       "SELECT COUNT(*) FROM [Sales Copy; 'Ü']..t", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = Run(c.batch);
    ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
    EXPECT_EQ(Scalar(c.count_query).ToInt(), c.rows);
  }
  // The copy uses the files MOVE named; the original is untouched.
  EXPECT_TRUE(fs::exists(instance_->MapPath("C:\\Data\\copy's.mdf")));
  EXPECT_EQ(Scalar("SELECT filename FROM [Sales Copy; 'Ü']..sysfiles WHERE fileid = 2").ToText(),
            "C:\\Data\\copy's_log.ldf");
  EXPECT_EQ(Scalar("SELECT v FROM Sales..t WHERE id = 3").ToText(), "Ünïcode");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name LIKE 'Sales%'").ToInt(),
            2);
}

// Refusals, each followed by 3013 "... is terminating abnormally.", as SQL Server 2000 words
// them; nothing is changed by a refused statement.
TEST_F(BackupRestoreTest, RefusalsGiveTheServerErrorsAndLeaveEverythingAsItWas) {
  MakeDatabase("Sales", "Sales");
  MakeDatabase("Other", "Other");
  Ok("BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\Sales.bak'");
  {
    std::ofstream junk(instance_->MapPath("C:\\Backup\\notes.txt"));
    junk << "not a backup; 'quoted' [x]";
  }
  std::unique_ptr<Session> user = Connect("Sales");
  Ok("EXEC sp_dboption 'Other', 'trunc. log on chkpt.', 'true'");
  Ok("CREATE DATABASE Stray ON (NAME = Stray, FILENAME = 'C:\\Data\\Stray.mdf') LOG ON (NAME = "
     "Stray_log, FILENAME = 'C:\\Data\\Stray_log.ldf')");
  struct Case {
    std::string batch;
    std::vector<std::int32_t> errors;
  } cases[] = {
      // Exclusive access could not be obtained because the database is in use.
      {"RESTORE DATABASE Sales FROM DISK = 'C:\\Backup\\Sales.bak'", {3101, 3013}},
      // The backup set holds a backup of a database other than the existing 'Other' database.
      {"RESTORE DATABASE Other FROM DISK = 'C:\\Backup\\Sales.bak'", {3154, 3013}},
      // A new name, but the files are the original's: 1834, then "Use WITH MOVE".
      {"RESTORE DATABASE Fresh FROM DISK = 'C:\\Backup\\Sales.bak'",
       {1834, 3156, 1834, 3156, 3013}},
      {"RESTORE DATABASE Fresh FROM DISK = 'C:\\Backup\\Sales.bak' WITH FILE = 9", {4038, 3013}},
      {"RESTORE DATABASE Fresh FROM DISK = 'C:\\Backup\\Sales.bak' WITH MOVE 'Nope' TO "
       "'C:\\Data\\n.mdf'",
       {3234, 3013}},
      {"RESTORE DATABASE Fresh FROM DISK = 'C:\\Backup\\missing.bak'", {3201, 3013}},
      {"RESTORE HEADERONLY FROM DISK = 'C:\\Backup\\notes.txt'", {3241, 3013}},
      {"RESTORE DATABASE Fresh FROM DISK = 'C:\\Backup\\Sales.bak' WITH MOVE 'Sales' TO "
       "'C:\\Data\\Stray.mdf', MOVE 'Sales_log' TO 'C:\\Data\\f_log.ldf'",
       {1834, 3156, 3013}},
      {"RESTORE DATABASE tempdb FROM DISK = 'C:\\Backup\\Sales.bak'", {3147, 3013}},
      {"BACKUP DATABASE [No'such; db] TO DISK = 'C:\\Backup\\x.bak'", {911, 3013}},
      {"BACKUP DATABASE Sales TO DISK = 'C:\\No folder\\x.bak'", {3201, 3013}},
      {"BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\notes.txt'", {3241, 3013}},
      {"BACKUP DATABASE Sales TO SalesDevice", {3206, 3013}},
      {"BACKUP LOG Other TO DISK = 'C:\\Backup\\Other.bak'", {4208, 3013}},
      // BACKUP LOG cannot be performed because there is no current database backup.
      {"BACKUP LOG Stray TO DISK = 'C:\\Backup\\Stray.bak'", {4214, 3013}},
      {"BEGIN TRAN BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\Sales.bak' ROLLBACK", {3021, 3013}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    EXPECT_EQ(ErrorNumbers(Run(c.batch)), c.errors);
  }
  EXPECT_EQ(Query("RESTORE HEADERONLY FROM DISK = 'C:\\Backup\\Sales.bak'").rows.size(), 1u);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Other..t").ToInt(), 3);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysdatabases WHERE name = 'Fresh'").ToInt(), 0);
  EXPECT_FALSE(fs::exists(instance_->MapPath("C:\\Data\\f_log.ldf")));
  EXPECT_EQ(Run(*user, "SELECT COUNT(*) FROM t").FirstError(), 0);
}

// The refusals' texts, word for word.
TEST_F(BackupRestoreTest, RefusalsUseTheServersWords) {
  MakeDatabase("Sales", "Sales");
  MakeDatabase("Other", "Other");
  Ok("BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\Sales.bak'");
  std::unique_ptr<Session> user = Connect("Sales");
  struct Case {
    std::string batch;
    std::vector<std::string> texts;
  } cases[] = {
      {"RESTORE DATABASE Sales FROM DISK = 'C:\\Backup\\Sales.bak'",
       {"Exclusive access could not be obtained because the database is in use.",
        "RESTORE DATABASE is terminating abnormally."}},
      {"RESTORE DATABASE Other FROM DISK = 'C:\\Backup\\Sales.bak'",
       {"The backup set holds a backup of a database other than the existing 'Other' database.",
        "RESTORE DATABASE is terminating abnormally."}},
      {"RESTORE DATABASE Fresh FROM DISK = 'C:\\Backup\\Sales.bak' WITH MOVE 'Sales_log' TO "
       "'C:\\Data\\Fresh_log.ldf'",
       {"The file 'C:\\Data\\Sales.mdf' cannot be overwritten.  It is being used by database "
        "'Sales'.",
        "File 'Sales' cannot be restored to 'C:\\Data\\Sales.mdf'. Use WITH MOVE to identify a "
        "valid location for the file.",
        "RESTORE DATABASE is terminating abnormally."}},
      {"BACKUP DATABASE Sales TO DISK = 'C:\\Nowhere\\it''s.bak'",
       {"Cannot open backup device 'C:\\Nowhere\\it's.bak'. Device error or device off-line. "
        "See the SQL Server error log for more details.",
        "BACKUP DATABASE is terminating abnormally."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = Run(c.batch);
    std::vector<std::string> texts;
    for (const ServerMessage* m : sink.Errors()) texts.push_back(m->text);
    EXPECT_EQ(texts, c.texts);
  }
}

// A file on the way that no database uses is only overwritten WITH REPLACE (5170, then 3156).
TEST_F(BackupRestoreTest, AnUnusedFileInTheWayNeedsReplace) {
  MakeDatabase("Sales", "Sales");
  Ok("BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\Sales.bak'");
  Ok("DROP DATABASE Sales");
  { std::ofstream(instance_->MapPath("C:\\Data\\Sales.mdf")) << "someone's file"; }
  EXPECT_EQ(ErrorNumbers(Run("RESTORE DATABASE Sales FROM DISK = 'C:\\Backup\\Sales.bak'")),
            (std::vector<std::int32_t>{5170, 3156, 3013}));
  Ok("RESTORE DATABASE Sales FROM DISK = 'C:\\Backup\\Sales.bak' WITH REPLACE");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Sales..t").ToInt(), 3);
}

// Only sysadmin, dbcreator or the database's owner restore; BACKUP needs db_owner (262).
TEST_F(BackupRestoreTest, PermissionsOfBackupAndRestore) {
  MakeDatabase("Sales", "Sales");
  Ok("BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\Sales.bak'");
  Ok("EXEC sp_addlogin 'clerk', 'pw' EXEC Sales..sp_grantdbaccess 'clerk'");
  std::unique_ptr<Session> clerk = As("clerk", "pw", "Sales");
  struct Case {
    std::string batch;
    std::vector<std::int32_t> errors;
  } cases[] = {
      {"BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\c.bak'", {262, 3013}},
      {"RESTORE DATABASE Fresh FROM DISK = 'C:\\Backup\\Sales.bak'", {3110, 3013}},
      {"DBCC CHECKDB", {2571}},
      {"DBCC INPUTBUFFER (1)", {2571}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    EXPECT_EQ(ErrorNumbers(Run(*clerk, c.batch)), c.errors);
  }
}

// --- DBCC ----------------------------------------------------------------------------------

// DBCC CHECKDB: "DBCC results for 'pubs'.", a line per table ("There are 23 rows in 1 pages for
// object 'authors'."), "CHECKDB found 0 allocation errors and 0 consistency errors in database
// 'pubs'." and the closing 2528; WITH NO_INFOMSGS prints nothing when all is well.
TEST_F(BackupRestoreTest, CheckDbReportsTablesAndTheSummary) {
  MakeDatabase("[Sales; 'Ü']", "SalesU");
  CollectingSink sink = Run("USE [Sales; 'Ü'] DBCC CHECKDB");
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(Texts(sink, 2536), std::vector<std::string>{"DBCC results for 'Sales; 'Ü''."});
  EXPECT_EQ(Texts(sink, 2593),
            std::vector<std::string>{"There are 3 rows in 1 pages for object 't'."});
  EXPECT_EQ(Texts(sink, 8989),
            std::vector<std::string>{"CHECKDB found 0 allocation errors and 0 consistency errors "
                                     "in database 'Sales; 'Ü''."});
  EXPECT_EQ(Numbers(sink).back(), 2528);

  struct Case {
    const char* batch;
    std::vector<std::int32_t> messages;
  } cases[] = {
      {"DBCC CHECKDB WITH NO_INFOMSGS", {}},
      {"DBCC CHECKDB ('master') WITH NO_INFOMSGS", {}},
      {"DBCC CHECKDB (N'Sales; ''Ü''', NOINDEX) WITH NO_INFOMSGS", {}},
      {"DBCC CHECKDB ('Nothing')", {911}},
      {"DBCC CHECKDB ('master', EVERYTHING)", {2560}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    EXPECT_EQ(Numbers(Run(c.batch)), c.messages);
  }
}

// A damaged page is found: each fault is an 8939 error, the summary counts them and names the
// repair level (8958).
TEST_F(BackupRestoreTest, CheckDbFindsADamagedFile) {
  MakeDatabase("Sales", "Sales");
  Ok("USE Sales CREATE TABLE big (id INT PRIMARY KEY, v NVARCHAR(400)) "
     "INSERT INTO big VALUES (1, N'row') "
     "DECLARE @i INT SET @i = 0 WHILE @i < 11 BEGIN INSERT INTO big SELECT id + (SELECT MAX(id) "
     "FROM big), N'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'"
     " FROM big SET @i = @i + 1 END USE master");
  Ok("EXEC sp_detach_db 'Sales'");
  fs::path data = instance_->MapPath("C:\\Data\\Sales.mdf");
  std::uintmax_t size = fs::file_size(data);
  ASSERT_GT(size, 40u * 8192);
  {
    // Scribbles over the middle of a few pages near the end, where the big table lives.
    std::fstream file(data, std::ios::in | std::ios::out | std::ios::binary);
    for (std::uintmax_t page = size / 8192 - 6; page < size / 8192 - 1; ++page) {
      file.seekp(static_cast<std::streamoff>(page * 8192 + 16));
      std::string junk(400, '\x5a');
      file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
  }
  Ok("EXEC sp_attach_db 'Sales', 'C:\\Data\\Sales.mdf', 'C:\\Data\\Sales_log.ldf'");
  CollectingSink sink = Run("DBCC CHECKDB ('Sales') WITH NO_INFOMSGS");
  std::vector<std::string> summary = Texts(sink, 8989);
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_TRUE(
      std::regex_match(summary[0], std::regex("CHECKDB found 0 allocation errors and [1-9][0-9]* "
                                              "consistency errors in database 'Sales'\\.")))
      << summary[0];
  EXPECT_FALSE(Texts(sink, 8939).empty());
  EXPECT_EQ(Texts(sink, 8958),
            std::vector<std::string>{"repair_allow_data_loss is the minimum repair level for the "
                                     "errors found by DBCC CHECKDB (Sales )."});
}

// DBCC SQLPERF(LOGSPACE): Database Name, Log Size (MB), Log Space Used (%), Status for every
// database; a log backup empties the log.
TEST_F(BackupRestoreTest, SqlPerfLogSpaceListsEveryDatabase) {
  MakeDatabase("Sales", "Sales");
  RowSet space = Query("DBCC SQLPERF(LOGSPACE)");
  EXPECT_EQ(ColumnNames(space), (std::vector<std::string>{"Database Name", "Log Size (MB)",
                                                          "Log Space Used (%)", "Status"}));
  std::map<std::string, std::vector<Value>> by_name;
  for (const auto& row : space.rows) by_name[row[0].ToText()] = row;
  ASSERT_EQ(by_name.count("master"), 1u);
  ASSERT_EQ(by_name.count("Sales"), 1u);
  double size = by_name["Sales"][1].ToDouble().value_or(0);
  double used = by_name["Sales"][2].ToDouble().value_or(-1);
  EXPECT_GT(size, 0.0);
  EXPECT_GT(used, 0.0);
  EXPECT_LE(used, 100.0);
  Ok("BACKUP DATABASE Sales TO DISK = 'C:\\Backup\\Sales.bak'");
  Ok("USE Sales DECLARE @i INT SET @i = 0 WHILE @i < 200 BEGIN INSERT INTO t SELECT MAX(id) + 1, "
     "N'more' FROM t SET @i = @i + 1 END USE master");
  double filled = 0;
  for (const auto& row : Query("DBCC SQLPERF(LOGSPACE)").rows)
    if (row[0].ToText() == "Sales") filled = row[2].ToDouble().value_or(0);
  Ok("BACKUP LOG Sales TO DISK = 'C:\\Backup\\Sales.bak'");
  for (const auto& row : Query("DBCC SQLPERF(LOGSPACE)").rows)
    if (row[0].ToText() == "Sales") {
      EXPECT_LT(row[2].ToDouble().value_or(100), filled);
    }

  EXPECT_EQ(Run("DBCC SQLPERF").FirstError(), 2560);
  EXPECT_EQ(Run("DBCC SQLPERF(LOGSPACE, 1)").FirstError(), 2560);
}

// DBCC OPENTRAN: "No active open transactions." without one; the session's own transaction
// with its SPID, UID, name and start time when there is one.
TEST_F(BackupRestoreTest, OpenTranShowsTheOldestActiveTransaction) {
  MakeDatabase("Sales", "Sales");
  Ok("USE Sales");
  CollectingSink none = Run("DBCC OPENTRAN");
  EXPECT_EQ(Numbers(none), (std::vector<std::int32_t>{7969, 2528}));
  EXPECT_EQ(Texts(none, 7969), std::vector<std::string>{"No active open transactions."});
  CollectingSink open = Run("BEGIN TRAN INSERT INTO t VALUES (9, N'x') DBCC OPENTRAN ('Sales')");
  std::vector<std::string> texts = Texts(open, 0);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_TRUE(std::regex_search(
      texts[0], std::regex("Transaction information for database 'Sales'\\.\n\nOldest active "
                           "transaction:\n    SPID \\(server process ID\\) : " +
                           std::to_string(session_->spid()) +
                           "\n    UID \\(user ID\\) : 1\n    Name          : user_transaction\n"
                           "    LSN           : \\([0-9]+:[0-9]+:[0-9]+\\)\n    Start time    : "
                           "[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [ 0-9][0-9]:[0-9]{2}:[0-9]{2}:"
                           "[0-9]{3}[AP]M")))
      << texts[0];
  Ok("ROLLBACK");
  EXPECT_EQ(Numbers(Run("DBCC OPENTRAN ('Sales') WITH NO_INFOMSGS")),
            std::vector<std::int32_t>{7969});
}

// DBCC INPUTBUFFER (spid): EventType, Parameters, EventInfo (the first 255 characters of the
// session's last batch).
TEST_F(BackupRestoreTest, InputBufferShowsASessionsLastBatch) {
  std::unique_ptr<Session> other = Connect();
  std::string hostile = "SELECT N'Ü; ''quoted'' [x]' AS a -- " + std::string(300, 'z');
  Ok(*other, hostile);
  struct Case {
    std::string batch;
    std::string event_info;
  } cases[] = {
      {"DBCC INPUTBUFFER (" + std::to_string(other->spid()) + ")",
       hostile.substr(0, 255 + 1)},  // "Ü" is two bytes: 255 characters
      {"DBCC INPUTBUFFER (@@SPID)", "DBCC INPUTBUFFER (@@SPID)"},
      {"DECLARE @s INT SET @s = @@SPID DBCC INPUTBUFFER (@s) WITH NO_INFOMSGS",
       "DECLARE @s INT SET @s = @@SPID DBCC INPUTBUFFER (@s) WITH NO_INFOMSGS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    RowSet set = Query(c.batch);
    ASSERT_EQ(set.columns.size(), 3u);
    EXPECT_EQ(set.columns[0].name, "EventType");
    EXPECT_EQ(set.columns[1].name, "Parameters");
    EXPECT_EQ(set.columns[2].name, "EventInfo");
    ASSERT_EQ(set.rows.size(), 1u);
    EXPECT_EQ(set.rows[0][0].ToText(), "Language Event");
    EXPECT_EQ(set.rows[0][2].ToText(), c.event_info);
  }
  EXPECT_EQ(Run("DBCC INPUTBUFFER (32000)").FirstError(), 7955);
  EXPECT_EQ(Run("DBCC INPUTBUFFER ('x')").FirstError(), 2560);
}

}  // namespace
}  // namespace sandbox::testing
