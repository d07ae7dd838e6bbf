#include "sandbox/tsql/ast.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace sandbox::tsql {

void WrongNodeDowncast(const char* downcast, int kind) {
  std::fprintf(stderr, "syntax tree node of kind %d downcast to the wrong type: %s\n", kind,
               downcast);
  std::abort();
}

std::string ObjectName::ToString() const {
  std::string out;
  const std::string* parts[] = {&server, &database, &owner, &name};
  for (int i = 4 - part_count; i < 4; ++i) {
    if (i < 0) continue;
    if (!out.empty() || i > 4 - part_count) out += '.';
    out += *parts[i];
  }
  return out;
}

std::string TypeRef::ToString() const {
  std::string out = name;
  if (max) {
    out += "(MAX)";
  } else if (length) {
    out += "(" + std::to_string(*length);
    if (scale) out += ", " + std::to_string(*scale);
    out += ")";
  }
  return out;
}

bool IsArithmetic(BinaryOp op) {
  switch (op) {
    case BinaryOp::kAdd:
    case BinaryOp::kSubtract:
    case BinaryOp::kMultiply:
    case BinaryOp::kDivide:
    case BinaryOp::kModulo:
    case BinaryOp::kBitAnd:
    case BinaryOp::kBitOr:
    case BinaryOp::kBitXor:
      return true;
    case BinaryOp::kEqual:
    case BinaryOp::kNotEqual:
    case BinaryOp::kLess:
    case BinaryOp::kGreater:
    case BinaryOp::kLessEqual:
    case BinaryOp::kGreaterEqual:
    case BinaryOp::kNotLess:
    case BinaryOp::kNotGreater:
    case BinaryOp::kAnd:
    case BinaryOp::kOr:
      return false;
  }
  std::abort();  // not reached: the switch names every kind and returns
}

bool Expr::IsCondition() const {
  switch (kind) {
    case Kind::kLike:
    case Kind::kBetween:
    case Kind::kIn:
    case Kind::kExists:
    case Kind::kIsNull:
    case Kind::kContains:
      return true;
    case Kind::kUnary:
      return As<UnaryExpr>().op == UnaryOp::kNot;
    case Kind::kBinary:
      return !IsArithmetic(As<BinaryExpr>().op);
    case Kind::kLiteral:
    case Kind::kColumn:
    case Kind::kVariable:
    case Kind::kGlobalVariable:
    case Kind::kCase:
    case Kind::kCast:
    case Kind::kConvert:
      return false;
    case Kind::kFunction: {  // UPDATE(column) in a trigger is a test, not a value
      const ObjectName& name = As<FunctionCall>().name;
      return name.part_count == 1 && name.name.size() == 6 &&
             std::equal(name.name.begin(), name.name.end(), "UPDATE", [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == b;
             });
    }
    case Kind::kSubquery:
    case Kind::kCollate:
    case Kind::kDefault:
    case Kind::kParameterMarker:
      return false;
  }
  std::abort();  // not reached: the switch names every kind and returns
}

// Chains of thousands of operators are destroyed link by link: each step detaches the next
// link before the current one goes, so no destructor recurses along the chain.
BinaryExpr::~BinaryExpr() {
  while (left && left->kind == Kind::kBinary) {
    ExprPtr next = std::move(left->As<BinaryExpr>().left);
    left = std::move(next);
  }
}

CollateExpr::~CollateExpr() {
  while (value && value->kind == Kind::kCollate) {
    ExprPtr next = std::move(value->As<CollateExpr>().value);
    value = std::move(next);
  }
}

Join::~Join() {
  while (left && left->kind == Kind::kJoin) {
    TableSourcePtr next = std::move(left->As<Join>().left);
    left = std::move(next);
  }
}

UnionQuery::~UnionQuery() {
  while (left && left->kind == Kind::kUnion) {
    QueryPtr next = std::move(left->As<UnionQuery>().left);
    left = std::move(next);
  }
}

const QuerySpec& Query::FirstSpec() const {
  const Query* q = this;
  while (q->kind == Kind::kUnion) q = q->As<UnionQuery>().left.get();
  return q->As<QuerySpec>();
}

}  // namespace sandbox::tsql
