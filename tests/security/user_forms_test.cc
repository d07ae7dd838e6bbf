// The Add Login wizard, the collection user dialog and the change-owner dialog against the
// sandbox server, and the account lookups behind the login dialogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "common/messages.h"
#include "security/account_lookup.h"
#include "security/password_forms.h"
#include "security/security_fixture.h"
#include "security/user_form.h"
#include "security/user_wizard.h"

namespace security {
namespace {

using Strings = std::vector<std::string>;

class UserWizardTest : public testing::SecurityFormsTest {
 protected:
  std::unique_ptr<frmUserWizard> Wizard(servers::Server* server = nullptr) {
    auto wizard = std::make_unique<frmUserWizard>(Host());
    wizard->SetServer(server ? *server : Server());
    return wizard;
  }
  // Brings the wizard to page 3 with the chosen authentication.
  void ToAccountPage(frmUserWizard& wizard, bool windows) {
    wizard.cmdWeiter_Click();
    if (windows)
      wizard.optWindowsAuthentication_Click();
    else
      wizard.optSQLServerAuthentication_Click();
    wizard.cmdWeiter_Click();
    ASSERT_EQ(wizard.CurrentPage(), kWizardAccount) << LastBox();
  }
};

TEST_F(UserWizardTest, ASqlLoginWithTwoCollections) {
  Created("Sales", "C:\\Data\\Sales.mdf");
  Created("North", "C:\\Data\\North.mdf");
  Created("Zeta", "C:\\Data\\Zeta.mdf");
  auto wizard = Wizard();
  EXPECT_EQ(frmUserWizard::Caption(), "Add Login Wizard");
  EXPECT_EQ(wizard->CurrentPage(), kWizardWelcome);
  EXPECT_FALSE(wizard->BackEnabled());
  ToAccountPage(*wizard, false);
  EXPECT_EQ(wizard->AccountHeader(), "Type user name and password");
  EXPECT_TRUE(wizard->txtPassword.visible);
  EXPECT_FALSE(wizard->cmdPickLoginName.visible);
  wizard->txtLoginName.text = "clerk";
  wizard->txtPassword.text = "pw";
  wizard->txtPassword2.text = "pw";
  wizard->cmdWeiter_Click();
  ASSERT_EQ(wizard->CurrentPage(), kWizardCollections);
  ASSERT_EQ(wizard->lstDatabases.size(), 3u);
  wizard->lstDatabases[0].checked = true;
  wizard->lstDatabases[2].checked = true;
  Mark();
  wizard->cmdWeiter_Click();
  ASSERT_EQ(wizard->CurrentPage(), kWizardResult) << LastBox();
  EXPECT_EQ(Changes(), (Strings{
                           "EXEC master..sp_addlogin 'clerk', 'pw'",
                           "EXEC sp_grantdbaccess 'clerk', 'clerk'",
                           "EXEC sp_addrolemember 'qa_reader', 'clerk'",
                           "EXEC sp_addrolemember 'qa_writer', 'clerk'",
                           "EXEC sp_addrolemember 'qa_structurer', 'clerk'",
                           "EXEC sp_grantdbaccess 'clerk', 'clerk'",
                           "EXEC sp_addrolemember 'qa_reader', 'clerk'",
                           "EXEC sp_addrolemember 'qa_writer', 'clerk'",
                           "EXEC sp_addrolemember 'qa_structurer', 'clerk'",
                       }));
  auto catalogue_item = [&](int position) { return Catalogue().Item(position)->Connection().Id(); };
  std::vector<int> ids = ChangeConnections();
  EXPECT_EQ(ids[0], Server().Connection().Id());
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(ids[i], catalogue_item(1));
  for (int i = 5; i <= 8; ++i) EXPECT_EQ(ids[i], catalogue_item(3));
  EXPECT_TRUE(ConnectsAs("clerk", "pw"));
  EXPECT_EQ(RoleMembers("Quillarchive_Zeta", "qa_writer"), Strings{"clerk"});
  EXPECT_EQ(Users("Quillarchive_North"), Strings{"dbo"});
  EXPECT_FALSE(wizard->BackEnabled());
  EXPECT_FALSE(wizard->CancelEnabled());
  EXPECT_EQ(wizard->NextCaption(), "Close");
  EXPECT_EQ(wizard->WelcomeTitle(), "User added successfully");
  EXPECT_EQ(wizard->WelcomeText().rfind("The user 'clerk' has been added.", 0), 0u);
  EXPECT_FALSE(wizard->WelcomeHintVisible());
  wizard->cmdWeiter_Click();
  EXPECT_TRUE(wizard->Closed());
}

TEST_F(UserWizardTest, AFailedCollectionIsReportedAndWhatRanIsNotSentAgain) {
  Created("Sales", "C:\\Data\\Sales.mdf");
  Created("North", "C:\\Data\\North.mdf");
  // A user named like the new login is in the way in North.
  Sa("EXEC Quillarchive_North..sp_grantdbaccess 'SANDBOX\\x', 'clerk'");
  auto wizard = Wizard();
  ToAccountPage(*wizard, false);
  wizard->txtLoginName.text = "clerk";
  wizard->txtPassword.text = "pw";
  wizard->txtPassword2.text = "pw";
  wizard->cmdWeiter_Click();
  wizard->lstDatabases[0].checked = true;
  wizard->lstDatabases[1].checked = true;
  AnswerOk();
  wizard->cmdWeiter_Click();
  EXPECT_EQ(wizard->CurrentPage(), kWizardCollections);
  EXPECT_EQ(wizard->Report().applied.size(), 5u);
  EXPECT_EQ(wizard->Report().not_applied.size(), 4u);
  EXPECT_NE(LastBox().find("Changes not applied: access to collection 'North' granted"),
            std::string::npos)
      << LastBox();
  EXPECT_TRUE(ConnectsAs("clerk", "pw"));
  EXPECT_EQ(RoleMembers("Quillarchive_Sales", "qa_structurer"), Strings{"clerk"});

  // Without North the wizard finishes, sending nothing it sent before.
  wizard->lstDatabases[1].checked = false;
  Mark();
  wizard->cmdWeiter_Click();
  EXPECT_EQ(wizard->CurrentPage(), kWizardResult) << LastBox();
  EXPECT_EQ(Changes(), Strings{});
}

TEST_F(UserWizardTest, AWindowsLoginWithoutCollectionsIsTheLoginAlone) {
  auto wizard = Wizard();
  ToAccountPage(*wizard, true);
  EXPECT_EQ(wizard->AccountHeader(), "Select user with Windows account");
  EXPECT_FALSE(wizard->txtPassword.visible);
  wizard->txtLoginName.text = "SANDBOX\\maria";
  wizard->optDenyLogin_Click();
  wizard->cmdWeiter_Click();
  Mark();
  wizard->cmdWeiter_Click();
  ASSERT_EQ(wizard->CurrentPage(), kWizardResult) << LastBox();
  EXPECT_EQ(Changes(), Strings{"EXEC master..sp_denylogin 'SANDBOX\\maria'"});
  EXPECT_EQ(Column("SELECT denylogin FROM master.dbo.syslogins WHERE loginname = "
                   "'SANDBOX\\maria'"),
            Strings{"1"});
}

TEST_F(UserWizardTest, PageThreeRefusesInBalloonsAndBackEmptiesTheName) {
  auto wizard = Wizard();
  ToAccountPage(*wizard, false);
  struct Case {
    std::string name, password, confirmation;
    std::string field;
    int message;
  };
  for (const Case& c :
       std::vector<Case>{{"", "pw", "pw", "txtLoginName", kMessageTypeALoginName},
                         {"clerk", "", "", "txtPassword", kMessagePasswordNotConfirmed},
                         {"clerk", "pw", "pX", "txtPassword", kMessagePasswordNotConfirmed},
                         {"clerk", std::string(129, 'p'), std::string(129, 'p'), "txtPassword",
                          kMessagePasswordTooLong}}) {
    wizard->txtLoginName.text = c.name;
    wizard->txtPassword.text = c.password;
    wizard->txtPassword2.text = c.confirmation;
    wizard->cmdWeiter_Click();
    EXPECT_EQ(wizard->CurrentPage(), kWizardAccount) << c.name;
    ASSERT_TRUE(wizard->Balloon().Shown());
    EXPECT_EQ(wizard->Balloon().Text(), common::LoadMessage(c.message));
    EXPECT_EQ(wizard->Balloon().Field(), c.field);
    // Cancel does nothing while the balloon is shown.
    EXPECT_FALSE(wizard->cmdAbbrechen_Click());
    // The balloon stays until a key or button is down after 700 ms, polled every 5 ms.
    ValidationBalloon& balloon = wizard->Balloon();
    EXPECT_EQ(balloon.NextTickMs(), 700);
    EXPECT_FALSE(balloon.Tick(false));
    EXPECT_EQ(balloon.NextTickMs(), 5);
    EXPECT_FALSE(balloon.Tick(false));
    EXPECT_TRUE(balloon.Tick(true));
    EXPECT_FALSE(balloon.Shown());
  }
  wizard->txtLoginName.text = "clerk";
  wizard->cmdZur_ck_Click();
  EXPECT_EQ(wizard->CurrentPage(), kWizardAuthentication);
  wizard->cmdWeiter_Click();
  EXPECT_EQ(wizard->CurrentPage(), kWizardAccount);
  EXPECT_EQ(wizard->txtLoginName.text, "");
  EXPECT_FALSE(LoginExists("clerk"));
}

TEST_F(UserWizardTest, TheServersLoginModeDecidesTheAuthentication) {
  struct Case {
    sandbox::LoginMode mode;
    std::string instance;
    std::string connection;
    bool windows;
    std::string box_start;
  };
  for (const Case& c : std::vector<Case>{
           {sandbox::LoginMode::kWindowsOnly, "WIN",
            "Provider=SQLOLEDB;Data Source=(sandbox)\\WIN;Integrated Security=SSPI;", false,
            "The SQL Server '(sandbox)\\WIN' is currently not configured to support SQL Server "
            "Authentication."},
           {sandbox::LoginMode::kSqlOnly, "SQL",
            "Provider=SQLOLEDB;Data Source=(sandbox)\\SQL;User Id=sa;Password=;", true,
            "The SQL Server '(sandbox)\\SQL' does not support Windows Authentication"}}) {
    sandbox::InstanceConfig config;
    config.login_mode = c.mode;
    auto instance = host_->Create(c.instance, config);
    servers::Server server(ServerContext(), 3);
    server.SetConnectionString(c.connection);
    ASSERT_TRUE(server.Connect()) << server.Description();
    AnswerOk();
    auto wizard = Wizard(&server);
    wizard->cmdWeiter_Click();
    if (c.windows)
      wizard->optWindowsAuthentication_Click();
    else
      wizard->optSQLServerAuthentication_Click();
    wizard->cmdWeiter_Click();
    EXPECT_EQ(wizard->CurrentPage(), kWizardAuthentication);
    EXPECT_EQ(LastBox().rfind(c.box_start, 0), 0u) << LastBox();
    server.CloseConnection();
  }
}

class UserFormTest : public testing::SecurityFormsTest {
 protected:
  std::unique_ptr<frmUser> NewUser(collections::Database& database) {
    auto form = std::make_unique<frmUser>(Host());
    form->SetNewUser(true);
    form->SetDatabase(database);
    return form;
  }
  std::unique_ptr<frmUser> EditUser(collections::Database& database, const std::string& user,
                                    const std::string& login) {
    auto form = std::make_unique<frmUser>(Host());
    form->SetNewUser(false);
    form->SetUserName(user);
    form->SetLoginName(login);
    form->SetDatabase(database);
    return form;
  }
  static std::vector<bool> Checked(const frmUser& form) {
    std::vector<bool> out;
    for (const auto& role : form.Roles()) out.push_back(role.checked);
    return out;
  }
};

TEST_F(UserFormTest, NewUsersGetTheThreeCollectionRoles) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  Sa("EXEC sp_addlogin 'taken', 'pw'");
  auto sales = Created("Sales", "C:\\Data\\Sales.mdf");
  Sa("EXEC Quillarchive_Sales..sp_grantdbaccess 'taken'");
  auto form = NewUser(*sales);
  // Neither sa nor a login that already is a user is offered.
  EXPECT_EQ(form->cmbLoginNameItems, (Strings{"BUILTIN\\Administrators", "clerk", "<neu>"}));
  EXPECT_EQ(Checked(*form), (std::vector<bool>{true, true, true, false, false, false}));
  form->cmbLoginName_Click("clerk");
  EXPECT_EQ(form->txtDBUsername.text, "clerk");
  form->cmbLoginName_Change("clerk");
  form->txtDBUsername.text = "Clerk O'Hara";
  form->lstDatabaseRoles_Check(5, true);
  form->lstDatabaseRoles_Check(2, false);
  Mark();
  ASSERT_TRUE(form->cmdOK_Click()) << LastBox();
  EXPECT_EQ(Changes(), (Strings{"EXEC sp_grantdbaccess 'clerk', 'Clerk O''Hara'",
                                "EXEC sp_addrolemember 'qa_reader', 'Clerk O''Hara'",
                                "EXEC sp_addrolemember 'qa_writer', 'Clerk O''Hara'",
                                "EXEC sp_addrolemember 'db_owner', 'Clerk O''Hara'"}));
  for (int id : ChangeConnections()) EXPECT_EQ(id, sales->Connection().Id());
  EXPECT_EQ(RoleMembers("Quillarchive_Sales", "db_owner"), (Strings{"Clerk O'Hara", "dbo"}));
  EXPECT_EQ(RoleMembers("Quillarchive_Sales", "qa_structurer"), Strings{});
}

TEST_F(UserFormTest, RoleDependencies) {
  auto sales = Created("Sales", "C:\\Data\\Sales.mdf");
  auto form = NewUser(*sales);
  form->lstDatabaseRoles_Check(0, false);
  EXPECT_EQ(Checked(*form), (std::vector<bool>{false, false, false, false, false, false}));
  form->lstDatabaseRoles_Check(2, true);
  EXPECT_EQ(Checked(*form), (std::vector<bool>{true, true, true, false, false, false}));
  form->lstDatabaseRoles_Check(1, false);
  EXPECT_EQ(Checked(*form), (std::vector<bool>{true, false, false, false, false, false}));
  form->lstDatabaseRoles_Check(4, true);
  EXPECT_EQ(Checked(*form), (std::vector<bool>{true, false, false, false, true, false}));
  form->lstDatabaseRoles_Highlight(4);
  EXPECT_EQ(form->Description(), "Has the permission to add or remove collection users.");
}

TEST_F(UserFormTest, EditModeShowsRolesHeldByUserOrLoginNameAndSendsOnlyChanges) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  auto sales = Created("Sales", "C:\\Data\\Sales.mdf");
  Sa("EXEC Quillarchive_Sales..sp_grantdbaccess 'clerk', 'north_clerk'");
  Sa("EXEC Quillarchive_Sales..sp_addrolemember 'qa_reader', 'north_clerk'");
  // A role held under the login's name (another account's user named like the login).
  Sa("EXEC Quillarchive_Sales..sp_grantdbaccess 'SANDBOX\\x', 'clerk'");
  Sa("EXEC Quillarchive_Sales..sp_addrolemember 'db_accessadmin', 'clerk'");
  auto form = EditUser(*sales, "north_clerk", "clerk");
  EXPECT_FALSE(form->cmbLoginName.visible);
  EXPECT_TRUE(form->txtDBUsername.read_only);
  EXPECT_EQ(Checked(*form), (std::vector<bool>{true, false, false, false, true, false}));
  Mark();
  EXPECT_TRUE(form->cmdOK_Click());
  EXPECT_EQ(Changes(), Strings{});

  auto again = EditUser(*sales, "north_clerk", "clerk");
  again->lstDatabaseRoles_Check(1, true);
  again->lstDatabaseRoles_Check(0, false);
  Mark();
  EXPECT_TRUE(again->cmdOK_Click());
  EXPECT_EQ(Changes(), (Strings{"EXEC sp_droprolemember 'qa_reader', 'north_clerk'"}));
}

TEST_F(UserFormTest, TheNewLoginEntryHandsTheNewLoginOver) {
  auto sales = Created("Sales", "C:\\Data\\Sales.mdf");
  auto form = NewUser(*sales);
  std::unique_ptr<frmLogin> login = form->cmbLoginName_Click(kNewLoginEntry);
  ASSERT_NE(login, nullptr);
  EXPECT_EQ(login->Caption(), "New SQL Server Login");
  EXPECT_TRUE(login->NewLogin());
  login->Form_Activate();
  login->optSQLServerAuthentication_Click();
  login->txtLoginName.text = "fresh";
  login->txtPassword.text = "pw";
  ASSERT_TRUE(login->cmdOK_Click()) << LastBox();
  form->NewLoginClosed();
  EXPECT_EQ(form->txtDBUsername.text, "fresh");
  EXPECT_EQ(form->cmbLoginName.text, "fresh");
  ASSERT_TRUE(form->cmdOK_Click()) << LastBox();
  EXPECT_EQ(RoleMembers("Quillarchive_Sales", "qa_reader"), Strings{"fresh"});
}

TEST_F(UserFormTest, ALoginWithoutTheRolesIsRefused) {
  Sa("EXEC sp_addlogin 'reader', 'r'");
  auto sales = Created("Sales", "C:\\Data\\Sales.mdf");
  Sa("EXEC Quillarchive_Sales..sp_grantdbaccess 'reader'");
  auto reader = ServerAs("reader", "r");
  auto& catalogue = dynamic_cast<collections::Databases&>(reader->Databases());
  ASSERT_EQ(catalogue.Count(), 1);
  AnswerOk(2);
  auto form = EditUser(*catalogue.Item(1), "reader", "reader");
  EXPECT_EQ(form->cmbLoginName_Click(kNewLoginEntry), nullptr);
  EXPECT_EQ(LastBox().rfind("You do not have the permission to add new users.", 0), 0u);
  form->lstDatabaseRoles_Check(5, true);
  Mark();
  EXPECT_FALSE(form->cmdOK_Click());
  EXPECT_EQ(LastBox().rfind("You do not have the permission to change the properties of a SQL "
                            "Server login.",
                            0),
            0u);
  EXPECT_EQ(Changes(), Strings{});
}

class ChangeOwnerTest : public testing::SecurityFormsTest {};

TEST_F(ChangeOwnerTest, AUserOfTheCollectionLosesItsAccessBeforeBecomingOwner) {
  Sa("EXEC sp_addlogin 'clerk', 'pw'");
  Sa("EXEC sp_addlogin 'other', 'pw'");
  auto sales = Created("Sales", "C:\\Data\\Sales.mdf");
  Sa("EXEC Quillarchive_Sales..sp_grantdbaccess 'clerk'");
  AnswerOk(2);
  frmChangeOwner form(platform_.ui);
  form.SetDatabase(*sales);
  EXPECT_EQ(frmChangeOwner::Caption(), "Change Database Owner");
  EXPECT_EQ(form.OldOwner(), "sa");
  EXPECT_EQ(std::count(form.LoginNames().begin(), form.LoginNames().end(), "sa"), 0);
  EXPECT_EQ(std::count(form.LoginNames().begin(), form.LoginNames().end(), "clerk"), 1);

  EXPECT_FALSE(form.cmdOK_Click());
  EXPECT_EQ(LastBox(), "Please select a user.");
  form.SetLoginName("clerk");
  Mark();
  ASSERT_TRUE(form.cmdOK_Click()) << LastBox();
  EXPECT_EQ(Changes(), (Strings{"EXEC sp_revokedbaccess 'clerk'", "USE Quillarchive_Sales",
                                "sp_changedbowner 'clerk'"}));
  for (int id : ChangeConnections()) EXPECT_EQ(id, sales->Connection().Id());
  EXPECT_EQ(Owner("Quillarchive_Sales"), "clerk");

  // The new owner is no candidate any more; an unknown login is refused by the server.
  frmChangeOwner again(platform_.ui);
  again.SetDatabase(*sales);
  EXPECT_EQ(again.OldOwner(), "clerk");
  EXPECT_EQ(std::count(again.LoginNames().begin(), again.LoginNames().end(), "clerk"), 0);
  again.SetLoginName("nobody'; DROP DATABASE Quillarchive_Sales --");
  EXPECT_FALSE(again.cmdOK_Click());
  EXPECT_EQ(LastBox().rfind("The following error occurred when editing the database owner:\r", 0),
            0u);
  EXPECT_TRUE(DatabaseExists("Quillarchive_Sales"));
}

TEST(AccountLookupTest, WinbindNamesBelongToTheOwnDomain) {
  std::vector<std::vector<std::string>> calls;
  std::map<std::string, std::string> answers = {{"--own-domain", "CORP\n"},
                                                {"-u", "CORP\\anna\nbob\n"},
                                                {"-g", "CORP\\domain users\r\n"},
                                                {"--getdcname=CORP", "\\\\DC01\n"}};
  WinbindAccountLookup lookup([&](const std::vector<std::string>& argv) {
    calls.push_back(argv);
    auto it = answers.find(argv.at(1));
    return it == answers.end() ? std::optional<std::string>() : it->second;
  });
  EXPECT_EQ(lookup.Domains(), Strings{"CORP"});
  EXPECT_EQ(lookup.PrimaryDomainController("CORP"), "\\\\DC01");
  EXPECT_EQ(PickerResult(lookup.Accounts()), "CORP\\anna\r\nCORP\\bob\r\nCORP\\domain users");
  EXPECT_EQ(calls.front(), (Strings{"wbinfo", "--own-domain"}));

  WinbindAccountLookup missing([](const std::vector<std::string>&) { return std::nullopt; });
  EXPECT_TRUE(missing.Domains().empty());
  EXPECT_TRUE(missing.Accounts().empty());
  EXPECT_EQ(missing.PrimaryDomainController("CORP"), "");
}

class ServerAccountsTest : public testing::SecurityFormsTest {};

TEST_F(ServerAccountsTest, EachServerGetsTheLookupThatCanAnswer) {
  int asked = 0;
  auto winbind = [&asked](const std::vector<std::string>&) -> std::optional<std::string> {
    ++asked;
    return "CORP\n";
  };
  auto none = [](const std::vector<std::string>&) -> std::optional<std::string> { return {}; };
  EXPECT_NE(dynamic_cast<ServerAccountLookup*>(AccountLookupFor(Server(), winbind).get()), nullptr);
  EXPECT_EQ(asked, 0);
  servers::Server remote(ServerContext(), 7);
  remote.SetConnectionString("Provider=SQLOLEDB;Data Source=SRV01;Integrated Security=SSPI;");
  EXPECT_NE(dynamic_cast<WinbindAccountLookup*>(AccountLookupFor(remote, winbind).get()), nullptr);
  EXPECT_NE(dynamic_cast<NoAccountLookup*>(AccountLookupFor(remote, none).get()), nullptr);
}

TEST_F(ServerAccountsTest, TheSandboxMachineOffersItsGroupsAndKnownAccounts) {
  Sa("EXEC sp_grantlogin 'SANDBOX\\maria'");
  ServerAccountLookup lookup(Server());
  EXPECT_EQ(lookup.Domains(), Strings{"SANDBOX"});
  std::string picked = PickerResult(lookup.Accounts());
  EXPECT_NE(picked.find("BUILTIN\\Users"), std::string::npos);
  EXPECT_NE(picked.find("SANDBOX\\maria"), std::string::npos);
  EXPECT_EQ(picked.back(), 'a');
  // The login dialog fills its domain list from the lookup and selects the last entry.
  DialogHost host{platform_.ui, lookup, state_, [] { return 5; }};
  frmLogin form(host);
  form.SetServer(Server());
  form.SetNewLogin(true);
  form.Form_Activate();
  EXPECT_EQ(form.cboDomainItems, Strings{"SANDBOX"});
  EXPECT_EQ(form.cboDomain.text, "SANDBOX");
}

}  // namespace
}  // namespace security
