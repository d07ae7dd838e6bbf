// Which code page raw HTML bytes are in, decided as a browser decides it before parsing.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/code_page.h"
#include "format/html_text.h"
#include "format/mht.h"

namespace format {
namespace {

// How far a browser looks for a declaration before it starts to parse.
constexpr std::size_t kPrescanLength = 1024;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view word) {
  if (s.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (Lower(s[at + i]) != word[i]) return false;
  }
  return true;
}

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

// The charset named in a content-type value: "text/html; charset=windows-1251".
std::optional<std::string> CharsetOfContentType(std::string_view value) {
  std::string lower = LowerCopy(value);
  for (std::size_t at = lower.find("charset"); at != std::string::npos;
       at = lower.find("charset", at + 1)) {
    std::size_t i = at + 7;
    while (i < lower.size() && IsSpace(lower[i])) ++i;
    if (i >= lower.size() || lower[i] != '=') continue;
    ++i;
    while (i < lower.size() && IsSpace(lower[i])) ++i;
    if (i >= lower.size()) return std::nullopt;
    if (lower[i] == '"' || lower[i] == '\'') {
      std::size_t end = lower.find(lower[i], i + 1);
      if (end == std::string::npos) return std::nullopt;
      return std::string(value.substr(i + 1, end - i - 1));
    }
    std::size_t end = i;
    while (end < lower.size() && !IsSpace(lower[end]) && lower[end] != ';') ++end;
    return std::string(value.substr(i, end - i));
  }
  return std::nullopt;
}

// One attribute of a tag starting at `i` (after blanks); false at the end of the tag.
bool NextAttribute(std::string_view s, std::size_t& i, std::string& name, std::string& value) {
  while (i < s.size() && (IsSpace(s[i]) || s[i] == '/')) ++i;
  if (i >= s.size() || s[i] == '>') return false;
  std::size_t start = i;
  while (i < s.size() && !IsSpace(s[i]) && s[i] != '=' && s[i] != '>' && s[i] != '/') ++i;
  name = LowerCopy(s.substr(start, i - start));
  value.clear();
  while (i < s.size() && IsSpace(s[i])) ++i;
  if (i >= s.size() || s[i] != '=') return true;
  ++i;
  while (i < s.size() && IsSpace(s[i])) ++i;
  if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
    char quote = s[i++];
    std::size_t end = s.find(quote, i);
    if (end == std::string_view::npos) end = s.size();
    value = std::string(s.substr(i, end - i));
    i = end + 1;
  } else {
    start = i;
    while (i < s.size() && !IsSpace(s[i]) && s[i] != '>') ++i;
    value = std::string(s.substr(start, i - start));
  }
  return true;
}

// The code page a <meta charset> or <meta http-equiv="Content-Type"> in the first bytes
// declares; 0 when none does or the name is not known.
int DeclaredCodePage(std::string_view bytes) {
  std::string_view head = bytes.substr(0, kPrescanLength);
  std::size_t i = 0;
  while ((i = head.find('<', i)) != std::string_view::npos) {
    if (head.compare(i, 4, "<!--") == 0) {
      std::size_t end = head.find("-->", i + 4);
      if (end == std::string_view::npos) return 0;
      i = end + 3;
      continue;
    }
    if (!StartsWithNoCase(head, i + 1, "meta") || i + 5 >= head.size() ||
        !(IsSpace(head[i + 5]) || head[i + 5] == '/')) {
      ++i;
      continue;
    }
    i += 5;
    std::string name, value, charset, content;
    bool http_equiv = false;
    while (NextAttribute(head, i, name, value)) {
      if (name == "charset" && charset.empty()) charset = value;
      if (name == "http-equiv" && LowerCopy(value) == "content-type") http_equiv = true;
      if (name == "content" && content.empty()) content = value;
    }
    if (charset.empty() && http_equiv) charset = CharsetOfContentType(content).value_or("");
    if (!charset.empty()) {
      int code_page = CharsetCodePage(charset);
      // Browsers read these labels as Windows-1252, and a page that reached the parser as bytes
      // cannot be UTF-16 whatever it says.
      if (code_page == 28591 || code_page == 20127) return 1252;
      if (code_page == 1200 || code_page == 1201) return common::kCodePageUtf8;
      if (code_page != 0) return code_page;
    }
  }
  return 0;
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char lead = static_cast<unsigned char>(s[i]);
    std::size_t length = lead < 0x80             ? 1
                         : (lead & 0xE0) == 0xC0 ? 2
                         : (lead & 0xF0) == 0xE0 ? 3
                         : (lead & 0xF8) == 0xF0 ? 4
                                                 : 0;
    if (length == 0 || (length == 2 && lead < 0xC2) || s.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

std::string HtmlBytesToText(std::string_view bytes, int code_page) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    return common::BytesToText(bytes.substr(3), common::kCodePageUtf8);
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0)
    return common::BytesToText(bytes.substr(2), common::kCodePageUtf16);
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFE\xFF") == 0)
    return common::BytesToText(bytes.substr(2), 1201);
  if (int declared = DeclaredCodePage(bytes); declared != 0) {
    std::string text = common::BytesToText(bytes, declared);
    if (!text.empty() || bytes.empty()) return text;
  }
  if (code_page > 0 && !common::CodePageCharset(code_page).empty())
    return common::BytesToText(bytes, code_page);
  // Nothing says: a file that is valid UTF-8 is taken as such (what this program writes), the
  // rest as Windows-1252, the web's default for undeclared pages.
  if (IsUtf8(bytes)) return std::string(bytes);
  return common::BytesToText(bytes, 1252);
}

}  // namespace format
