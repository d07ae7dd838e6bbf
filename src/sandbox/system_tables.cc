#include "sandbox/system_tables.h"

#include <algorithm>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/constraints.h"
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

// The base types as systypes lists them: xtype, xusertype, length, xprec, xscale, usertype,
// variable, allownulls and the old-style type code. prec is the length in characters for the
// character and binary types, xprec for the numeric ones.
struct BaseType {
  const char* name;
  int xtype, xusertype, length, xprec, xscale, usertype;
  bool variable, allownulls;
  int type;
};

constexpr BaseType kBaseTypes[] = {
    {"image", 34, 34, 16, 0, 0, 20, false, true, 34},
    {"text", 35, 35, 16, 0, 0, 19, false, true, 35},
    {"uniqueidentifier", 36, 36, 16, 0, 0, 0, false, true, 37},
    {"tinyint", 48, 48, 1, 3, 0, 5, false, true, 48},
    {"smallint", 52, 52, 2, 5, 0, 6, false, true, 52},
    {"int", 56, 56, 4, 10, 0, 7, false, true, 56},
    {"smalldatetime", 58, 58, 4, 16, 0, 22, false, true, 58},
    {"real", 59, 59, 4, 24, 0, 23, false, true, 59},
    {"money", 60, 60, 8, 19, 4, 11, false, true, 60},
    {"datetime", 61, 61, 8, 23, 3, 12, false, true, 61},
    {"float", 62, 62, 8, 53, 0, 8, false, true, 62},
    {"sql_variant", 98, 98, 8016, 0, 0, 0, false, true, 39},
    {"ntext", 99, 99, 16, 0, 0, 0, false, true, 35},
    {"bit", 104, 104, 1, 1, 0, 16, false, true, 50},
    {"decimal", 106, 106, 17, 38, 38, 24, false, true, 55},
    {"numeric", 108, 108, 17, 38, 38, 10, false, true, 63},
    {"smallmoney", 122, 122, 4, 10, 4, 21, false, true, 122},
    {"bigint", 127, 127, 8, 19, 0, 0, false, true, 63},
    {"varbinary", 165, 165, 8000, 0, 0, 4, true, true, 37},
    {"varchar", 167, 167, 8000, 0, 0, 2, true, true, 39},
    {"binary", 173, 173, 8000, 0, 0, 3, false, true, 45},
    {"char", 175, 175, 8000, 0, 0, 1, false, true, 47},
    {"timestamp", 189, 80, 8, 0, 0, 80, false, false, 45},
    {"nvarchar", 231, 231, 8000, 0, 0, 0, true, true, 39},
    {"nchar", 239, 239, 8000, 0, 0, 0, false, true, 47},
    {"sysname", 231, 256, 256, 0, 0, 18, true, false, 39},
};

bool IsCharacter(std::string_view n) {
  return n == "char" || n == "varchar" || n == "nchar" || n == "nvarchar" || n == "sysname" ||
         n == "text" || n == "ntext";
}

// The base types as a sub-select with systypes' columns; character types carry the collation.
std::string BaseTypesSql(const std::string& collation) {
  std::string sql;
  for (const BaseType& t : kBaseTypes) {
    std::string name = t.name;
    bool numeric = t.xprec != 0;
    bool sized = !numeric && t.length != 16 && name != "sql_variant";  // char, binary, timestamp
    bool wide = name[0] == 'n' || name == "sysname";
    std::string prec = numeric ? std::to_string(t.xprec)
                       : sized ? std::to_string(wide ? t.length / 2 : t.length)
                               : std::string("NULL");
    sql += std::string(sql.empty() ? "SELECT " : " UNION ALL SELECT ") + Quoted(name) +
           " AS name, " + std::to_string(t.xtype) + " AS xtype, 0 AS status, " +
           std::to_string(t.xusertype) + " AS xusertype, " + std::to_string(t.length) +
           " AS length, " + std::to_string(t.xprec) + " AS xprec, " + std::to_string(t.xscale) +
           " AS xscale, 0 AS tdefault, 0 AS domain, 1 AS uid, 0 AS reserved, " +
           std::to_string(t.usertype) + " AS usertype, " + (t.variable ? "1" : "0") +
           " AS variable, " + (t.allownulls ? "1" : "0") + " AS allownulls, " +
           std::to_string(t.type) + " AS type, NULL AS printfmt, " + prec + " AS prec, " +
           (numeric ? std::to_string(t.xscale) : std::string("NULL")) + " AS scale, " +
           (IsCharacter(name) ? Quoted(collation) : std::string("NULL")) + " AS collation";
  }
  return sql;
}

std::string Collation(Executor& executor, AttachedDatabase& db) {
  return DatabaseProperty(executor.session(), db.catalog->name(), "Collation", true).ToText();
}

// A sub-select of literal rows under the given column names; no rows still names them.
std::string RowsSql(const std::vector<std::string>& names,
                    const std::vector<std::vector<std::string>>& rows) {
  std::string sql = "SELECT ";
  for (const std::string& n : names) sql += (sql.size() > 7 ? ", NULL AS " : "NULL AS ") + n;
  sql += " WHERE 0";
  for (const auto& row : rows) {
    sql += " UNION ALL SELECT ";
    for (size_t i = 0; i < row.size(); ++i) sql += (i ? ", " : "") + row[i];
  }
  return sql;
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
  // The columns SQL Server keeps for its own use (versions, replication, cache) are 0; sysstat's
  // low bits give the kind of object, userstat is 1 for user tables.
  std::string sql =
      "SELECT name, id, xtype, uid, 0 AS info, status, 0 AS base_schema_ver, 0 AS replinfo, "
      "parent_obj, crdate, 0 AS ftcatid, 0 AS schema_ver, 0 AS stats_schema_ver, type, CASE type "
      "WHEN 'U ' THEN 1 ELSE 0 END AS userstat, CASE type WHEN 'S ' THEN 1 WHEN 'V ' THEN 2 WHEN "
      "'U ' THEN 3 WHEN 'P ' THEN 4 WHEN 'D ' THEN 6 WHEN 'R ' THEN 7 WHEN 'TR' THEN 8 ELSE 0 END "
      "AS sysstat, 0 AS indexdel, crdate AS refdate, 0 AS version, 0 AS deltrig, 0 AS instrig, 0 "
      "AS updtrig, 0 AS seltrig, category, 0 AS cache FROM ("
      "SELECT name, id, rtrim(type) || CASE WHEN length(type) = 1 THEN ' ' ELSE '' END AS xtype, "
      "uid, parent_obj, crdate, rtrim(type) || CASE WHEN length(type) = 1 THEN ' ' ELSE '' END "
      "AS type, 0 AS status, 0 AS category FROM " +
      c.Table(ct::kObjects) +
      " UNION ALL SELECT i.name, -i.indid - i.id * 256, CASE i.kind WHEN 'PK' THEN 'PK' ELSE "
      "'UQ' END, o.uid, o.id, o.crdate, 'K ', 0, 0 FROM " +
      c.Table(ct::kIndexes) + " AS i JOIN " + c.Table(ct::kObjects) +
      " AS o ON o.id = i.id WHERE i.kind IN ('PK', 'UQ')" + SystemRowsSql(executor, db.dbid) + ")";
  return Make(name, sql,
              {{"name", NVarChar(128)},
               {"id", SqlType::Int()},
               {"xtype", Char(2)},
               {"uid", SmallInt()},
               {"info", SmallInt()},
               {"status", SqlType::Int()},
               {"base_schema_ver", SqlType::Int()},
               {"replinfo", SqlType::Int()},
               {"parent_obj", SqlType::Int()},
               {"crdate", SqlType::DateTimeType()},
               {"ftcatid", SmallInt()},
               {"schema_ver", SqlType::Int()},
               {"stats_schema_ver", SqlType::Int()},
               {"type", Char(2)},
               {"userstat", SmallInt()},
               {"sysstat", SmallInt()},
               {"indexdel", SmallInt()},
               {"refdate", SqlType::DateTimeType()},
               {"version", SqlType::Int()},
               {"deltrig", SqlType::Int()},
               {"instrig", SqlType::Int()},
               {"updtrig", SqlType::Int()},
               {"seltrig", SqlType::Int()},
               {"category", SqlType::Int()},
               {"cache", SmallInt()}},
              db);
}

// Lengths in bytes as syscolumns gives them: two a character for the Unicode types, the
// storage size of a decimal's precision, the fixed size of the other types.
ResolvedTable Syscolumns(Executor& executor, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  std::string sql =
      "SELECT c.name, c.id, t.xtype, 0 AS typestat, t.xusertype, CASE WHEN t.name IN ('nchar', "
      "'nvarchar') THEN c.length * 2 WHEN t.name IN ('char', 'varchar', 'binary', 'varbinary') "
      "THEN c.length WHEN t.name IN ('decimal', 'numeric') THEN CASE WHEN c.prec < 10 THEN 5 "
      "WHEN c.prec < 20 THEN 9 WHEN c.prec < 29 THEN 13 ELSE 17 END ELSE t.length END AS length, "
      "CASE WHEN t.name IN ('decimal', 'numeric') THEN c.prec ELSE t.xprec END AS xprec, CASE "
      "WHEN t.name IN ('decimal', 'numeric') THEN c.scale ELSE t.xscale END AS xscale, c.colid, "
      "0 AS xoffset, 0 AS bitpos, 0 AS reserved, c.is_identity AS colstat, 0 AS cdefault, 0 AS "
      "domain, 0 AS number, c.colid AS colorder, NULL AS autoval, 0 AS offset, c.nullable * 8 + "
      "c.is_identity * 128 AS status, t.type, t.usertype, NULL AS printfmt, CASE WHEN t.name IN "
      "('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary') THEN c.length WHEN t.name "
      "IN ('decimal', 'numeric') THEN c.prec ELSE t.prec END AS prec, CASE WHEN t.name IN "
      "('decimal', 'numeric') THEN c.scale ELSE t.scale END AS scale, 0 AS iscomputed, "
      "c.is_output AS isoutparam, c.nullable AS isnullable, t.collation, c.type_name AS "
      "typename FROM " +
      c.Table(ct::kColumns) + " AS c LEFT JOIN (" + BaseTypesSql(Collation(executor, db)) +
      ") AS t ON t.name = c.type_name COLLATE NOCASE";
  return Make(name, sql,
              {{"name", NVarChar(128)},
               {"id", SqlType::Int()},
               {"xtype", TinyInt()},
               {"typestat", TinyInt()},
               {"xusertype", SmallInt()},
               {"length", SmallInt()},
               {"xprec", TinyInt()},
               {"xscale", TinyInt()},
               {"colid", SmallInt()},
               {"xoffset", SmallInt()},
               {"bitpos", TinyInt()},
               {"reserved", TinyInt()},
               {"colstat", SmallInt()},
               {"cdefault", SqlType::Int()},
               {"domain", SqlType::Int()},
               {"number", SmallInt()},
               {"colorder", SmallInt()},
               {"autoval", VarBinary(255)},
               {"offset", SmallInt()},
               {"status", TinyInt()},
               {"type", TinyInt()},
               {"usertype", SmallInt()},
               {"printfmt", SqlType::VarChar(255)},
               {"prec", SmallInt()},
               {"scale", SqlType::Int()},
               {"iscomputed", SqlType::Int()},
               {"isoutparam", SqlType::Int()},
               {"isnullable", SqlType::Int()},
               {"collation", NVarChar(128)},
               {"typename", NVarChar(128)}},
              db);
}

ResolvedTable Systypes(Executor& executor, AttachedDatabase& db, const char* name) {
  return Make(name, BaseTypesSql(Collation(executor, db)),
              {{"name", NVarChar(128)},
               {"xtype", TinyInt()},
               {"status", TinyInt()},
               {"xusertype", SmallInt()},
               {"length", SmallInt()},
               {"xprec", TinyInt()},
               {"xscale", TinyInt()},
               {"tdefault", SqlType::Int()},
               {"domain", SqlType::Int()},
               {"uid", SmallInt()},
               {"reserved", SmallInt()},
               {"usertype", SmallInt()},
               {"variable", SqlType{TypeKind::kBit}},
               {"allownulls", SqlType{TypeKind::kBit}},
               {"type", TinyInt()},
               {"printfmt", SqlType::VarChar(255)},
               {"prec", SmallInt()},
               {"scale", TinyInt()},
               {"collation", NVarChar(128)}},
              db);
}

// The creation text of views, procedures and functions and the condition of checks, in pieces
// of 4000 characters (colid 1, 2, ...). Procedures are number 1 of their group.
ResolvedTable Syscomments(Executor&, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  namespace ct = catalog_tables;
  const std::string objects = c.Table(ct::kObjects);
  std::string sql =
      "WITH RECURSIVE piece(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM piece WHERE k < (SELECT "
      "max(length(definition)) / 4000 FROM " +
      objects +
      ")) SELECT o.id, CASE o.type WHEN 'P' THEN 1 ELSE 0 END AS number, piece.k + 1 AS colid, "
      "0 AS status, 2 AS texttype, 0 AS language, 0 AS encrypted, 0 AS compressed, "
      "substr(o.definition, piece.k * 4000 + 1, 4000) AS text FROM " +
      objects +
      " AS o JOIN piece ON piece.k * 4000 < length(o.definition) WHERE o.type IN ('V', 'P', "
      "'FN', 'IF', 'TF', 'C', 'TR')";
  return Make(name, sql,
              {{"id", SqlType::Int()},
               {"number", SmallInt()},
               {"colid", SmallInt()},
               {"status", SmallInt()},
               {"texttype", SmallInt()},
               {"language", SmallInt()},
               {"encrypted", SqlType{TypeKind::kBit}},
               {"compressed", SqlType{TypeKind::kBit}},
               {"text", NVarChar(4000)}},
              db);
}

int ColumnId(const ObjectInfo* table, const std::string& column) {
  const ColumnInfo* found = table ? table->FindColumn(column) : nullptr;
  return found ? found->colid : 0;
}

// A PRIMARY KEY or UNIQUE constraint's id: sysobjects' 'K' rows number them after the table.
std::int64_t KeyId(const ObjectInfo& table, const IndexInfo& index) {
  return -index.indid - table.id * 256;
}

// Each foreign key with its details, in id order.
template <typename F>
void ForEachForeignKey(const Catalog& c, F&& f) {
  for (const ObjectInfo* o : c.Objects()) {
    if (o->type != ObjectType::kForeignKey) continue;
    ConstraintDetails d = ReadConstraint(*o);
    f(*o, d, c.FindById(o->parent), c.FindById(d.referenced));
  }
}

ResolvedTable Sysforeignkeys(Executor&, AttachedDatabase& db, const char* name) {
  std::vector<std::vector<std::string>> rows;
  ForEachForeignKey(*db.catalog, [&](const ObjectInfo& fk, const ConstraintDetails& d,
                                     const ObjectInfo* from, const ObjectInfo* to) {
    for (size_t k = 0; k < d.columns.size() && k < d.ref_columns.size(); ++k)
      rows.push_back({std::to_string(fk.id), std::to_string(fk.parent),
                      std::to_string(d.referenced), std::to_string(ColumnId(from, d.columns[k])),
                      std::to_string(ColumnId(to, d.ref_columns[k])), std::to_string(k + 1)});
  });
  return Make(name, RowsSql({"constid", "fkeyid", "rkeyid", "fkey", "rkey", "keyno"}, rows),
              {{"constid", SqlType::Int()},
               {"fkeyid", SqlType::Int()},
               {"rkeyid", SqlType::Int()},
               {"fkey", SmallInt()},
               {"rkey", SmallInt()},
               {"keyno", SmallInt()}},
              db);
}

// One row a foreign key: the referenced key's index and up to 16 column pairs (0 past the
// last). Both tables are in this database.
ResolvedTable Sysreferences(Executor&, AttachedDatabase& db, const char* name) {
  std::vector<std::vector<std::string>> rows;
  ForEachForeignKey(*db.catalog, [&](const ObjectInfo& fk, const ConstraintDetails& d,
                                     const ObjectInfo* from, const ObjectInfo* to) {
    int indid = 0;
    if (to)
      for (const IndexInfo& i : to->indexes)
        if (i.unique() && i.columns.size() == d.ref_columns.size() &&
            std::is_permutation(
                i.columns.begin(), i.columns.end(), d.ref_columns.begin(),
                [](const std::string& a, const std::string& b) { return EqualsNoCase(a, b); }))
          indid = indid ? indid : i.indid;
    std::vector<std::string> row = {std::to_string(fk.id),
                                    std::to_string(fk.parent),
                                    std::to_string(d.referenced),
                                    std::to_string(indid),
                                    std::to_string(d.columns.size()),
                                    "0",
                                    "0"};
    for (bool referenced : {false, true})
      for (size_t k = 0; k < 16; ++k)
        row.push_back(k < d.columns.size()
                          ? std::to_string(referenced ? ColumnId(to, d.ref_columns[k])
                                                      : ColumnId(from, d.columns[k]))
                          : "0");
    rows.push_back(std::move(row));
  });
  std::vector<std::string> names = {"constid", "fkeyid",   "rkeyid",  "rkeyindid",
                                    "keycnt",  "fkeydbid", "rkeydbid"};
  for (const char* side : {"fkey", "rkey"})
    for (int k = 1; k <= 16; ++k) names.push_back(side + std::to_string(k));
  ResolvedTable table = Make(name, RowsSql(names, rows), {}, db);
  for (size_t i = 0; i < names.size(); ++i) {
    OutputColumn column;
    column.name = names[i];
    column.type = i < 3 ? SqlType::Int() : SmallInt();
    table.columns.push_back(column);
  }
  return table;
}

// status: 1 PRIMARY KEY, 2 UNIQUE, 3 FOREIGN KEY, 4 CHECK, plus 16 for a column's constraint
// (colid names it) or 32 for the table's.
ResolvedTable Sysconstraints(Executor&, AttachedDatabase& db, const char* name) {
  const Catalog& c = *db.catalog;
  std::vector<std::vector<std::string>> rows;
  auto add = [&](std::int64_t constid, std::int64_t id, int colid, int kind) {
    rows.push_back({std::to_string(constid), std::to_string(id), std::to_string(colid), "0",
                    std::to_string(kind + (colid ? 16 : 32)), "0", "0"});
  };
  for (const ObjectInfo* o : c.Objects()) {
    for (const IndexInfo& i : o->indexes)
      if (i.kind == IndexKind::kPrimaryKey || i.kind == IndexKind::kUniqueConstraint)
        add(KeyId(*o, i), o->id, 0, i.kind == IndexKind::kPrimaryKey ? 1 : 2);
    if (o->type != ObjectType::kForeignKey && o->type != ObjectType::kCheck) continue;
    ConstraintDetails d = ReadConstraint(*o);
    int colid =
        d.column_level && !d.columns.empty() ? ColumnId(c.FindById(o->parent), d.columns[0]) : 0;
    add(o->id, o->parent, colid, o->type == ObjectType::kForeignKey ? 3 : 4);
  }
  return Make(name,
              RowsSql({"constid", "id", "colid", "spare1", "status", "actions", "error"}, rows),
              {{"constid", SqlType::Int()},
               {"id", SqlType::Int()},
               {"colid", SmallInt()},
               {"spare1", TinyInt()},
               {"status", SqlType::Int()},
               {"actions", SqlType::Int()},
               {"error", SqlType::Int()}},
              db);
}

// Every file of the sandbox's databases is in PRIMARY, the default filegroup (status 16).
ResolvedTable Sysfilegroups(Executor&, AttachedDatabase& db, const char* name) {
  return Make(name, "SELECT 1 AS groupid, 0 AS allocpolicy, 16 AS status, 'PRIMARY' AS groupname",
              {{"groupid", SmallInt()},
               {"allocpolicy", SmallInt()},
               {"status", SqlType::Int()},
               {"groupname", NVarChar(128)}},
              db);
}

// The local server, srvid 0, as SQL Server's setup enters it: remote procedure calls in and out,
// the remote collation used; the sandbox knows no linked servers.
ResolvedTable Sysservers(Executor& executor, AttachedDatabase& db, const char* name) {
  InstanceImpl& instance = executor.session().instance();
  const std::string server = Quoted(instance.ServerName());
  auto master = instance.FindDatabase(1);
  std::string sql = "SELECT 0 AS srvid, " + server + " AS srvname, 'SQL Server' AS srvproduct, " +
                    "'SQLOLEDB' AS providername, " + server +
                    " AS datasource, NULL AS location, NULL AS providerstring, " +
                    (master ? Quoted(master->crdate) : std::string("NULL")) +
                    " AS schemadate, NULL AS catalog, NULL AS srvcollation, 0 AS connecttimeout, "
                    "0 AS querytimeout, " +
                    server +
                    " AS srvnetname, 1 AS isremote, 1 AS rpc, 0 AS pub, 0 AS sub, 0 AS dist, 0 AS "
                    "dpub, 1 AS rpcout, 0 AS dataaccess, 0 AS collationcompatible, 0 AS system, 1 "
                    "AS useremotecollation, 0 AS lazyschemavalidation, NULL AS collation";
  ResolvedTable table = Make(name, sql,
                             {{"srvid", SmallInt()},
                              {"srvname", NVarChar(128)},
                              {"srvproduct", NVarChar(128)},
                              {"providername", NVarChar(128)},
                              {"datasource", NVarChar(4000)},
                              {"location", NVarChar(4000)},
                              {"providerstring", NVarChar(4000)},
                              {"schemadate", SqlType::DateTimeType()},
                              {"catalog", NVarChar(128)},
                              {"srvcollation", NVarChar(128)},
                              {"connecttimeout", SqlType::Int()},
                              {"querytimeout", SqlType::Int()},
                              {"srvnetname", Char(30)}},
                             db);
  for (const char* bit :
       {"isremote", "rpc", "pub", "sub", "dist", "dpub", "rpcout", "dataaccess",
        "collationcompatible", "system", "useremotecollation", "lazyschemavalidation"}) {
    OutputColumn column;
    column.name = bit;
    column.type = SqlType{TypeKind::kBit};
    table.columns.push_back(column);
  }
  OutputColumn collation;
  collation.name = "collation";
  collation.type = NVarChar(128);
  table.columns.push_back(collation);
  return table;
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
    {"systypes", 4, "S ", SystemTableEntry::Scope::kEveryDatabase, Systypes},
    {"syscomments", 6, "S ", SystemTableEntry::Scope::kEveryDatabase, Syscomments},
    {"sysfilegroups", 7, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysfilegroups},
    {"sysusers", 10, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysusers},
    {"sysmembers", 22, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysmembers},
    {"sysprotects", 23, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysprotects},
    {"sysfiles", 25, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysfiles},
    {"sysforeignkeys", 26, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysforeignkeys},
    {"sysreferences", 27, "S ", SystemTableEntry::Scope::kEveryDatabase, Sysreferences},
    {"sysconstraints", 28, "V ", SystemTableEntry::Scope::kEveryDatabase, Sysconstraints},
    {"sysdatabases", 30, "S ", SystemTableEntry::Scope::kServer, Sysdatabases},
    {"sysxlogins", 31, "S ", SystemTableEntry::Scope::kMaster, Syslogins},
    {"sysmessages", 32, "S ", SystemTableEntry::Scope::kMaster, Sysmessages},
    {"syslanguages", 33, "S ", SystemTableEntry::Scope::kMaster, Syslanguages},
    {"sysaltfiles", 34, "S ", SystemTableEntry::Scope::kServer, Sysaltfiles},
    {"syslogins", 35, "V ", SystemTableEntry::Scope::kMaster, Syslogins},
    {"sysprocesses", 36, "S ", SystemTableEntry::Scope::kMaster, Sysprocesses},
    {"sysservers", 40, "S ", SystemTableEntry::Scope::kMaster, Sysservers},
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
