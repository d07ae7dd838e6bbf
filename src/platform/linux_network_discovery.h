// Network discovery on Linux without broadcasting: domains from Samba's configuration, servers
// from the sandbox instances and from the servers configured for FreeTDS and unixODBC. Nothing
// is sent over the network.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/network_discovery.h"
#include "platform/network_probe.h"

namespace platform {

class LinuxNetworkDiscovery : public NetworkDiscovery {
 public:
  struct Options {
    std::filesystem::path samba_config = kDefaultSambaConfig;
    std::vector<std::filesystem::path> freetds_configs;  // in the order they are listed
    std::vector<std::filesystem::path> odbc_inis;
  };
  // The data sources of the sandbox server's instances: "(sandbox)", "(sandbox)\NAME".
  using SandboxLister = std::function<std::vector<std::string>()>;

  // The system's and the user's files: $FREETDSCONF or /etc/freetds/freetds.conf and
  // ~/.freetds.conf; $ODBCSYSINI/odbc.ini or /etc/odbc.ini and $ODBCINI or ~/.odbc.ini.
  static Options DefaultOptions(const Environment& environment);

  LinuxNetworkDiscovery(NetworkProbe& probe, const Environment& environment, Options options);

  void SetSandboxLister(SandboxLister lister) { sandbox_lister_ = std::move(lister); }

  // Samba's workgroup (or realm) when Samba is configured, else nothing.
  std::vector<std::string> EnumDomains() override;
  // For the SQL Server type: the sandbox instances, the FreeTDS server sections that name a host
  // and the unixODBC data sources' servers, each once. Their domain is not known, so they are
  // offered whatever domain is asked for.
  std::vector<std::string> EnumServers(std::uint32_t server_type, std::string_view domain) override;
  // The join state of the machine named by COMPUTERNAME (this machine).
  int GetJoinStatus() override;
  // This machine's domain controller as Samba names it: itself when it is one, else its
  // "password server". Other servers are not asked.
  std::string GetPrimaryDCName(std::string_view server, std::string_view domain) override;

 private:
  NetworkProbe& probe_;
  const Environment& environment_;
  Options options_;
  SandboxLister sandbox_lister_;
};

}  // namespace platform
