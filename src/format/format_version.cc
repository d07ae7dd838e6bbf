#include "format/format_version.h"

#include <exception>

#include "db/recordset.h"
#include "format/names.h"

namespace format {
namespace {

constexpr int kMaxSkippedResults = 16;

}  // namespace

std::string FormatVersionQuery() {
  return "SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON "
         "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=" +
         std::to_string(kCollectionEntry) +
         ") AND ((ExtendedField.ExtFieldID)=" + std::to_string(kArchiveVersionField) + "));";
}

std::string ReadFormatVersion(db::Connection& collection) {
  try {
    db::Recordset rs;
    rs.Open(FormatVersionQuery(), collection, db::kOpenForwardOnly, db::kLockReadOnly);
    // Messages and row-less results may come before the rows; a batch has only so many.
    for (int skipped = 0; rs.State() != db::kStateOpen && skipped < kMaxSkippedResults; ++skipped) {
      rs = rs.NextRecordset();
    }
    if (rs.State() != db::kStateOpen || rs.Eof()) return {};
    return rs.Fields("FieldValue").Value().ToText();
  } catch (const std::exception&) {
    // Not a collection, or not readable by this login: no version.
    return {};
  }
}

std::optional<int> FormatVersionNumber(std::string_view version) {
  int number = 0;
  bool digits = false;
  for (char c : version) {
    if (c == '.') continue;
    if (c < '0' || c > '9') return std::nullopt;
    if (number > 100'000'000) return std::nullopt;
    number = number * 10 + (c - '0');
    digits = true;
  }
  if (!digits) return std::nullopt;
  return number;
}

}  // namespace format
