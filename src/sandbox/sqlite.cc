#include "sandbox/sqlite.h"

namespace sandbox {

using common::Value;

void BindValue(sqlite3* db, sqlite3_stmt* stmt, int index, const Value& value) {
  int rc = SQLITE_OK;
  switch (value.type()) {
    case Value::Type::kNull:
      rc = sqlite3_bind_null(stmt, index);
      break;
    case Value::Type::kBool:
      rc = sqlite3_bind_int64(stmt, index, *value.ToBool() ? 1 : 0);
      break;
    case Value::Type::kInt:
      rc = sqlite3_bind_int64(stmt, index, *value.ToInt());
      break;
    case Value::Type::kDouble:
      rc = sqlite3_bind_double(stmt, index, *value.ToDouble());
      break;
    case Value::Type::kText: {
      const std::string& text = *value.AsText();
      rc =
          sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
    case Value::Type::kBinary: {
      const common::Bytes& bytes = *value.AsBytes();
      rc = sqlite3_bind_blob64(stmt, index, bytes.empty() ? "" : (const void*)bytes.data(),
                               bytes.size(), SQLITE_TRANSIENT);
      break;
    }
    case Value::Type::kDateTime:
    case Value::Type::kGuid: {
      std::string text = value.ToText();
      rc =
          sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
  }
  if (rc != SQLITE_OK) throw SqliteError(rc, sqlite3_errmsg(db));
}

Value ReadColumn(sqlite3_stmt* stmt, int index) {
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER:
      return Value(static_cast<long long>(sqlite3_column_int64(stmt, index)));
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(stmt, index));
    case SQLITE_TEXT: {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
      return Value(std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, index))));
    }
    case SQLITE_BLOB: {
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, index));
      int size = sqlite3_column_bytes(stmt, index);
      return Value(common::Bytes(data, data + size));
    }
    default:
      return Value();
  }
}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    if (stmt_) sqlite3_finalize(stmt_);
    db_ = other.db_;
    stmt_ = other.stmt_;
    other.stmt_ = nullptr;
  }
  return *this;
}

Statement::~Statement() {
  if (stmt_) sqlite3_finalize(stmt_);
}

void Statement::Bind(int index, const Value& value) { BindValue(db_, stmt_, index, value); }

void Statement::BindAll(const std::vector<Value>& values) {
  for (size_t i = 0; i < values.size(); ++i) Bind(static_cast<int>(i + 1), values[i]);
}

bool Statement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw SqliteError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_));
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

Value Statement::Column(int index) const { return ReadColumn(stmt_, index); }

std::string Statement::ColumnText(int index) const {
  const unsigned char* text = sqlite3_column_text(stmt_, index);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(stmt_, index)))
              : std::string();
}

Connection::Connection(const std::string& path, bool create) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string text = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw SqliteError(rc, text + ": " + path);
  }
  sqlite3_extended_result_codes(db_, 1);
}

Connection::~Connection() {
  ClearCache();
  if (db_) sqlite3_close_v2(db_);
}

void Connection::ClearCache() {
  // A statement still stepping (a function called from inside it may get here) stays.
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (sqlite3_stmt_busy(it->second)) {
      ++it;
      continue;
    }
    sqlite3_finalize(it->second);
    it = cache_.erase(it);
  }
}

void Connection::Fail(int code) const {
  throw SqliteError(code == SQLITE_OK ? SQLITE_ERROR : sqlite3_extended_errcode(db_),
                    sqlite3_errmsg(db_));
}

void Connection::Exec(std::string_view sql) {
  std::string text(sql);
  char* error = nullptr;
  int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw SqliteError(sqlite3_extended_errcode(db_), message);
  }
}

sqlite3_stmt* Connection::Cached(const std::string& sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) return it->second;
  // Batches with literals make many one-off statements; the cache stays bounded.
  if (cache_.size() >= kCacheLimit) ClearCache();
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
  cache_.emplace(sql, stmt);
  return stmt;
}

Statement Connection::Prepare(std::string_view sql) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
  return Statement(db_, stmt);
}

CachedStatement::CachedStatement(Connection& connection, const std::string& sql)
    : connection_(connection), stmt_(connection.Cached(sql)) {}

CachedStatement::~CachedStatement() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

void CachedStatement::Bind(int index, const Value& value) {
  BindValue(connection_.get(), stmt_, index, value);
}

bool CachedStatement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  connection_.Fail(rc);
}

Value CachedStatement::Column(int index) const { return ReadColumn(stmt_, index); }

std::string CachedStatement::ColumnText(int index) const {
  const unsigned char* text = sqlite3_column_text(stmt_, index);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(stmt_, index)))
              : std::string();
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string QuoteLiteral(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

}  // namespace sandbox
