#include "platform/config_file.h"

#include <fstream>

namespace platform {

namespace {

constexpr size_t kMaxConfigSize = 1024 * 1024;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string NormalizeConfigKey(std::string_view key) {
  std::string normalized;
  for (char c : key) {
    if (c != ' ' && c != '\t' && c != '_') normalized += Lower(c);
  }
  return normalized;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string ToUpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::optional<std::string> ConfigSection::Get(std::string_view key) const {
  std::string wanted = NormalizeConfigKey(key);
  std::optional<std::string> found;
  for (const auto& [name, value] : entries) {
    if (NormalizeConfigKey(name) == wanted) found = value;
  }
  return found;
}

std::vector<ConfigSection> ParseConfig(std::string_view text) {
  std::vector<ConfigSection> sections(1);
  std::string pending;  // a line continued with a trailing backslash
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = Trim(text.substr(start, end - start));
    start = end + 1;
    if (!raw.empty() && raw.back() == '\\') {
      pending += raw.substr(0, raw.size() - 1);
      pending += ' ';
      if (start <= text.size()) continue;
    } else {
      pending += raw;
    }
    std::string line = std::move(pending);
    pending.clear();
    std::string_view view = Trim(line);
    if (view.empty() || view.front() == '#' || view.front() == ';') continue;
    if (view.front() == '[') {
      size_t close = view.find(']');
      if (close == std::string_view::npos) continue;
      sections.push_back(ConfigSection{std::string(Trim(view.substr(1, close - 1))), {}});
      continue;
    }
    size_t equals = view.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = Trim(view.substr(0, equals));
    if (key.empty()) continue;
    sections.back().entries.emplace_back(std::string(key),
                                         std::string(Trim(view.substr(equals + 1))));
  }
  return sections;
}

std::optional<std::vector<ConfigSection>> ReadConfigFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxConfigSize, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return ParseConfig(text);
}

}  // namespace platform
