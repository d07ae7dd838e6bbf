#include "format/procedures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace format {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

TEST(ProceduresTest, NamesTheViewAndEighteenProceduresOnceEach) {
  const auto objects = ViewAndProcedures();
  ASSERT_EQ(objects.size(), 19u);
  EXPECT_EQ(objects.front().name, "SearchFolderView");
  std::set<std::string_view> names;
  for (const auto& object : objects) {
    EXPECT_TRUE(names.insert(object.name).second) << "named twice: " << object.name;
  }
  const std::set<std::string_view> expected = {
      "SearchFolderView",   "DocByID",      "DocByUrl",      "DocByUrlSize",
      "DocWithSub",         "DocsInFolder", "DocsSub",       "DocsWithCategory",
      "FolderByID",         "FoldersRoot",  "FoldersOpen",   "FoldersSub",
      "DocCount",           "FolderCount",  "CategoriesSub", "InsertSearchFolder",
      "RemoveSearchFolder", "DeleteDoc",    "DeleteFolder"};
  EXPECT_EQ(names, expected);
}

// A text that creates another object than its name says would leave the format without it.
TEST(ProceduresTest, EachTextCreatesTheObjectItIsNamedFor) {
  for (const auto& object : ViewAndProcedures()) {
    const std::string name(object.name);
    const std::string& text = object.creation_text;
    if (name == "SearchFolderView") {
      EXPECT_THAT(text, testing::StartsWith("CREATE VIEW dbo.SearchFolderView AS SELECT "));
    } else if (name == "DeleteDoc") {
      EXPECT_THAT(text, testing::StartsWith("CREATE Procedure DeleteDoc (@EntryID INT) \n"));
    } else if (name == "DeleteFolder") {
      EXPECT_THAT(text, testing::StartsWith("CREATE PROCEDURE DeleteFolder\n@FolderID SMALLINT\n"));
    } else {
      EXPECT_THAT(text, testing::StartsWith("CREATE PROCEDURE dbo." + name + " "));
      EXPECT_EQ(text.find('\n'), std::string::npos) << name << " is one line";
    }
    EXPECT_EQ(text.find('\r'), std::string::npos) << name;
  }
}

// Dropped or doubled brackets are the typical fault when long texts are copied.
TEST(ProceduresTest, ParenthesesAndBracketsBalance) {
  for (const auto& object : ViewAndProcedures()) {
    int depth = 0;
    for (char c : object.creation_text) {
      if (c == '(') ++depth;
      if (c == ')') --depth;
      ASSERT_GE(depth, 0) << object.name;
    }
    EXPECT_EQ(depth, 0) << object.name;
  }
}

TEST(ProceduresTest, SpotChecksOfExactTexts) {
  EXPECT_EQ(CreationText("SearchFolderView"),
            "CREATE VIEW dbo.SearchFolderView AS SELECT Folder.* FROM Folder INNER JOIN SubFolder "
            "ON Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID = 500)");
  EXPECT_EQ(CreationText("FolderCount"),
            "CREATE PROCEDURE dbo.FolderCount AS SELECT Count(FolderID) AS FolderCount FROM Folder "
            "WHERE FolderID > 1000");
  EXPECT_EQ(CreationText("DocByUrl"),
            "CREATE PROCEDURE dbo.DocByUrl @sUrl NVARCHAR(4000) AS SELECT Document.* From Document "
            "WHERE ((Document.Url) = @sUrl);");
  EXPECT_THAT(CreationText("InsertSearchFolder").value(),
              testing::EndsWith("IF @FolderID < 1000 BEGIN SET @FolderID = 1001 END INSERT INTO "
                                "Folder (FolderID, Name, CreationTime) VALUES (@FolderID, "
                                "@FolderName, GETDATE()) INSERT INTO SubFolder (ParentFolderID, "
                                "ChildFolderID) VALUES (500, @FolderID)"));
  EXPECT_THAT(CreationText("FoldersOpen").value(),
              testing::HasSubstr("WHERE Folder.FolderID > 1000 AND Folder_1.Expanded = 1 OR "
                                 "Folder.FolderID > 1000 AND Folder_1.Expanded = 0 AND "
                                 "SubFolder.ParentFolderID = 1 ORDER BY Folder.Name;"));
}

TEST(ProceduresTest, UnknownOrHostileNamesHaveNoText) {
  EXPECT_TRUE(CreationText("DocByID").has_value());
  EXPECT_FALSE(CreationText("").has_value());
  EXPECT_FALSE(CreationText("docbyid").has_value());
  EXPECT_FALSE(CreationText("dbo.DocByID").has_value());
  EXPECT_FALSE(CreationText("DocByID'; DROP TABLE Document; --").has_value());
  EXPECT_FALSE(CreationText("[DocByID]").has_value());
  EXPECT_FALSE(CreationText(std::string(10000, 'D')).has_value());
}

TEST(ProceduresTest, DeleteDocIsTwentyOneLinesJoinedByLineFeeds) {
  const std::string text = DeleteDocText();
  EXPECT_EQ(CreationText("DeleteDoc"), text);
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_NE(text.back(), '\n');
  // The first twelve lines keep their trailing blank, the rest have none.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(!lines[i].empty() && lines[i].back() == ' ', i < 12) << "line " << i + 1;
  }
  EXPECT_EQ(lines[7].substr(0, 30), "\tINSERT INTO #TempDocument1 (E");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 1);
  EXPECT_EQ(lines[10],
            "SELECT #TempDocument1.EntryID INTO #TempDocument3 FROM #TempDocument1 LEFT JOIN "
            "#TempDocument2 ON #TempDocument1.EntryID=#TempDocument2.EntryID WHERE "
            "(((#TempDocument2.EntryID) Is Null) AND (#TempDocument1.EntryID > 1)) ");
  EXPECT_EQ(lines[20], "COMMIT TRANSACTION");
}

TEST(ProceduresTest, DeleteFolderIsFortyOneLinesWithItsTabsAndEmptyLine) {
  const std::string text = DeleteFolderText();
  EXPECT_EQ(CreationText("DeleteFolder"), text);
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_NE(text.back(), '\n');
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool tabbed = i >= 32 && i <= 34;
    EXPECT_EQ(!lines[i].empty() && lines[i][0] == '\t', tabbed) << "line " << i + 1;
    EXPECT_EQ(lines[i].empty(), i == 37) << "line " << i + 1;
    if (!lines[i].empty()) {
      EXPECT_NE(lines[i].back(), ' ') << "line " << i + 1;
    }
  }
  EXPECT_EQ(lines[30], "ELSE");
  EXPECT_EQ(lines[38], "IF (@FolderID=600)");
  EXPECT_EQ(lines[39], "UPDATE Document SET FolderID=0 WHERE FolderID=600");
  EXPECT_EQ(lines[23],
            "DELETE FROM Document FROM Document INNER JOIN #TempDocument ON Document.EntryID = "
            "#TempDocument.EntryID WHERE Document.EntryID>1");
}

}  // namespace
}  // namespace format
