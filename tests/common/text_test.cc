#include "common/text.h"

#include <gtest/gtest.h>

#include <string>

namespace common {
namespace {

TEST(ReplaceTextTest, ReplacesLeftToRightWithinCountAndFromStart) {
  EXPECT_EQ(ReplaceText("a-b-c-d", "-", "+"), "a+b+c+d");
  EXPECT_EQ(ReplaceText("a-b-c-d", "-", "+", 1, 2), "a+b+c-d");
  EXPECT_EQ(ReplaceText("a-b-c-d", "-", "+", 4), "a-b+c+d");  // the text before start is kept
  EXPECT_EQ(ReplaceText("a-b-c-d", "-", "+", 4, 1), "a-b+c-d");
  EXPECT_EQ(ReplaceText("a-b", "-", "+", 0), "a+b");
  EXPECT_EQ(ReplaceText("a-b", "-", "+", 99), "a-b");
  EXPECT_EQ(ReplaceText("a-b-c", "-", "+", 1, 0), "a-b-c");
  EXPECT_EQ(ReplaceText("a-b-c", "-", "+", 1, -1), "a+b+c");
  EXPECT_EQ(ReplaceText("aaaa", "aa", "b"), "bb");    // occurrences do not overlap
  EXPECT_EQ(ReplaceText("aXa", "a", "aa"), "aaXaa");  // replacements are not searched again
  EXPECT_EQ(ReplaceText("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceText("", "a", "x"), "");
  EXPECT_EQ(ReplaceText("ab", "ab", ""), "");
}

TEST(ReplaceTextTest, IgnoringCaseKeepsTheLettersOfTheInput) {
  EXPECT_EQ(ReplaceText("Select * FROM t; select 1", "SELECT", "X", 1, kReplaceAll, true),
            "X * FROM t; X 1");
  EXPECT_EQ(ReplaceText("Quillarchive_Sales", "QUILLARCHIVE_", "", 1, kReplaceAll, true), "Sales");
  EXPECT_EQ(ReplaceText("ABC abc", "b", "-", 1, kReplaceAll, true), "A-C a-c");
  EXPECT_EQ(ReplaceText("ABC abc", "b", "-", 1, kReplaceAll, false), "ABC a-c");
  // Non-ASCII letters are compared as they are.
  EXPECT_EQ(ReplaceText("Äpfel äpfel", "äpfel", "x", 1, kReplaceAll, true), "Äpfel x");
}

TEST(MakeValidFileNameTest, ReplacesEachForbiddenCharacterByOneBlank) {
  EXPECT_EQ(MakeValidFileName("a\\b/c:d*e?f<g>h|i\"j"), "a b c d e f g h i j");
  EXPECT_EQ(MakeValidFileName("??"), "  ");
  EXPECT_EQ(MakeValidFileName("Bericht (2003) [final]; 'x'.txt"),
            "Bericht (2003) [final]; 'x'.txt");
  EXPECT_EQ(MakeValidFileName("Grüße.htm"), "Grüße.htm");
  EXPECT_EQ(MakeValidFileName(""), "");
  std::string long_name(5000, '*');
  EXPECT_EQ(MakeValidFileName(long_name), std::string(5000, ' '));
}

TEST(IsValidNameTest, OnlyEnglishLettersDigitsAndUnderscore) {
  EXPECT_TRUE(IsValidName(""));
  EXPECT_TRUE(IsValidName("Sales_2003"));
  EXPECT_TRUE(IsValidName("_"));
  EXPECT_TRUE(IsValidName("azAZ09"));
  for (const char* bad : {"Sales-2003", "a b", "Über", "x'y", "a;DROP", "[a]", "a.b", "tab\t", "@",
                          "`", "{", "/", ":"}) {
    EXPECT_FALSE(IsValidName(bad)) << bad;
  }
  EXPECT_FALSE(IsValidName(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace common
