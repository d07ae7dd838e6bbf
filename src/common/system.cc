#include "common/system.h"

#include <sys/stat.h>

#include <cstdlib>
#include <random>

#include "common/value.h"

namespace common {

std::string NewGuidString() {
  try {
    std::random_device source;  // /dev/urandom or the CPU's generator on glibc
    Guid guid;
    for (size_t i = 0; i < guid.bytes.size(); i += 4) {
      std::uint32_t word = source();
      for (size_t k = 0; k < 4; ++k) guid.bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
    guid.bytes[6] = static_cast<std::uint8_t>((guid.bytes[6] & 0x0F) | 0x40);  // version 4
    guid.bytes[8] = static_cast<std::uint8_t>((guid.bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return guid.ToText();
  } catch (...) {
    return "";
  }
}

bool FileExists(std::string_view path) {
  std::string p(path);
  if (p.empty() || p.find('\0') != std::string::npos) return false;
  struct stat info;
  return ::stat(p.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

int WindowsVersionFamily(int platform_id, int major, int minor) {
  if (platform_id == 2) {
    if (major != 5) return 2;
    return minor == 0 ? 3 : 5;
  }
  if (platform_id == 1) {
    if (minor == 10) return 1;
    if (minor == 90) return 4;
  }
  return 0;
}

int GetWindowsVersion() { return WindowsVersionFamily(2, 5, 1); }

int AnsiCodePageForLocale(std::string_view locale) {
  // "ll_CC.charset@modifier": the language decides, the country only for Chinese.
  size_t end = locale.find_first_of(".@");
  std::string_view name = locale.substr(0, end);
  std::string_view modifier;
  if (size_t at = locale.find('@'); at != std::string_view::npos) modifier = locale.substr(at + 1);
  size_t sep = name.find_first_of("_-");
  std::string language(name.substr(0, sep));
  std::string country(sep == std::string_view::npos ? "" : name.substr(sep + 1));
  for (char& c : language) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
  for (char& c : country) c = static_cast<char>((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);

  auto is = [&](std::initializer_list<std::string_view> names) {
    for (std::string_view n : names) {
      if (language == n) return true;
    }
    return false;
  };
  if (is({"sr"})) return modifier == "latin" ? 1250 : 1251;
  if (is({"uz", "az"})) return modifier == "cyrillic" ? 1251 : 1254;
  if (is({"ru", "uk", "be", "bg", "mk", "kk", "ky", "tt", "mn", "tg"})) return 1251;
  if (is({"pl", "cs", "hu", "sk", "sl", "hr", "ro", "sq", "bs"})) return 1250;
  if (is({"el"})) return 1253;
  if (is({"tr"})) return 1254;
  if (is({"he", "iw"})) return 1255;
  if (is({"ar", "fa", "ur"})) return 1256;
  if (is({"et", "lv", "lt"})) return 1257;
  if (is({"vi"})) return 1258;
  if (is({"th"})) return 874;
  if (is({"ja"})) return 932;
  if (is({"ko"})) return 949;
  if (is({"zh"})) return (country == "TW" || country == "HK" || country == "MO") ? 950 : 936;
  return 1252;
}

int GetAnsiCodePage() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* locale = std::getenv(variable);
    if (locale != nullptr && *locale != '\0') return AnsiCodePageForLocale(locale);
  }
  return 1252;
}

}  // namespace common
