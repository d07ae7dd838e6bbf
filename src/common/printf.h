// printf: fills the "[...]" placeholders of a message text with values, in order.
//
// Escapes, replaced first: \\ a backslash, \t tab, \r carriage return, \n carriage return and
// line feed, \[ an opening bracket. Placeholders:
//   [*]        the next value as text
//   [pattern]  the next value formatted with the pattern (see FormatValue)
//   []         skips one value
//   [3:*]      the third value, without moving the running index
//   [(] [\]    a literal "[" or backslash
// Inserted values are never scanned again, so a value holding "[" is safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"

namespace common {

// The formatter's errors (object-error base 0x80040000 plus 1 to 3, as signed 32-bit numbers).
inline constexpr std::int32_t kErrPrintfMissingBracket = static_cast<std::int32_t>(0x80040001u);
inline constexpr std::int32_t kErrPrintfMissingValue = static_cast<std::int32_t>(0x80040002u);
inline constexpr std::int32_t kErrPrintfScriptCode = static_cast<std::int32_t>(0x80040003u);

// Throws common::Error with one of the numbers above.
std::string printf(std::string_view format, const std::vector<Value>& values);

}  // namespace common
