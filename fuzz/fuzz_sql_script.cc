// Scripts of the sql command (-i files, :r files, lines typed at the prompt): decoding, variable
// substitution, :setvar and command recognition never crash and never lose the text, whatever
// the bytes. Nothing is executed.
#include <cstdint>
#include <sstream>
#include <string>

#include "app/sandbox_cli/batches.h"
#include "app/sandbox_cli/script_input.h"
#include "app/sandbox_cli/variables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  sandbox_cli::ScriptReader reader(in);
  sandbox_cli::Variables variables;
  variables.Set("v", "value");
  size_t lines = 0;
  while (std::optional<std::string> line = reader.ReadLine()) {
    // More lines than bytes (plus the last) would mean text was made up.
    if (++lines > size + 1) __builtin_trap();
    std::string undefined;
    std::optional<std::string> substituted = variables.Substitute(*line, &undefined);
    if (!substituted && undefined.empty()) __builtin_trap();
    sandbox_cli::ScriptLine kind = sandbox_cli::ClassifyLine(substituted.value_or(*line));
    if (kind.kind == sandbox_cli::ScriptLine::Kind::kSetVar) {
      std::string error;
      if (auto setvar = sandbox_cli::ParseSetVar(kind.argument, &error)) {
        if (setvar->value) variables.Set(setvar->name, *setvar->value);
      } else if (error.empty()) {
        __builtin_trap();
      }
    }
    if (kind.kind == sandbox_cli::ScriptLine::Kind::kGo && kind.count < 1) __builtin_trap();
  }
  return 0;
}
