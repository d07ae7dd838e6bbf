// The console window on a fresh demonstration sandbox server, with the demonstration's
// administrator and the login `reader` (no server roles) registered, and what the window tests
// do with it: walk the tree, pick rows, run menu entries, answer dialogs, take pictures.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/server_manager/workspace.h"
#include "gui/main_window.h"
#include "platform/scripted_user_interface.h"
#include "servers/registration_form.h"

namespace gui_test {

namespace fs = std::filesystem;

inline constexpr char kDemo[] = "(sandbox)\\DEMO";

// The captions of a node's children.
inline std::vector<std::string> Texts(QTreeWidgetItem* item) {
  std::vector<std::string> texts;
  for (int i = 0; i < item->childCount(); ++i)
    texts.push_back(item->child(i)->text(0).toStdString());
  return texts;
}

// The rows of a details view, each as its cells.
inline std::vector<std::vector<std::string>> Rows(QTreeWidget* list) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    std::vector<std::string> cells;
    for (int column = 0; column < list->columnCount(); ++column)
      cells.push_back(list->topLevelItem(i)->text(column).toStdString());
    rows.push_back(std::move(cells));
  }
  return rows;
}

inline bool HasRow(QTreeWidget* list, const std::vector<std::string>& cells) {
  for (const auto& row : Rows(list)) {
    if (row == cells) return true;
  }
  return false;
}

template <typename T>
T* Control(QWidget& dialog, const char* name) {
  T* control = dialog.findChild<T*>(name);
  EXPECT_NE(control, nullptr) << name;
  return control;
}

inline void Press(QWidget& dialog, const char* button) {
  Control<QPushButton>(dialog, button)->click();
}

// With TESSERA_SCREENSHOTS set to a folder (scripts/screenshots), saves a picture there.
inline void Screenshot(QWidget* widget, const std::string& file) {
  const char* folder = std::getenv("TESSERA_SCREENSHOTS");
  if (!folder || !*folder) return;
  QApplication::processEvents();
  EXPECT_TRUE(widget->grab().save(QString::fromStdString((fs::path(folder) / file).string())));
}

// Acts on the next modal dialog once it is shown (a nested one too), then closes it if `act`
// left it open.
inline void WhenDialogOpens(std::function<void(QDialog&)> act) {
  QWidget* before = QApplication::activeModalWidget();
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, act, before] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog == before) {
      if (++*tries > 500) {
        timer->deleteLater();
        ADD_FAILURE() << "no dialog opened";
      }
      return;
    }
    timer->stop();
    timer->deleteLater();
    act(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
  timer->start(10);
}

class DemoWindowTest : public ::testing::Test {
 protected:
  // Each suite's own demonstration, under a folder named after it and the process.
  static void PrepareDemo(const std::string& folder) {
    root_ = fs::temp_directory_path() / (folder + "-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    ::setenv("TESSERA_REGISTRY", (root_ / "registry.db").c_str(), 1);
    ::setenv("TESSERA_SANDBOX_ROOT", (root_ / "sandbox").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ASSERT_EQ(server_manager::PrepareDemo(), "");
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void SetUp() override {
    workspace_ = std::make_unique<server_manager::Workspace>(ui_);
    servers::Servers& list = workspace_->Servers();
    list.Add(servers::BuildRegistrationString(kDemo, false, "reader", "tessera"));
    for (const auto& server : list) {
      const std::string& text = server->ConnectionString();
      std::string key = "Server" + std::to_string(server->ServerID());
      if (text.find("User Id=reader;") != std::string::npos) reader_ = key;
      if (text.find("Integrated Security=SSPI") != std::string::npos) {
        admin_ = key;
        server_ = server.get();
      }
    }
    ASSERT_NE(server_, nullptr);
    ASSERT_FALSE(reader_.empty());
    window_ = std::make_unique<gui::MainWindow>(list, workspace_->ServerContext(), ui_);
    window_->show();
    // The demonstration's old collections would be offered their upgrade three seconds on;
    // console_start_test drives that check.
    window_->startupCheckTimer()->stop();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  void TearDown() override {
    window_.reset();
    workspace_.reset();
    EXPECT_EQ(ui_.unused_answers(), 0u);
  }

  QTreeWidget* tree() { return window_->tree(); }
  QTreeWidgetItem* ServersNode() {
    return window_->FindChild(tree()->topLevelItem(0), "DatabaseServers");
  }
  QTreeWidgetItem* ServerNode(const std::string& key) {
    return window_->FindChild(ServersNode(), key);
  }
  // The registration behind a server node's key ("Server2").
  servers::Server* Registration(const std::string& key) {
    for (const auto& each : workspace_->Servers()) {
      if ("Server" + std::to_string(each->ServerID()) == key) return each.get();
    }
    return nullptr;
  }
  // A node below a server by captions: {"Collections", "Archive", "Users"}.
  QTreeWidgetItem* Walk(const std::string& server_key, const std::vector<std::string>& captions) {
    QTreeWidgetItem* item = ServerNode(server_key);
    for (const std::string& caption : captions) {
      if (!item) return nullptr;
      item->setExpanded(true);
      QTreeWidgetItem* next = nullptr;
      for (int i = 0; i < item->childCount(); ++i) {
        if (item->child(i)->text(0).toStdString() == caption) next = item->child(i);
      }
      item = next;
    }
    return item;
  }
  QTreeWidgetItem* Select(QTreeWidgetItem* item) {
    if (item) tree()->setCurrentItem(item);
    return item;
  }
  // Selects the row of the details view whose first cell is `text`, and only that row.
  bool SelectRow(const std::string& text) {
    QTreeWidget* list = window_->details();
    list->clearSelection();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      if (list->topLevelItem(i)->text(0).toStdString() == text) {
        list->setCurrentItem(list->topLevelItem(i));
        list->topLevelItem(i)->setSelected(true);
        return true;
      }
    }
    return false;
  }
  // Runs a node's (or the selected rows') menu entry as a click would.
  void Click(const std::string& name, bool rows = false) {
    QMenu menu;
    window_->FillMenu(&menu, rows);
    for (QAction* action : menu.actions()) {
      if (action->objectName().toStdString() == name) {
        ASSERT_TRUE(action->isEnabled()) << name;
        action->trigger();
        return;
      }
    }
    ADD_FAILURE() << "no menu entry " << name;
  }

  static inline fs::path root_;
  platform::ScriptedUserInterface ui_;
  std::unique_ptr<server_manager::Workspace> workspace_;
  std::unique_ptr<gui::MainWindow> window_;
  servers::Server* server_ = nullptr;  // the administrator's registration
  std::string admin_;
  std::string reader_;
};

}  // namespace gui_test
