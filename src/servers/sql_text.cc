#include "servers/sql_text.h"

#include "common/value.h"
#include "db/sql_text.h"

namespace servers {

namespace {

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithLetter(std::string_view name) {
  char c = name.empty() ? '\0' : name.front();
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

}  // namespace

std::string QuoteText(std::string_view text) {
  return db::SqlLiteral(common::Value(std::string(text)));
}

std::string QuoteDatabaseName(std::string_view name) {
  // "#" and "@" may begin a plain identifier, but a database named so must still be bracketed
  // (a bare #name would be a temporary object, @name a variable).
  if (StartsWithLetter(name) && db::IsPlainIdentifier(name)) return std::string(name);
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  out += ']';
  return out;
}

size_t FindNoCase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < needle.size() && Fold(text[i + j]) == Fold(needle[j])) ++j;
    if (j == needle.size()) return i;
  }
  return std::string_view::npos;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && FindNoCase(a, b) == 0;
}

}  // namespace servers
