// A connection to a server, in the vocabulary of the platform interface the product was written
// against. Connection, Command, Recordset, Field and Parameter are handles: copies share one
// object, the way the program's object references do, and the object lives as long as a handle
// (or a recordset or command bound to it) refers to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "db/constants.h"
#include "db/error.h"

namespace db {

class Environment;
class Recordset;
namespace detail {
struct ConnectionState;
}

using Value = common::Value;

// One property of a connection ("Data Source", "Persist Security Info", ...).
class Property {
 public:
  const std::string& Name() const { return name_; }
  db::Value Value() const;
  void SetValue(const db::Value& value);

 private:
  friend class Connection;
  Property(std::shared_ptr<detail::ConnectionState> state, std::string name)
      : state_(std::move(state)), name_(std::move(name)) {}
  std::shared_ptr<detail::ConnectionState> state_;
  std::string name_;
};

class Connection {
 public:
  // A connection without drivers: Open fails with "Provider cannot be found".
  Connection();
  explicit Connection(std::shared_ptr<Environment> environment);

  // Distinct for every connection object of an environment; what observers report.
  int Id() const;

  // While closed, the text as assigned. After Open, a password is left out unless
  // "Persist Security Info" is true.
  std::string ConnectionString() const;
  // Only while closed. The text is read at Open (and by Properties).
  void SetConnectionString(std::string_view text);

  int CursorLocation() const;
  void SetCursorLocation(int location);  // kUseServer or kUseClient
  int CommandTimeout() const;            // seconds; 0 means none
  void SetCommandTimeout(int seconds);
  int ConnectionTimeout() const;  // seconds; "Connect Timeout" in the string wins
  void SetConnectionTimeout(int seconds);

  // Connection properties by name, without regard to case. Unknown names raise 3265 on access.
  Property Properties(std::string_view name) const;

  // Opens a session; a non-empty user or password replaces the one in the connection string.
  void Open(std::string_view user = {}, std::string_view password = {}, int options = -1);
  void Close();
  int State() const;

  // Runs the text (options: kCmdText, kCmdTable, kCmdStoredProc; kExecuteNoRecords may be
  // added). Raises the first error of the whole batch. The recordset holds the first result.
  Recordset Execute(std::string_view text, std::int64_t* records_affected = nullptr,
                    int options = -1);

  // Asks the running statement to stop (from another thread).
  void Cancel();

  // The messages and errors of the last operation that talked to the server.
  std::vector<ErrorRecord> Errors() const;
  // The session's current database.
  std::string DefaultDatabase() const;

  friend bool operator==(const Connection& a, const Connection& b) { return a.state_ == b.state_; }

 private:
  friend class Command;
  friend class Recordset;
  explicit Connection(std::shared_ptr<detail::ConnectionState> state) : state_(std::move(state)) {}
  std::shared_ptr<detail::ConnectionState> state_;
};

}  // namespace db
