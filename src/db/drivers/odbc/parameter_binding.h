// Requests with parameters as ODBC calls whose values travel bound, never in the statement
// text: a parameterised batch goes as sp_executesql with its own text and a declaration of its
// parameters, a procedure as a call escape ("{? = call name(?, ?)}").
// Output parameters and the return status come back in the bound buffers once every result
// has been read.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <optional>
#include <string>
#include <vector>

#include "db/driver.h"

namespace db {

// One "?" of the call, in order.
struct Binding {
  // How the driver converts the buffer, and what it reads back into it.
  enum class Kind { kInt, kBool, kDouble, kDecimal, kDateTime, kText, kBinary, kGuid };
  // The request's parameter, std::nullopt for sp_executesql's statement and declaration.
  std::optional<std::size_t> parameter;
  std::string name;  // "@name" of a procedure's argument when all of them are named, else empty
  SQLSMALLINT io = SQL_PARAM_INPUT;
  Kind kind = Kind::kText;
  SQLSMALLINT c_type = SQL_C_WCHAR;
  SQLSMALLINT sql_type = SQL_WVARCHAR;
  SQLULEN column_size = 0;
  SQLSMALLINT digits = 0;
  std::vector<unsigned char> buffer;  // the value in c_type; room for an output's answer
  SQLLEN indicator = 0;               // bytes in buffer, or SQL_NULL_DATA

  bool IsOutput() const { return io != SQL_PARAM_INPUT; }
};

struct BoundCall {
  std::string text;  // for SQLExecDirect
  std::vector<Binding> bindings;
};

// Input values longer than this (in bytes) go as long types. They are bound whole: FreeTDS
// loses its place among a call escape's markers after a value sent at execution
// (SQLPutData), and the values are in memory anyway.
inline constexpr std::size_t kLongValueBytes = 8000;

// What to send for a request. A batch without parameters is its text and nothing bound.
// Throws db::Error for a parameter name that is not a variable name.
BoundCall BindRequest(const DriverRequest& request);

// The type a batch's parameter is declared with for sp_executesql: its own, else one wide
// enough for its value; long input values as the long types.
std::string DeclaredType(const DriverParameter& parameter);

// What the server left in an output binding.
Value OutputValue(const Binding& binding);

}  // namespace db
