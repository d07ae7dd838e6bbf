// tessera-sandbox serve for a named instance: the driver's own Browser lookup finds its TCP port,
// and "127.0.0.1\NAME" connects through ODBC; a second serve on the same UDP port serves TCP only.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/drivers/odbc/odbc_driver.h"
#include "db/environment.h"
#include "db/recordset.h"

namespace db {
namespace {

namespace fs = std::filesystem;

const std::string kPassword = "Br0wser;'pw";

// tessera-sandbox with its output on pipes; SIGTERM and a wait when it goes.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      ::close(out[0]), ::close(out[1]), ::close(err[0]), ::close(err[1]);
      std::vector<char*> argv = {const_cast<char*>(TESSERA_SANDBOX)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(TESSERA_SANDBOX, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = ::fdopen(out[0], "r");
    err_fd_ = err[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
    if (err_fd_ >= 0) ::close(err_fd_);
  }
  // The next line of standard output, "" at its end.
  std::string Line() {
    char line[512] = {};
    return out_ && std::fgets(line, sizeof line, out_) ? line : "";
  }
  // What standard error holds so far.
  std::string Errors() {
    std::string text;
    pollfd p{err_fd_, POLLIN, 0};
    char buffer[1024];
    while (::poll(&p, 1, 100) == 1) {
      ssize_t got = ::read(err_fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  int err_fd_ = -1;
};

// The number after `marker` in `line`, 0 when there is none.
int NumberAfter(const std::string& line, const std::string& marker) {
  auto at = line.find(marker);
  return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + marker.size());
}

class BrowserServeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (DefaultOdbcDriver() == "FreeTDS")
      GTEST_SKIP()
          << "FreeTDS's ODBC driver is not installed (scripts/setup-deps installs tdsodbc)";
    std::string pattern = (fs::temp_directory_path() / "tessera-browser-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    Program init({"--root", root_.string(), "init", "--name", "NET", "--sa-password", kPassword});
    ASSERT_EQ(init.Wait(), 0);
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  std::string QueryThrough(int browser_port, const std::string& data_source) {
    OdbcOptions options;
    options.browser_port = browser_port;
    DriverRegistry drivers;
    drivers.Add(std::make_shared<OdbcDriver>(options));
    Connection connection(Environment::Create(std::move(drivers)));
    connection.SetConnectionString(
        "Provider=SQLOLEDB;Data Source=" + data_source +
        ";User Id=sa;Password=" + ConnectionString::QuoteValue(kPassword) + ";Connect Timeout=5;");
    connection.Open();
    return connection.Execute("SELECT @@SERVICENAME AS name").Fields("name").Value().ToText();
  }

  fs::path root_;
};

TEST_F(BrowserServeTest, ANamedInstanceIsFoundByNameAndASecondServeKeepsServingTcp) {
  Program serve({"--root", root_.string(), "serve", "NET", "--port", "0", "--browser-port", "0"});
  const std::string serving = serve.Line();
  const int tcp = NumberAfter(serving, " port ");
  ASSERT_GT(tcp, 0) << serving << serve.Errors();
  const std::string answering = serve.Line();
  const int udp = NumberAfter(answering, "UDP port ");
  ASSERT_GT(udp, 0) << answering << serve.Errors();
  EXPECT_NE(answering.find("Data Source=127.0.0.1\\NET"), std::string::npos) << answering;

  // The driver's own lookup, then a connection by name only.
  EXPECT_EQ(BrowserInstancePort("127.0.0.1", "NET", udp, std::chrono::seconds(2)), tcp);
  EXPECT_EQ(BrowserInstancePort("127.0.0.1", "net", udp, std::chrono::seconds(2)), tcp);
  EXPECT_EQ(BrowserInstancePort("127.0.0.1", "OTHER", udp, std::chrono::milliseconds(300)),
            std::nullopt);
  EXPECT_EQ(QueryThrough(udp, "127.0.0.1\\NET"), "NET");

  // A second serve of the same instance finds the UDP port taken: it says so and serves TCP.
  Program second({"--root", root_.string(), "serve", "NET", "--port", "0", "--browser-port",
                  std::to_string(udp)});
  const std::string second_serving = second.Line();
  const int second_tcp = NumberAfter(second_serving, " port ");
  ASSERT_GT(second_tcp, 0) << second_serving << second.Errors();
  const std::string complaint = second.Errors();
  EXPECT_NE(complaint.find("not answering for NET on UDP port " + std::to_string(udp)),
            std::string::npos)
      << complaint;
  EXPECT_NE(complaint.find("another program answers there"), std::string::npos) << complaint;
  EXPECT_EQ(QueryThrough(udp, "127.0.0.1," + std::to_string(second_tcp)), "NET");
  // The first one still answers for the name.
  EXPECT_EQ(BrowserInstancePort("127.0.0.1", "NET", udp, std::chrono::seconds(2)), tcp);
}

TEST_F(BrowserServeTest, NoBrowserAnswersNothing) {
  // A port of its own for the responder, then free again: nothing should answer on it.
  int udp = 0;
  {
    Program probe({"--root", root_.string(), "serve", "NET", "--port", "0", "--browser-port", "0"});
    probe.Line();
    udp = NumberAfter(probe.Line(), "UDP port ");
    ASSERT_GT(udp, 0);
  }
  Program serve({"--root", root_.string(), "serve", "NET", "--port", "0", "--browser-port",
                 std::to_string(udp), "--no-browser"});
  const int tcp = NumberAfter(serve.Line(), " port ");
  ASSERT_GT(tcp, 0) << serve.Errors();
  EXPECT_EQ(BrowserInstancePort("127.0.0.1", "NET", udp, std::chrono::milliseconds(300)),
            std::nullopt);
  EXPECT_EQ(QueryThrough(udp, "127.0.0.1," + std::to_string(tcp)), "NET");
  const std::string errors = serve.Errors();
  EXPECT_EQ(errors.find("UDP"), std::string::npos) << errors;
}

}  // namespace
}  // namespace db
