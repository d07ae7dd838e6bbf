#include "sandbox/versions.h"

#include <cstdlib>
#include <string>

#include "sandbox/messages.h"
#include "sandbox/builtin_functions.h"
#include "sandbox/sql_error.h"
#include "sandbox/tsql/ast.h"

namespace sandbox {

namespace {

// Procedures a version dropped, and the first major version without them.
struct RemovedProcedure {
  std::string_view name;
  int removed_in;
};
constexpr RemovedProcedure kRemovedProcedures[] = {
    {"sp_dboption", 11},  // ALTER DATABASE ... SET takes its place
};

// BACKUP options a version dropped.
struct RemovedBackupOption {
  std::string_view name;  // upper case, as the parser keeps it
  int removed_in;
};
constexpr RemovedBackupOption kRemovedBackupOptions[] = {
    {"TRUNCATE_ONLY", 10},  // the simple recovery model truncates the log instead
    {"NO_LOG", 10},
};

// Functions of 2000 that are not in the built-in table (those have their own "since").
struct AddedFunction {
  std::string_view name;
  int added_in;
};
constexpr AddedFunction kAddedFunctions[] = {
    {"SERVERPROPERTY", 8},    {"DATABASEPROPERTYEX", 8}, {"COUNT_BIG", 8},
    {"SCOPE_IDENTITY", 8},    {"IDENT_CURRENT", 8},      {"GETUTCDATE", 8},
    {"COLLATIONPROPERTY", 8}, {"ROWCOUNT_BIG", 8},       {"SQL_VARIANT_PROPERTY", 8},
    {"CHECKSUM_AGG", 8},      {"HAS_DBACCESS", 8},
};

}  // namespace

int FunctionAddedIn(std::string_view upper_name) {
  if (const BuiltinFunction* builtin = FindBuiltinFunction(upper_name)) return builtin->since;
  for (const AddedFunction& added : kAddedFunctions)
    if (added.name == upper_name) return added.added_in;
  return 7;
}

int TypeAddedIn(TypeKind kind) {
  return kind == TypeKind::kBigInt || kind == TypeKind::kSqlVariant ? 8 : 7;
}

int MajorVersionOf(const InstanceConfig& config) {
  const char* text = config.product_version.c_str();
  char* end = nullptr;
  long major = std::strtol(text, &end, 10);
  if (end == text || major <= 0 || major > 99) return 8;
  return static_cast<int>(major);
}

int DefaultCompatibilityLevel(const InstanceConfig& config) { return MajorVersionOf(config) * 10; }

int ProcedureRemovedIn(std::string_view lower_name) {
  for (const RemovedProcedure& removed : kRemovedProcedures)
    if (removed.name == lower_name) return removed.removed_in;
  return 0;
}

void RefuseRemovedBackupOptions(const InstanceConfig& config, const tsql::BackupStatement& s) {
  const int major = MajorVersionOf(config);
  for (const auto& option : s.options) {
    for (const RemovedBackupOption& removed : kRemovedBackupOptions) {
      if (option.name == removed.name && major >= removed.removed_in)
        // A syntax error on such a server: nothing of the batch runs.
        throw errors::Raise<155>(option.name, "BACKUP").WithScope(ErrorScope::kBatch);
    }
  }
}

}  // namespace sandbox
