#include "platform/linux_platform.h"

#include <iostream>

namespace platform {

LinuxPlatform::LinuxPlatform(Options options, UserInterface* ui)
    : registry_(SqliteRegistryStore::Open(
          options.registry_path.value_or(DefaultRegistryPath(environment_)))),
      network_(environment_, LinuxNetworkProbe::Options{}),
      system_(environment_),
      ui_(ui) {
  if (options.use_systemd) {
    systemd_ =
        std::make_unique<SystemdServiceControl>(environment_, SystemdServiceControl::Options{});
    service_control_.AddProvider(*systemd_);
  }
  discovery_ = std::make_unique<LinuxNetworkDiscovery>(
      network_, environment_, LinuxNetworkDiscovery::DefaultOptions(environment_));
  if (ui_ == nullptr) {
    // Messages go to standard error so that standard output stays the command's result.
    terminal_ = std::make_unique<TerminalUserInterface>(std::cin, std::cerr, options.terminal);
    ui_ = terminal_.get();
  }
}

LinuxPlatform::~LinuxPlatform() = default;

Services LinuxPlatform::services() {
  return Services{environment_, *registry_, network_, service_control_, *discovery_, system_, *ui_, files_};
}

}  // namespace platform
