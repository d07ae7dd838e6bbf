// The statements the product and the collection format send to a server: every one must parse,
// and the ones with T-SQL's peculiarities must come out with the right structure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox/tsql/parser.h"
#include "sandbox/tsql/printer.h"

namespace sandbox::tsql {
namespace {

// clang-format off
// The installation script of a collection, in order.
constexpr const char* kInstallScript[] = {
    R"sql(EXEC sp_addrole @rolename = 'qa_reader')sql",
    R"sql(GRANT CREATE TABLE TO qa_reader)sql",
    R"sql(EXEC sp_addrole @rolename = 'qa_writer')sql",
    R"sql(EXEC sp_addrole @rolename = 'qa_structurer')sql",
    R"sql(CREATE TABLE dbo.Document (EntryID INTEGER IDENTITY (1,1) NOT NULL, UniqueID uniqueidentifier, FolderID SMALLINT NOT NULL DEFAULT 0, VisibleInFolderID SMALLINT DEFAULT 0 ,Url NVARCHAR(4000) NOT NULL DEFAULT '', TypeID SMALLINT NOT NULL DEFAULT 0, CodePage INT NOT NULL DEFAULT 0, FileSize INT NOT NULL DEFAULT 0, Title NVARCHAR(255) NULL DEFAULT '', Content NTEXT DEFAULT '', BinaryContent IMAGE NULL, PlainText NTEXT DEFAULT '', Filename NVARCHAR(255) NOT NULL DEFAULT '', CreationTime DATETIME NOT NULL, FileModifiedDate DATETIME NOT NULL, Comment NVARCHAR(4000) NULL, Importance TINYINT NOT NULL DEFAULT 2, BinaryData BIT DEFAULT 0, Categories BIT DEFAULT 0, Status INT DEFAULT 0 CONSTRAINT PK_Document PRIMARY KEY ( EntryID ) ))sql",
    R"sql(CREATE INDEX IDX_Document1 ON dbo.Document (Url, FileSize, FolderID, VisibleInFolderID))sql",
    R"sql(GRANT SELECT ON dbo.Document TO qa_reader)sql",
    R"sql(GRANT INSERT, UPDATE, DELETE ON dbo.Document TO qa_writer)sql",
    R"sql(CREATE TABLE dbo.DocLink ( FolderID SMALLINT NOT NULL , EntryID INTEGER NOT NULL))sql",
    R"sql(GRANT SELECT, INSERT, UPDATE, DELETE ON dbo.DocLink TO qa_reader)sql",
    R"sql(CREATE TABLE dbo.SubDocument (ParentEntryID INTEGER NOT NULL , ChildEntryID INTEGER NOT NULL))sql",
    R"sql(CREATE INDEX IDX_SubDocument ON dbo.SubDocument (ParentEntryID, ChildEntryID))sql",
    R"sql(GRANT SELECT ON dbo.SubDocument TO qa_reader)sql",
    R"sql(GRANT INSERT, UPDATE, DELETE ON dbo.SubDocument TO qa_writer)sql",
    R"sql(CREATE TABLE dbo.Folder (FolderID SMALLINT NOT NULL , Name NVARCHAR(100) NOT NULL DEFAULT '', FolderType SMALLINT DEFAULT 0, Comment NVARCHAR(4000) NULL DEFAULT '', CreationTime DATETIME NOT NULL , Expanded BIT DEFAULT 0, Virtual BIT DEFAULT 0, Icon SMALLINT DEFAULT 0, Status INT DEFAULT 0 CONSTRAINT PK_Folder PRIMARY KEY ( FolderID ) ))sql",
    R"sql(CREATE INDEX IDX_Folder ON dbo.Folder (FolderID))sql",
    R"sql(GRANT SELECT ON dbo.Folder TO qa_reader)sql",
    R"sql(GRANT INSERT, UPDATE, DELETE ON dbo.Folder TO qa_structurer)sql",
    R"sql(CREATE TABLE dbo.SubFolder ( ParentFolderID SMALLINT NOT NULL , ChildFolderID SMALLINT NOT NULL ))sql",
    R"sql(CREATE INDEX IDX_SubFolder ON dbo.SubFolder (ParentFolderID, ChildFolderID))sql",
    R"sql(GRANT SELECT ON dbo.SubFolder TO qa_reader)sql",
    R"sql(GRANT INSERT, UPDATE, DELETE ON dbo.SubFolder TO qa_structurer)sql",
    R"sql(GRANT SELECT, UPDATE ON dbo.SearchFolderView TO qa_reader)sql",
    R"sql(CREATE TABLE dbo.Category (CategoryID SMALLINT NOT NULL , Name NVARCHAR(100) NOT NULL DEFAULT '', Comment NVARCHAR(4000) NULL DEFAULT '', CONSTRAINT PK_Category PRIMARY KEY ( CategoryID ) ))sql",
    R"sql(INSERT INTO dbo.Category (CategoryID, Name ) VALUES (1, 'Wurzelkategorie'))sql",
    R"sql(GRANT SELECT ON dbo.Category TO qa_reader)sql",
    R"sql(GRANT INSERT, UPDATE, DELETE ON dbo.Category TO qa_structurer)sql",
    R"sql(CREATE TABLE dbo.DocCategory (EntryID INT NOT NULL , CategoryID SMALLINT NOT NULL))sql",
    R"sql(GRANT SELECT ON dbo.DocCategory TO qa_reader)sql",
    R"sql(GRANT INSERT, UPDATE, DELETE ON dbo.DocCategory TO qa_structurer)sql",
    R"sql(CREATE TABLE dbo.SubCategory (ParentCategoryID SMALLINT NOT NULL , ChildCategoryID SMALLINT NOT NULL ))sql",
    R"sql(GRANT SELECT ON dbo.SubCategory TO qa_reader)sql",
    R"sql(GRANT INSERT, UPDATE, DELETE ON dbo.SubCategory TO qa_structurer)sql",
    R"sql(CREATE TABLE dbo.ExtendedField ( ExtFieldID SMALLINT NOT NULL , FieldType TINYINT NOT NULL, FieldName NVARCHAR(100) NOT NULL , Visible BIT, UserProperty BIT ))sql",
    R"sql(GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedField TO qa_reader)sql",
    R"sql(CREATE TABLE dbo.ExtendedData (EntryID INTEGER NOT NULL, ExtFieldID SMALLINT NOT NULL, FieldValue NTEXT NULL DEFAULT ''))sql",
    R"sql(GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedData TO qa_reader)sql",
    R"sql(CREATE TABLE dbo.BlackList ( Url NVARCHAR(255) NOT NULL, Userdefined BIT);)sql",
    R"sql(GRANT SELECT ON BlackList TO qa_reader)sql",
    R"sql(GRANT INSERT, UPDATE, DELETE ON BlackList TO qa_writer)sql",
    R"sql(GRANT EXEC ON DocByID TO qa_reader)sql",
    R"sql(GRANT EXEC ON DocByUrl TO qa_reader)sql",
    R"sql(GRANT EXEC ON DocByUrlSize TO qa_reader)sql",
    R"sql(GRANT EXEC ON DocWithSub TO qa_reader)sql",
    R"sql(GRANT EXEC ON DocsInFolder TO qa_reader)sql",
    R"sql(GRANT EXEC ON DocsSub TO qa_reader)sql",
    R"sql(GRANT EXEC ON DocsWithCategory TO qa_reader)sql",
    R"sql(GRANT EXEC ON FolderByID TO qa_reader)sql",
    R"sql(GRANT EXEC ON FoldersRoot TO qa_reader)sql",
    R"sql(GRANT EXEC ON FoldersOpen TO qa_reader)sql",
    R"sql(GRANT EXEC ON FoldersSub TO qa_reader)sql",
    R"sql(GRANT EXEC ON DocCount TO qa_reader)sql",
    R"sql(GRANT EXEC ON FolderCount TO qa_reader)sql",
    R"sql(GRANT EXEC ON CategoriesSub TO qa_reader)sql",
    R"sql(GRANT EXEC ON InsertSearchFolder TO qa_reader)sql",
    R"sql(GRANT EXEC ON RemoveSearchFolder TO qa_reader)sql",
    R"sql(GRANT EXEC ON DeleteDoc TO qa_writer)sql",
    R"sql(GRANT EXEC ON DeleteFolder TO qa_structurer)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime) Values (1, 'Wurzelordner', current_timestamp);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (100, 'Schablonen', current_timestamp, 1);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 100);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime) Values (110, 'Kategorien', current_timestamp);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 110);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (140, 'Suchvorlagen', current_timestamp, 2);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 140);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (150, 'Kontaktpersonen', current_timestamp, 1);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 150);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (200, 'Ideen', current_timestamp, 2);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 200);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime) Values (300, 'Notierte Webadressen', current_timestamp);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 300);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime) Values (400, 'Neu erfasste Dokumente', current_timestamp);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 400);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime, Status, Virtual) Values (500, 'Suchergebnisse', current_timestamp, 2, -1);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 500);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime) Values (600, 'Gelöschte Dokumente', current_timestamp);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 600);)sql",
    R"sql(INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (700, 'Dokumenteneingang', current_timestamp, 2);)sql",
    R"sql(INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 700);)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (1, 3, 'Quillarchive: Document OriginalFolder');)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (2, 1, 'Quillarchive: Archive Type');)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (3, 1, 'Quillarchive: Archive Version');)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (4, 1, 'Quillarchive: Archive Comment');)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (5, 2, 'Quillarchive: Folder OriginalFolder');)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (6, 1, 'Quillarchive: Archive Compatibility');)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (7, 1, 'Quillarchive: Archive GUID');)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (8, 1, 'Quillarchive: Archive Creation Time');)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (10, 1, 'Quillarchive: Search in PlainText');)sql",
    R"sql(INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 2, 'Server Archive');)sql",
    R"sql(INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 3, '1.61');)sql",
    R"sql(INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 6, '1.50');)sql",
    R"sql(INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 7, '{6F9619FF-8B86-D011-B42D-00C04FC964FF}');)sql",
    R"sql(INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 8, '37622');)sql",
    R"sql(INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 10, 'True');)sql",
};

// The view and the single-line procedures of a collection.
constexpr const char* kObjectTexts[] = {
    R"sql(CREATE VIEW dbo.SearchFolderView AS SELECT Folder.* FROM Folder INNER JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID = 500))sql",
    R"sql(CREATE PROCEDURE dbo.DocByID @EntryID INTEGER AS SELECT Document.*, (SELECT Count(SubDocument.ChildEntryID) FROM SubDocument WHERE (((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE ((Document.EntryID) = @EntryID);)sql",
    R"sql(CREATE PROCEDURE dbo.DocByUrl @sUrl NVARCHAR(4000) AS SELECT Document.* From Document WHERE ((Document.Url) = @sUrl);)sql",
    R"sql(CREATE PROCEDURE dbo.DocByUrlSize (@sUrl NVARCHAR(4000), @lFileSize INTEGER) AS SELECT Document.* From Document WHERE (((Document.Url)=@sUrl) AND ((Document.FileSize)=@lFileSize));)sql",
    R"sql(CREATE PROCEDURE dbo.DocWithSub @EntryID INTEGER AS SELECT Document.*, (SELECT Count(SubDocument.ChildEntryID) FROM SubDocument WHERE (((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE ((Document.EntryID) = @EntryID) Union All SELECT Document.*, (SELECT Count(SubDocument.ChildEntryID) FROM SubDocument WHERE (((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount FROM SubDocument INNER JOIN Document ON SubDocument.ChildEntryID = Document.EntryID WHERE (SubDocument.ParentEntryID = @EntryID))sql",
    R"sql(CREATE PROCEDURE dbo.DocsInFolder @FolderID INTEGER AS SELECT Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.Filename, Document.FileSize, Document.CreationTime, Document.FileModifiedDate, Document.Comment, Document.Importance, Document.Categories, Document.Status From Document WHERE (((Document.VisibleInFolderID) = @FolderID));)sql",
    R"sql(CREATE PROCEDURE dbo.DocsSub @ParentEntryID INTEGER AS SELECT Document.*, (SELECT Count(SubDocument.ChildEntryID) FROM SubDocument WHERE (((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount FROM SubDocument INNER JOIN Document ON SubDocument.ChildEntryID = Document.EntryID WHERE (SubDocument.ParentEntryID= @ParentEntryID);)sql",
    R"sql(CREATE PROCEDURE dbo.DocsWithCategory @CategoryID INTEGER AS SELECT DISTINCT Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.FileSize, Document.Filename, Document.CreationTime, Document.FileModifiedDate, Document.Comment AS Comment, Document.Importance, Document.Categories, Document.Status, Folder.FolderID, Folder.Name AS Folder, Folder.Icon FROM (Document INNER JOIN DocCategory ON Document.EntryID = DocCategory.EntryID) INNER JOIN Folder ON Document.FolderID = Folder.FolderID WHERE (DocCategory.CategoryID = @CategoryID);)sql",
    R"sql(CREATE PROCEDURE dbo.FolderByID @FolderID INTEGER AS SELECT Folder.*, SubFolder.ParentFolderID, (SELECT Count(SubFolder_1.ChildFolderID) FROM SubFolder AS SubFolder_1 WHERE (((SubFolder_1.ParentFolderID)=Folder.FolderID))) AS SubFolderCount, (SELECT Count(Document.EntryID) FROM Document WHERE (((Document.VisibleInFolderID)=Folder.FolderID))) AS DocsCount FROM SubFolder RIGHT JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID Where (((Folder.FolderID) = @FolderID)) ORDER BY Folder.Name)sql",
    R"sql(CREATE PROCEDURE dbo.FoldersRoot AS SELECT Folder.*, (SELECT Count(Document.VisibleInFolderID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID WHERE (((SubFolder.ParentFolderID)=1) AND ((Folder.FolderID)>1000)) ORDER BY Folder.Name;)sql",
    R"sql(CREATE PROCEDURE dbo.FoldersOpen AS SELECT Folder.*, SubFolder.ParentFolderID, (SELECT COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS SubFolder_1 WHERE SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) AS DocCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID INNER JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE Folder.FolderID > 1000 AND Folder_1.Expanded = 1 OR Folder.FolderID > 1000 AND Folder_1.Expanded = 0 AND SubFolder.ParentFolderID = 1 ORDER BY Folder.Name;)sql",
    R"sql(CREATE PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, SubFolder.ParentFolderID, (SELECT COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS SubFolder_1 WHERE SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID INNER JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE SubFolder.ParentFolderID = @FolderID ORDER BY Folder.Name;)sql",
    R"sql(CREATE PROCEDURE dbo.DocCount AS SELECT Count(EntryID) AS DocCount FROM Document WHERE ((VisibleInFolderID > 1000) OR (VisibleInFolderID = 400 OR VisibleInFolderID = 600)))sql",
    R"sql(CREATE PROCEDURE dbo.FolderCount AS SELECT Count(FolderID) AS FolderCount FROM Folder WHERE FolderID > 1000)sql",
    R"sql(CREATE PROCEDURE dbo.CategoriesSub @CategoryID INTEGER AS SELECT Category.* FROM SubCategory LEFT JOIN Category ON SubCategory.ChildCategoryID=Category.CategoryID WHERE (((SubCategory.ParentCategoryID)= @CategoryID )) ORDER BY Category.Name;)sql",
    R"sql(CREATE PROCEDURE dbo.InsertSearchFolder (@FolderName VARCHAR(255), @FolderID SMALLINT OUTPUT) AS DECLARE @MaxFolderID SMALLINT SELECT @FolderID = Max(Folder.FolderID)+1 FROM Folder IF @FolderID < 1000 BEGIN SET @FolderID = 1001 END INSERT INTO Folder (FolderID, Name, CreationTime) VALUES (@FolderID, @FolderName, GETDATE()) INSERT INTO SubFolder (ParentFolderID, ChildFolderID) VALUES (500, @FolderID))sql",
    R"sql(CREATE PROCEDURE dbo.RemoveSearchFolder (@FolderID SMALLINT) AS IF EXISTS(SELECT * FROM SubFolder WHERE ParentFolderID=500 AND ChildFolderID=@FolderID) BEGIN DELETE FROM Folder WHERE FolderID=@FolderID DELETE FROM SubFolder WHERE ParentFolderID=500 AND ChildFolderID=@FolderID DELETE FROM ExtendedData FROM (ExtendedData INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID) WHERE (ExtendedField.FieldType=2) AND (ExtendedData.EntryID=@FolderID) End)sql",
};

// Joined by LF.
constexpr const char* kDeleteDocLines[] = {
    R"sql(CREATE Procedure DeleteDoc (@EntryID INT) )sql",
    R"sql(As )sql",
    R"sql(BEGIN TRANSACTION )sql",
    R"sql(CREATE TABLE #TempDocument1 (EntryID int NOT NULL) )sql",
    R"sql(INSERT INTO #TempDocument1 (EntryID) VALUES (@EntryID) )sql",
    R"sql(WHILE @@ROWCOUNT > 0 )sql",
    R"sql(BEGIN )sql",
    "\t" R"sql(INSERT INTO #TempDocument1 (EntryID) SELECT DISTINCT SubDocument.ChildEntryID AS EntryID FROM #TempDocument1 AS #TempDocument1_1 RIGHT JOIN (#TempDocument1 INNER JOIN SubDocument ON #TempDocument1.EntryID = SubDocument.ParentEntryID) ON #TempDocument1_1.EntryID = SubDocument.ChildEntryID WHERE (((#TempDocument1_1.EntryID) Is Null)) )sql",
    R"sql(End )sql",
    R"sql(SELECT DISTINCT MyTemp.EntryID INTO #TempDocument2 FROM (#TempDocument1 AS MyTemp INNER JOIN SubDocument ON MyTemp.EntryID = SubDocument.ChildEntryID) LEFT JOIN #TempDocument1 AS #TempDocument1_1 ON SubDocument.ParentEntryID = #TempDocument1_1.EntryID WHERE (((#TempDocument1_1.EntryID) Is Null)) )sql",
    R"sql(SELECT #TempDocument1.EntryID INTO #TempDocument3 FROM #TempDocument1 LEFT JOIN #TempDocument2 ON #TempDocument1.EntryID=#TempDocument2.EntryID WHERE (((#TempDocument2.EntryID) Is Null) AND (#TempDocument1.EntryID > 1)) )sql",
    R"sql(DELETE FROM Document FROM Document INNER JOIN #TempDocument3 ON Document.EntryID = #TempDocument3.EntryID )sql",
    R"sql(DELETE FROM SubDocument FROM #TempDocument3 INNER JOIN SubDocument ON #TempDocument3.EntryID = SubDocument.ParentEntryID)sql",
    R"sql(DELETE FROM SubDocument FROM #TempDocument3 INNER JOIN SubDocument ON #TempDocument3.EntryID = SubDocument.ChildEntryID)sql",
    R"sql(DELETE FROM DocCategory FROM #TempDocument3 INNER JOIN DocCategory ON #TempDocument3.EntryID = DocCategory.EntryID)sql",
    R"sql(DELETE FROM ExtendedData FROM (#TempDocument3 INNER JOIN ExtendedData ON #TempDocument3.EntryID = ExtendedData.EntryID) INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedField.FieldType)=3)))sql",
    R"sql(DELETE FROM DocLink FROM #TempDocument3 INNER JOIN DocLink ON #TempDocument3.EntryID = DocLink.EntryID)sql",
    R"sql(DROP TABLE #TempDocument1)sql",
    R"sql(DROP TABLE #TempDocument2)sql",
    R"sql(DROP TABLE #TempDocument3)sql",
    R"sql(COMMIT TRANSACTION)sql",
};

// Joined by LF.
constexpr const char* kDeleteFolderLines[] = {
    R"sql(CREATE PROCEDURE DeleteFolder)sql",
    R"sql(@FolderID SMALLINT)sql",
    R"sql(As)sql",
    R"sql(DECLARE @Virtual BIT)sql",
    R"sql(BEGIN TRANSACTION)sql",
    R"sql(CREATE TABLE #TempFolder (FolderID INTEGER))sql",
    R"sql(INSERT INTO #TempFolder (FolderID))sql",
    R"sql(SELECT ChildFolderID FROM SubFolder WHERE ParentFolderID=@FolderID)sql",
    R"sql(INSERT INTO #TempFolder (FolderID) VALUES (@FolderID))sql",
    R"sql(WHILE @@ROWCOUNT > 0)sql",
    R"sql(BEGIN)sql",
    R"sql(INSERT INTO #TempFolder (FolderID) SELECT DISTINCT SubFolder.ChildFolderID FROM #TempFolder INNER JOIN SubFolder ON #TempFolder.FolderID = SubFolder.ParentFolderID WHERE (((SubFolder.ChildFolderID) Not In (SELECT #TempFolder.FolderID FROM #TempFolder))))sql",
    R"sql(END)sql",
    R"sql(SELECT @Virtual=(SELECT Virtual FROM Folder WHERE FolderID = @FolderID))sql",
    R"sql(IF (@Virtual=0))sql",
    R"sql(BEGIN)sql",
    R"sql(CREATE TABLE #TempDocument (EntryID INTEGER))sql",
    R"sql(INSERT INTO #TempDocument (EntryID) SELECT Document.EntryID FROM #TempFolder INNER JOIN Document ON #TempFolder.FolderID = Document.FolderID)sql",
    R"sql(WHILE @@ROWCOUNT > 0)sql",
    R"sql(BEGIN)sql",
    R"sql(INSERT INTO #TempDocument (EntryID) SELECT DISTINCT SubDocument.ChildEntryID AS EntryID FROM #TempDocument AS #TempDocument_1 RIGHT JOIN (#TempDocument INNER JOIN SubDocument ON #TempDocument.EntryID = SubDocument.ParentEntryID) ON #TempDocument_1.EntryID = SubDocument.ChildEntryID WHERE (((#TempDocument_1.EntryID) Is Null)))sql",
    R"sql(END)sql",
    R"sql(DELETE FROM #TempDocument FROM (#TempDocument INNER JOIN SubDocument ON #TempDocument.EntryID = SubDocument.ChildEntryID) LEFT JOIN #TempDocument AS #TempDocument_1 ON SubDocument.ParentEntryID = #TempDocument_1.EntryID WHERE (((#TempDocument_1.EntryID) Is Null)))sql",
    R"sql(DELETE FROM Document FROM Document INNER JOIN #TempDocument ON Document.EntryID = #TempDocument.EntryID WHERE Document.EntryID>1)sql",
    R"sql(DELETE FROM SubDocument FROM #TempDocument INNER JOIN SubDocument ON #TempDocument.EntryID = SubDocument.ParentEntryID)sql",
    R"sql(DELETE FROM SubDocument FROM #TempDocument INNER JOIN SubDocument ON #TempDocument.EntryID = SubDocument.ChildEntryID)sql",
    R"sql(DELETE FROM DocCategory FROM #TempDocument INNER JOIN DocCategory ON #TempDocument.EntryID = DocCategory.EntryID)sql",
    R"sql(DELETE FROM ExtendedData FROM #TempDocument INNER JOIN ExtendedData ON #TempDocument.EntryID = ExtendedData.EntryID INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE ExtendedField.FieldType=3)sql",
    R"sql(DROP TABLE #TempDocument)sql",
    R"sql(END)sql",
    R"sql(ELSE)sql",
    R"sql(DELETE FROM DocLink FROM #TempFolder INNER JOIN DocLink ON #TempFolder.FolderID = DocLink.FolderID)sql",
    "\t" R"sql(DELETE FROM Folder FROM #TempFolder INNER JOIN Folder ON #TempFolder.FolderID = Folder.FolderID WHERE Folder.FolderID > 1000)sql",
    "\t" R"sql(DELETE FROM SubFolder FROM #TempFolder INNER JOIN SubFolder ON #TempFolder.FolderID = SubFolder.ParentFolderID WHERE SubFolder.ParentFolderID > 1000)sql",
    "\t" R"sql(DELETE FROM SubFolder FROM #TempFolder INNER JOIN SubFolder ON #TempFolder.FolderID = SubFolder.ChildFolderID WHERE SubFolder.ChildFolderID > 1000)sql",
    R"sql(DELETE FROM ExtendedData FROM (ExtendedData INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID) INNER JOIN #TempFolder ON ExtendedData.EntryID = #TempFolder.FolderID WHERE ExtendedField.FieldType=2)sql",
    R"sql(DROP TABLE #TempFolder)sql",
    R"sql()sql",
    R"sql(IF (@FolderID=600))sql",
    R"sql(UPDATE Document SET FolderID=0 WHERE FolderID=600)sql",
    R"sql(COMMIT TRANSACTION)sql",
};

// The format upgrade, rung after rung; the first three are in another dialect.
constexpr const char* kUpgradeLadder[] = {
    R"sql(CREATE PROCEDURE dbo.DocsWithCategory ([CategoryID] Long) AS SELECT DISTINCT Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.FileSize, Document.Filename, Document.CreationTime, Document.FileModifiedDate, CStr(Document.Comment) AS Comment, Document.Importance, Document.Categories, Folder.FolderID, Folder.Name AS Folder FROM (Document INNER JOIN DocCategory ON Document.EntryID = DocCategory.EntryID) INNER JOIN Folder ON Document.FolderID = Folder.FolderID WHERE (DocCategory.CategoryID = [CategoryID]);)sql",
    R"sql(ALTER TABLE Document ADD COLUMN PlainText Text)sql",
    R"sql(ALTER TABLE Document ADD COLUMN UniqueID VARCHAR (38))sql",
    R"sql(ALTER TABLE Document ALTER COLUMN Url VARCHAR (4000))sql",
    R"sql(GRANT CREATE TABLE TO qa_reader)sql",
    R"sql(CREATE VIEW dbo.SearchFolderView WITH VIEW_METADATA AS SELECT Folder.* FROM Folder INNER JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID = 500))sql",
    R"sql(GRANT SELECT, UPDATE ON SearchFolderView TO qa_reader)sql",
    R"sql(CREATE PROCEDURE dbo.InsertSearchFolder (@FolderName VARCHAR(255), @FolderID SMALLINT OUTPUT) AS DECLARE @MaxFolderID SMALLINT SELECT @FolderID = Max(Folder.FolderID)+1 FROM Folder IF @FolderID < 1000 BEGIN SET @FolderID = 1001 END INSERT INTO Folder (FolderID, Name, CreationTime) VALUES (@FolderID, @FolderName, GETDATE()) INSERT INTO SubFolder (ParentFolderID, ChildFolderID) VALUES (500, @FolderID))sql",
    R"sql(GRANT EXEC ON InsertSearchFolder TO qa_reader)sql",
    R"sql(CREATE PROCEDURE dbo.RemoveSearchFolder (@FolderID SMALLINT) AS IF EXISTS(SELECT * FROM SubFolder WHERE ParentFolderID=500 AND ChildFolderID=@FolderID) BEGIN DELETE FROM Folder WHERE FolderID=@FolderID DELETE FROM SubFolder WHERE ParentFolderID=500 AND ChildFolderID=@FolderID DELETE FROM ExtendedData FROM (ExtendedData INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID) WHERE (ExtendedField.FieldType=2) AND (ExtendedData.EntryID=@FolderID) End)sql",
    R"sql(GRANT EXEC ON RemoveSearchFolder TO qa_reader)sql",
    R"sql(GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedField TO qa_reader)sql",
    R"sql(GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedData TO qa_reader)sql",
    R"sql(GRANT EXEC ON DeleteDoc TO qa_writer)sql",
    R"sql(GRANT EXEC ON DeleteFolder TO qa_structurer)sql",
    R"sql(CREATE PROCEDURE dbo.DocWithSub @EntryID INTEGER AS SELECT Document.*, (SELECT Count(SubDocument.ChildEntryID) FROM SubDocument WHERE (((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE ((Document.EntryID) = @EntryID) Union All SELECT Document.*, (SELECT Count(SubDocument.ChildEntryID) FROM SubDocument WHERE (((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount FROM SubDocument INNER JOIN Document ON SubDocument.ChildEntryID = Document.EntryID WHERE (SubDocument.ParentEntryID = @EntryID))sql",
    R"sql(GRANT EXEC ON DocWithSub TO qa_reader)sql",
    R"sql(ALTER TABLE Document ADD VisibleInFolderID SMALLINT DEFAULT 0)sql",
    R"sql(ALTER TABLE Document ALTER COLUMN VisibleInFolderID SMALLINT)sql",
    R"sql(DROP PROCEDURE DocsInFolder)sql",
    R"sql(DROP PROCEDURE DocCount)sql",
    R"sql(DROP PROCEDURE FoldersRoot)sql",
    R"sql(DROP PROCEDURE FoldersSub)sql",
    R"sql(CREATE PROCEDURE dbo.DocsInFolder @FolderID INTEGER AS SELECT Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.Filename, Document.FileSize, Document.CreationTime, Document.FileModifiedDate, Document.Comment, Document.Importance, Document.Categories From Document WHERE (((Document.VisibleInFolderID) = @FolderID));)sql",
    R"sql(GRANT EXEC ON DocsInFolder TO qa_reader)sql",
    R"sql(CREATE PROCEDURE dbo.DocCount AS SELECT Count(EntryID) AS DocCount FROM Document WHERE ((VisibleInFolderID > 1000) OR (VisibleInFolderID = 400 OR VisibleInFolderID = 600)))sql",
    R"sql(GRANT EXEC ON DocCount TO qa_reader)sql",
    R"sql(CREATE PROCEDURE dbo.FoldersRoot AS SELECT Folder.*, (SELECT Count(Document.VisibleInFolderID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID WHERE (((SubFolder.ParentFolderID)=1) AND ((Folder.FolderID)>1000)) ORDER BY Folder.Name;)sql",
    R"sql(GRANT EXEC ON FoldersRoot TO qa_reader)sql",
    R"sql(CREATE PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, (SELECT Count(Document.VisibleInFolderID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) AS DocsCount FROM Folder INNER JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID WHERE (((SubFolder.ParentFolderID)= @FolderID)) ORDER BY Folder.Name;)sql",
    R"sql(GRANT EXEC ON FoldersSub TO qa_reader)sql",
    R"sql(UPDATE Document SET VisibleInFolderID = FolderID)sql",
    R"sql(UPDATE Document Set Document.FolderID = 600, Document.VisibleInFolderID = 600 FROM Document LEFT OUTER JOIN SubDocument ON Document.EntryID = SubDocument.ChildEntryID WHERE (Document.FolderID = 0) AND (SubDocument.ParentEntryID IS NULL) AND (Document.EntryID > 1))sql",
    R"sql(UPDATE Document Set Document.FolderID = ParentDoc.FolderID FROM Document INNER JOIN SubDocument ON Document.EntryID = SubDocument.ChildEntryID INNER JOIN Document ParentDoc ON   SubDocument.ParentEntryID = ParentDoc.EntryID WHERE (Document.FolderID = 0) AND (Document.TypeID = 100) AND (Document.EntryID > 1)            )sql",
    R"sql(ALTER TABLE Document ADD Status INT DEFAULT 0)sql",
    R"sql(Update Document SET Status=0)sql",
    R"sql(ALTER TABLE Folder ADD Icon SMALLINT DEFAULT 0)sql",
    R"sql(Update Folder SET Icon=0)sql",
    R"sql(DROP PROCEDURE DocsInFolder)sql",
    R"sql(CREATE PROCEDURE dbo.DocsInFolder @FolderID INTEGER AS SELECT Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.Filename, Document.FileSize, Document.CreationTime, Document.FileModifiedDate, Document.Comment, Document.Importance, Document.Categories, Document.Status From Document WHERE (((Document.VisibleInFolderID) = @FolderID));)sql",
    R"sql(GRANT EXEC ON DocsInFolder TO qa_reader)sql",
    R"sql(DROP PROCEDURE DocsWithCategory)sql",
    R"sql(CREATE PROCEDURE dbo.DocsWithCategory @CategoryID INTEGER AS SELECT DISTINCT Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.FileSize, Document.Filename, Document.CreationTime, Document.FileModifiedDate, Document.Comment AS Comment, Document.Importance, Document.Categories, Document.Status, Folder.FolderID, Folder.Name AS Folder, Folder.Icon FROM (Document INNER JOIN DocCategory ON Document.EntryID = DocCategory.EntryID) INNER JOIN Folder ON Document.FolderID = Folder.FolderID WHERE (DocCategory.CategoryID = @CategoryID);)sql",
    R"sql(GRANT EXEC ON DocsWithCategory TO qa_reader)sql",
    R"sql(ALTER TABLE Folder ADD Status INT DEFAULT 0)sql",
    R"sql(Update Folder SET Status=0)sql",
    R"sql(Update Folder SET Status=2 WHERE FolderID=140 OR FolderID=200 OR FolderID=500 OR FolderID=700)sql",
    R"sql(ALTER TABLE dbo.Document ALTER COLUMN Url NVARCHAR (4000))sql",
    R"sql(DROP PROCEDURE dbo.DocByUrl)sql",
    R"sql(CREATE PROCEDURE dbo.DocByUrl @sUrl NVARCHAR(4000) AS SELECT Document.* From Document WHERE ((Document.Url) = @sUrl);)sql",
    R"sql(GRANT EXEC ON dbo.DocByUrl TO qa_reader)sql",
    R"sql(DROP PROCEDURE dbo.DocByUrlSize)sql",
    R"sql(CREATE PROCEDURE dbo.DocByUrlSize (@sUrl NVARCHAR(4000), @lFileSize INTEGER) AS SELECT Document.* From Document WHERE (((Document.Url)=@sUrl) AND ((Document.FileSize)=@lFileSize));)sql",
    R"sql(GRANT EXEC ON dbo.DocByUrlSize TO qa_reader)sql",
    R"sql(DROP VIEW dbo.SearchFolderView)sql",
    R"sql(CREATE VIEW dbo.SearchFolderView WITH VIEW_METADATA AS SELECT Folder.* FROM Folder INNER JOIN SubFolder ON Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID = 500))sql",
    R"sql(GRANT SELECT, UPDATE ON dbo.SearchFolderView TO qa_reader)sql",
    R"sql(ALTER PROCEDURE dbo.FolderByID @FolderID INTEGER AS SELECT Folder.*, SubFolder.ParentFolderID, (SELECT Count(SubFolder_1.ChildFolderID) FROM SubFolder AS SubFolder_1 WHERE (((SubFolder_1.ParentFolderID)=Folder.FolderID))) AS SubFolderCount, (SELECT Count(Document.EntryID) FROM Document WHERE (((Document.VisibleInFolderID)=Folder.FolderID))) AS DocsCount FROM SubFolder RIGHT JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID Where (((Folder.FolderID)=@FolderID)) ORDER BY Folder.Name)sql",
    R"sql(ALTER PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, SubFolder.ParentFolderID, (SELECT COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS SubFolder_1 WHERE SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID INNER JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE SubFolder.ParentFolderID = @FolderID ORDER BY Folder.Name)sql",
    R"sql(DROP INDEX Document.IDX_Document1)sql",
    R"sql(CREATE INDEX IDX_Document1 ON Document (Url, FileSize, FolderID, VisibleInFolderID))sql",
};
// clang-format on

// Statements of the console, the collection objects and the security dialogs, with sample names
// and values put in where the program concatenates them.
constexpr const char* kConsoleStatements[] = {
    R"sql(EXEC master..sp_helpdb)sql",
    R"sql(CREATE DATABASE Test1 ON ( NAME = Test1, FILENAME = 'C:\Data\Test1.mdf'))sql",
    R"sql(SELECT SUSER_SNAME())sql",
    R"sql(EXEC master..sp_helpuser 'sa')sql",
    R"sql(SELECT IS_SRVROLEMEMBER ('sysadmin','DOMAIN\admin'))sql",
    R"sql(SELECT IS_SRVROLEMEMBER ('dbcreator'))sql",
    R"sql(EXEC master..xp_msver 'ProductVersion')sql",
    R"sql(EXEC master..xp_loginconfig 'login mode')sql",
    R"sql(SET NOCOUNT ON)sql",
    R"sql(SET ANSI_NULL_DFLT_ON ON)sql",
    R"sql(SELECT name FROM master..sysdatabases Where SUSER_SNAME(sid) Is Null)sql",
    R"sql(USE Quillarchive_Test1)sql",
    R"sql(EXEC sp_changedbowner 'sa')sql",
    R"sql(USE master)sql",
    R"sql(SELECT db_name(), name FROM sysusers WHERE sid=suser_sid('DOMAIN\user1'))sql",
    R"sql(EXEC sp_revokedbaccess 'user1')sql",
    R"sql(EXEC master..sp_droplogin 'user1')sql",
    R"sql(EXEC master..sp_revokelogin 'DOMAIN\user1')sql",
    R"sql(EXEC sp_attach_db 'Quillarchive_Test1', 'C:\Data\Test1.mdf', 'C:\Data\Test1_log.ldf')sql",
    R"sql(EXEC sp_attach_single_file_db 'Quillarchive_Test1', 'C:\Data\Test1.mdf')sql",
    R"sql(sp_detach_db @dbname='Quillarchive_Test1';)sql",
    R"sql(DROP DATABASE Quillarchive_Test1)sql",
    R"sql(KILL 53)sql",
    R"sql(sp_dboption @dbname ='Test1' , @optname = 'single user', @optvalue = 'true')sql",
    R"sql(sp_renamedb @dbname ='Test1' , @newname = 'Quillarchive_Test1')sql",
    R"sql(sp_dboption @dbname ='Quillarchive_Test1' , @optname = 'single user', @optvalue = 'false')sql",
    R"sql(ALTER DATABASE Quillarchive_Test1 SET AUTO_SHRINK ON;)sql",
    R"sql(EXEC sp_dboption 'Quillarchive_Test1', 'autoshrink', 'true')sql",
    R"sql(EXEC sp_helprole)sql",
    R"sql(EXEC sp_helprolemember 'qa_reader')sql",
    R"sql(EXEC sp_helpuser 'user1')sql",
    R"sql(SELECT IS_MEMBER ('db_owner'))sql",
    R"sql(EXEC sp_grantdbaccess 'DOMAIN\user1', 'user1')sql",
    R"sql(sp_renamedb @dbname ='Quillarchive_Test1' , @newname = 'Quillarchive_Test2')sql",
    R"sql(SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = sysaltfiles.dbid WHERE sysaltfiles.filename LIKE '%.LDF%' AND sysdatabases.name='Quillarchive_Test1')sql",
    R"sql(BACKUP LOG Quillarchive_Test1 WITH TRUNCATE_ONLY)sql",
    R"sql(DBCC SHRINKFILE(Test1_log, 3))sql",
    R"sql(SELECT * FROM ExtendedField WHERE FieldName='Compatibility' AND FieldType=1;)sql",
    R"sql(INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName, Visible, UserProperty) SELECT Max(ExtFieldID)+1, 1, 'Compatibility', 0, 0 FROM ExtendedField;)sql",
    R"sql(UPDATE ExtendedData SET FieldValue='1.50' WHERE EntryID=0 And ExtFieldID=11)sql",
    R"sql(INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 11, '1.50');)sql",
    R"sql(SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=0) AND ((ExtendedField.ExtFieldID)=3));)sql",
    R"sql(SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=0) AND ((ExtendedField.FieldType)=1) AND ((ExtendedField.FieldName)='Quillarchive: Search in PlainText'));)sql",
    R"sql(SELECT FULLTEXTSERVICEPROPERTY('IsFulltextInstalled'))sql",
    R"sql(EXEC sp_help_fulltext_catalogs 'Doc_Desc')sql",
    R"sql(EXEC sp_fulltext_database 'enable')sql",
    R"sql(EXEC sp_fulltext_catalog 'Doc_Desc', 'create')sql",
    R"sql(EXEC sp_fulltext_table 'Document', 'create', 'Doc_Desc', 'PK_Document')sql",
    R"sql(EXEC sp_fulltext_column 'Document','Title','add')sql",
    R"sql(EXEC sp_fulltext_column 'Document','PlainText','add')sql",
    R"sql(EXEC sp_fulltext_column 'Document','Comment','add')sql",
    R"sql(Exec sp_fulltext_table 'Document','activate')sql",
    R"sql(EXEC sp_fulltext_table Document, 'Start_change_tracking')sql",
    R"sql(EXEC sp_fulltext_table Document, 'Start_background_updateindex')sql",
    R"sql(EXEC sp_fulltext_table Document, 'Stop_background_updateindex')sql",
    R"sql(EXEC sp_fulltext_table Document, 'stop_change_tracking')sql",
    R"sql(Exec sp_fulltext_table 'Document','stop')sql",
    R"sql(EXEC sp_fulltext_catalog 'Doc_Desc', 'Stop')sql",
    R"sql(EXEC sp_fulltext_table 'Document', 'stop')sql",
    R"sql(EXEC sp_fulltext_table 'Document', 'drop')sql",
    R"sql(EXEC sp_fulltext_catalog 'Doc_Desc', 'drop')sql",
    R"sql(EXEC sp_fulltext_database 'disable')sql",
    R"sql(sp_help_fulltext_catalogs)sql",
    R"sql(SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'ItemCount'))sql",
    R"sql(SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'IndexSize'))sql",
    R"sql(SELECT FULLTEXTCATALOGPROPERTY('Doc_Desc', 'PopulateCompletionAge'))sql",
    R"sql(SELECT SYSTEM_USER;)sql",
    R"sql(sp_who)sql",
    R"sql(SELECT Count(EntryID) AS MaxDoc FROM Document WHERE BinaryData=0)sql",
    R"sql(SELECT Top 250 Document.* FROM Document WHERE BinaryData=0 ORDER BY EntryID)sql",
    R"sql(SELECT loginname, isntgroup, isntuser, isntname, denylogin, hasaccess FROM master.dbo.syslogins WHERE loginname='user1')sql",
    R"sql(EXEC master..sp_helpsrvrolemember 'sysadmin')sql",
    R"sql(EXEC sp_helpuser)sql",
    R"sql(EXEC master..sp_addlogin 'user1', 'secret')sql",
    R"sql(EXEC master..sp_grantlogin 'DOMAIN\user1')sql",
    R"sql(EXEC master..sp_denylogin 'DOMAIN\user1')sql",
    R"sql(EXEC master..sp_addsrvrolemember 'user1', 'securityadmin')sql",
    R"sql(EXEC master..sp_dropsrvrolemember 'user1', 'dbcreator')sql",
    R"sql(EXEC Quillarchive_Test1..sp_grantdbaccess 'user1')sql",
    R"sql(EXEC Quillarchive_Test1..sp_addrolemember 'qa_reader', 'user1')sql",
    R"sql(EXEC Quillarchive_Test1..sp_revokedbaccess 'user1')sql",
    R"sql(EXEC master..sp_password @old=NULL, @new='secret' , @loginame='user1')sql",
    R"sql(EXEC sp_addrolemember 'qa_structurer', 'user1')sql",
    R"sql(EXEC sp_droprolemember 'qa_writer', 'user1')sql",
    R"sql(sp_helpdb @dbname='Quillarchive_Test1')sql",
    R"sql(sp_changedbowner 'user1')sql",
    R"sql(SELECT loginname, isntgroup, isntuser, isntname, denylogin, hasaccess FROM master.dbo.syslogins)sql",
    R"sql(SELECT @@VERSION)sql",
    R"sql(EXEC master..xp_msver)sql",
    R"sql(SELECT SERVERPROPERTY('Collation') AS Server_Default_Collation;)sql",
    R"sql(EXEC sp_helpsrvrolemember 'sysadmin')sql",
    R"sql(SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = sysaltfiles.dbid WHERE sysdatabases.name='Quillarchive_Test1')sql",
    R"sql(SELECT DATABASEPROPERTYEX('Quillarchive_Test1', 'Collation') AS Database_Default_Collation)sql",
    R"sql(EXEC master..xp_fixeddrives)sql",
    R"sql(EXEC master..xp_dirtree 'C:\Data', 1, 0)sql",
    R"sql(EXEC master..xp_dirtree 'C:\Data', 1, 1)sql",
};

std::string JoinLines(const char* const* lines, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  return text;
}

std::string DeleteDocText() { return JoinLines(kDeleteDocLines, std::size(kDeleteDocLines)); }
std::string DeleteFolderText() {
  return JoinLines(kDeleteFolderLines, std::size(kDeleteFolderLines));
}

// Parses a text that must hold exactly one statement.
template <class T>
const T& Single(const Batch& batch, Statement::Kind kind) {
  EXPECT_EQ(batch.statements.size(), 1u) << batch.text;
  EXPECT_EQ(batch.statements.at(0)->kind, kind) << batch.text;
  return batch.statements.at(0)->As<T>();
}

std::string Text(const Expr& e) { return ToSql(e); }

ParseError ErrorOf(std::string_view text) {
  try {
    ParseBatch(text);
  } catch (const ParseError& e) {
    return e;
  }
  ADD_FAILURE() << "parsed without error: " << text;
  return ParseError(0, "", 0);
}

TEST(WorkloadTest, EveryInstallationStatementIsOneStatement) {
  int grants = 0, tables = 0, indexes = 0, inserts = 0, execs = 0;
  for (const char* text : kInstallScript) {
    SCOPED_TRACE(text);
    Batch b = ParseBatch(text);
    ASSERT_EQ(b.statements.size(), 1u);
    switch (b.statements[0]->kind) {
      case Statement::Kind::kPermission:
        ++grants;
        break;
      case Statement::Kind::kCreateTable:
        ++tables;
        break;
      case Statement::Kind::kCreateIndex:
        ++indexes;
        break;
      case Statement::Kind::kInsert:
        ++inserts;
        break;
      case Statement::Kind::kExecute:
        ++execs;
        break;
      default:
        ADD_FAILURE() << "unexpected statement kind";
    }
  }
  EXPECT_EQ(execs, 3);
  EXPECT_EQ(tables, 11);
  EXPECT_EQ(indexes, 4);
  EXPECT_EQ(grants, 39);
  EXPECT_EQ(inserts, 37);
}

TEST(WorkloadTest, DocumentTableKeepsDefaultsNullabilityAndTheCommalessKey) {
  Batch b = ParseBatch(kInstallScript[4]);
  const auto& t = Single<CreateTableStatement>(b, Statement::Kind::kCreateTable);
  EXPECT_EQ(t.name.owner, "dbo");
  EXPECT_EQ(t.name.name, "Document");
  ASSERT_EQ(t.definition.columns.size(), 20u);
  const ColumnDef& entry = t.definition.columns[0];
  EXPECT_EQ(entry.name, "EntryID");
  EXPECT_EQ(entry.type.name, "INTEGER");
  EXPECT_TRUE(entry.identity);
  EXPECT_EQ(entry.identity_seed, 1);
  EXPECT_EQ(entry.identity_increment, 1);
  EXPECT_EQ(entry.nullability, Nullability::kNotNull);
  // "VisibleInFolderID SMALLINT DEFAULT 0 ,Url": nullability left to the connection default.
  const ColumnDef& visible = t.definition.columns[3];
  EXPECT_EQ(visible.name, "VisibleInFolderID");
  EXPECT_EQ(visible.nullability, Nullability::kNotStated);
  ASSERT_TRUE(visible.default_value);
  EXPECT_EQ(Text(*visible.default_value), "0");
  const ColumnDef& url = t.definition.columns[4];
  EXPECT_EQ(url.type.ToString(), "NVARCHAR(4000)");
  EXPECT_EQ(Text(*url.default_value), "''");
  EXPECT_EQ(t.definition.columns[8].nullability, Nullability::kNull);  // Title ... NULL
  EXPECT_EQ(t.definition.columns[10].default_value, nullptr);          // BinaryContent
  // "Status INT DEFAULT 0 CONSTRAINT PK_Document PRIMARY KEY ( EntryID )": the key names its
  // own column list, so it belongs to the table, not to Status.
  const ColumnDef& status = t.definition.columns[19];
  EXPECT_EQ(status.name, "Status");
  EXPECT_TRUE(status.constraints.empty());
  ASSERT_EQ(t.definition.constraints.size(), 1u);
  const TableConstraint& pk = t.definition.constraints[0];
  EXPECT_EQ(pk.type, TableConstraint::Type::kPrimaryKey);
  EXPECT_EQ(pk.name, "PK_Document");
  ASSERT_EQ(pk.columns.size(), 1u);
  EXPECT_EQ(pk.columns[0].name, "EntryID");
}

TEST(WorkloadTest, CategoryKeyAfterACommaIsATableConstraint) {
  Batch b = ParseBatch(kInstallScript[23]);
  const auto& t = Single<CreateTableStatement>(b, Statement::Kind::kCreateTable);
  EXPECT_EQ(t.name.name, "Category");
  EXPECT_EQ(t.definition.columns.size(), 3u);
  ASSERT_EQ(t.definition.constraints.size(), 1u);
  EXPECT_EQ(t.definition.constraints[0].name, "PK_Category");
}

TEST(WorkloadTest, GrantsOfStatementsAndObjects) {
  {
    Batch b = ParseBatch("GRANT CREATE TABLE TO qa_reader");
    const auto& g = Single<PermissionStatement>(b, Statement::Kind::kPermission);
    EXPECT_EQ(g.action, PermissionStatement::Action::kGrant);
    EXPECT_EQ(g.permissions, std::vector<std::string>{"CREATE TABLE"});
    EXPECT_TRUE(g.object.empty());
    EXPECT_EQ(g.principals, std::vector<std::string>{"qa_reader"});
  }
  {
    Batch b = ParseBatch("GRANT SELECT, INSERT, UPDATE, DELETE ON dbo.DocLink TO qa_reader");
    const auto& g = Single<PermissionStatement>(b, Statement::Kind::kPermission);
    EXPECT_EQ(g.permissions, (std::vector<std::string>{"SELECT", "INSERT", "UPDATE", "DELETE"}));
    EXPECT_EQ(g.object.owner, "dbo");
    EXPECT_EQ(g.object.name, "DocLink");
  }
  {
    Batch b = ParseBatch("GRANT EXEC ON DeleteFolder TO qa_structurer");
    const auto& g = Single<PermissionStatement>(b, Statement::Kind::kPermission);
    EXPECT_EQ(g.permissions, std::vector<std::string>{"EXECUTE"});
    EXPECT_EQ(g.object.ToString(), "DeleteFolder");
  }
}

TEST(WorkloadTest, SeedRowsKeepNegativeNumbersAndNiladicFunctions) {
  Batch b = ParseBatch(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status, Virtual) Values (500, "
      "'Suchergebnisse', current_timestamp, 2, -1);");
  const auto& ins = Single<InsertStatement>(b, Statement::Kind::kInsert);
  EXPECT_EQ(ins.table.name, "Folder");
  EXPECT_EQ(ins.columns,
            (std::vector<std::string>{"FolderID", "Name", "CreationTime", "Status", "Virtual"}));
  ASSERT_EQ(ins.rows.size(), 1u);
  const auto& row = ins.rows[0];
  ASSERT_EQ(row.size(), 5u);
  EXPECT_EQ(row[1]->As<Literal>().text, "Suchergebnisse");
  const auto& now = row[2]->As<FunctionCall>();
  EXPECT_TRUE(now.niladic);
  EXPECT_EQ(now.name.name, "current_timestamp");
  const auto& minus_one = row[4]->As<Literal>();
  EXPECT_EQ(minus_one.type, Literal::Type::kInteger);
  EXPECT_EQ(minus_one.int_value, -1);
}

TEST(WorkloadTest, UnicodeSeedTextKeepsItsBytes) {
  Batch b = ParseBatch(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (600, 'Gelöschte Dokumente', "
      "current_timestamp);");
  const auto& ins = Single<InsertStatement>(b, Statement::Kind::kInsert);
  EXPECT_EQ(ins.rows[0][1]->As<Literal>().text, "Gelöschte Dokumente");
}

TEST(WorkloadTest, EveryObjectTextParsesAndKeepsItsText) {
  for (const char* text : kObjectTexts) {
    SCOPED_TRACE(text);
    Batch b = ParseBatch(text);
    ASSERT_EQ(b.statements.size(), 1u);
    const Statement& s = *b.statements[0];
    if (s.kind == Statement::Kind::kCreateView) {
      EXPECT_EQ(s.As<CreateViewStatement>().text, text);
    } else {
      ASSERT_EQ(s.kind, Statement::Kind::kCreateProcedure);
      const auto& p = s.As<CreateProcedureStatement>();
      EXPECT_EQ(p.text, text);
      EXPECT_EQ(p.name.owner, "dbo");
      EXPECT_FALSE(p.body.empty());
    }
  }
}

const CreateProcedureStatement& Procedure(const Batch& b) {
  return Single<CreateProcedureStatement>(b, Statement::Kind::kCreateProcedure);
}

TEST(WorkloadTest, ProceduresWithAndWithoutParenthesisedParameters) {
  Batch by_url_size = ParseBatch(
      "CREATE PROCEDURE dbo.DocByUrlSize (@sUrl NVARCHAR(4000), @lFileSize INTEGER) AS SELECT "
      "Document.* From Document WHERE (((Document.Url)=@sUrl) AND "
      "((Document.FileSize)=@lFileSize));");
  const auto& p1 = Procedure(by_url_size);
  EXPECT_TRUE(p1.parenthesized);
  ASSERT_EQ(p1.parameters.size(), 2u);
  EXPECT_EQ(p1.parameters[0].name, "@sUrl");
  EXPECT_EQ(p1.parameters[0].type.ToString(), "NVARCHAR(4000)");
  EXPECT_EQ(p1.parameters[1].name, "@lFileSize");
  EXPECT_FALSE(p1.parameters[1].output);
  ASSERT_EQ(p1.body.size(), 1u);
  const auto& q = p1.body[0]->As<SelectStatement>().query->As<QuerySpec>();
  ASSERT_EQ(q.items.size(), 1u);
  EXPECT_EQ(q.items[0].kind, SelectItem::Kind::kTableStar);
  EXPECT_EQ(q.items[0].table.name, "Document");
  EXPECT_EQ(Text(*q.where), "Document.Url = @sUrl AND Document.FileSize = @lFileSize");

  Batch count = ParseBatch(
      "CREATE PROCEDURE dbo.DocCount AS SELECT Count(EntryID) AS DocCount FROM Document WHERE "
      "((VisibleInFolderID > 1000) OR (VisibleInFolderID = 400 OR VisibleInFolderID = 600))");
  const auto& p2 = Procedure(count);
  EXPECT_FALSE(p2.parenthesized);
  EXPECT_TRUE(p2.parameters.empty());

  Batch by_id = ParseBatch(
      "CREATE PROCEDURE dbo.DocByID @EntryID INTEGER AS SELECT Document.*, (SELECT "
      "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
      "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE "
      "((Document.EntryID) = @EntryID);");
  const auto& p3 = Procedure(by_id);
  EXPECT_FALSE(p3.parenthesized);
  ASSERT_EQ(p3.parameters.size(), 1u);
  EXPECT_EQ(p3.parameters[0].type.name, "INTEGER");
  const auto& query_spec = p3.body[0]->As<SelectStatement>().query->As<QuerySpec>();
  ASSERT_EQ(query_spec.items.size(), 2u);
  EXPECT_EQ(query_spec.items[1].alias, "SubDocsCount");
  EXPECT_EQ(query_spec.items[1].expr->kind, Expr::Kind::kSubquery);
}

TEST(WorkloadTest, InsertSearchFolderBody) {
  Batch b = ParseBatch(
      "CREATE PROCEDURE dbo.InsertSearchFolder (@FolderName VARCHAR(255), @FolderID SMALLINT "
      "OUTPUT) AS DECLARE @MaxFolderID SMALLINT SELECT @FolderID = Max(Folder.FolderID)+1 FROM "
      "Folder IF @FolderID < 1000 BEGIN SET @FolderID = 1001 END INSERT INTO Folder (FolderID, "
      "Name, CreationTime) VALUES (@FolderID, @FolderName, GETDATE()) INSERT INTO SubFolder "
      "(ParentFolderID, ChildFolderID) VALUES (500, @FolderID)");
  const auto& p = Procedure(b);
  ASSERT_EQ(p.parameters.size(), 2u);
  EXPECT_TRUE(p.parameters[1].output);
  EXPECT_EQ(p.parameters[0].type.ToString(), "VARCHAR(255)");
  ASSERT_EQ(p.body.size(), 5u);
  EXPECT_EQ(p.body[0]->kind, Statement::Kind::kDeclare);
  const auto& select = p.body[1]->As<SelectStatement>().query->As<QuerySpec>();
  ASSERT_EQ(select.items.size(), 1u);
  EXPECT_EQ(select.items[0].kind, SelectItem::Kind::kAssignment);
  EXPECT_EQ(select.items[0].variable, "@FolderID");
  EXPECT_EQ(Text(*select.items[0].expr), "Max(Folder.FolderID) + 1");
  const auto& if_stmt = p.body[2]->As<IfStatement>();
  EXPECT_EQ(Text(*if_stmt.condition), "@FolderID < 1000");
  ASSERT_EQ(if_stmt.then_branch->kind, Statement::Kind::kBlock);
  const auto& set =
      if_stmt.then_branch->As<BlockStatement>().statements.at(0)->As<SetVariableStatement>();
  EXPECT_EQ(set.variable, "@FolderID");
  EXPECT_EQ(if_stmt.else_branch, nullptr);
  EXPECT_EQ(p.body[3]->kind, Statement::Kind::kInsert);
  EXPECT_EQ(p.body[4]->kind, Statement::Kind::kInsert);
  EXPECT_EQ(Text(*p.body[3]->As<InsertStatement>().rows[0][2]), "GETDATE()");
}

TEST(WorkloadTest, RemoveSearchFolderDeletesThroughAParenthesisedJoin) {
  Batch b = ParseBatch(
      "CREATE PROCEDURE dbo.RemoveSearchFolder (@FolderID SMALLINT) AS IF EXISTS(SELECT * FROM "
      "SubFolder WHERE ParentFolderID=500 AND ChildFolderID=@FolderID) BEGIN DELETE FROM Folder "
      "WHERE FolderID=@FolderID DELETE FROM SubFolder WHERE ParentFolderID=500 AND "
      "ChildFolderID=@FolderID DELETE FROM ExtendedData FROM (ExtendedData INNER JOIN "
      "ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID) WHERE "
      "(ExtendedField.FieldType=2) AND (ExtendedData.EntryID=@FolderID) End");
  const auto& p = Procedure(b);
  ASSERT_EQ(p.body.size(), 1u);
  const auto& if_stmt = p.body[0]->As<IfStatement>();
  EXPECT_EQ(if_stmt.condition->kind, Expr::Kind::kExists);
  const auto& block = if_stmt.then_branch->As<BlockStatement>();
  ASSERT_EQ(block.statements.size(), 3u);
  const auto& del = block.statements[2]->As<DeleteStatement>();
  EXPECT_EQ(del.target.name, "ExtendedData");
  ASSERT_EQ(del.from.size(), 1u);
  ASSERT_EQ(del.from[0]->kind, TableSource::Kind::kJoin);
  const auto& join = del.from[0]->As<Join>();
  EXPECT_EQ(join.type, JoinType::kInner);
  EXPECT_EQ(join.left->As<TableRef>().name.name, "ExtendedData");
  EXPECT_EQ(join.right->As<TableRef>().name.name, "ExtendedField");
  EXPECT_EQ(Text(*del.where), "ExtendedField.FieldType = 2 AND ExtendedData.EntryID = @FolderID");
}

TEST(WorkloadTest, DocWithSubIsAUnionAll) {
  Batch b = ParseBatch(kObjectTexts[4]);
  const auto& p = Procedure(b);
  EXPECT_EQ(p.name.name, "DocWithSub");
  const Query& q = *p.body.at(0)->As<SelectStatement>().query;
  ASSERT_EQ(q.kind, Query::Kind::kUnion);
  const auto& u = q.As<UnionQuery>();
  EXPECT_TRUE(u.all);
  const auto& right = u.right->As<QuerySpec>();
  EXPECT_EQ(right.items[1].alias, "SubDocsCount");
  EXPECT_EQ(ToSql(*right.from[0]),
            "SubDocument INNER JOIN Document ON SubDocument.ChildEntryID = Document.EntryID");
}

TEST(WorkloadTest, FoldersOpenConditionBindsAndBeforeOr) {
  Batch b = ParseBatch(kObjectTexts[10]);
  const auto& p = Procedure(b);
  EXPECT_EQ(p.name.name, "FoldersOpen");
  const Query& q = *p.body.at(0)->As<SelectStatement>().query;
  ASSERT_EQ(q.order_by.size(), 1u);
  EXPECT_EQ(Text(*q.order_by[0].expr), "Folder.Name");
  const auto& query_spec = q.As<QuerySpec>();
  const auto& where = query_spec.where->As<BinaryExpr>();
  ASSERT_EQ(where.op, BinaryOp::kOr);
  EXPECT_EQ(Text(*where.left), "Folder.FolderID > 1000 AND Folder_1.Expanded = 1");
  EXPECT_EQ(Text(*where.right),
            "Folder.FolderID > 1000 AND Folder_1.Expanded = 0 AND SubFolder.ParentFolderID = 1");
  // Two joins, the second with the alias Folder_1 written without AS.
  const auto& outer = query_spec.from.at(0)->As<Join>();
  EXPECT_EQ(outer.right->As<TableRef>().alias, "Folder_1");
  EXPECT_EQ(outer.left->kind, TableSource::Kind::kJoin);
}

TEST(WorkloadTest, FolderByIdUsesRightJoinAndAnAliasWithAs) {
  Batch b = ParseBatch(kObjectTexts[8]);
  const auto& query_spec = Procedure(b).body.at(0)->As<SelectStatement>().query->As<QuerySpec>();
  const auto& join = query_spec.from.at(0)->As<Join>();
  EXPECT_EQ(join.type, JoinType::kRight);
  const auto& sub = query_spec.items[2].expr->As<SubqueryExpr>().query->As<QuerySpec>();
  EXPECT_EQ(sub.from.at(0)->As<TableRef>().alias, "SubFolder_1");
  EXPECT_EQ(query_spec.items[2].alias, "SubFolderCount");
}

TEST(WorkloadTest, DeleteDocBody) {
  std::string text = DeleteDocText();
  Batch b = ParseBatch(text);
  const auto& p = Procedure(b);
  EXPECT_EQ(p.text, text);
  EXPECT_EQ(p.name.ToString(), "DeleteDoc");
  EXPECT_TRUE(p.parenthesized);
  ASSERT_EQ(p.parameters.size(), 1u);
  EXPECT_EQ(p.parameters[0].type.name, "INT");
  EXPECT_EQ(p.body_span.line, 3);
  EXPECT_EQ(p.body_span.TextIn(text).substr(0, 17), "BEGIN TRANSACTION");
  ASSERT_EQ(p.body.size(), 16u);
  EXPECT_EQ(p.body[0]->kind, Statement::Kind::kBeginTransaction);
  EXPECT_EQ(p.body[0]->As<TransactionStatement>().name, "");
  const auto& temp = p.body[1]->As<CreateTableStatement>();
  EXPECT_EQ(temp.name.name, "#TempDocument1");
  EXPECT_TRUE(temp.name.IsTemporary());
  EXPECT_EQ(p.body[2]->kind, Statement::Kind::kInsert);

  const auto& loop = p.body[3]->As<WhileStatement>();
  EXPECT_EQ(Text(*loop.condition), "@@ROWCOUNT > 0");
  EXPECT_EQ(loop.span.line, 6);
  const auto& inner = loop.body->As<BlockStatement>().statements.at(0)->As<InsertStatement>();
  EXPECT_EQ(inner.span.line, 8);
  ASSERT_EQ(inner.source, InsertStatement::Source::kQuery);
  const auto& query_spec = inner.query->As<QuerySpec>();
  EXPECT_TRUE(query_spec.distinct);
  const auto& join = query_spec.from.at(0)->As<Join>();
  EXPECT_EQ(join.type, JoinType::kRight);
  EXPECT_EQ(join.left->As<TableRef>().name.name, "#TempDocument1");
  EXPECT_EQ(join.left->As<TableRef>().alias, "#TempDocument1_1");
  EXPECT_EQ(join.right->kind, TableSource::Kind::kJoin);
  EXPECT_EQ(Text(*query_spec.where), "#TempDocument1_1.EntryID IS NULL");

  const auto& into2 = p.body[4]->As<SelectStatement>().query->As<QuerySpec>();
  EXPECT_EQ(into2.into.name, "#TempDocument2");
  EXPECT_EQ(into2.from.at(0)->As<Join>().type, JoinType::kLeft);
  const auto& into3 = p.body[5]->As<SelectStatement>().query->As<QuerySpec>();
  EXPECT_EQ(into3.into.name, "#TempDocument3");

  const auto& del = p.body[6]->As<DeleteStatement>();
  EXPECT_EQ(del.target.name, "Document");
  EXPECT_EQ(del.from.at(0)->As<Join>().left->As<TableRef>().name.name, "Document");
  for (int i = 6; i <= 11; ++i) EXPECT_EQ(p.body[i]->kind, Statement::Kind::kDelete);
  for (int i = 12; i <= 14; ++i) EXPECT_EQ(p.body[i]->kind, Statement::Kind::kDropTable);
  EXPECT_EQ(p.body[15]->kind, Statement::Kind::kCommit);
  EXPECT_EQ(p.body[15]->span.line, 21);
}

TEST(WorkloadTest, DeleteFolderBody) {
  std::string text = DeleteFolderText();
  Batch b = ParseBatch(text);
  const auto& p = Procedure(b);
  EXPECT_EQ(p.text, text);
  EXPECT_FALSE(p.parenthesized);
  ASSERT_EQ(p.parameters.size(), 1u);
  EXPECT_EQ(p.parameters[0].name, "@FolderID");
  EXPECT_EQ(p.parameters[0].type.name, "SMALLINT");
  ASSERT_EQ(p.body.size(), 15u);
  EXPECT_EQ(p.body[0]->As<DeclareStatement>().variables.at(0).type.name, "BIT");
  EXPECT_EQ(p.body[1]->kind, Statement::Kind::kBeginTransaction);
  const auto& first_insert = p.body[3]->As<InsertStatement>();  // spread over two lines
  EXPECT_EQ(first_insert.source, InsertStatement::Source::kQuery);
  EXPECT_EQ(first_insert.span.line, 7);

  const auto& loop = p.body[5]->As<WhileStatement>();
  const auto& loop_insert = loop.body->As<BlockStatement>().statements.at(0)->As<InsertStatement>();
  const auto& not_in = loop_insert.query->As<QuerySpec>().where->As<InExpr>();
  EXPECT_TRUE(not_in.negated);
  ASSERT_NE(not_in.subquery, nullptr);

  const auto& assign = p.body[6]->As<SelectStatement>().query->As<QuerySpec>();
  EXPECT_EQ(assign.items.at(0).kind, SelectItem::Kind::kAssignment);
  EXPECT_EQ(assign.items.at(0).variable, "@Virtual");
  EXPECT_EQ(assign.items.at(0).expr->kind, Expr::Kind::kSubquery);

  // IF (@Virtual=0) BEGIN ... END ELSE one DELETE; the tab-indented deletes follow the IF.
  const auto& branch = p.body[7]->As<IfStatement>();
  EXPECT_EQ(Text(*branch.condition), "@Virtual = 0");
  EXPECT_EQ(branch.then_branch->As<BlockStatement>().statements.size(), 10u);
  ASSERT_NE(branch.else_branch, nullptr);
  const auto& else_delete = branch.else_branch->As<DeleteStatement>();
  EXPECT_EQ(else_delete.target.name, "DocLink");
  EXPECT_EQ(p.body[8]->As<DeleteStatement>().target.name, "Folder");
  EXPECT_EQ(p.body[8]->span.line, 33);
  EXPECT_EQ(p.body[12]->kind, Statement::Kind::kDropTable);
  const auto& last_if = p.body[13]->As<IfStatement>();
  EXPECT_EQ(last_if.span.line, 39);
  EXPECT_EQ(last_if.then_branch->kind, Statement::Kind::kUpdate);
  EXPECT_EQ(p.body[14]->kind, Statement::Kind::kCommit);
}

TEST(WorkloadTest, LadderParsesExceptTheOtherDialect) {
  int failures = 0;
  for (const char* text : kUpgradeLadder) {
    SCOPED_TRACE(text);
    try {
      Batch b = ParseBatch(text);
      EXPECT_EQ(b.statements.size(), 1u);
    } catch (const ParseError& e) {
      ++failures;
    }
  }
  EXPECT_EQ(failures, 3);
}

TEST(WorkloadTest, LadderFirstRungFailsLikeSqlServer) {
  ParseError proc = ErrorOf(kUpgradeLadder[0]);
  EXPECT_EQ(proc.number(), 102);
  EXPECT_EQ(proc.message(), "Incorrect syntax near 'CategoryID'.");
  EXPECT_EQ(proc.severity(), 15);
  ParseError add = ErrorOf(kUpgradeLadder[1]);
  EXPECT_EQ(add.number(), 156);
  EXPECT_EQ(add.message(), "Incorrect syntax near the keyword 'COLUMN'.");
  EXPECT_EQ(ErrorOf(kUpgradeLadder[2]).number(), 156);
  // The last statement of that rung is valid T-SQL.
  Batch alter = ParseBatch(kUpgradeLadder[3]);
  const auto& a = Single<AlterTableStatement>(alter, Statement::Kind::kAlterTable);
  EXPECT_EQ(a.action, AlterTableStatement::Action::kAlterColumn);
  EXPECT_EQ(a.alter_column.name, "Url");
  EXPECT_EQ(a.alter_column.type.ToString(), "VARCHAR(4000)");
}

TEST(WorkloadTest, UpdateFromWithTheTargetInFromAgain) {
  Batch b = ParseBatch(
      "UPDATE Document Set Document.FolderID = ParentDoc.FolderID FROM Document INNER JOIN "
      "SubDocument ON Document.EntryID = SubDocument.ChildEntryID INNER JOIN Document ParentDoc "
      "ON   SubDocument.ParentEntryID = ParentDoc.EntryID WHERE (Document.FolderID = 0) AND "
      "(Document.TypeID = 100) AND (Document.EntryID > 1)            ");
  const auto& u = Single<UpdateStatement>(b, Statement::Kind::kUpdate);
  EXPECT_EQ(u.target.name, "Document");
  ASSERT_EQ(u.sets.size(), 1u);
  EXPECT_EQ(u.sets[0].kind, SetClause::Kind::kColumn);
  EXPECT_EQ(u.sets[0].column->table.name, "Document");
  EXPECT_EQ(u.sets[0].column->column, "FolderID");
  const auto& value = u.sets[0].value->As<ColumnRef>();
  EXPECT_EQ(value.table.name, "ParentDoc");
  ASSERT_EQ(u.from.size(), 1u);
  const auto& outer = u.from[0]->As<Join>();
  const auto& parent = outer.right->As<TableRef>();
  EXPECT_EQ(parent.name.name, "Document");
  EXPECT_EQ(parent.alias, "ParentDoc");
  const auto& first = outer.left->As<Join>();
  EXPECT_EQ(first.left->As<TableRef>().name.name, "Document");
  EXPECT_EQ(first.left->As<TableRef>().alias, "");
  EXPECT_EQ(Text(*u.where),
            "Document.FolderID = 0 AND Document.TypeID = 100 AND Document.EntryID > 1");
}

TEST(WorkloadTest, UpdateFromWithLeftOuterJoinAndTwoColumns) {
  Batch b = ParseBatch(
      "UPDATE Document Set Document.FolderID = 600, Document.VisibleInFolderID = 600 FROM "
      "Document LEFT OUTER JOIN SubDocument ON Document.EntryID = SubDocument.ChildEntryID WHERE "
      "(Document.FolderID = 0) AND (SubDocument.ParentEntryID IS NULL) AND (Document.EntryID > "
      "1)");
  const auto& u = Single<UpdateStatement>(b, Statement::Kind::kUpdate);
  ASSERT_EQ(u.sets.size(), 2u);
  EXPECT_EQ(u.sets[1].column->column, "VisibleInFolderID");
  EXPECT_EQ(u.from.at(0)->As<Join>().type, JoinType::kLeft);
}

TEST(WorkloadTest, UpdateTargetNamedByItsAlias) {
  Batch b = ParseBatch("UPDATE d SET d.Title = N'x' FROM Document d WHERE d.EntryID = 2");
  const auto& u = Single<UpdateStatement>(b, Statement::Kind::kUpdate);
  EXPECT_EQ(u.target.name, "d");
  EXPECT_EQ(u.from.at(0)->As<TableRef>().alias, "d");
  EXPECT_EQ(u.sets[0].value->As<Literal>().type, Literal::Type::kUnicodeString);
}

TEST(WorkloadTest, EveryConsoleStatementParses) {
  for (const char* text : kConsoleStatements) {
    SCOPED_TRACE(text);
    Batch b = ParseBatch(text);
    EXPECT_EQ(b.statements.size(), 1u);
  }
}

TEST(WorkloadTest, ProcedureCallsWithoutExecAndThreePartNames) {
  {
    Batch b = ParseBatch("sp_detach_db @dbname='Quillarchive_Test1';");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    EXPECT_TRUE(e.implicit);
    EXPECT_EQ(e.procedure.name, "sp_detach_db");
    ASSERT_EQ(e.args.size(), 1u);
    EXPECT_EQ(e.args[0].name, "@dbname");
    EXPECT_EQ(e.args[0].value->As<Literal>().text, "Quillarchive_Test1");
  }
  {
    Batch b = ParseBatch("EXEC master..sp_helpdb");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    EXPECT_FALSE(e.implicit);
    EXPECT_EQ(e.procedure.database, "master");
    EXPECT_EQ(e.procedure.owner, "");
    EXPECT_EQ(e.procedure.name, "sp_helpdb");
    EXPECT_EQ(e.procedure.part_count, 3);
    EXPECT_EQ(e.procedure.ToString(), "master..sp_helpdb");
    EXPECT_TRUE(e.args.empty());
  }
  {
    Batch b = ParseBatch("EXEC Quillarchive_Test1..sp_addrolemember 'qa_reader', 'user1'");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    EXPECT_EQ(e.procedure.database, "Quillarchive_Test1");
    ASSERT_EQ(e.args.size(), 2u);
    EXPECT_EQ(e.args[1].value->As<Literal>().text, "user1");
  }
  {
    Batch b = ParseBatch("EXEC master..sp_password @old=NULL, @new='secret' , @loginame='user1'");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    ASSERT_EQ(e.args.size(), 3u);
    EXPECT_EQ(e.args[0].value->As<Literal>().type, Literal::Type::kNull);
    EXPECT_EQ(e.args[2].name, "@loginame");
  }
  {
    Batch b = ParseBatch("EXEC sp_fulltext_table Document, 'Start_change_tracking'");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    const auto& bare = e.args.at(0).value->As<Literal>();
    EXPECT_EQ(bare.type, Literal::Type::kString);
    EXPECT_TRUE(bare.bare_word);
    EXPECT_EQ(bare.text, "Document");
  }
  {
    Batch b = ParseBatch("EXEC master..xp_dirtree 'C:\\Data', 1, 0");
    const auto& e = Single<ExecuteStatement>(b, Statement::Kind::kExecute);
    EXPECT_EQ(e.args.at(0).value->As<Literal>().text, "C:\\Data");
    EXPECT_EQ(e.args.at(2).value->As<Literal>().int_value, 0);
  }
}

TEST(WorkloadTest, ServerStatements) {
  {
    Batch b =
        ParseBatch("CREATE DATABASE Test1 ON ( NAME = Test1, FILENAME = 'C:\\Data\\Test1.mdf')");
    const auto& c = Single<CreateDatabaseStatement>(b, Statement::Kind::kCreateDatabase);
    EXPECT_EQ(c.name, "Test1");
    ASSERT_EQ(c.files.size(), 1u);
    EXPECT_EQ(c.files[0].name, "Test1");
    EXPECT_EQ(c.files[0].filename, "C:\\Data\\Test1.mdf");
    EXPECT_TRUE(c.log_files.empty());
    EXPECT_FALSE(c.for_attach);
  }
  {
    Batch b = ParseBatch("ALTER DATABASE Quillarchive_Test1 SET AUTO_SHRINK ON;");
    const auto& a = Single<AlterDatabaseStatement>(b, Statement::Kind::kAlterDatabase);
    ASSERT_EQ(a.options.size(), 1u);
    EXPECT_EQ(a.options[0].name, "AUTO_SHRINK");
    EXPECT_EQ(a.options[0].value, "ON");
  }
  {
    Batch b = ParseBatch("BACKUP LOG Quillarchive_Test1 WITH TRUNCATE_ONLY");
    const auto& k = Single<BackupStatement>(b, Statement::Kind::kBackup);
    EXPECT_TRUE(k.log);
    EXPECT_EQ(k.database, "Quillarchive_Test1");
    ASSERT_EQ(k.options.size(), 1u);
    EXPECT_EQ(k.options[0].name, "TRUNCATE_ONLY");
  }
  {
    Batch b = ParseBatch("DBCC SHRINKFILE(Test1_log, 3)");
    const auto& d = Single<DbccStatement>(b, Statement::Kind::kDbcc);
    EXPECT_EQ(d.command, "SHRINKFILE");
    ASSERT_EQ(d.args.size(), 2u);
    EXPECT_EQ(d.args[0]->As<ColumnRef>().column, "Test1_log");
    EXPECT_EQ(d.args[1]->As<Literal>().int_value, 3);
  }
  {
    Batch b = ParseBatch("KILL 53");
    EXPECT_EQ(Single<KillStatement>(b, Statement::Kind::kKill).target->As<Literal>().int_value, 53);
  }
  {
    Batch b = ParseBatch("USE Quillarchive_Test1");
    EXPECT_EQ(Single<UseStatement>(b, Statement::Kind::kUse).database, "Quillarchive_Test1");
  }
  {
    Batch b = ParseBatch("DROP INDEX Document.IDX_Document1");
    const auto& d = Single<DropIndexStatement>(b, Statement::Kind::kDropIndex);
    ASSERT_EQ(d.targets.size(), 1u);
    EXPECT_EQ(d.targets[0].table.name, "Document");
    EXPECT_EQ(d.targets[0].index, "IDX_Document1");
  }
}

TEST(WorkloadTest, QueriesOfTheConsole) {
  {
    Batch b =
        ParseBatch("SELECT Top 250 Document.* FROM Document WHERE BinaryData=0 ORDER BY EntryID");
    const Query& q = *Single<SelectStatement>(b, Statement::Kind::kSelect).query;
    const auto& query_spec = q.As<QuerySpec>();
    EXPECT_EQ(query_spec.top->As<Literal>().int_value, 250);
    EXPECT_FALSE(query_spec.top_percent);
    EXPECT_EQ(q.order_by.size(), 1u);
  }
  {
    Batch b =
        ParseBatch("SELECT loginname, isntgroup FROM master.dbo.syslogins WHERE loginname='user1'");
    const auto& query_spec =
        Single<SelectStatement>(b, Statement::Kind::kSelect).query->As<QuerySpec>();
    const auto& table = query_spec.from.at(0)->As<TableRef>().name;
    EXPECT_EQ(table.database, "master");
    EXPECT_EQ(table.owner, "dbo");
    EXPECT_EQ(table.name, "syslogins");
  }
  {
    Batch b = ParseBatch("SELECT SYSTEM_USER;");
    const auto& query_spec =
        Single<SelectStatement>(b, Statement::Kind::kSelect).query->As<QuerySpec>();
    EXPECT_TRUE(query_spec.items.at(0).expr->As<FunctionCall>().niladic);
  }
  {
    Batch b = ParseBatch(
        "SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = "
        "sysaltfiles.dbid WHERE sysaltfiles.filename LIKE '%.LDF%' AND sysdatabases.name='x'");
    const auto& query_spec =
        Single<SelectStatement>(b, Statement::Kind::kSelect).query->As<QuerySpec>();
    const auto& like = query_spec.where->As<BinaryExpr>().left->As<LikeExpr>();
    EXPECT_EQ(like.pattern->As<Literal>().text, "%.LDF%");
  }
}

}  // namespace
}  // namespace sandbox::tsql
