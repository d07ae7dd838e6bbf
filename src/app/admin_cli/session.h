// What one run of tessera-admin works with: the platform services of this machine, the sandbox
// server's instances, the database environment, and the registered servers, loaded when a
// command first needs them. Also finds the server and collection a command line names.
#pragma once

#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "app/admin_cli/command_line.h"
#include "app/services/sandbox_services.h"
#include "collections/database.h"
#include "collections/databases.h"
#include "db/environment.h"
#include "db/observer.h"
#include "platform/linux_platform.h"
#include "platform/terminal_user_interface.h"
#include "sandbox/server.h"
#include "servers/context.h"
#include "servers/server.h"
#include "servers/servers.h"

namespace admin_cli {

struct Io {
  std::istream& in;
  std::ostream& out;          // results
  std::ostream& err;          // messages, questions, progress, the statement trace
  bool interactive = false;   // questions are answered on `in` (a terminal)
  bool progress_bar = false;  // progress as a bar rather than lines (a terminal)
};

// The terminal's user interface, whose progress on a terminal is one bar redrawn in place, with
// the wait line (such as "10 of 18 items processed") beside it.
class AdminUserInterface : public platform::TerminalUserInterface {
 public:
  AdminUserInterface(std::istream& in, std::ostream& out, Options options)
      : TerminalUserInterface(in, out, options), out_(out), bar_(options.show_progress) {}
  std::unique_ptr<platform::ProgressSink> OpenProgress() override;

 private:
  std::ostream& out_;
  bool bar_;
};

// A command that could not be done, with the reason to print.
struct CommandError {
  std::string text;
};

class Session {
 public:
  // Opens the registry store (TESSERA_REGISTRY, else the per-user file) and the sandbox root
  // (TESSERA_SANDBOX_ROOT, else the per-user folder). Throws common::Error when the store cannot
  // be opened.
  Session(Io io, const GlobalOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Io& io() { return io_; }
  const GlobalOptions& options() const { return options_; }
  platform::UserInterface& ui() { return ui_; }
  platform::Services services() { return platform_.services(); }
  const std::shared_ptr<db::Environment>& environment() const { return environment_; }
  const std::shared_ptr<sandbox::Host>& sandbox_host() const { return host_; }
  const std::filesystem::path& sandbox_root() const { return sandbox_root_; }
  // The statement trace shows the text as '***' wherever it is sent as a literal.
  void MaskInTrace(std::string_view secret) {
    if (trace_) trace_->Mask(secret);
  }

  servers::Context ServerContext();
  // The registrations, loaded (and each connected) at the first call.
  servers::Servers& Servers();
  // Forgets the loaded registrations, so the next Servers() reads them afresh.
  void UnloadServers();

  // The registration named by its ServerID or by its data source (letter case aside) when only
  // one registration has it. Throws CommandError otherwise.
  servers::Server& FindServer(std::string_view text);
  // The server's collection of that display name (the exact spelling, else the one that
  // matches without regard to case) or of that database name. Throws CommandError when the
  // server is not connected, has no such collection, or several collections have that name.
  collections::Database& FindCollection(servers::Server& server, std::string_view name);

 private:
  Io io_;
  GlobalOptions options_;
  AdminUserInterface ui_;
  platform::LinuxPlatform platform_;
  std::filesystem::path sandbox_root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<db::Environment> environment_;
  std::shared_ptr<db::StatementTrace> trace_;
  app::SandboxServices sandbox_services_;
  std::unique_ptr<servers::Servers> servers_;
};

// The server's collections, read at the first call (those the login may not open are left out
// and named by the catalogue). An error while reading them becomes a CommandError that names the
// server.
collections::Databases& CatalogueOf(servers::Server& server);

// Why the registration is not connected, as its last connect found out (the name not found, no
// answer to the echo, the login refused, the server's message).
std::string NotConnectedReason(const servers::Server& server);

// Letter case aside, ASCII.
bool SameText(std::string_view a, std::string_view b);

}  // namespace admin_cli
