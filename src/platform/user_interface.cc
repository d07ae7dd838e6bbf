#include "platform/user_interface.h"

namespace platform {

std::vector<int> AnswersOf(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk:
      return {kAnswerOk};
    case MessageButtons::kOkCancel:
      return {kAnswerOk, kAnswerCancel};
    case MessageButtons::kAbortRetryIgnore:
      return {kAnswerAbort, kAnswerRetry, kAnswerIgnore};
    case MessageButtons::kYesNoCancel:
      return {kAnswerYes, kAnswerNo, kAnswerCancel};
    case MessageButtons::kYesNo:
      return {kAnswerYes, kAnswerNo};
    case MessageButtons::kRetryCancel:
      return {kAnswerRetry, kAnswerCancel};
  }
  return {kAnswerOk};
}

int DefaultAnswer(const MessageRequest& request) {
  std::vector<int> answers = AnswersOf(request.buttons);
  int index = request.default_button;
  if (index < 1 || index > static_cast<int>(answers.size())) index = 1;
  return answers[static_cast<size_t>(index - 1)];
}

std::string AnswerName(int answer) {
  switch (answer) {
    case kAnswerOk:
      return "OK";
    case kAnswerCancel:
      return "Cancel";
    case kAnswerAbort:
      return "Abort";
    case kAnswerRetry:
      return "Retry";
    case kAnswerIgnore:
      return "Ignore";
    case kAnswerYes:
      return "Yes";
    case kAnswerNo:
      return "No";
    default:
      return std::string();
  }
}

std::string JoinAccounts(const std::vector<Account>& accounts) {
  std::string joined;
  for (const auto& account : accounts) {
    if (!joined.empty()) joined += "\r\n";
    joined += account.domain + "\\" + account.name;
  }
  return joined;
}

}  // namespace platform
