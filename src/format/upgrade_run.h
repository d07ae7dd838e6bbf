// The format upgrade run inside the progress window (mode kUpgrade): the ladder's rungs from the
// collection's version to the current format, on one command bound to the collection's connection.
//
// Each rung runs inside a transaction of its own, its version write included, and is rolled back
// when it ends on an error: a run stopped part-way leaves the collection exactly as its last
// completed rung left it, so the next run starts that rung again from its first statement.
#pragma once

#include <string>
#include <string_view>

#include "format/progress_window.h"

namespace format {

// What frmProgress is given for a version text that is not a number: it starts no rung.
inline constexpr int kNotAVersionNumber = -1;

// The number an upgrade starts from for a collection's version text: the text without its dots
// ("1.50" gives 150), or kNotAVersionNumber for an empty text or one with anything but digits
// and dots.
int UpgradeStartNumber(std::string_view version_text);

// The statements around each rung.
inline constexpr std::string_view kBeginRung = "BEGIN TRANSACTION";
inline constexpr std::string_view kCommitRung = "COMMIT TRANSACTION";
inline constexpr std::string_view kRollbackRung = "ROLLBACK TRANSACTION";

}  // namespace format
