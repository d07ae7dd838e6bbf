// Prints parts of the syntax tree back as Transact-SQL text, for messages, for column names SQL
// Server derives from expressions and for the catalogue's default and check texts.
#pragma once

#include <string>

#include "sandbox/tsql/ast.h"

namespace sandbox::tsql {

// Canonical text: keywords upper-cased, names as written (bracketed only when they need it),
// parentheses only where precedence requires them.
std::string ToSql(const Expr& expr);
std::string ToSql(const Query& query);
std::string ToSql(const TableSource& source);

// A name in brackets when it is not a regular identifier or is a reserved word: "[Order Details]".
std::string QuoteName(const std::string& name);

}  // namespace sandbox::tsql
