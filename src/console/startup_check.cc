#include "console/startup_check.h"

#include "collections/databases.h"
#include "common/messages.h"
#include "console/commands.h"
#include "format/format_version.h"

namespace console {

namespace {

constexpr char kPlainTextMarker[] = "Quillarchive: Search in PlainText";

bool HoldsUpgradeRole(collections::Database& database) {
  for (std::string_view role : {"sysadmin", "db_owner"}) {
    try {
      if (database.IsRolemember(role)) return true;
    } catch (const std::exception&) {
      // A role that cannot be asked is not held.
    }
  }
  return false;
}

StartupCheckOutcome CheckCollection(platform::UserInterface& ui, servers::Server& server,
                                    collections::Database& database, const CollectionJob& job) {
  StartupCheckOutcome outcome;
  outcome.server = server.Name();
  outcome.collection = database.Name();
  outcome.version = database.GetExtendedProperty(0, 3, 1, "");
  outcome.version_number = format::FormatVersionNumber(outcome.version);
  // Half a creation is no old collection: upgrading it would build on what is missing.
  outcome.incomplete = database.IncompleteReason();
  if (!outcome.incomplete.empty()) return outcome;
  // A version that is no number cannot be placed on the ladder: nothing is offered for it.
  if (!outcome.version_number) return outcome;
  int number = *outcome.version_number;

  outcome.question = UpgradeQuestionFor(number);
  if (outcome.question != 0) {
    outcome.answered_yes = Ask(ui, UpgradeQuestionText(number, database.Name()));
    if (outcome.answered_yes) {
      if (HoldsUpgradeRole(database)) {
        outcome.upgrade_ran = true;
        outcome.upgrade_completed = job(ui, database, format::frmProgress::kUpgrade, number);
        // A run that stopped half-way is offered again at the next start, not now.
        number = kCurrentFormatNumber;
      } else {
        outcome.refused = true;
        Tell(ui, common::LoadMessage(40));
      }
    }
  }

  // A completed upgrade leaves the documents of an older collection stored as text, exactly as
  // one left at 1.50: without the offer here they would never be converted, since the next check
  // finds the current format and asks nothing.
  if ((number == kPlainTextFormatNumber || outcome.upgrade_completed) &&
      database.GetExtendedProperty(0, 0, 1, kPlainTextMarker).empty()) {
    outcome.plain_text_asked = true;
    if (Ask(ui, common::FormatMessage(316, {common::Value(database.Name())}))) {
      outcome.plain_text_ran = true;
      outcome.plain_text_completed = job(ui, database, format::frmProgress::kPlainText, 0);
    }
  }
  return outcome;
}

}  // namespace

bool StartupCheckTimer::Tick() {
  bool run = interval_ != 0;
  interval_ = 0;
  return run;
}

bool RunCollectionJob(platform::UserInterface& ui, collections::Database& collection,
                      format::frmProgress::Mode mode, int version_number) {
  format::frmProgress window(ui, collection, mode, version_number);
  return window.Show();
}

int UpgradeQuestionFor(int version_number) {
  if (version_number < 150) return 315;
  if (version_number <= 153) return 348;
  if (version_number == 154) return 349;
  if (version_number < kCurrentFormatNumber) return 352;
  return 0;
}

std::string UpgradeQuestionText(int version_number, std::string_view collection_name) {
  int question = UpgradeQuestionFor(version_number);
  common::Value name{std::string(collection_name)};
  if (question == 352) {
    return common::FormatMessage(
        question, {name, common::Value(version_number), common::Value(kCurrentFormatNumber)});
  }
  return common::FormatMessage(question, {name});
}

std::vector<StartupCheckOutcome> RunStartupCheck(platform::UserInterface& ui,
                                                 servers::Server& server,
                                                 const CollectionJob& job) {
  std::vector<StartupCheckOutcome> outcomes;
  auto* catalogue = dynamic_cast<collections::Databases*>(&server.Databases());
  if (catalogue == nullptr) return outcomes;
  // Copied: a job may not change the catalogue, but the walk must not depend on that.
  collections::Databases::List collections(catalogue->begin(), catalogue->end());
  for (const std::shared_ptr<collections::Database>& database : collections) {
    outcomes.push_back(CheckCollection(ui, server, *database, job));
  }
  return outcomes;
}

std::vector<StartupCheckOutcome> RunStartupCheck(platform::UserInterface& ui,
                                                 servers::Servers& servers,
                                                 const CollectionJob& job) {
  std::vector<StartupCheckOutcome> outcomes;
  for (const std::shared_ptr<servers::Server>& server : servers) {
    std::vector<StartupCheckOutcome> found = RunStartupCheck(ui, *server, job);
    outcomes.insert(outcomes.end(), found.begin(), found.end());
  }
  return outcomes;
}

}  // namespace console
