// Logins, users, roles and permissions.
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

using common::Value;

namespace {

bool MayManageRoles(Executor& executor, AttachedDatabase& db) {
  SessionImpl& session = executor.session();
  if (session.IsSysadmin()) return true;
  return Permitted(session, db, "ALTER ANY ROLE", nullptr);
}

// sp_addrole @rolename, @ownername
std::int64_t AddRole(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_addrole", arguments, {"@rolename", "@ownername"});
  if (!args.Given("@rolename")) throw errors::MissingArgument("sp_addrole", "@rolename");
  std::string role = args.Text("@rolename");
  CheckIdentifier(role);
  SessionImpl& session = executor.session();
  AttachedDatabase& db = executor.Db();
  if (!MayManageRoles(executor, db))
    throw SqlError(15247, 16, "User does not have permission to perform this action.");
  if (role.empty() || role.find('\\') != std::string::npos)
    throw SqlError(15006, 16,
                   "'" + role + "' is not a valid name because it contains invalid characters.");
  if (db.catalog->FindPrincipal(role))
    throw SqlError(15023, 16,
                   "User or role '" + role + "' already exists in the current database.");
  int owner = kDboUid;
  if (args.Given("@ownername")) {
    const PrincipalInfo* p = db.catalog->FindPrincipal(args.Text("@ownername"));
    if (!p)
      throw SqlError(
          15410, 11,
          "User or role '" + args.Text("@ownername") + "' does not exist in this database.");
    owner = p->uid;
  }
  (void)owner;
  Connection& connection = session.connection();
  std::int64_t uid = kFirstRoleUid;
  {
    CachedStatement max(connection, "SELECT max(uid) FROM " +
                                        db.catalog->Table(catalog_tables::kUsers) +
                                        " WHERE uid >= " + std::to_string(kFirstRoleUid));
    if (max.Step() && !max.ColumnIsNull(0)) uid = max.ColumnInt(0) + 1;
  }
  std::string now = DateTimeToStorage(common::DateTime::Now());
  CachedStatement insert(connection, "INSERT INTO " + db.catalog->Table(catalog_tables::kUsers) +
                                         " (uid, name, sid, is_role, has_access, createdate, "
                                         "updatedate) VALUES (?, ?, NULL, 1, 0, ?, ?)");
  insert.Bind(1, Value(static_cast<long long>(uid)));
  insert.Bind(2, Value(role));
  insert.Bind(3, Value(now));
  insert.Bind(4, Value(now));
  insert.Step();
  db.catalog->LoadPrincipals(connection);
  session.CatalogChanged(db.dbid);
  executor.Info(0, "New role added.", 0);
  return 0;
}

}  // namespace

void AddSecurityProcedures(SystemProcedureTable& table) { table.emplace("sp_addrole", AddRole); }

}  // namespace sandbox
