#include "format/ladder_runner.h"

#include <stdexcept>

#include "db/command.h"
#include "db/error.h"
#include "db/recordset.h"
#include "format/names.h"
#include "format/sandbox_collection.h"
#include "format/upgrade_ladder.h"

namespace format::testing {
namespace {

// A repeated statement whose count never settles would otherwise hang the test.
constexpr int kMaxRepetitions = 100;

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

StatementRun Execute(db::Command& command, const std::string& rung, const std::string& text) {
  StatementRun run;
  run.rung = rung;
  run.text = text;
  command.SetCommandText(text);
  try {
    command.Execute(&run.records);
  } catch (const db::Error& error) {
    run.failed = true;
    for (const db::ErrorRecord& record : error.errors()) {
      if (record.IsError()) run.errors.push_back(record.native_error);
    }
    if (run.errors.empty()) run.errors.push_back(error.native_error());
    run.description = error.description();
  }
  return run;
}

}  // namespace

std::vector<const StatementRun*> LadderRun::Failures() const {
  std::vector<const StatementRun*> failures;
  for (const StatementRun& run : statements) {
    if (run.failed) failures.push_back(&run);
  }
  return failures;
}

void WriteCollectionProperty(db::Connection& collection, int field_number,
                             const std::string& field_name, const std::string& value) {
  const std::string type = std::to_string(kCollectionProperty);
  if (field_number == 0) {
    const std::string select =
        "SELECT ExtFieldID FROM ExtendedField WHERE FieldName=" + Quoted(field_name) +
        " AND FieldType=" + type + ";";
    Rows found = Query(collection, select);
    if (found.empty()) {
      collection.Execute(
          "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName, Visible, UserProperty) "
          "SELECT Max(ExtFieldID)+1, " +
          type + ", " + Quoted(field_name) + ", 0, 0 FROM ExtendedField;");
      found = Query(collection, select);
    }
    if (found.empty()) throw std::runtime_error("no field " + field_name);
    field_number = static_cast<int>(found[0][0].ToInt().value());
    collection.Execute("UPDATE ExtendedField SET Visible=0, UserProperty=0 WHERE ExtFieldID=" +
                       std::to_string(field_number));
  }
  std::int64_t changed = 0;
  collection.Execute("UPDATE ExtendedData SET FieldValue=" + Quoted(value) +
                         " WHERE EntryID=0 And ExtFieldID=" + std::to_string(field_number),
                     &changed);
  if (changed == 0) {
    collection.Execute("INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, " +
                       std::to_string(field_number) + ", " + Quoted(value) + ");");
  }
}

LadderRun RunLadder(db::Connection& collection, int version_number,
                    const std::string& last_version) {
  LadderRun result;
  const std::vector<UpgradeRung> ladder = UpgradeLadder();
  const std::optional<std::size_t> first = FirstRung(version_number);
  if (!first) return result;

  db::Command command;
  command.SetActiveConnection(collection);
  command.SetCommandType(db::kCmdText);
  command.SetCommandTimeout(0);

  for (std::size_t r = *first; r < ladder.size(); ++r) {
    const UpgradeRung& rung = ladder[r];
    const std::string version(rung.version);
    bool previous_failed = false;
    for (const UpgradeStep& step : rung.steps) {
      const bool ignore = step.on_error == OnError::kIgnore ||
                          (step.on_error == OnError::kIgnoreWhenContinued && r != *first);
      bool failed = false;
      switch (step.kind) {
        case StepKind::kProgress:
          continue;
        case StepKind::kStatementIfPreviousFailed:
          if (!previous_failed) break;
          result.statements.push_back(Execute(command, version, step.text));
          failed = result.statements.back().failed;
          if (failed && !step.failure_message.empty()) {
            result.messages_shown.emplace_back(step.failure_message);
          }
          break;
        case StepKind::kStatement:
          result.statements.push_back(Execute(command, version, step.text));
          failed = result.statements.back().failed;
          break;
        case StepKind::kCountedStatement:
          result.statements.push_back(Execute(command, version, step.text));
          failed = result.statements.back().failed;
          if (!failed) result.counted = result.statements.back().records;
          break;
        case StepKind::kRepeatUntilSameCount: {
          std::int64_t previous = result.counted.value_or(-1);
          for (int i = 0; i < kMaxRepetitions; ++i) {
            result.statements.push_back(Execute(command, version, step.text));
            const StatementRun& run = result.statements.back();
            if (run.failed) {
              failed = true;
              break;
            }
            result.repeat_counts.push_back(run.records);
            if (run.records == previous) break;
            previous = run.records;
          }
          break;
        }
        case StepKind::kSetCompatibility:
          WriteCollectionProperty(collection, 0, step.text, step.value);
          break;
        case StepKind::kSetVersion:
          WriteCollectionProperty(collection, kArchiveVersionField, {}, step.value);
          result.versions_written.push_back(step.value);
          break;
      }
      if (failed && !ignore) {
        result.stopped = true;
        return result;
      }
      previous_failed = failed;
    }
    if (!last_version.empty() && version == last_version) break;
  }
  return result;
}

}  // namespace format::testing
