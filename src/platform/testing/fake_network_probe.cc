#include "platform/testing/fake_network_probe.h"

#include "platform/config_file.h"
#include "platform/local_machine.h"

namespace platform {

void FakeNetworkProbe::SetMachine(std::string name, Machine machine) {
  machines_[ToUpperAscii(StripLeadingBackslashes(name))] = std::move(machine);
}

const FakeNetworkProbe::Machine* FakeNetworkProbe::Find(std::string_view name,
                                                        bool by_address) const {
  name = StripLeadingBackslashes(name);
  auto it = machines_.find(ToUpperAscii(name));
  if (it != machines_.end()) return &it->second;
  if (by_address && !name.empty()) {
    for (const auto& [_, machine] : machines_) {
      if (machine.address == name) return &machine;
    }
  }
  return &default_;
}

int FakeNetworkProbe::Echo(std::string_view machine, std::string_view payload, int timeout_ms) {
  echo_calls_.push_back(EchoCall{std::string(machine), std::string(payload), timeout_ms});
  return Find(machine, false)->echo;
}

std::string FakeNetworkProbe::LookupAddress(std::string_view machine) {
  lookup_calls_.emplace_back(machine);
  return Find(machine, false)->address;
}

JoinInformation FakeNetworkProbe::GetJoinInformation(std::string_view machine) {
  join_calls_.emplace_back(machine);
  return Find(machine, true)->join;
}

}  // namespace platform
