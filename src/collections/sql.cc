#include "collections/sql.h"

#include "common/error.h"

namespace collections::detail {

void SkipToRows(db::Recordset& recordset) {
  for (int i = 0; i < kMaxSkippedResults && recordset.State() != db::kStateOpen; ++i) {
    recordset.NextRecordset();
  }
}

bool HasRow(db::Recordset& recordset) {
  return recordset.State() == db::kStateOpen && !recordset.Eof();
}

std::optional<db::Value> FirstValue(db::Recordset& recordset) {
  SkipToRows(recordset);
  if (!HasRow(recordset)) return std::nullopt;
  return recordset.Fields(0).Value();
}

void CloseQuietly(db::Recordset& recordset) {
  try {
    if (recordset.State() == db::kStateOpen) recordset.Close();
  } catch (const std::exception&) {
    // Closing only frees what the rows held.
  }
}

std::string Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::string();
  size_t last = text.find_last_not_of(kBlanks);
  return std::string(text.substr(first, last - first + 1));
}

std::string DescriptionOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const common::Error*>(&error)) return own->description();
  return error.what();
}

}  // namespace collections::detail
