// A scratch sandbox instance served over TDS on a free loopback port, and a database environment
// whose only driver is the ODBC one: what these tests send crosses the network protocol.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "db/connection.h"
#include "db/drivers/odbc/odbc_driver.h"
#include "db/environment.h"
#include "sandbox/server.h"
#include "sandbox/tds/server.h"

namespace db {

// Quotes, brackets, a semicolon, a brace and non-ASCII: what a connection string must carry.
inline const std::string kSaPassword = "Pa'ss]; w\xC3\xB6rd}=";

// What a client sees of a request, in order: row sets, rows, counts, messages (with the line
// they name when `lines`) and the outputs. A DONE without a count tells a client nothing, and the
// drivers differ in which of those they pass on. Not the message state: FreeTDS passes the
// severity where the state belongs and keeps no state.
inline std::vector<std::string> Seen(DriverSession& session, DriverRequest request,
                                     bool lines = false) {
  std::vector<std::string> out;
  auto stream = session.Execute(request);
  ResultEvent e;
  while (stream->Next(e)) {
    switch (e.kind) {
      case ResultEvent::Kind::kBeginRowSet: {
        std::string names;
        for (const ColumnInfo& c : e.columns) names += " " + c.name;
        out.push_back("rows" + names);
        break;
      }
      case ResultEvent::Kind::kRow: {
        std::string values;
        for (const Value& v : e.row) values += " " + (v.IsNull() ? "NULL" : v.ToText());
        out.push_back("row" + values);
        break;
      }
      case ResultEvent::Kind::kEndRowSet:
        break;
      case ResultEvent::Kind::kDone:
        if (e.rows_affected >= 0) out.push_back("count " + std::to_string(e.rows_affected));
        break;
      case ResultEvent::Kind::kMessage:
        out.push_back("message " + std::to_string(e.message.number) + " severity " +
                      std::to_string(e.message.severity) +
                      (lines ? " line " + std::to_string(e.message.line) : "") + ": " +
                      e.message.text);
        break;
    }
  }
  for (const DriverParameter& p : request.parameters) {
    if (p.IsOutput()) out.push_back("output " + p.name + " " + p.value.ToText());
  }
  return out;
}

// A parameter of a request.
inline DriverParameter Param(const char* name, common::Value value, const char* type, int size = 0,
                             ParameterDirection direction = ParameterDirection::kInput) {
  DriverParameter p;
  p.name = name;
  p.value = std::move(value);
  p.type_name = type;
  p.size = size;
  p.direction = direction;
  return p;
}

class OdbcServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (DefaultOdbcDriver() == "FreeTDS")
      GTEST_SKIP()
          << "FreeTDS's ODBC driver is not installed (scripts/setup-deps installs tdsodbc)";
    root_ = common::testing::ScratchFolder("odbc", true);
    host_ = sandbox::OpenHost(root_ / "instances");
    sandbox::InstanceConfig config;
    config.sa_password = kSaPassword;
    instance_ = host_->Create("", config);
    server_ = std::make_unique<sandbox::tds::Server>(
        instance_, sandbox::tds::ServerOptions{"127.0.0.1", 0}, nullptr);
    port_ = server_->Start();
    driver_ = std::make_shared<OdbcDriver>();
    DriverRegistry drivers;
    drivers.Add(driver_);
    environment_ = Environment::Create(std::move(drivers));
  }
  void TearDown() override {
    server_.reset();
    instance_.reset();
    host_.reset();
    common::testing::RemoveScratch(root_);
  }

  std::string DataSource() const { return "127.0.0.1," + std::to_string(port_); }

  std::string ConnectionString(const std::string& extra = {}) const {
    return "Provider=SQLOLEDB;Data Source=" + DataSource() +
           ";User Id=sa;Password=" + ConnectionString::QuoteValue(kSaPassword) + ";" + extra;
  }

  Connection Open(const std::string& extra = {}) {
    Connection connection(environment_);
    connection.SetConnectionString(ConnectionString(extra));
    connection.Open();
    return connection;
  }

  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  std::unique_ptr<sandbox::tds::Server> server_;
  int port_ = 0;
  std::shared_ptr<OdbcDriver> driver_;
  std::shared_ptr<Environment> environment_;
};

}  // namespace db
