// The SQL Server service of this machine as a systemd unit (mssql-server), asked through
// systemctl. It answers only for the default instance on this machine; nothing is asked of other
// machines.
#pragma once

#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/local_machine.h"
#include "platform/service_control.h"

namespace platform {

class SystemdServiceControl : public ServiceControlProvider {
 public:
  struct Options {
    std::string systemctl = "systemctl";  // found on PATH unless it holds a "/"
    std::string unit = "mssql-server.service";
    int timeout_ms = 5000;  // a systemctl that hangs is stopped after this
  };

  SystemdServiceControl(const Environment& environment, Options options);

  // This machine's default instance: "", ".", "(local)", "localhost", the host name or
  // COMPUTERNAME, optionally with ",port" or "\MSSQLSERVER".
  bool Handles(std::string_view data_source) override;
  int Status(std::string_view data_source) override;
  // Start and stop are queued with systemd and not waited for, as the service-control manager
  // returns once the request is accepted.
  bool Start(std::string_view data_source) override;
  bool Stop(std::string_view data_source) override;

 private:
  // Runs systemctl with the arguments; the exit code (-1 when it could not run or timed out).
  int Run(const std::vector<std::string>& arguments, std::string* output);

  LocalMachine local_;
  Options options_;
};

// The service state for systemd's LoadState and ActiveState.
int ServiceStateOfUnit(std::string_view load_state, std::string_view active_state);

}  // namespace platform
