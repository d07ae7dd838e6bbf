// What a driver provides to the client database interface: sessions on a server that run
// batches and remote procedure calls, and hand back their results as a stream of events in the
// order the server sends them (row sets, done counts, messages and errors interleaved). A
// registry chooses the driver by the data source of a connection string.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "db/connection_string.h"

namespace db {

using Value = common::Value;

// A result column as the server describes it, with what an updatable client cursor needs.
struct ColumnInfo {
  std::string name;
  std::string type_name;  // the SQL Server type name: "int", "varchar", "image", ...
  Value::Type value_type = Value::Type::kText;
  int size = 0;  // declared length for character and binary types, else 0
  bool nullable = true;
  std::string base_table;  // empty for computed columns
  std::string base_column;
  bool key_column = false;
  bool identity = false;
  int scale = 0;  // places after the point of decimal and numeric (money: 4)
};

// An error (severity above 10) or an informational message (PRINT, "Changed database context
// to ...", severity 0 to 10) of the server.
struct ServerMessage {
  std::int32_t number = 0;
  int severity = 0;
  int state = 1;
  std::string text;
  std::string procedure;
  int line = 0;
  bool IsError() const { return severity > 10; }
};

enum class ParameterDirection { kInput = 1, kOutput = 2, kInputOutput = 3, kReturnValue = 4 };

struct DriverParameter {
  std::string name;  // with the leading "@"; may be empty for positional parameters
  Value value;
  std::string type_name;  // SQL Server type name, may be empty
  int size = 0;
  ParameterDirection direction = ParameterDirection::kInput;
  int precision = 0;  // decimal and numeric: digits in all, and after the point; 0 not given
  int scale = 0;
  bool IsOutput() const { return direction != ParameterDirection::kInput; }
};

struct DriverRequest {
  enum class Kind { kBatch, kProcedure };
  Kind kind = Kind::kBatch;
  std::string text;  // the batch, or the procedure's name
  // Parameters of the call or of a parameterised batch ("@name" in its text). The driver writes
  // output values back here by the time the stream has ended.
  std::vector<DriverParameter> parameters;
  std::chrono::milliseconds timeout{0};  // zero: no time-out
};

struct ResultEvent {
  enum class Kind { kBeginRowSet, kRow, kEndRowSet, kDone, kMessage };
  Kind kind = Kind::kDone;
  std::vector<ColumnInfo> columns;  // kBeginRowSet
  std::vector<Value> row;           // kRow
  std::int64_t rows_affected = -1;  // kDone: -1 when the server sends no count
  ServerMessage message;            // kMessage
};

// The results of one request, read in order. Next throws db::Error when the request fails as a
// whole (time-out, broken connection); errors of statements come as kMessage events.
class ResultStream {
 public:
  virtual ~ResultStream() = default;
  // False at the end of the results.
  virtual bool Next(ResultEvent& event) = 0;
};

class DriverSession {
 public:
  virtual ~DriverSession() = default;
  // Sends the request. Throws db::Error when it cannot be sent at all.
  virtual std::unique_ptr<ResultStream> Execute(DriverRequest& request) = 0;
  // Sends the request and hands each event to on_event as it arrives, for readers that show
  // rows and forget them (a result may be larger than memory). An exception from on_event
  // stops the request, as a cancel does, and is thrown on from here; the session stays usable.
  // Throws db::Error as Execute and ResultStream::Next do.
  virtual void ExecuteEach(DriverRequest& request,
                           const std::function<void(ResultEvent& event)>& on_event) {
    std::unique_ptr<ResultStream> stream = Execute(request);
    ResultEvent event;
    while (stream->Next(event)) on_event(event);
  }
  // Asks the running request to stop; may be called from another thread.
  virtual void Cancel() = 0;
  // The session's current database, as the last "USE" left it.
  virtual std::string CurrentDatabase() const = 0;
  // The server's version as its answer to the login gave it ("8.00.2039"); empty when the
  // driver cannot tell.
  virtual std::string ServerVersion() const { return {}; }
  // Ends the session; never throws.
  virtual void Close() = 0;
};

struct ConnectRequest {
  std::string data_source;
  bool integrated = false;
  std::string user;
  std::string password;
  std::string catalog;  // empty: the login's default database
  int connect_timeout_seconds = 15;
  std::string application;
  std::string workstation;
  ConnectionString properties;  // everything the connection string said, for driver-only keys
};

class Driver {
 public:
  virtual ~Driver() = default;
  virtual std::string name() const = 0;
  // Whether this driver serves the data source ("(sandbox)\NAME", "SRV01", ...).
  virtual bool Accepts(std::string_view data_source) const = 0;
  // Opens a session; throws db::Error (0x80040E4D for refused logins, 0x80004005 otherwise).
  virtual std::unique_ptr<DriverSession> Connect(const ConnectRequest& request) = 0;
};

// The drivers a program offers, asked in the order they were added.
class DriverRegistry {
 public:
  void Add(std::shared_ptr<Driver> driver) { drivers_.push_back(std::move(driver)); }
  // Ahead of every driver added so far: a stand-in that must win over a general driver (the ODBC
  // driver accepts every data source that is not a sandbox one).
  void AddFirst(std::shared_ptr<Driver> driver) {
    drivers_.insert(drivers_.begin(), std::move(driver));
  }
  // The first driver that accepts the data source, or nullptr.
  Driver* Find(std::string_view data_source) const {
    for (const auto& driver : drivers_) {
      if (driver->Accepts(data_source)) return driver.get();
    }
    return nullptr;
  }
  const std::vector<std::shared_ptr<Driver>>& drivers() const { return drivers_; }

 private:
  std::vector<std::shared_ptr<Driver>> drivers_;
};

// A stream over events already in memory: what drivers use that run a request at once.
class BufferedResultStream : public ResultStream {
 public:
  explicit BufferedResultStream(std::vector<ResultEvent> events) : events_(std::move(events)) {}
  bool Next(ResultEvent& event) override {
    if (next_ >= events_.size()) return false;
    event = std::move(events_[next_++]);
    return true;
  }

 private:
  std::vector<ResultEvent> events_;
  size_t next_ = 0;
};

}  // namespace db
