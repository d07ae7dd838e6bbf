#include "platform/terminal_password.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

// Removes the last UTF-8 character: its lead byte and the continuation bytes after it.
void EraseLastCharacter(std::string& text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
    text.pop_back();
  }
  if (!text.empty()) text.pop_back();
}

bool IsKey(char c, cc_t key) { return key != _POSIX_VDISABLE && static_cast<cc_t>(c) == key; }

}  // namespace

std::optional<std::string> ReadPasswordFromTerminal(int fd, std::ostream& out,
                                                    std::string_view prompt) {
  termios old_mode{};
  if (::isatty(fd) != 1 || ::tcgetattr(fd, &old_mode) != 0) return std::nullopt;
  // Without ISIG the interrupt key arrives as a byte, so the mode is restored before the
  // signal is raised; without ICANON every key arrives at once.
  termios quiet = old_mode;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG);
  quiet.c_cc[VMIN] = 1;
  quiet.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSAFLUSH, &quiet) != 0) return std::nullopt;
  auto restore = [&] { ::tcsetattr(fd, TCSADRAIN, &old_mode); };
  // The prompt comes only once echo is off: what is typed after it is never shown.
  out << prompt << std::flush;

  std::string password;
  bool complete = false;
  int signal_to_raise = 0;
  while (true) {
    char c = 0;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of input or a terminal gone
    if (IsKey(c, old_mode.c_cc[VINTR])) {
      signal_to_raise = SIGINT;
      break;
    }
    if (IsKey(c, old_mode.c_cc[VQUIT])) {
      signal_to_raise = SIGQUIT;
      break;
    }
    if (c == '\n' || c == '\r') {
      complete = true;
      break;
    }
    if (IsKey(c, old_mode.c_cc[VEOF])) {
      if (password.empty()) break;
      continue;
    }
    if (IsKey(c, old_mode.c_cc[VERASE]) || c == 0x7F || c == 0x08) {
      EraseLastCharacter(password);
    } else if (IsKey(c, old_mode.c_cc[VKILL])) {
      password.clear();
    } else if (IsKey(c, old_mode.c_cc[VSUSP]) || IsKey(c, old_mode.c_cc[VLNEXT])) {
      // Suspending with echo off would leave the shell without echo as well.
    } else {
      password += c;
    }
  }
  restore();
  out << "\n" << std::flush;
  if (signal_to_raise != 0) {
    ::raise(signal_to_raise);
    return std::nullopt;  // the signal is handled or ignored: the prompt counts as cancelled
  }
  if (!complete) return std::nullopt;
  return password;
}

}  // namespace platform
