#include "sandbox/tds/protocol.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "sandbox/tds/rpc.h"

namespace sandbox::tds {

namespace {

constexpr std::uint8_t kTokenColMetadata = 0x81;
constexpr std::uint8_t kTokenError = 0xAA;
constexpr std::uint8_t kTokenInfo = 0xAB;
constexpr std::uint8_t kTokenLoginAck = 0xAD;
constexpr std::uint8_t kTokenRow = 0xD1;
constexpr std::uint8_t kTokenEnvChange = 0xE3;
constexpr std::uint8_t kTokenDone = 0xFD;

struct VersionParts {
  int major = 8;
  int minor = 0;
  int build = 0;
};

VersionParts ParseProductVersion(std::string_view text) {
  VersionParts parts;
  int* fields[] = {&parts.major, &parts.minor, &parts.build};
  std::size_t field = 0;
  int value = 0;
  bool any = false;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      value = std::min(value * 10 + (c - '0'), 65535);
      any = true;
    } else if (c == '.' && field < 2) {
      if (any) *fields[field] = value;
      ++field;
      value = 0;
      any = false;
    } else {
      break;
    }
  }
  if (any && field < 3) *fields[field] = value;
  return parts;
}

// The body of a token whose length comes first as two bytes.
void WriteWithLength(Writer& out, std::uint8_t token, const std::string& body) {
  out.U8(token);
  out.U16(static_cast<std::uint16_t>(std::min<std::size_t>(body.size(), 65535)));
  out.Bytes(std::string_view(body).substr(0, 65535));
}

}  // namespace

std::uint32_t NegotiateVersion(std::uint32_t requested) {
  if (requested >= kTds74) return kTds74;
  // 7.1 clients have sent both revisions; tedious accepts only revision 1 back.
  if ((requested >> 24) == 0x71) return kTds71;
  if ((requested >> 24) < 0x70) return kTds70;
  return requested;
}

Prelogin ParsePrelogin(std::string_view payload) {
  Prelogin result;
  Reader reader(payload);
  for (;;) {
    std::uint8_t option = reader.U8();
    if (option == 0xFF) break;
    std::size_t offset = reader.U16BigEndian();
    std::size_t length = reader.U16BigEndian();
    if (offset > payload.size() || length > payload.size() - offset)
      throw ProtocolError("a PRELOGIN option outside the message");
    if (option == 1 && length >= 1) result.encryption = static_cast<std::uint8_t>(payload[offset]);
  }
  return result;
}

std::string PreloginResponse(std::string_view product_version) {
  VersionParts version = ParseProductVersion(product_version);
  struct Option {
    std::uint8_t token;
    std::string data;
  };
  Writer version_data;
  version_data.U8(static_cast<std::uint8_t>(version.major));
  version_data.U8(static_cast<std::uint8_t>(version.minor));
  version_data.U16BigEndian(static_cast<std::uint16_t>(version.build));
  version_data.U16BigEndian(0);
  std::vector<Option> options = {{0, version_data.data()},
                                 {1, std::string(1, '\x02')},  // encryption not supported
                                 {2, std::string(1, '\0')},
                                 {3, std::string()},
                                 {4, std::string(1, '\0')}};
  Writer out;
  std::size_t offset = options.size() * 5 + 1;
  for (const Option& option : options) {
    out.U8(option.token);
    out.U16BigEndian(static_cast<std::uint16_t>(offset));
    out.U16BigEndian(static_cast<std::uint16_t>(option.data.size()));
    offset += option.data.size();
  }
  out.U8(0xFF);
  for (const Option& option : options) out.Bytes(option.data);
  return std::move(out.data());
}

Login7 ParseLogin7(std::string_view payload) {
  constexpr std::size_t kFixedPart = 86;  // up to the attached database file, as 7.0 has it
  Reader reader(payload);
  std::uint32_t length = reader.U32();
  if (length < kFixedPart || length > payload.size())
    throw ProtocolError("a LOGIN7 length of " + std::to_string(length) + " bytes");
  std::string_view record = payload.substr(0, length);
  Login7 login;
  login.tds_version = reader.U32();
  login.packet_size = reader.U32();
  reader.Skip(12);  // client program version, process id, connection id
  reader.U8();
  login.integrated = (reader.U8() & 0x80) != 0;
  reader.Skip(10);  // type flags, option flags 3, time zone, LCID
  auto text = [&](bool password = false) {
    std::size_t offset = reader.U16();
    std::size_t units = reader.U16();
    if (units > 256 || offset > record.size() || units * 2 > record.size() - offset)
      throw ProtocolError("a LOGIN7 field outside the record");
    std::string bytes(record.substr(offset, units * 2));
    if (password) {
      for (char& c : bytes) {
        auto b = static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) ^ 0xA5);
        c = static_cast<char>(static_cast<std::uint8_t>((b << 4) | (b >> 4)));
      }
    }
    std::string decoded = FromUtf16(bytes);
    std::fill(bytes.begin(), bytes.end(), '\0');
    return decoded;
  };
  login.host_name = text();
  login.user_name = text();
  login.password = text(true);
  login.application = text();
  login.server_name = text();
  reader.Skip(4);  // extension (7.4) or unused
  text();          // client interface library
  login.language = text();
  login.database = text();
  return login;
}

void SkipHeaders(Reader& reader, std::string_view payload, std::uint32_t tds_version) {
  if (AtLeast72(tds_version)) {
    std::uint32_t total = reader.U32();
    if (total < 4 || total > payload.size())
      throw ProtocolError("batch headers of " + std::to_string(total) + " bytes");
    std::size_t position = 4;
    while (position < total) {
      std::uint32_t header = reader.U32();
      if (header < 6 || header > total - position)
        throw ProtocolError("a batch header of " + std::to_string(header) + " bytes");
      reader.Skip(header - 4);
      position += header;
    }
  }
}

TransactionRequest ParseTransactionRequest(std::string_view payload, std::uint32_t tds_version) {
  Reader reader(payload);
  SkipHeaders(reader, payload, tds_version);
  TransactionRequest request;
  request.type = reader.U16();
  auto skip_name = [&] { reader.Skip(reader.U8() * 2u); };
  if (request.type == TransactionRequest::kBegin) {
    reader.U8();  // isolation level
    skip_name();
  } else if (request.type == TransactionRequest::kCommit ||
             request.type == TransactionRequest::kRollback) {
    skip_name();
    request.begin_after = (reader.U8() & 0x01) != 0;
    if (request.begin_after) {
      reader.U8();
      skip_name();
    }
  }
  return request;
}

std::string ParseSqlBatch(std::string_view payload, std::uint32_t tds_version) {
  Reader reader(payload);
  SkipHeaders(reader, payload, tds_version);
  std::string_view text = payload.substr(reader.position());
  if (text.size() % 2 != 0) throw ProtocolError("batch text of an odd number of bytes");
  return FromUtf16(text);
}

void WriteLoginAck(Writer& out, std::uint32_t version, std::string_view product_version) {
  VersionParts parts = ParseProductVersion(product_version);
  Writer body;
  body.U8(1);  // Transact-SQL
  // 7.0 acknowledges in its own old form.
  body.U32BigEndian(version == kTds70 ? 0x07000000 : version);
  body.BVarchar("Microsoft SQL Server");
  body.U8(static_cast<std::uint8_t>(parts.major));
  body.U8(static_cast<std::uint8_t>(parts.minor));
  body.U16BigEndian(static_cast<std::uint16_t>(parts.build));
  WriteWithLength(out, kTokenLoginAck, body.data());
}

void WriteEnvChange(Writer& out, std::uint8_t type, std::string_view new_value,
                    std::string_view old_value) {
  Writer body;
  body.U8(type);
  body.BVarchar(new_value);
  body.BVarchar(old_value);
  WriteWithLength(out, kTokenEnvChange, body.data());
}

void WriteCollationChange(Writer& out) {
  Writer body;
  body.U8(7);
  body.U8(sizeof kServerCollation);
  body.Bytes(std::string_view(kServerCollation, sizeof kServerCollation));
  body.U8(0);
  WriteWithLength(out, kTokenEnvChange, body.data());
}

void WriteEnvChangeBytes(Writer& out, std::uint8_t type, std::string_view new_value,
                         std::string_view old_value) {
  Writer body;
  body.U8(type);
  body.U8(static_cast<std::uint8_t>(new_value.size()));
  body.Bytes(new_value.substr(0, 255));
  body.U8(static_cast<std::uint8_t>(old_value.size()));
  body.Bytes(old_value.substr(0, 255));
  WriteWithLength(out, kTokenEnvChange, body.data());
}

void WriteMessage(Writer& out, std::uint32_t version, const ServerMessage& message,
                  std::string_view server_name) {
  Writer body;
  body.U32(static_cast<std::uint32_t>(message.number));
  body.U8(static_cast<std::uint8_t>(std::clamp(message.state, 0, 255)));
  body.U8(static_cast<std::uint8_t>(std::clamp(message.severity, 0, 25)));
  // The text is cut so that the token's own two-byte length still holds it.
  body.Bytes([&] {
    Writer text;
    std::string units = ToUtf16Limited(message.text, 16000);
    text.U16(static_cast<std::uint16_t>(units.size() / 2));
    text.Bytes(units);
    return text.data();
  }());
  body.BVarchar(server_name);
  body.BVarchar(message.procedure);
  int line = std::max(message.line, 0);
  if (AtLeast72(version)) {
    body.U32(static_cast<std::uint32_t>(line));
  } else {
    body.U16(static_cast<std::uint16_t>(std::min(line, 65535)));
  }
  WriteWithLength(out, message.IsError() ? kTokenError : kTokenInfo, body.data());
}

void WriteDone(Writer& out, std::uint32_t version, std::uint16_t status, std::int64_t count) {
  if (count < 0) {
    count = 0;
    status &= ~kDoneCount;
  }
  out.U8(kTokenDone);
  out.U16(status);
  out.U16(0);
  if (AtLeast72(version)) {
    out.U64(static_cast<std::uint64_t>(count));
  } else {
    out.U32(static_cast<std::uint32_t>(std::min<std::int64_t>(count, 0xFFFFFFFF)));
  }
}

std::pair<std::int32_t, std::uint32_t> DateTimeParts(const common::DateTime& value) {
  // Days from the civil date (proleptic Gregorian).
  auto days_from_civil = [](int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
  };
  std::int32_t days =
      days_from_civil(value.year, value.month, value.day) - days_from_civil(1900, 1, 1);
  std::uint32_t ticks =
      static_cast<std::uint32_t>((value.hour * 3600 + value.minute * 60 + value.second) * 300) +
      static_cast<std::uint32_t>((value.millisecond * 3 + 5) / 10);
  if (ticks >= 300u * 86400u) {
    ticks -= 300u * 86400u;
    ++days;
  }
  return {days, ticks};
}

using namespace wire_type;

struct WireColumn {
  TypeInfo type;
  bool nullable = true;
  bool as_text = false;  // a value the declared type cannot carry: the column goes as text
};

namespace {

constexpr std::uint32_t kLongestShort = 8000;  // bytes of the longest non-(max) variable type

std::string BaseTypeName(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '(' || c == ' ') break;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

bool IsLong(std::uint8_t type) { return type == kText || type == kNText || type == kImage; }
bool IsVariable(std::uint8_t type) {
  return type == kBigVarChar || type == kBigChar || type == kNVarChar || type == kNChar ||
         type == kBigVarBinary || type == kBigBinary;
}
bool IsUnicode(std::uint8_t type) { return type == kNVarChar || type == kNChar || type == kNText; }
bool IsBinary(std::uint8_t type) {
  return type == kBigVarBinary || type == kBigBinary || type == kImage;
}

TypeInfo Info(std::uint8_t type, std::uint32_t max_length) {
  TypeInfo t;
  t.type = type;
  t.max_length = max_length;
  return t;
}

// The large type of the same family: what a variable type becomes past 8000 bytes.
TypeInfo LongOf(std::uint8_t type) {
  if (IsUnicode(type)) return Info(kNText, 0x7FFFFFFE);
  if (IsBinary(type)) return Info(kImage, 0x7FFFFFFF);
  return Info(kText, 0x7FFFFFFF);
}

// A character or binary type of declared length: (max) travels as PLP from 7.2, as the large
// type before; an unknown length (0) is found from the values.
TypeInfo Variable(std::uint8_t type, int length, std::uint32_t version) {
  if (length < 0 || (length > 0 && static_cast<std::uint32_t>(length) >
                                       (IsUnicode(type) ? kLongestShort / 2 : kLongestShort))) {
    if (!AtLeast72(version)) return LongOf(type);
    std::uint8_t plp_type = type;  // (max) has only the varying forms
    if (type == kBigChar) plp_type = kBigVarChar;
    if (type == kNChar) plp_type = kNVarChar;
    if (type == kBigBinary) plp_type = kBigVarBinary;
    TypeInfo t = Info(plp_type, 0xFFFF);
    t.plp = true;
    return t;
  }
  return Info(type, static_cast<std::uint32_t>(length) * (IsUnicode(type) ? 2 : 1));
}

// The wire type a column's declared type asks for, before its values are seen.
TypeInfo Declared(const Column& column, std::uint32_t version) {
  const std::string type = BaseTypeName(column.type_name);
  if (type == "tinyint") return Info(kIntN, 1);
  if (type == "smallint") return Info(kIntN, 2);
  if (type == "int" || type == "integer") return Info(kIntN, 4);
  if (type == "bigint") return Info(kIntN, 8);
  if (type == "bit") return Info(kBitN, 1);
  if (type == "real") return Info(kFloatN, 4);
  if (type == "float") return Info(kFloatN, 8);
  if (type == "money") return Info(kMoneyN, 8);
  if (type == "smallmoney") return Info(kMoneyN, 4);
  if (type == "datetime") return Info(kDateTimeN, 8);
  if (type == "smalldatetime") return Info(kDateTimeN, 4);
  if (type == "uniqueidentifier") return Info(kGuid, 16);
  if (type == "decimal" || type == "numeric") {
    const bool known = column.precision >= 1 && column.precision <= 38;
    // Without its precision the scale is no promise either: rounding to it could lose digits.
    if (!known && column.value_type != common::Value::Type::kInt) return Info(kFloatN, 8);
    TypeInfo t;
    t.type = type == "decimal" ? kDecimalN : kNumericN;
    t.precision = static_cast<std::uint8_t>(known ? column.precision : 38);
    t.scale = static_cast<std::uint8_t>(std::clamp(column.scale, 0, int{t.precision}));
    t.max_length = t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
    return t;
  }
  if (type == "text") return Info(kText, 0x7FFFFFFF);
  if (type == "ntext") return Info(kNText, 0x7FFFFFFE);
  if (type == "image") return Info(kImage, 0x7FFFFFFF);
  if (type == "timestamp" || type == "rowversion") return Info(kBigBinary, 8);
  if (type == "binary") return Variable(kBigBinary, column.size, version);
  if (type == "varbinary") return Variable(kBigVarBinary, column.size, version);
  if (type == "char") return Variable(kBigChar, column.size, version);
  if (type == "varchar") return Variable(kBigVarChar, column.size, version);
  if (type == "nchar") return Variable(kNChar, column.size, version);
  if (type == "nvarchar") return Variable(kNVarChar, column.size, version);
  if (type == "sysname") return Variable(kNVarChar, column.size > 0 ? column.size : 128, version);
  switch (column.value_type) {
    case common::Value::Type::kBool:
      return Info(kBitN, 1);
    case common::Value::Type::kInt:
      return Info(kIntN, 4);
    case common::Value::Type::kDouble:
      return Info(kFloatN, 8);
    case common::Value::Type::kDateTime:
      return Info(kDateTimeN, 8);
    case common::Value::Type::kBinary:
      return Info(kBigVarBinary, 0);
    case common::Value::Type::kGuid:
      return Info(kGuid, 16);
    default:
      return Info(kNVarChar, 0);
  }
}

// The value as the column sends it.
common::Value Sent(const WireColumn& wire, const common::Value& value) {
  if (wire.as_text && !value.IsNull()) return common::Value(value.ToText());
  return value;
}

// Whether a value can travel in the column's type without loss, widening the type where it may
// (a wider integer or float, a longer or large variable type, Unicode for a character the code
// page lacks).
bool Fits(TypeInfo& type, const common::Value& value) {
  if (value.IsNull()) return true;
  if (type.type == kFloatN && type.max_length == 4 &&
      value.type() == common::Value::Type::kDouble) {
    double d = *value.ToDouble();
    if (static_cast<double>(static_cast<float>(d)) != d) type.max_length = 8;
  }
  if (EncodeTypedValue(type, value)) return true;
  if (type.type == kIntN && type.max_length < 8) {
    TypeInfo wider = Info(kIntN, 8);
    if (!EncodeTypedValue(wider, value)) return false;
    type = wider;
    return true;
  }
  if (!IsVariable(type.type) && !IsLong(type.type)) return false;
  const bool binary = IsBinary(type.type);
  if (binary != (value.AsBytes() != nullptr)) return false;
  if (!binary && !IsUnicode(type.type)) {
    TypeInfo narrow = type;
    narrow.plp = true;  // any length: only the code page is in question here
    if (!EncodeTypedValue(narrow, value)) {
      // Unicode keeps the characters the code page lacks.
      TypeInfo wide = type;
      wide.type = type.type == kBigChar ? kNChar : type.type == kText ? kNText : kNVarChar;
      if (wide.type == kNText)
        wide.max_length = 0x7FFFFFFE;
      else if (!wide.plp)
        wide.max_length = std::min(type.max_length * 2, kLongestShort);
      type = wide;
      return Fits(type, value);
    }
  }
  // Longer than the type says: the length grows, past 8000 bytes into the large type.
  std::size_t bytes = binary                 ? value.AsBytes()->size()
                      : IsUnicode(type.type) ? Utf16Units(value.ToText()) * 2
                                             : value.ToText().size();
  if (!IsLong(type.type) && !type.plp) {
    if (bytes > kLongestShort) {
      type = LongOf(type.type);
    } else {
      type.max_length = std::max<std::uint32_t>(type.max_length, static_cast<std::uint32_t>(bytes));
    }
  }
  return EncodeTypedValue(type, value).has_value();
}

void WriteTableName(Writer& out, std::uint32_t version) {
  if (AtLeast72(version)) {
    out.U8(0);  // no name parts
  } else {
    out.U16(0);
  }
}

// A row's value; false (nothing written) when the column's type cannot carry it.
bool WriteValue(Writer& out, const WireColumn& wire, const common::Value& value) {
  common::Value sent = Sent(wire, value);
  if (IsLong(wire.type.type)) {
    if (sent.IsNull()) {
      out.U8(0);  // no text pointer
      return true;
    }
    auto bytes = EncodeTypedValue(wire.type, sent);
    if (!bytes) return false;
    out.U8(16);
    out.Bytes(std::string(16, '\0'));  // text pointer
    out.Bytes(std::string(8, '\0'));   // time stamp
    out.Bytes(*bytes);
    return true;
  }
  auto bytes = EncodeTypedValue(wire.type, sent);
  if (!bytes) return false;
  out.Bytes(*bytes);
  return true;
}

bool DeclaredInteger(const Column& column) {
  std::string type = BaseTypeName(column.type_name);
  return type == "tinyint" || type == "smallint" || type == "int" || type == "integer" ||
         type == "bigint";
}

// What a held value counts towards the bound on held rows.
std::size_t HeldSize(const common::Value& value) {
  if (const auto* text = value.AsText()) return text->size() + 16;
  if (const auto* bytes = value.AsBytes()) return bytes->size() + 16;
  return 16;
}

}  // namespace

RowSetWriter::RowSetWriter(std::uint32_t version, std::vector<Column> columns)
    : version_(version), columns_(std::move(columns)) {}

RowSetWriter::~RowSetWriter() = default;

void RowSetWriter::Row(Writer& out, std::vector<common::Value> row) {
  if (columns_.empty() || columns_.size() > 4096) return;
  row.resize(columns_.size());
  if (!streaming_) {
    for (const common::Value& value : row) held_bytes_ += HeldSize(value);
    held_.push_back(std::move(row));
    if (held_.size() >= kHeldRows || held_bytes_ >= kHeldBytes) Start(out, true);
    return;
  }
  // The whole row is encoded before any of it goes out, so a value that does not fit leaves
  // the reply as it was.
  Writer encoded;
  encoded.U8(kTokenRow);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    bool fits = WriteValue(encoded, wires_[i], row[i]);
    if (fits && wires_[i].type.type == kFloatN && wires_[i].type.max_length == 4 &&
        row[i].type() == common::Value::Type::kDouble) {
      double d = *row[i].ToDouble();
      fits = static_cast<double>(static_cast<float>(d)) == d;
    }
    if (!fits)
      throw std::runtime_error("a value of column '" + columns_[i].name +
                               "' does not fit the type the row set's first rows were sent as");
  }
  out.Bytes(encoded.data());
}

void RowSetWriter::Finish(Writer& out) {
  if (columns_.empty() || columns_.size() > 4096) return;
  if (!started_) Start(out, false);
}

void RowSetWriter::Start(Writer& out, bool streaming) {
  started_ = true;
  streaming_ = streaming;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    WireColumn wire;
    wire.type = Declared(columns_[i], version_);
    wire.nullable = columns_[i].nullable || streaming;
    for (const auto& row : held_) {
      if (row[i].IsNull()) {
        wire.nullable = true;
        continue;
      }
      if (!Fits(wire.type, row[i])) {
        // A value the declared type cannot carry: the column goes as text rather than lose it.
        wire.type = Info(kNVarChar, 0);
        wire.as_text = true;
        wire.nullable = true;
        for (const auto& again : held_) Fits(wire.type, Sent(wire, again[i]));
        break;
      }
    }
    TypeInfo& type = wire.type;
    if (streaming) {
      // Rows not seen yet must fit too: room for any text where the declared type gives no
      // length, the widest integer where it is not an integer type.
      if (IsVariable(type.type) && !type.plp && columns_[i].size <= 0)
        type.max_length = kLongestShort;
      if (type.type == kIntN && !DeclaredInteger(columns_[i])) type.max_length = 8;
      if (type.type == kFloatN) type.max_length = 8;
    }
    // No type of length 0: a column of only empty or null values still has one.
    if (IsVariable(type.type) && !type.plp)
      type.max_length = std::max<std::uint32_t>(type.max_length, IsUnicode(type.type) ? 2 : 1);
    wires_.push_back(wire);
  }

  out.U8(kTokenColMetadata);
  out.U16(static_cast<std::uint16_t>(columns_.size()));
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const WireColumn& wire = wires_[i];
    if (AtLeast72(version_)) {
      out.U32(0);
    } else {
      out.U16(0);
    }
    std::uint16_t flags = wire.nullable ? 0x0001 : 0;
    if (columns_[i].identity) flags |= 0x0010;
    out.U16(flags);
    WriteTypeInfo(out, version_, wire.type);
    if (IsLong(wire.type.type)) WriteTableName(out, version_);
    out.BVarchar(columns_[i].name);
  }
  for (const auto& row : held_) {
    out.U8(kTokenRow);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (!WriteValue(out, wires_[i], row[i]))
        throw std::logic_error("a held value that its column's type was chosen to carry");
    }
  }
  held_.clear();
  held_.shrink_to_fit();
  held_bytes_ = 0;
}

}  // namespace sandbox::tds
