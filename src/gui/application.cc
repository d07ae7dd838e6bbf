#include "gui/application.h"

#include <QApplication>

#include "common/version.h"
#include "gui/main_window.h"
#include "gui/qt_user_interface.h"

namespace gui {

Application::Application(int& argc, char** argv)
    : application_(std::make_unique<QApplication>(argc, argv)),
      ui_(std::make_unique<QtUserInterface>()) {
  QApplication::setApplicationName("tessera-server-manager");
  QApplication::setApplicationDisplayName("Tessera Server Manager");
  QApplication::setApplicationVersion(common::kProductVersion);
  // The installed desktop entry, so the desktop shows the window with its name and icon.
  QGuiApplication::setDesktopFileName("org.tessera.ServerManager");
}

Application::~Application() = default;

platform::UserInterface& Application::ui() { return *ui_; }

void Application::ShowError(const std::string& text) {
  ui_->ShowMessage(platform::MessageRequest{text, "Tessera Server Manager",
                                            platform::MessageButtons::kOk,
                                            platform::MessageIcon::kCritical, 1});
}

int Application::Run(servers::Servers& servers, servers::Context context) {
  MainWindow window(servers, std::move(context), *ui_);
  ui_->SetOwner(&window);
  window.show();
  int code = QApplication::exec();
  ui_->SetOwner(nullptr);
  return code;
}

}  // namespace gui
