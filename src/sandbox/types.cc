#include "sandbox/types.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>

#include "sandbox/collation.h"
#include "sandbox/date_styles.h"
#include "sandbox/messages.h"
#include "sandbox/sql_error.h"

namespace sandbox {

using common::Value;

namespace {

struct TypeName {
  const char* name;
  TypeKind kind;
};

constexpr TypeName kTypeNames[] = {
    {"bit", TypeKind::kBit},
    {"tinyint", TypeKind::kTinyInt},
    {"smallint", TypeKind::kSmallInt},
    {"int", TypeKind::kInt},
    {"integer", TypeKind::kInt},
    {"bigint", TypeKind::kBigInt},
    {"real", TypeKind::kReal},
    {"float", TypeKind::kFloat},
    {"decimal", TypeKind::kDecimal},
    {"dec", TypeKind::kDecimal},
    {"numeric", TypeKind::kNumeric},
    {"money", TypeKind::kMoney},
    {"smallmoney", TypeKind::kSmallMoney},
    {"char", TypeKind::kChar},
    {"character", TypeKind::kChar},
    {"varchar", TypeKind::kVarChar},
    {"text", TypeKind::kText},
    {"nchar", TypeKind::kNChar},
    {"nvarchar", TypeKind::kNVarChar},
    {"ntext", TypeKind::kNText},
    {"binary", TypeKind::kBinary},
    {"varbinary", TypeKind::kVarBinary},
    {"image", TypeKind::kImage},
    {"datetime", TypeKind::kDateTime},
    {"smalldatetime", TypeKind::kSmallDateTime},
    {"uniqueidentifier", TypeKind::kUniqueIdentifier},
    {"timestamp", TypeKind::kTimestamp},
    {"rowversion", TypeKind::kTimestamp},
    {"sql_variant", TypeKind::kSqlVariant},
};

}  // namespace

std::string SqlType::Name() const {
  switch (kind) {
    case TypeKind::kBit:
      return "bit";
    case TypeKind::kTinyInt:
      return "tinyint";
    case TypeKind::kSmallInt:
      return "smallint";
    case TypeKind::kInt:
      return "int";
    case TypeKind::kBigInt:
      return "bigint";
    case TypeKind::kReal:
      return "real";
    case TypeKind::kFloat:
      return "float";
    case TypeKind::kDecimal:
      return "decimal";
    case TypeKind::kNumeric:
      return "numeric";
    case TypeKind::kMoney:
      return "money";
    case TypeKind::kSmallMoney:
      return "smallmoney";
    case TypeKind::kChar:
      return "char";
    case TypeKind::kVarChar:
      return "varchar";
    case TypeKind::kText:
      return "text";
    case TypeKind::kNChar:
      return "nchar";
    case TypeKind::kNVarChar:
      return "nvarchar";
    case TypeKind::kNText:
      return "ntext";
    case TypeKind::kBinary:
      return "binary";
    case TypeKind::kVarBinary:
      return "varbinary";
    case TypeKind::kImage:
      return "image";
    case TypeKind::kDateTime:
      return "datetime";
    case TypeKind::kSmallDateTime:
      return "smalldatetime";
    case TypeKind::kUniqueIdentifier:
      return "uniqueidentifier";
    case TypeKind::kTimestamp:
      return "timestamp";
    case TypeKind::kSqlVariant:
      return "sql_variant";
  }
  return "int";
}

std::string SqlType::Declaration() const {
  std::string out = Name();
  switch (kind) {
    case TypeKind::kChar:
    case TypeKind::kVarChar:
    case TypeKind::kNChar:
    case TypeKind::kNVarChar:
    case TypeKind::kBinary:
    case TypeKind::kVarBinary:
      out += "(" + std::to_string(length) + ")";
      break;
    case TypeKind::kDecimal:
    case TypeKind::kNumeric:
      out += "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
      break;
    default:
      break;
  }
  return out;
}

std::string SqlType::SqliteDeclaration() const {
  if (IsInteger() || kind == TypeKind::kBit) return "INTEGER";
  if (IsNumeric()) return "REAL";
  if (IsCharacter() || kind == TypeKind::kUniqueIdentifier) return "TEXT COLLATE tsql_ci";
  if (IsDate()) return "TEXT";
  if (IsBinary() || kind == TypeKind::kTimestamp) return "BLOB";
  return "ANY";
}

Value::Type SqlType::ClientType() const {
  if (kind == TypeKind::kBit) return Value::Type::kBool;
  if (IsInteger()) return Value::Type::kInt;
  // Whole-number decimals (@@IDENTITY, SCOPE_IDENTITY()) reach clients as integers.
  if ((kind == TypeKind::kDecimal || kind == TypeKind::kNumeric) && scale == 0 && precision <= 38)
    return Value::Type::kInt;
  if (IsNumeric()) return Value::Type::kDouble;
  if (IsCharacter()) return Value::Type::kText;
  if (IsDate()) return Value::Type::kDateTime;
  if (IsBinary() || kind == TypeKind::kTimestamp) return Value::Type::kBinary;
  if (kind == TypeKind::kUniqueIdentifier) return Value::Type::kGuid;
  return Value::Type::kText;
}

int SqlType::ClientSize() const { return IsCharacter() || IsBinary() ? Precision() : 0; }

bool SqlType::IsInteger() const {
  return kind == TypeKind::kTinyInt || kind == TypeKind::kSmallInt || kind == TypeKind::kInt ||
         kind == TypeKind::kBigInt;
}
bool SqlType::IsNumeric() const {
  return IsInteger() || kind == TypeKind::kBit || kind == TypeKind::kReal ||
         kind == TypeKind::kFloat || kind == TypeKind::kDecimal || kind == TypeKind::kNumeric ||
         kind == TypeKind::kMoney || kind == TypeKind::kSmallMoney;
}
bool SqlType::IsCharacter() const {
  return kind == TypeKind::kChar || kind == TypeKind::kVarChar || kind == TypeKind::kText ||
         IsUnicode();
}
bool SqlType::IsUnicode() const {
  return kind == TypeKind::kNChar || kind == TypeKind::kNVarChar || kind == TypeKind::kNText;
}
bool SqlType::IsBinary() const {
  return kind == TypeKind::kBinary || kind == TypeKind::kVarBinary || kind == TypeKind::kImage;
}
bool SqlType::IsDate() const {
  return kind == TypeKind::kDateTime || kind == TypeKind::kSmallDateTime;
}
bool SqlType::IsLarge() const {
  return kind == TypeKind::kText || kind == TypeKind::kNText || kind == TypeKind::kImage;
}

int SqlType::ByteLength() const {
  switch (kind) {
    case TypeKind::kBit:
    case TypeKind::kTinyInt:
      return 1;
    case TypeKind::kSmallInt:
      return 2;
    case TypeKind::kInt:
    case TypeKind::kReal:
    case TypeKind::kSmallMoney:
    case TypeKind::kSmallDateTime:
      return 4;
    case TypeKind::kBigInt:
    case TypeKind::kFloat:
    case TypeKind::kMoney:
    case TypeKind::kDateTime:
    case TypeKind::kTimestamp:
      return 8;
    case TypeKind::kDecimal:
    case TypeKind::kNumeric:
      return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
    case TypeKind::kChar:
    case TypeKind::kVarChar:
    case TypeKind::kBinary:
    case TypeKind::kVarBinary:
      return length;
    case TypeKind::kNChar:
    case TypeKind::kNVarChar:
      return length * 2;
    case TypeKind::kText:
    case TypeKind::kNText:
    case TypeKind::kImage:
    case TypeKind::kUniqueIdentifier:
      return 16;
    case TypeKind::kSqlVariant:
      return 8016;
  }
  return 0;
}

int SqlType::Precision() const {
  switch (kind) {
    case TypeKind::kBit:
      return 1;
    case TypeKind::kTinyInt:
      return 3;
    case TypeKind::kSmallInt:
      return 5;
    case TypeKind::kInt:
    case TypeKind::kSmallMoney:
      return 10;
    case TypeKind::kBigInt:
    case TypeKind::kMoney:
      return 19;
    case TypeKind::kReal:
      return 24;
    case TypeKind::kFloat:
      return 53;
    case TypeKind::kDecimal:
    case TypeKind::kNumeric:
      return precision;
    case TypeKind::kDateTime:
      return 23;
    case TypeKind::kSmallDateTime:
      return 16;
    case TypeKind::kNChar:
    case TypeKind::kNVarChar:
    case TypeKind::kChar:
    case TypeKind::kVarChar:
    case TypeKind::kBinary:
    case TypeKind::kVarBinary:
      return length;
    case TypeKind::kText:
    case TypeKind::kImage:
      return 2147483647;
    case TypeKind::kNText:
      return 1073741823;
    case TypeKind::kUniqueIdentifier:
      return 36;
    case TypeKind::kTimestamp:
      return 8;
    case TypeKind::kSqlVariant:
      return 0;
  }
  return 0;
}

std::optional<SqlType> TypeFromName(std::string_view name, int count, int first, int second) {
  if (EqualsNoCase(name, "sysname")) return SqlType::NVarChar(128);
  for (const TypeName& entry : kTypeNames) {
    if (!EqualsNoCase(name, entry.name)) continue;
    SqlType type{entry.kind};
    switch (entry.kind) {
      case TypeKind::kChar:
      case TypeKind::kNChar:
      case TypeKind::kBinary:
      case TypeKind::kVarChar:
      case TypeKind::kNVarChar:
      case TypeKind::kVarBinary:
        type.length = count > 0 ? first : 1;
        break;
      case TypeKind::kDecimal:
      case TypeKind::kNumeric:
        type.precision = count > 0 ? first : 18;
        type.scale = count > 1 ? second : 0;
        break;
      case TypeKind::kFloat:
        if (count > 0 && first <= 24) type.kind = TypeKind::kReal;
        break;
      case TypeKind::kText:
      case TypeKind::kNText:
      case TypeKind::kImage:
        type.length = -1;
        break;
      default:
        break;
    }
    return type;
  }
  return std::nullopt;
}

// --- dates -------------------------------------------------------------------------------

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool Valid(const common::DateTime& d) {
  return d.year >= 1753 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= DaysInMonth(d.year, d.month) && d.hour >= 0 && d.hour <= 23 && d.minute >= 0 &&
         d.minute <= 59 && d.second >= 0 && d.second <= 59 && d.millisecond >= 0 &&
         d.millisecond <= 999;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string DateTimeToStorage(const common::DateTime& d) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day,
                d.hour, d.minute, d.second, d.millisecond);
  return buffer;
}

std::optional<common::DateTime> ParseDateTimeText(std::string_view text) {
  return ParseDateText(text, DateSettings{});
}

std::string DateTimeDefaultText(const common::DateTime& d) {
  return *FormatDateStyle(d, 0, DefaultLanguage());
}

std::string NewGuidText() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  common::Guid guid;
  for (int i = 0; i < 16; i += 8) {
    std::uint64_t bits = generator();
    for (int k = 0; k < 8; ++k) guid.bytes[i + k] = static_cast<std::uint8_t>(bits >> (8 * k));
  }
  guid.bytes[6] = static_cast<std::uint8_t>((guid.bytes[6] & 0x0F) | 0x40);
  guid.bytes[8] = static_cast<std::uint8_t>((guid.bytes[8] & 0x3F) | 0x80);
  std::string text = guid.ToText();
  return text.substr(1, 36);
}

// --- conversions -------------------------------------------------------------------------

namespace {

struct Range {
  std::int64_t low, high;
};

std::optional<Range> IntegerRange(TypeKind kind) {
  switch (kind) {
    case TypeKind::kTinyInt:
      return Range{0, 255};
    case TypeKind::kSmallInt:
      return Range{-32768, 32767};
    case TypeKind::kInt:
      return Range{-2147483648LL, 2147483647LL};
    case TypeKind::kBigInt:
      return Range{INT64_MIN, INT64_MAX};
    default:
      return std::nullopt;
  }
}

std::string FormatDouble(double v) {
  // Casting a float to text shows up to six significant digits, as SQL Server does.
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f", v);
    return buffer;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6g", v);
  return buffer;
}

SqlError InvalidStyle(int style, std::string_view from) { return errors::Raise<281>(style, from); }

std::string ValueText(const Value& v, const std::optional<SqlType>& source, int style,
                      const DateSettings& dates) {
  if (auto* text = v.AsText()) {
    if (source && source->IsDate()) {
      if (auto d = common::DateTime::Parse(*text)) {
        auto formatted = FormatDateStyle(*d, style, *dates.language);
        if (!formatted) throw InvalidStyle(style, source->Name());
        return *formatted;
      }
    }
    return *text;
  }
  if (source && v.type() != Value::Type::kNull) {
    bool money = source->kind == TypeKind::kMoney || source->kind == TypeKind::kSmallMoney;
    bool real = source->kind == TypeKind::kReal;
    if (money && style != 0) {
      auto formatted = FormatMoneyStyle(v.ToDouble().value_or(0), style);
      if (!formatted) throw InvalidStyle(style, source->Name());
      return *formatted;
    }
    if ((real || source->kind == TypeKind::kFloat) && style != 0) {
      auto formatted = FormatFloatStyle(v.ToDouble().value_or(0), style, real);
      if (!formatted) throw InvalidStyle(style, source->Name());
      return *formatted;
    }
  }
  const bool exact = source && (source->kind == TypeKind::kDecimal ||
                                source->kind == TypeKind::kNumeric ||
                                source->kind == TypeKind::kMoney ||
                                source->kind == TypeKind::kSmallMoney);
  if (exact && (v.type() == Value::Type::kInt || v.type() == Value::Type::kDouble)) {
    // A decimal or money value shows its type's scale, a whole one too ("9.000").
    const int scale =
        source->kind == TypeKind::kDecimal || source->kind == TypeKind::kNumeric ? source->scale : 2;
    if (v.type() == Value::Type::kInt)
      return std::to_string(*v.ToInt()) + (scale > 0 ? "." + std::string(scale, '0') : "");
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", scale, *v.ToDouble());
    return buffer;
  }
  if (v.type() == Value::Type::kInt) return std::to_string(*v.ToInt());
  if (v.type() == Value::Type::kDouble) {
    return FormatDouble(*v.ToDouble());
  }
  if (auto* bytes = v.AsBytes()) return std::string(bytes->begin(), bytes->end());
  return v.ToText();
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t out = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return out;
}

std::optional<double> ParseNumber(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double out = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return out;
}

Value ToInteger(const Value& v, const SqlType& target, const std::optional<SqlType>& source) {
  Range range = *IntegerRange(target.kind);
  std::int64_t result = 0;
  switch (v.type()) {
    case Value::Type::kInt:
      result = *v.ToInt();
      if (result < range.low || result > range.high) {
        if (source && !source->IsInteger() && source->kind != TypeKind::kBit)
          throw errors::OverflowConverting(target.Name());
        throw errors::Overflow(target.Name(), std::to_string(result));
      }
      return Value(result);
    case Value::Type::kDouble: {
      double d = std::trunc(*v.ToDouble());
      if (!(d >= static_cast<double>(range.low) && d <= static_cast<double>(range.high)))
        throw errors::OverflowConverting(target.Name());
      return Value(static_cast<std::int64_t>(d));
    }
    case Value::Type::kText: {
      auto parsed = ParseInteger(*v.AsText());
      if (!parsed) {
        // "1.5" and other decimals are refused for integer types, as on SQL Server.
        throw errors::ConversionFailed(*v.AsText(), target.Name());
      }
      if (*parsed < range.low || *parsed > range.high)
        throw errors::Overflow(target.Name(), std::to_string(*parsed));
      return Value(*parsed);
    }
    case Value::Type::kBinary: {
      std::uint64_t bits = 0;
      for (std::uint8_t b : *v.AsBytes()) bits = (bits << 8) | b;
      return Value(static_cast<std::int64_t>(bits));
    }
    default:
      break;
  }
  return v;
}

Value ToText(const Value& v, const SqlType& target, Fit fit, const std::optional<SqlType>& source,
             int style, const DateSettings& dates) {
  std::string text = ValueText(v, source, style, dates);
  if (target.length > 0) {
    size_t count = CodePointCount(text);
    if (count > static_cast<size_t>(target.length)) {
      // Trailing blanks may be cut without loss, as SQL Server does.
      std::string_view kept = CodePointPrefix(text, static_cast<size_t>(target.length));
      std::string_view rest = std::string_view(text).substr(kept.size());
      bool only_blanks = rest.find_first_not_of(' ') == std::string_view::npos;
      if (fit == Fit::kFail && !only_blanks) throw errors::Truncation();
      text = std::string(kept);
    } else if ((target.kind == TypeKind::kChar || target.kind == TypeKind::kNChar) &&
               count < static_cast<size_t>(target.length)) {
      text.append(static_cast<size_t>(target.length) - count, ' ');
    }
  }
  return Value(std::move(text));
}

Value ToBinary(const Value& v, const SqlType& target, Fit fit) {
  common::Bytes bytes;
  if (auto* b = v.AsBytes()) {
    bytes = *b;
  } else if (auto* t = v.AsText()) {
    bytes.assign(t->begin(), t->end());
  } else if (v.type() == Value::Type::kInt) {
    std::int64_t i = *v.ToInt();
    for (int k = 3; k >= 0; --k) bytes.push_back(static_cast<std::uint8_t>(i >> (8 * k)));
  }
  if (target.length > 0 && bytes.size() > static_cast<size_t>(target.length)) {
    if (fit == Fit::kFail) throw errors::Truncation();
    bytes.resize(static_cast<size_t>(target.length));
  }
  if (target.kind == TypeKind::kBinary && target.length > 0)
    bytes.resize(static_cast<size_t>(target.length), 0);
  return Value(std::move(bytes));
}

}  // namespace

Value Convert(const Value& value, const SqlType& target, Fit fit,
              const std::optional<SqlType>& source, int style, const DateSettings* dates) {
  if (value.IsNull()) return value;
  const DateSettings settings = dates ? *dates : DateSettings{};
  switch (target.kind) {
    case TypeKind::kBit: {
      if (auto* text = value.AsText()) {
        std::string lower = Lower(TrimBlanks(*text));
        if (lower == "true") return Value(std::int64_t{1});
        if (lower == "false") return Value(std::int64_t{0});
        auto number = ParseNumber(*text);
        if (!number) throw errors::ConversionFailed(*text, "bit");
        return Value(std::int64_t{*number != 0 ? 1 : 0});
      }
      if (value.type() == Value::Type::kDouble)
        return Value(std::int64_t{*value.ToDouble() != 0 ? 1 : 0});
      if (value.type() == Value::Type::kInt)
        return Value(std::int64_t{*value.ToInt() != 0 ? 1 : 0});
      return value;
    }
    case TypeKind::kTinyInt:
    case TypeKind::kSmallInt:
    case TypeKind::kInt:
    case TypeKind::kBigInt:
      return ToInteger(value, target, source);
    case TypeKind::kReal:
    case TypeKind::kFloat:
    case TypeKind::kDecimal:
    case TypeKind::kNumeric:
    case TypeKind::kMoney:
    case TypeKind::kSmallMoney: {
      double d = 0;
      if (auto* text = value.AsText()) {
        auto parsed = ParseNumber(*text);
        if (!parsed) throw errors::ConversionFailed(*text, target.Name());
        d = *parsed;
      } else if (auto number = value.ToDouble()) {
        d = *number;
      } else {
        return value;
      }
      if (target.kind == TypeKind::kDecimal || target.kind == TypeKind::kNumeric) {
        double scale = std::pow(10.0, target.scale);
        d = std::round(d * scale) / scale;
        if (std::fabs(d) >= std::pow(10.0, target.precision - target.scale)) {
          // SQL Server names the source type here, and decimal as numeric.
          std::string from = !source                              ? "expression"
                             : source->kind == TypeKind::kDecimal ? "numeric"
                                                                  : source->Name();
          throw errors::OverflowConverting("numeric", 1, from);
        }
      } else if (target.kind == TypeKind::kMoney || target.kind == TypeKind::kSmallMoney) {
        d = std::round(d * 10000.0) / 10000.0;
      }
      return Value(d);
    }
    case TypeKind::kChar:
    case TypeKind::kVarChar:
    case TypeKind::kText:
    case TypeKind::kNChar:
    case TypeKind::kNVarChar:
    case TypeKind::kNText:
      return ToText(value, target, fit, source, style, settings);
    case TypeKind::kBinary:
    case TypeKind::kVarBinary:
    case TypeKind::kImage:
    case TypeKind::kTimestamp:
      return ToBinary(value, target, fit);
    case TypeKind::kDateTime:
    case TypeKind::kSmallDateTime: {
      if (auto* text = value.AsText()) {
        // Values already of a date type (or of unknown type) come in the storage form, which
        // no SET DATEFORMAT reorders.
        std::optional<common::DateTime> d;
        if (!source || source->IsDate()) d = ParseStorageDate(*text);
        if (!d) d = ParseDateText(*text, settings, style);
        if (!d) throw errors::DateConversion();
        if (target.kind == TypeKind::kSmallDateTime) d->second = d->millisecond = 0;
        return Value(DateTimeToStorage(*d));
      }
      if (value.type() == Value::Type::kInt || value.type() == Value::Type::kDouble) {
        // Numbers count days from 1900-01-01.
        double days = *value.ToDouble();
        std::int64_t whole = static_cast<std::int64_t>(std::floor(days));
        common::DateTime d{1900, 1, 1};
        // Civil date from a day count (Howard Hinnant's algorithm), epoch 1900-01-01.
        std::int64_t z = whole - 25567 + 719468;  // days since 0000-03-01
        std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
        std::int64_t doe = z - era * 146097;
        std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        std::int64_t mp = (5 * doy + 2) / 153;
        d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
        d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        d.year = static_cast<int>(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
        double fraction = days - static_cast<double>(whole);
        std::int64_t ms = static_cast<std::int64_t>(std::llround(fraction * 86400000.0));
        d.hour = static_cast<int>(ms / 3600000);
        d.minute = static_cast<int>(ms / 60000 % 60);
        d.second = static_cast<int>(ms / 1000 % 60);
        d.millisecond = static_cast<int>(ms % 1000);
        if (!Valid(d)) throw errors::OverflowConverting("datetime");
        return Value(DateTimeToStorage(d));
      }
      throw errors::DateConversion();
    }
    case TypeKind::kUniqueIdentifier: {
      if (auto* bytes = value.AsBytes()) {
        if (bytes->size() != 16) throw errors::GuidConversion();
        common::Guid g;
        std::copy(bytes->begin(), bytes->end(), g.bytes.begin());
        return Value(g.ToText().substr(1, 36));
      }
      std::string text = ValueText(value, source, 0, settings);
      auto guid = common::Guid::Parse(text);
      if (!guid) throw errors::GuidConversion();
      return Value(guid->ToText().substr(1, 36));
    }
    case TypeKind::kSqlVariant:
      return value;
  }
  return value;
}

Value ToClient(const Value& storage, const SqlType& type) {
  if (storage.IsNull()) return storage;
  // sql_variant keeps the type of what it holds.
  if (type.kind == TypeKind::kSqlVariant) return storage;
  switch (type.ClientType()) {
    case Value::Type::kBool:
      return Value(storage.ToInt().value_or(0) != 0);
    case Value::Type::kInt:
      if (auto i = storage.ToInt()) return Value(static_cast<long long>(*i));
      // decimal(38, 0) beyond 64 bits is kept as its exact digits.
      if (storage.AsText()) return storage;
      if (auto d = storage.ToDouble(); d && std::fabs(*d) < 9.2e18)
        return Value(static_cast<long long>(*d));
      return storage;
    case Value::Type::kDouble:
      if (auto d = storage.ToDouble()) return Value(*d);
      return storage;
    case Value::Type::kDateTime:
      if (auto* text = storage.AsText()) {
        if (auto d = common::DateTime::Parse(*text)) return Value(*d);
      }
      return storage;
    case Value::Type::kGuid:
      if (auto* text = storage.AsText()) {
        if (auto g = common::Guid::Parse(*text)) return Value(*g);
      }
      return storage;
    case Value::Type::kBinary:
      if (auto* text = storage.AsText()) return Value(common::Bytes(text->begin(), text->end()));
      return storage;
    case Value::Type::kText:
      if (storage.AsText()) return storage;
      if (storage.type() == Value::Type::kDouble) return Value(FormatDouble(*storage.ToDouble()));
      return Value(storage.ToText());
    default:
      return storage;
  }
}

Value FromClient(const Value& value) {
  switch (value.type()) {
    case Value::Type::kBool:
      return Value(std::int64_t{*value.ToBool() ? 1 : 0});
    case Value::Type::kDateTime:
      return Value(DateTimeToStorage(*value.AsDateTime()));
    case Value::Type::kGuid:
      return Value(value.AsGuid()->ToText().substr(1, 36));
    default:
      return value;
  }
}

SqlType TypeOfClientValue(const Value& value) {
  switch (value.type()) {
    case Value::Type::kBool:
      return SqlType::Bit();
    case Value::Type::kInt: {
      std::int64_t i = *value.ToInt();
      return i >= INT32_MIN && i <= INT32_MAX ? SqlType::Int() : SqlType{TypeKind::kBigInt};
    }
    case Value::Type::kDouble:
      return SqlType::Float();
    case Value::Type::kDateTime:
      return SqlType::DateTimeType();
    case Value::Type::kGuid:
      return SqlType{TypeKind::kUniqueIdentifier};
    case Value::Type::kBinary:
      return SqlType{TypeKind::kVarBinary, 8000};
    case Value::Type::kText: {
      int length = static_cast<int>(CodePointCount(*value.AsText()));
      return SqlType::NVarChar(length > 4000 ? -1 : std::max(length, 1));
    }
    default:
      return SqlType::Int();
  }
}

}  // namespace sandbox
