// The prompt's line editing and history on a terminal, by libedit (readline's keys). The
// history is kept in $XDG_STATE_HOME/tessera-server-manager/sql_history (~/.local/state/... when
// unset).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sandbox_cli {

class LineEditor {
 public:
  // Reads the history file; one that cannot be read starts an empty history.
  explicit LineEditor(std::filesystem::path history_file);
  // Writes the history back, at most kHistoryLines lines.
  ~LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  static constexpr int kHistoryLines = 1000;

  // The next line typed after the prompt; nullopt at the end of the input (Ctrl-D).
  std::optional<std::string> ReadLine(const std::string& prompt);

  // Where the history is kept unless the caller says otherwise.
  static std::filesystem::path DefaultHistoryFile();

 private:
  std::filesystem::path history_file_;
  std::string last_;
  int added_ = 0;  // the line most recently added, so a repeated line is kept once
};

}  // namespace sandbox_cli
