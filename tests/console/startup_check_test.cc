// The start-up format check on a sandbox server: which collections are asked which question, in
// which order; what Yes and No lead to; the role check; and the one-shot timer.
#include "console/startup_check.h"

#include <gtest/gtest.h>

#include "console/console_fixture.h"
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

constexpr char kMarker[] = "Quillarchive: Search in PlainText";

MessageRequest Question(std::string text) {
  return {std::move(text), "Tessera Server Manager", MessageButtons::kYesNo, MessageIcon::kQuestion,
          1};
}

TEST(StartupCheckTimerTest, ArmedByTheControlBarAndRunningOncePerArming) {
  StartupCheckTimer timer;
  EXPECT_EQ(timer.Interval(), 0);
  // A tick while stopped does not run the check.
  EXPECT_FALSE(timer.Tick());
  timer.Arm();
  EXPECT_EQ(timer.Interval(), 3000);
  EXPECT_TRUE(timer.Tick());
  EXPECT_EQ(timer.Interval(), 0);
  EXPECT_FALSE(timer.Tick());
  // Each control-bar setup arms it again.
  timer.Arm();
  timer.Arm();
  EXPECT_TRUE(timer.Tick());
  EXPECT_FALSE(timer.Tick());
  timer.SetInterval(-5);
  EXPECT_EQ(timer.Interval(), 0);
}

TEST(UpgradeQuestionTest, EachRangeHasItsMessage) {
  EXPECT_EQ(UpgradeQuestionFor(0), 315);
  EXPECT_EQ(UpgradeQuestionFor(140), 315);
  EXPECT_EQ(UpgradeQuestionFor(149), 315);
  EXPECT_EQ(UpgradeQuestionFor(150), 348);
  EXPECT_EQ(UpgradeQuestionFor(153), 348);
  EXPECT_EQ(UpgradeQuestionFor(154), 349);
  EXPECT_EQ(UpgradeQuestionFor(155), 352);
  EXPECT_EQ(UpgradeQuestionFor(160), 352);
  EXPECT_EQ(UpgradeQuestionFor(161), 0);
  EXPECT_EQ(UpgradeQuestionFor(2000), 0);
}

// Every job the check starts, instead of running it; what it returns is set per test.
struct JobLog {
  struct Run {
    std::string collection;
    format::frmProgress::Mode mode;
    int version_number;
  };
  std::vector<Run> runs;
  bool result = true;
  // Writes this version when an upgrade "runs", as a completed run would.
  std::string write_version;

  CollectionJob Job() {
    return [this](platform::UserInterface&, collections::Database& database,
                  format::frmProgress::Mode mode, int version_number) {
      runs.push_back({database.Name(), mode, version_number});
      if (mode == format::frmProgress::kUpgrade && !write_version.empty()) {
        std::int32_t field = 3;
        database.SetExtendedProperty(write_version, 0, field, "", 1, false, true);
      }
      return result;
    };
  }
};

class StartupCheckTest : public testing::ConsoleFixture {
 protected:
  // A collection whose format version and plain-text marker read as given.
  std::shared_ptr<Database> AtVersion(const std::string& name, const std::string& version,
                                      const std::string& marker = "True") {
    std::shared_ptr<Database> database = Installed(name);
    EXPECT_NE(database, nullptr);
    if (!database) return database;
    std::int32_t field = 3;
    database->SetExtendedProperty(version, 0, field, "", 1, false, true);
    field = 0;
    database->SetExtendedProperty(marker, 0, field, kMarker, 1, false, false);
    EXPECT_EQ(database->GetExtendedProperty(0, 3, 1, ""), version);
    return database;
  }

  std::string VersionOf(Database& database) { return database.GetExtendedProperty(0, 3, 1, ""); }

  JobLog jobs_;
};

TEST_F(StartupCheckTest, EveryOldCollectionIsAskedItsQuestionInCatalogueOrder) {
  AtVersion("Current", "1.61");
  AtVersion("Ancient", "1.40");
  AtVersion("Fifties", "1.53");
  AtVersion("Fiftyfour", "1.54");
  AtVersion("Fiftyfive", "1.55");
  AtVersion("O'Brien [x]; y", "1.60");
  for (int i = 0; i < 5; ++i) platform_.ui.QueueAnswer(kAnswerNo);

  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), Server(), jobs_.Job());

  std::vector<MessageRequest> expected = {
      Question(common::FormatMessage(315, {std::string("Ancient")})),
      Question(common::FormatMessage(348, {std::string("Fifties")})),
      Question(common::FormatMessage(349, {std::string("Fiftyfour")})),
      Question(common::FormatMessage(352, {std::string("Fiftyfive"), 155, 161})),
      Question(common::FormatMessage(352, {std::string("O'Brien [x]; y"), 160, 161}))};
  EXPECT_EQ(platform_.ui.boxes(), expected);
  // The numbers appear as integers.
  EXPECT_NE(platform_.ui.boxes()[3].text.find("155"), std::string::npos);
  EXPECT_NE(platform_.ui.boxes()[3].text.find("161"), std::string::npos);
  EXPECT_TRUE(jobs_.runs.empty());
  ASSERT_EQ(outcomes.size(), 6u);
  EXPECT_EQ(outcomes[0].question, 0);
  EXPECT_EQ(outcomes[0].version_number, 161);
  EXPECT_EQ(outcomes[1].question, 315);
  EXPECT_FALSE(outcomes[1].answered_yes);
}

TEST_F(StartupCheckTest, YesRunsTheUpgradeFromTheCollectionsVersion) {
  std::shared_ptr<Database> old = AtVersion("Old", "1.55");
  platform_.ui.QueueAnswer(kAnswerYes);
  jobs_.write_version = "1.61";
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), Server(), jobs_.Job());
  ASSERT_EQ(jobs_.runs.size(), 1u);
  EXPECT_EQ(jobs_.runs[0].collection, "Old");
  EXPECT_EQ(jobs_.runs[0].mode, format::frmProgress::kUpgrade);
  EXPECT_EQ(jobs_.runs[0].version_number, 155);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_TRUE(outcomes[0].upgrade_ran);
  EXPECT_TRUE(outcomes[0].upgrade_completed);
  EXPECT_EQ(platform_.ui.boxes().size(), 1u);
}

TEST_F(StartupCheckTest, At150AnsweredNoTheEmptyMarkerOffersThePlainText) {
  AtVersion("Plain", "1.50", "");
  platform_.ui.QueueAnswer(kAnswerNo);
  platform_.ui.QueueAnswer(kAnswerYes);
  RunStartupCheck(ui(), Server(), jobs_.Job());
  ASSERT_EQ(platform_.ui.boxes().size(), 2u);
  EXPECT_EQ(platform_.ui.boxes()[0], Question(common::FormatMessage(348, {std::string("Plain")})));
  EXPECT_EQ(platform_.ui.boxes()[1], Question(common::FormatMessage(316, {std::string("Plain")})));
  ASSERT_EQ(jobs_.runs.size(), 1u);
  EXPECT_EQ(jobs_.runs[0].mode, format::frmProgress::kPlainText);
}

TEST_F(StartupCheckTest, At150WithPlainTextOnlyTheUpgradeIsOffered) {
  AtVersion("Plain", "1.50", "True");
  platform_.ui.QueueAnswer(kAnswerNo);
  RunStartupCheck(ui(), Server(), jobs_.Job());
  EXPECT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_TRUE(jobs_.runs.empty());
}

TEST_F(StartupCheckTest, AnUpgradeThatStopsEarlyStillCountsAsCurrentUntilTheNextStart) {
  // The run fails and leaves the version at 1.50: no plain-text question follows now.
  std::shared_ptr<Database> plain = AtVersion("Plain", "1.50", "");
  platform_.ui.QueueAnswer(kAnswerYes);
  jobs_.result = false;
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), Server(), jobs_.Job());
  EXPECT_EQ(platform_.ui.boxes().size(), 1u);
  ASSERT_EQ(jobs_.runs.size(), 1u);
  EXPECT_TRUE(outcomes[0].upgrade_ran);
  EXPECT_FALSE(outcomes[0].upgrade_completed);
  EXPECT_FALSE(outcomes[0].plain_text_asked);
  // At the next check the collection is offered the upgrade again.
  platform_.ui.QueueAnswer(kAnswerNo);
  platform_.ui.QueueAnswer(kAnswerNo);
  RunStartupCheck(ui(), Server(), jobs_.Job());
  ASSERT_EQ(platform_.ui.boxes().size(), 3u);
  EXPECT_EQ(platform_.ui.boxes()[1].text, common::FormatMessage(348, {std::string("Plain")}));
  EXPECT_EQ(platform_.ui.boxes()[2].text, common::FormatMessage(316, {std::string("Plain")}));
}

TEST_F(StartupCheckTest, ACompletedUpgradeWithoutPlainTextOffersItAtOnce) {
  // Older collections keep their documents as text; once upgraded they would never be offered
  // the conversion again, so it follows the upgrade. A collection with plain text is not asked.
  AtVersion("Plain", "1.50", "");
  AtVersion("Older", "1.41", "");
  AtVersion("Done", "1.41", "True");
  jobs_.write_version = "1.61";
  for (int i = 0; i < 5; ++i) platform_.ui.QueueAnswer(kAnswerYes);
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), Server(), jobs_.Job());
  std::vector<std::string> texts;
  for (const MessageRequest& box : platform_.ui.boxes()) texts.push_back(box.text);
  std::vector<std::string> expected = {common::FormatMessage(348, {std::string("Plain")}),
                                       common::FormatMessage(316, {std::string("Plain")}),
                                       common::FormatMessage(315, {std::string("Older")}),
                                       common::FormatMessage(316, {std::string("Older")}),
                                       common::FormatMessage(315, {std::string("Done")})};
  EXPECT_EQ(texts, expected);
  ASSERT_EQ(jobs_.runs.size(), 5u);
  EXPECT_EQ(jobs_.runs[1].mode, format::frmProgress::kPlainText);
  EXPECT_EQ(jobs_.runs[3].mode, format::frmProgress::kPlainText);
  EXPECT_EQ(jobs_.runs[3].collection, "Older");
  EXPECT_EQ(jobs_.runs[4].mode, format::frmProgress::kUpgrade);
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_TRUE(outcomes[0].plain_text_completed);
  EXPECT_FALSE(outcomes[2].plain_text_asked);
}

TEST_F(StartupCheckTest, ALoginWithoutTheRolesIsToldSoAndTheCollectionKeepsItsVersion) {
  std::shared_ptr<Database> old = AtVersion("Old", "1.55");
  AddLogin("reader", "pw");
  AddUser(*old, "reader", "reader", {"db_datareader", "db_datawriter"});
  std::unique_ptr<servers::Server> reader = ServerAs("reader", "pw");
  platform_.ui.QueueAnswer(kAnswerYes);
  platform_.ui.QueueAnswer(kAnswerOk);
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), *reader, jobs_.Job());
  ASSERT_EQ(platform_.ui.boxes().size(), 2u);
  EXPECT_EQ(platform_.ui.boxes()[1],
            (MessageRequest{common::LoadMessage(40), "Tessera Server Manager", MessageButtons::kOk,
                            MessageIcon::kInformation, 1}));
  EXPECT_TRUE(jobs_.runs.empty());
  EXPECT_TRUE(outcomes[0].refused);
  EXPECT_EQ(VersionOf(*old), "1.55");
}

TEST_F(StartupCheckTest, ACollectionOwnerWithoutSysadminMayUpgrade) {
  std::shared_ptr<Database> old = AtVersion("Old", "1.54");
  AddLogin("editor", "pw");
  AddUser(*old, "editor", "editor", {"db_owner"});
  std::unique_ptr<servers::Server> editor = ServerAs("editor", "pw");
  platform_.ui.QueueAnswer(kAnswerYes);
  RunStartupCheck(ui(), *editor, jobs_.Job());
  ASSERT_EQ(jobs_.runs.size(), 1u);
  EXPECT_EQ(jobs_.runs[0].version_number, 154);
}

TEST_F(StartupCheckTest, VersionsThatAreNoNumberAreLeftAlone) {
  std::shared_ptr<Database> odd = AtVersion("Odd", "1.5a");
  std::shared_ptr<Database> blank = AtVersion("Blank", "");
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), Server(), jobs_.Job());
  EXPECT_TRUE(platform_.ui.boxes().empty());
  EXPECT_TRUE(jobs_.runs.empty());
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_FALSE(outcomes[0].version_number.has_value());
  EXPECT_EQ(outcomes[0].version, "1.5a");
  EXPECT_FALSE(outcomes[1].version_number.has_value());
  EXPECT_EQ(VersionOf(*odd), "1.5a");
}

TEST_F(StartupCheckTest, IncompleteCollectionsAreNeverUpgraded) {
  // Half a creation: an old version number, but no template document, or no version at all.
  std::shared_ptr<Database> stub = AtVersion("Stub", "1.40");
  ASSERT_NE(stub, nullptr);
  stub->Connection().Execute("DELETE FROM Document WHERE EntryID = 1");
  AtVersion("Blank", "");
  AtVersion("Fine", "1.40");
  platform_.ui.QueueAnswer(kAnswerNo);
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), Server(), jobs_.Job());
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].incomplete, "it has no template document");
  EXPECT_EQ(outcomes[0].question, 0);
  EXPECT_EQ(outcomes[1].incomplete, "it has no readable format version");
  // Only the complete old collection is asked about.
  EXPECT_EQ(outcomes[2].incomplete, "");
  EXPECT_EQ(platform_.ui.boxes(), std::vector<MessageRequest>{
                                      Question(common::FormatMessage(315, {std::string("Fine")}))});
  EXPECT_TRUE(jobs_.runs.empty());
  EXPECT_EQ(VersionOf(*stub), "1.40");
}

TEST_F(StartupCheckTest, AServerThatIsNotConnectedContributesNothing) {
  AtVersion("Old", "1.40");
  servers::Servers list(ServerContext());
  ASSERT_NE(list.Add(kSandboxSa), nullptr);
  platform::FakeNetworkProbe::Machine away;
  away.echo = 11010;
  platform_.network.SetMachine("OFFSITE", away);
  EXPECT_EQ(list.Add("Provider=SQLOLEDB;Data Source=OFFSITE;Integrated Security=SSPI;"), nullptr);
  servers::Servers reloaded(ServerContext());
  ASSERT_EQ(reloaded.Count(), 2);
  platform_.ui.QueueAnswer(kAnswerNo);
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), reloaded, jobs_.Job());
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].server, "(sandbox)");
  EXPECT_EQ(platform_.ui.boxes().size(), 1u);
}

// The real jobs in the progress window.
TEST_F(StartupCheckTest, AtVersion157YesRunsNoRungAndChangesNothing) {
  std::shared_ptr<Database> odd = AtVersion("Seven", "1.57");
  platform_.ui.QueueAnswer(kAnswerYes);
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), Server());
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].question, 352);
  EXPECT_TRUE(outcomes[0].upgrade_ran);
  EXPECT_EQ(VersionOf(*odd), "1.57");
  EXPECT_EQ(platform_.ui.unused_answers(), 0u);
}

TEST_F(StartupCheckTest, YesToThePlainTextWritesTheMarker) {
  std::shared_ptr<Database> plain = AtVersion("Plain", "1.50", "");
  platform_.ui.QueueAnswer(kAnswerNo);
  platform_.ui.QueueAnswer(kAnswerYes);
  std::vector<StartupCheckOutcome> outcomes = RunStartupCheck(ui(), Server());
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_TRUE(outcomes[0].plain_text_ran);
  EXPECT_TRUE(outcomes[0].plain_text_completed);
  EXPECT_FALSE(plain->GetExtendedProperty(0, 0, 1, kMarker).empty());
  EXPECT_EQ(VersionOf(*plain), "1.50");
  EXPECT_FALSE(platform_.ui.progress().empty());
}

}  // namespace
}  // namespace console
