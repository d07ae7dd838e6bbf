#include "servers/sql_text.h"

#include <gtest/gtest.h>

#include "servers/registration_keys.h"

namespace servers {
namespace {

TEST(QuoteTextTest, DoublesEmbeddedQuotesOnly) {
  EXPECT_EQ(QuoteText("sa"), "'sa'");
  EXPECT_EQ(QuoteText(""), "''");
  EXPECT_EQ(QuoteText("O'Brien"), "'O''Brien'");
  EXPECT_EQ(QuoteText("'); DROP LOGIN sa --"), "'''); DROP LOGIN sa --'");
  EXPECT_EQ(QuoteText("CORP\\jane [x]"), "'CORP\\jane [x]'");
  std::string long_text(5000, '\'');
  EXPECT_EQ(QuoteText(long_text).size(), 10002u);
}

TEST(QuoteDatabaseNameTest, PlainNamesStayBareOthersAreBracketed) {
  EXPECT_EQ(QuoteDatabaseName("master"), "master");
  EXPECT_EQ(QuoteDatabaseName("Quillarchive_Sales"), "Quillarchive_Sales");
  EXPECT_EQ(QuoteDatabaseName("_x1$"), "_x1$");
  EXPECT_EQ(QuoteDatabaseName("Odd Name"), "[Odd Name]");
  EXPECT_EQ(QuoteDatabaseName("x]; DROP DATABASE y --"), "[x]]; DROP DATABASE y --]");
  // One name: dots and brackets are part of it, not syntax.
  EXPECT_EQ(QuoteDatabaseName("a.b"), "[a.b]");
  EXPECT_EQ(QuoteDatabaseName("[x]"), "[[x]]]");
  EXPECT_EQ(QuoteDatabaseName("1st"), "[1st]");
  EXPECT_EQ(QuoteDatabaseName("#temp"), "[#temp]");
  EXPECT_EQ(QuoteDatabaseName("@v"), "[@v]");
  EXPECT_EQ(QuoteDatabaseName("select"), "[select]");
  EXPECT_EQ(QuoteDatabaseName("Größe"), "[Größe]");
  EXPECT_EQ(QuoteDatabaseName(""), "[]");
}

TEST(FindNoCaseTest, FindsTheFirstOccurrenceWhateverTheCase) {
  EXPECT_EQ(FindNoCase("Quillarchive_Sales", "Quillarchive_"), 0u);
  EXPECT_EQ(FindNoCase("old_QUILLARCHIVE_quillarchive_x", "Quillarchive_"), 4u);
  EXPECT_EQ(FindNoCase("Quillarchiv", "Quillarchive_"), std::string::npos);
  EXPECT_EQ(FindNoCase("", "x"), std::string::npos);
  EXPECT_TRUE(EqualsNoCase("DBO", "dbo"));
  EXPECT_FALSE(EqualsNoCase("dbo", "dbo "));
}

TEST(ParseServerIdTest, AcceptsOnlyTheFormIdentifiersAreWrittenIn) {
  EXPECT_EQ(ParseServerId("1"), 1);
  EXPECT_EQ(ParseServerId("0"), 0);
  EXPECT_EQ(ParseServerId("2147483647"), 2147483647);
  EXPECT_EQ(ParseServerId("2147483648"), std::nullopt);
  EXPECT_EQ(ParseServerId("007"), std::nullopt);
  EXPECT_EQ(ParseServerId("-1"), std::nullopt);
  EXPECT_EQ(ParseServerId("+1"), std::nullopt);
  EXPECT_EQ(ParseServerId(" 1"), std::nullopt);
  EXPECT_EQ(ParseServerId("1a"), std::nullopt);
  EXPECT_EQ(ParseServerId(""), std::nullopt);
  EXPECT_EQ(RegistrationKey(7), "Software\\Fernwick\\Tessera Server Manager\\Database Servers\\7");
}

}  // namespace
}  // namespace servers
