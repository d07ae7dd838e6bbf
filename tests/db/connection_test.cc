#include "db/connection.h"

#include <gtest/gtest.h>

#include <sstream>

#include "db/recordset.h"
#include "fake_fixture.h"

namespace db {
namespace {

using testing::Column;
using testing::FakeResult;

class ConnectionTest : public FakeServerTest {};

TEST_F(ConnectionTest, OpensAndClosesAndRefusesToDoEitherTwice) {
  Connection connection(environment_);
  EXPECT_EQ(connection.State(), kStateClosed);
  connection.SetConnectionString("Provider=SQLOLEDB;Data Source=SRV01;Integrated Security=SSPI;");
  connection.Open();
  EXPECT_EQ(connection.State(), kStateOpen);
  EXPECT_EQ(server_->open_sessions(), 1);
  EXPECT_EQ(CatchError([&] { connection.Open(); }).number(), kErrorObjectOpen);
  EXPECT_EQ(CatchError([&] { connection.SetConnectionString("x=y"); }).number(), kErrorObjectOpen);
  connection.Close();
  EXPECT_EQ(connection.State(), kStateClosed);
  EXPECT_EQ(server_->open_sessions(), 0);
  EXPECT_EQ(CatchError([&] { connection.Close(); }).number(), kErrorObjectClosed);
  EXPECT_EQ(CatchError([&] { connection.Execute("SELECT 1"); }).number(), kErrorObjectClosed);
  // A closed connection opens again.
  connection.Open();
  EXPECT_EQ(connection.State(), kStateOpen);
}

TEST_F(ConnectionTest, ReleasingTheLastHandleEndsTheSession) {
  {
    Connection connection = Open();
    EXPECT_EQ(server_->open_sessions(), 1);
  }
  EXPECT_EQ(server_->open_sessions(), 0);
}

TEST_F(ConnectionTest, LoginDetailsReachTheDriver) {
  Connection integrated =
      Open("Integrated Security=SSPI;Initial Catalog=Quillarchive_Sales;Connect Timeout=5;");
  Connection sql = Open("User Id=sa;Password=\"p;w\";Application Name=Tessera;");
  Connection overridden(environment_);
  overridden.SetConnectionString("Data Source=SRV02;User ID=a;Password=b");
  overridden.Open("admin", "pw");

  auto connects = server_->connects();
  ASSERT_EQ(connects.size(), 3u);
  EXPECT_TRUE(connects[0].integrated);
  EXPECT_EQ(connects[0].catalog, "Quillarchive_Sales");
  EXPECT_EQ(connects[0].connect_timeout_seconds, 5);
  EXPECT_FALSE(connects[1].integrated);
  EXPECT_EQ(connects[1].user, "sa");
  EXPECT_EQ(connects[1].password, "p;w");
  EXPECT_EQ(connects[1].application, "Tessera");
  EXPECT_EQ(connects[1].connect_timeout_seconds, 15);
  EXPECT_EQ(connects[2].data_source, "SRV02");
  EXPECT_EQ(connects[2].user, "admin");
  EXPECT_EQ(connects[2].password, "pw");
}

TEST_F(ConnectionTest, OpenFailuresCarryTheProvidersNumbersAndLeaveTheConnectionClosed) {
  server_->AcceptLogin("sa", "right");
  Connection connection(environment_);
  connection.SetConnectionString("Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;Password=wrong;");
  Error refused = CatchError([&] { connection.Open(); });
  EXPECT_EQ(refused.number(), kErrorAuthenticationFailed);
  EXPECT_EQ(refused.native_error(), 18456);
  EXPECT_EQ(refused.description(), "Login failed for user 'sa'.");
  EXPECT_EQ(refused.source(), "Microsoft OLE DB Provider for SQL Server");
  EXPECT_EQ(connection.State(), kStateClosed);
  ASSERT_EQ(connection.Errors().size(), 1u);
  EXPECT_EQ(connection.Errors()[0].native_error, 18456);

  Connection no_driver;  // no environment at all
  no_driver.SetConnectionString("Data Source=SRV01");
  EXPECT_EQ(CatchError([&] { no_driver.Open(); }).number(), kErrorProviderNotFound);

  Connection other_provider(environment_);
  other_provider.SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb");
  EXPECT_EQ(CatchError([&] { other_provider.Open(); }).number(), kErrorProviderNotFound);

  Connection no_source(environment_);
  no_source.SetConnectionString("Provider=SQLOLEDB;Integrated Security=SSPI;");
  Error no_server = CatchError([&] { no_source.Open(); });
  EXPECT_EQ(no_server.number(), kErrorUnspecified);
  EXPECT_NE(no_server.description().find("does not exist or access denied"), std::string::npos);

  Connection malformed(environment_);
  malformed.SetConnectionString("Data Source=SRV01;Connect Timeout=five;");
  Error bad_timeout = CatchError([&] { malformed.Open(); });
  EXPECT_NE(bad_timeout.description().find("Connect Timeout \"five\""), std::string::npos);
  EXPECT_EQ(malformed.State(), kStateClosed);
}

TEST_F(ConnectionTest, AnUnknownInitialCatalogIsAConnectionFailure) {
  server_->SetDatabases({"master", "Quillarchive_Sales"});
  Connection connection(environment_);
  connection.SetConnectionString("Data Source=SRV01;Integrated Security=SSPI;Initial Catalog=Nope");
  Error error = CatchError([&] { connection.Open(); });
  EXPECT_EQ(error.number(), kErrorUnspecified);
  EXPECT_EQ(error.native_error(), 4060);
}

TEST_F(ConnectionTest, PropertiesReadTheConnectionString) {
  Connection connection(environment_);
  connection.SetConnectionString(
      "Provider=SQLOLEDB;Data Source=SRV01\\ARCHIVE;Integrated Security=SSPI;;Connect Timeout=5;");
  EXPECT_EQ(connection.Properties("Data Source").Value(), Value("SRV01\\ARCHIVE"));
  EXPECT_EQ(connection.Properties("data source").Value(), Value("SRV01\\ARCHIVE"));
  EXPECT_EQ(connection.Properties("Persist Security Info").Value(), Value(false));
  EXPECT_EQ(connection.Properties("Connect Timeout").Value(), Value(5));
  EXPECT_EQ(connection.Properties("Initial Catalog").Value(), Value(""));
  EXPECT_EQ(CatchError([&] { connection.Properties("No Such Thing").Value(); }).number(),
            kErrorItemNotFound);
  connection.Properties("Persist Security Info").SetValue(true);
  EXPECT_EQ(connection.Properties("Persist Security Info").Value(), Value(true));
}

TEST_F(ConnectionTest, ThePasswordIsKeptAfterOpenOnlyWhenAskedFor) {
  const std::string text = "Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;Password=pw;";
  Connection forgetful(environment_);
  forgetful.SetConnectionString(text);
  EXPECT_EQ(forgetful.ConnectionString(), text);
  forgetful.Open();
  EXPECT_EQ(forgetful.ConnectionString(), "Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;");

  Connection keeping(environment_);
  keeping.SetConnectionString(text);
  keeping.Properties("Persist Security Info").SetValue(true);
  keeping.Open();
  EXPECT_EQ(keeping.ConnectionString(), text);

  Connection in_string(environment_);
  in_string.SetConnectionString(text + "Persist Security Info=True;Initial Catalog=x");
  in_string.Open();
  EXPECT_EQ(in_string.ConnectionString(), text + "Persist Security Info=True;Initial Catalog=x");
}

TEST_F(ConnectionTest, CurrentCatalogFollowsUse) {
  Connection connection = Open("Integrated Security=SSPI;Initial Catalog=Quillarchive_A;");
  EXPECT_EQ(connection.DefaultDatabase(), "Quillarchive_A");
  connection.Execute("USE master");
  EXPECT_EQ(connection.Properties("Current Catalog").Value(), Value("master"));
  // "Changed database context" is informational: kept in Errors, never raised.
  ASSERT_EQ(connection.Errors().size(), 1u);
  EXPECT_EQ(connection.Errors()[0].native_error, 5701);
  EXPECT_FALSE(connection.Errors()[0].IsError());
}

TEST_F(ConnectionTest, SettingsRefuseNonsense) {
  Connection connection(environment_);
  EXPECT_EQ(connection.CommandTimeout(), 30);
  EXPECT_EQ(connection.ConnectionTimeout(), 15);
  EXPECT_EQ(connection.CursorLocation(), kUseServer);
  EXPECT_EQ(CatchError([&] { connection.SetCursorLocation(1); }).number(), kErrorInvalidArgument);
  EXPECT_EQ(CatchError([&] { connection.SetCommandTimeout(-1); }).number(), kErrorInvalidArgument);
  connection.SetCursorLocation(kUseClient);
  EXPECT_EQ(connection.CursorLocation(), kUseClient);
}

TEST_F(ConnectionTest, ExecuteRaisesTheFirstErrorOfTheBatchAndKeepsThemAll) {
  Connection connection = Open();
  server_->On("UPDATE a SET x=1; EXEC p", FakeResult()
                                              .Count(3)
                                              .Print("working")
                                              .NoCount()
                                              .Error(2812, "Could not find stored procedure 'p'.")
                                              .Error(266, "Transaction count mismatch.", 16, 2)
                                              .NoCount());
  std::int64_t affected = 99;
  Error error = CatchError([&] { connection.Execute("UPDATE a SET x=1; EXEC p", &affected); });
  EXPECT_EQ(error.number(), kErrorsInCommand);
  EXPECT_EQ(error.native_error(), 2812);
  EXPECT_EQ(error.description(), "Could not find stored procedure 'p'.");
  EXPECT_EQ(error.severity(), 16);
  ASSERT_EQ(error.errors().size(), 2u);
  EXPECT_EQ(error.errors()[1].native_error, 266);
  EXPECT_EQ(error.errors()[1].state, 2);
  // The informational message is in the collection too, in order.
  auto all = connection.Errors();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].description, "working");
  EXPECT_FALSE(all[0].IsError());
}

TEST_F(ConnectionTest, NativeErrorsMapToTheProvidersNumbers) {
  Connection connection = Open();
  struct Case {
    std::int32_t native;
    std::int32_t number;
  };
  for (Case c : {Case{208, kErrorNoTable}, Case{2627, kErrorIntegrityViolation},
                 Case{515, kErrorIntegrityViolation}, Case{229, kErrorPermissionDenied},
                 Case{156, kErrorsInCommand}, Case{8152, kErrorDataOverflow}}) {
    std::string text = "statement " + std::to_string(c.native);
    server_->On(text, FakeResult().Error(c.native, "text").NoCount());
    EXPECT_EQ(CatchError([&] { connection.Execute(text); }).number(), c.number) << c.native;
  }
}

TEST_F(ConnectionTest, PrintAndInformationalMessagesNeverRaise) {
  Connection connection = Open();
  server_->On("PRINT 'x'", FakeResult().Print("x").NoCount().Message(50000, 10, "note").NoCount());
  EXPECT_NO_THROW(connection.Execute("PRINT 'x'"));
  EXPECT_EQ(connection.Errors().size(), 2u);
}

TEST_F(ConnectionTest, RecordsAffectedIsTheFirstResultsCount) {
  Connection connection = Open();
  server_->On("UPDATE ExtendedData SET FieldValue='1' WHERE EntryID=0 And ExtFieldID=3",
              FakeResult().Count(0));
  server_->On("DELETE x", FakeResult().NoCount().Count(4).Count(1));
  std::int64_t affected = 99;
  connection.Execute("UPDATE ExtendedData SET FieldValue='1' WHERE EntryID=0 And ExtFieldID=3",
                     &affected);
  EXPECT_EQ(affected, 0);
  connection.Execute("DELETE x", &affected);
  EXPECT_EQ(affected, 4);
  connection.Execute("SET NOCOUNT ON", &affected);
  EXPECT_EQ(affected, -1);
}

TEST_F(ConnectionTest, TimeOutsFollowTheCommandTimeOutAndZeroMeansNone) {
  Connection connection = Open();
  server_->On("WAITFOR DELAY '00:01:00'", FakeResult().Takes(std::chrono::seconds(60)).NoCount());
  Error error = CatchError([&] { connection.Execute("WAITFOR DELAY '00:01:00'"); });
  EXPECT_EQ(error.number(), kErrorTimeoutExpired);
  EXPECT_EQ(error.description(), "Timeout expired");
  EXPECT_EQ(connection.State(), kStateOpen);
  connection.SetCommandTimeout(0);
  EXPECT_NO_THROW(connection.Execute("WAITFOR DELAY '00:01:00'"));
  connection.SetCommandTimeout(61);
  EXPECT_NO_THROW(connection.Execute("WAITFOR DELAY '00:01:00'"));
  auto calls = server_->calls();
  EXPECT_EQ(calls[0].request.timeout, std::chrono::seconds(30));
  EXPECT_EQ(calls[1].request.timeout, std::chrono::milliseconds(0));
}

TEST_F(ConnectionTest, ABrokenConnectionFailsEveryLaterStatementAsANetworkError) {
  Connection connection = Open();
  server_->Kill(1);
  Error error = CatchError([&] { connection.Execute("SELECT 1"); });
  EXPECT_EQ(error.number(), kErrorUnspecified);
  EXPECT_EQ(error.description(),
            "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your network "
            "documentation.");
  EXPECT_EQ(CatchError([&] { connection.Execute("SELECT 2"); }).number(), kErrorUnspecified);
  // Closing and opening again gives a working session.
  connection.Close();
  connection.Open();
  EXPECT_NO_THROW(connection.Execute("SELECT 3"));
}

TEST_F(ConnectionTest, TheObserverSeesEveryStatementWithItsConnectionInOrder) {
  Connection server = Open();
  Connection collection = Open("Integrated Security=SSPI;Initial Catalog=Quillarchive_Sales;");
  EXPECT_NE(server.Id(), collection.Id());
  server.Execute("SET NOCOUNT ON");
  collection.Execute("SELECT SYSTEM_USER;");
  server.Execute("USE tempdb");
  server.Execute("SELECT 1");
  Recordset rs;
  rs.Open("EXEC master..sp_helpdb", collection);

  auto statements = log_->statements();
  ASSERT_EQ(statements.size(), 5u);
  EXPECT_EQ(log_->Texts(),
            (std::vector<std::string>{"SET NOCOUNT ON", "SELECT SYSTEM_USER;", "USE tempdb",
                                      "SELECT 1", "EXEC master..sp_helpdb"}));
  EXPECT_EQ(log_->TextsOn(server.Id()),
            (std::vector<std::string>{"SET NOCOUNT ON", "USE tempdb", "SELECT 1"}));
  EXPECT_EQ(statements[1].connection_id, collection.Id());
  EXPECT_EQ(statements[1].catalog, "Quillarchive_Sales");
  EXPECT_EQ(statements[1].data_source, "SRV01");
  EXPECT_EQ(statements[2].catalog, "master");  // sent before the USE took effect
  EXPECT_EQ(statements[3].catalog, "tempdb");
}

TEST_F(ConnectionTest, ATraceWritesOneLinePerStatement) {
  std::ostringstream out;
  auto trace = std::make_shared<StatementTrace>(out);
  environment_->AddObserver(trace);
  Connection connection = Open();
  connection.Execute("SELECT 'a;b'");
  environment_->RemoveObserver(trace);
  connection.Execute("SELECT 2");
  EXPECT_EQ(out.str(), "[" + std::to_string(connection.Id()) + " SRV01/master] SELECT 'a;b'\n");
}

TEST_F(ConnectionTest, ATraceHidesMaskedTextsWhereverTheyAreSentAsLiterals) {
  std::ostringstream out;
  auto trace = std::make_shared<StatementTrace>(out);
  trace->Mask("it's");
  trace->Mask("");  // nothing to hide
  environment_->AddObserver(trace);
  Connection connection = Open();
  connection.Execute("EXEC sp_addlogin 'it''s', 'it''s'");
  connection.Execute("SELECT 'its'");
  environment_->RemoveObserver(trace);
  std::string prefix = "[" + std::to_string(connection.Id()) + " SRV01/master] ";
  EXPECT_EQ(out.str(), prefix + "EXEC sp_addlogin '***', '***'\n" + prefix + "SELECT 'its'\n");
}

TEST_F(ConnectionTest, ExecuteReturnsTheFirstResultAsARecordset) {
  Connection connection = Open();
  server_->On("SELECT SUSER_SNAME()",
              FakeResult().Rows({Column("", "nvarchar")}, {{Value("MACHINE\\admin")}}));
  Recordset rs = connection.Execute("SELECT SUSER_SNAME()");
  ASSERT_EQ(rs.State(), kStateOpen);
  EXPECT_EQ(rs.Fields(0).Value(), Value("MACHINE\\admin"));
  EXPECT_EQ(rs.RecordCount(), -1);  // forward-only on the server
  Recordset none =
      connection.Execute("SELECT SUSER_SNAME()", nullptr, kCmdText | kExecuteNoRecords);
  EXPECT_EQ(none.State(), kStateClosed);
}

TEST_F(ConnectionTest, ExecuteSendsTablesAndProceduresByOption) {
  Connection connection = Open();
  connection.Execute("Document", nullptr, kCmdTable);
  connection.Execute("odd name]; DROP TABLE x", nullptr, kCmdTable);
  connection.Execute("sp_who", nullptr, kCmdStoredProc);
  auto calls = server_->calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].request.text, "SELECT * FROM Document");
  EXPECT_EQ(calls[1].request.text, "SELECT * FROM [odd name]]; DROP TABLE x]");
  EXPECT_EQ(calls[2].request.kind, DriverRequest::Kind::kProcedure);
  EXPECT_EQ(calls[2].request.text, "sp_who");
  EXPECT_TRUE(log_->statements()[2].procedure_call);
}

}  // namespace
}  // namespace db
