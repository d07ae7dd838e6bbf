// The INFORMATION_SCHEMA views of a database, as literal rows made from its catalogue when a
// statement names them, with the columns SQL Server 2000 gives them.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/constraints.h"
#include "sandbox/databases.h"
#include "sandbox/executor.h"
#include "sandbox/result_columns.h"
#include "sandbox/system_tables.h"

namespace sandbox {

using common::Value;

namespace {

struct View {
  std::vector<OutputColumn> columns;
  std::vector<std::vector<Value>> rows;

  void Columns(std::initializer_list<std::pair<const char*, SqlType>> specs) {
    for (const auto& [name, type] : specs) {
      OutputColumn c;
      c.name = name;
      c.type = type;
      columns.push_back(c);
    }
  }
  // A row with the values named and NULL in the other columns.
  std::vector<Value> Row(std::initializer_list<std::pair<const char*, Value>> values) const {
    std::vector<Value> row(columns.size());
    for (const auto& [name, value] : values)
      for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name == name) row[i] = value;
    return row;
  }
  // Names of the columns filled with NULL in every row (the features the sandbox lacks).
  void NullColumns(std::initializer_list<const char*> names, SqlType type = Sysname()) {
    for (const char* name : names) {
      OutputColumn c;
      c.name = name;
      c.type = type;
      columns.push_back(c);
    }
  }
};

std::string Literal(const Value& v) {
  switch (v.type()) {
    case Value::Type::kNull:
      return "NULL";
    case Value::Type::kInt:
      return std::to_string(*v.ToInt());
    default:
      return QuoteLiteral(v.ToText());
  }
}

// The rows as a sub-select; a first row that is never returned names the columns.
ResolvedTable Make(std::string_view name, const View& view, AttachedDatabase& db) {
  std::string sql = "SELECT ";
  for (size_t i = 0; i < view.columns.size(); ++i)
    sql += (i ? ", NULL AS " : "NULL AS ") + QuoteIdentifier(view.columns[i].name);
  sql += " WHERE 0";
  for (const auto& row : view.rows) {
    sql += " UNION ALL SELECT ";
    for (size_t i = 0; i < view.columns.size(); ++i)
      sql += (i ? ", " : "") + (i < row.size() ? Literal(row[i]) : std::string("NULL"));
  }
  ResolvedTable table;
  table.kind = ResolvedTable::Kind::kSystem;
  table.name = std::string(name);
  table.owner = "INFORMATION_SCHEMA";
  table.database = db.catalog->name();
  table.dbid = db.dbid;
  table.sql = "(" + sql + ")";
  table.columns = view.columns;
  return table;
}

// What the data-type columns of COLUMNS, PARAMETERS and ROUTINES say of a type.
struct TypeFacts {
  Value max_length, octet_length, precision, radix, scale, datetime_precision, charset, collation;
};

TypeFacts Facts(const SqlType& t, const std::string& collation) {
  TypeFacts f;
  if (t.IsCharacter() || t.IsBinary()) {
    long long n = t.IsLarge() ? (t.kind == TypeKind::kNText ? 1073741823 : 2147483647) : t.length;
    f.max_length = Int(n);
    f.octet_length = Int(t.kind == TypeKind::kNText ? 2147483646 : t.IsUnicode() ? 2 * n : n);
    if (t.IsCharacter()) {
      f.charset = Text(t.IsUnicode() ? "UNICODE" : "iso_1");
      f.collation = Text(collation);
    }
    return f;
  }
  switch (t.kind) {
    case TypeKind::kTinyInt:
      f.precision = Int(3), f.radix = Int(10), f.scale = Int(0);
      break;
    case TypeKind::kSmallInt:
      f.precision = Int(5), f.radix = Int(10), f.scale = Int(0);
      break;
    case TypeKind::kInt:
      f.precision = Int(10), f.radix = Int(10), f.scale = Int(0);
      break;
    case TypeKind::kBigInt:
      f.precision = Int(19), f.radix = Int(10), f.scale = Int(0);
      break;
    case TypeKind::kBit:
      f.precision = Int(1), f.radix = Int(10), f.scale = Int(0);
      break;
    case TypeKind::kDecimal:
    case TypeKind::kNumeric:
      f.precision = Int(t.precision), f.radix = Int(10), f.scale = Int(t.scale);
      break;
    case TypeKind::kMoney:
      f.precision = Int(19), f.radix = Int(10), f.scale = Int(4);
      break;
    case TypeKind::kSmallMoney:
      f.precision = Int(10), f.radix = Int(10), f.scale = Int(4);
      break;
    case TypeKind::kFloat:
      f.precision = Int(53), f.radix = Int(2);
      break;
    case TypeKind::kReal:
      f.precision = Int(24), f.radix = Int(2);
      break;
    case TypeKind::kDateTime:
      f.datetime_precision = Int(3);
      break;
    case TypeKind::kSmallDateTime:
      f.datetime_precision = Int(0);
      break;
    default:
      break;
  }
  return f;
}

using Objects = std::vector<const ObjectInfo*>;

Objects OfType(AttachedDatabase& db, std::initializer_list<ObjectType> types) {
  Objects out;
  for (const ObjectInfo* o : db.catalog->Objects())
    for (ObjectType t : types)
      if (o->type == t) out.push_back(o);
  return out;
}

View Schemata(Executor& executor) {
  View v;
  v.Columns({{"CATALOG_NAME", Sysname()},
             {"SCHEMA_NAME", Sysname()},
             {"SCHEMA_OWNER", Sysname()},
             {"DEFAULT_CHARACTER_SET_CATALOG", SqlType::VarChar(6)},
             {"DEFAULT_CHARACTER_SET_SCHEMA", SqlType::VarChar(3)},
             {"DEFAULT_CHARACTER_SET_NAME", Sysname()}});
  for (const DatabaseRecord& record : executor.session().instance().Databases())
    v.rows.push_back(
        {Text(record.name), Text("dbo"), Text("dbo"), Value(), Value(), Text("iso_1")});
  return v;
}

View Tables(AttachedDatabase& db) {
  View v;
  v.Columns({{"TABLE_CATALOG", Sysname()},
             {"TABLE_SCHEMA", Sysname()},
             {"TABLE_NAME", Sysname()},
             {"TABLE_TYPE", SqlType::VarChar(10)}});
  for (const ObjectInfo* o : OfType(db, {ObjectType::kTable, ObjectType::kView}))
    v.rows.push_back({Text(db.catalog->name()), Text(db.catalog->OwnerName(o->uid)), Text(o->name),
                      Text(o->type == ObjectType::kView ? "VIEW" : "BASE TABLE")});
  return v;
}

View Columns(AttachedDatabase& db, const std::string& collation) {
  View v;
  v.Columns({{"TABLE_CATALOG", Sysname()},
             {"TABLE_SCHEMA", Sysname()},
             {"TABLE_NAME", Sysname()},
             {"COLUMN_NAME", Sysname()},
             {"ORDINAL_POSITION", SmallInt()},
             {"COLUMN_DEFAULT", SqlType::NVarChar(4000)},
             {"IS_NULLABLE", SqlType::VarChar(3)},
             {"DATA_TYPE", Sysname()},
             {"CHARACTER_MAXIMUM_LENGTH", SqlType::Int()},
             {"CHARACTER_OCTET_LENGTH", SqlType::Int()},
             {"NUMERIC_PRECISION", TinyInt()},
             {"NUMERIC_PRECISION_RADIX", SmallInt()},
             {"NUMERIC_SCALE", SqlType::Int()},
             {"DATETIME_PRECISION", SmallInt()},
             {"CHARACTER_SET_CATALOG", Sysname()},
             {"CHARACTER_SET_SCHEMA", Sysname()},
             {"CHARACTER_SET_NAME", Sysname()},
             {"COLLATION_CATALOG", Sysname()},
             {"COLLATION_SCHEMA", Sysname()},
             {"COLLATION_NAME", Sysname()}});
  v.NullColumns({"DOMAIN_CATALOG", "DOMAIN_SCHEMA", "DOMAIN_NAME"});
  for (const ObjectInfo* o : OfType(db, {ObjectType::kTable, ObjectType::kView}))
    for (const ColumnInfo& c : o->columns) {
      TypeFacts f = Facts(c.type, collation);
      v.rows.push_back({Text(db.catalog->name()),
                        Text(db.catalog->OwnerName(o->uid)),
                        Text(o->name),
                        Text(c.name),
                        Int(c.colid),
                        c.default_text.empty() ? Value() : Text(c.default_text),
                        Text(c.nullable ? "YES" : "NO"),
                        Text(c.type.Name()),
                        f.max_length,
                        f.octet_length,
                        f.precision,
                        f.radix,
                        f.scale,
                        f.datetime_precision,
                        Value(),
                        Value(),
                        f.charset,
                        Value(),
                        Value(),
                        f.collation});
    }
  return v;
}

View Views(AttachedDatabase& db) {
  View v;
  v.Columns({{"TABLE_CATALOG", Sysname()},
             {"TABLE_SCHEMA", Sysname()},
             {"TABLE_NAME", Sysname()},
             {"VIEW_DEFINITION", SqlType::NVarChar(4000)},
             {"CHECK_OPTION", SqlType::VarChar(7)},
             {"IS_UPDATABLE", SqlType::VarChar(2)}});
  for (const ObjectInfo* o : OfType(db, {ObjectType::kView}))
    v.rows.push_back({Text(db.catalog->name()), Text(db.catalog->OwnerName(o->uid)), Text(o->name),
                      Text(CodePointPrefix(o->definition, 4000)), Text("NONE"), Text("NO")});
  return v;
}

View Routines(AttachedDatabase& db) {
  View v;
  v.Columns({{"SPECIFIC_CATALOG", Sysname()},
             {"SPECIFIC_SCHEMA", Sysname()},
             {"SPECIFIC_NAME", Sysname()},
             {"ROUTINE_CATALOG", Sysname()},
             {"ROUTINE_SCHEMA", Sysname()},
             {"ROUTINE_NAME", Sysname()},
             {"ROUTINE_TYPE", SqlType::NVarChar(20)}});
  v.NullColumns({"MODULE_CATALOG", "MODULE_SCHEMA", "MODULE_NAME", "UDT_CATALOG", "UDT_SCHEMA",
                 "UDT_NAME", "DATA_TYPE"});
  v.NullColumns({"CHARACTER_MAXIMUM_LENGTH", "CHARACTER_OCTET_LENGTH"}, SqlType::Int());
  v.NullColumns({"COLLATION_CATALOG", "COLLATION_SCHEMA", "COLLATION_NAME", "CHARACTER_SET_CATALOG",
                 "CHARACTER_SET_SCHEMA", "CHARACTER_SET_NAME"});
  v.NullColumns(
      {"NUMERIC_PRECISION", "NUMERIC_PRECISION_RADIX", "NUMERIC_SCALE", "DATETIME_PRECISION"},
      SmallInt());
  v.NullColumns({"INTERVAL_TYPE"}, SqlType::NVarChar(30));
  v.NullColumns({"INTERVAL_PRECISION"}, SmallInt());
  v.NullColumns({"TYPE_UDT_CATALOG", "TYPE_UDT_SCHEMA", "TYPE_UDT_NAME", "SCOPE_CATALOG",
                 "SCOPE_SCHEMA", "SCOPE_NAME"});
  v.NullColumns({"MAXIMUM_CARDINALITY"}, SqlType::Int());
  v.NullColumns({"DTD_IDENTIFIER"});
  v.Columns(
      {{"ROUTINE_BODY", SqlType::NVarChar(30)}, {"ROUTINE_DEFINITION", SqlType::NVarChar(4000)}});
  v.NullColumns({"EXTERNAL_NAME", "EXTERNAL_LANGUAGE", "PARAMETER_STYLE"});
  v.Columns({{"IS_DETERMINISTIC", SqlType::NVarChar(10)},
             {"SQL_DATA_ACCESS", SqlType::NVarChar(30)},
             {"IS_NULL_CALL", SqlType::NVarChar(10)},
             {"SQL_PATH", Sysname()},
             {"SCHEMA_LEVEL_ROUTINE", SqlType::NVarChar(10)},
             {"MAX_DYNAMIC_RESULT_SETS", SmallInt()},
             {"IS_USER_DEFINED_CAST", SqlType::NVarChar(10)},
             {"IS_IMPLICITLY_INVOCABLE", SqlType::NVarChar(10)},
             {"CREATED", SqlType::DateTimeType()},
             {"LAST_ALTERED", SqlType::DateTimeType()}});
  for (const ObjectInfo* o :
       OfType(db, {ObjectType::kProcedure, ObjectType::kScalarFunction,
                   ObjectType::kInlineFunction, ObjectType::kTableFunction})) {
    const std::string owner = db.catalog->OwnerName(o->uid);
    v.rows.push_back(v.Row({{"SPECIFIC_CATALOG", Text(db.catalog->name())},
                            {"SPECIFIC_SCHEMA", Text(owner)},
                            {"SPECIFIC_NAME", Text(o->name)},
                            {"ROUTINE_CATALOG", Text(db.catalog->name())},
                            {"ROUTINE_SCHEMA", Text(owner)},
                            {"ROUTINE_NAME", Text(o->name)},
                            {"ROUTINE_TYPE", Text(IsFunction(o->type) ? "FUNCTION" : "PROCEDURE")},
                            {"ROUTINE_BODY", Text("SQL")},
                            {"ROUTINE_DEFINITION", Text(CodePointPrefix(o->definition, 4000))},
                            {"IS_DETERMINISTIC", Text("NO")},
                            {"SQL_DATA_ACCESS", Text("MODIFIES")},
                            {"SCHEMA_LEVEL_ROUTINE", Text("YES")},
                            {"MAX_DYNAMIC_RESULT_SETS", Int(-1)},
                            {"IS_USER_DEFINED_CAST", Text("NO")},
                            {"IS_IMPLICITLY_INVOCABLE", Text("NO")},
                            {"CREATED", Text(o->crdate)},
                            {"LAST_ALTERED", Text(o->crdate)}}));
  }
  return v;
}

View Parameters(AttachedDatabase& db, const std::string& collation) {
  View v;
  v.Columns({{"SPECIFIC_CATALOG", Sysname()},
             {"SPECIFIC_SCHEMA", Sysname()},
             {"SPECIFIC_NAME", Sysname()},
             {"ORDINAL_POSITION", SmallInt()},
             {"PARAMETER_MODE", SqlType::NVarChar(10)},
             {"IS_RESULT", SqlType::NVarChar(10)},
             {"AS_LOCATOR", SqlType::NVarChar(10)},
             {"PARAMETER_NAME", Sysname()},
             {"DATA_TYPE", Sysname()},
             {"CHARACTER_MAXIMUM_LENGTH", SqlType::Int()},
             {"CHARACTER_OCTET_LENGTH", SqlType::Int()},
             {"COLLATION_CATALOG", Sysname()},
             {"COLLATION_SCHEMA", Sysname()},
             {"COLLATION_NAME", Sysname()},
             {"CHARACTER_SET_CATALOG", Sysname()},
             {"CHARACTER_SET_SCHEMA", Sysname()},
             {"CHARACTER_SET_NAME", Sysname()},
             {"NUMERIC_PRECISION", TinyInt()},
             {"NUMERIC_PRECISION_RADIX", SmallInt()},
             {"NUMERIC_SCALE", SqlType::Int()},
             {"DATETIME_PRECISION", SmallInt()}});
  v.NullColumns({"INTERVAL_TYPE"}, SqlType::NVarChar(30));
  v.NullColumns({"INTERVAL_PRECISION"}, SmallInt());
  v.NullColumns({"USER_DEFINED_TYPE_CATALOG", "USER_DEFINED_TYPE_SCHEMA", "USER_DEFINED_TYPE_NAME",
                 "SCOPE_CATALOG", "SCOPE_SCHEMA", "SCOPE_NAME"});
  for (const ObjectInfo* o : OfType(db, {ObjectType::kProcedure}))
    for (const ColumnInfo& c : o->columns) {
      TypeFacts f = Facts(c.type, collation);
      v.rows.push_back({Text(db.catalog->name()),
                        Text(db.catalog->OwnerName(o->uid)),
                        Text(o->name),
                        Int(c.colid),
                        Text(c.output ? "INOUT" : "IN"),
                        Text("NO"),
                        Text("NO"),
                        Text(c.name),
                        Text(c.type.Name()),
                        f.max_length,
                        f.octet_length,
                        Value(),
                        Value(),
                        f.collation,
                        Value(),
                        Value(),
                        f.charset,
                        f.precision,
                        f.radix,
                        f.scale,
                        f.datetime_precision});
    }
  return v;
}

// The key constraints (PRIMARY KEY, UNIQUE) and the CHECK constraints of the database.
View TableConstraints(AttachedDatabase& db) {
  View v;
  v.Columns({{"CONSTRAINT_CATALOG", Sysname()},
             {"CONSTRAINT_SCHEMA", Sysname()},
             {"CONSTRAINT_NAME", Sysname()},
             {"TABLE_CATALOG", Sysname()},
             {"TABLE_SCHEMA", Sysname()},
             {"TABLE_NAME", Sysname()},
             {"CONSTRAINT_TYPE", SqlType::VarChar(11)},
             {"IS_DEFERRABLE", SqlType::VarChar(2)},
             {"INITIALLY_DEFERRED", SqlType::VarChar(2)}});
  const std::string catalog = db.catalog->name();
  auto add = [&](const ObjectInfo& table, const std::string& name, const char* type) {
    const std::string owner = db.catalog->OwnerName(table.uid);
    v.rows.push_back({Text(catalog), Text(owner), Text(name), Text(catalog), Text(owner),
                      Text(table.name), Text(type), Text("NO"), Text("NO")});
  };
  for (const ObjectInfo* o : OfType(db, {ObjectType::kTable}))
    for (const IndexInfo& index : o->indexes) {
      if (index.kind == IndexKind::kPrimaryKey) add(*o, index.name, "PRIMARY KEY");
      if (index.kind == IndexKind::kUniqueConstraint) add(*o, index.name, "UNIQUE");
    }
  for (const ObjectInfo* c : OfType(db, {ObjectType::kCheck, ObjectType::kForeignKey}))
    if (const ObjectInfo* table = db.catalog->FindById(c->parent))
      add(*table, c->name, c->type == ObjectType::kCheck ? "CHECK" : "FOREIGN KEY");
  return v;
}

View KeyColumnUsage(AttachedDatabase& db) {
  View v;
  v.Columns({{"CONSTRAINT_CATALOG", Sysname()},
             {"CONSTRAINT_SCHEMA", Sysname()},
             {"CONSTRAINT_NAME", Sysname()},
             {"TABLE_CATALOG", Sysname()},
             {"TABLE_SCHEMA", Sysname()},
             {"TABLE_NAME", Sysname()},
             {"COLUMN_NAME", Sysname()},
             {"ORDINAL_POSITION", SqlType::Int()}});
  const std::string catalog = db.catalog->name();
  for (const ObjectInfo* o : OfType(db, {ObjectType::kTable})) {
    const std::string owner = db.catalog->OwnerName(o->uid);
    for (const IndexInfo& index : o->indexes) {
      if (index.kind != IndexKind::kPrimaryKey && index.kind != IndexKind::kUniqueConstraint)
        continue;
      for (size_t i = 0; i < index.columns.size(); ++i) {
        const ColumnInfo* column = o->FindColumn(index.columns[i]);
        v.rows.push_back({Text(catalog), Text(owner), Text(index.name), Text(catalog), Text(owner),
                          Text(o->name), Text(column ? column->name : index.columns[i]),
                          Int(static_cast<long long>(i + 1))});
      }
    }
  }
  for (const ObjectInfo* f : OfType(db, {ObjectType::kForeignKey})) {
    const ObjectInfo* table = db.catalog->FindById(f->parent);
    if (!table) continue;
    const std::string owner = db.catalog->OwnerName(table->uid);
    const ConstraintDetails d = ReadConstraint(*f);
    for (size_t i = 0; i < d.columns.size(); ++i)
      v.rows.push_back({Text(catalog), Text(owner), Text(f->name), Text(catalog), Text(owner),
                        Text(table->name), Text(d.columns[i]), Int(static_cast<long long>(i + 1))});
  }
  return v;
}

// A row per foreign key, naming the key constraint it refers to.
View ReferentialConstraints(AttachedDatabase& db) {
  View v;
  v.Columns({{"CONSTRAINT_CATALOG", Sysname()},
             {"CONSTRAINT_SCHEMA", Sysname()},
             {"CONSTRAINT_NAME", Sysname()},
             {"UNIQUE_CONSTRAINT_CATALOG", Sysname()},
             {"UNIQUE_CONSTRAINT_SCHEMA", Sysname()},
             {"UNIQUE_CONSTRAINT_NAME", Sysname()},
             {"MATCH_OPTION", SqlType::VarChar(7)},
             {"UPDATE_RULE", SqlType::VarChar(9)},
             {"DELETE_RULE", SqlType::VarChar(9)}});
  const std::string catalog = db.catalog->name();
  for (const ObjectInfo* f : OfType(db, {ObjectType::kForeignKey})) {
    const ConstraintDetails d = ReadConstraint(*f);
    const ObjectInfo* parent = db.catalog->FindById(d.referenced);
    if (!parent) continue;
    std::string key;
    for (const IndexInfo& index : parent->indexes) {
      if ((index.kind != IndexKind::kPrimaryKey && index.kind != IndexKind::kUniqueConstraint) ||
          index.columns.size() != d.ref_columns.size())
        continue;
      bool same = true;
      for (const std::string& c : index.columns)
        same = same && std::any_of(d.ref_columns.begin(), d.ref_columns.end(),
                                   [&](const std::string& r) { return EqualsNoCase(c, r); });
      if (same) key = index.name;
    }
    v.rows.push_back({Text(catalog), Text(db.catalog->OwnerName(f->uid)), Text(f->name),
                      Text(catalog), Text(db.catalog->OwnerName(parent->uid)), Text(key),
                      Text("SIMPLE"), Text("NO ACTION"),
                      Text(d.cascade_delete ? "CASCADE" : "NO ACTION")});
  }
  return v;
}

}  // namespace

std::optional<ResolvedTable> InformationSchemaView(Executor& executor, AttachedDatabase& db,
                                                   std::string_view name) {
  const std::string collation =
      DatabaseProperty(executor.session(), db.catalog->name(), "Collation", true).ToText();
  using Builder = std::function<View()>;
  const std::pair<const char*, Builder> kViews[] = {
      {"SCHEMATA", [&] { return Schemata(executor); }},
      {"TABLES", [&] { return Tables(db); }},
      {"COLUMNS", [&] { return Columns(db, collation); }},
      {"VIEWS", [&] { return Views(db); }},
      {"ROUTINES", [&] { return Routines(db); }},
      {"PARAMETERS", [&] { return Parameters(db, collation); }},
      {"TABLE_CONSTRAINTS", [&] { return TableConstraints(db); }},
      {"KEY_COLUMN_USAGE", [&] { return KeyColumnUsage(db); }},
      {"REFERENTIAL_CONSTRAINTS", [&] { return ReferentialConstraints(db); }},
  };
  for (const auto& [view, build] : kViews)
    if (EqualsNoCase(view, name)) return Make(view, build(), db);
  return std::nullopt;
}

}  // namespace sandbox
