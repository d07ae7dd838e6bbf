#include "sandbox/tsql/printer.h"

#include <gtest/gtest.h>

#include <string>

#include "sandbox/tsql/parser.h"

namespace sandbox::tsql {
namespace {

std::string Print(std::string_view expression) { return ToSql(*ParseExpression(expression)); }

TEST(PrinterTest, ParenthesesOnlyWherePrecedenceNeedsThem) {
  EXPECT_EQ(Print("a+b*c"), "a + b * c");
  EXPECT_EQ(Print("(a+b)*c"), "(a + b) * c");
  EXPECT_EQ(Print("a-(b-c)"), "a - (b - c)");
  EXPECT_EQ(Print("(a-b)-c"), "a - b - c");
  EXPECT_EQ(Print("-(a+b)"), "-(a + b)");
  EXPECT_EQ(Print("- -1"), "-(-1)");  // never "--1", which would start a comment
  EXPECT_EQ(Print("2 - -1"), "2 - -1");
  EXPECT_EQ(Print("- - x"), "-(-x)");
  EXPECT_EQ(Print("~~x"), "~~x");
  EXPECT_EQ(Print("-~x"), "-~x");
  EXPECT_EQ(Print("~-1"), "~-1");
  EXPECT_EQ(Print("+-x"), "+-x");
  // A chain of unary operators as deep as the parser takes prints to text it takes again.
  const std::string tildes = std::string(120, '~') + "x";
  EXPECT_EQ(Print(Print(tildes)), tildes);
  EXPECT_EQ(Print("CASE WHEN (a=1 OR b=2) AND c=3 THEN 1 END"),
            "CASE WHEN (a = 1 OR b = 2) AND c = 3 THEN 1 END");
  EXPECT_EQ(Print("CASE WHEN NOT (a=1 AND b=2) THEN 1 END"),
            "CASE WHEN NOT (a = 1 AND b = 2) THEN 1 END");
}

TEST(PrinterTest, LiteralsAndNames) {
  EXPECT_EQ(Print("'it''s'"), "'it''s'");
  EXPECT_EQ(Print("N'ä'"), "N'ä'");
  EXPECT_EQ(Print("0x0a1B"), "0x0A1B");
  EXPECT_EQ(Print("-$1.5"), "-$1.5");
  EXPECT_EQ(Print("NULL"), "NULL");
  EXPECT_EQ(Print("[Order Details].[Unit Price]"), "[Order Details].[Unit Price]");
  EXPECT_EQ(Print("[select].x"), "[select].x");
  EXPECT_EQ(Print("master..t.c"), "master..t.c");
  EXPECT_EQ(QuoteName("Folder"), "Folder");
  EXPECT_EQ(QuoteName("#TempDocument1_1"), "#TempDocument1_1");
  EXPECT_EQ(QuoteName("a]b"), "[a]]b]");
  EXPECT_EQ(QuoteName("1abc"), "[1abc]");
  EXPECT_EQ(QuoteName("key"), "[key]");
}

TEST(PrinterTest, FunctionsAndSpecialForms) {
  EXPECT_EQ(Print("count(*)"), "count(*)");
  EXPECT_EQ(Print("COUNT(DISTINCT x)"), "COUNT(DISTINCT x)");
  EXPECT_EQ(Print("left(a,2)"), "left(a, 2)");
  EXPECT_EQ(Print("dbo.fn(1)"), "dbo.fn(1)");
  EXPECT_EQ(Print("current_timestamp"), "current_timestamp");
  // A function named by a quoted identifier keeps its name through a print and a parse.
  EXPECT_EQ(Print("\"a\"\"b\"(NULL, 'x')"), "[a\"b](NULL, 'x')");
  EXPECT_EQ(Print("[my fn](1)"), "[my fn](1)");
  EXPECT_EQ(Print("[x]]y](1)"), "[x]]y](1)");
  for (const char* name : {"\"\"\"\"(1)", "[a b](1)", "[1st](2)", "[x]]y](3)"}) {
    EXPECT_EQ(Print(Print(name)), Print(name)) << name;
  }
  EXPECT_EQ(Print("cast(a as nvarchar(4000))"), "CAST(a AS nvarchar(4000))");
  EXPECT_EQ(Print("convert(varchar(20), d, 120)"), "CONVERT(varchar(20), d, 120)");
  EXPECT_EQ(Print("x collate Latin1_General_CI_AS"), "x COLLATE Latin1_General_CI_AS");
  EXPECT_EQ(Print("(SELECT MAX(a) FROM t WHERE b IN (1, 2))"),
            "(SELECT MAX(a) FROM t WHERE b IN (1, 2))");
}

// Printing, parsing the print and printing again changes nothing: the printed text means what
// the original meant.
TEST(PrinterTest, PrintedQueriesReadBackTheSame) {
  const char* queries[] = {
      "SELECT DISTINCT TOP 5 PERCENT a AS [x y], t.*, COUNT(*) FROM dbo.t AS t WITH (NOLOCK) "
      "LEFT JOIN (u INNER JOIN v ON u.a = v.a) ON t.a = u.a WHERE a NOT LIKE '%[_]%' ESCAPE '\\' "
      "AND b NOT BETWEEN 1 AND 2 OR c IS NULL GROUP BY a HAVING COUNT(*) > 1 ORDER BY 1 DESC",
      "SELECT * FROM (SELECT 1 AS x UNION ALL SELECT 2) AS d (y), e CROSS JOIN f",
      "SELECT 1 UNION (SELECT 2 UNION SELECT 3)",
      "SELECT CASE a WHEN 1 THEN 'x' ELSE 'y' END, ~b & c | d ^ e % f FROM t WHERE NOT EXISTS "
      "(SELECT 1 FROM u WHERE u.a = t.a) AND CONTAINS((Title, PlainText), 'x')",
      "SELECT @a = @@ROWCOUNT, @b = -(-1)",
  };
  for (const char* text : queries) {
    SCOPED_TRACE(text);
    Batch first = ParseBatch(text);
    std::string printed = ToSql(*first.statements.at(0)->As<SelectStatement>().query);
    Batch second = ParseBatch(printed);
    EXPECT_EQ(ToSql(*second.statements.at(0)->As<SelectStatement>().query), printed);
  }
  Batch u = ParseBatch("SELECT 1 UNION (SELECT 2 UNION SELECT 3)");
  EXPECT_EQ(ToSql(*u.statements.at(0)->As<SelectStatement>().query),
            "SELECT 1 UNION (SELECT 2 UNION SELECT 3)");
}

}  // namespace
}  // namespace sandbox::tsql
