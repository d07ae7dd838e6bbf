// sqlcmd's scripting variables: set with -v NAME=value and :setvar, referenced as $(NAME) in
// Transact-SQL and in commands. Names compare without regard to case; the environment's
// variables are scripting variables too, as they are for sqlcmd.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sandbox_cli {

class Variables {
 public:
  // Letters, digits, '_' and '-', at most 128: what may stand between "$(" and ")".
  static bool IsName(std::string_view name);

  void Set(std::string_view name, std::string value);
  void Remove(std::string_view name);
  std::optional<std::string> Find(std::string_view name) const;

  // The line with each $(NAME) replaced by its value. A reference to a variable that has no
  // value makes the result nullopt and names the variable in *undefined. "$(" that no name and
  // ")" follow is text.
  std::optional<std::string> Substitute(std::string_view line, std::string* undefined) const;

 private:
  std::map<std::string, std::string> values_;  // by upper-case name
};

// ":setvar NAME value" after the command word: the name and the value (nullopt: remove). A
// value in double quotes may hold blanks, "" stands for one quote. nullopt with *error set when
// the text is no such pair.
struct SetVar {
  std::string name;
  std::optional<std::string> value;
};
std::optional<SetVar> ParseSetVar(std::string_view text, std::string* error);

}  // namespace sandbox_cli
