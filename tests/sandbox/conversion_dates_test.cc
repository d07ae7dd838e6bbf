// Conversion and dates: CONVERT's styles both ways, the money and float styles, DATENAME and
// DATEPART under SET LANGUAGE, SET DATEFIRST and SET DATEFORMAT. Each case names the example of
// the server's documentation it follows: "CAST and CONVERT" (its style table), "SET LANGUAGE",
// "SET DATEFIRST", "SET DATEFORMAT", "DATENAME" and the syslanguages table.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

struct TextCase {
  const char* source;  // the documentation's example or table row
  const char* expression;
  const char* expected;
};

struct ErrorCase {
  const char* source;
  const char* batch;
  std::int32_t number;
  const char* text;
};

// 2003-12-25 was a Thursday; the time has every field different from the others.
constexpr const char* kDeclare =
    "DECLARE @d datetime SET @d = '2003-12-25T15:04:05.123' "
    "DECLARE @m datetime SET @m = '2003-02-03T09:08:07.003' ";

class ConversionDatesTest : public SandboxTest {
 protected:
  // Runs each expression after prefix (SET statements, declarations) in a batch of its own.
  void Check(const std::vector<TextCase>& cases, const std::string& prefix = "") {
    for (const TextCase& c : cases) {
      std::string batch = prefix + kDeclare + "SELECT " + c.expression;
      EXPECT_EQ(Scalar(batch).ToText(), c.expected) << c.source << ": " << c.expression;
    }
  }
  void CheckErrors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
      CollectingSink sink = Run(std::string(kDeclare) + c.batch);
      EXPECT_EQ(sink.FirstError(), c.number) << c.source << ": " << c.batch;
      auto errors = sink.Errors();
      EXPECT_EQ(errors.empty() ? "" : errors[0]->text, c.text) << c.source << ": " << c.batch;
    }
  }
};

TEST_F(ConversionDatesTest, DateStylesToTextFollowTheStyleTable) {
  Check({
      {"style 0 or 100, default", "CONVERT(varchar(30), @d, 0)", "Dec 25 2003  3:04PM"},
      {"style 0 or 100, default", "CONVERT(varchar(30), @d, 100)", "Dec 25 2003  3:04PM"},
      {"style 0 or 100, default (morning)", "CONVERT(varchar(30), @m)", "Feb  3 2003  9:08AM"},
      {"style 1, U.S. mm/dd/yy", "CONVERT(varchar(30), @d, 1)", "12/25/03"},
      {"style 101, U.S. mm/dd/yyyy", "CONVERT(varchar(30), @d, 101)", "12/25/2003"},
      {"style 2, ANSI yy.mm.dd", "CONVERT(varchar(30), @d, 2)", "03.12.25"},
      {"style 102, ANSI yyyy.mm.dd", "CONVERT(varchar(30), @d, 102)", "2003.12.25"},
      {"style 3, British/French dd/mm/yy", "CONVERT(varchar(30), @d, 3)", "25/12/03"},
      {"style 103, British/French dd/mm/yyyy", "CONVERT(varchar(30), @d, 103)", "25/12/2003"},
      {"style 4, German dd.mm.yy", "CONVERT(varchar(30), @m, 4)", "03.02.03"},
      {"style 104, German dd.mm.yyyy", "CONVERT(varchar(30), @d, 104)", "25.12.2003"},
      {"style 5, Italian dd-mm-yy", "CONVERT(varchar(30), @d, 5)", "25-12-03"},
      {"style 105, Italian dd-mm-yyyy", "CONVERT(varchar(30), @d, 105)", "25-12-2003"},
      {"style 6, dd mon yy", "CONVERT(varchar(30), @m, 6)", "03 Feb 03"},
      {"style 106, dd mon yyyy", "CONVERT(varchar(30), @d, 106)", "25 Dec 2003"},
      {"style 7, Mon dd, yy", "CONVERT(varchar(30), @m, 7)", "Feb 03, 03"},
      {"style 107, Mon dd, yyyy", "CONVERT(varchar(30), @d, 107)", "Dec 25, 2003"},
      {"style 8, hh:mm:ss", "CONVERT(varchar(30), @m, 8)", "09:08:07"},
      {"style 108, hh:mm:ss", "CONVERT(varchar(30), @d, 108)", "15:04:05"},
      {"style 9 or 109, default + milliseconds", "CONVERT(varchar(30), @d, 109)",
       "Dec 25 2003  3:04:05:123PM"},
      {"style 9 or 109, default + milliseconds", "CONVERT(varchar(30), @m, 9)",
       "Feb  3 2003  9:08:07:003AM"},
      {"style 10, USA mm-dd-yy", "CONVERT(varchar(30), @d, 10)", "12-25-03"},
      {"style 110, USA mm-dd-yyyy", "CONVERT(varchar(30), @d, 110)", "12-25-2003"},
      {"style 11, JAPAN yy/mm/dd", "CONVERT(varchar(30), @d, 11)", "03/12/25"},
      {"style 111, JAPAN yyyy/mm/dd", "CONVERT(varchar(30), @d, 111)", "2003/12/25"},
      {"style 12, ISO yymmdd", "CONVERT(varchar(30), @d, 12)", "031225"},
      {"style 112, ISO yyyymmdd", "CONVERT(varchar(30), @d, 112)", "20031225"},
      {"style 13 or 113, Europe default + milliseconds", "CONVERT(varchar(30), @d, 113)",
       "25 Dec 2003 15:04:05:123"},
      {"style 13 or 113, Europe default + milliseconds", "CONVERT(varchar(30), @m, 13)",
       "03 Feb 2003 09:08:07:003"},
      {"style 14, hh:mi:ss:mmm (24h)", "CONVERT(varchar(30), @d, 14)", "15:04:05:123"},
      {"style 114, hh:mi:ss:mmm (24h)", "CONVERT(varchar(30), @m, 114)", "09:08:07:003"},
      {"style 20 or 120, ODBC canonical", "CONVERT(varchar(30), @d, 20)", "2003-12-25 15:04:05"},
      {"style 20 or 120, ODBC canonical", "CONVERT(varchar(30), @m, 120)", "2003-02-03 09:08:07"},
      {"style 21 or 121, ODBC canonical with milliseconds", "CONVERT(varchar(30), @d, 121)",
       "2003-12-25 15:04:05.123"},
      {"style 21 or 121, ODBC canonical with milliseconds", "CONVERT(varchar(30), @m, 21)",
       "2003-02-03 09:08:07.003"},
      {"style 126, ISO8601", "CONVERT(varchar(30), @d, 126)", "2003-12-25T15:04:05.123"},
      {"style 126 from smalldatetime", "CONVERT(varchar(30), CAST(@d AS smalldatetime), 126)",
       "2003-12-25T15:04:00.000"},
      {"style 131, Hijri dd/mm/yy hh:mi:ss:mmmAM", "CONVERT(varchar(40), @d, 131)",
       "01/11/1424  3:04:05:123PM"},
      {"style 131, Hijri: 1 Muharram 1425",
       "CONVERT(varchar(10), CAST('20040222' AS datetime), 131)", "01/01/1425"},
      {"style 130, Hijri dd mon yyyy", "CONVERT(nvarchar(40), @d, 130)",
       "01 ذو القعدة 1424  3:04:05:123PM"},
  });
}

TEST_F(ConversionDatesTest, StyledTextIsCutToTheTargetLength) {
  Check({
      {"CONVERT(varchar(8), d, 108) is hh:mi:ss", "CONVERT(varchar(8), @d, 108)", "15:04:05"},
      {"CONVERT(char(10), d, 103) is dd/mm/yyyy", "CONVERT(char(10), @d, 103)", "25/12/2003"},
      {"style 120 cut to the date", "CONVERT(varchar(10), @d, 120)", "2003-12-25"},
      {"style 112 cut to year and month", "CONVERT(char(6), @d, 112)", "200312"},
      {"style 121 padded in char", "CONVERT(char(25), @d, 121)", "2003-12-25 15:04:05.123  "},
      {"style 0 in nvarchar(11)", "CONVERT(nvarchar(11), @d, 100)", "Dec 25 2003"},
  });
}

TEST_F(ConversionDatesTest, StyleIsAnIntegerExpression) {
  Check(
      {
          {"CAST and CONVERT: style from a variable", "CONVERT(varchar(30), @d, @s)", "25.12.2003"},
          {"CAST and CONVERT: style computed", "CONVERT(varchar(30), @d, @s - 1)", "25/12/2003"},
          {"CAST and CONVERT: a NULL style gives NULL",
           "ISNULL(CONVERT(varchar(30), @d, NULL), 'null')", "null"},
      },
      "DECLARE @s int SET @s = 104 ");
  CheckErrors({{"CAST and CONVERT: negative style", "SELECT CONVERT(varchar(30), @d, -1)", 281,
                "-1 is not a valid style number when converting from datetime to a character "
                "string."}});
}

TEST_F(ConversionDatesTest, TextToDateFollowsTheStyle) {
  Check({
      {"style 103 input dd/mm/yyyy",
       "CONVERT(varchar(23), CONVERT(datetime, '25/12/2003', 103), 121)",
       "2003-12-25 00:00:00.000"},
      {"style 101 input mm/dd/yyyy",
       "CONVERT(varchar(23), CONVERT(datetime, '12/25/2003', 101), 121)",
       "2003-12-25 00:00:00.000"},
      {"style 4 input dd.mm.yy", "CONVERT(varchar(23), CONVERT(datetime, '03.02.03', 4), 121)",
       "2003-02-03 00:00:00.000"},
      {"style 5 input dd-mm-yyyy with a time",
       "CONVERT(varchar(23), CONVERT(datetime, '25-12-2003 15:04:05', 105), 121)",
       "2003-12-25 15:04:05.000"},
      {"style 112 input yyyymmdd", "CONVERT(varchar(23), CONVERT(datetime, '20031225', 112), 121)",
       "2003-12-25 00:00:00.000"},
      {"style 126 input ISO8601",
       "CONVERT(varchar(23), CONVERT(datetime, '2003-12-25T15:04:05.123', 126), 121)",
       "2003-12-25 15:04:05.123"},
      {"style 113 input dd mon yyyy hh:mi:ss:mmm",
       "CONVERT(varchar(23), CONVERT(datetime, '25 Dec 2003 15:04:05:123', 113), 121)",
       "2003-12-25 15:04:05.123"},
      {"style 109 input round trip",
       "CONVERT(varchar(23), CONVERT(datetime, "
       "CONVERT(varchar(30), @d, 109), 109), 121)",
       "2003-12-25 15:04:05.123"},
      {"style 11 input yy/mm/dd, two-digit year cutoff 2049",
       "CONVERT(varchar(23), CONVERT(datetime, '49/12/25', 11), 121)", "2049-12-25 00:00:00.000"},
      {"style 11 input yy/mm/dd, two-digit year cutoff 2049",
       "CONVERT(varchar(23), CONVERT(datetime, '50/12/25', 11), 121)", "1950-12-25 00:00:00.000"},
      {"month name in words, us_english",
       "CONVERT(varchar(23), CAST('December 25, 2003' AS datetime), 121)",
       "2003-12-25 00:00:00.000"},
      {"month name and year alone: the first of the month",
       "CONVERT(varchar(23), CAST('Dec 2003' AS datetime), 121)", "2003-12-01 00:00:00.000"},
      {"day first with a month name",
       "CONVERT(varchar(23), CAST('25 Dec 03 3PM' AS datetime), 121)", "2003-12-25 15:00:00.000"},
      {"year first with a month name",
       "CONVERT(varchar(23), CAST('2003 December 25' AS datetime), 121)",
       "2003-12-25 00:00:00.000"},
  });
}

TEST_F(ConversionDatesTest, MoneyAndFloatStyles) {
  Check({
      {"money style 0: no commas, two digits",
       "CONVERT(varchar(30), CAST(1234567.891 AS money), 0)", "1234567.89"},
      {"money style 1: commas every three digits",
       "CONVERT(varchar(30), CAST(1234567.891 AS money), 1)", "1,234,567.89"},
      {"money style 1, negative", "CONVERT(varchar(30), CAST(-1234.5 AS money), 1)", "-1,234.50"},
      {"money style 1, under a thousand", "CONVERT(varchar(30), CAST(999.999 AS money), 1)",
       "1,000.00"},
      {"money style 2: no commas, four digits",
       "CONVERT(varchar(30), CAST(1234567.891 AS money), 2)", "1234567.8910"},
      {"smallmoney style 1", "CONVERT(varchar(30), CAST(3510.92 AS smallmoney), 1)", "3,510.92"},
      {"float style 1: eight digits, scientific",
       "CONVERT(varchar(30), CAST(1234.5678 AS float), 1)", "1.2345678e+003"},
      {"float style 2: sixteen digits, scientific",
       "CONVERT(varchar(30), CAST(1234.5678 AS float), 2)", "1.234567800000000e+003"},
      {"float style 1, small negative", "CONVERT(varchar(30), CAST(-0.00012 AS float), 1)",
       "-1.2000000e-004"},
      {"real style 126 is style 1", "CONVERT(varchar(30), CAST(0.5 AS real), 126)",
       "5.0000000e-001"},
      {"style of an int is ignored", "CONVERT(varchar(30), 42, 103)", "42"},
      // A decimal shows its type's scale as text, also when the value is whole.
      {"whole decimal keeps its scale", "CAST(CAST(9 AS decimal(12,3)) AS varchar)", "9.000"},
      {"decimal with a fraction", "CAST(CAST(-2.25 AS numeric(9,2)) AS varchar)", "-2.25"},
      {"decimal of scale 0", "CAST(CAST(7 AS decimal(4,0)) AS varchar)", "7"},
      {"whole money, style 0", "CAST(CAST(3 AS money) AS varchar)", "3.00"},
  });
}

TEST_F(ConversionDatesTest, InvalidStylesAreRefused) {
  CheckErrors({
      {"CAST and CONVERT: style outside the table", "SELECT CONVERT(varchar(30), @d, 99)", 281,
       "99 is not a valid style number when converting from datetime to a character string."},
      {"CAST and CONVERT: no style 115", "SELECT CONVERT(varchar(30), @d, 115)", 281,
       "115 is not a valid style number when converting from datetime to a character string."},
      {"CAST and CONVERT: smalldatetime",
       "SELECT CONVERT(varchar(30), CAST(@d AS smalldatetime), 15)", 281,
       "15 is not a valid style number when converting from smalldatetime to a character "
       "string."},
      {"CAST and CONVERT: money styles 0-2", "SELECT CONVERT(varchar(30), CAST(1 AS money), 3)",
       281, "3 is not a valid style number when converting from money to a character string."},
      {"CAST and CONVERT: float styles 0-2", "SELECT CONVERT(varchar(30), CAST(1 AS float), 103)",
       281, "103 is not a valid style number when converting from float to a character string."},
  });
}

TEST_F(ConversionDatesTest, DateNameGivesNamesInTheSessionLanguage) {
  Check({
      {"DATENAME: month", "DATENAME(month, @d)", "December"},
      {"DATENAME: mm", "DATENAME(mm, @m)", "February"},
      {"DATENAME: weekday", "DATENAME(weekday, @d)", "Thursday"},
      {"DATENAME: dw", "DATENAME(dw, @m)", "Monday"},
      {"DATENAME: year as a number", "DATENAME(year, @d)", "2003"},
      {"DATENAME: dayofyear", "DATENAME(dy, @d)", "359"},
      {"DATENAME: a text argument", "DATENAME(month, '20031225')", "December"},
  });
  Check(
      {
          {"SET LANGUAGE: Italian", "DATENAME(month, @d)", "dicembre"},
          {"SET LANGUAGE: Italian", "DATENAME(weekday, @d)", "giovedì"},
      },
      "SET LANGUAGE Italian ");
  Check(
      {
          {"syslanguages: Français months", "DATENAME(month, @d)", "décembre"},
          {"syslanguages: Français months", "DATENAME(month, @m)", "février"},
          {"syslanguages: Français days", "DATENAME(weekday, @d)", "jeudi"},
          {"syslanguages: Français shortmonths", "CONVERT(nvarchar(30), @d, 106)", "25 déc 2003"},
          {"syslanguages: Français", "@@LANGUAGE", "Français"},
      },
      "SET LANGUAGE Français ");
  Check(
      {
          {"syslanguages: Deutsch months", "DATENAME(month, @m)", "Februar"},
          {"syslanguages: Deutsch days", "DATENAME(dw, @d)", "Donnerstag"},
          {"syslanguages: Deutsch shortmonths", "CONVERT(varchar(30), @m, 113)",
           "03 Feb 2003 09:08:07:003"},
          {"syslanguages: Deutsch shortmonths", "CONVERT(varchar(30), DATEADD(mm, 1, @m), 106)",
           "03 Mär 2003"},
      },
      "SET LANGUAGE Deutsch ");
  Check(
      {
          {"syslanguages: Español", "DATENAME(month, @d)", "Diciembre"},
          {"syslanguages: Español", "DATENAME(weekday, DATEADD(dd, 2, @d))", "Sábado"},
      },
      "SET LANGUAGE N'Español' ");
  Check({{"syslanguages: British", "DATENAME(month, @d) + ' ' + @@LANGUAGE", "December British"}},
        "SET LANGUAGE British ");
}

TEST_F(ConversionDatesTest, NonAsciiNamesComeBackAsUnicodeText) {
  RowSet set = Query("SET LANGUAGE Français SELECT DATENAME(month, '20031225') AS m");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.columns[0].type_name, "nvarchar");
  EXPECT_EQ(set.rows[0][0], Value("d\xC3\xA9"
                                  "cembre"));
  // Stored in an nvarchar column and read back unchanged.
  Ok("CREATE TABLE Names (n nvarchar(20))");
  Ok("SET LANGUAGE Italiano INSERT INTO Names SELECT DATENAME(weekday, '20031225')");
  EXPECT_EQ(Scalar("SELECT n FROM Names WHERE n = N'gioved\xC3\xAC'"), Value("gioved\xC3\xAC"));
  EXPECT_EQ(Scalar("SELECT LEN(n) FROM Names"), Value(7));
}

TEST_F(ConversionDatesTest, SetLanguageBringsItsDateOrderAndFirstDay) {
  Check({
      {"SET LANGUAGE: default us_english", "@@LANGUAGE", "us_english"},
      {"SET LANGUAGE: @@DATEFIRST of us_english",
       "CAST(@@DATEFIRST AS varchar) + ' ' + CAST(@@LANGID AS varchar)", "7 0"},
  });
  Check({{"syslanguages: Deutsch datefirst 1, langid 1",
          "@@LANGUAGE + ' ' + CAST(@@DATEFIRST AS varchar) + ' ' + CAST(@@LANGID AS varchar)",
          "Deutsch 1 1"}},
        "SET LANGUAGE German ");
  Check({{"syslanguages: British dateformat dmy",
          "CONVERT(varchar(10), CAST('25/12/2003' AS datetime), 120)", "2003-12-25"}},
        "SET LANGUAGE British ");
  Check({{"SET LANGUAGE: back to us_english", "@@LANGUAGE + ' ' + CAST(@@DATEFIRST AS varchar)",
          "us_english 7"}},
        "SET LANGUAGE Deutsch SET LANGUAGE us_english ");
  // The change is announced as SQL Server announces it.
  CollectingSink sink = Run("SET LANGUAGE Italiano");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_FALSE(sink.messages.empty());
  EXPECT_EQ(sink.messages[0].number, 5703);
  EXPECT_EQ(sink.messages[0].text, "Changed language setting to Italiano.");
  // It lasts for the session, into its next batches.
  EXPECT_EQ(Scalar("SELECT DATENAME(month, '20030101')"), Value("gennaio"));
}

TEST_F(ConversionDatesTest, SyslanguagesDescribesEveryLanguageSetLanguageKnows) {
  RowSet languages = Query(
      "SELECT name, alias, datefirst, dateformat, months, days, langid "
      "FROM master..syslanguages ORDER BY langid");
  ASSERT_GE(languages.rows.size(), 7u);
  EXPECT_EQ(languages.rows[0][0], Value("us_english"));
  auto part = [](const std::string& list, int index) {
    size_t start = 0;
    for (int i = 0; i < index; ++i) start = list.find(',', start) + 1;
    return list.substr(start, list.find(',', start) - start);
  };
  for (const auto& row : languages.rows) {
    std::string name = row[0].ToText(), alias = row[1].ToText();
    std::string months = row[4].ToText(), days = row[5].ToText();
    // Each row's names are what DATENAME gives under the language (2003-12-29 was a Monday).
    for (const std::string& chosen : {name, alias}) {
      RowSet set = Query("SET LANGUAGE [" + chosen +
                         "] SELECT @@LANGUAGE, @@DATEFIRST, @@LANGID, "
                         "DATENAME(month, '20031229'), DATENAME(weekday, '20031229'), "
                         "CONVERT(varchar(10), CAST('2/1/3' AS datetime), 112)");
      ASSERT_EQ(set.rows.size(), 1u) << chosen;
      const auto& r = set.rows[0];
      EXPECT_EQ(r[0].ToText(), name);
      EXPECT_EQ(r[1].ToText(), row[2].ToText()) << name;
      EXPECT_EQ(r[2].ToText(), row[6].ToText()) << name;
      EXPECT_EQ(r[3].ToText(), part(months, 11)) << name;
      EXPECT_EQ(r[4].ToText(), part(days, 0)) << name;
      // The date order of the row reads '2/1/3'.
      std::string order = row[3].ToText();
      std::string expected = order == "mdy" ? "20030201" : order == "dmy" ? "20030102" : "?";
      EXPECT_EQ(r[5].ToText(), expected) << name;
    }
  }
}

TEST_F(ConversionDatesTest, SetDateFirstDecidesTheWeekday) {
  // SET DATEFIRST's example: 1999-01-01 was a Friday.
  Check(
      {
          {"SET DATEFIRST 1: Friday is day 5", "DATEPART(dw, '1/1/99')", "5"},
          {"SET DATEFIRST 1", "CAST(@@DATEFIRST AS varchar)", "1"},
          {"SET DATEFIRST 1: the name does not move", "DATENAME(dw, '1/1/99')", "Friday"},
          {"SET DATEFIRST 1: Monday starts week 2 of 1999", "DATEPART(wk, '19990104')", "2"},
      },
      "SET DATEFIRST 1 ");
  Check(
      {
          {"SET DATEFIRST 7: Friday is day 6", "DATEPART(dw, '1/1/99')", "6"},
          {"SET DATEFIRST 7: Sunday starts week 2 of 1999", "DATEPART(wk, '19990103')", "2"},
          {"SET DATEFIRST 7: Monday 1999-01-04 is in week 2", "DATEPART(wk, '19990104')", "2"},
      },
      "SET DATEFIRST 7 ");
  Check({{"SET DATEFIRST from a variable", "DATEPART(weekday, @d)", "1"}},
        "DECLARE @f int SET @f = 4 SET DATEFIRST @f ");
}

TEST_F(ConversionDatesTest, SetDateFormatDecidesHowTextReadsAsADate) {
  // SET DATEFORMAT's example: mdy reads '12/31/98' as December 31, 1998.
  Check(
      {
          {"SET DATEFORMAT mdy", "CONVERT(varchar(10), CAST('12/31/98' AS datetime), 120)",
           "1998-12-31"},
      },
      "SET DATEFORMAT mdy ");
  Check(
      {
          {"SET DATEFORMAT dmy", "CONVERT(varchar(10), CAST('31/12/98' AS datetime), 120)",
           "1998-12-31"},
          {"SET DATEFORMAT dmy", "CONVERT(varchar(10), CAST('01/02/2003' AS datetime), 120)",
           "2003-02-01"},
          {"SET DATEFORMAT dmy: a variable", "CONVERT(varchar(10), @v, 120)", "2003-02-01"},
          {"SET DATEFORMAT dmy: a year first reads y-d-m",
           "CONVERT(varchar(10), CAST('2003-12-01' AS datetime), 120)", "2003-01-12"},
          {"SET DATEFORMAT dmy: ISO 8601 with T is unaffected",
           "CONVERT(varchar(10), CAST('2003-12-01T00:00:00' AS datetime), 120)", "2003-12-01"},
          {"SET DATEFORMAT dmy: unseparated yyyymmdd is unaffected",
           "CONVERT(varchar(10), CAST('20031201' AS datetime), 120)", "2003-12-01"},
          {"SET DATEFORMAT dmy: a comparison with a column",
           "CAST((SELECT COUNT(*) FROM (SELECT CAST('20030201' AS datetime) AS c) t "
           "WHERE c = '01/02/2003') AS varchar)",
           "1"},
          {"SET DATEFORMAT dmy: DATEPART", "CAST(DATEPART(month, '01/02/2003') AS varchar)", "2"},
          {"SET DATEFORMAT dmy: ISDATE", "CAST(ISDATE('31/12/2003') AS varchar)", "1"},
          {"SET DATEFORMAT dmy: stored datetimes are not re-read",
           "CONVERT(varchar(10), DATEADD(dd, 1, @d), 120)", "2003-12-26"},
      },
      "SET DATEFORMAT dmy DECLARE @v datetime SET @v = '01/02/2003' ");
  Check(
      {
          {"SET DATEFORMAT ymd", "CONVERT(varchar(10), CAST('03/02/01' AS datetime), 120)",
           "2003-02-01"},
      },
      "SET DATEFORMAT ymd ");
  Check(
      {
          {"SET DATEFORMAT ydm", "CONVERT(varchar(10), CAST('03/01/02' AS datetime), 120)",
           "2003-02-01"},
      },
      "SET DATEFORMAT ydm ");
  Check(
      {
          {"SET DATEFORMAT dym", "CONVERT(varchar(10), CAST('01/03/02' AS datetime), 120)",
           "2003-02-01"},
          {"SET DATEFORMAT dym: a style still names the order",
           "CONVERT(varchar(10), CONVERT(datetime, '02/01/2003', 101), 120)", "2003-02-01"},
      },
      "SET DATEFORMAT dym ");
  // dmy refuses what only mdy reads.
  CollectingSink sink = Run("SET DATEFORMAT dmy SELECT CAST('12/31/98' AS datetime)");
  EXPECT_EQ(sink.FirstError(), 241);
}

TEST_F(ConversionDatesTest, MonthNamesAreReadInTheSessionLanguage) {
  Check(
      {
          {"syslanguages: Français months as input",
           "CONVERT(varchar(10), CAST('25 décembre 2003' AS datetime), 120)", "2003-12-25"},
          {"syslanguages: Français shortmonths as input",
           "CONVERT(varchar(10), CAST('3 FÉVR 2003' AS datetime), 120)", "2003-02-03"},
      },
      "SET LANGUAGE Français ");
  CollectingSink sink = Run("SET LANGUAGE us_english SELECT CAST('25 décembre 2003' AS datetime)");
  EXPECT_EQ(sink.FirstError(), 241) << "us_english has no month décembre";
}

TEST_F(ConversionDatesTest, HostileTextsAreNoDates) {
  const char* texts[] = {
      "REPLICATE('9', 8000)",
      "REPLICATE('Dec ', 2000)",
      "'25/12/2003''; DROP TABLE t; --'",
      "N'décembre 25 2003'",
      "'2003-12-25 25:61:00'",
      "'12/25/2003 13:00PM'",
      "'99999999'",
      "'1/2/3/4'",
      "'[Dec] 25 2003'",
  };
  for (const char* text : texts) {
    CollectingSink sink = Run(std::string("SELECT CAST(") + text + " AS datetime)");
    EXPECT_EQ(sink.FirstError(), 241) << text;
    EXPECT_EQ(Scalar(std::string("SELECT ISDATE(") + text + ")"), Value(0)) << text;
  }
}

TEST_F(ConversionDatesTest, WrongSettingsAreRefused) {
  CheckErrors({
      {"SET LANGUAGE: unknown name", "SET LANGUAGE Klingon", 2740,
       "SET LANGUAGE failed because 'Klingon' is not an official language name or a language "
       "alias on this SQL Server."},
      {"SET LANGUAGE: hostile name from a variable",
       "DECLARE @l sysname SET @l = N'x''; DROP TABLE t; --' SET LANGUAGE @l", 2740,
       "SET LANGUAGE failed because 'x'; DROP TABLE t; --' is not an official language name or "
       "a language alias on this SQL Server."},
      {"SET DATEFORMAT: not an order", "SET DATEFORMAT dmyy", 2741,
       "SET DATEFORMAT date order 'dmyy' is invalid."},
      {"SET DATEFIRST: 1 through 7", "SET DATEFIRST 8", 2742, "SET DATEFIRST 8 is out of range."},
      {"SET DATEFIRST: 1 through 7", "SET DATEFIRST 0", 2742, "SET DATEFIRST 0 is out of range."},
  });
  // A refused SET leaves the settings as they were.
  EXPECT_EQ(Run("SET LANGUAGE Deutsch SET LANGUAGE Klingon SET DATEFIRST 9").FirstError(), 2740);
  EXPECT_EQ(Scalar("SELECT @@LANGUAGE + ' ' + CAST(@@DATEFIRST AS varchar)"), Value("Deutsch 1"));
}

}  // namespace
}  // namespace sandbox::testing
