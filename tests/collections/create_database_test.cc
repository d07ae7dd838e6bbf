// Creating a collection: the statements on a SQL Server 7.0 and 2000, the template document, and
// what a failure at each step leaves behind.
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
using testing::TableColumn;

constexpr char kGuid[] = "{00000000-0000-4000-8000-000000000001}";
constexpr char kCreate[] =
    "CREATE DATABASE Sales ON ( NAME = Sales, FILENAME = 'C:\\Data\\Sales.mdf')";
constexpr char kRename[] = "sp_renamedb @dbname ='Sales' , @newname = 'Quillarchive_Sales'";
constexpr char kSingleUser[] =
    "sp_dboption @dbname ='Sales' , @optname = 'single user', @optvalue = 'true'";
constexpr char kMultiUser[] =
    "sp_dboption @dbname ='Quillarchive_Sales' , @optname = 'single user', @optvalue = 'false'";
constexpr char kAlterShrink[] = "ALTER DATABASE Quillarchive_Sales SET AUTO_SHRINK ON;";
constexpr char kOptionShrink[] = "EXEC sp_dboption 'Quillarchive_Sales', 'autoshrink', 'true'";
constexpr char kOpenDocument[] = "SELECT * FROM Document";
constexpr char kFailureIntro[] =
    "The following error occurred while creating the network collection:\r";

class CreateDatabaseTest : public testing::CollectionsFixture {
 protected:
  void Start(const std::string& version) {
    server_ = ConnectedServer(version);
    HelpDb({});
    catalogue_ = dynamic_cast<Databases*>(&server_->Databases());
    fake_->On(kOpenDocument, FakeResult().Rows(DocumentColumns(), {}));
    fake_->On("SELECT @@IDENTITY", FakeResult().Rows({Column("", "numeric")}, {{db::Value(1)}}));
    log_->Clear();
    fake_->ClearCalls();
  }

  static std::vector<db::ColumnInfo> DocumentColumns() {
    std::vector<db::ColumnInfo> columns = {TableColumn("Document", "EntryID", "int", true, true),
                                           TableColumn("Document", "UniqueID", "uniqueidentifier"),
                                           TableColumn("Document", "FolderID", "smallint"),
                                           TableColumn("Document", "VisibleInFolderID", "smallint"),
                                           TableColumn("Document", "Url", "nvarchar"),
                                           TableColumn("Document", "TypeID", "smallint"),
                                           TableColumn("Document", "CodePage", "int"),
                                           TableColumn("Document", "FileSize", "int"),
                                           TableColumn("Document", "Title", "nvarchar"),
                                           TableColumn("Document", "Content", "ntext"),
                                           TableColumn("Document", "BinaryContent", "image"),
                                           TableColumn("Document", "PlainText", "ntext"),
                                           TableColumn("Document", "Filename", "nvarchar"),
                                           TableColumn("Document", "CreationTime", "datetime"),
                                           TableColumn("Document", "FileModifiedDate", "datetime"),
                                           TableColumn("Document", "Comment", "nvarchar"),
                                           TableColumn("Document", "Importance", "tinyint"),
                                           TableColumn("Document", "BinaryData", "bit"),
                                           TableColumn("Document", "Categories", "bit"),
                                           TableColumn("Document", "Status", "int")};
    return columns;
  }

  // The statements of each connection, connections in the order they first sent one.
  std::vector<std::vector<std::string>> ByConnection() {
    std::vector<int> ids;
    std::map<int, std::vector<std::string>> texts;
    for (const db::Statement& statement : log_->statements()) {
      if (!texts.count(statement.connection_id)) ids.push_back(statement.connection_id);
      texts[statement.connection_id].push_back(statement.text);
    }
    std::vector<std::vector<std::string>> out;
    for (int id : ids) out.push_back(texts[id]);
    return out;
  }

  static std::vector<std::string> Script() { return format::InstallationScript({kGuid, 37622}); }

  // Makes the statement fail with a server error.
  void Fail(const std::string& text) {
    fake_->On(text, FakeResult().Error(1802,
                                       "CREATE DATABASE failed. Some file names listed "
                                       "could not be created. Check previous errors."));
  }

  // Records how many sessions were open whenever a DROP DATABASE arrived.
  void WatchDrops() {
    fake_->SetHandler([this](const db::testing::FakeCall& call) -> std::optional<FakeResult> {
      if (call.request.text.starts_with("DROP DATABASE")) {
        sessions_at_drop_.push_back(fake_->open_sessions());
      }
      return std::nullopt;
    });
  }

  std::vector<std::string> ServerTexts() { return TextsOn(server_->Connection()); }

  std::unique_ptr<servers::Server> server_;
  Databases* catalogue_ = nullptr;
  std::vector<int> sessions_at_drop_;
};

TEST_F(CreateDatabaseTest, OnSql2000TheRenameNeedsNoSingleUserModeAndShrinkingIsAnAlter) {
  Start("8.00.760");
  std::shared_ptr<Database> created = catalogue_->AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(created, nullptr);
  EXPECT_TRUE(platform_.ui.boxes().empty());

  std::vector<std::vector<std::string>> texts = ByConnection();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], (std::vector<std::string>{kCreate, kMsVer, kRename}));
  EXPECT_EQ(ServerTexts(), texts[0]);

  std::vector<std::string> expected = Script();
  ASSERT_EQ(expected.size(), 113u);
  expected.push_back(kAlterShrink);
  expected.push_back(kOpenDocument);
  ASSERT_GE(texts[1].size(), expected.size() + 1);
  EXPECT_EQ(std::vector<std::string>(texts[1].begin(), texts[1].begin() + 115), expected);
  // The template document goes in as the new row of the cursor.
  EXPECT_TRUE(texts[1][115].starts_with("INSERT INTO Document")) << texts[1][115];
  for (const char* value : {"N'file:///c:\\qablank.gif'", "110", "'qablank.gif'",
                            "'Interne Quillarchive-Vorlage. Bitte nicht löschen!'", "1252",
                            "0x4749463839610100010091", "51", "'2003-01-01T12:30:15.000'"}) {
    EXPECT_NE(texts[1][115].find(value), std::string::npos) << value << "\n" << texts[1][115];
  }

  // The new collection: its own connection, asked about full-text search.
  EXPECT_EQ(texts[2], (std::vector<std::string>{kFullTextInstalled}));
  EXPECT_EQ(TextsOn(created->Connection()), texts[2]);
  EXPECT_EQ(created->Name(), "Sales");
  EXPECT_EQ(created->DatabaseName(), "Quillarchive_Sales");
  EXPECT_EQ(catalogue_->Count(), 1);
  EXPECT_EQ(catalogue_->Item("1"), created);

  // The creation's connection: the server's string with the new catalogue, closed afterwards.
  std::vector<db::ConnectRequest> connects = fake_->connects();
  ASSERT_EQ(connects.size(), 3u);
  EXPECT_EQ(connects[1].catalog, "Quillarchive_Sales");
  EXPECT_EQ(connects[2].catalog, "Quillarchive_Sales");
  EXPECT_EQ(fake_->open_sessions(), 2);
}

TEST_F(CreateDatabaseTest, OnSql70TheRenameIsInSingleUserModeAndShrinkingIsAnOption) {
  Start("7.00.623");
  ASSERT_TRUE(catalogue_->CreateDatabase("Sales", "C:\\Data\\Sales.mdf"));
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{kCreate, kMsVer, kSingleUser, kRename, kMultiUser}));
  std::vector<std::vector<std::string>> texts = ByConnection();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1][113], kOptionShrink);
  EXPECT_EQ(texts[1][114], kOpenDocument);
  // Only the server's connection is left open.
  EXPECT_EQ(fake_->open_sessions(), 1);
}

TEST_F(CreateDatabaseTest, EachCollectionGetsAFreshGuidAndTheDayNumber) {
  Start("8.00.760");
  ASSERT_TRUE(catalogue_->CreateDatabase("A", "C:\\a.mdf"));
  ASSERT_TRUE(catalogue_->CreateDatabase("B", "C:\\b.mdf"));
  std::vector<std::string> texts = log_->Texts();
  std::vector<std::string> guids;
  for (const std::string& text : texts) {
    if (text.starts_with(
            "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 7,"))
      guids.push_back(text);
  }
  EXPECT_EQ(guids, (std::vector<std::string>{
                       "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 7, "
                       "'{00000000-0000-4000-8000-000000000001}');",
                       "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 7, "
                       "'{00000000-0000-4000-8000-000000000002}');"}));
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 8, "
                      "'37622');"),
            texts.end());
}

TEST_F(CreateDatabaseTest, AServerStringEndingInASemicolonGetsNoSecondOne) {
  Start("8.00.760");
  ASSERT_TRUE(catalogue_->CreateDatabase("Sales", "C:\\Data\\Sales.mdf"));
  std::vector<db::ConnectRequest> connects = fake_->connects();
  ASSERT_EQ(connects.size(), 2u);
  // The server connection's string ends in ";" (its connect time-out is appended that way).
  std::string server_string = server_->Connection().ConnectionString();
  ASSERT_EQ(server_string.back(), ';');
  EXPECT_EQ(connects[1].catalog, "Quillarchive_Sales");
  EXPECT_EQ(connects[1].connect_timeout_seconds, 5);
}

TEST_F(CreateDatabaseTest, AFullTextIndexIsCreatedWhereTheServerHasFullTextSearch) {
  Start("8.00.760");
  FullText(-1);
  std::shared_ptr<Database> created = catalogue_->AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(created, nullptr);
  std::vector<std::string> texts = TextsOn(created->Connection());
  // The state is read by the catalogue and again by the action.
  ASSERT_EQ(texts.size(), 2u + 2u + 9u);
  EXPECT_EQ(texts[4], "EXEC sp_fulltext_database 'enable'");
  EXPECT_EQ(texts.back(), "EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
}

TEST_F(CreateDatabaseTest, AFailedCreateIsReportedAndDropsNothing) {
  Start("8.00.760");
  Fail(kCreate);
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(catalogue_->AddNew("Sales", "C:\\Data\\Sales.mdf"), nullptr);
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  const platform::MessageRequest& box = platform_.ui.boxes()[0];
  EXPECT_EQ(box.text, std::string(kFailureIntro) +
                          "CREATE DATABASE failed. Some file names listed could not be created. "
                          "Check previous errors.");
  EXPECT_EQ(box.title, "Tessera Server Manager");
  EXPECT_EQ(box.icon, platform::MessageIcon::kInformation);
  EXPECT_EQ(box.buttons, platform::MessageButtons::kOk);
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{kCreate}));
  // Nothing is connected or listed after a failed creation.
  EXPECT_EQ(catalogue_->Count(), 0);
  EXPECT_EQ(fake_->connects().size(), 1u);
}

TEST_F(CreateDatabaseTest, AFailureBeforeTheRenameDropsTheDatabaseUnderItsFirstName) {
  Start("7.00.623");
  Fail(kSingleUser);
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(catalogue_->CreateDatabase("Sales", "C:\\Data\\Sales.mdf"));
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{kCreate, kMsVer, kSingleUser, "DROP DATABASE Sales"}));
}

TEST_F(CreateDatabaseTest, AFailedRenameLeavesAnExistingCollectionOfThatNameAlone) {
  Start("8.00.760");
  fake_->On(kRename, FakeResult().Error(1801, "Database 'Quillarchive_Sales' already exists."));
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(catalogue_->AddNew("Sales", "C:\\Data\\Sales.mdf"), nullptr);
  EXPECT_EQ(platform_.ui.boxes()[0].text,
            std::string(kFailureIntro) + "Database 'Quillarchive_Sales' already exists.");
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{kCreate, kMsVer, kRename, "DROP DATABASE Sales"}));
  // The collection that already had the name is neither connected nor listed a second time.
  EXPECT_EQ(fake_->connects().size(), 1u);
  EXPECT_EQ(catalogue_->Count(), 0);
}

TEST_F(CreateDatabaseTest, AFailureAfterTheRenameDropsThePrefixedDatabase) {
  Start("7.00.623");
  Fail(kMultiUser);
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(catalogue_->CreateDatabase("Sales", "C:\\Data\\Sales.mdf"));
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{kCreate, kMsVer, kSingleUser, kRename, kMultiUser,
                                      "DROP DATABASE Quillarchive_Sales"}));
}

TEST_F(CreateDatabaseTest, ASchemaFailureClosesTheNewConnectionBeforeTheDrop) {
  Start("8.00.760");
  WatchDrops();
  std::vector<std::string> script = Script();
  Fail(script[60]);
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(catalogue_->AddNew("Sales", "C:\\Data\\Sales.mdf"), nullptr);
  std::vector<std::vector<std::string>> texts = ByConnection();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1].size(), 61u);
  EXPECT_EQ(texts[1].back(), script[60]);
  EXPECT_EQ(texts[0].back(), "DROP DATABASE Quillarchive_Sales");
  // The server refuses to drop a database in use: only the server's connection was left.
  EXPECT_EQ(sessions_at_drop_, (std::vector<int>{1}));
  EXPECT_EQ(catalogue_->Count(), 0);
}

TEST_F(CreateDatabaseTest, FailuresOfShrinkingOrOfTheTemplateDocumentDropTheDatabase) {
  Start("8.00.760");
  Fail(kAlterShrink);
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(catalogue_->CreateDatabase("Sales", "C:\\Data\\Sales.mdf"));
  EXPECT_EQ(ServerTexts().back(), "DROP DATABASE Quillarchive_Sales");

  log_->Clear();
  fake_->OnPrefix("INSERT INTO Document",
                  FakeResult().Error(515,
                                     "Cannot insert the value NULL into column "
                                     "'CreationTime', table 'Document'."));
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(catalogue_->CreateDatabase("Other", "C:\\Data\\Other.mdf"));
  EXPECT_EQ(platform_.ui.boxes().back().text,
            std::string(kFailureIntro) +
                "Cannot insert the value NULL into column 'CreationTime', table 'Document'.");
  EXPECT_EQ(ServerTexts().back(), "DROP DATABASE Quillarchive_Other");
  EXPECT_EQ(fake_->open_sessions(), 1);
}

TEST_F(CreateDatabaseTest, AFailingDropIsIgnored) {
  Start("8.00.760");
  Fail(Script()[0]);
  fake_->On("DROP DATABASE Quillarchive_Sales",
            FakeResult().Error(3702,
                               "Cannot drop the database 'Quillarchive_Sales' because it "
                               "is currently in use."));
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_NO_THROW(EXPECT_FALSE(catalogue_->CreateDatabase("Sales", "C:\\Data\\Sales.mdf")));
  EXPECT_EQ(platform_.ui.boxes().size(), 1u);
}

TEST_F(CreateDatabaseTest, HostileNamesAndPathsReachTheServerAsData) {
  Start("7.00.623");
  Fail(
      "sp_dboption @dbname ='Quillarchive_x]; DROP DATABASE y --' , @optname = 'single user', "
      "@optvalue = 'false'");
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(catalogue_->CreateDatabase("x]; DROP DATABASE y --", "C:\\O'Brien\\x.mdf"));
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{
                "CREATE DATABASE [x]]; DROP DATABASE y --] ON ( NAME = [x]]; DROP DATABASE y --], "
                "FILENAME = 'C:\\O''Brien\\x.mdf')",
                kMsVer,
                "sp_dboption @dbname ='x]; DROP DATABASE y --' , @optname = 'single user', "
                "@optvalue = 'true'",
                "sp_renamedb @dbname ='x]; DROP DATABASE y --' , @newname = 'Quillarchive_x]; "
                "DROP DATABASE y --'",
                "sp_dboption @dbname ='Quillarchive_x]; DROP DATABASE y --' , @optname = 'single "
                "user', @optvalue = 'false'",
                "DROP DATABASE [Quillarchive_x]]; DROP DATABASE y --]"}));

  log_->Clear();
  ASSERT_TRUE(catalogue_->CreateDatabase("O'Brien", "C:\\o.mdf"));
  EXPECT_EQ(fake_->connects().back().catalog, "Quillarchive_O'Brien");
  std::vector<std::string> texts = log_->Texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "EXEC sp_dboption 'Quillarchive_O''Brien', 'autoshrink', 'true'"),
            texts.end());
}

}  // namespace
}  // namespace collections
