#include <gtest/gtest.h>

#include "fixture.h"
#include "servers/keyed_texts.h"
#include "servers/server.h"

namespace servers {
namespace {

using db::testing::Column;
using db::testing::FakeResult;

class ServerInfoTest : public testing::ServersFixture {
 protected:
  void SetUp() override { server_ = ConnectedServer(); }

  // xp_msver's answer for one row name.
  void ScriptVersion(const std::string& name, const std::string& character_value) {
    fake_->On("EXEC master..xp_msver '" + name + "'",
              FakeResult().Rows({Column("Index", "int"), Column("Name"),
                                 Column("Internal_Value", "int"), Column("Character_Value")},
                                {{db::Value(2), db::Value(name), db::Value(524288),
                                  db::Value(character_value)}}));
  }
  void ScriptLoginMode(const db::Value& mode) {
    fake_->On("EXEC master..xp_loginconfig 'login mode'",
              FakeResult().Rows({Column("name"), Column("config_value")},
                                {{db::Value("login mode"), mode}}));
  }

  std::unique_ptr<Server> server_;
};

TEST_F(ServerInfoTest, CurrentUserIsTheConnectionsLogin) {
  fake_->On("SELECT SUSER_SNAME()",
            FakeResult().Rows({Column("", "nvarchar")}, {{db::Value("CORP\\admin")}}));
  EXPECT_EQ(server_->CurrentUser(), "CORP\\admin");
  EXPECT_EQ(TextsOf(*server_), (std::vector<std::string>{"SELECT SUSER_SNAME()"}));
  // Closed: nothing is asked.
  server_->StopService();
  log_->Clear();
  EXPECT_EQ(server_->CurrentUser(), "");
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(ServerInfoTest, CurrentUserRaisesTheServersError) {
  fake_->On("SELECT SUSER_SNAME()", FakeResult().Error(6001, "SHUTDOWN is in progress."));
  EXPECT_THROW(server_->CurrentUser(), db::Error);
}

TEST_F(ServerInfoTest, UserRolesListsTheGroupNamesInTheServersOrder) {
  fake_->On(
      "EXEC master..sp_helpuser 'CORP\\jane'",
      FakeResult().Rows({Column("UserName"), Column("GroupName"), Column("LoginName")},
                        {{db::Value("jane"), db::Value("db_owner"), db::Value("CORP\\jane")},
                         {db::Value("jane"), db::Value("public"), db::Value("CORP\\jane")},
                         {db::Value("jane"), db::Value("DB_OWNER"), db::Value("CORP\\jane")}}));
  KeyedTexts roles = server_->UserRoles("CORP\\jane");
  EXPECT_EQ(roles.items(), (std::vector<std::string>{"db_owner", "public"}));
  EXPECT_TRUE(roles.Contains("Public"));
  EXPECT_FALSE(roles.Contains("sysadmin"));
  EXPECT_EQ(roles.Item(2), "public");
  EXPECT_THROW(roles.Item(3), common::Error);
}

TEST_F(ServerInfoTest, UserRolesQuotesTheLoginAsData) {
  server_->UserRoles("O'Brien");
  server_->UserRoles("x'); DROP LOGIN sa --");
  EXPECT_EQ(TextsOf(*server_),
            (std::vector<std::string>{"EXEC master..sp_helpuser 'O''Brien'",
                                      "EXEC master..sp_helpuser 'x''); DROP LOGIN sa --'"}));
}

TEST_F(ServerInfoTest, UserRolesRaisesTheServersError) {
  fake_->On("EXEC master..sp_helpuser 'ghost'",
            FakeResult().Error(15198,
                               "The name supplied (ghost) is not a user, role, or aliased "
                               "login."));
  EXPECT_THROW(server_->UserRoles("ghost"), db::Error);
}

TEST_F(ServerInfoTest, IsRolememberAsksForTheLoginOrTheConnectionsOwn) {
  fake_->On("SELECT IS_SRVROLEMEMBER ('sysadmin','sa')",
            FakeResult().Rows({Column("", "int")}, {{db::Value(1)}}));
  fake_->On("SELECT IS_SRVROLEMEMBER ('dbcreator')",
            FakeResult().Rows({Column("", "int")}, {{db::Value(0)}}));
  fake_->On("SELECT IS_SRVROLEMEMBER ('nosuchrole')",
            FakeResult().Rows({Column("", "int")}, {{db::Value()}}));
  EXPECT_TRUE(server_->IsRolemember("sysadmin", "sa"));
  EXPECT_FALSE(server_->IsRolemember("dbcreator"));
  EXPECT_FALSE(server_->IsRolemember("nosuchrole", ""));
  // No row at all is no membership either.
  fake_->On("SELECT IS_SRVROLEMEMBER ('empty')", FakeResult().Rows({Column("", "int")}, {}));
  EXPECT_FALSE(server_->IsRolemember("empty"));
  server_->IsRolemember("it's", "O'Brien");
  std::vector<std::string> texts = TextsOf(*server_);
  EXPECT_EQ(texts.back(), "SELECT IS_SRVROLEMEMBER ('it''s','O''Brien')");
}

TEST_F(ServerInfoTest, VersionReadsOneRowOfTheVersionReport) {
  ScriptVersion("Platform", "NT INTEL X86");
  EXPECT_EQ(server_->Version("Platform"), "NT INTEL X86");
  EXPECT_EQ(TextsOf(*server_), (std::vector<std::string>{"EXEC master..xp_msver 'Platform'"}));
  // Unknown row names and failures give empty text, never an error.
  fake_->On("EXEC master..xp_msver 'Nothing'",
            FakeResult().Rows({Column("Index", "int"), Column("Character_Value")}, {}));
  EXPECT_EQ(server_->Version("Nothing"), "");
  fake_->On("EXEC master..xp_msver 'Broken'",
            FakeResult().Error(2812, "Could not find stored procedure 'xp_msver'."));
  EXPECT_EQ(server_->Version("Broken"), "");
  EXPECT_EQ(server_->Version("x'; SHUTDOWN --"), "");
  EXPECT_EQ(TextsOf(*server_).back(), "EXEC master..xp_msver 'x''; SHUTDOWN --'");
}

TEST(MajorVersionTest, TakesTheWholeLeadingNumber) {
  EXPECT_EQ(MajorVersion("8.00.760"), 8);
  EXPECT_EQ(MajorVersion("7.00.623"), 7);
  EXPECT_EQ(MajorVersion("10.50.1600.1"), 10);
  EXPECT_EQ(MajorVersion("9"), 9);
  EXPECT_EQ(MajorVersion(""), 0);
  EXPECT_EQ(MajorVersion("unknown"), 0);
  EXPECT_EQ(MajorVersion("99999999999999999999.1"), 0);
}

TEST_F(ServerInfoTest, ProductVersionIsReadOnceAndKept) {
  ScriptVersion("ProductVersion", "10.50.1600.1");
  EXPECT_EQ(server_->ProductVersion(), 10);
  EXPECT_EQ(server_->ProductVersion(), 10);
  EXPECT_EQ(TextsOf(*server_),
            (std::vector<std::string>{"EXEC master..xp_msver 'ProductVersion'"}));
}

TEST_F(ServerInfoTest, ProductVersionAsksAgainAfterAFailedRead) {
  fake_->On("EXEC master..xp_msver 'ProductVersion'",
            FakeResult().Error(2812, "Could not find stored procedure 'xp_msver'."));
  ScriptVersion("ProductVersion", "8.00.760");
  EXPECT_EQ(server_->ProductVersion(), 0);
  EXPECT_EQ(server_->ProductVersion(), 8);
  EXPECT_EQ(server_->ProductVersion(), 8);
  EXPECT_EQ(TextsOf(*server_).size(), 2u);
}

TEST_F(ServerInfoTest, TheKnownVersionComesFromTheReadOrTheLoginWithoutAStatement) {
  // Neither read nor told at login: unknown.
  EXPECT_EQ(server_->KnownProductVersion(), 0);
  fake_->SetServerVersion("15.00.2000");
  EXPECT_EQ(server_->KnownProductVersion(), 15);
  fake_->SetServerVersion("09.00.5000");  // as ODBC drivers format it
  EXPECT_EQ(server_->KnownProductVersion(), 9);
  fake_->SetServerVersion("x'; SHUTDOWN --");
  EXPECT_EQ(server_->KnownProductVersion(), 0);
  EXPECT_TRUE(TextsOf(*server_).empty());
  // What ProductVersion read is kept and wins.
  ScriptVersion("ProductVersion", "8.00.2039");
  EXPECT_EQ(server_->ProductVersion(), 8);
  fake_->SetServerVersion("15.00.2000");
  EXPECT_EQ(server_->KnownProductVersion(), 8);
  // Closed: nothing to ask, only what was read.
  server_->StopService();
  EXPECT_EQ(server_->KnownProductVersion(), 8);
}

TEST_F(ServerInfoTest, LoginModeMapsTheConfiguredValue) {
  // The fake answers one text with its scripted answers in turn.
  ScriptLoginMode(db::Value("Mixed"));
  ScriptLoginMode(db::Value("Windows NT Authentication"));
  ScriptLoginMode(db::Value("WINDOWS NT AUTHENTICATION"));
  ScriptLoginMode(db::Value("Standard"));
  ScriptLoginMode(db::Value());
  fake_->On("EXEC master..xp_loginconfig 'login mode'",
            FakeResult().Error(229, "EXECUTE permission denied on object 'xp_loginconfig'."));
  EXPECT_EQ(server_->LoginMode(), kLoginModeMixed);
  EXPECT_EQ(server_->LoginMode(), kLoginModeWindows);
  EXPECT_EQ(server_->LoginMode(), kLoginModeWindows);
  EXPECT_EQ(server_->LoginMode(), kLoginModeUnknown);
  EXPECT_EQ(server_->LoginMode(), kLoginModeUnknown);
  EXPECT_EQ(server_->LoginMode(), kLoginModeUnknown);
  EXPECT_EQ(TextsOf(*server_),
            std::vector<std::string>(6, "EXEC master..xp_loginconfig 'login mode'"));
}

TEST_F(ServerInfoTest, RowlessResultsBeforeTheRowsAreSkipped) {
  fake_->On("SELECT SUSER_SNAME()", FakeResult().Count(3).Print("working").NoCount().Rows(
                                        {Column("", "nvarchar")}, {{db::Value("sa")}}));
  EXPECT_EQ(server_->CurrentUser(), "sa");
}

TEST(KeyedTextsTest, KeysIgnoreLetterCaseAndKeepTheFirstSpelling) {
  KeyedTexts texts;
  EXPECT_TRUE(texts.Add("db_owner"));
  EXPECT_FALSE(texts.Add("DB_Owner"));
  EXPECT_TRUE(texts.Add("db_ownerx"));
  EXPECT_TRUE(texts.Add(""));
  EXPECT_FALSE(texts.Add(""));
  EXPECT_EQ(texts.Count(), 3);
  EXPECT_EQ(texts.Item(1), "db_owner");
  EXPECT_TRUE(texts.Contains("DB_OWNERX"));
  EXPECT_FALSE(texts.Contains("db_"));
  EXPECT_THROW(texts.Item(0), common::Error);
}

}  // namespace
}  // namespace servers
