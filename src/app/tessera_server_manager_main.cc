// tessera-server-manager: the desktop console.
//   tessera-server-manager [--sandbox]
// --sandbox makes the demonstration server (as `tessera-admin demo`, unless it is there already)
// and registers it before the window opens.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "app/server_manager/workspace.h"
#include "common/version.h"
#include "gui/application.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessera-server-manager [--sandbox] [QT-OPTIONS]\n"
    "\n"
    "The desktop console of Tessera Server Manager: the registered SQL Servers with their\n"
    "collections, logins and users, and the commands to administer them.\n"
    "\n"
    "Options:\n"
    "  --sandbox  make (unless it exists) and register the demonstration sandbox server\n"
    "             (sandbox)\\DEMO first, as 'tessera-admin demo' does\n"
    "  --help     show this help and exit (needs no display)\n"
    "  --version  show the version and exit\n"
    "\n"
    "Qt's own options, such as -platform NAME, are taken as well.\n"
    "\n"
    "Exit status:\n"
    "  0  the window was closed\n"
    "  1  the window could not be opened, or the demonstration server not made\n"
    "  2  wrong command line\n"
    "\n"
    "Environment:\n"
    "  TESSERA_REGISTRY      the registry file of the registered servers, instead of\n"
    "                        $XDG_CONFIG_HOME/tessera-server-manager/registry.db\n"
    "  TESSERA_SANDBOX_ROOT  the folder of the sandbox server's instances, instead of\n"
    "                        $XDG_DATA_HOME/tessera-server-manager/sandbox\n"
    "  XDG_CONFIG_HOME       the folder of settings (default: ~/.config)\n"
    "  XDG_DATA_HOME         the folder of data (default: ~/.local/share)\n"
    "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM\n"
    "                        the display the window opens on\n"
    "\n"
    "Files:\n"
    "  ~/.config/tessera-server-manager/registry.db\n"
    "                        the registered servers, shared with tessera-admin\n"
    "  ~/.config/tessera-server-manager/console.ini\n"
    "                        the window's size, splitter and column widths\n"
    "  ~/.local/share/tessera-server-manager/sandbox/\n"
    "                        the sandbox server's instances, shared with tessera-sandbox\n";

}  // namespace

int main(int argc, char** argv) {
  // Before the application object, which needs a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "tessera-server-manager " << common::kProductVersion << "\n";
      return 0;
    }
  }
  // Qt takes its own options (-platform, ...) off the command line here.
  gui::Application application(argc, argv);

  bool sandbox = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sandbox") == 0) {
      sandbox = true;
    } else {
      std::cerr << "tessera-server-manager: unknown option '" << argv[i] << "' (try --help)\n";
      return 2;
    }
  }

  if (sandbox) {
    std::string failure = server_manager::PrepareDemo();
    if (!failure.empty()) {
      application.ShowError("The demonstration server could not be made:\n" + failure);
      return 1;
    }
  }

  try {
    server_manager::Workspace workspace(application.ui());
    // The window connects the registrations itself, all at once, so it shows at once.
    return application.Run(workspace.Servers(servers::ConnectAtLoad::kByCaller),
                           workspace.ServerContext());
  } catch (const std::exception& error) {
    application.ShowError(error.what());
    return 1;
  }
}
