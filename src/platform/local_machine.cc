#include "platform/local_machine.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include "platform/config_file.h"

namespace platform {

std::string_view StripLeadingBackslashes(std::string_view name) {
  while (!name.empty() && name.front() == '\\') name.remove_prefix(1);
  return name;
}

bool IsSandboxMachine(std::string_view machine) {
  return EqualsNoCase(StripLeadingBackslashes(machine), kSandboxMachine);
}

bool IsSandboxDataSource(std::string_view data_source) {
  data_source = StripLeadingBackslashes(data_source);
  if (data_source.size() < kSandboxMachine.size() ||
      !EqualsNoCase(data_source.substr(0, kSandboxMachine.size()), kSandboxMachine)) {
    return false;
  }
  return data_source.size() == kSandboxMachine.size() ||
         data_source[kSandboxMachine.size()] == '\\';
}

bool IsLoopbackName(std::string_view name) {
  if (EqualsNoCase(name, "localhost") || name == "::1") return true;
  constexpr std::string_view kSuffix = ".localhost";
  if (name.size() > kSuffix.size() &&
      EqualsNoCase(name.substr(name.size() - kSuffix.size()), kSuffix)) {
    return true;
  }
  in_addr address{};
  std::string text(name);
  return inet_pton(AF_INET, text.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

std::string LocalMachine::HostName() {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
  return buffer;
}

bool LocalMachine::IsLocal(std::string_view name) const {
  name = StripLeadingBackslashes(name);
  if (name.empty() || name == "." || EqualsNoCase(name, "(local)") || IsLoopbackName(name)) {
    return true;
  }
  std::string host = HostName();
  if (!host.empty() &&
      (EqualsNoCase(name, host) || EqualsNoCase(name, host.substr(0, host.find('.'))))) {
    return true;
  }
  if (auto computer = environment_.Get("COMPUTERNAME");
      computer && !computer->empty() && EqualsNoCase(name, *computer)) {
    return true;
  }
  in_addr wanted{};
  std::string text(name);
  if (inet_pton(AF_INET, text.c_str(), &wanted) != 1) return false;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool found = false;
  for (ifaddrs* i = interfaces; i != nullptr && !found; i = i->ifa_next) {
    if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET) {
      found = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == wanted.s_addr;
    }
  }
  freeifaddrs(interfaces);
  return found;
}

}  // namespace platform
