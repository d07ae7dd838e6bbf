// A sandbox instance in a temporary folder, registered as a server logged in as sa, whose
// catalogue is a real Databases; with helpers to ask the instance what it really holds.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "collections/databases.h"
#include "common/test_support.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "db/observer.h"
#include "db/recordset.h"
#include "format/names.h"
#include "format/template_document.h"
#include "platform/testing/fake_platform.h"
#include "sandbox/server.h"
#include "servers/server.h"
#ifdef TESSERA_THROUGH_ODBC
#include "db/odbc/served_sandbox_driver.h"
#endif

namespace collections::testing {

inline constexpr char kSandboxSa[] =
    "Provider=SQLOLEDB;Data Source=(sandbox);User Id=sa;Password=;";

class SandboxFixture : public ::testing::Test {
 protected:
  void SetUp() override { StartInstance("8.00.2039", false); }

  void StartInstance(const std::string& version, bool full_text) {
    root_ = common::testing::ScratchFolder("collections-accept");
    host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root_));
    sandbox::InstanceConfig config;
    config.product_version = version;
    config.full_text_installed = full_text;
    instance_ = host_->Create("", config);
    std::filesystem::create_directories(instance_->MapPath("C:\\Data"));
    db::DriverRegistry drivers;
#ifdef TESSERA_THROUGH_ODBC
    drivers.Add(std::make_shared<db::testing::ServedSandboxDriver>(
        host_, std::make_shared<db::SandboxDriver>(host_, "alice", "WORKSTATION")));
#else
    drivers.Add(std::make_shared<db::SandboxDriver>(host_, "alice", "WORKSTATION"));
#endif
    environment_ = db::Environment::Create(std::move(drivers));
    log_ = std::make_shared<db::StatementLog>();
    environment_->AddObserver(log_);
    platform::FakeNetworkProbe::Machine machine;
    machine.echo = platform::kEchoSuccess;
    machine.address = "127.0.0.1";
    machine.join = {platform::kJoinStatusWorkgroup, "WORKGROUP"};
    platform_.network.SetMachine("(sandbox)", machine);
  }

  void TearDown() override {
    server_.reset();
    environment_.reset();  // over ODBC: its listener still serves the instance
    instance_.reset();
    host_.reset();
    common::testing::RemoveScratch(root_);
  }

  servers::Context ServerContext() {
    return servers::Context{
        platform_.services(), environment_,
        MakeCatalogueFactory(Context{platform_.services(), environment_, {}, {}})};
  }

  // A new registration of the sandbox, connected, its catalogue not read yet.
  std::unique_ptr<servers::Server> NewServer() {
    auto server = std::make_unique<servers::Server>(ServerContext(), 1);
    server->SetConnectionString(kSandboxSa);
    EXPECT_TRUE(server->Connect()) << server->Description();
    return server;
  }

  // The registration the tests work on, created at the first call.
  servers::Server& Server() {
    if (!server_) server_ = NewServer();
    return *server_;
  }
  Databases& Catalogue() { return dynamic_cast<Databases&>(Server().Databases()); }

  // A collection created as the console creates it; fails the test when that does not work.
  std::shared_ptr<Database> Created(const std::string& name, const std::string& data_file) {
    std::shared_ptr<Database> database = Catalogue().AddNew(name, data_file);
    EXPECT_NE(database, nullptr) << (platform_.ui.boxes().empty() ? std::string("no message")
                                                                  : platform_.ui.boxes()[0].text);
    return database;
  }

  db::Connection Open(const std::string& connection_string, const std::string& catalog = "") {
    db::Connection connection(environment_);
    connection.SetConnectionString(connection_string +
                                   (catalog.empty() ? "" : "Initial Catalog=" + catalog + ";"));
    connection.Open();
    return connection;
  }

  // The template document a creation adds after the installation script (EntryID 1); without
  // it a collection counts as incomplete.
  static void AddTemplateDocument(const db::Connection& connection) {
    db::Recordset document;
    document.Open(format::kDocumentTable, connection, db::kOpenStatic, db::kLockOptimistic,
                  db::kCmdTable);
    document.AddNew();
    for (const format::TemplateColumn& column :
         format::TemplateDocumentColumns(1252, common::DateTime{2003, 1, 1, 12})) {
      if (column.append_chunk) {
        document.Fields(column.name).AppendChunk(column.value);
      } else {
        document.Fields(column.name).SetValue(column.value);
      }
    }
    document.Update();
    document.Close();
  }

  static db::Value Scalar(const db::Connection& connection, const std::string& query) {
    db::Recordset recordset;
    recordset.Open(query, connection);
    while (recordset.State() != db::kStateOpen) recordset.NextRecordset();
    db::Value value = recordset.Eof() ? db::Value() : recordset.Fields(0).Value();
    recordset.Close();
    return value;
  }

  // Asked on a connection of its own, so nothing the test holds changes.
  bool DatabaseExists(const std::string& name) {
    db::Connection connection = Open(kSandboxSa);
    db::Value count = Scalar(
        connection, "SELECT COUNT(*) FROM master..sysdatabases WHERE name = " + Quoted(name));
    connection.Close();
    return count.ToInt() == 1;
  }

  // The path of a database's log file as the server knows it.
  std::string LogFileOf(const std::string& database) {
    db::Connection connection = Open(kSandboxSa);
    std::string file =
        Scalar(connection,
               "SELECT filename FROM master..sysaltfiles WHERE fileid = 2 AND dbid = "
               "DB_ID(" +
                   Quoted(database) + ")")
            .ToText();
    connection.Close();
    return file;
  }

  static std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
      out += c;
      if (c == '\'') out += '\'';
    }
    return out + "'";
  }

  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  platform::FakePlatform platform_;
  std::shared_ptr<db::Environment> environment_;
  std::shared_ptr<db::StatementLog> log_;
  std::unique_ptr<servers::Server> server_;
};

}  // namespace collections::testing
