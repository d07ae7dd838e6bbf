#include "sandbox/versions.h"

#include <cstdlib>
#include <string>

#include "sandbox/messages.h"
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

}  // namespace

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
