// The statements that turn a fresh database into an empty collection of the current format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/value.h"

namespace format {

inline constexpr std::size_t kInstallationStatementCount = 113;

// The values the installation stores as collection properties.
struct InstallValues {
  // Registry text form ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"), or empty when no GUID could
  // be made.
  std::string collection_guid;
  // The creation date as whole days since 30 December 1899 (see DayNumber).
  std::int64_t creation_day = 0;
};

// The installation script in the order it must run, each entry one statement for a connection
// to the new database. The values are stored as text literals; a quote in them is doubled, so
// any value is stored as given and cannot end the literal early.
std::vector<std::string> InstallationScript(const InstallValues& values);

// Whole days from 30 December 1899 to the date of `date` (its time of day is ignored): the day
// number the desktop application stores, 37622 for 1 January 2003. Proleptic Gregorian calendar;
// earlier dates give negative numbers.
std::int64_t DayNumber(const common::DateTime& date);

}  // namespace format
