// A collection of 10,000 documents backed up while another process writes to it, dropped and
// restored: every table comes back as it was at one commit of the writer, not torn between two,
// DBCC CHECKDB finds nothing, and the collection opens and exports a document afterwards.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <thread>
#include <utility>

#include "collections/plain_text_fixture.h"
#include "common/code_page.h"

extern char** environ;

namespace collections::testing {
namespace {

namespace fs = std::filesystem;
using Sums = std::map<std::string, std::pair<std::int64_t, std::int64_t>>;  // rows, checksum

class BackupRoundTripTest : public PlainTextFixture {
 protected:
  // One query giving table name, row count and row checksum of every user table. The text
  // columns are added on their own so that the sum covers them whether or not the row
  // checksum does (SQL Server's BINARY_CHECKSUM(*) leaves them out).
  std::string SumsQuery(const db::Connection& connection) {
    std::vector<std::string> tables;
    db::Recordset rs;
    rs.Open("SELECT name FROM sysobjects WHERE OBJECTPROPERTY(id, 'IsUserTable') = 1", connection);
    for (; !rs.Eof(); rs.MoveNext()) tables.push_back(rs.Fields(0).Value().ToText());
    rs.Close();
    std::string query;
    for (const std::string& table : tables) {
      std::string sum = "SUM(CAST(BINARY_CHECKSUM(*) AS BIGINT))";
      if (table == "Document")
        sum +=
            " + ISNULL(SUM(CAST(BINARY_CHECKSUM(SUBSTRING(Content, 1, 4000), SUBSTRING("
            "PlainText, 1, 4000), DATALENGTH(BinaryContent)) AS BIGINT)), 0)";
      query += std::string(query.empty() ? "" : " UNION ALL ") + "SELECT N" + Quoted(table) +
               ", COUNT(*), ISNULL(" + sum + ", 0) FROM [" + table + "]";
    }
    return query;
  }

  static Sums Read(const db::Connection& connection, const std::string& query) {
    Sums sums;
    db::Recordset rs;
    rs.Open(query, connection);
    for (; !rs.Eof(); rs.MoveNext())
      sums[rs.Fields(0).Value().ToText()] = {rs.Fields(1).Value().ToInt().value_or(-1),
                                             rs.Fields(2).Value().ToInt().value_or(-1)};
    rs.Close();
    return sums;
  }

  std::int64_t Count(const std::string& query) {
    return Scalar(Server().Connection(), query).ToInt().value_or(-1);
  }
};

TEST_F(BackupRoundTripTest, TenThousandDocumentsComeBackAsTheyWereWhenTheBackupBegan) {
  ASSERT_TRUE(fs::create_directories(instance_->MapPath("C:\\Backup")));
  db::Connection collection = collection_->Connection();
  // Documents as the archiving application stores them: a row in Document, a link into a
  // second folder for every tenth, an extended field for every hundredth. Titles and
  // contents carry quotes, brackets, semicolons and non-ASCII.
  collection.Execute(
      "CREATE TABLE #d (n INT) DECLARE @i INT SET @i = 0 WHILE @i < 10 BEGIN INSERT INTO #d "
      "VALUES (@i) SET @i = @i + 1 END "
      "INSERT INTO Document (UniqueID, FolderID, VisibleInFolderID, Url, TypeID, CodePage, "
      "FileSize, Title, Content, PlainText, Filename, CreationTime, FileModifiedDate, Comment) "
      "SELECT NEWID(), 1, 1, N'http://example.com/o''brien/' + n, 100, 1252, 40 + LEN(n), "
      "N'Re: offer #' + n + N' [Zoë O''Brien]; ', N'<html><body><p>Grüße; ''' + n + "
      "N''' [€]</p></body></html>', N'Grüße; ''' + n + N''' [€]', N'page' + n + N'.htm', "
      "DATEADD(minute, CAST(n AS INT), '20030201'), '20030201', NULL "
      "FROM (SELECT CAST(a.n * 1000 + b.n * 100 + c.n * 10 + d.n AS NVARCHAR(10)) AS n "
      "FROM #d a, #d b, #d c, #d d) AS numbers "
      "INSERT INTO DocLink (FolderID, EntryID) SELECT 2, EntryID FROM Document WHERE EntryID % 10 "
      "= 0 "
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) SELECT EntryID, 3, N'x; ]''' "
      "FROM Document WHERE EntryID % 100 = 0");
  ASSERT_EQ(Scalar(collection, "SELECT COUNT(*) FROM Document").ToInt(), 10001);
  const std::string sums_query = SumsQuery(collection);
  const Sums at_start = Read(collection, sums_query);
  ASSERT_GE(at_start.size(), 10u);

  // The writer, a process of its own: each round one transaction adds a document with its
  // link and changes an older one; after each commit it notes every table's sums in a
  // database of its own, so the state of any round is known afterwards.
  Server().Connection().Execute(
      "CREATE DATABASE Journal CREATE TABLE Journal..Sums (k INT, tab SYSNAME, n INT, s BIGINT) "
      "CREATE DATABASE Signal CREATE TABLE Signal..Stop (x INT)");
  std::string noted = sums_query;
  for (size_t at = 0; (at = noted.find("SELECT N'", at)) != std::string::npos; at += 9)
    noted.replace(at, 7, "SELECT @k,");
  const fs::path script = root_ / "writer.sql";
  std::ofstream(script)
      << "DECLARE @k INT SET @k = 0\n"
         "CREATE TABLE #s (k INT, tab SYSNAME, n INT, s BIGINT)\n"
         "WHILE NOT EXISTS (SELECT * FROM Signal..Stop)\n"
         "BEGIN\n"
         "  SET @k = @k + 1\n"
         "  BEGIN TRAN\n"
         "  INSERT INTO Document (FolderID, Url, TypeID, Title, Content, "
         "Filename, CreationTime, FileModifiedDate) VALUES (1, N'live', 90, "
         "N'live ' + CAST(@k AS NVARCHAR(10)), N'[live]; ''note''', N'live.txt', "
         "GETDATE(), GETDATE())\n"
         "  INSERT INTO DocLink (FolderID, EntryID) VALUES (2, SCOPE_IDENTITY())\n"
         "  UPDATE Document SET Comment = N'changed; ' + CAST(@k AS NVARCHAR(10)), "
         "Importance = @k % 3 WHERE EntryID = 1 + @k\n"
         "  COMMIT TRAN\n"
         "  DELETE FROM #s INSERT INTO #s "
      << noted << "\n  INSERT INTO Journal..Sums SELECT * FROM #s\nEND\n";
  const std::string program = std::string(TESSERA_BINARY_DIR) + "/src/app/tessera-sandbox";
  const std::string root = root_.string(), input = script.string(),
                    output = (root_ / "writer.out").string();
  std::vector<const char*> argv = {program.c_str(),
                                   "--root",
                                   root.c_str(),
                                   "sql",
                                   "-U",
                                   "sa",
                                   "-P",
                                   "",
                                   "-d",
                                   "Quillarchive_Texts",
                                   "-b",
                                   "-i",
                                   input.c_str(),
                                   "-o",
                                   output.c_str(),
                                   nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t writer = 0;
  ASSERT_EQ(posix_spawn(&writer, program.c_str(), &actions, nullptr,
                        const_cast<char* const*>(argv.data()), environ),
            0);
  posix_spawn_file_actions_destroy(&actions);
  // A failed assertion must not leave the writer running.
  struct Reaper {
    pid_t& pid;
    ~Reaper() {
      if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
  } reaper{writer};
  const std::string rounds = "SELECT ISNULL(MAX(k), 0) FROM Journal..Sums";
  auto stop_writer = [&] {
    Server().Connection().Execute("INSERT INTO Signal..Stop VALUES (1)");
    int status = -1;
    waitpid(writer, &status, 0);
    writer = 0;
    std::ifstream in(output);
    std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
  };
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       Count(rounds) < 3 && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // A backup takes a fraction of a second, a round about as long: the backup is taken again
  // until the writer has committed while it ran.
  std::int64_t before = 0, after = 0;
  for (int attempt = 0; attempt < 10 && after <= before; ++attempt) {
    before = Count(rounds);
    Server().Connection().Execute(
        "BACKUP DATABASE Quillarchive_Texts TO DISK = 'C:\\Backup\\Texts.bak' WITH INIT");
    after = Count(rounds);
  }
  stop_writer();
  const std::int64_t last = Count(rounds);
  ASSERT_GE(before, 3) << "the writer did not get going";
  EXPECT_GT(after, before) << "the writer committed nothing while the backup ran";

  collection_->CloseConnection();  // the same connection as `collection`
  Server().Connection().Execute("DROP DATABASE Quillarchive_Texts");
  Server().Connection().Execute(
      "RESTORE DATABASE Quillarchive_Texts FROM DISK = 'C:\\Backup\\Texts.bak'");

  // The copy is the state after one whole round, begun at the latest when the backup began.
  const std::int64_t round =
      Count("SELECT COUNT(*) FROM Quillarchive_Texts..Document WHERE Title LIKE N'live %'");
  EXPECT_GE(round, before);
  EXPECT_LE(round, last);
  Sums expected = Read(Server().Connection(),
                       "SELECT tab, n, s FROM Journal..Sums WHERE k = " + std::to_string(round));
  db::Connection restored = Open(kSandboxSa, "Quillarchive_Texts");
  EXPECT_EQ(Read(restored, sums_query), expected);
  EXPECT_EQ(expected.size(), at_start.size());
  EXPECT_EQ(expected.at("Document").first, 10001 + round);
  restored.Close();

  // DBCC CHECKDB's closing line, and no error on the way.
  db::Connection server = Open(kSandboxSa);
  server.Execute("DBCC CHECKDB ('Quillarchive_Texts')");
  std::vector<std::string> said;
  for (const db::ErrorRecord& record : server.Errors()) {
    EXPECT_FALSE(record.IsError()) << record.description;
    if (record.native_error == 8989) said.push_back(record.description);
  }
  EXPECT_EQ(said, std::vector<std::string>{"CHECKDB found 0 allocation errors and 0 consistency "
                                           "errors in database 'Quillarchive_Texts'."});
  server.Close();

  // The product finds the restored collection among the server's and reads a document.
  std::unique_ptr<servers::Server> again = NewServer();
  std::shared_ptr<Database> found;
  for (const std::shared_ptr<Database>& listed : dynamic_cast<Databases&>(again->Databases()))
    if (listed->Name() == "Texts") found = listed;
  ASSERT_NE(found, nullptr);
  if (!found->Connected()) {
    ASSERT_TRUE(found->Connect());
  }
  const std::int64_t entry =
      Count("SELECT EntryID FROM Quillarchive_Texts..Document WHERE Filename = N'page4320.htm'");
  const std::string exported = found->ExportDocument(static_cast<std::int32_t>(entry));
  ASSERT_FALSE(exported.empty());
  std::ifstream in(exported);
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  page = common::BytesToText(page, 1252);  // written in the document's code page
  EXPECT_NE(page.find("<p>Grüße; '4320' [€]</p>"), std::string::npos) << page;
}

}  // namespace
}  // namespace collections::testing
