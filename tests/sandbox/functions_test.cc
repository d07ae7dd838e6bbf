// Built-in functions as SQL Server 2000 documents them: text, mathematics, checksums, the
// functions about objects, columns, indexes and files, and the @@ functions of a session. Each
// case names the documented example or rule it follows.
#include <cmath>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

struct ValueCase {
  const char* rule;
  std::string query;
  Value expected;
};

struct ErrorCase {
  const char* rule;
  std::string batch;
  int number;
  const char* text;
};

struct TypeCase {
  const char* rule;
  std::string expression;
  const char* type_name;
  int size;
};

class FunctionsTest : public SandboxTest {
 protected:
  void ExpectValues(const std::vector<ValueCase>& cases) {
    for (const ValueCase& c : cases) {
      SCOPED_TRACE(std::string(c.rule) + ": " + c.query);
      EXPECT_EQ(Scalar(c.query), c.expected);
    }
  }
  void ExpectErrors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
      SCOPED_TRACE(std::string(c.rule) + ": " + c.batch);
      CollectingSink sink = Run(c.batch);
      ASSERT_EQ(sink.FirstError(), c.number) << sink.ErrorText();
      EXPECT_EQ(sink.Errors()[0]->text, c.text);
    }
  }
  void ExpectTypes(const std::vector<TypeCase>& cases) {
    for (const TypeCase& c : cases) {
      SCOPED_TRACE(std::string(c.rule) + ": " + c.expression);
      RowSet set = Query("SELECT " + c.expression);
      ASSERT_EQ(set.columns.size(), 1u);
      EXPECT_EQ(set.columns[0].type_name, c.type_name);
      if (c.size >= 0) {
        EXPECT_EQ(set.columns[0].size, c.size);
      }
    }
  }
  double Number(const std::string& query) {
    Value v = Scalar(query);
    EXPECT_TRUE(v.ToDouble().has_value()) << query;
    return v.ToDouble().value_or(NAN);
  }
};

const Value kNull;

TEST_F(FunctionsTest, SearchingText) {
  const std::string kReflectors = "'Reflectors are vital safety components of your bicycle.'";
  ExpectValues({
      {"CHARINDEX example: bicycle", "SELECT CHARINDEX('bicycle', " + kReflectors + ")", 48},
      {"CHARINDEX from a start position", "SELECT CHARINDEX('vital', " + kReflectors + ", 5)", 16},
      {"CHARINDEX: a start past the match finds none",
       "SELECT CHARINDEX('vital', " + kReflectors + ", 17)", 0},
      {"CHARINDEX: a start before 1 searches from 1",
       "SELECT CHARINDEX('R', " + kReflectors + ", -5)", 1},
      {"CHARINDEX: a start past the end", "SELECT CHARINDEX('a', 'abc', 10)", 0},
      {"CHARINDEX compares as the collation: case ignored",
       "SELECT CHARINDEX('TEST', 'This is a Test')", 11},
      {"CHARINDEX counts characters, not bytes", "SELECT CHARINDEX('ß', 'Grüße')", 4},
      {"CHARINDEX of NULL is NULL", "SELECT CHARINDEX(NULL, 'abc')", kNull},
      {"CHARINDEX converts a number to text", "SELECT CHARINDEX('3', 12345)", 3},
      {"PATINDEX example: %ensure%",
       "SELECT PATINDEX('%ensure%', 'Please ensure the door is locked!')", 8},
      {"PATINDEX with the _ wildcard",
       "SELECT PATINDEX('%en_ure%', 'Please ensure the door is locked!')", 8},
      {"PATINDEX with a range", "SELECT PATINDEX('%[0-9]%', 'abc123')", 4},
      {"PATINDEX without leading %: the whole text", "SELECT PATINDEX('abc', 'abc')", 1},
      {"PATINDEX without leading %: no match elsewhere", "SELECT PATINDEX('abc', 'xabc')", 0},
      {"PATINDEX without trailing %: a match at the end", "SELECT PATINDEX('%abc', 'xxabc')", 3},
      {"PATINDEX: none", "SELECT PATINDEX('%zz%', 'abc')", 0},
      {"PATINDEX of NULL is NULL", "SELECT PATINDEX('%a%', NULL)", kNull},
      {"PATINDEX counts characters", "SELECT PATINDEX('%e%', 'Grüße')", 5},
      {"CHARINDEX in a very long text",
       "SELECT CHARINDEX('end', REPLICATE(CAST('ab' AS varchar(max)), 50000) + 'end')", 100001},
      {"PATINDEX in a very long text",
       "SELECT PATINDEX('%[0-9]%', REPLICATE(CAST('ab' AS varchar(max)), 50000) + '7')",
       100001},
  });
}

TEST_F(FunctionsTest, ChangingText) {
  ExpectValues({
      {"STUFF example", "SELECT STUFF('abcdef', 2, 3, 'ijklmn')", "aijklmnef"},
      {"STUFF: a start of 0 is NULL", "SELECT STUFF('abcdef', 0, 1, 'x')", kNull},
      {"STUFF: a start past the text is NULL", "SELECT STUFF('abc', 4, 1, 'x')", kNull},
      {"STUFF: a negative length is NULL", "SELECT STUFF('abc', 1, -1, 'x')", kNull},
      {"STUFF: a length past the end deletes to it", "SELECT STUFF('abc', 2, 10, 'X')", "aX"},
      {"STUFF: a NULL insert only deletes", "SELECT STUFF('abc', 1, 1, NULL)", "bc"},
      {"STUFF counts characters", "SELECT STUFF('Grüße', 3, 1, 'ue')", "Grueße"},
      {"REVERSE example", "SELECT REVERSE('Abraham')", "maharbA"},
      {"REVERSE of a number converts it", "SELECT REVERSE(1234)", "4321"},
      {"REVERSE keeps characters whole", "SELECT REVERSE('Grüße')", "eßürG"},
      {"REVERSE of NULL", "SELECT REVERSE(NULL)", kNull},
      {"REPLICATE example", "SELECT REPLICATE('0', 4) + '123'", "0000123"},
      {"REPLICATE: a negative count is NULL", "SELECT REPLICATE('a', -1)", kNull},
      {"REPLICATE ends at 8000 bytes", "SELECT DATALENGTH(REPLICATE('ab', 5000))", 8000},
      {"REPLICATE of varchar(max) is not cut at 8000",
       "SELECT DATALENGTH(REPLICATE(CAST('ab' AS varchar(max)), 5000))", 10000},
      {"REPLICATE ends at a character boundary", "SELECT DATALENGTH(REPLICATE(N'ü', 5000))", 8000},
      {"LEN counts UTF-16 units: a character past U+FFFF is two", "SELECT LEN(N'a\U0001D11E ')", 3},
      {"DATALENGTH of a character past U+FFFF is four bytes", "SELECT DATALENGTH(N'\U0001D11E')", 4},
      {"SPACE example", "SELECT 'a' + SPACE(3) + 'b'", "a   b"},
      {"SPACE: a negative count is NULL", "SELECT SPACE(-1)", kNull},
  });
}

TEST_F(FunctionsTest, QuoteName) {
  ExpectValues({
      {"QUOTENAME example: brackets doubled", "SELECT QUOTENAME('abc[]def')", "[abc[]]def]"},
      {"QUOTENAME with a quotation mark", "SELECT QUOTENAME('it''s', '''')", "'it''s'"},
      {"QUOTENAME with a double quotation mark", "SELECT QUOTENAME('a\"b', '\"')", "\"a\"\"b\""},
      {"QUOTENAME with a right bracket uses brackets", "SELECT QUOTENAME('abc', ']')", "[abc]"},
      {"QUOTENAME: other delimiters give NULL", "SELECT QUOTENAME('abc', '<')", kNull},
      {"QUOTENAME of a hostile name", "SELECT QUOTENAME('x]; DROP TABLE t; --')",
       "[x]]; DROP TABLE t; --]"},
      {"QUOTENAME of a non-ASCII name", "SELECT QUOTENAME(N'Zoë')", "[Zoë]"},
      {"QUOTENAME of 128 characters", "SELECT LEN(QUOTENAME(REPLICATE('x', 128)))", 130},
      {"QUOTENAME of 128 characters counts characters",
       "SELECT LEN(QUOTENAME(REPLICATE(N'ü', 128)))", 130},
      {"QUOTENAME of more than 128 characters is NULL", "SELECT QUOTENAME(REPLICATE('x', 129))",
       kNull},
      {"QUOTENAME of NULL", "SELECT QUOTENAME(NULL)", kNull},
      {"QUOTENAME of a very long text is NULL",
       "SELECT QUOTENAME(REPLICATE(CAST('x' AS varchar(max)), 100000))", kNull},
  });
}

TEST_F(FunctionsTest, SoundexAndDifference) {
  ExpectValues({
      {"SOUNDEX example: Smith", "SELECT SOUNDEX('Smith')", "S530"},
      {"SOUNDEX example: Smythe (vowels, y and h left out)", "SELECT SOUNDEX('Smythe')", "S530"},
      {"SOUNDEX pads with zeros", "SELECT SOUNDEX('Lee')", "L000"},
      {"SOUNDEX ignores case", "SELECT SOUNDEX('smith')", "S530"},
      {"SOUNDEX of NULL", "SELECT SOUNDEX(NULL)", kNull},
      {"DIFFERENCE example: only vowels differ", "SELECT DIFFERENCE('Smithers', 'Smythers')", 4},
      {"DIFFERENCE example: consonants differ", "SELECT DIFFERENCE('Anothers', 'Brothers')", 2},
      {"DIFFERENCE of NULL", "SELECT DIFFERENCE(NULL, 'a')", kNull},
  });
}

TEST_F(FunctionsTest, Str) {
  ExpectValues({
      {"STR example: rounded to one place", "SELECT STR(123.45, 6, 1)", " 123.5"},
      {"STR example: too long for the length gives **", "SELECT STR(123.45, 2, 2)", "**"},
      {"STR example: FLOOR nested", "SELECT STR(FLOOR(123.45), 8, 3)", " 123.000"},
      {"STR: length 10 and no decimals by default", "SELECT STR(123.45)", "       123"},
      {"STR: decimals give way to the whole number", "SELECT STR(1234.5678, 6, 3)", "1234.6"},
      {"STR of a negative number", "SELECT STR(-1.26, 6, 1)", "  -1.3"},
      {"STR rounds half away from zero", "SELECT STR(2.5)", "         3"},
      {"STR of NULL", "SELECT STR(NULL)", kNull},
      {"STR: a negative length is NULL", "SELECT STR(1, -1)", kNull},
  });
}

TEST_F(FunctionsTest, ResultTypes) {
  ExpectTypes({
      {"STR is char(10) by default", "STR(1.5)", "char", 10},
      {"STR is char of its length", "STR(1.5, 6, 1)", "char", 6},
      {"QUOTENAME is nvarchar(258)", "QUOTENAME('a')", "nvarchar", 258},
      {"SOUNDEX is char(4)", "SOUNDEX('a')", "char", 4},
      {"DIFFERENCE is int", "DIFFERENCE('a', 'b')", "int", -1},
      {"CHARINDEX is int", "CHARINDEX('a', 'b')", "int", -1},
      {"PATINDEX is int", "PATINDEX('%a%', 'b')", "int", -1},
      {"REVERSE keeps the length", "REVERSE(CAST('abc' AS varchar(7)))", "varchar", 7},
      {"STUFF of Unicode is nvarchar", "STUFF(N'abc', 1, 1, N'x')", "nvarchar", -1},
      {"SQRT is float", "SQRT(4)", "float", -1},
      {"PI is float", "PI()", "float", -1},
      {"RAND is float", "RAND()", "float", -1},
      {"CHECKSUM is int", "CHECKSUM('a')", "int", -1},
      {"BINARY_CHECKSUM is int", "BINARY_CHECKSUM('a')", "int", -1},
      {"NEWID is uniqueidentifier", "NEWID()", "uniqueidentifier", -1},
      {"FLOOR of int is int", "FLOOR(5)", "int", -1},
      {"CEILING of money is money", "CEILING($1.5)", "money", -1},
      {"SIGN of float is float", "SIGN(CAST(-2 AS float))", "float", -1},
      {"HOST_NAME is nvarchar(128)", "HOST_NAME()", "nvarchar", 128},
      {"OBJECT_ID is int", "OBJECT_ID('x')", "int", -1},
      {"DB_ID is smallint", "DB_ID()", "smallint", -1},
      {"COL_LENGTH is smallint", "COL_LENGTH('x', 'y')", "smallint", -1},
      {"FILE_NAME is nvarchar(128)", "FILE_NAME(1)", "nvarchar", 128},
  });
}

TEST_F(FunctionsTest, Mathematics) {
  ExpectValues({
      {"SQRT of a square", "SELECT SQRT(16)", 4.0},
      {"SQRT converts text to float", "SELECT SQRT('2.25')", 1.5},
      {"LOG10 example", "SELECT LOG10(100)", 2.0},
      {"EXP of 0", "SELECT EXP(0)", 1.0},
      {"SQUARE", "SELECT SQUARE(3)", 9.0},
      {"SQRT of NULL", "SELECT SQRT(NULL)", kNull},
      {"LOG of NULL", "SELECT LOG(NULL)", kNull},
      {"SIGN of a negative", "SELECT SIGN(-5)", -1},
      {"SIGN of zero", "SELECT SIGN(0)", 0},
      {"SIGN of a positive", "SELECT SIGN(12)", 1},
      {"SIGN of NULL", "SELECT SIGN(NULL)", kNull},
      {"CEILING example: money", "SELECT CAST(CEILING($123.45) AS varchar(20))", "124.00"},
      {"CEILING example: negative money", "SELECT CAST(CEILING(-$123.45) AS varchar(20))",
       "-123.00"},
      {"FLOOR example: decimal", "SELECT CAST(FLOOR(123.45) AS varchar(20))", "123"},
      {"FLOOR example: negative decimal", "SELECT CAST(FLOOR(-123.45) AS varchar(20))", "-124"},
      {"FLOOR of an int stays", "SELECT FLOOR(7)", 7},
  });
  EXPECT_DOUBLE_EQ(Number("SELECT PI()"), 3.14159265358979323846);
  EXPECT_DOUBLE_EQ(Number("SELECT LOG(EXP(1))"), 1.0);
  EXPECT_DOUBLE_EQ(Number("SELECT LOG(10)"), std::log(10.0));
  EXPECT_DOUBLE_EQ(Number("SELECT ATN2(1, 1)"), std::atan(1.0));
  EXPECT_DOUBLE_EQ(Number("SELECT COT(1)"), 1 / std::tan(1.0));
  // ROUND's documented examples are in the arithmetic tests.
}

TEST_F(FunctionsTest, DomainAndOverflowErrors) {
  constexpr const char* kDomain = "A domain error occurred.";
  ExpectErrors({
      {"SQRT of a negative number", "SELECT SQRT(-1)", 3623, kDomain},
      {"LOG of zero", "SELECT LOG(0)", 3623, kDomain},
      {"LOG of a negative number", "SELECT LOG(-1)", 3623, kDomain},
      {"LOG10 of zero", "SELECT LOG10(0)", 3623, kDomain},
      {"ASIN outside -1..1", "SELECT ASIN(2)", 3623, kDomain},
      {"ACOS outside -1..1", "SELECT ACOS(-1.5)", 3623, kDomain},
      {"SQRT in a query over rows", "SELECT SQRT(v) FROM (SELECT -4 AS v) t", 3623, kDomain},
      {"EXP beyond float", "SELECT EXP(1000)", 8115,
       "Arithmetic overflow error converting expression to data type float."},
  });
  // A domain error ends the statement only: the batch goes on.
  CollectingSink sink = Run("SELECT SQRT(-1) SELECT 'next'");
  ASSERT_EQ(sink.FirstError(), 3623);
  EXPECT_EQ(sink.Errors()[0]->severity, 16);
  ASSERT_FALSE(sink.sets.empty());
  EXPECT_EQ(sink.sets.back().rows[0][0], Value("next"));
}

TEST_F(FunctionsTest, WrongArgumentCounts) {
  ExpectErrors({
      {"SQRT takes one", "SELECT SQRT()", 174, "The sqrt function requires 1 arguments."},
      {"SQRT takes one, not two", "SELECT SQRT(1, 2)", 174,
       "The sqrt function requires 1 arguments."},
      {"STUFF takes four", "SELECT STUFF('a', 1, 1)", 174,
       "The stuff function requires 4 arguments."},
      {"PI takes none", "SELECT PI(1)", 174, "The pi function requires 0 arguments."},
      {"SOUNDEX takes one", "SELECT SOUNDEX('a', 'b')", 174,
       "The soundex function requires 1 arguments."},
      {"CHARINDEX takes two or three", "SELECT CHARINDEX('a')", 189,
       "The charindex function requires 2 to 3 arguments."},
      {"QUOTENAME takes one or two", "SELECT QUOTENAME()", 189,
       "The quotename function requires 1 to 2 arguments."},
      {"STR takes one to three", "SELECT STR(1, 2, 3, 4)", 189,
       "The str function requires 1 to 3 arguments."},
      {"OBJECT_ID takes one", "SELECT OBJECT_ID()", 174,
       "The object_id function requires 1 arguments."},
      {"HOST_NAME takes none", "SELECT HOST_NAME(1)", 174,
       "The host_name function requires 0 arguments."},
      {"CHECKSUM(*) needs a FROM", "SELECT CHECKSUM(*)", 174,
       "The checksum function requires 1 arguments."},
  });
}

TEST_F(FunctionsTest, RandomNumbers) {
  // RAND with a seed starts the sequence anew: the same seed gives the same numbers.
  Value first = Scalar("SELECT RAND(100)");
  EXPECT_EQ(Scalar("SELECT RAND(100)"), first);
  EXPECT_NE(Scalar("SELECT RAND(101)"), first);
  RowSet a = Query("SELECT RAND(7) SELECT RAND()");
  RowSet b = Query("SELECT RAND(7) SELECT RAND()");
  EXPECT_EQ(a.rows, b.rows);
  for (int i = 0; i < 20; ++i) {
    double r = Number("SELECT RAND()");
    EXPECT_GE(r, 0.0);
    EXPECT_LT(r, 1.0);
  }
}

TEST_F(FunctionsTest, Checksums) {
  Ok("CREATE TABLE t (id int, name varchar(20)) INSERT INTO t VALUES (1, 'Alpha') "
     "INSERT INTO t VALUES (2, 'beta')");
  Ok("CREATE TABLE notes (id int, body ntext, pic image) INSERT notes VALUES (1, N'x', 0x01)");
  ExpectValues({
      {"CHECKSUM(*) leaves out text, ntext and image columns, which do not compare",
       "SELECT COUNT(*) FROM notes WHERE CHECKSUM(*) = CHECKSUM(id) "
       "AND BINARY_CHECKSUM(*) = BINARY_CHECKSUM(id)",
       1},
      {"CHECKSUM compares as the collation: case ignored",
       "SELECT CASE WHEN CHECKSUM('abc') = CHECKSUM('ABC') THEN 1 ELSE 0 END", 1},
      {"CHECKSUM: trailing blanks do not count",
       "SELECT CASE WHEN CHECKSUM('abc') = CHECKSUM('abc  ') THEN 1 ELSE 0 END", 1},
      {"BINARY_CHECKSUM tells case apart",
       "SELECT CASE WHEN BINARY_CHECKSUM('abc') = BINARY_CHECKSUM('ABC') THEN 1 ELSE 0 END", 0},
      {"CHECKSUM of different values differs",
       "SELECT CASE WHEN CHECKSUM('abc') = CHECKSUM('abd') THEN 1 ELSE 0 END", 0},
      {"CHECKSUM: the order of the values counts",
       "SELECT CASE WHEN CHECKSUM(1, 2) = CHECKSUM(2, 1) THEN 1 ELSE 0 END", 0},
      {"CHECKSUM(*) is the checksum of every column",
       "SELECT COUNT(*) FROM t WHERE CHECKSUM(*) = CHECKSUM(id, name)", 2},
      {"CHECKSUM(*) with an alias",
       "SELECT COUNT(*) FROM t AS x WHERE CHECKSUM(*) = "
       "CHECKSUM(x.id, x.name)",
       2},
      {"BINARY_CHECKSUM(*) of the table",
       "SELECT COUNT(*) FROM t WHERE BINARY_CHECKSUM(*) = BINARY_CHECKSUM(id, name)", 2},
  });
  // A changed row changes its checksum: the documented use, finding changed rows.
  Value before = Scalar("SELECT BINARY_CHECKSUM(*) FROM t WHERE id = 2");
  Ok("UPDATE t SET name = 'Beta' WHERE id = 2");
  EXPECT_NE(Scalar("SELECT BINARY_CHECKSUM(*) FROM t WHERE id = 2"), before);
  EXPECT_EQ(Scalar("SELECT CHECKSUM(NULL)"), Scalar("SELECT CHECKSUM(NULL)"));
}

TEST_F(FunctionsTest, NewId) {
  RowSet set = Query("SELECT NEWID(), NEWID()");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_NE(set.rows[0][0], set.rows[0][1]);
  EXPECT_EQ(set.columns[0].type_name, "uniqueidentifier");
  EXPECT_FALSE(set.columns[0].nullable);
}

TEST_F(FunctionsTest, ObjectNamesAndIds) {
  Ok("CREATE TABLE orders (id int IDENTITY(10, 5) PRIMARY KEY, note varchar(40), "
     "wide nvarchar(40), amount decimal(10, 2), body text)");
  Ok("CREATE TABLE [we'ird; na]]me] (c int)");
  Ok("CREATE TABLE [Müller] (c int)");
  Ok("CREATE TABLE #scratch (c int)");
  Value id = Scalar("SELECT OBJECT_ID('orders')");
  ASSERT_FALSE(id.IsNull());
  ExpectValues({
      {"OBJECT_ID with the owner", "SELECT OBJECT_ID('dbo.orders')", id},
      {"OBJECT_ID with brackets", "SELECT OBJECT_ID('[dbo].[orders]')", id},
      {"OBJECT_ID with quotes", "SELECT OBJECT_ID('\"dbo\".\"orders\"')", id},
      {"OBJECT_ID with the database", "SELECT OBJECT_ID(DB_NAME() + '..orders')", id},
      {"OBJECT_ID of another database's object is not this one",
       "SELECT OBJECT_ID('tempdb..orders')", kNull},
      {"OBJECT_ID of an unknown database", "SELECT OBJECT_ID('nosuchdb..orders')", kNull},
      {"OBJECT_ID of an unknown object", "SELECT OBJECT_ID('nosuch')", kNull},
      {"OBJECT_ID of an open bracket", "SELECT OBJECT_ID('[orders')", kNull},
      {"OBJECT_ID of NULL", "SELECT OBJECT_ID(NULL)", kNull},
      {"OBJECT_ID of a hostile name", "SELECT OBJECT_NAME(OBJECT_ID('[we''ird; na]]me]'))",
       "we'ird; na]me"},
      {"OBJECT_ID of a non-ASCII name", "SELECT OBJECT_NAME(OBJECT_ID(N'Müller'))", "Müller"},
      {"OBJECT_ID of a #table", "SELECT CASE WHEN OBJECT_ID('#scratch') IS NULL THEN 0 ELSE 1 END",
       1},
      {"OBJECT_ID of tempdb's #table",
       "SELECT CASE WHEN OBJECT_ID('tempdb..#scratch') IS NULL "
       "THEN 0 ELSE 1 END",
       1},
      {"OBJECT_NAME example", "SELECT OBJECT_NAME(OBJECT_ID('orders'))", "orders"},
      {"OBJECT_NAME of an unknown id", "SELECT OBJECT_NAME(-12345)", kNull},
      {"COL_NAME by column id", "SELECT COL_NAME(OBJECT_ID('orders'), 2)", "note"},
      {"COL_NAME of an unknown column id", "SELECT COL_NAME(OBJECT_ID('orders'), 99)", kNull},
  });
}

TEST_F(FunctionsTest, ObjectProperties) {
  Ok("CREATE TABLE parent (id int PRIMARY KEY)");
  Ok("CREATE TABLE child (id int IDENTITY PRIMARY KEY, parent_id int REFERENCES parent(id), "
     "qty int CONSTRAINT ck_qty CHECK (qty > 0), note text DEFAULT 'x')");
  Ok("CREATE TABLE heap (v int)");
  Ok("CREATE VIEW v_child AS SELECT id FROM child");
  Ok("CREATE PROCEDURE p_child @n int, @out int OUTPUT AS SELECT @out = @n");
  auto prop = [](const std::string& object, const std::string& property) {
    return "SELECT OBJECTPROPERTY(OBJECT_ID('" + object + "'), '" + property + "')";
  };
  ExpectValues({
      {"IsUserTable of a table", prop("child", "IsUserTable"), 1},
      {"IsUserTable of a view", prop("v_child", "IsUserTable"), 0},
      {"IsTable", prop("child", "IsTable"), 1},
      {"IsView", prop("v_child", "IsView"), 1},
      {"IsProcedure", prop("p_child", "IsProcedure"), 1},
      {"IsProcedure of a table", prop("child", "IsProcedure"), 0},
      {"IsMSShipped of a user table", prop("child", "IsMSShipped"), 0},
      {"OwnerId: dbo", prop("child", "OwnerId"), 1},
      {"TableHasIdentity", prop("child", "TableHasIdentity"), 1},
      {"TableHasIdentity without one", prop("parent", "TableHasIdentity"), 0},
      {"TableHasPrimaryKey", prop("child", "TableHasPrimaryKey"), 1},
      {"TableHasPrimaryKey of a heap", prop("heap", "TableHasPrimaryKey"), 0},
      {"TableHasClustIndex: the primary key", prop("child", "TableHasClustIndex"), 1},
      {"TableHasIndex of a heap", prop("heap", "TableHasIndex"), 0},
      {"TableHasForeignKey without one", prop("parent", "TableHasForeignKey"), 0},
      {"TableHasDefaultCnst", prop("child", "TableHasDefaultCnst"), 1},
      {"TableHasTextImage", prop("child", "TableHasTextImage"), 1},
      {"TableHasTextImage without one", prop("heap", "TableHasTextImage"), 0},
      {"a table property of a view is NULL", prop("v_child", "TableHasIdentity"), kNull},
      {"an unknown property is NULL", prop("child", "NoSuchProperty"), kNull},
      {"an unknown object is NULL", "SELECT OBJECTPROPERTY(-1, 'IsUserTable')", kNull},
      {"a hostile property name is NULL", prop("child", "IsTable''; DROP TABLE child; --"), kNull},
  });
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM child"), Value(0));  // still there
}

TEST_F(FunctionsTest, ColumnsAndIndexes) {
  Ok("CREATE TABLE orders (id int IDENTITY PRIMARY KEY, note varchar(40) NOT NULL, "
     "wide nvarchar(40), amount decimal(10, 2), body text, ratio float)");
  Ok("CREATE UNIQUE INDEX ux_note ON orders (note)");
  Ok("CREATE INDEX ix_amount ON orders (amount)");
  Ok("CREATE PROCEDURE p_orders @n int, @out decimal(8, 3) OUTPUT AS SELECT @out = @n");
  auto col = [](const std::string& column, const std::string& property) {
    return "SELECT COLUMNPROPERTY(OBJECT_ID('orders'), '" + column + "', '" + property + "')";
  };
  auto index = [](const std::string& name, const std::string& property) {
    return "SELECT INDEXPROPERTY(OBJECT_ID('orders'), '" + name + "', '" + property + "')";
  };
  ExpectValues({
      {"COL_LENGTH of varchar(40)", "SELECT COL_LENGTH('orders', 'note')", 40},
      {"COL_LENGTH of nvarchar(40): bytes", "SELECT COL_LENGTH('orders', 'wide')", 80},
      {"COL_LENGTH of int", "SELECT COL_LENGTH('orders', 'id')", 4},
      {"COL_LENGTH of decimal(10, 2)", "SELECT COL_LENGTH('orders', 'amount')", 9},
      {"COL_LENGTH of text: the pointer", "SELECT COL_LENGTH('orders', 'body')", 16},
      {"COL_LENGTH of an unknown column", "SELECT COL_LENGTH('orders', 'nosuch')", kNull},
      {"COL_LENGTH of an unknown table", "SELECT COL_LENGTH('nosuch', 'id')", kNull},
      {"COLUMNPROPERTY IsIdentity", col("id", "IsIdentity"), 1},
      {"COLUMNPROPERTY IsIdentity of another", col("note", "IsIdentity"), 0},
      {"COLUMNPROPERTY AllowsNull of NOT NULL", col("note", "AllowsNull"), 0},
      {"COLUMNPROPERTY AllowsNull", col("wide", "AllowsNull"), 1},
      {"COLUMNPROPERTY Precision of decimal", col("amount", "Precision"), 10},
      {"COLUMNPROPERTY Scale of decimal", col("amount", "Scale"), 2},
      {"COLUMNPROPERTY Precision of nvarchar: characters", col("wide", "Precision"), 40},
      {"COLUMNPROPERTY Precision of int", col("id", "Precision"), 10},
      {"COLUMNPROPERTY Scale of text", col("body", "Scale"), kNull},
      {"COLUMNPROPERTY IsPrecise of float", col("ratio", "IsPrecise"), 0},
      {"COLUMNPROPERTY IsComputed", col("note", "IsComputed"), 0},
      {"COLUMNPROPERTY of an unknown column", col("nosuch", "AllowsNull"), kNull},
      {"COLUMNPROPERTY unknown property", col("note", "NoSuchProperty"), kNull},
      {"COLUMNPROPERTY IsOutParam of an OUTPUT parameter",
       "SELECT COLUMNPROPERTY(OBJECT_ID('p_orders'), '@out', 'IsOutParam')", 1},
      {"COLUMNPROPERTY IsOutParam of an input parameter",
       "SELECT COLUMNPROPERTY(OBJECT_ID('p_orders'), '@n', 'IsOutParam')", 0},
      {"COLUMNPROPERTY Scale of a parameter",
       "SELECT COLUMNPROPERTY(OBJECT_ID('p_orders'), '@out', 'Scale')", 3},
      {"INDEXPROPERTY IsUnique of a unique index", index("ux_note", "IsUnique"), 1},
      {"INDEXPROPERTY IsUnique of an index", index("ix_amount", "IsUnique"), 0},
      {"INDEXPROPERTY IsClustered of a nonclustered index", index("ix_amount", "IsClustered"), 0},
      {"INDEXPROPERTY IsStatistics", index("ix_amount", "IsStatistics"), 0},
      {"INDEXPROPERTY of an unknown index", index("nosuch", "IsUnique"), kNull},
      {"INDEXPROPERTY unknown property", index("ix_amount", "NoSuchProperty"), kNull},
  });
  // The primary key's index: clustered and unique.
  Value pk = Scalar("SELECT name FROM sysindexes WHERE id = OBJECT_ID('orders') AND indid = 1");
  ASSERT_FALSE(pk.IsNull());
  EXPECT_EQ(Scalar(index(pk.ToText(), "IsClustered")), Value(1));
  EXPECT_EQ(Scalar(index(pk.ToText(), "IsUnique")), Value(1));
}

TEST_F(FunctionsTest, DatabasesAndFiles) {
  ExpectValues({
      {"DB_ID of master", "SELECT DB_ID('master')", 1},
      {"DB_ID of tempdb", "SELECT DB_ID('tempdb')", 2},
      {"DB_ID without argument is the current database", "SELECT DB_ID() - DB_ID(DB_NAME())", 0},
      {"DB_ID of an unknown database", "SELECT DB_ID('nosuch')", kNull},
      {"DB_ID of a hostile name", "SELECT DB_ID('master''; --')", kNull},
      {"DB_ID of NULL", "SELECT DB_ID(NULL)", kNull},
      {"FILE_ID of FILE_NAME", "SELECT FILE_ID(FILE_NAME(1))", 1},
      {"FILE_NAME of an unknown file", "SELECT FILE_NAME(99)", kNull},
      {"FILEPROPERTY IsPrimaryFile", "SELECT FILEPROPERTY(FILE_NAME(1), 'IsPrimaryFile')", 1},
      {"FILEPROPERTY IsLogFile of the data file", "SELECT FILEPROPERTY(FILE_NAME(1), 'IsLogFile')",
       0},
      {"FILEPROPERTY IsLogFile of the log", "SELECT FILEPROPERTY(FILE_NAME(2), 'IsLogFile')", 1},
      {"FILEPROPERTY IsReadOnly", "SELECT FILEPROPERTY(FILE_NAME(1), 'IsReadOnly')", 0},
      {"FILEPROPERTY of an unknown file", "SELECT FILEPROPERTY('nosuch', 'IsLogFile')", kNull},
      {"FILEPROPERTY unknown property", "SELECT FILEPROPERTY(FILE_NAME(1), 'Nothing')", kNull},
      {"FILEGROUP_NAME of the primary filegroup", "SELECT FILEGROUP_NAME(1)", "PRIMARY"},
      {"FILEGROUP_ID of PRIMARY", "SELECT FILEGROUP_ID('PRIMARY')", 1},
  });
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sysfiles WHERE RTRIM(name) = FILE_NAME(1) AND fileid = 1"),
            Value(1));
  EXPECT_GT(Scalar("SELECT FILEPROPERTY(FILE_NAME(1), 'SpaceUsed')").ToInt().value_or(0), 0);
}

TEST_F(FunctionsTest, SessionNames) {
  ExpectValues({
      {"HOST_NAME: the workstation the client named", "SELECT HOST_NAME()", "TESTHOST"},
      {"APP_NAME: the application the client named", "SELECT APP_NAME()", "sandbox tests"},
  });
}

TEST_F(FunctionsTest, Identities) {
  Ok("CREATE TABLE a (id int IDENTITY(100, 10), v int)");
  Ok("CREATE TABLE b (id int IDENTITY(1, 1), v int)");
  Ok("CREATE TABLE plain (v int)");
  Ok("CREATE PROCEDURE add_b AS INSERT INTO b (v) VALUES (1)");
  ExpectValues({
      {"IDENT_CURRENT of a table without rows: the seed", "SELECT IDENT_CURRENT('a')", 100},
      {"IDENT_CURRENT without an identity column", "SELECT IDENT_CURRENT('plain')", kNull},
      {"IDENT_CURRENT of an unknown table", "SELECT IDENT_CURRENT('nosuch')", kNull},
  });
  Ok("INSERT INTO a (v) VALUES (1) INSERT INTO a (v) VALUES (2)");
  EXPECT_EQ(Scalar("SELECT IDENT_CURRENT('a')"), Value(110));
  EXPECT_EQ(Scalar("SELECT IDENT_CURRENT('[dbo].[a]')"), Value(110));
  // The documented example: SCOPE_IDENTITY is this scope's insert, @@IDENTITY the last one
  // anywhere (here in the procedure).
  RowSet set = Query("INSERT INTO a (v) VALUES (3) EXEC add_b SELECT SCOPE_IDENTITY(), @@IDENTITY");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], Value(120));
  EXPECT_EQ(set.rows[0][1], Value(1));
  // Another session's insert moves IDENT_CURRENT, not this session's SCOPE_IDENTITY.
  auto other = Connect();
  Ok(*other, "INSERT INTO a (v) VALUES (4)");
  EXPECT_EQ(Scalar("SELECT IDENT_CURRENT('a')"), Value(130));
}

TEST_F(FunctionsTest, ErrorAfterEveryStatement) {
  Ok("CREATE PROCEDURE fails AS SELECT 1/0");
  Ok("CREATE TABLE t (v int PRIMARY KEY) INSERT INTO t VALUES (1)");
  struct Case {
    const char* rule;
    const char* batch;
    Value expected;
  };
  const Case cases[] = {
      {"@@ERROR right after the failed statement", "SELECT 1/0 SELECT @@ERROR", 8134},
      {"@@ERROR is reset by a statement that succeeds", "SELECT 1/0 SELECT 1 SELECT @@ERROR", 0},
      {"@@ERROR is reset by SET", "DECLARE @x int SELECT 1/0 SET @x = 1 SELECT @@ERROR", 0},
      {"@@ERROR is reset by the IF that tests it",
       "DECLARE @e int SELECT 1/0 IF @@ERROR <> 0 SET @e = @@ERROR SELECT @e", 0},
      {"@@ERROR kept in a variable", "DECLARE @e int SELECT 1/0 SET @e = @@ERROR SELECT @e", 8134},
      {"@@ERROR after an INSERT that fails", "INSERT INTO t VALUES (1) SELECT @@ERROR", 2627},
      {"@@ERROR after EXEC: the procedure's last statement", "EXEC fails SELECT @@ERROR", 8134},
      {"@@ERROR after RAISERROR", "RAISERROR('x', 16, 1) SELECT @@ERROR", 50000},
      {"@@ERROR after PRINT", "SELECT 1/0 PRINT 'p' SELECT @@ERROR", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rule) + ": " + c.batch);
    CollectingSink sink = Run(c.batch);
    ASSERT_FALSE(sink.sets.empty());
    EXPECT_EQ(sink.sets.back().rows.at(0).at(0), c.expected);
  }
}

TEST_F(FunctionsTest, TransactionAndNesting) {
  Ok("CREATE PROCEDURE inner_level AS SELECT @@NESTLEVEL, @@PROCID");
  Ok("CREATE PROCEDURE outer_level AS SELECT @@NESTLEVEL, @@PROCID EXEC inner_level");
  ExpectValues({
      {"@@TRANCOUNT outside a transaction", "SELECT @@TRANCOUNT", 0},
      {"@@TRANCOUNT in a transaction", "BEGIN TRAN SELECT @@TRANCOUNT ROLLBACK", 1},
      {"@@TRANCOUNT: BEGIN TRAN nests", "BEGIN TRAN BEGIN TRAN SELECT @@TRANCOUNT ROLLBACK", 2},
      {"@@TRANCOUNT: COMMIT counts down",
       "BEGIN TRAN BEGIN TRAN COMMIT SELECT @@TRANCOUNT ROLLBACK", 1},
      {"@@TRANCOUNT: ROLLBACK ends all", "BEGIN TRAN BEGIN TRAN ROLLBACK SELECT @@TRANCOUNT", 0},
      {"@@NESTLEVEL of a batch", "SELECT @@NESTLEVEL", 0},
      {"@@NESTLEVEL in EXEC of a string", "EXEC('SELECT @@NESTLEVEL')", 1},
      {"@@PROCID outside a procedure", "SELECT @@PROCID", 0},
  });
  CollectingSink sink = Run("EXEC outer_level");
  ASSERT_EQ(sink.sets.size(), 2u) << sink.ErrorText();
  EXPECT_EQ(sink.sets[0].rows[0][0], Value(1));
  EXPECT_EQ(sink.sets[0].rows[0][1], Scalar("SELECT OBJECT_ID('outer_level')"));
  EXPECT_EQ(sink.sets[1].rows[0][0], Value(2));
  EXPECT_EQ(sink.sets[1].rows[0][1], Scalar("SELECT OBJECT_ID('inner_level')"));
}

}  // namespace
}  // namespace sandbox::testing
