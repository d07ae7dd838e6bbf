#include "sandbox/system_procedures.h"

#include <map>

#include "sandbox/collation.h"
#include "sandbox/security.h"

namespace sandbox {

using common::Value;

SystemArguments::SystemArguments(std::string_view procedure,
                                 std::vector<ProcedureArgument>& arguments,
                                 std::vector<std::string> parameter_names)
    : arguments_(arguments), names_(std::move(parameter_names)), slot_(names_.size(), -1) {
  size_t position = 0;
  for (size_t i = 0; i < arguments_.size(); ++i) {
    const ProcedureArgument& a = arguments_[i];
    int index = -1;
    if (a.name.empty()) {
      if (position >= names_.size()) throw errors::TooManyArguments(procedure);
      index = static_cast<int>(position++);
    } else {
      index = IndexOf(a.name);
      if (index < 0) throw errors::NotAParameter(a.name, procedure);
    }
    if (!a.is_default) slot_[static_cast<size_t>(index)] = static_cast<int>(i);
  }
}

int SystemArguments::IndexOf(std::string_view parameter) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (EqualsNoCase(names_[i], parameter)) return static_cast<int>(i);
  return -1;
}

Value SystemArguments::Get(std::string_view parameter) const {
  int index = IndexOf(parameter);
  if (index < 0 || slot_[static_cast<size_t>(index)] < 0) return Value();
  return arguments_[static_cast<size_t>(slot_[static_cast<size_t>(index)])].value;
}

bool SystemArguments::Given(std::string_view parameter) const {
  int index = IndexOf(parameter);
  return index >= 0 && slot_[static_cast<size_t>(index)] >= 0;
}

std::string SystemArguments::Text(std::string_view parameter) const {
  Value v = Get(parameter);
  return v.IsNull() ? std::string() : v.ToText();
}

void SystemArguments::SetOutput(std::string_view parameter, const Value& value) {
  int index = IndexOf(parameter);
  if (index < 0 || slot_[static_cast<size_t>(index)] < 0) return;
  arguments_[static_cast<size_t>(slot_[static_cast<size_t>(index)])].value = value;
}

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

// sp_detach_db @dbname, @skipchecks
std::int64_t DetachDb(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_detach_db", arguments, {"@dbname", "@skipchecks"});
  if (!args.Given("@dbname")) throw errors::MissingArgument("sp_detach_db", "@dbname");
  SessionImpl& session = executor.session();
  if (!session.IsSysadmin())
    throw SqlError(15247, 16, "User does not have permission to perform this action.");
  std::string name = args.Text("@dbname");
  auto record = session.instance().FindDatabase(name);
  if (!record) throw errors::UnknownDatabase(name);
  if (record->dbid == session.current_dbid()) throw errors::DatabaseInUse(record->name);
  session.ForgetDatabase(record->dbid);
  session.instance().DetachDatabase(record->name, session.spid());
  return 0;
}

// sp_attach_db @dbname, @filename1, ... @filename16
std::int64_t AttachDb(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  std::vector<std::string> names = {"@dbname"};
  for (int i = 1; i <= 16; ++i) names.push_back("@filename" + std::to_string(i));
  SystemArguments args("sp_attach_db", arguments, names);
  if (!args.Given("@dbname")) throw errors::MissingArgument("sp_attach_db", "@dbname");
  SessionImpl& session = executor.session();
  if (!session.IsSysadmin() && !(session.login().server_roles & kDbcreator))
    throw SqlError(15247, 16, "User does not have permission to perform this action.");
  std::string name = args.Text("@dbname");
  CheckIdentifier(name);
  std::vector<std::string> files;
  for (int i = 1; i <= 16; ++i) {
    std::string file = args.Text("@filename" + std::to_string(i));
    if (!file.empty()) files.push_back(file);
  }
  if (files.empty()) throw errors::MissingArgument("sp_attach_db", "@filename1");
  session.instance().AttachDatabase(name, files, session.login().sid);
  return 0;
}

const std::map<std::string, SystemProcedure>& Registry() {
  static const std::map<std::string, SystemProcedure> registry = {
      {"sp_addrole", AddRole},
      {"sp_attach_db", AttachDb},
      {"sp_detach_db", DetachDb},
  };
  return registry;
}

}  // namespace

const SystemProcedure* FindSystemProcedure(std::string_view name) {
  const auto& registry = Registry();
  auto it = registry.find(Lower(name));
  return it == registry.end() ? nullptr : &it->second;
}

}  // namespace sandbox
