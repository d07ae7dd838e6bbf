// The grammar beyond the statements the product sends: what the executor and a client may
// rely on.
#include "sandbox/tsql/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox/tsql/printer.h"

namespace sandbox::tsql {
namespace {

template <class T>
const T& Single(const Batch& batch, Statement::Kind kind) {
  EXPECT_EQ(batch.statements.size(), 1u) << batch.text;
  EXPECT_EQ(batch.statements.at(0)->kind, kind) << batch.text;
  return batch.statements.at(0)->As<T>();
}

const QuerySpec& SpecOf(const Batch& b) {
  return Single<SelectStatement>(b, Statement::Kind::kSelect).query->As<QuerySpec>();
}

std::vector<Statement::Kind> Kinds(const Batch& b) {
  std::vector<Statement::Kind> kinds;
  for (const auto& s : b.statements) kinds.push_back(s->kind);
  return kinds;
}

TEST(ParserTest, SelectItemForms) {
  Batch b = ParseBatch("SELECT a, b AS c, d e, f = g, 'h' = 1, i 'j', t.*, dbo.t.*, * FROM t");
  const QuerySpec& q = SpecOf(b);
  ASSERT_EQ(q.items.size(), 9u);
  EXPECT_EQ(q.items[0].alias, "");
  EXPECT_EQ(q.items[1].alias, "c");
  EXPECT_EQ(q.items[2].alias, "e");
  EXPECT_EQ(q.items[3].alias, "f");
  EXPECT_EQ(ToSql(*q.items[3].expr), "g");
  EXPECT_EQ(q.items[4].alias, "h");
  EXPECT_EQ(q.items[5].alias, "j");
  EXPECT_EQ(q.items[6].kind, SelectItem::Kind::kTableStar);
  EXPECT_EQ(q.items[7].table.owner, "dbo");
  EXPECT_EQ(q.items[7].table.name, "t");
  EXPECT_EQ(q.items[8].kind, SelectItem::Kind::kStar);
}

TEST(ParserTest, TopDistinctIntoGroupHavingOrder) {
  Batch b = ParseBatch(
      "SELECT DISTINCT TOP 10 PERCENT a, COUNT(*) n INTO #x FROM t GROUP BY a HAVING COUNT(*) > "
      "1 ORDER BY 2 DESC, a");
  const Query& q = *Single<SelectStatement>(b, Statement::Kind::kSelect).query;
  const auto& s = q.As<QuerySpec>();
  EXPECT_TRUE(s.distinct);
  EXPECT_EQ(s.top->As<Literal>().int_value, 10);
  EXPECT_TRUE(s.top_percent);
  EXPECT_EQ(s.into.name, "#x");
  ASSERT_EQ(s.group_by.size(), 1u);
  EXPECT_EQ(ToSql(*s.having), "COUNT(*) > 1");
  ASSERT_EQ(q.order_by.size(), 2u);
  EXPECT_EQ(q.order_by[0].expr->As<Literal>().int_value, 2);
  EXPECT_TRUE(q.order_by[0].descending);
  EXPECT_FALSE(q.order_by[1].descending);
}

TEST(ParserTest, JoinTrees) {
  // A JOIN B JOIN C ON c1 ON c2 nests B and C.
  Batch b = ParseBatch("SELECT * FROM a JOIN b JOIN c ON b.x = c.x ON a.x = b.x CROSS JOIN d, e");
  const QuerySpec& q = SpecOf(b);
  ASSERT_EQ(q.from.size(), 2u);
  const auto& cross = q.from[0]->As<Join>();
  EXPECT_EQ(cross.type, JoinType::kCross);
  EXPECT_EQ(cross.on, nullptr);
  const auto& outer = cross.left->As<Join>();
  EXPECT_EQ(ToSql(*outer.on), "a.x = b.x");
  EXPECT_EQ(ToSql(*outer.right->As<Join>().on), "b.x = c.x");
  EXPECT_EQ(q.from[1]->As<TableRef>().name.name, "e");

  Batch full = ParseBatch("SELECT * FROM a FULL OUTER JOIN b ON 1 = 1 LEFT JOIN c ON 2 = 2");
  const auto& left = SpecOf(full).from[0]->As<Join>();
  EXPECT_EQ(left.type, JoinType::kLeft);
  EXPECT_EQ(left.left->As<Join>().type, JoinType::kFull);
}

TEST(ParserTest, DerivedTablesAndHints) {
  Batch b = ParseBatch(
      "SELECT * FROM (SELECT 1 AS x) AS d (y), (SELECT 2 z) e, t WITH (NOLOCK, INDEX(ix)) "
      "JOIN u (NOLOCK) ON 1 = 1");
  const QuerySpec& q = SpecOf(b);
  ASSERT_EQ(q.from.size(), 3u);
  const auto& d = q.from[0]->As<DerivedTable>();
  EXPECT_EQ(d.alias, "d");
  EXPECT_EQ(d.column_aliases, std::vector<std::string>{"y"});
  EXPECT_EQ(q.from[1]->As<DerivedTable>().alias, "e");
  const auto& join = q.from[2]->As<Join>();
  EXPECT_EQ(join.left->As<TableRef>().hints, (std::vector<std::string>{"NOLOCK", "INDEX(IX)"}));
  EXPECT_EQ(join.right->As<TableRef>().hints, std::vector<std::string>{"NOLOCK"});
}

TEST(ParserTest, UnionChainsAreLeftDeep) {
  Batch b = ParseBatch("SELECT 1 UNION SELECT 2 UNION ALL (SELECT 3) ORDER BY 1");
  const Query& q = *Single<SelectStatement>(b, Statement::Kind::kSelect).query;
  const auto& top = q.As<UnionQuery>();
  EXPECT_TRUE(top.all);
  EXPECT_FALSE(top.left->As<UnionQuery>().all);
  EXPECT_EQ(q.order_by.size(), 1u);
  EXPECT_EQ(q.FirstSpec().items[0].expr->As<Literal>().int_value, 1);
}

TEST(ParserTest, Predicates) {
  Batch b = ParseBatch(
      "SELECT * FROM t WHERE a BETWEEN 1 AND 2 AND b NOT LIKE 'x!%' ESCAPE '!' AND c NOT IN "
      "(1, 2) AND d IN (SELECT e FROM f) AND g IS NOT NULL AND NOT EXISTS (SELECT 1) AND "
      "CONTAINS(PlainText, '\"abc\"') AND h !< 3");
  const QuerySpec& q = SpecOf(b);
  std::vector<const Expr*> terms;
  const Expr* e = q.where.get();
  while (e->kind == Expr::Kind::kBinary && e->As<BinaryExpr>().op == BinaryOp::kAnd) {
    terms.insert(terms.begin(), e->As<BinaryExpr>().right.get());
    e = e->As<BinaryExpr>().left.get();
  }
  terms.insert(terms.begin(), e);
  ASSERT_EQ(terms.size(), 8u);
  EXPECT_EQ(terms[0]->kind, Expr::Kind::kBetween);
  const auto& like = terms[1]->As<LikeExpr>();
  EXPECT_TRUE(like.negated);
  EXPECT_EQ(like.escape->As<Literal>().text, "!");
  EXPECT_TRUE(terms[2]->As<InExpr>().negated);
  EXPECT_EQ(terms[2]->As<InExpr>().list.size(), 2u);
  EXPECT_NE(terms[3]->As<InExpr>().subquery, nullptr);
  EXPECT_TRUE(terms[4]->As<IsNullExpr>().negated);
  EXPECT_EQ(terms[5]->As<UnaryExpr>().operand->kind, Expr::Kind::kExists);
  const auto& contains = terms[6]->As<ContainsExpr>();
  EXPECT_EQ(contains.columns.at(0)->As<ColumnRef>().column, "PlainText");
  EXPECT_EQ(contains.search->As<Literal>().text, "\"abc\"");
  EXPECT_EQ(terms[7]->As<BinaryExpr>().op, BinaryOp::kNotLess);
}

TEST(ParserTest, ParenthesesInConditionsMayHoldValuesOrConditions) {
  Batch b = ParseBatch("SELECT * FROM t WHERE (a + 1) * 2 = 4 AND ((b)) > 3 AND (c = 1 OR d = 2)");
  EXPECT_EQ(ToSql(*SpecOf(b).where), "(a + 1) * 2 = 4 AND b > 3 AND (c = 1 OR d = 2)");
}

TEST(ParserTest, OperatorPrecedence) {
  ExprPtr sum = ParseExpression("a + b * c");
  EXPECT_EQ(sum->As<BinaryExpr>().op, BinaryOp::kAdd);
  EXPECT_EQ(sum->As<BinaryExpr>().right->As<BinaryExpr>().op, BinaryOp::kMultiply);
  ExprPtr diff = ParseExpression("a - b - c");
  EXPECT_EQ(diff->As<BinaryExpr>().left->kind, Expr::Kind::kBinary);  // left-associative
  EXPECT_EQ(diff->As<BinaryExpr>().right->As<ColumnRef>().column, "c");
  // & | ^ bind like + in T-SQL.
  EXPECT_EQ(ParseExpression("a & b + c")->As<BinaryExpr>().op, BinaryOp::kAdd);
  EXPECT_EQ(ToSql(*ParseExpression("~a * -b")), "~a * -b");
  ExprPtr neg = ParseExpression("-5");
  EXPECT_EQ(neg->As<Literal>().int_value, -5);
  EXPECT_EQ(neg->As<Literal>().text, "-5");
  ExprPtr double_neg = ParseExpression("- -5");
  EXPECT_EQ(double_neg->As<UnaryExpr>().operand->As<Literal>().int_value, -5);
}

TEST(ParserTest, FunctionsCastsAndCase) {
  Batch b = ParseBatch(
      "SELECT CAST(a AS varchar(10)), CONVERT(decimal(10, 2), b, 1), COUNT(DISTINCT c), "
      "dbo.fn(1), LEFT(d, 2), CASE WHEN e = 1 THEN 'x' ELSE 'y' END, CASE f WHEN 1 THEN 2 END, "
      "@@ROWCOUNT, current_timestamp, GETDATE(), (SELECT 1), ?");
  const QuerySpec& q = SpecOf(b);
  ASSERT_EQ(q.items.size(), 12u);
  EXPECT_EQ(q.items[0].expr->As<CastExpr>().type.ToString(), "varchar(10)");
  const auto& convert = q.items[1].expr->As<ConvertExpr>();
  EXPECT_EQ(convert.type.length, 10);
  EXPECT_EQ(convert.type.scale, 2);
  EXPECT_EQ(convert.style->As<Literal>().int_value, 1);
  EXPECT_TRUE(q.items[2].expr->As<FunctionCall>().distinct);
  EXPECT_EQ(q.items[3].expr->As<FunctionCall>().name.owner, "dbo");
  EXPECT_EQ(q.items[4].expr->As<FunctionCall>().name.name, "LEFT");
  const auto& searched = q.items[5].expr->As<CaseExpr>();
  EXPECT_EQ(searched.operand, nullptr);
  EXPECT_TRUE(searched.whens[0].condition->IsCondition());
  const auto& simple = q.items[6].expr->As<CaseExpr>();
  EXPECT_NE(simple.operand, nullptr);
  EXPECT_EQ(simple.else_result, nullptr);
  EXPECT_EQ(q.items[7].expr->As<GlobalVariable>().name, "@@ROWCOUNT");
  EXPECT_TRUE(q.items[8].expr->As<FunctionCall>().niladic);
  EXPECT_FALSE(q.items[9].expr->As<FunctionCall>().niladic);
  EXPECT_EQ(q.items[10].expr->kind, Expr::Kind::kSubquery);
  EXPECT_EQ(q.items[11].expr->As<ParameterMarker>().index, 0);
  EXPECT_EQ(b.parameter_markers, 1);
}

TEST(ParserTest, InsertSources) {
  Batch b = ParseBatch(
      "INSERT t DEFAULT VALUES INSERT INTO t (a) EXEC dbo.p 1 INSERT t (SELECT 1) "
      "INSERT t (a, b) SELECT 1, 2 UNION SELECT 3, 4 INSERT t VALUES (DEFAULT, NULL, -1)");
  ASSERT_EQ(b.statements.size(), 5u);
  EXPECT_EQ(b.statements[0]->As<InsertStatement>().source, InsertStatement::Source::kDefaultValues);
  const auto& exec = b.statements[1]->As<InsertStatement>();
  EXPECT_EQ(exec.source, InsertStatement::Source::kExecute);
  EXPECT_EQ(exec.execute->procedure.name, "p");
  EXPECT_EQ(exec.execute->args.size(), 1u);
  EXPECT_EQ(b.statements[2]->As<InsertStatement>().source, InsertStatement::Source::kQuery);
  EXPECT_TRUE(b.statements[2]->As<InsertStatement>().columns.empty());
  EXPECT_EQ(b.statements[3]->As<InsertStatement>().query->kind, Query::Kind::kUnion);
  const auto& values = b.statements[4]->As<InsertStatement>().rows.at(0);
  EXPECT_EQ(values[0]->kind, Expr::Kind::kDefault);
  EXPECT_EQ(values[1]->As<Literal>().type, Literal::Type::kNull);
}

TEST(ParserTest, UpdateSetForms) {
  Batch b = ParseBatch("UPDATE t SET @v = a = a + 1, @w = 2, b = DEFAULT WHERE c = 1");
  const auto& u = Single<UpdateStatement>(b, Statement::Kind::kUpdate);
  ASSERT_EQ(u.sets.size(), 3u);
  EXPECT_EQ(u.sets[0].kind, SetClause::Kind::kVariableColumn);
  EXPECT_EQ(u.sets[0].variable, "@v");
  EXPECT_EQ(u.sets[0].column->column, "a");
  EXPECT_EQ(ToSql(*u.sets[0].value), "a + 1");
  EXPECT_EQ(u.sets[1].kind, SetClause::Kind::kVariable);
  EXPECT_EQ(u.sets[1].column, nullptr);
  EXPECT_EQ(u.sets[2].value->kind, Expr::Kind::kDefault);
}

TEST(ParserTest, DeleteForms) {
  Batch b = ParseBatch(
      "DELETE t WHERE a = 1 DELETE TOP (5) FROM t DELETE FROM t FROM t INNER JOIN u ON t.a = "
      "u.a TRUNCATE TABLE dbo.t");
  ASSERT_EQ(b.statements.size(), 4u);
  EXPECT_EQ(b.statements[0]->As<DeleteStatement>().target.name, "t");
  EXPECT_EQ(b.statements[1]->As<DeleteStatement>().top->As<Literal>().int_value, 5);
  EXPECT_EQ(b.statements[2]->As<DeleteStatement>().from.size(), 1u);
  EXPECT_EQ(b.statements[3]->As<TruncateTableStatement>().table.owner, "dbo");
}

TEST(ParserTest, CreateTableConstraints) {
  Batch b = ParseBatch(
      "CREATE TABLE #t (a int IDENTITY PRIMARY KEY, b varchar(10) COLLATE Latin1_General_CI_AS "
      "NOT NULL UNIQUE, c AS a + 1, d int CONSTRAINT fk FOREIGN KEY REFERENCES u(x) ON DELETE "
      "CASCADE, e int CHECK (e > 0), CONSTRAINT uq UNIQUE NONCLUSTERED (b DESC), FOREIGN KEY (a, "
      "e) REFERENCES v (x, y), f decimal(10, 2) CONSTRAINT df_f DEFAULT (0.5), g "
      "uniqueidentifier ROWGUIDCOL DEFAULT NEWID(), h nvarchar(MAX))");
  const auto& t = Single<CreateTableStatement>(b, Statement::Kind::kCreateTable);
  const auto& cols = t.definition.columns;
  ASSERT_EQ(cols.size(), 8u);
  EXPECT_TRUE(cols[0].identity);
  EXPECT_EQ(cols[0].constraints.at(0).type, TableConstraint::Type::kPrimaryKey);
  EXPECT_EQ(cols[0].constraints.at(0).columns.at(0).name, "a");
  EXPECT_EQ(cols[1].collation, "Latin1_General_CI_AS");
  EXPECT_EQ(cols[1].nullability, Nullability::kNotNull);
  EXPECT_EQ(cols[1].constraints.at(0).type, TableConstraint::Type::kUnique);
  EXPECT_EQ(ToSql(*cols[2].computed), "a + 1");
  const auto& fk = cols[3].constraints.at(0);
  EXPECT_EQ(fk.name, "fk");
  EXPECT_EQ(fk.ref_table.name, "u");
  EXPECT_EQ(fk.ref_columns, std::vector<std::string>{"x"});
  EXPECT_EQ(fk.on_delete, "CASCADE");
  EXPECT_EQ(fk.columns.at(0).name, "d");
  EXPECT_EQ(ToSql(*cols[4].constraints.at(0).expr), "e > 0");
  EXPECT_EQ(cols[5].default_name, "df_f");
  EXPECT_EQ(ToSql(*cols[5].default_value), "0.5");
  EXPECT_TRUE(cols[6].rowguidcol);
  EXPECT_TRUE(cols[7].type.max);
  ASSERT_EQ(t.definition.constraints.size(), 2u);
  EXPECT_EQ(t.definition.constraints[0].clustered, false);
  EXPECT_TRUE(t.definition.constraints[0].columns.at(0).descending);
  EXPECT_EQ(t.definition.constraints[1].columns.size(), 2u);
}

TEST(ParserTest, AlterTableActions) {
  Batch add = ParseBatch("ALTER TABLE t ADD a int NULL, b int, CONSTRAINT df DEFAULT 0 FOR b");
  const auto& a = Single<AlterTableStatement>(add, Statement::Kind::kAlterTable);
  EXPECT_EQ(a.action, AlterTableStatement::Action::kAdd);
  EXPECT_EQ(a.add_columns.size(), 2u);
  ASSERT_EQ(a.add_constraints.size(), 1u);
  EXPECT_EQ(a.add_constraints[0].type, TableConstraint::Type::kDefault);
  EXPECT_EQ(a.add_constraints[0].columns.at(0).name, "b");

  Batch drop = ParseBatch("ALTER TABLE t DROP COLUMN a, COLUMN b");
  const auto& d = Single<AlterTableStatement>(drop, Statement::Kind::kAlterTable);
  EXPECT_EQ(d.action, AlterTableStatement::Action::kDropColumn);
  EXPECT_EQ(d.names, (std::vector<std::string>{"a", "b"}));

  Batch constraint = ParseBatch("ALTER TABLE t DROP CONSTRAINT PK_t");
  EXPECT_EQ(Single<AlterTableStatement>(constraint, Statement::Kind::kAlterTable).action,
            AlterTableStatement::Action::kDropConstraint);

  Batch nocheck = ParseBatch("ALTER TABLE t NOCHECK CONSTRAINT ALL");
  const auto& n = Single<AlterTableStatement>(nocheck, Statement::Kind::kAlterTable);
  EXPECT_EQ(n.action, AlterTableStatement::Action::kCheckConstraint);
  EXPECT_FALSE(n.enable);

  Batch column = ParseBatch("ALTER TABLE dbo.t ALTER COLUMN c nvarchar(20) NOT NULL");
  const auto& c = Single<AlterTableStatement>(column, Statement::Kind::kAlterTable);
  EXPECT_EQ(c.alter_column.nullability, Nullability::kNotNull);
}

TEST(ParserTest, IndexesAndDrops) {
  Batch b = ParseBatch(
      "CREATE UNIQUE CLUSTERED INDEX i ON dbo.t (a DESC, b) WITH FILLFACTOR = 80, PAD_INDEX ON "
      "[PRIMARY] DROP INDEX i ON t, t.j DROP TABLE a, b.c DROP VIEW v DROP PROC p DROP DATABASE "
      "x, y");
  ASSERT_EQ(b.statements.size(), 6u);
  const auto& ix = b.statements[0]->As<CreateIndexStatement>();
  EXPECT_TRUE(ix.unique);
  EXPECT_EQ(ix.clustered, true);
  EXPECT_TRUE(ix.columns[0].descending);
  EXPECT_EQ(ix.options, (std::vector<std::string>{"FILLFACTOR = 80", "PAD_INDEX"}));
  const auto& drop = b.statements[1]->As<DropIndexStatement>();
  ASSERT_EQ(drop.targets.size(), 2u);
  EXPECT_EQ(drop.targets[0].index, "i");
  EXPECT_EQ(drop.targets[0].table.name, "t");
  EXPECT_EQ(drop.targets[1].index, "j");
  EXPECT_EQ(b.statements[2]->As<DropObjectsStatement>().names.size(), 2u);
  EXPECT_EQ(b.statements[3]->kind, Statement::Kind::kDropView);
  EXPECT_EQ(b.statements[4]->kind, Statement::Kind::kDropProcedure);
  EXPECT_EQ(b.statements[5]->As<DropDatabaseStatement>().names,
            (std::vector<std::string>{"x", "y"}));
}

TEST(ParserTest, CreateDatabaseWithFilesAndAttach) {
  Batch b = ParseBatch(
      "CREATE DATABASE x ON PRIMARY (NAME = x_dat, FILENAME = 'C:\\x.mdf', SIZE = 10MB, MAXSIZE "
      "= UNLIMITED, FILEGROWTH = 10%), FILEGROUP g (NAME = 'y', FILENAME = 'C:\\y.ndf') LOG ON "
      "(NAME = x_log, FILENAME = 'C:\\x.ldf') FOR ATTACH");
  const auto& c = Single<CreateDatabaseStatement>(b, Statement::Kind::kCreateDatabase);
  ASSERT_EQ(c.files.size(), 2u);
  EXPECT_EQ(c.files[0].filegroup, "PRIMARY");
  EXPECT_EQ(c.files[0].size, "10MB");
  EXPECT_EQ(c.files[0].max_size, "UNLIMITED");
  EXPECT_EQ(c.files[0].growth, "10%");
  EXPECT_EQ(c.files[1].filegroup, "g");
  EXPECT_EQ(c.files[1].name, "y");
  ASSERT_EQ(c.log_files.size(), 1u);
  EXPECT_EQ(c.log_files[0].filename, "C:\\x.ldf");
  EXPECT_TRUE(c.for_attach);
}

TEST(ParserTest, AlterDatabase) {
  Batch rename = ParseBatch("ALTER DATABASE x MODIFY NAME = y");
  const auto& r = Single<AlterDatabaseStatement>(rename, Statement::Kind::kAlterDatabase);
  EXPECT_EQ(r.action, AlterDatabaseStatement::Action::kModifyName);
  EXPECT_EQ(r.new_name, "y");
  Batch single = ParseBatch("ALTER DATABASE x SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
  const auto& s = Single<AlterDatabaseStatement>(single, Statement::Kind::kAlterDatabase);
  EXPECT_EQ(s.options.at(0).name, "SINGLE_USER");
  EXPECT_EQ(s.options.at(0).value, "");
  EXPECT_EQ(s.termination, "ROLLBACK IMMEDIATE");
}

TEST(ParserTest, PermissionVariants) {
  Batch b = ParseBatch(
      "DENY SELECT ON t TO u CASCADE REVOKE GRANT OPTION FOR INSERT ON t FROM u CASCADE GRANT "
      "SELECT (a, b) ON t TO public, [DOMAIN\\x] WITH GRANT OPTION GRANT ALL PRIVILEGES ON t TO "
      "u GRANT BACKUP LOG, CREATE PROC TO u");
  ASSERT_EQ(b.statements.size(), 5u);
  const auto& deny = b.statements[0]->As<PermissionStatement>();
  EXPECT_EQ(deny.action, PermissionStatement::Action::kDeny);
  EXPECT_TRUE(deny.cascade);
  const auto& revoke = b.statements[1]->As<PermissionStatement>();
  EXPECT_EQ(revoke.action, PermissionStatement::Action::kRevoke);
  EXPECT_TRUE(revoke.grant_option_for);
  const auto& cols = b.statements[2]->As<PermissionStatement>();
  EXPECT_EQ(cols.columns, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(cols.principals, (std::vector<std::string>{"public", "DOMAIN\\x"}));
  EXPECT_TRUE(cols.with_grant_option);
  EXPECT_EQ(b.statements[3]->As<PermissionStatement>().permissions,
            std::vector<std::string>{"ALL"});
  EXPECT_EQ(b.statements[4]->As<PermissionStatement>().permissions,
            (std::vector<std::string>{"BACKUP LOG", "CREATE PROCEDURE"}));
}

TEST(ParserTest, DeclareAndSet) {
  Batch b = ParseBatch(
      "DECLARE @a int, @b AS varchar(10), @t TABLE (x int PRIMARY KEY, y int) SET @a = 1 SET "
      "NOCOUNT ON SET ANSI_NULLS, ANSI_WARNINGS OFF SET IDENTITY_INSERT dbo.t ON SET ROWCOUNT 10 "
      "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED SET DATEFORMAT dmy SET STATISTICS IO ON");
  ASSERT_EQ(b.statements.size(), 9u);
  const auto& d = b.statements[0]->As<DeclareStatement>();
  ASSERT_EQ(d.variables.size(), 3u);
  EXPECT_EQ(d.variables[1].type.ToString(), "varchar(10)");
  ASSERT_NE(d.variables[2].table, nullptr);
  EXPECT_EQ(d.variables[2].table->columns.size(), 2u);
  EXPECT_EQ(b.statements[1]->As<SetVariableStatement>().variable, "@a");
  const auto& nocount = b.statements[2]->As<SetOptionStatement>();
  EXPECT_EQ(nocount.options, std::vector<std::string>{"NOCOUNT"});
  EXPECT_TRUE(nocount.on);
  const auto& two = b.statements[3]->As<SetOptionStatement>();
  EXPECT_EQ(two.options, (std::vector<std::string>{"ANSI_NULLS", "ANSI_WARNINGS"}));
  EXPECT_FALSE(two.on);
  const auto& identity = b.statements[4]->As<SetOptionStatement>();
  EXPECT_EQ(identity.table.name, "t");
  EXPECT_TRUE(identity.on);
  EXPECT_EQ(b.statements[5]->As<SetOptionStatement>().value->As<Literal>().int_value, 10);
  EXPECT_EQ(b.statements[6]->As<SetOptionStatement>().words, "READ UNCOMMITTED");
  EXPECT_EQ(b.statements[7]->As<SetOptionStatement>().words, "dmy");  // as written: errors quote it
  EXPECT_EQ(b.statements[8]->As<SetOptionStatement>().options,
            std::vector<std::string>{"STATISTICS IO"});
}

TEST(ParserTest, QuotedIdentifierSettingChangesTheRestOfTheBatch) {
  Batch on = ParseBatch("SELECT \"a\" FROM t");
  EXPECT_EQ(SpecOf(on).items[0].expr->kind, Expr::Kind::kColumn);

  ParseOptions off_options;
  off_options.quoted_identifier = false;
  Batch off = ParseBatch("SELECT \"it's\" FROM t", off_options);
  EXPECT_EQ(SpecOf(off).items[0].expr->As<Literal>().text, "it's");

  Batch switched = ParseBatch("SELECT \"a\" SET QUOTED_IDENTIFIER OFF SELECT \"a\"");
  ASSERT_EQ(switched.statements.size(), 3u);
  EXPECT_EQ(switched.statements[0]->As<SelectStatement>().query->FirstSpec().items[0].expr->kind,
            Expr::Kind::kColumn);
  EXPECT_EQ(switched.statements[2]->As<SelectStatement>().query->FirstSpec().items[0].expr->kind,
            Expr::Kind::kLiteral);
}

TEST(ParserTest, ControlFlow) {
  Batch b = ParseBatch(
      "IF @a = 1 PRINT 'a' ELSE IF @a = 2 PRINT 'b' ELSE BEGIN PRINT 'c' END "
      "WHILE @i < 10 BEGIN SET @i = @i + 1 IF @i = 5 CONTINUE BREAK END "
      "GOTO done done: RETURN");
  ASSERT_EQ(b.statements.size(), 5u);
  const auto& outer = b.statements[0]->As<IfStatement>();
  const auto& inner = outer.else_branch->As<IfStatement>();
  EXPECT_EQ(inner.else_branch->kind, Statement::Kind::kBlock);
  const auto& loop = b.statements[1]->As<WhileStatement>();
  const auto& body = loop.body->As<BlockStatement>().statements;
  ASSERT_EQ(body.size(), 3u);
  EXPECT_EQ(body[1]->As<IfStatement>().then_branch->kind, Statement::Kind::kContinue);
  EXPECT_EQ(body[2]->kind, Statement::Kind::kBreak);
  EXPECT_EQ(b.statements[2]->As<LabelStatement>().label, "done");
  EXPECT_EQ(b.statements[2]->kind, Statement::Kind::kGoto);
  EXPECT_EQ(b.statements[3]->kind, Statement::Kind::kLabel);
  EXPECT_EQ(b.statements[4]->As<ReturnStatement>().value, nullptr);
}

TEST(ParserTest, TransactionsAndMessages) {
  Batch b = ParseBatch(
      "BEGIN TRAN t1 SAVE TRANSACTION s1 ROLLBACK TRAN s1 COMMIT TRANSACTION t1 BEGIN "
      "TRANSACTION COMMIT COMMIT WORK ROLLBACK RETURN (1) RAISERROR ('x %s', 16, 1, 'a') WITH "
      "NOWAIT PRINT 'n = ' + CONVERT(varchar, @n)");
  EXPECT_EQ(
      Kinds(b),
      (std::vector<Statement::Kind>{
          Statement::Kind::kBeginTransaction, Statement::Kind::kSaveTransaction,
          Statement::Kind::kRollback, Statement::Kind::kCommit, Statement::Kind::kBeginTransaction,
          Statement::Kind::kCommit, Statement::Kind::kCommit, Statement::Kind::kRollback,
          Statement::Kind::kReturn, Statement::Kind::kRaiserror, Statement::Kind::kPrint}));
  EXPECT_EQ(b.statements[0]->As<TransactionStatement>().name, "t1");
  EXPECT_EQ(b.statements[2]->As<TransactionStatement>().name, "s1");
  EXPECT_EQ(b.statements[4]->As<TransactionStatement>().name, "");
  EXPECT_EQ(b.statements[8]->As<ReturnStatement>().value->As<Literal>().int_value, 1);
  const auto& r = b.statements[9]->As<RaiserrorStatement>();
  EXPECT_EQ(r.args.size(), 1u);
  EXPECT_EQ(r.options, std::vector<std::string>{"NOWAIT"});
}

TEST(ParserTest, ExecuteForms) {
  Batch b = ParseBatch(
      "EXEC @r = dbo.p @a = 1, @b = @c OUTPUT, @d = DEFAULT, -5, 0x0A, N'x' WITH RECOMPILE "
      "EXEC ('SELECT ' + @x) EXECUTE @proc 1 EXEC p;2");
  ASSERT_EQ(b.statements.size(), 4u);
  const auto& e = b.statements[0]->As<ExecuteStatement>();
  EXPECT_EQ(e.return_variable, "@r");
  EXPECT_EQ(e.procedure.owner, "dbo");
  ASSERT_EQ(e.args.size(), 6u);
  EXPECT_TRUE(e.args[1].output);
  EXPECT_EQ(e.args[1].value->As<Variable>().name, "@c");
  EXPECT_EQ(e.args[2].value->kind, Expr::Kind::kDefault);
  EXPECT_EQ(e.args[3].name, "");
  EXPECT_EQ(e.args[3].value->As<Literal>().int_value, -5);
  EXPECT_EQ(e.args[4].value->As<Literal>().type, Literal::Type::kBinary);
  EXPECT_TRUE(e.recompile);
  EXPECT_EQ(ToSql(*b.statements[1]->As<ExecuteStringStatement>().text), "'SELECT ' + @x");
  EXPECT_EQ(b.statements[2]->As<ExecuteStatement>().procedure_variable, "@proc");
  EXPECT_EQ(b.statements[3]->As<ExecuteStatement>().number, 2);

  Batch markers = ParseBatch("EXEC p ?, @x = ? OUTPUT");
  const auto& m = markers.statements.at(0)->As<ExecuteStatement>();
  ASSERT_EQ(m.args.size(), 2u);
  EXPECT_EQ(m.args[1].value->As<ParameterMarker>().index, 1);
  EXPECT_TRUE(m.args[1].output);
  EXPECT_EQ(markers.parameter_markers, 2);
}

TEST(ParserTest, ServerStatements) {
  Batch b = ParseBatch(
      "WAITFOR DELAY '00:00:01' BACKUP DATABASE x TO DISK = 'C:\\x.bak' WITH INIT, NAME = 'full' "
      "DBCC CHECKDB WITH NO_INFOMSGS CHECKPOINT DBCC CHECKIDENT ('t', RESEED, 0) KILL 52");
  ASSERT_EQ(b.statements.size(), 6u);
  EXPECT_TRUE(b.statements[0]->As<WaitForStatement>().delay);
  const auto& backup = b.statements[1]->As<BackupStatement>();
  EXPECT_FALSE(backup.log);
  EXPECT_EQ(backup.devices.at(0).type, "DISK");
  EXPECT_EQ(backup.options.at(1).name, "NAME");
  EXPECT_EQ(backup.options.at(1).value->As<Literal>().text, "full");
  EXPECT_EQ(b.statements[2]->As<DbccStatement>().options, std::vector<std::string>{"NO_INFOMSGS"});
  EXPECT_EQ(b.statements[3]->kind, Statement::Kind::kCheckpoint);
  EXPECT_EQ(b.statements[4]->As<DbccStatement>().args.size(), 3u);
}

TEST(ParserTest, ViewsAndProceduresKeepTheirText) {
  const char* view = "CREATE VIEW v (a, b) AS SELECT 1, 2 WITH CHECK OPTION";
  Batch b = ParseBatch(view);
  const auto& v = Single<CreateViewStatement>(b, Statement::Kind::kCreateView);
  EXPECT_EQ(v.columns, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(v.check_option);
  EXPECT_EQ(v.text, view);

  std::string proc =
      "-- header comment\nALTER PROCEDURE p @a int = -1 OUTPUT, @b varchar(10) = 'x%' WITH "
      "RECOMPILE AS\nSELECT @a;\nRETURN 0;\n";
  Batch pb = ParseBatch(proc);
  const auto& p = Single<CreateProcedureStatement>(pb, Statement::Kind::kCreateProcedure);
  EXPECT_TRUE(p.alter);
  EXPECT_EQ(p.text, proc.substr(proc.find("ALTER")));
  ASSERT_EQ(p.parameters.size(), 2u);
  EXPECT_EQ(p.parameters[0].default_value->As<Literal>().int_value, -1);
  EXPECT_TRUE(p.parameters[0].output);
  EXPECT_EQ(p.options, std::vector<std::string>{"RECOMPILE"});
  EXPECT_EQ(p.body.size(), 2u);
  EXPECT_EQ(p.body_span.line, 3);
  EXPECT_EQ(p.body_span.TextIn(pb.text), "SELECT @a;\nRETURN 0;\n");
}

TEST(ParserTest, StatementsNeedNoSeparators) {
  Batch b = ParseBatch("SELECT 1 SELECT 2;;SELECT 3\n;\nSELECT * INTO #x FROM t; SELECT * FROM #x");
  EXPECT_EQ(b.statements.size(), 5u);
  EXPECT_EQ(b.statements[1]->span.TextIn(b.text), "SELECT 2");
  EXPECT_EQ(b.statements[3]->span.line, 3);
}

TEST(ParserTest, GoIsNotABatchSeparator) {
  // A client tool would split here; the server reads GO as an alias, as SQL Server does.
  Batch b = ParseBatch("SELECT 1\nGO\nSELECT 2");
  ASSERT_EQ(b.statements.size(), 2u);
  EXPECT_EQ(SpecOf(ParseBatch("SELECT 1 GO")).items[0].alias, "GO");
}

TEST(ParserTest, ExpressionSpansCutTheOriginalText) {
  Batch b = ParseBatch("SELECT  ( a +  1 ) * 2 AS x FROM t WHERE  b   LIKE 'y%'");
  const QuerySpec& q = SpecOf(b);
  EXPECT_EQ(q.items[0].expr->span.TextIn(b.text), "( a +  1 ) * 2");
  EXPECT_EQ(q.items[0].span.TextIn(b.text), "( a +  1 ) * 2 AS x");
  EXPECT_EQ(q.where->span.TextIn(b.text), "b   LIKE 'y%'");
}

TEST(ParserTest, StandaloneExpressions) {
  EXPECT_EQ(ToSql(*ParseExpression("(getdate())")), "getdate()");
  EXPECT_EQ(ParseExpression("((0))")->As<Literal>().int_value, 0);
  EXPECT_THROW(ParseExpression("1 2"), ParseError);
}

// The declared parameters of sp_executesql and sp_prepare.
TEST(ParserTest, ParameterLists) {
  std::vector<ProcedureParameter> list = ParseParameterList(
      "@a int, @b AS nvarchar(10) OUTPUT, @c decimal(5,2) = 1.5, @d varchar(max)");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].name, "@a");
  EXPECT_EQ(list[0].type.name, "int");
  EXPECT_FALSE(list[0].output);
  EXPECT_EQ(list[1].type.ToString(), "nvarchar(10)");
  EXPECT_TRUE(list[1].output);
  EXPECT_EQ(list[2].type.scale, 2);
  ASSERT_TRUE(list[2].default_value);
  EXPECT_TRUE(list[3].type.max);
  EXPECT_TRUE(ParseParameterList("").empty());
  EXPECT_TRUE(ParseParameterList("  ").empty());
  for (const char* bad : {"@a int @b int", "@a int; DROP TABLE t", "a int", "@a", "@a int,",
                          "@a int) AS SELECT 1 --"})
    EXPECT_THROW(ParseParameterList(bad), ParseError) << bad;
}

}  // namespace
}  // namespace sandbox::tsql
