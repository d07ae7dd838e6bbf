// The upgrade run on the console's own collection object: its property writes go inside each
// rung's transaction, and a version write it swallows still stops the rung.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "collections/database.h"
#include "db/observer.h"
#include "format/format_version.h"
#include "format/names.h"
#include "format/older_layouts.h"
#include "format/sandbox_collection.h"
#include "format/upgrade_collection.h"
#include "format/upgrade_run.h"
#include "platform/fake_platform.h"
#include "sandbox/server.h"
#include "servers/server.h"

namespace format {
namespace {

using testing::Number;
using testing::SandboxServer;
using testing::Text;

class UpgradeDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = std::make_shared<db::StatementLog>();
    sandbox_.environment().AddObserver(log_);
    registration_ = std::make_unique<servers::Server>(
        servers::Context{platform_.services(), sandbox_.shared_environment(), {}}, 1);
    registration_->SetConnectionString(
        "Provider=SQLOLEDB;Data Source=(sandbox);Integrated Security=SSPI;");
  }
  void TearDown() override {
    sandbox_.environment().RemoveObserver(log_);
    sandbox_.instance().ClearFaults();
  }

  // A collection object of the layout, connected as the catalogue connects it.
  std::unique_ptr<collections::Database> Collection(OlderLayout layout) {
    db::Connection built = sandbox_.NewDatabase("Quillarchive_Real");
    BuildOlderCollection(built, layout);
    const std::string name = Text(built, "SELECT DB_NAME()").substr(kCollectionPrefix.size());
    built.Close();
    auto database = std::make_unique<collections::Database>(
        collections::Context{platform_.services(), sandbox_.shared_environment(), {}, {}});
    database->SetServer(*registration_);
    database->SetName(name);
    EXPECT_TRUE(database->Connect());
    return database;
  }

  bool Show(collections::Database& database, int version_number) {
    frmProgress window(platform_.ui, database, frmProgress::kUpgrade, version_number);
    return window.Show();
  }

  std::string Version(collections::Database& database) {
    return database.GetExtendedProperty(kCollectionEntry, kArchiveVersionField, kCollectionProperty,
                                        "");
  }

  SandboxServer sandbox_;
  platform::FakePlatform platform_;
  std::shared_ptr<db::StatementLog> log_;
  std::unique_ptr<servers::Server> registration_;
};

TEST_F(UpgradeDatabaseTest, ThePropertyWritesGoInsideTheirRung) {
  std::unique_ptr<collections::Database> database = Collection(OlderLayout::k141);
  ASSERT_TRUE(Show(*database, 141));
  EXPECT_TRUE(platform_.ui.boxes().empty());
  EXPECT_EQ(Version(*database), "1.61");
  EXPECT_EQ(database->GetExtendedProperty(0, 0, kCollectionProperty, "Compatibility"), "1.50");
  EXPECT_EQ(database->GetExtendedProperty(0, 0, kCollectionProperty,
                                          "Quillarchive: Archive Compatibility"),
            "1.50");

  // From the last filing update to the end of the rung to 1.50: both compatibility fields are
  // defined and written, then the version, and only then is the rung committed.
  std::vector<std::string> texts = log_->TextsOn(database->Connection().Id());
  const auto filing = std::find(texts.rbegin(), texts.rend(), testing::RepeatedUpdateText());
  ASSERT_NE(filing, texts.rend());
  const auto commit = std::find(filing.base(), texts.end(), "COMMIT TRANSACTION");
  ASSERT_NE(commit, texts.end());
  const std::vector<std::string> tail(filing.base(), commit);
  ASSERT_FALSE(tail.empty());
  EXPECT_EQ(tail.front(),
            "SELECT * FROM ExtendedField WHERE FieldName='Compatibility' AND FieldType=1;");
  EXPECT_NE(std::find(tail.begin(), tail.end(),
                      "SELECT * FROM ExtendedField WHERE FieldName='Quillarchive: Archive "
                      "Compatibility' AND FieldType=1;"),
            tail.end());
  EXPECT_EQ(tail.back(),
            "UPDATE ExtendedData SET FieldValue='1.50' WHERE EntryID=0 And ExtFieldID=3");
  EXPECT_EQ(std::count(tail.begin(), tail.end(), "BEGIN TRANSACTION"), 0);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "BEGIN TRANSACTION"), 6);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "COMMIT TRANSACTION"), 6);
}

// The collection object swallows the error of a write it could not make; the rung must not be
// committed without its version, or every later run would stop at its first ALTER TABLE.
TEST_F(UpgradeDatabaseTest, AVersionThatCannotBeWrittenRollsTheRungBack) {
  std::unique_ptr<collections::Database> database = Collection(OlderLayout::k150);
  sandbox::ServerMessage error;
  error.number = 1105;
  error.severity = 17;
  error.text = "Could not allocate space for object 'ExtendedData'.";
  sandbox_.instance().InjectFault({"SET FieldValue='1.53'", 1, error});
  platform_.ui.QueueAnswer(platform::kAnswerOk);

  EXPECT_FALSE(Show(*database, 150));
  ASSERT_EQ(platform_.ui.boxes().size(), 1u);
  EXPECT_EQ(platform_.ui.boxes()[0].text,
            "The following problem occurred when executing the command:\rCould not allocate "
            "space for object 'ExtendedData'.");
  EXPECT_EQ(Version(*database), "1.50");
  db::Connection c = database->Connection();
  EXPECT_EQ(
      Number(c, "SELECT COUNT(*) FROM syscolumns WHERE name = 'Icon' AND id = OBJECT_ID('Folder')"),
      0);

  ASSERT_TRUE(Show(*database, 150));
  EXPECT_EQ(Version(*database), "1.61");
  EXPECT_EQ(
      Number(c, "SELECT COUNT(*) FROM syscolumns WHERE name = 'Icon' AND id = OBJECT_ID('Folder')"),
      1);
}

}  // namespace
}  // namespace format
