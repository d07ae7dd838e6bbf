// Downcasts of syntax tree nodes are checked: the right type is the node itself, any other
// stops the process instead of reading a node as what it is not.
#include "sandbox/tsql/ast.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sandbox/tsql/parser.h"

namespace sandbox::tsql {
namespace {

const Statement& First(const Batch& b) { return *b.statements.at(0); }
const QuerySpec& Select(const Batch& b) {
  return First(b).As<SelectStatement>().query->As<QuerySpec>();
}
const Expr& Item(const Batch& b) { return *Select(b).items.at(0).expr; }

// Types that stand for several kinds accept each of them (a kind left out of Is() would stop
// every batch that uses it).
TEST(AstDowncastTest, SharedTypesAcceptEachOfTheirKinds) {
  struct Case {
    const char* batch;
    std::function<const void*(const Statement&)> as;
  };
  const auto transaction = [](const Statement& s) -> const void* {
    return &s.As<TransactionStatement>();
  };
  const auto simple = [](const Statement& s) -> const void* { return &s.As<SimpleStatement>(); };
  const auto drop = [](const Statement& s) -> const void* { return &s.As<DropObjectsStatement>(); };
  const auto label = [](const Statement& s) -> const void* { return &s.As<LabelStatement>(); };
  const Case cases[] = {
      {"BEGIN TRAN", transaction},              // BEGIN TRANSACTION
      {"COMMIT", transaction},                  // COMMIT [WORK]
      {"ROLLBACK TRAN [a;b]", transaction},     // ROLLBACK with a hostile name
      {"SAVE TRAN x", transaction},             // SAVE TRANSACTION
      {"BREAK", simple},                        // WHILE ... BREAK
      {"CONTINUE", simple},                     // WHILE ... CONTINUE
      {"CHECKPOINT", simple},                   // CHECKPOINT
      {"RECONFIGURE WITH OVERRIDE", simple},    // after sp_configure
      {"DROP TABLE [we]]ird;t], [ü'x]", drop},  // DROP TABLE, several names
      {"DROP VIEW v", drop},
      {"DROP PROC p", drop},
      {"DROP FUNCTION dbo.f", drop},  // user-defined functions (8.00)
      {"GOTO done", label},
      {"done:", label},
  };
  for (const Case& c : cases) {
    Batch b = ParseBatch(c.batch);
    ASSERT_EQ(b.statements.size(), 1u) << c.batch;
    EXPECT_EQ(c.as(First(b)), &First(b)) << c.batch;
  }
}

TEST(AstDowncastDeathTest, WrongTypeStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* batch;
    std::function<void(const Batch&)> wrong;
  };
  const Case cases[] = {
      // Statements of one kind per type, and of a shared type.
      {"SELECT 1", [](const Batch& b) { First(b).As<InsertStatement>(); }},
      {"COMMIT", [](const Batch& b) { First(b).As<SimpleStatement>(); }},
      {"BREAK", [](const Batch& b) { First(b).As<TransactionStatement>(); }},
      {"DROP INDEX t.i", [](const Batch& b) { First(b).As<DropObjectsStatement>(); }},
      // Queries: a UNION is not its first SELECT.
      {"SELECT 1 UNION SELECT 2",
       [](const Batch& b) { First(b).As<SelectStatement>().query->As<QuerySpec>(); }},
      // Table sources, with hostile names: a join is neither of its tables.
      {"SELECT * FROM [a]]b;c] JOIN [ü'x] ON 1 = 1",
       [](const Batch& b) { Select(b).from.at(0)->As<TableRef>(); }},
      {"SELECT * FROM (SELECT 1 AS n) AS d",
       [](const Batch& b) { Select(b).from.at(0)->As<Join>(); }},
      // Expressions: an operator is not its operand, a literal not a column.
      {"SELECT 1 + 2", [](const Batch& b) { Item(b).As<Literal>(); }},
      {"SELECT 'a;b'", [](const Batch& b) { Item(b).As<ColumnRef>(); }},
      {"SELECT @@ERROR", [](const Batch& b) { Item(b).As<Variable>(); }},
  };
  for (const Case& c : cases) {
    Batch b = ParseBatch(c.batch);
    EXPECT_DEATH(c.wrong(b), "downcast to the wrong type") << c.batch;
  }
}

}  // namespace
}  // namespace sandbox::tsql
