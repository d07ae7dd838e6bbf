// What the server says about itself: @@VERSION, the rows of xp_msver and the login mode of
// xp_loginconfig, all following the instance's configured product version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/server.h"

namespace sandbox {

// "8.00.2039": major, two-digit minor and build; SQL Server 7.0 and later.
bool IsProductVersion(std::string_view text);

// The build a version given by its short name stands for, its last service pack: "7.0", "7.00",
// "7" and "2000" become 7.00.1063 and 8.00.2039; a full build is kept; nullopt for anything else.
std::optional<std::string> ProductVersionNamed(std::string_view text);

// The forms ProductVersionNamed accepts, for an error message.
extern const char* const kProductVersionForms;

// SERVERPROPERTY('ProductLevel') of a build: "SP4" for 8.00.2039, "RTM" for builds not listed.
std::string ProductLevelOf(std::string_view version);

// xp_msver's Platform of the version's usual build: "NT INTEL X86" up to 2005, "NT x64" later.
std::string PlatformOf(std::string_view version);

// @@VERSION: the configured text, or the one the product version's SQL Server gives.
std::string VersionText(const InstanceConfig& config);

struct MsVerRow {
  int index = 0;
  std::string name;
  std::optional<std::int64_t> internal_value;
  std::optional<std::string> character_value;
};
std::vector<MsVerRow> MsVerRows(const InstanceConfig& config);

// xp_loginconfig's 'login mode': "Mixed", "Windows NT Authentication" or "Standard".
std::string LoginModeName(LoginMode mode);

}  // namespace sandbox
