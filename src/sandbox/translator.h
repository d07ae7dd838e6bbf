// Translates queries and expressions of the syntax tree into SQLite SQL over the session's
// attached databases, with SQL Server's types worked out alongside so result columns can be
// described and values converted the way SQL Server converts them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "sandbox/catalog.h"
#include "sandbox/server.h"
#include "sandbox/tsql/ast.h"
#include "sandbox/types.h"

namespace sandbox {

class LiveVariables;

struct BuiltinFunction;

struct OutputColumn {
  std::string name;
  SqlType type;
  bool nullable = true;
  std::string base_table;
  std::string base_column;
  bool key = false;
  bool identity = false;
  std::int64_t seed = 1;
  std::int64_t increment = 1;
};

// A translated expression and what SQL Server would make of its type.
struct TypedSql {
  std::string sql;
  SqlType type;
  bool nullable = true;
  bool is_column = false;         // a plain column
  bool collation_stated = false;  // by a COLLATE clause, which then decides its comparisons
  bool is_null = false;           // the NULL literal
  bool is_literal = false;
  const tsql::Literal* literal = nullptr;
  OutputColumn base;  // for plain columns: where it comes from
};

// What a table name in FROM stands for.
struct ResolvedTable {
  enum class Kind { kTable, kView, kTemp, kSystem };
  Kind kind = Kind::kTable;
  std::string sql;  // what FROM says: "schema"."name", or a sub-select for system tables
  std::string name;
  std::string owner = "dbo";
  std::string database;
  int dbid = 0;
  const ObjectInfo* object = nullptr;
  std::vector<OutputColumn> columns;
};

// A FROM source that column names can refer to.
struct SourceBinding {
  std::string exposed;  // the alias, or the table's name
  bool aliased = false;
  std::string table_name;
  std::string owner;
  std::string database;
  std::string sql_alias;  // t1, t2, ... in the SQLite text
  std::vector<OutputColumn> columns;
  const ObjectInfo* object = nullptr;
  ResolvedTable::Kind kind = ResolvedTable::Kind::kTable;
  std::string rowid_sql;  // how the row's SQLite rowid is reached, when it can be
  bool derived = false;   // (SELECT ...) alias: columns are c1, c2, ... in SQLite
};

struct Scope {
  std::vector<SourceBinding> sources;
  const Scope* outer = nullptr;
};

struct VariableSlot {
  SqlType type;
  common::Value value;  // storage form
};

class Resolver {
 public:
  virtual ~Resolver() = default;
  // Throws SqlError 208 for unknown names.
  virtual ResolvedTable ResolveTable(const tsql::ObjectName& name) = 0;
  // Asked for every table or view a query reads; throws SqlError 229 when refused.
  virtual void CheckRead(const ResolvedTable& table) = 0;
  virtual VariableSlot* FindVariable(std::string_view name) = 0;
  // @@ROWCOUNT etc. by upper-case name with "@@"; nullopt when unknown.
  virtual std::optional<std::pair<common::Value, SqlType>> GlobalVariable(
      std::string_view name) = 0;
  virtual std::optional<common::Value> ParameterMarker(int index) = 0;
  virtual std::string CurrentDatabaseName() = 0;
  virtual std::string CurrentUserName() = 0;
  virtual std::string LoginName() = 0;
  virtual std::string HostName() = 0;
  virtual std::string ApplicationName() = 0;
  virtual std::optional<std::int64_t> ScopeIdentity() = 0;
  // The session's language and date order, which decide how a text reads as a date.
  virtual DateSettings Dates() { return {}; }
  // The instance's major version (7, 8, ...): what is newer fails as unknown.
  virtual int MajorVersion() { return 8; }
  // The current database's compatibility level (70, 80, 90, ...).
  virtual int CompatibilityLevel() { return 80; }
  // A condition for CONTAINS or FREETEXT on one table source: its indexed columns (all when
  // columns is empty) searched for search_sql; in_view names tables without their schema.
  // Throws SqlError 7601 where there is no index.
  // A user-defined scalar function called as owner.name(args); nullopt when there is none.
  virtual std::optional<TypedSql> UserFunction(const tsql::FunctionCall&,
                                               const std::vector<TypedSql>&) {
    return std::nullopt;
  }
  // A table-valued function in FROM, its rows as a table. Throws SqlError 208.
  virtual ResolvedTable ResolveTableFunction(const tsql::TableRef& ref) {
    return ResolveTable(ref.name);
  }
  virtual std::string FullTextPredicate(const SourceBinding& source,
                                        const std::vector<std::string>& columns,
                                        const std::string& search_sql, bool freetext, bool in_view);
  // UPDATE(column) and COLUMNS_UPDATED() inside a trigger, seen before the column name would be
  // read as a value; nullopt outside a trigger.
  virtual std::optional<TypedSql> TriggerColumns(const tsql::FunctionCall&) { return std::nullopt; }
  // CURSOR_STATUS(scope, name); nullopt where there is no cursor state to ask.
  virtual std::optional<int> CursorStatus(std::string_view, std::string_view) {
    return std::nullopt;
  }
};

struct Translation {
  std::string sql;
  std::vector<OutputColumn> columns;
  std::vector<std::string> assignments;  // SELECT @v = ...: the variable of each column
};

class Translator {
 public:
  Translator(Resolver& resolver, std::vector<common::Value>& params)
      : resolver_(resolver), params_(params) {}

  // For view bodies: tables must be in this database and are named without a schema.
  void set_view_mode(int dbid) { view_dbid_ = dbid; }
  // Long string and binary literals become bound parameters instead of SQL text, so SQLite
  // neither reads them again nor keeps one prepared statement per value. Only for statements
  // whose parameters reach the SQLite statement (not view bodies or stored SQL).
  void set_bind_long_literals(bool on) { bind_long_literals_ = on; }
  // Variables are then read live, as the statement assigns them row by row.
  void set_live_variables(LiveVariables* live) { live_ = live; }
  // Integer literals become bound parameters too, so that statements sent once a row (the
  // client cursor's UPDATE by key) share one prepared statement. Not for queries: ORDER BY 2
  // names a column, ORDER BY ?1 would not.
  void set_bind_integer_literals(bool on) { bind_integer_literals_ = on; }

  // A whole query (ORDER BY included); alias_outputs names the columns c1, c2, ... so that
  // derived tables can be addressed whatever the column names are.
  Translation Query(const tsql::Query& query, const Scope* outer, bool alias_outputs = false,
                    std::int64_t row_limit = 0);
  TypedSql Expression(const tsql::Expr& expr, const Scope* scope);
  // A condition as SQL (a bare value is compared with zero, as the parser allows only
  // predicates here anyway).
  std::string Condition(const tsql::Expr& expr, const Scope* scope);
  // The FROM list; adds its sources to scope. target names the source a DML statement acts
  // on: that source exposes its SQLite rowid.
  std::string From(const std::vector<tsql::TableSourcePtr>& from, Scope& scope,
                   const std::string* target = nullptr);
  // Adds one table as a source of the scope, as FROM would.
  std::string AddTable(const ResolvedTable& table, const std::string& alias, Scope& scope,
                       bool expose_rowid);

  std::string Bind(common::Value value);
  std::string NewAlias();
  // SQL that converts value to target the way an assignment or a CAST does.
  // style is SQL for CONVERT's style number.
  std::string ConvertSql(const TypedSql& value, const SqlType& target, Fit fit,
                         std::string_view style = "0");
  // The SQL Server type a TypeRef names; throws SqlError 243 for unknown names and for types
  // newer than major_version.
  static SqlType ResolveType(const tsql::TypeRef& ref, bool cast_default_length, int major_version);

 private:
  struct SpecResult {
    std::string sql;
    std::vector<OutputColumn> columns;
    std::vector<std::string> assignments;
    std::vector<std::string> item_aliases;  // explicit aliases of select items
    Scope scope;
  };
  SpecResult TranslateSpec(const tsql::QuerySpec& query_spec, const Scope* outer,
                           bool alias_outputs, std::int64_t row_limit, bool allow_order,
                           const std::vector<tsql::OrderItem>* order);
  std::string QueryBody(const tsql::Query& query, const Scope* outer, bool alias_outputs,
                        std::vector<OutputColumn>& columns, std::vector<std::string>& assignments,
                        std::vector<std::string>& aliases);
  std::string Source(const tsql::TableSource& source, Scope& scope, const std::string* target,
                     bool top_level);
  // One link of a join chain appended to the SQL of its left side.
  std::string JoinLink(const tsql::Join& join, std::string left, Scope& scope,
                       const std::string* target);
  TypedSql Column(const tsql::ColumnRef& ref, const Scope* scope);
  TypedSql Literal(const tsql::Literal& literal);
  TypedSql Binary(const tsql::BinaryExpr& expr, const Scope* scope);
  // One arithmetic link of a chain; flat carries the chain's SQLite precedence class along.
  TypedSql Arithmetic(tsql::BinaryOp op, TypedSql left, TypedSql right, int& flat);
  TypedSql Function(const tsql::FunctionCall& call, const Scope* scope);
  // A function of the built-in table: arguments counted and converted, result typed.
  TypedSql Builtin(const BuiltinFunction& function, const tsql::FunctionCall& call,
                   const Scope* scope);
  TypedSql Comparison(const char* op, TypedSql left, TypedSql right);
  // Makes a and b comparable: dates and GUIDs in text, collation for text.
  void Harmonise(TypedSql& a, TypedSql& b);
  std::string OrderBy(const std::vector<tsql::OrderItem>& order, const Scope* scope,
                      const std::vector<OutputColumn>& columns,
                      const std::vector<std::string>& aliases);
  std::string SystemCall(const std::string& name, const std::vector<TypedSql>& args);
  // FROM for a WHERE with *= or =* (outer_joins.cc): the inner tables LEFT JOINed on their
  // conditions; where_sql gets the rest of the WHERE, empty when nothing is left.
  std::string OldStyleJoins(const tsql::QuerySpec& select, Scope& scope, std::string& where_sql);
  // Whether one of the WHERE's AND-ed conditions is a *= or =* comparison.
  static bool HasOuterJoinOperator(const tsql::Expr& where);
  // Whether expr translates with the sources of scope alone (and the outer queries').
  bool Within(const tsql::Expr& expr, const Scope& scope);

  // A text literal as SQL: bound when long (see set_bind_long_literals), else quoted.
  std::string TextLiteral(const std::string& text);

  Resolver& resolver_;
  std::vector<common::Value>& params_;
  int alias_counter_ = 0;
  bool outer_joins_taken_ = false;  // *= and =* are being translated as join conditions
  int depth_ = 0;  // nesting of the walk, against tsql::kMaxNesting
  int view_dbid_ = 0;
  bool bind_long_literals_ = false;
  LiveVariables* live_ = nullptr;
  bool bind_integer_literals_ = false;
};

// The column name SQL Server gives a select item without alias: the column's name for plain
// columns, else empty.
std::string ItemName(const tsql::SelectItem& item);

}  // namespace sandbox
