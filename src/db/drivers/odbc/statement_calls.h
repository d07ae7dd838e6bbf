// The ODBC functions that read a request's results, with the statement handle they take.
// Normally the driver manager's. unixODBC, however, returns a statement whose SQLExecDirect
// failed to its allocated state and answers SQLMoreResults itself with SQL_NO_DATA, although
// the driver still holds the rest of the batch (at the server a batch goes on after a failed
// statement, the first one included). The driver's own functions, with its own handle, read
// that rest.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <memory>

#include "db/drivers/odbc/diagnostics.h"

namespace db {

struct StatementCalls {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  decltype(&::SQLMoreResults) more_results = &::SQLMoreResults;
  decltype(&::SQLNumResultCols) num_result_cols = &::SQLNumResultCols;
  decltype(&::SQLDescribeColW) describe_col = &::SQLDescribeColW;
  decltype(&::SQLColAttributeW) col_attribute = &::SQLColAttributeW;
  decltype(&::SQLFetch) fetch = &::SQLFetch;
  decltype(&::SQLGetData) get_data = &::SQLGetData;
  decltype(&::SQLRowCount) row_count = &::SQLRowCount;
  DiagnosticCalls diagnostics;
};

// The library of the driver a connection loaded, found among the loaded objects by the name the
// driver gives itself (SQL_DRIVER_NAME); kept loaded while this lives.
class DriverLibrary {
 public:
  // nullptr when the driver manager or the driver does not tell enough to find it.
  static std::unique_ptr<DriverLibrary> Of(SQLHDBC connection);
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  // The driver's own functions on the driver's own handle for a driver manager statement;
  // false when the driver manager does not tell the handle.
  bool CallsFor(SQLHDBC connection, SQLHSTMT statement, StatementCalls* calls) const;

 private:
  DriverLibrary(void* handle, const StatementCalls& functions)
      : handle_(handle), functions_(functions) {}
  void* handle_;
  StatementCalls functions_;
};

}  // namespace db
