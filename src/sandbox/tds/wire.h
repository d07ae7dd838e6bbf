// Bytes of the TDS protocol: a reader that checks every length against what arrived, a writer,
// UTF-16LE text, and the 8-byte packet framing that carries every message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox::tds {

// Input that breaks the protocol; the connection it came on is ended.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Message types of the packet header.
enum class PacketType : std::uint8_t {
  kSqlBatch = 1,
  kOldLogin = 2,
  kRpc = 3,
  kReply = 4,
  kAttention = 6,
  kBulkLoad = 7,
  kTransactionManager = 14,
  kLogin7 = 16,
  kSspi = 17,
  kPrelogin = 18,
};

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kMaxPacketSize = 32767;
inline constexpr std::uint8_t kStatusEndOfMessage = 0x01;

// UTF-8 to UTF-16LE bytes; invalid UTF-8 becomes U+FFFD.
std::string ToUtf16(std::string_view utf8);
// UTF-16LE bytes to UTF-8; an odd length or a lone surrogate becomes U+FFFD.
std::string FromUtf16(std::string_view utf16);
// The number of UTF-16 code units of a UTF-8 text.
std::size_t Utf16Units(std::string_view utf8);

class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  std::size_t remaining() const { return data_.size() - position_; }
  std::size_t position() const { return position_; }
  std::uint8_t U8();
  std::uint16_t U16();  // little-endian
  std::uint16_t U16BigEndian();
  std::uint32_t U32();
  std::string_view Bytes(std::size_t count);
  void Skip(std::size_t count) { Bytes(count); }

 private:
  std::string_view data_;
  std::size_t position_ = 0;
};

class Writer {
 public:
  void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U16(std::uint16_t v);
  void U16BigEndian(std::uint16_t v);
  void U32(std::uint32_t v);
  void U32BigEndian(std::uint32_t v);
  void U64(std::uint64_t v);
  void Bytes(std::string_view bytes) { out_.append(bytes); }
  // Text with a one-byte (B_VARCHAR) or two-byte (US_VARCHAR) count of UTF-16 units; text longer
  // than the count can say is cut at a character boundary.
  void BVarchar(std::string_view utf8);
  void UsVarchar(std::string_view utf8);
  std::string& data() { return out_; }

 private:
  std::string out_;
};

// UTF-16 units of at most max_units, not splitting a surrogate pair.
std::string ToUtf16Limited(std::string_view utf8, std::size_t max_units);

// A complete message: the type of its first packet and the payloads of all its packets.
struct Message {
  PacketType type{};
  std::string payload;
};

// Reads up to count bytes; 0 at the end of the stream; throws std::runtime_error on failure.
using ReadFunction = std::function<std::size_t(char* buffer, std::size_t count)>;

// Reads packets until one marks the end of a message. False at a clean end of the stream before
// any byte of a message. Throws ProtocolError for a bad header, a message type that changes
// between packets, a stream that ends inside a packet, or a message larger than max_message.
bool ReadMessage(const ReadFunction& read, std::size_t max_message, Message* message);

// Splits a message into packets of at most packet_size bytes (header included).
std::string Frame(PacketType type, std::string_view payload, std::size_t packet_size,
                  std::uint8_t* packet_id);

}  // namespace sandbox::tds
