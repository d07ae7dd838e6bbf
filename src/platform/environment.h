// Environment variables as the program sees them, behind an interface so tests can set their own
// without touching the process environment.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Environment {
 public:
  virtual ~Environment() = default;
  // std::nullopt when the variable is not set.
  virtual std::optional<std::string> Get(std::string_view name) const = 0;
};

// The real process environment.
class ProcessEnvironment : public Environment {
 public:
  std::optional<std::string> Get(std::string_view name) const override;
};

// A fixed set of variables for tests.
class FakeEnvironment : public Environment {
 public:
  FakeEnvironment() = default;
  FakeEnvironment(std::initializer_list<std::pair<const std::string, std::string>> vars)
      : vars_(vars) {}
  void Set(std::string name, std::string value) { vars_[std::move(name)] = std::move(value); }
  void Unset(const std::string& name) { vars_.erase(name); }
  std::optional<std::string> Get(std::string_view name) const override;

 private:
  std::map<std::string, std::string, std::less<>> vars_;
};

// Replaces every %NAME% whose variable is set by its value, the way Windows expands REG_EXPAND_SZ
// data: unknown names and lone percent signs stay as they are, and the closing "%" of an unknown
// name may open the next reference.
std::string ExpandEnvironmentStrings(std::string_view text, const Environment& environment);

// The value of a variable, or empty text when it is unset.
std::string GetOrEmpty(const Environment& environment, std::string_view name);

}  // namespace platform
