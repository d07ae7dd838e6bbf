// Transact-SQL cursors: declarations in both forms, scroll fetches, @@FETCH_STATUS loops,
// positioned UPDATE and DELETE, LOCAL and GLOBAL scope, cursor variables and the errors, each
// case in a session of its own over the same five rows.
#include <algorithm>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

class CursorsTest : public SandboxTest {
 protected:
  // Runs `first` (when given) and then `batch` on a new session holding #au.
  CollectingSink RunCase(const char* first, const char* batch) {
    session_ = Connect();
    Ok("CREATE TABLE #au (id INT, lname VARCHAR(40), state CHAR(2)) "
       "INSERT #au VALUES (1, 'White', 'CA') INSERT #au VALUES (2, 'Green', 'CA') "
       "INSERT #au VALUES (3, 'Carson', 'CA') INSERT #au VALUES (4, 'Ringer', 'UT') "
       "INSERT #au VALUES (5, 'Smith', 'KS')");
    if (first) Ok(first);
    return Run(batch);
  }
};

// Every row set of a batch: values joined by ",", rows by ";", sets by "|".
std::string Render(const CollectingSink& sink) {
  std::string out;
  for (size_t s = 0; s < sink.sets.size(); ++s) {
    if (s) out += "|";
    for (size_t r = 0; r < sink.sets[s].rows.size(); ++r) {
      if (r) out += ";";
      for (size_t v = 0; v < sink.sets[s].rows[r].size(); ++v) {
        const common::Value& value = sink.sets[s].rows[r][v];
        out += (v ? "," : "") + (value.IsNull() ? std::string("NULL") : value.ToText());
      }
    }
  }
  return out;
}

TEST_F(CursorsTest, ResultsAreThoseOfTheDocumentedExamples) {
  const struct {
    const char* first;  // an earlier batch of the same connection, or null
    const char* batch;
    const char* expected;
  } cases[] = {
      // DECLARE CURSOR, example A: FETCH without INTO returns a one-row result set.
      {nullptr, "DECLARE c CURSOR FOR SELECT lname FROM #au ORDER BY id OPEN c FETCH NEXT FROM c",
       "White"},
      // FETCH, example B: a @@FETCH_STATUS loop fetching INTO variables, -1 at the end.
      {nullptr,
       "DECLARE @n VARCHAR(40), @all VARCHAR(200) SET @all = '' "
       "DECLARE c CURSOR FOR SELECT lname FROM #au WHERE state = 'CA' ORDER BY lname "
       "OPEN c FETCH NEXT FROM c INTO @n WHILE @@FETCH_STATUS = 0 BEGIN "
       "SET @all = @all + @n + ' ' FETCH NEXT FROM c INTO @n END "
       "CLOSE c DEALLOCATE c SELECT @all, @@FETCH_STATUS",
       "Carson Green White ,-1"},
      // FETCH, example C: LAST, PRIOR, ABSOLUTE and RELATIVE on a SCROLL cursor (SQL-92 form).
      {nullptr,
       "DECLARE c SCROLL CURSOR FOR SELECT id FROM #au ORDER BY id OPEN c FETCH LAST FROM c "
       "FETCH PRIOR FROM c FETCH ABSOLUTE 2 FROM c FETCH RELATIVE 3 FROM c "
       "FETCH RELATIVE -2 FROM c FETCH ABSOLUTE -1 FROM c FETCH FIRST FROM c",
       "5|4|2|5|3|5|1"},
      // FETCH: past either end no row comes (an empty set, status -1); PRIOR then finds the last.
      {nullptr,
       "DECLARE @i INT DECLARE c CURSOR STATIC FOR SELECT id FROM #au ORDER BY id OPEN c "
       "FETCH ABSOLUTE 9 FROM c SELECT @@FETCH_STATUS FETCH PRIOR FROM c "
       "FETCH ABSOLUTE 0 FROM c INTO @i SELECT @@FETCH_STATUS",
       "|-1|5|-1"},
      // FETCH: offsets at the ends of bigint's range land outside the rows.
      {nullptr,
       "DECLARE c SCROLL CURSOR FOR SELECT id FROM #au ORDER BY id OPEN c FETCH NEXT FROM c "
       "FETCH RELATIVE 9223372036854775807 FROM c FETCH ABSOLUTE -9223372036854775807 FROM c "
       "FETCH NEXT FROM c",
       "1|||1"},
      // FETCH, ABSOLUTE and RELATIVE take an int variable.
      {nullptr,
       "DECLARE @k INT SET @k = 3 DECLARE c CURSOR KEYSET FOR SELECT lname FROM #au ORDER BY id "
       "OPEN c FETCH ABSOLUTE @k FROM c",
       "Carson"},
      // @@CURSOR_ROWS: 0 before any OPEN, the count for INSENSITIVE, -1 for dynamic cursors.
      {nullptr,
       "SELECT @@CURSOR_ROWS DECLARE s INSENSITIVE CURSOR FOR SELECT id FROM #au OPEN s "
       "SELECT @@CURSOR_ROWS DECLARE d CURSOR DYNAMIC FOR SELECT id FROM #au OPEN d "
       "SELECT @@CURSOR_ROWS",
       "0|5|-1"},
      // CURSOR_STATUS, the example: -1 after declare, 1 after open, -1 after close; -3 gone.
      {nullptr,
       "DECLARE cur CURSOR FOR SELECT * FROM #au SELECT CURSOR_STATUS('global', 'cur') "
       "OPEN cur SELECT CURSOR_STATUS('global', 'cur') CLOSE cur "
       "SELECT CURSOR_STATUS('global', 'cur') DEALLOCATE cur SELECT CURSOR_STATUS('global','cur')",
       "-1|1|-1|-3"},
      // CURSOR_STATUS: 0 for an empty static result (never for a dynamic one).
      {nullptr,
       "DECLARE e CURSOR STATIC FOR SELECT id FROM #au WHERE id > 99 OPEN e "
       "DECLARE d CURSOR FOR SELECT id FROM #au WHERE id > 99 OPEN d "
       "SELECT CURSOR_STATUS('global', 'e'), CURSOR_STATUS('global', 'd')",
       "0,1"},
      // Cursor variables (DECLARE @c CURSOR, SET @c = CURSOR ...): -2 before a cursor is set.
      {nullptr,
       "DECLARE @c CURSOR SELECT CURSOR_STATUS('variable', '@c') "
       "SET @c = CURSOR SCROLL FOR SELECT lname FROM #au ORDER BY id OPEN @c FETCH LAST FROM @c "
       "SELECT CURSOR_STATUS('variable', '@c') DEALLOCATE @c "
       "SELECT CURSOR_STATUS('variable', '@c')",
       "-2|Smith|1|-2"},
      // UPDATE ... WHERE CURRENT OF changes the row fetched last, and only that row.
      {nullptr,
       "DECLARE c CURSOR FOR SELECT id, lname FROM #au ORDER BY id FOR UPDATE OPEN c "
       "FETCH NEXT FROM c FETCH NEXT FROM c UPDATE #au SET lname = 'Black' WHERE CURRENT OF c "
       "CLOSE c SELECT lname FROM #au ORDER BY id",
       "1,White|2,Green|White;Black;Carson;Ringer;Smith"},
      // DELETE ... WHERE CURRENT OF, in both forms of DELETE, in a fetch loop.
      {nullptr,
       "DECLARE c CURSOR FOR SELECT id FROM #au WHERE state = 'CA' ORDER BY id OPEN c "
       "FETCH NEXT FROM c DELETE FROM #au WHERE CURRENT OF c FETCH NEXT FROM c "
       "DELETE #au WHERE CURRENT OF c SELECT id FROM #au ORDER BY id",
       "1|2|3;4;5"},
      // KEYSET: a member row deleted after OPEN fetches with -2 and no values.
      {nullptr,
       "DECLARE k CURSOR KEYSET FOR SELECT id FROM #au ORDER BY id OPEN k "
       "DELETE FROM #au WHERE id = 1 FETCH NEXT FROM k SELECT @@FETCH_STATUS FETCH NEXT FROM k",
       "|-2|2"},
      // KEYSET: a row changed after OPEN (also through the cursor) fetches with its new values.
      {nullptr,
       "DECLARE k CURSOR SCROLL KEYSET FOR SELECT id, lname FROM #au ORDER BY id OPEN k "
       "FETCH FIRST FROM k UPDATE #au SET lname = 'Black' WHERE CURRENT OF k "
       "UPDATE #au SET lname = 'Gray' WHERE id = 2 FETCH RELATIVE 0 FROM k FETCH NEXT FROM k",
       "1,White|1,Black|2,Gray"},
      // DYNAMIC moves past rows deleted since OPEN; STATIC (insensitive) still shows them.
      {nullptr,
       "DECLARE d CURSOR FOR SELECT id FROM #au ORDER BY id "
       "DECLARE s CURSOR STATIC FOR SELECT id FROM #au ORDER BY id OPEN d OPEN s "
       "DELETE FROM #au WHERE id = 1 FETCH NEXT FROM d FETCH NEXT FROM s",
       "2|1"},
      // DYNAMIC: rows added after OPEN are fetched in their place; KEYSET's keys are fixed at
      // OPEN (no added rows), STATIC's copy shows neither the additions nor the changes.
      {nullptr,
       "DECLARE [d]]; '\xC3\xA9] CURSOR DYNAMIC FOR SELECT id FROM #au ORDER BY id "
       "DECLARE k CURSOR KEYSET FOR SELECT id FROM #au ORDER BY id "
       "DECLARE s CURSOR STATIC FOR SELECT lname FROM #au ORDER BY id "
       "OPEN [d]]; '\xC3\xA9] OPEN k OPEN s FETCH NEXT FROM [d]]; '\xC3\xA9] "
       "INSERT #au VALUES (0, 'A', 'CA') INSERT #au VALUES (9, 'Z', 'CA') "
       "UPDATE #au SET lname = 'x' WHERE id = 1 FETCH NEXT FROM [d]]; '\xC3\xA9] "
       "FETCH LAST FROM [d]]; '\xC3\xA9] FETCH LAST FROM k FETCH FIRST FROM s",
       "1|2|9|5|White"},
      // DYNAMIC: a changed key moves the row; the current row deleted, NEXT and PRIOR fetch
      // its neighbours.
      {nullptr,
       "DECLARE d CURSOR SCROLL DYNAMIC FOR SELECT id FROM #au ORDER BY id OPEN d "
       "FETCH NEXT FROM d FETCH NEXT FROM d UPDATE #au SET id = 7 WHERE id = 4 "
       "DELETE FROM #au WHERE id = 2 FETCH NEXT FROM d FETCH NEXT FROM d "
       "DELETE FROM #au WHERE id = 5 FETCH PRIOR FROM d FETCH LAST FROM d",
       "1|2|3|5|3|7"},
      // FETCH, example B's loop over a DYNAMIC cursor reaches the rows the loop adds.
      {nullptr,
       "DECLARE @i INT, @n INT SET @n = 0 "
       "DECLARE d CURSOR DYNAMIC FOR SELECT id FROM #au WHERE id < 20 ORDER BY id OPEN d "
       "FETCH NEXT FROM d INTO @i WHILE @@FETCH_STATUS = 0 BEGIN SET @n = @n + 1 "
       "IF @i < 3 INSERT #au VALUES (@i + 10, 'n', 'NY') FETCH NEXT FROM d INTO @i END "
       "SELECT @n, @@CURSOR_ROWS",
       "7,-1"},
      // GLOBAL (the default) lasts across batches of the connection.
      {"DECLARE c CURSOR FOR SELECT id FROM #au ORDER BY id OPEN c FETCH NEXT FROM c",
       "FETCH NEXT FROM c", "2"},
      // ALTER DATABASE ... SET CURSOR_DEFAULT LOCAL: declarations without a scope are LOCAL.
      {"CREATE DATABASE cursor_db ALTER DATABASE cursor_db SET CURSOR_DEFAULT LOCAL",
       "USE cursor_db DECLARE c CURSOR FOR SELECT 1 DECLARE g CURSOR GLOBAL FOR SELECT 1 "
       "SELECT CURSOR_STATUS('local', 'c'), CURSOR_STATUS('global', 'c'), "
       "CURSOR_STATUS('global', 'g')",
       "-1,-3,-1"},
      // A LOCAL cursor hides a GLOBAL one of the same name; FETCH ... GLOBAL reaches it.
      {nullptr,
       "DECLARE c CURSOR GLOBAL FOR SELECT 'g' OPEN c DECLARE c CURSOR LOCAL FOR SELECT 'l' "
       "OPEN c FETCH NEXT FROM c FETCH NEXT FROM GLOBAL c",
       "l|g"},
      // A procedure's LOCAL cursor ends with it, its GLOBAL one stays open for the caller.
      {"CREATE PROCEDURE cursor_proc AS DECLARE l CURSOR LOCAL FOR SELECT 1 OPEN l "
       "DECLARE g CURSOR GLOBAL FOR SELECT 2 OPEN g",
       "EXEC cursor_proc SELECT CURSOR_STATUS('local', 'l'), CURSOR_STATUS('global', 'g') "
       "FETCH NEXT FROM g",
       "-3,1|2"},
      // The maintenance script: a loop over sysdatabases running EXEC once a database.
      {nullptr,
       "DECLARE @db SYSNAME CREATE TABLE #seen (db SYSNAME) "
       "DECLARE dbs CURSOR FOR SELECT name FROM master..sysdatabases ORDER BY name OPEN dbs "
       "FETCH NEXT FROM dbs INTO @db WHILE @@FETCH_STATUS = 0 BEGIN "
       "EXEC ('USE ' + @db + ' INSERT #seen SELECT DB_NAME()') FETCH NEXT FROM dbs INTO @db END "
       "CLOSE dbs DEALLOCATE dbs "
       "SELECT CASE WHEN (SELECT COUNT(*) FROM #seen) = (SELECT COUNT(*) FROM "
       "master..sysdatabases WHERE name IN (SELECT db FROM #seen)) AND (SELECT COUNT(*) FROM "
       "#seen) = (SELECT COUNT(*) FROM master..sysdatabases) THEN 'each once' END",
       "each once"},
      // Hostile names: quotes, brackets, semicolons and non-ASCII in cursor and column names.
      {"CREATE TABLE #h ([x]]y;] NVARCHAR(20)) INSERT #h VALUES (N'\xC3\xA9;''[')",
       "DECLARE [c'; DROP TABLE #h --\xC3\xA9] CURSOR FOR SELECT [x]]y;] FROM #h "
       "OPEN [c'; DROP TABLE #h --\xC3\xA9] FETCH NEXT FROM [c'; DROP TABLE #h --\xC3\xA9] "
       "SELECT COUNT(*) FROM #h",
       "\xC3\xA9;'[|1"},
  };
  for (const auto& c : cases) {
    CollectingSink sink = RunCase(c.first, c.batch);
    EXPECT_EQ(sink.FirstError(), 0) << c.batch << "\n" << sink.ErrorText();
    EXPECT_EQ(Render(sink), c.expected) << c.batch;
  }
}

// A FETCH of a dynamic cursor runs its query again: a row the query cannot convert fails that
// FETCH alone (245); with the row gone, the next FETCH goes on from the cursor's row.
TEST_F(CursorsTest, DynamicCursorGoesOnAfterAFetchThatFailed) {
  session_ = Connect();
  Ok("CREATE TABLE #v (id INT, v VARCHAR(10)) INSERT #v VALUES (1, '1') "
     "INSERT #v VALUES (2, '2') INSERT #v VALUES (3, '3') "
     "DECLARE d CURSOR DYNAMIC FOR SELECT id, CAST(v AS INT) FROM #v ORDER BY id OPEN d "
     "FETCH NEXT FROM d");
  EXPECT_EQ(Run("INSERT #v VALUES (0, 'x') FETCH NEXT FROM d").FirstError(), 245);
  CollectingSink after =
      Run("DELETE #v WHERE id = 0 FETCH NEXT FROM d "
          "INSERT #v VALUES (4, '4') FETCH NEXT FROM d FETCH NEXT FROM d");
  EXPECT_EQ(after.FirstError(), 0) << after.ErrorText();
  EXPECT_EQ(Render(after), "2,2|3,3|4,4");
}

TEST_F(CursorsTest, ErrorsAreSqlServersAndLeaveTheRowsAsTheyWere) {
  const struct {
    const char* first;
    const char* batch;
    std::int32_t error;
  } cases[] = {
      // DECLARE CURSOR: a second cursor of the same name and scope.
      {nullptr, "DECLARE c CURSOR FOR SELECT 1 DECLARE c CURSOR FOR SELECT 2", 16915},
      // OPEN, FETCH, CLOSE, DEALLOCATE of a name no cursor has (a hostile one).
      {nullptr, "OPEN [n\xC3\xB6'pe;]", 16916},
      {nullptr, "DEALLOCATE nope", 16916},
      // LOCAL: the cursor ended with the batch that declared it.
      {"DECLARE c CURSOR LOCAL FOR SELECT 1", "OPEN c", 16916},
      // FETCH and CLOSE need an open cursor; OPEN needs a closed one.
      {nullptr, "DECLARE c CURSOR FOR SELECT 1 FETCH NEXT FROM c", 16917},
      {nullptr, "DECLARE c CURSOR FOR SELECT 1 CLOSE c", 16917},
      {nullptr, "DECLARE c CURSOR FOR SELECT 1 OPEN c OPEN c", 16905},
      // FETCH: only NEXT on forward-only cursors (the default and FAST_FORWARD).
      {nullptr, "DECLARE c CURSOR FOR SELECT 1 OPEN c FETCH PRIOR FROM c", 16911},
      {nullptr, "DECLARE c CURSOR FAST_FORWARD FOR SELECT 1 OPEN c FETCH LAST FROM c", 16911},
      // FETCH: no ABSOLUTE on dynamic cursors.
      {nullptr, "DECLARE c CURSOR SCROLL DYNAMIC FOR SELECT 1 OPEN c FETCH ABSOLUTE 1 FROM c",
       16925},
      // FETCH ... INTO: one variable per column.
      {nullptr, "DECLARE @a INT DECLARE c CURSOR FOR SELECT 1, 2 OPEN c FETCH NEXT FROM c INTO @a",
       16924},
      // DECLARE CURSOR: conflicting options, FOR UPDATE on a read-only cursor.
      {nullptr, "DECLARE c CURSOR FORWARD_ONLY SCROLL FOR SELECT 1", 1048},
      {nullptr, "DECLARE c CURSOR READ_ONLY FOR SELECT id FROM #au FOR UPDATE", 16957},
      // Cursor variables: not declared, declared twice, no cursor set.
      {nullptr, "OPEN @nope", 137},
      {nullptr, "DECLARE @c CURSOR DECLARE @c CURSOR", 134},
      {nullptr, "DECLARE @c CURSOR OPEN @c", 16950},
      // WHERE CURRENT OF: read-only cursors (READ_ONLY, SQL-92 FOR READ ONLY, INSENSITIVE).
      {nullptr,
       "DECLARE c CURSOR READ_ONLY FOR SELECT id FROM #au OPEN c FETCH NEXT FROM c "
       "UPDATE #au SET lname = 'x' WHERE CURRENT OF c",
       16929},
      {nullptr,
       "DECLARE c CURSOR FOR SELECT id FROM #au FOR READ ONLY OPEN c FETCH NEXT FROM c "
       "DELETE FROM #au WHERE CURRENT OF c",
       16929},
      {nullptr,
       "DECLARE c INSENSITIVE CURSOR FOR SELECT id FROM #au OPEN c FETCH NEXT FROM c "
       "DELETE FROM #au WHERE CURRENT OF c",
       16929},
      // WHERE CURRENT OF: no row fetched yet, or fetched past the end.
      {nullptr, "DECLARE c CURSOR FOR SELECT id FROM #au OPEN c DELETE #au WHERE CURRENT OF c",
       16930},
      // FOR UPDATE OF lists the columns a positioned UPDATE may set.
      {nullptr,
       "DECLARE c CURSOR FOR SELECT id FROM #au FOR UPDATE OF lname OPEN c FETCH NEXT FROM c "
       "UPDATE #au SET state = 'NY' WHERE CURRENT OF c",
       16932},
      // An aggregate's row is no row of the table.
      {nullptr,
       "DECLARE c CURSOR FOR SELECT COUNT(*) FROM #au OPEN c FETCH NEXT FROM c "
       "DELETE FROM #au WHERE CURRENT OF c",
       16929},
      // The table changed must be the cursor's.
      {"CREATE TABLE #other (id INT) INSERT #other VALUES (1)",
       "DECLARE c CURSOR FOR SELECT id FROM #au OPEN c FETCH NEXT FROM c "
       "DELETE FROM #other WHERE CURRENT OF c",
       16933},
      // The fetched row was deleted (and a copy inserted) by other statements in between.
      {nullptr,
       "DECLARE c CURSOR FOR SELECT id FROM #au ORDER BY id OPEN c FETCH NEXT FROM c "
       "DELETE FROM #au WHERE id = 1 INSERT #au VALUES (1, 'White', 'CA') "
       "UPDATE #au SET lname = 'x' WHERE CURRENT OF c",
       16934},
      // Syntax: FETCH's FROM is needed after a fetch type.
      {nullptr, "DECLARE c CURSOR FOR SELECT 1 OPEN c FETCH NEXT c", 102},
  };
  for (const auto& c : cases) {
    CollectingSink sink = RunCase(c.first, c.batch);
    EXPECT_TRUE(sink.FirstError() == c.error || sink.FirstError() == 0) << c.batch;
    // 16934 and 16950 are of severity 10: messages that stop the statement.
    bool reported = std::any_of(sink.messages.begin(), sink.messages.end(),
                                [&](const ServerMessage& m) { return m.number == c.error; });
    EXPECT_TRUE(reported) << c.batch << "\n" << sink.ErrorText();
    // Whatever failed, the rows are all there and unchanged.
    EXPECT_EQ(Render(Run("SELECT COUNT(*), MIN(lname) FROM #au WHERE lname <> 'x'")), "5,Carson")
        << c.batch;
  }
  EXPECT_EQ(
      RunCase(nullptr, "DECLARE c CURSOR FOR SELECT 1 OPEN c FETCH RELATIVE 1 FROM c").ErrorText(),
      "16911: fetch: The fetch type relative cannot be used with forward only cursors.\n");
  EXPECT_EQ(RunCase(nullptr, "CLOSE [a'b]").ErrorText(),
            "16916: A cursor with the name 'a'b' does not exist.\n");
}

}  // namespace
}  // namespace sandbox::testing
