// Collections on the sandbox server, end to end: the statements run through the real T-SQL front
// end and the sandbox's system procedures. Tests that need a procedure the sandbox does not offer
// yet say so and are skipped.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "collections/sandbox_fixture.h"
#include "common/process.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/recordset.h"
#include "format/install_script.h"
#include "platform/registry.h"
#include "platform/testing/fake_platform.h"
#include "sandbox/server.h"
#include "servers/servers.h"

namespace collections {
namespace {

using testing::kSandboxSa;
constexpr char kSandboxIntegrated[] =
    "Provider=SQLOLEDB;Data Source=(sandbox);Integrated Security=SSPI;";

class SandboxCollectionsTest : public testing::SandboxFixture {
 protected:
  // A fault for the first statement whose text holds the pattern.
  void FailNext(const std::string& pattern, const std::string& text) {
    sandbox::Fault fault;
    fault.pattern = pattern;
    fault.error.number = 50000;
    fault.error.severity = 16;
    fault.error.text = text;
    instance_->InjectFault(fault);
  }

  // The procedures and statements of the list that the sandbox does not offer yet.
  std::string Missing(std::initializer_list<const char*> names) {
    db::Connection probe = Open(kSandboxSa);
    std::string missing;
    for (const char* name : names) {
      std::string text = name;
      if (text.find(' ') == std::string::npos) text = "EXEC " + text;
      try {
        probe.Execute(text);
      } catch (const db::Error& error) {
        if (error.native_error() == 2812 || error.native_error() == 40000 ||
            error.native_error() == 208) {
          missing += (missing.empty() ? "" : ", ") + std::string(name);
        }
      }
    }
    probe.Close();
    return missing;
  }

  std::int64_t Count(db::Connection& connection, const std::string& table) {
    return Scalar(connection, "SELECT COUNT(*) FROM " + table).ToInt().value_or(-1);
  }

  // A collection installed statement by statement, without the creation's renaming.
  std::shared_ptr<Database> InstalledDirectly(const std::string& name) {
    Databases& catalogue = Catalogue();
    server_->Connection().Execute("CREATE DATABASE Quillarchive_" + name);
    db::Connection connection = Open(kSandboxSa, "Quillarchive_" + name);
    for (const std::string& statement :
         format::InstallationScript({"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}", 37622})) {
      connection.Execute(statement);
    }
    AddTemplateDocument(connection);
    connection.Close();
    catalogue.AddExisting({name, "Quillarchive_" + name, "2.00 MB", "Jan  1 2003"});
    return catalogue.Item(catalogue.Count());
  }
};

#define REQUIRE_SANDBOX(...)                                                       \
  do {                                                                             \
    std::string missing_ = Missing({__VA_ARGS__});                                 \
    if (!missing_.empty()) GTEST_SKIP() << "waits for the sandbox's " << missing_; \
  } while (false)

TEST_F(SandboxCollectionsTest, ACreatedCollectionHasTheCompleteFormat) {
  REQUIRE_SANDBOX("sp_renamedb", "sp_helpdb");
  std::shared_ptr<Database> sales = Catalogue().AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr) << (platform_.ui.boxes().empty() ? "" : platform_.ui.boxes()[0].text);
  db::Connection connection = sales->Connection();
  EXPECT_EQ(Count(connection, "Folder"), 11);
  EXPECT_EQ(Count(connection, "SubFolder"), 10);
  EXPECT_EQ(Count(connection, "Category"), 1);
  EXPECT_EQ(Count(connection, "ExtendedField"), 9);
  EXPECT_EQ(Count(connection, "ExtendedData"), 6);
  EXPECT_EQ(Count(connection, "Document"), 1);
  EXPECT_EQ(Scalar(connection, "SELECT DATALENGTH(BinaryContent) FROM Document WHERE EntryID = 1")
                .ToInt(),
            51);
  EXPECT_EQ(sales->GetExtendedProperty(0, 3, 1, ""), "1.61");
  EXPECT_EQ(sales->GetExtendedProperty(0, 0, 1, "Quillarchive: Archive Compatibility"), "1.50");
  std::string guid = sales->GetExtendedProperty(0, 7, 1, "");
  EXPECT_EQ(guid.size(), 38u);

  // The procedures answer on a fresh collection: no user folder, nothing counted.
  db::Recordset roots;
  roots.Open("EXEC FoldersRoot", connection);
  while (roots.State() != db::kStateOpen) roots.NextRecordset();
  EXPECT_TRUE(roots.Eof());
  roots.Close();
  EXPECT_EQ(Scalar(connection, "EXEC FolderCount").ToInt(), 0);
  EXPECT_EQ(Scalar(connection, "EXEC DocCount").ToInt(), 0);

  std::shared_ptr<Database> next = Catalogue().AddNew("Next", "C:\\Data\\Next.mdf");
  ASSERT_NE(next, nullptr);
  std::string next_guid = next->GetExtendedProperty(0, 7, 1, "");
  EXPECT_EQ(next_guid.size(), 38u);
  EXPECT_NE(next_guid, guid);
  EXPECT_EQ(Catalogue().Count(), 2);
}

class SandboxFullTextTest : public SandboxCollectionsTest {
 protected:
  void SetUp() override { StartInstance("8.00.2039", true); }
};

TEST_F(SandboxFullTextTest, ANewCollectionGetsItsIndexAndLosesItWhenDropped) {
  REQUIRE_SANDBOX("sp_renamedb", "sp_helpdb", "sp_who", "sp_fulltext_database",
                  "sp_help_fulltext_catalogs");
  std::shared_ptr<Database> sales = Catalogue().AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr) << (platform_.ui.boxes().empty() ? "" : platform_.ui.boxes()[0].text);
  int status = sales->GetFullTextStatus();
  EXPECT_GE(status, kFullTextIdle);
  FullTextIndexProperties properties = sales->ReadFullTextProperties();
  EXPECT_EQ(properties.name, "Doc_Desc");
  EXPECT_EQ(properties.status, status);

  // Creating again changes nothing; dropping removes it.
  EXPECT_NO_THROW(sales->DoFullTextAction("create"));
  sales->DoFullTextAction("drop");
  EXPECT_EQ(sales->GetFullTextStatus(), kFullTextNoCatalogue);
  sales->DoFullTextAction("create");
  EXPECT_GE(sales->GetFullTextStatus(), kFullTextIdle);
  ASSERT_TRUE(Catalogue().Delete("1"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
}

// A collection's index through its life, on a 7.0 and a 2000 server with full-text search.
class SandboxFullTextLifeTest : public SandboxCollectionsTest,
                                public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override { StartInstance(GetParam(), true); }
};

TEST_P(SandboxFullTextLifeTest, CreateRemoveDetachAttachDeclineAndDelete) {
  Databases& catalogue = Catalogue();
  std::shared_ptr<Database> sales = catalogue.AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr) << (platform_.ui.boxes().empty() ? "" : platform_.ui.boxes()[0].text);
  EXPECT_TRUE(platform_.ui.boxes().empty()) << platform_.ui.boxes()[0].text;
  EXPECT_GE(sales->GetFullTextStatus(), kFullTextIdle);
  const bool seven = std::string(GetParam()).starts_with("7.");
  bool tracked = false;
  for (const std::string& text : log_->Texts()) {
    if (text.find("change_tracking") != std::string::npos) tracked = true;
  }
  EXPECT_EQ(tracked, !seven);

  EXPECT_TRUE(sales->DoFullTextAction("drop"));
  EXPECT_EQ(sales->GetFullTextStatus(), kFullTextNoCatalogue);
  EXPECT_TRUE(sales->DoFullTextAction("create"));
  EXPECT_GE(sales->GetFullTextStatus(), kFullTextIdle);

  // Detached and attached again, the collection has its index back.
  std::string log_file = LogFileOf("Quillarchive_Sales");
  ASSERT_TRUE(catalogue.Remove("1"));
  std::shared_ptr<Database> attached = catalogue.Add("Sales", "C:\\Data\\Sales.mdf", log_file);
  ASSERT_NE(attached, nullptr);
  EXPECT_GE(attached->GetFullTextStatus(), kFullTextIdle);

  // Declining to end another login's connection changes nothing: the index is there again.
  db::Connection other = Open(kSandboxIntegrated, "Quillarchive_Sales");
  const int before = attached->GetFullTextStatus();
  for (bool detach : {true, false}) {
    platform_.ui.QueueAnswer(platform::kAnswerNo);
    EXPECT_FALSE(detach ? catalogue.Remove("2") : catalogue.Delete("2"));
    EXPECT_EQ(attached->GetFullTextStatus(), before) << detach;
  }
  EXPECT_NO_THROW(other.Execute("SELECT 1"));

  platform_.ui.QueueAnswer(platform::kAnswerYes);
  ASSERT_TRUE(catalogue.Delete("2"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
  EXPECT_EQ(catalogue.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, SandboxFullTextLifeTest,
                         ::testing::Values("7.00.1063", "8.00.2039"));

class SandboxSql70Test : public SandboxCollectionsTest {
 protected:
  void SetUp() override { StartInstance("7.00.1063", false); }
};

TEST_F(SandboxSql70Test, ACollectionIsCreatedOnSql70) {
  REQUIRE_SANDBOX("sp_renamedb", "sp_helpdb", "sp_dboption");
  std::shared_ptr<Database> sales = Catalogue().AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr) << (platform_.ui.boxes().empty() ? "" : platform_.ui.boxes()[0].text);
  EXPECT_EQ(server_->ProductVersion(), 7);
  EXPECT_EQ(sales->GetExtendedProperty(0, 3, 1, ""), "1.61");
  std::vector<std::string> texts = log_->Texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "EXEC sp_dboption 'Quillarchive_Sales', 'autoshrink', 'true'"),
            texts.end());
  // Back in multi-user mode: a second connection gets in.
  EXPECT_NO_THROW(Open(kSandboxIntegrated, "Quillarchive_Sales"));
}

TEST_F(SandboxCollectionsTest, ACreatedCollectionIsListedAfterAFreshLoad) {
  REQUIRE_SANDBOX("sp_renamedb", "sp_helpdb");
  {
    servers::Servers servers(ServerContext());
    std::shared_ptr<servers::Server> server = servers.Add(kSandboxSa);
    ASSERT_NE(server, nullptr);
    auto& catalogue = dynamic_cast<Databases&>(server->Databases());
    ASSERT_NE(catalogue.AddNew("Sales", "C:\\Data\\Sales.mdf"), nullptr);
  }
  servers::Servers servers(ServerContext());
  ASSERT_EQ(servers.Count(), 1);
  auto& catalogue = dynamic_cast<Databases&>(servers.Item(1)->Databases());
  ASSERT_EQ(catalogue.Count(), 1);
  EXPECT_EQ(catalogue.Item(1)->Name(), "Sales");
  EXPECT_EQ(catalogue.Item(1)->GetExtendedProperty(0, 3, 1, ""), "1.61");
}

TEST_F(SandboxCollectionsTest, ACollectionSurvivesDetachAndAttach) {
  REQUIRE_SANDBOX("sp_renamedb", "sp_helpdb", "sp_who", "sp_detach_db", "sp_attach_db");
  Databases& catalogue = Catalogue();
  std::shared_ptr<Database> sales = catalogue.AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  int32_t field = 0;
  sales->SetExtendedProperty("kept", 0, field, "Detach test", 1, false, false);
  db::Connection files = Open(kSandboxSa, "Quillarchive_Sales");
  std::string log_file = Scalar(files, "SELECT filename FROM sysfiles WHERE fileid = 2").ToText();
  files.Close();
  ASSERT_FALSE(log_file.empty());

  ASSERT_TRUE(catalogue.Remove("1"));
  EXPECT_EQ(catalogue.Count(), 0);
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));

  std::shared_ptr<Database> attached = catalogue.Add("Sales", "C:\\Data\\Sales.mdf", log_file);
  ASSERT_NE(attached, nullptr);
  EXPECT_EQ(attached->ArchiveID(), 2);
  EXPECT_EQ(attached->GetExtendedProperty(0, 0, 1, "Detach test"), "kept");
  EXPECT_EQ(attached->GetExtendedProperty(0, 3, 1, ""), "1.61");
}

TEST_F(SandboxCollectionsTest, ACollectionIsRenamedWhileAnotherLoginIsConnectedAfterConsent) {
  REQUIRE_SANDBOX("sp_renamedb", "sp_helpdb", "sp_who");
  std::shared_ptr<Database> sales = Catalogue().AddNew("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  db::Connection other = Open(kSandboxIntegrated, "Quillarchive_Sales");

  platform_.ui.QueueAnswer(platform::kAnswerNo);
  EXPECT_FALSE(sales->Rename("Archive"));
  EXPECT_NE(platform_.ui.boxes().back().text.find("- SANDBOX\\alice"), std::string::npos)
      << platform_.ui.boxes().back().text;
  EXPECT_NO_THROW(other.Execute("SELECT 1"));

  platform_.ui.QueueAnswer(platform::kAnswerYes);
  EXPECT_TRUE(sales->Rename("Archive"));
  EXPECT_EQ(sales->DatabaseName(), "Quillarchive_Archive");
  EXPECT_TRUE(DatabaseExists("Quillarchive_Archive"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
  EXPECT_THROW(other.Execute("SELECT 1"), db::Error);
  EXPECT_EQ(sales->GetExtendedProperty(0, 3, 1, ""), "1.61");
}

TEST_F(SandboxCollectionsTest, AFailingRenameStepLeavesNoDatabaseBehind) {
  FailNext("sp_renamedb", "Injected rename failure.");
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(Catalogue().AddNew("Sales", "C:\\Data\\Sales.mdf"), nullptr);
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(platform_.ui.boxes()[0].text,
            "The following error occurred while creating the network collection:\rInjected rename "
            "failure.");
  EXPECT_FALSE(DatabaseExists("Sales"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
  EXPECT_EQ(Catalogue().Count(), 0);
}

TEST_F(SandboxCollectionsTest, AFailingInstallationLeavesNoDatabaseBehind) {
  REQUIRE_SANDBOX("sp_renamedb");
  FailNext("CREATE TABLE dbo.Folder", "Injected failure.");
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(Catalogue().AddNew("Sales", "C:\\Data\\Sales.mdf"), nullptr);
  EXPECT_FALSE(DatabaseExists("Sales"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Sales"));
  EXPECT_FALSE(std::filesystem::exists(instance_->MapPath("C:\\Data\\Sales.mdf")));
}

TEST_F(SandboxCollectionsTest, AMissingFolderFailsTheCreationAndNothingIsDropped) {
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(Catalogue().AddNew("Sales", "C:\\Nowhere\\Sales.mdf"), nullptr);
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_TRUE(platform_.ui.boxes()[0].text.starts_with(
      "The following error occurred while creating the network collection:\r"));
  for (const std::string& text : log_->Texts()) {
    EXPECT_FALSE(text.starts_with("DROP DATABASE")) << text;
  }
  EXPECT_FALSE(DatabaseExists("Sales"));
}

TEST_F(SandboxCollectionsTest, HostileNamesNeverBecomeSql) {
  FailNext("sp_renamedb", "Injected rename failure.");
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(Catalogue().AddNew("x]; DROP DATABASE model --", "C:\\Data\\x.mdf"), nullptr);
  // The odd name was created, then dropped as one name; model is still there.
  EXPECT_TRUE(DatabaseExists("model"));
  EXPECT_FALSE(DatabaseExists("x]; DROP DATABASE model --"));
  EXPECT_EQ(platform_.ui.boxes().size(), 1u);
}

TEST_F(SandboxCollectionsTest, CollectionsNamedAfterReservedKeywordsAreCreatedAndDeleted) {
  // The database is created under its bare name first, where a keyword needs brackets; the
  // rest of the way it carries the prefix.
  for (const char* word : {"Kill", "Print", "Tran", "View", "Use", "Return", "Percent", "Dump",
                           "Size", "Date", "Current_User", "Go"}) {
    SCOPED_TRACE(word);
    std::shared_ptr<Database> created = Created(word, "C:\\Data\\" + std::string(word) + ".mdf");
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(DatabaseExists("Quillarchive_" + std::string(word)));
    EXPECT_FALSE(DatabaseExists(word));
    ASSERT_TRUE(Catalogue().Delete(std::to_string(created->ArchiveID())));
    EXPECT_FALSE(DatabaseExists("Quillarchive_" + std::string(word)));
  }
  EXPECT_TRUE(platform_.ui.boxes().empty()) << platform_.ui.boxes().front().text;
}

TEST_F(SandboxCollectionsTest, ExtendedPropertiesAreDefinedReadAndWritten) {
  std::shared_ptr<Database> sales = InstalledDirectly("Props");
  ASSERT_NE(sales, nullptr);
  EXPECT_EQ(sales->GetExtendedProperty(0, 3, 1, ""), "1.61");
  EXPECT_EQ(sales->GetExtendedProperty(0, 0, 1, "Quillarchive: Search in PlainText"), "True");

  int32_t field = 0;
  sales->SetExtendedProperty("O'Brien's note", 0, field, "Note of O'Brien", 1, true, true);
  EXPECT_EQ(field, 11);  // one above the highest seeded number, 10
  EXPECT_EQ(sales->GetExtendedProperty(0, 11, 1, ""), "O'Brien's note");
  db::Connection connection = sales->Connection();
  EXPECT_EQ(Scalar(connection,
                   "SELECT COUNT(*) FROM ExtendedField WHERE ExtFieldID = 11 AND "
                   "Visible = 1 AND UserProperty = 1")
                .ToInt(),
            1);

  field = 0;
  sales->SetExtendedProperty("second", 0, field, "Note of O'Brien", 1, false, false);
  EXPECT_EQ(field, 11);
  EXPECT_EQ(Count(connection, "ExtendedField"), 10);
  EXPECT_EQ(Scalar(connection, "SELECT COUNT(*) FROM ExtendedData WHERE ExtFieldID = 11").ToInt(),
            1);
  EXPECT_EQ(sales->GetExtendedProperty(0, 0, 1, "Note of O'Brien"), "second");

  // A folder's property: entry 1200 had none, so a row is inserted.
  field = 5;
  sales->SetExtendedProperty("100", 1200, field, "", 2, false, false);
  EXPECT_EQ(sales->GetExtendedProperty(1200, 5, 2, ""), "100");
  EXPECT_EQ(sales->GetExtendedProperty(1201, 5, 2, ""), "");
}

TEST_F(SandboxCollectionsTest, RoleMembershipOfTheConnectedLogin) {
  std::shared_ptr<Database> sales = InstalledDirectly("Roles");
  ASSERT_NE(sales, nullptr);
  EXPECT_TRUE(sales->IsRolemember("db_owner"));
  EXPECT_FALSE(sales->IsRolemember("no_such_role"));
  EXPECT_FALSE(sales->IsRolemember("x') OR 1=1 --"));
}

TEST_F(SandboxCollectionsTest, RolesAndUsersAreListed) {
  REQUIRE_SANDBOX("sp_helprole", "sp_helprolemember", "sp_helpuser", "sp_grantdbaccess",
                  "sp_addrolemember");
  std::shared_ptr<Database> sales = InstalledDirectly("Users");
  ASSERT_NE(sales, nullptr);
  std::vector<std::string> roles = sales->Roles().items();
  for (const char* role : {"qa_reader", "qa_writer", "qa_structurer", "db_owner"}) {
    EXPECT_NE(std::find(roles.begin(), roles.end(), role), roles.end()) << role;
  }
  EXPECT_TRUE(sales->GrantDBAccess("SANDBOX\\alice", "alice"));
  sales->Connection().Execute("EXEC sp_addrolemember 'qa_reader', 'alice'");
  EXPECT_TRUE(sales->RoleMembers("qa_reader").Contains("alice"));
  EXPECT_TRUE(sales->UserRoles("alice").Contains("qa_reader"));
  EXPECT_TRUE(sales->RevokeDBAccess("alice"));
}

TEST_F(SandboxCollectionsTest, DeletingEndsEveryConnectionAndDropsTheDatabase) {
  REQUIRE_SANDBOX("sp_who");
  std::shared_ptr<Database> sales = InstalledDirectly("Gone");
  ASSERT_NE(sales, nullptr);
  db::Connection mine = Open(kSandboxSa, "Quillarchive_Gone");
  ASSERT_TRUE(Catalogue().Delete("1"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Gone"));
  EXPECT_THROW(mine.Execute("SELECT 1"), db::Error);
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(SandboxCollectionsTest, WhatAStoppedCreationLeftIsListedAsIncompleteAndCanBeDeleted) {
  // A creation stopped before its rename, whose clean-up could not drop the database either.
  FailNext("sp_renamedb", "Injected rename failure.");
  FailNext("DROP DATABASE", "Injected drop failure.");
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(Catalogue().AddNew("Halfway", "C:\\Data\\Halfway.mdf"), nullptr);
  ASSERT_TRUE(DatabaseExists("Halfway"));
  // Trying the name again fails at once ("already exists") and forgets nothing.
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_EQ(Catalogue().AddNew("Halfway", "C:\\Data\\Halfway3.mdf"), nullptr);
  {
    // Somebody's own empty database looks the same on the server, but was never ours.
    db::Connection admin = Open(kSandboxSa);
    admin.Execute("CREATE DATABASE Spare ON ( NAME = Spare, FILENAME = 'C:\\Data\\Spare.mdf')");
    admin.Close();
  }
  std::shared_ptr<Database> whole = InstalledDirectly("Whole");
  std::shared_ptr<Database> blank = InstalledDirectly("Blank");
  std::shared_ptr<Database> bare = InstalledDirectly("Bare");
  ASSERT_TRUE(whole && blank && bare);
  blank->Connection().Execute(
      "UPDATE ExtendedData SET FieldValue = '' WHERE EntryID = 0 AND "
      "ExtFieldID = 3");
  bare->Connection().Execute("DELETE FROM Document WHERE EntryID = 1");
  EXPECT_EQ(whole->IncompleteReason(), "");
  EXPECT_EQ(blank->IncompleteReason(), "it has no readable format version");
  EXPECT_EQ(bare->IncompleteReason(), "it has no template document");

  // A fresh read of the catalogue lists the bare-name leftover after the collections.
  server_.reset();
  Databases& catalogue = Catalogue();
  std::vector<std::string> listed;
  for (const std::shared_ptr<Database>& database : catalogue)
    listed.push_back(database->DatabaseName());
  EXPECT_EQ(listed, (std::vector<std::string>{"Quillarchive_Bare", "Quillarchive_Blank",
                                              "Quillarchive_Whole", "Halfway"}));
  std::shared_ptr<Database> halfway = catalogue.Item(4);
  ASSERT_NE(halfway, nullptr);
  EXPECT_EQ(halfway->Name(), "Halfway");
  EXPECT_EQ(halfway->IncompleteReason(),
            "its creation stopped before the database got its collection name");

  // Deleting removes the leftover itself, nothing of the same name with the prefix.
  ASSERT_TRUE(catalogue.Delete("4"));
  EXPECT_FALSE(DatabaseExists("Halfway"));
  EXPECT_TRUE(DatabaseExists("Spare"));
  // Now the name is free for a collection again, and a fresh read lists no leftover.
  EXPECT_NE(catalogue.AddNew("Halfway", "C:\\Data\\Halfway2.mdf"), nullptr)
      << platform_.ui.boxes().back().text;
  server_.reset();
  EXPECT_EQ(Catalogue().Count(), 4);
  for (const std::shared_ptr<Database>& database : Catalogue()) {
    EXPECT_NE(database->DatabaseName(), "Halfway");
  }
  EXPECT_EQ(Catalogue().Item(3)->DatabaseName(), "Quillarchive_Halfway");
}

// Another process's creation between CREATE DATABASE and its rename is no leftover: a catalogue
// that entered it would keep the rename from having the database to itself (5030).
TEST_F(SandboxCollectionsTest, ACreationUnderWayInAnotherProcessIsNeitherListedNorEntered) {
  pid_t creator = ::fork();
  ASSERT_GE(creator, 0);
  if (creator == 0) {
    ::pause();
    ::_exit(0);
  }
  Server().Connection().Execute("CREATE DATABASE Busy");
  {
    platform::cRegistry registry(platform_.registry, platform_.environment);
    registry.SetSectionKey("Software\\Fernwick\\Tessera Server Manager\\Unfinished Creations");
    registry.CreateKey();
    registry.SetValueKey(Server().Name());
    registry.SetPlainString("Busy|" + std::to_string(creator) + "|" +
                            common::ProcessStart(creator));
  }
  auto listed = [this] {
    server_.reset();
    std::vector<std::string> names;
    for (const std::shared_ptr<Database>& database : Catalogue())
      names.push_back(database->DatabaseName());
    return names;
  };
  EXPECT_EQ(listed(), std::vector<std::string>{});
  EXPECT_EQ(Scalar(Server().Connection(),
                   "SELECT COUNT(*) FROM master..sysprocesses WHERE dbid = DB_ID('Busy')")
                .ToInt(),
            0);

  // The creator ends without getting to the rename: what it left is offered like any leftover.
  ::kill(creator, SIGKILL);
  ::waitpid(creator, nullptr, 0);
  EXPECT_EQ(listed(), std::vector<std::string>{"Busy"});
}

TEST_F(SandboxCollectionsTest, TheLogFileIsShrunk) {
  REQUIRE_SANDBOX("SELECT * FROM master..sysaltfiles", "BACKUP LOG master WITH TRUNCATE_ONLY",
                  "DBCC SHRINKFILE(mastlog, 1)");
  std::shared_ptr<Database> sales = InstalledDirectly("Shrink");
  ASSERT_NE(sales, nullptr);
  EXPECT_NO_THROW(sales->ShrinkLogfile());
}

}  // namespace
}  // namespace collections
