#include "db/connection_string.h"

#include <gtest/gtest.h>

#include <random>

#include "db/error.h"

namespace db {
namespace {

TEST(ConnectionStringTest, ReadsTheStringsTheRegistrationDialogBuilds) {
  auto integrated = ConnectionString::Parse(
      "Provider=SQLOLEDB;Data Source=SRV01\\ARCHIVE;Integrated Security=SSPI;");
  EXPECT_EQ(integrated.Get("Provider"), "SQLOLEDB");
  EXPECT_EQ(integrated.Get("data source"), "SRV01\\ARCHIVE");
  EXPECT_TRUE(IsIntegratedSecurityValue(*integrated.Get("INTEGRATED SECURITY")));
  EXPECT_FALSE(integrated.Has("User ID"));

  auto sql = ConnectionString::Parse(
      "Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;Password=secret;;Connect Timeout=5;");
  EXPECT_EQ(sql.Get("User ID"), "sa");
  EXPECT_EQ(sql.Get("uid"), "sa");
  EXPECT_EQ(sql.Get("PWD"), "secret");
  EXPECT_EQ(sql.Get("Connect Timeout"), "5");
}

TEST(ConnectionStringTest, LaterDuplicatesWinAcrossSynonyms) {
  auto cs = ConnectionString::Parse(
      "Data Source=a;Initial Catalog=master;Persist Security Info=True;Initial "
      "Catalog=Quillarchive_"
      "Sales;Server=b");
  EXPECT_EQ(cs.Get("Initial Catalog"), "Quillarchive_Sales");
  EXPECT_EQ(cs.Get("Database"), "Quillarchive_Sales");
  EXPECT_EQ(cs.Get("Data Source"), "b");
}

TEST(ConnectionStringTest, QuotedValuesKeepSemicolonsAndDoubledQuotes) {
  auto cs = ConnectionString::Parse(
      "Password=\"a;b\"\"c\";User ID='O''Brien; x';Data Source = \" padded \" ;");
  EXPECT_EQ(cs.Get("Password"), "a;b\"c");
  EXPECT_EQ(cs.Get("User ID"), "O'Brien; x");
  EXPECT_EQ(cs.Get("Data Source"), " padded ");
}

TEST(ConnectionStringTest, UnquotedValuesAreTrimmedAndMayHoldEqualsSigns) {
  auto cs = ConnectionString::Parse("  Password = a=b==c  ; Some==Key = v");
  EXPECT_EQ(cs.Get("Password"), "a=b==c");
  EXPECT_EQ(cs.Get("Some=Key"), "v");
}

TEST(ConnectionStringTest, MalformedTextIsRefusedWithTheReason) {
  struct Case {
    const char* text;
    const char* reason;
  };
  for (const Case& c :
       {Case{"Data Source=x;garbage;", "\"garbage\" has no \"=\""},
        Case{"Password=\"unterminated;", "no closing quote"},
        Case{"Password='a'b;", "text follows the quoted value"}, Case{"=value", "no keyword"}}) {
    try {
      ConnectionString::Parse(c.text);
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), kErrorBadInitString) << c.text;
      EXPECT_NE(error.description().find(c.reason), std::string::npos) << error.description();
    }
  }
}

TEST(ConnectionStringTest, AnUnquotedPasswordWithASemicolonCannotBeRead) {
  // What plain concatenation produces for such a password: refused, not silently cut short.
  EXPECT_THROW(ConnectionString::Parse("User Id=sa;Password=ab;cd;"), Error);
}

TEST(ConnectionStringTest, EmptyAndBlankTextHaveNoEntries) {
  EXPECT_TRUE(ConnectionString::Parse("").entries().empty());
  EXPECT_TRUE(ConnectionString::Parse(" ; ;; ").entries().empty());
}

TEST(ConnectionStringTest, SetReplacesEverySynonymAndQuotesWhatNeedsIt) {
  auto cs = ConnectionString::Parse("UID=a;User ID=b;Data Source=x;");
  cs.Set("User ID", "it's; \"odd\"");
  EXPECT_EQ(cs.entries().size(), 2u);
  auto back = ConnectionString::Parse(cs.ToString());
  EXPECT_EQ(back.Get("uid"), "it's; \"odd\"");
  cs.Remove("user");
  EXPECT_FALSE(cs.Has("User ID"));
  EXPECT_EQ(cs.ToString(), "Data Source=x;");
}

TEST(ConnectionStringTest, AnyValueSurvivesQuotingAndParsing) {
  std::mt19937 random(7);
  const std::string alphabet = "ab ;'\"=[]\t-x";
  for (int round = 0; round < 500; ++round) {
    std::string value;
    int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) value += alphabet[random() % alphabet.size()];
    ConnectionString cs;
    cs.Set("Password", value);
    cs.Set("Data Source", "x");
    auto back = ConnectionString::Parse(cs.ToString());
    // Unquoted values lose outer blanks by rule; QuoteValue quotes those, so all survive.
    EXPECT_EQ(back.Get("Password"), value) << cs.ToString();
    EXPECT_EQ(back.Get("Data Source"), "x");
  }
}

TEST(ConnectionStringTest, BooleanAndIntegratedValues) {
  EXPECT_TRUE(IsTrueValue("True"));
  EXPECT_TRUE(IsTrueValue(" yes "));
  EXPECT_TRUE(IsTrueValue("-1"));
  EXPECT_FALSE(IsTrueValue("0"));
  EXPECT_FALSE(IsTrueValue("False"));
  EXPECT_FALSE(IsTrueValue("maybe"));
  EXPECT_TRUE(IsIntegratedSecurityValue("sspi"));
  EXPECT_TRUE(IsIntegratedSecurityValue("true"));
  EXPECT_FALSE(IsIntegratedSecurityValue("false"));
}

}  // namespace
}  // namespace db
