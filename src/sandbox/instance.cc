#include "sandbox/instance.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/file_modes.h"
#include "sandbox/functions.h"
#include "sandbox/logins.h"
#include "sandbox/messages.h"
#include "sandbox/password.h"
#include "sandbox/security.h"
#include "sandbox/server_info.h"
#include "sandbox/session.h"
#include "sandbox/sql_error.h"
#include "sandbox/versions.h"

namespace sandbox {

namespace fs = std::filesystem;
using common::Value;
namespace ct = catalog_tables;

namespace {

constexpr const char* kConfigFile = "instance.conf";
constexpr const char* kSessionsFile = "sessions.db";

std::string LoginModeText(LoginMode mode) {
  switch (mode) {
    case LoginMode::kWindowsOnly:
      return "windows";
    case LoginMode::kSqlOnly:
      return "sql";
    case LoginMode::kMixed:
      return "mixed";
  }
  return "mixed";
}

LoginMode LoginModeFromText(std::string_view text) {
  if (text == "windows") return LoginMode::kWindowsOnly;
  if (text == "sql") return LoginMode::kSqlOnly;
  return LoginMode::kMixed;
}

bool IsDefaultName(std::string_view name) {
  return name.empty() || EqualsNoCase(name, "MSSQLSERVER");
}

std::string FolderName(std::string_view name) {
  return IsDefaultName(name) ? "MSSQLSERVER" : Upper(name);
}

std::string NowText() { return DateTimeToStorage(common::DateTime::Now()); }

ServerMessage ConnectMessage(std::int32_t number, int severity, std::string text) {
  ServerMessage m;
  m.number = number;
  m.severity = severity;
  m.text = std::move(text);
  return m;
}

}  // namespace

InstanceImpl::InstanceImpl(fs::path directory, std::string name, InstanceConfig config)
    : directory_(std::move(directory)),
      name_(std::move(name)),
      machine_(directory_),
      config_(std::move(config)) {
  config_.sa_password.clear();
  running_ = config_.running;
}

InstanceImpl::~InstanceImpl() {
  {
    std::lock_guard lock(watch_mutex_);
    stopping_ = true;
  }
  watch_wakeup_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

std::optional<InstanceConfig> InstanceImpl::LoadConfig(const fs::path& file, std::uint64_t* stops) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  InstanceConfig config;
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "product_version")
      config.product_version = value;
    else if (key == "product_level")
      config.product_level = value;
    else if (key == "edition")
      config.edition = value;
    else if (key == "platform")
      config.platform = value;
    else if (key == "version_text") {
      // Line breaks of @@VERSION are kept escaped on one line.
      std::string text;
      for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
          char next = value[++i];
          text += next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
          text += value[i];
        }
      }
      config.version_text = text;
    } else if (key == "login_mode")
      config.login_mode = LoginModeFromText(value);
    else if (key == "collation")
      config.collation = value;
    else if (key == "full_text_installed")
      config.full_text_installed = value == "1";
    else if (key == "running")
      config.running = value == "1";
    else if (key == "machine_name")
      config.machine_name = value;
    else if (key == "creator")
      config.creator = value;
    else if (key == "stops" && stops != nullptr)
      *stops = std::strtoull(value.c_str(), nullptr, 10);
  }
  return config;
}

void InstanceImpl::SaveConfig() const {
  std::string escaped;
  for (char c : config_.version_text) {
    if (c == '\n')
      escaped += "\\n";
    else if (c == '\t')
      escaped += "\\t";
    else if (c == '\\')
      escaped += "\\\\";
    else
      escaped += c;
  }
  std::ostringstream out;
  out << "product_version=" << config_.product_version << "\n"
      << "product_level=" << config_.product_level << "\n"
      << "edition=" << config_.edition << "\n"
      << "platform=" << config_.platform << "\n"
      << "version_text=" << escaped << "\n"
      << "login_mode=" << LoginModeText(config_.login_mode) << "\n"
      << "collation=" << config_.collation << "\n"
      << "full_text_installed=" << (config_.full_text_installed ? 1 : 0) << "\n"
      << "running=" << (running_.load() ? 1 : 0) << "\n"
      << "machine_name=" << config_.machine_name << "\n"
      << "creator=" << config_.creator << "\n"
      << "stops=" << stops_ << "\n";
  fs::path file = directory_ / kConfigFile;
  fs::path temp = directory_ / (std::string(kConfigFile) + ".new");
  if (!WritePrivateFile(temp, out.str())) return;
  std::error_code ec;
  fs::rename(temp, file, ec);
}

std::string InstanceImpl::DefaultDataFolder() const {
  std::string folder = IsDefaultName(name_) ? "MSSQL" : "MSSQL$" + Upper(name_);
  return "C:\\Program Files\\Microsoft SQL Server\\" + folder + "\\Data";
}

std::string InstanceImpl::VersionText() const {
  std::lock_guard lock(mutex_);
  return sandbox::VersionText(config_);
}

std::string InstanceImpl::ServerName() const {
  std::lock_guard lock(mutex_);
  return IsDefaultName(name_) ? config_.machine_name : config_.machine_name + "\\" + Upper(name_);
}

InstanceConfig InstanceImpl::config() const {
  FollowConfigFile();
  std::lock_guard lock(mutex_);
  InstanceConfig copy = config_;
  copy.running = running_.load();
  return copy;
}

fs::path InstanceImpl::MapPath(std::string_view machine_path) const {
  return machine_.ToHost(machine_path).value_or(fs::path());
}

std::shared_ptr<InstanceImpl> InstanceImpl::Open(const fs::path& root, std::string_view name) {
  fs::path directory = root / FolderName(name);
  std::uint64_t stops = 0;
  auto config = LoadConfig(directory / kConfigFile, &stops);
  if (!config) return nullptr;
  std::string display = IsDefaultName(name) ? "MSSQLSERVER" : Upper(name);
  std::shared_ptr<InstanceImpl> instance(new InstanceImpl(directory, display, *config));
  instance->stops_ = stops;
  // Files an earlier version left readable to everyone are the owner's alone from now on.
  RestrictModes(directory);
  instance->OpenMaster();
  instance->UpgradeMaster();
  return instance;
}

DatabaseRecord InstanceImpl::RecordFromFiles(int dbid, std::string name,
                                             const std::string& data_path,
                                             const std::string& log_path) const {
  DatabaseRecord record;
  record.dbid = dbid;
  record.name = std::move(name);
  record.data_path = data_path;
  record.log_path = log_path;
  record.data_host = HostPath(data_path);
  record.log_host = HostPath(log_path);
  return record;
}

fs::path InstanceImpl::HostPath(const std::string& machine_path) const {
  if (machine_path.empty()) return {};
  std::error_code ec;
  {
    std::lock_guard lock(paths_mutex_);
    auto it = host_paths_.find(machine_path);
    if (it != host_paths_.end() && fs::exists(it->second, ec)) return it->second;
  }
  fs::path host = machine_.ToHost(machine_path).value_or(fs::path());
  if (!host.empty() && fs::exists(host, ec)) {
    std::lock_guard lock(paths_mutex_);
    host_paths_[machine_path] = host;
  }
  return host;
}

void InstanceImpl::InstallDatabase(const DatabaseRecord& record, const CatalogSeed& seed) {
  // A database file is created through a connection of its own, so that a failure leaves no
  // half-registered database behind.
  if (!CreatePrivateFile(record.data_host))
    throw SqliteError(SQLITE_CANTOPEN, "cannot create " + record.data_host.string());
  {
    Connection db(record.data_host.string());
    RegisterFunctions(db.get(), nullptr);
    db.Exec("PRAGMA page_size = 8192; PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;");
    db.Exec("BEGIN");
    Catalog::Install(db, "main", seed);
    db.Exec("COMMIT");
  }
  // SQL Server starts a log at the size asked for, 1 MB unless told otherwise.
  std::int64_t log_kb = 1024;
  std::string growth = "10%";
  for (const DatabaseFileInfo& f : seed.files)
    if (f.log) {
      log_kb = f.size_kb > 0 ? f.size_kb : log_kb;
      growth = f.growth;
      break;
    }
  CreateLogFile(record.log_host, log_kb * 1024, growth);
}

std::shared_ptr<InstanceImpl> InstanceImpl::Create(const fs::path& root, std::string_view name,
                                                   const InstanceConfig& config) {
  std::string folder = FolderName(name);
  for (char c : folder) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
              c == '-' || static_cast<unsigned char>(c) >= 0x80;
    if (!ok || folder.size() > 16)
      throw std::runtime_error("The instance name '" + std::string(name) + "' is not valid.");
  }
  fs::path directory = root / folder;
  if (fs::exists(directory / kConfigFile))
    throw std::runtime_error("An instance named '" + folder + "' exists already.");
  if (!CreatePrivateFolders(directory))
    throw std::runtime_error("The instance folder '" + directory.string() +
                             "' could not be created.");
  std::string display = IsDefaultName(name) ? "MSSQLSERVER" : folder;
  std::shared_ptr<InstanceImpl> instance(new InstanceImpl(directory, display, config));
  instance->SaveConfig();
  std::string data = instance->DefaultDataFolder();
  instance->machine_.CreateFolders(data);
  instance->machine_.CreateFolders("C:\\Program Files\\Microsoft SQL Server\\80\\Tools");

  common::Bytes sa_sid{1};
  struct System {
    int dbid;
    const char* name;
    const char* data_file;
    const char* log_file;
    const char* data_logical;
    const char* log_logical;
  };
  const System kSystem[] = {
      {1, "master", "master.mdf", "mastlog.ldf", "master", "mastlog"},
      {2, "tempdb", "tempdb.mdf", "templog.ldf", "tempdev", "templog"},
      {3, "model", "model.mdf", "modellog.ldf", "modeldev", "modellog"},
      {4, "msdb", "msdbdata.mdf", "msdblog.ldf", "MSDBData", "MSDBLog"},
  };
  int level = DefaultCompatibilityLevel(config);
  for (const System& s : kSystem) {
    DatabaseRecord record = instance->RecordFromFiles(
        s.dbid, s.name, Machine::Join(data, s.data_file), Machine::Join(data, s.log_file));
    CatalogSeed seed;
    seed.database_name = s.name;
    seed.owner_sid = sa_sid;
    seed.collation = config.collation;
    seed.compatibility_level = level;
    seed.master = s.dbid == 1;
    seed.files = {{1, s.data_logical, record.data_path, false, 1024 * (s.dbid == 1 ? 12 : 2)},
                  {2, s.log_logical, record.log_path, true, 1024}};
    instance->InstallDatabase(record, seed);
    record.owner_sid = sa_sid;
    record.compatibility_level = level;
    if (s.dbid == 1) {
      instance->OpenMaster();
      instance->UpgradeMaster();
    }
    record.crdate = NowText();
    // model passes full recovery on to new databases; the others truncate on checkpoint.
    record.status = kNewDatabaseStatus | (s.dbid == 3 ? 0 : dbstatus::kTruncLog);
    record.status2 = kNewDatabaseStatus2;
    instance->InsertDatabase(record);
    instance->StoreFilesCopy(record.dbid, {seed.files, seed.collation});
  }
  // sa, the local administrators and the account that set the instance up are sysadmin, as
  // after a SQL Server set-up.
  std::string now = NowText();
  struct Login {
    std::string name;
    common::Bytes sid;
    bool nt_name;
    bool nt_group;
    std::optional<std::string> password_hash;
  };
  std::vector<Login> logins = {
      {"sa", sa_sid, false, false,
       config.sa_password.empty() ? std::nullopt
                                  : std::optional<std::string>(HashPassword(config.sa_password))},
      {"BUILTIN\\Administrators", common::Bytes{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0},
       true, true, std::nullopt}};
  if (!config.creator.empty()) {
    std::string name = config.machine_name + "\\" + config.creator;
    logins.push_back({name, SidForName(name), true, false, std::nullopt});
  }
  for (const Login& login : logins) {
    CachedStatement insert(*instance->master_,
                           "INSERT INTO main.\"sandbox$logins\" (sid, name, password_hash, "
                           "is_nt_name, is_nt_group, dbname, language, server_roles, createdate, "
                           "updatedate) VALUES (?,?,?,?,?,'master','us_english',?,?,?)");
    insert.Bind(1, Value(login.sid));
    insert.Bind(2, Value(login.name));
    insert.Bind(3, login.password_hash ? Value(*login.password_hash) : Value());
    insert.Bind(4, Value(login.nt_name ? 1 : 0));
    insert.Bind(5, Value(login.nt_group ? 1 : 0));
    insert.Bind(6, Value(static_cast<int>(kSysadmin)));
    insert.Bind(7, Value(now));
    insert.Bind(8, Value(now));
    insert.Step();
  }
  return instance;
}

void InstanceImpl::OpenMaster() {
  DatabaseRecord record =
      RecordFromFiles(1, "master", Machine::Join(DefaultDataFolder(), "master.mdf"), "");
  master_ = std::make_unique<Connection>(record.data_host.string(), false);
  RegisterFunctions(master_->get(), nullptr);
  // Every process changes master in short transactions; a burst of them (several collections
  // created at once) is waited out rather than failed. Set before the first statement: even
  // the journal mode must wait while a process that closes the file last folds its log in.
  sqlite3_busy_timeout(master_->get(), 30000);
  master_->Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;");
  // The sessions table is a file of its own beside master, attached to this connection: a
  // session's open transaction in master must not keep other processes from connecting, while
  // DROP and detach still see databases and sessions in one transaction.
  fs::path sessions = directory_ / kSessionsFile;
  CreatePrivateFile(sessions);
  Statement attach = master_->Prepare("ATTACH DATABASE ? AS sessions");
  attach.Bind(1, Value(sessions.string()));
  attach.Step();
  master_->Exec("PRAGMA sessions.journal_mode = WAL; PRAGMA sessions.synchronous = NORMAL;");
  Statement exists = master_->Prepare(
      "SELECT 1 FROM sessions.sqlite_master WHERE type = 'table' AND name = 'sandbox$sessions'");
  if (!exists.Step())
    master_->Exec(
        "CREATE TABLE IF NOT EXISTS sessions.\"sandbox$sessions\" (spid INTEGER PRIMARY KEY, "
        "pid INTEGER NOT NULL, process_start TEXT NOT NULL, login TEXT NOT NULL, sid BLOB, "
        "dbid INTEGER NOT NULL, host TEXT NOT NULL, program TEXT NOT NULL, "
        "login_time TEXT NOT NULL, killed INTEGER NOT NULL DEFAULT 0)");
  // Lock waits (lock_waits.cc); a table of its own, so instances made earlier gain it too.
  master_->Exec(
      "CREATE TABLE IF NOT EXISTS sessions.\"sandbox$locks\" (spid INTEGER PRIMARY KEY, "
      "pid INTEGER NOT NULL, wait_dbid INTEGER NOT NULL, wait_since INTEGER NOT NULL, "
      "holds TEXT NOT NULL, priority INTEGER NOT NULL, tran_started TEXT NOT NULL)");
  master_->Exec(
      "CREATE TABLE IF NOT EXISTS sessions.\"sandbox$global_procedures\" (name TEXT PRIMARY KEY, "
      "id INTEGER NOT NULL, definition TEXT NOT NULL, spid INTEGER NOT NULL, pid INTEGER NOT "
      "NULL, process_start TEXT NOT NULL)");
  // Columns added later; a process opening the instance at the same time may add them first.
  for (const char* column : {"\"sandbox$sessions\" ADD COLUMN input_buffer TEXT NOT NULL "
                             "DEFAULT ''",
                             "\"sandbox$locks\" ADD COLUMN uids TEXT NOT NULL DEFAULT ''"}) {
    try {
      master_->Exec(std::string("ALTER TABLE sessions.") + column);
    } catch (const SqliteError&) {
      // There already.
    }
  }
}

void InstanceImpl::UpgradeMaster() {
  struct Present {
    bool log_column = false, collation_column = false, file_copies = false;
    bool all() const { return log_column && collation_column && file_copies; }
  };
  auto present = [&]() {
    Present p;
    Statement columns = master_->Prepare("PRAGMA main.table_info(\"sandbox$databases\")");
    while (columns.Step()) {
      if (columns.ColumnText(1) == "logfilename") p.log_column = true;
      if (columns.ColumnText(1) == "collation") p.collation_column = true;
    }
    Statement table = master_->Prepare(
        "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = 'sandbox$altfiles'");
    p.file_copies = table.Step();
    return p;
  };
  if (present().all()) return;
  std::lock_guard lock(mutex_);
  WriteTransaction([&] {
    Present p = present();  // another process may have been first
    if (!p.log_column) {
      master_->Exec(
          "ALTER TABLE main.\"sandbox$databases\" ADD COLUMN logfilename TEXT NOT NULL "
          "DEFAULT ''");
      // Earlier versions kept the log file's name only in the database's own file table.
      std::vector<std::pair<int, std::string>> logs;
      {
        Statement rows = master_->Prepare("SELECT dbid, filename FROM main.\"sandbox$databases\"");
        while (rows.Step()) {
          try {
            Connection db(HostPath(rows.ColumnText(1)).string(), false);
            Statement log = db.Prepare(
                "SELECT filename FROM main.\"sandbox$files\" WHERE is_log = 1 ORDER BY fileid "
                "LIMIT 1");
            if (log.Step())
              logs.emplace_back(static_cast<int>(rows.ColumnInt(0)), log.ColumnText(0));
          } catch (const SqliteError&) {
            // A database whose file is gone stays listed, as a suspect database does.
          }
        }
      }
      for (const auto& [dbid, log] : logs) {
        Statement update = master_->Prepare(
            "UPDATE main.\"sandbox$databases\" SET logfilename = ? WHERE dbid = ?");
        update.Bind(1, Value(log));
        update.Bind(2, Value(dbid));
        update.Step();
      }
    }
    // master keeps a copy of each database's file list and collation, as SQL Server keeps
    // sysaltfiles, so listing databases opens none of them. A database without a copy (made by
    // an earlier version) is read from its own file.
    if (!p.collation_column)
      master_->Exec("ALTER TABLE main.\"sandbox$databases\" ADD COLUMN collation TEXT");
    if (!p.file_copies)
      master_->Exec(
          "CREATE TABLE main.\"sandbox$altfiles\" (dbid INTEGER NOT NULL, fileid INTEGER NOT "
          "NULL, name TEXT NOT NULL, filename TEXT NOT NULL, is_log INTEGER NOT NULL, size_kb "
          "INTEGER NOT NULL, maxsize TEXT, growth TEXT, PRIMARY KEY (dbid, fileid))");
  });
}

void InstanceImpl::WriteTransaction(const std::function<void()>& work, bool sessions_only) const {
  if (!sqlite3_get_autocommit(master_->get())) {
    work();
    return;
  }
  try {
    if (sessions_only) {
      // A change of sessions alone locks the sessions file only (its first statement writes
      // there); what it reads of master is then as the last change of the catalogue left it.
      master_->Exec("BEGIN");
      master_->Exec("UPDATE sessions.\"sandbox$sessions\" SET killed = killed WHERE 0");
    } else {
      master_->Exec("BEGIN IMMEDIATE");
    }
    work();
    master_->Exec("COMMIT");
  } catch (...) {
    // A transaction left open would take in every later change and never commit them.
    if (!sqlite3_get_autocommit(master_->get())) {
      try {
        master_->Exec("ROLLBACK");
      } catch (const SqliteError&) {
        // Rolled back already by the failure itself.
      }
    }
    throw;
  }
}

namespace {

constexpr const char* kDatabaseColumns =
    "SELECT dbid, name, sid, crdate, filename, cmptlevel, status, logfilename FROM "
    "main.\"sandbox$databases\"";

}  // namespace

DatabaseRecord InstanceImpl::RecordFromRow(sqlite3_stmt* row) const {
  auto text = [&](int i) {
    const unsigned char* t = sqlite3_column_text(row, i);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           static_cast<size_t>(sqlite3_column_bytes(row, i)))
             : std::string();
  };
  DatabaseRecord record =
      RecordFromFiles(static_cast<int>(sqlite3_column_int64(row, 0)), text(1), text(4), text(7));
  Value sid = ReadColumn(row, 2);
  if (auto* bytes = sid.AsBytes()) record.owner_sid = *bytes;
  record.crdate = text(3);
  record.compatibility_level = static_cast<int>(sqlite3_column_int64(row, 5));
  auto status = static_cast<std::uint64_t>(sqlite3_column_int64(row, 6));
  record.status = static_cast<std::uint32_t>(status);
  record.status2 = static_cast<std::uint32_t>(status >> 32);
  return record;
}

std::optional<DatabaseRecord> InstanceImpl::ReadDatabase(int dbid) const {
  CachedStatement row(*master_, std::string(kDatabaseColumns) + " WHERE dbid = ?");
  row.Bind(1, Value(dbid));
  if (!row.Step()) return std::nullopt;
  return RecordFromRow(row.get());
}

std::optional<DatabaseRecord> InstanceImpl::ReadDatabase(std::string_view name) const {
  CachedStatement row(*master_, std::string(kDatabaseColumns) + " WHERE name = ?");
  row.Bind(1, Value(name));
  // The column's collation may match more loosely than a name is compared here.
  while (row.Step()) {
    DatabaseRecord record = RecordFromRow(row.get());
    if (EqualsNoCase(record.name, name)) return record;
  }
  return std::nullopt;
}

std::vector<DatabaseRecord> InstanceImpl::ReadDatabases() const {
  CachedStatement rows(*master_, std::string(kDatabaseColumns) + " ORDER BY dbid");
  std::vector<DatabaseRecord> out;
  while (rows.Step()) out.push_back(RecordFromRow(rows.get()));
  return out;
}

void InstanceImpl::InsertDatabase(const DatabaseRecord& record) {
  CachedStatement insert(*master_,
                         "INSERT INTO main.\"sandbox$databases\" (dbid, name, sid, crdate, "
                         "filename, cmptlevel, status, logfilename) VALUES (?,?,?,?,?,?,?,?)");
  insert.Bind(1, Value(record.dbid));
  insert.Bind(2, Value(record.name));
  insert.Bind(3, Value(record.owner_sid));
  insert.Bind(4, Value(record.crdate));
  insert.Bind(5, Value(record.data_path));
  insert.Bind(6, Value(record.compatibility_level));
  // master keeps both status words in one column: status2 in the high half.
  insert.Bind(7, Value(static_cast<long long>((static_cast<std::uint64_t>(record.status2) << 32) |
                                              record.status)));
  insert.Bind(8, Value(record.log_path));
  insert.Step();
}

DatabaseFilesCopy ReadFilesCopy(Connection& db, const std::string& files_table,
                                const std::string& settings_table) {
  DatabaseFilesCopy copy;
  Statement rows =
      db.Prepare("SELECT fileid, name, filename, is_log, size_kb, maxsize, growth FROM " +
                 files_table + " ORDER BY fileid");
  while (rows.Step()) {
    DatabaseFileInfo f = FileIdentity(rows, 0);
    f.size_kb = rows.ColumnInt(4);
    f.max_size = rows.ColumnText(5);
    f.growth = rows.ColumnText(6);
    copy.files.push_back(std::move(f));
  }
  Statement collation =
      db.Prepare("SELECT value FROM " + settings_table + " WHERE name = 'collation'");
  if (collation.Step()) copy.collation = collation.ColumnText(0);
  return copy;
}

void InstanceImpl::StoreFilesCopy(int dbid, const DatabaseFilesCopy& copy) {
  RemoveFilesCopy(dbid);
  for (const DatabaseFileInfo& f : copy.files) {
    CachedStatement insert(*master_,
                           "INSERT INTO main.\"sandbox$altfiles\" (dbid, fileid, name, filename, "
                           "is_log, size_kb, maxsize, growth) VALUES (?,?,?,?,?,?,?,?)");
    insert.Bind(1, Value(dbid));
    insert.Bind(2, Value(f.fileid));
    insert.Bind(3, Value(f.name));
    insert.Bind(4, Value(f.filename));
    insert.Bind(5, Value(f.log ? 1 : 0));
    insert.Bind(6, Value(static_cast<long long>(f.size_kb)));
    insert.Bind(7, Value(f.max_size));
    insert.Bind(8, Value(f.growth));
    insert.Step();
  }
  CachedStatement collation(*master_,
                            "UPDATE main.\"sandbox$databases\" SET collation = ? WHERE dbid = ?");
  collation.Bind(1, Value(copy.collation));
  collation.Bind(2, Value(dbid));
  collation.Step();
}

void InstanceImpl::RemoveFilesCopy(int dbid) {
  CachedStatement files(*master_, "DELETE FROM main.\"sandbox$altfiles\" WHERE dbid = ?");
  files.Bind(1, Value(dbid));
  files.Step();
  CachedStatement collation(
      *master_, "UPDATE main.\"sandbox$databases\" SET collation = NULL WHERE dbid = ?");
  collation.Bind(1, Value(dbid));
  collation.Step();
}

std::optional<DatabaseFilesCopy> InstanceImpl::FilesCopy(int dbid) const {
  std::lock_guard lock(mutex_);
  // One statement, so a copy another process replaces meanwhile is seen whole or not at all.
  CachedStatement rows(*master_,
                       "SELECT d.collation, f.fileid, f.name, f.filename, f.is_log, f.size_kb, "
                       "f.maxsize, f.growth FROM main.\"sandbox$databases\" d LEFT JOIN "
                       "main.\"sandbox$altfiles\" f ON f.dbid = d.dbid WHERE d.dbid = ? "
                       "ORDER BY f.fileid");
  rows.Bind(1, Value(dbid));
  std::optional<DatabaseFilesCopy> copy;
  while (rows.Step()) {
    if (rows.ColumnIsNull(0)) return std::nullopt;
    if (!copy) copy.emplace().collation = rows.ColumnText(0);
    if (rows.ColumnIsNull(1)) continue;
    DatabaseFileInfo f = FileIdentity(rows, 1);
    f.size_kb = rows.ColumnInt(5);
    f.max_size = rows.ColumnText(6);
    f.growth = rows.ColumnText(7);
    copy->files.push_back(std::move(f));
  }
  return copy;
}

void InstanceImpl::SetFilesCopy(int dbid, const DatabaseFilesCopy& copy) {
  std::lock_guard lock(mutex_);
  WriteTransaction([&] {
    if (ReadDatabase(dbid)) StoreFilesCopy(dbid, copy);
  });
}

void InstanceImpl::ForgetFilesCopy(int dbid) {
  std::lock_guard lock(mutex_);
  WriteTransaction([&] { RemoveFilesCopy(dbid); });
}

std::uint64_t InstanceImpl::DropGeneration() const {
  std::lock_guard lock(mutex_);
  CachedStatement row(*master_,
                      "SELECT value FROM main.\"sandbox$settings\" WHERE name = "
                      "'databases_generation'");
  return row.Step() ? static_cast<std::uint64_t>(row.ColumnInt(0)) : 0;
}

void InstanceImpl::BumpDropGeneration() {
  CachedStatement update(*master_,
                         "UPDATE main.\"sandbox$settings\" SET value = CAST(value AS INTEGER) + 1 "
                         "WHERE name = 'databases_generation'");
  update.Step();
  if (master_->Changes() > 0) return;
  CachedStatement insert(*master_,
                         "INSERT INTO main.\"sandbox$settings\" (name, value) VALUES "
                         "('databases_generation', 1)");
  insert.Step();
}

std::optional<DatabaseRecord> InstanceImpl::FindDatabase(std::string_view name) const {
  std::lock_guard lock(mutex_);
  return ReadDatabase(name);
}

std::optional<DatabaseRecord> InstanceImpl::FindDatabase(int dbid) const {
  std::lock_guard lock(mutex_);
  return ReadDatabase(dbid);
}

std::vector<DatabaseRecord> InstanceImpl::Databases() const {
  std::lock_guard lock(mutex_);
  return ReadDatabases();
}

namespace {

void RemoveDatabaseFiles(const DatabaseRecord& record) {
  std::error_code ec;
  fs::remove(record.data_host, ec);
  fs::remove(record.data_host.string() + "-wal", ec);
  fs::remove(record.data_host.string() + "-shm", ec);
  fs::remove(record.log_host, ec);
}

}  // namespace

DatabaseRecord InstanceImpl::CreateDatabase(const NewDatabase& request) {
  const DatabaseFileInfo* data = nullptr;
  const DatabaseFileInfo* log = nullptr;
  for (const DatabaseFileInfo& f : request.files) {
    if (!f.log && !data) data = &f;
    if (f.log && !log) log = &f;
  }
  std::lock_guard lock(mutex_);
  DatabaseRecord record;
  bool files_made = false;
  try {
    WriteTransaction([&] {
      std::vector<DatabaseRecord> existing = ReadDatabases();
      for (const DatabaseRecord& other : existing)
        if (EqualsNoCase(other.name, request.name)) throw errors::DatabaseExists(request.name);
      if (!data || !log) throw errors::Raise<1802>();
      for (const DatabaseFileInfo& f : request.files) {
        // sysfiles keeps 260 characters of a file name, as Windows does of a path.
        if (f.filename.size() > 260)
          throw errors::Raise<5123>("206(The filename or extension is too long.)", f.filename);
        auto host = machine_.ToHost(f.filename);
        std::error_code ec;
        if (!host || !fs::is_directory(host->parent_path(), ec))
          throw errors::CreateFileFailed(f.filename);
        if (fs::exists(*host, ec)) throw errors::Raise<5170>(f.filename);
        for (const DatabaseRecord& other : existing) {
          if (Machine::SamePath(other.data_path, f.filename) ||
              Machine::SamePath(other.log_path, f.filename))
            throw errors::Raise<5170>(f.filename);
        }
      }
      // The lowest free dbid, read in the same transaction that takes it.
      int dbid = 5;
      for (const DatabaseRecord& other : existing)
        if (other.dbid == dbid) ++dbid;
      record = RecordFromFiles(dbid, request.name, data->filename, log->filename);
      record.owner_sid = request.owner_sid;
      record.crdate = NowText();
      record.compatibility_level = DefaultCompatibilityLevel(config_);
      record.status = kNewDatabaseStatus;
      record.status2 = kNewDatabaseStatus2;
      CatalogSeed seed;
      seed.database_name = request.name;
      seed.owner_sid = request.owner_sid;
      seed.collation = request.collation.empty() ? config_.collation : request.collation;
      seed.compatibility_level = record.compatibility_level;
      seed.files = request.files;
      files_made = true;
      try {
        InstallDatabase(record, seed);
      } catch (const SqliteError&) {
        // The file system would not have the file (no room, no right to write there).
        throw errors::Raise<5123>("5(Access is denied.)", record.data_path);
      }
      InsertDatabase(record);
      StoreFilesCopy(record.dbid, {seed.files, seed.collation});
      BumpDropGeneration();
    });
  } catch (...) {
    if (files_made) RemoveDatabaseFiles(record);
    throw;
  }
  ++generations_[record.dbid];
  return record;
}

void InstanceImpl::DropDatabase(std::string_view name, int requesting_spid) {
  DatabaseRecord record;
  {
    std::lock_guard lock(mutex_);
    WriteTransaction([&] {
      auto found = ReadDatabase(name);
      if (!found) throw errors::Raise<3701>("drop", "database", name);
      record = *found;
      if (record.dbid <= 4) throw errors::Raise<3708>("drop", record.name);
      if (InUseLocked(record.dbid, requesting_spid)) throw errors::DatabaseInUse(record.name);
      RemoveFilesCopy(record.dbid);
      CachedStatement remove(*master_, "DELETE FROM main.\"sandbox$databases\" WHERE dbid = ?");
      remove.Bind(1, Value(record.dbid));
      remove.Step();
      BumpDropGeneration();
    });
    ++generations_[record.dbid];
  }
  RemoveDatabaseFiles(record);
}

void InstanceImpl::DetachDatabase(std::string_view name, int requesting_spid) {
  DatabaseRecord record;
  {
    std::lock_guard lock(mutex_);
    WriteTransaction([&] {
      auto found = ReadDatabase(name);
      if (!found) throw errors::Raise<3701>("detach", "database", name);
      record = *found;
      if (record.dbid <= 4) throw errors::Raise<3708>("detach", record.name);
      if (InUseLocked(record.dbid, requesting_spid))
        throw errors::Raise<3703>("detach", record.name);
      RemoveFilesCopy(record.dbid);
      CachedStatement remove(*master_, "DELETE FROM main.\"sandbox$databases\" WHERE dbid = ?");
      remove.Bind(1, Value(record.dbid));
      remove.Step();
      BumpDropGeneration();
    });
    ++generations_[record.dbid];
  }
  // Folds the write-ahead log into the file, so the .mdf alone carries the database, its
  // options included.
  try {
    Connection db(record.data_host.string(), false);
    RegisterFunctions(db.get(), nullptr);
    sqlite3_busy_timeout(db.get(), 2000);
    db.Exec("INSERT OR REPLACE INTO main.\"sandbox$settings\" VALUES ('status', '" +
            std::to_string((static_cast<std::uint64_t>(record.status2) << 32) | record.status) +
            "')");
    db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  } catch (const SqliteError&) {
    // Another session still reads it; its log is folded in when the last one lets go.
  }
}

DatabaseRecord InstanceImpl::AttachDatabase(std::string_view name,
                                            const std::vector<std::string>& files,
                                            const common::Bytes& owner_sid, bool rebuild_log) {
  std::lock_guard lock(mutex_);
  DatabaseRecord record;
  WriteTransaction([&] {
    std::vector<DatabaseRecord> existing = ReadDatabases();
    for (const DatabaseRecord& other : existing)
      if (EqualsNoCase(other.name, name)) throw errors::DatabaseExists(name);
    if (files.empty()) throw errors::Raise<1813>(name);
    auto in_use = [&](std::string_view path) {
      for (const DatabaseRecord& other : existing)
        if (Machine::SamePath(other.data_path, path) || Machine::SamePath(other.log_path, path))
          return true;
      return false;
    };
    std::error_code ec;
    for (const std::string& file : files) {
      auto host = machine_.ToHost(file);
      if (!host || !fs::is_regular_file(*host, ec))
        throw errors::Raise<5120>(file, 2, "2(The system cannot find the file specified.)");
      if (in_use(file))
        throw errors::Raise<5120>(
            file, 32,
            "32(The process cannot access the file because it is being used by another process.)");
    }
    auto data_host = machine_.ToHost(files[0]);
    std::string log_path;
    std::optional<std::uint64_t> status;
    common::Bytes dbo_sid;
    bool rebuild = rebuild_log;
    DatabaseFilesCopy copy;
    try {
      Connection db(data_host->string(), false);
      RegisterFunctions(db.get(), nullptr);
      sqlite3_busy_timeout(db.get(), 2000);
      {
        Statement check = db.Prepare(
            "SELECT filename FROM main.\"sandbox$files\" WHERE is_log = 1 ORDER BY fileid");
        if (check.Step()) log_path = check.ColumnText(0);
        Statement setting =
            db.Prepare("SELECT value FROM main.\"sandbox$settings\" WHERE name = 'status'");
        if (setting.Step()) status = std::strtoull(setting.ColumnText(0).c_str(), nullptr, 10);
        // The owner is whoever the database itself knows as dbo, which may be a login of
        // another server.
        Statement dbo = db.Prepare("SELECT sid FROM main.\"sandbox$users\" WHERE uid = 1");
        if (dbo.Step()) {
          Value sid = dbo.Column(0);
          if (const auto* bytes = sid.AsBytes()) dbo_sid = *bytes;
        }
      }
      bool log_given = false;
      for (size_t i = 1; i < files.size(); ++i) {
        if (files[i].size() > 4 && Lower(files[i].substr(files[i].size() - 4)) == ".ldf") {
          log_path = files[i];
          log_given = true;
        }
      }
      // Nothing in the file changes before every file it needs is found.
      if (!rebuild && !log_given) {
        auto log_host = machine_.ToHost(log_path);
        if (log_path.empty() || !log_host || !fs::is_regular_file(*log_host, ec) ||
            in_use(log_path))
          throw errors::Raise<5105>(log_path);
      }
      db.Exec("PRAGMA journal_mode = WAL");
      db.Exec("UPDATE main.\"sandbox$files\" SET filename = " + QuoteLiteral(files[0]) +
              " WHERE fileid = 1");
      if (log_given)
        db.Exec("UPDATE main.\"sandbox$files\" SET filename = " + QuoteLiteral(log_path) +
                " WHERE is_log = 1");
      db.Exec("UPDATE main.\"sandbox$settings\" SET value = " + QuoteLiteral(std::string(name)) +
              " WHERE name = 'name'");
      if (rebuild) {
        log_path = Machine::Join(Machine::FolderOf(files[0]), std::string(name) + "_log.LDF");
        auto log_host = machine_.ToHost(log_path);
        if (!log_host || in_use(log_path)) throw errors::CreateFileFailed(log_path);
        db.Exec("UPDATE main.\"sandbox$files\" SET filename = " + QuoteLiteral(log_path) +
                ", size_kb = 1024, growth = '10%' WHERE is_log = 1");
      }
      copy = ReadFilesCopy(db, "main.\"sandbox$files\"", "main.\"sandbox$settings\"");
    } catch (const SqliteError&) {
      throw errors::Raise<5172>(files[0]);
    }
    int dbid = 5;
    for (const DatabaseRecord& other : existing)
      if (other.dbid == dbid) ++dbid;
    record = RecordFromFiles(dbid, std::string(name), files[0], log_path);
    record.owner_sid = dbo_sid.empty() ? owner_sid : dbo_sid;
    record.crdate = NowText();
    record.compatibility_level = DefaultCompatibilityLevel(config_);
    std::uint64_t status_words = status.value_or(
        (static_cast<std::uint64_t>(kNewDatabaseStatus2) << 32) | kNewDatabaseStatus);
    record.status = static_cast<std::uint32_t>(status_words);
    record.status2 = static_cast<std::uint32_t>(status_words >> 32);
    if (rebuild) CreateLogFile(record.log_host, 1024 * 1024, "10%");
    InsertDatabase(record);
    StoreFilesCopy(record.dbid, copy);
    BumpDropGeneration();
  });
  ++generations_[record.dbid];
  return record;
}

void InstanceImpl::RenameDatabase(int dbid, std::string_view new_name, int requesting_spid) {
  std::lock_guard lock(mutex_);
  WriteTransaction([&] {
    std::vector<DatabaseRecord> existing = ReadDatabases();
    auto it = std::find_if(existing.begin(), existing.end(),
                           [&](const DatabaseRecord& r) { return r.dbid == dbid; });
    if (it == existing.end()) throw errors::UnknownDatabase(std::to_string(dbid));
    if (dbid <= 4 || InUseLocked(dbid, requesting_spid)) throw errors::Raise<5030>();
    for (const DatabaseRecord& other : existing)
      if (other.dbid != dbid && EqualsNoCase(other.name, new_name))
        throw errors::DatabaseExists(new_name);
    CachedStatement update(*master_,
                           "UPDATE main.\"sandbox$databases\" SET name = ? WHERE dbid = ?");
    update.Bind(1, Value(new_name));
    update.Bind(2, Value(dbid));
    update.Step();
    BumpDropGeneration();
  });
  ++generations_[dbid];
}

void InstanceImpl::SetDatabaseOwner(int dbid, const common::Bytes& owner_sid) {
  std::lock_guard lock(mutex_);
  WriteTransaction([&] {
    if (!ReadDatabase(dbid)) throw errors::UnknownDatabase(std::to_string(dbid));
    CachedStatement update(*master_,
                           "UPDATE main.\"sandbox$databases\" SET sid = ? WHERE dbid = ?");
    update.Bind(1, Value(owner_sid));
    update.Bind(2, Value(dbid));
    update.Step();
  });
  ++generations_[dbid];
}

std::optional<LoginRecord> InstanceImpl::FindLogin(std::string_view name) const {
  std::lock_guard lock(mutex_);
  CachedStatement row(*master_,
                      "SELECT sid, name, is_nt_name, is_nt_group, deny_login, dbname, "
                      "server_roles, password_hash FROM main.\"sandbox$logins\" WHERE name = ?");
  row.Bind(1, Value(name));
  if (!row.Step()) return std::nullopt;
  LoginRecord login;
  Value sid = row.Column(0);
  if (auto* bytes = sid.AsBytes()) login.sid = *bytes;
  login.name = row.ColumnText(1);
  login.is_nt_name = row.ColumnInt(2) != 0;
  login.is_nt_group = row.ColumnInt(3) != 0;
  login.deny = row.ColumnInt(4) != 0;
  login.default_database = row.ColumnText(5);
  login.server_roles = static_cast<int>(row.ColumnInt(6));
  if (!row.ColumnIsNull(7)) login.password_hash = row.ColumnText(7);
  return login;
}

std::optional<LoginRecord> InstanceImpl::FindLogin(const common::Bytes& sid) const {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    CachedStatement row(*master_, "SELECT name FROM main.\"sandbox$logins\" WHERE sid = ?");
    row.Bind(1, Value(sid));
    if (!row.Step()) return std::nullopt;
    name = row.ColumnText(0);
  }
  return FindLogin(name);
}

std::uint64_t InstanceImpl::CatalogGeneration(int dbid) const {
  std::lock_guard lock(mutex_);
  auto it = generations_.find(dbid);
  return it == generations_.end() ? 0 : it->second;
}

void InstanceImpl::BumpCatalogGeneration(int dbid) {
  std::lock_guard lock(mutex_);
  ++generations_[dbid];
}

void InstanceImpl::InjectFault(Fault fault) {
  std::lock_guard lock(mutex_);
  faults_.emplace_back(std::move(fault), 0);
}

void InstanceImpl::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

std::optional<ServerMessage> InstanceImpl::CheckFault(std::string_view statement_text) {
  std::lock_guard lock(mutex_);
  if (faults_.empty()) return std::nullopt;
  std::string lower = Lower(statement_text);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    auto& [fault, seen] = *it;
    if (!fault.pattern.empty() && lower.find(Lower(fault.pattern)) == std::string::npos) continue;
    if (++seen < fault.occurrence) continue;
    ServerMessage error = fault.error;
    faults_.erase(it);
    return error;
  }
  return std::nullopt;
}

void InstanceImpl::FollowConfigFile() const {
  fs::path file = directory_ / kConfigFile;
  struct stat st {};
  bool stopped_elsewhere = false;
  if (::stat(file.c_str(), &st) != 0) {
    // The file is replaced by a rename, never missing while the instance exists: the instance
    // was removed, and its sessions end as at a stop instead of writing to unlinked files.
    if (errno != ENOENT || removed_.exchange(true)) return;
    running_ = false;
    stopped_elsewhere = true;
  }
  // The file is always replaced as a whole, so a new inode or time tells of a change.
  FileStamp stamp{static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_size),
                  static_cast<std::int64_t>(st.st_mtim.tv_sec),
                  static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
  if (!stopped_elsewhere) {
    std::lock_guard lock(mutex_);
    if (stamp == config_stamp_) return;
    std::uint64_t stops = 0;
    auto loaded = LoadConfig(file, &stops);
    if (!loaded) return;
    config_stamp_ = stamp;
    config_ = *loaded;
    running_ = loaded->running;
    stopped_elsewhere = stops > stops_;
    stops_ = std::max(stops_, stops);
  }
  if (stopped_elsewhere) {
    std::vector<int> ended;
    {
      std::lock_guard lock(sessions_mutex_);
      for (const auto& [spid, session] : sessions_) {
        session->MarkBroken();
        ended.push_back(spid);
      }
    }
    // Nobody reads the sessions table of a removed instance.
    if (!removed_) MarkKilled(ended);
  }
}

bool InstanceImpl::running() const {
  FollowConfigFile();
  return running_.load();
}

void InstanceImpl::Reconfigure(const InstanceConfig& config) {
  FollowConfigFile();
  std::lock_guard lock(mutex_);
  config_.product_version = config.product_version;
  config_.product_level = config.product_level;
  config_.edition = config.edition;
  config_.platform = config.platform;
  config_.version_text = config.version_text;
  config_.login_mode = config.login_mode;
  config_.full_text_installed = config.full_text_installed;
  SaveConfig();
}

void InstanceImpl::SetRunning(bool running) {
  FollowConfigFile();
  {
    std::lock_guard lock(mutex_);
    if (!running) ++stops_;
    running_ = running;
    config_.running = running;
    SaveConfig();
  }
  if (!running) {
    std::vector<int> ended;
    {
      std::lock_guard lock(sessions_mutex_);
      for (const auto& [spid, session] : sessions_) {
        session->MarkBroken();
        ended.push_back(spid);
      }
    }
    // Nobody reads the sessions table of a removed instance.
    if (!removed_) MarkKilled(ended);
  }
}

std::unique_ptr<Session> InstanceImpl::Connect(const LoginRequest& request) {
  if (!running())
    throw ConnectError(ConnectMessage(17, 16, "SQL Server does not exist or access denied."));
  LoginRecord login = Authenticate(*this, request);
  std::string database = request.database.empty() ? login.default_database : request.database;
  auto record = FindDatabase(database);
  if (!record) {
    if (!request.database.empty())
      throw ConnectError(ConnectMessage(
          4060, 11, "Cannot open database requested in login '" + database + "'. Login fails."));
    record = FindDatabase("master");
  }
  if (auto refused = CheckDatabaseEntry(*this, *record, 0)) {
    ServerMessage message = refused->message();
    throw ConnectError(message);
  }
  int spid = 0;
  try {
    spid = RegisterSession(login, request, record->dbid);
  } catch (const SqlError& error) {
    throw ConnectError(error.message());
  } catch (const SqliteError& error) {
    throw ConnectError(ConnectMessage(
        1222, 16,
        (error.code() & 0xFF) == SQLITE_BUSY
            ? std::string("Lock request time out period exceeded.")
            : std::string("The sandbox server could not register the session: ") + error.what()));
  }
  auto session = std::make_unique<SessionImpl>(shared_from_this(), spid, login, request);
  session->Start(record->dbid);
  if (!HasDatabaseAccess(*session, session->Current())) {
    if (!request.database.empty())
      throw ConnectError(ConnectMessage(
          4060, 11, "Cannot open database requested in login '" + database + "'. Login fails."));
    throw ConnectError(
        ConnectMessage(4064, 11, "Cannot open user default database. Login failed."));
  }
  return session;
}

}  // namespace sandbox
