// Transact-SQL cursors: DECLARE CURSOR (both forms), cursor variables, OPEN, FETCH, CLOSE,
// DEALLOCATE, CURSOR_STATUS and the row WHERE CURRENT OF names.
//
// OPEN copies the result into a private SQLite file of the cursor (row n is rowid n), so a
// large result costs disk, not memory, and a ROLLBACK of the session's transaction leaves the
// cursor as it was. Keyset cursors over one table read each row again from the table when they
// fetch it, so they see changes and deletions since OPEN (a deleted row is fetched as -2), but
// not rows added since. A dynamic cursor runs its query again at a FETCH when anything was
// written since its last one, so it sees rows added, changed and deleted; it stays on its row
// (or, that one deleted, between its neighbours) by the base table's rowid.
#include <algorithm>
#include <cstring>
#include <functional>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/executor.h"
#include "sandbox/tsql/parser.h"

namespace sandbox {

using common::Value;
using namespace tsql;

struct Cursor {
  enum class Type { kDynamic, kStatic, kKeyset, kFastForward };
  Type type = Type::kDynamic;
  bool scroll = false;
  bool read_only = false;
  bool dynamic_stated = false;              // DYNAMIC written out: it alone refuses FETCH ABSOLUTE
  std::vector<std::string> update_columns;  // FOR UPDATE OF; empty for every column
  std::string select;                       // parsed again at each OPEN

  // While open.
  std::unique_ptr<Connection> rows;  // table "r": the columns, then the base row's rowid
  std::vector<OutputColumn> columns;
  std::int64_t count = 0;
  std::int64_t position = 0;  // 0 before the first row, count + 1 after the last
  std::string base_sql;       // the table positioned UPDATE and DELETE change; empty: none
  // Keyset and dynamic cursors: the query narrowed to one base rowid, with its parameters.
  std::string refresh_sql;
  std::vector<Value> refresh_params;
  // Dynamic cursors: the query with its parameters, and the writes seen when it last ran.
  std::string query_sql;
  std::vector<Value> query_params;
  std::int64_t seen_writes = 0;
  // The writes before a positioned UPDATE or DELETE of a cursor that was up to date: when that
  // one row is all that changed, the next FETCH need not run the query again (it reads its row
  // anew anyway), so a loop changing every row stays linear.
  std::optional<std::int64_t> positioned_from;
  int generation = 0;    // names the rowid index of each new copy of the rows
  bool between = false;  // the current row was deleted: PRIOR fetches the row before it

  // The base table's rowid of row n, or nullopt where the cursor has no base table.
  std::optional<std::int64_t> BaseRowId(std::int64_t n) {
    if (base_sql.empty()) return std::nullopt;
    CachedStatement q(*rows, "SELECT \"$rid\" FROM r WHERE rowid = ?");
    q.Bind(1, Value(static_cast<long long>(n)));
    if (!q.Step()) return std::nullopt;
    return q.ColumnInt(0);
  }
};

namespace {

std::string Key(std::string_view name) { return Lower(name); }

bool IsDynamic(const Cursor& c) { return c.type == Cursor::Type::kDynamic; }

// A number that moves whenever this connection or any other commits a write to a database the
// session has attached.
std::int64_t Writes(Connection& connection) {
  std::int64_t writes = sqlite3_total_changes64(connection.get());
  std::vector<std::string> schemas;
  sandbox::Statement list = connection.Prepare("PRAGMA database_list");
  while (list.Step()) schemas.push_back(list.ColumnText(1));
  for (const std::string& schema : schemas) {
    std::string quoted = "\"";
    for (char ch : schema) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    sandbox::Statement version = connection.Prepare("PRAGMA " + quoted + "\".data_version");
    if (version.Step()) writes += version.ColumnInt(0) << 20;
  }
  return writes;
}

// Fills table `name` of the cursor's file with the query's rows (the columns, then the base
// rowid when shift is 1) and returns how many there are.
std::int64_t Fill(Executor& executor, const std::function<void()>& check_interrupt,
                  Connection& rows, const std::string& name, const std::string& sql,
                  const std::vector<Value>& params, int n, int shift) {
  std::string create = "CREATE TABLE " + name + "(";
  std::string insert = "INSERT INTO " + name + " VALUES(";
  for (int i = 0; i <= n; ++i) {
    create += (i ? ", " : "") + (i == n ? std::string("\"$rid\"") : "c" + std::to_string(i));
    insert += i ? ", ?" : "?";
  }
  rows.Exec(create + ")");
  rows.Exec("BEGIN");
  sqlite3_stmt* add = rows.Cached(insert + ")");
  std::int64_t count = 0;
  try {
    executor.RunSql(sql, params, [&](sqlite3_stmt* stmt) {
      check_interrupt();
      for (int i = 0; i < n; ++i)
        sqlite3_bind_value(add, i + 1, sqlite3_column_value(stmt, i + shift));
      if (shift)
        sqlite3_bind_int64(add, n + 1, sqlite3_column_int64(stmt, 0));
      else
        sqlite3_bind_null(add, n + 1);
      int rc = sqlite3_step(add);
      sqlite3_reset(add);
      if (rc != SQLITE_DONE) rows.Fail(rc);
      ++count;
    });
  } catch (...) {
    // A query that fails part way (a row it cannot convert, a cancel) leaves no transaction
    // open in the cursor's file: the next FETCH runs it again.
    sqlite3_reset(add);
    rows.Exec("ROLLBACK");
    throw;
  }
  rows.Exec("COMMIT");
  return count;
}

bool Has(const std::vector<std::string>& options, std::string_view option) {
  return std::find(options.begin(), options.end(), option) != options.end();
}

// The cursor a declaration describes, its options checked against each other.
std::shared_ptr<Cursor> DefineCursor(const CursorStatement& s, std::string_view batch_text) {
  const auto& o = s.options;
  static const std::pair<const char*, const char*> kConflicts[] = {{"LOCAL", "GLOBAL"},
                                                                   {"FORWARD_ONLY", "SCROLL"},
                                                                   {"FAST_FORWARD", "SCROLL"},
                                                                   {"FAST_FORWARD", "FORWARD_ONLY"},
                                                                   {"STATIC", "KEYSET"},
                                                                   {"STATIC", "DYNAMIC"},
                                                                   {"STATIC", "FAST_FORWARD"},
                                                                   {"KEYSET", "DYNAMIC"},
                                                                   {"KEYSET", "FAST_FORWARD"},
                                                                   {"DYNAMIC", "FAST_FORWARD"},
                                                                   {"READ_ONLY", "SCROLL_LOCKS"},
                                                                   {"READ_ONLY", "OPTIMISTIC"},
                                                                   {"SCROLL_LOCKS", "OPTIMISTIC"},
                                                                   {"FAST_FORWARD", "SCROLL_LOCKS"},
                                                                   {"FAST_FORWARD", "OPTIMISTIC"},
                                                                   {"INSENSITIVE", "READ_ONLY"}};
  for (const auto& [a, b] : kConflicts)
    if (Has(o, a) && Has(o, b)) throw errors::CursorOptionsConflict(a, b);
  auto cursor = std::make_shared<Cursor>();
  if (Has(o, "STATIC") || Has(o, "INSENSITIVE")) cursor->type = Cursor::Type::kStatic;
  if (Has(o, "KEYSET")) cursor->type = Cursor::Type::kKeyset;
  if (Has(o, "FAST_FORWARD")) cursor->type = Cursor::Type::kFastForward;
  // STATIC, KEYSET and DYNAMIC scroll unless FORWARD_ONLY says otherwise.
  cursor->scroll =
      Has(o, "SCROLL") ||
      (!Has(o, "FORWARD_ONLY") && (Has(o, "STATIC") || Has(o, "KEYSET") || Has(o, "DYNAMIC")));
  cursor->read_only = Has(o, "READ_ONLY") || Has(o, "READ ONLY") ||
                      cursor->type == Cursor::Type::kStatic ||
                      cursor->type == Cursor::Type::kFastForward;
  if (s.for_update && cursor->read_only) throw errors::CursorForUpdateReadOnly();
  cursor->dynamic_stated = Has(o, "DYNAMIC");
  cursor->update_columns = s.update_columns;
  cursor->select = std::string(s.query_span.TextIn(batch_text));
  return cursor;
}

}  // namespace

std::shared_ptr<Cursor>* Executor::FindCursor(const CursorRef& ref) {
  if (ref.name[0] == '@') {
    auto it = frame().cursors.find(Key(ref.name));
    if (it == frame().cursors.end()) throw errors::UndeclaredVariable(ref.name);
    if (!it->second) throw errors::CursorVariableEmpty(ref.name);
    return &it->second;
  }
  if (!ref.global) {
    auto it = frame().cursors.find(Key(ref.name));
    if (it != frame().cursors.end()) return &it->second;
  }
  auto it = session_.global_cursors.find(Key(ref.name));
  if (it == session_.global_cursors.end()) throw errors::CursorMissing(ref.name);
  return &it->second;
}

std::optional<int> Executor::CursorStatus(std::string_view scope, std::string_view name) {
  const std::shared_ptr<Cursor>* slot = nullptr;
  bool variable = EqualsNoCase(scope, "variable");
  if (variable || EqualsNoCase(scope, "local")) {
    if (variable != (!name.empty() && name[0] == '@')) return -3;
    auto it = frame().cursors.find(Key(name));
    if (it != frame().cursors.end()) slot = &it->second;
  } else if (EqualsNoCase(scope, "global")) {
    auto it = session_.global_cursors.find(Key(name));
    if (it != session_.global_cursors.end()) slot = &it->second;
  }
  if (!slot) return -3;
  if (!*slot) return -2;
  const Cursor& c = **slot;
  if (!c.rows) return -1;
  // A dynamic cursor never knows its result to be empty.
  bool dynamic = c.type == Cursor::Type::kDynamic || c.type == Cursor::Type::kFastForward;
  return dynamic || c.count > 0 ? 1 : 0;
}

void Executor::RunCursor(const CursorStatement& s) {
  using Action = CursorStatement::Action;
  switch (s.action) {
    case Action::kDeclare: {
      CheckIdentifier(s.cursor.name);
      auto cursor = DefineCursor(s, frame().text);
      // Without LOCAL or GLOBAL the database's CURSOR_DEFAULT option decides (GLOBAL at first).
      auto record = session_.instance().FindDatabase(Db().dbid);
      bool local = Has(s.options, "LOCAL") || (!Has(s.options, "GLOBAL") && record &&
                                               (record->status2 & dbstatus2::kLocalCursor));
      auto& cursors = local ? frame().cursors : session_.global_cursors;
      auto [it, added] = cursors.emplace(Key(s.cursor.name), cursor);
      if (!added) throw errors::CursorExists(s.cursor.name);
      return;
    }
    case Action::kDeclareVariable:
      for (const std::string& name : s.variables) {
        if (frame().variables.count(Key(name)) || frame().cursors.count(Key(name)))
          throw errors::VariableDeclaredTwice(name);
        frame().cursors[Key(name)] = nullptr;
      }
      return;
    case Action::kSetVariable: {
      auto it = frame().cursors.find(Key(s.cursor.name));
      if (it == frame().cursors.end()) throw errors::UndeclaredVariable(s.cursor.name);
      it->second = DefineCursor(s, frame().text);
      return SendDone(-1);
    }
    case Action::kOpen:
      return OpenCursor(**FindCursor(s.cursor));
    case Action::kFetch:
      return FetchCursor(s, **FindCursor(s.cursor));
    case Action::kClose: {
      Cursor& c = **FindCursor(s.cursor);
      if (!c.rows) throw errors::CursorNotOpen();
      c.rows.reset();
      c.position = 0;
      return SendDone(-1);
    }
    case Action::kDeallocate:
      // A variable stays declared, without a cursor; a name goes from the scope it was found in.
      FindCursor(s.cursor)->reset();
      if (s.cursor.name[0] != '@') {
        if (!s.cursor.global && frame().cursors.erase(Key(s.cursor.name))) return SendDone(-1);
        session_.global_cursors.erase(Key(s.cursor.name));
      }
      return SendDone(-1);
  }
}

void Executor::OpenCursor(Cursor& cursor) {
  if (cursor.rows) throw errors::CursorAlreadyOpen();
  Batch batch;
  try {
    batch = ParseBatch(cursor.select,
                       ParseOptions{session_.options().quoted_identifier, tsql::kMaxNesting});
  } catch (const ParseError& e) {
    throw SqlError(e.number(), e.severity(), e.message(), ErrorScope::kStatement, e.state());
  }
  const tsql::Query& query = *batch.statements.at(0)->As<SelectStatement>().query;
  std::vector<Value> params;
  Translator translator(*this, params);
  Translation t = translator.Query(query, nullptr);
  // One base table, no grouping and a column of it (no lone aggregate): the cursor's rows are
  // that table's rows, and its rowid goes along so WHERE CURRENT OF finds the row.
  std::string base_sql;
  if (query.kind == tsql::Query::Kind::kSpec) {
    const QuerySpec& body = query.As<QuerySpec>();
    if (!body.distinct && body.group_by.empty() && !body.having && body.from.size() == 1 &&
        body.from[0]->kind == TableSource::Kind::kTable &&
        std::any_of(t.columns.begin(), t.columns.end(),
                    [](const OutputColumn& c) { return !c.base_table.empty(); })) {
      ResolvedTable table = ResolveTable(body.from[0]->As<TableRef>().name);
      if ((table.kind == ResolvedTable::Kind::kTable || table.kind == ResolvedTable::Kind::kTemp) &&
          t.sql.rfind("SELECT ", 0) == 0 &&
          t.sql.find(table.sql + " AS \"t1\"") != std::string::npos)
        base_sql = table.sql;
    }
  }
  std::string sql =
      base_sql.empty() ? t.sql
                       : "SELECT \"t1\".rowid AS \"$rid\", " + t.sql.substr(std::strlen("SELECT "));
  cursor.refresh_sql.clear();
  if (!base_sql.empty() && cursor.type != Cursor::Type::kStatic && !IsDynamic(cursor)) {
    cursor.refresh_sql =
        "SELECT * FROM (" + sql + ") WHERE \"$rid\" = ?" + std::to_string(params.size() + 1);
    cursor.refresh_params = params;
  }
  const int n = static_cast<int>(t.columns.size());

  auto rows = std::make_unique<Connection>("");  // a temporary file SQLite removes on close
  std::int64_t count = Fill(
      *this, [this] { CheckInterrupt(); }, *rows, "r", sql, params, n, base_sql.empty() ? 0 : 1);
  if (IsDynamic(cursor)) {
    cursor.query_sql = sql;
    cursor.query_params = std::move(params);
    cursor.seen_writes = Writes(session_.connection());
    cursor.between = false;
    if (!base_sql.empty()) rows->Exec("CREATE INDEX i0 ON r(\"$rid\")");
  }
  cursor.rows = std::move(rows);
  cursor.columns = std::move(t.columns);
  cursor.count = count;
  cursor.position = 0;
  cursor.base_sql = base_sql;
  // Dynamic cursors do not count their rows.
  bool dynamic = cursor.type == Cursor::Type::kDynamic || cursor.type == Cursor::Type::kFastForward;
  session_.cursor_rows = dynamic ? -1 : count;
  SendDone(-1);
}

void Executor::FetchCursor(const CursorStatement& s, Cursor& cursor) {
  if (!cursor.rows) throw errors::CursorNotOpen();
  if (!cursor.scroll && s.fetch != "NEXT") throw errors::FetchTypeForwardOnly(Lower(s.fetch));
  bool dynamic = cursor.type == Cursor::Type::kDynamic || cursor.type == Cursor::Type::kFastForward;
  if (cursor.dynamic_stated && s.fetch == "ABSOLUTE") throw errors::FetchTypeDynamic(s.fetch);
  if (!s.into.empty() && s.into.size() != cursor.columns.size()) throw errors::FetchIntoCount();
  for (const std::string& v : s.into)
    if (!FindVariable(v)) throw errors::UndeclaredVariable(v);
  if (IsDynamic(cursor) && cursor.positioned_from &&
      Writes(session_.connection()) == *cursor.positioned_from + 1)
    cursor.seen_writes = *cursor.positioned_from + 1;
  cursor.positioned_from.reset();
  if (IsDynamic(cursor) && Writes(session_.connection()) != cursor.seen_writes) {
    // Run again, staying on the current row or, deleted, after the nearest earlier one kept.
    const std::int64_t writes = Writes(session_.connection());
    Connection& rows = *cursor.rows;
    const int n = static_cast<int>(cursor.columns.size());
    rows.ClearCache();
    rows.Exec("DROP TABLE IF EXISTS n");
    std::int64_t count = Fill(
        *this, [this] { CheckInterrupt(); }, rows, "n", cursor.query_sql, cursor.query_params, n,
        cursor.base_sql.empty() ? 0 : 1);
    cursor.seen_writes = writes;  // only once the rows are read: a failed run is tried again
    bool after_end = cursor.position > cursor.count;
    if (!cursor.base_sql.empty()) {
      rows.Exec("CREATE INDEX i" + std::to_string(++cursor.generation) + " ON n(\"$rid\")");
      std::int64_t position = 0, kept = 0;
      if (cursor.position >= 1 && !after_end) {
        sandbox::Statement q = rows.Prepare(
            "SELECT n.rowid, r.rowid FROM r JOIN n ON n.\"$rid\" = r.\"$rid\" WHERE r.rowid <= ? "
            "ORDER BY r.rowid DESC LIMIT 1");
        q.Bind(1, Value(static_cast<long long>(cursor.position)));
        if (q.Step()) position = q.ColumnInt(0), kept = q.ColumnInt(1);
      }
      cursor.between = cursor.position >= 1 && !after_end && kept != cursor.position;
      cursor.position = position;
    }
    rows.Exec("DROP TABLE r");
    rows.Exec("ALTER TABLE n RENAME TO r");
    cursor.count = count;
    cursor.position = after_end ? count + 1 : std::min(cursor.position, count + 1);
  }
  std::int64_t offset = 0;
  if (s.offset) {
    auto v = Convert(Evaluate(*s.offset), SqlType{TypeKind::kBigInt}, Fit::kFail).ToInt();
    // Any offset beyond the rows lands before the first or after the last.
    offset = std::clamp<std::int64_t>(v.value_or(0), -cursor.count - 2, cursor.count + 2);
  }
  std::int64_t target = cursor.position + 1;
  int step = 1;  // the way a dynamic cursor moves past rows deleted since OPEN
  if (s.fetch == "PRIOR") target = cursor.position - 1, step = -1;

  if (s.fetch == "FIRST") target = 1;
  if (s.fetch == "LAST") target = cursor.count, step = -1;
  if (s.fetch == "ABSOLUTE") target = offset >= 0 ? offset : cursor.count + 1 + offset;
  if (s.fetch == "RELATIVE") target = cursor.position + offset, step = offset < 0 ? -1 : 1;
  // Between rows (the current one deleted), the row before is the position itself.
  if (cursor.between && (s.fetch == "PRIOR" || (s.fetch == "RELATIVE" && offset < 0))) ++target;
  cursor.between = false;

  std::int64_t status = -1;
  std::vector<Value> row;
  while (target >= 1 && target <= cursor.count) {
    bool gone = false;
    if (!cursor.refresh_sql.empty()) {
      // The row as the table holds it now; gone when deleted or no longer qualifying.
      std::vector<Value> params = cursor.refresh_params;
      params.push_back(Value(static_cast<long long>(*cursor.BaseRowId(target))));
      gone = true;
      RunSql(cursor.refresh_sql, params, [&](sqlite3_stmt* stmt) {
        gone = false;
        row.clear();
        for (size_t i = 0; i < cursor.columns.size(); ++i)
          row.push_back(ReadColumn(stmt, static_cast<int>(i) + 1));
      });
    }
    if (gone && dynamic) {
      target += step;
      continue;
    }
    status = gone ? -2 : 0;
    if (cursor.refresh_sql.empty()) {
      CachedStatement q(*cursor.rows, "SELECT * FROM r WHERE rowid = ?");
      q.Bind(1, Value(static_cast<long long>(target)));
      q.Step();
      for (size_t i = 0; i < cursor.columns.size(); ++i)
        row.push_back(q.Column(static_cast<int>(i)));
    }
    break;
  }
  cursor.position = std::clamp<std::int64_t>(target, 0, cursor.count + 1);
  session_.fetch_status = status;
  if (s.into.empty()) {
    std::vector<std::vector<Value>> rows;
    if (status == 0) rows.push_back(std::move(row));
    return SendRows(cursor.columns, rows);
  }
  for (size_t i = 0; i < row.size(); ++i) Assign(s.into[i], row[i], cursor.columns[i].type);
  session_.rowcount = status == 0 ? 1 : 0;
  SendDone(-1);
}

std::string Executor::CurrentOf(const CursorRef& ref, const ResolvedTable& table,
                                const std::string& rowid_sql,
                                const std::vector<std::string>& set_columns,
                                Translator& translator) {
  Cursor& cursor = **FindCursor(ref);
  if (!cursor.rows) throw errors::CursorNotOpen();
  if (cursor.read_only || cursor.base_sql.empty()) throw errors::CursorReadOnly();
  if (cursor.base_sql != table.sql) throw errors::CursorTableNotUpdatable();
  if (cursor.position < 1 || cursor.position > cursor.count) throw errors::CursorNoRow();
  if (!cursor.update_columns.empty())
    for (const std::string& c : set_columns)
      if (!c.empty() && std::none_of(cursor.update_columns.begin(), cursor.update_columns.end(),
                                     [&](const std::string& u) { return EqualsNoCase(u, c); }))
        throw errors::CursorColumnNotForUpdate();
  std::int64_t rid = *cursor.BaseRowId(cursor.position);
  CachedStatement exists(session_.connection(), "SELECT 1 FROM " + table.sql + " WHERE rowid = ?");
  exists.Bind(1, Value(static_cast<long long>(rid)));
  if (!exists.Step()) throw errors::CursorRowChanged();
  if (IsDynamic(cursor)) {
    std::int64_t writes = Writes(session_.connection());
    if (writes == cursor.seen_writes) cursor.positioned_from = writes;
  }
  return rowid_sql + " = " + translator.Bind(Value(static_cast<long long>(rid)));
}

}  // namespace sandbox
