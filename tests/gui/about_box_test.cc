// Help > About shows the version the command-line programs print, from the one the build sets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/server_manager/workspace.h"
#include "common/version.h"
#include "gui/main_window.h"
#include "platform/scripted_user_interface.h"

namespace {

namespace fs = std::filesystem;

TEST(AboutBoxTest, HelpMenuShowsTheProductVersion) {
  fs::path root = fs::temp_directory_path() / ("tessera-about-test-" + std::to_string(::getpid()));
  fs::remove_all(root);
  ::setenv("TESSERA_REGISTRY", (root / "registry.db").c_str(), 1);
  ::setenv("TESSERA_SANDBOX_ROOT", (root / "sandbox").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  {
    platform::ScriptedUserInterface ui;
    server_manager::Workspace workspace(ui);
    gui::MainWindow window(workspace.Servers(), workspace.ServerContext(), ui);
    window.show();

    QAction* about = window.menuBar()->findChild<QAction*>("about");
    ASSERT_NE(about, nullptr);
    // The About box is modal: read and close it once it is up.
    std::string shown;
    QTimer::singleShot(0, [&shown] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      shown = box->text().toStdString();
      box->accept();
    });
    about->trigger();
    EXPECT_NE(shown.find(std::string("Version ") + common::kProductVersion), std::string::npos)
        << shown;
    EXPECT_NE(shown.find(common::kProductName), std::string::npos) << shown;
  }
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace
