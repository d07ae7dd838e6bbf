// One sandbox SQL Server: its folder, configuration, machine drives, the server catalogue in
// master (databases, logins) and the sessions connected to it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sandbox/catalog.h"
#include "sandbox/log_file.h"
#include "sandbox/machine.h"
#include "sandbox/server.h"
#include "sandbox/sqlite.h"

namespace sandbox {

class SessionImpl;

struct DatabaseRecord {
  int dbid = 0;
  std::string name;
  std::string data_path;  // machine paths
  std::string log_path;
  std::filesystem::path data_host;  // the same on this host
  std::filesystem::path log_host;
  common::Bytes owner_sid;
  std::string crdate;
  int compatibility_level = 80;
  // Options and states as sysdatabases shows them (status and status2 bits, databases.h).
  std::uint32_t status = 0;
  std::uint32_t status2 = 0;
};

// A database's files and collation as master keeps a copy of them (sysaltfiles), so that listing
// databases opens none of them. The files' sizes on disk are not copied: they are read from the
// file system whenever they are asked for.
struct DatabaseFilesCopy {
  std::vector<DatabaseFileInfo> files;  // size_kb: as declared (CREATE, MODIFY FILE, SHRINKFILE)
  std::string collation;                // empty: the server's
};

// Reads the copy from a database's own catalogue (its sandbox$files and sandbox$settings tables,
// qualified as the connection names them). Throws SqliteError.
DatabaseFilesCopy ReadFilesCopy(Connection& db, const std::string& files_table,
                                const std::string& settings_table);

// A database file's fileid, logical name, machine path and kind from a row's columns first to
// first + 3, as the instance's file tables and a backup's hold them.
template <typename Row>
DatabaseFileInfo FileIdentity(const Row& row, int first) {
  DatabaseFileInfo f;
  f.fileid = static_cast<int>(row.ColumnInt(first));
  f.name = row.ColumnText(first + 1);
  f.filename = row.ColumnText(first + 2);
  f.log = row.ColumnInt(first + 3) != 0;
  return f;
}

// Server roles as bits of a login.
enum ServerRole : int {
  kSysadmin = 1,
  kSecurityadmin = 2,
  kServeradmin = 4,
  kSetupadmin = 8,
  kProcessadmin = 16,
  kDiskadmin = 32,
  kDbcreator = 64,
  kBulkadmin = 128,
};

struct LoginRecord {
  common::Bytes sid;
  std::string name;
  bool is_nt_name = false;
  bool is_nt_group = false;
  bool deny = false;
  std::string default_database = "master";
  int server_roles = 0;
  std::optional<std::string> password_hash;
  // For a Windows account: the SIDs of its groups that are logins, whose rights it holds too.
  std::vector<common::Bytes> group_sids;
};

// The files of a new database, as CREATE DATABASE names them (machine paths).
struct NewDatabase {
  std::string name;
  std::string collation;                // empty for the server's
  std::vector<DatabaseFileInfo> files;  // data files first, then log files
  common::Bytes owner_sid;
};

// A session as the instance's sessions table lists it, whichever process holds it.
// A global temporary procedure (##name) as the instance keeps it (global_procedures.cc).
struct GlobalProcedure {
  std::int64_t id = 0;
  std::string definition;
};

struct SessionEntry {
  int spid = 0;
  std::int64_t pid = 0;  // the operating-system process that holds the session
  std::string login;
  common::Bytes sid;
  int dbid = 0;
  std::string database;  // empty when the database has gone meanwhile
  std::string host;
  std::string program;
};

// A session's part in waiting for locks, as every process sees it (lock_waits.cc).
struct LockEntry {
  int spid = 0;
  int wait_dbid = 0;            // the database whose write lock it waits for; 0 when not waiting
  std::int64_t wait_since = 0;  // milliseconds since the epoch
  std::string holds;            // " 5 7 ": the databases it holds for writing
  int priority = 0;             // SET DEADLOCK_PRIORITY: -5 LOW, 0 NORMAL
  std::string tran_started;     // storage-form datetime; the younger transaction is cheaper
  std::string uids;             // " 5:1 7:3 ": its user id in each database it holds
};

// A session waiting for another's lock, as sp_who and sysprocesses show it.
struct BlockedSession {
  int by = 0;  // the holder's process id; 0 when the holder has not said (a statement running)
  std::int64_t waited_ms = 0;
};

class InstanceImpl : public Instance, public std::enable_shared_from_this<InstanceImpl> {
 public:
  // Opens an existing instance folder; nullptr when there is none.
  static std::shared_ptr<InstanceImpl> Open(const std::filesystem::path& root,
                                            std::string_view name);
  static std::shared_ptr<InstanceImpl> Create(const std::filesystem::path& root,
                                              std::string_view name, const InstanceConfig& config);
  ~InstanceImpl() override;

  // Instance
  std::string name() const override { return name_; }
  std::unique_ptr<Session> Connect(const LoginRequest& request) override;
  InstanceConfig config() const override;
  void SetRunning(bool running) override;
  // Replaces the settings an administrator may change after set-up (version texts, login mode,
  // full-text search); the collation, machine name and service state stay as they are.
  void Reconfigure(const InstanceConfig& config);
  std::filesystem::path directory() const override { return directory_; }
  std::filesystem::path MapPath(std::string_view machine_path) const override;
  void InjectFault(Fault fault) override;
  void ClearFaults() override;
  bool DropSession(int spid) override;
  // The last batch of a session, of this process or another; nullopt for no such session.
  std::optional<std::string> InputBuffer(int spid) const;
  // Tells other processes a session's last batch (its first 255 characters).
  void PublishInputBuffer(int spid, const std::string& text) const;

  // For sessions.
  const Machine& machine() const { return machine_; }
  std::string DefaultDataFolder() const;
  std::string VersionText() const;
  std::string ServerName() const;
  std::optional<DatabaseRecord> FindDatabase(std::string_view name) const;
  std::optional<DatabaseRecord> FindDatabase(int dbid) const;
  std::vector<DatabaseRecord> Databases() const;
  // Creates the files and registers the database. Throws SqlError (1801, 5123, 5170).
  DatabaseRecord CreateDatabase(const NewDatabase& request);
  // Removes the database and its files. Throws SqlError (3702 when another session uses it).
  void DropDatabase(std::string_view name, int requesting_spid);
  // Takes a database out of the server catalogue and leaves its files, complete in themselves,
  // for a later attach. Throws SqlError (3701, 3703 when another session uses it, 3708).
  void DetachDatabase(std::string_view name, int requesting_spid);
  // Registers database files made by a detach (the first file is the data file; a log file
  // given replaces the one the database knew). The owner is the database's own dbo, else
  // owner_sid. Throws SqlError (1801, 5105, 5120, 5172).
  // rebuild_log makes a new log file beside the data file (sp_attach_single_file_db).
  DatabaseRecord AttachDatabase(std::string_view name, const std::vector<std::string>& files,
                                const common::Bytes& owner_sid, bool rebuild_log = false);
  // Renames a database in the server catalogue. Throws SqlError (1801, 5030 for a system
  // database or one that a session other than requesting_spid is in).
  void RenameDatabase(int dbid, std::string_view new_name, int requesting_spid);
  // Sets a database's options and states (sysdatabases.status and status2).
  void SetDatabaseStatus(int dbid, std::uint32_t status, std::uint32_t status2);
  void SetCompatibilityLevel(int dbid, int level);
  // The database's log file: its sizes, emptied by BACKUP LOG, shrunk by DBCC SHRINKFILE
  // (target in 8 KB pages). A database that is not there reads as an empty log.
  LogFileState LogState(int dbid) const;
  LogFileState TruncateLog(int dbid);
  LogFileState ShrinkLog(int dbid, std::int64_t target_pages);
  LogFileState GrowLog(int dbid, std::int64_t pages);
  // master's copy of a database's files and collation; nullopt when there is none (a database
  // registered by an earlier version, or changed in a transaction not yet committed), and then
  // the database's own file is the one to read.
  std::optional<DatabaseFilesCopy> FilesCopy(int dbid) const;
  // Replaces the copy once a change of the database's files or collation is made.
  void SetFilesCopy(int dbid, const DatabaseFilesCopy& copy);
  // Drops the copy when the change can still be rolled back.
  void ForgetFilesCopy(int dbid);
  // Records a new owner (sysdatabases.sid) of a database.
  void SetDatabaseOwner(int dbid, const common::Bytes& owner_sid);
  std::optional<LoginRecord> FindLogin(std::string_view name) const;
  std::optional<LoginRecord> FindLogin(const common::Bytes& sid) const;

  // A counter per database that moves whenever a committed change alters its catalogue, so
  // this process's sessions know when their copy is stale.
  std::uint64_t CatalogGeneration(int dbid) const;
  void BumpCatalogGeneration(int dbid);
  // A counter kept in master that moves whenever a database is dropped, detached, attached,
  // created or renamed by any process, so sessions let go of files that are no longer theirs.
  std::uint64_t DropGeneration() const;

  // The error an injected fault gives this statement, if any.
  std::optional<ServerMessage> CheckFault(std::string_view statement_text);
  // Grows the database's log file by a change record of rows changed rows.
  void AppendLog(int dbid, std::string_view text, std::int64_t rows = 1);

  // Sessions of every process that has the instance open are registered in the sessions table
  // (a file beside master, attached to master's connection); rows of processes that have ended
  // are removed whenever the table is read.
  // Registers a new session in its initial database and gives it a process id no session of
  // any process has. Throws SqlError (911 the database is gone, 924 single-user).
  int RegisterSession(const LoginRecord& login, const LoginRequest& request, int dbid);
  // Makes a started session known to this process, so KILL and a stop reach it at once.
  void Register(SessionImpl* session);
  // Removes the session from the table; never throws.
  void Unregister(SessionImpl* session);
  // Moves a session to another database (USE). Throws SqlError (911 the database has gone,
  // 924 it is single-user and someone else is in it).
  void EnterDatabase(int spid, const DatabaseRecord& record);
  // The live sessions that have not been killed, in spid order.
  std::vector<SessionEntry> Sessions() const;
  bool DatabaseInUse(int dbid, int except_spid) const;
  // True when the session was killed (by a process of any kind) or is no longer registered.
  bool SessionKilled(int spid) const;
  // The service state, as this or another process (the tessera-sandbox command) last set it.
  bool running() const;
  // Lock waits of the live sessions of every process (lock_waits.cc).
  void PublishLocks(const LockEntry& entry) const;
  std::vector<LockEntry> Locks() const;
  std::map<int, BlockedSession> Blocked() const;
  // Global temporary procedures, seen by every session and gone with the session that made
  // them. Save throws SqlError 2714 (exists) or, altering, 208 (missing).
  void SaveGlobalProcedure(std::string_view name, std::int64_t id, const std::string& definition,
                           int spid, bool alter);
  std::optional<GlobalProcedure> FindGlobalProcedure(std::string_view name) const;
  bool DropGlobalProcedure(std::string_view name);

 private:
  InstanceImpl(std::filesystem::path directory, std::string name, InstanceConfig config);
  void OpenMaster();
  // Brings the server catalogue of an instance made by an earlier version up to date.
  void UpgradeMaster();
  void SaveConfig() const;
  // stops, when given, receives how often the service was stopped so far.
  static std::optional<InstanceConfig> LoadConfig(const std::filesystem::path& file,
                                                  std::uint64_t* stops = nullptr);
  // Takes over the configuration file when another process replaced it since it was last read;
  // a stop made there ends the sessions here.
  void FollowConfigFile() const;
  DatabaseRecord RecordFromFiles(int dbid, std::string name, const std::string& data_path,
                                 const std::string& log_path) const;
  void InstallDatabase(const DatabaseRecord& record, const CatalogSeed& seed);

  // What several processes share is read and changed inside one write transaction on master,
  // never from a copy another process may have outdated. The caller holds mutex_; a call made
  // inside the transaction already open runs in it. sessions_only: the work changes the
  // sessions table and only reads the rest.
  void WriteTransaction(const std::function<void()>& work, bool sessions_only = false) const;
  // The catalogue's rows, read from master (caller holds mutex_).
  DatabaseRecord RecordFromRow(sqlite3_stmt* row) const;
  std::optional<DatabaseRecord> ReadDatabase(int dbid) const;
  std::optional<DatabaseRecord> ReadDatabase(std::string_view name) const;
  std::vector<DatabaseRecord> ReadDatabases() const;
  void InsertDatabase(const DatabaseRecord& record);
  // The copy of a database's files, written or removed inside a write transaction.
  void StoreFilesCopy(int dbid, const DatabaseFilesCopy& copy);
  void RemoveFilesCopy(int dbid);
  void BumpDropGeneration();
  // The registered sessions of live processes (killed ones too when asked); dead tells
  // whether rows of ended processes were seen. Caller holds mutex_.
  std::vector<SessionEntry> ReadSessions(bool with_killed, bool* dead = nullptr) const;
  // Removes the rows of ended processes; inside a write transaction.
  void PurgeDeadSessions() const;
  // This process as the sessions table names it: its id and when it started, so a later
  // process given the same id is not taken for it. Caller holds mutex_.
  struct ProcessIdentity {
    std::int64_t pid = 0;
    std::string start;
  };
  ProcessIdentity Self() const;
  // A session other than except_spid in the database (caller holds mutex_).
  bool InUseLocked(int dbid, int except_spid) const;
  // The error a new session in a single-user database gets when someone else is in it.
  void CheckSingleUser(const DatabaseRecord& record, int except_spid) const;
  // Marks sessions of this process killed in the table once they have ended here.
  void MarkKilled(const std::vector<int>& spids) const;
  std::filesystem::path HostPath(const std::string& machine_path) const;

  std::filesystem::path directory_;
  std::string name_;
  Machine machine_;

  mutable std::mutex mutex_;  // config, master connection, faults, generations, host paths
  // A copy of the configuration file, which is the truth shared with other processes.
  mutable InstanceConfig config_;
  std::unique_ptr<Connection> master_;
  std::map<int, std::uint64_t> generations_;
  std::vector<std::pair<Fault, int>> faults_;  // with the matches seen so far
  // Where database files of the machine are on this host: finding a name without regard to
  // case reads folders, too slow for every look-up. Checked against the file system on use.
  mutable std::map<std::string, std::filesystem::path> host_paths_;
  mutable ProcessIdentity self_;
  mutable std::mutex paths_mutex_;
  mutable std::atomic<bool> running_{true};
  mutable std::atomic<bool> removed_{false};
  mutable std::uint64_t stops_ = 0;  // persisted, so sessions of other processes learn of a stop
  struct FileStamp {
    std::uint64_t inode = 0, size = 0;
    std::int64_t seconds = 0, nanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
  };
  mutable FileStamp config_stamp_;

  // The sessions of this process, so KILL and a stop reach a running batch at once.
  mutable std::mutex sessions_mutex_;
  std::map<int, SessionImpl*> sessions_;

  // While this process has sessions, a thread looks for KILLs of them made by other processes
  // a few times a second and ends them as a KILL made here does: an idle session's open
  // transaction is rolled back at once, so its locks do not keep the killer waiting.
  void Watch();
  std::thread watcher_;
  std::mutex watch_mutex_;
  std::condition_variable watch_wakeup_;
  bool stopping_ = false;
};

}  // namespace sandbox
