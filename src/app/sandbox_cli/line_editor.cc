#include "app/sandbox_cli/line_editor.h"

// libedit's interface of readline: BSD-licensed, unlike GNU readline.
#include <editline/readline.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace sandbox_cli {

namespace fs = std::filesystem;

LineEditor::LineEditor(fs::path history_file) : history_file_(std::move(history_file)) {
  // The program's own name, so that ~/.inputrc can say "$if tessera-sandbox".
  rl_readline_name = "tessera-sandbox";
  using_history();
  stifle_history(kHistoryLines);
  read_history(history_file_.c_str());
}

LineEditor::~LineEditor() {
  std::error_code ec;
  fs::create_directories(history_file_.parent_path(), ec);
  // Statements may hold passwords: only the account itself reads its history, from the start.
  int fd = ::open(history_file_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  // The whole history, the file's earlier lines with this session's; sessions that end at the
  // same time keep the lines of the one that ends last.
  if (write_history(history_file_.c_str()) == 0) {
    history_truncate_file(history_file_.c_str(), kHistoryLines);
    fs::permissions(history_file_, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, ec);
  }
  clear_history();
}

std::optional<std::string> LineEditor::ReadLine(const std::string& prompt) {
  char* raw = readline(prompt.c_str());
  if (!raw) return std::nullopt;
  std::string line(raw);
  std::free(raw);
  bool blank = line.find_first_not_of(" \t") == std::string::npos;
  if (!blank && line != last_) {
    add_history(line.c_str());
    last_ = line;
  }
  return line;
}

fs::path LineEditor::DefaultHistoryFile() {
  const char* state = std::getenv("XDG_STATE_HOME");
  fs::path base;
  if (state && *state == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home && *home ? home : ".") / ".local" / "state";
  }
  return base / "tessera-server-manager" / "sql_history";
}

}  // namespace sandbox_cli
