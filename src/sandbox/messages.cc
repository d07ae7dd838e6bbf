#include "sandbox/messages.h"

#include "sandbox/executor.h"

namespace sandbox {

std::string FormatMessage(std::string_view text, std::span<const std::string> args) {
  std::string out;
  out.reserve(text.size());
  auto next = args.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 's' || c == 'd') {
      if (next != args.end()) out += *next++;
    } else {
      out += c;  // %% (the table holds no other)
    }
  }
  return out;
}

void Inform(Executor& executor, const SqlError& message) {
  executor.Info(message.number(), message.message().text, message.message().severity);
}

}  // namespace sandbox
