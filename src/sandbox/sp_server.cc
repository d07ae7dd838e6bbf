// The server as a whole: version, configuration, sessions, drives and folders.
#include "sandbox/collation.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

void AddServerProcedures(SystemProcedureTable& table) { (void)table; }

}  // namespace sandbox
