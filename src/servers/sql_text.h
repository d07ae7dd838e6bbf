// Names and values as the server statements of this folder place them: values between single
// quotes with embedded quotes doubled, database names bare when they are plain identifiers and in
// brackets otherwise. For ordinary names the statements read exactly as they always did; names
// holding quotes, brackets or blanks reach the server as data, never as SQL.
#pragma once

#include <string>
#include <string_view>

namespace servers {

// 'text' with every ' doubled.
std::string QuoteText(std::string_view text);

// A database name where a bare name stands (USE name): unchanged when it is a plain identifier,
// else in brackets with every ] doubled. The whole text is one name; dots are part of it.
std::string QuoteDatabaseName(std::string_view name);

// Where the text holds the needle, compared without regard to the case of A-Z; npos when not.
size_t FindNoCase(std::string_view text, std::string_view needle);

// Equality without regard to the case of A-Z.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace servers
