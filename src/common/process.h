// Telling whether a process that wrote something down is still running, across processes of
// one machine: its id alone is not enough, since ids are given again to later processes.
#pragma once

#include <cstdint>
#include <string>

namespace common {

// When the process started, as "boot id:start time since boot"; empty when the process does not
// exist or /proc cannot say.
std::string ProcessStart(std::int64_t pid);

// True while the process `pid` that started at `start` (as ProcessStart gave it; empty when
// unknown) runs. A zombie has ended. Without /proc, the id alone has to do.
bool ProcessAlive(std::int64_t pid, const std::string& start);

// This process, as "pid|start", and whether a process so named still runs (false for text that
// names none).
std::string CurrentProcessToken();
bool ProcessTokenAlive(const std::string& token);

}  // namespace common
