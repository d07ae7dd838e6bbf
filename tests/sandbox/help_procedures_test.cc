// The procedures an administrator types to learn about a database: sp_help and its family and
// sp_spaceused. Each case names the documented result set or rule it follows.
#include <algorithm>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

// The text of a server message of that number, or "" when none came.
std::string MessageText(const CollectingSink& sink, std::int32_t number) {
  for (const ServerMessage& m : sink.messages)
    if (m.number == number) return m.text;
  return "";
}

class HelpProceduresTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE DATABASE Shop");
    shop_ = Connect("Shop");
    Ok(*shop_,
       "CREATE TABLE dbo.Orders (id INT IDENTITY(100, 5) NOT NULL CONSTRAINT PK_Orders PRIMARY "
       "KEY, customer NVARCHAR(50) NOT NULL, code CHAR(5) NULL, note VARCHAR(20) NULL, "
       "total DECIMAL(10, 2) NULL, weight FLOAT NULL, placed DATETIME NOT NULL "
       "CONSTRAINT DF_Orders_placed DEFAULT (getdate()), flag BIT NULL)");
    Ok(*shop_, "CREATE UNIQUE INDEX IX_Orders_code ON Orders (code DESC, customer)");
    Ok(*shop_, "CREATE INDEX IX_Orders_placed ON Orders (placed)");
    Ok(*shop_, "CREATE TABLE Plain (a INT)");
    Ok(*shop_, "CREATE VIEW dbo.BigOrders AS SELECT id, total FROM Orders WHERE total > 100");
    Ok(*shop_,
       "CREATE PROCEDURE dbo.OrdersOf @customer NVARCHAR(50), @since DATETIME = NULL, "
       "@count INT OUTPUT\r\nAS\r\nSELECT @count = COUNT(*) FROM Orders WHERE customer = "
       "@customer\r\n");
  }

  CollectingSink RunShop(const std::string& batch) { return Run(*shop_, batch); }
  std::vector<RowSet> Sets(const std::string& batch) {
    CollectingSink sink = RunShop(batch);
    EXPECT_EQ(sink.FirstError(), 0) << batch << ": " << sink.ErrorText();
    return sink.sets;
  }

  std::unique_ptr<Session> shop_;
};

// --- sp_help -----------------------------------------------------------------------------

// Without a name: Name, Owner, Object_type of every object, by type descending then name,
// and the (empty) list of user-defined types.
TEST_F(HelpProceduresTest, HelpWithoutNameListsObjectsAndUserTypes) {
  std::vector<RowSet> sets = Sets("EXEC sp_help");
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(ColumnNames(sets[0]), (std::vector<std::string>{"Name", "Owner", "Object_type"}));
  // The system tables are listed too, after the user tables.
  std::vector<std::vector<Value>> expected = {
      {Value("BigOrders"), Value("dbo"), Value("view")},
      {Value("sysconstraints"), Value("dbo"), Value("view")},
      {Value("Orders"), Value("dbo"), Value("user table")},
      {Value("Plain"), Value("dbo"), Value("user table")}};
  for (const char* name :
       {"syscolumns", "syscomments", "sysfilegroups", "sysfiles", "sysforeignkeys", "sysindexes",
        "sysmembers", "sysobjects", "sysprotects", "sysreferences", "systypes", "sysusers"})
    expected.push_back({Value(name), Value("dbo"), Value("system table")});
  expected.insert(expected.end(),
                  {
                      {Value("OrdersOf"), Value("dbo"), Value("stored procedure")},
                      {Value("PK_Orders"), Value("dbo"), Value("primary key cns")},
                      {Value("DF_Orders_placed"), Value("dbo"), Value("default (maybe cns)")},
                  });
  EXPECT_EQ(sets[0].rows, expected);
  EXPECT_EQ(ColumnNames(sets[1]),
            (std::vector<std::string>{"User_type", "Storage_type", "Length", "Prec", "Scale",
                                      "Nullable", "Default_name", "Rule_name", "Collation"}));
  EXPECT_TRUE(sets[1].rows.empty());
}

// A table: the object, its columns, identity, RowGuidCol, filegroup, indexes, constraints.
TEST_F(HelpProceduresTest, HelpOnTableGivesItsSevenResultSets) {
  std::vector<RowSet> sets = Sets("EXEC sp_help 'dbo.Orders'");
  ASSERT_EQ(sets.size(), 7u);
  EXPECT_EQ(ColumnNames(sets[0]),
            (std::vector<std::string>{"Name", "Owner", "Type", "Created_datetime"}));
  ASSERT_EQ(sets[0].rows.size(), 1u);
  EXPECT_EQ(sets[0].rows[0][0], Value("Orders"));
  EXPECT_EQ(sets[0].rows[0][2], Value("user table"));
  EXPECT_EQ(sets[0].rows[0][3].type(), Value::Type::kDateTime);

  EXPECT_EQ(ColumnNames(sets[1]),
            (std::vector<std::string>{"Column_name", "Type", "Computed", "Length", "Prec", "Scale",
                                      "Nullable", "TrimTrailingBlanks", "FixedLenNullInSource",
                                      "Collation"}));
  // Length in bytes; Prec and Scale char(5), blank for non-numeric types and Scale NULL for
  // float; trailing blanks and fixed-length nulls only apply to char and binary types.
  struct ColumnCase {
    const char* name;
    const char* type;
    long long length;
    Value prec, scale;
    const char* nullable;
    const char* trim;
    const char* fixed_null;
    bool collation;
  };
  const ColumnCase cases[] = {
      {"id", "int", 4, Value("10   "), Value("0    "), "no", "(n/a)", "(n/a)", false},
      {"customer", "nvarchar", 100, Value("     "), Value("     "), "no", "no", "(n/a)", true},
      {"code", "char", 5, Value("     "), Value("     "), "yes", "no", "yes", true},
      {"note", "varchar", 20, Value("     "), Value("     "), "yes", "no", "yes", true},
      {"total", "decimal", 9, Value("10   "), Value("2    "), "yes", "(n/a)", "(n/a)", false},
      {"weight", "float", 8, Value("53   "), Value(), "yes", "(n/a)", "(n/a)", false},
      {"placed", "datetime", 8, Value("     "), Value("     "), "no", "(n/a)", "(n/a)", false},
      {"flag", "bit", 1, Value("     "), Value("     "), "yes", "(n/a)", "(n/a)", false},
  };
  ASSERT_EQ(sets[1].rows.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ColumnCase& c = cases[i];
    const std::vector<Value>& row = sets[1].rows[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(row[0], Value(c.name));
    EXPECT_EQ(row[1], Value(c.type));
    EXPECT_EQ(row[2], Value("no"));
    EXPECT_EQ(row[3], Value(c.length));
    EXPECT_EQ(row[4], c.prec);
    EXPECT_EQ(row[5], c.scale);
    EXPECT_EQ(row[6], Value(c.nullable));
    EXPECT_EQ(row[7], Value(c.trim));
    EXPECT_EQ(row[8], Value(c.fixed_null));
    EXPECT_EQ(row[9].IsNull(), !c.collation);
  }

  EXPECT_EQ(ColumnNames(sets[2]),
            (std::vector<std::string>{"Identity", "Seed", "Increment", "Not For Replication"}));
  ASSERT_EQ(sets[2].rows.size(), 1u);
  EXPECT_EQ(sets[2].rows[0][0], Value("id"));
  EXPECT_EQ(sets[2].rows[0][1].ToInt(), 100);
  EXPECT_EQ(sets[2].rows[0][2].ToInt(), 5);
  EXPECT_EQ(sets[3].rows,
            (std::vector<std::vector<Value>>{{Value("No rowguidcol column defined.")}}));
  EXPECT_EQ(ColumnNames(sets[4]), (std::vector<std::string>{"Data_located_on_filegroup"}));
  EXPECT_EQ(sets[4].rows, (std::vector<std::vector<Value>>{{Value("PRIMARY")}}));
  EXPECT_EQ(ColumnNames(sets[5]),
            (std::vector<std::string>{"index_name", "index_description", "index_keys"}));
  EXPECT_EQ(sets[5].rows.size(), 3u);
  EXPECT_EQ(sets[6].columns.size(), 7u);
}

// A table without identity, indexes or constraints says so in its rows and messages.
TEST_F(HelpProceduresTest, HelpOnBareTableSaysWhatItLacks) {
  CollectingSink sink = RunShop("EXEC sp_help Plain");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 5u);
  EXPECT_EQ(sink.sets[2].rows,
            (std::vector<std::vector<Value>>{
                {Value("No identity column defined."), Value(), Value(), Value()}}));
  EXPECT_EQ(MessageText(sink, 15472), "The object does not have any indexes.");
  EXPECT_EQ(MessageText(sink, 15469), "No constraints have been defined for this object.");
}

// A view: no filegroup, indexes or constraints; a procedure: its parameters in order.
TEST_F(HelpProceduresTest, HelpOnViewAndProcedure) {
  std::vector<RowSet> view = Sets("EXEC sp_help BigOrders");
  ASSERT_EQ(view.size(), 4u);
  EXPECT_EQ(view[0].rows[0][2], Value("view"));
  ASSERT_EQ(view[1].rows.size(), 2u);
  EXPECT_EQ(view[1].rows[1][0], Value("total"));

  std::vector<RowSet> procedure = Sets("EXEC sp_help @objname = N'OrdersOf'");
  ASSERT_EQ(procedure.size(), 2u);
  EXPECT_EQ(procedure[0].rows[0][2], Value("stored procedure"));
  EXPECT_EQ(ColumnNames(procedure[1]),
            (std::vector<std::string>{"Parameter_name", "Type", "Length", "Prec", "Scale",
                                      "Param_order", "Collation"}));
  std::vector<std::vector<Value>> expected = {
      {Value("@customer"), Value("nvarchar"), Value(100), Value(50), Value(), Value(1)},
      {Value("@since"), Value("datetime"), Value(8), Value(23), Value(3), Value(2)},
      {Value("@count"), Value("int"), Value(4), Value(10), Value(0), Value(3)},
  };
  ASSERT_EQ(procedure[1].rows.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    for (size_t j = 0; j < expected[i].size(); ++j)
      EXPECT_EQ(procedure[1].rows[i][j], expected[i][j]) << i << "," << j;
}

// A data type name: Type_name, Storage_type, Length, Prec, Scale, Nullable, ... as systypes
// keeps them.
TEST_F(HelpProceduresTest, HelpOnDataTypes) {
  struct TypeCase {
    const char* name;
    long long length;
    long long prec;
    Value scale;
    const char* nullable;
  };
  const TypeCase cases[] = {
      {"int", 4, 10, Value(0), "yes"},       {"nvarchar", 8000, 4000, Value(), "yes"},
      {"decimal", 17, 38, Value(38), "yes"}, {"sysname", 256, 128, Value(), "no"},
      {"DATETIME", 8, 23, Value(3), "yes"},  {"timestamp", 8, 8, Value(), "no"},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<RowSet> sets = Sets(std::string("EXEC sp_help '") + c.name + "'");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].columns[0].name, "Type_name");
    ASSERT_EQ(sets[0].rows.size(), 1u);
    const std::vector<Value>& row = sets[0].rows[0];
    EXPECT_EQ(row[2], Value(c.length));
    EXPECT_EQ(row[3], Value(c.prec));
    EXPECT_EQ(row[4], c.scale);
    EXPECT_EQ(row[5], Value(c.nullable));
  }
}

// Names that are no object: 15009 with the name as given; another database's name: 15250.
// Hostile names are found when they exist and quoted back as given when they do not.
TEST_F(HelpProceduresTest, HelpNamesAndErrors) {
  Ok(*shop_, "CREATE TABLE [we]]ird; 'näme'] (x INT)");
  struct NameCase {
    const char* argument;  // as written in the batch
    std::int32_t error;
    const char* text;
  };
  const NameCase cases[] = {
      {"'[we]]ird; ''näme'']'", 0, ""},
      {"'dbo.[we]]ird; ''näme'']'", 0, ""},
      {"'Shop.dbo.Orders'", 0, ""},
      {"'Nothing'", 15009, "The object 'Nothing' does not exist in database 'Shop'."},
      {"'x''; DROP TABLE Orders --'", 15009,
       "The object 'x'; DROP TABLE Orders --' does not exist in database 'Shop'."},
      {"'master.dbo.Orders'", 15250,
       "The database name component of the object qualifier must be the name of the current "
       "database."},
      {"'a.b.c.d'", 15009, "The object 'a.b.c.d' does not exist in database 'Shop'."},
      {"'[unclosed'", 15009, "The object '[unclosed' does not exist in database 'Shop'."},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.argument);
    CollectingSink sink = RunShop(std::string("EXEC sp_help ") + c.argument);
    EXPECT_EQ(sink.FirstError(), c.error);
    if (c.error) {
      EXPECT_EQ(sink.Errors()[0]->text, c.text);
    }
  }
  std::string long_name(300, 'n');
  EXPECT_EQ(RunShop("EXEC sp_help '" + long_name + "'").FirstError(), 15009);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Shop..Orders"), Value(0));  // nothing was dropped
}

// --- sp_helptext -------------------------------------------------------------------------

// One row per line of the creation text, line ends kept; lines past 255 characters go on.
TEST_F(HelpProceduresTest, HelpTextGivesTheCreationTextByLine) {
  std::vector<RowSet> sets = Sets("EXEC sp_helptext 'OrdersOf'");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(ColumnNames(sets[0]), (std::vector<std::string>{"Text"}));
  std::vector<std::vector<Value>> expected = {
      {Value("CREATE PROCEDURE dbo.OrdersOf @customer NVARCHAR(50), @since DATETIME = NULL, "
             "@count INT OUTPUT\r\n")},
      {Value("AS\r\n")},
      {Value("SELECT @count = COUNT(*) FROM Orders WHERE customer = @customer\r\n")}};
  EXPECT_EQ(sets[0].rows, expected);

  std::string long_line = "CREATE VIEW Wide AS SELECT '" + std::string(300, 'w') + "' AS w";
  Ok(*shop_, long_line);
  sets = Sets("EXEC sp_helptext Wide");
  ASSERT_EQ(sets[0].rows.size(), 2u);
  EXPECT_EQ(sets[0].rows[0][0].ToText().size(), 255u);
  EXPECT_EQ(sets[0].rows[0][0].ToText() + sets[0].rows[1][0].ToText(), long_line);
}

TEST_F(HelpProceduresTest, HelpTextErrors) {
  struct Case {
    const char* batch;
    std::int32_t error;
    const char* text;
  };
  const Case cases[] = {
      {"EXEC sp_helptext Orders", 15197, "There is no text for object 'Orders'."},
      {"EXEC sp_helptext 'No;Such'", 15009,
       "The object 'No;Such' does not exist in database 'Shop'."},
      {"EXEC sp_helptext", 201,
       "Procedure 'sp_helptext' expects parameter '@objname', which was not supplied."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = RunShop(c.batch);
    ASSERT_EQ(sink.FirstError(), c.error);
    EXPECT_EQ(sink.Errors()[0]->text, c.text);
  }
}

// --- sp_helpindex and sp_helpconstraint --------------------------------------------------

// index_description as "clustered, unique, primary key located on PRIMARY"; descending key
// columns marked "(-)"; by index name.
TEST_F(HelpProceduresTest, HelpIndexDescribesEachIndex) {
  std::vector<RowSet> sets = Sets("EXEC sp_helpindex 'Orders'");
  ASSERT_EQ(sets.size(), 1u);
  std::vector<std::vector<Value>> expected = {
      {Value("IX_Orders_code"), Value("nonclustered, unique located on PRIMARY"),
       Value("code(-), customer")},
      {Value("IX_Orders_placed"), Value("nonclustered located on PRIMARY"), Value("placed")},
      {Value("PK_Orders"), Value("clustered, unique, primary key located on PRIMARY"), Value("id")},
  };
  EXPECT_EQ(sets[0].rows, expected);

  CollectingSink sink = RunShop("EXEC sp_helpindex Plain");
  EXPECT_EQ(sink.FirstError(), 0);
  EXPECT_TRUE(sink.sets.empty());
  EXPECT_EQ(MessageText(sink, 15472), "The object does not have any indexes.");
  EXPECT_EQ(RunShop("EXEC sp_helpindex OrdersOf").FirstError(), 15009);
}

TEST_F(HelpProceduresTest, HelpConstraintListsKeysAndDefaults) {
  Ok(*shop_, "ALTER TABLE Plain ADD CONSTRAINT UQ_Plain UNIQUE (a)");
  CollectingSink sink = RunShop("EXEC sp_helpconstraint 'Orders'");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 2u);
  EXPECT_EQ(ColumnNames(sink.sets[0]), (std::vector<std::string>{"Object Name"}));
  EXPECT_EQ(sink.sets[0].rows[0][0], Value("Orders"));
  EXPECT_EQ(ColumnNames(sink.sets[1]),
            (std::vector<std::string>{"constraint_type", "constraint_name", "delete_action",
                                      "update_action", "status_enabled", "status_for_replication",
                                      "constraint_keys"}));
  ASSERT_EQ(sink.sets[1].rows.size(), 2u);
  EXPECT_EQ(sink.sets[1].rows[0][0], Value("DEFAULT on column placed"));
  EXPECT_EQ(sink.sets[1].rows[0][1], Value("DF_Orders_placed"));
  EXPECT_EQ(sink.sets[1].rows[1][0], Value("PRIMARY KEY (clustered)"));
  EXPECT_EQ(sink.sets[1].rows[1][6], Value("id"));
  EXPECT_EQ(MessageText(sink, 15470), "No foreign keys reference this table.");

  std::vector<RowSet> plain = Sets("EXEC sp_helpconstraint Plain, 'nomsg'");
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].rows[0][0], Value("UNIQUE (non-clustered)"));

  Ok(*shop_, "CREATE TABLE Bare (b INT)");
  sink = RunShop("EXEC sp_helpconstraint Bare");
  EXPECT_EQ(MessageText(sink, 15469), "No constraints have been defined for this object.");
  EXPECT_EQ(Failure(*shop_, "EXEC sp_helpconstraint BigOrders"),
            "15218: Object 'BigOrders' is not a table.");
}

// --- files and space ---------------------------------------------------------------------

TEST_F(HelpProceduresTest, HelpFileAndFileGroup) {
  std::vector<RowSet> files = Sets("EXEC sp_helpfile");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ColumnNames(files[0]),
            (std::vector<std::string>{"name", "fileid", "filename", "filegroup", "size", "maxsize",
                                      "growth", "usage"}));
  ASSERT_EQ(files[0].rows.size(), 2u);
  EXPECT_EQ(files[0].rows[0][3], Value("PRIMARY"));
  EXPECT_EQ(files[0].rows[0][7], Value("data only"));
  EXPECT_TRUE(files[0].rows[1][3].IsNull());
  EXPECT_EQ(files[0].rows[1][7], Value("log only"));
  std::string log_name = files[0].rows[1][0].ToText();
  std::vector<RowSet> one = Sets("EXEC sp_helpfile '" + log_name + "'");
  ASSERT_EQ(one[0].rows.size(), 1u);
  EXPECT_EQ(one[0].rows[0][1], Value(2));

  std::vector<RowSet> groups = Sets("EXEC sp_helpfilegroup");
  EXPECT_EQ(groups[0].rows,
            (std::vector<std::vector<Value>>{{Value("PRIMARY"), Value(1), Value(1)}}));
  groups = Sets("EXEC sp_helpfilegroup 'primary'");
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(ColumnNames(groups[1]), (std::vector<std::string>{"file_in_group", "fileid", "filename",
                                                              "size", "maxsize", "growth"}));
  EXPECT_EQ(groups[1].rows.size(), 1u);
  CollectingSink sink = RunShop("EXEC sp_helpfilegroup 'Archive]; --'");
  ASSERT_EQ(sink.FirstError(), 15046);
}

TEST_F(HelpProceduresTest, SpaceUsedOfDatabaseAndTable) {
  std::vector<RowSet> sets = Sets("EXEC sp_spaceused");
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(ColumnNames(sets[0]),
            (std::vector<std::string>{"database_name", "database_size", "unallocated space"}));
  EXPECT_EQ(sets[0].rows[0][0], Value("Shop"));
  EXPECT_NE(sets[0].rows[0][1].ToText().find(" MB"), std::string::npos);
  EXPECT_EQ(ColumnNames(sets[1]),
            (std::vector<std::string>{"reserved", "data", "index_size", "unused"}));

  Ok(*shop_,
     "DECLARE @i INT SET @i = 0 WHILE @i < 200 BEGIN INSERT Orders (customer, code, placed) "
     "VALUES (REPLICATE(N'c', 50), CAST(@i AS CHAR(5)), '2001-01-01') SET @i = @i + 1 END");
  sets = Sets("EXEC sp_spaceused 'Orders', @updateusage = 'true'");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(ColumnNames(sets[0]),
            (std::vector<std::string>{"name", "rows", "reserved", "data", "index_size", "unused"}));
  EXPECT_EQ(sets[0].rows[0][0], Value("Orders"));
  EXPECT_EQ(sets[0].rows[0][1], Value("200        "));  // char(11)
  auto kb = [](const Value& v) { return std::stoll(v.ToText()); };
  EXPECT_GT(kb(sets[0].rows[0][3]), 8);
  EXPECT_GT(kb(sets[0].rows[0][4]), 0);
  EXPECT_EQ(kb(sets[0].rows[0][2]), kb(sets[0].rows[0][3]) + kb(sets[0].rows[0][4]));

  struct Case {
    const char* batch;
    std::int32_t error;
  };
  const Case cases[] = {{"EXEC sp_spaceused 'NoTable'", 15009},
                        {"EXEC sp_spaceused 'BigOrders'", 15234},
                        {"EXEC sp_spaceused NULL, 'maybe'", 15143}};
  for (const Case& c : cases) EXPECT_EQ(RunShop(c.batch).FirstError(), c.error) << c.batch;
}

// --- sp_rename ---------------------------------------------------------------------------

// Every rename is announced with the 15477 caution, then what was renamed.
TEST_F(HelpProceduresTest, RenameTableColumnIndexAndProcedure) {
  Ok(*shop_, "INSERT Orders (customer, code, placed) VALUES (N'Ann', 'A1', '2001-02-03')");
  struct Case {
    const char* batch;
    const char* message;
  };
  const Case cases[] = {
      {"EXEC sp_rename 'Orders', 'Sales'", "The object was renamed to 'Sales'."},
      {"EXEC sp_rename 'Sales.customer', 'buyer', 'COLUMN'", "The COLUMN was renamed to 'buyer'."},
      {"EXEC sp_rename @objname = 'dbo.Sales.IX_Orders_code', @newname = 'IX_Sales_code', "
       "@objtype = 'index'",
       "The INDEX was renamed to 'IX_Sales_code'."},
      {"EXEC sp_rename 'OrdersOf', 'SalesOf'", "The object was renamed to 'SalesOf'."},
      // Renaming a key constraint renames its index.
      {"EXEC sp_rename 'dbo.PK_Orders', 'PK_Sales', 'OBJECT'",
       "The object was renamed to 'PK_Sales'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = RunShop(c.batch);
    ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
    EXPECT_EQ(MessageText(sink, 15477),
              "Caution: Changing any part of an object name could break scripts and stored "
              "procedures.");
    EXPECT_EQ(MessageText(sink, 15520), c.message);
  }
  // The rows moved with the table and the index follows its column's new name.
  RowSet row = Query(*shop_, "SELECT buyer, code FROM Sales");
  ASSERT_EQ(row.rows.size(), 1u);
  EXPECT_EQ(row.rows[0][0], Value("Ann"));
  EXPECT_EQ(RunShop("SELECT * FROM Orders").FirstError(), 208);
  RowSet indexes = Query(*shop_, "EXEC sp_helpindex Sales");
  ASSERT_EQ(indexes.rows.size(), 3u);
  EXPECT_EQ(indexes.rows[1][0], Value("IX_Sales_code"));
  EXPECT_EQ(indexes.rows[1][2], Value("code(-), buyer"));
  EXPECT_EQ(indexes.rows[2][0], Value("PK_Sales"));
  EXPECT_EQ(indexes.rows[2][1], Value("clustered, unique, primary key located on PRIMARY"));
  // The identity goes on where it was; the unique index still holds.
  Ok(*shop_, "INSERT Sales (buyer, code, placed) VALUES (N'Bo', 'B1', '2001-02-03')");
  EXPECT_EQ(Scalar("SELECT MAX(id) FROM Shop..Sales"), Value(105));
  EXPECT_EQ(
      RunShop("INSERT Sales (buyer, code, placed) VALUES (N'Bo', 'B1', '2001-02-03')").FirstError(),
      2601);
  // A view over the old name fails cleanly when used, as SQL Server's does, until the name is
  // back.
  EXPECT_EQ(Failure(*shop_, "SELECT * FROM BigOrders"), "208: Invalid object name 'Orders'.");
  // The old names are free again.
  Ok(*shop_, "CREATE TABLE Orders (x INT CONSTRAINT PK_Again PRIMARY KEY)");
  Ok(*shop_, "CREATE INDEX IX_Orders_code ON Orders (x)");
  // A procedure's text keeps the name it was created with, as SQL Server's does.
  RowSet text = Query(*shop_, "EXEC sp_helptext SalesOf");
  ASSERT_FALSE(text.rows.empty());
  EXPECT_NE(text.rows[0][0].ToText().find("dbo.OrdersOf"), std::string::npos);
}

TEST_F(HelpProceduresTest, RenameWithHostileNames) {
  const std::string hostile = "we]]ird; ''ñame";  // as written inside a string literal
  Ok(*shop_, "EXEC sp_rename 'Plain', '" + hostile + "'");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Shop.dbo.[we]]]]ird; 'ñame]"), Value(0));
  Ok(*shop_, "EXEC sp_rename '[we]]]]ird; ''ñame].a', 'a\"b', 'COLUMN'");
  EXPECT_EQ(Scalar("SELECT COUNT([a\"b]) FROM Shop.dbo.[we]]]]ird; 'ñame]"), Value(0));
  Ok(*shop_, "EXEC sp_rename '[we]]]]ird; ''ñame]', 'Plain'");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Shop..Plain"), Value(0));
}

TEST_F(HelpProceduresTest, RenameErrorsChangeNothing) {
  struct Case {
    std::string batch;
    std::int32_t error;
    std::string text;
  };
  const Case cases[] = {
      {"EXEC sp_rename 'Nothing', 'X'", 15248,
       "Either the parameter @objname is ambiguous or the claimed @objtype ((null)) is wrong."},
      {"EXEC sp_rename 'Orders.nothing', 'X', 'COLUMN'", 15248,
       "Either the parameter @objname is ambiguous or the claimed @objtype (COLUMN) is wrong."},
      {"EXEC sp_rename 'Orders.IX_None', 'X', 'INDEX'", 15248,
       "Either the parameter @objname is ambiguous or the claimed @objtype (INDEX) is wrong."},
      {"EXEC sp_rename 'Orders', 'plain'", 15335,
       "Error: The new name 'plain' is already in use as a object name and would cause a "
       "duplicate that is not permitted."},
      {"EXEC sp_rename 'Orders.code', 'NOTE', 'COLUMN'", 15335,
       "Error: The new name 'NOTE' is already in use as a column name and would cause a "
       "duplicate that is not permitted."},
      {"EXEC sp_rename 'Orders.PK_Orders', 'Plain', 'INDEX'", 15335,
       "Error: The new name 'Plain' is already in use as a object name and would cause a "
       "duplicate that is not permitted."},
      {"EXEC sp_rename 'Orders', 'X', 'TRIGGER'", 15249,
       "Error: Explicit @objtype 'TRIGGER' is unrecognized."},
      {"EXEC sp_rename 'Orders', NULL", 15223,
       "Error: The input parameter '@newname' is not allowed to be null."},
      {"EXEC sp_rename 'Orders'", 201,
       "Procedure 'sp_rename' expects parameter '@newname', which was not supplied."},
      {"EXEC sp_rename 'Orders', '" + std::string(129, 'x') + "'", 103,
       "The identifier that starts with '" + std::string(128, 'x') +
           "' is too long. Maximum length is 128."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = RunShop(c.batch);
    ASSERT_EQ(sink.FirstError(), c.error);
    EXPECT_EQ(sink.Errors()[0]->text, c.text);
    EXPECT_EQ(MessageText(sink, 15477), "");
  }
  // A rename rolled back with its transaction leaves the old names.
  Ok(*shop_, "BEGIN TRAN EXEC sp_rename 'Orders', 'Gone' ROLLBACK");
  EXPECT_EQ(Query(*shop_, "EXEC sp_help Orders").rows.empty(), false);
  EXPECT_EQ(RunShop("SELECT * FROM Gone").FirstError(), 208);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Shop..Orders"), Value(0));
}

// --- ODBC catalogue lists ----------------------------------------------------------------

// sp_tables: TABLE_QUALIFIER, TABLE_OWNER, TABLE_NAME, TABLE_TYPE, REMARKS by type, owner,
// name; names are LIKE patterns and @table_type a list of quoted types.
TEST_F(HelpProceduresTest, TablesListsTablesAndViews) {
  struct Case {
    const char* batch;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      // sysconstraints is a system view of every database
      {"EXEC sp_tables @table_type = \"'TABLE', 'VIEW'\"",
       {"Orders", "Plain", "BigOrders", "sysconstraints"}},
      // system tables first: SYSTEM TABLE sorts before TABLE and VIEW
      {"EXEC sp_tables 'sys[cu]%'", {"syscolumns", "syscomments", "sysusers", "sysconstraints"}},
      {"EXEC sp_tables 'Ord%'", {"Orders"}},
      {"EXEC sp_tables @table_type = \"'VIEW'\"", {"BigOrders", "sysconstraints"}},
      {"EXEC sp_tables @table_owner = 'guest'", {}},
      {"EXEC sp_tables @table_qualifier = 'master'", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    std::vector<RowSet> sets = Sets(c.batch);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(ColumnNames(sets[0]),
              (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME",
                                        "TABLE_TYPE", "REMARKS"}));
    std::vector<std::string> names;
    for (const auto& row : sets[0].rows) names.push_back(row[2].ToText());
    EXPECT_EQ(names, c.names);
  }
  RowSet all = Query(*shop_, "EXEC sp_tables @table_type = \"'TABLE','VIEW'\"");
  EXPECT_EQ(all.rows[0], (std::vector<Value>{Value("Shop"), Value("dbo"), Value("Orders"),
                                             Value("TABLE"), Value()}));
  EXPECT_EQ(all.rows[2][3], Value("VIEW"));
}

// sp_columns: the 19 columns of SQLColumns, ODBC type codes and transfer sizes.
TEST_F(HelpProceduresTest, ColumnsDescribesColumnsAsOdbcDoes) {
  RowSet set = Query(*shop_, "EXEC sp_columns @table_name = 'Orders'");
  EXPECT_EQ(ColumnNames(set),
            (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME", "COLUMN_NAME",
                                      "DATA_TYPE", "TYPE_NAME", "PRECISION", "LENGTH", "SCALE",
                                      "RADIX", "NULLABLE", "REMARKS", "COLUMN_DEF", "SQL_DATA_TYPE",
                                      "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH", "ORDINAL_POSITION",
                                      "IS_NULLABLE", "SS_DATA_TYPE"}));
  ASSERT_EQ(set.rows.size(), 8u);
  struct Case {
    size_t row;
    Value data_type;
    const char* type_name;
    Value precision, length, scale, nullable, column_def, sql_data_type, sub, octets;
    const char* is_nullable;
    Value ss_data_type;
  };
  const Case cases[] = {
      {0, Value(4), "int identity", Value(10), Value(4), Value(0), Value(0), Value(), Value(4),
       Value(), Value(), "NO", Value(56)},
      {1, Value(-9), "nvarchar", Value(50), Value(100), Value(), Value(0), Value(), Value(-9),
       Value(), Value(100), "NO", Value(39)},
      {2, Value(1), "char", Value(5), Value(5), Value(), Value(1), Value(), Value(1), Value(),
       Value(5), "YES", Value(47)},
      {4, Value(3), "decimal", Value(10), Value(12), Value(2), Value(1), Value(), Value(3), Value(),
       Value(), "YES", Value(106)},
      {6, Value(11), "datetime", Value(23), Value(16), Value(3), Value(0), Value("(getdate())"),
       Value(9), Value(3), Value(), "NO", Value(61)},
  };
  for (const Case& c : cases) {
    const std::vector<Value>& row = set.rows[c.row];
    SCOPED_TRACE(row[3].ToText());
    EXPECT_EQ(row[4], c.data_type);
    EXPECT_EQ(row[5], Value(c.type_name));
    EXPECT_EQ(row[6], c.precision);
    EXPECT_EQ(row[7], c.length);
    EXPECT_EQ(row[8], c.scale);
    EXPECT_EQ(row[10], c.nullable);
    EXPECT_EQ(row[12], c.column_def);
    EXPECT_EQ(row[13], c.sql_data_type);
    EXPECT_EQ(row[14], c.sub);
    EXPECT_EQ(row[15], c.octets);
    EXPECT_EQ(row[16], Value(static_cast<long long>(c.row + 1)));
    EXPECT_EQ(row[17], Value(c.is_nullable));
    EXPECT_EQ(row[18], c.ss_data_type);
  }
  // ODBC 3 numbers datetime 93; a column pattern picks columns.
  RowSet placed = Query(*shop_, "EXEC sp_columns Orders, @column_name = 'pl%', @ODBCVer = 3");
  ASSERT_EQ(placed.rows.size(), 1u);
  EXPECT_EQ(placed.rows[0][4], Value(93));
  EXPECT_TRUE(Query(*shop_, "EXEC sp_columns 'No''such'").rows.empty());
  EXPECT_EQ(RunShop("EXEC sp_columns Orders, NULL, 'master'").FirstError(), 15250);
}

TEST_F(HelpProceduresTest, DatabasesAndStoredProcedures) {
  RowSet databases = Query(*shop_, "EXEC sp_databases");
  EXPECT_EQ(ColumnNames(databases),
            (std::vector<std::string>{"DATABASE_NAME", "DATABASE_SIZE", "REMARKS"}));
  std::vector<std::string> names;
  for (const auto& row : databases.rows) {
    names.push_back(row[0].ToText());
    EXPECT_GT(row[1].ToInt().value_or(0), 0) << row[0].ToText();
  }
  EXPECT_NE(std::find(names.begin(), names.end(), "Shop"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "master"), names.end());
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                             [](const auto& a, const auto& b) { return Lower(a) < Lower(b); }));

  RowSet procedures = Query(*shop_, "EXEC sp_stored_procedures");
  EXPECT_EQ(ColumnNames(procedures),
            (std::vector<std::string>{"PROCEDURE_QUALIFIER", "PROCEDURE_OWNER", "PROCEDURE_NAME",
                                      "NUM_INPUT_PARAMS", "NUM_OUTPUT_PARAMS", "NUM_RESULT_SETS",
                                      "REMARKS", "PROCEDURE_TYPE"}));
  RowSet mine = Query(*shop_, "EXEC sp_stored_procedures 'Orders%'");
  EXPECT_EQ(mine.rows, (std::vector<std::vector<Value>>{{Value("Shop"), Value("dbo"),
                                                         Value("OrdersOf;1"), Value(-1), Value(-1),
                                                         Value(-1), Value(), Value(2)}}));
  RowSet help = Query(*shop_, "EXEC sp_stored_procedures @sp_name = 'sp[_]helpi%'");
  ASSERT_EQ(help.rows.size(), 1u);
  EXPECT_EQ(help.rows[0][2], Value("sp_helpindex;1"));
}

// The sandbox runs nothing on its host: on 2000, xp_cmdshell is as if its administrator had
// dropped it.
TEST_F(HelpProceduresTest, CmdShellIsRefused) {
  for (const char* batch : {"EXEC master..xp_cmdshell 'dir'", "EXEC xp_cmdshell 'rm -rf /; echo'",
                            "EXEC xp_cmdshell"}) {
    SCOPED_TRACE(batch);
    CollectingSink sink = RunShop(batch);
    ASSERT_EQ(sink.FirstError(), 2812);
    EXPECT_EQ(sink.Errors()[0]->severity, 16);
    EXPECT_EQ(sink.Errors()[0]->text, "Could not find stored procedure 'xp_cmdshell'.");
  }
}

// --- sessions and locks ------------------------------------------------------------------

// sp_who2: SPID, Status, Login, HostName, BlkBy, DBName, Command, CPUTime, DiskIO, LastBatch,
// ProgramName and SPID again; "  ." where there is nothing to show.
TEST_F(HelpProceduresTest, Who2ListsSessionsAtAGlance) {
  RowSet set = Query(*shop_, "EXEC sp_who2");
  EXPECT_EQ(
      ColumnNames(set),
      (std::vector<std::string>{"SPID", "Status", "Login", "HostName", "BlkBy", "DBName", "Command",
                                "CPUTime", "DiskIO", "LastBatch", "ProgramName", "SPID"}));
  const std::vector<Value>* mine = nullptr;
  for (const auto& row : set.rows) {
    EXPECT_EQ(row[0], row[11]);
    EXPECT_EQ(row[0].ToText().size(), 5u);
    EXPECT_EQ(row[9].ToText().size(), 14u) << row[9].ToText();  // "MM/DD hh:mm:ss"
    if (std::stoll(row[0].ToText()) == shop_->spid()) mine = &row;
  }
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ((*mine)[1], Value("runnable"));
  EXPECT_EQ((*mine)[4], Value("  ."));
  EXPECT_EQ((*mine)[5], Value("Shop"));
  EXPECT_EQ(set.rows[0][3], Value("  ."));  // a system process has no host

  // The @loginame argument picks as sp_who's does.
  EXPECT_EQ(Query(*shop_, "EXEC sp_who2 " + std::to_string(shop_->spid())).rows.size(), 1u);
  CollectingSink sink = RunShop("EXEC sp_who2 'nobody''; --'");
  ASSERT_EQ(sink.FirstError(), 15007);
  EXPECT_EQ(sink.Errors()[0]->text, "The login 'nobody'; --' does not exist.");
}

// sp_lock: spid, dbid, ObjId, IndId, Type, Resource, Mode, Status; a session in a database
// holds a shared lock on it.
TEST_F(HelpProceduresTest, LockShowsDatabaseLocks) {
  RowSet set = Query(*shop_, "EXEC sp_lock " + std::to_string(shop_->spid()));
  EXPECT_EQ(ColumnNames(set), (std::vector<std::string>{"spid", "dbid", "ObjId", "IndId", "Type",
                                                        "Resource", "Mode", "Status"}));
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.rows[0][1], Scalar("SELECT DB_ID('Shop')"));
  EXPECT_EQ(set.rows[0][4], Value("DB  "));
  EXPECT_EQ(set.rows[0][6], Value("S"));
  EXPECT_EQ(set.rows[0][7], Value("GRANT"));
  EXPECT_GE(Query(*shop_, "EXEC sp_lock").rows.size(), 2u);
  EXPECT_EQ(RunShop("EXEC sp_lock 'x;y'").FirstError(), 245);
}

// --- sp_configure ------------------------------------------------------------------------

// name, minimum, maximum, config_value, run_value; a value set runs after RECONFIGURE; the
// advanced options show once 'show advanced options' runs.
TEST_F(HelpProceduresTest, ConfigureShowsAndSetsOptions) {
  RowSet basic = Query("EXEC sp_configure");
  EXPECT_EQ(ColumnNames(basic),
            (std::vector<std::string>{"name", "minimum", "maximum", "config_value", "run_value"}));
  std::vector<std::string> names;
  for (const auto& row : basic.rows) names.push_back(row[0].ToText());
  EXPECT_NE(std::find(names.begin(), names.end(), "nested triggers"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "max server memory (MB)"), names.end());

  EXPECT_EQ(Query("EXEC sp_configure 'nested triggers'").rows,
            (std::vector<std::vector<Value>>{
                {Value("nested triggers"), Value(0), Value(1), Value(1), Value(1)}}));
  CollectingSink sink = Run("EXEC sp_configure 'nested triggers', 0");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(MessageText(sink, 15457),
            "Configuration option 'nested triggers' changed from 1 to 0. Run the RECONFIGURE "
            "statement to install.");
  EXPECT_EQ(Query("EXEC sp_configure 'nested triggers'").rows[0][4], Value(1));
  Ok("RECONFIGURE WITH OVERRIDE");
  EXPECT_EQ(Run("RECONFIGURE WITH NOWAIT").FirstError(), 102);  // incorrect syntax
  // Another session (and process) reads the same values from master.
  EXPECT_EQ(Query(*shop_, "EXEC sp_configure 'nested triggers'").rows[0][4], Value(0));

  Ok("EXEC sp_configure 'show advanced options', 1 RECONFIGURE");
  RowSet memory = Query("EXEC sp_configure 'max server memory'");
  ASSERT_EQ(memory.rows.size(), 1u);
  EXPECT_EQ(memory.rows[0][4], Value(2147483647));
  EXPECT_GT(Query("EXEC sp_configure").rows.size(), basic.rows.size());

  struct Case {
    const char* batch;
    std::int32_t error;
    const char* text;
  };
  const Case cases[] = {
      {"EXEC sp_configure 'no such; option'", 15123,
       "The configuration option 'no such; option' does not exist, or it may be an advanced "
       "option."},
      {"EXEC sp_configure 'nested triggers', 2", 15129,
       "'2' is not a valid value for configuration option 'nested triggers'."},
      {"EXEC sp_configure 'remote', 1", 15123,
       "The configuration option 'remote' does not exist, or it may be an advanced option."},
      {"EXEC sp_configure 'user options', 'x'", 245,
       "Conversion failed when converting the varchar value 'x' to data type int."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink failed = Run(c.batch);
    ASSERT_EQ(failed.FirstError(), c.error);
    if (c.error != 245) {
      EXPECT_EQ(failed.Errors()[0]->text, c.text);
    }
  }
  EXPECT_EQ(Query("EXEC sp_configure 'nested triggers'").rows[0][3], Value(0));
}

TEST_F(HelpProceduresTest, ConfigureAndReconfigureNeedServerAdministrators) {
  Ok("EXEC sp_addlogin 'clerk', 'pw'");
  auto clerk = As("clerk", "pw");
  EXPECT_EQ(Query(*clerk, "EXEC sp_configure 'user options'").rows.size(), 1u);
  EXPECT_EQ(Run(*clerk, "EXEC sp_configure 'user options', 1").FirstError(), 15247);
  EXPECT_EQ(Run(*clerk, "RECONFIGURE").FirstError(), 15247);
}

// --- sp_helprotect and sp_monitor --------------------------------------------------------

// Owner, Object, Grantee, Grantor, ProtectType, Action, Column; statement permissions show
// "." for owner, object and column.
TEST_F(HelpProceduresTest, HelpProtectListsPermissions) {
  Ok("EXEC sp_addlogin 'clerk', 'pw'");
  Ok(*shop_, "EXEC sp_grantdbaccess 'clerk', 'clerk'");
  Ok(*shop_, "GRANT SELECT, INSERT ON Orders TO clerk");
  Ok(*shop_, "DENY DELETE ON Orders TO public");
  Ok(*shop_, "GRANT EXECUTE ON OrdersOf TO clerk");
  Ok(*shop_, "GRANT CREATE TABLE TO clerk");
  RowSet all = Query(*shop_, "EXEC sp_helprotect");
  EXPECT_EQ(ColumnNames(all), (std::vector<std::string>{"Owner", "Object", "Grantee", "Grantor",
                                                        "ProtectType", "Action", "Column"}));
  using Rows = std::vector<std::vector<Value>>;
  EXPECT_EQ(all.rows, (Rows{{Value("."), Value("."), Value("clerk"), Value("dbo"),
                             Value("Grant     "), Value("Create Table"), Value(".")},
                            {Value("dbo"), Value("Orders"), Value("clerk"), Value("dbo"),
                             Value("Grant     "), Value("Insert"), Value(".")},
                            {Value("dbo"), Value("Orders"), Value("clerk"), Value("dbo"),
                             Value("Grant     "), Value("Select"), Value("(All+New)")},
                            {Value("dbo"), Value("Orders"), Value("public"), Value("dbo"),
                             Value("Deny      "), Value("Delete"), Value(".")},
                            {Value("dbo"), Value("OrdersOf"), Value("clerk"), Value("dbo"),
                             Value("Grant     "), Value("Execute"), Value(".")}}));
  struct Case {
    const char* batch;
    size_t rows;
  };
  const Case cases[] = {
      {"EXEC sp_helprotect 'Orders'", 3},
      {"EXEC sp_helprotect NULL, 'public'", 1},
      {"EXEC sp_helprotect @permissionarea = 's'", 1},
      {"EXEC sp_helprotect @permissionarea = 'o'", 4},
      {"EXEC sp_helprotect 'Create Table'", 1},
      {"EXEC sp_helprotect NULL, NULL, 'dbo'", 5},
  };
  for (const Case& c : cases) EXPECT_EQ(Query(*shop_, c.batch).rows.size(), c.rows) << c.batch;
  EXPECT_EQ(Failure(*shop_, "EXEC sp_helprotect 'Plain'"),
            "15330: There are no matching rows on which to report.");
  EXPECT_EQ(RunShop("EXEC sp_helprotect NULL, NULL, NULL, 'x'").FirstError(), 15300);
}

// last_run, current_run and seconds, then the activity counters as "total(since last)".
TEST_F(HelpProceduresTest, MonitorReportsSinceTheLastRun) {
  CollectingSink sink = Run("EXEC sp_monitor");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_EQ(sink.sets.size(), 4u);
  EXPECT_EQ(ColumnNames(sink.sets[0]),
            (std::vector<std::string>{"last_run", "current_run", "seconds"}));
  EXPECT_EQ(ColumnNames(sink.sets[1]), (std::vector<std::string>{"cpu_busy", "io_busy", "idle"}));
  EXPECT_EQ(ColumnNames(sink.sets[2]),
            (std::vector<std::string>{"packets_received", "packets_sent", "packet_errors"}));
  EXPECT_EQ(ColumnNames(sink.sets[3]),
            (std::vector<std::string>{"total_read", "total_write", "total_errors", "connections"}));
  // This call's current run is the next call's last run.
  CollectingSink again = Run("EXEC sp_monitor");
  ASSERT_EQ(again.sets.size(), 4u);
  EXPECT_EQ(again.sets[0].rows[0][0], sink.sets[0].rows[0][1]);
  EXPECT_LE(again.sets[0].rows[0][0].ToText(), again.sets[0].rows[0][1].ToText());
  EXPECT_GE(again.sets[0].rows[0][2].ToInt().value_or(-1), 0);
  EXPECT_EQ(again.sets[1].rows[0][0].ToText().substr(0, 7), "0(0)-0%");

  Ok("EXEC sp_addlogin 'clerk', 'pw'");
  auto clerk = As("clerk", "pw");
  EXPECT_EQ(Run(*clerk, "EXEC sp_monitor").FirstError(), 15247);
}

// --- sp_depends --------------------------------------------------------------------------

// What a view or procedure uses (name, type, updated, selected, column) and what uses an
// object (name, type), each after its printed heading.
TEST_F(HelpProceduresTest, DependsFollowsTheTextOfViewsAndProcedures) {
  Ok(*shop_,
     "CREATE PROCEDURE Bump AS UPDATE [dbo].[Orders] SET total = 0 EXEC OrdersOf N'x', NULL, 0");
  using Rows = std::vector<std::vector<Value>>;
  struct Case {
    const char* object;
    Rows uses;
    Rows users;
  };
  const Case cases[] = {
      {"BigOrders",
       {{Value("dbo.Orders"), Value("user table"), Value("no"), Value("yes"), Value("id")},
        {Value("dbo.Orders"), Value("user table"), Value("no"), Value("yes"), Value("total")}},
       {}},
      {"OrdersOf",
       {{Value("dbo.Orders"), Value("user table"), Value("no"), Value("yes"), Value("customer")}},
       {{Value("dbo.Bump"), Value("stored procedure")}}},
      {"Bump",
       {{Value("dbo.Orders"), Value("user table"), Value("yes"), Value("no"), Value("total")},
        {Value("dbo.OrdersOf"), Value("stored procedure"), Value("no"), Value("yes"), Value()}},
       {}},
      {"Orders",
       {},
       {{Value("dbo.BigOrders"), Value("view")},
        {Value("dbo.OrdersOf"), Value("stored procedure")},
        {Value("dbo.Bump"), Value("stored procedure")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object);
    CollectingSink sink = RunShop(std::string("EXEC sp_depends '") + c.object + "'");
    ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
    size_t set = 0;
    if (!c.uses.empty()) {
      ASSERT_GT(sink.sets.size(), set);
      EXPECT_EQ(ColumnNames(sink.sets[set]),
                (std::vector<std::string>{"name", "type", "updated", "selected", "column"}));
      EXPECT_EQ(sink.sets[set++].rows, c.uses);
    }
    if (!c.users.empty()) {
      ASSERT_GT(sink.sets.size(), set);
      EXPECT_EQ(ColumnNames(sink.sets[set]), (std::vector<std::string>{"name", "type"}));
      Rows users = sink.sets[set++].rows;
      std::sort(users.begin(), users.end(),
                [](const auto& a, const auto& b) { return a[0].ToText() < b[0].ToText(); });
      Rows expected = c.users;
      std::sort(expected.begin(), expected.end(),
                [](const auto& a, const auto& b) { return a[0].ToText() < b[0].ToText(); });
      EXPECT_EQ(users, expected);
    }
    EXPECT_EQ(sink.sets.size(), set);
  }
  CollectingSink none = RunShop("EXEC sp_depends Plain");
  EXPECT_TRUE(none.sets.empty());
  EXPECT_EQ(MessageText(none, 15461),
            "Object does not reference any object, and no objects reference it.");
  EXPECT_EQ(RunShop("EXEC sp_depends 'No]such'").FirstError(), 15009);
}

}  // namespace
}  // namespace sandbox::testing
