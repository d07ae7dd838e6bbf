// Test scaffolding for collections on the sandbox server: an instance in a temporary folder,
// reached through the client interface the way the console reaches a server, and small readers
// for what the tests compare.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/value.h"
#include "db/connection.h"
#include "db/environment.h"
#include "db/recordset.h"
#include "sandbox/server.h"

namespace format::testing {

using Row = std::vector<common::Value>;
using Rows = std::vector<Row>;

class SandboxServer {
 public:
  SandboxServer();
  ~SandboxServer();
  SandboxServer(const SandboxServer&) = delete;
  SandboxServer& operator=(const SandboxServer&) = delete;

  // A connection with integrated security, to `catalog` or (empty) the login's default database.
  db::Connection Open(const std::string& catalog = {});
  // Creates a database with a name of its own, beginning with `prefix`, and returns a
  // connection to it.
  db::Connection NewDatabase(const std::string& prefix);
  sandbox::Instance& instance() { return *instance_; }
  // Every connection's environment: observers added here see each statement sent.
  db::Environment& environment() { return *environment_; }
  const std::shared_ptr<db::Environment>& shared_environment() const { return environment_; }

 private:
  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  std::shared_ptr<db::Environment> environment_;
  db::Connection server_;
  int databases_ = 0;
};

// Every row of the first result with rows that `sql` gives; empty when it gives none.
Rows Query(db::Connection& connection, const std::string& sql);
// The column names of that result.
std::vector<std::string> ColumnNames(db::Connection& connection, const std::string& sql);
// The first column of the first row; null when there is none.
common::Value Scalar(db::Connection& connection, const std::string& sql);
// The first column of the first row as a number (-1 when there is none, or it is null) or as
// text (empty then): what tests compare, printable when a comparison fails.
std::int64_t Number(db::Connection& connection, const std::string& sql);
std::string Text(db::Connection& connection, const std::string& sql);
// The first column of every row, as integers.
std::vector<std::int64_t> Integers(db::Connection& connection, const std::string& sql);

}  // namespace format::testing
