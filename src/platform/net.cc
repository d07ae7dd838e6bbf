#include "platform/net.h"

namespace platform {

std::string cNet::GetPDC(std::string_view domain) {
  domain_ = domain;
  pdc_ = GetPrimaryDCName("", domain);
  return pdc_;
}

}  // namespace platform
