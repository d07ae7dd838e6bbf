#include "platform/registry_store.h"

#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

std::filesystem::path HomeFolder(const Environment& environment) {
  if (auto home = environment.Get("HOME"); home && !home->empty()) return *home;
  // No HOME (a service, a stripped environment): ask the user database.
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/tmp";
}

}  // namespace

std::filesystem::path DefaultRegistryPath(const Environment& environment) {
  if (auto path = environment.Get("TESSERA_REGISTRY"); path && !path->empty()) return *path;
  std::filesystem::path config;
  // The base directory rules say a relative XDG_CONFIG_HOME is to be ignored.
  if (auto xdg = environment.Get("XDG_CONFIG_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
    config = *xdg;
  } else {
    config = HomeFolder(environment) / ".config";
  }
  return config / "tessera-server-manager" / "registry.db";
}

}  // namespace platform
