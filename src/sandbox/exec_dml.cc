// SELECT, INSERT, UPDATE, DELETE and TRUNCATE TABLE.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_set>

#include "sandbox/collation.h"
#include "sandbox/executor.h"
#include "sandbox/live_variables.h"
#include "sandbox/messages.h"
#include "sandbox/security.h"
#include "sandbox/tsql/limits.h"

namespace sandbox {

using common::Value;
using namespace tsql;

namespace {

Column ClientColumn(const OutputColumn& c) {
  Column column;
  column.name = c.name;
  column.type_name = c.type.Name();
  column.value_type = c.type.ClientType();
  column.size = c.type.ClientSize();
  if (c.type.kind == TypeKind::kDecimal || c.type.kind == TypeKind::kNumeric) {
    column.precision = c.type.precision;
    column.scale = c.type.scale;
  } else if (c.type.kind == TypeKind::kMoney || c.type.kind == TypeKind::kSmallMoney) {
    column.scale = 4;
  }
  column.nullable = c.nullable;
  column.base_table = c.base_table;
  column.base_column = c.base_column;
  column.key_column = c.key;
  column.identity = c.identity;
  return column;
}

std::string JoinColumns(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + QuoteIdentifier(n);
  return out;
}

std::string IdentityInsertKey(const ResolvedTable& table) {
  return std::to_string(table.dbid) + ":" + std::to_string(table.object->id) + ":" + table.name;
}

// Takes the rows of INSERT ... EXEC into a work table as they come (on disk past the page
// cache, so a result of any size fits); the table goes with the collector.
struct InsertExecCollector : ResultSink {
  ResultSink& outer;
  Connection& connection;
  const std::string work;  // temp."insert_exec$N"
  std::vector<OutputColumn> columns;
  sqlite3_stmt* insert = nullptr;
  std::int64_t rows = 0;
  bool mismatch = false;
  InsertExecCollector(ResultSink& o, Connection& c, std::string name)
      : outer(o), connection(c), work(std::move(name)) {}
  ~InsertExecCollector() override {
    if (insert) sqlite3_finalize(insert);
    if (columns.empty()) return;
    try {
      connection.Exec("DROP TABLE IF EXISTS " + work);
    } catch (const SqliteError&) {
      // Gone with a rolled-back transaction already.
    }
  }
  void BeginRowSet(const std::vector<Column>& c) override {
    if (!columns.empty()) return;
    std::string definition;
    for (const Column& column : c) {
      OutputColumn out;
      out.name = column.name;
      out.type = TypeFromName(column.type_name, column.size > 0 ? 1 : 0, column.size)
                     .value_or(SqlType::NVarChar(4000));
      columns.push_back(out);
      definition += (definition.empty() ? "\"c" : ", \"c") + std::to_string(columns.size()) + "\"";
    }
    if (columns.empty()) return;
    connection.Exec("CREATE TEMP TABLE " + work + " (" + definition + ")");
    std::string marks;
    for (size_t i = 0; i < columns.size(); ++i) marks += i == 0 ? "?" : ", ?";
    if (sqlite3_prepare_v2(connection.get(),
                           ("INSERT INTO " + work + " VALUES (" + marks + ")").c_str(), -1, &insert,
                           nullptr) != SQLITE_OK)
      throw SqliteError(sqlite3_extended_errcode(connection.get()),
                        sqlite3_errmsg(connection.get()));
  }
  void Row(std::vector<Value> values) override {
    if (!insert || values.size() != columns.size()) {
      mismatch = true;
      return;
    }
    for (size_t i = 0; i < values.size(); ++i)
      BindValue(connection.get(), insert, static_cast<int>(i + 1), FromClient(values[i]));
    int rc = sqlite3_step(insert);
    sqlite3_reset(insert);
    if (rc != SQLITE_DONE)
      throw SqliteError(sqlite3_extended_errcode(connection.get()),
                        sqlite3_errmsg(connection.get()));
    ++rows;
  }
  void EndRowSet() override {}
  void Done(std::int64_t) override {}
  void Message(const ServerMessage& m) override { outer.Message(m); }
};

}  // namespace

void Executor::SendRows(const std::vector<OutputColumn>& columns,
                        const std::vector<std::vector<Value>>& rows) {
  std::vector<Column> client;
  for (const OutputColumn& c : columns) client.push_back(ClientColumn(c));
  sink_.BeginRowSet(client);
  for (const auto& row : rows) {
    std::vector<Value> values;
    for (size_t i = 0; i < columns.size(); ++i)
      values.push_back(i < row.size() ? ToClient(row[i], columns[i].type) : Value());
    sink_.Row(std::move(values));
  }
  sink_.EndRowSet();
  session_.rowcount = static_cast<std::int64_t>(rows.size());
  SendDone(static_cast<std::int64_t>(rows.size()));
}

std::string Executor::FullTableName(const ResolvedTable& table) const {
  if (table.kind == ResolvedTable::Kind::kTemp) return "tempdb.dbo." + table.name;
  return table.database + "." + table.owner + "." + table.name;
}

SqlError Executor::MapSqliteError(const SqliteError& error, const ResolvedTable* target,
                                  bool insert) {
  SqlError decoded(0, 0, "");
  if (DecodeFunctionError(error.what(), &decoded)) return decoded;
  int code = error.code();
  std::string message = error.what();
  // SQLite's parser and expression depth limits, met by long chains that could not be written
  // as a balanced tree: for the client the statement is too deep, as SQL Server says it.
  if (message.find("parser stack overflow") != std::string::npos ||
      message.find("Expression tree is too large") != std::string::npos)
    return errors::Raise<191>().WithScope(ErrorScope::kStatement);
  // SUM() past 64 bits: only a bigint sum gets there, the others are held to their type before.
  if (message.find("integer overflow") != std::string::npos)
    return errors::OverflowConverting("bigint", 2);
  if ((code & 0xFF) == SQLITE_CONSTRAINT) {
    size_t colon = message.find(": ");
    std::string detail = colon == std::string::npos ? "" : message.substr(colon + 2);
    if (code == SQLITE_CONSTRAINT_NOTNULL) {
      std::string column = detail.substr(detail.rfind('.') + 1);
      std::string table = target ? FullTableName(*target) : detail.substr(0, detail.rfind('.'));
      return errors::NullNotAllowed(column, table, insert);
    }
    if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY) {
      std::vector<std::string> columns;
      size_t start = 0;
      while (start < detail.size()) {
        size_t end = detail.find(", ", start);
        if (end == std::string::npos) end = detail.size();
        std::string part = detail.substr(start, end - start);
        columns.push_back(part.substr(part.find('.') + 1));
        start = end + 2;
      }
      if (target && target->object) {
        for (const IndexInfo& index : target->object->indexes) {
          if (!index.unique() || index.columns.size() != columns.size()) continue;
          bool same = true;
          for (size_t i = 0; i < columns.size(); ++i)
            same = same && EqualsNoCase(index.columns[i], columns[i]);
          if (!same) continue;
          if (index.kind == IndexKind::kPrimaryKey)
            return errors::DuplicateKey("PRIMARY KEY", index.name, target->name);
          if (index.kind == IndexKind::kUniqueConstraint)
            return errors::DuplicateKey("UNIQUE KEY", index.name, target->name);
          return errors::DuplicateIndexKey(target->name, index.name);
        }
      }
      return errors::DuplicateIndexKey(target ? target->name : detail, "");
    }
    if (code == SQLITE_CONSTRAINT_CHECK) {
      std::string table = target ? target->name : "";
      return errors::ConstraintConflict(insert ? "INSERT" : "UPDATE", "COLUMN CHECK", detail,
                                        target ? target->database : "", table, "");
    }
  }
  if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) return session_.LockFailure();
  // A view whose table was dropped or renamed since: the table's name, without the schema the
  // database is attached as.
  constexpr std::string_view kNoSuchTable = "no such table: ";
  if (message.rfind(kNoSuchTable, 0) == 0) {
    std::string name = message.substr(kNoSuchTable.size());
    return errors::InvalidObject(name.substr(name.find('.') + 1));
  }
  return errors::Raise<40002>(message);
}

void Executor::AfterChange(const ResolvedTable& table, std::int64_t changed,
                           std::string_view text) {
  if (changed <= 0 || table.kind == ResolvedTable::Kind::kTemp) return;
  session_.instance().AppendLog(table.dbid, text, changed);
}

// --- SELECT ------------------------------------------------------------------------------

void Executor::Select(const SelectStatement& s) {
  const tsql::Query& query = *s.query;
  if (!query.FirstSpec().into.empty()) return SelectInto(query);
  std::vector<Value> params;
  Translator translator(*this, params);
  translator.set_bind_long_literals(true);
  // SELECT @s = @s + name ...: each row reads what the rows before it assigned.
  LiveVariables live;
  const std::vector<tsql::SelectItem>& items = query.FirstSpec().items;
  if (std::any_of(items.begin(), items.end(), [](const tsql::SelectItem& item) {
        return item.kind == tsql::SelectItem::Kind::kAssignment;
      }))
    translator.set_live_variables(&live);
  Translation t = translator.Query(query, nullptr, false, session_.options().rowcount);
  bool assigning = std::any_of(t.assignments.begin(), t.assignments.end(),
                               [](const std::string& v) { return !v.empty(); });
  if (assigning) {
    for (const std::string& v : t.assignments) {
      if (v.empty()) throw errors::Raise<141>();
      if (!FindVariable(v)) throw errors::UndeclaredVariable(v);
    }
    std::int64_t rows = 0;
    RunSql(
        t.sql, params,
        [&](sqlite3_stmt* stmt) {
          ++rows;
          for (size_t i = 0; i < t.assignments.size(); ++i)
            Assign(t.assignments[i], ReadColumn(stmt, static_cast<int>(i)), t.columns[i].type);
        },
        &live);
    session_.rowcount = rows;
    SendDone(rows);
    return;
  }
  std::vector<Column> client;
  for (const OutputColumn& c : t.columns) client.push_back(ClientColumn(c));
  // Column metadata goes out first, as on SQL Server, even when no row follows.
  bool begun = false;
  std::int64_t rows = 0;
  try {
    RunSql(t.sql, params, [&](sqlite3_stmt* stmt) {
      if (!begun) {
        sink_.BeginRowSet(client);
        begun = true;
      }
      std::vector<Value> values;
      values.reserve(t.columns.size());
      for (size_t i = 0; i < t.columns.size(); ++i)
        values.push_back(ToClient(ReadColumn(stmt, static_cast<int>(i)), t.columns[i].type));
      sink_.Row(std::move(values));
      ++rows;
      if ((rows & 255) == 0) CheckInterrupt();
    });
  } catch (...) {
    if (begun) sink_.EndRowSet();
    throw;
  }
  if (!begun) sink_.BeginRowSet(client);
  sink_.EndRowSet();
  session_.rowcount = rows;
  SendDone(rows);
}

void Executor::SelectInto(const tsql::Query& query) {
  const QuerySpec& first = query.FirstSpec();
  const ObjectName& into = first.into;
  CheckIdentifier(into.name);
  std::vector<Value> params;
  Translator translator(*this, params);
  // The query without INTO names the new table's columns and types.
  Translation t = translator.Query(query, nullptr, true, session_.options().rowcount);
  ObjectInfo info;
  info.name = into.name;
  std::vector<std::string> names;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const OutputColumn& c = t.columns[i];
    if (c.name.empty()) throw errors::Raise<8155>(i + 1, into.name);
    for (const std::string& n : names)
      if (EqualsNoCase(n, c.name)) throw errors::Raise<2705>(c.name, into.name);
    names.push_back(c.name);
    ColumnInfo column;
    column.name = c.name;
    column.type = c.type;
    if (column.type.IsCharacter() && column.type.length == 0) column.type.length = 1;
    column.nullable = c.nullable;
    // An identity column copied as it is stays an identity column.
    if (c.identity && query.kind == tsql::Query::Kind::kSpec) {
      column.identity = true;
      column.seed = c.seed;
      column.increment = c.increment;
      column.nullable = false;
    }
    info.columns.push_back(std::move(column));
  }
  RegisterTable(into, info);
  ResolvedTable table = ResolveTable(into);
  std::vector<std::string> conv;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    TypedSql source;
    source.sql = "\"s\".\"c" + std::to_string(i + 1) + "\"";
    source.type = t.columns[i].type;
    conv.push_back(translator.ConvertSql(source, table.object->columns[i].type, Fit::kCut));
  }
  std::string list;
  for (const std::string& c : conv) list += (list.empty() ? "" : ", ") + c;
  std::string sql = "INSERT INTO " + table.sql + " (" + JoinColumns(names) + ") SELECT " + list +
                    " FROM (" + t.sql + ") AS \"s\"";
  try {
    RunSql(sql, params);
  } catch (const SqliteError& e) {
    throw MapSqliteError(e, &table, true);
  }
  std::int64_t changed = session_.connection().Changes();
  // The identity carries on from the rows copied.
  if (const ColumnInfo* identity = table.object->IdentityColumn()) {
    std::optional<std::int64_t> highest;
    RunSql("SELECT max(" + QuoteIdentifier(identity->name) + ") FROM " + table.sql, {},
           [&](sqlite3_stmt* stmt) {
             if (sqlite3_column_type(stmt, 0) != SQLITE_NULL)
               highest = sqlite3_column_int64(stmt, 0);
           });
    if (highest) {
      if (table.kind == ResolvedTable::Kind::kTemp) {
        TempTable* temp = session_.FindTemp(table.name);
        temp->identity_current = *highest;
        temp->identity_used = true;
      } else {
        session_.Database(table.dbid)
            .catalog->SetIdentityCurrent(session_.connection(), table.object->id, *highest);
      }
    }
  }
  session_.rowcount = changed;
  AfterChange(table, changed, current_ ? current_->span.TextIn(frame().text) : "");
  SendDone(changed);
}

// --- INSERT ------------------------------------------------------------------------------

void Executor::Insert(const InsertStatement& s) {
  ResolvedTable table = ResolveTable(s.table);
  if (table.kind == ResolvedTable::Kind::kSystem) throw errors::Raise<259>();
  if (table.kind == ResolvedTable::Kind::kView) throw errors::Raise<4406>(table.name);
  if (table.kind != ResolvedTable::Kind::kTemp)
    CheckPermission("INSERT", session_.Database(table.dbid), table.object);
  const ObjectInfo& info = *table.object;
  bool identity_insert = session_.options().identity_insert == IdentityInsertKey(table);
  const ColumnInfo* identity = info.IdentityColumn();

  std::vector<const ColumnInfo*> listed;
  if (s.source == InsertStatement::Source::kDefaultValues) {
    // Every column takes its default.
  } else if (!s.columns.empty()) {
    for (const std::string& name : s.columns) {
      const ColumnInfo* c = info.FindColumn(name);
      if (!c) throw errors::InvalidColumn(name);
      if (std::find(listed.begin(), listed.end(), c) != listed.end())
        throw errors::Raise<264>(name);
      listed.push_back(c);
    }
  } else {
    if (identity_insert && identity) throw errors::Raise<8101>(table.name);
    for (const ColumnInfo& c : info.columns)
      if (!c.identity) listed.push_back(&c);
  }
  bool identity_listed =
      identity && std::find(listed.begin(), listed.end(), identity) != listed.end();
  if (identity_listed && !identity_insert) throw errors::ExplicitIdentity(table.name);
  if (identity && identity_insert && !identity_listed) throw errors::Raise<545>(table.name);

  std::vector<Value> params;
  Translator translator(*this, params);
  translator.set_bind_long_literals(true);
  std::vector<std::string> target_columns;
  // For each column of the table: where its value comes from.
  auto default_sql = [&](const ColumnInfo& c) -> std::string {
    if (c.identity) return "tsql_identity(0)";
    if (c.default_text.empty()) return "NULL";
    TypedSql d = translator.Expression(session_.ParsedDefault(c.default_text), nullptr);
    return translator.ConvertSql(d, c.type, Fit::kFail);
  };
  auto row_sql = [&](const std::vector<TypedSql>& values) {
    std::string out;
    for (const ColumnInfo& c : info.columns) {
      auto it = std::find(listed.begin(), listed.end(), &c);
      std::string v;
      if (it != listed.end()) {
        const TypedSql& value = values[static_cast<size_t>(it - listed.begin())];
        v = value.sql == "DEFAULT" ? default_sql(c)
                                   : translator.ConvertSql(value, c.type, Fit::kFail);
      } else if (c.identity || !c.default_text.empty()) {
        v = default_sql(c);
      } else {
        continue;
      }
      out += (out.empty() ? "" : ", ") + v;
    }
    return out;
  };
  for (const ColumnInfo& c : info.columns) {
    bool is_listed = std::find(listed.begin(), listed.end(), &c) != listed.end();
    if (is_listed || c.identity || !c.default_text.empty()) target_columns.push_back(c.name);
  }

  std::string sql = "INSERT INTO " + table.sql;
  std::optional<InsertExecCollector> work;  // INSERT ... EXEC: its rows, until stored
  switch (s.source) {
    case InsertStatement::Source::kValues: {
      std::string rows;
      for (const auto& row : s.rows) {
        if (row.size() != listed.size()) {
          if (s.columns.empty()) throw errors::Raise<213>();
          throw row.size() > listed.size() ? errors::Raise<110>() : errors::Raise<109>();
        }
        std::vector<TypedSql> values;
        for (const ExprPtr& e : row) {
          if (e->kind == Expr::Kind::kDefault) {
            TypedSql d;
            d.sql = "DEFAULT";
            values.push_back(d);
          } else {
            values.push_back(translator.Expression(*e, nullptr));
          }
        }
        rows += (rows.empty() ? "(" : ", (") + row_sql(values) + ")";
      }
      sql += target_columns.empty() ? " DEFAULT VALUES"
                                    : " (" + JoinColumns(target_columns) + ") VALUES " + rows;
      break;
    }
    case InsertStatement::Source::kDefaultValues: {
      std::string row = row_sql({});
      sql += target_columns.empty() ? " DEFAULT VALUES"
                                    : " (" + JoinColumns(target_columns) + ") VALUES (" + row + ")";
      break;
    }
    case InsertStatement::Source::kQuery: {
      Translation q = translator.Query(*s.query, nullptr, true, session_.options().rowcount);
      if (q.columns.size() != listed.size())
        throw q.columns.size() < listed.size() ? errors::Raise<120>() : errors::Raise<121>();
      std::vector<TypedSql> values;
      for (size_t i = 0; i < q.columns.size(); ++i) {
        TypedSql v;
        v.sql = "\"s\".\"c" + std::to_string(i + 1) + "\"";
        v.type = q.columns[i].type;
        values.push_back(v);
      }
      sql += " (" + JoinColumns(target_columns) + ") SELECT " + row_sql(values) + " FROM (" +
             q.sql + ") AS \"s\"";
      break;
    }
    case InsertStatement::Source::kExecute: {
      // The procedure's rows go to a work table as they come (on disk past the page cache, so
      // a result of any size fits), then are stored as one statement.
      static std::uint64_t work_tables = 0;
      InsertExecCollector& collector =
          work.emplace(sink_, session_.connection(),
                       "temp." + QuoteIdentifier("insert_exec$" + std::to_string(++work_tables)));
      Executor nested(session_, collector, parameters_);
      nested.frames_.back()->variables = frame().variables;
      nested.frames_.back()->text = frame().text;
      nested.frames_.back()->dbid = frame().dbid;
      nested.Execute(*s.execute);
      frame().variables = nested.frames_.back()->variables;
      if (collector.mismatch || (collector.rows > 0 && collector.columns.size() != listed.size()))
        throw errors::Raise<213>();
      if (collector.rows == 0) {
        session_.rowcount = 0;
        SendDone(0);
        return;
      }
      std::vector<TypedSql> values;
      for (size_t i = 0; i < collector.columns.size(); ++i) {
        TypedSql v;
        v.sql = "\"s\".\"c" + std::to_string(i + 1) + "\"";
        v.type = collector.columns[i].type;
        values.push_back(v);
      }
      sql += " (" + JoinColumns(target_columns) + ") SELECT " + row_sql(values) + " FROM " +
             collector.work + " AS \"s\"";
      break;
    }
  }

  // Identity values come from the catalogue (or the #table) and go back after the insert.
  auto& state = session_.identity_state();
  TempTable* temp =
      table.kind == ResolvedTable::Kind::kTemp ? session_.FindTemp(table.name) : nullptr;
  Catalog* catalog = temp ? nullptr : session_.Database(table.dbid).catalog.get();
  if (identity) {
    state.seed = identity->seed;
    state.increment = identity->increment;
    state.used = false;
    if (temp)
      state.current =
          temp->identity_used ? std::optional<std::int64_t>(temp->identity_current) : std::nullopt;
    else
      state.current = catalog->IdentityCurrent(session_.connection(), info.id);
  }
  // Constraints are checked on the rows the statement wrote; identity values it drew stay
  // drawn whatever happens to the rows.
  const bool guarded = Guarded(table);
  auto capture = CaptureForTriggers(table, 'I');
  std::vector<std::int64_t> written;
  try {
    RunSql(sql + (guarded ? " RETURNING rowid" : ""), params,
           [&](sqlite3_stmt* stmt) { written.push_back(sqlite3_column_int64(stmt, 0)); });
  } catch (const SqliteError& e) {
    if (identity && state.used && catalog) session_.SpendIdentity(table.dbid, info.id, state);
    throw MapSqliteError(e, &table, true);
  }
  std::int64_t changed = session_.connection().Changes();
  if (identity && state.used && catalog) session_.SpendIdentity(table.dbid, info.id, state);
  if (guarded) CheckRows(table, "INSERT", &written);
  if (identity) {
    std::optional<std::int64_t> last;
    if (state.used) last = state.current;
    if (identity_listed && changed > 0) {
      // Explicit values move the identity on when they pass it.
      std::optional<std::int64_t> highest;
      RunSql(std::string("SELECT ") + (state.increment > 0 ? "max(" : "min(") +
                 QuoteIdentifier(identity->name) + ") FROM " + table.sql,
             {}, [&](sqlite3_stmt* stmt) {
               if (sqlite3_column_type(stmt, 0) != SQLITE_NULL)
                 highest = sqlite3_column_int64(stmt, 0);
             });
      if (highest && (!state.current || (state.increment > 0 ? *highest > *state.current
                                                             : *highest < *state.current))) {
        state.current = highest;
        state.used = true;
      }
      last = highest;
    }
    if (state.used) {
      if (temp) {
        temp->identity_current = *state.current;
        temp->identity_used = true;
      } else {
        catalog->SetIdentityCurrent(session_.connection(), info.id, *state.current);
      }
    }
    if (last && changed > 0) {
      session_.identity = last;
      frame().scope_identity = last;
    }
  }
  session_.rowcount = changed;
  AfterChange(table, changed, current_ ? current_->span.TextIn(frame().text) : "");
  if (capture) FireTriggers(*capture, changed);
  SendDone(changed);
}

// --- UPDATE and DELETE -------------------------------------------------------------------

namespace {

// The FROM source a DML target names: the alias or table name it is exposed under.
const TableRef* FindTargetSource(const std::vector<TableSourcePtr>& from,
                                 const ObjectName& target) {
  std::vector<const TableSource*> stack;
  for (const auto& s : from) stack.push_back(s.get());
  while (!stack.empty()) {
    const TableSource* s = stack.back();
    stack.pop_back();
    if (s->kind == TableSource::Kind::kJoin) {
      stack.push_back(s->As<Join>().right.get());
      stack.push_back(s->As<Join>().left.get());
    } else if (s->kind == TableSource::Kind::kTable) {
      const TableRef& ref = s->As<TableRef>();
      const std::string& exposed = ref.alias.empty() ? ref.name.name : ref.alias;
      if (EqualsNoCase(exposed, target.name) && target.owner.empty() && target.database.empty())
        return &ref;
      if (ref.alias.empty() && EqualsNoCase(ref.name.name, target.name)) return &ref;
    }
  }
  return nullptr;
}

}  // namespace

void Executor::Update(const UpdateStatement& s) {
  const TableRef* source = FindTargetSource(s.from, s.target);
  ResolvedTable table = ResolveTable(source ? source->name : s.target);
  if (table.kind == ResolvedTable::Kind::kSystem) throw errors::Raise<259>();
  if (table.kind == ResolvedTable::Kind::kView) throw errors::Unsupported("UPDATE through a view");
  if (table.kind != ResolvedTable::Kind::kTemp)
    CheckPermission("UPDATE", session_.Database(table.dbid), table.object);
  std::vector<Value> params;
  Translator translator(*this, params);
  translator.set_bind_long_literals(true);
  translator.set_bind_integer_literals(true);
  Scope scope;
  std::string exposed = source ? (source->alias.empty() ? table.name : source->alias) : table.name;
  std::int64_t limit = session_.options().rowcount;
  std::string top;
  if (s.top) top = translator.Expression(*s.top, nullptr).sql;
  bool simple = s.from.empty() && top.empty() && limit == 0;
  std::string from_sql;
  std::string target_alias;
  if (simple) {
    from_sql = translator.AddTable(table, "", scope, false);
    target_alias = scope.sources.back().sql_alias;
  } else {
    from_sql = translator.From(s.from, scope, &exposed);
    if (!source) {
      from_sql +=
          std::string(from_sql.empty() ? "" : ", ") + translator.AddTable(table, "", scope, true);
    }
  }
  const SourceBinding* target = nullptr;
  for (const SourceBinding& b : scope.sources)
    if (EqualsNoCase(b.exposed, exposed) && !b.rowid_sql.empty()) target = &b;
  if (!target) throw errors::InvalidObject(s.target.ToString());
  std::string target_rowid = target->rowid_sql;

  struct SetItem {
    std::string column;
    std::string value;
    std::string variable;
    SqlType type;
  };
  std::vector<SetItem> sets;
  LiveVariables live;
  const bool any_variable = std::any_of(s.sets.begin(), s.sets.end(), [](const SetClause& c) {
    return c.kind != SetClause::Kind::kColumn;
  });
  if (any_variable) translator.set_live_variables(&live);
  for (const SetClause& clause : s.sets) {
    SetItem item;
    TypedSql value = translator.Expression(*clause.value, &scope);
    if (clause.kind != SetClause::Kind::kVariable) {
      const ColumnRef& ref = *clause.column;
      if (!ref.table.empty() && !EqualsNoCase(ref.table.name, exposed) &&
          !EqualsNoCase(ref.table.name, table.name))
        throw errors::Raise<4104>(ref.table.ToString() + "." + ref.column);
      const ColumnInfo* c = table.object->FindColumn(ref.column);
      if (!c) throw errors::InvalidColumn(ref.column);
      if (c->identity) throw errors::UpdateIdentity(c->name);
      item.column = c->name;
      item.type = c->type;
      item.value = translator.ConvertSql(value, c->type, Fit::kFail);
    } else {
      item.value = value.sql;
      item.type = value.type;
    }
    if (clause.kind != SetClause::Kind::kColumn) {
      if (!FindVariable(clause.variable)) throw errors::UndeclaredVariable(clause.variable);
      item.variable = clause.variable;
    }
    sets.push_back(std::move(item));
  }
  std::string where = s.where ? translator.Condition(*s.where, &scope) : "";
  if (!s.current_of.name.empty()) {
    std::vector<std::string> columns;
    for (const SetItem& i : sets) columns.push_back(i.column);
    where = CurrentOf(s.current_of, table, target_rowid, columns, translator);
  }

  std::string sql;
  std::string assignments;
  int n = 0;
  std::vector<std::vector<Value>> by_row;
  std::string limit_sql = top;
  if (limit > 0)
    limit_sql = limit_sql.empty() ? std::to_string(limit)
                                  : "min(" + limit_sql + ", " + std::to_string(limit) + ")";
  // Variables are assigned row by row, in order, each row seeing what the rows before it left;
  // @v = col = expression writes the variable's new value to the column. So the rows' values
  // are computed first, then each row is written with its own.
  if (any_variable) {
    std::string select = target_rowid;
    for (const SetItem& i : sets) select += ", " + i.value;
    std::string query =
        "SELECT " + select + " FROM " + from_sql + (where.empty() ? "" : " WHERE " + where);
    if (!limit_sql.empty()) query += " LIMIT " + limit_sql;
    std::unordered_set<std::int64_t> seen;  // a join may reach a row twice: it is written once
    auto on_row = [&](sqlite3_stmt* stmt) {
      std::vector<Value> values;
      for (size_t k = 0; k < sets.size(); ++k) {
        Value v = ReadColumn(stmt, static_cast<int>(k + 1));
        if (!sets[k].variable.empty()) Assign(sets[k].variable, v, sets[k].type);
        if (!sets[k].column.empty()) values.push_back(std::move(v));
      }
      std::int64_t rowid = sqlite3_column_int64(stmt, 0);
      if (!seen.insert(rowid).second) return;
      values.emplace_back(static_cast<long long>(rowid));
      by_row.push_back(std::move(values));
    };
    try {
      RunSql(query, params, on_row, &live);
    } catch (const SqliteError& e) {
      throw MapSqliteError(e, &table, false);
    }
    for (const SetItem& i : sets)
      if (!i.column.empty())
        assignments += (assignments.empty() ? "" : ", ") + QuoteIdentifier(i.column) + " = ?" +
                       std::to_string(++n);
    sql =
        "UPDATE " + table.sql + " SET " + assignments + " WHERE rowid = ?" + std::to_string(n + 1);
  } else if (simple) {
    for (const SetItem& i : sets) {
      if (i.column.empty()) continue;
      assignments +=
          (assignments.empty() ? "" : ", ") + QuoteIdentifier(i.column) + " = " + i.value;
    }
    sql = "UPDATE " + from_sql + " SET " + assignments + (where.empty() ? "" : " WHERE " + where);
  } else {
    std::string select = target_rowid + " AS \"rid\"";
    for (const SetItem& i : sets) {
      ++n;
      if (i.column.empty()) continue;
      select += ", " + i.value + " AS \"v" + std::to_string(n) + "\"";
      assignments += (assignments.empty() ? "" : ", ") + QuoteIdentifier(i.column) +
                     " = \"f\".\"v" + std::to_string(n) + "\"";
    }
    std::string inner =
        "SELECT " + select + " FROM " + from_sql + (where.empty() ? "" : " WHERE " + where);
    if (!limit_sql.empty()) inner += " LIMIT " + limit_sql;
    sql = "UPDATE " + table.sql + " AS \"u\" SET " + assignments + " FROM (" + inner +
          ") AS \"f\" WHERE \"u\".rowid = \"f\".\"rid\"";
  }
  std::int64_t changed = 0;
  auto capture = assignments.empty() ? std::nullopt : CaptureForTriggers(table, 'U');
  if (!assignments.empty()) {
    const bool guarded = Guarded(table);
    if (guarded) SaveReferencedKeys(table);
    std::vector<std::int64_t> written;
    auto write = [&](const std::vector<Value>& values) {
      try {
        RunSql(sql + (guarded ? " RETURNING rowid" : ""), values,
               [&](sqlite3_stmt* stmt) { written.push_back(sqlite3_column_int64(stmt, 0)); });
      } catch (const SqliteError& e) {
        throw MapSqliteError(e, &table, false);
      }
      changed += session_.connection().Changes();
    };
    if (!any_variable) write(params);
    for (const std::vector<Value>& values : by_row) write(values);
    if (guarded) {
      CheckRows(table, "UPDATE", &written);
      CheckReferences(table, "UPDATE");
    }
  }
  session_.rowcount = changed;
  AfterChange(table, changed, current_ ? current_->span.TextIn(frame().text) : "");
  if (capture) FireTriggers(*capture, changed);
  SendDone(changed);
}

void Executor::Delete(const DeleteStatement& s) {
  const TableRef* source = FindTargetSource(s.from, s.target);
  ResolvedTable table = ResolveTable(source ? source->name : s.target);
  if (table.kind == ResolvedTable::Kind::kSystem) throw errors::Raise<259>();
  if (table.kind == ResolvedTable::Kind::kView) throw errors::Unsupported("DELETE through a view");
  if (table.kind != ResolvedTable::Kind::kTemp)
    CheckPermission("DELETE", session_.Database(table.dbid), table.object);
  std::vector<Value> params;
  Translator translator(*this, params);
  translator.set_bind_long_literals(true);
  Scope scope;
  std::string exposed = source ? (source->alias.empty() ? table.name : source->alias) : table.name;
  std::int64_t limit = session_.options().rowcount;
  std::string top;
  if (s.top) top = translator.Expression(*s.top, nullptr).sql;
  bool simple = s.from.empty() && top.empty() && limit == 0;
  std::string sql;
  if (simple) {
    std::string from_sql = translator.AddTable(table, "", scope, false);
    std::string where = s.where ? translator.Condition(*s.where, &scope) : "";
    if (!s.current_of.name.empty()) where = CurrentOf(s.current_of, table, "rowid", {}, translator);
    sql = "DELETE FROM " + from_sql + (where.empty() ? "" : " WHERE " + where);
  } else {
    std::string from_sql = translator.From(s.from, scope, &exposed);
    if (!source)
      from_sql +=
          std::string(from_sql.empty() ? "" : ", ") + translator.AddTable(table, "", scope, true);
    const SourceBinding* target = nullptr;
    for (const SourceBinding& b : scope.sources)
      if (EqualsNoCase(b.exposed, exposed) && !b.rowid_sql.empty()) target = &b;
    if (!target) throw errors::InvalidObject(s.target.ToString());
    std::string where = s.where ? translator.Condition(*s.where, &scope) : "";
    if (!s.current_of.name.empty())
      where = CurrentOf(s.current_of, table, target->rowid_sql, {}, translator);
    std::string inner = "SELECT " + target->rowid_sql + " FROM " + from_sql +
                        (where.empty() ? "" : " WHERE " + where);
    std::string limit_sql = top;
    if (limit > 0)
      limit_sql = limit_sql.empty() ? std::to_string(limit)
                                    : "min(" + limit_sql + ", " + std::to_string(limit) + ")";
    if (!limit_sql.empty()) inner += " LIMIT " + limit_sql;
    sql = "DELETE FROM " + table.sql + " WHERE rowid IN (" + inner + ")";
  }
  auto capture = CaptureForTriggers(table, 'D');
  try {
    RunSql(sql, params);
  } catch (const SqliteError& e) {
    throw MapSqliteError(e, &table, false);
  }
  std::int64_t changed = session_.connection().Changes();
  // Rows a cascade deletes are not counted: the count is the statement's own.
  if (changed > 0 && Guarded(table)) CheckReferences(table, "DELETE");
  session_.rowcount = changed;
  AfterChange(table, changed, current_ ? current_->span.TextIn(frame().text) : "");
  if (capture) FireTriggers(*capture, changed);
  SendDone(changed);
}

void Executor::Truncate(const TruncateTableStatement& s) {
  ResolvedTable table = ResolveTable(s.table);
  if (table.kind == ResolvedTable::Kind::kSystem || table.kind == ResolvedTable::Kind::kView)
    throw errors::Raise<4708>(table.name);
  if (table.kind != ResolvedTable::Kind::kTemp)
    CheckPermission("ALTER", session_.Database(table.dbid), table.object);
  if (!ReferencingConstraint(table, false).empty()) throw errors::Raise<4712>(table.name);
  RunSql("DELETE FROM " + table.sql, {});
  std::int64_t changed = session_.connection().Changes();
  // TRUNCATE starts the identity again at its seed.
  if (table.object->IdentityColumn()) {
    if (table.kind == ResolvedTable::Kind::kTemp) {
      session_.FindTemp(table.name)->identity_used = false;
    } else {
      Catalog& catalog = *session_.Database(table.dbid).catalog;
      CachedStatement reset(session_.connection(),
                            "UPDATE " + catalog.Table(catalog_tables::kColumns) +
                                " SET ident_current = NULL WHERE id = ? AND is_identity = 1");
      reset.Bind(1, Value(static_cast<long long>(table.object->id)));
      reset.Step();
    }
  }
  AfterChange(table, changed, current_ ? current_->span.TextIn(frame().text) : "");
  session_.rowcount = 0;
  SendDone(-1);
}

}  // namespace sandbox
