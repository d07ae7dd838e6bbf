// The security dialogs against a sandbox server: a registration logged in as sa with its real
// catalogue, the program state the dialogs share, and questions to the server about what it
// holds afterwards, asked on connections of their own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "collections/sandbox_fixture.h"
#include "security/account_lookup.h"
#include "security/login_form.h"
#include "security/statements.h"

namespace security::testing {

using collections::testing::kSandboxSa;

class SecurityFormsTest : public collections::testing::SandboxFixture {
 protected:
  DialogHost Host(int windows_version = 5) {
    return DialogHost{platform_.ui, accounts_, state_,
                      [windows_version] { return windows_version; }};
  }

  // Statements sent from now on are what Sent() returns.
  void Mark() { mark_ = log_->statements().size(); }
  std::vector<db::Statement> Sent() const {
    std::vector<db::Statement> all = log_->statements();
    return std::vector<db::Statement>(all.begin() + static_cast<long>(mark_), all.end());
  }
  // The texts sent since the mark that are no question (no SELECT, no sp_help..., no xp_).
  std::vector<std::string> Changes() const {
    std::vector<std::string> out;
    for (const db::Statement& s : Sent()) {
      const std::string& t = s.text;
      if (t.rfind("SELECT", 0) == 0 || t.find("sp_help") != std::string::npos ||
          t.find("xp_") != std::string::npos)
        continue;
      out.push_back(t);
    }
    return out;
  }
  // The connections the statements since the mark that are no question went on.
  std::vector<int> ChangeConnections() const {
    std::vector<int> out;
    for (const db::Statement& s : Sent()) {
      const std::string& t = s.text;
      if (t.rfind("SELECT", 0) == 0 || t.find("sp_help") != std::string::npos ||
          t.find("xp_") != std::string::npos)
        continue;
      out.push_back(s.connection_id);
    }
    return out;
  }

  // Runs a batch as sa on a connection of its own.
  void Sa(const std::string& batch) {
    db::Connection connection = Open(kSandboxSa);
    connection.Execute(batch);
    connection.Close();
  }
  // The first column of every row of a query asked as sa.
  std::vector<std::string> Column(const std::string& query, const std::string& database = "") {
    db::Connection connection = Open(kSandboxSa);
    db::Recordset recordset;
    // USE rather than the connection string's catalogue: the name may hold ';' or quotes.
    recordset.Open(database.empty() ? query : "USE " + DatabaseName(database) + " " + query,
                   connection);
    while (recordset.State() != db::kStateOpen) recordset = recordset.NextRecordset();
    std::vector<std::string> out;
    for (; !recordset.Eof(); recordset.MoveNext())
      out.push_back(recordset.Fields(0).Value().ToText());
    recordset.Close();
    connection.Close();
    return out;
  }
  bool LoginExists(const std::string& name) {
    return !Column("SELECT loginname FROM master.dbo.syslogins WHERE loginname = " + Quoted(name))
                .empty();
  }
  std::vector<std::string> ServerRoleMembers(const std::string& role) {
    return Column("SELECT loginname FROM master.dbo.syslogins WHERE " + role +
                  " = 1 ORDER BY loginname");
  }
  std::vector<std::string> Users(const std::string& database) {
    return Column("SELECT name FROM sysusers WHERE issqlrole = 0 AND hasdbaccess = 1 ORDER BY name",
                  database);
  }
  std::vector<std::string> RoleMembers(const std::string& database, const std::string& role) {
    return Column(
        "SELECT u.name FROM sysmembers m JOIN sysusers u ON u.uid = m.memberuid JOIN "
        "sysusers r ON r.uid = m.groupuid WHERE r.name = " +
            Quoted(role) + " ORDER BY u.name",
        database);
  }
  std::string Owner(const std::string& database) {
    std::vector<std::string> owner = Column(
        "SELECT SUSER_SNAME(sid) FROM master.dbo.sysdatabases WHERE name = " + Quoted(database));
    return owner.empty() ? std::string() : owner.front();
  }
  // Whether a SQL Server login connects with the password.
  bool ConnectsAs(const std::string& login, const std::string& password) {
    try {
      auto quoted = [](const std::string& value) {
        std::string out = "\"";
        for (char c : value) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        return out + "\"";
      };
      db::Connection connection =
          Open("Provider=SQLOLEDB;Data Source=(sandbox);User Id=" + quoted(login) +
               ";Password=" + quoted(password) + ";");
      connection.Close();
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
  // A registration of the sandbox logged in as a SQL Server login.
  std::unique_ptr<servers::Server> ServerAs(const std::string& login, const std::string& password) {
    auto server = std::make_unique<servers::Server>(ServerContext(), 2);
    server->SetConnectionString("Provider=SQLOLEDB;Data Source=(sandbox);User Id=" + login +
                                ";Password=" + password + ";");
    EXPECT_TRUE(server->Connect()) << server->Description();
    return server;
  }
  // The answers of the next message boxes.
  void AnswerOk(int boxes = 1) {
    for (int i = 0; i < boxes; ++i) platform_.ui.QueueAnswer(platform::kAnswerOk);
  }
  std::string LastBox() const {
    return platform_.ui.boxes().empty() ? std::string() : platform_.ui.boxes().back().text;
  }

  ApplicationState state_;
  NoAccountLookup accounts_;
  size_t mark_ = 0;
};

}  // namespace security::testing
