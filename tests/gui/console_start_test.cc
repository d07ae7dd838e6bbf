// The console window's start: registrations connected on workers while the window paints (one
// of them a server whose machine answers but whose service never does), the start-up format
// check run from the window's timer, the SQL dock and what of the layout is kept.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/server_manager/workspace.h"
#include "collections/database.h"
#include "collections/databases.h"
#include "common/messages.h"
#include "console/result_views.h"
#include "db/recordset.h"
#include "db/testing/fake_driver.h"
#include "gui/icons.h"
#include "gui/main_window.h"
#include "gui/sql_trace.h"
#include "platform/scripted_user_interface.h"
#include "servers/registration_form.h"

namespace {

namespace fs = std::filesystem;
using platform::kAnswerNo;
using platform::kAnswerYes;

constexpr char kSlow[] = "localhost\\SLOW1";

std::string Message(int number) { return common::LoadMessage(number); }

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Answers the format check's questions: Yes only for the ones that name `yes_for`.
class CheckAnswers : public platform::ScriptedUserInterface {
 public:
  std::string yes_for;
  std::vector<std::string> questions;
  int ShowMessage(const platform::MessageRequest& request) override {
    if (request.buttons != platform::MessageButtons::kYesNo) {
      return ScriptedUserInterface::ShowMessage(request);
    }
    questions.push_back(request.text);
    return request.text.find(yes_for) != std::string::npos ? kAnswerYes : kAnswerNo;
  }
};

class ConsoleStartTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("tessera-console-start-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    ::setenv("TESSERA_REGISTRY", (root_ / "registry.db").c_str(), 1);
    ::setenv("TESSERA_SANDBOX_ROOT", (root_ / "sandbox").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ASSERT_EQ(server_manager::PrepareDemo(), "");
    // The slow server's registration, stored while its login still answers at once.
    platform::ScriptedUserInterface ui;
    server_manager::Workspace workspace(ui);
    auto fake = std::make_shared<db::testing::FakeServer>();
    AddSlowDriver(workspace, fake);
    ASSERT_NE(workspace.Servers().Add(servers::BuildRegistrationString(kSlow, true, "", "")),
              nullptr);
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  static void AddSlowDriver(server_manager::Workspace& workspace,
                            std::shared_ptr<db::testing::FakeServer> fake) {
    workspace.ServerContext().database->drivers().AddFirst(
        std::make_shared<db::testing::FakeDriver>(std::move(fake), [](std::string_view source) {
          return StartsWith(std::string(source), "localhost\\SLOW");
        }));
  }

  void SetUp() override {
    fs::remove_all(root_ / "config");
    fake_ = std::make_shared<db::testing::FakeServer>();
    fake_->HoldLogins();
  }
  void TearDown() override {
    // The worker waiting on the slow server must end before the window can.
    fake_->ReleaseLogins();
    window_.reset();
    workspace_.reset();
  }

  // The workspace as the program makes it: the window connects the registrations.
  void Open() {
    workspace_ = std::make_unique<server_manager::Workspace>(ui_);
    AddSlowDriver(*workspace_, fake_);
    servers::Servers& list = workspace_->Servers(servers::ConnectAtLoad::kByCaller);
    for (const auto& server : list) {
      const std::string& text = server->ConnectionString();
      std::string key = "Server" + std::to_string(server->ServerID());
      if (text.find("SLOW1") != std::string::npos) slow_ = key;
      if (text.find("DEMO;Integrated") != std::string::npos) demo_ = key;
    }
    ASSERT_FALSE(slow_.empty());
    ASSERT_FALSE(demo_.empty());
    window_ = std::make_unique<gui::MainWindow>(list, workspace_->ServerContext(), ui_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  QTreeWidgetItem* ServersNode() {
    return window_->FindChild(window_->tree()->topLevelItem(0), "DatabaseServers");
  }
  QTreeWidgetItem* ServerNode(const std::string& key) {
    return window_->FindChild(ServersNode(), key);
  }
  bool Answered(const std::string& key) {
    QTreeWidgetItem* item = ServerNode(key);
    return item && item->data(0, Qt::UserRole).toInt() != gui::kIconConnecting;
  }
  std::vector<std::string> Children(QTreeWidgetItem* item) {
    std::vector<std::string> texts;
    if (!item) {
      ADD_FAILURE() << "no such node";
      return texts;
    }
    item->setExpanded(true);
    for (int i = 0; i < item->childCount(); ++i) {
      texts.push_back(item->child(i)->text(0).toStdString());
    }
    return texts;
  }
  // With TESSERA_SCREENSHOTS set to a folder, saves a picture of the widget there; at a device
  // pixel ratio of 2 (QT_SCALE_FACTOR=2) under the name with "-200" added.
  void Screenshot(QWidget* widget, const std::string& name) {
    const char* folder = std::getenv("TESSERA_SCREENSHOTS");
    if (!folder || !*folder) return;
    QApplication::processEvents();
    std::string file = name + (widget->devicePixelRatio() >= 2 ? "-200.png" : ".png");
    EXPECT_TRUE(widget->grab().save(QString::fromStdString((fs::path(folder) / file).string())));
  }
  servers::Server& Server(const std::string& key) {
    return *workspace_->Servers().Item(key.substr(6));
  }

  static inline fs::path root_;
  CheckAnswers ui_;
  std::shared_ptr<db::testing::FakeServer> fake_;
  std::unique_ptr<server_manager::Workspace> workspace_;
  std::unique_ptr<gui::MainWindow> window_;
  std::string slow_;
  std::string demo_;
};

TEST_F(ConsoleStartTest, ASilentServerShowsAsConnectingWhileTheOthersExpand) {
  Open();
  window_->startupCheckTimer()->stop();
  // The window is up while the slow server's login waits on its worker.
  ASSERT_TRUE(QTest::qWaitFor([&] { return fake_->held_logins() == 1; }));
  QTreeWidgetItem* slow = ServerNode(slow_);
  ASSERT_NE(slow, nullptr);
  EXPECT_NE(slow->text(0).toStdString().find("connecting"), std::string::npos);
  EXPECT_EQ(slow->data(0, Qt::UserRole).toInt(), gui::kIconConnecting);
  EXPECT_FALSE(slow->icon(0).isNull());
  EXPECT_EQ(slow->childCount(), 0);

  // Its menu is there, every entry grayed, and nothing runs on it.
  window_->tree()->setCurrentItem(slow);
  QMenu menu;
  window_->FillMenu(&menu, false);
  ASSERT_FALSE(menu.actions().isEmpty());
  for (QAction* action : menu.actions())
    EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
  QTest::keyClick(window_->tree(), Qt::Key_F5);
  EXPECT_TRUE(window_->IsConnecting(&Server(slow_)));

  // The demonstration server answers meanwhile and expands to its collections, as the server
  // lists them.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Answered(demo_); }));
  QTreeWidgetItem* demo = ServerNode(demo_);
  EXPECT_EQ(demo->data(0, Qt::UserRole).toInt(), console::kIconServerConnected);
  std::vector<std::string> folders = Children(demo);
  ASSERT_EQ(folders, (std::vector<std::string>{Message(7), Message(8)}));
  std::vector<std::string> shown = Children(demo->child(0));
  std::vector<std::string> held;
  for (const auto& database : dynamic_cast<collections::Databases&>(Server(demo_).Databases())) {
    held.push_back(database->Name());
  }
  EXPECT_EQ(shown, held);
  EXPECT_NE(std::find(shown.begin(), shown.end(), "Archive"), shown.end());
  window_->tree()->setCurrentItem(demo->child(0));
  Screenshot(window_.get(), "connecting-server");
  EXPECT_EQ(fake_->held_logins(), 1);
  EXPECT_TRUE(fake_->calls().empty());

  // Refreshing the server list meanwhile lists it as connecting again, without a second login.
  window_->tree()->setCurrentItem(ServersNode());
  window_->Refresh();
  slow = ServerNode(slow_);
  ASSERT_NE(slow, nullptr);
  EXPECT_EQ(slow->data(0, Qt::UserRole).toInt(), gui::kIconConnecting);
  EXPECT_EQ(window_->icons()->count(), 2);
  EXPECT_EQ(fake_->connects().size(), 1u);

  // When it finally answers, the node takes the connected icon and its folders, and its row in
  // the list shown takes its caption.
  QSignalSpy answered(window_.get(), &gui::MainWindow::serverAnswered);
  fake_->ReleaseLogins();
  ASSERT_TRUE(answered.wait(5000));
  EXPECT_EQ(answered.takeFirst().at(0).toString().toStdString(), slow_);
  EXPECT_EQ(window_->ConnectingCount(), 0);
  slow = ServerNode(slow_);
  EXPECT_EQ(slow->data(0, Qt::UserRole).toInt(), console::kIconServerConnected);
  EXPECT_TRUE(StartsWith(slow->text(0).toStdString(), kSlow));
  bool row_updated = false;
  for (int i = 0; i < window_->icons()->count(); ++i) {
    if (window_->icons()->item(i)->text() == slow->text(0)) row_updated = true;
  }
  EXPECT_TRUE(row_updated);
  EXPECT_EQ(Children(slow), (std::vector<std::string>{Message(7), Message(8)}));
  // One login each, on the data source the registration names.
  ASSERT_EQ(fake_->connects().size(), 1u);
  EXPECT_EQ(fake_->connects()[0].data_source, kSlow);
}

TEST_F(ConsoleStartTest, AServerThatRefusesShowsTheNotConnectedNodeWithItsReason) {
  Open();
  window_->startupCheckTimer()->stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return fake_->held_logins() == 1; }));
  fake_->RefuseIntegrated(true);
  fake_->ReleaseLogins();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Answered(slow_); }));
  QTreeWidgetItem* slow = ServerNode(slow_);
  EXPECT_EQ(slow->data(0, Qt::UserRole).toInt(), console::kIconServerNotConnected);
  EXPECT_FALSE(Server(slow_).Connected());
  EXPECT_NE(Server(slow_).FailureReason().find("Login failed"), std::string::npos);
  // Its one child is the error node.
  EXPECT_EQ(Children(slow), (std::vector<std::string>{console::ErrorNodeRow(Server(slow_)).text}));
}

TEST_F(ConsoleStartTest, TheStartupCheckUpgradesAnOldCollectionOnceAfterTheWindowShows) {
  ui_.yes_for = "Contracts";
  Open();
  QTimer* timer = window_->startupCheckTimer();
  EXPECT_TRUE(timer->isActive());
  EXPECT_TRUE(timer->isSingleShot());
  EXPECT_EQ(timer->interval(), 3000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Answered(demo_); }));
  QSignalSpy done(window_.get(), &gui::MainWindow::startupCheckDone);
  timer->start(0);
  ASSERT_TRUE(done.wait(60000));
  EXPECT_FALSE(timer->isActive());

  // Every old collection of the answered server was asked about; the silent one not yet.
  auto asked = [&](const std::string& name) {
    return std::count_if(ui_.questions.begin(), ui_.questions.end(), [&](const std::string& text) {
      return text.find(name) != std::string::npos;
    });
  };
  EXPECT_GE(asked("Contracts"), 1);
  EXPECT_GE(asked("Letters"), 1);
  EXPECT_GE(asked("Minutes"), 1);
  EXPECT_EQ(asked("Archive"), 0);
  EXPECT_TRUE(fake_->calls().empty());

  // The server holds Contracts at the current format; the others stay where they were.
  auto version = [&](const std::string& name) {
    for (const auto& database : dynamic_cast<collections::Databases&>(Server(demo_).Databases())) {
      if (database->Name() == name) return database->GetExtendedProperty(0, 3, 1, "");
    }
    return std::string("(missing)");
  };
  EXPECT_EQ(version("Contracts"), "1.61");
  EXPECT_EQ(version("Letters"), "1.50");
  EXPECT_EQ(version("Minutes"), "1.41");
  ASSERT_FALSE(ui_.progress().empty());
  // The tree still lists the collection.
  ASSERT_EQ(Children(ServerNode(demo_)).size(), 2u);
  std::vector<std::string> shown = Children(ServerNode(demo_)->child(0));
  EXPECT_NE(std::find(shown.begin(), shown.end(), "Contracts"), shown.end());

  // The silent server is checked when it answers, once; the check is not run again for the
  // demonstration server.
  size_t questions = ui_.questions.size();
  fake_->ReleaseLogins();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Answered(slow_); }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !fake_->calls().empty(); }));
  EXPECT_EQ(ui_.questions.size(), questions);
}

TEST_F(ConsoleStartTest, SqlDockShowsEachActionsStatementsAndCopiesThem) {
  Open();
  window_->startupCheckTimer()->stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Answered(demo_); }));
  gui::SqlTraceDock* dock = window_->sqlTrace();
  ASSERT_NE(dock, nullptr);
  // Hidden until asked for, from View > SQL Trace.
  EXPECT_FALSE(dock->isVisible());
  QAction* toggle = window_->findChild<QAction*>("sqlTraceToggle");
  ASSERT_NE(toggle, nullptr);
  QMenu* view_menu = window_->menuBar()->actions().at(2)->menu();
  ASSERT_TRUE(view_menu->actions().contains(toggle));
  view_menu->adjustSize();
  Screenshot(view_menu, "view-menu");
  EXPECT_EQ(toggle->text().toStdString(), "&SQL Trace");
  toggle->trigger();
  EXPECT_TRUE(dock->isVisible());

  // The connect of the demonstration server ran on its worker and is listed as its own action.
  QTreeWidget* list = dock->list();
  auto group = [&](const std::string& prefix) -> QTreeWidgetItem* {
    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      if (StartsWith(list->topLevelItem(i)->text(0).toStdString(), prefix)) {
        found = list->topLevelItem(i);
      }
    }
    return found;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return group("Connect (sandbox)\\DEMO") != nullptr; }))
      << list->topLevelItemCount() << " actions, the last "
      << (list->topLevelItemCount()
              ? list->topLevelItem(list->topLevelItemCount() - 1)->text(0).toStdString()
              : "");

  // Refresh on the server: its statements, each with the connection that sent it.
  QTreeWidgetItem* demo = ServerNode(demo_);
  window_->tree()->setCurrentItem(demo);
  window_->Refresh();
  ASSERT_TRUE(QTest::qWaitFor([&] { return group("Refresh") != nullptr; }));
  QTreeWidgetItem* refresh = group("Refresh");
  ASSERT_GT(refresh->childCount(), 0);
  bool version = false;
  for (int i = 0; i < refresh->childCount(); ++i) {
    QTreeWidgetItem* statement = refresh->child(i);
    EXPECT_TRUE(StartsWith(statement->text(1).toStdString(), "#"))
        << statement->text(1).toStdString();
    EXPECT_NE(statement->text(1).toStdString().find("(sandbox)\\DEMO"), std::string::npos);
    if (statement->text(0) == "SELECT @@VERSION") version = true;
  }
  EXPECT_TRUE(version);
  Screenshot(window_.get(), "sql-trace");

  // Copy gives the action's statements as a script, each after its connection.
  list->clearSelection();
  refresh->setSelected(true);
  std::string script = dock->SelectedScript().toStdString();
  EXPECT_NE(script.find("\nSELECT @@VERSION\nGO\n"), std::string::npos) << script;
  EXPECT_TRUE(StartsWith(script, "-- #")) << script;

  // A procedure call reads as an EXEC with its parameters, quoted as literals.
  db::Statement call;
  call.procedure_call = true;
  call.text = "sp_addlogin";
  call.parameters = {{"@loginame", common::Value(std::string("O'Brien"))},
                     {"@passwd", common::Value()}};
  EXPECT_EQ(gui::SqlTraceDock::StatementText(call).toStdString(),
            "EXEC sp_addlogin @loginame = N'O''Brien', @passwd = NULL");
  // Passwords are never shown, however they are quoted.
  struct Masked {
    std::string sent;
    std::string shown;
  };
  const Masked masked[] = {
      {"EXEC master..sp_addlogin 'O''Brien', 'se''cret; DROP'",
       "EXEC master..sp_addlogin 'O''Brien', '***'"},
      {"EXEC master..sp_addlogin N'Ärger', N'pässwörd'",
       "EXEC master..sp_addlogin N'Ärger', '***'"},
      {"EXEC master..sp_password @old=NULL, @new='x''y' , @loginame='reader'",
       "EXEC master..sp_password @old=NULL, @new='***' , @loginame='reader'"},
      {"SELECT name FROM master..syslogins WHERE name='new'",
       "SELECT name FROM master..syslogins WHERE name='new'"},
  };
  for (const Masked& each : masked) {
    db::Statement text;
    text.text = each.sent;
    EXPECT_EQ(gui::SqlTraceDock::StatementText(text).toStdString(), each.shown);
  }
  call.parameters[1].second = common::Value(std::string("secret"));
  EXPECT_EQ(gui::SqlTraceDock::StatementText(call).toStdString(),
            "EXEC sp_addlogin @loginame = N'O''Brien', @passwd = '***'");

  // Shown is kept for the next run.
  window_->close();
  fake_->ReleaseLogins();
  window_.reset();
  workspace_.reset();
  Open();
  EXPECT_TRUE(window_->sqlTrace()->isVisible());
}

TEST_F(ConsoleStartTest, RegistrationsConnectFromThreadsAtOnceAsTheyDoInTurn) {
  // What the window's workers do, without the window: every registration of the sandbox server
  // connected and described on a thread of its own, at the same time.
  constexpr int kExtra = 8;
  {
    platform::ScriptedUserInterface ui;
    server_manager::Workspace workspace(ui);
    for (int n = 1; n <= kExtra; ++n) {
      ASSERT_NE(workspace.Servers().Add(servers::BuildRegistrationString("(sandbox)\\DEMO", false,
                                                                         "reader", "tessera") +
                                        "Application Name=Thread " + std::to_string(n) + ";"),
                nullptr);
    }
  }
  workspace_ = std::make_unique<server_manager::Workspace>(ui_);
  AddSlowDriver(*workspace_, fake_);
  fake_->ReleaseLogins();
  servers::Servers& list = workspace_->Servers(servers::ConnectAtLoad::kByCaller);
  std::vector<std::shared_ptr<servers::Server>> all(list.begin(), list.end());
  std::vector<console::ServerNode> described(all.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < all.size(); ++i) {
    threads.emplace_back([&, i] {
      all[i]->Connect();
      described[i] = console::DescribeServerNode(*all[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  int sandbox = 0;
  std::set<std::int64_t> spids;
  for (size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE(all[i]->ConnectionString());
    EXPECT_TRUE(all[i]->Connected()) << all[i]->FailureReason();
    EXPECT_EQ(described[i].icon, console::kIconServerConnected);
    if (all[i]->Name() == "(sandbox)\\DEMO") {
      ++sandbox;
      EXPECT_TRUE(StartsWith(described[i].caption, "(sandbox)\\DEMO")) << described[i].caption;
      // Each has a session of its own.
      db::Recordset spid;
      spid.Open("SELECT @@SPID", all[i]->Connection());
      spids.insert(*spid.Fields(0).Value().ToInt());
      spid.Close();
    }
  }
  EXPECT_GE(sandbox, kExtra + 1);
  EXPECT_EQ(spids.size(), static_cast<size_t>(sandbox));
  std::set<std::string> logins;
  for (const auto& server : all) logins.insert(server->CurrentUser());
  EXPECT_TRUE(logins.count("reader"));
  // The other tests see the registrations they expect.
  for (const auto& server : all) {
    if (server->ConnectionString().find("Application Name=Thread") != std::string::npos) {
      list.Remove(std::to_string(server->ServerID()));
    }
  }
  EXPECT_EQ(list.Count(), 2);
}

// The letter after the single "&" of a caption; 0 when it has none.
QChar Mnemonic(const QString& text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '&' && text[i + 1] != '&') return text[i + 1].toLower();
    if (text[i] == '&') ++i;
  }
  return QChar();
}

TEST_F(ConsoleStartTest, EveryMenuIsReachableByItsLetterAndTheViewsHaveNamesAndKeys) {
  Open();
  window_->startupCheckTimer()->stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Answered(demo_); }));
  // Each menu of the bar, and each entry of the window's own menus, by a letter of its own.
  auto unique_letters = [](const QList<QAction*>& actions, const std::string& where) {
    std::vector<QChar> letters;
    for (QAction* action : actions) {
      if (action->isSeparator()) continue;
      QChar letter = Mnemonic(action->text());
      EXPECT_FALSE(letter.isNull()) << where << ": " << action->text().toStdString();
      EXPECT_EQ(std::count(letters.begin(), letters.end(), letter), 0)
          << where << ": " << action->text().toStdString();
      letters.push_back(letter);
    }
  };
  QList<QAction*> bar = window_->menuBar()->actions();
  ASSERT_EQ(bar.size(), 4);  // File, Action, View, Help
  unique_letters(bar, "menu bar");
  for (QAction* menu : bar) {
    if (menu->text() != "&Action")
      unique_letters(menu->menu()->actions(), menu->text().toStdString());
  }
  QAction* refresh = window_->findChild<QAction*>("refresh");
  ASSERT_NE(refresh, nullptr);
  EXPECT_EQ(refresh->shortcut(), QKeySequence(Qt::Key_F5));

  for (QWidget* view : std::initializer_list<QWidget*>{
           window_->tree(), window_->details(), window_->icons(), window_->sqlTrace()->list()}) {
    EXPECT_FALSE(view->accessibleName().isEmpty()) << view->objectName().toStdString();
  }
  // Enter opens and closes the selected node.
  QTreeWidgetItem* demo = ServerNode(demo_);
  window_->tree()->setFocus();
  window_->tree()->setCurrentItem(demo);
  demo->setExpanded(false);
  QTest::keyClick(window_->tree(), Qt::Key_Return);
  EXPECT_TRUE(demo->isExpanded());
  EXPECT_EQ(demo->childCount(), 2);
  QTest::keyClick(window_->tree(), Qt::Key_Enter);
  EXPECT_FALSE(demo->isExpanded());
}

TEST_F(ConsoleStartTest, LayoutIsKeptUnderTheConfigurationHome) {
  Open();
  window_->startupCheckTimer()->stop();
  EXPECT_EQ(gui::MainWindow::SettingsFile().toStdString(),
            (root_ / "config" / "tessera-server-manager" / "console.ini").string());
  window_->resize(777, 555);
  window_->close();
  EXPECT_TRUE(fs::exists(root_ / "config" / "tessera-server-manager" / "console.ini"));
  QSettings settings(gui::MainWindow::SettingsFile(), QSettings::IniFormat);
  EXPECT_TRUE(settings.contains("window/state"));
  EXPECT_TRUE(settings.contains("window/geometry"));
  fake_->ReleaseLogins();
  window_.reset();
  workspace_.reset();
  Open();
  EXPECT_EQ(window_->size(), QSize(777, 555));
  EXPECT_FALSE(window_->sqlTrace()->isVisible());
}

}  // namespace
