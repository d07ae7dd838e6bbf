#include "platform/testing/fake_network_discovery.h"

#include "platform/config_file.h"

namespace platform {

void FakeNetworkDiscovery::SetServers(std::string domain, std::vector<std::string> servers) {
  servers_[ToUpperAscii(domain)] = std::move(servers);
}

void FakeNetworkDiscovery::SetPrimaryDC(std::string domain, std::string controller) {
  controllers_[ToUpperAscii(domain)] = std::move(controller);
}

std::vector<std::string> FakeNetworkDiscovery::EnumDomains() {
  ++domain_requests_;
  if (domain_error_) throw *domain_error_;
  return domains_;
}

std::vector<std::string> FakeNetworkDiscovery::EnumServers(std::uint32_t server_type,
                                                           std::string_view domain) {
  server_requests_.push_back({server_type, std::string(domain)});
  auto it = servers_.find(ToUpperAscii(domain));
  return it == servers_.end() ? std::vector<std::string>() : it->second;
}

std::string FakeNetworkDiscovery::GetPrimaryDCName(std::string_view server,
                                                   std::string_view domain) {
  dc_requests_.emplace_back(server, domain);
  auto it = controllers_.find(ToUpperAscii(domain));
  return it == controllers_.end() ? std::string() : it->second;
}

}  // namespace platform
