#include "sandbox/security.h"

#include "sandbox/session.h"

namespace sandbox {

bool Permitted(SessionImpl& session, AttachedDatabase& db, std::string_view action,
               const ObjectInfo* object) {
  (void)db;
  (void)action;
  (void)object;
  if (session.IsSysadmin()) return true;
  // Logins outside sysadmin need the database rules, which the security layer adds; until
  // then they are refused rather than let through.
  return false;
}

bool HasDatabaseAccess(SessionImpl& session, AttachedDatabase& db) {
  if (session.IsSysadmin()) return true;
  return db.catalog->FindUserBySid(session.login().sid) != nullptr;
}

SqlError PermissionDenied(std::string_view action, std::string_view object,
                          std::string_view database, std::string_view owner) {
  std::string text(action);
  text += " permission denied on object '";
  text += object;
  text += "', database '";
  text += database;
  text += "', owner '";
  text += owner;
  text += "'.";
  return SqlError(229, 14, std::move(text));
}

}  // namespace sandbox
