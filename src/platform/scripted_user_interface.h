// A user interface for tests. Every message box is recorded and answered from a queue the test
// fills; a box, picker or prompt that nothing was queued for throws UnexpectedPrompt, so a test
// never passes on an answer it did not choose.
#pragma once

#include <deque>
#include <functional>
#include <stdexcept>

#include "platform/user_interface.h"

namespace platform {

class UnexpectedPrompt : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class ScriptedUserInterface : public UserInterface {
 public:
  struct ProgressRecord {
    std::string caption;
    std::vector<std::string> lines;
    int maximum = 100;
    int value = 0;
    std::vector<int> values;  // every value set, in order
    bool open = true;
  };
  struct PickerRequest {
    std::string title;
    int flags = 0;
  };

  ScriptedUserInterface();
  ~ScriptedUserInterface() override;

  // The answer for the next message box; it must be one of that box's buttons.
  void QueueAnswer(int answer) { answers_.push_back(answer); }
  // The accounts the next picker returns; an empty list is a cancelled picker.
  void QueueAccounts(std::vector<Account> accounts) { accounts_.push_back(std::move(accounts)); }
  // What the next data-link prompt returns; std::nullopt is a cancelled prompt.
  void QueueDataLink(std::optional<std::string> connection) {
    data_links_.push_back(std::move(connection));
  }
  // Runs at every ProcessPendingEvents, e.g. to act while a long operation is under way.
  void SetOnPendingEvents(std::function<void()> action) { on_pending_ = std::move(action); }

  int ShowMessage(const MessageRequest& request) override;
  void BeginBusy() override;
  void EndBusy() override;
  void ProcessPendingEvents() override;
  std::unique_ptr<ProgressSink> OpenProgress() override;
  std::string PickAccounts(std::string_view title, int flags) override;
  std::optional<std::string> PromptDataLink() override;

  const std::vector<MessageRequest>& boxes() const { return boxes_; }
  // Answers, accounts and prompts queued but not used yet.
  size_t unused_answers() const { return answers_.size() + accounts_.size() + data_links_.size(); }
  int busy_depth() const { return busy_depth_; }
  int busy_scopes() const { return busy_scopes_; }
  int unbalanced_busy_ends() const { return unbalanced_busy_ends_; }
  int pending_event_calls() const { return pending_event_calls_; }
  const std::vector<ProgressRecord>& progress() const { return progress_; }
  const std::vector<PickerRequest>& picker_requests() const { return picker_requests_; }
  int data_link_prompts() const { return data_link_prompts_; }

 private:
  class Progress;

  std::deque<int> answers_;
  std::deque<std::vector<Account>> accounts_;
  std::deque<std::optional<std::string>> data_links_;
  std::function<void()> on_pending_;
  std::vector<MessageRequest> boxes_;
  int busy_depth_ = 0;
  int busy_scopes_ = 0;
  int unbalanced_busy_ends_ = 0;
  int pending_event_calls_ = 0;
  std::vector<ProgressRecord> progress_;
  std::vector<PickerRequest> picker_requests_;
  int data_link_prompts_ = 0;
};

}  // namespace platform
