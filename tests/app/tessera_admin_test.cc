#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/messages.h"

namespace {

struct RunResult {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

std::string Quote(const std::string& arg) {
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

std::string ReadAll(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

// Runs tessera-admin with the arguments, capturing both output streams.
RunResult RunAdmin(const std::vector<std::string>& args) {
  std::string err_file = std::string(TESSERA_BINARY_DIR) + "/tessera_admin_test." +
                         std::to_string(::getpid()) + ".stderr";
  std::string command = Quote(TESSERA_ADMIN);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " 2>" + Quote(err_file);
  RunResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = ::pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = ReadAll(err_file);
  std::remove(err_file.c_str());
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
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

TEST(TesseraAdminMessagesTest, PrintsEveryMessageOnOneLine) {
  RunResult run = RunAdmin({"messages"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_EQ(run.out.find('\r'), std::string::npos);

  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 288u);
  EXPECT_EQ(lines.front(), "1\tTessera Server Manager");
  EXPECT_EQ(lines.back(), "357\tLog file: File Size");
  int previous = 0;
  for (const std::string& line : lines) {
    size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    int number = std::stoi(line.substr(0, tab));
    EXPECT_EQ(std::to_string(number), line.substr(0, tab));
    EXPECT_GT(number, previous);
    previous = number;

    // Undoing the escapes gives the message back exactly.
    std::string text;
    for (size_t i = tab + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == 'n' || line[i + 1] == 'r')) {
        text += line[i + 1] == 'n' ? '\n' : '\r';
        ++i;
      } else {
        text += line[i];
      }
    }
    EXPECT_EQ(text, common::LoadMessage(number)) << number;
  }
}

TEST(TesseraAdminMessagesTest, EscapesLineBreaksButNotBackslashesOrTabs) {
  RunResult run = RunAdmin({"messages"});
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_NE(
      run.out.find("\n39\tYou do not have the permission to create new network collections on "
                   "SQL Server '[*]'.\\nYou must be a member of the fixed server role "
                   "'sysadmin' or 'dbcreator'.\n"),
      std::string::npos);
  EXPECT_NE(
      run.out.find("type the name as follows:\\nDOMAIN\\Username or WORKSTATION\\Username.\n"),
      std::string::npos);
  EXPECT_NE(run.out.find("\n291\tCREATE PROCEDURE DeleteFolder\\n@FolderID SMALLINT\\nAs\\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("FieldType=2\\nDROP TABLE #TempFolder\\n\\nIF (@FolderID=600)\\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("\\n\tDELETE FROM Folder FROM #TempFolder"), std::string::npos);
  EXPECT_NE(run.out.find("\n292\tCREATE Procedure DeleteDoc (@EntryID INT) \\nAs \\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("DROP TABLE #TempDocument3\\nCOMMIT TRANSACTION\n"), std::string::npos);
}

TEST(TesseraAdminTest, HelpVersionAndBadCommands) {
  RunResult help = RunAdmin({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("  messages "), std::string::npos);
  EXPECT_EQ(RunAdmin({}).out, help.out);

  RunResult version = RunAdmin({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("tessera-admin ", 0), 0u);

  RunResult unknown = RunAdmin({"bogus'; [x]"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_NE(unknown.err.find("unknown command 'bogus'; [x]'"), std::string::npos);

  RunResult extra = RunAdmin({"messages", "42"});
  EXPECT_EQ(extra.exit_code, 2);
  EXPECT_EQ(extra.out, "");
  EXPECT_NE(extra.err.find("messages"), std::string::npos);
}

}  // namespace
