#include "db/drivers/odbc/statement_calls.h"

#include <dlfcn.h>
#include <link.h>

#include <string>

namespace db {

namespace {

std::string BaseName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Search {
  std::string name;  // "libtdsodbc.so"
  std::string found;
};

int Visit(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  if (!info->dlpi_name || !*info->dlpi_name) return 0;
  std::string path = info->dlpi_name;
  // The driver manager may have loaded "libtdsodbc.so" or a versioned name of it.
  if (BaseName(path).rfind(search->name, 0) != 0) return 0;
  search->found = path;
  return 1;
}

template <typename Function>
bool Find(void* handle, const char* name, Function* function) {
  void* symbol = ::dlsym(handle, name);
  if (!symbol) return false;
  *function = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

std::unique_ptr<DriverLibrary> DriverLibrary::Of(SQLHDBC connection) {
  char name[512] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(connection, SQL_DRIVER_NAME, name, sizeof name - 1, &length)))
    return nullptr;
  Search search{BaseName(name), {}};
  if (search.name.empty()) return nullptr;
  ::dl_iterate_phdr(Visit, &search);
  if (search.found.empty()) return nullptr;
  void* handle = ::dlopen(search.found.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (!handle) return nullptr;
  StatementCalls c;
  if (!Find(handle, "SQLMoreResults", &c.more_results) ||
      !Find(handle, "SQLNumResultCols", &c.num_result_cols) ||
      !Find(handle, "SQLDescribeColW", &c.describe_col) ||
      !Find(handle, "SQLColAttributeW", &c.col_attribute) || !Find(handle, "SQLFetch", &c.fetch) ||
      !Find(handle, "SQLGetData", &c.get_data) || !Find(handle, "SQLRowCount", &c.row_count) ||
      !Find(handle, "SQLGetDiagRecW", &c.diagnostics.record) ||
      !Find(handle, "SQLGetDiagFieldW", &c.diagnostics.field)) {
    ::dlclose(handle);
    return nullptr;
  }
  return std::unique_ptr<DriverLibrary>(new DriverLibrary(handle, c));
}

DriverLibrary::~DriverLibrary() { ::dlclose(handle_); }

bool DriverLibrary::CallsFor(SQLHDBC connection, SQLHSTMT statement, StatementCalls* calls) const {
  // In: the driver manager's handle; out: the driver's.
  SQLHSTMT own = statement;
  if (!SQL_SUCCEEDED(SQLGetInfo(connection, SQL_DRIVER_HSTMT, &own, sizeof own, nullptr)) || !own ||
      own == statement)
    return false;
  *calls = functions_;
  calls->statement = own;
  return true;
}

}  // namespace db
