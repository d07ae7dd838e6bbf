// frmLogin and frmPassword against the sandbox server: what they show, what they send on OK, on
// which connection, and what the server holds afterwards.
#include "security/login_form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "security/password_forms.h"
#include "security/security_fixture.h"

namespace security {
namespace {

using Strings = std::vector<std::string>;

class LoginFormTest : public testing::SecurityFormsTest {
 protected:
  // The dialog in edit mode for a login, loaded as the console loads it.
  std::unique_ptr<frmLogin> Edit(const std::string& login, servers::Server* server = nullptr) {
    auto form = std::make_unique<frmLogin>(Host());
    form->SetNewLogin(false);
    form->SetServer(server ? *server : Server());
    form->SetLoginName(login);
    form->Form_Activate();
    return form;
  }
  std::unique_ptr<frmLogin> New(int windows_version = 5) {
    auto form = std::make_unique<frmLogin>(Host(windows_version));
    form->SetServer(Server());
    form->SetNewLogin(true);
    form->Form_Activate();
    return form;
  }
};

TEST_F(LoginFormTest, AnUnchangedLoginSendsNothingButThePermissionCheck) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  Created("Sales", "C:\\Data\\Sales.mdf");
  auto form = Edit("clerk");
  EXPECT_EQ(form->Caption(), "SQL Server Login Properties");
  // A SQL Server login: the SQL look, the masked password, no password statement.
  EXPECT_TRUE(form->optSQLServerAuthentication.checked);
  EXPECT_FALSE(form->optWindowsAuthentication.enabled);
  EXPECT_FALSE(form->optGrantLogin.enabled);
  EXPECT_EQ(form->txtPassword.text, kMaskedPassword);
  EXPECT_TRUE(form->cmdChangePassword.visible);
  EXPECT_TRUE(form->txtLoginName.read_only);
  EXPECT_FALSE(form->cmdPickLoginName.visible);
  ASSERT_EQ(form->Collections().size(), 1u);
  EXPECT_EQ(form->Collections()[0].text, "Sales");
  EXPECT_FALSE(form->Collections()[0].checked);
  Mark();
  EXPECT_TRUE(form->cmdOK_Click());
  EXPECT_EQ(Changes(), Strings{});
  for (const db::Statement& s : Sent()) EXPECT_EQ(s.text.rfind("SELECT IS_SRVROLEMEMBER", 0), 0u);
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(LoginFormTest, WindowsLoginsShowTheirAccessAndTheFlagFollowsTheClicks) {
  Sa("EXEC sp_grantlogin 'SANDBOX\\maria'");
  Sa("EXEC sp_denylogin 'SANDBOX\\peter'");
  auto peter = Edit("SANDBOX\\peter");
  EXPECT_TRUE(peter->optWindowsAuthentication.checked);
  EXPECT_TRUE(peter->optDenyLogin.checked);
  EXPECT_FALSE(peter->optSQLServerAuthentication.enabled);
  EXPECT_FALSE(peter->cmdChangePassword.visible);

  auto maria = Edit("SANDBOX\\maria");
  EXPECT_TRUE(maria->optGrantLogin.checked);
  maria->optDenyLogin_Click();
  maria->optGrantLogin_Click();
  EXPECT_FALSE(maria->AccessChanged());
  Mark();
  EXPECT_TRUE(maria->cmdOK_Click());
  EXPECT_EQ(Changes(), Strings{});

  // Deny alone is sent, on the server's connection, and the server denies the account.
  auto again = Edit("SANDBOX\\maria");
  again->optDenyLogin_Click();
  Mark();
  EXPECT_TRUE(again->cmdOK_Click());
  EXPECT_EQ(Changes(), Strings{"EXEC master..sp_denylogin 'SANDBOX\\maria'"});
  EXPECT_EQ(ChangeConnections(), std::vector<int>{Server().Connection().Id()});
  EXPECT_EQ(Column("SELECT denylogin FROM master.dbo.syslogins WHERE loginname = "
                   "'SANDBOX\\maria'"),
            Strings{"1"});
}

TEST_F(LoginFormTest, CollectionsAndServerRolesAreChangedInTheirOrder) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  auto sales = Created("Sales", "C:\\Data\\Sales.mdf");
  auto north = Created("North", "C:\\Data\\North.mdf");
  // clerk reaches North under a user name of its own.
  Sa("EXEC Quillarchive_North..sp_grantdbaccess 'clerk', 'north_clerk'");
  auto form = Edit("clerk");
  ASSERT_EQ(form->Collections().size(), 2u);
  EXPECT_FALSE(form->Collections()[0].checked);
  EXPECT_TRUE(form->Collections()[1].checked);
  EXPECT_EQ(form->CollectionUser(1), "north_clerk");
  form->lstDatabases_Check(0, true);
  form->lstDatabases_Check(1, false);
  form->lstServerRoles_Check(2, true);
  Mark();
  ASSERT_TRUE(form->cmdOK_Click()) << LastBox();
  EXPECT_EQ(Changes(), (Strings{
                           "EXEC master..sp_addsrvrolemember 'clerk', 'dbcreator'",
                           "EXEC Quillarchive_Sales..sp_grantdbaccess 'clerk'",
                           "EXEC Quillarchive_Sales..sp_addrolemember 'qa_reader', 'clerk'",
                           "EXEC Quillarchive_Sales..sp_addrolemember 'qa_writer', 'clerk'",
                           "EXEC Quillarchive_Sales..sp_addrolemember 'qa_structurer', 'clerk'",
                           "EXEC Quillarchive_North..sp_revokedbaccess 'north_clerk'",
                       }));
  for (int id : ChangeConnections()) EXPECT_EQ(id, Server().Connection().Id());
  EXPECT_EQ(ServerRoleMembers("dbcreator"), Strings{"clerk"});
  EXPECT_EQ(RoleMembers("Quillarchive_Sales", "qa_structurer"), Strings{"clerk"});
  EXPECT_EQ(Users("Quillarchive_North"), Strings{"dbo"});

  // Loaded again, the dialog shows what the server now holds.
  auto reloaded = Edit("clerk");
  EXPECT_TRUE(reloaded->Collections()[0].checked);
  EXPECT_FALSE(reloaded->Collections()[1].checked);
  EXPECT_TRUE(reloaded->ServerRoles()[2].checked);
  reloaded->lstServerRoles_Highlight(2);
  EXPECT_EQ(reloaded->Description(),
            "The members of the server role 'dbcreator' can create, alter, and delete "
            "collections.");
  (void)sales;
  (void)north;
}

TEST_F(LoginFormTest, HostileDatabaseAndLoginNamesStayData) {
  // A collection whose database name needs brackets, attached under that name.
  Sa("CREATE DATABASE [Quillarchive_O'Neil]]; x] ON (NAME = n, FILENAME = "
     "'C:\\Data\\oneil.mdf')");
  for (const char* role : kCollectionRoles)
    Sa("EXEC [Quillarchive_O'Neil]]; x]..sp_addrole '" + std::string(role) + "'");
  Sa("EXEC sp_addlogin 'a''b]; --', 'pw'");
  auto form = Edit("a'b]; --");
  ASSERT_EQ(form->Collections().size(), 1u);
  EXPECT_EQ(form->Collections()[0].text, "O'Neil]; x");
  form->lstDatabases_Check(0, true);
  Mark();
  ASSERT_TRUE(form->cmdOK_Click()) << LastBox();
  EXPECT_EQ(Changes()[0], "EXEC [Quillarchive_O'Neil]]; x]..sp_grantdbaccess 'a''b]; --'");
  EXPECT_EQ(Changes()[3],
            "EXEC [Quillarchive_O'Neil]]; x]..sp_addrolemember 'qa_structurer', 'a''b]; --'");
  EXPECT_EQ(RoleMembers("Quillarchive_O'Neil]; x", "qa_reader"), Strings{"a'b]; --"});

  auto reloaded = Edit("a'b]; --");
  EXPECT_TRUE(reloaded->Collections()[0].checked);
  reloaded->lstDatabases_Check(0, false);
  Mark();
  ASSERT_TRUE(reloaded->cmdOK_Click()) << LastBox();
  EXPECT_EQ(Changes(), Strings{"EXEC [Quillarchive_O'Neil]]; x]..sp_revokedbaccess 'a''b]; --'"});
  EXPECT_EQ(Users("Quillarchive_O'Neil]; x"), Strings{"dbo"});
}

TEST_F(LoginFormTest, ALoginReachingACollectionThroughARoleMemberIsShownChecked) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  Created("Sales", "C:\\Data\\Sales.mdf");
  // A user without a login of its own (a Windows account) named like the login, in a role.
  Sa("EXEC Quillarchive_Sales..sp_grantdbaccess 'SANDBOX\\clerk', 'clerk'");
  Sa("EXEC Quillarchive_Sales..sp_addrolemember 'qa_reader', 'clerk'");
  auto form = Edit("clerk");
  ASSERT_EQ(form->Collections().size(), 1u);
  EXPECT_TRUE(form->Collections()[0].checked);
  EXPECT_EQ(form->CollectionUser(0), "clerk");
}

TEST_F(LoginFormTest, AnUnknownLoginKeepsTheInitialLook) {
  auto form = Edit("nobody");
  EXPECT_TRUE(form->optWindowsAuthentication.checked);
  EXPECT_TRUE(form->optGrantLogin.checked);
  EXPECT_TRUE(form->optSQLServerAuthentication.enabled);
  EXPECT_FALSE(form->txtPassword.enabled);
  EXPECT_FALSE(form->txtPassword.window_background);
}

TEST_F(LoginFormTest, APasswordIsSentOnlyAfterTheChangePasswordDialog) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  auto form = Edit("clerk");
  std::unique_ptr<frmPassword> password = form->cmdChangePassword_Click();
  EXPECT_EQ(frmPassword::Caption(), "Change Password");
  // Refusals keep the password dialog open and change nothing in the caller.
  struct Case {
    std::string password, confirmation;
    std::string box;
  };
  const std::string long_one(129, 'x');
  AnswerOk(2);
  for (const Case& c : std::vector<Case>{
           {long_one, long_one, "The password must not be longer than 128 characters."},
           {"a", "b", "The confirmed password does not match.\nPlease retry or click Cancel."}}) {
    password->txtPassword.text = c.password;
    password->txtPasswordRepeated.text = c.confirmation;
    EXPECT_FALSE(password->cmdOK_Click());
    EXPECT_FALSE(password->Hidden());
    EXPECT_EQ(LastBox(), c.box);
    EXPECT_FALSE(form->PasswordChanged());
  }
  EXPECT_EQ(platform_.ui.boxes()[0].icon, platform::MessageIcon::kNone);
  EXPECT_EQ(platform_.ui.boxes()[1].icon, platform::MessageIcon::kInformation);

  // 128 characters, quotes and non-ASCII included, are taken and reach the server as data.
  std::string good = "x'; DROP DATABASE master --]é" + std::string(99, 'p');
  ASSERT_EQ(CharacterCount(good), 128u);
  password->txtPassword.text = good;
  password->txtPasswordRepeated.text = good;
  EXPECT_TRUE(password->cmdOK_Click());
  EXPECT_TRUE(form->PasswordChanged());
  EXPECT_EQ(form->txtPassword.text, good);
  Mark();
  ASSERT_TRUE(form->cmdOK_Click()) << LastBox();
  EXPECT_EQ(Changes(), Strings{"EXEC master..sp_password @old=NULL, @new='x''; DROP DATABASE "
                               "master --]é" +
                               std::string(99, 'p') + "' , @loginame='clerk'"});
  EXPECT_TRUE(ConnectsAs("clerk", good));
  EXPECT_TRUE(DatabaseExists("master"));
}

TEST_F(LoginFormTest, AnEmptyPasswordIsHandedBack) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  auto form = Edit("clerk");
  auto password = form->cmdChangePassword_Click();
  EXPECT_TRUE(password->cmdOK_Click());
  EXPECT_EQ(form->txtPassword.text, "");
  Mark();
  ASSERT_TRUE(form->cmdOK_Click());
  EXPECT_EQ(Changes(), Strings{"EXEC master..sp_password @old=NULL, @new='' , @loginame='clerk'"});
  EXPECT_TRUE(ConnectsAs("clerk", ""));
}

TEST_F(LoginFormTest, NewLoginsTakeTheirNameAndHandItOn) {
  auto form = New();
  EXPECT_FALSE(form->txtLoginName.read_only);
  EXPECT_TRUE(form->cmdPickLoginName.visible);
  AnswerOk();
  // An empty name keeps the dialog open.
  EXPECT_FALSE(form->cmdOK_Click());
  EXPECT_EQ(LastBox(), "Please type or select a login name.");
  EXPECT_FALSE(form->Closed());

  // Hostile names and passwords are data.
  const std::string name = "O'Brien]; DROP LOGIN sa --ü";
  form->optSQLServerAuthentication_Click();
  EXPECT_TRUE(form->txtPassword.enabled);
  form->txtLoginName.text = name;
  form->txtPassword.text = "  it's; --  ";
  Mark();
  ASSERT_TRUE(form->cmdOK_Click()) << LastBox();
  EXPECT_EQ(Changes(),
            Strings{"EXEC master..sp_addlogin 'O''Brien]; DROP LOGIN sa --ü', 'it''s; --'"});
  EXPECT_EQ(state_.last_new_login_name, name);
  EXPECT_TRUE(ConnectsAs("O'Brien]; DROP LOGIN sa --ü", "it's; --"));
  EXPECT_TRUE(LoginExists("sa"));
}

TEST_F(LoginFormTest, ANewWindowsLoginThatIsNoAccountOfTheMachineIsExplained) {
  auto form = New();
  AnswerOk();
  form->txtLoginName.text = "ELSEWHERE\\ghost";
  EXPECT_FALSE(form->cmdOK_Click());
  EXPECT_EQ(LastBox(),
            "The following error ocurred when editing a login:\r\nWindows NT user or group "
            "'ELSEWHERE\\ghost' not found. Check the name again.\r\rPlease select an existing "
            "Windows NT user or network account.\rAlternatively, you can select SQL Server "
            "Authentication and add a new SQL Server user account.\r\nChanges not applied: "
            "login 'ELSEWHERE\\ghost' granted access");
  EXPECT_FALSE(form->Closed());
  EXPECT_FALSE(LoginExists("ELSEWHERE\\ghost"));
}

TEST_F(LoginFormTest, AFailureHalfWayReportsWhatWasApplied) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  Created("Sales", "C:\\Data\\Sales.mdf");
  // A user named like the login is in the way of the grant.
  Sa("EXEC Quillarchive_Sales..sp_grantdbaccess 'SANDBOX\\x', 'clerk'");
  auto form = Edit("clerk");
  AnswerOk();
  form->lstServerRoles_Check(1, true);
  form->lstDatabases_Check(0, true);
  EXPECT_FALSE(form->cmdOK_Click());
  const ChangeReport& report = form->Report();
  EXPECT_EQ(report.applied, Strings{"server role 'securityadmin' added"});
  EXPECT_EQ(report.not_applied.size(), 4u);
  EXPECT_NE(LastBox().find("Changes applied: server role 'securityadmin' added\r\nChanges not "
                           "applied: access to collection 'Sales' granted"),
            std::string::npos)
      << LastBox();
  // What ran stays in effect, and a second OK does not send it again.
  EXPECT_EQ(ServerRoleMembers("securityadmin"), Strings{"clerk"});
  form->lstDatabases_Check(0, false);
  Mark();
  EXPECT_TRUE(form->cmdOK_Click());
  EXPECT_EQ(Changes(), Strings{});
}

TEST_F(LoginFormTest, ANewLoginCreatedBeforeAFailureIsNotCreatedAgain) {
  Created("Sales", "C:\\Data\\Sales.mdf");
  Sa("EXEC Quillarchive_Sales..sp_grantdbaccess 'SANDBOX\\x', 'fresh'");
  auto form = New();
  form->optSQLServerAuthentication_Click();
  form->txtLoginName.text = "fresh";
  form->txtPassword.text = "pw";
  form->lstDatabases_Check(0, true);
  AnswerOk();
  EXPECT_FALSE(form->cmdOK_Click());
  EXPECT_EQ(form->Report().applied, Strings{"login 'fresh' created"});
  EXPECT_TRUE(LoginExists("fresh"));
  // The same name again: only what did not run is sent.
  form->lstDatabases_Check(0, false);
  Mark();
  EXPECT_TRUE(form->cmdOK_Click()) << LastBox();
  EXPECT_EQ(Changes(), Strings{});
}

TEST_F(LoginFormTest, ASysadminKeepsItsCollections) {
  Sa("EXEC sp_addlogin 'boss', 'pw'");
  Created("Sales", "C:\\Data\\Sales.mdf");
  auto form = Edit("boss");
  form->lstServerRoles_Check(0, true);
  form->lstDatabases_Check(0, true);
  AnswerOk();
  form->lstDatabases_Check(0, false);
  EXPECT_TRUE(form->Collections()[0].checked);
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(LastBox(),
            "Der Benutzer 'boss' ist Mitglied der Serverrolle 'System Administrators'\rund hat "
            "daher automatisch Zugriff auf alle Archive.");
  EXPECT_EQ(platform_.ui.boxes()[0].icon, platform::MessageIcon::kInformation);
}

TEST_F(LoginFormTest, ALoginWithoutTheRolesIsRefusedAndNothingIsSent) {
  Sa("EXEC sp_addlogin 'reader', 'r'");
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  auto reader = ServerAs("reader", "r");
  AnswerOk();
  auto form = Edit("clerk", reader.get());
  form->lstServerRoles_Check(0, true);
  Mark();
  EXPECT_TRUE(form->cmdOK_Click());
  EXPECT_TRUE(form->Closed());
  EXPECT_EQ(LastBox(),
            "You do not have the permission to change the properties of SQL Server logins.\nIt "
            "is required to be member of the 'sysadmin' or 'securityadmin' server role.");
  EXPECT_EQ(Changes(), Strings{});
  EXPECT_EQ(ServerRoleMembers("sysadmin"), (Strings{"BUILTIN\\Administrators", "sa"}));
}

TEST_F(LoginFormTest, ANewLoginFollowsTheServersLoginMode) {
  struct Case {
    sandbox::LoginMode mode;
    std::string instance;
    std::string connection;
    bool windows;
  };
  for (const Case& c : std::vector<Case>{
           {sandbox::LoginMode::kWindowsOnly, "WIN",
            "Provider=SQLOLEDB;Data Source=(sandbox)\\WIN;Integrated Security=SSPI;", true},
           {sandbox::LoginMode::kSqlOnly, "SQL",
            "Provider=SQLOLEDB;Data Source=(sandbox)\\SQL;User Id=sa;Password=;", false}}) {
    SCOPED_TRACE(c.instance);
    sandbox::InstanceConfig config;
    config.login_mode = c.mode;
    auto instance = host_->Create(c.instance, config);
    servers::Server server(ServerContext(), 3);
    server.SetConnectionString(c.connection);
    ASSERT_TRUE(server.Connect()) << server.Description();
    frmLogin form(Host());
    form.SetServer(server);
    form.SetNewLogin(true);
    form.Form_Activate();
    EXPECT_EQ(form.optWindowsAuthentication.checked, c.windows);
    EXPECT_EQ(form.optSQLServerAuthentication.checked, !c.windows);
    EXPECT_EQ(form.optSQLServerAuthentication.enabled, !c.windows);
    EXPECT_EQ(form.optWindowsAuthentication.enabled, c.windows);
    EXPECT_EQ(form.txtPassword.enabled, !c.windows);
    EXPECT_EQ(form.optGrantLogin.enabled, c.windows);
    EXPECT_EQ(form.cmdPickLoginName.visible, c.windows);
    server.CloseConnection();
  }
  // Mixed mode changes nothing.
  auto mixed = New();
  EXPECT_TRUE(mixed->optWindowsAuthentication.checked);
  EXPECT_TRUE(mixed->optSQLServerAuthentication.enabled);
}

TEST_F(LoginFormTest, BrowsingTabsAndRoleDescriptions) {
  AnswerOk();
  auto old_windows = New(1);
  old_windows->cmdPickLoginName_Click();
  EXPECT_EQ(LastBox().rfind("You can only select user accounts if you run Windows NT", 0), 0u);
  EXPECT_TRUE(platform_.ui.picker_requests().empty());

  auto form = New();
  platform_.ui.QueueAccounts({{"SANDBOX", "maria"}});
  form->cmdPickLoginName_Click();
  ASSERT_EQ(platform_.ui.picker_requests().size(), 1u);
  EXPECT_EQ(platform_.ui.picker_requests()[0].title, "Select Windows Account");
  EXPECT_EQ(platform_.ui.picker_requests()[0].flags, 43);
  EXPECT_EQ(form->txtLoginName.text, "SANDBOX\\maria");

  EXPECT_EQ(form->CurrentTab(), kTabCommon);
  form->TabStrip_MouseDown();
  EXPECT_TRUE(form->TabTimerArmed());
  form->tmrTabTimer_Timer(kTabCollections);
  EXPECT_FALSE(form->TabTimerArmed());
  EXPECT_TRUE(form->PageVisible(kTabCollections));
  EXPECT_FALSE(form->PageVisible(kTabCommon));
  form->TabStrip_Click(kTabServerRoles);
  EXPECT_EQ(form->CurrentTab(), kTabServerRoles);
  EXPECT_EQ(form->Description(),
            "The members of the server role  'sysadmin' can perform any activity on SQL Servers "
            "and have complete control over all collections.");
  form->lstServerRoles_Highlight(1);
  EXPECT_EQ(form->Description(),
            "The members of the server role 'securityadmin' can create and manage server logins.");
}

}  // namespace
}  // namespace security
