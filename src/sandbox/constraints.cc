// CHECK and FOREIGN KEY constraints: their creation, NOCHECK/CHECK and DROP, and the checks run
// after each INSERT, UPDATE and DELETE of a table they guard or that they refer to.
#include "sandbox/constraints.h"

#include <algorithm>
#include <sstream>

#include "sandbox/collation.h"
#include "sandbox/executor.h"
#include "sandbox/messages.h"
#include "sandbox/tsql/printer.h"

namespace sandbox {

using common::Value;
using namespace tsql;

ConstraintDetails ReadConstraint(const ObjectInfo& object) {
  ConstraintDetails d;
  std::istringstream words(object.storage_name);
  for (std::string word; words >> word;) {
    if (word == "column") d.column_level = true;
    if (word == "nocheck") d.enabled = false;
    if (word == "cascade") d.cascade_delete = true;
    if (word == "cascade_update") d.cascade_update = true;
    if (word.rfind("ref=", 0) == 0) d.referenced = std::stoll(word.substr(4));
  }
  for (const ColumnInfo& c : object.columns) {
    d.columns.push_back(c.name);
    if (!c.default_name.empty()) d.ref_columns.push_back(c.default_name);
  }
  return d;
}

void WriteConstraint(const ConstraintDetails& d, const ObjectInfo& table, ObjectInfo& object) {
  std::string flags = d.column_level ? "column" : "table";
  if (!d.enabled) flags += " nocheck";
  if (d.cascade_delete) flags += " cascade";
  if (d.cascade_update) flags += " cascade_update";
  if (d.referenced != 0) flags += " ref=" + std::to_string(d.referenced);
  object.storage_name = flags;
  object.columns.clear();
  for (size_t i = 0; i < d.columns.size(); ++i) {
    const ColumnInfo* source = table.FindColumn(d.columns[i]);
    ColumnInfo c = source ? *source : ColumnInfo{};
    c.colid = static_cast<int>(i + 1);
    c.name = d.columns[i];
    c.identity = false;
    c.default_text.clear();
    c.default_name = i < d.ref_columns.size() ? d.ref_columns[i] : "";
    object.columns.push_back(std::move(c));
  }
}

namespace {

struct Rule {
  const ObjectInfo* object;
  ConstraintDetails details;
};

// The enabled constraints of a database that guard the table (CHECK, FOREIGN KEY as child) or,
// with referencing, the foreign keys that refer to it.
std::vector<Rule> RulesOf(AttachedDatabase& db, std::int64_t table_id, bool referencing) {
  std::vector<Rule> out;
  for (const ObjectInfo* o : db.catalog->Objects()) {
    if (o->type != ObjectType::kCheck && o->type != ObjectType::kForeignKey) continue;
    ConstraintDetails d = ReadConstraint(*o);
    if (!d.enabled) continue;
    bool match = referencing ? o->type == ObjectType::kForeignKey && d.referenced == table_id
                             : o->parent == table_id;
    if (match) out.push_back({o, std::move(d)});
  }
  return out;
}

std::string ColumnOf(const ConstraintDetails& d, const std::vector<std::string>& columns) {
  return d.column_level || columns.size() == 1 ? columns.front() : "";
}

std::string Kind(const ConstraintDetails& d, const char* what) {
  return std::string(d.column_level ? "COLUMN " : "TABLE ") + what;
}

// "a"."x" = "b"."y" AND ... over the key columns.
std::string KeyMatch(const std::string& left, const std::vector<std::string>& left_columns,
                     const std::string& right, const std::vector<std::string>& right_columns) {
  std::string out;
  for (size_t i = 0; i < left_columns.size(); ++i)
    out += (i ? " AND " : "") + left + "." + QuoteIdentifier(left_columns[i]) + " = " + right +
           "." + QuoteIdentifier(right_columns[i]);
  return out;
}

std::string NotNull(const std::string& alias, const std::vector<std::string>& columns) {
  std::string out;
  for (const std::string& c : columns)
    out += (out.empty() ? "" : " AND ") + alias + "." + QuoteIdentifier(c) + " IS NOT NULL";
  return out;
}

// Whether a cascading foreign key from child to parent would make a cycle or a second path of
// cascading actions: a table any cascade reaching the parent starts from (the parent itself
// included) must not reach the child, or anything the child reaches, already.
bool CascadePathsMeet(AttachedDatabase& db, std::int64_t parent, std::int64_t child) {
  std::vector<std::pair<std::int64_t, std::int64_t>> edges;  // referenced, referencing
  for (const ObjectInfo* o : db.catalog->Objects()) {
    if (o->type != ObjectType::kForeignKey) continue;
    ConstraintDetails d = ReadConstraint(*o);
    if (d.cascade_delete || d.cascade_update) edges.emplace_back(d.referenced, o->parent);
  }
  auto closure = [&](std::int64_t start, bool down) {
    std::vector<std::int64_t> seen{start};
    for (size_t i = 0; i < seen.size(); ++i)
      for (const auto& [from, to] : edges) {
        std::int64_t here = down ? from : to, there = down ? to : from;
        if (here == seen[i] && std::find(seen.begin(), seen.end(), there) == seen.end())
          seen.push_back(there);
      }
    return seen;
  };
  const std::vector<std::int64_t> below = closure(child, true);
  for (std::int64_t above : closure(parent, false))
    for (std::int64_t reached : closure(above, true))
      if (std::find(below.begin(), below.end(), reached) != below.end()) return true;
  return false;
}

std::string KeyTable(std::int64_t constraint_id) {
  return "\"temp\".\"cascade$" + std::to_string(constraint_id) + "\"";
}

// A table variable's CHECK constraints, as the rules of a table.
std::vector<Rule> RulesOf(const TempTable* temp) {
  std::vector<Rule> out;
  if (temp)
    for (const ObjectInfo& o : temp->checks) out.push_back({&o, ReadConstraint(o)});
  return out;
}

}  // namespace

std::vector<ObjectInfo> TableVariableChecks(const ObjectInfo& table,
                                            const TableDefinition& definition) {
  std::vector<std::pair<const TableConstraint*, std::string>> checks;
  for (const ColumnDef& def : definition.columns)
    for (const TableConstraint& k : def.constraints) checks.emplace_back(&k, def.name);
  for (const TableConstraint& k : definition.constraints) checks.emplace_back(&k, "");
  std::vector<ObjectInfo> out;
  for (const auto& [k, column] : checks) {
    if (k->type != TableConstraint::Type::kCheck) continue;
    ObjectInfo object;
    object.type = ObjectType::kCheck;
    object.name = !k->name.empty() ? k->name : GeneratedName("CK", table.name, column);
    CheckIdentifier(object.name);
    object.definition = "(" + ToSql(*k->expr) + ")";
    ConstraintDetails d;
    d.column_level = !column.empty();
    if (const ColumnInfo* c = table.FindColumn(column)) d.columns.push_back(c->name);
    WriteConstraint(d, table, object);
    out.push_back(std::move(object));
  }
  return out;
}

bool Executor::Guarded(const ResolvedTable& table) {
  if (table.kind == ResolvedTable::Kind::kTemp)
    return !RulesOf(session_.FindTemp(table.object->name)).empty();
  if (table.kind != ResolvedTable::Kind::kTable) return false;
  AttachedDatabase& db = session_.Database(table.dbid);
  return !RulesOf(db, table.object->id, false).empty() ||
         !RulesOf(db, table.object->id, true).empty();
}

void Executor::AddConstraints(
    const ResolvedTable& table,
    const std::vector<std::pair<const TableConstraint*, std::string>>& list, bool check_existing) {
  if (list.empty() || table.kind != ResolvedTable::Kind::kTable) return;
  AttachedDatabase& db = session_.Database(table.dbid);
  Connection& connection = session_.connection();
  const ObjectInfo& owner = *table.object;
  std::vector<std::int64_t> created;
  for (const auto& [k, column] : list) {
    const bool column_level = !column.empty();
    bool check = k->type == TableConstraint::Type::kCheck;
    ObjectInfo object;
    object.type = check ? ObjectType::kCheck : ObjectType::kForeignKey;
    object.parent = owner.id;
    object.uid = owner.uid;
    const std::string first_column = column_level         ? column
                                     : k->columns.empty() ? ""
                                                          : k->columns.front().name;
    object.name = !k->name.empty() ? k->name
                                   : GeneratedName(check ? "CK" : "FK", owner.name,
                                                   column_level ? first_column : "");
    CheckIdentifier(object.name);
    auto refuse = [&](const SqlError& reason) {
      Inform(*this, reason);
      throw errors::Raise<1750>();
    };
    if (db.catalog->Find(object.name, {}, owner.uid)) refuse(errors::Raise<2714>(object.name));
    ConstraintDetails d;
    d.column_level = column_level;
    if (check) {
      object.definition = "(" + ToSql(*k->expr) + ")";
      if (column_level) d.columns.push_back(owner.FindColumn(first_column)->name);
    } else {
      for (const IndexColumn& ic : k->columns) {
        const ColumnInfo* c = owner.FindColumn(ic.name);
        if (!c) refuse(errors::Raise<1769>(object.name, ic.name, owner.name));
        d.columns.push_back(c->name);
      }
      ObjectName ref_name = k->ref_table;
      if (!ref_name.database.empty() && !EqualsNoCase(ref_name.database, db.catalog->name()))
        refuse(errors::Raise<1763>(ref_name.ToString()));
      const ObjectInfo* parent = db.catalog->Find(ref_name.name, ref_name.owner, owner.uid);
      if (!parent && EqualsNoCase(ref_name.name, owner.name)) parent = &owner;
      if (!parent || parent->type != ObjectType::kTable)
        refuse(errors::Raise<1767>(object.name, ref_name.ToString()));
      d.referenced = parent->id;
      std::vector<std::string> ref_columns = k->ref_columns;
      if (ref_columns.empty() && parent->PrimaryKey()) ref_columns = parent->PrimaryKey()->columns;
      if (!ref_columns.empty() && ref_columns.size() != d.columns.size())
        refuse(errors::Raise<8139>(owner.name));
      for (const std::string& name : ref_columns) {
        const ColumnInfo* c = parent->FindColumn(name);
        if (!c) refuse(errors::Raise<1770>(object.name, name, parent->name));
        d.ref_columns.push_back(c->name);
      }
      // The referenced columns must be exactly the key of a PRIMARY KEY or UNIQUE constraint
      // (or unique index), in any order.
      bool keyed = false;
      for (const IndexInfo& index : parent->indexes) {
        if (!index.unique() || index.columns.size() != d.ref_columns.size()) continue;
        keyed = keyed ||
                std::all_of(index.columns.begin(), index.columns.end(), [&](const std::string& c) {
                  return std::any_of(d.ref_columns.begin(), d.ref_columns.end(),
                                     [&](const std::string& r) { return EqualsNoCase(c, r); });
                });
      }
      if (!keyed || d.ref_columns.empty()) refuse(errors::Raise<1776>(parent->name, object.name));
      for (size_t i = 0; i < d.columns.size(); ++i) {
        const ColumnInfo& mine = *owner.FindColumn(d.columns[i]);
        const ColumnInfo& theirs = *parent->FindColumn(d.ref_columns[i]);
        if (mine.type.kind != theirs.type.kind)
          refuse(
              errors::Raise<1778>(parent->name, theirs.name, owner.name, mine.name, object.name));
      }
      d.cascade_delete = k->on_delete == "CASCADE";
      d.cascade_update = k->on_update == "CASCADE";
      if ((d.cascade_delete || d.cascade_update) && CascadePathsMeet(db, parent->id, owner.id))
        refuse(errors::Raise<1785>(object.name, owner.name));
    }
    WriteConstraint(d, owner, object);
    object.id = db.catalog->NextObjectId(connection);
    db.catalog->InsertObject(connection, object);
    db.catalog->ReloadObject(connection, object.id);
    created.push_back(object.id);
  }
  session_.CatalogChanged(db.dbid);
  if (!check_existing) return;
  // WITH CHECK (the default): the rows already there must pass the new constraints.
  CheckRows(table, "ALTER TABLE", nullptr, created);
}

void Executor::EnableConstraints(const ResolvedTable& table, const std::vector<std::string>& names,
                                 bool enable, bool check_existing) {
  if (table.kind != ResolvedTable::Kind::kTable) return;
  AttachedDatabase& db = session_.Database(table.dbid);
  Connection& connection = session_.connection();
  bool all = names.size() == 1 && EqualsNoCase(names.front(), "ALL");
  std::vector<const ObjectInfo*> targets;
  for (const std::string& name : names) {
    if (all) break;
    const ObjectInfo* o = db.catalog->Find(name, {}, table.object->uid);
    if (!o || o->parent != table.object->id ||
        (o->type != ObjectType::kCheck && o->type != ObjectType::kForeignKey))
      throw errors::Raise<4917>(name);
    targets.push_back(o);
  }
  if (all)
    for (const ObjectInfo* o : db.catalog->Objects())
      if (o->parent == table.object->id &&
          (o->type == ObjectType::kCheck || o->type == ObjectType::kForeignKey))
        targets.push_back(o);
  std::vector<std::int64_t> ids;
  for (const ObjectInfo* o : targets) {
    ConstraintDetails d = ReadConstraint(*o);
    d.enabled = enable;
    ObjectInfo changed = *o;
    WriteConstraint(d, *table.object, changed);
    // The flags live in the objects row: the constraint is written again under its id.
    db.catalog->DeleteObject(connection, o->id, Catalog::Permissions::kKeep);
    db.catalog->InsertObject(connection, changed);
    ids.push_back(changed.id);
  }
  for (std::int64_t id : ids) db.catalog->ReloadObject(connection, id);
  session_.CatalogChanged(db.dbid);
  if (enable && check_existing) CheckRows(table, "ALTER TABLE", nullptr, ids);
}

bool Executor::DropConstraint(const ResolvedTable& table, const std::string& name) {
  if (table.kind != ResolvedTable::Kind::kTable) return false;
  AttachedDatabase& db = session_.Database(table.dbid);
  const ObjectInfo* o = db.catalog->Find(name, {}, table.object->uid);
  if (!o || o->parent != table.object->id ||
      (o->type != ObjectType::kCheck && o->type != ObjectType::kForeignKey))
    return false;
  db.catalog->DeleteObject(session_.connection(), o->id);
  session_.CatalogChanged(db.dbid);
  return true;
}

void Executor::DropConstraintsOf(const ResolvedTable& table) {
  if (table.kind != ResolvedTable::Kind::kTable) return;
  AttachedDatabase& db = session_.Database(table.dbid);
  for (const ObjectInfo* o : db.catalog->Objects())
    if (o->parent == table.object->id &&
        (o->type == ObjectType::kCheck || o->type == ObjectType::kForeignKey))
      db.catalog->DeleteObject(session_.connection(), o->id);
  session_.CatalogChanged(db.dbid);
}

std::string Executor::ReferencingConstraint(const ResolvedTable& table, bool self) {
  if (table.kind != ResolvedTable::Kind::kTable) return {};
  AttachedDatabase& db = session_.Database(table.dbid);
  for (const ObjectInfo* o : db.catalog->Objects()) {
    if (o->type != ObjectType::kForeignKey || (!self && o->parent == table.object->id)) continue;
    if (ReadConstraint(*o).referenced != table.object->id) continue;
    const ObjectInfo* child = db.catalog->FindById(o->parent);
    return "table '" + (child ? child->name : "") + "', foreign key constraint '" + o->name + "'";
  }
  return {};
}

std::string ConstraintUsing(const Catalog& catalog, std::int64_t table_id,
                            const std::string& column) {
  for (const ObjectInfo* o : catalog.Objects()) {
    if (o->type != ObjectType::kCheck && o->type != ObjectType::kForeignKey) continue;
    const ConstraintDetails d = ReadConstraint(*o);
    auto named = [&](const std::vector<std::string>& names) {
      return std::any_of(names.begin(), names.end(),
                         [&](const std::string& n) { return EqualsNoCase(n, column); });
    };
    if (o->parent == table_id && named(d.columns)) return o->name;
    if (d.referenced == table_id && named(d.ref_columns)) return o->name;
    // A table-level CHECK names its columns only in its text: any mention counts, so that no
    // check is left reading a column that is gone.
    if (o->parent == table_id && o->type == ObjectType::kCheck &&
        Lower(o->definition).find(Lower(column)) != std::string::npos)
      return o->name;
  }
  return {};
}

void Executor::CheckRows(const ResolvedTable& table, std::string_view verb,
                         const std::vector<std::int64_t>* rows,
                         const std::vector<std::int64_t>& only) {
  const bool temp = table.kind == ResolvedTable::Kind::kTemp;
  if ((!temp && table.kind != ResolvedTable::Kind::kTable) || (rows && rows->empty())) return;
  std::vector<Rule> rules = temp ? RulesOf(session_.FindTemp(table.object->name))
                                 : RulesOf(session_.Database(table.dbid), table.object->id, false);
  // ALTER TABLE checks only the constraints just added or enabled: others may have been added
  // WITH NOCHECK over rows that break them.
  if (!only.empty())
    rules.erase(std::remove_if(rules.begin(), rules.end(),
                               [&](const Rule& r) {
                                 return std::find(only.begin(), only.end(), r.object->id) ==
                                        only.end();
                               }),
                rules.end());
  if (rules.empty()) return;
  constexpr size_t kChunk = 500;
  const size_t total = rows ? rows->size() : 1;
  for (size_t start = 0; start < total; start += kChunk) {
    std::string in_rows;
    if (rows) {
      for (size_t i = start; i < std::min(total, start + kChunk); ++i)
        in_rows += (in_rows.empty() ? "" : ",") + std::to_string((*rows)[i]);
    }
    for (const Rule& rule : rules) {
      std::vector<Value> params;
      Translator translator(*this, params);
      Scope scope;
      std::string from = translator.AddTable(table, "", scope, false);
      const std::string alias = QuoteIdentifier(scope.sources.back().sql_alias);
      std::string where = rows ? alias + ".rowid IN (" + in_rows + ")" : "1";
      std::string parent_name, parent_column;
      if (rule.object->type == ObjectType::kCheck) {
        // Only FALSE fails a check (UNKNOWN passes); the kept text is a condition, read here
        // as the expression parser takes it.
        const Expr& passes = session_.ParsedDefault("CASE WHEN NOT " + rule.object->definition +
                                                    " THEN 0 ELSE 1 END");
        where += " AND (" + translator.Expression(passes, &scope).sql + ") = 0";
      } else {
        AttachedDatabase& db = session_.Database(table.dbid);
        const ObjectInfo* parent = db.catalog->FindById(rule.details.referenced);
        if (!parent) continue;
        where += " AND " + NotNull(alias, rule.details.columns) +
                 " AND NOT EXISTS (SELECT 1 FROM " + QuoteIdentifier(db.schema) + "." +
                 QuoteIdentifier(parent->storage_name) + " AS \"p\" WHERE " +
                 KeyMatch("\"p\"", rule.details.ref_columns, alias, rule.details.columns) + ")";
        parent_name = parent->name;
      }
      bool failed = false;
      RunSql("SELECT 1 FROM " + from + " WHERE " + where + " LIMIT 1", params,
             [&](sqlite3_stmt*) { failed = true; });
      if (!failed) continue;
      if (rule.object->type == ObjectType::kCheck)
        throw errors::ConstraintConflict(
            verb, Kind(rule.details, "CHECK"), rule.object->name, table.database, table.name,
            rule.details.column_level ? rule.details.columns.front() : "");
      throw errors::ConstraintConflict(verb, Kind(rule.details, "FOREIGN KEY"), rule.object->name,
                                       table.database, parent_name,
                                       ColumnOf(rule.details, rule.details.ref_columns));
    }
    if (!rows) break;
  }
}

void Executor::SaveReferencedKeys(const ResolvedTable& table) {
  if (table.kind != ResolvedTable::Kind::kTable) return;
  AttachedDatabase& db = session_.Database(table.dbid);
  for (const Rule& rule : RulesOf(db, table.object->id, true)) {
    if (!rule.details.cascade_update) continue;
    // Each row's key before the change, by the row: the new key of the same row replaces it in
    // the referencing rows.
    std::string keys;
    for (size_t i = 0; i < rule.details.ref_columns.size(); ++i)
      keys += ", " + QuoteIdentifier(rule.details.ref_columns[i]) + " AS \"k" +
              std::to_string(i) + "\"";
    RunSql("DROP TABLE IF EXISTS " + KeyTable(rule.object->id), {});
    RunSql("CREATE TABLE " + KeyTable(rule.object->id) + " AS SELECT rowid AS \"rid\"" + keys +
               " FROM " + QuoteIdentifier(db.schema) + "." +
               QuoteIdentifier(table.object->storage_name),
           {});
    // Each referencing row looks its old key up here: without an index that is a scan of the
    // whole table per row.
    std::string indexed;
    for (size_t i = 0; i < rule.details.ref_columns.size(); ++i)
      indexed += std::string(i ? ", " : "") + "\"k" + std::to_string(i) + "\"";
    const std::string key_table = "cascade$" + std::to_string(rule.object->id);
    RunSql("CREATE INDEX \"temp\"." + QuoteIdentifier(key_table + "$keys") + " ON " +
               QuoteIdentifier(key_table) + " (" + indexed + ")",
           {});
  }
}

void Executor::CheckReferences(const ResolvedTable& table, std::string_view verb) {
  if (table.kind != ResolvedTable::Kind::kTable) return;
  AttachedDatabase& db = session_.Database(table.dbid);
  const std::string parent_sql =
      QuoteIdentifier(db.schema) + "." + QuoteIdentifier(table.object->storage_name);
  for (const Rule& rule : RulesOf(db, table.object->id, true)) {
    const ObjectInfo* child = db.catalog->FindById(rule.object->parent);
    if (!child) continue;
    const std::string child_sql =
        QuoteIdentifier(db.schema) + "." + QuoteIdentifier(child->storage_name);
    // Rows of the child whose key no longer has its row in this table.
    std::string orphans =
        NotNull("\"c\"", rule.details.columns) + " AND NOT EXISTS (SELECT 1 FROM " + parent_sql +
        " AS \"p\" WHERE " +
        KeyMatch("\"p\"", rule.details.ref_columns, "\"c\"", rule.details.columns) + ")";
    if (rule.details.cascade_delete && verb == "DELETE") {
      RunSql("DELETE FROM " + child_sql + " AS \"c\" WHERE " + orphans, {});
      if (session_.connection().Changes() > 0) {
        ObjectName name;
        name.database = db.catalog->name();
        name.owner = db.catalog->OwnerName(child->uid);
        name.name = child->name;
        name.part_count = 3;
        CheckReferences(ResolveTable(name), verb);
      }
      continue;
    }
    if (rule.details.cascade_update && verb == "UPDATE") {
      CascadeUpdate(db, rule.object->id, rule.details, parent_sql, *child);
      continue;
    }
    bool failed = false;
    RunSql("SELECT 1 FROM " + child_sql + " AS \"c\" WHERE " + orphans + " LIMIT 1", {},
           [&](sqlite3_stmt*) { failed = true; });
    if (failed)
      throw errors::ConstraintConflict(verb, Kind(rule.details, "REFERENCE"), rule.object->name,
                                       db.catalog->name(), child->name,
                                       ColumnOf(rule.details, rule.details.columns));
  }
}

void Executor::CascadeUpdate(AttachedDatabase& db, std::int64_t constraint_id,
                             const ConstraintDetails& d, const std::string& parent_sql,
                             const ObjectInfo& child) {
  const std::string saved = KeyTable(constraint_id);
  std::string old_key, moved;
  for (size_t i = 0; i < d.columns.size(); ++i) {
    const std::string k = "\"o\".\"k" + std::to_string(i) + "\"";
    old_key += (i ? " AND " : "") + k + " = \"c\"." + QuoteIdentifier(d.columns[i]);
    moved += (i ? " OR " : "") + k + " IS NOT \"p\"." + QuoteIdentifier(d.ref_columns[i]);
  }
  // The referenced row of each referencing row, before and after the change.
  const std::string pairs = " FROM " + saved + " AS \"o\" JOIN " + parent_sql +
                            " AS \"p\" ON \"p\".rowid = \"o\".\"rid\" WHERE " + old_key;
  std::string assignments;
  for (size_t i = 0; i < d.columns.size(); ++i)
    assignments += (i ? ", " : "") + QuoteIdentifier(d.columns[i]) + " = (SELECT \"p\"." +
                   QuoteIdentifier(d.ref_columns[i]) + pairs + ")";
  const std::string child_sql =
      QuoteIdentifier(db.schema) + "." + QuoteIdentifier(child.storage_name);
  ObjectName name;
  name.database = db.catalog->name();
  name.owner = db.catalog->OwnerName(child.uid);
  name.name = child.name;
  name.part_count = 3;
  const ResolvedTable resolved = ResolveTable(name);
  // The next level's keys are taken before this level changes them.
  SaveReferencedKeys(resolved);
  RunSql("UPDATE " + child_sql + " AS \"c\" SET " + assignments + " WHERE EXISTS (SELECT 1" +
             pairs + " AND (" + moved + "))",
         {});
  const bool changed = session_.connection().Changes() > 0;
  RunSql("DROP TABLE IF EXISTS " + saved, {});
  if (changed) CheckReferences(resolved, "UPDATE");
}

}  // namespace sandbox
