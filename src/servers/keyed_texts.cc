#include "servers/keyed_texts.h"

#include "common/error.h"
#include "servers/sql_text.h"

namespace servers {

bool KeyedTexts::Add(std::string text) {
  if (Contains(text)) return false;
  items_.push_back(std::move(text));
  return true;
}

bool KeyedTexts::Contains(std::string_view key) const {
  for (const std::string& item : items_) {
    if (EqualsNoCase(item, key)) return true;
  }
  return false;
}

const std::string& KeyedTexts::Item(int position) const {
  if (position < 1 || position > Count()) {
    throw common::Error(9, "TSAdmin.KeyedTexts",
                        "Subscript out of range: there is no entry " + std::to_string(position) +
                            " among " + std::to_string(Count()) + ".");
  }
  return items_[static_cast<size_t>(position - 1)];
}

}  // namespace servers
