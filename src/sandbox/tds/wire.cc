#include "sandbox/tds/wire.h"

#include <algorithm>

namespace sandbox::tds {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 character at text[*i]; invalid sequences give U+FFFD and one byte.
char32_t NextCodePoint(std::string_view text, std::size_t* i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(*i);
  if (lead < 0x80) {
    ++*i;
    return lead;
  }
  int extra = (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
  if (extra < 0 || *i + extra >= text.size()) {
    ++*i;
    return kReplacement;
  }
  char32_t cp = lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char c = byte(*i + k);
    if ((c & 0xC0) != 0x80) {
      ++*i;
      return kReplacement;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++*i;
    return kReplacement;
  }
  *i += extra + 1;
  return cp;
}

void AppendUnit(std::string& out, std::uint16_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string ToUtf16Limited(std::string_view utf8, std::size_t max_units) {
  std::string out;
  std::size_t i = 0;
  std::size_t units = 0;
  while (i < utf8.size()) {
    char32_t cp = NextCodePoint(utf8, &i);
    std::size_t need = cp >= 0x10000 ? 2 : 1;
    if (units + need > max_units) break;
    units += need;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      AppendUnit(out, static_cast<std::uint16_t>(0xD800 | (cp >> 10)));
      AppendUnit(out, static_cast<std::uint16_t>(0xDC00 | (cp & 0x3FF)));
    } else {
      AppendUnit(out, static_cast<std::uint16_t>(cp));
    }
  }
  return out;
}

std::string ToUtf16(std::string_view utf8) { return ToUtf16Limited(utf8, SIZE_MAX); }

std::size_t Utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  std::size_t i = 0;
  while (i < utf8.size()) units += NextCodePoint(utf8, &i) >= 0x10000 ? 2 : 1;
  return units;
}

std::string FromUtf16(std::string_view utf16) {
  std::string out;
  auto unit = [&](std::size_t k) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(utf16[k]) |
                                      (static_cast<unsigned char>(utf16[k + 1]) << 8));
  };
  std::size_t i = 0;
  while (i + 1 < utf16.size()) {
    std::uint16_t u = unit(i);
    i += 2;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size()) {
      std::uint16_t low = unit(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        i += 2;
        AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (low - 0xDC00));
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t{u});
  }
  if (i < utf16.size()) AppendUtf8(out, kReplacement);
  return out;
}

std::uint8_t Reader::U8() { return static_cast<std::uint8_t>(Bytes(1)[0]); }

std::uint16_t Reader::U16() {
  auto b = Bytes(2);
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[0]) |
                                    (static_cast<unsigned char>(b[1]) << 8));
}

std::uint16_t Reader::U16BigEndian() {
  auto b = Bytes(2);
  return static_cast<std::uint16_t>((static_cast<unsigned char>(b[0]) << 8) |
                                    static_cast<unsigned char>(b[1]));
}

std::uint32_t Reader::U32() {
  auto b = Bytes(4);
  std::uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(b[k]);
  return v;
}

std::string_view Reader::Bytes(std::size_t count) {
  if (count > remaining()) throw ProtocolError("a length points past the end of the data");
  std::string_view out = data_.substr(position_, count);
  position_ += count;
  return out;
}

void Writer::U16(std::uint16_t v) {
  U8(v & 0xFF);
  U8(v >> 8);
}

void Writer::U16BigEndian(std::uint16_t v) {
  U8(v >> 8);
  U8(v & 0xFF);
}

void Writer::U32(std::uint32_t v) {
  for (int k = 0; k < 4; ++k) U8((v >> (8 * k)) & 0xFF);
}

void Writer::U32BigEndian(std::uint32_t v) {
  for (int k = 3; k >= 0; --k) U8((v >> (8 * k)) & 0xFF);
}

void Writer::U64(std::uint64_t v) {
  for (int k = 0; k < 8; ++k) U8((v >> (8 * k)) & 0xFF);
}

void Writer::BVarchar(std::string_view utf8) {
  std::string text = ToUtf16Limited(utf8, 255);
  U8(static_cast<std::uint8_t>(text.size() / 2));
  Bytes(text);
}

void Writer::UsVarchar(std::string_view utf8) {
  std::string text = ToUtf16Limited(utf8, 65535);
  U16(static_cast<std::uint16_t>(text.size() / 2));
  Bytes(text);
}

namespace {

// Fills the buffer completely; false when the stream ended before the first byte.
bool ReadExactly(const ReadFunction& read, char* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    std::size_t got = read(buffer + done, count - done);
    if (got == 0) {
      if (done == 0) return false;
      throw ProtocolError("the connection ended inside a packet");
    }
    done += got;
  }
  return true;
}

}  // namespace

bool ReadMessage(const ReadFunction& read, std::size_t max_message, Message* message) {
  message->payload.clear();
  bool first = true;
  for (;;) {
    char header[kHeaderSize];
    if (!ReadExactly(read, header, kHeaderSize)) {
      if (first) return false;
      throw ProtocolError("the connection ended inside a message");
    }
    Reader reader(std::string_view(header, kHeaderSize));
    auto type = static_cast<PacketType>(reader.U8());
    std::uint8_t status = reader.U8();
    std::uint16_t length = reader.U16BigEndian();
    if (length < kHeaderSize || length > kMaxPacketSize)
      throw ProtocolError("a packet length of " + std::to_string(length) + " bytes");
    if (first) {
      message->type = type;
    } else if (type != message->type) {
      throw ProtocolError("the packet type changed inside a message");
    }
    std::size_t body = length - kHeaderSize;
    if (message->payload.size() + body > max_message)
      throw ProtocolError("a message larger than " + std::to_string(max_message) + " bytes");
    std::size_t old_size = message->payload.size();
    message->payload.resize(old_size + body);
    if (body > 0 && !ReadExactly(read, message->payload.data() + old_size, body))
      throw ProtocolError("the connection ended inside a packet");
    first = false;
    if (status & kStatusEndOfMessage) return true;
  }
}

std::string Frame(PacketType type, std::string_view payload, std::size_t packet_size,
                  std::uint8_t* packet_id) {
  std::size_t body = std::clamp<std::size_t>(packet_size, 512, kMaxPacketSize) - kHeaderSize;
  Writer out;
  std::size_t position = 0;
  do {
    std::size_t chunk = std::min(body, payload.size() - position);
    bool last = position + chunk == payload.size();
    out.U8(static_cast<std::uint8_t>(type));
    out.U8(last ? kStatusEndOfMessage : 0);
    out.U16BigEndian(static_cast<std::uint16_t>(chunk + kHeaderSize));
    out.U16BigEndian(0);
    out.U8((*packet_id)++);
    out.U8(0);
    out.Bytes(payload.substr(position, chunk));
    position += chunk;
  } while (position < payload.size());
  return std::move(out.data());
}

}  // namespace sandbox::tds
