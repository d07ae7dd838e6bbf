#include "platform/registry_path.h"

namespace platform {

RegResult SplitKeyPath(std::string_view path, std::vector<std::string>* components) {
  components->clear();
  if (path.find('\0') != std::string_view::npos) return kErrorBadPathname;
  if (path.empty()) return kErrorSuccess;
  if (path.front() == '\\') return kErrorBadPathname;
  if (path.back() == '\\') path.remove_suffix(1);
  size_t start = 0;
  while (true) {
    size_t end = path.find('\\', start);
    std::string_view part = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty()) return kErrorBadPathname;
    if (part.size() > kMaxKeyNameLength) return kErrorInvalidParameter;
    components->emplace_back(part);
    if (components->size() > kMaxKeyDepth) return kErrorInvalidParameter;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return kErrorSuccess;
}

RegResult CheckValueName(std::string_view name) {
  if (name.size() > kMaxValueNameLength || name.find('\0') != std::string_view::npos)
    return kErrorInvalidParameter;
  return kErrorSuccess;
}

RegResult CheckValueData(const RegistryData& data) {
  // Types beyond REG_QWORD (11) are not registry types.
  if (data.type > 11 || data.bytes.size() > kMaxValueDataSize) return kErrorInvalidParameter;
  return kErrorSuccess;
}

RegResult CheckRoot(std::uint32_t root) {
  if (root < kHkeyClassesRoot || root > 0x80000006u) return kErrorInvalidHandle;
  return kErrorSuccess;
}

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

}  // namespace platform
