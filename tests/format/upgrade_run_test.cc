// The upgrade run in its progress window on the sandbox server: what the window shows, which
// versions start no rung, the statements a run sends, how the rung to 1.50 files embedded
// documents, and what a run that stops part-way leaves behind for the next one.
#include "format/upgrade_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "collections/database.h"
#include "format/collection_snapshot.h"
#include "format/format_version.h"
#include "format/names.h"
#include "format/older_layouts.h"
#include "format/sandbox_collection.h"
#include "format/upgrade_collection.h"
#include "format/upgrade_ladder.h"
#include "sandbox/server.h"

namespace format {
namespace {

using testing::AddDocument;
using testing::Embed;
using testing::Integers;
using testing::Number;
using testing::SandboxServer;
using testing::Text;
using testing::UpgradeOptions;
using testing::UpgradeResult;

constexpr char kIntro[] = "The following problem occurred when executing the command:\r";

class UpgradeRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new SandboxServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void TearDown() override { server_->instance().ClearFaults(); }

  static db::Connection Build(OlderLayout layout, const SampleOptions& options = {}) {
    db::Connection collection = server_->NewDatabase("Quillarchive_Run");
    BuildOlderCollection(collection, layout, options);
    return collection;
  }

  static UpgradeResult Run(db::Connection& c, int version_number,
                           const UpgradeOptions& options = {}) {
    return testing::RunUpgrade(*server_, c, version_number, options);
  }

  static void InjectFault(const std::string& pattern, int occurrence, std::int32_t number,
                          const std::string& text) {
    sandbox::ServerMessage error;
    error.number = number;
    error.severity = 16;
    error.text = text;
    server_->instance().InjectFault({pattern, occurrence, error});
  }

  static SandboxServer* server_;
};

SandboxServer* UpgradeRunTest::server_ = nullptr;

std::string Boxes(const UpgradeResult& run) {
  std::string text;
  for (const platform::MessageRequest& box : run.boxes) text += "\n  " + box.text;
  return text;
}

// ---- the window ----

TEST_F(UpgradeRunTest, TheWindowNamesTheCollectionAndFollowsEachRung) {
  db::Connection c = Build(OlderLayout::k150, {.document_count = 2});
  // The name is shown as it is: its quotes, brackets and placeholder are not filled again.
  const UpgradeResult run = Run(c, 150, {.name = "O'Brien [*] \"x\"; --"});
  ASSERT_TRUE(run.completed) << Boxes(run);
  EXPECT_EQ(run.window.caption, "Tessera Server Manager");
  EXPECT_EQ(run.window.lines,
            (std::vector<std::string>{"Updating the collection 'O'Brien [*] \"x\"; --'.",
                                      "Please wait..."}));
  EXPECT_EQ(run.window.maximum, 100);
  // The rungs to 1.53, 1.54, 1.55, 1.56 and 1.61 in turn; the window's first value is the one
  // it opened with.
  EXPECT_EQ(run.window.values,
            (std::vector<int>{0,  10, 20, 30, 40, 50, 60, 70,  75, 80, 90,  100, 50, 100,
                              10, 20, 30, 40, 50, 60, 70, 100, 33, 66, 100, 75,  90, 100}));
  EXPECT_FALSE(run.window.open);
  EXPECT_TRUE(run.boxes.empty());
}

TEST_F(UpgradeRunTest, VersionsWithoutARungSendNothing) {
  db::Connection c = Build(OlderLayout::k156, {.document_count = 0});
  const testing::SchemaSnapshot schema = testing::ReadSchema(c);
  const testing::DataSnapshot data = testing::ReadData(c);
  for (int v : {157, 159, 161, 162, 142, 151, kNotAVersionNumber}) {
    SCOPED_TRACE(v);
    const UpgradeResult run = Run(c, v, {.name = "Upgrade"});
    EXPECT_TRUE(run.completed);
    EXPECT_TRUE(run.statements.empty()) << run.statements.front();
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.window.lines.at(0), "Updating the collection 'Upgrade'.");
    EXPECT_FALSE(run.window.open);
  }
  EXPECT_EQ(testing::Differences(schema, testing::ReadSchema(c)), std::vector<std::string>{});
  EXPECT_EQ(testing::Differences(data, testing::ReadData(c)), std::vector<std::string>{});
}

// A version text that is not a number must not pass for a very old collection: the rung to 1.36
// would be run on a collection of any format.
TEST(UpgradeStartNumberTest, TextsThatAreNoNumberStartNoRung) {
  EXPECT_EQ(UpgradeStartNumber("1.50"), 150);
  EXPECT_EQ(UpgradeStartNumber("1.36"), 136);
  EXPECT_EQ(UpgradeStartNumber("0.99"), 99);
  EXPECT_EQ(FirstRung(UpgradeStartNumber("0.99")), 0u);
  for (const char* text : {"", ".", "..", "abc", "1.5a", "1,50", " 1.50", "1.50 ", "-1.50",
                           "'; DROP TABLE Document --", "[1.50]", "99999999999999999999"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(UpgradeStartNumber(text), kNotAVersionNumber);
    EXPECT_EQ(FirstRung(UpgradeStartNumber(text)), std::nullopt);
  }
}

// ---- the statements ----

TEST_F(UpgradeRunTest, ARunFrom153SendsExactlyTheseStatements) {
  db::Connection c = Build(OlderLayout::k153, {.document_count = 2});
  const UpgradeResult run = Run(c, 153);
  ASSERT_TRUE(run.completed) << Boxes(run);
  const std::vector<std::string> expected = {
      "BEGIN TRANSACTION",
      "Update Folder SET Status=2 WHERE FolderID=140 OR FolderID=200 OR FolderID=500 OR "
      "FolderID=700",
      "UPDATE ExtendedData SET FieldValue='1.54' WHERE EntryID=0 And ExtFieldID=3",
      "COMMIT TRANSACTION",
      "BEGIN TRANSACTION",
      "ALTER TABLE dbo.Document ALTER COLUMN Url NVARCHAR (4000)",
      "DROP PROCEDURE dbo.DocByUrl",
      "CREATE PROCEDURE dbo.DocByUrl @sUrl NVARCHAR(4000) AS SELECT Document.* From Document "
      "WHERE ((Document.Url) = @sUrl);",
      "GRANT EXEC ON dbo.DocByUrl TO qa_reader",
      "DROP PROCEDURE dbo.DocByUrlSize",
      "CREATE PROCEDURE dbo.DocByUrlSize (@sUrl NVARCHAR(4000), @lFileSize INTEGER) AS SELECT "
      "Document.* From Document WHERE (((Document.Url)=@sUrl) AND "
      "((Document.FileSize)=@lFileSize));",
      "GRANT EXEC ON dbo.DocByUrlSize TO qa_reader",
      "UPDATE ExtendedData SET FieldValue='1.55' WHERE EntryID=0 And ExtFieldID=3",
      "COMMIT TRANSACTION",
      "BEGIN TRANSACTION",
      "DROP VIEW dbo.SearchFolderView",
      "CREATE VIEW dbo.SearchFolderView WITH VIEW_METADATA AS SELECT Folder.* FROM Folder INNER "
      "JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID "
      "= 500)",
      "GRANT SELECT, UPDATE ON dbo.SearchFolderView TO qa_reader",
      "UPDATE ExtendedData SET FieldValue='1.56' WHERE EntryID=0 And ExtFieldID=3",
      "COMMIT TRANSACTION",
      "BEGIN TRANSACTION",
      "ALTER PROCEDURE dbo.FolderByID @FolderID INTEGER AS SELECT Folder.*, "
      "SubFolder.ParentFolderID, (SELECT Count(SubFolder_1.ChildFolderID) FROM SubFolder AS "
      "SubFolder_1 WHERE (((SubFolder_1.ParentFolderID)=Folder.FolderID))) AS SubFolderCount, "
      "(SELECT Count(Document.EntryID) FROM Document WHERE "
      "(((Document.VisibleInFolderID)=Folder.FolderID))) AS DocsCount FROM SubFolder RIGHT JOIN "
      "Folder ON SubFolder.ChildFolderID = Folder.FolderID Where (((Folder.FolderID)=@FolderID)) "
      "ORDER BY Folder.Name",
      "ALTER PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, "
      "SubFolder.ParentFolderID, (SELECT COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS "
      "SubFolder_1 WHERE SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT "
      "COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) "
      "AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID "
      "INNER JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE "
      "SubFolder.ParentFolderID = @FolderID ORDER BY Folder.Name",
      "DROP INDEX Document.IDX_Document1",
      "CREATE INDEX IDX_Document1 ON Document (Url, FileSize, FolderID, VisibleInFolderID)",
      "UPDATE ExtendedData SET FieldValue='1.61' WHERE EntryID=0 And ExtFieldID=3",
      "COMMIT TRANSACTION",
  };
  EXPECT_EQ(run.statements, expected);
  EXPECT_EQ(ReadFormatVersion(c), "1.61");
}

// The rung to 1.50 sends its statements in this order; the count of its step 16 no longer
// decides how often the repeated update runs.
TEST_F(UpgradeRunTest, TheRungTo150SendsItsStatementsInOrder) {
  db::Connection c = Build(OlderLayout::k141, {.document_count = 8});
  const UpgradeResult run = testing::RunOneRung(*server_, c, 141);
  const std::string repeated = testing::RepeatedUpdateText();
  const std::vector<std::string> texts = run.RungStatements();
  const std::vector<std::string> expected_start = {
      "ALTER TABLE Document ADD VisibleInFolderID SMALLINT DEFAULT 0",
      "DROP PROCEDURE DocsInFolder",
      "DROP PROCEDURE DocCount",
      "DROP PROCEDURE FoldersRoot",
      "DROP PROCEDURE FoldersSub",
  };
  ASSERT_GE(texts.size(), 20u);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 5), expected_start);
  EXPECT_EQ(texts[5].substr(0, 45), "CREATE PROCEDURE dbo.DocsInFolder @FolderID I");
  EXPECT_EQ(texts[6], "GRANT EXEC ON DocsInFolder TO qa_reader");
  EXPECT_EQ(texts[8], "GRANT EXEC ON DocCount TO qa_reader");
  EXPECT_EQ(texts[10], "GRANT EXEC ON FoldersRoot TO qa_reader");
  EXPECT_EQ(texts[12], "GRANT EXEC ON FoldersSub TO qa_reader");
  EXPECT_EQ(texts[13], "UPDATE Document SET VisibleInFolderID = FolderID");
  EXPECT_EQ(texts[14].substr(0, 60),
            "UPDATE Document Set Document.FolderID = 600, Document.Visibl");
  // 3, 2, 1, 0, 0 rows for the sample's one chain of three frame pages.
  for (int i = 15; i < 20; ++i) EXPECT_EQ(texts[i], repeated) << i;
  EXPECT_NE(texts[20], repeated);
  EXPECT_EQ(run.statements.front(), kBeginRung);
  EXPECT_EQ(run.statements[run.statements.size() - 3],
            "UPDATE ExtendedData SET FieldValue='1.50' WHERE EntryID=0 And ExtFieldID=3");
  EXPECT_EQ(run.statements[run.statements.size() - 2], kCommitRung);
  // The next rung's, refused: no transaction began, so none is rolled back.
  EXPECT_EQ(run.statements.back(), kBeginRung);
  EXPECT_EQ(testing::Text(c,
                          "SELECT FieldValue FROM ExtendedData d INNER JOIN ExtendedField f "
                          "ON f.ExtFieldID = d.ExtFieldID WHERE f.FieldName = 'Compatibility' "
                          "AND d.EntryID = 0"),
            "1.50");
  EXPECT_EQ(Number(c,
                   "SELECT COUNT(*) FROM ExtendedField WHERE FieldName IN ('Compatibility', "
                   "'Quillarchive: Archive Compatibility') AND FieldType = 1 AND Visible = 0 AND "
                   "UserProperty = 0"),
            2);
}

// From the last filing update to the end of the rung to 1.50: both compatibility fields are
// defined and written, then the version, and only then is the rung committed.
TEST_F(UpgradeRunTest, ThePropertyWritesGoInsideTheirRung) {
  db::Connection c = Build(OlderLayout::k141);
  const UpgradeResult run = Run(c, 141);
  ASSERT_TRUE(run.completed) << Boxes(run);
  collections::Database& collection = *run.console->database;
  EXPECT_EQ(collection.GetExtendedProperty(0, 0, kCollectionProperty, "Compatibility"), "1.50");
  EXPECT_EQ(collection.GetExtendedProperty(0, 0, kCollectionProperty,
                                           "Quillarchive: Archive Compatibility"),
            "1.50");

  const std::vector<std::string>& texts = run.statements;
  const auto filing = std::find(texts.rbegin(), texts.rend(), testing::RepeatedUpdateText());
  ASSERT_NE(filing, texts.rend());
  const auto commit = std::find(filing.base(), texts.end(), "COMMIT TRANSACTION");
  ASSERT_NE(commit, texts.end());
  const std::vector<std::string> tail(filing.base(), commit);
  ASSERT_FALSE(tail.empty());
  EXPECT_EQ(tail.front(),
            "SELECT * FROM ExtendedField WHERE FieldName='Compatibility' AND FieldType=1;");
  EXPECT_NE(std::find(tail.begin(), tail.end(),
                      "SELECT * FROM ExtendedField WHERE FieldName='Quillarchive: Archive "
                      "Compatibility' AND FieldType=1;"),
            tail.end());
  EXPECT_EQ(tail.back(),
            "UPDATE ExtendedData SET FieldValue='1.50' WHERE EntryID=0 And ExtFieldID=3");
  EXPECT_EQ(std::count(tail.begin(), tail.end(), "BEGIN TRANSACTION"), 0);
  // The rungs to 1.50, 1.53, 1.54, 1.55, 1.56 and 1.61.
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "BEGIN TRANSACTION"), 6);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "COMMIT TRANSACTION"), 6);
}

// ---- the repeated update of the rung to 1.50 ----

// Older releases compared the repeated update's first count with the count of the statement
// before it; where three unfiled documents met a chain three frames deep, they stopped after one
// level and left the deeper frames in no folder.
TEST_F(UpgradeRunTest, EqualCountsOfTheStatementBeforeDoNotStopTheFiling) {
  db::Connection c = Build(OlderLayout::k141, {.document_count = 0});
  AddDocument(c, 10, kSampleProjectsFolder, 100);
  AddDocument(c, 11, 0, 100);
  AddDocument(c, 12, 0, 100);
  AddDocument(c, 13, 0, 100);
  Embed(c, 10, 11);
  Embed(c, 11, 12);
  Embed(c, 12, 13);
  AddDocument(c, 20, 0, 90);
  AddDocument(c, 21, 0, 110);
  AddDocument(c, 22, 0, 100);

  const UpgradeResult run = Run(c, 141);
  ASSERT_TRUE(run.completed) << Boxes(run);
  EXPECT_EQ(run.RepeatedUpdates(), 5);
  EXPECT_EQ(Integers(c, "SELECT FolderID FROM Document WHERE EntryID >= 10 ORDER BY EntryID"),
            (std::vector<std::int64_t>{1001, 1001, 1001, 1001, 600, 600, 600}));
  EXPECT_EQ(ReadFormatVersion(c), "1.61");
}

// Frames that embed each other never reach a filed page: the count repeats at once and the run
// goes on, leaving them in no folder.
TEST_F(UpgradeRunTest, FramesEmbeddingEachOtherEndTheRepetition) {
  db::Connection c = Build(OlderLayout::k141, {.document_count = 0});
  AddDocument(c, 30, 0, 100);
  AddDocument(c, 31, 0, 100);
  Embed(c, 30, 31);
  Embed(c, 31, 30);
  AddDocument(c, 40, kSampleProjectsFolder, 100);
  AddDocument(c, 41, 0, 100);
  Embed(c, 40, 41);

  const UpgradeResult run = Run(c, 141);
  ASSERT_TRUE(run.completed) << Boxes(run);
  // 3 rows (41 filed), then 2 twice.
  EXPECT_EQ(run.RepeatedUpdates(), 3);
  EXPECT_EQ(Integers(c, "SELECT FolderID FROM Document WHERE EntryID >= 30 ORDER BY EntryID"),
            (std::vector<std::int64_t>{0, 0, 1001, 1001}));
}

TEST_F(UpgradeRunTest, NothingToFileRunsTheRepeatedUpdateOnce) {
  db::Connection c = Build(OlderLayout::k141, {.document_count = 0});
  const UpgradeResult run = Run(c, 141);
  ASSERT_TRUE(run.completed) << Boxes(run);
  EXPECT_EQ(run.RepeatedUpdates(), 1);
}

// ---- failures ----

// Where the column cannot be added nor changed, the administrator is told in German, as the
// desktop application's own messages are, and the run goes on.
TEST_F(UpgradeRunTest, AColumnThatCanBeNeitherAddedNorChangedIsReportedAndTheRunGoesOn) {
  db::Connection c = Build(OlderLayout::k150, {.document_count = 8});
  c.Execute("UPDATE ExtendedData SET FieldValue = '1.41' WHERE EntryID = 0 AND ExtFieldID = 3");
  InjectFault("ALTER COLUMN VisibleInFolderID", 1, 5074,
              "The object 'IDX_Document1' is dependent on column 'VisibleInFolderID'.");

  const UpgradeResult run = Run(c, 141, {.ok_answers = 1});
  EXPECT_TRUE(run.completed) << Boxes(run);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text,
            "Die Spalte VisibleInFolderID konnte nicht ge\xC3\xA4ndert/erzeugt werden.");
  EXPECT_EQ(run.boxes[0].title, "Tessera Server Manager");
  EXPECT_EQ(run.boxes[0].buttons, platform::MessageButtons::kOk);
  EXPECT_EQ(run.boxes[0].icon, platform::MessageIcon::kNone);
  EXPECT_EQ(ReadFormatVersion(c), "1.61");
}

TEST_F(UpgradeRunTest, AFailureIsReportedWithItsDescription) {
  db::Connection c = Build(OlderLayout::k154, {.document_count = 0});
  InjectFault("DROP VIEW", 1, 3701,
              "Cannot drop the view 'dbo.SearchFolderView', because it does not exist in the "
              "system catalog.");
  // Reached through the rung to 1.55 the failure is ignored; entered at 1.56 it ends the run.
  EXPECT_TRUE(Run(c, 154).completed);
  EXPECT_EQ(ReadFormatVersion(c), "1.61");

  c.Execute("UPDATE ExtendedData SET FieldValue = '1.55' WHERE EntryID = 0 AND ExtFieldID = 3");
  InjectFault("DROP VIEW", 1, 3701, "Cannot drop the view 'x'; [brackets] and \"quotes\".");
  const UpgradeResult run = Run(c, 155, {.ok_answers = 1});
  EXPECT_FALSE(run.completed);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text,
            std::string(kIntro) + "Cannot drop the view 'x'; [brackets] and \"quotes\".");
  EXPECT_EQ(run.boxes[0].title, "Tessera Server Manager");
  EXPECT_EQ(run.boxes[0].buttons, platform::MessageButtons::kOk);
  EXPECT_EQ(run.boxes[0].icon, platform::MessageIcon::kCritical);
  EXPECT_FALSE(run.window.open);
  EXPECT_EQ(ReadFormatVersion(c), "1.55");
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM SearchFolderView"), 1);
}

struct MidRungFault {
  OlderLayout layout;
  std::string pattern;
  int occurrence;
  std::string name;
};

void PrintTo(const MidRungFault& fault, std::ostream* out) { *out << fault.name; }

class MidRungFaultTest : public UpgradeRunTest,
                         public ::testing::WithParamInterface<MidRungFault> {};

// A rung that stops part-way leaves the collection as the rung before left it, and a second run
// completes the upgrade as if nothing had happened.
TEST_P(MidRungFaultTest, KeepsThePreviousVersionAndASecondRunCompletes) {
  const MidRungFault& fault = GetParam();
  db::Connection c = Build(fault.layout);
  const std::string version(LayoutVersion(fault.layout));
  const testing::SchemaSnapshot schema = testing::ReadSchema(c);
  const testing::DataSnapshot data = testing::ReadData(c);

  InjectFault(fault.pattern, fault.occurrence, 1105,
              "Could not allocate space for object 'Document' in database 'Quillarchive_Run' "
              "because the 'PRIMARY' filegroup is full.");
  const UpgradeResult stopped = Run(c, LayoutVersionNumber(fault.layout), {.ok_answers = 1});
  EXPECT_FALSE(stopped.completed);
  ASSERT_EQ(stopped.boxes.size(), 1u);
  EXPECT_EQ(stopped.boxes[0].text, std::string(kIntro) +
                                       "Could not allocate space for object 'Document' in "
                                       "database 'Quillarchive_Run' because the 'PRIMARY' "
                                       "filegroup is full.");
  EXPECT_EQ(stopped.statements.back(), kRollbackRung);
  db::Connection own = stopped.CollectionConnection();
  EXPECT_EQ(Number(own, "SELECT @@TRANCOUNT"), 0);
  EXPECT_EQ(ReadFormatVersion(c), version);
  EXPECT_EQ(testing::Differences(schema, testing::ReadSchema(c)), std::vector<std::string>{});
  EXPECT_EQ(testing::Differences(data, testing::ReadData(c)), std::vector<std::string>{});

  const UpgradeResult second = Run(c, LayoutVersionNumber(fault.layout));
  EXPECT_TRUE(second.completed) << Boxes(second);
  EXPECT_EQ(ReadFormatVersion(c), "1.61");

  db::Connection clean = Build(fault.layout);
  ASSERT_TRUE(Run(clean, LayoutVersionNumber(fault.layout)).completed);
  EXPECT_EQ(testing::Differences(testing::ReadSchema(c), testing::ReadSchema(clean)),
            std::vector<std::string>{});
  EXPECT_EQ(testing::Differences(testing::ReadData(c), testing::ReadData(clean)),
            std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Rungs, MidRungFaultTest,
    ::testing::Values(
        // Rights, a view and procedures made, the last right refused.
        MidRungFault{OlderLayout::k136, "ON ExtendedData TO qa_reader", 1, "To140LastGrant"},
        MidRungFault{OlderLayout::k140, "CREATE PROCEDURE dbo.DocWithSub", 1, "To141Procedure"},
        // The column added and documents refiled when the filing stops.
        MidRungFault{OlderLayout::k141, "INNER JOIN Document ParentDoc", 2, "To150Filing"},
        // The compatibility field cannot be defined: its write is swallowed, yet seen.
        MidRungFault{OlderLayout::k141, "INSERT INTO ExtendedField", 1, "To150Compatibility"},
        MidRungFault{OlderLayout::k150, "Update Folder SET Icon=0", 1, "To153Update"},
        // The collection object swallows the error of a version it could not write; committed
        // without it, the rung would stop every later run at its first ALTER TABLE.
        MidRungFault{OlderLayout::k150, "FieldValue='1.53'", 1, "To153VersionWrite"},
        // Entered at 1.56 its errors end the run: the view dropped a moment before is back.
        MidRungFault{OlderLayout::k155, "CREATE VIEW dbo.SearchFolderView", 1, "To156View"}),
    [](const ::testing::TestParamInfo<MidRungFault>& info) { return info.param.name; });

// The server ends the session in the middle of a rung: what the rung did is gone with it, and
// the next run, on a new connection, completes the upgrade.
TEST_F(UpgradeRunTest, ALostConnectionInTheMiddleOfARungLosesNothing) {
  db::Connection c = Build(OlderLayout::k150);
  const testing::SchemaSnapshot schema = testing::ReadSchema(c);
  const testing::DataSnapshot data = testing::ReadData(c);
  const std::string database = Text(c, "SELECT DB_NAME()");
  int spid = 0;
  bool dropped = false;
  UpgradeOptions options;
  options.ok_answers = 1;
  options.before = [&](db::Connection& own) {
    spid = static_cast<int>(Number(own, "SELECT @@SPID"));
  };
  options.at_progress = [&](int value) {
    // After the rung to 1.53 dropped DocsInFolder.
    if (value == 50 && !dropped) dropped = server_->instance().DropSession(spid);
  };
  const UpgradeResult stopped = Run(c, 150, options);
  ASSERT_TRUE(dropped);
  EXPECT_FALSE(stopped.completed);
  ASSERT_EQ(stopped.boxes.size(), 1u);
  EXPECT_EQ(stopped.boxes[0].text,
            std::string(kIntro) +
                "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your network "
                "documentation.");

  db::Connection again = server_->Open(database);
  EXPECT_EQ(ReadFormatVersion(again), "1.50");
  EXPECT_EQ(testing::Differences(schema, testing::ReadSchema(again)), std::vector<std::string>{});
  EXPECT_EQ(testing::Differences(data, testing::ReadData(again)), std::vector<std::string>{});

  const UpgradeResult second = Run(again, 150);
  EXPECT_TRUE(second.completed) << Boxes(second);
  EXPECT_EQ(ReadFormatVersion(again), "1.61");
  EXPECT_EQ(Number(again, "SELECT COUNT(*) FROM sysobjects WHERE name = 'DocsInFolder'"), 1);
  EXPECT_EQ(Number(again, "SELECT COUNT(Status) FROM Document"),
            Number(again, "SELECT COUNT(*) FROM Document"));
}

}  // namespace
}  // namespace format
