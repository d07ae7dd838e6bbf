#include <gtest/gtest.h>

#include "fixture.h"
#include "servers/server.h"

namespace servers {
namespace {

using testing::kSrv02;

class ServiceTest : public testing::ServersFixture {
 protected:
  void SetService(const std::string& data_source, int status, bool start_succeeds = true,
                  bool stop_succeeds = true) {
    platform::FakeServiceControl::Service service;
    service.status = status;
    service.start_succeeds = start_succeeds;
    service.stop_succeeds = stop_succeeds;
    platform_.services_fake.SetService(data_source, service);
  }
};

TEST_F(ServiceTest, StatusIsAskedOfTheDataSourceForJoinedMachines) {
  SetService("SRV02\\ARCHIVE", platform::kServiceRunning);
  std::unique_ptr<Server> server = ConnectedServer(kSrv02, "SRV02");
  ASSERT_TRUE(server->JoinedToNetwork());
  EXPECT_EQ(server->Status(), platform::kServiceRunning);
  ASSERT_EQ(platform_.services_fake.calls().size(), 1u);
  EXPECT_EQ(platform_.services_fake.calls()[0].operation, "Status");
  // Asked as "\\" + data source; the service control takes the UNC backslashes off.
  EXPECT_EQ(platform_.services_fake.calls()[0].data_source, "SRV02\\ARCHIVE");
}

TEST_F(ServiceTest, AMachineOutsideAnyWorkgroupOrDomainAlwaysGivesZero) {
  SetService("SRV02\\ARCHIVE", platform::kServiceRunning);
  Answering("SRV02", "10.0.0.2", platform::kJoinStatusUnjoined);
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSrv02);
  ASSERT_TRUE(server.Connect());
  EXPECT_EQ(server.Status(), 0);
  EXPECT_TRUE(platform_.services_fake.calls().empty());
  // Never connected: not joined either.
  Server other(MakeContext(), 2);
  EXPECT_EQ(other.Status(), 0);
}

TEST_F(ServiceTest, AServiceNobodyKnowsIsZeroAndCannotBeStartedOrStopped) {
  std::unique_ptr<Server> server = ConnectedServer(kSrv02, "SRV02");
  EXPECT_EQ(server->Status(), 0);
  EXPECT_FALSE(server->StopService());
  EXPECT_FALSE(server->StartService());
}

TEST_F(ServiceTest, StopClosesTheConnectionFirstAndKeepsTheConnectedFlag) {
  SetService("SRV02\\ARCHIVE", platform::kServiceRunning);
  std::unique_ptr<Server> server = ConnectedServer(kSrv02, "SRV02");
  db::Connection connection = server->Connection();
  EXPECT_TRUE(server->StopService());
  EXPECT_EQ(connection.State(), db::kStateClosed);
  EXPECT_EQ(fake_->open_sessions(), 0);
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(platform_.services_fake.calls().back().operation, "Stop");
  EXPECT_EQ(platform_.services_fake.calls().back().data_source, "SRV02\\ARCHIVE");
  EXPECT_EQ(server->Status(), platform::kServiceStopped);
}

TEST_F(ServiceTest, StartUsesTheDataSourceAndConnectsAfterwards) {
  SetService("SRV02\\ARCHIVE", platform::kServiceStopped);
  std::unique_ptr<Server> server = ConnectedServer(kSrv02, "SRV02");
  server->StopService();
  size_t connects = fake_->connects().size();
  EXPECT_TRUE(server->StartService());
  EXPECT_EQ(platform_.services_fake.calls().back().operation, "Start");
  EXPECT_EQ(platform_.services_fake.calls().back().data_source, "SRV02\\ARCHIVE");
  EXPECT_EQ(fake_->connects().size(), connects + 1);
  EXPECT_EQ(server->Connection().State(), db::kStateOpen);
  EXPECT_EQ(server->Status(), platform::kServiceRunning);
}

TEST_F(ServiceTest, AFailedStartIsFalseButTheConnectIsStillTried) {
  SetService("SRV02\\ARCHIVE", platform::kServiceStopped, false);
  std::unique_ptr<Server> server = ConnectedServer(kSrv02, "SRV02");
  server->StopService();
  size_t connects = fake_->connects().size();
  EXPECT_FALSE(server->StartService());
  EXPECT_EQ(fake_->connects().size(), connects + 1);
}

TEST_F(ServiceTest, StartingARunningServiceLeavesTheServerConnected) {
  SetService("SRV02\\ARCHIVE", platform::kServiceRunning);
  std::unique_ptr<Server> server = ConnectedServer(kSrv02, "SRV02");
  server->StartService();
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->Description(), "");
  EXPECT_EQ(server->Connection().State(), db::kStateOpen);
}

TEST_F(ServiceTest, AFailedStopIsFalse) {
  SetService("SRV02\\ARCHIVE", platform::kServiceRunning, true, false);
  std::unique_ptr<Server> server = ConnectedServer(kSrv02, "SRV02");
  EXPECT_FALSE(server->StopService());
  EXPECT_EQ(server->Status(), platform::kServiceRunning);
}

}  // namespace
}  // namespace servers
