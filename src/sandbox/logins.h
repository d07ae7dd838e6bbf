// Server logins: who a connection authenticates as, the Windows accounts and groups of the
// sandbox machine, the fixed server roles, and master's login table.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/instance.h"
#include "sandbox/server.h"
#include "sandbox/sqlite.h"

namespace sandbox {

// "DOMAIN\name" with both parts present.
bool IsWindowsName(std::string_view name);

enum class WindowsAccount { kUnknown, kUser, kGroup };
// What the sandbox machine knows of a Windows name: every "MACHINE\x" is a local account of
// the machine (named by the instance's machine name), and BUILTIN has the usual local groups.
// Accounts of other domains cannot be looked up and count as unknown.
WindowsAccount LookupWindowsAccount(const InstanceConfig& config, std::string_view name);

// The local groups a local account belongs to: BUILTIN\Users always, BUILTIN\Administrators
// when the account administers the machine: the instance's creator, or, when the instance names
// none, every account that has no login of its own.
std::vector<std::string> LocalGroups(const InstanceImpl& instance, const InstanceConfig& config,
                                     std::string_view os_user);

// The login a connection request authenticates as: a SQL Server login by name and password,
// or the local account with the Windows logins of itself and of its groups, their server roles
// combined. Throws ConnectError (18456, 18452) when the server refuses it.
LoginRecord Authenticate(const InstanceImpl& instance, const LoginRequest& request);

// The same login as the catalogue has it now (server roles granted or taken since it
// connected), without asking for the password again; nullopt when it has lost its access.
std::optional<LoginRecord> Reauthenticate(const InstanceImpl& instance,
                                          const LoginRequest& request);

// The fixed server roles, in SQL Server's order, with their descriptions.
struct ServerRoleInfo {
  const char* name;
  int bit;
  const char* description;
};
const std::vector<ServerRoleInfo>& FixedServerRoles();
// The role's bit, 0 for a name that is no fixed server role.
int ServerRoleBit(std::string_view role);

// Master's login table as a session's connection sees it, so a procedure reads its own
// changes and a failed one rolls them back with the rest of its work.
class LoginTable {
 public:
  // table: the quoted "schema"."sandbox$logins" of master in the connection.
  LoginTable(Connection& connection, std::string table)
      : connection_(connection), table_(std::move(table)) {}

  std::optional<LoginRecord> Find(std::string_view name);
  std::optional<LoginRecord> Find(const common::Bytes& sid);
  std::vector<LoginRecord> All();  // in name order
  void Insert(const LoginRecord& login);
  // Writes the changeable fields of the login with that SID.
  void Update(const LoginRecord& login);
  void Remove(const common::Bytes& sid);

 private:
  std::vector<LoginRecord> Select(const std::string& where, const common::Value& key);

  Connection& connection_;
  std::string table_;
};

}  // namespace sandbox
