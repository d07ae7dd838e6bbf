#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "common/messages.h"
#include "fixture.h"
#include "servers/server.h"

namespace servers {
namespace {

using db::testing::Column;
using db::testing::FakeResult;

constexpr char kHelpDb[] = "EXEC master..sp_helpdb";

class RevokeLoginTest : public testing::ServersFixture {
 protected:
  void SetUp() override { server_ = ConnectedServer(); }

  // The databases sp_helpdb lists (name, owner) and, per database, the login's user there.
  void Script(const std::vector<std::pair<std::string, std::string>>& databases,
              std::map<std::string, std::string> users, const std::string& login) {
    FakeResult list;
    list.BeginRows(
        {Column("name", "sysname"), Column("db_size", "nvarchar"), Column("owner", "sysname")});
    for (const auto& [name, owner] : databases) {
      list.Row(
          {db::Value(name), db::Value("1.00 MB"), owner.empty() ? db::Value() : db::Value(owner)});
    }
    list.EndRows();
    fake_->On(kHelpDb, list);
    std::string select = UsersQuery(login);
    fake_->SetHandler(
        [select, users](const db::testing::FakeCall& call) -> std::optional<FakeResult> {
          if (call.request.text != select) return std::nullopt;
          FakeResult result;
          result.BeginRows({Column("", "nvarchar"), Column("name", "sysname")});
          auto user = users.find(call.catalog);
          if (user != users.end()) result.Row({db::Value(call.catalog), db::Value(user->second)});
          result.EndRows();
          return result;
        });
  }

  static std::string UsersQuery(const std::string& quoted_login) {
    return "SELECT db_name(), name FROM sysusers WHERE sid=suser_sid('" + quoted_login + "')";
  }

  std::unique_ptr<Server> server_;
};

TEST_F(RevokeLoginTest, RemovesTheUsersOfEveryDatabaseThenTheLogin) {
  Script({{"master", "sa"}, {"Quillarchive_A", "sa"}, {"Quillarchive_B", "CORP\\boss"}},
         {{"Quillarchive_A", "jane"}, {"Quillarchive_B", "dbo"}}, "jane");
  EXPECT_TRUE(server_->RevokeLogin("jane", kSqlServerLogin));
  EXPECT_EQ(TextsOf(*server_), (std::vector<std::string>{
                                   "SET NOCOUNT ON",
                                   kHelpDb,
                                   "USE master",
                                   UsersQuery("jane"),
                                   "USE Quillarchive_A",
                                   UsersQuery("jane"),
                                   "EXEC sp_revokedbaccess 'jane'",
                                   "USE Quillarchive_B",
                                   UsersQuery("jane"),
                                   "USE master",
                                   "EXEC master..sp_droplogin 'jane'",
                               }));
  // The user is removed inside its database; the login from master.
  std::vector<db::Statement> statements = log_->statements();
  EXPECT_EQ(statements[6].catalog, "Quillarchive_A");
  EXPECT_EQ(statements.back().catalog, "master");
  EXPECT_TRUE(platform_.ui.boxes().empty());
}

TEST_F(RevokeLoginTest, AWindowsLoginIsRevokedRatherThanDropped) {
  Script({{"master", "sa"}}, {}, "CORP\\jane");
  EXPECT_TRUE(server_->RevokeLogin("CORP\\jane", 0));
  EXPECT_EQ(TextsOf(*server_).back(), "EXEC master..sp_revokelogin 'CORP\\jane'");
  EXPECT_TRUE(server_->RevokeLogin("CORP\\jane", 2));
  EXPECT_EQ(TextsOf(*server_).back(), "EXEC master..sp_revokelogin 'CORP\\jane'");
}

TEST_F(RevokeLoginTest, AnOwnedDatabaseStopsTheWalkWithMessage309AndKeepsTheLogin) {
  Script({{"Quillarchive_A", "sa"},
          {"Quillarchive_B", "sa"},
          {"Quillarchive_Sales", "JANE"},
          {"Quillarchive_D", "sa"}},
         {{"Quillarchive_A", "jane"}, {"Quillarchive_B", "jane_user"}, {"Quillarchive_D", "jane"}},
         "jane");
  platform_.ui.QueueAnswer(platform::kAnswerOk);
  EXPECT_FALSE(server_->RevokeLogin("jane", kSqlServerLogin));
  // The users of the first two databases are gone; the walk ends at the owned one, the
  // connection goes back to master, and the login stays.
  EXPECT_EQ(TextsOf(*server_), (std::vector<std::string>{
                                   "SET NOCOUNT ON",
                                   kHelpDb,
                                   "USE Quillarchive_A",
                                   UsersQuery("jane"),
                                   "EXEC sp_revokedbaccess 'jane'",
                                   "USE Quillarchive_B",
                                   UsersQuery("jane"),
                                   "EXEC sp_revokedbaccess 'jane_user'",
                                   "USE master",
                               }));
  EXPECT_EQ(server_->Connection().DefaultDatabase(), "master");
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  const platform::MessageRequest& box = platform_.ui.boxes()[0];
  EXPECT_EQ(box.text,
            common::FormatMessage(309, {db::Value("jane"), db::Value("Quillarchive_Sales")}));
  EXPECT_EQ(box.text,
            "The user 'jane' is currently the owner of the database 'Quillarchive_Sales'\nand "
            "thus he cannot be deleted until you change the owner of this database.");
  EXPECT_EQ(box.title, "Tessera Server Manager");
  EXPECT_EQ(box.buttons, platform::MessageButtons::kOk);
  EXPECT_EQ(box.icon, platform::MessageIcon::kInformation);
}

TEST_F(RevokeLoginTest, AClosedConnectionRemovesNothing) {
  server_->StopService();
  log_->Clear();
  EXPECT_FALSE(server_->RevokeLogin("jane", kSqlServerLogin));
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(RevokeLoginTest, HostileNamesReachTheServerAsData) {
  std::string login = "O'Brien";
  std::string database = "x]; DROP DATABASE y --";
  Script({{database, "sa"}, {"it's", "sa"}}, {}, "O''Brien");
  // The fake keeps the doubled bracket of the current database's name.
  fake_->SetHandler([&](const db::testing::FakeCall& call) -> std::optional<FakeResult> {
    if (call.request.text != UsersQuery("O''Brien")) return std::nullopt;
    return FakeResult().Rows({Column("", "nvarchar"), Column("name", "sysname")},
                             {{db::Value(call.catalog), db::Value("Jim's")}});
  });
  EXPECT_TRUE(server_->RevokeLogin(login, kSqlServerLogin));
  EXPECT_EQ(TextsOf(*server_), (std::vector<std::string>{
                                   "SET NOCOUNT ON",
                                   kHelpDb,
                                   "USE [x]]; DROP DATABASE y --]",
                                   UsersQuery("O''Brien"),
                                   "EXEC sp_revokedbaccess 'Jim''s'",
                                   "USE [it's]",
                                   UsersQuery("O''Brien"),
                                   "EXEC sp_revokedbaccess 'Jim''s'",
                                   "USE master",
                                   "EXEC master..sp_droplogin 'O''Brien'",
                               }));
}

TEST_F(RevokeLoginTest, ADatabaseTheAdministratorCannotEnterIsPassedBy) {
  // A securityadmin is no user of every database: those it cannot enter are skipped.
  fake_->SetDatabases({"master", "Quillarchive_A"});
  Script({{"Quillarchive_A", "sa"}, {"Offline_DB", "sa"}, {"Quillarchive_C", "sa"}},
         {{"Quillarchive_A", "jane"}}, "jane");
  EXPECT_TRUE(server_->RevokeLogin("jane", kSqlServerLogin));
  EXPECT_EQ(TextsOf(*server_), (std::vector<std::string>{
                                   "SET NOCOUNT ON",
                                   kHelpDb,
                                   "USE Quillarchive_A",
                                   UsersQuery("jane"),
                                   "EXEC sp_revokedbaccess 'jane'",
                                   "USE Offline_DB",
                                   "USE Quillarchive_C",
                                   "USE master",
                                   "EXEC master..sp_droplogin 'jane'",
                               }));
  EXPECT_EQ(server_->Connection().DefaultDatabase(), "master");
}

TEST_F(RevokeLoginTest, AFailureOnTheWayRaisesAndStillReturnsToMaster) {
  Script({{"Quillarchive_A", "sa"}, {"Quillarchive_C", "sa"}}, {{"Quillarchive_A", "jane"}},
         "jane");
  fake_->On("EXEC sp_revokedbaccess 'jane'",
            FakeResult().Error(15247, "User does not have permission to perform this action."));
  EXPECT_THROW(server_->RevokeLogin("jane", kSqlServerLogin), db::Error);
  std::vector<std::string> texts = TextsOf(*server_);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "USE master");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "USE Quillarchive_C"), 0);
  EXPECT_EQ(server_->Connection().DefaultDatabase(), "master");
}

}  // namespace
}  // namespace servers
