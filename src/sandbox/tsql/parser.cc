#include "sandbox/tsql/parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <deque>
#include <limits>

#include "sandbox/tsql/lexer.h"
#include "sandbox/tsql/limits.h"

namespace sandbox::tsql {
namespace {

using TK = Token::Kind;

constexpr std::size_t kMaxQuotedInMessage = 1024;

std::string CutForMessage(std::string_view s) {
  if (s.size() <= kMaxQuotedInMessage) return std::string(s);
  std::size_t cut = kMaxQuotedInMessage;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  return std::string(s.substr(0, cut));
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsNumberKind(TK k) {
  return k == TK::kInteger || k == TK::kDecimal || k == TK::kFloat || k == TK::kMoney;
}

// SET options that take ON or OFF.
constexpr std::string_view kOnOffOptions[] = {
    "ANSI_DEFAULTS",
    "ANSI_NULLS",
    "ANSI_NULL_DFLT_OFF",
    "ANSI_NULL_DFLT_ON",
    "ANSI_PADDING",
    "ANSI_WARNINGS",
    "ARITHABORT",
    "ARITHIGNORE",
    "CONCAT_NULL_YIELDS_NULL",
    "CURSOR_CLOSE_ON_COMMIT",
    "DISABLE_DEF_CNST_CHK",
    "FMTONLY",
    "FORCEPLAN",
    "IMPLICIT_TRANSACTIONS",
    "NOCOUNT",
    "NOEXEC",
    "NO_BROWSETABLE",
    "NUMERIC_ROUNDABORT",
    "PARSEONLY",
    "QUOTED_IDENTIFIER",
    "REMOTE_PROC_TRANSACTIONS",
    "SHOWPLAN_ALL",
    "SHOWPLAN_TEXT",
    "STATISTICS IO",
    "STATISTICS PROFILE",
    "STATISTICS TIME",
    "XACT_ABORT",
};

constexpr std::string_view kTableHints[] = {
    "FASTFIRSTROW", "HOLDLOCK",      "INDEX",    "NOEXPAND",        "NOLOCK",
    "PAGLOCK",      "READCOMMITTED", "READPAST", "READUNCOMMITTED", "REPEATABLEREAD",
    "ROWLOCK",      "SERIALIZABLE",  "TABLOCK",  "TABLOCKX",        "UPDLOCK",
};

template <std::size_t N>
bool Contains(const std::string_view (&list)[N], std::string_view word) {
  return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

class Parser {
 public:
  Parser(std::string_view text, const ParseOptions& options)
      : text_(text), options_(options), lexer_(text, options.quoted_identifier) {
    for (Token& t : lexer_.Tokenize()) tokens_.push_back(std::move(t));
  }

  Batch ParseWholeBatch() {
    Batch batch;
    batch.text = std::string(text_);
    bool first = true;
    for (;;) {
      while (AcceptSymbol(";")) {
      }
      if (Cur().kind == TK::kEnd) break;
      batch.statements.push_back(ParseStatement(first));
      first = false;
    }
    batch.parameter_markers = markers_;
    return batch;
  }

  ExprPtr ParseStandaloneExpression() {
    ExprPtr e = ParseScalar();
    if (Cur().kind != TK::kEnd) SyntaxError(Cur());
    return e;
  }

  std::vector<ProcedureParameter> ParseStandaloneParameters() {
    std::vector<ProcedureParameter> parameters;
    if (Cur().kind == TK::kEnd) return parameters;
    do {
      parameters.push_back(ParseProcedureParameter());
    } while (AcceptSymbol(","));
    if (Cur().kind != TK::kEnd) SyntaxError(Cur());
    return parameters;
  }

 private:
  // ---- tokens -------------------------------------------------------------------------------

  const Token& Peek(std::size_t k = 0) const {
    std::size_t i = std::min(pos_ + k, tokens_.size() - 1);
    return tokens_[i];
  }
  const Token& Cur() const { return Peek(0); }
  const Token& Advance() {
    const Token& t = tokens_[pos_];
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }
  std::size_t PrevEnd() const { return pos_ == 0 ? 0 : tokens_[pos_ - 1].end; }

  bool AcceptSymbol(std::string_view s) {
    if (!Cur().IsSymbol(s)) return false;
    Advance();
    return true;
  }
  void ExpectSymbol(std::string_view s) {
    if (!AcceptSymbol(s)) SyntaxError(Cur());
  }
  bool AcceptWord(std::string_view w) {
    if (!Cur().IsWord(w)) return false;
    Advance();
    return true;
  }
  void ExpectWord(std::string_view w) {
    if (!AcceptWord(w)) SyntaxError(Cur());
  }
  bool IsWordAt(std::size_t k, std::string_view w) const { return Peek(k).IsWord(w); }

  // A name token that may name an object: an unreserved word, a temp name or a quoted name.
  static bool IsPlainName(const Token& t) {
    return (t.kind == TK::kIdentifier && !t.keyword) || t.kind == TK::kQuotedIdentifier;
  }
  std::string ExpectName() {
    if (!IsPlainName(Cur())) SyntaxError(Cur());
    return Advance().value;
  }

  [[noreturn]] void SyntaxError(const Token& at) const {
    const Token* t = &at;
    if (t->kind == TK::kEnd) {
      // At the end of the batch SQL Server names the last token it read.
      std::size_t i = tokens_.size() - 1;
      if (i == 0) throw MessageError<102>(t->line, "");
      t = &tokens_[i - 1];
    }
    if (t->kind == TK::kIdentifier && t->keyword) {
      throw MessageError<156>(t->line, t->text);
    }
    throw MessageError<102>(t->line, CutForMessage(Shown(*t)));
  }

  // COLLATE came with 8.0; before, the word is no keyword and stands where nothing may.
  bool AcceptCollate() {
    if (!Cur().IsWord("COLLATE")) return false;
    if (options_.major_version < 8) throw MessageError<102>(Cur().line, "COLLATE");
    Advance();
    return true;
  }

  [[noreturn]] void NotACondition(const Token& at) const {
    const Token* t = &at;
    if (t->kind == TK::kEnd && tokens_.size() > 1) t = &tokens_[tokens_.size() - 2];
    throw MessageError<4145>(t->line, CutForMessage(Shown(*t)));
  }

  // How a token is quoted back in a message: names and strings without their quotes.
  static std::string_view Shown(const Token& t) {
    switch (t.kind) {
      case TK::kQuotedIdentifier:
      case TK::kString:
      case TK::kUnicodeString:
        return t.value;
      default:
        return t.text;
    }
  }

  [[noreturn]] void TooDeep() const { throw MessageError<kTooDeepNumber>(Cur().line); }

  class DepthGuard {
   public:
    explicit DepthGuard(Parser& p) : p_(p) {
      if (++p_.depth_ > p_.options_.max_nesting) p_.TooDeep();
    }
    ~DepthGuard() { --p_.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

   private:
    Parser& p_;
  };

  // Counts the operators of the chains being built by the active parse functions.
  class ChainCounter {
   public:
    explicit ChainCounter(Parser& p) : p_(p) {}
    ~ChainCounter() { p_.chain_ -= count_; }
    void Add() {
      ++count_;
      if (++p_.chain_ > kMaxChain) p_.TooDeep();
    }
    ChainCounter(const ChainCounter&) = delete;
    ChainCounter& operator=(const ChainCounter&) = delete;

   private:
    Parser& p_;
    int count_ = 0;
  };

  SourceSpan SpanFrom(const Token& first) const {
    return SourceSpan{first.begin, std::max(first.begin, PrevEnd()), first.line};
  }
  SourceSpan SpanFrom(const SourceSpan& first) const {
    return SourceSpan{first.begin, std::max(first.begin, PrevEnd()), first.line};
  }

  // ---- names --------------------------------------------------------------------------------

  // server.database.owner.object with empty parts allowed in the middle ("db..object").
  ObjectName ParseObjectName() {
    const Token& first = Cur();
    std::vector<std::string> parts;
    if (!IsPlainName(Cur())) SyntaxError(Cur());
    parts.push_back(Advance().value);
    while (parts.size() < 4 && Cur().IsSymbol(".")) {
      std::size_t dots = 0;
      while (Peek(dots).IsSymbol(".")) ++dots;
      // A dot not followed by a name is the caller's ("Folder.*").
      if (!IsPlainName(Peek(dots))) break;
      if (parts.size() + dots > 4) SyntaxError(Peek(dots));
      for (std::size_t i = 0; i < dots; ++i) Advance();
      for (std::size_t i = 1; i < dots; ++i) parts.emplace_back();  // master..sp_helpdb
      parts.push_back(Advance().value);
    }
    return MakeName(parts, SpanFrom(first));
  }

  // A table by name, or a table variable ("@t") where FROM and the DML statements take one.
  ObjectName ParseTableName() {
    if (Cur().kind != TK::kVariable) return ParseObjectName();
    const Token& first = Cur();
    std::vector<std::string> parts{Advance().value};
    return MakeName(parts, SpanFrom(first));
  }

  static ObjectName MakeName(std::vector<std::string>& parts, SourceSpan span) {
    ObjectName n;
    n.part_count = static_cast<int>(parts.size());
    std::string* slots[] = {&n.server, &n.database, &n.owner, &n.name};
    for (std::size_t i = 0; i < parts.size(); ++i) {
      *slots[4 - parts.size() + i] = std::move(parts[i]);
    }
    n.span = span;
    return n;
  }

  // Index just past a dotted name starting at token k (k itself when there is none).
  std::size_t ScanName(std::size_t k) const {
    if (!IsPlainName(Peek(k))) return k;
    ++k;
    while (Peek(k).IsSymbol(".")) {
      if (IsPlainName(Peek(k + 1))) {
        k += 2;
      } else if (Peek(k + 1).IsSymbol(".")) {
        k += 1;
      } else {
        break;
      }
    }
    return k;
  }

  // ---- types --------------------------------------------------------------------------------

  TypeRef ParseType() {
    TypeRef type;
    const Token& first = Cur();
    if (Cur().IsWord("DOUBLE")) {
      Advance();
      ExpectWord("PRECISION");
      type.name = std::string(first.text) + " " + std::string(tokens_[pos_ - 1].text);
    } else if (Cur().IsWord("NATIONAL")) {
      Advance();
      if (!Cur().IsWord("CHAR") && !Cur().IsWord("CHARACTER") && !Cur().IsWord("TEXT")) {
        SyntaxError(Cur());
      }
      type.name = std::string(first.text) + " " + std::string(Advance().text);
      if (Cur().IsWord("VARYING")) type.name += " " + std::string(Advance().text);
    } else {
      if (!IsPlainName(Cur())) SyntaxError(Cur());
      const Token& t = Advance();
      type.name = t.value;
      if ((t.upper == "CHAR" || t.upper == "CHARACTER") && Cur().IsWord("VARYING")) {
        type.name += " " + std::string(Advance().text);
      }
    }
    if (Cur().IsSymbol("(") && (Peek(1).kind == TK::kInteger || Peek(1).IsWord("MAX") ||
                                (Peek(1).IsSymbol("-") && Peek(2).kind == TK::kInteger))) {
      Advance();
      if (AcceptWord("MAX")) {
        type.max = true;
      } else {
        type.length = ParseSignedInteger();
        if (AcceptSymbol(",")) type.scale = ParseSignedInteger();
      }
      ExpectSymbol(")");
    }
    type.span = SpanFrom(first);
    return type;
  }

  std::int64_t ParseSignedInteger() {
    bool negative = AcceptSymbol("-");
    if (!negative) AcceptSymbol("+");
    if (Cur().kind != TK::kInteger) SyntaxError(Cur());
    const Token& t = Advance();
    std::int64_t v = 0;
    auto [ptr, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), v);
    if (ec != std::errc()) {
      throw MessageError<8115>(t.line, "expression", "int");
    }
    return negative ? -v : v;
  }

  // ---- expressions --------------------------------------------------------------------------

  ExprPtr ParseScalar() { return ParseAdditive(false); }

  // A search condition (WHERE, ON, HAVING, IF, WHILE, WHEN, CHECK).
  ExprPtr ParseCondition() {
    ExprPtr e = ParseOr(false);
    return e;
  }

  // allow_scalar: inside parentheses of a condition, where "(a + 1)" may still become the left
  // side of a comparison.
  ExprPtr ParseOr(bool allow_scalar) {
    const Token& first = Cur();
    ExprPtr left = ParseAnd(allow_scalar);
    ChainCounter chain(*this);
    while (Cur().IsWord("OR")) {
      if (!left->IsCondition()) NotACondition(Cur());
      Advance();
      chain.Add();
      auto b = std::make_unique<BinaryExpr>();
      b->op = BinaryOp::kOr;
      b->left = std::move(left);
      b->right = ParseAnd(false);
      b->span = SpanFrom(first);
      left = std::move(b);
    }
    return left;
  }

  ExprPtr ParseAnd(bool allow_scalar) {
    const Token& first = Cur();
    ExprPtr left = ParseNot(allow_scalar);
    ChainCounter chain(*this);
    while (Cur().IsWord("AND")) {
      if (!left->IsCondition()) NotACondition(Cur());
      Advance();
      chain.Add();
      auto b = std::make_unique<BinaryExpr>();
      b->op = BinaryOp::kAnd;
      b->left = std::move(left);
      b->right = ParseNot(false);
      b->span = SpanFrom(first);
      left = std::move(b);
    }
    return left;
  }

  ExprPtr ParseNot(bool allow_scalar) {
    if (Cur().IsWord("NOT")) {
      DepthGuard guard(*this);
      const Token& first = Advance();
      auto u = std::make_unique<UnaryExpr>();
      u->op = UnaryOp::kNot;
      u->operand = ParseNot(false);
      u->span = SpanFrom(first);
      return u;
    }
    return ParsePredicate(allow_scalar);
  }

  ExprPtr ParsePredicate(bool allow_scalar) {
    const Token& first = Cur();
    if (Cur().IsWord("EXISTS")) {
      Advance();
      ExpectSymbol("(");
      auto e = std::make_unique<ExistsExpr>();
      e->subquery = ParseQueryExpression();
      ExpectSymbol(")");
      e->span = SpanFrom(first);
      return e;
    }
    if ((Cur().IsWord("CONTAINS") || Cur().IsWord("FREETEXT")) && Peek(1).IsSymbol("(")) {
      return ParseContains();
    }
    ExprPtr left = ParseAdditive(true);
    if (left->IsCondition()) return left;

    static constexpr std::pair<std::string_view, BinaryOp> kComparisons[] = {
        {"=", BinaryOp::kEqual},         {"<>", BinaryOp::kNotEqual}, {"!=", BinaryOp::kNotEqual},
        {"<", BinaryOp::kLess},          {">", BinaryOp::kGreater},   {"<=", BinaryOp::kLessEqual},
        {">=", BinaryOp::kGreaterEqual}, {"!<", BinaryOp::kNotLess},  {"!>", BinaryOp::kNotGreater},
        {"*=", BinaryOp::kEqual},        {"=*", BinaryOp::kEqual},
    };
    if (Cur().kind == TK::kSymbol) {
      for (const auto& [symbol, op] : kComparisons) {
        if (Cur().text == symbol) {
          Advance();
          auto b = std::make_unique<BinaryExpr>();
          b->op = op;
          if (symbol == "*=") b->outer_join = OuterJoin::kLeft;
          if (symbol == "=*") b->outer_join = OuterJoin::kRight;
          b->left = std::move(left);
          b->right = ParseAdditive(false);
          b->span = SpanFrom(first);
          return b;
        }
      }
    }
    bool negated = false;
    if (Cur().IsWord("NOT") &&
        (IsWordAt(1, "LIKE") || IsWordAt(1, "BETWEEN") || IsWordAt(1, "IN"))) {
      Advance();
      negated = true;
    }
    if (AcceptWord("LIKE")) {
      auto e = std::make_unique<LikeExpr>();
      e->value = std::move(left);
      e->pattern = ParseAdditive(false);
      if (AcceptWord("ESCAPE")) e->escape = ParseAdditive(false);
      e->negated = negated;
      e->span = SpanFrom(first);
      return e;
    }
    if (AcceptWord("BETWEEN")) {
      auto e = std::make_unique<BetweenExpr>();
      e->value = std::move(left);
      e->low = ParseAdditive(false);
      ExpectWord("AND");
      e->high = ParseAdditive(false);
      e->negated = negated;
      e->span = SpanFrom(first);
      return e;
    }
    if (AcceptWord("IN")) {
      auto e = std::make_unique<InExpr>();
      e->value = std::move(left);
      e->negated = negated;
      ExpectSymbol("(");
      if (StartsQuery(0)) {
        DepthGuard guard(*this);
        e->subquery = ParseQueryExpression();
      } else {
        do {
          e->list.push_back(ParseScalar());
        } while (AcceptSymbol(","));
      }
      ExpectSymbol(")");
      e->span = SpanFrom(first);
      return e;
    }
    if (Cur().IsWord("IS")) {
      Advance();
      auto e = std::make_unique<IsNullExpr>();
      e->negated = AcceptWord("NOT");
      ExpectWord("NULL");
      e->value = std::move(left);
      e->span = SpanFrom(first);
      return e;
    }
    if (negated) SyntaxError(Cur());
    if (allow_scalar) return left;
    NotACondition(Cur());
  }

  ExprPtr ParseContains() {
    const Token& first = Advance();
    auto e = std::make_unique<ContainsExpr>();
    e->freetext = first.upper == "FREETEXT";
    ExpectSymbol("(");
    if (AcceptSymbol("*")) {
    } else if (AcceptSymbol("(")) {
      do {
        e->columns.push_back(ParseColumnOnly());
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
    } else {
      e->columns.push_back(ParseColumnOnly());
    }
    ExpectSymbol(",");
    e->search = ParseScalar();
    ExpectSymbol(")");
    e->span = SpanFrom(first);
    return e;
  }

  ExprPtr ParseColumnOnly() {
    ObjectName name = ParseObjectName();
    return MakeColumn(std::move(name));
  }

  static std::unique_ptr<ColumnRef> MakeColumn(ObjectName name) {
    auto c = std::make_unique<ColumnRef>();
    c->span = name.span;
    c->column = std::move(name.name);
    ObjectName& t = c->table;
    if (name.part_count > 1) {
      t.part_count = name.part_count - 1;
      t.name = std::move(name.owner);
      t.owner = std::move(name.database);
      t.database = std::move(name.server);
      t.span = name.span;
    }
    return c;
  }

  // + - & | ^ (one precedence level in T-SQL).
  ExprPtr ParseAdditive(bool allow_bool) {
    const Token& first = Cur();
    ExprPtr left = ParseMultiplicative(allow_bool);
    if (left->IsCondition()) return left;
    ChainCounter chain(*this);
    for (;;) {
      BinaryOp op;
      if (Cur().IsSymbol("+")) {
        op = BinaryOp::kAdd;
      } else if (Cur().IsSymbol("-")) {
        op = BinaryOp::kSubtract;
      } else if (Cur().IsSymbol("&")) {
        op = BinaryOp::kBitAnd;
      } else if (Cur().IsSymbol("|")) {
        op = BinaryOp::kBitOr;
      } else if (Cur().IsSymbol("^")) {
        op = BinaryOp::kBitXor;
      } else {
        return left;
      }
      Advance();
      chain.Add();
      auto b = std::make_unique<BinaryExpr>();
      b->op = op;
      b->left = std::move(left);
      b->right = ParseMultiplicative(false);
      b->span = SpanFrom(first);
      left = std::move(b);
    }
  }

  ExprPtr ParseMultiplicative(bool allow_bool) {
    const Token& first = Cur();
    ExprPtr left = ParseUnary(allow_bool);
    if (left->IsCondition()) return left;
    ChainCounter chain(*this);
    for (;;) {
      BinaryOp op;
      if (Cur().IsSymbol("*")) {
        op = BinaryOp::kMultiply;
      } else if (Cur().IsSymbol("/")) {
        op = BinaryOp::kDivide;
      } else if (Cur().IsSymbol("%")) {
        op = BinaryOp::kModulo;
      } else {
        return left;
      }
      Advance();
      chain.Add();
      auto b = std::make_unique<BinaryExpr>();
      b->op = op;
      b->left = std::move(left);
      b->right = ParseUnary(false);
      b->span = SpanFrom(first);
      left = std::move(b);
    }
  }

  ExprPtr ParseUnary(bool allow_bool) {
    const Token& first = Cur();
    if (Cur().IsSymbol("-") || Cur().IsSymbol("+") || Cur().IsSymbol("~")) {
      DepthGuard guard(*this);
      Advance();
      // -1 is a negative literal, as SQL Server reads a constant.
      if (first.text == "-" && IsNumberKind(Cur().kind)) {
        ExprPtr lit = ParseLiteral();
        auto& l = lit->As<Literal>();
        l.text.insert(l.text.begin(), '-');
        l.int_value = -l.int_value;
        l.span = SpanFrom(first);
        return ParsePostfix(std::move(lit), first);
      }
      auto u = std::make_unique<UnaryExpr>();
      u->op = first.text == "-"   ? UnaryOp::kNegate
              : first.text == "+" ? UnaryOp::kPlus
                                  : UnaryOp::kBitNot;
      u->operand = ParseUnary(false);
      u->span = SpanFrom(first);
      return u;
    }
    ExprPtr e = ParsePrimary(allow_bool);
    if (e->IsCondition()) return e;
    return ParsePostfix(std::move(e), first);
  }

  ExprPtr ParsePostfix(ExprPtr e, const Token& first) {
    ChainCounter chain(*this);
    while (AcceptCollate()) {
      chain.Add();
      auto c = std::make_unique<CollateExpr>();
      c->value = std::move(e);
      c->collation = ExpectName();
      c->span = SpanFrom(first);
      e = std::move(c);
    }
    return e;
  }

  ExprPtr ParseLiteral() {
    const Token& t = Advance();
    auto l = std::make_unique<Literal>();
    l->span = SourceSpan{t.begin, t.end, t.line};
    l->text = t.value;
    switch (t.kind) {
      case TK::kInteger: {
        auto [ptr, ec] =
            std::from_chars(t.text.data(), t.text.data() + t.text.size(), l->int_value);
        l->type = ec == std::errc() ? Literal::Type::kInteger : Literal::Type::kDecimal;
        break;
      }
      case TK::kDecimal:
        l->type = Literal::Type::kDecimal;
        break;
      case TK::kFloat:
        l->type = Literal::Type::kFloat;
        break;
      case TK::kMoney:
        l->type = Literal::Type::kMoney;
        break;
      case TK::kString:
        l->type = Literal::Type::kString;
        break;
      case TK::kUnicodeString:
        l->type = Literal::Type::kUnicodeString;
        break;
      case TK::kBinary:
        l->type = Literal::Type::kBinary;
        break;
      default:
        SyntaxError(t);
    }
    return l;
  }

  // True when the token at k (after any number of "(") begins a SELECT.
  bool StartsQuery(std::size_t k) const {
    while (Peek(k).IsSymbol("(")) ++k;
    return Peek(k).IsWord("SELECT");
  }

  ExprPtr ParsePrimary(bool allow_bool) {
    const Token& t = Cur();
    switch (t.kind) {
      case TK::kInteger:
      case TK::kDecimal:
      case TK::kFloat:
      case TK::kMoney:
      case TK::kString:
      case TK::kUnicodeString:
      case TK::kBinary:
        return ParseLiteral();
      case TK::kVariable: {
        Advance();
        auto v = std::make_unique<Variable>();
        v->name = t.value;
        v->span = SpanFrom(t);
        return v;
      }
      case TK::kGlobalVariable: {
        Advance();
        auto v = std::make_unique<GlobalVariable>();
        v->name = t.value;
        v->span = SpanFrom(t);
        return v;
      }
      case TK::kSymbol:
        if (t.IsSymbol("(")) {
          DepthGuard guard(*this);
          Advance();
          ExprPtr inner;
          if (StartsQuery(0)) {
            auto s = std::make_unique<SubqueryExpr>();
            s->query = ParseQueryExpression();
            inner = std::move(s);
          } else {
            inner = allow_bool ? ParseOr(true) : ParseScalar();
          }
          ExpectSymbol(")");
          inner->span = SpanFrom(t);
          return inner;
        }
        if (t.IsSymbol("?")) {
          Advance();
          auto m = std::make_unique<ParameterMarker>();
          m->index = markers_++;
          m->span = SpanFrom(t);
          return m;
        }
        SyntaxError(t);
      case TK::kIdentifier:
      case TK::kQuotedIdentifier:
        return ParseNamedPrimary();
      case TK::kEnd:
        SyntaxError(t);
    }
    SyntaxError(t);
  }

  ExprPtr ParseNamedPrimary() {
    const Token& t = Cur();
    if (t.kind == TK::kIdentifier && t.keyword) {
      const std::string& w = t.upper;
      if (w == "NULL") {
        Advance();
        auto l = std::make_unique<Literal>();
        l->type = Literal::Type::kNull;
        l->span = SpanFrom(t);
        return l;
      }
      if (w == "CASE") return ParseCase();
      if (w == "CONVERT") return ParseConvert();
      if (w == "CURRENT_TIMESTAMP" || w == "CURRENT_USER" || w == "SESSION_USER" ||
          w == "SYSTEM_USER" || w == "USER") {
        Advance();
        auto f = std::make_unique<FunctionCall>();
        f->name.name = t.value;
        f->name.part_count = 1;
        f->name.span = SpanFrom(t);
        f->niladic = true;
        f->span = SpanFrom(t);
        return f;
      }
      if ((w == "COALESCE" || w == "NULLIF" || w == "LEFT" || w == "RIGHT" || w == "UPDATE") &&
          Peek(1).IsSymbol("(")) {
        Advance();
        ObjectName name;
        name.name = t.value;
        name.part_count = 1;
        name.span = SpanFrom(t);
        return ParseCallArguments(std::move(name), t);
      }
      SyntaxError(t);
    }
    if (t.kind == TK::kIdentifier && t.upper == "CAST" && Peek(1).IsSymbol("(")) {
      return ParseCast();
    }
    ObjectName name = ParseObjectName();
    if (Cur().IsSymbol("(")) {
      if (name.part_count > 3) SyntaxError(Cur());
      return ParseCallArguments(std::move(name), t);
    }
    return MakeColumn(std::move(name));
  }

  ExprPtr ParseCallArguments(ObjectName name, const Token& first) {
    DepthGuard guard(*this);
    ExpectSymbol("(");
    auto f = std::make_unique<FunctionCall>();
    f->name = std::move(name);
    if (AcceptSymbol("*")) {
      f->star = true;
    } else if (!Cur().IsSymbol(")")) {
      if (AcceptWord("DISTINCT")) {
        f->distinct = true;
      } else {
        AcceptWord("ALL");
      }
      do {
        f->args.push_back(ParseScalar());
      } while (AcceptSymbol(","));
    }
    ExpectSymbol(")");
    f->span = SpanFrom(first);
    return f;
  }

  ExprPtr ParseCase() {
    DepthGuard guard(*this);
    const Token& first = Advance();
    auto c = std::make_unique<CaseExpr>();
    if (!Cur().IsWord("WHEN")) c->operand = ParseScalar();
    if (!Cur().IsWord("WHEN")) SyntaxError(Cur());
    while (AcceptWord("WHEN")) {
      CaseExpr::When w;
      w.condition = c->operand ? ParseScalar() : ParseCondition();
      ExpectWord("THEN");
      w.result = ParseScalar();
      c->whens.push_back(std::move(w));
    }
    if (AcceptWord("ELSE")) c->else_result = ParseScalar();
    ExpectWord("END");
    c->span = SpanFrom(first);
    return c;
  }

  ExprPtr ParseCast() {
    DepthGuard guard(*this);
    const Token& first = Advance();
    ExpectSymbol("(");
    auto c = std::make_unique<CastExpr>();
    c->value = ParseScalar();
    ExpectWord("AS");
    c->type = ParseType();
    ExpectSymbol(")");
    c->span = SpanFrom(first);
    return c;
  }

  ExprPtr ParseConvert() {
    DepthGuard guard(*this);
    const Token& first = Advance();
    ExpectSymbol("(");
    auto c = std::make_unique<ConvertExpr>();
    c->type = ParseType();
    ExpectSymbol(",");
    c->value = ParseScalar();
    if (AcceptSymbol(",")) c->style = ParseScalar();
    ExpectSymbol(")");
    c->span = SpanFrom(first);
    return c;
  }

  // Can the current token begin an expression? Used where an expression is optional (RETURN).
  bool StartsExpression() const {
    const Token& t = Cur();
    switch (t.kind) {
      case TK::kEnd:
        return false;
      case TK::kSymbol:
        return t.IsSymbol("(") || t.IsSymbol("-") || t.IsSymbol("+") || t.IsSymbol("~") ||
               t.IsSymbol("?");
      case TK::kIdentifier:
        if (!t.keyword) return true;
        return t.upper == "NULL" || t.upper == "CASE" || t.upper == "CONVERT" ||
               t.upper == "CURRENT_TIMESTAMP" || t.upper == "CURRENT_USER" ||
               t.upper == "SESSION_USER" || t.upper == "SYSTEM_USER" || t.upper == "USER" ||
               ((t.upper == "COALESCE" || t.upper == "NULLIF" || t.upper == "LEFT" ||
                 t.upper == "RIGHT") &&
                Peek(1).IsSymbol("("));
      default:
        return true;
    }
  }

  // ---- queries ------------------------------------------------------------------------------

  QueryPtr ParseQueryExpression() {
    const Token& first = Cur();
    QueryPtr left = ParseQueryTerm();
    ChainCounter chain(*this);
    while (Cur().IsWord("UNION")) {
      Advance();
      chain.Add();
      auto u = std::make_unique<UnionQuery>();
      u->all = AcceptWord("ALL");
      u->left = std::move(left);
      u->right = ParseQueryTerm();
      u->span = SpanFrom(first);
      left = std::move(u);
    }
    if (Cur().IsWord("ORDER")) {
      Advance();
      ExpectWord("BY");
      do {
        OrderItem item;
        item.expr = ParseScalar();
        if (AcceptWord("DESC")) {
          item.descending = true;
        } else {
          AcceptWord("ASC");
        }
        left->order_by.push_back(std::move(item));
      } while (AcceptSymbol(","));
      left->span = SpanFrom(first);
    }
    return left;
  }

  QueryPtr ParseQueryTerm() {
    DepthGuard guard(*this);
    if (Cur().IsSymbol("(")) {
      const Token& first = Advance();
      QueryPtr q = ParseQueryExpression();
      ExpectSymbol(")");
      q->span = SpanFrom(first);
      return q;
    }
    if (!Cur().IsWord("SELECT")) SyntaxError(Cur());
    return ParseQuerySpec();
  }

  // Does "a.b.*" start here?
  bool AtTableStar() const {
    std::size_t k = ScanName(0);
    return k > 0 && Peek(k).IsSymbol(".") && Peek(k + 1).IsSymbol("*");
  }

  std::unique_ptr<QuerySpec> ParseQuerySpec() {
    const Token& first = Advance();  // SELECT
    auto q = std::make_unique<QuerySpec>();
    if (AcceptWord("DISTINCT")) {
      q->distinct = true;
    } else {
      AcceptWord("ALL");
    }
    if (AcceptWord("TOP")) {
      if (Cur().IsSymbol("(")) {
        const Token& paren = Advance();
        q->top = ParseScalar();
        ExpectSymbol(")");
        q->top->span = SpanFrom(paren);
      } else if (Cur().kind == TK::kInteger || Cur().kind == TK::kDecimal ||
                 Cur().kind == TK::kFloat) {
        q->top = ParseLiteral();
      } else {
        SyntaxError(Cur());
      }
      q->top_percent = AcceptWord("PERCENT");
      if (Cur().IsWord("WITH") && IsWordAt(1, "TIES")) {
        Advance();
        Advance();
        q->top_with_ties = true;
      }
    }
    do {
      q->items.push_back(ParseSelectItem());
    } while (AcceptSymbol(","));
    if (AcceptWord("INTO")) q->into = ParseObjectName();
    if (AcceptWord("FROM")) q->from = ParseFromList();
    if (AcceptWord("WHERE")) q->where = ParseCondition();
    if (Cur().IsWord("GROUP")) {
      Advance();
      ExpectWord("BY");
      q->group_by_all = AcceptWord("ALL");
      do {
        q->group_by.push_back(ParseScalar());
      } while (AcceptSymbol(","));
    }
    if (AcceptWord("HAVING")) q->having = ParseCondition();
    q->span = SpanFrom(first);
    return q;
  }

  // A column alias: an unreserved name, a quoted name or a string.
  bool AtAlias() const {
    return IsPlainName(Cur()) || Cur().kind == TK::kString || Cur().kind == TK::kUnicodeString;
  }

  SelectItem ParseSelectItem() {
    const Token& first = Cur();
    SelectItem item;
    if (AcceptSymbol("*")) {
      item.kind = SelectItem::Kind::kStar;
    } else if (Cur().kind == TK::kVariable && Peek(1).IsSymbol("=")) {
      item.kind = SelectItem::Kind::kAssignment;
      item.variable = Advance().value;
      Advance();
      item.expr = ParseScalar();
    } else if ((IsPlainName(Cur()) || Cur().kind == TK::kString) && Peek(1).IsSymbol("=")) {
      item.alias = Advance().value;  // alias = expr
      Advance();
      item.expr = ParseScalar();
    } else if (AtTableStar()) {
      item.kind = SelectItem::Kind::kTableStar;
      item.table = ParseObjectName();
      ExpectSymbol(".");
      ExpectSymbol("*");
    } else {
      item.expr = ParseScalar();
      if (AcceptWord("AS")) {
        if (!AtAlias()) SyntaxError(Cur());
        item.alias = Advance().value;
      } else if (AtAlias()) {
        item.alias = Advance().value;
      }
    }
    item.span = SpanFrom(first);
    return item;
  }

  std::vector<TableSourcePtr> ParseFromList() {
    std::vector<TableSourcePtr> list;
    do {
      list.push_back(ParseTableSource());
    } while (AcceptSymbol(","));
    return list;
  }

  bool AtJoin() const {
    const Token& t = Cur();
    if (t.IsWord("JOIN") || t.IsWord("INNER") || t.IsWord("CROSS")) return true;
    return t.IsWord("LEFT") || t.IsWord("RIGHT") || t.IsWord("FULL");
  }

  TableSourcePtr ParseTableSource() {
    DepthGuard guard(*this);
    const Token& first = Cur();
    TableSourcePtr left = ParseTablePrimary();
    ChainCounter chain(*this);
    while (AtJoin()) {
      chain.Add();
      auto j = std::make_unique<Join>();
      if (AcceptWord("CROSS")) {
        ExpectWord("JOIN");
        j->type = JoinType::kCross;
        j->left = std::move(left);
        j->right = ParseTablePrimary();
        j->span = SpanFrom(first);
        left = std::move(j);
        continue;
      }
      if (AcceptWord("INNER")) {
        j->type = JoinType::kInner;
      } else if (AcceptWord("LEFT")) {
        j->type = JoinType::kLeft;
        AcceptWord("OUTER");
      } else if (AcceptWord("RIGHT")) {
        j->type = JoinType::kRight;
        AcceptWord("OUTER");
      } else if (AcceptWord("FULL")) {
        j->type = JoinType::kFull;
        AcceptWord("OUTER");
      }
      ExpectWord("JOIN");
      j->left = std::move(left);
      // "A JOIN B JOIN C ON c1 ON c2" nests: the right side takes joins that have their own ON.
      j->right = ParseTableSource();
      ExpectWord("ON");
      j->on = ParseCondition();
      j->span = SpanFrom(first);
      left = std::move(j);
    }
    return left;
  }

  TableSourcePtr ParseTablePrimary() {
    const Token& first = Cur();
    if (Cur().IsSymbol("(")) {
      if (StartsQuery(1)) {
        Advance();
        auto d = std::make_unique<DerivedTable>();
        d->query = ParseQueryExpression();
        ExpectSymbol(")");
        AcceptWord("AS");
        if (!IsPlainName(Cur())) SyntaxError(Cur());
        d->alias = Advance().value;
        if (Cur().IsSymbol("(") && IsPlainName(Peek(1))) {
          Advance();
          do {
            d->column_aliases.push_back(ExpectName());
          } while (AcceptSymbol(","));
          ExpectSymbol(")");
        }
        d->span = SpanFrom(first);
        return d;
      }
      DepthGuard guard(*this);
      Advance();
      TableSourcePtr inner = ParseTableSource();
      ExpectSymbol(")");
      inner->span = SpanFrom(first);
      return inner;
    }
    auto t = std::make_unique<TableRef>();
    t->name = ParseTableName();
    if (Cur().IsSymbol("(") &&
        !(Peek(1).kind == TK::kIdentifier && Contains(kTableHints, Peek(1).upper))) {
      Advance();
      t->call = true;
      if (!Cur().IsSymbol(")")) {
        do {
          t->args.push_back(ParseScalar());
        } while (AcceptSymbol(","));
      }
      ExpectSymbol(")");
    }
    if (AcceptWord("AS")) {
      t->alias = ExpectName();
    } else if (IsPlainName(Cur())) {
      t->alias = Advance().value;
    }
    if (Cur().IsWord("WITH") && Peek(1).IsSymbol("(")) {
      Advance();
      t->hints = ParseHints();
    } else if (Cur().IsSymbol("(") && Peek(1).kind == TK::kIdentifier &&
               Contains(kTableHints, Peek(1).upper)) {
      t->hints = ParseHints();
    }
    t->span = SpanFrom(first);
    return t;
  }

  // ( NOLOCK [, INDEX(i)] ... ) as upper-cased words.
  std::vector<std::string> ParseHints() {
    ExpectSymbol("(");
    std::vector<std::string> hints;
    while (!Cur().IsSymbol(")")) {
      const Token& hint = Cur();
      if (hint.kind != TK::kIdentifier || !Contains(kTableHints, hint.upper)) SyntaxError(hint);
      Advance();
      if (hint.upper == "INDEX" && (Cur().IsSymbol("(") || Cur().IsSymbol("="))) {
        if (AcceptSymbol("=")) {
          Advance();
        } else {
          Advance();
          int depth = 1;
          while (depth > 0) {
            if (Cur().kind == TK::kEnd) SyntaxError(Cur());
            if (Cur().IsSymbol("(")) ++depth;
            if (Cur().IsSymbol(")")) --depth;
            Advance();
          }
        }
        hints.push_back(Upper(text_.substr(hint.begin, PrevEnd() - hint.begin)));
      } else {
        hints.push_back(hint.upper);
      }
      AcceptSymbol(",");
    }
    ExpectSymbol(")");
    return hints;
  }

  // ---- statements ---------------------------------------------------------------------------

  StatementPtr ParseStatement(bool first_in_batch) {
    DepthGuard guard(*this);
    const Token& t = Cur();
    StatementPtr s = ParseStatementBody(first_in_batch);
    s->span = SpanFrom(t);
    return s;
  }

  StatementPtr ParseStatementBody(bool first_in_batch) {
    const Token& t = Cur();
    if (t.IsSymbol("(")) return ParseSelectStatement();
    if (t.kind == TK::kQuotedIdentifier && first_in_batch) return ParseExecute(true);
    if (t.kind != TK::kIdentifier) SyntaxError(t);
    if (!t.keyword) {
      if (Peek(1).IsSymbol(":") && t.value[0] != '#') {
        Advance();
        Advance();
        auto l = std::make_unique<LabelStatement>(Statement::Kind::kLabel);
        l->label = t.value;
        return l;
      }
      // A procedure called without EXEC, allowed as the first statement of a batch.
      if (first_in_batch) return ParseExecute(true);
      SyntaxError(t);
    }
    const std::string& w = t.upper;
    if (w == "SELECT") return ParseSelectStatement();
    if (w == "INSERT") return ParseInsert();
    if (w == "UPDATE") return ParseUpdate();
    if (w == "DELETE") return ParseDelete();
    if (w == "TRUNCATE") return ParseTruncate();
    if (w == "CREATE") return ParseCreate(first_in_batch);
    if (w == "ALTER") return ParseAlter(first_in_batch);
    if (w == "DROP") return ParseDrop();
    if (w == "GRANT" || w == "DENY" || w == "REVOKE") return ParsePermission();
    if (w == "DECLARE" && (Peek(1).kind != TK::kVariable || IsWordAt(2, "CURSOR")))
      return ParseCursorStatement();
    if (w == "SET" && Peek(1).kind == TK::kVariable && Peek(2).IsSymbol("=") &&
        IsWordAt(3, "CURSOR"))
      return ParseCursorStatement();
    if (w == "OPEN" || w == "FETCH" || w == "CLOSE" || w == "DEALLOCATE")
      return ParseCursorStatement();
    if (w == "DECLARE") return ParseDeclare();
    if (w == "SET") return ParseSet();
    if (w == "IF") return ParseIf();
    if (w == "WHILE") return ParseWhile();
    if (w == "BEGIN") return ParseBegin();
    if (w == "BREAK" || w == "CONTINUE" || w == "CHECKPOINT") {
      Advance();
      return std::make_unique<SimpleStatement>(w == "BREAK"      ? Statement::Kind::kBreak
                                               : w == "CONTINUE" ? Statement::Kind::kContinue
                                                                 : Statement::Kind::kCheckpoint);
    }
    if (w == "RECONFIGURE") {
      Advance();
      // WITH OVERRIDE only lifts checks the sandbox does not make.
      if (AcceptWord("WITH")) ExpectWord("OVERRIDE");
      return std::make_unique<SimpleStatement>(Statement::Kind::kReconfigure);
    }
    if (w == "COMMIT" || w == "ROLLBACK") return ParseCommitRollback();
    if (w == "SAVE") return ParseSave();
    if (w == "RETURN") return ParseReturn();
    if (w == "PRINT") {
      Advance();
      auto p = std::make_unique<PrintStatement>();
      p->value = ParseScalar();
      return p;
    }
    if (w == "RAISERROR") return ParseRaiserror();
    if (w == "GOTO") {
      Advance();
      auto g = std::make_unique<LabelStatement>(Statement::Kind::kGoto);
      g->label = ExpectName();
      return g;
    }
    if (w == "EXEC" || w == "EXECUTE") return ParseExecute(false);
    if (w == "USE") {
      Advance();
      auto u = std::make_unique<UseStatement>();
      u->database = ExpectName();
      return u;
    }
    if (w == "KILL") {
      Advance();
      auto k = std::make_unique<KillStatement>();
      k->target = ParseScalar();
      return k;
    }
    if (w == "WAITFOR") return ParseWaitFor();
    if (w == "BACKUP") return ParseBackup();
    if (w == "RESTORE") return ParseRestore();
    if (w == "DBCC") return ParseDbcc();
    SyntaxError(t);
  }

  StatementPtr ParseSelectStatement() {
    auto s = std::make_unique<SelectStatement>();
    s->query = ParseQueryExpression();
    return s;
  }

  // Statements up to END (not consumed). BEGIN ... END needs at least one statement.
  StatementList ParseBlockStatements() {
    StatementList list;
    for (;;) {
      while (AcceptSymbol(";")) {
      }
      if (Cur().IsWord("END") || Cur().kind == TK::kEnd) break;
      list.push_back(ParseStatement(false));
    }
    if (list.empty()) SyntaxError(Cur());
    return list;
  }

  StatementPtr ParseBegin() {
    if (IsWordAt(1, "TRAN") || IsWordAt(1, "TRANSACTION") || IsWordAt(1, "DISTRIBUTED")) {
      Advance();
      auto s = std::make_unique<TransactionStatement>(Statement::Kind::kBeginTransaction);
      s->distributed = AcceptWord("DISTRIBUTED");
      if (!AcceptWord("TRAN")) ExpectWord("TRANSACTION");
      s->name = ParseOptionalTransactionName();
      return s;
    }
    Advance();
    auto b = std::make_unique<BlockStatement>();
    b->statements = ParseBlockStatements();
    ExpectWord("END");
    return b;
  }

  std::string ParseOptionalTransactionName() {
    if (Cur().kind == TK::kVariable || IsPlainName(Cur())) return Advance().value;
    return {};
  }

  StatementPtr ParseCommitRollback() {
    const Token& t = Advance();
    auto s = std::make_unique<TransactionStatement>(
        t.upper == "COMMIT" ? Statement::Kind::kCommit : Statement::Kind::kRollback);
    if (AcceptWord("TRAN") || AcceptWord("TRANSACTION")) {
      s->name = ParseOptionalTransactionName();
    } else {
      AcceptWord("WORK");
    }
    return s;
  }

  StatementPtr ParseSave() {
    Advance();
    if (!AcceptWord("TRAN")) ExpectWord("TRANSACTION");
    auto s = std::make_unique<TransactionStatement>(Statement::Kind::kSaveTransaction);
    s->name = ParseOptionalTransactionName();
    if (s->name.empty()) SyntaxError(Cur());
    return s;
  }

  StatementPtr ParseReturn() {
    Advance();
    auto r = std::make_unique<ReturnStatement>();
    if (StartsExpression()) r->value = ParseScalar();
    return r;
  }

  StatementPtr ParseIf() {
    Advance();
    auto s = std::make_unique<IfStatement>();
    s->condition = ParseCondition();
    if (Cur().kind == TK::kEnd) SyntaxError(Cur());
    s->then_branch = ParseStatement(false);
    if (AcceptWord("ELSE")) s->else_branch = ParseStatement(false);
    return s;
  }

  StatementPtr ParseWhile() {
    Advance();
    auto s = std::make_unique<WhileStatement>();
    s->condition = ParseCondition();
    if (Cur().kind == TK::kEnd) SyntaxError(Cur());
    s->body = ParseStatement(false);
    return s;
  }

  StatementPtr ParseRaiserror() {
    Advance();
    auto r = std::make_unique<RaiserrorStatement>();
    ExpectSymbol("(");
    r->message = ParseScalar();
    ExpectSymbol(",");
    r->severity = ParseScalar();
    ExpectSymbol(",");
    r->state = ParseScalar();
    while (AcceptSymbol(",")) r->args.push_back(ParseScalar());
    ExpectSymbol(")");
    if (AcceptWord("WITH")) {
      do {
        const Token& o = Cur();
        if (!o.IsWord("LOG") && !o.IsWord("NOWAIT") && !o.IsWord("SETERROR")) SyntaxError(o);
        r->options.push_back(Advance().upper);
      } while (AcceptSymbol(","));
    }
    return r;
  }

  StatementPtr ParseWaitFor() {
    Advance();
    auto w = std::make_unique<WaitForStatement>();
    if (AcceptWord("DELAY")) {
      w->delay = true;
    } else if (AcceptWord("TIME")) {
      w->delay = false;
    } else {
      SyntaxError(Cur());
    }
    if (Cur().kind != TK::kString && Cur().kind != TK::kVariable) SyntaxError(Cur());
    w->value = ParsePrimary(false);
    return w;
  }

  // ---- EXEC ---------------------------------------------------------------------------------

  std::unique_ptr<ExecuteStatement> ParseExecuteCall(bool implicit) {
    auto e = std::make_unique<ExecuteStatement>();
    e->implicit = implicit;
    if (Cur().kind == TK::kVariable && Peek(1).IsSymbol("=")) {
      e->return_variable = Advance().value;
      Advance();
    }
    if (Cur().kind == TK::kVariable) {
      e->procedure_variable = Advance().value;
    } else {
      e->procedure = ParseObjectName();
      if (Cur().IsSymbol(";") && Peek(1).kind == TK::kInteger) {
        Advance();
        e->number = static_cast<int>(ParseSignedInteger());
      }
    }
    if (StartsExecuteArgument()) {
      do {
        e->args.push_back(ParseExecuteArgument());
      } while (AcceptSymbol(","));
    }
    if (Cur().IsWord("WITH") && IsWordAt(1, "RECOMPILE")) {
      Advance();
      Advance();
      e->recompile = true;
    }
    return e;
  }

  bool StartsExecuteArgument() const {
    const Token& t = Cur();
    switch (t.kind) {
      case TK::kEnd:
        return false;
      case TK::kSymbol:
        return t.IsSymbol("-") || t.IsSymbol("+") || t.IsSymbol("?");
      case TK::kIdentifier:
        return !t.keyword || t.upper == "NULL" || t.upper == "DEFAULT";
      default:
        return true;
    }
  }

  ExecuteArgument ParseExecuteArgument() {
    const Token& first = Cur();
    ExecuteArgument a;
    if (Cur().kind == TK::kVariable && Peek(1).IsSymbol("=")) {
      a.name = Advance().value;
      Advance();
    }
    const Token& v = Cur();
    if (v.IsWord("DEFAULT")) {
      Advance();
      a.value = std::make_unique<DefaultExpr>();
      a.value->span = SpanFrom(v);
    } else if (v.IsWord("NULL")) {
      a.value = ParsePrimary(false);
    } else if (v.kind == TK::kVariable || v.kind == TK::kGlobalVariable || v.IsSymbol("?")) {
      a.value = ParsePrimary(false);
      if (v.kind != TK::kGlobalVariable && (AcceptWord("OUTPUT") || AcceptWord("OUT"))) {
        a.output = true;
      }
    } else if (v.IsSymbol("-") || v.IsSymbol("+")) {
      Advance();
      if (!IsNumberKind(Cur().kind)) SyntaxError(Cur());
      a.value = ParseLiteral();
      if (v.IsSymbol("-")) {
        auto& l = a.value->As<Literal>();
        l.text.insert(l.text.begin(), '-');
        l.int_value = -l.int_value;
      }
      a.value->span = SpanFrom(v);
    } else if (IsPlainName(v)) {
      // A bare word is a character string to SQL Server (EXEC sp_fulltext_table Document, ...).
      Advance();
      auto l = std::make_unique<Literal>();
      l->type = Literal::Type::kString;
      l->text = v.value;
      l->bare_word = true;
      l->span = SpanFrom(v);
      a.value = std::move(l);
    } else if (v.kind != TK::kIdentifier && v.kind != TK::kSymbol && v.kind != TK::kEnd) {
      a.value = ParseLiteral();
    } else {
      SyntaxError(v);
    }
    a.span = SpanFrom(first);
    return a;
  }

  StatementPtr ParseExecute(bool implicit) {
    if (!implicit) Advance();  // EXEC / EXECUTE
    if (!implicit && Cur().IsSymbol("(")) {
      DepthGuard guard(*this);
      Advance();
      auto s = std::make_unique<ExecuteStringStatement>();
      s->text = ParseScalar();
      ExpectSymbol(")");
      return s;
    }
    return ParseExecuteCall(implicit);
  }

  // ---- DML ----------------------------------------------------------------------------------

  StatementPtr ParseInsert() {
    Advance();
    auto s = std::make_unique<InsertStatement>();
    AcceptWord("INTO");
    s->table = ParseTableName();
    if (Cur().IsWord("WITH") && Peek(1).IsSymbol("(")) {
      Advance();
      ParseHints();
    }
    if (Cur().IsSymbol("(") && !StartsQuery(0)) {
      Advance();
      do {
        s->columns.push_back(ExpectName());
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    if (AcceptWord("VALUES")) {
      s->source = InsertStatement::Source::kValues;
      do {
        ExpectSymbol("(");
        std::vector<ExprPtr> row;
        do {
          if (Cur().IsWord("DEFAULT")) {
            const Token& d = Advance();
            row.push_back(std::make_unique<DefaultExpr>());
            row.back()->span = SpanFrom(d);
          } else {
            row.push_back(ParseScalar());
          }
        } while (AcceptSymbol(","));
        ExpectSymbol(")");
        s->rows.push_back(std::move(row));
      } while (AcceptSymbol(","));
    } else if (Cur().IsWord("DEFAULT") && IsWordAt(1, "VALUES")) {
      Advance();
      Advance();
      s->source = InsertStatement::Source::kDefaultValues;
    } else if (Cur().IsWord("EXEC") || Cur().IsWord("EXECUTE")) {
      const Token& e = Advance();
      if (s->table.name[0] == '@') throw MessageError<197>(e.line);
      s->source = InsertStatement::Source::kExecute;
      s->execute = ParseExecuteCall(false);
      s->execute->span = SpanFrom(e);
    } else if (StartsQuery(0)) {
      s->source = InsertStatement::Source::kQuery;
      s->query = ParseQueryExpression();
    } else {
      SyntaxError(Cur());
    }
    return s;
  }

  void ParseDmlTop(ExprPtr& top, bool& percent) {
    if (!AcceptWord("TOP")) return;
    if (Cur().IsSymbol("(")) {
      Advance();
      top = ParseScalar();
      ExpectSymbol(")");
    } else if (Cur().kind == TK::kInteger) {
      top = ParseLiteral();
    } else {
      SyntaxError(Cur());
    }
    percent = AcceptWord("PERCENT");
  }

  StatementPtr ParseUpdate() {
    Advance();
    auto s = std::make_unique<UpdateStatement>();
    ParseDmlTop(s->top, s->top_percent);
    s->target = ParseTableName();
    if (Cur().IsWord("WITH") && Peek(1).IsSymbol("(")) {
      Advance();
      s->target_hints = ParseHints();
    }
    ExpectWord("SET");
    do {
      SetClause c;
      if (Cur().kind == TK::kVariable && Peek(1).IsSymbol("=")) {
        c.variable = Advance().value;
        Advance();
        std::size_t after = ScanName(0);
        if (after > 0 && Peek(after).IsSymbol("=")) {
          c.kind = SetClause::Kind::kVariableColumn;
          c.column = MakeColumn(ParseObjectName());
          ExpectSymbol("=");
        } else {
          c.kind = SetClause::Kind::kVariable;
        }
      } else {
        c.kind = SetClause::Kind::kColumn;
        c.column = MakeColumn(ParseObjectName());
        ExpectSymbol("=");
      }
      c.value = Cur().IsWord("DEFAULT") ? ParseDefaultKeyword() : ParseScalar();
      s->sets.push_back(std::move(c));
    } while (AcceptSymbol(","));
    if (AcceptWord("FROM")) s->from = ParseFromList();
    if (AcceptWord("WHERE") && !ParseCurrentOf(s->current_of)) s->where = ParseCondition();
    return s;
  }

  ExprPtr ParseDefaultKeyword() {
    const Token& d = Advance();
    auto e = std::make_unique<DefaultExpr>();
    e->span = SpanFrom(d);
    return e;
  }

  StatementPtr ParseDelete() {
    Advance();
    auto s = std::make_unique<DeleteStatement>();
    ParseDmlTop(s->top, s->top_percent);
    AcceptWord("FROM");
    s->target = ParseTableName();
    if (Cur().IsWord("WITH") && Peek(1).IsSymbol("(")) {
      Advance();
      s->target_hints = ParseHints();
    }
    if (AcceptWord("FROM")) s->from = ParseFromList();
    if (AcceptWord("WHERE") && !ParseCurrentOf(s->current_of)) s->where = ParseCondition();
    return s;
  }

  StatementPtr ParseTruncate() {
    Advance();
    ExpectWord("TABLE");
    auto s = std::make_unique<TruncateTableStatement>();
    s->table = ParseObjectName();
    return s;
  }

  // ---- DDL ----------------------------------------------------------------------------------

  [[noreturn]] void NotFirstInBatch(const std::string& what, int line) const {
    throw MessageError<111>(line, what);
  }

  StatementPtr ParseCreate(bool first_in_batch) {
    const Token& create = Advance();
    const Token& what = Cur();
    if (what.IsWord("TABLE")) return ParseCreateTable();
    if (what.IsWord("PROCEDURE") || what.IsWord("PROC")) {
      if (!first_in_batch) NotFirstInBatch("CREATE PROCEDURE", create.line);
      return ParseCreateProcedure(create, false);
    }
    if (what.IsWord("VIEW")) {
      if (!first_in_batch) NotFirstInBatch("CREATE VIEW", create.line);
      return ParseCreateView(create, false);
    }
    if (what.IsWord("FUNCTION")) {
      if (!first_in_batch) NotFirstInBatch("CREATE FUNCTION", create.line);
      return ParseCreateFunction(create, false);
    }
    if (what.IsWord("TRIGGER")) {
      if (!first_in_batch) NotFirstInBatch("CREATE TRIGGER", create.line);
      return ParseCreateTrigger(create, false);
    }
    if (what.IsWord("DATABASE")) return ParseCreateDatabase();
    if (what.IsWord("UNIQUE") || what.IsWord("CLUSTERED") || what.IsWord("NONCLUSTERED") ||
        what.IsWord("INDEX")) {
      return ParseCreateIndex();
    }
    SyntaxError(what);
  }

  StatementPtr ParseAlter(bool first_in_batch) {
    const Token& alter = Advance();
    const Token& what = Cur();
    if (what.IsWord("TABLE")) return ParseAlterTable();
    if (what.IsWord("PROCEDURE") || what.IsWord("PROC")) {
      if (!first_in_batch) NotFirstInBatch("ALTER PROCEDURE", alter.line);
      return ParseCreateProcedure(alter, true);
    }
    if (what.IsWord("VIEW")) {
      if (!first_in_batch) NotFirstInBatch("ALTER VIEW", alter.line);
      return ParseCreateView(alter, true);
    }
    if (what.IsWord("FUNCTION")) {
      if (!first_in_batch) NotFirstInBatch("ALTER FUNCTION", alter.line);
      return ParseCreateFunction(alter, true);
    }
    if (what.IsWord("TRIGGER")) {
      if (!first_in_batch) NotFirstInBatch("ALTER TRIGGER", alter.line);
      return ParseCreateTrigger(alter, true);
    }
    if (what.IsWord("DATABASE")) return ParseAlterDatabase();
    SyntaxError(what);
  }

  std::vector<IndexColumn> ParseIndexColumns() {
    ExpectSymbol("(");
    std::vector<IndexColumn> cols;
    do {
      IndexColumn c;
      c.name = ExpectName();
      if (AcceptWord("DESC")) {
        c.descending = true;
      } else {
        AcceptWord("ASC");
      }
      cols.push_back(std::move(c));
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return cols;
  }

  std::vector<std::string> ParseNameList() {
    ExpectSymbol("(");
    std::vector<std::string> names;
    do {
      names.push_back(ExpectName());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return names;
  }

  std::optional<bool> ParseClustered() {
    if (AcceptWord("CLUSTERED")) return true;
    if (AcceptWord("NONCLUSTERED")) return false;
    return std::nullopt;
  }

  // WITH FILLFACTOR = n and ON filegroup after a key constraint: accepted, not kept.
  void SkipKeyStorageOptions() {
    if (Cur().IsWord("WITH") && IsWordAt(1, "FILLFACTOR")) {
      Advance();
      Advance();
      ExpectSymbol("=");
      ParseSignedInteger();
    }
    if (Cur().IsWord("ON") && (IsPlainName(Peek(1)) || Peek(1).IsWord("PRIMARY"))) {
      Advance();
      Advance();
    }
  }

  void ParseReferences(TableConstraint& c) {
    ExpectWord("REFERENCES");
    c.ref_table = ParseObjectName();
    if (Cur().IsSymbol("(")) c.ref_columns = ParseNameList();
    while (Cur().IsWord("ON") && (IsWordAt(1, "DELETE") || IsWordAt(1, "UPDATE"))) {
      Advance();
      bool on_delete = Advance().upper == "DELETE";
      std::string action;
      if (AcceptWord("CASCADE")) {
        action = "CASCADE";
      } else if (Cur().IsWord("NO") && IsWordAt(1, "ACTION")) {
        Advance();
        Advance();
        action = "NO ACTION";
      } else {
        SyntaxError(Cur());
      }
      (on_delete ? c.on_delete : c.on_update) = action;
    }
    SkipNotForReplication();
  }

  void SkipNotForReplication() {
    if (Cur().IsWord("NOT") && IsWordAt(1, "FOR") && IsWordAt(2, "REPLICATION")) {
      Advance();
      Advance();
      Advance();
    }
  }

  bool AtTableConstraint() const {
    const Token& t = Cur();
    return t.IsWord("CONSTRAINT") || t.IsWord("PRIMARY") || t.IsWord("UNIQUE") ||
           t.IsWord("FOREIGN") || t.IsWord("CHECK");
  }

  // [CONSTRAINT name] PRIMARY KEY | UNIQUE | FOREIGN KEY | CHECK | DEFAULT ... FOR col
  TableConstraint ParseTableConstraint(bool allow_default) {
    const Token& first = Cur();
    TableConstraint c;
    if (AcceptWord("CONSTRAINT")) c.name = ExpectName();
    ParseConstraintBody(c, allow_default, /*column=*/nullptr);
    c.span = SpanFrom(first);
    return c;
  }

  // The constraint after CONSTRAINT name. For a column constraint `column` is the column; a key
  // constraint with its own column list is a table constraint written without a comma.
  void ParseConstraintBody(TableConstraint& c, bool allow_default, const std::string* column) {
    if (AcceptWord("PRIMARY")) {
      ExpectWord("KEY");
      c.type = TableConstraint::Type::kPrimaryKey;
      c.clustered = ParseClustered();
    } else if (AcceptWord("UNIQUE")) {
      c.type = TableConstraint::Type::kUnique;
      c.clustered = ParseClustered();
    } else if (Cur().IsWord("FOREIGN") || Cur().IsWord("REFERENCES")) {
      c.type = TableConstraint::Type::kForeignKey;
      if (AcceptWord("FOREIGN")) {
        ExpectWord("KEY");
        if (Cur().IsSymbol("(")) {
          for (std::string& n : ParseNameList()) c.columns.push_back({std::move(n), false});
        } else if (column == nullptr) {
          SyntaxError(Cur());
        }
      }
      if (c.columns.empty() && column != nullptr) c.columns.push_back({*column, false});
      ParseReferences(c);
      return;
    } else if (AcceptWord("CHECK")) {
      c.type = TableConstraint::Type::kCheck;
      SkipNotForReplication();
      ExpectSymbol("(");
      c.expr = ParseCondition();
      ExpectSymbol(")");
      return;
    } else if (allow_default && AcceptWord("DEFAULT")) {
      c.type = TableConstraint::Type::kDefault;
      c.expr = ParseScalar();
      ExpectWord("FOR");
      c.columns.push_back({ExpectName(), false});
      return;
    } else {
      SyntaxError(Cur());
    }
    // PRIMARY KEY / UNIQUE
    if (Cur().IsSymbol("(")) {
      c.columns = ParseIndexColumns();
    } else if (column != nullptr) {
      c.columns.push_back({*column, false});
    } else {
      SyntaxError(Cur());
    }
    SkipKeyStorageOptions();
  }

  ColumnDef ParseColumnDef(TableDefinition* table) {
    const Token& first = Cur();
    ColumnDef col;
    col.name = ExpectName();
    if (AcceptWord("AS")) {
      col.computed = ParseScalar();
      col.span = SpanFrom(first);
      return col;
    }
    col.type = ParseType();
    if (AcceptCollate()) col.collation = ExpectName();
    for (;;) {
      std::string constraint_name;
      const Token& constraint_start = Cur();
      if (AcceptWord("CONSTRAINT")) constraint_name = ExpectName();
      if (Cur().IsWord("NOT") && IsWordAt(1, "NULL")) {
        Advance();
        Advance();
        col.nullability = Nullability::kNotNull;
      } else if (AcceptWord("NULL")) {
        col.nullability = Nullability::kNull;
      } else if (AcceptWord("DEFAULT")) {
        col.default_value = ParseScalar();
        col.default_name = constraint_name;
      } else if (AcceptWord("IDENTITY")) {
        col.identity = true;
        if (AcceptSymbol("(")) {
          col.identity_seed = ParseSignedInteger();
          ExpectSymbol(",");
          col.identity_increment = ParseSignedInteger();
          ExpectSymbol(")");
        }
        SkipNotForReplication();
      } else if (AcceptWord("ROWGUIDCOL")) {
        col.rowguidcol = true;
      } else if (Cur().IsWord("PRIMARY") || Cur().IsWord("UNIQUE") || Cur().IsWord("FOREIGN") ||
                 Cur().IsWord("REFERENCES") || Cur().IsWord("CHECK")) {
        // PRIMARY KEY (cols) after a column is a table constraint that lacks its comma.
        bool with_list = false;
        if (Cur().IsWord("PRIMARY") || Cur().IsWord("UNIQUE")) {
          std::size_t k = Cur().IsWord("PRIMARY") ? 2 : 1;
          if (Peek(k).IsWord("CLUSTERED") || Peek(k).IsWord("NONCLUSTERED")) ++k;
          with_list = Peek(k).IsSymbol("(");
        }
        TableConstraint c;
        c.name = constraint_name;
        if (with_list && table != nullptr) {
          ParseConstraintBody(c, false, nullptr);
          c.span = SpanFrom(constraint_start);
          table->constraints.push_back(std::move(c));
        } else {
          ParseConstraintBody(c, false, &col.name);
          c.span = SpanFrom(constraint_start);
          col.constraints.push_back(std::move(c));
        }
      } else {
        if (!constraint_name.empty()) SyntaxError(Cur());
        break;
      }
    }
    col.span = SpanFrom(first);
    return col;
  }

  // ( element [, element] ... ) of CREATE TABLE and DECLARE @t TABLE.
  TableDefinition ParseTableDefinition() {
    TableDefinition def;
    ExpectSymbol("(");
    do {
      if (AtTableConstraint()) {
        def.constraints.push_back(ParseTableConstraint(false));
      } else {
        def.columns.push_back(ParseColumnDef(&def));
      }
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return def;
  }

  StatementPtr ParseCreateTable() {
    Advance();  // TABLE
    auto s = std::make_unique<CreateTableStatement>();
    s->name = ParseObjectName();
    s->definition = ParseTableDefinition();
    if (Cur().IsWord("ON") && (IsPlainName(Peek(1)) || Peek(1).IsWord("PRIMARY"))) {
      Advance();
      s->filegroup = Advance().value;
    }
    if (AcceptWord("TEXTIMAGE_ON")) {
      if (!IsPlainName(Cur()) && !Cur().IsWord("PRIMARY")) SyntaxError(Cur());
      Advance();
    }
    return s;
  }

  StatementPtr ParseAlterTable() {
    Advance();  // TABLE
    auto s = std::make_unique<AlterTableStatement>();
    s->table = ParseObjectName();
    if (Cur().IsWord("WITH") && (IsWordAt(1, "CHECK") || IsWordAt(1, "NOCHECK"))) {
      Advance();
      s->with_check = Advance().upper == "CHECK";
    }
    if (AcceptWord("ADD")) {
      s->action = AlterTableStatement::Action::kAdd;
      TableDefinition scratch;  // key constraints written after a column without a comma
      do {
        if (AtTableConstraint()) {
          s->add_constraints.push_back(ParseTableConstraint(true));
        } else {
          s->add_columns.push_back(ParseColumnDef(&scratch));
        }
      } while (AcceptSymbol(","));
      for (TableConstraint& c : scratch.constraints) s->add_constraints.push_back(std::move(c));
      return s;
    }
    if (s->with_check.has_value() && !Cur().IsWord("CHECK") && !Cur().IsWord("NOCHECK")) {
      SyntaxError(Cur());
    }
    if (Cur().IsWord("ALTER") && IsWordAt(1, "COLUMN")) {
      Advance();
      Advance();
      s->action = AlterTableStatement::Action::kAlterColumn;
      const Token& first = Cur();
      ColumnDef& col = s->alter_column;
      col.name = ExpectName();
      col.type = ParseType();
      if (AcceptCollate()) col.collation = ExpectName();
      if (Cur().IsWord("NOT") && IsWordAt(1, "NULL")) {
        Advance();
        Advance();
        col.nullability = Nullability::kNotNull;
      } else if (AcceptWord("NULL")) {
        col.nullability = Nullability::kNull;
      }
      col.span = SpanFrom(first);
      return s;
    }
    if (AcceptWord("DROP")) {
      bool column = Cur().IsWord("COLUMN");
      s->action = column ? AlterTableStatement::Action::kDropColumn
                         : AlterTableStatement::Action::kDropConstraint;
      do {
        if (column) {
          ExpectWord("COLUMN");
        } else {
          AcceptWord("CONSTRAINT");
        }
        s->names.push_back(ExpectName());
      } while (AcceptSymbol(","));
      return s;
    }
    // ALL, or a list of names, of the triggers or constraints to switch on or off.
    auto names = [&] {
      if (AcceptWord("ALL")) {
        s->names.push_back("ALL");
        return;
      }
      do {
        s->names.push_back(ExpectName());
      } while (AcceptSymbol(","));
    };
    if ((Cur().IsWord("ENABLE") || Cur().IsWord("DISABLE")) && IsWordAt(1, "TRIGGER")) {
      s->action = AlterTableStatement::Action::kEnableTrigger;
      s->enable = Advance().upper == "ENABLE";
      Advance();
      names();
      return s;
    }
    if (Cur().IsWord("CHECK") || Cur().IsWord("NOCHECK")) {
      s->action = AlterTableStatement::Action::kCheckConstraint;
      s->enable = Advance().upper == "CHECK";
      ExpectWord("CONSTRAINT");
      names();
      return s;
    }
    SyntaxError(Cur());
  }

  StatementPtr ParseDrop() {
    Advance();
    const Token& what = Cur();
    if (what.IsWord("TABLE") || what.IsWord("VIEW") || what.IsWord("PROCEDURE") ||
        what.IsWord("PROC") || what.IsWord("FUNCTION") || what.IsWord("TRIGGER")) {
      Advance();
      auto s = std::make_unique<DropObjectsStatement>(
          what.upper == "TABLE"      ? Statement::Kind::kDropTable
          : what.upper == "VIEW"     ? Statement::Kind::kDropView
          : what.upper == "FUNCTION" ? Statement::Kind::kDropFunction
          : what.upper == "TRIGGER"  ? Statement::Kind::kDropTrigger
                                     : Statement::Kind::kDropProcedure);
      do {
        s->names.push_back(ParseObjectName());
      } while (AcceptSymbol(","));
      return s;
    }
    if (what.IsWord("INDEX")) {
      Advance();
      auto s = std::make_unique<DropIndexStatement>();
      do {
        ObjectName name = ParseObjectName();
        DropIndexStatement::Target target;
        if (AcceptWord("ON")) {
          if (name.part_count != 1) SyntaxError(Cur());
          target.index = name.name;
          target.table = ParseObjectName();
        } else {
          // table.index: the last part is the index, the rest names the table.
          if (name.part_count < 2) SyntaxError(Cur());
          target.index = std::move(name.name);
          target.table.part_count = name.part_count - 1;
          target.table.name = std::move(name.owner);
          target.table.owner = std::move(name.database);
          target.table.database = std::move(name.server);
          target.table.span = name.span;
        }
        s->targets.push_back(std::move(target));
      } while (AcceptSymbol(","));
      return s;
    }
    if (what.IsWord("DATABASE")) {
      Advance();
      auto s = std::make_unique<DropDatabaseStatement>();
      do {
        s->names.push_back(ExpectName());
      } while (AcceptSymbol(","));
      return s;
    }
    SyntaxError(what);
  }

  StatementPtr ParseCreateIndex() {
    auto s = std::make_unique<CreateIndexStatement>();
    s->unique = AcceptWord("UNIQUE");
    s->clustered = ParseClustered();
    ExpectWord("INDEX");
    s->name = ExpectName();
    ExpectWord("ON");
    s->table = ParseObjectName();
    s->columns = ParseIndexColumns();
    if (AcceptWord("WITH")) {
      bool parenthesized = AcceptSymbol("(");
      do {
        const Token& o = Cur();
        if (o.kind != TK::kIdentifier) SyntaxError(o);
        Advance();
        if (AcceptSymbol("=")) {
          if (Cur().kind != TK::kInteger && !Cur().IsWord("ON") && !Cur().IsWord("OFF")) {
            SyntaxError(Cur());
          }
          Advance();
        }
        s->options.push_back(Upper(text_.substr(o.begin, PrevEnd() - o.begin)));
      } while (AcceptSymbol(","));
      if (parenthesized) ExpectSymbol(")");
    }
    if (Cur().IsWord("ON") && (IsPlainName(Peek(1)) || Peek(1).IsWord("PRIMARY"))) {
      Advance();
      Advance();
    }
    return s;
  }

  std::string TextToEnd(const Token& first) const { return std::string(text_.substr(first.begin)); }

  StatementPtr ParseCreateView(const Token& create, bool alter) {
    Advance();  // VIEW
    auto s = std::make_unique<CreateViewStatement>();
    s->alter = alter;
    s->name = ParseObjectName();
    if (Cur().IsSymbol("(")) s->columns = ParseNameList();
    if (AcceptWord("WITH")) {
      do {
        const Token& o = Cur();
        if (!o.IsWord("VIEW_METADATA") && !o.IsWord("SCHEMABINDING") && !o.IsWord("ENCRYPTION")) {
          SyntaxError(o);
        }
        s->options.push_back(Advance().upper);
      } while (AcceptSymbol(","));
    }
    ExpectWord("AS");
    s->query = ParseQueryExpression();
    if (Cur().IsWord("WITH") && IsWordAt(1, "CHECK") && IsWordAt(2, "OPTION")) {
      Advance();
      Advance();
      Advance();
      s->check_option = true;
    }
    while (AcceptSymbol(";")) {
    }
    // The view is the whole batch.
    if (Cur().kind != TK::kEnd) SyntaxError(Cur());
    s->text = TextToEnd(create);
    return s;
  }

  StatementPtr ParseCreateProcedure(const Token& create, bool alter) {
    Advance();  // PROC / PROCEDURE
    auto s = std::make_unique<CreateProcedureStatement>();
    s->alter = alter;
    s->name = ParseObjectName();
    if (Cur().IsSymbol(";") && Peek(1).kind == TK::kInteger) {
      Advance();
      s->number = static_cast<int>(ParseSignedInteger());
    }
    s->parenthesized = AcceptSymbol("(");
    if (s->parenthesized || Cur().kind == TK::kVariable) {
      do {
        s->parameters.push_back(ParseProcedureParameter());
      } while (AcceptSymbol(","));
    }
    if (s->parenthesized) ExpectSymbol(")");
    if (AcceptWord("WITH")) {
      do {
        const Token& o = Cur();
        if (!o.IsWord("RECOMPILE") && !o.IsWord("ENCRYPTION")) SyntaxError(o);
        s->options.push_back(Advance().upper);
      } while (AcceptSymbol(","));
    }
    if (Cur().IsWord("FOR") && IsWordAt(1, "REPLICATION")) {
      Advance();
      Advance();
      s->for_replication = true;
    }
    ExpectWord("AS");
    // The body is the rest of the batch.
    const Token& body_start = Cur();
    for (;;) {
      while (AcceptSymbol(";")) {
      }
      if (Cur().kind == TK::kEnd) break;
      s->body.push_back(ParseStatement(false));
    }
    if (s->body.empty()) SyntaxError(Cur());
    s->body_span = SourceSpan{body_start.begin, text_.size(), body_start.line};
    s->text = TextToEnd(create);
    return s;
  }

  StatementPtr ParseCreateFunction(const Token& create, bool alter) {
    Advance();  // FUNCTION
    auto s = std::make_unique<CreateFunctionStatement>();
    s->alter = alter;
    s->name = ParseObjectName();
    ExpectSymbol("(");
    if (!Cur().IsSymbol(")")) {
      do {
        s->parameters.push_back(ParseProcedureParameter());
      } while (AcceptSymbol(","));
    }
    ExpectSymbol(")");
    ExpectWord("RETURNS");
    if (Cur().kind == TK::kVariable) {
      s->returns = CreateFunctionStatement::Returns::kTable;
      s->table_variable = Advance().value;
      ExpectWord("TABLE");
      s->table = std::make_unique<TableDefinition>(ParseTableDefinition());
    } else if (AcceptWord("TABLE")) {
      s->returns = CreateFunctionStatement::Returns::kInlineTable;
    } else {
      s->type = ParseType();
    }
    if (AcceptWord("WITH")) {
      do {
        const Token& o = Cur();
        if (!o.IsWord("SCHEMABINDING") && !o.IsWord("ENCRYPTION")) SyntaxError(o);
        s->options.push_back(Advance().upper);
      } while (AcceptSymbol(","));
    }
    AcceptWord("AS");
    if (s->returns == CreateFunctionStatement::Returns::kInlineTable) {
      ExpectWord("RETURN");
      if (!StartsQuery(0)) SyntaxError(Cur());
      s->query = ParseQueryExpression();
    } else {
      ExpectWord("BEGIN");
      s->body = ParseBlockStatements();
      ExpectWord("END");
    }
    while (AcceptSymbol(";")) {
    }
    if (Cur().kind != TK::kEnd) SyntaxError(Cur());
    s->text = TextToEnd(create);
    return s;
  }

  StatementPtr ParseCreateTrigger(const Token& create, bool alter) {
    Advance();  // TRIGGER
    auto s = std::make_unique<CreateTriggerStatement>();
    s->alter = alter;
    s->name = ParseObjectName();
    ExpectWord("ON");
    s->table = ParseObjectName();
    if (AcceptWord("WITH")) {
      if (!Cur().IsWord("ENCRYPTION")) SyntaxError(Cur());
      s->options.push_back(Advance().upper);
    }
    s->timing_line = Cur().line;
    if (Cur().IsWord("INSTEAD") && IsWordAt(1, "OF")) {
      Advance();
      Advance();
      s->timing = "INSTEAD OF";
    } else if (Cur().IsWord("FOR") || Cur().IsWord("AFTER")) {
      s->timing = Advance().upper;
    } else {
      SyntaxError(Cur());
    }
    do {
      const Token& action = Cur();
      if (action.IsWord("INSERT")) {
        s->on_insert = true;
      } else if (action.IsWord("UPDATE")) {
        s->on_update = true;
      } else if (action.IsWord("DELETE")) {
        s->on_delete = true;
      } else {
        SyntaxError(action);
      }
      Advance();
    } while (AcceptSymbol(","));
    if (Cur().IsWord("NOT") && IsWordAt(1, "FOR") && IsWordAt(2, "REPLICATION")) {
      Advance();
      Advance();
      Advance();
      s->not_for_replication = true;
    }
    ExpectWord("AS");
    for (;;) {
      while (AcceptSymbol(";")) {
      }
      if (Cur().kind == TK::kEnd) break;
      s->body.push_back(ParseStatement(false));
    }
    if (s->body.empty()) SyntaxError(Cur());
    s->text = TextToEnd(create);
    return s;
  }

  ProcedureParameter ParseProcedureParameter() {
    const Token& first = Cur();
    ProcedureParameter p;
    if (Cur().kind != TK::kVariable) SyntaxError(Cur());
    p.name = Advance().value;
    AcceptWord("AS");
    p.type = ParseType();
    p.varying = AcceptWord("VARYING");
    if (AcceptSymbol("=")) p.default_value = ParseScalar();
    if (AcceptWord("OUTPUT") || AcceptWord("OUT")) p.output = true;
    p.span = SpanFrom(first);
    return p;
  }

  // ( NAME = x, FILENAME = 'path', SIZE = 10MB, MAXSIZE = UNLIMITED, FILEGROWTH = 10% )
  DatabaseFile ParseDatabaseFile() {
    DatabaseFile f;
    ExpectSymbol("(");
    do {
      const Token& key = Cur();
      if (key.kind != TK::kIdentifier) SyntaxError(key);
      Advance();
      ExpectSymbol("=");
      if (key.upper == "NAME" || key.upper == "NEWNAME") {
        std::string value;
        if (Cur().kind == TK::kString || Cur().kind == TK::kUnicodeString || IsPlainName(Cur())) {
          value = Advance().value;
        } else {
          SyntaxError(Cur());
        }
        (key.upper == "NAME" ? f.name : f.new_name) = std::move(value);
      } else if (key.upper == "FILENAME") {
        if (Cur().kind != TK::kString && Cur().kind != TK::kUnicodeString) SyntaxError(Cur());
        f.filename = Advance().value;
      } else if (key.upper == "SIZE" || key.upper == "MAXSIZE" || key.upper == "FILEGROWTH") {
        std::string value;
        if (key.upper == "MAXSIZE" && Cur().IsWord("UNLIMITED")) {
          value = Advance().upper;
        } else {
          if (Cur().kind != TK::kInteger && Cur().kind != TK::kDecimal) SyntaxError(Cur());
          value = Advance().value;
          if (Cur().IsWord("KB") || Cur().IsWord("MB") || Cur().IsWord("GB") ||
              Cur().IsWord("TB") || Cur().IsSymbol("%")) {
            value += Advance().upper;
          }
        }
        (key.upper == "SIZE" ? f.size : key.upper == "MAXSIZE" ? f.max_size : f.growth) = value;
      } else {
        SyntaxError(key);
      }
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return f;
  }

  StatementPtr ParseCreateDatabase() {
    Advance();  // DATABASE
    auto s = std::make_unique<CreateDatabaseStatement>();
    s->name = ExpectName();
    if (AcceptWord("ON")) {
      std::string filegroup;
      if (AcceptWord("PRIMARY")) filegroup = "PRIMARY";
      do {
        if (AcceptWord("FILEGROUP")) filegroup = ExpectName();
        DatabaseFile f = ParseDatabaseFile();
        f.filegroup = filegroup;
        s->files.push_back(std::move(f));
      } while (AcceptSymbol(","));
    }
    if (Cur().IsWord("LOG") && IsWordAt(1, "ON")) {
      Advance();
      Advance();
      do {
        s->log_files.push_back(ParseDatabaseFile());
      } while (AcceptSymbol(","));
    }
    if (AcceptCollate()) s->collation = ExpectName();
    if (AcceptWord("FOR")) {
      if (!AcceptWord("ATTACH")) ExpectWord("LOAD");
      s->for_attach = tokens_[pos_ - 1].upper == "ATTACH";
    }
    return s;
  }

  StatementPtr ParseAlterDatabase() {
    Advance();  // DATABASE
    auto s = std::make_unique<AlterDatabaseStatement>();
    s->name = ExpectName();
    // Options and new names are set by procedures before 8.0 (sp_dboption, sp_renamedb).
    if (options_.major_version < 8 &&
        (Cur().IsWord("SET") || (Cur().IsWord("MODIFY") && IsWordAt(1, "NAME"))))
      SyntaxError(Cur().IsWord("SET") ? Cur() : Peek(1));
    if (AcceptWord("SET")) {
      s->action = AlterDatabaseStatement::Action::kSet;
      do {
        const Token& o = Cur();
        if (o.kind != TK::kIdentifier) SyntaxError(o);
        Advance();
        DatabaseOption opt;
        opt.name = o.upper;
        if (Cur().IsWord("ON") || Cur().IsWord("OFF")) {
          opt.value = Advance().upper;
        } else if ((opt.name == "RECOVERY" || opt.name == "PAGE_VERIFY" ||
                    opt.name == "CURSOR_DEFAULT") &&
                   Cur().kind == TK::kIdentifier) {
          opt.value = Advance().upper;
        }
        s->options.push_back(std::move(opt));
      } while (AcceptSymbol(","));
      if (AcceptWord("WITH")) {
        if (AcceptWord("ROLLBACK")) {
          if (AcceptWord("IMMEDIATE")) {
            s->termination = "ROLLBACK IMMEDIATE";
          } else {
            ExpectWord("AFTER");
            s->termination = "ROLLBACK AFTER " + std::to_string(ParseSignedInteger());
            AcceptWord("SECONDS");
          }
        } else {
          ExpectWord("NO_WAIT");
          s->termination = "NO_WAIT";
        }
      }
      return s;
    }
    if (AcceptWord("MODIFY")) {
      if (AcceptWord("NAME")) {
        s->action = AlterDatabaseStatement::Action::kModifyName;
        ExpectSymbol("=");
        s->new_name = ExpectName();
        return s;
      }
      ExpectWord("FILE");
      s->action = AlterDatabaseStatement::Action::kModifyFile;
      s->files.push_back(ParseDatabaseFile());
      return s;
    }
    if (AcceptWord("ADD")) {
      s->action = AlterDatabaseStatement::Action::kAddFile;
      if (AcceptWord("LOG")) s->action = AlterDatabaseStatement::Action::kAddLogFile;
      ExpectWord("FILE");
      do {
        s->files.push_back(ParseDatabaseFile());
      } while (AcceptSymbol(","));
      if (Cur().IsWord("TO") && IsWordAt(1, "FILEGROUP")) {
        Advance();
        Advance();
        std::string group = ExpectName();
        for (DatabaseFile& f : s->files) f.filegroup = group;
      }
      return s;
    }
    if (AcceptWord("REMOVE")) {
      ExpectWord("FILE");
      s->action = AlterDatabaseStatement::Action::kRemoveFile;
      s->new_name = ExpectName();
      return s;
    }
    if (AcceptCollate()) {
      s->action = AlterDatabaseStatement::Action::kCollate;
      s->new_name = ExpectName();
      return s;
    }
    SyntaxError(Cur());
  }

  // ---- permissions --------------------------------------------------------------------------

  StatementPtr ParsePermission() {
    const Token& verb = Advance();
    auto s = std::make_unique<PermissionStatement>();
    s->action = verb.upper == "GRANT"  ? PermissionStatement::Action::kGrant
                : verb.upper == "DENY" ? PermissionStatement::Action::kDeny
                                       : PermissionStatement::Action::kRevoke;
    if (s->action == PermissionStatement::Action::kRevoke && Cur().IsWord("GRANT") &&
        IsWordAt(1, "OPTION") && IsWordAt(2, "FOR")) {
      Advance();
      Advance();
      Advance();
      s->grant_option_for = true;
    }
    if (AcceptWord("ALL")) {
      AcceptWord("PRIVILEGES");
      s->permissions.push_back("ALL");
    } else {
      do {
        const Token& p = Cur();
        if (p.IsWord("SELECT") || p.IsWord("INSERT") || p.IsWord("UPDATE") || p.IsWord("DELETE") ||
            p.IsWord("REFERENCES") || p.IsWord("EXECUTE")) {
          s->permissions.push_back(Advance().upper);
        } else if (p.IsWord("EXEC")) {
          Advance();
          s->permissions.push_back("EXECUTE");
        } else if (p.IsWord("CREATE")) {
          Advance();
          const Token& o = Cur();
          if (!o.IsWord("TABLE") && !o.IsWord("VIEW") && !o.IsWord("PROCEDURE") &&
              !o.IsWord("PROC") && !o.IsWord("DEFAULT") && !o.IsWord("RULE") &&
              !o.IsWord("FUNCTION") && !o.IsWord("DATABASE")) {
            SyntaxError(o);
          }
          Advance();
          s->permissions.push_back("CREATE " +
                                   std::string(o.upper == "PROC" ? "PROCEDURE" : o.upper));
        } else if (p.IsWord("BACKUP")) {
          Advance();
          if (!Cur().IsWord("DATABASE") && !Cur().IsWord("LOG")) SyntaxError(Cur());
          s->permissions.push_back("BACKUP " + Advance().upper);
        } else {
          SyntaxError(p);
        }
        if (Cur().IsSymbol("(")) {
          for (std::string& c : ParseNameList()) s->columns.push_back(std::move(c));
        }
      } while (AcceptSymbol(","));
    }
    if (AcceptWord("ON")) {
      s->object = ParseObjectName();
      if (Cur().IsSymbol("(")) {
        for (std::string& c : ParseNameList()) s->columns.push_back(std::move(c));
      }
    }
    if (s->action == PermissionStatement::Action::kRevoke) {
      if (!AcceptWord("TO")) ExpectWord("FROM");
    } else {
      ExpectWord("TO");
    }
    do {
      if (Cur().IsWord("PUBLIC")) {
        Advance();
        s->principals.push_back("public");
      } else {
        s->principals.push_back(ExpectName());
      }
    } while (AcceptSymbol(","));
    if (s->action == PermissionStatement::Action::kGrant && Cur().IsWord("WITH") &&
        IsWordAt(1, "GRANT")) {
      Advance();
      Advance();
      ExpectWord("OPTION");
      s->with_grant_option = true;
    }
    if (s->action != PermissionStatement::Action::kGrant) s->cascade = AcceptWord("CASCADE");
    if (AcceptWord("AS")) {
      if (Cur().IsWord("PUBLIC")) {
        Advance();
        s->as_principal = "public";
      } else {
        s->as_principal = ExpectName();
      }
    }
    return s;
  }

  // ---- DECLARE and SET ----------------------------------------------------------------------

  // WHERE CURRENT OF [GLOBAL] cursor | @variable, after WHERE; false when the WHERE is a condition.
  bool ParseCurrentOf(CursorRef& ref) {
    if (!Cur().IsWord("CURRENT") || !IsWordAt(1, "OF")) return false;
    Advance();
    Advance();
    ref = ParseCursorRef();
    return true;
  }

  CursorRef ParseCursorRef() {
    CursorRef ref;
    if (Cur().IsWord("GLOBAL") && IsPlainName(Peek(1))) {
      Advance();
      ref.global = true;
    }
    if (Cur().kind == TK::kVariable && !ref.global) return CursorRef{Advance().value, false};
    ref.name = ExpectName();
    return ref;
  }

  // Cursor options up to FOR (Transact-SQL form after CURSOR, SQL-92 form before it).
  void ParseCursorOptions(std::vector<std::string>& options) {
    static constexpr std::string_view kOptions[] = {
        "INSENSITIVE",  "SCROLL",     "LOCAL",       "GLOBAL",       "FORWARD_ONLY",
        "STATIC",       "KEYSET",     "DYNAMIC",     "FAST_FORWARD", "READ_ONLY",
        "SCROLL_LOCKS", "OPTIMISTIC", "TYPE_WARNING"};
    while (Cur().kind == TK::kIdentifier && Contains(kOptions, Cur().upper)) {
      if (std::find(options.begin(), options.end(), Cur().upper) != options.end())
        SyntaxError(Cur());
      options.push_back(Advance().upper);
    }
  }

  // CURSOR [options] FOR select [FOR {READ ONLY | UPDATE [OF columns]}]
  void ParseCursorDefinition(CursorStatement& s) {
    ParseCursorOptions(s.options);
    ExpectWord("CURSOR");
    ParseCursorOptions(s.options);
    ExpectWord("FOR");
    const Token& first = Cur();
    if (!first.IsWord("SELECT") && !first.IsSymbol("(")) SyntaxError(first);
    s.query = ParseQueryExpression();
    s.query_span = SpanFrom(first);
    if (AcceptWord("FOR")) {
      if (AcceptWord("READ")) {
        ExpectWord("ONLY");
        s.options.push_back("READ ONLY");
      } else {
        ExpectWord("UPDATE");
        s.for_update = true;
        if (AcceptWord("OF")) {
          do s.update_columns.push_back(ExpectName());
          while (AcceptSymbol(","));
        }
      }
    }
  }

  StatementPtr ParseCursorStatement() {
    auto s = std::make_unique<CursorStatement>();
    const Token& verb = Advance();
    if (verb.upper == "DECLARE" && Cur().kind == TK::kVariable) {
      s->action = CursorStatement::Action::kDeclareVariable;
      do {
        if (Cur().kind != TK::kVariable) SyntaxError(Cur());
        s->variables.push_back(Advance().value);
        ExpectWord("CURSOR");
      } while (AcceptSymbol(","));
      s->cursor.name = s->variables.front();
    } else if (verb.upper == "DECLARE") {
      s->action = CursorStatement::Action::kDeclare;
      s->cursor.name = ExpectName();
      ParseCursorDefinition(*s);
    } else if (verb.upper == "SET") {
      s->action = CursorStatement::Action::kSetVariable;
      s->cursor.name = Advance().value;
      ExpectSymbol("=");
      ParseCursorDefinition(*s);
    } else if (verb.upper == "FETCH") {
      s->action = CursorStatement::Action::kFetch;
      static constexpr std::string_view kTypes[] = {"NEXT", "PRIOR",    "FIRST",
                                                    "LAST", "ABSOLUTE", "RELATIVE"};
      bool typed = Cur().kind == TK::kIdentifier && Contains(kTypes, Cur().upper);
      if (typed) {
        s->fetch = Advance().upper;
        if (s->fetch == "ABSOLUTE" || s->fetch == "RELATIVE") {
          if (Cur().kind == TK::kVariable) {
            s->offset = ParsePrimary(false);
          } else {
            s->offset = ParseUnary(false);
            if (s->offset->kind != Expr::Kind::kLiteral) SyntaxError(Cur());
          }
        }
      }
      if (typed || Cur().IsWord("FROM")) ExpectWord("FROM");
      s->cursor = ParseCursorRef();
      if (AcceptWord("INTO")) {
        do {
          if (Cur().kind != TK::kVariable) SyntaxError(Cur());
          s->into.push_back(Advance().value);
        } while (AcceptSymbol(","));
      }
    } else {
      s->action = verb.upper == "OPEN"    ? CursorStatement::Action::kOpen
                  : verb.upper == "CLOSE" ? CursorStatement::Action::kClose
                                          : CursorStatement::Action::kDeallocate;
      s->cursor = ParseCursorRef();
    }
    return s;
  }

  StatementPtr ParseDeclare() {
    Advance();
    auto s = std::make_unique<DeclareStatement>();
    do {
      const Token& first = Cur();
      if (Cur().kind != TK::kVariable) SyntaxError(Cur());
      VariableDecl v;
      v.name = Advance().value;
      AcceptWord("AS");
      if (AcceptWord("TABLE")) {
        v.table = std::make_unique<TableDefinition>(ParseTableDefinition());
      } else {
        v.type = ParseType();
      }
      v.span = SpanFrom(first);
      s->variables.push_back(std::move(v));
    } while (AcceptSymbol(","));
    return s;
  }

  std::string ParseOptionWord() {
    const Token& t = Cur();
    if (t.kind != TK::kIdentifier) SyntaxError(t);
    Advance();
    if (t.upper == "STATISTICS") {
      const Token& second = Cur();
      if (!second.IsWord("IO") && !second.IsWord("TIME") && !second.IsWord("PROFILE")) {
        SyntaxError(second);
      }
      Advance();
      return "STATISTICS " + second.upper;
    }
    return t.upper;
  }

  StatementPtr ParseSet() {
    Advance();
    if (Cur().kind == TK::kVariable) {
      auto s = std::make_unique<SetVariableStatement>();
      s->variable = Advance().value;
      ExpectSymbol("=");
      s->value = ParseScalar();
      return s;
    }
    auto s = std::make_unique<SetOptionStatement>();
    const Token& first = Cur();
    if (first.kind != TK::kIdentifier) SyntaxError(first);
    if (first.IsWord("IDENTITY_INSERT")) {
      Advance();
      s->options.push_back("IDENTITY_INSERT");
      s->table = ParseObjectName();
      s->value_kind = SetOptionStatement::ValueKind::kOnOff;
      ExpectOnOff(*s);
      return s;
    }
    if (first.IsWord("ROWCOUNT") || first.IsWord("TEXTSIZE") || first.IsWord("LOCK_TIMEOUT") ||
        first.IsWord("DATEFIRST")) {
      Advance();
      s->options.push_back(first.upper);
      s->value_kind = SetOptionStatement::ValueKind::kExpr;
      if (Cur().kind == TK::kVariable) {
        s->value = ParsePrimary(false);
      } else {
        ExprPtr v = ParseUnary(false);
        if (v->kind != Expr::Kind::kLiteral) SyntaxError(Cur());
        s->value = std::move(v);
      }
      return s;
    }
    if (first.IsWord("TRANSACTION")) {
      Advance();
      ExpectWord("ISOLATION");
      ExpectWord("LEVEL");
      s->options.push_back("TRANSACTION ISOLATION LEVEL");
      s->value_kind = SetOptionStatement::ValueKind::kWords;
      if (AcceptWord("READ")) {
        if (!AcceptWord("UNCOMMITTED")) ExpectWord("COMMITTED");
        s->words = "READ " + tokens_[pos_ - 1].upper;
      } else if (AcceptWord("REPEATABLE")) {
        ExpectWord("READ");
        s->words = "REPEATABLE READ";
      } else {
        ExpectWord("SERIALIZABLE");
        s->words = "SERIALIZABLE";
      }
      return s;
    }
    if (first.IsWord("DATEFORMAT") || first.IsWord("LANGUAGE") ||
        first.IsWord("DEADLOCK_PRIORITY")) {
      Advance();
      s->options.push_back(first.upper);
      s->value_kind = SetOptionStatement::ValueKind::kWords;
      const Token& v = Cur();
      if (v.kind == TK::kIdentifier || v.kind == TK::kQuotedIdentifier || v.kind == TK::kString ||
          v.kind == TK::kUnicodeString) {
        // Language names and date orders keep their case: errors quote them as written.
        s->words = first.IsWord("DEADLOCK_PRIORITY") ? Upper(Advance().value) : Advance().value;
      } else if (v.kind == TK::kVariable) {
        s->value = ParsePrimary(false);
        s->value_kind = SetOptionStatement::ValueKind::kExpr;
      } else {
        SyntaxError(v);
      }
      return s;
    }
    // ON/OFF options, possibly several: SET ANSI_NULLS, QUOTED_IDENTIFIER ON
    do {
      const Token& o = Cur();
      std::string name = ParseOptionWord();
      if (!Contains(kOnOffOptions, name)) {
        throw MessageError<195>(o.line, CutForMessage(o.text), "SET option");
      }
      s->options.push_back(std::move(name));
    } while (AcceptSymbol(","));
    s->value_kind = SetOptionStatement::ValueKind::kOnOff;
    ExpectOnOff(*s);
    if (std::find(s->options.begin(), s->options.end(), "QUOTED_IDENTIFIER") != s->options.end()) {
      // Takes effect while the batch is read, as on SQL Server: read the rest anew.
      SwitchQuotedIdentifier(s->on);
    }
    return s;
  }

  void ExpectOnOff(SetOptionStatement& s) {
    if (AcceptWord("ON")) {
      s.on = true;
    } else if (AcceptWord("OFF")) {
      s.on = false;
    } else {
      SyntaxError(Cur());
    }
  }

  void SwitchQuotedIdentifier(bool on) {
    const Token& last = tokens_[pos_ - 1];
    lexer_.set_quoted_identifier(on);
    std::size_t from = last.end;
    int line = last.line;
    while (tokens_.size() > pos_) tokens_.pop_back();
    for (Token& t : lexer_.Tokenize(from, line)) tokens_.push_back(std::move(t));
  }

  // ---- server statements --------------------------------------------------------------------

  StatementPtr ParseBackup() {
    Advance();
    auto s = std::make_unique<BackupStatement>();
    if (AcceptWord("LOG")) {
      s->log = true;
    } else {
      ExpectWord("DATABASE");
    }
    if (Cur().kind == TK::kVariable) {
      s->database = Advance().value;
    } else {
      s->database = ExpectName();
    }
    if (AcceptWord("TO")) s->devices = ParseBackupDevices();
    if (AcceptWord("WITH")) {
      do {
        s->options.push_back(ParseBackupOption());
      } while (AcceptSymbol(","));
    }
    return s;
  }

  // RESTORE DATABASE | LOG name FROM ..., RESTORE FILELISTONLY | HEADERONLY FROM ...
  StatementPtr ParseRestore() {
    Advance();
    auto s = std::make_unique<RestoreStatement>();
    using What = RestoreStatement::What;
    if (AcceptWord("DATABASE")) {
      s->what = What::kDatabase;
    } else if (AcceptWord("LOG")) {
      s->what = What::kLog;
    } else if (AcceptWord("FILELISTONLY")) {
      s->what = What::kFileListOnly;
    } else if (AcceptWord("HEADERONLY")) {
      s->what = What::kHeaderOnly;
    } else {
      SyntaxError(Cur());
    }
    if (s->what == What::kDatabase || s->what == What::kLog) {
      s->database = Cur().kind == TK::kVariable ? Advance().value : ExpectName();
    }
    ExpectWord("FROM");
    s->devices = ParseBackupDevices();
    if (AcceptWord("WITH")) {
      do {
        if (AcceptWord("MOVE")) {
          RestoreStatement::Move move;
          move.logical = ParseBackupText();
          ExpectWord("TO");
          move.physical = ParseBackupText();
          s->moves.push_back(std::move(move));
        } else {
          s->options.push_back(ParseBackupOption());
        }
      } while (AcceptSymbol(","));
    }
    return s;
  }

  // A string or a @variable, where backup statements take a file or device name.
  ExprPtr ParseBackupText() {
    if (Cur().kind != TK::kString && Cur().kind != TK::kUnicodeString &&
        Cur().kind != TK::kVariable) {
      SyntaxError(Cur());
    }
    return ParsePrimary(false);
  }

  std::vector<BackupStatement::Device> ParseBackupDevices() {
    std::vector<BackupStatement::Device> devices;
    do {
      BackupStatement::Device d;
      if ((Cur().IsWord("DISK") || Cur().IsWord("TAPE")) && Peek(1).IsSymbol("=")) {
        d.type = Advance().upper;
        Advance();
        d.target = ParseBackupText();
      } else if (IsPlainName(Cur())) {
        auto l = std::make_unique<Literal>();
        const Token& n = Advance();
        l->type = Literal::Type::kString;
        l->text = n.value;
        l->bare_word = true;
        l->span = SpanFrom(n);
        d.target = std::move(l);
      } else {
        SyntaxError(Cur());
      }
      devices.push_back(std::move(d));
    } while (AcceptSymbol(","));
    return devices;
  }

  BackupStatement::Option ParseBackupOption() {
    const Token& o = Cur();
    if (o.kind != TK::kIdentifier) SyntaxError(o);
    Advance();
    BackupStatement::Option opt;
    opt.name = o.upper;
    if (AcceptSymbol("=")) opt.value = ParseUnary(false);
    return opt;
  }

  StatementPtr ParseDbcc() {
    Advance();
    auto s = std::make_unique<DbccStatement>();
    const Token& c = Cur();
    if (c.kind != TK::kIdentifier) SyntaxError(c);
    s->command = Advance().upper;
    if (AcceptSymbol("(")) {
      if (!Cur().IsSymbol(")")) {
        do {
          s->args.push_back(ParseScalar());
        } while (AcceptSymbol(","));
      }
      ExpectSymbol(")");
    }
    if (AcceptWord("WITH")) {
      do {
        const Token& o = Cur();
        if (o.kind != TK::kIdentifier) SyntaxError(o);
        s->options.push_back(Advance().upper);
      } while (AcceptSymbol(","));
    }
    return s;
  }

  std::string_view text_;
  const ParseOptions& options_;
  Lexer lexer_;
  // A deque, so that re-reading the rest of the batch (SET QUOTED_IDENTIFIER) leaves references
  // to the tokens already read valid.
  std::deque<Token> tokens_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  int chain_ = 0;
  int markers_ = 0;
};

}  // namespace

Batch ParseBatch(std::string_view text, const ParseOptions& options) {
  Parser parser(text, options);
  return parser.ParseWholeBatch();
}

ExprPtr ParseExpression(std::string_view text, const ParseOptions& options) {
  Parser parser(text, options);
  return parser.ParseStandaloneExpression();
}

std::vector<ProcedureParameter> ParseParameterList(std::string_view text,
                                                   const ParseOptions& options) {
  Parser parser(text, options);
  return parser.ParseStandaloneParameters();
}

}  // namespace sandbox::tsql
