#include "sandbox/date_styles.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "sandbox/collation.h"

namespace sandbox {

namespace {

using common::DateTime;

std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yoe = y - era * 400;
  std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool Valid(const DateTime& d) {
  return d.year >= 1753 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= DaysInMonth(d.year, d.month) && d.hour >= 0 && d.hour <= 23 && d.minute >= 0 &&
         d.minute <= 59 && d.second >= 0 && d.second <= 59 && d.millisecond >= 0 &&
         d.millisecond <= 999;
}

// --- writing -------------------------------------------------------------------------------

struct Hijri {
  int year, month, day;
};

// The Kuwaiti algorithm SQL Server uses: the tabular Islamic calendar.
Hijri ToHijri(const DateTime& d) {
  std::int64_t jd = DaysFromCivil(d.year, d.month, d.day) + 2440588;
  std::int64_t l = jd - 1948440 + 10632;
  std::int64_t n = (l - 1) / 10631;
  l = l - 10631 * n + 354;
  std::int64_t j = ((10985 - l) / 5316) * ((50 * l) / 17719) + (l / 5670) * ((43 * l) / 15238);
  l = l - ((30 - j) / 15) * ((17719 * j) / 50) - (j / 16) * ((15238 * j) / 43) + 29;
  std::int64_t m = (24 * l) / 709;
  return {static_cast<int>(30 * n + j - 30), static_cast<int>(m),
          static_cast<int>(l - (709 * m) / 24)};
}

constexpr const char* kHijriMonths[] = {
    "محرم", "صفر",   "ربيع الاول", "ربيع الثاني", "جمادى الاولى", "جمادى الثانية",
    "رجب",  "شعبان", "رمضان",      "شوال",        "ذو القعدة",    "ذو الحجة"};

std::string Format(const char* format, auto... args) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

int Hour12(const DateTime& d) { return d.hour % 12 == 0 ? 12 : d.hour % 12; }
const char* AmPm(const DateTime& d) { return d.hour < 12 ? "AM" : "PM"; }

// Windows' printf writes at least three exponent digits, and SQL Server's texts show them.
std::string WideExponent(std::string text) {
  size_t e = text.find('e');
  if (e == std::string::npos || e + 2 >= text.size()) return text;
  size_t digits = text.size() - (e + 2);
  if (digits < 3) text.insert(e + 2, 3 - digits, '0');
  return text;
}

// --- reading -------------------------------------------------------------------------------

bool Digits(std::string_view s, size_t& pos, int& out, size_t max_digits = 9) {
  size_t start = pos;
  out = 0;
  while (pos < s.size() && pos - start < max_digits && s[pos] >= '0' && s[pos] <= '9')
    out = out * 10 + (s[pos++] - '0');
  return pos > start;
}

void SkipBlanks(std::string_view s, size_t& pos) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
}

// "hh[:mm[:ss[.mmm]]][AM|PM]" from pos to the end.
bool ParseTime(std::string_view s, size_t pos, DateTime& d) {
  SkipBlanks(s, pos);
  if (pos >= s.size()) return true;
  if (!Digits(s, pos, d.hour, 2)) return false;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!Digits(s, pos, d.minute, 2)) return false;
    if (pos < s.size() && s[pos] == ':') {
      ++pos;
      if (!Digits(s, pos, d.second, 2)) return false;
      if (pos < s.size() && (s[pos] == '.' || s[pos] == ':')) {
        ++pos;
        size_t start = pos;
        int fraction = 0;
        if (!Digits(s, pos, fraction, 3)) return false;
        for (size_t n = pos - start; n < 3; ++n) fraction *= 10;
        d.millisecond = fraction;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
      }
    }
  }
  SkipBlanks(s, pos);
  if (pos < s.size()) {
    std::string rest = Lower(s.substr(pos));
    if (rest != "am" && rest != "pm") return false;
    if (d.hour < 1 || d.hour > 12) return false;
    if (rest == "am" && d.hour == 12) d.hour = 0;
    if (rest == "pm" && d.hour != 12) d.hour += 12;
  }
  return true;
}

std::u32string Folded(std::string_view text) {
  std::u32string out;
  for (size_t pos = 0; pos < text.size();) out += FoldCase(NextCodePoint(text, pos));
  return out;
}

// A month name of the language at pos (full or short, any case); 0 when there is none.
int MonthName(std::string_view s, size_t& pos, const Language& language) {
  size_t end = pos;
  while (end < s.size() && s[end] != ' ' && s[end] != ',' && s[end] != '.' &&
         !(s[end] >= '0' && s[end] <= '9'))
    ++end;
  std::u32string word = Folded(s.substr(pos, end - pos));
  if (word.empty()) return 0;
  for (int m = 0; m < 12; ++m) {
    if (word == Folded(language.months[m]) || word == Folded(language.short_months[m])) {
      pos = end;
      if (pos < s.size() && s[pos] == '.') ++pos;
      return m + 1;
    }
  }
  return 0;
}

int FullYear(int year, size_t digits) {
  if (digits > 2) return year;
  return year + (year < 50 ? 2000 : 1900);  // two digit year cutoff 2049
}

// The order a style names for numeric input, if it names one.
std::optional<DateOrder> StyleOrder(int style) {
  switch (style % 100) {
    case 1:
    case 10:
      return DateOrder::kMdy;
    case 3:
    case 4:
    case 5:
    case 6:
    case 13:
      return DateOrder::kDmy;
    case 2:
    case 11:
    case 12:
    case 20:
    case 21:
    case 26:
      return DateOrder::kYmd;
    default:
      return std::nullopt;
  }
}

// Day and month after a leading four-digit year follow the order's relative order of the two:
// under dmy, "2003-12-01" is the 12th of January, as on SQL Server.
bool DayBeforeMonth(DateOrder order) {
  return order == DateOrder::kDmy || order == DateOrder::kYdm || order == DateOrder::kDym;
}

// Places three numbers of a numeric date by the order.
bool PlaceNumbers(DateOrder order, const int (&n)[3], const size_t (&len)[3], DateTime& d) {
  static const char* kPositions[] = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};
  const char* positions = kPositions[static_cast<int>(order)];
  for (int i = 0; i < 3; ++i) {
    switch (positions[i]) {
      case 'm':
        d.month = n[i];
        break;
      case 'd':
        d.day = n[i];
        break;
      default:
        d.year = FullYear(n[i], len[i]);
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> FormatDateStyle(const DateTime& d, int style, const Language& language) {
  const char* mon = language.short_months[d.month - 1];
  int yy = d.year % 100;
  switch (style) {
    case 0:
    case 100:
      return Format("%s %2d %04d %2d:%02d%s", mon, d.day, d.year, Hour12(d), d.minute, AmPm(d));
    case 1:
      return Format("%02d/%02d/%02d", d.month, d.day, yy);
    case 101:
      return Format("%02d/%02d/%04d", d.month, d.day, d.year);
    case 2:
      return Format("%02d.%02d.%02d", yy, d.month, d.day);
    case 102:
      return Format("%04d.%02d.%02d", d.year, d.month, d.day);
    case 3:
      return Format("%02d/%02d/%02d", d.day, d.month, yy);
    case 103:
      return Format("%02d/%02d/%04d", d.day, d.month, d.year);
    case 4:
      return Format("%02d.%02d.%02d", d.day, d.month, yy);
    case 104:
      return Format("%02d.%02d.%04d", d.day, d.month, d.year);
    case 5:
      return Format("%02d-%02d-%02d", d.day, d.month, yy);
    case 105:
      return Format("%02d-%02d-%04d", d.day, d.month, d.year);
    case 6:
      return Format("%02d %s %02d", d.day, mon, yy);
    case 106:
      return Format("%02d %s %04d", d.day, mon, d.year);
    case 7:
      return Format("%s %02d, %02d", mon, d.day, yy);
    case 107:
      return Format("%s %02d, %04d", mon, d.day, d.year);
    case 8:
    case 108:
      return Format("%02d:%02d:%02d", d.hour, d.minute, d.second);
    case 9:
    case 109:
      return Format("%s %2d %04d %2d:%02d:%02d:%03d%s", mon, d.day, d.year, Hour12(d), d.minute,
                    d.second, d.millisecond, AmPm(d));
    case 10:
      return Format("%02d-%02d-%02d", d.month, d.day, yy);
    case 110:
      return Format("%02d-%02d-%04d", d.month, d.day, d.year);
    case 11:
      return Format("%02d/%02d/%02d", yy, d.month, d.day);
    case 111:
      return Format("%04d/%02d/%02d", d.year, d.month, d.day);
    case 12:
      return Format("%02d%02d%02d", yy, d.month, d.day);
    case 112:
      return Format("%04d%02d%02d", d.year, d.month, d.day);
    case 13:
    case 113:
      return Format("%02d %s %04d %02d:%02d:%02d:%03d", d.day, mon, d.year, d.hour, d.minute,
                    d.second, d.millisecond);
    case 14:
    case 114:
      return Format("%02d:%02d:%02d:%03d", d.hour, d.minute, d.second, d.millisecond);
    case 20:
    case 120:
      return Format("%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                    d.second);
    case 21:
    case 121:
      return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day, d.hour, d.minute,
                    d.second, d.millisecond);
    case 126:
      return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03d", d.year, d.month, d.day, d.hour, d.minute,
                    d.second, d.millisecond);
    case 130: {
      Hijri h = ToHijri(d);
      return Format("%02d %s %04d %2d:%02d:%02d:%03d%s", h.day, kHijriMonths[h.month - 1], h.year,
                    Hour12(d), d.minute, d.second, d.millisecond, AmPm(d));
    }
    case 131: {
      Hijri h = ToHijri(d);
      return Format("%02d/%02d/%04d %2d:%02d:%02d:%03d%s", h.day, h.month, h.year, Hour12(d),
                    d.minute, d.second, d.millisecond, AmPm(d));
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::string> FormatMoneyStyle(double value, int style) {
  switch (style) {
    case 0:
      return Format("%.2f", value);
    case 2:
    case 126:
      return Format("%.4f", value);
    case 1: {
      std::string digits = Format("%.2f", std::fabs(value));
      size_t point = digits.find('.');
      for (size_t i = point; i > 3; i -= 3) digits.insert(i - 3, ",");
      return (value < 0 ? "-" : "") + digits;
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::string> FormatFloatStyle(double value, int style, bool real) {
  if (style == 126) style = real ? 1 : 2;
  if (style == 1) return WideExponent(Format("%.7e", value));
  if (style == 2) return WideExponent(Format("%.15e", value));
  return std::nullopt;
}

std::optional<DateTime> ParseDateText(std::string_view text, const DateSettings& settings,
                                      int style) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::string_view s = text;
  const Language& language = *settings.language;
  DateOrder order = StyleOrder(style).value_or(settings.date_order);
  bool iso_style = StyleOrder(style) == DateOrder::kYmd;
  DateTime d;
  d.year = 1900;
  if (s.empty()) return d;  // an empty text is 1900-01-01, as on SQL Server
  size_t pos = 0;
  if (s[0] >= '0' && s[0] <= '9') {
    int first = 0;
    Digits(s, pos, first, 8);
    size_t len = pos;
    char next = pos < s.size() ? s[pos] : '\0';
    if ((len == 8 || len == 6) && (next == '\0' || next == ' ' || next == 'T')) {
      // yyyymmdd and yymmdd are read the same way in every language.
      d.year = len == 8 ? first / 10000 : FullYear(first / 10000, 2);
      d.month = first / 100 % 100;
      d.day = first % 100;
    } else if (next == '/' || next == '-' || next == '.') {
      int n[3] = {first, 0, 0};
      size_t lengths[3] = {len, 0, 0};
      ++pos;
      size_t start = pos;
      if (!Digits(s, pos, n[1], 4) || pos >= s.size() || s[pos] != next) return std::nullopt;
      lengths[1] = pos - start;
      start = ++pos;
      if (!Digits(s, pos, n[2], 4)) return std::nullopt;
      lengths[2] = pos - start;
      if (len == 4) {
        bool iso = iso_style || (pos < s.size() && s[pos] == 'T');
        d.year = first;
        bool day_first = !iso && DayBeforeMonth(order);
        d.day = day_first ? n[1] : n[2];
        d.month = day_first ? n[2] : n[1];
      } else {
        PlaceNumbers(order, n, lengths, d);
      }
      if (pos < s.size() && s[pos] == 'T') ++pos;
    } else if (DateTime probe; next == ':' || (next != '\0' && ParseTime(s, 0, probe))) {
      // A time alone: on 1900-01-01.
      d = DateTime{1900, 1, 1};
      pos = 0;
    } else if (next == ' ') {
      // "25 Dec 2003", "2003 Dec 25"
      SkipBlanks(s, pos);
      d.month = MonthName(s, pos, language);
      if (d.month == 0) return std::nullopt;
      SkipBlanks(s, pos);
      if (pos < s.size() && s[pos] == ',') ++pos;
      SkipBlanks(s, pos);
      int second = 0;
      size_t start = pos;
      if (!Digits(s, pos, second, 4)) return std::nullopt;
      if (len == 4) {
        d.year = first;
        d.day = second;
      } else {
        d.day = first;
        d.year = FullYear(second, pos - start);
      }
    } else {
      return std::nullopt;
    }
  } else {
    // "Dec 25 2003", "December 25, 2003"
    d.month = MonthName(s, pos, language);
    if (d.month == 0) return std::nullopt;
    SkipBlanks(s, pos);
    int number = 0;
    size_t start = pos;
    if (!Digits(s, pos, number, 4)) return std::nullopt;
    if (pos - start == 4) {
      // "Dec 2003" is the first of the month.
      d.year = number;
      d.day = 1;
    } else {
      d.day = number;
      if (pos < s.size() && s[pos] == ',') ++pos;
      SkipBlanks(s, pos);
      start = pos;
      if (!Digits(s, pos, d.year, 4)) return std::nullopt;
      d.year = FullYear(d.year, pos - start);
    }
  }
  if (!ParseTime(s, pos, d) || !Valid(d)) return std::nullopt;
  return d;
}

std::optional<DateTime> ParseStorageDate(std::string_view text) {
  static constexpr std::string_view kShape = "0000-00-00 00:00:00.000";
  if (text.size() != kShape.size()) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  auto d = DateTime::Parse(text);
  if (!d || !Valid(*d)) return std::nullopt;
  return d;
}

int WeekdayNumber(const DateTime& d, int datefirst) {
  std::int64_t days = DaysFromCivil(d.year, d.month, d.day);
  int iso = static_cast<int>(((days + 3) % 7 + 7) % 7) + 1;  // 1970-01-01 was a Thursday: 4
  return (iso - datefirst + 7) % 7 + 1;
}

}  // namespace sandbox
