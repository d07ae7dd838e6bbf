// The sql command's table printing, script reading and variables, without a server.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/sandbox_cli/batches.h"
#include "app/sandbox_cli/result_printer.h"
#include "app/sandbox_cli/script_input.h"
#include "app/sandbox_cli/variables.h"

namespace sandbox_cli {
namespace {

using common::Value;
using Kind = db::ResultEvent::Kind;

db::ColumnInfo Col(std::string name, Value::Type type = Value::Type::kText) {
  db::ColumnInfo column;
  column.name = std::move(name);
  column.value_type = type;
  return column;
}

struct Printed {
  std::string out;
  std::string err;
  bool had_error = false;
};

// Feeds a row set (and a done count, unless it is below -1) to a printer.
class Feed {
 public:
  explicit Feed(TableOptions options = {}) : printer_(out_, err_, std::move(options)) {}
  Feed& RowSet(std::vector<db::ColumnInfo> columns, std::vector<std::vector<Value>> rows,
               std::int64_t done) {
    db::ResultEvent begin;
    begin.kind = Kind::kBeginRowSet;
    begin.columns = std::move(columns);
    printer_.Print(begin);
    for (auto& values : rows) {
      db::ResultEvent row;
      row.kind = Kind::kRow;
      row.row = std::move(values);
      printer_.Print(row);
    }
    db::ResultEvent end;
    end.kind = Kind::kEndRowSet;
    printer_.Print(end);
    if (done >= -1) Done(done);
    return *this;
  }
  Feed& Done(std::int64_t count) {
    db::ResultEvent done;
    done.kind = Kind::kDone;
    done.rows_affected = count;
    printer_.Print(done);
    return *this;
  }
  Feed& Message(int number, int severity, std::string text, std::string procedure = {},
                int line = 1) {
    db::ResultEvent event;
    event.kind = Kind::kMessage;
    event.message.number = number;
    event.message.severity = severity;
    event.message.text = std::move(text);
    event.message.procedure = std::move(procedure);
    event.message.line = line;
    printer_.Print(event);
    return *this;
  }
  Printed Finish() {
    printer_.Finish();
    return {out_.str(), err_.str(), printer_.had_error()};
  }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  ResultPrinter printer_;
};

TEST(ResultPrinterTest, TablesPadTextLeftAndNumbersRight) {
  Printed p = Feed()
                  .RowSet({Col("name"), Col("dbid", Value::Type::kInt), Col("owner")},
                          {{Value("master"), Value(1), Value("sa")},
                           {Value("Quillarchive_Long"), Value(12345), Value()}},
                          2)
                  .Finish();
  EXPECT_EQ(p.out,
            "name              dbid  owner\n"
            "----------------- ----- -----\n"
            "master                1 sa\n"
            "Quillarchive_Long 12345 NULL\n"
            "\n"
            "(2 rows affected)\n");
  EXPECT_EQ(p.err, "");
  EXPECT_FALSE(p.had_error);
}

TEST(ResultPrinterTest, CountsMessagesAndEmptyResults) {
  Printed p = Feed()
                  .Done(3)
                  .Message(0, 0, "hello")
                  .RowSet({Col("")}, {}, 0)
                  .RowSet({Col("x")}, {{Value("a")}}, -1)
                  .Message(5701, 10, "Changed database context to 'master'.")
                  .Finish();
  EXPECT_EQ(p.out,
            "\n(3 rows affected)\n"
            "hello\n"
            "\n-\n\n(0 rows affected)\n"
            "x\n-\na\n\n"
            "Changed database context to 'master'.\n");
  EXPECT_FALSE(p.had_error);
}

TEST(ResultPrinterTest, ErrorsGoToTheErrorStreamInTheMsgForm) {
  Printed p = Feed()
                  .Message(208, 16, "Invalid object name 'x'.")
                  .Message(50000, 16, "boom", "usp_Fail", 7)
                  .Message(170, 15, "Line 0 is no line.", "", 0)
                  .Finish();
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(p.err,
            "Msg 208, Level 16, State 1, Line 1\nInvalid object name 'x'.\n"
            "Msg 50000, Level 16, State 1, Procedure usp_Fail, Line 7\nboom\n"
            "Msg 170, Level 15, State 1, Line 1\nLine 0 is no line.\n");
  EXPECT_TRUE(p.had_error);
}

TEST(ResultPrinterTest, ValuesShowAsTheServerToolsShowThem) {
  EXPECT_EQ(DisplayValue(Value()), "NULL");
  EXPECT_EQ(DisplayValue(Value(true)), "1");
  EXPECT_EQ(DisplayValue(Value(false)), "0");
  EXPECT_EQ(DisplayValue(Value(common::DateTime{2003, 4, 5, 6, 7, 8, 0})),
            "2003-04-05 06:07:08.000");
  EXPECT_EQ(DisplayValue(Value(common::Bytes{0x01, 0xAB, 0xFF})), "0x01ABFF");
  EXPECT_EQ(DisplayValue(Value(common::Bytes{})), "0x");
  auto guid = common::Guid::Parse("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  ASSERT_TRUE(guid);
  EXPECT_EQ(DisplayValue(Value(*guid)), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
  EXPECT_EQ(DisplayValue(Value(2.5)), "2.5");
}

TEST(ResultPrinterTest, DecimalsShowEveryPlaceOfTheirScale) {
  struct Case {
    Value value;
    const char* type;
    int scale;
    const char* shown;
  };
  const Case cases[] = {
      {Value(123.46), "numeric", 4, "123.4600"},  // ROUND(123.4567, 2)
      {Value(150.0), "decimal", 2, "150.00"},
      {Value(-0.5), "numeric", 1, "-0.5"},
      {Value(12.35), "money", 4, "12.3500"},
      {Value(7LL), "decimal", 0, "7"},
      {Value("99999999999999999999999"), "decimal", 0, "99999999999999999999999"},
      {Value(2.5), "float", 0, "2.5"},
      {Value(), "numeric", 2, "NULL"},
  };
  for (const Case& c : cases) {
    db::ColumnInfo column;
    column.type_name = c.type;
    column.scale = c.scale;
    EXPECT_EQ(DisplayValue(c.value, column), c.shown) << c.type;
  }
}

TEST(ResultPrinterTest, WidthsCountCharactersNotBytes) {
  EXPECT_EQ(DisplayWidth("Müller"), 6u);
  EXPECT_EQ(DisplayWidth("日本"), 2u);
  Printed p = Feed().RowSet({Col("n"), Col("z")}, {{Value("Müller"), Value("a")}}, 1).Finish();
  EXPECT_EQ(p.out, "n      z\n------ -\nMüller a\n\n(1 rows affected)\n");
}

TEST(ResultPrinterTest, HostileValuesStayInTheirCell) {
  std::string long_text(5000, 'x');
  Printed p = Feed()
                  .RowSet({Col("O'Brien]"), Col("b")},
                          {{Value("a;b'c"), Value(long_text)}, {Value(""), Value("")}}, 2)
                  .Finish();
  EXPECT_EQ(p.out, "O'Brien] b\n-------- " + std::string(5000, '-') + "\na;b'c    " + long_text +
                       "\n         \n\n(2 rows affected)\n");
}

TEST(ResultPrinterTest, ScriptFriendlyOptions) {
  TableOptions options;
  options.separator = ",";
  options.trim = true;
  Printed p = Feed(options)
                  .RowSet({Col("name"), Col("n", Value::Type::kInt)},
                          {{Value("master"), Value(1)}, {Value("m"), Value(100)}}, 2)
                  .Finish();
  EXPECT_EQ(p.out, "name,n\n----,-\nmaster,1\nm,100\n\n(2 rows affected)\n");
  options.headers = false;
  p = Feed(options).RowSet({Col("a"), Col("b")}, {{Value("x"), Value("y")}}, -1).Finish();
  EXPECT_EQ(p.out, "x,y\n\n");
}

TEST(ResultPrinterTest, ARowSetCutShortIsStillShown) {
  Feed feed;
  Printed p = feed.RowSet({Col("a")}, {{Value("1")}}, -2).Finish();
  EXPECT_EQ(p.out, "a\n-\n1\n\n");
}

// A long row set is shown before it ends: the first rows set the widths, the rest follow as
// they come, and a later, wider value widens only its own line.
TEST(ResultPrinterTest, LongRowSetsStreamWithWidthsFromTheFirstRows) {
  std::ostringstream out, err;
  ResultPrinter printer(out, err, {});
  db::ResultEvent event;
  event.kind = Kind::kBeginRowSet;
  event.columns = {Col("n", Value::Type::kInt), Col("name")};
  printer.Print(event);
  event.kind = Kind::kRow;
  for (size_t i = 0; i < ResultPrinter::kWidthRows - 1; ++i) {
    event.row = {Value(static_cast<long long>(i % 10)), Value("ab")};
    printer.Print(event);
  }
  EXPECT_EQ(out.str(), "");  // the widths are not known yet
  event.row = {Value(7), Value("abc")};
  printer.Print(event);
  const std::string head = "n name\n- ----\n0 ab\n";
  std::string shown = out.str();
  EXPECT_EQ(shown.substr(0, head.size()), head);
  size_t lines = std::count(shown.begin(), shown.end(), '\n');
  EXPECT_EQ(lines, ResultPrinter::kWidthRows + 2);

  event.row = {Value(12345), Value("a much longer name")};
  printer.Print(event);
  event.row = {Value(1), Value("x")};
  printer.Print(event);
  shown = out.str();
  EXPECT_EQ(static_cast<size_t>(std::count(shown.begin(), shown.end(), '\n')), lines + 2);
  event.kind = Kind::kEndRowSet;
  printer.Print(event);
  event.kind = Kind::kDone;
  event.rows_affected = ResultPrinter::kWidthRows + 2;
  printer.Print(event);
  printer.Finish();
  const std::string tail = "7 abc\n12345 a much longer name\n1 x\n\n(1002 rows affected)\n";
  shown = out.str();
  ASSERT_GE(shown.size(), tail.size());
  EXPECT_EQ(shown.substr(shown.size() - tail.size()), tail);

  // The next row set finds its widths afresh.
  Printed next = Feed().RowSet({Col("c")}, {{Value("wide value")}}, -1).Finish();
  EXPECT_EQ(next.out, "c\n----------\nwide value\n\n");
}

TEST(ScriptTest, LinesThatSeparateEndAndCommand) {
  using K = ScriptLine::Kind;
  struct Case {
    std::string line;
    K kind;
    int count = 1;
    std::string argument = {};
  };
  const std::vector<Case> cases = {
      {"GO", K::kGo},
      {"  go  ", K::kGo},
      {"Go\r", K::kGo},
      {"GO 3", K::kGo, 3},
      {"GO 2147483647", K::kGo, 2147483647},
      {"GOTO done", K::kText},
      {"go_on", K::kText},
      {"SELECT 1 GO", K::kText},
      {"", K::kText},
      {"GO x", K::kBadGo},
      {"GO 0", K::kBadGo},
      {"GO -1", K::kBadGo},
      {"GO 99999999999999999999", K::kBadGo},
      {"exit", K::kExit},
      {" QUIT ", K::kExit},
      {":quit", K::kExit},
      {":EXIT", K::kExit},
      {"exit 1", K::kText},
      {"exit(SELECT 1)", K::kExitQuery, 1, "SELECT 1"},
      {":Exit ( SELECT ')' )", K::kExitQuery, 1, "SELECT ')'"},
      {"EXIT()", K::kExitQuery, 1, ""},
      {"exit(SELECT 1", K::kText},
      {"RESET", K::kReset},
      {":reset", K::kReset},
      {"reset x", K::kText},
      {":r other.sql", K::kRead, 1, "other.sql"},
      {":R \"with blank.sql\"", K::kRead, 1, "with blank.sql"},
      {":r", K::kBadCommand, 1, ":r"},
      {":setvar x 1", K::kSetVar, 1, "x 1"},
      {":SETVAR", K::kSetVar, 1, ""},
      {":setvarx 1", K::kBadCommand, 1, ":setvarx"},
      {":connect srv", K::kBadCommand, 1, ":connect"},
      {":", K::kBadCommand, 1, ":"},
      {": '", K::kBadCommand, 1, ": "},
      {"::", K::kBadCommand, 1, "::"},
      {"!! ls", K::kText},
      {"SELECT ':r x'", K::kText},
  };
  for (const Case& c : cases) {
    ScriptLine got = ClassifyLine(c.line);
    EXPECT_EQ(got.kind, c.kind) << c.line;
    if (c.kind == K::kGo) {
      EXPECT_EQ(got.count, c.count) << c.line;
    }
    EXPECT_EQ(got.argument, c.argument) << c.line;
  }
  EXPECT_TRUE(IsBlank(" \n\t"));
  EXPECT_FALSE(IsBlank(" x "));
}

std::vector<std::string> ReadAll(const std::string& bytes, ScriptReader::Encoding* encoding) {
  std::istringstream in(bytes);
  ScriptReader reader(in);
  std::vector<std::string> lines;
  while (auto line = reader.ReadLine()) lines.push_back(*line);
  if (encoding) *encoding = reader.encoding();
  return lines;
}

std::string Utf16(const std::u16string& text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += big_endian ? high : low;
    out += big_endian ? low : high;
  }
  return out;
}

TEST(ScriptReaderTest, ReadsEachEncodingWithItsMark) {
  using E = ScriptReader::Encoding;
  const std::vector<std::string> expected = {"SELECT N'Müller 日本 😀'", "GO", "", "x"};
  struct Case {
    std::string name;
    std::string bytes;
    E encoding;
  };
  const std::u16string text = u"SELECT N'Müller 日本 😀'\r\nGO\n\r\nx";
  const std::vector<Case> cases = {
      {"UTF-8", "SELECT N'Müller 日本 😀'\r\nGO\n\r\nx", E::kUtf8},
      {"UTF-8 with mark", "\xEF\xBB\xBFSELECT N'Müller 日本 😀'\r\nGO\n\r\nx", E::kUtf8WithMark},
      {"UTF-16 LE", Utf16(text, false), E::kUtf16Le},
      {"UTF-16 BE", Utf16(text, true), E::kUtf16Be},
  };
  for (const Case& c : cases) {
    E encoding;
    EXPECT_EQ(ReadAll(c.bytes, &encoding), expected) << c.name;
    EXPECT_EQ(encoding, c.encoding) << c.name;
  }
  // A mark alone is an empty file; a mark in the middle is text.
  EXPECT_TRUE(ReadAll("\xEF\xBB\xBF", nullptr).empty());
  EXPECT_TRUE(ReadAll("\xFF\xFE", nullptr).empty());
  EXPECT_TRUE(ReadAll("", nullptr).empty());
  EXPECT_EQ(ReadAll("a\n\xEF\xBB\xBF"
                    "b",
                    nullptr),
            (std::vector<std::string>{"a",
                                      "\xEF\xBB\xBF"
                                      "b"}));
}

TEST(ScriptReaderTest, BrokenUtf16BecomesReplacementCharacters) {
  // A lone high surrogate, then an odd last byte.
  std::string bytes =
      Utf16(u"a", false) + std::string("\x00\xD8", 2) + "b" + std::string(1, '\0') + "c";
  EXPECT_EQ(ReadAll(bytes, nullptr), (std::vector<std::string>{"a\xEF\xBF\xBD"
                                                               "b\xEF\xBF\xBD"}));
}

TEST(ScriptReaderTest, LongLinesAndCharactersAcrossPieces) {
  // Lines longer than a piece of reading, and UTF-16 characters split where a piece ends.
  std::u16string long_line(100000, u'é');
  long_line += u"😀";
  std::u16string text = long_line + u"\n" + long_line + u"\nend";
  std::string utf8_line;
  for (size_t i = 0; i < 100000; ++i) utf8_line += "é";
  utf8_line += "😀";
  for (bool big : {false, true}) {
    EXPECT_EQ(ReadAll(Utf16(text, big), nullptr),
              (std::vector<std::string>{utf8_line, utf8_line, "end"}))
        << big;
  }
  std::string plain(300000, 'x');
  EXPECT_EQ(ReadAll(plain + "\r\n" + plain, nullptr), (std::vector<std::string>{plain, plain}));
}

TEST(VariablesTest, SubstitutesAndNamesWhatIsMissing) {
  Variables variables;
  variables.Set("Db", "Archive");
  variables.Set("quote", "O'Brien]; DROP");
  variables.Set("empty", "");
  struct Case {
    std::string line;
    std::optional<std::string> result;
    std::string undefined = {};
  };
  const std::vector<Case> cases = {
      {"USE $(db)", "USE Archive"},
      {"$(DB)$(db)", "ArchiveArchive"},
      {"SELECT '$(quote)'", "SELECT 'O'Brien]; DROP'"},
      {"x$(empty)y", "xy"},
      {"no variables", "no variables"},
      {"$(", "$("},
      {"SELECT '$(db' + ')'", "SELECT '$(db' + ')'"},
      {"$(a b) $(db)", "$(a b) Archive"},
      {"$()", "$()"},
      {"$$(db)", "$Archive"},
      {"$(nosuch_var_x)", std::nullopt, "nosuch_var_x"},
      {"$(db) $(Missing-One)", std::nullopt, "Missing-One"},
      {"$(" + std::string(200, 'n') + ")", "$(" + std::string(200, 'n') + ")"},
  };
  for (const Case& c : cases) {
    std::string undefined;
    EXPECT_EQ(variables.Substitute(c.line, &undefined), c.result) << c.line;
    EXPECT_EQ(undefined, c.undefined) << c.line;
  }
  // A value is not substituted again.
  variables.Set("loop", "$(loop)");
  EXPECT_EQ(variables.Substitute("$(loop)", nullptr), "$(loop)");
  variables.Remove("DB");
  EXPECT_EQ(variables.Substitute("$(db)", nullptr), std::nullopt);
}

TEST(VariablesTest, SetVarTakesANameAndAValue) {
  struct Case {
    std::string text;
    std::optional<std::string> name;
    std::optional<std::string> value = {};
  };
  const std::vector<Case> cases = {
      {"db Archive", "db", "Archive"},
      {"  db   Archive  ", "db", "Archive"},
      {"db", "db", std::nullopt},
      {"db \"two words\"", "db", "two words"},
      {"db \"say \"\"hi\"\"\"", "db", "say \"hi\""},
      {"db \"\"", "db", ""},
      {"db 'x'", "db", "'x'"},
      {"db \"unclosed", std::nullopt},
      {"db \"a\" b", std::nullopt},
      {"db two words", std::nullopt},
      {"", std::nullopt},
      {"bad/name x", std::nullopt},
      {"Müller x", std::nullopt},
  };
  for (const Case& c : cases) {
    std::string error;
    std::optional<SetVar> got = ParseSetVar(c.text, &error);
    ASSERT_EQ(got.has_value(), c.name.has_value()) << c.text << ": " << error;
    if (!got) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(got->name, *c.name) << c.text;
    EXPECT_EQ(got->value, c.value) << c.text;
  }
}

}  // namespace
}  // namespace sandbox_cli
