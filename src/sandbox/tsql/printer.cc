#include "sandbox/tsql/printer.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "sandbox/tsql/lexer.h"
#include "sandbox/tsql/limits.h"
#include "sandbox/tsql/parser.h"

namespace sandbox::tsql {
namespace {

// Binding strength, loosest first; a child binding more loosely than its parent needs
// parentheses.
enum Precedence { kOr = 1, kAnd, kNot, kPredicate, kAdditive, kMultiplicative, kUnary, kPrimary };

int PrecedenceOf(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::kBinary:
      switch (e.As<BinaryExpr>().op) {
        case BinaryOp::kOr:
          return kOr;
        case BinaryOp::kAnd:
          return kAnd;
        case BinaryOp::kMultiply:
        case BinaryOp::kDivide:
        case BinaryOp::kModulo:
          return kMultiplicative;
        case BinaryOp::kAdd:
        case BinaryOp::kSubtract:
        case BinaryOp::kBitAnd:
        case BinaryOp::kBitOr:
        case BinaryOp::kBitXor:
          return kAdditive;
        case BinaryOp::kEqual:
        case BinaryOp::kNotEqual:
        case BinaryOp::kLess:
        case BinaryOp::kGreater:
        case BinaryOp::kLessEqual:
        case BinaryOp::kGreaterEqual:
        case BinaryOp::kNotLess:
        case BinaryOp::kNotGreater:
          return kPredicate;
      }
      break;
    case Expr::Kind::kUnary:
      return e.As<UnaryExpr>().op == UnaryOp::kNot ? kNot : kUnary;
    case Expr::Kind::kLiteral: {
      // A negative number prints with its sign, like a unary minus.
      const auto& l = e.As<Literal>();
      return !l.text.empty() && l.text[0] == '-' && l.type != Literal::Type::kString &&
                     l.type != Literal::Type::kUnicodeString && l.type != Literal::Type::kBinary
                 ? kUnary
                 : kPrimary;
    }
    case Expr::Kind::kLike:
    case Expr::Kind::kBetween:
    case Expr::Kind::kIn:
    case Expr::Kind::kIsNull:
      return kPredicate;
    case Expr::Kind::kColumn:
    case Expr::Kind::kVariable:
    case Expr::Kind::kGlobalVariable:
    case Expr::Kind::kExists:
    case Expr::Kind::kCase:
    case Expr::Kind::kCast:
    case Expr::Kind::kConvert:
    case Expr::Kind::kFunction:
    case Expr::Kind::kSubquery:
    case Expr::Kind::kContains:
    case Expr::Kind::kCollate:
    case Expr::Kind::kDefault:
    case Expr::Kind::kParameterMarker:
      return kPrimary;
  }
  std::abort();  // not reached: the switch names every kind and returns
}

const char* OperatorText(BinaryOp op) {
  switch (op) {
    case BinaryOp::kAdd:
      return "+";
    case BinaryOp::kSubtract:
      return "-";
    case BinaryOp::kMultiply:
      return "*";
    case BinaryOp::kDivide:
      return "/";
    case BinaryOp::kModulo:
      return "%";
    case BinaryOp::kBitAnd:
      return "&";
    case BinaryOp::kBitOr:
      return "|";
    case BinaryOp::kBitXor:
      return "^";
    case BinaryOp::kEqual:
      return "=";
    case BinaryOp::kNotEqual:
      return "<>";
    case BinaryOp::kLess:
      return "<";
    case BinaryOp::kGreater:
      return ">";
    case BinaryOp::kLessEqual:
      return "<=";
    case BinaryOp::kGreaterEqual:
      return ">=";
    case BinaryOp::kNotLess:
      return "!<";
    case BinaryOp::kNotGreater:
      return "!>";
    case BinaryOp::kAnd:
      return "AND";
    case BinaryOp::kOr:
      return "OR";
  }
  return "?";
}

std::string QuoteString(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// Letters, digits and the few signs a regular identifier may hold, not starting with a digit.
bool IsPlainWord(const std::string& name) {
  if (name.empty()) return false;
  auto start = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' || c >= 0x80;
  };
  auto part = [&](unsigned char c) {
    return start(c) || (c >= '0' && c <= '9') || c == '@' || c == '$';
  };
  if (!start(name[0])) return false;
  for (char c : name) {
    if (!part(c)) return false;
  }
  return true;
}

std::string Bracketed(const std::string& name) {
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

// A one-part function name: built-ins such as LEFT are keywords and stay bare (brackets would
// make them user functions); a name that is no plain word is bracketed, or the print would read
// back as something else.
std::string FunctionNameText(const std::string& name) {
  return IsPlainWord(name) ? name : Bracketed(name);
}

std::string NameText(const ObjectName& n) {
  const std::string* parts[] = {&n.server, &n.database, &n.owner, &n.name};
  std::string out;
  for (int i = 4 - n.part_count; i < 4; ++i) {
    if (i > 4 - n.part_count) out += '.';
    if (!parts[i]->empty()) out += QuoteName(*parts[i]);
  }
  return out;
}

class Printer {
 public:
  std::string out;
  int depth_ = 0;

  void Child(const Expr& e, int parent, bool right) {
    int p = PrecedenceOf(e);
    bool paren = right ? p <= parent : p < parent;
    if (paren) out += '(';
    Print(e);
    if (paren) out += ')';
  }

  void List(const std::vector<ExprPtr>& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i > 0) out += ", ";
      Print(*list[i]);
    }
  }

  void Print(const Expr& e) {
    // Counted where the parser counts nesting, so whatever it accepted prints; chains are
    // printed in loops and do not count.
    std::optional<NestingGuard> guard;
    switch (e.kind) {
      case Expr::Kind::kUnary:
      case Expr::Kind::kFunction:
      case Expr::Kind::kCase:
      case Expr::Kind::kCast:
      case Expr::Kind::kConvert:
      case Expr::Kind::kIn:
        guard.emplace(depth_);
        if (guard->TooDeep()) throw MessageError<kTooDeepNumber>(e.span.line);
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
    switch (e.kind) {
      case Expr::Kind::kLiteral:
        PrintLiteral(e.As<Literal>());
        break;
      case Expr::Kind::kColumn: {
        const auto& c = e.As<ColumnRef>();
        if (!c.table.empty()) out += NameText(c.table) + ".";
        out += QuoteName(c.column);
        break;
      }
      case Expr::Kind::kVariable:
        out += e.As<Variable>().name;
        break;
      case Expr::Kind::kGlobalVariable:
        out += e.As<GlobalVariable>().name;
        break;
      case Expr::Kind::kUnary: {
        const auto& u = e.As<UnaryExpr>();
        switch (u.op) {
          case UnaryOp::kNot:
            out += "NOT ";
            Child(*u.operand, kNot, false);
            return;
          case UnaryOp::kNegate:
            out += '-';
            break;
          case UnaryOp::kPlus:
            out += '+';
            break;
          case UnaryOp::kBitNot:
            out += '~';
            break;
        }
        // Unary operators chain bare ("~~x", "-~x"): parentheses would count as nesting and
        // could take a print past the depth its source kept to. Only a minus before a minus
        // needs them: "- -1" must not print as "--1", the start of a comment.
        const int operand = PrecedenceOf(*u.operand);
        const bool minus_first =
            operand == kUnary && (u.operand->kind == Expr::Kind::kLiteral ||
                                  u.operand->As<UnaryExpr>().op == UnaryOp::kNegate);
        bool paren = operand < kUnary || (u.op == UnaryOp::kNegate && minus_first);
        if (paren) out += '(';
        Print(*u.operand);
        if (paren) out += ')';
        break;
      }
      case Expr::Kind::kBinary: {
        // A left operand of the same precedence needs no parentheses: the whole left-deep chain
        // is printed in one loop rather than one recursion per operator.
        int p = PrecedenceOf(e);
        std::vector<const BinaryExpr*> chain{&e.As<BinaryExpr>()};
        while (chain.back()->left->kind == Expr::Kind::kBinary &&
               PrecedenceOf(*chain.back()->left) == p)
          chain.push_back(&chain.back()->left->As<BinaryExpr>());
        Child(*chain.back()->left, p, false);
        for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
          out += ' ';
          const OuterJoin outer = (*link)->outer_join;
          out += outer == OuterJoin::kNone   ? OperatorText((*link)->op)
                 : outer == OuterJoin::kLeft ? "*="
                                             : "=*";
          out += ' ';
          Child(*(*link)->right, p, true);
        }
        break;
      }
      case Expr::Kind::kLike: {
        const auto& l = e.As<LikeExpr>();
        Child(*l.value, kAdditive, false);
        out += l.negated ? " NOT LIKE " : " LIKE ";
        Child(*l.pattern, kAdditive, false);
        if (l.escape) {
          out += " ESCAPE ";
          Child(*l.escape, kAdditive, false);
        }
        break;
      }
      case Expr::Kind::kBetween: {
        const auto& b = e.As<BetweenExpr>();
        Child(*b.value, kAdditive, false);
        out += b.negated ? " NOT BETWEEN " : " BETWEEN ";
        Child(*b.low, kAdditive, false);
        out += " AND ";
        Child(*b.high, kAdditive, false);
        break;
      }
      case Expr::Kind::kIn: {
        const auto& in = e.As<InExpr>();
        Child(*in.value, kAdditive, false);
        out += in.negated ? " NOT IN (" : " IN (";
        if (in.subquery) {
          PrintQuery(*in.subquery);
        } else {
          List(in.list);
        }
        out += ')';
        break;
      }
      case Expr::Kind::kExists:
        out += "EXISTS (";
        PrintQuery(*e.As<ExistsExpr>().subquery);
        out += ')';
        break;
      case Expr::Kind::kIsNull: {
        const auto& n = e.As<IsNullExpr>();
        Child(*n.value, kAdditive, false);
        out += n.negated ? " IS NOT NULL" : " IS NULL";
        break;
      }
      case Expr::Kind::kCase: {
        const auto& c = e.As<CaseExpr>();
        out += "CASE";
        if (c.operand) {
          out += ' ';
          Print(*c.operand);
        }
        for (const auto& w : c.whens) {
          out += " WHEN ";
          Print(*w.condition);
          out += " THEN ";
          Print(*w.result);
        }
        if (c.else_result) {
          out += " ELSE ";
          Print(*c.else_result);
        }
        out += " END";
        break;
      }
      case Expr::Kind::kCast: {
        const auto& c = e.As<CastExpr>();
        out += "CAST(";
        Print(*c.value);
        out += " AS " + c.type.ToString() + ")";
        break;
      }
      case Expr::Kind::kConvert: {
        const auto& c = e.As<ConvertExpr>();
        out += "CONVERT(" + c.type.ToString() + ", ";
        Print(*c.value);
        if (c.style) {
          out += ", ";
          Print(*c.style);
        }
        out += ')';
        break;
      }
      case Expr::Kind::kFunction: {
        const auto& f = e.As<FunctionCall>();
        if (f.niladic) {
          out += f.name.name;
          break;
        }
        // Built-in names such as LEFT are keywords; brackets would make them user functions.
        out += (f.name.part_count == 1 ? FunctionNameText(f.name.name) : NameText(f.name)) + "(";
        if (f.star) {
          out += '*';
        } else {
          if (f.distinct) out += "DISTINCT ";
          List(f.args);
        }
        out += ')';
        break;
      }
      case Expr::Kind::kSubquery:
        out += '(';
        PrintQuery(*e.As<SubqueryExpr>().query);
        out += ')';
        break;
      case Expr::Kind::kContains: {
        const auto& c = e.As<ContainsExpr>();
        out += c.freetext ? "FREETEXT(" : "CONTAINS(";
        if (c.columns.empty()) {
          out += '*';
        } else if (c.columns.size() == 1) {
          Print(*c.columns[0]);
        } else {
          out += '(';
          List(c.columns);
          out += ')';
        }
        out += ", ";
        Print(*c.search);
        out += ')';
        break;
      }
      case Expr::Kind::kCollate: {
        std::vector<const CollateExpr*> chain{&e.As<CollateExpr>()};
        while (chain.back()->value->kind == Expr::Kind::kCollate)
          chain.push_back(&chain.back()->value->As<CollateExpr>());
        Child(*chain.back()->value, kPrimary, false);
        for (auto link = chain.rbegin(); link != chain.rend(); ++link)
          out += " COLLATE " + (*link)->collation;
        break;
      }
      case Expr::Kind::kDefault:
        out += "DEFAULT";
        break;
      case Expr::Kind::kParameterMarker:
        out += '?';
        break;
    }
  }

  void PrintLiteral(const Literal& l) {
    switch (l.type) {
      case Literal::Type::kNull:
        out += "NULL";
        break;
      case Literal::Type::kString:
        out += QuoteString(l.text);
        break;
      case Literal::Type::kUnicodeString:
        out += "N" + QuoteString(l.text);
        break;
      case Literal::Type::kBinary: {
        static constexpr char kHex[] = "0123456789ABCDEF";
        out += "0x";
        for (unsigned char c : l.text) {
          out += kHex[c >> 4];
          out += kHex[c & 15];
        }
        break;
      }
      case Literal::Type::kMoney:
        if (!l.text.empty() && l.text[0] == '-') {
          out += "-$" + l.text.substr(1);
        } else {
          out += "$" + l.text;
        }
        break;
      case Literal::Type::kInteger:
      case Literal::Type::kDecimal:
      case Literal::Type::kFloat:
        out += l.text;
        break;
    }
  }

  void PrintQuery(const Query& q) {
    NestingGuard guard(depth_);
    if (guard.TooDeep()) throw MessageError<kTooDeepNumber>(q.span.line);
    if (q.kind == Query::Kind::kUnion) {
      std::vector<const UnionQuery*> chain{&q.As<UnionQuery>()};
      while (chain.back()->left->kind == Query::Kind::kUnion &&
             chain.back()->left->order_by.empty())
        chain.push_back(&chain.back()->left->As<UnionQuery>());
      PrintQueryOperand(*chain.back()->left, false);
      for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
        out += (*link)->all ? " UNION ALL " : " UNION ";
        PrintQueryOperand(*(*link)->right, true);
      }
    } else {
      PrintSpec(q.As<QuerySpec>());
    }
    if (!q.order_by.empty()) {
      out += " ORDER BY ";
      for (std::size_t i = 0; i < q.order_by.size(); ++i) {
        if (i > 0) out += ", ";
        Print(*q.order_by[i].expr);
        if (q.order_by[i].descending) out += " DESC";
      }
    }
  }

  void PrintQueryOperand(const Query& q, bool right) {
    // A union operand with its own ORDER BY keeps it inside parentheses, and so does a union
    // on the right, which was written in parentheses.
    bool paren = !q.order_by.empty() || (right && q.kind == Query::Kind::kUnion);
    if (paren) out += '(';
    PrintQuery(q);
    if (paren) out += ')';
  }

  void PrintSpec(const QuerySpec& s) {
    out += "SELECT ";
    if (s.distinct) out += "DISTINCT ";
    if (s.top) {
      out += "TOP ";
      Child(*s.top, kPrimary, false);
      out += s.top_percent ? " PERCENT " : " ";
      if (s.top_with_ties) out += "WITH TIES ";
    }
    for (std::size_t i = 0; i < s.items.size(); ++i) {
      if (i > 0) out += ", ";
      const SelectItem& item = s.items[i];
      switch (item.kind) {
        case SelectItem::Kind::kStar:
          out += '*';
          break;
        case SelectItem::Kind::kTableStar:
          out += NameText(item.table) + ".*";
          break;
        case SelectItem::Kind::kAssignment:
          out += item.variable + " = ";
          Print(*item.expr);
          break;
        case SelectItem::Kind::kExpr:
          Print(*item.expr);
          if (!item.alias.empty()) out += " AS " + QuoteName(item.alias);
          break;
      }
    }
    if (!s.into.empty()) out += " INTO " + NameText(s.into);
    if (!s.from.empty()) {
      out += " FROM ";
      for (std::size_t i = 0; i < s.from.size(); ++i) {
        if (i > 0) out += ", ";
        PrintSource(*s.from[i]);
      }
    }
    if (s.where) {
      out += " WHERE ";
      Print(*s.where);
    }
    if (!s.group_by.empty()) {
      out += s.group_by_all ? " GROUP BY ALL " : " GROUP BY ";
      List(s.group_by);
    }
    if (s.having) {
      out += " HAVING ";
      Print(*s.having);
    }
  }

  void PrintSource(const TableSource& t) {
    NestingGuard guard(depth_);
    if (guard.TooDeep()) throw MessageError<kTooDeepNumber>(t.span.line);
    switch (t.kind) {
      case TableSource::Kind::kTable: {
        const auto& r = t.As<TableRef>();
        out += r.name.name.rfind('@', 0) == 0 ? r.name.name : NameText(r.name);
        if (r.call) {
          out += '(';
          for (std::size_t i = 0; i < r.args.size(); ++i) {
            if (i > 0) out += ", ";
            Print(*r.args[i]);
          }
          out += ')';
        }
        if (!r.alias.empty()) out += " AS " + QuoteName(r.alias);
        if (!r.hints.empty()) {
          out += " WITH (";
          for (std::size_t i = 0; i < r.hints.size(); ++i) {
            if (i > 0) out += ", ";
            out += r.hints[i];
          }
          out += ')';
        }
        break;
      }
      case TableSource::Kind::kDerived: {
        const auto& d = t.As<DerivedTable>();
        out += '(';
        PrintQuery(*d.query);
        out += ") AS " + QuoteName(d.alias);
        if (!d.column_aliases.empty()) {
          out += " (";
          for (std::size_t i = 0; i < d.column_aliases.size(); ++i) {
            if (i > 0) out += ", ";
            out += QuoteName(d.column_aliases[i]);
          }
          out += ')';
        }
        break;
      }
      case TableSource::Kind::kJoin: {
        std::vector<const Join*> chain{&t.As<Join>()};
        while (chain.back()->left->kind == TableSource::Kind::kJoin)
          chain.push_back(&chain.back()->left->As<Join>());
        PrintSource(*chain.back()->left);
        for (auto link = chain.rbegin(); link != chain.rend(); ++link) PrintJoin(**link);
        break;
      }
    }
  }

  // One link of a join chain: the join word, its right side and its condition.
  void PrintJoin(const Join& j) {
    switch (j.type) {
      case JoinType::kInner:
        out += " INNER JOIN ";
        break;
      case JoinType::kLeft:
        out += " LEFT JOIN ";
        break;
      case JoinType::kRight:
        out += " RIGHT JOIN ";
        break;
      case JoinType::kFull:
        out += " FULL JOIN ";
        break;
      case JoinType::kCross:
        out += " CROSS JOIN ";
        break;
    }
    bool paren = j.right->kind == TableSource::Kind::kJoin;
    if (paren) out += '(';
    PrintSource(*j.right);
    if (paren) out += ')';
    if (j.on) {
      out += " ON ";
      Print(*j.on);
    }
  }
};

bool IsRegularName(const std::string& name) {
  if (!IsPlainWord(name)) return false;
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name[0] == '#' || !IsReservedWord(upper);
}

}  // namespace

std::string QuoteName(const std::string& name) {
  return IsRegularName(name) ? name : Bracketed(name);
}

std::string ToSql(const Expr& expr) {
  Printer p;
  p.Print(expr);
  return p.out;
}

std::string ToSql(const Query& query) {
  Printer p;
  p.PrintQuery(query);
  return p.out;
}

std::string ToSql(const TableSource& source) {
  Printer p;
  p.PrintSource(source);
  return p.out;
}

}  // namespace sandbox::tsql
