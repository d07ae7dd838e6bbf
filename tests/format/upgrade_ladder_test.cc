#include "format/upgrade_ladder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "format/install_script.h"
#include "format/names.h"
#include "format/procedures.h"

namespace format {
namespace {

const UpgradeRung& RungTo(const std::vector<UpgradeRung>& ladder, std::string_view version) {
  for (const auto& rung : ladder) {
    if (rung.version == version) return rung;
  }
  throw std::out_of_range("no rung to " + std::string(version));
}

std::vector<const UpgradeStep*> Statements(const UpgradeRung& rung) {
  std::vector<const UpgradeStep*> statements;
  for (const auto& step : rung.steps) {
    if (step.kind == StepKind::kStatement || step.kind == StepKind::kStatementIfPreviousFailed ||
        step.kind == StepKind::kCountedStatement || step.kind == StepKind::kRepeatUntilSameCount) {
      statements.push_back(&step);
    }
  }
  return statements;
}

TEST(UpgradeLadderTest, RungsAscendToTheCurrentFormat) {
  const auto ladder = UpgradeLadder();
  std::vector<std::string_view> versions;
  for (const auto& rung : ladder) versions.push_back(rung.version);
  EXPECT_THAT(versions, testing::ElementsAre("1.36", "1.40", "1.41", "1.50", "1.53", "1.54", "1.55",
                                             "1.56", "1.61"));
  int previous = 0;
  for (const auto& rung : ladder) {
    EXPECT_GT(rung.version_number, previous) << rung.version;
    previous = rung.version_number;
    std::string digits(rung.version);
    digits.erase(digits.find('.'), 1);
    EXPECT_EQ(std::to_string(rung.version_number), digits);
  }
  EXPECT_EQ(ladder.back().version, kFormatVersion);
  EXPECT_EQ(ladder.back().version_number, kFormatVersionNumber);
}

// A rung that forgot its version write would make the next start offer the same rung again.
TEST(UpgradeLadderTest, EveryRungWritesItsVersionOnceAfterItsLastStatement) {
  for (const auto& rung : UpgradeLadder()) {
    SCOPED_TRACE(std::string(rung.version));
    int writes = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < rung.steps.size(); ++i) {
      if (rung.steps[i].kind == StepKind::kSetVersion) {
        ++writes;
        at = i;
        EXPECT_EQ(rung.steps[i].value, rung.version);
      }
    }
    ASSERT_EQ(writes, 1);
    std::size_t statements_after = 0;
    for (std::size_t i = at + 1; i < rung.steps.size(); ++i) {
      if (rung.steps[i].kind != StepKind::kProgress) ++statements_after;
    }
    // The oldest rung writes its version before its last statement, as it always did.
    EXPECT_EQ(statements_after, rung.version == "1.36" ? 1u : 0u);
  }
}

TEST(UpgradeLadderTest, ProgressRisesToTheFullBar) {
  for (const auto& rung : UpgradeLadder()) {
    SCOPED_TRACE(std::string(rung.version));
    int last = 0;
    bool any = false;
    for (const auto& step : rung.steps) {
      if (step.kind != StepKind::kProgress) continue;
      EXPECT_GT(step.progress, last);
      EXPECT_LE(step.progress, 100);
      last = step.progress;
      any = true;
    }
    if (any) {
      EXPECT_EQ(last, 100);
    }
    EXPECT_EQ(any, rung.version_number >= 153);
  }
}

TEST(UpgradeLadderTest, EntryRungDependsOnTheStartingVersion) {
  const std::map<int, std::optional<std::size_t>> cases = {
      {-1, {}}, {-150, {}}, {0, 0},    {100, 0},  {135, 0},  {136, 1},  {139, 1},  {140, 2},
      {141, 3}, {142, {}},  {149, {}}, {150, 4},  {151, {}}, {152, {}}, {153, 5},  {154, 6},
      {155, 7}, {156, 8},   {157, {}}, {159, {}}, {160, 8},  {161, {}}, {162, {}}, {999, {}},
  };
  for (const auto& [version, rung] : cases) {
    EXPECT_EQ(FirstRung(version), rung) << version;
  }
  // The entry rung of a known version is the rung to the next version up.
  const auto ladder = UpgradeLadder();
  for (std::size_t i = 1; i < ladder.size(); ++i) {
    EXPECT_EQ(FirstRung(ladder[i - 1].version_number), i) << ladder[i - 1].version;
  }
}

TEST(UpgradeLadderTest, ErrorHandlingFollowsEachRung) {
  const auto ladder = UpgradeLadder();
  for (const auto& rung : ladder) {
    SCOPED_TRACE(std::string(rung.version));
    const auto statements = Statements(rung);
    for (std::size_t i = 0; i < statements.size(); ++i) {
      OnError expected = OnError::kStop;
      if (rung.version == "1.55" || rung.version == "1.61") expected = OnError::kIgnore;
      if (rung.version == "1.56") expected = OnError::kIgnoreWhenContinued;
      if (rung.version == "1.50" && i < 6) expected = OnError::kIgnore;
      EXPECT_EQ(statements[i]->on_error, expected) << statements[i]->text;
    }
  }
  const auto& to150 = RungTo(ladder, "1.50");
  EXPECT_EQ(to150.steps[1].kind, StepKind::kStatementIfPreviousFailed);
  EXPECT_EQ(to150.steps[1].text, "ALTER TABLE Document ALTER COLUMN VisibleInFolderID SMALLINT");
  EXPECT_EQ(to150.steps[1].failure_message,
            "Die Spalte VisibleInFolderID konnte nicht ge\xC3\xA4ndert/erzeugt werden.");
  for (std::size_t i = 2; i < to150.steps.size(); ++i) {
    EXPECT_TRUE(to150.steps[i].failure_message.empty());
  }
}

TEST(UpgradeLadderTest, RungTo150RefilesDocumentsAndWritesBothCompatibilities) {
  const auto ladder = UpgradeLadder();
  const auto& rung = RungTo(ladder, "1.50");
  ASSERT_EQ(rung.steps.size(), 20u);
  EXPECT_EQ(rung.steps[14].text, "UPDATE Document SET VisibleInFolderID = FolderID");
  EXPECT_EQ(rung.steps[15].kind, StepKind::kCountedStatement);
  EXPECT_THAT(
      rung.steps[15].text,
      testing::StartsWith("UPDATE Document Set Document.FolderID = 600, "
                          "Document.VisibleInFolderID = 600 FROM Document LEFT OUTER JOIN"));
  EXPECT_EQ(rung.steps[16].kind, StepKind::kRepeatUntilSameCount);
  // Inner and trailing blanks are part of the text.
  EXPECT_THAT(rung.steps[16].text,
              testing::HasSubstr("INNER JOIN Document ParentDoc ON   SubDocument.ParentEntryID"));
  EXPECT_THAT(rung.steps[16].text,
              testing::EndsWith("AND (Document.EntryID > 1)" + std::string(12, ' ')));
  EXPECT_EQ(rung.steps[17].kind, StepKind::kSetCompatibility);
  EXPECT_EQ(rung.steps[17].text, "Compatibility");
  EXPECT_EQ(rung.steps[17].value, "1.50");
  EXPECT_EQ(rung.steps[18].kind, StepKind::kSetCompatibility);
  EXPECT_EQ(rung.steps[18].text, "Quillarchive: Archive Compatibility");
  EXPECT_EQ(rung.steps[18].value, "1.50");
}

TEST(UpgradeLadderTest, StatementTextsSpotChecks) {
  const auto ladder = UpgradeLadder();
  auto text = [&](std::string_view version, std::size_t n) {
    return Statements(RungTo(ladder, version)).at(n)->text;
  };
  EXPECT_THAT(text("1.36", 0), testing::StartsWith("CREATE PROCEDURE dbo.DocsWithCategory "
                                                   "([CategoryID] Long) AS SELECT DISTINCT "));
  EXPECT_EQ(text("1.36", 3), "ALTER TABLE Document ALTER COLUMN Url VARCHAR (4000)");
  EXPECT_EQ(text("1.40", 2), "GRANT SELECT, UPDATE ON SearchFolderView TO qa_reader");
  EXPECT_EQ(text("1.53", 0), "ALTER TABLE Document ADD Status INT DEFAULT 0");
  EXPECT_EQ(text("1.53", 11), "Update Folder SET Status=0");
  EXPECT_EQ(text("1.54", 0),
            "Update Folder SET Status=2 WHERE FolderID=140 OR FolderID=200 OR FolderID=500 OR "
            "FolderID=700");
  EXPECT_EQ(text("1.55", 0), "ALTER TABLE dbo.Document ALTER COLUMN Url NVARCHAR (4000)");
  EXPECT_EQ(text("1.56", 0), "DROP VIEW dbo.SearchFolderView");
  EXPECT_EQ(text("1.56", 1),
            "CREATE VIEW dbo.SearchFolderView WITH VIEW_METADATA AS SELECT Folder.* FROM Folder "
            "INNER JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID Where "
            "(SubFolder.ParentFolderID = 500)");
  EXPECT_EQ(text("1.61", 2), "DROP INDEX Document.IDX_Document1");
  EXPECT_EQ(text("1.61", 3),
            "CREATE INDEX IDX_Document1 ON Document (Url, FileSize, FolderID, VisibleInFolderID)");
  EXPECT_THAT(text("1.61", 0), testing::EndsWith("Where (((Folder.FolderID)=@FolderID)) ORDER BY "
                                                 "Folder.Name"));
}

// Where the ladder creates a procedure with CREATE and the current format has the same text, an
// upgraded collection must end with what a new one gets.
TEST(UpgradeLadderTest, LastCreationOfAProcedureMatchesTheCurrentFormat) {
  const std::regex create_re(R"(^CREATE (?:PROCEDURE|Procedure) (?:dbo\.)?(\w+))");
  std::map<std::string, std::string> last;
  for (const auto& rung : UpgradeLadder()) {
    if (rung.version == "1.36") continue;  // the desktop database's dialect
    for (const auto* step : Statements(rung)) {
      std::smatch m;
      if (std::regex_search(step->text, m, create_re)) last[m[1]] = step->text;
    }
  }
  for (const char* name :
       {"DocByUrl", "DocByUrlSize", "DocWithSub", "DocsInFolder", "DocsWithCategory", "DocCount",
        "FoldersRoot", "InsertSearchFolder", "RemoveSearchFolder", "DeleteDoc", "DeleteFolder"}) {
    ASSERT_TRUE(last.count(name)) << name;
    EXPECT_EQ(last[name], CreationText(name).value()) << name;
  }
  // The installation sends the same scripts as the rung to 1.41.
  const auto script = InstallationScript({"", 0});
  EXPECT_EQ(script[73], last["DeleteDoc"]);
  EXPECT_EQ(script[75], last["DeleteFolder"]);
}

}  // namespace
}  // namespace format
