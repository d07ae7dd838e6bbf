// DBCC commands an administrator types: CHECKDB, SQLPERF(LOGSPACE), OPENTRAN, INPUTBUFFER,
// CHECKIDENT.
// SHRINKFILE, which the product itself sends, lives with the database files (databases.cc).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/backup.h"
#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/executor.h"
#include "sandbox/functions.h"
#include "sandbox/instance.h"
#include "sandbox/object_functions.h"
#include "sandbox/messages.h"
#include "sandbox/session.h"
#include "sandbox/sqlite.h"
#include "sandbox/types.h"

namespace sandbox {

using common::Value;

namespace {

bool HasOption(const tsql::DbccStatement& s, std::string_view option) {
  return std::find(s.options.begin(), s.options.end(), option) != s.options.end();
}

// rows_sent: a row set (which ends with its own done) came first.
void Completed(Executor& executor, const tsql::DbccStatement& s, bool rows_sent = false) {
  if (!HasOption(s, "NO_INFOMSGS")) Inform(executor, errors::Raise<2528>());
  if (!rows_sent) executor.sink().Done(-1);
}

// The first count characters of UTF-8 text.
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t i = 0;
  for (size_t n = 0; i < text.size() && n < count; ++n) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return text.substr(0, i);
}

// An argument written as a bare name, a string or a number.
std::optional<Value> Argument(Executor& executor, const tsql::DbccStatement& s, size_t index) {
  if (index >= s.args.size()) return std::nullopt;
  const tsql::Expr& expr = *s.args[index];
  if (expr.kind == tsql::Expr::Kind::kVariable) {
    if (VariableSlot* slot = executor.FindVariable(expr.As<tsql::Variable>().name))
      return slot->value;
    throw errors::UndeclaredVariable(expr.As<tsql::Variable>().name);
  }
  if (expr.kind == tsql::Expr::Kind::kGlobalVariable &&
      EqualsNoCase(expr.As<tsql::GlobalVariable>().name, "@@SPID"))
    return Value(executor.session().spid());
  if (expr.kind == tsql::Expr::Kind::kColumn) {
    const auto& column = expr.As<tsql::ColumnRef>();
    if (column.table.empty()) return Value(column.column);
  } else if (expr.kind == tsql::Expr::Kind::kLiteral) {
    const auto& literal = expr.As<tsql::Literal>();
    if (literal.type == tsql::Literal::Type::kInteger)
      return Value(static_cast<long long>(literal.int_value));
    if (literal.type == tsql::Literal::Type::kString ||
        literal.type == tsql::Literal::Type::kUnicodeString)
      return Value(literal.text);
  }
  throw errors::Raise<2560>(index + 1);
}

// The database a DBCC command names (by name or id), or the current one.
DatabaseRecord TargetDatabase(Executor& executor, const tsql::DbccStatement& s) {
  InstanceImpl& instance = executor.session().instance();
  std::optional<DatabaseRecord> record;
  std::string written;
  if (auto arg = Argument(executor, s, 0)) {
    written = arg->ToText();
    if (arg->type() == Value::Type::kInt) {
      record = *arg->ToInt() == 0 ? instance.FindDatabase(executor.session().current_dbid())
                                  : instance.FindDatabase(static_cast<int>(*arg->ToInt()));
    } else {
      record = instance.FindDatabase(*arg->AsText());
    }
  } else {
    record = instance.FindDatabase(executor.session().current_dbid());
    written = std::to_string(executor.session().current_dbid());
  }
  if (!record) throw errors::Raise<911>(written);
  return *record;
}

void CheckOwner(Executor& executor, const DatabaseRecord& record, const char* command) {
  SessionImpl& session = executor.session();
  if (!IsDatabaseOwner(session, record)) throw errors::Raise<2571>(session.login().name, command);
}

// SQLite's integrity check of the database file, reported in the server's words: a line per
// table with its rows and pages, an error per fault found, and the summary.
void CheckDb(Executor& executor, const tsql::DbccStatement& s) {
  if (s.args.size() > 2) throw errors::Raise<2560>(3);
  if (auto repair = Argument(executor, s, 1)) {
    std::string mode = Upper(repair->ToText());
    if (mode != "NOINDEX" && mode != "REPAIR_FAST" && mode != "REPAIR_REBUILD" &&
        mode != "REPAIR_ALLOW_DATA_LOSS")
      throw errors::Raise<2560>(2);
  }
  DatabaseRecord record = TargetDatabase(executor, s);
  CheckOwner(executor, record, "CHECKDB");
  SessionImpl& session = executor.session();
  bool quiet = HasOption(s, "NO_INFOMSGS");
  AttachedDatabase& attached = session.Database(record.dbid);
  // A connection of its own reads the last committed state without waiting for writers.
  Connection db(record.data_host.string(), false);
  RegisterFunctions(db.get(), nullptr);  // the indexes' collations
  sqlite3_busy_timeout(db.get(), 30000);
  if (!quiet) Inform(executor, errors::Raise<2536>(record.name));
  if (!quiet) {
    std::vector<const ObjectInfo*> tables;
    for (const ObjectInfo* o : attached.catalog->Objects())
      if (o->type == ObjectType::kTable) tables.push_back(o);
    std::sort(tables.begin(), tables.end(),
              [](const ObjectInfo* a, const ObjectInfo* b) { return a->id < b->id; });
    for (const ObjectInfo* table : tables) {
      std::int64_t rows = 0, pages = 0;
      try {
        Statement count =
            db.Prepare("SELECT count(*) FROM main." + QuoteIdentifier(table->storage_name));
        if (count.Step()) rows = count.ColumnInt(0);
        Statement used = db.Prepare("SELECT count(*) FROM dbstat WHERE name = ?");
        used.Bind(1, Value(table->storage_name));
        if (used.Step()) pages = used.ColumnInt(0);
      } catch (const SqliteError&) {
        // A table the check below finds damaged is reported there.
      }
      Inform(executor, errors::Raise<2593>(std::to_string(rows), std::to_string(pages), table->name));
    }
  }
  int errors = 0;
  Statement check = db.Prepare("PRAGMA integrity_check");
  while (check.Step()) {
    std::string line = check.ColumnText(0);
    if (line == "ok") continue;
    ++errors;
    Inform(executor, errors::Raise<8939>(0, 0, "(1:0)", line, 0, 0));
  }
  if (!quiet || errors)
    Inform(executor, errors::Raise<8989>("0", std::to_string(errors), record.name));
  if (errors) Inform(executor, errors::Raise<8958>("repair_allow_data_loss", record.name));
  Completed(executor, s);
}

void SqlPerf(Executor& executor, const tsql::DbccStatement& s) {
  auto what = Argument(executor, s, 0);
  if (!what || s.args.size() != 1) throw errors::Raise<2560>(1);
  if (Upper(what->ToText()) != "LOGSPACE")
    throw errors::Unsupported("DBCC SQLPERF(" + what->ToText() + ")");
  InstanceImpl& instance = executor.session().instance();
  auto column = [](const char* name, SqlType type) {
    OutputColumn c;
    c.name = name;
    c.type = type;
    return c;
  };
  std::vector<OutputColumn> columns = {
      column("Database Name", SqlType::NVarChar(128)), column("Log Size (MB)", {TypeKind::kReal}),
      column("Log Space Used (%)", {TypeKind::kReal}), column("Status", SqlType::Int())};
  std::vector<std::vector<Value>> rows;
  for (const DatabaseRecord& record : instance.Databases()) {
    LogFileState log = instance.LogState(record.dbid);
    double size_mb = static_cast<double>(log.size_pages) * kPageBytes / 1048576.0;
    double used =
        log.size_pages > 0 ? 100.0 * static_cast<double>(log.used_pages) / log.size_pages : 0.0;
    rows.push_back({Value(record.name), Value(size_mb), Value(used), Value(0)});
  }
  executor.SendRows(columns, rows);
  Completed(executor, s, true);
}

// "Dec  7 2026  1:05:09:123AM", as OPENTRAN prints a start time.
std::string StartTimeText(const std::string& storage) {
  auto d = common::DateTime::Parse(storage);
  if (!d) return storage;
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int hour = d->hour % 12 == 0 ? 12 : d->hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%s %2d %d %2d:%02d:%02d:%03d%s",
                kMonths[std::clamp(d->month, 1, 12) - 1], d->day, d->year, hour, d->minute,
                d->second, d->millisecond, d->hour < 12 ? "AM" : "PM");
  return text;
}

// The oldest open transaction in a database: this session's, or one another session (of any
// process) holds there with writes done, as its process published it.
void OpenTran(Executor& executor, const tsql::DbccStatement& s) {
  if (s.args.size() > 1) throw errors::Raise<2560>(2);
  DatabaseRecord record = TargetDatabase(executor, s);
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  struct Open {
    int spid = 0;
    int uid = 0;
    std::string started;
  };
  std::optional<Open> oldest;
  if (session.trancount() > 0 && session.current_dbid() == record.dbid)
    oldest = Open{session.spid(), session.UserId(session.Database(record.dbid)),
                  session.transaction_started()};
  // Reading the sessions drops those of ended processes: their rows of locks do not count.
  std::vector<int> live;
  for (const SessionEntry& e : instance.Sessions()) live.push_back(e.spid);
  const std::string held = " " + std::to_string(record.dbid) + " ";
  for (const LockEntry& e : instance.Locks()) {
    if (e.spid == session.spid() || e.holds.find(held) == std::string::npos ||
        std::find(live.begin(), live.end(), e.spid) == live.end())
      continue;
    if (oldest && oldest->started <= e.tran_started) continue;
    size_t at = e.uids.find(" " + std::to_string(record.dbid) + ":");
    int uid = at == std::string::npos ? 0 : std::atoi(e.uids.c_str() + e.uids.find(':', at) + 1);
    oldest = Open{e.spid, uid, e.tran_started};
  }
  if (!oldest) {
    Inform(executor, errors::Raise<7969>());
  } else {
    std::string text = "Transaction information for database '" + record.name +
                       "'.\n\nOldest active transaction:\n    SPID (server process ID) : " +
                       std::to_string(oldest->spid) +
                       "\n    UID (user ID) : " + std::to_string(oldest->uid) +
                       "\n    Name          : user_transaction\n    LSN           : (1:1:1)\n"
                       "    Start time    : " +
                       StartTimeText(oldest->started);
    executor.Info(0, text, 0);
  }
  Completed(executor, s);
}

void InputBuffer(Executor& executor, const tsql::DbccStatement& s) {
  auto spid = Argument(executor, s, 0);
  if (!spid || s.args.size() != 1 || spid->type() != Value::Type::kInt)
    throw errors::Raise<2560>(1);
  SessionImpl& session = executor.session();
  if (*spid->ToInt() != session.spid() && !session.IsSysadmin())
    throw errors::Raise<2571>(session.login().name, "INPUTBUFFER");
  InstanceImpl& instance = session.instance();
  std::optional<std::string> text;
  if (*spid->ToInt() == session.spid()) {
    text = session.InputBuffer();
  } else if (*spid->ToInt() > 0 && *spid->ToInt() < 32768) {
    int wanted = static_cast<int>(*spid->ToInt());
    bool live = false;
    for (const SessionEntry& e : instance.Sessions()) live = live || e.spid == wanted;
    if (!live) throw errors::Raise<7955>(*spid->ToInt());
    text = instance.InputBuffer(wanted);
    if (!text) throw errors::Raise<7955>(*spid->ToInt());
  } else {
    throw errors::Raise<7955>(*spid->ToInt());
  }
  std::vector<OutputColumn> columns(3);
  columns[0].name = "EventType";
  columns[0].type = SqlType::NVarChar(30);
  columns[1].name = "Parameters";
  columns[1].type = {TypeKind::kSmallInt};
  columns[2].name = "EventInfo";
  columns[2].type = SqlType::NVarChar(255);
  Value event = text->empty() ? Value("No Event") : Value("Language Event");
  executor.SendRows(columns, {{event, Value(0), Value(FirstCharacters(*text, 255))}});
  Completed(executor, s, true);
}

// DBCC CHECKIDENT ('table' [, NORESEED | RESEED [, value]]): reports the table's current identity
// value beside the column's highest, and moves the first on when asked.
void CheckIdent(Executor& executor, const tsql::DbccStatement& s) {
  auto name_arg = Argument(executor, s, 0);
  if (!name_arg) throw errors::Raise<2560>(1);
  auto parts = ParseObjectName(name_arg->ToText());
  if (!parts || parts->empty()) throw errors::InvalidObject(name_arg->ToText());
  tsql::ObjectName name;
  name.name = parts->back();
  if (parts->size() > 1) name.owner = (*parts)[parts->size() - 2];
  if (parts->size() > 2) name.database = (*parts)[parts->size() - 3];
  name.part_count = static_cast<int>(parts->size());
  ResolvedTable table = executor.ResolveTable(name);
  const ColumnInfo* identity = table.object ? table.object->IdentityColumn() : nullptr;
  if (table.kind != ResolvedTable::Kind::kTable || !identity) throw errors::Raise<7997>(table.name);
  executor.CheckPermission("ALTER", executor.session().Database(table.dbid), table.object);
  std::string mode = "RESEED";
  if (auto m = Argument(executor, s, 1)) mode = Upper(m->ToText());
  if (mode != "RESEED" && mode != "NORESEED") throw errors::Raise<2560>(2);
  auto new_value = Argument(executor, s, 2);
  if (new_value && mode != "RESEED") throw errors::Raise<2560>(3);

  Catalog& catalog = *executor.session().Database(table.dbid).catalog;
  Connection& connection = executor.session().connection();
  const std::optional<std::int64_t> current = catalog.IdentityCurrent(connection, table.object->id);
  std::optional<std::int64_t> highest;
  executor.RunSql(std::string("SELECT ") + (identity->increment > 0 ? "max(" : "min(") +
                      QuoteIdentifier(identity->name) + ") FROM " + table.sql,
                  {}, [&](sqlite3_stmt* stmt) {
                    if (sqlite3_column_type(stmt, 0) != SQLITE_NULL)
                      highest = sqlite3_column_int64(stmt, 0);
                  });
  auto text = [](const std::optional<std::int64_t>& v) {
    return v ? std::to_string(*v) : std::string("NULL");
  };
  std::optional<std::int64_t> shown = highest;
  if (new_value) {
    std::int64_t value = new_value->ToInt().value_or(0);
    // A table that never had a row starts at the value itself, others after it.
    catalog.SetIdentityCurrent(connection, table.object->id,
                               current ? value : value - identity->increment);
    shown = value;
  } else if (mode == "RESEED" && highest &&
             (!current || (identity->increment > 0 ? *current < *highest : *current > *highest))) {
    catalog.SetIdentityCurrent(connection, table.object->id, *highest);
  }
  if (!HasOption(s, "NO_INFOMSGS"))
    Inform(executor, errors::Raise<7998>(text(current), text(shown)));
  Completed(executor, s);
}

struct DbccEntry {
  const char* command;
  void (*run)(Executor&, const tsql::DbccStatement&);
};

constexpr DbccEntry kCommands[] = {
    {"CHECKDB", CheckDb},         {"SQLPERF", SqlPerf},       {"OPENTRAN", OpenTran},
    {"INPUTBUFFER", InputBuffer}, {"CHECKIDENT", CheckIdent},
};

}  // namespace

bool RunDbccCommand(Executor& executor, const tsql::DbccStatement& s) {
  for (const DbccEntry& entry : kCommands) {
    if (s.command == entry.command) {
      entry.run(executor, s);
      return true;
    }
  }
  return false;
}

}  // namespace sandbox
