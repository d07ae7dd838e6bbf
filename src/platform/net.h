// cNet: the account-related network lookups of the registration and login dialogs. It remembers
// the last domain asked for and the domain controller found for it.
#pragma once

#include <string>
#include <string_view>

#include "platform/network_discovery.h"
#include "platform/user_interface.h"

namespace platform {

class cNet {
 public:
  cNet(NetworkDiscovery& discovery, UserInterface& ui) : discovery_(discovery), ui_(ui) {}

  // The join state of this machine (0 unknown, 1 unjoined, 2 workgroup, 3 domain).
  int GetJoinStatus() { return discovery_.GetJoinStatus(); }
  // The domain's primary domain controller as this machine reports it; remembers both.
  std::string GetPDC(std::string_view domain);
  // The domain controller a server (empty: this machine) reports for the domain.
  std::string GetPrimaryDCName(std::string_view server, std::string_view domain) {
    return discovery_.GetPrimaryDCName(server, domain);
  }
  // Opens the account picker; "DOMAIN\name" lines joined by CR LF, empty when cancelled.
  std::string GetBrowserNames(std::string_view title, int flags) {
    return ui_.PickAccounts(title, flags);
  }

  const std::string& Domain() const { return domain_; }
  const std::string& PDC() const { return pdc_; }

 private:
  NetworkDiscovery& discovery_;
  UserInterface& ui_;
  std::string domain_;
  std::string pdc_;
};

}  // namespace platform
