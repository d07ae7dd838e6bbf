#include "platform/testing/fake_service_control.h"

#include "platform/config_file.h"
#include "platform/local_machine.h"

namespace platform {

namespace {

std::string KeyOf(std::string_view data_source) {
  return ToUpperAscii(StripLeadingBackslashes(data_source));
}

}  // namespace

void FakeServiceControl::SetService(std::string data_source, Service service) {
  services_[KeyOf(data_source)] = service;
}

const FakeServiceControl::Service* FakeServiceControl::Find(std::string_view data_source) const {
  auto it = services_.find(KeyOf(data_source));
  return it == services_.end() ? nullptr : &it->second;
}

bool FakeServiceControl::Handles(std::string_view data_source) {
  return Find(data_source) != nullptr;
}

int FakeServiceControl::Status(std::string_view data_source) {
  calls_.push_back({"Status", std::string(data_source)});
  const Service* service = Find(data_source);
  return service ? service->status : kServiceUnknown;
}

bool FakeServiceControl::Start(std::string_view data_source) {
  calls_.push_back({"Start", std::string(data_source)});
  auto it = services_.find(KeyOf(data_source));
  if (it == services_.end() || !it->second.start_succeeds) return false;
  it->second.status = kServiceRunning;
  return true;
}

bool FakeServiceControl::Stop(std::string_view data_source) {
  calls_.push_back({"Stop", std::string(data_source)});
  auto it = services_.find(KeyOf(data_source));
  if (it == services_.end() || !it->second.stop_succeeds) return false;
  it->second.status = kServiceStopped;
  return true;
}

}  // namespace platform
