#include "sandbox/security.h"

#include <algorithm>
#include <cstdlib>

#include "sandbox/collation.h"
#include "sandbox/messages.h"
#include "sandbox/session.h"

namespace sandbox {

using common::Value;

namespace {

constexpr int kDbSecurityAdmin = 16386;
constexpr int kDbDdlAdmin = 16387;
constexpr int kDbBackupOperator = 16389;
constexpr int kDbDataReader = 16390;
constexpr int kDbDataWriter = 16391;
constexpr int kDbDenyDataReader = 16392;
constexpr int kDbDenyDataWriter = 16393;

// sysprotects action codes.
struct ActionCode {
  const char* name;
  int code;
};
constexpr ActionCode kActionCodes[] = {
    {"REFERENCES", 26},        {"CREATE FUNCTION", 178}, {"SELECT", 193},
    {"INSERT", 195},           {"DELETE", 196},          {"UPDATE", 197},
    {"CREATE TABLE", 198},     {"CREATE DATABASE", 203}, {"CREATE VIEW", 207},
    {"CREATE PROCEDURE", 222}, {"EXECUTE", 224},         {"BACKUP DATABASE", 228},
    {"CREATE DEFAULT", 233},   {"BACKUP LOG", 235},      {"CREATE RULE", 236},
};
constexpr int kProtectDeny = 206;

int ActionCodeOf(std::string_view action) {
  for (const ActionCode& a : kActionCodes)
    if (action == a.name) return a.code;
  return 0;
}

bool Contains(const std::vector<int>& uids, int uid) {
  return std::find(uids.begin(), uids.end(), uid) != uids.end();
}

// What sysprotects says for the principals: -1 denied, 1 granted, 0 nothing.
int Protection(SessionImpl& session, AttachedDatabase& db, std::int64_t id, int code,
               const std::vector<int>& uids) {
  if (code == 0 || uids.empty()) return 0;
  std::string list;
  for (int uid : uids) list += (list.empty() ? "" : ",") + std::to_string(uid);
  CachedStatement rows(session.connection(),
                       "SELECT min(CASE WHEN protecttype = " + std::to_string(kProtectDeny) +
                           " THEN -1 ELSE 1 END) FROM " +
                           db.catalog->Table(catalog_tables::kPermissions) +
                           " WHERE id = ? AND action = ? AND uid IN (" + list + ")");
  rows.Bind(1, Value(static_cast<long long>(id)));
  rows.Bind(2, Value(code));
  if (!rows.Step() || rows.ColumnIsNull(0)) return 0;
  return static_cast<int>(rows.ColumnInt(0));
}

bool IsDataRead(std::string_view action) { return action == "SELECT"; }
bool IsDataWrite(std::string_view action) {
  return action == "INSERT" || action == "UPDATE" || action == "DELETE";
}
bool IsCreate(std::string_view action) { return action.rfind("CREATE ", 0) == 0; }

std::string ObjectKind(const ObjectInfo& object) {
  switch (object.type) {
    case ObjectType::kView:
      return "view";
    case ObjectType::kProcedure:
      return "procedure";
    case ObjectType::kTable:
    case ObjectType::kCheck:
    case ObjectType::kForeignKey:
    case ObjectType::kScalarFunction:
    case ObjectType::kInlineFunction:
    case ObjectType::kTableFunction:
    case ObjectType::kTrigger:
      return "table";
  }
  std::abort();  // not reached: the switch names every kind and returns
}

}  // namespace

const PrincipalInfo* DatabaseUser(SessionImpl& session, AttachedDatabase& db) {
  const Catalog& catalog = *db.catalog;
  if (session.IsSysadmin()) return catalog.FindPrincipal(kDboUid);
  if (const PrincipalInfo* user = catalog.FindUserBySid(session.login().sid)) return user;
  for (const common::Bytes& sid : session.login().group_sids)
    if (const PrincipalInfo* user = catalog.FindUserBySid(sid)) return user;
  const PrincipalInfo* guest = catalog.FindPrincipal(kGuestUid);
  if (guest && guest->has_access) return guest;
  return nullptr;
}

bool HasDatabaseAccess(SessionImpl& session, AttachedDatabase& db) {
  return DatabaseUser(session, db) != nullptr;
}

std::vector<int> MembershipsOf(SessionImpl& session, AttachedDatabase& db, int uid) {
  std::vector<int> out;
  CachedStatement rows(session.connection(),
                       "WITH RECURSIVE m(uid) AS (SELECT ? UNION SELECT g.group_uid FROM " +
                           db.catalog->Table(catalog_tables::kMembers) +
                           " AS g JOIN m ON g.member_uid = m.uid) SELECT uid FROM m");
  rows.Bind(1, Value(uid));
  while (rows.Step()) out.push_back(static_cast<int>(rows.ColumnInt(0)));
  if (!Contains(out, kPublicUid)) out.push_back(kPublicUid);
  return out;
}

std::vector<int> Memberships(SessionImpl& session, AttachedDatabase& db) {
  const PrincipalInfo* user = DatabaseUser(session, db);
  if (!user) return {};
  std::vector<int> out = MembershipsOf(session, db, user->uid);
  // A Windows account holds what its groups hold in the database as well.
  if (!session.IsSysadmin()) {
    for (const common::Bytes& sid : session.login().group_sids) {
      const PrincipalInfo* group = db.catalog->FindUserBySid(sid);
      if (!group || group->uid == user->uid) continue;
      for (int uid : MembershipsOf(session, db, group->uid))
        if (!Contains(out, uid)) out.push_back(uid);
    }
  }
  return out;
}

bool HoldsRole(SessionImpl& session, AttachedDatabase& db, int role_uid) {
  return Contains(Memberships(session, db), role_uid);
}

bool IsDbOwner(SessionImpl& session, AttachedDatabase& db) {
  if (session.IsSysadmin()) return true;
  const PrincipalInfo* user = DatabaseUser(session, db);
  if (!user) return false;
  return user->uid == kDboUid || HoldsRole(session, db, kDbOwnerUid);
}

bool MayCreateFor(SessionImpl& session, AttachedDatabase& db, const PrincipalInfo& owner) {
  const PrincipalInfo* user = DatabaseUser(session, db);
  if (user && user->uid == owner.uid) return true;
  return IsDbOwner(session, db) || HoldsRole(session, db, kDbDdlAdmin);
}

bool HasServerRole(SessionImpl& session, int bits) {
  return (session.login().server_roles & (kSysadmin | bits)) != 0;
}

bool Permitted(SessionImpl& session, AttachedDatabase& db, std::string_view action,
               const ObjectInfo* object) {
  if (session.IsSysadmin()) return true;
  if (action == "CREATE DATABASE" && HasServerRole(session, kDbcreator)) return true;
  const PrincipalInfo* user = DatabaseUser(session, db);
  if (!user) return false;
  if (user->uid == kDboUid) return true;
  std::vector<int> uids = Memberships(session, db);
  if (Contains(uids, kDbOwnerUid)) return true;
  if (object && object->uid == user->uid) return true;
  if (action == "ALTER" || action == "DROP") return Contains(uids, kDbDdlAdmin);
  if (action == "GRANT") return Contains(uids, kDbSecurityAdmin);
  int code = ActionCodeOf(action);
  if (object) {
    // A DENY wins over every GRANT, the deny roles over the data roles.
    int protection = Protection(session, db, object->id, code, uids);
    if (protection < 0) return false;
    if (IsDataRead(action) && Contains(uids, kDbDenyDataReader)) return false;
    if (IsDataWrite(action) && Contains(uids, kDbDenyDataWriter)) return false;
    if (protection > 0) return true;
    if (IsDataRead(action) && Contains(uids, kDbDataReader)) return true;
    if (IsDataWrite(action) && Contains(uids, kDbDataWriter)) return true;
    return false;
  }
  int protection = Protection(session, db, 0, code, uids);
  if (protection < 0) return false;
  if (protection > 0) return true;
  if (IsCreate(action) && action != "CREATE DATABASE") return Contains(uids, kDbDdlAdmin);
  if (action == "BACKUP DATABASE" || action == "BACKUP LOG")
    return Contains(uids, kDbBackupOperator);
  return false;
}

std::int64_t PermissionBits(SessionImpl& session, AttachedDatabase& db, const ObjectInfo* object) {
  struct Bit {
    const char* action;
    std::int64_t bit;
  };
  static const Bit kStatementBits[] = {{"CREATE DATABASE", 0x1},  {"CREATE TABLE", 0x2},
                                       {"CREATE PROCEDURE", 0x4}, {"CREATE VIEW", 0x8},
                                       {"CREATE RULE", 0x10},     {"CREATE DEFAULT", 0x20},
                                       {"BACKUP DATABASE", 0x40}, {"BACKUP LOG", 0x80}};
  static const Bit kObjectBits[] = {{"SELECT", 0x1 | 0x1000},
                                    {"UPDATE", 0x2 | 0x2000},
                                    {"REFERENCES", 0x4 | 0x4000},
                                    {"INSERT", 0x8},
                                    {"DELETE", 0x10}};
  std::int64_t bits = 0;
  if (!object) {
    for (const Bit& b : kStatementBits) {
      // CREATE DATABASE is a permission of master only.
      if (b.bit == 0x1 && db.dbid != 1) continue;
      if (Permitted(session, db, b.action, nullptr)) bits |= b.bit;
    }
    return bits;
  }
  if (object->type == ObjectType::kProcedure)
    return Permitted(session, db, "EXECUTE", object) ? 0x20 : 0;
  for (const Bit& b : kObjectBits)
    if (Permitted(session, db, b.action, object)) bits |= b.bit;
  return bits;
}

SqlError Refusal(std::string_view action, AttachedDatabase& db, const ObjectInfo* object) {
  if (action == "GRANT") return errors::Raise<4613>();
  if (object) {
    if (action == "DROP") return errors::Raise<3704>(ObjectKind(*object), object->name);
    std::string verb(action);
    if (action == "ALTER") verb = "ALTER " + Upper(ObjectKind(*object));
    return PermissionDenied(verb, object->name, db.catalog->name(),
                            db.catalog->OwnerName(object->uid));
  }
  if (IsCreate(action) || action == "BACKUP DATABASE" || action == "BACKUP LOG") {
    std::string database = action == "CREATE DATABASE" ? "master" : db.catalog->name();
    return errors::Raise<262>(action, database);
  }
  return errors::Raise<15247>();
}

SqlError PermissionDenied(std::string_view action, std::string_view object,
                          std::string_view database, std::string_view owner) {
  return errors::Raise<229>(action, object, database, owner);
}

}  // namespace sandbox
