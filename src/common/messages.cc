#include "common/messages.h"

#include <algorithm>

#include "common/error.h"
#include "common/printf.h"

namespace common {

namespace {

const MessageEntry* Find(int number) {
  auto table = AllMessages();
  auto it = std::lower_bound(table.begin(), table.end(), number,
                             [](const MessageEntry& e, int n) { return e.number < n; });
  if (it == table.end() || it->number != number) return nullptr;
  return &*it;
}

}  // namespace

bool HasMessage(int number) { return Find(number) != nullptr; }

std::string LoadMessage(int number) {
  const MessageEntry* entry = Find(number);
  if (entry == nullptr) {
    throw Error(kErrMessageNotFound, "LoadMessage",
                "There is no message number " + std::to_string(number) + " in the message table.");
  }
  return std::string(entry->text);
}

std::string FormatMessage(int number, const std::vector<Value>& values) {
  return printf(LoadMessage(number), values);
}

}  // namespace common
