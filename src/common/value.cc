#include "common/value.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>

namespace common {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ReadInt(std::string_view s, int digits, int& out) {
  if (s.size() < static_cast<size_t>(digits)) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + digits, out);
  return ec == std::errc() && p == s.data() + digits;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DateTime::ToText() const {
  char buffer[40];
  if (millisecond != 0) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day,
                  hour, minute, second, millisecond);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
  }
  return buffer;
}

std::optional<DateTime> DateTime::Parse(std::string_view text) {
  text = Trim(text);
  DateTime d;
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  if (!ReadInt(text, 4, d.year) || !ReadInt(text.substr(5), 2, d.month) ||
      !ReadInt(text.substr(8), 2, d.day))
    return std::nullopt;
  text.remove_prefix(10);
  if (!text.empty()) {
    if (text[0] != ' ' && text[0] != 'T') return std::nullopt;
    text.remove_prefix(1);
    if (text.size() < 5 || text[2] != ':' || !ReadInt(text, 2, d.hour) ||
        !ReadInt(text.substr(3), 2, d.minute))
      return std::nullopt;
    text.remove_prefix(5);
    if (!text.empty()) {
      if (text[0] != ':' || !ReadInt(text.substr(1), 2, d.second)) return std::nullopt;
      text.remove_prefix(3);
      if (!text.empty()) {
        if (text[0] != '.' || text.size() < 2 || text.size() > 4) return std::nullopt;
        int ms = 0;
        if (!ReadInt(text.substr(1), static_cast<int>(text.size() - 1), ms)) return std::nullopt;
        for (size_t i = text.size() - 1; i < 3; ++i) ms *= 10;
        d.millisecond = ms;
      }
    }
  }
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31 || d.hour > 23 || d.minute > 59 ||
      d.second > 59)
    return std::nullopt;
  return d;
}

DateTime DateTime::Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  return DateTime{local.tm_year + 1900,
                  local.tm_mon + 1,
                  local.tm_mday,
                  local.tm_hour,
                  local.tm_min,
                  local.tm_sec,
                  static_cast<int>(ms.count())};
}

std::string Guid::ToText() const {
  static const char* kHex = "0123456789ABCDEF";
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
  out += '}';
  return out;
}

std::optional<Guid> Guid::Parse(std::string_view text) {
  text = Trim(text);
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  Guid g;
  int byte = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    g.bytes[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  return g;
}

std::string Value::ToText() const {
  switch (type()) {
    case Type::kNull:
      return "";
    case Type::kBool:
      return std::get<bool>(data_) ? "True" : "False";
    case Type::kInt:
      return std::to_string(std::get<std::int64_t>(data_));
    case Type::kDouble: {
      double d = std::get<double>(data_);
      char buffer[64];
      auto [p, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
      return ec == std::errc() ? std::string(buffer, p) : std::string();
    }
    case Type::kText:
      return std::get<std::string>(data_);
    case Type::kDateTime:
      return std::get<DateTime>(data_).ToText();
    case Type::kBinary: {
      const Bytes& b = std::get<Bytes>(data_);
      return std::string(b.begin(), b.end());
    }
    case Type::kGuid:
      return std::get<Guid>(data_).ToText();
  }
  return "";
}

std::optional<std::int64_t> Value::ToInt() const {
  switch (type()) {
    case Type::kBool:
      return std::get<bool>(data_) ? 1 : 0;
    case Type::kInt:
      return std::get<std::int64_t>(data_);
    case Type::kDouble: {
      double d = std::get<double>(data_);
      if (!std::isfinite(d) || d > 9.2e18 || d < -9.2e18) return std::nullopt;
      // Banker's rounding, as the conversion to an integer of the platform does.
      return static_cast<std::int64_t>(std::nearbyint(d));
    }
    case Type::kText: {
      std::string_view s = Trim(std::get<std::string>(data_));
      std::int64_t v = 0;
      auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
      if (ec == std::errc() && p == s.data() + s.size() && !s.empty()) return v;
      auto d = ToDouble();
      if (d) return Value(*d).ToInt();
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

std::optional<double> Value::ToDouble() const {
  switch (type()) {
    case Type::kBool:
      return std::get<bool>(data_) ? 1.0 : 0.0;
    case Type::kInt:
      return static_cast<double>(std::get<std::int64_t>(data_));
    case Type::kDouble:
      return std::get<double>(data_);
    case Type::kText: {
      std::string_view s = Trim(std::get<std::string>(data_));
      if (!s.empty() && s.front() == '+') s.remove_prefix(1);
      double d = 0;
      auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
      if (ec == std::errc() && p == s.data() + s.size() && !s.empty()) return d;
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

std::optional<bool> Value::ToBool() const {
  if (const std::string* s = AsText()) {
    if (EqualsNoCase(Trim(*s), "true")) return true;
    if (EqualsNoCase(Trim(*s), "false")) return false;
  }
  auto d = ToDouble();
  if (!d) return std::nullopt;
  return *d != 0.0;
}

}  // namespace common
