#include "sandbox/backup.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/executor.h"
#include "sandbox/instance.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"
#include "sandbox/security.h"
#include "sandbox/session.h"
#include "sandbox/sqlite.h"
#include "sandbox/types.h"

namespace sandbox {

namespace fs = std::filesystem;
using common::Value;

namespace {

// The bytes of a file are kept in chunks of this size, so neither side holds a whole file.
constexpr std::int64_t kChunkBytes = 1 << 20;
// What RESTORE HEADERONLY reports as the database version of a 2000 and of a 7.0 server.
constexpr int kDatabaseVersion2000 = 539;
constexpr int kDatabaseVersion70 = 515;

// A backup option's or device's value: a string, a number or a @variable.
Value OptionValue(Executor& executor, const tsql::Expr* expr) {
  if (!expr) return Value();
  if (expr->kind == tsql::Expr::Kind::kLiteral) {
    const auto& literal = expr->As<tsql::Literal>();
    if (literal.type == tsql::Literal::Type::kInteger)
      return Value(static_cast<long long>(literal.int_value));
    if (literal.type == tsql::Literal::Type::kNull) return Value();
    return Value(literal.text);
  }
  if (expr->kind == tsql::Expr::Kind::kVariable) {
    const std::string& name = expr->As<tsql::Variable>().name;
    VariableSlot* slot = executor.FindVariable(name);
    if (!slot) throw errors::UndeclaredVariable(name);
    return slot->value;
  }
  throw errors::Unsupported("this backup option value");
}

// BACKUP DATABASE @name takes the name from a variable.
std::string DatabaseName(Executor& executor, const std::string& written) {
  if (written.empty() || written[0] != '@') return written;
  tsql::Variable variable;
  variable.name = written;
  Value v = OptionValue(executor, &variable);
  return v.IsNull() ? std::string() : v.ToText();
}

const tsql::BackupStatement::Option* FindOption(
    const std::vector<tsql::BackupStatement::Option>& options, std::string_view name) {
  for (const auto& option : options)
    if (option.name == name) return &option;
  return nullptr;
}

// STATS prints progress every n per cent (10 when given without a number).
int StatsStep(Executor& executor, const std::vector<tsql::BackupStatement::Option>& options) {
  const auto* stats = FindOption(options, "STATS");
  if (!stats) return 0;
  if (!stats->value) return 10;
  auto n = OptionValue(executor, stats->value.get()).ToInt();
  if (!n || *n < 1 || *n > 100) throw errors::Unsupported("STATS outside 1 to 100");
  return static_cast<int>(*n);
}

class Progress {
 public:
  Progress(Executor& executor, int step, std::int64_t total, const char* verb)
      : executor_(executor), step_(step), total_(std::max<std::int64_t>(total, 1)), verb_(verb) {}
  void Add(std::int64_t bytes) {
    done_ += bytes;
    if (step_ == 0) return;
    int percent = static_cast<int>(std::min<std::int64_t>(100, done_ * 100 / total_));
    while (next_ + step_ <= percent) {
      next_ += step_;
      Inform(executor_, errors::Raise<3211>(std::to_string(next_), verb_));
    }
  }

 private:
  Executor& executor_;
  int step_;
  std::int64_t total_;
  const char* verb_;
  std::int64_t done_ = 0;
  int next_ = 0;
};

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

void SayFinished(Executor& executor, const char* what, std::int64_t pages,
                 std::chrono::steady_clock::time_point start) {
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  seconds = std::max(seconds, 0.001);
  double rate = static_cast<double>(pages) * kPageBytes / 1048576.0 / seconds;
  Inform(executor, errors::Raise<3014>(what, std::to_string(pages), Seconds(seconds), Seconds(rate)));
}

std::int64_t PagesOfBytes(std::int64_t bytes) { return (bytes + kPageBytes - 1) / kPageBytes; }

// --- the backup file -----------------------------------------------------------------------

struct BackupSet {
  int position = 0;
  std::string name, description;
  int type = 1;  // 1 database, 2 log
  std::string user_name, server_name, database_name;
  int database_version = kDatabaseVersion2000;
  std::string database_created;
  std::int64_t backup_size = 0;
  std::int64_t first_lsn = 0, last_lsn = 0, checkpoint_lsn = 0, database_backup_lsn = 0;
  std::string start_date, finish_date;
  int compatibility_level = 80;
  std::string software_version;  // "8.00.2039"
  std::string machine_name;
  std::string collation;
};

// A file of a backup set: its logical name, the path it was backed up from, and the sizes below
// (the base's size_kb, max_size and growth are not used).
struct BackupFile : DatabaseFileInfo {
  std::int64_t size_bytes = 0;  // as declared
  std::int64_t max_bytes = -1;  // -1: unlimited
  std::int64_t pages = 0;       // what the backup processed
};

constexpr const char* kMediaSchema =
    "CREATE TABLE IF NOT EXISTS media (name TEXT, description TEXT, created TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS backup_sets (position INTEGER PRIMARY KEY, name TEXT, "
    "description TEXT, type INTEGER NOT NULL, user_name TEXT, server_name TEXT, database_name "
    "TEXT NOT NULL, database_version INTEGER, database_created TEXT, backup_size INTEGER, "
    "first_lsn INTEGER, last_lsn INTEGER, checkpoint_lsn INTEGER, database_backup_lsn INTEGER, "
    "start_date TEXT, finish_date TEXT, compatibility_level INTEGER, software_version TEXT, "
    "machine_name TEXT, collation TEXT);"
    "CREATE TABLE IF NOT EXISTS backup_files (position INTEGER NOT NULL, fileid INTEGER NOT NULL, "
    "logical_name TEXT NOT NULL, physical_name TEXT NOT NULL, is_log INTEGER NOT NULL, size_bytes "
    "INTEGER, max_bytes INTEGER, pages INTEGER, PRIMARY KEY (position, fileid));"
    "CREATE TABLE IF NOT EXISTS backup_chunks (position INTEGER NOT NULL, fileid INTEGER NOT NULL, "
    "chunk INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY (position, fileid, chunk));";

// The device a statement names, as a host path. Only one disk file is supported.
struct Device {
  std::string machine_path;
  fs::path host;
};

Device ResolveDevice(Executor& executor,
                     const std::vector<tsql::BackupStatement::Device>& devices) {
  if (devices.empty()) throw errors::Unsupported("a backup without a device");
  if (devices.size() > 1) throw errors::Unsupported("backups striped over several devices");
  const auto& d = devices[0];
  Value target = OptionValue(executor, d.target.get());
  std::string path = target.IsNull() ? std::string() : target.ToText();
  if (d.type.empty()) throw errors::Raise<3206>(path);
  if (d.type != "DISK") throw errors::Unsupported("backups to tape");
  auto host = executor.session().instance().machine().ToHost(path);
  if (!host) throw errors::Raise<3201>(path);
  return {path, *host};
}

// The backup file, opened for reading (it must be one) or for writing.
class Media {
 public:
  // create: a missing file is made; format: whatever is there is replaced.
  Media(const Device& device, bool create, bool format) : device_(device) {
    std::error_code ec;
    bool exists = fs::exists(device.host, ec);
    if (!exists && !create) throw errors::Raise<3201>(device.machine_path);
    if (create && !fs::is_directory(device.host.parent_path(), ec))
      throw errors::Raise<3201>(device.machine_path);
    if (exists && fs::is_directory(device.host, ec)) throw errors::Raise<3201>(device.machine_path);
    if (exists && format) {
      fs::remove(device.host, ec);
      exists = false;
    }
    try {
      db_ = std::make_unique<Connection>(device.host.string(), create);
      sqlite3_busy_timeout(db_->get(), 30000);
      if (exists) {
        Statement check =
            db_->Prepare("SELECT count(*) FROM sqlite_schema WHERE name = 'backup_sets'");
        if (!check.Step() || check.ColumnInt(0) == 0)
          throw errors::Raise<3241>(device.machine_path);
      } else {
        db_->Exec(kMediaSchema);
        db_->Exec("INSERT INTO media (created) VALUES (datetime('now'))");
      }
    } catch (const SqliteError&) {
      throw errors::Raise<3241>(device.machine_path);
    }
  }

  Connection& db() { return *db_; }
  const Device& device() const { return device_; }

  std::vector<BackupSet> Sets(int only = 0) {
    std::vector<BackupSet> sets;
    Statement q = db_->Prepare(
        "SELECT position, name, description, type, user_name, server_name, database_name, "
        "database_version, database_created, backup_size, first_lsn, last_lsn, checkpoint_lsn, "
        "database_backup_lsn, start_date, finish_date, compatibility_level, software_version, "
        "machine_name, collation FROM backup_sets WHERE ?1 = 0 OR position = ?1 ORDER BY "
        "position");
    q.Bind(1, Value(only));
    while (q.Step()) {
      BackupSet s;
      s.position = static_cast<int>(q.ColumnInt(0));
      s.name = q.ColumnText(1);
      s.description = q.ColumnText(2);
      s.type = static_cast<int>(q.ColumnInt(3));
      s.user_name = q.ColumnText(4);
      s.server_name = q.ColumnText(5);
      s.database_name = q.ColumnText(6);
      s.database_version = static_cast<int>(q.ColumnInt(7));
      s.database_created = q.ColumnText(8);
      s.backup_size = q.ColumnInt(9);
      s.first_lsn = q.ColumnInt(10);
      s.last_lsn = q.ColumnInt(11);
      s.checkpoint_lsn = q.ColumnInt(12);
      s.database_backup_lsn = q.ColumnInt(13);
      s.start_date = q.ColumnText(14);
      s.finish_date = q.ColumnText(15);
      s.compatibility_level = static_cast<int>(q.ColumnInt(16));
      s.software_version = q.ColumnText(17);
      s.machine_name = q.ColumnText(18);
      s.collation = q.ColumnText(19);
      sets.push_back(std::move(s));
    }
    return sets;
  }

  // The set at position (FILE = n), or 4038.
  BackupSet Set(int position) {
    std::vector<BackupSet> sets = Sets(position);
    if (sets.empty() || position < 1)
      throw errors::Raise<4038>(std::to_string(position), device_.machine_path);
    return sets[0];
  }

  std::vector<BackupFile> Files(int position) {
    std::vector<BackupFile> files;
    Statement q = db_->Prepare(
        "SELECT fileid, logical_name, physical_name, is_log, size_bytes, max_bytes, pages FROM "
        "backup_files WHERE position = ? ORDER BY is_log, fileid");
    q.Bind(1, Value(position));
    while (q.Step()) {
      BackupFile f;
      static_cast<DatabaseFileInfo&>(f) = FileIdentity(q, 0);
      f.size_bytes = q.ColumnInt(4);
      f.max_bytes = q.ColumnInt(5);
      f.pages = q.ColumnInt(6);
      files.push_back(std::move(f));
    }
    return files;
  }

  // Writes the stored bytes of one file to path.
  void Extract(int position, int fileid, const fs::path& path, Progress& progress) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw SqliteError(SQLITE_CANTOPEN, "cannot write " + path.string());
    Statement q = db_->Prepare(
        "SELECT data FROM backup_chunks WHERE position = ? AND fileid = ? ORDER BY chunk");
    q.Bind(1, Value(position));
    q.Bind(2, Value(fileid));
    while (q.Step()) {
      const void* data = sqlite3_column_blob(q.get(), 0);
      int size = sqlite3_column_bytes(q.get(), 0);
      out.write(static_cast<const char*>(data), size);
      progress.Add(size);
    }
    out.close();
    if (!out) throw SqliteError(SQLITE_IOERR, "cannot write " + path.string());
  }

  std::int64_t StoredBytes(int position) {
    Statement q =
        db_->Prepare("SELECT coalesce(sum(length(data)), 0) FROM backup_chunks WHERE position = ?");
    q.Bind(1, Value(position));
    q.Step();
    return q.ColumnInt(0);
  }

 private:
  Device device_;
  std::unique_ptr<Connection> db_;
};

// Copies a file's bytes into the backup file, chunk by chunk.
std::int64_t StoreFile(Connection& media, int position, int fileid, const fs::path& path,
                       Progress& progress) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  Statement insert = media.Prepare(
      "INSERT INTO backup_chunks (position, fileid, chunk, data) VALUES (?, ?, ?, ?)");
  std::vector<char> buffer(kChunkBytes);
  std::int64_t total = 0;
  for (int chunk = 0;; ++chunk) {
    in.read(buffer.data(), kChunkBytes);
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    insert.Reset();
    insert.Bind(1, Value(position));
    insert.Bind(2, Value(fileid));
    insert.Bind(3, Value(chunk));
    sqlite3_bind_blob(insert.get(), 4, buffer.data(), static_cast<int>(got), SQLITE_TRANSIENT);
    insert.Step();
    total += got;
    progress.Add(got);
  }
  return total;
}

// A consistent copy of a database file while other sessions (of any process) write to it: the
// online backup copies every page inside one read transaction, which sees the last commit.
void CopyDatabaseFile(const fs::path& from, const fs::path& to) {
  Connection source(from.string(), false);
  sqlite3_busy_timeout(source.get(), 30000);
  Connection target(to.string(), true);
  sqlite3_backup* backup = sqlite3_backup_init(target.get(), "main", source.get(), "main");
  if (!backup) target.Fail(sqlite3_errcode(target.get()));
  int rc = sqlite3_backup_step(backup, -1);
  int finish = sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) source.Fail(rc);
  if (finish != SQLITE_OK) target.Fail(finish);
}

// Removes a file when the scope ends, for copies made on the way.
struct RemoveOnExit {
  fs::path path;
  ~RemoveOnExit() {
    std::error_code ec;
    if (path.empty()) return;
    fs::remove(path, ec);
    fs::remove(path.string() + "-wal", ec);
    fs::remove(path.string() + "-shm", ec);
    fs::remove(path.string() + "-journal", ec);
  }
};

std::string Now() { return DateTimeToStorage(common::DateTime::Now()); }

int DatabaseVersion(InstanceImpl& instance) {
  return instance.config().product_version.rfind("7.", 0) == 0 ? kDatabaseVersion70
                                                               : kDatabaseVersion2000;
}

// Log sequence numbers only need to grow from one backup to the next: microseconds will do.
std::int64_t NextLsn() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The last database backup of each database is noted in msdb, as the server keeps its backup
// history there: BACKUP LOG needs one (4214), and a log backup names it. A database is known by
// its name and creation date, so one made again under the same name starts without a backup.
// Nothing is written to the database itself, so its writers never wait for a backup.
// A note that cannot be written only makes a later BACKUP LOG refuse.
std::unique_ptr<Connection> OpenHistory(InstanceImpl& instance) {
  auto msdb = instance.FindDatabase("msdb");
  if (!msdb) return nullptr;
  auto db = std::make_unique<Connection>(msdb->data_host.string(), false);
  sqlite3_busy_timeout(db->get(), 30000);
  db->Exec(
      "CREATE TABLE IF NOT EXISTS main.\"sandbox$backup_history\" (database_name TEXT NOT "
      "NULL, crdate TEXT NOT NULL, lsn INTEGER NOT NULL, PRIMARY KEY (database_name, crdate))");
  return db;
}

void MarkDatabaseBackup(InstanceImpl& instance, const std::string& name, std::int64_t lsn) {
  try {
    auto record = instance.FindDatabase(name);
    auto db = OpenHistory(instance);
    if (!record || !db) return;
    Statement note =
        db->Prepare("INSERT OR REPLACE INTO main.\"sandbox$backup_history\" VALUES (?, ?, ?)");
    note.BindAll({Value(record->name), Value(record->crdate), Value(lsn)});
    note.Step();
  } catch (const SqliteError&) {
  }
}

std::optional<std::int64_t> LastDatabaseBackup(InstanceImpl& instance,
                                               const DatabaseRecord& record) {
  try {
    auto db = OpenHistory(instance);
    if (!db) return std::nullopt;
    Statement read = db->Prepare(
        "SELECT lsn FROM main.\"sandbox$backup_history\" WHERE database_name = ? AND crdate = ?");
    read.BindAll({Value(record.name), Value(record.crdate)});
    if (read.Step()) return read.ColumnInt(0);
  } catch (const SqliteError&) {
  }
  return std::nullopt;
}

// Throws the error itself, then 3013 naming the statement, as the server ends a failed backup
// or restore.
template <class Work>
void Terminating(Executor& executor, const std::string& statement, Work&& work) {
  try {
    work();
  } catch (SqlError& error) {
    if (error.message().severity <= 10 || error.number() == 3013) throw;
    executor.Info(error.number(), error.message().text, error.message().severity);
    throw errors::Raise<3013>(statement);
  } catch (const SqliteError& error) {
    executor.Info(3201, error.what(), 16);
    throw errors::Raise<3013>(statement);
  }
}

void BackupToDevice(Executor& executor, const tsql::BackupStatement& s, const char* what) {
  auto start = std::chrono::steady_clock::now();
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  std::string name = DatabaseName(executor, s.database);
  auto record = instance.FindDatabase(name);
  if (!record) throw errors::Raise<911>(name);
  if (EqualsNoCase(record->name, "tempdb")) throw errors::Raise<3147>();
  if (session.trancount() > 0) throw errors::Raise<3021>();
  if (!IsDatabaseOwner(session, *record)) throw errors::Raise<262>(what, record->name);
  if (s.log && (record->status & dbstatus::kTruncLog)) throw errors::Raise<4208>();
  std::optional<std::int64_t> full_backup;
  if (s.log) {
    full_backup = LastDatabaseBackup(instance, *record);
    if (!full_backup) throw errors::Raise<4214>();
  }
  for (const auto& option : s.options) {
    static const char* const kKnown[] = {
        "INIT",     "NOINIT",    "FORMAT",           "NOFORMAT", "NAME",   "DESCRIPTION",
        "STATS",    "SKIP",      "NOSKIP",           "NOUNLOAD", "UNLOAD", "REWIND",
        "NOREWIND", "MEDIANAME", "MEDIADESCRIPTION", "RESTART"};
    if (std::none_of(std::begin(kKnown), std::end(kKnown),
                     [&](const char* k) { return option.name == k; }))
      throw errors::Unsupported("BACKUP option " + option.name);
  }
  bool format = FindOption(s.options, "FORMAT") != nullptr;
  bool init = format || FindOption(s.options, "INIT") != nullptr;
  auto text_option = [&](const char* option) {
    const auto* o = FindOption(s.options, option);
    if (!o) return std::string();
    Value v = OptionValue(executor, o->value.get());
    return v.IsNull() ? std::string() : v.ToText();
  };
  std::string set_name = text_option("NAME");
  std::string set_description = text_option("DESCRIPTION");
  int stats = StatsStep(executor, s.options);
  Device device = ResolveDevice(executor, s.devices);

  std::vector<DatabaseFileState> files = ReadDatabaseFiles(instance, *record);
  // The device is checked (3201, 3241) before anything is copied; then the data file is
  // copied first, so the copy is what the database was when BACKUP began.
  Media media(device, true, format);
  RemoveOnExit copy{device.host.string() + ".copy" + std::to_string(session.spid())};
  std::vector<std::pair<DatabaseFileState, fs::path>> sources;
  for (const DatabaseFileState& f : files) {
    if (f.log != s.log) continue;
    auto host = instance.machine().ToHost(f.filename);
    if (!host) continue;
    if (f.fileid == 1) {
      CopyDatabaseFile(*host, copy.path);
      sources.emplace_back(f, copy.path);
    } else {
      sources.emplace_back(f, *host);
    }
  }
  if (!s.log) {
    // A database backup carries the log as well, so a restore has every file.
    for (const DatabaseFileState& f : files)
      if (f.log)
        if (auto host = instance.machine().ToHost(f.filename)) sources.emplace_back(f, *host);
  }
  std::int64_t total = 0;
  std::error_code ec;
  for (const auto& [f, path] : sources) {
    auto size = fs::file_size(path, ec);
    if (!ec) total += static_cast<std::int64_t>(size);
  }

  Connection& db = media.db();
  db.Exec("BEGIN IMMEDIATE");
  try {
    if (init) {
      db.Exec("DELETE FROM backup_chunks; DELETE FROM backup_files; DELETE FROM backup_sets;");
    }
    if (format) {
      Statement label = db.Prepare("UPDATE media SET name = ?, description = ?");
      label.Bind(1, Value(text_option("MEDIANAME")));
      label.Bind(2, Value(text_option("MEDIADESCRIPTION")));
      label.Step();
    }
    int position = 1;
    {
      Statement last = db.Prepare("SELECT coalesce(max(position), 0) + 1 FROM backup_sets");
      last.Step();
      position = static_cast<int>(last.ColumnInt(0));
    }
    Progress progress(executor, stats, total, "backed up");
    std::int64_t pages_total = 0;
    std::int64_t bytes = 0;
    LogFileState log_state = instance.LogState(record->dbid);
    for (const auto& [f, path] : sources) {
      std::int64_t stored = StoreFile(db, position, f.fileid, path, progress);
      bytes += stored;
      // The log's pages are those of its active part, the data file's all of them.
      std::int64_t pages =
          f.log ? std::max<std::int64_t>(log_state.used_pages, 1) : PagesOfBytes(stored);
      pages_total += pages;
      Statement file = db.Prepare(
          "INSERT INTO backup_files (position, fileid, logical_name, physical_name, is_log, "
          "size_bytes, max_bytes, pages) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
      file.BindAll({Value(position), Value(f.fileid), Value(f.name), Value(f.filename),
                    Value(f.log ? 1 : 0),
                    Value(static_cast<long long>(std::max(f.size_pages * kPageBytes, stored))),
                    Value(static_cast<long long>(f.max_pages < 0 ? -1 : f.max_pages * kPageBytes)),
                    Value(static_cast<long long>(pages))});
      file.Step();
      Inform(executor, errors::Raise<4035>(std::to_string(pages), record->name, f.name,
                                        std::to_string(position)));
    }
    std::int64_t lsn = NextLsn();
    std::string collation;
    if (auto copy_info = instance.FilesCopy(record->dbid)) collation = copy_info->collation;
    if (collation.empty()) collation = instance.config().collation;
    InstanceConfig config = instance.config();
    Statement set = db.Prepare(
        "INSERT INTO backup_sets (position, name, description, type, user_name, server_name, "
        "database_name, database_version, database_created, backup_size, first_lsn, last_lsn, "
        "checkpoint_lsn, database_backup_lsn, start_date, finish_date, compatibility_level, "
        "software_version, machine_name, collation) VALUES "
        "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    std::string started =
        DateTimeToStorage(common::DateTime::Now());  // close enough to the start for a client
    set.BindAll({Value(position),
                 set_name.empty() ? Value() : Value(set_name),
                 set_description.empty() ? Value() : Value(set_description),
                 Value(s.log ? 2 : 1),
                 Value(session.login().name),
                 Value(instance.ServerName()),
                 Value(record->name),
                 Value(DatabaseVersion(instance)),
                 Value(record->crdate),
                 Value(static_cast<long long>(bytes + kPageBytes)),
                 Value(lsn),
                 Value(lsn + 1),
                 Value(lsn),
                 Value(s.log ? *full_backup : lsn),
                 Value(started),
                 Value(Now()),
                 Value(record->compatibility_level),
                 Value(config.product_version),
                 Value(instance.ServerName()),
                 Value(collation)});
    set.Step();
    db.Exec("COMMIT");
    if (s.log) instance.TruncateLog(record->dbid);
    if (!s.log) MarkDatabaseBackup(instance, record->name, lsn);
    SayFinished(executor, what, pages_total, start);
  } catch (...) {
    try {
      db.Exec("ROLLBACK");
    } catch (const SqliteError&) {
    }
    throw;
  }
}

// --- RESTORE -------------------------------------------------------------------------------

int FileNumber(Executor& executor, const tsql::RestoreStatement& s) {
  const auto* file = FindOption(s.options, "FILE");
  if (!file) return 1;
  auto n = OptionValue(executor, file->value.get()).ToInt();
  if (!n || *n < 1 || *n > 2147483647) throw errors::Raise<4038>("0", "");
  return static_cast<int>(*n);
}

SqlType Numeric(int precision) { return {TypeKind::kNumeric, 0, precision, 0}; }

void HeaderOnly(Executor& executor, const tsql::RestoreStatement& s) {
  Device device = ResolveDevice(executor, s.devices);
  Media media(device, false, false);
  int only = FindOption(s.options, "FILE") ? FileNumber(executor, s) : 0;
  if (only) media.Set(only);
  std::vector<OutputColumn> columns = {
      Col("BackupName", SqlType::NVarChar(128)),
      Col("BackupDescription", SqlType::NVarChar(255)),
      Col("BackupType", {TypeKind::kSmallInt}),
      Col("ExpirationDate", SqlType::DateTimeType()),
      Col("Compressed", {TypeKind::kTinyInt}),
      Col("Position", {TypeKind::kSmallInt}),
      Col("DeviceType", {TypeKind::kTinyInt}),
      Col("UserName", SqlType::NVarChar(128)),
      Col("ServerName", SqlType::NVarChar(128)),
      Col("DatabaseName", SqlType::NVarChar(128)),
      Col("DatabaseVersion", SqlType::Int()),
      Col("DatabaseCreationDate", SqlType::DateTimeType()),
      Col("BackupSize", Numeric(20)),
      Col("FirstLsn", Numeric(25)),
      Col("LastLsn", Numeric(25)),
      Col("CheckpointLsn", Numeric(25)),
      Col("DatabaseBackupLsn", Numeric(25)),
      Col("BackupStartDate", SqlType::DateTimeType()),
      Col("BackupFinishDate", SqlType::DateTimeType()),
      Col("SortOrder", {TypeKind::kSmallInt}),
      Col("CodePage", {TypeKind::kSmallInt}),
      Col("UnicodeLocaleId", SqlType::Int()),
      Col("UnicodeComparisonStyle", SqlType::Int()),
      Col("CompatibilityLevel", {TypeKind::kTinyInt}),
      Col("SoftwareVendorId", SqlType::Int()),
      Col("SoftwareVersionMajor", SqlType::Int()),
      Col("SoftwareVersionMinor", SqlType::Int()),
      Col("SoftwareVersionBuild", SqlType::Int()),
      Col("MachineName", SqlType::NVarChar(128)),
      Col("Flags", SqlType::Int()),
      Col("BindingID", {TypeKind::kUniqueIdentifier}),
      Col("RecoveryForkID", {TypeKind::kUniqueIdentifier}),
      Col("Collation", SqlType::NVarChar(128)),
  };
  // 7.0 reports no flags, binding, fork or collation.
  bool version7 = DatabaseVersion(executor.session().instance()) == kDatabaseVersion70;
  if (version7) columns.resize(columns.size() - 4);
  std::vector<std::vector<Value>> rows;
  for (const BackupSet& b : media.Sets(only)) {
    int major = 0, minor = 0, build = 0;
    std::sscanf(b.software_version.c_str(), "%d.%d.%d", &major, &minor, &build);
    auto text_or_null = [](const std::string& t) { return t.empty() ? Value() : Value(t); };
    rows.push_back({text_or_null(b.name),
                    text_or_null(b.description),
                    Value(b.type),
                    Value(),
                    Value(0),
                    Value(b.position),
                    Value(2),  // 2: disk
                    Value(b.user_name),
                    Value(b.server_name),
                    Value(b.database_name),
                    Value(b.database_version),
                    Value(b.database_created),
                    Value(static_cast<long long>(b.backup_size)),
                    Value(static_cast<long long>(b.first_lsn)),
                    Value(static_cast<long long>(b.last_lsn)),
                    Value(static_cast<long long>(b.checkpoint_lsn)),
                    Value(static_cast<long long>(b.database_backup_lsn)),
                    Value(b.start_date),
                    Value(b.finish_date),
                    Value(52),
                    Value(1252),
                    Value(1033),
                    Value(196609),
                    Value(b.compatibility_level),
                    Value(4608),
                    Value(major),
                    Value(minor),
                    Value(build),
                    Value(b.machine_name),
                    Value(0),
                    Value(),
                    Value(),
                    Value(b.collation)});
    if (version7) rows.back().resize(columns.size());
  }
  executor.SendRows(columns, rows);
}

void FileListOnly(Executor& executor, const tsql::RestoreStatement& s) {
  Device device = ResolveDevice(executor, s.devices);
  Media media(device, false, false);
  int position = FileNumber(executor, s);
  media.Set(position);
  std::vector<OutputColumn> columns = {
      Col("LogicalName", SqlType::NVarChar(128)),
      Col("PhysicalName", SqlType::NVarChar(260)),
      Col("Type", {TypeKind::kChar, 1}),
      Col("FileGroupName", SqlType::NVarChar(128)),
      Col("Size", Numeric(20)),
      Col("MaxSize", Numeric(20)),
  };
  std::vector<std::vector<Value>> rows;
  for (const BackupFile& f : media.Files(position)) {
    // An unlimited file reports the largest size a file can have.
    constexpr long long kUnlimited = 35184372080640LL;
    rows.push_back({Value(f.name), Value(f.filename), Value(f.log ? "L" : "D"),
                    f.log ? Value() : Value("PRIMARY"), Value(static_cast<long long>(f.size_bytes)),
                    Value(f.max_bytes < 0 ? kUnlimited : static_cast<long long>(f.max_bytes))});
  }
  executor.SendRows(columns, rows);
}

void RestoreDatabase(Executor& executor, const tsql::RestoreStatement& s) {
  auto start = std::chrono::steady_clock::now();
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  const Machine& machine = instance.machine();
  for (const auto& option : s.options) {
    static const char* const kKnown[] = {
        "REPLACE", "FILE",   "STATS",    "RECOVERY", "NOUNLOAD",
        "UNLOAD",  "REWIND", "NOREWIND", "RESTART",  "KEEP_REPLICATION"};
    if (option.name == "NORECOVERY" || option.name == "STANDBY")
      throw errors::Unsupported("RESTORE WITH " + option.name);
    if (std::none_of(std::begin(kKnown), std::end(kKnown),
                     [&](const char* k) { return option.name == k; }))
      throw errors::Unsupported("RESTORE option " + option.name);
  }
  std::string name = DatabaseName(executor, s.database);
  if (session.trancount() > 0) throw errors::Raise<3021>();
  if (EqualsNoCase(name, "tempdb")) throw errors::Raise<3147>();
  if (EqualsNoCase(name, "master")) throw errors::Raise<3108>();
  if (EqualsNoCase(name, "model") || EqualsNoCase(name, "msdb"))
    throw errors::Unsupported("RESTORE of a system database");
  bool replace = FindOption(s.options, "REPLACE") != nullptr;
  int stats = StatsStep(executor, s.options);
  int position = FileNumber(executor, s);
  Device device = ResolveDevice(executor, s.devices);
  Media media(device, false, false);
  BackupSet set = media.Set(position);
  if (set.type != 1) throw errors::Raise<3135>(device.machine_path, "BACKUP LOG");

  auto existing = instance.FindDatabase(name);
  bool creator = HasServerRole(session, kSysadmin | kDbcreator);
  if (existing ? !(creator || IsDatabaseOwner(session, *existing)) : !creator)
    throw errors::Raise<3110>(name);
  if (existing && !replace && !EqualsNoCase(existing->name, set.database_name))
    throw errors::Raise<3154>(existing->name);
  if (existing && (existing->dbid == session.current_dbid() ||
                   instance.DatabaseInUse(existing->dbid, session.spid())))
    throw errors::Raise<3101>();

  std::vector<BackupFile> files = media.Files(position);
  // Where each file goes: where it was, or where MOVE puts it.
  std::map<std::string, std::string> moves;
  for (const auto& move : s.moves) {
    std::string logical = OptionValue(executor, move.logical.get()).ToText();
    std::string physical = OptionValue(executor, move.physical.get()).ToText();
    bool known = std::any_of(files.begin(), files.end(), [&](const BackupFile& f) {
      return EqualsNoCase(f.name, logical);
    });
    if (!known) throw errors::Raise<3234>(logical, set.database_name);
    moves[Lower(logical)] = physical;
  }
  struct Target {
    BackupFile file;
    std::string path;
    fs::path host;
  };
  std::vector<Target> targets;
  std::vector<DatabaseRecord> databases = instance.Databases();
  std::error_code ec;
  bool refused = false;
  for (const BackupFile& f : files) {
    auto moved = moves.find(Lower(f.name));
    std::string path = moved != moves.end() ? moved->second : f.filename;
    auto host = machine.ToHost(path);
    // Every file that cannot go where it should is named before the restore gives up.
    bool file_refused = false;
    auto cannot = [&](const SqlError& message) {
      Inform(executor, message);
      Inform(executor, errors::Raise<3156>(f.name, path));
      refused = file_refused = true;
    };
    targets.push_back({f, path, host.value_or(fs::path())});
    if (!host || !fs::is_directory(host->parent_path(), ec)) {
      cannot(errors::Raise<5105>(path));
      continue;
    }
    bool twice = std::any_of(targets.begin(), targets.end() - 1,
                             [&](const Target& t) { return Machine::SamePath(t.path, path); });
    if (twice) {
      cannot(errors::Raise<5170>(path));
      continue;
    }
    bool ours = false;
    for (const DatabaseRecord& other : databases) {
      if (!Machine::SamePath(other.data_path, path) && !Machine::SamePath(other.log_path, path))
        continue;
      if (existing && other.dbid == existing->dbid) {
        ours = true;
      } else {
        cannot(errors::Raise<1834>(path, other.name));
      }
    }
    // A file nobody uses is only overwritten when asked to.
    if (!ours && !file_refused && !replace && fs::exists(*host, ec))
      cannot(errors::Raise<5170>(path));
  }
  if (refused) throw errors::Raise<3013>("RESTORE DATABASE");
  auto data = std::find_if(targets.begin(), targets.end(),
                           [](const Target& t) { return !t.file.log && t.file.fileid == 1; });
  if (data == targets.end()) throw errors::Raise<3241>(device.machine_path);

  // The files are written beside their places first, so a failure leaves the database there.
  std::vector<std::unique_ptr<RemoveOnExit>> partial;
  std::int64_t total = media.StoredBytes(position);
  Progress progress(executor, stats, total, "restored");
  for (const Target& t : targets) {
    partial.push_back(std::make_unique<RemoveOnExit>(RemoveOnExit{t.host.string() + ".restoring"}));
    media.Extract(position, t.file.fileid, partial.back()->path, progress);
  }
  {
    // The restored catalogue names the files where they are now.
    Connection restored(partial[static_cast<size_t>(data - targets.begin())]->path.string(), false);
    sqlite3_busy_timeout(restored.get(), 30000);
    Statement update =
        restored.Prepare("UPDATE main.\"sandbox$files\" SET filename = ? WHERE fileid = ?");
    for (const Target& t : targets) {
      update.Reset();
      update.Bind(1, Value(t.path));
      update.Bind(2, Value(t.file.fileid));
      update.Step();
    }
  }
  if (existing) {
    session.ForgetDatabase(existing->dbid);
    try {
      instance.DetachDatabase(existing->name, session.spid());
    } catch (const SqlError& error) {
      if (error.number() == 3703) throw errors::Raise<3101>();
      throw;
    }
  }
  for (size_t i = 0; i < targets.size(); ++i) {
    fs::rename(partial[i]->path, targets[i].host, ec);
    if (ec) throw errors::Raise<5105>(targets[i].path);
    partial[i]->path.clear();
  }
  if (existing) {
    // The replaced database's files that the restored one does not use go with it.
    for (const fs::path& old : {existing->data_host, existing->log_host}) {
      bool reused = std::any_of(targets.begin(), targets.end(),
                                [&](const Target& t) { return fs::equivalent(t.host, old, ec); });
      if (!reused && !old.empty()) fs::remove(old, ec);
    }
  }
  instance.AttachDatabase(name, {data->path}, session.login().sid);
  // The log may be backed up from the restored database on.
  MarkDatabaseBackup(instance, name, set.first_lsn);
  std::int64_t pages = 0;
  for (const Target& t : targets) {
    pages += t.file.pages;
    Inform(executor, errors::Raise<4035>(std::to_string(t.file.pages), name, t.file.name,
                                      std::to_string(position)));
  }
  SayFinished(executor, "RESTORE DATABASE", pages, start);
}

}  // namespace

void RunBackupToDevice(Executor& executor, const tsql::BackupStatement& s) {
  const char* what = s.log ? "BACKUP LOG" : "BACKUP DATABASE";
  Terminating(executor, what, [&] { BackupToDevice(executor, s, what); });
  executor.sink().Done(-1);
}

void RunRestore(Executor& executor, const tsql::RestoreStatement& s) {
  using What = tsql::RestoreStatement::What;
  switch (s.what) {
    case What::kLog:
      throw errors::Unsupported("RESTORE LOG");
    case What::kHeaderOnly:
      return Terminating(executor, "RESTORE HEADERONLY", [&] { HeaderOnly(executor, s); });
    case What::kFileListOnly:
      return Terminating(executor, "RESTORE FILELIST", [&] { FileListOnly(executor, s); });
    case What::kDatabase:
      Terminating(executor, "RESTORE DATABASE", [&] { RestoreDatabase(executor, s); });
      executor.sink().Done(-1);
      return;
  }
}

}  // namespace sandbox
