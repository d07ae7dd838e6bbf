// The Qt application of the desktop console, for a main() that includes no Qt itself: it makes
// the application object, offers the window's user interface before the window exists, and runs
// the main window over the registered servers.
#pragma once

#include <memory>
#include <string>

#include "platform/user_interface.h"
#include "servers/context.h"
#include "servers/servers.h"

class QApplication;

namespace gui {

class QtUserInterface;

class Application {
 public:
  // Qt reads (and removes) its own options from the command line.
  Application(int& argc, char** argv);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  platform::UserInterface& ui();
  // A message box with the critical icon and the display name as its title.
  void ShowError(const std::string& text);
  // Shows the console window and runs until it is closed; the program's exit code.
  int Run(servers::Servers& servers, servers::Context context);

 private:
  std::unique_ptr<QApplication> application_;
  std::unique_ptr<QtUserInterface> ui_;
};

}  // namespace gui
