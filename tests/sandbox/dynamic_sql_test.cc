// sp_executesql and prepared statements typed as Transact-SQL: declared parameters bound by
// position and by name, OUTPUT values, values that are data whatever they hold, and the errors of
// missing, unknown and repeated parameters and unknown handles.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

class DynamicSqlTest : public SandboxTest {};

TEST_F(DynamicSqlTest, ParametersBindByPositionAndByNameInTheirDeclaredTypes) {
  const struct {
    const char* batch;
    Value expected;
  } cases[] = {
      {"EXEC sp_executesql N'SELECT @a + 1', N'@a int', 41", Value(42)},
      {"EXEC sp_executesql N'SELECT @b - @a', N'@a int, @b int', @b = 10, @a = 3", Value(7)},
      {"EXEC sp_executesql @statement = N'SELECT @a', @params = N'@a varchar(3)', @a = 'abcdef'",
       Value("abc")},
      {"EXEC sp_executesql N'SELECT @d * 2', N'@d decimal(6,2)', '1.25'", Value(2.5)},
      {"EXEC sp_executesql N'SELECT DATEPART(year, @t)', N'@t datetime2', '2003-01-02'",
       Value(2003)},
      {"EXEC sp_executesql N'SELECT ISNULL(@n, N''none'')', N'@n nvarchar(10)', NULL",
       Value("none")},
      {"EXEC sp_executesql N'SELECT 5'", Value(5)},
  };
  for (const auto& c : cases) EXPECT_EQ(Scalar(c.batch), c.expected) << c.batch;
}

TEST_F(DynamicSqlTest, AHostileValueIsDataNotStatementText) {
  Ok("CREATE TABLE keep_me (v NVARCHAR(100))");
  const std::string hostile = "x''); DROP TABLE keep_me; --]\xC3\xA9";
  Ok("EXEC sp_executesql N'INSERT INTO keep_me VALUES (@v)', N'@v nvarchar(100)', N'" + hostile +
     "'");
  EXPECT_EQ(Scalar("SELECT v FROM keep_me"), Value("x'); DROP TABLE keep_me; --]\xC3\xA9"));
}

TEST_F(DynamicSqlTest, OutputParametersComeBackAndTheScopeIsItsOwn) {
  RowSet set = Query(
      "DECLARE @r INT, @outer INT SET @outer = 1 "
      "EXEC sp_executesql N'SET @x = @y * 3', N'@x int OUTPUT, @y int', @r OUTPUT, 5 "
      "SELECT @r, @outer");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], Value(15));
  EXPECT_EQ(set.rows[0][1], Value(1));
  // The caller's variables are not visible inside.
  EXPECT_EQ(Run("DECLARE @outer INT EXEC sp_executesql N'SELECT @outer'").FirstError(), 137);
  // Without OUTPUT at the call the variable keeps its value.
  EXPECT_EQ(Scalar("DECLARE @r INT SET @r = 2 "
                   "EXEC sp_executesql N'SET @x = 9', N'@x int OUTPUT', @r SELECT @r"),
            Value(2));
  // EXECUTE, "Using EXECUTE with a character string": a database context changed inside lasts
  // only until the string ends; the string itself runs on in it.
  EXPECT_EQ(Scalar("EXEC('USE model') SELECT DB_NAME()"), Value("master"));
  EXPECT_EQ(Scalar("EXEC sp_executesql N'USE tempdb' SELECT DB_NAME()"), Value("master"));
  EXPECT_EQ(Scalar("DECLARE @n sysname EXEC sp_executesql N'USE model SELECT @n = DB_NAME()', "
                   "N'@n sysname OUTPUT', @n OUTPUT SELECT @n"),
            Value("model"));
}

TEST_F(DynamicSqlTest, ParameterErrors) {
  const struct {
    const char* batch;
    std::int32_t error;
  } cases[] = {
      {"EXEC sp_executesql N'SELECT @a', N'@a int'", 8178},
      {"EXEC sp_executesql N'SELECT @a', N'@a int', @b = 1", 8145},
      {"EXEC sp_executesql N'SELECT @a', N'@a int', 1, 2", 8144},
      {"EXEC sp_executesql N'SELECT @a', N'@a int', @a = 1, @a = 2", 8143},
      {"EXEC sp_executesql N'SELECT @a', N'@a int, @a int', 1, 2", 134},
      {"EXEC sp_executesql N'SELECT @a', N'@a nosuchtype', 1", 243},
      {"EXEC sp_executesql N'SELECT @a', N'@a int; DROP TABLE x', 1", 102},
      {"EXEC sp_executesql N'SELECT FROM', N'@a int', 1", 156},
      {"EXEC sp_executesql N'SELECT @a', N'@a int', 'abc'", 245},
      {"EXEC sp_executesql", 201},
  };
  for (const auto& c : cases) EXPECT_EQ(Run(c.batch).FirstError(), c.error) << c.batch;
  CollectingSink sink = Run("EXEC sp_executesql N'SELECT @a', N'@a int'");
  ASSERT_EQ(sink.Errors().size(), 1u);
  EXPECT_EQ(sink.Errors()[0]->text,
            "The parameterized query '(@a int)SELECT @a' expects the parameter '@a', which was "
            "not supplied.");
}

TEST_F(DynamicSqlTest, PreparedStatementsRunUntilUnprepared) {
  RowSet set = Query(
      "DECLARE @h INT, @h2 INT "
      "EXEC sp_prepare @h OUTPUT, N'@a int, @b nvarchar(5)', N'SELECT @a * 2, @b' "
      "EXEC sp_prepare @h2 OUTPUT, N'', N'SELECT 1' "
      "SELECT @h, @h2");
  ASSERT_EQ(set.rows.size(), 1u);
  const Value first = set.rows[0][0];
  ASSERT_TRUE(first.ToInt());
  EXPECT_EQ(*set.rows[0][1].ToInt(), *first.ToInt() + 1);
  const std::string handle = first.ToText();
  set = Query("EXEC sp_execute " + handle + ", 21, N'abcdefgh'");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], Value(42));
  EXPECT_EQ(set.rows[0][1], Value("abcde"));
  EXPECT_EQ(Query("EXEC sp_execute " + handle + ", @b = N'x', @a = 1").rows[0][0], Value(2));
  Ok("EXEC sp_unprepare " + handle);
  CollectingSink sink = Run("EXEC sp_execute " + handle + ", 1, N'x'");
  EXPECT_EQ(sink.FirstError(), 8179);
  EXPECT_EQ(Run("EXEC sp_unprepare " + handle).FirstError(), 8179);
  // Handles belong to their session.
  auto other = Connect();
  EXPECT_EQ(Run(*other, "EXEC sp_execute " + std::to_string(*first.ToInt() + 1)).FirstError(),
            8179);
  // A statement that does not parse is refused when it is prepared.
  EXPECT_EQ(Run("DECLARE @h INT EXEC sp_prepare @h OUTPUT, N'', N'SELECT FROM'").FirstError(), 156);
  // A prepared statement that runs itself stops at the nesting limit.
  set = Query("DECLARE @h INT EXEC sp_prepare @h OUTPUT, N'', N'SELECT 1' SELECT @h");
  const std::string next = std::to_string(*set.rows[0][0].ToInt() + 1);
  Ok("DECLARE @h INT EXEC sp_prepare @h OUTPUT, N'', N'EXEC sp_execute " + next + "'");
  EXPECT_EQ(Run("EXEC sp_execute " + next).FirstError(), 217);
  // sp_prepexec prepares and runs at once.
  set = Query(
      "DECLARE @h INT EXEC sp_prepexec @h OUTPUT, N'@a int', N'SELECT @a + 100', 1 "
      "EXEC sp_execute @h, 2");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], Value(102));
}

}  // namespace
}  // namespace sandbox::testing
