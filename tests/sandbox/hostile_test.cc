// Hostile and unusual input: long texts, embedded quotes and zero bytes, odd names, big
// batches. Each is either handled or refused with a clear error; nothing is lost.
#include <sqlite3.h>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

TEST_F(SandboxTest, LongTextsRoundTrip) {
  Ok("CREATE TABLE big (id INT, body NTEXT, head NVARCHAR(4000))");
  std::string body(200000, 'x');
  body[1000] = '\'';
  std::string literal;
  for (char c : body) literal += c == '\'' ? "''" : std::string(1, c);
  Ok("INSERT INTO big (id, body) VALUES (1, N'" + literal + "')");
  EXPECT_EQ(Scalar("SELECT DATALENGTH(body) FROM big"), Value(400000));
  EXPECT_EQ(Scalar("SELECT body FROM big"), Value(body));
  EXPECT_EQ(Run("UPDATE big SET head = body").FirstError(), 8152);
  Ok("UPDATE big SET head = SUBSTRING(body, 1, 4000)");
  EXPECT_EQ(Scalar("SELECT LEN(head) FROM big"), Value(4000));
}

TEST_F(SandboxTest, ValuesStayValues) {
  Ok("CREATE TABLE v (t NVARCHAR(100))");
  std::vector<Parameter> parameters(1);
  parameters[0].value = Value(std::string("a\0b'); DROP TABLE v; --", 24));
  CollectingSink sink;
  session_->Execute("INSERT INTO v VALUES (?)", parameters, sink, std::chrono::milliseconds(0));
  EXPECT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(Scalar("SELECT t FROM v"), Value(std::string("a\0b'); DROP TABLE v; --", 24)));
  Ok("INSERT INTO v VALUES ('it''s [bracketed] \"quoted\" ; -- not a comment')");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM v WHERE t LIKE '%-- not a comment'"), Value(1));
}

TEST_F(SandboxTest, OddDatabaseAndObjectNames) {
  Ok("CREATE DATABASE [it's]");
  CollectingSink sink = Run("USE [it's]");
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(sink.messages.at(0).text, "Changed database context to 'it's'.");
  Ok("CREATE TABLE [Ärger] ([Größe] INT)");
  Ok("INSERT INTO [ärger] ([GRÖßE]) VALUES (1)");
  EXPECT_EQ(Scalar("SELECT [größe] FROM [it's].dbo.[ÄRGER]"), Value(1));
  Ok("USE master");
  // A file name cannot leave the machine's drive.
  Ok("CREATE DATABASE Outside ON (NAME = e, FILENAME = 'C:\\..\\..\\..\\escape.mdf')");
  EXPECT_TRUE(std::filesystem::exists(instance_->MapPath("C:\\escape.mdf")));
  EXPECT_EQ(instance_->MapPath("C:\\..\\..\\escape.mdf").parent_path(),
            instance_->directory() / "drives" / "C");
  EXPECT_EQ(Run("CREATE DATABASE Rel ON (NAME = r, FILENAME = 'relative.mdf')").FirstError(), 5105);
  std::string long_name(129, 'd');
  EXPECT_EQ(Run("CREATE DATABASE " + long_name).FirstError(), 103);
}

TEST_F(SandboxTest, BigBatchesAndLists) {
  Ok("CREATE TABLE many (id INT)");
  std::string batch;
  for (int i = 0; i < 2000; ++i) batch += "INSERT INTO many VALUES (" + std::to_string(i) + ")\n";
  CollectingSink sink = Run(batch);
  EXPECT_EQ(sink.FirstError(), 0);
  EXPECT_EQ(sink.done.size(), 2000u);
  std::string list;
  for (int i = 0; i < 1000; i += 2) list += (list.empty() ? "" : ",") + std::to_string(i);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM many WHERE id IN (" + list + ")"), Value(500));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM many WHERE id NOT IN (" + list + ")"), Value(1500));
}

TEST_F(SandboxTest, LoginsOutsideSysadminAreRefused) {
  // A login without server roles, written straight into master's catalogue.
  sqlite3* db = nullptr;
  std::string master =
      instance_->MapPath("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data\\master.mdf")
          .string();
  ASSERT_EQ(sqlite3_open(master.c_str(), &db), SQLITE_OK);
  // The catalogue's names use the server's collation; any case-blind one does for this row.
  sqlite3_create_collation(
      db, "tsql_ci", SQLITE_UTF8, nullptr, [](void*, int la, const void* a, int lb, const void* b) {
        int n = sqlite3_strnicmp(static_cast<const char*>(a), static_cast<const char*>(b),
                                 la < lb ? la : lb);
        return n != 0 ? n : la - lb;
      });
  ASSERT_EQ(sqlite3_exec(db,
                         "INSERT INTO \"sandbox$logins\" (sid, name, password_hash, is_nt_name, "
                         "is_nt_group, dbname, language, server_roles, createdate, updatedate) "
                         "VALUES (x'0102', 'reader', NULL, 0, 0, 'master', 'us_english', 0, "
                         "'2003-01-01', '2003-01-01')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Ok("CREATE TABLE secret (v INT) CREATE DATABASE closed");
  LoginRequest request;
  request.login = "reader";
  auto reader = instance_->Connect(request);
  EXPECT_EQ(Failure(*reader, "SELECT * FROM secret"),
            "229: SELECT permission denied on object 'secret', database 'master', owner 'dbo'.");
  EXPECT_EQ(Run(*reader, "INSERT INTO secret VALUES (1)").FirstError(), 229);
  EXPECT_EQ(Run(*reader, "CREATE DATABASE mine").FirstError(), 262);
  EXPECT_EQ(Run(*reader, "USE closed").FirstError(), 916);
  EXPECT_EQ(Query(*reader, "SELECT IS_SRVROLEMEMBER('sysadmin'), USER_NAME()").rows.at(0).at(0),
            Value(0));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM secret"), Value(0));
}

}  // namespace
}  // namespace sandbox::testing
