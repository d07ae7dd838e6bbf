// What one run of the desktop console works with: the platform services of this machine with the
// window's own user interface, the sandbox server's instances, the database environment and the
// registered servers.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/services/sandbox_services.h"
#include "db/environment.h"
#include "platform/linux_platform.h"
#include "platform/user_interface.h"
#include "sandbox/server.h"
#include "servers/servers.h"

namespace server_manager {

class Workspace {
 public:
  // Opens the registry store (TESSERA_REGISTRY, else the per-user file) and the sandbox root
  // (TESSERA_SANDBOX_ROOT, else the per-user folder). Questions the domain code asks on its own
  // (consent to disconnect users, ...) go to `ui`, which must outlive the workspace. Throws
  // common::Error when the store cannot be opened.
  explicit Workspace(platform::UserInterface& ui);
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  // The registrations, loaded at the first call and each connected in turn, unless `connect`
  // leaves that to the caller (the window connects them all at once).
  servers::Servers& Servers(servers::ConnectAtLoad connect = servers::ConnectAtLoad::kInTurn);
  // What registrations are made and connected with.
  servers::Context ServerContext();

 private:
  platform::LinuxPlatform platform_;
  std::filesystem::path sandbox_root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<db::Environment> environment_;
  app::SandboxServices sandbox_services_;
  std::unique_ptr<servers::Servers> servers_;
};

// The demonstration server of `tessera-admin demo`, built afresh unless it is registered and its
// instance is there already. Returns an empty text on success, else why it could not be made.
std::string PrepareDemo();

}  // namespace server_manager
