// Discovery from sample configuration files: domains from Samba, servers from the sandbox,
// FreeTDS and unixODBC, domain controllers, and cNet on top.
#include <gtest/gtest.h>

#include "platform/config_file.h"
#include "platform/testing/fake_network_discovery.h"
#include "platform/testing/fake_network_probe.h"
#include "platform/linux_network_discovery.h"
#include "platform/linux_network_probe.h"
#include "platform/net.h"
#include "platform/scripted_user_interface.h"
#include "platform/temp_dir.h"

namespace platform {
namespace {

using platform_test::TempDir;
using Names = std::vector<std::string>;

constexpr const char* kFreeTds = R"(#   $Id: freetds.conf sample
[global]
	tds version = auto
	host = not-a-server

[ARCHIVE1]
	host = archive1.fernwick.example
	port = 1433
	tds version = 7.1

;[commented]
;	host = x
[NoHost]
	port = 2000
[Srv'; DROP]
	host = 10.0.0.9
)";

constexpr const char* kUserFreeTds = R"([archive1]
	host = other.example
[Lab]
	host = lab.fernwick.example
)";

constexpr const char* kOdbcIni = R"([ODBC Data Sources]
Archive = FreeTDS

[Archive]
Driver = FreeTDS
Server = SRV01\ARCHIVE
Port = 1433

[ViaFreeTds]
Driver = FreeTDS
Servername = Lab

[NoServer]
Driver = FreeTDS
Database = x
)";

class LinuxNetworkDiscoveryTest : public ::testing::Test {
 protected:
  LinuxNetworkDiscovery Make() {
    LinuxNetworkDiscovery::Options options;
    options.samba_config = dir_ / "smb.conf";
    options.freetds_configs = {dir_ / "etc-freetds.conf", dir_ / "home-freetds.conf"};
    options.odbc_inis = {dir_ / "etc-odbc.ini", dir_ / "home-odbc.ini"};
    return LinuxNetworkDiscovery(probe_, env_, options);
  }

  TempDir dir_;
  FakeEnvironment env_{{"COMPUTERNAME", "ARCHIVEPC"}};
  LinuxNetworkProbe probe_{env_, {dir_ / "smb.conf", LinuxNetworkProbe::EchoMethod::kTcp, 1433}};
};

TEST_F(LinuxNetworkDiscoveryTest, NothingConfiguredGivesEmptyAnswers) {
  auto discovery = Make();
  EXPECT_EQ(discovery.EnumDomains(), Names{});
  EXPECT_EQ(discovery.EnumServers(kServerTypeSqlServer, ""), Names{});
  EXPECT_EQ(discovery.GetJoinStatus(), kJoinStatusUnjoined);
  EXPECT_EQ(discovery.GetPrimaryDCName("", "FERNWICK"), "");
}

TEST_F(LinuxNetworkDiscoveryTest, ListsConfiguredServersOnceEach) {
  dir_.Write("etc-freetds.conf", kFreeTds);
  dir_.Write("home-freetds.conf", kUserFreeTds);
  dir_.Write("etc-odbc.ini", kOdbcIni);
  dir_.Write("home-odbc.ini", "[Mine]\nServer = (sandbox)\\TEST\n");
  auto discovery = Make();
  discovery.SetSandboxLister([] { return Names{"(sandbox)", "(sandbox)\\TEST"}; });
  EXPECT_EQ(
      discovery.EnumServers(kServerTypeSqlServer, "FERNWICK"),
      (Names{"(sandbox)", "(sandbox)\\TEST", "ARCHIVE1", "Srv'; DROP", "Lab", "SRV01\\ARCHIVE"}));
  EXPECT_EQ(discovery.EnumServers(kServerTypeAll, ""), discovery.EnumServers(4, "x"));
  // Only SQL Servers are known here.
  EXPECT_EQ(discovery.EnumServers(0x00000001, ""), Names{});
}

TEST_F(LinuxNetworkDiscoveryTest, UnreadableOrHugeFilesAreSkipped) {
  std::filesystem::create_directory(dir_ / "etc-freetds.conf");
  std::string huge(3 * 1024 * 1024, '#');
  huge += "\n[Late]\nhost = late.example\n";
  dir_.Write("home-freetds.conf", huge);
  constexpr char kBinary[] = "[Bin\0ary]\nServer = \x01\x02\n";
  dir_.Write("etc-odbc.ini", std::string(kBinary, sizeof kBinary - 1));
  auto discovery = Make();
  // The section past the first megabyte is not read; the binary one is read as text.
  EXPECT_EQ(discovery.EnumServers(kServerTypeSqlServer, ""), (Names{"\x01\x02"}));
}

TEST_F(LinuxNetworkDiscoveryTest, DomainAndControllerFromSamba) {
  dir_.Write("smb.conf", "[global]\n workgroup = FERNWICK\n");
  auto discovery = Make();
  EXPECT_EQ(discovery.EnumDomains(), Names{"FERNWICK"});
  EXPECT_EQ(discovery.GetJoinStatus(), kJoinStatusWorkgroup);
  EXPECT_EQ(discovery.GetPrimaryDCName("", "FERNWICK"), "") << "a workgroup has no controller";

  dir_.Write("smb.conf",
             "[global]\n workgroup = CORP\n realm = corp.fernwick.example\n security = ads\n"
             " password server = dc1.corp.fernwick.example dc2\n");
  EXPECT_EQ(discovery.EnumDomains(), Names{"CORP"});
  EXPECT_EQ(discovery.GetJoinStatus(), kJoinStatusDomain);
  EXPECT_EQ(discovery.GetPrimaryDCName("", "corp"), "\\\\dc1.corp.fernwick.example");
  EXPECT_EQ(discovery.GetPrimaryDCName("", "CORP.FERNWICK.EXAMPLE"),
            "\\\\dc1.corp.fernwick.example");
  EXPECT_EQ(discovery.GetPrimaryDCName("", "OTHER"), "");
  EXPECT_EQ(discovery.GetPrimaryDCName("\\\\SRV01", "CORP"), "") << "another server was asked";

  dir_.Write("smb.conf",
             "[global]\n workgroup = CORP\n netbios name = dc0\n"
             " server role = active directory domain controller\n");
  EXPECT_EQ(discovery.GetPrimaryDCName("", ""), "\\\\DC0");
}

TEST(DefaultDiscoveryOptionsTest, FollowTheToolsOwnVariables) {
  FakeEnvironment env{{"HOME", "/home/ann"}};
  auto options = LinuxNetworkDiscovery::DefaultOptions(env);
  EXPECT_EQ(options.freetds_configs, (std::vector<std::filesystem::path>{
                                         "/etc/freetds/freetds.conf", "/home/ann/.freetds.conf"}));
  EXPECT_EQ(options.odbc_inis,
            (std::vector<std::filesystem::path>{"/etc/odbc.ini", "/home/ann/.odbc.ini"}));
  env.Set("FREETDSCONF", "/opt/tds.conf");
  env.Set("ODBCSYSINI", "/opt/odbc");
  env.Set("ODBCINI", "/opt/user.ini");
  options = LinuxNetworkDiscovery::DefaultOptions(env);
  EXPECT_EQ(options.freetds_configs.front(), "/opt/tds.conf");
  EXPECT_EQ(options.odbc_inis,
            (std::vector<std::filesystem::path>{"/opt/odbc/odbc.ini", "/opt/user.ini"}));
}

TEST(ConfigFileTest, ParsesSectionsCommentsAndContinuations) {
  auto sections = ParseConfig(
      "top = 1\r\n"
      "[ First ]\r\n"
      "  Key Name = a = b  \r\n"
      "# comment = no\n"
      "broken line\n"
      "= no key\n"
      "long = one \\\n"
      "  two\n"
      "[unclosed\n"
      "KEY_NAME = last\n"
      "[Second]\n"
      "end = \\");
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].Get("top"), "1");
  EXPECT_EQ(sections[1].name, "First");
  EXPECT_EQ(sections[1].Get("keyname"), "last");
  EXPECT_EQ(sections[1].Get("long"), "one  two");
  EXPECT_EQ(sections[1].entries.front().second, "a = b");
  EXPECT_FALSE(sections[1].Get("comment").has_value());
  EXPECT_EQ(sections[2].Get("end"), "");
}

TEST(NetTest, RemembersTheDomainAndItsController) {
  FakeNetworkDiscovery discovery;
  ScriptedUserInterface ui;
  discovery.SetPrimaryDC("CORP", "\\\\DC1");
  discovery.SetJoinStatus(kJoinStatusDomain);
  cNet net(discovery, ui);
  EXPECT_EQ(net.GetJoinStatus(), kJoinStatusDomain);
  EXPECT_EQ(net.GetPDC("corp"), "\\\\DC1");
  EXPECT_EQ(net.Domain(), "corp");
  EXPECT_EQ(net.PDC(), "\\\\DC1");
  EXPECT_EQ(net.GetPDC("OTHER"), "");
  EXPECT_EQ(net.PDC(), "");
  ASSERT_EQ(discovery.dc_requests().size(), 2u);
  EXPECT_EQ(discovery.dc_requests()[0], (std::pair<std::string, std::string>{"", "corp"}));
}

TEST(NetTest, BrowserNamesJoinTheChosenAccounts) {
  FakeNetworkDiscovery discovery;
  ScriptedUserInterface ui;
  cNet net(discovery, ui);
  ui.QueueAccounts({{"CORP", "ann"}, {"ARCHIVEPC", "Archive Users"}});
  ui.QueueAccounts({});
  EXPECT_EQ(net.GetBrowserNames("Select Windows Account", 43),
            "CORP\\ann\r\nARCHIVEPC\\Archive Users");
  EXPECT_EQ(net.GetBrowserNames("Select Windows Account", 43), "");
  ASSERT_EQ(ui.picker_requests().size(), 2u);
  EXPECT_EQ(ui.picker_requests()[0].title, "Select Windows Account");
  EXPECT_EQ(ui.picker_requests()[0].flags, 43);
}

TEST(FakeNetworkDiscoveryTest, AnswersAndFailsAsTold) {
  FakeNetworkDiscovery discovery;
  discovery.SetDomains({"CORP", "LAB"});
  discovery.SetServers("corp", {"SRV01", "SRV02"});
  EXPECT_EQ(discovery.EnumDomains(), (Names{"CORP", "LAB"}));
  EXPECT_EQ(discovery.EnumServers(4, "CORP"), (Names{"SRV01", "SRV02"}));
  EXPECT_EQ(discovery.EnumServers(4, "LAB"), Names{});
  discovery.SetDomainError(common::Error(1208, "Module1.EnumDomains()", "Net down"));
  EXPECT_THROW(discovery.EnumDomains(), common::Error);
  EXPECT_EQ(discovery.domain_requests(), 2);
  ASSERT_EQ(discovery.server_requests().size(), 2u);
  EXPECT_EQ(discovery.server_requests()[1].domain, "LAB");
}

}  // namespace
}  // namespace platform
