#include "sandbox/logins.h"

#include "sandbox/collation.h"
#include "sandbox/password.h"
#include "sandbox/types.h"

namespace sandbox {

using common::Value;

namespace {

const char* const kBuiltinGroups[] = {"Administrators", "Users", "Guests", "Power Users",
                                      "Backup Operators"};

ServerMessage LoginFailed(const std::string& name) {
  ServerMessage m;
  m.number = 18456;
  m.severity = 14;
  m.text = "Login failed for user '" + name + "'.";
  return m;
}

ServerMessage NotTrusted(const std::string& name) {
  ServerMessage m;
  m.number = 18452;
  m.severity = 14;
  m.text = "Login failed for user '" + name +
           "'. Reason: Not associated with a trusted SQL Server connection.";
  return m;
}

// The Windows login of a local account and of its groups, combined. nullopt when none of them
// gives access (no login at all, or one of them denied).
std::optional<LoginRecord> WindowsLogin(const InstanceImpl& instance, const InstanceConfig& config,
                                        const std::string& os_user) {
  std::string name = config.machine_name + "\\" + os_user;
  std::optional<LoginRecord> own = instance.FindLogin(name);
  if (own && (own->deny || own->is_nt_group)) return std::nullopt;
  std::vector<LoginRecord> groups;
  for (const std::string& group : LocalGroups(instance, config, os_user)) {
    std::optional<LoginRecord> login = instance.FindLogin(group);
    if (!login || !login->is_nt_group) continue;
    // A denied group shuts out every member, whatever the account's own login says.
    if (login->deny) return std::nullopt;
    groups.push_back(std::move(*login));
  }
  if (!own && groups.empty()) return std::nullopt;
  LoginRecord result;
  if (own) {
    result = *own;
  } else {
    result.default_database = groups.front().default_database;
    result.sid = SidForName(name);
    result.is_nt_name = true;
  }
  result.name = name;
  for (const LoginRecord& group : groups) {
    result.server_roles |= group.server_roles;
    result.group_sids.push_back(group.sid);
  }
  return result;
}

LoginRecord ReadLogin(Statement& row) {
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

}  // namespace

bool IsWindowsName(std::string_view name) {
  size_t slash = name.find('\\');
  return slash != std::string_view::npos && slash > 0 && slash + 1 < name.size() &&
         name.find('\\', slash + 1) == std::string_view::npos;
}

WindowsAccount LookupWindowsAccount(const InstanceConfig& config, std::string_view name) {
  if (!IsWindowsName(name)) return WindowsAccount::kUnknown;
  size_t slash = name.find('\\');
  std::string_view domain = name.substr(0, slash), account = name.substr(slash + 1);
  if (EqualsNoCase(domain, "BUILTIN")) {
    for (const char* group : kBuiltinGroups)
      if (EqualsNoCase(group, account)) return WindowsAccount::kGroup;
    return WindowsAccount::kUnknown;
  }
  if (EqualsNoCase(domain, config.machine_name)) return WindowsAccount::kUser;
  return WindowsAccount::kUnknown;
}

std::vector<std::string> LocalGroups(const InstanceImpl& instance, const InstanceConfig& config,
                                     std::string_view os_user) {
  // Without a named creator, the accounts the server knows no login of are the machine's
  // administrators, so a fresh instance lets its user in.
  bool administrator =
      config.creator.empty()
          ? !instance.FindLogin(config.machine_name + "\\" + std::string(os_user)).has_value()
          : EqualsNoCase(config.creator, os_user);
  std::vector<std::string> groups;
  if (administrator) groups.emplace_back("BUILTIN\\Administrators");
  groups.emplace_back("BUILTIN\\Users");
  return groups;
}

LoginRecord Authenticate(const InstanceImpl& instance, const LoginRequest& request) {
  InstanceConfig config = instance.config();
  if (request.integrated) {
    if (config.login_mode == LoginMode::kSqlOnly) throw ConnectError(NotTrusted("(null)"));
    std::optional<LoginRecord> login = WindowsLogin(instance, config, request.os_user);
    if (!login) throw ConnectError(LoginFailed(config.machine_name + "\\" + request.os_user));
    return *login;
  }
  if (config.login_mode == LoginMode::kWindowsOnly) throw ConnectError(NotTrusted(request.login));
  std::optional<LoginRecord> found = instance.FindLogin(request.login);
  // A login without a stored hash has the empty password.
  bool password_ok = found && !found->is_nt_name && !found->is_nt_group &&
                     (found->password_hash ? VerifyPassword(*found->password_hash, request.password)
                                           : request.password.empty());
  if (!password_ok || found->deny) throw ConnectError(LoginFailed(request.login));
  return *found;
}

std::optional<LoginRecord> Reauthenticate(const InstanceImpl& instance,
                                          const LoginRequest& request) {
  if (request.integrated) return WindowsLogin(instance, instance.config(), request.os_user);
  std::optional<LoginRecord> found = instance.FindLogin(request.login);
  if (!found || found->deny) return std::nullopt;
  return found;
}

const std::vector<ServerRoleInfo>& FixedServerRoles() {
  static const std::vector<ServerRoleInfo> kRoles = {
      {"sysadmin", kSysadmin, "System Administrators"},
      {"securityadmin", kSecurityadmin, "Security Administrators"},
      {"serveradmin", kServeradmin, "Server Administrators"},
      {"setupadmin", kSetupadmin, "Setup Administrators"},
      {"processadmin", kProcessadmin, "Process Administrators"},
      {"diskadmin", kDiskadmin, "Disk Administrators"},
      {"dbcreator", kDbcreator, "Database Creators"},
      {"bulkadmin", kBulkadmin, "Bulk Insert Administrators"},
  };
  return kRoles;
}

int ServerRoleBit(std::string_view role) {
  for (const ServerRoleInfo& r : FixedServerRoles())
    if (EqualsNoCase(r.name, role)) return r.bit;
  return 0;
}

std::vector<LoginRecord> LoginTable::Select(const std::string& where, const Value& key) {
  Statement rows = connection_.Prepare(
      "SELECT sid, name, is_nt_name, is_nt_group, deny_login, dbname, server_roles, "
      "password_hash FROM " +
      table_ + where + " ORDER BY name");
  if (!key.IsNull()) rows.Bind(1, key);
  std::vector<LoginRecord> out;
  while (rows.Step()) out.push_back(ReadLogin(rows));
  return out;
}

std::optional<LoginRecord> LoginTable::Find(std::string_view name) {
  auto rows = Select(" WHERE name = ?", Value(name));
  if (rows.empty()) return std::nullopt;
  return rows.front();
}

std::optional<LoginRecord> LoginTable::Find(const common::Bytes& sid) {
  auto rows = Select(" WHERE sid = ?", Value(sid));
  if (rows.empty()) return std::nullopt;
  return rows.front();
}

std::vector<LoginRecord> LoginTable::All() { return Select("", Value()); }

void LoginTable::Insert(const LoginRecord& login) {
  std::string now = DateTimeToStorage(common::DateTime::Now());
  CachedStatement insert(connection_, "INSERT INTO " + table_ +
                                          " (sid, name, password_hash, is_nt_name, is_nt_group, "
                                          "deny_login, has_access, dbname, language, "
                                          "server_roles, createdate, updatedate) VALUES "
                                          "(?,?,?,?,?,?,?,?,'us_english',?,?,?)");
  insert.Bind(1, Value(login.sid));
  insert.Bind(2, Value(login.name));
  insert.Bind(3, login.password_hash ? Value(*login.password_hash) : Value());
  insert.Bind(4, Value(login.is_nt_name ? 1 : 0));
  insert.Bind(5, Value(login.is_nt_group ? 1 : 0));
  insert.Bind(6, Value(login.deny ? 1 : 0));
  insert.Bind(7, Value(login.deny ? 0 : 1));
  insert.Bind(8, Value(login.default_database));
  insert.Bind(9, Value(login.server_roles));
  insert.Bind(10, Value(now));
  insert.Bind(11, Value(now));
  insert.Step();
}

void LoginTable::Update(const LoginRecord& login) {
  CachedStatement update(connection_, "UPDATE " + table_ +
                                          " SET password_hash = ?, deny_login = ?, has_access = "
                                          "?, dbname = ?, server_roles = ?, updatedate = ? "
                                          "WHERE sid = ?");
  update.Bind(1, login.password_hash ? Value(*login.password_hash) : Value());
  update.Bind(2, Value(login.deny ? 1 : 0));
  update.Bind(3, Value(login.deny ? 0 : 1));
  update.Bind(4, Value(login.default_database));
  update.Bind(5, Value(login.server_roles));
  update.Bind(6, Value(DateTimeToStorage(common::DateTime::Now())));
  update.Bind(7, Value(login.sid));
  update.Step();
}

void LoginTable::Remove(const common::Bytes& sid) {
  CachedStatement remove(connection_, "DELETE FROM " + table_ + " WHERE sid = ?");
  remove.Bind(1, Value(sid));
  remove.Step();
}

}  // namespace sandbox
