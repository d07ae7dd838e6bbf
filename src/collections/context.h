// What the collection catalogue and its collections need from whoever creates them.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/value.h"
#include "db/environment.h"
#include "platform/services.h"

namespace collections {

struct Context {
  platform::Services services;
  // The drivers and statement observers of every collection connection.
  std::shared_ptr<db::Environment> database;
  // The GUID a new collection is stamped with, in registry text form; common::NewGuidString
  // when empty.
  std::function<std::string()> new_guid;
  // The administrator's local date and time; common::DateTime::Now when empty.
  std::function<common::DateTime()> now;

  std::string NewGuid() const;
  common::DateTime Now() const;
};

}  // namespace collections
