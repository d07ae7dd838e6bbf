// Thin RAII layer over SQLite: a connection with a cache of prepared statements, and statements
// that bind and read storage-form values.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/value.h"

namespace sandbox {

// A failure reported by SQLite, with its extended result code.
class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, std::string text) : std::runtime_error(std::move(text)), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  Statement(Statement&& other) noexcept { *this = std::move(other); }
  Statement& operator=(Statement&& other) noexcept;
  ~Statement();

  void Bind(int index, const common::Value& value);  // index 1-based
  void BindAll(const std::vector<common::Value>& values);
  // True while a row is available.
  bool Step();
  void Reset();
  int ColumnCount() const { return sqlite3_column_count(stmt_); }
  common::Value Column(int index) const;
  std::int64_t ColumnInt(int index) const { return sqlite3_column_int64(stmt_, index); }
  std::string ColumnText(int index) const;
  bool ColumnIsNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

class Connection {
 public:
  // Opens (creating when asked) a database file; ":memory:" for an in-memory one.
  explicit Connection(const std::string& path, bool create = true);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* get() const { return db_; }
  void Exec(std::string_view sql);
  // A statement prepared once and kept; the caller resets it after use (ScopedReset).
  sqlite3_stmt* Cached(const std::string& sql);
  Statement Prepare(std::string_view sql);
  void ClearCache();
  std::int64_t Changes() const { return sqlite3_changes64(db_); }
  std::int64_t LastRowId() const { return sqlite3_last_insert_rowid(db_); }
  [[noreturn]] void Fail(int code) const;

 private:
  static constexpr size_t kCacheLimit = 512;
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

// Resets and clears the bindings of a cached statement when the scope ends.
class CachedStatement {
 public:
  CachedStatement(Connection& connection, const std::string& sql);
  ~CachedStatement();
  CachedStatement(const CachedStatement&) = delete;
  CachedStatement& operator=(const CachedStatement&) = delete;

  void Bind(int index, const common::Value& value);
  bool Step();
  common::Value Column(int index) const;
  std::int64_t ColumnInt(int index) const { return sqlite3_column_int64(stmt_, index); }
  std::string ColumnText(int index) const;
  bool ColumnIsNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  Connection& connection_;
  sqlite3_stmt* stmt_;
};

// Reads a column of a statement as a storage-form value.
common::Value ReadColumn(sqlite3_stmt* stmt, int index);
void BindValue(sqlite3* db, sqlite3_stmt* stmt, int index, const common::Value& value);

// "name" with embedded quotes doubled, for SQLite identifiers.
std::string QuoteIdentifier(std::string_view name);
// 'text' with embedded quotes doubled, for SQLite literals.
std::string QuoteLiteral(std::string_view text);

}  // namespace sandbox
