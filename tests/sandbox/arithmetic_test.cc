// Arithmetic as SQL Server 2000 does it: integer results in the range of their type (8115), the
// result types of the operators, scalar sub-queries of one row (512), ROUND and decimal literals
// on their decimal digits, and the functions that used to answer without looking at their
// arguments. Each case names the documented behaviour it follows.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

struct ErrorCase {
  const char* rule;  // the documented behaviour
  std::string batch;
  int number;
  int severity;
  const char* text;
};

class ArithmeticTest : public SandboxTest {
 protected:
  // Each batch fails with the case's error as its first.
  void ExpectErrors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
      SCOPED_TRACE(std::string(c.rule) + ": " + c.batch);
      CollectingSink sink = Run(c.batch);
      ASSERT_EQ(sink.FirstError(), c.number) << sink.ErrorText();
      EXPECT_EQ(sink.Errors()[0]->severity, c.severity);
      EXPECT_EQ(sink.Errors()[0]->text, c.text);
    }
  }
};

constexpr const char* kIntOverflow =
    "Arithmetic overflow error converting expression to data type int.";

TEST_F(ArithmeticTest, IntegerResultsOutOfTheirTypesRangeAreError8115) {
  Ok("CREATE TABLE big (v INT) INSERT INTO big VALUES (2147483647) INSERT INTO big VALUES (1)");
  ExpectErrors({
      {"int * int is int", "SELECT 2147483647 * 2", 8115, 16, kIntOverflow},
      {"int + int is int", "SELECT 2147483647 + 1", 8115, 16, kIntOverflow},
      {"int - int is int", "SELECT -2147483647 - 2", 8115, 16, kIntOverflow},
      {"tinyint + tinyint is tinyint", "SELECT CAST(255 AS tinyint) + CAST(1 AS tinyint)", 8115, 16,
       "Arithmetic overflow error converting expression to data type tinyint."},
      {"smallint + smallint is smallint", "SELECT CAST(32767 AS smallint) + CAST(1 AS smallint)",
       8115, 16, "Arithmetic overflow error converting expression to data type smallint."},
      {"tinyint - tinyint below 0", "SELECT CAST(0 AS tinyint) - CAST(1 AS tinyint)", 8115, 16,
       "Arithmetic overflow error converting expression to data type tinyint."},
      {"POWER returns the type of its first argument", "SELECT POWER(2, 31)", 8115, 16,
       kIntOverflow},
      {"POWER far past 64 bits", "SELECT POWER(2, 80)", 8115, 16, kIntOverflow},
      {"bigint maximum + 1", "SELECT CAST(9223372036854775807 AS bigint) + 1", 8115, 16,
       "Arithmetic overflow error converting expression to data type bigint."},
      {"bigint * int is bigint", "SELECT CAST(9223372036854775807 AS bigint) * 2", 8115, 16,
       "Arithmetic overflow error converting expression to data type bigint."},
      {"negation of the int minimum", "DECLARE @i int SET @i = -2147483648 SELECT -@i", 8115, 16,
       kIntOverflow},
      {"ABS of the int minimum", "DECLARE @i int SET @i = -2147483648 SELECT ABS(@i)", 8115, 16,
       kIntOverflow},
      {"int minimum / -1", "DECLARE @i int SET @i = -2147483648 SELECT @i / -1", 8115, 16,
       kIntOverflow},
      {"SUM of int is int", "SELECT SUM(v) FROM big", 8115, 16, kIntOverflow},
      {"SUM of bit", "SELECT SUM(CAST(1 AS bit))", 409, 16,
       "The sum or average aggregate operation cannot take a bit data type as an argument."},
      {"AVG of varchar", "SELECT AVG(name) FROM (SELECT 'a' AS name) t", 409, 16,
       "The sum or average aggregate operation cannot take a varchar data type as an argument."},
      {"MAX of bit", "SELECT MAX(CAST(1 AS bit))", 409, 16,
       "The max aggregate operation cannot take a bit data type as an argument."},
      {"SUM of bigint past 64 bits",
       "SELECT SUM(v) FROM (SELECT CAST(9223372036854775807 AS bigint) AS v UNION ALL "
       "SELECT CAST(1 AS bigint)) t",
       8115, 16, "Arithmetic overflow error converting expression to data type bigint."},
      {"an expression in a WHERE clause", "SELECT COUNT(*) FROM big WHERE v * 2 > 0", 8115, 16,
       kIntOverflow},
      {"CAST of a numeric constant to int", "SELECT CAST(2147483648 AS int)", 8115, 16,
       kIntOverflow},
      {"CONVERT of an int to smallint", "SELECT CONVERT(smallint, 40000)", 220, 16,
       "Arithmetic overflow error for data type smallint, value = 40000."},
      {"CAST of an int to tinyint", "SELECT CAST(300 AS tinyint)", 220, 16,
       "Arithmetic overflow error for data type tinyint, value = 300."},
      {"CAST of a negative int to tinyint", "SELECT CAST(-1 AS tinyint)", 220, 16,
       "Arithmetic overflow error for data type tinyint, value = -1."},
  });
  // A computed overflow comes with state 2; the batch goes on after the failed statement,
  // with @@ROWCOUNT 0, and a failed query is not "terminated" as a failed change is.
  Ok("CREATE TABLE one_row (v int) INSERT one_row VALUES (1)");
  for (const char* query : {"SELECT 2147483647 * 2", "UPDATE one_row SET v = 2147483647 * 2"}) {
    SCOPED_TRACE(query);
    CollectingSink sink = Run(std::string("SELECT 1 ") + query + " SELECT @@ROWCOUNT");
    ASSERT_EQ(sink.FirstError(), 8115);
    EXPECT_EQ(sink.Errors()[0]->state, 2);
    ASSERT_FALSE(sink.sets.empty());
    EXPECT_EQ(sink.sets.back().rows.at(0).at(0), Value(0));
    bool terminated = std::any_of(sink.messages.begin(), sink.messages.end(),
                                  [](const ServerMessage& m) { return m.number == 3621; });
    EXPECT_EQ(terminated, query[0] == 'U');
  }
}

TEST_F(ArithmeticTest, ResultsInRangeAndTheirTypesFollowDataTypePrecedence) {
  struct Case {
    const char* rule;
    std::string expression;
    Value value;
    const char* type;
  };
  const Case cases[] = {
      {"int * int is int", "2147483647 * 1", Value(2147483647), "int"},
      {"int * bigint is bigint", "2147483647 * CAST(2 AS bigint)", Value(4294967294LL), "bigint"},
      {"bigint maximum itself", "CAST(9223372036854775806 AS bigint) + 1",
       Value(9223372036854775807LL), "bigint"},
      {"tinyint + tinyint is tinyint", "CAST(200 AS tinyint) + CAST(55 AS tinyint)", Value(255),
       "tinyint"},
      {"smallint * smallint is smallint", "CAST(100 AS smallint) * CAST(300 AS smallint)",
       Value(30000), "smallint"},
      {"tinyint + int is int", "CAST(255 AS tinyint) + 1", Value(256), "int"},
      {"constants past int are numeric", "2147483648 + 1", Value(2147483649LL), "numeric"},
      {"-2147483648 is numeric too", "-2147483648 - 1", Value(-2147483649LL), "numeric"},
      {"intermediate results may leave int's range only in bigint",
       "CAST(2147483647 AS bigint) * 2 / 2", Value(2147483647LL), "bigint"},
      {"POWER of a bigint", "POWER(CAST(2 AS bigint), 31)", Value(2147483648LL), "bigint"},
      {"the int minimum stays", "-2147483647 - 1", Value(-2147483647LL - 1), "int"},
      {"SUM of bigint", "SUM(CAST(2147483647 AS bigint) + 1)", Value(2147483648LL), "bigint"},
      {"long chains of int keep their value", "1 + 1 + 1 + 1 + 1 - 5", Value(0), "int"},
      // SUM and AVG: decimal(p, s) sums to decimal(38, s), averages to decimal(38, max(s, 6)).
      {"SUM of tinyint is int", "SUM(CAST(200 AS tinyint) + CAST(55 AS tinyint))", Value(255),
       "int"},
      {"AVG of decimal is decimal", "AVG(CAST(12.5 AS decimal(10, 2)))", Value(12.5), "decimal"},
      {"AVG of decimal keeps six decimals",
       "CAST(AVG(CAST(12.5 AS decimal(10, 2))) AS varchar(40))", Value("12.500000"), "varchar"},
      {"SUM of decimal keeps its scale", "CAST(SUM(CAST(12.5 AS decimal(10, 2))) AS varchar(40))",
       Value("12.50"), "varchar"},
      {"SUM of smallmoney is money", "SUM(CAST(1.5 AS smallmoney))", Value(1.5), "money"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rule) + ": " + c.expression);
    RowSet set = Query("SELECT " + c.expression);
    ASSERT_EQ(set.rows.size(), 1u);
    EXPECT_EQ(set.rows[0].at(0), c.value);
    EXPECT_EQ(set.columns.at(0).type_name, c.type);
  }
}

TEST_F(ArithmeticTest, ScalarSubqueriesOfMoreThanOneRowAreError512) {
  Ok("CREATE TABLE s (id INT, name VARCHAR(20)) "
     "INSERT INTO s VALUES (1, 'one') INSERT INTO s VALUES (2, 'two') "
     "INSERT INTO s VALUES (2, 'zwei')");
  const char* k512 =
      "Subquery returned more than 1 value. This is not permitted when the subquery follows =, "
      "!=, <, <= , >, >= or when the subquery is used as an expression.";
  ExpectErrors({
      {"used as an expression", "SELECT (SELECT name FROM s)", 512, 16, k512},
      {"following =", "SELECT id FROM s WHERE id = (SELECT id FROM s)", 512, 16, k512},
      {"following >=", "SELECT 1 WHERE 5 >= (SELECT id FROM s WHERE id > 1)", 512, 16, k512},
      {"assigned to a variable",
       "DECLARE @n VARCHAR(20) SET @n = (SELECT name FROM s WHERE id = 2)", 512, 16, k512},
      {"one column only", "SELECT (SELECT id, name FROM s WHERE id = 1)", 116, 16,
       "Only one expression can be specified in the select list when the subquery is not "
       "introduced with EXISTS."},
      {"correlated, in one outer row only",
       "SELECT id, (SELECT name FROM s i WHERE i.id = o.id) FROM s o", 512, 16, k512},
  });
  // One row or none is a value or NULL; IN and EXISTS take any number of rows.
  EXPECT_EQ(Scalar("SELECT (SELECT name FROM s WHERE id = 1)"), Value("one"));
  EXPECT_EQ(Scalar("SELECT (SELECT name FROM s WHERE id = 9)"), Value());
  EXPECT_EQ(Scalar("SELECT (SELECT TOP 1 name FROM s WHERE id = 2 ORDER BY name DESC)"),
            Value("zwei"));
  EXPECT_EQ(Scalar("SELECT (SELECT COUNT(*) FROM s)"), Value(3));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM s WHERE id IN (SELECT id FROM s)"), Value(3));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM s o WHERE 1 = (SELECT COUNT(*) FROM s i WHERE i.id = "
                   "o.id)"),
            Value(1));
  // Text keeps its comparison rules through the sub-query.
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM s WHERE name = (SELECT 'ONE  ')"), Value(1));
}

TEST_F(ArithmeticTest, RoundKeepsTheDecimalTypeOfItsArgument) {
  struct Case {
    const char* rule;
    std::string expression;
    double value;
    int scale;  // places the client shows
  };
  // The ROUND page's examples, and its rule that the result has the argument's type.
  const Case cases[] = {
      {"rounds to two places, scale stays 4", "ROUND(123.4567, 2)", 123.46, 4},
      {"estimates: last digit rounded", "ROUND(123.9994, 3)", 123.999, 4},
      {"estimates: carry into the whole part", "ROUND(123.9995, 3)", 124.0, 4},
      {"approximations", "ROUND(123.4545, 2)", 123.45, 4},
      {"negative length", "ROUND(123.45, -2)", 100.0, 2},
      {"truncation with a function other than 0", "ROUND(150.75, 0, 1)", 150.0, 2},
      {"rounding with function 0", "ROUND(150.75, 0)", 151.0, 2},
      {"half away from zero below 0", "ROUND(-150.75, 0)", -151.0, 2},
      {"truncation below 0", "ROUND(-150.75, 0, 1)", -150.0, 2},
      {"length -1", "ROUND(748.58, -1)", 750.0, 2},
      {"length -2", "ROUND(748.58, -2)", 700.0, 2},
      {"length beyond the digits gives 0", "ROUND(748.58, -4)", 0.0, 2},
      {"decimal digits, not their binary approximation", "ROUND(2.675, 2)", 2.68, 3},
      {"a typed decimal", "ROUND(CAST(748.58 AS decimal(6,2)), -3)", 1000.0, 2},
      {"money keeps four places", "ROUND($12.3456, 2)", 12.35, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rule) + ": " + c.expression);
    RowSet set = Query("SELECT " + c.expression);
    ASSERT_EQ(set.rows.size(), 1u);
    ASSERT_EQ(set.rows[0].at(0).type(), Value::Type::kDouble);
    EXPECT_DOUBLE_EQ(*set.rows[0][0].ToDouble(), c.value);
    EXPECT_EQ(set.columns.at(0).scale, c.scale);
  }
  // 748.58 is decimal(5,2): 1000.00 does not fit it.
  ExpectErrors({{"a carry past the precision", "SELECT ROUND(748.58, -3)", 8115, 16,
                 "Arithmetic overflow error converting expression to data type numeric."}});
  // Integers and floats keep their types too.
  EXPECT_EQ(Scalar("SELECT ROUND(745, -1)"), Value(750));
  EXPECT_EQ(Scalar("SELECT ROUND(-745, -1, 1)"), Value(-740));
  EXPECT_EQ(Scalar("SELECT ROUND(7, 2)"), Value(7));
  EXPECT_EQ(Scalar("SELECT ROUND(CAST(1.25 AS float), 1, 1)"), Value(1.2));
  EXPECT_EQ(Run("SELECT ROUND(2147483647, -1)").FirstError(), 8115);
  EXPECT_EQ(Scalar("SELECT ROUND(NULL, 1)"), Value());
}

TEST_F(ArithmeticTest, DecimalConstantsKeepPrecisionAndScale) {
  struct Case {
    const char* rule;
    std::string expression;
    Value value;
    int scale;
  };
  const Case cases[] = {
      {"a constant's scale is its digits after the point", "123.4567", Value(123.4567), 4},
      {"p1 + p2 + 1, s1 + s2 for *", "1.5 * 2.25", Value(3.375), 3},
      {"max(s1, s2) for +", "1.50 + 2.125", Value(3.625), 3},
      {"max(6, s1 + p2 + 1) for /", "1.0 / 3", Value(1.0 / 3), 12},
      {"int / decimal", "10 / 4.0", Value(2.5), 6},
      {"whole decimals beyond 64 bits stay exact",
       "CONVERT(decimal(38,0), 99999999999999999999999)", Value("99999999999999999999999"), 0},
      {"negative ones too", "CAST(-12345678901234567890123 AS numeric(30,0))",
       Value("-12345678901234567890123"), 0},
      {"a decimal rounds to its scale", "CAST(1.005 AS decimal(5,2))", Value(1.01), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rule) + ": " + c.expression);
    RowSet set = Query("SELECT " + c.expression);
    ASSERT_EQ(set.rows.size(), 1u);
    if (c.value.type() == Value::Type::kDouble) {
      ASSERT_TRUE(set.rows[0].at(0).ToDouble());
      EXPECT_DOUBLE_EQ(*set.rows[0][0].ToDouble(), *c.value.ToDouble());
    } else {
      EXPECT_EQ(set.rows[0].at(0), c.value);
    }
    EXPECT_EQ(set.columns.at(0).scale, c.scale);
  }
  ExpectErrors({{"more whole digits than the precision", "SELECT CAST(12345.6 AS decimal(5,2))",
                 8115, 16, "Arithmetic overflow error converting numeric to data type numeric."}});
}

TEST_F(ArithmeticTest, SuserIdLooksUpTheLoginItNames) {
  Ok("EXEC sp_addlogin 'maria', 'pw'");
  EXPECT_EQ(Scalar("SELECT SUSER_ID('sa')"), Value(1));
  Value maria = Scalar("SELECT SUSER_ID('maria')");
  ASSERT_EQ(maria.type(), Value::Type::kInt);
  EXPECT_GT(*maria.ToInt(), 1);
  EXPECT_EQ(Scalar("SELECT SUSER_ID('MARIA')"), maria);
  EXPECT_EQ(Scalar("SELECT SUSER_NAME(SUSER_ID('maria'))"), Value("maria"));
  EXPECT_EQ(Scalar("SELECT SUSER_NAME(1)"), Value("sa"));
  // The session's own login when no name is given.
  EXPECT_EQ(Scalar("SELECT SUSER_NAME(SUSER_ID())"), Scalar("SELECT SUSER_SNAME()"));
  for (const char* unknown :
       {"'nobody'", "NULL", "'maria''; DROP TABLE x --'", "N'mär[ia]'", "''"}) {
    SCOPED_TRACE(unknown);
    EXPECT_EQ(Scalar(std::string("SELECT SUSER_ID(") + unknown + ")"), Value());
  }
  EXPECT_EQ(Scalar("SELECT SUSER_NAME(99999)"), Value());
}

TEST_F(ArithmeticTest, DatePartsMustBeNames) {
  ExpectErrors({
      {"DATEADD takes no expression as its date part", "SELECT DATEADD(1+1, 1, GETDATE())", 1023,
       15, "Invalid parameter 1 specified for dateadd."},
      {"nor a variable", "DECLARE @p VARCHAR(10) SET @p = 'day' SELECT DATEDIFF(@p, 0, 1)", 1023,
       15, "Invalid parameter 1 specified for datediff."},
      {"DATEPART alike", "SELECT DATEPART(ABS(1), GETDATE())", 1023, 15,
       "Invalid parameter 1 specified for datepart."},
  });
  EXPECT_EQ(Scalar("SELECT DATEPART(day, DATEADD(day, 1 + 1, '20030101'))"), Value(3));
}

}  // namespace
}  // namespace sandbox::testing
