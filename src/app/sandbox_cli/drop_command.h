// The drop command: removes an instance with its databases, unless a program has it open.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/sandbox_cli/context.h"

namespace sandbox_cli {

// A process that has files of an instance open: a serve, a prompt, the console.
struct Holder {
  std::int64_t pid = 0;
  std::string command;  // its command line, shortened, for messages
};

// The processes other than this one with a file below the folder open, as /proc shows them
// (processes of other accounts are not shown there), in order of their ids.
std::vector<Holder> ProcessesHolding(const std::filesystem::path& folder);

int Drop(Arguments& args, Context& context);

}  // namespace sandbox_cli
