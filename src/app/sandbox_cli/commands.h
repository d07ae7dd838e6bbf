// The tessera-sandbox command: creates, lists, starts, stops and configures the sandbox
// server's instances and runs Transact-SQL on them the way sqlcmd does.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace sandbox_cli {

// Exit codes.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the command failed, or the server reported an error
inline constexpr int kExitUsage = 2;    // the command line is wrong

struct Io {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  // Asks for the password of "sql -U" without "-P"; nullopt when no one can be asked.
  std::function<std::optional<std::string>()> read_password;
  // The input is a person at a terminal: the prompt edits lines and keeps a history, and
  // questions are asked there.
  bool terminal = false;
};

// Runs a command line (without the program's name).
int RunCommand(const std::vector<std::string>& args, Io io);

}  // namespace sandbox_cli
