// tessera-admin on a terminal: questions are asked and answered there, progress is a bar.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/admin_process.h"

namespace {

using admin_testing::AdminDemoProcessTest;
using admin_testing::RunResult;

class AdminTerminalTest : public AdminDemoProcessTest {
 protected:
  // Runs with a terminal as standard input, output and error; `typed` is what the user types
  // (the terminal keeps it until the program reads). Output and errors come back together.
  RunResult RunOnTerminal(const std::vector<std::string>& args, const std::string& typed,
                          const std::string& prompt = "") {
    std::string sandbox = (root_ / "sandbox").string();
    std::string registry = (root_ / "registry.db").string();
    int terminal = -1;
    pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
      ::setenv("TESSERA_SANDBOX_ROOT", sandbox.c_str(), 1);
      ::setenv("TESSERA_REGISTRY", registry.c_str(), 1);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(TESSERA_ADMIN));
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(TESSERA_ADMIN, argv.data());
      ::_exit(127);
    }
    RunResult result;
    if (child < 0) return result;
    // Typed at once, unless it waits for a prompt (a password prompt discards what was typed
    // before it).
    bool typed_yet = false;
    auto type = [&] {
      if (typed_yet || typed.empty()) return;
      typed_yet = true;
      ssize_t written = ::write(terminal, typed.data(), typed.size());
      EXPECT_EQ(written, static_cast<ssize_t>(typed.size()));
    };
    if (prompt.empty()) type();
    char buffer[4096];
    while (true) {
      // A program that waits for input nobody will type is ended rather than waited for.
      pollfd ready{terminal, POLLIN, 0};
      if (::poll(&ready, 1, 60000) == 0) {
        ADD_FAILURE() << "no output for a minute:\n" << result.out;
        ::kill(child, SIGKILL);
        break;
      }
      ssize_t n = ::read(terminal, buffer, sizeof buffer);
      if (n > 0) {
        result.out.append(buffer, static_cast<size_t>(n));
        if (!prompt.empty() && result.out.find(prompt) != std::string::npos) type();
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;  // the program closed the terminal (EIO) or it ended
      }
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  bool Listed(const std::string& name) {
    RunResult list = Run({"--tsv", "collection", "list", "1"});
    return list.out.find("\n" + name + "\t") != std::string::npos;
  }
};

TEST_F(AdminTerminalTest, TheUserAnswersTheQuestions) {
  RunResult no = RunOnTerminal({"collection", "detach", "1", "Archive"}, "n\n");
  EXPECT_EQ(no.exit_code, 1) << no.out;
  EXPECT_NE(no.out.find("[Y]es / [N]o (default Yes): "), std::string::npos) << no.out;
  EXPECT_TRUE(Listed("Archive"));

  // An answer that is neither is asked again.
  RunResult yes = RunOnTerminal({"collection", "detach", "1", "Archive"}, "perhaps\nyes\n");
  EXPECT_EQ(yes.exit_code, 0) << yes.out;
  EXPECT_NE(yes.out.find("Detached the collection Archive"), std::string::npos) << yes.out;
  EXPECT_FALSE(Listed("Archive"));

  // A destructive question's default is No: an empty line keeps the collection.
  RunResult kept = RunOnTerminal({"collection", "delete", "1", "Projects"}, "\n");
  EXPECT_EQ(kept.exit_code, 1) << kept.out;
  EXPECT_NE(kept.out.find("(default No)"), std::string::npos) << kept.out;
  EXPECT_TRUE(Listed("Projects"));
}

TEST_F(AdminTerminalTest, APasswordLeftOutIsAskedWithoutEcho) {
  RunResult run = RunOnTerminal({"server", "add", "(sandbox)\\DEMO", "--login", "reader"},
                                "tessera\n", "Password: ");
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(run.out.find("Password: "), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("tessera\r\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Registered (sandbox)\\DEMO as ServerID 2, connected as reader."),
            std::string::npos)
      << run.out;
}

TEST_F(AdminTerminalTest, LongWorkShowsAProgressBar) {
  RunResult run = RunOnTerminal({"collection", "plaintext", "1", "Letters"}, "");
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(run.out.find("\r  [##############################] 100%  18 of 18 items processed"),
            std::string::npos)
      << run.out;
  // The count is redrawn in the bar's line, not written line after line.
  EXPECT_NE(run.out.find("10 of 18 items processed"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("10 of 18 items processed\r\n"), std::string::npos) << run.out;

  // The creation's bar counts the statements it sends.
  RunResult create = RunOnTerminal({"collection", "create", "1", "Sales", "C:\\Data\\Sales"}, "");
  EXPECT_EQ(create.exit_code, 0) << create.out;
  EXPECT_NE(create.out.find("Create New Network Collection\r\n"), std::string::npos) << create.out;
  EXPECT_NE(create.out.find("] 50%"), std::string::npos) << create.out;
  EXPECT_NE(create.out.find("\r  [##############################] 100%"), std::string::npos)
      << create.out;
}

// The upgrade asks on a terminal, and a run over several rungs fills one bar from 0 to 100 %.
TEST_F(AdminTerminalTest, AnUpgradeAsksAndShowsOneBarForTheWholeRun) {
  RunResult declined = RunOnTerminal({"collection", "upgrade", "1", "Minutes"}, "n\n");
  EXPECT_EQ(declined.exit_code, 1) << declined.out;
  EXPECT_NE(declined.out.find("[Y]es / [N]o"), std::string::npos) << declined.out;
  EXPECT_EQ(declined.out.find("Upgraded"), std::string::npos) << declined.out;

  RunResult run = RunOnTerminal({"collection", "upgrade", "1", "Minutes"}, "y\n");
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(run.out.find("Upgraded the collection Minutes from format 1.41 to 1.61."),
            std::string::npos)
      << run.out;
  std::vector<int> percents;
  for (size_t at = run.out.find("] "); at != std::string::npos; at = run.out.find("] ", at + 1)) {
    size_t end = run.out.find('%', at);
    if (end == std::string::npos || end - at > 5) continue;
    percents.push_back(std::stoi(run.out.substr(at + 2, end - at - 2)));
  }
  ASSERT_GE(percents.size(), 6u) << run.out;
  for (size_t i = 1; i < percents.size(); ++i) {
    EXPECT_GE(percents[i], percents[i - 1]) << "the bar started again at " << i << "\n" << run.out;
  }
  EXPECT_EQ(percents.back(), 100) << run.out;
}

}  // namespace
