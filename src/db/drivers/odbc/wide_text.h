// Text as ODBC's wide functions take and give it (UTF-16 in SQLWCHAR units), from and to the
// program's UTF-8.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <string_view>

namespace db {

using WideString = std::basic_string<SQLWCHAR>;

// Invalid UTF-8 and lone surrogates become U+FFFD.
WideString Wide(std::string_view utf8);
std::string Narrow(const SQLWCHAR* text, std::size_t length);
inline std::string Narrow(const WideString& text) { return Narrow(text.data(), text.size()); }

}  // namespace db
