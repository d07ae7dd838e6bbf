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

// A column's type as its metadata gives it; the long types' rows put a text pointer first.
struct ColumnInfo {
  sandbox::tds::TypeInfo type;
  bool text_pointer = false;
};

std::string BVarchar(Reader& r) { return FromUtf16(r.Bytes(r.U8() * 2u)); }

common::Value DecodeValue(Reader& r, const ColumnInfo& column) {
  if (column.text_pointer) {
    std::uint8_t pointer = r.U8();
    if (pointer == 0) return {};
    r.Skip(pointer + 8u);  // text pointer and time stamp
  }
  return sandbox::tds::ReadTypedValue(r, column.type);
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
  SendRpc(body);
  return Decode(ReadMessage());
}

void Client::SendRpc(const std::string& body) {
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
          c.type = sandbox::tds::ReadTypeInfo(r, version_);
          if (c.type.type == 0x22 || c.type.type == 0x23 || c.type.type == 0x63) {
            c.text_pointer = true;
            if (v72) {
              for (std::uint8_t parts = r.U8(); parts > 0; --parts) r.Skip(r.U16() * 2u);
            } else {
              r.Skip(r.U16() * 2u);
            }
          }
          columns.push_back(c);
          t.column_types.push_back(c.type.type);
          t.column_info.push_back(c.type);
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
