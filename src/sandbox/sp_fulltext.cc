// Full-text search: catalogues, tables, columns and their state.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/fulltext.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

using common::Value;

namespace {

SqlError InvalidOption(std::string_view procedure) { return errors::Raise<15600>(procedure); }

SqlError NotEnabled() { return errors::Raise<15601>(); }

SqlError NoCatalog(std::string_view name) { return errors::Raise<7641>(name); }

SqlError NoFullTextIndex(std::string_view table) { return errors::Raise<7658>(table); }

// The rights the procedures ask for: db_owner for the database and its catalogues; for a
// table also its owner and db_ddladmin.
void CheckRights(Executor& executor, AttachedDatabase& db, const ObjectInfo* table) {
  SessionImpl& session = executor.session();
  if (table ? !Permitted(session, db, "ALTER", table) : !IsDbOwner(session, db))
    throw errors::Raise<15247>();
}

// What every procedure that changes full-text definitions checks first: the service and that
// no user transaction is open (the catalogue's folders cannot be rolled back).
void CheckChangeAllowed(Executor& executor, std::string_view procedure) {
  SessionImpl& session = executor.session();
  if (!session.instance().config().full_text_installed) throw errors::Raise<7609>();
  if (session.trancount() > 0) throw errors::Raise<15002>(procedure);
}

// SQL Server 7.0 knows catalogue populations but not change tracking.
bool TracksChanges(Executor& executor) {
  return executor.session().instance().config().product_version.rfind("7.", 0) != 0;
}

// Runs a change as a whole: a failure half-way leaves the definitions as they were.
void Atomically(Executor& executor, const std::function<void()>& change) {
  Connection& connection = executor.session().connection();
  connection.Exec("SAVEPOINT fulltext");
  try {
    change();
  } catch (...) {
    try {
      connection.Exec("ROLLBACK TO fulltext; RELEASE fulltext");
    } catch (const SqliteError&) {
    }
    throw;
  }
  connection.Exec("RELEASE fulltext");
}

// "owner.table", "[owner].[table]" or "table" as sp_fulltext_table takes it.
std::vector<std::string> SplitName(std::string_view text) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '[' && parts.back().empty()) {
      size_t j = i + 1;
      std::string part;
      for (; j < text.size(); ++j) {
        if (text[j] == ']') {
          if (j + 1 < text.size() && text[j + 1] == ']') {
            part += ']';
            ++j;
            continue;
          }
          break;
        }
        part += text[j];
      }
      if (j >= text.size()) return {std::string(text)};  // no closing bracket: a plain name
      parts.back() = part;
      i = j;
    } else if (c == '.') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

const ObjectInfo& FindTable(Executor& executor, AttachedDatabase& db, std::string_view text) {
  std::vector<std::string> parts = SplitName(text);
  const ObjectInfo* object = nullptr;
  if (parts.size() <= 2 && !parts.back().empty())
    object = db.catalog->Find(parts.back(), parts.size() == 2 ? parts[0] : std::string(),
                              executor.session().UserId(db));
  if (!object) throw errors::Raise<15009>(text, db.catalog->name());
  if (object->type != ObjectType::kTable) throw errors::Raise<15218>(text);
  return *object;
}

FullTextTableInfo RequireIndex(FullText& ft, const ObjectInfo& table, std::string_view text) {
  auto info = ft.FindTable(table.id);
  if (!info) throw NoFullTextIndex(text);
  return *info;
}

// sp_fulltext_database @action
std::int64_t FullTextDatabase(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_fulltext_database", arguments, {"@action"});
  if (!args.Given("@action")) throw errors::MissingArgument("sp_fulltext_database", "@action");
  AttachedDatabase& db = executor.Db();
  CheckChangeAllowed(executor, "sp_fulltext_database");
  CheckRights(executor, db, nullptr);
  std::string action = Lower(args.Text("@action"));
  if (action != "enable" && action != "disable") throw InvalidOption("sp_fulltext_database");
  const std::string& name = db.catalog->name();
  if (EqualsNoCase(name, "master") || EqualsNoCase(name, "tempdb") || EqualsNoCase(name, "model"))
    throw errors::Raise<9966>();
  FullText ft(executor.session(), db);
  Atomically(executor, [&] { action == "enable" ? ft.Enable() : ft.Disable(); });
  // The server catalogue says so too (DATABASEPROPERTY, sp_helpdb).
  InstanceImpl& instance = executor.session().instance();
  if (auto record = instance.FindDatabase(db.dbid)) {
    std::uint32_t status2 = record->status2 & ~dbstatus2::kFullTextEnabled;
    if (action == "enable") status2 |= dbstatus2::kFullTextEnabled;
    instance.SetDatabaseStatus(db.dbid, record->status, status2);
  }
  return 0;
}

// sp_fulltext_catalog @ftcat, @action, @path
std::int64_t FullTextCatalog(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_fulltext_catalog", arguments, {"@ftcat", "@action", "@path"});
  if (!args.Given("@ftcat")) throw errors::MissingArgument("sp_fulltext_catalog", "@ftcat");
  if (!args.Given("@action")) throw errors::MissingArgument("sp_fulltext_catalog", "@action");
  AttachedDatabase& db = executor.Db();
  CheckChangeAllowed(executor, "sp_fulltext_catalog");
  CheckRights(executor, db, nullptr);
  std::string name = args.Text("@ftcat");
  std::string action = Lower(args.Text("@action"));
  static const char* kActions[] = {"create",     "drop", "start_incremental",
                                   "start_full", "stop", "rebuild"};
  bool known = false;
  for (const char* a : kActions) known = known || action == a;
  if (!known || name.empty() || (args.Given("@path") && action != "create"))
    throw InvalidOption("sp_fulltext_catalog");
  CheckIdentifier(name);
  FullText ft(executor.session(), db);
  if (!ft.Enabled()) throw NotEnabled();
  auto catalog = ft.FindCatalog(name);
  if (action == "create") {
    if (catalog) throw errors::Raise<7642>(name);
    std::string root = args.Text("@path");
    if (args.Given("@path")) {
      auto host = executor.session().instance().machine().ToHost(root);
      std::error_code ec;
      if (!host || !std::filesystem::is_directory(*host, ec)) throw errors::Raise<7610>(root);
    }
    Atomically(executor, [&] { ft.CreateCatalog(name, root); });
    return 0;
  }
  if (!catalog) throw NoCatalog(name);
  if (action == "drop") {
    if (!ft.TablesOf(catalog->id).empty()) throw errors::Raise<7668>(catalog->name);
    Atomically(executor, [&] { ft.DropCatalog(*catalog); });
  } else if (action == "start_full" || action == "start_incremental") {
    // Without a timestamp column to go by, an incremental population is a full one.
    Atomically(executor, [&] { ft.PopulateCatalog(*catalog); });
  } else if (action == "rebuild") {
    Atomically(executor, [&] { ft.RebuildCatalog(*catalog); });
  }
  // "stop": populations never outlast the call that starts them.
  return 0;
}

// sp_fulltext_table @tabname, @action, @ftcat, @keyname
std::int64_t FullTextTable(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_fulltext_table", arguments,
                       {"@tabname", "@action", "@ftcat", "@keyname"});
  if (!args.Given("@tabname")) throw errors::MissingArgument("sp_fulltext_table", "@tabname");
  if (!args.Given("@action")) throw errors::MissingArgument("sp_fulltext_table", "@action");
  AttachedDatabase& db = executor.Db();
  CheckChangeAllowed(executor, "sp_fulltext_table");
  std::string text = args.Text("@tabname");
  std::string action = Lower(args.Text("@action"));
  static const char* kActions[] = {"create",
                                   "drop",
                                   "activate",
                                   "deactivate",
                                   "start_full",
                                   "start_incremental",
                                   "stop",
                                   "start_change_tracking",
                                   "stop_change_tracking",
                                   "update_index",
                                   "start_background_updateindex",
                                   "stop_background_updateindex"};
  bool known = false;
  for (const char* a : kActions) known = known || action == a;
  // 7.0 marks tables only: populations (and stopping them) are a catalogue's, and there is no
  // change tracking.
  if (known && !TracksChanges(executor))
    known =
        action == "create" || action == "drop" || action == "activate" || action == "deactivate";
  bool creating = action == "create";
  if (!known || (creating && (args.Text("@ftcat").empty() || args.Text("@keyname").empty())) ||
      (!creating && (args.Given("@ftcat") || args.Given("@keyname"))))
    throw InvalidOption("sp_fulltext_table");
  FullText ft(executor.session(), db);
  if (!ft.Enabled()) throw NotEnabled();
  const ObjectInfo& table = FindTable(executor, db, text);
  CheckRights(executor, db, &table);

  if (creating) {
    if (ft.FindTable(table.id)) throw errors::Raise<7652>(table.name);
    auto catalog = ft.FindCatalog(args.Text("@ftcat"));
    if (!catalog) throw NoCatalog(args.Text("@ftcat"));
    std::string keyname = args.Text("@keyname");
    const IndexInfo* key = table.FindIndex(keyname);
    const ColumnInfo* column =
        key && key->columns.size() == 1 ? table.FindColumn(key->columns[0]) : nullptr;
    if (!key || !key->unique() || !column || column->nullable || column->type.IsLarge())
      throw errors::Raise<7653>(keyname);
    Atomically(executor, [&] { ft.CreateTable(table, catalog->id, *key); });
    return 0;
  }

  FullTextTableInfo info = RequireIndex(ft, table, text);
  auto require_active = [&] {
    if (!info.active) throw errors::Raise<7660>(table.name);
  };
  auto require_tracking = [&] {
    if (!info.change_tracking) throw errors::Raise<7664>(table.name);
  };
  std::int64_t discarded = 0;
  Atomically(executor, [&] {
    if (action == "drop") {
      ft.DropTable(table.id);
    } else if (action == "activate") {
      if (info.columns.empty()) throw errors::Raise<7659>(table.name);
      ft.SetActive(table, true);
    } else if (action == "deactivate") {
      ft.SetActive(table, false);
    } else if (action == "start_full" || action == "start_incremental") {
      require_active();
      ft.PopulateTable(table);
    } else if (action == "start_change_tracking") {
      require_active();
      ft.SetChangeTracking(table, true);
    } else if (action == "stop_change_tracking") {
      if (info.change_tracking) discarded = ft.SetChangeTracking(table, false);
    } else if (action == "update_index") {
      require_tracking();
      ft.UpdateIndex(table);
    } else if (action == "start_background_updateindex") {
      require_tracking();
      ft.SetBackgroundUpdate(table, true);
    } else if (action == "stop_background_updateindex") {
      if (info.background) ft.SetBackgroundUpdate(table, false);
    }
    // "stop": populations never outlast the call that starts them.
  });
  if (discarded > 0)
    Inform(executor, errors::Raise<7638>(table.name));
  return 0;
}

// sp_fulltext_column @tabname, @colname, @action, @language, @type_colname
std::int64_t FullTextColumn(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_fulltext_column", arguments,
                       {"@tabname", "@colname", "@action", "@language", "@type_colname"});
  for (const char* required : {"@tabname", "@colname", "@action"})
    if (!args.Given(required)) throw errors::MissingArgument("sp_fulltext_column", required);
  AttachedDatabase& db = executor.Db();
  CheckChangeAllowed(executor, "sp_fulltext_column");
  std::string text = args.Text("@tabname");
  std::string column_name = args.Text("@colname");
  std::string action = Lower(args.Text("@action"));
  if ((action != "add" && action != "drop") || args.Given("@type_colname"))
    throw InvalidOption("sp_fulltext_column");
  FullText ft(executor.session(), db);
  if (!ft.Enabled()) throw NotEnabled();
  const ObjectInfo& table = FindTable(executor, db, text);
  CheckRights(executor, db, &table);
  FullTextTableInfo info = RequireIndex(ft, table, text);
  const ColumnInfo* column = table.FindColumn(column_name);
  if (!column) throw errors::Raise<15645>(column_name);
  if (action == "add") {
    if (!column->type.IsCharacter()) throw errors::Raise<7670>(column->name);
    if (info.HasColumn(column->name)) return 0;
    Atomically(executor, [&] { ft.AddColumn(table, column->name); });
  } else {
    if (!info.HasColumn(column->name)) throw errors::Raise<7677>(column->name);
    Atomically(executor, [&] { ft.DropColumn(table, column->name); });
  }
  return 0;
}

// sp_help_fulltext_catalogs @fulltext_catalog_name
std::int64_t HelpFullTextCatalogs(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_help_fulltext_catalogs", arguments, {"@fulltext_catalog_name"});
  FullText ft(executor.session(), executor.Db());
  if (!ft.Enabled()) throw NotEnabled();
  std::string wanted = args.Text("@fulltext_catalog_name");
  if (!wanted.empty() && !ft.FindCatalog(wanted)) throw NoCatalog(wanted);
  std::vector<std::vector<Value>> rows;
  for (const FullTextCatalogInfo& catalog : ft.Catalogs()) {
    if (!wanted.empty() && !EqualsNoCase(catalog.name, wanted)) continue;
    rows.push_back({Value(catalog.id), Value(catalog.name), Value(ft.RootFolder(catalog)),
                    Value(ft.Status(catalog)),
                    Value(static_cast<long long>(ft.TablesOf(catalog.id).size()))});
  }
  executor.SendRows(
      {Col("ftcatid", SqlType{TypeKind::kSmallInt}, false),
       Col("NAME", SqlType::NVarChar(128), false), Col("PATH", SqlType::NVarChar(260)),
       Col("STATUS", SqlType::Int()), Col("NUMBER_FULLTEXT_TABLES", SqlType::Int())},
      rows);
  return 0;
}

// sp_help_fulltext_tables @fulltext_catalog_name, @table_name
std::int64_t HelpFullTextTables(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_help_fulltext_tables", arguments,
                       {"@fulltext_catalog_name", "@table_name"});
  AttachedDatabase& db = executor.Db();
  FullText ft(executor.session(), db);
  if (!ft.Enabled()) throw NotEnabled();
  std::optional<FullTextCatalogInfo> catalog;
  if (args.Given("@fulltext_catalog_name")) {
    catalog = ft.FindCatalog(args.Text("@fulltext_catalog_name"));
    if (!catalog) throw NoCatalog(args.Text("@fulltext_catalog_name"));
  }
  const ObjectInfo* only = nullptr;
  if (args.Given("@table_name")) only = &FindTable(executor, db, args.Text("@table_name"));
  std::vector<std::vector<Value>> rows;
  std::vector<FullTextCatalogInfo> catalogs = ft.Catalogs();
  for (const FullTextTableInfo& info : ft.Tables()) {
    if (catalog && info.catalog_id != catalog->id) continue;
    if (only && info.object_id != only->id) continue;
    const ObjectInfo* table = db.catalog->FindById(info.object_id);
    const ColumnInfo* key = table->FindColumn(info.key_column);
    std::string catalog_name;
    for (const FullTextCatalogInfo& c : catalogs)
      if (c.id == info.catalog_id) catalog_name = c.name;
    rows.push_back({Value(db.catalog->OwnerName(table->uid)), Value(table->name),
                    Value(info.key_index), Value(key ? key->colid : 0), Value(info.active ? 1 : 0),
                    Value(catalog_name)});
  }
  executor.SendRows(
      {Col("TABLE_OWNER", SqlType::NVarChar(128), false),
       Col("TABLE_NAME", SqlType::NVarChar(128), false),
       Col("FULLTEXT_KEY_INDEX_NAME", SqlType::NVarChar(128)),
       Col("FULLTEXT_KEY_COLID", SqlType::Int()), Col("FULLTEXT_INDEX_ACTIVE", SqlType::Int()),
       Col("FULLTEXT_CATALOG_NAME", SqlType::NVarChar(128))},
      rows);
  return 0;
}

}  // namespace

void AddFullTextProcedures(SystemProcedureTable& table) {
  table.emplace("sp_fulltext_database", FullTextDatabase);
  table.emplace("sp_fulltext_catalog", FullTextCatalog);
  table.emplace("sp_fulltext_table", FullTextTable);
  table.emplace("sp_fulltext_column", FullTextColumn);
  table.emplace("sp_help_fulltext_catalogs", HelpFullTextCatalogs);
  table.emplace("sp_help_fulltext_tables", HelpFullTextTables);
}

}  // namespace sandbox
