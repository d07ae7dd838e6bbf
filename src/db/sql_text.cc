#include "db/sql_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace db {

namespace {

// Reserved words a column or table might plausibly be named after.
constexpr std::array<std::string_view, 60> kReserved{
    "ADD",     "ALL",       "ALTER",  "AND",      "ANY",     "AS",     "ASC",   "BACKUP",
    "BETWEEN", "BY",        "CASE",   "CHECK",    "COLUMN",  "CREATE", "CROSS", "DATABASE",
    "DEFAULT", "DELETE",    "DESC",   "DISTINCT", "DROP",    "ELSE",   "END",   "EXEC",
    "EXECUTE", "EXISTS",    "FILE",   "FOR",      "FOREIGN", "FROM",   "FULL",  "GROUP",
    "HAVING",  "IDENTITY",  "IN",     "INDEX",    "INSERT",  "INTO",   "IS",    "JOIN",
    "KEY",     "LIKE",      "NOT",    "NULL",     "OF",      "ON",     "OR",    "ORDER",
    "PRIMARY", "PROCEDURE", "PUBLIC", "SELECT",   "SET",     "TABLE",  "TOP",   "UNION",
    "UPDATE",  "USER",      "VALUES", "WHERE"};

bool IsReserved(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::find(kReserved.begin(), kReserved.end(), upper) != kReserved.end();
}

std::string QuotePart(std::string_view part) {
  if (part.size() >= 2 && part.front() == '[' && part.back() == ']') {
    // Already bracketed: keep it when the inside has no lone "]".
    std::string_view inside = part.substr(1, part.size() - 2);
    bool valid = true;
    for (size_t i = 0; i < inside.size(); ++i) {
      if (inside[i] == ']') {
        if (i + 1 < inside.size() && inside[i + 1] == ']') {
          ++i;
        } else {
          valid = false;
          break;
        }
      }
    }
    if (valid) return std::string(part);
  }
  if (IsPlainIdentifier(part)) return std::string(part);
  std::string out = "[";
  for (char c : part) {
    out += c;
    if (c == ']') out += ']';
  }
  out += ']';
  return out;
}

}  // namespace

bool IsPlainIdentifier(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  auto first = static_cast<unsigned char>(name[0]);
  if (!(std::isalpha(first) || first == '_' || first == '#' || first == '@')) return false;
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    if (!(std::isalnum(c) || c == '_' || c == '#' || c == '@' || c == '$')) return false;
  }
  return !IsReserved(name);
}

std::string SqlName(std::string_view name) {
  // Split on dots outside brackets, so "dbo.Document" and "[a.b].c" keep their parts.
  std::string out;
  size_t start = 0;
  bool in_brackets = false;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size()) {
      char c = name[i];
      if (c == '[' && !in_brackets && i == start) {
        in_brackets = true;
        continue;
      }
      if (c == ']' && in_brackets) {
        if (i + 1 < name.size() && name[i + 1] == ']') {
          ++i;
          continue;
        }
        in_brackets = false;
        continue;
      }
      if (c != '.' || in_brackets) continue;
    }
    std::string_view part = name.substr(start, i - start);
    if (!out.empty() || start > 0) out += '.';
    // An empty part ("master..sysdatabases") stays empty: the server's default schema.
    if (!part.empty()) out += QuotePart(part);
    start = i + 1;
  }
  return out;
}

std::string SqlLiteral(const common::Value& value, bool national) {
  using Type = common::Value::Type;
  switch (value.type()) {
    case Type::kNull:
      return "NULL";
    case Type::kBool:
      return *value.ToBool() ? "1" : "0";
    case Type::kInt:
      return value.ToText();
    case Type::kDouble: {
      // Infinities and NaN have no literal; NULL is the nearest the server can store.
      double d = *value.ToDouble();
      if (!std::isfinite(d)) return "NULL";
      return value.ToText();
    }
    case Type::kText: {
      // Documents make literals of many kilobytes: copied in runs between quotes.
      const std::string& text = *value.AsText();
      std::string out;
      out.reserve(text.size() + 3);
      out += national ? "N'" : "'";
      std::size_t start = 0;
      for (std::size_t quote = text.find('\''); quote != std::string::npos;
           quote = text.find('\'', start)) {
        out.append(text, start, quote + 1 - start);
        out += '\'';
        start = quote + 1;
      }
      out.append(text, start, std::string::npos);
      out += '\'';
      return out;
    }
    case Type::kDateTime: {
      const common::DateTime& d = *value.AsDateTime();
      char buffer[48];
      std::snprintf(buffer, sizeof buffer, "'%04d-%02d-%02dT%02d:%02d:%02d.%03d'", d.year, d.month,
                    d.day, d.hour, d.minute, d.second, d.millisecond);
      return buffer;
    }
    case Type::kBinary: {
      static const char* kHex = "0123456789ABCDEF";
      const common::Bytes& bytes = *value.AsBytes();
      std::string out(2 + 2 * bytes.size(), '\0');
      out[0] = '0';
      out[1] = 'x';
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[2 + 2 * i] = kHex[bytes[i] >> 4];
        out[3 + 2 * i] = kHex[bytes[i] & 15];
      }
      return out;
    }
    case Type::kGuid: {
      std::string text = value.AsGuid()->ToText();
      return "'" + text.substr(1, text.size() - 2) + "'";
    }
  }
  return "NULL";
}

}  // namespace db
