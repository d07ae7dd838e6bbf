// UPDATE statements that differ only in their numbers: every execution uses its own numbers,
// with SQL Server's arithmetic and conversions, whichever way the engine passes them on.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

class UpdateLiteralTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE TABLE n (id INT PRIMARY KEY, i INT NULL, big BIGINT NULL, flag BIT NULL, "
       "label VARCHAR(20) NULL, stamp DATETIME NULL, amount DECIMAL(9, 2) NULL)");
    for (int id = 1; id <= 5; ++id)
      Ok("INSERT INTO n (id, i) VALUES (" + std::to_string(id) + ", " + std::to_string(id * 10) +
         ")");
  }
};

TEST_F(UpdateLiteralTest, EachRowGetsItsOwnNumbers) {
  // The shape the client cursor sends once a row: only the numbers change.
  for (int id = 1; id <= 5; ++id) {
    const std::string s = std::to_string(id);
    CollectingSink sink =
        Run("UPDATE n SET i = " + std::to_string(id * 100) + ", flag = " + std::to_string(id % 2) +
            " WHERE id = " + s + " AND i = " + std::to_string(id * 10));
    ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
    ASSERT_EQ(sink.done.back(), 1) << "row " << id;
  }
  RowSet set = Query("SELECT id, i, flag FROM n ORDER BY id");
  ASSERT_EQ(set.rows.size(), 5u);
  for (int id = 1; id <= 5; ++id) {
    EXPECT_EQ(set.rows[id - 1][1], Value(id * 100));
    EXPECT_EQ(set.rows[id - 1][2], Value(id % 2 == 1));
  }
  // The old value no longer matches: nothing changes.
  CollectingSink sink = Run("UPDATE n SET i = 1 WHERE id = 1 AND i = 10");
  EXPECT_EQ(sink.done.back(), 0);
}

TEST_F(UpdateLiteralTest, ArithmeticAndConversionsStayThoseOfTheServer) {
  Ok("UPDATE n SET i = 7 / 2, big = 3000000000 * 2, label = 42, amount = -5 WHERE id = 1");
  RowSet set = Query("SELECT i, big, label, amount FROM n WHERE id = 1");
  EXPECT_EQ(set.rows[0][0], Value(3));  // integer division
  EXPECT_EQ(set.rows[0][1], Value(6000000000LL));
  EXPECT_EQ(set.rows[0][2], Value("42"));
  EXPECT_EQ(set.rows[0][3].ToDouble(), -5.0);
  Ok("UPDATE n SET i = CASE WHEN i > 15 THEN 1 ELSE 0 END, stamp = 0 WHERE id IN (1, 2, 3)");
  EXPECT_EQ(Scalar("SELECT SUM(i) FROM n WHERE id IN (1, 2, 3)"), Value(2));
  EXPECT_EQ(Scalar("SELECT CONVERT(VARCHAR(10), stamp, 120) FROM n WHERE id = 2"),
            Value("1900-01-01"));
  // Overflow is still reported, and the row keeps its value.
  EXPECT_NE(Run("UPDATE n SET i = 2147483647 + 1 WHERE id = 4").FirstError(), 0);
  EXPECT_NE(Run("UPDATE n SET flag = 1, i = 3000000000 WHERE id = 4").FirstError(), 0);
  EXPECT_EQ(Scalar("SELECT i FROM n WHERE id = 4"), Value(40));
}

TEST_F(UpdateLiteralTest, TopRowcountAndVariablesTakeTheirNumbers) {
  CollectingSink sink = Run("UPDATE TOP (2) n SET i = -1 WHERE i >= 30");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(sink.done.back(), 2);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM n WHERE i = -1"), Value(2));
  sink = Run("SET ROWCOUNT 1 UPDATE n SET i = 99 WHERE i < 0 SET ROWCOUNT 0");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM n WHERE i = 99"), Value(1));
  EXPECT_EQ(Scalar("DECLARE @v INT UPDATE n SET @v = i + 5, i = 6 WHERE id = 1 SELECT @v"),
            Value(15));
  EXPECT_EQ(Scalar("SELECT i FROM n WHERE id = 1"), Value(6));
}

}  // namespace
}  // namespace sandbox::testing
