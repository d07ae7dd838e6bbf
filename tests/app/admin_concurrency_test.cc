// Several tessera-admin processes at work on one sandbox server at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/admin_process.h"

namespace {

using admin_testing::AdminProcessTest;
using admin_testing::Lines;
using admin_testing::RunResult;
using admin_testing::ShellQuote;

class AdminConcurrencyTest : public AdminProcessTest {
 protected:
  void SetUp() override {
    AdminProcessTest::SetUp();
    RunResult demo = Run({"demo"});
    ASSERT_EQ(demo.exit_code, 0) << demo.out << demo.err;
  }
};

// Collections created by four processes at once are all made (a new database's id was taken
// from each process's own stale list of databases, and the clash was reported as "Access is
// denied").
TEST_F(AdminConcurrencyTest, CollectionsCreatedByFourProcessesAtOnceAllSucceed) {
  constexpr int kProcesses = 4;
  constexpr int kEach = 3;
  std::string environment = "TESSERA_SANDBOX_ROOT=" + ShellQuote((root_ / "sandbox").string()) +
                            " TESSERA_REGISTRY=" + ShellQuote((root_ / "registry.db").string());
  // Each process's loop prints "process index status" per creation, and its failures' output.
  std::string script;
  for (int p = 1; p <= kProcesses; ++p) {
    script += "( for i in";
    for (int i = 1; i <= kEach; ++i) script += " " + std::to_string(i);
    std::string name = "C" + std::to_string(p) + "x$i";
    // One printf per line, so the lines of the four loops do not run into each other.
    script += "; do out=$(" + environment + " " + ShellQuote(TESSERA_ADMIN) +
              " --yes collection create 1 " + name + " 'C:\\Data\\'" + name +
              " </dev/null 2>&1); s=$?; printf '%s\\n' \"" + std::to_string(p) +
              " $i $s $(echo $out)\"; done ) & ";
  }
  script += "wait";
  std::string output;
  FILE* pipe = ::popen(script.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ::pclose(pipe);

  int reported = 0;
  for (const std::string& line : Lines(output)) {
    if (line.empty()) continue;
    ++reported;
    // "p i 0 ..." for a success.
    size_t second = line.find(' ', line.find(' ') + 1);
    EXPECT_EQ(line.substr(second + 1, 2), "0 ") << line;
  }
  EXPECT_EQ(reported, kProcesses * kEach) << output;
  std::string list = Ok({"--tsv", "collection", "list", "1"}).out;
  for (int p = 1; p <= kProcesses; ++p)
    for (int i = 1; i <= kEach; ++i) {
      std::string name = "C" + std::to_string(p) + "x" + std::to_string(i);
      EXPECT_NE(list.find("\n" + name + "\t"), std::string::npos) << name << "\n" << list;
    }
}

}  // namespace
