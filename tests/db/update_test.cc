// Updates through a client cursor: the statements it writes and what it does when they fail.
#include <gtest/gtest.h>

#include "fake_fixture.h"

namespace db {
namespace {

using testing::Column;
using testing::FakeResult;
using testing::TableColumn;

class UpdateTest : public FakeServerTest {
 protected:
  void SetUp() override {
    connection_ = Open("Integrated Security=SSPI;Initial Catalog=Quillarchive_Sales;");
    server_->On(
        "SELECT * FROM ExtendedField WHERE FieldName='Quillarchive: Archive Version' AND "
        "FieldType=1;",
        FakeResult().Rows({TableColumn("ExtendedField", "ExtFieldID", "int", true),
                           TableColumn("ExtendedField", "FieldType", "smallint"),
                           TableColumn("ExtendedField", "FieldName", "nvarchar"),
                           TableColumn("ExtendedField", "Visible", "bit"),
                           TableColumn("ExtendedField", "UserProperty", "bit"),
                           TableColumn("ExtendedField", "Notes", "ntext")},
                          {{Value(3), Value(1), Value("Quillarchive: Archive Version"),
                            Value(false), Value(), Value("long text")}}));
    server_->On("SELECT * FROM Document", FakeResult().Rows(DocumentColumns(), {}));
    server_->On("SELECT @@IDENTITY", FakeResult().Rows({Column("", "numeric")}, {{Value(1.0)}}));
  }

  static std::vector<ColumnInfo> DocumentColumns() {
    return {TableColumn("Document", "EntryID", "int", true, true),
            TableColumn("Document", "Url", "nvarchar"),
            TableColumn("Document", "TypeID", "int"),
            TableColumn("Document", "Title", "nvarchar"),
            TableColumn("Document", "CreationTime", "datetime"),
            TableColumn("Document", "BinaryContent", "image"),
            TableColumn("Document", "BinaryData", "bit"),
            TableColumn("Document", "Content", "ntext")};
  }

  Recordset OpenExtendedField() {
    Recordset rs;
    rs.Open(
        "SELECT * FROM ExtendedField WHERE FieldName='Quillarchive: Archive Version' AND "
        "FieldType=1;",
        connection_, kOpenStatic, kLockOptimistic);
    log_->Clear();
    return rs;
  }

  Recordset OpenDocument(int lock = kLockOptimistic) {
    Recordset rs;
    rs.Open("Document", connection_, kOpenStatic, lock, kCmdTable);
    log_->Clear();
    return rs;
  }

  Connection connection_;
};

TEST_F(UpdateTest, UpdateSendsChangedFieldsFoundByKeyAndOriginalValues) {
  Recordset rs = OpenExtendedField();
  rs.Fields("Visible").SetValue(true);
  rs.Fields("UserProperty").SetValue(false);
  EXPECT_EQ(rs.EditMode(), kEditInProgress);
  EXPECT_EQ(rs.Fields("Visible").Value(), Value(true));
  EXPECT_EQ(rs.Fields("Visible").OriginalValue(), Value(false));
  server_->On(
      "UPDATE ExtendedField SET Visible = 1, UserProperty = 0 WHERE ExtFieldID = 3 AND Visible = "
      "0 AND UserProperty IS NULL",
      FakeResult().Count(1));
  rs.Update();
  EXPECT_EQ(log_->Texts(), (std::vector<std::string>{
                               "UPDATE ExtendedField SET Visible = 1, UserProperty = 0 WHERE "
                               "ExtFieldID = 3 AND Visible = 0 AND UserProperty IS NULL"}));
  EXPECT_EQ(rs.EditMode(), kEditNone);
  EXPECT_EQ(rs.Fields("ExtFieldID").Value(), Value(3));
  EXPECT_EQ(rs.Fields("Visible").OriginalValue(), Value(true));
  rs.Close();
}

TEST_F(UpdateTest, WithoutAKeyEveryComparableFieldIsACriterionAndQuotesAreDoubled) {
  server_->On("SELECT name, note, body FROM t",
              FakeResult().Rows({TableColumn("t", "name"), TableColumn("t", "note", "nvarchar"),
                                 TableColumn("t", "body", "text")},
                                {{Value("O'Brien"), Value("x]; DROP TABLE t; --"), Value("b")}}));
  Recordset rs;
  rs.Open("SELECT name, note, body FROM t", connection_, kOpenStatic, kLockOptimistic);
  log_->Clear();
  rs.Fields("name").SetValue("it's 'quoted'");
  server_->SetDefault(FakeResult().Count(1));
  rs.Update();
  EXPECT_EQ(log_->Texts(),
            (std::vector<std::string>{"UPDATE t SET name = 'it''s ''quoted''' WHERE name = "
                                      "'O''Brien' AND note = N'x]; DROP TABLE t; --'"}));
}

TEST_F(UpdateTest, HostileTableAndColumnNamesAreBracketed) {
  server_->On("SELECT * FROM [odd]]table]",
              FakeResult().Rows({TableColumn("odd]table", "key", "int", true),
                                 TableColumn("odd]table", "my col")},
                                {{Value(1), Value("a")}}));
  Recordset rs;
  rs.Open("SELECT * FROM [odd]]table]", connection_, kOpenStatic, kLockOptimistic);
  log_->Clear();
  rs.Fields("my col").SetValue("b");
  server_->SetDefault(FakeResult().Count(1));
  rs.Update();
  EXPECT_EQ(log_->Texts(), (std::vector<std::string>{
                               "UPDATE [odd]]table] SET [my col] = 'b' WHERE [key] = 1 AND [my "
                               "col] = 'a'"}));
}

TEST_F(UpdateTest, ARowChangedMeanwhileIsReportedAndTheEditStays) {
  Recordset rs = OpenExtendedField();
  rs.Fields("Visible").SetValue(true);
  server_->SetDefault(FakeResult().Count(0));
  Error error = CatchError([&] { rs.Update(); });
  EXPECT_EQ(error.number(), kErrorRowNotLocated);
  EXPECT_EQ(error.description(),
            "Row cannot be located for updating. Some values may have been changed since it was "
            "last read.");
  EXPECT_EQ(rs.EditMode(), kEditInProgress);
  EXPECT_EQ(CatchError([&] { rs.Close(); }).number(), kErrorIllegalOperation);
  rs.CancelUpdate();
  EXPECT_EQ(rs.Fields("Visible").Value(), Value(false));
  EXPECT_NO_THROW(rs.Close());
}

TEST_F(UpdateTest, AServerErrorDuringUpdateIsRaisedAndTheRowKeepsItsValues) {
  Recordset rs = OpenExtendedField();
  rs.Fields("FieldName").SetValue("x");
  server_->SetDefault(
      FakeResult().Error(229, "UPDATE permission denied on object 'ExtendedField'.").NoCount());
  EXPECT_EQ(CatchError([&] { rs.Update(); }).number(), kErrorPermissionDenied);
  rs.CancelUpdate();
  EXPECT_EQ(rs.Fields("FieldName").Value(), Value("Quillarchive: Archive Version"));
}

TEST_F(UpdateTest, UnderNoCountTheUpdateIsTakenAsDone) {
  Recordset rs = OpenExtendedField();
  rs.Fields("Visible").SetValue(true);
  server_->SetDefault(FakeResult().NoCount());
  EXPECT_NO_THROW(rs.Update());
}

TEST_F(UpdateTest, MovingOffAnEditedRecordSavesIt) {
  Recordset rs = OpenExtendedField();
  rs.Fields("Visible").SetValue(true);
  server_->SetDefault(FakeResult().Count(1));
  rs.MoveNext();
  EXPECT_EQ(log_->Texts().size(), 1u);
  EXPECT_TRUE(rs.Eof());
}

TEST_F(UpdateTest, AddNewInsertsTheAssignedFieldsAndReadsTheIdentityBack) {
  Recordset rs = OpenDocument();
  EXPECT_EQ(rs.RecordCount(), 0);
  rs.AddNew();
  EXPECT_EQ(rs.EditMode(), kEditAdd);
  EXPECT_FALSE(rs.Eof());
  rs.Fields("Url").SetValue("file://template/'x'.htm");
  rs.Fields("TypeID").SetValue(100);
  rs.Fields("Title").SetValue("Vorlage \xC3\xBC");
  rs.Fields("CreationTime").SetValue(common::DateTime{2003, 7, 14, 9, 5, 3, 120});
  rs.Fields("BinaryData").SetValue(true);
  rs.Fields("Content").SetValue(Value());
  server_->SetDefault(FakeResult().Count(1));
  rs.Update();
  EXPECT_EQ(log_->Texts(),
            (std::vector<std::string>{
                "INSERT INTO Document (Url, TypeID, Title, CreationTime, BinaryData, Content) "
                "VALUES (N'file://template/''x''.htm', 100, N'Vorlage \xC3\xBC', "
                "'2003-07-14T09:05:03.120', 1, NULL)",
                "SELECT @@IDENTITY"}));
  EXPECT_EQ(rs.EditMode(), kEditNone);
  EXPECT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.Fields("EntryID").Value(), Value(1));
  EXPECT_EQ(rs.Fields("TypeID").Value(), Value(100));
  EXPECT_TRUE(rs.Fields("BinaryContent").Value().IsNull());
  // Every statement went to the collection's connection.
  for (const Statement& s : log_->statements()) EXPECT_EQ(s.connection_id, connection_.Id());
}

TEST_F(UpdateTest, AppendChunkBuildsBinaryValuesAndTheyReadBack) {
  Recordset rs = OpenDocument();
  common::Bytes template_bytes;
  for (int i = 0; i < 51; ++i) template_bytes.push_back(static_cast<std::uint8_t>(i * 5));
  rs.AddNew();
  rs.Fields("BinaryContent").AppendChunk(Value(template_bytes));
  EXPECT_EQ(rs.Fields("BinaryContent").ActualSize(), 51);
  EXPECT_EQ(rs.Fields("BinaryContent").Value(), Value(template_bytes));
  server_->SetDefault(FakeResult().Count(1));
  rs.Update();
  EXPECT_EQ(rs.Fields("BinaryContent").Value(), Value(template_bytes));
  EXPECT_EQ(rs.Fields("BinaryContent").ActualSize(), 51);
  std::string hex = "0x";
  for (std::uint8_t b : template_bytes) {
    const char* digits = "0123456789ABCDEF";
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  EXPECT_EQ(log_->Texts()[0], "INSERT INTO Document (BinaryContent) VALUES (" + hex + ")");
}

TEST_F(UpdateTest, LaterChunksAppendAndTheFirstOneReplaces) {
  server_->On("SELECT EntryID, Content, BinaryContent FROM Document WHERE EntryID=1",
              FakeResult().Rows({TableColumn("Document", "EntryID", "int", true),
                                 TableColumn("Document", "Content", "ntext"),
                                 TableColumn("Document", "BinaryContent", "image")},
                                {{Value(1), Value("old"), Value(common::Bytes{9, 9})}}));
  Recordset rs;
  rs.Open("SELECT EntryID, Content, BinaryContent FROM Document WHERE EntryID=1", connection_,
          kOpenStatic, kLockOptimistic);
  rs.Fields("Content").AppendChunk(Value("ab"));
  rs.Fields("Content").AppendChunk(Value("cd"));
  rs.Fields("BinaryContent").AppendChunk(Value(common::Bytes{1}));
  rs.Fields("BinaryContent").AppendChunk(Value(common::Bytes{2, 3}));
  EXPECT_EQ(rs.Fields("Content").Value(), Value("abcd"));
  EXPECT_EQ(rs.Fields("BinaryContent").Value(), Value(common::Bytes{1, 2, 3}));
  EXPECT_EQ(CatchError([&] { rs.Fields("EntryID").AppendChunk(Value("1")); }).number(),
            kErrorInvalidArgument);
  EXPECT_EQ(CatchError([&] { rs.Fields("Content").AppendChunk(Value(5)); }).number(),
            kErrorInvalidArgument);
  server_->SetDefault(FakeResult().Count(1));
  log_->Clear();
  rs.Update();
  // Long columns cannot be compared on the server: the key finds the row.
  EXPECT_EQ(log_->Texts(), (std::vector<std::string>{
                               "UPDATE Document SET Content = N'abcd', BinaryContent = 0x010203 "
                               "WHERE EntryID = 1"}));
}

TEST_F(UpdateTest, CancelUpdateDropsANewRecord) {
  Recordset rs = OpenDocument();
  rs.AddNew();
  rs.Fields("Title").SetValue("x");
  rs.CancelUpdate();
  EXPECT_EQ(rs.EditMode(), kEditNone);
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(UpdateTest, ReadOnlyRecordsetsRefuseChanges) {
  Recordset rs;
  rs.Open("Document", connection_, kOpenStatic, kLockReadOnly, kCmdTable);
  EXPECT_EQ(CatchError([&] { rs.AddNew(); }).number(), kErrorNotUpdatable);
  Recordset other = OpenExtendedField();
  Recordset read_only;
  read_only.Open(
      "SELECT * FROM ExtendedField WHERE FieldName='Quillarchive: Archive Version' AND "
      "FieldType=1;",
      connection_);
  EXPECT_EQ(CatchError([&] { read_only.Fields("Visible").SetValue(true); }).number(),
            kErrorNotUpdatable);
}

TEST_F(UpdateTest, ComputedOrJoinedFieldsCannotBeUpdated) {
  server_->On("SELECT a.x, b.y, 1+1 AS z FROM a JOIN b ON 1=1",
              FakeResult().Rows({TableColumn("a", "x"), TableColumn("b", "y"), Column("z", "int")},
                                {{Value("1"), Value("2"), Value(2)}}));
  Recordset rs;
  rs.Open("SELECT a.x, b.y, 1+1 AS z FROM a JOIN b ON 1=1", connection_, kOpenStatic,
          kLockOptimistic);
  rs.Fields("z").SetValue(3);
  Error computed = CatchError([&] { rs.Update(); });
  EXPECT_NE(computed.description().find("Insufficient base table information"), std::string::npos);
  EXPECT_NE(computed.description().find("\"z\""), std::string::npos);
  rs.CancelUpdate();
  rs.Fields("x").SetValue("a");
  rs.Fields("y").SetValue("b");
  EXPECT_NE(CatchError([&] { rs.Update(); }).description().find("several tables"),
            std::string::npos);
  rs.CancelUpdate();
  // One table's field alone is fine.
  rs.Fields("y").SetValue("b");
  server_->SetDefault(FakeResult().Count(1));
  log_->Clear();
  rs.Update();
  EXPECT_EQ(log_->Texts(), (std::vector<std::string>{"UPDATE b SET y = 'b' WHERE y = '2'"}));
}

TEST_F(UpdateTest, BatchOptimisticEditsWaitForUpdateBatch) {
  server_->On("SELECT * FROM Folder",
              FakeResult().Rows({TableColumn("Folder", "FolderID", "smallint", true),
                                 TableColumn("Folder", "Name")},
                                {{Value(1), Value("a")}, {Value(2), Value("b")}}));
  Recordset rs;
  rs.Open("Folder", connection_, kOpenStatic, kLockBatchOptimistic, kCmdTable);
  log_->Clear();
  rs.Fields("Name").SetValue("A");
  rs.Update();
  rs.MoveNext();
  rs.Fields("Name").SetValue("B");
  rs.MoveNext();  // saves locally
  rs.AddNew();
  rs.Fields("FolderID").SetValue(3);
  rs.Fields("Name").SetValue("c");
  rs.Update();
  EXPECT_TRUE(log_->Texts().empty());
  EXPECT_EQ(rs.RecordCount(), 3);
  server_->SetDefault(FakeResult().Count(1));
  rs.UpdateBatch();
  EXPECT_EQ(log_->Texts(), (std::vector<std::string>{
                               "UPDATE Folder SET Name = 'A' WHERE FolderID = 1 AND Name = 'a'",
                               "UPDATE Folder SET Name = 'B' WHERE FolderID = 2 AND Name = 'b'",
                               "INSERT INTO Folder (FolderID, Name) VALUES (3, 'c')"}));
  log_->Clear();
  rs.UpdateBatch();
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(UpdateTest, CancelBatchRestoresTheRowsAsRead) {
  server_->On("SELECT * FROM Folder",
              FakeResult().Rows({TableColumn("Folder", "FolderID", "smallint", true),
                                 TableColumn("Folder", "Name")},
                                {{Value(1), Value("a")}}));
  Recordset rs;
  rs.Open("Folder", connection_, kOpenStatic, kLockBatchOptimistic, kCmdTable);
  rs.Fields("Name").SetValue("A");
  rs.Update();
  rs.AddNew();
  rs.Fields("Name").SetValue("new");
  rs.Update();
  EXPECT_EQ(rs.RecordCount(), 2);
  rs.CancelBatch();
  EXPECT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.Fields("Name").Value(), Value("a"));
}

TEST_F(UpdateTest, AFailedInsertKeepsTheNewRecordForAnotherTry) {
  Recordset rs = OpenDocument();
  rs.AddNew();
  rs.Fields("TypeID").SetValue(100);
  server_->SetDefault(
      FakeResult().Error(515, "Cannot insert the value NULL into column 'FolderID'.").NoCount());
  EXPECT_EQ(CatchError([&] { rs.Update(); }).number(), kErrorIntegrityViolation);
  EXPECT_EQ(rs.EditMode(), kEditAdd);
  EXPECT_EQ(rs.RecordCount(), 0);
  server_->SetDefault(FakeResult().Count(1));
  rs.Update();
  EXPECT_EQ(rs.RecordCount(), 1);
}

}  // namespace
}  // namespace db
