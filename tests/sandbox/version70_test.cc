// What a 7.0 server refuses that 2000 accepts, the compatibility level, old-style outer joins
// and the @@ functions of 2000.
#include <memory>
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

class Version70Test : public SandboxTest {
 protected:
  // A session of the administrator on a new instance of the version, with a database Work.
  std::unique_ptr<Session> SessionOn(const std::string& version) {
    auto session = SandboxTest::SessionOn(version);
    Ok(*session, "CREATE DATABASE Work");
    return session;
  }
};

struct Refusal {
  const char* batch;
  int error;  // on 7.0; 2000 runs the batch
  const char* text;
};

const Refusal kRefusals[] = {
    // SERVERPROPERTY, DATABASEPROPERTYEX, COUNT_BIG and the others are new in 2000 (Books
    // Online's "What's New": functions); 7.0 names any other function with 195.
    {"SELECT SERVERPROPERTY('ProductVersion')", 195,
     "'SERVERPROPERTY' is not a recognized function name."},
    {"SELECT DATABASEPROPERTYEX('Work', 'Status')", 195,
     "'DATABASEPROPERTYEX' is not a recognized function name."},
    {"SELECT COUNT_BIG(*) FROM sysobjects", 195, "'COUNT_BIG' is not a recognized function name."},
    {"SELECT checksum(N'w\xC3\xB6rk; it''s [x]')", 195,
     "'checksum' is not a recognized function name."},
    {"SELECT BINARY_CHECKSUM(*) FROM sysobjects", 195,
     "'BINARY_CHECKSUM' is not a recognized function name."},
    {"SELECT SCOPE_IDENTITY()", 195, "'SCOPE_IDENTITY' is not a recognized function name."},
    {"SELECT IDENT_CURRENT('sysobjects')", 195,
     "'IDENT_CURRENT' is not a recognized function name."},
    {"SELECT GETUTCDATE()", 195, "'GETUTCDATE' is not a recognized function name."},
    {"IF HAS_DBACCESS('Work') = 1 PRINT 'yes'", 195,
     "'HAS_DBACCESS' is not a recognized function name."},
    // bigint and sql_variant are 2000's data types; a column or variable of an unknown type is
    // 2715 (CREATE TABLE, DECLARE @local_variable), a CAST to one 243.
    {"CREATE TABLE Work..[t;'x] (a INT, b BIGINT)", 2715,
     "Column or parameter #2: Cannot find data type BIGINT."},
    {"CREATE TABLE Work..v (v sql_variant)", 2715,
     "Column or parameter #1: Cannot find data type sql_variant."},
    {"DECLARE @a int, @b bigint", 2715, "Column or parameter #2: Cannot find data type bigint."},
    {"CREATE PROCEDURE p @x bigint AS SELECT @x", 2715,
     "Column or parameter #1: Cannot find data type bigint."},
    {"SELECT CAST(1 AS bigint)", 243, "Type bigint is not a defined system type."},
    {"SELECT CONVERT(sql_variant, 'x')", 243, "Type sql_variant is not a defined system type."},
    // COLLATE is 2000's, in columns, expressions and databases (ALTER DATABASE, example B).
    {"CREATE TABLE Work..c (a varchar(10) COLLATE Latin1_General_BIN)", 102,
     "Incorrect syntax near 'COLLATE'."},
    {"SELECT name FROM sysobjects WHERE name = 'x' COLLATE Latin1_General_CS_AS", 102,
     "Incorrect syntax near 'COLLATE'."},
    {"ALTER DATABASE Work COLLATE Latin1_General_BIN", 102, "Incorrect syntax near 'COLLATE'."},
    // ALTER DATABASE ... SET and MODIFY NAME: 7.0 sets options with sp_dboption and renames
    // with sp_renamedb.
    {"ALTER DATABASE Work SET RECOVERY SIMPLE", 156, "Incorrect syntax near the keyword 'SET'."},
    {"ALTER DATABASE Work MODIFY NAME = [W\xC3\xB6rk; it's] "
     "ALTER DATABASE [W\xC3\xB6rk; it's] MODIFY NAME = Work",
     102, "Incorrect syntax near 'NAME'."},
};

TEST_F(Version70Test, WhatCameWith2000IsRefusedOn70AndRunsOn2000) {
  auto seven = SessionOn("7.00.1063");
  auto eight = SessionOn("8.00.2039");
  for (const Refusal& r : kRefusals) {
    SCOPED_TRACE(r.batch);
    CollectingSink refused = Run(*seven, r.batch);
    ASSERT_EQ(refused.FirstError(), r.error) << refused.ErrorText();
    EXPECT_EQ(refused.Errors().at(0)->text, r.text);
    CollectingSink accepted = Run(*eight, r.batch);
    EXPECT_EQ(accepted.FirstError(), 0) << accepted.ErrorText();
  }
  // A syntax error stops the whole batch before its first statement.
  EXPECT_EQ(Run(*seven, "CREATE TABLE Work..k (a INT) SELECT 'x' COLLATE Latin1_General_BIN")
                .FirstError(),
            102);
  EXPECT_EQ(Run(*seven, "SELECT * FROM Work..k").FirstError(), 208);
  // The 2000 functions 7.0 already had still work there.
  EXPECT_EQ(RowsText(Query(*seven,
                           "SELECT DATABASEPROPERTY('Work', 'IsAutoShrink'), "
                           "CAST(IDENT_SEED('sysobjects') AS int), @@LOCK_TIMEOUT")),
            "0|NULL|-1");
}

// sp_help: 7.0's result sets have no Collation column.
TEST_F(Version70Test, HelpOn70HasNoCollationColumn) {
  for (const char* version : {"7.00.1063", "8.00.2039"}) {
    SCOPED_TRACE(version);
    auto session = SessionOn(version);
    Ok(*session, "CREATE TABLE Work..t (a varchar(10))");
    CollectingSink help = Run(*session, "USE Work EXEC sp_help 't'");
    ASSERT_EQ(help.FirstError(), 0) << help.ErrorText();
    ASSERT_GE(help.sets.size(), 2u);
    const auto& columns = help.sets[1].columns;
    EXPECT_EQ(columns.size(), std::string(version) == "7.00.1063" ? 9u : 10u);
    EXPECT_EQ(help.sets[1].rows.at(0).size(), columns.size());
  }
}

// sp_dbcmptlevel: the level shown, set and refused; 70 is 7.0's and 80 2000's default.
TEST_F(Version70Test, CompatibilityLevelIsShownAndSet) {
  struct Case {
    const char* version;
    const char* batch;
    int error;
    const char* message;  // the first message's text
    int level_after;      // of Work
  };
  const Case cases[] = {
      {"7.00.1063", "EXEC sp_dbcmptlevel 'Work'", 0, "The current compatibility level is 70.", 70},
      {"8.00.2039", "EXEC sp_dbcmptlevel 'Work'", 0, "The current compatibility level is 80.", 80},
      {"8.00.2039", "EXEC sp_dbcmptlevel", 0,
       "Valid values of database compatibility level are 60, 65, 70, or 80.", 80},
      {"8.00.2039", "EXEC sp_dbcmptlevel @dbname = 'Work', @new_cmptlevel = 70", 0, nullptr, 70},
      {"7.00.1063", "EXEC sp_dbcmptlevel 'Work', 80", 0,
       "Valid values of database compatibility level are 60, 65, or 70.", 70},
      {"9.00.5000", "EXEC sp_dbcmptlevel 'Work', 100", 0,
       "Valid values of database compatibility level are 60, 65, 70, 80, or 90.", 90},
      {"8.00.2039", "EXEC sp_dbcmptlevel 'W\xC3\xB6rk; it''s', 70", 15010,
       "The database 'W\xC3\xB6rk; it's' does not exist. Use sp_helpdb to show available "
       "databases.",
       80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + ": " + c.batch);
    auto session = SessionOn(c.version);
    CollectingSink sink = Run(*session, c.batch);
    EXPECT_EQ(sink.FirstError(), c.error) << sink.ErrorText();
    if (c.message) {
      ASSERT_FALSE(sink.messages.empty());
      EXPECT_EQ(sink.messages[0].text, c.message);
    }
    EXPECT_EQ(RowsText(Query(*session,
                             "SELECT cmptlevel FROM master..sysdatabases WHERE name = "
                             "'Work'")),
              std::to_string(c.level_after));
  }
}

// @@ functions of 2000 that report the session's settings and the server's counters.
TEST_F(Version70Test, GlobalFunctionsOf2000) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT @@LOCK_TIMEOUT", "-1"},  // SET LOCK_TIMEOUT: -1 until it is set
      {"SET LOCK_TIMEOUT 1800 SELECT @@LOCK_TIMEOUT", "1800"},
      {"SET LOCK_TIMEOUT 0 SELECT @@lock_timeout", "0"},
      {"SELECT @@MAX_PRECISION, @@TIMETICKS, @@REMSERVER", "38|31250|NULL"},
      {"SELECT @@CONNECTIONS + @@CPU_BUSY + @@IDLE + @@IO_BUSY + @@PACK_RECEIVED + @@PACK_SENT + "
       "@@PACKET_ERRORS + @@TOTAL_ERRORS + @@TOTAL_READ + @@TOTAL_WRITE",
       "0"},
  };
  for (const auto& [batch, expected] : cases) {
    SCOPED_TRACE(batch);
    EXPECT_EQ(RowsText(Query(batch)), expected);
  }
}

// *= and =* in WHERE (Books Online, "Using Outer Joins": SQL-92 and Transact-SQL syntax).
class OuterJoinTest : public Version70Test {
 protected:
  void SetUp() override {
    Version70Test::SetUp();
    Ok("CREATE TABLE Folder (FolderID INT NOT NULL PRIMARY KEY, Name NVARCHAR(50), Parent INT)");
    Ok("CREATE TABLE [Doc; it's] (EntryID INT IDENTITY PRIMARY KEY, FolderID INT, Title "
       "NVARCHAR(50), Size INT)");
    Ok("INSERT INTO Folder VALUES (1, N'Root', NULL) INSERT INTO Folder VALUES (2, N'Work', 1) "
       "INSERT INTO Folder VALUES (3, N'Home', 1) INSERT INTO Folder VALUES (4, N'Empty', 2)");
    Ok("INSERT INTO [Doc; it's] (FolderID, Title, Size) VALUES (2, N'plan', 10) "
       "INSERT INTO [Doc; it's] (FolderID, Title, Size) VALUES (2, N'budget', 20) "
       "INSERT INTO [Doc; it's] (FolderID, Title, Size) VALUES (3, N'f\xC3\xB6to', 30) "
       "INSERT INTO [Doc; it's] (FolderID, Title, Size) VALUES (9, N'stray', 40)");
  }
};

TEST_F(OuterJoinTest, OldStyleOuterJoinsKeepTheOuterRows) {
  const std::pair<const char*, const char*> cases[] = {
      // *= keeps every row of the left table.
      {"SELECT f.Name, d.Title FROM Folder f, [Doc; it's] d WHERE f.FolderID *= d.FolderID "
       "ORDER BY f.FolderID, d.Title",
       "Root|NULL;Work|budget;Work|plan;Home|f\xC3\xB6to;Empty|NULL"},
      // =* keeps the right table's rows, whatever the order in FROM.
      {"SELECT f.Name, d.Title FROM [Doc; it's] d, Folder f WHERE d.FolderID =* f.FolderID "
       "ORDER BY f.FolderID, d.Title",
       "Root|NULL;Work|budget;Work|plan;Home|f\xC3\xB6to;Empty|NULL"},
      // A condition on the inner table alone is part of the join, so no outer row is lost...
      {"SELECT f.Name, d.Title FROM Folder f, [Doc; it's] d WHERE f.FolderID *= d.FolderID "
       "AND d.Size > 15 ORDER BY f.FolderID",
       "Root|NULL;Work|budget;Home|f\xC3\xB6to;Empty|NULL"},
      // ... even IS NULL, which then matches no inner row (unlike LEFT JOIN ... WHERE).
      {"SELECT COUNT(*), COUNT(d.Title) FROM Folder f, [Doc; it's] d "
       "WHERE f.FolderID *= d.FolderID AND d.EntryID IS NULL",
       "4|0"},
      // A condition on the outer table filters the joined rows.
      {"SELECT f.Name, d.Title FROM Folder f, [Doc; it's] d WHERE f.Parent = 1 AND "
       "f.FolderID *= d.FolderID ORDER BY d.Title",
       "Work|budget;Home|f\xC3\xB6to;Work|plan"},
      // Two inner tables of one outer table; SELECT * keeps FROM's column order.
      {"SELECT f.Name, c.Name, d.Title FROM Folder f, Folder c, [Doc; it's] d "
       "WHERE f.FolderID *= c.Parent AND f.FolderID *= d.FolderID AND f.FolderID > 2 "
       "ORDER BY f.FolderID",
       "Home|NULL|f\xC3\xB6to;Empty|NULL|NULL"},
      {"SELECT * FROM [Doc; it's] d, Folder f WHERE d.FolderID =* f.FolderID AND f.FolderID = 4",
       "NULL|NULL|NULL|NULL|4|Empty|2"},
  };
  for (const auto& [query, expected] : cases) {
    SCOPED_TRACE(query);
    EXPECT_EQ(RowsText(Query(query)), expected);
  }
}

TEST_F(OuterJoinTest, OuterJoinOperatorsWhereTheyAreRefused) {
  struct Case {
    const char* version;
    const char* batch;
    int error;
  };
  const Case cases[] = {
      // Allowed at levels 70 and 80, refused from 90 (sp_dbcmptlevel, compatibility levels).
      {"7.00.1063", "SELECT COUNT(*) FROM sysobjects o, syscolumns c WHERE o.id *= c.id", 0},
      {"9.00.5000", "SELECT COUNT(*) FROM sysobjects o, syscolumns c WHERE o.id *= c.id", 4147},
      {"9.00.5000",
       "EXEC sp_dbcmptlevel 'master', 80 "
       "EXEC ('SELECT COUNT(*) FROM sysobjects o, syscolumns c WHERE o.id *= c.id')",
       0},
      {"15.00.2000", "SELECT 1 FROM sysobjects o, syscolumns c WHERE c.id =* o.id", 4147},
      // Outer joins only as an AND-ed condition between two tables' columns.
      {"8.00.2039", "SELECT 1 FROM sysobjects o, syscolumns c WHERE o.id *= c.id OR o.id = 1", 301},
      {"8.00.2039", "SELECT 1 FROM sysobjects o, syscolumns c WHERE o.id *= o.id", 301},
      {"8.00.2039", "SELECT 1 FROM sysobjects o, syscolumns c WHERE o.id *= 1", 301},
      {"8.00.2039", "SELECT 1 FROM sysobjects o WHERE o.id *= o.id + 1", 301},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + ": " + c.batch);
    auto session = SessionOn(c.version);
    CollectingSink sink = Run(*session, c.batch);
    EXPECT_EQ(sink.FirstError(), c.error) << sink.ErrorText();
    // 2005's text names sp_dbcmptlevel, 2012's ALTER DATABASE (Msg 4147).
    if (c.error == 4147) {
      const std::string& text = sink.Errors().at(0)->text;
      EXPECT_EQ(text.rfind("The query uses non-ANSI outer join operators (\"*=\" or \"=*\").", 0),
                0u);
      EXPECT_NE(text.find(std::stoi(c.version) >= 11 ? "option of ALTER DATABASE."
                                                     : "80 or lower, using stored procedure "
                                                       "sp_dbcmptlevel."),
                std::string::npos);
    }
  }
  // A view keeps its operator when its text is printed back.
  Ok("CREATE VIEW Kept AS SELECT f.Name, d.Title FROM Folder f, [Doc; it's] d "
     "WHERE f.FolderID *= d.FolderID");
  EXPECT_EQ(RowsText(Query("SELECT COUNT(*) FROM Kept")), "5");
}

}  // namespace
}  // namespace sandbox::testing
