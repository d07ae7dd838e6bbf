// The console's commands on a sandbox server: refusals without the role (nothing asked, nothing
// changed), confirmations answered No (nothing changes) and Yes (it happens), and the error
// reports when the server fails half-way.
#include "console/commands.h"

#include <gtest/gtest.h>

#include "console/console_fixture.h"
#include "platform/service_control.h"
#include "servers/servers.h"

namespace console {
namespace {

using collections::Database;
using collections::testing::kSandboxSa;
using platform::kAnswerNo;
using platform::kAnswerOk;
using platform::kAnswerYes;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::MessageRequest;

constexpr char kTitle[] = "Tessera Server Manager";

MessageRequest Question(std::string text, MessageIcon icon = MessageIcon::kQuestion,
                        int default_button = 1) {
  return {std::move(text), kTitle, MessageButtons::kYesNo, icon, default_button};
}
MessageRequest Notice(std::string text, MessageIcon icon = MessageIcon::kInformation) {
  return {std::move(text), kTitle, MessageButtons::kOk, icon, 1};
}

TEST(ServiceMenuStateTest, TheServiceStatusDecidesWhichOfStartAndStopIsOffered) {
  const MenuItemState on{true, false};
  const MenuItemState off{false, true};
  ServiceMenuState stopped = ServiceMenuStateFor(platform::kServiceStopped);
  EXPECT_EQ(stopped.start, on);
  EXPECT_EQ(stopped.stop, off);
  for (int status : {platform::kServiceRunning, platform::kServicePaused}) {
    ServiceMenuState running = ServiceMenuStateFor(status);
    EXPECT_EQ(running.start, off) << status;
    EXPECT_EQ(running.stop, on) << status;
  }
  for (int status :
       {platform::kServiceUnknown, platform::kServiceStartPending, platform::kServiceStopPending,
        platform::kServiceContinuePending, platform::kServicePausePending}) {
    ServiceMenuState pending = ServiceMenuStateFor(status);
    EXPECT_EQ(pending.start, off) << status;
    EXPECT_EQ(pending.stop, off) << status;
  }
  // A status outside the known ones leaves both as they were.
  ServiceMenuState odd = ServiceMenuStateFor(99);
  EXPECT_FALSE(odd.start.has_value());
  EXPECT_FALSE(odd.stop.has_value());
  // Without service control neither is offered, whatever the status.
  ServiceMenuState no_nt = ServiceMenuStateFor(platform::kServiceStopped, false);
  EXPECT_FALSE(no_nt.start->enabled);
  EXPECT_FALSE(no_nt.stop->enabled);
}

TEST(FullTextMenuStateTest, CreateWithoutAnIndexRemoveWithOneNeitherWithoutSupport) {
  FullTextMenuState none = FullTextMenuStateFor(-1);
  EXPECT_TRUE(none.create.enabled);
  EXPECT_FALSE(none.remove.enabled);
  EXPECT_TRUE(none.remove.grayed);
  FullTextMenuState unsupported = FullTextMenuStateFor(-2);
  EXPECT_FALSE(unsupported.create.enabled);
  EXPECT_FALSE(unsupported.remove.enabled);
  for (int status : {0, 1, 9}) {
    FullTextMenuState active = FullTextMenuStateFor(status);
    EXPECT_FALSE(active.create.enabled) << status;
    EXPECT_TRUE(active.create.grayed) << status;
    EXPECT_TRUE(active.remove.enabled) << status;
  }
}

std::vector<std::string> Names(const GroupMenu& menu) {
  std::vector<std::string> names;
  for (const MenuItem& item : menu.items) names.push_back(item.name);
  return names;
}

TEST(ContextMenuTest, NodesWithoutCommandsHaveNoMenu) {
  std::optional<GroupMenu> server = MenuForNode("Server");
  ASSERT_TRUE(server.has_value());
  EXPECT_EQ(Names(*server),
            (std::vector<std::string>{"mnuSQLServerProperties", "mnuDetachSQLServer",
                                      "mnuStopSQLServer", "mnuStartSQLServer"}));
  EXPECT_FALSE(MenuForNode("Static Node").has_value());
  EXPECT_FALSE(MenuForNode("Properties").has_value());
  // Node type names are exact.
  EXPECT_FALSE(MenuForNode("server").has_value());
}

TEST(ContextMenuTest, OneLoginOrUserRowHasAMenuSeveralRowsNone) {
  EXPECT_EQ(MenuForRows({"LoginO'Brien"})->name, "mnuLoginName");
  EXPECT_EQ(MenuForRows({"Userdbo"})->name, "mnuUser");
  EXPECT_FALSE(MenuForRows({"LoginA", "LoginB"}).has_value());
  EXPECT_FALSE(MenuForRows({}).has_value());
  EXPECT_FALSE(MenuForRows({"Server1.Database2"}).has_value());
}

class CommandsTest : public testing::ConsoleFixture {
 protected:
  // A collection with a quote, a bracket and a semicolon in its name.
  static constexpr char kOddName[] = "O'Brien [x]; y";
  static constexpr char kOddDatabase[] = "Quillarchive_O'Brien [x]; y";
};

TEST_F(CommandsTest, ALoginWithoutRolesIsRefusedEveryCommandBeforeAnyQuestion) {
  std::shared_ptr<Database> odd = Installed(kOddName);
  ASSERT_NE(odd, nullptr);
  AddLogin("clerk", "pw");
  AddUser(*odd, "clerk", "clerk");
  AddLogin("victim", "pw");
  std::unique_ptr<servers::Server> clerk = ServerAs("clerk", "pw");
  std::shared_ptr<Database> as_clerk = CollectionOf(*clerk, kOddName);
  ASSERT_NE(as_clerk, nullptr);
  const std::string server = clerk->Name();

  // Only OK answers: a confirmation asked by mistake would find none and throw.
  for (int i = 0; i < 12; ++i) platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(MayCreateCollection(ui(), *clerk));
  EXPECT_FALSE(MayAttachCollection(ui(), *clerk));
  EXPECT_FALSE(MayChangeOwner(ui(), *as_clerk));
  EXPECT_FALSE(MayGrantLogin(ui(), *clerk));
  EXPECT_FALSE(MayAddCollectionUser(ui(), *as_clerk));
  EXPECT_FALSE(DeleteCollection(ui(), *as_clerk));
  EXPECT_FALSE(CloseCollection(ui(), *as_clerk));
  EXPECT_FALSE(ShrinkLogFile(ui(), *as_clerk));
  EXPECT_FALSE(RemoveLogin(ui(), *clerk, "victim", "Standard"));
  EXPECT_FALSE(RemoveCollectionUser(ui(), *as_clerk, "clerk"));
  EXPECT_FALSE(CreateFullTextIndex(ui(), *as_clerk));
  EXPECT_FALSE(RemoveFullTextIndex(ui(), *as_clerk));

  const std::vector<MessageRequest>& boxes = platform_.ui.boxes();
  ASSERT_EQ(boxes.size(), 12u);
  const std::string generic = common::LoadMessage(40);
  std::vector<std::string> expected = {common::FormatMessage(39, {server}),
                                       common::FormatMessage(55, {server}),
                                       generic,
                                       common::FormatMessage(49, {server}),
                                       common::LoadMessage(53),
                                       common::FormatMessage(46, {server}),
                                       common::FormatMessage(43, {server}),
                                       generic,
                                       common::FormatMessage(61, {server}),
                                       common::FormatMessage(58, {std::string(kOddName)}),
                                       generic,
                                       generic};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(boxes[i], Notice(expected[i])) << i;
  }
  // Nothing changed.
  EXPECT_TRUE(DatabaseExists(kOddDatabase));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM master..syslogins WHERE name = 'victim'"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM sysusers WHERE name = 'clerk'", kOddDatabase), 1);
}

TEST_F(CommandsTest, ALoginWithDbcreatorOnlyMayCreateAndDeleteButNotDetach) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  AddLogin("maker", "pw", {"dbcreator"});
  std::unique_ptr<servers::Server> maker = ServerAs("maker", "pw");
  EXPECT_TRUE(MayCreateCollection(ui(), *maker));
  EXPECT_TRUE(MayAttachCollection(ui(), *maker));
  EXPECT_TRUE(platform_.ui.boxes().empty());
  // A user of the collection, so the collection is in maker's catalogue.
  AddUser(*sales, "maker", "maker");
  maker = ServerAs("maker", "pw", 3);
  platform_.ui.QueueAnswer(kAnswerOk);
  std::shared_ptr<Database> as_maker = CollectionOf(*maker, "Sales");
  ASSERT_NE(as_maker, nullptr);
  EXPECT_FALSE(CloseCollection(ui(), *as_maker));
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(platform_.ui.boxes()[0], Notice(common::FormatMessage(43, {maker->Name()})));

  // Deleting works although maker may KILL no session, its own included: the product closes
  // its own connection to the collection instead. (The administrator's registration lets go of
  // the collection first; maker could not end that session.)
  sales->CloseConnection();
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(DeleteCollection(ui(), *as_maker));
  EXPECT_EQ(platform_.ui.boxes().size(), 2u) << platform_.ui.boxes().back().text;
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
}

TEST_F(CommandsTest, ADbOwnerOfTheCollectionMayShrinkItsLog) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  AddLogin("keeper", "pw");
  AddUser(*sales, "keeper", "keeper", {"db_owner"});
  AddLogin("clerk", "pw");
  AddUser(*sales, "clerk", "clerk", {"db_datareader"});
  std::unique_ptr<servers::Server> keeper = ServerAs("keeper", "pw");
  std::shared_ptr<Database> as_keeper = CollectionOf(*keeper, "Sales");
  ASSERT_NE(as_keeper, nullptr);
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(ShrinkLogFile(ui(), *as_keeper));
  ASSERT_EQ(platform_.ui.boxes().size(), 1u) << platform_.ui.boxes().back().text;
  EXPECT_EQ(platform_.ui.boxes()[0], Question(common::FormatMessage(354, {std::string("Sales")})));

  // A user without db_owner is refused before the question.
  std::unique_ptr<servers::Server> clerk = ServerAs("clerk", "pw", 3);
  std::shared_ptr<Database> as_clerk = CollectionOf(*clerk, "Sales");
  ASSERT_NE(as_clerk, nullptr);
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(ShrinkLogFile(ui(), *as_clerk));
  EXPECT_EQ(platform_.ui.boxes().back(), Notice(common::LoadMessage(40)));
}

TEST_F(CommandsTest, DeletingAskedNoKeepsTheCollectionYesDropsIt) {
  std::shared_ptr<Database> odd = Installed(kOddName);
  ASSERT_NE(odd, nullptr);
  const std::string question = common::FormatMessage(45, {std::string(kOddName)});

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(DeleteCollection(ui(), *odd));
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  // Destructive: exclamation, No the default button.
  EXPECT_EQ(platform_.ui.boxes()[0], Question(question, MessageIcon::kExclamation, 2));
  EXPECT_TRUE(DatabaseExists(kOddDatabase));
  EXPECT_EQ(Catalogue().Count(), 1);

  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(DeleteCollection(ui(), *odd));
  EXPECT_FALSE(DatabaseExists(kOddDatabase));
  EXPECT_EQ(Catalogue().Count(), 0);
  EXPECT_EQ(platform_.ui.boxes().size(), 2u);

  // A second delete of the same object (a stale row) is reported without a question.
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(DeleteCollection(ui(), *odd));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Notice(common::LoadMessage(47) + "\rThe network collection '" + kOddName +
                   "' is no longer listed on its server."));
}

TEST_F(CommandsTest, AFailedDropIsReportedAfterItsIntroductionAndTheCollectionStays) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  FailNext("DROP DATABASE", "Injected drop failure.");
  platform_.ui.QueueAnswer(kAnswerYes);
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(DeleteCollection(ui(), *sales));
  ASSERT_EQ(platform_.ui.boxes().size(), 2u);
  EXPECT_EQ(platform_.ui.boxes()[1],
            Notice("The following error occurred when deleting a network collection:\r"
                   "Injected drop failure."));
  EXPECT_TRUE(DatabaseExists("Quillarchive_Sales"));
  EXPECT_EQ(Catalogue().Count(), 1);
}

TEST_F(CommandsTest, ClosingDetachesTheCollectionAndKeepsItsFiles) {
  std::shared_ptr<Database> odd = Installed(kOddName);
  ASSERT_NE(odd, nullptr);
  std::string log_file = LogFileOf(kOddDatabase);
  const std::string question = common::FormatMessage(42, {std::string(kOddName), Server().Name()});

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(CloseCollection(ui(), *odd));
  EXPECT_EQ(platform_.ui.boxes().back(), Question(question));
  EXPECT_TRUE(DatabaseExists(kOddDatabase));

  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(CloseCollection(ui(), *odd));
  EXPECT_FALSE(DatabaseExists(kOddDatabase));
  EXPECT_EQ(Catalogue().Count(), 0);
  EXPECT_TRUE(std::filesystem::exists(instance_->MapPath(log_file)));
}

TEST_F(CommandsTest, ClosingUsesTheCollectionsOwnCatalogueNotAnotherRegistrationsKeys) {
  // Two registrations of the same server number their collections each in their own way: here
  // sa's catalogue has given a key to a collection detached since, the other one has not.
  std::shared_ptr<Database> zero = Installed("Zero");
  std::shared_ptr<Database> first = Installed("First");
  std::shared_ptr<Database> second = Installed("Second");
  ASSERT_NE(second, nullptr);
  platform_.ui.QueueAnswer(kAnswerYes);
  ASSERT_TRUE(CloseCollection(ui(), *zero));
  AddLogin("admin2", "pw", {"sysadmin"});
  std::unique_ptr<servers::Server> other = ServerAs("admin2", "pw");
  std::shared_ptr<Database> other_second = CollectionOf(*other, "Second");
  ASSERT_NE(other_second, nullptr);
  // The same key names another collection in sa's catalogue.
  ASSERT_EQ(Catalogue().Item(std::to_string(other_second->ArchiveID())), first);

  platform_.ui.QueueAnswer(kAnswerYes);
  // sa's registration still has the collection open: its connection is ended after consent.
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(CloseCollection(ui(), *other_second));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Second"));
  EXPECT_TRUE(DatabaseExists("Quillarchive_First"));
  EXPECT_EQ(platform_.ui.unused_answers(), 0u);
}

TEST_F(CommandsTest, AFailedDetachIsReportedWithItsIntroduction) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  FailNext("sp_detach_db", "Injected detach failure.");
  platform_.ui.QueueAnswer(kAnswerYes);
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(CloseCollection(ui(), *sales));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Notice(common::LoadMessage(44) + "\rInjected detach failure."));
  EXPECT_TRUE(DatabaseExists("Quillarchive_Sales"));
  EXPECT_EQ(Catalogue().Count(), 1);
}

TEST_F(CommandsTest, ShrinkingAsksThenShrinksAndReportsAFailure) {
  std::shared_ptr<Database> odd = Installed(kOddName);
  ASSERT_NE(odd, nullptr);
  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(ShrinkLogFile(ui(), *odd));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Question(common::FormatMessage(354, {std::string(kOddName)})));

  log_->Clear();
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(ShrinkLogFile(ui(), *odd));
  bool shrunk = false;
  for (const std::string& text : log_->Texts()) {
    if (text.find("SHRINKFILE") != std::string::npos) shrunk = true;
  }
  EXPECT_TRUE(shrunk);

  FailNext("SHRINKFILE", "Injected shrink failure.");
  platform_.ui.QueueAnswer(kAnswerYes);
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(ShrinkLogFile(ui(), *odd));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Notice("The following problem occurred when executing the command:\r"
                   "Injected shrink failure."));
}

TEST_F(CommandsTest, RemovingAStandardLoginAndAWindowsLogin) {
  const std::string hostile = "x']; DROP DATABASE model --";
  AddLogin(hostile, "pw");
  Server().Connection().Execute("EXEC sp_grantlogin 'SANDBOX\\alice'");

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(RemoveLogin(ui(), Server(), hostile, "Standard"));
  // Destructive: No is the default button.
  EXPECT_EQ(platform_.ui.boxes().back(),
            Question(common::FormatMessage(60, {hostile}), MessageIcon::kQuestion, 2));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM master..syslogins WHERE name = " + Quoted(hostile)), 1);

  log_->Clear();
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(RemoveLogin(ui(), Server(), hostile, "standard"));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM master..syslogins WHERE name = " + Quoted(hostile)), 0);
  EXPECT_TRUE(DatabaseExists("model"));
  bool dropped = false;
  for (const std::string& text : log_->Texts()) {
    if (text.find("sp_droplogin") != std::string::npos) dropped = true;
  }
  EXPECT_TRUE(dropped);

  log_->Clear();
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(RemoveLogin(ui(), Server(), "SANDBOX\\alice", "Windows User"));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM master..syslogins WHERE name = 'SANDBOX\\alice'"), 0);
  bool revoked = false;
  for (const std::string& text : log_->Texts()) {
    if (text.find("sp_revokelogin") != std::string::npos) revoked = true;
  }
  EXPECT_TRUE(revoked);
}

TEST_F(CommandsTest, RemovingALoginThatOwnsACollectionIsRefusedByTheServerObject) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  AddLogin("owner1", "pw");
  OpenIn("Quillarchive_Sales").Execute("EXEC sp_changedbowner 'owner1'");
  platform_.ui.QueueAnswer(kAnswerYes);
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(RemoveLogin(ui(), Server(), "owner1", "Standard"));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM master..syslogins WHERE name = 'owner1'"), 1);
  ASSERT_EQ(platform_.ui.boxes().size(), 2u);
  EXPECT_EQ(platform_.ui.unused_answers(), 0u);
}

TEST_F(CommandsTest, RemovingACollectionUserWithAHostileName) {
  std::shared_ptr<Database> odd = Installed(kOddName);
  ASSERT_NE(odd, nullptr);
  AddLogin("O'Neil", "pw");
  const std::string user = "O'Neil]; --";
  AddUser(*odd, "O'Neil", user, {"db_datareader"});

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(RemoveCollectionUser(ui(), *odd, user));
  EXPECT_EQ(platform_.ui.boxes().back(), Question(common::FormatMessage(57, {user})));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM sysusers WHERE name = " + Quoted(user), kOddDatabase), 1);

  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(RemoveCollectionUser(ui(), *odd, user));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM sysusers WHERE name = " + Quoted(user), kOddDatabase), 0);
}

TEST_F(CommandsTest, ACollectionsDbAccessAdminMayRemoveUsersThere) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  AddLogin("keeper", "pw");
  AddUser(*sales, "keeper", "keeper", {"db_accessadmin"});
  AddLogin("guest1", "pw");
  AddUser(*sales, "guest1", "guest1");
  std::unique_ptr<servers::Server> keeper = ServerAs("keeper", "pw");
  std::shared_ptr<Database> as_keeper = CollectionOf(*keeper, "Sales");
  ASSERT_NE(as_keeper, nullptr);
  EXPECT_TRUE(MayAddCollectionUser(ui(), *as_keeper));
  // db_accessadmin is no owner.
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(MayChangeOwner(ui(), *as_keeper));
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(RemoveCollectionUser(ui(), *as_keeper, "guest1"));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM sysusers WHERE name = 'guest1'", "Quillarchive_Sales"), 0);
}

TEST_F(CommandsTest, RemovingARegistrationTouchesNeitherServerNorRegistryOfOthers) {
  servers::Servers list(ServerContext());
  std::shared_ptr<servers::Server> first = list.Add(kSandboxSa);
  ASSERT_NE(first, nullptr);
  AddLogin("admin2", "pw", {"sysadmin"});
  std::shared_ptr<servers::Server> second =
      list.Add("Provider=SQLOLEDB;Data Source=(sandbox);User Id=admin2;Password=pw;");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(list.Count(), 2);

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(DetachRegistration(ui(), list, *first));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Question(common::FormatMessage(48, {std::string("(sandbox)")})));
  EXPECT_EQ(list.Count(), 2);

  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(DetachRegistration(ui(), list, *first));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Item(1), second);
  servers::Servers reloaded(ServerContext());
  EXPECT_EQ(reloaded.Count(), 1);
  EXPECT_TRUE(second->Connected());
}

TEST_F(CommandsTest, StartAndStopAskThenDriveTheServiceAndReportARefusedStop) {
  platform_.services_fake.SetService("(sandbox)", {platform::kServiceRunning, true, false});
  servers::Server& server = Server();

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(StopServer(ui(), server));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Question(common::FormatMessage(66, {std::string("(sandbox)")})));
  EXPECT_TRUE(platform_.services_fake.calls().empty() ||
              platform_.services_fake.calls().back().operation != "Stop");

  platform_.ui.QueueAnswer(kAnswerYes);
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(StopServer(ui(), server));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Notice(common::FormatMessage(67, {std::string("(sandbox)")})));

  platform_.services_fake.SetService("(sandbox)", {platform::kServiceRunning, true, true});
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(StopServer(ui(), server));
  EXPECT_EQ(server.Status(), platform::kServiceStopped);

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(StartServer(ui(), server));
  EXPECT_EQ(server.Status(), platform::kServiceStopped);
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(StartServer(ui(), server));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Question(common::FormatMessage(64, {std::string("(sandbox)")})));
  EXPECT_EQ(server.Status(), platform::kServiceRunning);
  EXPECT_EQ(platform_.ui.unused_answers(), 0u);
}

class FullTextCommandsTest : public testing::ConsoleFixture {
 protected:
  void SetUp() override { StartInstance("8.00.2039", true); }
};

TEST_F(FullTextCommandsTest, CreateAndRemoveAskWithoutAnIconAndChangeTheIndex) {
  std::shared_ptr<Database> odd = Installed("O'Brien [x]; y");
  ASSERT_NE(odd, nullptr);
  ASSERT_EQ(odd->GetFullTextStatus(), -1);

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(CreateFullTextIndex(ui(), *odd));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Question(common::FormatMessage(344, {odd->Name()}), MessageIcon::kNone));
  EXPECT_EQ(odd->GetFullTextStatus(), -1);

  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(CreateFullTextIndex(ui(), *odd));
  EXPECT_GE(odd->GetFullTextStatus(), 0);

  platform_.ui.QueueAnswer(kAnswerNo);
  EXPECT_FALSE(RemoveFullTextIndex(ui(), *odd));
  EXPECT_EQ(platform_.ui.boxes().back(),
            Question(common::FormatMessage(345, {odd->Name()}), MessageIcon::kNone));
  EXPECT_GE(odd->GetFullTextStatus(), 0);

  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(RemoveFullTextIndex(ui(), *odd));
  EXPECT_EQ(odd->GetFullTextStatus(), -1);
}

TEST_F(FullTextCommandsTest, AFailingCreationIsShownAsItsDescription) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  FailNext("sp_fulltext_catalog", "Injected catalogue failure.");
  platform_.ui.QueueAnswer(kAnswerYes);
  platform_.ui.QueueAnswer(kAnswerOk);
  EXPECT_FALSE(CreateFullTextIndex(ui(), *sales));
  EXPECT_EQ(platform_.ui.boxes().back(), Notice("Injected catalogue failure."));
}

TEST_F(FullTextCommandsTest, ACollectionOwnerMayCreateTheIndex) {
  std::shared_ptr<Database> sales = Installed("Sales");
  ASSERT_NE(sales, nullptr);
  AddLogin("editor", "pw");
  AddUser(*sales, "editor", "editor", {"db_owner"});
  std::unique_ptr<servers::Server> editor = ServerAs("editor", "pw");
  std::shared_ptr<Database> as_editor = CollectionOf(*editor, "Sales");
  ASSERT_NE(as_editor, nullptr);
  EXPECT_TRUE(MayChangeOwner(ui(), *as_editor));
  platform_.ui.QueueAnswer(kAnswerYes);
  EXPECT_TRUE(CreateFullTextIndex(ui(), *as_editor));
  EXPECT_GE(sales->GetFullTextStatus(), 0);
}

}  // namespace
}  // namespace console
