// The serve command: its command line, and the program serving until it is told to stop.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/sandbox_cli/commands.h"
#include "app/sandbox_cli/serve_command.h"

namespace sandbox_cli {
namespace {

namespace fs = std::filesystem;

class ServeCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tessera-serve-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path root_;
};

TEST(ServePort, OnlyPortNumbersAreRead) {
  struct Case {
    const char* text;
    std::optional<int> port;
  };
  const Case cases[] = {{"1433", 1433}, {"0", 0},          {"65535", 65535}, {"65536", {}},
                        {"-1", {}},     {"", {}},          {"14a3", {}},     {"999999999999", {}},
                        {" 1433", {}},  {"1433;drop", {}}, {"\xC3\xA9", {}}};
  for (const Case& c : cases) EXPECT_EQ(ParsePort(c.text), c.port) << c.text;
}

TEST_F(ServeCommandTest, WrongCommandLinesAreUsageErrorsAndStartNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"serve", "--port", "70000"},
      {"serve", "--port"},
      {"serve", "--port=x"},
      {"serve", "--bogus"},
      {"serve", "ONE", "TWO"},
      {"serve", "bad]name;"},
      {"serve", "NET", "--browser-port", "70000"},
      {"serve", "--browser-port"},
      {"serve", "--browser-port=1434;x"},
      {"serve", "--no-browser=yes"},
  };
  for (const auto& args : cases) {
    std::vector<std::string> full = {"--root", root_.string()};
    full.insert(full.end(), args.begin(), args.end());
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunCommand(full, Io{in, out, err, nullptr}), kExitUsage)
        << ::testing::PrintToString(args);
    EXPECT_NE(err.str().find("serve --help"), std::string::npos) << err.str();
  }
  EXPECT_FALSE(fs::exists(root_ / "MSSQLSERVER"));
}

// The program as a user starts it: it prints where it listens, answers a client and stops
// cleanly on SIGTERM.
// Runs tessera-sandbox with the arguments after --root, its standard output read through `out`.
pid_t StartSandbox(const fs::path& root, std::vector<std::string> args, FILE** out) {
  int out_pipe[2];
  if (::pipe(out_pipe) != 0) return -1;
  args.insert(args.begin(), {TESSERA_SANDBOX, "--root", root.string()});
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(TESSERA_SANDBOX, argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  *out = ::fdopen(out_pipe[0], "r");
  return pid;
}

// The TCP port of serve's first line, "Serving ... port N (...)"; 0 when there is none.
int ServedPort(const std::string& first) {
  auto at = first.find(" port ");
  return at == std::string::npos ? 0 : std::atoi(first.c_str() + at + 6);
}

TEST_F(ServeCommandTest, ANamedInstanceTakesAFreePortThatTheUdpAnswerNames) {
  FILE* out = nullptr;
  pid_t init = StartSandbox(root_, {"init", "--name", "NET", "--sa-password", "S3cret!x"}, &out);
  ASSERT_GT(init, 0);
  char line[512] = {};
  while (std::fgets(line, sizeof line, out)) {
  }
  std::fclose(out);
  int status = 0;
  ASSERT_EQ(::waitpid(init, &status, 0), init);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  pid_t pid = StartSandbox(root_, {"serve", "NET", "--browser-port", "0"}, &out);
  ASSERT_GT(pid, 0);
  ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
  std::string first = line;
  int port = ServedPort(first);
  EXPECT_GT(port, 0) << first;
  EXPECT_NE(port, 1433) << first;
  ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
  EXPECT_NE(std::string(line).find("Answering for NET on UDP port "), std::string::npos) << line;
  ::kill(pid, SIGTERM);
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  std::fclose(out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ServeCommandTest, ServesUntilTerminated) {
  FILE* out = nullptr;
  pid_t pid = StartSandbox(root_, {"serve", "--port", "0"}, &out);
  ASSERT_GT(pid, 0);
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
  std::string first = line;
  int port = ServedPort(first);
  ASSERT_GT(port, 0) << first;

  // PRELOGIN with VERSION and ENCRYPTION off; the answer says encryption is not supported.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const unsigned char prelogin[] = {18, 1, 0,  26, 0, 0,    1, 0, 0, 0, 11, 0, 6,
                                    1,  0, 17, 0,  1, 0xFF, 9, 0, 0, 0, 0,  0, 0};
  ASSERT_EQ(::send(fd, prelogin, sizeof prelogin, 0), static_cast<ssize_t>(sizeof prelogin));
  unsigned char reply[512];
  ssize_t got = ::recv(fd, reply, sizeof reply, 0);
  ASSERT_GT(got, 8);
  EXPECT_EQ(reply[0], 4);  // a reply
  // The options: token, offset and length, five bytes each, the payload after the header.
  bool saw_encryption = false;
  for (int i = 8; i + 5 <= got && reply[i] != 0xFF; i += 5) {
    if (reply[i] != 1) continue;
    int offset = (reply[i + 1] << 8) | reply[i + 2];
    ASSERT_LT(8 + offset, got);
    EXPECT_EQ(reply[8 + offset], 2);
    saw_encryption = true;
  }
  EXPECT_TRUE(saw_encryption);
  ::close(fd);

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string rest;
  while (std::fgets(line, sizeof line, out)) rest += line;
  std::fclose(out);
  EXPECT_EQ(rest, "Stopped.\n");
}

}  // namespace
}  // namespace sandbox_cli
