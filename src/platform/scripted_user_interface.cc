#include "platform/scripted_user_interface.h"

#include <algorithm>

namespace platform {

class ScriptedUserInterface::Progress : public ProgressSink {
 public:
  Progress(ScriptedUserInterface& ui, size_t index) : ui_(ui), index_(index) {}
  ~Progress() override { Record().open = false; }

  void SetCaption(std::string_view caption) override { Record().caption = caption; }
  void SetLine(int line, std::string_view text) override {
    if (line < 0) throw std::out_of_range("progress line " + std::to_string(line));
    auto& lines = Record().lines;
    if (lines.size() <= static_cast<size_t>(line)) lines.resize(static_cast<size_t>(line) + 1);
    lines[static_cast<size_t>(line)] = text;
  }
  void SetMaximum(int maximum) override { Record().maximum = maximum; }
  void SetValue(int value) override {
    Record().value = value;
    Record().values.push_back(value);
  }

 private:
  // By index: the records vector may grow while this window is open.
  ProgressRecord& Record() { return ui_.progress_[index_]; }

  ScriptedUserInterface& ui_;
  size_t index_;
};

ScriptedUserInterface::ScriptedUserInterface() = default;
ScriptedUserInterface::~ScriptedUserInterface() = default;

int ScriptedUserInterface::ShowMessage(const MessageRequest& request) {
  boxes_.push_back(request);
  std::string shown = "message box \"" + request.title + "\": " + request.text;
  if (answers_.empty()) throw UnexpectedPrompt("no answer queued for " + shown);
  int answer = answers_.front();
  answers_.pop_front();
  auto allowed = AnswersOf(request.buttons);
  if (std::find(allowed.begin(), allowed.end(), answer) == allowed.end()) {
    throw UnexpectedPrompt("the queued answer " + std::to_string(answer) + " is not a button of " +
                           shown);
  }
  return answer;
}

void ScriptedUserInterface::BeginBusy() {
  ++busy_depth_;
  ++busy_scopes_;
}

void ScriptedUserInterface::EndBusy() {
  // Not thrown: this runs in BusyCursor's destructor. Tests check unbalanced_busy_ends().
  if (busy_depth_ == 0) {
    ++unbalanced_busy_ends_;
    return;
  }
  --busy_depth_;
}

void ScriptedUserInterface::ProcessPendingEvents() {
  ++pending_event_calls_;
  if (on_pending_) on_pending_();
}

std::unique_ptr<ProgressSink> ScriptedUserInterface::OpenProgress() {
  progress_.emplace_back();
  return std::make_unique<Progress>(*this, progress_.size() - 1);
}

std::string ScriptedUserInterface::PickAccounts(std::string_view title, int flags) {
  picker_requests_.push_back({std::string(title), flags});
  if (accounts_.empty()) {
    throw UnexpectedPrompt("no accounts queued for the account picker \"" + std::string(title) +
                           "\"");
  }
  std::vector<Account> chosen = std::move(accounts_.front());
  accounts_.pop_front();
  return JoinAccounts(chosen);
}

std::optional<std::string> ScriptedUserInterface::PromptDataLink() {
  ++data_link_prompts_;
  if (data_links_.empty()) throw UnexpectedPrompt("no answer queued for the data-link prompt");
  auto connection = std::move(data_links_.front());
  data_links_.pop_front();
  return connection;
}

}  // namespace platform
