#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "db/connection_string.h"
#include "fixture.h"
#include "servers/server.h"

namespace servers {
namespace {

using testing::kSrv01;
using testing::kSrv02;

class ServerConnectTest : public testing::ServersFixture {};

TEST(MachineNameTest, IsTheDataSourceBeforeItsFirstBackslash) {
  EXPECT_EQ(MachineNameOf("SRV01\\ARCHIVE"), "SRV01");
  EXPECT_EQ(MachineNameOf("SRV01"), "SRV01");
  EXPECT_EQ(MachineNameOf("\\SRV01"), "\\SRV01");
  EXPECT_EQ(MachineNameOf("\\\\SRV01\\ARCHIVE"), "\\\\SRV01\\ARCHIVE");
  EXPECT_EQ(MachineNameOf("(sandbox)\\TEST"), "(sandbox)");
  EXPECT_EQ(MachineNameOf("SRV01,1433\\X\\Y"), "SRV01,1433");
  EXPECT_EQ(MachineNameOf(""), "");
}

TEST(UncNameTest, PutsTwoBackslashesInFrontOnlyOnce) {
  EXPECT_EQ(UncName("10.0.0.7"), "\\\\10.0.0.7");
  EXPECT_EQ(UncName("\\10.0.0.7"), "\\\\10.0.0.7");
  EXPECT_EQ(UncName("\\\\10.0.0.7"), "\\\\10.0.0.7");
}

TEST_F(ServerConnectTest, ChecksTheMachineThenOpensWithTheTimeOutAppended) {
  Answering("SRV02", "10.0.0.7");
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSrv02);
  EXPECT_FALSE(server.Connected());
  EXPECT_EQ(server.Name(), "");
  ASSERT_TRUE(server.Connect()) << server.Description();

  EXPECT_TRUE(server.Connected());
  EXPECT_EQ(server.Name(), "SRV02\\ARCHIVE");
  EXPECT_EQ(server.MachineName(), "SRV02");
  EXPECT_EQ(server.Location(), "SRV02\\ARCHIVE");
  EXPECT_EQ(server.Description(), "");
  ASSERT_EQ(platform_.network.echo_calls().size(), 1u);
  EXPECT_EQ(platform_.network.echo_calls()[0].machine, "SRV02");
  EXPECT_EQ(platform_.network.echo_calls()[0].payload, "Echo this");
  EXPECT_EQ(platform_.network.echo_calls()[0].timeout_ms, 500);
  // The join state is asked of the machine's address as a UNC name.
  EXPECT_EQ(platform_.network.join_calls(), (std::vector<std::string>{"\\\\10.0.0.7"}));
  EXPECT_TRUE(server.JoinedToNetwork());

  ASSERT_EQ(fake_->connects().size(), 1u);
  const db::ConnectRequest request = fake_->connects()[0];
  EXPECT_EQ(request.connect_timeout_seconds, 5);
  EXPECT_EQ(request.user, "sa");
  EXPECT_EQ(request.password, "secret");
  db::Connection connection = server.Connection();
  EXPECT_EQ(connection.CursorLocation(), db::kUseServer);
  EXPECT_EQ(connection.Properties("Persist Security Info").Value(), db::Value(true));
  // Kept with the password, as other parts build their connections from it.
  EXPECT_EQ(connection.ConnectionString(), std::string(kSrv02) + ";Connect Timeout=5;");
  // The stored text has no time-out suffix.
  EXPECT_EQ(server.ConnectionString(), kSrv02);
  EXPECT_EQ(StoredConnectionString(1), kSrv02);
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(ServerConnectTest, AStoredTimeOutIsOverriddenByTheFiveSeconds) {
  Answering("SRV01");
  Server server(MakeContext(), 1);
  server.SetConnectionString(std::string(kSrv01) + ";Connect Timeout=600;");
  ASSERT_TRUE(server.Connect());
  EXPECT_EQ(fake_->connects().back().connect_timeout_seconds, 5);
}

TEST_F(ServerConnectTest, AMachineThatDoesNotAnswerIsNotConnectedAndNothingElseChanges) {
  Silent("SRV01");
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSrv01);
  EXPECT_FALSE(server.Connect());
  EXPECT_TRUE(fake_->connects().empty());
  EXPECT_EQ(server.Description(), "");
  EXPECT_FALSE(server.Connected());
  EXPECT_FALSE(server.JoinedToNetwork());
  // Only the echo was sent: no address lookup, no join question.
  EXPECT_TRUE(platform_.network.lookup_calls().empty());
  EXPECT_TRUE(platform_.network.join_calls().empty());
  // The data source is known all the same.
  EXPECT_EQ(server.Name(), "SRV01");
}

TEST_F(ServerConnectTest, AFailedNetworkCheckKeepsTheEarlierFlagAndDescription) {
  Answering("SRV02");
  fake_->AcceptLogin("sa", "other");
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSrv02);
  EXPECT_FALSE(server.Connect());
  EXPECT_EQ(server.Description(), "Login failed for user 'sa'.");

  // Now connected, then the service stops (the flag stays) and the machine goes silent.
  fake_->AcceptLogin("sa", "secret");
  ASSERT_TRUE(server.Connect());
  EXPECT_EQ(server.Description(), "Login failed for user 'sa'.");
  server.StopService();
  Silent("SRV02");
  size_t connects = fake_->connects().size();
  EXPECT_FALSE(server.Connect());
  EXPECT_TRUE(server.Connected());
  EXPECT_EQ(fake_->connects().size(), connects);
  EXPECT_EQ(server.Description(), "Login failed for user 'sa'.");
}

// What the attempt found out is kept for every way a connect fails, the network check included
// (which leaves Description as it was).
TEST_F(ServerConnectTest, AFailedConnectSaysWhy) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"no address", [] {}, "the machine name 'SRV02' was not found (it has no network address)"},
      {"silent", [this] { Silent("SRV02"); },
       "the machine 'SRV02' did not answer the echo within 500 ms"},
      {"unreachable",
       [this] {
         platform::FakeNetworkProbe::Machine m;
         m.echo = platform::kIpDestHostUnreachable;
         platform_.network.SetMachine("SRV02", m);
       },
       "the machine 'SRV02' cannot be reached (host unreachable)"},
      {"login refused",
       [this] {
         Answering("SRV02");
         fake_->AcceptLogin("sa", "other");
       },
       "the login failed: Login failed for user 'sa'."},
      {"connected",
       [this] {
         Answering("SRV02");
         fake_->AcceptLogin("sa", "secret");
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    Server server(MakeContext(), 1);
    server.SetConnectionString(kSrv02);
    EXPECT_EQ(server.Connect(), c.reason.empty());
    EXPECT_EQ(server.FailureReason(), c.reason);
  }
}

TEST_F(ServerConnectTest, RefusedCredentialsClearTheFlagAndKeepTheProvidersMessage) {
  Answering("SRV02");
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSrv02);
  ASSERT_TRUE(server.Connect());
  server.StopService();
  fake_->AcceptLogin("sa", "changed");
  EXPECT_FALSE(server.Connect());
  EXPECT_FALSE(server.Connected());
  EXPECT_EQ(server.Description(), "Login failed for user 'sa'.");
  EXPECT_EQ(server.Connection().State(), db::kStateClosed);
}

TEST_F(ServerConnectTest, TheJoinStateIsSetOnlyByWorkgroupOrDomainAndNeverReset) {
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSrv01);
  Answering("SRV01", "10.0.0.1", platform::kJoinStatusUnjoined);
  ASSERT_TRUE(server.Connect());
  EXPECT_FALSE(server.JoinedToNetwork());
  server.StopService();
  Answering("SRV01", "10.0.0.1", platform::kJoinStatusUnknown);
  ASSERT_TRUE(server.Connect());
  EXPECT_FALSE(server.JoinedToNetwork());
  server.StopService();
  Answering("SRV01", "10.0.0.1", platform::kJoinStatusDomain);
  ASSERT_TRUE(server.Connect());
  EXPECT_TRUE(server.JoinedToNetwork());
  server.StopService();
  Answering("SRV01", "10.0.0.1", platform::kJoinStatusUnjoined);
  ASSERT_TRUE(server.Connect());
  EXPECT_TRUE(server.JoinedToNetwork());
}

TEST_F(ServerConnectTest, AMachineWithoutAnAddressIsNotAskedForItsJoinState) {
  Answering("SRV01", "");
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSrv01);
  ASSERT_TRUE(server.Connect());
  EXPECT_TRUE(platform_.network.join_calls().empty());
  EXPECT_FALSE(server.JoinedToNetwork());
}

TEST_F(ServerConnectTest, ConnectingAgainWhileOpenKeepsTheConnection) {
  std::unique_ptr<Server> server = ConnectedServer();
  db::Connection before = server->Connection();
  EXPECT_TRUE(server->Connect());
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->Description(), "");
  EXPECT_EQ(server->Connection(), before);
  EXPECT_EQ(before.State(), db::kStateOpen);
  EXPECT_EQ(fake_->connects().size(), 1u);
}

TEST_F(ServerConnectTest, WithoutAConnectionStringConnectFailsWithAReason) {
  Server server(MakeContext(), 4);
  EXPECT_FALSE(server.Connect());
  EXPECT_NE(server.Description().find("no connection string"), std::string::npos);
  EXPECT_THROW(server.Location(), common::Error);
  EXPECT_THROW(server.Connection(), common::Error);
  // Questions that never fail still answer.
  EXPECT_EQ(server.CurrentUser(), "");
  EXPECT_EQ(server.Version("ProductVersion"), "");
  EXPECT_EQ(server.LoginMode(), kLoginModeUnknown);
  EXPECT_FALSE(server.RevokeLogin("sa", 1));
  EXPECT_EQ(server.Status(), 0);
}

TEST_F(ServerConnectTest, AMalformedConnectionStringFailsWithTheParsersMessage) {
  Server server(MakeContext(), 1);
  server.SetConnectionString("Data Source='SRV01;Password=x'';DROP TABLE y --");
  EXPECT_FALSE(server.Connect());
  EXPECT_FALSE(server.Connected());
  EXPECT_FALSE(server.Description().empty());
  EXPECT_TRUE(fake_->connects().empty());
}

TEST_F(ServerConnectTest, AssigningAConnectionStringStoresItAndReplacesTheConnection) {
  std::unique_ptr<Server> server = ConnectedServer();
  db::Connection old = server->Connection();
  std::string changed = std::string(kSrv01) + ";Application Name=Console";
  server->SetConnectionString(changed);
  EXPECT_EQ(server->ConnectionString(), changed);
  EXPECT_EQ(StoredConnectionString(1), changed);
  EXPECT_FALSE(server->Connection() == old);
  EXPECT_EQ(server->Connection().State(), db::kStateClosed);
  ASSERT_TRUE(server->Connect());
  EXPECT_EQ(fake_->connects().back().application, "Console");
}

TEST_F(ServerConnectTest, AFailedRegistryWriteLeavesTheRegistrationAsItWas) {
  std::unique_ptr<Server> server = ConnectedServer();
  db::Connection connection = server->Connection();
  platform_.registry.FailOperation(platform::RegistryOperation::kSetValue,
                                   platform::kErrorRegistryIoFailed);
  try {
    server->SetConnectionString("Provider=SQLOLEDB;Data Source=ELSEWHERE");
    ADD_FAILURE() << "no error was raised";
  } catch (const common::Error& error) {
    EXPECT_EQ(error.number(), platform::kRegistryErrorNumber);
    EXPECT_NE(error.description().find("ErrorCode: 1016"), std::string::npos);
  }
  EXPECT_EQ(server->ConnectionString(), kSrv01);
  EXPECT_EQ(StoredConnectionString(1), kSrv01);
  EXPECT_EQ(server->Connection(), connection);
  EXPECT_EQ(connection.State(), db::kStateOpen);
}

}  // namespace
}  // namespace servers
