#include "platform/service_control.h"

#include <algorithm>

#include "platform/local_machine.h"

namespace platform {

void CompositeServiceControl::AddProvider(ServiceControlProvider& provider) {
  if (std::find(providers_.begin(), providers_.end(), &provider) == providers_.end()) {
    providers_.push_back(&provider);
  }
}

void CompositeServiceControl::RemoveProvider(ServiceControlProvider& provider) {
  providers_.erase(std::remove(providers_.begin(), providers_.end(), &provider), providers_.end());
}

ServiceControlProvider* CompositeServiceControl::Find(std::string_view data_source) {
  for (auto* provider : providers_) {
    if (provider->Handles(data_source)) return provider;
  }
  return nullptr;
}

int CompositeServiceControl::Status(std::string_view data_source) {
  data_source = StripLeadingBackslashes(data_source);
  auto* provider = Find(data_source);
  return provider ? provider->Status(data_source) : kServiceUnknown;
}

bool CompositeServiceControl::Start(std::string_view data_source) {
  data_source = StripLeadingBackslashes(data_source);
  auto* provider = Find(data_source);
  return provider ? provider->Start(data_source) : false;
}

bool CompositeServiceControl::Stop(std::string_view data_source) {
  data_source = StripLeadingBackslashes(data_source);
  auto* provider = Find(data_source);
  return provider ? provider->Stop(data_source) : false;
}

}  // namespace platform
