#include "db/command.h"

#include <gtest/gtest.h>

#include "fake_fixture.h"

namespace db {
namespace {

using testing::Column;
using testing::FakeResult;

class CommandTest : public FakeServerTest {};

TEST_F(CommandTest, OneCommandObjectRunsSuccessiveStatements) {
  Connection connection = Open();
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdText);
  for (const char* text : {"CREATE DATABASE Sales ON ( NAME = Sales, FILENAME = 'C:\\x.mdf')",
                           "sp_renamedb @dbname ='Sales' , @newname = 'Quillarchive_Sales'"}) {
    command.SetCommandText(text);
    command.Execute();
  }
  EXPECT_EQ(log_->Texts(), (std::vector<std::string>{
                               "CREATE DATABASE Sales ON ( NAME = Sales, FILENAME = 'C:\\x.mdf')",
                               "sp_renamedb @dbname ='Sales' , @newname = 'Quillarchive_Sales'"}));
  EXPECT_EQ(server_->calls()[0].request.timeout, std::chrono::seconds(30));
}

TEST_F(CommandTest, TheCommandsOwnTimeOutCountsNotTheConnections) {
  Connection connection = Open();
  connection.SetCommandTimeout(5);
  server_->On("BACKUP LOG x WITH TRUNCATE_ONLY",
              FakeResult().Takes(std::chrono::seconds(40)).NoCount());
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandText("BACKUP LOG x WITH TRUNCATE_ONLY");
  EXPECT_EQ(CatchError([&] { command.Execute(); }).number(), kErrorTimeoutExpired);
  command.SetCommandTimeout(0);
  EXPECT_NO_THROW(command.Execute());
  EXPECT_EQ(server_->calls()[1].request.timeout, std::chrono::milliseconds(0));
}

TEST_F(CommandTest, WithoutAnOpenConnectionNothingIsSent) {
  Command command;
  command.SetCommandText("SELECT 1");
  EXPECT_EQ(CatchError([&] { command.Execute(); }).number(), kErrorConnectionNotUsable);
  Connection closed(environment_);
  command.SetActiveConnection(closed);
  EXPECT_EQ(CatchError([&] { command.Execute(); }).number(), kErrorConnectionNotUsable);
  Connection open = Open();
  command.SetActiveConnection(open);
  command.SetCommandText("");
  EXPECT_EQ(CatchError([&] { command.Execute(); }).description(),
            "Command text was not set for the command object.");
  EXPECT_TRUE(server_->calls().empty());
  EXPECT_EQ(CatchError([&] { command.SetCommandType(3); }).number(), kErrorInvalidArgument);
}

TEST_F(CommandTest, RecordsetsOpenOnAPreparedCommand) {
  Connection connection = Open();
  server_->On(
      "EXEC master..sp_helpuser 'sa'",
      FakeResult().Rows({Column("UserName"), Column("GroupName")},
                        {{Value("dbo"), Value("db_owner")}, {Value("dbo"), Value("public")}}));
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdText);
  command.SetCommandText("EXEC master..sp_helpuser 'sa'");
  Recordset rs;
  rs.Open(command);
  std::vector<std::string> groups;
  for (; !rs.Eof(); rs.MoveNext()) groups.push_back(rs.Fields("GroupName").Value().ToText());
  EXPECT_EQ(groups, (std::vector<std::string>{"db_owner", "public"}));
  EXPECT_EQ(rs.ActiveConnection(), connection);
}

TEST_F(CommandTest, StoredProceduresGoAsCallsWithOutputParameters) {
  Connection connection = Open("Integrated Security=SSPI;Initial Catalog=Quillarchive_Sales;");
  server_->On("dbo.InsertSearchFolder",
              FakeResult().Count(1).Count(1).Output("@FolderID", Value(1001)).ReturnStatus(0));
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdStoredProc);
  command.SetCommandText("dbo.InsertSearchFolder");
  Parameter status = command.CreateParameter("@RETURN_VALUE", kTypeInteger, kParamReturnValue);
  Parameter name =
      command.CreateParameter("@FolderName", kTypeVarChar, kParamInput, 255, Value("Suche: 'x'"));
  Parameter id = command.CreateParameter("FolderID", kTypeSmallInt, kParamOutput);
  command.Parameters().Append(status);
  command.Parameters().Append(name);
  command.Parameters().Append(id);
  EXPECT_EQ(CatchError([&] { command.Parameters().Append(id); }).number(), kErrorInvalidArgument);
  std::int64_t affected = 0;
  command.Execute(&affected);
  EXPECT_EQ(affected, 1);
  EXPECT_EQ(id.Value(), Value(1001));
  EXPECT_EQ(command.Parameters("@folderid").Value(), Value(1001));
  EXPECT_EQ(command.Parameters(0).Value(), Value(0));
  EXPECT_EQ(name.Value(), Value("Suche: 'x'"));

  auto calls = server_->calls();
  ASSERT_EQ(calls.size(), 1u);
  const DriverRequest& request = calls[0].request;
  EXPECT_EQ(request.kind, DriverRequest::Kind::kProcedure);
  ASSERT_EQ(request.parameters.size(), 3u);
  EXPECT_EQ(request.parameters[1].name, "@FolderName");
  EXPECT_EQ(request.parameters[1].type_name, "varchar");
  EXPECT_EQ(request.parameters[1].size, 255);
  EXPECT_EQ(request.parameters[2].name, "@FolderID");
  EXPECT_EQ(request.parameters[2].type_name, "smallint");
  EXPECT_EQ(request.parameters[2].direction, ParameterDirection::kOutput);
  // The trace names the procedure and the values sent, not the output placeholders.
  auto statements = log_->statements();
  EXPECT_TRUE(statements[0].procedure_call);
  ASSERT_EQ(statements[0].parameters.size(), 1u);
  EXPECT_EQ(statements[0].parameters[0].first, "@FolderName");
}

TEST_F(CommandTest, OutputValuesArriveEvenWhenTheCallFails) {
  Connection connection = Open();
  server_->On("p", FakeResult().Error(50000, "refused").NoCount().Output("@o", Value("partial")));
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdStoredProc);
  command.SetCommandText("p");
  Parameter out = command.CreateParameter("@o", kTypeVarChar, kParamInputOutput, 10, Value("in"));
  command.Parameters().Append(out);
  EXPECT_EQ(CatchError([&] { command.Execute(); }).description(), "refused");
  EXPECT_EQ(out.Value(), Value("partial"));
}

TEST_F(CommandTest, QuestionMarksInTextBecomeNamedParameters) {
  Connection connection = Open();
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdText);
  command.SetCommandText("SELECT '?' AS q, [a?] FROM t WHERE x = ? -- ?\nAND y = ? /* ? */");
  command.Parameters().Append(command.CreateParameter("", kTypeInteger, kParamInput, 0, Value(1)));
  command.Parameters().Append(
      command.CreateParameter("@y", kTypeVarChar, kParamInput, 5, Value("a")));
  command.Execute();
  auto calls = server_->calls();
  const DriverRequest& request = calls[0].request;
  EXPECT_EQ(request.text, "SELECT '?' AS q, [a?] FROM t WHERE x = @P1 -- ?\nAND y = @y /* ? */");
  EXPECT_EQ(request.parameters[0].name, "@P1");
  EXPECT_EQ(request.parameters[0].value, Value(1));

  command.SetCommandText("SELECT ? , ?, ?");
  EXPECT_NE(CatchError([&] { command.Execute(); }).description().find("3 parameter markers"),
            std::string::npos);
}

TEST_F(CommandTest, ParametersAreFoundByNameWithOrWithoutTheAt) {
  Command command;
  command.Parameters().Append(command.CreateParameter("@Name"));
  command.Parameters().Append(command.CreateParameter("Other"));
  EXPECT_EQ(command.Parameters().Count(), 2);
  EXPECT_EQ(command.Parameters("name").Name(), "@Name");
  EXPECT_EQ(command.Parameters("@other").Name(), "Other");
  EXPECT_EQ(CatchError([&] { command.Parameters("missing"); }).number(), kErrorItemNotFound);
  EXPECT_EQ(CatchError([&] { command.Parameters(2); }).number(), kErrorItemNotFound);
  command.Parameters().Delete("NAME");
  EXPECT_EQ(command.Parameters().Count(), 1);
  EXPECT_EQ(CatchError([&] { command.CreateParameter("x", kTypeInteger, 5); }).number(),
            kErrorInvalidArgument);
}

TEST_F(CommandTest, SpWhoByStoredProcedureTypeWithoutArguments) {
  Connection connection = Open();
  server_->On("sp_who",
              FakeResult().Rows({Column("spid", "smallint"), Column("loginame", "nchar"),
                                 Column("dbname", "nchar")},
                                {{Value(51), Value("sa"), Value("Quillarchive_Sales ")}}));
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdStoredProc);
  command.SetCommandText("sp_who");
  Recordset rs;
  rs.Open(command);
  EXPECT_EQ(rs.Fields("spid").Value(), Value(51));
  EXPECT_EQ(server_->calls()[0].request.kind, DriverRequest::Kind::kProcedure);
}

}  // namespace
}  // namespace db
