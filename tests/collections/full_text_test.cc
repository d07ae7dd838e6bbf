// The collection's full-text index: its state, and creating, stopping, starting and dropping it
// for every state the server reports.
#include <gtest/gtest.h>

#include "collections/databases.h"
#include "common/full_text_statements.h"
#include "fixture.h"

namespace collections {
namespace {

using testing::Column;
using testing::FakeResult;
using testing::kFullTextCatalogs;
using testing::kFullTextInstalled;

const auto& kCreate = common::testing::kFullTextCreate;
const auto& kStop = common::testing::kFullTextStop;
const auto& kDrop = common::testing::kFullTextDrop;
const auto& kStart = common::testing::kFullTextStart;

class FullTextTest : public testing::CollectionsFixture {
 protected:
  void SetUp() override {
    server_ = ConnectedServer();
    HelpDb({"Quillarchive_Sales"});
    sales_ = dynamic_cast<Databases&>(server_->Databases()).Item(1);
    log_->Clear();
  }

  // The statements an action sent after reading the state.
  std::vector<std::string> ActionTexts(const std::string& action) {
    log_->Clear();
    sales_->DoFullTextAction(action);
    std::vector<std::string> texts = TextsOn(sales_->Connection());
    size_t skip = 0;
    while (skip < texts.size() &&
           (texts[skip] == kFullTextInstalled || texts[skip] == kFullTextCatalogs)) {
      ++skip;
    }
    return std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(skip), texts.end());
  }

  std::unique_ptr<servers::Server> server_;
  std::shared_ptr<Database> sales_;
};

TEST_F(FullTextTest, WithoutFullTextSearchTheStatusIsMinusTwo) {
  // No row, NULL, 0: not installed; the catalogue is not asked for.
  EXPECT_EQ(sales_->GetFullTextStatus(), kFullTextNotInstalled);
  fake_->On(kFullTextInstalled, FakeResult().Rows({Column("", "int")}, {{db::Value()}}));
  EXPECT_EQ(sales_->GetFullTextStatus(), kFullTextNotInstalled);
  fake_->On(kFullTextInstalled, FakeResult().Rows({Column("", "int")}, {{db::Value(0)}}));
  EXPECT_EQ(sales_->GetFullTextStatus(), kFullTextNotInstalled);
  for (const std::string& text : TextsOn(sales_->Connection())) EXPECT_EQ(text, kFullTextInstalled);
}

TEST_F(FullTextTest, WithoutACatalogueTheStatusIsMinusOne) {
  FullText(-1);
  EXPECT_EQ(sales_->GetFullTextStatus(), kFullTextNoCatalogue);
  EXPECT_EQ(TextsOn(sales_->Connection()),
            (std::vector<std::string>{kFullTextInstalled, kFullTextCatalogs}));
  fake_->On(kFullTextCatalogs, FakeResult().Rows({Column("STATUS", "int")}, {}));
  EXPECT_EQ(sales_->GetFullTextStatus(), kFullTextNoCatalogue);
}

TEST_F(FullTextTest, TheCataloguesStatusIsReported) {
  for (int status = 0; status <= 9; ++status) {
    FullText(status);
    EXPECT_EQ(sales_->GetFullTextStatus(), status);
  }
}

TEST_F(FullTextTest, AFailingInstallationQueryReachesTheCaller) {
  fake_->On(kFullTextInstalled, FakeResult().Error(195,
                                                   "'FULLTEXTSERVICEPROPERTY' is not a "
                                                   "recognized function name."));
  EXPECT_THROW(sales_->GetFullTextStatus(), db::Error);
}

TEST_F(FullTextTest, CreateSendsItsStatementsOnlyWhenThereIsNoCatalogue) {
  EXPECT_TRUE(ActionTexts("create").empty());  // -2
  FullText(-1);
  EXPECT_EQ(ActionTexts("create"), kCreate);
  for (int status = 0; status <= 9; ++status) {
    FullText(status);
    EXPECT_TRUE(ActionTexts("create").empty()) << status;
  }
}

TEST_F(FullTextTest, StopOnlyDuringFullPopulationOrChangeTracking) {
  EXPECT_TRUE(ActionTexts("stop").empty());
  FullText(-1);
  EXPECT_TRUE(ActionTexts("stop").empty());
  for (int status = 0; status <= 9; ++status) {
    FullText(status);
    if (status == 1 || status == 9) {
      EXPECT_EQ(ActionTexts("stop"), kStop) << status;
    } else {
      EXPECT_TRUE(ActionTexts("stop").empty()) << status;
    }
  }
}

TEST_F(FullTextTest, DropWheneverACatalogueExistsWithoutATimeOut) {
  EXPECT_TRUE(ActionTexts("drop").empty());
  FullText(-1);
  EXPECT_TRUE(ActionTexts("drop").empty());
  for (int status = 0; status <= 9; ++status) {
    FullText(status);
    EXPECT_EQ(ActionTexts("drop"), kDrop) << status;
  }
  EXPECT_EQ(sales_->Connection().CommandTimeout(), 0);
  EXPECT_EQ(fake_->calls().back().request.timeout.count(), 0);
}

TEST_F(FullTextTest, StartResumesTrackingOfAnExistingCatalogue) {
  FullText(-1);
  EXPECT_TRUE(ActionTexts("start").empty());
  FullText(0);
  EXPECT_EQ(ActionTexts("start"), kStart);
}

TEST_F(FullTextTest, ActionsIgnoreLetterCaseAndUnknownOnesDoNothing) {
  FullText(-1);
  EXPECT_EQ(ActionTexts("CREATE"), kCreate);
  FullText(9);
  EXPECT_EQ(ActionTexts("Stop"), kStop);
  EXPECT_EQ(ActionTexts("DROP"), kDrop);
  EXPECT_TRUE(ActionTexts("rebuild").empty());
  EXPECT_TRUE(ActionTexts("").empty());
  EXPECT_TRUE(ActionTexts("drop; DROP TABLE Document").empty());
}

TEST_F(FullTextTest, TheFirstFailingStatementEndsTheActionAndReachesTheCaller) {
  FullText(-1);
  fake_->On("EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document'",
            FakeResult().Error(7653,
                               "'PK_Document' is not a valid index to enforce a full-text "
                               "search key."));
  log_->Clear();
  EXPECT_THROW(sales_->DoFullTextAction("create"), db::Error);
  std::vector<std::string> texts = TextsOn(sales_->Connection());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), kCreate[2]);
}

// SQL Server 7.0 has no change tracking and populates whole catalogues: the statements it does
// not know are left out, and "create" ends with a full population instead.
class FullText70Test : public FullTextTest {
 protected:
  void SetUp() override {
    server_ = ConnectedServer("7.00.1063");
    HelpDb({"Quillarchive_Sales"});
    sales_ = dynamic_cast<Databases&>(server_->Databases()).Item(1);
    log_->Clear();
  }
};

TEST_F(FullText70Test, StatementsSevenDoesNotKnowAreLeftOut) {
  const std::string start_full = "EXEC sp_fulltext_catalog 'Doc_Desc', 'start_full'";
  std::vector<std::string> create(kCreate.begin(), kCreate.begin() + 7);
  create.push_back(start_full);
  const struct {
    const char* action;
    int status;
    std::vector<std::string> texts;
  } cases[] = {
      {"create", -1, create},
      {"stop", 1, {"EXEC sp_fulltext_catalog 'Doc_Desc', 'Stop'"}},
      {"start", 0, {start_full}},
      {"drop", 0, std::vector<std::string>(kDrop.begin() + 3, kDrop.end())},
  };
  for (const auto& each : cases) {
    FullText(each.status);
    EXPECT_EQ(ActionTexts(each.action), each.texts) << each.action;
  }
  EXPECT_EQ(server_->ProductVersion(), 7);
}

TEST_F(FullTextTest, TheIndexPropertiesComeFromTheCatalogueAndItsProperties) {
  fake_->On(
      "sp_help_fulltext_catalogs",
      FakeResult().Rows(
          {Column("ftcatid", "smallint"), Column("NAME", "sysname"), Column("PATH", "nvarchar"),
           Column("STATUS", "int"), Column("NUMBER_FULLTEXT_TABLES", "int")},
          {{db::Value(5), db::Value("Doc_Desc"), db::Value("C:\\Program Files\\FTData"),
            db::Value(9), db::Value(1)}}));
  fake_->On("SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'ItemCount')",
            FakeResult().Rows({Column("", "int")}, {{db::Value(1234)}}));
  fake_->On("SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'IndexSize')",
            FakeResult().Rows({Column("", "int")}, {{db::Value(3)}}));
  fake_->On("SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'PopulateCompletionAge')",
            FakeResult().Rows({Column("", "int")}, {{db::Value(86400 + 3661)}}));
  FullTextIndexProperties properties = sales_->ReadFullTextProperties();
  EXPECT_EQ(properties.name, "Doc_Desc");
  EXPECT_EQ(properties.status, 9);
  EXPECT_EQ(properties.path, "C:\\Program Files\\FTData");
  EXPECT_EQ(properties.item_count, "1234");
  EXPECT_EQ(properties.index_size, "3");
  EXPECT_EQ(properties.last_change, (common::DateTime{1990, 1, 2, 1, 1, 1, 0}));
  EXPECT_EQ(
      TextsOn(sales_->Connection()),
      (std::vector<std::string>{
          "sp_help_fulltext_catalogs", "SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'ItemCount')",
          "SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'IndexSize')",
          "SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'PopulateCompletionAge')"}));
}

TEST_F(FullTextTest, ACatalogueNameWithAQuoteStaysOneValue) {
  fake_->On("sp_help_fulltext_catalogs",
            FakeResult().Rows(
                {Column("NAME", "sysname"), Column("PATH", "nvarchar"), Column("STATUS", "int")},
                {{db::Value("it's"), db::Value("C:\\x"), db::Value(0)}}));
  FullTextIndexProperties properties = sales_->ReadFullTextProperties();
  EXPECT_EQ(TextsOn(sales_->Connection())[1],
            "SELECT FULLTEXTCATALOGPROPERTY('it''s', 'ItemCount')");
  // Nothing came back for the age: the start of the count.
  EXPECT_EQ(properties.last_change, (common::DateTime{1990, 1, 1, 0, 0, 0, 0}));
}

TEST(FullTextAgeTest, SecondsAfterTheStartOf1990) {
  EXPECT_EQ(FullTextAgeToDate(0), (common::DateTime{1990, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(FullTextAgeToDate(59), (common::DateTime{1990, 1, 1, 0, 0, 59, 0}));
  EXPECT_EQ(FullTextAgeToDate(31 * 86400), (common::DateTime{1990, 2, 1, 0, 0, 0, 0}));
  // 1 March 1992 follows a 29 February.
  EXPECT_EQ(FullTextAgeToDate((365 + 365 + 31 + 28) * 86400LL),
            (common::DateTime{1992, 2, 29, 0, 0, 0, 0}));
  EXPECT_EQ(FullTextAgeToDate(-1), (common::DateTime{1989, 12, 31, 23, 59, 59, 0}));
  // 2^31 - 1 seconds: 19 January 2058, 03:14:07.
  EXPECT_EQ(FullTextAgeToDate(2147483647), (common::DateTime{2058, 1, 19, 3, 14, 7, 0}));
}

}  // namespace
}  // namespace collections
