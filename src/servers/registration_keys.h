// Where the registrations live in the per-user registry, and the small reads and writes of their
// numeric values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace servers {

inline constexpr char kProductKey[] = "Software\\Fernwick\\Tessera Server Manager\\";
inline constexpr char kServerListKey[] =
    "Software\\Fernwick\\Tessera Server Manager\\Database Servers";
inline constexpr char kLastServerIdValue[] = "LastServerID";
inline constexpr char kConnectionStringValue[] = "ConnectionString";
inline constexpr char kOrdinalPositionValue[] = "OrdinalPosition";

// The key of one registration: the list key, a backslash and the identifier in decimal.
std::string RegistrationKey(std::int32_t server_id);

// The identifier a subkey name stands for. Only the form identifiers are written in counts:
// decimal digits without sign or leading zeros, within 32 bits. Other names give std::nullopt,
// so that "007" is never read as registration 7 (whose key is another one).
std::optional<std::int32_t> ParseServerId(std::string_view name);

// The identifiers of the registration keys in enumeration order; subkeys with other names are
// not registrations and are left out.
std::vector<std::int32_t> RegistrationIds(platform::cRegistry& registry);

// A 32-bit value of a key, 0 when it is missing or holds no number that fits.
std::int32_t ReadNumber(platform::cRegistry& registry, std::string_view key,
                        std::string_view value_name);
// Writes a DWORD; a failed write throws common::Error 26001.
void WriteNumber(platform::cRegistry& registry, std::string_view key, std::string_view value_name,
                 std::int32_t number);

}  // namespace servers
