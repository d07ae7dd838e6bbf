// The steps CREATE and ALTER of procedures and functions share once the owner is known.
#pragma once

#include <string>

#include "sandbox/catalog.h"
#include "sandbox/session.h"

namespace sandbox {

// CREATE refuses an existing object (2714), ALTER needs one of the same kind (208). The object
// comes back with the id ALTER keeps (0 for a new one), for the caller to describe.
ObjectInfo NewRoutine(AttachedDatabase& db, const PrincipalInfo& owner, const std::string& name,
                      bool alter, ObjectType type, const std::string& definition);
// Writes the described object, in place of the one ALTER replaces (its permissions kept).
void RegisterRoutine(SessionImpl& session, AttachedDatabase& db, ObjectInfo info);

}  // namespace sandbox
