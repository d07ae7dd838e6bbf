// The sandbox driver against a stand-in sandbox host: how logins, batches, procedure calls and
// failures are handed over and what the program sees of them.
#include "db/drivers/sandbox/sandbox_driver.h"

#include <gtest/gtest.h>

#include <functional>

#include "db/command.h"
#include "db/connection.h"
#include "db/environment.h"
#include "db/fake_fixture.h"
#include "db/recordset.h"
#include "db/testing/fake_driver.h"

namespace db {
namespace {

using Behaviour = std::function<void(std::string_view, std::vector<sandbox::Parameter>&,
                                     sandbox::ResultSink&, std::chrono::milliseconds)>;

struct Recorded {
  std::vector<sandbox::LoginRequest> logins;
  std::vector<std::string> batches;
  std::vector<std::vector<sandbox::Parameter>> parameters;
  std::vector<std::chrono::milliseconds> timeouts;
  int closed = 0;
  Behaviour behaviour;
  std::optional<sandbox::ServerMessage> refuse;
};

class StubSession : public sandbox::Session {
 public:
  explicit StubSession(Recorded& recorded) : recorded_(recorded) {}
  int spid() const override { return 51; }
  void Execute(std::string_view batch, std::vector<sandbox::Parameter>& parameters,
               sandbox::ResultSink& sink, std::chrono::milliseconds timeout) override {
    recorded_.batches.emplace_back(batch);
    recorded_.parameters.push_back(parameters);
    recorded_.timeouts.push_back(timeout);
    if (recorded_.behaviour) {
      recorded_.behaviour(batch, parameters, sink, timeout);
    } else {
      sink.Done(-1);
    }
  }
  std::string CurrentDatabase() const override { return "master"; }
  void Close() override { ++recorded_.closed; }

 private:
  Recorded& recorded_;
};

class StubInstance : public sandbox::Instance {
 public:
  StubInstance(std::string name, Recorded& recorded)
      : name_(std::move(name)), recorded_(recorded) {}
  std::string name() const override { return name_; }
  std::unique_ptr<sandbox::Session> Connect(const sandbox::LoginRequest& request) override {
    recorded_.logins.push_back(request);
    if (recorded_.refuse) throw sandbox::ConnectError(*recorded_.refuse);
    return std::make_unique<StubSession>(recorded_);
  }
  sandbox::InstanceConfig config() const override { return {}; }
  void SetRunning(bool) override {}
  std::filesystem::path directory() const override { return {}; }
  std::filesystem::path MapPath(std::string_view) const override { return {}; }
  void InjectFault(sandbox::Fault) override {}
  void ClearFaults() override {}
  bool DropSession(int) override { return false; }

 private:
  std::string name_;
  Recorded& recorded_;
};

class StubHost : public sandbox::Host {
 public:
  explicit StubHost(Recorded& recorded) : recorded_(recorded) {}
  std::shared_ptr<sandbox::Instance> Find(std::string_view name) override {
    found.emplace_back(name);
    if (name == "" || name == "Dev")
      return std::make_shared<StubInstance>(std::string(name), recorded_);
    return nullptr;
  }
  std::shared_ptr<sandbox::Instance> Create(std::string_view,
                                            const sandbox::InstanceConfig&) override {
    return nullptr;
  }
  std::vector<std::string> found;

 private:
  Recorded& recorded_;
};

class SandboxDriverTest : public ::testing::Test {
 protected:
  SandboxDriverTest() {
    host_ = std::make_shared<StubHost>(recorded_);
    DriverRegistry drivers;
    drivers.Add(std::make_shared<SandboxDriver>(host_, "alice", "WORKSTATION"));
    fake_server_ = std::make_shared<testing::FakeServer>();
    drivers.Add(std::make_shared<testing::FakeDriver>(fake_server_));
    environment_ = Environment::Create(std::move(drivers));
  }

  Connection Open(const std::string& text) {
    Connection connection(environment_);
    connection.SetConnectionString(text);
    connection.Open();
    return connection;
  }

  Recorded recorded_;
  std::shared_ptr<StubHost> host_;
  std::shared_ptr<testing::FakeServer> fake_server_;
  std::shared_ptr<Environment> environment_;
};

TEST(SandboxDataSourceTest, OnlySandboxDataSourcesAreAccepted) {
  EXPECT_EQ(SandboxDriver::InstanceName("(sandbox)"), "");
  EXPECT_EQ(SandboxDriver::InstanceName(" (SANDBOX)\\Dev "), "Dev");
  EXPECT_EQ(SandboxDriver::InstanceName("(sandbox)\\a\\b"), "a\\b");
  EXPECT_FALSE(SandboxDriver::InstanceName("(sandbox)\\").has_value());
  EXPECT_FALSE(SandboxDriver::InstanceName("(sandbox)x").has_value());
  EXPECT_FALSE(SandboxDriver::InstanceName("(sand").has_value());
  EXPECT_FALSE(SandboxDriver::InstanceName("SRV01\\ARCHIVE").has_value());
  EXPECT_FALSE(SandboxDriver::InstanceName("").has_value());
}

TEST_F(SandboxDriverTest, TheRegistryRoutesByDataSource) {
  Open("Provider=SQLOLEDB;Data Source=(sandbox);Integrated Security=SSPI;");
  Open("Provider=SQLOLEDB;Data Source=SRV01;Integrated Security=SSPI;");
  EXPECT_EQ(recorded_.logins.size(), 1u);
  EXPECT_EQ(fake_server_->connects().size(), 1u);
  EXPECT_EQ(host_->found, (std::vector<std::string>{""}));
}

TEST_F(SandboxDriverTest, IntegratedSecurityLogsInAsTheLocalAccount) {
  Open(
      "Provider=SQLOLEDB;Data Source=(sandbox)\\Dev;Integrated Security=SSPI;Initial "
      "Catalog=Quillarchive_Sales;Application Name=Tessera");
  ASSERT_EQ(recorded_.logins.size(), 1u);
  const sandbox::LoginRequest& login = recorded_.logins[0];
  EXPECT_TRUE(login.integrated);
  EXPECT_EQ(login.os_user, "alice");
  EXPECT_EQ(login.login, "");
  EXPECT_EQ(login.database, "Quillarchive_Sales");
  EXPECT_EQ(login.host_name, "WORKSTATION");
  EXPECT_EQ(login.application, "Tessera");
  EXPECT_EQ(host_->found, (std::vector<std::string>{"Dev"}));
}

TEST_F(SandboxDriverTest, SqlLoginsPassNameAndPassword) {
  Open("Provider=SQLOLEDB;Data Source=(sandbox);User Id=sa;Password='p;w''d';");
  const sandbox::LoginRequest& login = recorded_.logins[0];
  EXPECT_FALSE(login.integrated);
  EXPECT_EQ(login.login, "sa");
  EXPECT_EQ(login.password, "p;w'd");
  EXPECT_EQ(login.os_user, "");
  EXPECT_EQ(login.database, "");
}

TEST_F(SandboxDriverTest, RefusedLoginsAndMissingInstancesBecomeProviderErrors) {
  recorded_.refuse = sandbox::ServerMessage{18456, 14, 1, "Login failed for user 'sa'.", "", 0};
  Connection connection(environment_);
  connection.SetConnectionString("Data Source=(sandbox);User Id=sa;Password=x");
  Error refused = CatchError([&] { connection.Open(); });
  EXPECT_EQ(refused.number(), kErrorAuthenticationFailed);
  EXPECT_EQ(refused.description(), "Login failed for user 'sa'.");
  EXPECT_EQ(refused.native_error(), 18456);
  EXPECT_EQ(refused.severity(), 14);

  recorded_.refuse = sandbox::ServerMessage{
      4060, 11, 1, "Cannot open database requested in login 'x'. Login fails.", "", 0};
  Error no_database = CatchError([&] { connection.Open(); });
  EXPECT_EQ(no_database.number(), kErrorUnspecified);
  EXPECT_EQ(no_database.native_error(), 4060);

  Connection missing(environment_);
  missing.SetConnectionString("Data Source=(sandbox)\\Nope;Integrated Security=SSPI");
  Error no_instance = CatchError([&] { missing.Open(); });
  EXPECT_EQ(no_instance.number(), kErrorUnspecified);
  EXPECT_EQ(no_instance.description(),
            "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied.");
  EXPECT_EQ(missing.State(), kStateClosed);
}

TEST_F(SandboxDriverTest, ResultsKeepTheirColumnsMessagesAndTableInformation) {
  recorded_.behaviour = [](std::string_view, std::vector<sandbox::Parameter>&,
                           sandbox::ResultSink& sink, std::chrono::milliseconds) {
    sink.Done(3);
    sink.Message({0, 0, 1, "hello", "", 1});
    sink.Done(-1);
    sandbox::Column id{"EntryID", "int", Value::Type::kInt, 0, false, "Document", "EntryID",
                       true,      true};
    sandbox::Column title{"Title", "nvarchar", Value::Type::kText, 255, true, "Document", "Title"};
    sink.BeginRowSet({id, title});
    sink.Row({Value(1), Value("a")});
    sink.EndRowSet();
    sink.Done(1);
  };
  Connection connection = Open("Data Source=(sandbox);Integrated Security=SSPI");
  Recordset rs;
  rs.Open("SELECT * FROM Document", connection, kOpenStatic, kLockOptimistic);
  EXPECT_EQ(rs.State(), kStateClosed);
  rs.NextRecordset();
  EXPECT_EQ(rs.State(), kStateClosed);
  rs.NextRecordset();
  ASSERT_EQ(rs.State(), kStateOpen);
  EXPECT_EQ(rs.Fields("title").Value(), Value("a"));
  EXPECT_EQ(rs.Fields("Title").DefinedSize(), 255);

  recorded_.behaviour = [](std::string_view, std::vector<sandbox::Parameter>&,
                           sandbox::ResultSink& sink, std::chrono::milliseconds) { sink.Done(1); };
  rs.Fields("Title").SetValue("b");
  rs.Update();
  EXPECT_EQ(recorded_.batches.back(),
            "UPDATE Document SET Title = N'b' WHERE EntryID = 1 AND Title = N'a'");
}

TEST_F(SandboxDriverTest, ErrorsComeFromTheServersMessages) {
  recorded_.behaviour = [](std::string_view, std::vector<sandbox::Parameter>&,
                           sandbox::ResultSink& sink, std::chrono::milliseconds) {
    sink.Message({208, 16, 1, "Invalid object name 'nosuch'.", "", 1});
    sink.Done(-1);
  };
  Connection connection = Open("Data Source=(sandbox);Integrated Security=SSPI");
  Error error = CatchError([&] { connection.Execute("SELECT * FROM nosuch"); });
  EXPECT_EQ(error.number(), kErrorNoTable);
  EXPECT_EQ(error.source(), "Microsoft OLE DB Provider for SQL Server");
  EXPECT_EQ(error.description(), "Invalid object name 'nosuch'.");
}

TEST_F(SandboxDriverTest, TimeOutsAndBrokenSessions) {
  recorded_.behaviour = [](std::string_view batch, std::vector<sandbox::Parameter>&,
                           sandbox::ResultSink&, std::chrono::milliseconds) {
    if (batch == "slow") throw sandbox::SessionError(sandbox::SessionError::Kind::kTimeout, "t");
    if (batch == "killed") throw sandbox::SessionError(sandbox::SessionError::Kind::kBroken, "b");
  };
  Connection connection = Open("Data Source=(sandbox);Integrated Security=SSPI");
  connection.SetCommandTimeout(7);
  Error timeout = CatchError([&] { connection.Execute("slow"); });
  EXPECT_EQ(timeout.number(), kErrorTimeoutExpired);
  EXPECT_EQ(timeout.description(), "Timeout expired");
  EXPECT_EQ(recorded_.timeouts.back(), std::chrono::seconds(7));
  EXPECT_NO_THROW(connection.Execute("fine"));

  Error broken = CatchError([&] { connection.Execute("killed"); });
  EXPECT_EQ(broken.number(), kErrorUnspecified);
  EXPECT_EQ(broken.description(),
            "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your network "
            "documentation.");
  size_t sent = recorded_.batches.size();
  EXPECT_EQ(CatchError([&] { connection.Execute("after"); }).number(), kErrorUnspecified);
  EXPECT_EQ(recorded_.batches.size(), sent);  // a dead session is not asked again
  connection.Close();
  EXPECT_EQ(recorded_.closed, 1);
}

// ExecuteEach hands over each event as the server sends it, in order; a reader that throws
// stops the batch (the server's sink sees BatchCancelled) and gets its own exception back, and
// the session goes on.
TEST_F(SandboxDriverTest, ExecuteEachStreamsAndAReaderCanStopTheBatch) {
  int rows_sent = 0;
  bool cancelled = false;
  recorded_.behaviour = [&](std::string_view batch, std::vector<sandbox::Parameter>&,
                            sandbox::ResultSink& sink, std::chrono::milliseconds) {
    sandbox::Column n;
    n.name = "n";
    n.type_name = "int";
    n.value_type = Value::Type::kInt;
    sink.BeginRowSet({n});
    try {
      for (int i = 0; i < (batch == "endless" ? 1000000 : 3); ++i) {
        sink.Row({Value(i)});
        ++rows_sent;
      }
    } catch (const sandbox::BatchCancelled&) {
      cancelled = true;
      throw sandbox::SessionError(sandbox::SessionError::Kind::kCancelled, "cancelled");
    }
    sink.Message({8134, 16, 1, "Divide by zero error encountered.", "", 1});
    sink.Done(-1);
  };
  auto session = std::make_shared<SandboxDriver>(host_, "alice", "W")->Connect([] {
    ConnectRequest request;
    request.data_source = "(sandbox)";
    request.integrated = true;
    return request;
  }());

  DriverRequest request;
  request.text = "three";
  std::vector<std::string> seen;
  session->ExecuteEach(request, [&](ResultEvent& event) {
    switch (event.kind) {
      case ResultEvent::Kind::kBeginRowSet:
        seen.push_back("begin " + event.columns.at(0).name);
        break;
      case ResultEvent::Kind::kRow:
        // Each row arrives before the next is made.
        seen.push_back("row " + event.row.at(0).ToText() + " of " + std::to_string(rows_sent));
        break;
      case ResultEvent::Kind::kEndRowSet:
        seen.push_back("end");
        break;
      case ResultEvent::Kind::kDone:
        seen.push_back("done");
        break;
      case ResultEvent::Kind::kMessage:
        seen.push_back("error " + std::to_string(event.message.number));
        break;
    }
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"begin n", "row 0 of 0", "row 1 of 1", "row 2 of 2",
                                            "error 8134", "done"}));

  struct Enough {};
  request.text = "endless";
  int taken = 0;
  EXPECT_THROW(session->ExecuteEach(request,
                                    [&](ResultEvent& event) {
                                      if (event.kind == ResultEvent::Kind::kRow && ++taken == 10)
                                        throw Enough{};
                                    }),
               Enough);
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(taken, 10);
  EXPECT_LT(rows_sent, 20);

  // The session is still there for the next request, buffered or not.
  request.text = "three";
  auto stream = session->Execute(request);
  ResultEvent event;
  int rows = 0;
  while (stream->Next(event)) rows += event.kind == ResultEvent::Kind::kRow;
  EXPECT_EQ(rows, 3);
}

TEST_F(SandboxDriverTest, ProcedureCallsBecomeExecBatchesWithOutputParameters) {
  recorded_.behaviour = [](std::string_view, std::vector<sandbox::Parameter>& parameters,
                           sandbox::ResultSink& sink, std::chrono::milliseconds) {
    for (auto& p : parameters) {
      if (p.name == "@FolderID") p.value = Value(1001);
      if (p.name == "@RETURN_VALUE") p.value = Value(0);
    }
    sink.Done(1);
  };
  Connection connection = Open("Data Source=(sandbox);Integrated Security=SSPI");
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdStoredProc);
  command.SetCommandText("dbo.InsertSearchFolder");
  Parameter status = command.CreateParameter("", kTypeInteger, kParamReturnValue);
  Parameter name =
      command.CreateParameter("@FolderName", kTypeVarChar, kParamInput, 255, Value("x'y"));
  Parameter id = command.CreateParameter("@FolderID", kTypeSmallInt, kParamOutput);
  command.Parameters().Append(status);
  command.Parameters().Append(name);
  command.Parameters().Append(id);
  command.Execute();
  EXPECT_EQ(recorded_.batches.back(),
            "EXEC @RETURN_VALUE = dbo.InsertSearchFolder @FolderName = @FolderName, @FolderID = "
            "@FolderID OUTPUT");
  const auto& sent = recorded_.parameters.back();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_TRUE(sent[0].output);
  EXPECT_EQ(sent[1].value, Value("x'y"));  // the value travels as a parameter, not as text
  EXPECT_FALSE(sent[1].output);
  EXPECT_EQ(sent[2].type_name, "smallint");
  EXPECT_EQ(id.Value(), Value(1001));
  EXPECT_EQ(status.Value(), Value(0));

  command.SetCommandText("sp_who");
  command.Parameters().Delete("@FolderName");
  command.Parameters().Delete("@FolderID");
  command.Parameters().Delete("");
  command.Execute();
  EXPECT_EQ(recorded_.batches.back(), "EXEC sp_who");
}

TEST_F(SandboxDriverTest, PositionalProcedureArguments) {
  Connection connection = Open("Data Source=(sandbox);Integrated Security=SSPI");
  Command command;
  command.SetActiveConnection(connection);
  command.SetCommandType(kCmdStoredProc);
  command.SetCommandText("sp_helpdb");
  command.Parameters().Append(
      command.CreateParameter("", kTypeVarChar, kParamInput, 128, Value("x")));
  command.Execute();
  EXPECT_EQ(recorded_.batches.back(), "EXEC sp_helpdb @P1");
  EXPECT_EQ(recorded_.parameters.back()[0].name, "@P1");
}

}  // namespace
}  // namespace db
