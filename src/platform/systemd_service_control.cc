#include "platform/systemd_service_control.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/config_file.h"

extern char** environ;

namespace platform {

SystemdServiceControl::SystemdServiceControl(const Environment& environment, Options options)
    : local_(environment), options_(std::move(options)) {}

bool SystemdServiceControl::Handles(std::string_view data_source) {
  data_source = StripLeadingBackslashes(data_source);
  size_t slash = data_source.find('\\');
  std::string_view machine = data_source.substr(0, slash);
  std::string_view instance =
      slash == std::string_view::npos ? std::string_view() : data_source.substr(slash + 1);
  machine = machine.substr(0, machine.find(','));
  if (!instance.empty() && !EqualsNoCase(instance, "MSSQLSERVER")) return false;
  return local_.IsLocal(machine);
}

int ServiceStateOfUnit(std::string_view load_state, std::string_view active_state) {
  if (load_state != "loaded") return kServiceUnknown;
  if (active_state == "active" || active_state == "reloading") return kServiceRunning;
  if (active_state == "activating") return kServiceStartPending;
  if (active_state == "deactivating") return kServiceStopPending;
  if (active_state == "inactive" || active_state == "failed") return kServiceStopped;
  return kServiceUnknown;
}

int SystemdServiceControl::Status(std::string_view data_source) {
  if (!Handles(data_source)) return kServiceUnknown;
  std::string output;
  if (Run({"show", "--property=LoadState", "--property=ActiveState", "--", options_.unit},
          &output) != 0) {
    return kServiceUnknown;
  }
  std::string load_state, active_state;
  for (const auto& section : ParseConfig(output)) {
    if (auto v = section.Get("LoadState")) load_state = *v;
    if (auto v = section.Get("ActiveState")) active_state = *v;
  }
  return ServiceStateOfUnit(load_state, active_state);
}

bool SystemdServiceControl::Start(std::string_view data_source) {
  std::string output;
  return Handles(data_source) && Run({"--no-block", "start", "--", options_.unit}, &output) == 0;
}

bool SystemdServiceControl::Stop(std::string_view data_source) {
  std::string output;
  return Handles(data_source) && Run({"--no-block", "stop", "--", options_.unit}, &output) == 0;
}

int SystemdServiceControl::Run(const std::vector<std::string>& arguments, std::string* output) {
  output->clear();
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  // No shell: the arguments are fixed texts, never anything a user typed.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(options_.systemctl.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int spawned =
      posix_spawnp(&pid, options_.systemctl.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (spawned != 0) {
    ::close(pipe_fds[0]);
    return -1;
  }

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeout_ms);
  bool timed_out = false;
  char buffer[4096];
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    pollfd wait{pipe_fds[0], POLLIN, 0};
    int ready = ::poll(&wait, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) continue;
    if (ready < 0) break;
    ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output->size() < 65536) output->append(buffer, static_cast<size_t>(got));
  }
  ::close(pipe_fds[0]);
  if (timed_out) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace platform
