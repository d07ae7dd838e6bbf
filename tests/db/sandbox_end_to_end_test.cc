// The client interface against a real sandbox server: what the product relies on, end to end.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/command.h"
#include "db/connection.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/environment.h"
#include "db/fake_fixture.h"
#include "db/recordset.h"

namespace db {
namespace {

class SandboxEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = common::testing::ScratchFolder("db-sandbox");
    host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root_));
    instance_ = host_->Create("", sandbox::InstanceConfig{});
    DriverRegistry drivers;
    drivers.Add(std::make_shared<SandboxDriver>(host_, "alice", "WORKSTATION"));
    environment_ = Environment::Create(std::move(drivers));
    log_ = std::make_shared<StatementLog>();
    environment_->AddObserver(log_);
  }

  void TearDown() override {
    instance_.reset();
    host_.reset();
    common::testing::RemoveScratch(root_);
  }

  Connection Open(const std::string& rest = "Integrated Security=SSPI;") {
    Connection connection(environment_);
    connection.SetConnectionString("Provider=SQLOLEDB;Data Source=(sandbox);" + rest);
    connection.Open();
    return connection;
  }

  // A collection-like table with an identity key, a long text and an image column.
  Connection OpenWithDocumentTable() {
    Connection connection = Open();
    connection.Execute("CREATE DATABASE Quillarchive_T");
    connection.Execute("USE Quillarchive_T");
    connection.Execute(
        "CREATE TABLE Document (EntryID int IDENTITY (1, 1) NOT NULL PRIMARY KEY, Title "
        "nvarchar(255) NULL, TypeID int NULL, BinaryContent image NULL, BinaryData bit NOT NULL "
        "DEFAULT 0, Content ntext NULL)");
    log_->Clear();
    return connection;
  }

  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  std::shared_ptr<Environment> environment_;
  std::shared_ptr<StatementLog> log_;
};

TEST_F(SandboxEndToEndTest, LoginsByIntegratedSecurityAndSqlAuthentication) {
  Connection integrated = Open();
  Recordset rs;
  rs.Open("SELECT SUSER_SNAME()", integrated);
  EXPECT_EQ(rs.Fields(0).Value(), Value("SANDBOX\\alice"));
  rs.Close();

  Connection sql = Open("User Id=sa;Password=;");
  EXPECT_EQ(sql.State(), kStateOpen);

  Connection wrong(environment_);
  wrong.SetConnectionString("Provider=SQLOLEDB;Data Source=(sandbox);User Id=sa;Password=x;");
  Error refused = CatchError([&] { wrong.Open(); });
  EXPECT_EQ(refused.number(), kErrorAuthenticationFailed);
  EXPECT_EQ(refused.native_error(), 18456);

  Connection missing(environment_);
  missing.SetConnectionString("Data Source=(sandbox)\\NOPE;Integrated Security=SSPI;");
  EXPECT_EQ(CatchError([&] { missing.Open(); }).number(), kErrorUnspecified);
}

TEST_F(SandboxEndToEndTest, LoginsFromManyThreadsAtOnceEachGetASessionOfTheirOwn) {
  // As a window connecting every registration at once does.
  constexpr int kThreads = 12;
  std::vector<std::optional<Connection>> connections(kThreads);
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      try {
        connections[i] = Open(i % 2 ? "User Id=sa;Password=;" : "Integrated Security=SSPI;");
      } catch (const std::exception& error) {
        failures[i] = error.what();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::int64_t> spids;
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_EQ(failures[i], "") << i;
    Recordset rs;
    rs.Open("SELECT @@SPID", *connections[i]);
    spids.insert(*rs.Fields(0).Value().ToInt());
    rs.Close();
  }
  EXPECT_EQ(spids.size(), static_cast<size_t>(kThreads));
}

TEST_F(SandboxEndToEndTest, RowlessResultsComeBeforeTheRows) {
  Connection connection = Open();
  connection.Execute("CREATE TABLE #t (n int)");
  Recordset rs;
  rs.Open(
      "SET NOCOUNT OFF; INSERT INTO #t VALUES (1); INSERT INTO #t VALUES (2); PRINT 'x'; "
      "SELECT n FROM #t ORDER BY n",
      connection);
  int skipped = 0;
  while (rs.State() != kStateOpen && skipped < 100) {
    rs.NextRecordset();
    ++skipped;
  }
  EXPECT_EQ(skipped, 3);  // two counts and a message
  std::vector<Value> values;
  for (; !rs.Eof(); rs.MoveNext()) values.push_back(rs.Fields("N").Value());
  EXPECT_EQ(values, (std::vector<Value>{Value(1), Value(2)}));
}

TEST_F(SandboxEndToEndTest, ErrorsOfABatchAreRaisedWithTheServersTextAndNumber) {
  Connection connection = Open();
  Error error = CatchError([&] { connection.Execute("SELECT * FROM nosuch"); });
  EXPECT_EQ(error.number(), kErrorNoTable);
  EXPECT_EQ(error.native_error(), 208);
  EXPECT_EQ(error.description(), "Invalid object name 'nosuch'.");

  Recordset rs;
  rs.Open("SELECT 1 AS a; SELECT * FROM nosuch", connection);
  ASSERT_EQ(rs.State(), kStateOpen);
  EXPECT_EQ(rs.Fields("a").Value(), Value(1));
  EXPECT_EQ(CatchError([&] { rs.NextRecordset(); }).native_error(), 208);
}

TEST_F(SandboxEndToEndTest, AddNewWithAChunkOf51BytesReadsBack) {
  Connection connection = OpenWithDocumentTable();
  common::Bytes bytes;
  for (int i = 0; i < 51; ++i) bytes.push_back(static_cast<std::uint8_t>(255 - i));
  Recordset rs;
  rs.Open("Document", connection, kOpenStatic, kLockOptimistic, kCmdTable);
  rs.AddNew();
  rs.Fields("Title").SetValue("Vorlage 'eins'");
  rs.Fields("TypeID").SetValue(100);
  rs.Fields("BinaryContent").AppendChunk(Value(bytes));
  rs.Fields("BinaryData").SetValue(false);
  rs.Fields("Content").SetValue("<html>\xE2\x82\xAC</html>");
  rs.Update();
  EXPECT_EQ(rs.Fields("EntryID").Value(), Value(1));
  rs.Close();
  EXPECT_EQ(log_->Texts()[2], "SELECT @@IDENTITY");

  Recordset back;
  back.Open("SELECT * FROM Document WHERE EntryID=1", connection);
  ASSERT_FALSE(back.Eof());
  EXPECT_EQ(back.Fields("BinaryContent").Value(), Value(bytes));
  EXPECT_EQ(back.Fields("BinaryContent").ActualSize(), 51);
  EXPECT_EQ(back.Fields("Title").Value(), Value("Vorlage 'eins'"));
  EXPECT_EQ(back.Fields("Content").Value(), Value("<html>\xE2\x82\xAC</html>"));
}

TEST_F(SandboxEndToEndTest, UpdatesFindTheirRowAndNoticeChangesMadeMeanwhile) {
  Connection connection = OpenWithDocumentTable();
  connection.Execute("INSERT INTO Document (Title, BinaryData) VALUES ('O''Brien', 0)");
  connection.Execute("INSERT INTO Document (Title, BinaryData) VALUES ('other', 0)");
  Recordset rs;
  rs.Open("SELECT Top 250 Document.* FROM Document WHERE BinaryData=0 ORDER BY EntryID", connection,
          kOpenStatic, kLockOptimistic);
  rs.Fields("Content").SetValue("");
  rs.Fields("BinaryData").SetValue(true);
  rs.Update();
  rs.MoveNext();

  // Another user converts the same document first: the criteria on the original value of
  // BinaryData no longer match.
  Connection other = Open("Integrated Security=SSPI;Initial Catalog=Quillarchive_T;");
  other.Execute("UPDATE Document SET BinaryData=1, Title='theirs' WHERE EntryID=2");
  rs.Fields("BinaryData").SetValue(true);
  rs.Fields("Title").SetValue("mine");
  EXPECT_EQ(CatchError([&] { rs.Update(); }).number(), kErrorRowNotLocated);
  rs.CancelUpdate();
  rs.Close();

  Recordset check;
  check.Open("SELECT EntryID, Title, BinaryData FROM Document ORDER BY EntryID", connection);
  EXPECT_EQ(check.Fields("Title").Value(), Value("O'Brien"));
  EXPECT_EQ(check.Fields("BinaryData").Value(), Value(true));
  check.MoveNext();
  EXPECT_EQ(check.Fields("Title").Value(), Value("theirs"));
}

TEST_F(SandboxEndToEndTest, StoredProcedureCallsReturnOutputParameters) {
  Connection connection = Open();
  connection.Execute(
      "CREATE PROCEDURE dbo.NextId (@Name VARCHAR(255), @Id SMALLINT OUTPUT) AS SELECT @Id = "
      "LEN(@Name) + 1000 RETURN 7");
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdStoredProc);
  command.SetCommandText("dbo.NextId");
  Parameter status = command.CreateParameter("@RETURN_VALUE", kTypeInteger, kParamReturnValue);
  Parameter id = command.CreateParameter("@Id", kTypeSmallInt, kParamOutput);
  command.Parameters().Append(status);
  command.Parameters().Append(
      command.CreateParameter("@Name", kTypeVarChar, kParamInput, 255, Value("it's")));
  command.Parameters().Append(id);
  command.Execute();
  EXPECT_EQ(id.Value(), Value(1004));
  EXPECT_EQ(status.Value(), Value(7));
}

TEST_F(SandboxEndToEndTest, FilterAndSortOnAClientRecordset) {
  Connection connection = Open();
  connection.SetCursorLocation(kUseClient);
  Recordset rs;
  rs.Open("SELECT name, dbid FROM master..sysdatabases", connection, kOpenForwardOnly,
          kLockOptimistic, kCmdText);
  EXPECT_GE(rs.RecordCount(), 4);
  rs.SetFilter("name = 'MASTER' OR name LIKE 'temp*'");
  EXPECT_EQ(rs.RecordCount(), 2);
  rs.SetSort("name DESC");
  EXPECT_EQ(rs.Fields("name").Value(), Value("tempdb"));
}

TEST_F(SandboxEndToEndTest, TimeOutsAndKilledSessions) {
  Connection connection = Open();
  connection.SetCommandTimeout(1);
  Error timeout = CatchError([&] { connection.Execute("WAITFOR DELAY '00:00:03'"); });
  EXPECT_EQ(timeout.number(), kErrorTimeoutExpired);

  Recordset rs;
  rs.Open("SELECT @@SPID", connection);
  int spid = static_cast<int>(*rs.Fields(0).Value().ToInt());
  rs.Close();
  Connection admin = Open();
  admin.Execute("KILL " + std::to_string(spid));
  Error broken = CatchError([&] { connection.Execute("SELECT 1"); });
  EXPECT_EQ(broken.number(), kErrorUnspecified);
  EXPECT_NE(broken.description().find("General network error"), std::string::npos);
  connection.Close();
  connection.Open();
  EXPECT_NO_THROW(connection.Execute("SELECT 1"));
}

// Cancel from another thread stops what runs long without sending anything; a cancel while
// nothing runs is not held against the next statement.
TEST_F(SandboxEndToEndTest, CancelStopsLongStatementsAndLeavesTheSessionUsable) {
  Connection connection = Open();
  const char* batches[] = {
      "WAITFOR DELAY '00:00:10'",
      "DECLARE @i int SET @i = 0 WHILE 1 = 1 SET @i = @i + 1",
      // One query that runs long inside SQLite.
      "CREATE TABLE #n (i int) DECLARE @i int SET @i = 0 "
      "WHILE @i < 200 BEGIN INSERT INTO #n VALUES (@i) SET @i = @i + 1 END "
      "SELECT COUNT(*) FROM #n a, #n b, #n c, #n d",
  };
  for (const char* batch : batches) {
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      connection.Cancel();
    });
    auto start = std::chrono::steady_clock::now();
    Error cancelled = CatchError([&] { connection.Execute(batch); });
    canceller.join();
    EXPECT_EQ(cancelled.number(), HResult(0x80040E4E)) << batch;
    EXPECT_EQ(cancelled.description(), "Operation canceled") << batch;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << batch;
    EXPECT_EQ(connection.Execute("SELECT 3 AS n").Fields("n").Value(), Value(3)) << batch;
  }
  connection.Cancel();
  EXPECT_EQ(connection.Execute("WAITFOR DELAY '00:00:00.100' SELECT 4 AS n").Fields("n").Value(),
            Value(4));
}

TEST_F(SandboxEndToEndTest, TheObserverNamesTheCatalogEachStatementRanIn) {
  Connection connection = Open();
  connection.Execute("CREATE DATABASE Quillarchive_Obs");
  connection.Execute("USE Quillarchive_Obs");
  connection.Execute("SELECT 1");
  auto statements = log_->statements();
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_EQ(statements[1].catalog, "master");
  EXPECT_EQ(statements[2].catalog, "Quillarchive_Obs");
  EXPECT_EQ(statements[2].data_source, "(sandbox)");
}

}  // namespace
}  // namespace db
