// Stored procedures: parameters by position and by name, defaults, OUTPUT, return status,
// remote procedure calls with client parameters, nesting and #tables.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

class ProcedureTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE PROCEDURE dbo.AddUp (@a INT, @b INT = 10, @sum INT OUTPUT) AS "
       "SET @sum = @a + @b IF @sum > 100 RETURN 2 RETURN 1");
  }
  CollectingSink Call(const std::string& batch, std::vector<Parameter>& parameters) {
    CollectingSink sink;
    session_->Execute(batch, parameters, sink, std::chrono::milliseconds(0));
    return sink;
  }
  static Parameter Param(const std::string& name, Value value, bool output = false) {
    Parameter p;
    p.name = name;
    p.value = std::move(value);
    p.output = output;
    return p;
  }
};

TEST_F(ProcedureTest, OutputParametersAndReturnStatus) {
  RowSet set = Query("DECLARE @s INT, @r INT EXEC @r = AddUp 1, 2, @s OUTPUT SELECT @s, @r");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], Value(3));
  EXPECT_EQ(set.rows[0][1], Value(1));
  set = Query("DECLARE @s INT, @r INT EXEC @r = AddUp @sum = @s OUTPUT, @a = 95 SELECT @s, @r");
  EXPECT_EQ(set.rows[0][0], Value(105));
  EXPECT_EQ(set.rows[0][1], Value(2));
  // Without OUTPUT at the call the variable keeps its value.
  EXPECT_EQ(Scalar("DECLARE @s INT SET @s = 7 EXEC AddUp 1, 2, @s SELECT @s"), Value(7));
}

// SET options a procedure, a trigger or an EXEC string changes end with it: the caller's come
// back when control returns (SET statements in procedures and triggers, Books Online).
TEST_F(ProcedureTest, SetOptionsEndWithTheProcedureTriggerOrStringThatSetThem) {
  const std::string sets = "SET NOCOUNT ON SET ROWCOUNT 1 SET DATEFORMAT dmy SET LANGUAGE Deutsch";
  Ok("CREATE PROCEDURE [p; o'pts] AS " + sets);
  Ok("CREATE TABLE fired (v int)");
  Ok("CREATE TRIGGER fires ON fired FOR INSERT AS " + sets);
  for (const std::string& call : {std::string("EXEC [p; o'pts]"), "EXEC('" + sets + "')",
                                  std::string("INSERT fired VALUES (1)")}) {
    SCOPED_TRACE(call);
    CollectingSink sink = Run(call + " SELECT v FROM (SELECT 1 AS v UNION ALL SELECT 2) x "
                                     "SELECT MONTH(CAST('02/01/2003' AS datetime)), @@LANGUAGE");
    ASSERT_EQ(sink.FirstError(), 0);
    ASSERT_EQ(sink.sets.size(), 2u);
    EXPECT_EQ(sink.sets[0].rows.size(), 2u);  // ROWCOUNT 1 ended
    EXPECT_EQ(sink.sets[1].rows.at(0).at(0), Value(2));  // mdy again
    EXPECT_EQ(sink.sets[1].rows.at(0).at(1), Value("us_english"));
    EXPECT_EQ(sink.done.back(), 1);  // NOCOUNT off again
  }
}

TEST_F(ProcedureTest, ArgumentErrors) {
  EXPECT_EQ(Failure("EXEC AddUp"),
            "201: Procedure 'AddUp' expects parameter '@a', which was not supplied.");
  EXPECT_EQ(Run("DECLARE @s INT EXEC AddUp 1, 2, @s, 4").FirstError(), 8144);
  EXPECT_EQ(Failure("EXEC AddUp @x = 1"), "8145: @x is not a parameter for procedure AddUp.");
  EXPECT_EQ(Failure("EXEC NoSuchProc"), "2812: Could not find stored procedure 'NoSuchProc'.");
  EXPECT_EQ(Run("EXEC AddUp 'abc', 1, NULL").FirstError(), 245);
}

TEST_F(ProcedureTest, RemoteCallsFillClientParameters) {
  std::vector<Parameter> parameters = {Param("", Value()), Param("@a", Value(40)),
                                       Param("@sum", Value(), true)};
  CollectingSink sink = Call("AddUp", parameters);
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(parameters[0].value, Value(1));
  EXPECT_EQ(parameters[2].value, Value(50));
  // A parameterised batch sees client parameters as variables.
  std::vector<Parameter> batch_parameters = {Param("@x", Value(5)), Param("@y", Value(), true)};
  sink = Call("SET @y = @x * 3", batch_parameters);
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(batch_parameters[1].value, Value(15));
  // Question-mark markers take the parameters in order.
  Ok("CREATE TABLE m (a INT, b NVARCHAR(10), c DATETIME)");
  std::vector<Parameter> markers = {Param("", Value(1)), Param("", Value("x")),
                                    Param("", Value(common::DateTime{2003, 1, 2, 3, 4, 5, 0}))};
  sink = Call("INSERT INTO m (a, b, c) VALUES (?, ?, ?)", markers);
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(Scalar("SELECT c FROM m WHERE a = 1 AND b = 'X'"),
            Value(common::DateTime{2003, 1, 2, 3, 4, 5, 0}));
}

TEST_F(ProcedureTest, ProceduresReturnRowsAndMessages) {
  Ok("CREATE TABLE items (id INT, name VARCHAR(10))");
  Ok("INSERT INTO items VALUES (1, 'a') INSERT INTO items VALUES (2, 'b')");
  Ok("CREATE PROCEDURE ListItems @min INT AS SET NOCOUNT ON PRINT 'listing' SELECT * FROM items "
     "WHERE id >= @min ORDER BY id");
  CollectingSink sink = Run("EXEC ListItems 2");
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(sink.sets[0].rows.size(), 1u);
  ASSERT_FALSE(sink.messages.empty());
  EXPECT_EQ(sink.messages[0].text, "listing");
  EXPECT_EQ(sink.messages[0].procedure, "ListItems");
  // Errors inside procedures name the procedure and the line.
  Ok("CREATE PROCEDURE Fails AS\nSELECT 1\nINSERT INTO items (id) VALUES ('x')");
  sink = Run("EXEC Fails");
  ASSERT_EQ(sink.FirstError(), 245);
  EXPECT_EQ(sink.Errors()[0]->procedure, "Fails");
  EXPECT_EQ(sink.Errors()[0]->line, 3);
}

TEST_F(ProcedureTest, TemporaryTablesBelongToTheirSessionAndProcedure) {
  Ok("CREATE PROCEDURE MakesTemp AS CREATE TABLE #inner (a INT) INSERT INTO #inner VALUES (1) "
     "SELECT COUNT(*) FROM #inner");
  EXPECT_EQ(Scalar("EXEC MakesTemp"), Value(1));
  // The procedure's #table went with it, so a second call can make it again.
  EXPECT_EQ(Scalar("EXEC MakesTemp"), Value(1));
  EXPECT_EQ(Run("SELECT * FROM #inner").FirstError(), 208);
  // A #table of the caller is visible inside the procedure.
  Ok("CREATE TABLE #outer (a INT) INSERT INTO #outer VALUES (5)");
  Ok("CREATE PROCEDURE ReadsTemp AS SELECT a FROM #outer");
  EXPECT_EQ(Scalar("EXEC ReadsTemp"), Value(5));
  auto other = Connect();
  EXPECT_EQ(Run(*other, "EXEC ReadsTemp").FirstError(), 208);
  Ok(*other, "CREATE TABLE #outer (b VARCHAR(5)) INSERT INTO #outer VALUES ('mine')");
  EXPECT_EQ(Query(*other, "SELECT * FROM #outer").rows.at(0).at(0), Value("mine"));
  EXPECT_EQ(Scalar("SELECT a FROM #outer"), Value(5));
  // Each #table has its own object id, also after others were dropped.
  Ok("CREATE TABLE #x (a INT) CREATE TABLE #y (a INT) DROP TABLE #x CREATE TABLE #z (a INT)");
  EXPECT_EQ(Scalar("SELECT CASE WHEN OBJECT_ID('#y') = OBJECT_ID('#z') THEN 1 ELSE 0 END"),
            Value(0));
}

TEST_F(ProcedureTest, NestingAndControlFlow) {
  Ok("CREATE PROCEDURE Fact @n INT, @r INT OUTPUT AS "
     "DECLARE @sub INT "
     "IF @n <= 1 BEGIN SET @r = 1 RETURN END "
     "SET @sub = @n - 1 "
     "EXEC Fact @sub, @r OUTPUT "
     "SET @r = @r * @n");
  EXPECT_EQ(Scalar("DECLARE @r INT EXEC Fact 5, @r OUTPUT SELECT @r"), Value(120));
  EXPECT_EQ(Scalar("DECLARE @i INT, @s INT SELECT @i = 0, @s = 0 "
                   "WHILE @i < 10 BEGIN SET @i = @i + 1 IF @i % 2 = 0 CONTINUE IF @i > 7 BREAK "
                   "SET @s = @s + @i END SELECT @s"),
            Value(16));
  CollectingSink sink = Run("DECLARE @r INT EXEC Fact 40, @r OUTPUT");
  EXPECT_EQ(sink.FirstError(), 217);
}

TEST_F(ProcedureTest, DynamicSqlAndErrorsAfterExec) {
  EXPECT_EQ(Scalar("DECLARE @t VARCHAR(20) SET @t = 'SELECT 4' EXEC ('SELECT ' + '2 * 2')"),
            Value(4));
  // A syntax error in the string is reported like any other statement error.
  CollectingSink sink = Run("EXEC ('SELECT FROM') SELECT 'after'");
  EXPECT_EQ(sink.FirstError(), 156) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(sink.sets[0].rows[0][0], Value("after"));
  // #tables of the dynamic batch end with it.
  EXPECT_EQ(Run("EXEC ('CREATE TABLE #dyn (a INT)') SELECT * FROM #dyn").FirstError(), 208);
  // @@ERROR after EXEC is the error of the procedure's last statement.
  Ok("CREATE TABLE one (a INT NOT NULL)");
  Ok("CREATE PROCEDURE InsertsNull AS INSERT INTO one VALUES (NULL)");
  sink = Run("DECLARE @e INT EXEC InsertsNull SET @e = @@ERROR SELECT @e");
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(sink.sets[0].rows[0][0], Value(515));
  EXPECT_EQ(
      Scalar("DECLARE @i INT SET @i = 0 again: SET @i = @i + 1 IF @i < 5 GOTO again SELECT @i"),
      Value(5));
}

TEST_F(ProcedureTest, AlterAndDropProcedure) {
  Ok("ALTER PROCEDURE AddUp @a INT, @b INT = 0, @sum INT OUTPUT AS SET @sum = @a - @b");
  EXPECT_EQ(Scalar("DECLARE @s INT EXEC AddUp 5, 2, @s OUTPUT SELECT @s"), Value(3));
  EXPECT_EQ(Run("CREATE PROCEDURE AddUp AS SELECT 1").FirstError(), 2714);
  Ok("DROP PROCEDURE AddUp");
  EXPECT_EQ(Run("EXEC AddUp 1").FirstError(), 2812);
  EXPECT_EQ(Run("DROP PROCEDURE AddUp").FirstError(), 3701);
}

TEST_F(ProcedureTest, AlteringKeepsTheGrantsAndDroppingTakesThem) {
  Ok("EXEC sp_addrole 'callers'");
  Ok("CREATE VIEW dbo.Sums AS SELECT 1 AS one");
  Ok("GRANT EXEC ON AddUp TO callers GRANT SELECT ON Sums TO callers");
  const std::string granted =
      "SELECT COUNT(*) FROM sysprotects p JOIN sysobjects o ON o.id = p.id "
      "WHERE o.name IN ('AddUp', 'Sums') AND p.uid = USER_ID('callers')";
  ASSERT_EQ(Scalar(granted), Value(2));
  Ok("ALTER PROCEDURE dbo.AddUp (@a INT, @b INT = 20, @sum INT OUTPUT) AS SET @sum = @a + @b");
  Ok("ALTER VIEW dbo.Sums AS SELECT 2 AS two");
  EXPECT_EQ(Scalar(granted), Value(2));
  EXPECT_EQ(Scalar("DECLARE @s INT EXEC AddUp 1, @sum = @s OUTPUT SELECT @s"), Value(21));
  Ok("DROP PROCEDURE AddUp DROP VIEW Sums");
  Ok("CREATE PROCEDURE dbo.AddUp AS RETURN 0");
  Ok("CREATE VIEW dbo.Sums AS SELECT 3 AS three");
  EXPECT_EQ(Scalar(granted), Value(0));
}

// INSERT ... EXEC stores the rows a procedure returns, converted to the target's types, however
// many there are: they pass through a work table as they come (a result of 83,521 rows of four
// columns once failed: every value was a parameter of one statement).
TEST_F(ProcedureTest, InsertExecStoresTheProceduresRows) {
  Ok("CREATE TABLE n (v varchar(3)) SET NOCOUNT ON DECLARE @i int SET @i = 0 "
     "WHILE @i < 17 BEGIN INSERT n VALUES (CAST(@i AS varchar(3))) SET @i = @i + 1 END");
  Ok("CREATE PROCEDURE dbo.Pairs AS SELECT 1, 'one' UNION ALL SELECT 2, 'two'");
  Ok("CREATE PROCEDURE dbo.Nothing AS SELECT 1, 'x' WHERE 1 = 0");
  Ok("CREATE PROCEDURE dbo.Wide AS SELECT a.v, b.v, c.v, d.v FROM n a, n b, n c, n d");
  Ok("CREATE TABLE target (id bigint, name nvarchar(10))");
  Ok("CREATE TABLE four (a varchar(3), b varchar(3), c varchar(3), d varchar(3))");
  struct Case {
    std::string batch;
    std::int32_t error;
    Value count;
  };
  const std::vector<Case> cases = {
      {"INSERT target EXEC dbo.Pairs SELECT COUNT(*) FROM target WHERE name = N'two' AND id = 2",
       0, Value(1)},
      {"INSERT target (id, name) EXEC dbo.Nothing SELECT COUNT(*) FROM target", 0, Value(2)},
      {"INSERT target (id) EXEC dbo.Pairs SELECT COUNT(*) FROM target", 213, Value(2)},
      {"INSERT four EXEC dbo.Wide SELECT COUNT(*) FROM four", 0, Value(83521)},
      // Twice now: 17 * 17 rows each time with both ends '16'.
      {"INSERT four EXEC dbo.Wide SELECT COUNT(*) FROM four WHERE a = '16' AND d = '16'", 0,
       Value(2 * 17 * 17)},
  };
  for (const Case& c : cases) {
    CollectingSink sink = Run(c.batch);
    EXPECT_EQ(sink.FirstError(), c.error) << c.batch << ": " << sink.ErrorText();
    ASSERT_FALSE(sink.sets.empty()) << c.batch;
    EXPECT_EQ(sink.sets.back().rows.at(0).at(0), c.count) << c.batch;
  }
  // No work table is left behind.
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM tempdb..sysobjects WHERE name LIKE 'insert_exec%'"),
            Value(0));
}

}  // namespace
}  // namespace sandbox::testing
