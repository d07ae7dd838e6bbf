#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/admin_process.h"
#include "common/messages.h"
#include "common/version.h"

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
  for (const char* part :
       {"\n39\tYou do not have the permission to create new network collections on SQL Server "
        "'[*]'.\\nYou must be a member of the fixed server role 'sysadmin' or 'dbcreator'.\n",
        "type the name as follows:\\nDOMAIN\\Username or WORKSTATION\\Username.\n",
        "\n291\tCREATE PROCEDURE DeleteFolder\\n@FolderID SMALLINT\\nAs\\n",
        "FieldType=2\\nDROP TABLE #TempFolder\\n\\nIF (@FolderID=600)\\n",
        "\\n\tDELETE FROM Folder FROM #TempFolder",
        "\n292\tCREATE Procedure DeleteDoc (@EntryID INT) \\nAs \\n",
        "DROP TABLE #TempDocument3\\nCOMMIT TRANSACTION\n"}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part;
  }
}

TEST_F(TesseraAdminTest, HelpVersionAndBadCommands) {
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("  messages "), std::string::npos);
  RunResult version = Run({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("tessera-admin ") + common::kProductVersion + "\n");

  // Wrong command lines: status 2 and nothing on standard output. No command at all, global
  // options alone included, gets the help on standard error.
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{}, help.out},
      {{"--tsv", "--yes"}, help.out},
      {{"bogus'; [x]"},
       "tessera-admin: unknown command 'bogus'; [x]'\nTry 'tessera-admin --help'.\n"},
      {{"messages", "42"},
       "tessera-admin: 'messages' takes no arguments; '42' is one too many\n"
       "Try 'tessera-admin messages --help'.\n"},
  };
  for (const Case& c : cases) {
    RunResult run = Run(c.args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

}  // namespace
