#include "db/observer.h"

#include "db/sql_text.h"

namespace db {

void StatementLog::OnStatement(const Statement& statement) {
  std::lock_guard lock(mutex_);
  statements_.push_back(statement);
}

std::vector<Statement> StatementLog::statements() const {
  std::lock_guard lock(mutex_);
  return statements_;
}

std::vector<std::string> StatementLog::Texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const Statement& s : statements_) texts.push_back(s.text);
  return texts;
}

std::vector<std::string> StatementLog::TextsOn(int connection_id) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const Statement& s : statements_) {
    if (s.connection_id == connection_id) texts.push_back(s.text);
  }
  return texts;
}

void StatementLog::Clear() {
  std::lock_guard lock(mutex_);
  statements_.clear();
}

void StatementTrace::Mask(std::string_view secret) {
  if (secret.empty()) return;
  masked_.push_back(SqlLiteral(common::Value(std::string(secret))));
}

void StatementTrace::OnStatement(const Statement& statement) {
  std::string text = statement.text;
  for (const std::string& literal : masked_) {
    for (size_t at = text.find(literal); at != std::string::npos; at = text.find(literal, at + 5)) {
      text.replace(at, literal.size(), "'***'");
    }
  }
  out_ << "[" << statement.connection_id << " " << statement.data_source << "/" << statement.catalog
       << "] " << (statement.procedure_call ? "{call} " : "") << text;
  for (size_t i = 0; i < statement.parameters.size(); ++i) {
    out_ << (i == 0 ? " (" : ", ") << statement.parameters[i].first << "="
         << statement.parameters[i].second.ToText();
    if (i + 1 == statement.parameters.size()) out_ << ")";
  }
  out_ << "\n";
}

}  // namespace db
