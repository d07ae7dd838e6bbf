#include "sandbox/system_tables.h"

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/executor.h"
#include "sandbox/languages.h"
#include "sandbox/messages.h"
#include "sandbox/result_columns.h"

namespace sandbox {

namespace {

struct ColumnSpec {
  const char* name;
  SqlType type;
};

SqlType NVarChar(int n) { return SqlType::NVarChar(n); }
SqlType NChar(int n) { return SqlType{TypeKind::kNChar, n}; }
SqlType Char(int n) { return SqlType{TypeKind::kChar, n}; }
SqlType VarBinary(int n) { return SqlType{TypeKind::kVarBinary, n}; }

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? std::string("''") : std::string(1, ch);
  return out + "'";
}

template <size_t N>
std::string Joined(const std::array<const char*, N>& names) {
  std::string out;
  for (const char* name : names) out += (out.empty() ? "" : ",") + std::string(name);
  return out;
}

// The languages SET LANGUAGE knows, one row each.
std::string LanguagesSql() {
  std::string sql;
  for (const Language& l : Languages()) {
    if (!sql.empty()) sql += " UNION ALL ";
    sql += "SELECT " + std::to_string(l.langid) + " AS langid, " +
           Quoted(DateOrderName(l.date_order)) + " AS dateformat, " + std::to_string(l.datefirst) +
           " AS datefirst, 0 AS upgrade, " + Quoted(l.name) + " AS name, " + Quoted(l.alias) +
           " AS alias, " + Quoted(Joined(l.months)) + " AS months, " +
           Quoted(Joined(l.short_months)) + " AS shortmonths, " + Quoted(Joined(l.days)) +
           " AS days, " + std::to_string(l.lcid) + " AS lcid, " + std::to_string(l.msglangid) +
           " AS msglangid";
  }
  return sql;
}

// The server's messages, one row each, in us_english (1033).
std::string MessagesSql() {
  std::string rows;
  for (const MessageEntry& m : kMessages) {
    if (!m.server) continue;
    rows += rows.empty() ? "" : ",";
    rows += "(" + std::to_string(m.number) + "," + std::to_string(m.severity) + "," +
            Quoted(m.text) + ")";
  }
  return "SELECT column1 AS error, column2 AS severity, 0 AS dlevel, column3 AS description, "
         "1033 AS msglangid FROM (VALUES " +
         rows + ")";
}

ResolvedTable Make(const char* name, std::string sql, std::initializer_list<ColumnSpec> columns,
                   AttachedDatabase& db) {
  ResolvedTable table;
  table.kind = ResolvedTable::Kind::kSystem;
  table.name = name;
  table.database = db.catalog->name();
  table.dbid = db.dbid;
  table.sql = "(" + sql + ")";
  for (const ColumnSpec& c : columns) {
    OutputColumn column;
    column.name = c.name;
    column.type = c.type;
    table.columns.push_back(column);
  }
  return table;
}

// The system tables' own rows: owned by dbo, category 2 (shipped with the server), created with
// the database.
std::string SystemRowsSql(Executor& executor, int dbid) {
  auto record = executor.session().instance().FindDatabase(dbid);
  std::string rows;
  for (const SystemTableEntry& t : SystemTables()) {
    if (!t.Listed(dbid)) continue;
    rows += std::string(rows.empty() ? "" : ",") + "(" + Quoted(t.name) + "," +
            std::to_string(t.id) + "," + Quoted(t.type) + ")";
  }
  return " UNION ALL SELECT column1, column2, column3, 1, 0, " +
         (record ? Quoted(record->crdate) : std::string("NULL")) + ", column3, 0, 2 FROM (VALUES " +
         rows + ")";
}

ResolvedTable Sysobjects(Executor& executor, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  std::string sql =
      "SELECT name, id, rtrim(type) || CASE WHEN length(type) = 1 THEN ' ' ELSE '' END AS xtype, "
      "uid, parent_obj, crdate, rtrim(type) || CASE WHEN length(type) = 1 THEN ' ' ELSE '' END "
      "AS type, 0 AS status, 0 AS category FROM " +
      c.Table(ct::kObjects) +
      " UNION ALL SELECT i.name, -i.indid - i.id * 256, CASE i.kind WHEN 'PK' THEN 'PK' ELSE "
      "'UQ' END, o.uid, o.id, o.crdate, 'K ', 0, 0 FROM " +
      c.Table(ct::kIndexes) + " AS i JOIN " + c.Table(ct::kObjects) +
      " AS o ON o.id = i.id WHERE i.kind IN ('PK', 'UQ')" + SystemRowsSql(executor, db.dbid);
  return Make(name, sql,
              {{"name", NVarChar(128)},
               {"id", SqlType::Int()},
               {"xtype", Char(2)},
               {"uid", SmallInt()},
               {"parent_obj", SqlType::Int()},
               {"crdate", SqlType::DateTimeType()},
               {"type", Char(2)},
               {"status", SqlType::Int()},
               {"category", SqlType::Int()}},
              db);
}

ResolvedTable Syscolumns(Executor&, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  std::string sql =
      "SELECT name, id, colid, colid AS colorder, type_name AS typename, length, prec, scale, "
      "nullable AS isnullable, is_output AS isoutparam FROM " +
      c.Table(ct::kColumns);
  return Make(name, sql,
              {{"name", NVarChar(128)},
               {"id", SqlType::Int()},
               {"colid", SmallInt()},
               {"colorder", SmallInt()},
               {"typename", NVarChar(128)},
               {"length", SmallInt()},
               {"prec", SmallInt()},
               {"scale", SqlType::Int()},
               {"isnullable", SqlType::Int()},
               {"isoutparam", SqlType::Int()}},
              db);
}

ResolvedTable Sysusers(Executor&, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  std::string sql =
      "SELECT uid, CASE WHEN is_role = 1 THEN 0 ELSE 2 END AS status, name, sid, createdate, "
      "updatedate, CASE WHEN is_role = 1 THEN uid ELSE 0 END AS gid, has_access AS hasdbaccess, "
      "CASE WHEN is_role = 0 AND sid IS NOT NULL AND uid > 4 OR uid = 1 THEN 1 ELSE 0 END AS "
      "islogin, is_nt_name AS isntname, is_nt_group AS isntgroup, CASE WHEN is_nt_name = 1 AND "
      "is_nt_group = 0 THEN 1 ELSE 0 END AS isntuser, CASE WHEN is_role = 0 AND is_nt_name = 0 "
      "THEN 1 ELSE 0 END AS issqluser, 0 AS isaliased, CASE WHEN is_role = 1 AND is_app_role = 0 "
      "THEN 1 ELSE 0 END AS issqlrole, is_app_role AS isapprole, 1 AS altuid, NULL AS roles, "
      "NULL AS password, NULL AS environ FROM " +
      c.Table(ct::kUsers);
  return Make(name, sql,
              {{"uid", SmallInt()},
               {"status", SmallInt()},
               {"name", NVarChar(128)},
               {"sid", VarBinary(85)},
               {"createdate", SqlType::DateTimeType()},
               {"updatedate", SqlType::DateTimeType()},
               {"gid", SmallInt()},
               {"hasdbaccess", SqlType::Int()},
               {"islogin", SqlType::Int()},
               {"isntname", SqlType::Int()},
               {"isntgroup", SqlType::Int()},
               {"isntuser", SqlType::Int()},
               {"issqluser", SqlType::Int()},
               {"isaliased", SqlType::Int()},
               {"issqlrole", SqlType::Int()},
               {"isapprole", SqlType::Int()},
               {"altuid", SmallInt()},
               {"roles", VarBinary(2048)},
               {"password", VarBinary(256)},
               {"environ", SqlType::VarChar(255)}},
              db);
}

ResolvedTable Sysmembers(Executor&, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  return Make(name,
              "SELECT member_uid AS memberuid, group_uid AS groupuid FROM " + c.Table(ct::kMembers),
              {{"memberuid", SmallInt()}, {"groupuid", SmallInt()}}, db);
}

ResolvedTable Sysprotects(Executor&, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  return Make(name,
              "SELECT id, uid, action, protecttype, NULL AS columns, grantor FROM " +
                  c.Table(ct::kPermissions),
              {{"id", SqlType::Int()},
               {"uid", SmallInt()},
               {"action", TinyInt()},
               {"protecttype", TinyInt()},
               {"columns", VarBinary(4000)},
               {"grantor", SmallInt()}},
              db);
}

ResolvedTable Sysindexes(Executor&, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  std::string sql =
      "SELECT i.id, i.indid, i.name, CASE WHEN i.kind = 'IX' THEN 0 ELSE 2 END + CASE i.kind "
      "WHEN 'PK' THEN 2048 WHEN 'UQ' THEN 4096 ELSE 0 END AS status, 1 AS groupid FROM " +
      c.Table(ct::kIndexes) + " AS i";
  return Make(name, sql,
              {{"id", SqlType::Int()},
               {"indid", SmallInt()},
               {"name", NVarChar(128)},
               {"status", SqlType::Int()},
               {"groupid", SmallInt()}},
              db);
}

ResolvedTable Sysfiles(Executor& executor, AttachedDatabase& db, const char* name) {
  std::vector<DatabaseRecord> self;
  if (auto record = executor.session().instance().FindDatabase(db.dbid)) self.push_back(*record);
  std::string sql = FilesTableSql(executor.session().instance(), self, false);
  return Make(name, sql,
              {{"fileid", SmallInt()},
               {"groupid", SmallInt()},
               {"size", SqlType::Int()},
               {"maxsize", SqlType::Int()},
               {"growth", SqlType::Int()},
               {"status", SqlType::Int()},
               {"perf", SqlType::Int()},
               {"name", NChar(128)},
               {"filename", NChar(260)}},
              db);
}

ResolvedTable Sysdatabases(Executor& executor, AttachedDatabase&, const char* name) {
  namespace ct = catalog_tables;
  AttachedDatabase& master = executor.session().Database(1);
  // status2 is kept in the high half of master's status column.
  std::string sql =
      "SELECT name, dbid, sid, 0 AS mode, status & 4294967295 AS status, status >> 32 AS "
      "status2, crdate, crdate AS reserved, 0 AS category, cmptlevel, filename, 539 AS version "
      "FROM " +
      master.catalog->Table(ct::kDatabases);
  return Make(name, sql,
              {{"name", NVarChar(128)},
               {"dbid", SmallInt()},
               {"sid", VarBinary(85)},
               {"mode", SmallInt()},
               {"status", SqlType::Int()},
               {"status2", SqlType::Int()},
               {"crdate", SqlType::DateTimeType()},
               {"reserved", SqlType::DateTimeType()},
               {"category", SqlType::Int()},
               {"cmptlevel", TinyInt()},
               {"filename", NVarChar(260)},
               {"version", SmallInt()}},
              master);
}

ResolvedTable Sysaltfiles(Executor& executor, AttachedDatabase&, const char* name) {
  InstanceImpl& instance = executor.session().instance();
  return Make(name, FilesTableSql(instance, instance.Databases(), true),
              {{"fileid", SmallInt()},
               {"groupid", SmallInt()},
               {"size", SqlType::Int()},
               {"maxsize", SqlType::Int()},
               {"growth", SqlType::Int()},
               {"status", SqlType::Int()},
               {"perf", SqlType::Int()},
               {"dbid", SmallInt()},
               {"name", NChar(128)},
               {"filename", NChar(260)},
               {"createlsn", SqlType{TypeKind::kBinary, 10}},
               {"droplsn", SqlType{TypeKind::kBinary, 10}}},
              executor.session().Database(1));
}

ResolvedTable Syslanguages(Executor&, AttachedDatabase& db, const char* name) {
  return Make(name, LanguagesSql(),
              {{"langid", SmallInt()},
               {"dateformat", NChar(3)},
               {"datefirst", TinyInt()},
               {"upgrade", SqlType::Int()},
               {"name", NVarChar(128)},
               {"alias", NVarChar(128)},
               {"months", NVarChar(372)},
               {"shortmonths", NVarChar(132)},
               {"days", NVarChar(217)},
               {"lcid", SqlType::Int()},
               {"msglangid", SmallInt()}},
              db);
}

ResolvedTable Sysmessages(Executor&, AttachedDatabase& db, const char* name) {
  return Make(name, MessagesSql(),
              {{"error", SqlType::Int()},
               {"severity", TinyInt()},
               {"dlevel", SmallInt()},
               {"description", NVarChar(255)},
               {"msglangid", SmallInt()}},
              db);
}

ResolvedTable Syslogins(Executor&, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  std::string sql =
      "SELECT sid, CASE WHEN is_nt_group = 1 THEN 9 WHEN is_nt_name = 1 THEN 10 ELSE 9 END AS "
      "status, createdate, updatedate, createdate AS accdate, 0 AS totcpu, 0 AS totio, 0 AS "
      "spacelimit, 0 AS timelimit, 0 AS resultlimit, name, dbname, NULL AS password, language, "
      "deny_login AS denylogin, has_access AS hasaccess, is_nt_name AS isntname, is_nt_group AS "
      "isntgroup, CASE WHEN is_nt_name = 1 AND is_nt_group = 0 THEN 1 ELSE 0 END AS isntuser, "
      "(server_roles & 1) AS sysadmin, (server_roles & 2) / 2 AS securityadmin, (server_roles & "
      "4) / 4 AS serveradmin, (server_roles & 8) / 8 AS setupadmin, (server_roles & 16) / 16 AS "
      "processadmin, (server_roles & 32) / 32 AS diskadmin, (server_roles & 64) / 64 AS "
      "dbcreator, (server_roles & 128) / 128 AS bulkadmin, name AS loginname FROM " +
      c.Table(ct::kLogins);
  return Make(name, sql,
              {{"sid", VarBinary(85)},
               {"status", SmallInt()},
               {"createdate", SqlType::DateTimeType()},
               {"updatedate", SqlType::DateTimeType()},
               {"accdate", SqlType::DateTimeType()},
               {"totcpu", SqlType::Int()},
               {"totio", SqlType::Int()},
               {"spacelimit", SqlType::Int()},
               {"timelimit", SqlType::Int()},
               {"resultlimit", SqlType::Int()},
               {"name", NVarChar(128)},
               {"dbname", NVarChar(128)},
               {"password", NVarChar(128)},
               {"language", NVarChar(128)},
               {"denylogin", SqlType::Int()},
               {"hasaccess", SqlType::Int()},
               {"isntname", SqlType::Int()},
               {"isntgroup", SqlType::Int()},
               {"isntuser", SqlType::Int()},
               {"sysadmin", SqlType::Int()},
               {"securityadmin", SqlType::Int()},
               {"serveradmin", SqlType::Int()},
               {"setupadmin", SqlType::Int()},
               {"processadmin", SqlType::Int()},
               {"diskadmin", SqlType::Int()},
               {"dbcreator", SqlType::Int()},
               {"bulkadmin", SqlType::Int()},
               {"loginname", NVarChar(128)}},
              db);
}

ResolvedTable Sysprocesses(Executor& executor, AttachedDatabase& db, const char* name) {
  // A snapshot of the sessions, as literal rows.
  std::string rows;
  InstanceImpl& instance = executor.session().instance();
  const auto blocked = instance.Blocked();
  for (const SessionEntry& s : instance.Sessions()) {
    auto wait = blocked.find(s.spid);
    std::string waiting = wait == blocked.end()
                              ? std::string("0, 0, ''")
                              : std::to_string(wait->second.by) + ", " +
                                    std::to_string(wait->second.waited_ms) + ", 'LCK_M_X'";
    bool me = s.spid == executor.session().spid();
    int dbid = me ? executor.session().current_dbid() : s.dbid;
    std::string row = "SELECT " + std::to_string(s.spid) + ", " + std::to_string(dbid) + ", " +
                      QuoteLiteral(me ? "runnable" : "sleeping") + ", " + QuoteLiteral(s.login) +
                      ", " + QuoteLiteral(s.host) + ", " + QuoteLiteral(s.program) + ", " +
                      QuoteLiteral(me ? "SELECT" : "AWAITING COMMAND") + ", " + waiting + ", X'" +
                      [&] {
                        static const char* kHex = "0123456789ABCDEF";
                        std::string hex;
                        for (auto b : s.sid) {
                          hex += kHex[b >> 4];
                          hex += kHex[b & 15];
                        }
                        return hex;
                      }() +
                      "'";
    rows += (rows.empty() ? "" : " UNION ALL ") + row;
  }
  // The first row names the columns; an empty list still has them.
  std::string sql =
      "SELECT NULL AS spid, NULL AS dbid, NULL AS status, NULL AS loginame, NULL AS hostname, "
      "NULL AS program_name, NULL AS cmd, NULL AS blocked, NULL AS waittime, "
      "NULL AS lastwaittype, NULL AS sid WHERE 0";
  if (!rows.empty()) sql += " UNION ALL " + rows;
  return Make(name, sql,
              {{"spid", SmallInt()},
               {"dbid", SmallInt()},
               {"status", NChar(30)},
               {"loginame", NChar(128)},
               {"hostname", NChar(128)},
               {"program_name", NChar(128)},
               {"cmd", NChar(16)},
               {"blocked", SmallInt()},
               {"waittime", SqlType::Int()},
               {"lastwaittype", NChar(32)},
               {"sid", SqlType{TypeKind::kBinary, 86}}},
              db);
}

// One entry per system table or view. Ids are SQL Server's where its documentation gives them.
constexpr SystemTableEntry kSystemTables[] = {
    {"sysobjects", 1, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysobjects},
    {"sysindexes", 2, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysindexes},
    {"syscolumns", 3, "S ", SystemTableEntry::Scope::kEveryDatabase, Syscolumns},
    {"sysusers", 10, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysusers},
    {"sysmembers", 22, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysmembers},
    {"sysprotects", 23, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysprotects},
    {"sysfiles", 25, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysfiles},
    {"sysdatabases", 30, "S ", SystemTableEntry::Scope::kServer, Sysdatabases},
    {"sysxlogins", 31, "S ", SystemTableEntry::Scope::kMaster, Syslogins},
    {"sysmessages", 32, "S ", SystemTableEntry::Scope::kMaster, Sysmessages},
    {"syslanguages", 33, "S ", SystemTableEntry::Scope::kMaster, Syslanguages},
    {"sysaltfiles", 34, "S ", SystemTableEntry::Scope::kServer, Sysaltfiles},
    {"syslogins", 35, "V ", SystemTableEntry::Scope::kMaster, Syslogins},
    {"sysprocesses", 36, "S ", SystemTableEntry::Scope::kMaster, Sysprocesses},
};

}  // namespace

std::span<const SystemTableEntry> SystemTables() { return kSystemTables; }

const SystemTableEntry* FindSystemTable(std::string_view name, int dbid) {
  for (const SystemTableEntry& t : kSystemTables)
    if (t.Listed(dbid) && EqualsNoCase(t.name, name)) return &t;
  return nullptr;
}

const SystemTableEntry* FindSystemTable(std::int64_t id, int dbid) {
  for (const SystemTableEntry& t : kSystemTables)
    if (t.Listed(dbid) && t.id == id) return &t;
  return nullptr;
}

std::optional<ResolvedTable> SystemTable(Executor& executor, AttachedDatabase& db,
                                         std::string_view name) {
  for (const SystemTableEntry& t : kSystemTables)
    if (EqualsNoCase(t.name, name) &&
        (t.Listed(db.dbid) || t.scope == SystemTableEntry::Scope::kServer))
      return t.build(executor, db, t.name);
  return std::nullopt;
}

}  // namespace sandbox
