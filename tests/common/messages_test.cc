#include "common/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/printf.h"

namespace common {
namespace {

int CountPlaceholders(std::string_view text) {
  int count = 0;
  for (size_t at = text.find("[*]"); at != std::string_view::npos; at = text.find("[*]", at + 3)) {
    ++count;
  }
  return count;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

TEST(MessageTableTest, HoldsTheNumbersInOrderAndRefusesOthers) {
  auto table = AllMessages();
  ASSERT_EQ(table.size(), 288u);
  EXPECT_EQ(table.front().number, 1);
  EXPECT_EQ(table.back().number, 357);
  EXPECT_TRUE(std::is_sorted(table.begin(), table.end(),
                             [](const auto& a, const auto& b) { return a.number <= b.number; }));
  for (int unused : {0, 2, 170, 210, 269, 285, 290, 293, 342, 343, 358, -1, 65536}) {
    EXPECT_FALSE(HasMessage(unused)) << unused;
    try {
      LoadMessage(unused);
      ADD_FAILURE() << "message " << unused << " loaded";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrMessageNotFound);
      EXPECT_NE(e.description().find(std::to_string(unused)), std::string::npos);
    }
  }
  EXPECT_TRUE(HasMessage(291));
  EXPECT_TRUE(HasMessage(169));
  EXPECT_TRUE(HasMessage(211));
}

TEST(MessageTableTest, KeepsSpacingTyposQuotesAndBackslashesExactly) {
  EXPECT_EQ(LoadMessage(1), "Tessera Server Manager");
  EXPECT_EQ(LoadMessage(9), " (Windows NT)");
  EXPECT_EQ(LoadMessage(113),
            "The members of the server role  'sysadmin' can perform any activity on SQL Servers "
            "and have complete control over all collections.");
  EXPECT_EQ(LoadMessage(238), "Security administrator  (db_securityadmin)");
  EXPECT_EQ(LoadMessage(40),
            "You do not have the permission to execute this command. You must be a \nmember of the "
            "fixed server role 'sysadmin' or database role 'db_owner'.");
  EXPECT_EQ(LoadMessage(59), "The follwong error occurred when removing a collection user:");
  EXPECT_EQ(LoadMessage(65),
            "There following error occurred when trying to start the SQL Server '[*]'.");
  EXPECT_EQ(LoadMessage(66), "Do you want to stop the SQL Server '[*]' ?");
  EXPECT_EQ(LoadMessage(120), "The following error ocurred when editing a login:");
  EXPECT_EQ(LoadMessage(346), "This SQL Server does not support ful-text indexing.");
  EXPECT_EQ(
      LoadMessage(126),
      "Please type only characters from the English\nalphabet, numbers, or the underscore _ .");
  EXPECT_EQ(LoadMessage(131),
            "This file already exists. Please choose a different name for the file,\nor click "
            "\"Browse...\" to select a different folder.");
  EXPECT_EQ(LoadMessage(116),
            "You can only select user accounts if you run Windows NT based operating systems.\nIf "
            "you want to add a Windows NT user, type the name as follows:\nDOMAIN\\Username or "
            "WORKSTATION\\Username.");
  EXPECT_EQ(LoadMessage(242),
            "You do not have the permission to add new users. To do this, you must\nbe member of "
            "the database roles 'db_owner' or 'db_securityadmin,\nor member of the fixed server "
            "roles 'sysadmin' or 'securityadmin'.");
  EXPECT_EQ(
      LoadMessage(135),
      "The network collection '[*]' has been created and attached to SQL Server.\n\n\nTessera "
      "users can now open the collection and save documents in it.");
  EXPECT_EQ(Lines(LoadMessage(315)).size(), 9u);
  EXPECT_EQ(Lines(LoadMessage(349)).size(), 9u);
}

TEST(MessageTableTest, TextsAreSingleLineFeedTextsWithoutStrayCharacters) {
  int doubled_spaces = 0;
  for (const MessageEntry& entry : AllMessages()) {
    std::string_view text = entry.text;
    EXPECT_FALSE(text.empty()) << entry.number;
    EXPECT_EQ(text.find('\r'), std::string_view::npos) << entry.number;
    EXPECT_NE(text.back(), '\n') << entry.number;
    EXPECT_EQ(text.find("\\n"), std::string_view::npos) << entry.number;  // converted, not kept
    for (char c : text) {
      EXPECT_TRUE(c == '\n' || c == '\t' || (c >= 32 && c < 127)) << entry.number;
    }
    if (entry.number != 291 && entry.number != 292) {
      EXPECT_EQ(text.find('\t'), std::string_view::npos) << entry.number;
      for (size_t at = text.find("  "); at != std::string_view::npos;
           at = text.find("  ", at + 1)) {
        ++doubled_spaces;
      }
    }
  }
  EXPECT_EQ(doubled_spaces, 2);  // 113 and 238
}

TEST(MessageTableTest, PlaceholderCountsMatchWhatCallersPass) {
  int total = 0;
  for (const MessageEntry& entry : AllMessages()) total += CountPlaceholders(entry.text);
  EXPECT_EQ(total, 44);
  const std::vector<std::pair<int, int>> expected = {
      {39, 1},  {42, 2},  {123, 1}, {128, 1}, {135, 1}, {214, 1}, {259, 2}, {309, 2},
      {317, 1}, {352, 3}, {1, 0},   {40, 0},  {53, 0},  {291, 0}, {292, 0}};
  for (auto [number, count] : expected) {
    EXPECT_EQ(CountPlaceholders(LoadMessage(number)), count) << number;
  }
  // Every message fills with exactly its own number of values, and misses one value less.
  for (const MessageEntry& entry : AllMessages()) {
    int count = CountPlaceholders(entry.text);
    std::vector<Value> values(static_cast<size_t>(count), Value("V"));
    std::string filled;
    ASSERT_NO_THROW(filled = FormatMessage(entry.number, values)) << entry.number;
    EXPECT_EQ(CountPlaceholders(filled), 0) << entry.number;
    if (count > 0) {
      values.pop_back();
      EXPECT_THROW(FormatMessage(entry.number, values), Error) << entry.number;
    }
  }
}

TEST(MessageTableTest, FillsMessagesInPlaceholderOrder) {
  EXPECT_EQ(FormatMessage(309, {"sa", "Sales"}),
            "The user 'sa' is currently the owner of the database 'Sales'\nand thus he cannot be "
            "deleted until you change the owner of this database.");
  EXPECT_EQ(FormatMessage(352, {"Archiv", "1.50", "1.61"}),
            "The network collection 'Archiv' has the database version 1.50.\nIt can be updated to "
            "version 1.61 now.\nThe collection will remain backward compatible.\n\nDo you want to "
            "convert the collection now (recommended)?\nNote: If you choose No, you will be asked "
            "again at next startup.");
  // A hostile name goes in as it is and is not read as a placeholder.
  EXPECT_EQ(FormatMessage(45, {"x'];[*]; DROP TABLE Folder --"}),
            "Do you want to delete the network collection 'x'];[*]; DROP TABLE Folder --'?\nAll "
            "data will be lost permanently!");
}

TEST(MessageTableTest, DeleteFolderScriptHasItsLinesAndTabs) {
  std::string text = LoadMessage(291);
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(text.rfind(
                "CREATE PROCEDURE DeleteFolder\n@FolderID SMALLINT\nAs\nDECLARE @Virtual BIT\n", 0),
            0u);
  EXPECT_TRUE(text.ends_with(
      "DROP TABLE #TempFolder\n\nIF (@FolderID=600)\nUPDATE Document SET FolderID=0 WHERE "
      "FolderID=600\nCOMMIT TRANSACTION"));
  for (size_t i = 0; i < lines.size(); ++i) {
    bool tabbed = i == 32 || i == 33 || i == 34;
    EXPECT_EQ(!lines[i].empty() && lines[i][0] == '\t', tabbed) << "line " << i + 1;
    if (tabbed) {
      EXPECT_NE(lines[i][1], '\t');
    }
    EXPECT_EQ(lines[i].empty(), i == 37) << "line " << i + 1;
  }
  EXPECT_EQ(lines[32],
            "\tDELETE FROM Folder FROM #TempFolder INNER JOIN Folder ON #TempFolder.FolderID = "
            "Folder.FolderID WHERE Folder.FolderID > 1000");
  EXPECT_EQ(lines[30], "ELSE");
}

TEST(MessageTableTest, DeleteDocScriptKeepsTrailingBlanks) {
  std::string text = LoadMessage(292);
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], "CREATE Procedure DeleteDoc (@EntryID INT) ");
  EXPECT_EQ(lines[1], "As ");
  EXPECT_EQ(lines[6], "BEGIN ");
  EXPECT_EQ(lines[8], "End ");
  EXPECT_EQ(lines[12],
            "DELETE FROM SubDocument FROM #TempDocument3 INNER JOIN SubDocument ON "
            "#TempDocument3.EntryID = SubDocument.ParentEntryID");
  EXPECT_EQ(lines[20], "COMMIT TRANSACTION");
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i][0] == '\t', i == 7) << "line " << i + 1;
  }
  EXPECT_TRUE(lines[7].starts_with("\tINSERT INTO #TempDocument1 (EntryID) SELECT DISTINCT"));
  // Lines 1 to 11 end in a blank, the DELETE and DROP lines do not.
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].back() == ' ', i <= 11) << "line " << i + 1;
  }
}

}  // namespace
}  // namespace common
