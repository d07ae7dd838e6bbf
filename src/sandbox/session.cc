#include "sandbox/session.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <system_error>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/date_styles.h"
#include "sandbox/executor.h"
#include "sandbox/fulltext.h"
#include "sandbox/logins.h"
#include "sandbox/messages.h"
#include "sandbox/object_functions.h"
#include "sandbox/security.h"
#include "sandbox/sql_error.h"
#include "sandbox/tsql/parser.h"
#include "sandbox/types.h"
#include "sandbox/versions.h"

namespace sandbox {

using common::Value;

namespace {

// SQLite allows ten attached databases; one more than needed is kept free for a USE.
constexpr size_t kMaxAttached = 9;

int Progress(void* data) {
  auto* session = static_cast<SessionImpl*>(data);
  if (session->broken() || session->cancelled()) return 1;
  if (session->has_deadline() && std::chrono::steady_clock::now() > session->deadline()) return 1;
  return 0;
}

// A seed of its own for each session's RAND(): asking the system's random device for every
// session cost as much as a tenth of opening one.
std::uint64_t SessionSeed() {
  static const std::uint64_t base = std::random_device{}();
  static std::atomic<std::uint64_t> counter{0};
  // splitmix64 of base + n: sessions opened one after another get unrelated sequences.
  std::uint64_t z = base + 0x9E3779B97F4A7C15ULL * (++counter);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

SessionImpl::SessionImpl(std::shared_ptr<InstanceImpl> instance, int spid, LoginRecord login,
                         LoginRequest request)
    : instance_(std::move(instance)),
      spid_(spid),
      login_(std::move(login)),
      request_(std::move(request)),
      random_(SessionSeed()) {}

SessionImpl::~SessionImpl() { Close(); }

void SessionImpl::Start(int dbid) {
  connection_ = std::make_unique<Connection>(":memory:");
  RegisterFunctions(connection_->get(), this);
  sqlite3_progress_handler(connection_->get(), 1000, Progress, this);
  sqlite3_busy_handler(connection_->get(), OnBusy, this);
  // Sorts, temporary tables and work tables spill to files once past the page cache, as
  // SQL Server's spill to tempdb: a large ORDER BY or #table must not need its size in memory.
  connection_->Exec("PRAGMA temp_store = FILE");
  seen_drop_generation_ = instance_->DropGeneration();
  Database(1);
  Database(dbid);
  current_dbid_ = dbid;
  instance_->Register(this);
}

void SessionImpl::Close() {
  if (closed_) return;
  closed_ = true;
  if (instance_) instance_->Unregister(this);
  if (connection_) {
    if (trancount_ > 0) {
      try {
        connection_->Exec("ROLLBACK");
      } catch (const SqliteError&) {
      }
    }
    trancount_ = 0;
    SettleLocks();
    attached_.clear();
    connection_.reset();
  }
}

void SessionImpl::Cancel() {
  if (running_) cancelled_ = true;
}

void SessionImpl::MarkBroken() {
  // An ended session's transaction is rolled back at once, so its locks do not outlive it;
  // a batch still running does so itself as it unwinds. An idle session rolls back before it is
  // marked: the mark stops every SQLite step, the rollback's catalogue reload included.
  std::unique_lock idle(execute_mutex_, std::try_to_lock);
  if (idle.owns_lock()) {
    AbandonTransaction();
    broken_ = true;
    return;
  }
  broken_ = true;
  if (connection_) sqlite3_interrupt(connection_->get());
}

void SessionImpl::AbandonTransaction() {
  if (trancount_ > 0 && connection_) RollbackTransaction();
}

std::string SessionImpl::CurrentDatabase() const {
  auto record = instance_->FindDatabase(current_dbid_.load());
  return record ? record->name : std::string();
}

// --- databases ---------------------------------------------------------------------------

AttachedDatabase& SessionImpl::Attach(const DatabaseRecord& record) {
  if (attached_.size() >= kMaxAttached) {
    // Lets go of the database used least lately, never the current one or master.
    int victim = 0;
    std::uint64_t oldest = UINT64_MAX;
    for (const auto& [dbid, db] : attached_)
      if (dbid != current_dbid() && dbid != 1 && db.last_used < oldest) {
        oldest = db.last_used;
        victim = dbid;
      }
    if (victim != 0 && sqlite3_get_autocommit(connection_->get())) Detach(victim);
  }
  std::error_code ec;
  if (!std::filesystem::exists(record.data_host, ec)) throw errors::Raise<945>(record.name);
  std::string schema = "d" + std::to_string(record.dbid);
  try {
    Statement attach = connection_->Prepare("ATTACH DATABASE ? AS " + QuoteIdentifier(schema));
    attach.Bind(1, Value(record.data_host.string()));
    attach.Step();
  } catch (const SqliteError& e) {
    throw errors::Raise<40001>(record.name, e.what());
  }
  // The file is in WAL mode already; the lighter sync level is set when no transaction is
  // open (SQLite refuses it inside one).
  if (sqlite3_get_autocommit(connection_->get())) {
    connection_->Exec("PRAGMA " + QuoteIdentifier(schema) + ".synchronous = NORMAL; PRAGMA " +
                      QuoteIdentifier(schema) + ".journal_size_limit = 67108864");
    // The write-ahead log and its index stay beside the file when the last session leaves, the
    // log cut to nothing (which the limit above makes it do), instead of being deleted and made
    // again by the next session: those two file creations were a third of opening a session.
    // Detaching and dropping the database still remove them.
    int persist = 1;
    sqlite3_file_control(connection_->get(), schema.c_str(), SQLITE_FCNTL_PERSIST_WAL, &persist);
  }
  AttachedDatabase db;
  db.dbid = record.dbid;
  db.schema = schema;
  db.generation = instance_->CatalogGeneration(record.dbid);
  struct stat st {};
  if (::stat(record.data_host.c_str(), &st) == 0) {
    db.file_device = static_cast<std::uint64_t>(st.st_dev);
    db.file_inode = static_cast<std::uint64_t>(st.st_ino);
  }
  db.catalog = std::make_unique<Catalog>(record.dbid, record.name, schema);
  db.catalog->Load(*connection_);
  db.last_used = ++use_counter_;
  auto [it, inserted] = attached_.emplace(record.dbid, std::move(db));
  return it->second;
}

void SessionImpl::Detach(int dbid) {
  auto it = attached_.find(dbid);
  if (it == attached_.end()) return;
  connection_->ClearCache();
  try {
    connection_->Exec("DETACH DATABASE " + QuoteIdentifier(it->second.schema));
  } catch (const SqliteError&) {
    // Still in use inside a transaction: it stays attached (and known) until later.
    return;
  }
  attached_.erase(it);
}

void SessionImpl::ForgetDatabase(int dbid) {
  if (trancount_ == 0)
    Detach(dbid);
  else
    attached_.erase(dbid);
}

AttachedDatabase& SessionImpl::Database(std::string_view name) {
  auto record = instance_->FindDatabase(name);
  if (!record) throw errors::UnknownDatabase(name);
  return Database(record->dbid);
}

AttachedDatabase& SessionImpl::Database(int dbid) {
  auto it = attached_.find(dbid);
  if (it != attached_.end()) {
    AttachedDatabase& db = it->second;
    db.last_used = ++use_counter_;
    std::uint64_t generation = instance_->CatalogGeneration(dbid);
    if (generation != db.generation) {
      db.catalog->Load(*connection_);
      auto record = instance_->FindDatabase(dbid);
      if (record && record->name != db.catalog->name())
        db.catalog = std::make_unique<Catalog>(dbid, record->name, db.schema),
        db.catalog->Load(*connection_);
      db.generation = generation;
    }
    return db;
  }
  auto record = instance_->FindDatabase(dbid);
  if (!record) throw errors::UnknownDatabase(std::to_string(dbid));
  return Attach(*record);
}

void SessionImpl::CatalogChanged(int dbid) {
  if (std::find(changed_catalogs_.begin(), changed_catalogs_.end(), dbid) ==
      changed_catalogs_.end())
    changed_catalogs_.push_back(dbid);
  // Counted by every change, not only a transaction's first: a failed statement's count is
  // undone with it, and the changes after it must still count.
  auto it = attached_.find(dbid);
  if (it != attached_.end()) it->second.catalog->CountChange(*connection_);
}

void SessionImpl::CatalogCommitted() {
  for (int dbid : changed_catalogs_) {
    instance_->BumpCatalogGeneration(dbid);
    auto it = attached_.find(dbid);
    if (it != attached_.end()) it->second.generation = instance_->CatalogGeneration(dbid);
  }
  changed_catalogs_.clear();
  spent_identities_.clear();
}

void SessionImpl::SpendIdentity(int dbid, std::int64_t table_id, const IdentityState& state) {
  if (state.current) spent_identities_[{dbid, table_id}] = state;
}

void SessionImpl::KeepSpentIdentities() {
  for (const auto& [key, spent] : spent_identities_) {
    auto it = attached_.find(key.first);
    if (it == attached_.end()) continue;
    Catalog& catalog = *it->second.catalog;
    std::optional<std::int64_t> now = catalog.IdentityCurrent(*connection_, key.second);
    if (!now || (spent.increment > 0 ? *now < *spent.current : *now > *spent.current))
      catalog.SetIdentityCurrent(*connection_, key.second, *spent.current);
  }
  if (trancount_ == 0) spent_identities_.clear();
}

void SessionImpl::CatalogRolledBack() {
  KeepSpentIdentities();
  for (int dbid : changed_catalogs_) {
    auto it = attached_.find(dbid);
    if (it != attached_.end()) it->second.catalog->Load(*connection_);
  }
  changed_catalogs_.clear();
  // #tables created in the rolled back work are gone from SQLite too.
  for (auto it = temp_tables_.begin(); it != temp_tables_.end();) {
    bool exists = false;
    Statement check =
        connection_->Prepare("SELECT 1 FROM temp.sqlite_master WHERE type = 'table' AND name = ?");
    check.Bind(1, Value(it->second.info.storage_name));
    exists = check.Step();
    it = exists ? std::next(it) : temp_tables_.erase(it);
  }
}

void SessionImpl::RefreshAttachments() {
  // Tables, views and users made, changed or dropped by another process (or another session)
  // are seen by this session's next batch.
  for (auto& [dbid, db] : attached_) {
    try {
      if (db.catalog->ChangedElsewhere()) db.catalog->Load(*connection_);
    } catch (const SqliteError&) {
      // A file another process is taking away: what follows finds out, and the batch says so.
    }
  }
  std::uint64_t generation = instance_->DropGeneration();
  if (generation == seen_drop_generation_) return;
  seen_drop_generation_ = generation;
  std::vector<int> gone;
  for (const auto& [dbid, db] : attached_) {
    auto record = instance_->FindDatabase(dbid);
    struct stat st {};
    bool same_file = record && ::stat(record->data_host.c_str(), &st) == 0 &&
                     static_cast<std::uint64_t>(st.st_dev) == db.file_device &&
                     static_cast<std::uint64_t>(st.st_ino) == db.file_inode;
    if (!record || record->name != db.catalog->name() || !same_file) gone.push_back(dbid);
  }
  for (int dbid : gone) {
    // Work written into a database that has gone since cannot be committed: the session ends
    // as a server ends the connections of a database it takes away.
    std::string schema = attached_.at(dbid).schema;
    if (trancount_ > 0 &&
        sqlite3_txn_state(connection_->get(), schema.c_str()) == SQLITE_TXN_WRITE) {
      AbandonTransaction();
      broken_ = true;
      throw SessionError(SessionError::Kind::kBroken,
                         "General network error. Check your network documentation.");
    }
    Detach(dbid);
  }
  if (!instance_->FindDatabase(current_dbid())) current_dbid_ = 1;
}

bool SessionImpl::KilledElsewhere() {
  auto now = std::chrono::steady_clock::now();
  if (now < next_kill_check_) return false;
  next_kill_check_ = now + std::chrono::milliseconds(200);
  return instance_->SessionKilled(spid_);
}

void SessionImpl::EnterDatabase(const DatabaseRecord& record) {
  instance_->EnterDatabase(spid_, record);
  current_dbid_ = record.dbid;
}

std::string SessionImpl::UserName(AttachedDatabase& db) {
  const PrincipalInfo* user = DatabaseUser(*this, db);
  return user ? user->name : "guest";
}

int SessionImpl::UserId(AttachedDatabase& db) {
  const PrincipalInfo* user = DatabaseUser(*this, db);
  return user ? user->uid : kGuestUid;
}

void SessionImpl::RefreshLogin() {
  // Server roles granted or taken count from the next batch on, even when another process
  // changed them. A login denied or dropped meanwhile keeps its open sessions as they are, as
  // on SQL Server; only new connections are refused.
  std::optional<LoginRecord> now = Reauthenticate(*instance_, request_);
  // Other sessions read this record (sp_who, sysprocesses): it is replaced only on a change.
  if (now &&
      (now->server_roles != login_.server_roles || now->sid != login_.sid ||
       now->group_sids != login_.group_sids || now->default_database != login_.default_database))
    login_ = std::move(*now);
}

TempTable* SessionImpl::FindTemp(std::string_view name) {
  auto it = temp_tables_.find(Lower(name));
  return it == temp_tables_.end() ? nullptr : &it->second;
}

std::string SessionImpl::InputBuffer() const {
  std::lock_guard input(input_mutex_);
  return input_buffer_;
}

// --- transactions ------------------------------------------------------------------------

void SessionImpl::BeginTransaction() {
  if (trancount_ == 0) {
    connection_->Exec("BEGIN");
    transaction_started_ = DateTimeToStorage(common::DateTime::Now());
  }
  ++trancount_;
}

void SessionImpl::CommitTransaction() {
  if (trancount_ == 1) {
    connection_->Exec("COMMIT");
    savepoints_.clear();
    CatalogCommitted();
  }
  if (trancount_ > 0) --trancount_;
  SettleLocks();
}

void SessionImpl::RollbackTransaction() {
  if (trancount_ == 0) return;
  try {
    connection_->Exec("ROLLBACK");
  } catch (const SqliteError&) {
  }
  trancount_ = 0;
  savepoints_.clear();
  CatalogRolledBack();
  SettleLocks();
}

void SessionImpl::Savepoint(const std::string& name) {
  connection_->Exec("SAVEPOINT " + QuoteIdentifier("user$" + Lower(name)));
  savepoints_.push_back(Lower(name));
}

bool SessionImpl::HasSavepoint(const std::string& name) const {
  return std::find(savepoints_.begin(), savepoints_.end(), Lower(name)) != savepoints_.end();
}

void SessionImpl::RollbackToSavepoint(const std::string& name) {
  connection_->Exec("ROLLBACK TO " + QuoteIdentifier("user$" + Lower(name)));
  CatalogRolledBack();
}

// --- batches -----------------------------------------------------------------------------

std::shared_ptr<const tsql::Batch> SessionImpl::ParsedProcedure(const std::string& text) {
  auto it = parsed_procedures_.find(text);
  if (it != parsed_procedures_.end()) return it->second;
  std::shared_ptr<const tsql::Batch> batch;
  try {
    batch = std::make_shared<const tsql::Batch>(tsql::ParseBatch(text));
  } catch (const tsql::ParseError& e) {
    throw SqlError(e.number(), e.severity(), e.message(), ErrorScope::kBatch, e.state());
  }
  parsed_procedures_.emplace(text, batch);
  return batch;
}

const tsql::Expr& SessionImpl::ParsedDefault(const std::string& text) {
  auto it = parsed_defaults_.find(text);
  if (it != parsed_defaults_.end()) return *it->second;
  tsql::ExprPtr expr;
  try {
    expr = tsql::ParseExpression(text);
  } catch (const tsql::ParseError& e) {
    throw SqlError(e.number(), e.severity(), e.message(), ErrorScope::kStatement, e.state());
  }
  return *parsed_defaults_.emplace(text, std::move(expr)).first->second;
}

void SessionImpl::Execute(std::string_view batch, std::vector<Parameter>& parameters,
                          ResultSink& sink, std::chrono::milliseconds timeout) {
  std::lock_guard running(execute_mutex_);
  if (closed_) throw SessionError(SessionError::Kind::kBroken, "The connection is closed.");
  if (broken_ || !instance_->running() || instance_->SessionKilled(spid_)) {
    // A KILL from another process is noticed here: the session ends as it would have there.
    AbandonTransaction();
    broken_ = true;
    throw SessionError(SessionError::Kind::kBroken,
                       "General network error. Check your network documentation.");
  }
  next_kill_check_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  bool new_text = false;
  {
    std::lock_guard input(input_mutex_);
    new_text = input_buffer_ != batch.substr(0, 4000);
    input_buffer_.assign(batch.substr(0, 4000));
  }
  // Other processes' DBCC INPUTBUFFER reads it from the instance; a repeated batch is there.
  if (new_text) instance_->PublishInputBuffer(spid_, std::string(batch.substr(0, 1024)));
  // A cancel asked for before this batch (after the last one ended) is not this batch's.
  cancelled_ = false;
  running_ = true;
  struct Finished {
    std::atomic<bool>& running;
    ~Finished() { running = false; }
  } finished{running_};
  has_deadline_ = timeout.count() > 0;
  if (has_deadline_) deadline_ = std::chrono::steady_clock::now() + timeout;
  RefreshAttachments();
  RefreshLogin();

  tsql::Batch parsed;
  try {
    parsed = tsql::ParseBatch(batch, tsql::ParseOptions{options_.quoted_identifier, 128,
                                                        MajorVersionOf(instance_->config())});
  } catch (const tsql::ParseError& e) {
    ServerMessage m;
    m.number = e.number();
    m.severity = e.severity();
    m.state = e.state();
    m.text = e.message();
    m.line = e.line();
    error = e.number();
    try {
      sink.Message(m);
    } catch (const BatchCancelled&) {
      throw SessionError(SessionError::Kind::kCancelled, "The batch was cancelled.");
    }
    return;
  }
  Executor executor(*this, sink, parameters);
  executor_ = &executor;
  try {
    bool rpc = !parameters.empty() && parsed.statements.size() == 1 &&
               parsed.statements[0]->kind == tsql::Statement::Kind::kExecute &&
               parsed.statements[0]->As<tsql::ExecuteStatement>().implicit &&
               parsed.statements[0]->As<tsql::ExecuteStatement>().args.empty() &&
               parsed.parameter_markers == 0;
    if (rpc) {
      executor.RunProcedureCall(parsed.statements[0]->As<tsql::ExecuteStatement>().procedure);
    } else {
      executor.RunBatch(parsed);
    }
  } catch (const Interrupted& interrupted) {
    executor_ = nullptr;
    has_deadline_ = false;
    if (!interrupted.timeout || broken_) {
      AbandonTransaction();
      broken_ = true;
      throw SessionError(SessionError::Kind::kBroken,
                         "General network error. Check your network documentation.");
    }
    throw SessionError(SessionError::Kind::kTimeout, "Timeout expired");
  } catch (const BatchCancelled&) {
    executor_ = nullptr;
    has_deadline_ = false;
    throw SessionError(SessionError::Kind::kCancelled, "The batch was cancelled.");
  }
  executor_ = nullptr;
  has_deadline_ = false;
}

// --- functions ---------------------------------------------------------------------------

std::int64_t SessionImpl::NextIdentity(int) {
  IdentityState& s = identity_state_;
  std::int64_t next = s.current ? *s.current + s.increment : s.seed;
  s.current = next;
  s.used = true;
  return next;
}

double SessionImpl::Random(std::optional<std::int64_t> seed) {
  if (seed) random_.seed(static_cast<std::uint64_t>(*seed));
  return static_cast<double>(random_() >> 11) * 0x1.0p-53;  // [0, 1)
}

Value SessionImpl::SystemFunction(std::string_view name, const std::vector<Value>& args) {
  if (auto value = ObjectFunction(*this, name, args)) return *value;
  auto arg_text = [&](size_t i) {
    return i < args.size() && !args[i].IsNull() ? args[i].ToText() : std::string();
  };
  auto current = [&]() -> AttachedDatabase& { return Database(current_dbid()); };
  if (name == "DB_NAME") {
    auto record = instance_->FindDatabase(static_cast<int>(args.at(0).ToInt().value_or(0)));
    return record ? Value(record->name) : Value();
  }
  if (name == "DB_ID") {
    if (args.empty()) return Value(current_dbid());
    auto record = instance_->FindDatabase(arg_text(0));
    return record ? Value(record->dbid) : Value();
  }
  if (name == "USER_NAME") {
    const PrincipalInfo* p =
        current().catalog->FindPrincipal(static_cast<int>(args.at(0).ToInt().value_or(-1)));
    return p ? Value(p->name) : Value();
  }
  if (name == "USER_ID") {
    if (args.empty()) return Value(UserId(current()));
    const PrincipalInfo* p = current().catalog->FindPrincipal(arg_text(0));
    return p ? Value(p->uid) : Value();
  }
  // Server user ids: the login's row in master's login table, so sa is 1, as on SQL Server.
  auto logins = [&] { return Database(1).catalog->Table(catalog_tables::kLogins); };
  if (name == "SUSER_ID") {
    if (!args.empty() && args[0].IsNull()) return Value();
    Statement find = connection().Prepare("SELECT rowid FROM " + logins() + " WHERE name = ?1");
    find.Bind(1, Value(args.empty() ? login_.name : arg_text(0)));
    return find.Step() ? Value(find.ColumnInt(0)) : Value();
  }
  if (name == "SUSER_NAME" && args.at(0).type() == Value::Type::kInt) {
    Statement find = connection().Prepare("SELECT name FROM " + logins() + " WHERE rowid = ?1");
    find.Bind(1, args[0]);
    return find.Step() ? Value(find.ColumnText(0)) : Value();
  }
  if (name == "SUSER_SNAME" || name == "SUSER_NAME") {
    if (const auto* sid = args.at(0).AsBytes()) {
      if (*sid == login_.sid) return Value(login_.name);
      auto found = instance_->FindLogin(*sid);
      return found ? Value(found->name) : Value();
    }
    return Value();
  }
  if (name == "SUSER_SID") {
    if (args.empty()) return Value(login_.sid);
    std::string login = arg_text(0);
    if (EqualsNoCase(login, login_.name)) return Value(login_.sid);
    auto found = instance_->FindLogin(login);
    return found ? Value(found->sid) : Value();
  }
  if (name == "IS_MEMBER") {
    std::string role = arg_text(0);
    if (IsWindowsName(role)) {
      InstanceConfig config = instance_->config();
      if (LookupWindowsAccount(config, role) != WindowsAccount::kGroup) return Value();
      if (!request_.integrated) return Value(0);
      for (const std::string& group : LocalGroups(*instance_, config, request_.os_user))
        if (EqualsNoCase(group, role)) return Value(1);
      return Value(0);
    }
    AttachedDatabase& db = current();
    const PrincipalInfo* r = db.catalog->FindPrincipal(role);
    if (!r || !r->is_role) return Value();
    // Membership, not rights: sysadmins act as dbo, which is in db_owner (and public) but in
    // no role a database defines itself.
    return Value(HoldsRole(*this, db, r->uid) ? 1 : 0);
  }
  if (name == "IS_SRVROLEMEMBER") {
    static const std::pair<const char*, int> kRoles[] = {
        {"sysadmin", kSysadmin},         {"securityadmin", kSecurityadmin},
        {"serveradmin", kServeradmin},   {"setupadmin", kSetupadmin},
        {"processadmin", kProcessadmin}, {"diskadmin", kDiskadmin},
        {"dbcreator", kDbcreator},       {"bulkadmin", kBulkadmin}};
    int bit = 0;
    for (const auto& [role, value] : kRoles)
      if (EqualsNoCase(role, arg_text(0))) bit = value;
    if (bit == 0) return Value();
    int roles = login_.server_roles;
    if (args.size() > 1 && !args[1].IsNull()) {
      auto found = instance_->FindLogin(arg_text(1));
      if (!found) return Value();
      roles = found->server_roles;
    }
    return Value((roles & kSysadmin) || (roles & bit) ? 1 : 0);
  }
  if (name == "HAS_DBACCESS") {
    auto record = instance_->FindDatabase(arg_text(0));
    if (!record) return Value();
    try {
      return Value(HasDatabaseAccess(*this, Database(record->dbid)) ? 1 : 0);
    } catch (const SqlError&) {
      return Value(0);  // a database that cannot be opened gives no access
    }
  }
  if (name == "SERVERPROPERTY") {
    InstanceConfig config = instance_->config();
    std::string property = Lower(arg_text(0));
    if (property == "productversion") return Value(config.product_version);
    if (property == "productlevel") return Value(config.product_level);
    if (property == "edition") return Value(config.edition);
    if (property == "collation") return Value(config.collation);
    if (property == "servername") return Value(instance_->ServerName());
    if (property == "machinename") return Value(config.machine_name);
    if (property == "instancename")
      return instance_->name() == "MSSQLSERVER" ? Value() : Value(instance_->name());
    if (property == "isfulltextinstalled") return Value(config.full_text_installed ? 1 : 0);
    if (property == "isintegratedsecurityonly")
      return Value(config.login_mode == LoginMode::kWindowsOnly ? 1 : 0);
    if (property == "isclustered") return Value(0);
    if (property == "engineedition") return Value(3);
    if (property == "licensetype") return Value("DISABLED");
    return Value();
  }
  if (name == "DATABASEPROPERTY" || name == "DATABASEPROPERTYEX")
    return DatabaseProperty(*this, arg_text(0), arg_text(1), name == "DATABASEPROPERTYEX");
  if (name == "FULLTEXTSERVICEPROPERTY") {
    std::string property = Lower(arg_text(0));
    if (property == "isfulltextinstalled")
      return Value(instance_->config().full_text_installed ? 1 : 0);
    return Value(0);
  }
  if (name == "FULLTEXTCATALOGPROPERTY")
    return FullTextCatalogProperty(*this, current(), arg_text(0), arg_text(1));
  if (name == "ISDATE") {
    if (args.empty() || args[0].IsNull()) return Value(0);
    return Value(ParseDateText(arg_text(0), options_.dates) ? 1 : 0);
  }
  if (name == "ISNUMERIC") {
    if (args.empty() || args[0].IsNull()) return Value(0);
    if (args[0].type() == Value::Type::kInt || args[0].type() == Value::Type::kDouble)
      return Value(1);
    std::string text = arg_text(0);
    try {
      size_t pos = 0;
      std::stod(text, &pos);
      while (pos < text.size() && text[pos] == ' ') ++pos;
      return Value(pos == text.size() ? 1 : 0);
    } catch (...) {
      return Value(0);
    }
  }
  if (name == "FILE_PAGES") {
    auto host = instance_->machine().ToHost(arg_text(0));
    std::error_code ec;
    if (!host) return Value(0);
    auto size = std::filesystem::file_size(*host, ec);
    if (ec) return Value(0);
    return Value(static_cast<long long>((size + 8191) / 8192));
  }
  if (name == "PERMISSIONS") {
    AttachedDatabase& db = current();
    if (args.empty() || args[0].IsNull())
      return Value(static_cast<long long>(PermissionBits(*this, db, nullptr)));
    const ObjectInfo* info = db.catalog->FindById(args[0].ToInt().value_or(0));
    if (!info) return Value();
    return Value(static_cast<long long>(PermissionBits(*this, db, info)));
  }
  throw errors::Raise<195>(name, "function name");
}

}  // namespace sandbox
