// System facts from the environment and the system, and the Linux platform bundle.
#include "platform/system_facts.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "common/error.h"
#include "platform/testing/fake_platform.h"
#include "platform/linux_platform.h"
#include "platform/local_machine.h"
#include "platform/registry.h"
#include "platform/temp_dir.h"

namespace platform {
namespace {

using platform_test::TempDir;

TEST(LinuxSystemFactsTest, ComputerNameAsWindowsShowsIt) {
  FakeEnvironment env;
  LinuxSystemFacts facts(env);
  std::string host = LocalMachine::HostName();
  std::string expected = host.substr(0, host.find('.'));
  for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(facts.ComputerName(), expected.empty() ? "LOCALHOST" : expected);
  env.Set("COMPUTERNAME", "ARCHIVEPC");
  EXPECT_EQ(facts.ComputerName(), "ARCHIVEPC");
}

TEST(LinuxSystemFactsTest, TempFolderEndsInASeparator) {
  FakeEnvironment env;
  LinuxSystemFacts facts(env);
  EXPECT_EQ(facts.TempFolder(), "/tmp/");
  env.Set("TMPDIR", "");
  EXPECT_EQ(facts.TempFolder(), "/tmp/");
  env.Set("TMPDIR", "/var/tmp");
  EXPECT_EQ(facts.TempFolder(), "/var/tmp/");
  env.Set("TMPDIR", "/run/user/1000/");
  EXPECT_EQ(facts.TempFolder(), "/run/user/1000/");
}

TEST(LinuxSystemFactsTest, PixelsPerInchDefaultTo96) {
  FakeEnvironment env;
  LinuxSystemFacts facts(env);
  EXPECT_EQ(facts.LogicalPixelsPerInch(), 96);
  for (const char* bad : {"abc", "-5", "0", "120x", "99999"}) {
    env.Set("QT_FONT_DPI", bad);
    EXPECT_EQ(facts.LogicalPixelsPerInch(), 96) << bad;
  }
  env.Set("QT_FONT_DPI", "120");
  EXPECT_EQ(facts.LogicalPixelsPerInch(), 120);
  facts.SetLogicalPixelsPerInch(144);
  EXPECT_EQ(facts.LogicalPixelsPerInch(), 144);
}

TEST(LinuxSystemFactsTest, UserAndCodePage) {
  FakeEnvironment env{{"USER", "someone-else"}};
  LinuxSystemFacts facts(env);
  struct passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(facts.UserName(), entry->pw_name);

  EXPECT_EQ(facts.AnsiCodePage(), 1252);
  env.Set("LANG", "ru_RU.UTF-8");
  EXPECT_EQ(facts.AnsiCodePage(), 1251);
  env.Set("LC_ALL", "ja_JP.UTF-8");
  EXPECT_EQ(facts.AnsiCodePage(), 932);
}

TEST(LinuxPlatformTest, BundlesTheLinuxServices) {
  TempDir dir;
  ScriptedUserInterface ui;
  LinuxPlatform::Options options;
  options.registry_path = dir / "registry.db";
  LinuxPlatform linux_platform(options, &ui);
  Services services = linux_platform.services();
  EXPECT_EQ(&services.ui, &ui);
  EXPECT_EQ(&services.registry, &linux_platform.registry());

  cRegistry registry(services.registry, services.environment);
  registry.SetSectionKey("Software\\Test");
  registry.SetValueKey("v");
  registry.SetValueType(kRegDword);
  ASSERT_TRUE(registry.SetValue(5));
  EXPECT_EQ(registry.Value(), common::Value(5));
  EXPECT_TRUE(std::filesystem::exists(dir / "registry.db"));

  EXPECT_EQ(services.network.Echo("(sandbox)", "Echo this", 500), kEchoSuccess);
  EXPECT_EQ(services.service_control.Status("\\\\SRV01"), kServiceUnknown);

  // The sandbox's provider plugs in later and is asked for its data sources.
  FakeServiceControl sandbox;
  sandbox.SetService("(sandbox)", {kServiceRunning});
  linux_platform.service_control().AddProvider(sandbox);
  EXPECT_EQ(services.service_control.Status("\\\\(sandbox)"), kServiceRunning);
  linux_platform.service_control().RemoveProvider(sandbox);
}

TEST(LinuxPlatformTest, AnUnusableRegistryFileIsAClearError) {
  TempDir dir;
  std::filesystem::create_directory(dir / "registry.db");
  LinuxPlatform::Options options;
  options.registry_path = dir / "registry.db";
  try {
    LinuxPlatform linux_platform(options);
    FAIL() << "a folder was opened as the registry";
  } catch (const common::Error& e) {
    EXPECT_NE(e.description().find("registry.db"), std::string::npos) << e.description();
  }
}

TEST(FakePlatformTest, ServicesAreTheFakes) {
  FakePlatform fake;
  Services services = fake.services();
  fake.services_fake.SetService("(sandbox)\\ARCHIVE", {kServicePaused});
  EXPECT_EQ(services.service_control.Status("\\\\(sandbox)\\ARCHIVE"), kServicePaused);
  fake.ui.QueueAnswer(kAnswerYes);
  EXPECT_EQ(services.ui.ShowMessage(
                MessageRequest{"Go?", "T", MessageButtons::kYesNo, MessageIcon::kQuestion, 2}),
            kAnswerYes);
  EXPECT_EQ(services.system.LogicalPixelsPerInch(), 96);
  EXPECT_EQ(&services.registry, &fake.registry);
}

}  // namespace
}  // namespace platform
