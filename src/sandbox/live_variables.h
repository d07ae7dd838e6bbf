// Variables a statement reads while it assigns them row by row (SELECT @s = @s + name FROM ...,
// UPDATE ... SET @v = col = @v + 1): such a statement reads each one through tsql_variable(?n),
// bound to the variable itself rather than to a copy of its value, so every row sees what the
// rows before it left.
#pragma once

#include <sqlite3.h>

#include <utility>
#include <vector>

namespace sandbox {

struct VariableSlot;

class LiveVariables {
 public:
  // The statement's parameter ?n reads slot.
  void Add(int n, const VariableSlot* slot) { bound_.emplace_back(n, slot); }
  // After the statement's values are bound: binds the variables it still numbers.
  void Bind(sqlite3_stmt* stmt) const;

 private:
  std::vector<std::pair<int, const VariableSlot*>> bound_;
};

void RegisterVariableFunctions(sqlite3* db);

}  // namespace sandbox
