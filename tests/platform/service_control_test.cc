// Service control: the composite's routing, the fake provider, and the systemd provider driven
// through a stand-in systemctl script.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/testing/fake_service_control.h"
#include "platform/systemd_service_control.h"
#include "platform/temp_dir.h"

namespace platform {
namespace {

using platform_test::TempDir;

TEST(CompositeServiceControlTest, AsksProvidersInTurn) {
  FakeServiceControl sandbox, second;
  sandbox.SetService("(sandbox)", {kServiceRunning});
  sandbox.SetService("(sandbox)\\ARCHIVE", {kServiceStopped});
  second.SetService("(sandbox)", {kServicePaused});
  second.SetService("SRV01", {kServicePaused});

  CompositeServiceControl control;
  EXPECT_EQ(control.Status("(sandbox)"), kServiceUnknown);
  EXPECT_FALSE(control.Start("(sandbox)"));

  control.AddProvider(sandbox);
  control.AddProvider(second);
  control.AddProvider(sandbox);  // added once only
  EXPECT_EQ(control.Status("\\\\(sandbox)"), kServiceRunning);
  EXPECT_EQ(control.Status("\\\\(SANDBOX)\\archive"), kServiceStopped);
  EXPECT_EQ(control.Status("\\\\SRV01"), kServicePaused);
  EXPECT_EQ(control.Status("\\\\SRV02"), kServiceUnknown);
  EXPECT_FALSE(control.Stop("SRV02"));

  EXPECT_TRUE(control.Start("(sandbox)\\ARCHIVE"));
  EXPECT_EQ(control.Status("(sandbox)\\ARCHIVE"), kServiceRunning);
  // Providers get the data source without the UNC backslashes.
  ASSERT_FALSE(sandbox.calls().empty());
  EXPECT_EQ(sandbox.calls().front().data_source, "(sandbox)");
  EXPECT_TRUE(second.calls().size() == 1u && second.calls()[0].data_source == "SRV01");

  control.RemoveProvider(sandbox);
  EXPECT_EQ(control.Status("(sandbox)"), kServicePaused);
}

TEST(FakeServiceControlTest, FollowsStartAndStopResults) {
  FakeServiceControl fake;
  fake.SetService("SRV01", {kServiceStopped, false, true});
  EXPECT_FALSE(fake.Start("srv01"));
  EXPECT_EQ(fake.Status("SRV01"), kServiceStopped);
  EXPECT_TRUE(fake.Stop("SRV01"));
  EXPECT_FALSE(fake.Stop("SRV02"));
  ASSERT_EQ(fake.calls().size(), 4u);
  EXPECT_EQ(fake.calls()[0].operation, "Start");
  EXPECT_EQ(fake.calls()[3].data_source, "SRV02");
}

TEST(ServiceStateOfUnitTest, MapsSystemdStates) {
  EXPECT_EQ(ServiceStateOfUnit("loaded", "active"), kServiceRunning);
  EXPECT_EQ(ServiceStateOfUnit("loaded", "activating"), kServiceStartPending);
  EXPECT_EQ(ServiceStateOfUnit("loaded", "deactivating"), kServiceStopPending);
  EXPECT_EQ(ServiceStateOfUnit("loaded", "inactive"), kServiceStopped);
  EXPECT_EQ(ServiceStateOfUnit("loaded", "failed"), kServiceStopped);
  EXPECT_EQ(ServiceStateOfUnit("not-found", "inactive"), kServiceUnknown);
  EXPECT_EQ(ServiceStateOfUnit("loaded", ""), kServiceUnknown);
}

// A systemctl stand-in that logs its arguments and prints a prepared answer.
class SystemdServiceControlTest : public ::testing::Test {
 protected:
  SystemdServiceControlTest() {
    auto script = dir_.Write("systemctl",
                             "#!/bin/sh\n"
                             "echo \"$@\" >> '" +
                                 (dir_ / "calls").string() +
                                 "'\n"
                                 "cat '" +
                                 (dir_ / "answer").string() +
                                 "' 2>/dev/null\n"
                                 "echo noise >&2\n"
                                 "exit $(cat '" +
                                 (dir_ / "exit").string() +
                                 "' 2>/dev/null || "
                                 "echo 0)\n");
    ::chmod(script.c_str(), 0700);
    options_.systemctl = script.string();
    options_.timeout_ms = 3000;
  }
  std::string Calls() {
    std::ifstream in(dir_ / "calls");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TempDir dir_;
  FakeEnvironment env_{{"COMPUTERNAME", "ARCHIVEPC"}};
  SystemdServiceControl::Options options_;
};

TEST_F(SystemdServiceControlTest, AnswersForTheLocalDefaultInstanceOnly) {
  SystemdServiceControl control(env_, options_);
  for (std::string local : {"(local)", ".", "localhost", "ARCHIVEPC", "\\\\archivepc",
                            "127.0.0.1,1433", "ARCHIVEPC\\MSSQLSERVER"}) {
    EXPECT_TRUE(control.Handles(local)) << local;
  }
  for (std::string other : {"SRV01", "ARCHIVEPC\\NAMED", "(sandbox)", "192.0.2.7"}) {
    EXPECT_FALSE(control.Handles(other)) << other;
    EXPECT_EQ(control.Status(other), kServiceUnknown);
    EXPECT_FALSE(control.Start(other));
  }
  EXPECT_EQ(Calls(), "") << "systemctl was run for a machine it does not serve";
}

TEST_F(SystemdServiceControlTest, ReadsTheUnitState) {
  SystemdServiceControl control(env_, options_);
  dir_.Write("answer", "LoadState=loaded\nActiveState=active\n");
  EXPECT_EQ(control.Status("(local)"), kServiceRunning);
  dir_.Write("answer", "LoadState=loaded\nActiveState=inactive\n");
  EXPECT_EQ(control.Status("(local)"), kServiceStopped);
  dir_.Write("answer", "LoadState=not-found\nActiveState=inactive\n");
  EXPECT_EQ(control.Status("(local)"), kServiceUnknown);
  dir_.Write("answer", "LoadState=loaded\nActiveState=active\n");
  dir_.Write("exit", "1\n");
  EXPECT_EQ(control.Status("(local)"), kServiceUnknown);
  std::string expected;
  for (int i = 0; i < 4; ++i) {
    expected += "show --property=LoadState --property=ActiveState -- mssql-server.service\n";
  }
  EXPECT_EQ(Calls(), expected);
}

TEST_F(SystemdServiceControlTest, StartAndStopQueueTheJob) {
  SystemdServiceControl control(env_, options_);
  EXPECT_TRUE(control.Start("ARCHIVEPC"));
  EXPECT_TRUE(control.Stop("ARCHIVEPC"));
  dir_.Write("exit", "4\n");
  EXPECT_FALSE(control.Start("ARCHIVEPC"));
  EXPECT_EQ(Calls(),
            "--no-block start -- mssql-server.service\n"
            "--no-block stop -- mssql-server.service\n"
            "--no-block start -- mssql-server.service\n");
}

TEST_F(SystemdServiceControlTest, MissingOrHangingSystemctlGivesUnknown) {
  options_.systemctl = (dir_ / "no-such-program").string();
  EXPECT_EQ(SystemdServiceControl(env_, options_).Status("(local)"), kServiceUnknown);
  EXPECT_FALSE(SystemdServiceControl(env_, options_).Start("(local)"));

  auto hanging = dir_.Write("hanging", "#!/bin/sh\nexec sleep 30\n");
  ::chmod(hanging.c_str(), 0700);
  options_.systemctl = hanging.string();
  options_.timeout_ms = 200;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SystemdServiceControl(env_, options_).Status("(local)"), kServiceUnknown);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace platform
