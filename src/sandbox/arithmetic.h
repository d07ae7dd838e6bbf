// SQL Server's arithmetic where SQLite's differs: integer results kept in the range of their type
// (error 8115 instead of a wider or wrapped value), the result types of decimal arithmetic, and
// ROUND on the decimal digits a value has rather than on its binary approximation.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

#include "sandbox/types.h"

namespace sandbox {

// The SQLite functions below, registered on every connection of the engine:
//   tsql_int(value, kind)      value unchanged when it is in the range of the integer type kind
//                              (a TypeKind), else error 8115 naming the type
//   tsql_round(value, length, function, precision, scale)
//                              ROUND as SQL Server computes it for a value of that precision and
//                              scale (precision 0: float; integers come with scale 0)
//   tsql_many_rows()           error 512, for a sub-query that gave a second row
void RegisterArithmeticFunctions(sqlite3* db);

// The type SQL Server gives a decimal operation's result; a and b are the operand types (integer
// types count as decimals of their width). op is one of '+', '-', '*', '/', '%'.
SqlType DecimalResultType(char op, const SqlType& a, const SqlType& b);

// A decimal number's exact text rounded (or, with truncate, cut) to length places after the
// point; a negative length rounds left of it. nullopt when the text is not a plain number.
std::optional<std::string> RoundDecimalText(std::string_view text, int length, bool truncate);

// The exact value of a decimal text as a decimal(precision, scale) holds it, in storage form:
// an integer when the scale is 0 and it fits 64 bits, the exact digits as text when it does not,
// else a double. Throws SqlError 8115 when it has more integer digits than the type allows, 245
// when the text is no number.
common::Value DecimalFromText(std::string_view text, const SqlType& target);

}  // namespace sandbox
