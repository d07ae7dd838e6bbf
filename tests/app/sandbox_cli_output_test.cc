// The sql command's table printing and script splitting, without a server.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "app/sandbox_cli/batches.h"
#include "app/sandbox_cli/result_printer.h"

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

TEST(ScriptTest, LinesThatSeparateAndEnd) {
  using K = ScriptLine::Kind;
  EXPECT_EQ(ClassifyLine("GO").kind, K::kGo);
  EXPECT_EQ(ClassifyLine("  go  ").kind, K::kGo);
  EXPECT_EQ(ClassifyLine("Go\r").kind, K::kGo);
  ScriptLine three = ClassifyLine("GO 3");
  EXPECT_EQ(three.kind, K::kGo);
  EXPECT_EQ(three.count, 3);
  EXPECT_EQ(ClassifyLine("GOTO done").kind, K::kText);
  EXPECT_EQ(ClassifyLine("go_on").kind, K::kText);
  EXPECT_EQ(ClassifyLine("SELECT 1 GO").kind, K::kText);
  EXPECT_EQ(ClassifyLine("").kind, K::kText);
  EXPECT_EQ(ClassifyLine("GO x").kind, K::kBadGo);
  EXPECT_EQ(ClassifyLine("GO 0").kind, K::kBadGo);
  EXPECT_EQ(ClassifyLine("GO -1").kind, K::kBadGo);
  EXPECT_EQ(ClassifyLine("GO 99999999999999999999").kind, K::kBadGo);
  EXPECT_EQ(ClassifyLine("GO 2147483647").count, 2147483647);
  EXPECT_EQ(ClassifyLine("exit").kind, K::kExit);
  EXPECT_EQ(ClassifyLine(" QUIT ").kind, K::kExit);
  EXPECT_EQ(ClassifyLine("exit 1").kind, K::kText);
}

TEST(ScriptTest, SplitsAtGoAndKeepsTheLastBatch) {
  int bad = -1;
  auto batches = SplitScript(
      "CREATE TABLE t (a int)\r\nGO\r\n\r\nINSERT t VALUES (1)\nGO 2\n-- GO\nSELECT a FROM t",
      &bad);
  EXPECT_EQ(bad, 0);
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].text, "CREATE TABLE t (a int)\n");
  EXPECT_EQ(batches[0].count, 1);
  EXPECT_EQ(batches[1].text, "\nINSERT t VALUES (1)\n");
  EXPECT_EQ(batches[1].count, 2);
  EXPECT_EQ(batches[1].first_line, 3);
  EXPECT_EQ(batches[2].text, "-- GO\nSELECT a FROM t\n");
  EXPECT_EQ(batches[2].first_line, 6);

  EXPECT_TRUE(SplitScript("", &bad).empty());
  EXPECT_TRUE(SplitScript("\n  \n", &bad).empty());
  // A quoted GO on a line of its own separates, as it does for sqlcmd.
  batches = SplitScript("SELECT '\nGO\n'", &bad);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[0].text, "SELECT '\n");
}

TEST(ScriptTest, ExitAndBadGoEndTheScript) {
  int bad = -1;
  auto batches = SplitScript("SELECT 1\nGO\nSELECT 2\nEXIT\nSELECT 3\nGO\n", &bad);
  EXPECT_EQ(bad, 0);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].text, "SELECT 1\n");

  batches = SplitScript("SELECT 1\nGO\nSELECT 2\nGO many\nSELECT 3\n", &bad);
  EXPECT_EQ(bad, 4);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_TRUE(IsBlank(" \n\t"));
  EXPECT_FALSE(IsBlank(" x "));
}

}  // namespace
}  // namespace sandbox_cli
