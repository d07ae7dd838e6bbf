#include "sandbox/password.h"

#include <cstring>
#include <random>

namespace sandbox {

namespace {

// Enough rounds to make guessing costly, few enough that logging in stays instant.
constexpr int kIterations = 5000;
constexpr size_t kSaltBytes = 16;
constexpr const char* kScheme = "pbkdf2-sha256";

constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotate(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

class Sha256State {
 public:
  void Update(const std::uint8_t* data, size_t size) {
    length_ += size;
    while (size > 0) {
      size_t take = std::min(size, sizeof block_ - used_);
      std::memcpy(block_ + used_, data, take);
      used_ += take;
      data += take;
      size -= take;
      if (used_ == sizeof block_) {
        Compress();
        used_ = 0;
      }
    }
  }
  void Update(std::string_view text) {
    Update(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }

  Sha256Digest Finish() {
    std::uint64_t bits = length_ * 8;
    std::uint8_t pad = 0x80;
    Update(&pad, 1);
    std::uint8_t zero = 0;
    while (used_ != 56) Update(&zero, 1);
    std::uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Update(tail, 8);
    Sha256Digest out;
    for (int i = 0; i < 8; ++i)
      for (int k = 0; k < 4; ++k)
        out[static_cast<size_t>(i * 4 + k)] = static_cast<std::uint8_t>(h_[i] >> (24 - 8 * k));
    return out;
  }

 private:
  void Compress() {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = static_cast<std::uint32_t>(block_[i * 4]) << 24 |
             static_cast<std::uint32_t>(block_[i * 4 + 1]) << 16 |
             static_cast<std::uint32_t>(block_[i * 4 + 2]) << 8 | block_[i * 4 + 3];
    for (int i = 16; i < 64; ++i) {
      std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6],
                  h = h_[7];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t s1 = Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25);
      std::uint32_t ch = (e & f) ^ (~e & g);
      std::uint32_t t1 = h + s1 + ch + kRoundConstants[i] + w[i];
      std::uint32_t s0 = Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22);
      std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
      std::uint32_t t2 = s0 + maj;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    h_[5] += f;
    h_[6] += g;
    h_[7] += h;
  }

  std::uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::uint8_t block_[64] = {};
  size_t used_ = 0;
  std::uint64_t length_ = 0;
};

std::string_view AsText(const Sha256Digest& digest) {
  return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

bool FromHex(std::string_view hex, std::string& out) {
  if (hex.size() % 2 != 0) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

}  // namespace

std::string HexText(const std::uint8_t* data, size_t size) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

Sha256Digest Sha256(std::string_view data) {
  Sha256State state;
  state.Update(data);
  return state.Finish();
}

Sha256Digest HmacSha256(std::string_view key, std::string_view message) {
  std::uint8_t block[64] = {};
  if (key.size() > sizeof block) {
    Sha256Digest short_key = Sha256(key);
    std::memcpy(block, short_key.data(), short_key.size());
  } else {
    std::memcpy(block, key.data(), key.size());
  }
  std::uint8_t inner_pad[64], outer_pad[64];
  for (size_t i = 0; i < 64; ++i) {
    inner_pad[i] = block[i] ^ 0x36;
    outer_pad[i] = block[i] ^ 0x5c;
  }
  Sha256State inner;
  inner.Update(inner_pad, sizeof inner_pad);
  inner.Update(message);
  Sha256Digest inner_digest = inner.Finish();
  Sha256State outer;
  outer.Update(outer_pad, sizeof outer_pad);
  outer.Update(inner_digest.data(), inner_digest.size());
  return outer.Finish();
}

std::vector<std::uint8_t> Pbkdf2Sha256(std::string_view password, std::string_view salt,
                                       int iterations, size_t length) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t block = 1; out.size() < length; ++block) {
    std::string first(salt);
    for (int k = 3; k >= 0; --k) first += static_cast<char>((block >> (8 * k)) & 0xFF);
    Sha256Digest u = HmacSha256(password, first);
    Sha256Digest t = u;
    for (int i = 1; i < iterations; ++i) {
      u = HmacSha256(password, AsText(u));
      for (size_t k = 0; k < t.size(); ++k) t[k] ^= u[k];
    }
    for (size_t k = 0; k < t.size() && out.size() < length; ++k) out.push_back(t[k]);
  }
  return out;
}

std::string HashPassword(std::string_view password) {
  std::random_device device;
  std::string salt;
  for (size_t i = 0; i < kSaltBytes; ++i) salt += static_cast<char>(device() & 0xFF);
  std::vector<std::uint8_t> hash = Pbkdf2Sha256(password, salt, kIterations, 32);
  return std::string(kScheme) + "$" + std::to_string(kIterations) + "$" +
         HexText(reinterpret_cast<const std::uint8_t*>(salt.data()), salt.size()) + "$" +
         HexText(hash.data(), hash.size());
}

bool VerifyPassword(std::string_view stored, std::string_view password) {
  // scheme$iterations$salt$hash
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (parts.size() < 4) {
    size_t end = stored.find('$', start);
    if (end == std::string_view::npos) end = stored.size();
    parts.push_back(stored.substr(start, end - start));
    if (end == stored.size()) break;
    start = end + 1;
  }
  if (parts.size() != 4 || parts[0] != kScheme) return false;
  int iterations = 0;
  for (char c : parts[1]) {
    if (c < '0' || c > '9' || iterations > 10000000) return false;
    iterations = iterations * 10 + (c - '0');
  }
  std::string salt, expected;
  if (iterations < 1 || !FromHex(parts[2], salt) || !FromHex(parts[3], expected) ||
      expected.empty())
    return false;
  std::vector<std::uint8_t> actual = Pbkdf2Sha256(password, salt, iterations, expected.size());
  // Compared without an early exit, so the time taken tells nothing about the hash.
  std::uint8_t difference = 0;
  for (size_t i = 0; i < actual.size(); ++i)
    difference |= static_cast<std::uint8_t>(actual[i] ^ static_cast<std::uint8_t>(expected[i]));
  return difference == 0;
}

}  // namespace sandbox
