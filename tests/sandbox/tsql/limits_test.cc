// The bounds every walk over the syntax tree shares: statements at the bound parse, print and
// are destroyed on a small stack; one step past it they are refused with error 191.
#include "sandbox/tsql/limits.h"

#include <gtest/gtest.h>

#include <string>

#include "sandbox/small_stack.h"
#include "sandbox/tsql/parser.h"
#include "sandbox/tsql/printer.h"

namespace sandbox::tsql {
namespace {

using sandbox::testing::RunOnStack;

// Room for the few frames of one statement; far less than one frame per chain link needs.
constexpr std::size_t kChainStack = 512 * 1024;
// Room for kMaxNesting levels of every walk, with a margin for sanitiser builds.
constexpr std::size_t kNestingStack = 4 * 1024 * 1024;

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

int ErrorNumber(const std::string& text) {
  try {
    ParseBatch(text);
  } catch (const ParseError& e) {
    return e.number();
  }
  return 0;
}

struct Chain {
  const char* name;
  std::string head;  // the statement up to the chain
  std::string link;  // one link, repeated
};

const Chain kChains[] = {
    {"addition", "SELECT 1", " + 1"},
    {"subtraction", "SELECT 7", " - 2"},
    {"AND", "SELECT * FROM t WHERE a = 1", " AND a = 1"},
    {"OR", "SELECT * FROM t WHERE a = 1", " OR a = 1"},
    {"UNION", "SELECT 1", " UNION ALL SELECT 1"},
    {"JOIN", "SELECT * FROM a", " CROSS JOIN b"},
    {"COLLATE", "SELECT 'x'", " COLLATE Latin1_General_CI_AS"},
};

TEST(LimitsTest, ChainsAtTheBoundParsePrintAndDestroyOnASmallStack) {
  for (const Chain& chain : kChains) {
    SCOPED_TRACE(chain.name);
    std::string at = chain.head + Repeat(chain.link, kMaxChain);
    // Parsed, printed and destroyed (at the end of the block) on the small stack.
    RunOnStack(kChainStack, [&] {
      Batch batch = ParseBatch(at);
      ASSERT_EQ(batch.statements.size(), 1u);
      EXPECT_EQ(ToSql(*batch.statements[0]->As<SelectStatement>().query), at);
    });
    EXPECT_EQ(ErrorNumber(at + Repeat(chain.link, 1)), kTooDeepNumber);
  }
}

// One shape of nesting: head + before * n + inner + after * n.
struct Nesting {
  const char* name;
  const char* head;
  const char* before;
  const char* inner;
  const char* after;
  int cost = 1;  // levels of the parser's count each repetition takes
};

const Nesting kNestings[] = {
    {"parentheses", "SELECT ", "(", "1", ")"},
    {"NOT", "SELECT * FROM t WHERE ", "NOT ", "a = 1", ""},
    {"unary minus", "SELECT ", "- ", "a", ""},
    {"subquery", "SELECT ", "(SELECT ", "1", ")", 2},  // the parentheses and the query
    {"function", "SELECT ", "ABS(", "1", ")"},
    {"CASE", "SELECT ", "CASE WHEN 1 = 1 THEN ", "1", " END"},
    {"IF", "", "IF 1 = 1 ", "PRINT 1", ""},
    {"BEGIN", "", "BEGIN ", "PRINT 1", " END"},
    {"derived table", "SELECT * FROM ", "(SELECT * FROM ", "t", ") AS d", 2},
};

std::string Nested(const Nesting& shape, int n) {
  return shape.head + Repeat(shape.before, n) + shape.inner + Repeat(shape.after, n);
}

TEST(LimitsTest, NestingAtTheBoundPrintsAndOnePastIsRefused) {
  for (const Nesting& shape : kNestings) {
    SCOPED_TRACE(shape.name);
    // The statement's own levels (statement, query) come off the budget first.
    int deepest = kMaxNesting;
    while (deepest > 0 && ErrorNumber(Nested(shape, deepest)) != 0) --deepest;
    EXPECT_GE(deepest, (kMaxNesting - 4) / shape.cost);
    EXPECT_EQ(ErrorNumber(Nested(shape, deepest + 1)), kTooDeepNumber);
    RunOnStack(kNestingStack, [&] {
      Batch batch = ParseBatch(Nested(shape, deepest));
      if (batch.statements[0]->kind == Statement::Kind::kSelect) {
        EXPECT_FALSE(ToSql(*batch.statements[0]->As<SelectStatement>().query).empty());
      }
    });
  }
}

TEST(LimitsTest, PrinterRefusesTreesDeeperThanTheParserBuilds) {
  // Trees are built by the parser, but the printer keeps its own count all the same.
  auto nested = [](int n) {
    auto lit = std::make_unique<Literal>();
    lit->type = Literal::Type::kInteger;
    lit->text = "1";
    ExprPtr e = std::move(lit);
    for (int i = 0; i < n; ++i) {
      auto u = std::make_unique<UnaryExpr>();
      u->op = UnaryOp::kBitNot;
      u->operand = std::move(e);
      e = std::move(u);
    }
    return e;
  };
  EXPECT_EQ(ToSql(*nested(3)), "~~~1");
  EXPECT_FALSE(ToSql(*nested(kMaxNesting)).empty());
  try {
    ToSql(*nested(kMaxNesting + 1));
    ADD_FAILURE() << "printed a tree deeper than the bound";
  } catch (const ParseError& e) {
    EXPECT_EQ(e.number(), kTooDeepNumber);
    EXPECT_EQ(e.message(), kTooDeepText);
  }
}

}  // namespace
}  // namespace sandbox::tsql
