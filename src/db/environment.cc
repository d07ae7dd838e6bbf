#include "db/environment.h"

#include <algorithm>

namespace db {

void Environment::AddObserver(std::shared_ptr<StatementObserver> observer) {
  std::lock_guard lock(mutex_);
  observers_.push_back(std::move(observer));
}

void Environment::RemoveObserver(const std::shared_ptr<StatementObserver>& observer) {
  std::lock_guard lock(mutex_);
  std::erase(observers_, observer);
}

void Environment::Notify(const Statement& statement) const {
  std::vector<std::shared_ptr<StatementObserver>> observers;
  {
    std::lock_guard lock(mutex_);
    observers = observers_;
  }
  for (const auto& observer : observers) observer->OnStatement(statement);
}

}  // namespace db
