#include "app/services/sandbox_services.h"

#include <cctype>

#include "db/drivers/sandbox/sandbox_driver.h"
#include "platform/local_machine.h"

namespace app {

namespace {

bool IsDefaultInstance(std::string_view name) {
  if (name.empty()) return true;
  constexpr std::string_view kDefault = "MSSQLSERVER";
  if (name.size() != kDefault.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != kDefault[i]) return false;
  }
  return true;
}

}  // namespace

SandboxServiceControl::SandboxServiceControl(std::shared_ptr<sandbox::Host> host)
    : host_(std::move(host)) {}

bool SandboxServiceControl::Handles(std::string_view data_source) {
  return platform::IsSandboxDataSource(data_source);
}

std::shared_ptr<sandbox::Instance> SandboxServiceControl::Find(std::string_view data_source) {
  if (!host_) return nullptr;
  auto name = db::SandboxDriver::InstanceName(platform::StripLeadingBackslashes(data_source));
  if (!name) return nullptr;
  try {
    return host_->Find(*name);
  } catch (const std::exception&) {
    // An instance whose files cannot be opened has no service to ask.
    return nullptr;
  }
}

int SandboxServiceControl::Status(std::string_view data_source) {
  auto instance = Find(data_source);
  if (!instance) return platform::kServiceUnknown;
  return instance->config().running ? platform::kServiceRunning : platform::kServiceStopped;
}

bool SandboxServiceControl::Start(std::string_view data_source) {
  auto instance = Find(data_source);
  if (!instance || instance->config().running) return false;
  instance->SetRunning(true);
  return true;
}

bool SandboxServiceControl::Stop(std::string_view data_source) {
  auto instance = Find(data_source);
  if (!instance || !instance->config().running) return false;
  instance->SetRunning(false);
  return true;
}

std::string SandboxDataSource(std::string_view instance_name) {
  std::string data_source(platform::kSandboxMachine);
  if (!IsDefaultInstance(instance_name)) {
    data_source += '\\';
    data_source += instance_name;
  }
  return data_source;
}

std::vector<std::string> SandboxDataSources(const std::filesystem::path& root) {
  std::vector<std::string> data_sources;
  for (const std::string& name : sandbox::ListInstances(root)) {
    std::string data_source = SandboxDataSource(name);
    if (IsDefaultInstance(name)) {
      data_sources.insert(data_sources.begin(), std::move(data_source));
    } else {
      data_sources.push_back(std::move(data_source));
    }
  }
  return data_sources;
}

SandboxServices::SandboxServices(std::shared_ptr<sandbox::Host> host, std::filesystem::path root)
    : service_control_(std::move(host)), root_(std::move(root)) {}

SandboxServices::~SandboxServices() {
  if (attached_to_) attached_to_->RemoveProvider(service_control_);
}

void SandboxServices::Attach(platform::CompositeServiceControl& service_control,
                             platform::LinuxNetworkDiscovery& discovery) {
  if (attached_to_ && attached_to_ != &service_control)
    attached_to_->RemoveProvider(service_control_);
  service_control.AddProvider(service_control_);
  attached_to_ = &service_control;
  discovery.SetSandboxLister(Lister());
}

platform::LinuxNetworkDiscovery::SandboxLister SandboxServices::Lister() const {
  // The root is copied: the discovery may outlive this object.
  return [root = root_] { return SandboxDataSources(root); };
}

}  // namespace app
