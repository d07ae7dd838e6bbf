// The one place the engine asks whether a session may do something, by SQL Server 2000's
// rules: sysadmin may do everything; in a database the owner (dbo) and db_owner may too; the
// fixed database roles give their rights; other rights come from GRANT and DENY to the user,
// its roles and public, a DENY winning over a GRANT.
#pragma once

#include <string_view>
#include <vector>

#include "sandbox/catalog.h"
#include "sandbox/sql_error.h"

namespace sandbox {

class SessionImpl;
struct AttachedDatabase;

// action: "SELECT", "INSERT", "UPDATE", "DELETE", "EXECUTE", "REFERENCES" on an object;
// "ALTER", "DROP", "GRANT" on an object or (object null) on the database; statement
// permissions "CREATE TABLE", "CREATE VIEW", "CREATE PROCEDURE", "CREATE DEFAULT",
// "CREATE RULE", "CREATE FUNCTION", "BACKUP DATABASE", "BACKUP LOG", "CREATE DATABASE".
bool Permitted(SessionImpl& session, AttachedDatabase& db, std::string_view action,
               const ObjectInfo* object);
// The error SQL Server gives when Permitted says no.
SqlError Refusal(std::string_view action, AttachedDatabase& db, const ObjectInfo* object);

// The principal the session acts as in a database: dbo for sysadmins and the owner, the user
// of the login's SID or of one of its Windows groups, guest where guest has access; nullptr
// when the login has no access to the database.
const PrincipalInfo* DatabaseUser(SessionImpl& session, AttachedDatabase& db);
bool HasDatabaseAccess(SessionImpl& session, AttachedDatabase& db);
// The uids the session holds in a database: its users and every role they belong to, directly
// or through other roles, public included. Empty without access.
std::vector<int> Memberships(SessionImpl& session, AttachedDatabase& db);
// The uids a principal holds: itself, its roles (transitively) and public.
std::vector<int> MembershipsOf(SessionImpl& session, AttachedDatabase& db, int uid);
bool HoldsRole(SessionImpl& session, AttachedDatabase& db, int role_uid);
// sysadmin, the database's owner, or a member of db_owner.
bool IsDbOwner(SessionImpl& session, AttachedDatabase& db);
// Whether the session may create an object owned by owner: its own user always; another one
// as dbo, db_owner or db_ddladmin.
bool MayCreateFor(SessionImpl& session, AttachedDatabase& db, const PrincipalInfo& owner);
// A member of sysadmin, or of one of the server roles in bits.
bool HasServerRole(SessionImpl& session, int bits);

// PERMISSIONS(): the session's statement permissions as bits (object null) or its permissions
// on an object, as SQL Server 2000 reports them.
std::int64_t PermissionBits(SessionImpl& session, AttachedDatabase& db, const ObjectInfo* object);

SqlError PermissionDenied(std::string_view action, std::string_view object,
                          std::string_view database, std::string_view owner);

}  // namespace sandbox
