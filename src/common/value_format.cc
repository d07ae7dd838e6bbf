#include "common/value_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <vector>

namespace common {

namespace {

constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && EqualsNoCase(text.substr(at, prefix.size()), prefix);
}

// Copies a quoted literal or a backslash escape starting at `i` to `out` and moves `i` past it.
// Returns false when the character at `i` starts neither.
bool TakeLiteral(std::string_view pattern, size_t& i, std::string* out) {
  if (pattern[i] == '"') {
    size_t end = pattern.find('"', i + 1);
    if (end == std::string_view::npos) end = pattern.size();
    if (out) out->append(pattern.substr(i + 1, end - i - 1));
    i = std::min(end + 1, pattern.size());
    return true;
  }
  if (pattern[i] == '\\') {
    if (i + 1 < pattern.size() && out) out->push_back(pattern[i + 1]);
    i = std::min(i + 2, pattern.size());
    return true;
  }
  return false;
}

// The pattern's sections, split at ";" outside quotes and escapes.
std::vector<std::string_view> SplitSections(std::string_view pattern) {
  std::vector<std::string_view> sections;
  size_t start = 0, i = 0;
  while (i < pattern.size()) {
    if (TakeLiteral(pattern, i, nullptr)) continue;
    if (pattern[i] == ';') {
      sections.push_back(pattern.substr(start, i - start));
      start = i + 1;
    }
    ++i;
  }
  sections.push_back(pattern.substr(start));
  return sections;
}

struct PatternKind {
  bool digits = false;  // 0 or #
  bool date = false;    // d m y h n s w q c ttttt AM/PM A/P
  bool text = false;    // @ &
};

PatternKind Classify(std::string_view pattern) {
  PatternKind kind;
  size_t i = 0;
  while (i < pattern.size()) {
    if (TakeLiteral(pattern, i, nullptr)) continue;
    char c = LowerAscii(pattern[i]);
    if (c == '0' || c == '#') kind.digits = true;
    if (c == '@' || c == '&') kind.text = true;
    if (std::string_view("dmyhnswqc").find(c) != std::string_view::npos ||
        StartsWithNoCase(pattern, i, "ttttt") || StartsWithNoCase(pattern, i, "am/pm") ||
        StartsWithNoCase(pattern, i, "a/p")) {
      kind.date = true;
    }
    ++i;
  }
  return kind;
}

// ---- Dates ---------------------------------------------------------------------------------

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

const std::int64_t kSerialBase = DaysFromCivil(1899, 12, 30);

bool IsValidDate(const DateTime& d) {
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 || d.hour < 0 ||
      d.hour > 23 || d.minute < 0 || d.minute > 59 || d.second < 0 || d.second > 59) {
    return false;
  }
  int y, m, day;
  CivilFromDays(DaysFromCivil(d.year, d.month, 1) + d.day - 1, y, m, day);
  return m == d.month;  // rejects 31 April and 29 February of common years
}

std::int64_t DaysOf(const DateTime& d) { return DaysFromCivil(d.year, d.month, d.day); }

int Weekday(const DateTime& d) {         // 1 = Sunday
  std::int64_t w = (DaysOf(d) + 4) % 7;  // 1970-01-01 was a Thursday
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

int DayOfYear(const DateTime& d) {
  return static_cast<int>(DaysOf(d) - DaysFromCivil(d.year, 1, 1)) + 1;
}

int WeekOfYear(const DateTime& d) {
  DateTime first{d.year, 1, 1};
  return (DayOfYear(d) - 1 + Weekday(first) - 1) / 7 + 1;
}

std::string PaddedNumber(int n, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, n);
  return buffer;
}

std::string TwoDigits(int n) { return PaddedNumber(n, 2); }

std::string FourDigits(int n) { return PaddedNumber(n, 4); }

bool HasAmPm(std::string_view pattern) {
  size_t i = 0;
  while (i < pattern.size()) {
    if (TakeLiteral(pattern, i, nullptr)) continue;
    if (StartsWithNoCase(pattern, i, "am/pm") || StartsWithNoCase(pattern, i, "a/p") ||
        StartsWithNoCase(pattern, i, "ampm")) {
      return true;
    }
    ++i;
  }
  return false;
}

constexpr std::string_view kShortDate = "m/d/yyyy";
constexpr std::string_view kLongDate = "dddd, mmmm d, yyyy";
constexpr std::string_view kLongTime = "h:nn:ss AM/PM";

std::string FormatDate(const DateTime& d, std::string_view pattern);

std::string GeneralDate(const DateTime& d) {
  bool has_date = DaysOf(d) != kSerialBase;
  bool has_time = d.hour != 0 || d.minute != 0 || d.second != 0;
  std::string out;
  if (has_date) out = FormatDate(d, kShortDate);
  if (has_time || !has_date) {
    if (!out.empty()) out += ' ';
    out += FormatDate(d, kLongTime);
  }
  return out;
}

std::string FormatDate(const DateTime& d, std::string_view pattern) {
  const bool twelve_hour = HasAmPm(pattern);
  std::string out;
  bool after_hour = false;  // "m" right after "h" is the minute
  size_t i = 0;
  auto take = [&](std::string_view token) {
    if (!StartsWithNoCase(pattern, i, token)) return false;
    i += token.size();
    return true;
  };
  while (i < pattern.size()) {
    if (TakeLiteral(pattern, i, &out)) continue;
    bool was_after_hour = after_hour;
    after_hour = false;
    int hour12 = d.hour % 12 == 0 ? 12 : d.hour % 12;
    int hour = twelve_hour ? hour12 : d.hour;
    if (StartsWithNoCase(pattern, i, "am/pm") || StartsWithNoCase(pattern, i, "a/p") ||
        StartsWithNoCase(pattern, i, "ampm")) {
      bool full = !StartsWithNoCase(pattern, i, "a/p");
      bool upper = pattern[i] == 'A';
      // Spelled out rather than lower-cased in place: GCC 12 misreads the transform at -O3.
      const char* mark = d.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
      out.append(mark, full ? 2 : 1);
      i += StartsWithNoCase(pattern, i, "am/pm") ? 5 : (full ? 4 : 3);
    } else if (take("ttttt")) {
      out += FormatDate(d, kLongTime);
    } else if (take("dddddd")) {
      out += FormatDate(d, kLongDate);
    } else if (take("ddddd")) {
      out += FormatDate(d, kShortDate);
    } else if (take("dddd")) {
      out += kDayNames[Weekday(d) - 1];
    } else if (take("ddd")) {
      out += std::string(kDayNames[Weekday(d) - 1]).substr(0, 3);
    } else if (take("dd")) {
      out += TwoDigits(d.day);
    } else if (take("d")) {
      out += std::to_string(d.day);
    } else if (take("ww")) {
      out += std::to_string(WeekOfYear(d));
    } else if (take("w")) {
      out += std::to_string(Weekday(d));
    } else if (take("mmmm")) {
      out += kMonthNames[d.month - 1];
    } else if (take("mmm")) {
      out += std::string(kMonthNames[d.month - 1]).substr(0, 3);
    } else if (take("mm")) {
      out += TwoDigits(was_after_hour ? d.minute : d.month);
    } else if (take("m")) {
      out += std::to_string(was_after_hour ? d.minute : d.month);
    } else if (take("q")) {
      out += std::to_string((d.month - 1) / 3 + 1);
    } else if (take("yyyy")) {
      out += FourDigits(d.year);
    } else if (take("yy")) {
      out += TwoDigits(d.year % 100);
    } else if (take("y")) {
      out += std::to_string(DayOfYear(d));
    } else if (take("hh")) {
      out += TwoDigits(hour);
      after_hour = true;
    } else if (take("h")) {
      out += std::to_string(hour);
      after_hour = true;
    } else if (take("nn")) {
      out += TwoDigits(d.minute);
    } else if (take("n")) {
      out += std::to_string(d.minute);
    } else if (take("ss")) {
      out += TwoDigits(d.second);
    } else if (take("s")) {
      out += std::to_string(d.second);
    } else if (take("c")) {
      out += GeneralDate(d);
    } else {
      // Separators and everything else stand for themselves; they do not break "h:mm".
      after_hour = was_after_hour;
      out += pattern[i++];
    }
  }
  return out;
}

// ---- Numbers -------------------------------------------------------------------------------

// A non-negative decimal number: 0.<digits> times 10^point. Working on decimal digits keeps the
// rounding half away from zero on the number as written (2.5 -> 3, 0.125 -> 0.13).
struct Decimal {
  std::string digits;  // significant digits without leading or trailing zeros; empty is zero
  int point = 0;

  bool IsZero() const { return digits.empty(); }

  void Normalize() {
    size_t lead = digits.find_first_not_of('0');
    if (lead == std::string::npos) {
      digits.clear();
      point = 0;
      return;
    }
    digits.erase(0, lead);
    point -= static_cast<int>(lead);
    digits.erase(digits.find_last_not_of('0') + 1);
  }

  // Keeps the first `keep` digits, rounding half away from zero.
  void Round(int keep) {
    if (keep >= static_cast<int>(digits.size())) return;
    if (keep < 0) {
      digits.clear();
      point = 0;
      return;
    }
    bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (up) {
      int i = keep - 1;
      while (i >= 0 && digits[static_cast<size_t>(i)] == '9')
        digits[static_cast<size_t>(i--)] = '0';
      if (i < 0) {
        digits.insert(digits.begin(), '1');
        ++point;
      } else {
        ++digits[static_cast<size_t>(i)];
      }
    }
    Normalize();
  }

  std::string IntegerDigits() const {
    if (IsZero() || point <= 0) return "";
    std::string out = digits.substr(0, static_cast<size_t>(point));
    out.resize(static_cast<size_t>(point), '0');
    return out;
  }

  // The number with all its digits and no exponent: "1234.5", "0.001", "0".
  std::string PlainText() const {
    std::string whole = IntegerDigits();
    std::string out = whole.empty() ? "0" : whole;
    int fraction = static_cast<int>(digits.size()) - std::max(point, 0);
    if (!IsZero() && fraction > 0) out += "." + FractionDigits(fraction - std::min(point, 0));
    return out;
  }

  std::string FractionDigits(int count) const {
    std::string out;
    for (int i = 0; i < count; ++i) {
      long long at = static_cast<long long>(point) + i;
      out += (!IsZero() && at >= 0 && at < static_cast<long long>(digits.size()))
                 ? digits[static_cast<size_t>(at)]
                 : '0';
    }
    return out;
  }
};

Decimal DecimalFromDigits(std::string digits) {
  Decimal d;
  d.point = static_cast<int>(digits.size());
  d.digits = std::move(digits);
  d.Normalize();
  return d;
}

Decimal DecimalFromDouble(double v) {  // v finite, >= 0
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific);
  if (ec != std::errc()) return Decimal{};
  std::string_view text(buffer, static_cast<size_t>(end - buffer));
  size_t e = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  int exponent = 0;
  std::string_view exp_text = text.substr(e + 1);
  if (!exp_text.empty() && exp_text[0] == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  Decimal d;
  d.digits = digits;
  d.point = exponent + 1;
  d.Normalize();
  return d;
}

// A number to format: its sign and magnitude.
struct Number {
  bool negative = false;
  Decimal magnitude;
};

enum class Tok { kZero, kHash, kPoint, kComma, kPercent, kExp, kLiteral };

struct Token {
  Tok kind;
  std::string text;
};

std::vector<Token> TokenizeNumber(std::string_view section) {
  std::vector<Token> tokens;
  bool seen_point = false, seen_exp = false;
  size_t i = 0;
  while (i < section.size()) {
    std::string literal;
    if (TakeLiteral(section, i, &literal)) {
      tokens.push_back({Tok::kLiteral, literal});
      continue;
    }
    char c = section[i];
    if (c == '0') {
      tokens.push_back({Tok::kZero, ""});
    } else if (c == '#') {
      tokens.push_back({Tok::kHash, ""});
    } else if (c == '.' && !seen_point && !seen_exp) {
      seen_point = true;
      tokens.push_back({Tok::kPoint, ""});
    } else if (c == ',') {
      tokens.push_back({Tok::kComma, ""});
    } else if (c == '%') {
      tokens.push_back({Tok::kPercent, ""});
    } else if ((c == 'E' || c == 'e') && !seen_exp && i + 1 < section.size() &&
               (section[i + 1] == '+' || section[i + 1] == '-')) {
      seen_exp = true;
      tokens.push_back({Tok::kExp, std::string(section.substr(i, 2))});
      ++i;
    } else {
      tokens.push_back({Tok::kLiteral, std::string(1, c)});
    }
    ++i;
  }
  return tokens;
}

bool IsPlaceholder(const Token& t) { return t.kind == Tok::kZero || t.kind == Tok::kHash; }

// Places the integer digits into the integer part's placeholders, right to left: digits beyond
// the leftmost placeholder all go there, literals between placeholders stay in place.
std::string EmitInteger(const std::vector<Token>& tokens, std::string digits, bool grouping) {
  size_t leftmost = tokens.size();
  size_t required = 0;
  bool seen_zero = false;
  for (size_t k = 0; k < tokens.size(); ++k) {
    if (!IsPlaceholder(tokens[k])) continue;
    if (leftmost == tokens.size()) leftmost = k;
    if (tokens[k].kind == Tok::kZero) seen_zero = true;
    if (seen_zero) ++required;
  }
  if (digits.size() < required) digits.insert(0, required - digits.size(), '0');

  std::string reversed;
  size_t remaining = digits.size();
  size_t emitted = 0;
  auto emit_digit = [&] {
    if (grouping && emitted > 0 && emitted % 3 == 0) reversed += ',';
    reversed += digits[--remaining];
    ++emitted;
  };
  for (size_t k = tokens.size(); k-- > 0;) {
    const Token& t = tokens[k];
    if (IsPlaceholder(t)) {
      if (k == leftmost) {
        while (remaining > 0) emit_digit();
      } else if (remaining > 0) {
        emit_digit();
      }
    } else if (t.kind == Tok::kLiteral) {
      reversed.append(t.text.rbegin(), t.text.rend());
    } else if (t.kind == Tok::kPercent) {
      reversed += '%';
    }
  }
  return std::string(reversed.rbegin(), reversed.rend());
}

// Fills the fraction placeholders left to right; trailing zeros under "#" are left out.
std::string EmitFraction(const std::vector<Token>& tokens, const std::string& digits) {
  std::vector<size_t> placeholders;
  for (size_t k = 0; k < tokens.size(); ++k) {
    if (IsPlaceholder(tokens[k])) placeholders.push_back(k);
  }
  size_t shown = placeholders.size();
  while (shown > 0 && tokens[placeholders[shown - 1]].kind == Tok::kHash &&
         digits[shown - 1] == '0') {
    --shown;
  }
  std::string out;
  size_t next = 0;
  for (const Token& t : tokens) {
    if (IsPlaceholder(t)) {
      if (next < shown) out += digits[next];
      ++next;
    } else if (t.kind == Tok::kLiteral) {
      out += t.text;
    } else if (t.kind == Tok::kPercent) {
      out += '%';
    }
  }
  return out;
}

std::string EmitExponent(const Token& exp, const std::vector<Token>& tokens, int exponent) {
  size_t min_digits = 0;
  for (const Token& t : tokens) {
    if (t.kind == Tok::kZero) ++min_digits;
  }
  std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
  if (digits.size() < min_digits) digits.insert(0, min_digits - digits.size(), '0');
  if (min_digits == 0 && exponent == 0) digits.clear();

  std::string out(1, exp.text[0]);
  if (exponent < 0) {
    out += '-';
  } else if (exp.text[1] == '+') {
    out += '+';
  }
  bool placed = false;
  for (const Token& t : tokens) {
    if (IsPlaceholder(t)) {
      if (!placed) out += digits;
      placed = true;
    } else if (t.kind == Tok::kLiteral) {
      out += t.text;
    } else if (t.kind == Tok::kPercent) {
      out += '%';
    }
  }
  if (!placed) out += digits;
  return out;
}

// Formats the magnitude with one section; `with_sign` puts "-" before a negative non-zero result.
std::string FormatNumberSection(const Number& number, std::string_view section, bool with_sign) {
  if (section.empty()) {
    std::string plain = number.magnitude.PlainText();
    return (with_sign && number.negative && !number.magnitude.IsZero()) ? "-" + plain : plain;
  }
  std::vector<Token> tokens = TokenizeNumber(section);
  if (std::none_of(tokens.begin(), tokens.end(), IsPlaceholder)) {
    // A section without digit placeholders is shown as its text ("Yes", "n/a").
    std::string out;
    for (const Token& t : tokens) {
      switch (t.kind) {
        case Tok::kLiteral:
        case Tok::kExp:
          out += t.text;
          break;
        case Tok::kPoint:
          out += '.';
          break;
        case Tok::kComma:
          out += ',';
          break;
        case Tok::kPercent:
          out += '%';
          break;
        default:
          break;
      }
    }
    return out;
  }
  size_t exp_at = tokens.size();
  for (size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].kind == Tok::kExp) {
      exp_at = k;
      break;
    }
  }
  size_t point_at = exp_at;
  for (size_t k = 0; k < exp_at; ++k) {
    if (tokens[k].kind == Tok::kPoint) {
      point_at = k;
      break;
    }
  }
  std::vector<Token> integer(tokens.begin(), tokens.begin() + static_cast<long>(point_at));
  std::vector<Token> fraction;
  if (point_at < exp_at) {
    fraction.assign(tokens.begin() + static_cast<long>(point_at) + 1,
                    tokens.begin() + static_cast<long>(exp_at));
  }
  std::vector<Token> exponent_part;
  if (exp_at < tokens.size()) {
    exponent_part.assign(tokens.begin() + static_cast<long>(exp_at) + 1, tokens.end());
  }

  // Commas between placeholders group thousands; any other comma divides by 1000.
  bool grouping = false;
  int scale = 0;
  std::vector<Token> integer_tokens;
  for (size_t k = 0; k < integer.size(); ++k) {
    if (integer[k].kind != Tok::kComma) {
      integer_tokens.push_back(integer[k]);
      continue;
    }
    if (k + 1 < integer.size() && IsPlaceholder(integer[k + 1])) {
      grouping = true;
    } else {
      ++scale;
    }
  }
  if (std::none_of(integer_tokens.begin(), integer_tokens.end(), IsPlaceholder)) {
    integer_tokens.push_back({Tok::kHash, ""});
  }
  int percents = static_cast<int>(std::count_if(
      tokens.begin(), tokens.end(), [](const Token& t) { return t.kind == Tok::kPercent; }));
  int integer_places =
      static_cast<int>(std::count_if(integer_tokens.begin(), integer_tokens.end(), IsPlaceholder));
  int fraction_places =
      static_cast<int>(std::count_if(fraction.begin(), fraction.end(), IsPlaceholder));

  Decimal value = number.magnitude;
  if (!value.IsZero()) value.point += 2 * percents - 3 * scale;
  int exponent = 0;
  if (exp_at < tokens.size()) {
    if (!value.IsZero()) {
      value.Round(integer_places + fraction_places);
      exponent = value.point - integer_places;
      value.point = integer_places;
    }
  } else {
    value.Round(value.point + fraction_places);
  }

  std::string out;
  if (with_sign && number.negative && !value.IsZero()) out += '-';
  out += EmitInteger(integer_tokens, value.IntegerDigits(), grouping);
  if (point_at < exp_at) {
    out += '.';
    out += EmitFraction(fraction, value.FractionDigits(fraction_places));
  }
  if (exp_at < tokens.size()) out += EmitExponent(tokens[exp_at], exponent_part, exponent);
  return out;
}

std::string FormatNumber(const Number& number, std::string_view pattern) {
  std::vector<std::string_view> sections = SplitSections(pattern);
  auto present = [&](size_t k) { return sections.size() > k && !sections[k].empty(); };
  if (number.magnitude.IsZero() && present(2)) {
    return FormatNumberSection(number, sections[2], false);
  }
  if (number.negative && present(1)) return FormatNumberSection(number, sections[1], false);
  return FormatNumberSection(number, sections[0], true);
}

// ---- Text ----------------------------------------------------------------------------------

std::vector<std::string> SplitCharacters(std::string_view text) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    len = std::min(len, text.size() - i);
    out.emplace_back(text.substr(i, len));
    i += len;
  }
  return out;
}

std::string FormatText(std::string_view text, std::string_view pattern) {
  std::vector<std::string_view> sections = SplitSections(pattern);
  std::string_view section = (text.empty() && sections.size() > 1) ? sections[1] : sections[0];

  struct Piece {
    bool placeholder;
    char kind;  // '@' pads with a blank, '&' with nothing
    std::string literal;
  };
  std::vector<Piece> pieces;
  bool left_to_right = false;
  int case_change = 0;  // -1 lower, 1 upper
  size_t i = 0;
  while (i < section.size()) {
    std::string literal;
    if (TakeLiteral(section, i, &literal)) {
      pieces.push_back({false, 0, literal});
      continue;
    }
    char c = section[i++];
    if (c == '@' || c == '&') {
      pieces.push_back({true, c, ""});
    } else if (c == '!') {
      left_to_right = true;
    } else if (c == '<') {
      case_change = -1;
    } else if (c == '>') {
      case_change = 1;
    } else {
      pieces.push_back({false, 0, std::string(1, c)});
    }
  }

  std::string changed(text);
  if (case_change != 0) {
    std::transform(changed.begin(), changed.end(), changed.begin(),
                   case_change < 0 ? LowerAscii : UpperAscii);
  }
  std::vector<std::string> chars = SplitCharacters(changed);
  size_t places = static_cast<size_t>(
      std::count_if(pieces.begin(), pieces.end(), [](const Piece& p) { return p.placeholder; }));

  std::string out;
  size_t place = 0;
  for (const Piece& p : pieces) {
    if (!p.placeholder) {
      out += p.literal;
      continue;
    }
    std::string fill;
    if (left_to_right) {
      if (place < chars.size()) fill = chars[place];
      if (place + 1 == places) {  // overflow goes to the last placeholder
        for (size_t k = place + 1; k < chars.size(); ++k) fill += chars[k];
      }
    } else {
      size_t missing = places > chars.size() ? places - chars.size() : 0;
      size_t extra = chars.size() > places ? chars.size() - places : 0;
      if (place == 0) {  // overflow goes to the first placeholder
        for (size_t k = 0; k < extra; ++k) fill += chars[k];
      }
      if (place >= missing) fill += chars[place - missing + extra];
    }
    if (fill.empty() && p.kind == '@') fill = " ";
    out += fill;
    ++place;
  }
  return out;
}

// ---- Named formats -------------------------------------------------------------------------

std::optional<std::string_view> NamedDatePattern(std::string_view name) {
  if (EqualsNoCase(name, "Long Date")) return kLongDate;
  if (EqualsNoCase(name, "Medium Date")) return "dd-mmm-yy";
  if (EqualsNoCase(name, "Short Date")) return kShortDate;
  if (EqualsNoCase(name, "Long Time")) return kLongTime;
  if (EqualsNoCase(name, "Medium Time")) return "hh:nn AM/PM";
  if (EqualsNoCase(name, "Short Time")) return "hh:nn";
  if (EqualsNoCase(name, "General Date")) return "c";
  return std::nullopt;
}

std::optional<std::string_view> NamedNumberPattern(std::string_view name) {
  if (EqualsNoCase(name, "Currency")) return "$#,##0.00;($#,##0.00)";
  if (EqualsNoCase(name, "Fixed")) return "0.00";
  if (EqualsNoCase(name, "Standard")) return "#,##0.00";
  if (EqualsNoCase(name, "Percent")) return "0.00%";
  if (EqualsNoCase(name, "Scientific")) return "0.00E+00";
  if (EqualsNoCase(name, "Yes/No")) return "\"Yes\";\"Yes\";\"No\"";
  if (EqualsNoCase(name, "True/False")) return "\"True\";\"True\";\"False\"";
  if (EqualsNoCase(name, "On/Off")) return "\"On\";\"On\";\"Off\"";
  return std::nullopt;
}

std::optional<Number> ToNumber(const Value& value) {
  switch (value.type()) {
    case Value::Type::kBool: {
      // True is -1, as the platform's booleans are.
      bool on = *value.ToBool();
      return Number{on, DecimalFromDigits(on ? "1" : "")};
    }
    case Value::Type::kInt: {
      std::string digits = std::to_string(*value.ToInt());
      bool negative = digits[0] == '-';
      if (negative) digits.erase(0, 1);
      return Number{negative, DecimalFromDigits(digits)};
    }
    case Value::Type::kDouble:
    case Value::Type::kText: {
      std::optional<double> d = value.ToDouble();
      if (!d || !std::isfinite(*d)) return std::nullopt;
      return Number{std::signbit(*d) && *d != 0.0, DecimalFromDouble(std::fabs(*d))};
    }
    case Value::Type::kDateTime: {
      double serial = DateTimeToSerial(*value.AsDateTime());
      return Number{serial < 0, DecimalFromDouble(std::fabs(serial))};
    }
    default:
      return std::nullopt;
  }
}

std::optional<DateTime> ToDate(const Value& value) {
  if (const DateTime* d = value.AsDateTime()) {
    if (IsValidDate(*d)) return *d;
    return std::nullopt;
  }
  if (value.type() == Value::Type::kText) {
    if (value.ToDouble()) return SerialToDateTime(*value.ToDouble());
    std::optional<DateTime> parsed = DateTime::Parse(*value.AsText());
    if (parsed && IsValidDate(*parsed)) return parsed;
    return std::nullopt;
  }
  std::optional<double> serial = value.ToDouble();
  if (!serial) return std::nullopt;
  if (value.type() == Value::Type::kBool && *serial != 0) serial = -1.0;
  return SerialToDateTime(*serial);
}

}  // namespace

double DateTimeToSerial(const DateTime& date) {
  double days = static_cast<double>(DaysOf(date) - kSerialBase);
  double time =
      (date.hour * 3600.0 + date.minute * 60.0 + date.second + date.millisecond / 1000.0) / 86400.0;
  return days >= 0 ? days + time : days - time;
}

std::optional<DateTime> SerialToDateTime(double serial) {
  if (!std::isfinite(serial) || serial <= -657435.0 || serial >= 2958466.0) return std::nullopt;
  double whole = std::trunc(serial);
  std::int64_t days = static_cast<std::int64_t>(whole);
  long long seconds = std::llround(std::fabs(serial - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += serial < 0 ? -1 : 1;
  }
  DateTime d;
  CivilFromDays(days + kSerialBase, d.year, d.month, d.day);
  if (d.year < 100 || d.year > 9999) return std::nullopt;
  d.hour = static_cast<int>(seconds / 3600);
  d.minute = static_cast<int>(seconds / 60 % 60);
  d.second = static_cast<int>(seconds % 60);
  return d;
}

std::string FormatValue(const Value& value, std::string_view pattern) {
  if (pattern.empty()) return value.ToText();

  if (EqualsNoCase(pattern, "General Number")) {
    if (value.type() == Value::Type::kDateTime) {
      return Value(DateTimeToSerial(*value.AsDateTime())).ToText();
    }
    return value.ToText();
  }
  if (std::optional<std::string_view> named = NamedDatePattern(pattern)) {
    std::optional<DateTime> date = ToDate(value);
    return date ? FormatDate(*date, *named) : value.ToText();
  }
  if (std::optional<std::string_view> named = NamedNumberPattern(pattern)) {
    std::optional<Number> number = ToNumber(value);
    return number ? FormatNumber(*number, *named) : value.ToText();
  }

  PatternKind kind = Classify(pattern);
  if (value.IsNull()) {
    std::vector<std::string_view> sections = SplitSections(pattern);
    if (kind.text && sections.size() > 1) return FormatText("", pattern);
    if (!kind.text && !kind.date && sections.size() > 3) {
      return FormatNumberSection(Number{}, sections[3], false);
    }
    return "";
  }
  if (kind.text) return FormatText(value.ToText(), pattern);

  if (kind.date && !kind.digits) {
    std::optional<DateTime> date = ToDate(value);
    return date ? FormatDate(*date, pattern) : value.ToText();
  }
  std::optional<Number> number = ToNumber(value);
  if (!number && value.type() == Value::Type::kText) {
    // A date written as text still formats as a number: its serial day number.
    if (std::optional<DateTime> date = ToDate(value)) number = ToNumber(Value(*date));
  }
  return number ? FormatNumber(*number, pattern) : value.ToText();
}

}  // namespace common
