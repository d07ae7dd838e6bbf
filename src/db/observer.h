// Watching the SQL a program sends: every statement handed to a driver, with the connection that
// sent it, in order. Tests pin statement sequences with StatementLog; a user's trace of an
// action's SQL uses StatementTrace.
#pragma once

#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/value.h"

namespace db {

struct Statement {
  int connection_id = 0;
  std::string data_source;
  std::string catalog;  // the connection's current database when the statement was sent
  std::string text;     // the batch, or the procedure's name for a procedure call
  bool procedure_call = false;
  std::vector<std::pair<std::string, common::Value>> parameters;  // name and value sent
};

class StatementObserver {
 public:
  virtual ~StatementObserver() = default;
  virtual void OnStatement(const Statement& statement) = 0;
};

// Keeps every statement it sees.
class StatementLog : public StatementObserver {
 public:
  void OnStatement(const Statement& statement) override;
  std::vector<Statement> statements() const;
  // The texts in order; with a connection id, only those sent on that connection.
  std::vector<std::string> Texts() const;
  std::vector<std::string> TextsOn(int connection_id) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Statement> statements_;
};

// Writes one line per statement: "[id data source/catalog] text".
class StatementTrace : public StatementObserver {
 public:
  explicit StatementTrace(std::ostream& out) : out_(out) {}
  void OnStatement(const Statement& statement) override;
  // From now on the text, wherever it stands as a quoted literal ('it''s'), is shown as '***':
  // passwords are sent to the server but never printed.
  void Mask(std::string_view secret);

 private:
  std::ostream& out_;
  std::vector<std::string> masked_;  // the literals to hide
};

}  // namespace db
