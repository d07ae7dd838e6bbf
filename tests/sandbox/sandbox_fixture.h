// Shared test scaffolding: a sandbox instance in a temporary folder, and a sink that records
// everything a batch sends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sandbox/server.h"

namespace common {
// Readable values in test failures.
inline void PrintTo(const Value& value, std::ostream* out) {
  static const char* kTypes[] = {"null", "bool",     "int",    "double",
                                 "text", "datetime", "binary", "guid"};
  *out << kTypes[static_cast<int>(value.type())] << "(" << value.ToText() << ")";
}
}  // namespace common

namespace sandbox::testing {

struct RowSet {
  std::vector<Column> columns;
  std::vector<std::vector<common::Value>> rows;
};

// The names of a row set's columns, in order.
std::vector<std::string> ColumnNames(const RowSet& set);
// A row set's rows as "a|b;c|d", NULL as written.
std::string RowsText(const RowSet& set);

class CollectingSink : public ResultSink {
 public:
  void BeginRowSet(const std::vector<Column>& columns) override;
  void Row(std::vector<common::Value> values) override;
  void EndRowSet() override;
  void Done(std::int64_t rows_affected) override { done.push_back(rows_affected); }
  void Message(const ServerMessage& message) override { messages.push_back(message); }

  std::vector<const ServerMessage*> Errors() const;
  // The first error's number, 0 when there was none.
  std::int32_t FirstError() const;
  std::string ErrorText() const;

  std::vector<RowSet> sets;
  std::vector<std::int64_t> done;
  std::vector<ServerMessage> messages;
  bool open = false;
};

class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new session as the default administrator login.
  std::unique_ptr<Session> Connect(const std::string& database = "");
  // A new session of a SQL Server login.
  std::unique_ptr<Session> As(const std::string& login, const std::string& password,
                              const std::string& database = "");
  // Runs a batch on the session; the sink is returned for inspection.
  CollectingSink Run(Session& session, const std::string& batch,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
  CollectingSink Run(const std::string& batch) { return Run(*session_, batch); }
  // Runs a batch that must succeed and returns its last row set.
  RowSet Query(Session& session, const std::string& batch);
  RowSet Query(const std::string& batch) { return Query(*session_, batch); }
  // The single value of a one-row, one-column query.
  common::Value Scalar(const std::string& batch);
  // Runs a batch and expects no error.
  void Ok(const std::string& batch);
  void Ok(Session& session, const std::string& batch);
  // A batch's first error as "number: text", "" when it had none.
  std::string Failure(const std::string& batch) { return Failure(*session_, batch); }
  std::string Failure(Session& session, const std::string& batch);
  // A session of the machine's administrator (a Windows login) on a new instance of the
  // version, with that version's product level and platform; the instance lives as long as the
  // test.
  std::unique_ptr<Session> SessionOn(const std::string& version);

  std::filesystem::path root_;
  std::unique_ptr<Host> host_;
  std::shared_ptr<Instance> instance_;
  std::unique_ptr<Session> session_;
  std::vector<std::shared_ptr<Instance>> instances_;
};

}  // namespace sandbox::testing
