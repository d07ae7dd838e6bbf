// The INFORMATION_SCHEMA views of each database: the columns SQL Server 2000 documents for
// them and rows made from the database's own catalogue.
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;
using Rows = std::vector<std::vector<Value>>;

class InformationSchemaTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE DATABASE Shop");
    shop_ = Connect("Shop");
    Ok(*shop_,
       "CREATE TABLE Orders (id INT NOT NULL CONSTRAINT PK_Orders PRIMARY KEY, "
       "customer NVARCHAR(50) NOT NULL, total DECIMAL(10, 2) NULL DEFAULT (0), "
       "placed DATETIME NULL, CONSTRAINT UQ_Orders UNIQUE (customer, placed))");
    Ok(*shop_, "CREATE TABLE [odd]]; 'näme'] (x CHAR(3))");
    Ok(*shop_, "CREATE VIEW Big AS SELECT id FROM Orders WHERE total > 100");
    Ok(*shop_,
       "CREATE PROCEDURE Count_Orders @customer NVARCHAR(50), @n INT OUTPUT AS "
       "SELECT @n = COUNT(*) FROM Orders WHERE customer = @customer");
  }

  RowSet Select(const std::string& sql) { return Query(*shop_, sql); }

  std::unique_ptr<Session> shop_;
};

// Each view answers with its documented columns, in order.
TEST_F(InformationSchemaTest, ViewsHaveTheirDocumentedColumns) {
  struct Case {
    const char* view;
    std::vector<std::string> first;  // the leading columns
    size_t count;
  };
  const Case cases[] = {
      {"SCHEMATA", {"CATALOG_NAME", "SCHEMA_NAME", "SCHEMA_OWNER"}, 6},
      {"TABLES", {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE"}, 4},
      {"COLUMNS",
       {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME", "ORDINAL_POSITION",
        "COLUMN_DEFAULT", "IS_NULLABLE", "DATA_TYPE", "CHARACTER_MAXIMUM_LENGTH"},
       23},
      {"VIEWS",
       {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "VIEW_DEFINITION", "CHECK_OPTION",
        "IS_UPDATABLE"},
       6},
      {"ROUTINES", {"SPECIFIC_CATALOG", "SPECIFIC_SCHEMA", "SPECIFIC_NAME", "ROUTINE_CATALOG"}, 51},
      {"PARAMETERS",
       {"SPECIFIC_CATALOG", "SPECIFIC_SCHEMA", "SPECIFIC_NAME", "ORDINAL_POSITION",
        "PARAMETER_MODE", "IS_RESULT", "AS_LOCATOR", "PARAMETER_NAME", "DATA_TYPE"},
       29},
      {"TABLE_CONSTRAINTS",
       {"CONSTRAINT_CATALOG", "CONSTRAINT_SCHEMA", "CONSTRAINT_NAME", "TABLE_CATALOG",
        "TABLE_SCHEMA", "TABLE_NAME", "CONSTRAINT_TYPE", "IS_DEFERRABLE", "INITIALLY_DEFERRED"},
       9},
      {"KEY_COLUMN_USAGE",
       {"CONSTRAINT_CATALOG", "CONSTRAINT_SCHEMA", "CONSTRAINT_NAME", "TABLE_CATALOG",
        "TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME", "ORDINAL_POSITION"},
       8},
      {"REFERENTIAL_CONSTRAINTS",
       {"CONSTRAINT_CATALOG", "CONSTRAINT_SCHEMA", "CONSTRAINT_NAME", "UNIQUE_CONSTRAINT_CATALOG",
        "UNIQUE_CONSTRAINT_SCHEMA", "UNIQUE_CONSTRAINT_NAME", "MATCH_OPTION", "UPDATE_RULE",
        "DELETE_RULE"},
       9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.view);
    RowSet set = Select(std::string("SELECT * FROM INFORMATION_SCHEMA.") + c.view);
    std::vector<std::string> names = ColumnNames(set);
    EXPECT_EQ(names.size(), c.count);
    names.resize(std::min(names.size(), c.first.size()));
    EXPECT_EQ(names, c.first);
  }
  // The schema name is case-insensitive and qualifies by database as well.
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Shop.information_schema.tables").rows[0][0], Value(3));
  EXPECT_EQ(Failure(*shop_, "SELECT * FROM INFORMATION_SCHEMA.NOTHING"),
            "208: Invalid object name 'INFORMATION_SCHEMA.NOTHING'.");
}

TEST_F(InformationSchemaTest, TablesViewsAndSchemata) {
  EXPECT_EQ(Select("SELECT TABLE_NAME, TABLE_TYPE FROM INFORMATION_SCHEMA.TABLES "
                   "ORDER BY TABLE_NAME")
                .rows,
            (Rows{{Value("Big"), Value("VIEW")},
                  {Value("odd]; 'näme'"), Value("BASE TABLE")},
                  {Value("Orders"), Value("BASE TABLE")}}));
  RowSet views = Select(
      "SELECT TABLE_SCHEMA, VIEW_DEFINITION, CHECK_OPTION, IS_UPDATABLE "
      "FROM INFORMATION_SCHEMA.VIEWS");
  EXPECT_EQ(views.rows, (Rows{{Value("dbo"),
                               Value("CREATE VIEW Big AS SELECT id FROM Orders WHERE total > 100"),
                               Value("NONE"), Value("NO")}}));
  RowSet schemata =
      Select("SELECT SCHEMA_OWNER FROM INFORMATION_SCHEMA.SCHEMATA WHERE CATALOG_NAME = 'Shop'");
  EXPECT_EQ(schemata.rows, (Rows{{Value("dbo")}}));
}

// COLUMNS: lengths in characters and bytes, numeric precision and radix, datetime precision,
// defaults as written.
TEST_F(InformationSchemaTest, ColumnsDescribeTypes) {
  RowSet set = Select(
      "SELECT COLUMN_NAME, ORDINAL_POSITION, COLUMN_DEFAULT, IS_NULLABLE, DATA_TYPE, "
      "CHARACTER_MAXIMUM_LENGTH, CHARACTER_OCTET_LENGTH, NUMERIC_PRECISION, "
      "NUMERIC_PRECISION_RADIX, NUMERIC_SCALE, DATETIME_PRECISION FROM "
      "INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 'Orders' ORDER BY ORDINAL_POSITION");
  Rows expected = {
      {Value("id"), Value(1), Value(), Value("NO"), Value("int"), Value(), Value(), Value(10),
       Value(10), Value(0), Value()},
      {Value("customer"), Value(2), Value(), Value("NO"), Value("nvarchar"), Value(50), Value(100),
       Value(), Value(), Value(), Value()},
      {Value("total"), Value(3), Value("(0)"), Value("YES"), Value("decimal"), Value(), Value(),
       Value(10), Value(10), Value(2), Value()},
      {Value("placed"), Value(4), Value(), Value("YES"), Value("datetime"), Value(), Value(),
       Value(), Value(), Value(), Value(3)},
  };
  ASSERT_EQ(set.rows.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    for (size_t j = 0; j < expected[i].size(); ++j)
      EXPECT_EQ(set.rows[i][j], expected[i][j]) << set.columns[j].name << " of row " << i;
  EXPECT_EQ(Select("SELECT COLUMN_NAME, CHARACTER_SET_NAME FROM INFORMATION_SCHEMA.COLUMNS "
                   "WHERE TABLE_NAME = 'odd]; ''näme'''")
                .rows,
            (Rows{{Value("x"), Value("iso_1")}}));
}

TEST_F(InformationSchemaTest, RoutinesAndParameters) {
  RowSet routines = Select(
      "SELECT ROUTINE_NAME, ROUTINE_TYPE, ROUTINE_BODY, DATA_TYPE FROM "
      "INFORMATION_SCHEMA.ROUTINES");
  EXPECT_EQ(routines.rows,
            (Rows{{Value("Count_Orders"), Value("PROCEDURE"), Value("SQL"), Value()}}));
  RowSet parameters = Select(
      "SELECT ORDINAL_POSITION, PARAMETER_MODE, PARAMETER_NAME, DATA_TYPE, "
      "CHARACTER_MAXIMUM_LENGTH FROM INFORMATION_SCHEMA.PARAMETERS WHERE SPECIFIC_NAME = "
      "'Count_Orders' ORDER BY ORDINAL_POSITION");
  EXPECT_EQ(parameters.rows,
            (Rows{{Value(1), Value("IN"), Value("@customer"), Value("nvarchar"), Value(50)},
                  {Value(2), Value("INOUT"), Value("@n"), Value("int"), Value()}}));
}

// Key constraints with their columns in key order; no foreign keys are kept.
TEST_F(InformationSchemaTest, ConstraintsAndTheirColumns) {
  EXPECT_EQ(Select("SELECT CONSTRAINT_NAME, TABLE_NAME, CONSTRAINT_TYPE FROM "
                   "INFORMATION_SCHEMA.TABLE_CONSTRAINTS ORDER BY CONSTRAINT_NAME")
                .rows,
            (Rows{{Value("PK_Orders"), Value("Orders"), Value("PRIMARY KEY")},
                  {Value("UQ_Orders"), Value("Orders"), Value("UNIQUE")}}));
  EXPECT_EQ(Select("SELECT CONSTRAINT_NAME, COLUMN_NAME, ORDINAL_POSITION FROM "
                   "INFORMATION_SCHEMA.KEY_COLUMN_USAGE ORDER BY CONSTRAINT_NAME, "
                   "ORDINAL_POSITION")
                .rows,
            (Rows{{Value("PK_Orders"), Value("id"), Value(1)},
                  {Value("UQ_Orders"), Value("customer"), Value(1)},
                  {Value("UQ_Orders"), Value("placed"), Value(2)}}));
  EXPECT_TRUE(Select("SELECT * FROM INFORMATION_SCHEMA.REFERENTIAL_CONSTRAINTS").rows.empty());
  // A view over the catalogue follows it: a dropped table is gone from every view.
  Ok(*shop_, "DROP VIEW Big DROP TABLE Orders");
  EXPECT_EQ(Select("SELECT COUNT(*) FROM INFORMATION_SCHEMA.KEY_COLUMN_USAGE").rows[0][0],
            Value(0));
  EXPECT_EQ(Select("SELECT COUNT(*) FROM INFORMATION_SCHEMA.COLUMNS").rows[0][0], Value(1));
}

// The system tables: rows of sysobjects (type 'S', ids 1 to 3 as documented) that OBJECT_ID,
// OBJECTPROPERTY, sp_help and sp_tables know, while INFORMATION_SCHEMA leaves them out.
TEST_F(InformationSchemaTest, SystemTablesAreObjectsOfEveryDatabaseButNotOfInformationSchema) {
  const struct {
    bool master;  // run in master instead of Shop
    const char* batch;
    const char* expected;  // the last row set: values joined by ",", rows by ";"
  } cases[] = {
      // sysobjects: "S = System table"; sysobjects, sysindexes and syscolumns are objects 1 to 3
      {false, "SELECT name FROM sysobjects WHERE type = 'S' AND id < 4 ORDER BY id",
       "sysobjects;sysindexes;syscolumns"},
      // system tables of the master database only: not in a user database's sysobjects
      {false,
       "SELECT COUNT(*) FROM sysobjects WHERE name IN ('sysdatabases', 'sysxlogins', "
       "'sysprocesses', 'sysmessages')",
       "0"},
      {true,
       "SELECT COUNT(*) FROM sysobjects WHERE xtype = 'S' AND uid = 1 AND name IN "
       "('sysdatabases', 'sysxlogins', 'sysprocesses', 'sysmessages', 'sysobjects')",
       "5"},
      // OBJECT_ID and OBJECT_NAME, with and without the owner
      {false, "SELECT OBJECT_ID('sysobjects'), OBJECT_ID('dbo.syscolumns'), OBJECT_NAME(2)",
       "1,3,sysindexes"},
      {true, "SELECT OBJECT_NAME(OBJECT_ID('sysdatabases')), OBJECT_ID('Shop..sysdatabases')",
       "sysdatabases,NULL"},
      // OBJECTPROPERTY: IsSystemTable, IsUserTable, IsMSShipped, OwnerId
      {false,
       "DECLARE @id INT SET @id = OBJECT_ID('sysusers') SELECT OBJECTPROPERTY(@id, "
       "'IsSystemTable'), OBJECTPROPERTY(@id, 'IsUserTable'), OBJECTPROPERTY(@id, 'IsMSShipped'), "
       "OBJECTPROPERTY(@id, 'OwnerId')",
       "1,0,1,1"},
      // the usual count of user tables is not changed by them
      {false, "SELECT COUNT(*) FROM sysobjects WHERE OBJECTPROPERTY(id, 'IsUserTable') = 1", "2"},
      // INFORMATION_SCHEMA.TABLES lists only tables and views a user can reach
      {false, "SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME LIKE 'sys%'", "0"},
      // names that only look like one, hostile ones included
      {false,
       "SELECT OBJECT_ID('[sysobjects'';]'), OBJECT_ID('sysobjects; DROP TABLE Orders'), "
       "OBJECT_ID(N'sys\xC3\xB6"
       "bjects'), OBJECT_ID('guest.sysobjects')",
       "NULL,NULL,NULL,NULL"},
      // sp_tables @table_type = "'SYSTEM TABLE'"
      {false, "EXEC sp_tables @table_name = 'syscol%', @table_type = \"'SYSTEM TABLE'\"",
       "Shop,dbo,syscolumns,SYSTEM TABLE,NULL"},
      {false, "EXEC sp_tables @table_name = 'syscol%', @table_type = \"'TABLE'\"", ""},
      // sp_help: the object's row, then its columns
      {false, "EXEC sp_help 'dbo.sysobjects' SELECT 1", "1"},
  };
  for (const auto& c : cases) {
    CollectingSink sink = Run(c.master ? *session_ : *shop_, c.batch);
    ASSERT_EQ(sink.FirstError(), 0) << c.batch << "\n" << sink.ErrorText();
    ASSERT_FALSE(sink.sets.empty()) << c.batch;
    std::string out;
    for (const auto& row : sink.sets.back().rows) {
      out += out.empty() ? "" : ";";
      for (size_t i = 0; i < row.size(); ++i)
        out += (i ? "," : "") + (row[i].IsNull() ? std::string("NULL") : row[i].ToText());
    }
    EXPECT_EQ(out, c.expected) << c.batch;
  }
  CollectingSink help = Run(*shop_, "EXEC sp_help sysobjects");
  ASSERT_GE(help.sets.size(), 2u) << help.ErrorText();
  EXPECT_EQ(help.sets[0].rows.at(0).at(2).ToText(), "system table");
  EXPECT_EQ(help.sets[1].rows.at(2).at(0).ToText(), "xtype");
  EXPECT_EQ(Run(*shop_, "EXEC sp_help sysdatabases").FirstError(), 15009);
}

}  // namespace
}  // namespace sandbox::testing
