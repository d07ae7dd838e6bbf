// System procedures (sp_..., xp_...) are C++ functions that act on the catalogue and return the
// result columns SQL Server documents for them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "sandbox/executor.h"

namespace sandbox {

// The arguments of a call, matched to the procedure's parameter names in order.
class SystemArguments {
 public:
  SystemArguments(std::string_view procedure, std::vector<ProcedureArgument>& arguments,
                  std::vector<std::string> parameter_names);
  // The argument for a parameter (by its position in the declared list), null when omitted.
  common::Value Get(std::string_view parameter) const;
  bool Given(std::string_view parameter) const;
  std::string Text(std::string_view parameter) const;
  // Sets an OUTPUT argument.
  void SetOutput(std::string_view parameter, const common::Value& value);

 private:
  int IndexOf(std::string_view parameter) const;
  std::vector<ProcedureArgument>& arguments_;
  std::vector<std::string> names_;
  std::vector<int> slot_;  // argument index for each declared parameter, -1 when omitted
};

// The parts of an object name as procedures take it: "name", "owner.name", "db.owner.name";
// brackets or double quotes delimit a part ("]]" and '""' inside stand for the character). A
// text that is no such name (an unclosed delimiter, five parts) is one plain name.
std::vector<std::string> SplitObjectName(std::string_view text);

using SystemProcedure = std::function<std::int64_t(Executor&, std::vector<ProcedureArgument>&)>;

// Procedures by lower-case name. Each area of the server adds its own.
using SystemProcedureTable = std::map<std::string, SystemProcedure>;
void AddSecurityProcedures(SystemProcedureTable& table);     // sp_security.cc
void AddDatabaseProcedures(SystemProcedureTable& table);     // sp_databases.cc
void AddFullTextProcedures(SystemProcedureTable& table);     // sp_fulltext.cc
void AddServerProcedures(SystemProcedureTable& table);       // sp_server.cc
void AddDynamicProcedures(SystemProcedureTable& table);      // sp_dynamic_sql.cc
void AddCatalogProcedures(SystemProcedureTable& table);      // sp_catalog.cc
void AddHelpProcedures(SystemProcedureTable& table);         // sp_help.cc
void AddRenameProcedures(SystemProcedureTable& table);       // sp_rename.cc
void AddCatalogListProcedures(SystemProcedureTable& table);  // sp_catalog_lists.cc
void AddConfigureProcedures(SystemProcedureTable& table);    // sp_configure.cc
void AddCompatibilityProcedures(SystemProcedureTable& table);  // sp_dbcmptlevel.cc
void AddTriggerProcedures(SystemProcedureTable& table);        // exec_trigger.cc
void AddForEachProcedures(SystemProcedureTable& table);        // sp_foreach.cc

// The names of every system procedure, in lower case and in order.
std::vector<std::string> SystemProcedureNames();
// RECONFIGURE: the values sp_configure set become the running ones (sp_configure.cc).
void RunReconfigure(Executor& executor);
// nullptr when the name is no system procedure of the sandbox.
const SystemProcedure* FindSystemProcedure(std::string_view name);

}  // namespace sandbox
