// Conversion between the program's UTF-8 text and Windows code pages (1252, 1251, 932, ...),
// for documents stored in a code page and files written for Windows tools.
#pragma once

#include <string>
#include <string_view>

#include "common/value.h"

namespace common {

inline constexpr int kCodePageAnsi = -1;  // the ANSI code page of this system (GetAnsiCodePage)
inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageUtf16 = 1200;  // little endian

// Conversion flags.
inline constexpr int kConvertDefault = 0;
// Fail (give an empty result) instead of substituting "?" for characters the code page lacks.
inline constexpr int kConvertNoSubstitution = 1;

// The iconv name of a code page ("CP1252", "UTF-8", "UTF-16LE", "ISO-8859-1"); 0 and -1 are the
// ANSI code page. Empty for a number that is not a code page.
std::string CodePageCharset(int code_page);

// `text` (UTF-8) in the code page, followed by a terminating zero (two bytes for UTF-16).
// A character the code page cannot hold, and a byte that is not UTF-8, become "?", as on Windows;
// `used_substitute` (when given) tells whether that happened. Empty when the code page is unknown,
// or when a substitution is needed and `flags` has kConvertNoSubstitution.
Bytes TextToBytes(std::string_view text, int code_page, int flags = kConvertDefault,
                  bool* used_substitute = nullptr);

// `bytes` in the code page (-1 the ANSI code page) as UTF-8 text, up to the first terminating
// zero. A byte sequence the code page does not define becomes U+FFFD. Empty when the code page is
// unknown.
std::string BytesToText(std::string_view bytes, int code_page, int flags = kConvertDefault);
std::string BytesToText(const Bytes& bytes, int code_page, int flags = kConvertDefault);

// Writes `text` converted to the code page (without the terminating zero) into `path`, creating
// or replacing the file. Nothing is written when the conversion gives no bytes. A file that cannot
// be created is skipped without an error; the result tells whether the file was written whole.
bool WriteTextFile(std::string_view path, std::string_view text, int code_page);

}  // namespace common
