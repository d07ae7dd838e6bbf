// A connection to the sandbox server: its login, current database, options, variables of the
// running batch, temporary tables, transaction and the SQLite connection it works through.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "sandbox/catalog.h"
#include "sandbox/functions.h"
#include "sandbox/instance.h"
#include "sandbox/server.h"
#include "sandbox/sql_error.h"
#include "sandbox/sqlite.h"
#include "sandbox/tsql/ast.h"

namespace sandbox {

class Executor;

// A database as this session's connection sees it.
struct AttachedDatabase {
  int dbid = 0;
  std::string schema;  // the SQLite schema name it is attached as
  std::unique_ptr<Catalog> catalog;
  std::uint64_t generation = 0;
  std::uint64_t last_used = 0;
  // The file attached, so a database dropped and made anew under the same name and path is
  // told from the one this session still has open.
  std::uint64_t file_device = 0;
  std::uint64_t file_inode = 0;
};

// A #table of this session, kept in SQLite's temp schema.
struct TempTable {
  ObjectInfo info;
  std::int64_t identity_current = 0;
  bool identity_used = false;
  int frame_depth = 0;  // procedure level that created it; dropped when that level ends
  std::vector<ObjectInfo> checks;  // a table variable's CHECK constraints: it has no catalogue
};

struct SessionOptions {
  bool nocount = false;
  bool ansi_null_default_on = true;  // the OLE DB provider switches it on
  bool quoted_identifier = true;
  bool ansi_warnings = true;
  std::int64_t rowcount = 0;    // SET ROWCOUNT; 0 for no limit
  std::string identity_insert;  // "dbid:object id" of the table with IDENTITY_INSERT ON
  std::int64_t lock_timeout = -1;
  int deadlock_priority = 0;  // -5 LOW, 0 NORMAL
  bool xact_abort = false;
  DateSettings dates;  // SET LANGUAGE, DATEFORMAT, DATEFIRST
};

struct Cursor;

class SessionImpl : public Session, public FunctionHost {
 public:
  SessionImpl(std::shared_ptr<InstanceImpl> instance, int spid, LoginRecord login,
              LoginRequest request);
  ~SessionImpl() override;

  // Opens the connection on the initial database and registers with the instance.
  void Start(int dbid);

  // Session
  int spid() const override { return spid_; }
  void Execute(std::string_view batch, std::vector<Parameter>& parameters, ResultSink& sink,
               std::chrono::milliseconds timeout) override;
  std::string CurrentDatabase() const override;
  void Close() override;
  void Cancel() override;

  // FunctionHost
  common::Value SystemFunction(std::string_view name,
                               const std::vector<common::Value>& args) override;
  std::int64_t NextIdentity(int slot) override;
  double Random(std::optional<std::int64_t> seed) override;
  DateSettings Dates() const override { return options_.dates; }

  // Ends the session as KILL or a stopped service does: its next batch fails, its open
  // transaction is rolled back.
  void MarkBroken();
  // Ends the session from its own running batch (a fatal error): gone for every process.
  void EndConnection();
  bool broken() const { return broken_.load(); }
  // Cancel was asked while the running batch runs.
  bool cancelled() const { return cancelled_.load(); }
  // True when a session of any process killed this one; asked of master at most a few times a
  // second, so a long batch stops soon after a KILL.
  bool KilledElsewhere();
  int current_dbid() const { return current_dbid_.load(); }

  // --- for the executor -------------------------------------------------------------------
  InstanceImpl& instance() { return *instance_; }
  Connection& connection() { return *connection_; }
  const LoginRecord& login() const { return login_; }
  const LoginRequest& request() const { return request_; }
  bool IsSysadmin() const { return (login_.server_roles & kSysadmin) != 0; }
  SessionOptions& options() { return options_; }

  // The database, attached when needed; throws SqlError 911 for unknown names.
  AttachedDatabase& Database(std::string_view name);
  AttachedDatabase& Database(int dbid);
  AttachedDatabase& Current() { return Database(current_dbid()); }
  void SetCurrent(int dbid) { current_dbid_ = dbid; }
  // USE: moves the session to the database, in the sessions table too. Throws SqlError (911,
  // 924).
  void EnterDatabase(const DatabaseRecord& record);
  // Marks a database's catalogue as changed by this session's open work.
  void CatalogChanged(int dbid);
  // After a commit: others learn of the changes. After a rollback: the copies are re-read.
  void CatalogCommitted();
  void CatalogRolledBack();
  // Lets go of a database this session has attached (before it is dropped or renamed).
  void ForgetDatabase(int dbid);
  // Lets go of databases that were dropped; called before each batch.
  void RefreshAttachments();

  // The database user of the login in a database ("dbo" for the owner and for sysadmins).
  std::string UserName(AttachedDatabase& db);
  int UserId(AttachedDatabase& db);
  // Takes over what the catalogue now says of the session's login (server roles, groups).
  void RefreshLogin();

  std::map<std::string, TempTable>& temp_tables() { return temp_tables_; }
  TempTable* FindTemp(std::string_view name);
  // Object ids of #tables: negative, never reused within the session.
  std::int64_t NextTempId() { return --last_temp_id_; }

  // Transactions: @@TRANCOUNT and the SQLite transaction behind it.
  int trancount() const { return trancount_; }
  // When the outermost open transaction began (storage-form datetime), for DBCC OPENTRAN.
  const std::string& transaction_started() const { return transaction_started_; }
  // The last batch the client sent, as DBCC INPUTBUFFER shows it; read from other threads.
  std::string InputBuffer() const;
  void BeginTransaction();
  void CommitTransaction();
  void RollbackTransaction();
  void Savepoint(const std::string& name);
  bool HasSavepoint(const std::string& name) const;
  void RollbackToSavepoint(const std::string& name);

  // @@ variables.
  std::int64_t rowcount = 0;
  std::int64_t error = 0;
  std::optional<std::int64_t> identity;
  std::optional<std::int64_t> scope_identity;
  std::int64_t fetch_status = -1;  // @@FETCH_STATUS
  std::int64_t cursor_rows = 0;    // @@CURSOR_ROWS
  // GLOBAL cursors by lower-case name: they live until DEALLOCATE or the end of the connection.
  std::map<std::string, std::shared_ptr<Cursor>> global_cursors;

  // The identity generator a running INSERT uses (slot 0).
  struct IdentityState {
    std::optional<std::int64_t> current;  // none before the first row
    std::int64_t seed = 1;
    std::int64_t increment = 1;
    bool used = false;
  };
  IdentityState& identity_state() { return identity_state_; }
  // Identity values once drawn are never given again: a rollback takes the rows back, not the
  // values, so after one the tables' current values are put forward again.
  void SpendIdentity(int dbid, std::int64_t table_id, const IdentityState& state);
  void KeepSpentIdentities();

  Executor* executor() { return executor_; }
  // Parsed procedure texts, by text.
  std::shared_ptr<const tsql::Batch> ParsedProcedure(const std::string& text);
  // Parsed column default texts, by text.
  const tsql::Expr& ParsedDefault(const std::string& text);
  std::chrono::steady_clock::time_point deadline() const { return deadline_; }
  bool has_deadline() const { return has_deadline_; }

  // Waiting for other sessions' locks (lock_waits.cc): SQLite's busy handler; the error a wait
  // that gave up ends with (1222, or 1205 for a deadlock victim); and, once a statement or
  // transaction ends, publishing which databases this session holds for writing.
  static int OnBusy(void* session, int count);
  SqlError LockFailure();
  void SettleLocks();
  // SQLite does not wait for a write lock once the statement has read the database (a first
  // use reads its catalogue): a statement outside a transaction that met a lock so runs once
  // more, now waiting.
  bool RetryAfterBusy(const SqlError& error);
  // Inside a transaction the statement is tried again here, after a nap, while the wait lasts.
  bool WaitOutside(int count);

  // Statements prepared by sp_prepare or sp_prepexec, by handle, until sp_unprepare.
  struct PreparedStatement {
    std::string parameters;  // the declared parameter list
    std::string text;
  };
  std::map<std::int64_t, PreparedStatement>& prepared() { return prepared_; }
  std::int64_t NextPreparedHandle() { return ++last_prepared_handle_; }

 private:
  AttachedDatabase& Attach(const DatabaseRecord& record);
  void Detach(int dbid);

  std::shared_ptr<InstanceImpl> instance_;
  int spid_;
  LoginRecord login_;
  LoginRequest request_;
  std::unique_ptr<Connection> connection_;
  std::map<int, AttachedDatabase> attached_;
  std::uint64_t use_counter_ = 0;
  std::uint64_t seen_drop_generation_ = 0;
  std::atomic<int> current_dbid_{1};
  std::atomic<bool> broken_{false};
  std::atomic<bool> running_{false};  // a batch runs: Cancel applies to it
  std::atomic<bool> cancelled_{false};
  std::chrono::steady_clock::time_point next_kill_check_;
  std::mutex execute_mutex_;  // held while a batch runs
  void AbandonTransaction();
  bool closed_ = false;
  SessionOptions options_;
  std::map<std::string, TempTable> temp_tables_;  // by lower-case name
  std::int64_t last_temp_id_ = 0;
  std::vector<int> changed_catalogs_;
  int trancount_ = 0;
  std::string transaction_started_;
  mutable std::mutex input_mutex_;
  std::string input_buffer_;
  std::vector<std::string> savepoints_;  // SAVE TRANSACTION names, lower-case
  IdentityState identity_state_;
  std::map<std::pair<int, std::int64_t>, IdentityState> spent_identities_;  // by dbid, table id
  std::mt19937_64 random_;
  Executor* executor_ = nullptr;
  std::map<std::string, std::shared_ptr<const tsql::Batch>> parsed_procedures_;
  std::map<std::string, tsql::ExprPtr> parsed_defaults_;
  std::chrono::steady_clock::time_point deadline_;
  bool has_deadline_ = false;
  std::map<std::int64_t, PreparedStatement> prepared_;
  std::int64_t last_prepared_handle_ = 0;
  int WaitForLock(int count);
  std::string HeldDatabases() const;
  void PublishLocks(int wait_dbid);
  struct LockWait {
    std::chrono::steady_clock::time_point started, next_check;
    bool published = false;
    bool victim = false;
    bool invoked = false;    // the busy handler ran for the current step
    bool immediate = false;  // the last step ended without it
    std::vector<int> cycle;  // seen at the last check; a deadlock is one seen twice
  } lock_wait_;
  std::string published_holds_;
};

}  // namespace sandbox
