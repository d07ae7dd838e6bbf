// The script side of the sql command, as sqlcmd reads it: lines gather into a batch until a
// line that holds only "GO" (optionally with a repeat count) sends it; "EXIT" and "QUIT" end the
// input.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox_cli {

struct ScriptLine {
  enum class Kind {
    kText,
    kGo,          // runs the batch `count` times
    kBadGo,       // a GO with something other than a count
    kExit,        // EXIT, QUIT, :EXIT, :QUIT: ends without running the batch
    kExitQuery,   // EXIT(query): runs the batch with the query, ends with its value
    kReset,       // RESET: forgets the batch
    kRead,        // :r FILE: the file's lines come next
    kSetVar,      // :setvar NAME [value]
    kBadCommand,  // a ":" command this program does not know
  };
  Kind kind = Kind::kText;
  int count = 1;         // kGo: how often the batch runs
  std::string argument;  // the query, the file, the rest of :setvar, the unknown command
};

// What a line of input is. Commands are known at the start of a line only and in any case:
// "go", "GO 3", "  Go  " are GO lines, "GO x", "GO 0" and a count beyond what an int holds bad
// ones; "exit", "quit" alone end; "EXIT(SELECT 1)" and ":exit()" end with a query; ":r",
// ":setvar", "RESET" and the colon forms of EXIT, QUIT and RESET are commands, any other word
// after a colon is an unknown command.
ScriptLine ClassifyLine(std::string_view line);

// True when a batch has nothing to send (only spaces and line breaks).
bool IsBlank(std::string_view batch);

}  // namespace sandbox_cli
