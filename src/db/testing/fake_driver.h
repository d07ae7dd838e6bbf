// A scripted stand-in for a server, for tests: statements are answered from a script (by exact
// text, by prefix, or by a handler), every login and call is recorded, and failures (refused
// logins, time-outs, broken connections) can be arranged.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/error.h"

namespace db::testing {

// A column of a result; the value type follows from the SQL type name.
ColumnInfo Column(std::string name, std::string type_name = "varchar", int size = 0);
// A column read straight from a table, as an updatable cursor needs it.
ColumnInfo TableColumn(std::string table, std::string name, std::string type_name = "varchar",
                       bool key = false, bool identity = false);

// What the server answers to one statement.
class FakeResult {
 public:
  // A row set followed by its count.
  FakeResult& Rows(std::vector<ColumnInfo> columns, std::vector<std::vector<Value>> rows);
  // A row set whose statement sends no count (SET NOCOUNT ON).
  FakeResult& RowsNoCount(std::vector<ColumnInfo> columns, std::vector<std::vector<Value>> rows);
  // A row set piece by piece, for results that mix rows and messages.
  FakeResult& BeginRows(std::vector<ColumnInfo> columns);
  FakeResult& Row(std::vector<Value> values);
  FakeResult& EndRows();
  FakeResult& Count(std::int64_t rows_affected);  // a statement without rows
  FakeResult& NoCount();                          // a statement without rows or count
  FakeResult& Print(std::string text);            // PRINT: severity 0
  FakeResult& Message(std::int32_t number, int severity, std::string text, int state = 1);
  FakeResult& Error(std::int32_t number, std::string text, int severity = 16, int state = 1);
  // Output parameter values by name ("@x"), and the procedure's return status.
  FakeResult& Output(std::string name, Value value);
  FakeResult& ReturnStatus(Value value);
  // The statement runs this long: it times out when the request's time-out is shorter.
  FakeResult& Takes(std::chrono::milliseconds duration);
  // The connection breaks while the statement runs.
  FakeResult& Breaks();

  const std::vector<ResultEvent>& events() const { return events_; }

 private:
  friend class FakeServer;
  friend class FakeSession;
  std::vector<ResultEvent> events_;
  std::map<std::string, Value> outputs_;
  std::optional<Value> return_status_;
  std::chrono::milliseconds duration_{0};
  bool breaks_ = false;
};

// One request a session received.
struct FakeCall {
  int session = 0;
  std::string data_source;
  std::string catalog;
  DriverRequest request;
};

class FakeServer {
 public:
  // Answers for the exact text; several answers for one text are used in turn, the last one
  // again and again.
  void On(std::string text, FakeResult result);
  void OnPrefix(std::string prefix, FakeResult result);
  // Answers whatever the script above does not; return std::nullopt to fall through.
  void SetHandler(std::function<std::optional<FakeResult>(const FakeCall&)> handler);
  // The answer to anything else; by default a statement without rows or count. "USE name"
  // changes the database unless scripted.
  void SetDefault(FakeResult result);

  // Logins: when set, only these credentials open a session (integrated logins always do
  // unless refused).
  void AcceptLogin(std::string user, std::string password);
  void RefuseIntegrated(bool refuse) { refuse_integrated_ = refuse; }
  // Databases a login may name; empty means any.
  void SetDatabases(std::vector<std::string> names) { databases_ = std::move(names); }
  void SetDefaultDatabase(std::string name) { default_database_ = std::move(name); }
  // The version the login answer carries ("15.00.2000"); empty (the default) when untold.
  void SetServerVersion(std::string version) {
    std::lock_guard lock(mutex_);
    server_version_ = std::move(version);
  }
  // Ends a session as KILL does: its next request fails as a broken connection.
  void Kill(int session);
  // While held, logins wait: a server whose machine answers but whose service never does.
  // Releasing lets the waiting ones go on as any login would.
  void HoldLogins();
  void ReleaseLogins();
  // The logins waiting now.
  int held_logins() const;

  std::vector<ConnectRequest> connects() const;
  std::vector<FakeCall> calls() const;
  std::vector<std::string> texts() const;
  int open_sessions() const;
  void ClearCalls();

 private:
  friend class FakeSession;
  friend class FakeDriver;
  FakeResult Answer(const FakeCall& call, std::string& database);

  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool hold_logins_ = false;
  int held_logins_ = 0;
  std::map<std::string, std::deque<FakeResult>> exact_;
  std::vector<std::pair<std::string, FakeResult>> prefixes_;
  std::function<std::optional<FakeResult>(const FakeCall&)> handler_;
  std::optional<FakeResult> default_;
  std::map<std::string, std::string> logins_;
  bool refuse_integrated_ = false;
  std::vector<std::string> databases_;
  std::string default_database_ = "master";
  std::string server_version_;
  std::vector<ConnectRequest> connects_;
  std::vector<FakeCall> calls_;
  std::vector<int> killed_;
  int last_session_ = 0;
  int open_sessions_ = 0;
};

class FakeDriver : public Driver {
 public:
  // Serves the data sources for which accepts returns true; all of them by default.
  explicit FakeDriver(std::shared_ptr<FakeServer> server,
                      std::function<bool(std::string_view)> accepts = {});
  std::string name() const override { return "fake"; }
  bool Accepts(std::string_view data_source) const override;
  std::unique_ptr<DriverSession> Connect(const ConnectRequest& request) override;

 private:
  std::shared_ptr<FakeServer> server_;
  std::function<bool(std::string_view)> accepts_;
};

}  // namespace db::testing
