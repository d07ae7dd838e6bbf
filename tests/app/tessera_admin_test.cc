#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/admin_process.h"
#include "common/messages.h"

namespace {

using admin_testing::Lines;
using admin_testing::RunResult;

class TesseraAdminMessagesTest : public admin_testing::AdminProcessTest {};
class TesseraAdminTest : public admin_testing::AdminProcessTest {};

TEST_F(TesseraAdminMessagesTest, PrintsEveryMessageOnOneLine) {
  RunResult run = Run({"messages"});
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

TEST_F(TesseraAdminMessagesTest, EscapesLineBreaksButNotBackslashesOrTabs) {
  RunResult run = Run({"messages"});
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

TEST_F(TesseraAdminTest, HelpVersionAndBadCommands) {
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("  messages "), std::string::npos);
  // No command at all is a wrong command line: the help, on standard error, and status 2.
  RunResult nothing = Run({});
  EXPECT_EQ(nothing.exit_code, 2);
  EXPECT_EQ(nothing.out, "");
  EXPECT_EQ(nothing.err, help.out);

  RunResult version = Run({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("tessera-admin ", 0), 0u);

  RunResult unknown = Run({"bogus'; [x]"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_NE(unknown.err.find("unknown command 'bogus'; [x]'"), std::string::npos);

  RunResult extra = Run({"messages", "42"});
  EXPECT_EQ(extra.exit_code, 2);
  EXPECT_EQ(extra.out, "");
  EXPECT_NE(extra.err.find("messages"), std::string::npos);
}

}  // namespace
