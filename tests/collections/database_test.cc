// One collection: roles and users, access, renaming and the log file.
#include <gtest/gtest.h>

#include "collections/databases.h"
#include "fixture.h"

namespace collections {
namespace {

using testing::Column;
using testing::FakeResult;
using testing::kSystemUser;

class DatabaseTest : public testing::CollectionsFixture {
 protected:
  void SetUp() override {
    server_ = ConnectedServer();
    HelpDb({"Quillarchive_Sales", "Old_Quillarchive_Archive"});
    catalogue_ = dynamic_cast<Databases*>(&server_->Databases());
    sales_ = catalogue_->Item(1);
    sales_session_ = SessionOf(sales_->Connection());
    log_->Clear();
    fake_->ClearCalls();
  }

  std::vector<std::string> ServerTexts() { return TextsOn(server_->Connection()); }
  std::vector<std::string> SalesTexts() { return TextsOn(sales_->Connection()); }

  std::unique_ptr<servers::Server> server_;
  Databases* catalogue_ = nullptr;
  std::shared_ptr<Database> sales_;
  int sales_session_ = 0;
};

TEST_F(DatabaseTest, NamesAndLocation) {
  EXPECT_EQ(sales_->Name(), "Sales");
  EXPECT_EQ(sales_->DatabaseName(), "Quillarchive_Sales");
  EXPECT_EQ(sales_->ArchiveID(), 1);
  EXPECT_EQ(sales_->Location(), "SRV01");
}

TEST_F(DatabaseTest, RolesMembersAndUserRolesAreListedInTheServersOrder) {
  fake_->On("EXEC sp_helprole",
            FakeResult().Rows({Column("RoleName", "sysname"), Column("RoleId", "smallint"),
                               Column("IsAppRole", "int")},
                              {{db::Value("public"), db::Value(0), db::Value(0)},
                               {db::Value("qa_reader"), db::Value(5), db::Value(0)},
                               {db::Value("QA_READER"), db::Value(6), db::Value(0)}}));
  fake_->On("EXEC sp_helprolemember 'qa_reader'",
            FakeResult().Rows({Column("DbRole", "sysname"), Column("MemberName", "sysname"),
                               Column("MemberSID", "varbinary")},
                              {{db::Value("qa_reader"), db::Value("anna"), db::Value()},
                               {db::Value("qa_reader"), db::Value("O'Brien"), db::Value()}}));
  FakeResult user = FakeResult().Count(0);  // a printed count before the rows
  user.BeginRows({Column("UserName", "sysname"), Column("GroupName", "sysname")})
      .Row({db::Value("anna"), db::Value("qa_writer")})
      .Row({db::Value("anna"), db::Value("qa_reader")})
      .EndRows();
  fake_->On("EXEC sp_helpuser 'anna'", user);

  EXPECT_EQ(sales_->Roles().items(), (std::vector<std::string>{"public", "qa_reader"}));
  EXPECT_EQ(sales_->RoleMembers("qa_reader").items(),
            (std::vector<std::string>{"anna", "O'Brien"}));
  EXPECT_EQ(sales_->UserRoles("anna").items(),
            (std::vector<std::string>{"qa_writer", "qa_reader"}));
  EXPECT_EQ(SalesTexts(),
            (std::vector<std::string>{"EXEC sp_helprole", "EXEC sp_helprolemember 'qa_reader'",
                                      "EXEC sp_helpuser 'anna'"}));
}

TEST_F(DatabaseTest, HostileRoleAndUserNamesStayValues) {
  sales_->RoleMembers("x'); DROP TABLE Document --");
  sales_->UserRoles("O'Brien");
  sales_->IsRolemember("db_owner') OR 1=1 --");
  EXPECT_EQ(SalesTexts(),
            (std::vector<std::string>{"EXEC sp_helprolemember 'x''); DROP TABLE Document --'",
                                      "EXEC sp_helpuser 'O''Brien'",
                                      "SELECT IS_MEMBER ('db_owner'') OR 1=1 --')"}));
}

TEST_F(DatabaseTest, RoleMembershipIsTheServersAnswerAndFalseForAnUnknownRole) {
  fake_->On("SELECT IS_MEMBER ('db_owner')",
            FakeResult().Rows({Column("", "int")}, {{db::Value(1)}}));
  fake_->On("SELECT IS_MEMBER ('qa_writer')",
            FakeResult().Rows({Column("", "int")}, {{db::Value(0)}}));
  fake_->On("SELECT IS_MEMBER ('nothing')",
            FakeResult().Rows({Column("", "int")}, {{db::Value()}}));
  EXPECT_TRUE(sales_->IsRolemember("db_owner"));
  EXPECT_FALSE(sales_->IsRolemember("qa_writer"));
  EXPECT_FALSE(sales_->IsRolemember("nothing"));
  fake_->On("SELECT IS_MEMBER ('x')", FakeResult().Error(208, "Invalid object name."));
  EXPECT_THROW(sales_->IsRolemember("x"), db::Error);
}

TEST_F(DatabaseTest, AccessIsGrantedAndRevoked) {
  EXPECT_TRUE(sales_->GrantDBAccess("CORP\\anna", "anna"));
  EXPECT_TRUE(sales_->RevokeDBAccess("O'Brien"));
  EXPECT_EQ(SalesTexts(), (std::vector<std::string>{"EXEC sp_grantdbaccess 'CORP\\anna', 'anna'",
                                                    "EXEC sp_revokedbaccess 'O''Brien'"}));
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(DatabaseTest, AccessFailuresAreShownWithALineBreakAndGiveFalse) {
  fake_->OnPrefix("EXEC sp_grantdbaccess",
                  FakeResult().Error(15023,
                                     "User or role 'anna' already exists in the current "
                                     "database."));
  fake_->OnPrefix("EXEC sp_revokedbaccess",
                  FakeResult().Error(15008, "User 'bob' does not exist in the current database."));
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(sales_->GrantDBAccess("CORP\\anna", "anna"));
  EXPECT_FALSE(sales_->RevokeDBAccess("bob"));
  ASSERT_EQ(platform_.ui.boxes().size(), 2u);
  EXPECT_EQ(platform_.ui.boxes()[0].text,
            "Beim Hinzufügen eines neuen Benutzers ist folgendes Problem aufgetreten:\r\nUser or "
            "role 'anna' already exists in the current database.");
  EXPECT_EQ(platform_.ui.boxes()[0].icon, platform::MessageIcon::kInformation);
  EXPECT_EQ(platform_.ui.boxes()[0].title, "Tessera Server Manager");
  EXPECT_EQ(platform_.ui.boxes()[1].text,
            "Beim Entfernen eines neuen Benutzers ist folgendes Problem aufgetreten:\r\nUser "
            "'bob' does not exist in the current database.");
}

class RenameTest : public DatabaseTest {
 protected:
  void OnlyOwnConnection() {
    SystemUser("sa");
    SpWho({{sales_session_, "sa", "Quillarchive_Sales"}});
  }
};

TEST_F(RenameTest, OtherConnectionsEndThenTheDatabaseIsRenamedAndConnectedAgain) {
  OnlyOwnConnection();
  db::Connection old_connection = sales_->Connection();
  EXPECT_TRUE(sales_->Rename("Archive2004"));
  EXPECT_EQ(TextsOn(old_connection),
            (std::vector<std::string>{kSystemUser, "SELECT @@SPID;", "sp_who"}));
  // Its own connection closed, not killed, the collection is connected again under its new name.
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{"sp_renamedb @dbname ='Quillarchive_Sales' , @newname = "
                                      "'Quillarchive_Archive2004'"}));
  EXPECT_EQ(sales_->Name(), "Archive2004");
  EXPECT_EQ(sales_->DatabaseName(), "Quillarchive_Archive2004");
  EXPECT_EQ(fake_->connects().back().catalog, "Quillarchive_Archive2004");
  EXPECT_EQ(sales_->Connection().State(), db::kStateOpen);
  EXPECT_NO_THROW(sales_->Connection().Execute("SELECT 1"));
  // Still the same entry of the catalogue.
  EXPECT_EQ(catalogue_->Item("1"), sales_);
}

TEST_F(RenameTest, APrefixInAnyCaseIsDroppedFromTheNewName) {
  OnlyOwnConnection();
  EXPECT_TRUE(sales_->Rename("quillarchive_Archive"));
  EXPECT_EQ(sales_->Name(), "Archive");
  EXPECT_EQ(sales_->DatabaseName(), "Quillarchive_Archive");
  EXPECT_EQ(ServerTexts().back(),
            "sp_renamedb @dbname ='Quillarchive_Sales' , @newname = 'Quillarchive_Archive'");
}

TEST_F(RenameTest, TheSameNameInOtherLettersSendsNothing) {
  EXPECT_FALSE(sales_->Rename("SALES"));
  EXPECT_FALSE(sales_->Rename("QUILLARCHIVE_sales"));
  EXPECT_TRUE(log_->Texts().empty());
  EXPECT_EQ(sales_->Name(), "Sales");
}

TEST_F(RenameTest, AnEmptyNameIsRefusedBeforeAnythingIsSent) {
  try {
    sales_->Rename("Quillarchive_");
    ADD_FAILURE() << "no error";
  } catch (const common::Error& error) {
    EXPECT_NE(error.description().find("empty name"), std::string::npos);
  }
  EXPECT_THROW(sales_->Rename(""), common::Error);
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(RenameTest, AnotherLoginConnectedIsEndedOnlyAfterConsent) {
  SystemUser("sa");
  SpWho({{sales_session_, "sa", "Quillarchive_Sales"}, {70, "anna", "Quillarchive_Sales"}});
  platform_.ui.QueueAnswer(platform::kAnswerNo);
  EXPECT_FALSE(sales_->Rename("Other"));
  EXPECT_TRUE(ServerTexts().empty());
  EXPECT_EQ(sales_->Name(), "Sales");

  platform_.ui.QueueAnswer(platform::kAnswerYes);
  EXPECT_TRUE(sales_->Rename("Other"));
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{"KILL 70",
                                      "sp_renamedb @dbname ='Quillarchive_Sales' , @newname = "
                                      "'Quillarchive_Other'"}));
}

TEST_F(RenameTest, AFailedRenameKeepsTheNamesAndTheCollectionUsable) {
  OnlyOwnConnection();
  fake_->OnPrefix("sp_renamedb",
                  FakeResult().Error(15225, "The database 'Quillarchive_Other' already exists."));
  EXPECT_THROW(sales_->Rename("Other"), db::Error);
  EXPECT_EQ(sales_->Name(), "Sales");
  EXPECT_EQ(sales_->DatabaseName(), "Quillarchive_Sales");
  EXPECT_EQ(fake_->connects().back().catalog, "Quillarchive_Sales");
  EXPECT_NO_THROW(sales_->Connection().Execute("SELECT 1"));
}

TEST_F(RenameTest, TheDatabaseAsListedIsTheOneRenamed) {
  std::shared_ptr<Database> archive = catalogue_->Item(2);
  SystemUser("sa");
  SpWho({});
  EXPECT_TRUE(archive->Rename("Archive2"));
  EXPECT_EQ(ServerTexts(),
            (std::vector<std::string>{"sp_renamedb @dbname ='Old_Quillarchive_Archive' "
                                      ", @newname = 'Quillarchive_Archive2'"}));
  EXPECT_EQ(archive->DatabaseName(), "Quillarchive_Archive2");
}

TEST_F(RenameTest, HostileNamesAreValuesInTheStatementAndTheConnectionString) {
  OnlyOwnConnection();
  EXPECT_TRUE(sales_->Rename("O'Brien; Data Source=EVIL"));
  EXPECT_EQ(ServerTexts().back(),
            "sp_renamedb @dbname ='Quillarchive_Sales' , @newname = 'Quillarchive_O''Brien; Data "
            "Source=EVIL'");
  EXPECT_EQ(fake_->connects().back().catalog, "Quillarchive_O'Brien; Data Source=EVIL");
  EXPECT_EQ(fake_->connects().back().data_source, "SRV01");
}

TEST(ShrinkTargetTest, LogSizesInWholeMegabytesChooseTheTarget) {
  EXPECT_EQ(ShrinkTargetMegabytes(0), 0);
  EXPECT_EQ(ShrinkTargetMegabytes(128), 0);   // 1 MB
  EXPECT_EQ(ShrinkTargetMegabytes(192), 1);   // 1.5 MB rounds to 2
  EXPECT_EQ(ShrinkTargetMegabytes(191), 0);   // just under
  EXPECT_EQ(ShrinkTargetMegabytes(320), 1);   // 2.5 MB rounds to 2
  EXPECT_EQ(ShrinkTargetMegabytes(512), 1);   // 4 MB
  EXPECT_EQ(ShrinkTargetMegabytes(704), 3);   // 5.5 MB rounds to 6
  EXPECT_EQ(ShrinkTargetMegabytes(703), 1);   // 5.49 MB
  EXPECT_EQ(ShrinkTargetMegabytes(6400), 3);  // 50 MB
  EXPECT_EQ(ShrinkTargetMegabytes(-5), 0);
}

class ShrinkTest : public DatabaseTest {
 protected:
  static std::string FilesQuery(const std::string& database) {
    return "SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = "
           "sysaltfiles.dbid WHERE sysaltfiles.filename LIKE '%.LDF%' AND sysdatabases.name='" +
           database + "'";
  }
  void LogFiles(const std::string& database,
                const std::vector<std::pair<std::string, int>>& files) {
    std::vector<std::vector<db::Value>> rows;
    for (const auto& [name, size] : files) {
      rows.push_back({db::Value(2), db::Value(size), db::Value(name),
                      db::Value("C:\\Data\\" + name + ".LDF")});
    }
    fake_->On(FilesQuery(database),
              FakeResult().Rows({Column("fileid", "smallint"), Column("size", "int"),
                                 Column("name", "nchar"), Column("filename", "nchar")},
                                rows));
  }
};

TEST_F(ShrinkTest, EachLogIsTruncatedAndShrunkToAFittingSize) {
  LogFiles("Quillarchive_Sales",
           {{"Sales_log   ", 512}, {"Sales_log2", 6400}, {"Sales_log3", 128}});
  sales_->ShrinkLogfile();
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{FilesQuery("Quillarchive_Sales")}));
  EXPECT_EQ(SalesTexts(),
            (std::vector<std::string>{
                "BACKUP LOG Quillarchive_Sales WITH TRUNCATE_ONLY", "DBCC SHRINKFILE(Sales_log, 1)",
                "DBCC SHRINKFILE(Sales_log2, 3)", "DBCC SHRINKFILE(Sales_log3, 0)"}));
  // No time-out for the log's work.
  for (const db::testing::FakeCall& call : fake_->calls()) {
    if (call.request.text.starts_with("BACKUP") || call.request.text.starts_with("DBCC")) {
      EXPECT_EQ(call.request.timeout.count(), 0) << call.request.text;
    }
  }
}

TEST_F(ShrinkTest, NoLogFileListedMeansNothingElseIsSent) {
  sales_->ShrinkLogfile();
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{FilesQuery("Quillarchive_Sales")}));
  EXPECT_TRUE(SalesTexts().empty());
}

TEST_F(ShrinkTest, HostileDatabaseAndFileNamesAreQuotedOrBracketed) {
  std::shared_ptr<Database> odd = catalogue_->Add("O'Brien]x", "C:\\o.mdf", "");
  LogFiles("Quillarchive_O''Brien]x", {{"log; DROP DATABASE y", 512}});
  log_->Clear();
  odd->ShrinkLogfile();
  EXPECT_EQ(ServerTexts(), (std::vector<std::string>{FilesQuery("Quillarchive_O''Brien]x")}));
  EXPECT_EQ(TextsOn(odd->Connection()),
            (std::vector<std::string>{"BACKUP LOG [Quillarchive_O'Brien]]x] WITH TRUNCATE_ONLY",
                                      "DBCC SHRINKFILE([log; DROP DATABASE y], 1)"}));
}

// From 10.0 on there is no TRUNCATE_ONLY: the recovery model is simple while the log shrinks,
// then the database's own again; a database already in simple recovery keeps it throughout.
TEST_F(ShrinkTest, ServersFrom2008OnShrinkInSimpleRecoveryAndGetTheirModelBack) {
  struct Case {
    const char* login_version;
    const char* model;
    std::vector<std::string> expected;
  };
  const std::string recovery = "SELECT DATABASEPROPERTYEX('Quillarchive_Sales', 'Recovery')";
  const std::string alter = "ALTER DATABASE Quillarchive_Sales SET RECOVERY ";
  const Case cases[] = {
      {"10.00.5500",
       "FULL",
       {recovery, alter + "SIMPLE", "DBCC SHRINKFILE(Sales_log, 1)", alter + "FULL"}},
      {"15.00.2000",
       "BULK_LOGGED",
       {recovery, alter + "SIMPLE", "DBCC SHRINKFILE(Sales_log, 1)", alter + "BULK_LOGGED"}},
      {"11.00.7001", "SIMPLE", {recovery, "DBCC SHRINKFILE(Sales_log, 1)"}},
      // An answer that is no model is not sent back to the server.
      {"15.00.2000", "FULL'; DROP DATABASE x --", {recovery, "DBCC SHRINKFILE(Sales_log, 1)"}},
      {"09.00.5000",
       "FULL",
       {"BACKUP LOG Quillarchive_Sales WITH TRUNCATE_ONLY", "DBCC SHRINKFILE(Sales_log, 1)"}},
  };
  // The fake gives a text's answers in turn: the models in the order the cases ask.
  LogFiles("Quillarchive_Sales", {{"Sales_log", 512}});
  for (const Case& c : cases) {
    fake_->On(recovery, FakeResult().Rows({Column("", "sql_variant")}, {{db::Value(c.model)}}));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.login_version) + " " + c.model);
    fake_->SetServerVersion(c.login_version);
    log_->Clear();
    sales_->ShrinkLogfile();
    EXPECT_EQ(ServerTexts(), (std::vector<std::string>{FilesQuery("Quillarchive_Sales")}));
    EXPECT_EQ(SalesTexts(), c.expected);
  }
}

TEST_F(ShrinkTest, AFailingShrinkOnNewerServersStillRestoresTheRecoveryModel) {
  fake_->SetServerVersion("15.00.2000");
  LogFiles("Quillarchive_Sales", {{"Sales_log", 512}});
  const std::string recovery = "SELECT DATABASEPROPERTYEX('Quillarchive_Sales', 'Recovery')";
  fake_->On(recovery, FakeResult().Rows({Column("", "sql_variant")}, {{db::Value("FULL")}}));
  fake_->OnPrefix("DBCC SHRINKFILE", FakeResult().Error(5054,
                                                        "Could not cleanup deferred "
                                                        "deallocations from filegroup."));
  log_->Clear();
  EXPECT_THROW(sales_->ShrinkLogfile(), db::Error);
  EXPECT_EQ(SalesTexts(), (std::vector<std::string>{
                              recovery, "ALTER DATABASE Quillarchive_Sales SET RECOVERY SIMPLE",
                              "DBCC SHRINKFILE(Sales_log, 1)",
                              "ALTER DATABASE Quillarchive_Sales SET RECOVERY FULL"}));
}

TEST_F(ShrinkTest, HostileNamesOnNewerServersAreQuotedOrBracketed) {
  fake_->SetServerVersion("15.00.2000");
  std::shared_ptr<Database> odd = catalogue_->Add("O'Brien]x", "C:\\o.mdf", "");
  LogFiles("Quillarchive_O''Brien]x", {{"log; DROP DATABASE y", 512}});
  const std::string recovery = "SELECT DATABASEPROPERTYEX('Quillarchive_O''Brien]x', 'Recovery')";
  fake_->On(recovery, FakeResult().Rows({Column("", "sql_variant")}, {{db::Value("FULL")}}));
  log_->Clear();
  odd->ShrinkLogfile();
  EXPECT_EQ(TextsOn(odd->Connection()),
            (std::vector<std::string>{
                recovery, "ALTER DATABASE [Quillarchive_O'Brien]]x] SET RECOVERY SIMPLE",
                "DBCC SHRINKFILE([log; DROP DATABASE y], 1)",
                "ALTER DATABASE [Quillarchive_O'Brien]]x] SET RECOVERY FULL"}));
}

TEST_F(ShrinkTest, AFailureReachesTheCaller) {
  LogFiles("Quillarchive_Sales", {{"Sales_log", 512}});
  fake_->OnPrefix("BACKUP LOG", FakeResult().Error(4208,
                                                   "The statement BACKUP LOG is not allowed "
                                                   "while the recovery model is SIMPLE."));
  EXPECT_THROW(sales_->ShrinkLogfile(), db::Error);
  EXPECT_EQ(SalesTexts().size(), 1u);
}

}  // namespace
}  // namespace collections
