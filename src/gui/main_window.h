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
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>
#include <QVariantMap>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "collections/database.h"
#include "console/result_views.h"
#include "gui/dialog_commands.h"
#include "console/startup_check.h"
#include "platform/user_interface.h"
#include "servers/context.h"
#include "servers/server.h"
#include "servers/servers.h"

namespace gui {

// The About box's text: the product's name and version.
QString AboutText();
class SqlTraceDock;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `servers` and `ui` must outlive the window. The registrations are listed when the Database
  // Servers node is first expanded, which the window does at once. Registrations not connected
  // yet (a list loaded with servers::ConnectAtLoad::kByCaller) are connected all at once on
  // worker threads: each shows as connecting until its answer arrives.
  // `context` is what the registration dialog registers and tests servers with.
  MainWindow(servers::Servers& servers, servers::Context context, platform::UserInterface& ui,
             QWidget* parent = nullptr);
  // Waits for connects still under way: they use the registrations.
  ~MainWindow() override;

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

  // Registrations whose connect runs on a worker now; the window does not touch them meanwhile.
  int ConnectingCount() const { return static_cast<int>(connecting_.size()); }
  bool IsConnecting(const servers::Server* server) const { return connecting_.count(server) != 0; }

  // The one-shot timer of the start-up format check, armed when the window is first shown.
  QTimer* startupCheckTimer() const { return startup_timer_; }
  // What the check runs an upgrade or plain-text generation with; the progress window unless a
  // test gives its own.
  void SetCollectionJob(console::CollectionJob job) { collection_job_ = std::move(job); }

  SqlTraceDock* sqlTrace() const { return sql_trace_; }

 signals:
  // A registration's connect answered (connected or not) and its node shows the answer.
  void serverAnswered(const QString& key);
  // The start-up check went over every registration that had answered by its tick.
  void startupCheckDone();

 public slots:
  // View > Refresh: reads the selected node's children and its list afresh.
  void Refresh();

 protected:
  // Keeps the window's layout for the next run.
  void closeEvent(QCloseEvent* event) override;
  // Arms the start-up check at the first showing.
  void showEvent(QShowEvent* event) override;

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

  // Starts the connect of every registration no one has connected yet.
  void ConnectServers();
  void StartConnect(const std::shared_ptr<servers::Server>& server);
  // Back on the window's thread: the registration is the window's again.
  void ShowAnswer(servers::Server* server, const console::ServerNode& described);
  QTreeWidgetItem* ServerItem(const servers::Server* server) const;
  void StartupCheckTick();
  // Runs the check over every registration that has answered and was not checked yet.
  void CheckAnsweredServers();
  // Enter or a double-click on a row: the properties entry of the row's menu, when it has one.
  void OpenSelectedRow();

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
  // Column widths by list name ("lvLoginNames", ...), as the user left them; 0 for a column the
  // user did not size, which is sized to its contents each time.
  QVariantMap column_widths_;
  // The columns of the list shown now that the user has sized; the window's own sizing is not
  // remembered, or a width taken from a short list would cut a longer one.
  std::unordered_set<int> user_sized_columns_;
  bool sizing_columns_ = false;
  // The commands that open dialogs and wizards.
  DialogCommands dialogs_{ui_, this};

  // The registrations being connected, with the caption they show meanwhile.
  std::unordered_map<const servers::Server*, std::string> connecting_;
  QThreadPool connect_pool_;

  console::StartupCheckTimer startup_check_;
  QTimer* startup_timer_ = nullptr;
  console::CollectionJob collection_job_ = console::RunCollectionJob;
  bool shown_ = false;
  bool startup_check_ran_ = false;
  bool checking_ = false;
  // Registrations the check has gone over (or that answered after its tick and were checked then).
  std::unordered_set<const servers::Server*> checked_;

  SqlTraceDock* sql_trace_ = nullptr;
};

}  // namespace gui
