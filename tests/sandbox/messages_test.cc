// The table of server messages: its numbers and severities, the substitution of arguments into
// its texts, and the statements that read it (RAISERROR with a number, master..sysmessages).
#include "sandbox/messages.h"

#include <set>
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

// Arguments go in as they are: nothing in them is read as a placeholder.
TEST(MessagesTable, SubstitutesArgumentsAsTheyAre) {
  const std::string long_name(5000, 'n');
  struct Case {
    std::string_view text;
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {"Invalid object name '%s'.", {"t"}, "Invalid object name 't'."},
      {"Parameter %d is incorrect.", {"3"}, "Parameter 3 is incorrect."},
      {"%s rows (%d%%).", {"12", "50"}, "12 rows (50%)."},
      // Placeholders inside an argument stay text.
      {"Invalid object name '%s'.", {"%s%d%%"}, "Invalid object name '%s%d%%'."},
      {"'%s' and '%s'.", {"%", "%s"}, "'%' and '%s'."},
      // Quotes, brackets, semicolons and non-ASCII names.
      {"Invalid object name '%s'.",
       {"o'k]; DROP TABLE x;--"},
       "Invalid object name 'o'k]; DROP TABLE x;--'."},
      {"The login '%s' does not exist.",
       {"Jürgen\xE5\x90\x8D"},
       "The login 'Jürgen\xE5\x90\x8D' does not exist."},
      {"Invalid object name '%s'.", {long_name}, "Invalid object name '" + long_name + "'."},
      // A missing argument leaves its place empty; a surplus one is not shown.
      {"Cannot %s the %s '%s'.", {"drop"}, "Cannot drop the  ''."},
      {"Done.", {"unused"}, "Done."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected.substr(0, 80));
    EXPECT_EQ(FormatMessage(c.text, c.args), c.expected);
  }
}

// Each number once, ascending, and each text's placeholders readable (%s, %d, %%).
TEST(MessagesTable, NumbersAreUniqueAndTextsWellFormed) {
  std::set<std::int32_t> seen;
  std::int32_t previous = 0;
  for (const MessageEntry& m : kMessages) {
    SCOPED_TRACE(m.number);
    EXPECT_TRUE(seen.insert(m.number).second) << "twice";
    EXPECT_GT(m.number, previous) << "out of order";
    previous = m.number;
    EXPECT_GE(PlaceholderCount(m.text), 0) << m.text;
    EXPECT_TRUE(m.severity >= 0 && m.severity <= 25);
    EXPECT_FALSE(m.text.empty());
  }
}

// Severities as SQL Server 2000's sysmessages has them, for a sample of the classes.
TEST(MessagesTable, SeveritiesAsDocumented) {
  struct Case {
    std::int32_t number;
    int severity;
  } cases[] = {
      {208, 16},    // Invalid object name
      {103, 15},    // identifier too long: a syntax error
      {170, 15},    // Incorrect syntax near
      {2627, 14},   // PRIMARY KEY / UNIQUE violation
      {229, 14},    // permission denied on object
      {3701, 11},   // Cannot drop ... does not exist
      {15402, 11},  // not a fixed server role
      {7609, 17},   // full-text not installed: insufficient resources
      {3014, 10},   // BACKUP ... successfully processed: information
      {15007, 16},  // The login does not exist
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    const MessageEntry* m = FindMessage(c.number);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->severity, c.severity);
  }
}

// The helpers keep their texts; a hostile name comes back exactly as given.
TEST(MessagesTable, HelpersFillTheirMessages) {
  struct Case {
    SqlError error;
    std::int32_t number;
    int severity, state;
    ErrorScope scope;
    std::string text;
  } cases[] = {
      {errors::CannotDrop("table", "[a'b];--"), 3701, 11, 1, ErrorScope::kStatement,
       "Cannot drop the table '[a'b];--', because it does not exist in the system catalog."},
      {errors::NullNotAllowed("c%s", "db.dbo.t", false), 515, 16, 2, ErrorScope::kStatement,
       "Cannot insert the value NULL into column 'c%s', table 'db.dbo.t'; column does not allow "
       "nulls. UPDATE fails."},
      {errors::OverflowConverting("int", 2), 8115, 16, 2, ErrorScope::kStatement,
       "Arithmetic overflow error converting expression to data type int."},
      {errors::InvalidObject("ñame"), 208, 16, 1, ErrorScope::kBatch,
       "Invalid object name 'ñame'."},
      {errors::IdentifierTooLong(std::string(200, 'x')), 103, 15, 1, ErrorScope::kBatch,
       "The identifier that starts with '" + std::string(128, 'x') +
           "' is too long. Maximum length is 128."},
      {errors::ConversionFailed("1 0", "int"), 245, 16, 1, ErrorScope::kTransaction,
       "Syntax error converting the varchar value '1 0' to a column of data type int."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(c.error.number(), c.number);
    EXPECT_EQ(c.error.message().severity, c.severity);
    EXPECT_EQ(c.error.message().state, c.state);
    EXPECT_EQ(c.error.scope(), c.scope);
    EXPECT_EQ(c.error.message().text, c.text);
    EXPECT_STREQ(c.error.what(), c.text.c_str());
  }
}

class MessagesTest : public SandboxTest {};

// RAISERROR with a number reads the table; master..sysmessages lists it.
TEST_F(MessagesTest, StatementsReadTheTable) {
  struct Case {
    const char* batch;
    std::int32_t number;
    int severity;
    std::string text;
  } cases[] = {
      // RAISERROR, msg_id: a message of sysmessages, its arguments substituted; severity -1
      // (as system procedures pass it) is the message's own.
      {"RAISERROR(15007, -1, -1, 'nob''ody];')", 15007, 16,
       "The login 'nob'ody];' does not exist."},
      {"RAISERROR(2560, 16, 1, 7)", 2560, 16, "Parameter 7 is incorrect for this DBCC statement."},
      {"RAISERROR(208, 10, 1, '%d%s')", 208, 10, "Invalid object name '%d%s'."},
      // RAISERROR: a number sysmessages does not hold.
      {"RAISERROR(99999, 16, 1)", 2758, 16,
       "RAISERROR could not locate entry for error 99999 in sysmessages."},
      {"RAISERROR(40000, 16, 1)", 2758, 16,
       "RAISERROR could not locate entry for error 40000 in sysmessages."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = Run(c.batch);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].number, c.number);
    EXPECT_EQ(sink.messages[0].severity, c.severity);
    EXPECT_EQ(sink.messages[0].text, c.text);
  }
  // sysmessages: error, severity, dlevel, description, msglangid; the server's messages only.
  RowSet row = Query(
      "SELECT error, severity, dlevel, description, msglangid FROM master..sysmessages "
      "WHERE error = 3701");
  ASSERT_EQ(row.rows.size(), 1u);
  EXPECT_EQ(row.rows[0][1], Value(std::int64_t{11}));
  EXPECT_EQ(row.rows[0][3],
            Value("Cannot %s the %s '%s', because it does not exist in the system catalog."));
  EXPECT_EQ(row.rows[0][4], Value(std::int64_t{1033}));
  int server = 0;
  for (const MessageEntry& m : kMessages) server += m.server ? 1 : 0;
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master.dbo.sysmessages"), Value(std::int64_t{server}));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM master..sysmessages WHERE error >= 40000"),
            Value(std::int64_t{0}));
}

// Errors worded from the table as SQL Server 2000 words them, every message of a batch in order
// (a refused constraint names its cause first, then 1750).
TEST_F(MessagesTest, ErrorsAreWordedAsTheServerWordsThem) {
  Ok("CREATE TABLE p (id int CONSTRAINT pk_p PRIMARY KEY, v varchar(10)) "
     "CREATE TABLE nk (id int) CREATE TABLE [o'k]];x] (a int, b int) "
     "CREATE TABLE c0 (x int CONSTRAINT fk0 REFERENCES p(id))");
  const std::string cannot_create = "1750 Could not create constraint. See previous errors.";
  struct Case {
    const char* batch;
    std::vector<std::string> messages;  // "number text"
  } cases[] = {
      // FOREIGN KEY rules of CREATE TABLE: the referenced columns must be a key, of the same type.
      {"CREATE TABLE c1 (x int CONSTRAINT fk1 REFERENCES nk(id))",
       {"1776 There are no primary or candidate keys in the referenced table 'nk' that match the "
        "referencing column list in the foreign key 'fk1'.",
        cannot_create}},
      {"CREATE TABLE c2 (x varchar(10) CONSTRAINT fk2 REFERENCES p(id))",
       {"1778 Column 'p.id' is not the same data type as referencing column 'c2.x' in foreign "
        "key 'fk2'.",
        cannot_create}},
      {"CREATE TABLE c3 (x int CONSTRAINT fk3 REFERENCES nothere(id))",
       {"1767 Foreign key 'fk3' references invalid table 'nothere'.", cannot_create}},
      {"CREATE TABLE c4 (x int CONSTRAINT fk4 REFERENCES p(nocol))",
       {"1770 Foreign key 'fk4' references invalid column 'nocol' in referenced table 'p'.",
        cannot_create}},
      // ALTER TABLE DROP CONSTRAINT of a key another table references.
      {"ALTER TABLE p DROP CONSTRAINT pk_p",
       {"3725 The constraint 'pk_p' is being referenced by table 'c0', foreign key constraint "
        "'fk0'.",
        "3727 Could not drop constraint. See previous errors."}},
      {"ALTER TABLE p NOCHECK CONSTRAINT nope", {"4917 Constraint 'nope' does not exist."}},
      // INSERT ... SELECT: 120 for fewer items than the insert list, 121 for more.
      {"INSERT [o'k]];x] (a) SELECT 1, 2",
       {"121 The select list for the INSERT statement contains more items than the insert list. "
        "The number of SELECT values must match the number of INSERT columns."}},
      {"INSERT [o'k]];x] (a, b) SELECT 1",
       {"120 The select list for the INSERT statement contains fewer items than the insert list. "
        "The number of SELECT values must match the number of INSERT columns."}},
      // CREATE TABLE: column names unique, compared without case; hostile names shown as given.
      {"CREATE TABLE [t;\xC3\xA9] (a int, [A] int)",
       {"2705 Column names in each table must be unique. Column name 'A' in table "
        "'t;\xC3\xA9' is specified more than once."}},
      // DBCC CHECKIDENT on a table without an identity column.
      {"DBCC CHECKIDENT('nk')", {"7997 'nk' does not contain an identity column."}},
      // sp_dbcmptlevel without a database lists the levels; with one, shows its level.
      {"EXEC sp_dbcmptlevel",
       {"15048 Valid values of database compatibility level are 60, 65, 70, or 80."}},
      {"EXEC sp_dbcmptlevel 'master'", {"15054 The current compatibility level is 80."}},
      // The parser's errors come from the same table.
      {"SET NOSUCHOPT ON", {"195 'NOSUCHOPT' is not a recognized SET option."}},
      {"SELECT * FROM p WHERE v",
       {"4145 An expression of non-boolean type specified in a context where a condition is "
        "expected, near 'v'."}},
      {"SELECT LEN()", {"174 The len function requires 1 arguments."}},
      // User-defined functions: no side effects, argument counts checked.
      {"CREATE FUNCTION f() RETURNS int AS BEGIN INSERT p VALUES (1, 'a') RETURN 1 END",
       {"443 Invalid use of 'INSERT' within a function."}},
      {"KILL 9999", {"6106 Process ID 9999 is not an active process ID."}},
      // DROP DATABASE is one of the statements a user transaction may not hold: 226.
      {"BEGIN TRAN DROP DATABASE nosuch COMMIT",
       {"226 DROP DATABASE statement not allowed within multi-statement transaction."}},
      {"DROP INDEX p.nosuch",
       {"3701 Cannot drop the index 'p.nosuch', because it does not exist in the system "
        "catalog."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.batch);
    CollectingSink sink = Run(c.batch);
    std::vector<std::string> got;
    for (const ServerMessage& m : sink.messages)
      got.push_back(std::to_string(m.number) + " " + m.text);
    EXPECT_EQ(got, c.messages);
  }
}

// xp_cmdshell: 2000 refuses EXECUTE to a login that is no administrator; 2005 reports the
// component turned off.
TEST_F(MessagesTest, CmdShellIsRefusedAsTheVersionRefusesIt) {
  Ok("EXEC sp_addlogin 'plain', 'pw'");
  std::unique_ptr<Session> user = As("plain", "pw");
  EXPECT_EQ(
      Failure(*user, "EXEC master..xp_cmdshell 'dir'"),
      "229: EXECUTE permission denied on object 'xp_cmdshell', database 'master', owner 'dbo'.");

  std::unique_ptr<Session> session = SessionOn("9.00.1399.06");
  CollectingSink off = Run(*session, "EXEC xp_cmdshell 'dir'");
  ASSERT_EQ(off.FirstError(), 15281);
  EXPECT_NE(off.Errors()[0]->text.find("blocked access to procedure 'sys.xp_cmdshell'"),
            std::string::npos);
}

}  // namespace
}  // namespace sandbox::testing
