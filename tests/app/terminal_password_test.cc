// Passwords asked on a terminal: an interrupt at the prompt leaves the terminal as it was.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/admin_process.h"

namespace {

using admin_testing::AdminDemoProcessTest;
using admin_testing::RunResult;

struct Interrupted {
  bool finished = false;
  bool killed_by_interrupt = false;
  bool echo_after = false;
  std::string shown;
};

class TerminalPasswordTest : public AdminDemoProcessTest {
 protected:
  // Runs the program on a terminal whose other end the test keeps open, so the terminal's mode
  // can be read after the program ended; presses `key` once the prompt shows.
  Interrupted PressAtPrompt(const char* program, const std::vector<std::string>& args, char key) {
    Interrupted result;
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      ADD_FAILURE() << "no terminal";
      return result;
    }
    std::string sandbox = (root_ / "sandbox").string();
    std::string registry = (root_ / "registry.db").string();
    pid_t child = ::fork();
    if (child == 0) {
      ::close(master);
      ::login_tty(::dup(slave));
      ::setenv("TESSERA_SANDBOX_ROOT", sandbox.c_str(), 1);
      ::setenv("TESSERA_REGISTRY", registry.c_str(), 1);
      ::unsetenv("SQLCMDPASSWORD");
      std::vector<char*> argv{const_cast<char*>(program)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(program, argv.data());
      ::_exit(127);
    }
    bool pressed = false;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd ready{master, POLLIN, 0};
      if (::poll(&ready, 1, 100) > 0) {
        char buffer[1024];
        ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) result.shown.append(buffer, static_cast<size_t>(n));
      }
      if (!pressed && result.shown.find("Password: ") != std::string::npos) {
        pressed = ::write(master, &key, 1) == 1;
      }
      if (::waitpid(child, &status, WNOHANG) == child) {
        result.finished = true;
        break;
      }
    }
    if (!result.finished) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
    }
    result.killed_by_interrupt = WIFSIGNALED(status) && WTERMSIG(status) == SIGINT;
    termios mode{};
    if (::tcgetattr(slave, &mode) == 0) result.echo_after = (mode.c_lflag & ECHO) != 0;
    ::close(master);
    ::close(slave);
    return result;
  }
};

TEST_F(TerminalPasswordTest, ControlCAtThePasswordPromptRestoresEcho) {
  struct Case {
    const char* program;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {TESSERA_ADMIN, {"server", "add", "(sandbox)\\DEMO", "--login", "reader"}},
      {TESSERA_SANDBOX, {"sql", "-S", "(sandbox)\\DEMO", "-U", "reader", "-Q", "SELECT 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Interrupted run = PressAtPrompt(c.program, c.args, '\x03');
    EXPECT_TRUE(run.finished) << run.shown;
    EXPECT_TRUE(run.killed_by_interrupt) << run.shown;
    EXPECT_TRUE(run.echo_after) << "the terminal was left without echo\n" << run.shown;
  }
  // Nothing was registered by the interrupted add.
  EXPECT_EQ(admin_testing::Lines(Ok({"--tsv", "server", "list"}).out).size(), 2u);
}

}  // namespace
