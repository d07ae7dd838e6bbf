// The collection format version a collection carries: the collection property "Quillarchive:
// Archive Version" (entry 0, field 3), and the number the upgrade decisions compare.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace format {

// The statement that reads the version, as the collection object's property read sends it.
std::string FormatVersionQuery();

// The version text of the collection `collection` is connected to ("1.50"); empty when the
// collection has none or it cannot be read. Never raises.
std::string ReadFormatVersion(db::Connection& collection);

// The version without its dots as a number: "1.50" gives 150, "1.61" 161. Nothing for a text
// that is empty or holds anything but digits and dots after that, or is too large.
std::optional<int> FormatVersionNumber(std::string_view version);

}  // namespace format
