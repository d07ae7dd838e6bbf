// tessera-server-manager: the desktop console.
//   tessera-server-manager [--sandbox]
// --sandbox makes the demonstration server (as `tessera-admin demo`, unless it is there already)
// and registers it before the window opens.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "app/server_manager/workspace.h"
#include "gui/application.h"

namespace {

constexpr char kUsage[] =
    "Usage: tessera-server-manager [--sandbox]\n"
    "  --sandbox  make and register the demonstration sandbox server first\n";

}  // namespace

int main(int argc, char** argv) {
  // Before the application object, which needs a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
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
