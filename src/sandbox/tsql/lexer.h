// Splits a Transact-SQL batch into tokens, the way SQL Server's scanner does: names are
// case-insensitive but keep their spelling, [bracketed] and "quoted" names lose their quotes,
// strings lose theirs and undouble embedded quotes, comments vanish.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox::tsql {

struct Token {
  enum class Kind {
    kEnd,
    kIdentifier,        // regular name, temp names (#t, ##t) included; `keyword` when reserved
    kQuotedIdentifier,  // [name] or "name"
    kVariable,          // @name
    kGlobalVariable,    // @@name
    kString,            // 'text'
    kUnicodeString,     // N'text'
    kInteger,
    kDecimal,
    kFloat,
    kMoney,   // $12.50
    kBinary,  // 0x1F
    kSymbol,  // operators and punctuation; `text` is the symbol
  };

  Kind kind = Kind::kEnd;
  std::string_view text;  // as written in the batch
  std::string value;      // names and strings without quotes; binary: the bytes
  std::string upper;      // identifiers and symbols upper-cased, for keyword tests
  bool keyword = false;   // a reserved word of SQL Server (unquoted identifiers only)
  std::size_t begin = 0;
  std::size_t end = 0;
  int line = 1;

  bool IsSymbol(std::string_view s) const { return kind == Kind::kSymbol && text == s; }
  // An unquoted word, reserved or not, spelled `word` (upper-case) in any case.
  bool IsWord(std::string_view word) const { return kind == Kind::kIdentifier && upper == word; }
  bool IsName() const { return kind == Kind::kIdentifier || kind == Kind::kQuotedIdentifier; }
};

// True for SQL Server's reserved keywords (`upper` in upper case).
bool IsReservedWord(std::string_view upper);

class Lexer {
 public:
  Lexer(std::string_view text, bool quoted_identifier)
      : text_(text), quoted_identifier_(quoted_identifier) {}

  // Tokens from byte offset `offset` (which must be the start of a line count `line`) to the end
  // of the text, ending with one kEnd token. Throws ParseError (105, 113, 103, 1038).
  std::vector<Token> Tokenize(std::size_t offset = 0, int line = 1);
  void set_quoted_identifier(bool on) { quoted_identifier_ = on; }

 private:
  Token Next();
  void SkipSpaceAndComments();
  Token MakeToken(Token::Kind kind, std::size_t begin);
  Token LexQuoted(char close, Token::Kind kind, std::size_t begin, std::size_t content_begin);
  Token LexNumber(std::size_t begin);
  Token LexWord(std::size_t begin);
  [[noreturn]] void Unclosed(std::size_t content_begin, int line);

  std::string_view text_;
  bool quoted_identifier_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace sandbox::tsql
