#include "app/sandbox_cli/context.h"

#include <cctype>
#include <iostream>
#include <stdexcept>

#include "db/drivers/sandbox/sandbox_driver.h"

namespace sandbox_cli {

namespace fs = std::filesystem;

namespace {

// What the server accepts as an instance name.
bool IsInstanceNameText(std::string_view name) {
  if (name.empty() || name.size() > 16) return false;
  for (char c : name) {
    bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '-' ||
              static_cast<unsigned char>(c) >= 0x80;
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Arguments::Value(const std::string& option, std::optional<std::string> inline_value) {
  if (inline_value) return *inline_value;
  if (Done()) throw UsageError{"the option " + option + " needs a value", command_};
  return Take();
}

std::pair<std::string, std::optional<std::string>> SplitLongOption(const std::string& arg) {
  size_t eq = arg.find('=');
  if (arg.rfind("--", 0) != 0 || eq == std::string::npos) return {arg, std::nullopt};
  return {arg.substr(0, eq), arg.substr(eq + 1)};
}

Target ParseTarget(std::string_view text, const std::string& command) {
  std::string name;
  if (auto from_source = db::SandboxDriver::InstanceName(text)) {
    name = *from_source;
    if (name.empty()) return Target{};
  } else {
    name = std::string(text);
    if (name == "." || Lower(name) == "(local)") return Target{};
  }
  if (!IsInstanceNameText(name)) {
    std::string shown = name.size() > 64 ? name.substr(0, 64) + "..." : name;
    throw UsageError{"'" + shown +
                         "' is not an instance name: use (sandbox), (sandbox)\\NAME or NAME, "
                         "with letters, digits, '_', '$' and '-', at most 16",
                     command};
  }
  if (Upper(name) == "MSSQLSERVER") return Target{};
  return Target{Upper(name)};
}

fs::path Context::root() const { return root_ ? *root_ : sandbox::DefaultRoot(); }

const std::string& Context::os_user() {
  if (os_user_.empty()) os_user_ = db::LocalUserName();
  return os_user_;
}

std::shared_ptr<sandbox::Host> Context::host() {
  if (!host_) host_ = std::shared_ptr<sandbox::Host>(sandbox::OpenHost(root()));
  return host_;
}

std::shared_ptr<sandbox::Instance> Context::Find(const Target& target) {
  try {
    return host()->Find(target.name);
  } catch (const std::exception& e) {
    throw CommandError{"the sandbox instance " + target.DataSource() +
                       " cannot be opened: " + e.what()};
  }
}

std::shared_ptr<sandbox::Instance> Context::Open(const Target& target, bool create_default) {
  if (auto instance = Find(target)) return instance;
  if (target.IsDefault() && create_default) {
    std::shared_ptr<sandbox::Instance> instance;
    try {
      instance = host()->Create("", DefaultConfig());
    } catch (const std::exception& e) {
      throw CommandError{"the default sandbox instance cannot be created in " + root().string() +
                         ": " + e.what()};
    }
    // On the error stream, so that the output of the command that made it stays its own.
    io_.err << "Created the default sandbox instance (sandbox) in "
            << instance->directory().string() << "; " << MachineAccount(instance->config())
            << " is sysadmin.\n";
    return instance;
  }
  throw CommandError{"there is no sandbox instance " + target.DataSource() + " in " +
                     root().string() + "; create it with: " + kProgram + " init" +
                     (target.IsDefault() ? std::string() : " --name " + target.name)};
}

std::optional<sandbox::InstanceConfig> Context::Saved(const Target& target) {
  try {
    std::unique_ptr<sandbox::Host> fresh = sandbox::OpenHost(root());
    if (auto instance = fresh->Find(target.name)) return instance->config();
  } catch (const std::exception&) {
    // Unreadable counts as not saved.
  }
  return std::nullopt;
}

sandbox::InstanceConfig Context::DefaultConfig() {
  sandbox::InstanceConfig config;
  config.creator = os_user();
  return config;
}

std::string Context::MachineAccount(const sandbox::InstanceConfig& config) {
  return config.machine_name + "\\" + os_user();
}

bool CommonOption(Arguments& args, const std::string& arg, Context& context, bool short_help,
                  bool* help) {
  auto [option, inline_value] = SplitLongOption(arg);
  if (option == "--root") {
    std::string root = args.Value(option, inline_value);
    if (root.empty()) throw UsageError{"the option --root needs a folder", args.command()};
    context.set_root(root);
    return true;
  }
  if (arg == "--help" || (short_help && arg == "-h")) {
    *help = true;
    return true;
  }
  return false;
}

}  // namespace sandbox_cli
