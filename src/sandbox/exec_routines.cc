// Table variables and user-defined functions. A table variable is a #table of tempdb under a
// generated name, seen only through its @name in the frame that declared it, dropped when that
// frame ends and left alone by ROLLBACK. A function runs in a frame of its own: a scalar one
// through a SQLite function, so it is called per row; a table-valued one before the query that
// names it (its arguments cannot name the query's columns), its rows kept in a #table.
#include <algorithm>
#include <cstdio>

#include "sandbox/collation.h"
#include "sandbox/constraints.h"
#include "sandbox/executor.h"
#include "sandbox/function_support.h"
#include "sandbox/messages.h"
#include "sandbox/routine_objects.h"
#include "sandbox/security.h"
#include "sandbox/tsql/printer.h"
#include "sandbox/versions.h"

namespace sandbox {

using common::Value;

namespace {

// 7.0 knows no table variables or functions: its parser stops at the word.
[[noreturn]] void RefuseOn70(const char* keyword) { throw errors::Raise<156>(keyword); }

// Whether an UPDATE or DELETE target is a table variable, by name or by its alias in FROM.
bool TargetsLocal(const tsql::ObjectName& target, const std::vector<tsql::TableSourcePtr>& from) {
  if (target.name.rfind('@', 0) == 0) return true;
  std::vector<const tsql::TableSource*> sources;
  for (const tsql::TableSourcePtr& f : from) sources.push_back(f.get());
  while (!sources.empty()) {
    const tsql::TableSource* source = sources.back();
    sources.pop_back();
    if (source->kind == tsql::TableSource::Kind::kJoin) {
      sources.push_back(source->As<tsql::Join>().left.get());
      sources.push_back(source->As<tsql::Join>().right.get());
    } else if (source->kind == tsql::TableSource::Kind::kTable) {
      const auto& ref = source->As<tsql::TableRef>();
      if (target.part_count == 1 && EqualsNoCase(ref.alias, target.name))
        return ref.name.name.rfind('@', 0) == 0;
    }
  }
  return false;
}

// A table variable's #table: SQL Server names it after its object id, and error messages show
// that name.
tsql::ObjectName TableVariableStorage(SessionImpl& session) {
  char name[16];
  std::snprintf(name, sizeof name, "#%08X",
                static_cast<unsigned>(-session.NextTempId()) * 2654435761u);
  tsql::ObjectName storage;
  storage.name = name;
  storage.part_count = 1;
  return storage;
}

// A routine's parameters as catalogue columns; unknown types (2715) and names used twice (134)
// are refused.
std::vector<ColumnInfo> ParameterColumns(const std::vector<tsql::ProcedureParameter>& parameters,
                                         int major_version) {
  std::vector<ColumnInfo> columns;
  for (const tsql::ProcedureParameter& p : parameters) {
    CheckIdentifier(p.name);
    ColumnInfo c;
    c.name = p.name;
    try {
      c.type = Translator::ResolveType(p.type, false, major_version);
    } catch (const SqlError& e) {
      if (e.number() != 243) throw;
      throw errors::Raise<2715>(columns.size() + 1, p.type.name);
    }
    for (const ColumnInfo& other : columns)
      if (EqualsNoCase(other.name, p.name)) throw errors::VariableDeclaredTwice(p.name);
    columns.push_back(std::move(c));
  }
  return columns;
}

// A function may change nothing outside itself: what its body may not do is refused when it is
// made, as SQL Server does. text is the batch the spans refer to.
void RefuseSideEffects(const tsql::Statement& statement, std::string_view text) {
  using Kind = tsql::Statement::Kind;
  auto invalid = [](std::string what) { return errors::Raise<443>(what); };
  switch (statement.kind) {
    case Kind::kBlock:
      for (const auto& s : statement.As<tsql::BlockStatement>().statements)
        RefuseSideEffects(*s, text);
      return;
    case Kind::kIf: {
      const auto& s = statement.As<tsql::IfStatement>();
      RefuseSideEffects(*s.then_branch, text);
      if (s.else_branch) RefuseSideEffects(*s.else_branch, text);
      return;
    }
    case Kind::kWhile:
      return RefuseSideEffects(*statement.As<tsql::WhileStatement>().body, text);
    case Kind::kSelect: {
      const tsql::QuerySpec& select = statement.As<tsql::SelectStatement>().query->FirstSpec();
      if (!select.into.empty()) throw invalid("SELECT INTO");
      if (select.items.empty() || select.items[0].kind != tsql::SelectItem::Kind::kAssignment)
        throw errors::Raise<444>();
      return;
    }
    case Kind::kInsert:
      if (statement.As<tsql::InsertStatement>().table.name.rfind('@', 0) != 0)
        throw invalid("INSERT");
      return;
    case Kind::kUpdate:
      if (!TargetsLocal(statement.As<tsql::UpdateStatement>().target,
                        statement.As<tsql::UpdateStatement>().from))
        throw invalid("UPDATE");
      return;
    case Kind::kDelete:
      if (!TargetsLocal(statement.As<tsql::DeleteStatement>().target,
                        statement.As<tsql::DeleteStatement>().from))
        throw invalid("DELETE");
      return;
    case Kind::kDeclare:
    case Kind::kSetVariable:
    case Kind::kBreak:
    case Kind::kContinue:
    case Kind::kReturn:
    case Kind::kGoto:
    case Kind::kLabel:
      return;
    case Kind::kExecute:
    case Kind::kExecuteString:
      throw invalid("EXECUTE");
    case Kind::kTruncateTable:
    case Kind::kCreateTable:
    case Kind::kAlterTable:
    case Kind::kDropTable:
    case Kind::kCreateIndex:
    case Kind::kDropIndex:
    case Kind::kCreateView:
    case Kind::kDropView:
    case Kind::kCreateProcedure:
    case Kind::kDropProcedure:
    case Kind::kCreateTrigger:
    case Kind::kDropTrigger:
    case Kind::kCreateDatabase:
    case Kind::kAlterDatabase:
    case Kind::kDropDatabase:
    case Kind::kPermission:
    case Kind::kSetOption:
    case Kind::kBeginTransaction:
    case Kind::kCommit:
    case Kind::kRollback:
    case Kind::kSaveTransaction:
    case Kind::kPrint:
    case Kind::kRaiserror:
    case Kind::kUse:
    case Kind::kKill:
    case Kind::kWaitFor:
    case Kind::kBackup:
    case Kind::kRestore:
    case Kind::kDbcc:
    case Kind::kCheckpoint:
    case Kind::kReconfigure:
    case Kind::kCursor:
    case Kind::kCreateFunction:
    case Kind::kDropFunction: {
      // PRINT, RAISERROR, transactions, DDL, SET options: named by the statement's words.
      std::string_view words = statement.span.TextIn(text);
      size_t end = words.find_first_of(" \t\r\n(");
      std::string first(words.substr(0, end));
      if (first == "SET" || first == "BEGIN" || first == "COMMIT" || first == "ROLLBACK" ||
          first == "CREATE" || first == "DROP" || first == "ALTER") {
        size_t next = words.find_first_not_of(" \t\r\n", end);
        size_t stop = next == std::string_view::npos ? next : words.find_first_of(" \t\r\n(", next);
        if (next != std::string_view::npos)
          first += " " + std::string(words.substr(next, stop - next));
      }
      throw invalid(Upper(first));
    }
  }
}

}  // namespace

void Executor::DeclareTableVariable(const std::string& variable,
                                    const tsql::TableDefinition& definition) {
  if (MajorVersionOf(session_.instance().config()) < 8) RefuseOn70("TABLE");
  // A foreign key would refer across scopes that end at different times: refused.
  auto referencing = [](const std::vector<tsql::TableConstraint>& constraints) {
    return std::any_of(constraints.begin(), constraints.end(), [](const auto& k) {
      return k.type == tsql::TableConstraint::Type::kForeignKey;
    });
  };
  bool refused = referencing(definition.constraints);
  for (const tsql::ColumnDef& def : definition.columns)
    refused = refused || referencing(def.constraints);
  if (refused) throw errors::Unsupported("FOREIGN KEY constraints on table variables");
  const tsql::ObjectName storage = TableVariableStorage(session_);
  RegisterTable(storage, DefineTable(storage.name, definition));
  frame().table_variables[Lower(variable)] = Lower(storage.name);
  TempTable& made = *session_.FindTemp(storage.name);
  made.checks = TableVariableChecks(made.info, definition);
}

std::optional<ResolvedTable> Executor::ResolveTableVariable(const tsql::ObjectName& name) {
  // A trigger's inserted and deleted tables are kept among its frame's table variables.
  const bool rows = name.part_count == 1 && frame().trigger &&
                    (EqualsNoCase(name.name, "inserted") || EqualsNoCase(name.name, "deleted"));
  if (!rows && (name.name.empty() || name.name[0] != '@')) return std::nullopt;
  auto it = frame().table_variables.find(Lower(name.name));
  TempTable* temp = it == frame().table_variables.end() ? nullptr : session_.FindTemp(it->second);
  if (!temp) throw errors::UndeclaredVariable(name.name);
  tsql::ObjectName storage;
  storage.name = temp->info.name;
  storage.part_count = 1;
  return ResolveTable(storage);
}

void Executor::DropTableVariables(Frame& frame) {
  for (const auto& [variable, key] : frame.table_variables) DropTemp(key);
  frame.table_variables.clear();
}

void Executor::RollbackKeepingTableVariables(const std::function<void()>& rollback) {
  struct Saved {
    std::string key;
    TempTable temp;
    std::vector<std::vector<Value>> rows;
  };
  std::vector<Saved> saved;
  for (const auto& f : frames_) {
    for (const auto& [variable, key] : f->table_variables) {
      TempTable* temp = session_.FindTemp(key);
      if (!temp) continue;
      Saved s{key, *temp, {}};
      RunSql("SELECT * FROM \"temp\"." + QuoteIdentifier(temp->info.storage_name), {},
             [&](sqlite3_stmt* stmt) {
               std::vector<Value>& row = s.rows.emplace_back();
               for (int i = 0; i < sqlite3_column_count(stmt); ++i)
                 row.push_back(ReadColumn(stmt, i));
             });
      saved.push_back(std::move(s));
    }
  }
  rollback();
  if (saved.empty()) return;
  Connection& connection = session_.connection();
  connection.Exec("SAVEPOINT keep_table_variables");
  for (Saved& s : saved) {
    const std::string table = "\"temp\"." + QuoteIdentifier(s.temp.info.storage_name);
    // A table declared inside the transaction went with it; its identity counter stays.
    if (!session_.FindTemp(s.key)) {
      BuildTable("temp\x1f" + s.temp.info.storage_name, s.temp.info);
      session_.temp_tables()[s.key] = s.temp;
    }
    RunSql("DELETE FROM " + table, {});
    if (s.rows.empty()) continue;
    std::string insert = "INSERT INTO " + table + " VALUES (";
    for (size_t i = 0; i < s.rows[0].size(); ++i) insert += i ? ", ?" : "?";
    insert += ")";
    for (const std::vector<Value>& row : s.rows) RunSql(insert, row);
  }
  connection.Exec("RELEASE keep_table_variables");
}

// --- user-defined functions ---------------------------------------------------------------

void Executor::CreateFunction(const tsql::CreateFunctionStatement& s) {
  if (MajorVersionOf(session_.instance().config()) < 8)
    throw errors::Raise<170>(s.span.line, "FUNCTION").WithScope(ErrorScope::kBatch);
  CheckIdentifier(s.name.name);
  AttachedDatabase& db = s.name.database.empty() ? Db() : session_.Database(s.name.database);
  if (!s.name.database.empty() && db.dbid != Db().dbid) throw errors::Raise<166>("CREATE FUNCTION");
  for (const tsql::StatementPtr& statement : s.body) RefuseSideEffects(*statement, frame().text);
  if (s.returns == tsql::CreateFunctionStatement::Returns::kScalar &&
      (s.body.empty() || s.body.back()->kind != tsql::Statement::Kind::kReturn))
    throw errors::Raise<455>();
  CheckPermission("CREATE FUNCTION", db, nullptr);
  ObjectInfo info = NewRoutine(db, OwnerForCreate(db, s.name.owner), s.name.name, s.alter,
                               s.returns == tsql::CreateFunctionStatement::Returns::kScalar
                                   ? ObjectType::kScalarFunction
                               : s.returns == tsql::CreateFunctionStatement::Returns::kInlineTable
                                   ? ObjectType::kInlineFunction
                                   : ObjectType::kTableFunction,
                               s.text);
  info.columns = ParameterColumns(s.parameters, MajorVersion());
  if (s.returns == tsql::CreateFunctionStatement::Returns::kScalar)
    Translator::ResolveType(s.type, false, MajorVersion());
  if (s.table) DefineTable(s.name.name, *s.table);
  RegisterRoutine(session_, db, std::move(info));
  session_.rowcount = 0;
  SendDone(-1);
}

namespace {

const tsql::CreateFunctionStatement& Definition(SessionImpl& session, const ObjectInfo& function) {
  std::shared_ptr<const tsql::Batch> parsed = session.ParsedProcedure(function.definition);
  if (parsed->statements.empty() ||
      parsed->statements[0]->kind != tsql::Statement::Kind::kCreateFunction)
    throw errors::Raise<8624>(function.name, "function");
  return parsed->statements[0]->As<tsql::CreateFunctionStatement>();
}

void CheckArgumentCount(const ObjectInfo& function, size_t given, const std::string& shown) {
  if (given < function.columns.size()) throw errors::Raise<313>(shown);
  if (given > function.columns.size()) throw errors::Raise<8144>(shown);
}

}  // namespace

std::optional<TypedSql> Executor::UserFunction(const tsql::FunctionCall& call,
                                               const std::vector<TypedSql>& args) {
  AttachedDatabase& db = call.name.database.empty() ? Db() : session_.Database(call.name.database);
  const ObjectInfo* function = db.catalog->Find(call.name.name, call.name.owner);
  if (!function || function->type != ObjectType::kScalarFunction) return std::nullopt;
  CheckPermission("EXECUTE", db, function);
  CheckArgumentCount(*function, args.size(), call.name.ToString());
  TypedSql out;
  out.type = Translator::ResolveType(Definition(session_, *function).type, false, MajorVersion());
  out.sql = "tsql_user_function(" + std::to_string(db.dbid) + ", " + std::to_string(function->id);
  // Each argument travels with the kind of its type, which decides how it converts.
  for (const TypedSql& a : args)
    out.sql += ", " + std::to_string(static_cast<int>(a.type.kind)) + ", " + a.sql;
  out.sql += ")";
  return out;
}

void Executor::ScalarFunctionEntry(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto* executor = static_cast<Executor*>(sqlite3_user_data(ctx));
  try {
    int dbid = static_cast<int>(sqlite3_value_int(argv[0]));
    std::int64_t id = sqlite3_value_int64(argv[1]);
    AttachedDatabase& db = executor->session_.Database(dbid);
    const ObjectInfo* function = db.catalog->FindById(id);
    if (!function) throw errors::InvalidObject(std::to_string(id));
    std::vector<Value> args;
    std::vector<SqlType> types;
    for (int i = 2; i + 1 < argc; i += 2) {
      types.push_back(SqlType{static_cast<TypeKind>(sqlite3_value_int(argv[i]))});
      args.push_back(FunctionArg(argv[i + 1]));
    }
    FunctionResult(ctx, executor->CallFunction(db, *function, args, types)->result);
  } catch (const SqlError& e) {
    std::string text = EncodeFunctionError(e);
    sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
  } catch (const SqliteError& e) {
    std::string text = EncodeFunctionError(executor->MapSqliteError(e, nullptr, false));
    sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
  } catch (...) {
    // Time-out, cancel, a dropped session: the caller's statement sees SQLite's interrupt and
    // asks the session why.
    sqlite3_result_error_code(ctx, SQLITE_INTERRUPT);
  }
}

std::unique_ptr<Executor::Frame> Executor::CallFunction(AttachedDatabase& db,
                                                        const ObjectInfo& function,
                                                        const std::vector<Value>& args,
                                                        const std::vector<SqlType>& types) {
  if (static_cast<int>(frames_.size()) > 32) throw errors::Raise<217>();
  const tsql::CreateFunctionStatement& definition = Definition(session_, function);
  auto child = std::make_unique<Frame>();
  child->procedure = function.name;
  child->procedure_id = function.id;
  child->text = function.definition;
  child->dbid = db.dbid;
  child->chain_owner = function.uid;
  child->depth = frame().depth + 1;
  child->function = true;
  if (definition.returns == tsql::CreateFunctionStatement::Returns::kScalar)
    child->returns = Translator::ResolveType(definition.type, false, MajorVersion());
  for (size_t k = 0; k < definition.parameters.size(); ++k) {
    VariableSlot slot;
    slot.type = function.columns[k].type;
    slot.value = Convert(args[k], slot.type, Fit::kCut, types[k], 0, &session_.options().dates);
    child->variables[Lower(definition.parameters[k].name)] = std::move(slot);
  }
  int saved_db = session_.current_dbid();
  // A function sends nothing to the client, not even row counts.
  bool saved_nocount = session_.options().nocount;
  session_.options().nocount = true;
  session_.SetCurrent(db.dbid);
  frames_.push_back(std::move(child));
  auto finish = [&]() {
    session_.SetCurrent(saved_db);
    session_.options().nocount = saved_nocount;
    std::unique_ptr<Frame> done = std::move(frames_.back());
    frames_.pop_back();
    return done;
  };
  try {
    if (definition.table) DeclareTableVariable(definition.table_variable, *definition.table);
    if (definition.query) {
      // An inline function's rows: its query, run once into a table.
      std::vector<Value> params;
      Translator translator(*this, params);
      Translation t = translator.Query(*definition.query, nullptr);
      ObjectInfo info;
      for (const OutputColumn& c : t.columns) {
        ColumnInfo column;
        column.name = c.name;
        column.type = c.type;
        info.columns.push_back(std::move(column));
      }
      const tsql::ObjectName storage = TableVariableStorage(session_);
      info.name = storage.name;
      RegisterTable(storage, info);
      frame().table_variables["@"] = Lower(storage.name);
      RunSql("INSERT INTO \"temp\"." + QuoteIdentifier(storage.name) + " " + t.sql, params);
    } else {
      RunList(definition.body);
    }
  } catch (...) {
    std::unique_ptr<Frame> done = finish();
    DropTableVariables(*done);
    throw;
  }
  return finish();
}

ResolvedTable Executor::ResolveTableFunction(const tsql::TableRef& ref) {
  const tsql::ObjectName& name = ref.name;
  AttachedDatabase& db = name.database.empty() ? Db() : session_.Database(name.database);
  const ObjectInfo* function = db.catalog->Find(name.name, name.owner, session_.UserId(db));
  if (!function || (function->type != ObjectType::kInlineFunction &&
                    function->type != ObjectType::kTableFunction))
    throw errors::InvalidObject(name.ToString());
  CheckPermission("SELECT", db, function);
  CheckArgumentCount(*function, ref.args.size(), name.ToString());
  std::vector<Value> args;
  std::vector<SqlType> types;
  for (const tsql::ExprPtr& a : ref.args) {
    SqlType type;
    args.push_back(Evaluate(*a, &type));
    types.push_back(type);
  }
  std::unique_ptr<Frame> done = CallFunction(db, *function, args, types);
  // The result table belongs to the calling frame until the same place calls again.
  std::string key = Lower(function->type == ObjectType::kInlineFunction
                              ? std::string("@")
                              : Definition(session_, *function).table_variable);
  std::string table = done->table_variables[key];
  done->table_variables.erase(key);
  DropTableVariables(*done);
  std::string site = "\x01" + std::to_string(reinterpret_cast<std::uintptr_t>(&ref));
  auto& owned = frame().table_variables;
  if (owned.count(site)) DropTemp(owned[site]);
  owned[site] = table;
  session_.FindTemp(table)->frame_depth = static_cast<int>(frames_.size()) - 1;
  tsql::ObjectName storage;
  storage.name = session_.FindTemp(table)->info.name;
  storage.part_count = 1;
  ResolvedTable out = ResolveTable(storage);
  out.name = function->name;
  return out;
}

// --- temporary procedures -------------------------------------------------------------------

namespace {

constexpr const char* kTempProcedures = "\"temp\".\"$procedures\"";

// ##name: the instance's, seen by every session; #name: the session's own.
bool IsGlobalProcedure(const tsql::ObjectName& name) { return name.name.rfind("##", 0) == 0; }

}  // namespace

void Executor::CreateTemporaryProcedure(const tsql::CreateProcedureStatement& s) {
  if (CodePointCount(s.name.name) > 116) throw errors::Raise<193>(s.name.name, 116);
  ParameterColumns(s.parameters, MajorVersion());
  if (IsGlobalProcedure(s.name)) {
    session_.instance().SaveGlobalProcedure(s.name.name, session_.NextTempId(), s.text,
                                            session_.spid(), s.alter);
    session_.rowcount = 0;
    return SendDone(-1);
  }
  RunSql(std::string("CREATE TABLE IF NOT EXISTS ") + kTempProcedures +
             " (name TEXT PRIMARY KEY, id INTEGER, definition TEXT)",
         {});
  bool exists = false;
  RunSql(std::string("SELECT 1 FROM ") + kTempProcedures + " WHERE name = ?",
         {Value(Lower(s.name.name))}, [&](sqlite3_stmt*) { exists = true; });
  if (exists && !s.alter) throw errors::ObjectExists(s.name.name);
  if (!exists && s.alter) throw errors::InvalidObject(s.name.name);
  RunSql(std::string("INSERT OR REPLACE INTO ") + kTempProcedures + " VALUES (?, ?, ?)",
         {Value(Lower(s.name.name)), Value(static_cast<long long>(session_.NextTempId())),
          Value(s.text)});
  session_.rowcount = 0;
  SendDone(-1);
}

void Executor::DropTemporaryProcedure(const tsql::ObjectName& name) {
  if (IsGlobalProcedure(name)) {
    if (!session_.instance().DropGlobalProcedure(name.name))
      throw errors::CannotDrop("procedure", name.ToString());
    return;
  }
  bool exists = false;
  RunSql("SELECT 1 FROM \"temp\".sqlite_master WHERE name = '$procedures'", {},
         [&](sqlite3_stmt*) { exists = true; });
  if (exists) {
    RunSql(std::string("DELETE FROM ") + kTempProcedures + " WHERE name = ?",
           {Value(Lower(name.name))});
    exists = sqlite3_changes(session_.connection().get()) > 0;
  }
  if (!exists) throw errors::CannotDrop("procedure", name.ToString());
}

std::int64_t Executor::CallTemporaryProcedure(const tsql::ObjectName& name,
                                              std::vector<ProcedureArgument>& arguments) {
  std::optional<ObjectInfo> procedure;
  bool exists = false;
  if (IsGlobalProcedure(name)) {
    if (auto global = session_.instance().FindGlobalProcedure(name.name)) {
      procedure.emplace();
      procedure->id = global->id;
      procedure->definition = global->definition;
    }
  } else {
    RunSql("SELECT 1 FROM \"temp\".sqlite_master WHERE name = '$procedures'", {},
           [&](sqlite3_stmt*) { exists = true; });
  }
  if (exists)
    RunSql(std::string("SELECT id, definition FROM ") + kTempProcedures + " WHERE name = ?",
           {Value(Lower(name.name))}, [&](sqlite3_stmt* stmt) {
             procedure.emplace();
             procedure->id = sqlite3_column_int64(stmt, 0);
             procedure->definition = ReadColumn(stmt, 1).ToText();
           });
  if (!procedure) throw errors::UnknownProcedure(name.ToString());
  // It works on the tables of the database it is called from, on its caller's rights.
  AttachedDatabase& db = Db();
  procedure->name = name.name;
  procedure->type = ObjectType::kProcedure;
  procedure->uid = session_.UserId(db);
  return CallUserProcedure(db, *procedure, arguments);
}

}  // namespace sandbox
