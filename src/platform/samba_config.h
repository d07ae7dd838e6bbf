// What Samba's configuration tells about the machine's place in a Windows network.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Join states as the platform reports them.
inline constexpr int kJoinStatusUnknown = 0;
inline constexpr int kJoinStatusUnjoined = 1;
inline constexpr int kJoinStatusWorkgroup = 2;
inline constexpr int kJoinStatusDomain = 3;

inline constexpr const char* kDefaultSambaConfig = "/etc/samba/smb.conf";

struct SambaConfig {
  std::string workgroup;  // as written, may be empty
  std::string realm;
  std::string security;     // lower case: "ads", "domain", "user", "auto", ...
  std::string server_role;  // lower case
  std::string password_server;
  std::string netbios_name;

  // kJoinStatusDomain for domain members and controllers, else kJoinStatusWorkgroup.
  int JoinStatus() const;
  // The NetBIOS name of the workgroup or domain, upper case: the workgroup, else the first label
  // of the realm, else Samba's default "WORKGROUP".
  std::string JoinName() const;
  // The configured domain controller for a member ("password server"), empty when not named.
  std::string DomainController() const;
};

SambaConfig ParseSambaConfig(std::string_view text);
// std::nullopt when the file does not exist or cannot be read.
std::optional<SambaConfig> ReadSambaConfig(const std::filesystem::path& path);

}  // namespace platform
