// Collections on the sandbox server, proven by what the server holds afterwards: what a new
// collection allows, hostile names through a collection's whole life, a database whose owner
// login is gone, a name that holds the prefix after other text, attaching without a log file,
// and the server connection after a login has been removed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "db/command.h"
#include "sandbox_fixture.h"

namespace collections {
namespace {

using testing::kSandboxSa;

class SandboxAcceptanceTest : public testing::SandboxFixture {
 protected:
  std::int64_t Count(const db::Connection& connection, const std::string& query) {
    return Scalar(connection, query).ToInt().value_or(-1);
  }

  // The native error number of a statement that must fail; 0 when it did not.
  static int Refusal(db::Connection& connection, const std::string& statement) {
    try {
      connection.Execute(statement);
    } catch (const db::Error& error) {
      return error.native_error();
    }
    return 0;
  }

  void AddLogin(const std::string& login, const std::string& password) {
    Server().Connection().Execute("EXEC sp_addlogin " + Quoted(login) + ", " + Quoted(password));
  }
};

TEST_F(SandboxAcceptanceTest, TheTemplateDocumentOfANewCollectionSurvivesEveryDeletion) {
  std::shared_ptr<Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  db::Connection connection = sales->Connection();
  connection.Execute("EXEC DeleteDoc 1");
  EXPECT_EQ(Count(connection, "SELECT COUNT(*) FROM Document WHERE EntryID = 1"), 1);

  std::vector<std::int64_t> folders;
  {
    db::Recordset recordset;
    recordset.Open("SELECT FolderID FROM Folder ORDER BY FolderID", connection);
    for (; !recordset.Eof(); recordset.MoveNext()) {
      folders.push_back(recordset.Fields(0).Value().ToInt().value_or(-1));
    }
    recordset.Close();
  }
  ASSERT_EQ(folders.size(), 11u);
  for (std::int64_t folder : folders) {
    connection.Execute("EXEC DeleteFolder " + std::to_string(folder));
  }
  EXPECT_EQ(Count(connection, "SELECT COUNT(*) FROM Document WHERE EntryID = 1"), 1);
  // System folders stay, and so do their links.
  EXPECT_EQ(Count(connection, "SELECT COUNT(*) FROM Folder"), 11);
  EXPECT_EQ(Count(connection, "SELECT COUNT(*) FROM SubFolder"), 10);
}

TEST_F(SandboxAcceptanceTest, AReaderOfANewCollectionKeepsSearchFoldersButChangesNoDocument) {
  std::shared_ptr<Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  AddLogin("reader", "pw");
  ASSERT_TRUE(sales->GrantDBAccess("reader", "reader"));
  sales->Connection().Execute("EXEC sp_addrolemember 'qa_reader', 'reader'");
  db::Connection reader = Open(
      "Provider=SQLOLEDB;Data Source=(sandbox);User Id=reader;Password=pw;", "Quillarchive_Sales");

  db::Command insert;
  insert.SetActiveConnection(reader);
  insert.SetCommandType(db::kCmdStoredProc);
  insert.SetCommandText("InsertSearchFolder");
  insert.Parameters().Append(insert.CreateParameter("@FolderName", db::kTypeVarChar,
                                                    db::kParamInput, 255, db::Value("Mine")));
  insert.Parameters().Append(
      insert.CreateParameter("@FolderID", db::kTypeSmallInt, db::kParamOutput));
  ASSERT_NO_THROW(insert.Execute());
  EXPECT_EQ(insert.Parameters("@FolderID").Value().ToInt(), 1001);
  EXPECT_NO_THROW(reader.Execute("INSERT INTO DocLink (FolderID, EntryID) VALUES (1001, 1)"));
  EXPECT_NO_THROW(reader.Execute("UPDATE DocLink SET EntryID = 2 WHERE FolderID = 1001"));
  EXPECT_NO_THROW(reader.Execute("DELETE FROM DocLink WHERE FolderID = 1001"));
  EXPECT_NO_THROW(reader.Execute(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (1001, 3, 'x')"));
  EXPECT_NO_THROW(reader.Execute("UPDATE ExtendedField SET Visible = 0 WHERE ExtFieldID = 3"));
  EXPECT_NO_THROW(reader.Execute("EXEC RemoveSearchFolder 1001"));

  // Permission denied (229) for the documents and the folders themselves.
  EXPECT_EQ(Refusal(reader, "UPDATE Document SET Title = 'x' WHERE EntryID = 1"), 229);
  EXPECT_EQ(Refusal(reader, "DELETE FROM Document"), 229);
  EXPECT_EQ(Refusal(reader,
                    "INSERT INTO Folder (FolderID, Name, CreationTime) VALUES (2000, 'x', "
                    "GETDATE())"),
            229);
  EXPECT_EQ(Refusal(reader, "DELETE FROM Folder WHERE FolderID = 700"), 229);
  reader.Close();

  db::Connection connection = sales->Connection();
  EXPECT_EQ(Count(connection, "SELECT COUNT(*) FROM Folder"), 11);
  EXPECT_EQ(Count(connection, "SELECT COUNT(*) FROM Document"), 1);
  EXPECT_EQ(Scalar(connection, "SELECT Title FROM Document WHERE EntryID = 1").ToText(),
            "Interne Quillarchive-Vorlage. Bitte nicht löschen!");
}

TEST_F(SandboxAcceptanceTest, HostileNamesLiveThroughTheWholeLifeOfACollectionAsData) {
  const std::string hostile = "x]; DROP DATABASE y --";
  Server().Connection().Execute("CREATE DATABASE y");
  std::shared_ptr<Database> obrien = Created("O'Brien", "C:\\Data\\O'Brien.mdf");
  std::shared_ptr<Database> odd = Created(hostile, "C:\\Data\\x.mdf");
  ASSERT_NE(obrien, nullptr);
  ASSERT_NE(odd, nullptr);
  EXPECT_TRUE(DatabaseExists("Quillarchive_O'Brien"));
  EXPECT_TRUE(DatabaseExists("Quillarchive_" + hostile));
  EXPECT_TRUE(DatabaseExists("y"));
  EXPECT_EQ(obrien->GetExtendedProperty(0, 3, 1, ""), "1.61");
  EXPECT_EQ(odd->GetExtendedProperty(0, 3, 1, ""), "1.61");

  {
    // A fresh registration lists both under their own names.
    std::unique_ptr<servers::Server> fresh = NewServer();
    std::vector<std::string> names;
    for (const auto& database : dynamic_cast<Databases&>(fresh->Databases())) {
      names.push_back(database->Name());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"O'Brien", hostile}));
  }

  EXPECT_NO_THROW(obrien->ShrinkLogfile());
  EXPECT_NO_THROW(odd->ShrinkLogfile());

  ASSERT_TRUE(obrien->Rename("it's [new]; --"));
  EXPECT_TRUE(DatabaseExists("Quillarchive_it's [new]; --"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_O'Brien"));
  EXPECT_EQ(obrien->GetExtendedProperty(0, 3, 1, ""), "1.61");

  std::string log_file = LogFileOf("Quillarchive_" + hostile);
  ASSERT_FALSE(log_file.empty());
  ASSERT_TRUE(Catalogue().Remove(std::to_string(odd->ArchiveID())));
  EXPECT_FALSE(DatabaseExists("Quillarchive_" + hostile));
  std::shared_ptr<Database> back = Catalogue().Add(hostile, "C:\\Data\\x.mdf", log_file);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GetExtendedProperty(0, 3, 1, ""), "1.61");

  ASSERT_TRUE(Catalogue().Delete(std::to_string(back->ArchiveID())));
  ASSERT_TRUE(Catalogue().Delete(std::to_string(obrien->ArchiveID())));
  EXPECT_FALSE(DatabaseExists("Quillarchive_" + hostile));
  EXPECT_FALSE(DatabaseExists("Quillarchive_it's [new]; --"));
  EXPECT_TRUE(DatabaseExists("y"));
  EXPECT_TRUE(DatabaseExists("model"));
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(SandboxAcceptanceTest, ACollectionWhoseOwnerLoginIsGoneIsGivenToSaAndListed) {
  AddLogin("bob", "pw");
  std::shared_ptr<Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  sales->Connection().Execute("EXEC sp_changedbowner 'bob'");
  std::string log_file = LogFileOf("Quillarchive_Sales");
  ASSERT_TRUE(Catalogue().Remove("1"));
  // Attached again after its owner's login was dropped: the database still names bob as dbo.
  db::Connection connection = Server().Connection();
  connection.Execute("EXEC sp_droplogin 'bob'");
  connection.Execute("EXEC sp_attach_db 'Quillarchive_Sales', 'C:\\Data\\Sales.mdf', " +
                     Quoted(log_file));
  ASSERT_TRUE(Scalar(connection,
                     "SELECT SUSER_SNAME(sid) FROM master..sysdatabases WHERE name = "
                     "'Quillarchive_Sales'")
                  .IsNull());

  log_->Clear();
  std::unique_ptr<servers::Server> fresh = NewServer();
  auto& catalogue = dynamic_cast<Databases&>(fresh->Databases());
  ASSERT_EQ(catalogue.Count(), 1);
  EXPECT_EQ(catalogue.Item(1)->Name(), "Sales");
  std::vector<std::string> texts = log_->TextsOn(fresh->Connection().Id());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "EXEC sp_changedbowner 'sa'"), texts.end());
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "EXEC master..sp_helpdb"), 2);
  EXPECT_EQ(Scalar(connection,
                   "SELECT SUSER_SNAME(sid) FROM master..sysdatabases WHERE name = "
                   "'Quillarchive_Sales'")
                .ToText(),
            "sa");
  EXPECT_EQ(Scalar(fresh->Connection(), "SELECT DB_NAME()").ToText(), "master");
}

TEST_F(SandboxAcceptanceTest, ADatabaseWithTextBeforeThePrefixIsTheOnlyOneItsOperationsTouch) {
  std::shared_ptr<Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  Server().Connection().Execute(
      "CREATE DATABASE Old_Quillarchive_Sales ON ( NAME = Old_Quillarchive_Sales, FILENAME = "
      "'C:\\Data\\Old.mdf')");
  db::Connection user = Open(kSandboxSa, "Quillarchive_Sales");

  std::unique_ptr<servers::Server> fresh = NewServer();
  auto& catalogue = dynamic_cast<Databases&>(fresh->Databases());
  ASSERT_EQ(catalogue.Count(), 2);
  std::shared_ptr<Database> old, listed;
  for (const auto& database : catalogue) {
    EXPECT_EQ(database->Name(), "Sales");
    (database->DatabaseName() == "Old_Quillarchive_Sales" ? old : listed) = database;
  }
  ASSERT_NE(old, nullptr);
  ASSERT_NE(listed, nullptr);
  EXPECT_EQ(listed->DatabaseName(), "Quillarchive_Sales");
  EXPECT_EQ(Scalar(old->Connection(), "SELECT DB_NAME()").ToText(), "Old_Quillarchive_Sales");

  EXPECT_NO_THROW(old->ShrinkLogfile());
  ASSERT_TRUE(catalogue.Delete(std::to_string(old->ArchiveID())));
  EXPECT_FALSE(DatabaseExists("Old_Quillarchive_Sales"));
  EXPECT_TRUE(DatabaseExists("Quillarchive_Sales"));
  // Nobody's connection to the other database was ended.
  EXPECT_NO_THROW(user.Execute("SELECT 1"));
  EXPECT_EQ(listed->GetExtendedProperty(0, 3, 1, ""), "1.61");
  EXPECT_EQ(sales->GetExtendedProperty(0, 3, 1, ""), "1.61");
}

TEST_F(SandboxAcceptanceTest, ACollectionIsAttachedFromItsDataFileAloneWithANewLog) {
  std::shared_ptr<Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  std::int32_t field = 0;
  sales->SetExtendedProperty("kept", 0, field, "Attach test", 1, false, false);
  std::string log_file = LogFileOf("Quillarchive_Sales");
  ASSERT_FALSE(log_file.empty());
  ASSERT_TRUE(Catalogue().Remove("1"));
  ASSERT_TRUE(std::filesystem::remove(instance_->MapPath(log_file)));

  log_->Clear();
  std::shared_ptr<Database> attached = Catalogue().Add("Sales", "C:\\Data\\Sales.mdf", "");
  ASSERT_NE(attached, nullptr);
  EXPECT_EQ(log_->TextsOn(Server().Connection().Id()),
            (std::vector<std::string>{
                "EXEC sp_attach_single_file_db 'Quillarchive_Sales', 'C:\\Data\\Sales.mdf'"}));
  EXPECT_EQ(attached->GetExtendedProperty(0, 0, 1, "Attach test"), "kept");
  std::string new_log = LogFileOf("Quillarchive_Sales");
  ASSERT_FALSE(new_log.empty());
  EXPECT_TRUE(std::filesystem::exists(instance_->MapPath(new_log)));
}

TEST_F(SandboxAcceptanceTest, RevokingALoginRemovesItsUsersEverywhereAndThenTheLogin) {
  std::shared_ptr<Database> a = Created("A", "C:\\Data\\A.mdf");
  std::shared_ptr<Database> b = Created("B", "C:\\Data\\B.mdf");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  AddLogin("jane", "pw");
  ASSERT_TRUE(a->GrantDBAccess("jane", "jane"));
  ASSERT_TRUE(b->GrantDBAccess("jane", "jane_b"));

  EXPECT_TRUE(Server().RevokeLogin("jane", servers::kSqlServerLogin));
  EXPECT_EQ(Count(a->Connection(), "SELECT COUNT(*) FROM sysusers WHERE name = 'jane'"), 0);
  EXPECT_EQ(Count(b->Connection(), "SELECT COUNT(*) FROM sysusers WHERE name = 'jane_b'"), 0);
  EXPECT_EQ(Count(Server().Connection(),
                  "SELECT COUNT(*) FROM master..syslogins WHERE name = "
                  "'jane'"),
            0);
  EXPECT_EQ(Scalar(Server().Connection(), "SELECT DB_NAME()").ToText(), "master");
}

TEST_F(SandboxAcceptanceTest, ALoginWithAQuoteIsRevokedFromADatabaseWithAHostileName) {
  const std::string hostile = "x]; DROP DATABASE y --";
  Server().Connection().Execute("CREATE DATABASE y");
  std::shared_ptr<Database> odd = Created(hostile, "C:\\Data\\x.mdf");
  ASSERT_NE(odd, nullptr);
  AddLogin("O'Brien", "pw");
  ASSERT_TRUE(odd->GrantDBAccess("O'Brien", "Jim's"));

  EXPECT_TRUE(Server().RevokeLogin("O'Brien", servers::kSqlServerLogin));
  EXPECT_EQ(Count(odd->Connection(), "SELECT COUNT(*) FROM sysusers WHERE name = 'Jim''s'"), 0);
  EXPECT_EQ(Count(Server().Connection(),
                  "SELECT COUNT(*) FROM master..syslogins WHERE name = 'O''Brien'"),
            0);
  EXPECT_TRUE(DatabaseExists("y"));
  EXPECT_TRUE(DatabaseExists("Quillarchive_" + hostile));
}

TEST_F(SandboxAcceptanceTest, ARefusedRevocationLeavesTheServerFreeToDropTheLastCollection) {
  std::shared_ptr<Database> a = Created("A", "C:\\Data\\A.mdf");
  std::shared_ptr<Database> b = Created("B", "C:\\Data\\B.mdf");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  AddLogin("jane", "pw");
  ASSERT_TRUE(a->GrantDBAccess("jane", "jane"));
  b->Connection().Execute("EXEC sp_changedbowner 'jane'");

  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(Server().RevokeLogin("jane", servers::kSqlServerLogin));
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_NE(platform_.ui.boxes()[0].text.find("'Quillarchive_B'"), std::string::npos)
      << platform_.ui.boxes()[0].text;
  // A, listed before B, was visited: its user is gone, the login stays.
  EXPECT_EQ(Count(a->Connection(), "SELECT COUNT(*) FROM sysusers WHERE name = 'jane'"), 0);
  EXPECT_EQ(Count(Server().Connection(),
                  "SELECT COUNT(*) FROM master..syslogins WHERE name = "
                  "'jane'"),
            1);
  // The walk's last database is not held by the server connection, so it can be dropped.
  EXPECT_EQ(Scalar(Server().Connection(), "SELECT DB_NAME()").ToText(), "master");
  ASSERT_TRUE(Catalogue().Delete(std::to_string(a->ArchiveID())));
  EXPECT_FALSE(DatabaseExists("Quillarchive_A"));
}

}  // namespace
}  // namespace collections
