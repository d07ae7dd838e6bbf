#include "db/connection_string.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "db/error.h"

namespace db {

namespace {

constexpr char kSource[] = "Microsoft OLE DB Service Components";

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

struct Synonym {
  const char* alias;
  const char* canonical;
};

constexpr std::array<Synonym, 16> kSynonyms{{
    {"user id", "User ID"},
    {"uid", "User ID"},
    {"user", "User ID"},
    {"password", "Password"},
    {"pwd", "Password"},
    {"data source", "Data Source"},
    {"server", "Data Source"},
    {"address", "Data Source"},
    {"initial catalog", "Initial Catalog"},
    {"database", "Initial Catalog"},
    {"connect timeout", "Connect Timeout"},
    {"connection timeout", "Connect Timeout"},
    {"integrated security", "Integrated Security"},
    {"trusted_connection", "Integrated Security"},
    {"persist security info", "Persist Security Info"},
    {"provider", "Provider"},
}};

Error BadString(const std::string& detail) {
  return Error(kErrorBadInitString, kSource,
               "The connection string is not well formed: " + detail + ".");
}

}  // namespace

std::string ConnectionString::CanonicalKey(std::string_view key) {
  std::string lower = Lower(Trim(key));
  for (const Synonym& s : kSynonyms) {
    if (lower == s.alias) return s.canonical;
  }
  return std::string(Trim(key));
}

ConnectionString ConnectionString::Parse(std::string_view text) {
  ConnectionString result;
  size_t i = 0;
  while (i < text.size()) {
    // Skip separators and blanks between entries; empty segments (";;") are allowed.
    while (i < text.size() && (text[i] == ';' || std::isspace(static_cast<unsigned char>(text[i]))))
      ++i;
    if (i >= text.size()) break;
    size_t start = i;
    // The key runs to the first single "="; "==" stands for a literal "=" inside a key.
    std::string key;
    bool found_equals = false;
    while (i < text.size()) {
      if (text[i] == '=') {
        if (i + 1 < text.size() && text[i + 1] == '=') {
          key += '=';
          i += 2;
          continue;
        }
        found_equals = true;
        ++i;
        break;
      }
      if (text[i] == ';') break;
      key += text[i++];
    }
    std::string_view trimmed_key = Trim(key);
    if (!found_equals) {
      throw BadString("the entry \"" + std::string(Trim(text.substr(start, i - start))) +
                      "\" has no \"=\"");
    }
    if (trimmed_key.empty()) throw BadString("an entry has no keyword");
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string value;
    if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
      char quote = text[i++];
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == quote) {
          if (i + 1 < text.size() && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        value += text[i++];
      }
      if (!closed) {
        throw BadString("the value of \"" + std::string(trimmed_key) + "\" has no closing quote");
      }
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (i < text.size() && text[i] != ';') {
        throw BadString("text follows the quoted value of \"" + std::string(trimmed_key) + "\"");
      }
    } else {
      size_t value_start = i;
      while (i < text.size() && text[i] != ';') ++i;
      value = std::string(Trim(text.substr(value_start, i - value_start)));
    }
    std::string raw(Trim(text.substr(start, i - start)));
    result.entries_.push_back({std::string(trimmed_key), std::move(value), std::move(raw)});
  }
  return result;
}

std::optional<std::string> ConnectionString::Get(std::string_view key) const {
  std::string wanted = Lower(CanonicalKey(key));
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (Lower(CanonicalKey(it->key)) == wanted) return it->value;
  }
  return std::nullopt;
}

void ConnectionString::Remove(std::string_view key) {
  std::string wanted = Lower(CanonicalKey(key));
  std::erase_if(entries_, [&](const Entry& e) { return Lower(CanonicalKey(e.key)) == wanted; });
}

void ConnectionString::Set(std::string_view key, std::string_view value) {
  Remove(key);
  std::string written_key(Trim(key));
  std::string escaped_key;
  for (char c : written_key) {
    escaped_key += c;
    if (c == '=') escaped_key += '=';
  }
  entries_.push_back({written_key, std::string(value), escaped_key + "=" + QuoteValue(value)});
}

std::string ConnectionString::ToString() const {
  std::string out;
  for (const Entry& e : entries_) out += e.raw + ";";
  return out;
}

std::string ConnectionString::QuoteValue(std::string_view value) {
  // A leading "=" would read as the doubled "=" of a keyword.
  bool needs_quotes = value.find_first_of(";\"'") != std::string_view::npos ||
                      (!value.empty() && value.front() == '=') ||
                      (!value.empty() && (std::isspace(static_cast<unsigned char>(value.front())) ||
                                          std::isspace(static_cast<unsigned char>(value.back()))));
  if (!needs_quotes) return std::string(value);
  char quote = value.find('"') == std::string_view::npos ? '"' : '\'';
  if (quote == '\'' && value.find('\'') != std::string_view::npos) quote = '"';
  std::string out(1, quote);
  for (char c : value) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

bool IsIntegratedSecurityValue(std::string_view value) {
  std::string v = Lower(Trim(value));
  return v == "sspi" || v == "true" || v == "yes";
}

bool IsTrueValue(std::string_view value) {
  std::string v = Lower(Trim(value));
  if (v == "true" || v == "yes") return true;
  if (v.empty() || v == "false" || v == "no") return false;
  bool numeric = std::all_of(v.begin() + (v[0] == '-' ? 1 : 0), v.end(),
                             [](char c) { return c >= '0' && c <= '9'; });
  return numeric && v != "-" && v.find_first_not_of("-0") != std::string::npos;
}

}  // namespace db
