// The catalogue a database keeps about itself, in tables of its own SQLite file (so a detached
// file carries its tables, views, procedures, users, roles and permissions with it), and the
// in-memory copy a session reads names from.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "sandbox/sqlite.h"
#include "sandbox/types.h"

namespace sandbox {

struct ColumnInfo {
  int colid = 0;
  std::string name;
  SqlType type;
  bool nullable = true;
  bool identity = false;
  std::int64_t seed = 1;
  std::int64_t increment = 1;
  std::string default_text;  // the default as T-SQL text, empty for none
  std::string default_name;  // the default's constraint name
  bool output = false;       // procedure parameters: OUTPUT
};

enum class IndexKind { kPrimaryKey, kUniqueConstraint, kUniqueIndex, kIndex };

struct IndexInfo {
  int indid = 0;
  std::string name;
  std::string storage_name;  // the SQLite index
  IndexKind kind = IndexKind::kIndex;
  bool clustered = false;
  std::vector<std::string> columns;
  std::vector<bool> descending;
  bool unique() const { return kind != IndexKind::kIndex; }
};

enum class ObjectType {
  kTable,
  kView,
  kProcedure,
  kCheck,
  kForeignKey,
  kScalarFunction,  // FN
  kInlineFunction,  // IF
  kTableFunction,   // TF
  kTrigger,         // TR; parent is its table or view
};

inline bool IsFunction(ObjectType type) {
  return type == ObjectType::kScalarFunction || type == ObjectType::kInlineFunction ||
         type == ObjectType::kTableFunction;
}

struct ObjectInfo {
  std::int64_t id = 0;
  std::string name;
  int uid = 1;  // owner
  ObjectType type = ObjectType::kTable;
  std::int64_t parent = 0;
  std::string crdate;  // storage-form datetime
  std::string storage_name;
  std::string definition;           // creation text of views and procedures, condition of checks
  std::vector<ColumnInfo> columns;  // table and view columns; procedure parameters
  std::vector<IndexInfo> indexes;

  const ColumnInfo* FindColumn(std::string_view name) const;
  const IndexInfo* FindIndex(std::string_view name) const;
  const IndexInfo* PrimaryKey() const;
  const ColumnInfo* IdentityColumn() const;
  bool IsKeyColumn(std::string_view column) const;
  // SQL Server's type code in sysobjects: "U ", "V ", "P ", "C ", "F ".
  std::string TypeCode() const;
};

struct PrincipalInfo {
  int uid = 0;
  std::string name;
  common::Bytes sid;
  bool is_role = false;
  bool is_app_role = false;
  bool is_nt_name = false;
  bool is_nt_group = false;
  bool has_access = true;
};

// The fixed users and roles of every database, with SQL Server's numbers.
constexpr int kPublicUid = 0;
constexpr int kDboUid = 1;
constexpr int kGuestUid = 2;
constexpr int kDbOwnerUid = 16384;
constexpr int kFirstUserUid = 5;
constexpr int kFirstRoleUid = 16400;

// The names of the catalogue tables inside a database file.
namespace catalog_tables {
inline constexpr const char* kObjects = "sandbox$objects";
inline constexpr const char* kColumns = "sandbox$columns";
inline constexpr const char* kIndexes = "sandbox$indexes";
inline constexpr const char* kUsers = "sandbox$users";
inline constexpr const char* kMembers = "sandbox$members";
inline constexpr const char* kPermissions = "sandbox$permissions";
inline constexpr const char* kFiles = "sandbox$files";
inline constexpr const char* kSettings = "sandbox$settings";
inline constexpr const char* kDatabases = "sandbox$databases";  // master only
inline constexpr const char* kLogins = "sandbox$logins";        // master only
}  // namespace catalog_tables

struct DatabaseFileInfo {
  int fileid = 1;
  std::string name;      // logical name
  std::string filename;  // machine path
  bool log = false;
  std::int64_t size_kb = 0;  // size declared at creation
  std::string max_size = "UNLIMITED";
  std::string growth = "10%";
};

// What a new database's catalogue starts with.
struct CatalogSeed {
  std::string database_name;
  common::Bytes owner_sid;
  std::string collation;
  int compatibility_level = 80;
  std::vector<DatabaseFileInfo> files;
  bool master = false;
};

class Catalog {
 public:
  Catalog(int dbid, std::string name, std::string schema)
      : dbid_(dbid), name_(std::move(name)), schema_(std::move(schema)) {}

  // Creates the catalogue tables in the database attached as schema, with the fixed users
  // and roles and the files.
  static void Install(Connection& connection, const std::string& schema, const CatalogSeed& seed);

  // Reads the principals now and the objects when first asked for: a session that never names
  // an object of a database does not pay for reading hundreds of them. The connection must
  // outlive the catalogue.
  void Load(Connection& connection);
  // Whether a change of the catalogue was committed through another connection (another
  // session, another process) since Load: a change counter kept in the file, read only when the
  // file has changed at all.
  bool ChangedElsewhere();
  // Counts a change of the catalogue, inside the transaction that makes it.
  void CountChange(Connection& connection);
  void ReloadObject(Connection& connection, std::int64_t id);
  void ForgetObject(std::int64_t id);
  void LoadPrincipals(Connection& connection);

  int dbid() const { return dbid_; }
  const std::string& name() const { return name_; }
  // The SQLite schema the database is attached as in the session's connection.
  const std::string& schema() const { return schema_; }
  // "schema"."table" of a catalogue table.
  std::string Table(const char* table) const;

  // Objects by name; with an empty owner the owner is dbo (or, for a user other than dbo, the
  // user's own object first).
  const ObjectInfo* Find(std::string_view name, std::string_view owner = {},
                         int user_uid = kDboUid) const;
  const ObjectInfo* FindById(std::int64_t id) const;
  std::vector<const ObjectInfo*> Objects() const;

  const PrincipalInfo* FindPrincipal(std::string_view name) const;
  const PrincipalInfo* FindPrincipal(int uid) const;
  const PrincipalInfo* FindUserBySid(const common::Bytes& sid) const;
  const std::vector<PrincipalInfo>& principals() const { return principals_; }
  std::string OwnerName(int uid) const;

  // Catalogue writes, inside the caller's transaction. The in-memory copy follows.
  std::int64_t NextObjectId(Connection& connection);
  void InsertObject(Connection& connection, const ObjectInfo& object);
  // ALTER keeps the object's permissions, as SQL Server does; DROP takes them along.
  enum class Permissions { kDelete, kKeep };
  void DeleteObject(Connection& connection, std::int64_t id,
                    Permissions permissions = Permissions::kDelete);
  // Replaces the columns and indexes of an object (after ALTER TABLE).
  void RewriteObject(Connection& connection, const ObjectInfo& object);
  void InsertIndex(Connection& connection, std::int64_t id, const IndexInfo& index);
  void DeleteIndex(Connection& connection, std::int64_t id, int indid);

  std::optional<std::string> Setting(Connection& connection, std::string_view name) const;
  void SetSetting(Connection& connection, std::string_view name, std::string_view value) const;

  // The current identity value of a table's identity column, and its update.
  std::optional<std::int64_t> IdentityCurrent(Connection& connection, std::int64_t id) const;
  void SetIdentityCurrent(Connection& connection, std::int64_t id, std::int64_t value) const;

 private:
  // An object of a row of the objects table, without its columns and indexes.
  static ObjectInfo ReadObject(Statement& row);
  // The columns and indexes of one object (id), or of every object (nullopt), each given to
  // the object object_of names (nullptr: an object not loaded).
  void ReadDetails(Connection& connection,
                   const std::function<ObjectInfo*(std::int64_t)>& object_of,
                   std::optional<std::int64_t> id) const;
  std::int64_t DataVersion() const;
  // Reads every object with its columns and indexes, once after each Load.
  void LoadObjects() const;

  int dbid_;
  std::string name_;
  std::string schema_;
  // The objects are read on first use (LoadObjects), from lookups that are otherwise const.
  Connection* connection_ = nullptr;
  std::int64_t data_version_ = -1;  // SQLite's data_version of the file at the last look
  std::string changes_seen_;        // the change counter as loaded
  mutable bool objects_loaded_ = false;
  mutable std::map<std::int64_t, ObjectInfo> objects_;
  mutable std::multimap<std::string, std::int64_t> by_name_;  // lower-case name
  std::vector<PrincipalInfo> principals_;
};

// The SID SQL Server gives a login: Windows logins get one made from the name, SQL logins a
// new random one; sa is 0x01.
common::Bytes SidForName(std::string_view name);

}  // namespace sandbox
