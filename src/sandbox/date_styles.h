// CONVERT's styles: how a date, money or float value is written as text for a style number, and
// how a text is read as a date under the session's language, date order and the style.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/value.h"
#include "sandbox/languages.h"

namespace sandbox {

// The text of a date in a style (0-14, 20, 21, 100-114, 120, 121, 126, 130, 131); month names
// come from the language. nullopt for other style numbers.
std::optional<std::string> FormatDateStyle(const common::DateTime& d, int style,
                                           const Language& language);

// money and smallmoney to text: 0 (two decimals), 1 (two decimals, thousands separated by
// commas), 2 and 126 (four decimals). nullopt for other style numbers.
std::optional<std::string> FormatMoneyStyle(double value, int style);
// float and real to text: 1 (8 digits, scientific), 2 (16 digits, scientific); 126 is 1 for
// real and 2 for float. Style 0 is the caller's default text. nullopt for other style numbers.
std::optional<std::string> FormatFloatStyle(double value, int style, bool real);

// Reads a datetime from text: numeric dates in the settings' date order (a style that names an
// order overrides it), month names of the settings' language, ISO forms in any order, a time
// alone on 1900-01-01. nullopt when the text is no date.
std::optional<common::DateTime> ParseDateText(std::string_view text, const DateSettings& settings,
                                              int style = 0);

// The engine's own storage text of a datetime, "yyyy-mm-dd hh:mi:ss.mmm" exactly; nullopt for
// any other text.
std::optional<common::DateTime> ParseStorageDate(std::string_view text);

// The day of week as DATEPART(weekday) gives it under SET DATEFIRST datefirst: 1 is the
// first day of the week.
int WeekdayNumber(const common::DateTime& d, int datefirst);

}  // namespace sandbox
