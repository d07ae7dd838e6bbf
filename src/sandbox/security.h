// The one place the engine asks whether a session may do something. For now every login that
// is a member of sysadmin may do everything; the rules for other logins (database users, roles,
// GRANT and DENY) come with the security procedures.
#pragma once

#include <string_view>

#include "sandbox/catalog.h"
#include "sandbox/sql_error.h"

namespace sandbox {

class SessionImpl;
struct AttachedDatabase;

// action: "SELECT", "INSERT", "UPDATE", "DELETE", "EXECUTE", "CREATE TABLE", "CREATE VIEW",
// "CREATE PROCEDURE", "ALTER", "DROP", "GRANT", "CREATE DATABASE", ... object may be null for
// statement permissions.
bool Permitted(SessionImpl& session, AttachedDatabase& db, std::string_view action,
               const ObjectInfo* object);
bool HasDatabaseAccess(SessionImpl& session, AttachedDatabase& db);
SqlError PermissionDenied(std::string_view action, std::string_view object,
                          std::string_view database, std::string_view owner);

}  // namespace sandbox
