#include "format/sandbox_collection.h"


#include <stdexcept>

#include "common/test_support.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#ifdef TESSERA_THROUGH_ODBC
#include "db/odbc/served_sandbox_driver.h"
#endif
#include "db/recordset.h"

namespace format::testing {
namespace {

// Results without rows come first after statements that changed rows; a batch has only so many.
constexpr int kMaxSkippedResults = 64;

db::Recordset OpenRows(db::Connection& connection, const std::string& sql) {
  db::Recordset rs;
  rs.SetCursorLocation(db::kUseClient);
  rs.Open(sql, connection, db::kOpenStatic, db::kLockReadOnly);
  for (int skipped = 0; rs.State() != db::kStateOpen && skipped < kMaxSkippedResults; ++skipped) {
    rs = rs.NextRecordset();
  }
  return rs;
}

}  // namespace

SandboxServer::SandboxServer() {
  root_ = common::testing::ScratchFolder("format-layouts");
  host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root_));
  instance_ = host_->Create("", sandbox::InstanceConfig{});
  db::DriverRegistry drivers;
#ifdef TESSERA_THROUGH_ODBC
  drivers.Add(std::make_shared<db::testing::ServedSandboxDriver>(host_, nullptr));
#else
  drivers.Add(std::make_shared<db::SandboxDriver>(host_, "admin", "WORKSTATION"));
#endif
  environment_ = db::Environment::Create(std::move(drivers));
  server_ = Open();
}

SandboxServer::~SandboxServer() {
  try {
    if (server_.State() == db::kStateOpen) server_.Close();
  } catch (const std::exception&) {
  }
  instance_.reset();
  host_.reset();
  common::testing::RemoveScratch(root_);
}

db::Connection SandboxServer::Open(const std::string& catalog) {
  db::Connection connection(environment_);
  std::string text = "Provider=SQLOLEDB;Data Source=(sandbox);Integrated Security=SSPI;";
  if (!catalog.empty()) text += "Initial Catalog=" + catalog + ";";
  connection.SetConnectionString(text);
  connection.Open();
  return connection;
}

db::Connection SandboxServer::NewDatabase(const std::string& prefix) {
  const std::string name = prefix + "_" + std::to_string(++databases_);
  server_.Execute("CREATE DATABASE " + name);
  return Open(name);
}

Rows Query(db::Connection& connection, const std::string& sql) {
  db::Recordset rs = OpenRows(connection, sql);
  Rows rows;
  if (rs.State() != db::kStateOpen) return rows;
  for (; !rs.Eof(); rs.MoveNext()) {
    Row row;
    for (int i = 0; i < rs.Fields().Count(); ++i) row.push_back(rs.Fields(i).Value());
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> ColumnNames(db::Connection& connection, const std::string& sql) {
  db::Recordset rs = OpenRows(connection, sql);
  std::vector<std::string> names;
  if (rs.State() != db::kStateOpen) return names;
  for (int i = 0; i < rs.Fields().Count(); ++i) names.push_back(rs.Fields(i).Name());
  return names;
}

common::Value Scalar(db::Connection& connection, const std::string& sql) {
  Rows rows = Query(connection, sql);
  if (rows.empty() || rows[0].empty()) return {};
  return rows[0][0];
}

std::int64_t Number(db::Connection& connection, const std::string& sql) {
  const common::Value value = Scalar(connection, sql);
  if (value.IsNull()) return -1;
  std::optional<std::int64_t> number = value.ToInt();
  if (!number) throw std::runtime_error("not a number: " + value.ToText() + " from " + sql);
  return *number;
}

std::string Text(db::Connection& connection, const std::string& sql) {
  return Scalar(connection, sql).ToText();
}

std::vector<std::int64_t> Integers(db::Connection& connection, const std::string& sql) {
  std::vector<std::int64_t> values;
  for (const Row& row : Query(connection, sql)) {
    std::optional<std::int64_t> value = row.at(0).ToInt();
    if (!value) throw std::runtime_error("not an integer: " + row.at(0).ToText() + " from " + sql);
    values.push_back(*value);
  }
  return values;
}

}  // namespace format::testing
