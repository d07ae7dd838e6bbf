// What the product asks of its user interface, without a toolkit: message boxes that return the
// button chosen, the busy cursor, letting pending events run, a progress window, the account
// picker and the data-link prompt. The desktop console, the command line and tests each provide
// their own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Button layouts and icons, numbered as the classic message-box styles.
enum class MessageButtons {
  kOk = 0,
  kOkCancel = 1,
  kAbortRetryIgnore = 2,
  kYesNoCancel = 3,
  kYesNo = 4,
  kRetryCancel = 5,
};
enum class MessageIcon {
  kNone = 0,
  kCritical = 16,
  kQuestion = 32,
  kExclamation = 48,
  kInformation = 64,
};

// Answers: the button chosen.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;
inline constexpr int kAnswerAbort = 3;
inline constexpr int kAnswerRetry = 4;
inline constexpr int kAnswerIgnore = 5;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

struct MessageRequest {
  std::string text;
  std::string title;
  MessageButtons buttons = MessageButtons::kOk;
  MessageIcon icon = MessageIcon::kNone;
  int default_button = 1;  // 1 the first button, 2 the second, 3 the third
  friend bool operator==(const MessageRequest&, const MessageRequest&) = default;
};

// The answers of a layout's buttons, in the order they are shown.
std::vector<int> AnswersOf(MessageButtons buttons);
// The answer of the default button; the first button when the index is out of range.
int DefaultAnswer(const MessageRequest& request);
// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"; empty for other numbers.
std::string AnswerName(int answer);

// A window showing a long operation: a caption, text lines (0: what is worked on, 1: the wait
// line) and a bar. Closed when the object is destroyed.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void SetCaption(std::string_view caption) = 0;
  virtual void SetLine(int line, std::string_view text) = 0;
  virtual void SetMaximum(int maximum) = 0;
  virtual void SetValue(int value) = 0;
};

struct Account {
  std::string domain;
  std::string name;
};
// "DOMAIN\name" for each account, joined by carriage return and line feed, no trailing break.
std::string JoinAccounts(const std::vector<Account>& accounts);

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // Shows a modal message box and returns the answer (kAnswer...).
  virtual int ShowMessage(const MessageRequest& request) = 0;
  // The hourglass; calls nest. Use BusyCursor rather than calling these directly.
  virtual void BeginBusy() = 0;
  virtual void EndBusy() = 0;
  // Lets window events run once, so a window stays painted during long work.
  virtual void ProcessPendingEvents() = 0;
  virtual std::unique_ptr<ProgressSink> OpenProgress() = 0;
  // The account picker: the chosen accounts as JoinAccounts gives them; empty when cancelled.
  // The flags are the caller's, passed through.
  virtual std::string PickAccounts(std::string_view title, int flags) = 0;
  // Asks for a new connection; its connection string, or nothing when cancelled.
  virtual std::optional<std::string> PromptDataLink() = 0;
};

// Shows the hourglass for its lifetime.
class BusyCursor {
 public:
  explicit BusyCursor(UserInterface& ui) : ui_(ui) { ui_.BeginBusy(); }
  ~BusyCursor() { ui_.EndBusy(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  UserInterface& ui_;
};

}  // namespace platform
