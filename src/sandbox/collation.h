// Text rules of the default collation (case-insensitive, accent-sensitive, trailing blanks not
// significant) and of T-SQL's LIKE, on UTF-8 text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sandbox {

// Decodes one code point at pos and advances pos; invalid bytes read as themselves.
char32_t NextCodePoint(std::string_view text, size_t& pos);
void AppendUtf8(std::string& out, char32_t c);
size_t CodePointCount(std::string_view text);
// The first count code points of text (all of it when shorter).
std::string_view CodePointPrefix(std::string_view text, size_t count);

char32_t FoldCase(char32_t c);
char32_t ToUpper(char32_t c);
std::string Lower(std::string_view text);
std::string Upper(std::string_view text);

// <0, 0, >0 like strcmp, by the collation's rules.
int CollateCompare(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
// <0, 0, >0 by code point, for the binary and case-sensitive collations.
int BinaryCompare(std::string_view a, std::string_view b);

// T-SQL LIKE: % any run, _ one character, [abc] [a-f] [^x] sets; escape 0 for none. With
// blanks_optional (non-Unicode data) trailing blanks of the text may be left unmatched.
bool LikeMatch(std::string_view pattern, std::string_view text, char32_t escape = 0,
               bool blanks_optional = false);
// PATINDEX: the character (from 1) where the first match of a LIKE pattern begins, 0 for none.
// A pattern without a leading % matches from the first character only.
size_t LikePosition(std::string_view pattern, std::string_view text);

}  // namespace sandbox
