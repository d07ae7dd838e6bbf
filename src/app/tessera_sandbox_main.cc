// tessera-sandbox: runs and inspects the sandbox server's instances.
#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/sandbox_cli/commands.h"
#include "platform/terminal_password.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Asked on the terminal without echo, as sqlcmd does; never from a script's input.
  auto read_password = [] { return platform::ReadPasswordFromTerminal(STDIN_FILENO, std::cerr); };
  bool terminal = ::isatty(STDIN_FILENO) == 1;
  return sandbox_cli::RunCommand(
      args, sandbox_cli::Io{std::cin, std::cout, std::cerr, read_password, terminal});
}
