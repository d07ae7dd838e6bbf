// For suites written against the in-process sandbox that run a second time over the network:
// the sandbox's own data sources ("(sandbox)", "(sandbox)\NAME") are served over TDS on free
// loopback ports and reached through the ODBC driver, so the suites keep their connection
// strings, statements and assertions. Windows logins cannot reach the sandbox over the network
// (it refuses them there): integrated-security connections are left to the in-process driver
// given (other logins the suites connect beside the one under test), or without one log in as
// sa with its empty password (suites that connect as the instance's administrator only).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "db/driver.h"
#include "db/drivers/odbc/odbc_driver.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "sandbox/server.h"
#include "sandbox/tds/server.h"

namespace db::testing {

class ServedSandboxDriver : public Driver {
 public:
  ServedSandboxDriver(std::shared_ptr<sandbox::Host> host, std::shared_ptr<Driver> integrated)
      : host_(std::move(host)), integrated_(std::move(integrated)) {}
  ~ServedSandboxDriver() override {
    for (auto& [name, server] : servers_) server->Stop();
  }

  std::string name() const override { return "sandbox over odbc"; }
  bool Accepts(std::string_view data_source) const override {
    return SandboxDriver::InstanceName(data_source).has_value();
  }
  std::unique_ptr<DriverSession> Connect(const ConnectRequest& request) override {
    if (request.integrated && integrated_) return integrated_->Connect(request);
    ConnectRequest over_network = request;
    if (request.integrated) {
      over_network.integrated = false;
      over_network.user = "sa";
      over_network.password.clear();
    }
    over_network.data_source = "127.0.0.1," + std::to_string(Port(request.data_source));
    return odbc_.Connect(over_network);
  }

 private:
  // The port an instance is served on, started at the first connection; 1 (nobody listens)
  // for an instance that does not exist, so connecting fails as with a missing server.
  int Port(std::string_view data_source) {
    std::string name = SandboxDriver::InstanceName(data_source).value_or("");
    std::lock_guard lock(mutex_);
    auto found = servers_.find(name);
    if (found != servers_.end()) return found->second->port();
    std::shared_ptr<sandbox::Instance> instance = host_->Find(name);
    if (!instance) return 1;
    auto server = std::make_unique<sandbox::tds::Server>(
        instance, sandbox::tds::ServerOptions{"127.0.0.1", 0}, nullptr);
    int port = server->Start();
    servers_.emplace(name, std::move(server));
    return port;
  }

  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<Driver> integrated_;
  OdbcDriver odbc_;
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<sandbox::tds::Server>> servers_;
};

}  // namespace db::testing
