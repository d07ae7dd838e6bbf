// A command: a statement, a table or a stored procedure with parameters, bound to a connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "db/connection.h"
#include "db/constants.h"

namespace db {

namespace detail {
struct ParameterState;
struct CommandState;
}  // namespace detail

class Parameter {
 public:
  Parameter();

  const std::string& Name() const;
  void SetName(std::string_view name);
  int Type() const;  // kTypeInteger, kTypeVarChar, ...
  void SetType(int type);
  int Direction() const;  // kParamInput, kParamOutput, kParamInputOutput, kParamReturnValue
  void SetDirection(int direction);
  int Size() const;
  void SetSize(int size);
  // Decimal and numeric parameters: digits in all (1 to 38) and after the point; 0 leaves the
  // choice to the value.
  int Precision() const;
  void SetPrecision(int precision);
  int NumericScale() const;
  void SetNumericScale(int scale);
  // After execution, output, input-output and return-value parameters hold what the server
  // returned.
  const db::Value& Value() const;
  void SetValue(const db::Value& value);

  friend bool operator==(const Parameter& a, const Parameter& b) { return a.state_ == b.state_; }

 private:
  friend class Command;
  friend class Parameters;
  friend class Recordset;
  std::shared_ptr<detail::ParameterState> state_;
};

class Parameters {
 public:
  void Append(const Parameter& parameter);
  void Delete(std::string_view name);
  int Count() const { return static_cast<int>(items_.size()); }
  // By name (without regard to case; the "@" may be left out) or by position from 0. Raises
  // 3265 when there is no such parameter.
  Parameter Item(std::string_view name) const;
  Parameter Item(int index) const;
  const std::vector<Parameter>& items() const { return items_; }

 private:
  std::vector<Parameter> items_;
};

class Command {
 public:
  Command();

  Connection ActiveConnection() const;
  void SetActiveConnection(const Connection& connection);
  int CommandType() const;  // kCmdText, kCmdTable, kCmdStoredProc, kCmdUnknown
  void SetCommandType(int type);
  const std::string& CommandText() const;
  void SetCommandText(std::string_view text);
  int CommandTimeout() const;  // seconds, default 30; 0 means none
  void SetCommandTimeout(int seconds);

  db::Parameters& Parameters();
  db::Parameter Parameters(std::string_view name) const;
  db::Parameter Parameters(int index) const;
  db::Parameter CreateParameter(std::string_view name = {}, int type = kTypeEmpty,
                                int direction = kParamInput, int size = 0,
                                const Value& value = {}) const;

  // Runs the command; raises the first error of the whole batch. A stored procedure call with
  // parameters goes to the driver as a procedure call; a text command may mark its parameters
  // with "?" or name them ("@name").
  Recordset Execute(std::int64_t* records_affected = nullptr, int options = -1);
  void Cancel();

  friend bool operator==(const Command& a, const Command& b) { return a.state_ == b.state_; }

 private:
  friend class Recordset;
  std::shared_ptr<detail::CommandState> state_;
};

}  // namespace db
