// Registrations of the sandbox server, end to end: the statements go through the real T-SQL
// front end, so quoting that is not valid SQL fails here even where the fake server accepts it.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/test_support.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/recordset.h"
#include "fixture.h"
#include "sandbox/server.h"
#include "servers/servers.h"
#include "servers/sql_text.h"
#ifdef TESSERA_THROUGH_ODBC
#include "db/odbc/served_sandbox_driver.h"
#endif

namespace servers {
namespace {

constexpr char kSandboxSa[] = "Provider=SQLOLEDB;Data Source=(sandbox);User Id=sa;Password=;";

class SandboxServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = common::testing::ScratchFolder("servers-sandbox");
    {
      std::unique_ptr<sandbox::Host> host = sandbox::OpenHost(root_);
      host->Create("", sandbox::InstanceConfig{});
    }
    db::DriverRegistry drivers;
#ifdef TESSERA_THROUGH_ODBC
    std::shared_ptr<sandbox::Host> host(sandbox::OpenHost(root_));
    drivers.Add(std::make_shared<db::testing::ServedSandboxDriver>(
        host, std::make_shared<db::SandboxDriver>(host)));
#else
    drivers.Add(db::OpenSandboxDriver(root_));
#endif
    environment_ = db::Environment::Create(std::move(drivers));
    log_ = std::make_shared<db::StatementLog>();
    environment_->AddObserver(log_);
    platform::FakeNetworkProbe::Machine sandbox;
    sandbox.echo = platform::kEchoSuccess;
    sandbox.address = "127.0.0.1";
    sandbox.join = {platform::kJoinStatusWorkgroup, "WORKGROUP"};
    platform_.network.SetMachine("(sandbox)", sandbox);
    catalogues_ = std::make_shared<testing::CatalogueLog>();
  }
  void TearDown() override {
    environment_.reset();
    common::testing::RemoveScratch(root_);
  }

  Context MakeContext() {
    auto log = catalogues_;
    return Context{platform_.services(), environment_,
                   [log] { return std::make_unique<testing::RecordingCatalogue>(log); }};
  }

  std::filesystem::path root_;
  platform::FakePlatform platform_;
  std::shared_ptr<db::Environment> environment_;
  std::shared_ptr<db::StatementLog> log_;
  std::shared_ptr<testing::CatalogueLog> catalogues_;
};

TEST_F(SandboxServerTest, ARegisteredSandboxConnectsAtTheNextLoad) {
  {
    Servers servers(MakeContext());
    std::shared_ptr<Server> added = servers.Add(kSandboxSa);
    ASSERT_NE(added, nullptr);
  }
  Servers servers(MakeContext());
  ASSERT_EQ(servers.Count(), 1);
  std::shared_ptr<Server> server = servers.Item(1);
  ASSERT_TRUE(server->Connected()) << server->Description();
  EXPECT_EQ(server->Name(), "(sandbox)");
  EXPECT_EQ(server->MachineName(), "(sandbox)");
  EXPECT_TRUE(server->JoinedToNetwork());
  EXPECT_EQ(server->CurrentUser(), "sa");
}

TEST_F(SandboxServerTest, RoleQuestionsAreValidSqlWhateverTheNames) {
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSandboxSa);
  ASSERT_TRUE(server.Connect()) << server.Description();
  EXPECT_TRUE(server.IsRolemember("sysadmin"));
  EXPECT_TRUE(server.IsRolemember("sysadmin", "sa"));
  EXPECT_FALSE(server.IsRolemember("sysadmin", "O'Brien"));
  EXPECT_FALSE(server.IsRolemember("x'); DROP TABLE y --", "sa"));
  EXPECT_EQ(log_->Texts().back(), "SELECT IS_SRVROLEMEMBER ('x''); DROP TABLE y --','sa')");
}

TEST_F(SandboxServerTest, BracketedDatabaseNamesAreOneNameToTheServer) {
  Server server(MakeContext(), 1);
  server.SetConnectionString(kSandboxSa);
  ASSERT_TRUE(server.Connect()) << server.Description();
  db::Connection connection = server.Connection();
  for (const char* name : {"x]; DROP DATABASE model --", "a.b", "[tempdb]"}) {
    try {
      connection.Execute("USE " + QuoteDatabaseName(name));
      ADD_FAILURE() << name << " was found";
    } catch (const db::Error& error) {
      // Not found (rather than a syntax error or a second statement).
      EXPECT_EQ(error.native_error(), 911) << name << ": " << error.description();
    }
  }
  connection.Execute("USE " + QuoteDatabaseName("model"));
  EXPECT_EQ(connection.DefaultDatabase(), "model");
}

TEST_F(SandboxServerTest, RefusedCredentialsGiveTheServersMessage) {
  Server server(MakeContext(), 1);
  server.SetConnectionString("Provider=SQLOLEDB;Data Source=(sandbox);User Id=nobody;Password=x");
  EXPECT_FALSE(server.Connect());
  EXPECT_FALSE(server.Connected());
  EXPECT_NE(server.Description().find("Login failed"), std::string::npos) << server.Description();
}

}  // namespace
}  // namespace servers
