#include "db/connection.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "db/detail/state.h"
#include "db/recordset.h"
#include "db/sql_text.h"

namespace db {

namespace detail {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

Error NoServerError() {
  return Error(kErrorUnspecified, "Microsoft OLE DB Provider for SQL Server",
               "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied.",
               17, 16, 1);
}

}  // namespace

ConnectionState::~ConnectionState() {
  if (session) session->Close();
}

ConnectionString ConnectionState::Effective() const {
  ConnectionString parsed = ConnectionString::Parse(connection_string);
  for (const auto& entry : overrides.entries()) parsed.Set(entry.key, entry.value);
  return parsed;
}

std::optional<Error> BatchResults::FirstError() const {
  if (errors.empty()) return std::nullopt;
  Error error(errors.front());
  error.set_errors(errors);
  return error;
}

ErrorRecord RecordFor(const ServerMessage& message) {
  ErrorRecord record;
  record.number = message.IsError() ? ProviderNumberFor(message.number) : 0;
  record.source = kProviderSource;
  record.description = message.text;
  record.native_error = message.number;
  record.severity = message.severity;
  record.state = message.state;
  return record;
}

BatchResults ConnectionState::Run(DriverRequest& request) {
  Statement statement;
  statement.connection_id = id;
  statement.data_source = data_source;
  statement.catalog = session->CurrentDatabase();
  statement.text = request.text;
  statement.procedure_call = request.kind == DriverRequest::Kind::kProcedure;
  for (const DriverParameter& p : request.parameters) {
    if (p.direction != ParameterDirection::kOutput &&
        p.direction != ParameterDirection::kReturnValue)
      statement.parameters.emplace_back(p.name, p.value);
  }
  errors.clear();
  if (environment) environment->Notify(statement);

  BatchResults results;
  ResultUnit current;
  auto flush = [&] {
    if (current.has_rowset || !current.messages.empty() || current.rows_affected >= 0) {
      results.units.push_back(std::move(current));
    }
    current = ResultUnit();
  };
  try {
    std::unique_ptr<ResultStream> stream = session->Execute(request);
    ResultEvent event;
    while (stream->Next(event)) {
      switch (event.kind) {
        case ResultEvent::Kind::kBeginRowSet:
          // A row set right after another one without a count in between is a new result; so
          // are messages before it: they belong to an earlier statement (a PRINT).
          if (current.has_rowset || !current.messages.empty()) flush();
          current.has_rowset = true;
          current.columns = std::move(event.columns);
          break;
        case ResultEvent::Kind::kRow:
          if (current.has_rowset) {
            event.row.resize(current.columns.size());
            current.rows.push_back(std::move(event.row));
          }
          break;
        case ResultEvent::Kind::kEndRowSet:
          break;
        case ResultEvent::Kind::kDone:
          current.rows_affected = event.rows_affected;
          if (event.rows_affected >= 0) results.last_count = event.rows_affected;
          flush();
          break;
        case ResultEvent::Kind::kMessage: {
          ErrorRecord record = RecordFor(event.message);
          errors.push_back(record);
          if (event.message.IsError()) {
            results.errors.push_back(record);
            if (!current.error) current.error = record;
          }
          current.messages.push_back(std::move(event.message));
          break;
        }
      }
    }
    flush();
  } catch (const Error& error) {
    errors.push_back(error.record());
    throw;
  }
  return results;
}

std::string TypeNameFor(int type) {
  switch (type) {
    case kTypeSmallInt:
      return "smallint";
    case kTypeInteger:
      return "int";
    case kTypeSingle:
      return "real";
    case kTypeDouble:
      return "float";
    case kTypeCurrency:
      return "money";
    case kTypeDate:
    case kTypeDBTimeStamp:
      return "datetime";
    case kTypeBoolean:
      return "bit";
    case kTypeDecimal:
    case kTypeNumeric:
      return "decimal";
    case kTypeTinyInt:
    case kTypeUnsignedTinyInt:
      return "tinyint";
    case kTypeBigInt:
      return "bigint";
    case kTypeGuid:
      return "uniqueidentifier";
    case kTypeBinary:
      return "binary";
    case kTypeChar:
      return "char";
    case kTypeWChar:
      return "nchar";
    case kTypeVarChar:
      return "varchar";
    case kTypeLongVarChar:
      return "text";
    case kTypeVarWChar:
      return "nvarchar";
    case kTypeLongVarWChar:
      return "ntext";
    case kTypeVarBinary:
      return "varbinary";
    case kTypeLongVarBinary:
      return "image";
    default:
      return "";
  }
}

int TypeFor(const std::string& type_name, Value::Type value_type) {
  std::string t = Lower(type_name);
  if (t == "int") return kTypeInteger;
  if (t == "smallint") return kTypeSmallInt;
  if (t == "tinyint") return kTypeUnsignedTinyInt;
  if (t == "bigint") return kTypeBigInt;
  if (t == "bit") return kTypeBoolean;
  if (t == "float") return kTypeDouble;
  if (t == "real") return kTypeSingle;
  if (t == "money" || t == "smallmoney") return kTypeCurrency;
  if (t == "decimal" || t == "numeric") return kTypeNumeric;
  if (t == "datetime" || t == "smalldatetime") return kTypeDBTimeStamp;
  if (t == "uniqueidentifier") return kTypeGuid;
  if (t == "char") return kTypeChar;
  if (t == "nchar") return kTypeWChar;
  if (t == "varchar" || t == "sysname") return t == "sysname" ? kTypeVarWChar : kTypeVarChar;
  if (t == "nvarchar") return kTypeVarWChar;
  if (t == "text") return kTypeLongVarChar;
  if (t == "ntext") return kTypeLongVarWChar;
  if (t == "binary" || t == "timestamp") return kTypeBinary;
  if (t == "varbinary") return kTypeVarBinary;
  if (t == "image") return kTypeLongVarBinary;
  switch (value_type) {
    case Value::Type::kBool:
      return kTypeBoolean;
    case Value::Type::kInt:
      return kTypeInteger;
    case Value::Type::kDouble:
      return kTypeDouble;
    case Value::Type::kDateTime:
      return kTypeDBTimeStamp;
    case Value::Type::kBinary:
      return kTypeVarBinary;
    case Value::Type::kGuid:
      return kTypeGuid;
    case Value::Type::kText:
      return kTypeVarChar;
    case Value::Type::kNull:
      return kTypeEmpty;
  }
  return kTypeEmpty;
}

DriverRequest MakeRequest(std::string_view text, int command_type, int timeout_seconds) {
  DriverRequest request;
  request.timeout = std::chrono::milliseconds(std::int64_t{timeout_seconds} * 1000);
  if (command_type != kCmdUnspecified && (command_type & kCmdStoredProc)) {
    request.kind = DriverRequest::Kind::kProcedure;
    request.text = std::string(text);
  } else if (command_type != kCmdUnspecified && (command_type & (kCmdTable | kCmdTableDirect))) {
    request.text = "SELECT * FROM " + SqlName(text);
  } else {
    request.text = std::string(text);
  }
  return request;
}

}  // namespace detail

namespace {

constexpr char kSource[] = "ADODB.Connection";

bool ProviderSupported(std::string_view provider) {
  std::string p(provider);
  for (char& c : p) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return p.empty() || p.starts_with("sqloledb") || p.starts_with("sqlncli") ||
         p.starts_with("msoledbsql");
}

bool IsKnownProperty(const std::string& canonical) {
  static const char* kKnown[] = {
      "Data Source",         "Initial Catalog",       "User ID",         "Password",
      "Integrated Security", "Persist Security Info", "Connect Timeout", "Provider",
      "Current Catalog",     "Application Name",      "Workstation ID"};
  for (const char* k : kKnown) {
    if (canonical == k) return true;
  }
  return false;
}

}  // namespace

db::Value Property::Value() const {
  std::string canonical = ConnectionString::CanonicalKey(name_);
  std::string lower = canonical;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // Read-only, from the login: no statement is sent for it.
  if (lower == "dbms version")
    return db::Value(state_->session ? state_->session->ServerVersion() : std::string());
  if (lower == "current catalog") {
    if (state_->session) return db::Value(state_->session->CurrentDatabase());
    canonical = "Initial Catalog";
  }
  ConnectionString effective = state_->Effective();
  std::optional<std::string> value = effective.Get(canonical);
  if (canonical == "Persist Security Info") {
    return db::Value(value ? IsTrueValue(*value) : false);
  }
  if (canonical == "Connect Timeout") {
    if (!value) return db::Value(state_->connection_timeout);
    db::Value v(*value);
    return v.ToInt() ? db::Value(static_cast<long long>(*v.ToInt())) : db::Value(*value);
  }
  if (value) return db::Value(*value);
  if (IsKnownProperty(canonical)) return db::Value(std::string());
  throw ItemNotFoundError(kSource);
}

void Property::SetValue(const db::Value& value) {
  std::string canonical = ConnectionString::CanonicalKey(name_);
  if (!IsKnownProperty(canonical) && !state_->Effective().Has(canonical)) {
    throw ItemNotFoundError(kSource);
  }
  if (state_->session && canonical != "Persist Security Info") {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  std::string text = value.type() == db::Value::Type::kBool ? (*value.ToBool() ? "True" : "False")
                                                            : value.ToText();
  state_->overrides.Set(canonical, text);
  if (canonical == "Persist Security Info") state_->persist_security_info = IsTrueValue(text);
}

Connection::Connection() : state_(std::make_shared<detail::ConnectionState>()) {}

Connection::Connection(std::shared_ptr<Environment> environment)
    : state_(std::make_shared<detail::ConnectionState>()) {
  state_->environment = std::move(environment);
  if (state_->environment) state_->id = state_->environment->NextConnectionId();
}

int Connection::Id() const { return state_->id; }

std::string Connection::ConnectionString() const {
  if (!state_->session || state_->persist_security_info) return state_->connection_string;
  // Once open, the password is not handed out again unless the caller asked to keep it.
  db::ConnectionString parsed;
  try {
    parsed = db::ConnectionString::Parse(state_->connection_string);
  } catch (const Error&) {
    return state_->connection_string;
  }
  std::string out;
  for (const auto& entry : parsed.entries()) {
    if (db::ConnectionString::CanonicalKey(entry.key) == "Password") continue;
    out += entry.raw + ";";
  }
  return out;
}

void Connection::SetConnectionString(std::string_view text) {
  if (state_->session) {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  state_->connection_string = std::string(text);
  state_->overrides = db::ConnectionString();
  state_->persist_security_info = false;
}

int Connection::CursorLocation() const { return state_->cursor_location; }

void Connection::SetCursorLocation(int location) {
  if (location != kUseServer && location != kUseClient) {
    throw InvalidArgumentError(kSource, "cursor location " + std::to_string(location));
  }
  state_->cursor_location = location;
}

int Connection::CommandTimeout() const { return state_->command_timeout; }

void Connection::SetCommandTimeout(int seconds) {
  if (seconds < 0) throw InvalidArgumentError(kSource, "command time-out below 0");
  state_->command_timeout = seconds;
}

int Connection::ConnectionTimeout() const { return state_->connection_timeout; }

void Connection::SetConnectionTimeout(int seconds) {
  if (seconds < 0) throw InvalidArgumentError(kSource, "connection time-out below 0");
  state_->connection_timeout = seconds;
}

Property Connection::Properties(std::string_view name) const {
  return Property(state_, std::string(name));
}

void Connection::Open(std::string_view user, std::string_view password, int /*options*/) {
  detail::ConnectionState& s = *state_;
  if (s.session) {
    throw Error(kErrorObjectOpen, kSource, "Operation is not allowed when the object is open.");
  }
  s.errors.clear();
  try {
    if (!s.environment) {
      throw Error(kErrorProviderNotFound, kSource,
                  "Provider cannot be found. It may not be properly installed.");
    }
    db::ConnectionString effective = s.Effective();
    if (!ProviderSupported(effective.Get("Provider").value_or(""))) {
      throw Error(kErrorProviderNotFound, kSource,
                  "Provider cannot be found. It may not be properly installed.");
    }
    ConnectRequest request;
    request.data_source = effective.Get("Data Source").value_or("");
    request.integrated =
        IsIntegratedSecurityValue(effective.Get("Integrated Security").value_or(""));
    request.user = user.empty() ? effective.Get("User ID").value_or("") : std::string(user);
    request.password =
        password.empty() ? effective.Get("Password").value_or("") : std::string(password);
    request.catalog = effective.Get("Initial Catalog").value_or("");
    request.application = effective.Get("Application Name").value_or("");
    request.workstation = effective.Get("Workstation ID").value_or("");
    request.connect_timeout_seconds = s.connection_timeout;
    if (auto timeout = effective.Get("Connect Timeout")) {
      int seconds = -1;
      auto [end, ec] = std::from_chars(timeout->data(), timeout->data() + timeout->size(), seconds);
      if (ec != std::errc() || end != timeout->data() + timeout->size() || seconds < 0) {
        throw Error(HResult(0x80040E21), "Microsoft OLE DB Service Components",
                    "Multiple-step OLE DB operation generated errors. Check each OLE DB status "
                    "value, if available. No work was done. (Connect Timeout \"" +
                        *timeout + "\" is not a number of seconds)");
      }
      request.connect_timeout_seconds = seconds;
    }
    request.properties = effective;
    Driver* driver =
        request.data_source.empty() ? nullptr : s.environment->drivers().Find(request.data_source);
    if (!driver) throw detail::NoServerError();
    s.session = driver->Connect(request);
    s.data_source = request.data_source;
    s.persist_security_info = IsTrueValue(effective.Get("Persist Security Info").value_or("false"));
  } catch (const Error& error) {
    s.errors.push_back(error.record());
    throw;
  }
}

void Connection::Close() {
  if (!state_->session) throw ObjectClosedError(kSource);
  std::unique_ptr<DriverSession> session = std::move(state_->session);
  session->Close();
}

int Connection::State() const { return state_->session ? kStateOpen : kStateClosed; }

Recordset Connection::Execute(std::string_view text, std::int64_t* records_affected, int options) {
  if (!state_->session) throw ObjectClosedError(kSource);
  int type = options == kCmdUnspecified ? kCmdText : options & ~kExecuteNoRecords;
  DriverRequest request = detail::MakeRequest(text, type, state_->command_timeout);
  detail::BatchResults results = state_->Run(request);
  if (auto error = results.FirstError()) throw *error;
  Recordset recordset = detail::RecordsetFromResults(state_, std::move(results), records_affected);
  if (options != kCmdUnspecified && (options & kExecuteNoRecords)) return Recordset();
  return recordset;
}

void Connection::Cancel() {
  if (state_->session) state_->session->Cancel();
}

std::vector<ErrorRecord> Connection::Errors() const { return state_->errors; }

std::string Connection::DefaultDatabase() const {
  if (state_->session) return state_->session->CurrentDatabase();
  return state_->Effective().Get("Initial Catalog").value_or("");
}

}  // namespace db
