// A list of texts, each its own key: the shape in which role names are handed out. Keys compare
// without regard to the case of A-Z, as the server's role names do.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace servers {

class KeyedTexts {
 public:
  // Appends the text; a text whose key is already listed is not added again (false).
  bool Add(std::string text);
  bool Contains(std::string_view key) const;
  int Count() const { return static_cast<int>(items_.size()); }
  // By 1-based position; throws common::Error 9 outside 1..Count.
  const std::string& Item(int position) const;

  std::vector<std::string>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::string>::const_iterator end() const { return items_.end(); }
  const std::vector<std::string>& items() const { return items_; }

 private:
  std::vector<std::string> items_;
};

}  // namespace servers
