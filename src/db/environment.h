// What every connection of a program shares: the drivers it may use, the statement observers,
// and the numbering of connections. Whoever creates connections receives one and passes it on.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "db/driver.h"
#include "db/observer.h"

namespace db {

class Environment {
 public:
  explicit Environment(DriverRegistry drivers) : drivers_(std::move(drivers)) {}
  static std::shared_ptr<Environment> Create(DriverRegistry drivers) {
    return std::make_shared<Environment>(std::move(drivers));
  }

  const DriverRegistry& drivers() const { return drivers_; }
  DriverRegistry& drivers() { return drivers_; }

  void AddObserver(std::shared_ptr<StatementObserver> observer);
  void RemoveObserver(const std::shared_ptr<StatementObserver>& observer);
  void Notify(const Statement& statement) const;

  // Connection ids start at 1 and are never reused within an environment.
  int NextConnectionId() { return ++last_connection_id_; }

 private:
  DriverRegistry drivers_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<StatementObserver>> observers_;
  std::atomic<int> last_connection_id_{0};
};

}  // namespace db
