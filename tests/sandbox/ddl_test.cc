// DDL and the catalogue: tables, ALTER TABLE, indexes, views, names, and what survives a new
// session or a reopened server.
#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

TEST_F(SandboxTest, ResultColumnsDescribeTheirBaseTable) {
  Ok("CREATE TABLE dbo.Doc (EntryID INT IDENTITY(1,1) NOT NULL, Title NVARCHAR(255) NULL, "
     "Flag BIT, CONSTRAINT PK_Doc PRIMARY KEY (EntryID))");
  RowSet set = Query("SELECT d.EntryID, Title AS Caption, Flag, 1 + 1 FROM Doc d");
  ASSERT_EQ(set.columns.size(), 4u);
  const Column& id = set.columns[0];
  EXPECT_EQ(id.name, "EntryID");
  EXPECT_EQ(id.type_name, "int");
  EXPECT_EQ(id.base_table, "Doc");
  EXPECT_EQ(id.base_column, "EntryID");
  EXPECT_TRUE(id.key_column);
  EXPECT_TRUE(id.identity);
  EXPECT_FALSE(id.nullable);
  EXPECT_EQ(set.columns[1].name, "Caption");
  EXPECT_EQ(set.columns[1].base_column, "Title");
  EXPECT_EQ(set.columns[1].type_name, "nvarchar");
  EXPECT_EQ(set.columns[1].size, 255);
  EXPECT_FALSE(set.columns[1].key_column);
  EXPECT_EQ(set.columns[3].name, "");
  EXPECT_TRUE(set.columns[3].base_table.empty());
}

TEST_F(SandboxTest, ObjectErrorsUseTheServersNumbers) {
  Ok("CREATE TABLE t (a INT)");
  EXPECT_EQ(Failure("CREATE TABLE T (b INT)"),
            "2714: There is already an object named 'T' in the database.");
  EXPECT_EQ(Failure("SELECT * FROM missing"), "208: Invalid object name 'missing'.");
  EXPECT_EQ(Failure("SELECT nothere FROM t"), "207: Invalid column name 'nothere'.");
  EXPECT_EQ(
      Failure("DROP TABLE missing"),
      "3701: Cannot drop the table 'missing', because it does not exist in the system catalog.");
  EXPECT_EQ(Run("SELECT a FROM t x, t y").FirstError(), 209);
  EXPECT_EQ(Run("SELECT 1 +").FirstError(), 102);
  // A first word that is no statement is the name of a procedure, as on SQL Server.
  EXPECT_EQ(Run("SELEC 1").FirstError(), 2812);
  EXPECT_EQ(Run("CREATE TABLE u (a Long)").FirstError(), 2715);
}

TEST_F(SandboxTest, HostileNamesAreNamesAndNothingMore) {
  Ok("CREATE TABLE [x]]y] ([O'Brien] NVARCHAR(40), [a;b] INT, [select] INT)");
  Ok("INSERT INTO [x]]y] ([O'Brien], [a;b], [select]) VALUES (N'O''Brien; DROP TABLE t --', 1, 2)");
  RowSet set = Query("SELECT [O'Brien], [a;b] FROM [x]]y]");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.columns[0].name, "O'Brien");
  EXPECT_EQ(set.rows[0][0], Value("O'Brien; DROP TABLE t --"));
  Ok("CREATE TABLE \"quoted \"\"name\"\"\" (v INT)");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM [quoted \"name\"]"), Value(0));
  std::string long_name(129, 'n');
  EXPECT_EQ(Failure("CREATE TABLE " + long_name + " (a INT)"),
            "103: The identifier that starts with '" + long_name.substr(0, 128) +
                "' is too long. Maximum length is 128.");
  std::string longest(128, 'm');
  Ok("CREATE TABLE " + longest + " (a INT)");
  // A name that looks like the engine's own tables stays a user table.
  Ok("CREATE TABLE [sandbox$objects] (a INT)");
  Ok("INSERT INTO [sandbox$objects] VALUES (1)");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM [sandbox$objects]"), Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sysobjects WHERE name = 'sandbox$objects'"), Value(1));
}

TEST_F(SandboxTest, AlterTableRebuildsKeepingRows) {
  Ok("CREATE TABLE a (id INT IDENTITY NOT NULL PRIMARY KEY, name VARCHAR(10))");
  Ok("INSERT INTO a (name) VALUES ('one') INSERT INTO a (name) VALUES ('two')");
  Ok("ALTER TABLE a ADD flag BIT NOT NULL DEFAULT 1, note NVARCHAR(20) NULL");
  RowSet set = Query("SELECT id, name, flag, note FROM a ORDER BY id");
  ASSERT_EQ(set.rows.size(), 2u);
  EXPECT_EQ(set.rows[1][2], Value(true));
  EXPECT_TRUE(set.rows[1][3].IsNull());
  Ok("ALTER TABLE a ALTER COLUMN name NVARCHAR(40) NOT NULL");
  EXPECT_EQ(Query("SELECT name FROM a").columns[0].size, 40);
  // Shrinking below the stored text fails and leaves the table as it was.
  Ok("UPDATE a SET name = 'a long name' WHERE id = 1");
  EXPECT_EQ(Run("ALTER TABLE a ALTER COLUMN name VARCHAR(3)").FirstError(), 8152);
  EXPECT_EQ(Query("SELECT name FROM a").columns[0].size, 40);
  Ok("ALTER TABLE a DROP COLUMN note");
  EXPECT_EQ(Run("SELECT note FROM a").FirstError(), 207);
  // Columns that a key uses cannot go.
  EXPECT_EQ(Run("ALTER TABLE a DROP COLUMN id").FirstError(), 5074);
  // The identity carries on after the rebuild.
  Ok("INSERT INTO a (name) VALUES ('three')");
  EXPECT_EQ(Scalar("SELECT id FROM a WHERE name = 'three'"), Value(3));
  EXPECT_EQ(Run("ALTER TABLE a ADD must INT NOT NULL").FirstError(), 4901);
}

TEST_F(SandboxTest, IndexesAreCreatedAndDroppedByTableAndName) {
  Ok("CREATE TABLE ix (a INT, b INT)");
  Ok("CREATE INDEX IDX_ab ON dbo.ix (a, b)");
  EXPECT_EQ(Run("CREATE INDEX IDX_ab ON ix (b)").FirstError(), 1913);
  // Index names belong to their table: another table may use the same.
  Ok("CREATE TABLE other (a INT) CREATE INDEX IDX_ab ON other (a)");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sysindexes WHERE name = 'IDX_ab'"), Value(2));
  Ok("DROP INDEX ix.IDX_ab");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sysindexes WHERE name = 'IDX_ab'"), Value(1));
  EXPECT_EQ(Run("DROP INDEX ix.IDX_ab").FirstError(), 3701);
  Ok("INSERT INTO ix VALUES (1, 1) INSERT INTO ix VALUES (1, 1)");
  CollectingSink sink = Run("CREATE UNIQUE INDEX u ON ix (a)");
  EXPECT_EQ(sink.FirstError(), 1505);
}

TEST_F(SandboxTest, ViewsReadTheirTables) {
  Ok("CREATE TABLE f (id INT, parent INT, name VARCHAR(20))");
  Ok("INSERT INTO f VALUES (1, 0, 'root') INSERT INTO f VALUES (2, 1, 'child')");
  Ok("CREATE VIEW dbo.children AS SELECT f.* FROM f WHERE parent = 1");
  RowSet set = Query("SELECT * FROM children");
  ASSERT_EQ(set.rows.size(), 1u);
  EXPECT_EQ(set.columns.size(), 3u);
  EXPECT_EQ(set.columns[2].type_name, "varchar");
  EXPECT_EQ(set.rows[0][2], Value("child"));
  // A view still works after its table was altered.
  Ok("ALTER TABLE f ALTER COLUMN name VARCHAR(40)");
  EXPECT_EQ(Scalar("SELECT name FROM children"), Value("child"));
  EXPECT_EQ(Run("DROP TABLE children").FirstError(), 3705);
  Ok("DROP VIEW children");
  EXPECT_EQ(Run("SELECT * FROM children").FirstError(), 208);
}

TEST_F(SandboxTest, CatalogueChangesReachOtherSessions) {
  auto other = Connect();
  Ok("CREATE TABLE shared (a INT)");
  Ok(*other, "INSERT INTO shared VALUES (1)");
  Ok("ALTER TABLE shared ADD b INT NULL");
  Ok(*other, "INSERT INTO shared (a, b) VALUES (2, 3)");
  Ok("DROP TABLE shared");
  EXPECT_EQ(Run(*other, "SELECT * FROM shared").FirstError(), 208);
}

TEST_F(SandboxTest, TablesSurviveAReopenedServer) {
  Ok("CREATE DATABASE keep");
  Ok("USE keep CREATE TABLE t (id INT IDENTITY NOT NULL, v NVARCHAR(10) DEFAULT N'x') "
     "INSERT INTO t DEFAULT VALUES EXEC sp_addrole 'readers' GRANT SELECT ON t TO readers");
  session_.reset();
  instance_.reset();
  host_ = OpenHost(root_);
  instance_ = host_->Find("");
  ASSERT_NE(instance_, nullptr);
  session_ = Connect("keep");
  Ok("INSERT INTO t DEFAULT VALUES");
  RowSet set = Query("SELECT id, v FROM t ORDER BY id");
  ASSERT_EQ(set.rows.size(), 2u);
  EXPECT_EQ(set.rows[1][0], Value(2));
  EXPECT_EQ(set.rows[1][1], Value("x"));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sysusers WHERE name = 'readers' AND issqlrole = 1"),
            Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM sysprotects p JOIN sysobjects o ON o.id = p.id "
                   "WHERE o.name = 't' AND p.action = 193"),
            Value(1));
}

TEST_F(SandboxTest, RolledBackDdlLeavesNoTrace) {
  Ok("BEGIN TRANSACTION CREATE TABLE gone (a INT) INSERT INTO gone VALUES (1) ROLLBACK");
  EXPECT_EQ(Run("SELECT * FROM gone").FirstError(), 208);
  Ok("CREATE TABLE gone (b INT)");
  EXPECT_EQ(Query("SELECT * FROM gone").columns[0].name, "b");
}

}  // namespace
}  // namespace sandbox::testing
