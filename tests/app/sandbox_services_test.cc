#include "app/services/sandbox_services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux_platform.h"
#include "platform/temp_dir.h"
#include "sandbox/server.h"

namespace app {
namespace {

using platform::kServiceRunning;
using platform::kServiceStopped;
using platform::kServiceUnknown;

class NullSink : public sandbox::ResultSink {
 public:
  void BeginRowSet(const std::vector<sandbox::Column>&) override {}
  void Row(std::vector<common::Value>) override { ++rows; }
  void EndRowSet() override {}
  void Done(std::int64_t) override {}
  void Message(const sandbox::ServerMessage& message) override {
    if (message.IsError()) ++errors;
  }
  int rows = 0;
  int errors = 0;
};

sandbox::LoginRequest LocalAccount() {
  sandbox::LoginRequest request;
  request.integrated = true;
  request.os_user = "tester";
  return request;
}

// True when the session still answers a query; false when the server has ended it.
bool Answers(sandbox::Session& session) {
  NullSink sink;
  std::vector<sandbox::Parameter> none;
  try {
    session.Execute("SELECT 1", none, sink, std::chrono::milliseconds(0));
  } catch (const sandbox::SessionError& error) {
    EXPECT_EQ(error.kind(), sandbox::SessionError::Kind::kBroken);
    return false;
  }
  EXPECT_EQ(sink.errors, 0);
  EXPECT_EQ(sink.rows, 1);
  return true;
}

class SandboxServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root()));
    host_->Create("", sandbox::InstanceConfig{});
    host_->Create("V7", sandbox::InstanceConfig{});
  }

  std::filesystem::path root() const { return temp_ / "sandbox"; }

  platform_test::TempDir temp_;
  std::shared_ptr<sandbox::Host> host_;
};

TEST_F(SandboxServicesTest, HandlesTheSandboxMachineOnly) {
  SandboxServiceControl control(host_);
  for (const char* name :
       {"(sandbox)", "(SANDBOX)", "(sandbox)\\V7", "(Sandbox)\\NoSuchOne", "\\\\(sandbox)\\v7"}) {
    EXPECT_TRUE(control.Handles(name)) << name;
  }
  for (const char* name :
       {"", "SRV01", "(local)", "(sandbox)x", "(sandboxes)", "sandbox", "SRV01\\(sandbox)"}) {
    EXPECT_FALSE(control.Handles(name)) << name;
  }
}

TEST_F(SandboxServicesTest, StatusStopAndStartFollowTheServiceControlManager) {
  SandboxServiceControl control(host_);
  EXPECT_EQ(control.Status("(sandbox)"), kServiceRunning);
  EXPECT_EQ(control.Status("(sandbox)\\V7"), kServiceRunning);
  EXPECT_EQ(control.Status("(sandbox)\\MSSQLSERVER"), kServiceRunning);

  EXPECT_TRUE(control.Stop("(sandbox)\\v7"));
  EXPECT_EQ(control.Status("(sandbox)\\V7"), kServiceStopped);
  // The default instance is a service of its own.
  EXPECT_EQ(control.Status("(sandbox)"), kServiceRunning);
  // A stopped service cannot be stopped again, nor a running one started.
  EXPECT_FALSE(control.Stop("(sandbox)\\V7"));
  EXPECT_FALSE(control.Start("(sandbox)"));

  EXPECT_TRUE(control.Start("(sandbox)\\V7"));
  EXPECT_EQ(control.Status("(sandbox)\\V7"), kServiceRunning);
}

TEST_F(SandboxServicesTest, UnknownAndHostileInstancesHaveNoService) {
  SandboxServiceControl control(host_);
  const std::string long_name = "(sandbox)\\" + std::string(300, 'A');
  for (const std::string& name :
       {std::string("(sandbox)\\NOSUCH"), std::string("(sandbox)\\..\\..\\etc"),
        std::string("(sandbox)\\V7';DROP DATABASE master--"), std::string("(sandbox)\\[V7]"),
        std::string("(sandbox)\\"), std::string("(sandbox)\\V7\\V7"), long_name}) {
    EXPECT_EQ(control.Status(name), kServiceUnknown) << name;
    EXPECT_FALSE(control.Start(name)) << name;
    EXPECT_FALSE(control.Stop(name)) << name;
  }
  // Nothing was created on the way.
  EXPECT_EQ(SandboxDataSources(root()), (std::vector<std::string>{"(sandbox)", "(sandbox)\\V7"}));
  // A provider without a host answers nothing.
  SandboxServiceControl nothing(nullptr);
  EXPECT_EQ(nothing.Status("(sandbox)"), kServiceUnknown);
  EXPECT_FALSE(nothing.Stop("(sandbox)"));
}

TEST_F(SandboxServicesTest, StopEndsSessionsAndRefusesNewOnesUntilStarted) {
  SandboxServiceControl control(host_);
  auto instance = host_->Find("");
  auto session = instance->Connect(LocalAccount());
  ASSERT_TRUE(Answers(*session));
  auto other = host_->Find("V7")->Connect(LocalAccount());

  ASSERT_TRUE(control.Stop("(sandbox)"));
  EXPECT_FALSE(Answers(*session));
  EXPECT_THROW(instance->Connect(LocalAccount()), sandbox::ConnectError);
  // Another instance's sessions are not touched.
  EXPECT_TRUE(Answers(*other));

  ASSERT_TRUE(control.Start("(sandbox)"));
  auto again = instance->Connect(LocalAccount());
  EXPECT_TRUE(Answers(*again));
  // A session the stop ended stays ended.
  EXPECT_FALSE(Answers(*session));
}

// Two hosts on one root stand for two processes (the console and the tessera-sandbox command):
// they share nothing but the files.
TEST_F(SandboxServicesTest, AStopInAnotherProcessReachesThisOne) {
  auto console_instance = host_->Find("");
  auto session = console_instance->Connect(LocalAccount());
  ASSERT_TRUE(Answers(*session));

  SandboxServiceControl console_control(host_);
  SandboxServiceControl command_control(std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root())));
  ASSERT_TRUE(command_control.Stop("(sandbox)"));

  EXPECT_EQ(console_control.Status("(sandbox)"), kServiceStopped);
  EXPECT_FALSE(console_instance->config().running);
  EXPECT_FALSE(Answers(*session));
  EXPECT_THROW(console_instance->Connect(LocalAccount()), sandbox::ConnectError);
  // The console sees the state it was told and cannot stop it twice.
  EXPECT_FALSE(console_control.Stop("(sandbox)"));

  ASSERT_TRUE(command_control.Start("(sandbox)"));
  EXPECT_EQ(console_control.Status("(sandbox)"), kServiceRunning);
  auto again = console_instance->Connect(LocalAccount());
  EXPECT_TRUE(Answers(*again));
}

TEST_F(SandboxServicesTest, AStopAndStartBetweenTwoBatchesStillEndsTheSession) {
  auto console_instance = host_->Find("");
  auto session = console_instance->Connect(LocalAccount());
  ASSERT_TRUE(Answers(*session));
  SandboxServiceControl command_control(std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root())));
  ASSERT_TRUE(command_control.Stop("(sandbox)"));
  ASSERT_TRUE(command_control.Start("(sandbox)"));
  // The console never saw the instance stopped, yet its session was ended by the stop.
  EXPECT_FALSE(Answers(*session));
  auto again = console_instance->Connect(LocalAccount());
  EXPECT_TRUE(Answers(*again));
}

TEST_F(SandboxServicesTest, TheStateOutlivesTheProcess) {
  SandboxServiceControl control(host_);
  ASSERT_TRUE(control.Stop("(sandbox)\\V7"));
  host_.reset();
  SandboxServiceControl later(std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root())));
  EXPECT_EQ(later.Status("(sandbox)\\V7"), kServiceStopped);
  EXPECT_EQ(later.Status("(sandbox)"), kServiceRunning);
}

TEST_F(SandboxServicesTest, DataSourcesOfTheRootDefaultFirst) {
  host_->Create("Alpha", sandbox::InstanceConfig{});
  // A folder without an instance's configuration is no instance.
  std::filesystem::create_directories(root() / "STRAY");
  EXPECT_EQ(SandboxDataSources(root()),
            (std::vector<std::string>{"(sandbox)", "(sandbox)\\ALPHA", "(sandbox)\\V7"}));
  EXPECT_TRUE(SandboxDataSources(temp_ / "missing").empty());
  EXPECT_EQ(SandboxDataSource(""), "(sandbox)");
  EXPECT_EQ(SandboxDataSource("mssqlserver"), "(sandbox)");
  EXPECT_EQ(SandboxDataSource("V7"), "(sandbox)\\V7");
}

TEST_F(SandboxServicesTest, PluggedIntoThePlatformServices) {
  platform::LinuxPlatform::Options options;
  options.registry_path = temp_ / "registry.db";
  options.use_systemd = false;
  platform::LinuxPlatform linux_platform(options);
  platform::Services services = linux_platform.services();
  EXPECT_EQ(services.service_control.Status("\\\\(sandbox)\\V7"), kServiceUnknown);
  {
    SandboxServices sandbox_services(host_, root());
    sandbox_services.Attach(linux_platform.service_control(), linux_platform.discovery());
    EXPECT_EQ(services.service_control.Status("\\\\(sandbox)\\V7"), kServiceRunning);
    EXPECT_TRUE(services.service_control.Stop("(sandbox)\\V7"));
    EXPECT_EQ(services.service_control.Status("\\\\(sandbox)\\V7"), kServiceStopped);
    std::vector<std::string> servers =
        services.discovery.EnumServers(platform::kServerTypeSqlServer, "");
    ASSERT_GE(servers.size(), 2u);
    EXPECT_EQ(servers[0], "(sandbox)");
    EXPECT_EQ(servers[1], "(sandbox)\\V7");
    // Instances made later are offered too.
    host_->Create("Later", sandbox::InstanceConfig{});
    servers = services.discovery.EnumServers(platform::kServerTypeSqlServer, "");
    EXPECT_NE(std::find(servers.begin(), servers.end(), "(sandbox)\\LATER"), servers.end());
  }
  // Once the sandbox is gone, nothing answers for it.
  EXPECT_EQ(services.service_control.Status("\\\\(sandbox)\\V7"), kServiceUnknown);
  EXPECT_FALSE(services.service_control.Start("(sandbox)\\V7"));
}

}  // namespace
}  // namespace app
