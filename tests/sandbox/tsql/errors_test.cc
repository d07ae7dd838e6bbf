// Broken and hostile batches: the error SQL Server gives, never a crash, and nothing of a
// hostile value lost on the way.
#include <gtest/gtest.h>

#include <string>

#include "sandbox/tsql/parser.h"
#include "sandbox/tsql/printer.h"

namespace sandbox::tsql {
namespace {

ParseError ErrorOf(std::string_view text, const ParseOptions& options = {}) {
  try {
    ParseBatch(text, options);
  } catch (const ParseError& e) {
    return e;
  }
  ADD_FAILURE() << "parsed without error: " << text.substr(0, 200);
  return ParseError(0, "", 0);
}

void ExpectError(std::string_view text, int number, const std::string& message, int line = 1) {
  SCOPED_TRACE(std::string(text.substr(0, 200)));
  ParseError e = ErrorOf(text);
  EXPECT_EQ(e.number(), number);
  EXPECT_EQ(e.message(), message);
  EXPECT_EQ(e.line(), line);
  EXPECT_EQ(e.severity(), 15);
  EXPECT_EQ(e.state(), 1);
}

const std::string k191 =
    "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
    "into smaller queries.";

std::string Repeat(std::string_view s, int n) {
  std::string out;
  out.reserve(s.size() * n);
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(ErrorsTest, SyntaxErrorsNameTheTokenOrTheKeyword) {
  ExpectError("SELECT * FROM", 156, "Incorrect syntax near the keyword 'FROM'.");
  ExpectError("select * from", 156, "Incorrect syntax near the keyword 'from'.");
  ExpectError("SELECT 1 +", 102, "Incorrect syntax near '+'.");
  ExpectError("SELECT 1 = 1", 102, "Incorrect syntax near '='.");
  ExpectError("SELECT (1=1)", 102, "Incorrect syntax near '='.");
  ExpectError("SELECT 1\nSELECT * FRM t", 102, "Incorrect syntax near 'FRM'.", 2);
  ExpectError("SELECT * FROM t t2 [t 3]", 102, "Incorrect syntax near 't 3'.");
  ExpectError("SELECT 'a' 'b' 'c'", 102, "Incorrect syntax near 'c'.");
  ExpectError("BEGIN END", 156, "Incorrect syntax near the keyword 'END'.");
  ExpectError("SELECT * FROM (SELECT 1)", 102, "Incorrect syntax near ')'.");
  ExpectError("INSERT INTO t VALUES", 156, "Incorrect syntax near the keyword 'VALUES'.");
  ExpectError("CREATE PROCEDURE p AS", 156, "Incorrect syntax near the keyword 'AS'.");
  ExpectError("CREATE VIEW v AS SELECT 1 SELECT 2", 156,
              "Incorrect syntax near the keyword 'SELECT'.");
  ExpectError("CREATE TRIGGER x ON t FOR SELECT AS RETURN", 156,
              "Incorrect syntax near the keyword 'SELECT'.");
  ExpectError("SELECT a.b.c.d.e FROM t", 102, "Incorrect syntax near '.'.");
  ExpectError("SELECT @@ + 1", 102, "Incorrect syntax near '@@'.");
  ExpectError("SELECT @ + 1", 102, "Incorrect syntax near '@'.");
}

TEST(ErrorsTest, OtherDialectsFail) {
  ExpectError("ALTER TABLE t ADD COLUMN c INT", 156, "Incorrect syntax near the keyword 'COLUMN'.");
  ExpectError("ALTER TABLE x ALTER COLUMN y TEXT WITH COMPRESSION", 156,
              "Incorrect syntax near the keyword 'WITH'.");
  ExpectError("CREATE PROCEDURE q ([p] Long) AS SELECT [p]", 102, "Incorrect syntax near 'p'.");
  ExpectError("SELECT * FROM t LIMIT 10", 102, "Incorrect syntax near '10'.");
  ExpectError("SELECT TOP x FROM t", 102, "Incorrect syntax near 'x'.");
}

TEST(ErrorsTest, ConditionsMustBeConditions) {
  const std::string prefix =
      "An expression of non-boolean type specified in a context where a condition is expected, "
      "near ";
  ExpectError("IF 1 SELECT 2", 4145, prefix + "'SELECT'.");
  ExpectError("SELECT * FROM t WHERE a", 4145, prefix + "'a'.");
  ExpectError("SELECT * FROM t WHERE a = 1 AND 2", 4145, prefix + "'2'.");
  ExpectError("SELECT * FROM t WHERE 1 OR a = 1", 4145, prefix + "'OR'.");
  ExpectError("WHILE @i\nBREAK", 4145, prefix + "'BREAK'.", 2);
}

TEST(ErrorsTest, LexicalErrors) {
  ExpectError("SELECT 'abc", 105, "Unclosed quotation mark before the character string 'abc'.");
  ExpectError("SELECT N'x''y", 105, "Unclosed quotation mark before the character string 'x''y'.");
  ExpectError("SELECT [abc", 105, "Unclosed quotation mark before the character string 'abc'.");
  ExpectError("SELECT 1\n/* open /* nested */", 113, "Missing end comment mark '*/'.", 2);
  ExpectError("SELECT [] FROM t", 1038,
              "Cannot use empty object or column names. Use a single space if necessary.");
  std::string long_name(129, 'n');
  ExpectError("SELECT " + long_name, 103,
              "The identifier that starts with '" + long_name.substr(0, 128) +
                  "' is too long. Maximum length is 128.");
  EXPECT_EQ(ParseBatch("SELECT [" + std::string(128, 'n') + "]").statements.size(), 1u);
}

TEST(ErrorsTest, BatchRules) {
  ExpectError("SELECT 1\nCREATE PROCEDURE p AS SELECT 1", 111,
              "'CREATE PROCEDURE' must be the first statement in a query batch.", 2);
  ExpectError("SET NOCOUNT ON ALTER VIEW v AS SELECT 1", 111,
              "'ALTER VIEW' must be the first statement in a query batch.");
  // Only the first statement may call a procedure without EXEC.
  ExpectError("SET NOCOUNT ON sp_who", 102, "Incorrect syntax near 'sp_who'.");
  ExpectError("SET FOO ON", 195, "'FOO' is not a recognized SET option.");
  EXPECT_TRUE(ParseBatch("").statements.empty());
  EXPECT_TRUE(ParseBatch(" \n -- nothing\n /* at all */ ;").statements.empty());
}

TEST(ErrorsTest, DeepNestingIsRefusedCleanly) {
  const int n = 20000;
  ExpectError("SELECT " + Repeat("(", n) + "1" + Repeat(")", n), 191, k191);
  ExpectError("SELECT * FROM t WHERE " + Repeat("(", n) + "a = 1" + Repeat(")", n), 191, k191);
  ExpectError("SELECT * FROM t WHERE " + Repeat("NOT ", n) + "a = 1", 191, k191);
  ExpectError("SELECT " + Repeat("- ", n) + "1", 191, k191);
  ExpectError("SELECT " + Repeat("(SELECT ", n) + "1" + Repeat(")", n), 191, k191);
  ExpectError("SELECT " + Repeat("f(", n) + "1" + Repeat(")", n), 191, k191);
  ExpectError("SELECT " + Repeat("CASE WHEN 1 = 1 THEN ", n) + "1" + Repeat(" END", n), 191, k191);
  ExpectError(Repeat("IF 1 = 1 ", n) + "PRINT 1", 191, k191);
  ExpectError(Repeat("BEGIN ", n) + "PRINT 1" + Repeat(" END", n), 191, k191);
  ExpectError("SELECT * FROM " + Repeat("(", n) + "t" + Repeat(")", n), 191, k191);
  ExpectError("SELECT * FROM a" + Repeat(" JOIN b", n) + Repeat(" ON 1 = 1", n), 191, k191);
  ExpectError(Repeat("(", n) + "SELECT 1" + Repeat(")", n), 191, k191);
}

TEST(ErrorsTest, LongChainsAreRefusedButOrdinaryOnesPass) {
  ExpectError("SELECT 1" + Repeat(" + 1", 100000), 191, k191);
  ExpectError("SELECT * FROM a" + Repeat(" JOIN b ON 1 = 1", 100000), 191, k191);
  Batch ok = ParseBatch("SELECT 1" + Repeat(" + 1", 2000));
  EXPECT_EQ(ok.statements.size(), 1u);
}

TEST(ErrorsTest, NestingLimitIsConfigurable) {
  ParseOptions tight;
  tight.max_nesting = 4;
  EXPECT_EQ(ErrorOf("SELECT ((((1))))", tight).number(), 191);
  EXPECT_EQ(ParseBatch("SELECT ((1))", tight).statements.size(), 1u);
}

TEST(ErrorsTest, VeryLongTexts) {
  std::string big(2 * 1024 * 1024, 'x');
  Batch b = ParseBatch("SELECT '" + big + "'");
  const auto& lit =
      b.statements.at(0)->As<SelectStatement>().query->FirstSpec().items.at(0).expr->As<Literal>();
  EXPECT_EQ(lit.text.size(), big.size());

  Batch many = ParseBatch(Repeat("INSERT INTO t (a) VALUES (1)\n", 20000));
  EXPECT_EQ(many.statements.size(), 20000u);
  EXPECT_EQ(many.statements.back()->span.line, 20000);

  Batch list = ParseBatch("SELECT * FROM t WHERE a IN (" + Repeat("1, ", 50000) + "2)");
  const auto& in =
      list.statements.at(0)->As<SelectStatement>().query->FirstSpec().where->As<InExpr>();
  EXPECT_EQ(in.list.size(), 50001u);

  // The message quotes a bounded part of an unclosed string.
  ParseError e = ErrorOf("SELECT 'abc" + big);
  EXPECT_EQ(e.number(), 105);
  EXPECT_LT(e.message().size(), 2000u);
  EXPECT_EQ(e.message().rfind("Unclosed quotation mark before the character string 'abcxxx", 0),
            0u);
}

TEST(ErrorsTest, HostileNamesAndValuesSurviveIntact) {
  Batch b = ParseBatch(
      "EXEC master..sp_addlogin 'O''Brien; DROP DATABASE x --', ']]''\"[;', @p = N'ä''ö'");
  ASSERT_EQ(b.statements.size(), 1u);
  const auto& e = b.statements[0]->As<ExecuteStatement>();
  ASSERT_EQ(e.args.size(), 3u);
  EXPECT_EQ(e.args[0].value->As<Literal>().text, "O'Brien; DROP DATABASE x --");
  EXPECT_EQ(e.args[1].value->As<Literal>().text, "]]'\"[;");
  EXPECT_EQ(e.args[2].value->As<Literal>().text, "ä'ö");

  Batch names = ParseBatch("SELECT [a]]b].[c;d] AS [--x] FROM [we]]ird;name] WITH (NOLOCK)");
  const auto& query_spec = names.statements.at(0)->As<SelectStatement>().query->FirstSpec();
  const auto& column = query_spec.items.at(0).expr->As<ColumnRef>();
  EXPECT_EQ(column.table.name, "a]b");
  EXPECT_EQ(column.column, "c;d");
  EXPECT_EQ(query_spec.items.at(0).alias, "--x");
  EXPECT_EQ(query_spec.from.at(0)->As<TableRef>().name.name, "we]ird;name");
  // Printed back, the names are quoted again so the text means the same.
  EXPECT_EQ(ToSql(*query_spec.items.at(0).expr), "[a]]b].[c;d]");

  // A quote closes a value; what follows is a statement of its own, exactly as on the server.
  Batch injected = ParseBatch("EXEC sp_helpuser 'x'; DROP DATABASE y");
  ASSERT_EQ(injected.statements.size(), 2u);
  EXPECT_EQ(injected.statements[1]->kind, Statement::Kind::kDropDatabase);
}

TEST(ErrorsTest, BinaryAndControlCharactersDoNotCrash) {
  std::string text = "SELECT 1";
  text += '\0';
  text += " FROM t";
  EXPECT_EQ(ParseBatch(text).statements.size(), 1u);
  std::string junk;
  for (int c = 1; c < 256; ++c) junk += static_cast<char>(c);
  // Whatever the outcome, it is a ParseError or a tree.
  try {
    ParseBatch(junk);
  } catch (const ParseError& e) {
    EXPECT_GT(e.number(), 0);
  }
  EXPECT_EQ(ErrorOf("SELECT 1 \x01").number(), 102);
}

}  // namespace
}  // namespace sandbox::tsql
