// The expressions a client cursor filters and sorts by: "LoginName = 'x'", "fileid=1",
// "a > 2 AND (b LIKE 'x*' OR c <> NULL)", and sort lists such as "file ASC, name DESC".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"

namespace db {

// Finds a column by name (without regard to case); -1 when there is none.
using ColumnResolver = std::function<int(std::string_view name)>;

class FilterExpression {
 public:
  struct Node;

  // Throws db::Error (3001, "Arguments are of the wrong type...") saying what is wrong.
  static FilterExpression Parse(std::string_view text, const ColumnResolver& resolve);
  bool Matches(const std::vector<common::Value>& row) const;

  FilterExpression();
  ~FilterExpression();
  FilterExpression(FilterExpression&&) noexcept;
  FilterExpression& operator=(FilterExpression&&) noexcept;

 private:
  std::unique_ptr<Node> root_;
};

struct SortKey {
  int column = 0;
  bool descending = false;
};

// Throws db::Error for unknown columns (3265) and malformed lists (3001).
std::vector<SortKey> ParseSort(std::string_view text, const ColumnResolver& resolve);

// Orders two values for sorting: nulls first, numbers by value, dates by time, text without
// regard to case.
int CompareForSort(const common::Value& a, const common::Value& b);

}  // namespace db
