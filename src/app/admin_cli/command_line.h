// The grammar of tessera-admin: global options, a noun, a verb, the verb's arguments and
// options. The verb table also writes the help of every level, so what is parsed and what the
// help says cannot drift apart.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace admin_cli {

inline constexpr const char* kProgram = "tessera-admin";

// Exit codes.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the action failed, was refused or was declined
inline constexpr int kExitUsage = 2;    // the command line is wrong

// A wrong command line: what is wrong, and the help topic ("server add", "server", "") that
// says how it is right.
struct UsageError {
  std::string text;
  std::string topic;
};

struct GlobalOptions {
  bool yes = false;        // answer Yes to every confirmation
  bool trace_sql = false;  // print every statement sent
  bool tsv = false;        // tab-separated results
};

struct OptionDefinition {
  std::string name;        // "--login"
  std::string value_name;  // "NAME"; empty for a flag
  std::string help;
  // Given more than once, the values are kept in order, joined by line feeds.
  bool repeatable = false;
};

struct VerbDefinition {
  std::string noun;       // "server", or the command itself for check, demo, messages, render-text
  std::string verb;       // empty for the commands without a verb
  std::string arguments;  // as the usage line shows them: "SERVER NAME PATH"
  size_t min_arguments = 0;
  size_t max_arguments = 0;  // kMany for no limit
  std::vector<OptionDefinition> options;
  std::string summary;      // one line, in the noun's help
  std::string description;  // the verb's help, below its usage line
  static constexpr size_t kMany = static_cast<size_t>(-1);

  // "server add", "check".
  std::string Topic() const { return verb.empty() ? noun : noun + " " + verb; }
};

// Every command, in the order the help lists them.
const std::vector<VerbDefinition>& Verbs();
// The command of a topic; nullptr when there is none.
const VerbDefinition* FindVerb(std::string_view noun, std::string_view verb);

struct Invocation {
  // kNoCommand: neither a command nor --help/--version (global options alone included), a
  // wrong command line.
  enum class Kind { kRun, kHelp, kVersion, kNoCommand };
  Kind kind = Kind::kRun;
  GlobalOptions global;
  // kRun: the command; kHelp: the topic asked about (empty noun for the program's help).
  std::string noun;
  std::string verb;
  std::vector<std::string> arguments;
  std::map<std::string, std::string> options;  // "--login" to its value; flags map to ""

  bool Has(const std::string& option) const { return options.count(option) != 0; }
  std::optional<std::string> Option(const std::string& option) const;
};

// Reads a command line (without the program's name). The global options may stand anywhere
// before "--"; after it every argument is positional. Throws UsageError.
Invocation ParseCommandLine(const std::vector<std::string>& args);

// The help of a topic: "" the program, "server" a noun, "server add" a command.
std::string HelpText(std::string_view noun, std::string_view verb);

}  // namespace admin_cli
