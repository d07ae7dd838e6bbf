// The user interface of the command line. Message boxes are printed; on a terminal the user
// answers them, without one (scripts, pipes) the default button answers, or with --yes the
// affirmative button. Pickers and prompts ask on a terminal and are cancelled without one.
#pragma once

#include <chrono>
#include <functional>
#include <istream>
#include <ostream>

#include "platform/user_interface.h"

namespace platform {

class TerminalUserInterface : public UserInterface {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  struct Options {
    bool interactive = false;  // answers are read from the input
    bool assume_yes = false;   // answer Yes (or OK) without asking
    bool show_progress = true;
  };

  // A progress line that changes again (a count of items) is printed at most once per this many
  // percent of the bar or per this time, so a log holds a few lines however long the work; the
  // last text is printed when the progress closes.
  static constexpr int kProgressLineStepPercent = 5;
  static constexpr std::chrono::seconds kProgressLineInterval{2};

  // Both streams must outlive this object.
  TerminalUserInterface(std::istream& in, std::ostream& out, Options options);

  // The time progress lines are spaced by; the steady clock unless set (tests set their own).
  void SetClock(Clock clock) { clock_ = std::move(clock); }

  // Whether standard input is a terminal, for Options::interactive.
  static bool StdinIsTerminal();

  int ShowMessage(const MessageRequest& request) override;
  void BeginBusy() override {}
  void EndBusy() override {}
  void ProcessPendingEvents() override {}
  std::unique_ptr<ProgressSink> OpenProgress() override;
  std::string PickAccounts(std::string_view title, int flags) override;
  std::optional<std::string> PromptDataLink() override;

 private:
  class Progress;

  std::istream& in_;
  std::ostream& out_;
  Options options_;
  Clock clock_;
};

// Text made safe for a terminal: line breaks (CR LF, CR, LF) become "\n", tabs stay, other
// control characters (escape sequences among them) become "?".
std::string TerminalSafe(std::string_view text);

}  // namespace platform
