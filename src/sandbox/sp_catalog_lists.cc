// The catalogue lists of ODBC's catalogue functions that administrators type as well:
// sp_tables, sp_columns, sp_databases and sp_stored_procedures, with the columns and orders
// SQL Server documents for them.
#include <algorithm>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"
#include "sandbox/security.h"
#include "sandbox/session.h"
#include "sandbox/system_procedures.h"
#include "sandbox/system_tables.h"
#include "sandbox/versions.h"

namespace sandbox {

using common::Value;

namespace {

Value Maybe(std::optional<long long> v) { return v ? Value(*v) : Value(); }

// A name filter of the catalogue procedures: a LIKE pattern, or everything when not given.
bool Matches(const SystemArguments& args, std::string_view parameter, std::string_view name) {
  if (!args.Given(parameter) || args.Get(parameter).IsNull()) return true;
  return LikeMatch(args.Text(parameter), name);
}

// The qualifier, when given, must be the current database (15250).
void CheckQualifier(const SystemArguments& args, std::string_view parameter, AttachedDatabase& db) {
  if (args.Given(parameter) && !args.Get(parameter).IsNull() &&
      !EqualsNoCase(args.Text(parameter), db.catalog->name()))
    throw errors::Raise<15250>();
}

// --- sp_tables ---------------------------------------------------------------------------

// @table_type is a list of quoted types: "'TABLE','VIEW'".
bool TypeWanted(const SystemArguments& args, std::string_view type) {
  if (!args.Given("@table_type") || args.Get("@table_type").IsNull()) return true;
  return Upper(args.Text("@table_type")).find("'" + std::string(type) + "'") != std::string::npos;
}

std::int64_t Tables(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_tables", arguments,
                       {"@table_name", "@table_owner", "@table_qualifier", "@table_type"});
  AttachedDatabase& db = executor.Db();
  std::vector<std::vector<Value>> rows;
  if (Matches(args, "@table_qualifier", db.catalog->name())) {
    for (const ObjectInfo* o : db.catalog->Objects()) {
      if (o->type != ObjectType::kTable && o->type != ObjectType::kView) continue;
      const char* type = o->type == ObjectType::kTable ? "TABLE" : "VIEW";
      std::string owner = db.catalog->OwnerName(o->uid);
      if (!TypeWanted(args, type) || !Matches(args, "@table_name", o->name) ||
          !Matches(args, "@table_owner", owner))
        continue;
      rows.push_back({Text(db.catalog->name()), Text(owner), Text(o->name), Text(type), Value()});
    }
    for (const SystemTableEntry& t : SystemTables()) {
      const char* type = t.type[0] == 'S' ? "SYSTEM TABLE" : "VIEW";
      if (t.Listed(db.dbid) && TypeWanted(args, type) && Matches(args, "@table_name", t.name) &&
          Matches(args, "@table_owner", "dbo"))
        rows.push_back({Text(db.catalog->name()), Text("dbo"), Text(t.name), Text(type), Value()});
    }
  }
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    for (size_t i : {3, 1, 2}) {
      int c = CollateCompare(a[i].ToText(), b[i].ToText());
      if (c) return c < 0;
    }
    return false;
  });
  executor.SendRows({Col("TABLE_QUALIFIER", Sysname()), Col("TABLE_OWNER", Sysname()),
                     Col("TABLE_NAME", Sysname()), Col("TABLE_TYPE", SqlType::VarChar(32)),
                     Col("REMARKS", SqlType::VarChar(254))},
                    rows);
  return 0;
}

// --- sp_columns --------------------------------------------------------------------------

// A column's type as ODBC describes it.
struct OdbcType {
  int data_type;
  std::optional<long long> precision;
  std::optional<long long> length;
  std::optional<long long> scale;
  std::optional<long long> radix;
  int ss_data_type;  // the storage type code of a nullable column
};

// NOT NULL columns of the fixed-length types have a storage code of their own.
int SsDataType(const SqlType& t, const OdbcType& d, bool nullable) {
  if (nullable) return d.ss_data_type;
  switch (t.kind) {
    case TypeKind::kTinyInt:
      return 48;
    case TypeKind::kSmallInt:
      return 52;
    case TypeKind::kInt:
      return 56;
    case TypeKind::kBigInt:
      return 127;
    case TypeKind::kReal:
      return 59;
    case TypeKind::kFloat:
      return 62;
    case TypeKind::kDecimal:
      return 55;
    case TypeKind::kNumeric:
      return 63;
    case TypeKind::kMoney:
      return 60;
    case TypeKind::kSmallMoney:
      return 122;
    case TypeKind::kDateTime:
      return 61;
    case TypeKind::kSmallDateTime:
      return 58;
    default:
      return d.ss_data_type;
  }
}

OdbcType Describe(const SqlType& t) {
  const long long n = t.length;
  switch (t.kind) {
    case TypeKind::kBit:
      return {-7, 1, 1, 0, std::nullopt, 50};
    case TypeKind::kTinyInt:
      return {-6, 3, 1, 0, 10, 38};
    case TypeKind::kSmallInt:
      return {5, 5, 2, 0, 10, 38};
    case TypeKind::kInt:
      return {4, 10, 4, 0, 10, 38};
    case TypeKind::kBigInt:
      return {-5, 19, 8, 0, 10, 38};
    case TypeKind::kReal:
      return {7, 7, 4, std::nullopt, 10, 109};
    case TypeKind::kFloat:
      return {6, 15, 8, std::nullopt, 10, 109};
    case TypeKind::kDecimal:
      return {3, t.precision, t.precision + 2, t.scale, 10, 106};
    case TypeKind::kNumeric:
      return {2, t.precision, t.precision + 2, t.scale, 10, 108};
    case TypeKind::kMoney:
      return {3, 19, 21, 4, 10, 110};
    case TypeKind::kSmallMoney:
      return {3, 10, 12, 4, 10, 110};
    case TypeKind::kChar:
      return {1, n, n, std::nullopt, std::nullopt, 47};
    case TypeKind::kVarChar:
      return {12, n, n, std::nullopt, std::nullopt, 39};
    case TypeKind::kText:
      return {-1, 2147483647, 2147483647, std::nullopt, std::nullopt, 35};
    case TypeKind::kNChar:
      return {-8, n, 2 * n, std::nullopt, std::nullopt, 47};
    case TypeKind::kNVarChar:
      return {-9, n, 2 * n, std::nullopt, std::nullopt, 39};
    case TypeKind::kNText:
      return {-10, 1073741823, 2147483646, std::nullopt, std::nullopt, 35};
    case TypeKind::kBinary:
      return {-2, n, n, std::nullopt, std::nullopt, 45};
    case TypeKind::kVarBinary:
      return {-3, n, n, std::nullopt, std::nullopt, 37};
    case TypeKind::kImage:
      return {-4, 2147483647, 2147483647, std::nullopt, std::nullopt, 34};
    case TypeKind::kDateTime:
      return {11, 23, 16, 3, std::nullopt, 111};
    case TypeKind::kSmallDateTime:
      return {11, 16, 16, 0, std::nullopt, 111};
    case TypeKind::kUniqueIdentifier:
      return {-11, 36, 16, std::nullopt, std::nullopt, 0};
    case TypeKind::kTimestamp:
      return {-2, 8, 8, std::nullopt, std::nullopt, 45};
    case TypeKind::kSqlVariant:
      return {-150, 8000, 8000, std::nullopt, std::nullopt, 0};
  }
  return {};
}

std::int64_t Columns(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args(
      "sp_columns", arguments,
      {"@table_name", "@table_owner", "@table_qualifier", "@column_name", "@ODBCVer"});
  if (!args.Given("@table_name")) throw errors::MissingArgument("sp_columns", "@table_name");
  AttachedDatabase& db = executor.Db();
  CheckQualifier(args, "@table_qualifier", db);
  const bool odbc3 = args.Get("@ODBCVer").ToInt().value_or(2) >= 3;
  std::vector<const ObjectInfo*> tables;
  for (const ObjectInfo* o : db.catalog->Objects())
    if ((o->type == ObjectType::kTable || o->type == ObjectType::kView) &&
        Matches(args, "@table_name", o->name) &&
        Matches(args, "@table_owner", db.catalog->OwnerName(o->uid)))
      tables.push_back(o);
  std::sort(tables.begin(), tables.end(), [&](const ObjectInfo* a, const ObjectInfo* b) {
    int c = CollateCompare(db.catalog->OwnerName(a->uid), db.catalog->OwnerName(b->uid));
    return c ? c < 0 : CollateCompare(a->name, b->name) < 0;
  });
  std::vector<std::vector<Value>> rows;
  for (const ObjectInfo* o : tables) {
    for (const ColumnInfo& c : o->columns) {
      if (!Matches(args, "@column_name", c.name)) continue;
      OdbcType d = Describe(c.type);
      int data_type = d.data_type == 11 && odbc3 ? 93 : d.data_type;
      std::string type_name = c.type.Name() + (c.identity ? " identity" : "");
      bool octets = c.type.IsCharacter() || c.type.IsBinary();
      rows.push_back({Text(db.catalog->name()), Text(db.catalog->OwnerName(o->uid)), Text(o->name),
                      Text(c.name), Int(data_type), Text(type_name), Maybe(d.precision),
                      Maybe(d.length), Maybe(d.scale), Maybe(d.radix), Int(c.nullable ? 1 : 0),
                      Value(), c.default_text.empty() ? Value() : Text(c.default_text),
                      Int(d.data_type == 11 ? 9 : d.data_type),
                      d.data_type == 11 ? Int(3) : Value(), octets ? Maybe(d.length) : Value(),
                      Int(c.colid), Text(c.nullable ? "YES" : "NO"),
                      Int(SsDataType(c.type, d, c.nullable))});
    }
  }
  executor.SendRows(
      {Col("TABLE_QUALIFIER", Sysname()), Col("TABLE_OWNER", Sysname()),
       Col("TABLE_NAME", Sysname()), Col("COLUMN_NAME", Sysname()), Col("DATA_TYPE", SmallInt()),
       Col("TYPE_NAME", Sysname()), Col("PRECISION", SqlType::Int()), Col("LENGTH", SqlType::Int()),
       Col("SCALE", SmallInt()), Col("RADIX", SmallInt()), Col("NULLABLE", SmallInt()),
       Col("REMARKS", SqlType::VarChar(254)), Col("COLUMN_DEF", SqlType::NVarChar(4000)),
       Col("SQL_DATA_TYPE", SmallInt()), Col("SQL_DATETIME_SUB", SmallInt()),
       Col("CHAR_OCTET_LENGTH", SqlType::Int()), Col("ORDINAL_POSITION", SqlType::Int()),
       Col("IS_NULLABLE", SqlType::VarChar(254)), Col("SS_DATA_TYPE", TinyInt())},
      rows);
  return 0;
}

// --- sp_databases ------------------------------------------------------------------------

// sp_databases: every database with its size in kilobytes.
std::int64_t Databases(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_databases", arguments, {});
  InstanceImpl& instance = executor.session().instance();
  std::vector<DatabaseRecord> databases = instance.Databases();
  std::sort(databases.begin(), databases.end(),
            [](const DatabaseRecord& a, const DatabaseRecord& b) {
              return CollateCompare(a.name, b.name) < 0;
            });
  std::vector<std::vector<Value>> rows;
  for (const DatabaseRecord& record : databases) {
    std::int64_t pages = 0;
    for (const DatabaseFileState& f : ReadDatabaseFiles(instance, record)) pages += f.size_pages;
    rows.push_back({Text(record.name), Int(pages * 8), Value()});
  }
  executor.SendRows({Col("DATABASE_NAME", Sysname(), false), Col("DATABASE_SIZE", SqlType::Int()),
                     Col("REMARKS", SqlType::VarChar(254))},
                    rows);
  return 0;
}

// --- sp_stored_procedures ----------------------------------------------------------------

// The database's procedures and, as SQL Server lists them in every database, the system
// procedures; names carry their group number (";1").
std::int64_t StoredProcedures(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_stored_procedures", arguments,
                       {"@sp_name", "@sp_owner", "@sp_qualifier"});
  AttachedDatabase& db = executor.Db();
  CheckQualifier(args, "@sp_qualifier", db);
  struct Row {
    std::string owner, name;
  };
  std::vector<Row> found;
  for (const ObjectInfo* o : db.catalog->Objects())
    if (o->type == ObjectType::kProcedure)
      found.push_back({db.catalog->OwnerName(o->uid), o->name});
  for (const std::string& name : SystemProcedureNames()) found.push_back({"dbo", name});
  std::vector<Row> kept;
  for (Row& r : found)
    if (Matches(args, "@sp_name", r.name) && Matches(args, "@sp_owner", r.owner))
      kept.push_back(std::move(r));
  std::sort(kept.begin(), kept.end(), [](const Row& a, const Row& b) {
    int c = CollateCompare(a.owner, b.owner);
    return c ? c < 0 : CollateCompare(a.name, b.name) < 0;
  });
  std::vector<std::vector<Value>> rows;
  for (const Row& r : kept)
    rows.push_back({Text(db.catalog->name()), Text(r.owner), Text(r.name + ";1"), Int(-1), Int(-1),
                    Int(-1), Value(), Int(2)});
  executor.SendRows(
      {Col("PROCEDURE_QUALIFIER", Sysname()), Col("PROCEDURE_OWNER", Sysname()),
       Col("PROCEDURE_NAME", SqlType::NVarChar(134)), Col("NUM_INPUT_PARAMS", SqlType::Int()),
       Col("NUM_OUTPUT_PARAMS", SqlType::Int()), Col("NUM_RESULT_SETS", SqlType::Int()),
       Col("REMARKS", SqlType::VarChar(254)), Col("PROCEDURE_TYPE", SmallInt())},
      rows);
  return 0;
}

// --- xp_cmdshell -------------------------------------------------------------------------

// The sandbox runs no commands of its host: xp_cmdshell is refused as a server with it
// switched off refuses it. Before 2005 there is no switch: an administrator drops the
// procedure, and others are refused EXECUTE on it.
std::int64_t CmdShell(Executor& executor, std::vector<ProcedureArgument>&) {
  SessionImpl& session = executor.session();
  if (MajorVersionOf(session.instance().config()) >= 9) throw errors::Raise<15281>();
  if (!session.IsSysadmin()) throw PermissionDenied("EXECUTE", "xp_cmdshell", "master", "dbo");
  throw errors::UnknownProcedure("xp_cmdshell").WithState(62);
}

}  // namespace

void AddCatalogListProcedures(SystemProcedureTable& table) {
  table.emplace("sp_tables", Tables);
  table.emplace("sp_columns", Columns);
  table.emplace("sp_databases", Databases);
  table.emplace("sp_stored_procedures", StoredProcedures);
  table.emplace("xp_cmdshell", CmdShell);
}

}  // namespace sandbox
