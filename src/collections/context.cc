#include "collections/context.h"

#include "common/system.h"

namespace collections {

std::string Context::NewGuid() const { return new_guid ? new_guid() : common::NewGuidString(); }

common::DateTime Context::Now() const { return now ? now() : common::DateTime::Now(); }

}  // namespace collections
