// A server registration on the scripted fake server whose catalogue is a real Databases, with
// every statement logged, a fixed clock and numbered GUIDs.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collections/databases.h"
#include "db/environment.h"
#include "db/observer.h"
#include "db/testing/fake_driver.h"
#include "platform/testing/fake_platform.h"
#include "servers/server.h"

namespace collections::testing {

using db::testing::Column;
using db::testing::FakeResult;
using db::testing::TableColumn;

inline constexpr char kSrv01[] = "Provider=SQLOLEDB;Data Source=SRV01;Integrated Security=SSPI";
inline constexpr char kHelpDb[] = "EXEC master..sp_helpdb";
inline constexpr char kMsVer[] = "EXEC master..xp_msver 'ProductVersion'";
inline constexpr char kSystemUser[] = "SELECT SYSTEM_USER;";
inline constexpr char kFullTextInstalled[] =
    "SELECT FULLTEXTSERVICEPROPERTY('IsFulltextInstalled')";
inline constexpr char kFullTextCatalogs[] = "EXEC sp_help_fulltext_catalogs 'Doc_Desc'";
// 1 January 2003, day number 37622.
inline const common::DateTime kNow{2003, 1, 1, 12, 30, 15, 0};

// One connection as sp_who reports it.
struct Who {
  int spid;
  std::string login;
  std::string database;
};

class CollectionsFixture : public ::testing::Test {
 protected:
  CollectionsFixture() {
    fake_ = std::make_shared<db::testing::FakeServer>();
    db::DriverRegistry drivers;
    drivers.Add(std::make_shared<db::testing::FakeDriver>(fake_));
    environment_ = db::Environment::Create(std::move(drivers));
    log_ = std::make_shared<db::StatementLog>();
    environment_->AddObserver(log_);
    platform::FakeNetworkProbe::Machine machine;
    machine.echo = platform::kEchoSuccess;
    machine.address = "10.0.0.1";
    machine.join = {platform::kJoinStatusWorkgroup, "WORKGROUP"};
    platform_.network.SetMachine("SRV01", machine);
    // "KILL n" ends the fake session n, as the server would.
    fake_->SetHandler([this](const db::testing::FakeCall& call) -> std::optional<FakeResult> {
      if (call.request.text.rfind("KILL ", 0) == 0) {
        fake_->Kill(std::stoi(call.request.text.substr(5)));
        return FakeResult().NoCount();
      }
      // The session's own process id, as the server answers it.
      if (call.request.text == "SELECT @@SPID;") {
        return FakeResult().Rows({Column("", "smallint")}, {{db::Value(call.session)}});
      }
      if (full_text_status_) return FullTextAnswer(call.request.text, *full_text_status_);
      return std::nullopt;
    });
  }

  Context MakeContext() {
    return Context{platform_.services(), environment_,
                   [this] {
                     char text[40];
                     std::snprintf(text, sizeof text, "{00000000-0000-4000-8000-%012d}",
                                   ++guids_issued_);
                     return std::string(text);
                   },
                   [] { return kNow; }};
  }

  // A registration of SRV01 that has connected, reporting the version given.
  std::unique_ptr<servers::Server> ConnectedServer(const std::string& version = "8.00.760") {
    fake_->On(
        kMsVer,
        FakeResult().Rows(
            {Column("Index", "int"), Column("Name", "sysname"), Column("Internal_Value", "int"),
             Column("Character_Value", "nvarchar")},
            {{db::Value(2), db::Value("ProductVersion"), db::Value(524288), db::Value(version)}}));
    servers::Context context{platform_.services(), environment_,
                             MakeCatalogueFactory(MakeContext())};
    auto server = std::make_unique<servers::Server>(context, 1);
    server->SetConnectionString(kSrv01);
    EXPECT_TRUE(server->Connect()) << server->Description();
    return server;
  }

  // The server's list of databases.
  void HelpDb(const std::vector<std::string>& names) {
    FakeResult result;
    result.BeginRows({Column("name", "sysname"), Column("db_size", "nvarchar"),
                      Column("owner", "sysname"), Column("dbid", "smallint"),
                      Column("created", "nvarchar"), Column("status", "nvarchar")});
    int id = 0;
    for (const std::string& name : names) {
      result.Row({db::Value(name), db::Value("2.00 MB"), db::Value("sa"), db::Value(++id),
                  db::Value("Mar  4 2003"), db::Value("Status=ONLINE")});
    }
    result.EndRows();
    fake_->On(kHelpDb, result);
  }

  // The catalogue of a connected server, read from the names given.
  Databases& CatalogueOf(servers::Server& server, const std::vector<std::string>& names) {
    HelpDb(names);
    auto* catalogue = dynamic_cast<Databases*>(&server.Databases());
    EXPECT_NE(catalogue, nullptr);
    log_->Clear();
    fake_->ClearCalls();
    return *catalogue;
  }

  void SystemUser(const std::string& login) {
    fake_->On(kSystemUser, FakeResult().Rows({Column("", "nvarchar")}, {{db::Value(login)}}));
  }
  void SpWho(const std::vector<Who>& rows) {
    FakeResult result;
    result.BeginRows({Column("spid", "smallint"), Column("ecid", "smallint"),
                      Column("status", "nchar"), Column("loginame", "nchar"),
                      Column("hostname", "nchar"), Column("blk", "char"), Column("dbname", "nchar"),
                      Column("cmd", "nchar")});
    for (const Who& row : rows) {
      // nchar columns come padded.
      result.Row({db::Value(row.spid), db::Value(0), db::Value("sleeping"),
                  db::Value(row.login + "  "), db::Value("PC"), db::Value("0"),
                  db::Value(row.database + "   "), db::Value("AWAITING COMMAND")});
    }
    result.EndRows();
    fake_->On("sp_who", result);
  }
  // Full-text search installed, with the catalogue's status (or none: a negative status). May
  // be called again to change the state.
  void FullText(int status) { full_text_status_ = status; }

  // The fake session behind a connection (its spid in sp_who). Sends a statement: ask before
  // clearing the log.
  int SessionOf(db::Connection connection) {
    connection.Execute("SELECT @@SPID");
    return fake_->calls().back().session;
  }

  std::vector<std::string> TextsOn(const db::Connection& connection) {
    return log_->TextsOn(connection.Id());
  }

  static std::optional<FakeResult> FullTextAnswer(const std::string& text, int status) {
    if (text == kFullTextInstalled) {
      return FakeResult().Rows({Column("", "int")}, {{db::Value(1)}});
    }
    if (text != kFullTextCatalogs) return std::nullopt;
    if (status < 0) {
      return FakeResult().Error(7641,
                                "Full-text catalog 'Doc_Desc' does not exist in database "
                                "'Quillarchive_Sales' or user does not have permission to perform "
                                "this action.");
    }
    return FakeResult().Rows(
        {Column("ftcatid", "smallint"), Column("NAME", "sysname"), Column("PATH", "nvarchar"),
         Column("STATUS", "int"), Column("NUMBER_FULLTEXT_TABLES", "int")},
        {{db::Value(5), db::Value("Doc_Desc"), db::Value("C:\\FTData"), db::Value(status),
          db::Value(1)}});
  }

  platform::FakePlatform platform_;
  std::optional<int> full_text_status_;
  std::shared_ptr<db::testing::FakeServer> fake_;
  std::shared_ptr<db::Environment> environment_;
  std::shared_ptr<db::StatementLog> log_;
  int guids_issued_ = 0;
};

}  // namespace collections::testing
