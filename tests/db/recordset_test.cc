#include "db/recordset.h"

#include <gtest/gtest.h>

#include "fake_fixture.h"

namespace db {
namespace {

using testing::Column;
using testing::FakeResult;

class RecordsetTest : public FakeServerTest {
 protected:
  // What sp_helpdb sends after SET NOCOUNT OFF: counts of its work tables, then the rows.
  void ScriptHelpDb() {
    server_->On(
        "EXEC master..sp_helpdb",
        FakeResult().Count(5).Count(5).Print("note").NoCount().Rows(
            {Column("name", "sysname"), Column("db_size", "nvarchar"), Column("owner", "sysname")},
            {{Value("master"), Value("12.00 MB"), Value("sa")},
             {Value("Quillarchive_Sales"), Value("3.00 MB"), Value("sa")},
             {Value("quillarchive_x"), Value(" 1.50 MB"), Value()}}));
  }

  std::vector<std::string> Names(Recordset& rs, const char* column = "name") {
    std::vector<std::string> names;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
      names.push_back(rs.Fields(column).Value().ToText());
    }
    return names;
  }
};

TEST_F(RecordsetTest, RowlessResultsComeFirstAsClosedRecordsets) {
  Connection connection = Open();
  ScriptHelpDb();
  Recordset rs;
  rs.Open("EXEC master..sp_helpdb", connection, kOpenForwardOnly, kLockReadOnly, kCmdText);
  std::vector<int> states;
  std::vector<std::int64_t> counts;
  int replacements = 0;
  while (rs.State() != kStateOpen && replacements < 100) {
    std::int64_t affected = 0;
    rs = rs.NextRecordset(&affected);
    states.push_back(rs.State());
    counts.push_back(affected);
    ++replacements;
  }
  // Two counts and a message before the rows: the first closed result was current at Open.
  EXPECT_EQ(states, (std::vector<int>{kStateClosed, kStateClosed, kStateOpen}));
  EXPECT_EQ(counts, (std::vector<std::int64_t>{5, -1, -1}));
  EXPECT_EQ(Names(rs),
            (std::vector<std::string>{"master", "Quillarchive_Sales", "quillarchive_x"}));
  // After the last result the recordset stays closed, and Close is still allowed.
  rs.NextRecordset();
  EXPECT_EQ(rs.State(), kStateClosed);
  rs.NextRecordset();
  EXPECT_EQ(rs.State(), kStateClosed);
  EXPECT_NO_THROW(rs.Close());
}

TEST_F(RecordsetTest, StatementsWithoutCountOrMessageAreNoResults) {
  Connection connection = Open();
  server_->On("SET NOCOUNT ON; SELECT 1 AS n",
              FakeResult().NoCount().RowsNoCount({Column("n", "int")}, {{Value(1)}}));
  Recordset rs;
  rs.Open("SET NOCOUNT ON; SELECT 1 AS n", connection);
  ASSERT_EQ(rs.State(), kStateOpen);
  EXPECT_EQ(rs.Fields("N").Value(), Value(1));
  // Nothing at all: closed, and no further result.
  Recordset empty;
  empty.Open("SET NOCOUNT ON", connection);
  EXPECT_EQ(empty.State(), kStateClosed);
  empty.NextRecordset();
  EXPECT_EQ(empty.State(), kStateClosed);
}

TEST_F(RecordsetTest, MessagesBeforeARowSetAreAResultOfTheirOwn) {
  Connection connection = Open();
  // A PRINT whose statement end the server did not mark.
  server_->On("PRINT 'x'; SELECT 1 AS n",
              FakeResult().Print("x").Rows({Column("n", "int")}, {{Value(1)}}));
  Recordset rs;
  rs.Open("PRINT 'x'; SELECT 1 AS n", connection);
  EXPECT_EQ(rs.State(), kStateClosed);
  rs.NextRecordset();
  ASSERT_EQ(rs.State(), kStateOpen);
  EXPECT_EQ(rs.Fields("n").Value(), Value(1));
}

TEST_F(RecordsetTest, AnErrorLaterInTheBatchIsRaisedWhenItsResultIsReached) {
  Connection connection = Open();
  server_->On("SELECT name FROM a; SELECT * FROM nosuch; SELECT 2",
              FakeResult()
                  .Rows({Column("name")}, {{Value("one")}, {Value("two")}})
                  .Error(208, "Invalid object name 'nosuch'.")
                  .NoCount()
                  .Rows({Column("n", "int")}, {{Value(2)}}));
  Recordset rs;
  rs.Open("SELECT name FROM a; SELECT * FROM nosuch; SELECT 2", connection);
  // The rows before the error are all there.
  EXPECT_EQ(Names(rs), (std::vector<std::string>{"one", "two"}));
  Error error = CatchError([&] { rs.NextRecordset(); });
  EXPECT_EQ(error.number(), kErrorNoTable);
  EXPECT_EQ(error.description(), "Invalid object name 'nosuch'.");
  EXPECT_EQ(rs.State(), kStateClosed);
  // The results after the failed statement can still be read.
  rs.NextRecordset();
  ASSERT_EQ(rs.State(), kStateOpen);
  EXPECT_EQ(rs.Fields(0).Value(), Value(2));
}

TEST_F(RecordsetTest, AnErrorInTheMiddleOfRowsRaisesAtOpenAndKeepsTheRowsBeforeIt) {
  Connection connection = Open();
  server_->On("SELECT 10/x AS n FROM t", FakeResult()
                                             .BeginRows({Column("n", "int")})
                                             .Row({Value(10)})
                                             .Row({Value(5)})
                                             .EndRows()
                                             .Error(8134, "Divide by zero error encountered.")
                                             .NoCount());
  Recordset rs;
  rs.SetCursorLocation(kUseClient);
  Error error = CatchError([&] { rs.Open("SELECT 10/x AS n FROM t", connection); });
  EXPECT_EQ(error.native_error(), 8134);
  EXPECT_EQ(error.number(), kErrorsInCommand);
  ASSERT_EQ(rs.State(), kStateOpen);
  EXPECT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(rs.Fields("n").Value(), Value(10));
}

TEST_F(RecordsetTest, TwoRowSetsWithoutACountBetweenThemAreTwoResults) {
  Connection connection = Open();
  server_->On("EXEC two", FakeResult()
                              .BeginRows({Column("a")})
                              .Row({Value("x")})
                              .EndRows()
                              .BeginRows({Column("b")})
                              .Row({Value("y")})
                              .EndRows()
                              .Count(1));
  Recordset rs;
  rs.Open("EXEC two", connection);
  EXPECT_EQ(rs.Fields(0).Name(), "a");
  rs.NextRecordset();
  EXPECT_EQ(rs.Fields(0).Name(), "b");
  EXPECT_EQ(rs.Fields(0).Value(), Value("y"));
}

TEST_F(RecordsetTest, ServerForwardOnlyCursorsCountNothingAndDoNotGoBack) {
  Connection connection = Open();
  ScriptHelpDb();
  Recordset rs;
  rs.Open("EXEC master..sp_helpdb", connection);
  while (rs.State() != kStateOpen) rs.NextRecordset();
  EXPECT_EQ(rs.CursorLocation(), kUseServer);
  EXPECT_EQ(rs.RecordCount(), -1);
  EXPECT_TRUE(!rs.Bof() && !rs.Eof());
  rs.MoveNext();
  EXPECT_EQ(CatchError([&] { rs.MovePrevious(); }).number(), kErrorCannotFetchBackwards);
}

TEST_F(RecordsetTest, ClientCursorsAreStaticAndCountTheirRows) {
  Connection connection = Open();
  connection.SetCursorLocation(kUseClient);
  ScriptHelpDb();
  Recordset rs;
  rs.Open("EXEC master..sp_helpdb", connection, kOpenForwardOnly, kLockOptimistic);
  while (rs.State() != kStateOpen) rs.NextRecordset();
  EXPECT_EQ(rs.CursorLocation(), kUseClient);
  EXPECT_EQ(rs.CursorType(), kOpenStatic);
  EXPECT_EQ(rs.RecordCount(), 3);
  rs.MoveLast();
  EXPECT_EQ(rs.Fields("name").Value(), Value("quillarchive_x"));
  rs.MovePrevious();
  rs.MovePrevious();
  rs.MovePrevious();
  EXPECT_TRUE(rs.Bof());
  EXPECT_FALSE(rs.Eof());
  EXPECT_EQ(CatchError([&] { rs.Fields("name").Value(); }).number(), kErrorNoCurrentRecord);
  EXPECT_EQ(CatchError([&] { rs.MovePrevious(); }).number(), kErrorNoCurrentRecord);
  rs.MoveNext();
  EXPECT_EQ(rs.Fields("name").Value(), Value("master"));
}

TEST_F(RecordsetTest, ARecordsetSetToClientLocationOverridesTheConnection) {
  Connection connection = Open();
  ScriptHelpDb();
  Recordset rs;
  rs.SetCursorLocation(kUseClient);
  rs.Open("EXEC master..sp_helpdb", connection);
  while (rs.State() != kStateOpen) rs.NextRecordset();
  EXPECT_EQ(rs.RecordCount(), 3);
}

TEST_F(RecordsetTest, EmptyResultsAreBothBofAndEof) {
  Connection connection = Open();
  server_->On("SELECT name FROM x WHERE 1=0", FakeResult().Rows({Column("name")}, {}));
  Recordset rs;
  rs.Open("SELECT name FROM x WHERE 1=0", connection);
  EXPECT_EQ(rs.State(), kStateOpen);
  EXPECT_TRUE(rs.Bof());
  EXPECT_TRUE(rs.Eof());
  EXPECT_EQ(CatchError([&] { rs.MoveNext(); }).number(), kErrorNoCurrentRecord);
  EXPECT_EQ(CatchError([&] { rs.Fields("name").Value(); }).number(), kErrorNoCurrentRecord);
}

TEST_F(RecordsetTest, FieldsByNameIgnoreCaseAndByOrdinal) {
  Connection connection = Open();
  server_->On("EXEC sp_helpuser",
              FakeResult().Rows({Column("UserName"), Column("GroupName"), Column("LoginName"),
                                 Column("UserID", "smallint")},
                                {{Value("dbo"), Value("db_owner"), Value("sa"), Value(1)}}));
  Recordset rs;
  rs.Open("EXEC sp_helpuser", connection);
  EXPECT_EQ(rs.Fields().Count(), 4);
  EXPECT_EQ(rs.Fields("groupname").Value(), Value("db_owner"));
  EXPECT_EQ(rs.Fields("GROUPNAME").Name(), "GroupName");
  EXPECT_EQ(rs.Fields(3).Value(), Value(1));
  EXPECT_EQ(rs.Fields(3).Type(), kTypeSmallInt);
  EXPECT_EQ(rs.Fields(3).ActualSize(), 2);
  EXPECT_EQ(CatchError([&] { rs.Fields("Group"); }).number(), kErrorItemNotFound);
  EXPECT_EQ(CatchError([&] { rs.Fields(4); }).number(), kErrorItemNotFound);
  EXPECT_EQ(CatchError([&] { rs.Fields(-1); }).number(), kErrorItemNotFound);
}

TEST_F(RecordsetTest, ActualSizeCountsBytesAsStored) {
  Connection connection = Open();
  server_->On("SELECT t", FakeResult().Rows({Column("a", "varchar"), Column("n", "nvarchar"),
                                             Column("b", "image"), Column("z", "varchar")},
                                            {{Value("h\xC3\xA9llo"), Value("h\xC3\xA9llo"),
                                              Value(common::Bytes(51, 7)), Value()}}));
  Recordset rs;
  rs.Open("SELECT t", connection);
  EXPECT_EQ(rs.Fields("a").ActualSize(), 6);   // UTF-8 bytes
  EXPECT_EQ(rs.Fields("n").ActualSize(), 10);  // two bytes a character
  EXPECT_EQ(rs.Fields("b").ActualSize(), 51);
  EXPECT_EQ(rs.Fields("z").ActualSize(), 0);
}

TEST_F(RecordsetTest, OperationsOnAClosedRecordsetAreRefused) {
  Recordset rs;
  EXPECT_EQ(CatchError([&] { rs.Eof(); }).number(), kErrorObjectClosed);
  EXPECT_EQ(CatchError([&] { rs.Close(); }).number(), kErrorObjectClosed);
  EXPECT_EQ(CatchError([&] { rs.NextRecordset(); }).number(), kErrorObjectClosed);
  EXPECT_EQ(CatchError([&] { rs.Fields("x"); }).number(), kErrorObjectClosed);
  EXPECT_EQ(CatchError([&] { rs.Open("SELECT 1"); }).number(), kErrorConnectionNotUsable);
  Connection closed(environment_);
  EXPECT_EQ(CatchError([&] { rs.Open("SELECT 1", closed); }).number(), kErrorConnectionNotUsable);
}

TEST_F(RecordsetTest, OpeningAnOpenRecordsetIsRefusedAndCloseAllowsReopening) {
  Connection connection = Open();
  server_->On("SELECT 1", FakeResult().Rows({Column("n", "int")}, {{Value(1)}}));
  Recordset rs;
  rs.Open("SELECT 1", connection);
  EXPECT_EQ(CatchError([&] { rs.Open("SELECT 1", connection); }).number(), kErrorObjectOpen);
  rs.Close();
  EXPECT_EQ(rs.State(), kStateClosed);
  rs.Open("SELECT 1", connection);
  EXPECT_EQ(rs.State(), kStateOpen);
}

TEST_F(RecordsetTest, ARecordsetKeepsItsConnectionAlive) {
  Recordset rs;
  {
    Connection connection = Open();
    server_->On("SELECT 1", FakeResult().Rows({Column("n", "int")}, {{Value(1)}}));
    rs.Open("SELECT 1", connection);
  }
  EXPECT_EQ(server_->open_sessions(), 1);
  EXPECT_EQ(rs.ActiveConnection().State(), kStateOpen);
  rs = Recordset();
  EXPECT_EQ(server_->open_sessions(), 0);
}

// Filter and sort -----------------------------------------------------------------------------

class FilterSortTest : public RecordsetTest {
 protected:
  void SetUp() override {
    connection_ = Open();
    connection_.SetCursorLocation(kUseClient);
    server_->On(
        "EXEC sp_helpuser",
        FakeResult().Rows(
            {Column("UserName"), Column("LoginName"), Column("UserID", "smallint"),
             Column("Created", "datetime")},
            {{Value("dbo"), Value("sa"), Value(1), Value(common::DateTime{2003, 1, 2})},
             {Value("guest"), Value(), Value(2), Value(common::DateTime{2004, 5, 6})},
             {Value("O'Brien"), Value("DOM\\obrien"), Value(5),
              Value(common::DateTime{2002, 3, 4})},
             {Value("anna"), Value("Anna"), Value(10), Value()},
             {Value("Bert"), Value("bert"), Value(3), Value(common::DateTime{2003, 1, 2})}}));
    rs_.Open("EXEC sp_helpuser", connection_);
  }
  std::vector<std::string> Users() { return Names(rs_, "UserName"); }

  Connection connection_;
  Recordset rs_;
};

TEST_F(FilterSortTest, FiltersByTextIgnoringCaseAndClearsWithEmptyText) {
  rs_.SetFilter("LoginName = 'ANNA'");
  EXPECT_EQ(Users(), (std::vector<std::string>{"anna"}));
  EXPECT_EQ(rs_.RecordCount(), 1);
  EXPECT_EQ(rs_.Filter(), "LoginName = 'ANNA'");
  rs_.SetFilter("LoginName = 'nobody'");
  EXPECT_TRUE(rs_.Eof() && rs_.Bof());
  EXPECT_EQ(rs_.RecordCount(), 0);
  rs_.SetFilter("");
  EXPECT_EQ(rs_.RecordCount(), 5);
  EXPECT_EQ(rs_.Filter(), "");
}

TEST_F(FilterSortTest, QuotesInsideValuesAreDoubled) {
  rs_.SetFilter("UserName = 'O''Brien'");
  EXPECT_EQ(Users(), (std::vector<std::string>{"O'Brien"}));
  rs_.SetFilter("[LoginName] = 'DOM\\obrien'");
  EXPECT_EQ(Users(), (std::vector<std::string>{"O'Brien"}));
}

TEST_F(FilterSortTest, AnUndoubledQuoteIsRefusedAndTheOldFilterStays) {
  rs_.SetFilter("UserID > 2");
  // What plain concatenation of O'Brien gives.
  Error error = CatchError([&] { rs_.SetFilter("UserName = 'O'Brien'"); });
  EXPECT_EQ(error.number(), kErrorInvalidArgument);
  EXPECT_NE(error.description().find("filter"), std::string::npos);
  EXPECT_EQ(rs_.Filter(), "UserID > 2");
  EXPECT_EQ(rs_.RecordCount(), 3);
}

TEST_F(FilterSortTest, NumbersCompareAsNumbers) {
  rs_.SetFilter("userid=1");
  EXPECT_EQ(Users(), (std::vector<std::string>{"dbo"}));
  rs_.SetFilter("UserID >= 5");
  EXPECT_EQ(Users(), (std::vector<std::string>{"O'Brien", "anna"}));  // 10 > 5, not "10" < "5"
  rs_.SetFilter("UserID <> 2 AND UserID < 5");
  EXPECT_EQ(Users(), (std::vector<std::string>{"dbo", "Bert"}));
  rs_.SetFilter("UserID <= '2'");
  EXPECT_EQ(Users(), (std::vector<std::string>{"dbo", "guest"}));
}

TEST_F(FilterSortTest, NullLikeDatesAndNesting) {
  rs_.SetFilter("LoginName = NULL");
  EXPECT_EQ(Users(), (std::vector<std::string>{"guest"}));
  rs_.SetFilter("LoginName <> NULL AND Created = NULL");
  EXPECT_EQ(Users(), (std::vector<std::string>{"anna"}));
  rs_.SetFilter("UserName LIKE 'b*'");
  EXPECT_EQ(Users(), (std::vector<std::string>{"Bert"}));
  rs_.SetFilter("UserName LIKE '%n%'");
  EXPECT_EQ(Users(), (std::vector<std::string>{"O'Brien", "anna"}));
  rs_.SetFilter("Created = #2003-01-02#");
  EXPECT_EQ(Users(), (std::vector<std::string>{"dbo", "Bert"}));
  rs_.SetFilter("(UserID = 1 OR UserID = 10) AND (LoginName LIKE 's*' OR UserName = 'ANNA')");
  EXPECT_EQ(Users(), (std::vector<std::string>{"dbo", "anna"}));
  rs_.SetFilter("UserID = 1 OR UserID = 2 AND LoginName = 'x'");  // AND binds tighter
  EXPECT_EQ(Users(), (std::vector<std::string>{"dbo"}));
}

TEST_F(FilterSortTest, MalformedFiltersSayWhatIsWrong) {
  struct Case {
    const char* filter;
    const char* says;
  };
  for (Case c :
       {Case{"NoSuchField = 1", "no field \"NoSuchField\""}, Case{"UserID = ", "value is missing"},
        Case{"(UserID = 1", "not closed"}, Case{"UserID 1", "operator is expected"},
        Case{"UserName = bare", "must be quoted"}, Case{"UserID = 1 UserID = 2", "unexpected"},
        Case{"Created = #yesterday#", "is not a date"},
        Case{"UserName = 'x'; DROP TABLE t", "unexpected"},
        Case{"[UserName = 'x'", "no closing \"]\""}}) {
    Error error = CatchError([&] { rs_.SetFilter(c.filter); });
    EXPECT_EQ(error.number(), kErrorInvalidArgument) << c.filter;
    EXPECT_NE(error.description().find(c.says), std::string::npos)
        << c.filter << ": " << error.description();
  }
  EXPECT_EQ(rs_.RecordCount(), 5);
}

TEST_F(FilterSortTest, HugeFiltersFailCleanlyOrWork) {
  std::string deep = std::string(100000, '(') + "UserID = 1" + std::string(100000, ')');
  EXPECT_NE(CatchError([&] { rs_.SetFilter(deep); }).description().find("nested too deeply"),
            std::string::npos);
  std::string nested = std::string(50, '(') + "UserID = 1" + std::string(50, ')');
  rs_.SetFilter(nested);
  EXPECT_EQ(rs_.RecordCount(), 1);
  std::string long_value = "UserName = '" + std::string(100000, 'x') + "'";
  rs_.SetFilter(long_value);
  EXPECT_EQ(rs_.RecordCount(), 0);
  std::string many_stars = "UserName LIKE '" + std::string(5000, '*') + "a'";
  rs_.SetFilter(many_stars);
  EXPECT_EQ(rs_.RecordCount(), 1);  // anna
}

TEST_F(FilterSortTest, SortsByColumnsAndDirectionsStably) {
  rs_.SetSort("UserID DESC");
  EXPECT_EQ(Users(), (std::vector<std::string>{"anna", "O'Brien", "Bert", "guest", "dbo"}));
  rs_.SetSort("username");
  EXPECT_EQ(Users(), (std::vector<std::string>{"anna", "Bert", "dbo", "guest", "O'Brien"}));
  rs_.SetSort("Created ASC, UserName DESC");  // nulls first; equal dates keep the second key
  EXPECT_EQ(Users(), (std::vector<std::string>{"anna", "O'Brien", "dbo", "Bert", "guest"}));
  rs_.SetFilter("UserID > 1");
  EXPECT_EQ(Users(), (std::vector<std::string>{"anna", "O'Brien", "Bert", "guest"}));
  rs_.SetSort("");
  EXPECT_EQ(Users(), (std::vector<std::string>{"guest", "O'Brien", "anna", "Bert"}));
  EXPECT_EQ(CatchError([&] { rs_.SetSort("Nope ASC"); }).number(), kErrorItemNotFound);
  EXPECT_EQ(CatchError([&] { rs_.SetSort("UserID,"); }).number(), kErrorInvalidArgument);
  EXPECT_EQ(rs_.Sort(), "");
}

TEST_F(FilterSortTest, FoldersBeforeFilesByNumericColumn) {
  server_->On("EXEC master..xp_dirtree 'C:\\', 1, 1",
              FakeResult().Rows({Column("subdirectory", "nvarchar"), Column("depth", "int"),
                                 Column("file", "int")},
                                {{Value("b.mdf"), Value(1), Value(1)},
                                 {Value("Data"), Value(1), Value(0)},
                                 {Value("a.ldf"), Value(1), Value(1)},
                                 {Value("Backup"), Value(1), Value(0)}}));
  Recordset rs;
  rs.Open("EXEC master..xp_dirtree 'C:\\', 1, 1", connection_);
  rs.SetSort("file");
  EXPECT_EQ(Names(rs, "subdirectory"),
            (std::vector<std::string>{"Data", "Backup", "b.mdf", "a.ldf"}));
}

}  // namespace
}  // namespace db
