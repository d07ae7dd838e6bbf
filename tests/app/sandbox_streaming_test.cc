// Results larger than memory: tessera-sandbox runs with a data limit far below what holding the
// result would take, and a reader takes a million rows (or tens of megabytes of them) and
// stops. Rows must stream from SQLite to the terminal and to the network; sorts and temporary
// tables must spill to disk as SQL Server's do to tempdb.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/admin_process.h"
#include "tds_client.h"

namespace {

namespace fs = std::filesystem;

using admin_testing::ReadFile;
using admin_testing::RunResult;
using admin_testing::RunShell;
using admin_testing::ShellQuote;

constexpr char kPassword[] = "Str3am'ing;]";
// The data limit of the program under test: about ten times what it needs to start, a small
// part of what holding any of the results below would need.
constexpr rlim_t kDataLimit = 96u << 20;
// Every object of a database with 16 tables and 13 system tables, six times over: 595 million
// rows.
constexpr char kCrossJoin[] =
    "SELECT a.name, b.name, c.name, d.name, e.name, f.name FROM sysobjects a, sysobjects b, "
    "sysobjects c, sysobjects d, sysobjects e, sysobjects f";

// A tessera-sandbox process with the data limit; its standard output is a pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

class StreamingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // AddressSanitizer reserves terabytes of shadow memory up front, so no data limit that proves
    // a flat footprint lets the program start; the ordinary build runs these.
    if (kAddressSanitizer) GTEST_SKIP() << "a data limit cannot hold a program built with ASan";
    std::string pattern = (fs::temp_directory_path() / "tessera-sandbox-stream-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    root_ = dir_ / "root";
    ASSERT_EQ(Run({"init", "--sa-password", kPassword}).exit_code, 0);
    RunResult made = Run({"sql", "-Q", "CREATE DATABASE wide"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    made = Run({"sql", "-d", "wide", "-Q",
                "SET NOCOUNT ON DECLARE @i int SET @i = 0 WHILE @i < 16 BEGIN "
                "EXEC ('CREATE TABLE t' + CAST(@i AS varchar(2)) + ' (c int)') SET @i = @i + 1 "
                "END"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }
  void TearDown() override {
    if (child_.pid > 0) {
      ::kill(child_.pid, SIGKILL);
      ::waitpid(child_.pid, nullptr, 0);
    }
    if (child_.out >= 0) ::close(child_.out);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  RunResult Run(const std::vector<std::string>& args) {
    std::string command = "env -u TESSERA_SANDBOX_ROOT " + ShellQuote(TESSERA_SANDBOX) +
                          " --root " + ShellQuote(root_.string());
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    return RunShell(command + " </dev/null", dir_ / "stderr.txt");
  }

  void Spawn(const std::vector<std::string>& args, rlim_t data_limit = kDataLimit) {
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    std::vector<std::string> argv = {TESSERA_SANDBOX, "--root", root_.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string err = (dir_ / "child-stderr.txt").string();
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      rlimit limit{data_limit, data_limit};
      ::setrlimit(RLIMIT_DATA, &limit);
      ::dup2(pipe_fds[1], STDOUT_FILENO);
      if (FILE* e = std::freopen(err.c_str(), "w", stderr); e == nullptr) ::_exit(126);
      ::close(pipe_fds[0]);
      ::close(pipe_fds[1]);
      std::vector<char*> raw;
      for (std::string& a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      ::execv(raw[0], raw.data());
      ::_exit(127);
    }
    ::close(pipe_fds[1]);
    child_ = {pid, pipe_fds[0]};
  }

  // Reads the child's output until it has written lines lines, ends, or a minute has passed;
  // the number of lines read.
  std::size_t ReadLines(std::size_t lines, std::string* first_lines) {
    std::size_t seen = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    char buffer[65536];
    while (seen < lines && std::chrono::steady_clock::now() < deadline) {
      pollfd p{child_.out, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) continue;
      ssize_t n = ::read(child_.out, buffer, sizeof buffer);
      if (n <= 0) break;
      if (first_lines->size() < 400) first_lines->append(buffer, std::min<ssize_t>(n, 400));
      for (ssize_t i = 0; i < n; ++i) seen += buffer[i] == '\n';
    }
    return seen;
  }

  std::string ChildErrors() { return ReadFile(dir_ / "child-stderr.txt"); }

  fs::path dir_;
  fs::path root_;
  Child child_;
};

// The terminal gets the rows as the engine reads them; a reader that stops after a million
// rows stops the program (a broken pipe), which never needed more than its limit.
TEST_F(StreamingTest, SqlShowsAResultLargerThanItsMemoryAsItComes) {
  Spawn({"sql", "-d", "wide", "-Q", kCrossJoin});
  std::string start;
  std::size_t lines = ReadLines(1'000'000, &start);
  EXPECT_GE(lines, 1'000'000u) << start << ChildErrors();
  EXPECT_EQ(start.rfind("name ", 0), 0u) << start;
  EXPECT_NE(start.find("\n---"), std::string::npos) << start;
  ::close(child_.out);
  child_.out = -1;
  int status = 0;
  ASSERT_EQ(::waitpid(child_.pid, &status, 0), child_.pid);
  child_.pid = -1;
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status << ChildErrors();
}

// ORDER BY over a million rows, and a temporary table doubled to half a million rows of 100
// characters (50 MB): both go through work files, as SQL Server's go through tempdb, so the
// first sorted rows and the count arrive within a limit of 32 MB.
TEST_F(StreamingTest, SortsAndTemporaryTablesSpillToDisk) {
  Spawn({"sql", "-d", "wide", "-h", "-1", "-Q",
         "SET NOCOUNT ON "
         "SELECT TOP 2 a.name, b.name, c.name, d.name, e.name FROM sysobjects a, sysobjects b, "
         "sysobjects c, sysobjects d, sysobjects e WHERE a.type = 'U' AND b.type = 'U' AND "
         "c.type = 'U' AND d.type = 'U' AND e.type = 'U' "
         "ORDER BY e.name DESC, d.name, c.name, b.name, a.name "
         "CREATE TABLE #t (s varchar(100)) INSERT #t VALUES (REPLICATE('x', 100)) "
         "DECLARE @i int SET @i = 0 "
         "WHILE @i < 19 BEGIN INSERT #t SELECT s FROM #t SET @i = @i + 1 END "
         "SELECT COUNT(*), MAX(s) FROM #t"},
        32u << 20);
  std::string out;
  ReadLines(100, &out);
  int status = 0;
  ASSERT_EQ(::waitpid(child_.pid, &status, 0), child_.pid);
  child_.pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << ChildErrors();
  EXPECT_EQ(out,
            "t0   t0   t0   t0   t9\n"
            "t1   t0   t0   t0   t9\n"
            "\n"
            "524288 " +
                std::string(100, 'x') + "\n\n")
      << ChildErrors();
}

// The listener sends rows as they are read: a client takes 40 MB of an endless result, then
// cancels it with an attention; the session goes on with the next batch, and the server never
// needed more than its limit.
TEST_F(StreamingTest, TheListenerStreamsAndAnAttentionStopsTheResult) {
  Spawn({"serve", "--port", "0"});
  std::string banner;
  char c = 0;
  while (::read(child_.out, &c, 1) == 1 && c != '\n') banner += c;
  auto at = banner.find(" port ");
  ASSERT_NE(at, std::string::npos) << banner << ChildErrors();
  int port = std::atoi(banner.c_str() + at + 6);
  ASSERT_GT(port, 0) << banner;

  tds_test::Client client(port);
  auto login = client.Login("sa", kPassword);
  ASSERT_FALSE(login.empty());
  ASSERT_EQ(login[0].kind, tds_test::Token::Kind::kLoginAck);
  ASSERT_FALSE(client.Batch("USE wide").empty());

  client.SendBatch(kCrossJoin);
  bool ended = false;
  std::string tail;
  std::size_t read = 0;
  ASSERT_NO_THROW(read = client.Skim(40u << 20, &ended, &tail)) << ChildErrors();
  EXPECT_FALSE(ended);
  EXPECT_GE(read, 40u << 20);

  // The reply ends where it was cut short; the next message is the attention's
  // acknowledgement alone: a DONE with the attention bit (0x20), 13 bytes at TDS 7.4.
  client.SendPacket(6, "");
  ASSERT_NO_THROW(client.Skim(SIZE_MAX, &ended, &tail)) << ChildErrors();
  ASSERT_TRUE(ended);
  ASSERT_NO_THROW(client.Skim(SIZE_MAX, &ended, &tail)) << ChildErrors();
  ASSERT_TRUE(ended);
  ASSERT_EQ(tail.size(), 13u);
  std::string done = tail;
  EXPECT_EQ(static_cast<unsigned char>(done[0]), 0xFD);
  EXPECT_NE(static_cast<unsigned char>(done[1]) & 0x20, 0);

  auto next = client.Batch("SELECT COUNT(*) FROM sysobjects WHERE type = 'U'");
  bool counted = false;
  for (const auto& token : next) {
    if (token.kind == tds_test::Token::Kind::kRow) {
      ASSERT_EQ(token.row.size(), 1u);
      EXPECT_EQ(token.row[0].ToInt(), 16);
      counted = true;
    }
  }
  EXPECT_TRUE(counted);
  EXPECT_EQ(::waitpid(child_.pid, nullptr, WNOHANG), 0) << "the server ended" << ChildErrors();
}

}  // namespace
