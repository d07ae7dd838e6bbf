// Variables assigned by SELECT and UPDATE over many rows: once per row, in the rows' order, each
// row seeing what the rows before it left; the declared type of the variable governs.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

struct Case {
  const char* batch;  // ends with a one-value SELECT
  Value expected;
};

class VariableAssignmentTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    // Inserted out of order: only ORDER BY gives the order the assignments follow.
    Ok("CREATE TABLE Items (id INT, name NVARCHAR(30), qty INT NULL)");
    Ok("INSERT INTO Items VALUES (3, N'gamma', 30) INSERT INTO Items VALUES (1, N'alpha', 10) "
       "INSERT INTO Items VALUES (2, N'beta', NULL) "
       "INSERT INTO Items VALUES (4, N'Ünï''; ]x', 40)");
    Ok("CREATE TABLE Seq (id INT, v INT, label NVARCHAR(20))");
    Ok("INSERT INTO Seq VALUES (1, 5, N'') INSERT INTO Seq VALUES (2, 6, N'') "
       "INSERT INTO Seq VALUES (3, 7, N'') INSERT INTO Seq VALUES (4, 8, N'')");
  }
  void Check(const std::vector<Case>& cases, const char* before_each = nullptr) {
    for (const Case& c : cases) {
      if (before_each) Ok(before_each);
      EXPECT_EQ(Scalar(c.batch), c.expected) << c.batch;
    }
  }
};

TEST_F(VariableAssignmentTest, SelectAssignsOncePerRowInOrder) {
  Check({
      // Building a list: the assignment runs for every row, in ORDER BY's order.
      {"DECLARE @s NVARCHAR(200) SET @s = '' SELECT @s = @s + name + ',' FROM Items "
       "WHERE id < 4 ORDER BY name SELECT @s",
       "alpha,beta,gamma,"},
      {"DECLARE @s NVARCHAR(200) SET @s = '' SELECT @s = @s + name + ',' FROM Items "
       "WHERE id < 4 ORDER BY id DESC SELECT @s",
       "gamma,beta,alpha,"},
      // The separator idiom: the first row finds @s NULL.
      {"DECLARE @s VARCHAR(100) SELECT @s = ISNULL(@s + ', ', '') + name FROM Items "
       "WHERE id < 4 ORDER BY id SELECT @s",
       "alpha, beta, gamma"},
      // CONCAT_NULL_YIELDS_NULL ON: a NULL row makes the rest NULL.
      {"DECLARE @s VARCHAR(100) SET @s = '' SELECT @s = @s + CAST(qty AS VARCHAR) FROM Items "
       "ORDER BY id SELECT ISNULL(@s, 'null')",
       "null"},
      {"DECLARE @n INT SET @n = 0 SELECT @n = @n + 1 FROM Items SELECT @n", 4},
      // Several variables: each sees what the rows before left.
      {"DECLARE @a INT, @b VARCHAR(50) SELECT @a = 0, @b = '' "
       "SELECT @a = @a + id, @b = @b + LEFT(name, 1) FROM Items WHERE id < 4 ORDER BY id DESC "
       "SELECT @b + ':' + CAST(@a AS VARCHAR)",
       "gba:6"},
      // SELECT @local_variable: no row keeps the old value, several leave the last one.
      {"DECLARE @s VARCHAR(10) SET @s = 'kept' SELECT @s = name FROM Items WHERE id > 100 "
       "SELECT @s",
       "kept"},
      {"DECLARE @s NVARCHAR(30) SELECT @s = name FROM Items WHERE id < 4 ORDER BY id DESC "
       "SELECT @s",
       "alpha"},
      {"DECLARE @s NVARCHAR(30) SELECT @s = name FROM Items WHERE id < 4 ORDER BY 1 SELECT @s",
       "gamma"},
      {"DECLARE @n INT SELECT @n = id FROM Items WHERE id < 4 SELECT @@ROWCOUNT", 3},
      // TOP takes the first rows of the order; GROUP BY assigns once per group.
      {"DECLARE @s VARCHAR(50) SET @s = '' SELECT TOP 2 @s = @s + name + ';' FROM Items "
       "ORDER BY id SELECT @s",
       "alpha;beta;"},
      {"DECLARE @s VARCHAR(50) SET @s = '' SELECT @s = @s + CAST(id % 2 AS VARCHAR) + '=' + "
       "CAST(COUNT(*) AS VARCHAR) + ' ' FROM Items GROUP BY id % 2 ORDER BY id % 2 DESC "
       "SELECT @s",
       "1=2 0=2 "},
      {"DECLARE @x INT SELECT DISTINCT @x = id % 2 FROM Items ORDER BY id % 2 DESC SELECT @x", 0},
      // The variable's type cuts every step: alpha + beta fills varchar(8), gamma finds no room.
      {"DECLARE @s VARCHAR(8) SET @s = '' SELECT @s = @s + name FROM Items WHERE id < 4 "
       "ORDER BY id SELECT @s",
       "alphabet"},
      // Quotes, brackets, semicolons and non-ASCII letters pass through unchanged.
      {"DECLARE @s NVARCHAR(100) SET @s = N'' SELECT @s = @s + name + N'|' FROM Items "
       "WHERE id >= 3 ORDER BY id DESC SELECT @s",
       "Ünï'; ]x|gamma|"},
      {"DECLARE @s NVARCHAR(100) SET @s = N'' SELECT @s = @s + QUOTENAME(name) FROM Items "
       "WHERE id > 2 ORDER BY id SELECT @s",
       "[gamma][Ünï'; ]]x]"},
  });
}

TEST_F(VariableAssignmentTest, UpdateAssignsOncePerRowInOrder) {
  Check(
      {
          // UPDATE's SET @variable = column = expression: a running number.
          {"DECLARE @v INT SET @v = 0 UPDATE Seq SET @v = v = @v + 1 "
           "SELECT CAST(SUM(v * id) AS VARCHAR) + '/' + CAST(@v AS VARCHAR) FROM Seq",
           "30/4"},
          // SET @variable = expression reads the row before the update.
          {"DECLARE @t INT SET @t = 0 UPDATE Seq SET v = v * 10, @t = @t + v "
           "SELECT CAST(@t AS VARCHAR) + '/' + CAST(SUM(v) AS VARCHAR) FROM Seq",
           "26/260"},
          // A column reads the variable as the rows before it left it, not as this row sets it.
          {"DECLARE @x INT SET @x = 0 UPDATE Seq SET v = v + @x, @x = @x + 1 "
           "SELECT CAST(SUM(v) AS VARCHAR) + '/' + CAST(@x AS VARCHAR) FROM Seq",
           "32/4"},
          // Only the rows SET ROWCOUNT lets through are seen.
          {"DECLARE @n INT SET @n = 0 SET ROWCOUNT 2 UPDATE Seq SET @n = @n + 1, v = 0 "
           "SET ROWCOUNT 0 SELECT CAST(@n AS VARCHAR) + '/' + CAST(SUM(v) AS VARCHAR) FROM Seq",
           "2/15"},
          {"DECLARE @n INT SET @n = 9 UPDATE Seq SET @n = v WHERE id > 100 SELECT @n", 9},
          {"DECLARE @s NVARCHAR(20) SET @s = N'[' UPDATE Seq SET @s = label = @s + N'ü;''' "
           "SELECT @s + N'|' + label FROM Seq WHERE id = 2",
           "[ü;'ü;'ü;'ü;'|[ü;'ü;'"},
          // @variable = column = expression: the variable's own type cuts what it gets.
          {"DECLARE @s NVARCHAR(3) UPDATE Seq SET @s = label = N'abcdef' WHERE id = 1 "
           "SELECT @s + N'|' + label FROM Seq WHERE id = 1",
           "abc|abcdef"},
      },
      "UPDATE Seq SET v = id + 4, label = N''");
}

TEST_F(VariableAssignmentTest, UpdateRowsReachedTwiceByAJoinAreWrittenOnce) {
  Ok("CREATE TABLE Pairs (id INT) INSERT INTO Pairs VALUES (1) INSERT INTO Pairs VALUES (1)");
  EXPECT_EQ(Scalar("DECLARE @n INT SET @n = 0 UPDATE s SET @n = @n + 1, v = v + 100 FROM Seq s "
                   "JOIN Pairs p ON p.id = s.id SELECT @@ROWCOUNT"),
            Value(1));
  EXPECT_EQ(Scalar("SELECT v FROM Seq WHERE id = 1"), Value(105));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Seq WHERE v > 100"), Value(1));
}

TEST_F(VariableAssignmentTest, RefusedAssignmentsChangeNothing) {
  struct Refusal {
    const char* batch;
    int error;
  };
  const Refusal refusals[] = {
      // The column's type refuses a value too long (ANSI_WARNINGS ON), before any row changes.
      {"DECLARE @s NVARCHAR(40) SET @s = N'' "
       "UPDATE Seq SET @s = label = @s + N'[x]; ''ü''' WHERE id < 4",
       8152},
      {"SELECT @missing = name FROM Items", 137},
      {"UPDATE Seq SET @missing = v, label = N'x'", 137},
      // Assignments and data retrieval do not mix.
      {"DECLARE @s NVARCHAR(30) SELECT @s = name, id FROM Items", 141},
  };
  for (const Refusal& r : refusals) {
    EXPECT_EQ(Run(r.batch).FirstError(), r.error) << r.batch;
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Seq WHERE label <> N''"), Value(0)) << r.batch;
  }
}

}  // namespace
}  // namespace sandbox::testing
