#include "sandbox/databases.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "sandbox/backup.h"
#include "sandbox/collation.h"
#include "sandbox/executor.h"
#include "sandbox/functions.h"
#include "sandbox/messages.h"
#include "sandbox/security.h"
#include "sandbox/session.h"
#include "sandbox/versions.h"

namespace sandbox {

namespace fs = std::filesystem;
namespace ct = catalog_tables;
using common::Value;

const std::vector<DatabaseOptionEntry>& DatabaseOptionTable() {
  using namespace dbstatus;
  using namespace dbstatus2;
  // sp_dboption's list, in its order; "alter" is the ALTER DATABASE ... SET word.
  static const std::vector<DatabaseOptionEntry> entries = {
      {"ANSI null default", "ANSI_NULL_DEFAULT", true, kAnsiNullDefault},
      {"ANSI nulls", "ANSI_NULLS", true, kAnsiNulls},
      {"ANSI padding", "ANSI_PADDING", true, kAnsiPadding},
      {"ANSI warnings", "ANSI_WARNINGS", true, kAnsiWarnings},
      {"arithabort", "ARITHABORT", true, kArithAbort},
      {"auto create statistics", "AUTO_CREATE_STATISTICS", true, kAutoCreateStatistics},
      {"auto update statistics", "AUTO_UPDATE_STATISTICS", true, kAutoUpdateStatistics},
      {"autoclose", "AUTO_CLOSE", false, kAutoClose},
      {"autoshrink", "AUTO_SHRINK", false, kAutoShrink},
      {"concat null yields null", "CONCAT_NULL_YIELDS_NULL", true, kConcatNullYieldsNull},
      {"cursor close on commit", "CURSOR_CLOSE_ON_COMMIT", true, kCursorCloseOnCommit},
      {"db chaining", "DB_CHAINING", true, kDbChaining},
      {"dbo use only", "RESTRICTED_USER", false, kDboOnly},
      {"default to local cursor", "CURSOR_DEFAULT", true, kLocalCursor},
      {"numeric roundabort", "NUMERIC_ROUNDABORT", true, kNumericRoundAbort},
      {"offline", "OFFLINE", false, kOffline},
      {"quoted identifier", "QUOTED_IDENTIFIER", true, kQuotedIdentifier},
      {"read only", "READ_ONLY", false, kReadOnly},
      {"recursive triggers", "RECURSIVE_TRIGGERS", true, kRecursiveTriggers},
      {"select into/bulkcopy", "BULK_LOGGED", false, kSelectInto},
      {"single user", "SINGLE_USER", false, kSingleUser},
      {"torn page detection", "TORN_PAGE_DETECTION", false, kTornPage},
      {"trunc. log on chkpt.", "SIMPLE", false, kTruncLog},
  };
  return entries;
}

// --- files -------------------------------------------------------------------------------

std::optional<std::int64_t> ParseFileSize(std::string_view text) {
  std::string upper;
  for (char c : text)
    if (c != ' ' && c != '\t')
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.empty()) return std::nullopt;
  char* end = nullptr;
  double number = std::strtod(upper.c_str(), &end);
  if (end == upper.c_str() || number < 0 || !std::isfinite(number)) return std::nullopt;
  std::string unit(end);
  double factor = 1024.0 * 1024.0;
  if (unit == "KB")
    factor = 1024.0;
  else if (unit == "GB")
    factor = 1024.0 * 1024.0 * 1024.0;
  else if (unit == "TB")
    factor = 1024.0 * 1024.0 * 1024.0 * 1024.0;
  else if (!unit.empty() && unit != "MB")
    return std::nullopt;
  double bytes = number * factor;
  if (bytes > 9.0e15) return std::nullopt;
  return static_cast<std::int64_t>(bytes);
}

namespace {

std::int64_t PagesOfFile(const std::optional<fs::path>& host) {
  if (!host) return 0;
  std::error_code ec;
  auto size = fs::file_size(*host, ec);
  if (ec) return 0;
  return static_cast<std::int64_t>((size + kPageBytes - 1) / kPageBytes);
}

void SendDoneOf(Executor& executor, std::int64_t count) {
  executor.sink().Done(executor.session().options().nocount ? -1 : count);
}

}  // namespace

namespace {

// The copy master keeps, or for a database registered without one, its own catalogue.
std::optional<DatabaseFilesCopy> FilesCopyOf(const InstanceImpl& instance,
                                             const DatabaseRecord& record) {
  if (auto copy = instance.FilesCopy(record.dbid)) return copy;
  try {
    Connection db(record.data_host.string(), false);
    RegisterFunctions(db.get(), nullptr);
    sqlite3_busy_timeout(db.get(), 2000);
    return ReadFilesCopy(db, "main.\"sandbox$files\"", "main.\"sandbox$settings\"");
  } catch (const SqliteError&) {
    return std::nullopt;
  }
}

}  // namespace

std::vector<DatabaseFileState> ReadDatabaseFiles(const InstanceImpl& instance,
                                                 const DatabaseRecord& record) {
  std::vector<DatabaseFileState> files;
  std::optional<DatabaseFilesCopy> copy = FilesCopyOf(instance, record);
  if (!copy) return files;
  for (const DatabaseFileInfo& info : copy->files) {
    DatabaseFileState f;
    f.fileid = info.fileid;
    f.name = info.name;
    f.filename = info.filename;
    f.log = info.log;
    std::int64_t declared = info.size_kb / 8;
    // The sizes on disk are the file system's, whoever wrote the files last.
    auto host = instance.machine().ToHost(f.filename);
    if (f.log) {
      std::error_code ec;
      f.size_pages = host && fs::exists(*host, ec) ? PagesOfFile(host) : declared;
    } else {
      // A data file is made as large as it was declared; SQLite fills it from the front.
      f.size_pages = std::max(PagesOfFile(host), declared);
    }
    f.size_pages = std::max<std::int64_t>(f.size_pages, 1);
    if (auto bytes = ParseFileSize(info.max_size); bytes && Upper(info.max_size) != "UNLIMITED")
      f.max_pages = *bytes / kPageBytes;
    const std::string& growth = info.growth;
    if (!growth.empty() && growth.back() == '%') {
      f.growth_percent = true;
      f.growth = std::atoll(growth.c_str());
    } else if (auto bytes = ParseFileSize(growth)) {
      f.growth_percent = false;
      f.growth = *bytes / kPageBytes;
    }
    files.push_back(std::move(f));
  }
  return files;
}

void FilesChanged(SessionImpl& session, int dbid) {
  InstanceImpl& instance = session.instance();
  if (session.trancount() > 0) {
    instance.ForgetFilesCopy(dbid);
    return;
  }
  AttachedDatabase& db = session.Database(dbid);
  instance.SetFilesCopy(dbid, ReadFilesCopy(session.connection(), db.catalog->Table(ct::kFiles),
                                            db.catalog->Table(ct::kSettings)));
}

std::string FilesTableSql(const InstanceImpl& instance,
                          const std::vector<DatabaseRecord>& databases, bool with_dbid) {
  // The first row only names the columns, so that a list without files still has them.
  std::string sql =
      "SELECT NULL AS fileid, NULL AS groupid, NULL AS size, NULL AS maxsize, NULL AS growth, "
      "NULL AS status, NULL AS perf, ";
  if (with_dbid) sql += "NULL AS dbid, ";
  sql += "NULL AS name, NULL AS filename";
  if (with_dbid) sql += ", NULL AS createlsn, NULL AS droplsn";
  sql += " WHERE 0";
  for (const DatabaseRecord& record : databases) {
    for (const DatabaseFileState& f : ReadDatabaseFiles(instance, record)) {
      // 2: a disk file; 64: a log file; 1048576: growth in per cent.
      std::int64_t status = 2 | (f.log ? 64 : 0) | (f.growth_percent ? 1048576 : 0);
      sql += " UNION ALL SELECT " + std::to_string(f.fileid) + ", " + (f.log ? "0" : "1") + ", " +
             std::to_string(f.size_pages) + ", " + std::to_string(f.max_pages) + ", " +
             std::to_string(f.growth) + ", " + std::to_string(status) + ", 0, ";
      if (with_dbid) sql += std::to_string(record.dbid) + ", ";
      sql += QuoteLiteral(f.name) + ", " + QuoteLiteral(f.filename);
      if (with_dbid) sql += ", NULL, NULL";
    }
  }
  return sql;
}

std::string CheckedCollation(std::string_view name) {
  std::string upper = Upper(name);
  bool word =
      !upper.empty() && upper.size() <= 128 && std::all_of(upper.begin(), upper.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
      });
  static constexpr std::string_view kEndings[] = {"_BIN", "_BIN2", "_AI", "_AS", "_KS", "_WS"};
  bool ending = false;
  for (std::string_view e : kEndings)
    ending = ending || (upper.size() > e.size() && upper.ends_with(e));
  if (!word || !ending) throw errors::Raise<448>(name);
  return std::string(name);
}

// --- who may enter -------------------------------------------------------------------------

std::optional<SqlError> CheckDatabaseEntry(InstanceImpl& instance, const DatabaseRecord& record,
                                           int spid) {
  if (record.status & dbstatus::kOffline) return errors::Raise<942>(record.name);
  if ((record.status & dbstatus::kSingleUser) && instance.DatabaseInUse(record.dbid, spid))
    return errors::Raise<924>(record.name);
  return std::nullopt;
}

void CheckWritable(InstanceImpl& instance, int dbid, std::string_view action) {
  static constexpr std::string_view kReads[] = {"SELECT", "EXECUTE"};
  for (std::string_view read : kReads)
    if (action == read) return;
  auto record = instance.FindDatabase(dbid);
  if (!record || !(record->status & dbstatus::kReadOnly)) return;
  throw errors::Raise<3906>(record->name);
}

bool MayAlterDatabase(SessionImpl& session, const DatabaseRecord& record) {
  if (session.IsSysadmin() || (session.login().server_roles & kDbcreator)) return true;
  return !record.owner_sid.empty() && record.owner_sid == session.login().sid;
}

// --- options -------------------------------------------------------------------------------

namespace {

// Ends the other sessions in the database, or refuses as SQL Server does without a
// termination clause (it would wait; the sandbox says why at once).
void GainExclusiveUse(Executor& executor, const DatabaseRecord& record,
                      std::string_view termination) {
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  if (!instance.DatabaseInUse(record.dbid, session.spid())) return;
  if (Upper(termination).rfind("ROLLBACK", 0) != 0) {
    Inform(executor, errors::Raise<5070>(record.name));
    throw errors::Raise<5069>();
  }
  for (const SessionEntry& other : instance.Sessions())
    if (other.spid != session.spid() && other.dbid == record.dbid) instance.DropSession(other.spid);
  Inform(executor, errors::Raise<5060>());
}

}  // namespace

void SetDatabaseOptions(Executor& executor, const DatabaseRecord& record,
                        const std::vector<tsql::DatabaseOption>& options,
                        std::string_view termination) {
  using namespace dbstatus;
  std::uint32_t status = record.status;
  std::uint32_t status2 = record.status2;
  for (const tsql::DatabaseOption& option : options) {
    std::string name = Upper(option.name);
    std::string value = Upper(option.value);
    auto set = [&](std::uint32_t& word, std::uint32_t bit, bool on) {
      word = on ? (word | bit) : (word & ~bit);
    };
    if (name == "SINGLE_USER" || name == "RESTRICTED_USER" || name == "MULTI_USER") {
      status &= ~(kSingleUser | kDboOnly);
      if (name == "SINGLE_USER") status |= kSingleUser;
      if (name == "RESTRICTED_USER") status |= kDboOnly;
    } else if (name == "READ_ONLY" || name == "READ_WRITE") {
      set(status, kReadOnly, name == "READ_ONLY");
    } else if (name == "OFFLINE" || name == "ONLINE") {
      set(status, kOffline, name == "OFFLINE");
    } else if (name == "RECOVERY") {
      if (value != "FULL" && value != "SIMPLE" && value != "BULK_LOGGED")
        throw errors::Raise<170>(1, option.value);
      set(status, kTruncLog, value == "SIMPLE");
      set(status, kSelectInto, value == "BULK_LOGGED");
    } else if (name == "CURSOR_DEFAULT") {
      if (value != "LOCAL" && value != "GLOBAL") throw errors::Raise<170>(1, option.value);
      set(status2, dbstatus2::kLocalCursor, value == "LOCAL");
    } else {
      const DatabaseOptionEntry* entry = nullptr;
      for (const DatabaseOptionEntry& s : DatabaseOptionTable())
        if (name == s.alter && name != "SIMPLE" && name != "BULK_LOGGED" && name != "OFFLINE" &&
            name != "READ_ONLY" && name != "SINGLE_USER" && name != "RESTRICTED_USER")
          entry = &s;
      if (!entry || (!value.empty() && value != "ON" && value != "OFF"))
        throw errors::Raise<170>(1, option.value.empty() ? option.name : option.value);
      set(entry->second_word ? status2 : status, entry->bit, value != "OFF");
    }
  }
  ApplyDatabaseStatus(executor, record, status, status2, termination);
}

void ApplyDatabaseStatus(Executor& executor, const DatabaseRecord& record, std::uint32_t status,
                         std::uint32_t status2, std::string_view termination) {
  using namespace dbstatus;
  SessionImpl& session = executor.session();
  if (!MayAlterDatabase(session, record)) throw errors::Raise<5011>(record.name);
  // master's catalogue is written at once; a rollback could not take it back.
  if (session.trancount() > 0) throw errors::Raise<226>("ALTER DATABASE");
  std::uint32_t changed_states = (status ^ record.status) & (kExclusiveStates | kDboOnly);
  if (changed_states) {
    if (record.dbid <= 4) throw errors::Raise<5058>(record.name);
    GainExclusiveUse(executor, record, termination);
  }
  session.instance().SetDatabaseStatus(record.dbid, status, status2);
}

void RenameDatabaseChecked(Executor& executor, const DatabaseRecord& record,
                           std::string_view new_name) {
  SessionImpl& session = executor.session();
  if (session.trancount() > 0) throw errors::Raise<226>("ALTER DATABASE");
  if (new_name.empty()) throw errors::Raise<1038>();
  CheckIdentifier(new_name);
  InstanceImpl& instance = session.instance();
  instance.RenameDatabase(record.dbid, new_name, session.spid());
  // The file keeps its own name too, so an attach elsewhere knows it.
  try {
    Connection db(record.data_host.string(), false);
    RegisterFunctions(db.get(), nullptr);
    sqlite3_busy_timeout(db.get(), 2000);
    CachedStatement write(db, "UPDATE main.\"sandbox$settings\" SET value = ? WHERE name = 'name'");
    write.Bind(1, Value(new_name));
    write.Step();
  } catch (const SqliteError&) {
    // The server catalogue has the new name; the file's copy is only a hint for attaching.
  }
  session.ForgetDatabase(record.dbid);
}

// --- properties ----------------------------------------------------------------------------

namespace {

int SortOrderOf(std::string_view collation) {
  std::string c = Upper(collation);
  if (c == "SQL_LATIN1_GENERAL_CP1_CI_AS") return 52;
  if (c == "SQL_LATIN1_GENERAL_CP1_CS_AS") return 51;
  if (c == "SQL_LATIN1_GENERAL_CP1_CI_AI") return 54;
  if (c == "SQL_LATIN1_GENERAL_CP850_BIN" || c == "SQL_LATIN1_GENERAL_CP437_BIN") return 40;
  return 0;
}

std::string CollationOf(InstanceImpl& instance, const DatabaseRecord& record) {
  auto copy = FilesCopyOf(instance, record);
  return copy && !copy->collation.empty() ? copy->collation : instance.config().collation;
}

std::string UserAccessOf(const DatabaseRecord& record) {
  if (record.status & dbstatus::kSingleUser) return "SINGLE_USER";
  if (record.status & dbstatus::kDboOnly) return "RESTRICTED_USER";
  return "MULTI_USER";
}

std::string RecoveryOf(const DatabaseRecord& record) {
  if (record.status & dbstatus::kTruncLog) return "SIMPLE";
  if (record.status & dbstatus::kSelectInto) return "BULK_LOGGED";
  return "FULL";
}

}  // namespace

Value DatabaseProperty(SessionImpl& session, std::string_view database,
                       std::string_view property_name, bool ex) {
  using namespace dbstatus;
  using namespace dbstatus2;
  InstanceImpl& instance = session.instance();
  auto record = instance.FindDatabase(database);
  if (!record) return Value();
  std::string p = Lower(property_name);
  auto bit = [](std::uint32_t word, std::uint32_t b) { return Value((word & b) ? 1 : 0); };
  const std::uint32_t s = record->status, s2 = record->status2;
  if (p == "version") return Value(539);
  if (p == "isautoclose") return bit(s, kAutoClose);
  if (p == "isautoshrink") return bit(s, kAutoShrink);
  if (p == "istornpagedetectionenabled") return bit(s, kTornPage);
  if (p == "isautocreatestatistics") return bit(s2, kAutoCreateStatistics);
  if (p == "isautoupdatestatistics") return bit(s2, kAutoUpdateStatistics);
  if (p == "isfulltextenabled") return bit(s2, kFullTextEnabled);
  if (p == "isansinulldefault") return bit(s2, kAnsiNullDefault);
  if (p == "isansinullsenabled") return bit(s2, kAnsiNulls);
  if (p == "isansipaddingenabled") return bit(s2, kAnsiPadding);
  if (p == "isansiwarningsenabled") return bit(s2, kAnsiWarnings);
  if (p == "isarithmeticabortenabled") return bit(s2, kArithAbort);
  if (p == "isclosecursorsoncommitenabled") return bit(s2, kCursorCloseOnCommit);
  if (p == "islocalcursorsdefault") return bit(s2, kLocalCursor);
  if (p == "isnullconcat") return bit(s2, kConcatNullYieldsNull);
  if (p == "isnumericroundabortenabled") return bit(s2, kNumericRoundAbort);
  if (p == "isquotedidentifiersenabled") return bit(s2, kQuotedIdentifier);
  if (p == "isrecursivetriggersenabled") return bit(s2, kRecursiveTriggers);
  if (p == "isinstandby" || p == "ispublished" || p == "issubscribed" || p == "ismergepublished" ||
      p == "issyncwithbackup")
    return Value(0);
  if (ex) {
    if (p == "collation") return Value(CollationOf(instance, *record));
    if (p == "status") return Value((s & kOffline) ? "OFFLINE" : "ONLINE");
    if (p == "updateability") return Value((s & kReadOnly) ? "READ_ONLY" : "READ_WRITE");
    if (p == "useraccess") return Value(UserAccessOf(*record));
    if (p == "recovery") return Value(RecoveryOf(*record));
    if (p == "sqlsortorder") return Value(SortOrderOf(CollationOf(instance, *record)));
    if (p == "lcid") return Value(1033);
    if (p == "comparisonstyle") return Value(196609);
    return Value();
  }
  if (p == "isbulkcopy") return bit(s, kSelectInto);
  if (p == "istrunclog") return bit(s, kTruncLog);
  if (p == "isdboonly") return bit(s, kDboOnly);
  if (p == "isoffline") return bit(s, kOffline);
  if (p == "isreadonly") return bit(s, kReadOnly);
  if (p == "issingleuser") return bit(s, kSingleUser);
  if (p == "isinload" || p == "isinrecovery" || p == "isnotrecovered" || p == "issuspect" ||
      p == "isemergencymode" || p == "isshutdown")
    return Value(0);
  return Value();
}

std::string DatabaseStatusText(const DatabaseRecord& record, std::string_view collation,
                               bool version7) {
  using namespace dbstatus;
  using namespace dbstatus2;
  std::string text;
  auto add = [&](std::string_view part) {
    if (!text.empty()) text += ", ";
    text += part;
  };
  if (version7) {
    // SQL Server 7.0 names the options that are on, the way sp_dboption does.
    for (const DatabaseOptionEntry& entry : DatabaseOptionTable())
      if (((entry.second_word ? record.status2 : record.status) & entry.bit) &&
          std::string_view(entry.dboption) != "auto create statistics" &&
          std::string_view(entry.dboption) != "auto update statistics")
        add(entry.dboption);
    return text.empty() ? "no options set" : text;
  }
  add(std::string("Status=") + ((record.status & kOffline) ? "OFFLINE" : "ONLINE"));
  add(std::string("Updateability=") + ((record.status & kReadOnly) ? "READ_ONLY" : "READ_WRITE"));
  add("UserAccess=" + UserAccessOf(record));
  add("Recovery=" + RecoveryOf(record));
  add("Version=539");
  add("Collation=" + std::string(collation));
  add("SQLSortOrder=" + std::to_string(SortOrderOf(collation)));
  if (record.status & kAutoClose) add("IsAutoClose");
  if (record.status & kAutoShrink) add("IsAutoShrink");
  if (record.status & kTornPage) add("IsTornPageDetectionEnabled");
  if (record.status2 & kAnsiNullDefault) add("IsAnsiNullDefault");
  if (record.status2 & kAnsiNulls) add("IsAnsiNullsEnabled");
  if (record.status2 & kAnsiPadding) add("IsAnsiPaddingEnabled");
  if (record.status2 & kAnsiWarnings) add("IsAnsiWarningsEnabled");
  if (record.status2 & kArithAbort) add("IsArithmeticAbortEnabled");
  if (record.status2 & kAutoCreateStatistics) add("IsAutoCreateStatistics");
  if (record.status2 & kAutoUpdateStatistics) add("IsAutoUpdateStatistics");
  if (record.status2 & kCursorCloseOnCommit) add("IsCloseCursorsOnCommitEnabled");
  if (record.status2 & kFullTextEnabled) add("IsFulltextEnabled");
  if (record.status2 & kLocalCursor) add("IsLocalCursorsDefault");
  if (record.status2 & kConcatNullYieldsNull) add("IsNullConcat");
  if (record.status2 & kNumericRoundAbort) add("IsNumericRoundAbortEnabled");
  if (record.status2 & kQuotedIdentifier) add("IsQuotedIdentifiersEnabled");
  if (record.status2 & kRecursiveTriggers) add("IsRecursiveTriggersEnabled");
  return text;
}

// --- BACKUP LOG and DBCC SHRINKFILE --------------------------------------------------------

bool IsDatabaseOwner(SessionImpl& session, const DatabaseRecord& record) {
  if (session.IsSysadmin()) return true;
  if (!record.owner_sid.empty() && record.owner_sid == session.login().sid) return true;
  AttachedDatabase& db = session.Database(record.dbid);
  const PrincipalInfo* user = db.catalog->FindUserBySid(session.login().sid);
  if (!user) return false;
  if (user->uid == kDboUid) return true;
  CachedStatement member(session.connection(), "SELECT 1 FROM " + db.catalog->Table(ct::kMembers) +
                                                   " WHERE member_uid = ? AND group_uid = ?");
  member.Bind(1, Value(user->uid));
  member.Bind(2, Value(kDbOwnerUid));
  return member.Step();
}

void ResizeDatabaseFile(Executor& executor, int dbid, const tsql::DatabaseFile& file) {
  if (file.size.empty()) return;
  InstanceImpl& instance = executor.session().instance();
  auto record = instance.FindDatabase(dbid);
  auto bytes = ParseFileSize(file.size);
  if (!record || !bytes) return;
  std::int64_t pages = *bytes / kPageBytes;
  for (const DatabaseFileState& f : ReadDatabaseFiles(instance, *record)) {
    if (!EqualsNoCase(f.name, file.name)) continue;
    if (pages < f.size_pages) throw errors::Raise<5039>();
    if (f.log) instance.GrowLog(dbid, pages);
  }
}

void RunBackup(Executor& executor, const tsql::BackupStatement& s) {
  RefuseRemovedBackupOptions(executor.session().instance().config(), s);
  bool truncate_only = false;
  for (const auto& option : s.options)
    if (option.name == "TRUNCATE_ONLY" || option.name == "NO_LOG") truncate_only = true;
  if (!truncate_only && !s.devices.empty()) return RunBackupToDevice(executor, s);
  if (!s.log) throw errors::Unsupported("BACKUP DATABASE");
  if (!truncate_only || !s.devices.empty())
    throw errors::Unsupported("BACKUP LOG to a backup device (use WITH TRUNCATE_ONLY)");
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  auto record = instance.FindDatabase(s.database);
  if (!record) throw errors::UnknownDatabase(s.database);
  if (session.trancount() > 0) throw errors::Raise<3021>();
  if (!IsDatabaseOwner(session, *record)) throw errors::Raise<262>("BACKUP LOG", record->name);
  instance.TruncateLog(record->dbid);
  SendDoneOf(executor, -1);
}

namespace {

SqlError BadDbccParameter(int number) { return errors::Raise<2560>(number); }

// A DBCC argument: a bare or bracketed name, a string or a whole number.
Value DbccArgument(const tsql::Expr& expr, int number) {
  if (expr.kind == tsql::Expr::Kind::kColumn) {
    const auto& column = expr.As<tsql::ColumnRef>();
    if (!column.table.empty()) throw BadDbccParameter(number);
    return Value(column.column);
  }
  if (expr.kind == tsql::Expr::Kind::kLiteral) {
    const auto& literal = expr.As<tsql::Literal>();
    switch (literal.type) {
      case tsql::Literal::Type::kInteger:
        return Value(static_cast<long long>(literal.int_value));
      case tsql::Literal::Type::kString:
      case tsql::Literal::Type::kUnicodeString:
        return Value(literal.text);
      case tsql::Literal::Type::kNull:
      case tsql::Literal::Type::kDecimal:
      case tsql::Literal::Type::kFloat:
      case tsql::Literal::Type::kMoney:
      case tsql::Literal::Type::kBinary:
        break;
    }
  }
  throw BadDbccParameter(number);
}

}  // namespace

void RunDbcc(Executor& executor, const tsql::DbccStatement& s) {
  if (s.command != "SHRINKFILE" && RunDbccCommand(executor, s)) return;
  if (s.command != "SHRINKFILE") throw errors::Unsupported("DBCC " + s.command);
  if (s.args.empty() || s.args.size() > 3) throw BadDbccParameter(s.args.empty() ? 1 : 4);
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  auto record = instance.FindDatabase(session.current_dbid());
  if (!record) throw errors::UnknownDatabase(std::to_string(session.current_dbid()));
  if (!IsDatabaseOwner(session, *record))
    throw errors::Raise<2571>(session.UserName(executor.Db()), "SHRINKFILE");
  Value which = DbccArgument(*s.args[0], 1);
  std::optional<std::int64_t> target_mb;
  bool truncate_only = false;
  for (size_t i = 1; i < s.args.size(); ++i) {
    Value v = DbccArgument(*s.args[i], static_cast<int>(i + 1));
    if (v.type() == Value::Type::kInt && i == 1) {
      if (*v.ToInt() < 0 || *v.ToInt() > 1024LL * 1024 * 1024) throw BadDbccParameter(2);
      target_mb = *v.ToInt();
    } else if (v.type() == Value::Type::kText &&
               (Upper(*v.AsText()) == "TRUNCATEONLY" || Upper(*v.AsText()) == "NOTRUNCATE" ||
                Upper(*v.AsText()) == "EMPTYFILE")) {
      truncate_only = Upper(*v.AsText()) == "TRUNCATEONLY";
    } else {
      throw BadDbccParameter(static_cast<int>(i + 1));
    }
  }
  std::vector<DatabaseFileState> files = ReadDatabaseFiles(instance, *record);
  const DatabaseFileState* file = nullptr;
  for (const DatabaseFileState& f : files) {
    if (which.type() == Value::Type::kInt ? f.fileid == *which.ToInt()
                                          : EqualsNoCase(f.name, *which.AsText()))
      file = &f;
  }
  if (!file) throw errors::Raise<8985>(which.ToText());
  std::int64_t target_pages = target_mb ? *target_mb * 128 : 0;
  std::int64_t current = 0, minimum = 0, used = 0;
  if (file->log) {
    LogFileState state = truncate_only ? instance.LogState(record->dbid)
                                       : instance.ShrinkLog(record->dbid, target_pages);
    current = state.size_pages;
    minimum = state.minimum_pages;
    used = state.used_pages;
  } else {
    // The data file gives back what it has reserved beyond its pages in use.
    auto host = instance.machine().ToHost(file->filename);
    used = std::max<std::int64_t>(PagesOfFile(host), 1);
    minimum = used;
    current = truncate_only ? file->size_pages : std::max(target_pages, used);
    AttachedDatabase& db = executor.Db();
    CachedStatement update(session.connection(), "UPDATE " + db.catalog->Table(ct::kFiles) +
                                                     " SET size_kb = ? WHERE fileid = ?");
    update.Bind(1, Value(static_cast<long long>(std::min(current, file->size_pages) * 8)));
    update.Bind(2, Value(file->fileid));
    update.Step();
    FilesChanged(session, record->dbid);
    current = std::min(current, file->size_pages);
  }
  std::vector<OutputColumn> columns;
  for (const char* name :
       {"DbId", "FileId", "CurrentSize", "MinimumSize", "UsedPages", "EstimatedPages"}) {
    OutputColumn c;
    c.name = name;
    c.type = std::string_view(name) == "DbId" || std::string_view(name) == "FileId"
                 ? SqlType{TypeKind::kSmallInt}
                 : SqlType::Int();
    columns.push_back(c);
  }
  executor.SendRows(
      columns, {{Value(record->dbid), Value(file->fileid), Value(static_cast<long long>(current)),
                 Value(static_cast<long long>(minimum)), Value(static_cast<long long>(used)),
                 Value(static_cast<long long>(used))}});
  bool quiet = std::find(s.options.begin(), s.options.end(), "NO_INFOMSGS") != s.options.end();
  if (!quiet)
    Inform(executor, errors::Raise<2528>());
}

void RunCheckpoint(Executor& executor) {
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  if (auto record = instance.FindDatabase(session.current_dbid())) {
    if (record->status & dbstatus::kTruncLog) instance.TruncateLog(record->dbid);
    if (record->status & dbstatus::kAutoShrink) {
      LogFileState state = instance.LogState(record->dbid);
      std::int64_t keep = state.used_pages + state.used_pages / 3;
      if (keep < state.size_pages - state.size_pages / 4) instance.ShrinkLog(record->dbid, keep);
    }
  }
  SendDoneOf(executor, -1);
}

}  // namespace sandbox
