#include "sandbox/tsql/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox/tsql/parser.h"

namespace sandbox::tsql {
namespace {

using TK = Token::Kind;

std::vector<Token> Lex(std::string_view text, bool quoted_identifier = true) {
  Lexer lexer(text, quoted_identifier);
  return lexer.Tokenize();
}

TEST(LexerTest, NamesKeepTheirSpellingAndLoseTheirQuotes) {
  auto t = Lex("Folder [Order Details] [a]]b] \"x\"\"y\" #Temp ##Global @v @@ROWCOUNT Größe");
  ASSERT_EQ(t.size(), 10u);
  EXPECT_EQ(t[0].kind, TK::kIdentifier);
  EXPECT_EQ(t[0].value, "Folder");
  EXPECT_EQ(t[0].upper, "FOLDER");
  EXPECT_EQ(t[1].kind, TK::kQuotedIdentifier);
  EXPECT_EQ(t[1].value, "Order Details");
  EXPECT_EQ(t[2].value, "a]b");
  EXPECT_EQ(t[3].kind, TK::kQuotedIdentifier);
  EXPECT_EQ(t[3].value, "x\"y");
  EXPECT_EQ(t[4].kind, TK::kIdentifier);
  EXPECT_EQ(t[4].value, "#Temp");
  EXPECT_EQ(t[5].value, "##Global");
  EXPECT_EQ(t[6].kind, TK::kVariable);
  EXPECT_EQ(t[6].value, "@v");
  EXPECT_EQ(t[7].kind, TK::kGlobalVariable);
  EXPECT_EQ(t[7].value, "@@ROWCOUNT");
  EXPECT_EQ(t[8].kind, TK::kIdentifier);
  EXPECT_EQ(t[8].value, "Größe");
  EXPECT_EQ(t[9].kind, TK::kEnd);
}

TEST(LexerTest, ReservedWordsAreMarkedOnlyWhenUnquoted) {
  auto t = Lex("select [select] Name Virtual FILE Status key");
  EXPECT_TRUE(t[0].keyword);
  EXPECT_FALSE(t[1].keyword);
  EXPECT_FALSE(t[2].keyword);
  EXPECT_FALSE(t[3].keyword);
  EXPECT_TRUE(t[4].keyword);
  EXPECT_FALSE(t[5].keyword);
  EXPECT_TRUE(t[6].keyword);
  EXPECT_TRUE(IsReservedWord("IDENTITY_INSERT"));
  EXPECT_FALSE(IsReservedWord("OUTPUT"));
}

TEST(LexerTest, StringsUndoubleQuotesAndSpanLines) {
  auto t = Lex("'it''s' N'Gr''üße' 'a\nb' x");
  EXPECT_EQ(t[0].kind, TK::kString);
  EXPECT_EQ(t[0].value, "it's");
  EXPECT_EQ(t[0].text, "'it''s'");
  EXPECT_EQ(t[1].kind, TK::kUnicodeString);
  EXPECT_EQ(t[1].value, "Gr'üße");
  EXPECT_EQ(t[2].value, "a\nb");
  EXPECT_EQ(t[2].line, 1);
  EXPECT_EQ(t[3].line, 2);
}

TEST(LexerTest, DoubleQuotesFollowQuotedIdentifier) {
  EXPECT_EQ(Lex("\"abc\"", true)[0].kind, TK::kQuotedIdentifier);
  auto off = Lex("\"it's\"", false);
  EXPECT_EQ(off[0].kind, TK::kString);
  EXPECT_EQ(off[0].value, "it's");
}

TEST(LexerTest, Numbers) {
  auto t = Lex("42 1.61 .5 1. 2.5E-3 1e10 $12.50 0x1F2e 0x1 0x 1abc");
  EXPECT_EQ(t[0].kind, TK::kInteger);
  EXPECT_EQ(t[1].kind, TK::kDecimal);
  EXPECT_EQ(t[1].value, "1.61");
  EXPECT_EQ(t[2].kind, TK::kDecimal);
  EXPECT_EQ(t[3].kind, TK::kDecimal);
  EXPECT_EQ(t[4].kind, TK::kFloat);
  EXPECT_EQ(t[4].value, "2.5E-3");
  EXPECT_EQ(t[5].kind, TK::kFloat);
  EXPECT_EQ(t[6].kind, TK::kMoney);
  EXPECT_EQ(t[6].value, "12.50");
  EXPECT_EQ(t[7].kind, TK::kBinary);
  EXPECT_EQ(t[7].value, std::string("\x1F\x2E"));
  EXPECT_EQ(t[8].value, std::string("\x01"));  // an odd digit count gets a leading zero
  EXPECT_EQ(t[9].kind, TK::kBinary);
  EXPECT_EQ(t[9].value, "");
  // A number runs into a name as two tokens, as on SQL Server ("SELECT 1abc" is 1 AS abc).
  EXPECT_EQ(t[10].kind, TK::kInteger);
  EXPECT_EQ(t[11].value, "abc");
}

TEST(LexerTest, OperatorsTakeTheLongestMatch) {
  auto t = Lex("<> != <= >= !< !> < > = + - * / % & | ^ ~ :: ( ) , . ;");
  std::vector<std::string> texts;
  for (const Token& tok : t) {
    if (tok.kind == TK::kSymbol) texts.emplace_back(tok.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"<>", "!=", "<=", ">=", "!<", "!>", "<", ">",
                                             "=",  "+",  "-",  "*",  "/",  "%",  "&", "|",
                                             "^",  "~",  "::", "(",  ")",  ",",  ".", ";"}));
}

TEST(LexerTest, CommentsNestAndCountLines) {
  auto t = Lex("a -- rest of line\n/* one /* two */ still\ncomment */ b\n\nc");
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].line, 1);
  EXPECT_EQ(t[1].value, "b");
  EXPECT_EQ(t[1].line, 3);
  EXPECT_EQ(t[2].line, 5);
  // "--" inside a string is no comment; "a-b" and "a--b" differ.
  auto s = Lex("'--x' a-b a--b");
  EXPECT_EQ(s[0].value, "--x");
  EXPECT_EQ(s.size(), 6u);  // '--x' a - b a <end>
}

TEST(LexerTest, OffsetsCutTheOriginalText) {
  std::string text = "SELECT  [a b]\n FROM t";
  auto t = Lex(text);
  EXPECT_EQ(text.substr(t[1].begin, t[1].end - t[1].begin), "[a b]");
  EXPECT_EQ(t[2].begin, text.find("FROM"));
  EXPECT_EQ(t[2].line, 2);
}

TEST(LexerTest, LexicalErrors) {
  try {
    Lex("SELECT 'abc\ndef");
    FAIL();
  } catch (const ParseError& e) {
    EXPECT_EQ(e.number(), 105);
    EXPECT_EQ(e.message(), "Unclosed quotation mark before the character string 'abc\ndef'.");
    EXPECT_EQ(e.line(), 1);
  }
  try {
    Lex("a\n/* /* */");
    FAIL();
  } catch (const ParseError& e) {
    EXPECT_EQ(e.number(), 113);
    EXPECT_EQ(e.message(), "Missing end comment mark '*/'.");
    EXPECT_EQ(e.line(), 2);
  }
}

}  // namespace
}  // namespace sandbox::tsql
