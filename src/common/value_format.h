// FormatValue: a value formatted with a pattern, in the manner of the classic Format function:
// number patterns ("0.00", "#,##0", "0%", "0.00E+00", sections "pos;neg;zero;null"), date
// patterns ("yyyy-mm-dd", "dddd, mmmm d, yyyy", "hh:nn:ss AM/PM", ...), text patterns ("@", "&",
// "<", ">", "!") and the named formats ("Short Date", "Standard", "Yes/No", ...). Month and day
// names are English, the week starts on Sunday and week 1 is the one holding 1 January.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/value.h"

namespace common {

// Never throws: a value the pattern cannot apply to is returned as its plain text.
std::string FormatValue(const Value& value, std::string_view pattern);

// Dates as serial day numbers: whole days since 30 December 1899, the time as the fraction
// (for days before that date the fraction counts forward, as the platform's dates do).
double DateTimeToSerial(const DateTime& date);
// Years 100 to 9999; std::nullopt outside that range or for a number that is not finite.
std::optional<DateTime> SerialToDateTime(double serial);

}  // namespace common
