#include "sandbox/tsql/lexer.h"

#include <algorithm>
#include <array>

#include "sandbox/tsql/parser.h"

namespace sandbox::tsql {
namespace {

// SQL Server 2000's reserved keywords, sorted for binary search.
constexpr std::array<std::string_view, 174> kReserved = {
    "ADD",
    "ALL",
    "ALTER",
    "AND",
    "ANY",
    "AS",
    "ASC",
    "AUTHORIZATION",
    "BACKUP",
    "BEGIN",
    "BETWEEN",
    "BREAK",
    "BROWSE",
    "BULK",
    "BY",
    "CASCADE",
    "CASE",
    "CHECK",
    "CHECKPOINT",
    "CLOSE",
    "CLUSTERED",
    "COALESCE",
    "COLLATE",
    "COLUMN",
    "COMMIT",
    "COMPUTE",
    "CONSTRAINT",
    "CONTAINS",
    "CONTAINSTABLE",
    "CONTINUE",
    "CONVERT",
    "CREATE",
    "CROSS",
    "CURRENT",
    "CURRENT_DATE",
    "CURRENT_TIME",
    "CURRENT_TIMESTAMP",
    "CURRENT_USER",
    "CURSOR",
    "DATABASE",
    "DBCC",
    "DEALLOCATE",
    "DECLARE",
    "DEFAULT",
    "DELETE",
    "DENY",
    "DESC",
    "DISK",
    "DISTINCT",
    "DISTRIBUTED",
    "DOUBLE",
    "DROP",
    "DUMMY",
    "DUMP",
    "ELSE",
    "END",
    "ERRLVL",
    "ESCAPE",
    "EXCEPT",
    "EXEC",
    "EXECUTE",
    "EXISTS",
    "EXIT",
    "FETCH",
    "FILE",
    "FILLFACTOR",
    "FOR",
    "FOREIGN",
    "FREETEXT",
    "FREETEXTTABLE",
    "FROM",
    "FULL",
    "FUNCTION",
    "GOTO",
    "GRANT",
    "GROUP",
    "HAVING",
    "HOLDLOCK",
    "IDENTITY",
    "IDENTITYCOL",
    "IDENTITY_INSERT",
    "IF",
    "IN",
    "INDEX",
    "INNER",
    "INSERT",
    "INTERSECT",
    "INTO",
    "IS",
    "JOIN",
    "KEY",
    "KILL",
    "LEFT",
    "LIKE",
    "LINENO",
    "LOAD",
    "NATIONAL",
    "NOCHECK",
    "NONCLUSTERED",
    "NOT",
    "NULL",
    "NULLIF",
    "OF",
    "OFF",
    "OFFSETS",
    "ON",
    "OPEN",
    "OPENDATASOURCE",
    "OPENQUERY",
    "OPENROWSET",
    "OPENXML",
    "OPTION",
    "OR",
    "ORDER",
    "OUTER",
    "OVER",
    "PERCENT",
    "PLAN",
    "PRECISION",
    "PRIMARY",
    "PRINT",
    "PROC",
    "PROCEDURE",
    "PUBLIC",
    "RAISERROR",
    "READ",
    "READTEXT",
    "RECONFIGURE",
    "REFERENCES",
    "REPLICATION",
    "RESTORE",
    "RESTRICT",
    "RETURN",
    "REVOKE",
    "RIGHT",
    "ROLLBACK",
    "ROWCOUNT",
    "ROWGUIDCOL",
    "RULE",
    "SAVE",
    "SCHEMA",
    "SELECT",
    "SESSION_USER",
    "SET",
    "SETUSER",
    "SHUTDOWN",
    "SOME",
    "STATISTICS",
    "SYSTEM_USER",
    "TABLE",
    "TEXTSIZE",
    "THEN",
    "TO",
    "TOP",
    "TRAN",
    "TRANSACTION",
    "TRIGGER",
    "TRUNCATE",
    "TSEQUAL",
    "UNION",
    "UNIQUE",
    "UPDATE",
    "UPDATETEXT",
    "USE",
    "USER",
    "VALUES",
    "VARYING",
    "VIEW",
    "WAITFOR",
    "WHEN",
    "WHERE",
    "WHILE",
    "WITH",
    "WRITETEXT",
};

static_assert(std::is_sorted(kReserved.begin(), kReserved.end()));

constexpr std::size_t kMaxIdentifierLength = 128;
// Texts quoted back in messages are cut here, so a hostile batch cannot make a huge message.
constexpr std::size_t kMaxQuotedInMessage = 1024;

bool IsAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
// Bytes of multi-byte UTF-8 characters count as letters: names such as "Größe" are regular.
bool IsNameStart(unsigned char c) { return IsAsciiLetter(c) || c == '_' || c >= 0x80; }
bool IsNamePart(unsigned char c) {
  return IsNameStart(c) || IsDigit(c) || c == '@' || c == '#' || c == '$';
}
// The value of every hexadecimal digit, -1 for other bytes: binary literals of documents run
// to tens of thousands of digits.
constexpr std::array<signed char, 256> kHexValues = [] {
  std::array<signed char, 256> values{};
  values.fill(-1);
  for (int c = 0; c < 10; ++c) values['0' + c] = static_cast<signed char>(c);
  for (int c = 0; c < 6; ++c) {
    values['a' + c] = static_cast<signed char>(10 + c);
    values['A' + c] = static_cast<signed char>(10 + c);
  }
  return values;
}();
int HexValue(unsigned char c) { return kHexValues[c]; }
bool IsHexDigit(unsigned char c) { return HexValue(c) >= 0; }

std::string ToUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// The first `max_chars` characters of UTF-8 text, never cutting a character in two.
std::string_view Utf8Prefix(std::string_view s, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (chars == max_chars) return s.substr(0, i);
      ++chars;
    }
  }
  return s;
}

std::size_t Utf8Length(std::string_view s) {
  std::size_t chars = 0;
  for (char c : s) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
  }
  return chars;
}

}  // namespace

bool IsReservedWord(std::string_view upper) {
  return std::binary_search(kReserved.begin(), kReserved.end(), upper);
}

std::vector<Token> Lexer::Tokenize(std::size_t offset, int line) {
  pos_ = offset;
  line_ = line;
  std::vector<Token> tokens;
  for (;;) {
    tokens.push_back(Next());
    if (tokens.back().kind == Token::Kind::kEnd) break;
  }
  return tokens;
}

void Lexer::SkipSpaceAndComments() {
  while (pos_ < text_.size()) {
    char c = text_[pos_];
    if (c == '\n') {
      ++line_;
      ++pos_;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == '\0') {
      ++pos_;
    } else if (c == '-' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '-') {
      while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
    } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
      // Block comments nest on SQL Server.
      int start_line = line_;
      int depth = 0;
      while (pos_ < text_.size()) {
        if (text_[pos_] == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
          ++depth;
          pos_ += 2;
        } else if (text_[pos_] == '*' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
          pos_ += 2;
          if (--depth == 0) break;
        } else {
          if (text_[pos_] == '\n') ++line_;
          ++pos_;
        }
      }
      if (depth != 0) throw MessageError<113>(start_line);
    } else {
      break;
    }
  }
}

Token Lexer::MakeToken(Token::Kind kind, std::size_t begin) {
  Token t;
  t.kind = kind;
  t.begin = begin;
  t.end = pos_;
  t.text = text_.substr(begin, pos_ - begin);
  return t;
}

void Lexer::Unclosed(std::size_t content_begin, int line) {
  std::string_view rest = text_.substr(content_begin);
  throw MessageError<105>(line, Utf8Prefix(rest, kMaxQuotedInMessage));
}

Token Lexer::LexQuoted(char close, Token::Kind kind, std::size_t begin, std::size_t content_begin) {
  int start_line = line_;
  std::string value;
  pos_ = content_begin;
  for (;;) {
    std::size_t stop = text_.find(close, pos_);
    if (stop == std::string_view::npos) Unclosed(content_begin, start_line);
    std::string_view piece = text_.substr(pos_, stop - pos_);
    line_ += static_cast<int>(std::count(piece.begin(), piece.end(), '\n'));
    value.append(piece);
    pos_ = stop + 1;
    if (pos_ < text_.size() && text_[pos_] == close) {  // doubled: one literal quote
      value.push_back(close);
      ++pos_;
      continue;
    }
    break;
  }
  Token t = MakeToken(kind, begin);
  t.line = start_line;
  if (kind == Token::Kind::kQuotedIdentifier) {
    if (value.empty()) {
      throw MessageError<1038>(start_line);
    }
    if (Utf8Length(value) > kMaxIdentifierLength) {
      throw MessageError<103>(start_line, Utf8Prefix(value, kMaxIdentifierLength));
    }
    t.upper = ToUpper(value);
  }
  t.value = std::move(value);
  return t;
}

Token Lexer::LexNumber(std::size_t begin) {
  bool is_decimal = false;
  bool is_float = false;
  while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
  if (pos_ < text_.size() && text_[pos_] == '.') {
    is_decimal = true;
    ++pos_;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
  }
  if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
    is_float = true;
    ++pos_;
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
  }
  Token t = MakeToken(is_float     ? Token::Kind::kFloat
                      : is_decimal ? Token::Kind::kDecimal
                                   : Token::Kind::kInteger,
                      begin);
  t.value = std::string(t.text);
  return t;
}

Token Lexer::LexWord(std::size_t begin) {
  while (pos_ < text_.size() && IsNamePart(text_[pos_])) ++pos_;
  Token t = MakeToken(Token::Kind::kIdentifier, begin);
  std::string_view name = t.text;
  if (Utf8Length(name) > kMaxIdentifierLength) {
    throw MessageError<103>(line_, Utf8Prefix(name, kMaxIdentifierLength));
  }
  t.value = std::string(name);
  t.upper = ToUpper(name);
  if (name == "@@") {
    t.kind = Token::Kind::kSymbol;  // no name: a syntax error wherever it stands
  } else if (name[0] == '@') {
    t.kind =
        (name.size() > 1 && name[1] == '@') ? Token::Kind::kGlobalVariable : Token::Kind::kVariable;
  } else if (name[0] != '#') {
    t.keyword = IsReservedWord(t.upper);
  }
  return t;
}

Token Lexer::Next() {
  SkipSpaceAndComments();
  std::size_t begin = pos_;
  int line = line_;
  Token t;
  if (pos_ >= text_.size()) {
    t = MakeToken(Token::Kind::kEnd, begin);
    t.line = line;
    return t;
  }
  unsigned char c = text_[pos_];
  unsigned char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';

  if ((c == 'N' || c == 'n') && next == '\'') {
    t = LexQuoted('\'', Token::Kind::kUnicodeString, begin, pos_ + 2);
  } else if (c == '\'') {
    t = LexQuoted('\'', Token::Kind::kString, begin, pos_ + 1);
  } else if (c == '[') {
    t = LexQuoted(']', Token::Kind::kQuotedIdentifier, begin, pos_ + 1);
  } else if (c == '"') {
    t = LexQuoted('"', quoted_identifier_ ? Token::Kind::kQuotedIdentifier : Token::Kind::kString,
                  begin, pos_ + 1);
  } else if (c == '0' && (next == 'x' || next == 'X')) {
    pos_ += 2;
    std::size_t digits = pos_;
    while (pos_ < text_.size() && IsHexDigit(text_[pos_])) ++pos_;
    t = MakeToken(Token::Kind::kBinary, begin);
    std::string_view hex = text_.substr(digits, pos_ - digits);
    std::string bytes((hex.size() + 1) / 2, '\0');
    std::size_t i = 0, out = 0;
    if (hex.size() % 2 == 1) {  // 0x1 is 0x01
      bytes[out++] = static_cast<char>(HexValue(hex[0]));
      i = 1;
    }
    for (; i < hex.size(); i += 2) {
      bytes[out++] = static_cast<char>(HexValue(hex[i]) * 16 + HexValue(hex[i + 1]));
    }
    t.value = std::move(bytes);
  } else if (IsDigit(c) || (c == '.' && IsDigit(next))) {
    t = LexNumber(begin);
  } else if (c == '$' && (IsDigit(next) || next == '.')) {
    ++pos_;
    Token number = LexNumber(pos_);
    t = MakeToken(Token::Kind::kMoney, begin);
    t.value = number.value;
  } else if (IsNameStart(c) || c == '#' ||
             (c == '@' && (IsNameStart(next) || next == '@' || next == '#' || IsDigit(next)))) {
    t = LexWord(begin);
  } else {
    static constexpr std::string_view kTwo[] = {"<>", "!=", "<=", ">=", "!<",
                                                "!>", "::", "*=", "=*"};
    std::string_view two = text_.substr(pos_, 2);
    if (std::find(std::begin(kTwo), std::end(kTwo), two) != std::end(kTwo)) {
      pos_ += 2;
    } else {
      ++pos_;
      // A stray UTF-8 lead byte cannot get here (it counts as a letter), so one byte is one
      // character.
    }
    t = MakeToken(Token::Kind::kSymbol, begin);
    t.value = std::string(t.text);
    t.upper = t.value;
  }
  t.line = line;
  return t;
}

}  // namespace sandbox::tsql
