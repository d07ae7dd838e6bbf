// Network checks made before connecting to a server: an echo to the machine, the machine's IPv4
// address, and whether the machine belongs to a workgroup or a domain.
#pragma once

#include <string>
#include <string_view>

#include "platform/samba_config.h"

namespace platform {

// Echo results: 0 the machine answered, -1 the name has no address, else an IP status code.
inline constexpr int kEchoSuccess = 0;
inline constexpr int kEchoNoAddress = -1;
inline constexpr int kIpDestNetUnreachable = 11002;
inline constexpr int kIpDestHostUnreachable = 11003;
inline constexpr int kIpReqTimedOut = 11010;
inline constexpr int kIpGeneralFailure = 11050;

struct JoinInformation {
  int status = kJoinStatusUnknown;  // kJoinStatus... of samba_config.h
  std::string name;                 // the workgroup or domain, empty when unknown
  friend bool operator==(const JoinInformation&, const JoinInformation&) = default;
};

class NetworkProbe {
 public:
  virtual ~NetworkProbe() = default;
  // Sends one echo carrying the payload and waits at most timeout_ms for the answer.
  virtual int Echo(std::string_view machine, std::string_view payload, int timeout_ms) = 0;
  // The machine's first IPv4 address as dotted text; empty when it has none.
  virtual std::string LookupAddress(std::string_view machine) = 0;
  // The join state of a machine, named as a UNC server ("\\name" or "\\address"; the
  // backslashes are optional). Unknown (0) when it cannot be found out.
  virtual JoinInformation GetJoinInformation(std::string_view machine) = 0;
};

}  // namespace platform
