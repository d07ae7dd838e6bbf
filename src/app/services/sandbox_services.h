// The sandbox server as the platform services see it: its instances answer the service control
// for "(sandbox)" and "(sandbox)\NAME", and the network discovery offers them as servers.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux_network_discovery.h"
#include "platform/service_control.h"
#include "sandbox/server.h"

namespace app {

// Starting and stopping a sandbox instance is what starting and stopping its service is on a
// real server: a stop ends every session and refuses new ones, also those of other processes.
class SandboxServiceControl : public platform::ServiceControlProvider {
 public:
  explicit SandboxServiceControl(std::shared_ptr<sandbox::Host> host);

  // "(sandbox)" and "(sandbox)\NAME", whether or not the instance exists.
  bool Handles(std::string_view data_source) override;
  // kServiceRunning or kServiceStopped; kServiceUnknown for an instance that does not exist.
  int Status(std::string_view data_source) override;
  // As the service-control manager: false for an unknown instance and for one that already is in
  // the state asked for.
  bool Start(std::string_view data_source) override;
  bool Stop(std::string_view data_source) override;

 private:
  std::shared_ptr<sandbox::Instance> Find(std::string_view data_source);

  std::shared_ptr<sandbox::Host> host_;
};

// The data source of an instance name: "(sandbox)" for the default instance ("" or
// "MSSQLSERVER"), "(sandbox)\NAME" for a named one.
std::string SandboxDataSource(std::string_view instance_name);
// The data sources of the instances under a root folder, the default instance first.
std::vector<std::string> SandboxDataSources(const std::filesystem::path& root);

// Plugs the sandbox into a platform's services for as long as it lives.
class SandboxServices {
 public:
  // host should be the one the program's sandbox driver uses, so that a stop reaches its
  // sessions at once.
  SandboxServices(std::shared_ptr<sandbox::Host> host, std::filesystem::path root);
  ~SandboxServices();
  SandboxServices(const SandboxServices&) = delete;
  SandboxServices& operator=(const SandboxServices&) = delete;

  // Adds the service-control provider (no other provider handles "(sandbox)" names, so its place
  // among them does not matter) and gives the discovery the sandbox instances.
  void Attach(platform::CompositeServiceControl& service_control,
              platform::LinuxNetworkDiscovery& discovery);

  SandboxServiceControl& service_control() { return service_control_; }
  // What the discovery calls for the sandbox's servers.
  platform::LinuxNetworkDiscovery::SandboxLister Lister() const;

 private:
  SandboxServiceControl service_control_;
  std::filesystem::path root_;
  platform::CompositeServiceControl* attached_to_ = nullptr;
};

}  // namespace app
