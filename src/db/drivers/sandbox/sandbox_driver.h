// The driver for the in-process sandbox server: data sources "(sandbox)" (the default instance)
// and "(sandbox)\NAME", reached through a sandbox::Host.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "db/driver.h"
#include "sandbox/server.h"

namespace db {

class SandboxDriver : public Driver {
 public:
  // os_user is the account integrated security logs in as; empty means the local user.
  explicit SandboxDriver(std::shared_ptr<sandbox::Host> host, std::string os_user = {},
                         std::string host_name = {});

  std::string name() const override { return "sandbox"; }
  bool Accepts(std::string_view data_source) const override;
  std::unique_ptr<DriverSession> Connect(const ConnectRequest& request) override;

  // The instance a data source names: "" for "(sandbox)", "NAME" for "(sandbox)\NAME";
  // std::nullopt when it is not a sandbox data source.
  static std::optional<std::string> InstanceName(std::string_view data_source);

 private:
  std::shared_ptr<sandbox::Host> host_;
  std::string os_user_;
  std::string host_name_;
  // Logins from several threads (a window connects every server at once) go one at a time: an
  // instance picks a session number before it registers the session, so two at once could be
  // given the same one.
  std::mutex login_mutex_;
};

// The sandbox driver for the instances under a root folder (the sandbox's default root unless
// given).
std::shared_ptr<SandboxDriver> OpenSandboxDriver(const std::filesystem::path& root);
std::shared_ptr<SandboxDriver> OpenSandboxDriver();

// The name of the account the program runs under (no domain).
std::string LocalUserName();
// This machine's name.
std::string LocalHostName();

}  // namespace db
