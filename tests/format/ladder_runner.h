// Runs the upgrade ladder's steps on a collection the way the upgrade does, and records what
// each statement did, so tests can hold every step against what the server answered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/connection.h"

namespace format::testing {

struct StatementRun {
  std::string rung;  // the version the rung leads to
  std::string text;
  bool failed = false;
  std::vector<std::int32_t> errors;  // the server's numbers of every error, in order
  std::string description;
  std::int64_t records = 0;  // changed rows, for statements that change rows
};

struct LadderRun {
  std::vector<StatementRun> statements;
  std::optional<std::int64_t> counted;      // the counted statement's changed rows
  std::vector<std::int64_t> repeat_counts;  // changed rows of each execution of the repeated one
  std::vector<std::string> versions_written;
  std::vector<std::string> messages_shown;
  bool stopped = false;  // a failing statement ended the run

  std::vector<const StatementRun*> Failures() const;
};

// Runs the ladder from `version_number` to its end (or through the rung to `last_version` only).
// Statements go on one command, text, without time-out; property writes as the collection
// object makes them. A version the ladder does not start from runs nothing.
LadderRun RunLadder(db::Connection& collection, int version_number,
                    const std::string& last_version = {});

// Writes a collection property (entry 0) the way the collection object does: by field number,
// or with field number 0 by name and type, defining the field (not visible, not a user
// property) when it is missing.
void WriteCollectionProperty(db::Connection& collection, int field_number,
                             const std::string& field_name, const std::string& value);

}  // namespace format::testing
