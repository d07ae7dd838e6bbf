#include "db/command.h"

#include <cctype>

#include "db/detail/state.h"
#include "db/recordset.h"

namespace db {

namespace {

constexpr char kSource[] = "ADODB.Command";
constexpr char kParameterSource[] = "ADODB.Parameter";

bool SameName(std::string_view a, std::string_view b) {
  if (!a.empty() && a.front() == '@') a.remove_prefix(1);
  if (!b.empty() && b.front() == '@') b.remove_prefix(1);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

ParameterDirection DirectionOf(int direction) {
  switch (direction) {
    case kParamOutput:
      return ParameterDirection::kOutput;
    case kParamInputOutput:
      return ParameterDirection::kInputOutput;
    case kParamReturnValue:
      return ParameterDirection::kReturnValue;
    default:
      return ParameterDirection::kInput;
  }
}

// Positions of the "?" markers of a statement, outside quoted text, bracketed names and comments.
std::vector<size_t> MarkerPositions(std::string_view text) {
  std::vector<size_t> positions;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\'' || c == '"' || c == '[') {
      char close = c == '[' ? ']' : c;
      for (++i; i < text.size(); ++i) {
        if (text[i] == close) {
          if (i + 1 < text.size() && text[i + 1] == close) {
            ++i;
            continue;
          }
          break;
        }
      }
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      size_t end = text.find("*/", i + 2);
      i = end == std::string_view::npos ? text.size() : end + 1;
    } else if (c == '?') {
      positions.push_back(i);
    }
  }
  return positions;
}

}  // namespace

namespace detail {

std::shared_ptr<ConnectionState> CommandConnection(const CommandState& command) {
  if (!command.connection || !command.connection->IsOpen()) {
    throw Error(kErrorConnectionNotUsable, kSource,
                "The connection cannot be used to perform this operation. It is either closed or "
                "invalid in this context.");
  }
  return command.connection;
}

DriverRequest BuildCommandRequest(const CommandState& command) {
  if (command.text.empty()) {
    throw Error(HResult(0x80040E0C), kProviderSource,
                "Command text was not set for the command object.");
  }
  DriverRequest request = MakeRequest(command.text, command.type, command.timeout);
  int position = 0;
  for (const Parameter& p : command.parameters.items()) {
    DriverParameter dp;
    dp.name = p.Name();
    if (!dp.name.empty() && dp.name.front() != '@') dp.name = "@" + dp.name;
    dp.value = p.Value();
    dp.type_name = TypeNameFor(p.Type());
    dp.size = p.Size();
    dp.precision = p.Precision();
    dp.scale = p.NumericScale();
    dp.direction = DirectionOf(p.Direction());
    if (dp.direction != ParameterDirection::kReturnValue) ++position;
    if (dp.name.empty() && request.kind == DriverRequest::Kind::kBatch &&
        dp.direction != ParameterDirection::kReturnValue)
      dp.name = "@P" + std::to_string(position);
    request.parameters.push_back(std::move(dp));
  }
  if (request.kind == DriverRequest::Kind::kBatch && !request.parameters.empty()) {
    std::vector<size_t> markers = MarkerPositions(request.text);
    std::vector<const DriverParameter*> bound;
    for (const DriverParameter& dp : request.parameters) {
      if (dp.direction != ParameterDirection::kReturnValue) bound.push_back(&dp);
    }
    if (!markers.empty()) {
      if (markers.size() != bound.size()) {
        throw InvalidArgumentError(kSource, "the statement has " + std::to_string(markers.size()) +
                                                " parameter markers and the command " +
                                                std::to_string(bound.size()) + " parameters");
      }
      std::string text;
      size_t from = 0;
      for (size_t i = 0; i < markers.size(); ++i) {
        text += request.text.substr(from, markers[i] - from);
        text += bound[i]->name;
        from = markers[i] + 1;
      }
      text += request.text.substr(from);
      request.text = std::move(text);
    }
  }
  return request;
}

void StoreOutputs(CommandState& command, const DriverRequest& request) {
  const auto& items = command.parameters.items();
  for (size_t i = 0; i < items.size() && i < request.parameters.size(); ++i) {
    if (request.parameters[i].IsOutput()) {
      Parameter parameter = items[i];  // a handle: the caller's parameter sees the value
      parameter.SetValue(request.parameters[i].value);
    }
  }
}

}  // namespace detail

// Parameter --------------------------------------------------------------------------------

Parameter::Parameter() : state_(std::make_shared<detail::ParameterState>()) {}

const std::string& Parameter::Name() const { return state_->name; }
void Parameter::SetName(std::string_view name) { state_->name = std::string(name); }
int Parameter::Type() const { return state_->type; }
void Parameter::SetType(int type) { state_->type = type; }
int Parameter::Direction() const { return state_->direction; }

void Parameter::SetDirection(int direction) {
  if (direction < kParamInput || direction > kParamReturnValue) {
    throw InvalidArgumentError(kParameterSource, "direction " + std::to_string(direction));
  }
  state_->direction = direction;
}

int Parameter::Size() const { return state_->size; }

void Parameter::SetSize(int size) {
  if (size < 0) throw InvalidArgumentError(kParameterSource, "size below 0");
  state_->size = size;
}

int Parameter::Precision() const { return state_->precision; }
void Parameter::SetPrecision(int precision) {
  if (precision < 0 || precision > 38)
    throw InvalidArgumentError(kParameterSource, "precision outside 0 to 38");
  state_->precision = precision;
}

int Parameter::NumericScale() const { return state_->numeric_scale; }
void Parameter::SetNumericScale(int scale) {
  if (scale < 0 || scale > 38)
    throw InvalidArgumentError(kParameterSource, "scale outside 0 to 38");
  state_->numeric_scale = scale;
}

const db::Value& Parameter::Value() const { return state_->value; }
void Parameter::SetValue(const db::Value& value) { state_->value = value; }

// Parameters -------------------------------------------------------------------------------

void Parameters::Append(const Parameter& parameter) {
  for (const Parameter& p : items_) {
    if (p == parameter) {
      throw InvalidArgumentError(kSource, "the parameter is already in the collection");
    }
  }
  items_.push_back(parameter);
}

void Parameters::Delete(std::string_view name) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (SameName(it->Name(), name)) {
      items_.erase(it);
      return;
    }
  }
  throw ItemNotFoundError(kSource);
}

Parameter Parameters::Item(std::string_view name) const {
  for (const Parameter& p : items_) {
    if (SameName(p.Name(), name)) return p;
  }
  throw ItemNotFoundError(kSource);
}

Parameter Parameters::Item(int index) const {
  if (index < 0 || index >= Count()) throw ItemNotFoundError(kSource);
  return items_[index];
}

// Command ----------------------------------------------------------------------------------

Command::Command() : state_(std::make_shared<detail::CommandState>()) {}

Connection Command::ActiveConnection() const {
  return state_->connection ? Connection(state_->connection) : Connection();
}

void Command::SetActiveConnection(const Connection& connection) {
  state_->connection = connection.state_;
}

int Command::CommandType() const { return state_->type; }

void Command::SetCommandType(int type) {
  if (type != kCmdText && type != kCmdTable && type != kCmdStoredProc && type != kCmdUnknown &&
      type != kCmdTableDirect) {
    throw InvalidArgumentError(kSource, "command type " + std::to_string(type));
  }
  state_->type = type;
}

const std::string& Command::CommandText() const { return state_->text; }
void Command::SetCommandText(std::string_view text) { state_->text = std::string(text); }
int Command::CommandTimeout() const { return state_->timeout; }

void Command::SetCommandTimeout(int seconds) {
  if (seconds < 0) throw InvalidArgumentError(kSource, "command time-out below 0");
  state_->timeout = seconds;
}

db::Parameters& Command::Parameters() { return state_->parameters; }
db::Parameter Command::Parameters(std::string_view name) const {
  return state_->parameters.Item(name);
}
db::Parameter Command::Parameters(int index) const { return state_->parameters.Item(index); }

db::Parameter Command::CreateParameter(std::string_view name, int type, int direction, int size,
                                       const Value& value) const {
  db::Parameter p;
  p.SetName(name);
  p.SetType(type);
  p.SetDirection(direction);
  p.SetSize(size);
  p.SetValue(value);
  return p;
}

Recordset Command::Execute(std::int64_t* records_affected, int options) {
  std::shared_ptr<detail::ConnectionState> connection = detail::CommandConnection(*state_);
  DriverRequest request = detail::BuildCommandRequest(*state_);
  detail::BatchResults results = connection->Run(request);
  detail::StoreOutputs(*state_, request);
  if (auto error = results.FirstError()) throw *error;
  Recordset recordset =
      detail::RecordsetFromResults(connection, std::move(results), records_affected);
  if (options != kCmdUnspecified && (options & kExecuteNoRecords)) return Recordset();
  return recordset;
}

void Command::Cancel() {
  if (state_->connection && state_->connection->session) state_->connection->session->Cancel();
}

}  // namespace db
