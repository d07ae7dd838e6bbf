// The network probe on Linux. The echo is an ICMP echo over an unprivileged datagram socket where
// the system allows one (net.ipv4.ping_group_range); elsewhere a TCP connection attempt to the
// SQL Server port stands in, since a refused connection proves the machine answers just as well.
// Join information comes from Samba's configuration for this machine and is unknown for others.
#pragma once

#include <atomic>
#include <filesystem>

#include "platform/environment.h"
#include "platform/local_machine.h"
#include "platform/network_probe.h"

namespace platform {

class LinuxNetworkProbe : public NetworkProbe {
 public:
  enum class EchoMethod { kAuto, kIcmp, kTcp };
  struct Options {
    std::filesystem::path samba_config = kDefaultSambaConfig;
    EchoMethod echo_method = EchoMethod::kAuto;
    int tcp_port = 1433;
  };

  LinuxNetworkProbe(const Environment& environment, Options options);

  // The sandbox machine "(sandbox)" always answers. A machine may carry the port of its data
  // source ("SRV01,1435"); the TCP stand-in then tries that port. Names that cannot be host
  // names (quotes,
  // spaces, brackets, ...) and names in the reserved ".invalid" domain have no address and are
  // never handed to the resolver; "localhost" is always the loopback address.
  int Echo(std::string_view machine, std::string_view payload, int timeout_ms) override;
  std::string LookupAddress(std::string_view machine) override;
  // This machine: Samba's workgroup or domain, unjoined (1) when Samba is not configured. The
  // loopback addresses, where the sandbox server lives, count as a workgroup member at least.
  // Other machines: unknown (0), as finding out would mean asking them over the network.
  JoinInformation GetJoinInformation(std::string_view machine) override;

  // Whether this system lets an unprivileged process send ICMP echoes.
  static bool IcmpAllowed();

 private:
  int IcmpEcho(const std::string& address, std::string_view payload, int timeout_ms, bool* usable);
  int TcpEcho(const std::string& address, int port, int timeout_ms);

  Options options_;
  LocalMachine local_;
  // Echoes may be sent from several threads at once.
  std::atomic<std::uint16_t> sequence_{0};
};

// True when the text can be a host name or dotted address: at most 253 characters of letters,
// digits, "-", "_" and ".", without empty labels.
bool IsPlausibleHostName(std::string_view name);

}  // namespace platform
