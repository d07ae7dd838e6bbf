#include "gui/sql_trace.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <atomic>

#include "db/sql_text.h"

namespace gui {

namespace {

// The statements kept; older actions go first, so a long session does not grow without end.
constexpr int kMaxActions = 500;

struct CurrentAction {
  int id = 0;
  std::string label;
};
thread_local CurrentAction current_action;
std::atomic<int> last_action_id{0};

QString Text(const std::string& text) { return QString::fromStdString(text); }

// Passwords are sent but never shown: the password literal of sp_addlogin and the @old and @new
// ones of sp_password, and password parameters of procedure calls.
QString MaskPasswords(QString text) {
  static const QRegularExpression kAddLogin(
      R"((sp_addlogin\s+N?'(?:[^']|'')*'\s*,\s*)N?'(?:[^']|'')*')",
      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression kPasswordArgument(
      R"((@(?:old|new|passwd|password)\s*=\s*)N?'(?:[^']|'')*')",
      QRegularExpression::CaseInsensitiveOption);
  text.replace(kAddLogin, "\\1'***'");
  text.replace(kPasswordArgument, "\\1'***'");
  return text;
}

bool IsPasswordParameter(const std::string& name) {
  QString lower = QString::fromStdString(name).toLower();
  return lower == "@old" || lower == "@new" || lower.contains("passw");
}

QString ConnectionText(const db::Statement& statement) {
  QString text = QString("#%1 %2").arg(statement.connection_id).arg(Text(statement.data_source));
  if (!statement.catalog.empty()) text += "/" + Text(statement.catalog);
  return text;
}

}  // namespace

TraceAction::TraceAction(std::string label) : outermost_(current_action.id == 0) {
  if (outermost_) current_action = {++last_action_id, std::move(label)};
}

TraceAction::~TraceAction() {
  if (outermost_) current_action = {};
}

void SqlTraceObserver::OnStatement(const db::Statement& statement) {
  // Read here, on the thread that sent the statement.
  int id = current_action.id;
  QString label = current_action.id == 0 ? QString("Other") : Text(current_action.label);
  std::lock_guard lock(mutex_);
  if (!dock_) return;
  SqlTraceDock* dock = dock_;
  QMetaObject::invokeMethod(
      dock, [dock, id, label, statement] { dock->Add(id, label, statement); },
      Qt::QueuedConnection);
}

void SqlTraceObserver::Detach() {
  std::lock_guard lock(mutex_);
  dock_ = nullptr;
}

SqlTraceDock::SqlTraceDock(QWidget* parent) : QDockWidget("SQL", parent) {
  setObjectName("sqlTraceDock");
  list_ = new QTreeWidget;
  list_->setObjectName("sqlTrace");
  list_->setAccessibleName("SQL statements sent");
  list_->setColumnCount(2);
  list_->setHeaderLabels({"Statement", "Connection"});
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setUniformRowHeights(true);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);

  auto* copy = new QPushButton("&Copy");
  copy->setObjectName("sqlCopy");
  copy->setAccessibleName("Copy the selected statements");
  connect(copy, &QPushButton::clicked, this, &SqlTraceDock::Copy);
  auto* clear = new QPushButton("C&lear");
  clear->setObjectName("sqlClear");
  clear->setAccessibleName("Clear the statement list");
  connect(clear, &QPushButton::clicked, this, &SqlTraceDock::Clear);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(copy);
  buttons->addWidget(clear);
  auto* body = new QWidget;
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(list_);
  layout->addLayout(buttons);
  setWidget(body);
  observer_ = std::make_shared<SqlTraceObserver>(this);
}

SqlTraceDock::~SqlTraceDock() {
  observer_->Detach();
  if (environment_) environment_->RemoveObserver(observer_);
}

void SqlTraceDock::Watch(db::Environment& environment) {
  environment_ = &environment;
  environment.AddObserver(observer_);
}

QString SqlTraceDock::StatementText(const db::Statement& statement) {
  if (!statement.procedure_call) return MaskPasswords(Text(statement.text));
  std::string text = "EXEC " + statement.text;
  for (size_t i = 0; i < statement.parameters.size(); ++i) {
    const auto& [name, value] = statement.parameters[i];
    text += (i == 0 ? " " : ", ") + name + " = " +
            (IsPasswordParameter(name) && !value.IsNull() ? std::string("'***'")
                                                          : db::SqlLiteral(value, true));
  }
  return Text(text);
}

void SqlTraceDock::Add(int action_id, const QString& action, const db::Statement& statement) {
  if (!last_action_ || action_id != last_action_id_) {
    while (list_->topLevelItemCount() >= kMaxActions) delete list_->takeTopLevelItem(0);
    last_action_ = new QTreeWidgetItem(list_, {action});
    last_action_->setFirstColumnSpanned(true);
    QFont bold = last_action_->font(0);
    bold.setBold(true);
    last_action_->setFont(0, bold);
    last_action_->setExpanded(true);
    last_action_id_ = action_id;
  }
  QString text = StatementText(statement);
  auto* item = new QTreeWidgetItem(last_action_, {text.simplified(), ConnectionText(statement)});
  item->setData(0, Qt::UserRole, text);
  item->setToolTip(0, text);
  if (isVisible()) list_->scrollToItem(item);
}

void SqlTraceDock::Copy() { QApplication::clipboard()->setText(SelectedScript()); }

QString SqlTraceDock::SelectedScript() const {
  QList<QTreeWidgetItem*> chosen;
  auto take = [&](QTreeWidgetItem* item) {
    if (!chosen.contains(item)) chosen << item;
  };
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* action = list_->topLevelItem(i);
    for (int j = 0; j < action->childCount(); ++j) {
      QTreeWidgetItem* statement = action->child(j);
      if (statement->isSelected() || action->isSelected()) take(statement);
    }
  }
  if (chosen.isEmpty()) {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
      for (int j = 0; j < list_->topLevelItem(i)->childCount(); ++j) {
        take(list_->topLevelItem(i)->child(j));
      }
    }
  }
  QString script;
  for (QTreeWidgetItem* statement : chosen) {
    script +=
        "-- " + statement->text(1) + "\n" + statement->data(0, Qt::UserRole).toString() + "\nGO\n";
  }
  return script;
}

void SqlTraceDock::Clear() {
  list_->clear();
  last_action_ = nullptr;
  last_action_id_ = 0;
}

}  // namespace gui
