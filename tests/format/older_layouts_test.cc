// The older collection layouts as the builder leaves them on the sandbox server: the version
// each carries, what each has and lacks, the shape of the sample, how documents are stored, and
// that building is deterministic and leaves nothing half-written.
#include "format/older_layouts.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "common/code_page.h"
#include "db/error.h"
#include "format/collection_snapshot.h"
#include "format/format_version.h"
#include "format/names.h"
#include "format/sandbox_collection.h"
#include "format/template_document.h"
#include "format/upgrade_ladder.h"

namespace format {
namespace {

using common::Value;
using testing::Number;
using testing::Query;
using testing::SandboxServer;
using testing::Scalar;
using testing::Text;

class OlderLayoutsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new SandboxServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  db::Connection Build(OlderLayout layout, const SampleOptions& options = {}) {
    db::Connection collection = server_->NewDatabase("Quillarchive_Layout");
    BuildOlderCollection(collection, layout, options);
    return collection;
  }

  static SandboxServer* server_;
};

SandboxServer* OlderLayoutsTest::server_ = nullptr;

// Chains and unfiled documents as SampleOptions describes them.
int Chains(int documents) { return (documents + 7) / 8; }
int Unfiled(int documents) { return (documents + 2) / 8; }

// Null (no value) reads as "(none)".
std::string ReadExtended(db::Connection& c, int field) {
  const Value value =
      Scalar(c, "SELECT FieldValue FROM ExtendedData WHERE EntryID = 0 AND ExtFieldID = " +
                    std::to_string(field));
  return value.IsNull() ? "(none)" : value.ToText();
}

TEST_F(OlderLayoutsTest, EveryLayoutCarriesItsVersionAndEntersTheLadderAboveIt) {
  const std::vector<UpgradeRung> ladder = UpgradeLadder();
  const std::vector<OlderLayout> layouts = OlderLayouts();
  ASSERT_EQ(layouts.size(), 9u);
  for (std::size_t i = 0; i < layouts.size(); ++i) {
    const std::string version(LayoutVersion(layouts[i]));
    SCOPED_TRACE(version);
    db::Connection collection = Build(layouts[i], {.document_count = 0});
    EXPECT_EQ(ReadFormatVersion(collection), version);
    EXPECT_EQ(FormatVersionNumber(version), LayoutVersionNumber(layouts[i]));
    EXPECT_EQ(LayoutForVersion(version), layouts[i]);

    // The ladder's entry rung leads to the next layout, the last one to the current format.
    const std::optional<std::size_t> rung = FirstRung(LayoutVersionNumber(layouts[i]));
    ASSERT_TRUE(rung.has_value());
    const std::string_view next =
        i + 1 < layouts.size() ? LayoutVersion(layouts[i + 1]) : kFormatVersion;
    EXPECT_EQ(ladder[*rung].version, next);
  }
  EXPECT_EQ(LayoutForVersion("1.61"), std::nullopt);
  EXPECT_EQ(LayoutForVersion(""), std::nullopt);
}

// What a rung creates must be missing below it: a rung that creates an object it finds already
// there fails.
TEST_F(OlderLayoutsTest, ObjectsAndColumnsArriveWithTheRungsThatBringThem) {
  for (OlderLayout layout : OlderLayouts()) {
    const int v = LayoutVersionNumber(layout);
    SCOPED_TRACE(std::string(LayoutVersion(layout)));
    db::Connection c = Build(layout, {.document_count = 0});
    const testing::SchemaSnapshot schema = testing::ReadSchema(c);
    auto has = [&](const std::string& object) {
      for (const char* type : {" P", " V", " U"}) {
        if (schema.objects.count(object + type)) return true;
      }
      return false;
    };
    auto column = [&](const std::string& table, const std::string& name) -> std::string {
      for (const std::string& c : schema.columns.at(table)) {
        if (c.rfind(name + " ", 0) == 0) return c;
      }
      return {};
    };
    EXPECT_EQ(has("DocsWithCategory"), v >= 136);
    EXPECT_EQ(!column("Document", "PlainText").empty(), v >= 136);
    EXPECT_EQ(!column("Document", "UniqueID").empty(), v >= 136);
    for (const char* object : {"SearchFolderView", "InsertSearchFolder", "RemoveSearchFolder"}) {
      EXPECT_EQ(has(object), v >= 140) << object;
    }
    // 198 is CREATE TABLE, granted on no object.
    EXPECT_EQ(schema.grants.count(" qa_reader 198 205"), v >= 140 ? 1u : 0u);
    for (const char* object : {"DeleteDoc", "DeleteFolder", "DocWithSub"}) {
      EXPECT_EQ(has(object), v >= 141) << object;
    }
    EXPECT_EQ(!column("Document", "VisibleInFolderID").empty(), v >= 150);
    EXPECT_EQ(!column("Document", "Status").empty(), v >= 153);
    EXPECT_EQ(!column("Folder", "Icon").empty(), v >= 153);
    EXPECT_EQ(!column("Folder", "Status").empty(), v >= 153);
    if (v >= 140) {
      // A view keeps the columns it was created with until it is created again.
      EXPECT_EQ(!column("SearchFolderView", "Icon").empty(), v >= 156);
    }
    EXPECT_EQ(column("Document", "Url"), v >= 155   ? "Url nvarchar(4000) not null"
                                         : v >= 136 ? "Url varchar(4000) not null"
                                                    : "Url varchar(255) not null");
    EXPECT_EQ(Number(c,
                     "SELECT COUNT(*) FROM ExtendedField WHERE FieldName IN ('Compatibility', "
                     "'Quillarchive: Archive Compatibility')"),
              v >= 150 ? 2 : 0);
    if (v >= 153) {
      EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Folder WHERE Status = 2"), v >= 154 ? 4 : 0);
    }
  }
}

TEST_F(OlderLayoutsTest, TheSampleGrowsWithTheDocumentCount) {
  for (int count : {0, 1, 9, 24}) {
    SCOPED_TRACE(count);
    db::Connection c = server_->NewDatabase("Quillarchive_Count");
    const SampleSummary summary =
        BuildOlderCollection(c, OlderLayout::k141, {.document_count = count});
    const int chains = Chains(count);
    // Each chain is three frames and an image; the second chain's page shares the first image.
    const int documents = 1 + count + 4 * chains;
    const int links = 4 * chains + (chains >= 2 ? 1 : 0);
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document"), documents);
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM SubDocument"), links);
    EXPECT_EQ(Number(c,
                     "SELECT COUNT(*) FROM Document WHERE FolderID = 0 AND EntryID > 1 AND "
                     "EntryID NOT IN (SELECT ChildEntryID FROM SubDocument)"),
              Unfiled(count));
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Folder WHERE FolderID > 1000"), 5);

    // The summary tells what is there.
    EXPECT_EQ(summary.documents, documents);
    EXPECT_EQ(summary.sub_document_links, links);
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Folder"), summary.folders);
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM SubFolder"), summary.folder_links);
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM DocLink"), summary.doc_links);
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Category"), summary.categories);
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM DocCategory"), summary.doc_categories);
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM ExtendedData"), summary.extended_values);
    // Every document with categories says so, and only those.
    EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document WHERE Categories = 1"),
              Number(c, "SELECT COUNT(DISTINCT EntryID) FROM DocCategory"));
  }
}

TEST_F(OlderLayoutsTest, TheSameOptionsBuildTheSameCollection) {
  db::Connection first = Build(OlderLayout::k153);
  db::Connection second = Build(OlderLayout::k153);
  EXPECT_EQ(testing::Differences(testing::ReadData(first), testing::ReadData(second)),
            std::vector<std::string>{});
  EXPECT_EQ(testing::Differences(testing::ReadSchema(first), testing::ReadSchema(second)),
            std::vector<std::string>{});

  // Only the collection GUID tells another collection apart.
  db::Connection other =
      Build(OlderLayout::k153, {.collection_guid = "{00000000-0000-0000-0000-000000000001}"});
  const std::vector<std::string> differences =
      testing::Differences(testing::ReadData(first), testing::ReadData(other));
  ASSERT_EQ(differences.size(), 1u);
  EXPECT_NE(differences[0].find("against {00000000-0000-0000-0000-000000000001}"),
            std::string::npos)
      << differences[0];
}

// Up to 1.50 the text of pages and texts is in Content; from 1.53 on it is stored in its code
// page, with the plain text for searching.
TEST_F(OlderLayoutsTest, TextMovesFromContentToBinaryContentAfter150) {
  db::Connection old_layout = Build(OlderLayout::k150);
  db::Connection new_layout = Build(OlderLayout::k153);

  const testing::Rows texts = Query(old_layout,
                                    "SELECT EntryID, Content, TypeID, CodePage FROM Document "
                                    "WHERE BinaryData = 0 ORDER BY EntryID");
  ASSERT_GT(texts.size(), 10u);
  EXPECT_EQ(Number(old_layout,
                   "SELECT COUNT(*) FROM Document WHERE BinaryData = 0 AND (BinaryContent IS NOT "
                   "NULL OR DATALENGTH(Content) = 0)"),
            0);
  EXPECT_EQ(ReadExtended(old_layout, kSearchInPlainTextField), "(none)");

  EXPECT_EQ(Number(new_layout, "SELECT COUNT(*) FROM Document WHERE BinaryData = 0"), 0);
  EXPECT_EQ(ReadExtended(new_layout, kSearchInPlainTextField), "True");
  bool cyrillic = false;
  for (const testing::Row& text : texts) {
    const std::string id = text[0].ToText();
    SCOPED_TRACE("EntryID " + id);
    const testing::Rows rows = Query(
        new_layout,
        "SELECT BinaryContent, CodePage, PlainText, Content FROM Document WHERE EntryID = " + id);
    ASSERT_EQ(rows.size(), 1u);
    const common::Bytes* bytes = rows[0][0].AsBytes();
    ASSERT_NE(bytes, nullptr);
    const int code_page = static_cast<int>(rows[0][1].ToInt().value());
    EXPECT_EQ(code_page, text[3].ToInt());
    EXPECT_EQ(common::BytesToText(*bytes, code_page), text[1].ToText());
    EXPECT_EQ(rows[0][3].ToText(), "");
    const std::string plain = rows[0][2].ToText();
    EXPECT_FALSE(plain.empty());
    EXPECT_EQ(plain.find('<'), std::string::npos) << plain;
    if (text[2].ToInt() == 90) {
      EXPECT_EQ(plain, text[1].ToText());
    }
    if (code_page == 1251) {
      cyrillic = true;
      EXPECT_NE(plain.find("Привет"), std::string::npos);
      // One byte a letter in the code page, where UTF-8 needs two.
      EXPECT_LT(bytes->size(), text[1].ToText().size());
    }
  }
  EXPECT_TRUE(cyrillic);
}

TEST_F(OlderLayoutsTest, BinaryDocumentsKeepTheirBytesInEveryLayout) {
  for (OlderLayout layout : {OlderLayout::k130, OlderLayout::k141, OlderLayout::k156}) {
    SCOPED_TRACE(std::string(LayoutVersion(layout)));
    db::Connection c = Build(layout);
    const testing::Rows rows = Query(c,
                                     "SELECT EntryID, FileSize, BinaryContent, BinaryData FROM "
                                     "Document WHERE TypeID IN (110, 200) ORDER BY EntryID");
    ASSERT_GT(rows.size(), 3u);
    for (const testing::Row& row : rows) {
      const common::Bytes* bytes = row[2].AsBytes();
      ASSERT_NE(bytes, nullptr) << row[0].ToText();
      EXPECT_EQ(static_cast<std::int64_t>(bytes->size()), row[1].ToInt());
      EXPECT_EQ(row[3].ToBool(), true);
    }
    const Value image = Scalar(c, "SELECT BinaryContent FROM Document WHERE EntryID = 1");
    ASSERT_NE(image.AsBytes(), nullptr);
    EXPECT_EQ(*image.AsBytes(), TemplateImage());
    EXPECT_EQ(Text(c, "SELECT Title FROM Document WHERE EntryID = 1"), std::string(kTemplateTitle));
  }
}

TEST_F(OlderLayoutsTest, HostileTextIsStoredAsGiven) {
  db::Connection c = Build(OlderLayout::k141);
  EXPECT_EQ(Text(c, "SELECT Name FROM Folder WHERE FolderID = 1003"),
            "O'Brien's [Akten]; DROP TABLE Folder --");
  EXPECT_EQ(Text(c, "SELECT Name FROM Folder WHERE FolderID = 1005"), "Suche: \"Rechnung\"");
  EXPECT_EQ(Text(c, "SELECT Name FROM Category WHERE CategoryID = 3"), "Briefe 'privat'");
  EXPECT_EQ(
      Number(c,
             "SELECT COUNT(*) FROM BlackList WHERE Url = N'http://zähler.example.com/?id=''1'''"),
      1);
  EXPECT_EQ(Number(c,
                   "SELECT COUNT(*) FROM Document WHERE Comment = N'Kommentar mit "
                   "''Anführungszeichen''; DROP TABLE Document; --'"),
            2);
  EXPECT_EQ(Number(c, "SELECT MAX(LEN(Comment)) FROM Document"), 4000);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM ExtendedData WHERE FieldValue LIKE N'Seán O''Neil'"),
            6);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM sysobjects WHERE RTRIM(type) = 'U'"), 11);
}

TEST_F(OlderLayoutsTest, BadOptionsAreRefusedBeforeAnythingIsWritten) {
  db::Connection c = server_->NewDatabase("Quillarchive_Refused");
  EXPECT_THROW(BuildOlderCollection(c, OlderLayout::k150, {.document_count = -1}),
               std::invalid_argument);
  EXPECT_THROW(BuildOlderCollection(c, OlderLayout::k150, {.code_page = 4711}),
               std::invalid_argument);
  EXPECT_THROW(BuildOlderCollection(c, OlderLayout::k150, {.code_page = 0}), std::invalid_argument);
  EXPECT_THROW(
      BuildOlderCollection(c, OlderLayout::k150, {.base_time = common::DateTime{2003, 2, 29}}),
      std::invalid_argument);
  EXPECT_THROW(
      BuildOlderCollection(c, OlderLayout::k150, {.base_time = common::DateTime{2003, 13, 1}}),
      std::invalid_argument);
  EXPECT_THROW(
      BuildOlderCollection(c, OlderLayout::k150, {.base_time = common::DateTime{2003, 1, 1, 24}}),
      std::invalid_argument);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM sysobjects WHERE RTRIM(type) IN ('U', 'V', 'P') "
                      "AND OBJECTPROPERTY(id, 'IsMSShipped') = 0"),
            0);
}

TEST_F(OlderLayoutsTest, AFailureInTheSampleLeavesNoneOfItsRows) {
  db::Connection c = server_->NewDatabase("Quillarchive_Fault");
  sandbox::ServerMessage error;
  error.number = 1205;
  error.severity = 13;
  error.text = "Transaction was deadlocked on lock resources with another process.";
  server_->instance().InjectFault({"INSERT INTO DocLink", 2, error});
  try {
    BuildOlderCollection(c, OlderLayout::k150);
    ADD_FAILURE() << "the injected fault did not surface";
  } catch (const db::Error& e) {
    EXPECT_EQ(e.native_error(), 1205);
  }
  server_->instance().ClearFaults();
  EXPECT_EQ(Number(c, "SELECT @@TRANCOUNT"), 0);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Document"), 0);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM DocLink"), 0);
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Folder WHERE FolderID > 1000"), 0);
  // The schema and its seed rows stay: they went in before the sample.
  EXPECT_EQ(Number(c, "SELECT COUNT(*) FROM Folder"), 11);
  EXPECT_EQ(ReadFormatVersion(c), "1.50");
}

TEST_F(OlderLayoutsTest, TheVersionReadsEmptyWhereThereIsNone) {
  db::Connection empty = server_->NewDatabase("Quillarchive_Empty");
  EXPECT_EQ(ReadFormatVersion(empty), "");

  db::Connection c = Build(OlderLayout::k140, {.document_count = 0});
  c.Execute(
      "UPDATE ExtendedData SET FieldValue = N'1.4''0; --' WHERE EntryID = 0 AND ExtFieldID = 3");
  EXPECT_EQ(ReadFormatVersion(c), "1.4'0; --");
  EXPECT_EQ(FormatVersionNumber(ReadFormatVersion(c)), std::nullopt);
  // A version stored under another entry is not the collection's.
  c.Execute("UPDATE ExtendedData SET EntryID = 5 WHERE EntryID = 0 AND ExtFieldID = 3");
  EXPECT_EQ(ReadFormatVersion(c), "");

  c.Close();
  EXPECT_EQ(ReadFormatVersion(c), "");
}

TEST(FormatVersionNumberTest, DropsTheDotsAndReadsTheDigits) {
  EXPECT_EQ(FormatVersionNumber("1.50"), 150);
  EXPECT_EQ(FormatVersionNumber("1.61"), 161);
  EXPECT_EQ(FormatVersionNumber("1.36"), 136);
  EXPECT_EQ(FormatVersionNumber("1.5.7"), 157);
  EXPECT_EQ(FormatVersionNumber("161"), 161);
  EXPECT_EQ(FormatVersionNumber("0.99"), 99);
  for (const char* text : {"", ".", "..", "1.6a", " 1.50", "1.50 ", "-1.50", "1,50", "+150",
                           "99999999999", "1.50'; DROP TABLE Folder --"}) {
    EXPECT_EQ(FormatVersionNumber(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace format
