// The Linux implementations of every platform service, built together for an executable.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/linux_network_discovery.h"
#include "platform/linux_network_probe.h"
#include "platform/services.h"
#include "platform/sqlite_registry_store.h"
#include "platform/systemd_service_control.h"
#include "platform/terminal_user_interface.h"

namespace platform {

class LinuxPlatform {
 public:
  struct Options {
    std::optional<std::filesystem::path> registry_path;  // default: DefaultRegistryPath
    bool use_systemd = true;  // the local default instance's mssql-server unit
    TerminalUserInterface::Options terminal;
  };

  // Opens the registry store (throws common::Error when it cannot be opened). Without a user
  // interface of the caller's, a terminal one on standard input and standard error is used.
  explicit LinuxPlatform(Options options, UserInterface* ui = nullptr);
  ~LinuxPlatform();

  Services services();
  // For plugging in more providers, such as the sandbox server's instances.
  CompositeServiceControl& service_control() { return service_control_; }
  LinuxNetworkDiscovery& discovery() { return *discovery_; }
  LinuxSystemFacts& system() { return system_; }
  SqliteRegistryStore& registry() { return *registry_; }

 private:
  ProcessEnvironment environment_;
  std::unique_ptr<SqliteRegistryStore> registry_;
  LinuxNetworkProbe network_;
  std::unique_ptr<SystemdServiceControl> systemd_;
  CompositeServiceControl service_control_;
  std::unique_ptr<LinuxNetworkDiscovery> discovery_;
  LinuxSystemFacts system_;
  std::unique_ptr<TerminalUserInterface> terminal_;
  UserInterface* ui_;
  LocalFileSystem files_;
};

}  // namespace platform
