// The console window: the scope tree on the left, the result list of the selected node on the
// right, the context menu and the Action menu of the selected node or rows, and the status bar
// that shows the status text of the menu entry under the pointer. It only binds widgets to the
// console's toolkit-free logic (nodes, lists, menus, commands).
#pragma once

#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVariantMap>
#include <string>
#include <unordered_map>
#include <vector>

#include "collections/database.h"
#include "console/result_views.h"
#include "gui/dialog_commands.h"
#include "platform/user_interface.h"
#include "servers/context.h"
#include "servers/server.h"
#include "servers/servers.h"

namespace gui {

// The About box's text: the product's name and version.
QString AboutText();

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `servers` and `ui` must outlive the window. The registrations are listed when the Database
  // Servers node is first expanded, which the window does at once.
  // `context` is what the registration dialog registers and tests servers with.
  MainWindow(servers::Servers& servers, servers::Context context, platform::UserInterface& ui,
             QWidget* parent = nullptr);

  QTreeWidget* tree() const { return tree_; }
  // The result list in details view (code 3) and in icon view (code 0); one of them is shown.
  QTreeWidget* details() const { return details_; }
  QListWidget* icons() const { return icons_; }
  bool ShowsDetails() const { return views_->currentWidget() == details_; }

  // Where the window keeps its size, splitter and column widths between runs:
  // $XDG_CONFIG_HOME/tessera-server-manager/console.ini.
  static QString SettingsFile();

  // The node of that type and key under `parent` (expanding it first); nullptr when absent.
  QTreeWidgetItem* FindChild(QTreeWidgetItem* parent, const std::string& key);
  // The node type name of a tree item ("DatabaseServers", "Server", "Database", ...).
  std::string NodeType(const QTreeWidgetItem* item) const;
  std::string NodeKey(const QTreeWidgetItem* item) const;

  // The entries of the context menu for what is selected: the selected rows of the result list
  // when `rows` is true (and rows are selected), else the selected node. Each action's
  // objectName is the menu item's name, its statusTip the status text. The actions belong to
  // `menu`.
  void FillMenu(QMenu* menu, bool rows);

 public slots:
  // View > Refresh: reads the selected node's children and its list afresh.
  void Refresh();

 protected:
  // Keeps the window's layout for the next run.
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void ShowStatusTip(QAction* action);

 private:
  struct Node {
    std::string type;  // empty for untyped nodes (the error node)
    std::string key;
    servers::Server* server = nullptr;
    collections::Database* database = nullptr;
    bool typed = true;
    bool populated = false;
  };

  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, Node node, const std::string& caption, int icon,
                           bool has_children);
  void Populate(QTreeWidgetItem* item);
  void ClearChildren(QTreeWidgetItem* item);
  void ShowList(QTreeWidgetItem* item);
  void ShowListView(const console::ListView& view);
  void ShowChildren(QTreeWidgetItem* item);
  std::vector<std::string> SelectedRowKeys() const;
  const console::ListRow* RowByKey(const std::string& key) const;
  void RunCommand(const std::string& name, bool rows);
  void ShowContextMenu(QWidget* view, const QPoint& position, bool rows);

  void RememberColumns();
  void RestoreSettings();
  void SaveSettings();
  void RenameNode(QTreeWidgetItem* item, const QString& name);
  // The Delete key: the delete entry of the node's or the rows' menu, when it has one.
  void DeleteSelected(bool rows);
  void AddRegistration();
  void EditRegistration(QTreeWidgetItem* item);
  void RedescribeServer(QTreeWidgetItem* item, console::ServerNodeUse use);
  // A node for a collection the Collections node `item` did not list yet.
  void AddCollectionNode(QTreeWidgetItem* item, collections::Database* database);

  servers::Servers& servers_;
  servers::Context context_;
  platform::UserInterface& ui_;
  QSplitter* splitter_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QStackedWidget* views_ = nullptr;
  QTreeWidget* details_ = nullptr;
  QListWidget* icons_ = nullptr;
  QMenu* action_menu_ = nullptr;
  std::unordered_map<const QTreeWidgetItem*, Node> nodes_;
  // The rows of the list shown now, so a command on a row finds its server or collection.
  console::ListView current_list_;
  // Column widths by list name ("lvLoginNames", ...), as the user left them.
  QVariantMap column_widths_;
  // The commands that open dialogs and wizards.
  DialogCommands dialogs_{ui_, this};
};

}  // namespace gui
