// Long operator chains and deep nesting through the whole engine (parser, translator, executor,
// SQLite): SQL Server's answer or its error 191, never a crash, on a client thread's stack.
#include "sandbox/tsql/limits.h"

#include <algorithm>

#include "sandbox/sandbox_fixture.h"
#include "sandbox/small_stack.h"
#include "sandbox/sql_error.h"
#include "sandbox/translator.h"
#include "sandbox/tsql/parser.h"

namespace sandbox::testing {
namespace {

using common::Value;
using tsql::kMaxChain;
using tsql::kTooDeepNumber;

// A client thread's default stack: what tessera-admin's workers and the listener give a session.
constexpr std::size_t kThreadStack = 8 * 1024 * 1024;

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct Case {
  const char* name;
  std::string batch;
  Value expected;  // the single value the batch selects; null when error is set
  int error = 0;
};

TEST_F(SandboxTest, LongChainsGiveTheirValueOrError191) {
  Ok("CREATE TABLE d (id INT, v INT DEFAULT (0" + Repeat(" + 1", 1000) + "))");
  Ok("CREATE TABLE t (a INT) INSERT INTO t VALUES (1)");
  const Case cases[] = {
      {"addition at the bound", "SELECT 1" + Repeat(" + 1", kMaxChain), Value(kMaxChain + 1)},
      {"addition past the bound", "SELECT 1" + Repeat(" + 1", kMaxChain + 1), Value(), 191},
      {"AND at the bound", "SELECT COUNT(*) FROM t WHERE a = 1" + Repeat(" AND a = 1", kMaxChain),
       Value(1)},
      {"OR", "SELECT COUNT(*) FROM t WHERE a = 2" + Repeat(" OR a = 2", 3000) + " OR a = 1",
       Value(1)},
      {"text concatenation", "SELECT LEN('ab'" + Repeat(" + 'ab'", 3000) + ")", Value(6002)},
      {"multiplication", "SELECT 1" + Repeat(" * 1", 3000), Value(1)},
      // Regrouping would change nothing here either, but subtraction is not regrouped: written
      // flat, SQLite takes up to its expression depth of 1000, and beyond that says too deep.
      {"subtraction", "SELECT 1000" + Repeat(" - 1", 900), Value(100)},
      {"long subtraction", "SELECT 1000" + Repeat(" - 1", 2000), Value(), 191},
      {"mixed precedence", "SELECT 0" + Repeat(" + 2 * 3 - 1", 300), Value(1500)},
      {"variable", "DECLARE @v INT SET @v = 0" + Repeat(" + 1", kMaxChain) + " SELECT @v",
       Value(kMaxChain)},
      {"IF condition",
       "IF 1 = 1" + Repeat(" AND 1 = 1", kMaxChain) + " SELECT 'yes' ELSE SELECT 'no'",
       Value("yes")},
      {"UNION", "SELECT COUNT(*) FROM (SELECT 1 AS a" + Repeat(" UNION ALL SELECT 1", 400) + ") u",
       Value(401)},
      {"column default", "INSERT INTO d (id) VALUES (1) SELECT v FROM d", Value(1000)},
      {"COLLATE", "SELECT 'x'" + Repeat(" COLLATE Latin1_General_CI_AS", kMaxChain), Value("x")},
  };
  RunOnStack(kThreadStack, [&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      CollectingSink sink = Run(c.batch);
      if (c.error) {
        ASSERT_EQ(sink.FirstError(), c.error) << sink.ErrorText();
        EXPECT_EQ(sink.Errors().at(0)->text, tsql::kTooDeepText);
        continue;
      }
      ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
      ASSERT_FALSE(sink.sets.empty());
      ASSERT_EQ(sink.sets.back().rows.size(), 1u);
      EXPECT_EQ(sink.sets.back().rows[0].at(0), c.expected);
    }
  });
}

// The deepest head + before * n + inner + after * n the parser takes.
int Deepest(const std::string& head, const std::string& before, const std::string& inner,
            const std::string& after) {
  for (int n = tsql::kMaxNesting; n > 0; --n) {
    try {
      tsql::ParseBatch(head + Repeat(before, n) + inner + Repeat(after, n));
      return n;
    } catch (const tsql::ParseError&) {
    }
  }
  return 0;
}

TEST_F(SandboxTest, StatementsNestedToTheBoundRun) {
  int n = Deepest("", "IF 1 = 1 ", "SELECT 5", "");
  EXPECT_GE(n, tsql::kMaxNesting - 2);
  int m = Deepest("", "BEGIN ", "SELECT 6", " END");
  RunOnStack(kThreadStack, [&] {
    EXPECT_EQ(Scalar(Repeat("IF 1 = 1 ", n) + "SELECT 5"), Value(5));
    EXPECT_EQ(Scalar(Repeat("BEGIN ", m) + "SELECT 6" + Repeat(" END", m)), Value(6));
    EXPECT_EQ(Run(Repeat("IF 1 = 1 ", n + 1) + "SELECT 5").FirstError(), kTooDeepNumber);
    // Expressions nested to the bound: SQLite may give up first, but only as "too deep".
    for (const auto& [before, after] : std::vector<std::pair<std::string, std::string>>{
             {"ABS(", ")"}, {"(SELECT ", ")"}, {"CASE WHEN 1 = 1 THEN ", " END"}, {"- ", ""}}) {
      int depth = Deepest("SELECT ", before, "1", after);
      int error = Run("SELECT " + Repeat(before, depth) + "1" + Repeat(after, depth)).FirstError();
      EXPECT_TRUE(error == 0 || error == kTooDeepNumber) << before << " gives " << error;
    }
  });
}

// A resolver for expressions without names: enough to drive the translator on its own.
class NoNames : public Resolver {
 public:
  ResolvedTable ResolveTable(const tsql::ObjectName& name) override {
    throw errors::InvalidObject(name.ToString());
  }
  void CheckRead(const ResolvedTable&) override {}
  VariableSlot* FindVariable(std::string_view) override { return nullptr; }
  std::optional<std::pair<Value, SqlType>> GlobalVariable(std::string_view) override {
    return std::nullopt;
  }
  std::optional<Value> ParameterMarker(int) override { return std::nullopt; }
  std::string CurrentDatabaseName() override { return "master"; }
  std::string CurrentUserName() override { return "dbo"; }
  std::string LoginName() override { return "sa"; }
  std::string HostName() override { return "host"; }
  std::string ApplicationName() override { return "test"; }
  std::optional<std::int64_t> ScopeIdentity() override { return std::nullopt; }
};

tsql::ExprPtr One() {
  auto one = std::make_unique<tsql::Literal>();
  one->type = tsql::Literal::Type::kInteger;
  one->text = "1";
  one->int_value = 1;
  return one;
}

TEST(TranslatorLimitsTest, NestingPastTheBoundIsRefusedAndChainsCostNoStack) {
  NoNames resolver;
  std::vector<Value> params;
  auto nested = [](int n) {
    tsql::ExprPtr e = One();
    for (int i = 0; i < n; ++i) {
      auto u = std::make_unique<tsql::UnaryExpr>();
      u->op = tsql::UnaryOp::kBitNot;
      u->operand = std::move(e);
      e = std::move(u);
    }
    return e;
  };
  RunOnStack(kThreadStack, [&] {
    Translator translator(resolver, params);
    EXPECT_EQ(translator.Expression(*nested(3), nullptr).sql, "(~(~(~1)))");
    EXPECT_FALSE(translator.Expression(*nested(tsql::kMaxNesting), nullptr).sql.empty());
    try {
      translator.Expression(*nested(tsql::kMaxNesting + 1), nullptr);
      ADD_FAILURE() << "translated a tree deeper than the bound";
    } catch (const SqlError& e) {
      EXPECT_EQ(e.number(), kTooDeepNumber);
    }
  });
  // Far longer than the parser builds, on a small stack: the chain is walked in a loop and
  // written as a balanced tree.
  tsql::ExprPtr chain = One();
  for (int i = 0; i < 100000; ++i) {
    auto b = std::make_unique<tsql::BinaryExpr>();
    b->op = tsql::BinaryOp::kAdd;
    b->left = std::move(chain);
    b->right = One();
    chain = std::move(b);
  }
  RunOnStack(512 * 1024, [&] {
    Translator translator(resolver, params);
    TypedSql sql = translator.Expression(*chain, nullptr);
    EXPECT_EQ(sql.type.kind, TypeKind::kInt);
    EXPECT_EQ(std::count(sql.sql.begin(), sql.sql.end(), '+'), 100000);
    EXPECT_LT(sql.sql.find("1 + 1"), 40u);  // only a few parentheses before the first pair
    chain.reset();
  });
}

}  // namespace
}  // namespace sandbox::testing
