#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

TEST_F(SandboxTest, CreatesTableInsertsAndSelects) {
  Ok("CREATE TABLE t (a INT NOT NULL, b NVARCHAR(10))");
  Ok("INSERT INTO t (a, b) VALUES (1, N'one')");
  RowSet set = Query("SELECT a, b FROM t");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][0], common::Value(1));
  EXPECT_EQ(set.rows[0][1], common::Value("one"));
}

}  // namespace
}  // namespace sandbox::testing
