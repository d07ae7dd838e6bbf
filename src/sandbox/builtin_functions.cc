#include "sandbox/builtin_functions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <optional>
#include <random>

#include "sandbox/collation.h"
#include "sandbox/function_support.h"
#include "sandbox/sql_error.h"
#include "sandbox/types.h"

namespace sandbox {

using common::Value;

namespace {

// --- result types ------------------------------------------------------------------------

SqlType IntResult(const std::vector<TypedSql>&) { return SqlType::Int(); }
SqlType FloatResult(const std::vector<TypedSql>&) { return SqlType::Float(); }

// Text functions give varchar, or nvarchar for Unicode input, of the most they can make.
SqlType LongText(const std::vector<TypedSql>& args) {
  return args[0].type.IsUnicode() ? SqlType::NVarChar(4000) : SqlType::VarChar(8000);
}

// As LongText, but from varchar(max) and text comes varchar(max).
SqlType LongOrMaxText(const std::vector<TypedSql>& args) {
  SqlType type = LongText(args);
  const SqlType& from = args[0].type;
  if (from.IsLarge() || (from.IsCharacter() && from.length < 0)) type.length = -1;
  return type;
}

// REVERSE keeps the input's length; char becomes varchar.
SqlType SameLengthText(const std::vector<TypedSql>& args) {
  const SqlType& t = args[0].type;
  bool unicode = t.IsUnicode();
  int limit = unicode ? 4000 : 8000;
  int length = t.IsCharacter() && !t.IsLarge() && t.length > 0 ? t.length : limit;
  return unicode ? SqlType::NVarChar(length) : SqlType::VarChar(length);
}

SqlType QuoteNameResult(const std::vector<TypedSql>&) { return SqlType::NVarChar(258); }
SqlType SoundexResult(const std::vector<TypedSql>&) { return {TypeKind::kChar, 4}; }
SqlType SpaceResult(const std::vector<TypedSql>&) { return SqlType::VarChar(8000); }

// STR is char of its length argument: char(10) without one.
SqlType StrResult(const std::vector<TypedSql>& args) {
  if (args.size() < 2) return {TypeKind::kChar, 10};
  const TypedSql& length = args[1];
  if (length.literal && length.literal->type == tsql::Literal::Type::kInteger &&
      length.literal->int_value > 0 && length.literal->int_value <= 8000)
    return {TypeKind::kChar, static_cast<int>(length.literal->int_value)};
  return SqlType::VarChar(8000);
}

// FLOOR and CEILING keep the type, without decimal places.
SqlType WholeNumberResult(const std::vector<TypedSql>& args) {
  SqlType t = args[0].type;
  if (t.kind == TypeKind::kDecimal || t.kind == TypeKind::kNumeric) t.scale = 0;
  if (!t.IsNumeric()) t = SqlType::Float();
  return t;
}

SqlType SignResult(const std::vector<TypedSql>& args) {
  return args[0].type.IsNumeric() ? args[0].type : SqlType::Float();
}

SqlType GuidResult(const std::vector<TypedSql>&) { return {TypeKind::kUniqueIdentifier}; }

// --- text --------------------------------------------------------------------------------

std::u32string CodePoints(std::string_view text, bool fold) {
  std::u32string out;
  for (size_t p = 0; p < text.size();) {
    char32_t c = NextCodePoint(text, p);
    out += fold ? FoldCase(c) : c;
  }
  return out;
}

std::string Utf8(std::u32string_view points) {
  std::string out;
  for (char32_t c : points) AppendUtf8(out, c);
  return out;
}

// CHARINDEX(needle, text[, start]): without regard to case, as the default collation compares.
void CharIndex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  std::int64_t start =
      argc > 2 && sqlite3_value_type(argv[2]) != SQLITE_NULL ? sqlite3_value_int64(argv[2]) : 1;
  std::u32string needle = CodePoints(FunctionTextArg(argv[0]), true);
  std::u32string text = CodePoints(FunctionTextArg(argv[1]), true);
  if (needle.empty()) return sqlite3_result_int64(ctx, 0);
  if (start < 1) start = 1;
  if (static_cast<std::uint64_t>(start) > text.size()) return sqlite3_result_int64(ctx, 0);
  size_t found = text.find(needle, static_cast<size_t>(start - 1));
  sqlite3_result_int64(ctx,
                       found == std::u32string::npos ? 0 : static_cast<std::int64_t>(found) + 1);
}

// PATINDEX(pattern, text): where the first match of a LIKE pattern begins.
void PatIndex(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(
                                LikePosition(FunctionTextArg(argv[0]), FunctionTextArg(argv[1]))));
}

// STUFF(text, start, length, insert): NULL for a start outside the text or a negative length;
// a NULL insert only deletes.
void Stuff(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 3)) return sqlite3_result_null(ctx);
  std::u32string text = CodePoints(FunctionTextArg(argv[0]), false);
  std::int64_t start = sqlite3_value_int64(argv[1]);
  std::int64_t length = sqlite3_value_int64(argv[2]);
  if (start < 1 || length < 0 || static_cast<std::uint64_t>(start) > text.size())
    return sqlite3_result_null(ctx);
  size_t from = static_cast<size_t>(start - 1);
  size_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(length), text.size() - from);
  std::string insert = argc > 3 ? FunctionTextArg(argv[3]) : std::string();
  std::string out = Utf8(std::u32string_view(text).substr(0, from)) + insert +
                    Utf8(std::u32string_view(text).substr(from + count));
  FunctionResult(ctx, Value(out));
}

void Reverse(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  std::u32string points = CodePoints(FunctionTextArg(argv[0]), false);
  std::reverse(points.begin(), points.end());
  FunctionResult(ctx, Value(Utf8(points)));
}

void QuoteNameFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, argc)) return sqlite3_result_null(ctx);
  auto quoted = QuoteName(FunctionTextArg(argv[0]), argc > 1 ? FunctionTextArg(argv[1]) : "[");
  if (!quoted) return sqlite3_result_null(ctx);
  FunctionResult(ctx, Value(*quoted));
}

void SoundexFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  FunctionResult(ctx, Value(Soundex(FunctionTextArg(argv[0]))));
}

void Difference(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  sqlite3_result_int(ctx, SoundexDifference(FunctionTextArg(argv[0]), FunctionTextArg(argv[1])));
}

// SPACE's result ends at 8000 characters, as varchar(8000) does.
constexpr size_t kMaxText = 8000;

void Space(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  std::int64_t n = sqlite3_value_int64(argv[0]);
  if (n < 0) return sqlite3_result_null(ctx);
  FunctionResult(ctx, Value(std::string(std::min<std::uint64_t>(n, kMaxText), ' ')));
}

// REPLICATE(text, count, limit): limit is the characters the result type holds, -1 for the
// max types, which hold what SQLite holds.
void Replicate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  std::int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) return sqlite3_result_null(ctx);
  std::int64_t limit = argc > 2 ? sqlite3_value_int64(argv[2]) : -1;
  std::string text = FunctionTextArg(argv[0]);
  if (text.empty() || n == 0) return FunctionResult(ctx, Value(std::string()));
  if (limit < 0) {
    const auto most = static_cast<std::uint64_t>(
        sqlite3_limit(sqlite3_context_db_handle(ctx), SQLITE_LIMIT_LENGTH, -1));
    if (static_cast<std::uint64_t>(n) > most / text.size()) return sqlite3_result_error_toobig(ctx);
    std::string out;
    out.reserve(text.size() * static_cast<size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) out += text;
    return FunctionResult(ctx, Value(out));
  }
  const auto per_copy = static_cast<std::int64_t>(CodePointCount(text));
  const std::int64_t copies = std::min(n, limit / per_copy + 1);
  std::string out;
  for (std::int64_t i = 0; i < copies; ++i) out += text;
  FunctionResult(ctx, Value(std::string(CodePointPrefix(out, static_cast<size_t>(limit)))));
}

void Str(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, argc)) return sqlite3_result_null(ctx);
  std::int64_t length = argc > 1 ? sqlite3_value_int64(argv[1]) : 10;
  std::int64_t decimals = argc > 2 ? sqlite3_value_int64(argv[2]) : 0;
  auto text = StrFunction(sqlite3_value_double(argv[0]), length, decimals);
  if (!text) return sqlite3_result_null(ctx);
  FunctionResult(ctx, Value(*text));
}

// --- mathematics -------------------------------------------------------------------------

double FloatArg(sqlite3_value* v) { return sqlite3_value_double(v); }

// A result that is no number (SQRT(-1), LOG(0)) is SQL Server's domain error; one that is
// infinite an overflow of float.
void FloatResultChecked(sqlite3_context* ctx, double value) {
  GuardFunction(ctx, [&] {
    if (std::isnan(value)) throw errors::DomainError();
    if (std::isinf(value)) throw errors::OverflowConverting("float", 2);
    sqlite3_result_double(ctx, value);
  });
}

template <double (*F)(double)>
void UnaryMath(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  FloatResultChecked(ctx, F(FloatArg(argv[0])));
}

double Sqrt(double v) { return v < 0 ? std::nan("") : std::sqrt(v); }
double Log(double v) { return v <= 0 ? std::nan("") : std::log(v); }
double Log10(double v) { return v <= 0 ? std::nan("") : std::log10(v); }
double Exp(double v) { return std::exp(v); }
double Square(double v) { return v * v; }
double Sin(double v) { return std::sin(v); }
double Cos(double v) { return std::cos(v); }
double Tan(double v) { return std::tan(v); }
double Cot(double v) { return v == 0 ? std::nan("") : 1 / std::tan(v); }
double Asin(double v) { return v < -1 || v > 1 ? std::nan("") : std::asin(v); }
double Acos(double v) { return v < -1 || v > 1 ? std::nan("") : std::acos(v); }
double Atan(double v) { return std::atan(v); }

void Atn2(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 2)) return sqlite3_result_null(ctx);
  FloatResultChecked(ctx, std::atan2(FloatArg(argv[0]), FloatArg(argv[1])));
}

void Pi(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_double(ctx, std::numbers::pi);
}

// FLOOR and CEILING: integers stay as they are.
template <double (*F)(double)>
void IntegralMath(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER)
    return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
  sqlite3_result_double(ctx, F(sqlite3_value_double(argv[0])));
}

void Sign(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNullArg(argc, argv, 1)) return sqlite3_result_null(ctx);
  double v = sqlite3_value_double(argv[0]);
  sqlite3_result_int(ctx, v > 0 ? 1 : v < 0 ? -1 : 0);
}

void Rand(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto* host = static_cast<FunctionHost*>(sqlite3_user_data(ctx));
  std::optional<std::int64_t> seed;
  if (argc > 0 && sqlite3_value_type(argv[0]) != SQLITE_NULL) seed = sqlite3_value_int64(argv[0]);
  if (host) return sqlite3_result_double(ctx, host->Random(seed));
  // Connections without a session have no sequence to continue.
  std::mt19937_64 generator(seed ? static_cast<std::uint64_t>(*seed) : std::random_device{}());
  sqlite3_result_double(ctx, static_cast<double>(generator() >> 11) * 0x1.0p-53);
}

void NewId(sqlite3_context* ctx, int, sqlite3_value**) {
  FunctionResult(ctx, Value(NewGuidText()));
}

// --- checksums ---------------------------------------------------------------------------

// Rotates the running value and mixes the next part in, so the order of values counts.
std::uint32_t Mix(std::uint32_t hash, std::uint32_t part) {
  return ((hash << 4) | (hash >> 28)) ^ part;
}

std::uint32_t HashBytes(std::string_view bytes) {
  std::uint32_t hash = 0;
  for (unsigned char c : bytes) hash = Mix(hash, c);
  return hash;
}

// CHECKSUM compares as the collation does (case and trailing blanks do not count),
// BINARY_CHECKSUM byte for byte.
template <bool kBinary>
void Checksum(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::uint32_t hash = 0;
  for (int i = 0; i < argc; ++i) {
    std::uint32_t part = 0;
    switch (sqlite3_value_type(argv[i])) {
      case SQLITE_NULL:
        part = 0x7FFFFFFF;
        break;
      case SQLITE_INTEGER: {
        auto v = static_cast<std::uint64_t>(sqlite3_value_int64(argv[i]));
        part = static_cast<std::uint32_t>(v ^ (v >> 32));
        break;
      }
      case SQLITE_FLOAT: {
        // Whole numbers as integers, so 1.0 and 1 are one value.
        double d = sqlite3_value_double(argv[i]);
        std::uint64_t bits = 0;
        if (d == std::trunc(d) && std::fabs(d) < 9e18) {
          bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
        } else {
          std::memcpy(&bits, &d, sizeof bits);
        }
        part = static_cast<std::uint32_t>(bits ^ (bits >> 32));
        break;
      }
      case SQLITE_BLOB:
        part = HashBytes(std::string_view(static_cast<const char*>(sqlite3_value_blob(argv[i])),
                                          static_cast<size_t>(sqlite3_value_bytes(argv[i]))));
        break;
      default: {
        std::string text = FunctionTextArg(argv[i]);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        part = HashBytes(kBinary ? text : Utf8(CodePoints(text, true)));
      }
    }
    hash = Mix(hash, part);
  }
  sqlite3_result_int64(ctx, static_cast<std::int32_t>(hash));
}

// --- the table ---------------------------------------------------------------------------

const BuiltinFunction kFunctions[] = {
    // Text.
    {"CHARINDEX", 2, 3, "tti", IntResult, CharIndex},
    {"PATINDEX", 2, 2, "tt", IntResult, PatIndex},
    {"STUFF", 4, 4, "tiit", LongText, Stuff},
    {"QUOTENAME", 1, 2, "tt", QuoteNameResult, QuoteNameFunction},
    {"REVERSE", 1, 1, "t", SameLengthText, Reverse},
    {"SOUNDEX", 1, 1, "t", SoundexResult, SoundexFunction},
    {"DIFFERENCE", 2, 2, "tt", IntResult, Difference},
    {"REPLICATE", 2, 2, "ti", LongOrMaxText, Replicate, true, false, false, true},
    {"SPACE", 1, 1, "i", SpaceResult, Space},
    {"STR", 1, 3, "fii", StrResult, Str},
    // Mathematics.
    {"SQRT", 1, 1, "f", FloatResult, UnaryMath<Sqrt>},
    {"SQUARE", 1, 1, "f", FloatResult, UnaryMath<Square>},
    {"LOG", 1, 1, "f", FloatResult, UnaryMath<Log>},
    {"LOG10", 1, 1, "f", FloatResult, UnaryMath<Log10>},
    {"EXP", 1, 1, "f", FloatResult, UnaryMath<Exp>},
    {"SIN", 1, 1, "f", FloatResult, UnaryMath<Sin>},
    {"COS", 1, 1, "f", FloatResult, UnaryMath<Cos>},
    {"TAN", 1, 1, "f", FloatResult, UnaryMath<Tan>},
    {"COT", 1, 1, "f", FloatResult, UnaryMath<Cot>},
    {"ASIN", 1, 1, "f", FloatResult, UnaryMath<Asin>},
    {"ACOS", 1, 1, "f", FloatResult, UnaryMath<Acos>},
    {"ATAN", 1, 1, "f", FloatResult, UnaryMath<Atan>},
    {"ATN2", 2, 2, "f", FloatResult, Atn2},
    {"PI", 0, 0, "", FloatResult, Pi, true, true},
    {"FLOOR", 1, 1, "f", WholeNumberResult, IntegralMath<std::floor>},
    {"CEILING", 1, 1, "f", WholeNumberResult, IntegralMath<std::ceil>},
    {"SIGN", 1, 1, "f", SignResult, Sign},
    {"RAND", 0, 1, "i", FloatResult, Rand, false, true},
    // Others.
    {"NEWID", 0, 0, "", GuidResult, NewId, false, true},
    {"CHECKSUM", 1, -1, "a", IntResult, Checksum<false>, true, true, true, false, 8},
    {"BINARY_CHECKSUM", 1, -1, "a", IntResult, Checksum<true>, true, true, true, false, 8},
};

}  // namespace

const BuiltinFunction* FindBuiltinFunction(std::string_view name) {
  for (const BuiltinFunction& f : kFunctions)
    if (name == f.name) return &f;
  return nullptr;
}

std::string BuiltinSqlName(const BuiltinFunction& function) {
  return "tsql_" + Lower(function.name);
}

void RegisterBuiltinFunctions(sqlite3* db, FunctionHost* host) {
  for (const BuiltinFunction& f : kFunctions) {
    int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    sqlite3_create_function_v2(db, BuiltinSqlName(f).c_str(), -1, flags, host, f.compute, nullptr,
                               nullptr, nullptr);
  }
}

std::string Soundex(std::string_view text) {
  static const char kCodes[] = "01230120022455012623010202";  // A..Z
  size_t pos = 0;
  char32_t first = pos < text.size() ? ToUpper(NextCodePoint(text, pos)) : 0;
  if (first < U'A' || first > U'Z') return "0000";
  std::string out(1, static_cast<char>(first));
  char last = kCodes[first - U'A'];
  while (pos < text.size() && out.size() < 4) {
    char32_t c = ToUpper(NextCodePoint(text, pos));
    // The code is of the first word: anything but a letter ends it.
    if (c < U'A' || c > U'Z') break;
    char code = kCodes[c - U'A'];
    // Vowels, H, W and Y are left out, and part letters of the same code.
    if (code != '0' && code != last) out += code;
    last = code;
  }
  out.resize(4, '0');
  return out;
}

int SoundexDifference(std::string_view a, std::string_view b) {
  std::string sa = Soundex(a), sb = Soundex(b);
  int same = 0;
  for (size_t i = 0; i < 4; ++i)
    if (sa[i] == sb[i]) ++same;
  return same;
}

std::optional<std::string> StrFunction(double value, std::int64_t length, std::int64_t decimals) {
  if (length <= 0 || length > 8000 || decimals < 0) return std::nullopt;
  decimals = std::min<std::int64_t>(decimals, 16);
  // Decimal places give way to the whole number: only what fits the length is kept.
  std::string text;
  for (std::int64_t places = decimals; places >= 0; --places) {
    // Halves round away from zero, as SQL Server rounds, not to even as printf does.
    const double scale = std::pow(10.0, static_cast<double>(places));
    const double rounded = std::fabs(value) < 1e15 ? std::round(value * scale) / scale : value;
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(places), rounded);
    text = buffer;
    if (static_cast<std::int64_t>(text.size()) <= length) break;
  }
  if (static_cast<std::int64_t>(text.size()) > length)
    return std::string(static_cast<size_t>(length), '*');
  return std::string(static_cast<size_t>(length) - text.size(), ' ') + text;
}

std::optional<std::string> QuoteName(std::string_view text, std::string_view quote) {
  // The name is a sysname: longer ones have no quoted form.
  if (CodePointCount(text) > 128) return std::nullopt;
  char open = 0, close = 0;
  if (quote == "[" || quote == "]") {
    open = '[';
    close = ']';
  } else if (quote == "'" || quote == "\"") {
    open = close = quote[0];
  } else {
    return std::nullopt;
  }
  std::string out(1, open);
  for (char c : text) {
    out += c;
    if (c == close) out += c;
  }
  out += close;
  return out;
}

}  // namespace sandbox
