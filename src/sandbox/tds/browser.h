// The SQL Server Browser's part a client needs: on a UDP port (1434 by default) it names the TCP
// port of each served instance, so "host\NAME" reaches a named instance without a port number.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sandbox/tds/server.h"

namespace sandbox::tds {

struct BrowserInstance {
  std::string server_name;    // the machine as clients name it, e.g. "SRV01"
  std::string instance_name;  // "MSSQLSERVER" for the default instance
  int tcp_port = 0;
};

// The answer to one datagram, or std::nullopt when it gets none: an instance request (0x04, a
// name of at most 31 bytes and its NUL or none) for an instance not served, an unknown request, or
// anything malformed. A list request (0x02 broadcast, 0x03 unicast) names every served instance.
std::optional<std::string> BrowserAnswer(std::string_view datagram,
                                         const std::vector<BrowserInstance>& instances);

class BrowserResponder {
 public:
  BrowserResponder(std::vector<BrowserInstance> instances, LogFunction log);
  ~BrowserResponder();
  BrowserResponder(const BrowserResponder&) = delete;
  BrowserResponder& operator=(const BrowserResponder&) = delete;

  // Binds UDP `port` (0: any free one) of `address` and starts answering; returns the port.
  // Throws std::system_error (with the errno, e.g. EADDRINUSE) when it cannot.
  int Start(const std::string& address, int port);
  void Stop();

 private:
  void Loop();

  std::vector<BrowserInstance> instances_;
  LogFunction log_;
  int fd_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace sandbox::tds
