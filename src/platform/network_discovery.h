// Names offered to pick from when registering a server or a login: the domains and workgroups,
// the SQL Servers known for a domain, the join state of this machine and domain controllers.
// Every answer is a suggestion; an empty one is valid.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Server-type masks of the server enumeration.
inline constexpr std::uint32_t kServerTypeSqlServer = 0x00000004u;
inline constexpr std::uint32_t kServerTypeAll = 0xFFFFFFFFu;

class NetworkDiscovery {
 public:
  virtual ~NetworkDiscovery() = default;
  // Domains and workgroups in the order found. A network failure is thrown as common::Error.
  virtual std::vector<std::string> EnumDomains() = 0;
  // Machine names of the servers of a type known in a domain (empty domain: this machine's).
  virtual std::vector<std::string> EnumServers(std::uint32_t server_type,
                                               std::string_view domain) = 0;
  // The join state of this machine (kJoinStatus... of samba_config.h).
  virtual int GetJoinStatus() = 0;
  // The domain controller of a domain as a server reports it ("\\NAME"), empty when unknown.
  // An empty server means this machine.
  virtual std::string GetPrimaryDCName(std::string_view server, std::string_view domain) = 0;
};

}  // namespace platform
