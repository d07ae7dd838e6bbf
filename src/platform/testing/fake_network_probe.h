// A network probe for tests: it answers for each machine what the test told it, and records
// every question.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/network_probe.h"

namespace platform {

class FakeNetworkProbe : public NetworkProbe {
 public:
  struct Machine {
    int echo = kEchoNoAddress;
    std::string address;
    JoinInformation join;
  };
  struct EchoCall {
    std::string machine;
    std::string payload;
    int timeout_ms = 0;
  };

  // Machines are found by name without regard to case and leading backslashes; join questions
  // also find a machine by its address, as they are asked for "\\" + address.
  void SetMachine(std::string name, Machine machine);
  // The answer for machines not set; at first: no address, unknown join state.
  void SetDefault(Machine machine) { default_ = std::move(machine); }

  int Echo(std::string_view machine, std::string_view payload, int timeout_ms) override;
  std::string LookupAddress(std::string_view machine) override;
  JoinInformation GetJoinInformation(std::string_view machine) override;

  const std::vector<EchoCall>& echo_calls() const { return echo_calls_; }
  const std::vector<std::string>& lookup_calls() const { return lookup_calls_; }
  const std::vector<std::string>& join_calls() const { return join_calls_; }

 private:
  const Machine* Find(std::string_view name, bool by_address) const;

  std::map<std::string, Machine> machines_;  // by upper-case name
  Machine default_;
  std::vector<EchoCall> echo_calls_;
  std::vector<std::string> lookup_calls_;
  std::vector<std::string> join_calls_;
};

}  // namespace platform
