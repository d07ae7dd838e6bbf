#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>

#include "sandbox/collation.h"
#include "sandbox/file_modes.h"
#include "sandbox/instance.h"
#include "sandbox/server.h"

namespace sandbox {

namespace fs = std::filesystem;

namespace {

// What Create accepts as an instance name (its folder is the upper-case name).
bool IsInstanceName(std::string_view name) {
  if (name.size() > 16) return false;
  for (char c : name) {
    bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '-' ||
              static_cast<unsigned char>(c) >= 0x80;
    if (!ok) return false;
  }
  return true;
}

class HostImpl : public Host {
 public:
  explicit HostImpl(fs::path root) : root_(std::move(root)) {}

  std::shared_ptr<Instance> Find(std::string_view instance_name) override {
    // The name becomes a folder below the root: "..", slashes and the like name none.
    if (!IsInstanceName(instance_name)) return nullptr;
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
    CreatePrivateFolders(root_);
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

std::vector<std::string> ListInstances(const fs::path& root) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    // A folder is an instance once its configuration is written, which Create does first.
    std::error_code file_ec;
    if (!fs::is_regular_file(it->path() / "instance.conf", file_ec)) continue;
    std::string name = it->path().filename().string();
    if (name == Upper(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace sandbox
