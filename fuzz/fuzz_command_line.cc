// Command lines of tessera-admin and tessera-sandbox: parsing (and the help it leads to) never
// crashes, whatever the arguments. Nothing is executed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/admin_cli/command_line.h"
#include "app/sandbox_cli/context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are separated by zero bytes, as in a process's argument vector.
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) args.push_back(current);
  try {
    const admin_cli::Invocation invocation = admin_cli::ParseCommandLine(args);
    if (invocation.kind == admin_cli::Invocation::Kind::kHelp)
      admin_cli::HelpText(invocation.noun, invocation.verb);
  } catch (const admin_cli::UsageError& error) {
    admin_cli::HelpText(error.topic, "");
  }
  for (const std::string& arg : args) {
    sandbox_cli::SplitLongOption(arg);
    try {
      sandbox_cli::ParseTarget(arg, "sql");
    } catch (const sandbox_cli::UsageError&) {
    } catch (const sandbox_cli::CommandError&) {
    }
  }
  return 0;
}
