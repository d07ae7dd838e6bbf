// Table variables, user-defined functions and DECLARE inside loops: each case is one or more
// batches (separated by "\nGO\n"); the last one gives either an error or one value.
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

struct Case {
  const char* batches;
  std::int32_t error;  // of the last batch, 0 for none
  const char* value;   // the last batch's last row set's first value as text, or null
};

std::vector<std::string> Batches(const std::string& text) {
  std::vector<std::string> out;
  size_t begin = 0;
  for (size_t go; (go = text.find("\nGO\n", begin)) != std::string::npos; begin = go + 4)
    out.push_back(text.substr(begin, go - begin));
  out.push_back(text.substr(begin));
  return out;
}

class RoutinesTest : public SandboxTest {
 protected:
  void Check(Session& session, const Case& c) {
    std::vector<std::string> batches = Batches(c.batches);
    for (size_t i = 0; i + 1 < batches.size(); ++i) Ok(session, batches[i]);
    CollectingSink sink = Run(session, batches.back());
    ASSERT_EQ(sink.FirstError(), c.error) << c.batches << "\n" << sink.ErrorText();
    if (!c.value) return;
    ASSERT_FALSE(sink.sets.empty() || sink.sets.back().rows.empty()) << c.batches;
    EXPECT_EQ(sink.sets.back().rows[0].at(0).ToText(), c.value) << c.batches;
  }
};

const Case kTableVariables[] = {
    // DECLARE @local_variable: a table variable with PRIMARY KEY, IDENTITY and DEFAULT
    {"DECLARE @t TABLE (id int IDENTITY(10, 5) PRIMARY KEY, name varchar(20) DEFAULT 'none', "
     "qty int, UNIQUE (name))\n"
     "INSERT @t (qty) VALUES (1)\nINSERT INTO @t (name, qty) SELECT 'b', 2\n"
     "SELECT MAX(id) + COUNT(*) FROM @t WHERE name IN ('none', 'b')",
     0, "17"},
    // CHECK on a table variable: the failing INSERT is undone (547), the batch goes on
    {"DECLARE @t TABLE (qty int CHECK (qty > 0))\nINSERT @t VALUES (1)\nINSERT @t VALUES (0)\n"
     "SELECT COUNT(*) FROM @t",
     547, "1"},
    // PRIMARY KEY: a duplicate key fails the statement (2627) and leaves the rows before it
    {"DECLARE @t TABLE (id int PRIMARY KEY)\nINSERT @t VALUES (1)\n"
     "INSERT @t SELECT 2 UNION ALL SELECT 1\nSELECT COUNT(*) FROM @t",
     2627, "1"},
    // table: UPDATE and DELETE name the variable, or its alias in FROM
    {"DECLARE @t TABLE (id int, v int)\nINSERT @t VALUES (1, 10)\nINSERT @t VALUES (2, 20)\n"
     "INSERT @t VALUES (3, 30)\nUPDATE @t SET v = v + 1 WHERE id = 1\n"
     "UPDATE x SET v = 0 FROM @t x WHERE x.id = 2\nDELETE FROM x FROM @t AS x WHERE x.id = 3\n"
     "SELECT SUM(t.v) FROM @t t",
     0, "11"},
    // INSERT: EXECUTE cannot fill a table variable in 2000 (197, a compile error)
    {"CREATE PROCEDURE rows_out AS SELECT 1\nGO\n"
     "DECLARE @t TABLE (a int)\nINSERT @t EXEC rows_out",
     197, nullptr},
    // table: a table variable is not part of a transaction; ROLLBACK leaves its rows
    {"DECLARE @t TABLE (a int)\nINSERT @t VALUES (1)\nBEGIN TRAN\nINSERT @t VALUES (2)\n"
     "DECLARE @u TABLE (a int)\nINSERT @u VALUES (3)\nROLLBACK\n"
     "SELECT SUM(a) FROM (SELECT a FROM @t UNION ALL SELECT a FROM @u) s",
     0, "6"},
    {"DECLARE @t TABLE (a int)\nBEGIN TRAN\nSAVE TRAN s\nINSERT @t VALUES (5)\nROLLBACK TRAN s\n"
     "COMMIT\nSELECT COUNT(*) FROM @t",
     0, "1"},
    // table: scope is the batch; the next batch does not know it (137)
    {"DECLARE @t TABLE (a int)\nGO\nSELECT * FROM @t", 137, nullptr},
    // ... nor a procedure the batch calls
    {"CREATE PROCEDURE peek AS SELECT * FROM @t\nGO\nDECLARE @t TABLE (a int)\nEXEC peek", 137,
     nullptr},
    // ... and a procedure's own table variable is new on every call
    {"CREATE PROCEDURE fill AS DECLARE @t TABLE (a int) INSERT @t VALUES (1) "
     "SELECT COUNT(*) FROM @t\nGO\nEXEC fill\nEXEC fill",
     0, "1"},
    // DECLARE: one name is declared once per batch, table or not (134)
    {"DECLARE @t int\nDECLARE @t TABLE (a int)", 134, nullptr},
    // DECLARE is not executed: a loop passes it again without error or reset
    {"DECLARE @i int\nSET @i = 0\nWHILE @i < 3 BEGIN\n DECLARE @x int, @t TABLE (a int)\n"
     " SET @x = ISNULL(@x, 0) + 10\n INSERT @t VALUES (@i)\n SET @i = @i + 1\nEND\n"
     "SELECT @x + COUNT(*) FROM @t",
     0, "33"},
    // hostile column names and values
    {"DECLARE @t TABLE ([a]]b] nvarchar(20), [x'; DROP TABLE y--] int, [größe] int)\n"
     "INSERT @t VALUES (N'q''u;o]te', 1, 2)\n"
     "SELECT [a]]b] + CAST([x'; DROP TABLE y--] + [größe] AS nvarchar) FROM @t",
     0, "q'u;o]te3"},
};

TEST_F(RoutinesTest, TableVariables) {
  for (const Case& c : kTableVariables) Check(*session_, c);
}

const Case kFunctions[] = {
    // CREATE FUNCTION, example A: a scalar function called with its owner
    {"CREATE FUNCTION dbo.CubicVolume (@CubeLength decimal(4,1), @CubeWidth decimal(4,1), "
     "@CubeHeight decimal(4,1))\nRETURNS decimal(12,3)\nAS\nBEGIN\n"
     "   RETURN (@CubeLength * @CubeWidth * @CubeHeight)\nEND\nGO\n"
     "SELECT CAST(dbo.CubicVolume(1.5, 2, 3) * 1000 AS int)",
     0, "9000"},
    // Invoking scalar functions: the owner is required (195)
    {"SELECT CubicVolume(1, 2, 3)", 195, nullptr},
    // arguments must match the parameters (313, 8144)
    {"SELECT dbo.CubicVolume(1, 2)", 313, nullptr},
    {"SELECT dbo.CubicVolume(1, 2, 3, 4)", 8144, nullptr},
    // CREATE FUNCTION, example B: an inline table-valued function in FROM with an alias
    {"CREATE TABLE sales (stor_id char(4), title varchar(20), qty int)\n"
     "INSERT sales VALUES ('7066', 'A', 5)\nINSERT sales VALUES ('7066', 'B', 7)\n"
     "INSERT sales VALUES ('8042', 'C', 2)\nGO\n"
     "CREATE FUNCTION SalesByStore (@storeid varchar(30))\nRETURNS TABLE\nAS\n"
     "RETURN (SELECT title, qty FROM sales WHERE stor_id = @storeid)\nGO\n"
     "SELECT SUM(s.qty) FROM SalesByStore('7066') AS s JOIN sales x ON x.title = s.title",
     0, "12"},
    // CREATE FUNCTION, example C: a multi-statement function walking a hierarchy
    {"CREATE TABLE employees (empid nchar(5) PRIMARY KEY, empname nvarchar(50), mgrid nchar(5))\n"
     "INSERT employees VALUES ('1', 'Boss', NULL)\nINSERT employees VALUES ('2', 'A', '1')\n"
     "INSERT employees VALUES ('3', 'B', '2')\nINSERT employees VALUES ('4', 'C', '3')\n"
     "INSERT employees VALUES ('5', 'D', NULL)\nGO\n"
     "CREATE FUNCTION fn_FindReports (@InEmpId nchar(5))\n"
     "RETURNS @retFindReports TABLE (empid nchar(5) primary key, empname nvarchar(50) NOT NULL, "
     "mgrid nchar(5))\nWITH SCHEMABINDING\nAS\nBEGIN\n"
     "   DECLARE @RowsAdded int\n"
     "   DECLARE @reports TABLE (empid nchar(5) primary key, empname nvarchar(50) NOT NULL, "
     "mgrid nchar(5), processed tinyint default 0)\n"
     "   INSERT @reports SELECT empid, empname, mgrid, 0 FROM employees WHERE empid = @InEmpId\n"
     "   SET @RowsAdded = @@rowcount\n"
     "   WHILE @RowsAdded > 0\n   BEGIN\n"
     "      UPDATE @reports SET processed = 1 WHERE processed = 0\n"
     "      INSERT @reports SELECT e.empid, e.empname, e.mgrid, 0 FROM employees e, @reports r\n"
     "         WHERE e.mgrid = r.empid and e.mgrid <> e.empid and r.processed = 1\n"
     "      SET @RowsAdded = @@rowcount\n"
     "      UPDATE @reports SET processed = 2 WHERE processed = 1\n   END\n"
     "   INSERT @retFindReports SELECT empid, empname, mgrid FROM @reports\n   RETURN\nEND\nGO\n"
     "SELECT COUNT(*) FROM dbo.fn_FindReports('2') r",
     0, "3"},
    // sysobjects: xtype FN, IF and TF
    {"SELECT COUNT(*) FROM sysobjects WHERE name = 'CubicVolume' AND xtype = 'FN' OR "
     "name = 'SalesByStore' AND xtype = 'IF' OR name = 'fn_FindReports' AND xtype = 'TF'",
     0, "3"},
    // OBJECTPROPERTY: IsScalarFunction, IsInlineFunction, IsTableFunction
    {"SELECT CAST(OBJECTPROPERTY(OBJECT_ID('dbo.CubicVolume'), 'IsScalarFunction') AS char(1)) + "
     "CAST(OBJECTPROPERTY(OBJECT_ID('SalesByStore'), 'IsInlineFunction') AS char(1)) + "
     "CAST(OBJECTPROPERTY(OBJECT_ID('fn_FindReports'), 'IsTableFunction') AS char(1)) + "
     "CAST(OBJECTPROPERTY(OBJECT_ID('fn_FindReports'), 'IsScalarFunction') AS char(1))",
     0, "1110"},
    // INFORMATION_SCHEMA.ROUTINES lists functions as FUNCTION
    {"SELECT COUNT(*) FROM INFORMATION_SCHEMA.ROUTINES WHERE ROUTINE_TYPE = 'FUNCTION'", 0, "3"},
    // ALTER FUNCTION keeps the object, with the new body
    {"ALTER FUNCTION dbo.CubicVolume (@a decimal(4,1), @b decimal(4,1), @c decimal(4,1))\n"
     "RETURNS int WITH ENCRYPTION AS BEGIN RETURN @a + @b + @c END\nGO\n"
     "SELECT dbo.CubicVolume(1, 2, 3)",
     0, "6"},
    // DROP FUNCTION; a second drop finds nothing (3701)
    {"DROP FUNCTION SalesByStore\nGO\nDROP FUNCTION SalesByStore", 3701, nullptr},
    {"SELECT * FROM SalesByStore('7066')", 208, nullptr},
    // Recursion: a function may call itself, per row of a query too
    {"CREATE FUNCTION dbo.Fact (@n int) RETURNS int AS BEGIN IF @n <= 1 RETURN 1 "
     "RETURN @n * dbo.Fact(@n - 1) END\nGO\nSELECT SUM(dbo.Fact(qty)) + dbo.Fact(5) FROM sales",
     0, "5282"},
    // An error inside a function ends the statement that called it
    {"CREATE FUNCTION dbo.Inverse (@n int) RETURNS int AS BEGIN RETURN 1 / @n END\nGO\n"
     "SELECT dbo.Inverse(0)",
     8134, nullptr},
    // Side effects are refused when the function is made: 443, 444, and RETURN last (455)
    {"CREATE FUNCTION dbo.Bad () RETURNS int AS BEGIN INSERT sales VALUES ('x', 'y', 1) "
     "RETURN 1 END",
     443, nullptr},
    {"CREATE FUNCTION dbo.Bad () RETURNS int AS BEGIN EXEC sp_who RETURN 1 END", 443, nullptr},
    {"CREATE FUNCTION dbo.Bad () RETURNS int AS BEGIN SELECT 1 RETURN 1 END", 444, nullptr},
    {"CREATE FUNCTION dbo.Bad () RETURNS int AS BEGIN DECLARE @a int SET @a = 1 END", 455, nullptr},
    // ... while a table variable, also by its alias, may be changed
    {"CREATE FUNCTION dbo.Local () RETURNS int AS BEGIN DECLARE @t TABLE (a int) "
     "INSERT @t VALUES (1) UPDATE x SET a = 5 FROM @t x DELETE d FROM @t d WHERE a = 0 "
     "RETURN (SELECT a FROM @t) END\nGO\nSELECT dbo.Local()",
     0, "5"},
    {"CREATE FUNCTION dbo.Bad () RETURNS int AS BEGIN UPDATE x SET qty = 0 FROM sales x "
     "RETURN 1 END",
     443, nullptr},
    {"SELECT 1\nCREATE FUNCTION dbo.Bad () RETURNS int AS BEGIN RETURN 1 END", 111, nullptr},
    // hostile names: brackets, quotes, semicolons and non-ASCII in the function's name
    {"CREATE FUNCTION dbo.[f]]; 'ü] (@a nvarchar(10)) RETURNS nvarchar(20) AS BEGIN "
     "RETURN @a + N'ß' END\nGO\nSELECT dbo.[f]]; 'ü](N'x''y;')",
     0, "x'y;ß"},
};

TEST_F(RoutinesTest, UserDefinedFunctions) {
  for (const Case& c : kFunctions) Check(*session_, c);
}

// CREATE PROCEDURE: a local temporary procedure belongs to its connection
TEST_F(RoutinesTest, TemporaryProcedures) {
  const Case cases[] = {
      {"CREATE TABLE tp (a int)\nINSERT tp VALUES (7)\nGO\n"
       "CREATE PROCEDURE #count @add int = 1 AS SELECT COUNT(*) + MAX(a) + @add FROM tp\nGO\n"
       "EXEC #count 10",
       0, "18"},
      {"CREATE PROCEDURE #count AS SELECT 1", 2714, nullptr},
      {"ALTER PROCEDURE #count AS SELECT 2\nGO\nEXEC #count", 0, "2"},
      {"CREATE PROCEDURE [#p]]; 'ä] @s nvarchar(10) AS SELECT @s + N'ö'\nGO\n"
       "EXEC [#p]]; 'ä] N'x''y'",
       0, "x'yö"},
      {"DROP PROCEDURE #count\nGO\nEXEC #count", 2812, nullptr},
      {"DROP PROCEDURE #count", 3701, nullptr},
  };
  for (const Case& c : cases) Check(*session_, c);
  Ok("CREATE PROCEDURE #mine AS SELECT 1");
  std::unique_ptr<Session> other = Connect();
  EXPECT_EQ(Run(*other, "EXEC #mine").FirstError(), 2812);
  Ok(*other, "CREATE PROCEDURE #mine AS SELECT 2");
  EXPECT_EQ(Query(*other, "EXEC #mine").rows.at(0).at(0).ToText(), "2");
  other.reset();
  other = Connect();
  EXPECT_EQ(Run(*other, "EXEC #mine").FirstError(), 2812);
  EXPECT_EQ(Query("EXEC #mine").rows.at(0).at(0).ToText(), "1");

  // A global temporary procedure (##name) is every connection's; it ends with its maker's.
  Ok("CREATE PROCEDURE [##g]]; 'ä] @s nvarchar(10) AS SELECT @s + N'ö'");
  const Case global[] = {
      // CREATE PROCEDURE: "##" names a global temporary procedure other connections can run
      {"EXEC [##g]]; 'ä] N'x''y'", 0, "x'yö"},
      // one name for the whole server: a second connection cannot make it again (2714)
      {"CREATE PROCEDURE [##g]]; 'ä] AS SELECT 1", 2714, nullptr},
      {"ALTER PROCEDURE [##g]]; 'ä] @s int AS SELECT @s + 1\nGO\nEXEC [##g]]; 'ä] 1", 0, "2"},
      // ALTER PROCEDURE of a procedure that is not there: 208
      {"ALTER PROCEDURE ##none AS SELECT 1", 208, nullptr},
      {"CREATE PROCEDURE ##dropped AS SELECT 1\nGO\nDROP PROCEDURE ##dropped\nGO\n"
       "EXEC ##dropped",
       2812, nullptr},
      // DROP PROCEDURE: gone for everyone (2812), a second DROP fails (3701)
      {"DROP PROCEDURE ##dropped", 3701, nullptr},
  };
  for (const Case& c : global) Check(*other, c);
  EXPECT_EQ(Query("EXEC [##g]]; 'ä] 41").rows.at(0).at(0).ToText(), "42");
  Ok(*other, "CREATE PROCEDURE ##theirs AS SELECT 3");
  other.reset();
  EXPECT_EQ(Run("EXEC ##theirs").FirstError(), 2812);
  other = Connect();
  EXPECT_EQ(Query(*other, "EXEC [##g]]; 'ä] 1").rows.at(0).at(0).ToText(), "2");
  session_.reset();
  EXPECT_EQ(Run(*other, "EXEC [##g]]; 'ä] 1").FirstError(), 2812);
}

// SQL Server 7.0 has neither: its parser stops at the word.
TEST_F(RoutinesTest, RefusedOnVersion70) {
  std::unique_ptr<Session> session = SessionOn("7.00.1063");
  const Case cases[] = {
      {"DECLARE @t TABLE (a int)", 156, nullptr},
      {"CREATE FUNCTION dbo.f () RETURNS int AS BEGIN RETURN 1 END", 170, nullptr},
      // what 7.0 has still works
      {"DECLARE @i int\nSET @i = 0\nWHILE @i < 2 BEGIN DECLARE @x int SET @i = @i + 1 END\n"
       "SELECT @i",
       0, "2"},
  };
  for (const Case& c : cases) Check(*session, c);
}

}  // namespace
}  // namespace sandbox::testing
