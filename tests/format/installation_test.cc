// The collection format installed on a sandbox server through the client interface, the way
// creation sends it: the script statement by statement on one command, then the template
// document through an updatable cursor. Afterwards the procedures must behave as the archiving
// application relies on.
#include <gtest/gtest.h>

#include <set>

#include "db/command.h"
#include "db/connection.h"
#include "db/recordset.h"
#include "format/install_script.h"
#include "format/sandbox_collection.h"
#include "format/template_document.h"

namespace format {
namespace {

using common::Value;

constexpr char kGuid[] = "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}";

class InstallationTest : public ::testing::Test {
 protected:
  void SetUp() override { collection_ = sandbox_.NewDatabase("Quillarchive_Accept"); }
  void TearDown() override { collection_.Close(); }

  void Install(const std::string& guid = kGuid) {
    db::Command command;
    command.SetActiveConnection(collection_);
    command.SetCommandType(db::kCmdText);
    for (const std::string& statement :
         InstallationScript(InstallValues{guid, DayNumber(common::DateTime{2003, 1, 1})})) {
      command.SetCommandText(statement);
      ASSERT_NO_THROW(command.Execute()) << statement;
    }
    AddTemplateDocument();
  }

  void AddTemplateDocument() {
    db::Recordset rs;
    rs.SetCursorLocation(db::kUseClient);
    rs.Open("Document", collection_, db::kOpenStatic, db::kLockOptimistic, db::kCmdTable);
    rs.AddNew();
    for (const TemplateColumn& column :
         TemplateDocumentColumns(1252, common::DateTime{2003, 1, 1, 12})) {
      if (column.append_chunk) {
        rs.Fields(column.name).AppendChunk(column.value);
      } else {
        rs.Fields(column.name).SetValue(column.value);
      }
    }
    rs.Update();
    rs.Close();
  }

  Value Scalar(const std::string& sql) { return testing::Scalar(collection_, sql); }
  std::vector<std::int64_t> Column(const std::string& sql) {
    return testing::Integers(collection_, sql);
  }

  // Runs InsertSearchFolder as a stored-procedure call and reads the OUTPUT parameter.
  Value InsertSearchFolder(const std::string& name) {
    db::Command command;
    command.SetActiveConnection(collection_);
    command.SetCommandType(db::kCmdStoredProc);
    command.SetCommandText("InsertSearchFolder");
    command.Parameters().Append(command.CreateParameter("@FolderName", db::kTypeVarChar,
                                                       db::kParamInput, 255, Value(name)));
    command.Parameters().Append(
        command.CreateParameter("@FolderID", db::kTypeSmallInt, db::kParamOutput));
    command.Execute();
    return command.Parameters("@FolderID").Value();
  }

  void AddDocument(int entry_id, int folder_id) {
    collection_.Execute(
        "SET IDENTITY_INSERT Document ON "
        "INSERT INTO Document (EntryID, FolderID, VisibleInFolderID, CreationTime, "
        "FileModifiedDate) VALUES (" +
        std::to_string(entry_id) + ", " + std::to_string(folder_id) + ", " +
        std::to_string(folder_id) +
        ", GETDATE(), GETDATE()) "
        "SET IDENTITY_INSERT Document OFF");
  }

  void Link(int parent, int child) {
    collection_.Execute("INSERT INTO SubDocument (ParentEntryID, ChildEntryID) VALUES (" +
                        std::to_string(parent) + ", " + std::to_string(child) + ")");
  }

  testing::SandboxServer sandbox_;
  db::Connection collection_;
};

TEST_F(InstallationTest, AFreshCollectionHoldsTheSeedRowsAndTheTemplate) {
  Install();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Folder"), Value(11));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM SubFolder"), Value(10));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Category"), Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ExtendedField"), Value(9));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM ExtendedData WHERE EntryID = 0"), Value(6));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Document"), Value(1));
  EXPECT_EQ(Scalar("SELECT FieldValue FROM ExtendedData WHERE EntryID = 0 AND ExtFieldID = 3"),
            Value("1.61"));
  EXPECT_EQ(Scalar("SELECT FieldValue FROM ExtendedData WHERE EntryID = 0 AND ExtFieldID = 7"),
            Value(kGuid));
  EXPECT_EQ(Scalar("SELECT Name FROM Folder WHERE FolderID = 600"), Value("Gelöschte Dokumente"));

  // The template is EntryID 1 with its 51-byte image intact, byte for byte.
  db::Recordset rs;
  rs.Open("SELECT EntryID, BinaryContent, BinaryData, Title FROM Document", collection_);
  ASSERT_FALSE(rs.Eof());
  EXPECT_EQ(rs.Fields("EntryID").Value(), Value(1));
  EXPECT_EQ(rs.Fields("BinaryContent").ActualSize(), 51);
  EXPECT_EQ(rs.Fields("BinaryContent").Value(), Value(TemplateImage()));
  EXPECT_EQ(rs.Fields("BinaryData").Value().ToBool(), true);
  EXPECT_EQ(rs.Fields("Title").Value(), Value(std::string(kTemplateTitle)));
}

TEST_F(InstallationTest, CountingProceduresFindNothingOnAFreshCollection) {
  Install();
  db::Recordset root;
  root.Open("EXEC FoldersRoot", collection_);
  while (root.State() != db::kStateOpen) root = root.NextRecordset();
  EXPECT_TRUE(root.Eof());
  EXPECT_EQ(Scalar("EXEC FolderCount"), Value(0));
  EXPECT_EQ(Scalar("EXEC DocCount"), Value(0));
}

TEST_F(InstallationTest, SearchFoldersAreNumberedAfterTheSystemFolders) {
  Install();
  EXPECT_EQ(InsertSearchFolder("first").ToInt(), 1001);
  EXPECT_EQ(InsertSearchFolder("O'Brien's [folder]; --").ToInt(), 1002);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM SearchFolderView"), Value(2));
  EXPECT_EQ(Scalar("SELECT Name FROM SearchFolderView WHERE FolderID = 1002"),
            Value("O'Brien's [folder]; --"));

  // Removing a folder that is not a search folder changes nothing.
  collection_.Execute("EXEC RemoveSearchFolder 200");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Folder"), Value(13));
  collection_.Execute("EXEC RemoveSearchFolder 1001");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Folder"), Value(12));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM SearchFolderView"), Value(1));
}

TEST_F(InstallationTest, DeleteDocKeepsTheTemplateAndChildrenSharedWithOtherParents) {
  Install();
  // 10 -> 11 -> 12, and 12 is also a child of 13, which stays.
  for (int id : {10, 11, 12, 13}) AddDocument(id, 400);
  Link(10, 11);
  Link(11, 12);
  Link(13, 12);

  collection_.Execute("EXEC DeleteDoc 10");
  EXPECT_EQ(Column("SELECT EntryID FROM Document ORDER BY EntryID"),
            (std::vector<std::int64_t>{1, 12, 13}));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM SubDocument WHERE ParentEntryID IN (10, 11)"), Value(0));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM SubDocument WHERE ParentEntryID = 13"), Value(1));

  collection_.Execute("EXEC DeleteDoc 1");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Document WHERE EntryID = 1"), Value(1));
  EXPECT_EQ(Scalar("SELECT @@TRANCOUNT"), Value(0));
}

TEST_F(InstallationTest, DeleteFolderEmptiesSystemFoldersButKeepsThem) {
  Install();
  AddDocument(20, 600);
  AddDocument(21, 600);
  AddDocument(22, 200);
  collection_.Execute("UPDATE Document SET FolderID = 600 WHERE EntryID = 1");

  collection_.Execute("EXEC DeleteFolder 600");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Document WHERE EntryID IN (20, 21)"), Value(0));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Folder WHERE FolderID = 600"), Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM SubFolder WHERE ChildFolderID = 600"), Value(1));
  // The template survives and is moved out of the deleted-documents folder.
  EXPECT_EQ(Scalar("SELECT FolderID FROM Document WHERE EntryID = 1"), Value(0));

  collection_.Execute("EXEC DeleteFolder 200");
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Document WHERE EntryID = 22"), Value(0));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Folder WHERE FolderID = 200"), Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Document WHERE EntryID = 1"), Value(1));
}

TEST_F(InstallationTest, AFailingStatementStopsTheScriptWithTheServersError) {
  Install();
  // Installing twice must fail on the first object that exists, with SQL Server's wording.
  db::Command command;
  command.SetActiveConnection(collection_);
  bool failed = false;
  for (const std::string& statement : InstallationScript(InstallValues{kGuid, 37622})) {
    command.SetCommandText(statement);
    try {
      command.Execute();
    } catch (const db::Error& error) {
      failed = true;
      EXPECT_EQ(error.number(), static_cast<std::int32_t>(0x80040E14));
      EXPECT_NE(error.description().find("qa_reader"), std::string::npos)
          << error.description();
      break;
    }
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Folder"), Value(11));
}

}  // namespace
}  // namespace format
