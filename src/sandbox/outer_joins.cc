// Old-style outer joins: FROM a, b WHERE a.x *= b.y. Every condition of the WHERE that reads
// the inner table alone joins with the *= condition, so the outer table's rows all stay; what
// is left filters the joined rows.
#include <cstddef>
#include <string>
#include <vector>

#include "sandbox/sql_error.h"
#include "sandbox/translator.h"

namespace sandbox {

using namespace tsql;

namespace {

// The AND-ed conditions of a WHERE, in their order; a loop, as long chains are left-deep.
std::vector<const Expr*> Conjuncts(const Expr& where) {
  std::vector<const Expr*> out, pending{&where};
  while (!pending.empty()) {
    const Expr* e = pending.back();
    pending.pop_back();
    if (e->kind == Expr::Kind::kBinary && e->As<BinaryExpr>().op == BinaryOp::kAnd) {
      pending.push_back(e->As<BinaryExpr>().right.get());
      pending.push_back(e->As<BinaryExpr>().left.get());
    } else {
      out.push_back(e);
    }
  }
  return out;
}

const BinaryExpr* OuterComparison(const Expr& e) {
  if (e.kind != Expr::Kind::kBinary) return nullptr;
  const BinaryExpr& b = e.As<BinaryExpr>();
  return b.outer_join == OuterJoin::kNone ? nullptr : &b;
}

}  // namespace

bool Translator::HasOuterJoinOperator(const Expr& where) {
  for (const Expr* e : Conjuncts(where))
    if (OuterComparison(*e)) return true;
  return false;
}

bool Translator::Within(const Expr& expr, const Scope& scope) {
  const size_t bound = params_.size();
  bool within = true;
  try {
    Expression(expr, &scope);
  } catch (const SqlError& e) {
    // An unknown column or prefix: the expression reads a source outside scope.
    if (e.number() != 207 && e.number() != 107 && e.number() != 4104) throw;
    within = false;
  }
  params_.resize(bound);  // the trial's bound values are not part of the statement
  return within;
}

std::string Translator::OldStyleJoins(const QuerySpec& select, Scope& scope, std::string& where_sql) {
  if (resolver_.CompatibilityLevel() >= 90)
    throw errors::OuterJoinOperatorsNeedLevel80(resolver_.MajorVersion());
  // Each FROM item with the sources it brought into scope.
  struct Item {
    std::string sql;
    Scope alone;
    std::vector<size_t> outer_items;  // the items whose rows it is joined to; none: not inner
    std::vector<std::string> on;
  };
  std::vector<Item> items;
  for (const TableSourcePtr& source : select.from) {
    const size_t first = scope.sources.size();
    Item item;
    item.sql = Source(*source, scope, nullptr, true);
    item.alone.outer = scope.outer;
    item.alone.sources.assign(scope.sources.begin() + static_cast<std::ptrdiff_t>(first),
                              scope.sources.end());
    items.push_back(std::move(item));
  }
  auto item_of = [&](const Expr& side) {
    for (size_t i = 0; i < items.size(); ++i)
      if (side.kind == Expr::Kind::kColumn && Within(side, items[i].alone)) return i;
    // Only a column of one table of this query can be joined on.
    throw errors::OuterJoinNotPermitted();
  };

  const std::vector<const Expr*> conjuncts = Conjuncts(*select.where);
  std::vector<const Expr*> rest;
  for (const Expr* e : conjuncts) {
    const BinaryExpr* b = OuterComparison(*e);
    if (!b) {
      rest.push_back(e);
      continue;
    }
    const bool left_kept = b->outer_join == OuterJoin::kLeft;
    const size_t outer = item_of(left_kept ? *b->left : *b->right);
    const size_t inner = item_of(left_kept ? *b->right : *b->left);
    if (outer == inner) throw errors::OuterJoinNotPermitted();
    outer_joins_taken_ = true;
    std::string sql = Condition(*e, &scope);
    outer_joins_taken_ = false;
    items[inner].outer_items.push_back(outer);
    items[inner].on.push_back(std::move(sql));
  }
  // The other conditions: on an inner table alone they are part of its join, else they filter.
  const Scope no_sources{{}, scope.outer};
  std::string where;
  for (const Expr* e : rest) {
    std::string sql = Condition(*e, &scope);
    bool joined = false;
    if (!Within(*e, no_sources)) {
      for (Item& item : items) {
        if (!item.outer_items.empty() && Within(*e, item.alone)) {
          item.on.push_back(sql);
          joined = true;
          break;
        }
      }
    }
    if (!joined) where += (where.empty() ? "" : " AND ") + sql;
  }
  where_sql = std::move(where);

  // The tables that are no inner table first, then each inner table once its outer ones are in.
  std::string sql;
  std::vector<bool> placed(items.size(), false);
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].outer_items.empty()) continue;
    sql += (sql.empty() ? "" : ", ") + items[i].sql;
    placed[i] = true;
  }
  for (bool progress = true; progress;) {
    progress = false;
    for (size_t i = 0; i < items.size(); ++i) {
      if (placed[i]) continue;
      bool ready = true;
      for (size_t o : items[i].outer_items) ready = ready && placed[o];
      if (!ready) continue;
      std::string on;
      for (const std::string& c : items[i].on) on += (on.empty() ? "" : " AND ") + c;
      sql += " LEFT JOIN " + items[i].sql + " ON " + on;
      placed[i] = progress = true;
    }
  }
  // Tables that are each other's inner tables cannot be joined in any order.
  for (bool p : placed)
    if (!p) throw errors::OuterJoinNotPermitted();
  return sql;
}

}  // namespace sandbox
