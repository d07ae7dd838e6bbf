#include "common/value.h"

#include <gtest/gtest.h>

namespace common {
namespace {

TEST(ValueTest, TextConversionShowsNullAsEmptyAndBooleansAsWords) {
  EXPECT_EQ(Value().ToText(), "");
  EXPECT_EQ(Value(true).ToText(), "True");
  EXPECT_EQ(Value(false).ToText(), "False");
  EXPECT_EQ(Value(-42).ToText(), "-42");
  EXPECT_EQ(Value(3.25).ToText(), "3.25");
  EXPECT_EQ(Value("x").ToText(), "x");
}

TEST(ValueTest, NumbersFromTextAndBack) {
  EXPECT_EQ(Value(" 17 ").ToInt(), 17);
  EXPECT_EQ(Value("2.5").ToInt(), 2);  // banker's rounding
  EXPECT_EQ(Value("3.5").ToInt(), 4);
  EXPECT_FALSE(Value("abc").ToInt().has_value());
  EXPECT_FALSE(Value().ToInt().has_value());
  EXPECT_EQ(Value("TRUE").ToBool(), true);
  EXPECT_EQ(Value("0").ToBool(), false);
  EXPECT_EQ(Value(-1).ToBool(), true);
}

TEST(ValueTest, DateTimeRoundTripsThroughText) {
  DateTime d{2003, 7, 14, 9, 5, 3, 120};
  EXPECT_EQ(d.ToText(), "2003-07-14 09:05:03.120");
  EXPECT_EQ(DateTime::Parse(d.ToText()), d);
  EXPECT_EQ(DateTime::Parse("2003-07-14"), (DateTime{2003, 7, 14}));
  EXPECT_FALSE(DateTime::Parse("2003-13-01").has_value());
  EXPECT_FALSE(DateTime::Parse("yesterday").has_value());
}

TEST(ValueTest, GuidTextIsUpperCaseWithBraces) {
  auto g = Guid::Parse("{bafd8db4-2f6c-4292-9aba-236d585b7b99}");
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->ToText(), "{BAFD8DB4-2F6C-4292-9ABA-236D585B7B99}");
  EXPECT_EQ(Guid::Parse("BAFD8DB4-2F6C-4292-9ABA-236D585B7B99"), g);
  EXPECT_FALSE(Guid::Parse("{BAFD8DB4-2F6C-4292-9ABA-236D585B7B9}").has_value());
  EXPECT_FALSE(Guid::Parse("{BAFD8DB4x2F6C-4292-9ABA-236D585B7B99}").has_value());
}

}  // namespace
}  // namespace common
