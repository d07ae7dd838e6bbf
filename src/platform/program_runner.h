// Running a helper program of the system (systemctl, wbinfo) and reading what it prints.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// Runs the program (found on PATH) with the arguments, without a shell, standard input and
// error on /dev/null; collects up to 64 KB of its standard output. The exit code, or -1 when it
// could not run, was killed or took longer than timeout_ms (then it is killed).
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               int timeout_ms, std::string* output);

// What the program printed when it ran and exited with 0; nothing otherwise.
std::optional<std::string> ProgramOutput(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         int timeout_ms = 5000);

}  // namespace platform
