#include "sandbox/catalog.h"

#include <algorithm>
#include <random>

#include "sandbox/collation.h"

namespace sandbox {

using common::Value;
namespace ct = catalog_tables;

namespace {
// The settings row counting committed changes of the catalogue.
constexpr const char* kChangeCounter = "catalog_changes";
}  // namespace

const ColumnInfo* ObjectInfo::FindColumn(std::string_view column) const {
  for (const ColumnInfo& c : columns)
    if (EqualsNoCase(c.name, column)) return &c;
  return nullptr;
}

const IndexInfo* ObjectInfo::FindIndex(std::string_view index) const {
  for (const IndexInfo& i : indexes)
    if (EqualsNoCase(i.name, index)) return &i;
  return nullptr;
}

const IndexInfo* ObjectInfo::PrimaryKey() const {
  for (const IndexInfo& i : indexes)
    if (i.kind == IndexKind::kPrimaryKey) return &i;
  return nullptr;
}

const ColumnInfo* ObjectInfo::IdentityColumn() const {
  for (const ColumnInfo& c : columns)
    if (c.identity) return &c;
  return nullptr;
}

bool ObjectInfo::IsKeyColumn(std::string_view column) const {
  const IndexInfo* pk = PrimaryKey();
  if (!pk) return false;
  for (const std::string& c : pk->columns)
    if (EqualsNoCase(c, column)) return true;
  return false;
}

namespace {

const char* TypeLetter(ObjectType type) {
  switch (type) {
    case ObjectType::kTable:
      return "U";
    case ObjectType::kView:
      return "V";
    case ObjectType::kProcedure:
      return "P";
    case ObjectType::kCheck:
      return "C";
    case ObjectType::kForeignKey:
      return "F";
    case ObjectType::kScalarFunction:
      return "FN";
    case ObjectType::kInlineFunction:
      return "IF";
    case ObjectType::kTableFunction:
      return "TF";
    case ObjectType::kTrigger:
      return "TR";
  }
  return "U";
}

}  // namespace

// sysobjects.type is char(2): the one-letter codes are blank-padded.
std::string ObjectInfo::TypeCode() const {
  std::string code = TypeLetter(type);
  code.resize(2, ' ');
  return code;
}

namespace {

ObjectType TypeFromLetter(std::string_view letter) {
  if (letter == "V") return ObjectType::kView;
  if (letter == "P") return ObjectType::kProcedure;
  if (letter == "C") return ObjectType::kCheck;
  if (letter == "F") return ObjectType::kForeignKey;
  if (letter == "FN") return ObjectType::kScalarFunction;
  if (letter == "IF") return ObjectType::kInlineFunction;
  if (letter == "TF") return ObjectType::kTableFunction;
  if (letter == "TR") return ObjectType::kTrigger;
  return ObjectType::kTable;
}

const char* KindCode(IndexKind kind) {
  switch (kind) {
    case IndexKind::kPrimaryKey:
      return "PK";
    case IndexKind::kUniqueConstraint:
      return "UQ";
    case IndexKind::kUniqueIndex:
      return "UX";
    case IndexKind::kIndex:
      return "IX";
  }
  return "IX";
}

IndexKind KindFromCode(std::string_view code) {
  if (code == "PK") return IndexKind::kPrimaryKey;
  if (code == "UQ") return IndexKind::kUniqueConstraint;
  if (code == "UX") return IndexKind::kUniqueIndex;
  return IndexKind::kIndex;
}

// Index columns as one text: each name prefixed by "+" or "-" (descending), separated by 0x1F.
std::string JoinIndexColumns(const IndexInfo& index) {
  std::string out;
  for (size_t i = 0; i < index.columns.size(); ++i) {
    if (i) out += '\x1f';
    out += (i < index.descending.size() && index.descending[i]) ? '-' : '+';
    out += index.columns[i];
  }
  return out;
}

void SplitIndexColumns(std::string_view text, IndexInfo& index) {
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t end = text.find('\x1f', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view part = text.substr(start, end - start);
    if (!part.empty()) {
      index.descending.push_back(part[0] == '-');
      index.columns.emplace_back(part.substr(1));
    }
    start = end + 1;
  }
}

std::string Now() {
  common::DateTime d = common::DateTime::Now();
  return DateTimeToStorage(d);
}

struct FixedPrincipal {
  int uid;
  const char* name;
  bool role;
};

constexpr FixedPrincipal kFixedPrincipals[] = {
    {0, "public", true},
    {1, "dbo", false},
    {2, "guest", false},
    {3, "INFORMATION_SCHEMA", false},
    {4, "system_function_schema", false},
    {16384, "db_owner", true},
    {16385, "db_accessadmin", true},
    {16386, "db_securityadmin", true},
    {16387, "db_ddladmin", true},
    {16389, "db_backupoperator", true},
    {16390, "db_datareader", true},
    {16391, "db_datawriter", true},
    {16392, "db_denydatareader", true},
    {16393, "db_denydatawriter", true},
};

}  // namespace

common::Bytes SidForName(std::string_view name) {
  if (EqualsNoCase(name, "sa")) return common::Bytes{1};
  // A stable SID for a Windows account name, so that the same account maps to the same SID in
  // every database; SQL logins get a random one.
  if (name.find('\\') != std::string_view::npos) {
    std::string lower = Lower(name);
    std::uint64_t h1 = 1469598103934665603ULL, h2 = 7809847782465536322ULL;
    for (unsigned char c : lower) {
      h1 = (h1 ^ c) * 1099511628211ULL;
      h2 = (h2 ^ c) * 6364136223846793005ULL + 1;
    }
    common::Bytes sid = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0};
    for (int i = 0; i < 8; ++i) sid.push_back(static_cast<std::uint8_t>(h1 >> (8 * i)));
    for (int i = 0; i < 8; ++i) sid.push_back(static_cast<std::uint8_t>(h2 >> (8 * i)));
    return sid;
  }
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  common::Bytes sid;
  for (int i = 0; i < 2; ++i) {
    std::uint64_t bits = generator();
    for (int k = 0; k < 8; ++k) sid.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
  }
  return sid;
}

std::string Catalog::Table(const char* table) const {
  return QuoteIdentifier(schema_) + "." + QuoteIdentifier(table);
}

void Catalog::Install(Connection& connection, const std::string& schema, const CatalogSeed& seed) {
  std::string s = QuoteIdentifier(schema) + ".";
  auto t = [&](const char* table) { return s + QuoteIdentifier(table); };
  std::string ddl;
  ddl += "CREATE TABLE " + t(ct::kObjects) +
         " (id INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE tsql_ci, uid INTEGER NOT NULL, "
         "type TEXT NOT NULL, parent_obj INTEGER NOT NULL DEFAULT 0, crdate TEXT NOT NULL, "
         "storage_name TEXT, definition TEXT);";
  ddl += "CREATE INDEX " + s + "\"sandbox$objects_name\" ON \"" + ct::kObjects + "\" (name);";
  ddl += "CREATE TABLE " + t(ct::kColumns) +
         " (id INTEGER NOT NULL, colid INTEGER NOT NULL, name TEXT NOT NULL COLLATE tsql_ci, "
         "type_name TEXT NOT NULL, length INTEGER NOT NULL, prec INTEGER NOT NULL, "
         "scale INTEGER NOT NULL, nullable INTEGER NOT NULL, is_identity INTEGER NOT NULL, "
         "ident_seed INTEGER, ident_incr INTEGER, ident_current INTEGER, default_text TEXT, "
         "default_name TEXT, is_output INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (id, colid));";
  ddl += "CREATE TABLE " + t(ct::kIndexes) +
         " (id INTEGER NOT NULL, indid INTEGER NOT NULL, name TEXT NOT NULL COLLATE tsql_ci, "
         "storage_name TEXT NOT NULL, kind TEXT NOT NULL, clustered INTEGER NOT NULL, "
         "columns TEXT NOT NULL, PRIMARY KEY (id, indid));";
  ddl += "CREATE TABLE " + t(ct::kUsers) +
         " (uid INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE tsql_ci, sid BLOB, "
         "is_role INTEGER NOT NULL, is_app_role INTEGER NOT NULL DEFAULT 0, "
         "is_nt_name INTEGER NOT NULL DEFAULT 0, is_nt_group INTEGER NOT NULL DEFAULT 0, "
         "has_access INTEGER NOT NULL DEFAULT 1, createdate TEXT, updatedate TEXT, "
         "password_hash TEXT);";
  ddl += "CREATE TABLE " + t(ct::kMembers) +
         " (member_uid INTEGER NOT NULL, group_uid INTEGER NOT NULL, "
         "PRIMARY KEY (member_uid, group_uid));";
  ddl += "CREATE TABLE " + t(ct::kPermissions) +
         " (id INTEGER NOT NULL, uid INTEGER NOT NULL, action INTEGER NOT NULL, "
         "protecttype INTEGER NOT NULL, grantor INTEGER NOT NULL, "
         "PRIMARY KEY (id, uid, action));";
  ddl += "CREATE TABLE " + t(ct::kFiles) +
         " (fileid INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE tsql_ci, filename TEXT NOT "
         "NULL, is_log INTEGER NOT NULL, size_kb INTEGER NOT NULL, maxsize TEXT, growth TEXT);";
  ddl +=
      "CREATE TABLE " + t(ct::kSettings) + " (name TEXT PRIMARY KEY COLLATE tsql_ci, value TEXT);";
  if (seed.master) {
    ddl += "CREATE TABLE " + t(ct::kDatabases) +
           " (dbid INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE tsql_ci, sid BLOB, "
           "crdate TEXT NOT NULL, filename TEXT NOT NULL, cmptlevel INTEGER NOT NULL, "
           "status INTEGER NOT NULL DEFAULT 0);";
    ddl += "CREATE TABLE " + t(ct::kLogins) +
           " (sid BLOB PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE tsql_ci, "
           "password_hash TEXT, is_nt_name INTEGER NOT NULL, is_nt_group INTEGER NOT NULL, "
           "deny_login INTEGER NOT NULL DEFAULT 0, has_access INTEGER NOT NULL DEFAULT 1, "
           "dbname TEXT NOT NULL, language TEXT NOT NULL, server_roles INTEGER NOT NULL "
           "DEFAULT 0, createdate TEXT NOT NULL, updatedate TEXT NOT NULL);";
  }
  connection.Exec(ddl);

  std::string now = Now();
  {
    Statement insert = connection.Prepare(
        "INSERT INTO " + t(ct::kUsers) +
        " (uid, name, sid, is_role, has_access, createdate, updatedate) VALUES (?,?,?,?,?,?,?)");
    for (const FixedPrincipal& p : kFixedPrincipals) {
      insert.Bind(1, Value(p.uid));
      insert.Bind(2, Value(p.name));
      if (p.uid == kDboUid)
        insert.Bind(3, Value(seed.owner_sid));
      else if (p.role)
        insert.Bind(3, Value());
      else
        insert.Bind(3, Value(common::Bytes{0}));
      insert.Bind(4, Value(p.role ? 1 : 0));
      // guest lets every login into master, tempdb and msdb, as on SQL Server.
      bool guest_access = p.uid == kGuestUid && (EqualsNoCase(seed.database_name, "master") ||
                                                 EqualsNoCase(seed.database_name, "tempdb") ||
                                                 EqualsNoCase(seed.database_name, "msdb"));
      insert.Bind(5, Value(p.uid == kDboUid || guest_access ? 1 : 0));
      insert.Bind(6, Value(now));
      insert.Bind(7, Value(now));
      insert.Step();
      insert.Reset();
    }
    connection.Exec("INSERT INTO " + t(ct::kMembers) + " VALUES (1, 16384)");
  }
  {
    Statement insert = connection.Prepare("INSERT INTO " + t(ct::kFiles) +
                                          " (fileid, name, filename, is_log, size_kb, maxsize, "
                                          "growth) VALUES (?,?,?,?,?,?,?)");
    for (const DatabaseFileInfo& f : seed.files) {
      insert.Bind(1, Value(f.fileid));
      insert.Bind(2, Value(f.name));
      insert.Bind(3, Value(f.filename));
      insert.Bind(4, Value(f.log ? 1 : 0));
      insert.Bind(5, Value(static_cast<long long>(f.size_kb)));
      insert.Bind(6, Value(f.max_size));
      insert.Bind(7, Value(f.growth));
      insert.Step();
      insert.Reset();
    }
  }
  Statement setting = connection.Prepare("INSERT INTO " + t(ct::kSettings) + " VALUES (?, ?)");
  auto put = [&](const char* name, const std::string& value) {
    setting.Bind(1, Value(name));
    setting.Bind(2, Value(value));
    setting.Step();
    setting.Reset();
  };
  put("name", seed.database_name);
  put("collation", seed.collation);
  put("cmptlevel", std::to_string(seed.compatibility_level));
  put("crdate", now);
}

ObjectInfo Catalog::ReadObject(Statement& row) {
  ObjectInfo object;
  object.id = row.ColumnInt(0);
  object.name = row.ColumnText(1);
  object.uid = static_cast<int>(row.ColumnInt(2));
  object.type = TypeFromLetter(row.ColumnText(3));
  object.parent = row.ColumnInt(4);
  object.crdate = row.ColumnText(5);
  object.storage_name = row.ColumnText(6);
  object.definition = row.ColumnText(7);
  return object;
}

void Catalog::ReadDetails(Connection& connection,
                          const std::function<ObjectInfo*(std::int64_t)>& object_of,
                          std::optional<std::int64_t> id) const {
  const std::string where = id ? " WHERE id = ?" : "";
  {
    CachedStatement columns(connection,
                            "SELECT id, colid, name, type_name, length, prec, scale, nullable, "
                            "is_identity, ident_seed, ident_incr, default_text, default_name, "
                            "is_output FROM " +
                                Table(ct::kColumns) + where + " ORDER BY id, colid");
    if (id) columns.Bind(1, Value(static_cast<long long>(*id)));
    while (columns.Step()) {
      ObjectInfo* object = object_of(columns.ColumnInt(0));
      if (!object) continue;
      ColumnInfo c;
      c.colid = static_cast<int>(columns.ColumnInt(1));
      c.name = columns.ColumnText(2);
      c.type = TypeFromName(columns.ColumnText(3)).value_or(SqlType::Int());
      c.type.length = static_cast<int>(columns.ColumnInt(4));
      c.type.precision = static_cast<int>(columns.ColumnInt(5));
      c.type.scale = static_cast<int>(columns.ColumnInt(6));
      c.nullable = columns.ColumnInt(7) != 0;
      c.identity = columns.ColumnInt(8) != 0;
      c.seed = columns.ColumnInt(9);
      c.increment = columns.ColumnInt(10);
      c.default_text = columns.ColumnText(11);
      c.default_name = columns.ColumnText(12);
      c.output = columns.ColumnInt(13) != 0;
      object->columns.push_back(std::move(c));
    }
  }
  CachedStatement indexes(connection,
                          "SELECT id, indid, name, storage_name, kind, clustered, columns FROM " +
                              Table(ct::kIndexes) + where + " ORDER BY id, indid");
  if (id) indexes.Bind(1, Value(static_cast<long long>(*id)));
  while (indexes.Step()) {
    ObjectInfo* object = object_of(indexes.ColumnInt(0));
    if (!object) continue;
    IndexInfo index;
    index.indid = static_cast<int>(indexes.ColumnInt(1));
    index.name = indexes.ColumnText(2);
    index.storage_name = indexes.ColumnText(3);
    index.kind = KindFromCode(indexes.ColumnText(4));
    index.clustered = indexes.ColumnInt(5) != 0;
    SplitIndexColumns(indexes.ColumnText(6), index);
    object->indexes.push_back(std::move(index));
  }
}

void Catalog::Load(Connection& connection) {
  connection_ = &connection;
  objects_.clear();
  by_name_.clear();
  objects_loaded_ = false;
  try {
    // Read before the catalogue, so a change committed meanwhile is found at the next look.
    data_version_ = DataVersion();
    changes_seen_ = Setting(connection, kChangeCounter).value_or("");
    LoadPrincipals(connection);
  } catch (...) {
    data_version_ = -1;  // read again at the next look
    throw;
  }
}

std::int64_t Catalog::DataVersion() const {
  CachedStatement version(*connection_, "PRAGMA " + QuoteIdentifier(schema_) + ".data_version");
  return version.Step() ? version.ColumnInt(0) : -1;
}

bool Catalog::ChangedElsewhere() {
  std::int64_t now = DataVersion();
  if (now == data_version_) return false;
  data_version_ = now;
  return Setting(*connection_, kChangeCounter).value_or("") != changes_seen_;
}

void Catalog::CountChange(Connection& connection) {
  CachedStatement count(connection, "INSERT INTO " + Table(ct::kSettings) +
                                        " (name, value) VALUES (?, '1') ON CONFLICT (name) DO "
                                        "UPDATE SET value = CAST(value AS INTEGER) + 1");
  count.Bind(1, Value(kChangeCounter));
  count.Step();
  // The count is not committed yet: a failed statement takes it back, and another process's
  // next change then brings the file to this same number. Not taken as seen, the next commit
  // of another connection has the catalogue read again.
  changes_seen_.clear();
}

void Catalog::LoadObjects() const {
  if (objects_loaded_) return;
  try {
    Statement rows = connection_->Prepare(
        "SELECT id, name, uid, type, parent_obj, crdate, storage_name, definition FROM " +
        Table(ct::kObjects));
    while (rows.Step()) {
      ObjectInfo object = ReadObject(rows);
      by_name_.emplace(Lower(object.name), object.id);
      objects_.emplace(object.id, std::move(object));
    }
    // Every object's columns and indexes in one pass each, not two queries per object: a
    // collection has hundreds of objects.
    ReadDetails(
        *connection_,
        [&](std::int64_t id) {
          auto it = objects_.find(id);
          return it == objects_.end() ? nullptr : &it->second;
        },
        std::nullopt);
  } catch (...) {
    // A read cut short (a cancelled batch, a busy file) is tried again at the next look-up.
    objects_.clear();
    by_name_.clear();
    throw;
  }
  objects_loaded_ = true;
}

void Catalog::LoadPrincipals(Connection& connection) {
  principals_.clear();
  Statement rows = connection.Prepare(
      "SELECT uid, name, sid, is_role, is_app_role, is_nt_name, is_nt_group, has_access FROM " +
      Table(ct::kUsers) + " ORDER BY uid");
  while (rows.Step()) {
    PrincipalInfo p;
    p.uid = static_cast<int>(rows.ColumnInt(0));
    p.name = rows.ColumnText(1);
    Value sid = rows.Column(2);
    if (auto* bytes = sid.AsBytes()) p.sid = *bytes;
    p.is_role = rows.ColumnInt(3) != 0;
    p.is_app_role = rows.ColumnInt(4) != 0;
    p.is_nt_name = rows.ColumnInt(5) != 0;
    p.is_nt_group = rows.ColumnInt(6) != 0;
    p.has_access = rows.ColumnInt(7) != 0;
    principals_.push_back(std::move(p));
  }
}

void Catalog::ForgetObject(std::int64_t id) {
  // Objects not read yet are read as the file holds them, this change included.
  if (!objects_loaded_) return;
  auto it = objects_.find(id);
  if (it == objects_.end()) return;
  std::string key = Lower(it->second.name);
  for (auto [begin, end] = by_name_.equal_range(key); begin != end; ++begin) {
    if (begin->second == id) {
      by_name_.erase(begin);
      break;
    }
  }
  objects_.erase(it);
}

void Catalog::ReloadObject(Connection& connection, std::int64_t id) {
  if (!objects_loaded_) return;
  ForgetObject(id);
  CachedStatement row(connection,
                      "SELECT id, name, uid, type, parent_obj, crdate, storage_name, definition "
                      "FROM " +
                          Table(ct::kObjects) + " WHERE id = ?");
  row.Bind(1, Value(static_cast<long long>(id)));
  if (!row.Step()) return;
  ObjectInfo object;
  object.id = row.ColumnInt(0);
  object.name = row.ColumnText(1);
  object.uid = static_cast<int>(row.ColumnInt(2));
  object.type = TypeFromLetter(row.ColumnText(3));
  object.parent = row.ColumnInt(4);
  object.crdate = row.ColumnText(5);
  object.storage_name = row.ColumnText(6);
  object.definition = row.ColumnText(7);
  ReadDetails(
      connection, [&](std::int64_t) { return &object; }, object.id);
  by_name_.emplace(Lower(object.name), object.id);
  objects_.emplace(object.id, std::move(object));
}

const ObjectInfo* Catalog::Find(std::string_view name, std::string_view owner, int user_uid) const {
  LoadObjects();
  const ObjectInfo* dbo_match = nullptr;
  const ObjectInfo* own_match = nullptr;
  for (auto [begin, end] = by_name_.equal_range(Lower(name)); begin != end; ++begin) {
    const ObjectInfo& object = objects_.at(begin->second);
    if (!owner.empty()) {
      if (EqualsNoCase(OwnerName(object.uid), owner)) return &object;
      continue;
    }
    if (object.uid == user_uid) own_match = &object;
    if (object.uid == kDboUid) dbo_match = &object;
  }
  return own_match ? own_match : dbo_match;
}

const ObjectInfo* Catalog::FindById(std::int64_t id) const {
  LoadObjects();
  auto it = objects_.find(id);
  return it == objects_.end() ? nullptr : &it->second;
}

std::vector<const ObjectInfo*> Catalog::Objects() const {
  LoadObjects();
  std::vector<const ObjectInfo*> out;
  for (const auto& [id, object] : objects_) out.push_back(&object);
  return out;
}

const PrincipalInfo* Catalog::FindPrincipal(std::string_view name) const {
  for (const PrincipalInfo& p : principals_)
    if (EqualsNoCase(p.name, name)) return &p;
  return nullptr;
}

const PrincipalInfo* Catalog::FindPrincipal(int uid) const {
  for (const PrincipalInfo& p : principals_)
    if (p.uid == uid) return &p;
  return nullptr;
}

const PrincipalInfo* Catalog::FindUserBySid(const common::Bytes& sid) const {
  for (const PrincipalInfo& p : principals_)
    if (!p.is_role && !p.sid.empty() && p.sid == sid) return &p;
  return nullptr;
}

std::string Catalog::OwnerName(int uid) const {
  const PrincipalInfo* p = FindPrincipal(uid);
  return p ? p->name : std::to_string(uid);
}

std::int64_t Catalog::NextObjectId(Connection& connection) {
  CachedStatement max(connection, "SELECT max(id) FROM " + Table(ct::kObjects));
  max.Step();
  std::int64_t highest = max.ColumnIsNull(0) ? 0 : max.ColumnInt(0);
  // User objects get large numbers, as SQL Server's do, so they never meet system ids.
  return std::max<std::int64_t>(highest + 1, 1977058079);
}

void Catalog::InsertObject(Connection& connection, const ObjectInfo& object) {
  {
    CachedStatement insert(connection, "INSERT INTO " + Table(ct::kObjects) +
                                           " (id, name, uid, type, parent_obj, crdate, "
                                           "storage_name, definition) VALUES (?,?,?,?,?,?,?,?)");
    insert.Bind(1, Value(static_cast<long long>(object.id)));
    insert.Bind(2, Value(object.name));
    insert.Bind(3, Value(object.uid));
    insert.Bind(4, Value(std::string(TypeLetter(object.type))));
    insert.Bind(5, Value(static_cast<long long>(object.parent)));
    insert.Bind(6, Value(object.crdate.empty() ? Now() : object.crdate));
    insert.Bind(7, Value(object.storage_name));
    insert.Bind(8, object.definition.empty() ? Value() : Value(object.definition));
    insert.Step();
  }
  RewriteObject(connection, object);
}

void Catalog::RewriteObject(Connection& connection, const ObjectInfo& object) {
  std::optional<std::int64_t> identity_current = IdentityCurrent(connection, object.id);
  Value id(static_cast<long long>(object.id));
  {
    CachedStatement remove(connection, "DELETE FROM " + Table(ct::kColumns) + " WHERE id = ?");
    remove.Bind(1, id);
    remove.Step();
  }
  {
    CachedStatement remove(connection, "DELETE FROM " + Table(ct::kIndexes) + " WHERE id = ?");
    remove.Bind(1, id);
    remove.Step();
  }
  {
    CachedStatement update(connection,
                           "UPDATE " + Table(ct::kObjects) + " SET storage_name = ? WHERE id = ?");
    update.Bind(1, Value(object.storage_name));
    update.Bind(2, id);
    update.Step();
  }
  for (size_t i = 0; i < object.columns.size(); ++i) {
    const ColumnInfo& c = object.columns[i];
    CachedStatement insert(connection,
                           "INSERT INTO " + Table(ct::kColumns) +
                               " (id, colid, name, type_name, length, prec, scale, nullable, "
                               "is_identity, ident_seed, ident_incr, ident_current, default_text, "
                               "default_name, is_output) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(1, id);
    insert.Bind(2, Value(static_cast<int>(i + 1)));
    insert.Bind(3, Value(c.name));
    insert.Bind(4, Value(c.type.Name()));
    insert.Bind(5, Value(c.type.length));
    insert.Bind(6, Value(c.type.precision));
    insert.Bind(7, Value(c.type.scale));
    insert.Bind(8, Value(c.nullable ? 1 : 0));
    insert.Bind(9, Value(c.identity ? 1 : 0));
    insert.Bind(10, c.identity ? Value(static_cast<long long>(c.seed)) : Value());
    insert.Bind(11, c.identity ? Value(static_cast<long long>(c.increment)) : Value());
    insert.Bind(12, c.identity && identity_current
                        ? Value(static_cast<long long>(*identity_current))
                        : Value());
    insert.Bind(13, c.default_text.empty() ? Value() : Value(c.default_text));
    insert.Bind(14, c.default_name.empty() ? Value() : Value(c.default_name));
    insert.Bind(15, Value(c.output ? 1 : 0));
    insert.Step();
  }
  for (const IndexInfo& index : object.indexes) InsertIndex(connection, object.id, index);
}

void Catalog::InsertIndex(Connection& connection, std::int64_t id, const IndexInfo& index) {
  CachedStatement insert(connection, "INSERT INTO " + Table(ct::kIndexes) +
                                         " (id, indid, name, storage_name, kind, clustered, "
                                         "columns) VALUES (?,?,?,?,?,?,?)");
  insert.Bind(1, Value(static_cast<long long>(id)));
  insert.Bind(2, Value(index.indid));
  insert.Bind(3, Value(index.name));
  insert.Bind(4, Value(index.storage_name));
  insert.Bind(5, Value(KindCode(index.kind)));
  insert.Bind(6, Value(index.clustered ? 1 : 0));
  insert.Bind(7, Value(JoinIndexColumns(index)));
  insert.Step();
}

void Catalog::DeleteIndex(Connection& connection, std::int64_t id, int indid) {
  CachedStatement remove(connection,
                         "DELETE FROM " + Table(ct::kIndexes) + " WHERE id = ? AND indid = ?");
  remove.Bind(1, Value(static_cast<long long>(id)));
  remove.Bind(2, Value(indid));
  remove.Step();
}

void Catalog::DeleteObject(Connection& connection, std::int64_t id, Permissions permissions) {
  Value key(static_cast<long long>(id));
  for (const char* table : {ct::kColumns, ct::kIndexes, ct::kObjects}) {
    CachedStatement remove(connection, "DELETE FROM " + Table(table) + " WHERE id = ?");
    remove.Bind(1, key);
    remove.Step();
  }
  if (permissions == Permissions::kDelete) {
    CachedStatement remove(connection, "DELETE FROM " + Table(ct::kPermissions) + " WHERE id = ?");
    remove.Bind(1, key);
    remove.Step();
  }
  {
    // Constraints (checks, foreign keys) go with their table.
    CachedStatement remove(connection,
                           "DELETE FROM " + Table(ct::kObjects) + " WHERE parent_obj = ?");
    remove.Bind(1, key);
    remove.Step();
  }
  std::vector<std::int64_t> children;
  if (!objects_loaded_) return;
  for (const auto& [child_id, object] : objects_)
    if (object.parent == id) children.push_back(child_id);
  for (std::int64_t child : children) ForgetObject(child);
  ForgetObject(id);
}

std::optional<std::string> Catalog::Setting(Connection& connection, std::string_view name) const {
  CachedStatement read(connection, "SELECT value FROM " + Table(ct::kSettings) + " WHERE name = ?");
  read.Bind(1, Value(name));
  if (!read.Step()) return std::nullopt;
  return read.ColumnText(0);
}

void Catalog::SetSetting(Connection& connection, std::string_view name,
                         std::string_view value) const {
  CachedStatement write(connection,
                        "INSERT OR REPLACE INTO " + Table(ct::kSettings) + " VALUES (?, ?)");
  write.Bind(1, Value(name));
  write.Bind(2, Value(value));
  write.Step();
}

std::optional<std::int64_t> Catalog::IdentityCurrent(Connection& connection,
                                                     std::int64_t id) const {
  CachedStatement read(connection, "SELECT ident_current FROM " + Table(ct::kColumns) +
                                       " WHERE id = ? AND is_identity = 1");
  read.Bind(1, Value(static_cast<long long>(id)));
  if (!read.Step() || read.ColumnIsNull(0)) return std::nullopt;
  return read.ColumnInt(0);
}

void Catalog::SetIdentityCurrent(Connection& connection, std::int64_t id,
                                 std::int64_t value) const {
  CachedStatement write(connection, "UPDATE " + Table(ct::kColumns) +
                                        " SET ident_current = ? WHERE id = ? AND is_identity = 1");
  write.Bind(1, Value(static_cast<long long>(value)));
  write.Bind(2, Value(static_cast<long long>(id)));
  write.Step();
}

}  // namespace sandbox
