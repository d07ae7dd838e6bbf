// The "SQL" dock: per action of the window, the statements it sent and the connection that sent
// each, as the statement observer of the connections reports them, with Copy so the
// administrator can reuse them in another tool.
#pragma once

#include <QDockWidget>
#include <QString>
#include <QTreeWidget>
#include <memory>
#include <mutex>
#include <string>

#include "db/environment.h"
#include "db/observer.h"

namespace gui {

class SqlTraceDock;

// Names the action the statements of this thread belong to while it lives. Only the outermost
// one on a thread counts: a list shown as part of a command belongs to that command.
class TraceAction {
 public:
  explicit TraceAction(std::string label);
  ~TraceAction();
  TraceAction(const TraceAction&) = delete;
  TraceAction& operator=(const TraceAction&) = delete;

 private:
  bool outermost_;
};

// Hands every statement, from whichever thread sent it, to the dock on the window's thread.
class SqlTraceObserver : public db::StatementObserver {
 public:
  explicit SqlTraceObserver(SqlTraceDock* dock) : dock_(dock) {}
  void OnStatement(const db::Statement& statement) override;
  // The dock is going: statements still arriving are dropped.
  void Detach();

 private:
  std::mutex mutex_;
  SqlTraceDock* dock_;
};

class SqlTraceDock : public QDockWidget {
  Q_OBJECT

 public:
  explicit SqlTraceDock(QWidget* parent = nullptr);
  ~SqlTraceDock() override;

  // Watches every connection of the environment until the dock goes.
  void Watch(db::Environment& environment);
  QTreeWidget* list() const { return list_; }

  // What Copy puts on the clipboard.
  QString SelectedScript() const;

  // The statement as it could be sent again: a procedure call as EXEC with its parameters.
  // Passwords show as '***'.
  static QString StatementText(const db::Statement& statement);

 public slots:
  // Copies the selected statements (all of an action when the action is selected) as a script,
  // each preceded by a comment naming its connection; everything when nothing is selected.
  void Copy();
  void Clear();

 private:
  friend class SqlTraceObserver;
  void Add(int action_id, const QString& action, const db::Statement& statement);

  QTreeWidget* list_ = nullptr;
  std::shared_ptr<SqlTraceObserver> observer_;
  db::Environment* environment_ = nullptr;
  QTreeWidgetItem* last_action_ = nullptr;
  int last_action_id_ = 0;
};

}  // namespace gui
