// The server as a whole: version, configuration, sessions, drives and folders.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"
#include "sandbox/security.h"
#include "sandbox/server_info.h"
#include "sandbox/session.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

namespace fs = std::filesystem;
using common::Value;

namespace {

SqlType NChar(int n) { return SqlType{TypeKind::kNChar, n}; }
SqlType Char(int n) { return SqlType{TypeKind::kChar, n}; }

// nchar columns arrive padded with blanks, as from a SQL Server.
std::string Padded(std::string text, size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

// Extended procedures take their arguments by position only.
std::vector<std::string> PositionalTexts(const std::vector<ProcedureArgument>& arguments,
                                         std::string_view procedure) {
  std::vector<std::string> texts;
  for (const ProcedureArgument& a : arguments) {
    if (!a.name.empty()) throw errors::NotAParameter(a.name, procedure);
    texts.push_back(a.is_default || a.value.IsNull() ? std::string() : a.value.ToText());
  }
  return texts;
}

// --- sp_who ------------------------------------------------------------------------------

struct WhoRow {
  int spid = 0;
  std::string status;
  std::string login;
  std::string host;
  std::optional<std::string> database;
  std::string command;
  std::string program;
};

// The server's processes and every session, as the @loginame argument of sp_who and sp_who2
// picks them: a login, a process id or 'active'.
std::vector<WhoRow> WhoRows(Executor& executor, const SystemArguments& args) {
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  std::vector<WhoRow> rows;
  // The server's own processes, as a SQL Server 2000 lists them.
  const char* kSystem[] = {"LAZY WRITER",      "LOG WRITER",   "LOCK MONITOR",
                           "SIGNAL HANDLER",   "TASK MANAGER", "TASK MANAGER",
                           "CHECKPOINT SLEEP", "TASK MANAGER", "TASK MANAGER"};
  for (int i = 0; i < 9; ++i)
    rows.push_back({i + 1, i < 2 ? "background" : "sleeping", "sa", "",
                    i == 6 ? std::optional<std::string>("master") : std::nullopt, kSystem[i], ""});
  // Sessions of every process that has the instance open.
  for (const SessionEntry& s : instance.Sessions()) {
    WhoRow row;
    row.spid = s.spid;
    bool me = s.spid == session.spid();
    row.status = me ? "runnable" : "sleeping";
    row.login = s.login;
    row.host = s.host;
    row.program = s.program;
    if (!s.database.empty()) row.database = s.database;
    // The caller runs sp_who from the database it is in, not from master..sp_who's.
    if (me && executor.CallerDatabase() != 0)
      if (auto record = instance.FindDatabase(executor.CallerDatabase()))
        row.database = record->name;
    row.command = me ? "SELECT" : "AWAITING COMMAND";
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end(),
            [](const WhoRow& a, const WhoRow& b) { return a.spid < b.spid; });
  if (!args.Given("@loginame")) return rows;
  std::string filter = args.Text("@loginame");
  Value given = args.Get("@loginame");
  bool numeric = given.type() == Value::Type::kInt ||
                 (!filter.empty() && std::all_of(filter.begin(), filter.end(),
                                                 [](char c) { return c >= '0' && c <= '9'; }));
  std::vector<WhoRow> kept;
  if (numeric) {
    long long spid = filter.size() > 6 ? -1 : std::stoll(filter);
    for (WhoRow& row : rows)
      if (row.spid == spid) kept.push_back(std::move(row));
  } else if (EqualsNoCase(filter, "active")) {
    for (WhoRow& row : rows)
      if (row.status != "sleeping" || row.command != "AWAITING COMMAND")
        kept.push_back(std::move(row));
  } else {
    bool known = instance.FindLogin(filter).has_value();
    for (WhoRow& row : rows) {
      if (!EqualsNoCase(row.login, filter)) continue;
      known = true;
      kept.push_back(std::move(row));
    }
    if (!known) throw errors::Raise<15007>(filter);
  }
  return kept;
}

// sp_who [@loginame]
std::int64_t Who(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_who", arguments, {"@loginame"});
  std::vector<std::vector<Value>> out;
  const auto blocked = executor.session().instance().Blocked();
  auto blk = [&](int spid) {
    auto it = blocked.find(spid);
    return Value(Padded(std::to_string(it == blocked.end() ? 0 : it->second.by), 5));
  };
  for (const WhoRow& row : WhoRows(executor, args))
    out.push_back({Value(row.spid), Value(0), Value(Padded(row.status, 30)), Value(row.login),
                   Value(Padded(row.host, 128)), blk(row.spid),
                   row.database ? Value(*row.database) : Value(), Value(Padded(row.command, 16))});
  executor.SendRows({Col("spid", SmallInt(), false), Col("ecid", SmallInt(), false),
                     Col("status", NChar(30), false), Col("loginame", SqlType::NVarChar(128)),
                     Col("hostname", NChar(128), false), Col("blk", Char(5)),
                     Col("dbname", SqlType::NVarChar(128)), Col("cmd", NChar(16), false)},
                    out);
  return 0;
}

// sp_who2 [@loginame]: sp_who's processes with the columns administrators read at a glance;
// "  ." stands for nothing, and SPID is repeated at the end for wide listings.
std::int64_t Who2(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_who2", arguments, {"@loginame"});
  const common::DateTime now = common::DateTime::Now();
  char last_batch[32];
  std::snprintf(last_batch, sizeof last_batch, "%02d/%02d %02d:%02d:%02d", now.month, now.day,
                now.hour, now.minute, now.second);
  auto dot = [](const std::string& text) { return text.empty() ? std::string("  .") : text; };
  std::vector<std::vector<Value>> out;
  for (const WhoRow& row : WhoRows(executor, args)) {
    std::string spid = Padded(std::to_string(row.spid), 5);
    out.push_back({Value(spid), Value(row.status), Value(row.login), Value(dot(row.host)),
                   Value("  ."), Value(row.database ? *row.database : std::string("  .")),
                   Value(row.command), Value(0), Value(0), Value(std::string(last_batch)),
                   Value(row.program), Value(spid)});
  }
  executor.SendRows({Col("SPID", Char(5)), Col("Status", SqlType::VarChar(30)),
                     Col("Login", SqlType::NVarChar(128)), Col("HostName", SqlType::NVarChar(128)),
                     Col("BlkBy", Char(5)), Col("DBName", SqlType::NVarChar(128)),
                     Col("Command", SqlType::VarChar(16)), Col("CPUTime", SqlType::Int()),
                     Col("DiskIO", SqlType::Int()), Col("LastBatch", SqlType::VarChar(14)),
                     Col("ProgramName", SqlType::NVarChar(128)), Col("SPID", Char(5))},
                    out);
  return 0;
}

// sp_lock [@spid1 [, @spid2]]: the locks sessions hold; every session in a database holds a
// shared lock on it.
std::int64_t Lock(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_lock", arguments, {"@spid1", "@spid2"});
  std::vector<long long> wanted;
  for (const char* p : {"@spid1", "@spid2"})
    if (args.Given(p) && !args.Get(p).IsNull()) {
      auto spid = args.Get(p).ToInt();
      if (!spid) throw errors::ConversionFailed(args.Text(p), "int");
      wanted.push_back(*spid);
    }
  std::vector<SessionEntry> sessions = executor.session().instance().Sessions();
  std::sort(sessions.begin(), sessions.end(),
            [](const SessionEntry& a, const SessionEntry& b) { return a.spid < b.spid; });
  std::vector<std::vector<Value>> out;
  for (const SessionEntry& s : sessions) {
    if (s.dbid == 0) continue;
    if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), s.spid) == wanted.end())
      continue;
    out.push_back({Value(s.spid), Value(s.dbid), Value(0), Value(0), Value(Padded("DB", 4)),
                   Value(Padded("", 16)), Value("S"), Value("GRANT")});
  }
  executor.SendRows(
      {Col("spid", SmallInt(), false), Col("dbid", SmallInt(), false),
       Col("ObjId", SqlType::Int(), false), Col("IndId", SmallInt(), false),
       Col("Type", NChar(4), false), Col("Resource", NChar(16), false),
       Col("Mode", SqlType::NVarChar(8), false), Col("Status", SqlType::NVarChar(5), false)},
      out);
  return 0;
}

// --- xp_msver and xp_loginconfig ---------------------------------------------------------

std::int64_t MsVer(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  std::vector<std::string> wanted = PositionalTexts(arguments, "xp_msver");
  std::vector<std::vector<Value>> rows;
  for (const MsVerRow& row : MsVerRows(executor.session().instance().config())) {
    bool keep = wanted.empty();
    for (const std::string& name : wanted) keep = keep || EqualsNoCase(name, row.name);
    if (!keep) continue;
    rows.push_back(
        {Value(row.index), Value(row.name),
         row.internal_value ? Value(static_cast<long long>(*row.internal_value)) : Value(),
         row.character_value ? Value(*row.character_value) : Value()});
  }
  executor.SendRows(
      {Col("Index", SmallInt()), Col("Name", SqlType::NVarChar(128)),
       Col("Internal_Value", SqlType::Int()), Col("Character_Value", SqlType::NVarChar(255))},
      rows);
  return 0;
}

std::int64_t LoginConfig(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  std::vector<std::string> wanted = PositionalTexts(arguments, "xp_loginconfig");
  if (wanted.size() > 1) throw errors::TooManyArguments("xp_loginconfig");
  InstanceConfig config = executor.session().instance().config();
  std::vector<std::pair<std::string, Value>> settings = {
      {"login mode", Value(LoginModeName(config.login_mode))},
      {"default login", Value("guest")},
      {"default domain", Value(config.machine_name)},
      {"audit level", Value("none")},
      {"set hostname", Value("false")},
      {"map _", Value("domain separator")},
      {"map $", Value()},
      {"map #", Value("-")},
  };
  std::vector<std::vector<Value>> rows;
  for (const auto& [name, value] : settings)
    if (wanted.empty() || EqualsNoCase(wanted[0], name)) rows.push_back({Value(name), value});
  if (rows.empty()) throw errors::Raise<50000>(wanted[0]);
  executor.SendRows(
      {Col("name", SqlType::NVarChar(128)), Col("config_value", SqlType::NVarChar(128))}, rows);
  return 0;
}

// --- drives and folders ------------------------------------------------------------------

std::int64_t FixedDrives(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  PositionalTexts(arguments, "xp_fixeddrives");
  const Machine& machine = executor.session().instance().machine();
  std::vector<std::vector<Value>> rows;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    fs::path folder = machine.DriveFolder(letter);
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec))) continue;
    fs::space_info space = fs::space(folder, ec);
    std::int64_t megabytes =
        ec ? 0
           : static_cast<std::int64_t>(std::min<std::uintmax_t>(
                 space.available / (1024 * 1024), std::numeric_limits<std::int32_t>::max()));
    rows.push_back({Value(std::string(1, letter)), Value(static_cast<long long>(megabytes))});
  }
  executor.SendRows({Col("drive", Char(1)), Col("MB free", SqlType::Int())}, rows);
  return 0;
}

struct DirEntry {
  std::string name;
  bool folder = false;
};

// A folder's entries sorted as NTFS lists them; links are not followed, so nothing outside
// the drives is ever read.
std::vector<DirEntry> ListFolder(const fs::path& folder) {
  std::vector<DirEntry> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code status_ec;
    fs::file_status status = it->symlink_status(status_ec);
    if (status_ec) continue;
    if (fs::is_directory(status))
      entries.push_back({it->path().filename().string(), true});
    else if (fs::is_regular_file(status))
      entries.push_back({it->path().filename().string(), false});
  }
  // The storage engine's companions of a database file ("x.mdf-wal", "x.mdf-shm",
  // "x.mdf-journal") are no files a server machine would show beside its databases.
  std::set<std::string> files;
  for (const DirEntry& entry : entries) {
    if (!entry.folder) files.insert(entry.name);
  }
  std::erase_if(entries, [&](const DirEntry& entry) {
    if (entry.folder) return false;
    for (std::string_view suffix : {"-wal", "-shm", "-journal"}) {
      if (entry.name.size() > suffix.size() && entry.name.ends_with(suffix) &&
          files.count(entry.name.substr(0, entry.name.size() - suffix.size()))) {
        return true;
      }
    }
    return false;
  });
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return Lower(a.name) < Lower(b.name); });
  return entries;
}

constexpr int kMaxTreeDepth = 64;
constexpr size_t kMaxTreeRows = 100000;

void Walk(const fs::path& folder, int level, int depth, bool files,
          std::vector<std::vector<Value>>& rows) {
  if (level > kMaxTreeDepth) return;
  for (const DirEntry& entry : ListFolder(folder)) {
    if (rows.size() >= kMaxTreeRows) return;
    if (!entry.folder && !files) continue;
    if (files)
      rows.push_back({Value(entry.name), Value(level), Value(entry.folder ? 0 : 1)});
    else
      rows.push_back({Value(entry.name), Value(level)});
    if (entry.folder && (depth == 0 || level < depth))
      Walk(folder / entry.name, level + 1, depth, files, rows);
  }
}

// xp_dirtree 'path' [, depth [, files]]: depth 0 lists every level.
std::int64_t DirTree(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  std::vector<std::string> texts = PositionalTexts(arguments, "xp_dirtree");
  if (texts.size() > 3) throw errors::TooManyArguments("xp_dirtree");
  auto number = [&](size_t i) -> int {
    if (i >= texts.size() || texts[i].empty()) return 0;
    const std::string& t = texts[i];
    bool digits = t.size() <= 6 && std::all_of(t.begin(), t.end(), [](char c) {
                    return (c >= '0' && c <= '9') || c == '-';
                  });
    if (!digits) throw errors::Raise<22001>(t);
    return std::max(0, std::atoi(t.c_str()));
  };
  int depth = number(1);
  bool files = number(2) != 0;
  std::vector<std::vector<Value>> rows;
  if (!texts.empty()) {
    auto host = executor.session().instance().machine().ToHost(texts[0]);
    std::error_code ec;
    if (host && fs::is_directory(fs::symlink_status(*host, ec))) Walk(*host, 1, depth, files, rows);
  }
  std::vector<OutputColumn> columns = {Col("subdirectory", SqlType::NVarChar(512)),
                                       Col("depth", SqlType::Int())};
  if (files) columns.push_back(Col("file", SqlType::Int()));
  executor.SendRows(columns, rows);
  return 0;
}

}  // namespace

void AddServerProcedures(SystemProcedureTable& table) {
  table.emplace("sp_who", Who);
  table.emplace("sp_who2", Who2);
  table.emplace("sp_lock", Lock);
  table.emplace("xp_msver", MsVer);
  table.emplace("xp_loginconfig", LoginConfig);
  table.emplace("xp_fixeddrives", FixedDrives);
  table.emplace("xp_dirtree", DirTree);
}

}  // namespace sandbox
