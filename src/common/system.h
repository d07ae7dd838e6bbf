// Facts about the running system and the few system services the helpers need.
#pragma once

#include <string>
#include <string_view>

namespace common {

// A new random GUID (version 4) in registry form: "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}",
// upper case, 38 characters. Empty when no random source is available.
std::string NewGuidString();

// True when `path` names an existing file system entry that is not a folder.
bool FileExists(std::string_view path);

// The Windows family code of a version: on the NT platform (platform 2) 3 for 5.0, 5 for 5.1 and
// later 5.x, 2 for any other major version; on the 9x platform (platform 1) 1 for minor version
// 10, 4 for minor version 90, 0 otherwise. Callers test 0, 1 and 4 for "no NT account support".
int WindowsVersionFamily(int platform_id, int major, int minor);

// This system counts as the NT family (5): it has user accounts and groups.
int GetWindowsVersion();

// The Windows ANSI code page a machine with this locale would use ("de_DE.UTF-8" -> 1252,
// "ru_RU" -> 1251, "ja_JP" -> 932, "C" -> 1252).
int AnsiCodePageForLocale(std::string_view locale);

// The ANSI code page of the locale in LC_ALL, LC_CTYPE or LANG (the first one set).
int GetAnsiCodePage();

}  // namespace common
