// The console window against the demonstration sandbox server, driven through its widgets: the
// tree and lists it shows, the menus of each node and row for a sysadmin and for a login without
// server roles, and commands run from those menus. With TESSERA_SCREENSHOTS set to a folder, the
// tests also save pictures of the window there (scripts/screenshots).
#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/server_manager/workspace.h"
#include "common/messages.h"
#include "console/commands.h"
#include "console/result_views.h"
#include "db/connection.h"
#include "db/recordset.h"
#include "gui/demo_window_fixture.h"
#include "platform/scripted_user_interface.h"
#include "servers/registration_form.h"
#include "servers/server.h"

namespace {

namespace fs = std::filesystem;
using namespace gui_test;
using platform::kAnswerNo;
using platform::kAnswerOk;
using platform::kAnswerYes;

std::string Message(int number) { return common::LoadMessage(number); }

std::vector<std::string> IconTexts(QListWidget* list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list->count(); ++i) texts.push_back(list->item(i)->text().toStdString());
  return texts;
}

class ConsoleWindowTest : public gui_test::DemoWindowTest {
 protected:
  static void SetUpTestSuite() { PrepareDemo("tessera-gui-tests"); }

  struct Entry {
    std::string name;
    bool enabled;
    friend bool operator==(const Entry&, const Entry&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Entry& entry) {
      return out << entry.name << (entry.enabled ? "" : " (grayed)");
    }
  };
  std::vector<Entry> Entries(QMenu& menu) {
    std::vector<Entry> entries;
    for (QAction* action : menu.actions()) {
      entries.push_back({action->objectName().toStdString(), action->isEnabled()});
    }
    return entries;
  }
  QAction* Find(QMenu& menu, const std::string& name) {
    for (QAction* action : menu.actions()) {
      if (action->objectName().toStdString() == name) return action;
    }
    return nullptr;
  }
};

TEST_F(ConsoleWindowTest, ShowsTheServersCollectionsAndTheirLists) {
  QTreeWidgetItem* root = tree()->topLevelItem(0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->text(0).toStdString(), "Tessera Server Manager");
  EXPECT_EQ(Texts(root), std::vector<std::string>{Message(4)});
  // The window opens on Database Servers, its registrations as icons.
  EXPECT_EQ(tree()->currentItem(), ServersNode());
  EXPECT_FALSE(window_->ShowsDetails());
  ASSERT_EQ(window_->icons()->count(), 2);

  QTreeWidgetItem* server = ServerNode(admin_);
  ASSERT_NE(server, nullptr);
  EXPECT_TRUE(server->text(0).startsWith(QString::fromStdString(std::string(kDemo) + " (")));
  EXPECT_EQ(server->data(0, Qt::UserRole).toInt(), console::kIconServerConnected);
  server->setExpanded(true);
  EXPECT_EQ(Texts(server), (std::vector<std::string>{Message(7), Message(8)}));

  // The server's own list: details, with the collation among its properties.
  Select(server);
  EXPECT_TRUE(window_->ShowsDetails());
  EXPECT_GT(window_->details()->topLevelItemCount(), 2);

  QTreeWidgetItem* collections = Walk(admin_, {Message(7)});
  ASSERT_NE(collections, nullptr);
  collections->setExpanded(true);
  std::vector<std::string> names = Texts(collections);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"Archive", "Contracts", "Letters", "Minutes", "Projects"}));
  Select(collections);
  EXPECT_FALSE(window_->ShowsDetails());
  std::vector<std::string> icons = IconTexts(window_->icons());
  std::sort(icons.begin(), icons.end());
  EXPECT_EQ(icons, names);

  QTreeWidgetItem* archive = Select(Walk(admin_, {Message(7), "Archive"}));
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(IconTexts(window_->icons()),
            (std::vector<std::string>{Message(5), Message(6), Message(321)}));
  EXPECT_TRUE(tree()->topLevelItem(0)->isExpanded());

  Select(Walk(admin_, {Message(7), "Archive", Message(6)}));
  ASSERT_TRUE(window_->ShowsDetails());
  QTreeWidgetItem* header = window_->details()->headerItem();
  EXPECT_EQ(header->text(0).toStdString(), Message(298));
  EXPECT_EQ(header->text(1).toStdString(), Message(301));
  EXPECT_EQ(header->text(2).toStdString(), Message(302));
  EXPECT_TRUE(HasRow(window_->details(), {"reader", "reader", "Grant"}));
  EXPECT_TRUE(HasRow(window_->details(), {"creator", "creator", "Grant"}));
  Screenshot(window_.get(), "main-window.png");

  Select(Walk(admin_, {Message(8)}));
  ASSERT_TRUE(window_->ShowsDetails());
  EXPECT_TRUE(HasRow(window_->details(), {"reader", "Standard", "Grant"}));
  EXPECT_TRUE(HasRow(window_->details(), {"BUILTIN\\Users", "Windows Group", "Grant"}));
  for (const auto& row : Rows(window_->details())) EXPECT_NE(row.front(), "sa");
  Screenshot(window_.get(), "logins.png");

  Select(Walk(admin_, {Message(7), "Archive", Message(5)}));
  EXPECT_TRUE(window_->ShowsDetails());
  EXPECT_GT(window_->details()->topLevelItemCount(), 3);
  Screenshot(window_.get(), "collection-properties.png");

  Select(ServersNode());
  EXPECT_EQ(IconTexts(window_->icons()),
            (std::vector<std::string>{Texts(ServersNode())[0], Texts(ServersNode())[1]}));
  Screenshot(window_.get(), "database-servers.png");
}

// The entry under the pointer tells what it does in the status bar.
TEST_F(ConsoleWindowTest, ContextMenuShowsTheStatusTextOfTheEntryUnderThePointer) {
  QTreeWidgetItem* archive = Select(Walk(admin_, {Message(7), "Archive"}));
  ASSERT_NE(archive, nullptr);
  QMenu menu(window_.get());
  window_->FillMenu(&menu, false);
  QAction* close = Find(menu, "mnuCloseDatabase");
  ASSERT_NE(close, nullptr);
  menu.popup(tree()->viewport()->mapToGlobal(tree()->visualItemRect(archive).center()));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
  menu.setActiveAction(close);
  QApplication::processEvents();
  EXPECT_EQ(window_->statusBar()->currentMessage(), close->statusTip());
  Screenshot(&menu, "context-menu-collection.png");
  menu.close();

  // The server's menu, Start grayed while the service runs; a login row's menu.
  struct Picture {
    QTreeWidgetItem* node;
    std::string row;
    std::string file;
  };
  for (const Picture& picture :
       {Picture{ServerNode(admin_), "", "context-menu-server.png"},
        Picture{Walk(admin_, {Message(8)}), "reader", "context-menu-login.png"}}) {
    ASSERT_NE(picture.node, nullptr);
    Select(picture.node);
    if (!picture.row.empty()) {
      ASSERT_TRUE(SelectRow(picture.row));
    }
    QMenu shown(window_.get());
    window_->FillMenu(&shown, !picture.row.empty());
    ASSERT_FALSE(shown.isEmpty());
    shown.popup(window_->mapToGlobal(QPoint(100, 100)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown));
    Screenshot(&shown, picture.file);
    shown.close();
  }
}

// Every node and row type, as the sysadmin and as the login without roles: the entries in
// order with their enabled states, and the captions and status texts of the console's tables.
TEST_F(ConsoleWindowTest, MenusOfNodesAndRowsForAdministratorAndReader) {
  struct Case {
    bool reader;
    std::vector<std::string> path;  // below the server; empty: the server node itself
    std::string row;                // a row of the node's list to select; empty: the node's menu
    std::vector<Entry> expected;
  };
  const std::vector<Entry> server = {{"mnuSQLServerProperties", true},
                                     {"mnuDetachSQLServer", true},
                                     {"mnuStopSQLServer", true},
                                     {"mnuStartSQLServer", false}};
  const std::vector<Entry> collection = {{"mnuDeleteDatabase", true},
                                         {"mnuCloseDatabase", true},
                                         {"mnuChangeOwner", true},
                                         {"mnuShrinkLogfile", true}};
  const std::vector<Entry> index_there = {{"mnuAddCatalog", false}, {"mnuRemoveCatalog", true}};
  const std::vector<Entry> no_index = {{"mnuAddCatalog", true}, {"mnuRemoveCatalog", false}};
  const std::vector<Case> cases = {
      {false, {}, "", server},
      {true, {}, "", server},
      {false, {Message(7)}, "", {{"mnuAddNewDatabase", true}, {"mnuOpenDatabase", true}}},
      {true, {Message(7)}, "", {{"mnuAddNewDatabase", true}, {"mnuOpenDatabase", true}}},
      {false, {Message(7), "Archive"}, "", collection},
      {true, {Message(7), "Projects"}, "", collection},
      {false, {Message(8)}, "", {{"mnuGrantLogin", true}}},
      {true, {Message(8)}, "", {{"mnuGrantLogin", true}}},
      {false, {Message(8)}, "reader", {{"mnuRevokeLogin", true}, {"mnuLoginProperties", true}}},
      {true, {Message(8)}, "creator", {{"mnuRevokeLogin", true}, {"mnuLoginProperties", true}}},
      {false, {Message(7), "Archive", Message(6)}, "", {{"mnuNewDatabaseUser", true}}},
      {false,
       {Message(7), "Archive", Message(6)},
       "reader",
       {{"mnuRevokeDBAccess", true}, {"mnuUserProperties", true}}},
      {true,
       {Message(7), "Letters", Message(6)},
       "creator",
       {{"mnuRevokeDBAccess", true}, {"mnuUserProperties", true}}},
      {false, {Message(7), "Archive", Message(321)}, "", index_there},
      {true, {Message(7), "Archive", Message(321)}, "", index_there},
      {false, {Message(7), "Projects", Message(321)}, "", no_index},
      {true, {Message(7), "Projects", Message(321)}, "", no_index},
      // Properties has no menu.
      {false, {Message(7), "Archive", Message(5)}, "", {}},
  };
  for (const Case& test : cases) {
    std::string where = (test.reader ? "reader: " : "admin: ") +
                        (test.path.empty() ? "server" : test.path.back()) + " " + test.row;
    SCOPED_TRACE(where);
    QTreeWidgetItem* node = Select(Walk(test.reader ? reader_ : admin_, test.path));
    ASSERT_NE(node, nullptr);
    if (!test.row.empty()) {
      ASSERT_TRUE(SelectRow(test.row));
    }
    QMenu menu;
    window_->FillMenu(&menu, !test.row.empty());
    EXPECT_EQ(Entries(menu), test.expected);

    // Captions and status texts are the console's.
    const bool logins = !test.path.empty() && test.path.back() == Message(8);
    std::optional<console::GroupMenu> group =
        test.row.empty() ? console::MenuForNode(window_->NodeType(node))
                         : console::MenuForRows({(logins ? "Login" : "User") + test.row});
    if (test.expected.empty()) continue;
    ASSERT_TRUE(group.has_value());
    ASSERT_EQ(menu.actions().size(), static_cast<qsizetype>(group->items.size()));
    for (size_t i = 0; i < group->items.size(); ++i) {
      QAction* action = menu.actions()[static_cast<qsizetype>(i)];
      EXPECT_EQ(action->text().toStdString(), group->items[i].caption);
      EXPECT_EQ(action->statusTip().toStdString(), group->items[i].status_text);
      EXPECT_FALSE(action->statusTip().isEmpty());
    }

    // The Action menu offers the same entries for the same selection.
    QMenu* action_menu = nullptr;
    for (QAction* top : window_->menuBar()->actions()) {
      if (top->text() == "&Action") action_menu = top->menu();
    }
    ASSERT_NE(action_menu, nullptr);
    if (test.row.empty()) {
      tree()->setFocus();
    } else {
      window_->details()->setFocus();
    }
    emit action_menu->aboutToShow();
    EXPECT_EQ(Entries(*action_menu), test.expected);
  }
}

TEST_F(ConsoleWindowTest, FullTextIndexCommandsAskAndChangeTheList) {
  QTreeWidgetItem* index = Select(Walk(admin_, {Message(7), "Projects", Message(321)}));
  ASSERT_NE(index, nullptr);
  ASSERT_EQ(window_->details()->topLevelItemCount(), 1);  // only the "not active" status

  ui_.QueueAnswer(kAnswerNo);
  Click("mnuAddCatalog");
  ASSERT_EQ(ui_.boxes().size(), 1u);
  EXPECT_EQ(ui_.boxes().back().text, common::FormatMessage(344, {common::Value("Projects")}));
  EXPECT_EQ(window_->details()->topLevelItemCount(), 1);

  ui_.QueueAnswer(kAnswerYes);
  Click("mnuAddCatalog");
  EXPECT_GT(window_->details()->topLevelItemCount(), 1);
  // The longer list is not cut to the widths the one-row list needed.
  QTreeWidget* list = window_->details();
  for (int row = 0; row < list->topLevelItemCount(); ++row) {
    for (int i = 0; i < list->columnCount(); ++i) {
      const QString text = list->topLevelItem(row)->text(i);
      EXPECT_GE(list->columnWidth(i), list->fontMetrics().horizontalAdvance(text)) << text.toStdString();
    }
  }
  QMenu menu;
  window_->FillMenu(&menu, false);
  EXPECT_EQ(Entries(menu),
            (std::vector<Entry>{{"mnuAddCatalog", false}, {"mnuRemoveCatalog", true}}));
  Screenshot(window_.get(), "full-text-index.png");

  ui_.QueueAnswer(kAnswerYes);
  Click("mnuRemoveCatalog");
  EXPECT_EQ(ui_.boxes().back().text, common::FormatMessage(345, {common::Value("Projects")}));
  EXPECT_EQ(window_->details()->topLevelItemCount(), 1);
}

TEST_F(ConsoleWindowTest, ReaderIsRefusedAndTheTreeKeepsTheCollection) {
  QTreeWidgetItem* projects = Select(Walk(reader_, {Message(7), "Projects"}));
  ASSERT_NE(projects, nullptr);
  QTreeWidgetItem* collections = projects->parent();
  int before = collections->childCount();
  ui_.QueueAnswer(kAnswerOk);
  Click("mnuDeleteDatabase");
  ASSERT_EQ(ui_.boxes().size(), 1u);
  EXPECT_EQ(ui_.boxes().back().icon, platform::MessageIcon::kInformation);
  EXPECT_EQ(ui_.boxes().back().text, common::FormatMessage(46, {common::Value(kDemo)}));
  EXPECT_EQ(collections->childCount(), before);
  EXPECT_EQ(tree()->currentItem(), projects);
}

TEST_F(ConsoleWindowTest, RefreshShowsLoginsAddedElsewhereWithHostileNames) {
  QTreeWidgetItem* logins = Select(Walk(admin_, {Message(8)}));
  ASSERT_NE(logins, nullptr);
  const std::vector<std::string> names = {"o'brien;]]--", "Zoë [ops]", std::string(120, 'x')};
  for (const std::string& name : names) EXPECT_FALSE(SelectRow(name));

  servers::Server* server = Registration(admin_);
  ASSERT_NE(server, nullptr);
  db::Connection connection = server->Connection();
  for (const std::string& name : names) {
    connection.Execute("EXEC sp_addlogin '" +
                       QString::fromStdString(name).replace("'", "''").toStdString() + "', 'pw'");
  }
  tree()->setFocus();
  QTest::keyClick(tree(), Qt::Key_F5);
  for (const std::string& name : names) {
    EXPECT_TRUE(HasRow(window_->details(), {name, "Standard", "Grant"})) << name;
  }
  for (const std::string& name : names) {
    connection.Execute("EXEC sp_droplogin '" +
                       QString::fromStdString(name).replace("'", "''").toStdString() + "'");
  }
  QTest::keyClick(tree(), Qt::Key_F5);
  for (const std::string& name : names) EXPECT_FALSE(SelectRow(name)) << name;
}

TEST_F(ConsoleWindowTest, StopAndStartTheServerFromItsMenu) {
  QTreeWidgetItem* server = Select(ServerNode(admin_));
  ASSERT_NE(server, nullptr);
  server->setExpanded(true);
  ASSERT_EQ(server->childCount(), 2);

  ui_.QueueAnswer(kAnswerNo);
  Click("mnuStopSQLServer");
  EXPECT_EQ(server->childCount(), 2);
  EXPECT_EQ(server->data(0, Qt::UserRole).toInt(), console::kIconServerConnected);

  ui_.QueueAnswer(kAnswerYes);
  Click("mnuStopSQLServer");
  EXPECT_EQ(server->childCount(), 0);
  EXPECT_EQ(server->data(0, Qt::UserRole).toInt(), console::kIconServerStopped);
  QMenu stopped;
  window_->FillMenu(&stopped, false);
  EXPECT_EQ(Entries(stopped), (std::vector<Entry>{{"mnuSQLServerProperties", true},
                                                  {"mnuDetachSQLServer", true},
                                                  {"mnuStopSQLServer", false},
                                                  {"mnuStartSQLServer", true}}));

  ui_.QueueAnswer(kAnswerYes);
  Click("mnuStartSQLServer");
  EXPECT_EQ(server->data(0, Qt::UserRole).toInt(), console::kIconServerConnected);
  server->setExpanded(true);
  EXPECT_EQ(Texts(server), (std::vector<std::string>{Message(7), Message(8)}));
}

TEST_F(ConsoleWindowTest, RegisterAServerThroughTheDialog) {
  Select(ServersNode());
  const int before = workspace_->Servers().Count();

  // Without a server name the dialog says so and stays open; Cancel registers nothing.
  WhenDialogOpens([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(225));
    Control<QComboBox>(dialog, "cboServers")->setEditText("");
    ui_.QueueAnswer(kAnswerOk);
    Control<QPushButton>(dialog, "cmdOK")->click();
    EXPECT_EQ(ui_.boxes().back().text, servers::kEmptyServerText);
    EXPECT_TRUE(dialog.isVisible());
    Control<QPushButton>(dialog, "cmdCancel")->click();
  });
  Click("mnuAddSQLServer");
  EXPECT_EQ(workspace_->Servers().Count(), before);
  EXPECT_EQ(ServersNode()->childCount(), before);

  WhenDialogOpens([&](QDialog& dialog) {
    auto* username = Control<QLineEdit>(dialog, "txtUsername");
    EXPECT_FALSE(username->isEnabled());  // Windows authentication first
    Control<QComboBox>(dialog, "cboServers")->setEditText(kDemo);
    Control<QRadioButton>(dialog, "optServerSecurity")->click();
    EXPECT_TRUE(username->isEnabled());
    username->setText("security");
    Control<QLineEdit>(dialog, "txtPassword")->setText("tessera");
    Screenshot(&dialog, "registration-dialog.png");
    ui_.QueueAnswer(kAnswerOk);
    Control<QPushButton>(dialog, "cmdTest")->click();
    EXPECT_EQ(ui_.boxes().back().text, Message(servers::kMessageConnectionEstablished));
    Control<QPushButton>(dialog, "cmdOK")->click();
    EXPECT_FALSE(dialog.isVisible());
  });
  Click("mnuAddSQLServer");
  ASSERT_EQ(workspace_->Servers().Count(), before + 1);
  std::shared_ptr<servers::Server> added = workspace_->Servers().Item(before + 1);
  EXPECT_EQ(added->ConnectionString(),
            servers::BuildRegistrationString(kDemo, false, "security", "tessera"));
  QTreeWidgetItem* node = ServerNode("Server" + std::to_string(added->ServerID()));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->text(0).toStdString(), std::string(kDemo) + Message(9));
  EXPECT_EQ(node->data(0, Qt::UserRole).toInt(), console::kIconServerConnected);
  EXPECT_EQ(window_->icons()->count(), before + 1);
  workspace_->Servers().Remove(std::to_string(added->ServerID()));
}

TEST_F(ConsoleWindowTest, EditARegistrationsLoginThroughTheDialog) {
  QTreeWidgetItem* node = Select(ServerNode(reader_));
  ASSERT_NE(node, nullptr);
  WhenDialogOpens([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle().toStdString(), Message(310));
    EXPECT_EQ(Control<QComboBox>(dialog, "cboServers")->currentText().toStdString(), kDemo);
    EXPECT_FALSE(Control<QPushButton>(dialog, "cmdRefresh")->isEnabled());
    EXPECT_TRUE(Control<QRadioButton>(dialog, "optServerSecurity")->isChecked());
    auto* username = Control<QLineEdit>(dialog, "txtUsername");
    EXPECT_EQ(username->text().toStdString(), "reader");
    // A hostile login name is sent as a value, never as more keys of the string.
    username->setText("cre'ator;Password=x");
    Control<QPushButton>(dialog, "cmdOK")->click();
  });
  Click("mnuSQLServerProperties");
  servers::Server* server = Registration(reader_);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->ConnectionString(),
            servers::BuildRegistrationString(kDemo, false, "cre'ator;Password=x", "tessera"));
  // No such login: the node is rebuilt as a server that is not connected.
  EXPECT_FALSE(server->Connected());
  EXPECT_EQ(node->data(0, Qt::UserRole).toInt(), console::kIconServerNotConnected);
  workspace_->Servers().Remove(reader_.substr(6));
}

TEST_F(ConsoleWindowTest, F2RenamesACollectionAndEscapeKeepsTheName) {
  QTreeWidgetItem* letters = Select(Walk(admin_, {Message(7), "Letters"}));
  ASSERT_NE(letters, nullptr);
  tree()->setFocus();
  // Only collections may be renamed.
  EXPECT_FALSE(letters->parent()->flags() & Qt::ItemIsEditable);

  auto rename = [&](const QString& name, Qt::Key finish) {
    QTest::keyClick(tree(), Qt::Key_F2);
    // The editor of an earlier rename may still wait for its deletion.
    QLineEdit* editor = nullptr;
    for (QLineEdit* each : tree()->findChildren<QLineEdit*>()) {
      if (each->isVisible()) editor = each;
    }
    ASSERT_NE(editor, nullptr);
    // Typed text of any script, which key clicks cannot produce.
    editor->setText(name);
    QTest::keyClick(editor, finish);
    QApplication::processEvents();
  };
  rename("Never", Qt::Key_Escape);
  EXPECT_EQ(letters->text(0).toStdString(), "Letters");

  const QString hostile = QString::fromUtf8("Lett'ers; [Zoë]");
  rename(hostile, Qt::Key_Return);
  EXPECT_EQ(letters->text(0), hostile);
  // The server holds the new name: read afresh.
  QTreeWidgetItem* collections = letters->parent();
  Select(collections);
  QTest::keyClick(tree(), Qt::Key_F5);
  std::vector<std::string> names = Texts(collections);
  EXPECT_EQ(std::count(names.begin(), names.end(), hostile.toStdString()), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "Letters"), 0);

  letters = Select(Walk(admin_, {Message(7), hostile.toStdString()}));
  ASSERT_NE(letters, nullptr);
  tree()->setFocus();
  rename("Letters", Qt::Key_Return);
  EXPECT_EQ(letters->text(0).toStdString(), "Letters");
}

TEST_F(ConsoleWindowTest, DeleteKeyRemovesTheSelectedLoginOnlyWhenARowIsSelected) {
  servers::Server* server = Registration(admin_);
  ASSERT_NE(server, nullptr);
  server->Connection().Execute("EXEC sp_addlogin 'short_lived', 'pw'");
  QTreeWidgetItem* logins = Select(Walk(admin_, {Message(8)}));
  ASSERT_NE(logins, nullptr);

  // Nothing selected: neither the node nor anything else is touched, and nothing is asked.
  window_->details()->setFocus();
  window_->details()->clearSelection();
  QTest::keyClick(window_->details(), Qt::Key_Delete);
  EXPECT_TRUE(ui_.boxes().empty());

  ASSERT_TRUE(SelectRow("short_lived"));
  ui_.QueueAnswer(kAnswerNo);
  QTest::keyClick(window_->details(), Qt::Key_Delete);
  ASSERT_EQ(ui_.boxes().size(), 1u);
  EXPECT_TRUE(HasRow(window_->details(), {"short_lived", "Standard", "Grant"}));

  ASSERT_TRUE(SelectRow("short_lived"));
  ui_.QueueAnswer(kAnswerYes);
  QTest::keyClick(window_->details(), Qt::Key_Delete);
  EXPECT_FALSE(HasRow(window_->details(), {"short_lived", "Standard", "Grant"}));
  db::Recordset gone = server->Connection().Execute(
      "SELECT name FROM master.dbo.syslogins WHERE name = 'short_lived'");
  EXPECT_TRUE(gone.Eof());
}

TEST_F(ConsoleWindowTest, KeepsSizeSplitterAndColumnWidthsForTheNextRun) {
  Select(Walk(admin_, {Message(8)}));
  ASSERT_TRUE(window_->ShowsDetails());
  window_->details()->setColumnWidth(0, 333);
  window_->resize(820, 510);
  auto* splitter = window_->findChild<QSplitter*>();
  ASSERT_NE(splitter, nullptr);
  splitter->setSizes({210, 600});
  const int tree_width = splitter->sizes()[0];
  window_->close();
  EXPECT_TRUE(fs::is_regular_file(root_ / "config" / "tessera-server-manager" / "console.ini"));

  window_ =
      std::make_unique<gui::MainWindow>(workspace_->Servers(), workspace_->ServerContext(), ui_);
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  EXPECT_EQ(window_->size(), QSize(820, 510));
  EXPECT_EQ(window_->findChild<QSplitter*>()->sizes()[0], tree_width);
  Select(Walk(admin_, {Message(8)}));
  EXPECT_EQ(window_->details()->columnWidth(0), 333);
  // Another list keeps its own widths.
  Select(Walk(admin_, {Message(7), "Archive", Message(5)}));
  EXPECT_NE(window_->details()->columnWidth(0), 333);
}

// Detaching takes the collection off the server but keeps its files: No leaves it, Yes removes
// node and database, and the files attach again as the same collection.
TEST_F(ConsoleWindowTest, DetachCollectionAnsweredBothWaysKeepsItsFiles) {
  servers::Server* server = Registration(admin_);
  ASSERT_NE(server, nullptr);
  QTreeWidgetItem* contracts = Select(Walk(admin_, {Message(7), "Contracts"}));
  ASSERT_NE(contracts, nullptr);
  QTreeWidgetItem* collections = contracts->parent();
  const int before = collections->childCount();
  const std::string database = std::string(servers::kCollectionPrefix) + "Contracts";
  db::Connection connection = server->Connection();
  auto listed = [&] {
    return !connection
                .Execute("SELECT name FROM master.dbo.sysdatabases WHERE name = '" + database + "'")
                .Eof();
  };
  std::vector<std::string> files;
  for (db::Recordset rs = connection.Execute("SELECT RTRIM(filename) FROM [" + database +
                                             "].dbo.sysfiles ORDER BY fileid");
       !rs.Eof(); rs.MoveNext()) {
    files.push_back(rs.Fields().Item(0).Value().ToText());
  }
  ASSERT_EQ(files.size(), 2u);

  ui_.QueueAnswer(kAnswerNo);
  Click("mnuCloseDatabase");
  EXPECT_EQ(ui_.boxes().back().icon, platform::MessageIcon::kQuestion);
  EXPECT_EQ(collections->childCount(), before);
  EXPECT_TRUE(listed());

  ui_.QueueAnswer(kAnswerYes);
  Click("mnuCloseDatabase");
  EXPECT_EQ(collections->childCount(), before - 1);
  EXPECT_EQ(tree()->currentItem(), collections);
  EXPECT_FALSE(listed());

  connection.Execute("EXEC sp_attach_db '" + database + "', '" + files[0] + "', '" + files[1] +
                     "'");
  QTest::keyClick(tree(), Qt::Key_F5);
  collections->setExpanded(true);
  std::vector<std::string> shown = Texts(collections);
  EXPECT_EQ(shown.size(), static_cast<size_t>(before));
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "Contracts"), 1);
}

// Changes the demonstration for good, so it runs after the tests that read it.
TEST_F(ConsoleWindowTest, DeleteCollectionAndRegistrationAnsweredBothWays) {
  QTreeWidgetItem* minutes = Select(Walk(admin_, {Message(7), "Minutes"}));
  ASSERT_NE(minutes, nullptr);
  QTreeWidgetItem* collections = minutes->parent();
  const int before = collections->childCount();

  ui_.QueueAnswer(kAnswerNo);
  Click("mnuDeleteDatabase");
  EXPECT_EQ(ui_.boxes().back().icon, platform::MessageIcon::kExclamation);
  EXPECT_EQ(collections->childCount(), before);

  ui_.QueueAnswer(kAnswerYes);
  Click("mnuDeleteDatabase");
  EXPECT_EQ(collections->childCount(), before - 1);
  EXPECT_EQ(tree()->currentItem(), collections);
  std::vector<std::string> shown = IconTexts(window_->icons());
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "Minutes"), 0);
  // The server no longer has it either: read afresh.
  QTest::keyClick(tree(), Qt::Key_F5);
  collections->setExpanded(true);
  std::vector<std::string> reread = Texts(collections);
  EXPECT_EQ(reread.size(), static_cast<size_t>(before - 1));
  EXPECT_EQ(std::count(reread.begin(), reread.end(), "Minutes"), 0);

  // Removing the reader's registration: No keeps it, Yes removes node and registration.
  Select(ServerNode(reader_));
  ui_.QueueAnswer(kAnswerNo);
  Click("mnuDetachSQLServer");
  EXPECT_NE(ServerNode(reader_), nullptr);
  ui_.QueueAnswer(kAnswerYes);
  Click("mnuDetachSQLServer");
  EXPECT_EQ(ServerNode(reader_), nullptr);
  EXPECT_EQ(tree()->currentItem(), ServersNode());
  EXPECT_EQ(window_->icons()->count(), 1);
  EXPECT_EQ(workspace_->Servers().Count(), 1);
  // The registration store no longer holds it.
  window_.reset();
  workspace_ = std::make_unique<server_manager::Workspace>(ui_);
  EXPECT_EQ(workspace_->Servers().Count(), 1);
}

}  // namespace

int main(int argc, char** argv) {
  // No display is needed, or used when there is one.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
