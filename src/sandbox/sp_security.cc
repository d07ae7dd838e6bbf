// Logins, server roles, database users, roles and owners: the system procedures of SQL Server
// 2000 that manage them, with its permission rules, messages and errors.
#include <algorithm>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/logins.h"
#include "sandbox/messages.h"
#include "sandbox/password.h"
#include "sandbox/result_columns.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

using common::Value;
namespace ct = catalog_tables;

namespace {

constexpr int kDbAccessAdminUid = 16385;
constexpr int kDbSecurityAdminUid = 16386;
constexpr size_t kMaxPassword = 128;

SqlError NoPermission() { return errors::Raise<15247>(); }
SqlError NoSuchLogin(std::string_view name) { return errors::Raise<15007>(name); }
SqlError NoSuchDatabase(std::string_view name) { return errors::Raise<15010>(name); }
SqlError Reserved(std::string_view name) { return errors::Raise<15405>(name); }
SqlError InvalidName(std::string_view name) { return errors::Raise<15006>(name); }
SqlError NoSuchRole(std::string_view name) { return errors::Raise<15014>(name); }
SqlError NotARole(std::string_view name) { return errors::Raise<15409>(name); }

// Changes of the catalogue go in their own savepoint: a procedure that fails half-way leaves
// nothing behind, and other sessions learn of the changes once they are committed.
class Change {
 public:
  explicit Change(SessionImpl& session) : session_(session) {
    session_.connection().Exec("SAVEPOINT \"security$change\"");
  }
  ~Change() {
    if (done_) return;
    try {
      session_.connection().Exec("ROLLBACK TO \"security$change\"; RELEASE \"security$change\"");
    } catch (const SqliteError&) {
      // The transaction ended under the procedure already.
    }
    if (session_.trancount() == 0) session_.CatalogRolledBack();
  }
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;

  void Commit() {
    session_.connection().Exec("RELEASE \"security$change\"");
    done_ = true;
    if (session_.trancount() == 0) session_.CatalogCommitted();
  }

 private:
  SessionImpl& session_;
  bool done_ = false;
};

// Security procedures refuse to run inside a user's transaction, as SQL Server's do.
void NotInTransaction(Executor& executor, std::string_view procedure) {
  if (executor.session().trancount() > 0) throw errors::Raise<15002>(procedure);
}

// The text of a required name argument: 201 when it was left out, 15004 when it is NULL.
std::string RequiredName(const SystemArguments& args, std::string_view procedure,
                         std::string_view parameter) {
  if (!args.Given(parameter)) throw errors::MissingArgument(procedure, parameter);
  if (args.Get(parameter).IsNull()) throw errors::Raise<15004>();
  std::string name = args.Text(parameter);
  CheckIdentifier(name);
  return name;
}

LoginTable Logins(Executor& executor) {
  AttachedDatabase& master = executor.session().Database(1);
  return LoginTable(executor.session().connection(), master.catalog->Table(ct::kLogins));
}

void RequireLoginAdmin(Executor& executor) {
  if (!HasServerRole(executor.session(), kSecurityadmin)) throw NoPermission();
}

AttachedDatabase& CurrentDatabase(Executor& executor) {
  AttachedDatabase& db = executor.Db();
  if (!HasDatabaseAccess(executor.session(), db))
    throw errors::Raise<916>(executor.session().login().name, db.catalog->name());
  return db;
}

bool IsLoggedIn(InstanceImpl& instance, const common::Bytes& sid) {
  for (const SessionEntry& session : instance.Sessions())
    if (session.sid == sid) return true;
  return false;
}

// The databases a login owns, in dbid order.
std::vector<std::string> OwnedDatabases(InstanceImpl& instance, const common::Bytes& sid) {
  std::vector<std::string> names;
  for (const DatabaseRecord& record : instance.Databases())
    if (record.owner_sid == sid) names.push_back(record.name);
  return names;
}

// Refuses to take away a login that still owns databases: the error, then their list, as SQL
// Server's procedure raises it and then selects them. True when refused.
bool RefuseDatabaseOwner(Executor& executor, const LoginRecord& login, const char* procedure) {
  std::vector<std::string> owned = OwnedDatabases(executor.session().instance(), login.sid);
  if (owned.empty()) return false;
  ServerMessage m;
  m.number = 15174;
  m.severity = 16;
  m.text = "Login '" + login.name +
           "' owns one or more database(s). Change the owner of the following database(s) "
           "before dropping login:";
  m.procedure = procedure;
  executor.sink().Message(m);
  OutputColumn column;
  column.name = "name";
  column.type = SqlType::NVarChar(128);
  std::vector<std::vector<Value>> rows;
  for (const std::string& name : owned) rows.push_back({Value(name)});
  executor.SendRows({column}, rows);
  executor.session().error = m.number;
  return true;
}

// Databases in which a login's SID is a user (dbo aside, which ownership covers).
std::vector<std::string> MappedDatabases(Executor& executor, const common::Bytes& sid) {
  std::vector<std::string> names;
  SessionImpl& session = executor.session();
  for (const DatabaseRecord& record : session.instance().Databases()) {
    try {
      AttachedDatabase& db = session.Database(record.dbid);
      const PrincipalInfo* user = db.catalog->FindUserBySid(sid);
      if (user && user->uid != kDboUid) names.push_back(record.name);
    } catch (const SqlError&) {
      // A database that cannot be opened keeps its users to itself.
    }
  }
  return names;
}

// Grants or denies a Windows account or group its login, creating it when there is none.
std::int64_t SetWindowsLogin(Executor& executor, std::vector<ProcedureArgument>& arguments,
                             const char* procedure, bool deny) {
  SystemArguments args(procedure, arguments, {"@loginame"});
  std::string name = RequiredName(args, procedure, "@loginame");
  RequireLoginAdmin(executor);
  NotInTransaction(executor, procedure);
  SessionImpl& session = executor.session();
  if (!IsWindowsName(name)) throw errors::Raise<15407>(name);
  InstanceConfig config = session.instance().config();
  WindowsAccount account = LookupWindowsAccount(config, name);
  if (account == WindowsAccount::kUnknown) throw errors::Raise<15401>(name);
  LoginTable logins = Logins(executor);
  Change change(session);
  if (std::optional<LoginRecord> login = logins.Find(name)) {
    login->deny = deny;
    logins.Update(*login);
  } else {
    LoginRecord fresh;
    fresh.sid = SidForName(name);
    fresh.name = name;
    fresh.is_nt_name = true;
    fresh.is_nt_group = account == WindowsAccount::kGroup;
    fresh.deny = deny;
    logins.Insert(fresh);
  }
  session.CatalogChanged(1);
  change.Commit();
  executor.Info(0, (deny ? "Denied login access to '" : "Granted login access to '") + name + "'.",
                0);
  return 0;
}

// --- logins ------------------------------------------------------------------------------

// sp_addlogin @loginame, @passwd, @defdb, @deflanguage, @sid, @encryptopt
std::int64_t AddLogin(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_addlogin", arguments,
                       {"@loginame", "@passwd", "@defdb", "@deflanguage", "@sid", "@encryptopt"});
  std::string name = RequiredName(args, "sp_addlogin", "@loginame");
  RequireLoginAdmin(executor);
  NotInTransaction(executor, "sp_addlogin");
  SessionImpl& session = executor.session();
  if (name.empty() || name.find('\\') != std::string::npos) throw InvalidName(name);
  std::string password = args.Text("@passwd");
  if (CodePointCount(password) > kMaxPassword) throw errors::Raise<15156>();
  std::string database = args.Get("@defdb").IsNull() ? "master" : args.Text("@defdb");
  auto record = session.instance().FindDatabase(database);
  if (!record) throw NoSuchDatabase(database);
  LoginTable logins = Logins(executor);
  if (logins.Find(name)) throw errors::Raise<15025>(name);
  LoginRecord login;
  login.name = name;
  login.default_database = record->name;
  login.password_hash = HashPassword(password);
  const Value given_sid = args.Get("@sid");
  if (const common::Bytes* sid = given_sid.AsBytes()) {
    if (sid->size() != 16) throw errors::Raise<15419>();
    if (logins.Find(*sid)) throw errors::Raise<15433>();
    login.sid = *sid;
  } else {
    do login.sid = SidForName(name);
    while (logins.Find(login.sid));
  }
  Change change(session);
  logins.Insert(login);
  session.CatalogChanged(1);
  change.Commit();
  executor.Info(0, "New login created.", 0);
  return 0;
}

// sp_droplogin @loginame
std::int64_t DropLogin(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_droplogin", arguments, {"@loginame"});
  std::string name = RequiredName(args, "sp_droplogin", "@loginame");
  RequireLoginAdmin(executor);
  NotInTransaction(executor, "sp_droplogin");
  SessionImpl& session = executor.session();
  LoginTable logins = Logins(executor);
  std::optional<LoginRecord> login = logins.Find(name);
  if (!login || login->is_nt_name || login->is_nt_group) throw NoSuchLogin(name);
  if (login->sid == common::Bytes{1}) throw Reserved(login->name);
  if (IsLoggedIn(session.instance(), login->sid)) throw errors::Raise<15434>(login->name);
  if (RefuseDatabaseOwner(executor, *login, "sp_droplogin")) return 1;
  if (!MappedDatabases(executor, login->sid).empty()) throw errors::Raise<15175>(login->name);
  Change change(session);
  logins.Remove(login->sid);
  session.CatalogChanged(1);
  change.Commit();
  executor.Info(0, "Login dropped.", 0);
  return 0;
}

// sp_grantlogin @loginame
std::int64_t GrantLogin(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  return SetWindowsLogin(executor, arguments, "sp_grantlogin", false);
}

// sp_denylogin @loginame
std::int64_t DenyLogin(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  return SetWindowsLogin(executor, arguments, "sp_denylogin", true);
}

// sp_revokelogin @loginame
std::int64_t RevokeLogin(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_revokelogin", arguments, {"@loginame"});
  std::string name = RequiredName(args, "sp_revokelogin", "@loginame");
  RequireLoginAdmin(executor);
  NotInTransaction(executor, "sp_revokelogin");
  SessionImpl& session = executor.session();
  if (!IsWindowsName(name)) throw errors::Raise<15407>(name);
  LoginTable logins = Logins(executor);
  std::optional<LoginRecord> login = logins.Find(name);
  // An account without a login entry has nothing to revoke.
  if (!login || !(login->is_nt_name || login->is_nt_group)) return 0;
  if (RefuseDatabaseOwner(executor, *login, "sp_revokelogin")) return 1;
  Change change(session);
  logins.Remove(login->sid);
  session.CatalogChanged(1);
  change.Commit();
  executor.Info(0, "Revoked login access from '" + login->name + "'.", 0);
  return 0;
}

// sp_password @old, @new, @loginame
std::int64_t Password(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_password", arguments, {"@old", "@new", "@loginame"});
  NotInTransaction(executor, "sp_password");
  SessionImpl& session = executor.session();
  std::string name = args.Get("@loginame").IsNull() ? session.login().name : args.Text("@loginame");
  CheckIdentifier(name);
  LoginTable logins = Logins(executor);
  std::optional<LoginRecord> login = logins.Find(name);
  bool own = login && login->sid == session.login().sid;
  // Another login's password is for the security administrators to set; one's own needs the
  // old one, and so does a sysadmin's password set by someone who is no sysadmin.
  if (!own && !HasServerRole(session, kSecurityadmin)) throw NoPermission();
  if (!login || login->is_nt_name || login->is_nt_group) throw NoSuchLogin(name);
  bool needs_old = own || (login->server_roles & kSysadmin) != 0;
  if (needs_old && !session.IsSysadmin()) {
    std::string old = args.Text("@old");
    bool matches = login->password_hash ? VerifyPassword(*login->password_hash, old) : old.empty();
    if (!matches) throw errors::Raise<15211>();
  }
  std::string password = args.Text("@new");
  if (CodePointCount(password) > kMaxPassword) throw errors::Raise<15156>();
  login->password_hash = HashPassword(password);
  Change change(session);
  logins.Update(*login);
  session.CatalogChanged(1);
  change.Commit();
  executor.Info(0, "Password changed.", 0);
  return 0;
}

// sp_defaultdb @loginame, @defdb
std::int64_t DefaultDb(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_defaultdb", arguments, {"@loginame", "@defdb"});
  std::string name = RequiredName(args, "sp_defaultdb", "@loginame");
  std::string database = RequiredName(args, "sp_defaultdb", "@defdb");
  NotInTransaction(executor, "sp_defaultdb");
  SessionImpl& session = executor.session();
  LoginTable logins = Logins(executor);
  std::optional<LoginRecord> login = logins.Find(name);
  bool own = login && login->sid == session.login().sid;
  if (!own && !HasServerRole(session, kSecurityadmin)) throw NoPermission();
  if (!login) throw NoSuchLogin(name);
  auto record = session.instance().FindDatabase(database);
  if (!record) throw NoSuchDatabase(database);
  login->default_database = record->name;
  Change change(session);
  logins.Update(*login);
  session.CatalogChanged(1);
  change.Commit();
  executor.Info(0, "Default database changed.", 0);
  return 0;
}

// --- server roles ------------------------------------------------------------------------

std::int64_t ChangeServerRole(Executor& executor, std::vector<ProcedureArgument>& arguments,
                              const char* procedure, bool add) {
  SystemArguments args(procedure, arguments, {"@loginame", "@rolename"});
  std::string name = RequiredName(args, procedure, "@loginame");
  std::string role = RequiredName(args, procedure, "@rolename");
  SessionImpl& session = executor.session();
  int bit = ServerRoleBit(role);
  if (bit == 0) throw errors::Raise<15402>(role);
  // sysadmin may change every role, the members of a role that role only.
  if (!HasServerRole(session, bit)) throw NoPermission();
  NotInTransaction(executor, procedure);
  LoginTable logins = Logins(executor);
  std::optional<LoginRecord> login = logins.Find(name);
  if (!login) throw NoSuchLogin(name);
  if (!add && bit == kSysadmin && login->sid == common::Bytes{1}) throw Reserved(login->name);
  for (const ServerRoleInfo& r : FixedServerRoles())
    if (r.bit == bit) role = r.name;
  login->server_roles = add ? (login->server_roles | bit) : (login->server_roles & ~bit);
  Change change(session);
  logins.Update(*login);
  session.CatalogChanged(1);
  change.Commit();
  executor.Info(
      0, "'" + login->name + (add ? "' added to role '" : "' dropped from role '") + role + "'.",
      0);
  return 0;
}

// sp_addsrvrolemember @loginame, @rolename
std::int64_t AddServerRoleMember(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  return ChangeServerRole(executor, arguments, "sp_addsrvrolemember", true);
}

// sp_dropsrvrolemember @loginame, @rolename
std::int64_t DropServerRoleMember(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  return ChangeServerRole(executor, arguments, "sp_dropsrvrolemember", false);
}

SqlType SysName() { return SqlType::NVarChar(128); }
SqlType Sid() { return SqlType{TypeKind::kVarBinary, 85}; }

// sp_helpsrvrolemember @srvrolename
std::int64_t HelpServerRoleMember(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helpsrvrolemember", arguments, {"@srvrolename"});
  std::string wanted = args.Text("@srvrolename");
  if (!wanted.empty() && ServerRoleBit(wanted) == 0) throw errors::Raise<15412>(wanted);
  std::vector<LoginRecord> logins = Logins(executor).All();
  std::vector<std::vector<Value>> rows;
  for (const ServerRoleInfo& role : FixedServerRoles()) {
    if (!wanted.empty() && !EqualsNoCase(wanted, role.name)) continue;
    for (const LoginRecord& login : logins)
      if (login.server_roles & role.bit)
        rows.push_back({Value(role.name), Value(login.name), Value(login.sid)});
  }
  executor.SendRows({Col("ServerRole", SysName(), false), Col("MemberName", SysName(), false),
                     Col("MemberSID", Sid())},
                    rows);
  return 0;
}

// sp_helpsrvrole @srvrolename
std::int64_t HelpServerRole(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helpsrvrole", arguments, {"@srvrolename"});
  std::string wanted = args.Text("@srvrolename");
  if (!wanted.empty() && ServerRoleBit(wanted) == 0) throw errors::Raise<15412>(wanted);
  std::vector<std::vector<Value>> rows;
  for (const ServerRoleInfo& role : FixedServerRoles())
    if (wanted.empty() || EqualsNoCase(wanted, role.name))
      rows.push_back({Value(role.name), Value(role.description)});
  executor.SendRows(
      {Col("ServerRole", SysName(), false), Col("Description", SqlType::NVarChar(70))}, rows);
  return 0;
}

// sp_helplogins @LoginNamePattern
std::int64_t HelpLogins(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helplogins", arguments, {"@LoginNamePattern"});
  RequireLoginAdmin(executor);
  std::string pattern =
      args.Get("@LoginNamePattern").IsNull() ? "%" : args.Text("@LoginNamePattern");
  SessionImpl& session = executor.session();
  std::vector<LoginRecord> logins;
  for (LoginRecord& login : Logins(executor).All())
    if (EqualsNoCase(login.name, pattern) || LikeMatch(pattern, login.name))
      logins.push_back(std::move(login));
  if (logins.empty()) throw NoSuchLogin(pattern);
  std::vector<std::vector<Value>> summary, detail;
  for (const LoginRecord& login : logins) {
    bool has_user = false;
    for (const DatabaseRecord& record : session.instance().Databases()) {
      AttachedDatabase* db = nullptr;
      try {
        db = &session.Database(record.dbid);
      } catch (const SqlError&) {
        continue;
      }
      const PrincipalInfo* user = db->catalog->FindUserBySid(login.sid);
      if (!user) continue;
      has_user = true;
      detail.push_back({Value(login.name), Value(record.name), Value(user->name), Value("User")});
      for (int uid : MembershipsOf(session, *db, user->uid)) {
        const PrincipalInfo* role = db->catalog->FindPrincipal(uid);
        if (!role || uid == user->uid || uid == kPublicUid) continue;
        detail.push_back(
            {Value(login.name), Value(record.name), Value(role->name), Value("MemberOf")});
      }
    }
    summary.push_back({Value(login.name), Value(login.sid), Value(login.default_database),
                       Value("us_english"), Value(has_user ? "yes" : ""), Value("no")});
  }
  executor.SendRows(
      {Col("LoginName", SysName(), false), Col("SID", Sid()), Col("DefDBName", SysName()),
       Col("DefLangName", SysName()), Col("AUser", SqlType{TypeKind::kChar, 5}),
       Col("ARemote", SqlType{TypeKind::kChar, 7})},
      summary);
  executor.SendRows({Col("LoginName", SysName(), false), Col("DBName", SysName()),
                     Col("UserName", SysName()), Col("UserOrAlias", SqlType{TypeKind::kChar, 8})},
                    detail);
  return 0;
}

// --- database users and roles ----------------------------------------------------------

void ReloadPrincipals(SessionImpl& session, AttachedDatabase& db) {
  db.catalog->LoadPrincipals(session.connection());
  session.CatalogChanged(db.dbid);
}

int NextUid(SessionImpl& session, AttachedDatabase& db, bool role) {
  // Users take the free numbers from 5, roles those from 16400, as SQL Server hands them out.
  int first = role ? kFirstRoleUid : kFirstUserUid;
  int limit = role ? 32767 : kDbOwnerUid - 1;
  CachedStatement used(session.connection(), "SELECT uid FROM " + db.catalog->Table(ct::kUsers) +
                                                 " WHERE uid BETWEEN ? AND ? ORDER BY uid");
  used.Bind(1, Value(first));
  used.Bind(2, Value(limit));
  int next = first;
  while (used.Step()) {
    if (used.ColumnInt(0) != next) break;
    ++next;
  }
  if (next > limit) throw errors::Raise<15065>();
  return next;
}

void InsertPrincipal(SessionImpl& session, AttachedDatabase& db, const PrincipalInfo& p) {
  std::string now = DateTimeToStorage(common::DateTime::Now());
  CachedStatement insert(session.connection(),
                         "INSERT INTO " + db.catalog->Table(ct::kUsers) +
                             " (uid, name, sid, is_role, is_app_role, is_nt_name, is_nt_group, "
                             "has_access, createdate, updatedate) VALUES (?,?,?,?,?,?,?,?,?,?)");
  insert.Bind(1, Value(p.uid));
  insert.Bind(2, Value(p.name));
  insert.Bind(3, p.sid.empty() ? Value() : Value(p.sid));
  insert.Bind(4, Value(p.is_role ? 1 : 0));
  insert.Bind(5, Value(p.is_app_role ? 1 : 0));
  insert.Bind(6, Value(p.is_nt_name ? 1 : 0));
  insert.Bind(7, Value(p.is_nt_group ? 1 : 0));
  insert.Bind(8, Value(p.has_access ? 1 : 0));
  insert.Bind(9, Value(now));
  insert.Bind(10, Value(now));
  insert.Step();
}

// Removes a principal with its memberships (both ways) and the permissions given to it.
void DeletePrincipal(SessionImpl& session, AttachedDatabase& db, int uid) {
  Connection& connection = session.connection();
  for (const std::string& sql :
       {"DELETE FROM " + db.catalog->Table(ct::kMembers) + " WHERE member_uid = ? OR group_uid = ?",
        "DELETE FROM " + db.catalog->Table(ct::kPermissions) + " WHERE uid = ? OR uid = ?",
        "DELETE FROM " + db.catalog->Table(ct::kUsers) + " WHERE uid = ? OR uid = ?"}) {
    CachedStatement remove(connection, sql);
    remove.Bind(1, Value(uid));
    remove.Bind(2, Value(uid));
    remove.Step();
  }
}

bool OwnsObjects(AttachedDatabase& db, int uid) {
  for (const ObjectInfo* object : db.catalog->Objects())
    if (object->uid == uid) return true;
  return false;
}

bool MayManageAccess(SessionImpl& session, AttachedDatabase& db) {
  return IsDbOwner(session, db) || HoldsRole(session, db, kDbAccessAdminUid);
}

bool MayManageRoles(SessionImpl& session, AttachedDatabase& db) {
  return IsDbOwner(session, db) || HoldsRole(session, db, kDbSecurityAdminUid);
}

// sp_grantdbaccess @loginame, @name_in_db OUTPUT
std::int64_t GrantDbAccess(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_grantdbaccess", arguments, {"@loginame", "@name_in_db"});
  std::string login_name = RequiredName(args, "sp_grantdbaccess", "@loginame");
  SessionImpl& session = executor.session();
  AttachedDatabase& db = executor.Db();
  if (!MayManageAccess(session, db)) throw NoPermission();
  NotInTransaction(executor, "sp_grantdbaccess");
  PrincipalInfo user;
  std::optional<LoginRecord> login = Logins(executor).Find(login_name);
  if (login) {
    user.sid = login->sid;
    user.is_nt_name = login->is_nt_name || login->is_nt_group;
    user.is_nt_group = login->is_nt_group;
    login_name = login->name;
  } else {
    // A Windows account may be a user without a login of its own (it comes in through a group).
    WindowsAccount account = LookupWindowsAccount(session.instance().config(), login_name);
    if (account == WindowsAccount::kUnknown) {
      if (IsWindowsName(login_name)) throw errors::Raise<15401>(login_name);
      throw NoSuchLogin(login_name);
    }
    user.sid = SidForName(login_name);
    user.is_nt_name = true;
    user.is_nt_group = account == WindowsAccount::kGroup;
  }
  user.name = args.Get("@name_in_db").IsNull() ? login_name : args.Text("@name_in_db");
  CheckIdentifier(user.name);
  if (user.name.empty()) throw InvalidName(user.name);
  if (EqualsNoCase(user.name, "guest")) throw errors::Raise<15062>();
  if (const PrincipalInfo* existing = db.catalog->FindUserBySid(user.sid)) {
    if (EqualsNoCase(existing->name, user.name)) throw errors::Raise<15023>(user.name);
    throw errors::Raise<15063>();
  }
  if (db.catalog->FindPrincipal(user.name)) throw errors::Raise<15023>(user.name);
  Change change(session);
  user.uid = NextUid(session, db, false);
  InsertPrincipal(session, db, user);
  ReloadPrincipals(session, db);
  change.Commit();
  args.SetOutput("@name_in_db", Value(user.name));
  executor.Info(0, "Granted database access to '" + user.name + "'.", 0);
  return 0;
}

// sp_revokedbaccess @name_in_db
std::int64_t RevokeDbAccess(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_revokedbaccess", arguments, {"@name_in_db"});
  std::string name = RequiredName(args, "sp_revokedbaccess", "@name_in_db");
  SessionImpl& session = executor.session();
  AttachedDatabase& db = executor.Db();
  if (!MayManageAccess(session, db)) throw NoPermission();
  NotInTransaction(executor, "sp_revokedbaccess");
  const PrincipalInfo* user = db.catalog->FindPrincipal(name);
  if (!user || user->is_role) throw errors::Raise<15008>(name);
  if (user->uid == kDboUid) throw errors::Raise<15181>();
  if (user->uid == kGuestUid) {
    if (db.dbid == 1 || db.dbid == 2) throw errors::Raise<15182>();
  } else if (user->uid < kFirstUserUid) {
    throw Reserved(user->name);
  }
  if (OwnsObjects(db, user->uid)) throw errors::Raise<15183>("user");
  int uid = user->uid;
  Change change(session);
  if (uid == kGuestUid) {
    // guest stays in the database, without access.
    CachedStatement update(session.connection(), "UPDATE " + db.catalog->Table(ct::kUsers) +
                                                     " SET has_access = 0 WHERE uid = ?");
    update.Bind(1, Value(uid));
    update.Step();
  } else {
    DeletePrincipal(session, db, uid);
  }
  ReloadPrincipals(session, db);
  change.Commit();
  executor.Info(0, "User has been dropped from current database.", 0);
  return 0;
}

// sp_addrole @rolename, @ownername
std::int64_t AddRole(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_addrole", arguments, {"@rolename", "@ownername"});
  std::string role = RequiredName(args, "sp_addrole", "@rolename");
  SessionImpl& session = executor.session();
  AttachedDatabase& db = executor.Db();
  if (!MayManageRoles(session, db)) throw NoPermission();
  NotInTransaction(executor, "sp_addrole");
  if (role.empty() || role.find('\\') != std::string::npos) throw InvalidName(role);
  if (db.catalog->FindPrincipal(role)) throw errors::Raise<15023>(role);
  if (args.Given("@ownername") && !args.Get("@ownername").IsNull() &&
      !db.catalog->FindPrincipal(args.Text("@ownername")))
    throw errors::Raise<15410>(args.Text("@ownername"));
  PrincipalInfo p;
  p.name = role;
  p.is_role = true;
  p.has_access = false;
  Change change(session);
  p.uid = NextUid(session, db, true);
  InsertPrincipal(session, db, p);
  ReloadPrincipals(session, db);
  change.Commit();
  executor.Info(0, "New role added.", 0);
  return 0;
}

// sp_droprole @rolename
std::int64_t DropRole(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_droprole", arguments, {"@rolename"});
  std::string name = RequiredName(args, "sp_droprole", "@rolename");
  SessionImpl& session = executor.session();
  AttachedDatabase& db = executor.Db();
  if (!MayManageRoles(session, db)) throw NoPermission();
  NotInTransaction(executor, "sp_droprole");
  const PrincipalInfo* role = db.catalog->FindPrincipal(name);
  if (!role) throw NoSuchRole(name);
  if (!role->is_role) throw NotARole(name);
  if (role->uid < kFirstRoleUid) throw errors::Raise<15142>(role->name);
  {
    CachedStatement members(
        session.connection(),
        "SELECT 1 FROM " + db.catalog->Table(ct::kMembers) + " WHERE group_uid = ? LIMIT 1");
    members.Bind(1, Value(role->uid));
    if (members.Step()) throw errors::Raise<15144>();
  }
  if (OwnsObjects(db, role->uid)) throw errors::Raise<15183>("role");
  int uid = role->uid;
  Change change(session);
  DeletePrincipal(session, db, uid);
  ReloadPrincipals(session, db);
  change.Commit();
  executor.Info(0, "Role dropped.", 0);
  return 0;
}

std::int64_t ChangeRoleMember(Executor& executor, std::vector<ProcedureArgument>& arguments,
                              const char* procedure, bool add) {
  SystemArguments args(procedure, arguments, {"@rolename", "@membername"});
  std::string role_name = RequiredName(args, procedure, "@rolename");
  std::string member_name = RequiredName(args, procedure, "@membername");
  SessionImpl& session = executor.session();
  AttachedDatabase& db = executor.Db();
  const PrincipalInfo* role = db.catalog->FindPrincipal(role_name);
  if (!role || !role->is_role) throw NoSuchRole(role_name);
  if (role->uid == kPublicUid) throw errors::Raise<15081>();
  const PrincipalInfo* member = db.catalog->FindPrincipal(member_name);
  if (!member) throw errors::Raise<15410>(member_name);
  // Fixed roles are db_owner's to hand out; db_securityadmin manages the other roles.
  bool permitted = role->uid < kFirstRoleUid ? IsDbOwner(session, db) : MayManageRoles(session, db);
  if (!permitted) throw NoPermission();
  NotInTransaction(executor, procedure);
  if (member->uid == kDboUid || member->uid == kPublicUid) throw Reserved(member->name);
  if (member->uid == role->uid) throw errors::Raise<15413>();
  int role_uid = role->uid, member_uid = member->uid;
  std::string message = "'" + member->name + (add ? "' added to role '" : "' dropped from role '") +
                        role->name + "'.";
  if (add) {
    // A role may not end up inside itself through others.
    std::vector<int> above = MembershipsOf(session, db, role_uid);
    if (std::find(above.begin(), above.end(), member_uid) != above.end())
      throw errors::Raise<15413>();
  }
  Change change(session);
  CachedStatement write(session.connection(),
                        add ? "INSERT OR IGNORE INTO " + db.catalog->Table(ct::kMembers) +
                                  " (member_uid, group_uid) VALUES (?, ?)"
                            : "DELETE FROM " + db.catalog->Table(ct::kMembers) +
                                  " WHERE member_uid = ? AND group_uid = ?");
  write.Bind(1, Value(member_uid));
  write.Bind(2, Value(role_uid));
  write.Step();
  session.CatalogChanged(db.dbid);
  change.Commit();
  executor.Info(0, message, 0);
  return 0;
}

// sp_addrolemember @rolename, @membername
std::int64_t AddRoleMember(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  return ChangeRoleMember(executor, arguments, "sp_addrolemember", true);
}

// sp_droprolemember @rolename, @membername
std::int64_t DropRoleMember(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  return ChangeRoleMember(executor, arguments, "sp_droprolemember", false);
}

// Direct members of a role, by name.
std::vector<const PrincipalInfo*> MembersOf(SessionImpl& session, AttachedDatabase& db,
                                            int role_uid) {
  std::vector<const PrincipalInfo*> out;
  CachedStatement rows(
      session.connection(),
      "SELECT member_uid FROM " + db.catalog->Table(ct::kMembers) + " WHERE group_uid = ?");
  rows.Bind(1, Value(role_uid));
  while (rows.Step())
    if (const PrincipalInfo* p = db.catalog->FindPrincipal(static_cast<int>(rows.ColumnInt(0))))
      out.push_back(p);
  std::sort(out.begin(), out.end(), [](const PrincipalInfo* a, const PrincipalInfo* b) {
    return CollateCompare(a->name, b->name) < 0;
  });
  return out;
}

// The roles a principal belongs to directly, by name.
std::vector<const PrincipalInfo*> RolesOf(SessionImpl& session, AttachedDatabase& db, int uid) {
  std::vector<const PrincipalInfo*> out;
  CachedStatement rows(
      session.connection(),
      "SELECT group_uid FROM " + db.catalog->Table(ct::kMembers) + " WHERE member_uid = ?");
  rows.Bind(1, Value(uid));
  while (rows.Step())
    if (const PrincipalInfo* p = db.catalog->FindPrincipal(static_cast<int>(rows.ColumnInt(0))))
      out.push_back(p);
  std::sort(out.begin(), out.end(), [](const PrincipalInfo* a, const PrincipalInfo* b) {
    return CollateCompare(a->name, b->name) < 0;
  });
  return out;
}

// sp_helprole @rolename
std::int64_t HelpRole(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helprole", arguments, {"@rolename"});
  AttachedDatabase& db = CurrentDatabase(executor);
  std::string wanted = args.Text("@rolename");
  if (!wanted.empty()) {
    const PrincipalInfo* p = db.catalog->FindPrincipal(wanted);
    if (!p || !p->is_role) throw NotARole(wanted);
  }
  std::vector<std::vector<Value>> rows;
  for (const PrincipalInfo& p : db.catalog->principals())
    if (p.is_role && (wanted.empty() || EqualsNoCase(p.name, wanted)))
      rows.push_back({Value(p.name), Value(p.uid), Value(p.is_app_role ? 1 : 0)});
  executor.SendRows({Col("RoleName", SysName(), false), Col("RoleId", SmallInt(), false),
                     Col("IsAppRole", SqlType::Int(), false)},
                    rows);
  return 0;
}

// sp_helprolemember @rolename
std::int64_t HelpRoleMember(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helprolemember", arguments, {"@rolename"});
  SessionImpl& session = executor.session();
  AttachedDatabase& db = CurrentDatabase(executor);
  std::string wanted = args.Text("@rolename");
  if (!wanted.empty()) {
    const PrincipalInfo* p = db.catalog->FindPrincipal(wanted);
    if (!p || !p->is_role) throw NotARole(wanted);
  }
  std::vector<std::vector<Value>> rows;
  for (const PrincipalInfo& role : db.catalog->principals()) {
    if (!role.is_role || (!wanted.empty() && !EqualsNoCase(role.name, wanted))) continue;
    for (const PrincipalInfo* member : MembersOf(session, db, role.uid))
      rows.push_back({Value(role.name), Value(member->name),
                      member->sid.empty() ? Value() : Value(member->sid)});
  }
  executor.SendRows({Col("DbRole", SysName(), false), Col("MemberName", SysName(), false),
                     Col("MemberSID", Sid())},
                    rows);
  return 0;
}

// sp_helpuser @name_in_db: one row per user and role it belongs to; for a role its members.
std::int64_t HelpUser(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helpuser", arguments, {"@name_in_db"});
  SessionImpl& session = executor.session();
  AttachedDatabase& db = CurrentDatabase(executor);
  std::string wanted = args.Text("@name_in_db");
  const PrincipalInfo* named = nullptr;
  if (!wanted.empty()) {
    named = db.catalog->FindPrincipal(wanted);
    if (!named) throw errors::Raise<15198>(wanted);
  }
  if (named && named->is_role) {
    std::vector<std::vector<Value>> rows;
    for (const PrincipalInfo* member : MembersOf(session, db, named->uid))
      rows.push_back(
          {Value(named->name), Value(named->uid), Value(member->name), Value(member->uid)});
    executor.SendRows({Col("Group_name", SysName(), false), Col("Group_id", SmallInt(), false),
                       Col("Users_in_group", SysName()), Col("Userid", SmallInt())},
                      rows);
    return 0;
  }
  std::vector<LoginRecord> logins = Logins(executor).All();
  auto login_of = [&](const common::Bytes& sid) -> const LoginRecord* {
    for (const LoginRecord& login : logins)
      if (!sid.empty() && login.sid == sid) return &login;
    return nullptr;
  };
  std::vector<const PrincipalInfo*> users;
  for (const PrincipalInfo& p : db.catalog->principals())
    if (!p.is_role && (named ? p.uid == named->uid : p.has_access)) users.push_back(&p);
  std::sort(users.begin(), users.end(), [](const PrincipalInfo* a, const PrincipalInfo* b) {
    return CollateCompare(a->name, b->name) < 0;
  });
  std::vector<std::vector<Value>> rows;
  for (const PrincipalInfo* user : users) {
    const LoginRecord* login = login_of(user->sid);
    Value login_name = login ? Value(login->name) : Value();
    Value default_db = login ? Value(login->default_database) : Value();
    Value sid = user->sid.empty() ? Value() : Value(user->sid);
    std::vector<const PrincipalInfo*> roles = RolesOf(session, db, user->uid);
    if (roles.empty()) {
      rows.push_back(
          {Value(user->name), Value("public"), login_name, default_db, Value(user->uid), sid});
      continue;
    }
    for (const PrincipalInfo* role : roles)
      rows.push_back(
          {Value(user->name), Value(role->name), login_name, default_db, Value(user->uid), sid});
  }
  executor.SendRows({Col("UserName", SysName(), false), Col("GroupName", SysName(), false),
                     Col("LoginName", SysName()), Col("DefDBName", SysName()),
                     Col("UserID", SmallInt(), false), Col("SID", Sid())},
                    rows);
  return 0;
}

// sp_changedbowner @loginame, @map: the login becomes dbo of the current database.
std::int64_t ChangeDbOwner(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_changedbowner", arguments, {"@loginame", "@map"});
  std::string name = RequiredName(args, "sp_changedbowner", "@loginame");
  SessionImpl& session = executor.session();
  AttachedDatabase& db = executor.Db();
  if (db.dbid <= 3) throw errors::Raise<15109>();
  if (!session.IsSysadmin()) throw NoPermission();
  NotInTransaction(executor, "sp_changedbowner");
  std::optional<LoginRecord> login = Logins(executor).Find(name);
  if (!login) throw NoSuchLogin(name);
  const PrincipalInfo* user = db.catalog->FindUserBySid(login->sid);
  if (user && user->uid != kDboUid) throw errors::Raise<15110>();
  {
    Change change(session);
    CachedStatement update(session.connection(), "UPDATE " + db.catalog->Table(ct::kUsers) +
                                                     " SET sid = ?, is_nt_name = ?, "
                                                     "is_nt_group = ? WHERE uid = ?");
    update.Bind(1, Value(login->sid));
    update.Bind(2, Value(login->is_nt_name || login->is_nt_group ? 1 : 0));
    update.Bind(3, Value(login->is_nt_group ? 1 : 0));
    update.Bind(4, Value(kDboUid));
    update.Step();
    ReloadPrincipals(session, db);
    change.Commit();
  }
  session.instance().SetDatabaseOwner(db.dbid, login->sid);
  executor.Info(0, "Database owner changed.", 0);
  return 0;
}

}  // namespace

void AddSecurityProcedures(SystemProcedureTable& table) {
  table.emplace("sp_addlogin", AddLogin);
  table.emplace("sp_droplogin", DropLogin);
  table.emplace("sp_grantlogin", GrantLogin);
  table.emplace("sp_denylogin", DenyLogin);
  table.emplace("sp_revokelogin", RevokeLogin);
  table.emplace("sp_password", Password);
  table.emplace("sp_defaultdb", DefaultDb);
  table.emplace("sp_addsrvrolemember", AddServerRoleMember);
  table.emplace("sp_dropsrvrolemember", DropServerRoleMember);
  table.emplace("sp_helpsrvrolemember", HelpServerRoleMember);
  table.emplace("sp_helpsrvrole", HelpServerRole);
  table.emplace("sp_helplogins", HelpLogins);
  table.emplace("sp_grantdbaccess", GrantDbAccess);
  table.emplace("sp_revokedbaccess", RevokeDbAccess);
  table.emplace("sp_addrole", AddRole);
  table.emplace("sp_droprole", DropRole);
  table.emplace("sp_addrolemember", AddRoleMember);
  table.emplace("sp_droprolemember", DropRoleMember);
  table.emplace("sp_helprole", HelpRole);
  table.emplace("sp_helprolemember", HelpRoleMember);
  table.emplace("sp_helpuser", HelpUser);
  table.emplace("sp_changedbowner", ChangeDbOwner);
}

}  // namespace sandbox
