// Collections on servers newer than 2000: the log is shrunk through the recovery model where
// BACKUP LOG ... WITH TRUNCATE_ONLY is gone, and every other statement is the one sent to 2000.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "collections/sandbox_fixture.h"

namespace collections {
namespace {

constexpr char kRecovery[] = "SELECT DATABASEPROPERTYEX('Quillarchive_Sales', 'Recovery')";

class VersionsTest : public testing::SandboxFixture,
                     public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override { StartInstance(GetParam(), true); }

  int Major() const { return std::stoi(GetParam()); }

  std::string Recovery() {
    db::Connection connection = Open(testing::kSandboxSa);
    std::string model = Scalar(connection, kRecovery).ToText();
    connection.Close();
    return model;
  }

  void SetRecovery(const std::string& model) {
    db::Connection connection = Open(testing::kSandboxSa);
    connection.Execute("ALTER DATABASE Quillarchive_Sales SET RECOVERY " + model);
    connection.Close();
  }

  // The statements sent since the last Clear that start with one of the prefixes.
  std::vector<std::string> Sent(std::initializer_list<const char*> prefixes) {
    std::vector<std::string> sent;
    for (const std::string& text : log_->Texts()) {
      for (const char* prefix : prefixes)
        if (text.starts_with(prefix)) sent.push_back(text);
    }
    return sent;
  }
};

TEST_P(VersionsTest, TheLogIsShrunkTheWayTheVersionAllowsAndKeepsItsRecoveryModel) {
  std::shared_ptr<Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  EXPECT_EQ(Server().ProductVersion(), Major());
  for (const char* model : {"FULL", "BULK_LOGGED", "SIMPLE"}) {
    SCOPED_TRACE(model);
    SetRecovery(model);
    log_->Clear();
    ASSERT_NO_THROW(sales->ShrinkLogfile());
    std::vector<std::string> sent =
        Sent({"BACKUP", "ALTER DATABASE", "DBCC", "SELECT DATABASEPROPERTYEX"});
    ASSERT_FALSE(sent.empty());
    EXPECT_TRUE(sent.back().starts_with("DBCC SHRINKFILE(") ||
                sent.back().starts_with("ALTER DATABASE"))
        << sent.back();
    if (Major() < 10) {
      ASSERT_EQ(sent.size(), 2u);
      EXPECT_EQ(sent[0], "BACKUP LOG Quillarchive_Sales WITH TRUNCATE_ONLY");
      EXPECT_TRUE(sent[1].starts_with("DBCC SHRINKFILE(")) << sent[1];
    } else if (std::string(model) == "SIMPLE") {
      ASSERT_EQ(sent.size(), 2u);
      EXPECT_EQ(sent[0], kRecovery);
      EXPECT_TRUE(sent[1].starts_with("DBCC SHRINKFILE(")) << sent[1];
    } else {
      ASSERT_EQ(sent.size(), 4u);
      EXPECT_EQ(sent[0], kRecovery);
      EXPECT_EQ(sent[1], "ALTER DATABASE Quillarchive_Sales SET RECOVERY SIMPLE");
      EXPECT_TRUE(sent[2].starts_with("DBCC SHRINKFILE(")) << sent[2];
      EXPECT_EQ(sent[3], "ALTER DATABASE Quillarchive_Sales SET RECOVERY " + std::string(model));
    }
    EXPECT_EQ(Recovery(), model);
  }
}

TEST_P(VersionsTest, AFailingShrinkGivesTheDatabaseItsRecoveryModelBack) {
  std::shared_ptr<Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  SetRecovery("FULL");
  sandbox::Fault fault;
  fault.pattern = "DBCC SHRINKFILE";
  fault.error.number = 50000;
  fault.error.severity = 16;
  fault.error.text = "the disk went away";
  instance_->InjectFault(fault);
  EXPECT_THROW(sales->ShrinkLogfile(), std::exception);
  EXPECT_EQ(Recovery(), "FULL");
  // Nothing is left half-done: the next shrink works.
  EXPECT_NO_THROW(sales->ShrinkLogfile());
  EXPECT_EQ(Recovery(), "FULL");
}

TEST_P(VersionsTest, ACollectionLivesThroughEveryStepWithTheStatementsOf2000) {
  Databases& catalogue = Catalogue();
  std::shared_ptr<Database> sales = Created("Sales", "C:\\Data\\Sales.mdf");
  ASSERT_NE(sales, nullptr);
  EXPECT_EQ(sales->GetExtendedProperty(0, 3, 1, ""), "1.61");
  EXPECT_GE(sales->GetFullTextStatus(), kFullTextIdle);
  ASSERT_TRUE(sales->Rename("Revenue"));
  std::string log_file = LogFileOf("Quillarchive_Revenue");
  ASSERT_TRUE(catalogue.Remove("1"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Revenue"));
  std::shared_ptr<Database> attached = catalogue.Add("Revenue", "C:\\Data\\Sales.mdf", log_file);
  ASSERT_NE(attached, nullptr);
  EXPECT_GE(attached->GetFullTextStatus(), kFullTextIdle);
  ASSERT_TRUE(catalogue.Delete("2"));
  EXPECT_FALSE(DatabaseExists("Quillarchive_Revenue"));
  EXPECT_TRUE(platform_.ui.boxes().empty()) << platform_.ui.boxes()[0].text;

  // sp_dboption only ever reaches 7.0; the recovery model only the servers without
  // TRUNCATE_ONLY, and only for a shrink.
  for (const std::string& text : log_->Texts()) {
    EXPECT_EQ(text.find("sp_dboption"), std::string::npos) << text;
    EXPECT_EQ(text.find("SET RECOVERY"), std::string::npos) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionsTest,
                         ::testing::Values("8.00.2039", "9.00.5000", "10.50.6000", "11.00.7001",
                                           "15.00.2000"));

}  // namespace
}  // namespace collections
