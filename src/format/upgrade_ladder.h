// The upgrade ladder as data: for every older collection format, the statements and property
// writes that bring a collection one rung up, in the order they must run.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace format {

enum class StepKind {
  kStatement,                  // execute `text`
  kStatementIfPreviousFailed,  // execute `text` only when the step before it failed
  kCountedStatement,           // execute `text`, asking for its number of changed rows
  // Execute `text` again and again; stop when its number of changed rows equals that of its
  // previous execution, or its first execution changed none. (Older releases compared the first
  // execution with the kCountedStatement's count, and stopped too early where they agreed.)
  kRepeatUntilSameCount,
  kSetCompatibility,  // write `value` as the collection property named `text`
  kSetVersion,        // write `value` as the collection format version
  kProgress,          // move the progress bar (maximum 100) to `progress`
};

enum class OnError {
  kStop,    // the run ends at the failing step; the rung's work is undone, later versions unwritten
  kIgnore,  // the failing step is skipped and the run goes on
  // Ignored when an earlier rung of the same run ignored errors; otherwise kStop.
  kIgnoreWhenContinued,
};

struct UpgradeStep {
  StepKind kind = StepKind::kStatement;
  std::string text;
  std::string value;
  int progress = 0;
  OnError on_error = OnError::kStop;
  // When not empty: shown in a plain message box if this step fails too; the run goes on.
  std::string_view failure_message;
};

struct UpgradeRung {
  std::string_view version;  // the format version a collection has after this rung
  int version_number;        // the version without its dot, as the start-up check compares it
  std::vector<UpgradeStep> steps;
};

inline constexpr std::string_view kVisibleInFolderFailure =
    "Die Spalte VisibleInFolderID konnte nicht geändert/erzeugt werden.";

// Every rung, lowest version first.
std::vector<UpgradeRung> UpgradeLadder();

// Index in UpgradeLadder() of the rung an upgrade from `version_number` starts at, or nothing
// when no rung applies (the current format, a version the ladder does not know, or a negative
// number, which stands for a version text that is not a number). A run goes from that rung to the
// end of the ladder.
std::optional<std::size_t> FirstRung(int version_number);

}  // namespace format
