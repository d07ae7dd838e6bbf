// Asking for a password on a terminal without showing what is typed.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace platform {

// Writes the prompt to `out` once echo is off on the terminal `fd` and reads one line. Nothing
// when `fd` is no terminal (a script's input is never taken for a password) or the input ended.
// The terminal reads key by key meanwhile, so an interrupt (Ctrl-C) or quit key puts the
// terminal back as it was before the signal ends the program: otherwise the shell would be left
// without echo. Erase and kill keys edit the line as usual.
std::optional<std::string> ReadPasswordFromTerminal(int fd, std::ostream& out,
                                                    std::string_view prompt = "Password: ");

}  // namespace platform
