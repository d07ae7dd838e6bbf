#include "common/value_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace common {
namespace {

const DateTime kMonday{2003, 7, 14, 9, 5, 3};

TEST(FormatNumberTest, DigitPlaceholdersAndRounding) {
  EXPECT_EQ(FormatValue(3.14159, "0.00"), "3.14");
  EXPECT_EQ(FormatValue(7, "000"), "007");
  EXPECT_EQ(FormatValue(1234, "00"), "1234");
  EXPECT_EQ(FormatValue(0.5, "0"), "1");
  // Halves round away from zero on the number as written, not on its binary neighbour.
  EXPECT_EQ(FormatValue(2.5, "0"), "3");
  EXPECT_EQ(FormatValue(-2.5, "0"), "-3");
  EXPECT_EQ(FormatValue(0.125, "0.00"), "0.13");
  EXPECT_EQ(FormatValue(1.005, "0.00"), "1.01");
  EXPECT_EQ(FormatValue(9.999, "0.00"), "10.00");
  EXPECT_EQ(FormatValue(0.75, "#.##"), ".75");
  EXPECT_EQ(FormatValue(5, "#.##"), "5.");
  EXPECT_EQ(FormatValue(0, "#"), "");
  EXPECT_EQ(FormatValue(1.5, "0.0#"), "1.5");
  EXPECT_EQ(FormatValue(1.25, "0.0#"), "1.25");
  // A result that rounds to zero carries no minus sign.
  EXPECT_EQ(FormatValue(-0.001, "0.00"), "0.00");
  EXPECT_EQ(FormatValue(1e20, "0"), "100000000000000000000");
  EXPECT_EQ(FormatValue(1e-20, "0.00"), "0.00");
}

TEST(FormatNumberTest, ThousandsPercentAndScaling) {
  EXPECT_EQ(FormatValue(1234567, "#,##0"), "1,234,567");
  EXPECT_EQ(FormatValue(1234.5, "#,##0.00"), "1,234.50");
  EXPECT_EQ(FormatValue(999, "#,##0"), "999");
  EXPECT_EQ(FormatValue(0, "#,##0"), "0");
  EXPECT_EQ(FormatValue(-1234567.891, "#,##0.00"), "-1,234,567.89");
  EXPECT_EQ(FormatValue(std::numeric_limits<std::int64_t>::min(), "#,##0"),
            "-9,223,372,036,854,775,808");
  EXPECT_EQ(FormatValue(0.256, "0%"), "26%");
  EXPECT_EQ(FormatValue(0.5, "0.0%"), "50.0%");
  EXPECT_EQ(FormatValue(1234567, "#,##0,"), "1,235");
  EXPECT_EQ(FormatValue(1234567, "0,,"), "1");
  EXPECT_EQ(FormatValue(1234567, "0,,.0"), "1.2");
  EXPECT_EQ(FormatValue(1234567, "0.0,,"), "1234567.0");  // commas after the point do nothing
}

TEST(FormatNumberTest, LiteralsAndSections) {
  EXPECT_EQ(FormatValue(123456789, "000-00-0000"), "123-45-6789");
  EXPECT_EQ(FormatValue(-1234.5, "$#,##0.00"), "-$1,234.50");
  EXPECT_EQ(FormatValue(5, "0\" kg\""), "5 kg");
  EXPECT_EQ(FormatValue(5, "0 \\k\\g"), "5 kg");
  EXPECT_EQ(FormatValue(-3.5, "0.00;(0.00)"), "(3.50)");
  EXPECT_EQ(FormatValue(3.5, "0.00;(0.00)"), "3.50");
  EXPECT_EQ(FormatValue(0, "0;-0;\"zero\""), "zero");
  EXPECT_EQ(FormatValue(-2, "0;;\"zero\""), "-2");  // empty negative section: positive with sign
  EXPECT_EQ(FormatValue(Value(), "0;-0;0;\"none\""), "none");
  EXPECT_EQ(FormatValue(Value(), "0.00"), "");
  EXPECT_EQ(FormatValue(2, "0;\"a;b\""), "2");  // a quoted semicolon separates nothing
}

TEST(FormatNumberTest, Scientific) {
  EXPECT_EQ(FormatValue(12345, "0.00E+00"), "1.23E+04");
  EXPECT_EQ(FormatValue(0.000123, "0.00E+00"), "1.23E-04");
  EXPECT_EQ(FormatValue(12345, "0.0E-0"), "1.2E4");
  EXPECT_EQ(FormatValue(12345, "00.00e+00"), "12.35e+03");
  EXPECT_EQ(FormatValue(0, "0.00E+00"), "0.00E+00");
  EXPECT_EQ(FormatValue(9.999, "0.00E+00"), "1.00E+01");
  EXPECT_EQ(FormatValue(-12345, "0.00E+00"), "-1.23E+04");
}

TEST(FormatNumberTest, ValuesOfOtherTypes) {
  EXPECT_EQ(FormatValue("12.5", "0.00"), "12.50");
  EXPECT_EQ(FormatValue(" -3 ", "0.0"), "-3.0");
  EXPECT_EQ(FormatValue("abc", "0.00"), "abc");
  EXPECT_EQ(FormatValue(true, "0"), "-1");
  EXPECT_EQ(FormatValue(false, "0"), "0");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 14}, "0"), "37816");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 14, 18}, "0.00"), "37816.75");
  EXPECT_EQ(FormatValue(std::numeric_limits<double>::infinity(), "0.00"), "inf");
  EXPECT_EQ(FormatValue(Bytes{'h', 'i'}, "0.00"), "hi");
}

TEST(FormatNumberTest, NamedFormats) {
  EXPECT_EQ(FormatValue(1234.5, "Standard"), "1,234.50");
  EXPECT_EQ(FormatValue(1234.5, "Fixed"), "1234.50");
  EXPECT_EQ(FormatValue(-5, "Currency"), "($5.00)");
  EXPECT_EQ(FormatValue(1234.5, "currency"), "$1,234.50");
  EXPECT_EQ(FormatValue(0.5, "Percent"), "50.00%");
  EXPECT_EQ(FormatValue(12345, "Scientific"), "1.23E+04");
  EXPECT_EQ(FormatValue(12345.5, "General Number"), "12345.5");
  EXPECT_EQ(FormatValue(0, "Yes/No"), "No");
  EXPECT_EQ(FormatValue(-3, "Yes/No"), "Yes");
  EXPECT_EQ(FormatValue(true, "True/False"), "True");
  EXPECT_EQ(FormatValue(0, "On/Off"), "Off");
}

TEST(FormatDateTest, NumericParts) {
  EXPECT_EQ(FormatValue(kMonday, "yyyy-mm-dd"), "2003-07-14");
  EXPECT_EQ(FormatValue(kMonday, "dd.mm.yyyy"), "14.07.2003");
  EXPECT_EQ(FormatValue(kMonday, "d/m/yy"), "14/7/03");
  EXPECT_EQ(FormatValue(kMonday, "hh:nn:ss"), "09:05:03");
  EXPECT_EQ(FormatValue(kMonday, "h:n:s"), "9:5:3");
  EXPECT_EQ(FormatValue(kMonday, "YYYY-MM-DD HH:NN"), "2003-07-14 09:05");
  // "m" right after an hour is the minute.
  EXPECT_EQ(FormatValue(kMonday, "hh:mm"), "09:05");
  EXPECT_EQ(FormatValue(kMonday, "mm/dd hh:mm"), "07/14 09:05");
  EXPECT_EQ(FormatValue(kMonday, "q"), "3");
  EXPECT_EQ(FormatValue(kMonday, "y"), "195");
  EXPECT_EQ(FormatValue(DateTime{2004, 12, 31}, "y"), "366");
}

TEST(FormatDateTest, NamesWeeksAndClock) {
  EXPECT_EQ(FormatValue(kMonday, "mmmm d, yyyy"), "July 14, 2003");
  EXPECT_EQ(FormatValue(kMonday, "ddd, dd mmm yyyy"), "Mon, 14 Jul 2003");
  EXPECT_EQ(FormatValue(kMonday, "dddd"), "Monday");
  // The week starts on Sunday; week 1 holds 1 January (a Wednesday in 2003).
  EXPECT_EQ(FormatValue(kMonday, "w"), "2");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 13}, "w"), "1");
  EXPECT_EQ(FormatValue(DateTime{2003, 1, 4}, "ww"), "1");
  EXPECT_EQ(FormatValue(DateTime{2003, 1, 5}, "ww"), "2");
  EXPECT_EQ(FormatValue(DateTime{2003, 12, 31}, "ww"), "53");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 14, 15, 30}, "h:nn AM/PM"), "3:30 PM");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 14, 15, 30}, "hh:nn am/pm"), "03:30 pm");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 14, 0, 10}, "h:nn A/P"), "12:10 A");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 14, 12, 0}, "h AMPM"), "12 PM");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 14, 15, 30}, "hh:nn"), "15:30");
}

TEST(FormatDateTest, NamedFormatsAndLiterals) {
  EXPECT_EQ(FormatValue(kMonday, "Short Date"), "7/14/2003");
  EXPECT_EQ(FormatValue(kMonday, "Long Date"), "Monday, July 14, 2003");
  EXPECT_EQ(FormatValue(kMonday, "Medium Date"), "14-Jul-03");
  EXPECT_EQ(FormatValue(kMonday, "Long Time"), "9:05:03 AM");
  EXPECT_EQ(FormatValue(kMonday, "Medium Time"), "09:05 AM");
  EXPECT_EQ(FormatValue(kMonday, "Short Time"), "09:05");
  EXPECT_EQ(FormatValue(kMonday, "General Date"), "7/14/2003 9:05:03 AM");
  EXPECT_EQ(FormatValue(DateTime{2003, 7, 14}, "General Date"), "7/14/2003");
  EXPECT_EQ(FormatValue(kMonday, "ddddd ttttt"), "7/14/2003 9:05:03 AM");
  EXPECT_EQ(FormatValue(kMonday, "\"Day\" d"), "Day 14");
  EXPECT_EQ(FormatValue(kMonday, "\\d\\a\\y d"), "day 14");
  EXPECT_EQ(FormatValue(kMonday, "yyyy\"年\"m\"月\""), "2003年7月");
}

TEST(FormatDateTest, SerialNumbersAndTextDates) {
  EXPECT_EQ(FormatValue(37816, "yyyy-mm-dd"), "2003-07-14");
  EXPECT_EQ(FormatValue(37816.5, "yyyy-mm-dd hh:nn"), "2003-07-14 12:00");
  EXPECT_EQ(FormatValue(-1.5, "yyyy-mm-dd hh:nn"), "1899-12-29 12:00");
  EXPECT_EQ(FormatValue(0, "yyyy-mm-dd"), "1899-12-30");
  EXPECT_EQ(FormatValue("2003-07-14 09:05:03", "dd.mm.yyyy hh:nn"), "14.07.2003 09:05");
  EXPECT_EQ(FormatValue("37816", "yyyy"), "2003");
  EXPECT_DOUBLE_EQ(DateTimeToSerial(DateTime{1899, 12, 29, 12}), -1.5);
  EXPECT_EQ(SerialToDateTime(DateTimeToSerial(kMonday)), kMonday);
  EXPECT_EQ(SerialToDateTime(1.99999999), (DateTime{1900, 1, 1}));  // rounds to the second
  EXPECT_FALSE(SerialToDateTime(3e6).has_value());
  EXPECT_FALSE(SerialToDateTime(std::numeric_limits<double>::quiet_NaN()).has_value());
}

TEST(FormatDateTest, ValuesOutsideTheCalendarStayPlainText) {
  EXPECT_EQ(FormatValue(1e300, "yyyy"), Value(1e300).ToText());
  EXPECT_EQ(FormatValue(DateTime{2003, 13, 1}, "yyyy-mm"), "2003-13-01 00:00:00");
  EXPECT_EQ(FormatValue(DateTime{2003, 2, 29}, "dddd"), "2003-02-29 00:00:00");
  EXPECT_EQ(FormatValue("tomorrow", "yyyy"), "tomorrow");
  EXPECT_EQ(FormatValue(Value(), "yyyy"), "");
}

TEST(FormatTextTest, CharacterPlaceholdersAndCase) {
  EXPECT_EQ(FormatValue("abc", "@@@@@"), "  abc");
  EXPECT_EQ(FormatValue("abc", "!@@@@@"), "abc  ");
  EXPECT_EQ(FormatValue("abc", "&&&&&"), "abc");
  EXPECT_EQ(FormatValue("abcde", "&&&"), "abcde");
  EXPECT_EQ(FormatValue("abcde", "!@@-@"), "ab-cde");
  EXPECT_EQ(FormatValue("5551234567", "(@@@) @@@-@@@@"), "(555) 123-4567");
  EXPECT_EQ(FormatValue("Sales", ">@"), "SALES");
  EXPECT_EQ(FormatValue("Sales", "<&"), "sales");
  EXPECT_EQ(FormatValue("", "@;\"(empty)\""), "(empty)");
  EXPECT_EQ(FormatValue(Value(), "@;\"(none)\""), "(none)");
  EXPECT_EQ(FormatValue("äöü", "@@@@"), " äöü");  // one placeholder per character
  EXPECT_EQ(FormatValue(42, "@@@@"), "  42");
}

TEST(FormatValueTest, HostilePatternsNeverCrash) {
  EXPECT_EQ(FormatValue(1.5, ""), "1.5");
  EXPECT_EQ(FormatValue(1.5, "\"unterminated"), "unterminated");
  EXPECT_EQ(FormatValue(1.5, "0\\"), "2");
  EXPECT_EQ(FormatValue(-1.5, ";;;;"), "-1.5");  // empty sections show the number as it is
  EXPECT_EQ(FormatValue(5, "\"n/a\""), "n/a");   // a section without placeholders is its text
  EXPECT_EQ(FormatValue(1.5, "E+"), "E+");
  // Letters are date parts when the pattern has no digit placeholders: D is the day of 1.5.
  EXPECT_EQ(FormatValue(1.5, "'; DROP TABLE x; --"), "'; 31ROP TABLE x; --");
  std::string zeros(10000, '0');
  EXPECT_EQ(FormatValue(1, zeros), std::string(9999, '0') + "1");
  std::string fraction = "0." + std::string(400, '0');
  EXPECT_EQ(FormatValue(0.5, fraction).size(), 402u);
  EXPECT_EQ(FormatValue(kMonday, std::string(5000, 'd')).substr(0, 6), "Monday");
}

}  // namespace
}  // namespace common
