#include "sandbox/tds/rpc.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "common/code_page.h"
#include "sandbox/tds/protocol.h"

namespace sandbox::tds {

namespace {

using namespace wire_type;

constexpr std::uint8_t kTokenReturnStatus = 0x79;
constexpr std::uint8_t kTokenReturnValue = 0xAC;
constexpr std::uint32_t kNullLength = 0xFFFFFFFF;
constexpr std::uint64_t kPlpNull = 0xFFFFFFFFFFFFFFFFull;
constexpr std::uint64_t kPlpUnknownLength = 0xFFFFFFFFFFFFFFFEull;

// Bytes of a fixed-length type; 0 for the others.
std::size_t FixedSize(std::uint8_t type) {
  switch (type) {
    case kNull:
      return 0;
    case kInt1:
    case kBit:
      return 1;
    case kInt2:
      return 2;
    case kInt4:
    case kDateTime4:
    case kFloat4:
    case kMoney4:
      return 4;
    case kMoney:
    case kDateTime:
    case kFloat8:
    case kInt8:
      return 8;
    default:
      return 0;
  }
}

bool IsFixed(std::uint8_t type) { return type == kNull || FixedSize(type) > 0; }
bool IsShortLength(std::uint8_t type) {
  return type == kBigVarBinary || type == kBigVarChar || type == kBigBinary || type == kBigChar ||
         type == kNVarChar || type == kNChar;
}
bool IsLong(std::uint8_t type) { return type == kText || type == kNText || type == kImage; }
bool IsCharacter(std::uint8_t type) {
  return type == kBigVarChar || type == kBigChar || type == kNVarChar || type == kNChar ||
         type == kText || type == kNText;
}
bool IsUnicode(std::uint8_t type) { return type == kNVarChar || type == kNChar || type == kNText; }

TypeInfo Sized(std::uint8_t type, std::uint32_t max_length) {
  TypeInfo t;
  t.type = type;
  t.max_length = max_length;
  return t;
}

// Bytes of a decimal's magnitude by its precision.
std::size_t DecimalBytes(std::uint8_t precision) {
  return precision <= 9 ? 4 : precision <= 19 ? 8 : precision <= 28 ? 12 : 16;
}

std::size_t TimeLength(std::uint8_t scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; }

std::string Hex(std::uint8_t type) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", type);
  return text;
}

std::uint64_t U64(Reader& reader) {
  std::uint64_t low = reader.U32();
  return low | (static_cast<std::uint64_t>(reader.U32()) << 32);
}

std::uint64_t Unsigned(std::string_view bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) v = (v << 8) | static_cast<std::uint8_t>(bytes[i]);
  return v;
}

std::int64_t Signed(std::string_view bytes) {
  std::uint64_t v = Unsigned(bytes);
  std::size_t bits = bytes.size() * 8;
  if (bits < 64 && (v >> (bits - 1)) != 0) v |= ~std::uint64_t{0} << bits;
  return static_cast<std::int64_t>(v);
}

void PutUnsigned(Writer& out, std::uint64_t v, std::size_t bytes) {
  for (std::size_t k = 0; k < bytes; ++k) out.U8(static_cast<std::uint8_t>(v >> (8 * k)));
}

// --- dates --------------------------------------------------------------------------------

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

common::DateTime CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  common::DateTime out;
  out.year = static_cast<int>(y + (m <= 2));
  out.month = static_cast<int>(m);
  out.day = static_cast<int>(d);
  return out;
}

const std::int64_t kDays1900 = DaysFromCivil(1900, 1, 1);
const std::int64_t kDays0001 = DaysFromCivil(1, 1, 1);

// A moment as days since 1970 and milliseconds of the day.
common::DateTime FromParts(std::int64_t days, std::int64_t milliseconds) {
  days += milliseconds / 86400000;
  milliseconds %= 86400000;
  if (milliseconds < 0) {
    milliseconds += 86400000;
    --days;
  }
  common::DateTime out = CivilFromDays(days);
  out.hour = static_cast<int>(milliseconds / 3600000);
  out.minute = static_cast<int>(milliseconds / 60000 % 60);
  out.second = static_cast<int>(milliseconds / 1000 % 60);
  out.millisecond = static_cast<int>(milliseconds % 1000);
  return out;
}

std::int64_t DaysOf(const common::DateTime& d) {
  return DaysFromCivil(d.year, static_cast<unsigned>(d.month), static_cast<unsigned>(d.day));
}
std::int64_t MillisecondsOf(const common::DateTime& d) {
  return ((d.hour * 60LL + d.minute) * 60 + d.second) * 1000 + d.millisecond;
}

std::optional<common::DateTime> AsDateTime(const common::Value& value) {
  if (const auto* dt = value.AsDateTime()) return *dt;
  if (const auto* text = value.AsText()) return common::DateTime::Parse(*text);
  return std::nullopt;
}

std::uint64_t Pow10(int n) {
  std::uint64_t v = 1;
  while (n-- > 0) v *= 10;
  return v;
}

// --- exact decimals -------------------------------------------------------------------------

using Magnitude = unsigned __int128;

std::string DecimalText(bool negative, Magnitude magnitude, int scale) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (scale > 0) {
    if (digits.size() <= static_cast<std::size_t>(scale))
      digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
  }
  bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return (negative && !zero ? "-" : "") + digits;
}

// The value as a whole number of 10^-scale units, rounded half away from zero; nullopt when it
// is no number or needs more than digits digits.
std::optional<std::pair<bool, Magnitude>> Scaled(const common::Value& value, int scale,
                                                 int digits) {
  std::string text;
  if (value.type() == common::Value::Type::kDouble) {
    double d = *value.ToDouble();
    if (!std::isfinite(d) || std::fabs(d) >= 1e38) return std::nullopt;
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%.*f", scale, d);
    text = buffer;
  } else if (value.type() == common::Value::Type::kBool) {
    text = *value.ToBool() ? "1" : "0";
  } else {
    text = value.ToText();
  }
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  Magnitude magnitude = 0;
  int used = 0, fraction = -1;
  bool any = false, round_up = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && fraction < 0) {
      fraction = 0;
      continue;
    }
    if (c < '0' || c > '9') break;
    any = true;
    if (fraction >= 0 && fraction == scale) {
      if (fraction++ == scale) round_up = c >= '5';
      continue;
    }
    if (fraction >= 0) ++fraction;
    if (magnitude != 0 || c != '0') ++used;
    if (used > digits) return std::nullopt;
    magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (!any || i != text.size()) return std::nullopt;
  for (int k = std::max(fraction, 0); k < scale; ++k) {
    // Checked digit by digit: past 38 digits the magnitude would wrap.
    if (magnitude != 0 && ++used > digits) return std::nullopt;
    magnitude *= 10;
  }
  if (round_up) ++magnitude;
  Magnitude limit = 1;
  for (int k = 0; k < digits; ++k) limit *= 10;
  if (magnitude >= limit) return std::nullopt;
  return std::make_pair(negative && magnitude != 0, magnitude);
}

// --- PLP ------------------------------------------------------------------------------------

std::optional<std::string> ReadPlp(Reader& reader) {
  std::uint64_t total = U64(reader);
  if (total == kPlpNull) return std::nullopt;
  std::string data;
  for (;;) {
    std::uint32_t chunk = reader.U32();
    if (chunk == 0) break;
    data.append(reader.Bytes(chunk));
  }
  if (total != kPlpUnknownLength && total != data.size())
    throw ProtocolError("a value of " + std::to_string(data.size()) + " bytes announced as " +
                        std::to_string(total));
  return data;
}

void WritePlp(Writer& out, const std::string* data) {
  if (!data) {
    out.U64(kPlpNull);
    return;
  }
  out.U64(data->size());
  if (!data->empty()) {
    out.U32(static_cast<std::uint32_t>(data->size()));
    out.Bytes(*data);
  }
  out.U32(0);
}

std::optional<std::string> Encoded(std::uint8_t type, const common::Value& value) {
  if (const auto* bytes = value.AsBytes()) return std::string(bytes->begin(), bytes->end());
  std::string text = value.ToText();
  if (IsUnicode(type)) return ToUtf16(text);
  common::Bytes bytes = common::TextToBytes(text, kServerCodePage, common::kConvertNoSubstitution);
  // Empty (not even the terminating zero): a character the code page lacks.
  if (bytes.empty()) return std::nullopt;
  bytes.pop_back();
  return std::string(bytes.begin(), bytes.end());
}

common::Value Decoded(std::uint8_t type, std::string_view data) {
  if (!IsCharacter(type)) return common::Value(common::Bytes(data.begin(), data.end()));
  if (IsUnicode(type)) return common::Value(FromUtf16(data));
  return common::Value(common::BytesToText(data, kServerCodePage));
}

// The value's bytes in the type (with their length), or nullopt when it cannot carry it.
std::optional<std::string> Encode(const TypeInfo& type, const common::Value& value) {
  Writer out;
  const bool null = value.IsNull();
  switch (type.type) {
    case kIntN:
    case kInt1:
    case kInt2:
    case kInt4:
    case kInt8: {
      const std::size_t width = type.type == kIntN ? type.max_length : FixedSize(type.type);
      if (null)
        return type.type == kIntN ? std::optional<std::string>(std::string(1, '\0')) : std::nullopt;
      if (value.type() == common::Value::Type::kDouble) return std::nullopt;
      std::optional<std::int64_t> v = value.ToInt();
      if (!v) return std::nullopt;
      bool fits = width == 8 || (width == 1 && *v >= 0 && *v <= 255) ||
                  (width == 2 && *v >= -32768 && *v <= 32767) ||
                  (width == 4 && *v >= std::numeric_limits<std::int32_t>::min() &&
                   *v <= std::numeric_limits<std::int32_t>::max());
      if (!fits) return std::nullopt;
      if (type.type == kIntN) out.U8(static_cast<std::uint8_t>(width));
      PutUnsigned(out, static_cast<std::uint64_t>(*v), width);
      break;
    }
    case kBitN:
    case kBit: {
      if (null)
        return type.type == kBitN ? std::optional<std::string>(std::string(1, '\0')) : std::nullopt;
      std::optional<bool> v = value.ToBool();
      if (!v) return std::nullopt;
      if (type.type == kBitN) out.U8(1);
      out.U8(*v ? 1 : 0);
      break;
    }
    case kFloatN:
    case kFloat4:
    case kFloat8: {
      const std::size_t width = type.type == kFloatN ? type.max_length : FixedSize(type.type);
      if (null)
        return type.type == kFloatN ? std::optional<std::string>(std::string(1, '\0'))
                                    : std::nullopt;
      std::optional<double> v = value.ToDouble();
      if (!v) return std::nullopt;
      if (type.type == kFloatN) out.U8(static_cast<std::uint8_t>(width));
      if (width == 4) {
        float f = static_cast<float>(*v);
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        out.U32(bits);
      } else {
        std::uint64_t bits;
        std::memcpy(&bits, &*v, sizeof bits);
        out.U64(bits);
      }
      break;
    }
    case kMoneyN:
    case kMoney:
    case kMoney4: {
      const std::size_t width = type.type == kMoneyN ? type.max_length : FixedSize(type.type);
      if (null)
        return type.type == kMoneyN ? std::optional<std::string>(std::string(1, '\0'))
                                    : std::nullopt;
      auto scaled = Scaled(value, 4, width == 4 ? 10 : 19);
      if (!scaled) return std::nullopt;
      const bool negative = scaled->first;
      const std::int64_t low = width == 4 ? std::numeric_limits<std::int32_t>::min()
                                          : std::numeric_limits<std::int64_t>::min();
      const std::int64_t high = width == 4 ? std::numeric_limits<std::int32_t>::max()
                                           : std::numeric_limits<std::int64_t>::max();
      // Checked before the cast: past 2^63 the units would wrap to the other sign.
      const Magnitude limit =
          negative ? static_cast<Magnitude>(-(low + 1)) + 1 : static_cast<Magnitude>(high);
      std::int64_t units = 0;
      if (scaled->second <= limit) {
        units = negative ? -static_cast<std::int64_t>(scaled->second - 1) - 1
                         : static_cast<std::int64_t>(scaled->second);
      } else if (value.type() == common::Value::Type::kDouble &&
                 scaled->second - limit <= (width == 4 ? 1 : 10000)) {
        // money's limits have more digits than a double: the nearest double lies just outside.
        units = negative ? low : high;
      } else {
        return std::nullopt;
      }
      if (type.type == kMoneyN) out.U8(static_cast<std::uint8_t>(width));
      if (width == 4) {
        out.U32(static_cast<std::uint32_t>(units));
      } else {
        auto bits = static_cast<std::uint64_t>(units);
        out.U32(static_cast<std::uint32_t>(bits >> 32));
        out.U32(static_cast<std::uint32_t>(bits));
      }
      break;
    }
    case kDecimalN:
    case kNumericN: {
      if (null) return std::string(1, '\0');
      auto scaled = Scaled(value, type.scale, type.precision);
      if (!scaled) return std::nullopt;
      const std::size_t bytes = DecimalBytes(type.precision);
      out.U8(static_cast<std::uint8_t>(bytes + 1));
      out.U8(scaled->first ? 0 : 1);
      Magnitude m = scaled->second;
      for (std::size_t k = 0; k < bytes; ++k) {
        out.U8(static_cast<std::uint8_t>(m & 0xFF));
        m >>= 8;
      }
      if (m != 0) return std::nullopt;
      break;
    }
    case kDateTimeN:
    case kDateTime:
    case kDateTime4: {
      const std::size_t width = type.type == kDateTimeN ? type.max_length : FixedSize(type.type);
      if (null)
        return type.type == kDateTimeN ? std::optional<std::string>(std::string(1, '\0'))
                                       : std::nullopt;
      std::optional<common::DateTime> d = AsDateTime(value);
      if (!d) return std::nullopt;
      if (type.type == kDateTimeN) out.U8(static_cast<std::uint8_t>(width));
      if (width == 8) {
        auto [days, ticks] = DateTimeParts(*d);
        out.U32(static_cast<std::uint32_t>(days));
        out.U32(ticks);
      } else {
        std::int64_t days = DaysOf(*d) - kDays1900;
        std::int64_t minutes = d->hour * 60 + d->minute + (d->second >= 30 ? 1 : 0);
        if (minutes >= 1440) {
          minutes -= 1440;
          ++days;
        }
        if (days < 0 || days > 65535) return std::nullopt;
        out.U16(static_cast<std::uint16_t>(days));
        out.U16(static_cast<std::uint16_t>(minutes));
      }
      break;
    }
    case kDateN:
    case kTimeN:
    case kDateTime2N:
    case kDateTimeOffsetN: {
      if (null) return std::string(1, '\0');
      std::optional<common::DateTime> d = AsDateTime(value);
      if (!d) return std::nullopt;
      const std::size_t time = type.type == kDateN ? 0 : TimeLength(type.scale);
      const std::size_t date = type.type == kTimeN ? 0 : 3;
      const std::size_t offset = type.type == kDateTimeOffsetN ? 2 : 0;
      out.U8(static_cast<std::uint8_t>(time + date + offset));
      if (time) {
        std::uint64_t units = static_cast<std::uint64_t>(MillisecondsOf(*d));
        units = type.scale >= 3 ? units * Pow10(type.scale - 3) : units / Pow10(3 - type.scale);
        PutUnsigned(out, units, time);
      }
      if (date) {
        std::int64_t days = DaysOf(*d) - kDays0001;
        if (days < 0 || days > 3652058) return std::nullopt;
        PutUnsigned(out, static_cast<std::uint64_t>(days), 3);
      }
      if (offset) out.U16(0);
      break;
    }
    case kGuid: {
      if (null) return std::string(1, '\0');
      std::optional<common::Guid> guid;
      if (const auto* g = value.AsGuid()) guid = *g;
      if (const auto* text = value.AsText()) guid = common::Guid::Parse(*text);
      if (!guid) return std::nullopt;
      auto bytes = guid->bytes;
      std::reverse(bytes.begin(), bytes.begin() + 4);
      std::reverse(bytes.begin() + 4, bytes.begin() + 6);
      std::reverse(bytes.begin() + 6, bytes.begin() + 8);
      out.U8(16);
      for (auto b : bytes) out.U8(b);
      break;
    }
    case kBigVarBinary:
    case kBigVarChar:
    case kBigBinary:
    case kBigChar:
    case kNVarChar:
    case kNChar: {
      const bool binary = type.type == kBigVarBinary || type.type == kBigBinary;
      if (!null && binary != (value.AsBytes() != nullptr)) return std::nullopt;
      std::optional<std::string> data;
      if (!null && !(data = Encoded(type.type, value))) return std::nullopt;
      if (type.plp) {
        WritePlp(out, null ? nullptr : &*data);
        break;
      }
      if (null) {
        out.U16(0xFFFF);
        break;
      }
      if (data->size() > type.max_length) return std::nullopt;
      out.U16(static_cast<std::uint16_t>(data->size()));
      out.Bytes(*data);
      break;
    }
    case kText:
    case kNText:
    case kImage: {
      if (null) {
        out.U32(kNullLength);
        break;
      }
      if ((type.type == kImage) != (value.AsBytes() != nullptr)) return std::nullopt;
      std::optional<std::string> data = Encoded(type.type, value);
      if (!data || data->size() > 0x7FFFFFFF) return std::nullopt;
      out.U32(static_cast<std::uint32_t>(data->size()));
      out.Bytes(*data);
      break;
    }
    case kNull:
      if (!null) return std::nullopt;
      break;
    default:
      return std::nullopt;
  }
  return std::move(out.data());
}

}  // namespace

TypeInfo ReadTypeInfo(Reader& reader, std::uint32_t version) {
  TypeInfo t;
  t.type = reader.U8();
  auto fail = [&](const std::string& what) {
    throw ProtocolError("a parameter of type " + Hex(t.type) + " with " + what);
  };
  if (IsFixed(t.type)) return t;
  switch (t.type) {
    case kIntN:
      t.max_length = reader.U8();
      if (t.max_length != 1 && t.max_length != 2 && t.max_length != 4 && t.max_length != 8)
        fail("a length of " + std::to_string(t.max_length));
      return t;
    case kBitN:
      t.max_length = reader.U8();
      if (t.max_length != 1) fail("a length of " + std::to_string(t.max_length));
      return t;
    case kFloatN:
    case kMoneyN:
    case kDateTimeN:
      t.max_length = reader.U8();
      if (t.max_length != 4 && t.max_length != 8)
        fail("a length of " + std::to_string(t.max_length));
      return t;
    case kGuid:
      t.max_length = reader.U8();
      if (t.max_length != 16) fail("a length of " + std::to_string(t.max_length));
      return t;
    case kDecimalN:
    case kNumericN:
      t.max_length = reader.U8();
      t.precision = reader.U8();
      t.scale = reader.U8();
      // The length is the value's largest; clients differ in what they put there.
      if (t.max_length < 1 || t.max_length > 17 || t.precision < 1 || t.precision > 38 ||
          t.scale > t.precision)
        fail("precision " + std::to_string(t.precision) + ", scale " + std::to_string(t.scale) +
             " and length " + std::to_string(t.max_length));
      return t;
    case kDateN:
      return t;
    case kTimeN:
    case kDateTime2N:
    case kDateTimeOffsetN:
      t.scale = reader.U8();
      if (t.scale > 7) fail("a scale of " + std::to_string(t.scale));
      return t;
    default:
      break;
  }
  if (IsShortLength(t.type)) {
    t.max_length = reader.U16();
    if (t.max_length == 0xFFFF) {
      if (!AtLeast72(version) || t.type == kBigBinary || t.type == kBigChar || t.type == kNChar)
        fail("an unlimited length");
      t.plp = true;
    } else if (t.max_length > 8000) {
      fail("a length of " + std::to_string(t.max_length));
    }
    if (IsCharacter(t.type) && AtLeast71(version)) t.collation = reader.Bytes(5);
    return t;
  }
  if (IsLong(t.type)) {
    t.max_length = reader.U32();
    if (IsCharacter(t.type) && AtLeast71(version)) t.collation = reader.Bytes(5);
    return t;
  }
  throw ProtocolError("a parameter of type " + Hex(t.type) + ", which the server cannot read");
}

namespace {

// The engine's name and size for a parameter's type and value.
void NameType(RpcParameter& p) {
  const TypeInfo& t = p.type;
  auto text_size = [&]() -> std::size_t {
    if (const auto* text = p.value.AsText()) return Utf16Units(*text);
    if (const auto* bytes = p.value.AsBytes()) return bytes->size();
    return 0;
  };
  switch (t.type) {
    case kInt1:
      p.type_name = "tinyint";
      return;
    case kInt2:
      p.type_name = "smallint";
      return;
    case kInt4:
      p.type_name = "int";
      return;
    case kInt8:
      p.type_name = "bigint";
      return;
    case kIntN:
      p.type_name = t.max_length == 1   ? "tinyint"
                    : t.max_length == 2 ? "smallint"
                    : t.max_length == 4 ? "int"
                                        : "bigint";
      return;
    case kBit:
    case kBitN:
      p.type_name = "bit";
      return;
    case kFloat4:
      p.type_name = "real";
      return;
    case kFloat8:
      p.type_name = "float";
      return;
    case kFloatN:
      p.type_name = t.max_length == 4 ? "real" : "float";
      return;
    case kDateTime4:
      p.type_name = "smalldatetime";
      return;
    case kDateTimeN:
      p.type_name = t.max_length == 4 ? "smalldatetime" : "datetime";
      return;
    case kDateTime:
    case kDateN:
    case kTimeN:
    case kDateTime2N:
    case kDateTimeOffsetN:
      p.type_name = "datetime";
      return;
    case kGuid:
      p.type_name = "uniqueidentifier";
      return;
    case kText:
      p.type_name = "text";
      return;
    case kNText:
      p.type_name = "ntext";
      return;
    case kImage:
      p.type_name = "image";
      return;
    default:
      break;
  }
  if (IsShortLength(t.type)) {
    const bool unicode = IsUnicode(t.type);
    const bool binary = t.type == kBigVarBinary || t.type == kBigBinary;
    const bool fixed = t.type == kBigBinary || t.type == kBigChar || t.type == kNChar;
    const std::size_t limit = unicode ? 4000 : 8000;
    if (t.plp) {
      // The engine has no (max) types: values that fit the longest plain type (as an output
      // may) are that type, longer ones the large type.
      if (text_size() > limit) {
        p.type_name = binary ? "image" : unicode ? "ntext" : "text";
        return;
      }
      p.size = static_cast<int>(limit);
    } else {
      p.size =
          static_cast<int>(std::max<std::uint32_t>(unicode ? t.max_length / 2 : t.max_length, 1));
    }
    p.type_name = std::string(fixed ? "" : "var") + (binary ? "binary" : "char");
    if (unicode) p.type_name = "n" + p.type_name;
  }
  // Money and decimals travel as exact text; the engine converts them to the declared type.
}

}  // namespace

common::Value ReadTypedValue(Reader& reader, const TypeInfo& t) {
  auto fail = [&](std::size_t length) -> common::Value {
    throw ProtocolError("a value of " + std::to_string(length) + " bytes for type " + Hex(t.type));
  };
  std::string_view data;
  std::uint8_t type = t.type;
  std::size_t width = 0;
  if (IsFixed(type)) {
    width = FixedSize(type);
    if (type == kNull) return common::Value();
    data = reader.Bytes(width);
  } else if (IsShortLength(type)) {
    if (t.plp) {
      std::optional<std::string> value = ReadPlp(reader);
      if (!value) return common::Value();
      return Decoded(type, *value);
    }
    std::uint16_t length = reader.U16();
    if (length == 0xFFFF) return common::Value();
    if (length > t.max_length) fail(length);
    return Decoded(type, reader.Bytes(length));
  } else if (IsLong(type)) {
    std::uint32_t length = reader.U32();
    if (length == kNullLength) return common::Value();
    return Decoded(type, reader.Bytes(length));
  } else {
    width = reader.U8();
    if (width == 0) return common::Value();
    if (t.max_length != 0 && width > t.max_length && type != kDecimalN && type != kNumericN)
      fail(width);
    data = reader.Bytes(width);
  }
  switch (type) {
    case kInt1:
    case kInt2:
    case kInt4:
    case kInt8:
    case kIntN:
      if (width != 1 && width != 2 && width != 4 && width != 8) return fail(width);
      return common::Value(static_cast<long long>(
          width == 1 ? static_cast<std::int64_t>(Unsigned(data)) : Signed(data)));
    case kBit:
    case kBitN:
      if (width != 1) return fail(width);
      return common::Value(data[0] != 0);
    case kFloat4:
    case kFloat8:
    case kFloatN: {
      if (width == 4) {
        auto bits = static_cast<std::uint32_t>(Unsigned(data));
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return common::Value(static_cast<double>(f));
      }
      if (width != 8) return fail(width);
      std::uint64_t bits = Unsigned(data);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return common::Value(d);
    }
    case kMoney:
    case kMoney4:
    case kMoneyN: {
      std::int64_t units = 0;
      if (width == 4) {
        units = Signed(data);
      } else if (width == 8) {
        units = static_cast<std::int64_t>((Unsigned(data.substr(0, 4)) << 32) |
                                          Unsigned(data.substr(4, 4)));
      } else {
        return fail(width);
      }
      Magnitude m = units < 0 ? static_cast<Magnitude>(-static_cast<__int128>(units))
                              : static_cast<Magnitude>(units);
      return common::Value(DecimalText(units < 0, m, 4));
    }
    case kDecimalN:
    case kNumericN: {
      if (width < 2 || width > 17) return fail(width);
      // The magnitude is little-endian after the sign byte; SQL Server refuses more than 38
      // digits.
      Magnitude m = 0;
      for (std::size_t k = width - 1; k >= 1; --k)
        m = (m << 8) | static_cast<std::uint8_t>(data[k]);
      Magnitude limit = 1;
      for (int k = 0; k < 38; ++k) limit *= 10;
      if (m >= limit) throw ProtocolError("a decimal value of more than 38 digits");
      return common::Value(DecimalText(data[0] == 0, m, t.scale));
    }
    case kDateTime:
    case kDateTime4:
    case kDateTimeN: {
      if (width == 8) {
        std::int64_t days = static_cast<std::int32_t>(Unsigned(data.substr(0, 4)));
        std::int64_t ticks = static_cast<std::int64_t>(Unsigned(data.substr(4, 4)));
        if (ticks >= 300LL * 86400) throw ProtocolError("a datetime past the end of its day");
        return common::Value(FromParts(kDays1900 + days, (ticks * 10 + 1) / 3));
      }
      if (width != 4) return fail(width);
      std::int64_t minutes = static_cast<std::int64_t>(Unsigned(data.substr(2, 2)));
      if (minutes >= 1440) throw ProtocolError("a smalldatetime past the end of its day");
      return common::Value(FromParts(
          kDays1900 + static_cast<std::int64_t>(Unsigned(data.substr(0, 2))), minutes * 60000));
    }
    case kDateN:
    case kTimeN:
    case kDateTime2N:
    case kDateTimeOffsetN: {
      const std::size_t time = type == kDateN ? 0 : TimeLength(t.scale);
      const std::size_t date = type == kTimeN ? 0 : 3;
      const std::size_t offset = type == kDateTimeOffsetN ? 2 : 0;
      if (width != time + date + offset) return fail(width);
      std::int64_t milliseconds = 0;
      if (time) {
        std::uint64_t units = Unsigned(data.substr(0, time));
        milliseconds = static_cast<std::int64_t>(t.scale >= 3 ? units / Pow10(t.scale - 3)
                                                              : units * Pow10(3 - t.scale));
        if (milliseconds >= 86400000) throw ProtocolError("a time past the end of its day");
      }
      std::int64_t days = kDays1900;  // a time alone is of 1900-01-01, as SQL Server converts it
      if (date) days = kDays0001 + static_cast<std::int64_t>(Unsigned(data.substr(time, 3)));
      if (offset) {
        std::int64_t minutes = Signed(data.substr(time + date, 2));
        if (minutes < -840 || minutes > 840) throw ProtocolError("a time zone offset out of range");
        milliseconds += minutes * 60000;
      }
      return common::Value(FromParts(days, milliseconds));
    }
    case kGuid: {
      if (width != 16) return fail(width);
      common::Guid guid;
      for (std::size_t k = 0; k < 16; ++k) guid.bytes[k] = static_cast<std::uint8_t>(data[k]);
      std::reverse(guid.bytes.begin(), guid.bytes.begin() + 4);
      std::reverse(guid.bytes.begin() + 4, guid.bytes.begin() + 6);
      std::reverse(guid.bytes.begin() + 6, guid.bytes.begin() + 8);
      return common::Value(guid);
    }
    default:
      throw ProtocolError("a parameter of type " + Hex(type) + ", which the server cannot read");
  }
}

std::vector<RpcCall> ParseRpcRequest(std::string_view payload, std::uint32_t tds_version) {
  Reader reader(payload);
  SkipHeaders(reader, payload, tds_version);
  std::vector<RpcCall> calls;
  bool no_exec = false;
  while (reader.remaining() > 0) {
    RpcCall call;
    call.no_exec = no_exec;
    std::uint16_t length = reader.U16();
    if (length == 0xFFFF) {
      call.procedure_id = reader.U16();
      call.procedure = std::string(ProcedureOfId(call.procedure_id));
    } else {
      if (length == 0 || length > 1046)
        throw ProtocolError("a procedure name of " + std::to_string(length) + " characters");
      call.procedure = FromUtf16(reader.Bytes(length * 2u));
    }
    call.options = reader.U16();
    bool next = false;
    while (reader.remaining() > 0) {
      auto flag = static_cast<std::uint8_t>(payload[reader.position()]);
      if (flag == 0xFF || flag == 0xFE || (flag == 0x80 && !AtLeast72(tds_version))) {
        reader.U8();
        no_exec = flag == 0xFE;
        next = true;
        break;
      }
      RpcParameter p;
      std::uint8_t units = reader.U8();
      if (units > 128)
        throw ProtocolError("a parameter name of " + std::to_string(units) + " characters");
      p.name = FromUtf16(reader.Bytes(units * 2u));
      std::uint8_t status = reader.U8();
      if (status & 0x08) throw ProtocolError("an encrypted parameter");
      p.output = (status & 0x01) != 0;
      p.default_value = (status & 0x02) != 0;
      p.type = ReadTypeInfo(reader, tds_version);
      p.value = ReadTypedValue(reader, p.type);
      NameType(p);
      call.parameters.push_back(std::move(p));
    }
    calls.push_back(std::move(call));
    if (!next) break;
  }
  if (calls.empty()) throw ProtocolError("an RPC request without a procedure");
  return calls;
}

std::string_view ProcedureOfId(std::uint16_t id) {
  switch (id) {
    case 1:
      return "sp_cursor";
    case 2:
      return "sp_cursoropen";
    case 3:
      return "sp_cursorprepare";
    case 4:
      return "sp_cursorexecute";
    case 5:
      return "sp_cursorprepexec";
    case 6:
      return "sp_cursorunprepare";
    case 7:
      return "sp_cursorfetch";
    case 8:
      return "sp_cursoroption";
    case 9:
      return "sp_cursorclose";
    case 10:
      return "sp_executesql";
    case 11:
      return "sp_prepare";
    case 12:
      return "sp_execute";
    case 13:
      return "sp_prepexec";
    case 14:
      return "sp_prepexecrpc";
    case 15:
      return "sp_unprepare";
    default:
      return {};
  }
}

std::vector<std::string> SplitProcedureName(std::string_view name) {
  std::vector<std::string> parts(1);
  std::size_t i = 0;
  bool part_started = false;
  while (i < name.size()) {
    char c = name[i];
    if (c == '.') {
      if (parts.size() == 4) return {};
      parts.emplace_back();
      part_started = false;
      ++i;
      continue;
    }
    if (part_started) return {};
    part_started = true;
    if (c == '[' || c == '"') {
      const char close = c == '[' ? ']' : '"';
      ++i;
      for (;;) {
        if (i >= name.size()) return {};
        if (name[i] == close) {
          if (i + 1 < name.size() && name[i + 1] == close) {
            parts.back() += close;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        parts.back() += name[i++];
      }
      continue;
    }
    while (i < name.size() && name[i] != '.' && name[i] != '[' && name[i] != '"') {
      const auto u = static_cast<unsigned char>(name[i]);
      // Unquoted names hold letters, digits and _ @ # $ (and any non-ASCII letter).
      if (!(u >= 0x80 || std::isalnum(u) || u == '_' || u == '@' || u == '#' || u == '$'))
        return {};
      parts.back() += name[i++];
    }
  }
  if (parts.back().empty() || parts.back().find('\0') != std::string::npos) return {};
  return parts;
}

void WriteReturnStatus(Writer& out, std::int32_t status) {
  out.U8(kTokenReturnStatus);
  out.U32(static_cast<std::uint32_t>(status));
}

void WriteDoneToken(Writer& out, std::uint32_t version, std::uint8_t token, std::uint16_t status,
                    std::int64_t count) {
  Writer done;
  WriteDone(done, version, status, count);
  done.data()[0] = static_cast<char>(token);
  out.Bytes(done.data());
}

void WriteTypeInfo(Writer& out, std::uint32_t version, const TypeInfo& t) {
  out.U8(t.type);
  if (IsFixed(t.type) || t.type == kDateN) return;
  switch (t.type) {
    case kIntN:
    case kBitN:
    case kFloatN:
    case kMoneyN:
    case kDateTimeN:
    case kGuid:
      out.U8(static_cast<std::uint8_t>(t.max_length));
      return;
    case kDecimalN:
    case kNumericN:
      out.U8(static_cast<std::uint8_t>(t.max_length));
      out.U8(t.precision);
      out.U8(t.scale);
      return;
    case kTimeN:
    case kDateTime2N:
    case kDateTimeOffsetN:
      out.U8(t.scale);
      return;
    default:
      break;
  }
  if (IsShortLength(t.type)) {
    out.U16(t.plp ? 0xFFFF : static_cast<std::uint16_t>(t.max_length));
  } else {
    out.U32(t.max_length);
  }
  if (IsCharacter(t.type) && AtLeast71(version))
    out.Bytes(t.collation.size() == 5
                  ? std::string_view(t.collation)
                  : std::string_view(kServerCollation, sizeof kServerCollation));
}

std::optional<std::string> EncodeTypedValue(const TypeInfo& type, const common::Value& value) {
  return Encode(type, value);
}

void WriteTypedValue(Writer& out, const TypeInfo& type, const common::Value& value) {
  std::optional<std::string> bytes = Encode(type, value);
  if (!bytes) throw std::runtime_error("a value the type " + Hex(type.type) + " cannot carry");
  out.Bytes(*bytes);
}

void WriteReturnValue(Writer& out, std::uint32_t version, std::uint16_t ordinal,
                      std::string_view name, const TypeInfo& declared, const common::Value& value) {
  TypeInfo t = declared;
  // Output goes in the nullable form of the declared type, a large type as its (max) form.
  switch (t.type) {
    case kInt1:
    case kInt2:
    case kInt4:
    case kInt8:
      t = Sized(kIntN, static_cast<std::uint32_t>(FixedSize(t.type)));
      break;
    case kBit:
      t = Sized(kBitN, 1);
      break;
    case kFloat4:
    case kFloat8:
      t = Sized(kFloatN, static_cast<std::uint32_t>(FixedSize(t.type)));
      break;
    case kMoney:
    case kMoney4:
      t = Sized(kMoneyN, static_cast<std::uint32_t>(FixedSize(t.type)));
      break;
    case kDateTime:
    case kDateTime4:
      t = Sized(kDateTimeN, static_cast<std::uint32_t>(FixedSize(t.type)));
      break;
    case kNull:
      t = Sized(kNVarChar, 8000);
      break;
    case kDecimalN:
    case kNumericN:
      t.max_length = static_cast<std::uint32_t>(DecimalBytes(t.precision) + 1);
      break;
    case kBigChar:
      t.type = kBigVarChar;
      break;
    case kNChar:
      t.type = kNVarChar;
      break;
    case kBigBinary:
      t.type = kBigVarBinary;
      break;
    case kText:
    case kNText:
    case kImage:
      t.type = t.type == kText ? kBigVarChar : t.type == kNText ? kNVarChar : kBigVarBinary;
      t.max_length = 8000;
      t.plp = AtLeast72(version);
      break;
    default:
      break;
  }
  std::optional<std::string> bytes = Encode(t, value);
  if (!bytes && t.type == kIntN) {
    t.max_length = 8;
    bytes = Encode(t, value);
  }
  if (!bytes && IsShortLength(t.type) && !t.plp && AtLeast72(version) && t.type != kBigChar) {
    t.plp = true;
    bytes = Encode(t, value);
  }
  if (!bytes) {
    // A value the declared type cannot carry goes as text rather than be lost.
    t = Sized(kNVarChar, 8000);
    t.plp = AtLeast72(version);
    common::Value text = value.AsBytes() ? value : common::Value(value.ToText());
    if (value.AsBytes()) t.type = kBigVarBinary;
    bytes = Encode(t, text);
    if (!bytes) {
      // Before 7.2 nothing longer than 8000 bytes fits: the text is cut.
      std::string units = ToUtf16Limited(value.ToText(), 4000);
      Writer cut;
      cut.U16(static_cast<std::uint16_t>(units.size()));
      cut.Bytes(units);
      t.type = kNVarChar;
      bytes = std::move(cut.data());
    }
  }
  if (IsCharacter(t.type)) t.collation.clear();
  out.U8(kTokenReturnValue);
  out.U16(ordinal);
  out.BVarchar(name);
  out.U8(0x01);  // an output parameter
  if (AtLeast72(version)) {
    out.U32(0);
  } else {
    out.U16(0);
  }
  out.U16(0x0001);  // nullable
  WriteTypeInfo(out, version, t);
  out.Bytes(*bytes);
}

}  // namespace sandbox::tds
