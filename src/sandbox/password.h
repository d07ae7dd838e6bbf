// Password hashes of SQL Server logins. A password is never kept in clear: master stores a
// PBKDF2-HMAC-SHA-256 hash with a salt of its own for every login, so equal passwords of two
// logins do not give equal hashes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest Sha256(std::string_view data);
Sha256Digest HmacSha256(std::string_view key, std::string_view message);
// PBKDF2 with HMAC-SHA-256 (RFC 8018), length bytes of derived key.
std::vector<std::uint8_t> Pbkdf2Sha256(std::string_view password, std::string_view salt,
                                       int iterations, size_t length);

// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" with a new random salt.
std::string HashPassword(std::string_view password);
// True when password gives the stored hash. A text in any other form matches nothing.
bool VerifyPassword(std::string_view stored, std::string_view password);

std::string HexText(const std::uint8_t* data, size_t size);

}  // namespace sandbox
