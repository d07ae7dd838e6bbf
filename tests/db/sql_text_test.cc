#include "db/sql_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace db {
namespace {

using common::Value;

TEST(SqlTextTest, LiteralsForEveryKindOfValue) {
  EXPECT_EQ(SqlLiteral(Value()), "NULL");
  EXPECT_EQ(SqlLiteral(Value(true)), "1");
  EXPECT_EQ(SqlLiteral(Value(false)), "0");
  EXPECT_EQ(SqlLiteral(Value(-42)), "-42");
  EXPECT_EQ(SqlLiteral(Value(0.1)), "0.1");
  EXPECT_EQ(SqlLiteral(Value(std::numeric_limits<double>::infinity())), "NULL");
  EXPECT_EQ(SqlLiteral(Value(std::numeric_limits<double>::quiet_NaN())), "NULL");
  EXPECT_EQ(SqlLiteral(Value("")), "''");
  EXPECT_EQ(SqlLiteral(Value("it's")), "'it''s'");
  EXPECT_EQ(SqlLiteral(Value("''")), "''''''");
  EXPECT_EQ(SqlLiteral(Value("x"), true), "N'x'");
  EXPECT_EQ(SqlLiteral(Value(common::DateTime{1899, 12, 30})), "'1899-12-30T00:00:00.000'");
  EXPECT_EQ(SqlLiteral(Value(common::Bytes{})), "0x");
  EXPECT_EQ(SqlLiteral(Value(common::Bytes{0x00, 0xAB, 0xff})), "0x00ABFF");
  auto guid = common::Guid::Parse("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  ASSERT_TRUE(guid.has_value());
  EXPECT_EQ(SqlLiteral(Value(*guid)), "'6F9619FF-8B86-D011-B42D-00C04FC964FF'");
}

TEST(SqlTextTest, HostileTextStaysInsideItsLiteral) {
  std::string hostile = "'); DROP DATABASE master; --";
  std::string literal = SqlLiteral(Value(hostile));
  EXPECT_EQ(literal, "'''); DROP DATABASE master; --'");
  // Every quote inside is doubled, so the literal ends exactly at its last character.
  std::string inside = literal.substr(1, literal.size() - 2);
  for (size_t i = 0; i < inside.size(); ++i) {
    if (inside[i] == '\'') {
      ASSERT_LT(i + 1, inside.size());
      EXPECT_EQ(inside[i + 1], '\'');
      ++i;
    }
  }
  std::string long_text(100000, '\'');
  EXPECT_EQ(SqlLiteral(Value(long_text)).size(), 200002u);
}

TEST(SqlTextTest, NamesAreBracketedWhenTheyAreNotPlain) {
  EXPECT_EQ(SqlName("Document"), "Document");
  EXPECT_EQ(SqlName("dbo.Document"), "dbo.Document");
  EXPECT_EQ(SqlName("master..sysdatabases"), "master..sysdatabases");
  EXPECT_EQ(SqlName("#temp"), "#temp");
  EXPECT_EQ(SqlName("my table"), "[my table]");
  EXPECT_EQ(SqlName("file"), "[file]");  // reserved
  EXPECT_EQ(SqlName("a]b"), "[a]]b]");
  EXPECT_EQ(SqlName("x; DROP TABLE y"), "[x; DROP TABLE y]");
  EXPECT_EQ(SqlName("[already quoted]"), "[already quoted]");
  EXPECT_EQ(SqlName("[a.b].c"), "[a.b].c");
  EXPECT_EQ(SqlName("[bad]name]"), "[[bad]]name]]]");
  EXPECT_EQ(SqlName("1abc"), "[1abc]");
  EXPECT_EQ(SqlName(std::string(200, 'a')), "[" + std::string(200, 'a') + "]");
  EXPECT_FALSE(IsPlainIdentifier(""));
  EXPECT_FALSE(IsPlainIdentifier("Select"));
  EXPECT_TRUE(IsPlainIdentifier("Quillarchive_Sales"));
}

}  // namespace
}  // namespace db
