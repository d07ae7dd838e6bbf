// Parsing and comparison of registry key paths and names, shared by the store implementations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_store.h"

namespace platform {

// Splits a key path into its components (empty for the root). Returns kErrorSuccess, or the code
// for a malformed path: kErrorBadPathname (leading or doubled backslash, zero byte),
// kErrorInvalidParameter (a component longer than 255 characters, deeper than 512 levels).
RegResult SplitKeyPath(std::string_view path, std::vector<std::string>* components);

// kErrorSuccess for a usable value name, else kErrorInvalidParameter.
RegResult CheckValueName(std::string_view name);

// kErrorSuccess for a known type with data within the size limit, else kErrorInvalidParameter.
RegResult CheckValueData(const RegistryData& data);

// kErrorSuccess for a predefined root key, else kErrorInvalidHandle.
RegResult CheckRoot(std::uint32_t root);

// The form names are compared in: ASCII letters upper-cased, everything else unchanged.
std::string FoldName(std::string_view name);

}  // namespace platform
