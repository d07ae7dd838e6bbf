#include "app/sandbox_cli/drop_command.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <set>
#include <system_error>

#include "platform/terminal_user_interface.h"
#include "sandbox/instance.h"
#include "sandbox/server.h"

namespace sandbox_cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDropUsage =
    "Usage: tessera-sandbox drop NAME [--yes] [--force]\n"
    "\n"
    "Removes an instance with all its databases and its folder. On a terminal it asks first;\n"
    "elsewhere --yes is needed. An instance that a program has open (its serve, a sql prompt,\n"
    "the console) is not removed; --force stops its service, which ends their sessions, and\n"
    "removes it all the same. NAME is (sandbox) for the default instance.\n"
    "\n"
    "  --yes     removes without asking\n"
    "  --force   removes an instance that programs have open\n";

std::string CommandLineOf(std::int64_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::replace(raw.begin(), raw.end(), '\0', ' ');
  while (!raw.empty() && raw.back() == ' ') raw.pop_back();
  // The program by its name, not its folder.
  size_t end = raw.find(' ');
  size_t slash = raw.rfind('/', end);
  if (slash != std::string::npos) raw.erase(0, slash + 1);
  if (raw.size() > 120) raw = raw.substr(0, 117) + "...";
  return platform::TerminalSafe(raw);
}

bool Below(const fs::path& path, const fs::path& folder) {
  auto [end, at] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return end == folder.end();
}

}  // namespace

std::vector<Holder> ProcessesHolding(const fs::path& folder) {
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(folder, ec);
  if (ec) canonical = folder;
  std::vector<Holder> holders;
  const std::int64_t self = ::getpid();
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", ec)) {
    const std::string name = process.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::int64_t pid = std::stoll(name);
    if (pid == self) continue;
    std::error_code fd_ec;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fd_ec)) {
      std::error_code link_ec;
      fs::path target = fs::read_symlink(fd.path(), link_ec);
      if (link_ec || !target.is_absolute() || !Below(target, canonical)) continue;
      holders.push_back({pid, CommandLineOf(pid)});
      break;
    }
  }
  std::sort(holders.begin(), holders.end(),
            [](const Holder& a, const Holder& b) { return a.pid < b.pid; });
  return holders;
}

int Drop(Arguments& args, Context& context) {
  Io& io = context.io();
  bool help = false, yes = false, force = false;
  std::optional<Target> target;
  while (!args.Done()) {
    std::string arg = args.Take();
    if (CommonOption(args, arg, context, true, &help)) continue;
    if (arg == "--yes" || arg == "-y") {
      yes = true;
    } else if (arg == "--force") {
      force = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option '" + arg + "'", args.command()};
    } else if (target) {
      throw UsageError{"unexpected argument '" + arg + "'", args.command()};
    } else {
      target = ParseTarget(arg, args.command());
    }
  }
  if (help) {
    io.out << kDropUsage;
    return kExitSuccess;
  }
  // Removing is never the default: the instance is named, (sandbox) for the default one.
  if (!target)
    throw UsageError{"name the instance to remove ((sandbox) for the default one)", args.command()};
  std::shared_ptr<sandbox::Instance> instance = context.Find(*target);
  if (!instance)
    throw CommandError{"there is no sandbox instance " + target->DataSource() + " in " +
                       context.root().string()};
  const fs::path folder = instance->directory();

  // Processes with files of the instance open, and those its sessions table names (of any
  // account, which /proc may not show).
  std::vector<Holder> holders = ProcessesHolding(folder);
  auto impl = std::dynamic_pointer_cast<sandbox::InstanceImpl>(instance);
  std::vector<sandbox::SessionEntry> sessions;
  if (impl) {
    sessions = impl->Sessions();
    std::set<std::int64_t> known;
    for (const Holder& holder : holders) known.insert(holder.pid);
    for (const sandbox::SessionEntry& session : sessions) {
      if (session.pid == ::getpid() || !known.insert(session.pid).second) continue;
      holders.push_back({session.pid, session.program});
    }
  }
  if (!holders.empty() && !force) {
    std::string list;
    for (size_t i = 0; i < holders.size() && i < 5; ++i) {
      list += (i ? ", " : "") + std::to_string(holders[i].pid);
      if (!holders[i].command.empty()) list += " (" + holders[i].command + ")";
    }
    if (holders.size() > 5) list += " and " + std::to_string(holders.size() - 5) + " more";
    throw CommandError{"the sandbox instance " + target->DataSource() + " is in use by process " +
                       list + "; end them first, or remove it anyway with --force"};
  }

  if (!yes) {
    if (!io.terminal)
      throw CommandError{"removing the sandbox instance " + target->DataSource() +
                         " is asked on a terminal; give --yes to remove it without asking"};
    while (true) {
      io.out << "Remove the sandbox instance " << target->DataSource()
             << " with all its databases in " << folder.string() << "? [y/N] " << std::flush;
      std::string answer;
      if (!std::getline(io.in, answer)) answer.clear();
      answer = Lower(answer);
      if (answer == "y" || answer == "yes") break;
      if (answer.empty() || answer == "n" || answer == "no") {
        io.out << "Nothing was removed.\n";
        return kExitFailure;
      }
    }
  }

  // The sessions of the programs that have it open end before their files go: each is killed
  // (they learn it at their next statement from the sessions file they still hold open) and
  // the service stops, so they cannot connect again meanwhile.
  if (!holders.empty()) {
    for (const sandbox::SessionEntry& session : sessions) instance->DropSession(session.spid);
    instance->SetRunning(false);
  }
  impl.reset();
  instance.reset();
  context.ReleaseHost();
  std::error_code ec;
  fs::remove_all(folder, ec);
  if (ec || fs::exists(folder))
    throw CommandError{"the sandbox instance " + target->DataSource() +
                       " could not be removed completely from " + folder.string() + ": " +
                       (ec ? ec.message() : "files are left")};
  io.out << "Removed the sandbox instance " << target->DataSource() << " from " << folder.string()
         << ".\n";
  return kExitSuccess;
}

}  // namespace sandbox_cli
