#include "sandbox/collation.h"

#include <vector>

namespace sandbox {

char32_t NextCodePoint(std::string_view text, size_t& pos) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char b = byte(pos);
  int extra = b < 0x80             ? 0
              : (b & 0xE0) == 0xC0 ? 1
              : (b & 0xF0) == 0xE0 ? 2
              : (b & 0xF8) == 0xF0 ? 3
                                   : -1;
  if (extra <= 0) {
    ++pos;
    return b;
  }
  char32_t c = b & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if (pos + i >= text.size() || (byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return b;  // not UTF-8: the byte stands for itself
    }
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  pos += extra + 1;
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

size_t CodePointCount(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) NextCodePoint(text, pos);
  return count;
}

std::string_view CodePointPrefix(std::string_view text, size_t count) {
  size_t pos = 0;
  for (size_t i = 0; i < count && pos < text.size(); ++i) NextCodePoint(text, pos);
  return text.substr(0, pos);
}

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x137) return c | 1;
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return c | 1;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

char32_t ToUpper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137) return c & ~char32_t{1};
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c : c - 1;
  if (c >= 0x14A && c <= 0x177) return c & ~char32_t{1};
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c : c - 1;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

namespace {

template <typename F>
std::string MapText(std::string_view text, F f) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) AppendUtf8(out, f(NextCodePoint(text, pos)));
  return out;
}

// The letter an accented Latin letter sorts with, so that "ä" sorts between "a" and "b".
char32_t BaseLetter(char32_t c) {
  c = FoldCase(c);
  if (c == 0xDF) return 's';
  if (c < 0xE0 || c > 0xFF) {
    if (c >= 0x100 && c <= 0x17F) {
      static const char kBase[] =
          "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiiiiijjkkklllllll"
          "lllnnnnnnnnnoooooooorrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";
      size_t index = c - 0x100;
      if (index < sizeof kBase - 1) return static_cast<unsigned char>(kBase[index]);
    }
    return c;
  }
  static const char kLatin1[] = "aaaaaaaceeeeiiiidnooooo/ouuuuyts";  // U+00E0..U+00FF
  char32_t base = static_cast<unsigned char>(kLatin1[c - 0xE0]);
  if (c == 0xFF) return 'y';
  if (c == 0xF7) return c;
  return base;
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

std::string Lower(std::string_view text) { return MapText(text, FoldCase); }
std::string Upper(std::string_view text) { return MapText(text, ToUpper); }

int CollateCompare(std::string_view a, std::string_view b) {
  a = TrimTrailingBlanks(a);
  b = TrimTrailingBlanks(b);
  // Primary weight: letters without case and accents; only when those are equal do the
  // accents decide.
  int secondary = 0;
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t x = FoldCase(NextCodePoint(a, i));
    char32_t y = FoldCase(NextCodePoint(b, j));
    if (x == y) continue;
    char32_t bx = BaseLetter(x), by = BaseLetter(y);
    if (bx != by) return bx < by ? -1 : 1;
    if (secondary == 0) secondary = x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return secondary;
}

int BinaryCompare(std::string_view a, std::string_view b) {
  int order = TrimTrailingBlanks(a).compare(TrimTrailingBlanks(b));
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

namespace {

std::vector<char32_t> Decode(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) out.push_back(FoldCase(NextCodePoint(text, pos)));
  return out;
}

// One pattern element: a literal, "_" or a set.
struct Element {
  enum Kind { kLiteral, kAny, kSet, kRun } kind = kLiteral;
  char32_t literal = 0;
  bool negate = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;
  bool Matches(char32_t c) const {
    switch (kind) {
      case kLiteral:
        return c == literal;
      case kAny:
        return true;
      case kSet: {
        bool in = false;
        for (auto [lo, hi] : ranges) in = in || (c >= lo && c <= hi);
        return in != negate;
      }
      case kRun:
        return true;
    }
    return false;
  }
};

std::vector<Element> Compile(const std::vector<char32_t>& p, char32_t escape) {
  std::vector<Element> out;
  for (size_t i = 0; i < p.size(); ++i) {
    Element e;
    char32_t c = p[i];
    if (escape != 0 && c == escape && i + 1 < p.size()) {
      e.literal = p[++i];
    } else if (c == '%') {
      if (!out.empty() && out.back().kind == Element::kRun) continue;
      e.kind = Element::kRun;
    } else if (c == '_') {
      e.kind = Element::kAny;
    } else if (c == '[') {
      size_t close = i + 1;
      if (close < p.size() && p[close] == '^') ++close;
      if (close < p.size() && p[close] == ']') ++close;  // "[]" and "[^]": ']' is a member
      while (close < p.size() && p[close] != ']') ++close;
      if (close >= p.size()) {
        e.literal = c;  // an unclosed bracket is an ordinary character
      } else {
        e.kind = Element::kSet;
        size_t k = i + 1;
        if (p[k] == '^') {
          e.negate = true;
          ++k;
        }
        for (; k < close; ++k) {
          if (k + 2 < close && p[k + 1] == '-') {
            e.ranges.emplace_back(p[k], p[k + 2]);
            k += 2;
          } else {
            e.ranges.emplace_back(p[k], p[k]);
          }
        }
        i = close;
      }
    } else {
      e.literal = c;
    }
    out.push_back(std::move(e));
  }
  return out;
}

// One attempt from element e at character t: greedy with back-tracking to the last run, as for
// glob patterns. Reaching element done_at is a match (only runs follow it), and so is the end of
// the pattern at or after character unblank (only blanks follow it).
bool Walk(const std::vector<Element>& elements, const std::vector<char32_t>& s, size_t e, size_t t,
          size_t done_at, size_t unblank = std::string::npos) {
  size_t star_e = std::string::npos, star_t = 0;
  while (t < s.size()) {
    if (e >= done_at) return true;
    if (e == elements.size() && t >= unblank) return true;
    if (e < elements.size() && elements[e].kind == Element::kRun) {
      star_e = e++;
      star_t = t;
    } else if (e < elements.size() && elements[e].Matches(s[t])) {
      ++e;
      ++t;
    } else if (star_e != std::string::npos) {
      e = star_e + 1;
      t = ++star_t;
    } else {
      return false;
    }
  }
  while (e < elements.size() && elements[e].kind == Element::kRun) ++e;
  return e == elements.size();
}

}  // namespace

bool LikeMatch(std::string_view pattern, std::string_view text, char32_t escape,
               bool blanks_optional) {
  const std::vector<char32_t> s = Decode(text);
  size_t unblank = std::string::npos;
  if (blanks_optional) {
    unblank = s.size();
    while (unblank > 0 && s[unblank - 1] == U' ') --unblank;
  }
  return Walk(Compile(Decode(pattern), FoldCase(escape)), s, 0, 0, std::string::npos, unblank);
}

size_t LikePosition(std::string_view pattern, std::string_view text) {
  const std::vector<Element> elements = Compile(Decode(pattern), 0);
  const std::vector<char32_t> s = Decode(text);
  size_t first = 0;  // leading runs let the match begin anywhere
  while (first < elements.size() && elements[first].kind == Element::kRun) ++first;
  size_t tail = elements.size();  // from tail on only runs: a match may end anywhere
  while (tail > first && elements[tail - 1].kind == Element::kRun) --tail;
  const size_t done_at = tail < elements.size() ? tail : std::string::npos;
  auto matches_from = [&](size_t start) { return Walk(elements, s, first, start, done_at); };
  if (first == 0) return matches_from(0) ? 1 : 0;
  for (size_t start = 0; start < s.size(); ++start)
    if (matches_from(start)) return start + 1;
  return 0;
}

}  // namespace sandbox
