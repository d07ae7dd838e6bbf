// Network discovery for tests: the answers the test sets, every request recorded.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "platform/network_discovery.h"

namespace platform {

class FakeNetworkDiscovery : public NetworkDiscovery {
 public:
  struct ServerRequest {
    std::uint32_t server_type;
    std::string domain;
  };

  void SetDomains(std::vector<std::string> domains) { domains_ = std::move(domains); }
  // EnumDomains throws this error until cleared.
  void SetDomainError(std::optional<common::Error> error) { domain_error_ = std::move(error); }
  // The servers of a domain ("" for the default); other domains have none.
  void SetServers(std::string domain, std::vector<std::string> servers);
  void SetJoinStatus(int status) { join_status_ = status; }
  void SetPrimaryDC(std::string domain, std::string controller);

  std::vector<std::string> EnumDomains() override;
  std::vector<std::string> EnumServers(std::uint32_t server_type, std::string_view domain) override;
  int GetJoinStatus() override { return join_status_; }
  std::string GetPrimaryDCName(std::string_view server, std::string_view domain) override;

  int domain_requests() const { return domain_requests_; }
  const std::vector<ServerRequest>& server_requests() const { return server_requests_; }
  const std::vector<std::pair<std::string, std::string>>& dc_requests() const {
    return dc_requests_;
  }

 private:
  std::vector<std::string> domains_;
  std::optional<common::Error> domain_error_;
  std::map<std::string, std::vector<std::string>> servers_;  // by upper-case domain
  std::map<std::string, std::string> controllers_;           // by upper-case domain
  int join_status_ = 0;
  int domain_requests_ = 0;
  std::vector<ServerRequest> server_requests_;
  std::vector<std::pair<std::string, std::string>> dc_requests_;
};

}  // namespace platform
