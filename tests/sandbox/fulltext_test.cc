// Full-text search on the sandbox: the procedures a collection's index is made, stopped and
// dropped with, the catalogue's state and figures as they follow the documents, the errors for
// steps taken in the wrong order, CONTAINS over the index, and names that try to break out.
#include "sandbox/fulltext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/full_text_statements.h"
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

namespace fs = std::filesystem;
using common::Value;

const auto& kCreate = common::testing::kFullTextCreate;
const auto& kStop = common::testing::kFullTextStop;
const auto& kDrop = common::testing::kFullTextDrop;

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

  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Sales', 'IsFulltextEnabled')"), Value(0));
  RunAll(kCreate);
  EXPECT_EQ(Status(), 9);
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Sales', 'IsFulltextEnabled')"), Value(1));
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
  // Dropping an idle index works as well as a tracking one.
  RunAll(kStop);
  RunAll(kDrop);
  EXPECT_EQ(Status(), -1);
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
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Sales', 'IsFulltextEnabled')"), Value(0));
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
  // 7.0's sp_fulltext_table marks tables only: populations belong to the catalogue.
  for (const char* action :
       {"start_full", "start_incremental", "stop", "stop_change_tracking", "update_index",
        "Stop_background_updateindex", "start_background_updateindex"}) {
    EXPECT_EQ(Run(*session, std::string("EXEC sp_fulltext_table 'Document', '") + action + "'")
                  .FirstError(),
              15600)
        << action;
  }
  Ok(*session, "EXEC sp_fulltext_table 'Document', 'deactivate'");
  Ok(*session, "EXEC sp_fulltext_table 'Document', 'activate'");
  Ok(*session, "EXEC sp_fulltext_catalog 'Doc_Desc', 'start_full'");
  CollectingSink found =
      Run(*session, "SELECT EntryID FROM Document WHERE CONTAINS(Title, 'times')");
  ASSERT_EQ(found.sets.size(), 1u);
  EXPECT_EQ(found.sets[0].rows.size(), 1u);
}

class ContainsTest : public FullTextTest {
 protected:
  void SetUp() override {
    FullTextTest::SetUp();
    AddDocument("Annual report", "Revenue grew in the northern region", "approved by the board");
    AddDocument("Board minutes", "The board met twice; revenue was discussed");
    AddDocument("Caf\xC3\xA9 menu",
                "Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
                "e and coffee",
                "O''Brien''s favourite");
    AddDocument("Travel policy", "Economy class for every flight", "revenue neutral");
    RunAll(kCreate);
  }
};

TEST_F(ContainsTest, WordsPhrasesAndPrefixesInChosenColumns) {
  EXPECT_EQ(Found("CONTAINS(Title, 'board')"), V({2}));
  EXPECT_EQ(Found("CONTAINS(*, 'board')"), V({1, 2}));
  EXPECT_EQ(Found("CONTAINS((Title, Comment), 'board')"), V({1, 2}));
  EXPECT_EQ(Found("CONTAINS(PlainText, '\"northern region\"')"), V({1}));
  EXPECT_EQ(Found("CONTAINS(PlainText, '\"region northern\"')"), V{});
  EXPECT_EQ(Found("CONTAINS(PlainText, '\"rev*\"')"), V({1, 2}));
  EXPECT_EQ(Found("CONTAINS(Document.Comment, 'neutral')"), V({4}));
  // Case and accents do not matter, punctuation is no part of a word.
  EXPECT_EQ(Found("CONTAINS(Title, 'CAFE')"), V({3}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'creme')"), V({3}));
  EXPECT_EQ(Found("CONTAINS(Comment, '\"O''Brien''s\"')"), V({3}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'twice')"), V({2}));
  // Alongside other conditions, in counts and with the condition in a variable.
  EXPECT_EQ(Found("FileSize = 0 AND CONTAINS(*, 'revenue') AND EntryID > 1"), V({2, 4}));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Document WHERE CONTAINS(*, 'revenue')"), Value(3));
  RowSet set = Query(
      "DECLARE @q NVARCHAR(100) SET @q = N'economy' "
      "SELECT EntryID FROM Document WHERE CONTAINS(PlainText, @q)");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], Value(4));
  // A join qualifies the column or the table.
  EXPECT_EQ(Found("EntryID IN (SELECT d.EntryID FROM Document d JOIN Document e ON d.EntryID = "
                  "e.EntryID WHERE CONTAINS(d.Title, 'board'))"),
            V({2}));
}

TEST_F(ContainsTest, OperatorsCombineTerms) {
  EXPECT_EQ(Found("CONTAINS(*, 'revenue AND board')"), V({1, 2}));
  EXPECT_EQ(Found("CONTAINS(*, 'revenue AND NOT board')"), V({4}));
  EXPECT_EQ(Found("CONTAINS(*, 'revenue &! board')"), V({4}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'revenue & northern')"), V({1}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'economy | coffee')"), V({3, 4}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'economy or coffee')"), V({3, 4}));
  EXPECT_EQ(Found("CONTAINS(PlainText, '(economy OR coffee) AND NOT flight')"), V({3}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'board NEAR revenue')"), V({2}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'board ~ \"rev*\"')"), V({2}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'FORMSOF(INFLECTIONAL, meet, met)')"), V({2}));
  EXPECT_EQ(Found("CONTAINS(PlainText, 'ISABOUT(coffee WEIGHT(0.5), flight)')"), V({3, 4}));
  EXPECT_EQ(Found("FREETEXT(PlainText, 'coffee and flight')"), V({3, 4}));
  EXPECT_EQ(Found("FREETEXT(*, '\"travel policy\"')"), V({4}));
}

TEST_F(ContainsTest, ViewsSearchTheIndexWhereverTheDatabaseIsAttached) {
  Ok("CREATE VIEW BoardDocuments AS SELECT EntryID, Title FROM Document "
     "WHERE CONTAINS(*, 'board')");
  auto ids = [&](const std::string& from) {
    RowSet set = Query("SELECT EntryID FROM " + from + " ORDER BY EntryID");
    V out;
    for (const auto& row : set.rows) out.push_back(row[0].ToInt().value_or(-1));
    return out;
  };
  EXPECT_EQ(ids("BoardDocuments"), V({1, 2}));
  AddDocument("Board dinner", "");
  EXPECT_EQ(ids("BoardDocuments"), V({1, 2, 5}));
  // From another database, and after a detach and attach that changes how it is attached.
  EXPECT_EQ(ids("Sales.dbo.BoardDocuments"), V({1, 2, 5}));
  std::string file =
      Scalar("SELECT filename FROM master..sysdatabases WHERE name = 'Sales'").ToText();
  Ok("USE master EXEC sp_detach_db 'Sales'");
  Ok("CREATE DATABASE Before");  // takes the number Sales had
  Ok("EXEC sp_attach_db 'Sales', '" + file + "'");
  EXPECT_NE(Scalar("SELECT DB_ID('Sales')"), Scalar("SELECT DB_ID('Before')"));
  EXPECT_EQ(ids("Sales..BoardDocuments"), V({1, 2, 5}));
}

TEST_F(ContainsTest, BadConditionsAndTargetsAreRefused) {
  auto error = [&](const std::string& where) {
    return Error("SELECT EntryID FROM Document WHERE " + where);
  };
  EXPECT_EQ(error("CONTAINS(Title, 'revenue AND')"), 7630);
  EXPECT_EQ(error("CONTAINS(Title, 'revenue board')"), 7630);
  EXPECT_EQ(error("CONTAINS(Title, 'NOT board')"), 7630);
  EXPECT_EQ(error("CONTAINS(Title, '\"unclosed')"), 7630);
  EXPECT_EQ(error("CONTAINS(Title, '(board')"), 7630);
  EXPECT_EQ(error("CONTAINS(Title, 'FORMSOF(SOMEHOW, board)')"), 7630);
  EXPECT_EQ(error("CONTAINS(Title, '')"), 7645);
  EXPECT_EQ(error("CONTAINS(Title, '   ')"), 7645);
  EXPECT_EQ(error("CONTAINS(Title, NULL)"), 7645);
  EXPECT_EQ(error("CONTAINS(Url, 'x')"), 7601);
  EXPECT_EQ(error("CONTAINS(FileSize, 'x')"), 7601);
  EXPECT_EQ(Error("SELECT 1 FROM Document d JOIN Document e ON d.EntryID = e.EntryID "
                  "WHERE CONTAINS(*, 'board')"),
            7615);
  EXPECT_EQ(Error("SELECT 1 FROM Document d JOIN Document e ON d.EntryID = e.EntryID "
                  "WHERE CONTAINS((d.Title, e.Comment), 'board')"),
            7646);
  Ok("CREATE TABLE Other (Id INT NOT NULL PRIMARY KEY, Body NVARCHAR(100))");
  EXPECT_EQ(Error("SELECT Id FROM Other WHERE CONTAINS(*, 'x')"), 7601);
  EXPECT_EQ(Error("SELECT Id FROM (SELECT Id, Body FROM Other) AS o WHERE CONTAINS(Body, 'x')"),
            7601);
  // A deactivated index answers no queries; activating it again brings it back.
  Ok("EXEC sp_fulltext_table 'Document', 'deactivate'");
  EXPECT_EQ(error("CONTAINS(Title, 'board')"), 7601);
  EXPECT_EQ(Status(), 0);
  Ok("EXEC sp_fulltext_table 'Document', 'activate'");
  EXPECT_EQ(Found("CONTAINS(Title, 'board')"), V({2}));
  EXPECT_EQ(Status(), 9);
}

TEST_F(ContainsTest, ConditionsThatLookLikeIndexSyntaxAreJustWords) {
  // Every term reaches the index as a quoted phrase, so its own operators mean nothing.
  EXPECT_EQ(Found("CONTAINS(Title, 'c0:board')"), V{});
  EXPECT_EQ(Found("CONTAINS(Title, '\"board OR annual\"')"), V{});
  EXPECT_EQ(Error("SELECT 1 FROM Document WHERE CONTAINS(Title, '\"board\"\" OR \"\"annual\"')"),
            7630);
  EXPECT_EQ(Found("CONTAINS(Title, '^board')"), V({2}));
  EXPECT_EQ(Found("CONTAINS(Title, '\"NEAR(board annual)\"')"), V{});
  EXPECT_EQ(Found("CONTAINS(Title, '\"*\"')"), V{});
  // Very long and very deep conditions are refused, not followed into the ground.
  EXPECT_EQ(Error("SELECT EntryID FROM Document WHERE CONTAINS(Title, REPLICATE('(', 20000) + "
                  "'board' + REPLICATE(')', 20000))"),
            7630);
  EXPECT_EQ(Error("SELECT EntryID FROM Document WHERE CONTAINS(Title, "
                  "REPLICATE(CAST('board OR ' AS VARCHAR(MAX)), 5000) + 'annual')"),
            0);
}

TEST_F(FullTextTest, TextKeysAndUniqueIndexesServeAsKeys) {
  Ok("CREATE TABLE Notes (Code VARCHAR(20) NOT NULL, Body NVARCHAR(400) NULL)");
  Ok("CREATE UNIQUE INDEX UX_Notes ON Notes (Code)");
  Ok("INSERT INTO Notes VALUES ('a-1', N'first note about apples')");
  Ok("INSERT INTO Notes VALUES ('b''2', N'second note about pears')");
  Ok("EXEC sp_fulltext_database 'enable'");
  Ok("EXEC sp_fulltext_catalog 'Notes_Cat', 'create'");
  Ok("EXEC sp_fulltext_table 'dbo.Notes', 'create', 'Notes_Cat', 'UX_Notes'");
  Ok("EXEC sp_fulltext_column 'Notes', 'Body', 'add'");
  Ok("EXEC sp_fulltext_table 'Notes', 'start_change_tracking'");
  Ok("EXEC sp_fulltext_table 'Notes', 'start_background_updateindex'");
  auto codes = [&](const std::string& condition) {
    RowSet set =
        Query("SELECT Code FROM Notes WHERE CONTAINS(Body, '" + condition + "') ORDER BY Code");
    std::vector<std::string> out;
    for (const auto& row : set.rows) out.push_back(row[0].ToText());
    return out;
  };
  using S = std::vector<std::string>;
  EXPECT_EQ(codes("note"), S({"a-1", "b'2"}));
  Ok("INSERT INTO Notes VALUES ('c3', N'third note about plums')");
  Ok("UPDATE Notes SET Code = 'a-9' WHERE Code = 'a-1'");
  Ok("UPDATE Notes SET Body = N'pears again' WHERE Code = 'c3'");
  EXPECT_EQ(codes("apples"), S({"a-9"}));
  EXPECT_EQ(codes("pears"), S({"b'2", "c3"}));
  EXPECT_EQ(codes("plums"), S{});
  Ok("DELETE FROM Notes WHERE Code = 'b''2'");
  EXPECT_EQ(codes("pears"), S({"c3"}));
  EXPECT_EQ(Property("ItemCount", "Notes_Cat"), Value(2));
  // The key's index stays while the index needs it.
  EXPECT_EQ(Error("DROP INDEX Notes.UX_Notes"), 7613);
  RowSet tables = Query("EXEC sp_help_fulltext_tables 'Notes_Cat'");
  ASSERT_EQ(tables.rows.size(), 1u);
  EXPECT_EQ(tables.columns[0].name, "TABLE_OWNER");
  EXPECT_EQ(tables.rows[0][0], Value("dbo"));
  EXPECT_EQ(tables.rows[0][1], Value("Notes"));
  EXPECT_EQ(tables.rows[0][2], Value("UX_Notes"));
  EXPECT_EQ(tables.rows[0][3], Value(1));
  EXPECT_EQ(tables.rows[0][4], Value(1));
  EXPECT_EQ(tables.rows[0][5], Value("Notes_Cat"));
}

TEST_F(FullTextTest, TheTablesOwnDdlKeepsTheIndexWhole) {
  AddDocument("Annual report", "Revenue grew");
  RunAll(kCreate);
  EXPECT_EQ(Error("ALTER TABLE Document DROP COLUMN Comment"), 7614);
  EXPECT_EQ(Error("ALTER TABLE Document ALTER COLUMN Comment NVARCHAR(100) NULL"), 7614);
  EXPECT_EQ(Error("ALTER TABLE Document DROP CONSTRAINT PK_Document"), 7613);
  // Other columns change freely, and tracking goes on in the rebuilt table.
  Ok("ALTER TABLE Document ADD Extra INT NULL, Other NVARCHAR(10) NULL");
  Ok("ALTER TABLE Document DROP COLUMN Other");
  AddDocument("After the change", "Still tracked");
  EXPECT_EQ(Items(), 2);
  EXPECT_EQ(Found("CONTAINS(PlainText, 'tracked')"), V({2}));
  // Dropping the table takes its index along; the catalogue can go afterwards.
  Ok("DROP TABLE Document");
  RowSet catalogs = Query("EXEC sp_help_fulltext_catalogs");
  ASSERT_EQ(catalogs.rows.size(), 1u);
  EXPECT_EQ(catalogs.rows[0][4], Value(0));
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(Items(), 0);
  Ok("EXEC sp_fulltext_catalog 'Doc_Desc', 'drop'");
  // A new table of the same name starts without an index.
  Ok("CREATE TABLE Document (EntryID INT NOT NULL CONSTRAINT PK_Document PRIMARY KEY, "
     "Title NVARCHAR(10))");
  EXPECT_EQ(Error("SELECT 1 FROM Document WHERE CONTAINS(Title, 'x')"), 7601);
}

TEST_F(FullTextTest, ADetachedDatabaseTakesItsIndexAlong) {
  AddDocument("Annual report", "Revenue grew");
  AddDocument("Board minutes", "The board met");
  RunAll(kCreate);
  std::string file =
      Scalar("SELECT filename FROM master..sysdatabases WHERE name = 'Sales'").ToText();
  Ok("USE master");
  Ok("EXEC sp_detach_db 'Sales'");
  Ok("EXEC sp_attach_db 'Sales', '" + file + "'");
  Ok("USE Sales");
  // Definitions, state and index come back as they were, and tracking goes on.
  EXPECT_EQ(Status(), 9);
  EXPECT_EQ(Scalar("SELECT DATABASEPROPERTY('Sales', 'IsFulltextEnabled')"), Value(1));
  EXPECT_EQ(Items(), 2);
  EXPECT_EQ(Found("CONTAINS(*, 'board')"), V({2}));
  AddDocument("Travel policy", "Economy class");
  EXPECT_EQ(Items(), 3);
  EXPECT_EQ(Found("CONTAINS(Title, 'travel')"), V({3}));

  // Renamed, it keeps them too.
  Ok("USE master");
  Ok("EXEC sp_renamedb 'Sales', 'Quillarchive_Sales'");
  Ok("USE Quillarchive_Sales");
  EXPECT_EQ(Status(), 9);
  EXPECT_EQ(Found("CONTAINS(PlainText, 'economy')"), V({3}));
}

TEST_F(FullTextTest, DroppingTheDatabaseRemovesItsCatalogueFolders) {
  RunAll(kCreate);
  Ok("EXEC sp_fulltext_catalog 'Second', 'create'");
  int dbid = Dbid();
  ASSERT_TRUE(fs::is_directory(CatalogFolder(dbid, 5)));
  ASSERT_TRUE(fs::is_directory(CatalogFolder(dbid, 6)));
  // Refused while in use: everything stays.
  auto other = Connect("Sales");
  EXPECT_EQ(Error("USE master DROP DATABASE Sales"), 3702);
  EXPECT_TRUE(fs::is_directory(CatalogFolder(dbid, 5)));
  other.reset();
  Ok("DROP DATABASE Sales");
  EXPECT_FALSE(fs::exists(CatalogFolder(dbid, 5)));
  EXPECT_FALSE(fs::exists(CatalogFolder(dbid, 6)));
}

TEST_F(FullTextTest, IndexSizeAndItemCountFollowTheData) {
  Ok("EXEC sp_fulltext_database 'enable'");
  Ok("EXEC sp_fulltext_catalog 'Big', 'create'");
  Ok("EXEC sp_fulltext_table 'Document', 'create', 'Big', 'PK_Document'");
  Ok("EXEC sp_fulltext_column 'Document', 'PlainText', 'add'");
  EXPECT_EQ(Property("ItemCount", "Big"), Value(0));
  EXPECT_EQ(Property("IndexSize", "Big"), Value(0));
  EXPECT_EQ(Property("PopulateCompletionAge", "Big"), Value(0));  // never populated
  Ok("CREATE TABLE Numbers (n INT NOT NULL)");
  Ok("DECLARE @i INT SET @i = 0 WHILE @i < 100 BEGIN INSERT INTO Numbers VALUES (@i) "
     "SET @i = @i + 1 END");
  // Twenty thousand documents of random words: well over a megabyte of index.
  Ok("INSERT INTO Document (Title, PlainText) SELECT N'x', CAST(NEWID() AS NVARCHAR(40)) + N' ' + "
     "CAST(NEWID() AS NVARCHAR(40)) + N' ' + CAST(NEWID() AS NVARCHAR(40)) + N' ' + "
     "CAST(NEWID() AS NVARCHAR(40)) FROM Numbers a CROSS JOIN Numbers b "
     "CROSS JOIN (SELECT 1 AS twice UNION ALL SELECT 2) c");
  // Nothing is indexed before a population.
  EXPECT_EQ(Property("ItemCount", "Big"), Value(0));
  Ok("EXEC sp_fulltext_catalog 'Big', 'start_incremental'");
  EXPECT_EQ(Property("ItemCount", "Big"), Value(20000));
  std::int64_t size = Property("IndexSize", "Big").ToInt().value_or(0);
  EXPECT_GE(size, 1);
  EXPECT_GT(Property("UniqueKeyCount", "Big").ToInt().value_or(0), 100000);
  Ok("DELETE FROM Document");
  EXPECT_EQ(Property("ItemCount", "Big"), Value(20000));  // no change tracking
  Ok("EXEC sp_fulltext_catalog 'Big', 'start_full'");
  EXPECT_EQ(Property("ItemCount", "Big"), Value(0));
  EXPECT_LT(Property("IndexSize", "Big").ToInt().value_or(99), size);
  // A rebuild empties the catalogue and forgets its last population.
  AddDocument("One", "More");
  Ok("EXEC sp_fulltext_catalog 'Big', 'start_full'");
  EXPECT_EQ(Property("ItemCount", "Big"), Value(1));
  Ok("EXEC sp_fulltext_catalog 'Big', 'rebuild'");
  EXPECT_EQ(Property("ItemCount", "Big"), Value(0));
  EXPECT_EQ(Property("PopulateCompletionAge", "Big"), Value(0));
  EXPECT_TRUE(Property("NoSuchProperty", "Big").IsNull());
  EXPECT_TRUE(Property("ItemCount", "NoSuchCatalog").IsNull());
}

TEST_F(FullTextTest, HostileNamesAreNamesAndNothingElse) {
  Ok("EXEC sp_fulltext_database 'enable'");
  for (const std::string& name :
       {std::string("O''Brien"), std::string("x]"), std::string("a;DROP TABLE Document--"),
        std::string("[Doc_Desc]"), std::string(120, 'n')}) {
    Ok("EXEC sp_fulltext_catalog '" + name + "', 'create'");
    EXPECT_EQ(Property("ItemCount", name), Value(0)) << name;
  }
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog '" + std::string(129, 'n') + "', 'create'"), 103);
  RowSet catalogs = Query("EXEC sp_help_fulltext_catalogs");
  ASSERT_EQ(catalogs.rows.size(), 5u);
  EXPECT_EQ(catalogs.rows[0][1], Value("O'Brien"));
  EXPECT_EQ(catalogs.rows[1][1], Value("x]"));
  EXPECT_EQ(catalogs.rows[2][1], Value("a;DROP TABLE Document--"));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Document"), Value(0));  // still there
  Ok("EXEC sp_help_fulltext_catalogs 'O''Brien'");

  // A table, key and column whose names carry quotes, brackets and semicolons.
  Ok("CREATE TABLE [Tab'le; x]]] (Id INT NOT NULL CONSTRAINT [PK x'y] PRIMARY KEY, "
     "[Ti\"t]]le;] NVARCHAR(100) NULL)");
  Ok("EXEC sp_fulltext_table '[Tab''le; x]]]', 'create', 'O''Brien', 'PK x''y'");
  Ok("EXEC sp_fulltext_column 'Tab''le; x]', 'Ti\"t]le;', 'add'");
  Ok("EXEC sp_fulltext_table 'dbo.[Tab''le; x]]]', 'start_change_tracking'");
  Ok("EXEC sp_fulltext_table 'Tab''le; x]', 'start_background_updateindex'");
  Ok("INSERT INTO [Tab'le; x]]] VALUES (1, N'hello there'), (2, N'goodbye')");
  Ok("UPDATE [Tab'le; x]]] SET [Ti\"t]]le;] = N'hello again' WHERE Id = 2");
  RowSet found = Query(
      "SELECT Id FROM [Tab'le; x]]] WHERE CONTAINS([Ti\"t]]le;], 'hello') "
      "ORDER BY Id");
  ASSERT_EQ(found.rows.size(), 2u);
  EXPECT_EQ(Property("ItemCount", "O''Brien"), Value(2));
  Ok("DELETE FROM [Tab'le; x]]] WHERE Id = 1");
  EXPECT_EQ(Property("ItemCount", "O''Brien"), Value(1));
  EXPECT_EQ(Error("EXEC sp_fulltext_table 'Tab''le; x', 'drop'"), 15009);
  Ok("EXEC sp_fulltext_table '[Tab''le; x]]]', 'drop'");
  Ok("EXEC sp_fulltext_catalog 'O''Brien', 'drop'");
  EXPECT_EQ(Query("EXEC sp_help_fulltext_catalogs").rows.size(), 4u);
  // A root folder that is not there is refused, one that is gets the catalogue's folder.
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog 'Elsewhere', 'create', 'C:\\Nowhere'"), 7610);
  EXPECT_EQ(Error("EXEC sp_fulltext_catalog 'Elsewhere', 'create', 'relative\\path'"), 7610);
  fs::create_directories(instance_->MapPath("C:\\Indexes"));
  Ok("EXEC sp_fulltext_catalog 'Elsewhere', 'create', 'C:\\Indexes'");
  RowSet elsewhere = Query("EXEC sp_help_fulltext_catalogs 'Elsewhere'");
  ASSERT_EQ(elsewhere.rows.size(), 1u);
  EXPECT_EQ(elsewhere.rows[0][2], Value("C:\\Indexes"));
  int id = static_cast<int>(elsewhere.rows[0][0].ToInt().value_or(0));
  char folder[32];
  std::snprintf(folder, sizeof folder, "SQL%05d%05d", Dbid(), id);
  EXPECT_TRUE(fs::is_directory(instance_->MapPath("C:\\Indexes") / folder));
}

TEST_F(FullTextTest, OnlyOwnersChangeFullTextDefinitions) {
  CollectingSink added = Run("EXEC sp_addlogin 'clerk', 'Secret1' EXEC sp_grantdbaccess 'clerk'");
  if (added.FirstError() == 2812) GTEST_SKIP() << "needs the sandbox's login procedures";
  ASSERT_EQ(added.FirstError(), 0) << added.ErrorText();
  AddDocument("Annual report", "Revenue grew");
  RunAll(kCreate);
  auto clerk = As("clerk", "Secret1", "Sales");
  EXPECT_EQ(Run(*clerk, "EXEC sp_fulltext_database 'disable'").FirstError(), 15247);
  EXPECT_EQ(Run(*clerk, "EXEC sp_fulltext_catalog 'Mine', 'create'").FirstError(), 15247);
  EXPECT_EQ(Run(*clerk, kDrop[0]).FirstError(), 15247);
  EXPECT_EQ(Run(*clerk, "EXEC sp_fulltext_column 'Document', 'Url', 'add'").FirstError(), 15247);
  // Anyone may look.
  CollectingSink look = Run(*clerk, "EXEC sp_help_fulltext_catalogs 'Doc_Desc'");
  EXPECT_EQ(look.FirstError(), 0);
  // db_ddladmin may index tables but not make catalogues.
  Ok("EXEC sp_addrolemember 'db_ddladmin', 'clerk'");
  EXPECT_EQ(Run(*clerk, "EXEC sp_fulltext_column 'Document', 'Url', 'add'").FirstError(), 0);
  EXPECT_EQ(Run(*clerk, "EXEC sp_fulltext_catalog 'Mine', 'create'").FirstError(), 15247);
  EXPECT_EQ(Status(), 9);
}

}  // namespace
}  // namespace sandbox::testing
