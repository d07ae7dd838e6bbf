// The sandbox fixture of the collection tests, with what the console tests add: collections
// installed under any name, logins holding chosen roles, and registrations of the sandbox made
// with those logins.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "collections/sandbox_fixture.h"
#include "common/messages.h"
#include "db/connection_string.h"
#include "format/install_script.h"
#include "servers/sql_text.h"

namespace console::testing {

using collections::Database;
using collections::Databases;

class ConsoleFixture : public collections::testing::SandboxFixture {
 protected:
  // Creates the database prefix + name and installs the collection format on it directly (the
  // creation path would refuse odd names), then lists it in the sa registration's catalogue.
  std::shared_ptr<Database> Installed(const std::string& name) {
    Databases& catalogue = Catalogue();
    std::string database = "Quillarchive_" + name;
    Server().Connection().Execute("CREATE DATABASE " + servers::QuoteDatabaseName(database));
    db::Connection connection = OpenIn(database);
    for (const std::string& statement :
         format::InstallationScript({"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}", 37622})) {
      connection.Execute(statement);
    }
    AddTemplateDocument(connection);
    connection.Close();
    catalogue.AddExisting({name, database, "2.00 MB", "Jan  1 2003"});
    return catalogue.Item(catalogue.Count());
  }

  // A SQL Server login with the server roles given.
  void AddLogin(const std::string& login, const std::string& password,
                std::initializer_list<const char*> server_roles = {}) {
    db::Connection connection = Server().Connection();
    connection.Execute("EXEC sp_addlogin " + Quoted(login) + ", " + Quoted(password));
    for (const char* role : server_roles) {
      connection.Execute("EXEC sp_addsrvrolemember " + Quoted(login) + ", " + Quoted(role));
    }
  }

  // Makes the login a user of the collection with the collection roles given.
  void AddUser(Database& database, const std::string& login, const std::string& user,
               std::initializer_list<const char*> roles = {}) {
    db::Connection connection = OpenIn(database.DatabaseName());
    connection.Execute("EXEC sp_grantdbaccess " + Quoted(login) + ", " + Quoted(user));
    for (const char* role : roles) {
      connection.Execute("EXEC sp_addrolemember " + Quoted(role) + ", " + Quoted(user));
    }
    connection.Close();
  }

  // A registration of the sandbox logged in as the login, connected, with its own catalogue.
  std::unique_ptr<servers::Server> ServerAs(const std::string& login, const std::string& password,
                                            std::int32_t server_id = 2) {
    auto server = std::make_unique<servers::Server>(ServerContext(), server_id);
    server->SetConnectionString("Provider=SQLOLEDB;Data Source=(sandbox);User Id=" + login +
                                ";Password=" + password + ";");
    EXPECT_TRUE(server->Connect()) << server->Description();
    return server;
  }

  // The collection of a registration's catalogue with the display name; nullptr when not listed.
  static std::shared_ptr<Database> CollectionOf(servers::Server& server, const std::string& name) {
    auto& catalogue = dynamic_cast<Databases&>(server.Databases());
    for (const std::shared_ptr<Database>& database : catalogue) {
      if (database->Name() == name) return database;
    }
    return nullptr;
  }

  // A connection of sa's to the database, whatever its name holds.
  db::Connection OpenIn(const std::string& database) {
    db::Connection connection(environment_);
    connection.SetConnectionString(std::string(collections::testing::kSandboxSa) +
                                   "Initial Catalog=" + db::ConnectionString::QuoteValue(database) +
                                   ";");
    connection.Open();
    return connection;
  }

  void FailNext(const std::string& pattern, const std::string& text) {
    sandbox::Fault fault;
    fault.pattern = pattern;
    fault.error.number = 50000;
    fault.error.severity = 16;
    fault.error.text = text;
    instance_->InjectFault(fault);
  }

  // Asked on a connection of its own.
  std::int64_t Count(const std::string& query, const std::string& catalog = "") {
    db::Connection connection =
        catalog.empty() ? Open(collections::testing::kSandboxSa) : OpenIn(catalog);
    std::int64_t count = Scalar(connection, query).ToInt().value_or(-1);
    connection.Close();
    return count;
  }

  // The texts of the message boxes shown so far.
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const platform::MessageRequest& box : platform_.ui.boxes()) texts.push_back(box.text);
    return texts;
  }

  platform::UserInterface& ui() { return platform_.ui; }
};

}  // namespace console::testing
