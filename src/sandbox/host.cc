#include <cstdlib>
#include <map>
#include <mutex>

#include "sandbox/collation.h"
#include "sandbox/instance.h"
#include "sandbox/server.h"

namespace sandbox {

namespace fs = std::filesystem;

namespace {

class HostImpl : public Host {
 public:
  explicit HostImpl(fs::path root) : root_(std::move(root)) {}

  std::shared_ptr<Instance> Find(std::string_view instance_name) override {
    std::lock_guard lock(mutex_);
    std::string key = Key(instance_name);
    auto it = open_.find(key);
    if (it != open_.end()) {
      if (auto live = it->second.lock()) return live;
    }
    auto instance = InstanceImpl::Open(root_, instance_name);
    if (instance) open_[key] = instance;
    return instance;
  }

  std::shared_ptr<Instance> Create(std::string_view instance_name,
                                   const InstanceConfig& config) override {
    std::lock_guard lock(mutex_);
    fs::create_directories(root_);
    auto instance = InstanceImpl::Create(root_, instance_name, config);
    open_[Key(instance_name)] = instance;
    return instance;
  }

 private:
  static std::string Key(std::string_view name) {
    return name.empty() || EqualsNoCase(name, "MSSQLSERVER") ? "MSSQLSERVER" : Upper(name);
  }

  fs::path root_;
  std::mutex mutex_;
  // Instances stay shared while anyone uses them, so every session sees the same server.
  std::map<std::string, std::weak_ptr<InstanceImpl>> open_;
};

}  // namespace

fs::path DefaultRoot() {
  if (const char* root = std::getenv("TESSERA_SANDBOX_ROOT"); root && *root) return root;
  fs::path data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    data = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    data = fs::path(home) / ".local" / "share";
  } else {
    data = fs::temp_directory_path();
  }
  return data / "tessera-server-manager" / "sandbox";
}

std::unique_ptr<Host> OpenHost(const fs::path& root) { return std::make_unique<HostImpl>(root); }

}  // namespace sandbox
