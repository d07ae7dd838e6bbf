#include "gui/main_window.h"

#include <QAction>
#include <QDockWidget>
#include <QHeaderView>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QShowEvent>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <functional>

#include "common/messages.h"
#include "common/version.h"
#include "console/commands.h"
#include "db/connection_string.h"
#include "gui/icons.h"
#include "gui/registration_dialog.h"
#include "gui/sql_trace.h"

namespace gui {

QString AboutText() {
  return QString("<b>%1</b><br>Version %2<br>Administers network collections on SQL Server.")
      .arg(common::kProductName, common::kProductVersion);
}

namespace {

constexpr char kDisplayName[] = "Tessera Server Manager";

QString Text(const std::string& text) { return QString::fromStdString(text); }

std::string Message(int number) { return common::LoadMessage(number); }

// A menu caption without its mnemonic marks, to name the action in the SQL trace.
std::string PlainCaption(const std::string& caption) {
  std::string plain;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    plain += caption[i];
  }
  return plain;
}

// The data source a registration's stored connection string names, read without touching the
// registration's connection: what its node shows while it connects.
std::string StoredLocation(const servers::Server& server) {
  std::string location;
  try {
    location =
        db::ConnectionString::Parse(server.ConnectionString()).Get("Data Source").value_or("");
  } catch (const std::exception&) {
    // A string that does not parse fails its connect with the reason; the identifier will do.
  }
  if (location.empty()) location = "Server " + std::to_string(server.ServerID());
  return location;
}

// The tree's editor hands the typed name to the rename command instead of writing it into the
// node: only a rename the server accepted changes the caption.
class RenameDelegate : public QStyledItemDelegate {
 public:
  using Rename = std::function<void(const QModelIndex&, const QString&)>;
  RenameDelegate(Rename rename, QObject* parent)
      : QStyledItemDelegate(parent), rename_(std::move(rename)) {}
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    if (auto* line = qobject_cast<QLineEdit*>(editor)) rename_(index, line->text());
  }

 private:
  Rename rename_;
};

}  // namespace

MainWindow::MainWindow(servers::Servers& servers, servers::Context context,
                       platform::UserInterface& ui, QWidget* parent)
    : QMainWindow(parent), servers_(servers), context_(std::move(context)), ui_(ui) {
  setWindowTitle(kDisplayName);
  setWindowIcon(ConsoleIcon(console::kIconServerConnected));

  tree_ = new QTreeWidget;
  tree_->setObjectName("scopeTree");
  tree_->setAccessibleName("Scope tree");
  tree_->setHeaderHidden(true);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->setUniformRowHeights(true);
  tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  tree_->setItemDelegate(new RenameDelegate(
      [this](const QModelIndex& index, const QString& name) {
        RenameNode(tree_->itemFromIndex(index), name);
      },
      tree_));

  details_ = new QTreeWidget;
  details_->setObjectName("resultDetails");
  details_->setAccessibleName("Result list");
  details_->setRootIsDecorated(false);
  details_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  details_->setContextMenuPolicy(Qt::CustomContextMenu);
  details_->setUniformRowHeights(true);
  details_->setSortingEnabled(false);
  connect(details_->header(), &QHeaderView::sectionResized, this, [this](int column) {
    // The stretched last column follows the window, not the user.
    const bool stretched = details_->header()->stretchLastSection() &&
                           column == details_->columnCount() - 1;
    if (!sizing_columns_ && !stretched) user_sized_columns_.insert(column);
  });

  icons_ = new QListWidget;
  icons_->setObjectName("resultIcons");
  icons_->setAccessibleName("Result list");
  icons_->setViewMode(QListView::IconMode);
  icons_->setIconSize(QSize(32, 32));
  icons_->setGridSize(QSize(120, 72));
  icons_->setWordWrap(true);
  icons_->setMovement(QListView::Static);
  icons_->setResizeMode(QListView::Adjust);
  icons_->setContextMenuPolicy(Qt::CustomContextMenu);

  views_ = new QStackedWidget;
  views_->addWidget(details_);
  views_->addWidget(icons_);

  splitter_ = new QSplitter;
  auto* splitter = splitter_;
  splitter->addWidget(tree_);
  splitter->addWidget(views_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({320, 640});
  setCentralWidget(splitter);

  QMenu* file_menu = menuBar()->addMenu("&File");
  QAction* exit = file_menu->addAction("E&xit", this, &QWidget::close);
  exit->setShortcut(QKeySequence::Quit);

  action_menu_ = menuBar()->addMenu("&Action");
  connect(action_menu_, &QMenu::aboutToShow, this, [this] {
    action_menu_->clear();
    FillMenu(action_menu_, views_->currentWidget()->hasFocus());
    if (action_menu_->isEmpty()) action_menu_->addAction("(none)")->setEnabled(false);
  });

  QMenu* view_menu = menuBar()->addMenu("&View");
  QAction* refresh = view_menu->addAction("&Refresh", this, &MainWindow::Refresh);
  refresh->setObjectName("refresh");
  refresh->setShortcut(QKeySequence(Qt::Key_F5));
  // Reachable while a list has the focus too, not only from the menu bar.
  refresh->setShortcutContext(Qt::WindowShortcut);
  addAction(refresh);

  // The SQL dock: hidden until asked for; whether it shows is kept with the layout.
  sql_trace_ = new SqlTraceDock(this);
  addDockWidget(Qt::BottomDockWidgetArea, sql_trace_);
  sql_trace_->hide();
  if (context_.database) sql_trace_->Watch(*context_.database);
  QAction* trace = sql_trace_->toggleViewAction();
  trace->setText("&SQL Trace");
  trace->setObjectName("sqlTraceToggle");
  trace->setStatusTip("Shows the statements each action sent and the connection that sent each");
  view_menu->addSeparator();
  view_menu->addAction(trace);
  connect(view_menu, &QMenu::hovered, this, &MainWindow::ShowStatusTip);

  // The start-up format check: armed when the window first shows, it stops at its own tick.
  startup_timer_ = new QTimer(this);
  startup_timer_->setObjectName("startupCheckTimer");
  startup_timer_->setSingleShot(true);
  connect(startup_timer_, &QTimer::timeout, this, &MainWindow::StartupCheckTick);

  QMenu* help_menu = menuBar()->addMenu("&Help");
  QAction* about = help_menu->addAction("&About Tessera Server Manager", this,
                                        [this] { QMessageBox::about(this, "About", AboutText()); });
  about->setObjectName("about");

  // Delete works on what has the focus, as in a file manager: the selected node or rows.
  for (QWidget* view : std::initializer_list<QWidget*>{tree_, details_, icons_}) {
    auto* remove = new QAction(view);
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    const bool rows = view != tree_;
    connect(remove, &QAction::triggered, this, [this, rows] { DeleteSelected(rows); });
    view->addAction(remove);
  }
  // Enter on a node opens or closes it, as in a file manager's folder tree.
  auto* open = new QAction(tree_);
  open->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
  open->setShortcutContext(Qt::WidgetShortcut);
  connect(open, &QAction::triggered, this, [this] {
    if (QTreeWidgetItem* item = tree_->currentItem()) item->setExpanded(!item->isExpanded());
  });
  tree_->addAction(open);
  // Enter or a double-click on a login or user row opens its properties.
  connect(details_, &QTreeWidget::itemActivated, this, [this] { OpenSelectedRow(); });

  statusBar()->showMessage("Ready");
  resize(960, 600);
  RestoreSettings();

  connect(tree_, &QTreeWidget::itemExpanded, this,
          [this](QTreeWidgetItem* item) { Populate(item); });
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { ShowList(current); });
  connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
    if (QTreeWidgetItem* item = tree_->itemAt(position)) tree_->setCurrentItem(item);
    ShowContextMenu(tree_->viewport(), position, false);
  });
  connect(details_, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
    ShowContextMenu(details_->viewport(), position, true);
  });
  connect(icons_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) { ShowContextMenu(icons_->viewport(), position, true); });
  // Opening a login or user row shows its properties.
  connect(details_, &QTreeWidget::itemActivated, this, [this] {
    QMenu menu;
    FillMenu(&menu, true);
    for (QAction* action : menu.actions()) {
      if ((action->objectName() == "mnuLoginProperties" ||
           action->objectName() == "mnuUserProperties") &&
          action->isEnabled()) {
        action->trigger();
      }
    }
  });
  // Opening an icon of a host-filled list goes to its node, as in a file manager.
  connect(icons_, &QListWidget::itemActivated, this, [this](QListWidgetItem* row) {
    QTreeWidgetItem* current = tree_->currentItem();
    if (!current) return;
    if (QTreeWidgetItem* child =
            FindChild(current, row->data(Qt::UserRole).toString().toStdString())) {
      current->setExpanded(true);
      tree_->setCurrentItem(child);
    }
  });

  connect_pool_.setMaxThreadCount(std::max(1, servers_.Count()));
  ConnectServers();

  QTreeWidgetItem* root =
      AddNode(nullptr, Node{"Static Node", "Static Node"}, kDisplayName, -1, true);
  root->setExpanded(true);
  QTreeWidgetItem* servers_node = FindChild(root, "DatabaseServers");
  if (servers_node) {
    servers_node->setExpanded(true);
    tree_->setCurrentItem(servers_node);
  }
}

MainWindow::~MainWindow() {
  // The workers hold registrations this window's owner is about to close.
  connect_pool_.waitForDone();
}

void MainWindow::ConnectServers() {
  for (const std::shared_ptr<servers::Server>& server : servers_) {
    if (!server->ConnectTried() && !IsConnecting(server.get())) StartConnect(server);
  }
}

void MainWindow::StartConnect(const std::shared_ptr<servers::Server>& server) {
  const std::string location = StoredLocation(*server);
  const std::string caption = location + " (connecting\u2026)";
  connecting_[server.get()] = caption;
  if (connect_pool_.maxThreadCount() < static_cast<int>(connecting_.size())) {
    connect_pool_.setMaxThreadCount(static_cast<int>(connecting_.size()));
  }
  // Until the answer comes back the worker alone uses the registration and its connection.
  connect_pool_.start([this, server, location] {
    TraceAction trace("Connect " + location);
    server->Connect();
    console::ServerNode described;
    try {
      described = console::DescribeServerNode(*server);
    } catch (const std::exception& error) {
      described.key = "Server" + std::to_string(server->ServerID());
      described.caption = location + " (" + error.what() + ")";
      described.typed = false;
      described.icon = console::kIconServerNotConnected;
    }
    QMetaObject::invokeMethod(
        this, [this, server, described] { ShowAnswer(server.get(), described); },
        Qt::QueuedConnection);
  });
}

QTreeWidgetItem* MainWindow::ServerItem(const servers::Server* server) const {
  for (const auto& [item, node] : nodes_) {
    if (node.type == "Server" && node.server == server) return const_cast<QTreeWidgetItem*>(item);
  }
  return nullptr;
}

void MainWindow::ShowAnswer(servers::Server* server, const console::ServerNode& described) {
  connecting_.erase(server);
  if (QTreeWidgetItem* item = ServerItem(server)) {
    Node& node = nodes_[item];
    node.typed = described.typed;
    node.populated = !described.has_children;
    item->setText(0, Text(described.caption));
    item->setData(0, Qt::UserRole, described.icon);
    item->setIcon(0, ConsoleIcon(described.icon));
    item->setChildIndicatorPolicy(described.has_children
                                      ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    QTreeWidgetItem* current = tree_->currentItem();
    if (current == item) {
      ShowList(current);
    } else if (current == item->parent()) {
      // Only the server's row of the list changes.
      for (int i = 0; i < icons_->count(); ++i) {
        QListWidgetItem* row = icons_->item(i);
        if (row->data(Qt::UserRole).toString() != Text(described.key)) continue;
        row->setText(Text(described.caption));
        row->setIcon(ConsoleIcon(described.icon));
      }
    }
  }
  if (startup_check_ran_) CheckAnsweredServers();
  emit serverAnswered(Text(described.key));
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  startup_check_.Arm();
  startup_timer_->start(startup_check_.Interval());
}

void MainWindow::StartupCheckTick() {
  if (!startup_check_.Tick()) return;
  startup_check_ran_ = true;
  CheckAnsweredServers();
  emit startupCheckDone();
}

void MainWindow::CheckAnsweredServers() {
  // An answer arriving while a progress window runs is checked when the walk comes round again.
  if (checking_) return;
  checking_ = true;
  bool any = false;
  bool found = true;
  while (found) {
    found = false;
    for (const std::shared_ptr<servers::Server>& server : servers_) {
      // A registration still connecting is checked when its answer arrives: asking its
      // catalogue now would find it closed and keep it empty for good.
      if (IsConnecting(server.get()) || checked_.count(server.get())) continue;
      checked_.insert(server.get());
      found = true;
      any = true;
      TraceAction trace("Start-up format check");
      try {
        console::RunStartupCheck(ui_, *server, collection_job_);
      } catch (const std::exception& error) {
        console::ReportError(ui_, std::string(), error);
      }
      // The list goes on from the start: a dialog's event loop may have changed it.
      break;
    }
  }
  checking_ = false;
  // The check changes no node, but a list may show what it changed (a format version).
  if (any) ShowList(tree_->currentItem());
}

QTreeWidgetItem* MainWindow::AddNode(QTreeWidgetItem* parent, Node node, const std::string& caption,
                                     int icon, bool has_children) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  if (console::RenameEnabled(node.type)) item->setFlags(item->flags() | Qt::ItemIsEditable);
  item->setText(0, Text(caption));
  item->setData(0, Qt::UserRole, icon);
  if (icon >= 0) item->setIcon(0, ConsoleIcon(icon));
  item->setChildIndicatorPolicy(has_children ? QTreeWidgetItem::ShowIndicator
                                             : QTreeWidgetItem::DontShowIndicatorWhenChildless);
  if (!has_children) node.populated = true;
  nodes_[item] = std::move(node);
  return item;
}

std::string MainWindow::NodeType(const QTreeWidgetItem* item) const {
  auto found = nodes_.find(item);
  return found == nodes_.end() ? std::string() : found->second.type;
}

std::string MainWindow::NodeKey(const QTreeWidgetItem* item) const {
  auto found = nodes_.find(item);
  return found == nodes_.end() ? std::string() : found->second.key;
}

QTreeWidgetItem* MainWindow::FindChild(QTreeWidgetItem* parent, const std::string& key) {
  if (!parent) return nullptr;
  Populate(parent);
  for (int i = 0; i < parent->childCount(); ++i) {
    if (NodeKey(parent->child(i)) == key) return parent->child(i);
  }
  return nullptr;
}

void MainWindow::Populate(QTreeWidgetItem* item) {
  auto found = nodes_.find(item);
  if (found == nodes_.end() || found->second.populated) return;
  found->second.populated = true;
  // A copy: adding children rehashes the map.
  const Node node = found->second;
  TraceAction trace("Expand " + item->text(0).toStdString());
  platform::BusyCursor busy(ui_);
  try {
    if (node.type == "Static Node") {
      AddNode(item, Node{"DatabaseServers", "DatabaseServers"}, Message(4),
              console::kIconServersFolder, true);
    } else if (node.type == "DatabaseServers") {
      for (const auto& server : servers_) {
        if (auto pending = connecting_.find(server.get()); pending != connecting_.end()) {
          AddNode(item,
                  Node{"Server", "Server" + std::to_string(server->ServerID()), server.get(),
                       nullptr, false},
                  pending->second, kIconConnecting, false);
          continue;
        }
        console::ServerNode described = console::DescribeServerNode(*server);
        AddNode(item, Node{"Server", described.key, server.get(), nullptr, described.typed},
                described.caption, described.icon, described.has_children);
      }
    } else if (node.type == "Server" && node.typed) {
      AddNode(item, Node{"Databases", node.key + ".Databases", node.server}, Message(7),
              console::kIconCollectionsFolder, true);
      AddNode(item, Node{"LoginNames", node.key + ".LoginNames", node.server}, Message(8),
              console::kIconLoginsFolder, false);
    } else if (node.type == "Server") {
      if (!node.server->Connected()) {
        console::ListRow error = console::ErrorNodeRow(*node.server);
        AddNode(item, Node{"", error.key}, error.text, error.icon, false);
      }
    } else if (node.type == "Databases") {
      for (console::ListRow& row : console::CollectionsView(*node.server).rows) {
        AddNode(item, Node{"Database", row.key, node.server, row.database}, row.text, row.icon,
                true);
      }
    } else if (node.type == "Database") {
      AddNode(item, Node{"Properties", node.key + ".Properties", node.server, node.database},
              Message(5), console::kIconPropertiesFolder, false);
      AddNode(item, Node{"Users", node.key + ".Users", node.server, node.database}, Message(6),
              console::kIconUser, false);
      AddNode(item, Node{"Catalog", node.key + ".Catalog", node.server, node.database},
              Message(321), console::kIconFullText, false);
    }
  } catch (const std::exception& error) {
    console::ReportError(ui_, std::string(), error);
  }
  if (item->childCount() == 0) {
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  }
}

void MainWindow::ClearChildren(QTreeWidgetItem* item) {
  for (int i = 0; i < item->childCount(); ++i) ClearChildren(item->child(i));
  for (int i = 0; i < item->childCount(); ++i) nodes_.erase(item->child(i));
  qDeleteAll(item->takeChildren());
  auto found = nodes_.find(item);
  if (found != nodes_.end()) found->second.populated = false;
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
}

void MainWindow::ShowList(QTreeWidgetItem* item) {
  RememberColumns();
  user_sized_columns_.clear();
  current_list_ = console::ListView{};
  details_->clear();
  icons_->clear();
  auto found = nodes_.find(item);
  if (!item || found == nodes_.end()) return;
  const Node& node = found->second;
  TraceAction trace("Show " + item->text(0).toStdString());
  platform::BusyCursor busy(ui_);
  try {
    if (node.type == "Server" && node.typed) {
      ShowListView(console::ServerView(*node.server));
    } else if (node.type == "LoginNames") {
      ShowListView(console::LoginsView(*node.server));
    } else if (node.type == "Properties") {
      ShowListView(console::PropertiesView(*node.database));
    } else if (node.type == "Users") {
      ShowListView(console::UsersView(*node.database));
    } else if (node.type == "Catalog") {
      ShowListView(console::FullTextView(*node.database));
    } else {
      ShowChildren(item);
    }
  } catch (const std::exception& error) {
    console::ReportError(ui_, std::string(), error);
  }
  statusBar()->showMessage(
      QString("%1 item(s)").arg(static_cast<qsizetype>(current_list_.rows.size())));
}

void MainWindow::ShowChildren(QTreeWidgetItem* item) {
  Populate(item);
  console::ListView view;
  view.view_mode = console::kViewIcons;
  view.columns = {{"NAME", "Name"}};
  for (int i = 0; i < item->childCount(); ++i) {
    QTreeWidgetItem* child = item->child(i);
    console::ListRow row;
    row.key = NodeKey(child);
    row.text = child->text(0).toStdString();
    row.icon = child->data(0, Qt::UserRole).toInt();
    row.sub_items["NAME"] = row.text;
    view.AddRow(std::move(row));
  }
  ShowListView(view);
}

void MainWindow::ShowListView(const console::ListView& view) {
  current_list_ = view;
  // Filling and sizing the list is not the user sizing its columns.
  sizing_columns_ = true;
  const std::shared_ptr<void> sized(nullptr, [this](void*) { sizing_columns_ = false; });
  if (view.view_mode == console::kViewIcons) {
    for (const console::ListRow& row : view.rows) {
      auto* item = new QListWidgetItem(ConsoleIcon(row.icon), Text(row.text), icons_);
      item->setData(Qt::UserRole, Text(row.key));
    }
    views_->setCurrentWidget(icons_);
    return;
  }
  QStringList captions;
  for (const console::ListColumn& column : view.columns) captions << Text(column.caption);
  details_->setColumnCount(static_cast<int>(captions.size()));
  details_->setHeaderLabels(captions);
  for (const console::ListRow& row : view.rows) {
    auto* item = new QTreeWidgetItem(details_);
    for (size_t i = 0; i < view.columns.size(); ++i) {
      std::string cell = row.SubItem(view.columns[i].key);
      if (i == 0 && cell.empty()) cell = row.text;
      item->setText(static_cast<int>(i), Text(cell));
    }
    item->setIcon(0, ConsoleIcon(row.icon));
    item->setData(0, Qt::UserRole, Text(row.key));
  }
  // Widths the user set for this list last time, else what the contents need.
  QList<QVariant> widths = column_widths_.value(Text(view.name)).toList();
  for (int i = 0; i < details_->columnCount(); ++i) {
    if (i < widths.size() && widths[i].toInt() > 0) {
      details_->setColumnWidth(i, widths[i].toInt());
      user_sized_columns_.insert(i);
    } else {
      details_->resizeColumnToContents(i);
    }
  }
  views_->setCurrentWidget(details_);
}

std::vector<std::string> MainWindow::SelectedRowKeys() const {
  std::vector<std::string> keys;
  if (ShowsDetails()) {
    for (QTreeWidgetItem* item : details_->selectedItems()) {
      keys.push_back(item->data(0, Qt::UserRole).toString().toStdString());
    }
  } else {
    for (QListWidgetItem* item : icons_->selectedItems()) {
      keys.push_back(item->data(Qt::UserRole).toString().toStdString());
    }
  }
  return keys;
}

const console::ListRow* MainWindow::RowByKey(const std::string& key) const {
  return current_list_.Find(key);
}

void MainWindow::FillMenu(QMenu* menu, bool rows) {
  std::vector<std::string> keys = rows ? SelectedRowKeys() : std::vector<std::string>{};
  std::optional<console::GroupMenu> group;
  if (rows && !keys.empty()) {
    group = console::MenuForRows(keys);
  } else {
    rows = false;
    group = console::MenuForNode(NodeType(tree_->currentItem()));
  }
  if (!group) return;
  const Node* node = nullptr;
  if (auto found = nodes_.find(tree_->currentItem()); found != nodes_.end()) node = &found->second;

  std::unordered_map<std::string, console::MenuItemState> states;
  // A registration being connected belongs to its worker: nothing may run on it yet.
  const bool connecting = !rows && node && IsConnecting(node->server);
  try {
    if (connecting) {
      statusBar()->showMessage("Connecting to the server; its commands wait for the answer.");
    } else if (!rows && group->name == "mnuServer" && node && node->server) {
      console::ServiceMenuState service = console::ServiceMenuStateFor(node->server->Status());
      if (service.start) states["mnuStartSQLServer"] = *service.start;
      if (service.stop) states["mnuStopSQLServer"] = *service.stop;
    } else if (!rows && group->name == "mnuCatalog" && node && node->database) {
      console::FullTextMenuState full_text =
          console::FullTextMenuStateFor(node->database->GetFullTextStatus());
      states["mnuAddCatalog"] = full_text.create;
      states["mnuRemoveCatalog"] = full_text.remove;
    }
  } catch (const std::exception& error) {
    statusBar()->showMessage(QString("The menu states could not be read: %1").arg(error.what()));
  }

  // A context menu is a window of its own, so its status tips would not reach the status bar.
  connect(menu, &QMenu::hovered, this, &MainWindow::ShowStatusTip, Qt::UniqueConnection);
  for (const console::MenuItem& entry : group->items) {
    QAction* action = menu->addAction(Text(entry.caption));
    action->setObjectName(Text(entry.name));
    action->setStatusTip(Text(entry.status_text));
    if (auto state = states.find(entry.name); state != states.end()) {
      action->setEnabled(state->second.enabled && !state->second.grayed);
    }
    if (connecting) action->setEnabled(false);
    const std::string name = entry.name;
    const std::string caption = PlainCaption(entry.caption);
    connect(action, &QAction::triggered, this, [this, name, caption, rows] {
      TraceAction trace(caption);
      // The commands report their own errors; anything else still must not leave the event
      // loop, where it would end the program.
      try {
        RunCommand(name, rows);
      } catch (const std::exception& error) {
        console::ReportError(ui_, std::string(), error);
      }
    });
  }
}

void MainWindow::ShowStatusTip(QAction* action) { statusBar()->showMessage(action->statusTip()); }

void MainWindow::ShowContextMenu(QWidget* view, const QPoint& position, bool rows) {
  QMenu menu(this);
  FillMenu(&menu, rows);
  if (menu.isEmpty()) return;
  menu.exec(view->mapToGlobal(position));
}

void MainWindow::RunCommand(const std::string& name, bool rows) {
  QTreeWidgetItem* item = tree_->currentItem();
  auto found = nodes_.find(item);
  if (found == nodes_.end()) return;
  Node node = found->second;
  if (IsConnecting(node.server)) return;

  if (rows) {
    std::vector<std::string> keys = SelectedRowKeys();
    const console::ListRow* row = keys.size() == 1 ? RowByKey(keys.front()) : nullptr;
    if (!row) return;
    bool done = false;
    if (name == "mnuRevokeLogin" && row->server) {
      done = console::RemoveLogin(ui_, *row->server, row->SubItem("NAME"), row->SubItem("TYPE"));
    } else if (name == "mnuRevokeDBAccess" && row->database) {
      done = console::RemoveCollectionUser(ui_, *row->database, row->SubItem("NAME"));
    } else if (name == "mnuLoginProperties" && row->server) {
      dialogs_.LoginProperties(*row->server, row->SubItem("NAME"));
      done = true;
    } else if (name == "mnuUserProperties" && row->database) {
      dialogs_.UserProperties(*row->database, row->SubItem("NAME"), row->SubItem("LOGINNAME"));
      done = true;
    }
    if (done) ShowList(item);
    return;
  }

  if (name == "mnuAddSQLServer") {
    AddRegistration();
  } else if (name == "mnuSQLServerProperties" && node.server) {
    EditRegistration(item);
  } else if (name == "mnuDetachSQLServer" && node.server) {
    if (console::DetachRegistration(ui_, servers_, *node.server)) {
      QTreeWidgetItem* parent = item->parent();
      ClearChildren(item);
      nodes_.erase(item);
      delete item;
      tree_->setCurrentItem(parent);
    }
  } else if ((name == "mnuStartSQLServer" || name == "mnuStopSQLServer") && node.server) {
    bool start = name == "mnuStartSQLServer";
    if (start ? console::StartServer(ui_, *node.server) : console::StopServer(ui_, *node.server)) {
      item->setExpanded(false);
      ClearChildren(item);
      console::ServerNode described =
          console::DescribeServerNode(*node.server, console::ServerNodeUse::kRebuilt);
      Node& rebuilt = nodes_[item];
      rebuilt.typed = start && described.typed;
      item->setText(0, Text(described.caption));
      int icon = start ? described.icon : console::kIconServerStopped;
      item->setData(0, Qt::UserRole, icon);
      item->setIcon(0, ConsoleIcon(icon));
      if (!start || !described.has_children) {
        rebuilt.populated = true;
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
      }
      ShowList(item);
    }
  } else if ((name == "mnuDeleteDatabase" || name == "mnuCloseDatabase") && node.database) {
    bool gone = name == "mnuDeleteDatabase" ? console::DeleteCollection(ui_, *node.database)
                                            : console::CloseCollection(ui_, *node.database);
    if (gone) {
      QTreeWidgetItem* parent = item->parent();
      ClearChildren(item);
      nodes_.erase(item);
      delete item;
      tree_->setCurrentItem(parent);
      ShowList(parent);
    }
  } else if ((name == "mnuAddNewDatabase" || name == "mnuOpenDatabase") && node.server) {
    AddCollectionNode(item, name == "mnuAddNewDatabase" ? dialogs_.NewCollection(*node.server)
                                                        : dialogs_.OpenCollection(*node.server));
  } else if (name == "mnuChangeOwner" && node.database) {
    if (dialogs_.ChangeOwner(*node.database)) ShowList(item);
  } else if (name == "mnuGrantLogin" && node.server) {
    dialogs_.AddLogin(*node.server);
    if (NodeType(tree_->currentItem()) == "LoginNames") ShowList(tree_->currentItem());
  } else if (name == "mnuNewDatabaseUser" && node.database) {
    dialogs_.NewUser(*node.database);
    if (NodeType(tree_->currentItem()) == "Users") ShowList(tree_->currentItem());
  } else if (name == "mnuShrinkLogfile" && node.database) {
    console::ShrinkLogFile(ui_, *node.database);
  } else if ((name == "mnuAddCatalog" || name == "mnuRemoveCatalog") && node.database) {
    bool ran = name == "mnuAddCatalog" ? console::CreateFullTextIndex(ui_, *node.database)
                                       : console::RemoveFullTextIndex(ui_, *node.database);
    if (ran) ShowList(item);
  }
}

void MainWindow::RedescribeServer(QTreeWidgetItem* item, console::ServerNodeUse use) {
  Node& node = nodes_[item];
  console::ServerNode described = console::DescribeServerNode(*node.server, use);
  node.typed = described.typed;
  item->setText(0, Text(described.caption));
  item->setData(0, Qt::UserRole, described.icon);
  item->setIcon(0, ConsoleIcon(described.icon));
}

void MainWindow::AddCollectionNode(QTreeWidgetItem* item, collections::Database* database) {
  if (!database) return;
  // Populating lists the new collection already when the node had not been expanded before.
  Populate(item);
  for (console::ListRow& row : console::CollectionsView(*nodes_[item].server).rows) {
    if (row.database != database) continue;
    if (!FindChild(item, row.key)) {
      AddNode(item, Node{"Database", row.key, nodes_[item].server, row.database}, row.text,
              row.icon, true);
    }
  }
  item->setExpanded(true);
  if (tree_->currentItem() == item) ShowList(item);
}

void MainWindow::AddRegistration() {
  const int before = servers_.Count();
  RegistrationDialog dialog(context_, servers_, nullptr, this);
  dialog.exec();
  if (servers_.Count() == before) return;
  std::shared_ptr<servers::Server> server = servers_.Item(servers_.Count());
  QTreeWidgetItem* parent = tree_->currentItem();
  if (NodeType(parent) == "Server") parent = parent->parent();
  if (NodeType(parent) != "DatabaseServers") return;
  Populate(parent);
  // Populating may have listed it already, when the node had not been expanded before.
  console::ServerNode described =
      console::DescribeServerNode(*server, console::ServerNodeUse::kAdded);
  QTreeWidgetItem* item = FindChild(parent, described.key);
  if (!item) {
    item = AddNode(parent, Node{"Server", described.key, server.get(), nullptr, described.typed},
                   described.caption, described.icon, described.has_children);
  }
  parent->setExpanded(true);
  if (tree_->currentItem() == parent) ShowList(parent);
}

void MainWindow::EditRegistration(QTreeWidgetItem* item) {
  servers::Server* server = nodes_[item].server;
  std::shared_ptr<servers::Server> shared;
  for (const auto& each : servers_) {
    if (each.get() == server) shared = each;
  }
  if (!shared) return;
  const std::string before = shared->ConnectionString();
  RegistrationDialog dialog(context_, servers_, shared, this);
  dialog.exec();
  if (shared->ConnectionString() == before) return;
  shared->Connect();
  item->setExpanded(false);
  ClearChildren(item);
  RedescribeServer(item, console::ServerNodeUse::kRebuilt);
  ShowList(item);
}

void MainWindow::RenameNode(QTreeWidgetItem* item, const QString& name) {
  auto found = nodes_.find(item);
  if (found == nodes_.end() || !found->second.database) return;
  if (name == item->text(0)) return;
  TraceAction trace("Rename");
  try {
    if (console::RenameCollection(ui_, *found->second.database, name.toStdString())) {
      item->setText(0, name);
      if (QTreeWidgetItem* parent = item->parent(); parent && tree_->currentItem() == parent) {
        ShowList(parent);
      }
    }
  } catch (const std::exception& error) {
    console::ReportError(ui_, std::string(), error);
  }
}

void MainWindow::DeleteSelected(bool rows) {
  static const char* const kDeletes[] = {"mnuDeleteDatabase", "mnuDetachSQLServer",
                                         "mnuRevokeLogin", "mnuRevokeDBAccess"};
  // With no row selected, Delete in the list does nothing: never the node behind it.
  if (rows && SelectedRowKeys().empty()) return;
  QMenu menu;
  FillMenu(&menu, rows);
  for (QAction* action : menu.actions()) {
    for (const char* name : kDeletes) {
      if (action->objectName() == name && action->isEnabled()) {
        action->trigger();
        return;
      }
    }
  }
}

void MainWindow::OpenSelectedRow() {
  static const char* const kOpens[] = {"mnuLoginProperties", "mnuUserProperties"};
  if (SelectedRowKeys().size() != 1) return;
  QMenu menu;
  FillMenu(&menu, true);
  for (QAction* action : menu.actions()) {
    for (const char* name : kOpens) {
      if (action->objectName() == name && action->isEnabled()) {
        action->trigger();
        return;
      }
    }
  }
}

void MainWindow::RememberColumns() {
  if (current_list_.name.empty() || current_list_.view_mode != console::kViewDetails) return;
  QList<QVariant> widths;
  bool any = false;
  for (int i = 0; i < details_->columnCount(); ++i) {
    const bool user = user_sized_columns_.count(i) > 0;
    widths << (user ? details_->columnWidth(i) : 0);
    any = any || user;
  }
  if (any) {
    column_widths_[Text(current_list_.name)] = widths;
  } else {
    column_widths_.remove(Text(current_list_.name));
  }
}

QString MainWindow::SettingsFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/tessera-server-manager/console.ini";
}

void MainWindow::RestoreSettings() {
  QSettings settings(SettingsFile(), QSettings::IniFormat);
  if (settings.contains("window/geometry")) {
    restoreGeometry(settings.value("window/geometry").toByteArray());
  }
  if (settings.contains("window/splitter")) {
    splitter_->restoreState(settings.value("window/splitter").toByteArray());
  }
  // The docks: whether the SQL trace shows, and where.
  if (settings.contains("window/state")) restoreState(settings.value("window/state").toByteArray());
  column_widths_ = settings.value("window/columns").toMap();
}

void MainWindow::SaveSettings() {
  RememberColumns();
  QSettings settings(SettingsFile(), QSettings::IniFormat);
  settings.setValue("window/geometry", saveGeometry());
  settings.setValue("window/splitter", splitter_->saveState());
  settings.setValue("window/state", saveState());
  settings.setValue("window/columns", column_widths_);
  settings.sync();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  SaveSettings();
  QMainWindow::closeEvent(event);
}

void MainWindow::Refresh() {
  QTreeWidgetItem* item = tree_->currentItem();
  auto found = nodes_.find(item);
  if (found == nodes_.end()) return;
  // A registration still connecting shows its answer when it comes.
  if (IsConnecting(found->second.server)) return;
  TraceAction trace("Refresh");
  if (found->second.type == "Server" && found->second.server) {
    RedescribeServer(item, console::ServerNodeUse::kRebuilt);
  }
  bool expanded = item->isExpanded();
  item->setExpanded(false);
  ClearChildren(item);
  // The nodes below held the catalogue's collections; now the server's list is read again.
  const std::string& type = found->second.type;
  if ((type == "Server" || type == "Databases") && found->second.server) {
    found->second.server->ForgetCatalogue();
  }
  if (expanded) item->setExpanded(true);
  ShowList(item);
}

}  // namespace gui
