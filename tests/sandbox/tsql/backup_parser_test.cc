// BACKUP and RESTORE as the parser reads them: devices, options with and without values, MOVE.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox/tsql/parser.h"

namespace sandbox::tsql {
namespace {

TEST(BackupParserTest, RestoreForms) {
  using What = RestoreStatement::What;
  struct Case {
    const char* text;
    What what;
    const char* database;
    size_t moves;
    std::vector<std::string> options;
  } cases[] = {
      {"RESTORE DATABASE pubs FROM DISK = 'C:\\b.bak'", What::kDatabase, "pubs", 0, {}},
      {"RESTORE DATABASE [a'b; c] FROM DISK = N'C:\\b''s.bak' WITH FILE = 2, REPLACE, STATS",
       What::kDatabase,
       "a'b; c",
       0,
       {"FILE", "REPLACE", "STATS"}},
      {"RESTORE DATABASE @db FROM DISK = @file WITH MOVE 'pubs' TO 'D:\\p.mdf', MOVE "
       "N'pubs_log' TO @log, RECOVERY",
       What::kDatabase,
       "@db",
       2,
       {"RECOVERY"}},
      {"RESTORE LOG pubs FROM DISK = 'C:\\l.bak'", What::kLog, "pubs", 0, {}},
      {"RESTORE FILELISTONLY FROM DISK = 'C:\\b.bak' WITH FILE = 1",
       What::kFileListOnly,
       "",
       0,
       {"FILE"}},
      {"RESTORE HEADERONLY FROM PubsDevice", What::kHeaderOnly, "", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Batch b = ParseBatch(c.text);
    ASSERT_EQ(b.statements.size(), 1u);
    const auto& r = b.statements[0]->As<RestoreStatement>();
    EXPECT_EQ(r.kind, Statement::Kind::kRestore);
    EXPECT_EQ(r.what, c.what);
    EXPECT_EQ(r.database, c.database);
    EXPECT_EQ(r.devices.size(), 1u);
    EXPECT_EQ(r.moves.size(), c.moves);
    std::vector<std::string> options;
    for (const auto& o : r.options) options.push_back(o.name);
    EXPECT_EQ(options, c.options);
  }
}

TEST(BackupParserTest, BackupToDiskWithOptionsThenMoreStatements) {
  Batch b = ParseBatch(
      "BACKUP LOG pubs TO DISK = 'C:\\l.bak' WITH NOINIT, STATS = 10, DESCRIPTION = N'Ü' "
      "RESTORE HEADERONLY FROM DISK = 'C:\\l.bak' SELECT 1");
  ASSERT_EQ(b.statements.size(), 3u);
  const auto& backup = b.statements[0]->As<BackupStatement>();
  EXPECT_TRUE(backup.log);
  ASSERT_EQ(backup.options.size(), 3u);
  EXPECT_EQ(backup.options[0].value, nullptr);
  EXPECT_EQ(backup.options[1].value->As<Literal>().int_value, 10);
  EXPECT_EQ(backup.options[2].value->As<Literal>().text, "Ü");
  EXPECT_EQ(b.statements[1]->kind, Statement::Kind::kRestore);
}

TEST(BackupParserTest, MalformedRestoresAreSyntaxErrors) {
  for (const char* bad : {"RESTORE pubs FROM DISK = 'x'", "RESTORE DATABASE pubs",
                          "RESTORE DATABASE pubs FROM DISK = 1",
                          "RESTORE DATABASE pubs FROM DISK = 'x' WITH MOVE 'a' 'b'",
                          "RESTORE DATABASE pubs FROM DISK = 'x' WITH MOVE 1 TO 'b'",
                          "RESTORE HEADERONLY FROM DISK = 'x' WITH 'FILE'"}) {
    EXPECT_THROW(ParseBatch(bad), ParseError) << bad;
  }
}

}  // namespace
}  // namespace sandbox::tsql
