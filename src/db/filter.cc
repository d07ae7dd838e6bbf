#include "db/filter.h"

#include <cctype>
#include <optional>

#include "db/error.h"

namespace db {

namespace {

using common::Value;
constexpr char kSource[] = "ADODB.Recordset";

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i]));
    int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// "*" and "%" stand for any run of characters; letter case is ignored.
bool WildcardMatch(std::string_view text, std::string_view pattern) {
  size_t t = 0, p = 0, star_p = std::string_view::npos, star_t = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) {
      star_p = p++;
      star_t = t;
    } else if (p < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                         std::tolower(static_cast<unsigned char>(text[t]))) {
      ++p;
      ++t;
    } else if (star_p != std::string_view::npos) {
      p = star_p + 1;
      t = ++star_t;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) ++p;
  return p == pattern.size();
}

bool IsNumeric(const Value& v) {
  auto t = v.type();
  return t == Value::Type::kInt || t == Value::Type::kDouble || t == Value::Type::kBool;
}

std::optional<double> TextNumber(std::string_view text) {
  Value v{std::string(text)};
  return v.ToDouble();
}

enum class TokenKind { kEnd, kOpen, kClose, kOperator, kWord, kName, kString, kDate, kNumber };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  size_t position = 0;
};

Error FilterError(const std::string& what) {
  return InvalidArgumentError(kSource, "filter: " + what);
}

std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (true) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    Token token;
    token.position = i;
    if (i >= text.size()) {
      tokens.push_back(token);
      return tokens;
    }
    char c = text[i];
    if (c == '(' || c == ')') {
      token.kind = c == '(' ? TokenKind::kOpen : TokenKind::kClose;
      token.text = std::string(1, c);
      ++i;
    } else if (c == '=' || c == '<' || c == '>') {
      token.kind = TokenKind::kOperator;
      token.text = std::string(1, c);
      ++i;
      if (i < text.size() && (text[i] == '=' || (c == '<' && text[i] == '>'))) {
        token.text += text[i++];
      }
    } else if (c == '\'') {
      token.kind = TokenKind::kString;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            token.text += '\'';
            i += 2;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        token.text += text[i++];
      }
      if (!closed)
        throw FilterError("the text value at position " + std::to_string(token.position + 1) +
                          " has no closing quote");
    } else if (c == '#') {
      token.kind = TokenKind::kDate;
      size_t end = text.find('#', i + 1);
      if (end == std::string_view::npos) throw FilterError("a date value has no closing \"#\"");
      token.text = std::string(text.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (c == '[') {
      token.kind = TokenKind::kName;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == ']') {
          if (i + 1 < text.size() && text[i + 1] == ']') {
            token.text += ']';
            i += 2;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        token.text += text[i++];
      }
      if (!closed) throw FilterError("a field name in brackets has no closing \"]\"");
    } else {
      size_t start = i;
      while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) &&
             text[i] != '(' && text[i] != ')' && text[i] != '=' && text[i] != '<' &&
             text[i] != '>' && text[i] != '\'')
        ++i;
      token.text = std::string(text.substr(start, i - start));
      bool number =
          TextNumber(token.text).has_value() &&
          (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.');
      token.kind = number ? TokenKind::kNumber : TokenKind::kWord;
    }
    tokens.push_back(std::move(token));
  }
}

}  // namespace

struct FilterExpression::Node {
  enum class Kind { kAnd, kOr, kCompare };
  Kind kind = Kind::kCompare;
  std::unique_ptr<Node> left, right;
  // kCompare
  int column = -1;
  std::string op;  // "=", "<>", "<", ">", "<=", ">=", "LIKE"
  Value literal;
  bool literal_is_number = false;
  bool literal_is_date = false;

  bool Evaluate(const std::vector<Value>& row) const {
    switch (kind) {
      case Kind::kAnd:
        return left->Evaluate(row) && right->Evaluate(row);
      case Kind::kOr:
        return left->Evaluate(row) || right->Evaluate(row);
      case Kind::kCompare:
        break;
    }
    const Value& field = column < static_cast<int>(row.size()) ? row[column] : Value();
    if (literal.IsNull()) {
      if (op == "=") return field.IsNull();
      if (op == "<>") return !field.IsNull();
      return false;
    }
    if (field.IsNull()) return op == "<>";
    if (op == "LIKE") return WildcardMatch(field.ToText(), literal.ToText());
    int cmp = 0;
    std::optional<double> a, b;
    if (literal_is_date || field.type() == Value::Type::kDateTime) {
      auto fd = field.AsDateTime() ? std::optional(*field.AsDateTime())
                                   : common::DateTime::Parse(field.ToText());
      auto ld = common::DateTime::Parse(literal.ToText());
      if (fd && ld) {
        cmp = *fd < *ld ? -1 : (*fd == *ld ? 0 : 1);
        return Holds(cmp);
      }
    }
    if (literal_is_number || IsNumeric(field)) {
      a = field.ToDouble();
      b = literal.ToDouble();
    }
    if (a && b) {
      cmp = *a < *b ? -1 : (*a == *b ? 0 : 1);
    } else {
      cmp = CompareNoCase(field.ToText(), literal.ToText());
    }
    return Holds(cmp);
  }

  bool Holds(int cmp) const {
    if (op == "=") return cmp == 0;
    if (op == "<>") return cmp != 0;
    if (op == "<") return cmp < 0;
    if (op == ">") return cmp > 0;
    if (op == "<=") return cmp <= 0;
    return cmp >= 0;
  }
};

namespace {

class Parser {
 public:
  Parser(std::vector<Token> tokens, const ColumnResolver& resolve)
      : tokens_(std::move(tokens)), resolve_(resolve) {}

  std::unique_ptr<FilterExpression::Node> ParseAll() {
    auto node = ParseOr();
    if (Peek().kind != TokenKind::kEnd) {
      throw FilterError("unexpected \"" + Peek().text + "\" at position " +
                        std::to_string(Peek().position + 1));
    }
    return node;
  }

 private:
  using Node = FilterExpression::Node;

  const Token& Peek() const { return tokens_[next_]; }
  Token Take() { return tokens_[next_ < tokens_.size() - 1 ? next_++ : next_]; }
  bool IsWord(const char* word) const {
    return Peek().kind == TokenKind::kWord && Upper(Peek().text) == word;
  }

  std::unique_ptr<Node> ParseOr() {
    auto left = ParseAnd();
    while (IsWord("OR")) {
      Take();
      auto node = std::make_unique<Node>();
      node->kind = Node::Kind::kOr;
      node->left = std::move(left);
      node->right = ParseAnd();
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Node> ParseAnd() {
    auto left = ParseFactor();
    while (IsWord("AND")) {
      Take();
      auto node = std::make_unique<Node>();
      node->kind = Node::Kind::kAnd;
      node->left = std::move(left);
      node->right = ParseFactor();
      left = std::move(node);
    }
    return left;
  }

  std::unique_ptr<Node> ParseFactor() {
    if (Peek().kind == TokenKind::kOpen) {
      // Deep nesting would only exhaust the stack; no real filter comes near this.
      if (++depth_ > kMaxDepth) throw FilterError("parentheses are nested too deeply");
      Take();
      auto node = ParseOr();
      --depth_;
      if (Peek().kind != TokenKind::kClose) throw FilterError("a \"(\" is not closed");
      Take();
      return node;
    }
    Token name = Take();
    if (name.kind != TokenKind::kWord && name.kind != TokenKind::kName) {
      throw FilterError(name.kind == TokenKind::kEnd
                            ? std::string("a field name is missing at the end")
                            : "a field name is expected instead of \"" + name.text + "\"");
    }
    auto node = std::make_unique<Node>();
    node->column = resolve_(name.text);
    if (node->column < 0) throw FilterError("there is no field \"" + name.text + "\"");
    Token op = Take();
    if (op.kind == TokenKind::kOperator) {
      node->op = op.text;
    } else if (op.kind == TokenKind::kWord && Upper(op.text) == "LIKE") {
      node->op = "LIKE";
    } else {
      throw FilterError("an operator is expected after \"" + name.text + "\"");
    }
    Token value = Take();
    switch (value.kind) {
      case TokenKind::kString:
        node->literal = Value(value.text);
        break;
      case TokenKind::kNumber:
        node->literal = Value(value.text);
        node->literal_is_number = true;
        break;
      case TokenKind::kDate:
        if (!common::DateTime::Parse(value.text)) {
          throw FilterError("\"#" + value.text + "#\" is not a date");
        }
        node->literal = Value(value.text);
        node->literal_is_date = true;
        break;
      case TokenKind::kWord:
        if (Upper(value.text) == "NULL") break;
        throw FilterError("the value \"" + value.text + "\" must be quoted");
      default:
        throw FilterError("a value is missing after \"" + name.text + " " + node->op + "\"");
    }
    if (node->op == "LIKE" && node->literal.IsNull()) {
      throw FilterError("LIKE needs a text value");
    }
    return node;
  }

  std::vector<Token> tokens_;
  static constexpr int kMaxDepth = 100;
  const ColumnResolver& resolve_;
  size_t next_ = 0;
  int depth_ = 0;
};

}  // namespace

FilterExpression::FilterExpression() = default;
FilterExpression::~FilterExpression() = default;
FilterExpression::FilterExpression(FilterExpression&&) noexcept = default;
FilterExpression& FilterExpression::operator=(FilterExpression&&) noexcept = default;

FilterExpression FilterExpression::Parse(std::string_view text, const ColumnResolver& resolve) {
  FilterExpression expression;
  Parser parser(Tokenize(text), resolve);
  expression.root_ = parser.ParseAll();
  return expression;
}

bool FilterExpression::Matches(const std::vector<Value>& row) const {
  return !root_ || root_->Evaluate(row);
}

std::vector<SortKey> ParseSort(std::string_view text, const ColumnResolver& resolve) {
  std::vector<SortKey> keys;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view item = text.substr(start, comma - start);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.front())))
      item.remove_prefix(1);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.back())))
      item.remove_suffix(1);
    if (item.empty()) {
      if (comma == text.size() && keys.empty() && start == 0) break;
      throw InvalidArgumentError(kSource,
                                 "sort: an entry of \"" + std::string(text) + "\" is empty");
    }
    SortKey key;
    std::string_view name = item;
    size_t space = item.find_last_of(" \t");
    bool bracketed = !item.empty() && item.back() == ']';
    if (space != std::string_view::npos && !bracketed) {
      std::string direction = Upper(item.substr(space + 1));
      if (direction == "ASC" || direction == "DESC") {
        key.descending = direction == "DESC";
        name = item.substr(0, space);
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())))
          name.remove_suffix(1);
      }
    }
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
      name = name.substr(1, name.size() - 2);
    }
    key.column = resolve(name);
    if (key.column < 0) {
      throw Error(kErrorItemNotFound, kSource,
                  "Item cannot be found in the collection corresponding to the requested name or "
                  "ordinal. (sort: there is no field \"" +
                      std::string(name) + "\")");
    }
    keys.push_back(key);
    start = comma + 1;
  }
  return keys;
}

int CompareForSort(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);
  if (IsNumeric(a) && IsNumeric(b)) {
    double x = *a.ToDouble(), y = *b.ToDouble();
    return x < y ? -1 : (x == y ? 0 : 1);
  }
  if (a.AsDateTime() && b.AsDateTime()) {
    return *a.AsDateTime() < *b.AsDateTime() ? -1 : (*a.AsDateTime() == *b.AsDateTime() ? 0 : 1);
  }
  if (a.AsBytes() && b.AsBytes()) {
    return *a.AsBytes() < *b.AsBytes() ? -1 : (*a.AsBytes() == *b.AsBytes() ? 0 : 1);
  }
  return CompareNoCase(a.ToText(), b.ToText());
}

}  // namespace db
