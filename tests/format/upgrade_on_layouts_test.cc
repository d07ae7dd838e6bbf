// The upgrade run on collections of every older layout on the sandbox server: every rung leaves
// what the next layout has, every run ends at the current format with nothing lost, and every
// procedure answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "db/command.h"
#include "format/collection_snapshot.h"
#include "format/format_version.h"
#include "format/install_script.h"
#include "format/names.h"
#include "format/older_layouts.h"
#include "format/sandbox_collection.h"
#include "format/template_document.h"
#include "format/upgrade_collection.h"
#include "format/upgrade_ladder.h"
#include "format/upgrade_run.h"
#include "sandbox/server.h"

namespace format {
namespace {

using testing::AddDocument;
using testing::Embed;
using testing::Integers;
using testing::Number;
using testing::Query;
using testing::SandboxServer;
using testing::Text;
using testing::UpgradeResult;

class UpgradeOnLayoutsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new SandboxServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  static db::Connection Build(OlderLayout layout, const SampleOptions& options = {}) {
    db::Connection collection = server_->NewDatabase("Quillarchive_Upgrade");
    BuildOlderCollection(collection, layout, options);
    return collection;
  }

  // A new collection of the current format, as creation installs it.
  static db::Connection Fresh() {
    db::Connection collection = server_->NewDatabase("Quillarchive_Fresh");
    for (const std::string& statement :
         InstallationScript({"{6B29FC40-CA47-1067-B31D-00DD010662DA}", 37564})) {
      collection.Execute(statement);
    }
    db::Recordset rs;
    rs.SetCursorLocation(db::kUseClient);
    rs.Open("Document", collection, db::kOpenStatic, db::kLockOptimistic, db::kCmdTable);
    rs.AddNew();
    for (const TemplateColumn& column :
         TemplateDocumentColumns(1252, common::DateTime{2002, 11, 4, 9, 30})) {
      if (column.append_chunk) {
        rs.Fields(column.name).AppendChunk(column.value);
      } else {
        rs.Fields(column.name).SetValue(column.value);
      }
    }
    rs.Update();
    rs.Close();
    return collection;
  }

  void TearDown() override { server_->instance().ClearFaults(); }

  static UpgradeResult Run(db::Connection& c, int version_number, int ok_answers = 0) {
    return testing::RunUpgrade(*server_, c, version_number, {.ok_answers = ok_answers});
  }

  static UpgradeResult RunOneRung(db::Connection& c, int version_number) {
    return testing::RunOneRung(*server_, c, version_number);
  }

  static SandboxServer* server_;
};

SandboxServer* UpgradeOnLayoutsTest::server_ = nullptr;

std::string CollectionProperty(db::Connection& c, const std::string& name) {
  return Text(c,
              "SELECT d.FieldValue FROM ExtendedData d INNER JOIN ExtendedField f ON "
              "f.ExtFieldID = d.ExtFieldID WHERE d.EntryID = 0 AND f.FieldType = 1 AND "
              "f.FieldName = N'" +
                  name + "'");
}

std::vector<std::string> Versions(std::size_t from) {
  std::vector<std::string> versions;
  const std::vector<UpgradeRung> ladder = UpgradeLadder();
  for (std::size_t i = from; i < ladder.size(); ++i) versions.emplace_back(ladder[i].version);
  return versions;
}

// The versions the run wrote, in order, read from the statements it sent.
std::vector<std::string> VersionsWritten(const UpgradeResult& run) {
  const std::string prefix = "UPDATE ExtendedData SET FieldValue='";
  const std::string suffix = "' WHERE EntryID=0 And ExtFieldID=3";
  std::vector<std::string> versions;
  for (const std::string& text : run.statements) {
    if (text.size() > prefix.size() + suffix.size() && text.starts_with(prefix) &&
        text.ends_with(suffix)) {
      versions.push_back(text.substr(prefix.size(), text.size() - prefix.size() - suffix.size()));
    }
  }
  return versions;
}

std::string Boxes(const UpgradeResult& run) {
  std::string text;
  for (const platform::MessageRequest& box : run.boxes) text += "\n  " + box.text;
  return text;
}

// Columns whose content no rung may change.
const std::vector<std::string> kDocumentContent = {
    "EntryID",          "UniqueID",  "Url",        "TypeID",
    "CodePage",         "FileSize",  "Title",      "Content",
    "BinaryContent",    "PlainText", "Filename",   "CreationTime",
    "FileModifiedDate", "Comment",   "Importance", "BinaryData",
    "Categories"};
const std::vector<std::string> kFolderContent = {
    "FolderID", "Name", "FolderType", "Comment", "CreationTime", "Expanded", "Virtual"};

// ---- the procedures on the sample, after the upgrade ----

std::set<std::int64_t> AsSet(const std::vector<std::int64_t>& values) {
  return {values.begin(), values.end()};
}

bool HasColumn(db::Connection& c, const std::string& sql, const std::string& name) {
  const std::vector<std::string> names = testing::ColumnNames(c, sql);
  return std::find(names.begin(), names.end(), name) != names.end();
}

void ExpectProceduresAnswer(db::Connection& c) {
  // The sample's chains: pages that embed and are not embedded.
  const std::vector<std::int64_t> roots =
      Integers(c,
               "SELECT DISTINCT ParentEntryID FROM SubDocument WHERE ParentEntryID NOT IN (SELECT "
               "ChildEntryID FROM SubDocument) ORDER BY ParentEntryID");
  ASSERT_GE(roots.size(), 2u);
  const std::string root0 = std::to_string(roots[0]);
  const std::string root1 = std::to_string(roots[1]);
  const std::int64_t frame0 =
      Number(c, "SELECT ChildEntryID FROM SubDocument WHERE ParentEntryID = " + root0);
  const std::int64_t image0 = Number(
      c, "SELECT ChildEntryID FROM SubDocument WHERE ParentEntryID = " + root1 +
             " AND ChildEntryID IN (SELECT ChildEntryID FROM SubDocument WHERE ParentEntryID <> " +
             root1 + ")");
  ASSERT_GT(image0, 0);

  // Documents.
  EXPECT_EQ(Integers(c, "EXEC DocByID " + root0), std::vector<std::int64_t>{roots[0]});
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document WHERE EntryID = " + root0), 1);
  testing::Rows by_id = Query(c, "EXEC DocByID " + root1);
  ASSERT_EQ(by_id.size(), 1u);
  EXPECT_EQ(by_id[0].back().ToInt(), 2) << "SubDocsCount: a frame and the shared image";
  EXPECT_EQ(AsSet(Integers(c, "EXEC DocWithSub " + root1)),
            AsSet(Integers(c, "SELECT " + root1 +
                                  " UNION SELECT ChildEntryID FROM SubDocument WHERE "
                                  "ParentEntryID = " +
                                  root1)));
  EXPECT_EQ(Integers(c, "EXEC DocWithSub " + root1).front(), roots[1]);
  EXPECT_EQ(Integers(c, "EXEC DocsSub " + root0), std::vector<std::int64_t>{frame0});

  const testing::Rows longest =
      Query(c, "SELECT TOP 1 EntryID, Url, FileSize FROM Document ORDER BY LEN(Url) DESC");
  ASSERT_EQ(longest.size(), 1u);
  const std::string url = longest[0][1].ToText();
  ASSERT_GT(url.size(), 255u);
  const std::string size = longest[0][2].ToText();
  EXPECT_EQ(Integers(c, "EXEC DocByUrl N'" + url + "'"),
            std::vector<std::int64_t>{*longest[0][0].ToInt()});
  EXPECT_EQ(Integers(c, "EXEC DocByUrlSize N'" + url + "', " + size),
            std::vector<std::int64_t>{*longest[0][0].ToInt()});
  EXPECT_TRUE(Integers(c, "EXEC DocByUrlSize N'" + url + "', " + size + "1").empty());

  const std::string projects = std::to_string(kSampleProjectsFolder);
  const std::vector<std::int64_t> visible =
      Integers(c, "SELECT EntryID FROM Document WHERE VisibleInFolderID = " + projects);
  ASSERT_FALSE(visible.empty());
  EXPECT_EQ(AsSet(Integers(c, "EXEC DocsInFolder " + projects)), AsSet(visible));
  EXPECT_TRUE(HasColumn(c, "EXEC DocsInFolder " + projects, "Status"));
  EXPECT_EQ(AsSet(Integers(c, "EXEC DocsWithCategory 2")),
            AsSet(Integers(c, "SELECT EntryID FROM DocCategory WHERE CategoryID = 2")));
  EXPECT_TRUE(HasColumn(c, "EXEC DocsWithCategory 2", "Icon"));
  EXPECT_EQ(Number(c, "EXEC DocCount"),
            Number(c,
                   "SELECT COUNT(*) FROM Document WHERE VisibleInFolderID > 1000 OR "
                   "VisibleInFolderID IN (400, 600)"));

  // Folders. Frame pages are filed with their page but shown in no folder, so counting what is
  // shown and what is filed differ here.
  const std::int64_t shown = static_cast<std::int64_t>(visible.size());
  ASSERT_GT(Number(c, "SELECT COUNT(*) FROM Document WHERE FolderID = " + projects), shown);
  testing::Rows folder = Query(c, "EXEC FolderByID " + projects);
  ASSERT_EQ(folder.size(), 1u);
  const std::vector<std::string> folder_columns = testing::ColumnNames(c, "EXEC FolderByID 1");
  auto at = [&](const std::string& name) {
    return std::find(folder_columns.begin(), folder_columns.end(), name) - folder_columns.begin();
  };
  EXPECT_EQ(folder[0][at("ParentFolderID")].ToInt(), kRootFolder);
  EXPECT_EQ(folder[0][at("SubFolderCount")].ToInt(), 1);
  EXPECT_EQ(folder[0][at("DocsCount")].ToInt(), shown);
  EXPECT_EQ(Integers(c, "EXEC FoldersRoot"),
            (std::vector<std::int64_t>{kSampleHostileFolder, kSampleProjectsFolder,
                                       kSampleVirtualFolder}));
  EXPECT_EQ(Integers(c, "EXEC FoldersOpen"),
            (std::vector<std::int64_t>{kSampleHostileFolder, kSampleProjectsFolder,
                                       kSampleYearFolder, kSampleVirtualFolder}));
  EXPECT_EQ(Integers(c, "EXEC FoldersSub " + projects),
            std::vector<std::int64_t>{kSampleYearFolder});
  EXPECT_TRUE(HasColumn(c, "EXEC FoldersSub " + projects, "SubFolderCount"));
  EXPECT_EQ(Number(c, "EXEC FolderCount"), 5);
  EXPECT_EQ(Integers(c, "EXEC CategoriesSub 1"),
            (std::vector<std::int64_t>{kSampleLetterCategory, kSampleInvoiceCategory}));
  EXPECT_EQ(Integers(c, "EXEC CategoriesSub 2"), std::vector<std::int64_t>{kSampleYearCategory});

  // Search folders.
  EXPECT_EQ(Number(c,
                   "DECLARE @id SMALLINT EXEC InsertSearchFolder 'Neue Suche ''[x]''; --', @id "
                   "OUTPUT SELECT @id"),
            kSampleSearchFolder + 1);
  EXPECT_EQ(Integers(c, "SELECT FolderID FROM SearchFolderView ORDER BY FolderID"),
            (std::vector<std::int64_t>{kSampleSearchFolder, kSampleSearchFolder + 1}));
  EXPECT_EQ(Number(c, "SELECT COUNT(Icon) + COUNT(Status) FROM SearchFolderView"), 4);
  c.Execute("EXEC RemoveSearchFolder " + projects);  // not a search folder: nothing happens
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Folder WHERE FolderID = " + projects), 1);
  c.Execute("EXEC RemoveSearchFolder " + std::to_string(kSampleSearchFolder));
  EXPECT_EQ(Integers(c, "SELECT FolderID FROM SearchFolderView"),
            std::vector<std::int64_t>{kSampleSearchFolder + 1});
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM ExtendedData WHERE EntryID = " +
                          std::to_string(kSampleSearchFolder)),
            0);

  // Deleting: the shared image stays with the page that still embeds it.
  c.Execute("EXEC DeleteDoc " + root0);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document WHERE EntryID IN (" + root0 + ", " +
                          std::to_string(frame0) + ")"),
            0);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document WHERE EntryID = " + std::to_string(image0)),
            1);
  EXPECT_EQ(
      Number(c, "SELECT COUNT(*) FROM SubDocument WHERE ChildEntryID = " + std::to_string(image0)),
      1);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM DocCategory WHERE EntryID = " + root0), 0);
  c.Execute("EXEC DeleteDoc 1");
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document WHERE EntryID = 1"), 1);

  c.Execute("EXEC DeleteFolder " + projects);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Folder WHERE FolderID IN (1001, 1002)"), 0);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document WHERE FolderID IN (1001, 1002)"), 0);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM SubFolder WHERE ChildFolderID IN (1001, 1002)"), 0);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document WHERE EntryID = 1"), 1);
  EXPECT_EQ(Number(c, "SELECT @@TRANCOUNT"), 0);
}

// The rights the sandbox loses where the last rung alters a procedure: it drops a procedure's
// rights on ALTER PROCEDURE, where SQL Server keeps them (TheAlteredProceduresKeepTheirRights).
std::vector<std::string> EngineDroppedRights(db::Connection& c) {
  std::vector<std::string> dropped;
  const std::set<std::string> grants = testing::ReadSchema(c).grants;
  for (const char* procedure : {"FolderByID", "FoldersSub"}) {
    const std::string right = std::string(procedure) + " qa_reader 224 205";
    if (!grants.count(right)) dropped.push_back("right only in the second: " + right);
  }
  return dropped;
}

// ---- runs ----

TEST_F(UpgradeOnLayoutsTest, BelowTheFirstRungTheDesktopDialectEndsTheRun) {
  db::Connection c = Build(OlderLayout::k130);
  const testing::SchemaSnapshot schema = testing::ReadSchema(c);
  const testing::DataSnapshot data = testing::ReadData(c);

  const UpgradeResult run = Run(c, 130, 1);
  EXPECT_FALSE(run.completed);
  ASSERT_EQ(run.statements.size(), 3u);
  EXPECT_EQ(run.statements[0], kBeginRung);
  EXPECT_EQ(run.statements[1], UpgradeLadder()[0].steps[0].text);
  EXPECT_EQ(run.statements[2], kRollbackRung);
  ASSERT_EQ(run.boxes.size(), 1u);
  const std::string intro = "The following problem occurred when executing the command:\r";
  EXPECT_TRUE(run.boxes[0].text.starts_with(intro)) << run.boxes[0].text;
  EXPECT_NE(run.boxes[0].text.find("Incorrect syntax near 'CategoryID'."), std::string::npos)
      << run.boxes[0].text;
  EXPECT_EQ(run.boxes[0].title, "Tessera Server Manager");
  EXPECT_TRUE(VersionsWritten(run).empty());

  EXPECT_EQ(ReadFormatVersion(c), "1.30");
  EXPECT_EQ(testing::Differences(schema, testing::ReadSchema(c)), std::vector<std::string>{});
  EXPECT_EQ(testing::Differences(data, testing::ReadData(c)), std::vector<std::string>{});
}

class LadderFromLayoutTest : public UpgradeOnLayoutsTest,
                             public ::testing::WithParamInterface<OlderLayout> {};

TEST_P(LadderFromLayoutTest, ReachesTheCurrentFormatKeepingEverything) {
  const int v = LayoutVersionNumber(GetParam());
  db::Connection c = Build(GetParam());
  const testing::DataOptions content{
      .document_columns = kDocumentContent,
      .folder_columns = kFolderContent,
      .skip_fields = {std::string(kArchiveVersionName), std::string(kLegacyCompatibilityName),
                      std::string(kArchiveCompatibilityName)}};
  const testing::DataSnapshot before = testing::ReadData(c, content);
  const std::vector<std::int64_t> unfiled =
      Integers(c,
               "SELECT EntryID FROM Document WHERE FolderID = 0 AND EntryID > 1 AND EntryID NOT IN "
               "(SELECT ChildEntryID FROM SubDocument)");
  const testing::Rows filing =
      Query(c, v >= 150 ? "SELECT EntryID, FolderID, VisibleInFolderID FROM Document ORDER BY "
                          "EntryID"
                        : "SELECT 0");

  const UpgradeResult run = Run(c, v);
  EXPECT_TRUE(run.completed) << Boxes(run);
  EXPECT_TRUE(run.boxes.empty()) << Boxes(run);
  EXPECT_EQ(VersionsWritten(run), Versions(*FirstRung(v)));

  // Every rung committed: another connection sees the end of the run.
  db::Connection own = run.CollectionConnection();
  EXPECT_EQ(Number(own, "SELECT @@TRANCOUNT"), 0);
  db::Connection other = server_->Open(Text(c, "SELECT DB_NAME()"));
  EXPECT_EQ(ReadFormatVersion(other), "1.61");
  other.Close();
  EXPECT_EQ(ReadFormatVersion(c), "1.61");
  EXPECT_EQ(CollectionProperty(c, std::string(kArchiveCompatibilityName)), "1.50");
  EXPECT_EQ(CollectionProperty(c, std::string(kLegacyCompatibilityName)), "1.50");
  EXPECT_EQ(Number(c,
                   "SELECT COUNT(*) FROM ExtendedField WHERE FieldName IN ('Compatibility', "
                   "'Quillarchive: Archive Compatibility')"),
            2);

  // Nothing lost or changed but where documents are filed.
  EXPECT_EQ(testing::Differences(before, testing::ReadData(c, content)),
            std::vector<std::string>{});
  if (v >= 150) {
    EXPECT_EQ(
        Query(c, "SELECT EntryID, FolderID, VisibleInFolderID FROM Document ORDER BY EntryID"),
        filing);
  } else {
    ASSERT_FALSE(unfiled.empty());
    for (std::int64_t id : unfiled) {
      EXPECT_EQ(Number(c, "SELECT FolderID FROM Document WHERE EntryID = " + std::to_string(id)),
                kDeletedDocumentsFolder);
    }
    // Top-level documents are shown where they are filed; embedded ones nowhere, frame pages
    // filed with their page.
    EXPECT_EQ(Number(c,
                     "SELECT COUNT(*) FROM Document WHERE EntryID > 1 AND EntryID NOT IN (SELECT "
                     "ChildEntryID FROM SubDocument) AND (VisibleInFolderID <> FolderID OR "
                     "FolderID = 0)"),
              0);
    EXPECT_EQ(Number(c,
                     "SELECT COUNT(*) FROM Document WHERE EntryID IN (SELECT ChildEntryID FROM "
                     "SubDocument) AND (VisibleInFolderID <> 0 OR (TypeID = 100 AND FolderID = "
                     "0) OR (TypeID <> 100 AND FolderID <> 0))"),
              0);
  }
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document WHERE Status IS NULL OR Status <> 0"), 0);
  EXPECT_EQ(Integers(c, "SELECT FolderID FROM Folder WHERE Status = 2 ORDER BY FolderID"),
            (std::vector<std::int64_t>{140, 200, 500, 700}));

  // The objects, columns and rights of a new collection, but for a Url the index kept narrow.
  db::Connection fresh = Fresh();
  std::vector<std::string> expected = EngineDroppedRights(c);
  if (v <= 154) {
    testing::SchemaSnapshot upgraded = testing::WithTableColumnsSorted(testing::ReadSchema(c));
    auto& document = upgraded.columns["Document"];
    std::replace(document.begin(), document.end(), std::string("Url varchar(4000) not null"),
                 std::string("Url nvarchar(4000) not null"));
    std::sort(document.begin(), document.end());
    EXPECT_EQ(
        testing::Differences(upgraded, testing::WithTableColumnsSorted(testing::ReadSchema(fresh))),
        expected);
    EXPECT_EQ(Number(c,
                     "SELECT COUNT(*) FROM syscolumns c INNER JOIN sysobjects o ON o.id = c.id "
                     "WHERE o.name = 'Document' AND c.name = 'Url' AND c.typename = 'varchar'"),
              1);
  } else {
    EXPECT_EQ(testing::Differences(testing::WithTableColumnsSorted(testing::ReadSchema(c)),
                                   testing::WithTableColumnsSorted(testing::ReadSchema(fresh))),
              expected);
  }

  ExpectProceduresAnswer(c);

  // The document index covers VisibleInFolderID now: its type cannot change under it.
  db::Command probe;
  probe.SetActiveConnection(c);
  probe.SetCommandText("ALTER TABLE Document ALTER COLUMN VisibleInFolderID INT");
  try {
    probe.Execute();
    ADD_FAILURE() << "VisibleInFolderID is in no index";
  } catch (const db::Error& error) {
    EXPECT_EQ(error.native_error(), 5074);
    EXPECT_NE(error.description().find("IDX_Document1"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LadderFromLayoutTest,
                         ::testing::Values(OlderLayout::k136, OlderLayout::k140, OlderLayout::k141,
                                           OlderLayout::k150, OlderLayout::k153, OlderLayout::k154,
                                           OlderLayout::k155, OlderLayout::k156),
                         [](const ::testing::TestParamInfo<OlderLayout>& info) {
                           std::string name = "From" + std::string(LayoutVersion(info.param));
                           name.erase(std::remove(name.begin(), name.end(), '.'), name.end());
                           return name;
                         });

// One rung on layout X leaves what layout X+1 has: the layouts are what the ladder expects.
class OneRungTest : public UpgradeOnLayoutsTest,
                    public ::testing::WithParamInterface<OlderLayout> {};

TEST_P(OneRungTest, LeavesWhatTheNextLayoutHas) {
  const std::vector<OlderLayout> layouts = OlderLayouts();
  const auto here = std::find(layouts.begin(), layouts.end(), GetParam());
  ASSERT_NE(here + 1, layouts.end());
  const OlderLayout next = *(here + 1);
  const int v = LayoutVersionNumber(GetParam());
  SCOPED_TRACE(std::string(LayoutVersion(GetParam())) + " to " + std::string(LayoutVersion(next)));

  db::Connection upgraded = Build(GetParam());
  const UpgradeResult run = RunOneRung(upgraded, v);
  EXPECT_EQ(VersionsWritten(run), std::vector<std::string>{std::string(LayoutVersion(next))});
  EXPECT_EQ(ReadFormatVersion(upgraded), LayoutVersion(next));
  db::Connection built = Build(next);

  testing::SchemaSnapshot schema = testing::ReadSchema(upgraded);
  if (next == OlderLayout::k155) {
    auto& document = schema.columns["Document"];
    std::replace(document.begin(), document.end(), std::string("Url varchar(4000) not null"),
                 std::string("Url nvarchar(4000) not null"));
  }
  EXPECT_EQ(testing::Differences(schema, testing::ReadSchema(built)), std::vector<std::string>{});

  // The plain-text generation, not the ladder, stores the text anew after 1.50.
  testing::DataOptions options;
  if (next == OlderLayout::k153) {
    options.skip_document_columns = {"Content", "BinaryContent", "BinaryData", "PlainText"};
    options.skip_fields = {std::string(kSearchInPlainTextName)};
  }
  EXPECT_EQ(
      testing::Differences(testing::ReadData(upgraded, options), testing::ReadData(built, options)),
      std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Layouts, OneRungTest,
                         ::testing::Values(OlderLayout::k136, OlderLayout::k140, OlderLayout::k141,
                                           OlderLayout::k150, OlderLayout::k153, OlderLayout::k154,
                                           OlderLayout::k155),
                         [](const ::testing::TestParamInfo<OlderLayout>& info) {
                           std::string name = "From" + std::string(LayoutVersion(info.param));
                           name.erase(std::remove(name.begin(), name.end(), '.'), name.end());
                           return name;
                         });

TEST_F(UpgradeOnLayoutsTest, TheAlteredProceduresKeepTheirRights) {
  db::Connection c = Build(OlderLayout::k156, {.document_count = 0});
  const std::set<std::string> before = testing::ReadSchema(c).grants;
  ASSERT_EQ(before.count("FolderByID qa_reader 224 205"), 1u);
  ASSERT_EQ(before.count("FoldersSub qa_reader 224 205"), 1u);
  const UpgradeResult run = Run(c, 156);
  ASSERT_TRUE(run.completed) << Boxes(run);
  if (!EngineDroppedRights(c).empty()) {
    GTEST_SKIP() << "sandbox engine: ALTER PROCEDURE drops the procedure's GRANTs (SQL Server "
                    "keeps them), so qa_reader loses EXEC on FolderByID and FoldersSub";
  }
  EXPECT_EQ(testing::ReadSchema(c).grants, before);
}

// ---- the rung to 1.50 ----

TEST_F(UpgradeOnLayoutsTest, TheRepeatedUpdateFilesOneLevelOfFramesPerExecution) {
  db::Connection c = Build(OlderLayout::k141, {.document_count = 0});
  // A page in a user folder embedding frames three deep, the last embedding an image, and a
  // document filed nowhere.
  AddDocument(c, 10, kSampleProjectsFolder, 100);
  AddDocument(c, 11, 0, 100);
  AddDocument(c, 12, 0, 100);
  AddDocument(c, 13, 0, 100);
  AddDocument(c, 14, 0, 110);
  AddDocument(c, 15, 0, 90);
  Embed(c, 10, 11);
  Embed(c, 11, 12);
  Embed(c, 12, 13);
  Embed(c, 13, 14);

  const UpgradeResult run = RunOneRung(c, 141);
  // Every frame still in folder 0 takes its parent's folder, which is itself 0 until the level
  // above has been filed: 3, 2, 1, 0 and 0 rows; the repetition ends when the count repeats.
  EXPECT_EQ(run.RepeatedUpdates(), 5);
  EXPECT_EQ(Integers(c, "SELECT FolderID FROM Document WHERE EntryID >= 10 ORDER BY EntryID"),
            (std::vector<std::int64_t>{1001, 1001, 1001, 1001, 0, 600}));
  EXPECT_EQ(Integers(c,
                     "SELECT VisibleInFolderID FROM Document WHERE EntryID >= 10 ORDER BY "
                     "EntryID"),
            (std::vector<std::int64_t>{1001, 0, 0, 0, 0, 600}));
  EXPECT_EQ(ReadFormatVersion(c), "1.50");
}

TEST_F(UpgradeOnLayoutsTest, TheRepeatedUpdateCountsFollowTheSampleChains) {
  for (int count : {8, 24, 40}) {
    SCOPED_TRACE(count);
    db::Connection c = Build(OlderLayout::k141, {.document_count = count});
    const UpgradeResult run = RunOneRung(c, 141);
    // Three frame levels in every chain: 3, 2 and 1 rows per chain, then none twice.
    EXPECT_EQ(run.RepeatedUpdates(), 5);
    EXPECT_EQ(Number(c,
                     "SELECT COUNT(*) FROM Document d INNER JOIN SubDocument s ON s.ChildEntryID = "
                     "d.EntryID WHERE d.TypeID = 100 AND d.FolderID = 0"),
              0);
  }
}

// Steps 1 to 6 ignore their errors: a collection that has the column already, or lacks a
// procedure the rung drops, still goes up.
TEST_F(UpgradeOnLayoutsTest, TheRungTo150GoesOnWhereItsFirstStepsFail) {
  db::Connection c = Build(OlderLayout::k150);
  c.Execute("DROP PROCEDURE DocCount");
  c.Execute("UPDATE ExtendedData SET FieldValue = '1.41' WHERE EntryID = 0 AND ExtFieldID = 3");

  const UpgradeResult run = RunOneRung(c, 141);
  // The column was there: it is set to its type instead, and nothing but the next rung's
  // failure to begin is shown.
  const std::vector<std::string> texts = run.RungStatements();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0], "ALTER TABLE Document ADD VisibleInFolderID SMALLINT DEFAULT 0");
  EXPECT_EQ(texts[1], "ALTER TABLE Document ALTER COLUMN VisibleInFolderID SMALLINT");
  EXPECT_EQ(texts[2], "DROP PROCEDURE DocsInFolder");
  EXPECT_NE(std::find(texts.begin(), texts.end(), "GRANT EXEC ON DocCount TO qa_reader"),
            texts.end());
  EXPECT_NE(run.boxes[0].text.find("Lock request time out"), std::string::npos) << Boxes(run);
  EXPECT_EQ(ReadFormatVersion(c), "1.50");
  EXPECT_EQ(Number(c, "EXEC DocCount"),
            Number(c,
                   "SELECT COUNT(*) FROM Document WHERE VisibleInFolderID > 1000 OR "
                   "VisibleInFolderID IN (400, 600)"));
}

// Entered at 1.56 the rung's errors are not trapped: a collection without the view stays at
// 1.55 and nothing after the failing statement runs.
TEST_F(UpgradeOnLayoutsTest, AMissingViewEndsARunThatStartsAt155) {
  db::Connection c = Build(OlderLayout::k155);
  c.Execute("DROP VIEW SearchFolderView");

  const UpgradeResult run = Run(c, 155, 1);
  EXPECT_FALSE(run.completed);
  EXPECT_EQ(run.statements,
            (std::vector<std::string>{std::string(kBeginRung), "DROP VIEW dbo.SearchFolderView",
                                      std::string(kRollbackRung)}));
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find("SearchFolderView"), std::string::npos) << Boxes(run);
  EXPECT_EQ(ReadFormatVersion(c), "1.55");

  // Coming through the rung to 1.55 the same failure is ignored and the run ends at 1.61.
  db::Connection through = Build(OlderLayout::k154);
  through.Execute("DROP VIEW SearchFolderView");
  const UpgradeResult continued = Run(through, 154);
  EXPECT_TRUE(continued.completed) << Boxes(continued);
  EXPECT_EQ(ReadFormatVersion(through), "1.61");
  EXPECT_EQ(Number(through, "SELECT COUNT(Icon) FROM SearchFolderView"), 1);
}

}  // namespace
}  // namespace format
