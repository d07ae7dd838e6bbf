// The user interface of the command line. Message boxes are printed; on a terminal the user
// answers them, without one (scripts, pipes) the default button answers, or with --yes the
// affirmative button. Pickers and prompts ask on a terminal and are cancelled without one.
#pragma once

#include <istream>
#include <ostream>

#include "platform/user_interface.h"

namespace platform {

class TerminalUserInterface : public UserInterface {
 public:
  struct Options {
    bool interactive = false;  // answers are read from the input
    bool assume_yes = false;   // answer Yes (or OK) without asking
    bool show_progress = true;
  };

  // Both streams must outlive this object.
  TerminalUserInterface(std::istream& in, std::ostream& out, Options options);

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
};

// Text made safe for a terminal: line breaks (CR LF, CR, LF) become "\n", tabs stay, other
// control characters (escape sequences among them) become "?".
std::string TerminalSafe(std::string_view text);

}  // namespace platform
