#include "servers/registration_form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/connection_string.h"
#include "servers/fixture.h"
#include "servers/servers.h"

namespace servers::testing {
namespace {

constexpr char kTitle[] = "Tessera Server Manager";

// Values that would end a connection-string entry early or change its reading if written bare.
const std::vector<std::string>& HostileValues() {
  static const std::vector<std::string> values = {
      "x;Integrated Security=SSPI",
      "p;Initial Catalog=master;",
      "O'Brien",
      "say \"hi\"",
      "both ' and \" quotes;",
      "=leading equals",
      " padded ",
      "[bracketed];--",
      "\"",
      "'",
      std::string(5000, ';'),
      std::string(10000, 'w') + ";Password=stolen",
      "EVIL;User Id=sa;Password=x",
  };
  return values;
}

TEST(RegistrationString, IsExactlyTheWrittenTextForOrdinaryInput) {
  EXPECT_EQ(BuildRegistrationString("SRV01", true, "ignored", "ignored"),
            "Provider=SQLOLEDB;Data Source=SRV01;Integrated Security=SSPI;");
  EXPECT_EQ(BuildRegistrationString("SRV01", false, "sa", "secret"),
            "Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;Password=secret;");
  // No password: no password part at all.
  EXPECT_EQ(BuildRegistrationString("SRV01", false, "sa", ""),
            "Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;");
  EXPECT_EQ(BuildRegistrationString("SRV01\\ARCHIVE", false, "DOMAIN\\user", "p=w"),
            "Provider=SQLOLEDB;Data Source=SRV01\\ARCHIVE;User Id=DOMAIN\\user;Password=p=w;");
}

// Neither a login, a password nor a server text can add or change a key of the string.
TEST(RegistrationString, HostileValuesAddNoKeysAndReadBackUnchanged) {
  for (const std::string& value : HostileValues()) {
    SCOPED_TRACE(value.substr(0, 60));
    std::string text = BuildRegistrationString("SRV01", false, value, value);
    db::ConnectionString parsed = db::ConnectionString::Parse(text);
    EXPECT_EQ(parsed.entries().size(), 4u) << text.substr(0, 200);
    EXPECT_FALSE(parsed.Has("Integrated Security"));
    EXPECT_FALSE(parsed.Has("Initial Catalog"));
    EXPECT_EQ(parsed.Get("Data Source"), "SRV01");
    EXPECT_EQ(parsed.Get("User ID"), value);
    EXPECT_EQ(parsed.Get("Password"), value);
    EXPECT_EQ(ReadRegistrationLogin(text), (RegistrationLogin{false, value, value}));

    std::string as_server = BuildRegistrationString(value, true, "", "");
    db::ConnectionString server = db::ConnectionString::Parse(as_server);
    EXPECT_EQ(server.Get("Data Source"), value);
    EXPECT_FALSE(server.Has("User ID"));
    EXPECT_FALSE(server.Has("Initial Catalog"));
    EXPECT_TRUE(ReadRegistrationLogin(as_server).integrated_security);
  }
}

TEST(RegistrationLoginReadBack, FindsKeysInAnyLetterCase) {
  EXPECT_EQ(ReadRegistrationLogin("Provider=SQLOLEDB;Data Source=SRV01;user ID=Anna;PASSWORD=pw;"),
            (RegistrationLogin{false, "Anna", "pw"}));
  EXPECT_EQ(ReadRegistrationLogin("Provider=SQLOLEDB;Data Source=SRV01;integrated security=sspi"),
            (RegistrationLogin{true, "", ""}));
  // Without a password key, and without a final ";".
  EXPECT_EQ(ReadRegistrationLogin("Provider=SQLOLEDB;Data Source=SRV01;User Id=sa"),
            (RegistrationLogin{false, "sa", ""}));
  // Integrated security that is switched off reads as SQL Server authentication.
  EXPECT_EQ(ReadRegistrationLogin("Data Source=S;Integrated Security=False;User Id=u;Password=p"),
            (RegistrationLogin{false, "u", "p"}));
}

TEST(RegistrationLoginReadBack, AStringThatDoesNotParseIsReadAsText) {
  // Written bare by an older version: the quote opens a value that never closes.
  EXPECT_EQ(ReadRegistrationLogin("Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;Password=\"abc;"),
            (RegistrationLogin{false, "sa", "\"abc"}));
  EXPECT_EQ(ReadRegistrationLogin("Data Source=SRV01;garbage;INTEGRATED SECURITY=SSPI;"),
            (RegistrationLogin{true, "", ""}));
  EXPECT_EQ(ReadRegistrationLogin("Data Source=SRV01;no equals here;uSeR iD=bob"),
            (RegistrationLogin{false, "bob", ""}));
}

class RegistrationFormTest : public ServersFixture {
 protected:
  // Every box of the test is answered with OK.
  void AnswerOk(int count = 1) {
    for (int i = 0; i < count; ++i) platform_.ui.QueueAnswer(platform::kAnswerOk);
  }
  const platform::MessageRequest& OnlyBox() {
    EXPECT_EQ(platform_.ui.boxes().size(), 1u);
    return platform_.ui.boxes().back();
  }
};

TEST_F(RegistrationFormTest, FirstActivationInAWorkgroupListsDomainsAndTheFirstDomainsServers) {
  platform_.discovery.SetJoinStatus(platform::kJoinStatusWorkgroup);
  platform_.discovery.SetDomains({"WORKGROUP", "CORP"});
  platform_.discovery.SetServers("WORKGROUP", {"SRV01", "SRV02"});
  platform_.discovery.SetServers("CORP", {"DB1"});
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  form.Form_Activate();
  EXPECT_EQ(form.Domains(), (std::vector<std::string>{"WORKGROUP", "CORP"}));
  EXPECT_EQ(form.DomainText(), "WORKGROUP");
  EXPECT_EQ(form.ServerList(), (std::vector<std::string>{"SRV01", "SRV02"}));
  ASSERT_EQ(platform_.discovery.server_requests().size(), 1u);
  EXPECT_EQ(platform_.discovery.server_requests()[0].server_type, platform::kServerTypeSqlServer);
  EXPECT_EQ(platform_.ui.busy_depth(), 0);

  // Later activations list nothing again; choosing another domain replaces the servers.
  form.Form_Activate();
  EXPECT_EQ(platform_.discovery.domain_requests(), 1);
  form.SetDomainText("CORP");
  form.cboDomains_Click();
  EXPECT_EQ(form.ServerList(), (std::vector<std::string>{"DB1"}));
  EXPECT_EQ(platform_.discovery.server_requests().back().domain, "CORP");
}

TEST_F(RegistrationFormTest, MachinesOutsideANetworkOrFailingListsLeaveTheListsEmpty) {
  platform_.discovery.SetDomains({"CORP"});
  for (int status : {platform::kJoinStatusUnknown, platform::kJoinStatusUnjoined}) {
    platform_.discovery.SetJoinStatus(status);
    Servers servers(MakeContext());
    frmSQLServer form(MakeContext(), servers);
    form.Form_Activate();
    EXPECT_TRUE(form.Domains().empty());
  }
  EXPECT_EQ(platform_.discovery.domain_requests(), 0);

  platform_.discovery.SetJoinStatus(platform::kJoinStatusDomain);
  platform_.discovery.SetDomainError(common::Error(53, "NetServerEnum", "network path not found"));
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  form.Form_Activate();
  EXPECT_TRUE(form.Domains().empty());
  EXPECT_TRUE(form.ServerList().empty());
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(RegistrationFormTest, TheSecurityOptionsEnableTheLoginBoxes) {
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  EXPECT_TRUE(form.IntegratedSecurity());
  EXPECT_FALSE(form.UsernameEnabled());
  EXPECT_FALSE(form.PasswordEnabled());
  EXPECT_TRUE(form.RefreshEnabled());
  form.optServerSecurity_Click();
  EXPECT_TRUE(form.UsernameEnabled());
  EXPECT_TRUE(form.PasswordEnabled());
  form.SetUsername("sa");
  form.SetServerText("SRV01");
  EXPECT_EQ(form.BuildConnectionString(), "Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;");
  form.optIntegratedSecurity_Click();
  EXPECT_FALSE(form.UsernameEnabled());
  EXPECT_EQ(form.BuildConnectionString(),
            "Provider=SQLOLEDB;Data Source=SRV01;Integrated Security=SSPI;");
}

TEST_F(RegistrationFormTest, OkWithoutServerTextOrWithBlanksOnlyKeepsTheDialogOpen) {
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  for (const char* text : {"", "   "}) {
    form.SetServerText(text);
    AnswerOk();
    EXPECT_FALSE(form.cmdOK_Click());
    EXPECT_EQ(platform_.ui.boxes().back().text, "Please enter a server name or IP-Address");
    EXPECT_EQ(platform_.ui.boxes().back().icon, platform::MessageIcon::kNone);
  }
  EXPECT_TRUE(platform_.network.echo_calls().empty());
  EXPECT_EQ(servers.Count(), 0);
  EXPECT_FALSE(KeyExists(kServerListKey));
}

TEST_F(RegistrationFormTest, OkEchoesTheMachineAndRegistersTheDataSourceWithItsInstance) {
  Answering("SRV01");
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  form.SetServerText("SRV01\\ARCHIVE");
  EXPECT_EQ(form.MachineName(), "SRV01");
  EXPECT_TRUE(form.cmdOK_Click());
  ASSERT_FALSE(platform_.network.echo_calls().empty());
  EXPECT_EQ(platform_.network.echo_calls()[0].machine, "SRV01");
  EXPECT_EQ(platform_.network.echo_calls()[0].payload, "Echo this");
  EXPECT_EQ(StoredConnectionString(1),
            "Provider=SQLOLEDB;Data Source=SRV01\\ARCHIVE;Integrated Security=SSPI;");
  ASSERT_NE(form.Registered(), nullptr);
  EXPECT_EQ(servers.Count(), 1);
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(RegistrationFormTest, ABackslashInFrontIsNoMachineSeparator) {
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  form.SetServerText("\\SRV01\\X");
  EXPECT_EQ(form.MachineName(), "\\SRV01\\X");
  form.SetServerText("S\\X");
  EXPECT_EQ(form.MachineName(), "S");
}

TEST_F(RegistrationFormTest, AHostileLoginReachesTheServerAsOneLogin) {
  Answering("SRV01");
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  form.SetServerText("SRV01");
  form.optServerSecurity_Click();
  form.SetUsername("sa;Integrated Security=SSPI");
  form.SetPassword("x';Data Source=EVIL;\"");
  EXPECT_TRUE(form.cmdOK_Click());
  std::vector<db::ConnectRequest> connects = fake_->connects();
  ASSERT_EQ(connects.size(), 1u);
  EXPECT_FALSE(connects[0].integrated);
  EXPECT_EQ(connects[0].data_source, "SRV01");
  EXPECT_EQ(connects[0].user, "sa;Integrated Security=SSPI");
  EXPECT_EQ(connects[0].password, "x';Data Source=EVIL;\"");

  // Editing the registration later shows the same login data again.
  frmSQLServer edit(MakeContext(), servers);
  edit.SetServer(servers.Item(1));
  EXPECT_FALSE(edit.IntegratedSecurity());
  EXPECT_EQ(edit.Username(), "sa;Integrated Security=SSPI");
  EXPECT_EQ(edit.Password(), "x';Data Source=EVIL;\"");
}

TEST_F(RegistrationFormTest, ARegistrationThatCannotConnectIsStoredWithoutAMessage) {
  Answering("SRV01");
  fake_->AcceptLogin("sa", "right");
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  form.SetServerText("SRV01");
  form.optServerSecurity_Click();
  form.SetUsername("sa");
  form.SetPassword("wrong");
  EXPECT_TRUE(form.cmdOK_Click());
  EXPECT_EQ(form.Registered(), nullptr);
  EXPECT_EQ(StoredConnectionString(1),
            "Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;Password=wrong;");
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(RegistrationFormTest, EditingReadsTheLoginBackAndAssignsTheNewStringWithoutAnEcho) {
  Store(1, "Provider=SQLOLEDB;Data Source=SRV02\\ARCHIVE;user ID=Anna;password=pw", 1);
  Answering("SRV02");
  Servers servers(MakeContext());
  std::shared_ptr<Server> server = servers.Item(1);
  frmSQLServer form(MakeContext(), servers);
  form.SetServer(server);
  EXPECT_EQ(form.ServerText(), "SRV02\\ARCHIVE");
  EXPECT_FALSE(form.RefreshEnabled());
  EXPECT_FALSE(form.IntegratedSecurity());
  EXPECT_EQ(form.Username(), "Anna");
  EXPECT_EQ(form.Password(), "pw");
  // Refresh is disabled, and editing lists no domains.
  form.Form_Activate();
  form.cmdRefresh_Click();
  EXPECT_EQ(platform_.discovery.domain_requests(), 0);
  EXPECT_TRUE(platform_.discovery.server_requests().empty());

  size_t echoes = platform_.network.echo_calls().size();
  form.SetPassword("");
  EXPECT_TRUE(form.cmdOK_Click());
  EXPECT_EQ(platform_.network.echo_calls().size(), echoes);
  EXPECT_EQ(StoredConnectionString(1),
            "Provider=SQLOLEDB;Data Source=SRV02\\ARCHIVE;User Id=Anna;");
  EXPECT_EQ(server->ConnectionString(), form.LastConnectionString());
  EXPECT_EQ(servers.Count(), 1);
}

TEST_F(RegistrationFormTest, EditingANeverConnectedRegistrationShowsItsStoredDataSource) {
  Store(1, "Provider=SQLOLEDB;Data Source=SRV09;Integrated Security=SSPI;", 1);
  Silent("SRV09");
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  form.SetServer(servers.Item(1));
  EXPECT_EQ(form.ServerText(), "SRV09");
  EXPECT_TRUE(form.IntegratedSecurity());
}

// Test, and OK for a machine that does not answer, show one information box with the title;
// neither keeps a connection or registers anything.
TEST_F(RegistrationFormTest, TestAndARefusedOkReportInOneBox) {
  struct Case {
    bool ok_button;
    const char* server;
    const char* password;  // SQL Server authentication as sa, whose password is "right"
    bool result;
    size_t connects;  // a machine that does not answer is never connected
    std::string text;
  };
  const std::vector<Case> cases = {
      {false, "SRV01", nullptr, true, 1, "Connection established successfully!"},
      {false, "SRV01", "wrong", false, 1,
       "The following error occurred when trying to connect:\nLogin failed for user 'sa'.\n\n"
       "The user name is probably not available, or the password is incorrect."},
      {false, "SRV09", nullptr, false, 0,
       "Under the address 'SRV09', no workstation is available."},
      {true, "SRV09\\ARCHIVE", nullptr, false, 0,
       "Under the address 'SRV09\\ARCHIVE', no workstation is available."},
  };
  Answering("SRV01");
  Silent("SRV09");
  fake_->AcceptLogin("sa", "right");
  Servers servers(MakeContext());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    frmSQLServer form(MakeContext(), servers);
    form.SetServerText(c.server);
    if (c.password != nullptr) {
      form.optServerSecurity_Click();
      form.SetUsername("sa");
      form.SetPassword(c.password);
    }
    size_t boxes = platform_.ui.boxes().size();
    size_t connects = fake_->connects().size();
    AnswerOk();
    EXPECT_EQ(c.ok_button ? form.cmdOK_Click() : form.cmdTest_Click(), c.result);
    ASSERT_EQ(platform_.ui.boxes().size(), boxes + 1);
    const platform::MessageRequest& box = platform_.ui.boxes().back();
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.title, kTitle);
    EXPECT_EQ(box.icon, platform::MessageIcon::kInformation);
    EXPECT_EQ(fake_->connects().size() - connects, c.connects);
    EXPECT_EQ(fake_->open_sessions(), 0);
  }
  EXPECT_EQ(servers.Count(), 0);
  EXPECT_FALSE(KeyExists(RegistrationKey(1)));
}

// Only data sources named "SRV..." have a driver, so others fail with an error that is not an
// authentication failure.
class RegistrationFormOtherErrorTest : public RegistrationFormTest {
 protected:
  RegistrationFormOtherErrorTest() {
    db::DriverRegistry drivers;
    drivers.Add(std::make_shared<db::testing::FakeDriver>(
        fake_, [](std::string_view source) { return source.starts_with("SRV"); }));
    environment_ = db::Environment::Create(std::move(drivers));
  }
};

TEST_F(RegistrationFormOtherErrorTest, TestReportsOtherErrorsWithMessage213AndTheDescription) {
  Answering("NOWHERE");
  Servers servers(MakeContext());
  frmSQLServer form(MakeContext(), servers);
  form.SetServerText("NOWHERE");
  AnswerOk();
  EXPECT_FALSE(form.cmdTest_Click());
  const std::string& text = OnlyBox().text;
  const std::string intro = "The following error ocurred when connecting to the SQL Server:\r";
  ASSERT_TRUE(text.starts_with(intro)) << text;
  EXPECT_GT(text.size(), intro.size());
}

}  // namespace
}  // namespace servers::testing
