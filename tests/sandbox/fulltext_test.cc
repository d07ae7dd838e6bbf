// Full-text search on the sandbox: the procedures a collection's index is made, stopped and
// dropped with, the catalogue's state and figures as they follow the documents, the errors for
// steps taken in the wrong order, CONTAINS over the index, and names that try to break out.
#include "sandbox/fulltext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

namespace fs = std::filesystem;
using common::Value;

// What a collection's "create", "stop" and "drop" send, statement for statement.
const std::vector<std::string> kCreate = {
    "EXEC sp_fulltext_database 'enable'",
    "EXEC sp_fulltext_catalog 'Doc_Desc', 'create'",
    "EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'",
    "EXEC sp_fulltext_column 'Document','Title','add'",
    "EXEC sp_fulltext_column 'Document','PlainText','add'",
    "EXEC sp_fulltext_column 'Document','Comment','add'",
    "Exec sp_fulltext_table 'Document','activate'",
    "EXEC sp_fulltext_table Document, 'Start_change_tracking'",
    "EXEC sp_fulltext_table Document, 'Start_background_updateindex'"};
const std::vector<std::string> kStop = {
    "EXEC sp_fulltext_table Document, 'Stop_background_updateindex'",
    "EXEC sp_fulltext_table Document, 'stop_change_tracking'",
    "Exec sp_fulltext_table 'Document','stop'", "EXEC sp_fulltext_catalog 'Doc_Desc', 'Stop'"};
const std::vector<std::string> kDrop = {
    "EXEC sp_fulltext_table Document, 'Stop_background_updateindex'",
    "EXEC sp_fulltext_table Document, 'stop_change_tracking'",
    "EXEC sp_fulltext_table 'Document', 'stop'",
    "EXEC sp_fulltext_table 'Document', 'drop'",
    "EXEC sp_fulltext_catalog 'Doc_Desc', 'drop'",
    "EXEC sp_fulltext_database 'disable'"};

class FullTextTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE DATABASE Sales");
    session_ = Connect("Sales");
    Ok("CREATE TABLE dbo.Document (EntryID INTEGER IDENTITY (1,1) NOT NULL, "
       "Url NVARCHAR(4000) NOT NULL DEFAULT '', Title NVARCHAR(255) NULL DEFAULT '', "
       "PlainText NTEXT DEFAULT '', Comment NVARCHAR(4000) NULL, FileSize INT NOT NULL DEFAULT 0, "
       "CONSTRAINT PK_Document PRIMARY KEY ( EntryID ) )");
  }

  void AddDocument(const std::string& title, const std::string& text,
                   const std::string& comment = "") {
    Ok("INSERT INTO Document (Title, PlainText, Comment) VALUES (N'" + title + "', N'" + text +
       "', N'" + comment + "')");
  }

  void RunAll(const std::vector<std::string>& statements) {
    for (const std::string& statement : statements) Ok(statement);
  }

  // The collection's status: the catalogue's STATUS, or -1 when asking fails or finds none.
  int Status() {
    CollectingSink sink = Run("EXEC sp_help_fulltext_catalogs 'Doc_Desc'");
    if (sink.FirstError() != 0 || sink.sets.empty() || sink.sets[0].rows.empty()) return -1;
    return static_cast<int>(sink.sets[0].rows[0][3].ToInt().value_or(-100));
  }

  Value Property(const std::string& property, const std::string& catalog = "Doc_Desc") {
    return Scalar("SELECT FULLTEXTCATALOGPROPERTY('" + catalog + "', '" + property + "')");
  }
  std::int64_t Items() { return Property("ItemCount").ToInt().value_or(-1); }

  // EntryIDs of the documents a search finds, in order.
  std::vector<std::int64_t> Found(const std::string& where) {
    RowSet set = Query("SELECT EntryID FROM Document WHERE " + where + " ORDER BY EntryID");
    std::vector<std::int64_t> out;
    for (const auto& row : set.rows) out.push_back(row[0].ToInt().value_or(-1));
    return out;
  }

  std::int32_t Error(const std::string& batch) { return Run(batch).FirstError(); }

  fs::path CatalogFolder(int dbid, int catalog = 5) {
    char name[32];
    std::snprintf(name, sizeof name, "SQL%05d%05d", dbid, catalog);
    return instance_->MapPath("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\FTData") / name;
  }
  int Dbid() { return static_cast<int>(Scalar("SELECT DB_ID()").ToInt().value_or(0)); }
};

using V = std::vector<std::int64_t>;

TEST_F(FullTextTest, TheCollectionsCreateSequenceBuildsATrackedCatalogue) {
  EXPECT_EQ(Scalar("SELECT FULLTEXTSERVICEPROPERTY('IsFulltextInstalled')"), Value(1));
  EXPECT_EQ(Error("EXEC sp_help_fulltext_catalogs 'Doc_Desc'"), 15601);
  EXPECT_EQ(Status(), -1);
  AddDocument("Annual report", "Revenue grew in every region", "reviewed");
  AddDocument("Board minutes", "The board met twice");
  AddDocument("Travel policy", "Economy class for every flight");

  RunAll(kCreate);
  EXPECT_EQ(Status(), 9);
  RowSet catalogs = Query("EXEC sp_help_fulltext_catalogs");
  ASSERT_EQ(catalogs.columns.size(), 5u);
  EXPECT_EQ(catalogs.columns[0].name, "ftcatid");
  EXPECT_EQ(catalogs.columns[1].name, "NAME");
  EXPECT_EQ(catalogs.columns[2].name, "PATH");
  EXPECT_EQ(catalogs.columns[3].name, "STATUS");
  EXPECT_EQ(catalogs.columns[4].name, "NUMBER_FULLTEXT_TABLES");
  ASSERT_EQ(catalogs.rows.size(), 1u);
  EXPECT_EQ(catalogs.rows[0][0], Value(5));
  EXPECT_EQ(catalogs.rows[0][1], Value("Doc_Desc"));
  EXPECT_EQ(catalogs.rows[0][2], Value("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\FTData"));
  EXPECT_EQ(catalogs.rows[0][4], Value(1));
  EXPECT_TRUE(fs::is_directory(CatalogFolder(Dbid())));

  // Starting change tracking populated the index with what was there.
  EXPECT_EQ(Items(), 3);
  EXPECT_EQ(Property("IndexSize"), Value(0));  // megabytes
  EXPECT_GT(Property("UniqueKeyCount").ToInt().value_or(0), 10);
  std::int64_t age = Property("PopulateCompletionAge").ToInt().value_or(0);
  std::int64_t now = Scalar("SELECT DATEDIFF(s, '19900101', GETDATE())").ToInt().value_or(0);
  EXPECT_NEAR(static_cast<double>(age), static_cast<double>(now), 5.0);
  EXPECT_EQ(Scalar("SELECT OBJECTPROPERTY(OBJECT_ID('Document'), 'TableFulltextCatalogId')"),
            Value(5));
  EXPECT_EQ(Scalar("SELECT OBJECTPROPERTY(OBJECT_ID('Document'), "
                   "'TableFullTextBackgroundUpdateIndexOn')"),
            Value(1));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'board')"), V({2}));
}

TEST_F(FullTextTest, BackgroundUpdatingKeepsTheFiguresTrue) {
  AddDocument("Annual report", "Revenue grew");
  RunAll(kCreate);
  ASSERT_EQ(Items(), 1);
  std::int64_t words = Property("UniqueKeyCount").ToInt().value_or(0);

  AddDocument("Quarterly forecast", "Pipeline looks healthy");
  EXPECT_EQ(Items(), 2);
  EXPECT_EQ(Found("CONTAINS(*, 'pipeline')"), V({2}));
  EXPECT_EQ(Property("UniqueKeyCount").ToInt().value_or(0), words + 5);

  Ok("UPDATE Document SET Title = N'Yearly summary' WHERE EntryID = 1");
  EXPECT_EQ(Found("CONTAINS(Title, 'annual')"), V{});
  EXPECT_EQ(Found("CONTAINS(Title, 'yearly')"), V({1}));
  EXPECT_EQ(Items(), 2);

  Ok("DELETE FROM Document WHERE EntryID = 2");
  EXPECT_EQ(Items(), 1);
  EXPECT_EQ(Found("CONTAINS(*, 'pipeline')"), V{});
  // Changes to columns outside the index leave it alone.
  Ok("UPDATE Document SET FileSize = 12");
  EXPECT_EQ(Found("CONTAINS(*, 'yearly')"), V({1}));

  // A change that fails takes its index entry back with it.
  Ok("BEGIN TRANSACTION INSERT INTO Document (Title) VALUES (N'Draft') ROLLBACK");
  EXPECT_EQ(Items(), 1);
  EXPECT_EQ(Found("CONTAINS(Title, 'draft')"), V{});
}

TEST_F(FullTextTest, StoppingFreezesTheIndexUntilTheNextPopulation) {
  AddDocument("Annual report", "Revenue grew");
  RunAll(kCreate);
  RunAll(kStop);
  EXPECT_EQ(Status(), 0);
  AddDocument("Late addition", "Arrived after the stop");
  EXPECT_EQ(Items(), 1);
  EXPECT_EQ(Found("CONTAINS(Title, 'late')"), V{});
  Ok("EXEC sp_fulltext_catalog 'Doc_Desc', 'start_full'");
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(Items(), 2);
  EXPECT_EQ(Found("CONTAINS(Title, 'late')"), V({2}));
  // The collection's "start" goes back to tracking.
  Ok("EXEC sp_fulltext_table Document, 'Start_change_tracking'");
  Ok("EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
  EXPECT_EQ(Status(), 9);
}

TEST_F(FullTextTest, TrackedChangesWaitForUpdateIndexWithoutBackgroundUpdating) {
  AddDocument("Annual report", "Revenue grew");
  RunAll({kCreate.begin(), kCreate.end() - 1});  // change tracking, no background updating
  EXPECT_EQ(Status(), 9);
  EXPECT_EQ(Scalar("SELECT OBJECTPROPERTY(OBJECT_ID('Document'), "
                   "'TableFulltextChangeTrackingOn')"),
            Value(1));
  AddDocument("Second", "Waiting in line");
  Ok("UPDATE Document SET Title = N'Renamed' WHERE EntryID = 1");
  EXPECT_EQ(Items(), 1);
  EXPECT_EQ(Found("CONTAINS(Title, 'annual')"), V({1}));
  Ok("EXEC sp_fulltext_table Document, 'update_index'");
  EXPECT_EQ(Items(), 2);
  EXPECT_EQ(Found("CONTAINS(Title, 'annual')"), V{});
  EXPECT_EQ(Found("CONTAINS(Title, 'renamed OR second')"), V({1, 2}));

  // Stopping with changes still waiting says they are lost.
  Ok("DELETE FROM Document WHERE EntryID = 2");
  CollectingSink sink = Run("EXEC sp_fulltext_table Document, 'stop_change_tracking'");
  EXPECT_EQ(sink.FirstError(), 0);
  ASSERT_FALSE(sink.messages.empty());
  EXPECT_EQ(sink.messages[0].number, 7638);
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(Items(), 2);
}

TEST_F(FullTextTest, TheDropSequenceRemovesEverythingAndCreateWorksAgain) {
  AddDocument("Annual report", "Revenue grew");
  RunAll(kCreate);
  int dbid = Dbid();
  ASSERT_TRUE(fs::is_directory(CatalogFolder(dbid)));
  RunAll(kDrop);
  EXPECT_EQ(Status(), -1);
  EXPECT_EQ(Error("EXEC sp_help_fulltext_catalogs"), 15601);
  EXPECT_TRUE(Property("ItemCount").IsNull());
  EXPECT_FALSE(fs::exists(CatalogFolder(dbid)));
  EXPECT_EQ(Error("SELECT EntryID FROM Document WHERE CONTAINS(Title, 'annual')"), 7616);
  // Documents change freely without an index.
  AddDocument("After the drop", "Nothing tracks this");
  Ok("UPDATE Document SET Title = N'x'");

  RunAll(kCreate);
  EXPECT_EQ(Status(), 9);
  EXPECT_EQ(Items(), 2);
  EXPECT_EQ(Found("CONTAINS(PlainText, 'tracks')"), V({2}));
}

TEST_F(FullTextTest, StepsInTheWrongOrderFailWithTheServersErrors) {
  // Nothing works before the database is enabled.
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog 'Doc_Desc', 'create'"), 15601);
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'"), 15601);
  Ok("EXEC sp_fulltext_database 'enable'");
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'"), 7641);
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog 'Doc_Desc', 'start_full'"), 7641);
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog 'Doc_Desc', 'drop'"), 7641);
  Ok("EXEC sp_fulltext_catalog 'Doc_Desc', 'create'");
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog 'doc_desc', 'create'"), 7642);
  EXPECT_EQ(Error("EXEC sp_fulltext_column 'Document', 'Title', 'add'"), 7658);
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Document', 'activate'"), 7658);
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Nowhere', 'create', 'Doc_Desc', 'PK_Document'"), 15009);
  Ok("CREATE INDEX IX_Title ON Document (Title)");
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'IX_Title'"), 7653);
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Nothing'"), 7653);
  Ok("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'");
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'"), 7652);
  // No columns yet: nothing to activate or track.
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Document', 'activate'"), 7659);
  EXPECT_EQ(Error("EXEC sp_fulltext_table Document, 'start_change_tracking'"), 7660);
  EXPECT_EQ(Error("EXEC sp_fulltext_table Document, 'start_full'"), 7660);
  EXPECT_EQ(Error("EXEC sp_fulltext_column 'Document', 'FileSize', 'add'"), 7670);
  EXPECT_EQ(Error("EXEC sp_fulltext_column 'Document', 'Missing', 'add'"), 15645);
  EXPECT_EQ(Error("EXEC sp_fulltext_column 'Document', 'Title', 'drop'"), 7677);
  Ok("EXEC sp_fulltext_column 'Document', 'Title', 'add'");
  EXPECT_EQ(Scalar("SELECT OBJECTPROPERTY(OBJECT_ID('Document'), "
                   "'TableHasActiveFulltextIndex')"),
            Value(1));
  // Changes can only be flushed once they are tracked.
  EXPECT_EQ(Error("EXEC sp_fulltext_table Document, 'update_index'"), 7664);
  EXPECT_EQ(Error("EXEC sp_fulltext_table Document, 'start_background_updateindex'"), 7664);
  // Stopping what never started is no error: the collection's drop sends it to idle indexes.
  Ok("EXEC sp_fulltext_table Document, 'stop_background_updateindex'");
  Ok("EXEC sp_fulltext_table Document, 'stop_change_tracking'");
  Ok("EXEC sp_fulltext_table Document, 'stop'");
  // A catalogue in use stays.
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog 'Doc_Desc', 'drop'"), 7668);
  // Unknown actions and misplaced arguments.
  EXPECT_EQ(Error("EXEC sp_fulltext_table Document, 'start_everything'"), 15600);
  EXPECT_EQ(Error("EXEC sp_fulltext_table Document, 'drop', 'Doc_Desc'"), 15600);
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog 'Doc_Desc', 'drop', 'C:\\'"), 15600);
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog '', 'create'"), 15600);
  EXPECT_EQ(Error("EXEC sp_fulltext_database 'maybe'"), 15600);
  EXPECT_EQ(Error("EXEC sp_fulltext_column 'Document', 'Title', 'toggle'"), 15600);
  EXPECT_EQ(Error("EXEC sp_fulltext_table Document"), 201);
  // Not inside a user transaction.
  EXPECT_EQ(Error("BEGIN TRAN EXEC sp_fulltext_catalog 'Other', 'create' ROLLBACK"), 15002);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM (SELECT 1 AS x) AS t WHERE "
                   "FULLTEXTCATALOGPROPERTY('Other', 'ItemCount') IS NULL"),
            Value(1));
  // Nothing above left anything behind.
  RowSet catalogs = Query("EXEC sp_help_fulltext_catalogs");
  ASSERT_EQ(catalogs.rows.size(), 1u);
  EXPECT_EQ(catalogs.rows[0][4], Value(1));
  EXPECT_EQ(Status(), 0);
}

TEST_F(FullTextTest, SystemDatabasesAndServersWithoutFullTextRefuse) {
  EXPECT_EQ(Error("USE master EXEC sp_fulltext_database 'enable'"), 9966);

  InstanceConfig config;
  config.full_text_installed = false;
  auto plain = host_->Create("Plain", config);
  LoginRequest request;
  request.login = "sa";
  auto session = plain->Connect(request);
  CollectingSink sink = Run(*session, "SELECT FULLTEXTSERVICEPROPERTY('IsFulltextInstalled')");
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(sink.sets[0].rows[0][0], Value(0));
  Ok(*session, "CREATE DATABASE Small");
  EXPECT_EQ(Run(*session, "USE Small EXEC sp_fulltext_database 'enable'").FirstError(), 7609);
  EXPECT_EQ(Run(*session, "USE Small EXEC sp_help_fulltext_catalogs").FirstError(), 15601);
}

TEST_F(FullTextTest, SqlServer70HasNoChangeTracking) {
  InstanceConfig config;
  config.product_version = "7.00.1063";
  auto old = host_->Create("Old", config);
  LoginRequest request;
  request.login = "sa";
  auto session = old->Connect(request);
  Ok(*session, "CREATE DATABASE Sales");
  Ok(*session,
     "USE Sales CREATE TABLE Document (EntryID INT NOT NULL CONSTRAINT PK_Document "
     "PRIMARY KEY, Title NVARCHAR(255), PlainText NTEXT, Comment NVARCHAR(4000)) "
     "INSERT INTO Document VALUES (1, N'Old times', N'', N'')");
  // The collection's sequence gets as far as activating; tracking is refused.
  for (size_t i = 0; i < kCreate.size(); ++i) {
    CollectingSink sink = Run(*session, kCreate[i]);
    EXPECT_EQ(sink.FirstError(), i < 7 ? 0 : 15600) << kCreate[i];
    if (sink.FirstError() != 0) break;
  }
  CollectingSink status = Run(*session, "EXEC sp_help_fulltext_catalogs 'Doc_Desc'");
  ASSERT_EQ(status.sets.size(), 1u);
  EXPECT_EQ(status.sets[0].rows[0][3], Value(0));
  Ok(*session, "EXEC sp_fulltext_catalog 'Doc_Desc', 'start_full'");
  CollectingSink found =
      Run(*session, "SELECT EntryID FROM Document WHERE CONTAINS(Title, 'times')");
  ASSERT_EQ(found.sets.size(), 1u);
  EXPECT_EQ(found.sets[0].rows.size(), 1u);
}

}  // namespace
}  // namespace sandbox::testing
