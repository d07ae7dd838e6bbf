#include "common/printf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/error.h"

namespace common {
namespace {

// Runs printf and returns the error it raised; fails the test when it raised none.
Error ErrorOf(std::string_view format, const std::vector<Value>& values) {
  try {
    std::string result = printf(format, values);
    ADD_FAILURE() << "no error, result: " << result;
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "", "");
}

TEST(PrintfTest, ErrorNumbersAreTheSignedObjectErrors) {
  EXPECT_EQ(kErrPrintfMissingBracket, -2147221503);
  EXPECT_EQ(kErrPrintfMissingValue, -2147221502);
  EXPECT_EQ(kErrPrintfScriptCode, -2147221501);
}

TEST(PrintfTest, FillsPlaceholdersInOrder) {
  EXPECT_EQ(printf("[*] owns [*]", {"sa", "Sales"}), "sa owns Sales");
  EXPECT_EQ(printf("no placeholders", {}), "no placeholders");
  EXPECT_EQ(printf("", {}), "");
  EXPECT_EQ(printf("[*]|[*]|[*]", {Value(), 42, true}), "|42|True");
  EXPECT_EQ(printf("extra values are ignored: [*]", {"a", "b", "c"}),
            "extra values are ignored: a");
}

TEST(PrintfTest, EscapesBecomeCharactersBeforeScanning) {
  EXPECT_EQ(printf("a\\[b]", {}), "a[b]");
  EXPECT_EQ(printf("C:\\\\temp", {}), "C:\\temp");
  EXPECT_EQ(printf("one\\ntwo", {}), "one\r\ntwo");
  EXPECT_EQ(printf("a\\tb\\rc", {}), "a\tb\rc");
  // The doubled backslash wins: a backslash followed by the letters n and t.
  EXPECT_EQ(printf("\\\\n\\\\t", {}), "\\n\\t");
  // Escapes are case-sensitive.
  EXPECT_EQ(printf("\\N\\T", {}), "\\N\\T");
  EXPECT_EQ(printf("[(][\\]", {}), "[\\");
  EXPECT_EQ(printf("\\[*] is [*]", {"x"}), "[*] is x");
  // A real line feed in a message text stays as it is.
  EXPECT_EQ(printf("a\nb [*]", {"c"}), "a\nb c");
}

TEST(PrintfTest, ExplicitValuesDoNotMoveTheRunningIndex) {
  EXPECT_EQ(printf("[2:*] and [*]", {"X", "Y"}), "Y and X");
  EXPECT_EQ(printf("[1:*][2:*]", {"X", "Y"}), "XY");
  EXPECT_EQ(printf("[9:*]", {"X", "Y"}), "Y");
  EXPECT_EQ(printf("[*] [1:*] [*]", {"X", "Y"}), "X X Y");
  EXPECT_EQ(printf("[2:][*]", {"X", "Y"}), "X");
  EXPECT_EQ(printf("[2:0.0]", {1, 2.25}), "2.3");
  // "0:" is no explicit value: it is a pattern, and the running index moves on.
  EXPECT_EQ(printf("[0:*][*]", {"X", "Y"}), "XY");
}

TEST(PrintfTest, EmptyPlaceholderSkipsAValue) {
  EXPECT_EQ(printf("[*][][*]", {"A", "B", "C"}), "AC");
  EXPECT_EQ(printf("[]", {}), "");
  EXPECT_EQ(printf("x[][][*]", {1, 2, 3}), "x3");
}

TEST(PrintfTest, InsertedValuesAreNotScannedAgain) {
  EXPECT_EQ(printf("[*]", {"[*]"}), "[*]");
  EXPECT_EQ(printf("[*]-[*]", {"[x", "y"}), "[x-y");
  EXPECT_EQ(printf("[*]", {"[=Now]"}), "[=Now]");
  EXPECT_EQ(printf("'[*]'", {"O'Brien\"; DROP TABLE x; --"}), "'O'Brien\"; DROP TABLE x; --'");
}

TEST(PrintfTest, PatternsFormatTheValue) {
  EXPECT_EQ(printf("[0.00]", {3.14159}), "3.14");
  EXPECT_EQ(printf("[#,##0] bytes", {1234567}), "1,234,567 bytes");
  EXPECT_EQ(printf("[yyyy-mm-dd]", {DateTime{2003, 7, 14, 9, 5, 3}}), "2003-07-14");
}

TEST(PrintfTest, MissingValueNamesThePlaceholder) {
  Error e = ErrorOf("Server '[*]'", {});
  EXPECT_EQ(e.number(), kErrPrintfMissingValue);
  EXPECT_EQ(e.source(), "printf");
  EXPECT_EQ(e.description(), "Missing value in printf-call for format string '[*]'!");
  EXPECT_TRUE(e.description().ends_with("[*]'!"));

  e = ErrorOf("[*] [0.00]", {"only one"});
  EXPECT_EQ(e.description(), "Missing value in printf-call for format string '[0.00]'!");
  e = ErrorOf("[1:*]", {});
  EXPECT_EQ(e.number(), kErrPrintfMissingValue);
  e = ErrorOf("[2:x]", {});
  EXPECT_EQ(e.description(), "Missing value in printf-call for format string '[x]'!");
}

TEST(PrintfTest, ScriptCodeIsRefused) {
  Error e = ErrorOf("[=Now]", {"x"});
  EXPECT_EQ(e.number(), kErrPrintfScriptCode);
  EXPECT_EQ(e.source(), "sprintf");
  EXPECT_EQ(e.description(),
            "No script code allowed in placeholder string. Use the sprintf COM-component instead.");
  EXPECT_EQ(ErrorOf("[1:=x]", {"x"}).number(), kErrPrintfScriptCode);
}

TEST(PrintfTest, MissingBracketGivesThePositionInTheWorkingText) {
  Error e = ErrorOf("ab[abc", {});
  EXPECT_EQ(e.number(), kErrPrintfMissingBracket);
  EXPECT_EQ(e.source(), "printf");
  EXPECT_EQ(e.description(), "Missing ']' after '[' at position 3!");
  // Positions count in the text after earlier placeholders were filled.
  EXPECT_EQ(ErrorOf("[*] [x", {"long value"}).description(),
            "Missing ']' after '[' at position 12!");
  EXPECT_EQ(ErrorOf("[", {}).description(), "Missing ']' after '[' at position 1!");
}

TEST(PrintfTest, LongTextsWithManyPlaceholders) {
  std::string format;
  std::vector<Value> values;
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    format += "<[*]>";
    values.emplace_back(std::string(50, static_cast<char>('a' + i % 26)));
    expected += "<" + std::string(50, static_cast<char>('a' + i % 26)) + ">";
  }
  EXPECT_EQ(printf(format, values), expected);
}

}  // namespace
}  // namespace common
