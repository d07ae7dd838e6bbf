// The demonstration on servers newer than 2000, through tessera-admin as a process: every flow
// works, and the only statements that differ are the log shrink's on servers without
// BACKUP LOG ... WITH TRUNCATE_ONLY.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/admin_process.h"

namespace {

using admin_testing::AdminProcessTest;
using admin_testing::Contains;
using admin_testing::LinesStartingWith;
using admin_testing::RunResult;

constexpr char kDemo[] = "(sandbox)\\DEMO";
constexpr char kOnArchive[] = "[2 (sandbox)\\DEMO/Quillarchive_Archive] ";

class AdminVersionsTest : public AdminProcessTest,
                          public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    AdminProcessTest::SetUp();
    RunResult demo = Run({"demo", "--server-version", GetParam()});
    ASSERT_EQ(demo.exit_code, 0) << demo.out << demo.err;
  }

  int Major() const { return std::stoi(GetParam()); }

  std::string Collections() { return Ok({"--tsv", "collection", "list", "1"}).out; }

  // Statements of a --trace-sql run, without the connection prefix, that start with one of the
  // prefixes.
  static std::vector<std::string> Sent(const std::string& err,
                                       std::initializer_list<const char*> prefixes) {
    std::vector<std::string> out;
    for (const std::string& line : LinesStartingWith(err, "[")) {
      std::string text = line.substr(line.find("] ") + 2);
      for (const char* prefix : prefixes)
        if (text.starts_with(prefix)) out.push_back(text);
    }
    return out;
  }
};

TEST_P(AdminVersionsTest, TheDemonstrationsFlowsWork) {
  std::string properties = Ok({"--tsv", "server", "properties", "1"}).out;
  EXPECT_TRUE(Contains(properties, GetParam())) << properties;

  // Create, rename, detach, attach, delete.
  Ok({"collection", "create", "1", "Sales", "C:\\Data\\Sales"});
  EXPECT_TRUE(Contains(Collections(), "\nSales\t6\tQuillarchive_Sales\t1.61\tTrue\n"));
  EXPECT_EQ(Ok({"collection", "rename", "1", "Sales", "Revenue"}).out,
            "Renamed the collection Sales to Revenue.\n");
  Ok({"--yes", "collection", "detach", "1", "Revenue"});
  EXPECT_FALSE(Contains(Collections(), "Revenue"));
  Ok({"collection", "attach", "1", "Revenue", "C:\\Data\\Sales.mdf"});
  EXPECT_TRUE(Contains(Collections(), "\nRevenue\t6\tQuillarchive_Revenue\t1.61\tTrue\n"));
  Ok({"--yes", "collection", "delete", "1", "Revenue"});
  EXPECT_FALSE(Contains(Collections(), "Revenue"));

  // Upgrade and plain text.
  EXPECT_EQ(Ok({"--yes", "collection", "upgrade", "1", "Contracts"}).out,
            "Upgraded the collection Contracts from format 1.55 to 1.61.\n");
  EXPECT_EQ(Ok({"collection", "plaintext", "1", "Letters"}).out,
            "Generated the plain text of the collection Letters.\n");
  EXPECT_TRUE(Contains(Collections(), "\nLetters\t3\tQuillarchive_Letters\t1.50\tTrue\n"));

  // Full text: the index is removed and made again.
  Ok({"--yes", "fulltext", "remove", "1", "Archive"});
  EXPECT_EQ(Ok({"--tsv", "fulltext", "status", "1", "Archive"}).out,
            "Name\tValue\nStatus\tFull-text indexing is not active.\n");
  Ok({"--yes", "fulltext", "create", "1", "Archive"});
  EXPECT_EQ(LinesStartingWith(Ok({"--tsv", "fulltext", "status", "1", "Archive"}).out,
                              "Name of the full-text index"),
            std::vector<std::string>{"Name of the full-text index\tDoc_Desc"});

  // Logins and users.
  Ok({"login", "add", "1", "clerk", "--sql", "--password", "it's [a]; secret"});
  Ok({"user", "add", "1", "Projects", "clerk"});
  EXPECT_TRUE(Contains(Ok({"--tsv", "user", "list", "1", "Projects"}).out, "\nclerk\tclerk\t"));
  Ok({"--yes", "login", "remove", "1", "clerk"});
  EXPECT_FALSE(Contains(Ok({"--tsv", "login", "list", "1"}).out, "\nclerk\t"));
  EXPECT_FALSE(Contains(Ok({"--tsv", "user", "list", "1", "Projects"}).out, "\nclerk\t"));

  // The log shrink: TRUNCATE_ONLY where the server has it, the recovery model where not.
  RunResult shrink = Ok({"--yes", "--trace-sql", "collection", "shrink-log", "1", "Archive"});
  EXPECT_EQ(shrink.out, "Shrank the log file of Archive.\n");
  std::vector<std::string> sent = Sent(shrink.err, {"BACKUP", "ALTER DATABASE", "SELECT DATA"});
  if (Major() < 10) {
    EXPECT_EQ(sent, std::vector<std::string>{"BACKUP LOG Quillarchive_Archive WITH TRUNCATE_ONLY"});
  } else {
    EXPECT_EQ(sent, (std::vector<std::string>{
                        "SELECT DATABASEPROPERTYEX('Quillarchive_Archive', 'Recovery')",
                        "ALTER DATABASE Quillarchive_Archive SET RECOVERY SIMPLE",
                        "ALTER DATABASE Quillarchive_Archive SET RECOVERY FULL"}));
    EXPECT_TRUE(Contains(shrink.err, std::string("\n") + kOnArchive +
                                         "ALTER DATABASE Quillarchive_Archive SET RECOVERY FULL"))
        << shrink.err;
  }
  EXPECT_EQ(RunSandbox({"sql", "-S", kDemo, "-Q",
                        "IF DATABASEPROPERTYEX('Quillarchive_Archive', 'Recovery') <> 'FULL' "
                        "RAISERROR('recovery model not restored', 16, 1)"}),
            0);
}

INSTANTIATE_TEST_SUITE_P(Versions, AdminVersionsTest,
                         ::testing::Values("9.00.5000", "10.50.6000", "11.00.7001", "15.00.2000"));

TEST_F(AdminProcessTest, TheDemonstrationRefusesAVersionItCannotBe) {
  for (const char* bad : {"6.50.201", "15", "latest", "15.00.2000'; DROP DATABASE master --"}) {
    RunResult refused = Run({"demo", "--server-version", bad});
    EXPECT_NE(refused.exit_code, 0) << bad;
    EXPECT_TRUE(Contains(refused.err, "is not a product version")) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(root_ / "sandbox" / "DEMO")) << bad;
  }
}

}  // namespace
