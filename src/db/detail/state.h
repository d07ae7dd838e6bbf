// Inside the client database interface: the objects behind the handles and how a request's
// results are split into results the way the provider hands them out.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/command.h"
#include "db/connection.h"
#include "db/driver.h"
#include "db/environment.h"
#include "db/error.h"
#include "db/recordset.h"

namespace db::detail {

// One result of a batch: a row set, or a statement's count or messages without rows.
struct ResultUnit {
  bool has_rowset = false;
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<Value>> rows;
  std::int64_t rows_affected = -1;
  std::vector<ServerMessage> messages;
  std::optional<ErrorRecord> error;  // the first error among the messages
};

struct BatchResults {
  std::vector<ResultUnit> units;
  std::vector<ErrorRecord> errors;  // every error of the batch, in order
  // The count of the last statement that sent one; -1 when none did.
  std::int64_t last_count = -1;
  std::optional<Error> FirstError() const;
};

ErrorRecord RecordFor(const ServerMessage& message);

struct ConnectionState {
  std::shared_ptr<Environment> environment;
  int id = 0;
  std::string connection_string;
  ConnectionString overrides;  // properties set one by one
  int cursor_location = kUseServer;
  int command_timeout = 30;
  int connection_timeout = 15;
  std::unique_ptr<DriverSession> session;
  std::string data_source;  // captured at Open
  bool persist_security_info = false;
  std::vector<ErrorRecord> errors;

  ~ConnectionState();
  bool IsOpen() const { return session != nullptr; }
  // The assigned string with the properties set one by one applied. Raises for malformed text.
  ConnectionString Effective() const;
  // Sends the request and reads all its results. Driver failures are recorded and raised;
  // errors of statements are returned in the results for the caller to raise.
  BatchResults Run(DriverRequest& request);
};

struct ParameterState {
  std::string name;
  int type = kTypeEmpty;
  int direction = kParamInput;
  int size = 0;
  int precision = 0;
  int numeric_scale = 0;
  Value value;
};

struct CommandState {
  std::shared_ptr<ConnectionState> connection;
  int type = kCmdUnknown;
  std::string text;
  int timeout = 30;
  db::Parameters parameters;
};

// The SQL Server type name for a parameter type ("int", "varchar", ...).
std::string TypeNameFor(int type);
// The parameter and field type number for a SQL Server type name.
int TypeFor(const std::string& type_name, Value::Type value_type);

// A recordset on the results of Connection::Execute or Command::Execute, on the first result.
Recordset RecordsetFromResults(std::shared_ptr<ConnectionState> connection, BatchResults results,
                               std::int64_t* records_affected);

// The request a command sends, and the output values it brings back.
DriverRequest BuildCommandRequest(const CommandState& command);
void StoreOutputs(CommandState& command, const DriverRequest& request);
// The connection a command runs on; raises 3709 when it has none or it is closed.
std::shared_ptr<ConnectionState> CommandConnection(const CommandState& command);

// A request for a statement text, a table or a procedure by command type.
DriverRequest MakeRequest(std::string_view text, int command_type, int timeout_seconds);

}  // namespace db::detail
