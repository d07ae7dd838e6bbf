#include <gtest/gtest.h>

#include "fixture.h"
#include "servers/server.h"

namespace servers {
namespace {

using db::testing::Column;
using db::testing::FakeResult;

constexpr char kHelpDb[] = "EXEC master..sp_helpdb";
constexpr char kOrphans[] = "SELECT name FROM master..sysdatabases Where SUSER_SNAME(sid) Is Null";

struct Db {
  std::string name;
  std::string size = "2.00 MB";
  std::string owner = "sa";
  std::string created = "Mar  4 2003";
};

FakeResult HelpDbRows(const std::vector<Db>& databases) {
  FakeResult result;
  result.BeginRows({Column("name", "sysname"), Column("db_size", "nvarchar"),
                    Column("owner", "sysname"), Column("dbid", "smallint"),
                    Column("created", "nvarchar"), Column("status", "nvarchar")});
  int id = 0;
  for (const Db& db : databases) {
    result.Row({db::Value(db.name), db::Value(db.size),
                db.owner.empty() ? db::Value() : db::Value(db.owner), db::Value(++id),
                db::Value(db.created), db::Value("Status=ONLINE")});
  }
  result.EndRows();
  return result;
}

FakeResult OrphanedOwner() {
  return FakeResult().Error(515,
                            "Cannot insert the value NULL into column 'owner', table "
                            "'tempdb.dbo.#spdbdesc'; column does not allow nulls. INSERT fails.");
}

class ServerDatabasesTest : public testing::ServersFixture {
 protected:
  void SetUp() override { server_ = ConnectedServer(); }
  std::unique_ptr<Server> server_;
};

TEST_F(ServerDatabasesTest, ListsEveryDatabaseWhoseNameHoldsThePrefix) {
  fake_->On(kHelpDb, HelpDbRows({{"master", "12.00 MB"},
                                 {"Quillarchive_Sales", "3.00 MB", "sa", "Jan 12 2004"},
                                 {"quillarchive_x", "1.50 MB"},
                                 {"Old_Quillarchive_Sales", "5.00 MB"},
                                 {"Quillarchiv_Near"},
                                 {"QUILLARCHIVE_"}}));
  CollectionCatalogue& catalogue = server_->Databases();
  EXPECT_EQ(TextsOf(*server_),
            (std::vector<std::string>{"SET NOCOUNT ON", "SET ANSI_NULL_DFLT_ON ON", kHelpDb}));
  EXPECT_EQ(catalogues_->created, 1);
  EXPECT_EQ(catalogues_->set_server_calls, 1);
  EXPECT_EQ(catalogues_->server, server_.get());
  EXPECT_EQ(catalogues_->connection_state_at_set, db::kStateOpen);
  EXPECT_EQ(catalogues_->found,
            (std::vector<FoundCollection>{
                {"Sales", "Quillarchive_Sales", "3.00 MB", "Jan 12 2004"},
                {"x", "quillarchive_x", "1.50 MB", "Mar  4 2003"},
                // Text before the prefix: listed by the text after it, but with its own name.
                {"Sales", "Old_Quillarchive_Sales", "5.00 MB", "Mar  4 2003"},
                {"", "QUILLARCHIVE_", "2.00 MB", "Mar  4 2003"}}));

  // Read once: the same catalogue, nothing sent again.
  log_->Clear();
  EXPECT_EQ(&server_->Databases(), &catalogue);
  EXPECT_TRUE(log_->Texts().empty());
  EXPECT_EQ(catalogues_->created, 1);
}

TEST_F(ServerDatabasesTest, RowlessResultsBeforeTheListAreSkipped) {
  FakeResult result = FakeResult().Count(7).Print("note").Count(7).NoCount();
  result.BeginRows({Column("name"), Column("db_size"), Column("created")})
      .Row({db::Value("Quillarchive_A"), db::Value("1.00 MB"), db::Value("Jan  1 2005")})
      .EndRows();
  fake_->On(kHelpDb, result);
  server_->Databases();
  ASSERT_EQ(catalogues_->found.size(), 1u);
  EXPECT_EQ(catalogues_->found[0].name, "A");
}

TEST_F(ServerDatabasesTest, AClosedConnectionGivesAnEmptyCatalogueForGood) {
  server_->StopService();
  CollectionCatalogue& catalogue = server_->Databases();
  EXPECT_EQ(catalogues_->created, 1);
  EXPECT_EQ(catalogues_->set_server_calls, 0);
  EXPECT_TRUE(log_->Texts().empty());
  // Connected again, the empty catalogue stays.
  fake_->On(kHelpDb, HelpDbRows({{"Quillarchive_Sales"}}));
  ASSERT_TRUE(server_->Connect());
  EXPECT_EQ(&server_->Databases(), &catalogue);
  EXPECT_TRUE(catalogues_->found.empty());
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(ServerDatabasesTest, DatabasesWithADroppedOwnerGoToSaAndTheListIsReadAgain) {
  fake_->On(kHelpDb, OrphanedOwner());
  fake_->On(kHelpDb, HelpDbRows({{"master"}, {"Quillarchive_Sales"}, {"Quillarchive_Old"}}));
  fake_->On(kOrphans, FakeResult().Rows({Column("name", "sysname")},
                                        {{db::Value("Quillarchive_Old")},
                                         {db::Value("Odd Name")},
                                         {db::Value("x]; DROP DATABASE y --")}}));
  server_->Databases();
  EXPECT_EQ(
      TextsOf(*server_),
      (std::vector<std::string>{
          "SET NOCOUNT ON", "SET ANSI_NULL_DFLT_ON ON", kHelpDb, kOrphans, "USE Quillarchive_Old",
          "EXEC sp_changedbowner 'sa'", "USE [Odd Name]", "EXEC sp_changedbowner 'sa'",
          "USE [x]]; DROP DATABASE y --]", "EXEC sp_changedbowner 'sa'", "USE master", kHelpDb}));
  ASSERT_EQ(catalogues_->found.size(), 2u);
  EXPECT_EQ(catalogues_->found[1].name, "Old");
  // The list is read from master again.
  EXPECT_EQ(log_->statements().back().catalog, "master");
}

TEST_F(ServerDatabasesTest, ASecondFailureGivesUpWithWhatTheCatalogueHolds) {
  fake_->On(kHelpDb, OrphanedOwner());
  fake_->On(kOrphans, FakeResult().Rows({Column("name", "sysname")}, {}));
  CollectionCatalogue& catalogue = server_->Databases();
  EXPECT_EQ(TextsOf(*server_),
            (std::vector<std::string>{"SET NOCOUNT ON", "SET ANSI_NULL_DFLT_ON ON", kHelpDb,
                                      kOrphans, "USE master", kHelpDb}));
  EXPECT_TRUE(catalogues_->found.empty());
  EXPECT_EQ(&server_->Databases(), &catalogue);
}

TEST_F(ServerDatabasesTest, AFailedRepairReturnsToMasterAndGivesUp) {
  fake_->SetDatabases({"master", "tempdb"});
  fake_->On(kHelpDb, OrphanedOwner());
  fake_->On(kOrphans, FakeResult().Rows({Column("name", "sysname")},
                                        {{db::Value("tempdb")}, {db::Value("Gone")}}));
  EXPECT_NO_THROW(server_->Databases());
  EXPECT_EQ(TextsOf(*server_),
            (std::vector<std::string>{"SET NOCOUNT ON", "SET ANSI_NULL_DFLT_ON ON", kHelpDb,
                                      kOrphans, "USE tempdb", "EXEC sp_changedbowner 'sa'",
                                      "USE Gone", "USE master"}));
  EXPECT_TRUE(catalogues_->found.empty());
  EXPECT_EQ(server_->Connection().DefaultDatabase(), "master");
}

TEST_F(ServerDatabasesTest, AnErrorOfTheCatalogueReachesTheCallerAndStopsTheList) {
  fake_->On(kHelpDb, HelpDbRows({{"Quillarchive_A"}, {"Quillarchive_Broken"}, {"Quillarchive_C"}}));
  catalogues_->fail_on = "Broken";
  EXPECT_THROW(server_->Databases(), common::Error);
  ASSERT_EQ(catalogues_->found.size(), 1u);
  EXPECT_EQ(catalogues_->found[0].name, "A");
}

TEST_F(ServerDatabasesTest, WithoutAFactoryTheCatalogueCannotBeReadAndSaysSo) {
  Context context = MakeContext();
  context.catalogue_factory = nullptr;
  Server server(context, 2);
  server.SetConnectionString(testing::kSrv01);
  ASSERT_TRUE(server.Connect());
  EXPECT_THROW(server.Databases(), common::Error);
}

}  // namespace
}  // namespace servers
