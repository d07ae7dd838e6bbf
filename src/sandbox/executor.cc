#include "sandbox/executor.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "sandbox/backup.h"
#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/live_variables.h"
#include "sandbox/messages.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"
#include "sandbox/system_tables.h"
#include "sandbox/tsql/parser.h"
#include "sandbox/versions.h"

namespace sandbox {

using common::Value;
using namespace tsql;

namespace {

std::string Key(std::string_view name) { return Lower(name); }

bool NeedsStatementSavepoint(tsql::Statement::Kind kind) {
  switch (kind) {
    case tsql::Statement::Kind::kSelect:
    case tsql::Statement::Kind::kInsert:
    case tsql::Statement::Kind::kUpdate:
    case tsql::Statement::Kind::kDelete:
    case tsql::Statement::Kind::kTruncateTable:
    case tsql::Statement::Kind::kCreateTable:
    case tsql::Statement::Kind::kAlterTable:
    case tsql::Statement::Kind::kDropTable:
    case tsql::Statement::Kind::kCreateIndex:
    case tsql::Statement::Kind::kDropIndex:
    case tsql::Statement::Kind::kCreateView:
    case tsql::Statement::Kind::kDropView:
    case tsql::Statement::Kind::kCreateProcedure:
    case tsql::Statement::Kind::kDropProcedure:
    case tsql::Statement::Kind::kPermission:
    case tsql::Statement::Kind::kCreateFunction:
    case tsql::Statement::Kind::kDropFunction:
    case tsql::Statement::Kind::kCreateTrigger:
    case tsql::Statement::Kind::kDropTrigger:
      return true;
    case tsql::Statement::Kind::kCreateDatabase:
    case tsql::Statement::Kind::kAlterDatabase:
    case tsql::Statement::Kind::kDropDatabase:
    case tsql::Statement::Kind::kDeclare:
    case tsql::Statement::Kind::kSetVariable:
    case tsql::Statement::Kind::kSetOption:
    case tsql::Statement::Kind::kIf:
    case tsql::Statement::Kind::kWhile:
    case tsql::Statement::Kind::kBlock:
    case tsql::Statement::Kind::kBreak:
    case tsql::Statement::Kind::kContinue:
    case tsql::Statement::Kind::kBeginTransaction:
    case tsql::Statement::Kind::kCommit:
    case tsql::Statement::Kind::kRollback:
    case tsql::Statement::Kind::kSaveTransaction:
    case tsql::Statement::Kind::kReturn:
    case tsql::Statement::Kind::kPrint:
    case tsql::Statement::Kind::kRaiserror:
    case tsql::Statement::Kind::kGoto:
    case tsql::Statement::Kind::kLabel:
    case tsql::Statement::Kind::kExecute:
    case tsql::Statement::Kind::kExecuteString:
    case tsql::Statement::Kind::kUse:
    case tsql::Statement::Kind::kKill:
    case tsql::Statement::Kind::kWaitFor:
    case tsql::Statement::Kind::kBackup:
    case tsql::Statement::Kind::kRestore:
    case tsql::Statement::Kind::kDbcc:
    case tsql::Statement::Kind::kCheckpoint:
    case tsql::Statement::Kind::kReconfigure:
    case tsql::Statement::Kind::kCursor:
      return false;
  }
  std::abort();  // not reached: the switch names every kind and returns
}

bool TerminatesStatement(std::int32_t number) {
  switch (number) {
    case 515:
    case 544:
    case 547:
    case 2601:
    case 2627:
    case 8152:
    case 220:
    case 8115:
    case 8102:
    case 8134:
      return true;
    default:
      return false;
  }
}

}  // namespace

void CheckIdentifier(std::string_view name) {
  if (CodePointCount(name) > 128) throw errors::IdentifierTooLong(name);
  if (name.find('\0') != std::string_view::npos)
    throw errors::Raise<1038>().WithScope(ErrorScope::kBatch);
}

Executor::Executor(SessionImpl& session, ResultSink& sink, std::vector<Parameter>& parameters)
    : session_(session), sink_(sink), parameters_(parameters) {
  auto frame = std::make_unique<Frame>();
  frame->dbid = session_.current_dbid();
  frames_.push_back(std::move(frame));
  sqlite3_create_function_v2(session_.connection().get(), "tsql_user_function", -1, SQLITE_UTF8,
                             this, &Executor::ScalarFunctionEntry, nullptr, nullptr, nullptr);
}

Executor::~Executor() {
  // Nothing may call into an executor that is gone.
  sqlite3_create_function_v2(session_.connection().get(), "tsql_user_function", -1, SQLITE_UTF8,
                             nullptr, nullptr, nullptr, nullptr, nullptr);
}

AttachedDatabase& Executor::Db() { return session_.Database(session_.current_dbid()); }

// --- batch -------------------------------------------------------------------------------

void Executor::RunBatch(const Batch& batch) {
  frame().text = batch.text;
  for (Parameter& p : parameters_) {
    if (p.name.size() < 2 || p.name[0] != '@') continue;
    VariableSlot slot;
    std::optional<SqlType> type;
    if (!p.type_name.empty()) type = TypeFromName(p.type_name, p.size > 0 ? 1 : 0, p.size);
    slot.type = type ? *type : TypeOfClientValue(p.value);
    // A parameter the client left untyped and empty takes whatever the batch assigns.
    if (p.value.IsNull() && !type) slot.type = SqlType{TypeKind::kSqlVariant};
    slot.value = FromClient(p.value);
    frame().variables[Key(p.name)] = std::move(slot);
  }
  try {
    Flow flow = RunList(batch.statements);
    (void)flow;
  } catch (const AbortScope&) {
    // The error has been reported; the rest of the batch is skipped.
  } catch (...) {
    DropTableVariables(frame());
    throw;
  }
  DropTableVariables(frame());
  for (Parameter& p : parameters_) {
    if (!p.output || p.name.size() < 2) continue;
    auto it = frame().variables.find(Key(p.name));
    if (it != frame().variables.end()) p.value = ToClient(it->second.value, it->second.type);
  }
}

void Executor::RunProcedureCall(const ObjectName& procedure) {
  std::vector<Argument> arguments;
  Parameter* status = nullptr;
  for (Parameter& p : parameters_) {
    if (p.name.empty()) {
      status = &p;
      continue;
    }
    Argument a;
    a.name = p.name[0] == '@' ? p.name : "@" + p.name;
    a.value = FromClient(p.value);
    if (!p.type_name.empty()) a.type = TypeFromName(p.type_name, p.size > 0 ? 1 : 0, p.size);
    if (!a.type) a.type = TypeOfClientValue(p.value);
    a.output = p.output;
    a.client = &p;
    arguments.push_back(std::move(a));
  }
  frame().text = procedure.ToString();
  try {
    std::int64_t rc = CallProcedure(procedure, arguments);
    if (status) status->value = Value(static_cast<long long>(rc));
  } catch (SqlError& error) {
    ServerMessage m = error.message();
    sink_.Message(m);
    session_.error = m.number;
  } catch (const AbortScope&) {
  }
}

Executor::Flow Executor::RunList(const StatementList& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    Flow flow = Run(*list[i]);
    if (flow == Flow::kGoto) {
      // A label in this list takes the jump; otherwise the enclosing list looks.
      size_t target = list.size();
      for (size_t k = 0; k < list.size(); ++k) {
        if (list[k]->kind == tsql::Statement::Kind::kLabel &&
            EqualsNoCase(list[k]->As<LabelStatement>().label, goto_label_))
          target = k;
      }
      if (target == list.size()) return flow;
      goto_label_.clear();
      i = target;
      continue;
    }
    if (flow != Flow::kNext) return flow;
  }
  return Flow::kNext;
}

void Executor::CheckInterrupt() {
  if (session_.broken() || session_.KilledElsewhere()) throw Interrupted{false};
  if (session_.cancelled()) throw BatchCancelled{};
  if (session_.has_deadline() && std::chrono::steady_clock::now() > session_.deadline())
    throw Interrupted{true};
}

Executor::Flow Executor::Run(const tsql::Statement& statement) {
  CheckInterrupt();
  switch (statement.kind) {
    case tsql::Statement::Kind::kBlock:
      return RunList(statement.As<BlockStatement>().statements);
    case tsql::Statement::Kind::kIf: {
      const IfStatement& s = statement.As<IfStatement>();
      bool condition = false;
      try {
        condition = Test(*s.condition);
        session_.error = 0;
      } catch (SqlError& error) {
        ReportError(error, statement);
        return Flow::kNext;
      } catch (const SqliteError& e) {
        SqlError error = MapSqliteError(e, nullptr, false);
        ReportError(error, statement);
        return Flow::kNext;
      }
      if (condition) return Run(*s.then_branch);
      if (s.else_branch) return Run(*s.else_branch);
      return Flow::kNext;
    }
    case tsql::Statement::Kind::kWhile: {
      const WhileStatement& s = statement.As<WhileStatement>();
      while (true) {
        CheckInterrupt();
        bool condition = false;
        try {
          condition = Test(*s.condition);
        } catch (SqlError& error) {
          ReportError(error, statement);
          return Flow::kNext;
        } catch (const SqliteError& e) {
          SqlError error = MapSqliteError(e, nullptr, false);
          ReportError(error, statement);
          return Flow::kNext;
        }
        if (!condition) break;
        Flow flow = Run(*s.body);
        if (flow == Flow::kBreak) break;
        if (flow == Flow::kReturn || flow == Flow::kGoto) return flow;
      }
      return Flow::kNext;
    }
    case tsql::Statement::Kind::kBreak:
      return Flow::kBreak;
    case tsql::Statement::Kind::kContinue:
      return Flow::kContinue;
    case tsql::Statement::Kind::kReturn: {
      const ReturnStatement& s = statement.As<ReturnStatement>();
      if (s.value && frame().returns) {
        SqlType type;
        Value v = Evaluate(*s.value, &type);
        frame().result =
            Convert(v, *frame().returns, Fit::kCut, type, 0, &session_.options().dates);
      } else if (s.value) {
        try {
          Value v = Convert(Evaluate(*s.value), SqlType::Int(), Fit::kCut);
          frame().return_status = v.ToInt();
        } catch (SqlError& error) {
          ReportError(error, statement);
        }
      }
      return Flow::kReturn;
    }
    case tsql::Statement::Kind::kGoto:
      goto_label_ = statement.As<LabelStatement>().label;
      return Flow::kGoto;
    case tsql::Statement::Kind::kLabel:
      return Flow::kNext;
    case tsql::Statement::Kind::kSelect:
    case tsql::Statement::Kind::kInsert:
    case tsql::Statement::Kind::kUpdate:
    case tsql::Statement::Kind::kDelete:
    case tsql::Statement::Kind::kTruncateTable:
    case tsql::Statement::Kind::kCreateTable:
    case tsql::Statement::Kind::kAlterTable:
    case tsql::Statement::Kind::kDropTable:
    case tsql::Statement::Kind::kCreateIndex:
    case tsql::Statement::Kind::kDropIndex:
    case tsql::Statement::Kind::kCreateView:
    case tsql::Statement::Kind::kDropView:
    case tsql::Statement::Kind::kCreateProcedure:
    case tsql::Statement::Kind::kDropProcedure:
    case tsql::Statement::Kind::kCreateDatabase:
    case tsql::Statement::Kind::kAlterDatabase:
    case tsql::Statement::Kind::kDropDatabase:
    case tsql::Statement::Kind::kPermission:
    case tsql::Statement::Kind::kDeclare:
    case tsql::Statement::Kind::kSetVariable:
    case tsql::Statement::Kind::kSetOption:
    case tsql::Statement::Kind::kBeginTransaction:
    case tsql::Statement::Kind::kCommit:
    case tsql::Statement::Kind::kRollback:
    case tsql::Statement::Kind::kSaveTransaction:
    case tsql::Statement::Kind::kPrint:
    case tsql::Statement::Kind::kRaiserror:
    case tsql::Statement::Kind::kExecute:
    case tsql::Statement::Kind::kExecuteString:
    case tsql::Statement::Kind::kUse:
    case tsql::Statement::Kind::kKill:
    case tsql::Statement::Kind::kWaitFor:
    case tsql::Statement::Kind::kBackup:
    case tsql::Statement::Kind::kRestore:
    case tsql::Statement::Kind::kDbcc:
    case tsql::Statement::Kind::kCheckpoint:
    case tsql::Statement::Kind::kReconfigure:
    case tsql::Statement::Kind::kCursor:
    case tsql::Statement::Kind::kCreateFunction:
    case tsql::Statement::Kind::kDropFunction:
    case tsql::Statement::Kind::kCreateTrigger:
    case tsql::Statement::Kind::kDropTrigger:
      RunLeaf(statement);
      return Flow::kNext;
  }
  std::abort();  // not reached: the switch names every kind and returns
}

void Executor::RunLeaf(const tsql::Statement& statement) {
  current_ = &statement;
  std::string_view text = statement.span.TextIn(frame().text);
  if (auto fault = session_.instance().CheckFault(text)) {
    SqlError error(fault->number, fault->severity, fault->text, ErrorScope::kStatement,
                   fault->state);
    ReportError(error, statement);
    return;
  }
  bool savepoint = NeedsStatementSavepoint(statement.kind);
  if (statement.kind == tsql::Statement::Kind::kSelect) {
    const auto& q = *statement.As<SelectStatement>().query;
    savepoint = !q.FirstSpec().into.empty();
  }
  std::string name = "stmt" + std::to_string(savepoint_depth_);
  if (savepoint) {
    session_.connection().Exec("SAVEPOINT " + name);
    ++savepoint_depth_;
  }
  // Whether the savepoint is still to be released or rolled back: a RELEASE that fails (a full
  // disk) leaves it to undo, which must not count it twice.
  bool open = savepoint;
  auto undo = [&]() {
    if (!open) return;
    open = false;
    --savepoint_depth_;
    try {
      session_.connection().Exec("ROLLBACK TO " + name + "; RELEASE " + name);
    } catch (const SqliteError&) {
      // The transaction is gone already (ROLLBACK inside the statement).
    }
    if (session_.trancount() == 0)
      session_.CatalogRolledBack();
    else
      session_.KeepSpentIdentities();
  };
  try {
    Dispatch(statement);
    if (savepoint) {
      session_.connection().Exec("RELEASE " + name);
      open = false;
      --savepoint_depth_;
      if (session_.trancount() == 0) session_.CatalogCommitted();
    }
    // @@ERROR is reset by every statement that succeeds; after EXEC it tells how the
    // procedure's last statement went, and RAISERROR sets it itself.
    if (statement.kind != tsql::Statement::Kind::kRaiserror &&
        statement.kind != tsql::Statement::Kind::kExecute &&
        statement.kind != tsql::Statement::Kind::kExecuteString)
      session_.error = 0;
  } catch (SqlError& error) {
    undo();
    if (session_.RetryAfterBusy(error)) return RunLeaf(statement);
    ReportError(error, statement);
  } catch (const SqliteError& e) {
    SqlError error = MapSqliteError(e, nullptr, statement.kind == tsql::Statement::Kind::kInsert);
    undo();
    if (session_.RetryAfterBusy(error)) return RunLeaf(statement);
    ReportError(error, statement);
  } catch (const Interrupted&) {
    undo();
    throw;
  } catch (const BatchCancelled&) {
    undo();
    throw;
  } catch (const AbortScope&) {
    undo();
    throw;
  } catch (const std::exception& e) {
    // Anything else is a fault of the engine: the statement fails, the session lives on.
    SqlError error(8624, 16, std::string("Internal SQL Server error: ") + e.what());
    undo();
    ReportError(error, statement);
  }
}

void Executor::ReportError(SqlError& error, const tsql::Statement& statement) {
  // An error inside a function ends the statement that called it.
  if (frame().function) throw error;
  ServerMessage m = error.message();
  if (m.procedure.empty()) m.procedure = frame().procedure;
  if (m.line == 0) m.line = statement.span.line;
  sink_.Message(m);
  session_.error = m.number;
  session_.rowcount = 0;
  // Only a change that failed is reported as terminated; a query's error stands alone.
  using K = tsql::Statement::Kind;
  if (TerminatesStatement(m.number) &&
      (statement.kind == K::kInsert || statement.kind == K::kUpdate || statement.kind == K::kDelete)) {
    ServerMessage done;
    done.number = 3621;
    done.severity = 0;
    done.text = "The statement has been terminated.";
    done.procedure = m.procedure;
    done.line = m.line;
    sink_.Message(done);
  }
  ErrorScope scope = error.scope();
  if (session_.options().xact_abort && m.severity > 10) scope = ErrorScope::kTransaction;
  // An error in a trigger ends its statement's transaction and the batch (RAISERROR does not).
  if (frame().trigger && m.severity > 10 && statement.kind != tsql::Statement::Kind::kRaiserror)
    scope = ErrorScope::kTransaction;
  if (scope == ErrorScope::kStatement) return;
  if (scope == ErrorScope::kTransaction) {
    if (session_.trancount() > 0)
      RollbackKeepingTableVariables([&] { session_.RollbackTransaction(); });
    throw AbortScope{true};
  }
  throw AbortScope{frames_.size() == 1};
}

void Executor::SendDone(std::int64_t count) { sink_.Done(session_.options().nocount ? -1 : count); }

void Executor::Info(std::int32_t number, std::string text, int severity) {
  ServerMessage m;
  m.number = number;
  m.severity = severity;
  m.text = std::move(text);
  m.procedure = frame().procedure;
  m.line = current_ ? current_->span.line : 0;
  sink_.Message(m);
}

// --- evaluation --------------------------------------------------------------------------

Value Executor::Evaluate(const Expr& expr, SqlType* type) {
  std::vector<Value> params;
  Translator translator(*this, params);
  TypedSql t = translator.Expression(expr, nullptr);
  if (type) *type = t.type;
  Value result;
  RunSql("SELECT " + t.sql, params, [&](sqlite3_stmt* stmt) { result = ReadColumn(stmt, 0); });
  return result;
}

bool Executor::Test(const Expr& condition) {
  std::vector<Value> params;
  Translator translator(*this, params);
  std::string sql =
      "SELECT CASE WHEN " + translator.Condition(condition, nullptr) + " THEN 1 ELSE 0 END";
  bool result = false;
  RunSql(sql, params, [&](sqlite3_stmt* stmt) { result = sqlite3_column_int(stmt, 0) != 0; });
  return result;
}

void Executor::Assign(const std::string& variable, const Value& value,
                      const std::optional<SqlType>& source) {
  VariableSlot* slot = FindVariable(variable);
  if (!slot) throw errors::UndeclaredVariable(variable);
  slot->value = Convert(value, slot->type, Fit::kCut, source, 0, &session_.options().dates);
}

void Executor::RunSql(const std::string& sql, const std::vector<Value>& params,
                      const std::function<void(sqlite3_stmt*)>& on_row, const LiveVariables* live) {
  Connection& connection = session_.connection();
  sqlite3_stmt* stmt = connection.Cached(sql);
  // A function's body may run the very statement that is calling it: that one gets its own.
  sandbox::Statement own;
  if (sqlite3_stmt_busy(stmt)) {
    own = connection.Prepare(sql);
    stmt = own.get();
  }
  struct Reset {
    sqlite3_stmt* stmt;
    ~Reset() {
      sqlite3_reset(stmt);
      sqlite3_clear_bindings(stmt);
    }
  } reset{stmt};
  // A value bound while translating may have been left out of the final text (an expression
  // translated again in another form): only what the statement numbers is bound.
  const size_t count = std::min<size_t>(params.size(), sqlite3_bind_parameter_count(stmt));
  for (size_t i = 0; i < count; ++i)
    BindValue(connection.get(), stmt, static_cast<int>(i + 1), params[i]);
  if (live) live->Bind(stmt);
  while (true) {
    int rc = sqlite3_step(stmt);
    for (int n = 0; rc == SQLITE_BUSY && session_.WaitOutside(n++);) {
      sqlite3_reset(stmt);
      rc = sqlite3_step(stmt);
    }
    if (rc == SQLITE_ROW) {
      if (on_row) on_row(stmt);
      continue;
    }
    session_.SettleLocks();
    if (rc == SQLITE_DONE) break;
    int code = sqlite3_extended_errcode(connection.get());
    // A lock wait ends early for the same reasons a running statement is interrupted.
    bool stopped =
        session_.broken() || session_.cancelled() ||
        (session_.has_deadline() && std::chrono::steady_clock::now() > session_.deadline());
    if ((code & 0xFF) == SQLITE_INTERRUPT || ((code & 0xFF) == SQLITE_BUSY && stopped)) {
      if (session_.cancelled() && !session_.broken()) throw BatchCancelled{};
      throw Interrupted{!session_.broken()};
    }
    throw SqliteError(code, sqlite3_errmsg(connection.get()));
  }
}

// --- resolver ----------------------------------------------------------------------------

ResolvedTable Executor::ResolveTable(const ObjectName& name) {
  ResolvedTable out;
  if (auto variable = ResolveTableVariable(name)) return *variable;
  if (name.IsTemporary()) {
    TempTable* temp = session_.FindTemp(name.name);
    if (!temp) throw errors::InvalidObject(name.ToString());
    out.kind = ResolvedTable::Kind::kTemp;
    out.sql = "\"temp\"." + QuoteIdentifier(temp->info.storage_name);
    out.name = temp->info.name;
    out.database = "tempdb";
    out.dbid = 2;
    out.object = &temp->info;
  } else {
    AttachedDatabase& db = name.database.empty() ? Db() : session_.Database(name.database);
    const ObjectInfo* object = db.catalog->Find(name.name, name.owner, session_.UserId(db));
    if (object && (object->type == ObjectType::kTable || object->type == ObjectType::kView)) {
      out.kind = object->type == ObjectType::kView ? ResolvedTable::Kind::kView
                                                   : ResolvedTable::Kind::kTable;
      out.sql = QuoteIdentifier(db.schema) + "." + QuoteIdentifier(object->storage_name);
      out.name = object->name;
      out.owner = db.catalog->OwnerName(object->uid);
      out.database = db.catalog->name();
      out.dbid = db.dbid;
      out.object = object;
    } else if (EqualsNoCase(name.owner, "INFORMATION_SCHEMA")) {
      auto view = InformationSchemaView(*this, db, name.name);
      if (!view) throw errors::InvalidObject(name.ToString());
      return *view;
    } else if (auto system = SystemTable(*this, db, name.name);
               system && (name.owner.empty() || EqualsNoCase(name.owner, "dbo"))) {
      return *system;
    } else {
      throw errors::InvalidObject(name.ToString());
    }
  }
  for (const ColumnInfo& c : out.object->columns) {
    OutputColumn column;
    column.name = c.name;
    column.type = c.type;
    column.nullable = c.nullable;
    if (out.kind != ResolvedTable::Kind::kView) {
      column.base_table = out.name;
      column.base_column = c.name;
      column.key = out.object->IsKeyColumn(c.name);
    }
    column.identity = c.identity;
    column.seed = c.seed;
    column.increment = c.increment;
    out.columns.push_back(std::move(column));
  }
  return out;
}

void Executor::CheckRead(const ResolvedTable& table) {
  if (table.kind != ResolvedTable::Kind::kTable && table.kind != ResolvedTable::Kind::kView) return;
  CheckPermission("SELECT", session_.Database(table.dbid), table.object);
}

VariableSlot* Executor::FindVariable(std::string_view name) {
  auto it = frame().variables.find(Key(name));
  return it == frame().variables.end() ? nullptr : &it->second;
}

std::optional<std::pair<Value, SqlType>> Executor::GlobalVariable(std::string_view name) {
  auto integer = [](std::int64_t v) {
    return std::make_pair(Value(static_cast<long long>(v)), SqlType::Int());
  };
  if (name == "@@ROWCOUNT") return integer(session_.rowcount);
  if (name == "@@ERROR") return integer(session_.error);
  if (name == "@@TRANCOUNT") {
    // A statement that fires a trigger runs in a transaction of its own when there is none.
    const bool in_trigger =
        std::any_of(frames_.begin(), frames_.end(), [](const auto& f) { return f->trigger; });
    return integer(std::max(session_.trancount(), in_trigger ? 1 : 0));
  }
  if (name == "@@SPID") return std::make_pair(Value(session_.spid()), SqlType{TypeKind::kSmallInt});
  if (name == "@@IDENTITY")
    return std::make_pair(
        session_.identity ? Value(static_cast<long long>(*session_.identity)) : Value(),
        SqlType{TypeKind::kNumeric, 0, 38, 0});
  if (name == "@@VERSION")
    return std::make_pair(Value(session_.instance().VersionText()), SqlType::NVarChar(4000));
  if (name == "@@SERVERNAME")
    return std::make_pair(Value(session_.instance().ServerName()), SqlType::NVarChar(128));
  if (name == "@@SERVICENAME") {
    std::string n = session_.instance().name();
    return std::make_pair(Value(n), SqlType::NVarChar(128));
  }
  const DateSettings& dates = session_.options().dates;
  if (name == "@@LANGUAGE")
    return std::make_pair(Value(dates.language->name), SqlType::NVarChar(128));
  if (name == "@@LANGID")
    return std::make_pair(Value(dates.language->langid), SqlType{TypeKind::kSmallInt});
  if (name == "@@NESTLEVEL") return integer(static_cast<std::int64_t>(frames_.size()) - 1);
  if (name == "@@FETCH_STATUS") return integer(session_.fetch_status);
  if (name == "@@CURSOR_ROWS") return integer(session_.cursor_rows);
  if (name == "@@MAX_CONNECTIONS") return integer(32767);
  if (name == "@@DATEFIRST")
    return std::make_pair(Value(dates.datefirst), SqlType{TypeKind::kTinyInt});
  if (name == "@@TEXTSIZE") return integer(2147483647);
  if (name == "@@OPTIONS") return integer(5496);
  if (name == "@@PROCID") return integer(frame().procedure_id);
  if (name == "@@MICROSOFTVERSION") return integer(134218250);
  if (name == "@@LOCK_TIMEOUT") return integer(session_.options().lock_timeout);
  if (name == "@@MAX_PRECISION") return std::make_pair(Value(38), SqlType{TypeKind::kTinyInt});
  if (name == "@@REMSERVER") return std::make_pair(Value(), SqlType::NVarChar(128));
  // Microseconds per tick, as on Windows; the sandbox keeps no CPU, I/O or network counters.
  if (name == "@@TIMETICKS") return integer(31250);
  for (std::string_view counter :
       {"@@CONNECTIONS", "@@CPU_BUSY", "@@IDLE", "@@IO_BUSY", "@@PACK_RECEIVED", "@@PACK_SENT",
        "@@PACKET_ERRORS", "@@TOTAL_ERRORS", "@@TOTAL_READ", "@@TOTAL_WRITE"})
    if (name == counter) return integer(0);
  return std::nullopt;
}

std::optional<Value> Executor::ParameterMarker(int index) {
  if (index < 0 || static_cast<size_t>(index) >= parameters_.size()) return std::nullopt;
  return FromClient(parameters_[static_cast<size_t>(index)].value);
}

std::string Executor::CurrentDatabaseName() { return Db().catalog->name(); }
std::string Executor::CurrentUserName() { return session_.UserName(Db()); }
std::string Executor::LoginName() { return session_.login().name; }
std::string Executor::HostName() { return session_.request().host_name; }
std::string Executor::ApplicationName() { return session_.request().application; }
std::optional<std::int64_t> Executor::ScopeIdentity() { return frame().scope_identity; }

void Executor::CheckPermission(std::string_view action, AttachedDatabase& db,
                               const ObjectInfo* object) {
  CheckWritable(session_.instance(), db.dbid, action);
  // Inside a procedure, the objects of its own owner are used without asking again.
  bool uses_data = action == "SELECT" || action == "INSERT" || action == "UPDATE" ||
                   action == "DELETE" || action == "EXECUTE";
  if (object && uses_data && frame().chain_owner >= 0 && frame().dbid == db.dbid &&
      frame().chain_owner == object->uid)
    return;
  if (!Permitted(session_, db, action, object)) throw Refusal(action, db, object);
}

// --- dispatch ----------------------------------------------------------------------------

void Executor::Dispatch(const tsql::Statement& statement) {
  switch (statement.kind) {
    case tsql::Statement::Kind::kSelect:
      return Select(statement.As<SelectStatement>());
    case tsql::Statement::Kind::kInsert:
      return Insert(statement.As<InsertStatement>());
    case tsql::Statement::Kind::kUpdate:
      return Update(statement.As<UpdateStatement>());
    case tsql::Statement::Kind::kDelete:
      return Delete(statement.As<DeleteStatement>());
    case tsql::Statement::Kind::kTruncateTable:
      return Truncate(statement.As<TruncateTableStatement>());
    case tsql::Statement::Kind::kCreateTable:
      return CreateTable(statement.As<CreateTableStatement>());
    case tsql::Statement::Kind::kAlterTable:
      return AlterTable(statement.As<AlterTableStatement>());
    case tsql::Statement::Kind::kDropTable:
    case tsql::Statement::Kind::kDropView:
    case tsql::Statement::Kind::kDropProcedure:
      return DropObjects(statement.As<DropObjectsStatement>());
    case tsql::Statement::Kind::kCreateIndex:
      return CreateIndex(statement.As<CreateIndexStatement>());
    case tsql::Statement::Kind::kDropIndex:
      return DropIndex(statement.As<DropIndexStatement>());
    case tsql::Statement::Kind::kCreateView:
      return CreateView(statement.As<CreateViewStatement>());
    case tsql::Statement::Kind::kCreateProcedure:
      return CreateProcedure(statement.As<CreateProcedureStatement>());
    case tsql::Statement::Kind::kCreateDatabase:
      return CreateDatabase(statement.As<CreateDatabaseStatement>());
    case tsql::Statement::Kind::kAlterDatabase:
      return AlterDatabase(statement.As<AlterDatabaseStatement>());
    case tsql::Statement::Kind::kDropDatabase:
      return DropDatabase(statement.As<DropDatabaseStatement>());
    case tsql::Statement::Kind::kPermission:
      return Permission(statement.As<PermissionStatement>());
    case tsql::Statement::Kind::kDeclare:
      return Declare(statement.As<DeclareStatement>());
    case tsql::Statement::Kind::kSetVariable:
      return SetVariable(statement.As<SetVariableStatement>());
    case tsql::Statement::Kind::kSetOption:
      return SetOption(statement.As<SetOptionStatement>());
    case tsql::Statement::Kind::kBeginTransaction:
    case tsql::Statement::Kind::kCommit:
    case tsql::Statement::Kind::kRollback:
    case tsql::Statement::Kind::kSaveTransaction:
      return Transaction(statement);
    case tsql::Statement::Kind::kPrint:
      return Print(statement.As<PrintStatement>());
    case tsql::Statement::Kind::kRaiserror:
      return Raiserror(statement.As<RaiserrorStatement>());
    case tsql::Statement::Kind::kExecute:
      return Execute(statement.As<ExecuteStatement>());
    case tsql::Statement::Kind::kExecuteString:
      return ExecuteString(statement.As<ExecuteStringStatement>());
    case tsql::Statement::Kind::kUse:
      return Use(statement.As<UseStatement>());
    case tsql::Statement::Kind::kKill:
      return Kill(statement.As<KillStatement>());
    case tsql::Statement::Kind::kWaitFor:
      return WaitFor(statement.As<WaitForStatement>());
    case tsql::Statement::Kind::kCheckpoint:
      return RunCheckpoint(*this);
    case tsql::Statement::Kind::kReconfigure:
      RunReconfigure(*this);
      return SendDone(-1);
    case tsql::Statement::Kind::kBackup:
      return RunBackup(*this, statement.As<BackupStatement>());
    case tsql::Statement::Kind::kRestore:
      return RunRestore(*this, statement.As<RestoreStatement>());
    case tsql::Statement::Kind::kDbcc:
      return RunDbcc(*this, statement.As<DbccStatement>());
    case tsql::Statement::Kind::kCursor:
      return RunCursor(statement.As<CursorStatement>());
    case tsql::Statement::Kind::kCreateFunction:
      return CreateFunction(statement.As<CreateFunctionStatement>());
    case tsql::Statement::Kind::kDropFunction:
      return DropObjects(statement.As<DropObjectsStatement>());
    case tsql::Statement::Kind::kCreateTrigger:
      return CreateTrigger(statement.As<CreateTriggerStatement>());
    case tsql::Statement::Kind::kDropTrigger:
      return DropTriggers(statement.As<DropObjectsStatement>());
    case tsql::Statement::Kind::kIf:
    case tsql::Statement::Kind::kWhile:
    case tsql::Statement::Kind::kBlock:
    case tsql::Statement::Kind::kBreak:
    case tsql::Statement::Kind::kContinue:
    case tsql::Statement::Kind::kReturn:
    case tsql::Statement::Kind::kGoto:
    case tsql::Statement::Kind::kLabel:
      throw errors::Unsupported("this statement");
  }
}

// --- procedural statements ---------------------------------------------------------------

void Executor::Declare(const DeclareStatement& s) {
  // A declaration is not executed: a loop passing it again keeps the variable and its value.
  auto& declared = frame().declared;
  if (std::find(declared.begin(), declared.end(), &s) != declared.end()) return;
  declared.push_back(&s);
  for (const VariableDecl& decl : s.variables) {
    std::string key = Key(decl.name);
    if (frame().variables.count(key) || frame().table_variables.count(key))
      throw errors::VariableDeclaredTwice(decl.name);
    if (decl.table) {
      DeclareTableVariable(decl.name, *decl.table);
      continue;
    }
    VariableSlot slot;
    try {
      slot.type = Translator::ResolveType(decl.type, false, MajorVersion());
    } catch (const SqlError& e) {
      if (e.number() != 243) throw;
      const auto number = &decl - s.variables.data() + 1;
      throw errors::Raise<2715>(number, decl.type.name).WithScope(ErrorScope::kBatch);
    }
    frame().variables[key] = std::move(slot);
  }
}

void Executor::SetVariable(const SetVariableStatement& s) {
  if (!FindVariable(s.variable)) throw errors::UndeclaredVariable(s.variable);
  SqlType type;
  Value value = Evaluate(*s.value, &type);
  Assign(s.variable, value, type);
  session_.rowcount = 1;
  session_.error = 0;
  SendDone(-1);
}

void Executor::SetOption(const SetOptionStatement& s) {
  SessionOptions& options = session_.options();
  for (const std::string& option : s.options) {
    if (option == "NOCOUNT") {
      options.nocount = s.on;
    } else if (option == "ANSI_NULL_DFLT_ON") {
      options.ansi_null_default_on = s.on;
    } else if (option == "ANSI_NULL_DFLT_OFF") {
      options.ansi_null_default_on = !s.on;
    } else if (option == "QUOTED_IDENTIFIER") {
      options.quoted_identifier = s.on;
    } else if (option == "XACT_ABORT") {
      options.xact_abort = s.on;
    } else if (option == "ROWCOUNT") {
      Value v = s.value ? Evaluate(*s.value) : Value(0);
      options.rowcount = std::max<std::int64_t>(0, v.ToInt().value_or(0));
    } else if (option == "IDENTITY_INSERT") {
      ResolvedTable table = ResolveTable(s.table);
      if (table.kind == ResolvedTable::Kind::kView || table.kind == ResolvedTable::Kind::kSystem ||
          !table.object->IdentityColumn())
        throw errors::Raise<8106>(table.name);
      std::string key =
          std::to_string(table.dbid) + ":" + std::to_string(table.object->id) + ":" + table.name;
      if (s.on) {
        if (!options.identity_insert.empty() && options.identity_insert != key) {
          std::string other =
              options.identity_insert.substr(options.identity_insert.rfind(':') + 1);
          throw errors::Raise<8107>(other, table.name);
        }
        options.identity_insert = key;
      } else if (options.identity_insert == key) {
        options.identity_insert.clear();
      }
    } else if (option == "DEADLOCK_PRIORITY") {
      std::string word = s.value ? Evaluate(*s.value).ToText() : s.words;
      options.deadlock_priority = EqualsNoCase(word, "LOW") ? -5 : 0;
    } else if (option == "LOCK_TIMEOUT") {
      Value v = s.value ? Evaluate(*s.value) : Value(-1);
      options.lock_timeout = v.ToInt().value_or(-1);
    } else if (option == "LANGUAGE" || option == "DATEFORMAT" || option == "DATEFIRST") {
      SetDateOption(option, s);
    }
    // Other options (ANSI_NULLS, ANSI_WARNINGS, ARITHABORT, TRANSACTION ISOLATION LEVEL, ...)
    // are accepted; the sandbox behaves as with SQL Server's connection defaults.
  }
  session_.rowcount = 0;
  SendDone(-1);
}

void Executor::SetDateOption(const std::string& option, const SetOptionStatement& s) {
  DateSettings& dates = session_.options().dates;
  // A name as written, or the text a variable holds.
  std::string word = s.value ? Evaluate(*s.value).ToText() : s.words;
  if (option == "DATEFIRST") {
    std::int64_t first = s.value ? Evaluate(*s.value).ToInt().value_or(0) : 0;
    if (first < 1 || first > 7) throw errors::Raise<2742>(first);
    dates.datefirst = static_cast<int>(first);
  } else if (option == "DATEFORMAT") {
    auto order = DateOrderFromName(word);
    if (!order) throw errors::Raise<2741>(word);
    dates.date_order = *order;
  } else {
    const Language* language = FindLanguage(word);
    if (!language) throw errors::Raise<2740>(word);
    dates.SetLanguage(*language);
    Inform(*this, errors::Raise<5703>(language->name));
  }
}

DateSettings Executor::Dates() { return session_.options().dates; }

int Executor::MajorVersion() { return MajorVersionOf(session_.instance().config()); }

int Executor::CompatibilityLevel() {
  auto record = session_.instance().FindDatabase(Db().dbid);
  return record ? record->compatibility_level
                : DefaultCompatibilityLevel(session_.instance().config());
}

void Executor::Transaction(const tsql::Statement& statement) {
  const TransactionStatement& s = statement.As<TransactionStatement>();
  switch (statement.kind) {
    case tsql::Statement::Kind::kBeginTransaction:
      session_.BeginTransaction();
      break;
    case tsql::Statement::Kind::kCommit:
      if (session_.trancount() == 0) throw errors::NotInTransaction(true);
      session_.CommitTransaction();
      break;
    case tsql::Statement::Kind::kRollback:
      if (frame().trigger) {
        RollbackInTrigger();
        break;
      }
      if (session_.trancount() == 0) throw errors::NotInTransaction(false);
      RollbackKeepingTableVariables([&] {
        if (!s.name.empty() && s.name[0] != '@' && session_.HasSavepoint(s.name)) {
          session_.RollbackToSavepoint(s.name);
        } else {
          session_.RollbackTransaction();
        }
      });
      break;
    case tsql::Statement::Kind::kSaveTransaction:
      if (session_.trancount() == 0) throw errors::Raise<628>();
      session_.Savepoint(s.name);
      break;
    default:
      break;
  }
  session_.rowcount = 0;
  SendDone(-1);
}

void Executor::Print(const PrintStatement& s) {
  SqlType type;
  Value v = Evaluate(*s.value, &type);
  Value text = Convert(v, SqlType::VarChar(8000), Fit::kCut, type, 0, &session_.options().dates);
  Info(0, text.IsNull() ? std::string() : *text.AsText(), 0);
}

namespace {

// RAISERROR's printf-like substitution: %s %d %i %u %x %X and %% with optional width.
std::string FormatRaiserror(const std::string& format, const std::vector<Value>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    size_t k = i + 1;
    if (format[k] == '%') {
      out += '%';
      i = k;
      continue;
    }
    while (k < format.size() &&
           (format[k] == '-' || format[k] == '+' || format[k] == ' ' || format[k] == '#' ||
            format[k] == '0' || (format[k] >= '1' && format[k] <= '9') || format[k] == '.'))
      ++k;
    if (k < format.size() && (format[k] == 'l' || format[k] == 'h')) ++k;
    if (k >= format.size()) break;
    char conversion = format[k];
    Value arg = next < args.size() ? args[next++] : Value();
    if (arg.IsNull()) {
      out += "(null)";
    } else if (conversion == 'd' || conversion == 'i' || conversion == 'u') {
      out += std::to_string(arg.ToInt().value_or(0));
    } else if (conversion == 'x' || conversion == 'X') {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, conversion == 'x' ? "%llx" : "%llX",
                    static_cast<unsigned long long>(arg.ToInt().value_or(0)));
      out += buffer;
    } else {
      out += arg.ToText();
    }
    i = k;
  }
  return out;
}

}  // namespace

void Executor::Raiserror(const RaiserrorStatement& s) {
  Value message = Evaluate(*s.message);
  int severity = static_cast<int>(Evaluate(*s.severity).ToInt().value_or(16));
  int state = static_cast<int>(Evaluate(*s.state).ToInt().value_or(1));
  std::vector<Value> args;
  for (const ExprPtr& a : s.args) args.push_back(Evaluate(*a));
  std::int32_t number = 50000;
  std::string text;
  if (message.type() == Value::Type::kInt) {
    number = static_cast<std::int32_t>(*message.ToInt());
    const MessageEntry* entry = FindMessage(number);
    if (!entry || !entry->server) throw errors::Raise<2758>(number);
    // System procedures pass -1: the message's own severity, state 1.
    if (severity < 0) severity = entry->severity;
    if (state < 0) state = 1;
    message = Value(std::string(entry->text));
  }
  text = FormatRaiserror(message.ToText(), args);
  bool logged = std::find(s.options.begin(), s.options.end(), "LOG") != s.options.end();
  if (severity > 18 && (!session_.IsSysadmin() || !logged)) throw errors::Raise<2754>();
  ServerMessage m;
  m.number = number;
  m.severity = severity;
  m.state = state;
  m.text = text;
  m.procedure = frame().procedure;
  m.line = s.span.line;
  sink_.Message(m);
  if (severity > 10) session_.error = number;
  // A fatal severity ends the connection once the client has the message.
  if (severity >= 20) {
    session_.EndConnection();
    throw Interrupted{false};
  }
}

void Executor::WaitFor(const WaitForStatement& s) {
  Value v = Evaluate(*s.value);
  auto time = ParseDateTimeText(v.ToText());
  if (!time) throw errors::Raise<148>(v.ToText());
  std::int64_t ms =
      ((time->hour * 60LL + time->minute) * 60 + time->second) * 1000 + time->millisecond;
  if (!s.delay) {
    common::DateTime now = common::DateTime::Now();
    std::int64_t now_ms =
        ((now.hour * 60LL + now.minute) * 60 + now.second) * 1000 + now.millisecond;
    ms -= now_ms;
    if (ms < 0) ms += 86400000;
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    CheckInterrupt();
    auto left = until - std::chrono::steady_clock::now();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(10)));
  }
  SendDone(-1);
}

void Executor::Kill(const KillStatement& s) {
  Value v = Evaluate(*s.target);
  auto spid = v.ToInt();
  if (!spid) throw errors::Raise<6112>();
  if (*spid == session_.spid()) throw errors::Raise<6104>();
  // The server's own processes (sp_who lists them below 51) cannot be ended.
  if (*spid > 0 && *spid < 51) throw errors::Raise<6107>();
  if (!session_.IsSysadmin() && !(session_.login().server_roles & kProcessadmin))
    throw errors::Raise<6102>();
  if (!session_.instance().DropSession(static_cast<int>(*spid))) throw errors::Raise<6106>(*spid);
  SendDone(-1);
}

void Executor::Use(const UseStatement& s) {
  if (frames_.size() > 1 && !frame().procedure.empty()) throw errors::Raise<154>();
  CheckIdentifier(s.database);
  AttachedDatabase& db = session_.Database(s.database);
  auto record = session_.instance().FindDatabase(db.dbid);
  if (!record) throw errors::UnknownDatabase(s.database);
  if (auto refused = CheckDatabaseEntry(session_.instance(), *record, session_.spid()))
    throw *refused;
  if (!HasDatabaseAccess(session_, db))
    throw errors::Raise<916>(session_.login().name, db.catalog->name());
  // Other processes' "in use" checks see the session in its new database from here on.
  session_.EnterDatabase(*record);
  frame().dbid = db.dbid;
  session_.rowcount = 0;
  Inform(*this, errors::Raise<5701>(db.catalog->name()));
  SendDone(-1);
}

void Executor::ExecuteString(const ExecuteStringStatement& s) {
  Value text = Evaluate(*s.text);
  std::map<std::string, VariableSlot> variables;
  RunNestedBatch(text.ToText(), variables);
}

void Executor::RunNestedBatch(const std::string& sql,
                              std::map<std::string, VariableSlot>& variables) {
  std::shared_ptr<Batch> batch;
  try {
    batch =
        std::make_shared<Batch>(ParseBatch(sql, ParseOptions{session_.options().quoted_identifier,
                                                             tsql::kMaxNesting, MajorVersion()}));
  } catch (const ParseError& e) {
    throw SqlError(e.number(), e.severity(), e.message(), ErrorScope::kStatement, e.state());
  }
  auto child = std::make_unique<Frame>();
  child->text = batch->text;
  child->dbid = session_.current_dbid();
  child->depth = frame().depth + 1;
  for (auto& [name, slot] : variables) child->variables[Key(name)] = slot;
  const int caller_dbid = session_.current_dbid();
  OptionsScope options(session_);
  frames_.push_back(std::move(child));
  int depth = static_cast<int>(frames_.size()) - 1;
  auto finish = [&]() {
    // A USE in the string holds only until the string ends.
    if (session_.current_dbid() != caller_dbid) {
      if (auto record = session_.instance().FindDatabase(caller_dbid)) {
        session_.EnterDatabase(*record);
      }
    }
    // #tables made by the dynamic batch end with it, as with a procedure.
    std::vector<std::string> doomed;
    for (const auto& [key, temp] : session_.temp_tables())
      if (temp.frame_depth >= depth) doomed.push_back(key);
    for (const std::string& key : doomed) DropTemp(key);
    for (auto& [name, slot] : variables) {
      auto it = frame().variables.find(Key(name));
      if (it != frame().variables.end()) slot = it->second;
    }
    frames_.pop_back();
  };
  try {
    RunList(batch->statements);
  } catch (const AbortScope& abort) {
    finish();
    if (abort.whole_batch) throw;
    return;
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

}  // namespace sandbox
