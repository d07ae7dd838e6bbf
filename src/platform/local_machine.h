// Which machine names stand for this machine, and for the sandbox server's machine.
#pragma once

#include <string>
#include <string_view>

#include "platform/environment.h"

namespace platform {

// The machine name of the sandbox server's data sources "(sandbox)" and "(sandbox)\NAME".
inline constexpr std::string_view kSandboxMachine = "(sandbox)";

// "(sandbox)" in any letter case, with or without leading backslashes.
bool IsSandboxMachine(std::string_view machine);
// True for "(sandbox)" and "(sandbox)\NAME" (leading backslashes allowed).
bool IsSandboxDataSource(std::string_view data_source);

// The text without the backslashes a UNC-style machine name begins with.
std::string_view StripLeadingBackslashes(std::string_view name);

// True for a dotted IPv4 address in 127.0.0.0/8, "::1", "localhost" and names below
// ".localhost".
bool IsLoopbackName(std::string_view name);

class LocalMachine {
 public:
  explicit LocalMachine(const Environment& environment) : environment_(environment) {}

  // True when the name (leading backslashes allowed) means this machine: empty, ".", "(local)",
  // a loopback name, the host name (short or full), COMPUTERNAME, or an address of one of this
  // machine's interfaces. Nothing is sent over the network to find out.
  bool IsLocal(std::string_view name) const;

  // The host name as the system reports it.
  static std::string HostName();

 private:
  const Environment& environment_;
};

}  // namespace platform
