// Databases and their files: attach, detach, rename, options, sizes.
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

using common::Value;

namespace {
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

}  // namespace

void AddDatabaseProcedures(SystemProcedureTable& table) {
  table.emplace("sp_attach_db", AttachDb);
  table.emplace("sp_detach_db", DetachDb);
}

}  // namespace sandbox
