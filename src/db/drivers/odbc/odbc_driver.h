// The driver for real SQL Servers: unixODBC with FreeTDS's ODBC driver (found by its path when
// it is not registered in odbcinst.ini) or Microsoft's ODBC Driver 17/18 when asked for. Data
// sources are host names with an optional "\INSTANCE" or ",PORT"; "(sandbox)" ones are left to
// the sandbox driver.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/driver.h"

namespace db {

struct OdbcEnvironment;

struct OdbcOptions {
  // The ODBC driver: a name registered in odbcinst.ini ("FreeTDS", "ODBC Driver 18 for SQL
  // Server") or the path of its library. Empty: FreeTDS's library where Debian installs it.
  // A "Driver" key in the connection string wins.
  std::string driver;
  // Where the SQL Server Browser answers; other ports only for tests.
  int browser_port = 1434;
};

// What a data source names: "host", "host\instance" or "host,port" (with optional "tcp:").
struct DataSourceAddress {
  std::string host;
  std::string instance;  // empty for the default instance
  int port = 0;          // 0: not given
};
// std::nullopt for a data source that names no server ("", "host,", "host,99999", ...).
std::optional<DataSourceAddress> ParseDataSource(std::string_view data_source);

// The driver to load when none is configured: FreeTDS's library if it is installed in one of the
// usual places, else the name "FreeTDS".
std::string DefaultOdbcDriver();
// Whether the driver is one of Microsoft's (their connection string keys differ a little).
bool IsMicrosoftDriver(std::string_view driver);

// The ODBC connection string for a connect request to a resolved address. Values are braced
// where they need it, so passwords with ";", "}" or "=" reach the server unchanged.
std::string OdbcConnectionString(const ConnectRequest& request, const DataSourceAddress& address,
                                 std::string_view driver);

// Asks the SQL Server Browser on host for the TCP port of a named instance (UDP, one request
// and one answer, waiting at most `wait`). std::nullopt when nobody answers or the instance is
// not known there.
std::optional<int> BrowserInstancePort(const std::string& host, std::string_view instance,
                                       int browser_port, std::chrono::milliseconds wait);
// The TCP port in a Browser answer (0x05, length, "ServerName;X;InstanceName;Y;...;tcp;1433;;")
// for the instance; std::nullopt when the answer is malformed or names no such instance.
std::optional<int> ParseBrowserReply(std::string_view reply, std::string_view instance);

class OdbcDriver : public Driver {
 public:
  explicit OdbcDriver(OdbcOptions options = {});
  ~OdbcDriver() override;
  OdbcDriver(const OdbcDriver&) = delete;
  OdbcDriver& operator=(const OdbcDriver&) = delete;

  std::string name() const override { return "odbc"; }
  // Any data source that is not a sandbox one.
  bool Accepts(std::string_view data_source) const override;
  std::unique_ptr<DriverSession> Connect(const ConnectRequest& request) override;

 private:
  OdbcOptions options_;
  std::shared_ptr<OdbcEnvironment> environment_;  // shared with the sessions
};

}  // namespace db
