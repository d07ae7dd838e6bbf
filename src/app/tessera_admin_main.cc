// tessera-admin: administration of network collections from the command line.
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/admin_cli/commands.h"

namespace {

// Asks on the terminal, without echo; nothing when there is no terminal, so that a script's
// input is never taken for a password.
std::optional<std::string> ReadPassword() {
  if (!::isatty(STDIN_FILENO)) return std::nullopt;
  termios old_mode{};
  bool restore = ::tcgetattr(STDIN_FILENO, &old_mode) == 0;
  if (restore) {
    termios quiet = old_mode;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  // The prompt comes only once echo is off: what is typed after it is never shown, and never
  // discarded by the switch.
  std::cerr << "Password: " << std::flush;
  std::string password;
  bool read = static_cast<bool>(std::getline(std::cin, password));
  if (restore) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old_mode);
  std::cerr << "\n";
  if (!read) return std::nullopt;
  return password;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  admin_cli::Io io{std::cin, std::cout, std::cerr, ::isatty(STDIN_FILENO) == 1,
                   ::isatty(STDERR_FILENO) == 1};
  return admin_cli::RunAdmin(args, io, ReadPassword);
}
