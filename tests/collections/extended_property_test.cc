// Reading and writing a collection's extended properties.
#include <gtest/gtest.h>

#include "collections/databases.h"
#include "fixture.h"

namespace collections {
namespace {

using testing::Column;
using testing::FakeResult;
using testing::TableColumn;

constexpr char kByNumber[] =
    "SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON "
    "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=0) AND "
    "((ExtendedField.ExtFieldID)=3));";
constexpr char kByName[] =
    "SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON "
    "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=0) AND "
    "((ExtendedField.FieldType)=1) AND ((ExtendedField.FieldName)='Quillarchive: Search in "
    "PlainText'));";
constexpr char kFindPlainText[] =
    "SELECT * FROM ExtendedField WHERE FieldName='Quillarchive: Search in PlainText' AND "
    "FieldType=1;";

class ExtendedPropertyTest : public testing::CollectionsFixture {
 protected:
  void SetUp() override {
    server_ = ConnectedServer();
    HelpDb({"Quillarchive_Sales"});
    sales_ = dynamic_cast<Databases&>(server_->Databases()).Item(1);
    log_->Clear();
  }

  static FakeResult Value(const db::Value& value) {
    return FakeResult().Rows({Column("FieldValue", "ntext")}, {{value}});
  }
  // The definition rows an ExtendedField query finds.
  static FakeResult Definitions(std::vector<std::vector<db::Value>> rows) {
    return FakeResult().Rows({TableColumn("ExtendedField", "ExtFieldID", "smallint"),
                              TableColumn("ExtendedField", "FieldType", "tinyint"),
                              TableColumn("ExtendedField", "FieldName", "nvarchar"),
                              TableColumn("ExtendedField", "Visible", "bit"),
                              TableColumn("ExtendedField", "UserProperty", "bit")},
                             std::move(rows));
  }

  std::vector<std::string> Texts() { return TextsOn(sales_->Connection()); }

  std::unique_ptr<servers::Server> server_;
  std::shared_ptr<Database> sales_;
};

TEST_F(ExtendedPropertyTest, AValueIsReadByFieldNumberOrByTypeAndName) {
  fake_->On(kByNumber, Value(db::Value("1.61")));
  fake_->On(kByName, Value(db::Value("True")));
  EXPECT_EQ(sales_->GetExtendedProperty(0, 3, 1, ""), "1.61");
  EXPECT_EQ(sales_->GetExtendedProperty(0, 0, 1, "Quillarchive: Search in PlainText"), "True");
  EXPECT_EQ(Texts(), (std::vector<std::string>{kByNumber, kByName}));
}

TEST_F(ExtendedPropertyTest, AMissingOrUnreadableValueIsEmpty) {
  fake_->On(kByNumber, FakeResult().Rows({Column("FieldValue", "ntext")}, {}));
  EXPECT_EQ(sales_->GetExtendedProperty(0, 3, 1, ""), "");
  fake_->On(kByName, Value(db::Value()));
  EXPECT_EQ(sales_->GetExtendedProperty(0, 0, 1, "Quillarchive: Search in PlainText"), "");
  fake_->OnPrefix("SELECT ExtendedData.FieldValue",
                  FakeResult().Error(208, "Invalid object name 'ExtendedData'."));
  EXPECT_EQ(sales_->GetExtendedProperty(5, 7, 3, ""), "");
  // And the next read works again.
  fake_->On(
      "SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON "
      "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=0) AND "
      "((ExtendedField.ExtFieldID)=6));",
      Value(db::Value("1.50")));
  EXPECT_EQ(sales_->GetExtendedProperty(0, 6, 1, ""), "1.50");
}

TEST_F(ExtendedPropertyTest, AQuoteInANameIsDoubled) {
  sales_->GetExtendedProperty(2, 0, 3, "it's ')); DROP TABLE Document --");
  EXPECT_EQ(Texts().back(),
            "SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON "
            "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=2) "
            "AND ((ExtendedField.FieldType)=3) AND ((ExtendedField.FieldName)='it''s '')); DROP "
            "TABLE Document --'));");
}

TEST_F(ExtendedPropertyTest, AnExistingValueIsUpdated) {
  fake_->On("UPDATE ExtendedData SET FieldValue='1.61' WHERE EntryID=0 And ExtFieldID=3",
            FakeResult().Count(1));
  std::int32_t field = 3;
  sales_->SetExtendedProperty("1.61", 0, field, "", 1, false, false);
  EXPECT_EQ(field, 3);
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "UPDATE ExtendedData SET FieldValue='1.61' WHERE EntryID=0 And "
                         "ExtFieldID=3"}));
}

TEST_F(ExtendedPropertyTest, AValueForAnEntryWithoutOneIsInserted) {
  fake_->OnPrefix("UPDATE ExtendedData", FakeResult().Count(0));
  std::int32_t field = 5;
  sales_->SetExtendedProperty("O'Brien's folder", 1200, field, "", 2, false, false);
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "UPDATE ExtendedData SET FieldValue='O''Brien''s folder' WHERE "
                         "EntryID=1200 And ExtFieldID=5",
                         "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (1200, "
                         "5, 'O''Brien''s folder');"}));
}

TEST_F(ExtendedPropertyTest, AFieldNotYetDefinedGetsTheNextNumberAndIsReusedAfterwards) {
  fake_->On(kFindPlainText, Definitions({}));
  fake_->On(kFindPlainText, Definitions({{db::Value(11), db::Value(1),
                                          db::Value("Quillarchive: Search in PlainText"),
                                          db::Value(), db::Value()}}));
  fake_->OnPrefix("UPDATE ExtendedField", FakeResult().Count(1));
  fake_->OnPrefix("UPDATE ExtendedData", FakeResult().Count(0));
  std::int32_t field = 0;
  sales_->SetExtendedProperty("True", 0, field, "Quillarchive: Search in PlainText", 1, false,
                              true);
  EXPECT_EQ(field, 11);
  std::vector<std::string> texts = Texts();
  ASSERT_EQ(texts.size(), 6u) << ::testing::PrintToString(texts);
  EXPECT_EQ(texts[0], kFindPlainText);
  EXPECT_EQ(texts[1],
            "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName, Visible, UserProperty) "
            "SELECT Max(ExtFieldID)+1, 1, 'Quillarchive: Search in PlainText', -1, 0 FROM "
            "ExtendedField;");
  EXPECT_EQ(texts[2], kFindPlainText);
  // The flags are saved on the row found.
  EXPECT_TRUE(texts[3].starts_with("UPDATE ExtendedField SET Visible = 1, UserProperty = 0 WHERE"))
      << texts[3];
  EXPECT_EQ(texts[4],
            "UPDATE ExtendedData SET FieldValue='True' WHERE EntryID=0 And ExtFieldID=11");
  EXPECT_EQ(texts[5],
            "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 11, 'True');");

  // Defined now: found at once, no second definition.
  log_->Clear();
  fake_->On("UPDATE ExtendedData SET FieldValue='False' WHERE EntryID=0 And ExtFieldID=11",
            FakeResult().Count(1));
  field = 0;
  sales_->SetExtendedProperty("False", 0, field, "Quillarchive: Search in PlainText", 1, false,
                              true);
  EXPECT_EQ(field, 11);
  for (const std::string& text : Texts()) {
    EXPECT_FALSE(text.starts_with("INSERT")) << text;
  }
}

TEST_F(ExtendedPropertyTest, WithoutANumberOrANameNothingIsWritten) {
  std::int32_t field = 0;
  sales_->SetExtendedProperty("x", 0, field, "", 1, false, false);
  EXPECT_TRUE(Texts().empty());
  EXPECT_EQ(field, 0);
}

TEST_F(ExtendedPropertyTest, ADefinitionThatNeverAppearsIsNotInsertedOverAndOver) {
  fake_->On(kFindPlainText, Definitions({}));
  std::int32_t field = 0;
  sales_->SetExtendedProperty("True", 0, field, "Quillarchive: Search in PlainText", 1, false,
                              false);
  EXPECT_EQ(field, 0);
  int inserts = 0;
  for (const std::string& text : Texts()) {
    if (text.starts_with("INSERT INTO ExtendedField")) ++inserts;
    EXPECT_FALSE(text.starts_with("UPDATE ExtendedData")) << text;
  }
  EXPECT_EQ(inserts, 2);
}

TEST_F(ExtendedPropertyTest, ErrorsAreSwallowed) {
  fake_->On(kFindPlainText,
            FakeResult().Error(229, "SELECT permission denied on object 'ExtendedField'."));
  std::int32_t field = 0;
  EXPECT_NO_THROW(sales_->SetExtendedProperty("True", 0, field, "Quillarchive: Search in PlainText",
                                              1, false, false));
  EXPECT_EQ(field, 0);
  EXPECT_EQ(Texts().size(), 1u);

  fake_->OnPrefix("UPDATE ExtendedData", FakeResult().Error(229, "UPDATE permission denied."));
  field = 3;
  EXPECT_NO_THROW(sales_->SetExtendedProperty("1.61", 0, field, "", 1, false, false));
  // The failed update is not taken for a missing row.
  EXPECT_FALSE(Texts().back().starts_with("INSERT")) << Texts().back();
}

}  // namespace
}  // namespace collections
