// tessera-admin verbs against the demonstration server: how collections and registrations are
// named, what a failure says, what unattended runs answer, and the server's folders.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/admin_process.h"

namespace {

using admin_testing::AdminDemoProcessTest;
using admin_testing::Contains;
using admin_testing::Lines;
using admin_testing::LinesStartingWith;
using admin_testing::RunResult;
using admin_testing::Shown;
using admin_testing::Words;

constexpr char kDemo[] = "(sandbox)\\DEMO";

class AdminVerbsTest : public AdminDemoProcessTest {
 protected:
  // Runs a batch on the demonstration server as its administrator.
  void Sql(const std::string& batch, const std::string& database = "master") {
    ASSERT_EQ(RunSandbox({"sql", "-S", kDemo, "-d", database, "-Q", batch}), 0) << batch;
  }
};

// A version that no rung starts from is asked about like any older one, and then left alone:
// the report says so instead of "upgraded from 1.57 to 1.57".
TEST_F(AdminVerbsTest, AVersionNoUpgradeStepStartsFromIsReportedAsUnchanged) {
  Sql("UPDATE ExtendedData SET FieldValue = '1.57' WHERE EntryID = 0 AND ExtFieldID = 3",
      "Quillarchive_Projects");
  RunResult upgrade = Ok({"--yes", "collection", "upgrade", "1", "Projects"});
  EXPECT_EQ(upgrade.out,
            "The collection Projects is at format 1.57, which no upgrade step starts from: it "
            "counts as the current format; nothing to upgrade.\n");

  RunResult check = Run({"--yes", "--tsv", "check"});
  std::vector<std::string> rows = LinesStartingWith(check.out, "1\t(sandbox)\\DEMO\tProjects\t");
  EXPECT_EQ(rows, std::vector<std::string>{"1\t(sandbox)\\DEMO\tProjects\t1.57\t352\tunchanged: "
                                           "no upgrade step starts at format 1.57"})
      << check.out;
}

// A path the wizard refuses never shows the creation's progress text.
TEST_F(AdminVerbsTest, ACreationRefusedForItsPathShowsNoProgress) {
  for (const char* path : {"nofolder", "", "   "}) {
    RunResult refused = Run({"collection", "create", "1", "Good", path});
    EXPECT_EQ(refused.exit_code, 1) << path;
    EXPECT_TRUE(Contains(refused.err, Shown(130))) << path << "\n" << refused.err;
    EXPECT_FALSE(Contains(refused.err, Shown(133))) << path << "\n" << refused.err;
    EXPECT_FALSE(Contains(refused.err, Shown(132))) << path << "\n" << refused.err;
  }
}

// "xQuillarchive_Archive" is listed as "Archive" beside the demonstration's Archive: the display
// name is refused with both database names, and each database name names its collection.
TEST_F(AdminVerbsTest, ADisplayNameOfSeveralCollectionsIsRefusedAndDatabaseNamesAreAccepted) {
  Ok({"collection", "create", "1", "Extra", "C:\\Data\\Extra"});
  Sql("EXEC sp_renamedb 'Quillarchive_Extra', 'xQuillarchive_Archive'");
  const std::string before = Collections();
  ASSERT_TRUE(Contains(before, "\nArchive\t")) << before;
  ASSERT_TRUE(Contains(before, "\txQuillarchive_Archive\t")) << before;

  for (const char* verb : {"delete", "detach", "properties"}) {
    RunResult refused = Run({"--yes", "collection", verb, "1", "Archive"});
    SCOPED_TRACE(verb);
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(Contains(refused.err,
                         "has 2 collections named 'Archive' (Quillarchive_Archive, "
                         "xQuillarchive_Archive); name one by its database name"))
        << refused.err;
    EXPECT_FALSE(Contains(refused.err, "(Question)")) << refused.err;
  }
  EXPECT_EQ(Collections(), before);

  // The database name, in any letter case, wherever a collection is named.
  EXPECT_TRUE(Contains(Ok({"--tsv", "collection", "properties", "1", "xquillarchive_archive"}).out,
                       "\nDatabase name\txQuillarchive_Archive\n"));
  EXPECT_TRUE(Contains(Ok({"--tsv", "user", "list", "1", "Quillarchive_Archive"}).out,
                       "\nSANDBOX\\maria\t"));
  Ok({"--yes", "collection", "delete", "1", "xQuillarchive_Archive"});
  std::string after = Collections();
  EXPECT_FALSE(Contains(after, "xQuillarchive_Archive")) << after;
  EXPECT_TRUE(Contains(after, "\nArchive\t1\tQuillarchive_Archive\t")) << after;
  // One left: the display name names it again.
  Ok({"--tsv", "collection", "properties", "1", "Archive"});
}

// A registration that is not connected says why; the list tells two registrations of one server
// apart by their login.
TEST_F(AdminVerbsTest, UnconnectedRegistrationsSayWhyAndTheListShowsTheLogin) {
  RunResult refused = Run({"server", "add", kDemo, "--login", "reader", "--password", "wrong"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(Contains(refused.err,
                       "The registration was stored, but the server could not be connected "
                       "(ServerID 2): the login failed: Login failed for user 'reader'."))
      << refused.err;
  RunResult list = Run({"collection", "list", "2"});
  EXPECT_EQ(list.exit_code, 1);
  EXPECT_TRUE(Contains(list.err,
                       "is not connected: the login failed: Login failed for user "
                       "'reader'."))
      << list.err;

  Ok({"server", "add", kDemo, "--login", "security", "--password", "tessera"});
  RunResult edited = Run({"server", "edit", "2", "--data-source", "nosuchhost.invalid"});
  EXPECT_TRUE(Contains(edited.err,
                       "could not be connected: the machine name 'nosuchhost.invalid' "
                       "was not found"))
      << edited.err;
  RunResult unresolved = Run({"collection", "list", "2"});
  EXPECT_EQ(unresolved.exit_code, 1);
  EXPECT_TRUE(Contains(unresolved.err,
                       "the server nosuchhost.invalid is not connected: the machine name "
                       "'nosuchhost.invalid' was not found (it has no network address)"))
      << unresolved.err;

  EXPECT_EQ(Ok({"--tsv", "server", "list"}).out,
            "Position\tServerID\tData source\tLogin\tConnected\tPlatform\tService\n"
            "1\t1\t(sandbox)\\DEMO\tWindows\tyes\tNT INTEL X86\trunning\n"
            "2\t2\tnosuchhost.invalid\treader\tno\t\tunknown\n"
            "3\t3\t(sandbox)\\DEMO\tsecurity\tyes\tNT INTEL X86\trunning\n");
}

// The demonstration's suggestions name its registration by ServerID, so they keep working once
// the reader is registered for the same data source.
TEST_F(AdminVerbsTest, TheDemonstrationsSuggestionsWorkWithTheReaderRegistered) {
  Ok({"server", "add", kDemo, "--login", "reader", "--password", "tessera"});
  RunResult again = Ok({"demo"});
  std::vector<std::string> tried;
  for (const std::string& line : LinesStartingWith(again.out, "  tessera-admin ")) {
    if (Contains(line, "server add")) continue;
    std::string command = line.substr(std::string("  tessera-admin ").size());
    command = command.substr(0, command.find("  #"));
    std::vector<std::string> args = Words(command);
    RunResult run = Run(args);
    // check declines the offers unattended (status 1); every other suggestion succeeds.
    if (args.front() != "check") {
      EXPECT_EQ(run.exit_code, 0) << line << "\n" << run.err;
    }
    EXPECT_FALSE(Contains(run.err, "is registered 2 times")) << line << "\n" << run.err;
    tried.push_back(args.front());
  }
  EXPECT_EQ(tried, (std::vector<std::string>{"collection", "check", "user"}));
}

// Unattended (no terminal, no --yes) the questions of shrink-log and upgrade are answered No,
// and nothing changes; check reports the offers it left undone with status 1.
TEST_F(AdminVerbsTest, UnattendedShrinkUpgradeAndCheckAnswerNoAndFail) {
  struct Case {
    std::vector<std::string> args;
    std::string question;
  };
  const std::vector<Case> cases = {
      {{"collection", "shrink-log", "1", "Archive"}, Shown(354, {"Archive"})},
      {{"collection", "upgrade", "1", "Contracts"}, Shown(352, {"Contracts", "155", "161"})},
      {{"collection", "upgrade", "1", "Minutes"}, Shown(315, {"Minutes"})},
  };
  const std::string collections = Collections();
  for (const Case& c : cases) {
    RunResult declined = Run(c.args);
    SCOPED_TRACE(c.args[1] + " " + c.args[3]);
    EXPECT_EQ(declined.exit_code, 1);
    EXPECT_EQ(declined.out, "");
    EXPECT_TRUE(Contains(declined.err, c.question + "\n-> No (default)\n")) << declined.err;
  }
  EXPECT_TRUE(Contains(Run({"collection", "upgrade", "1", "Minutes"}).err,
                       "Without a terminal the upgrade needs --yes."));
  EXPECT_EQ(Collections(), collections);

  RunResult check = Run({"--tsv", "check"});
  EXPECT_EQ(check.exit_code, 1) << check.err;
  EXPECT_TRUE(Contains(check.out, "\tupgrade declined\n")) << check.out;
  EXPECT_EQ(Collections(), collections);
}

// Rename applies the name rules of create and attach before anything is sent.
TEST_F(AdminVerbsTest, RenameRefusesWhatCreateRefusesBeforeSendingAnything) {
  struct Case {
    std::string name;
    int message;
  };
  const std::vector<Case> cases = {
      {"Bad-Name", 126},      {"Has Space", 126}, {"x'y", 126},
      {"O'Brien; [x]", 126},  {"Trail ", 126},    {"Tab\t", 126},
      {"Line\n", 126},        {"Grüße", 126},     {"", 124},
      {"Quillarchive_", 124}, {"Projects", 127},  {std::string(300, 'a') + ";", 126},
  };
  const std::string collections = Collections();
  for (const Case& c : cases) {
    RunResult refused = Run({"--trace-sql", "collection", "rename", "1", "Archive", c.name});
    SCOPED_TRACE(c.name);
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(Contains(refused.err, Shown(c.message))) << refused.err;
    EXPECT_FALSE(Contains(refused.err, "sp_renamedb")) << refused.err;
    EXPECT_FALSE(Contains(refused.err, "(Question)")) << refused.err;
  }
  EXPECT_EQ(Collections(), collections);

  // On SQL Server 7.0 a name may have 11 characters, as when creating.
  ASSERT_EQ(RunSandbox({"init", "--name", "SEVEN", "--version", "7.00.623"}), 0);
  Ok({"server", "add", "(sandbox)\\SEVEN"});
  // 7.0's creation reports the full-text statements it does not know; the collection is there.
  Run({"collection", "create", "2", "Short", "C:\\Short"});
  ASSERT_TRUE(Contains(Collections("2"), "\nShort\t")) << Collections("2");
  RunResult too_long = Run({"collection", "rename", "2", "Short", "SixteenLetters16"});
  EXPECT_EQ(too_long.exit_code, 1);
  EXPECT_TRUE(Contains(too_long.err, Shown(314))) << too_long.err;
  Ok({"collection", "rename", "2", "Short", "Eleven_Char"});
  EXPECT_TRUE(Contains(Collections("2"), "\nEleven_Char\t")) << Collections("2");
}

// A hostile name already on the server (renamed there by other means) is still handled whole.
TEST_F(AdminVerbsTest, AHostileNameOnTheServerIsHandledWhole) {
  Sql("EXEC sp_renamedb 'Quillarchive_Archive', 'Quillarchive_O''Brien; [x]'");
  const std::string hostile = "O'Brien; [x]";
  std::string listed = Collections();
  EXPECT_TRUE(Contains(listed, "\nO'Brien; [x]\t")) << listed;
  EXPECT_TRUE(Contains(Ok({"--tsv", "collection", "properties", "1", hostile}).out,
                       "\nDatabase name\tQuillarchive_O'Brien; [x]\n"));
  EXPECT_TRUE(Contains(Ok({"--tsv", "user", "list", "1", hostile}).out, "\nreader\treader\t"));
  RunResult detach = Ok({"--yes", "--trace-sql", "collection", "detach", "1", hostile});
  EXPECT_TRUE(Contains(detach.err,
                       "[1 (sandbox)\\DEMO/master] sp_detach_db "
                       "@dbname='Quillarchive_O''Brien; [x]';\n"))
      << detach.err;
  Ok({"collection", "attach", "1", "Archive", "C:\\Data\\Archive.mdf"});
  EXPECT_TRUE(Contains(Collections(), "\nArchive\t"));
}

// The server's default data folder, and its drives and folders as the folder browser reads them.
TEST_F(AdminVerbsTest, TheServersFoldersCanBeFound) {
  std::string properties = Ok({"--tsv", "server", "properties", "1"}).out;
  std::vector<std::string> folder = LinesStartingWith(properties, "Default data folder\t");
  ASSERT_EQ(folder.size(), 1u) << properties;
  const std::string data_folder = folder[0].substr(std::string("Default data folder\t").size());
  EXPECT_TRUE(data_folder.starts_with("C:\\")) << data_folder;
  EXPECT_TRUE(data_folder.ends_with("\\")) << data_folder;

  std::string drives = Ok({"--tsv", "server", "folders", "1"}).out;
  EXPECT_TRUE(drives.starts_with("Drive\tFree (MB)\nC:\\\t")) << drives;

  std::string root = Ok({"--tsv", "server", "folders", "1", "C:"}).out;
  EXPECT_TRUE(root.starts_with("Folder\n")) << root;
  EXPECT_TRUE(Contains(root, "\nC:\\Data\\\n")) << root;
  // The default data folder is one the browser lists, and a collection can be created there.
  std::string parent = data_folder.substr(0, data_folder.rfind('\\', data_folder.size() - 2) + 1);
  EXPECT_TRUE(
      Contains(Ok({"--tsv", "server", "folders", "1", parent}).out, "\n" + data_folder + "\n"));
  Ok({"collection", "create", "1", "Fresh", data_folder + "Fresh"});

  // A path is data, whatever it holds.
  RunResult hostile =
      Run({"--trace-sql", "server", "folders", "1", "C:\\x'; DROP DATABASE master;--"});
  EXPECT_TRUE(Contains(hostile.err, "xp_dirtree 'C:\\x''; DROP DATABASE master;--\\', 1, 0"))
      << hostile.err;
  EXPECT_TRUE(Contains(Ok({"--tsv", "server", "folders", "1", "C:/Data"}).out, "Folder\n"));
  EXPECT_TRUE(Contains(Collections(), "\nFresh\t"));

  std::string help = Ok({"collection", "create", "--help"}).out;
  EXPECT_FALSE(Contains(help, "C:\\Data")) << help;
  EXPECT_TRUE(Contains(help, "server folders SERVER [PATH]")) << help;
  // Named, the server gives the example its own folder.
  std::string concrete = Ok({"collection", "create", "1", "--help"}).out;
  EXPECT_TRUE(Contains(concrete, "\n  tessera-admin collection create 1 Projects '" + data_folder +
                                     "Projects.mdf'\n"))
      << concrete;
}

}  // namespace
