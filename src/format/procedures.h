// The collection's view and stored procedures by name, with the texts that create them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace format {

// The two multi-line procedure scripts are kept in the message table under these numbers, so
// the installation and the upgrade send the same text.
inline constexpr int kDeleteFolderMessage = 291;
inline constexpr int kDeleteDocMessage = 292;

inline constexpr std::string_view kSearchFolderView = "SearchFolderView";

struct SchemaObject {
  std::string_view name;
  std::string creation_text;
};

// SearchFolderView followed by the eighteen procedures, in the order the installation creates
// them.
std::vector<SchemaObject> ViewAndProcedures();

// The creation text of the view or procedure `name` (exact case), or nothing for a name that is
// not part of the collection format.
std::optional<std::string> CreationText(std::string_view name);

// Lines joined by a line feed, without one after the last line.
std::string DeleteDocText();
std::string DeleteFolderText();

}  // namespace format
