#include "servers/registration_keys.h"

#include <limits>

namespace servers {

std::string RegistrationKey(std::int32_t server_id) {
  return std::string(kServerListKey) + "\\" + std::to_string(server_id);
}

std::optional<std::int32_t> ParseServerId(std::string_view name) {
  if (name.empty() || name.size() > 10) return std::nullopt;
  if (name.size() > 1 && name.front() == '0') return std::nullopt;
  std::int64_t number = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(number);
}

std::vector<std::int32_t> RegistrationIds(platform::cRegistry& registry) {
  registry.SetClassKey(platform::kHkeyCurrentUser);
  registry.SetSectionKey(kServerListKey);
  std::vector<std::string> names;
  int count = 0;
  registry.EnumerateSections(&names, &count);
  std::vector<std::int32_t> ids;
  for (const std::string& name : names) {
    if (auto id = ParseServerId(name)) ids.push_back(*id);
  }
  return ids;
}

std::int32_t ReadNumber(platform::cRegistry& registry, std::string_view key,
                        std::string_view value_name) {
  registry.SetClassKey(platform::kHkeyCurrentUser);
  registry.SetSectionKey(std::string(key));
  registry.SetValueKey(std::string(value_name));
  registry.SetDefault(common::Value(0));
  std::optional<std::int64_t> number = registry.Value().ToInt();
  if (!number || *number < std::numeric_limits<std::int32_t>::min() ||
      *number > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return static_cast<std::int32_t>(*number);
}

void WriteNumber(platform::cRegistry& registry, std::string_view key, std::string_view value_name,
                 std::int32_t number) {
  registry.SetClassKey(platform::kHkeyCurrentUser);
  registry.SetSectionKey(std::string(key));
  registry.SetValueKey(std::string(value_name));
  registry.SetValueType(platform::kRegDword);
  registry.SetValue(common::Value(number));
}

}  // namespace servers
