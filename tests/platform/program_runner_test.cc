// Running the system's helper programs: output, exit code, and programs that fail or hang.
#include "platform/program_runner.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(ProgramRunnerTest, OutputAndExitCodeWithoutAShell) {
  std::string output;
  EXPECT_EQ(RunProgram("echo", {"a b", "$HOME;", "'x'"}, 5000, &output), 0);
  EXPECT_EQ(output, "a b $HOME; 'x'\n");
  EXPECT_EQ(ProgramOutput("echo", {"hi"}), std::optional<std::string>("hi\n"));

  EXPECT_EQ(RunProgram("false", {}, 5000, &output), 1);
  EXPECT_EQ(ProgramOutput("false", {}), std::nullopt);
  EXPECT_EQ(RunProgram("no-such-program-here", {}, 5000, &output), -1);
  // A program that takes too long is ended.
  EXPECT_EQ(RunProgram("sleep", {"10"}, 100, &output), -1);
}

}  // namespace
}  // namespace platform
