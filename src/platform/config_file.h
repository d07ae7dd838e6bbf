// Reading the small INI-style configuration files of other programs (Samba's smb.conf, FreeTDS's
// freetds.conf, unixODBC's odbc.ini): [sections] of "key = value" lines.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct ConfigSection {
  std::string name;  // as written between the brackets, trimmed; "" before the first section
  std::vector<std::pair<std::string, std::string>> entries;  // keys as written, values trimmed

  // The last value of a key. Keys compare as those programs compare them: without regard to
  // case, spaces or underscores ("Work Group" finds "workgroup").
  std::optional<std::string> Get(std::string_view key) const;
};

// Parses the text. Lines starting with "#" or ";" are comments; a line ending in "\" continues on
// the next. Malformed lines are skipped.
std::vector<ConfigSection> ParseConfig(std::string_view text);

// Reads and parses a file; std::nullopt when it cannot be read. Only the first megabyte is read,
// these files are small and a huge one is not what we are looking for.
std::optional<std::vector<ConfigSection>> ReadConfigFile(const std::filesystem::path& path);

// Lower case ASCII letters, without spaces, tabs and underscores.
std::string NormalizeConfigKey(std::string_view key);

// Compares ASCII text without regard to letter case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// ASCII letters upper-cased.
std::string ToUpperAscii(std::string_view text);

}  // namespace platform
