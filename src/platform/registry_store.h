// The per-user registry: a tree of keys below predefined roots, each key holding named values with
// a registry type and raw bytes. Key and value names compare without regard to ASCII letter case
// and keep the spelling they were created with. Results are Win32 error codes so that callers can
// report them the way the product always has.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "platform/environment.h"

namespace platform {

// Predefined root keys.
inline constexpr std::uint32_t kHkeyClassesRoot = 0x80000000u;
inline constexpr std::uint32_t kHkeyCurrentUser = 0x80000001u;
inline constexpr std::uint32_t kHkeyLocalMachine = 0x80000002u;
inline constexpr std::uint32_t kHkeyUsers = 0x80000003u;
inline constexpr std::uint32_t kHkeyCurrentConfig = 0x80000005u;

// Registry value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegDwordBigEndian = 5;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Win32 result codes the store answers with.
using RegResult = std::int32_t;
inline constexpr RegResult kErrorSuccess = 0;
inline constexpr RegResult kErrorFileNotFound = 2;   // no such key or value
inline constexpr RegResult kErrorAccessDenied = 5;   // e.g. deleting a key that has subkeys
inline constexpr RegResult kErrorInvalidHandle = 6;  // not a predefined root
inline constexpr RegResult kErrorInvalidParameter = 87;
inline constexpr RegResult kErrorBadPathname = 161;
inline constexpr RegResult kErrorMoreData = 234;
inline constexpr RegResult kErrorNoMoreItems = 259;
inline constexpr RegResult kErrorRegistryIoFailed = 1016;

// Limits as on Windows, plus a cap on value size that keeps the file small.
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxKeyDepth = 512;
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxValueDataSize = 1024 * 1024;

struct RegistryData {
  std::uint32_t type = kRegNone;
  common::Bytes bytes;
  friend bool operator==(const RegistryData&, const RegistryData&) = default;
};

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // Paths are relative to a root, separated by backslashes; "" is the root itself. One trailing
  // backslash is tolerated; a leading one or an empty component is kErrorBadPathname.

  // kErrorSuccess when the key exists, kErrorFileNotFound when not.
  virtual RegResult OpenKey(std::uint32_t root, std::string_view path) = 0;
  // Creates the key and any missing parents in one transaction; an existing key is fine.
  virtual RegResult CreateKey(std::uint32_t root, std::string_view path) = 0;
  // Deletes a key and its values. A key with subkeys is refused (kErrorAccessDenied) and left as
  // it was, as RegDeleteKey does on NT; the root cannot be deleted.
  virtual RegResult DeleteKey(std::uint32_t root, std::string_view path) = 0;
  // Reads one value ("" is the key's default value).
  virtual RegResult QueryValue(std::uint32_t root, std::string_view path, std::string_view name,
                               RegistryData* data) = 0;
  // Creates the key when needed and sets the value, in one transaction.
  virtual RegResult SetValue(std::uint32_t root, std::string_view path, std::string_view name,
                             const RegistryData& data) = 0;
  virtual RegResult DeleteValue(std::uint32_t root, std::string_view path,
                                std::string_view name) = 0;
  // Names of the direct subkeys in creation order.
  virtual RegResult ListSubkeys(std::uint32_t root, std::string_view path,
                                std::vector<std::string>* names) = 0;
  // Names of the values in creation order.
  virtual RegResult ListValues(std::uint32_t root, std::string_view path,
                               std::vector<std::string>* names) = 0;
  // Runs `body` as one transaction: the calls it makes on this store join it, so other
  // processes see all of its changes or none, and nobody changes what it read before it ends.
  // A result other than kErrorSuccess, or an exception (passed on), undoes its changes; a body
  // inside another one joins the outer transaction. A store that only one process uses may run
  // the body as it is.
  virtual RegResult Transact(const std::function<RegResult()>& body) { return body(); }
};

// Where the per-user store lives: $TESSERA_REGISTRY when set, else
// $XDG_CONFIG_HOME/tessera-server-manager/registry.db (~/.config when XDG_CONFIG_HOME is unset or
// not absolute).
std::filesystem::path DefaultRegistryPath(const Environment& environment);

}  // namespace platform
