// Triggers: AFTER and INSTEAD OF triggers with their inserted and deleted rows, ROLLBACK and errors
// inside them, nesting, enabling and disabling, the catalogue's view of them, and 7.0's refusals.
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

struct TriggerCase {
  const char* script;  // batches separated by lines "GO"
  int error;           // the first error the script raises, 0 for none
  const char* query;   // run afterwards
  const char* rows;    // its rows as "a|b;c|d", NULL as written
};

const TriggerCase kCases[] = {
    // Audit table (CREATE TRIGGER, example of a trigger writing the inserted and deleted rows
    // elsewhere): a hostile table and trigger name, values with quotes and non-ASCII letters.
    {"CREATE TABLE [Ord;'x]] \xC3\xBC] (id int, name nvarchar(20))\n"
     "CREATE TABLE AuditLog (id int, name nvarchar(20), action char(1))\nGO\n"
     "CREATE TRIGGER [tr;'\xC3\xBC] ON [Ord;'x]] \xC3\xBC] FOR INSERT, DELETE AS\n"
     "INSERT AuditLog SELECT id, name, 'I' FROM inserted\n"
     "INSERT AuditLog SELECT id, name, 'D' FROM deleted\nGO\n"
     "INSERT [Ord;'x]] \xC3\xBC] VALUES (1, N'Gr\xC3\xBC\xC3\x9F"
     "e; ''q''')\n"
     "INSERT [Ord;'x]] \xC3\xBC] VALUES (2, N'\xE6\x97\xA5\xE6\x9C\xAC')\n"
     "DELETE [Ord;'x]] \xC3\xBC] WHERE id = 1",
     0, "SELECT id, name, action FROM AuditLog ORDER BY action, id",
     "1|Gr\xC3\xBC\xC3\x9F"
     "e; 'q'|D;1|Gr\xC3\xBC\xC3\x9F"
     "e; 'q'|I;2|\xE6\x97\xA5\xE6\x9C\xAC|I"},
    // A trigger fires once per statement, also when no row changed; @@ROWCOUNT at its start is
    // the statement's count (Books Online: "Multirow Considerations").
    {"CREATE TABLE t (a int)\nCREATE TABLE log (n int)\nGO\n"
     "CREATE TRIGGER tu ON t AFTER UPDATE AS INSERT log VALUES (@@ROWCOUNT)\nGO\n"
     "INSERT t VALUES (1) INSERT t VALUES (2) INSERT t VALUES (3)\n"
     "UPDATE t SET a = a + 1\nUPDATE t SET a = 0 WHERE a > 100",
     0, "SELECT n FROM log ORDER BY n DESC", "3;0"},
    // UPDATE: deleted holds the rows before, inserted after ("Using the inserted and deleted
    // Tables").
    {"CREATE TABLE price (id int, p int)\nCREATE TABLE hist (id int, old int, new int)\nGO\n"
     "CREATE TRIGGER th ON price FOR UPDATE AS INSERT hist SELECT d.id, d.p, i.p\n"
     "FROM deleted d JOIN inserted i ON i.id = d.id\nGO\n"
     "INSERT price VALUES (1, 10) INSERT price VALUES (2, 20)\n"
     "UPDATE price SET p = p * 2 WHERE id = 2",
     0, "SELECT id, old, new FROM hist", "2|20|40"},
    // A "last changed" column kept by the table's own trigger: without RECURSIVE_TRIGGERS the
    // trigger's update does not fire it again (ALTER DATABASE, RECURSIVE_TRIGGERS).
    {"CREATE TABLE doc (id int, body varchar(10), changed int NULL)\nGO\n"
     "CREATE TRIGGER tc ON doc FOR UPDATE AS\n"
     "UPDATE doc SET changed = ISNULL(changed, 0) + 1 WHERE id IN (SELECT id FROM inserted)\nGO\n"
     "INSERT doc (id, body) VALUES (1, 'a')\nUPDATE doc SET body = 'b'\nUPDATE doc SET body = 'c'",
     0, "SELECT body, changed FROM doc", "c|2"},
    // ROLLBACK TRANSACTION in a trigger undoes the statement and ends the batch (3609).
    {"CREATE TABLE acct (bal int)\nGO\n"
     "CREATE TRIGGER tr ON acct FOR INSERT AS\n"
     "IF EXISTS (SELECT * FROM inserted WHERE bal < 0) ROLLBACK TRANSACTION\nGO\n"
     "INSERT acct VALUES (5)\nINSERT acct VALUES (-1)\nINSERT acct VALUES (7)",
     3609, "SELECT bal, @@TRANCOUNT FROM acct", "5|0"},
    // ... and inside a user transaction rolls back the whole transaction.
    {"CREATE TABLE acct (bal int)\nGO\n"
     "CREATE TRIGGER tr ON acct FOR INSERT AS\n"
     "IF EXISTS (SELECT * FROM inserted WHERE bal < 0) ROLLBACK TRANSACTION\nGO\n"
     "BEGIN TRAN INSERT acct VALUES (5) INSERT acct VALUES (-1)",
     3609, "SELECT COUNT(*), @@TRANCOUNT FROM acct", "0|0"},
    // A statement that fires a trigger is a transaction of its own: @@TRANCOUNT is 1 inside.
    {"CREATE TABLE g (a int)\nCREATE TABLE log (n int)\nGO\n"
     "CREATE TRIGGER tg ON g FOR INSERT AS INSERT log VALUES (@@TRANCOUNT)\n"
     "IF @@TRANCOUNT > 0 AND EXISTS (SELECT * FROM inserted WHERE a < 0) ROLLBACK\nGO\n"
     "INSERT g VALUES (1)\nGO\nINSERT g VALUES (-1)",
     3609, "SELECT (SELECT COUNT(*) FROM g), n FROM log", "1|1"},
    // The inserted and deleted tables are read-only (286).
    {"CREATE TABLE ro (a int)\nGO\nCREATE TRIGGER tr ON ro FOR INSERT AS DELETE inserted\nGO\n"
     "INSERT ro VALUES (1)",
     286, "SELECT COUNT(*) FROM ro", "0"},
    // An error in a trigger rolls back the statement that fired it and ends the batch.
    {"CREATE TABLE k (id int PRIMARY KEY)\nCREATE TABLE src (id int)\nGO\n"
     "CREATE TRIGGER ts ON src FOR INSERT AS INSERT k SELECT id FROM inserted\nGO\n"
     "INSERT src VALUES (1)\nINSERT src VALUES (1)\nINSERT src VALUES (2)",
     2627, "SELECT (SELECT COUNT(*) FROM src), (SELECT COUNT(*) FROM k)", "1|1"},
    // RAISERROR in a trigger reports and goes on; the change stays.
    {"CREATE TABLE w (a int)\nGO\n"
     "CREATE TRIGGER tw ON w FOR DELETE AS RAISERROR('deleting %d', 16, 1, @@ROWCOUNT)\nGO\n"
     "INSERT w VALUES (1)\nDELETE w\nINSERT w VALUES (2)",
     50000, "SELECT a FROM w", "2"},
    // Nesting: @@NESTLEVEL counts the trigger; with RECURSIVE_TRIGGERS a trigger that keeps
    // firing itself stops at 32 levels (217) and its statement is rolled back.
    {"CREATE TABLE n (lvl int)\nGO\n"
     "CREATE TRIGGER tn ON n FOR INSERT AS IF @@NESTLEVEL < 5 INSERT n VALUES (@@NESTLEVEL)\nGO\n"
     "INSERT n VALUES (0)",
     0, "SELECT lvl FROM n ORDER BY lvl", "0;1"},
    {"DECLARE @s nvarchar(200) SET @s = N'ALTER DATABASE ' + DB_NAME() + N' SET RECURSIVE_TRIGGERS "
     "ON'\n"
     "EXEC (@s)\nCREATE TABLE n (lvl int)\nGO\n"
     "CREATE TRIGGER tn ON n FOR INSERT AS IF @@NESTLEVEL < 5 INSERT n VALUES (@@NESTLEVEL)\nGO\n"
     "INSERT n VALUES (0)",
     0, "SELECT lvl FROM n ORDER BY lvl", "0;1;2;3;4"},
    {"DECLARE @s nvarchar(200) SET @s = N'ALTER DATABASE ' + DB_NAME() + N' SET RECURSIVE_TRIGGERS "
     "ON'\n"
     "EXEC (@s)\nCREATE TABLE n (lvl int)\nGO\n"
     "CREATE TRIGGER tn ON n FOR INSERT AS INSERT n SELECT lvl + 1 FROM inserted\nGO\n"
     "INSERT n VALUES (0)",
     217, "SELECT COUNT(*) FROM n", "0"},
    // ALTER TABLE {ENABLE | DISABLE} TRIGGER {ALL | name}.
    {"CREATE TABLE e (a int)\nCREATE TABLE log (a int)\nGO\n"
     "CREATE TRIGGER te ON e FOR INSERT AS INSERT log SELECT a FROM inserted\nGO\n"
     "ALTER TABLE e DISABLE TRIGGER ALL\nINSERT e VALUES (1)\n"
     "ALTER TABLE e ENABLE TRIGGER te\nINSERT e VALUES (2)",
     0, "SELECT a, OBJECTPROPERTY(OBJECT_ID('te'), 'ExecIsTriggerDisabled') FROM log", "2|0"},
    {"CREATE TABLE e (a int)\nCREATE TABLE f (a int)\nGO\n"
     "CREATE TRIGGER tf ON f FOR INSERT AS RETURN\nGO\nALTER TABLE e DISABLE TRIGGER tf",
     4920, "SELECT OBJECTPROPERTY(OBJECT_ID('tf'), 'ExecIsTriggerDisabled')", "0"},
    // Catalogue: sysobjects type TR with its table as parent, OBJECTPROPERTY's trigger
    // properties.
    {"CREATE TABLE c (a int)\nGO\nCREATE TRIGGER tc ON c AFTER INSERT, UPDATE AS RETURN", 0,
     "SELECT o.type, OBJECT_NAME(o.parent_obj), OBJECTPROPERTY(o.id, 'IsTrigger'),\n"
     "OBJECTPROPERTY(o.id, 'ExecIsInsertTrigger'), OBJECTPROPERTY(o.id, 'ExecIsDeleteTrigger'),\n"
     "OBJECTPROPERTY(o.id, 'ExecIsAfterTrigger'), OBJECTPROPERTY(o.id, 'ExecIsInsteadOfTrigger'),\n"
     "OBJECTPROPERTY(o.parent_obj, 'TableHasUpdateTrigger'),\n"
     "OBJECTPROPERTY(o.parent_obj, 'TableHasDeleteTrigger') FROM sysobjects o WHERE name = 'tc'",
     "TR|c|1|1|0|1|0|1|0"},
    // DROP TABLE drops its triggers; DROP TRIGGER of a trigger that is gone is 3701.
    {"CREATE TABLE d (a int)\nGO\nCREATE TRIGGER td ON d FOR DELETE AS RETURN\nGO\n"
     "DROP TABLE d\nGO\nDROP TRIGGER td",
     3701, "SELECT COUNT(*) FROM sysobjects WHERE type = 'TR'", "0"},
    // ALTER TRIGGER replaces the body; a second CREATE of the name is 2714.
    {"CREATE TABLE a (x int)\nCREATE TABLE log (s varchar(5))\nGO\n"
     "CREATE TRIGGER ta ON a FOR INSERT AS INSERT log VALUES ('one')\nGO\n"
     "ALTER TRIGGER ta ON a FOR INSERT AS INSERT log VALUES ('two')\nGO\n"
     "INSERT a VALUES (1)\nGO\nCREATE TRIGGER ta ON a FOR INSERT AS RETURN",
     2714, "SELECT s FROM log", "two"},
    // CREATE TRIGGER must be the first statement of its batch (111); the table must exist.
    {"SELECT 1 CREATE TRIGGER x ON y FOR INSERT AS RETURN", 111, "SELECT 1", "1"},
    {"CREATE TRIGGER x ON missing FOR INSERT AS RETURN", 208,
     "SELECT COUNT(*) FROM sysobjects WHERE name = 'x'", "0"},
    // IF UPDATE(column) (CREATE TRIGGER): true for every column of an INSERT, for the SET list
    // of an UPDATE whatever the values, never in a DELETE; OR joins tests.
    {"CREATE TABLE u (a int, b int, c int)\nCREATE TABLE log (s varchar(9))\nGO\n"
     "CREATE TRIGGER tu ON u FOR INSERT, UPDATE, DELETE AS\nIF UPDATE(b) INSERT log VALUES ('b')\n"
     "IF (UPDATE(a) OR UPDATE(c)) INSERT log VALUES ('a|c')\nGO\n"
     "INSERT u (a) VALUES (1)\nUPDATE u SET b = b\nUPDATE u SET c = 1 WHERE a = 99\nDELETE u",
     0, "SELECT s, COUNT(*) FROM log GROUP BY s ORDER BY s", "a|c|2;b|2"},
    // COLUMNS_UPDATED(): bit colid-1 byte by byte, low bit first, one byte per 8 columns
    // (0xFF01 for all nine, 0x0401 for c and i, read as int).
    {"CREATE TABLE w (a int, b int, c int, d int, e int, f int, g int, h int, i int)\n"
     "CREATE TABLE log (m varbinary(4))\nGO\n"
     "CREATE TRIGGER tw ON w FOR INSERT, UPDATE, DELETE AS INSERT log VALUES (COLUMNS_UPDATED())\n"
     "GO\nINSERT w (a) VALUES (1)\nUPDATE w SET i = 2, c = 3\nDELETE w",
     0, "SELECT CAST(m AS int) FROM log", "65281;1025;0"},
    // A hostile column name tested by UPDATE(); a column the table lacks is 207.
    {"CREATE TABLE h (id int, [co;'l]] \xC3\xBC] int)\nCREATE TABLE log (s nvarchar(9))\nGO\n"
     "CREATE TRIGGER th ON h FOR UPDATE AS\n"
     "IF UPDATE([co;'l]] \xC3\xBC]) INSERT log VALUES (N'\xC3\xBC;''')\nGO\n"
     "INSERT h VALUES (1, 1)\nUPDATE h SET id = 2\nUPDATE h SET [co;'l]] \xC3\xBC] = 2",
     0, "SELECT s FROM log", "\xC3\xBC;'"},
    {"CREATE TABLE h (id int)\nGO\nCREATE TRIGGER th ON h FOR INSERT AS IF UPDATE(nope) RETURN\n"
     "GO\nINSERT h VALUES (1)",
     207, "SELECT 1", "1"},
    // Outside a trigger UPDATE() is no function: the parser stops at the keyword (156).
    {"CREATE TABLE o (a int)\nGO\nIF UPDATE(a) PRINT 'x'", 156, "SELECT 1", "1"},
    // INSTEAD OF DELETE keeps the rows and marks them (CREATE TRIGGER, INSTEAD OF): the
    // statement itself writes nothing; deleted holds the rows it would have removed.
    {"CREATE TABLE doc (id int PRIMARY KEY, gone int DEFAULT 0)\nGO\n"
     "CREATE TRIGGER td ON doc INSTEAD OF DELETE AS\n"
     "UPDATE doc SET gone = 1 WHERE id IN (SELECT id FROM deleted)\nGO\n"
     "INSERT doc (id) VALUES (1)\nINSERT doc (id) VALUES (2)\nDELETE doc WHERE id = 2",
     0, "SELECT id, gone FROM doc ORDER BY id", "1|0;2|1"},
    // INSTEAD OF INSERT writing its own table does not call itself again; a hostile name.
    {"CREATE TABLE [i;'n]] \xC3\xBC] (id int PRIMARY KEY, v nvarchar(9))\nGO\n"
     "CREATE TRIGGER [ti;'\xC3\xBC] ON [i;'n]] \xC3\xBC] INSTEAD OF INSERT AS\n"
     "INSERT [i;'n]] \xC3\xBC] SELECT id * 10, UPPER(v) FROM inserted\nGO\n"
     "INSERT [i;'n]] \xC3\xBC] VALUES (1, N'\xC3\xBC;''x')\n"
     "INSERT [i;'n]] \xC3\xBC] VALUES (2, N'b')",
     0, "SELECT id, v FROM [i;'n]] \xC3\xBC] ORDER BY id", "10|\xC3\x9C;'X;20|B"},
    // INSTEAD OF UPDATE sees the old rows in deleted and the new ones in inserted; the table
    // keeps its values, and the AFTER trigger does not fire for the UPDATE that was replaced.
    {"CREATE TABLE p (id int, v int)\nCREATE TABLE log (s varchar(20))\nGO\n"
     "CREATE TRIGGER tiu ON p INSTEAD OF UPDATE AS INSERT log SELECT 'was ' + "
     "CAST(d.v AS varchar) + ' now ' + CAST(i.v AS varchar) FROM deleted d JOIN inserted i ON "
     "i.id = d.id\nGO\nCREATE TRIGGER tai ON p AFTER INSERT, UPDATE AS INSERT log VALUES "
     "('after')\n"
     "GO\nINSERT p VALUES (1, 5)\nUPDATE p SET v = v + 1",
     0, "SELECT (SELECT v FROM p), s FROM log ORDER BY s", "5|after;5|was 5 now 6"},
    // One INSTEAD OF trigger per action and table (2111); ALTER of that trigger is allowed.
    {"CREATE TABLE x (a int)\nGO\nCREATE TRIGGER t1 ON x INSTEAD OF INSERT, UPDATE AS RETURN\n"
     "GO\nALTER TRIGGER t1 ON x INSTEAD OF UPDATE AS RETURN\nGO\n"
     "CREATE TRIGGER t2 ON x INSTEAD OF DELETE, UPDATE AS RETURN",
     2111, "EXEC sp_helptrigger 'x'", "t1|dbo|1|0|0|0|1"},
    // sp_helptrigger (2000's columns) and sp_helptext.
    {"CREATE TABLE h (a int)\nGO\nCREATE TRIGGER th ON h FOR DELETE, UPDATE AS RETURN", 0,
     "EXEC sp_helptrigger 'h'", "th|dbo|1|1|0|1|0"},
    {"CREATE TABLE h (a int)\nGO\nCREATE TRIGGER th ON h FOR DELETE, UPDATE AS RETURN", 0,
     "EXEC sp_helptext 'th'", "CREATE TRIGGER th ON h FOR DELETE, UPDATE AS RETURN"},
};

class TriggersTest : public SandboxTest {
 protected:
  // Runs the batches of a script; the first error any of them raised.
  int RunScript(Session& session, const std::string& script) {
    int first = 0;
    size_t start = 0;
    while (start <= script.size()) {
      size_t end = script.find("\nGO\n", start);
      std::string batch = script.substr(start, end == std::string::npos ? end : end - start);
      CollectingSink sink = Run(session, batch);
      if (!first) first = sink.FirstError();
      if (end == std::string::npos) break;
      start = end + 4;
    }
    return first;
  }

  static std::string Rows(const RowSet& set) {
    std::string out;
    for (const auto& row : set.rows) {
      if (!out.empty()) out += ";";
      for (size_t i = 0; i < row.size(); ++i)
        out += (i ? "|" : "") + (row[i].IsNull() ? std::string("NULL") : row[i].ToText());
    }
    return out;
  }
};

TEST_F(TriggersTest, BehaveAsDocumented) {
  int n = 0;
  for (const TriggerCase& c : kCases) {
    SCOPED_TRACE(c.script);
    const std::string db = "Trig" + std::to_string(++n);
    Ok("CREATE DATABASE " + db);
    auto session = Connect(db);
    EXPECT_EQ(RunScript(*session, c.script), c.error);
    EXPECT_EQ(Rows(Query(*session, c.query)), c.rows);
  }
}

// 7.0 knows FOR only: AFTER and INSTEAD OF are 2000's and stop its parser (170).
TEST_F(TriggersTest, Version70KnowsForOnly) {
  InstanceConfig config;
  config.product_version = "7.00.1063";
  auto instance = host_->Create("Seven", config);
  LoginRequest request;
  request.integrated = true;
  request.os_user = "admin";
  auto session = instance->Connect(request);
  Ok(*session, "CREATE TABLE t (a int)");
  const struct {
    const char* batch;
    int error;
    const char* text;
  } kSeven[] = {
      {"CREATE TRIGGER t1 ON t INSTEAD OF INSERT AS RETURN", 170,
       "Line 1: Incorrect syntax near 'INSTEAD'."},
      {"CREATE TRIGGER t2 ON t\nAFTER INSERT AS RETURN", 170,
       "Line 2: Incorrect syntax near 'AFTER'."},
      {"CREATE TRIGGER t3 ON t FOR INSERT AS RETURN", 0, ""},
  };
  for (const auto& c : kSeven) {
    CollectingSink sink = Run(*session, c.batch);
    EXPECT_EQ(sink.FirstError(), c.error) << c.batch;
    EXPECT_EQ(sink.Errors().empty() ? "" : sink.Errors().front()->text, c.text) << c.batch;
  }
}

}  // namespace
}  // namespace sandbox::testing
