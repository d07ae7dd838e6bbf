// tessera-server-manager: the desktop console.
//   tessera-server-manager [--sandbox]
// --sandbox makes the demonstration server (as `tessera-admin demo`, unless it is there already)
// and registers it before the window opens.
#include <QApplication>
#include <QMessageBox>
#include <cstring>
#include <iostream>

#include "app/server_manager/workspace.h"
#include "gui/main_window.h"
#include "gui/qt_user_interface.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("tessera-server-manager");
  QApplication::setApplicationDisplayName("Tessera Server Manager");

  bool sandbox = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sandbox") == 0) {
      sandbox = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << "Usage: tessera-server-manager [--sandbox]\n"
                   "  --sandbox  make and register the demonstration sandbox server first\n";
      return 0;
    } else {
      std::cerr << "tessera-server-manager: unknown option '" << argv[i] << "' (try --help)\n";
      return 2;
    }
  }

  if (sandbox) {
    std::string failure = server_manager::PrepareDemo();
    if (!failure.empty()) {
      QMessageBox::critical(
          nullptr, "Tessera Server Manager",
          "The demonstration server could not be made:\n" + QString::fromStdString(failure));
      return 1;
    }
  }

  gui::QtUserInterface ui;
  try {
    server_manager::Workspace workspace(ui);
    gui::MainWindow window(workspace.Servers(), workspace.ServerContext(), ui);
    ui.SetOwner(&window);
    window.show();
    return QApplication::exec();
  } catch (const std::exception& error) {
    QMessageBox::critical(nullptr, "Tessera Server Manager", QString::fromUtf8(error.what()));
    return 1;
  }
}
