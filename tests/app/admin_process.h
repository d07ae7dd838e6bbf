// Runs tessera-admin as a process on a sandbox root and a registry of its own, with no terminal.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/messages.h"
#include "common/value.h"
#include "platform/terminal_user_interface.h"

namespace admin_testing {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The words of a command line that needs no quoting.
inline std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  for (size_t start = 0; start < line.size();) {
    size_t end = std::min(line.find(' ', start), line.size());
    if (end > start) words.emplace_back(line.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// The lines of a text that begin with the prefix.
inline std::vector<std::string> LinesStartingWith(const std::string& text,
                                                  const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : Lines(text)) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

// Runs a shell command, its standard error going through `err_file`.
inline RunResult RunShell(const std::string& command, const std::filesystem::path& err_file) {
  RunResult result;
  FILE* pipe = ::popen((command + " 2>" + ShellQuote(err_file.string())).c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = ::pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = ReadFile(err_file);
  return result;
}

// A message as the command line shows it, placeholders filled.
inline std::string Shown(int number, const std::vector<std::string>& values = {}) {
  std::vector<common::Value> filled;
  for (const std::string& value : values) filled.emplace_back(value);
  return platform::TerminalSafe(common::FormatMessage(number, filled));
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A folder with the sandbox instances and the registry store of one test.
class AdminProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::path(TESSERA_BINARY_DIR) /
            ("admin-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  RunResult Run(const std::vector<std::string>& args) {
    std::string command = "TESSERA_SANDBOX_ROOT=" + ShellQuote((root_ / "sandbox").string()) +
                          " TESSERA_REGISTRY=" + ShellQuote((root_ / "registry.db").string()) +
                          " " + ShellQuote(TESSERA_ADMIN);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    return RunShell(command + " </dev/null", root_ / "stderr.txt");
  }

  // tessera-sandbox on the test's sandbox root; its exit status.
  int RunSandbox(const std::vector<std::string>& args) {
    std::string command = "TESSERA_SANDBOX_ROOT=" + ShellQuote((root_ / "sandbox").string()) + " " +
                          ShellQuote(TESSERA_SANDBOX);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    return RunShell(command + " </dev/null", root_ / "stderr.txt").exit_code;
  }

  // Runs and expects success, for the steps that set a test up.
  RunResult Ok(const std::vector<std::string>& args) {
    RunResult result = Run(args);
    std::string shown;
    for (const std::string& arg : args) shown += arg + " ";
    EXPECT_EQ(result.exit_code, 0) << shown << "\n" << result.out << result.err;
    return result;
  }

  std::filesystem::path root_;
};

// The demonstration server made and registered (ServerID 1) in the test's folder.
class AdminDemoProcessTest : public AdminProcessTest {
 protected:
  void SetUp() override {
    AdminProcessTest::SetUp();
    RunResult demo = Run({"demo"});
    ASSERT_EQ(demo.exit_code, 0) << demo.out << demo.err;
    demo_out_ = demo.out;
  }

  // The registration's collections, tab-separated.
  std::string Collections(const std::string& server = "1") {
    return Ok({"--tsv", "collection", "list", server}).out;
  }

  std::string demo_out_;
};

}  // namespace admin_testing
