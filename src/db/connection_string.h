// OLE DB connection strings: "Key=Value;" pairs, keys without regard to case, values optionally
// quoted with "..." or '...' (the quote doubled inside), later duplicates winning.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace db {

class ConnectionString {
 public:
  struct Entry {
    std::string key;    // as written (trimmed)
    std::string value;  // unquoted
    std::string raw;    // the segment as written, without its ";"
  };

  ConnectionString() = default;
  // Throws db::Error (0x80040E73) for a segment without "=" or an unterminated quote.
  static ConnectionString Parse(std::string_view text);

  // The last value given for the key or one of its synonyms ("User ID" and "UID", ...).
  std::optional<std::string> Get(std::string_view key) const;
  bool Has(std::string_view key) const { return Get(key).has_value(); }
  // Replaces every entry of the key (and its synonyms) by one at the end.
  void Set(std::string_view key, std::string_view value);
  void Remove(std::string_view key);

  const std::vector<Entry>& entries() const { return entries_; }
  // The entries as written, each followed by ";".
  std::string ToString() const;

  // The canonical key for a key or synonym ("uid" gives "User ID"); unknown keys come back as
  // given.
  static std::string CanonicalKey(std::string_view key);
  // A value as it must be written so that it reads back unchanged.
  static std::string QuoteValue(std::string_view value);

 private:
  std::vector<Entry> entries_;
};

// True for "SSPI", "true" and "yes" (any case): the values that ask for Windows authentication.
bool IsIntegratedSecurityValue(std::string_view value);
// Reads a boolean property value: "true"/"yes"/"-1"/non-zero numbers are true.
bool IsTrueValue(std::string_view value);

}  // namespace db
