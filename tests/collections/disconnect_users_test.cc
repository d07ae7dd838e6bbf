// Ending every connection to a collection database, after the administrator's consent when
// other logins use it.
#include <gtest/gtest.h>

#include "collections/databases.h"
#include "fixture.h"

namespace collections {
namespace {

using testing::FakeResult;
using testing::kSystemUser;

constexpr char kPromptStart[] = "Die folgenden Benutzer greifen noch auf das Server-Archiv zu:\r";
constexpr char kPromptEnd[] =
    "\rSollen diese Nutzer jetzt gewaltsam von der Datenbank getrennt werden?\rDies kann zu "
    "Datenverlusten führen.";

class DisconnectUsersTest : public testing::CollectionsFixture {
 protected:
  void SetUp() override {
    server_ = ConnectedServer();
    HelpDb({"Quillarchive_Sales"});
    catalogue_ = dynamic_cast<Databases*>(&server_->Databases());
    sales_ = catalogue_->Item(1);
    server_session_ = SessionOf(server_->Connection());
    sales_session_ = SessionOf(sales_->Connection());
    log_->Clear();
    fake_->ClearCalls();
  }

  bool Disconnect() {
    return catalogue_->DisconnectUsers(sales_->Connection(), sales_->DatabaseName());
  }
  std::vector<std::string> ServerTexts() { return TextsOn(server_->Connection()); }

  std::unique_ptr<servers::Server> server_;
  Databases* catalogue_ = nullptr;
  std::shared_ptr<Database> sales_;
  int server_session_ = 0;
  int sales_session_ = 0;
};

TEST_F(DisconnectUsersTest, OwnConnectionsAloneAreEndedWithoutAQuestion) {
  SystemUser("CORP\\admin");
  SpWho({{server_session_, "CORP\\admin", "master"},
         {sales_session_, "CORP\\admin", "Quillarchive_Sales"},
         {61, "corp\\ADMIN", "quillarchive_sales"},
         {62, "CORP\\anna", "Quillarchive_Sales_Old"}});
  EXPECT_TRUE(Disconnect());
  EXPECT_TRUE(platform_.ui.boxes().empty());
  // The questions on the collection's own connection, the procedure called as one.
  EXPECT_EQ(TextsOn(sales_->Connection()),
            (std::vector<std::string>{kSystemUser, "SELECT @@SPID;", "sp_who"}));
  EXPECT_TRUE(log_->statements()[2].procedure_call);
  // The collection's own connection is closed, not killed (KILL needs processadmin); another
  // database of a similar name is not touched; the server connection is not ended.
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{"KILL 61"}));
  EXPECT_EQ(sales_->Connection().State(), db::kStateClosed);
  EXPECT_NO_THROW(server_->Connection().Execute("SELECT 1"));
}

TEST_F(DisconnectUsersTest, DatabaseNamesAreComparedTrimmedOnBothSides) {
  SystemUser("sa");
  SpWho({{61, "sa", "  Quillarchive_Sales"}});
  // The name as a caller may hold it; "Quillarchive_Sales " was once left unmanageable.
  for (const char* name : {"Quillarchive_Sales", "Quillarchive_Sales ", "\tquillarchive_sales\n"}) {
    sales_->Reconnect();
    log_->Clear();
    EXPECT_TRUE(catalogue_->DisconnectUsers(sales_->Connection(), name));
    EXPECT_EQ(ServerTexts(), (std::vector<std::string>{"KILL 61"})) << name;
  }
}

TEST_F(DisconnectUsersTest, OtherLoginsAreNamedOnceAndEndedAfterConsent) {
  SystemUser("sa");
  SpWho({{sales_session_, "sa", "Quillarchive_Sales"},
         {70, "CORP\\anna", "Quillarchive_Sales"},
         {71, "Bobby", "Quillarchive_Sales"},
         {72, "corp\\ANNA", "Quillarchive_Sales"},
         {73, "Bob", "Quillarchive_Sales"}});
  platform_.ui.QueueAnswer(platform::kAnswerYes);
  EXPECT_TRUE(Disconnect());
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  const platform::MessageRequest& box = platform_.ui.boxes()[0];
  // "Bob" is named although "Bobby" holds his name; Anna once whatever the letter case.
  EXPECT_EQ(box.text, std::string(kPromptStart) + "- CORP\\anna\r- Bobby\r- Bob" + kPromptEnd);
  EXPECT_EQ(box.title, "Tessera Server Manager");
  EXPECT_EQ(box.buttons, platform::MessageButtons::kYesNo);
  EXPECT_EQ(box.icon, platform::MessageIcon::kNone);
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{"KILL 70", "KILL 71", "KILL 72", "KILL 73"}));
}

TEST_F(DisconnectUsersTest, DecliningEndsNothing) {
  SystemUser("sa");
  SpWho({{sales_session_, "sa", "Quillarchive_Sales"}, {70, "CORP\\anna", "Quillarchive_Sales"}});
  platform_.ui.QueueAnswer(platform::kAnswerNo);
  EXPECT_FALSE(Disconnect());
  EXPECT_EQ(platform_.ui.boxes()[0].text, std::string(kPromptStart) + "- CORP\\anna" + kPromptEnd);
  EXPECT_TRUE(ServerTexts().empty());
  EXPECT_NO_THROW(sales_->Connection().Execute("SELECT 1"));
}

TEST_F(DisconnectUsersTest, AProcessThatCannotBeEndedDoesNotStopTheOthers) {
  SystemUser("sa");
  SpWho({{sales_session_, "sa", "Quillarchive_Sales"},
         {80, "sa", "Quillarchive_Sales"},
         {81, "sa", "Quillarchive_Sales"}});
  fake_->On("KILL 80", FakeResult().Error(6106, "Process ID 80 is not an active process ID."));
  EXPECT_TRUE(Disconnect());
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{"KILL 80", "KILL 81"}));
}

TEST_F(DisconnectUsersTest, NoConnectionToTheDatabaseMeansNothingToEnd) {
  SystemUser("sa");
  SpWho({{server_session_, "sa", "master"}});
  EXPECT_TRUE(Disconnect());
  EXPECT_TRUE(ServerTexts().empty());
}

TEST_F(DisconnectUsersTest, AProcessIdThatIsNoNumberIsNeverSent) {
  SystemUser("sa");
  FakeResult who;
  who.BeginRows({testing::Column("spid", "varchar"), testing::Column("loginame", "nchar"),
                 testing::Column("dbname", "nchar")})
      .Row({db::Value("1; DROP DATABASE master"), db::Value("sa"), db::Value("Quillarchive_Sales")})
      .Row({db::Value(" 90 "), db::Value("sa"), db::Value("Quillarchive_Sales")})
      .EndRows();
  fake_->On("sp_who", who);
  EXPECT_TRUE(Disconnect());
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{"KILL 90"}));
}

TEST_F(DisconnectUsersTest, AFailingQuestionEndsNothingAndReachesTheCaller) {
  SystemUser("sa");
  fake_->On("sp_who", FakeResult().Error(229, "EXECUTE permission denied on object 'sp_who'."));
  EXPECT_THROW(Disconnect(), db::Error);
  EXPECT_TRUE(ServerTexts().empty());

  fake_->On(kSystemUser, FakeResult().Breaks());
  EXPECT_THROW(Disconnect(), db::Error);
  EXPECT_TRUE(ServerTexts().empty());
}

}  // namespace
}  // namespace collections
