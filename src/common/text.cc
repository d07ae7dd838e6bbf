#include "common/text.h"

#include <algorithm>

namespace common {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
  return out;
}

}  // namespace

std::string ReplaceText(std::string_view text, std::string_view search,
                        std::string_view replacement, int start, int max_count, bool ignore_case) {
  if (search.empty() || max_count == 0) return std::string(text);
  size_t from = start > 1 ? static_cast<size_t>(start - 1) : 0;
  if (from >= text.size()) return std::string(text);

  // Searching a lower-cased copy keeps positions aligned because only A-Z change.
  std::string lowered_text, lowered_search;
  std::string_view haystack = text, needle = search;
  if (ignore_case) {
    lowered_text = LowerCopy(text);
    lowered_search = LowerCopy(search);
    haystack = lowered_text;
    needle = lowered_search;
  }

  std::string out(text.substr(0, from));
  long long done = 0;
  size_t pos = from;
  while (max_count < 0 || done < max_count) {
    size_t hit = haystack.find(needle, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(replacement);
    pos = hit + needle.size();
    ++done;
  }
  out.append(text.substr(pos));
  return out;
}

std::string MakeValidFileName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '*':
      case '?':
      case '<':
      case '>':
      case '|':
      case '"':
        c = ' ';
        break;
      default:
        break;
    }
  }
  return out;
}

bool IsValidName(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

}  // namespace common
