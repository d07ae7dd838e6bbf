#include "format/upgrade_run.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/messages.h"
#include "db/command.h"
#include "db/recordset.h"
#include "format/format_version.h"
#include "format/names.h"
#include "format/upgrade_ladder.h"
#include "platform/user_interface.h"

namespace format {
namespace {

constexpr char kTitle[] = "Tessera Server Manager";
constexpr int kProgressMaximum = 100;
constexpr int kUpdatingCollectionMessage = 347;
constexpr int kPleaseWaitMessage = 318;
constexpr int kCommandProblemMessage = 355;

std::string DescriptionOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const common::Error*>(&error)) return own->description();
  return error.what();
}

// What ended a step: the error's description.
using Failure = std::optional<std::string>;

class UpgradeRun {
 public:
  explicit UpgradeRun(frmProgress& window) : window_(window), collection_(window.GetCollection()) {}

  bool Run() {
    window_.SetCaption(kTitle);
    window_.SetMaximum(kProgressMaximum);
    window_.SetCollectionLine(
        common::FormatMessage(kUpdatingCollectionMessage, {common::Value(collection_.Name())}));
    window_.SetWaitLine(common::LoadMessage(kPleaseWaitMessage));

    const std::optional<std::size_t> first = FirstRung(window_.VersionNumber());
    if (!first) return true;
    try {
      command_.SetActiveConnection(collection_.Connection());
      command_.SetCommandType(db::kCmdText);
      command_.SetCommandTimeout(0);
    } catch (const std::exception& error) {
      Report(DescriptionOf(error));
      return false;
    }
    const std::vector<UpgradeRung> ladder = UpgradeLadder();
    for (std::size_t r = *first; r < ladder.size(); ++r) {
      // Only the rung to 1.56 asks: entered directly its errors end the run, reached through
      // the rung to 1.55 they are ignored as that rung's are.
      if (Failure failure = RunRung(ladder[r], /*continued=*/r != *first)) {
        Report(*failure);
        return false;
      }
    }
    return true;
  }

 private:
  Failure Execute(std::string_view text, std::int64_t* records_affected = nullptr) {
    try {
      command_.SetCommandText(text);
      command_.Execute(records_affected);
      return std::nullopt;
    } catch (const std::exception& error) {
      return DescriptionOf(error);
    }
  }

  // The rung runs in a transaction of its own, so that one ended by an error leaves nothing
  // behind: its first statement (an ALTER TABLE ... ADD mostly) would otherwise fail on the next
  // run and stop every later upgrade of the collection.
  Failure RunRung(const UpgradeRung& rung, bool continued) {
    if (Failure failure = Execute(kBeginRung)) return failure;
    try {
      return RunRungSteps(rung, continued);
    } catch (...) {
      // Whatever left the run (a message box that could not be shown) leaves no rung open.
      RollBack();
      throw;
    }
  }

  Failure RunRungSteps(const UpgradeRung& rung, bool continued) {
    bool previous_failed = false;
    for (const UpgradeStep& step : rung.steps) {
      if (step.kind == StepKind::kProgress) {
        window_.SetValue(step.progress);
        window_.UI().ProcessPendingEvents();
        continue;
      }
      const Failure failure = RunStep(step, previous_failed);
      const bool ignored = step.on_error == OnError::kIgnore ||
                           (step.on_error == OnError::kIgnoreWhenContinued && continued);
      if (failure && !ignored) {
        RollBack();
        return failure;
      }
      previous_failed = failure.has_value();
    }
    if (Failure failure = Execute(kCommitRung)) {
      RollBack();
      return failure;
    }
    return std::nullopt;
  }

  Failure RunStep(const UpgradeStep& step, bool previous_failed) {
    switch (step.kind) {
      case StepKind::kStatement:
        return Execute(step.text);
      case StepKind::kStatementIfPreviousFailed: {
        if (!previous_failed) return std::nullopt;
        Failure failure = Execute(step.text);
        if (failure && !step.failure_message.empty()) {
          platform::MessageRequest box;
          box.text = std::string(step.failure_message);
          box.title = kTitle;
          window_.UI().ShowMessage(box);
        }
        return failure;
      }
      case StepKind::kCountedStatement: {
        std::int64_t changed = 0;
        return Execute(step.text, &changed);
      }
      case StepKind::kRepeatUntilSameCount:
        return RepeatUntilSameCount(step.text);
      case StepKind::kSetCompatibility: {
        std::int32_t field_number = 0;
        collection_.SetExtendedProperty(step.value, kCollectionEntry, field_number, step.text,
                                        kCollectionProperty, /*user_property=*/false,
                                        /*visible=*/false);
        return WriteFailure();
      }
      case StepKind::kSetVersion: {
        std::int32_t field_number = kArchiveVersionField;
        collection_.SetExtendedProperty(step.value, kCollectionEntry, field_number, {},
                                        kCollectionProperty, /*user_property=*/false,
                                        /*visible=*/false);
        return WriteFailure();
      }
      case StepKind::kProgress:
        break;
    }
    return std::nullopt;
  }

  // Each execution files the embedded documents one level further down their chains; the rows
  // it counts are those still waiting, so the count falls while it makes progress and repeats
  // once it makes none (a chain that never reaches a filed document, a cycle). Only executions
  // of this statement are compared: the count of the statement before it says nothing about the
  // chains, and where the two happened to agree the deeper levels stayed unfiled.
  Failure RepeatUntilSameCount(const std::string& text) {
    std::int64_t previous = 0;
    std::int64_t first = 0;
    for (std::int64_t executions = 0;; ++executions) {
      std::int64_t changed = 0;
      if (Failure failure = Execute(text, &changed)) return failure;
      if (executions == 0) {
        if (changed == 0) return std::nullopt;
        first = changed;
      } else if (changed == previous) {
        return std::nullopt;
      }
      previous = changed;
      // Every execution that makes progress files at least one of the first count's rows; a
      // server whose counts do not settle must not keep the run here.
      if (executions > first + 1) return std::nullopt;
    }
  }

  // SetExtendedProperty keeps its errors to itself; the connection still holds what the server
  // said to its last statement. A version the rung could not write must not be committed
  // without it, or the next run would start the rung again on a collection that has it.
  Failure WriteFailure() {
    try {
      for (const db::ErrorRecord& record : collection_.Connection().Errors()) {
        if (record.IsError()) return record.description;
      }
    } catch (const std::exception& error) {
      return DescriptionOf(error);
    }
    return std::nullopt;
  }

  void RollBack() {
    // A failed server has rolled back already; nothing more can be done then.
    Execute(kRollbackRung);
  }

  void Report(const std::string& description) {
    platform::MessageRequest box;
    box.text = common::LoadMessage(kCommandProblemMessage) + "\r" + description;
    box.title = kTitle;
    box.buttons = platform::MessageButtons::kOk;
    box.icon = platform::MessageIcon::kCritical;
    window_.UI().ShowMessage(box);
  }

  frmProgress& window_;
  Collection& collection_;
  db::Command command_;
};

}  // namespace

int UpgradeStartNumber(std::string_view version_text) {
  return FormatVersionNumber(version_text).value_or(kNotAVersionNumber);
}

bool RunFormatUpgrade(frmProgress& window) { return UpgradeRun(window).Run(); }

}  // namespace format
