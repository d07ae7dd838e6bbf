// CHECK and FOREIGN KEY constraints, and identity values that a rollback does not give back,
// as SQL Server 2000 keeps them. Each case: setup that must succeed, a batch whose first error
// (0: none) and its text are compared, then a query whose single value is compared.
#include <regex>
#include <string>

#include "sandbox_fixture.h"

namespace sandbox::testing {
namespace {

struct Case {
  const char* setup;
  const char* batch;
  int error;
  const char* text;  // the first error's text; "" when not compared
  const char* check;
  const char* expected;
};

const Case kCases[] = {
    // CREATE TABLE, example of a column CHECK constraint: the statement is undone, the batch
    // goes on.
    {"CREATE TABLE t1 (id int IDENTITY PRIMARY KEY, v int CONSTRAINT ck_v CHECK (v > 0))",
     "INSERT t1 (v) VALUES (-1) INSERT t1 (v) VALUES (7)", 547,
     "INSERT statement conflicted with COLUMN CHECK constraint 'ck_v'. The conflict occurred in "
     "database 'master', table 't1', column 'v'.",
     "SELECT COUNT(*) FROM t1", "1"},
    // CHECK: a condition that is UNKNOWN (NULL) passes.
    {"CREATE TABLE t2 (v int CHECK (v > 0))", "INSERT t2 VALUES (NULL)", 0, "",
     "SELECT COUNT(*) FROM t2", "1"},
    // Table-level CHECK comparing two columns; one bad row of several undoes all of them.
    {"CREATE TABLE t3 (lo int, hi int, CONSTRAINT ck_range CHECK (lo <= hi))",
     "INSERT t3 SELECT 1, 2 UNION ALL SELECT 5, 1", 547,
     "INSERT statement conflicted with TABLE CHECK constraint 'ck_range'. The conflict occurred "
     "in database 'master', table 't3'.",
     "SELECT COUNT(*) FROM t3", "0"},
    // UPDATE is checked as INSERT is.
    {"CREATE TABLE t4 (lo int, hi int, CONSTRAINT ck4 CHECK (lo <= hi)) INSERT t4 VALUES (1, 2)",
     "UPDATE t4 SET lo = 9", 547,
     "UPDATE statement conflicted with TABLE CHECK constraint 'ck4'. The conflict occurred in "
     "database 'master', table 't4'.",
     "SELECT lo FROM t4", "1"},
    // ALTER TABLE, WITH NOCHECK: rows already there are not tested, new ones are.
    {"CREATE TABLE t5 (v int) INSERT t5 VALUES (-5)",
     "ALTER TABLE t5 WITH NOCHECK ADD CONSTRAINT ck5 CHECK (v > 0) INSERT t5 VALUES (-6)", 547, "",
     "SELECT COUNT(*) FROM t5", "1"},
    // ALTER TABLE ... ADD CONSTRAINT checks existing rows by default, and is not added.
    {"CREATE TABLE t6 (v int) INSERT t6 VALUES (-5)",
     "ALTER TABLE t6 ADD CONSTRAINT ck6 CHECK (v > 0)", 547,
     "ALTER TABLE statement conflicted with TABLE CHECK constraint 'ck6'. The conflict occurred "
     "in database 'master', table 't6'.",
     "SELECT COUNT(*) FROM sysobjects WHERE name = 'ck6'", "0"},
    // ALTER TABLE, NOCHECK CONSTRAINT ALL switches the check off, CHECK CONSTRAINT on again.
    {"CREATE TABLE t7 (v int CONSTRAINT ck7 CHECK (v > 0))",
     "ALTER TABLE t7 NOCHECK CONSTRAINT ALL INSERT t7 VALUES (-1) "
     "ALTER TABLE t7 CHECK CONSTRAINT ck7 INSERT t7 VALUES (-2)",
     547, "", "SELECT COUNT(*) FROM t7", "1"},
    // ALTER TABLE ... DROP CONSTRAINT removes the check.
    {"CREATE TABLE t8 (v int CONSTRAINT ck8 CHECK (v > 0))",
     "ALTER TABLE t8 DROP CONSTRAINT ck8 INSERT t8 VALUES (-1)", 0, "",
     "SELECT COUNT(*) FROM sysobjects WHERE xtype = 'C' AND name = 'ck8'", "0"},
    // NOCHECK of a name the table does not have.
    {"CREATE TABLE t9 (v int)", "ALTER TABLE t9 NOCHECK CONSTRAINT nothere", 4917,
     "Constraint 'nothere' does not exist.", "SELECT 1", "1"},
    // REFERENCES on a column: the child's value must exist in the parent; NULL passes.
    {"CREATE TABLE p1 (id int PRIMARY KEY) INSERT p1 VALUES (1) "
     "CREATE TABLE c1 (pid int CONSTRAINT fk_c1 REFERENCES p1(id))",
     "INSERT c1 VALUES (99) INSERT c1 VALUES (NULL) INSERT c1 VALUES (1)", 547,
     "INSERT statement conflicted with COLUMN FOREIGN KEY constraint 'fk_c1'. The conflict "
     "occurred in database 'master', table 'p1', column 'id'.",
     "SELECT COUNT(*) FROM c1", "2"},
    // DELETE of a referenced parent row is refused (NO ACTION).
    {"CREATE TABLE p2 (id int PRIMARY KEY) INSERT p2 VALUES (1) INSERT p2 VALUES (2) "
     "CREATE TABLE c2 (pid int CONSTRAINT fk_c2 REFERENCES p2) INSERT c2 VALUES (1)",
     "DELETE p2 DELETE p2 WHERE id = 2", 547,
     "DELETE statement conflicted with COLUMN REFERENCE constraint 'fk_c2'. The conflict "
     "occurred in database 'master', table 'c2', column 'pid'.",
     "SELECT COUNT(*) FROM p2", "1"},
    // UPDATE of a referenced key, and of the child to a missing key.
    {"CREATE TABLE p3 (id int PRIMARY KEY) INSERT p3 VALUES (1) "
     "CREATE TABLE c3 (pid int, CONSTRAINT fk_c3 FOREIGN KEY (pid) REFERENCES p3 (id)) "
     "INSERT c3 VALUES (1)",
     "UPDATE p3 SET id = 2 UPDATE c3 SET pid = 5", 547,
     "UPDATE statement conflicted with TABLE REFERENCE constraint 'fk_c3'. The conflict occurred "
     "in database 'master', table 'c3', column 'pid'.",
     "SELECT MAX(id) + MAX(pid) FROM p3, c3", "2"},
    // ON DELETE CASCADE (8.00) takes the children along, over two levels.
    {"CREATE TABLE p4 (id int PRIMARY KEY) INSERT p4 VALUES (1) INSERT p4 VALUES (2) "
     "CREATE TABLE c4 (id int PRIMARY KEY, pid int REFERENCES p4 ON DELETE CASCADE) "
     "INSERT c4 VALUES (10, 1) INSERT c4 VALUES (20, 2) "
     "CREATE TABLE g4 (cid int REFERENCES c4 ON DELETE CASCADE) INSERT g4 VALUES (10)",
     "DELETE p4 WHERE id = 1", 0, "", "SELECT COUNT(*) * 10 + (SELECT COUNT(*) FROM g4) FROM c4",
     "10"},
    // A composite table-level FOREIGN KEY: the conflict names no column.
    {"CREATE TABLE p5 (a int NOT NULL, b int NOT NULL, PRIMARY KEY (a, b)) INSERT p5 VALUES (1, 1)"
     " CREATE TABLE c5 (a int, b int, CONSTRAINT fk_c5 FOREIGN KEY (a, b) REFERENCES p5 (a, b))",
     "INSERT c5 VALUES (1, 2)", 547,
     "INSERT statement conflicted with TABLE FOREIGN KEY constraint 'fk_c5'. The conflict "
     "occurred in database 'master', table 'p5'.",
     "SELECT COUNT(*) FROM c5", "0"},
    // The referenced columns must be a PRIMARY KEY or UNIQUE constraint.
    {"CREATE TABLE p6 (id int, v int)",
     "CREATE TABLE c6 (pid int CONSTRAINT fk_c6 REFERENCES p6(v))", 1776,
     "There are no primary or candidate keys in the referenced table 'p6' that match the "
     "referencing column list in the foreign key 'fk_c6'.",
     "SELECT COUNT(*) FROM sysobjects WHERE name IN ('c6', 'fk_c6')", "0"},
    // Referencing and referenced columns of different types.
    {"CREATE TABLE p7 (id int PRIMARY KEY)",
     "CREATE TABLE c7 (pid varchar(10) CONSTRAINT fk_c7 REFERENCES p7(id))", 1778,
     "Column 'p7.id' is not the same data type as referencing column 'c7.pid' in foreign key "
     "'fk_c7'.",
     "SELECT COUNT(*) FROM sysobjects WHERE name = 'c7'", "0"},
    // DROP TABLE of a referenced table is refused until the child goes; TRUNCATE too.
    {"CREATE TABLE p8 (id int PRIMARY KEY) CREATE TABLE c8 (pid int REFERENCES p8)",
     "DROP TABLE p8 TRUNCATE TABLE p8", 3726,
     "Could not drop object 'p8' because it is referenced by a FOREIGN KEY constraint.",
     "DROP TABLE c8 DROP TABLE p8 SELECT COUNT(*) FROM sysobjects WHERE xtype IN ('F', 'U') "
     "AND name IN ('p8', 'c8')",
     "0"},
    // Dropping the primary key a foreign key uses is refused.
    {"CREATE TABLE p9 (id int CONSTRAINT pk_p9 PRIMARY KEY) "
     "CREATE TABLE c9 (pid int CONSTRAINT fk_c9 REFERENCES p9)",
     "ALTER TABLE p9 DROP CONSTRAINT pk_p9", 3725,
     "The constraint 'pk_p9' is being referenced by table 'c9', foreign key constraint 'fk_c9'.",
     "SELECT COUNT(*) FROM sysobjects WHERE name = 'pk_p9'", "1"},
    // Hostile names: quotes, brackets, semicolons and non-ASCII in table, column and
    // constraint, kept as written in the message.
    {"CREATE TABLE [we'ird;]]t] ([ü \"col\"] int CONSTRAINT [ck;'ü]]] CHECK ([ü \"col\"] < 5))",
     "INSERT [we'ird;]]t] VALUES (9)", 547,
     "INSERT statement conflicted with COLUMN CHECK constraint 'ck;'ü]'. The conflict occurred "
     "in database 'master', table 'we'ird;]t', column 'ü \"col\"'.",
     "SELECT COUNT(*) FROM sysobjects WHERE xtype = 'C' AND name = 'ck;''ü]'", "1"},
    // A hostile CHECK text is kept as a condition, not as SQL to run.
    {"CREATE TABLE t10 (s varchar(40) CHECK (s <> 'x''; DROP TABLE t10; --'))",
     "INSERT t10 VALUES ('x''; DROP TABLE t10; --')", 547, "", "SELECT COUNT(*) FROM t10", "0"},
    // Catalogue: sysobjects types, INFORMATION_SCHEMA views.
    {"CREATE TABLE p11 (id int PRIMARY KEY) "
     "CREATE TABLE c11 (pid int CONSTRAINT fk_c11 REFERENCES p11 CONSTRAINT ck_c11 CHECK (pid > "
     "0))",
     "", 0, "",
     "SELECT (SELECT COUNT(*) FROM INFORMATION_SCHEMA.TABLE_CONSTRAINTS WHERE TABLE_NAME = 'c11') "
     "+ 10 * (SELECT COUNT(*) FROM INFORMATION_SCHEMA.REFERENTIAL_CONSTRAINTS "
     "WHERE CONSTRAINT_NAME = 'fk_c11' AND DELETE_RULE = 'NO ACTION') "
     "+ 100 * (SELECT COUNT(*) FROM INFORMATION_SCHEMA.KEY_COLUMN_USAGE "
     "WHERE CONSTRAINT_NAME = 'fk_c11' AND COLUMN_NAME = 'pid') "
     "+ 1000 * (SELECT COUNT(*) FROM sysobjects WHERE parent_obj = OBJECT_ID('c11') "
     "AND xtype IN ('C', 'F'))",
     "2112"},
    // ALTER TABLE DROP COLUMN of a column a constraint uses is refused.
    {"CREATE TABLE t13 (a int, b int CONSTRAINT ck13 CHECK (b > 0))",
     "ALTER TABLE t13 DROP COLUMN b", 5074, "The object 'ck13' is dependent on column 'b'.",
     "SELECT COUNT(*) FROM syscolumns WHERE id = OBJECT_ID('t13')", "2"},
    // sp_rename of a column a constraint uses is refused rather than breaking the constraint.
    {"CREATE TABLE p17 (id int PRIMARY KEY) CREATE TABLE c17 (pid int REFERENCES p17)",
     "EXEC sp_rename 'c17.pid', 'parent', 'COLUMN'", 40000, "",
     "SELECT COUNT(*) FROM syscolumns WHERE id = OBJECT_ID('c17') AND name = 'pid'", "1"},
    // TRUNCATE TABLE of a referenced table is refused.
    {"CREATE TABLE p14 (id int PRIMARY KEY) CREATE TABLE c14 (pid int REFERENCES p14)",
     "TRUNCATE TABLE p14", 4712,
     "Cannot truncate table 'p14' because it is being referenced by a FOREIGN KEY constraint.",
     "SELECT 1", "1"},
    // DBCC CHECKIDENT, RESEED with a value: the next row follows it.
    {"CREATE TABLE t15 (id int IDENTITY, v int) INSERT t15 (v) VALUES (1)",
     "DBCC CHECKIDENT ('t15', RESEED, 100) INSERT t15 (v) VALUES (2) DBCC CHECKIDENT ('p14')", 7997,
     "'p14' does not contain an identity column.", "SELECT MAX(id) FROM t15", "101"},
    // #tables keep no constraints in the sandbox: refused, not left unchecked.
    {"", "CREATE TABLE #t16 (v int CHECK (v > 0))", 40000, "",
     "SELECT CASE WHEN OBJECT_ID('tempdb..#t16') IS NULL THEN 'gone' ELSE 'kept' END", "gone"},
    // Cascading referential integrity, ON UPDATE CASCADE: a changed key is carried to the
    // referencing rows, level after level.
    {"CREATE TABLE pu1 (id int PRIMARY KEY) CREATE TABLE cu1 (pid int PRIMARY KEY REFERENCES pu1 "
     "ON UPDATE CASCADE) CREATE TABLE gu1 (cid int REFERENCES cu1 ON UPDATE CASCADE) "
     "INSERT pu1 VALUES (1) INSERT cu1 VALUES (1) INSERT gu1 VALUES (1) INSERT gu1 VALUES (NULL)",
     "UPDATE pu1 SET id = 5", 0, "", "SELECT SUM(cid) FROM gu1 WHERE cid IN (SELECT pid FROM cu1)",
     "5"},
    // Several keys changed by one statement: each referencing row follows its own row's key; a
    // two-column key with hostile names.
    {"CREATE TABLE [p;'u2] ([k]]1] int, [k\xC3\x9F] int, PRIMARY KEY ([k]]1], [k\xC3\x9F])) "
     "CREATE TABLE cu2 (a int, b int, FOREIGN KEY (a, b) REFERENCES [p;'u2] ON UPDATE CASCADE) "
     "INSERT [p;'u2] VALUES (1, 0) INSERT [p;'u2] VALUES (2, 0) INSERT cu2 VALUES (1, 0) "
     "INSERT cu2 VALUES (2, 0) INSERT cu2 VALUES (2, 0)",
     "UPDATE [p;'u2] SET [k]]1] = [k]]1] * 10", 0, "", "SELECT SUM(a) FROM cu2", "50"},
    // A key referenced by another foreign key without CASCADE still fails the change (547), and
    // the cascade done for the first is undone with it.
    {"CREATE TABLE pu3 (id int PRIMARY KEY) CREATE TABLE cu3 (pid int REFERENCES pu3 ON UPDATE "
     "CASCADE) CREATE TABLE du3 (pid int CONSTRAINT fk_du3 REFERENCES pu3) INSERT pu3 VALUES (1) "
     "INSERT cu3 VALUES (1) INSERT du3 VALUES (1)",
     "UPDATE pu3 SET id = 2", 547,
     "UPDATE statement conflicted with COLUMN REFERENCE constraint 'fk_du3'. The conflict "
     "occurred in database 'master', table 'du3', column 'pid'.",
     "SELECT pid FROM cu3", "1"},
    // 1785: a cascade that would make a second path to a table (ON DELETE and ON UPDATE alike)...
    {"CREATE TABLE pu4 (id int PRIMARY KEY) CREATE TABLE cu4 (a int REFERENCES pu4 ON DELETE "
     "CASCADE, b int)",
     "ALTER TABLE cu4 ADD CONSTRAINT fk_b4 FOREIGN KEY (b) REFERENCES pu4 ON UPDATE CASCADE", 1785,
     "Introducing FOREIGN KEY constraint 'fk_b4' on table 'cu4' may cause cycles or multiple "
     "cascade paths. Specify ON DELETE NO ACTION or ON UPDATE NO ACTION, or modify other FOREIGN "
     "KEY constraints.",
     "SELECT COUNT(*) FROM sysobjects WHERE name = 'fk_b4'", "0"},
    // ... or a cycle, through another table or to the table itself; without CASCADE it is made.
    {"CREATE TABLE pu5 (id int PRIMARY KEY, c int) CREATE TABLE cu5 (id int PRIMARY KEY, p int "
     "REFERENCES pu5 ON UPDATE CASCADE)",
     "ALTER TABLE pu5 ADD CONSTRAINT fk_cu5 FOREIGN KEY (c) REFERENCES cu5 ON UPDATE CASCADE "
     "ALTER TABLE pu5 ADD CONSTRAINT fk_su5 FOREIGN KEY (c) REFERENCES pu5 ON DELETE CASCADE "
     "ALTER TABLE pu5 ADD CONSTRAINT fk_nu5 FOREIGN KEY (c) REFERENCES cu5",
     1785, "", "SELECT COUNT(*) FROM sysobjects WHERE name LIKE 'fk[_]_u5'", "1"},
    // DECLARE @local_variable, table type: a column CHECK undoes the statement, the batch goes on.
    {"CREATE TABLE tv1 (n int)",
     "DECLARE @t TABLE (a int CHECK (a > 0)) INSERT @t VALUES (1) INSERT @t VALUES (-1) "
     "INSERT @t VALUES (2) INSERT tv1 SELECT COUNT(*) FROM @t",
     547, "", "SELECT n FROM tv1", "2"},
    // A table CHECK over hostile column names, on INSERT ... SELECT and on UPDATE.
    {"CREATE TABLE tv2 (n int)",
     "DECLARE @t TABLE ([lo;'] int, [gr\xC3\xB6\xC3\x9F" "e]]] int, CHECK ([lo;'] <= "
     "[gr\xC3\xB6\xC3\x9F" "e]]])) INSERT @t SELECT 1, 2 UNION ALL SELECT 5, 1 "
     "INSERT @t VALUES (1, 2) UPDATE @t SET [lo;'] = 9 INSERT tv2 SELECT SUM([lo;']) FROM @t",
     547, "", "SELECT n FROM tv2", "1"},
    // A CHECK that is UNKNOWN passes; a table variable's rows outlive ROLLBACK, its checks too.
    {"CREATE TABLE tv3 (n int)",
     "DECLARE @t TABLE (a int CHECK (a > 0)) INSERT @t VALUES (NULL) BEGIN TRAN "
     "INSERT @t VALUES (1) ROLLBACK INSERT @t VALUES (0) INSERT tv3 SELECT COUNT(*) FROM @t",
     547, "", "SELECT n FROM tv3", "2"},
    // Identity values are not given back by ROLLBACK, nor by a failed INSERT.
    {"CREATE TABLE t12 (id int IDENTITY PRIMARY KEY, v int CHECK (v > 0))",
     "BEGIN TRAN INSERT t12 (v) VALUES (5) ROLLBACK INSERT t12 (v) VALUES (-1) "
     "INSERT t12 (v) VALUES (6)",
     547, "",
     "SELECT CAST(MAX(id) AS varchar) + ',' + CAST(IDENT_CURRENT('t12') AS varchar) FROM t12",
     "3,3"},
};

class ConstraintsTest : public SandboxTest {};

TEST_F(ConstraintsTest, DocumentedConstraintCases) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.setup);
    if (*c.setup) Ok(c.setup);
    if (*c.batch) {
      CollectingSink sink = Run(c.batch);
      EXPECT_EQ(sink.FirstError(), c.error) << sink.ErrorText();
      if (*c.text && !sink.Errors().empty()) {
        EXPECT_EQ(sink.Errors().front()->text, c.text);
      }
    }
    EXPECT_EQ(Scalar(c.check).ToText(), c.expected);
  }
}

// A table variable's conflict names it as tempdb holds it: '#' and eight hexadecimal digits.
TEST_F(ConstraintsTest, TableVariableConflictNamesTheVariablesTable) {
  CollectingSink sink = Run("DECLARE @t TABLE (a int CHECK (a > 0)) INSERT @t VALUES (-1)");
  ASSERT_EQ(sink.FirstError(), 547);
  EXPECT_TRUE(std::regex_match(
      sink.Errors().front()->text,
      std::regex("INSERT statement conflicted with COLUMN CHECK constraint "
                 "'CK__#[0-9A-F]{7}__a__[0-9A-F]{8}'\\. The conflict occurred in database "
                 "'tempdb', table '#[0-9A-F]{8}', column 'a'\\.")))
      << sink.Errors().front()->text;
}

}  // namespace
}  // namespace sandbox::testing
