// tessera-admin as a process against the demonstration server in a folder of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/admin_process.h"
#include "common/code_page.h"
#include "common/messages.h"
#include "common/value.h"
#include "format/html_text.h"
#include "format/mht.h"

namespace {

using admin_testing::AdminDemoProcessTest;
using admin_testing::AdminProcessTest;
using admin_testing::Contains;
using admin_testing::Lines;
using admin_testing::LinesStartingWith;
using admin_testing::RunResult;
using admin_testing::Shown;

constexpr char kDemo[] = "(sandbox)\\DEMO";

const char kDemoCollections[] =
    "Name\tArchiveID\tDatabase\tVersion\tPlain text\n"
    "Archive\t1\tQuillarchive_Archive\t1.61\tTrue\n"
    "Contracts\t2\tQuillarchive_Contracts\t1.55\tTrue\n"
    "Letters\t3\tQuillarchive_Letters\t1.50\t\n"
    "Minutes\t4\tQuillarchive_Minutes\t1.41\t\n"
    "Projects\t5\tQuillarchive_Projects\t1.61\tTrue\n";

// The demonstration's drive C: as a folder of the test.
class AdminDemoTest : public AdminDemoProcessTest {
 protected:
  std::filesystem::path OnDriveC(const std::string& relative) {
    return root_ / "sandbox" / "DEMO" / "drives" / "C" / relative;
  }

  // Runs a batch on the demonstration server as its administrator.
  void SandboxSql(const std::string& batch) {
    ASSERT_EQ(RunSandbox({"sql", "-S", kDemo, "-Q", batch}), 0) << batch;
  }
};

// Master keeps the login hashes and the collections the archive: nothing the demonstration
// makes may be readable by another user of the machine.
TEST_F(AdminDemoTest, EverythingTheDemonstrationMakesIsTheOwnersAlone) {
  namespace fs = std::filesystem;
  int checked = 0;
  for (const auto& item : fs::recursive_directory_iterator(root_ / "sandbox")) {
    const fs::perms others = fs::perms::group_all | fs::perms::others_all;
    EXPECT_EQ(item.symlink_status().permissions() & others, fs::perms::none) << item.path();
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

TEST_F(AdminDemoTest, DemoRegistersItsServerAndRunningItAgainGivesTheSameState) {
  EXPECT_TRUE(Contains(demo_out_, "is registered as ServerID 1")) << demo_out_;
  EXPECT_TRUE(Contains(demo_out_, "--login reader --password tessera")) << demo_out_;

  const std::string servers =
      "Position\tServerID\tData source\tLogin\tConnected\tPlatform\tService\n"
      "1\t1\t(sandbox)\\DEMO\tWindows\tyes\tNT INTEL X86\trunning\n";
  EXPECT_EQ(Ok({"server", "list", "--tsv"}).out, servers);
  EXPECT_EQ(Collections(kDemo), kDemoCollections);

  std::string logins = Ok({"--tsv", "login", "list", "1"}).out;
  for (const char* row :
       {"archive_admin\tStandard\tGrant", "creator\tStandard\tGrant", "security\tStandard\tGrant",
        "reader\tStandard\tGrant", "SANDBOX\\maria\tWindows User\tGrant",
        "BUILTIN\\Users\tWindows Group\tGrant", "SANDBOX\\former\tWindows User\tDeny"}) {
    EXPECT_TRUE(Contains(logins, "\n" + std::string(row) + "\n")) << row << "\n" << logins;
  }
  std::string users = Ok({"--tsv", "user", "list", "1", "Archive"}).out;
  EXPECT_TRUE(Contains(users, "\nSANDBOX\\maria\tSANDBOX\\maria\tGrant\n")) << users;
  EXPECT_TRUE(Contains(users, "\narchive_admin\tarchive_admin\tBy group membership\n")) << users;

  EXPECT_EQ(LinesStartingWith(Ok({"--tsv", "fulltext", "status", "1", "Archive"}).out,
                              "Name of the full-text index"),
            std::vector<std::string>{"Name of the full-text index\tDoc_Desc"});
  EXPECT_EQ(Ok({"--tsv", "fulltext", "status", "1", "Projects"}).out,
            "Name\tValue\nStatus\tFull-text indexing is not active.\n");

  // Changed, then refreshed: the same collections and logins, still one registration.
  Ok({"collection", "create", "1", "Extra", "C:\\Data\\Extra"});
  Ok({"--yes", "login", "remove", "1", "security"});
  RunResult again = Ok({"demo"});
  EXPECT_TRUE(Contains(again.err, "Removed the previous demonstration instance.")) << again.err;
  EXPECT_EQ(Ok({"server", "list", "--tsv"}).out, servers);
  EXPECT_EQ(Collections(), kDemoCollections);
  EXPECT_EQ(Ok({"--tsv", "login", "list", "1"}).out, logins);
}

TEST_F(AdminDemoTest, ACollectionsLifeSendsTheStatementsOfTheConsole) {
  RunResult create = Ok({"--trace-sql", "collection", "create", "1", "Sales", "C:\\Data\\Sales"});
  EXPECT_EQ(create.out,
            "Created the collection Sales (ArchiveID 6, database Quillarchive_Sales) with its "
            "data file C:\\Data\\Sales.mdf.\n");
  // Without a terminal the progress is its caption and line, no bar.
  EXPECT_TRUE(Contains(create.err,
                       "\nCreate New Network Collection\n  Creating the network "
                       "collection. Please wait...\n["));
  EXPECT_FALSE(Contains(create.err, "%"));
  std::vector<std::string> on_master = LinesStartingWith(create.err, "[1 (sandbox)\\DEMO/master] ");
  std::vector<std::string> creation;
  for (const std::string& line : on_master) {
    if (Contains(line, "Sales")) creation.push_back(line);
  }
  EXPECT_EQ(creation,
            (std::vector<std::string>{
                "[1 (sandbox)\\DEMO/master] CREATE DATABASE Sales ON ( NAME = Sales, FILENAME = "
                "'C:\\Data\\Sales.mdf')",
                "[1 (sandbox)\\DEMO/master] sp_renamedb @dbname ='Sales' , @newname = "
                "'Quillarchive_Sales'"}));
  EXPECT_TRUE(Contains(Collections(), "\nSales\t6\tQuillarchive_Sales\t1.61\tTrue\n"));

  RunResult rename = Ok({"--trace-sql", "collection", "rename", "1", "Sales", "Revenue"});
  EXPECT_EQ(rename.out, "Renamed the collection Sales to Revenue.\n");
  EXPECT_EQ(LinesStartingWith(rename.err, "[1 (sandbox)\\DEMO/master] sp_renamedb"),
            std::vector<std::string>{"[1 (sandbox)\\DEMO/master] sp_renamedb @dbname "
                                     "='Quillarchive_Sales' , @newname = 'Quillarchive_Revenue'"});

  RunResult detach = Ok({"--yes", "--trace-sql", "collection", "detach", "1", "Revenue"});
  EXPECT_TRUE(Contains(detach.err,
                       "\n[1 (sandbox)\\DEMO/master] sp_detach_db "
                       "@dbname='Quillarchive_Revenue';\n"))
      << detach.err;
  EXPECT_FALSE(Contains(Collections(), "Revenue"));
  EXPECT_TRUE(std::filesystem::exists(OnDriveC("Data/Sales.mdf")));

  RunResult attach =
      Ok({"--trace-sql", "collection", "attach", "1", "Revenue", "C:\\Data\\Sales.mdf"});
  EXPECT_TRUE(Contains(attach.err,
                       "\n[1 (sandbox)\\DEMO/master] EXEC sp_attach_single_file_db "
                       "'Quillarchive_Revenue', 'C:\\Data\\Sales.mdf'\n"))
      << attach.err;
  EXPECT_TRUE(Contains(Collections(), "\nRevenue\t6\tQuillarchive_Revenue\t1.61\tTrue\n"));

  // Attaching the same file again is refused before anything is sent.
  RunResult twice = Run({"collection", "attach", "1", "Other", "C:\\Data\\Sales.mdf"});
  EXPECT_EQ(twice.exit_code, 1);
  EXPECT_TRUE(Contains(twice.err, "is already opened")) << twice.err;

  // Without a terminal and without --yes, deleting takes the default answer, No.
  RunResult declined = Run({"collection", "delete", "1", "Revenue"});
  EXPECT_EQ(declined.exit_code, 1);
  EXPECT_TRUE(Contains(declined.err, Shown(45, {"Revenue"}) + "\n-> No (default)")) << declined.err;
  EXPECT_TRUE(Contains(Collections(), "\nRevenue\t"));

  RunResult drop = Ok({"--yes", "--trace-sql", "collection", "delete", "1", "Revenue"});
  EXPECT_TRUE(Contains(drop.err,
                       "\n[1 (sandbox)\\DEMO/master] DROP DATABASE "
                       "Quillarchive_Revenue\n"))
      << drop.err;
  EXPECT_EQ(Collections(), kDemoCollections);
  EXPECT_FALSE(std::filesystem::exists(OnDriveC("Data/Sales.mdf")));
}

TEST_F(AdminDemoTest, OldCollectionsAreUpgradedAndGetTheirPlainText) {
  EXPECT_EQ(Ok({"--yes", "collection", "upgrade", "1", "Contracts"}).out,
            "Upgraded the collection Contracts from format 1.55 to 1.61.\n");
  // Below 1.50 the plain text waits for the upgrade.
  RunResult too_old = Run({"collection", "plaintext", "1", "Minutes"});
  EXPECT_EQ(too_old.exit_code, 1);
  EXPECT_TRUE(Contains(too_old.err,
                       "is at format 1.41; plain text is generated from format "
                       "1.50 on, so upgrade it first"))
      << too_old.err;
  EXPECT_EQ(Ok({"--yes", "collection", "upgrade", "1", "Minutes"}).out,
            "Upgraded the collection Minutes from format 1.41 to 1.61.\n"
            "Its documents have no plain text for searching yet: tessera-admin collection "
            "plaintext 1 Minutes\n");
  EXPECT_EQ(Ok({"--yes", "collection", "upgrade", "1", "Archive"}).out,
            "The collection Archive is at format 1.61 already; nothing to upgrade.\n");

  RunResult plain = Ok({"collection", "plaintext", "1", "Letters"});
  EXPECT_EQ(plain.out, "Generated the plain text of the collection Letters.\n");
  // Without a terminal the progress is shown as lines.
  EXPECT_TRUE(Contains(plain.err, "items processed\n")) << plain.err;

  EXPECT_EQ(Collections(),
            "Name\tArchiveID\tDatabase\tVersion\tPlain text\n"
            "Archive\t1\tQuillarchive_Archive\t1.61\tTrue\n"
            "Contracts\t2\tQuillarchive_Contracts\t1.61\tTrue\n"
            "Letters\t3\tQuillarchive_Letters\t1.50\tTrue\n"
            "Minutes\t4\tQuillarchive_Minutes\t1.61\t\n"
            "Projects\t5\tQuillarchive_Projects\t1.61\tTrue\n");
  std::string properties = Ok({"--tsv", "collection", "properties", "1", "Letters"}).out;
  EXPECT_TRUE(Contains(properties, "\nSearch in PlainText\tTrue\n")) << properties;
  EXPECT_TRUE(Contains(properties, "\nVersion\t1.50\n")) << properties;
}

TEST_F(AdminDemoTest, RemovingALoginAsksAndRemovesItsUsersFirst) {
  RunResult declined = Run({"login", "remove", "1", "security"});
  EXPECT_EQ(declined.exit_code, 1);
  EXPECT_TRUE(Contains(declined.err, Shown(60, {"security"}) + "\n-> No (default)"))
      << declined.err;
  EXPECT_TRUE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\nsecurity\tStandard\tGrant\n"));

  RunResult removed = Ok({"--yes", "--trace-sql", "login", "remove", "1", "security"});
  EXPECT_EQ(removed.out, "Removed the login security from (sandbox)\\DEMO.\n");
  std::vector<std::string> removals;
  for (const std::string& line : Lines(removed.err)) {
    if (Contains(line, "sp_revokedbaccess") || Contains(line, "sp_droplogin")) {
      removals.push_back(line);
    }
  }
  EXPECT_EQ(removals,
            (std::vector<std::string>{
                "[1 (sandbox)\\DEMO/Quillarchive_Archive] EXEC sp_revokedbaccess 'security'",
                "[1 (sandbox)\\DEMO/Quillarchive_Contracts] EXEC sp_revokedbaccess 'security'",
                "[1 (sandbox)\\DEMO/Quillarchive_Letters] EXEC sp_revokedbaccess 'security'",
                "[1 (sandbox)\\DEMO/Quillarchive_Minutes] EXEC sp_revokedbaccess 'security'",
                "[1 (sandbox)\\DEMO/Quillarchive_Projects] EXEC sp_revokedbaccess 'security'",
                "[1 (sandbox)\\DEMO/master] EXEC master..sp_droplogin 'security'"}));
  EXPECT_FALSE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\nsecurity\t"));
  EXPECT_FALSE(Contains(Ok({"--tsv", "user", "list", "1", "Letters"}).out, "\nsecurity\t"));

  RunResult unknown = Run({"--yes", "login", "remove", "1", "nobody'; --"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_TRUE(Contains(unknown.err, "lists no login 'nobody'; --'")) << unknown.err;

  // A collection user goes alone; the login stays.
  RunResult user = Ok({"--yes", "user", "remove", "1", "Archive", "SANDBOX\\peter"});
  EXPECT_EQ(user.out, "Removed the user SANDBOX\\peter from the collection Archive.\n");
  EXPECT_FALSE(Contains(Ok({"--tsv", "user", "list", "1", "Archive"}).out, "SANDBOX\\peter"));
  EXPECT_TRUE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\nSANDBOX\\peter\t"));
}

TEST_F(AdminDemoTest, UnattendedRemovalsAndStopsAnswerNoWhateverTheConsoleDefault) {
  // These questions default to Yes in the console; a script without --yes must not act on them.
  const std::string servers = Ok({"--tsv", "server", "list"}).out;
  const std::string users = Ok({"--tsv", "user", "list", "1", "Archive"}).out;
  const std::string full_text = Ok({"--tsv", "fulltext", "status", "1", "Archive"}).out;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"collection", "detach", "1", "Projects"}, Shown(42, {"Projects", kDemo})},
      {{"user", "remove", "1", "Archive", "SANDBOX\\peter"}, Shown(57, {"SANDBOX\\peter"})},
      {{"fulltext", "remove", "1", "Archive"}, Shown(345, {"Archive"})},
      {{"server", "stop", "1"}, Shown(66, {kDemo})},
      {{"server", "remove", "1"}, Shown(48, {kDemo})},
  };
  for (const auto& [args, question] : cases) {
    RunResult declined = Run(args);
    EXPECT_EQ(declined.exit_code, 1) << args[0] << " " << args[1];
    EXPECT_EQ(declined.out, "") << args[0] << " " << args[1];
    EXPECT_TRUE(Contains(declined.err, question + "\n-> No (default)\n")) << declined.err;
  }
  EXPECT_EQ(Ok({"--tsv", "server", "list"}).out, servers);
  EXPECT_EQ(Collections(), kDemoCollections);
  EXPECT_EQ(Ok({"--tsv", "user", "list", "1", "Archive"}).out, users);
  EXPECT_EQ(Ok({"--tsv", "fulltext", "status", "1", "Archive"}).out, full_text);
}

TEST_F(AdminDemoTest, StartStopAndIndexVerbsWithNothingToDoSaySoAndAskNothing) {
  RunResult running = Ok({"--yes", "server", "start", "1"});
  EXPECT_EQ(running.out, "(sandbox)\\DEMO is running already.\n");
  EXPECT_FALSE(Contains(running.err, Shown(64, {kDemo}))) << running.err;

  RunResult indexed = Ok({"--yes", "--trace-sql", "fulltext", "create", "1", "Archive"});
  EXPECT_EQ(indexed.out,
            "The collection Archive has a full-text index already; nothing to create.\n");
  EXPECT_FALSE(Contains(indexed.err, Shown(344, {"Archive"}))) << indexed.err;
  RunResult unindexed = Ok({"--yes", "fulltext", "remove", "1", "Projects"});
  EXPECT_EQ(unindexed.out, "The collection Projects has no full-text index; nothing to remove.\n");
  EXPECT_FALSE(Contains(unindexed.err, Shown(345, {"Projects"}))) << unindexed.err;

  EXPECT_EQ(Ok({"--yes", "server", "stop", "1"}).out, "Stopped (sandbox)\\DEMO.\n");
  EXPECT_EQ(Ok({"--yes", "server", "stop", "1"}).out, "(sandbox)\\DEMO is stopped already.\n");
  EXPECT_EQ(Ok({"--yes", "server", "start", "1"}).out, "Started (sandbox)\\DEMO.\n");

  // A service in no known state is neither started nor stopped, and that is a failure.
  Run({"server", "add", "(sandbox)\\NOSUCH"});
  RunResult unknown = Run({"--yes", "server", "start", "2"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_TRUE(Contains(unknown.err,
                       "the service state of (sandbox)\\NOSUCH is unknown; it cannot be "
                       "started now"))
      << unknown.err;
}

TEST_F(AdminDemoTest, ARenameInLetterCaseAloneIsRefusedWithAReason) {
  for (const char* same : {"archive", "ARCHIVE", "quillarchive_Archive"}) {
    RunResult refused = Run({"collection", "rename", "1", "Archive", same});
    EXPECT_EQ(refused.exit_code, 1) << same;
    EXPECT_TRUE(Contains(refused.err,
                         "the collection Archive has that name already; a new name must "
                         "differ in more than letter case"))
        << same << "\n"
        << refused.err;
  }
  EXPECT_EQ(Collections(), kDemoCollections);
}

TEST_F(AdminDemoTest, ALoginWithoutRolesIsRefusedBeforeAnyQuestionAndNothingChanges) {
  EXPECT_EQ(Ok({"server", "add", kDemo, "--login", "reader", "--password", "tessera"}).out,
            "Registered (sandbox)\\DEMO as ServerID 2, connected as reader.\n");
  // The data source alone no longer names one registration.
  RunResult ambiguous = Run({"collection", "list", kDemo});
  EXPECT_EQ(ambiguous.exit_code, 1);
  EXPECT_TRUE(Contains(ambiguous.err,
                       "'(sandbox)\\DEMO' is registered 2 times; name the "
                       "registration by its ServerID (1, 2)"))
      << ambiguous.err;
  // The reader sees what the administrator sees.
  EXPECT_EQ(Collections("2"), kDemoCollections);

  struct Refusal {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Refusal> refusals = {
      {{"collection", "detach", "2", "Archive"}, Shown(43, {kDemo})},
      {{"collection", "delete", "2", "Archive"}, Shown(46, {kDemo})},
      {{"collection", "create", "2", "Extra", "C:\\Data\\Extra"}, Shown(39, {kDemo})},
      {{"collection", "attach", "2", "Extra", "C:\\Data\\Archive.mdf"}, Shown(55, {kDemo})},
      {{"collection", "shrink-log", "2", "Archive"}, Shown(40)},
      {{"collection", "upgrade", "2", "Contracts"}, Shown(40)},
      {{"fulltext", "create", "2", "Projects"}, Shown(40)},
      {{"fulltext", "remove", "2", "Archive"}, Shown(40)},
      {{"login", "remove", "2", "creator"}, Shown(61, {kDemo})},
      {{"user", "remove", "2", "Archive", "creator"}, Shown(58, {"Archive"})},
  };
  for (const Refusal& refusal : refusals) {
    std::vector<std::string> args = refusal.args;
    args.insert(args.begin(), "--yes");
    RunResult run = Run(args);
    SCOPED_TRACE(args[1] + " " + args[2]);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(
        Contains(run.err, "Tessera Server Manager (Information)\n" + refusal.message + "\n-> OK"))
        << run.err;
    // The refusal comes first: nothing was asked.
    EXPECT_FALSE(Contains(run.err, "(Question)")) << run.err;
  }

  EXPECT_EQ(Collections(), kDemoCollections);
  EXPECT_TRUE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\ncreator\tStandard\tGrant\n"));
  EXPECT_TRUE(Contains(Ok({"--tsv", "user", "list", "1", "Archive"}).out, "\ncreator\t"));
  EXPECT_EQ(Ok({"--tsv", "fulltext", "status", "1", "Projects"}).out,
            "Name\tValue\nStatus\tFull-text indexing is not active.\n");
  EXPECT_TRUE(Contains(Ok({"--tsv", "fulltext", "status", "1", "Archive"}).out,
                       "\nName of the full-text index\tDoc_Desc\n"));
}

TEST_F(AdminDemoTest, ALoginListsTheCollectionsItMayOpenAndIsToldOfTheOthers) {
  SandboxSql(
      "EXEC sp_addlogin 'outsider', 'pw' USE Quillarchive_Archive EXEC sp_grantdbaccess "
      "'outsider'");
  Ok({"server", "add", kDemo, "--login", "outsider", "--password", "pw"});
  RunResult list = Ok({"--tsv", "collection", "list", "2"});
  std::vector<std::string> rows = Lines(list.out);
  ASSERT_EQ(rows.size(), 2u) << list.out;
  EXPECT_TRUE(rows[1].starts_with("Archive\t1\tQuillarchive_Archive\t")) << list.out;
  for (const char* other : {"Contracts", "Letters", "Minutes", "Projects"}) {
    EXPECT_TRUE(Contains(list.err, "tessera-admin: the collection " + std::string(other) +
                                       " (Quillarchive_" + other + ") could not be opened: "))
        << other << "\n"
        << list.err;
  }
  EXPECT_EQ(Collections(), kDemoCollections);
}

TEST_F(AdminDemoTest, LoginsWithOneServerRoleDoWhatTheRoleAllows) {
  Ok({"server", "add", kDemo, "--login", "creator", "--password", "tessera"});
  Ok({"server", "add", kDemo, "--login", "security", "--password", "tessera"});

  // A dbcreator drops a collection it does not own; it may KILL no session, so the product
  // closes its own connection to the collection instead of killing it.
  RunResult deleted = Ok({"--yes", "--trace-sql", "collection", "delete", "2", "Letters"});
  EXPECT_EQ(deleted.out, "Deleted the collection Letters.\n");
  EXPECT_TRUE(LinesStartingWith(deleted.err, "[2 (sandbox)\\DEMO/master] KILL").empty())
      << deleted.err;
  EXPECT_FALSE(Contains(Collections(), "Letters"));
  // Its index only the owner may remove; dropping the database takes it along.
  EXPECT_EQ(Ok({"--yes", "collection", "delete", "2", "Archive"}).out,
            "Deleted the collection Archive.\n");
  EXPECT_FALSE(Contains(Collections(), "\nArchive\t"));

  // The db_owner of a collection shrinks its log (message 40 says db_owner suffices).
  EXPECT_EQ(Ok({"--yes", "collection", "shrink-log", "2", "Projects"}).out,
            "Shrank the log file of Projects.\n");

  // A securityadmin removes a login: databases it may not enter (model) are passed by.
  EXPECT_EQ(Ok({"--yes", "login", "remove", "3", "SANDBOX\\former"}).out,
            "Removed the login SANDBOX\\former from (sandbox)\\DEMO.\n");
  EXPECT_FALSE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\nSANDBOX\\former\t"));
  // A user of the login in such a database makes the server refuse, in its own words.
  SandboxSql("EXEC sp_addlogin 'lodger', 'pw' USE model EXEC sp_grantdbaccess 'lodger'");
  RunResult refused = Run({"--yes", "login", "remove", "3", "lodger"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(Contains(refused.err,
                       "Login 'lodger' is aliased or mapped to a user in one or more "
                       "database(s)."))
      << refused.err;
  EXPECT_TRUE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\nlodger\tStandard\tGrant\n"));
}

TEST_F(AdminDemoTest, AnIncompleteCollectionIsShownSoNeverUpgradedAndDeleted) {
  // A collection whose creation stopped before its template document.
  SandboxSql("USE Quillarchive_Minutes DELETE FROM Document WHERE EntryID = 1");
  RunResult list = Ok({"--tsv", "collection", "list", "1"});
  EXPECT_TRUE(Contains(list.out, "\nMinutes\t4\tQuillarchive_Minutes\t1.41 (incomplete)\t\n"))
      << list.out;
  EXPECT_TRUE(Contains(list.err,
                       "tessera-admin: the collection Minutes is incomplete (it has no template "
                       "document); 'tessera-admin collection delete 1 Minutes' removes it\n"))
      << list.err;

  RunResult upgrade = Run({"--yes", "collection", "upgrade", "1", "Minutes"});
  EXPECT_EQ(upgrade.exit_code, 1);
  EXPECT_TRUE(Contains(upgrade.err,
                       "the collection Minutes is incomplete (it has no template document) and "
                       "is not upgraded"))
      << upgrade.err;
  RunResult check = Run({"--tsv", "check"});
  EXPECT_TRUE(Contains(check.out,
                       "\tMinutes\t1.41\t\tincomplete (it has no template document); not "
                       "upgraded: delete it with 'collection delete'\n"))
      << check.out;
  EXPECT_FALSE(Contains(check.err, Shown(315, {"Minutes"}))) << check.err;

  EXPECT_EQ(Ok({"--yes", "collection", "delete", "1", "Minutes"}).out,
            "Deleted the collection Minutes.\n");
  EXPECT_FALSE(Contains(Collections(), "Minutes"));
}

TEST_F(AdminDemoTest, CheckDeclinesWithoutATerminalAndConvertsWithYes) {
  // Declined offers are left undone: status 1.
  RunResult unattended = Run({"--tsv", "check"});
  EXPECT_EQ(unattended.exit_code, 1);
  EXPECT_EQ(unattended.out,
            "ServerID\tServer\tCollection\tVersion\tQuestion\tOutcome\n"
            "1\t(sandbox)\\DEMO\tArchive\t1.61\t\tup to date\n"
            "1\t(sandbox)\\DEMO\tContracts\t1.55\t352\tupgrade declined\n"
            "1\t(sandbox)\\DEMO\tLetters\t1.50\t348, 316\tupgrade declined; plain text declined\n"
            "1\t(sandbox)\\DEMO\tMinutes\t1.41\t315\tupgrade declined\n"
            "1\t(sandbox)\\DEMO\tProjects\t1.61\t\tup to date\n");
  EXPECT_TRUE(Contains(unattended.err, "No terminal and no --yes: every offer is answered No."));
  // The questions of the start-up check, each answered No.
  std::vector<std::string> questions = {Shown(352, {"Contracts", "155", "161"}),
                                        Shown(348, {"Letters"}), Shown(316, {"Letters"}),
                                        Shown(315, {"Minutes"})};
  size_t at = 0;
  for (const std::string& question : questions) {
    size_t found = unattended.err.find(question + "\n-> No (default)\n", at);
    EXPECT_NE(found, std::string::npos) << question << "\n" << unattended.err;
    if (found != std::string::npos) at = found;
  }
  EXPECT_EQ(LinesStartingWith(unattended.err, "-> ").size(), 4u) << unattended.err;
  EXPECT_EQ(Collections(), kDemoCollections);

  // A login that may not upgrade (message 40) but may write the documents goes first: the
  // collection at 1.50 gets its plain text. The administrator's registration upgrades the rest,
  // and a collection upgraded without plain text is offered it at once.
  Ok({"server", "add", kDemo, "--login", "creator", "--password", "tessera"});
  Ok({"server", "move", "2", "1"});
  RunResult run = Run({"--yes", "--tsv", "check"});
  EXPECT_EQ(run.exit_code, 1) << run.err;  // the refusals
  EXPECT_EQ(
      run.out,
      "ServerID\tServer\tCollection\tVersion\tQuestion\tOutcome\n"
      "2\t(sandbox)\\DEMO\tArchive\t1.61\t\tup to date\n"
      "2\t(sandbox)\\DEMO\tContracts\t1.55\t352\tupgrade refused: no permission\n"
      "2\t(sandbox)\\DEMO\tLetters\t1.50\t348, 316\tupgrade refused: no permission; plain text "
      "generated\n"
      "2\t(sandbox)\\DEMO\tMinutes\t1.41\t315\tupgrade refused: no permission\n"
      "2\t(sandbox)\\DEMO\tProjects\t1.61\t\tup to date\n"
      "1\t(sandbox)\\DEMO\tArchive\t1.61\t\tup to date\n"
      "1\t(sandbox)\\DEMO\tContracts\t1.55\t352\tupgraded\n"
      "1\t(sandbox)\\DEMO\tLetters\t1.50\t348\tupgraded\n"
      "1\t(sandbox)\\DEMO\tMinutes\t1.41\t315, 316\tupgraded; plain text generated\n"
      "1\t(sandbox)\\DEMO\tProjects\t1.61\t\tup to date\n");
  EXPECT_EQ(Collections(),
            "Name\tArchiveID\tDatabase\tVersion\tPlain text\n"
            "Archive\t1\tQuillarchive_Archive\t1.61\tTrue\n"
            "Contracts\t2\tQuillarchive_Contracts\t1.61\tTrue\n"
            "Letters\t3\tQuillarchive_Letters\t1.61\tTrue\n"
            "Minutes\t4\tQuillarchive_Minutes\t1.61\tTrue\n"
            "Projects\t5\tQuillarchive_Projects\t1.61\tTrue\n");

  // Nothing is left to offer.
  RunResult after = Ok({"--yes", "--tsv", "check"});
  for (const std::string& line : Lines(after.out)) {
    if (line.rfind("ServerID", 0) != 0) {
      EXPECT_TRUE(line.ends_with("\tup to date")) << line;
    }
  }
}

TEST_F(AdminDemoTest, HostileCollectionNamesAreRefusedOrHandledSafely) {
  for (const char* name : {"x'; DROP DATABASE master;--", "a[b]", "Semi;colon", "Quote\"s"}) {
    RunResult refused = Run({"collection", "create", "1", name, "C:\\Data\\Hostile"});
    EXPECT_EQ(refused.exit_code, 1) << name;
    EXPECT_TRUE(Contains(refused.err, Shown(126))) << name << "\n" << refused.err;
  }
  RunResult no_folder = Run({"collection", "create", "1", "Good", "nofolder"});
  EXPECT_EQ(no_folder.exit_code, 1);
  EXPECT_TRUE(Contains(no_folder.err, Shown(130))) << no_folder.err;
  RunResult in_use = Run({"collection", "create", "1", "Archive", "C:\\Data\\Other"});
  EXPECT_EQ(in_use.exit_code, 1);
  EXPECT_TRUE(Contains(in_use.err, Shown(127))) << in_use.err;
  EXPECT_EQ(Collections(), kDemoCollections);

  RunResult missing = Run({"collection", "properties", "1", "'; DROP TABLE Document;--"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_TRUE(Contains(missing.err, "has no collection ''; DROP TABLE Document;--'"))
      << missing.err;
}

TEST_F(AdminDemoTest, RegistrationsAreAddedEditedMovedAndRemoved) {
  // The same registration again is the one there is: Windows authentication, as the local
  // account of the sandbox machine.
  RunResult again = Ok({"server", "add", kDemo});
  EXPECT_TRUE(again.out.starts_with(
      "Already registered: (sandbox)\\DEMO as ServerID 1, connected as SANDBOX\\"))
      << again.out;

  // A machine that does not answer is not registered (the machine check, message 211).
  RunResult no_machine = Run({"server", "add", "nosuchhost.invalid"});
  EXPECT_EQ(no_machine.exit_code, 1);
  EXPECT_TRUE(Contains(no_machine.err, Shown(211, {"nosuchhost.invalid"}))) << no_machine.err;

  // A registration whose server cannot be reached is stored all the same.
  RunResult unreachable = Run({"server", "add", "(sandbox)\\NOSUCH"});
  EXPECT_EQ(unreachable.exit_code, 1);
  EXPECT_TRUE(Contains(unreachable.err, "could not be connected")) << unreachable.err;
  EXPECT_EQ(Ok({"--tsv", "server", "list"}).out,
            "Position\tServerID\tData source\tLogin\tConnected\tPlatform\tService\n"
            "1\t1\t(sandbox)\\DEMO\tWindows\tyes\tNT INTEL X86\trunning\n"
            "2\t2\t(sandbox)\\NOSUCH\tWindows\tno\t\tunknown\n");
  Ok({"server", "move", "2", "1"});
  // A position past the end places it last, and the report says so.
  EXPECT_EQ(Ok({"server", "move", "1", "99"}).out, "Moved (sandbox)\\DEMO to position 2.\n");
  EXPECT_EQ(Lines(Ok({"--tsv", "server", "list"}).out)[1],
            "1\t2\t(sandbox)\\NOSUCH\tWindows\tno\t\tunknown");
  RunResult removed = Ok({"--yes", "server", "remove", "(sandbox)\\nosuch"});
  EXPECT_TRUE(Contains(removed.err, Shown(48, {"(sandbox)\\NOSUCH"}))) << removed.err;
  EXPECT_EQ(Lines(Ok({"--tsv", "server", "list"}).out).size(), 2u);

  // Logged in as the reader, creating is refused; back with Windows authentication it works.
  Ok({"server", "edit", "1", "--login", "reader", "--password", "tessera"});
  RunResult refused = Run({"collection", "create", "1", "Extra", "C:\\Data\\Extra"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(Contains(refused.err, Shown(39, {kDemo}))) << refused.err;
  Ok({"server", "edit", "1", "--integrated"});
  Ok({"collection", "create", "1", "Extra", "C:\\Data\\Extra"});

  // Stopping the service disconnects; starting it connects again.
  EXPECT_EQ(Ok({"--yes", "server", "stop", "1"}).out, "Stopped (sandbox)\\DEMO.\n");
  EXPECT_EQ(Lines(Ok({"--tsv", "server", "list"}).out)[1],
            "1\t1\t(sandbox)\\DEMO\tWindows\tno\t\tstopped");
  RunResult stopped = Run({"collection", "list", "1"});
  EXPECT_EQ(stopped.exit_code, 1);
  EXPECT_TRUE(Contains(stopped.err, "is not connected")) << stopped.err;
  EXPECT_EQ(Ok({"--yes", "server", "start", "1"}).out, "Started (sandbox)\\DEMO.\n");
  EXPECT_EQ(Lines(Ok({"--tsv", "server", "list"}).out)[1],
            "1\t1\t(sandbox)\\DEMO\tWindows\tyes\tNT INTEL X86\trunning");

  std::string properties = Ok({"--tsv", "server", "properties", "1"}).out;
  EXPECT_TRUE(Contains(properties,
                       "\nAuthentication mode\tSQL Server and Windows "
                       "Authentication\n"))
      << properties;
  EXPECT_TRUE(Contains(properties, "\nProductVersion\t8.00.2039\n")) << properties;
}

TEST_F(AdminProcessTest, UsageErrorsAndUnknownServers) {
  RunResult no_verb = Run({"collection"});
  EXPECT_EQ(no_verb.exit_code, 2);
  EXPECT_EQ(no_verb.out, "");
  EXPECT_EQ(no_verb.err,
            "tessera-admin: 'collection' needs a verb\nTry 'tessera-admin collection --help'.\n");

  RunResult position = Run({"server", "move", "1", "0"});
  EXPECT_EQ(position.exit_code, 2);
  EXPECT_TRUE(Contains(position.err, "the position must be a whole number from 1 on, not '0'"))
      << position.err;

  RunResult help = Run({"server", "add", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(
      help.out.starts_with("Usage: tessera-admin [--yes] [--trace-sql] [--tsv] server "
                           "add DATA_SOURCE [OPTIONS]\n"))
      << help.out;

  EXPECT_EQ(Ok({"--tsv", "server", "list"}).out,
            "Position\tServerID\tData source\tLogin\tConnected\tPlatform\tService\n");
  // A registry store that cannot be opened is named, and nothing runs.
  std::filesystem::remove(root_ / "registry.db");
  std::filesystem::create_directories(root_ / "registry.db");
  RunResult store = Run({"server", "list"});
  EXPECT_EQ(store.exit_code, 1);
  EXPECT_EQ(store.out, "");
  EXPECT_TRUE(Contains(store.err, "tessera-admin: Cannot open the registry store")) << store.err;
  std::filesystem::remove_all(root_ / "registry.db");

  RunResult unknown = Run({"collection", "list", "7"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_EQ(unknown.err,
            "tessera-admin: no registered server is '7'; 'tessera-admin server list' shows the "
            "registrations\n");
}

TEST_F(AdminProcessTest, RenderTextChoosesTheRendererByTheFileName) {
  const std::string html =
      "<html><body><h1>Invoice</h1><p>Dear <b>Mr. O'Brien</b>;</p><script>x()</script>"
      "<p>Total: 12 &euro;</p></body></html>";
  const std::string mht =
      "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"b\"\r\n\r\n--b\r\n"
      "Content-Type: text/html; charset=\"utf-8\"\r\n\r\n<p>Archived page</p>\r\n--b--\r\n";
  auto write = [&](const std::string& name, const std::string& content) {
    std::filesystem::path path = root_ / name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return path.string();
  };
  std::string page = write("page.htm", html);
  std::string archive = write("Page.MHT.old", mht);
  std::string expected_page = format::HTML2Text(html);
  std::string expected_archive = format::MhtToText(mht);
  ASSERT_NE(expected_page, expected_archive);
  auto with_break = [](std::string text) {
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text;
  };

  RunResult both = Ok({"render-text", page, archive});
  EXPECT_EQ(both.out, with_break(expected_page) + with_break(expected_archive));
  EXPECT_TRUE(Contains(both.out, "Invoice")) << both.out;
  EXPECT_FALSE(Contains(both.out, "x()")) << both.out;

  // A file that cannot be read is named; the others are still rendered.
  RunResult missing = Run({"render-text", (root_ / "missing'; [x].htm").string(), page});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_TRUE(Contains(missing.err, "cannot read the file")) << missing.err;
  EXPECT_EQ(missing.out, with_break(expected_page));
  RunResult folder = Run({"render-text", root_.string()});
  EXPECT_EQ(folder.exit_code, 1);

  EXPECT_EQ(Run({"render-text"}).exit_code, 2);
}

TEST_F(AdminProcessTest, RenderTextReadsEachFileInTheCodePageItDeclares) {
  auto write = [&](const std::string& name, const std::string& text, int code_page) {
    common::Bytes bytes = common::TextToBytes(text, code_page);
    std::filesystem::path path = root_ / name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size() - 1, f);  // without the terminating zero
    std::fclose(f);
    return path.string();
  };
  struct File {
    std::string name;
    std::string html;
    int code_page;
    std::string words;
  };
  const File files[] = {
      {"russian.html", "<meta charset=\"windows-1251\"><p>Привет из Москвы</p>", 1251,
       "Привет из Москвы"},
      {"latin1.htm",
       "<meta http-equiv=Content-Type content=\"text/html; charset=ISO-8859-1\"><p>Grüße aus "
       "Köln</p>",
       28591, "Grüße aus Köln"},
      // Without a declaration, bytes that are not UTF-8 are Windows-1252.
      {"plain.htm", "<p>Grüße aus Köln</p>", 1252, "Grüße aus Köln"},
      {"utf8.htm", "<p>Grüße, 日本語</p>", 65001, "Grüße, 日本語"},
      // A web archive that is plain HTML inside.
      {"saved.mht", "<meta charset=windows-1251>Привет", 1251, "Привет"},
  };
  for (const File& file : files) {
    SCOPED_TRACE(file.name);
    RunResult result = Ok({"render-text", write(file.name, file.html, file.code_page)});
    EXPECT_EQ(result.out, file.words + "\n");
  }
}

}  // namespace
