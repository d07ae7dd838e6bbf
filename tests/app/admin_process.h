// Runs tessera-admin as a process on a sandbox root and a registry of its own, with no terminal.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

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

// The lines of a text that begin with the prefix.
inline std::vector<std::string> LinesStartingWith(const std::string& text,
                                                  const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : Lines(text)) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
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
    std::filesystem::path err_file = root_ / "stderr.txt";
    std::string command = "TESSERA_SANDBOX_ROOT=" + ShellQuote((root_ / "sandbox").string()) +
                          " TESSERA_REGISTRY=" + ShellQuote((root_ / "registry.db").string()) +
                          " " + ShellQuote(TESSERA_ADMIN);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    command += " </dev/null 2>" + ShellQuote(err_file.string());
    RunResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    int status = ::pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadFile(err_file);
    return result;
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

}  // namespace admin_testing
