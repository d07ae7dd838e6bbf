// Small helpers for the statements and results of this folder.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "db/recordset.h"

namespace collections::detail {

// Procedures that print or run with NOCOUNT send row-less results before their rows; at most
// this many are skipped.
inline constexpr int kMaxSkippedResults = 100;

// Moves the recordset to the first result that has rows (or leaves it closed).
void SkipToRows(db::Recordset& recordset);

// True when the recordset stands on a row.
bool HasRow(db::Recordset& recordset);

// The first column of the first row, or nothing when no row came back.
std::optional<db::Value> FirstValue(db::Recordset& recordset);

// Closes the recordset when it is open; a failure to close is of no interest to anyone.
void CloseQuietly(db::Recordset& recordset);

// Blanks, tabs and line breaks removed at both ends.
std::string Trim(std::string_view text);

// The description of an error as the user sees it.
std::string DescriptionOf(const std::exception& error);

}  // namespace collections::detail
