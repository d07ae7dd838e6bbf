#include "platform/terminal_user_interface.h"

#include <unistd.h>

#include <algorithm>

#include "platform/config_file.h"

namespace platform {

namespace {

const char* IconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kCritical:
      return "Error";
    case MessageIcon::kQuestion:
      return "Question";
    case MessageIcon::kExclamation:
      return "Warning";
    case MessageIcon::kInformation:
      return "Information";
    case MessageIcon::kNone:
      break;
  }
  return nullptr;
}

// The affirmative button for --yes: Yes, else OK, else the default.
int AffirmativeAnswer(const MessageRequest& request) {
  auto answers = AnswersOf(request.buttons);
  for (int wanted : {kAnswerYes, kAnswerOk}) {
    if (std::find(answers.begin(), answers.end(), wanted) != answers.end()) return wanted;
  }
  return DefaultAnswer(request);
}

// The answer a typed word stands for: its first letter or the whole button name.
std::optional<int> ParseAnswer(std::string_view typed, const std::vector<int>& answers) {
  while (!typed.empty() && (typed.front() == ' ' || typed.front() == '\t')) typed.remove_prefix(1);
  while (!typed.empty() && (typed.back() == ' ' || typed.back() == '\t' || typed.back() == '\r')) {
    typed.remove_suffix(1);
  }
  if (typed.empty()) return std::nullopt;
  for (int answer : answers) {
    std::string name = AnswerName(answer);
    if (EqualsNoCase(typed, name) || EqualsNoCase(typed, name.substr(0, 1))) return answer;
  }
  return std::nullopt;
}

std::string Trimmed(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
    line.pop_back();
  }
  size_t start = line.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : line.substr(start);
}

}  // namespace

std::string TerminalSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      safe += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n' || c == '\t' || c >= 0x20) {
      safe += (c == 0x7F) ? '?' : static_cast<char>(c);
    } else {
      safe += '?';
    }
  }
  return safe;
}

class TerminalUserInterface::Progress : public ProgressSink {
 public:
  Progress(std::ostream& out, bool show_bar, Clock clock)
      : out_(out), show_bar_(show_bar), clock_(std::move(clock)) {}
  ~Progress() override {
    // The last count is shown, whatever the spacing held back.
    for (size_t line = 0; line < lines_.size(); ++line) {
      if (!lines_[line].empty() && lines_[line] != printed_[line]) PrintLine(line);
    }
    if (percent_shown_) out_ << "\n";
    out_.flush();
  }

  void SetCaption(std::string_view caption) override {
    if (caption == caption_) return;
    caption_ = caption;
    Print(caption_);
  }
  void SetLine(int line, std::string_view text) override {
    if (line < 0) return;
    auto index = static_cast<size_t>(line);
    if (lines_.size() <= index) {
      lines_.resize(index + 1);
      printed_.resize(index + 1);
    }
    if (lines_[index] == text) return;
    lines_[index] = text;
    if (text.empty()) return;
    // A line's first text always shows; its changes are spaced out.
    if (!printed_[index].empty() && !UpdateDue()) return;
    PrintLine(index);
  }
  void SetMaximum(int maximum) override { maximum_ = maximum; }
  void SetValue(int value) override {
    value_ = value;
    if (!show_bar_ || maximum_ <= 0) return;
    int percent = Percent();
    if (percent == percent_) return;
    percent_ = percent;
    out_ << "\r  " << percent << "%";
    out_.flush();
    percent_shown_ = true;
  }

 private:
  int Percent() const {
    if (maximum_ <= 0) return 0;
    return static_cast<int>(std::clamp<long long>(100LL * value_ / maximum_, 0, 100));
  }
  std::chrono::steady_clock::time_point Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
  }
  bool UpdateDue() const {
    int percent = Percent();
    return percent >= line_percent_ + kProgressLineStepPercent ||
           (percent == 100 && line_percent_ < 100) || Now() - line_time_ >= kProgressLineInterval;
  }
  void PrintLine(size_t index) {
    printed_[index] = lines_[index];
    line_percent_ = Percent();
    line_time_ = Now();
    Print("  " + lines_[index]);
  }
  void Print(const std::string& text) {
    if (percent_shown_) out_ << "\n";
    percent_shown_ = false;
    percent_ = -1;
    out_ << TerminalSafe(text) << "\n";
    out_.flush();
  }

  std::ostream& out_;
  bool show_bar_;
  Clock clock_;
  std::string caption_;
  std::vector<std::string> lines_;
  std::vector<std::string> printed_;
  int maximum_ = 100;
  int value_ = 0;
  int percent_ = -1;
  bool percent_shown_ = false;
  int line_percent_ = 0;
  std::chrono::steady_clock::time_point line_time_{};
};

TerminalUserInterface::TerminalUserInterface(std::istream& in, std::ostream& out, Options options)
    : in_(in), out_(out), options_(options) {}

bool TerminalUserInterface::StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

int TerminalUserInterface::ShowMessage(const MessageRequest& request) {
  std::string heading = request.title;
  if (const char* icon = IconName(request.icon)) {
    heading += heading.empty() ? icon : std::string(" (") + icon + ")";
  }
  if (!heading.empty()) out_ << TerminalSafe(heading) << "\n";
  out_ << TerminalSafe(request.text) << "\n";

  auto answers = AnswersOf(request.buttons);
  int fallback = DefaultAnswer(request);
  std::string choices;
  for (int answer : answers) {
    std::string name = AnswerName(answer);
    if (!choices.empty()) choices += " / ";
    choices += "[" + name.substr(0, 1) + "]" + name.substr(1);
  }
  if (options_.assume_yes) {
    int answer = AffirmativeAnswer(request);
    out_ << "-> " << AnswerName(answer) << " (--yes)\n";
    out_.flush();
    return answer;
  }
  if (!options_.interactive || answers.size() == 1) {
    out_ << "-> " << AnswerName(fallback) << (options_.interactive ? "\n" : " (default)\n");
    out_.flush();
    return fallback;
  }
  while (true) {
    out_ << choices << " (default " << AnswerName(fallback) << "): ";
    out_.flush();
    std::string line;
    if (!std::getline(in_, line)) {
      out_ << "\n-> " << AnswerName(fallback) << " (end of input)\n";
      return fallback;
    }
    if (Trimmed(line).empty()) return fallback;
    if (auto answer = ParseAnswer(line, answers)) return *answer;
  }
}

std::unique_ptr<ProgressSink> TerminalUserInterface::OpenProgress() {
  return std::make_unique<Progress>(out_, options_.show_progress, clock_);
}

std::string TerminalUserInterface::PickAccounts(std::string_view title, int /*flags*/) {
  if (!options_.interactive) return std::string();
  out_ << TerminalSafe(title) << "\n"
       << "Type accounts as DOMAIN\\name, one per line; an empty line ends the list.\n";
  std::vector<Account> accounts;
  std::string line;
  while (true) {
    out_ << "> ";
    out_.flush();
    if (!std::getline(in_, line)) break;
    line = Trimmed(line);
    if (line.empty()) break;
    size_t slash = line.find('\\');
    if (slash == std::string::npos) {
      out_ << "An account is written DOMAIN\\name.\n";
      continue;
    }
    accounts.push_back({line.substr(0, slash), line.substr(slash + 1)});
  }
  return JoinAccounts(accounts);
}

std::optional<std::string> TerminalUserInterface::PromptDataLink() {
  if (!options_.interactive) return std::nullopt;
  out_ << "Connection string (an empty line cancels): ";
  out_.flush();
  std::string line;
  if (!std::getline(in_, line)) return std::nullopt;
  line = Trimmed(line);
  if (line.empty()) return std::nullopt;
  return line;
}

}  // namespace platform
