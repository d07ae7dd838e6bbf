#include "platform/sqlite_registry_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/error.h"
#include "platform/registry_path.h"

namespace platform {

namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 15000;
constexpr const char* kErrorSource = "platform.RegistryStore";

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS registry_keys (
  id INTEGER PRIMARY KEY,
  root INTEGER NOT NULL,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  UNIQUE (parent, folded)
);
CREATE TABLE IF NOT EXISTS registry_values (
  id INTEGER PRIMARY KEY,
  key_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE (key_id, folded)
);
)";

// A root has no row of its own; keys directly below it name it as parent by its negated handle,
// which no row id can collide with.
std::int64_t RootId(std::uint32_t root) { return -static_cast<std::int64_t>(root); }

// A prepared statement that finalises itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int index, const common::Bytes& bytes) {
    // A null pointer would bind NULL; an empty value is a zero-length blob.
    if (bytes.empty()) {
      sqlite3_bind_zeroblob(stmt_, index, 0);
    } else {
      sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                        SQLITE_TRANSIENT);
    }
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return ok() ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) {
    const auto* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
  }
  common::Bytes Blob(int column) {
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, column));
    int size = sqlite3_column_bytes(stmt_, column);
    return data ? common::Bytes(data, data + size) : common::Bytes();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Creates the missing folders of a path, each with mode 0700: the store holds connection strings.
void CreateFolders(const std::filesystem::path& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
  CreateFolders(folder.parent_path());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw common::Error(kErrorRegistryIoFailed, kErrorSource,
                        "Cannot create the folder '" + folder.string() +
                            "' for the registry store: " + std::strerror(errno));
  }
}

[[noreturn]] void ThrowOpenError(const std::filesystem::path& path, const std::string& reason) {
  throw common::Error(kErrorRegistryIoFailed, kErrorSource,
                      "Cannot open the registry store '" + path.string() + "': " + reason);
}

// Switches the file to WAL and creates the tables when they are missing. Returns SQLITE_OK or
// the failing result code, with the reason in *error.
int Initialize(sqlite3* db, std::string* error) {
  auto fail = [&]() {
    *error = sqlite3_errmsg(db);
    int rc = sqlite3_extended_errcode(db);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? SQLITE_ERROR : rc;
  };
  // WAL lets readers go on while another process writes; NORMAL sync keeps the file consistent
  // after a crash and only risks the last commits on power loss.
  std::string journal_mode;
  {
    Statement mode(db, "PRAGMA journal_mode");
    if (mode.Step() != SQLITE_ROW) return fail();
    journal_mode = mode.Text(0);
  }
  if (journal_mode != "wal" && !Exec(db, "PRAGMA journal_mode=WAL")) return fail();
  if (!Exec(db, "PRAGMA synchronous=NORMAL")) return fail();
  if (!Exec(db, "BEGIN IMMEDIATE")) return fail();
  std::int64_t found;
  {
    Statement version(db, "PRAGMA user_version");
    if (version.Step() != SQLITE_ROW) return fail();
    found = version.Int(0);
  }
  if (found > kSchemaVersion) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    *error = "the file was written by a newer version (format " + std::to_string(found) + ")";
    return SQLITE_ERROR;
  }
  if (found < kSchemaVersion) {
    if (!Exec(db, kSchema) ||
        !Exec(db, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str())) {
      return fail();
    }
  }
  {
    // A file that has our version number must also have our tables.
    Statement check(db, "SELECT count(*) FROM registry_keys, registry_values WHERE 0");
    if (!check.ok() || check.Step() != SQLITE_ROW) return fail();
  }
  if (!Exec(db, "COMMIT")) return fail();
  return SQLITE_OK;
}

}  // namespace

// BEGIN IMMEDIATE for writes takes the write lock at once, so two writers queue on the busy
// time-out instead of failing when a read lock would have to be upgraded. Inside a transaction
// that Transact opened, an operation is a savepoint of it instead: it joins the outer
// transaction, and a failed operation still undoes only its own part.
class SqliteRegistryStore::Transaction {
 public:
  Transaction(sqlite3* db, bool write) : db_(db), nested_(sqlite3_get_autocommit(db) == 0) {
    ok_ =
        Exec(db_, nested_ ? "SAVEPOINT registry_operation" : (write ? "BEGIN IMMEDIATE" : "BEGIN"));
  }
  ~Transaction() {
    if (ok_ && !done_) Undo();
  }
  bool ok() const { return ok_; }
  RegResult Commit() {
    done_ = true;
    if (Exec(db_, nested_ ? "RELEASE registry_operation" : "COMMIT")) return kErrorSuccess;
    Undo();
    return kErrorRegistryIoFailed;
  }

 private:
  void Undo() {
    if (nested_) {
      Exec(db_, "ROLLBACK TO registry_operation");
      Exec(db_, "RELEASE registry_operation");
    } else {
      Exec(db_, "ROLLBACK");
    }
  }

  sqlite3* db_;
  bool nested_;
  bool ok_ = false;
  bool done_ = false;
};

std::unique_ptr<SqliteRegistryStore> SqliteRegistryStore::Open(const std::filesystem::path& path) {
  CreateFolders(path.parent_path());
  // Create the file ourselves so it is private from the first byte; SQLite gives its journal
  // files the same mode.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) ThrowOpenError(path, std::strerror(errno));
  ::close(fd);

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    ThrowOpenError(path, reason);
  }
  std::unique_ptr<SqliteRegistryStore> store(new SqliteRegistryStore(db, path));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  // Two processes switching a new file to WAL at the same moment both hold a read lock and want
  // the write lock; SQLite then fails one of them at once instead of waiting, so we wait here.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  std::string error;
  while (true) {
    int rc = Initialize(db, &error);
    if (rc == SQLITE_OK) break;
    if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) ThrowOpenError(path, error);
    if (std::chrono::steady_clock::now() > deadline) ThrowOpenError(path, error);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return store;
}

SqliteRegistryStore::SqliteRegistryStore(sqlite3* db, std::filesystem::path path)
    : db_(db), path_(std::move(path)) {}

SqliteRegistryStore::~SqliteRegistryStore() { sqlite3_close(db_); }

RegResult SqliteRegistryStore::FindKey(std::uint32_t root, const std::vector<std::string>& parts,
                                       std::int64_t* id) {
  *id = RootId(root);
  for (const auto& part : parts) {
    Statement find(db_, "SELECT id FROM registry_keys WHERE parent = ?1 AND folded = ?2");
    find.Bind(1, *id).Bind(2, FoldName(part));
    int rc = find.Step();
    if (rc == SQLITE_DONE) return kErrorFileNotFound;
    if (rc != SQLITE_ROW) return kErrorRegistryIoFailed;
    *id = find.Int(0);
  }
  return kErrorSuccess;
}

RegResult SqliteRegistryStore::FindOrCreateKey(std::uint32_t root,
                                               const std::vector<std::string>& parts,
                                               std::int64_t* id) {
  *id = RootId(root);
  for (const auto& part : parts) {
    Statement find(db_, "SELECT id FROM registry_keys WHERE parent = ?1 AND folded = ?2");
    find.Bind(1, *id).Bind(2, FoldName(part));
    int rc = find.Step();
    if (rc == SQLITE_ROW) {
      *id = find.Int(0);
      continue;
    }
    if (rc != SQLITE_DONE) return kErrorRegistryIoFailed;
    Statement insert(db_,
                     "INSERT INTO registry_keys (root, parent, name, folded) "
                     "VALUES (?1, ?2, ?3, ?4)");
    insert.Bind(1, static_cast<std::int64_t>(root)).Bind(2, *id).Bind(3, part);
    insert.Bind(4, FoldName(part));
    if (insert.Step() != SQLITE_DONE) return kErrorRegistryIoFailed;
    *id = sqlite3_last_insert_rowid(db_);
  }
  return kErrorSuccess;
}

RegResult SqliteRegistryStore::OpenKey(std::uint32_t root, std::string_view path) {
  std::vector<std::string> parts;
  RegResult result = CheckRoot(root);
  if (result == kErrorSuccess) result = SplitKeyPath(path, &parts);
  if (result != kErrorSuccess) return result;
  Transaction transaction(db_, false);
  if (!transaction.ok()) return kErrorRegistryIoFailed;
  std::int64_t id;
  return FindKey(root, parts, &id);
}

RegResult SqliteRegistryStore::CreateKey(std::uint32_t root, std::string_view path) {
  std::vector<std::string> parts;
  RegResult result = CheckRoot(root);
  if (result == kErrorSuccess) result = SplitKeyPath(path, &parts);
  if (result != kErrorSuccess) return result;
  Transaction transaction(db_, true);
  if (!transaction.ok()) return kErrorRegistryIoFailed;
  std::int64_t id;
  if ((result = FindOrCreateKey(root, parts, &id)) != kErrorSuccess) return result;
  return transaction.Commit();
}

RegResult SqliteRegistryStore::DeleteKey(std::uint32_t root, std::string_view path) {
  std::vector<std::string> parts;
  RegResult result = CheckRoot(root);
  if (result == kErrorSuccess) result = SplitKeyPath(path, &parts);
  if (result != kErrorSuccess) return result;
  Transaction transaction(db_, true);
  if (!transaction.ok()) return kErrorRegistryIoFailed;
  std::int64_t id;
  if ((result = FindKey(root, parts, &id)) != kErrorSuccess) return result;
  if (parts.empty()) return kErrorAccessDenied;
  Statement children(db_, "SELECT 1 FROM registry_keys WHERE parent = ?1 LIMIT 1");
  children.Bind(1, id);
  int rc = children.Step();
  if (rc == SQLITE_ROW) return kErrorAccessDenied;
  if (rc != SQLITE_DONE) return kErrorRegistryIoFailed;
  Statement values(db_, "DELETE FROM registry_values WHERE key_id = ?1");
  Statement key(db_, "DELETE FROM registry_keys WHERE id = ?1");
  if (values.Bind(1, id).Step() != SQLITE_DONE || key.Bind(1, id).Step() != SQLITE_DONE) {
    return kErrorRegistryIoFailed;
  }
  return transaction.Commit();
}

RegResult SqliteRegistryStore::QueryValue(std::uint32_t root, std::string_view path,
                                          std::string_view name, RegistryData* data) {
  std::vector<std::string> parts;
  RegResult result = CheckRoot(root);
  if (result == kErrorSuccess) result = SplitKeyPath(path, &parts);
  if (result == kErrorSuccess) result = CheckValueName(name);
  if (result != kErrorSuccess) return result;
  Transaction transaction(db_, false);
  if (!transaction.ok()) return kErrorRegistryIoFailed;
  std::int64_t id;
  if ((result = FindKey(root, parts, &id)) != kErrorSuccess) return result;
  Statement query(db_, "SELECT type, data FROM registry_values WHERE key_id = ?1 AND folded = ?2");
  query.Bind(1, id).Bind(2, FoldName(name));
  int rc = query.Step();
  if (rc == SQLITE_DONE) return kErrorFileNotFound;
  if (rc != SQLITE_ROW) return kErrorRegistryIoFailed;
  data->type = static_cast<std::uint32_t>(query.Int(0));
  data->bytes = query.Blob(1);
  return kErrorSuccess;
}

RegResult SqliteRegistryStore::SetValue(std::uint32_t root, std::string_view path,
                                        std::string_view name, const RegistryData& data) {
  std::vector<std::string> parts;
  RegResult result = CheckRoot(root);
  if (result == kErrorSuccess) result = SplitKeyPath(path, &parts);
  if (result == kErrorSuccess) result = CheckValueName(name);
  if (result == kErrorSuccess) result = CheckValueData(data);
  if (result != kErrorSuccess) return result;
  Transaction transaction(db_, true);
  if (!transaction.ok()) return kErrorRegistryIoFailed;
  std::int64_t id;
  if ((result = FindOrCreateKey(root, parts, &id)) != kErrorSuccess) return result;
  // An existing value keeps its spelling and its place in the enumeration order.
  Statement upsert(db_,
                   "INSERT INTO registry_values (key_id, name, folded, type, data) "
                   "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (key_id, folded) "
                   "DO UPDATE SET type = excluded.type, data = excluded.data");
  upsert.Bind(1, id).Bind(2, name).Bind(3, FoldName(name));
  upsert.Bind(4, static_cast<std::int64_t>(data.type)).BindBlob(5, data.bytes);
  if (upsert.Step() != SQLITE_DONE) return kErrorRegistryIoFailed;
  return transaction.Commit();
}

RegResult SqliteRegistryStore::DeleteValue(std::uint32_t root, std::string_view path,
                                           std::string_view name) {
  std::vector<std::string> parts;
  RegResult result = CheckRoot(root);
  if (result == kErrorSuccess) result = SplitKeyPath(path, &parts);
  if (result == kErrorSuccess) result = CheckValueName(name);
  if (result != kErrorSuccess) return result;
  Transaction transaction(db_, true);
  if (!transaction.ok()) return kErrorRegistryIoFailed;
  std::int64_t id;
  if ((result = FindKey(root, parts, &id)) != kErrorSuccess) return result;
  Statement remove(db_, "DELETE FROM registry_values WHERE key_id = ?1 AND folded = ?2");
  remove.Bind(1, id).Bind(2, FoldName(name));
  if (remove.Step() != SQLITE_DONE) return kErrorRegistryIoFailed;
  if (sqlite3_changes(db_) == 0) return kErrorFileNotFound;
  return transaction.Commit();
}

RegResult SqliteRegistryStore::ListNames(std::uint32_t root, std::string_view path, const char* sql,
                                         std::vector<std::string>* names) {
  names->clear();
  std::vector<std::string> parts;
  RegResult result = CheckRoot(root);
  if (result == kErrorSuccess) result = SplitKeyPath(path, &parts);
  if (result != kErrorSuccess) return result;
  Transaction transaction(db_, false);
  if (!transaction.ok()) return kErrorRegistryIoFailed;
  std::int64_t id;
  if ((result = FindKey(root, parts, &id)) != kErrorSuccess) return result;
  Statement list(db_, sql);
  list.Bind(1, id);
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) names->push_back(list.Text(0));
  if (rc != SQLITE_DONE) {
    names->clear();
    return kErrorRegistryIoFailed;
  }
  return kErrorSuccess;
}

RegResult SqliteRegistryStore::ListSubkeys(std::uint32_t root, std::string_view path,
                                           std::vector<std::string>* names) {
  return ListNames(root, path, "SELECT name FROM registry_keys WHERE parent = ?1 ORDER BY id",
                   names);
}

RegResult SqliteRegistryStore::ListValues(std::uint32_t root, std::string_view path,
                                          std::vector<std::string>* names) {
  return ListNames(root, path, "SELECT name FROM registry_values WHERE key_id = ?1 ORDER BY id",
                   names);
}

RegResult SqliteRegistryStore::Transact(const std::function<RegResult()>& body) {
  // Written from the start: a read lock taken first could not always become the write lock.
  Transaction transaction(db_, true);
  if (!transaction.ok()) return kErrorRegistryIoFailed;
  RegResult result = body();  // an exception leaves through the transaction's undo
  if (result != kErrorSuccess) return result;
  return transaction.Commit();
}

}  // namespace platform
