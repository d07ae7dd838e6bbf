#include "sandbox/functions.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>

#include "sandbox/arithmetic.h"
#include "sandbox/builtin_functions.h"
#include "sandbox/collation.h"
#include "sandbox/date_styles.h"
#include "sandbox/fulltext.h"
#include "sandbox/function_support.h"
#include "sandbox/live_variables.h"
#include "sandbox/messages.h"
#include "sandbox/sqlite.h"
#include "sandbox/types.h"

namespace sandbox {

using common::Value;

std::string EncodeFunctionError(const SqlError& error) {
  const ServerMessage& m = error.message();
  return "\x01" + std::to_string(m.number) + "\x01" + std::to_string(m.severity) + "\x01" +
         std::to_string(static_cast<int>(error.scope())) + "\x01" + std::to_string(m.state) +
         "\x01" + m.text;
}

bool DecodeFunctionError(std::string_view text, SqlError* out) {
  if (text.empty() || text[0] != '\x01') return false;
  std::vector<std::string> parts;
  size_t start = 1;
  for (int i = 0; i < 4; ++i) {
    size_t end = text.find('\x01', start);
    if (end == std::string_view::npos) return false;
    parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  *out = SqlError(std::stoi(parts[0]), std::stoi(parts[1]), std::string(text.substr(start)),
                  static_cast<ErrorScope>(std::stoi(parts[2])), std::stoi(parts[3]));
  return true;
}

Value FunctionArg(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return Value(static_cast<long long>(sqlite3_value_int64(v)));
    case SQLITE_FLOAT:
      return Value(sqlite3_value_double(v));
    case SQLITE_TEXT:
      return Value(std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                               static_cast<size_t>(sqlite3_value_bytes(v))));
    case SQLITE_BLOB: {
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_value_blob(v));
      return Value(common::Bytes(data, data + sqlite3_value_bytes(v)));
    }
    default:
      return Value();
  }
}

std::string FunctionTextArg(sqlite3_value* v) {
  const unsigned char* text = sqlite3_value_text(v);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_value_bytes(v)))
              : std::string();
}

void FunctionResult(sqlite3_context* ctx, const Value& value) {
  switch (value.type()) {
    case Value::Type::kNull:
      sqlite3_result_null(ctx);
      break;
    case Value::Type::kBool:
      sqlite3_result_int64(ctx, *value.ToBool() ? 1 : 0);
      break;
    case Value::Type::kInt:
      sqlite3_result_int64(ctx, *value.ToInt());
      break;
    case Value::Type::kDouble:
      sqlite3_result_double(ctx, *value.ToDouble());
      break;
    case Value::Type::kText:
      sqlite3_result_text64(ctx, value.AsText()->data(), value.AsText()->size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
      break;
    case Value::Type::kBinary:
      sqlite3_result_blob64(ctx, value.AsBytes()->data(), value.AsBytes()->size(),
                            SQLITE_TRANSIENT);
      break;
    default: {
      std::string text = value.ToText();
      sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
  }
}

bool AnyNullArg(int argc, sqlite3_value** argv, int count) {
  for (int i = 0; i < std::min(argc, count); ++i)
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  return false;
}

namespace {

int Collate(void*, int la, const void* a, int lb, const void* b) {
  return CollateCompare(std::string_view(static_cast<const char*>(a), static_cast<size_t>(la)),
                        std::string_view(static_cast<const char*>(b), static_cast<size_t>(lb)));
}

// Byte order, which is code point order in UTF-8; trailing blanks still do not count.
int CollateBinary(void*, int la, const void* a, int lb, const void* b) {
  return BinaryCompare(std::string_view(static_cast<const char*>(a), static_cast<size_t>(la)),
                       std::string_view(static_cast<const char*>(b), static_cast<size_t>(lb)));
}

void LikeWith(bool blanks_optional, sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, argc)) return sqlite3_result_null(ctx);
  char32_t escape = 0;
  if (argc == 3) {
    std::string e = FunctionTextArg(argv[2]);
    size_t pos = 0;
    if (!e.empty()) escape = NextCodePoint(e, pos);
  }
  sqlite3_result_int(ctx, LikeMatch(FunctionTextArg(argv[0]), FunctionTextArg(argv[1]), escape,
                                    blanks_optional)
                              ? 1
                              : 0);
}
void Like(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  LikeWith(false, ctx, argc, argv);
}
// LIKE on non-Unicode data: the value's trailing blanks need not be matched.
void LikeNonUnicode(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  LikeWith(true, ctx, argc, argv);
}

// The date settings of the session the function runs for.
DateSettings Dates(sqlite3_context* ctx) {
  auto* host = static_cast<FunctionHost*>(sqlite3_user_data(ctx));
  return host ? host->Dates() : DateSettings{};
}

// tsql_conv(value, kind, length, precision, scale, source_kind, source_scale, fit, style)
void Conv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  GuardFunction(ctx, [&] {
    SqlType target;
    target.kind = static_cast<TypeKind>(sqlite3_value_int(argv[1]));
    target.length = sqlite3_value_int(argv[2]);
    target.precision = sqlite3_value_int(argv[3]);
    target.scale = sqlite3_value_int(argv[4]);
    std::optional<SqlType> source;
    if (sqlite3_value_int(argv[5]) >= 0) {
      source = SqlType{static_cast<TypeKind>(sqlite3_value_int(argv[5]))};
      source->scale = sqlite3_value_int(argv[6]);
    }
    Fit fit = sqlite3_value_int(argv[7]) != 0 ? Fit::kFail : Fit::kCut;
    if (sqlite3_value_type(argv[8]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    DateSettings dates = Dates(ctx);
    FunctionResult(ctx, Convert(FunctionArg(argv[0]), target, fit, source,
                                sqlite3_value_int(argv[8]), &dates));
  });
}

// The server keeps Unicode text as UTF-16: a character beyond the first 65,536 is two units.
sqlite3_int64 Utf16Units(std::string_view text) {
  sqlite3_int64 units = 0;
  for (size_t pos = 0; pos < text.size();) units += NextCodePoint(text, pos) > 0xFFFF ? 2 : 1;
  return units;
}

void Len(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  std::string text = FunctionTextArg(argv[0]);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  sqlite3_result_int64(ctx, Utf16Units(text));
}

// tsql_datalength(value, bytes_per_character)
void DataLength(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  int type = sqlite3_value_type(argv[0]);
  if (type == SQLITE_BLOB) return sqlite3_result_int64(ctx, sqlite3_value_bytes(argv[0]));
  if (type == SQLITE_INTEGER) return sqlite3_result_int64(ctx, 4);
  if (type == SQLITE_FLOAT) return sqlite3_result_int64(ctx, 8);
  std::string text = FunctionTextArg(argv[0]);
  std::int64_t per = sqlite3_value_int(argv[1]);
  if (per <= 0) return sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(text.size()));
  sqlite3_result_int64(ctx, Utf16Units(text) * per);
}

std::string Substring(std::string_view text, std::int64_t start, std::int64_t length) {
  // SUBSTRING counts from 1; a start before 1 eats into the length, as SQL Server does.
  if (length < 0) throw errors::Raise<536>("substring");
  std::int64_t end = start + length;
  if (start < 1) start = 1;
  if (end <= start) return {};
  std::string out;
  size_t pos = 0;
  std::int64_t index = 1;
  while (pos < text.size() && index < end) {
    size_t before = pos;
    NextCodePoint(text, pos);
    if (index >= start) out.append(text.substr(before, pos - before));
    ++index;
  }
  return out;
}

void SubstringFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 3)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_value_blob(argv[0]));
      std::int64_t size = sqlite3_value_bytes(argv[0]);
      std::int64_t start = sqlite3_value_int64(argv[1]), length = sqlite3_value_int64(argv[2]);
      std::int64_t end = std::min(size + 1, start + length);
      start = std::max<std::int64_t>(start, 1);
      common::Bytes out;
      for (std::int64_t i = start; i < end; ++i) out.push_back(data[i - 1]);
      return FunctionResult(ctx, Value(out));
    }
    FunctionResult(ctx, Value(Substring(FunctionTextArg(argv[0]), sqlite3_value_int64(argv[1]),
                                        sqlite3_value_int64(argv[2]))));
  });
}

void Left(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    std::int64_t n = sqlite3_value_int64(argv[1]);
    if (n < 0) throw errors::Raise<536>("left");
    FunctionResult(
        ctx, Value(std::string(CodePointPrefix(FunctionTextArg(argv[0]), static_cast<size_t>(n)))));
  });
}

void Right(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    std::int64_t n = sqlite3_value_int64(argv[1]);
    if (n < 0) throw errors::Raise<536>("right");
    std::string text = FunctionTextArg(argv[0]);
    std::int64_t count = static_cast<std::int64_t>(CodePointCount(text));
    if (n >= count) return FunctionResult(ctx, Value(text));
    FunctionResult(ctx, Value(Substring(text, count - n + 1, n)));
  });
}

void UpperFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  FunctionResult(ctx, Value(Upper(FunctionTextArg(argv[0]))));
}

void LowerFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  FunctionResult(ctx, Value(Lower(FunctionTextArg(argv[0]))));
}

void ReplaceFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 3)) return sqlite3_result_null(ctx);
  std::string text = FunctionTextArg(argv[0]), from = FunctionTextArg(argv[1]),
              to = FunctionTextArg(argv[2]);
  if (from.empty()) return FunctionResult(ctx, Value(text));
  // Matches without regard to case, as the default collation compares.
  std::vector<size_t> offsets;  // byte offset of each code point
  std::u32string folded;
  for (size_t p = 0; p < text.size();) {
    offsets.push_back(p);
    folded += FoldCase(NextCodePoint(text, p));
  }
  offsets.push_back(text.size());
  std::u32string f;
  for (size_t p = 0; p < from.size();) f += FoldCase(NextCodePoint(from, p));
  std::string out;
  size_t i = 0;
  while (i < folded.size()) {
    if (folded.compare(i, f.size(), f) == 0) {
      out += to;
      i += f.size();
    } else {
      out.append(text, offsets[i], offsets[i + 1] - offsets[i]);
      ++i;
    }
  }
  FunctionResult(ctx, Value(out));
}

void Divide(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    bool integers = sqlite3_value_type(argv[0]) == SQLITE_INTEGER &&
                    sqlite3_value_type(argv[1]) == SQLITE_INTEGER;
    if (integers) {
      std::int64_t b = sqlite3_value_int64(argv[1]);
      if (b == 0) throw errors::DivideByZero();
      return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]) / b);
    }
    double b = sqlite3_value_double(argv[1]);
    if (b == 0) throw errors::DivideByZero();
    sqlite3_result_double(ctx, sqlite3_value_double(argv[0]) / b);
  });
}

void Modulo(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    std::int64_t b = sqlite3_value_int64(argv[1]);
    if (b == 0) throw errors::DivideByZero();
    sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]) % b);
  });
}

void BitXor(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]) ^ sqlite3_value_int64(argv[1]));
}

void Power(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  double r = std::pow(sqlite3_value_double(argv[0]), sqlite3_value_double(argv[1]));
  // Beyond 64 bits the double goes on, for the caller's range check to report.
  if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER && std::fabs(r) < 9.2e18)
    return sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(r));
  sqlite3_result_double(ctx, r);
}

void GetDate(sqlite3_context* ctx, int, sqlite3_value**) {
  FunctionResult(ctx, Value(DateTimeToStorage(common::DateTime::Now())));
}

std::optional<common::DateTime> DateArg(sqlite3_context* ctx, sqlite3_value* v) {
  Value value = FunctionArg(v);
  DateSettings dates = Dates(ctx);
  Value storage = Convert(value, SqlType::DateTimeType(), Fit::kCut, std::nullopt, 0, &dates);
  if (auto* text = storage.AsText()) return common::DateTime::Parse(*text);
  return std::nullopt;
}

void DateAddFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 3)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    auto d = DateArg(ctx, argv[2]);
    if (!d) throw errors::DateConversion();
    std::int64_t amount = static_cast<std::int64_t>(std::trunc(sqlite3_value_double(argv[1])));
    auto r = DateAdd(FunctionTextArg(argv[0]), amount, *d);
    if (!r) throw errors::OverflowConverting("datetime");
    FunctionResult(ctx, Value(DateTimeToStorage(*r)));
  });
}

void DateDiffFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 3)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    auto a = DateArg(ctx, argv[1]);
    auto b = DateArg(ctx, argv[2]);
    if (!a || !b) throw errors::DateConversion();
    auto r = DateDiff(FunctionTextArg(argv[0]), *a, *b);
    if (!r) throw errors::Raise<155>(FunctionTextArg(argv[0]), "datediff");
    sqlite3_result_int64(ctx, *r);
  });
}

void DatePartFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    auto d = DateArg(ctx, argv[1]);
    if (!d) throw errors::DateConversion();
    auto r = DatePart(FunctionTextArg(argv[0]), *d, Dates(ctx).datefirst);
    if (!r) throw errors::Raise<155>(FunctionTextArg(argv[0]), "datepart");
    sqlite3_result_int64(ctx, *r);
  });
}

void DateNameFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  GuardFunction(ctx, [&] {
    auto d = DateArg(ctx, argv[1]);
    if (!d) throw errors::DateConversion();
    auto r = DateName(FunctionTextArg(argv[0]), *d, Dates(ctx));
    if (!r) throw errors::Raise<155>(FunctionTextArg(argv[0]), "datepart");
    FunctionResult(ctx, Value(*r));
  });
}

void System(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto* host = static_cast<FunctionHost*>(sqlite3_user_data(ctx));
  GuardFunction(ctx, [&] {
    std::vector<Value> args;
    for (int i = 1; i < argc; ++i) args.push_back(FunctionArg(argv[i]));
    FunctionResult(ctx, host->SystemFunction(FunctionTextArg(argv[0]), args));
  });
}

void Identity(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* host = static_cast<FunctionHost*>(sqlite3_user_data(ctx));
  GuardFunction(ctx,
                [&] { sqlite3_result_int64(ctx, host->NextIdentity(sqlite3_value_int(argv[0]))); });
}

std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yoe = y - era * 400;
  std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

common::DateTime CivilFromDays(std::int64_t z, const common::DateTime& time) {
  z += 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  common::DateTime out = time;
  out.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  out.year = static_cast<int>(yoe + era * 400 + (out.month <= 2 ? 1 : 0));
  return out;
}

enum class Part {
  kYear,
  kQuarter,
  kMonth,
  kDayOfYear,
  kDay,
  kWeek,
  kWeekday,
  kHour,
  kMinute,
  kSecond,
  kMillisecond
};

std::optional<Part> PartFromName(std::string_view name) {
  std::string n = Lower(name);
  if (n == "year" || n == "yy" || n == "yyyy") return Part::kYear;
  if (n == "quarter" || n == "qq" || n == "q") return Part::kQuarter;
  if (n == "month" || n == "mm" || n == "m") return Part::kMonth;
  if (n == "dayofyear" || n == "dy" || n == "y") return Part::kDayOfYear;
  if (n == "day" || n == "dd" || n == "d") return Part::kDay;
  if (n == "week" || n == "wk" || n == "ww") return Part::kWeek;
  if (n == "weekday" || n == "dw") return Part::kWeekday;
  if (n == "hour" || n == "hh") return Part::kHour;
  if (n == "minute" || n == "mi" || n == "n") return Part::kMinute;
  if (n == "second" || n == "ss" || n == "s") return Part::kSecond;
  if (n == "millisecond" || n == "ms") return Part::kMillisecond;
  return std::nullopt;
}

std::int64_t TotalMilliseconds(const common::DateTime& d) {
  return ((DaysFromCivil(d.year, d.month, d.day) * 24 + d.hour) * 60 + d.minute) * 60000 +
         d.second * 1000 + d.millisecond;
}

common::DateTime FromTotalMilliseconds(std::int64_t ms) {
  std::int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  std::int64_t rest = ms - days * 86400000;
  common::DateTime time;
  time.hour = static_cast<int>(rest / 3600000);
  time.minute = static_cast<int>(rest / 60000 % 60);
  time.second = static_cast<int>(rest / 1000 % 60);
  time.millisecond = static_cast<int>(rest % 1000);
  return CivilFromDays(days, time);
}

int DaysIn(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

std::optional<std::int64_t> DatePart(std::string_view part, const common::DateTime& d,
                                     int datefirst) {
  auto p = PartFromName(part);
  if (!p) return std::nullopt;
  std::int64_t days = DaysFromCivil(d.year, d.month, d.day);
  switch (*p) {
    case Part::kYear:
      return d.year;
    case Part::kQuarter:
      return (d.month - 1) / 3 + 1;
    case Part::kMonth:
      return d.month;
    case Part::kDayOfYear:
      return days - DaysFromCivil(d.year, 1, 1) + 1;
    case Part::kDay:
      return d.day;
    case Part::kWeek: {
      // Weeks begin on the DATEFIRST day; the one holding January 1 is the first.
      std::int64_t jan1 = DaysFromCivil(d.year, 1, 1);
      int jan1_weekday = WeekdayNumber(common::DateTime{d.year, 1, 1}, datefirst) - 1;
      return (days - jan1 + jan1_weekday) / 7 + 1;
    }
    case Part::kWeekday:
      return WeekdayNumber(d, datefirst);
    case Part::kHour:
      return d.hour;
    case Part::kMinute:
      return d.minute;
    case Part::kSecond:
      return d.second;
    case Part::kMillisecond:
      return d.millisecond;
  }
  return std::nullopt;
}

std::optional<std::string> DateName(std::string_view part, const common::DateTime& d,
                                    const DateSettings& dates) {
  auto p = PartFromName(part);
  if (!p) return std::nullopt;
  if (*p == Part::kMonth) return std::string(dates.language->months[d.month - 1]);
  if (*p == Part::kWeekday) {
    // days[] begins with Monday whatever DATEFIRST says.
    return std::string(dates.language->days[WeekdayNumber(d, 1) - 1]);
  }
  return std::to_string(*DatePart(part, d, dates.datefirst));
}

std::optional<common::DateTime> DateAdd(std::string_view part, std::int64_t amount,
                                        const common::DateTime& d) {
  auto p = PartFromName(part);
  if (!p) return std::nullopt;
  common::DateTime r = d;
  auto add_months = [&](std::int64_t months) {
    std::int64_t total = static_cast<std::int64_t>(r.year) * 12 + (r.month - 1) + months;
    r.year = static_cast<int>(total / 12);
    r.month = static_cast<int>(total % 12) + 1;
    r.day = std::min(r.day, DaysIn(r.year, r.month));
  };
  std::int64_t ms = 0;
  switch (*p) {
    case Part::kYear:
      add_months(amount * 12);
      break;
    case Part::kQuarter:
      add_months(amount * 3);
      break;
    case Part::kMonth:
      add_months(amount);
      break;
    case Part::kDayOfYear:
    case Part::kDay:
    case Part::kWeekday:
      ms = amount * 86400000;
      break;
    case Part::kWeek:
      ms = amount * 7 * 86400000;
      break;
    case Part::kHour:
      ms = amount * 3600000;
      break;
    case Part::kMinute:
      ms = amount * 60000;
      break;
    case Part::kSecond:
      ms = amount * 1000;
      break;
    case Part::kMillisecond:
      ms = amount;
      break;
  }
  if (ms != 0) r = FromTotalMilliseconds(TotalMilliseconds(r) + ms);
  if (r.year < 1753 || r.year > 9999) return std::nullopt;
  return r;
}

std::optional<std::int64_t> DateDiff(std::string_view part, const common::DateTime& a,
                                     const common::DateTime& b) {
  auto p = PartFromName(part);
  if (!p) return std::nullopt;
  std::int64_t da = DaysFromCivil(a.year, a.month, a.day);
  std::int64_t db = DaysFromCivil(b.year, b.month, b.day);
  switch (*p) {
    case Part::kYear:
      return b.year - a.year;
    case Part::kQuarter:
      return (b.year - a.year) * 4 + (b.month - 1) / 3 - (a.month - 1) / 3;
    case Part::kMonth:
      return (b.year - a.year) * 12 + b.month - a.month;
    case Part::kDayOfYear:
    case Part::kDay:
    case Part::kWeekday:
      return db - da;
    case Part::kWeek: {
      // Week boundaries are Sundays.
      auto week = [](std::int64_t days) {
        std::int64_t shifted = days + 4;
        return shifted >= 0 ? shifted / 7 : -((-shifted + 6) / 7);
      };
      return week(db) - week(da);
    }
    case Part::kHour:
      return (db - da) * 24 + b.hour - a.hour;
    case Part::kMinute:
      return ((db - da) * 24 + b.hour - a.hour) * 60 + b.minute - a.minute;
    case Part::kSecond:
      return (((db - da) * 24 + b.hour - a.hour) * 60 + b.minute - a.minute) * 60 + b.second -
             a.second;
    case Part::kMillisecond:
      return TotalMilliseconds(b) - TotalMilliseconds(a);
  }
  return std::nullopt;
}

void RegisterFunctions(sqlite3* db, FunctionHost* host) {
  sqlite3_create_collation(db, "tsql_ci", SQLITE_UTF8, nullptr, Collate);
  sqlite3_create_collation(db, "tsql_bin", SQLITE_UTF8, nullptr, CollateBinary);
  // SQLite's Bloom filter for joins (3.38 on) tests values by their bytes, so rows equal only
  // under these collations ('ab' and 'AB ') were dropped from joins: the filter is turned off.
  constexpr int kBloomFilter = 0x00080000, kBloomPulldown = 0x00100000;
  sqlite3_test_control(SQLITE_TESTCTRL_OPTIMIZATIONS, db, kBloomFilter | kBloomPulldown);
  constexpr int kPure = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  constexpr int kVolatile = SQLITE_UTF8;
  struct Entry {
    const char* name;
    int args;
    int flags;
    void (*f)(sqlite3_context*, int, sqlite3_value**);
  };
  static const Entry kEntries[] = {
      {"like", 2, kPure, Like},
      {"like", 3, kPure, Like},
      {"tsql_like_ansi", 2, kPure, LikeNonUnicode},
      {"tsql_like_ansi", 3, kPure, LikeNonUnicode},
      {"tsql_conv", 9, kPure, Conv},
      {"tsql_len", 1, kPure, Len},
      {"tsql_datalength", 2, kPure, DataLength},
      {"tsql_substring", 3, kPure, SubstringFunction},
      {"tsql_left", 2, kPure, Left},
      {"tsql_right", 2, kPure, Right},
      {"tsql_upper", 1, kPure, UpperFunction},
      {"tsql_lower", 1, kPure, LowerFunction},
      {"tsql_replace", 3, kPure, ReplaceFunction},
      {"tsql_div", 2, kPure, Divide},
      {"tsql_mod", 2, kPure, Modulo},
      {"tsql_bitxor", 2, kPure, BitXor},
      {"tsql_power", 2, kPure, Power},
      {"tsql_getdate", 0, kVolatile, GetDate},
      {"tsql_dateadd", 3, kPure, DateAddFunction},
      {"tsql_datediff", 3, kPure, DateDiffFunction},
      {"tsql_datepart", 2, kPure, DatePartFunction},
      {"tsql_datename", 2, kPure, DateNameFunction},
  };
  // The host goes to every function: conversions and date parts follow the session's language,
  // date order and first day of week.
  for (const Entry& e : kEntries)
    sqlite3_create_function_v2(db, e.name, e.args, e.flags, host, e.f, nullptr, nullptr, nullptr);
  RegisterBuiltinFunctions(db, host);
  RegisterFullTextFunctions(db);
  RegisterArithmeticFunctions(db);
  RegisterVariableFunctions(db);
  if (host) {
    sqlite3_create_function_v2(db, "tsql_sys", -1, kVolatile, host, System, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "tsql_identity", 1, kVolatile, host, Identity, nullptr, nullptr,
                               nullptr);
  }
}

}  // namespace sandbox
