// The system tables administrators' scripts read (systypes, syscolumns, sysobjects, syscomments,
// sysforeignkeys, sysreferences, sysconstraints, sysfilegroups) and the procedures that loop
// over tables and databases (sp_MSforeachtable, sp_MSforeachdb). Each case names the SQL Server
// 2000 documentation or behaviour it follows.
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

// The PRINT texts and errors of a batch, joined by ";" ("156!" for error 156).
std::string Messages(const CollectingSink& sink) {
  std::string out;
  for (const ServerMessage& m : sink.messages)
    out += (out.empty() ? "" : ";") + (m.IsError() ? std::to_string(m.number) + "!" : m.text);
  return out;
}

class SystemTablesTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE DATABASE Shop");
    shop_ = Connect("Shop");
    // A table whose name has a quote, a semicolon and a closing bracket.
    Ok(*shop_,
       "CREATE TABLE [Or'ders; ]]x] (id INT IDENTITY CONSTRAINT PK_O PRIMARY KEY, name "
       "NVARCHAR(40) NOT NULL, code CHAR(5), price DECIMAL(12, 2), note VARCHAR(20), "
       "placed DATETIME, big BIGINT)");
    Ok(*shop_,
       "CREATE TABLE Lines (n INT NOT NULL, oid INT NOT NULL CONSTRAINT FK_Lines REFERENCES "
       "[Or'ders; ]]x] (id), qty INT CONSTRAINT CK_qty CHECK (qty > 0), CONSTRAINT UQ_Lines "
       "UNIQUE (n))");
    Ok(*shop_, "INSERT [Or'ders; ]]x] (name) VALUES (N'a') INSERT Lines VALUES (1, 1, 2)");
  }

  std::unique_ptr<Session> shop_;
};

TEST_F(SystemTablesTest, CatalogueTablesAnswerAdministratorsQueries) {
  enum Out { kRows, kMessages };
  const struct {
    const char* batch;
    Out out;
    const char* expected;  // kRows: the last row set as "a|b;c|d"; kMessages: see Messages()
  } cases[] = {
      // syscolumns joined to systypes on xusertype; lengths in bytes (nvarchar two a character),
      // decimal(12, 2) takes 9 bytes with xprec 12 and xscale 2
      {"SELECT c.name, t.name, c.length, c.xprec, c.xscale, c.prec, c.scale, c.isnullable FROM "
       "syscolumns c JOIN systypes t ON t.xusertype = c.xusertype WHERE c.id = "
       "OBJECT_ID('[Or''ders; ]]x]') ORDER BY c.colorder",
       kRows,
       "id|int|4|10|0|10|0|0;name|nvarchar|80|0|0|40|NULL|0;code|char|5|0|0|5|NULL|1;"
       "price|decimal|9|12|2|12|2|1;note|varchar|20|0|0|20|NULL|1;placed|datetime|8|23|3|23|3|1;"
       "big|bigint|8|19|0|19|0|1"},
      // the usual three-way join filtered on xtype; text equal under the collation ('U ' and
      // 'U', 'ab' and 'AB ') is equal in a join too
      {"SELECT COUNT(*) FROM sysobjects o JOIN syscolumns c ON c.id = o.id JOIN systypes t ON "
       "t.xusertype = c.xusertype WHERE o.xtype = 'U'",
       kRows, "10"},
      {"SELECT COUNT(*) FROM sysobjects o JOIN Lines l ON 1 = 1 WHERE o.name = 'LINES  '", kRows,
       "1"},
      // systypes: the xtype numbers of SQL Server 2000 ("int 56, nvarchar 231, ...")
      {"SELECT name, xtype, variable FROM systypes WHERE name IN ('int', 'nvarchar', 'varchar', "
       "'datetime', 'decimal', 'image', 'sysname') ORDER BY xtype, xusertype",
       kRows,
       "image|34|False;int|56|False;datetime|61|False;decimal|106|False;varchar|167|True;"
       "nvarchar|231|True;sysname|231|True"},
      // the 26 base types of SQL Server 2000, sysname and timestamp not nullable by default
      {"SELECT COUNT(*), SUM(CASE WHEN allownulls = 0 THEN 1 ELSE 0 END) FROM systypes", kRows,
       "26|2"},
      // old-style type and usertype: timestamp is xusertype 80, stored as binary (45)
      {"SELECT xtype, xusertype, type, usertype, length FROM systypes WHERE name = 'timestamp'",
       kRows, "189|80|45|80|8"},
      // character types carry the database's collation, others none
      {"SELECT COUNT(*) FROM systypes WHERE collation = DATABASEPROPERTYEX(DB_NAME(), "
       "'Collation')",
       kRows, "7"},
      // syscolumns.status: 0x08 nullable, 0x80 identity; colstat 1 for identity
      {"SELECT name, status, colstat, iscomputed FROM syscolumns WHERE id = OBJECT_ID('Lines') "
       "OR name = 'id' ORDER BY id, colid",
       kRows, "id|128|1|0;n|0|0|0;oid|0|0|0;qty|8|0|0"},
      // sysobjects: a user table is sysstat & 0xf = 3 with userstat 1; no triggers; refdate
      {"SELECT RTRIM(xtype), sysstat & 15, userstat, deltrig + instrig + updtrig, info, "
       "CASE WHEN refdate = crdate THEN 1 ELSE 0 END FROM sysobjects WHERE name IN "
       "('Or''ders; ]x', 'syscolumns', 'sysconstraints') ORDER BY id",
       kRows, "S|1|0|0|0|1;V|2|0|0|0|1;U|3|1|0|0|1"},
      // sysforeignkeys: one row a column pair, ids as OBJECT_ID gives them
      {"SELECT OBJECT_NAME(constid), OBJECT_NAME(fkeyid), OBJECT_NAME(rkeyid), fkey, rkey, "
       "keyno FROM sysforeignkeys",
       kRows, "FK_Lines|Lines|Or'ders; ]x|2|1|1"},
      // sysreferences: the referenced key's index; unused key columns are 0
      {"SELECT OBJECT_NAME(r.constid), r.keycnt, r.fkey1, r.rkey1, r.fkey2, r.rkey16 FROM "
       "sysreferences r JOIN sysindexes i ON i.id = r.rkeyid AND i.indid = r.rkeyindid WHERE "
       "i.name = 'PK_O'",
       kRows, "FK_Lines|1|2|1|0|0"},
      // sysconstraints: 3 FOREIGN KEY and 4 CHECK on a column (+16), 2 UNIQUE of the table (+32);
      // constid is the constraint's sysobjects id
      {"SELECT o.name, c.colid, c.status FROM sysconstraints c JOIN sysobjects o ON o.id = "
       "c.constid WHERE c.id = OBJECT_ID('Lines') ORDER BY c.status",
       kRows, "FK_Lines|2|19;CK_qty|3|20;UQ_Lines|0|34"},
      {"SELECT o.name, c.status FROM sysconstraints c JOIN sysobjects o ON o.id = c.constid "
       "WHERE c.id = OBJECT_ID('[Or''ders; ]]x]')",
       kRows, "PK_O|33"},
      // syscomments: the text of a view as written; a check's condition
      {"CREATE VIEW dbo.[V;'1] AS SELECT n FROM Lines", kRows, ""},
      {"SELECT colid, number, encrypted, text FROM syscomments WHERE id = OBJECT_ID('[V;''1]')",
       kRows, "1|0|False|CREATE VIEW dbo.[V;'1] AS SELECT n FROM Lines"},
      {"SELECT COUNT(*) FROM syscomments WHERE id = OBJECT_ID('CK_qty')", kRows, "1"},
      // syscomments: a trigger's text, number 0
      {"CREATE TRIGGER [T;'1] ON Lines FOR DELETE AS PRINT 1", kRows, ""},
      {"SELECT colid, number, text FROM syscomments WHERE id = OBJECT_ID('[T;''1]') "
       "DROP TRIGGER [T;'1]",
       kRows, "1|0|CREATE TRIGGER [T;'1] ON Lines FOR DELETE AS PRINT 1"},
      // sysfilegroups: every file is in PRIMARY, the default filegroup
      {"SELECT g.groupname, g.status, COUNT(*) FROM sysfiles f JOIN sysfilegroups g ON "
       "g.groupid = f.groupid GROUP BY g.groupname, g.status",
       kRows, "PRIMARY|16|1"},
      // sysservers (master only): the local server is srvid 0, named as @@SERVERNAME
      {"SELECT srvid, CASE WHEN srvname = @@SERVERNAME THEN 1 ELSE 0 END, rpc, rpcout, "
       "dataaccess FROM master.dbo.sysservers",
       kRows, "0|1|True|True|False"},
      {"SELECT srvid FROM sysservers", kMessages, "208!"},
      // sp_MSforeachtable: ? is [owner].[table], in id order
      {"EXEC sp_MSforeachtable 'PRINT ''?'''", kMessages, "[dbo].[Or'ders; ]]x];[dbo].[Lines]"},
      {"CREATE TABLE #n (t SYSNAME, c INT) EXEC sp_MSforeachtable 'INSERT #n SELECT ''?'', "
       "COUNT(*) FROM ?' SELECT t, c FROM #n ORDER BY t",
       kRows, "[dbo].[Lines]|1;[dbo].[Or'ders; ]]x]|1"},
      // @whereand on sysobjects o, @replacechar, @command2, @precommand and @postcommand
      {"EXEC sp_MSforeachtable @command1 = 'PRINT ''1 #''', @replacechar = '#', @command2 = "
       "'PRINT ''2 #''', @precommand = 'PRINT ''pre''', @postcommand = 'PRINT ''post''', "
       "@whereand = 'AND o.name LIKE ''L%'''",
       kMessages, "pre;1 [dbo].[Lines];2 [dbo].[Lines];post"},
      // @replacechar is nchar(1): of N'ëx' only the ë stands for the table
      {"EXEC sp_MSforeachtable 'PRINT ''\xC3\xABx:\xC3\xAB''', @replacechar = N'\xC3\xABx', "
       "@whereand = 'AND o.name <> ''Lines'''",
       kMessages, "[dbo].[Or'ders; ]]x]x:[dbo].[Or'ders; ]]x]"},
      // a quote in a comment starts no literal: the name in the literal after it still ends
      // nowhere but where it should
      {"EXEC sp_MSforeachtable @command1 = 'PRINT ''a'' -- it''s ?\nPRINT ''?''', @command2 = "
       "'/* it''s ? /* ? */ */ PRINT ''?''', @whereand = 'AND o.name <> ''Lines'''",
       kMessages, "a;[dbo].[Or'ders; ]]x];[dbo].[Or'ders; ]]x]"},
      // a command that does not parse is reported for each table; the others still run
      {"EXEC sp_MSforeachtable @command1 = 'SELECT FROM', @command2 = 'PRINT ''?'''", kMessages,
       "156!;[dbo].[Or'ders; ]]x];156!;[dbo].[Lines]"},
      // @command1 is required
      {"EXEC sp_MSforeachtable @command2 = 'PRINT 1'", kMessages, "201!"},
      {"EXEC sp_MSforeachdb", kMessages, "201!"},
  };
  for (const auto& c : cases) {
    CollectingSink sink = Run(*shop_, c.batch);
    if (c.out == kMessages) {
      EXPECT_EQ(Messages(sink), c.expected) << c.batch;
      continue;
    }
    ASSERT_EQ(sink.FirstError(), 0) << c.batch << "\n" << sink.ErrorText();
    EXPECT_EQ(sink.sets.empty() ? "" : RowsText(sink.sets.back()), c.expected) << c.batch;
  }
}

// syscomments keeps a text in pieces of 4000 characters, colid 1, 2, ...; a procedure is
// number 1 of its group.
TEST_F(SystemTablesTest, SyscommentsSplitsLongTextAt4000Characters) {
  std::string body = "CREATE PROCEDURE [Long'; p] AS SELECT N'";
  for (int i = 0; body.size() < 9100; ++i) body += "abc\xC3\xAB-" + std::to_string(i) + ' ';
  body += "'";
  Ok(*shop_, body);
  RowSet pieces = Query(*shop_,
                        "SELECT colid, number, text FROM syscomments WHERE id = "
                        "OBJECT_ID('[Long''; p]') ORDER BY colid");
  std::string joined;
  for (size_t i = 0; i < pieces.rows.size(); ++i) {
    EXPECT_EQ(pieces.rows[i][0], common::Value(static_cast<int>(i + 1)));
    EXPECT_EQ(pieces.rows[i][1], common::Value(1));
    joined += pieces.rows[i][2].ToText();
  }
  EXPECT_EQ(joined, body);
  ASSERT_EQ(pieces.rows.size(), 3u);
  // Pieces are counted in characters: ë is one, though two bytes here.
  EXPECT_EQ(Query(*shop_,
                  "SELECT LEN(text) FROM syscomments WHERE id = OBJECT_ID('[Long''; p]') AND "
                  "colid = 2")
                .rows[0][0],
            common::Value(4000));
}

// sp_MSforeachdb: ? is each database's name; a name with a quote and brackets stays one name
// inside a literal or a bracketed name; USE in a command holds only for that command.
TEST_F(SystemTablesTest, ForEachDatabaseNamesEveryDatabase) {
  Ok("CREATE DATABASE [Zo\xC3\xAB's; [db]]]");
  RowSet all = Query(*shop_, "SELECT name FROM master.dbo.sysdatabases ORDER BY dbid");
  std::string names;
  for (const auto& row : all.rows) names += (names.empty() ? "" : ";") + row[0].ToText();
  EXPECT_NE(names.find("Zo\xC3\xAB's; [db]"), std::string::npos);

  CollectingSink printed = Run(*shop_, "EXEC sp_MSforeachdb 'PRINT N''?'''");
  EXPECT_EQ(Messages(printed), names);

  CollectingSink used =
      Run(*shop_, "EXEC sp_MSforeachdb 'USE [?] SELECT DB_NAME()' SELECT DB_NAME()");
  ASSERT_EQ(used.FirstError(), 0) << used.ErrorText();
  std::string seen;
  for (size_t i = 0; i + 1 < used.sets.size(); ++i)
    seen += (seen.empty() ? "" : ";") + RowsText(used.sets[i]);
  EXPECT_EQ(seen, names);
  ASSERT_FALSE(used.sets.empty());
  EXPECT_EQ(RowsText(used.sets.back()), "Shop");
}

}  // namespace
}  // namespace sandbox::testing
