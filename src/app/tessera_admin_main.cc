// tessera-admin: administration of network collections from the command line.
#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/admin_cli/commands.h"
#include "platform/terminal_password.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  admin_cli::Io io{std::cin, std::cout, std::cerr, ::isatty(STDIN_FILENO) == 1,
                   ::isatty(STDERR_FILENO) == 1};
  // Asked on the terminal only, so a script's input is never taken for a password.
  auto read_password = [] { return platform::ReadPasswordFromTerminal(STDIN_FILENO, std::cerr); };
  return admin_cli::RunAdmin(args, io, read_password);
}
