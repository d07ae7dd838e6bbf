// The catalogue of one server's collections: how it is filled from the server's list, looked up,
// and how collections are attached, detached and dropped.
#include <gtest/gtest.h>

#include "collections/databases.h"
#include "fixture.h"

namespace collections {
namespace {

using testing::Column;
using testing::FakeResult;
using testing::kFullTextCatalogs;
using testing::kFullTextInstalled;
using testing::kSystemUser;
using testing::Who;

class CatalogueTest : public testing::CollectionsFixture {
 protected:
  void SetUp() override { server_ = ConnectedServer(); }

  std::vector<std::string> CatalogsConnected() {
    std::vector<std::string> catalogs;
    for (const db::ConnectRequest& request : fake_->connects()) catalogs.push_back(request.catalog);
    return catalogs;
  }

  std::unique_ptr<servers::Server> server_;
};

TEST_F(CatalogueTest, EveryDatabaseWithThePrefixIsConnectedAndListedUnderItsOwnName) {
  Databases& catalogue = CatalogueOf(
      *server_, {"master", "Quillarchive_Sales", "quillarchive_x", "Old_Quillarchive_Sales"});
  ASSERT_EQ(catalogue.Count(), 3);
  EXPECT_EQ(catalogue.Server(), server_.get());

  std::vector<std::string> names, database_names, keys;
  for (const auto& database : catalogue) {
    names.push_back(database->Name());
    database_names.push_back(database->DatabaseName());
    keys.push_back(std::to_string(database->ArchiveID()));
    EXPECT_TRUE(database->Connected());
    EXPECT_EQ(database->Connection().State(), db::kStateOpen);
    EXPECT_EQ(database->Server(), server_.get());
    EXPECT_EQ(database->Parent(), &catalogue);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Sales", "x", "Sales"}));
  // Text before the prefix or another letter case: the database as listed, never another one.
  EXPECT_EQ(database_names, (std::vector<std::string>{"Quillarchive_Sales", "quillarchive_x",
                                                      "Old_Quillarchive_Sales"}));
  EXPECT_EQ(keys, (std::vector<std::string>{"1", "2", "3"}));

  std::vector<db::ConnectRequest> connects = fake_->connects();
  ASSERT_EQ(connects.size(), 4u);
  EXPECT_EQ(connects[1].catalog, "Quillarchive_Sales");
  EXPECT_EQ(connects[2].catalog, "quillarchive_x");
  EXPECT_EQ(connects[3].catalog, "Old_Quillarchive_Sales");
  EXPECT_TRUE(connects[3].integrated);
  EXPECT_EQ(catalogue.Item(3)->Connection().ConnectionString(),
            std::string(testing::kSrv01) +
                ";Persist Security Info=True;Initial Catalog=Old_Quillarchive_Sales");
  // Listing sends nothing on the collections' connections.
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(CatalogueTest, ItemsAreFoundByKeyOrPositionAndNothingOtherwise) {
  Databases& catalogue = CatalogueOf(*server_, {"Quillarchive_A", "Quillarchive_B"});
  ASSERT_NE(catalogue.Item("2"), nullptr);
  EXPECT_EQ(catalogue.Item("2")->Name(), "B");
  EXPECT_EQ(catalogue.Item(1)->Name(), "A");
  EXPECT_EQ(catalogue.Item("3"), nullptr);
  EXPECT_EQ(catalogue.Item("B"), nullptr);
  EXPECT_EQ(catalogue.Item(""), nullptr);
  EXPECT_EQ(catalogue.Item(0), nullptr);
  EXPECT_EQ(catalogue.Item(3), nullptr);
  EXPECT_EQ(catalogue.Item(-1), nullptr);
}

TEST_F(CatalogueTest, ACollectionThatCannotBeOpenedIsLeftOutAndNamed) {
  fake_->SetDatabases({"master", "Quillarchive_A", "Quillarchive_C"});
  HelpDb({"Quillarchive_A", "Quillarchive_Gone", "Quillarchive_C"});
  auto& catalogue = dynamic_cast<Databases&>(server_->Databases());
  ASSERT_EQ(catalogue.Count(), 2);
  EXPECT_EQ(catalogue.Item(1)->Name(), "A");
  EXPECT_EQ(catalogue.Item(2)->Name(), "C");
  ASSERT_EQ(catalogue.UnopenedCollections().size(), 1u);
  EXPECT_EQ(catalogue.UnopenedCollections()[0].name, "Gone");
  EXPECT_EQ(catalogue.UnopenedCollections()[0].database_name, "Quillarchive_Gone");
  EXPECT_NE(catalogue.UnopenedCollections()[0].reason.find("Quillarchive_Gone"), std::string::npos);
}

TEST_F(CatalogueTest, AttachingWithALogFileNamesBothFiles) {
  Databases& catalogue = CatalogueOf(*server_, {});
  std::shared_ptr<Database> added = catalogue.Add("Sales", "C:\\Data\\Sales.mdf", "D:\\Log\\S.ldf");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(
      TextsOn(server_->Connection()),
      (std::vector<std::string>{
          "EXEC sp_attach_db 'Quillarchive_Sales', 'C:\\Data\\Sales.mdf', 'D:\\Log\\S.ldf'"}));
  EXPECT_EQ(catalogue.Count(), 1);
  EXPECT_EQ(catalogue.Item("1"), added);
  EXPECT_EQ(added->DatabaseName(), "Quillarchive_Sales");
  EXPECT_EQ(fake_->connects().back().catalog, "Quillarchive_Sales");
}

TEST_F(CatalogueTest, AttachingWithoutALogFileNamesTheDataFileAlone) {
  Databases& catalogue = CatalogueOf(*server_, {});
  ASSERT_NE(catalogue.Add("Sales", "C:\\Data\\Sales.mdf", ""), nullptr);
  EXPECT_EQ(TextsOn(server_->Connection()),
            (std::vector<std::string>{
                "EXEC sp_attach_single_file_db 'Quillarchive_Sales', 'C:\\Data\\Sales.mdf'"}));
}

TEST_F(CatalogueTest, AHostilePathOrNameIsOneValueToTheAttach) {
  Databases& catalogue = CatalogueOf(*server_, {});
  catalogue.Add("O'Brien", "C:\\x', 'y'; DROP DATABASE master --.mdf", "");
  EXPECT_EQ(TextsOn(server_->Connection()),
            (std::vector<std::string>{"EXEC sp_attach_single_file_db 'Quillarchive_O''Brien', "
                                      "'C:\\x'', ''y''; DROP DATABASE master --.mdf'"}));
  // The name reaches the connection string as one value.
  EXPECT_EQ(fake_->connects().back().catalog, "Quillarchive_O'Brien");
}

TEST_F(CatalogueTest, AFailedAttachListsNothing) {
  Databases& catalogue = CatalogueOf(*server_, {"Quillarchive_A"});
  fake_->OnPrefix("EXEC sp_attach_db",
                  FakeResult().Error(5120, "Unable to open the physical file \"C:\\x.mdf\"."));
  EXPECT_THROW(catalogue.Add("X", "C:\\x.mdf", "C:\\x.ldf"), db::Error);
  EXPECT_EQ(catalogue.Count(), 1);
  // The failed attempt used no key.
  ASSERT_NE(catalogue.Add("Y", "C:\\y.mdf", ""), nullptr);
  EXPECT_EQ(catalogue.Item(2)->ArchiveID(), 2);
}

class RemovalTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    HelpDb({"Quillarchive_A", "Quillarchive_Sales", "Old_Quillarchive_C"});
    catalogue_ = dynamic_cast<Databases*>(&server_->Databases());
    sales_ = catalogue_->Item("2");
    server_session_ = SessionOf(server_->Connection());
    sales_session_ = SessionOf(sales_->Connection());
    SystemUser("sa");
    log_->Clear();
  }

  // sp_who's answers are used in turn: each test gives its own once.
  void OnlyOwnConnections() {
    SpWho({{server_session_, "sa", "master"}, {sales_session_, "sa", "Quillarchive_Sales"}});
  }

  Databases* catalogue_ = nullptr;
  std::shared_ptr<Database> sales_;
  int server_session_ = 0;
  int sales_session_ = 0;
};

TEST_F(RemovalTest, DetachEndsTheConnectionsThenDetachesAndForgetsTheCollection) {
  OnlyOwnConnections();
  EXPECT_TRUE(catalogue_->Remove("2"));
  EXPECT_EQ(
      TextsOn(sales_->Connection()),
      (std::vector<std::string>{kFullTextInstalled, kSystemUser, "SELECT @@SPID;", "sp_who"}));
  // The collection's own connection is closed, not killed: that needs processadmin.
  EXPECT_EQ(TextsOn(server_->Connection()),
            (std::vector<std::string>{"sp_detach_db @dbname='Quillarchive_Sales';"}));
  EXPECT_EQ(sales_->Connection().State(), db::kStateClosed);
  EXPECT_EQ(catalogue_->Count(), 2);
  EXPECT_EQ(catalogue_->Item("2"), nullptr);
  EXPECT_EQ(catalogue_->RemovedCount(), 1);
}

TEST_F(RemovalTest, DropSendsDropDatabase) {
  OnlyOwnConnections();
  EXPECT_TRUE(catalogue_->Delete(2));
  EXPECT_EQ(TextsOn(server_->Connection()).back(), "DROP DATABASE Quillarchive_Sales");
  EXPECT_EQ(catalogue_->Count(), 2);
  EXPECT_EQ(catalogue_->RemovedCount(), 1);
}

TEST_F(RemovalTest, ACollectionListedUnderAnotherDatabaseNameDropsThatDatabase) {
  SpWho({});
  EXPECT_TRUE(catalogue_->Delete("3"));
  EXPECT_EQ(TextsOn(server_->Connection()),
            (std::vector<std::string>{"DROP DATABASE Old_Quillarchive_C"}));
}

TEST_F(RemovalTest, AFullTextIndexIsDroppedFirst) {
  OnlyOwnConnections();
  FullText(0);
  EXPECT_TRUE(catalogue_->Remove("2"));
  std::vector<std::string> texts = TextsOn(sales_->Connection());
  ASSERT_EQ(texts.size(), 11u);
  EXPECT_EQ(texts[2], "EXEC sp_fulltext_table Document, 'Stop_background_updateindex'");
  EXPECT_EQ(texts[7], "EXEC sp_fulltext_database 'disable'");
  EXPECT_EQ(texts[8], kSystemUser);
}

TEST_F(RemovalTest, DecliningLeavesTheCollectionListedConnectedAndIndexed) {
  // The index exists when the removal starts and is gone once dropped.
  FullText(0);
  fake_->On(kFullTextCatalogs, *FullTextAnswer(kFullTextCatalogs, 0));
  fake_->On(kFullTextCatalogs, *FullTextAnswer(kFullTextCatalogs, -1));
  SpWho({{sales_session_, "sa", "Quillarchive_Sales"}, {77, "CORP\\anna", "Quillarchive_Sales"}});
  platform_.ui.QueueAnswer(platform::kAnswerNo);
  EXPECT_FALSE(catalogue_->Remove("2"));
  EXPECT_EQ(catalogue_->Count(), 3);
  EXPECT_EQ(catalogue_->RemovedCount(), 0);
  EXPECT_EQ(catalogue_->Item("2"), sales_);
  for (const std::string& text : TextsOn(server_->Connection())) {
    EXPECT_FALSE(text.starts_with("KILL") || text.starts_with("sp_detach_db")) << text;
  }
  // The index went before the question and was created again after the No.
  std::vector<std::string> texts = TextsOn(sales_->Connection());
  auto dropped =
      std::find(texts.begin(), texts.end(), "EXEC sp_fulltext_catalog 'Doc_Desc', 'drop'");
  auto created =
      std::find(texts.begin(), texts.end(), "EXEC sp_fulltext_catalog 'Doc_Desc', 'create'");
  EXPECT_NE(dropped, texts.end());
  EXPECT_NE(created, texts.end());
  EXPECT_GT(created - texts.begin(), dropped - texts.begin());
  EXPECT_EQ(texts.back(), "EXEC sp_fulltext_table Document, 'Start_background_updateindex'");
  // Nobody's connection was ended.
  EXPECT_NO_THROW(sales_->Connection().Execute("SELECT 1"));
}

TEST_F(RemovalTest, AFailedDetachKeepsTheCollectionListedAndConnectsItAgain) {
  OnlyOwnConnections();
  fake_->On("sp_detach_db @dbname='Quillarchive_Sales';",
            FakeResult().Error(3703,
                               "Cannot detach the database 'Quillarchive_Sales' because it "
                               "is currently in use."));
  size_t connects = fake_->connects().size();
  EXPECT_THROW(catalogue_->Remove("2"), db::Error);
  EXPECT_EQ(catalogue_->Count(), 3);
  EXPECT_EQ(catalogue_->RemovedCount(), 0);
  // The old connection was ended with the others; a new one makes the collection usable again.
  ASSERT_EQ(fake_->connects().size(), connects + 1);
  EXPECT_EQ(fake_->connects().back().catalog, "Quillarchive_Sales");
  EXPECT_NO_THROW(sales_->Connection().Execute("SELECT 1"));
}

TEST_F(RemovalTest, AnIndexNotListedIsAnError) {
  try {
    catalogue_->Remove("9");
    ADD_FAILURE() << "no error";
  } catch (const common::Error& error) {
    EXPECT_EQ(error.number(), 5);
    EXPECT_NE(error.description().find("'9'"), std::string::npos);
  }
  EXPECT_THROW(catalogue_->Delete(4), common::Error);
  EXPECT_THROW(catalogue_->Remove(0), common::Error);
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(RemovalTest, KeysFreedByARemovalAreNeverIssuedAgain) {
  SpWho({});
  ASSERT_TRUE(catalogue_->Remove("1"));
  std::shared_ptr<Database> added = catalogue_->Add("New", "C:\\Data\\New.mdf", "");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->ArchiveID(), 4);
  EXPECT_EQ(catalogue_->Item("4"), added);
  ASSERT_TRUE(catalogue_->Delete("4"));
  // Two removed, two listed: the next key is 5, not the freed 4.
  EXPECT_EQ(catalogue_->Add("Next", "C:\\Data\\Next.mdf", "")->ArchiveID(), 5);
}

TEST_F(RemovalTest, HostileDatabaseNamesAreQuotedOrBracketed) {
  SpWho({});
  auto hostile = catalogue_->Add("x]; DROP DATABASE y --", "C:\\a.mdf", "");
  auto quoted = catalogue_->Add("O'Brien", "C:\\b.mdf", "");
  log_->Clear();
  ASSERT_TRUE(catalogue_->Delete(std::to_string(hostile->ArchiveID())));
  ASSERT_TRUE(catalogue_->Remove(std::to_string(quoted->ArchiveID())));
  std::vector<std::string> texts = TextsOn(server_->Connection());
  EXPECT_EQ(texts, (std::vector<std::string>{"DROP DATABASE [Quillarchive_x]]; DROP DATABASE y --]",
                                             "sp_detach_db @dbname='Quillarchive_O''Brien';"}));
}

TEST_F(RemovalTest, CollectionsHeldAfterTheirCatalogueEndsRaiseInsteadOfReachingIt) {
  server_.reset();
  EXPECT_EQ(sales_->Parent(), nullptr);
  EXPECT_EQ(sales_->Server(), nullptr);
  EXPECT_EQ(sales_->Connection().State(), db::kStateClosed);
  EXPECT_THROW(sales_->Rename("Other"), common::Error);
  EXPECT_THROW(sales_->Connect(), common::Error);
}

}  // namespace
}  // namespace collections
