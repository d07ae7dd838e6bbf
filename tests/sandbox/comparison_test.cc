// How strings compare: trailing blanks never count (=, <>, <, >, IN, BETWEEN, CASE, JOIN,
// GROUP BY, DISTINCT), case counts only under a case-sensitive collation, and LIKE alone sees
// the blanks of its pattern.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

struct Case {
  const char* statement;
  int expected;
};

class ComparisonTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE TABLE Padded (c CHAR(10), n NCHAR(10), v VARCHAR(10), nv NVARCHAR(10))");
    Ok("INSERT INTO Padded VALUES ('abc', N'abc', 'abc  ', N'abc')");
    Ok("CREATE TABLE Grp (v VARCHAR(5))");
    Ok("INSERT INTO Grp VALUES ('a') INSERT INTO Grp VALUES ('a ') INSERT INTO Grp VALUES ('A  ')");
  }
  void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(Scalar(c.statement), Value(c.expected)) << c.statement;
  }
};

TEST_F(ComparisonTest, SystemTableCharColumnsIgnoreTheirPadding) {
  // type and xtype are char(2): 'U ' on the server.
  Check({
      {"SELECT COUNT(*) FROM sysobjects WHERE type = 'U' AND name = 'Padded'", 1},
      {"SELECT COUNT(*) FROM sysobjects WHERE xtype = 'U' AND name = 'Padded'", 1},
      {"SELECT COUNT(*) FROM sysobjects WHERE 'U' = type AND name = 'Padded'", 1},
      {"SELECT COUNT(*) FROM sysobjects WHERE type = N'u    ' AND name = 'Padded'", 1},
      {"SELECT COUNT(*) FROM sysobjects WHERE type <> 'U' AND name = 'Padded'", 0},
      {"SELECT COUNT(*) FROM sysobjects WHERE type IN ('V', 'U') AND name = 'Padded'", 1},
      {"SELECT COUNT(*) FROM sysobjects WHERE type BETWEEN 'U' AND 'U' AND name = 'Padded'", 1},
      {"SELECT CASE type WHEN 'U' THEN 1 ELSE 0 END FROM sysobjects WHERE name = 'Padded'", 1},
      {"SELECT COUNT(*) FROM sysobjects o JOIN (SELECT 'U' AS t) k ON o.type = k.t "
       "WHERE o.name = 'Padded'",
       1},
      {"SELECT COUNT(*) FROM sysobjects o JOIN (SELECT 'U' AS t) k ON k.t = o.type "
       "WHERE o.name = 'Padded'",
       1},
  });
}

TEST_F(ComparisonTest, ColumnsAndLiteralsWithBlanksOnEitherSide) {
  Check({
      {"SELECT COUNT(*) FROM Padded WHERE c = 'abc'", 1},
      {"SELECT COUNT(*) FROM Padded WHERE c = 'abc      '", 1},
      {"SELECT COUNT(*) FROM Padded WHERE 'abc ' = c", 1},
      {"SELECT COUNT(*) FROM Padded WHERE v = 'abc'", 1},
      {"SELECT COUNT(*) FROM Padded WHERE c = v AND v = c", 1},
      {"SELECT COUNT(*) FROM Padded WHERE n = nv AND nv = n", 1},
      {"SELECT COUNT(*) FROM Padded WHERE n = 'abc ' AND nv = N'abc   '", 1},
      {"SELECT COUNT(*) FROM Padded WHERE c = 'ABC  '", 1},
      {"SELECT COUNT(*) FROM Padded WHERE c <> 'abc '", 0},
      {"SELECT COUNT(*) FROM Padded WHERE c < 'abc '", 0},
      {"SELECT COUNT(*) FROM Padded WHERE c > 'abc'", 0},
      {"SELECT COUNT(*) FROM Padded WHERE c >= 'ABC  ' AND c <= 'abc'", 1},
      {"SELECT COUNT(*) FROM Padded WHERE c < 'abd' AND 'abb  ' < c", 1},
      {"SELECT CASE WHEN 'abc' = 'abc   ' THEN 1 ELSE 0 END", 1},
      {"SELECT CASE WHEN 'abc  ' = 'abc' THEN 1 ELSE 0 END", 1},
      {"SELECT CASE WHEN N'abc ' = 'ABC' THEN 1 ELSE 0 END", 1},
      {"SELECT CASE WHEN 'abc' <> 'abc ' THEN 1 ELSE 0 END", 0},
      {"SELECT CASE WHEN 'abc' < 'abc ' OR 'abc ' < 'abc' THEN 1 ELSE 0 END", 0},
      {"SELECT CASE WHEN 'ab ' < 'abc' THEN 1 ELSE 0 END", 1},
      {"SELECT CASE WHEN CAST('x' AS CHAR(5)) = 'x' THEN 1 ELSE 0 END", 1},
      {"SELECT CASE WHEN CAST('x' AS NCHAR(5)) IN (N'y', N'x ') THEN 1 ELSE 0 END", 1},
  });
}

TEST_F(ComparisonTest, CaseSensitiveCollationStillIgnoresBlanks) {
  Check({
      {"SELECT CASE WHEN 'abc' COLLATE Latin1_General_BIN = 'abc  ' THEN 1 ELSE 0 END", 1},
      {"SELECT CASE WHEN 'abc  ' = 'abc' COLLATE Latin1_General_CS_AS THEN 1 ELSE 0 END", 1},
      {"SELECT CASE WHEN 'abc' COLLATE Latin1_General_BIN = 'ABC' THEN 1 ELSE 0 END", 0},
      {"SELECT COUNT(*) FROM Padded WHERE c COLLATE Latin1_General_BIN = 'abc '", 1},
      {"SELECT COUNT(*) FROM Padded WHERE c COLLATE Latin1_General_BIN = 'ABC'", 0},
  });
}

TEST_F(ComparisonTest, LikeSeesTheBlanksOfItsPattern) {
  Ok("CREATE TABLE #tmp (c1 varchar(10)) INSERT INTO #tmp VALUES ('abc ') "
     "INSERT INTO #tmp VALUES ('abc')");
  Check({
      // Knowledge Base 316626, "How SQL Server Compares Strings with Trailing Spaces": its #tmp
      // example; only LIKE with a blank at the end of its pattern tells the rows apart.
      {"SELECT COUNT(*) FROM #tmp WHERE c1 = 'abc '", 2},
      {"SELECT COUNT(*) FROM #tmp WHERE c1 = 'abc'", 2},
      {"SELECT COUNT(*) FROM #tmp WHERE c1 > 'ab '", 2},
      {"SELECT COUNT(*) FROM #tmp WHERE c1 < 'abd '", 2},
      {"SELECT COUNT(*) FROM #tmp WHERE c1 LIKE 'abc%'", 2},
      {"SELECT COUNT(*) FROM #tmp WHERE c1 LIKE 'abc '", 1},
      // LIKE: "for non-Unicode data, trailing blanks are not significant" in the value matched,
      // so 'abc ' LIKE 'abc'; Unicode data keeps them.
      {"SELECT COUNT(*) FROM #tmp WHERE c1 LIKE 'abc'", 2},
      {"SELECT COUNT(*) FROM #tmp WHERE CAST(c1 AS nvarchar(10)) LIKE N'abc'", 1},
      {"SELECT COUNT(*) FROM #tmp WHERE c1 LIKE N'abc'", 1},
      {"SELECT COUNT(*) FROM Padded WHERE c LIKE 'abc'", 1},
      {"SELECT COUNT(*) FROM Padded WHERE n LIKE N'abc'", 0},
      {"SELECT CASE WHEN 'abc  ' LIKE 'abc ' AND 'abc  ' LIKE 'a_c' AND 'abc' NOT LIKE 'abc ' "
       "THEN 1 ELSE 0 END",
       1},
      {"SELECT COUNT(*) FROM #tmp WHERE c1 NOT LIKE 'abc'", 0},
      {"DECLARE @a varchar(10), @b varchar(10) SET @a = '1' SET @b = '1 ' "
       "SELECT CASE WHEN @a = @b AND @a NOT LIKE @b AND @b LIKE @a THEN 1 ELSE 0 END",
       1},
      {"SELECT CASE WHEN 'abc' LIKE 'abc ' THEN 1 ELSE 0 END", 0},
      {"SELECT CASE WHEN 'abc' LIKE 'abc' THEN 1 ELSE 0 END", 1},
      {"SELECT COUNT(*) FROM Padded WHERE nv LIKE N'abc %'", 0},
      {"SELECT COUNT(*) FROM Padded WHERE nv LIKE N'ABC%'", 1},
  });
}

TEST_F(ComparisonTest, GroupingAndDistinctTreatBlanksAsAbsent) {
  Check({
      {"SELECT COUNT(*) FROM (SELECT v FROM Grp GROUP BY v) g", 1},
      {"SELECT COUNT(DISTINCT v) FROM Grp", 1},
      {"SELECT COUNT(*) FROM (SELECT x FROM (SELECT 'a' AS x UNION ALL SELECT 'a ' UNION ALL "
       "SELECT 'A') t GROUP BY x) g",
       1},
      {"SELECT COUNT(*) FROM (SELECT DISTINCT x FROM (SELECT 'a' AS x UNION ALL SELECT 'a ' "
       "UNION ALL SELECT 'A') t) g",
       1},
      {"SELECT COUNT(*) FROM (SELECT DISTINCT type FROM sysobjects WHERE type = 'U') g", 1},
      {"SELECT COUNT(*) FROM (SELECT MAX(x) AS m FROM (SELECT 'B' AS x UNION ALL SELECT 'a') t) g "
       "WHERE m = 'b'",
       1},
  });
  // Ordering ignores case too: 'a' before 'B', where byte order puts 'B' first.
  EXPECT_EQ(Scalar("SELECT TOP 1 x FROM (SELECT 'B' AS x UNION ALL SELECT 'a') t ORDER BY x"),
            Value("a"));
}

}  // namespace
}  // namespace sandbox::testing
