// The value rules SQL Server applies when rows are stored: ranges, lengths, BIT, NULL, keys,
// identity, GUIDs, dates and the case-insensitive collation.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

TEST_F(SandboxTest, IntegerRangesAreChecked) {
  Ok("CREATE TABLE r (t TINYINT, s SMALLINT, i INT)");
  EXPECT_EQ(Failure("INSERT INTO r (s) VALUES (70000)"),
            "220: Arithmetic overflow error for data type smallint, value = 70000.");
  EXPECT_EQ(Run("INSERT INTO r (t) VALUES (256)").FirstError(), 220);
  EXPECT_EQ(Run("INSERT INTO r (t) VALUES (-1)").FirstError(), 220);
  EXPECT_EQ(Run("INSERT INTO r (i) VALUES (3000000000)").FirstError(), 8115);
  Ok("INSERT INTO r (t, s, i) VALUES (255, -32768, 2147483647)");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM r"), Value(1));
  // A failed UPDATE leaves the row as it was.
  EXPECT_EQ(Run("UPDATE r SET s = s - 1").FirstError(), 220);
  EXPECT_EQ(Scalar("SELECT s FROM r"), Value(-32768));
}

TEST_F(SandboxTest, BitStoresZeroOrOne) {
  Ok("CREATE TABLE b (x BIT)");
  Ok("INSERT INTO b VALUES (-1) INSERT INTO b VALUES (0) INSERT INTO b VALUES (5)");
  RowSet set = Query("SELECT x, CAST(x AS INT) FROM b ORDER BY 2");
  ASSERT_EQ(set.rows.size(), 3u);
  EXPECT_EQ(set.columns[0].type_name, "bit");
  EXPECT_EQ(set.rows[0][0], Value(false));
  EXPECT_EQ(set.rows[1][0], Value(true));
  EXPECT_EQ(set.rows[2][1], Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM b WHERE x = 1"), Value(2));
}

TEST_F(SandboxTest, StringsLongerThanTheColumnAreRefused) {
  Ok("CREATE TABLE s (v VARCHAR(5), n NVARCHAR(3))");
  CollectingSink sink = Run("INSERT INTO s (v) VALUES ('abcdef')");
  ASSERT_EQ(sink.FirstError(), 8152);
  EXPECT_EQ(sink.Errors()[0]->text, "String or binary data would be truncated.");
  // The statement-terminated note follows, as on SQL Server.
  EXPECT_EQ(sink.messages.back().number, 3621);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM s"), Value(0));
  // Characters count, not bytes: three umlauts fit in NVARCHAR(3).
  Ok("INSERT INTO s (n) VALUES (N'äöü')");
  // Trailing blanks may be cut.
  Ok("INSERT INTO s (v) VALUES ('abc     ')");
  EXPECT_EQ(Scalar("SELECT v FROM s WHERE v IS NOT NULL"), Value("abc  "));
  // Variables and CAST cut silently.
  EXPECT_EQ(Scalar("DECLARE @v VARCHAR(3) SET @v = 'abcdef' SELECT @v"), Value("abc"));
  EXPECT_EQ(Scalar("SELECT CAST('abcdef' AS VARCHAR(2))"), Value("ab"));
}

TEST_F(SandboxTest, NotNullColumnsRefuseNull) {
  Ok("CREATE TABLE n (a INT NOT NULL, b INT)");
  EXPECT_EQ(
      Failure("INSERT INTO n (b) VALUES (1)"),
      "515: Cannot insert the value NULL into column 'a', table 'master.dbo.n'; column does not "
      "allow nulls. INSERT fails.");
  Ok("INSERT INTO n (a) VALUES (1)");
  CollectingSink sink = Run("UPDATE n SET a = NULL");
  ASSERT_EQ(sink.FirstError(), 515);
  EXPECT_NE(sink.Errors()[0]->text.find("UPDATE fails."), std::string::npos);
}

TEST_F(SandboxTest, DuplicateKeysAreRefused) {
  Ok("CREATE TABLE k (id INT NOT NULL CONSTRAINT PK_k PRIMARY KEY, code VARCHAR(10))");
  Ok("CREATE UNIQUE INDEX IX_code ON k (code)");
  Ok("INSERT INTO k VALUES (1, 'a')");
  CollectingSink sink = Run("INSERT INTO k VALUES (1, 'b')");
  ASSERT_EQ(sink.FirstError(), 2627);
  EXPECT_EQ(
      sink.Errors()[0]->text,
      "Violation of PRIMARY KEY constraint 'PK_k'. Cannot insert duplicate key in object 'k'.");
  sink = Run("INSERT INTO k VALUES (2, 'A')");  // the collation ignores case
  ASSERT_EQ(sink.FirstError(), 2601);
  EXPECT_EQ(sink.Errors()[0]->text,
            "Cannot insert duplicate key row in object 'k' with unique index 'IX_code'.");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM k"), Value(1));
}

TEST_F(SandboxTest, IdentityColumnsNumberRows) {
  Ok("CREATE TABLE i (id INT IDENTITY(10, 5) NOT NULL, v VARCHAR(5))");
  Ok("INSERT INTO i (v) VALUES ('a')");
  EXPECT_EQ(Scalar("SELECT @@IDENTITY"), Value(10));
  Ok("INSERT INTO i (v) SELECT 'b' UNION ALL SELECT 'c'");
  EXPECT_EQ(Scalar("SELECT MAX(id) FROM i"), Value(20));
  EXPECT_EQ(Scalar("SELECT SCOPE_IDENTITY()"), Value());  // a new batch is a new scope
  EXPECT_EQ(Scalar("INSERT INTO i (v) VALUES ('d') SELECT SCOPE_IDENTITY()"), Value(25));
  EXPECT_EQ(
      Failure("INSERT INTO i (id, v) VALUES (100, 'x')"),
      "544: Cannot insert explicit value for identity column in table 'i' when IDENTITY_INSERT "
      "is set to OFF.");
  Ok("SET IDENTITY_INSERT i ON INSERT INTO i (id, v) VALUES (100, 'x') SET IDENTITY_INSERT i OFF");
  Ok("INSERT INTO i (v) VALUES ('y')");
  EXPECT_EQ(Scalar("SELECT id FROM i WHERE v = 'y'"), Value(105));
  EXPECT_EQ(Run("UPDATE i SET id = 1").FirstError(), 8102);
  // Deleting the rows does not start the numbering again.
  Ok("DELETE FROM i");
  Ok("INSERT INTO i (v) VALUES ('z')");
  EXPECT_EQ(Scalar("SELECT id FROM i"), Value(110));
  EXPECT_EQ(Scalar("SELECT IDENT_CURRENT('i')"), Value(110));
}

TEST_F(SandboxTest, GuidsAndDatesTravelTyped) {
  Ok("CREATE TABLE g (u UNIQUEIDENTIFIER, d DATETIME, big NTEXT, img IMAGE)");
  Ok("INSERT INTO g VALUES ('6F9619FF-8B86-D011-B42D-00C04FC964FF', '2003-01-01 10:20:30', "
     "N'lang', 0x0102)");
  RowSet set = Query("SELECT u, d, big, img FROM g");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.columns[0].type_name, "uniqueidentifier");
  EXPECT_EQ(set.columns[0].value_type, Value::Type::kGuid);
  ASSERT_NE(set.rows[0][0].AsGuid(), nullptr);
  EXPECT_EQ(set.rows[0][0].AsGuid()->ToText(), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  ASSERT_NE(set.rows[0][1].AsDateTime(), nullptr);
  EXPECT_EQ(*set.rows[0][1].AsDateTime(), (common::DateTime{2003, 1, 1, 10, 20, 30, 0}));
  EXPECT_EQ(set.columns[2].type_name, "ntext");
  EXPECT_EQ(set.columns[3].value_type, Value::Type::kBinary);
  EXPECT_EQ(set.rows[0][3], Value(common::Bytes{1, 2}));
  // Dates compare as dates whatever the text looks like.
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM g WHERE d > '20030101'"), Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM g WHERE u = '{6f9619ff-8b86-d011-b42d-00c04fc964ff}'"),
            Value(1));
  EXPECT_EQ(Run("INSERT INTO g (u) VALUES ('not a guid')").FirstError(), 8169);
  EXPECT_EQ(Run("INSERT INTO g (d) VALUES ('yesterday')").FirstError(), 241);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM g"), Value(1));
}

TEST_F(SandboxTest, TextComparesWithoutRegardToCase) {
  Ok("CREATE TABLE c (name NVARCHAR(50))");
  Ok("INSERT INTO c VALUES (N'Müller') INSERT INTO c VALUES (N'mueller') INSERT INTO c VALUES "
     "(N'MÜLLER ')");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM c WHERE name = N'müller'"), Value(2));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM c WHERE name LIKE N'MÜ%'"), Value(2));
  EXPECT_EQ(Scalar("SELECT COUNT(DISTINCT name) FROM c"), Value(2));
  EXPECT_EQ(Scalar("SELECT CASE WHEN 'abc' = 'ABC' THEN 1 ELSE 0 END"), Value(1));
  EXPECT_EQ(Scalar("SELECT UPPER(N'straße öl')"), Value("STRAßE ÖL"));
  EXPECT_EQ(Scalar("SELECT CHARINDEX('LL', 'Müller')"), Value(3));
  RowSet sorted = Query("SELECT name FROM c ORDER BY name");
  ASSERT_EQ(sorted.rows.size(), 3u);
  EXPECT_EQ(sorted.rows[0][0], Value("mueller"));
}

TEST_F(SandboxTest, ConversionErrorsAbortTheBatch) {
  CollectingSink sink = Run("SELECT CAST('abc' AS INT) SELECT 2");
  ASSERT_EQ(sink.FirstError(), 245);
  EXPECT_EQ(sink.Errors()[0]->text,
            "Syntax error converting the varchar value 'abc' to a column of data type int.");
  EXPECT_TRUE(sink.sets.empty() || sink.sets.back().rows.empty());
  EXPECT_EQ(Scalar("SELECT 1 / 0.5"), Value(2.0));
  EXPECT_EQ(Run("SELECT 1 / 0").FirstError(), 8134);
}

}  // namespace
}  // namespace sandbox::testing
