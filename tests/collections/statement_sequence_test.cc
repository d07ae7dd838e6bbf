// Whole statement sequences the other tests pin only in part: a drop with the connections it
// ends, creation on SQL Server 7.0 statement by statement, every operation of a collection whose
// database name has text before the prefix, and the automatic shrinking of a hostile name.
#include <gtest/gtest.h>

#include <map>

#include "collections/databases.h"
#include "fixture.h"
#include "format/install_script.h"

namespace collections {
namespace {

using testing::Column;
using testing::FakeResult;
using testing::kFullTextInstalled;
using testing::kMsVer;
using testing::kSystemUser;
using testing::TableColumn;

class StatementSequenceTest : public testing::CollectionsFixture {
 protected:
  void Start(const std::string& version, const std::vector<std::string>& databases) {
    server_ = ConnectedServer(version);
    HelpDb(databases);
    catalogue_ = dynamic_cast<Databases*>(&server_->Databases());
    server_session_ = SessionOf(server_->Connection());
    std::vector<db::ColumnInfo> document = {TableColumn("Document", "EntryID", "int", true, true)};
    for (const auto& [name, type] :
         std::vector<std::pair<const char*, const char*>>{{"UniqueID", "uniqueidentifier"},
                                                          {"FolderID", "smallint"},
                                                          {"VisibleInFolderID", "smallint"},
                                                          {"Url", "nvarchar"},
                                                          {"TypeID", "smallint"},
                                                          {"CodePage", "int"},
                                                          {"FileSize", "int"},
                                                          {"Title", "nvarchar"},
                                                          {"Content", "ntext"},
                                                          {"BinaryContent", "image"},
                                                          {"PlainText", "ntext"},
                                                          {"Filename", "nvarchar"},
                                                          {"CreationTime", "datetime"},
                                                          {"FileModifiedDate", "datetime"},
                                                          {"Comment", "nvarchar"},
                                                          {"Importance", "tinyint"},
                                                          {"BinaryData", "bit"},
                                                          {"Categories", "bit"},
                                                          {"Status", "int"}}) {
      document.push_back(TableColumn("Document", name, type));
    }
    fake_->On("SELECT * FROM Document", FakeResult().Rows(document, {}));
    fake_->On("SELECT @@IDENTITY", FakeResult().Rows({Column("", "numeric")}, {{db::Value(1)}}));
    SystemUser("sa");
    log_->Clear();
    fake_->ClearCalls();
  }

  // The statements of each connection other than the server's, in the order they first sent one.
  std::vector<std::vector<std::string>> OtherConnections() {
    std::vector<int> ids;
    std::map<int, std::vector<std::string>> texts;
    for (const db::Statement& statement : log_->statements()) {
      if (statement.connection_id == server_->Connection().Id()) continue;
      if (!texts.count(statement.connection_id)) ids.push_back(statement.connection_id);
      texts[statement.connection_id].push_back(statement.text);
    }
    std::vector<std::vector<std::string>> out;
    for (int id : ids) out.push_back(texts[id]);
    return out;
  }

  std::vector<std::string> ServerTexts() { return TextsOn(server_->Connection()); }

  std::unique_ptr<servers::Server> server_;
  Databases* catalogue_ = nullptr;
  int server_session_ = 0;
};

TEST_F(StatementSequenceTest, DeleteAsksOnTheCollectionThenEndsItsConnectionsThenDrops) {
  Start("8.00.760", {"Quillarchive_A", "Quillarchive_Sales"});
  std::shared_ptr<Database> sales = catalogue_->Item("2");
  int sales_session = SessionOf(sales->Connection());
  SpWho({{server_session_, "sa", "master"},
         {sales_session, "sa", "Quillarchive_Sales"},
         {88, "CORP\\anna", "Quillarchive_A"},
         {89, "sa", "QUILLARCHIVE_SALES"}});
  log_->Clear();
  ASSERT_TRUE(catalogue_->Delete("2"));
  EXPECT_EQ(TextsOn(sales->Connection()), (std::vector<std::string>{kFullTextInstalled, kSystemUser,
                                                                    "SELECT @@SPID;", "sp_who"}));
  // The collection's own connection is closed rather than killed.
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{"KILL 89", "DROP DATABASE Quillarchive_Sales"}));
  EXPECT_EQ(sales->Connection().State(), db::kStateClosed);
  EXPECT_TRUE(platform_.ui.boxes().empty());
  EXPECT_EQ(catalogue_->Item("1")->Name(), "A");
  EXPECT_EQ(catalogue_->Count(), 1);
}

TEST_F(StatementSequenceTest, CreationOnSql70SendsEveryStatementInItsPlace) {
  Start("7.00.623", {});
  std::shared_ptr<Database> created = catalogue_->AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(
      ServerTexts(),
      (std::vector<std::string>{
          "CREATE DATABASE Sales ON ( NAME = Sales, FILENAME = 'C:\\Data\\Sales.mdf')", kMsVer,
          "sp_dboption @dbname ='Sales' , @optname = 'single user', @optvalue = 'true'",
          "sp_renamedb @dbname ='Sales' , @newname = 'Quillarchive_Sales'",
          "sp_dboption @dbname ='Quillarchive_Sales' , @optname = 'single user', @optvalue = "
          "'false'"}));
  std::vector<std::vector<std::string>> others = OtherConnections();
  ASSERT_EQ(others.size(), 2u);
  std::vector<std::string> expected =
      format::InstallationScript({"{00000000-0000-4000-8000-000000000001}", 37622});
  expected.push_back("EXEC sp_dboption 'Quillarchive_Sales', 'autoshrink', 'true'");
  expected.push_back("SELECT * FROM Document");
  ASSERT_GT(others[0].size(), expected.size()) << ::testing::PrintToString(others[0]);
  EXPECT_EQ(std::vector<std::string>(others[0].begin(), others[0].begin() + 115), expected);
  // The template document goes in as the cursor's new row, whose key the cursor reads back.
  EXPECT_TRUE(others[0][115].starts_with("INSERT INTO Document")) << others[0][115];
  ASSERT_EQ(others[0].size(), 117u) << ::testing::PrintToString(others[0]);
  EXPECT_EQ(others[0][116], "SELECT @@IDENTITY");
  // The collection's own connection asks only whether full-text search is installed.
  EXPECT_EQ(others[1], (std::vector<std::string>{kFullTextInstalled}));
  EXPECT_EQ(TextsOn(created->Connection()), others[1]);
}

TEST_F(StatementSequenceTest, AHostileNameIsBracketedWhereAutomaticShrinkingIsAnAlter) {
  Start("8.00.760", {});
  const std::string name = "x]; DROP DATABASE y --";
  ASSERT_TRUE(catalogue_->CreateDatabase(name, "C:\\Data\\x.mdf"));
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{
                "CREATE DATABASE [x]]; DROP DATABASE y --] ON ( NAME = [x]]; DROP DATABASE y --], "
                "FILENAME = 'C:\\Data\\x.mdf')",
                kMsVer,
                "sp_renamedb @dbname ='x]; DROP DATABASE y --' , @newname = 'Quillarchive_x]; DROP "
                "DATABASE y --'"}));
  std::vector<std::vector<std::string>> others = OtherConnections();
  ASSERT_EQ(others.size(), 1u);
  ASSERT_GE(others[0].size(), 114u);
  EXPECT_EQ(others[0][113],
            "ALTER DATABASE [Quillarchive_x]]; DROP DATABASE y --] SET AUTO_SHRINK ON;");
  EXPECT_EQ(fake_->connects().back().catalog, "Quillarchive_" + name);
}

class PrefixAfterTextTest : public StatementSequenceTest {
 protected:
  void SetUp() override {
    Start("8.00.760", {"Quillarchive_C", "Old_Quillarchive_C"});
    listed_ = catalogue_->Item("1");
    old_ = catalogue_->Item("2");
    old_session_ = SessionOf(old_->Connection());
    listed_session_ = SessionOf(listed_->Connection());
    log_->Clear();
  }

  std::shared_ptr<Database> listed_;
  std::shared_ptr<Database> old_;
  int old_session_ = 0;
  int listed_session_ = 0;
};

TEST_F(PrefixAfterTextTest, DetachEndsOnlyTheConnectionsToTheDatabaseAsListed) {
  ASSERT_EQ(old_->DatabaseName(), "Old_Quillarchive_C");
  SpWho({{listed_session_, "sa", "Quillarchive_C"},
         {old_session_, "sa", "Old_Quillarchive_C"},
         {91, "sa", "Old_Quillarchive_C"}});
  ASSERT_TRUE(catalogue_->Remove("2"));
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{"KILL 91",
                                                     "sp_detach_db "
                                                     "@dbname='Old_Quillarchive_C';"}));
  EXPECT_NO_THROW(listed_->Connection().Execute("SELECT 1"));
  EXPECT_THROW(old_->Connection().Execute("SELECT 1"), db::Error);
}

TEST_F(PrefixAfterTextTest, TheLogOfTheDatabaseAsListedIsShrunk) {
  const std::string files =
      "SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = "
      "sysaltfiles.dbid WHERE sysaltfiles.filename LIKE '%.LDF%' AND "
      "sysdatabases.name='Old_Quillarchive_C'";
  fake_->On(files, FakeResult().Rows({Column("size", "int"), Column("name", "nchar")},
                                     {{db::Value(512), db::Value("Old_log")}}));
  old_->ShrinkLogfile();
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{files}));
  EXPECT_EQ(TextsOn(old_->Connection()),
            (std::vector<std::string>{"BACKUP LOG Old_Quillarchive_C WITH TRUNCATE_ONLY",
                                      "DBCC SHRINKFILE(Old_log, 1)"}));
}

TEST_F(PrefixAfterTextTest, TheCollectionsOwnConnectionUsesTheDatabaseAsListed) {
  EXPECT_EQ(old_->Connection().DefaultDatabase(), "Old_Quillarchive_C");
  EXPECT_EQ(listed_->Connection().DefaultDatabase(), "Quillarchive_C");
  old_->GetExtendedProperty(0, 3, 1, "");
  EXPECT_EQ(log_->statements().back().catalog, "Old_Quillarchive_C");
}

}  // namespace
}  // namespace collections
