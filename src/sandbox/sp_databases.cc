// Databases and their files: attach, detach, rename, options, sizes.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"
#include "sandbox/security.h"
#include "sandbox/session.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

using common::Value;

namespace {

SqlError NoSuchDatabase(std::string_view name) { return errors::Raise<15010>(name); }

// The server catalogue is no part of a transaction, so these procedures refuse to run in one.
void CheckNoTransaction(SessionImpl& session, std::string_view procedure) {
  if (session.trancount() > 0) throw errors::Raise<15002>(procedure);
}

void CheckNoTransactionForCreate(SessionImpl& session) {
  if (session.trancount() > 0) throw errors::Raise<226>("CREATE DATABASE");
}

SqlError NotPermitted() { return errors::Raise<15247>(); }

bool MayCreateDatabases(SessionImpl& session) {
  return session.IsSysadmin() || (session.login().server_roles & kDbcreator);
}

SqlType NChar(int n) { return SqlType{TypeKind::kNChar, n}; }

// sp_detach_db @dbname, @skipchecks
std::int64_t DetachDb(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_detach_db", arguments, {"@dbname", "@skipchecks"});
  if (!args.Given("@dbname")) throw errors::MissingArgument("sp_detach_db", "@dbname");
  SessionImpl& session = executor.session();
  if (!session.IsSysadmin()) throw NotPermitted();
  CheckNoTransaction(session, "sp_detach_db");
  std::string name = args.Text("@dbname");
  auto record = session.instance().FindDatabase(name);
  if (!record) throw NoSuchDatabase(name);
  // The caller's own current database (before this call switched to it) holds it too.
  if (record->dbid == executor.CallerDatabase()) throw errors::Raise<3703>("detach", record->name);
  session.ForgetDatabase(record->dbid);
  session.instance().DetachDatabase(record->name, session.spid());
  return 0;
}

std::vector<std::string> FileArguments(const SystemArguments& args, int count) {
  std::vector<std::string> files;
  for (int i = 1; i <= count; ++i) {
    std::string file = args.Text("@filename" + std::to_string(i));
    if (!file.empty()) files.push_back(file);
  }
  return files;
}

// sp_attach_db @dbname, @filename1, ... @filename16
std::int64_t AttachDb(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  std::vector<std::string> names = {"@dbname"};
  for (int i = 1; i <= 16; ++i) names.push_back("@filename" + std::to_string(i));
  SystemArguments args("sp_attach_db", arguments, names);
  if (!args.Given("@dbname")) throw errors::MissingArgument("sp_attach_db", "@dbname");
  SessionImpl& session = executor.session();
  if (!MayCreateDatabases(session)) throw NotPermitted();
  CheckNoTransactionForCreate(session);
  std::string name = args.Text("@dbname");
  CheckIdentifier(name);
  if (name.empty()) throw errors::Raise<1038>();
  std::vector<std::string> files = FileArguments(args, 16);
  if (files.empty()) throw errors::MissingArgument("sp_attach_db", "@filename1");
  session.instance().AttachDatabase(name, files, session.login().sid);
  return 0;
}

// sp_attach_single_file_db @dbname, @physname: the log is made anew beside the data file.
std::int64_t AttachSingleFileDb(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_attach_single_file_db", arguments, {"@dbname", "@physname"});
  if (!args.Given("@dbname")) throw errors::MissingArgument("sp_attach_single_file_db", "@dbname");
  if (!args.Given("@physname"))
    throw errors::MissingArgument("sp_attach_single_file_db", "@physname");
  SessionImpl& session = executor.session();
  if (!MayCreateDatabases(session)) throw NotPermitted();
  CheckNoTransactionForCreate(session);
  std::string name = args.Text("@dbname");
  CheckIdentifier(name);
  if (name.empty()) throw errors::Raise<1038>();
  DatabaseRecord record =
      session.instance().AttachDatabase(name, {args.Text("@physname")}, session.login().sid, true);
  executor.Info(0, "New log file '" + record.log_path + "' was created.", 0);
  return 0;
}

// sp_renamedb @dbname, @newname
std::int64_t RenameDb(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_renamedb", arguments, {"@dbname", "@newname"});
  if (!args.Given("@dbname")) throw errors::MissingArgument("sp_renamedb", "@dbname");
  if (!args.Given("@newname")) throw errors::MissingArgument("sp_renamedb", "@newname");
  SessionImpl& session = executor.session();
  if (!MayCreateDatabases(session)) throw NotPermitted();
  CheckNoTransaction(session, "sp_renamedb");
  std::string name = args.Text("@dbname");
  std::string new_name = args.Text("@newname");
  auto record = session.instance().FindDatabase(name);
  if (!record) throw NoSuchDatabase(name);
  // A session may rename the database it is in only when it has it to itself.
  if (record->dbid == executor.CallerDatabase() && !(record->status & dbstatus::kSingleUser))
    throw errors::Raise<5030>();
  RenameDatabaseChecked(executor, *record, new_name);
  executor.Info(0, "The database name '" + new_name + "' has been set.", 0);
  return 0;
}

// --- sp_dboption -------------------------------------------------------------------------

SqlError DboptionUsage() { return errors::Raise<15241>(); }

const DatabaseOptionEntry& FindOption(const std::string& text) {
  const DatabaseOptionEntry* found = nullptr;
  int matches = 0;
  for (const DatabaseOptionEntry& entry : DatabaseOptionTable()) {
    if (EqualsNoCase(entry.dboption, text)) return entry;
    // Any unique part of an option's name names it.
    if (!text.empty() && Lower(entry.dboption).find(Lower(text)) != std::string::npos) {
      found = &entry;
      ++matches;
    }
  }
  if (matches == 1) return *found;
  if (matches > 1) throw errors::Raise<15242>(text);
  throw errors::Raise<15011>(text);
}

bool OptionIsOn(const DatabaseRecord& record, const DatabaseOptionEntry& entry) {
  return ((entry.second_word ? record.status2 : record.status) & entry.bit) != 0;
}

// sp_dboption [@dbname [, @optname [, @optvalue]]]
std::int64_t DbOption(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_dboption", arguments, {"@dbname", "@optname", "@optvalue"});
  SessionImpl& session = executor.session();
  if (!args.Given("@dbname")) {
    std::vector<std::vector<Value>> rows;
    for (const DatabaseOptionEntry& entry : DatabaseOptionTable())
      rows.push_back({Value(entry.dboption)});
    executor.SendRows({Col("Settable database options:", SqlType::NVarChar(35))}, rows);
    return 0;
  }
  std::string name = args.Text("@dbname");
  auto record = session.instance().FindDatabase(name);
  if (!record) throw NoSuchDatabase(name);
  if (!args.Given("@optname")) {
    std::vector<std::vector<Value>> rows;
    for (const DatabaseOptionEntry& entry : DatabaseOptionTable())
      if (OptionIsOn(*record, entry)) rows.push_back({Value(entry.dboption)});
    executor.SendRows({Col("The following options are set:", SqlType::NVarChar(35))}, rows);
    return 0;
  }
  const DatabaseOptionEntry& entry = FindOption(args.Text("@optname"));
  if (!args.Given("@optvalue")) {
    executor.SendRows({Col("OptionName", SqlType::NVarChar(35), false),
                       Col("CurrentSetting", SqlType::VarChar(3), false)},
                      {{Value(entry.dboption), Value(OptionIsOn(*record, entry) ? "ON" : "OFF")}});
    return 0;
  }
  std::string value = Lower(args.Text("@optvalue"));
  bool on = false;
  if (value == "true" || value == "on")
    on = true;
  else if (value != "false" && value != "off")
    throw DboptionUsage();
  std::uint32_t status = record->status;
  std::uint32_t status2 = record->status2;
  CheckNoTransaction(session, "sp_dboption");
  std::uint32_t& word = entry.second_word ? status2 : status;
  word = on ? (word | entry.bit) : (word & ~entry.bit);
  ApplyDatabaseStatus(executor, *record, status, status2, "");
  return 0;
}

// --- sp_helpdb ---------------------------------------------------------------------------

// convert(nvarchar(11), crdate): "Dec  6 2026".
std::string CreatedText(const std::string& crdate) {
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  auto date = common::DateTime::Parse(crdate);
  if (!date || date->month < 1 || date->month > 12) return crdate.substr(0, 11);
  char text[16];
  std::snprintf(text, sizeof text, "%s %2d %04d", kMonths[date->month - 1], date->day, date->year);
  return text;
}

std::string KbText(std::int64_t pages) { return std::to_string(pages * 8) + " KB"; }

std::int64_t HelpDb(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_helpdb", arguments, {"@dbname"});
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  std::vector<DatabaseRecord> databases;
  if (args.Given("@dbname")) {
    std::string name = args.Text("@dbname");
    auto record = instance.FindDatabase(name);
    if (!record) throw NoSuchDatabase(name);
    databases.push_back(*record);
  } else {
    databases = instance.Databases();
    std::sort(databases.begin(), databases.end(),
              [](const DatabaseRecord& a, const DatabaseRecord& b) {
                return Lower(a.name) < Lower(b.name);
              });
  }
  std::vector<OutputColumn> columns = {
      Col("name", SqlType::NVarChar(128)),         Col("db_size", SqlType::NVarChar(13)),
      Col("owner", SqlType::NVarChar(128)),        Col("dbid", SmallInt(), false),
      Col("created", SqlType::NVarChar(11)),       Col("status", SqlType::NVarChar(600)),
      Col("compatibility_level", TinyInt(), false)};
  std::vector<std::vector<Value>> rows;
  bool version7 = instance.config().product_version.rfind("7.", 0) == 0;
  for (const DatabaseRecord& record : databases) {
    std::optional<std::string> owner;
    if (!record.owner_sid.empty() && record.owner_sid == session.login().sid)
      owner = session.login().name;
    else if (auto login = instance.FindLogin(record.owner_sid))
      owner = login->name;
    if (!owner) {
      // SQL Server collects the rows in a table whose owner column takes no NULL: an owner
      // whose login is gone fails the whole list.
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "0001%08X", static_cast<unsigned>(session.spid()));
      std::string table = "tempdb.dbo.#spdbdesc" + std::string(107, '_') + suffix;
      Inform(executor, errors::Raise<515>("owner", table, "INSERT"));
      Inform(executor, errors::Raise<3621>());
      session.error = 515;
      executor.SendRows(columns, {});
      return 1;
    }
    std::int64_t pages = 0;
    for (const DatabaseFileState& f : ReadDatabaseFiles(instance, record)) pages += f.size_pages;
    char size[32];
    std::snprintf(size, sizeof size, "%10.2f MB", static_cast<double>(pages) * 8.0 / 1024.0);
    std::string collation = DatabaseProperty(session, record.name, "Collation", true).ToText();
    rows.push_back({Value(record.name), Value(std::string(size)), Value(*owner), Value(record.dbid),
                    Value(CreatedText(record.crdate)),
                    Value(DatabaseStatusText(record, collation, version7)),
                    Value(record.compatibility_level)});
  }
  executor.SendRows(columns, rows);
  if (!args.Given("@dbname")) return 0;
  std::vector<std::vector<Value>> files;
  for (const DatabaseFileState& f : ReadDatabaseFiles(instance, databases[0])) {
    std::string max_size = f.max_pages < 0 ? "Unlimited" : KbText(f.max_pages);
    std::string growth = f.growth_percent ? std::to_string(f.growth) + "%" : KbText(f.growth);
    files.push_back({Value(f.name), Value(f.fileid), Value(f.filename),
                     f.log ? Value() : Value("PRIMARY"), Value(KbText(f.size_pages)),
                     Value(max_size), Value(growth), Value(f.log ? "log only" : "data only")});
  }
  executor.SendRows({Col("name", NChar(128)), Col("fileid", SmallInt(), false),
                     Col("filename", NChar(260)), Col("filegroup", SqlType::NVarChar(128)),
                     Col("size", SqlType::NVarChar(18)), Col("maxsize", SqlType::NVarChar(18)),
                     Col("growth", SqlType::NVarChar(18)), Col("usage", SqlType::VarChar(9))},
                    files);
  return 0;
}

}  // namespace

void AddDatabaseProcedures(SystemProcedureTable& table) {
  table.emplace("sp_attach_db", AttachDb);
  table.emplace("sp_attach_single_file_db", AttachSingleFileDb);
  table.emplace("sp_detach_db", DetachDb);
  table.emplace("sp_renamedb", RenameDb);
  table.emplace("sp_dboption", DbOption);
  table.emplace("sp_helpdb", HelpDb);
}

}  // namespace sandbox
