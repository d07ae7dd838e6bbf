// What an administrator asks about the objects of a database: sp_help and its family
// (sp_helptext, sp_helpindex, sp_helpconstraint, sp_helpfile, sp_helpfilegroup) and
// sp_spaceused, with the result columns SQL Server documents for them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/constraints.h"
#include "sandbox/databases.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"
#include "sandbox/session.h"
#include "sandbox/system_procedures.h"
#include "sandbox/system_tables.h"
#include "sandbox/tsql/lexer.h"
#include "sandbox/tsql/parser.h"

namespace sandbox {

using common::Value;

namespace {

SqlType Char(int n) { return SqlType{TypeKind::kChar, n}; }
SqlType NChar(int n) { return SqlType{TypeKind::kNChar, n}; }
SqlType Numeric() { return SqlType{TypeKind::kNumeric, 0, 38, 0}; }

// --- messages ----------------------------------------------------------------------------

SqlError NoSuchObject(std::string_view name, std::string_view database) {
  return errors::Raise<15009>(name, database);
}

SqlError OtherDatabase() { return errors::Raise<15250>(); }

// The object a name given to a procedure stands for in the current database; nullptr when
// there is none. A database part must name the current database (15250).
const ObjectInfo* FindObject(Executor& executor, AttachedDatabase& db, std::string_view text) {
  std::vector<std::string> parts = SplitObjectName(text);
  if (parts.size() > 3 || parts.back().empty()) return nullptr;
  if (parts.size() == 3 && !parts[0].empty() && !EqualsNoCase(parts[0], db.catalog->name()))
    throw OtherDatabase();
  std::string owner = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
  return db.catalog->Find(parts.back(), owner, executor.session().UserId(db));
}

const ObjectInfo& RequireObject(Executor& executor, AttachedDatabase& db, std::string_view text) {
  const ObjectInfo* object = FindObject(executor, db, text);
  if (!object) throw NoSuchObject(text, db.catalog->name());
  return *object;
}

// --- types -------------------------------------------------------------------------------

// The types sp_help gives a precision and scale for.
bool HasPrecision(const SqlType& t) {
  switch (t.kind) {
    case TypeKind::kTinyInt:
    case TypeKind::kSmallInt:
    case TypeKind::kInt:
    case TypeKind::kBigInt:
    case TypeKind::kReal:
    case TypeKind::kFloat:
    case TypeKind::kDecimal:
    case TypeKind::kNumeric:
    case TypeKind::kMoney:
    case TypeKind::kSmallMoney:
      return true;
    default:
      return false;
  }
}

// sp_help's Prec gives a uniqueidentifier its 16 bytes, not the 36 characters of its text.
int Precision(const SqlType& t) {
  return t.kind == TypeKind::kUniqueIdentifier ? 16 : t.Precision();
}

// Scale: none for the approximate and the non-numeric types.
std::optional<int> Scale(const SqlType& t) {
  switch (t.kind) {
    case TypeKind::kDecimal:
    case TypeKind::kNumeric:
      return t.scale;
    case TypeKind::kMoney:
    case TypeKind::kSmallMoney:
      return 4;
    case TypeKind::kDateTime:
      return 3;
    case TypeKind::kBit:
    case TypeKind::kTinyInt:
    case TypeKind::kSmallInt:
    case TypeKind::kInt:
    case TypeKind::kBigInt:
    case TypeKind::kSmallDateTime:
    case TypeKind::kSqlVariant:
      return 0;
    default:
      return std::nullopt;
  }
}

// char(5) texts: "10   ", or blanks for types without a precision.
Value Char5(std::optional<int> v) {
  if (!v) return Value();
  std::string text = std::to_string(*v);
  text.resize(5, ' ');
  return Value(text);
}

std::string DatabaseCollation(Executor& executor, AttachedDatabase& db) {
  return DatabaseProperty(executor.session(), db.catalog->name(), "Collation", true).ToText();
}

// The system types sp_help describes, with systypes' length.
struct SystemType {
  const char* name;
  SqlType type;
  int length;
  bool nullable;
};

const SystemType kSystemTypes[] = {
    {"bigint", {TypeKind::kBigInt}, 8, true},
    {"binary", {TypeKind::kBinary, 8000}, 8000, true},
    {"bit", {TypeKind::kBit}, 1, true},
    {"char", {TypeKind::kChar, 8000}, 8000, true},
    {"datetime", {TypeKind::kDateTime}, 8, true},
    {"decimal", {TypeKind::kDecimal, 0, 38, 38}, 17, true},
    {"float", {TypeKind::kFloat}, 8, true},
    {"image", {TypeKind::kImage}, 16, true},
    {"int", {TypeKind::kInt}, 4, true},
    {"money", {TypeKind::kMoney}, 8, true},
    {"nchar", {TypeKind::kNChar, 4000}, 8000, true},
    {"ntext", {TypeKind::kNText}, 16, true},
    {"numeric", {TypeKind::kNumeric, 0, 38, 38}, 17, true},
    {"nvarchar", {TypeKind::kNVarChar, 4000}, 8000, true},
    {"real", {TypeKind::kReal}, 4, true},
    {"smalldatetime", {TypeKind::kSmallDateTime}, 4, true},
    {"smallint", {TypeKind::kSmallInt}, 2, true},
    {"smallmoney", {TypeKind::kSmallMoney}, 4, true},
    {"sql_variant", {TypeKind::kSqlVariant}, 8016, true},
    {"sysname", {TypeKind::kNVarChar, 128}, 256, false},
    {"text", {TypeKind::kText}, 16, true},
    {"timestamp", {TypeKind::kTimestamp}, 8, false},
    {"tinyint", {TypeKind::kTinyInt}, 1, true},
    {"uniqueidentifier", {TypeKind::kUniqueIdentifier}, 16, true},
    {"varbinary", {TypeKind::kVarBinary, 8000}, 8000, true},
    {"varchar", {TypeKind::kVarChar, 8000}, 8000, true},
};

const SystemType* FindSystemType(std::string_view name) {
  for (const SystemType& t : kSystemTypes)
    if (EqualsNoCase(t.name, name)) return &t;
  return nullptr;
}

// --- sp_help -----------------------------------------------------------------------------

// Object types as sp_help names them.
const char* ObjectTypeName(ObjectType type) {
  switch (type) {
    case ObjectType::kTable:
      return "user table";
    case ObjectType::kView:
      return "view";
    case ObjectType::kProcedure:
      return "stored procedure";
    case ObjectType::kCheck:
      return "check cns";
    case ObjectType::kForeignKey:
      return "foreign key cns";
    case ObjectType::kScalarFunction:
      return "scalar function";
    case ObjectType::kInlineFunction:
      return "inline function";
    case ObjectType::kTableFunction:
      return "table function";
    case ObjectType::kTrigger:
      return "trigger";
  }
  return "user table";
}

std::vector<OutputColumn> TypeColumns(const char* first) {
  return {Col(first, Sysname()),          Col("Storage_type", Sysname()),
          Col("Length", SmallInt()),      Col("Prec", SqlType::Int()),
          Col("Scale", SqlType::Int()),   Col("Nullable", SqlType::VarChar(35)),
          Col("Default_name", Sysname()), Col("Rule_name", Sysname()),
          Col("Collation", Sysname())};
}

// Result sets whose last column is Collation, which 7.0 does not have.
void SendWithCollation(Executor& executor, std::vector<OutputColumn> columns,
                       std::vector<std::vector<Value>> rows) {
  if (executor.MajorVersion() < 8) {
    columns.pop_back();
    for (std::vector<Value>& row : rows) row.pop_back();
  }
  executor.SendRows(columns, rows);
}

void HelpAll(Executor& executor, AttachedDatabase& db) {
  struct Row {
    std::string name, owner, type;
  };
  std::vector<Row> rows;
  for (const ObjectInfo* o : db.catalog->Objects()) {
    std::string owner = db.catalog->OwnerName(o->uid);
    rows.push_back({o->name, owner, ObjectTypeName(o->type)});
    // Key constraints and named defaults are objects of their own to SQL Server.
    for (const IndexInfo& index : o->indexes) {
      if (index.kind == IndexKind::kPrimaryKey)
        rows.push_back({index.name, owner, "primary key cns"});
      else if (index.kind == IndexKind::kUniqueConstraint)
        rows.push_back({index.name, owner, "unique key cns"});
    }
    if (o->type == ObjectType::kTable)
      for (const ColumnInfo& c : o->columns)
        if (!c.default_name.empty()) rows.push_back({c.default_name, owner, "default (maybe cns)"});
  }
  for (const SystemTableEntry& t : SystemTables())
    if (t.Listed(db.dbid))
      rows.push_back({t.name, "dbo", t.type[0] == 'S' ? "system table" : "view"});
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if (a.type != b.type) return a.type > b.type;
    return CollateCompare(a.name, b.name) < 0;
  });
  std::vector<std::vector<Value>> out;
  for (const Row& r : rows) out.push_back({Text(r.name), Text(r.owner), Text(r.type)});
  executor.SendRows(
      {Col("Name", Sysname()), Col("Owner", Sysname()), Col("Object_type", SqlType::NVarChar(31))},
      out);
  // The database has no user-defined types: their list comes back empty.
  SendWithCollation(executor, TypeColumns("User_type"), {});
}

void HelpType(Executor& executor, AttachedDatabase& db, const SystemType& t) {
  std::string collation = t.type.IsCharacter() ? DatabaseCollation(executor, db) : std::string();
  std::optional<int> scale = Scale(t.type);
  SendWithCollation(executor, TypeColumns("Type_name"),
                    {{Text(t.name), Text(t.type.Name()), Int(t.length), Int(Precision(t.type)),
                      scale ? Int(*scale) : Value(), Text(t.nullable ? "yes" : "no"), Value(),
                      Value(), collation.empty() ? Value() : Text(collation)}});
}

void SendIndexes(Executor& executor, const ObjectInfo& object);
bool SendConstraints(Executor& executor, AttachedDatabase& db, const ObjectInfo& object,
                     bool messages);

void HelpObject(Executor& executor, AttachedDatabase& db, const ObjectInfo& o,
                const char* type_name = nullptr) {
  executor.SendRows(
      {Col("Name", Sysname()), Col("Owner", Sysname()), Col("Type", SqlType::NVarChar(31)),
       Col("Created_datetime", SqlType::DateTimeType())},
      {{Text(o.name), Text(db.catalog->OwnerName(o.uid)),
        Text(type_name ? type_name : ObjectTypeName(o.type)), Text(o.crdate)}});
  const std::string collation = DatabaseCollation(executor, db);
  if (o.type == ObjectType::kProcedure) {
    if (o.columns.empty()) return;
    std::vector<std::vector<Value>> params;
    for (const ColumnInfo& c : o.columns) {
      std::optional<int> scale = Scale(c.type);
      params.push_back({Text(c.name), Text(c.type.Name()), Int(c.type.ByteLength()),
                        Int(Precision(c.type)), scale ? Int(*scale) : Value(), Int(c.colid),
                        c.type.IsCharacter() ? Text(collation) : Value()});
    }
    SendWithCollation(
        executor,
        {Col("Parameter_name", Sysname()), Col("Type", Sysname()), Col("Length", SmallInt()),
         Col("Prec", SqlType::Int()), Col("Scale", SqlType::Int()), Col("Param_order", SmallInt()),
         Col("Collation", Sysname())},
        params);
    return;
  }
  if (o.type != ObjectType::kTable && o.type != ObjectType::kView) return;
  std::vector<std::vector<Value>> columns;
  for (const ColumnInfo& c : o.columns) {
    const SqlType& t = c.type;
    bool padded = t.kind == TypeKind::kChar || t.kind == TypeKind::kVarChar ||
                  t.kind == TypeKind::kBinary || t.kind == TypeKind::kVarBinary;
    bool trims = padded || t.kind == TypeKind::kNChar || t.kind == TypeKind::kNVarChar;
    columns.push_back({Text(c.name), Text(t.Name()), Text("no"), Int(t.ByteLength()),
                       HasPrecision(t) ? Char5(Precision(t)) : Text("     "),
                       HasPrecision(t) ? Char5(Scale(t)) : Text("     "),
                       Text(c.nullable ? "yes" : "no"), Text(trims ? "no" : "(n/a)"),
                       Text(padded ? (c.nullable ? "yes" : "no") : "(n/a)"),
                       t.IsCharacter() ? Text(collation) : Value()});
  }
  SendWithCollation(
      executor,
      {Col("Column_name", Sysname()), Col("Type", Sysname()), Col("Computed", SqlType::VarChar(35)),
       Col("Length", SqlType::Int()), Col("Prec", Char(5)), Col("Scale", Char(5)),
       Col("Nullable", SqlType::VarChar(35)), Col("TrimTrailingBlanks", SqlType::VarChar(35)),
       Col("FixedLenNullInSource", SqlType::VarChar(35)), Col("Collation", Sysname())},
      columns);
  const ColumnInfo* identity = o.IdentityColumn();
  executor.SendRows({Col("Identity", Sysname()), Col("Seed", Numeric()),
                     Col("Increment", Numeric()), Col("Not For Replication", SqlType::Int())},
                    {identity ? std::vector<Value>{Text(identity->name), Int(identity->seed),
                                                   Int(identity->increment), Int(0)}
                              : std::vector<Value>{Text("No identity column defined."), Value(),
                                                   Value(), Value()}});
  executor.SendRows({Col("RowGuidCol", Sysname())}, {{Text("No rowguidcol column defined.")}});
  if (o.type == ObjectType::kView) return;
  executor.SendRows({Col("Data_located_on_filegroup", Sysname())}, {{Text("PRIMARY")}});
  SendIndexes(executor, o);
  if (!SendConstraints(executor, db, o, false))
    Inform(executor, errors::Raise<15469>());
}

// sp_help [@objname]: the objects of the database, or one object or data type.
std::int64_t Help(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_help", arguments, {"@objname"});
  AttachedDatabase& db = executor.Db();
  if (!args.Given("@objname") || args.Get("@objname").IsNull()) {
    HelpAll(executor, db);
    return 0;
  }
  const std::string name = args.Text("@objname");
  if (const ObjectInfo* object = FindObject(executor, db, name)) {
    HelpObject(executor, db, *object);
    return 0;
  }
  if (const SystemType* type = FindSystemType(name)) {
    HelpType(executor, db, *type);
    return 0;
  }
  // A system table is described by the columns it is read with.
  std::vector<std::string> parts = SplitObjectName(name);
  const SystemTableEntry* system =
      parts.size() <= 2 && (parts.size() == 1 || EqualsNoCase(parts[0], "dbo"))
          ? FindSystemTable(parts.back(), db.dbid)
          : nullptr;
  if (system) {
    ObjectInfo o;
    o.id = system->id;
    o.name = system->name;
    o.type = system->type[0] == 'S' ? ObjectType::kTable : ObjectType::kView;
    if (auto record = executor.session().instance().FindDatabase(db.dbid))
      o.crdate = record->crdate;
    for (const OutputColumn& c : system->build(executor, db, system->name).columns) {
      ColumnInfo& column = o.columns.emplace_back();
      column.colid = static_cast<int>(o.columns.size());
      column.name = c.name;
      column.type = c.type;
      column.nullable = false;
    }
    HelpObject(executor, db, o, system->type[0] == 'S' ? "system table" : "view");
    return 0;
  }
  throw NoSuchObject(name, db.catalog->name());
}

// --- sp_helptext -------------------------------------------------------------------------

// sp_helptext @objname: the creation text of a view or procedure, a row per line with its line
// end; lines longer than the column are continued on the next row.
std::int64_t HelpText(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helptext", arguments, {"@objname", "@columnname"});
  if (!args.Given("@objname")) throw errors::MissingArgument("sp_helptext", "@objname");
  AttachedDatabase& db = executor.Db();
  const std::string name = args.Text("@objname");
  const ObjectInfo& object = RequireObject(executor, db, name);
  if (object.definition.empty() ||
      (object.type != ObjectType::kView && object.type != ObjectType::kProcedure &&
       object.type != ObjectType::kCheck && object.type != ObjectType::kTrigger &&
       !IsFunction(object.type)))
    throw errors::Raise<15197>(name);
  constexpr size_t kWidth = 255;  // characters of the Text column
  std::vector<std::vector<Value>> rows;
  const std::string& text = object.definition;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string_view line(text.data() + start, end - start);
    while (CodePointCount(line) > kWidth) {
      std::string_view head = CodePointPrefix(line, kWidth);
      rows.push_back({Text(head)});
      line.remove_prefix(head.size());
    }
    rows.push_back({Text(line)});
    start = end;
  }
  executor.SendRows({Col("Text", SqlType::NVarChar(255))}, rows);
  return 0;
}

// --- sp_helpindex ------------------------------------------------------------------------

std::string IndexDescription(const IndexInfo& index) {
  std::string text = index.clustered ? "clustered" : "nonclustered";
  if (index.unique()) text += ", unique";
  if (index.kind == IndexKind::kPrimaryKey) text += ", primary key";
  if (index.kind == IndexKind::kUniqueConstraint) text += ", unique key";
  return text + " located on PRIMARY";
}

std::string IndexKeys(const ObjectInfo& table, const IndexInfo& index) {
  std::string keys;
  for (size_t i = 0; i < index.columns.size(); ++i) {
    const ColumnInfo* column = table.FindColumn(index.columns[i]);
    if (i) keys += ", ";
    keys += column ? column->name : index.columns[i];
    if (i < index.descending.size() && index.descending[i]) keys += "(-)";
  }
  return keys;
}

void SendIndexes(Executor& executor, const ObjectInfo& object) {
  if (object.indexes.empty()) {
    Inform(executor, errors::Raise<15472>());
    return;
  }
  std::vector<const IndexInfo*> indexes;
  for (const IndexInfo& index : object.indexes) indexes.push_back(&index);
  std::sort(indexes.begin(), indexes.end(), [](const IndexInfo* a, const IndexInfo* b) {
    return CollateCompare(a->name, b->name) < 0;
  });
  std::vector<std::vector<Value>> rows;
  for (const IndexInfo* index : indexes)
    rows.push_back(
        {Text(index->name), Text(IndexDescription(*index)), Text(IndexKeys(object, *index))});
  executor.SendRows(
      {Col("index_name", Sysname(), false), Col("index_description", SqlType::VarChar(210)),
       Col("index_keys", SqlType::NVarChar(2078))},
      rows);
}

const ObjectInfo& RequireTable(Executor& executor, AttachedDatabase& db, std::string_view name) {
  const ObjectInfo& object = RequireObject(executor, db, name);
  if (object.type != ObjectType::kTable && object.type != ObjectType::kView)
    throw NoSuchObject(name, db.catalog->name());
  return object;
}

// sp_helpindex @objname: the indexes of a table or view.
std::int64_t HelpIndex(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helpindex", arguments, {"@objname"});
  if (!args.Given("@objname")) throw errors::MissingArgument("sp_helpindex", "@objname");
  AttachedDatabase& db = executor.Db();
  SendIndexes(executor, RequireTable(executor, db, args.Text("@objname")));
  return 0;
}

// --- sp_helpconstraint -------------------------------------------------------------------

// The constraints of a table: keys, defaults and checks. False when it has none.
bool SendConstraints(Executor& executor, AttachedDatabase& db, const ObjectInfo& table,
                     bool messages) {
  struct Row {
    Row(std::string t, std::string n, std::string k, bool c = false)
        : type(std::move(t)), name(std::move(n)), keys(std::move(k)), check(c) {}
    std::string type, name, keys;
    bool check = false;
    std::string delete_action = "(n/a)", status = "Enabled";
    std::string references;  // FOREIGN KEY: the row that follows it
  };
  std::vector<Row> rows;
  for (const IndexInfo& index : table.indexes) {
    if (index.kind != IndexKind::kPrimaryKey && index.kind != IndexKind::kUniqueConstraint)
      continue;
    std::string type = index.kind == IndexKind::kPrimaryKey ? "PRIMARY KEY" : "UNIQUE";
    type += index.clustered ? " (clustered)" : " (non-clustered)";
    rows.push_back({type, index.name, IndexKeys(table, index)});
  }
  for (const ColumnInfo& c : table.columns)
    if (!c.default_name.empty())
      rows.push_back({"DEFAULT on column " + c.name, c.default_name, c.default_text});
  std::vector<std::string> referenced_by;
  for (const ObjectInfo* o : db.catalog->Objects()) {
    if (o->type != ObjectType::kCheck && o->type != ObjectType::kForeignKey) continue;
    const ConstraintDetails d = ReadConstraint(*o);
    const ObjectInfo* child = db.catalog->FindById(o->parent);
    if (o->type == ObjectType::kForeignKey && d.referenced == table.id && child)
      referenced_by.push_back(db.catalog->name() + "." + db.catalog->OwnerName(child->uid) + "." +
                              child->name + ": " + o->name);
    if (o->parent != table.id) continue;
    Row row(o->type == ObjectType::kCheck
                ? (d.column_level ? "CHECK on column " + d.columns.front() : "CHECK Table Level")
                : "FOREIGN KEY",
            o->name, o->definition, true);
    row.status = d.enabled ? "Enabled" : "Disabled";
    if (o->type == ObjectType::kForeignKey) {
      const ObjectInfo* parent = db.catalog->FindById(d.referenced);
      row.delete_action = d.cascade_delete ? "Cascade" : "No Action";
      auto list = [](const std::vector<std::string>& names) {
        std::string out;
        for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
        return out;
      };
      row.keys = list(d.columns);
      if (parent)
        row.references = "REFERENCES " + db.catalog->name() + "." +
                         db.catalog->OwnerName(parent->uid) + "." + parent->name + " (" +
                         list(d.ref_columns) + ")";
    }
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if (a.type != b.type) return a.type < b.type;
    return CollateCompare(a.name, b.name) < 0;
  });
  if (rows.empty()) return false;
  std::vector<std::vector<Value>> out;
  for (const Row& r : rows) {
    out.push_back({Text(r.type), Text(r.name), Text(r.delete_action),
                   Text(r.delete_action == "(n/a)" ? "(n/a)" : "No Action"),
                   Text(r.check ? r.status : "(n/a)"),
                   Text(r.check ? "Is_For_Replication" : "(n/a)"), Text(r.keys)});
    if (!r.references.empty())
      out.push_back(
          {Text(" "), Text(" "), Text(" "), Text(" "), Text(" "), Text(" "), Text(r.references)});
  }
  executor.SendRows(
      {Col("constraint_type", SqlType::NVarChar(146)), Col("constraint_name", Sysname()),
       Col("delete_action", SqlType::NVarChar(9)), Col("update_action", SqlType::NVarChar(9)),
       Col("status_enabled", SqlType::VarChar(8)),
       Col("status_for_replication", SqlType::VarChar(19)),
       Col("constraint_keys", SqlType::NVarChar(2126))},
      out);
  if (!referenced_by.empty()) {
    std::vector<std::vector<Value>> by;
    for (const std::string& r : referenced_by) by.push_back({Text(r)});
    executor.SendRows({Col("Table is referenced by foreign key", SqlType::NVarChar(516))}, by);
  } else if (messages) {
    Inform(executor, errors::Raise<15470>());
  }
  return true;
}

// sp_helpconstraint @objname [, @nomsg]: the table's name, then its constraints.
std::int64_t HelpConstraint(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helpconstraint", arguments, {"@objname", "@nomsg"});
  if (!args.Given("@objname")) throw errors::MissingArgument("sp_helpconstraint", "@objname");
  AttachedDatabase& db = executor.Db();
  const std::string name = args.Text("@objname");
  const ObjectInfo& table = RequireObject(executor, db, name);
  if (table.type != ObjectType::kTable) throw errors::Raise<15218>(name);
  const bool messages = !EqualsNoCase(args.Text("@nomsg"), "nomsg");
  if (messages) executor.SendRows({Col("Object Name", SqlType::NVarChar(776))}, {{Text(name)}});
  if (!SendConstraints(executor, db, table, messages) && messages)
    Inform(executor, errors::Raise<15469>());
  return 0;
}

// --- sp_helpfile and sp_helpfilegroup ----------------------------------------------------

std::vector<DatabaseFileState> CurrentFiles(Executor& executor, AttachedDatabase& db) {
  InstanceImpl& instance = executor.session().instance();
  auto record = instance.FindDatabase(db.dbid);
  if (!record) throw errors::UnknownDatabase(db.catalog->name());
  return ReadDatabaseFiles(instance, *record);
}

std::string Kb(std::int64_t pages) { return std::to_string(pages * 8) + " KB"; }
std::string MaxSize(const DatabaseFileState& f) {
  return f.max_pages < 0 ? "Unlimited" : Kb(f.max_pages);
}
std::string Growth(const DatabaseFileState& f) {
  return f.growth_percent ? std::to_string(f.growth) + "%" : Kb(f.growth);
}

// sp_helpfile [@filename]: the files of the current database, or the one of that logical name.
std::int64_t HelpFile(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helpfile", arguments, {"@filename"});
  AttachedDatabase& db = executor.Db();
  const bool one = args.Given("@filename") && !args.Get("@filename").IsNull();
  std::vector<std::vector<Value>> rows;
  for (const DatabaseFileState& f : CurrentFiles(executor, db)) {
    if (one && !EqualsNoCase(f.name, args.Text("@filename"))) continue;
    rows.push_back({Text(f.name), Int(f.fileid), Text(f.filename),
                    f.log ? Value() : Text("PRIMARY"), Text(Kb(f.size_pages)), Text(MaxSize(f)),
                    Text(Growth(f)), Text(f.log ? "log only" : "data only")});
  }
  executor.SendRows({Col("name", Sysname(), false), Col("fileid", SmallInt(), false),
                     Col("filename", NChar(260), false), Col("filegroup", Sysname()),
                     Col("size", SqlType::NVarChar(18)), Col("maxsize", SqlType::NVarChar(18)),
                     Col("growth", SqlType::NVarChar(18)), Col("usage", SqlType::VarChar(9))},
                    rows);
  return 0;
}

// sp_helpfilegroup [@filegroupname]: the database's one filegroup, PRIMARY, and its files.
std::int64_t HelpFileGroup(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helpfilegroup", arguments, {"@filegroupname"});
  AttachedDatabase& db = executor.Db();
  std::vector<DatabaseFileState> data;
  for (const DatabaseFileState& f : CurrentFiles(executor, db))
    if (!f.log) data.push_back(f);
  const bool one = args.Given("@filegroupname") && !args.Get("@filegroupname").IsNull();
  if (one && !EqualsNoCase(args.Text("@filegroupname"), "PRIMARY"))
    throw errors::Raise<15046>(args.Text("@filegroupname"));
  executor.SendRows({Col("groupname", Sysname(), false), Col("groupid", SmallInt(), false),
                     Col("filecount", SqlType::Int())},
                    {{Text("PRIMARY"), Int(1), Int(static_cast<long long>(data.size()))}});
  if (!one) return 0;
  std::vector<std::vector<Value>> rows;
  for (const DatabaseFileState& f : data)
    rows.push_back({Text(f.name), Int(f.fileid), Text(f.filename), Text(Kb(f.size_pages)),
                    Text(MaxSize(f)), Text(Growth(f))});
  executor.SendRows({Col("file_in_group", Sysname(), false), Col("fileid", SmallInt(), false),
                     Col("filename", NChar(260), false), Col("size", SqlType::NVarChar(15)),
                     Col("maxsize", SqlType::NVarChar(15)), Col("growth", SqlType::NVarChar(15))},
                    rows);
  return 0;
}

// --- sp_spaceused ------------------------------------------------------------------------

// Bytes SQLite uses for the b-trees named (a table and its indexes); 0 when dbstat cannot say.
std::int64_t StoredBytes(Executor& executor, AttachedDatabase& db,
                         const std::vector<std::string>& names) {
  std::int64_t bytes = 0;
  for (const std::string& name : names) {
    if (name.empty()) continue;
    executor.RunSql("SELECT coalesce(sum(pgsize), 0) FROM dbstat(?) WHERE name = ?",
                    {Value(db.schema), Value(name)},
                    [&](sqlite3_stmt* row) { bytes += sqlite3_column_int64(row, 0); });
  }
  return bytes;
}

std::string KbText(std::int64_t bytes) { return std::to_string((bytes + 1023) / 1024) + " KB"; }

// sp_spaceused [@objname] [, @updateusage]: the database's size and use, or a table's rows and
// the space its data and indexes take.
std::int64_t SpaceUsed(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_spaceused", arguments, {"@objname", "@updateusage"});
  AttachedDatabase& db = executor.Db();
  if (args.Given("@updateusage")) {
    std::string update = Lower(args.Text("@updateusage"));
    if (update != "true" && update != "false")
      throw errors::Raise<15143>(args.Text("@updateusage"));
  }
  if (args.Given("@objname") && !args.Get("@objname").IsNull()) {
    const std::string name = args.Text("@objname");
    const ObjectInfo& table = RequireObject(executor, db, name);
    if (table.type != ObjectType::kTable) throw errors::Raise<15234>();
    long long count = 0;
    executor.RunSql("SELECT count(*) FROM \"" + db.schema + "\".\"" + table.storage_name + "\"", {},
                    [&](sqlite3_stmt* row) { count = sqlite3_column_int64(row, 0); });
    std::int64_t data = StoredBytes(executor, db, {table.storage_name});
    std::vector<std::string> index_names;
    for (const IndexInfo& index : table.indexes) index_names.push_back(index.storage_name);
    std::int64_t index = StoredBytes(executor, db, index_names);
    std::string rows = std::to_string(count);
    rows.resize(std::max<size_t>(rows.size(), 11), ' ');
    executor.SendRows(
        {Col("name", Sysname()), Col("rows", Char(11)), Col("reserved", SqlType::VarChar(18)),
         Col("data", SqlType::VarChar(18)), Col("index_size", SqlType::VarChar(18)),
         Col("unused", SqlType::VarChar(18))},
        {{Text(table.name), Text(rows), Text(KbText(data + index)), Text(KbText(data)),
          Text(KbText(index)), Text("0 KB")}});
    return 0;
  }
  std::int64_t data_pages = 0;
  std::int64_t log_pages = 0;
  for (const DatabaseFileState& f : CurrentFiles(executor, db))
    (f.log ? log_pages : data_pages) += f.size_pages;
  std::int64_t used = 0;
  std::int64_t index = 0;
  executor.RunSql(
      "SELECT coalesce(sum(s.pgsize), 0), coalesce(sum(CASE WHEN m.type = 'index' THEN s.pgsize "
      "END), 0) FROM dbstat(?) AS s LEFT JOIN \"" +
          db.schema + "\".sqlite_master AS m ON m.name = s.name",
      {Value(db.schema)}, [&](sqlite3_stmt* row) {
        used = sqlite3_column_int64(row, 0);
        index = sqlite3_column_int64(row, 1);
      });
  const std::int64_t size_bytes = (data_pages + log_pages) * 8192;
  const std::int64_t unallocated = std::max<std::int64_t>(0, data_pages * 8192 - used);
  char size[32], free_space[32];
  std::snprintf(size, sizeof size, "%.2f MB", static_cast<double>(size_bytes) / 1048576.0);
  std::snprintf(free_space, sizeof free_space, "%.2f MB",
                static_cast<double>(unallocated) / 1048576.0);
  executor.SendRows({Col("database_name", Sysname()), Col("database_size", SqlType::VarChar(18)),
                     Col("unallocated space", SqlType::VarChar(18))},
                    {{Text(db.catalog->name()), Text(size), Text(free_space)}});
  executor.SendRows(
      {Col("reserved", SqlType::VarChar(18)), Col("data", SqlType::VarChar(18)),
       Col("index_size", SqlType::VarChar(18)), Col("unused", SqlType::VarChar(18))},
      {{Text(KbText(used)), Text(KbText(used - index)), Text(KbText(index)), Text("0 KB")}});
  return 0;
}

// --- sp_helprotect -----------------------------------------------------------------------

struct ActionName {
  int code;
  const char* name;
  bool statement;
};

const ActionName kActionNames[] = {
    {26, "References", false},      {193, "Select", false},          {195, "Insert", false},
    {196, "Delete", false},         {197, "Update", false},          {224, "Execute", false},
    {178, "Create Function", true}, {198, "Create Table", true},     {203, "Create Database", true},
    {207, "Create View", true},     {222, "Create Procedure", true}, {228, "Backup Database", true},
    {233, "Create Default", true},  {235, "Backup Log", true},       {236, "Create Rule", true},
};

// sp_helprotect [@name] [, @username] [, @grantorname] [, @permissionarea]: the permissions
// granted and denied in the database, on objects ('o') and statements ('s').
std::int64_t HelpProtect(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helprotect", arguments,
                       {"@name", "@username", "@grantorname", "@permissionarea"});
  AttachedDatabase& db = executor.Db();
  const Catalog& catalog = *db.catalog;
  std::string area =
      args.Given("@permissionarea") ? Lower(args.Text("@permissionarea")) : std::string("o s");
  const bool objects = area.find('o') != std::string::npos;
  const bool statements = area.find('s') != std::string::npos;
  if ((!objects && !statements) || area.find_first_not_of("os ,") != std::string::npos)
    throw errors::Raise<15300>();
  auto given = [&](const char* p) { return args.Given(p) && !args.Get(p).IsNull(); };
  const ObjectInfo* named = given("@name") ? FindObject(executor, db, args.Text("@name")) : nullptr;
  struct Row {
    std::string owner, object, grantee, grantor, protect, action, column;
  };
  std::vector<Row> rows;
  executor.RunSql(
      "SELECT id, uid, action, protecttype, grantor FROM " +
          catalog.Table(catalog_tables::kPermissions),
      {}, [&](sqlite3_stmt* st) {
        const std::int64_t id = sqlite3_column_int64(st, 0);
        const int uid = sqlite3_column_int(st, 1);
        const int action = sqlite3_column_int(st, 2);
        const int protect = sqlite3_column_int(st, 3);
        const int grantor = sqlite3_column_int(st, 4);
        const ActionName* a = nullptr;
        for (const ActionName& candidate : kActionNames)
          if (candidate.code == action) a = &candidate;
        if (!a) return;
        const ObjectInfo* object = id ? catalog.FindById(id) : nullptr;
        if (id && !object) return;
        if (object ? !objects : !statements) return;
        if (given("@name") &&
            (object ? object != named : !EqualsNoCase(a->name, args.Text("@name"))))
          return;
        const std::string grantee = catalog.OwnerName(uid);
        const std::string grantor_name = catalog.OwnerName(grantor);
        if (given("@username") && !EqualsNoCase(grantee, args.Text("@username"))) return;
        if (given("@grantorname") && !EqualsNoCase(grantor_name, args.Text("@grantorname"))) return;
        const bool columns = object && object->type != ObjectType::kProcedure &&
                             (action == 193 || action == 197 || action == 26);
        rows.push_back({object ? catalog.OwnerName(object->uid) : ".", object ? object->name : ".",
                        grantee, grantor_name,
                        protect == 206   ? "Deny"
                        : protect == 204 ? "Grant_WGO"
                                         : "Grant",
                        a->name, columns ? "(All+New)" : "."});
      });
  if (rows.empty()) throw errors::Raise<15330>();
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::tie(a.owner, a.object, a.grantee, a.grantor, a.protect, a.action) <
           std::tie(b.owner, b.object, b.grantee, b.grantor, b.protect, b.action);
  });
  std::vector<std::vector<Value>> out;
  for (Row& r : rows) {
    r.protect.resize(10, ' ');
    out.push_back({Text(r.owner), Text(r.object), Text(r.grantee), Text(r.grantor), Text(r.protect),
                   Text(r.action), Text(r.column)});
  }
  executor.SendRows({Col("Owner", Sysname()), Col("Object", Sysname()), Col("Grantee", Sysname()),
                     Col("Grantor", Sysname()), Col("ProtectType", Char(10)),
                     Col("Action", SqlType::VarChar(20)), Col("Column", Sysname())},
                    out);
  return 0;
}

// --- sp_depends --------------------------------------------------------------------------

// How a view or procedure uses another object, read from its text: the names it mentions,
// whether one is the target of INSERT, UPDATE or DELETE, and which of its columns it names.
struct Use {
  const ObjectInfo* object = nullptr;
  bool updated = false;
  bool selected = false;
};

std::vector<Use> UsesOf(const Catalog& catalog, const ObjectInfo& user) {
  std::vector<tsql::Token> tokens;
  try {
    tokens = tsql::Lexer(user.definition, true).Tokenize();
  } catch (const tsql::ParseError&) {
    return {};
  }
  std::vector<Use> uses;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (!tokens[i].IsName() || (i > 0 && tokens[i - 1].IsSymbol("."))) continue;
    // name, owner.name or database.owner.name: the last part is the object.
    size_t last = i;
    std::string owner;
    while (last + 2 < tokens.size() && tokens[last + 1].IsSymbol(".") &&
           tokens[last + 2].IsName()) {
      owner = tokens[last].value;
      last += 2;
    }
    const ObjectInfo* object = catalog.Find(tokens[last].value, owner);
    if (!object || object == &user ||
        (object->type != ObjectType::kTable && object->type != ObjectType::kView &&
         object->type != ObjectType::kProcedure))
      continue;
    auto previous = [&](size_t back) -> const tsql::Token* {
      return i >= back ? &tokens[i - back] : nullptr;
    };
    auto is = [](const tsql::Token* t, std::string_view word) { return t && t->IsWord(word); };
    const bool target = is(previous(1), "UPDATE") || is(previous(1), "INSERT") ||
                        (is(previous(1), "INTO") && is(previous(2), "INSERT")) ||
                        is(previous(1), "DELETE") ||
                        (is(previous(1), "FROM") && is(previous(2), "DELETE"));
    auto it =
        std::find_if(uses.begin(), uses.end(), [&](const Use& u) { return u.object == object; });
    if (it == uses.end()) it = uses.insert(uses.end(), Use{object, false, false});
    (target ? it->updated : it->selected) = true;
    i = last;
  }
  return uses;
}

// Whether the text names the column (as a word of its own).
bool Mentions(const std::string& text, std::string_view column) {
  try {
    for (const tsql::Token& t : tsql::Lexer(text, true).Tokenize())
      if (t.IsName() && EqualsNoCase(t.value, column)) return true;
  } catch (const tsql::ParseError&) {
  }
  return false;
}

// sp_depends @objname: what the object uses (with the columns its text names) and what uses it.
std::int64_t Depends(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_depends", arguments, {"@objname"});
  if (!args.Given("@objname")) throw errors::MissingArgument("sp_depends", "@objname");
  AttachedDatabase& db = executor.Db();
  const Catalog& catalog = *db.catalog;
  const ObjectInfo& object = RequireObject(executor, db, args.Text("@objname"));
  auto qualified = [&](const ObjectInfo& o) { return catalog.OwnerName(o.uid) + "." + o.name; };
  std::vector<std::vector<Value>> uses;
  if (object.type == ObjectType::kView || object.type == ObjectType::kProcedure) {
    for (const Use& use : UsesOf(catalog, object)) {
      std::vector<const ColumnInfo*> columns;
      if (use.object->type != ObjectType::kProcedure)
        for (const ColumnInfo& c : use.object->columns)
          if (Mentions(object.definition, c.name)) columns.push_back(&c);
      if (columns.empty()) columns.push_back(nullptr);
      for (const ColumnInfo* c : columns)
        uses.push_back({Text(qualified(*use.object)), Text(ObjectTypeName(use.object->type)),
                        Text(use.updated ? "yes" : "no"), Text(use.selected ? "yes" : "no"),
                        c ? Text(c->name) : Value()});
    }
  }
  std::vector<std::vector<Value>> users;
  for (const ObjectInfo* o : catalog.Objects()) {
    if (o->type != ObjectType::kView && o->type != ObjectType::kProcedure) continue;
    for (const Use& use : UsesOf(catalog, *o))
      if (use.object == &object)
        users.push_back({Text(qualified(*o)), Text(ObjectTypeName(o->type))});
  }
  if (uses.empty() && users.empty()) {
    Inform(executor, errors::Raise<15461>());
    return 0;
  }
  if (!uses.empty()) {
    executor.Info(0, "In the current database, the specified object references the following:", 0);
    executor.SendRows({Col("name", SqlType::NVarChar(257)), Col("type", SqlType::NVarChar(16)),
                       Col("updated", SqlType::NVarChar(7)), Col("selected", SqlType::NVarChar(8)),
                       Col("column", Sysname())},
                      uses);
  }
  if (!users.empty()) {
    executor.Info(
        0, "In the current database, the specified object is referenced by the following:", 0);
    executor.SendRows({Col("name", SqlType::NVarChar(257)), Col("type", SqlType::NVarChar(16))},
                      users);
  }
  return 0;
}

}  // namespace

void AddHelpProcedures(SystemProcedureTable& table) {
  table.emplace("sp_help", Help);
  table.emplace("sp_helptext", HelpText);
  table.emplace("sp_helpindex", HelpIndex);
  table.emplace("sp_helpconstraint", HelpConstraint);
  table.emplace("sp_helpfile", HelpFile);
  table.emplace("sp_helpfilegroup", HelpFileGroup);
  table.emplace("sp_spaceused", SpaceUsed);
  table.emplace("sp_helprotect", HelpProtect);
  table.emplace("sp_depends", Depends);
}

}  // namespace sandbox
