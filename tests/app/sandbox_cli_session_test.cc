// The sql command in this process, with input that arrives while other programs act on the
// instance.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "app/sandbox_cli/commands.h"
#include "sandbox/server.h"

namespace sandbox_cli {
namespace {

namespace fs = std::filesystem;

// Standard input in pieces; before each piece after the first, the test acts, the way a user
// types the next line after something else happened.
class PiecewiseInput : public std::streambuf {
 public:
  PiecewiseInput(std::vector<std::string> pieces, std::function<void(size_t)> before_piece)
      : pieces_(std::move(pieces)), before_piece_(std::move(before_piece)) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (next_ >= pieces_.size()) return traits_type::eof();
    if (next_ > 0) before_piece_(next_);
    current_ = pieces_[next_++];
    setg(current_.data(), current_.data(), current_.data() + current_.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::vector<std::string> pieces_;
  std::function<void(size_t)> before_piece_;
  std::string current_;
  size_t next_ = 0;
};

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

class SqlSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tessera-sandbox-session-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    ::unsetenv("SQLCMDPASSWORD");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  Outcome Run(std::vector<std::string> args, std::istream& in,
              std::function<std::optional<std::string>()> read_password = nullptr) {
    args.insert(args.begin(), {"--root", root_.string()});
    std::ostringstream out, err;
    Outcome outcome;
    outcome.exit_code = RunCommand(args, Io{in, out, err, std::move(read_password)});
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
  }
  Outcome Run(std::vector<std::string> args) {
    std::istringstream none;
    return Run(std::move(args), none);
  }

  fs::path root_;
};

TEST_F(SqlSessionTest, AStopElsewhereEndsThePromptsSession) {
  ASSERT_EQ(Run({"status"}).exit_code, 0);
  // Another program (the console) stops the instance while the prompt waits for a line.
  PiecewiseInput pieces({"SELECT 1 AS a\nGO\n", "SELECT 2 AS b\nGO\nSELECT 3 AS c\nGO\n"},
                        [&](size_t) {
                          auto console = sandbox::OpenHost(root_);
                          console->Find("")->SetRunning(false);
                        });
  std::istream in(&pieces);
  Outcome run = Run({"sql"}, in);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "1> 2> a\n-\n1\n\n(1 rows affected)\n1> 2> ");
  EXPECT_NE(run.err.find("General network error"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the sandbox instance (sandbox) was stopped"), std::string::npos)
      << run.err;
}

TEST_F(SqlSessionTest, AStopAndStartElsewhereStillEndTheSession) {
  ASSERT_EQ(Run({"status"}).exit_code, 0);
  PiecewiseInput pieces({"SELECT 1 AS a\nGO\n", "SELECT 2 AS b\nGO\n"}, [&](size_t) {
    auto console = sandbox::OpenHost(root_);
    auto instance = console->Find("");
    instance->SetRunning(false);
    instance->SetRunning(true);
  });
  std::istream in(&pieces);
  Outcome run = Run({"sql"}, in);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "1> 2> a\n-\n1\n\n(1 rows affected)\n1> 2> ");
  EXPECT_NE(run.err.find("General network error"), std::string::npos) << run.err;
  // The instance runs, so nothing says it was stopped; a new session works.
  EXPECT_EQ(run.err.find("was stopped"), std::string::npos) << run.err;
  EXPECT_EQ(Run({"sql", "-Q", "SELECT 1"}).exit_code, 0);
}

TEST_F(SqlSessionTest, TheInstanceRemovedElsewhereEndsThePromptsSession) {
  ASSERT_EQ(Run({"status"}).exit_code, 0);
  // Its folder goes while the prompt waits: nothing may be written to the unlinked files.
  PiecewiseInput pieces({"SELECT 1 AS a\nGO\n", "CREATE TABLE t (a int)\nGO\n"},
                        [&](size_t) { fs::remove_all(root_); });
  std::istream in(&pieces);
  Outcome run = Run({"sql"}, in);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "1> 2> a\n-\n1\n\n(1 rows affected)\n1> 2> ");
  EXPECT_NE(run.err.find("General network error"), std::string::npos) << run.err;
}

TEST_F(SqlSessionTest, ALoginWithoutPasswordOptionAsksForIt) {
  Outcome init = Run({"init", "--sa-password", "s3cret"});
  ASSERT_EQ(init.exit_code, 0) << init.err;
  int asked = 0;
  std::istringstream none;
  Outcome right = Run({"sql", "-U", "sa", "-h", "-1", "-Q", "SELECT SUSER_SNAME()"}, none,
                      [&]() -> std::optional<std::string> {
                        ++asked;
                        return "s3cret";
                      });
  EXPECT_EQ(right.exit_code, 0) << right.err;
  EXPECT_EQ(right.out, "sa\n\n(1 rows affected)\n");
  EXPECT_EQ(asked, 1);
  // -P given: nobody is asked.
  Outcome given = Run({"sql", "-U", "sa", "-P", "wrong", "-Q", "SELECT 1"}, none,
                      [&]() -> std::optional<std::string> {
                        ++asked;
                        return "s3cret";
                      });
  EXPECT_EQ(given.exit_code, 1);
  EXPECT_EQ(asked, 1);
  // No one to ask: the empty password, which is wrong here.
  Outcome unasked = Run({"sql", "-U", "sa", "-Q", "SELECT 1"}, none,
                        []() -> std::optional<std::string> { return std::nullopt; });
  EXPECT_EQ(unasked.exit_code, 1);
  EXPECT_EQ(unasked.err, "Msg 18456, Level 14, State 1, Line 1\nLogin failed for user 'sa'.\n");
}

// On a terminal drop asks; only yes removes, an unclear answer is asked again.
TEST_F(SqlSessionTest, DropAsksOnATerminal) {
  struct Case {
    std::string typed;
    int exit_code;
    bool removed;
    int questions;
  };
  const std::vector<Case> cases = {
      {"n\n", 1, false, 1},         {"\n", 1, false, 1}, {"", 1, false, 1},
      {"maybe\nno\n", 1, false, 2}, {"y\n", 0, true, 1}, {"YES\n", 0, true, 1},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run({"init", "--name", "Asked"}).exit_code, 0);
    std::istringstream typed(c.typed);
    std::ostringstream out, err;
    int code =
        RunCommand({"--root", root_.string(), "drop", "ASKED"}, Io{typed, out, err, nullptr, true});
    EXPECT_EQ(code, c.exit_code) << c.typed << err.str();
    EXPECT_EQ(fs::exists(root_ / "ASKED"), !c.removed) << c.typed;
    std::string shown = out.str();
    size_t questions = 0;
    for (size_t at = shown.find("? [y/N] "); at != std::string::npos;
         at = shown.find("? [y/N] ", at + 1))
      ++questions;
    EXPECT_EQ(questions, static_cast<size_t>(c.questions)) << c.typed << shown;
    EXPECT_NE(shown.find("Remove the sandbox instance (sandbox)\\ASKED with all its databases"),
              std::string::npos)
        << shown;
    if (!c.removed) {
      EXPECT_NE(shown.find("Nothing was removed."), std::string::npos) << shown;
      std::istringstream none;
      ASSERT_EQ(RunCommand({"--root", root_.string(), "drop", "ASKED", "--yes"},
                           Io{none, out, err, nullptr, false}),
                0);
    }
  }
}

}  // namespace
}  // namespace sandbox_cli
