#include "common/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>

namespace common {

namespace {

std::string FirstLine(const char* file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

struct ProcessState {
  bool found = false;
  bool zombie = false;
  std::string start;
};

ProcessState ReadProcess(std::int64_t pid) {
  ProcessState state;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!in || !std::getline(in, line)) return state;
  // The command name is in parentheses and may hold blanks and parentheses itself.
  size_t close = line.rfind(')');
  if (close == std::string::npos) return state;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // Field 3 is the state, field 22 the start time.
  for (int number = 3; fields >> field; ++number) {
    if (number == 3) state.zombie = field == "Z" || field == "X";
    if (number == 22) {
      state.found = true;
      // The boot id tells start times of this boot from those of an earlier one.
      state.start = FirstLine("/proc/sys/kernel/random/boot_id") + ":" + field;
      break;
    }
  }
  return state;
}

}  // namespace

std::string ProcessStart(std::int64_t pid) { return ReadProcess(pid).start; }

bool ProcessAlive(std::int64_t pid, const std::string& start) {
  if (pid <= 0) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
  ProcessState state = ReadProcess(pid);
  if (!state.found) return true;
  return !state.zombie && (start.empty() || state.start == start);
}

std::string CurrentProcessToken() {
  std::int64_t pid = ::getpid();
  return std::to_string(pid) + "|" + ProcessStart(pid);
}

bool ProcessTokenAlive(const std::string& token) {
  size_t bar = token.find('|');
  if (bar == std::string::npos || bar == 0) return false;
  std::int64_t pid = 0;
  auto [end, error] = std::from_chars(token.data(), token.data() + bar, pid);
  if (error != std::errc() || end != token.data() + bar) return false;
  return ProcessAlive(pid, token.substr(bar + 1));
}

}  // namespace common
