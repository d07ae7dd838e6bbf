// The sql command: Transact-SQL on an instance through the client database interface, read
// and shown the way sqlcmd does.
#pragma once

#include "app/sandbox_cli/context.h"

namespace sandbox_cli {

int Sql(Arguments& args, Context& context);

}  // namespace sandbox_cli
