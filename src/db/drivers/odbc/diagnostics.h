// What ODBC drivers say about a call, and the db::Error the product raises for it: the
// server's messages with its numbers, severities and states, and the driver's own conditions.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"
#include "db/error.h"

namespace db {

struct Diagnostic {
  std::string sqlstate;
  SQLINTEGER native = 0;
  std::string text;  // without the drivers' "[...]" prefixes
  int severity = -1;
  int state = -1;
  std::string procedure;
  int line = 0;
  bool from_server = false;
  bool FromServer() const { return from_server; }
};

// The functions that read diagnostics: the driver manager's, or a driver's own for a handle of
// that driver's (see statement_calls.h).
struct DiagnosticCalls {
  decltype(&::SQLGetDiagRecW) record = &::SQLGetDiagRecW;
  decltype(&::SQLGetDiagFieldW) field = &::SQLGetDiagFieldW;
};

// The diagnostic records of a handle, in order.
std::vector<Diagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle,
                                    const DiagnosticCalls& calls = {});

// "[FreeTDS][SQL Server]Login failed" -> "Login failed"; from_server tells whether the last
// prefix was "[SQL Server]".
std::string WithoutPrefixes(std::string text, bool* from_server);

ServerMessage MessageFrom(const Diagnostic& d);
// The error with the diagnostics after it in its errors().
Error WithDetails(Error error, const std::vector<Diagnostic>& diagnostics);
// "SQL Server does not exist or access denied" (native 17), with a detail in parentheses.
Error NoServerError(const std::vector<Diagnostic>& diagnostics, const std::string& detail = {});
// "General network error" (native 11): the connection is gone.
Error NetworkError(const std::vector<Diagnostic>& diagnostics);
// Why a connect failed, as the product reports it: a refused login is 0x80040E4D whatever
// SQLSTATE the driver chose; a missing driver is a missing provider; a failed Windows
// authentication says it needs Kerberos; anything else means the server was not reached.
Error ConnectFailure(const std::vector<Diagnostic>& diagnostics, const ConnectRequest& request,
                     std::string_view driver);

}  // namespace db
