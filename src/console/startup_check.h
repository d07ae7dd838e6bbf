// The check for old collection formats that runs once, shortly after the console has shown its
// servers: every collection below the current format is offered the upgrade, and collections
// left at 1.50 without plain text are offered the plain-text generation.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "collections/database.h"
#include "format/progress_window.h"
#include "platform/user_interface.h"
#include "servers/server.h"
#include "servers/servers.h"

namespace console {

// The current collection format as its version number, and the oldest one that only lacks the
// later rungs.
inline constexpr int kCurrentFormatNumber = 161;
inline constexpr int kPlainTextFormatNumber = 150;
// The milliseconds between the control bar's setup and the check.
inline constexpr int kStartupCheckDelayMs = 3000;

// The one-shot timer of the check: armed at every control-bar setup, stopped by its own tick.
// The host drives the real timer from Interval(): 0 means stopped.
class StartupCheckTimer {
 public:
  // Views_SetControlbar: sets the interval to 3000 ms (again, when already armed).
  void Arm() { interval_ = kStartupCheckDelayMs; }
  int Interval() const { return interval_; }
  void SetInterval(int milliseconds) { interval_ = milliseconds < 0 ? 0 : milliseconds; }
  // The tick: stops the timer and returns whether the check is to run (false for a tick that
  // arrives while the interval is 0, e.g. one already queued when the timer stopped).
  bool Tick();

 private:
  int interval_ = 0;
};

// Runs one collection job in the progress window and returns whether it ran to its end. The
// default runs format::frmProgress(ui, collection, mode, version_number).Show(); tests give
// their own to force failures or to count runs.
using CollectionJob =
    std::function<bool(platform::UserInterface& ui, collections::Database& collection,
                       format::frmProgress::Mode mode, int version_number)>;
bool RunCollectionJob(platform::UserInterface& ui, collections::Database& collection,
                      format::frmProgress::Mode mode, int version_number);

// What the check did with one collection, for a command-line summary.
struct StartupCheckOutcome {
  std::string server;      // the server's Name (data source)
  std::string collection;  // the collection's Name
  std::string version;     // the format version text as read
  // The version number; nothing when the text is not a number (such a collection is skipped:
  // nothing is asked or changed, since no rung can be chosen for it).
  std::optional<int> version_number;
  // Why the collection is incomplete (a creation stopped half-way); such a collection is never
  // upgraded, only offered for deletion. Empty for a complete one.
  std::string incomplete;
  int question = 0;  // 315, 348, 349 or 352 when asked; 0 when not
  bool answered_yes = false;
  bool refused = false;  // message 40 was shown: the login holds neither role
  bool upgrade_ran = false;
  bool upgrade_completed = false;
  bool plain_text_asked = false;  // message 316
  bool plain_text_ran = false;
  bool plain_text_completed = false;
};

// The question number for a version number below 161: 315 below 150, 348 from 150 to 153, 349
// at 154, 352 from 155 to 160; 0 for 161 and above.
int UpgradeQuestionFor(int version_number);
// The text of that question for a collection: its name, and for 352 the version number and 161.
std::string UpgradeQuestionText(int version_number, std::string_view collection_name);

// The check over every collection of one server (an unconnected server has an empty catalogue
// and contributes nothing). Asks with the question icon and the title "Tessera Server
// Manager"; on Yes the upgrade runs when the login holds sysadmin or db_owner (asked of the
// collection), else message 40 is shown; after an upgrade the collection counts as 161 whatever
// the run reached. At exactly 150, or after an upgrade that completed, an empty plain-text
// marker makes message 316 offer the plain text. A role that cannot be asked counts as not held;
// errors reading the catalogue reach the caller.
std::vector<StartupCheckOutcome> RunStartupCheck(platform::UserInterface& ui,
                                                 servers::Server& server,
                                                 const CollectionJob& job = RunCollectionJob);
// The same over every registration, in list order.
std::vector<StartupCheckOutcome> RunStartupCheck(platform::UserInterface& ui,
                                                 servers::Servers& servers,
                                                 const CollectionJob& job = RunCollectionJob);

}  // namespace console
