#include "tds_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sandbox/tds/rpc.h"
#include "sandbox/tds/wire.h"

namespace tds_test {

using sandbox::tds::FromUtf16;
using sandbox::tds::Reader;
using sandbox::tds::ToUtf16;
using sandbox::tds::Writer;

namespace {

struct ColumnInfo {
  std::uint8_t type = 0;
  std::uint32_t size = 0;
};

std::string BVarchar(Reader& r) { return FromUtf16(r.Bytes(r.U8() * 2u)); }

common::Value DecodeDateTime(std::int32_t days, std::uint32_t ticks) {
  // Civil date from days since 1970-01-01, shifted from 1900-01-01 (25567 days apart).
  std::int64_t z = static_cast<std::int64_t>(days) - 25567 + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  common::DateTime dt;
  dt.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  dt.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  dt.year = static_cast<int>(yoe + era * 400 + (dt.month <= 2));
  std::uint32_t ms = static_cast<std::uint32_t>((ticks * 10ull + 1) / 3);
  dt.hour = static_cast<int>(ms / 3600000);
  dt.minute = static_cast<int>(ms / 60000 % 60);
  dt.second = static_cast<int>(ms / 1000 % 60);
  dt.millisecond = static_cast<int>(ms % 1000);
  return common::Value(dt);
}

common::Value DecodeValue(Reader& r, const ColumnInfo& column) {
  switch (column.type) {
    case 0x26: {  // INTN
      std::uint8_t len = r.U8();
      if (len == 0) return {};
      std::string_view b = r.Bytes(len);
      std::uint64_t v = 0;
      for (int k = len - 1; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(b[k]);
      std::int64_t s = len == 8   ? static_cast<std::int64_t>(v)
                       : len == 4 ? static_cast<std::int32_t>(v)
                       : len == 2 ? static_cast<std::int16_t>(v)
                                  : static_cast<std::int64_t>(v);
      return common::Value(static_cast<long long>(s));
    }
    case 0x68: {  // BITN
      std::uint8_t len = r.U8();
      if (len == 0) return {};
      return common::Value(r.U8() != 0);
    }
    case 0x6D: {  // FLTN
      std::uint8_t len = r.U8();
      if (len == 0) return {};
      if (len == 4) {
        std::uint32_t bits = r.U32();
        float f;
        std::memcpy(&f, &bits, 4);
        return common::Value(static_cast<double>(f));
      }
      std::uint64_t lo = r.U32();
      std::uint64_t hi = r.U32();
      std::uint64_t bits = lo | (hi << 32);
      double d;
      std::memcpy(&d, &bits, 8);
      return common::Value(d);
    }
    case 0x6F: {  // DATETIMN
      std::uint8_t len = r.U8();
      if (len == 0) return {};
      if (len != 8) throw std::runtime_error("datetime of " + std::to_string(len) + " bytes");
      auto days = static_cast<std::int32_t>(r.U32());
      return DecodeDateTime(days, r.U32());
    }
    case 0xE7:    // NVARCHAR
    case 0xA5: {  // BIGVARBINARY
      std::uint16_t len = r.U16();
      if (len == 0xFFFF) return {};
      if (len > column.size) throw std::runtime_error("a value longer than its column");
      std::string_view b = r.Bytes(len);
      if (column.type == 0xE7) return common::Value(FromUtf16(b));
      return common::Value(common::Bytes(b.begin(), b.end()));
    }
    case 0x63:    // NTEXT
    case 0x22: {  // IMAGE
      std::uint8_t ptr = r.U8();
      if (ptr == 0) return {};
      r.Skip(ptr + 8u);
      std::uint32_t len = r.U32();
      std::string_view b = r.Bytes(len);
      if (column.type == 0x63) return common::Value(FromUtf16(b));
      return common::Value(common::Bytes(b.begin(), b.end()));
    }
    default:
      throw std::runtime_error("unexpected column type " + std::to_string(column.type));
  }
}

}  // namespace

std::string Login7Record(const std::string& user, const std::string& password,
                         std::uint32_t version, bool integrated) {
  std::string encoded = ToUtf16(password);
  for (char& c : encoded) {
    auto b = static_cast<std::uint8_t>(c);
    b = static_cast<std::uint8_t>((b << 4) | (b >> 4));
    c = static_cast<char>(b ^ 0xA5);
  }
  std::vector<std::string> fields = {ToUtf16("testhost"),
                                     ToUtf16(user),
                                     encoded,
                                     ToUtf16("tds-test"),
                                     ToUtf16("local"),
                                     "",
                                     ToUtf16("tds-test"),
                                     "",
                                     ""};
  const std::size_t fixed = 94;
  Writer head;
  std::string tail;
  std::uint32_t total = fixed;
  for (auto& f : fields) total += static_cast<std::uint32_t>(f.size());
  head.U32(total);
  head.U32(version);
  head.U32(4096);
  head.U32(7);
  head.U32(1234);
  head.U32(0);
  head.U8(0xE0);
  head.U8(integrated ? 0x83 : 0x03);
  head.U8(0);
  head.U8(0);
  head.U32(0);
  head.U32(0x409);
  std::size_t offset = fixed;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    head.U16(static_cast<std::uint16_t>(offset));
    head.U16(static_cast<std::uint16_t>(i == 5 ? 0 : fields[i].size() / 2));
    offset += fields[i].size();
    tail += fields[i];
  }
  head.Bytes(std::string(6, '\x01'));  // client id
  for (int k = 0; k < 3; ++k) {        // SSPI, attached file, change password
    head.U16(static_cast<std::uint16_t>(offset));
    head.U16(0);
  }
  head.U32(0);
  return head.data() + tail;
}

Client::Client(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("cannot connect");
  timeval timeout{10, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

Client::~Client() { ::close(fd_); }

void Client::SendRaw(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;  // the server may already have closed the connection
    sent += static_cast<std::size_t>(n);
  }
}

void Client::SendPacket(std::uint8_t type, const std::string& payload) {
  std::uint8_t id = 1;
  SendRaw(sandbox::tds::Frame(static_cast<sandbox::tds::PacketType>(type), payload, 4096, &id));
}

std::string Client::ReadMessage() {
  sandbox::tds::Message message;
  bool ok = sandbox::tds::ReadMessage(
      [this](char* buffer, std::size_t count) -> std::size_t {
        ssize_t n = ::recv(fd_, buffer, count, 0);
        if (n < 0) throw std::runtime_error("no reply");
        return static_cast<std::size_t>(n);
      },
      64u << 20, &message);
  if (!ok) throw std::runtime_error("the server closed the connection");
  if (message.type != sandbox::tds::PacketType::kReply)
    throw std::runtime_error("a reply of the wrong type");
  return message.payload;
}

void Client::StopSending() { ::shutdown(fd_, SHUT_WR); }

bool Client::ClosedByServer() {
  char buffer[4096];
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
}

std::vector<Token> Client::Login(const std::string& user, const std::string& password,
                                 std::uint32_t version, bool prelogin, bool integrated) {
  version_ = version;
  if (prelogin) {
    Writer p;
    // VERSION and ENCRYPTION (off), then the terminator.
    p.U8(0);
    p.U16BigEndian(11);
    p.U16BigEndian(6);
    p.U8(1);
    p.U16BigEndian(17);
    p.U16BigEndian(1);
    p.U8(0xFF);
    p.Bytes(std::string("\x09\x00\x00\x00\x00\x00", 6));
    p.U8(0);
    SendPacket(18, p.data());
    std::string reply = ReadMessage();
    Reader r(reply);
    for (;;) {
      std::uint8_t option = r.U8();
      if (option == 0xFF) break;
      std::uint16_t offset = r.U16BigEndian();
      std::uint16_t length = r.U16BigEndian();
      if (option == 1 && length == 1) encryption_ = static_cast<std::uint8_t>(reply.at(offset));
    }
  }
  SendPacket(16, Login7Record(user, password, version, integrated));
  return Decode(ReadMessage());
}

std::vector<Token> Client::Batch(const std::string& sql) {
  SendBatch(sql);
  return Decode(ReadMessage());
}

std::size_t Client::Skim(std::size_t bytes, bool* ended, std::string* tail) {
  auto read_exactly = [this](char* buffer, std::size_t count) {
    for (std::size_t got = 0; got < count;) {
      ssize_t n = ::recv(fd_, buffer + got, count - got, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("the server closed the connection");
      got += static_cast<std::size_t>(n);
    }
  };
  std::size_t total = 0;
  *ended = false;
  tail->clear();
  std::string payload;
  while (total < bytes && !*ended) {
    char header[8];
    read_exactly(header, sizeof header);
    std::size_t length =
        (static_cast<unsigned char>(header[2]) << 8) | static_cast<unsigned char>(header[3]);
    if (length < sizeof header) throw std::runtime_error("a packet shorter than its header");
    payload.resize(length - sizeof header);
    read_exactly(payload.data(), payload.size());
    total += payload.size();
    *tail += payload;
    if (tail->size() > 64) tail->erase(0, tail->size() - 64);
    *ended = (header[1] & 0x01) != 0;
  }
  return total;
}

void Client::SendBatch(const std::string& sql) {
  Writer body;
  if (version_ >= 0x72000000) {
    // ALL_HEADERS with the transaction descriptor header.
    body.U32(22);
    body.U32(18);
    body.U16(2);
    body.U64(0);
    body.U32(1);
  }
  body.Bytes(ToUtf16(sql));
  SendPacket(1, body.data());
}

std::vector<Token> Client::Transaction(std::uint16_t type, bool begin_after) {
  Writer body;
  if (version_ >= 0x72000000) {
    body.U32(22);
    body.U32(18);
    body.U16(2);
    body.U64(0);
    body.U32(1);
  }
  body.U16(type);
  body.U8(0);  // isolation level (begin) or name length (commit, rollback)
  if (type == 5) {
    body.U8(0);  // name length
  } else {
    body.U8(begin_after ? 1 : 0);
    if (begin_after) {
      body.U8(0);
      body.U8(0);
    }
  }
  SendPacket(14, body.data());
  return Decode(ReadMessage());
}

std::vector<Token> Client::Rpc(const std::string& body) {
  Writer payload;
  if (version_ >= 0x72000000) {
    payload.U32(22);
    payload.U32(18);
    payload.U16(2);
    payload.U64(0);
    payload.U32(1);
  }
  payload.Bytes(body);
  SendPacket(3, payload.data());
  return Decode(ReadMessage());
}

std::vector<Token> Client::Attention() {
  SendPacket(6, "");
  std::vector<Token> tokens;
  for (;;) {
    std::vector<Token> message = Decode(ReadMessage());
    tokens.insert(tokens.end(), message.begin(), message.end());
    for (const Token& t : message)
      if (t.kind == Token::Kind::kDone && (t.status & 0x20)) return tokens;
  }
}

std::vector<Token> Client::Decode(const std::string& payload) {
  bool v72 = version_ >= 0x72000000;
  bool v71 = version_ >= 0x71000000;
  std::vector<Token> tokens;
  std::vector<ColumnInfo> columns;
  Reader r(payload);
  while (r.remaining() > 0) {
    std::uint8_t type = r.U8();
    Token t;
    t.token = type;
    switch (type) {
      case 0x79:
        t.kind = Token::Kind::kReturnStatus;
        t.number = static_cast<std::int32_t>(r.U32());
        break;
      case 0xAC: {
        t.kind = Token::Kind::kReturnValue;
        t.ordinal = r.U16();
        t.text = BVarchar(r);
        if (r.U8() != 1) throw std::runtime_error("a return value not of an output parameter");
        if (v72) {
          r.U32();
        } else {
          r.U16();
        }
        r.U16();  // flags
        sandbox::tds::TypeInfo info = sandbox::tds::ReadTypeInfo(r, version_);
        t.value_type = info.type;
        t.row.push_back(sandbox::tds::ReadTypedValue(r, info));
        break;
      }
      case 0x81: {
        t.kind = Token::Kind::kColumns;
        std::uint16_t count = r.U16();
        columns.clear();
        for (std::uint16_t i = 0; i < count; ++i) {
          if (v72) {
            r.U32();
          } else {
            r.U16();
          }
          r.U16();  // flags
          ColumnInfo c;
          c.type = r.U8();
          switch (c.type) {
            case 0x26:
            case 0x68:
            case 0x6D:
            case 0x6F:
            case 0x24:
              c.size = r.U8();
              break;
            case 0xE7:
            case 0xA5:
              c.size = r.U16();
              if (c.type == 0xE7 && v71) r.Skip(5);
              break;
            case 0x63:
            case 0x22:
              c.size = r.U32();
              if (c.type == 0x63 && v71) r.Skip(5);
              if (v72) {
                for (std::uint8_t parts = r.U8(); parts > 0; --parts) r.Skip(r.U16() * 2u);
              } else {
                r.Skip(r.U16() * 2u);
              }
              break;
            default:
              throw std::runtime_error("unexpected column type " + std::to_string(c.type));
          }
          columns.push_back(c);
          t.column_types.push_back(c.type);
          t.column_names.push_back(BVarchar(r));
        }
        break;
      }
      case 0xD1:
        t.kind = Token::Kind::kRow;
        for (const auto& c : columns) t.row.push_back(DecodeValue(r, c));
        break;
      case 0xFD:
      case 0xFE:
      case 0xFF:
        t.kind = Token::Kind::kDone;
        t.status = r.U16();
        r.U16();
        if (v72) {
          std::uint64_t lo = r.U32();
          t.count = lo | (std::uint64_t{r.U32()} << 32);
        } else {
          t.count = r.U32();
        }
        break;
      case 0xAA:
      case 0xAB: {
        t.kind = type == 0xAA ? Token::Kind::kError : Token::Kind::kInfo;
        Reader body(r.Bytes(r.U16()));
        t.number = static_cast<std::int32_t>(body.U32());
        t.state = body.U8();
        t.severity = body.U8();
        t.text = FromUtf16(body.Bytes(body.U16() * 2u));
        BVarchar(body);
        t.procedure = BVarchar(body);
        t.line = v72 ? static_cast<int>(body.U32()) : body.U16();
        if (body.remaining() != 0) throw std::runtime_error("a message token too long");
        break;
      }
      case 0xE3: {
        t.kind = Token::Kind::kEnvChange;
        Reader body(r.Bytes(r.U16()));
        t.env_type = body.U8();
        if (t.env_type >= 7 && t.env_type <= 12) {  // collation and transaction descriptors: bytes
          t.text = std::string(body.Bytes(body.U8()));
          t.old_value = std::string(body.Bytes(body.U8()));
        } else {
          t.text = BVarchar(body);
          t.old_value = BVarchar(body);
        }
        break;
      }
      case 0xAD: {
        t.kind = Token::Kind::kLoginAck;
        Reader body(r.Bytes(r.U16()));
        body.U8();
        t.version = (std::uint32_t{body.U16BigEndian()} << 16) | body.U16BigEndian();
        t.text = BVarchar(body);
        body.Skip(4);
        break;
      }
      default:
        throw std::runtime_error("unexpected token " + std::to_string(type));
    }
    tokens.push_back(std::move(t));
  }
  return tokens;
}

}  // namespace tds_test
