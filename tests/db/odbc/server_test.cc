// The client interface through the ODBC driver against the sandbox served over TDS: logins,
// messages, result sets, counts, types, long values, procedures and time-outs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <thread>

#include "db/command.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/odbc/odbc_fixture.h"
#include "db/recordset.h"

namespace db {
namespace {

using OdbcConnectTest = OdbcServerTest;
using OdbcExecuteTest = OdbcServerTest;

TEST_F(OdbcConnectTest, SqlLoginWithAHostilePasswordReachesTheServer) {
  Connection connection = Open("Initial Catalog=tempdb;Application Name=Tessera;");
  EXPECT_EQ(connection.State(), kStateOpen);
  EXPECT_EQ(connection.DefaultDatabase(), "tempdb");
  Recordset who = connection.Execute("SELECT SUSER_SNAME() AS login, DB_NAME() AS db");
  EXPECT_EQ(who.Fields("login").Value().ToText(), "sa");
  EXPECT_EQ(who.Fields("db").Value().ToText(), "tempdb");
  connection.Close();
  EXPECT_EQ(connection.State(), kStateClosed);
}

TEST_F(OdbcConnectTest, RefusedLoginsAreAuthenticationFailures) {
  const std::string cases[] = {"User Id=sa;Password=wrong;", "User Id=nobody;Password=x;",
                               "User Id=sa;Password=;"};
  for (const std::string& credentials : cases) {
    Connection connection(environment_);
    connection.SetConnectionString("Provider=SQLOLEDB;Data Source=" + DataSource() + ";" +
                                   credentials);
    try {
      connection.Open();
      FAIL() << credentials << ": no error";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), kErrorAuthenticationFailed) << credentials;
      EXPECT_EQ(error.native_error(), 18456) << credentials;
      EXPECT_EQ(error.severity(), 14) << credentials;
      EXPECT_NE(error.description().find("Login failed for user"), std::string::npos)
          << error.description();
      EXPECT_EQ(error.description().find("[FreeTDS]"), std::string::npos);
    }
    EXPECT_EQ(connection.State(), kStateClosed);
  }
}

TEST_F(OdbcConnectTest, WindowsAuthenticationFailureSaysKerberosIsNeeded) {
  Connection connection(environment_);
  connection.SetConnectionString("Provider=SQLOLEDB;Data Source=" + DataSource() +
                                 ";Integrated Security=SSPI;");
  try {
    connection.Open();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kErrorAuthenticationFailed);
    EXPECT_NE(error.description().find("Kerberos"), std::string::npos) << error.description();
  }
}

TEST_F(OdbcConnectTest, NoServerAndUnknownInstancesAreConnectionFailures) {
  // A port nobody listens on, and a named instance no Browser answers for.
  server_->Stop();
  const std::string sources[] = {DataSource(), "127.0.0.1\\NOSUCH", "bad name"};
  for (const std::string& source : sources) {
    Connection connection(environment_);
    connection.SetConnectionString("Provider=SQLOLEDB;Data Source=" + source +
                                   ";User Id=sa;Password=x;Connect Timeout=2;");
    try {
      connection.Open();
      FAIL() << source << ": no error";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), kErrorUnspecified) << source;
      EXPECT_EQ(error.native_error(), 17) << source;
      EXPECT_NE(error.description().find("SQL Server does not exist or access denied"),
                std::string::npos)
          << error.description();
    }
  }
}

// A server that takes the connection and never answers: "Connect Timeout" ends the wait.
TEST_F(OdbcConnectTest, ConnectTimeoutEndsTheLoginWait) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  Connection connection(environment_);
  connection.SetConnectionString("Provider=SQLOLEDB;Data Source=127.0.0.1," +
                                 std::to_string(ntohs(address.sin_port)) +
                                 ";User Id=sa;Password=x;Connect Timeout=1;");
  auto start = std::chrono::steady_clock::now();
  try {
    connection.Open();
    ADD_FAILURE() << "connected to a silent server";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kErrorUnspecified);
    EXPECT_EQ(error.native_error(), 17);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  ::close(fd);
}

TEST_F(OdbcConnectTest, AMissingOdbcDriverIsAMissingProvider) {
  Connection connection(environment_);
  connection.SetConnectionString(ConnectionString("Driver=/nonexistent/libnothing.so;"));
  try {
    connection.Open();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kErrorProviderNotFound);
    EXPECT_NE(error.description().find("libnothing"), std::string::npos);
  }
}

TEST_F(OdbcExecuteTest, MessagesAreKeptApartFromErrors) {
  Connection connection = Open();
  connection.Execute("PRINT 'hello'");
  auto errors = connection.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].description, "hello");
  EXPECT_FALSE(errors[0].IsError());

  connection.Execute("USE tempdb");
  EXPECT_EQ(connection.DefaultDatabase(), "tempdb");
  errors = connection.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].native_error, 5701);
  EXPECT_EQ(errors[0].description, "Changed database context to 'tempdb'.");
  EXPECT_FALSE(errors[0].IsError());

  struct Case {
    const char* batch;
    std::int32_t native;
    std::int32_t number;
    int severity;
    const char* text;
  };
  const Case cases[] = {
      {"RAISERROR('Bad [thing]; ''%s''', 16, 1, N'w\xC3\xB6rd')", 50000, kErrorsInCommand, 16,
       "Bad [thing]; 'w\xC3\xB6rd'"},
      {"SELECT * FROM NoSuchTable", 208, kErrorNoTable, 16, "Invalid object name 'NoSuchTable'."},
      {"PRINT 'before' RAISERROR('after print', 11, 1)", 50000, kErrorsInCommand, 11,
       "after print"},
      // FreeTDS gives this one SQLSTATE 08004, yet the connection stays.
      {"USE [no such]", 911, ProviderNumberFor(911), 16,
       "Could not locate entry in sysdatabases for database 'no such'. No entry found with that "
       "name. Make sure that the name is entered correctly."},
  };
  for (const Case& c : cases) {
    try {
      connection.Execute(c.batch);
      FAIL() << c.batch << ": no error";
    } catch (const Error& error) {
      EXPECT_EQ(error.native_error(), c.native) << c.batch;
      EXPECT_EQ(error.number(), c.number) << c.batch;
      EXPECT_EQ(error.severity(), c.severity) << c.batch;
      EXPECT_EQ(error.description(), c.text) << c.batch;
    }
  }
  // The connection is still usable after errors.
  EXPECT_EQ(connection.Execute("SELECT 7 AS n").Fields("n").Value(), Value(7));
}

TEST_F(OdbcExecuteTest, ResultSetsAndCountsComeInTheServersOrder) {
  Connection connection = Open("Initial Catalog=tempdb;");
  std::int64_t affected = -1;
  connection.Execute("CREATE TABLE T (id int, name nvarchar(40) NULL)", &affected);
  connection.Execute("INSERT INTO T VALUES (1, N'a') INSERT INTO T VALUES (2, NULL)", &affected);
  EXPECT_EQ(affected, 1);
  connection.Execute("UPDATE T SET name = N'b'", &affected);
  EXPECT_EQ(affected, 2);
  connection.Execute("UPDATE T SET name = N'c' WHERE id = 99", &affected);
  EXPECT_EQ(affected, 0);

  Recordset first = connection.Execute(
      "UPDATE T SET name = N'd' WHERE id = 1 SELECT id FROM T ORDER BY id SELECT COUNT(*) AS n "
      "FROM T");
  // The count of the UPDATE comes first, as a result without rows.
  EXPECT_EQ(first.State(), kStateClosed);
  std::int64_t count = -1;
  Recordset ids = first.NextRecordset(&count);
  ASSERT_EQ(ids.State(), kStateOpen);
  EXPECT_EQ(ids.Fields("id").Value(), Value(1));
  ids.MoveNext();
  EXPECT_EQ(ids.Fields("id").Value(), Value(2));
  ids.MoveNext();
  EXPECT_TRUE(ids.Eof());
  Recordset total = ids.NextRecordset();
  ASSERT_EQ(total.State(), kStateOpen);
  EXPECT_EQ(total.Fields("n").Value(), Value(2));
  EXPECT_EQ(total.NextRecordset().State(), kStateClosed);
}

TEST_F(OdbcExecuteTest, ValuesKeepTheirTypesNullsAndText) {
  Connection connection = Open("Initial Catalog=tempdb;");
  connection.Execute(
      "CREATE TABLE V (i int NULL, b bigint NULL, v varchar(20) NULL, n nvarchar(40) NULL, "
      "d datetime NULL, f float NULL, t bit NULL)");
  connection.Execute(
      "INSERT INTO V VALUES (-5, 9000000000, 'plain', N'\xC3\xA9t\xC3\xA9 \xE2\x82\xAC "
      "\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80', '2024-02-29 13:45:06.250', 1.5, 1)");
  connection.Execute("INSERT INTO V VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  Recordset rows = connection.Execute("SELECT * FROM V ORDER BY i DESC");
  EXPECT_EQ(rows.Fields("i").Value(), Value(-5));
  EXPECT_EQ(rows.Fields("b").Value(), Value(9000000000LL));
  EXPECT_EQ(rows.Fields("v").Value(), Value("plain"));
  EXPECT_EQ(rows.Fields("n").Value(),
            Value("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"));
  EXPECT_EQ(rows.Fields("d").Value(), Value(common::DateTime{2024, 2, 29, 13, 45, 6, 250}));
  EXPECT_EQ(rows.Fields("f").Value(), Value(1.5));
  EXPECT_EQ(rows.Fields("t").Value(), Value(true));
  EXPECT_EQ(rows.Fields("n").Type(), kTypeVarWChar);
  EXPECT_EQ(rows.Fields("n").DefinedSize(), 40);
  rows.MoveNext();
  for (const char* name : {"i", "b", "v", "n", "d", "f", "t"})
    EXPECT_TRUE(rows.Fields(name).Value().IsNull()) << name;
}

TEST_F(OdbcExecuteTest, LongTextAndImagesArriveWhole) {
  Connection connection = Open("Initial Catalog=tempdb;");
  connection.Execute("CREATE TABLE L (id int, body ntext NULL, data image NULL)");
  // Larger than any one piece the driver reads, with a character that needs two UTF-16 units
  // right where a piece could end.
  std::string text;
  while (text.size() < 100000) text += "abc\xF0\x9F\x98\x80\xC3\xB6";
  common::Bytes bytes(70001);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  Recordset document;
  document.Open("L", connection, kOpenStatic, kLockOptimistic, kCmdTable);
  document.AddNew();
  document.Fields("id").SetValue(Value(1));
  document.Fields("body").AppendChunk(Value(text.substr(0, 5000)));
  document.Fields("body").AppendChunk(Value(text.substr(5000)));
  document.Fields("data").AppendChunk(Value(bytes));
  document.Update();
  document.Close();

  Recordset back = connection.Execute("SELECT body, data FROM L WHERE id = 1");
  EXPECT_EQ(back.Fields("body").Value(), Value(text));
  EXPECT_EQ(back.Fields("data").Value(), Value(bytes));
  EXPECT_EQ(back.Fields("data").Type(), kTypeLongVarBinary);
}

TEST_F(OdbcExecuteTest, ClientCursorUpdatesFindTheirRow) {
  Connection connection = Open("Initial Catalog=tempdb;");
  connection.Execute("CREATE TABLE K (id int IDENTITY(1, 1) PRIMARY KEY, name varchar(20) NULL)");
  connection.Execute("INSERT INTO K (name) VALUES ('one')");
  Recordset rows;
  rows.SetCursorLocation(kUseClient);
  rows.Open("SELECT id, name FROM K", connection, kOpenStatic, kLockOptimistic);
  rows.Fields("name").SetValue(Value("it's"));
  rows.Update();
  EXPECT_EQ(connection.Execute("SELECT name FROM K WHERE id = 1").Fields("name").Value(),
            Value("it's"));
  // A new row learns the identity the server gave it (@@IDENTITY is a decimal(38, 0)).
  rows.AddNew();
  rows.Fields("name").SetValue(Value("two"));
  rows.Update();
  EXPECT_EQ(rows.Fields("id").Value(), Value(2));
  Recordset numbers = connection.Execute(
      "SELECT @@IDENTITY AS i, CONVERT(decimal(10, 0), NULL) AS nothing, "
      "CONVERT(decimal(10, 2), 1.25) AS d");
  EXPECT_EQ(numbers.Fields("i").Value(), Value(2));
  EXPECT_TRUE(numbers.Fields("nothing").Value().IsNull());
  EXPECT_EQ(numbers.Fields("d").Value(), Value(1.25));
  // Changed meanwhile by someone else: the update finds no row and says so.
  connection.Execute("UPDATE K SET name = 'other'");
  rows.Fields("name").SetValue(Value("mine"));
  EXPECT_THROW(rows.Update(), Error);
}

TEST_F(OdbcExecuteTest, ProceduresReturnOutputParametersAndStatus) {
  Connection connection = Open("Initial Catalog=tempdb;");
  connection.Execute(
      "CREATE PROCEDURE Twice @In int, @Out int OUTPUT AS SELECT @Out = @In * 2 PRINT 'in "
      "proc' RETURN 7");
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdStoredProc);
  command.SetCommandText("Twice");
  command.Parameters().Append(
      command.CreateParameter("RETURN_VALUE", kTypeInteger, kParamReturnValue, 4));
  command.Parameters().Append(
      command.CreateParameter("@In", kTypeInteger, kParamInput, 4, Value(21)));
  command.Parameters().Append(command.CreateParameter("@Out", kTypeInteger, kParamOutput, 4));
  command.Execute();
  EXPECT_EQ(command.Parameters("@Out").Value(), Value(42));
  EXPECT_EQ(command.Parameters("RETURN_VALUE").Value(), Value(7));

  // A parameterised batch: the value travels bound, quotes and all.
  Command query;
  query.SetActiveConnection(connection);
  query.SetCommandText("SELECT ? + N'!' AS said");
  query.Parameters().Append(
      query.CreateParameter("", kTypeVarWChar, kParamInput, 40, Value("O'Brien; DROP TABLE x --")));
  Recordset said = query.Execute();
  EXPECT_EQ(said.Fields("said").Value(), Value("O'Brien; DROP TABLE x --!"));

  // A system procedure as the domain calls it.
  Command who;
  who.SetActiveConnection(connection);
  who.SetCommandType(kCmdStoredProc);
  who.SetCommandText("sp_who");
  Recordset sessions;
  sessions.Open(who);
  while (sessions.State() == kStateOpen && sessions.Fields().Count() == 0)
    sessions = sessions.NextRecordset();
  ASSERT_EQ(sessions.State(), kStateOpen);
  int listed = 0;
  for (; !sessions.Eof(); sessions.MoveNext()) ++listed;
  EXPECT_GE(listed, 1);
}

// A statement that runs long without sending anything (WAITFOR, a loop) stops at the command
// time-out or a cancel from another thread, well before it would end, and the connection goes on.
TEST_F(OdbcExecuteTest, TimeOutsAndCancelStopStatementsThatSendNothing) {
  Connection connection = Open();
  const char* batches[] = {"WAITFOR DELAY '00:00:10'",
                           "DECLARE @i int SET @i = 0 WHILE 1 = 1 SET @i = @i + 1"};
  for (const char* batch : batches) {
    for (bool cancel : {false, true}) {
      connection.SetCommandTimeout(cancel ? 30 : 1);
      std::thread canceller;
      if (cancel) {
        canceller = std::thread([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          connection.Cancel();
        });
      }
      auto start = std::chrono::steady_clock::now();
      try {
        connection.Execute(batch);
        ADD_FAILURE() << batch << ": not stopped";
      } catch (const Error& error) {
        if (cancel) {
          EXPECT_EQ(error.number(), HResult(0x80040E4E)) << batch;
        } else {
          EXPECT_EQ(error.number(), kErrorTimeoutExpired) << batch;
          EXPECT_EQ(error.description(), "Timeout expired") << batch;
        }
      }
      if (canceller.joinable()) canceller.join();
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
          << batch << (cancel ? " (cancel)" : " (time-out)");
      connection.SetCommandTimeout(30);
      EXPECT_EQ(connection.Execute("SELECT 1 AS one").Fields("one").Value(), Value(1)) << batch;
    }
  }
}

}  // namespace
}  // namespace db

namespace db {
namespace {

// The events of one request, straight from the driver.
std::vector<std::string> Events(DriverSession& session, const std::string& text) {
  DriverRequest request;
  request.text = text;
  std::vector<std::string> out;
  auto stream = session.Execute(request);
  ResultEvent e;
  while (stream->Next(e)) {
    switch (e.kind) {
      case ResultEvent::Kind::kBeginRowSet:
        out.push_back("rows " + e.columns.at(0).name);
        break;
      case ResultEvent::Kind::kRow:
        out.push_back("row " + e.row.at(0).ToText());
        break;
      case ResultEvent::Kind::kEndRowSet:
        break;
      case ResultEvent::Kind::kDone:
        out.push_back("done " + std::to_string(e.rows_affected));
        break;
      case ResultEvent::Kind::kMessage:
        out.push_back("message " + std::to_string(e.message.number) + " " + e.message.text);
        break;
    }
  }
  return out;
}

using OdbcDriverTest = OdbcServerTest;

TEST_F(OdbcDriverTest, ResultsAfterAFailedStatementAreKept) {
  ConnectRequest request;
  request.data_source = DataSource();
  request.user = "sa";
  request.password = kSaPassword;
  std::unique_ptr<DriverSession> session = driver_->Connect(request);
  using Lines = std::vector<std::string>;
  EXPECT_EQ(Events(*session, "SELECT 1 AS a RAISERROR('x', 16, 1) SELECT 2 AS b"),
            (Lines{"rows a", "row 1", "done 1", "message 50000 x", "rows b", "row 2", "done 1"}));
  // The very first statement fails: the rest of the batch still comes (unixODBC resets the
  // statement, the driver keeps the results).
  EXPECT_EQ(Events(*session, "RAISERROR('y', 16, 1) SELECT 3 AS c"),
            (Lines{"message 50000 y", "rows c", "row 3", "done 1"}));
  Events(*session, "CREATE TABLE #t (a int) INSERT #t VALUES (1)");
  // A statement after an error keeps its count.
  EXPECT_EQ(Events(*session, "RAISERROR('y', 16, 1) UPDATE #t SET a = a"),
            (Lines{"message 50000 y", "done 1"}));
  EXPECT_EQ(Events(*session, "SELECT 0 AS z RAISERROR('y', 16, 1) UPDATE #t SET a = a"),
            (Lines{"rows z", "row 0", "done 1", "message 50000 y", "done 1"}));
  EXPECT_EQ(Events(*session, "PRINT 'p' SELECT 4 AS d PRINT 'q'"),
            (Lines{"message 0 p", "rows d", "row 4", "done 1", "message 0 q", "done -1"}));
}

}  // namespace
}  // namespace db

namespace db {
namespace {

// The server ends the session (KILL, a stopped service): the next statements fail as with a
// broken connection, the way the in-process driver reports it.
TEST_F(OdbcServerTest, AnEndedSessionIsAGeneralNetworkError) {
  Connection connection = Open();
  const int spid = static_cast<int>(
      connection.Execute("SELECT @@SPID AS spid").Fields("spid").Value().ToInt().value_or(0));
  ASSERT_TRUE(instance_->DropSession(spid));
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      connection.Execute("SELECT 1");
      ADD_FAILURE() << "no error";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), kErrorUnspecified);
      EXPECT_EQ(error.native_error(), 11);
      EXPECT_NE(error.description().find("General network error"), std::string::npos)
          << error.description();
    }
  }
  Connection other = Open();
  EXPECT_EQ(other.Execute("SELECT 5 AS five").Fields("five").Value(), Value(5));
}

}  // namespace
}  // namespace db

namespace db {
namespace {

// FreeTDS forced to protocol 7.1 (SQL Server 2000's), as the connection string may ask.
TEST_F(OdbcServerTest, ProtocolVersion71CarriesTheSameValues) {
  Connection connection = Open("TDS_Version=7.1;Initial Catalog=tempdb;");
  connection.Execute("CREATE TABLE V (n nvarchar(20) NULL, d datetime NULL, b image NULL)");
  connection.Execute(
      "INSERT INTO V VALUES (N'\xE6\x97\xA5\xE6\x9C\xAC', '2003-01-02 10:20:30.500', 0x0102)");
  Recordset rows = connection.Execute("SELECT n, d, b, 9000000000 AS big FROM V");
  EXPECT_EQ(rows.Fields("n").Value(), Value("\xE6\x97\xA5\xE6\x9C\xAC"));
  EXPECT_EQ(rows.Fields("d").Value(), Value(common::DateTime{2003, 1, 2, 10, 20, 30, 500}));
  EXPECT_EQ(rows.Fields("b").Value(), Value(common::Bytes{1, 2}));
  EXPECT_EQ(rows.Fields("big").Value(), Value(9000000000LL));
  std::int64_t affected = -1;
  connection.Execute("UPDATE V SET n = N'x'", &affected);
  EXPECT_EQ(affected, 1);
}

}  // namespace
}  // namespace db

namespace db {
namespace {

// A batch as a client sees it, with each message's line.
std::vector<std::string> Seen(DriverSession& session, const std::string& text) {
  DriverRequest request;
  request.text = text;
  return db::Seen(session, request, true);
}

// One instance, reached both in process and over ODBC, as the suites that run both ways see it.
class OdbcAsInProcessTest : public OdbcServerTest {
 protected:
  void SetUp() override {
    OdbcServerTest::SetUp();
    if (IsSkipped()) return;
    ConnectRequest request;
    request.data_source = DataSource();
    request.user = "sa";
    request.password = kSaPassword;
    request.catalog = "tempdb";
    odbc_ = driver_->Connect(request);
    sandbox_driver_ = std::make_shared<SandboxDriver>(host_);
    request.data_source = "(sandbox)";
    in_process_ = sandbox_driver_->Connect(request);
  }
  void TearDown() override {
    if (odbc_) odbc_->Close();
    if (in_process_) in_process_->Close();
    OdbcServerTest::TearDown();
  }
  std::shared_ptr<SandboxDriver> sandbox_driver_;
  std::unique_ptr<DriverSession> odbc_;
  std::unique_ptr<DriverSession> in_process_;
};

// Batches whose first statement fails, and others: both drivers hand over the same results in
// the same order.
TEST_F(OdbcAsInProcessTest, BatchesGiveTheSameResultsBothWays) {
  using Lines = std::vector<std::string>;
  Seen(*in_process_,
       "CREATE TABLE K (id int CONSTRAINT PK_K PRIMARY KEY, name varchar(20) NULL) "
       "INSERT INTO K VALUES (1, 'one')");
  struct Case {
    const char* batch;
    Lines expected;
  };
  const Case cases[] = {
      {"RAISERROR('first [one]; ''x''', 16, 2) SELECT 3 AS c",
       {"message 50000 severity 16 line 1: first [one]; 'x'", "rows c", "row 3", "count 1"}},
      {"INSERT INTO K VALUES (1, 'again')\nUPDATE K SET name = 'uno' WHERE id = 1\n"
       "SELECT id, name FROM K",
       {"message 2627 severity 14 line 1: Violation of PRIMARY KEY constraint 'PK_K'. Cannot "
        "insert duplicate key in object 'K'.",
        "message 3621 severity 0 line 1: The statement has been terminated.", "count 1",
        "rows id name", "row 1 uno", "count 1"}},
      {"SELECT 1 / 0 AS x\nSELECT N'\xC3\xB6' AS y",
       {"message 8134 severity 16 line 1: Divide by zero error encountered.", "rows y",
        "row \xC3\xB6", "count 1"}},
      {"RAISERROR('a', 16, 1) RAISERROR('b', 11, 3) DELETE FROM K WHERE id = 99",
       {"message 50000 severity 16 line 1: a", "message 50000 severity 11 line 1: b", "count 0"}},
      // (ODBC ranks the messages of one call errors first, so a PRINT before an error would
      // come after it.)
      {"RAISERROR('q', 16, 1)\nPRINT 'p'\nSELECT 6 AS f",
       {"message 50000 severity 16 line 1: q", "message 0 severity 0 line 2: p", "rows f", "row 6",
        "count 1"}},
  };
  for (const Case& c : cases) {
    Lines in_process = Seen(*in_process_, c.batch);
    Lines over_odbc = Seen(*odbc_, c.batch);
    EXPECT_EQ(over_odbc, in_process) << c.batch;
    // Not merely alike: both as the server sends them.
    EXPECT_EQ(over_odbc, c.expected) << c.batch;
  }
}

// The client interface raises the first error with its fields, and the rest of the batch has
// run and been read.
TEST_F(OdbcAsInProcessTest, AFailedFirstStatementRaisesItsErrorAndKeepsTheRest) {
  Connection connection = Open("Initial Catalog=tempdb;");
  connection.Execute("CREATE TABLE R (id int)");
  try {
    connection.Execute("RAISERROR('no; [good]', 16, 4) INSERT INTO R VALUES (1) SELECT 9 AS n");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kErrorsInCommand);
    EXPECT_EQ(error.native_error(), 50000);
    EXPECT_EQ(error.severity(), 16);
    EXPECT_EQ(error.description(), "no; [good]");
  }
  EXPECT_EQ(connection.Execute("SELECT COUNT(*) AS n FROM R").Fields("n").Value(), Value(1));
}

}  // namespace
}  // namespace db

namespace db {
namespace {

// What ODBC clients ask the server about keys and types, the same both ways.
TEST_F(OdbcAsInProcessTest, CatalogProceduresDescribeKeysAndTypes) {
  using Lines = std::vector<std::string>;
  Seen(*in_process_,
       "CREATE TABLE [Key's; [x]]] (b int NOT NULL, a nvarchar(10) NOT NULL, c int NULL, "
       "CONSTRAINT [PK Both] PRIMARY KEY (a, b)) CREATE TABLE NoKey (n int)");
  const std::string pkeys =
      "rows TABLE_QUALIFIER TABLE_OWNER TABLE_NAME COLUMN_NAME KEY_SEQ PK_NAME";
  const std::string types =
      "rows TYPE_NAME DATA_TYPE PRECISION LITERAL_PREFIX LITERAL_SUFFIX CREATE_PARAMS NULLABLE "
      "CASE_SENSITIVE SEARCHABLE UNSIGNED_ATTRIBUTE MONEY AUTO_INCREMENT LOCAL_TYPE_NAME "
      "MINIMUM_SCALE MAXIMUM_SCALE SQL_DATA_TYPE SQL_DATETIME_SUB NUM_PREC_RADIX "
      "INTERVAL_PRECISION USERTYPE";
  struct Case {
    const char* batch;
    Lines expected;
  };
  const Case cases[] = {
      // Key order, not column order; a name that needs quoting is passed as it is.
      {"EXEC sp_pkeys 'Key''s; [x]'",
       {pkeys, "row tempdb dbo Key's; [x] a 1 PK Both", "row tempdb dbo Key's; [x] b 2 PK Both",
        "count 2"}},
      {"EXEC sp_pkeys @table_name = N'Key''s; [x]', @table_owner = 'dbo', "
       "@table_qualifier = 'tempdb'",
       {pkeys, "row tempdb dbo Key's; [x] a 1 PK Both", "row tempdb dbo Key's; [x] b 2 PK Both",
        "count 2"}},
      {"EXEC sp_pkeys 'NoKey'", {pkeys, "count 0"}},
      {"EXEC sp_pkeys 'no such'", {pkeys, "count 0"}},
      {"EXEC sp_pkeys 'Key''s; [x]', 'nobody'", {pkeys, "count 0"}},
      {"EXEC sp_pkeys 'NoKey', NULL, 'master'",
       {"message 15250 severity 16 line 1: The database name component of the object qualifier "
        "must be the name of the current database."}},
      {"EXEC sp_datatype_info 12",
       {types,
        "row varchar 12 8000 ' ' max length 1 0 3 NULL 0 NULL varchar NULL NULL 12 NULL "
        "NULL NULL 2",
        "count 1"}},
      {"EXEC sp_datatype_info -9",
       {types,
        "row nvarchar -9 4000 N' ' max length 1 0 3 NULL 0 NULL nvarchar NULL NULL -9 NULL NULL "
        "NULL 0",
        "row sysname -9 128 N' ' NULL 1 0 3 NULL 0 NULL sysname NULL NULL -9 NULL NULL NULL 256",
        "count 2"}},
      // ODBC 3 numbers the date-time types apart from ODBC 2.
      {"EXEC sp_datatype_info @data_type = 93, @ODBCVer = 3",
       {types, "row datetime 93 23 ' ' NULL 1 0 3 NULL 0 NULL datetime 3 3 9 3 NULL NULL 12",
        "row smalldatetime 93 16 ' ' NULL 1 0 3 NULL 0 NULL smalldatetime 0 0 9 3 NULL NULL 22",
        "count 2"}},
      {"EXEC sp_datatype_info 93", {types, "count 0"}},
      {"EXEC sp_datatype_info 3",
       {types,
        "row decimal 3 38 NULL NULL precision,scale 1 0 2 0 0 0 decimal 0 38 3 NULL 10 NULL 24",
        "row money 3 19 $ NULL NULL 1 0 2 0 1 0 money 4 4 3 NULL 10 NULL 11",
        "row smallmoney 3 10 $ NULL NULL 1 0 2 0 1 0 smallmoney 4 4 3 NULL 10 NULL 21",
        "row decimal() identity 3 38 NULL NULL precision 1 0 2 0 0 1 decimal() identity 0 0 3 "
        "NULL 10 NULL 24",
        "count 4"}},
  };
  for (const Case& c : cases) {
    Lines in_process = Seen(*in_process_, c.batch);
    Lines over_odbc = Seen(*odbc_, c.batch);
    EXPECT_EQ(over_odbc, in_process) << c.batch;
    EXPECT_EQ(in_process, c.expected) << c.batch;
  }
  // Every type once, for clients that list them all.
  Lines all = Seen(*odbc_, "EXEC sp_datatype_info");
  EXPECT_EQ(all.size(), 1u + 32u + 1u);
}

}  // namespace
}  // namespace db

namespace db {
namespace {

std::vector<bool> KeyFlags(DriverSession& session, const std::string& text) {
  DriverRequest request;
  request.text = text;
  std::vector<bool> keys;
  auto stream = session.Execute(request);
  ResultEvent e;
  while (stream->Next(e)) {
    if (e.kind != ResultEvent::Kind::kBeginRowSet) continue;
    for (const ColumnInfo& c : e.columns) keys.push_back(c.key_column);
  }
  return keys;
}

// The client cursor learns a table's key through sp_pkeys, as in process from the engine: an
// update then finds its row by the key and the fields it changed, whatever else changed.
TEST_F(OdbcAsInProcessTest, TheClientCursorKnowsTheKeyColumns) {
  Seen(*in_process_,
       "CREATE TABLE [K c] (id int NOT NULL, part char(2) NOT NULL, name varchar(20) NULL, "
       "other int NULL, CONSTRAINT PK_KC PRIMARY KEY (part, id)) "
       "INSERT INTO [K c] VALUES (1, 'a', 'one', 0) CREATE TABLE Plain (n int NULL)");
  struct Case {
    const char* query;
    std::vector<bool> keys;
  };
  const Case cases[] = {
      {"SELECT id, part, name, other FROM [K c]", {true, true, false, false}},
      {"SELECT name, id FROM dbo.[K c] WHERE id = 1", {false, true}},
      {"SELECT n FROM Plain", {false}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyFlags(*odbc_, c.query), c.keys) << c.query;
    EXPECT_EQ(KeyFlags(*in_process_, c.query), c.keys) << c.query;
  }

  Connection connection = Open("Initial Catalog=tempdb;");
  Recordset rows;
  rows.SetCursorLocation(kUseClient);
  rows.Open("SELECT id, part, name, other FROM [K c]", connection, kOpenStatic, kLockOptimistic);
  Seen(*in_process_, "UPDATE [K c] SET other = 5");
  rows.Fields("name").SetValue(Value("mine"));
  rows.Update();
  Recordset back = connection.Execute("SELECT name, other FROM [K c]");
  EXPECT_EQ(back.Fields("name").Value(), Value("mine"));
  EXPECT_EQ(back.Fields("other").Value(), Value(5));
  // The field it changed is still compared with what it read.
  Seen(*in_process_, "UPDATE [K c] SET name = 'theirs'");
  rows.Fields("name").SetValue(Value("again"));
  EXPECT_THROW(rows.Update(), Error);
}

}  // namespace
}  // namespace db

namespace db {
namespace {

// What a parameterised batch makes of a parameter: the type of the result column and the value.
std::pair<std::string, std::string> Typed(DriverSession& session, DriverParameter parameter) {
  DriverRequest request;
  parameter.name = "@p";
  request.parameters.push_back(parameter);
  request.text = "SELECT @p AS v";
  std::pair<std::string, std::string> out;
  auto stream = session.Execute(request);
  ResultEvent e;
  while (stream->Next(e)) {
    if (e.kind == ResultEvent::Kind::kBeginRowSet) out.first = e.columns.at(0).type_name;
    if (e.kind == ResultEvent::Kind::kMessage) out.second += "message " + e.message.text;
    if (e.kind != ResultEvent::Kind::kRow) continue;
    const Value& v = e.row.at(0);
    if (const common::Bytes* bytes = v.AsBytes()) {
      static const char kHex[] = "0123456789ABCDEF";
      out.second = "0x";
      for (std::uint8_t b : *bytes) out.second += {kHex[b >> 4], kHex[b & 15]};
    } else {
      out.second = v.IsNull() ? "NULL" : v.ToText();
    }
  }
  return out;
}

// Each parameter is declared as its own type, decimals with their precision and scale and an
// exact value. (The listener still sends varchar result columns as nvarchar and decimals as
// float, so over the network only the values are compared.)
TEST_F(OdbcAsInProcessTest, ParametersKeepTheirOwnTypes) {
  auto p = [](const char* type, int size, Value value, int precision = 0, int scale = 0) {
    DriverParameter dp;
    dp.type_name = type;
    dp.size = size;
    dp.value = std::move(value);
    dp.precision = precision;
    dp.scale = scale;
    return dp;
  };
  struct Case {
    DriverParameter parameter;
    std::string type;  // in process
    std::string value;
    bool in_process = true;  // the in-process driver keeps no precision and scale yet
  };
  const Case cases[] = {
      {p("varchar", 20, Value("it's; [x]")), "varchar", "it's; [x]"},
      {p("nvarchar", 20, Value("\xE6\x97\xA5\xE6\x9C\xAC")), "nvarchar",
       "\xE6\x97\xA5\xE6\x9C\xAC"},
      {p("decimal", 0, Value(1234.5678), 10, 4), "decimal", "1234.5678", false},
      {p("decimal", 0, Value(1234.5678), 6, 1), "decimal", "1234.6", false},
      {p("decimal", 0, Value(0.000001234)), "decimal", "1.234e-06", false},
      {p("numeric", 0, Value(-7.25)), "numeric", "-7.25", false},
      {p("bigint", 0, Value(9000000000LL)), "bigint", "9000000000"},
      {p("datetime", 0, Value(common::DateTime{2004, 2, 29, 23, 59, 58, 997})), "datetime",
       Value(common::DateTime{2004, 2, 29, 23, 59, 58, 997}).ToText()},
      {p("varbinary", 4, Value(common::Bytes{0, 1, 0xFE, 0xFF})), "varbinary", "0x0001FEFF"},
      {p("bit", 0, Value(true)), "bit", Value(true).ToText()},
      {p("", 0, Value("untyped \xC3\xB6")), "nvarchar", "untyped \xC3\xB6"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Typed(*odbc_, c.parameter).second, c.value)
        << c.parameter.type_name << " " << c.value;
    if (!c.in_process) continue;
    EXPECT_EQ(Typed(*in_process_, c.parameter), std::make_pair(c.type, c.value))
        << c.parameter.type_name;
  }
}

}  // namespace
}  // namespace db
