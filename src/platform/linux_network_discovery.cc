#include "platform/linux_network_discovery.h"

#include "platform/config_file.h"
#include "platform/local_machine.h"
#include "platform/samba_config.h"

namespace platform {

namespace {

void AddOnce(std::vector<std::string>* names, std::string name) {
  if (name.empty()) return;
  for (const auto& existing : *names) {
    if (EqualsNoCase(existing, name)) return;
  }
  names->push_back(std::move(name));
}

}  // namespace

LinuxNetworkDiscovery::Options LinuxNetworkDiscovery::DefaultOptions(
    const Environment& environment) {
  Options options;
  std::string home = GetOrEmpty(environment, "HOME");
  std::string freetds = GetOrEmpty(environment, "FREETDSCONF");
  options.freetds_configs.push_back(freetds.empty() ? "/etc/freetds/freetds.conf" : freetds);
  if (!home.empty())
    options.freetds_configs.push_back(std::filesystem::path(home) / ".freetds.conf");
  std::string odbc_sys = GetOrEmpty(environment, "ODBCSYSINI");
  options.odbc_inis.push_back(odbc_sys.empty() ? std::filesystem::path("/etc/odbc.ini")
                                               : std::filesystem::path(odbc_sys) / "odbc.ini");
  std::string odbc_user = GetOrEmpty(environment, "ODBCINI");
  if (!odbc_user.empty()) {
    options.odbc_inis.push_back(odbc_user);
  } else if (!home.empty()) {
    options.odbc_inis.push_back(std::filesystem::path(home) / ".odbc.ini");
  }
  return options;
}

LinuxNetworkDiscovery::LinuxNetworkDiscovery(NetworkProbe& probe, const Environment& environment,
                                             Options options)
    : probe_(probe), environment_(environment), options_(std::move(options)) {}

std::vector<std::string> LinuxNetworkDiscovery::EnumDomains() {
  std::vector<std::string> domains;
  if (auto samba = ReadSambaConfig(options_.samba_config)) domains.push_back(samba->JoinName());
  return domains;
}

std::vector<std::string> LinuxNetworkDiscovery::EnumServers(std::uint32_t server_type,
                                                            std::string_view /*domain*/) {
  std::vector<std::string> servers;
  if ((server_type & kServerTypeSqlServer) == 0) return servers;
  if (sandbox_lister_) {
    for (auto& name : sandbox_lister_()) AddOnce(&servers, std::move(name));
  }
  for (const auto& path : options_.freetds_configs) {
    auto sections = ReadConfigFile(path);
    if (!sections) continue;
    for (const auto& section : *sections) {
      if (section.name.empty() || EqualsNoCase(section.name, "global")) continue;
      if (auto host = section.Get("host"); host && !host->empty()) AddOnce(&servers, section.name);
    }
  }
  for (const auto& path : options_.odbc_inis) {
    auto sections = ReadConfigFile(path);
    if (!sections) continue;
    for (const auto& section : *sections) {
      if (section.name.empty() || EqualsNoCase(section.name, "ODBC Data Sources") ||
          EqualsNoCase(section.name, "ODBC")) {
        continue;
      }
      // Microsoft's drivers name the server "Server"; FreeTDS's may name a freetds.conf section.
      if (auto server = section.Get("Server")) {
        AddOnce(&servers, *server);
      } else if (auto name = section.Get("Servername")) {
        AddOnce(&servers, *name);
      }
    }
  }
  return servers;
}

int LinuxNetworkDiscovery::GetJoinStatus() {
  return probe_.GetJoinInformation(GetOrEmpty(environment_, "COMPUTERNAME")).status;
}

std::string LinuxNetworkDiscovery::GetPrimaryDCName(std::string_view server,
                                                    std::string_view domain) {
  if (!server.empty() && !LocalMachine(environment_).IsLocal(server)) return std::string();
  auto samba = ReadSambaConfig(options_.samba_config);
  if (!samba || samba->JoinStatus() != kJoinStatusDomain) return std::string();
  if (!domain.empty() && !EqualsNoCase(domain, samba->JoinName()) &&
      !EqualsNoCase(domain, samba->realm)) {
    return std::string();
  }
  if (samba->server_role.find("domain controller") != std::string::npos) {
    std::string name = samba->netbios_name;
    if (name.empty()) {
      name = LocalMachine::HostName();
      name = name.substr(0, name.find('.'));
    }
    return "\\\\" + ToUpperAscii(name);
  }
  std::string controller = samba->DomainController();
  return controller.empty() ? std::string() : "\\\\" + controller;
}

}  // namespace platform
