// Triggers: CREATE/ALTER/DROP TRIGGER, ENABLE/DISABLE TRIGGER, sp_helptrigger, and the running
// of a table's AFTER triggers once per statement, with the rows the statement touched in the
// inserted and deleted tables. SQLite's own temporary triggers record those rows while the
// statement runs; the T-SQL bodies run afterwards, inside the statement's transaction.
// An INSTEAD OF trigger's statement is undone once its rows are recorded, and the trigger runs
// in its place.
#include <algorithm>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"
#include "sandbox/system_procedures.h"
#include "sandbox/versions.h"

namespace sandbox {

using common::Value;

namespace {

// SQL Server's limit for triggers and procedures calling each other (error 217).
constexpr size_t kMaxNesting = 32;

std::string DisabledSetting(std::int64_t id) { return "trigger_disabled$" + std::to_string(id); }

std::shared_ptr<const tsql::Batch> ParsedTrigger(SessionImpl& session, const ObjectInfo& trigger) {
  std::shared_ptr<const tsql::Batch> parsed = session.ParsedProcedure(trigger.definition);
  if (parsed->statements.empty() ||
      parsed->statements[0]->kind != tsql::Statement::Kind::kCreateTrigger)
    throw errors::Raise<8624>(trigger.name, "trigger");
  return parsed;
}

// 7.0's parser knows only FOR: it stops at the word it does not know.
SqlError SyntaxErrorAt(const std::string& word, int line) {
  return errors::Raise<170>(line, word).WithScope(ErrorScope::kBatch);
}

std::vector<const ObjectInfo*> TriggersOf(const Catalog& catalog, std::int64_t table_id) {
  std::vector<const ObjectInfo*> out;
  for (const ObjectInfo* o : catalog.Objects())
    if (o->type == ObjectType::kTrigger && o->parent == table_id) out.push_back(o);
  return out;
}

bool Fires(const TriggerFacts& facts, char action) {
  return action == 'I' ? facts.insert : action == 'U' ? facts.update : facts.del;
}

}  // namespace

std::optional<TriggerFacts> FactsOfTrigger(SessionImpl& session, AttachedDatabase& db,
                                           const ObjectInfo& trigger) {
  if (trigger.type != ObjectType::kTrigger) return std::nullopt;
  auto parsed = ParsedTrigger(session, trigger);
  const auto& s = parsed->statements[0]->As<tsql::CreateTriggerStatement>();
  TriggerFacts facts;
  facts.insert = s.on_insert;
  facts.update = s.on_update;
  facts.del = s.on_delete;
  facts.instead_of = s.timing == "INSTEAD OF";
  facts.disabled =
      db.catalog->Setting(session.connection(), DisabledSetting(trigger.id)).value_or("0") == "1";
  return facts;
}

// --- DDL ---------------------------------------------------------------------------------

void Executor::CreateTrigger(const tsql::CreateTriggerStatement& s) {
  if (MajorVersion() < 8 && s.timing != "FOR")
    throw SyntaxErrorAt(s.timing.substr(0, s.timing.find(' ')), s.timing_line);
  CheckIdentifier(s.name.name);
  if (s.table.IsTemporary()) throw errors::Unsupported("triggers on temporary tables");
  ResolvedTable table = ResolveTable(s.table);
  if (table.kind == ResolvedTable::Kind::kSystem || table.kind == ResolvedTable::Kind::kTemp)
    throw errors::InvalidObject(s.table.ToString());
  if (table.kind == ResolvedTable::Kind::kView) throw errors::Unsupported("triggers on views");
  AttachedDatabase& db = session_.Database(table.dbid);
  CheckPermission("ALTER", db, table.object);
  // A trigger belongs to its table's owner.
  const ObjectInfo* existing =
      db.catalog->Find(s.name.name, db.catalog->OwnerName(table.object->uid));
  if (!s.alter && existing) throw errors::ObjectExists(s.name.name);
  if (s.alter && (!existing || existing->type != ObjectType::kTrigger))
    throw errors::InvalidObject(s.name.name);
  // One INSTEAD OF trigger per action and table.
  if (s.timing == "INSTEAD OF")
    for (const ObjectInfo* other : TriggersOf(*db.catalog, table.object->id)) {
      auto facts = FactsOfTrigger(session_, db, *other);
      if (other == existing || !facts || !facts->instead_of) continue;
      for (auto [mine, theirs, action] : {std::tuple{s.on_insert, facts->insert, "INSERT"},
                                          {s.on_update, facts->update, "UPDATE"},
                                          {s.on_delete, facts->del, "DELETE"}})
        if (mine && theirs)
          throw errors::Raise<2111>(s.alter ? "ALTER" : "CREATE", s.name.name, table.name, action);
    }
  ObjectInfo info;
  info.name = s.name.name;
  info.uid = table.object->uid;
  info.type = ObjectType::kTrigger;
  info.parent = table.object->id;
  info.definition = s.text;
  info.storage_name = StorageNameFor(db.catalog->OwnerName(info.uid), s.name.name);
  Connection& connection = session_.connection();
  if (existing) {
    info.id = existing->id;
    db.catalog->DeleteObject(connection, existing->id, Catalog::Permissions::kKeep);
  } else {
    info.id = db.catalog->NextObjectId(connection);
  }
  db.catalog->InsertObject(connection, info);
  db.catalog->ReloadObject(connection, info.id);
  session_.CatalogChanged(db.dbid);
  SendDone(-1);
}

void Executor::DropTriggers(const tsql::DropObjectsStatement& s) {
  for (const tsql::ObjectName& name : s.names) {
    AttachedDatabase& db = name.database.empty() ? Db() : session_.Database(name.database);
    const ObjectInfo* trigger = db.catalog->Find(name.name, name.owner, session_.UserId(db));
    if (!trigger || trigger->type != ObjectType::kTrigger)
      throw errors::CannotDrop("trigger", name.ToString());
    CheckPermission("ALTER", db, db.catalog->FindById(trigger->parent));
    db.catalog->SetSetting(session_.connection(), DisabledSetting(trigger->id), "0");
    db.catalog->DeleteObject(session_.connection(), trigger->id);
    session_.CatalogChanged(db.dbid);
  }
  SendDone(-1);
}

void Executor::DropTriggersOf(AttachedDatabase& db, std::int64_t table_id) {
  std::vector<std::int64_t> ids;
  for (const ObjectInfo* trigger : TriggersOf(*db.catalog, table_id)) ids.push_back(trigger->id);
  for (std::int64_t id : ids) {
    db.catalog->SetSetting(session_.connection(), DisabledSetting(id), "0");
    db.catalog->DeleteObject(session_.connection(), id);
  }
}

void Executor::EnableTriggers(const ResolvedTable& table, const std::vector<std::string>& names,
                              bool enable) {
  if (table.kind != ResolvedTable::Kind::kTable) throw errors::InvalidObject(table.name);
  AttachedDatabase& db = session_.Database(table.dbid);
  std::vector<const ObjectInfo*> chosen;
  const std::vector<const ObjectInfo*> all = TriggersOf(*db.catalog, table.object->id);
  if (names.size() == 1 && names[0] == "ALL") {
    chosen = all;
  } else {
    for (const std::string& name : names) {
      auto it = std::find_if(all.begin(), all.end(),
                             [&](const ObjectInfo* t) { return EqualsNoCase(t->name, name); });
      if (it == all.end()) throw errors::Raise<4920>(name, table.name);
      chosen.push_back(*it);
    }
  }
  for (const ObjectInfo* trigger : chosen)
    db.catalog->SetSetting(session_.connection(), DisabledSetting(trigger->id), enable ? "0" : "1");
  SendDone(-1);
}

// --- running -----------------------------------------------------------------------------

std::optional<Executor::TriggerCapture> Executor::CaptureForTriggers(const ResolvedTable& table,
                                                                     char action) {
  if (table.kind == ResolvedTable::Kind::kTemp &&
      (table.name.rfind("#tsql$inserted$", 0) == 0 || table.name.rfind("#tsql$deleted$", 0) == 0))
    throw errors::Raise<286>();
  if (table.kind != ResolvedTable::Kind::kTable || !table.object) return std::nullopt;
  AttachedDatabase& db = session_.Database(table.dbid);
  TriggerCapture capture;
  capture.dbid = table.dbid;
  capture.table_id = table.object->id;
  capture.action = action;
  // Without RECURSIVE_TRIGGERS a trigger's change of its own table does not fire it again.
  auto record = session_.instance().FindDatabase(db.dbid);
  const bool recursive = record && (record->status2 & dbstatus2::kRecursiveTriggers);
  // An INSTEAD OF trigger takes the statement's place, and then no AFTER trigger fires; a
  // statement inside it on its own table does not call it again.
  auto running = [&](std::int64_t id) {
    return std::any_of(frames_.begin(), frames_.end(),
                       [&](const auto& f) { return f->trigger && f->procedure_id == id; });
  };
  for (const ObjectInfo* trigger : TriggersOf(*db.catalog, table.object->id)) {
    auto facts = FactsOfTrigger(session_, db, *trigger);
    if (!facts || !facts->instead_of || facts->disabled || !Fires(*facts, action)) continue;
    if (!running(trigger->id)) capture.triggers.push_back(trigger->id);
  }
  const bool instead = !capture.triggers.empty();
  for (const ObjectInfo* trigger : TriggersOf(*db.catalog, table.object->id)) {
    if (instead) break;
    auto facts = FactsOfTrigger(session_, db, *trigger);
    if (!facts || facts->instead_of || facts->disabled || !Fires(*facts, action)) continue;
    if (!recursive && frame().trigger && frame().procedure_id == trigger->id) continue;
    capture.triggers.push_back(trigger->id);
  }
  if (capture.triggers.empty()) return std::nullopt;

  // INSERT names every column; UPDATE the columns of its SET list, whatever their values.
  int last = 0;
  for (const ColumnInfo& c : table.object->columns) last = std::max(last, c.colid);
  capture.columns_updated.assign(static_cast<size_t>(last + 7) / 8, '\0');
  auto mark = [&](const ColumnInfo& c) {
    capture.columns_updated[(c.colid - 1) / 8] |= static_cast<char>(1 << ((c.colid - 1) % 8));
  };
  if (action == 'I')
    for (const ColumnInfo& c : table.object->columns) mark(c);
  if (action == 'U' && current_ && current_->kind == tsql::Statement::Kind::kUpdate)
    for (const tsql::SetClause& set : current_->As<tsql::UpdateStatement>().sets)
      if (set.column)
        if (const ColumnInfo* c = table.object->FindColumn(set.column->column)) mark(*c);

  // The inserted and deleted tables: the table's columns, without keys, identity or defaults.
  ObjectInfo rows;
  for (ColumnInfo c : table.object->columns) {
    c.identity = false;
    c.nullable = true;
    c.default_text.clear();
    c.default_name.clear();
    rows.columns.push_back(std::move(c));
  }
  std::string news, olds;
  for (const ColumnInfo& c : rows.columns) {
    news += std::string(news.empty() ? "" : ", ") + "NEW." + QuoteIdentifier(c.name);
    olds += std::string(olds.empty() ? "" : ", ") + "OLD." + QuoteIdentifier(c.name);
  }
  const std::string tag = std::to_string(-session_.NextTempId());
  capture.inserted = "#tsql$inserted$" + tag;
  capture.deleted = "#tsql$deleted$" + tag;
  BuildTable("temp\x1f" + capture.inserted, rows);
  BuildTable("temp\x1f" + capture.deleted, rows);
  Connection& connection = session_.connection();
  auto record_rows = [&](const char* event, const std::string& body) {
    std::string name = "tsql$capture$" + tag + "$" + event;
    connection.Exec("CREATE TEMP TRIGGER " + QuoteIdentifier(name) + " AFTER " + event + " ON " +
                    table.sql + " BEGIN " + body + " END");
    capture.sqlite_triggers.push_back(name);
  };
  const std::string into_inserted = "INSERT INTO " + QuoteIdentifier(capture.inserted) + " SELECT ";
  const std::string into_deleted = "INSERT INTO " + QuoteIdentifier(capture.deleted) + " SELECT ";
  if (action == 'I') record_rows("INSERT", into_inserted + news + ";");
  if (action == 'U') record_rows("UPDATE", into_deleted + olds + "; " + into_inserted + news + ";");
  if (action == 'D') record_rows("DELETE", into_deleted + olds + ";");
  // The statement writes as usual so the rows it would write are known; FireTriggers undoes
  // the write and keeps the rows.
  if (instead) {
    capture.instead_savepoint = "tsql$instead$" + tag;
    connection.Exec("SAVEPOINT " + QuoteIdentifier(capture.instead_savepoint));
  }
  return capture;
}

void Executor::FireTriggers(TriggerCapture& capture, std::int64_t changed) {
  const tsql::Statement* firing = current_;
  Connection& connection = session_.connection();
  // Undone first: the rollback would bring back the recording triggers dropped after it.
  if (!capture.instead_savepoint.empty()) {
    std::vector<std::pair<std::string, std::vector<Value>>> rows;
    for (const std::string& name : {capture.inserted, capture.deleted})
      RunSql("SELECT * FROM " + QuoteIdentifier(name), {}, [&](sqlite3_stmt* stmt) {
        std::vector<Value> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) row.push_back(ReadColumn(stmt, i));
        rows.emplace_back(name, std::move(row));
      });
    const std::string savepoint = QuoteIdentifier(capture.instead_savepoint);
    connection.Exec("ROLLBACK TO " + savepoint + "; RELEASE " + savepoint);
    capture.instead_savepoint.clear();
    for (auto& [name, row] : rows) {
      std::string marks;
      for (size_t i = 1; i <= row.size(); ++i) marks += (i > 1 ? ", ?" : "?") + std::to_string(i);
      RunSql("INSERT INTO " + QuoteIdentifier(name) + " VALUES (" + marks + ")", row);
    }
  }
  for (const std::string& name : capture.sqlite_triggers)
    connection.Exec("DROP TRIGGER IF EXISTS \"temp\"." + QuoteIdentifier(name));
  capture.sqlite_triggers.clear();
  // Registered as the session's temporary tables so names resolve to them; they belong to the
  // statement's level and end with it.
  const int level = static_cast<int>(frames_.size()) - 1;
  const ObjectInfo* table = session_.Database(capture.dbid).catalog->FindById(capture.table_id);
  for (const std::string& key : {capture.inserted, capture.deleted}) {
    TempTable temp;
    temp.info.name = key;
    temp.info.storage_name = key;
    temp.info.id = session_.NextTempId();
    if (table) temp.info.columns = table->columns;
    for (ColumnInfo& c : temp.info.columns) c.identity = false;
    temp.frame_depth = level;
    session_.temp_tables()[Lower(key)] = std::move(temp);
  }
  auto drop_rows = [&]() {
    DropTemp(Lower(capture.inserted));
    DropTemp(Lower(capture.deleted));
  };
  AttachedDatabase& db = session_.Database(capture.dbid);
  try {
    for (std::int64_t id : capture.triggers) {
      const ObjectInfo* trigger = db.catalog->FindById(id);
      if (!trigger) continue;  // dropped by an earlier trigger
      if (frames_.size() > kMaxNesting) throw errors::Raise<217>();
      std::shared_ptr<const tsql::Batch> parsed = ParsedTrigger(session_, *trigger);
      const auto& definition = parsed->statements[0]->As<tsql::CreateTriggerStatement>();
      auto child = std::make_unique<Frame>();
      child->procedure = trigger->name;
      child->procedure_id = trigger->id;
      child->text = parsed->text;
      child->dbid = db.dbid;
      child->chain_owner = trigger->uid;
      child->depth = frame().depth + 1;
      child->trigger = true;
      child->columns_updated = capture.columns_updated;
      child->table_variables["inserted"] = Lower(capture.inserted);
      child->table_variables["deleted"] = Lower(capture.deleted);
      const int saved_db = session_.current_dbid();
      session_.SetCurrent(db.dbid);
      OptionsScope options(session_);
      frames_.push_back(std::move(child));
      const int depth = static_cast<int>(frames_.size()) - 1;
      auto finish = [&]() {
        Frame& done = frame();
        done.table_variables.erase("inserted");
        done.table_variables.erase("deleted");
        DropTableVariables(done);
        std::vector<std::string> doomed;
        for (const auto& [key, temp] : session_.temp_tables())
          if (temp.frame_depth >= depth) doomed.push_back(key);
        for (const std::string& key : doomed) DropTemp(key);
        session_.SetCurrent(saved_db);
        const bool rolled_back = done.rolled_back;
        frames_.pop_back();
        return rolled_back;
      };
      session_.rowcount = changed;  // @@ROWCOUNT at a trigger's start: the statement's rows
      try {
        RunList(definition.body);
      } catch (...) {
        finish();
        throw;
      }
      if (finish()) {
        // ROLLBACK in the trigger: the transaction is gone, the batch ends here.
        SqlError error = errors::Raise<3609>();
        ServerMessage m = error.message();
        m.procedure = frame().procedure;
        m.line = firing ? firing->span.line : 0;
        sink_.Message(m);
        session_.error = m.number;
        throw AbortScope{true};
      }
    }
  } catch (...) {
    drop_rows();
    throw;
  }
  drop_rows();
  current_ = firing;
  session_.rowcount = changed;
}

std::optional<TypedSql> Executor::TriggerColumns(const tsql::FunctionCall& call) {
  if (!frame().trigger) return std::nullopt;
  const std::string name = Upper(call.name.name);
  const std::string& mask = frame().columns_updated;
  TypedSql out;
  out.nullable = false;
  if (name == "COLUMNS_UPDATED") {
    if (!call.args.empty()) throw errors::Raise<174>("columns_updated", 0);
    out.type = SqlType{TypeKind::kVarBinary, std::max<int>(1, static_cast<int>(mask.size()))};
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.sql = "X'";
    for (unsigned char byte : mask) out.sql += {kHex[byte >> 4], kHex[byte & 15]};
    out.sql += "'";
    return out;
  }
  // UPDATE(column): the column of the trigger's own table, named without its table.
  if (call.args.size() != 1 || call.args[0]->kind != tsql::Expr::Kind::kColumn ||
      !call.args[0]->As<tsql::ColumnRef>().table.empty())
    throw errors::Raise<156>("UPDATE");
  const std::string& column = call.args[0]->As<tsql::ColumnRef>().column;
  AttachedDatabase& db = session_.Database(frame().dbid);
  const ObjectInfo* trigger = db.catalog->FindById(frame().procedure_id);
  const ObjectInfo* table = trigger ? db.catalog->FindById(trigger->parent) : nullptr;
  const ColumnInfo* c = table ? table->FindColumn(column) : nullptr;
  if (!c) throw errors::InvalidColumn(column);
  const size_t byte = static_cast<size_t>(c->colid - 1) / 8;
  const bool named = byte < mask.size() && (mask[byte] >> ((c->colid - 1) % 8) & 1);
  out.type = SqlType::Bit();
  out.sql = named ? "1" : "0";
  return out;
}

void Executor::RollbackInTrigger() {
  frame().rolled_back = true;
  RollbackKeepingTableVariables([&] {
    if (session_.trancount() > 0) return session_.RollbackTransaction();
    // No user transaction: the statement's own one ends here.
    try {
      session_.connection().Exec("ROLLBACK");
    } catch (const SqliteError&) {
    }
    session_.CatalogRolledBack();
  });
}

// --- sp_helptrigger ----------------------------------------------------------------------

namespace {

// sp_helptrigger @tabname [, @triggertype]: the table's triggers, with what fires them.
std::int64_t HelpTrigger(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helptrigger", arguments, {"@tabname", "@triggertype"});
  if (!args.Given("@tabname")) throw errors::MissingArgument("sp_helptrigger", "@tabname");
  AttachedDatabase& db = executor.Db();
  tsql::ObjectName name;
  std::vector<std::string> parts = SplitObjectName(args.Text("@tabname"));
  name.name = parts.back();
  if (parts.size() > 1) name.owner = parts[parts.size() - 2];
  name.part_count = 1 + (parts.size() > 1);
  ResolvedTable table = executor.ResolveTable(name);
  if (table.kind != ResolvedTable::Kind::kTable) throw errors::InvalidObject(args.Text("@tabname"));
  const std::string type = Upper(args.Text("@triggertype"));
  std::vector<std::vector<Value>> rows;
  for (const ObjectInfo* trigger : TriggersOf(*db.catalog, table.object->id)) {
    auto facts = FactsOfTrigger(executor.session(), db, *trigger);
    if (!facts) continue;
    if ((type == "INSERT" && !facts->insert) || (type == "UPDATE" && !facts->update) ||
        (type == "DELETE" && !facts->del))
      continue;
    rows.push_back({Value(trigger->name), Value(db.catalog->OwnerName(trigger->uid)),
                    Value(facts->update ? 1 : 0), Value(facts->del ? 1 : 0),
                    Value(facts->insert ? 1 : 0), Value(facts->instead_of ? 0 : 1),
                    Value(facts->instead_of ? 1 : 0)});
  }
  executor.SendRows({Col("trigger_name", Sysname()), Col("trigger_owner", Sysname()),
                     Col("isupdate", SqlType::Int()), Col("isdelete", SqlType::Int()),
                     Col("isinsert", SqlType::Int()), Col("isafter", SqlType::Int()),
                     Col("isinsteadof", SqlType::Int())},
                    rows);
  return 0;
}

}  // namespace

void AddTriggerProcedures(SystemProcedureTable& table) {
  table.emplace("sp_helptrigger", HelpTrigger);
}

}  // namespace sandbox
