// The system functions about the objects, columns, indexes and files of a database
// (OBJECT_ID, OBJECTPROPERTY, COLUMNPROPERTY, INDEXPROPERTY, FILE_NAME, ...): one entry each,
// computed for a session.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"

namespace sandbox {

class SessionImpl;

// The value of the function name (upper case) of the table; nullopt when the table has no such
// function. Names and properties that do not exist give NULL, as on SQL Server.
std::optional<common::Value> ObjectFunction(SessionImpl& session, std::string_view name,
                                            const std::vector<common::Value>& args);

// The parts of "db.owner.name", any of them in [brackets] (with ]] for ]) or "quotes";
// nullopt for a text that is no such name (an open bracket, more than four parts).
std::optional<std::vector<std::string>> ParseObjectName(std::string_view text);

}  // namespace sandbox
