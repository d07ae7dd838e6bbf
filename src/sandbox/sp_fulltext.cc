// Full-text search: catalogues, tables, columns and their state.
#include "sandbox/collation.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

void AddFullTextProcedures(SystemProcedureTable& table) { (void)table; }

}  // namespace sandbox
