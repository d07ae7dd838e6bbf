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
  enum class Kind { kText, kGo, kExit, kBadGo };
  Kind kind = Kind::kText;
  int count = 1;  // kGo: how often the batch runs
};

// What a line of input is. "go", "GO 3" and "  Go  " are GO lines; "GO x", "GO 0" and a count
// beyond what an int holds are bad ones; "exit", "quit" (any case, alone on the line) end.
ScriptLine ClassifyLine(std::string_view line);

// True when a batch has nothing to send (only spaces and line breaks).
bool IsBlank(std::string_view batch);

struct ScriptBatch {
  std::string text;
  int count = 1;
  int first_line = 1;  // line of the script the batch starts on
};

// The batches of a script, in order; the text after the last GO is a batch too. A bad GO line
// stops the split: bad_go_line receives its line number (0 when there was none), and the
// batches before it are returned.
std::vector<ScriptBatch> SplitScript(std::string_view script, int* bad_go_line);

}  // namespace sandbox_cli
