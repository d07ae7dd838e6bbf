// Queries and changes as T-SQL writes them: joins of every kind, UPDATE and DELETE with FROM,
// SELECT INTO, TOP, unions, grouping, sub-queries and the built-in functions.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

class QueryTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE TABLE Folder (FolderID INT NOT NULL PRIMARY KEY, Name NVARCHAR(50), Parent INT)");
    Ok("CREATE TABLE Doc (EntryID INT IDENTITY NOT NULL PRIMARY KEY, FolderID INT, Title "
       "NVARCHAR(50), Size INT)");
    Ok("INSERT INTO Folder VALUES (1, N'Root', NULL) INSERT INTO Folder VALUES (2, N'Work', 1) "
       "INSERT INTO Folder VALUES (3, N'Home', 1) INSERT INTO Folder VALUES (4, N'Empty', 2)");
    Ok("INSERT INTO Doc (FolderID, Title, Size) VALUES (2, N'plan', 10) "
       "INSERT INTO Doc (FolderID, Title, Size) VALUES (2, N'budget', 20) "
       "INSERT INTO Doc (FolderID, Title, Size) VALUES (3, N'photo', 30) "
       "INSERT INTO Doc (FolderID, Title, Size) VALUES (9, N'stray', 40)");
  }
  std::vector<Value> Column(const std::string& sql) {
    std::vector<Value> out;
    for (auto& row : Query(sql).rows) out.push_back(row.at(0));
    return out;
  }
};

TEST_F(QueryTest, JoinsOfEveryKind) {
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc d INNER JOIN Folder f ON d.FolderID = f.FolderID"),
            Value(3));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc d LEFT JOIN Folder f ON d.FolderID = f.FolderID"),
            Value(4));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc d RIGHT JOIN Folder f ON d.FolderID = f.FolderID"),
            Value(5));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc d FULL JOIN Folder f ON d.FolderID = f.FolderID"),
            Value(6));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc CROSS JOIN Folder"), Value(16));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc, Folder WHERE Doc.FolderID = Folder.FolderID"),
            Value(3));
  // A nested join on the right, as Access-style SQL writes it.
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Folder AS p RIGHT JOIN (Folder INNER JOIN Doc ON "
                   "Folder.FolderID = Doc.FolderID) ON p.FolderID = Folder.Parent"),
            Value(3));
  EXPECT_EQ(Column("SELECT f.Name FROM Folder f LEFT JOIN Doc d ON d.FolderID = f.FolderID "
                   "WHERE d.EntryID IS NULL ORDER BY f.Name"),
            (std::vector<Value>{Value("Empty"), Value("Root")}));
}

TEST_F(QueryTest, UpdateWithFromAndJoins) {
  // The target repeated in FROM.
  Ok("UPDATE Doc SET Title = f.Name + N':' + Doc.Title FROM Doc INNER JOIN Folder f ON "
     "Doc.FolderID = f.FolderID WHERE f.Name = N'work'");
  EXPECT_EQ(Scalar("SELECT Title FROM Doc WHERE EntryID = 1"), Value("Work:plan"));
  EXPECT_EQ(Scalar("SELECT Title FROM Doc WHERE EntryID = 3"), Value("photo"));
  // The target named by its alias.
  CollectingSink sink =
      Run("UPDATE d SET Size = d.Size + f.FolderID FROM Folder f JOIN Doc d ON d.FolderID = "
          "f.FolderID");
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_FALSE(sink.done.empty());
  EXPECT_EQ(sink.done.back(), 3);
  EXPECT_EQ(Scalar("SELECT Size FROM Doc WHERE EntryID = 3"), Value(33));
  EXPECT_EQ(Scalar("SELECT Size FROM Doc WHERE EntryID = 4"), Value(40));
  // A plain UPDATE with a correlated sub-query.
  Ok("UPDATE Folder SET Name = (SELECT COUNT(*) FROM Doc WHERE Doc.FolderID = Folder.FolderID)");
  EXPECT_EQ(Scalar("SELECT Name FROM Folder WHERE FolderID = 2"), Value("2"));
}

TEST_F(QueryTest, DeleteWithFromAndJoins) {
  Ok("DELETE FROM Doc FROM Doc LEFT JOIN Folder ON Doc.FolderID = Folder.FolderID WHERE "
     "Folder.FolderID IS NULL");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc"), Value(3));
  Ok("DELETE d FROM Doc AS d INNER JOIN Folder AS f ON d.FolderID = f.FolderID WHERE f.Name = "
     "N'Home'");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc"), Value(2));
  // Deleting from a temporary table joined with itself under another name.
  Ok("CREATE TABLE #t (id INT) INSERT INTO #t VALUES (1) INSERT INTO #t VALUES (2) "
     "DELETE FROM #t FROM #t INNER JOIN Doc ON #t.id = Doc.EntryID LEFT JOIN #t AS #t_1 ON "
     "#t_1.id = Doc.EntryID + 1 WHERE #t_1.id IS NULL");
  EXPECT_EQ(Scalar("SELECT id FROM #t"), Value(1));
  // TOP limits what DELETE takes.
  Ok("DELETE TOP (1) FROM Doc");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc"), Value(1));
}

TEST_F(QueryTest, SelectIntoCreatesATableWithServerTypes) {
  Ok("SELECT d.EntryID, d.Title, f.Name AS FolderName, d.Size * 2 AS Twice INTO DocCopy FROM Doc "
     "d JOIN Folder f ON f.FolderID = d.FolderID");
  RowSet set = Query("SELECT * FROM DocCopy ORDER BY EntryID");
  ASSERT_EQ(set.rows.size(), 3u);
  EXPECT_EQ(set.columns[1].type_name, "nvarchar");
  EXPECT_EQ(set.columns[1].size, 50);
  EXPECT_EQ(set.columns[3].type_name, "int");
  EXPECT_TRUE(set.columns[0].identity);  // the identity comes along
  Ok("INSERT INTO DocCopy (Title, FolderName, Twice) VALUES (N'new', N'x', 0)");
  EXPECT_EQ(Scalar("SELECT MAX(EntryID) FROM DocCopy"), Value(4));
  EXPECT_EQ(Run("SELECT 1 INTO NoName").FirstError(), 8155);
  // Into a temporary table, which only this session sees.
  Ok("SELECT FolderID INTO #f FROM Folder WHERE Parent = 1");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM #f"), Value(2));
  auto other = Connect();
  EXPECT_EQ(Run(*other, "SELECT * FROM #f").FirstError(), 208);
  Ok(*other, "CREATE TABLE #f (x INT)");
}

TEST_F(QueryTest, TopDistinctUnionGrouping) {
  EXPECT_EQ(Column("SELECT TOP 2 Title FROM Doc ORDER BY Size DESC"),
            (std::vector<Value>{Value("stray"), Value("photo")}));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM (SELECT DISTINCT FolderID FROM Doc) AS x"), Value(3));
  EXPECT_EQ(Column("SELECT Name FROM Folder WHERE FolderID = 1 UNION ALL SELECT Title FROM Doc "
                   "WHERE EntryID = 1 ORDER BY 1"),
            (std::vector<Value>{Value("plan"), Value("Root")}));
  RowSet grouped = Query(
      "SELECT FolderID, COUNT(*) AS n, SUM(Size) AS total FROM Doc GROUP BY FolderID "
      "HAVING COUNT(*) > 1");
  ASSERT_EQ(grouped.rows.size(), 1u);
  EXPECT_EQ(grouped.rows[0][1], Value(2));
  EXPECT_EQ(grouped.rows[0][2], Value(30));
  EXPECT_EQ(Scalar("SELECT AVG(Size) FROM Doc WHERE FolderID = 2"), Value(15));
  // SET ROWCOUNT limits the rows a statement returns, not what it reads.
  EXPECT_EQ(Query("SET ROWCOUNT 2 SELECT Title FROM Doc").rows.size(), 2u);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM (SELECT Title FROM Doc) x"), Value(4));
  Ok("SET ROWCOUNT 0");
  EXPECT_EQ(Query("SELECT Title FROM Doc").rows.size(), 4u);
}

TEST_F(QueryTest, SubqueriesAndCase) {
  EXPECT_EQ(Column("SELECT Name FROM Folder WHERE FolderID IN (SELECT FolderID FROM Doc) ORDER BY "
                   "Name"),
            (std::vector<Value>{Value("Home"), Value("Work")}));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Folder f WHERE NOT EXISTS (SELECT * FROM Doc WHERE "
                   "Doc.FolderID = f.FolderID)"),
            Value(2));
  EXPECT_EQ(Scalar("SELECT (SELECT COUNT(*) FROM Doc WHERE Doc.FolderID = Folder.FolderID) FROM "
                   "Folder WHERE FolderID = 2"),
            Value(2));
  EXPECT_EQ(
      Scalar("SELECT CASE WHEN Size > 15 THEN 'big' ELSE 'small' END FROM Doc WHERE EntryID = 1"),
      Value("small"));
  EXPECT_EQ(Scalar("SELECT CASE FolderID WHEN 2 THEN 'two' END FROM Doc WHERE EntryID = 3"),
            Value());
}

TEST_F(QueryTest, StringFunctions) {
  EXPECT_EQ(Scalar("SELECT LEN('abc   ')"), Value(3));
  EXPECT_EQ(Scalar("SELECT LEFT('abcdef', 2) + RIGHT('abcdef', 2)"), Value("abef"));
  EXPECT_EQ(Scalar("SELECT SUBSTRING('abcdef', 2, 3)"), Value("bcd"));
  EXPECT_EQ(Scalar("SELECT SUBSTRING('abcdef', 0, 3)"), Value("ab"));
  EXPECT_EQ(Scalar("SELECT LOWER('ABC') + UPPER('def')"), Value("abcDEF"));
  EXPECT_EQ(Scalar("SELECT '[' + LTRIM('  x  ') + ']' + '[' + RTRIM('  y  ') + ']'"),
            Value("[x  ][  y]"));
  EXPECT_EQ(Scalar("SELECT CHARINDEX('c', 'abcabc', 4)"), Value(6));
  EXPECT_EQ(Scalar("SELECT REPLACE('Hello hello', 'HELLO', 'bye')"), Value("bye bye"));
  EXPECT_EQ(Scalar("SELECT ISNULL(NULL, 'x') + COALESCE(NULL, NULL, 'y')"), Value("xy"));
  EXPECT_EQ(Scalar("SELECT NULLIF(1, 1)"), Value());
  EXPECT_EQ(Scalar("SELECT DATALENGTH(N'abc')"), Value(6));
  EXPECT_EQ(Scalar("SELECT DATALENGTH('abc')"), Value(3));
  EXPECT_EQ(Scalar("SELECT 'a' + NULL"), Value());
  EXPECT_EQ(Scalar("SELECT CAST(12 AS VARCHAR(5)) + 'x'"), Value("12x"));
  EXPECT_EQ(Scalar("SELECT CONVERT(INT, '42') + 1"), Value(43));
  EXPECT_EQ(Scalar("SELECT '1' + 1"), Value(2));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc WHERE Title LIKE '[bp]%'"), Value(3));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Doc WHERE Title LIKE '_h%'"), Value(1));
}

TEST_F(QueryTest, DateFunctions) {
  EXPECT_EQ(Scalar("SELECT DATEADD(day, 1, '2003-12-31')"),
            Value(common::DateTime{2004, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(Scalar("SELECT DATEADD(month, 1, '2003-01-31')"),
            Value(common::DateTime{2003, 2, 28, 0, 0, 0, 0}));
  EXPECT_EQ(Scalar("SELECT DATEDIFF(day, '2003-01-01', '2003-03-01')"), Value(59));
  EXPECT_EQ(Scalar("SELECT DATEDIFF(year, '2003-12-31', '2004-01-01')"), Value(1));
  EXPECT_EQ(Scalar("SELECT DATEPART(weekday, '2003-01-01')"), Value(4));  // a Wednesday
  EXPECT_EQ(Scalar("SELECT YEAR('2003-05-06') * 10000 + MONTH('2003-05-06') * 100 + "
                   "DAY('2003-05-06')"),
            Value(20030506));
  // Day numbers as the archive stores its creation day.
  EXPECT_EQ(Scalar("SELECT DATEDIFF(day, '1899-12-30', '2003-01-01')"), Value(37622));
  EXPECT_EQ(Run("SELECT CAST('1752-12-31' AS DATETIME)").FirstError(), 241);
  EXPECT_EQ(Scalar("SELECT CONVERT(VARCHAR(20), CAST('2003-01-01 13:05' AS DATETIME), 120)"),
            Value("2003-01-01 13:05:00"));
  EXPECT_EQ(Scalar("SELECT CAST(CAST('2003-01-01' AS DATETIME) AS VARCHAR(30))"),
            Value("Jan  1 2003 12:00AM"));
  Value now = Scalar("SELECT GETDATE()");
  ASSERT_NE(now.AsDateTime(), nullptr);
  EXPECT_GE(now.AsDateTime()->year, 2024);
  EXPECT_EQ(Scalar("SELECT CASE WHEN current_timestamp <= GETDATE() THEN 1 ELSE 0 END"), Value(1));
  EXPECT_EQ(Scalar("SELECT LEN(CAST(NEWID() AS VARCHAR(36)))"), Value(36));
  EXPECT_EQ(Scalar("SELECT CASE WHEN NEWID() = NEWID() THEN 1 ELSE 0 END"), Value(0));
}

TEST_F(QueryTest, SystemFunctions) {
  EXPECT_EQ(Scalar("SELECT db_name()"), Value("master"));
  EXPECT_EQ(Scalar("SELECT USER_NAME()"), Value("dbo"));
  EXPECT_EQ(Scalar("SELECT SUSER_SNAME()"), Value("sa"));
  EXPECT_EQ(Scalar("SELECT CASE WHEN OBJECT_ID('Doc') IS NULL THEN 0 ELSE 1 END"), Value(1));
  EXPECT_EQ(Scalar("SELECT OBJECT_ID('nothing')"), Value());
  EXPECT_EQ(Scalar("SELECT @@SPID"), Value(51));
  Value version = Scalar("SELECT @@VERSION");
  ASSERT_NE(version.AsText(), nullptr);
  EXPECT_NE(version.AsText()->find("8.00.2039"), std::string::npos);
  EXPECT_EQ(Scalar("SELECT SERVERPROPERTY('ProductVersion')"), Value("8.00.2039"));
  EXPECT_EQ(Scalar("SELECT IS_SRVROLEMEMBER('sysadmin')"), Value(1));
  EXPECT_EQ(Scalar("SELECT name FROM sysusers WHERE sid = SUSER_SID('sa')"), Value("dbo"));
}

}  // namespace
}  // namespace sandbox::testing
