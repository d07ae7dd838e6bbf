// tessera-admin's security commands: logins (add, properties, set), collection users (add,
// properties, set) and a collection's owner, each over the dialog logic the console uses, so
// every dialog's OK can be scripted and its statements watched with --trace-sql.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/admin_cli/command_line.h"
#include "app/admin_cli/session.h"

namespace admin_cli {

// Adds the security commands to the command table.
void AppendSecurityVerbs(std::vector<VerbDefinition>& verbs);

using SecurityHandler = int (*)(Session&, const Invocation&,
                                const std::function<std::optional<std::string>()>&);
// The handler of a security command; nullptr for other commands.
SecurityHandler SecurityHandlerFor(std::string_view noun, std::string_view verb);

}  // namespace admin_cli
