#include "sandbox/arithmetic.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "sandbox/functions.h"
#include "sandbox/messages.h"
#include "sandbox/sql_error.h"

namespace sandbox {

using common::Value;

namespace {

// Digits of a plain decimal number ("-123.45", "+.5", "7."), without its sign and point.
struct Digits {
  bool negative = false;
  std::string whole;     // without leading zeros; empty for 0
  std::string fraction;  // as written
};

std::optional<Digits> ParseDigits(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  Digits out;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    out.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  size_t dot = text.find('.');
  std::string_view whole = text.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  auto all_digits = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!all_digits(whole) || !all_digits(fraction)) return std::nullopt;
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  out.whole = whole;
  out.fraction = fraction;
  return out;
}

// Adds one unit at the last digit of a digit string; true when it grew a digit ("99" -> "100").
bool Increment(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
  return true;
}

std::string Join(const Digits& d, int scale) {
  std::string fraction = d.fraction;
  fraction.resize(static_cast<size_t>(std::max(scale, 0)), '0');
  std::string out = d.whole.empty() ? "0" : d.whole;
  if (!fraction.empty()) out += "." + fraction;
  bool zero = std::all_of(out.begin(), out.end(), [](char c) { return c == '0' || c == '.'; });
  if (d.negative && !zero) out.insert(out.begin(), '-');
  return out;
}

// Rounds (half away from zero, as SQL Server does) or cuts d to length places after the point.
void RoundDigits(Digits& d, int length, bool truncate) {
  if (length >= 0) {
    if (d.fraction.size() <= static_cast<size_t>(length)) return;
    bool up = !truncate && d.fraction[static_cast<size_t>(length)] >= '5';
    // Places given up become zeros, so the value keeps the scale of its type.
    std::string kept = d.whole + d.fraction.substr(0, static_cast<size_t>(length));
    size_t dropped = d.fraction.size() - static_cast<size_t>(length);
    if (up && Increment(kept)) {
      d.whole = kept.substr(0, d.whole.size() + 1);
    } else {
      d.whole = kept.substr(0, d.whole.size());
    }
    d.fraction = kept.substr(d.whole.size()) + std::string(dropped, '0');
    while (!d.whole.empty() && d.whole.front() == '0') d.whole.erase(d.whole.begin());
    return;
  }
  size_t places = static_cast<size_t>(-length);
  std::fill(d.fraction.begin(), d.fraction.end(), '0');
  if (d.whole.size() < places) {
    d.whole.clear();  // rounded away on the left: 0
    return;
  }
  size_t keep = d.whole.size() - places;
  bool up = !truncate && d.whole[keep] >= '5';
  std::string head = d.whole.substr(0, keep);
  if (up) {
    if (head.empty()) head = "0";
    Increment(head);
  }
  d.whole = head.empty() ? std::string() : head + std::string(places, '0');
  while (!d.whole.empty() && d.whole.front() == '0') d.whole.erase(d.whole.begin());
}

std::int64_t Pow10(int n) {
  std::int64_t out = 1;
  for (int i = 0; i < n && i < 18; ++i) out *= 10;
  return out;
}

// The text of a double as the decimal of that scale it stands for.
std::string DecimalText(double v, int scale) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", std::clamp(scale, 0, 38), v);
  return buffer;
}

Value Finish(const Digits& d, const SqlType& type) {
  if (static_cast<int>(d.whole.size()) > type.precision - type.scale)
    throw errors::OverflowConverting(type.Name());
  std::string text = Join(d, type.scale);
  if (type.scale == 0) {
    std::int64_t whole = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
    if (ec == std::errc() && end == text.data() + text.size()) return Value(whole);
    return Value(text);
  }
  return Value(std::strtod(text.c_str(), nullptr));
}

void ResultValue(sqlite3_context* ctx, const Value& value) {
  if (value.type() == Value::Type::kInt) return sqlite3_result_int64(ctx, *value.ToInt());
  if (value.type() == Value::Type::kDouble) return sqlite3_result_double(ctx, *value.ToDouble());
  const std::string& text = *value.AsText();
  sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

template <typename F>
void Guarded(sqlite3_context* ctx, F body) {
  try {
    body();
  } catch (const SqlError& e) {
    std::string text = EncodeFunctionError(e);
    sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
  }
}

// tsql_int(value, kind)
void IntegerResult(sqlite3_context* ctx, int, sqlite3_value** argv) {
  int type = sqlite3_value_type(argv[0]);
  auto kind = static_cast<TypeKind>(sqlite3_value_int(argv[1]));
  std::int64_t low = INT64_MIN, high = INT64_MAX;
  switch (kind) {
    case TypeKind::kTinyInt:
      low = 0, high = 255;
      break;
    case TypeKind::kSmallInt:
      low = -32768, high = 32767;
      break;
    case TypeKind::kInt:
      low = INT32_MIN, high = INT32_MAX;
      break;
    default:
      break;
  }
  if (type == SQLITE_INTEGER) {
    std::int64_t v = sqlite3_value_int64(argv[0]);
    if (v >= low && v <= high) return sqlite3_result_int64(ctx, v);
  } else if (type == SQLITE_FLOAT) {
    // SQLite goes over to floating point when 64 bits overflow; in range it is a whole number
    // that came from a function computing in doubles.
    double v = std::trunc(sqlite3_value_double(argv[0]));
    if (v >= static_cast<double>(low) && v < static_cast<double>(high) + 1.0 &&
        v < 9223372036854775807.0)
      return sqlite3_result_int64(ctx, static_cast<std::int64_t>(v));
  } else {
    return sqlite3_result_value(ctx, argv[0]);
  }
  Guarded(ctx, [&] { throw errors::OverflowConverting(SqlType{kind}.Name(), 2); });
}

// tsql_round(value, length, function, precision, scale)
void Round(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
    return sqlite3_result_null(ctx);
  Guarded(ctx, [&] {
    std::int64_t length64 = sqlite3_value_int64(argv[1]);
    int length = static_cast<int>(std::clamp<std::int64_t>(length64, -100, 100));
    bool truncate = sqlite3_value_type(argv[2]) != SQLITE_NULL && sqlite3_value_int64(argv[2]) != 0;
    SqlType type{TypeKind::kNumeric, 0, sqlite3_value_int(argv[3]), sqlite3_value_int(argv[4])};
    if (type.precision == 0) {
      double v = sqlite3_value_double(argv[0]);
      double unit = std::pow(10.0, length);
      double scaled = v * unit;
      double r = (truncate ? std::trunc(scaled) : std::round(scaled)) / unit;
      return sqlite3_result_double(ctx, std::isfinite(r) ? r : v);
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER && type.scale == 0) {
      std::int64_t v = sqlite3_value_int64(argv[0]);
      if (length >= 0) return sqlite3_result_int64(ctx, v);
      if (length <= -19) return sqlite3_result_int64(ctx, 0);
      std::int64_t unit = Pow10(-length);
      std::int64_t rest = v % unit;
      std::int64_t base = v - rest;
      // Half away from zero; the carry may leave 64 bits, which the caller's type check reports.
      if (!truncate && (rest >= unit / 2 || -rest >= unit / 2)) {
        double carried = static_cast<double>(base) + static_cast<double>(rest > 0 ? unit : -unit);
        if (carried >= 9223372036854775807.0 || carried < -9223372036854775807.0)
          return sqlite3_result_double(ctx, carried);
        base += rest > 0 ? unit : -unit;
      }
      return sqlite3_result_int64(ctx, base);
    }
    std::string text = sqlite3_value_type(argv[0]) == SQLITE_TEXT
                           ? reinterpret_cast<const char*>(sqlite3_value_text(argv[0]))
                           : DecimalText(sqlite3_value_double(argv[0]), type.scale);
    auto digits = ParseDigits(text);
    if (!digits) throw errors::ConversionFailed(text, type.Name());
    digits->fraction.resize(static_cast<size_t>(type.scale), '0');
    RoundDigits(*digits, length, truncate);
    ResultValue(ctx, Finish(*digits, type));
  });
}

void ManyRows(sqlite3_context* ctx, int, sqlite3_value**) {
  Guarded(ctx, [&] { throw errors::Raise<512>(); });
}

int DecimalDigits(const SqlType& t, int* scale) {
  if (t.IsInteger() || t.kind == TypeKind::kBit) {
    *scale = 0;
    return t.Precision();
  }
  *scale = t.scale;
  bool exact = t.kind == TypeKind::kDecimal || t.kind == TypeKind::kNumeric;
  return exact ? std::max(t.precision, 1) : 38;
}

}  // namespace

SqlType DecimalResultType(char op, const SqlType& a, const SqlType& b) {
  int s1 = 0, s2 = 0;
  int p1 = DecimalDigits(a, &s1), p2 = DecimalDigits(b, &s2);
  int p = 0, s = 0;
  switch (op) {
    case '*':
      p = p1 + p2 + 1;
      s = s1 + s2;
      break;
    case '/':
      s = std::max(6, s1 + p2 + 1);
      p = p1 - s1 + s2 + s;
      break;
    case '%':
      s = std::max(s1, s2);
      p = std::min(p1 - s1, p2 - s2) + s;
      break;
    default:  // + and -
      s = std::max(s1, s2);
      p = std::max(p1 - s1, p2 - s2) + s + 1;
      break;
  }
  // Beyond 38 digits the scale gives way, never below what the integer part needs.
  if (p > 38) {
    s = std::max(0, s - (p - 38));
    p = 38;
  }
  SqlType out{a.kind == TypeKind::kDecimal || b.kind == TypeKind::kDecimal ? TypeKind::kDecimal
                                                                           : TypeKind::kNumeric};
  out.precision = std::max(p, 1);
  out.scale = std::min(s, out.precision);
  return out;
}

std::optional<std::string> RoundDecimalText(std::string_view text, int length, bool truncate) {
  auto digits = ParseDigits(text);
  if (!digits) return std::nullopt;
  int scale = static_cast<int>(digits->fraction.size());
  RoundDigits(*digits, length, truncate);
  return Join(*digits, scale);
}

Value DecimalFromText(std::string_view text, const SqlType& target) {
  auto digits = ParseDigits(text);
  if (!digits) throw errors::ConversionFailed(text, target.Name());
  RoundDigits(*digits, target.scale, false);
  return Finish(*digits, target);
}

void RegisterArithmeticFunctions(sqlite3* db) {
  constexpr int kPure = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function_v2(db, "tsql_int", 2, kPure, nullptr, IntegerResult, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(db, "tsql_round", 5, kPure, nullptr, Round, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "tsql_many_rows", 0, kPure, nullptr, ManyRows, nullptr, nullptr,
                             nullptr);
}

}  // namespace sandbox
