// The syntax tree of a Transact-SQL batch as the sandbox server understands it.
//
// Nodes own their children through std::unique_ptr. Every node knows its kind, so a consumer can
// switch on `kind` and downcast with As<T>(). Names keep the case they were written in; keywords
// that the tree keeps as words (options, permissions) are upper-cased. Source spans are byte
// offsets into the text handed to the parser, so a consumer can cut the original text of any
// statement or expression out of the batch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace sandbox::tsql {

// A stretch of the batch text: [begin, end) in bytes, `line` 1-based where it begins.
struct SourceSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
  int line = 1;

  std::string_view TextIn(std::string_view source) const {
    if (begin >= source.size() || end <= begin) return {};
    return source.substr(begin, end - begin);
  }
};

// A name of up to four parts: server.database.owner.object. Omitted parts are empty, so
// "master..sp_helpdb" has database "master", an empty owner and name "sp_helpdb". Temporary tables
// keep their "#" or "##" in `name`.
struct ObjectName {
  std::string server;
  std::string database;
  std::string owner;
  std::string name;
  int part_count = 0;  // parts as written, counting empty ones ("db..x" is 3); 0 when absent
  SourceSpan span;

  bool empty() const { return part_count == 0; }
  bool IsTemporary() const { return !name.empty() && name[0] == '#'; }
  // The parts joined by ".", empty parts kept ("master..sp_helpdb"); no brackets added.
  std::string ToString() const;
};

// A data type as written: "NVARCHAR(4000)", "decimal(10, 2)", "INTEGER", "Long" (types are not
// checked here; an unknown one is the executor's error).
struct TypeRef {
  std::string name;                    // as written; two-word types joined by one blank
  std::optional<std::int64_t> length;  // length, or the precision of decimal/numeric
  std::optional<std::int64_t> scale;
  bool max = false;  // "(MAX)"
  SourceSpan span;

  std::string ToString() const;  // name plus "(length[, scale])"
};

// Node types name the kind they stand for (kKind), or the kinds when several share one type
// (Is). A downcast to the wrong type would be undefined behaviour; As<T>() stops the process
// with both named instead, in every build, for the price of one comparison.
[[noreturn]] void WrongNodeDowncast(const char* downcast, int kind);

template <class T, class Node>
T& CheckedDowncast(Node& node) {
  bool fits;
  if constexpr (requires { std::remove_const_t<T>::Is(node.kind); }) {
    fits = std::remove_const_t<T>::Is(node.kind);
  } else {
    fits = node.kind == std::remove_const_t<T>::kKind;
  }
  if (!fits) [[unlikely]]
    WrongNodeDowncast(__PRETTY_FUNCTION__, static_cast<int>(node.kind));
  return static_cast<T&>(node);
}

// ---------------------------------------------------------------------------------------------
// Expressions

struct Query;

struct Expr {
  enum class Kind {
    kLiteral,
    kColumn,          // ColumnRef
    kVariable,        // @name
    kGlobalVariable,  // @@name
    kUnary,
    kBinary,  // arithmetic, bitwise, comparison, AND, OR
    kLike,
    kBetween,
    kIn,
    kExists,
    kIsNull,
    kCase,
    kCast,
    kConvert,
    kFunction,
    kSubquery,
    kContains,  // CONTAINS(...) / FREETEXT(...) full-text predicates
    kCollate,
    kDefault,          // DEFAULT in VALUES lists and procedure arguments
    kParameterMarker,  // ? of a client-side prepared statement
  };

  explicit Expr(Kind k) : kind(k) {}
  virtual ~Expr() = default;
  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;

  // True for predicates (comparisons, LIKE, IN, EXISTS, AND, OR, NOT, ...).
  bool IsCondition() const;

  template <class T>
  const T& As() const {
    return CheckedDowncast<const T>(*this);
  }
  template <class T>
  T& As() {
    return CheckedDowncast<T>(*this);
  }

  const Kind kind;
  SourceSpan span;
};

using ExprPtr = std::unique_ptr<Expr>;

struct Literal : Expr {
  enum class Type {
    kNull,
    kInteger,        // fits in 64 bits; see `int_value`
    kDecimal,        // 1.61, .5, also integers too large for 64 bits
    kFloat,          // 1e10, 2.5E-3
    kMoney,          // $12.50
    kString,         // 'text' (`text` holds the value with quotes undoubled)
    kUnicodeString,  // N'text'
    kBinary,         // 0x1F2E (`text` holds the bytes)
  };
  Literal() : Expr(Kind::kLiteral) {}
  static constexpr Kind kKind = Kind::kLiteral;

  Type type = Type::kNull;
  // Strings: the value. Binary: the raw bytes. Numbers: the digits as written, with a leading
  // "-" when the parser folded a unary minus into the literal (money without the "$").
  std::string text;
  std::int64_t int_value = 0;  // kInteger only
  // A bare word passed as a procedure argument (EXEC sp_x Document): SQL Server takes it as a
  // character string; it is stored as kString with this flag set.
  bool bare_word = false;
};

// A column, optionally qualified: "Folder.FolderID", "#TempDocument1_1.EntryID", "dbo.t.c".
struct ColumnRef : Expr {
  ColumnRef() : Expr(Kind::kColumn) {}
  static constexpr Kind kKind = Kind::kColumn;
  ObjectName table;  // the qualifier; empty() when the column is not qualified
  std::string column;
};

struct Variable : Expr {
  Variable() : Expr(Kind::kVariable) {}
  static constexpr Kind kKind = Kind::kVariable;
  std::string name;  // with the "@"
};

struct GlobalVariable : Expr {
  GlobalVariable() : Expr(Kind::kGlobalVariable) {}
  static constexpr Kind kKind = Kind::kGlobalVariable;
  std::string name;  // with the "@@", as written ("@@ROWCOUNT", "@@version")
};

enum class UnaryOp { kNegate, kPlus, kBitNot, kNot };

struct UnaryExpr : Expr {
  UnaryExpr() : Expr(Kind::kUnary) {}
  static constexpr Kind kKind = Kind::kUnary;
  UnaryOp op = UnaryOp::kNegate;
  ExprPtr operand;
};

enum class BinaryOp {
  kAdd,  // also string concatenation; the executor decides by the operand types
  kSubtract,
  kMultiply,
  kDivide,
  kModulo,
  kBitAnd,
  kBitOr,
  kBitXor,
  kEqual,
  kNotEqual,  // <> and !=
  kLess,
  kGreater,
  kLessEqual,
  kGreaterEqual,
  kNotLess,     // !<
  kNotGreater,  // !>
  kAnd,
  kOr,
};

// Arithmetic and bitwise operators give a value; the others (comparisons, AND, OR) a truth.
bool IsArithmetic(BinaryOp op);

// An equality written *= (the left side's rows are all kept) or =* (the right side's).
enum class OuterJoin { kNone, kLeft, kRight };

struct BinaryExpr : Expr {
  BinaryExpr() : Expr(Kind::kBinary) {}
  static constexpr Kind kKind = Kind::kBinary;
  ~BinaryExpr() override;  // takes left-deep chains apart in a loop
  BinaryOp op = BinaryOp::kAdd;
  OuterJoin outer_join = OuterJoin::kNone;
  ExprPtr left;
  ExprPtr right;
};

struct LikeExpr : Expr {
  LikeExpr() : Expr(Kind::kLike) {}
  static constexpr Kind kKind = Kind::kLike;
  ExprPtr value;
  ExprPtr pattern;
  ExprPtr escape;  // may be null
  bool negated = false;
};

struct BetweenExpr : Expr {
  BetweenExpr() : Expr(Kind::kBetween) {}
  static constexpr Kind kKind = Kind::kBetween;
  ExprPtr value;
  ExprPtr low;
  ExprPtr high;
  bool negated = false;
};

struct InExpr : Expr {
  InExpr() : Expr(Kind::kIn) {}
  static constexpr Kind kKind = Kind::kIn;
  ExprPtr value;
  std::vector<ExprPtr> list;        // IN (a, b, c)
  std::unique_ptr<Query> subquery;  // IN (SELECT ...); exactly one of list/subquery is used
  bool negated = false;
};

struct ExistsExpr : Expr {
  ExistsExpr() : Expr(Kind::kExists) {}
  static constexpr Kind kKind = Kind::kExists;
  std::unique_ptr<Query> subquery;
};

struct IsNullExpr : Expr {
  IsNullExpr() : Expr(Kind::kIsNull) {}
  static constexpr Kind kKind = Kind::kIsNull;
  ExprPtr value;
  bool negated = false;  // IS NOT NULL
};

struct CaseExpr : Expr {
  CaseExpr() : Expr(Kind::kCase) {}
  static constexpr Kind kKind = Kind::kCase;
  struct When {
    ExprPtr condition;  // a value for the simple form, a condition for the searched form
    ExprPtr result;
  };
  ExprPtr operand;  // simple CASE x WHEN ...; null for the searched form
  std::vector<When> whens;
  ExprPtr else_result;  // may be null
};

struct CastExpr : Expr {
  CastExpr() : Expr(Kind::kCast) {}
  static constexpr Kind kKind = Kind::kCast;
  ExprPtr value;
  TypeRef type;
};

struct ConvertExpr : Expr {
  ConvertExpr() : Expr(Kind::kConvert) {}
  static constexpr Kind kKind = Kind::kConvert;
  TypeRef type;
  ExprPtr value;
  ExprPtr style;  // may be null
};

// Any function call: COUNT(*), COUNT(DISTINCT x), GETDATE(), dbo.fn(a), and the niladic
// functions written without parentheses (CURRENT_TIMESTAMP, SYSTEM_USER, SESSION_USER,
// CURRENT_USER, USER).
struct FunctionCall : Expr {
  FunctionCall() : Expr(Kind::kFunction) {}
  static constexpr Kind kKind = Kind::kFunction;
  ObjectName name;  // name.name is the function name as written; owner for dbo.fn(...)
  std::vector<ExprPtr> args;
  bool star = false;      // COUNT(*)
  bool distinct = false;  // COUNT(DISTINCT x)
  bool niladic = false;   // written without parentheses
};

struct SubqueryExpr : Expr {
  SubqueryExpr() : Expr(Kind::kSubquery) {}
  static constexpr Kind kKind = Kind::kSubquery;
  std::unique_ptr<Query> query;
};

// CONTAINS(column | *, 'condition') or FREETEXT(...).
struct ContainsExpr : Expr {
  ContainsExpr() : Expr(Kind::kContains) {}
  static constexpr Kind kKind = Kind::kContains;
  bool freetext = false;
  std::vector<ExprPtr> columns;  // empty for "*"
  ExprPtr search;
};

struct CollateExpr : Expr {
  CollateExpr() : Expr(Kind::kCollate) {}
  static constexpr Kind kKind = Kind::kCollate;
  ~CollateExpr() override;  // takes chains apart in a loop
  ExprPtr value;
  std::string collation;
};

struct DefaultExpr : Expr {
  DefaultExpr() : Expr(Kind::kDefault) {}
  static constexpr Kind kKind = Kind::kDefault;
};

struct ParameterMarker : Expr {
  ParameterMarker() : Expr(Kind::kParameterMarker) {}
  static constexpr Kind kKind = Kind::kParameterMarker;
  int index = 0;  // 0-based, in the order the markers appear in the batch
};

// ---------------------------------------------------------------------------------------------
// Table sources and queries

struct TableSource {
  enum class Kind { kTable, kDerived, kJoin };
  explicit TableSource(Kind k) : kind(k) {}
  virtual ~TableSource() = default;
  TableSource(const TableSource&) = delete;
  TableSource& operator=(const TableSource&) = delete;

  template <class T>
  const T& As() const {
    return CheckedDowncast<const T>(*this);
  }
  template <class T>
  T& As() {
    return CheckedDowncast<T>(*this);
  }

  const Kind kind;
  SourceSpan span;
};

using TableSourcePtr = std::unique_ptr<TableSource>;

// A table or view by name, with its alias ("Document ParentDoc", "#TempDocument1 AS MyTemp").
struct TableRef : TableSource {
  TableRef() : TableSource(Kind::kTable) {}
  static constexpr Kind kKind = Kind::kTable;
  ObjectName name;
  std::string alias;               // empty when none
  std::vector<std::string> hints;  // WITH (NOLOCK) -> {"NOLOCK"}, upper-cased
  bool call = false;               // dbo.f(args): a table-valued function
  std::vector<ExprPtr> args;
};

// (SELECT ...) alias
struct DerivedTable : TableSource {
  DerivedTable() : TableSource(Kind::kDerived) {}
  static constexpr Kind kKind = Kind::kDerived;
  std::unique_ptr<Query> query;
  std::string alias;
  std::vector<std::string> column_aliases;  // (SELECT ...) AS t (a, b)
};

enum class JoinType { kInner, kLeft, kRight, kFull, kCross };

struct Join : TableSource {
  Join() : TableSource(Kind::kJoin) {}
  static constexpr Kind kKind = Kind::kJoin;
  ~Join() override;  // takes left-deep chains apart in a loop
  JoinType type = JoinType::kInner;
  TableSourcePtr left;
  TableSourcePtr right;
  ExprPtr on;  // null for CROSS JOIN
};

struct SelectItem {
  enum class Kind {
    kExpr,        // expr [[AS] alias] or alias = expr
    kStar,        // *
    kTableStar,   // Folder.*  (`table` holds the qualifier)
    kAssignment,  // @var = expr
  };
  Kind kind = Kind::kExpr;
  ExprPtr expr;
  std::string alias;     // empty when none
  ObjectName table;      // kTableStar
  std::string variable;  // kAssignment, with "@"
  SourceSpan span;
};

struct OrderItem {
  ExprPtr expr;  // an integer literal means an ordinal position
  bool descending = false;
};

struct QuerySpec;

// A query expression: one SELECT, or a UNION of query expressions. ORDER BY belongs to the
// outermost query expression only.
struct Query {
  enum class Kind { kSpec, kUnion };
  explicit Query(Kind k) : kind(k) {}
  virtual ~Query() = default;
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  template <class T>
  const T& As() const {
    return CheckedDowncast<const T>(*this);
  }
  template <class T>
  T& As() {
    return CheckedDowncast<T>(*this);
  }
  // The leftmost SELECT of a union chain (the one that names the result columns and holds INTO).
  const QuerySpec& FirstSpec() const;

  const Kind kind;
  std::vector<OrderItem> order_by;
  SourceSpan span;
};

using QueryPtr = std::unique_ptr<Query>;

struct QuerySpec : Query {
  QuerySpec() : Query(Kind::kSpec) {}
  static constexpr Kind kKind = Kind::kSpec;
  bool distinct = false;
  ExprPtr top;  // null without TOP
  bool top_percent = false;
  bool top_with_ties = false;
  std::vector<SelectItem> items;
  ObjectName into;                   // SELECT ... INTO new_table; empty() when absent
  std::vector<TableSourcePtr> from;  // comma-separated sources
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  bool group_by_all = false;
  ExprPtr having;
};

struct UnionQuery : Query {
  UnionQuery() : Query(Kind::kUnion) {}
  static constexpr Kind kKind = Kind::kUnion;
  ~UnionQuery() override;  // takes left-deep chains apart in a loop
  bool all = false;
  QueryPtr left;
  QueryPtr right;
};

// ---------------------------------------------------------------------------------------------
// Table definitions

struct IndexColumn {
  std::string name;
  bool descending = false;
};

enum class Nullability { kNotStated, kNull, kNotNull };

struct TableConstraint {
  enum class Type { kPrimaryKey, kUnique, kForeignKey, kCheck, kDefault };
  Type type = Type::kPrimaryKey;
  std::string name;                  // CONSTRAINT name; empty when unnamed
  std::optional<bool> clustered;     // CLUSTERED / NONCLUSTERED when written
  std::vector<IndexColumn> columns;  // key columns; the one column of a DEFAULT ... FOR col
  ObjectName ref_table;              // FOREIGN KEY ... REFERENCES
  std::vector<std::string> ref_columns;
  std::string on_delete;  // "CASCADE" / "NO ACTION" / empty
  std::string on_update;
  ExprPtr expr;  // CHECK condition, DEFAULT value
  SourceSpan span;
};

struct ColumnDef {
  std::string name;
  TypeRef type;
  ExprPtr computed;  // name AS expr (type then empty)
  std::string collation;
  Nullability nullability = Nullability::kNotStated;
  bool identity = false;
  std::int64_t identity_seed = 1;
  std::int64_t identity_increment = 1;
  bool rowguidcol = false;
  ExprPtr default_value;     // may be null
  std::string default_name;  // CONSTRAINT name DEFAULT ...
  // Column-level PRIMARY KEY / UNIQUE / REFERENCES / CHECK; `columns` then names this column.
  std::vector<TableConstraint> constraints;
  SourceSpan span;
};

// The body of CREATE TABLE and of DECLARE @t TABLE. Table-level constraints, including those
// written after a column definition without a separating comma, are in `constraints`.
struct TableDefinition {
  std::vector<ColumnDef> columns;
  std::vector<TableConstraint> constraints;
};

// ---------------------------------------------------------------------------------------------
// Statements
//
// Kind -> node: kSelect SelectStatement; kInsert InsertStatement; kUpdate UpdateStatement;
// kDelete DeleteStatement; kTruncateTable TruncateTableStatement; kCreateTable
// CreateTableStatement; kAlterTable AlterTableStatement; kDropTable, kDropView, kDropProcedure
// DropObjectsStatement; kCreateIndex CreateIndexStatement; kDropIndex DropIndexStatement;
// kCreateView CreateViewStatement (also ALTER VIEW); kCreateProcedure CreateProcedureStatement
// (also ALTER PROCEDURE); kCreateDatabase, kAlterDatabase, kDropDatabase the *DatabaseStatement
// nodes; kPermission PermissionStatement; kDeclare DeclareStatement; kSetVariable
// SetVariableStatement; kSetOption SetOptionStatement; kIf IfStatement; kWhile WhileStatement;
// kBlock BlockStatement; kBreak, kContinue, kCheckpoint SimpleStatement; kBeginTransaction,
// kCommit, kRollback, kSaveTransaction TransactionStatement; kReturn ReturnStatement; kPrint
// PrintStatement; kRaiserror RaiserrorStatement; kGoto, kLabel LabelStatement; kExecute
// ExecuteStatement; kExecuteString ExecuteStringStatement; kUse UseStatement; kKill
// KillStatement; kWaitFor WaitForStatement; kBackup BackupStatement; kRestore RestoreStatement;
// kDbcc DbccStatement; kReconfigure SimpleStatement (as kCheckpoint).

struct Statement {
  enum class Kind {
    // queries and DML
    kSelect,
    kInsert,
    kUpdate,
    kDelete,
    kTruncateTable,
    // DDL
    kCreateTable,
    kAlterTable,
    kDropTable,
    kCreateIndex,
    kDropIndex,
    kCreateView,
    kDropView,
    kCreateProcedure,
    kDropProcedure,
    kCreateDatabase,
    kAlterDatabase,
    kDropDatabase,
    kPermission,  // GRANT / DENY / REVOKE
    // procedural
    kDeclare,
    kSetVariable,
    kSetOption,
    kIf,
    kWhile,
    kBlock,
    kBreak,
    kContinue,
    kBeginTransaction,
    kCommit,
    kRollback,
    kSaveTransaction,
    kReturn,
    kPrint,
    kRaiserror,
    kGoto,
    kLabel,
    kExecute,        // EXEC proc ...
    kExecuteString,  // EXEC ('...' + @s)
    // server and session
    kUse,
    kKill,
    kWaitFor,
    kBackup,
    kRestore,
    kDbcc,
    kCheckpoint,
    kReconfigure,
    kCursor,  // CursorStatement
    kCreateFunction,  // also ALTER FUNCTION
    kDropFunction,    // DropObjectsStatement
    kCreateTrigger,   // also ALTER TRIGGER
    kDropTrigger,     // DropObjectsStatement
  };

  explicit Statement(Kind k) : kind(k) {}
  virtual ~Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  template <class T>
  const T& As() const {
    return CheckedDowncast<const T>(*this);
  }
  template <class T>
  T& As() {
    return CheckedDowncast<T>(*this);
  }

  const Kind kind;
  SourceSpan span;  // the statement's text, without a trailing ";"
};

using StatementPtr = std::unique_ptr<Statement>;
using StatementList = std::vector<StatementPtr>;

struct SelectStatement : Statement {
  SelectStatement() : Statement(Kind::kSelect) {}
  static constexpr Kind kKind = Kind::kSelect;
  QueryPtr query;
};

struct ExecuteStatement;

struct InsertStatement : Statement {
  InsertStatement() : Statement(Kind::kInsert) {}
  static constexpr Kind kKind = Kind::kInsert;
  enum class Source { kValues, kQuery, kExecute, kDefaultValues };
  ObjectName table;
  std::vector<std::string> columns;  // empty when not listed
  Source source = Source::kValues;
  std::vector<std::vector<ExprPtr>> rows;     // kValues (one row in SQL Server 2000)
  QueryPtr query;                             // kQuery
  std::unique_ptr<ExecuteStatement> execute;  // kExecute
};

struct SetClause {
  enum class Kind {
    kColumn,          // col = expr
    kVariable,        // @v = expr
    kVariableColumn,  // @v = col = expr
  };
  Kind kind = Kind::kColumn;
  std::unique_ptr<ColumnRef> column;  // may be qualified: "Document.FolderID"
  std::string variable;
  ExprPtr value;
};

// A cursor as a statement names it: a name, or a cursor variable ("@c"); GLOBAL skips locals.
struct CursorRef {
  std::string name;  // empty when absent
  bool global = false;
};

// UPDATE target SET ... [FROM sources] [WHERE ...]. The target is a name; it may be the alias
// of a table in FROM, and the target table may appear in FROM again.
struct UpdateStatement : Statement {
  UpdateStatement() : Statement(Kind::kUpdate) {}
  static constexpr Kind kKind = Kind::kUpdate;
  ExprPtr top;
  bool top_percent = false;
  ObjectName target;
  std::vector<std::string> target_hints;
  std::vector<SetClause> sets;
  std::vector<TableSourcePtr> from;
  ExprPtr where;
  CursorRef current_of;  // WHERE CURRENT OF c (where is then null)
};

// DELETE [FROM] target [FROM sources] [WHERE ...]; the same rules for target and FROM as UPDATE.
struct DeleteStatement : Statement {
  DeleteStatement() : Statement(Kind::kDelete) {}
  static constexpr Kind kKind = Kind::kDelete;
  ExprPtr top;
  bool top_percent = false;
  ObjectName target;
  std::vector<std::string> target_hints;
  std::vector<TableSourcePtr> from;
  ExprPtr where;
  CursorRef current_of;  // WHERE CURRENT OF c (where is then null)
};

struct TruncateTableStatement : Statement {
  TruncateTableStatement() : Statement(Kind::kTruncateTable) {}
  static constexpr Kind kKind = Kind::kTruncateTable;
  ObjectName table;
};

struct CreateTableStatement : Statement {
  CreateTableStatement() : Statement(Kind::kCreateTable) {}
  static constexpr Kind kKind = Kind::kCreateTable;
  ObjectName name;
  TableDefinition definition;
  std::string filegroup;  // ON [PRIMARY] / TEXTIMAGE_ON are kept here, not acted upon
};

struct AlterTableStatement : Statement {
  AlterTableStatement() : Statement(Kind::kAlterTable) {}
  static constexpr Kind kKind = Kind::kAlterTable;
  enum class Action {
    kAdd,              // ADD col-def | constraint [, ...]
    kAlterColumn,      // ALTER COLUMN col type [NULL | NOT NULL]
    kDropColumn,       // DROP COLUMN a [, b]
    kDropConstraint,   // DROP [CONSTRAINT] a [, b]
    kCheckConstraint,  // [WITH CHECK | NOCHECK] CHECK | NOCHECK CONSTRAINT {ALL | names}
    kEnableTrigger,    // ENABLE | DISABLE TRIGGER {ALL | names}
  };
  ObjectName table;
  Action action = Action::kAdd;
  std::vector<ColumnDef> add_columns;
  std::vector<TableConstraint> add_constraints;
  std::optional<bool> with_check;  // WITH CHECK / WITH NOCHECK before ADD
  ColumnDef alter_column;          // kAlterColumn: name, type, collation, nullability
  std::vector<std::string> names;  // kDropColumn / kDropConstraint / kCheckConstraint
  bool enable = true;  // kCheckConstraint: CHECK (true) or NOCHECK (false); kEnableTrigger
};

struct DropObjectsStatement : Statement {
  explicit DropObjectsStatement(Kind k) : Statement(k) {}  // kDropTable/kDropView/kDropProcedure
  static bool Is(Kind k) {
    return k == Kind::kDropTable || k == Kind::kDropView || k == Kind::kDropProcedure ||
           k == Kind::kDropFunction || k == Kind::kDropTrigger;
  }
  std::vector<ObjectName> names;
};

struct CreateIndexStatement : Statement {
  CreateIndexStatement() : Statement(Kind::kCreateIndex) {}
  static constexpr Kind kKind = Kind::kCreateIndex;
  bool unique = false;
  std::optional<bool> clustered;
  std::string name;
  ObjectName table;
  std::vector<IndexColumn> columns;
  std::vector<std::string> options;  // WITH options as written, upper-cased ("FILLFACTOR = 90")
};

struct DropIndexStatement : Statement {
  DropIndexStatement() : Statement(Kind::kDropIndex) {}
  static constexpr Kind kKind = Kind::kDropIndex;
  struct Target {
    ObjectName table;  // DROP INDEX table.index, or DROP INDEX index ON table
    std::string index;
  };
  std::vector<Target> targets;
};

struct CreateViewStatement : Statement {
  CreateViewStatement() : Statement(Kind::kCreateView) {}
  static constexpr Kind kKind = Kind::kCreateView;
  bool alter = false;
  ObjectName name;
  std::vector<std::string> columns;  // CREATE VIEW v (a, b)
  std::vector<std::string> options;  // VIEW_METADATA, SCHEMABINDING, ENCRYPTION
  QueryPtr query;
  bool check_option = false;
  std::string text;  // the whole CREATE/ALTER VIEW text, as stored in the catalogue
};

struct ProcedureParameter {
  std::string name;  // with "@"
  TypeRef type;
  bool varying = false;
  ExprPtr default_value;  // may be null
  bool output = false;
  SourceSpan span;
};

struct CreateProcedureStatement : Statement {
  CreateProcedureStatement() : Statement(Kind::kCreateProcedure) {}
  static constexpr Kind kKind = Kind::kCreateProcedure;
  bool alter = false;
  ObjectName name;
  int number = 0;  // ;n group number, 0 when absent
  std::vector<ProcedureParameter> parameters;
  bool parenthesized = false;        // parameters written in ( )
  std::vector<std::string> options;  // RECOMPILE, ENCRYPTION
  bool for_replication = false;
  StatementList body;
  SourceSpan body_span;  // from the first statement after AS to the end of the batch
  std::string text;      // the whole CREATE/ALTER PROCEDURE text, as stored in the catalogue
};

// CREATE/ALTER FUNCTION: scalar (RETURNS type ... BEGIN ... RETURN expr END), inline table
// (RETURNS TABLE ... RETURN (SELECT ...)) or multi-statement table (RETURNS @r TABLE (...)).
struct CreateFunctionStatement : Statement {
  CreateFunctionStatement() : Statement(Kind::kCreateFunction) {}
  static constexpr Kind kKind = Kind::kCreateFunction;
  enum class Returns { kScalar, kInlineTable, kTable };
  bool alter = false;
  ObjectName name;
  std::vector<ProcedureParameter> parameters;
  Returns returns = Returns::kScalar;
  TypeRef type;                            // kScalar
  std::string table_variable;              // kTable, with "@"
  std::unique_ptr<TableDefinition> table;  // kTable
  QueryPtr query;                          // kInlineTable
  StatementList body;                      // kScalar, kTable
  std::vector<std::string> options;        // SCHEMABINDING, ENCRYPTION
  std::string text;                        // the whole text, as stored in the catalogue
};

// CREATE/ALTER TRIGGER name ON table {FOR | AFTER | INSTEAD OF} INSERT, UPDATE, DELETE AS body.
struct CreateTriggerStatement : Statement {
  CreateTriggerStatement() : Statement(Kind::kCreateTrigger) {}
  static constexpr Kind kKind = Kind::kCreateTrigger;
  bool alter = false;
  ObjectName name;
  ObjectName table;
  std::vector<std::string> options;  // ENCRYPTION
  std::string timing;                // "FOR", "AFTER" or "INSTEAD OF", as written
  int timing_line = 1;
  bool on_insert = false;
  bool on_update = false;
  bool on_delete = false;
  bool not_for_replication = false;
  StatementList body;
  std::string text;  // the whole text, as stored in the catalogue
};

// One file of CREATE/ALTER DATABASE: ( NAME = x, FILENAME = 'path' [, SIZE = n] ... ).
struct DatabaseFile {
  std::string name;
  std::string filename;
  std::string size;       // as written, e.g. "10MB", "10"; empty when not given
  std::string max_size;   // "UNLIMITED" or as written
  std::string growth;     // "10%", "1MB"
  std::string new_name;   // ALTER DATABASE ... MODIFY FILE (NAME = x, NEWNAME = y)
  std::string filegroup;  // FILEGROUP the file was listed under; "PRIMARY" for ON PRIMARY
};

struct CreateDatabaseStatement : Statement {
  CreateDatabaseStatement() : Statement(Kind::kCreateDatabase) {}
  static constexpr Kind kKind = Kind::kCreateDatabase;
  std::string name;
  std::vector<DatabaseFile> files;
  std::vector<DatabaseFile> log_files;
  std::string collation;
  bool for_attach = false;
};

struct DatabaseOption {
  std::string name;   // upper-cased: "AUTO_SHRINK", "SINGLE_USER", "RECOVERY"
  std::string value;  // upper-cased: "ON", "OFF", "SIMPLE"; empty for single-word options
};

struct AlterDatabaseStatement : Statement {
  AlterDatabaseStatement() : Statement(Kind::kAlterDatabase) {}
  static constexpr Kind kKind = Kind::kAlterDatabase;
  enum class Action {
    kSet,
    kModifyName,
    kAddFile,
    kAddLogFile,
    kRemoveFile,
    kModifyFile,
    kCollate
  };
  std::string name;
  Action action = Action::kSet;
  std::vector<DatabaseOption> options;  // kSet
  std::string termination;              // "ROLLBACK IMMEDIATE", "ROLLBACK AFTER 10", "NO_WAIT"
  std::string new_name;             // kModifyName; kCollate: the collation; kRemoveFile: the file
  std::vector<DatabaseFile> files;  // kAddFile / kAddLogFile / kModifyFile
};

struct DropDatabaseStatement : Statement {
  DropDatabaseStatement() : Statement(Kind::kDropDatabase) {}
  static constexpr Kind kKind = Kind::kDropDatabase;
  std::vector<std::string> names;
};

struct PermissionStatement : Statement {
  PermissionStatement() : Statement(Kind::kPermission) {}
  static constexpr Kind kKind = Kind::kPermission;
  enum class Action { kGrant, kDeny, kRevoke };
  Action action = Action::kGrant;
  // Upper-cased, one blank between words: "SELECT", "EXECUTE" (for EXEC too), "REFERENCES",
  // "ALL" (also for ALL PRIVILEGES), "CREATE TABLE", "BACKUP LOG".
  std::vector<std::string> permissions;
  ObjectName object;  // empty() for statement permissions
  std::vector<std::string> columns;
  std::vector<std::string> principals;  // as written; PUBLIC as "public"
  bool with_grant_option = false;
  bool grant_option_for = false;  // REVOKE GRANT OPTION FOR
  bool cascade = false;
  std::string as_principal;  // AS role
};

struct VariableDecl {
  std::string name;  // with "@"
  TypeRef type;
  std::unique_ptr<TableDefinition> table;  // DECLARE @t TABLE (...); type is then empty
  SourceSpan span;
};

struct DeclareStatement : Statement {
  DeclareStatement() : Statement(Kind::kDeclare) {}
  static constexpr Kind kKind = Kind::kDeclare;
  std::vector<VariableDecl> variables;
};

struct SetVariableStatement : Statement {
  SetVariableStatement() : Statement(Kind::kSetVariable) {}
  static constexpr Kind kKind = Kind::kSetVariable;
  std::string variable;  // with "@"
  ExprPtr value;
};

// SET NOCOUNT ON, SET ANSI_NULLS, QUOTED_IDENTIFIER OFF, SET ROWCOUNT 10, SET IDENTITY_INSERT t ON,
// SET TRANSACTION ISOLATION LEVEL READ COMMITTED, SET DATEFORMAT dmy, ...
struct SetOptionStatement : Statement {
  SetOptionStatement() : Statement(Kind::kSetOption) {}
  static constexpr Kind kKind = Kind::kSetOption;
  enum class ValueKind { kOnOff, kExpr, kWords };
  // Upper-cased option names; several only for ON/OFF options listed with commas. Multi-word
  // options are joined by one blank: "TRANSACTION ISOLATION LEVEL", "STATISTICS IO".
  std::vector<std::string> options;
  ValueKind value_kind = ValueKind::kOnOff;
  bool on = false;    // kOnOff
  ExprPtr value;      // kExpr: ROWCOUNT, TEXTSIZE, LOCK_TIMEOUT, DATEFIRST (number or @var)
  std::string words;  // kWords: "READ COMMITTED", "LOW" upper-cased; "dmy", "Français" as written
  ObjectName table;   // IDENTITY_INSERT
};

struct IfStatement : Statement {
  IfStatement() : Statement(Kind::kIf) {}
  static constexpr Kind kKind = Kind::kIf;
  ExprPtr condition;
  StatementPtr then_branch;
  StatementPtr else_branch;  // may be null
};

struct WhileStatement : Statement {
  WhileStatement() : Statement(Kind::kWhile) {}
  static constexpr Kind kKind = Kind::kWhile;
  ExprPtr condition;
  StatementPtr body;
};

struct BlockStatement : Statement {
  BlockStatement() : Statement(Kind::kBlock) {}
  static constexpr Kind kKind = Kind::kBlock;
  StatementList statements;
};

struct SimpleStatement : Statement {
  explicit SimpleStatement(Kind k) : Statement(k) {}  // kBreak, kContinue, kCheckpoint
  static bool Is(Kind k) {
    return k == Kind::kBreak || k == Kind::kContinue || k == Kind::kCheckpoint ||
           k == Kind::kReconfigure;
  }
};

// BEGIN TRAN[SACTION] [name], COMMIT [TRAN[SACTION] | WORK] [name], ROLLBACK ..., SAVE TRAN name.
struct TransactionStatement : Statement {
  explicit TransactionStatement(Kind k) : Statement(k) {}
  static bool Is(Kind k) {
    return k == Kind::kBeginTransaction || k == Kind::kCommit || k == Kind::kRollback ||
           k == Kind::kSaveTransaction;
  }
  std::string name;          // a name or a @variable; empty when not given
  bool distributed = false;  // BEGIN DISTRIBUTED TRAN
};

struct ReturnStatement : Statement {
  ReturnStatement() : Statement(Kind::kReturn) {}
  static constexpr Kind kKind = Kind::kReturn;
  ExprPtr value;  // may be null
};

struct PrintStatement : Statement {
  PrintStatement() : Statement(Kind::kPrint) {}
  static constexpr Kind kKind = Kind::kPrint;
  ExprPtr value;
};

struct RaiserrorStatement : Statement {
  RaiserrorStatement() : Statement(Kind::kRaiserror) {}
  static constexpr Kind kKind = Kind::kRaiserror;
  ExprPtr message;  // a message number, a text or a @variable
  ExprPtr severity;
  ExprPtr state;
  std::vector<ExprPtr> args;
  std::vector<std::string> options;  // LOG, NOWAIT, SETERROR
};

// GOTO label / label:
struct LabelStatement : Statement {
  explicit LabelStatement(Kind k) : Statement(k) {}  // kGoto or kLabel
  static bool Is(Kind k) { return k == Kind::kGoto || k == Kind::kLabel; }
  std::string label;
};

struct ExecuteArgument {
  std::string name;  // "@name" for @name = value; empty for positional arguments
  ExprPtr value;     // a Literal, Variable or DefaultExpr
  bool output = false;
  SourceSpan span;
};

struct ExecuteStatement : Statement {
  ExecuteStatement() : Statement(Kind::kExecute) {}
  static constexpr Kind kKind = Kind::kExecute;
  std::string return_variable;     // EXEC @r = proc; with "@", empty when absent
  ObjectName procedure;            // empty() when the procedure name is in a variable
  std::string procedure_variable;  // EXEC @name ...
  int number = 0;                  // proc;n
  std::vector<ExecuteArgument> args;
  bool recompile = false;  // WITH RECOMPILE
  bool implicit = false;   // first statement of a batch, called without EXEC
};

struct ExecuteStringStatement : Statement {
  ExecuteStringStatement() : Statement(Kind::kExecuteString) {}
  static constexpr Kind kKind = Kind::kExecuteString;
  ExprPtr text;  // string literals and variables joined by +
};

struct UseStatement : Statement {
  UseStatement() : Statement(Kind::kUse) {}
  static constexpr Kind kKind = Kind::kUse;
  std::string database;
};

struct KillStatement : Statement {
  KillStatement() : Statement(Kind::kKill) {}
  static constexpr Kind kKind = Kind::kKill;
  ExprPtr target;  // normally an integer literal (the spid)
};

struct WaitForStatement : Statement {
  WaitForStatement() : Statement(Kind::kWaitFor) {}
  static constexpr Kind kKind = Kind::kWaitFor;
  bool delay = true;  // DELAY; false for TIME
  ExprPtr value;      // 'hh:mm:ss' or a @variable
};

struct BackupStatement : Statement {
  BackupStatement() : Statement(Kind::kBackup) {}
  static constexpr Kind kKind = Kind::kBackup;
  bool log = false;  // BACKUP LOG; false for BACKUP DATABASE
  std::string database;
  struct Device {
    std::string type;  // "DISK", "TAPE", or empty for a logical device name
    ExprPtr target;
  };
  std::vector<Device> devices;  // TO ...
  struct Option {
    std::string name;  // upper-cased: "TRUNCATE_ONLY", "NO_LOG", "INIT", "NAME"
    ExprPtr value;     // NAME = 'x'; null for flags
  };
  std::vector<Option> options;
};

struct RestoreStatement : Statement {
  RestoreStatement() : Statement(Kind::kRestore) {}
  static constexpr Kind kKind = Kind::kRestore;
  enum class What { kDatabase, kLog, kFileListOnly, kHeaderOnly };
  What what = What::kDatabase;
  std::string database;                          // RESTORE DATABASE / LOG only
  std::vector<BackupStatement::Device> devices;  // FROM ...
  struct Move {
    ExprPtr logical;
    ExprPtr physical;
  };
  std::vector<Move> moves;                       // WITH MOVE 'x' TO 'y'
  std::vector<BackupStatement::Option> options;  // REPLACE, FILE = n, STATS = n, ...
};

struct DbccStatement : Statement {
  DbccStatement() : Statement(Kind::kDbcc) {}
  static constexpr Kind kKind = Kind::kDbcc;
  std::string command;  // upper-cased: "SHRINKFILE", "CHECKDB"
  // Arguments as expressions; a bare name (DBCC SHRINKFILE(MyDb_Log, 3)) is an unqualified
  // ColumnRef whose `column` is the name.
  std::vector<ExprPtr> args;
  std::vector<std::string> options;  // WITH NO_INFOMSGS -> {"NO_INFOMSGS"}
};

// DECLARE c CURSOR ..., DECLARE @c CURSOR, SET @c = CURSOR ..., OPEN, FETCH, CLOSE, DEALLOCATE.
struct CursorStatement : Statement {
  CursorStatement() : Statement(Kind::kCursor) {}
  static constexpr Kind kKind = Kind::kCursor;
  enum class Action {
    kDeclare,
    kDeclareVariable,
    kSetVariable,
    kOpen,
    kFetch,
    kClose,
    kDeallocate
  };
  Action action = Action::kDeclare;
  CursorRef cursor;                    // kDeclareVariable: the first of `variables`
  std::vector<std::string> variables;  // kDeclareVariable
  // Declarations: options upper-cased as written (INSENSITIVE, SCROLL, LOCAL, STATIC, ...,
  // "READ ONLY" for the SQL-92 form), FOR UPDATE [OF columns] and the query's text.
  std::vector<std::string> options;
  bool for_update = false;
  std::vector<std::string> update_columns;
  QueryPtr query;
  SourceSpan query_span;
  // FETCH: NEXT, PRIOR, FIRST, LAST, ABSOLUTE or RELATIVE, with its offset, and INTO variables.
  std::string fetch = "NEXT";
  ExprPtr offset;
  std::vector<std::string> into;
};

// ---------------------------------------------------------------------------------------------

struct Batch {
  std::string text;  // the text that was parsed; spans index into it
  StatementList statements;
  int parameter_markers = 0;  // number of ? markers
};

}  // namespace sandbox::tsql
