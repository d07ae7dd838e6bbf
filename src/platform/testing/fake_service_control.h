// A service-control provider for tests: services in the states the test gives, starting and
// stopping as told, every request recorded.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/service_control.h"

namespace platform {

class FakeServiceControl : public ServiceControlProvider {
 public:
  struct Service {
    int status = kServiceStopped;
    bool start_succeeds = true;  // a successful start makes the service running
    bool stop_succeeds = true;   // a successful stop makes it stopped
  };
  struct Call {
    std::string operation;  // "Status", "Start" or "Stop"
    std::string data_source;
  };

  // Data sources compare without regard to case and leading backslashes.
  void SetService(std::string data_source, Service service);
  // The service of a data source, or nullptr when none was set.
  const Service* Find(std::string_view data_source) const;

  bool Handles(std::string_view data_source) override;
  int Status(std::string_view data_source) override;
  bool Start(std::string_view data_source) override;
  bool Stop(std::string_view data_source) override;

  const std::vector<Call>& calls() const { return calls_; }

 private:
  std::map<std::string, Service> services_;  // by upper-case data source
  std::vector<Call> calls_;
};

}  // namespace platform
