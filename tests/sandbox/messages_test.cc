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
