#include "platform/environment.h"

#include <cstdlib>

namespace platform {

std::optional<std::string> ProcessEnvironment::Get(std::string_view name) const {
  // getenv needs a terminated name; a name holding a zero byte cannot be set at all.
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> FakeEnvironment::Get(std::string_view name) const {
  auto it = vars_.find(name);
  if (it == vars_.end()) return std::nullopt;
  return it->second;
}

std::string ExpandEnvironmentStrings(std::string_view text, const Environment& environment) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    size_t close = text.find('%', i + 1);
    if (close != std::string_view::npos && close > i + 1) {
      if (auto value = environment.Get(text.substr(i + 1, close - i - 1))) {
        out += *value;
        i = close + 1;
        continue;
      }
    }
    // Not a known reference: keep the percent sign and look again from the next character.
    out += '%';
    ++i;
  }
  return out;
}

std::string GetOrEmpty(const Environment& environment, std::string_view name) {
  return environment.Get(name).value_or(std::string());
}

}  // namespace platform
