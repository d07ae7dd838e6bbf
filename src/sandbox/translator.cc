#include "sandbox/translator.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sandbox/arithmetic.h"
#include "sandbox/builtin_functions.h"
#include "sandbox/collation.h"
#include "sandbox/live_variables.h"
#include "sandbox/messages.h"
#include "sandbox/sql_error.h"
#include "sandbox/sqlite.h"
#include "sandbox/tsql/limits.h"
#include "sandbox/versions.h"

namespace sandbox {

using common::Value;
using namespace tsql;

namespace {

int Precedence(TypeKind kind) {
  switch (kind) {
    case TypeKind::kSqlVariant:
      return 25;
    case TypeKind::kDateTime:
      return 24;
    case TypeKind::kSmallDateTime:
      return 23;
    case TypeKind::kFloat:
      return 22;
    case TypeKind::kReal:
      return 21;
    case TypeKind::kDecimal:
      return 20;
    case TypeKind::kNumeric:
      return 20;
    case TypeKind::kMoney:
      return 19;
    case TypeKind::kSmallMoney:
      return 18;
    case TypeKind::kBigInt:
      return 17;
    case TypeKind::kInt:
      return 16;
    case TypeKind::kSmallInt:
      return 15;
    case TypeKind::kTinyInt:
      return 14;
    case TypeKind::kBit:
      return 13;
    case TypeKind::kNText:
      return 12;
    case TypeKind::kText:
      return 11;
    case TypeKind::kImage:
      return 10;
    case TypeKind::kTimestamp:
      return 9;
    case TypeKind::kUniqueIdentifier:
      return 8;
    case TypeKind::kNVarChar:
      return 7;
    case TypeKind::kNChar:
      return 6;
    case TypeKind::kVarChar:
      return 5;
    case TypeKind::kChar:
      return 4;
    case TypeKind::kVarBinary:
      return 3;
    case TypeKind::kBinary:
      return 2;
  }
  return 0;
}

SqlType Higher(const SqlType& a, const SqlType& b) {
  if (Precedence(a.kind) == Precedence(b.kind)) {
    SqlType out = a;
    if (a.length >= 0 && b.length >= 0) out.length = std::max(a.length, b.length);
    if (a.length < 0 || b.length < 0) out.length = -1;
    out.precision = std::max(a.precision, b.precision);
    out.scale = std::max(a.scale, b.scale);
    return out;
  }
  return Precedence(a.kind) > Precedence(b.kind) ? a : b;
}

bool IsTextLike(const SqlType& t) { return t.IsCharacter(); }

// Text compares, groups and sorts by the default collation (case and trailing blanks ignored)
// unless a COLLATE clause said otherwise. Stated on every text operand, not left to the column:
// columns of derived and system tables are expressions to SQLite and would compare as BINARY.
std::string Collated(const TypedSql& t) {
  bool text = IsTextLike(t.type) || t.type.kind == TypeKind::kUniqueIdentifier;
  if (!text || t.collation_stated) return t.sql;
  return "(" + t.sql + " COLLATE tsql_ci)";
}

// SQL that holds an integer result to the range of its type (error 8115 beyond it).
std::string IntegerChecked(const std::string& sql, const SqlType& type) {
  if (!type.IsInteger()) return sql;
  return "tsql_int(" + sql + ", " + std::to_string(static_cast<int>(type.kind)) + ")";
}

SqlError NotRecognisedFunction(std::string_view name) {
  return errors::Raise<195>(name, "function name").WithScope(ErrorScope::kBatch);
}

// 174 for functions of a fixed count of arguments, 189 for a range; high < 0: no upper limit.
SqlError WrongArgumentCount(std::string_view name, int low, int high) {
  std::string text = "The " + Lower(name) + " function requires " + std::to_string(low);
  if (high == low || high < 0) return errors::Raise<174>(Lower(name), low);
  return errors::Raise<189>(Lower(name), low, high);
}

// Literals at least this long are bound rather than printed, when the statement allows it.
constexpr std::size_t kBoundLiteralBytes = 256;

std::string Hex(const std::string& bytes) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    out[2 * i] = kHex[c >> 4];
    out[2 * i + 1] = kHex[c & 15];
  }
  return out;
}

std::string TextLiteralSql(const std::string& text) {
  if (text.find('\0') != std::string::npos) return "CAST(X'" + Hex(text) + "' AS TEXT)";
  return QuoteLiteral(text);
}

bool MatchesQualifier(const SourceBinding& source, const ObjectName& q) {
  if (!EqualsNoCase(source.exposed, q.name)) return false;
  if (source.aliased) return q.owner.empty() && q.database.empty();
  if (!q.owner.empty() && !EqualsNoCase(q.owner, source.owner)) return false;
  if (!q.database.empty() && !EqualsNoCase(q.database, source.database)) return false;
  return true;
}

}  // namespace

std::string ItemName(const SelectItem& item) {
  if (!item.alias.empty()) return item.alias;
  if (item.expr && item.expr->kind == Expr::Kind::kColumn) return item.expr->As<ColumnRef>().column;
  return {};
}

std::string Translator::Bind(Value value) {
  params_.push_back(std::move(value));
  return "?" + std::to_string(params_.size());
}

std::string Translator::TextLiteral(const std::string& text) {
  // A text with NUL characters keeps its CAST from hexadecimal: it must stay text, all of it.
  if (bind_long_literals_ && text.size() >= kBoundLiteralBytes &&
      text.find('\0') == std::string::npos)
    return Bind(Value(text));
  return TextLiteralSql(text);
}

std::string Translator::NewAlias() { return "t" + std::to_string(++alias_counter_); }

SqlType Translator::ResolveType(const TypeRef& ref, bool cast_default_length, int major_version) {
  int count = ref.length ? (ref.scale ? 2 : 1) : 0;
  auto type = TypeFromName(ref.name, count, static_cast<int>(ref.length.value_or(0)),
                           static_cast<int>(ref.scale.value_or(0)));
  if (!type || TypeAddedIn(type->kind) > major_version) throw errors::Raise<243>(ref.name);
  if (ref.max) type->length = -1;
  if (count == 0 && cast_default_length && !ref.max &&
      (type->kind == TypeKind::kVarChar || type->kind == TypeKind::kNVarChar ||
       type->kind == TypeKind::kChar || type->kind == TypeKind::kNChar ||
       type->kind == TypeKind::kVarBinary || type->kind == TypeKind::kBinary))
    type->length = 30;
  if ((type->kind == TypeKind::kVarChar || type->kind == TypeKind::kChar ||
       type->kind == TypeKind::kVarBinary || type->kind == TypeKind::kBinary) &&
      (type->length == 0 || type->length > 8000) && !ref.max)
    throw errors::Raise<131>(type->length, type->Name());
  if ((type->kind == TypeKind::kNVarChar || type->kind == TypeKind::kNChar) &&
      (type->length == 0 || type->length > 4000) && !ref.max)
    throw errors::Raise<2717>(type->length, type->Name());
  return *type;
}

std::string Translator::ConvertSql(const TypedSql& value, const SqlType& target, Fit fit,
                                   std::string_view style) {
  if (value.is_null) return "NULL";
  // A number literal made a decimal is converted here from its digits: through a double, digits
  // past the 16th would be lost. Errors are left to the statement's run.
  if ((target.kind == TypeKind::kDecimal || target.kind == TypeKind::kNumeric) &&
      value.is_literal && value.literal &&
      (value.literal->type == tsql::Literal::Type::kDecimal ||
       value.literal->type == tsql::Literal::Type::kInteger)) {
    try {
      Value exact = DecimalFromText(value.literal->text, target);
      if (auto* digits = exact.AsText()) return QuoteLiteral(*digits);
      if (exact.type() == Value::Type::kInt) return std::to_string(*exact.ToInt());
      if (auto rounded = RoundDecimalText(value.literal->text, target.scale, false)) {
        if (rounded->find('.') == std::string::npos) *rounded += ".0";
        return *rounded;
      }
    } catch (const SqlError&) {
    }
  }
  int source = value.type.kind == TypeKind::kSqlVariant ? -1 : static_cast<int>(value.type.kind);
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, ", %d, %d, %d, %d, %d, %d, %d, ",
                static_cast<int>(target.kind), target.length, target.precision, target.scale,
                source, value.type.scale, fit == Fit::kFail ? 1 : 0);
  return "tsql_conv(" + value.sql + buffer + std::string(style) + ")";
}

// --- expressions -------------------------------------------------------------------------

TypedSql Translator::Literal(const tsql::Literal& literal) {
  TypedSql out;
  out.is_literal = true;
  out.literal = &literal;
  out.nullable = false;
  switch (literal.type) {
    case tsql::Literal::Type::kNull:
      out.sql = "NULL";
      out.is_null = true;
      out.nullable = true;
      out.type = SqlType::Int();
      break;
    case tsql::Literal::Type::kInteger:
      out.sql = bind_integer_literals_ ? Bind(Value(static_cast<long long>(literal.int_value)))
                                       : std::to_string(literal.int_value);
      // -2147483648 is numeric: the digits decide, and 2147483648 is past int.
      out.type = literal.int_value > INT32_MIN && literal.int_value <= INT32_MAX
                     ? SqlType::Int()
                     : SqlType{TypeKind::kNumeric, 0, 19, 0};
      break;
    case tsql::Literal::Type::kDecimal: {
      std::string digits = literal.text;
      size_t dot = digits.find('.');
      int scale = dot == std::string::npos ? 0 : static_cast<int>(digits.size() - dot - 1);
      // 0.5 is numeric(1,1): zeros before the first significant digit of the whole part do
      // not count.
      std::string whole = digits.substr(0, dot);
      size_t first = whole.find_first_of("123456789");
      int whole_digits = first == std::string::npos ? 0 : static_cast<int>(whole.size() - first);
      out.type = SqlType{TypeKind::kNumeric, 0, std::max(whole_digits + scale, 1), scale};
      out.sql = dot == 0 ? "0" + digits : digits;
      if (digits.rfind("-.", 0) == 0) out.sql = "-0" + digits.substr(1);
      break;
    }
    case tsql::Literal::Type::kFloat:
      out.type = SqlType::Float();
      out.sql = literal.text;
      if (!out.sql.empty() && out.sql[0] == '.') out.sql = "0" + out.sql;
      break;
    case tsql::Literal::Type::kMoney:
      out.type = SqlType{TypeKind::kMoney};
      out.sql = literal.text.empty() ? "0" : literal.text;
      if (out.sql[0] == '.') out.sql = "0" + out.sql;
      break;
    case tsql::Literal::Type::kString:
      out.type = SqlType::VarChar(std::max<int>(1, static_cast<int>(CodePointCount(literal.text))));
      out.sql = TextLiteral(literal.text);
      break;
    case tsql::Literal::Type::kUnicodeString:
      out.type =
          SqlType::NVarChar(std::max<int>(1, static_cast<int>(CodePointCount(literal.text))));
      out.sql = TextLiteral(literal.text);
      break;
    case tsql::Literal::Type::kBinary:
      out.type =
          SqlType{TypeKind::kVarBinary, std::max<int>(1, static_cast<int>(literal.text.size()))};
      if (bind_long_literals_ && literal.text.size() >= kBoundLiteralBytes) {
        out.sql = Bind(Value(common::Bytes(literal.text.begin(), literal.text.end())));
      } else {
        out.sql = "X'" + Hex(literal.text) + "'";
      }
      break;
  }
  return out;
}

std::string Resolver::FullTextPredicate(const SourceBinding& source,
                                        const std::vector<std::string>&, const std::string&, bool,
                                        bool) {
  throw errors::Raise<7601>("table", source.table_name);
}

TypedSql Translator::Column(const ColumnRef& ref, const Scope* scope) {
  bool qualified = !ref.table.empty();
  bool qualifier_seen = false;
  for (const Scope* s = scope; s; s = s->outer) {
    const SourceBinding* found_source = nullptr;
    const OutputColumn* found = nullptr;
    for (const SourceBinding& source : s->sources) {
      if (qualified && !MatchesQualifier(source, ref.table)) continue;
      qualifier_seen = true;
      for (const OutputColumn& column : source.columns) {
        if (!EqualsNoCase(column.name, ref.column)) continue;
        if (found) throw errors::AmbiguousColumn(ref.column);
        found = &column;
        found_source = &source;
        break;
      }
    }
    if (!found) {
      // A qualifier that names a table here ends the search: the column is not in it.
      if (qualified && qualifier_seen) break;
      continue;
    }
    TypedSql out;
    if (found_source->derived) {
      size_t index = static_cast<size_t>(found - found_source->columns.data());
      out.sql =
          QuoteIdentifier(found_source->sql_alias) + ".\"c" + std::to_string(index + 1) + "\"";
    } else {
      out.sql = QuoteIdentifier(found_source->sql_alias) + "." + QuoteIdentifier(found->name);
    }
    out.type = found->type;
    out.nullable = found->nullable;
    out.is_column = true;
    out.base = *found;
    return out;
  }
  if (qualified && !qualifier_seen) throw errors::Raise<107>(ref.table.ToString());
  throw errors::InvalidColumn(ref.column);
}

void Translator::Harmonise(TypedSql& a, TypedSql& b) {
  auto normalise = [&](TypedSql& text_side, const SqlType& target) {
    if (text_side.is_literal && text_side.literal &&
        (text_side.literal->type == tsql::Literal::Type::kString ||
         text_side.literal->type == tsql::Literal::Type::kUnicodeString)) {
      try {
        DateSettings dates = resolver_.Dates();
        Value converted =
            Convert(Value(text_side.literal->text), target, Fit::kCut, std::nullopt, 0, &dates);
        text_side.sql = TextLiteral(*converted.AsText());
        text_side.type = target;
        return;
      } catch (const SqlError&) {
        // Left to fail when the comparison runs, as SQL Server reports it.
      }
    }
    text_side.sql = ConvertSql(text_side, target, Fit::kCut);
    text_side.type = target;
  };
  bool a_text = IsTextLike(a.type) && !a.is_null, b_text = IsTextLike(b.type) && !b.is_null;
  if ((a.type.IsDate() || a.type.kind == TypeKind::kUniqueIdentifier) && b_text) {
    normalise(b, a.type.IsDate() ? SqlType::DateTimeType() : a.type);
  } else if ((b.type.IsDate() || b.type.kind == TypeKind::kUniqueIdentifier) && a_text) {
    normalise(a, b.type.IsDate() ? SqlType::DateTimeType() : b.type);
  } else if (a.type.IsNumeric() && b_text && !b.is_column) {
    normalise(b, a.type.IsInteger() || a.type.kind == TypeKind::kBit ? SqlType{TypeKind::kBigInt}
                                                                     : SqlType::Float());
  } else if (b.type.IsNumeric() && a_text && !a.is_column) {
    normalise(a, b.type.IsInteger() || b.type.kind == TypeKind::kBit ? SqlType{TypeKind::kBigInt}
                                                                     : SqlType::Float());
  }
}

TypedSql Translator::Comparison(const char* op, TypedSql left, TypedSql right) {
  Harmonise(left, right);
  TypedSql out;
  out.type = SqlType::Bit();
  std::string r = right.sql;
  bool both_text = (IsTextLike(left.type) || left.type.kind == TypeKind::kUniqueIdentifier) &&
                   (IsTextLike(right.type) || right.type.kind == TypeKind::kUniqueIdentifier);
  // SQLite takes the left operand's COLLATE first, so a stated one there wins as it should.
  if (both_text && !left.collation_stated) r = Collated(right);
  out.sql = "(" + left.sql + " " + op + " " + r + ")";
  return out;
}

namespace {

SqlError TooDeep() { return errors::Raise<191>(); }

bool IsLogical(BinaryOp op) { return op == BinaryOp::kAnd || op == BinaryOp::kOr; }

// Chains longer than this are written for SQLite as a balanced tree when regrouping cannot change
// the result: its parser overflows at about a hundred nested parentheses and it refuses
// expressions deeper than a thousand levels, while SQL Server takes a few thousand terms.
constexpr std::size_t kLongChain = 32;

// terms[lo, hi) joined by op, grouped as a balanced tree: depth log2 of the count.
std::string Balanced(const std::vector<std::string>& terms, std::size_t lo, std::size_t hi,
                     const char* op) {
  if (hi - lo == 1) return terms[lo];
  std::size_t mid = lo + (hi - lo) / 2;
  return "(" + Balanced(terms, lo, mid, op) + op + Balanced(terms, mid, hi, op) + ")";
}

// What regrouping a + b + c keeps exact: text concatenation, and integer +, *, & and | (SQLite
// computes integers in 64 bits, so no intermediate result differs). Not floats, not mixed types,
// and not NULL, whose type follows its neighbour.
const char* AssociativeOperator(BinaryOp op, const TypedSql& left, const TypedSql& right) {
  if (left.is_null || right.is_null) return nullptr;
  if (op == BinaryOp::kAdd && left.type.IsCharacter() && right.type.IsCharacter()) return " || ";
  auto integer = [](const SqlType& t) { return t.IsInteger() || t.kind == TypeKind::kBit; };
  if (!integer(left.type) || !integer(right.type)) return nullptr;
  switch (op) {
    case BinaryOp::kAdd:
      return " + ";
    case BinaryOp::kMultiply:
      return " * ";
    case BinaryOp::kBitAnd:
      return " & ";
    case BinaryOp::kBitOr:
      return " | ";
    case BinaryOp::kSubtract:
    case BinaryOp::kDivide:
    case BinaryOp::kModulo:
    case BinaryOp::kBitXor:
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
      return nullptr;
  }
  std::abort();  // not reached: the switch names every kind and returns
}

}  // namespace

TypedSql Translator::Binary(const BinaryExpr& expr, const Scope* scope) {
  if (expr.outer_join != OuterJoin::kNone && !outer_joins_taken_) {
    if (resolver_.CompatibilityLevel() >= 90)
      throw errors::OuterJoinOperatorsNeedLevel80(resolver_.MajorVersion());
    throw errors::OuterJoinNotPermitted();
  }
  if (!IsLogical(expr.op) && !IsArithmetic(expr.op)) {
    switch (expr.op) {
      case BinaryOp::kEqual:
        return Comparison("=", Expression(*expr.left, scope), Expression(*expr.right, scope));
      case BinaryOp::kNotEqual:
        return Comparison("<>", Expression(*expr.left, scope), Expression(*expr.right, scope));
      case BinaryOp::kLess:
        return Comparison("<", Expression(*expr.left, scope), Expression(*expr.right, scope));
      case BinaryOp::kGreater:
        return Comparison(">", Expression(*expr.left, scope), Expression(*expr.right, scope));
      case BinaryOp::kLessEqual:
      case BinaryOp::kNotGreater:
        return Comparison("<=", Expression(*expr.left, scope), Expression(*expr.right, scope));
      case BinaryOp::kGreaterEqual:
      case BinaryOp::kNotLess:
        return Comparison(">=", Expression(*expr.left, scope), Expression(*expr.right, scope));
      case BinaryOp::kAdd:
      case BinaryOp::kSubtract:
      case BinaryOp::kMultiply:
      case BinaryOp::kDivide:
      case BinaryOp::kModulo:
      case BinaryOp::kBitAnd:
      case BinaryOp::kBitOr:
      case BinaryOp::kBitXor:
      case BinaryOp::kAnd:
      case BinaryOp::kOr:
        break;
    }
  }
  // The parser builds a + b + c as ((a + b) + c): the left-deep chain is walked in a loop, so
  // thousands of terms cost no stack.
  std::vector<const BinaryExpr*> chain{&expr};
  auto continues = [&](const Expr& e) {
    if (e.kind != Expr::Kind::kBinary) return false;
    BinaryOp op = e.As<BinaryExpr>().op;
    return IsLogical(expr.op) ? op == expr.op : IsArithmetic(op);
  };
  while (continues(*chain.back()->left)) chain.push_back(&chain.back()->left->As<BinaryExpr>());

  if (IsLogical(expr.op)) {
    const char* op = expr.op == BinaryOp::kAnd ? " AND " : " OR ";
    TypedSql out;
    out.type = SqlType::Bit();
    std::vector<std::string> terms;
    terms.push_back(Condition(*chain.back()->left, scope));
    for (auto link = chain.rbegin(); link != chain.rend(); ++link)
      terms.push_back(Condition(*(*link)->right, scope));
    if (terms.size() > kLongChain) {
      out.sql = Balanced(terms, 0, terms.size(), op);
    } else {
      out.sql = terms[0];
      for (std::size_t i = 1; i < terms.size(); ++i) out.sql = "(" + out.sql + op + terms[i] + ")";
    }
    return out;
  }

  TypedSql acc = Expression(*chain.back()->left, scope);
  std::vector<std::string> terms{acc.sql};
  // The operator every link shares when regrouping is exact; empty once a link breaks it.
  std::string regroup;
  int flat = 0;
  for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
    TypedSql right = Expression(*(*link)->right, scope);
    const char* op = AssociativeOperator((*link)->op, acc, right);
    if (link == chain.rbegin() && op) regroup = op;
    if (!op || regroup != op || (*link)->op != chain.back()->op) regroup.clear();
    if (!regroup.empty()) terms.push_back(right.sql);
    acc = Arithmetic((*link)->op, std::move(acc), std::move(right), flat);
  }
  if (!regroup.empty() && terms.size() > kLongChain)
    acc.sql = Balanced(terms, 0, terms.size(), regroup.c_str());
  // SQLite computes integers in 64 bits (and goes over to floating point past them): the chain's
  // result is held to its type's range once, so a chain of thousands of terms stays flat. An
  // intermediate result out of range that the chain brings back goes unreported.
  bool may_overflow = std::any_of(chain.begin(), chain.end(), [](const BinaryExpr* link) {
    return link->op == BinaryOp::kAdd || link->op == BinaryOp::kSubtract ||
           link->op == BinaryOp::kMultiply || link->op == BinaryOp::kDivide;
  });
  if (may_overflow) acc.sql = IntegerChecked(acc.sql, acc.type);
  return acc;
}

TypedSql Translator::Arithmetic(BinaryOp op, TypedSql left, TypedSql right, int& flat) {
  // flat: the SQLite precedence class of left when it is an infix chain this loop wrote, so the
  // next operator of the same class extends it instead of adding a level of parentheses.
  int left_flat = flat;
  flat = 0;
  TypedSql out;
  out.nullable = left.nullable || right.nullable;
  bool left_text = IsTextLike(left.type) || left.is_null;
  bool right_text = IsTextLike(right.type) || right.is_null;
  if (op == BinaryOp::kAdd && left_text && right_text && !(left.is_null && right.is_null)) {
    out.type = left.type.IsUnicode() || right.type.IsUnicode() ? SqlType::NVarChar(0)
                                                               : SqlType::VarChar(0);
    if (left.type.IsLarge() || right.type.IsLarge()) {
      out.type.length = -1;
    } else {
      int limit = out.type.IsUnicode() ? 4000 : 8000;
      out.type.length = std::min(limit, std::max(1, left.type.length + right.type.length));
    }
    out.sql = "(" + left.sql + " || " + right.sql + ")";
    return out;
  }
  if (left.type.IsBinary() && right.type.IsBinary() && op == BinaryOp::kAdd) {
    out.type = SqlType{TypeKind::kVarBinary, std::min(8000, left.type.length + right.type.length)};
    out.sql = "CAST((" + left.sql + " || " + right.sql + ") AS BLOB)";
    return out;
  }
  // Dates with numbers: days.
  if ((op == BinaryOp::kAdd || op == BinaryOp::kSubtract) &&
      (left.type.IsDate() || right.type.IsDate()) && !(left.type.IsDate() && right.type.IsDate())) {
    const TypedSql& date = left.type.IsDate() ? left : right;
    const TypedSql& days = left.type.IsDate() ? right : left;
    std::string sign = op == BinaryOp::kSubtract ? "-" : "";
    out.type = SqlType::DateTimeType();
    out.sql = "tsql_dateadd('ms', CAST(round(" + sign + "(" + days.sql +
              ") * 86400000.0) AS INTEGER), " + date.sql + ")";
    return out;
  }
  // A character operand of arithmetic converts to the other side's number type.
  if (left_text && !left.is_null && right.type.IsNumeric()) {
    left_flat = 0;
    left.sql = ConvertSql(left, right.type, Fit::kCut);
    left.type = right.type;
  } else if (right_text && !right.is_null && left.type.IsNumeric()) {
    right.sql = ConvertSql(right, left.type, Fit::kCut);
    right.type = left.type;
  }
  // The operand of higher precedence gives the type: tinyint + tinyint is tinyint.
  out.type = Higher(left.type, right.type);
  if (out.type.kind == TypeKind::kBit) out.type = SqlType::Int();
  auto exact = [](const SqlType& t) {
    return t.IsInteger() || t.kind == TypeKind::kBit || t.kind == TypeKind::kDecimal ||
           t.kind == TypeKind::kNumeric;
  };
  if ((out.type.kind == TypeKind::kDecimal || out.type.kind == TypeKind::kNumeric) &&
      exact(left.type) && exact(right.type)) {
    const char* ops = "+-*/%";
    const BinaryOp kinds[] = {BinaryOp::kAdd, BinaryOp::kSubtract, BinaryOp::kMultiply,
                              BinaryOp::kDivide, BinaryOp::kModulo};
    for (int i = 0; i < 5; ++i)
      if (op == kinds[i]) out.type = DecimalResultType(ops[i], left.type, right.type);
  }
  auto nonzero_literal = [](const TypedSql& t) {
    return t.is_literal && t.literal && t.literal->type == tsql::Literal::Type::kInteger &&
           t.literal->int_value != 0;
  };
  // SQLite's precedence classes: + and - (1), * / and % (2), & and | (3); within one class it
  // groups from the left as SQL Server does, so a chain needs only one pair of parentheses.
  auto infix = [&](const char* text, int cls) {
    if (left_flat == cls && left.sql.size() > 1 && left.sql.back() == ')') {
      left.sql.pop_back();
      out.sql = std::move(left.sql) + " " + text + " " + right.sql + ")";
    } else {
      out.sql = "(" + left.sql + " " + text + " " + right.sql + ")";
    }
    flat = cls;
  };
  switch (op) {
    case BinaryOp::kAdd:
      infix("+", 1);
      break;
    case BinaryOp::kSubtract:
      infix("-", 1);
      break;
    case BinaryOp::kMultiply:
      infix("*", 2);
      break;
    case BinaryOp::kDivide:
      if (nonzero_literal(right)) {
        infix("/", 2);
      } else {
        out.sql = "tsql_div(" + left.sql + ", " + right.sql + ")";
      }
      break;
    case BinaryOp::kModulo:
      if (nonzero_literal(right)) {
        infix("%", 2);
      } else {
        out.sql = "tsql_mod(" + left.sql + ", " + right.sql + ")";
      }
      break;
    case BinaryOp::kBitAnd:
      infix("&", 3);
      break;
    case BinaryOp::kBitOr:
      infix("|", 3);
      break;
    case BinaryOp::kBitXor:
      out.sql = "tsql_bitxor(" + left.sql + ", " + right.sql + ")";
      break;
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
      break;
  }
  return out;
}

std::string Translator::Condition(const Expr& expr, const Scope* scope) {
  TypedSql t = Expression(expr, scope);
  if (expr.IsCondition()) return t.sql;
  return "(" + t.sql + " <> 0)";
}

std::string Translator::SystemCall(const std::string& name, const std::vector<TypedSql>& args) {
  std::string sql = "tsql_sys(" + QuoteLiteral(name);
  for (const TypedSql& a : args) sql += ", " + a.sql;
  return sql + ")";
}

TypedSql Translator::Builtin(const BuiltinFunction& function, const FunctionCall& call,
                             const Scope* scope) {
  std::vector<TypedSql> args;
  if (call.star) {
    // f(*): every column of the FROM sources, in their order, but text, ntext and image,
    // which do not compare.
    if (!function.star || !scope || scope->sources.empty())
      throw WrongArgumentCount(function.name, function.min_args, function.max_args);
    for (const SourceBinding& source : scope->sources) {
      for (const OutputColumn& column : source.columns) {
        if (column.type.IsLarge()) continue;
        ColumnRef ref;
        ref.table.name = source.exposed;
        ref.column = column.name;
        args.push_back(Column(ref, scope));
      }
    }
  } else {
    const auto count = static_cast<int>(call.args.size());
    if (count < function.min_args || (function.max_args >= 0 && count > function.max_args))
      throw WrongArgumentCount(function.name, function.min_args, function.max_args);
    const std::string_view kinds = function.arguments;
    for (size_t i = 0; i < call.args.size(); ++i) {
      TypedSql a = Expression(*call.args[i], scope);
      const char kind = kinds.empty() ? 'a' : kinds[std::min(i, kinds.size() - 1)];
      // Implicit conversions, as SQL Server makes them for the argument's type.
      SqlType target = a.type;
      if (kind == 'f' && !a.type.IsNumeric()) target = SqlType::Float();
      if (kind == 'i' && !a.type.IsNumeric()) target = SqlType::Int();
      if (kind == 't' && !a.type.IsCharacter()) target = SqlType::VarChar(8000);
      if (!a.is_null && !(target == a.type)) {
        a.sql = ConvertSql(a, target, Fit::kCut);
        a.type = target;
        a.is_literal = false;
        a.literal = nullptr;
      }
      args.push_back(std::move(a));
    }
  }
  TypedSql out;
  out.type = function.result(args);
  out.nullable = !function.never_null;
  out.sql = BuiltinSqlName(function) + "(";
  for (size_t i = 0; i < args.size(); ++i) out.sql += (i ? ", " : "") + args[i].sql;
  if (function.result_length) out.sql += ", " + std::to_string(out.type.length);
  out.sql += ")";
  return out;
}

TypedSql Translator::Function(const FunctionCall& call, const Scope* scope) {
  std::string name = Upper(call.name.name);
  TypedSql out;
  auto args = [&]() {
    std::vector<TypedSql> list;
    for (const ExprPtr& a : call.args) list.push_back(Expression(*a, scope));
    return list;
  };
  auto need = [&](size_t low, size_t high) {
    if (call.args.size() < low || call.args.size() > high)
      throw WrongArgumentCount(name, static_cast<int>(low), static_cast<int>(high));
  };
  auto text_result = [&](const std::string& sql, SqlType type) {
    out.sql = sql;
    out.type = type;
    return out;
  };
  // A date part is written as a bare word (parsed as a column name) or as a string.
  auto date_part = [&](const Expr& e) -> std::string {
    if (e.kind == Expr::Kind::kColumn && e.As<ColumnRef>().table.empty())
      return QuoteLiteral(e.As<ColumnRef>().column);
    if (e.kind == Expr::Kind::kLiteral) return QuoteLiteral(e.As<tsql::Literal>().text);
    // An expression or a variable is no date part: SQL Server refuses the first argument.
    throw errors::Raise<1023>(1, Lower(name));
  };

  if (!call.name.owner.empty() || !call.name.database.empty()) {
    if (auto user = resolver_.UserFunction(call, args())) return *user;
    throw NotRecognisedFunction(call.name.ToString());
  }
  if (name == "UPDATE" || name == "COLUMNS_UPDATED") {
    if (auto answer = resolver_.TriggerColumns(call)) return *answer;
    if (name == "UPDATE") throw errors::Raise<156>("UPDATE");
  }
  if (FunctionAddedIn(name) > resolver_.MajorVersion())
    throw NotRecognisedFunction(call.name.ToString());
  if (const BuiltinFunction* builtin = FindBuiltinFunction(name))
    return Builtin(*builtin, call, scope);

  if (name == "COUNT" || name == "COUNT_BIG") {
    out.type = name == "COUNT" ? SqlType::Int() : SqlType{TypeKind::kBigInt};
    out.nullable = false;
    if (call.star) {
      out.sql = "count(*)";
    } else {
      need(1, 1);
      TypedSql a = Expression(*call.args[0], scope);
      out.sql = std::string("count(") + (call.distinct ? "DISTINCT " + Collated(a) : a.sql) + ")";
    }
    return out;
  }
  if (name == "SUM" || name == "AVG" || name == "MIN" || name == "MAX") {
    need(1, 1);
    TypedSql a = Expression(*call.args[0], scope);
    out.type = a.type;
    std::string distinct = call.distinct ? "DISTINCT " : "";
    bool adds = name == "SUM" || name == "AVG";
    if (a.type.kind == TypeKind::kBit || a.type.IsLarge() ||
        (adds && !a.type.IsNumeric() && !a.is_null))
      throw errors::Raise<409>(adds ? "sum or average" : Lower(name), a.type.Name());
    // SQL Server widens what adds up: small integers to int, exact numbers to precision 38,
    // and an average keeps at least six decimals.
    if (adds && (a.type.kind == TypeKind::kTinyInt || a.type.kind == TypeKind::kSmallInt))
      out.type = SqlType::Int();
    if (adds && (a.type.kind == TypeKind::kDecimal || a.type.kind == TypeKind::kNumeric))
      out.type = SqlType{a.type.kind, 0, 38, name == "AVG" ? std::max(a.type.scale, 6) : a.type.scale};
    if (adds && a.type.kind == TypeKind::kSmallMoney) out.type = SqlType{TypeKind::kMoney};
    if (adds && a.type.kind == TypeKind::kReal) out.type = SqlType::Float();
    if (name == "AVG" && a.type.IsInteger()) {
      out.sql = "CAST(avg(" + distinct + a.sql + ") AS INTEGER)";
    } else if (name == "SUM" && out.type.IsInteger()) {
      out.sql = IntegerChecked("sum(" + distinct + a.sql + ")", out.type);
    } else {
      // MIN and MAX of text order it as comparisons do.
      out.sql = Lower(name) + "(" + distinct + Collated(a) + ")";
    }
    return out;
  }
  if (name == "ISNULL") {
    need(2, 2);
    TypedSql a = Expression(*call.args[0], scope);
    TypedSql b = Expression(*call.args[1], scope);
    if (!a.is_null) {
      TypedSql copy = a;
      Harmonise(copy, b);
    }
    out.type = a.is_null ? b.type : a.type;
    out.nullable = a.nullable && b.nullable;
    out.sql = "ifnull(" + a.sql + ", " + b.sql + ")";
    return out;
  }
  if (name == "COALESCE") {
    if (call.args.empty()) throw WrongArgumentCount(name, 2, -1);
    std::vector<TypedSql> list = args();
    out.sql = "coalesce(";
    bool first = true;
    for (const TypedSql& a : list) {
      out.sql += (first ? "" : ", ") + a.sql;
      if (!a.is_null) out.type = first || out.type == SqlType{} ? a.type : Higher(out.type, a.type);
      first = false;
    }
    if (list.size() == 1) out.sql += ", NULL";
    out.sql += ")";
    return out;
  }
  if (name == "NULLIF") {
    need(2, 2);
    std::vector<TypedSql> list = args();
    Harmonise(list[0], list[1]);
    out.type = list[0].type;
    out.sql = "nullif(" + list[0].sql + ", " + list[1].sql + ")";
    return out;
  }
  if (name == "LEN") {
    need(1, 1);
    return text_result("tsql_len(" + Expression(*call.args[0], scope).sql + ")", SqlType::Int());
  }
  if (name == "DATALENGTH") {
    need(1, 1);
    TypedSql a = Expression(*call.args[0], scope);
    int per = a.type.IsUnicode() ? 2 : a.type.IsCharacter() ? 1 : 0;
    if (a.type.kind == TypeKind::kUniqueIdentifier) return text_result("16", SqlType::Int());
    if (a.type.IsDate())
      return text_result(a.type.kind == TypeKind::kDateTime ? "8" : "4", SqlType::Int());
    return text_result("tsql_datalength(" + a.sql + ", " + std::to_string(per) + ")",
                       SqlType::Int());
  }
  if (name == "LEFT" || name == "RIGHT") {
    need(2, 2);
    TypedSql a = Expression(*call.args[0], scope);
    SqlType type = a.type.IsCharacter() ? a.type : SqlType::VarChar(8000);
    if (type.kind == TypeKind::kText) type = SqlType::VarChar(8000);
    if (type.kind == TypeKind::kNText) type = SqlType::NVarChar(4000);
    return text_result(
        "tsql_" + Lower(name) + "(" + a.sql + ", " + Expression(*call.args[1], scope).sql + ")",
        type);
  }
  if (name == "SUBSTRING") {
    need(3, 3);
    TypedSql a = Expression(*call.args[0], scope);
    SqlType type = a.type;
    if (type.kind == TypeKind::kText || !type.IsCharacter()) type = SqlType::VarChar(8000);
    if (type.kind == TypeKind::kNText) type = SqlType::NVarChar(4000);
    if (a.type.IsBinary()) type = SqlType{TypeKind::kVarBinary, 8000};
    return text_result("tsql_substring(" + a.sql + ", " + Expression(*call.args[1], scope).sql +
                           ", " + Expression(*call.args[2], scope).sql + ")",
                       type);
  }
  if (name == "UPPER" || name == "LOWER" || name == "LTRIM" || name == "RTRIM") {
    need(1, 1);
    TypedSql a = Expression(*call.args[0], scope);
    SqlType type = a.type.IsCharacter() ? a.type : SqlType::VarChar(8000);
    if (name == "LTRIM") return text_result("ltrim(" + a.sql + ", ' ')", type);
    if (name == "RTRIM") return text_result("rtrim(" + a.sql + ", ' ')", type);
    return text_result("tsql_" + Lower(name) + "(" + a.sql + ")", type);
  }
  if (name == "REPLACE") {
    need(3, 3);
    std::vector<TypedSql> list = args();
    SqlType type = list[0].type.IsUnicode() ? SqlType::NVarChar(4000) : SqlType::VarChar(8000);
    return text_result(
        "tsql_replace(" + list[0].sql + ", " + list[1].sql + ", " + list[2].sql + ")", type);
  }
  if (name == "ASCII" || name == "UNICODE") {
    need(1, 1);
    return text_result("unicode(" + Expression(*call.args[0], scope).sql + ")", SqlType::Int());
  }
  if (name == "CHAR" || name == "NCHAR") {
    need(1, 1);
    return text_result("char(" + Expression(*call.args[0], scope).sql + ")",
                       name == "CHAR" ? SqlType{TypeKind::kChar, 1} : SqlType{TypeKind::kNChar, 1});
  }
  if (name == "ABS") {
    need(1, 1);
    TypedSql a = Expression(*call.args[0], scope);
    return text_result(IntegerChecked("abs(" + a.sql + ")", a.type), a.type);
  }
  if (name == "ROUND") {
    need(2, 3);
    std::vector<TypedSql> list = args();
    // The result keeps the argument's type, decimal places included: ROUND(123.4567, 2) is
    // 123.4600, and a carry that outgrows the precision is an overflow.
    const SqlType& type = list[0].type;
    int precision = 0, scale = 0;
    if (type.kind == TypeKind::kDecimal || type.kind == TypeKind::kNumeric) {
      precision = type.precision;
      scale = type.scale;
    } else if (type.kind == TypeKind::kMoney || type.kind == TypeKind::kSmallMoney) {
      precision = 19;
      scale = 4;
    } else if (type.IsInteger()) {
      precision = 19;
    }
    std::string function = list.size() > 2 ? list[2].sql : "0";
    return text_result(
        IntegerChecked("tsql_round(" + list[0].sql + ", " + list[1].sql + ", " + function + ", " +
                           std::to_string(precision) + ", " + std::to_string(scale) + ")",
                       type),
        type);
  }
  if (name == "POWER") {
    need(2, 2);
    std::vector<TypedSql> list = args();
    return text_result(
        IntegerChecked("tsql_power(" + list[0].sql + ", " + list[1].sql + ")", list[0].type),
        list[0].type);
  }
  if (name == "GETDATE" || name == "CURRENT_TIMESTAMP") {
    if (!call.niladic) need(0, 0);
    out.nullable = false;
    return text_result("tsql_getdate()", SqlType::DateTimeType());
  }
  if (name == "GETUTCDATE") {
    need(0, 0);
    return text_result("strftime('%Y-%m-%d %H:%M:%f', 'now')", SqlType::DateTimeType());
  }
  if (name == "DATEADD") {
    need(3, 3);
    return text_result("tsql_dateadd(" + date_part(*call.args[0]) + ", " +
                           Expression(*call.args[1], scope).sql + ", " +
                           Expression(*call.args[2], scope).sql + ")",
                       SqlType::DateTimeType());
  }
  if (name == "DATEDIFF") {
    need(3, 3);
    return text_result("tsql_datediff(" + date_part(*call.args[0]) + ", " +
                           Expression(*call.args[1], scope).sql + ", " +
                           Expression(*call.args[2], scope).sql + ")",
                       SqlType::Int());
  }
  if (name == "DATEPART" || name == "DATENAME") {
    need(2, 2);
    std::string sql = (name == "DATENAME" ? "tsql_datename(" : "tsql_datepart(") +
                      date_part(*call.args[0]) + ", " + Expression(*call.args[1], scope).sql + ")";
    if (name == "DATENAME") return text_result(sql, SqlType::NVarChar(30));
    return text_result(sql, SqlType::Int());
  }
  if (name == "YEAR" || name == "MONTH" || name == "DAY") {
    need(1, 1);
    return text_result(
        "tsql_datepart('" + Lower(name) + "', " + Expression(*call.args[0], scope).sql + ")",
        SqlType::Int());
  }
  if (name == "ISDATE" || name == "ISNUMERIC") {
    need(1, 1);
    return text_result(SystemCall(name, args()), SqlType::Int());
  }
  // Names of the session: fixed for the statement, so they go in as values.
  if ((name == "DB_NAME" && call.args.empty())) {
    return text_result(Bind(Value(resolver_.CurrentDatabaseName())), SqlType::NVarChar(128));
  }
  if ((name == "USER_NAME" && call.args.empty()) || name == "USER" || name == "CURRENT_USER" ||
      name == "SESSION_USER") {
    return text_result(Bind(Value(resolver_.CurrentUserName())), SqlType::NVarChar(128));
  }
  if (((name == "SUSER_SNAME" || name == "SUSER_NAME") && call.args.empty()) ||
      name == "SYSTEM_USER") {
    return text_result(Bind(Value(resolver_.LoginName())), SqlType::NVarChar(128));
  }
  if (name == "HOST_NAME" || name == "APP_NAME") need(0, 0);
  if (name == "HOST_NAME")
    return text_result(Bind(Value(resolver_.HostName())), SqlType::NVarChar(128));
  if (name == "APP_NAME")
    return text_result(Bind(Value(resolver_.ApplicationName())), SqlType::NVarChar(128));
  if (name == "SCOPE_IDENTITY") {
    auto id = resolver_.ScopeIdentity();
    return text_result(id ? std::to_string(*id) : "NULL", SqlType{TypeKind::kNumeric, 0, 38, 0});
  }
  if (name == "CURSOR_STATUS") {
    need(2, 2);
    // Cursors live in the interpreter: the arguments are read now, as a literal or a variable.
    auto constant = [&](const Expr& e) -> std::string {
      if (e.kind == Expr::Kind::kLiteral) return e.As<tsql::Literal>().text;
      VariableSlot* v =
          e.kind == Expr::Kind::kVariable ? resolver_.FindVariable(e.As<Variable>().name) : nullptr;
      if (!v) throw errors::Unsupported("CURSOR_STATUS of an expression");
      return v->value.ToText();
    };
    auto status = resolver_.CursorStatus(constant(*call.args[0]), constant(*call.args[1]));
    return text_result(std::to_string(status.value_or(-3)), SqlType{TypeKind::kSmallInt});
  }
  struct SystemFunction {
    const char* name;
    SqlType type;
    size_t low, high;
  };
  static const SystemFunction kSystem[] = {
      {"DB_NAME", SqlType::NVarChar(128), 1, 1},
      {"DB_ID", SqlType{TypeKind::kSmallInt}, 0, 1},
      {"USER_NAME", SqlType::NVarChar(256), 1, 1},
      {"USER_ID", SqlType{TypeKind::kSmallInt}, 0, 1},
      {"SUSER_SNAME", SqlType::NVarChar(128), 1, 1},
      {"SUSER_NAME", SqlType::NVarChar(128), 1, 1},
      {"SUSER_SID", SqlType{TypeKind::kVarBinary, 85}, 0, 1},
      {"SUSER_ID", SqlType::Int(), 0, 1},
      {"OBJECT_ID", SqlType::Int(), 1, 1},
      {"OBJECT_NAME", SqlType::NVarChar(128), 1, 1},
      {"OBJECTPROPERTY", SqlType::Int(), 2, 2},
      {"COLUMNPROPERTY", SqlType::Int(), 3, 3},
      {"COL_LENGTH", SqlType{TypeKind::kSmallInt}, 2, 2},
      {"COL_NAME", SqlType::NVarChar(128), 2, 2},
      {"INDEXPROPERTY", SqlType::Int(), 3, 3},
      {"FILE_NAME", SqlType::NVarChar(128), 1, 1},
      {"FILE_ID", SqlType{TypeKind::kSmallInt}, 1, 1},
      {"FILEPROPERTY", SqlType::Int(), 2, 2},
      {"FILEGROUP_NAME", SqlType::NVarChar(128), 1, 1},
      {"FILEGROUP_ID", SqlType{TypeKind::kSmallInt}, 1, 1},
      {"IS_MEMBER", SqlType::Int(), 1, 1},
      {"IS_SRVROLEMEMBER", SqlType::Int(), 1, 2},
      {"HAS_DBACCESS", SqlType::Int(), 1, 1},
      {"SERVERPROPERTY", SqlType{TypeKind::kSqlVariant}, 1, 1},
      {"DATABASEPROPERTY", SqlType::Int(), 2, 2},
      {"DATABASEPROPERTYEX", SqlType{TypeKind::kSqlVariant}, 2, 2},
      {"FULLTEXTSERVICEPROPERTY", SqlType::Int(), 1, 1},
      {"FULLTEXTCATALOGPROPERTY", SqlType::Int(), 2, 2},
      {"IDENT_CURRENT", SqlType{TypeKind::kNumeric, 0, 38, 0}, 1, 1},
      {"IDENT_SEED", SqlType{TypeKind::kNumeric, 0, 38, 0}, 1, 1},
      {"IDENT_INCR", SqlType{TypeKind::kNumeric, 0, 38, 0}, 1, 1},
      {"PERMISSIONS", SqlType::Int(), 0, 2},
  };
  for (const SystemFunction& f : kSystem) {
    if (name != f.name) continue;
    need(f.low, f.high);
    return text_result(SystemCall(name, args()), f.type);
  }
  throw NotRecognisedFunction(call.name.name);
}

TypedSql Translator::Expression(const Expr& expr, const Scope* scope) {
  // Counted where the parser counts nesting, so whatever it accepted translates; chains are
  // walked in loops and do not count.
  std::optional<NestingGuard> guard;
  switch (expr.kind) {
    case Expr::Kind::kUnary:
    case Expr::Kind::kFunction:
    case Expr::Kind::kCase:
    case Expr::Kind::kCast:
    case Expr::Kind::kConvert:
    case Expr::Kind::kIn:
      guard.emplace(depth_);
      if (guard->TooDeep()) throw TooDeep();
      break;
    case Expr::Kind::kLiteral:
    case Expr::Kind::kColumn:
    case Expr::Kind::kVariable:
    case Expr::Kind::kGlobalVariable:
    case Expr::Kind::kBinary:
    case Expr::Kind::kLike:
    case Expr::Kind::kBetween:
    case Expr::Kind::kExists:
    case Expr::Kind::kIsNull:
    case Expr::Kind::kSubquery:
    case Expr::Kind::kContains:
    case Expr::Kind::kCollate:
    case Expr::Kind::kDefault:
    case Expr::Kind::kParameterMarker:
      break;
  }
  switch (expr.kind) {
    case Expr::Kind::kLiteral:
      return Literal(expr.As<tsql::Literal>());
    case Expr::Kind::kColumn:
      return Column(expr.As<ColumnRef>(), scope);
    case Expr::Kind::kVariable: {
      const std::string& name = expr.As<Variable>().name;
      if (view_dbid_) throw errors::Raise<1050>();
      VariableSlot* slot = resolver_.FindVariable(name);
      if (!slot) throw errors::UndeclaredVariable(name);
      TypedSql out;
      out.sql = Bind(slot->value);
      if (live_) {
        live_->Add(static_cast<int>(params_.size()), slot);
        out.sql = "tsql_variable(" + out.sql + ")";
      }
      out.type = slot->type;
      return out;
    }
    case Expr::Kind::kGlobalVariable: {
      const std::string& name = expr.As<GlobalVariable>().name;
      auto value = resolver_.GlobalVariable(Upper(name));
      if (!value) throw errors::UndeclaredVariable(name);
      TypedSql out;
      out.sql = Bind(value->first);
      out.type = value->second;
      return out;
    }
    case Expr::Kind::kParameterMarker: {
      const int index = expr.As<tsql::ParameterMarker>().index;
      auto value = resolver_.ParameterMarker(index);
      // The declarations are the client's: its driver names the markers @P1, @P2, ...
      if (!value) throw errors::Raise<8178>("", "", "@P" + std::to_string(index + 1));
      TypedSql out;
      out.sql = Bind(*value);
      out.type = TypeOfClientValue(*value);
      if (value->type() == Value::Type::kNull) out.type = SqlType::NVarChar(4000);
      return out;
    }
    case Expr::Kind::kUnary: {
      const UnaryExpr& u = expr.As<UnaryExpr>();
      if (u.op == UnaryOp::kNot) {
        TypedSql out;
        out.type = SqlType::Bit();
        out.sql = "(NOT " + Condition(*u.operand, scope) + ")";
        return out;
      }
      TypedSql operand = Expression(*u.operand, scope);
      if (u.op == UnaryOp::kNegate) {
        // The negation of a type's minimum is out of its range.
        bool safe = operand.is_literal && operand.literal && operand.literal->int_value > 0;
        operand.sql = "(-" + operand.sql + ")";
        if (!safe) operand.sql = IntegerChecked(operand.sql, operand.type);
      }
      if (u.op == UnaryOp::kBitNot) operand.sql = "(~" + operand.sql + ")";
      operand.is_column = false;
      operand.is_literal = false;
      return operand;
    }
    case Expr::Kind::kBinary:
      return Binary(expr.As<BinaryExpr>(), scope);
    case Expr::Kind::kLike: {
      const LikeExpr& like = expr.As<LikeExpr>();
      TypedSql value = Expression(*like.value, scope);
      TypedSql pattern = Expression(*like.pattern, scope);
      TypedSql out;
      out.type = SqlType::Bit();
      // Trailing blanks of the value need not match when neither side is Unicode.
      if (value.type.IsCharacter() && !value.type.IsUnicode() && !pattern.type.IsUnicode()) {
        out.sql = std::string(like.negated ? "(NOT " : "(") + "tsql_like_ansi(" + pattern.sql +
                  ", " + value.sql;
        if (like.escape) out.sql += ", " + Expression(*like.escape, scope).sql;
        out.sql += "))";
        return out;
      }
      out.sql = "(" + value.sql + (like.negated ? " NOT LIKE " : " LIKE ") + pattern.sql;
      if (like.escape) out.sql += " ESCAPE " + Expression(*like.escape, scope).sql;
      out.sql += ")";
      return out;
    }
    case Expr::Kind::kBetween: {
      const BetweenExpr& b = expr.As<BetweenExpr>();
      TypedSql value = Expression(*b.value, scope);
      TypedSql low = Expression(*b.low, scope);
      TypedSql high = Expression(*b.high, scope);
      TypedSql v1 = value, v2 = value;
      Harmonise(v1, low);
      Harmonise(v2, high);
      std::string v = low.collation_stated || high.collation_stated ? value.sql : Collated(value);
      TypedSql out;
      out.type = SqlType::Bit();
      out.sql = "(" + v + (b.negated ? " NOT BETWEEN " : " BETWEEN ") + low.sql + " AND " +
                high.sql + ")";
      return out;
    }
    case Expr::Kind::kIn: {
      const InExpr& in = expr.As<InExpr>();
      TypedSql value = Expression(*in.value, scope);
      std::string v = Collated(value);
      std::string list;
      if (in.subquery) {
        Translation sub = Query(*in.subquery, scope);
        list = sub.sql;
      } else {
        for (const ExprPtr& item : in.list) {
          TypedSql t = Expression(*item, scope);
          TypedSql copy = value;
          Harmonise(copy, t);
          list += (list.empty() ? "" : ", ") + t.sql;
        }
      }
      TypedSql out;
      out.type = SqlType::Bit();
      out.sql = "(" + v + (in.negated ? " NOT IN (" : " IN (") + list + "))";
      return out;
    }
    case Expr::Kind::kExists: {
      Translation sub = Query(*expr.As<ExistsExpr>().subquery, scope);
      TypedSql out;
      out.type = SqlType::Bit();
      out.sql = "EXISTS (" + sub.sql + ")";
      return out;
    }
    case Expr::Kind::kIsNull: {
      const IsNullExpr& n = expr.As<IsNullExpr>();
      TypedSql out;
      out.type = SqlType::Bit();
      out.sql = "(" + Expression(*n.value, scope).sql + (n.negated ? " IS NOT NULL)" : " IS NULL)");
      return out;
    }
    case Expr::Kind::kCase: {
      const CaseExpr& c = expr.As<CaseExpr>();
      TypedSql out;
      out.sql = "CASE";
      std::optional<TypedSql> operand;
      if (c.operand) operand = Expression(*c.operand, scope);
      bool typed = false;
      for (const CaseExpr::When& w : c.whens) {
        std::string condition;
        if (operand) {
          condition = Comparison("=", *operand, Expression(*w.condition, scope)).sql;
        } else {
          condition = Condition(*w.condition, scope);
        }
        TypedSql result = Expression(*w.result, scope);
        if (!result.is_null) {
          out.type = typed ? Higher(out.type, result.type) : result.type;
          typed = true;
        }
        out.sql += " WHEN " + condition + " THEN " + result.sql;
      }
      if (c.else_result) {
        TypedSql result = Expression(*c.else_result, scope);
        if (!result.is_null) out.type = typed ? Higher(out.type, result.type) : result.type;
        out.sql += " ELSE " + result.sql;
      }
      out.sql += " END";
      return out;
    }
    case Expr::Kind::kCast: {
      const CastExpr& c = expr.As<CastExpr>();
      TypedSql value = Expression(*c.value, scope);
      TypedSql out;
      out.type = ResolveType(c.type, true, resolver_.MajorVersion());
      out.sql = ConvertSql(value, out.type, Fit::kCut);
      return out;
    }
    case Expr::Kind::kConvert: {
      const ConvertExpr& c = expr.As<ConvertExpr>();
      TypedSql value = Expression(*c.value, scope);
      // The style may be any integer expression; a NULL style makes the result NULL.
      std::string style = "0";
      if (c.style) style = Expression(*c.style, scope).sql;
      TypedSql out;
      out.type = ResolveType(c.type, true, resolver_.MajorVersion());
      out.sql = ConvertSql(value, out.type, Fit::kCut, style);
      return out;
    }
    case Expr::Kind::kFunction:
      return Function(expr.As<FunctionCall>(), scope);
    case Expr::Kind::kSubquery: {
      Translation sub = Query(*expr.As<SubqueryExpr>().query, scope, true);
      if (sub.columns.size() > 1) throw errors::Raise<116>();
      TypedSql out;
      // SQLite would take the first row; SQL Server refuses a second one. Two rows at most are
      // read to know.
      out.sql =
          "(SELECT CASE WHEN count(*) > 1 THEN tsql_many_rows() ELSE max(\"c1\") END FROM "
          "(SELECT \"c1\" FROM (" +
          sub.sql + ") LIMIT 2))";
      if (!sub.columns.empty()) out.type = sub.columns[0].type;
      return out;
    }
    case Expr::Kind::kContains: {
      const ContainsExpr& c = expr.As<ContainsExpr>();
      TypedSql search = Expression(*c.search, scope);
      const SourceBinding* source = nullptr;
      std::vector<std::string> columns;
      for (const ExprPtr& column : c.columns) {
        TypedSql resolved = Column(column->As<ColumnRef>(), scope);
        const SourceBinding* owner = nullptr;
        for (const Scope* s = scope; s && !owner; s = s->outer)
          for (const SourceBinding& b : s->sources)
            if (resolved.sql.rfind(QuoteIdentifier(b.sql_alias) + ".", 0) == 0) owner = &b;
        if (!owner) throw errors::Raise<7601>("column", column->As<ColumnRef>().column);
        if (source && source != owner) throw errors::Raise<7646>(source->exposed, owner->exposed);
        source = owner;
        columns.push_back(resolved.base.name.empty() ? column->As<ColumnRef>().column
                                                     : resolved.base.name);
      }
      if (c.columns.empty()) {
        if (!scope || scope->sources.size() != 1) throw errors::Raise<7615>();
        source = &scope->sources[0];
      }
      TypedSql out;
      out.type = SqlType::Bit();
      out.sql =
          resolver_.FullTextPredicate(*source, columns, search.sql, c.freetext, view_dbid_ != 0);
      return out;
    }
    case Expr::Kind::kCollate: {
      std::vector<const CollateExpr*> chain{&expr.As<CollateExpr>()};
      while (chain.back()->value->kind == Expr::Kind::kCollate)
        chain.push_back(&chain.back()->value->As<CollateExpr>());
      TypedSql value = Expression(*chain.back()->value, scope);
      // The outermost clause decides; SQLite reads one COLLATE.
      std::string upper = Upper(chain.front()->collation);
      bool binary =
          upper.find("_CS") != std::string::npos || upper.find("BIN") != std::string::npos;
      value.sql = "(" + value.sql + (binary ? " COLLATE tsql_bin)" : " COLLATE tsql_ci)");
      value.is_column = true;
      value.collation_stated = true;
      return value;
    }
    case Expr::Kind::kDefault:
      throw errors::Raise<156>("DEFAULT");
  }
  throw errors::Unsupported("this expression");
}

// --- FROM --------------------------------------------------------------------------------

std::string Translator::AddTable(const ResolvedTable& table, const std::string& alias, Scope& scope,
                                 bool expose_rowid) {
  SourceBinding binding;
  binding.exposed = alias.empty() ? table.name : alias;
  binding.aliased = !alias.empty();
  binding.table_name = table.name;
  binding.owner = table.owner;
  binding.database = table.database;
  binding.sql_alias = NewAlias();
  binding.columns = table.columns;
  binding.object = table.object;
  binding.kind = table.kind;
  if (view_dbid_ && (table.kind == ResolvedTable::Kind::kTemp || table.dbid != view_dbid_))
    throw errors::Raise<4508>();
  std::string sql;
  if (table.kind == ResolvedTable::Kind::kSystem || !expose_rowid ||
      table.kind == ResolvedTable::Kind::kView) {
    sql = table.sql + " AS " + QuoteIdentifier(binding.sql_alias);
    if (table.kind == ResolvedTable::Kind::kTable || table.kind == ResolvedTable::Kind::kTemp)
      binding.rowid_sql = QuoteIdentifier(binding.sql_alias) + ".rowid";
  } else {
    // Inside nested joins SQLite cannot reach a table's rowid, so the target of UPDATE and
    // DELETE brings it along as a column.
    sql = "(SELECT rowid AS \"$rowid\", * FROM " + table.sql + ") AS " +
          QuoteIdentifier(binding.sql_alias);
    binding.rowid_sql = QuoteIdentifier(binding.sql_alias) + ".\"$rowid\"";
  }
  scope.sources.push_back(std::move(binding));
  return sql;
}

std::string Translator::Source(const TableSource& source, Scope& scope, const std::string* target,
                               bool top_level) {
  switch (source.kind) {
    case TableSource::Kind::kTable: {
      const TableRef& ref = source.As<TableRef>();
      ResolvedTable table =
          ref.call ? resolver_.ResolveTableFunction(ref) : resolver_.ResolveTable(ref.name);
      resolver_.CheckRead(table);
      std::string exposed = ref.alias.empty() ? table.name : ref.alias;
      bool is_target = target && EqualsNoCase(exposed, *target);
      std::string sql = AddTable(table, ref.alias, scope, is_target);
      if (view_dbid_ && table.kind != ResolvedTable::Kind::kSystem) {
        // Views live in their database's file and name its tables without a schema.
        size_t as = sql.rfind(" AS ");
        std::string name = QuoteIdentifier(table.object ? table.object->storage_name : table.name);
        sql = name + sql.substr(as);
      }
      return sql;
    }
    case TableSource::Kind::kDerived: {
      const DerivedTable& d = source.As<DerivedTable>();
      Translation sub = Query(*d.query, scope.outer, true);
      SourceBinding binding;
      binding.exposed = d.alias;
      binding.aliased = true;
      binding.sql_alias = NewAlias();
      binding.columns = sub.columns;
      for (size_t i = 0; i < d.column_aliases.size() && i < binding.columns.size(); ++i)
        binding.columns[i].name = d.column_aliases[i];
      for (OutputColumn& c : binding.columns) c.base_table.clear();
      binding.kind = ResolvedTable::Kind::kView;
      binding.derived = true;
      std::string sql = "(" + sub.sql + ") AS " + QuoteIdentifier(binding.sql_alias);
      scope.sources.push_back(std::move(binding));
      return sql;
    }
    case TableSource::Kind::kJoin: {
      // Join chains are left-deep: walked in a loop, one link at a time.
      std::vector<const Join*> chain{&source.As<Join>()};
      while (chain.back()->left->kind == TableSource::Kind::kJoin)
        chain.push_back(&chain.back()->left->As<Join>());
      std::string sql = Source(*chain.back()->left, scope, target, top_level);
      for (auto link = chain.rbegin(); link != chain.rend(); ++link)
        sql = JoinLink(**link, std::move(sql), scope, target);
      return sql;
    }
  }
  return {};
}

std::string Translator::JoinLink(const Join& join, std::string left, Scope& scope,
                                 const std::string* target) {
  std::string right = Source(*join.right, scope, target, false);
  if (join.right->kind == TableSource::Kind::kJoin) right = "(" + right + ")";
  // SQLite learnt RIGHT and FULL joins in 3.39.
  if ((join.type == JoinType::kRight || join.type == JoinType::kFull) &&
      sqlite3_libversion_number() < 3039000)
    throw errors::Unsupported(std::string(join.type == JoinType::kRight ? "RIGHT" : "FULL") +
                              " JOIN with SQLite " + sqlite3_libversion());
  const char* kind = "INNER JOIN";
  switch (join.type) {
    case JoinType::kInner:
      kind = "INNER JOIN";
      break;
    case JoinType::kLeft:
      kind = "LEFT JOIN";
      break;
    case JoinType::kRight:
      kind = "RIGHT JOIN";
      break;
    case JoinType::kFull:
      kind = "FULL JOIN";
      break;
    case JoinType::kCross:
      kind = "CROSS JOIN";
      break;
  }
  std::string sql = std::move(left) + " " + kind + " " + right;
  if (join.on) sql += " ON " + Condition(*join.on, &scope);
  return sql;
}

std::string Translator::From(const std::vector<TableSourcePtr>& from, Scope& scope,
                             const std::string* target) {
  std::string sql;
  for (const TableSourcePtr& source : from) {
    if (!sql.empty()) sql += ", ";
    sql += Source(*source, scope, target, true);
  }
  return sql;
}

// --- queries -----------------------------------------------------------------------------

std::string Translator::OrderBy(const std::vector<OrderItem>& order, const Scope* scope,
                                const std::vector<OutputColumn>& columns,
                                const std::vector<std::string>& aliases) {
  std::string sql;
  for (const OrderItem& item : order) {
    std::string term;
    const Expr& e = *item.expr;
    if (e.kind == Expr::Kind::kLiteral &&
        e.As<tsql::Literal>().type == tsql::Literal::Type::kInteger) {
      std::int64_t n = e.As<tsql::Literal>().int_value;
      if (n < 1 || n > static_cast<std::int64_t>(columns.size())) throw errors::Raise<108>(n);
      term = std::to_string(n);
    } else if (e.kind == Expr::Kind::kColumn && e.As<ColumnRef>().table.empty()) {
      const std::string& name = e.As<ColumnRef>().column;
      for (size_t i = 0; i < aliases.size(); ++i)
        if (!aliases[i].empty() && EqualsNoCase(aliases[i], name)) term = std::to_string(i + 1);
    }
    if (term.empty()) {
      if (scope) {
        try {
          term = Collated(Expression(e, scope));
        } catch (const SqlError& error) {
          if (error.number() != 207 && error.number() != 107) throw;
        }
      }
      if (term.empty() && e.kind == Expr::Kind::kColumn) {
        // A union orders by the names of its result columns.
        const std::string& name = e.As<ColumnRef>().column;
        for (size_t i = 0; i < columns.size(); ++i)
          if (EqualsNoCase(columns[i].name, name)) {
            term = std::to_string(i + 1);
            break;
          }
      }
      if (term.empty()) {
        if (!scope)
          throw errors::InvalidColumn(e.kind == Expr::Kind::kColumn ? e.As<ColumnRef>().column
                                                                    : "");
        term = Collated(Expression(e, scope));
      }
    }
    sql += (sql.empty() ? "" : ", ") + term + (item.descending ? " DESC" : "");
  }
  return sql;
}

Translator::SpecResult Translator::TranslateSpec(const QuerySpec& query_spec, const Scope* outer,
                                                 bool alias_outputs, std::int64_t row_limit,
                                                 bool allow_order,
                                                 const std::vector<OrderItem>* order) {
  SpecResult result;
  result.scope.outer = outer;
  std::string from;
  std::string old_style_where;
  const bool old_style = query_spec.where && HasOuterJoinOperator(*query_spec.where);
  if (old_style) {
    from = OldStyleJoins(query_spec, result.scope, old_style_where);
  } else if (!query_spec.from.empty()) {
    from = From(query_spec.from, result.scope);
  }
  std::string items;
  auto add = [&](const std::string& sql, OutputColumn column, const std::string& variable,
                 const std::string& alias, bool collation_stated = false) {
    size_t n = result.columns.size() + 1;
    // DISTINCT compares its rows' text as = does.
    TypedSql item;
    item.sql = sql;
    item.type = column.type;
    item.collation_stated = collation_stated;
    items += (items.empty() ? "" : ", ") + (query_spec.distinct ? Collated(item) : sql);
    if (alias_outputs) items += " AS \"c" + std::to_string(n) + "\"";
    result.columns.push_back(std::move(column));
    result.assignments.push_back(variable);
    result.item_aliases.push_back(alias);
  };
  for (const SelectItem& item : query_spec.items) {
    switch (item.kind) {
      case SelectItem::Kind::kStar:
      case SelectItem::Kind::kTableStar: {
        bool any = false;
        for (const SourceBinding& source : result.scope.sources) {
          if (item.kind == SelectItem::Kind::kTableStar && !MatchesQualifier(source, item.table))
            continue;
          any = true;
          for (size_t i = 0; i < source.columns.size(); ++i) {
            const OutputColumn& c = source.columns[i];
            std::string sql = QuoteIdentifier(source.sql_alias) + ".";
            sql += source.derived ? "\"c" + std::to_string(i + 1) + "\"" : QuoteIdentifier(c.name);
            add(sql, c, "", "");
          }
        }
        if (!any) {
          if (item.kind == SelectItem::Kind::kStar) throw errors::Raise<263>();
          throw errors::Raise<107>(item.table.ToString());
        }
        break;
      }
      case SelectItem::Kind::kExpr:
      case SelectItem::Kind::kAssignment: {
        TypedSql t = Expression(*item.expr, &result.scope);
        OutputColumn column;
        if (t.is_column) {
          column = t.base;
        }
        column.name = ItemName(item);
        column.type = t.type;
        column.nullable = t.nullable;
        if (!item.alias.empty() || !t.is_column) {
          if (!t.is_column) {
            column.base_table.clear();
            column.base_column.clear();
            column.key = false;
            column.identity = false;
          }
        }
        add(t.sql, column, item.kind == SelectItem::Kind::kAssignment ? item.variable : "",
            item.alias, t.collation_stated);
        break;
      }
    }
  }
  // Assignments follow the rows' order, but SQLite computes result columns before it sorts: a
  // window's sort comes first, then the columns, row by row.
  std::string order_sql;
  // (ORDER BY a position sorts by an assigned value: that order is SQLite's own.)
  const bool by_position =
      order && std::any_of(order->begin(), order->end(), [](const OrderItem& item) {
        return item.expr->kind == Expr::Kind::kLiteral &&
               item.expr->As<tsql::Literal>().type == tsql::Literal::Type::kInteger;
      });
  const bool assigning = !query_spec.distinct && !by_position && !result.assignments.empty() &&
                         !result.assignments.front().empty();
  if (allow_order && order && !order->empty())
    order_sql = assigning ? OrderBy(*order, &result.scope, {}, {})
                          : OrderBy(*order, &result.scope, result.columns, result.item_aliases);
  if (assigning && !order_sql.empty()) items += ", row_number() OVER (ORDER BY " + order_sql + ")";
  std::string sql = std::string("SELECT ") + (query_spec.distinct ? "DISTINCT " : "") + items;
  if (!from.empty()) sql += " FROM " + from;
  if (old_style) {
    if (!old_style_where.empty()) sql += " WHERE " + old_style_where;
  } else if (query_spec.where) {
    sql += " WHERE " + Condition(*query_spec.where, &result.scope);
  }
  if (!query_spec.group_by.empty()) {
    std::string group;
    for (const ExprPtr& e : query_spec.group_by)
      group += (group.empty() ? "" : ", ") + Collated(Expression(*e, &result.scope));
    sql += " GROUP BY " + group;
  }
  if (query_spec.having) sql += " HAVING " + Condition(*query_spec.having, &result.scope);
  if (!order_sql.empty() && !assigning) sql += " ORDER BY " + order_sql;
  std::string limit;
  if (query_spec.top) {
    TypedSql top = Expression(*query_spec.top, outer);
    if (query_spec.top_percent) {
      limit = "(SELECT CAST((count(*) * (" + top.sql + ") + 99.9999) / 100 AS INTEGER) FROM (" +
              sql + "))";
    } else {
      limit = top.sql;
    }
  }
  if (row_limit > 0)
    limit = limit.empty() ? std::to_string(row_limit)
                          : "min(" + limit + ", " + std::to_string(row_limit) + ")";
  if (!limit.empty()) sql += " LIMIT " + limit;
  result.sql = std::move(sql);
  return result;
}

std::string Translator::QueryBody(const tsql::Query& query, const Scope* outer, bool alias_outputs,
                                  std::vector<OutputColumn>& columns,
                                  std::vector<std::string>& assignments,
                                  std::vector<std::string>& aliases) {
  if (query.kind == tsql::Query::Kind::kSpec) {
    SpecResult query_spec =
        TranslateSpec(query.As<QuerySpec>(), outer, alias_outputs, 0, false, nullptr);
    columns = query_spec.columns;
    assignments = query_spec.assignments;
    aliases = query_spec.item_aliases;
    // A SELECT with TOP or ORDER BY inside a union keeps them in a sub-select of its own.
    if (query.As<QuerySpec>().top) return "SELECT * FROM (" + query_spec.sql + ")";
    return query_spec.sql;
  }
  // UNION chains are left-deep: the first SELECT fixes the columns, each link adds one.
  std::vector<const UnionQuery*> chain{&query.As<UnionQuery>()};
  while (chain.back()->left->kind == tsql::Query::Kind::kUnion)
    chain.push_back(&chain.back()->left->As<UnionQuery>());
  std::string sql =
      QueryBody(*chain.back()->left, outer, alias_outputs, columns, assignments, aliases);
  for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
    const UnionQuery& u = **link;
    std::vector<OutputColumn> right_columns;
    std::vector<std::string> right_assignments, right_aliases;
    std::string right =
        QueryBody(*u.right, outer, alias_outputs, right_columns, right_assignments, right_aliases);
    if (right_columns.size() != columns.size()) throw errors::Raise<205>();
    for (size_t i = 0; i < columns.size(); ++i) {
      columns[i].type = Higher(columns[i].type, right_columns[i].type);
      columns[i].nullable = columns[i].nullable || right_columns[i].nullable;
      columns[i].base_table.clear();
      columns[i].base_column.clear();
      columns[i].key = false;
    }
    sql += (u.all ? " UNION ALL " : " UNION ") + right;
  }
  return sql;
}

Translation Translator::Query(const tsql::Query& query, const Scope* outer, bool alias_outputs,
                              std::int64_t row_limit) {
  NestingGuard guard(depth_);
  if (guard.TooDeep()) throw TooDeep();
  Translation out;
  if (query.kind == tsql::Query::Kind::kSpec) {
    SpecResult query_spec = TranslateSpec(query.As<QuerySpec>(), outer, alias_outputs, row_limit,
                                          true, &query.order_by);
    out.sql = std::move(query_spec.sql);
    out.columns = std::move(query_spec.columns);
    out.assignments = std::move(query_spec.assignments);
    return out;
  }
  std::vector<std::string> aliases;
  out.sql = QueryBody(query, outer, alias_outputs, out.columns, out.assignments, aliases);
  if (!query.order_by.empty())
    out.sql += " ORDER BY " + OrderBy(query.order_by, nullptr, out.columns, aliases);
  if (row_limit > 0) out.sql += " LIMIT " + std::to_string(row_limit);
  return out;
}

}  // namespace sandbox
