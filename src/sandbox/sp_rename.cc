// sp_rename: a new name for a table, procedure, column or index of the current database (and,
// through sp_renamedb, for a database).
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/constraints.h"
#include "sandbox/messages.h"
#include "sandbox/session.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

using common::Value;

namespace {

SqlError Ambiguous(std::string_view objtype) { return errors::Raise<15248>(objtype); }

SqlError NameInUse(std::string_view name, std::string_view kind) {
  return errors::Raise<15335>(name, kind);
}

// The table of "table.column" or "owner.table.index": every part but the last.
const ObjectInfo* FindTable(Executor& executor, AttachedDatabase& db,
                            const std::vector<std::string>& parts) {
  if (parts.size() < 2 || parts.size() > 4) return nullptr;
  if (parts.size() == 4 && !parts[0].empty() && !EqualsNoCase(parts[0], db.catalog->name()))
    return nullptr;
  const std::string& table = parts[parts.size() - 2];
  std::string owner = parts.size() >= 3 ? parts[parts.size() - 3] : std::string();
  const ObjectInfo* object = db.catalog->Find(table, owner, executor.session().UserId(db));
  return object && object->type == ObjectType::kTable ? object : nullptr;
}

void SetObjectName(Executor& executor, AttachedDatabase& db, const ObjectInfo& object,
                   const std::string& name, const std::string& storage) {
  executor.RunSql("UPDATE " + db.catalog->Table(catalog_tables::kObjects) +
                      " SET name = ?, storage_name = ? WHERE id = ?",
                  {Value(name), Value(storage), Value(static_cast<long long>(object.id))});
  db.catalog->ReloadObject(executor.session().connection(), object.id);
  executor.session().CatalogChanged(db.dbid);
}

std::vector<std::pair<std::string, std::string>> CopyAll(const ObjectInfo& table) {
  std::vector<std::pair<std::string, std::string>> copy;
  for (const ColumnInfo& c : table.columns) copy.emplace_back(c.name, QuoteIdentifier(c.name));
  return copy;
}

void RenameIndexOf(Executor& executor, AttachedDatabase& db, const ObjectInfo& table,
                   const IndexInfo& old, const std::string& newname) {
  executor.CheckPermission("ALTER", db, &table);
  if (const IndexInfo* other = table.FindIndex(newname); other && other != &old)
    throw NameInUse(newname, "index");
  // Key constraints are objects too: their new name must be free among the objects.
  if (old.kind == IndexKind::kPrimaryKey || old.kind == IndexKind::kUniqueConstraint)
    if (db.catalog->Find(newname, db.catalog->OwnerName(table.uid)))
      throw NameInUse(newname, "object");
  ObjectInfo after = table;
  for (IndexInfo& index : after.indexes)
    if (index.indid == old.indid) index.name = newname;
  executor.RebuildTable(db, table, std::move(after), CopyAll(table));
}

std::string RenameIndex(Executor& executor, AttachedDatabase& db, const std::string& objname,
                        const std::string& objtype, const std::string& newname) {
  const ObjectInfo* table = FindTable(executor, db, SplitObjectName(objname));
  const IndexInfo* old = table ? table->FindIndex(SplitObjectName(objname).back()) : nullptr;
  if (!old) throw Ambiguous(objtype);
  RenameIndexOf(executor, db, *table, *old, newname);
  return "INDEX";
}

// A PRIMARY KEY or UNIQUE constraint of that name ("owner.name" or "name"), renamed with its
// index; false when there is none.
bool RenameKeyConstraint(Executor& executor, AttachedDatabase& db,
                         const std::vector<std::string>& parts, const std::string& newname) {
  if (parts.size() > 2) return false;
  for (const ObjectInfo* table : db.catalog->Objects()) {
    if (table->type != ObjectType::kTable) continue;
    if (parts.size() == 2 && !EqualsNoCase(db.catalog->OwnerName(table->uid), parts[0])) continue;
    for (const IndexInfo& index : table->indexes)
      if ((index.kind == IndexKind::kPrimaryKey || index.kind == IndexKind::kUniqueConstraint) &&
          EqualsNoCase(index.name, parts.back())) {
        RenameIndexOf(executor, db, *table, index, newname);
        return true;
      }
  }
  return false;
}

// Renames the object; returns the word the closing message names it by.
std::string RenameObject(Executor& executor, AttachedDatabase& db, const std::string& objname,
                         const std::string& objtype, const std::string& newname) {
  std::vector<std::string> parts = SplitObjectName(objname);
  const ObjectInfo* object = nullptr;
  if (parts.size() <= 3 && !parts.back().empty() &&
      (parts.size() < 3 || parts[0].empty() || EqualsNoCase(parts[0], db.catalog->name())))
    object = db.catalog->Find(parts.back(), parts.size() >= 2 ? parts[parts.size() - 2] : "",
                              executor.session().UserId(db));
  if (!object) {
    if (RenameKeyConstraint(executor, db, parts, newname)) return "object";
    throw Ambiguous(objtype);
  }
  executor.CheckPermission("ALTER", db, object);
  const std::string owner = db.catalog->OwnerName(object->uid);
  if (const ObjectInfo* other = db.catalog->Find(newname, owner); other && other != object)
    throw NameInUse(newname, "object");
  switch (object->type) {
    case ObjectType::kTable: {
      ObjectInfo after = *object;
      after.name = newname;
      after.storage_name = StorageNameFor(owner, newname);
      executor.RebuildTable(db, *object, after, CopyAll(*object));
      const ObjectInfo* rebuilt = db.catalog->FindById(after.id);
      SetObjectName(executor, db, *rebuilt, newname, rebuilt->storage_name);
      break;
    }
    case ObjectType::kProcedure:
    case ObjectType::kScalarFunction:
    case ObjectType::kInlineFunction:
    case ObjectType::kTableFunction:
    case ObjectType::kTrigger:
      SetObjectName(executor, db, *object, newname, StorageNameFor(owner, newname));
      break;
    case ObjectType::kView:
    case ObjectType::kCheck:
    case ObjectType::kForeignKey:
      throw errors::Unsupported("sp_rename of a view or constraint");
  }
  return "object";
}

std::string RenameColumn(Executor& executor, AttachedDatabase& db, const std::string& objname,
                         const std::string& objtype, const std::string& newname) {
  const ObjectInfo* table = FindTable(executor, db, SplitObjectName(objname));
  const std::string column = SplitObjectName(objname).back();
  const ColumnInfo* old = table ? table->FindColumn(column) : nullptr;
  if (!old) throw Ambiguous(objtype);
  executor.CheckPermission("ALTER", db, table);
  if (const ColumnInfo* other = table->FindColumn(newname); other && other != old)
    throw NameInUse(newname, "column");
  // Constraints keep their columns by name: a rename under them would leave them broken.
  if (!ConstraintUsing(*db.catalog, table->id, old->name).empty())
    throw errors::Unsupported("sp_rename of a column a CHECK or FOREIGN KEY constraint uses");
  ObjectInfo after = *table;
  std::vector<std::pair<std::string, std::string>> copy;
  for (ColumnInfo& c : after.columns) {
    std::string source = QuoteIdentifier(c.name);
    if (c.colid == old->colid) c.name = newname;
    copy.emplace_back(c.name, source);
  }
  for (IndexInfo& index : after.indexes)
    for (std::string& key : index.columns)
      if (EqualsNoCase(key, old->name)) key = newname;
  executor.RebuildTable(db, *table, std::move(after), copy);
  return "COLUMN";
}

// sp_rename @objname, @newname [, @objtype]: OBJECT (the default), COLUMN, INDEX or DATABASE.
std::int64_t Rename(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_rename", arguments, {"@objname", "@newname", "@objtype"});
  for (const char* required : {"@objname", "@newname"}) {
    if (!args.Given(required)) throw errors::MissingArgument("sp_rename", required);
    if (args.Get(required).IsNull() || args.Text(required).empty())
      throw errors::Raise<15223>(required);
  }
  const std::string objname = args.Text("@objname");
  const std::string newname = args.Text("@newname");
  const bool typed = !args.Get("@objtype").IsNull();
  const std::string objtype = typed ? Upper(args.Text("@objtype")) : std::string();
  const std::string shown = typed ? args.Text("@objtype") : "(null)";
  if (objtype == "DATABASE") {
    std::vector<ProcedureArgument> renamedb(2);
    renamedb[0].value = Value(objname);
    renamedb[1].value = Value(newname);
    return (*FindSystemProcedure("sp_renamedb"))(executor, renamedb);
  }
  if (typed && objtype != "OBJECT" && objtype != "COLUMN" && objtype != "INDEX") {
    if (objtype == "USERDATATYPE") throw Ambiguous(shown);  // the sandbox has no such types
    throw errors::Raise<15249>(shown);
  }
  CheckIdentifier(newname);
  AttachedDatabase& db = executor.Db();
  // The catalogue and the tables behind it change as one: a failure half-way leaves nothing
  // behind, and other sessions see the new names once they are committed.
  SessionImpl& session = executor.session();
  std::string kind;
  session.connection().Exec("SAVEPOINT \"sp_rename\"");
  try {
    kind = objtype == "COLUMN"  ? RenameColumn(executor, db, objname, shown, newname)
           : objtype == "INDEX" ? RenameIndex(executor, db, objname, shown, newname)
                                : RenameObject(executor, db, objname, shown, newname);
  } catch (...) {
    try {
      session.connection().Exec("ROLLBACK TO \"sp_rename\"; RELEASE \"sp_rename\"");
    } catch (const SqliteError&) {
      // The transaction ended under the procedure already.
    }
    if (session.trancount() == 0) session.CatalogRolledBack();
    throw;
  }
  session.connection().Exec("RELEASE \"sp_rename\"");
  if (session.trancount() == 0) session.CatalogCommitted();
  Inform(executor, errors::Raise<15477>());
  Inform(executor, errors::Raise<15520>(kind, newname));
  return 0;
}

}  // namespace

void AddRenameProcedures(SystemProcedureTable& table) { table.emplace("sp_rename", Rename); }

}  // namespace sandbox
