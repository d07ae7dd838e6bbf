#include "db/drivers/odbc/odbc_driver.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "db/drivers/odbc/diagnostics.h"
#include "db/drivers/odbc/parameter_binding.h"
#include "db/drivers/odbc/source_table.h"
#include "db/drivers/odbc/statement_calls.h"
#include "db/drivers/odbc/wide_text.h"
#include "db/error.h"
#include "db/sql_text.h"

namespace db {

// The ODBC environment, shared by the driver and every session it opened.
struct OdbcEnvironment {
  SQLHENV handle = SQL_NULL_HENV;
  OdbcEnvironment() {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) {
      handle = SQL_NULL_HENV;
      return;
    }
    SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  ~OdbcEnvironment() {
    if (handle) SQLFreeHandle(SQL_HANDLE_ENV, handle);
  }
};

namespace {

struct ColumnReader {
  enum class Kind { kInt, kWholeDecimal, kBool, kDouble, kText, kBinary, kDateTime, kGuid };
  Kind kind = Kind::kText;
};

ColumnReader::Kind ReaderFor(SQLSMALLINT type, SQLSMALLINT digits) {
  using Kind = ColumnReader::Kind;
  switch (type) {
    case SQL_BIT:
      return Kind::kBool;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return Kind::kInt;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      // Whole-number decimals (@@IDENTITY) are integers to the program.
      return digits == 0 ? Kind::kWholeDecimal : Kind::kDouble;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return Kind::kDouble;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return Kind::kBinary;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TIMESTAMP:
    case SQL_DATE:
      return Kind::kDateTime;
    case SQL_GUID:
      return Kind::kGuid;
    default:
      return Kind::kText;
  }
}

Value::Type ValueTypeOf(ColumnReader::Kind kind) {
  switch (kind) {
    case ColumnReader::Kind::kInt:
    case ColumnReader::Kind::kWholeDecimal:
      return Value::Type::kInt;
    case ColumnReader::Kind::kBool:
      return Value::Type::kBool;
    case ColumnReader::Kind::kDouble:
      return Value::Type::kDouble;
    case ColumnReader::Kind::kBinary:
      return Value::Type::kBinary;
    case ColumnReader::Kind::kDateTime:
      return Value::Type::kDateTime;
    case ColumnReader::Kind::kGuid:
      return Value::Type::kGuid;
    case ColumnReader::Kind::kText:
      return Value::Type::kText;
  }
  return Value::Type::kText;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Runs one request on a statement handle and collects what it returns, in order.
class RequestRun {
 public:
  RequestRun(SQLHDBC connection, SQLHSTMT statement, const DriverLibrary* library)
      : connection_(connection) {
    calls_.statement = statement;
    has_own_ = library && library->CallsFor(connection, statement, &own_);
  }

  // Throws db::Error when the request fails as a whole; sets broken when the connection is gone.
  std::vector<ResultEvent> Run(SQLRETURN rc, bool* broken) {
    broken_ = broken;
    bool first = true;
    for (int guard = 0; guard < 1000000; ++guard) {
      Absorb(rc);
      // The first statement failed with the server's error (the driver's own failures have
      // been thrown): the rest of the batch is read through the driver itself.
      if (rc == SQL_ERROR && first && has_own_) calls_ = own_;
      if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        SQLSMALLINT columns = 0;
        calls_.num_result_cols(calls_.statement, &columns);
        if (columns > 0) {
          ReadRowSet(columns);
        } else {
          Done(RowCount());
        }
      } else if (rc == SQL_ERROR && first) {
        // In a remote procedure call FreeTDS reports a failed statement with the row set of
        // the next one already current.
        SQLSMALLINT columns = 0;
        if (SQL_SUCCEEDED(calls_.num_result_cols(calls_.statement, &columns)) && columns > 0)
          ReadRowSet(columns);
      } else if (rc == SQL_NO_DATA && first) {
        // A searched UPDATE or DELETE that touched no row: its count is still 0.
        Done(RowCount());
      } else if (rc == SQL_NO_DATA) {
        break;
      }
      first = false;
      rc = calls_.more_results(calls_.statement);
      if (rc == SQL_NO_DATA) {
        Absorb(rc);
        break;
      }
    }
    return std::move(events_);
  }

 private:
  // Turns a call's diagnostics into messages; throws for the driver's own failures.
  void Absorb(SQLRETURN rc) {
    if (rc == SQL_SUCCESS) return;
    if (rc == SQL_INVALID_HANDLE) throw NetworkError({});
    std::vector<Diagnostic> diagnostics =
        Diagnostics(SQL_HANDLE_STMT, calls_.statement, calls_.diagnostics);
    bool server_error = false;
    for (const Diagnostic& d : diagnostics) {
      if (!d.FromServer()) continue;
      ResultEvent event;
      event.kind = ResultEvent::Kind::kMessage;
      event.message = MessageFrom(d);
      server_error = server_error || event.message.IsError();
      events_.push_back(std::move(event));
    }
    if (rc != SQL_ERROR) return;
    for (const Diagnostic& d : diagnostics) {
      // The server's own errors carry SQLSTATEs too (911 is "08004"); only the driver's say
      // anything about the connection.
      if (d.FromServer()) continue;
      if (d.sqlstate == "HYT00" || d.sqlstate == "HYT01") {
        throw WithDetails(Error(kErrorTimeoutExpired, kProviderSource, "Timeout expired"),
                          diagnostics);
      }
      if (d.sqlstate == "HY008") {
        throw WithDetails(Error(HResult(0x80040E4E), kProviderSource, "Operation canceled"),
                          diagnostics);
      }
      if (d.sqlstate.rfind("08", 0) == 0) {
        *broken_ = true;
        throw NetworkError(diagnostics);
      }
    }
    if (!server_error && ConnectionDead()) {
      // FreeTDS reports a connection the server closed as a warning ("Unexpected EOF").
      *broken_ = true;
      throw NetworkError(diagnostics);
    }
    if (!server_error) {
      // The driver refused the request itself (and said why, or did not).
      std::string text = "The ODBC driver failed the request";
      for (const Diagnostic& d : diagnostics)
        text += ": " + d.text + " (SQLSTATE " + d.sqlstate + ")";
      throw WithDetails(Error(kErrorUnspecified, kProviderSource, text), diagnostics);
    }
  }

  bool ConnectionDead() {
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(
               SQLGetConnectAttr(connection_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
           dead == SQL_CD_TRUE;
  }

  std::int64_t RowCount() {
    SQLLEN count = -1;
    if (!SQL_SUCCEEDED(calls_.row_count(calls_.statement, &count))) return -1;
    return count < 0 ? -1 : static_cast<std::int64_t>(count);
  }

  void Done(std::int64_t count) {
    ResultEvent event;
    event.kind = ResultEvent::Kind::kDone;
    event.rows_affected = count;
    events_.push_back(std::move(event));
  }

  ColumnInfo Describe(SQLUSMALLINT index, ColumnReader::Kind* kind) {
    SQLWCHAR name[512] = {};
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    calls_.describe_col(calls_.statement, index, name, static_cast<SQLSMALLINT>(std::size(name)),
                        &name_length, &type, &size, &digits, &nullable);
    ColumnInfo info;
    info.name = Narrow(name, std::min<std::size_t>(name_length, std::size(name) - 1));
    *kind = ReaderFor(type, digits);
    info.value_type = ValueTypeOf(*kind);
    info.nullable = nullable != SQL_NO_NULLS;
    info.type_name = Lower(Attribute(index, SQL_DESC_TYPE_NAME));
    if (auto at = info.type_name.find(" identity"); at != std::string::npos) {
      info.type_name.resize(at);
      info.identity = true;
    }
    SQLLEN auto_unique = SQL_FALSE;
    calls_.col_attribute(calls_.statement, index, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr,
                         &auto_unique);
    info.identity = info.identity || auto_unique == SQL_TRUE;
    if ((*kind == ColumnReader::Kind::kText || *kind == ColumnReader::Kind::kBinary) &&
        size < 0x7FFFFFFF && info.type_name != "text" && info.type_name != "ntext" &&
        info.type_name != "image")
      info.size = static_cast<int>(size);
    if (type == SQL_DECIMAL || type == SQL_NUMERIC) info.scale = digits;
    info.base_table = Attribute(index, SQL_DESC_BASE_TABLE_NAME);
    if (!info.base_table.empty()) info.base_column = Attribute(index, SQL_DESC_BASE_COLUMN_NAME);
    return info;
  }

  std::string Attribute(SQLUSMALLINT index, SQLUSMALLINT field) {
    SQLWCHAR text[512] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(calls_.col_attribute(calls_.statement, index, field, text, sizeof text,
                                            &length, nullptr)))
      return {};
    return Narrow(text, std::min<std::size_t>(length / sizeof(SQLWCHAR), std::size(text) - 1));
  }

  void ReadRowSet(SQLSMALLINT count) {
    std::vector<ColumnInfo> columns;
    std::vector<ColumnReader::Kind> kinds(count);
    for (SQLSMALLINT i = 0; i < count; ++i)
      columns.push_back(Describe(static_cast<SQLUSMALLINT>(i + 1), &kinds[i]));
    ResultEvent begin;
    begin.kind = ResultEvent::Kind::kBeginRowSet;
    begin.columns = columns;
    events_.push_back(std::move(begin));
    for (;;) {
      SQLRETURN rc = calls_.fetch(calls_.statement);
      if (rc == SQL_NO_DATA) break;
      Absorb(rc);
      if (rc == SQL_ERROR) break;
      std::vector<Value> row;
      row.reserve(count);
      for (SQLSMALLINT i = 0; i < count; ++i)
        row.push_back(Read(static_cast<SQLUSMALLINT>(i + 1), kinds[i]));
      ResultEvent event;
      event.kind = ResultEvent::Kind::kRow;
      event.row = std::move(row);
      events_.push_back(std::move(event));
    }
    ResultEvent end;
    end.kind = ResultEvent::Kind::kEndRowSet;
    events_.push_back(std::move(end));
    Done(RowCount());
  }

  // Long values arrive in pieces: SQLGetData hands out what fits and says there is more.
  template <typename Unit>
  std::optional<std::basic_string<Unit>> ReadLong(SQLUSMALLINT index, SQLSMALLINT c_type) {
    std::basic_string<Unit> value;
    const bool terminated = c_type != SQL_C_BINARY;
    std::vector<Unit> buffer(16384);
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc = calls_.get_data(calls_.statement, index, c_type, buffer.data(),
                                     static_cast<SQLLEN>(buffer.size() * sizeof(Unit)), &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) {
        Absorb(rc);
        return std::nullopt;
      }
      if (indicator == SQL_NULL_DATA) return std::nullopt;
      std::size_t usable = buffer.size() - (terminated ? 1 : 0);
      std::size_t got = indicator == SQL_NO_TOTAL || indicator < 0
                            ? usable
                            : std::min<std::size_t>(indicator / sizeof(Unit), usable);
      value.append(buffer.data(), got);
      if (rc == SQL_SUCCESS) break;
    }
    return value;
  }

  template <typename T>
  std::optional<T> ReadFixed(SQLUSMALLINT index, SQLSMALLINT c_type) {
    T value{};
    SQLLEN indicator = 0;
    SQLRETURN rc =
        calls_.get_data(calls_.statement, index, c_type, &value, sizeof value, &indicator);
    if (!SQL_SUCCEEDED(rc)) {
      Absorb(rc);
      return std::nullopt;
    }
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    return value;
  }

  Value Read(SQLUSMALLINT index, ColumnReader::Kind kind) {
    using Kind = ColumnReader::Kind;
    switch (kind) {
      case Kind::kWholeDecimal: {
        // decimal(38, 0) (@@IDENTITY) goes beyond 64 bits: read as text, an integer where it
        // fits.
        auto v = ReadLong<SQLWCHAR>(index, SQL_C_WCHAR);
        if (!v) return Value();
        std::string text = Narrow(*v);
        long long whole = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
        if (ec == std::errc() && end == text.data() + text.size()) return Value(whole);
        return Value(std::strtod(text.c_str(), nullptr));
      }
      case Kind::kInt:
        if (auto v = ReadFixed<SQLBIGINT>(index, SQL_C_SBIGINT))
          return Value(static_cast<long long>(*v));
        return Value();
      case Kind::kBool:
        if (auto v = ReadFixed<unsigned char>(index, SQL_C_BIT)) return Value(*v != 0);
        return Value();
      case Kind::kDouble:
        if (auto v = ReadFixed<double>(index, SQL_C_DOUBLE)) return Value(*v);
        return Value();
      case Kind::kDateTime:
        if (auto v = ReadFixed<SQL_TIMESTAMP_STRUCT>(index, SQL_C_TYPE_TIMESTAMP)) {
          common::DateTime t;
          t.year = v->year;
          t.month = v->month;
          t.day = v->day;
          t.hour = v->hour;
          t.minute = v->minute;
          t.second = v->second;
          t.millisecond = static_cast<int>((v->fraction + 500000) / 1000000);
          if (t.millisecond > 999) t.millisecond = 999;
          return Value(t);
        }
        return Value();
      case Kind::kBinary:
        if (auto v = ReadLong<unsigned char>(index, SQL_C_BINARY))
          return Value(common::Bytes(v->begin(), v->end()));
        return Value();
      case Kind::kGuid:
      case Kind::kText: {
        auto v = ReadLong<SQLWCHAR>(index, SQL_C_WCHAR);
        if (!v) return Value();
        std::string text = Narrow(*v);
        if (kind == Kind::kGuid) {
          if (auto guid = common::Guid::Parse(text)) return Value(*guid);
        }
        return Value(std::move(text));
      }
    }
    return Value();
  }

  SQLHDBC connection_;
  StatementCalls calls_;  // the driver manager's, until it withholds the rest of the batch
  StatementCalls own_;    // the driver's own, when it can be found
  bool has_own_ = false;
  bool* broken_ = nullptr;
  std::vector<ResultEvent> events_;
};

class OdbcSession : public DriverSession {
 public:
  OdbcSession(std::shared_ptr<OdbcEnvironment> environment, SQLHDBC connection)
      : environment_(std::move(environment)),
        connection_(connection),
        library_(DriverLibrary::Of(connection)) {}
  ~OdbcSession() override { Close(); }

  std::unique_ptr<ResultStream> Execute(DriverRequest& request) override {
    std::vector<ResultEvent> events = Run(request);
    AddSourceTable(request, events);
    return std::make_unique<BufferedResultStream>(std::move(events));
  }

  std::vector<ResultEvent> Run(DriverRequest& request) {
    if (!connection_ || broken_) throw NetworkError({});
    BoundCall call = BindRequest(request);
    SQLHSTMT statement = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection_, &statement))) {
      std::vector<Diagnostic> diagnostics = Diagnostics(SQL_HANDLE_DBC, connection_);
      broken_ = true;
      throw NetworkError(diagnostics);
    }
    if (request.timeout.count() > 0) {
      SQLULEN seconds = static_cast<SQLULEN>((request.timeout.count() + 999) / 1000);
      SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0);
    }
    {
      std::lock_guard lock(mutex_);
      running_ = statement;
    }
    struct Release {
      OdbcSession* session;
      SQLHSTMT statement;
      ~Release() {
        std::lock_guard lock(session->mutex_);
        session->running_ = SQL_NULL_HSTMT;
        SQLFreeHandle(SQL_HANDLE_STMT, statement);
      }
    } release{this, statement};
    SQLRETURN rc = Bind(statement, call);
    if (SQL_SUCCEEDED(rc)) {
      WideString text = Wide(call.text);
      rc = SQLExecDirectW(statement, text.data(), static_cast<SQLINTEGER>(text.size()));
    }
    RequestRun run(connection_, statement, library_.get());
    std::vector<ResultEvent> events = run.Run(rc, &broken_);
    // The driver fills in outputs and the status once every result has been read.
    for (const Binding& b : call.bindings) {
      if (b.parameter && b.IsOutput()) request.parameters[*b.parameter].value = OutputValue(b);
    }
    return events;
  }

  // Binds every value of the call; the first failure's code (its diagnostics are on the
  // statement).
  static SQLRETURN Bind(SQLHSTMT statement, BoundCall& call) {
    SQLHDESC parameters = SQL_NULL_HDESC;
    for (std::size_t i = 0; i < call.bindings.size(); ++i) {
      Binding& b = call.bindings[i];
      const auto number = static_cast<SQLUSMALLINT>(i + 1);
      SQLRETURN rc =
          SQLBindParameter(statement, number, b.io, b.c_type, b.sql_type, b.column_size, b.digits,
                           b.buffer.data(), static_cast<SQLLEN>(b.buffer.size()), &b.indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (b.name.empty()) continue;
      if (!parameters && !SQL_SUCCEEDED(SQLGetStmtAttr(statement, SQL_ATTR_IMP_PARAM_DESC,
                                                       &parameters, 0, nullptr)))
        return SQL_ERROR;
      WideString name = Wide(b.name);
      name.push_back(0);
      rc = SQLSetDescFieldW(parameters, number, SQL_DESC_NAME, name.data(), SQL_NTS);
      if (!SQL_SUCCEEDED(rc)) return rc;
      SQLSetDescField(parameters, number, SQL_DESC_UNNAMED, reinterpret_cast<SQLPOINTER>(SQL_NAMED),
                      0);
    }
    return SQL_SUCCESS;
  }

  // The one row set of a query over one table learns which of its columns are that table's.
  void AddSourceTable(const DriverRequest& request, std::vector<ResultEvent>& events) {
    if (request.kind != DriverRequest::Kind::kBatch) return;
    ResultEvent* rowset = nullptr;
    for (ResultEvent& event : events) {
      if (event.kind != ResultEvent::Kind::kBeginRowSet) continue;
      if (rowset) return;
      rowset = &event;
    }
    if (!rowset) return;
    for (const ColumnInfo& column : rowset->columns) {
      if (!column.base_table.empty()) return;
    }
    std::optional<std::string> table = SingleSourceTable(request.text);
    if (!table) return;
    const TableFacts* facts = Table(*table);
    if (!facts) return;
    for (ColumnInfo& column : rowset->columns) {
      if (!facts->columns.count(Lower(column.name))) continue;
      column.base_table = *table;
      column.base_column = column.name;
      column.key_column = facts->keys.count(Lower(column.name)) > 0;
    }
  }

  // What the client cursor needs of a table: its columns and its primary key's (lower case).
  struct TableFacts {
    std::set<std::string> columns;
    std::set<std::string> keys;
  };

  // The facts of a table, asked once per database; nullptr when the server does not say. The
  // key comes from sp_pkeys, as ODBC drivers ask for it: an update then finds its row by the
  // key and the changed fields alone.
  const TableFacts* Table(const std::string& table) {
    std::string key = Lower(CurrentDatabase()) + "\n" + Lower(table);
    auto found = tables_.find(key);
    if (found != tables_.end()) return &found->second;
    DriverRequest query;
    query.text =
        "SELECT name FROM syscolumns WHERE id = OBJECT_ID(" + SqlLiteral(Value(table), true) + ")";
    TableFacts facts;
    try {
      for (const ResultEvent& event : Run(query)) {
        if (event.kind == ResultEvent::Kind::kRow && !event.row.empty())
          facts.columns.insert(Lower(event.row[0].ToText()));
      }
    } catch (const Error&) {
      return nullptr;
    }
    if (facts.columns.empty()) return nullptr;
    if (std::optional<TableNameParts> parts = SplitTableName(table)) {
      DriverRequest keys;
      keys.text = "EXEC sp_pkeys @table_name = " + SqlLiteral(Value(parts->name), true);
      if (!parts->owner.empty())
        keys.text += ", @table_owner = " + SqlLiteral(Value(parts->owner), true);
      try {
        // COLUMN_NAME is the fourth column.
        for (const ResultEvent& event : Run(keys)) {
          if (event.kind == ResultEvent::Kind::kRow && event.row.size() >= 4)
            facts.keys.insert(Lower(event.row[3].ToText()));
        }
      } catch (const Error&) {
        // A server without sp_pkeys: updates compare every field instead.
      }
    }
    return &tables_.emplace(key, std::move(facts)).first->second;
  }

  void Cancel() override {
    std::lock_guard lock(mutex_);
    if (running_) SQLCancel(running_);
  }

  // "15.00.2000" from the login acknowledgement, as the driver formats it.
  std::string ServerVersion() const override {
    if (!connection_ || broken_) return {};
    SQLWCHAR version[64] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(connection_, SQL_DBMS_VER, version,
                                   sizeof version - sizeof(SQLWCHAR), &length)))
      return {};
    return Narrow(version,
                  std::min<std::size_t>(length / sizeof(SQLWCHAR), std::size(version) - 1));
  }

  std::string CurrentDatabase() const override {
    if (!connection_ || broken_) return {};
    SQLWCHAR name[256] = {};
    SQLINTEGER length = 0;
    if (!SQL_SUCCEEDED(SQLGetConnectAttrW(connection_, SQL_ATTR_CURRENT_CATALOG, name,
                                          sizeof name - sizeof(SQLWCHAR), &length)))
      return {};
    return Narrow(name, std::min<std::size_t>(length / sizeof(SQLWCHAR), std::size(name) - 1));
  }

  void Close() override {
    if (!connection_) return;
    // A server ends a session when it notices the connection is gone, which can be after this
    // program's next statement on another connection (DROP DATABASE of the database this one
    // used fails with "in use"); leaving the database first ends its use of it now.
    if (!broken_) {
      std::string database = Lower(CurrentDatabase());
      if (!database.empty() && database != "master" && database != "tempdb") {
        DriverRequest leave;
        leave.text = "USE master";
        leave.timeout = std::chrono::seconds(5);
        try {
          Run(leave);
        } catch (const Error&) {
          // Closing goes on; the server ends the session soon anyway.
        }
      }
    }
    SQLDisconnect(connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, connection_);
    connection_ = SQL_NULL_HDBC;
    library_.reset();
  }

 private:
  std::shared_ptr<OdbcEnvironment> environment_;
  SQLHDBC connection_;
  std::unique_ptr<DriverLibrary> library_;  // its own functions, for what unixODBC withholds
  bool broken_ = false;
  std::mutex mutex_;
  SQLHSTMT running_ = SQL_NULL_HSTMT;
  std::map<std::string, TableFacts> tables_;
};

}  // namespace

OdbcDriver::OdbcDriver(OdbcOptions options) : options_(std::move(options)) {
  environment_ = std::make_shared<OdbcEnvironment>();
}

OdbcDriver::~OdbcDriver() = default;

bool OdbcDriver::Accepts(std::string_view data_source) const {
  while (!data_source.empty() && std::isspace(static_cast<unsigned char>(data_source.front())))
    data_source.remove_prefix(1);
  constexpr std::string_view kSandbox = "(sandbox)";
  if (data_source.size() >= kSandbox.size() &&
      Lower(std::string(data_source.substr(0, kSandbox.size()))) == kSandbox)
    return false;
  return ParseDataSource(data_source).has_value();
}

std::unique_ptr<DriverSession> OdbcDriver::Connect(const ConnectRequest& request) {
  std::optional<DataSourceAddress> address = ParseDataSource(request.data_source);
  if (!address) throw NoServerError({}, "\"" + request.data_source + "\" names no server");
  if (!address->instance.empty() && address->port == 0) {
    // Clients wait about a second for the Browser's answer.
    std::optional<int> port = BrowserInstancePort(address->host, address->instance,
                                                  options_.browser_port, std::chrono::seconds(1));
    if (!port) {
      throw NoServerError({}, "the SQL Server Browser on " + address->host + " (UDP port " +
                                  std::to_string(options_.browser_port) +
                                  ") did not name a TCP port for the instance " +
                                  address->instance);
    }
    address->port = *port;
  }
  std::string driver = request.properties.Get("Driver").value_or(options_.driver);
  if (driver.empty()) driver = DefaultOdbcDriver();
  if (driver.size() > 1 && driver.front() == '{' && driver.back() == '}')
    driver = driver.substr(1, driver.size() - 2);

  std::shared_ptr<OdbcEnvironment> environment = environment_;
  if (!environment->handle) {
    throw Error(kErrorProviderNotFound, "ADODB.Connection",
                "Provider cannot be found. It may not be properly installed. (the ODBC driver "
                "manager could not start)");
  }
  SQLHDBC connection = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment->handle, &connection)))
    throw NoServerError(Diagnostics(SQL_HANDLE_ENV, environment->handle));
  if (request.connect_timeout_seconds > 0) {
    SQLSetConnectAttr(
        connection, SQL_ATTR_LOGIN_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(request.connect_timeout_seconds)), 0);
  }
  // FreeTDS applies the login time-out to the TCP connect only: a server that takes the
  // connection and never answers would hold the caller for ever. The login runs on a thread of
  // its own, and a caller that waited long enough leaves it behind (it cleans up after itself
  // should the server ever answer).
  struct Login {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    SQLRETURN rc = SQL_ERROR;
    std::vector<Diagnostic> diagnostics;
  };
  auto login = std::make_shared<Login>();
  auto run = [login, connection, environment,
              text = Wide(OdbcConnectionString(request, *address, driver))]() mutable {
    SQLSMALLINT out_length = 0;
    SQLRETURN rc =
        SQLDriverConnectW(connection, nullptr, text.data(), static_cast<SQLSMALLINT>(text.size()),
                          nullptr, 0, &out_length, SQL_DRIVER_NOPROMPT);
    std::fill(text.begin(), text.end(), 0);  // the password is in there
    std::vector<Diagnostic> diagnostics;
    if (!SQL_SUCCEEDED(rc)) diagnostics = Diagnostics(SQL_HANDLE_DBC, connection);
    std::lock_guard lock(login->mutex);
    if (login->abandoned) {
      if (SQL_SUCCEEDED(rc)) SQLDisconnect(connection);
      SQLFreeHandle(SQL_HANDLE_DBC, connection);
      return;
    }
    login->rc = rc;
    login->diagnostics = std::move(diagnostics);
    login->done = true;
    login->finished.notify_all();
  };
  if (request.connect_timeout_seconds <= 0) {
    run();
  } else {
    std::thread(std::move(run)).detach();
    std::unique_lock lock(login->mutex);
    // A little beyond the driver's own time-out, so that its answer wins where it has one.
    auto limit = std::chrono::seconds(request.connect_timeout_seconds) + std::chrono::seconds(1);
    if (!login->finished.wait_for(lock, limit, [&] { return login->done; })) {
      login->abandoned = true;
      throw NoServerError(
          {}, "no answer within " + std::to_string(request.connect_timeout_seconds) + " seconds");
    }
  }
  if (!SQL_SUCCEEDED(login->rc)) {
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    throw ConnectFailure(login->diagnostics, request, driver);
  }
  return std::make_unique<OdbcSession>(std::move(environment), connection);
}

}  // namespace db
