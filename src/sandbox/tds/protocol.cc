#include "sandbox/tds/protocol.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace sandbox::tds {

namespace {

constexpr std::uint8_t kTokenColMetadata = 0x81;
constexpr std::uint8_t kTokenError = 0xAA;
constexpr std::uint8_t kTokenInfo = 0xAB;
constexpr std::uint8_t kTokenLoginAck = 0xAD;
constexpr std::uint8_t kTokenRow = 0xD1;
constexpr std::uint8_t kTokenEnvChange = 0xE3;
constexpr std::uint8_t kTokenDone = 0xFD;

// SQL_Latin1_General_CP1_CI_AS: LCID 1033, case-, kana- and width-insensitive, sort order 52.
constexpr char kCollation[5] = {0x09, 0x04, static_cast<char>(0xD0), 0x00, 0x34};

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
  body.U8(sizeof kCollation);
  body.Bytes(std::string_view(kCollation, sizeof kCollation));
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

enum class Kind { kInt, kBit, kFloat, kDateTime, kGuid, kNVarChar, kNText, kVarBinary, kImage };

struct WireColumn {
  Kind kind = Kind::kNVarChar;
  std::uint32_t width = 0;  // fixed types: bytes; variable ones: the largest value's bytes
  bool nullable = true;
};

namespace {

std::string BaseTypeName(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '(' || c == ' ') break;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

// The wire type a column's declared type asks for, before its values are seen.
WireColumn Declared(const Column& column) {
  std::string type = BaseTypeName(column.type_name);
  if (type == "tinyint") return {Kind::kInt, 1};
  if (type == "smallint") return {Kind::kInt, 2};
  if (type == "int" || type == "integer") return {Kind::kInt, 4};
  if (type == "bigint") return {Kind::kInt, 8};
  if (type == "bit") return {Kind::kBit, 1};
  if (type == "real") return {Kind::kFloat, 4};
  // Whole-number decimals (@@IDENTITY, SCOPE_IDENTITY()) are integers to clients, as in process.
  if ((type == "decimal" || type == "numeric") && column.value_type == common::Value::Type::kInt)
    return {Kind::kInt, 8};
  if (type == "float" || type == "money" || type == "smallmoney" || type == "decimal" ||
      type == "numeric")
    return {Kind::kFloat, 8};
  if (type == "datetime" || type == "smalldatetime") return {Kind::kDateTime, 8};
  if (type == "uniqueidentifier") return {Kind::kGuid, 16};
  if (type == "text" || type == "ntext") return {Kind::kNText, 0};
  if (type == "image") return {Kind::kImage, 0};
  if (type == "binary" || type == "varbinary" || type == "timestamp" || type == "rowversion")
    return {Kind::kVarBinary, static_cast<std::uint32_t>(std::max(column.size, 1))};
  if (type.find("char") != std::string::npos || type == "sysname")
    return {Kind::kNVarChar, static_cast<std::uint32_t>(std::max(column.size, 1) * 2)};
  switch (column.value_type) {
    case common::Value::Type::kBool:
      return {Kind::kBit, 1};
    case common::Value::Type::kInt:
      return {Kind::kInt, 4};
    case common::Value::Type::kDouble:
      return {Kind::kFloat, 8};
    case common::Value::Type::kDateTime:
      return {Kind::kDateTime, 8};
    case common::Value::Type::kBinary:
      return {Kind::kVarBinary, 1};
    case common::Value::Type::kGuid:
      return {Kind::kGuid, 16};
    default:
      return {Kind::kNVarChar, 2};
  }
}

std::uint32_t IntWidth(std::int64_t v) {
  if (v >= 0 && v <= 255) return 1;
  if (v >= std::numeric_limits<std::int16_t>::min() &&
      v <= std::numeric_limits<std::int16_t>::max())
    return 2;
  if (v >= std::numeric_limits<std::int32_t>::min() &&
      v <= std::numeric_limits<std::int32_t>::max())
    return 4;
  return 8;
}

std::optional<common::DateTime> AsDateTime(const common::Value& value) {
  if (const auto* dt = value.AsDateTime()) return *dt;
  if (const auto* text = value.AsText()) return common::DateTime::Parse(*text);
  return std::nullopt;
}

std::optional<common::Guid> AsGuid(const common::Value& value) {
  if (const auto* guid = value.AsGuid()) return *guid;
  if (const auto* text = value.AsText()) return common::Guid::Parse(*text);
  return std::nullopt;
}

// Whether a value can travel as the kind without loss, widening the column where it must.
bool Fits(WireColumn& wire, const common::Value& value) {
  switch (wire.kind) {
    case Kind::kInt: {
      if (value.type() == common::Value::Type::kDouble) return false;
      auto v = value.ToInt();
      if (!v) return false;
      wire.width = std::max(wire.width, IntWidth(*v));
      return true;
    }
    case Kind::kBit:
      return value.type() == common::Value::Type::kBool ||
             (value.ToInt() && (*value.ToInt() == 0 || *value.ToInt() == 1));
    case Kind::kFloat:
      if (!value.ToDouble()) return false;
      if (wire.width == 4 && value.type() != common::Value::Type::kInt) {
        double d = *value.ToDouble();
        if (static_cast<double>(static_cast<float>(d)) != d) wire.width = 8;
      }
      return true;
    case Kind::kDateTime:
      return AsDateTime(value).has_value();
    case Kind::kGuid:
      return AsGuid(value).has_value();
    case Kind::kVarBinary:
    case Kind::kImage:
      if (const auto* bytes = value.AsBytes()) {
        wire.width = std::max<std::uint32_t>(
            wire.width, static_cast<std::uint32_t>(std::min<std::size_t>(bytes->size(), 1u << 31)));
        return true;
      }
      return false;
    case Kind::kNVarChar:
    case Kind::kNText: {
      std::size_t units = Utf16Units(value.ToText());
      wire.width = std::max<std::uint32_t>(
          wire.width, static_cast<std::uint32_t>(std::min<std::size_t>(units * 2, 1u << 31)));
      return true;
    }
  }
  return false;
}

std::uint8_t TypeByte(const WireColumn& wire) {
  switch (wire.kind) {
    case Kind::kInt:
      return 0x26;
    case Kind::kBit:
      return 0x68;
    case Kind::kFloat:
      return 0x6D;
    case Kind::kDateTime:
      return 0x6F;
    case Kind::kGuid:
      return 0x24;
    case Kind::kNVarChar:
      return 0xE7;
    case Kind::kNText:
      return 0x63;
    case Kind::kVarBinary:
      return 0xA5;
    case Kind::kImage:
      return 0x22;
  }
  return 0xE7;
}

void WriteTableName(Writer& out, std::uint32_t version) {
  if (AtLeast72(version)) {
    out.U8(0);  // no name parts
  } else {
    out.U16(0);
  }
}

void WriteValue(Writer& out, const WireColumn& wire, const common::Value& value) {
  bool null = value.IsNull();
  switch (wire.kind) {
    case Kind::kInt: {
      if (null) return out.U8(0);
      out.U8(static_cast<std::uint8_t>(wire.width));
      auto v = static_cast<std::uint64_t>(*value.ToInt());
      for (std::uint32_t k = 0; k < wire.width; ++k) out.U8((v >> (8 * k)) & 0xFF);
      return;
    }
    case Kind::kBit:
      if (null) return out.U8(0);
      out.U8(1);
      return out.U8(value.ToBool().value_or(false) ? 1 : 0);
    case Kind::kFloat: {
      if (null) return out.U8(0);
      out.U8(static_cast<std::uint8_t>(wire.width));
      double d = *value.ToDouble();
      if (wire.width == 4) {
        float f = static_cast<float>(d);
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return out.U32(bits);
      }
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      return out.U64(bits);
    }
    case Kind::kDateTime: {
      if (null) return out.U8(0);
      auto [days, ticks] = DateTimeParts(*AsDateTime(value));
      out.U8(8);
      out.U32(static_cast<std::uint32_t>(days));
      return out.U32(ticks);
    }
    case Kind::kGuid: {
      if (null) return out.U8(0);
      auto bytes = AsGuid(value)->bytes;
      // The first three groups travel little-endian.
      std::reverse(bytes.begin(), bytes.begin() + 4);
      std::reverse(bytes.begin() + 4, bytes.begin() + 6);
      std::reverse(bytes.begin() + 6, bytes.begin() + 8);
      out.U8(16);
      for (auto b : bytes) out.U8(b);
      return;
    }
    case Kind::kNVarChar:
    case Kind::kVarBinary: {
      if (null) return out.U16(0xFFFF);
      std::string data = wire.kind == Kind::kNVarChar
                             ? ToUtf16(value.ToText())
                             : std::string(value.AsBytes()->begin(), value.AsBytes()->end());
      out.U16(static_cast<std::uint16_t>(data.size()));
      return out.Bytes(data);
    }
    case Kind::kNText:
    case Kind::kImage: {
      if (null) return out.U8(0);
      std::string data = wire.kind == Kind::kNText
                             ? ToUtf16(value.ToText())
                             : std::string(value.AsBytes()->begin(), value.AsBytes()->end());
      out.U8(16);
      out.Bytes(std::string(16, '\0'));  // text pointer
      out.Bytes(std::string(8, '\0'));   // time stamp
      out.U32(static_cast<std::uint32_t>(data.size()));
      return out.Bytes(data);
    }
  }
}

}  // namespace

namespace {

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
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (row[i].IsNull()) continue;
    WireColumn probe = wires_[i];
    bool fits = Fits(probe, row[i]);
    if (fits && (probe.kind == Kind::kNVarChar || probe.kind == Kind::kVarBinary))
      fits = probe.width <= wires_[i].width;
    if (fits && probe.kind == Kind::kInt) fits = probe.width <= wires_[i].width;
    if (!fits)
      throw std::runtime_error("a value of column '" + columns_[i].name +
                               "' does not fit the type the row set's first rows were sent as");
  }
  out.U8(kTokenRow);
  for (std::size_t i = 0; i < columns_.size(); ++i) WriteValue(out, wires_[i], row[i]);
}

void RowSetWriter::Finish(Writer& out) {
  if (columns_.empty() || columns_.size() > 4096) return;
  if (!started_) Start(out, false);
}

void RowSetWriter::Start(Writer& out, bool streaming) {
  started_ = true;
  streaming_ = streaming;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    WireColumn wire = Declared(columns_[i]);
    wire.nullable = columns_[i].nullable || streaming;
    for (const auto& row : held_) {
      if (row[i].IsNull()) {
        wire.nullable = true;
        continue;
      }
      if (!Fits(wire, row[i])) {
        // A value the declared type cannot carry: the column goes as text rather than lose it.
        wire = {Kind::kNVarChar, 2, true};
        for (const auto& again : held_)
          if (!again[i].IsNull()) Fits(wire, again[i]);
        break;
      }
    }
    if (streaming) {
      // Rows not seen yet must fit too: room for any text where the declared type gives no
      // length, the widest integer where it is not an integer type.
      if ((wire.kind == Kind::kNVarChar || wire.kind == Kind::kVarBinary) && columns_[i].size <= 0)
        wire.width = std::max<std::uint32_t>(wire.width, 8000);
      if (wire.kind == Kind::kInt && !DeclaredInteger(columns_[i])) wire.width = 8;
      if (wire.kind == Kind::kFloat) wire.width = 8;
    }
    if (wire.kind == Kind::kNVarChar && wire.width > 8000) wire.kind = Kind::kNText;
    if (wire.kind == Kind::kVarBinary && wire.width > 8000) wire.kind = Kind::kImage;
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
    out.U8(TypeByte(wire));
    switch (wire.kind) {
      case Kind::kNVarChar:
      case Kind::kVarBinary:
        out.U16(static_cast<std::uint16_t>(std::max<std::uint32_t>(wire.width, 2)));
        if (wire.kind == Kind::kNVarChar && AtLeast71(version_))
          out.Bytes(std::string_view(kCollation, sizeof kCollation));
        break;
      case Kind::kNText:
        out.U32(0x7FFFFFFE);
        if (AtLeast71(version_)) out.Bytes(std::string_view(kCollation, sizeof kCollation));
        WriteTableName(out, version_);
        break;
      case Kind::kImage:
        out.U32(0x7FFFFFFF);
        WriteTableName(out, version_);
        break;
      default:
        out.U8(static_cast<std::uint8_t>(wire.width));
    }
    out.BVarchar(columns_[i].name);
  }
  for (const auto& row : held_) {
    out.U8(kTokenRow);
    for (std::size_t i = 0; i < columns_.size(); ++i) WriteValue(out, wires_[i], row[i]);
  }
  held_.clear();
  held_.shrink_to_fit();
  held_bytes_ = 0;
}

}  // namespace sandbox::tds
