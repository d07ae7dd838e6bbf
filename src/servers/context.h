// What server registrations need from whoever creates them.
#pragma once

#include <memory>

#include "db/environment.h"
#include "platform/services.h"
#include "servers/catalogue.h"

namespace servers {

struct Context {
  platform::Services services;
  // The drivers and statement observers of every server connection.
  std::shared_ptr<db::Environment> database;
  // Makes the catalogue a server fills on the first read of its collections.
  CatalogueFactory catalogue_factory;
};

}  // namespace servers
