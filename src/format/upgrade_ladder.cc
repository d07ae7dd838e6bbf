#include "format/upgrade_ladder.h"

#include <utility>

#include "format/names.h"
#include "format/procedures.h"

namespace format {
namespace {

UpgradeStep Statement(OnError on_error, std::string text) {
  UpgradeStep step;
  step.kind = StepKind::kStatement;
  step.text = std::move(text);
  step.on_error = on_error;
  return step;
}

UpgradeStep StatementIfPreviousFailed(std::string text) {
  UpgradeStep step = Statement(OnError::kIgnore, std::move(text));
  step.kind = StepKind::kStatementIfPreviousFailed;
  step.failure_message = kVisibleInFolderFailure;
  return step;
}

UpgradeStep CountedStatement(OnError on_error, std::string text) {
  UpgradeStep step = Statement(on_error, std::move(text));
  step.kind = StepKind::kCountedStatement;
  return step;
}

UpgradeStep RepeatUntilSameCount(OnError on_error, std::string text) {
  UpgradeStep step = Statement(on_error, std::move(text));
  step.kind = StepKind::kRepeatUntilSameCount;
  return step;
}

UpgradeStep SetVersion(OnError on_error, std::string_view version) {
  UpgradeStep step;
  step.kind = StepKind::kSetVersion;
  step.value = std::string(version);
  step.on_error = on_error;
  return step;
}

UpgradeStep SetCompatibility(OnError on_error, std::string_view field_name,
                             std::string_view value) {
  UpgradeStep step;
  step.kind = StepKind::kSetCompatibility;
  step.text = std::string(field_name);
  step.value = std::string(value);
  step.on_error = on_error;
  return step;
}

UpgradeStep Progress(int value) {
  UpgradeStep step;
  step.kind = StepKind::kProgress;
  step.progress = value;
  return step;
}

// The first rung's statements are in the desktop database's dialect; on SQL Server the first
// one fails and ends the run.
UpgradeRung RungTo136() {
  UpgradeRung rung{"1.36", 136, {}};
  auto& steps = rung.steps;
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.DocsWithCategory ([CategoryID] Long) AS SELECT DISTINCT "
      "Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.FileSize, "
      "Document.Filename, Document.CreationTime, Document.FileModifiedDate, CStr(Document.Comment) "
      "AS Comment, Document.Importance, Document.Categories, Folder.FolderID, Folder.Name AS "
      "Folder FROM (Document INNER JOIN DocCategory ON Document.EntryID = DocCategory.EntryID) "
      "INNER JOIN Folder ON Document.FolderID = Folder.FolderID WHERE (DocCategory.CategoryID = "
      "[CategoryID]);"));
  steps.push_back(Statement(OnError::kStop, "ALTER TABLE Document ADD COLUMN PlainText Text"));
  steps.push_back(
      Statement(OnError::kStop, "ALTER TABLE Document ADD COLUMN UniqueID VARCHAR (38)"));
  steps.push_back(SetVersion(OnError::kStop, rung.version));
  steps.push_back(
      Statement(OnError::kStop, "ALTER TABLE Document ALTER COLUMN Url VARCHAR (4000)"));
  return rung;
}

UpgradeRung RungTo140() {
  UpgradeRung rung{"1.40", 140, {}};
  auto& steps = rung.steps;
  steps.push_back(Statement(OnError::kStop, "GRANT CREATE TABLE TO qa_reader"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE VIEW dbo.SearchFolderView WITH VIEW_METADATA AS SELECT Folder.* FROM Folder INNER "
      "JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID "
      "= 500)"));
  steps.push_back(
      Statement(OnError::kStop, "GRANT SELECT, UPDATE ON SearchFolderView TO qa_reader"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.InsertSearchFolder (@FolderName VARCHAR(255), @FolderID SMALLINT "
      "OUTPUT) AS DECLARE @MaxFolderID SMALLINT SELECT @FolderID = Max(Folder.FolderID)+1 FROM "
      "Folder IF @FolderID < 1000 BEGIN SET @FolderID = 1001 END INSERT INTO Folder (FolderID, "
      "Name, CreationTime) VALUES (@FolderID, @FolderName, GETDATE()) INSERT INTO SubFolder "
      "(ParentFolderID, ChildFolderID) VALUES (500, @FolderID)"));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON InsertSearchFolder TO qa_reader"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.RemoveSearchFolder (@FolderID SMALLINT) AS IF EXISTS(SELECT * FROM "
      "SubFolder WHERE ParentFolderID=500 AND ChildFolderID=@FolderID) BEGIN DELETE FROM Folder "
      "WHERE FolderID=@FolderID DELETE FROM SubFolder WHERE ParentFolderID=500 AND "
      "ChildFolderID=@FolderID DELETE FROM ExtendedData FROM (ExtendedData INNER JOIN "
      "ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID) WHERE "
      "(ExtendedField.FieldType=2) AND (ExtendedData.EntryID=@FolderID) End"));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON RemoveSearchFolder TO qa_reader"));
  steps.push_back(Statement(OnError::kStop,
                            "GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedField TO qa_reader"));
  steps.push_back(Statement(OnError::kStop,
                            "GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedData TO qa_reader"));
  steps.push_back(SetVersion(OnError::kStop, rung.version));
  return rung;
}

UpgradeRung RungTo141() {
  UpgradeRung rung{"1.41", 141, {}};
  auto& steps = rung.steps;
  steps.push_back(Statement(OnError::kStop, DeleteDocText()));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON DeleteDoc TO qa_writer"));
  steps.push_back(Statement(OnError::kStop, DeleteFolderText()));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON DeleteFolder TO qa_structurer"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.DocWithSub @EntryID INTEGER AS SELECT Document.*, (SELECT "
      "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
      "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE "
      "((Document.EntryID) = @EntryID) Union All SELECT Document.*, (SELECT "
      "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
      "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount FROM SubDocument INNER "
      "JOIN Document ON SubDocument.ChildEntryID = Document.EntryID WHERE "
      "(SubDocument.ParentEntryID = @EntryID)"));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON DocWithSub TO qa_reader"));
  steps.push_back(SetVersion(OnError::kStop, rung.version));
  return rung;
}

// VisibleInFolderID arrives: documents without a folder go to the deleted documents, embedded
// documents take their parent's folder, one level of nesting per execution of the repeated update.
UpgradeRung RungTo150() {
  UpgradeRung rung{"1.50", 150, {}};
  auto& steps = rung.steps;
  steps.push_back(
      Statement(OnError::kIgnore, "ALTER TABLE Document ADD VisibleInFolderID SMALLINT DEFAULT 0"));
  steps.push_back(
      StatementIfPreviousFailed("ALTER TABLE Document ALTER COLUMN VisibleInFolderID SMALLINT"));
  steps.push_back(Statement(OnError::kIgnore, "DROP PROCEDURE DocsInFolder"));
  steps.push_back(Statement(OnError::kIgnore, "DROP PROCEDURE DocCount"));
  steps.push_back(Statement(OnError::kIgnore, "DROP PROCEDURE FoldersRoot"));
  steps.push_back(Statement(OnError::kIgnore, "DROP PROCEDURE FoldersSub"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.DocsInFolder @FolderID INTEGER AS SELECT Document.EntryID, "
      "Document.Url, Document.TypeID, Document.Title, Document.Filename, Document.FileSize, "
      "Document.CreationTime, Document.FileModifiedDate, Document.Comment, Document.Importance, "
      "Document.Categories From Document WHERE (((Document.VisibleInFolderID) = @FolderID));"));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON DocsInFolder TO qa_reader"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.DocCount AS SELECT Count(EntryID) AS DocCount FROM Document WHERE "
      "((VisibleInFolderID > 1000) OR (VisibleInFolderID = 400 OR VisibleInFolderID = 600))"));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON DocCount TO qa_reader"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.FoldersRoot AS SELECT Folder.*, (SELECT "
      "Count(Document.VisibleInFolderID) FROM Document WHERE Document.VisibleInFolderID = "
      "Folder.FolderID) AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = "
      "Folder.FolderID WHERE (((SubFolder.ParentFolderID)=1) AND ((Folder.FolderID)>1000)) ORDER "
      "BY Folder.Name;"));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON FoldersRoot TO qa_reader"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, (SELECT "
      "Count(Document.VisibleInFolderID) FROM Document WHERE Document.VisibleInFolderID = "
      "Folder.FolderID) AS DocsCount FROM Folder INNER JOIN SubFolder ON Folder.FolderID = "
      "SubFolder.ChildFolderID WHERE (((SubFolder.ParentFolderID)= @FolderID)) ORDER BY "
      "Folder.Name;"));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON FoldersSub TO qa_reader"));
  steps.push_back(Statement(OnError::kStop, "UPDATE Document SET VisibleInFolderID = FolderID"));
  steps.push_back(CountedStatement(
      OnError::kStop,
      "UPDATE Document Set Document.FolderID = 600, Document.VisibleInFolderID = 600 FROM Document "
      "LEFT OUTER JOIN SubDocument ON Document.EntryID = SubDocument.ChildEntryID WHERE "
      "(Document.FolderID = 0) AND (SubDocument.ParentEntryID IS NULL) AND (Document.EntryID > "
      "1)"));
  steps.push_back(RepeatUntilSameCount(
      OnError::kStop,
      "UPDATE Document Set Document.FolderID = ParentDoc.FolderID FROM Document INNER JOIN "
      "SubDocument ON Document.EntryID = SubDocument.ChildEntryID INNER JOIN Document ParentDoc ON "
      "  SubDocument.ParentEntryID = ParentDoc.EntryID WHERE (Document.FolderID = 0) AND "
      "(Document.TypeID = 100) AND (Document.EntryID > 1)            "));
  steps.push_back(
      SetCompatibility(OnError::kStop, kLegacyCompatibilityName, kCompatibilityVersion));
  steps.push_back(
      SetCompatibility(OnError::kStop, kArchiveCompatibilityName, kCompatibilityVersion));
  steps.push_back(SetVersion(OnError::kStop, rung.version));
  return rung;
}

UpgradeRung RungTo153() {
  UpgradeRung rung{"1.53", 153, {}};
  auto& steps = rung.steps;
  steps.push_back(Statement(OnError::kStop, "ALTER TABLE Document ADD Status INT DEFAULT 0"));
  steps.push_back(Progress(10));
  steps.push_back(Statement(OnError::kStop, "Update Document SET Status=0"));
  steps.push_back(Progress(20));
  steps.push_back(Statement(OnError::kStop, "ALTER TABLE Folder ADD Icon SMALLINT DEFAULT 0"));
  steps.push_back(Progress(30));
  steps.push_back(Statement(OnError::kStop, "Update Folder SET Icon=0"));
  steps.push_back(Progress(40));
  steps.push_back(Statement(OnError::kStop, "DROP PROCEDURE DocsInFolder"));
  steps.push_back(Progress(50));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.DocsInFolder @FolderID INTEGER AS SELECT Document.EntryID, "
      "Document.Url, Document.TypeID, Document.Title, Document.Filename, Document.FileSize, "
      "Document.CreationTime, Document.FileModifiedDate, Document.Comment, Document.Importance, "
      "Document.Categories, Document.Status From Document WHERE (((Document.VisibleInFolderID) = "
      "@FolderID));"));
  steps.push_back(Progress(60));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON DocsInFolder TO qa_reader"));
  steps.push_back(Progress(70));
  steps.push_back(Statement(OnError::kStop, "DROP PROCEDURE DocsWithCategory"));
  steps.push_back(Statement(
      OnError::kStop,
      "CREATE PROCEDURE dbo.DocsWithCategory @CategoryID INTEGER AS SELECT DISTINCT "
      "Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.FileSize, "
      "Document.Filename, Document.CreationTime, Document.FileModifiedDate, Document.Comment AS "
      "Comment, Document.Importance, Document.Categories, Document.Status, Folder.FolderID, "
      "Folder.Name AS Folder, Folder.Icon FROM (Document INNER JOIN DocCategory ON "
      "Document.EntryID = DocCategory.EntryID) INNER JOIN Folder ON Document.FolderID = "
      "Folder.FolderID WHERE (DocCategory.CategoryID = @CategoryID);"));
  steps.push_back(Progress(75));
  steps.push_back(Statement(OnError::kStop, "GRANT EXEC ON DocsWithCategory TO qa_reader"));
  steps.push_back(Statement(OnError::kStop, "ALTER TABLE Folder ADD Status INT DEFAULT 0"));
  steps.push_back(Progress(80));
  steps.push_back(Statement(OnError::kStop, "Update Folder SET Status=0"));
  steps.push_back(Progress(90));
  steps.push_back(SetVersion(OnError::kStop, rung.version));
  steps.push_back(Progress(100));
  return rung;
}

UpgradeRung RungTo154() {
  UpgradeRung rung{"1.54", 154, {}};
  auto& steps = rung.steps;
  steps.push_back(
      Statement(OnError::kStop,
                "Update Folder SET Status=2 WHERE FolderID=140 OR FolderID=200 OR FolderID=500 OR "
                "FolderID=700"));
  steps.push_back(Progress(50));
  steps.push_back(SetVersion(OnError::kStop, rung.version));
  steps.push_back(Progress(100));
  return rung;
}

UpgradeRung RungTo155() {
  UpgradeRung rung{"1.55", 155, {}};
  auto& steps = rung.steps;
  steps.push_back(Progress(10));
  steps.push_back(
      Statement(OnError::kIgnore, "ALTER TABLE dbo.Document ALTER COLUMN Url NVARCHAR (4000)"));
  steps.push_back(Progress(20));
  steps.push_back(Statement(OnError::kIgnore, "DROP PROCEDURE dbo.DocByUrl"));
  steps.push_back(Progress(30));
  steps.push_back(Statement(
      OnError::kIgnore,
      "CREATE PROCEDURE dbo.DocByUrl @sUrl NVARCHAR(4000) AS SELECT Document.* From Document WHERE "
      "((Document.Url) = @sUrl);"));
  steps.push_back(Progress(40));
  steps.push_back(Statement(OnError::kIgnore, "GRANT EXEC ON dbo.DocByUrl TO qa_reader"));
  steps.push_back(Progress(50));
  steps.push_back(Statement(OnError::kIgnore, "DROP PROCEDURE dbo.DocByUrlSize"));
  steps.push_back(Progress(60));
  steps.push_back(Statement(
      OnError::kIgnore,
      "CREATE PROCEDURE dbo.DocByUrlSize (@sUrl NVARCHAR(4000), @lFileSize INTEGER) AS SELECT "
      "Document.* From Document WHERE (((Document.Url)=@sUrl) AND "
      "((Document.FileSize)=@lFileSize));"));
  steps.push_back(Progress(70));
  steps.push_back(Statement(OnError::kIgnore, "GRANT EXEC ON dbo.DocByUrlSize TO qa_reader"));
  steps.push_back(SetVersion(OnError::kIgnore, rung.version));
  steps.push_back(Progress(100));
  return rung;
}

// Entered directly, its errors end the run; after the rung to 1.55 they are ignored.
UpgradeRung RungTo156() {
  UpgradeRung rung{"1.56", 156, {}};
  auto& steps = rung.steps;
  steps.push_back(Statement(OnError::kIgnoreWhenContinued, "DROP VIEW dbo.SearchFolderView"));
  steps.push_back(Progress(33));
  steps.push_back(Statement(
      OnError::kIgnoreWhenContinued,
      "CREATE VIEW dbo.SearchFolderView WITH VIEW_METADATA AS SELECT Folder.* FROM Folder INNER "
      "JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID "
      "= 500)"));
  steps.push_back(Progress(66));
  steps.push_back(Statement(OnError::kIgnoreWhenContinued,
                            "GRANT SELECT, UPDATE ON dbo.SearchFolderView TO qa_reader"));
  steps.push_back(SetVersion(OnError::kIgnoreWhenContinued, rung.version));
  steps.push_back(Progress(100));
  return rung;
}

UpgradeRung RungTo161() {
  UpgradeRung rung{"1.61", 161, {}};
  auto& steps = rung.steps;
  steps.push_back(Statement(
      OnError::kIgnore,
      "ALTER PROCEDURE dbo.FolderByID @FolderID INTEGER AS SELECT Folder.*, "
      "SubFolder.ParentFolderID, (SELECT Count(SubFolder_1.ChildFolderID) FROM SubFolder AS "
      "SubFolder_1 WHERE (((SubFolder_1.ParentFolderID)=Folder.FolderID))) AS SubFolderCount, "
      "(SELECT Count(Document.EntryID) FROM Document WHERE "
      "(((Document.VisibleInFolderID)=Folder.FolderID))) AS DocsCount FROM SubFolder RIGHT JOIN "
      "Folder ON SubFolder.ChildFolderID = Folder.FolderID Where (((Folder.FolderID)=@FolderID)) "
      "ORDER BY Folder.Name"));
  steps.push_back(Progress(75));
  steps.push_back(Statement(
      OnError::kIgnore,
      "ALTER PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, "
      "SubFolder.ParentFolderID, (SELECT COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS "
      "SubFolder_1 WHERE SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT "
      "COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) "
      "AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID "
      "INNER JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE "
      "SubFolder.ParentFolderID = @FolderID ORDER BY Folder.Name"));
  steps.push_back(Statement(OnError::kIgnore, "DROP INDEX Document.IDX_Document1"));
  steps.push_back(Statement(
      OnError::kIgnore,
      "CREATE INDEX IDX_Document1 ON Document (Url, FileSize, FolderID, VisibleInFolderID)"));
  steps.push_back(Progress(90));
  steps.push_back(SetVersion(OnError::kIgnore, rung.version));
  steps.push_back(Progress(100));
  return rung;
}

}  // namespace

std::vector<UpgradeRung> UpgradeLadder() {
  std::vector<UpgradeRung> ladder;
  ladder.push_back(RungTo136());
  ladder.push_back(RungTo140());
  ladder.push_back(RungTo141());
  ladder.push_back(RungTo150());
  ladder.push_back(RungTo153());
  ladder.push_back(RungTo154());
  ladder.push_back(RungTo155());
  ladder.push_back(RungTo156());
  ladder.push_back(RungTo161());
  return ladder;
}

std::optional<std::size_t> FirstRung(int version_number) {
  // No version text gives a negative number; it must not pass for a very old collection.
  if (version_number < 0) return std::nullopt;
  if (version_number < 136) return 0;
  if (version_number <= 139) return 1;
  switch (version_number) {
    case 140:
      return 2;
    case 141:
      return 3;
    case 150:
      return 4;
    case 153:
      return 5;
    case 154:
      return 6;
    case 155:
      return 7;
    case 156:
    case 160:
      return 8;
    default:
      return std::nullopt;
  }
}

}  // namespace format
