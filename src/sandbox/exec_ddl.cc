// DDL: tables, indexes, views, procedures, databases and permissions, kept in both the
// catalogue and the SQLite schema.
#include <algorithm>
#include <cstdio>
#include <random>

#include "sandbox/collation.h"
#include "sandbox/constraints.h"
#include "sandbox/databases.h"
#include "sandbox/executor.h"
#include "sandbox/fulltext.h"
#include "sandbox/messages.h"
#include "sandbox/routine_objects.h"
#include "sandbox/security.h"
#include "sandbox/tsql/printer.h"

namespace sandbox {

using common::Value;
using namespace tsql;

std::string GeneratedName(std::string_view prefix, std::string_view table,
                          std::string_view column) {
  // SQL Server's system names: PK__Document__0AD2A005 and the like.
  static thread_local std::mt19937 generator{std::random_device{}()};
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08X", static_cast<unsigned>(generator()));
  std::string out(prefix);
  out += "__";
  out += std::string(CodePointPrefix(table, 8));
  out += "__";
  if (!column.empty()) {
    out += std::string(CodePointPrefix(column, 5));
    out += "__";
  }
  out += suffix;
  return out;
}

namespace {

std::string ColumnDeclaration(const ColumnInfo& c) {
  std::string out = QuoteIdentifier(c.name) + " " + c.type.SqliteDeclaration();
  if (!c.nullable) out += " NOT NULL";
  return out;
}

std::string IndexColumns(const IndexInfo& index) {
  std::string out;
  for (size_t i = 0; i < index.columns.size(); ++i) {
    out += (i ? ", " : "") + QuoteIdentifier(index.columns[i]);
    if (i < index.descending.size() && index.descending[i]) out += " DESC";
  }
  return out;
}

std::int64_t SizeInKb(const std::string& text, std::int64_t fallback) {
  if (text.empty()) return fallback;
  double number = 0;
  size_t pos = 0;
  try {
    number = std::stod(text, &pos);
  } catch (...) {
    return fallback;
  }
  std::string unit = Upper(text.substr(pos));
  if (unit == "KB") return static_cast<std::int64_t>(number);
  if (unit == "GB") return static_cast<std::int64_t>(number * 1024 * 1024);
  if (unit == "TB") return static_cast<std::int64_t>(number * 1024 * 1024 * 1024);
  return static_cast<std::int64_t>(number * 1024);
}

struct Action {
  const char* name;
  int code;
};

constexpr Action kActions[] = {
    {"REFERENCES", 26},        {"CREATE FUNCTION", 178}, {"SELECT", 193},
    {"INSERT", 195},           {"DELETE", 196},          {"UPDATE", 197},
    {"CREATE TABLE", 198},     {"CREATE DATABASE", 203}, {"CREATE VIEW", 207},
    {"CREATE PROCEDURE", 222}, {"EXECUTE", 224},         {"BACKUP DATABASE", 228},
    {"CREATE DEFAULT", 233},   {"BACKUP LOG", 235},      {"CREATE RULE", 236},
};

}  // namespace

std::string StorageNameFor(std::string_view owner, std::string_view name) {
  std::string storage =
      EqualsNoCase(owner, "dbo") ? std::string(name) : std::string(owner) + "." + std::string(name);
  if (Lower(storage).rfind("sandbox$", 0) == 0) storage = "u$" + storage;
  return storage;
}

void Executor::CreateStorageIndex(const std::string& schema, const std::string& table,
                                  const IndexInfo& index) {
  std::string sql = std::string(index.unique() ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                    QuoteIdentifier(schema) + "." + QuoteIdentifier(index.storage_name) + " ON " +
                    QuoteIdentifier(table) + " (" + IndexColumns(index) + ")";
  try {
    session_.connection().Exec(sql);
  } catch (const SqliteError& e) {
    if ((e.code() & 0xFF) == SQLITE_CONSTRAINT)
      throw errors::Raise<1505>(index.indid, index.columns.empty() ? "" : index.columns[0]);
    throw;
  }
}

void Executor::BuildTable(const std::string& storage, const ObjectInfo& info) {
  std::string schema = storage.substr(0, storage.find('\x1f'));
  std::string name = storage.substr(storage.find('\x1f') + 1);
  std::string sql = "CREATE TABLE " + QuoteIdentifier(schema) + "." + QuoteIdentifier(name) + " (";
  for (size_t i = 0; i < info.columns.size(); ++i)
    sql += (i ? ", " : "") + ColumnDeclaration(info.columns[i]);
  sql += ")";
  session_.connection().Exec(sql);
  for (const IndexInfo& index : info.indexes) CreateStorageIndex(schema, name, index);
}

ObjectInfo Executor::DefineTable(const std::string& name, const TableDefinition& definition) {
  CheckIdentifier(name);
  ObjectInfo info;
  info.name = name;
  int column_number = 0;
  for (const ColumnDef& def : definition.columns) {
    ++column_number;
    CheckIdentifier(def.name);
    if (info.FindColumn(def.name)) throw errors::Raise<2705>(def.name, name);
    if (def.computed) throw errors::Unsupported("computed columns");
    ColumnInfo c;
    c.name = def.name;
    try {
      c.type = Translator::ResolveType(def.type, false, MajorVersion());
    } catch (const SqlError& e) {
      if (e.number() != 243) throw;
      throw errors::Raise<2715>(column_number, def.type.name);
    }
    c.nullable =
        def.nullability == Nullability::kNull ||
        (def.nullability == Nullability::kNotStated && session_.options().ansi_null_default_on);
    if (def.identity) {
      bool integral = c.type.IsInteger() ||
                      ((c.type.kind == TypeKind::kDecimal || c.type.kind == TypeKind::kNumeric) &&
                       c.type.scale == 0);
      if (!integral) throw errors::Raise<2749>(c.name);
      if (info.IdentityColumn()) throw errors::Raise<2744>(name);
      if (def.identity_increment == 0) throw errors::Raise<2748>();
      c.identity = true;
      c.seed = def.identity_seed;
      c.increment = def.identity_increment;
      c.nullable = false;
    }
    if (def.default_value) {
      c.default_text = "(" + ToSql(*def.default_value) + ")";
      c.default_name =
          def.default_name.empty() ? GeneratedName("DF", name, def.name) : def.default_name;
      CheckIdentifier(c.default_name);
    }
    info.columns.push_back(std::move(c));
  }
  // Constraints written with a column and those of the table alike.
  std::vector<const TableConstraint*> constraints;
  for (const ColumnDef& def : definition.columns)
    for (const TableConstraint& k : def.constraints) constraints.push_back(&k);
  for (const TableConstraint& k : definition.constraints) constraints.push_back(&k);
  int next_indid = 2;
  bool has_clustered = false;
  for (const TableConstraint* k : constraints) {
    if (k->type == TableConstraint::Type::kPrimaryKey ||
        k->type == TableConstraint::Type::kUnique) {
      bool primary = k->type == TableConstraint::Type::kPrimaryKey;
      if (primary && info.PrimaryKey()) throw errors::Raise<8110>(name);
      IndexInfo index;
      index.kind = primary ? IndexKind::kPrimaryKey : IndexKind::kUniqueConstraint;
      index.name = k->name.empty() ? GeneratedName(primary ? "PK" : "UQ", name, "") : k->name;
      CheckIdentifier(index.name);
      for (const IndexColumn& ic : k->columns) {
        ColumnInfo* c = nullptr;
        for (ColumnInfo& candidate : info.columns)
          if (EqualsNoCase(candidate.name, ic.name)) c = &candidate;
        if (!c) throw errors::Raise<1911>(ic.name);
        if (primary) {
          const ColumnDef* def = nullptr;
          for (const ColumnDef& d : definition.columns)
            if (EqualsNoCase(d.name, ic.name)) def = &d;
          if (def && def->nullability == Nullability::kNull) throw errors::Raise<8111>(name);
          c->nullable = false;
        }
        if (c->type.IsLarge()) throw errors::Raise<1919>(c->name, name);
        index.columns.push_back(c->name);
        index.descending.push_back(ic.descending);
      }
      index.clustered = k->clustered.value_or(primary) && !has_clustered;
      if (index.clustered) has_clustered = true;
      index.indid = index.clustered ? 1 : next_indid++;
      info.indexes.push_back(std::move(index));
    } else if (k->type == TableConstraint::Type::kDefault) {
      if (k->columns.empty()) continue;
      ColumnInfo* c = nullptr;
      for (ColumnInfo& candidate : info.columns)
        if (EqualsNoCase(candidate.name, k->columns[0].name)) c = &candidate;
      if (!c) throw errors::InvalidColumn(k->columns[0].name);
      if (k->expr) {
        c->default_text = "(" + ToSql(*k->expr) + ")";
        c->default_name = k->name.empty() ? GeneratedName("DF", name, c->name) : k->name;
      }
    }
    // CHECK and FOREIGN KEY constraints are objects of their own, made once the table is.
  }
  for (IndexInfo& index : info.indexes) index.storage_name = name + "$" + index.name;
  return info;
}

void Executor::RegisterTable(const ObjectName& name, ObjectInfo info) {
  if (name.IsTemporary()) {
    std::string key = Lower(name.name);
    if (session_.temp_tables().count(key)) throw errors::ObjectExists(name.name);
    info.name = name.name;
    info.storage_name = name.name;
    info.id = session_.NextTempId();
    for (IndexInfo& index : info.indexes) index.storage_name = info.storage_name + "$" + index.name;
    BuildTable("temp\x1f" + info.storage_name, info);
    TempTable temp;
    temp.info = std::move(info);
    temp.frame_depth = static_cast<int>(frames_.size()) - 1;
    session_.temp_tables()[key] = std::move(temp);
    return;
  }
  AttachedDatabase& db = name.database.empty() ? Db() : session_.Database(name.database);
  CheckPermission("CREATE TABLE", db, nullptr);
  const PrincipalInfo* principal = &OwnerForCreate(db, name.owner);
  if (db.catalog->Find(name.name, principal->name)) throw errors::ObjectExists(name.name);
  info.name = name.name;
  info.uid = principal->uid;
  info.type = ObjectType::kTable;
  info.storage_name = StorageNameFor(principal->name, name.name);
  for (IndexInfo& index : info.indexes) index.storage_name = info.storage_name + "$" + index.name;
  Connection& connection = session_.connection();
  info.id = db.catalog->NextObjectId(connection);
  BuildTable(db.schema + "\x1f" + info.storage_name, info);
  db.catalog->InsertObject(connection, info);
  db.catalog->ReloadObject(connection, info.id);
  session_.CatalogChanged(db.dbid);
}

void Executor::CreateTable(const CreateTableStatement& s) {
  ObjectInfo info = DefineTable(s.name.name, s.definition);
  if (s.name.IsTemporary() && CodePointCount(s.name.name) > 116)
    throw errors::Raise<193>(s.name.name, 116);
  std::vector<std::pair<const TableConstraint*, std::string>> checks;
  for (const ColumnDef& def : s.definition.columns)
    for (const TableConstraint& k : def.constraints) checks.emplace_back(&k, def.name);
  for (const TableConstraint& k : s.definition.constraints) checks.emplace_back(&k, "");
  std::erase_if(checks, [](const auto& k) {
    return k.first->type != TableConstraint::Type::kCheck &&
           k.first->type != TableConstraint::Type::kForeignKey;
  });
  // #tables keep no catalogue objects: refused rather than left unchecked.
  if (s.name.IsTemporary() && !checks.empty())
    throw errors::Unsupported("CHECK and FOREIGN KEY constraints on temporary tables");
  RegisterTable(s.name, std::move(info));
  AddConstraints(ResolveTable(s.name), checks, false);
  session_.rowcount = 0;
  SendDone(-1);
}

void Executor::DropTemp(const std::string& key) {
  auto& temps = session_.temp_tables();
  auto it = temps.find(key);
  if (it == temps.end()) return;
  try {
    session_.connection().Exec("DROP TABLE IF EXISTS \"temp\"." +
                               QuoteIdentifier(it->second.info.storage_name));
  } catch (const SqliteError&) {
  }
  temps.erase(it);
}

void Executor::RebuildTable(AttachedDatabase& db, const ObjectInfo& before, ObjectInfo after,
                            const std::vector<std::pair<std::string, std::string>>& copy) {
  bool temp = before.id < 0;
  if (!temp) FullText(session_, db).CheckTableChange(before, after);
  std::string schema = temp ? "temp" : db.schema;
  std::string scratch = "sandbox$rebuild";
  Connection& connection = session_.connection();
  std::string sql =
      "CREATE TABLE " + QuoteIdentifier(schema) + "." + QuoteIdentifier(scratch) + " (";
  for (size_t i = 0; i < after.columns.size(); ++i)
    sql += (i ? ", " : "") + ColumnDeclaration(after.columns[i]);
  sql += ")";
  connection.Exec(sql);
  std::string targets, sources;
  for (const auto& [target, source] : copy) {
    targets += (targets.empty() ? "" : ", ") + QuoteIdentifier(target);
    sources += (sources.empty() ? "" : ", ") + source;
  }
  if (!copy.empty()) {
    std::string insert = "INSERT INTO " + QuoteIdentifier(schema) + "." + QuoteIdentifier(scratch) +
                         " (" + targets + ") SELECT " + sources + " FROM " +
                         QuoteIdentifier(schema) + "." + QuoteIdentifier(before.storage_name);
    try {
      RunSql(insert, {});
    } catch (const SqliteError& e) {
      ResolvedTable t;
      t.name = after.name;
      t.database = db.catalog->name();
      t.object = &after;
      t.kind = temp ? ResolvedTable::Kind::kTemp : ResolvedTable::Kind::kTable;
      throw MapSqliteError(e, &t, false);
    }
  }
  // Views that read the table keep their text; the old table's name is taken over as it is.
  connection.Exec("PRAGMA legacy_alter_table = ON");
  try {
    connection.Exec("DROP TABLE " + QuoteIdentifier(schema) + "." +
                    QuoteIdentifier(before.storage_name));
    connection.Exec("ALTER TABLE " + QuoteIdentifier(schema) + "." + QuoteIdentifier(scratch) +
                    " RENAME TO " + QuoteIdentifier(after.storage_name));
  } catch (...) {
    connection.Exec("PRAGMA legacy_alter_table = OFF");
    throw;
  }
  connection.Exec("PRAGMA legacy_alter_table = OFF");
  connection.ClearCache();
  for (IndexInfo& index : after.indexes) {
    index.storage_name = after.storage_name + "$" + index.name;
    CreateStorageIndex(schema, after.storage_name, index);
  }
  if (temp) {
    TempTable* t = session_.FindTemp(before.name);
    t->info = std::move(after);
  } else {
    db.catalog->RewriteObject(connection, after);
    db.catalog->ReloadObject(connection, after.id);
    session_.CatalogChanged(db.dbid);
    // The table was made anew: its change-tracking triggers went with the old one.
    if (const ObjectInfo* rebuilt = db.catalog->FindById(after.id))
      FullText(session_, db).AfterTableRebuilt(*rebuilt);
  }
}

void Executor::AlterTable(const AlterTableStatement& s) {
  ResolvedTable table = ResolveTable(s.table);
  if (table.kind == ResolvedTable::Kind::kView || table.kind == ResolvedTable::Kind::kSystem)
    throw errors::Raise<4902>(table.name);
  AttachedDatabase& db =
      table.kind == ResolvedTable::Kind::kTemp ? Db() : session_.Database(table.dbid);
  if (table.kind != ResolvedTable::Kind::kTemp) CheckPermission("ALTER", db, table.object);
  const ObjectInfo before = *table.object;
  ObjectInfo after = before;
  std::vector<std::pair<std::string, std::string>> copy;
  for (const ColumnInfo& c : before.columns) copy.emplace_back(c.name, QuoteIdentifier(c.name));
  std::vector<Value> params;
  Translator translator(*this, params);
  auto dependants = [&](const std::string& column) -> std::string {
    for (const IndexInfo& index : before.indexes)
      for (const std::string& c : index.columns)
        if (EqualsNoCase(c, column)) return index.name;
    return table.kind == ResolvedTable::Kind::kTable
               ? ConstraintUsing(*db.catalog, before.id, column)
               : std::string();
  };
  bool rows = false;
  RunSql("SELECT 1 FROM " + table.sql + " LIMIT 1", {}, [&](sqlite3_stmt*) { rows = true; });

  switch (s.action) {
    case AlterTableStatement::Action::kAdd: {
      for (const ColumnDef& def : s.add_columns) {
        CheckIdentifier(def.name);
        if (after.FindColumn(def.name)) throw errors::Raise<2705>(def.name, before.name);
      }
      for (const ColumnDef& def : s.add_columns) {
        ColumnInfo c;
        c.name = def.name;
        try {
          c.type = Translator::ResolveType(def.type, false, MajorVersion());
        } catch (const SqlError& e) {
          if (e.number() != 243) throw;
          throw errors::Raise<2715>(after.columns.size() + 1, def.type.name);
        }
        c.nullable =
            def.nullability == Nullability::kNull ||
            (def.nullability == Nullability::kNotStated && session_.options().ansi_null_default_on);
        if (def.identity) {
          if (after.IdentityColumn()) throw errors::Raise<2744>(before.name);
          c.identity = true;
          c.seed = def.identity_seed;
          c.increment = def.identity_increment;
          c.nullable = false;
        }
        if (def.default_value) {
          c.default_text = "(" + ToSql(*def.default_value) + ")";
          c.default_name = def.default_name.empty() ? GeneratedName("DF", before.name, def.name)
                                                    : def.default_name;
        }
        if (!c.nullable && c.default_text.empty() && !c.identity && rows)
          throw errors::Raise<4901>(c.name, before.name);
        if (!c.default_text.empty() && !c.nullable) {
          TypedSql d = translator.Expression(session_.ParsedDefault(c.default_text), nullptr);
          copy.emplace_back(c.name, translator.ConvertSql(d, c.type, Fit::kFail));
        } else if (c.identity) {
          copy.emplace_back(c.name, "(" + std::to_string(c.seed) + " + (rowid - 1) * " +
                                        std::to_string(c.increment) + ")");
        }
        after.columns.push_back(std::move(c));
        for (const TableConstraint& k : def.constraints) {
          if (k.type == TableConstraint::Type::kPrimaryKey ||
              k.type == TableConstraint::Type::kUnique) {
            IndexInfo index;
            index.kind = k.type == TableConstraint::Type::kPrimaryKey
                             ? IndexKind::kPrimaryKey
                             : IndexKind::kUniqueConstraint;
            index.name =
                k.name.empty()
                    ? GeneratedName(k.type == TableConstraint::Type::kPrimaryKey ? "PK" : "UQ",
                                    before.name, "")
                    : k.name;
            index.columns.push_back(def.name);
            index.descending.push_back(false);
            index.indid = static_cast<int>(after.indexes.size()) + 2;
            after.indexes.push_back(index);
          }
        }
      }
      for (const TableConstraint& k : s.add_constraints) {
        if (k.type == TableConstraint::Type::kPrimaryKey ||
            k.type == TableConstraint::Type::kUnique) {
          bool primary = k.type == TableConstraint::Type::kPrimaryKey;
          if (primary && after.PrimaryKey()) throw errors::Raise<1779>(before.name);
          IndexInfo index;
          index.kind = primary ? IndexKind::kPrimaryKey : IndexKind::kUniqueConstraint;
          index.name =
              k.name.empty() ? GeneratedName(primary ? "PK" : "UQ", before.name, "") : k.name;
          CheckIdentifier(index.name);
          if (after.FindIndex(index.name)) throw errors::ObjectExists(index.name);
          for (const IndexColumn& ic : k.columns) {
            ColumnInfo* c = nullptr;
            for (ColumnInfo& candidate : after.columns)
              if (EqualsNoCase(candidate.name, ic.name)) c = &candidate;
            if (!c) throw errors::Raise<1911>(ic.name);
            if (primary && c->nullable) throw errors::Raise<8111>(before.name);
            index.columns.push_back(c->name);
            index.descending.push_back(ic.descending);
          }
          bool clustered_taken = std::any_of(after.indexes.begin(), after.indexes.end(),
                                             [](const IndexInfo& i) { return i.clustered; });
          index.clustered = k.clustered.value_or(primary) && !clustered_taken;
          int highest = 1;
          for (const IndexInfo& i : after.indexes) highest = std::max(highest, i.indid);
          index.indid = index.clustered ? 1 : highest + 1;
          after.indexes.push_back(std::move(index));
        } else if (k.type == TableConstraint::Type::kDefault) {
          if (k.columns.empty() || !k.expr) continue;
          ColumnInfo* c = nullptr;
          for (ColumnInfo& candidate : after.columns)
            if (EqualsNoCase(candidate.name, k.columns[0].name)) c = &candidate;
          if (!c) throw errors::InvalidColumn(k.columns[0].name);
          if (!c->default_text.empty()) throw errors::Raise<1781>();
          c->default_text = "(" + ToSql(*k.expr) + ")";
          c->default_name = k.name.empty() ? GeneratedName("DF", before.name, c->name) : k.name;
          // A default alone changes no stored row.
          if (table.kind == ResolvedTable::Kind::kTemp) {
            session_.FindTemp(before.name)->info = after;
          } else {
            db.catalog->RewriteObject(session_.connection(), after);
            db.catalog->ReloadObject(session_.connection(), after.id);
            session_.CatalogChanged(db.dbid);
          }
          SendDone(-1);
          return;
        }
      }
      break;
    }
    case AlterTableStatement::Action::kAlterColumn: {
      const ColumnDef& def = s.alter_column;
      ColumnInfo* c = nullptr;
      for (ColumnInfo& candidate : after.columns)
        if (EqualsNoCase(candidate.name, def.name)) c = &candidate;
      if (!c) throw errors::InvalidColumn(def.name);
      if (c->identity) throw errors::Raise<4928>(c->name, "IDENTITY");
      std::string dependant = dependants(c->name);
      SqlType type = Translator::ResolveType(def.type, false, MajorVersion());
      if (!dependant.empty() && !(type == c->type)) {
        Inform(*this, errors::Raise<5074>(dependant, c->name));
        throw errors::Raise<4922>("ALTER COLUMN", c->name);
      }
      SqlType old_type = c->type;
      c->type = type;
      c->nullable =
          def.nullability != Nullability::kNotNull &&
          (def.nullability == Nullability::kNull || session_.options().ansi_null_default_on);
      for (auto& [target, source] : copy) {
        if (!EqualsNoCase(target, c->name)) continue;
        TypedSql value;
        value.sql = source;
        value.type = old_type;
        source = translator.ConvertSql(value, type, Fit::kFail);
      }
      break;
    }
    case AlterTableStatement::Action::kDropColumn: {
      for (const std::string& name : s.names) {
        auto it = std::find_if(after.columns.begin(), after.columns.end(),
                               [&](const ColumnInfo& c) { return EqualsNoCase(c.name, name); });
        if (it == after.columns.end()) throw errors::Raise<4924>(name, before.name);
        std::string dependant = dependants(it->name);
        if (dependant.empty() && !it->default_name.empty()) dependant = it->default_name;
        if (!dependant.empty()) {
          Inform(*this, errors::Raise<5074>(dependant, it->name));
          throw errors::Raise<4922>("DROP COLUMN", it->name);
        }
        copy.erase(std::remove_if(copy.begin(), copy.end(),
                                  [&](const auto& p) { return EqualsNoCase(p.first, it->name); }),
                   copy.end());
        after.columns.erase(it);
      }
      if (after.columns.empty()) throw errors::Raise<4923>(s.names.back(), before.name);
      break;
    }
    case AlterTableStatement::Action::kDropConstraint: {
      bool rebuild = false;  // CHECK and FOREIGN KEY constraints leave the table as it is
      for (const std::string& name : s.names) {
        bool found = false;
        for (auto it = after.indexes.begin(); it != after.indexes.end(); ++it) {
          if (EqualsNoCase(it->name, name) && it->kind != IndexKind::kIndex &&
              it->kind != IndexKind::kUniqueIndex) {
            if (std::string child = ReferencingConstraint(table, true); !child.empty()) {
              Inform(*this, errors::Raise<3725>(it->name, child));
              throw errors::Raise<3727>();
            }
            after.indexes.erase(it);
            found = true;
            break;
          }
        }
        for (ColumnInfo& c : after.columns) {
          if (!found && EqualsNoCase(c.default_name, name)) {
            c.default_name.clear();
            c.default_text.clear();
            found = true;
          }
        }
        rebuild = rebuild || found;
        if (!found) found = DropConstraint(table, name);
        if (!found) {
          Inform(*this, errors::Raise<3728>(name));
          throw errors::Raise<3727>();
        }
      }
      if (!rebuild) {
        SendDone(-1);
        return;
      }
      break;
    }
    case AlterTableStatement::Action::kCheckConstraint:
      EnableConstraints(table, s.names, s.enable, s.with_check.value_or(false));
      SendDone(-1);
      return;
    case AlterTableStatement::Action::kEnableTrigger:
      return EnableTriggers(table, s.names, s.enable);
  }
  for (const ColumnInfo& c : after.columns) CheckIdentifier(c.name);
  std::vector<std::pair<const TableConstraint*, std::string>> checks;
  if (s.action == AlterTableStatement::Action::kAdd) {
    for (const ColumnDef& def : s.add_columns)
      for (const TableConstraint& k : def.constraints) checks.emplace_back(&k, def.name);
    for (const TableConstraint& k : s.add_constraints) checks.emplace_back(&k, "");
    std::erase_if(checks, [](const auto& k) {
      return k.first->type != TableConstraint::Type::kCheck &&
             k.first->type != TableConstraint::Type::kForeignKey;
    });
    if (!checks.empty() && table.kind == ResolvedTable::Kind::kTemp)
      throw errors::Unsupported("CHECK and FOREIGN KEY constraints on temporary tables");
    // Nothing else added: the table stays as it is.
    if (!checks.empty() && s.add_columns.empty() &&
        std::all_of(s.add_constraints.begin(), s.add_constraints.end(), [](const auto& k) {
          return k.type == TableConstraint::Type::kCheck ||
                 k.type == TableConstraint::Type::kForeignKey;
        })) {
      AddConstraints(table, checks, s.with_check.value_or(true));
      SendDone(-1);
      return;
    }
  }
  RebuildTable(db, before, std::move(after), copy);
  if (!checks.empty()) AddConstraints(ResolveTable(s.table), checks, s.with_check.value_or(true));
  AfterChange(table, 1, current_ ? current_->span.TextIn(frame().text) : "");
  SendDone(-1);
}

void Executor::DropObjects(const DropObjectsStatement& s) {
  ObjectType wanted = s.kind == tsql::Statement::Kind::kDropTable      ? ObjectType::kTable
                      : s.kind == tsql::Statement::Kind::kDropView     ? ObjectType::kView
                      : s.kind == tsql::Statement::Kind::kDropFunction ? ObjectType::kScalarFunction
                                                                       : ObjectType::kProcedure;
  auto kind_of = [](ObjectType type) {
    return type == ObjectType::kTable ? "table"
           : type == ObjectType::kView ? "view"
           : IsFunction(type)          ? "function"
                                       : "procedure";
  };
  const char* kind = kind_of(wanted);
  for (const ObjectName& name : s.names) {
    if (name.IsTemporary() && wanted == ObjectType::kProcedure) {
      DropTemporaryProcedure(name);
      continue;
    }
    if (name.IsTemporary() && wanted == ObjectType::kTable) {
      std::string key = Lower(name.name);
      if (!session_.temp_tables().count(key)) throw errors::CannotDrop(kind, name.name);
      DropTemp(key);
      continue;
    }
    AttachedDatabase& db = name.database.empty() ? Db() : session_.Database(name.database);
    const ObjectInfo* object = db.catalog->Find(name.name, name.owner, session_.UserId(db));
    if (!object || (object->type != ObjectType::kTable && object->type != ObjectType::kView &&
                    object->type != ObjectType::kProcedure && !IsFunction(object->type)))
      throw errors::CannotDrop(kind, name.ToString());
    if (std::string_view(kind_of(object->type)) != kind) {
      const char* actual = kind_of(object->type);
      std::string upper = Upper(kind);
      throw errors::Raise<3705>(upper, object->name, object->name, actual, Upper(actual));
    }
    CheckPermission("DROP", db, object);
    if (object->type == ObjectType::kTable) {
      ResolvedTable dropped = ResolveTable(name);
      if (ReferencingConstraint(dropped, false).size()) throw errors::Raise<3726>(name.ToString());
      DropConstraintsOf(dropped);
      DropTriggersOf(db, object->id);
    }
    if (object->type == ObjectType::kTable) FullText(session_, db).DropTable(object->id);
    std::string storage = QuoteIdentifier(db.schema) + "." + QuoteIdentifier(object->storage_name);
    if (object->type == ObjectType::kTable) session_.connection().Exec("DROP TABLE " + storage);
    if (object->type == ObjectType::kView) session_.connection().Exec("DROP VIEW " + storage);
    if (session_.options().identity_insert.find(":" + std::to_string(object->id) + ":") !=
        std::string::npos)
      session_.options().identity_insert.clear();
    db.catalog->DeleteObject(session_.connection(), object->id);
    session_.CatalogChanged(db.dbid);
  }
  SendDone(-1);
}

void Executor::CreateIndex(const CreateIndexStatement& s) {
  CheckIdentifier(s.name);
  ResolvedTable table = ResolveTable(s.table);
  if (table.kind == ResolvedTable::Kind::kView || table.kind == ResolvedTable::Kind::kSystem)
    throw errors::Raise<1939>(table.name);
  bool temp = table.kind == ResolvedTable::Kind::kTemp;
  AttachedDatabase& db = temp ? Db() : session_.Database(table.dbid);
  if (!temp) CheckPermission("ALTER", db, table.object);
  ObjectInfo info = *table.object;
  if (info.FindIndex(s.name)) throw errors::Raise<1913>(table.name, s.name);
  IndexInfo index;
  index.name = s.name;
  index.kind = s.unique ? IndexKind::kUniqueIndex : IndexKind::kIndex;
  for (const IndexColumn& ic : s.columns) {
    const ColumnInfo* c = info.FindColumn(ic.name);
    if (!c) throw errors::Raise<1911>(ic.name);
    if (c->type.IsLarge()) throw errors::Raise<1919>(c->name, table.name);
    index.columns.push_back(c->name);
    index.descending.push_back(ic.descending);
  }
  if (s.clustered.value_or(false)) {
    for (const IndexInfo& existing : info.indexes)
      if (existing.clustered) throw errors::Raise<1902>(table.name, existing.name);
    index.clustered = true;
    index.indid = 1;
  } else {
    int highest = 1;
    for (const IndexInfo& i : info.indexes) highest = std::max(highest, i.indid);
    index.indid = highest + 1;
  }
  index.storage_name = info.storage_name + "$" + index.name;
  CreateStorageIndex(temp ? "temp" : db.schema, info.storage_name, index);
  if (temp) {
    session_.FindTemp(info.name)->info.indexes.push_back(index);
  } else {
    db.catalog->InsertIndex(session_.connection(), info.id, index);
    db.catalog->ReloadObject(session_.connection(), info.id);
    session_.CatalogChanged(db.dbid);
  }
  SendDone(-1);
}

void Executor::DropIndex(const DropIndexStatement& s) {
  for (const DropIndexStatement::Target& target : s.targets) {
    std::string shown = target.table.ToString() + "." + target.index;
    ResolvedTable table;
    try {
      table = ResolveTable(target.table);
    } catch (const SqlError& e) {
      if (e.number() != 208) throw;
      throw errors::Raise<3701>("drop", "index", shown);
    }
    if (!table.object) throw errors::InvalidObject(target.table.ToString());
    const IndexInfo* index = table.object->FindIndex(target.index);
    if (!index) throw errors::Raise<3701>("drop", "index", shown);
    if (index->kind == IndexKind::kPrimaryKey || index->kind == IndexKind::kUniqueConstraint)
      throw errors::Raise<3723>(
          shown, index->kind == IndexKind::kPrimaryKey ? "PRIMARY KEY" : "UNIQUE KEY");
    bool temp = table.kind == ResolvedTable::Kind::kTemp;
    AttachedDatabase& db = temp ? Db() : session_.Database(table.dbid);
    if (!temp) CheckPermission("ALTER", db, table.object);
    if (!temp) FullText(session_, db).CheckDropIndex(*table.object, index->name);
    session_.connection().Exec("DROP INDEX " + QuoteIdentifier(temp ? "temp" : db.schema) + "." +
                               QuoteIdentifier(index->storage_name));
    if (temp) {
      auto& indexes = session_.FindTemp(table.name)->info.indexes;
      indexes.erase(
          std::remove_if(indexes.begin(), indexes.end(),
                         [&](const IndexInfo& i) { return EqualsNoCase(i.name, target.index); }),
          indexes.end());
    } else {
      db.catalog->DeleteIndex(session_.connection(), table.object->id, index->indid);
      db.catalog->ReloadObject(session_.connection(), table.object->id);
      session_.CatalogChanged(db.dbid);
    }
  }
  SendDone(-1);
}

void Executor::CreateView(const CreateViewStatement& s) {
  CheckIdentifier(s.name.name);
  if (s.name.IsTemporary()) throw errors::Raise<4103>(s.name.name);
  AttachedDatabase& db = s.name.database.empty() ? Db() : session_.Database(s.name.database);
  CheckPermission("CREATE VIEW", db, nullptr);
  const PrincipalInfo* principal = &OwnerForCreate(db, s.name.owner);
  const ObjectInfo* existing = db.catalog->Find(s.name.name, principal->name);
  if (!s.alter && existing) throw errors::ObjectExists(s.name.name);
  if (s.alter && (!existing || existing->type != ObjectType::kView))
    throw errors::InvalidObject(s.name.name);
  if (!s.query->order_by.empty() && !s.query->FirstSpec().top) throw errors::Raise<1033>();
  std::vector<Value> params;
  Translator translator(*this, params);
  translator.set_view_mode(db.dbid);
  int saved = session_.current_dbid();
  session_.SetCurrent(db.dbid);
  Translation t;
  try {
    t = translator.Query(*s.query, nullptr, true);
  } catch (...) {
    session_.SetCurrent(saved);
    throw;
  }
  session_.SetCurrent(saved);
  ObjectInfo info;
  info.name = s.name.name;
  info.uid = principal->uid;
  info.type = ObjectType::kView;
  info.definition = s.text;
  info.storage_name = StorageNameFor(principal->name, s.name.name);
  for (size_t i = 0; i < t.columns.size(); ++i) {
    ColumnInfo c;
    c.name = i < s.columns.size() ? s.columns[i] : t.columns[i].name;
    if (c.name.empty()) throw errors::Raise<4511>(i + 1);
    if (info.FindColumn(c.name)) throw errors::Raise<4506>(c.name, info.name);
    c.type = t.columns[i].type;
    if (c.type.IsCharacter() && c.type.length == 0) c.type.length = 1;
    c.nullable = t.columns[i].nullable;
    info.columns.push_back(std::move(c));
  }
  if (!s.columns.empty() && s.columns.size() != t.columns.size())
    throw errors::Raise<8158>(info.name);
  Connection& connection = session_.connection();
  std::string storage = QuoteIdentifier(db.schema) + "." + QuoteIdentifier(info.storage_name);
  if (existing) {
    info.id = existing->id;
    connection.Exec("DROP VIEW " + storage);
    db.catalog->DeleteObject(connection, existing->id, Catalog::Permissions::kKeep);
  } else {
    info.id = db.catalog->NextObjectId(connection);
  }
  std::string names;
  for (size_t i = 0; i < info.columns.size(); ++i)
    names += (i ? ", " : "") + std::string("\"c") + std::to_string(i + 1) + "\"";
  // The SQLite view names its columns as the catalogue does.
  std::string columns;
  for (const ColumnInfo& c : info.columns)
    columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(c.name);
  connection.Exec("CREATE VIEW " + storage + " (" + columns + ") AS " + t.sql);
  db.catalog->InsertObject(connection, info);
  db.catalog->ReloadObject(connection, info.id);
  session_.CatalogChanged(db.dbid);
  SendDone(-1);
}

const PrincipalInfo& Executor::OwnerForCreate(AttachedDatabase& db,
                                              const std::string& owner_named) {
  const std::string owner = owner_named.empty() ? session_.UserName(db) : owner_named;
  const PrincipalInfo* principal = db.catalog->FindPrincipal(owner);
  if (!principal || principal->is_role || !MayCreateFor(session_, db, *principal))
    throw errors::Raise<2760>(owner);
  return *principal;
}

void Executor::CreateProcedure(const CreateProcedureStatement& s) {
  CheckIdentifier(s.name.name);
  if (s.name.IsTemporary()) return CreateTemporaryProcedure(s);
  AttachedDatabase& db = s.name.database.empty() ? Db() : session_.Database(s.name.database);
  if (!s.name.database.empty() && db.dbid != Db().dbid)
    throw errors::Raise<166>("CREATE PROCEDURE");
  CheckPermission("CREATE PROCEDURE", db, nullptr);
  ObjectInfo info = NewRoutine(db, OwnerForCreate(db, s.name.owner), s.name.name, s.alter,
                               ObjectType::kProcedure, s.text);
  int number = 0;
  for (const ProcedureParameter& p : s.parameters) {
    ++number;
    CheckIdentifier(p.name);
    ColumnInfo c;
    c.name = p.name;
    try {
      c.type = Translator::ResolveType(p.type, false, MajorVersion());
    } catch (const SqlError& e) {
      if (e.number() != 243) throw;
      throw errors::Raise<2715>(number, p.type.name);
    }
    for (const ColumnInfo& other : info.columns)
      if (EqualsNoCase(other.name, p.name)) throw errors::VariableDeclaredTwice(p.name);
    c.output = p.output;
    if (p.default_value) c.default_text = ToSql(*p.default_value);
    info.columns.push_back(std::move(c));
  }
  RegisterRoutine(session_, db, std::move(info));
  SendDone(-1);
}

ObjectInfo NewRoutine(AttachedDatabase& db, const PrincipalInfo& owner, const std::string& name,
                      bool alter, ObjectType type, const std::string& definition) {
  const ObjectInfo* existing = db.catalog->Find(name, owner.name);
  if (!alter && existing) throw errors::ObjectExists(name);
  // ALTER FUNCTION may change a function's kind, never a procedure's.
  if (alter &&
      (!existing || (IsFunction(type) ? !IsFunction(existing->type) : existing->type != type)))
    throw errors::InvalidObject(name);
  ObjectInfo info;
  info.id = existing ? existing->id : 0;
  info.name = name;
  info.uid = owner.uid;
  info.type = type;
  info.definition = definition;
  info.storage_name = StorageNameFor(owner.name, name);
  return info;
}

void RegisterRoutine(SessionImpl& session, AttachedDatabase& db, ObjectInfo info) {
  Connection& connection = session.connection();
  if (info.id != 0)
    db.catalog->DeleteObject(connection, info.id, Catalog::Permissions::kKeep);
  else
    info.id = db.catalog->NextObjectId(connection);
  db.catalog->InsertObject(connection, info);
  db.catalog->ReloadObject(connection, info.id);
  session.CatalogChanged(db.dbid);
}

void Executor::CreateDatabase(const CreateDatabaseStatement& s) {
  if (session_.trancount() > 0) throw errors::Raise<226>("CREATE DATABASE");
  CheckIdentifier(s.name);
  CheckPermission("CREATE DATABASE", session_.Database(1), nullptr);
  InstanceImpl& instance = session_.instance();
  if (s.for_attach) {
    std::vector<std::string> files;
    for (const DatabaseFile& f : s.files) files.push_back(f.filename);
    for (const DatabaseFile& f : s.log_files) files.push_back(f.filename);
    instance.AttachDatabase(s.name, files, session_.login().sid);
    session_.rowcount = 0;
    SendDone(-1);
    return;
  }
  NewDatabase request;
  request.name = s.name;
  if (!s.collation.empty()) request.collation = CheckedCollation(s.collation);
  request.owner_sid = session_.login().sid;
  int fileid = 1;
  std::string data_folder = instance.DefaultDataFolder();
  for (const DatabaseFile& f : s.files) {
    DatabaseFileInfo info;
    info.fileid = fileid++;
    info.name = f.name.empty() ? s.name : f.name;
    info.filename = f.filename;
    if (info.filename.empty()) info.filename = Machine::Join(data_folder, info.name + ".mdf");
    info.size_kb = SizeInKb(f.size, 768);
    if (!f.max_size.empty()) info.max_size = f.max_size;
    if (!f.growth.empty()) info.growth = f.growth;
    request.files.push_back(info);
  }
  if (request.files.empty()) {
    DatabaseFileInfo info;
    info.fileid = fileid++;
    info.name = s.name;
    info.filename = Machine::Join(data_folder, s.name + ".mdf");
    info.size_kb = 768;
    request.files.push_back(info);
  }
  std::string log_folder = Machine::FolderOf(request.files[0].filename);
  for (const DatabaseFile& f : s.log_files) {
    DatabaseFileInfo info;
    info.fileid = fileid++;
    info.name = f.name.empty() ? s.name + "_log" : f.name;
    info.filename = f.filename.empty() ? Machine::Join(log_folder, info.name + ".LDF") : f.filename;
    info.log = true;
    info.size_kb = SizeInKb(f.size, 1024);
    if (!f.max_size.empty()) info.max_size = f.max_size;
    if (!f.growth.empty()) info.growth = f.growth;
    request.files.push_back(info);
  }
  if (s.log_files.empty()) {
    DatabaseFileInfo info;
    info.fileid = fileid++;
    info.name = s.name + "_log";
    info.filename = Machine::Join(log_folder, s.name + "_log.LDF");
    info.log = true;
    info.size_kb = 1024;
    request.files.push_back(info);
  }
  for (const DatabaseFileInfo& f : request.files) {
    CheckIdentifier(f.name);
    if (!instance.machine().ToHost(f.filename)) throw errors::Raise<5105>(f.filename);
  }
  instance.CreateDatabase(request);
  for (const DatabaseFileInfo& f : request.files) {
    char size[32];
    std::snprintf(size, sizeof size, "%.2f", static_cast<double>(f.size_kb) / 1024.0);
    Info(0,
         "The CREATE DATABASE process is allocating " + std::string(size) + " MB on disk '" +
             f.name + "'.",
         0);
  }
  session_.rowcount = 0;
  SendDone(-1);
}

void Executor::DropDatabase(const DropDatabaseStatement& s) {
  if (session_.trancount() > 0) throw errors::Raise<226>("DROP DATABASE");
  InstanceImpl& instance = session_.instance();
  for (const std::string& name : s.names) {
    auto record = instance.FindDatabase(name);
    if (!record) throw errors::Raise<3701>("drop", "database", name);
    bool owner = !record->owner_sid.empty() && record->owner_sid == session_.login().sid;
    if (!session_.IsSysadmin() && !(session_.login().server_roles & kDbcreator) && !owner)
      throw PermissionDenied("DROP DATABASE", record->name, record->name, "dbo");
    if (record->dbid == session_.current_dbid()) throw errors::DatabaseInUse(record->name);
    // Its full-text catalogues' folders go with it.
    std::vector<std::filesystem::path> folders = FullTextFolders(session_, record->dbid);
    session_.ForgetDatabase(record->dbid);
    instance.DropDatabase(record->name, session_.spid());
    RemoveFullTextFolders(folders);
    Info(0, "Deleting database file '" + record->log_path + "'.", 0);
    Info(0, "Deleting database file '" + record->data_path + "'.", 0);
  }
  SendDone(-1);
}

void Executor::AlterDatabase(const AlterDatabaseStatement& s) {
  AttachedDatabase& db = session_.Database(s.name);
  if (!IsDbOwner(session_, db))
    throw PermissionDenied("ALTER DATABASE", db.catalog->name(), db.catalog->name(), "dbo");
  // Files and the server catalogue change at once, whatever the transaction does later.
  if (session_.trancount() > 0) throw errors::Raise<226>("ALTER DATABASE");
  Connection& connection = session_.connection();
  switch (s.action) {
    case AlterDatabaseStatement::Action::kSet:
      if (auto record = session_.instance().FindDatabase(db.dbid))
        SetDatabaseOptions(*this, *record, s.options, s.termination);
      break;
    case AlterDatabaseStatement::Action::kCollate:
      db.catalog->SetSetting(connection, "collation", CheckedCollation(s.new_name));
      FilesChanged(session_, db.dbid);
      break;
    case AlterDatabaseStatement::Action::kModifyName: {
      if (auto record = session_.instance().FindDatabase(db.dbid))
        RenameDatabaseChecked(*this, *record, s.new_name);
      Inform(*this, errors::Raise<5072>(s.new_name));
      break;
    }
    case AlterDatabaseStatement::Action::kModifyFile: {
      for (const DatabaseFile& f : s.files) {
        ResizeDatabaseFile(*this, db.dbid, f);
        CachedStatement update(connection,
                               "UPDATE " + db.catalog->Table(catalog_tables::kFiles) +
                                   " SET name = coalesce(?, name), size_kb = coalesce(?, size_kb), "
                                   "maxsize = coalesce(?, maxsize), growth = coalesce(?, growth) "
                                   "WHERE name = ?");
        update.Bind(1, f.new_name.empty() ? Value() : Value(f.new_name));
        update.Bind(2,
                    f.size.empty() ? Value() : Value(static_cast<long long>(SizeInKb(f.size, 0))));
        update.Bind(3, f.max_size.empty() ? Value() : Value(f.max_size));
        update.Bind(4, f.growth.empty() ? Value() : Value(f.growth));
        update.Bind(5, Value(f.name));
        update.Step();
        if (connection.Changes() == 0) throw errors::Raise<5041>(f.name);
      }
      FilesChanged(session_, db.dbid);
      break;
    }
    case AlterDatabaseStatement::Action::kAddFile:
    case AlterDatabaseStatement::Action::kAddLogFile:
    case AlterDatabaseStatement::Action::kRemoveFile:
      throw errors::Unsupported("this ALTER DATABASE action");
  }
  SendDone(-1);
}

void Executor::Permission(const PermissionStatement& s) {
  AttachedDatabase& db =
      s.object.empty() || s.object.database.empty() ? Db() : session_.Database(s.object.database);
  const ObjectInfo* object = nullptr;
  if (!s.object.empty()) {
    object = db.catalog->Find(s.object.name, s.object.owner, session_.UserId(db));
    if (!object || object->type == ObjectType::kCheck || object->type == ObjectType::kForeignKey)
      throw errors::InvalidObject(s.object.ToString());
  }
  CheckPermission("GRANT", db, object);
  std::vector<int> actions;
  for (const std::string& permission : s.permissions) {
    if (permission == "ALL") {
      if (!object) {
        for (int code : {178, 198, 207, 222, 228, 233, 235, 236}) actions.push_back(code);
        if (db.dbid == 1) actions.push_back(203);
      } else if (object->type == ObjectType::kProcedure) {
        actions.push_back(224);
      } else {
        for (int code : {26, 193, 195, 196, 197}) actions.push_back(code);
      }
      continue;
    }
    std::string name = permission == "EXEC" ? "EXECUTE" : permission;
    const Action* found = nullptr;
    for (const Action& a : kActions)
      if (name == a.name) found = &a;
    bool statement_permission = found && found->code != 26 && found->code != 193 &&
                                found->code != 195 && found->code != 196 && found->code != 197 &&
                                found->code != 224;
    if (!found || (object && statement_permission) || (!object && !statement_permission))
      throw errors::Raise<4613>();
    if (object && found->code == 224 && object->type != ObjectType::kProcedure)
      throw errors::Raise<4606>("EXECUTE");
    if (object && found->code != 224 && found->code != 26 && object->type == ObjectType::kProcedure)
      throw errors::Raise<4606>(name);
    actions.push_back(found->code);
  }
  Connection& connection = session_.connection();
  int grantor = session_.UserId(db);
  for (const std::string& principal_name : s.principals) {
    const PrincipalInfo* principal = db.catalog->FindPrincipal(principal_name);
    if (!principal) throw errors::Raise<4604>(principal_name);
    for (int action : actions) {
      if (s.action == PermissionStatement::Action::kRevoke) {
        CachedStatement remove(connection, "DELETE FROM " +
                                               db.catalog->Table(catalog_tables::kPermissions) +
                                               " WHERE id = ? AND uid = ? AND action = ?");
        remove.Bind(1, Value(static_cast<long long>(object ? object->id : 0)));
        remove.Bind(2, Value(principal->uid));
        remove.Bind(3, Value(action));
        remove.Step();
        continue;
      }
      CachedStatement upsert(
          connection, "INSERT OR REPLACE INTO " + db.catalog->Table(catalog_tables::kPermissions) +
                          " (id, uid, action, protecttype, grantor) VALUES (?,?,?,?,?)");
      int protect = s.action == PermissionStatement::Action::kDeny ? 206
                    : s.with_grant_option                          ? 204
                                                                   : 205;
      upsert.Bind(1, Value(static_cast<long long>(object ? object->id : 0)));
      upsert.Bind(2, Value(principal->uid));
      upsert.Bind(3, Value(action));
      upsert.Bind(4, Value(protect));
      upsert.Bind(5, Value(grantor));
      upsert.Step();
    }
  }
  session_.CatalogChanged(db.dbid);
  SendDone(-1);
}

}  // namespace sandbox
