// What the commands of tessera-sandbox share: reading the command line, naming instances, and
// the host of the root folder they work on.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/sandbox_cli/commands.h"
#include "sandbox/server.h"

namespace sandbox_cli {

inline constexpr const char* kProgram = "tessera-sandbox";

// A wrong command line: the message, and the command whose help says how it is right.
struct UsageError {
  std::string text;
  std::string command;
};

// A command that could not be done.
struct CommandError {
  std::string text;
};

std::string Upper(std::string_view text);
std::string Lower(std::string_view text);

class Arguments {
 public:
  Arguments(const std::vector<std::string>& args, size_t position, std::string command)
      : args_(args), position_(position), command_(std::move(command)) {}

  bool Done() const { return position_ >= args_.size(); }
  const std::string& Peek() const { return args_[position_]; }
  std::string Take() { return args_[position_++]; }
  // The value of an option given as "--name VALUE" or "--name=VALUE"; inline_value is what
  // came after "=" (or, for "-SVALUE", after the letter).
  std::string Value(const std::string& option, std::optional<std::string> inline_value);
  const std::string& command() const { return command_; }
  size_t position() const { return position_; }

 private:
  const std::vector<std::string>& args_;
  size_t position_;
  std::string command_;
};

// Splits "--name=value" into its parts; other arguments come back whole.
std::pair<std::string, std::optional<std::string>> SplitLongOption(const std::string& arg);

struct Target {
  std::string name;  // "" for the default instance, else upper case
  bool IsDefault() const { return name.empty(); }
  std::string DataSource() const { return name.empty() ? "(sandbox)" : "(sandbox)\\" + name; }
  // How a command line names it after a command ("" or " NAME").
  std::string Argument() const { return name.empty() ? "" : " " + name; }
};

// "(sandbox)", "(sandbox)\NAME", "NAME", "MSSQLSERVER", "." and "(local)". Throws UsageError
// for text that cannot be an instance's name (it would become a folder name).
Target ParseTarget(std::string_view text, const std::string& command);

class Context {
 public:
  explicit Context(Io io) : io_(io) {}

  Io& io() { return io_; }
  std::filesystem::path root() const;
  void set_root(std::filesystem::path root) { root_ = std::move(root); }
  const std::string& os_user();
  std::shared_ptr<sandbox::Host> host();
  // Lets go of the host and so of the instances this program opened (their files close).
  void ReleaseHost() { host_.reset(); }

  // The instance, or nullptr when there is none of that name.
  std::shared_ptr<sandbox::Instance> Find(const Target& target);
  // The instance; the default one is made when create_default is set and it does not exist.
  std::shared_ptr<sandbox::Instance> Open(const Target& target, bool create_default);
  // The settings as another program finds them now, read afresh from the instance's folder.
  std::optional<sandbox::InstanceConfig> Saved(const Target& target);
  // A new instance's settings: the local account sets it up and administers it.
  sandbox::InstanceConfig DefaultConfig();
  // The login of the local account on an instance ("SANDBOX\user").
  std::string MachineAccount(const sandbox::InstanceConfig& config);

 private:
  Io io_;
  std::optional<std::filesystem::path> root_;
  std::string os_user_;
  std::shared_ptr<sandbox::Host> host_;
};

// Reads the options every command knows (--root, --help, and -h where it is not the sql
// command's header option); true when the argument was one of them.
bool CommonOption(Arguments& args, const std::string& arg, Context& context, bool short_help,
                  bool* help);

}  // namespace sandbox_cli
