// Background updating of a full-text index: a saved row only notes its change, and whatever
// reads the index (searches, the catalogue's figures) first takes in what was noted, once.
// A second, plain connection to the database file looks at the notes and the index directly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox/fulltext.h"
#include "sandbox/sandbox_fixture.h"
#include "sandbox/sqlite.h"

namespace sandbox::testing {
namespace {

using common::Value;
using V = std::vector<std::int64_t>;

class BackgroundUpdateTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE DATABASE Sales");
    session_ = Connect("Sales");
    Ok("CREATE TABLE dbo.Document (EntryID INTEGER IDENTITY (1,1) NOT NULL, "
       "Title NVARCHAR(255) NULL DEFAULT '', PlainText NTEXT DEFAULT '', "
       "FileSize INT NOT NULL DEFAULT 0, CONSTRAINT PK_Document PRIMARY KEY ( EntryID ) )");
    Add("Annual report", "Revenue grew");
    for (const char* statement :
         {"EXEC sp_fulltext_database 'enable'", "EXEC sp_fulltext_catalog 'Doc_Desc', 'create'",
          "EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'",
          "EXEC sp_fulltext_column 'Document','Title','add'",
          "EXEC sp_fulltext_column 'Document','PlainText','add'",
          "Exec sp_fulltext_table 'Document','activate'",
          "EXEC sp_fulltext_table Document, 'Start_change_tracking'",
          "EXEC sp_fulltext_table Document, 'Start_background_updateindex'"})
      Ok(statement);
    document_ = Scalar("SELECT OBJECT_ID('Document')").ToInt().value_or(0);
    file_ =
        instance_
            ->MapPath(
                Scalar("SELECT filename FROM master..sysdatabases WHERE name = 'Sales'").ToText())
            .string();
  }

  void Add(const std::string& title, const std::string& text) {
    Ok("INSERT INTO Document (Title, PlainText) VALUES (N'" + title + "', N'" + text + "')");
  }

  // A count straight from the file, past the sandbox.
  std::int64_t Raw(const std::string& sql) {
    Connection raw(file_, false);
    Statement s = raw.Prepare(sql);
    return s.Step() ? s.ColumnInt(0) : -1;
  }
  std::int64_t Notes(std::int64_t id) {
    return Raw("SELECT count(*) FROM \"sandbox$ftchanges\" WHERE id = " + std::to_string(id));
  }
  std::int64_t Indexed(std::int64_t id) {
    return Raw("SELECT count(*) FROM \"sandbox$ftindex_" + std::to_string(id) + "\"");
  }

  std::int64_t Items(const std::string& catalog = "Doc_Desc") {
    return Scalar("SELECT FULLTEXTCATALOGPROPERTY('" + catalog + "', 'ItemCount')")
        .ToInt()
        .value_or(-1);
  }
  V Found(const std::string& condition) {
    RowSet set = Query("SELECT EntryID FROM Document WHERE CONTAINS(*, '" + condition +
                       "') ORDER BY EntryID");
    V out;
    for (const auto& row : set.rows) out.push_back(row[0].ToInt().value_or(-1));
    return out;
  }

  std::int64_t document_ = 0;
  std::string file_;
};

TEST_F(BackgroundUpdateTest, ASaveNotesItsChangeAndTheFirstReadAppliesIt) {
  ASSERT_EQ(Indexed(document_), 1);
  Add("Quarterly forecast", "Pipeline looks healthy");
  // The save did not touch the index.
  EXPECT_EQ(Notes(document_), 1);
  EXPECT_EQ(Indexed(document_), 1);
  EXPECT_EQ(Found("pipeline"), V({2}));
  EXPECT_EQ(Notes(document_), 0);
  EXPECT_EQ(Indexed(document_), 2);

  // The item count alone takes changes in too.
  Ok("UPDATE Document SET Title = N'Yearly summary' WHERE EntryID = 1");
  Ok("DELETE FROM Document WHERE EntryID = 2");
  EXPECT_EQ(Notes(document_), 2);
  EXPECT_EQ(Items(), 1);
  EXPECT_EQ(Notes(document_), 0);
  EXPECT_EQ(Found("annual"), V{});
  EXPECT_EQ(Found("yearly"), V({1}));

  // A column outside the index leaves nothing to apply.
  Ok("UPDATE Document SET FileSize = 12");
  EXPECT_EQ(Notes(document_), 0);

  // A search in the same batch as the change, and in a procedure, sees it.
  RowSet same = Query(
      "INSERT INTO Document (Title) VALUES (N'Budget draft') "
      "SELECT EntryID FROM Document WHERE CONTAINS(Title, 'budget')");
  ASSERT_EQ(same.rows.size(), 1u);
  EXPECT_EQ(same.rows[0][0], Value(3));
  Ok("CREATE PROCEDURE FindTravel AS SELECT EntryID FROM Document WHERE CONTAINS(*, 'travel')");
  Add("Travel policy", "Economy class");
  RowSet proc = Query("EXEC FindTravel");
  ASSERT_EQ(proc.rows.size(), 1u);
  EXPECT_EQ(proc.rows[0][0], Value(4));
}

TEST_F(BackgroundUpdateTest, ChangesAreAppliedOnceHoweverOftenTheyAreRead) {
  // One row changed many times before a read is one entry, with its last text.
  Add("Draft", "first words");
  for (int i = 0; i < 5; ++i)
    Ok("UPDATE Document SET PlainText = N'version " + std::to_string(i) + " words' " +
       "WHERE EntryID = 2");
  Ok("DELETE FROM Document WHERE EntryID = 1");
  Add("Annual report", "Revenue grew again");
  EXPECT_EQ(Notes(document_), 3);
  for (int read = 0; read < 3; ++read) {
    EXPECT_EQ(Items(), 2) << read;
    EXPECT_EQ(Found("words"), V({2})) << read;
    EXPECT_EQ(Found("revenue"), V({3})) << read;
    EXPECT_EQ(Found("first"), V{}) << read;
  }
  EXPECT_EQ(Indexed(document_), 2);
  // The vocabulary holds what the rows hold now, each term once.
  std::int64_t words =
      Scalar("SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'UniqueKeyCount')").ToInt().value_or(0);
  EXPECT_EQ(words,
            Raw("SELECT count(*) FROM \"sandbox$ftvocab_" + std::to_string(document_) + "\""));
  EXPECT_EQ(Scalar("SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'UniqueKeyCount')"), Value(words));
}

TEST_F(BackgroundUpdateTest, ARolledBackChangeLeavesNeitherNoteNorEntry) {
  Ok("BEGIN TRANSACTION INSERT INTO Document (Title) VALUES (N'Draft') ROLLBACK");
  EXPECT_EQ(Notes(document_), 0);
  EXPECT_EQ(Items(), 1);
  EXPECT_EQ(Found("draft"), V{});

  // Read inside the transaction: the change is applied there, and goes with the rollback.
  RowSet inside = Query(
      "BEGIN TRANSACTION "
      "UPDATE Document SET Title = N'Withdrawn' WHERE EntryID = 1 "
      "INSERT INTO Document (Title) VALUES (N'Withdrawn too') "
      "SELECT EntryID FROM Document WHERE CONTAINS(Title, 'withdrawn') ORDER BY EntryID");
  ASSERT_EQ(inside.rows.size(), 2u);
  Ok("ROLLBACK");
  EXPECT_EQ(Notes(document_), 0);
  EXPECT_EQ(Indexed(document_), 1);
  EXPECT_EQ(Found("withdrawn"), V{});
  EXPECT_EQ(Found("annual"), V({1}));
}

TEST_F(BackgroundUpdateTest, TheCatalogueIsMarkedPopulatedWhenChangesAreApplied) {
  Connection raw(file_, false);
  raw.Exec("UPDATE \"sandbox$ftcatalogs\" SET populated = '2001-01-01 00:00:00'");
  auto age = [&] {
    return Scalar("SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'PopulateCompletionAge')")
        .ToInt()
        .value_or(0);
  };
  std::int64_t old_age = age();
  EXPECT_EQ(old_age, Scalar("SELECT DATEDIFF(s, '19900101', '20010101')").ToInt().value_or(-1));
  Add("Late addition", "Arrived later");
  std::int64_t now = Scalar("SELECT DATEDIFF(s, '19900101', GETDATE())").ToInt().value_or(0);
  EXPECT_NEAR(static_cast<double>(age()), static_cast<double>(now), 5.0);
}

TEST_F(BackgroundUpdateTest, StoppingBackgroundUpdatesOrTrackingKeepsWhatWasNoted) {
  Add("Board minutes", "The board met");
  ASSERT_EQ(Notes(document_), 1);
  Ok("EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
  EXPECT_EQ(Notes(document_), 0);
  EXPECT_EQ(Found("board"), V({2}));
  // Without background updating, changes wait for "update_index" as before.
  Add("Travel policy", "Economy class");
  EXPECT_EQ(Found("travel"), V{});
  EXPECT_EQ(Items(), 2);
  Ok("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
  EXPECT_EQ(Found("travel"), V({3}));

  // Stopping change tracking with background changes noted neither loses them nor warns.
  Ok("DELETE FROM Document WHERE EntryID = 3");
  CollectingSink stop = Run("EXEC sp_fulltext_table Document, 'stop_change_tracking'");
  EXPECT_EQ(stop.FirstError(), 0);
  EXPECT_TRUE(stop.messages.empty());
  EXPECT_EQ(Found("travel"), V{});
  EXPECT_EQ(Items(), 2);
}

TEST_F(BackgroundUpdateTest, HostileTextKeysAreNotedAndAppliedAsValues) {
  Ok("CREATE TABLE [No'tes;]] x] (Code NVARCHAR(300) NOT NULL, Body NVARCHAR(400) NULL)");
  Ok("CREATE UNIQUE INDEX UX_Notes ON [No'tes;]] x] (Code)");
  Ok("EXEC sp_fulltext_catalog 'Notes_Cat', 'create'");
  Ok("EXEC sp_fulltext_table '[No''tes;]] x]', 'create', 'Notes_Cat', 'UX_Notes'");
  Ok("EXEC sp_fulltext_column '[No''tes;]] x]', 'Body', 'add'");
  Ok("EXEC sp_fulltext_table '[No''tes;]] x]', 'start_change_tracking'");
  Ok("EXEC sp_fulltext_table '[No''tes;]] x]', 'start_background_updateindex'");
  std::int64_t notes_id =
      Scalar("SELECT id FROM sysobjects WHERE name = N'No''tes;] x'").ToInt().value_or(0);
  const std::vector<std::string> keys = {"a'); DELETE FROM \"sandbox$ftchanges\"; --", "]]", "\"",
                                         "x' OR '1'='1", std::string(300, 'k')};
  auto quoted = [](const std::string& key) {
    std::string out;
    for (char c : key) out += c == '\'' ? std::string("''") : std::string(1, c);
    return "N'" + out + "'";
  };
  for (size_t i = 0; i < keys.size(); ++i)
    Ok("INSERT INTO [No'tes;]] x] VALUES (" + quoted(keys[i]) + ", N'apple number" +
       std::to_string(i) + "')");
  ASSERT_NE(notes_id, 0);
  EXPECT_EQ(Notes(notes_id), static_cast<std::int64_t>(keys.size()));
  Ok("UPDATE [No'tes;]] x] SET Body = N'pear' WHERE Code = " + quoted(keys[0]));
  Ok("DELETE FROM [No'tes;]] x] WHERE Code = " + quoted(keys[1]));
  EXPECT_EQ(Items("Notes_Cat"), static_cast<std::int64_t>(keys.size() - 1));
  EXPECT_EQ(Notes(notes_id), 0);
  auto codes = [&](const std::string& word) {
    RowSet set =
        Query("SELECT Code FROM [No'tes;]] x] WHERE CONTAINS(Body, '" + word + "') ORDER BY Code");
    std::vector<std::string> out;
    for (const auto& row : set.rows) out.push_back(row[0].ToText());
    return out;
  };
  EXPECT_EQ(codes("pear"), std::vector<std::string>({keys[0]}));
  EXPECT_EQ(codes("apple").size(), keys.size() - 2);
  // The other table's notes were neither applied nor dropped along the way.
  Add("Board minutes", "The board met");
  EXPECT_EQ(codes("pear").size(), 1u);
  EXPECT_EQ(Notes(document_), 1);
  EXPECT_EQ(Found("board"), V({2}));
}

TEST_F(BackgroundUpdateTest, AViewSearchingTheTableAlwaysSeesItCurrent) {
  // SQLite reads a view's text without the sandbox in between, so such a table is indexed in
  // each statement again.
  Ok("CREATE VIEW BoardDocuments AS SELECT EntryID FROM Document WHERE CONTAINS(*, 'board')");
  Add("Board dinner", "");
  EXPECT_EQ(Notes(document_), 0);
  RowSet set = Query("SELECT EntryID FROM BoardDocuments");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], Value(2));
  // And stays so when the triggers are made again.
  Ok("EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
  Ok("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
  Add("Board lunch", "");
  EXPECT_EQ(Query("SELECT EntryID FROM BoardDocuments").rows.size(), 2u);

  // A view made before the table was marked (an older database) is found by its text.
  Connection raw(file_, false);
  raw.Exec("UPDATE \"sandbox$settings\" SET value = '' WHERE name = 'fulltext_immediate_" +
           std::to_string(document_) + "' COLLATE BINARY");
  ASSERT_EQ(sqlite3_changes(raw.get()), 1);
  Ok("EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
  Ok("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
  Add("Board breakfast", "");
  EXPECT_EQ(Notes(document_), 0);
  EXPECT_EQ(Query("SELECT EntryID FROM BoardDocuments").rows.size(), 3u);
}

TEST_F(BackgroundUpdateTest, AViewMadeBeforeBackgroundUpdatingStaysCurrentToo) {
  Ok("EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
  Ok("CREATE VIEW Reports AS SELECT EntryID FROM Document WHERE CONTAINS(Title, 'report')");
  Ok("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
  Add("Monthly report", "");
  EXPECT_EQ(Query("SELECT EntryID FROM Reports").rows.size(), 2u);
  // Other tables of the database keep noting their changes.
  Ok("CREATE TABLE Other (Id INT NOT NULL CONSTRAINT PK_Other PRIMARY KEY, Body NVARCHAR(50))");
  Ok("EXEC sp_fulltext_table 'Other', 'create', 'Doc_Desc', 'PK_Other'");
  Ok("EXEC sp_fulltext_column 'Other', 'Body', 'add'");
  Ok("EXEC sp_fulltext_table 'Other', 'start_change_tracking'");
  Ok("EXEC sp_fulltext_table 'Other', 'start_background_updateindex'");
  Ok("INSERT INTO Other VALUES (1, N'report')");
  std::int64_t other = Scalar("SELECT OBJECT_ID('Other')").ToInt().value_or(0);
  EXPECT_EQ(Notes(other), 1);
  EXPECT_EQ(Items(), 3);
  EXPECT_EQ(Notes(other), 0);
}

}  // namespace
}  // namespace sandbox::testing
