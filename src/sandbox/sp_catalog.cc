// Catalogue procedures that ODBC and OLE DB clients call on their own: primary keys of a table
// (the key columns of an updatable client cursor) and the data types the server offers.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"
#include "sandbox/session.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

using common::Value;

namespace {

// Whether text compares by case under the collation: case-sensitive and binary ones.
bool CaseSensitive(std::string_view collation) {
  std::string name = Upper(collation);
  return name.find("_CS") != std::string::npos || name.find("_BIN") != std::string::npos;
}

// sp_pkeys @table_name [, @table_owner] [, @table_qualifier]: the columns of the table's
// PRIMARY KEY in key order; no rows for a table without one or no such table.
std::int64_t PrimaryKeys(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_pkeys", arguments, {"@table_name", "@table_owner", "@table_qualifier"});
  AttachedDatabase& db = executor.Db();
  if (args.Given("@table_qualifier") &&
      !EqualsNoCase(args.Text("@table_qualifier"), db.catalog->name())) {
    throw errors::Raise<15250>();
  }
  std::vector<std::vector<Value>> rows;
  const std::string name = args.Text("@table_name");
  const ObjectInfo* table =
      name.empty()
          ? nullptr
          : db.catalog->Find(name,
                             args.Given("@table_owner") ? args.Text("@table_owner") : std::string(),
                             executor.session().UserId(db));
  const IndexInfo* key =
      table && (table->type == ObjectType::kTable || table->type == ObjectType::kView)
          ? table->PrimaryKey()
          : nullptr;
  if (key) {
    for (std::size_t i = 0; i < key->columns.size(); ++i) {
      const ColumnInfo* column = table->FindColumn(key->columns[i]);
      rows.push_back({Text(db.catalog->name()), Text(db.catalog->OwnerName(table->uid)),
                      Text(table->name), Text(column ? column->name : key->columns[i]),
                      Value(static_cast<long long>(i + 1)), Text(key->name)});
    }
  }
  executor.SendRows({Col("TABLE_QUALIFIER", Sysname()), Col("TABLE_OWNER", Sysname(), false),
                     Col("TABLE_NAME", Sysname(), false), Col("COLUMN_NAME", Sysname(), false),
                     Col("KEY_SEQ", SmallInt(), false), Col("PK_NAME", Sysname())},
                    rows);
  return 0;
}

// One data type as sp_datatype_info describes it.
struct TypeRow {
  const char* name;
  int data_type;  // the ODBC type code (datetime types: as ODBC 2 numbers them)
  std::optional<long long> precision;
  const char* prefix;  // nullptr: NULL
  const char* suffix;
  const char* create_params;
  bool case_sensitive;
  int searchable;  // 1 none, 2 LIKE only, 3 WHERE except LIKE, 4 both
  std::optional<int> unsigned_attribute;
  bool money;
  std::optional<int> auto_increment;
  std::optional<int> minimum_scale;
  std::optional<int> maximum_scale;
  std::optional<int> datetime_sub;
  std::optional<int> radix;
  int usertype;
  bool since_80;  // bigint and sql_variant came with 8.0
};

// In the server's order: by ODBC type code, the type that best matches the code first.
const TypeRow kTypes[] = {
    {"sql_variant", -150, 8000, nullptr, nullptr, nullptr, false, 2, std::nullopt, false,
     std::nullopt, 0, 0, std::nullopt, 10, 0, true},
    {"uniqueidentifier", -11, 36, "'", "'", nullptr, false, 2, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0, false},
    {"ntext", -10, 1073741823, "N'", "'", nullptr, false, 2, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0, false},
    {"nvarchar", -9, 4000, "N'", "'", "max length", false, 3, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0, false},
    {"sysname", -9, 128, "N'", "'", nullptr, false, 3, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 256, false},
    {"nchar", -8, 4000, "N'", "'", "length", false, 3, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0, false},
    {"bit", -7, 1, nullptr, nullptr, nullptr, false, 2, std::nullopt, false, std::nullopt, 0, 0,
     std::nullopt, std::nullopt, 16, false},
    {"tinyint", -6, 3, nullptr, nullptr, nullptr, false, 2, 1, false, 0, 0, 0, std::nullopt, 10, 5,
     false},
    {"tinyint identity", -6, 3, nullptr, nullptr, nullptr, false, 2, 1, false, 1, 0, 0,
     std::nullopt, 10, 5, false},
    {"bigint", -5, 19, nullptr, nullptr, nullptr, false, 2, 0, false, 0, 0, 0, std::nullopt, 10, 0,
     true},
    {"bigint identity", -5, 19, nullptr, nullptr, nullptr, false, 2, 0, false, 1, 0, 0,
     std::nullopt, 10, 0, true},
    {"image", -4, 2147483647, "0x", nullptr, nullptr, false, 1, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 20, false},
    {"varbinary", -3, 8000, "0x", nullptr, "max length", false, 2, std::nullopt, false,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 4, false},
    {"binary", -2, 8000, "0x", nullptr, "length", false, 2, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 3, false},
    {"timestamp", -2, 8, "0x", nullptr, nullptr, false, 2, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 80, false},
    {"text", -1, 2147483647, "'", "'", nullptr, false, 2, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 19, false},
    {"char", 1, 8000, "'", "'", "length", false, 3, std::nullopt, false, std::nullopt, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, 1, false},
    {"numeric", 2, 38, nullptr, nullptr, "precision,scale", false, 2, 0, false, 0, 0, 38,
     std::nullopt, 10, 25, false},
    {"numeric() identity", 2, 38, nullptr, nullptr, "precision", false, 2, 0, false, 1, 0, 0,
     std::nullopt, 10, 25, false},
    {"decimal", 3, 38, nullptr, nullptr, "precision,scale", false, 2, 0, false, 0, 0, 38,
     std::nullopt, 10, 24, false},
    {"money", 3, 19, "$", nullptr, nullptr, false, 2, 0, true, 0, 4, 4, std::nullopt, 10, 11,
     false},
    {"smallmoney", 3, 10, "$", nullptr, nullptr, false, 2, 0, true, 0, 4, 4, std::nullopt, 10, 21,
     false},
    {"decimal() identity", 3, 38, nullptr, nullptr, "precision", false, 2, 0, false, 1, 0, 0,
     std::nullopt, 10, 24, false},
    {"int", 4, 10, nullptr, nullptr, nullptr, false, 2, 0, false, 0, 0, 0, std::nullopt, 10, 7,
     false},
    {"int identity", 4, 10, nullptr, nullptr, nullptr, false, 2, 0, false, 1, 0, 0, std::nullopt,
     10, 7, false},
    {"smallint", 5, 5, nullptr, nullptr, nullptr, false, 2, 0, false, 0, 0, 0, std::nullopt, 10, 6,
     false},
    {"smallint identity", 5, 5, nullptr, nullptr, nullptr, false, 2, 0, false, 1, 0, 0,
     std::nullopt, 10, 6, false},
    {"float", 6, 53, nullptr, nullptr, nullptr, false, 2, 0, false, 0, std::nullopt, std::nullopt,
     std::nullopt, 2, 8, false},
    {"real", 7, 24, nullptr, nullptr, nullptr, false, 2, 0, false, 0, std::nullopt, std::nullopt,
     std::nullopt, 2, 23, false},
    {"datetime", 11, 23, "'", "'", nullptr, false, 3, std::nullopt, false, std::nullopt, 3, 3, 3,
     std::nullopt, 12, false},
    {"smalldatetime", 11, 16, "'", "'", nullptr, false, 3, std::nullopt, false, std::nullopt, 0, 0,
     3, std::nullopt, 22, false},
    {"varchar", 12, 8000, "'", "'", "max length", false, 3, std::nullopt, false, std::nullopt,
     std::nullopt, std::nullopt, std::nullopt, std::nullopt, 2, false},
};

Value Optional(const std::optional<int>& v) {
  return v ? Value(static_cast<long long>(*v)) : Value();
}
Value Optional(const char* text) { return text ? Text(text) : Value(); }

// sp_datatype_info [@data_type] [, @ODBCVer]: every type, or those of one ODBC type code.
// ODBC 3 numbers the date-time types 93 where ODBC 2 (the default) has 11.
std::int64_t DataTypeInfo(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_datatype_info", arguments, {"@data_type", "@ODBCVer"});
  const long long wanted = args.Get("@data_type").ToInt().value_or(0);
  const long long odbc = args.Get("@ODBCVer").ToInt().value_or(2);
  const bool collation_case_sensitive =
      CaseSensitive(executor.session().instance().config().collation);
  const bool since_80 =
      std::atoi(executor.session().instance().config().product_version.c_str()) >= 8;
  std::vector<std::vector<Value>> rows;
  for (const TypeRow& t : kTypes) {
    if (t.since_80 && !since_80) continue;
    int data_type = t.data_type;
    int sql_data_type = t.data_type;
    if (data_type == 11) {
      sql_data_type = 9;  // SQL_DATETIME
      if (odbc >= 3) data_type = 93;
    }
    if (wanted != 0 && wanted != data_type) continue;
    const bool character = t.prefix && (t.prefix[0] == '\'' || t.prefix[0] == 'N') &&
                           t.data_type != 11 && t.data_type != -11;
    rows.push_back({Text(t.name),
                    Value(static_cast<long long>(data_type)),
                    t.precision ? Value(*t.precision) : Value(),
                    Optional(t.prefix),
                    Optional(t.suffix),
                    Optional(t.create_params),
                    Value(1LL),
                    Value(static_cast<long long>(character && collation_case_sensitive ? 1 : 0)),
                    Value(static_cast<long long>(t.searchable)),
                    Optional(t.unsigned_attribute),
                    Value(static_cast<long long>(t.money ? 1 : 0)),
                    Optional(t.auto_increment),
                    Text(t.name),
                    Optional(t.minimum_scale),
                    Optional(t.maximum_scale),
                    Value(static_cast<long long>(sql_data_type)),
                    Optional(t.datetime_sub),
                    Optional(t.radix),
                    Value(),
                    Value(static_cast<long long>(t.usertype))});
  }
  executor.SendRows({Col("TYPE_NAME", Sysname(), false),
                     Col("DATA_TYPE", SmallInt(), false),
                     Col("PRECISION", SqlType::Int()),
                     Col("LITERAL_PREFIX", SqlType::VarChar(32)),
                     Col("LITERAL_SUFFIX", SqlType::VarChar(32)),
                     Col("CREATE_PARAMS", SqlType::VarChar(32)),
                     Col("NULLABLE", SmallInt(), false),
                     Col("CASE_SENSITIVE", SmallInt(), false),
                     Col("SEARCHABLE", SmallInt(), false),
                     Col("UNSIGNED_ATTRIBUTE", SmallInt()),
                     Col("MONEY", SmallInt(), false),
                     Col("AUTO_INCREMENT", SmallInt()),
                     Col("LOCAL_TYPE_NAME", Sysname()),
                     Col("MINIMUM_SCALE", SmallInt()),
                     Col("MAXIMUM_SCALE", SmallInt()),
                     Col("SQL_DATA_TYPE", SmallInt(), false),
                     Col("SQL_DATETIME_SUB", SmallInt()),
                     Col("NUM_PREC_RADIX", SqlType::Int()),
                     Col("INTERVAL_PRECISION", SmallInt()),
                     Col("USERTYPE", SmallInt())},
                    rows);
  return 0;
}

}  // namespace

void AddCatalogProcedures(SystemProcedureTable& table) {
  table.emplace("sp_pkeys", PrimaryKeys);
  table.emplace("sp_datatype_info", DataTypeInfo);
}

}  // namespace sandbox
