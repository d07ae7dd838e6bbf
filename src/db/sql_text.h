// Pieces of Transact-SQL text the client cursor writes itself: literals for values and names
// that are safe to place in a statement.
#pragma once

#include <string>
#include <string_view>

#include "common/value.h"

namespace db {

// A literal for the value: NULL, 1/0 for booleans, numbers as they read back, 'text' with
// embedded quotes doubled (N'...' when national is set), ISO dates, 0x... for binary.
std::string SqlLiteral(const common::Value& value, bool national = false);

// The name as it can stand in a statement: plain identifiers unchanged, anything else (blanks,
// quotes, brackets, semicolons, reserved words) in brackets with "]" doubled. Dotted names are
// handled part by part; parts already in brackets stay as they are.
std::string SqlName(std::string_view name);

// True for names that need no brackets.
bool IsPlainIdentifier(std::string_view name);

}  // namespace db
