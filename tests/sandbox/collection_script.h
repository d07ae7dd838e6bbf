// The statements that install a collection database, as the product sends them, for tests that
// run the whole installation against the sandbox.
#pragma once

#include <string>
#include <vector>

namespace sandbox::testing {

// guid: the collection GUID text; day: the creation day number.
inline std::vector<std::string> CollectionScript(const std::string& guid, const std::string& day) {
  std::vector<std::string> script;
  script.push_back("EXEC sp_addrole @rolename = 'qa_reader'");
  script.push_back("GRANT CREATE TABLE TO qa_reader");
  script.push_back("EXEC sp_addrole @rolename = 'qa_writer'");
  script.push_back("EXEC sp_addrole @rolename = 'qa_structurer'");
  script.push_back(
      "CREATE TABLE dbo.Document (EntryID INTEGER IDENTITY (1,1) NOT NULL, UniqueID "
      "uniqueidentifier, FolderID SMALLINT NOT NULL DEFAULT 0, VisibleInFolderID SMALLINT DEFAULT "
      "0 ,Url NVARCHAR(4000) NOT NULL DEFAULT '', TypeID SMALLINT NOT NULL DEFAULT 0, CodePage INT "
      "NOT NULL DEFAULT 0, FileSize INT NOT NULL DEFAULT 0, Title NVARCHAR(255) NULL DEFAULT '', "
      "Content NTEXT DEFAULT '', BinaryContent IMAGE NULL, PlainText NTEXT DEFAULT '', Filename "
      "NVARCHAR(255) NOT NULL DEFAULT '', CreationTime DATETIME NOT NULL, FileModifiedDate "
      "DATETIME NOT NULL, Comment NVARCHAR(4000) NULL, Importance TINYINT NOT NULL DEFAULT 2, "
      "BinaryData BIT DEFAULT 0, Categories BIT DEFAULT 0, Status INT DEFAULT 0 CONSTRAINT "
      "PK_Document PRIMARY KEY ( EntryID ) )");
  script.push_back(
      "CREATE INDEX IDX_Document1 ON dbo.Document (Url, FileSize, FolderID, VisibleInFolderID)");
  script.push_back("GRANT SELECT ON dbo.Document TO qa_reader");
  script.push_back("GRANT INSERT, UPDATE, DELETE ON dbo.Document TO qa_writer");
  script.push_back(
      "CREATE TABLE dbo.DocLink ( FolderID SMALLINT NOT NULL , EntryID INTEGER NOT NULL)");
  script.push_back("GRANT SELECT, INSERT, UPDATE, DELETE ON dbo.DocLink TO qa_reader");
  script.push_back(
      "CREATE TABLE dbo.SubDocument (ParentEntryID INTEGER NOT NULL , ChildEntryID INTEGER NOT "
      "NULL)");
  script.push_back("CREATE INDEX IDX_SubDocument ON dbo.SubDocument (ParentEntryID, ChildEntryID)");
  script.push_back("GRANT SELECT ON dbo.SubDocument TO qa_reader");
  script.push_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubDocument TO qa_writer");
  script.push_back(
      "CREATE TABLE dbo.Folder (FolderID SMALLINT NOT NULL , Name NVARCHAR(100) NOT NULL DEFAULT "
      "'', FolderType SMALLINT DEFAULT 0, Comment NVARCHAR(4000) NULL DEFAULT '', CreationTime "
      "DATETIME NOT NULL , Expanded BIT DEFAULT 0, Virtual BIT DEFAULT 0, Icon SMALLINT DEFAULT 0, "
      "Status INT DEFAULT 0 CONSTRAINT PK_Folder PRIMARY KEY ( FolderID ) )");
  script.push_back("CREATE INDEX IDX_Folder ON dbo.Folder (FolderID)");
  script.push_back("GRANT SELECT ON dbo.Folder TO qa_reader");
  script.push_back("GRANT INSERT, UPDATE, DELETE ON dbo.Folder TO qa_structurer");
  script.push_back(
      "CREATE TABLE dbo.SubFolder ( ParentFolderID SMALLINT NOT NULL , ChildFolderID SMALLINT NOT "
      "NULL )");
  script.push_back("CREATE INDEX IDX_SubFolder ON dbo.SubFolder (ParentFolderID, ChildFolderID)");
  script.push_back("GRANT SELECT ON dbo.SubFolder TO qa_reader");
  script.push_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubFolder TO qa_structurer");
  script.push_back(
      "CREATE VIEW dbo.SearchFolderView AS SELECT Folder.* FROM Folder INNER JOIN SubFolder ON "
      "Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID = 500)");
  script.push_back("GRANT SELECT, UPDATE ON dbo.SearchFolderView TO qa_reader");
  script.push_back(
      "CREATE TABLE dbo.Category (CategoryID SMALLINT NOT NULL , Name NVARCHAR(100) NOT NULL "
      "DEFAULT '', Comment NVARCHAR(4000) NULL DEFAULT '', CONSTRAINT PK_Category PRIMARY KEY ( "
      "CategoryID ) )");
  script.push_back("INSERT INTO dbo.Category (CategoryID, Name ) VALUES (1, 'Wurzelkategorie')");
  script.push_back("GRANT SELECT ON dbo.Category TO qa_reader");
  script.push_back("GRANT INSERT, UPDATE, DELETE ON dbo.Category TO qa_structurer");
  script.push_back(
      "CREATE TABLE dbo.DocCategory (EntryID INT NOT NULL , CategoryID SMALLINT NOT NULL)");
  script.push_back("GRANT SELECT ON dbo.DocCategory TO qa_reader");
  script.push_back("GRANT INSERT, UPDATE, DELETE ON dbo.DocCategory TO qa_structurer");
  script.push_back(
      "CREATE TABLE dbo.SubCategory (ParentCategoryID SMALLINT NOT NULL , ChildCategoryID SMALLINT "
      "NOT NULL )");
  script.push_back("GRANT SELECT ON dbo.SubCategory TO qa_reader");
  script.push_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubCategory TO qa_structurer");
  script.push_back(
      "CREATE TABLE dbo.ExtendedField ( ExtFieldID SMALLINT NOT NULL , FieldType TINYINT NOT NULL, "
      "FieldName NVARCHAR(100) NOT NULL , Visible BIT, UserProperty BIT )");
  script.push_back("GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedField TO qa_reader");
  script.push_back(
      "CREATE TABLE dbo.ExtendedData (EntryID INTEGER NOT NULL, ExtFieldID SMALLINT NOT NULL, "
      "FieldValue NTEXT NULL DEFAULT '')");
  script.push_back("GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedData TO qa_reader");
  script.push_back("CREATE TABLE dbo.BlackList ( Url NVARCHAR(255) NOT NULL, Userdefined BIT);");
  script.push_back("GRANT SELECT ON BlackList TO qa_reader");
  script.push_back("GRANT INSERT, UPDATE, DELETE ON BlackList TO qa_writer");
  script.push_back(
      "CREATE PROCEDURE dbo.DocByID @EntryID INTEGER AS SELECT Document.*, (SELECT "
      "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
      "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE "
      "((Document.EntryID) = @EntryID);");
  script.push_back("GRANT EXEC ON DocByID TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.DocByUrl @sUrl NVARCHAR(4000) AS SELECT Document.* From Document WHERE "
      "((Document.Url) = @sUrl);");
  script.push_back("GRANT EXEC ON DocByUrl TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.DocByUrlSize (@sUrl NVARCHAR(4000), @lFileSize INTEGER) AS SELECT "
      "Document.* From Document WHERE (((Document.Url)=@sUrl) AND "
      "((Document.FileSize)=@lFileSize));");
  script.push_back("GRANT EXEC ON DocByUrlSize TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.DocWithSub @EntryID INTEGER AS SELECT Document.*, (SELECT "
      "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
      "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE "
      "((Document.EntryID) = @EntryID) Union All SELECT Document.*, (SELECT "
      "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
      "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount FROM SubDocument INNER "
      "JOIN Document ON SubDocument.ChildEntryID = Document.EntryID WHERE "
      "(SubDocument.ParentEntryID = @EntryID)");
  script.push_back("GRANT EXEC ON DocWithSub TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.DocsInFolder @FolderID INTEGER AS SELECT Document.EntryID, "
      "Document.Url, Document.TypeID, Document.Title, Document.Filename, Document.FileSize, "
      "Document.CreationTime, Document.FileModifiedDate, Document.Comment, Document.Importance, "
      "Document.Categories, Document.Status From Document WHERE (((Document.VisibleInFolderID) = "
      "@FolderID));");
  script.push_back("GRANT EXEC ON DocsInFolder TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.DocsSub @ParentEntryID INTEGER AS SELECT Document.*, (SELECT "
      "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
      "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount FROM SubDocument INNER "
      "JOIN Document ON SubDocument.ChildEntryID = Document.EntryID WHERE "
      "(SubDocument.ParentEntryID= @ParentEntryID);");
  script.push_back("GRANT EXEC ON DocsSub TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.DocsWithCategory @CategoryID INTEGER AS SELECT DISTINCT "
      "Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.FileSize, "
      "Document.Filename, Document.CreationTime, Document.FileModifiedDate, Document.Comment AS "
      "Comment, Document.Importance, Document.Categories, Document.Status, Folder.FolderID, "
      "Folder.Name AS Folder, Folder.Icon FROM (Document INNER JOIN DocCategory ON "
      "Document.EntryID = DocCategory.EntryID) INNER JOIN Folder ON Document.FolderID = "
      "Folder.FolderID WHERE (DocCategory.CategoryID = @CategoryID);");
  script.push_back("GRANT EXEC ON DocsWithCategory TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.FolderByID @FolderID INTEGER AS SELECT Folder.*, "
      "SubFolder.ParentFolderID, (SELECT Count(SubFolder_1.ChildFolderID) FROM SubFolder AS "
      "SubFolder_1 WHERE (((SubFolder_1.ParentFolderID)=Folder.FolderID))) AS SubFolderCount, "
      "(SELECT Count(Document.EntryID) FROM Document WHERE "
      "(((Document.VisibleInFolderID)=Folder.FolderID))) AS DocsCount FROM SubFolder RIGHT JOIN "
      "Folder ON SubFolder.ChildFolderID = Folder.FolderID Where (((Folder.FolderID) = @FolderID)) "
      "ORDER BY Folder.Name");
  script.push_back("GRANT EXEC ON FolderByID TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.FoldersRoot AS SELECT Folder.*, (SELECT "
      "Count(Document.VisibleInFolderID) FROM Document WHERE Document.VisibleInFolderID = "
      "Folder.FolderID) AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = "
      "Folder.FolderID WHERE (((SubFolder.ParentFolderID)=1) AND ((Folder.FolderID)>1000)) ORDER "
      "BY Folder.Name;");
  script.push_back("GRANT EXEC ON FoldersRoot TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.FoldersOpen AS SELECT Folder.*, SubFolder.ParentFolderID, (SELECT "
      "COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS SubFolder_1 WHERE "
      "SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT "
      "COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) "
      "AS DocCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID "
      "INNER JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE "
      "Folder.FolderID > 1000 AND Folder_1.Expanded = 1 OR Folder.FolderID > 1000 AND "
      "Folder_1.Expanded = 0 AND SubFolder.ParentFolderID = 1 ORDER BY Folder.Name;");
  script.push_back("GRANT EXEC ON FoldersOpen TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, "
      "SubFolder.ParentFolderID, (SELECT COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS "
      "SubFolder_1 WHERE SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT "
      "COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) "
      "AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID "
      "INNER JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE "
      "SubFolder.ParentFolderID = @FolderID ORDER BY Folder.Name;");
  script.push_back("GRANT EXEC ON FoldersSub TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.DocCount AS SELECT Count(EntryID) AS DocCount FROM Document WHERE "
      "((VisibleInFolderID > 1000) OR (VisibleInFolderID = 400 OR VisibleInFolderID = 600))");
  script.push_back("GRANT EXEC ON DocCount TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.FolderCount AS SELECT Count(FolderID) AS FolderCount FROM Folder WHERE "
      "FolderID > 1000");
  script.push_back("GRANT EXEC ON FolderCount TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.CategoriesSub @CategoryID INTEGER AS SELECT Category.* FROM "
      "SubCategory LEFT JOIN Category ON SubCategory.ChildCategoryID=Category.CategoryID WHERE "
      "(((SubCategory.ParentCategoryID)= @CategoryID )) ORDER BY Category.Name;");
  script.push_back("GRANT EXEC ON CategoriesSub TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.InsertSearchFolder (@FolderName VARCHAR(255), @FolderID SMALLINT "
      "OUTPUT) AS DECLARE @MaxFolderID SMALLINT SELECT @FolderID = Max(Folder.FolderID)+1 FROM "
      "Folder IF @FolderID < 1000 BEGIN SET @FolderID = 1001 END INSERT INTO Folder (FolderID, "
      "Name, CreationTime) VALUES (@FolderID, @FolderName, GETDATE()) INSERT INTO SubFolder "
      "(ParentFolderID, ChildFolderID) VALUES (500, @FolderID)");
  script.push_back("GRANT EXEC ON InsertSearchFolder TO qa_reader");
  script.push_back(
      "CREATE PROCEDURE dbo.RemoveSearchFolder (@FolderID SMALLINT) AS IF EXISTS(SELECT * FROM "
      "SubFolder WHERE ParentFolderID=500 AND ChildFolderID=@FolderID) BEGIN DELETE FROM Folder "
      "WHERE FolderID=@FolderID DELETE FROM SubFolder WHERE ParentFolderID=500 AND "
      "ChildFolderID=@FolderID DELETE FROM ExtendedData FROM (ExtendedData INNER JOIN "
      "ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID) WHERE "
      "(ExtendedField.FieldType=2) AND (ExtendedData.EntryID=@FolderID) End");
  script.push_back("GRANT EXEC ON RemoveSearchFolder TO qa_reader");
  script.push_back(
      "CREATE Procedure DeleteDoc (@EntryID INT) \nAs \nBEGIN TRANSACTION \nCREATE TABLE "
      "#TempDocument1 (EntryID int NOT NULL) \nINSERT INTO #TempDocument1 (EntryID) VALUES "
      "(@EntryID) \nWHILE @@ROWCOUNT > 0 \nBEGIN \n\tINSERT INTO #TempDocument1 (EntryID) SELECT "
      "DISTINCT SubDocument.ChildEntryID AS EntryID FROM #TempDocument1 AS #TempDocument1_1 RIGHT "
      "JOIN (#TempDocument1 INNER JOIN SubDocument ON #TempDocument1.EntryID = "
      "SubDocument.ParentEntryID) ON #TempDocument1_1.EntryID = SubDocument.ChildEntryID WHERE "
      "(((#TempDocument1_1.EntryID) Is Null)) \nEnd \nSELECT DISTINCT MyTemp.EntryID INTO "
      "#TempDocument2 FROM (#TempDocument1 AS MyTemp INNER JOIN SubDocument ON MyTemp.EntryID = "
      "SubDocument.ChildEntryID) LEFT JOIN #TempDocument1 AS #TempDocument1_1 ON "
      "SubDocument.ParentEntryID = #TempDocument1_1.EntryID WHERE (((#TempDocument1_1.EntryID) Is "
      "Null)) \nSELECT #TempDocument1.EntryID INTO #TempDocument3 FROM #TempDocument1 LEFT JOIN "
      "#TempDocument2 ON #TempDocument1.EntryID=#TempDocument2.EntryID WHERE "
      "(((#TempDocument2.EntryID) Is Null) AND (#TempDocument1.EntryID > 1)) \nDELETE FROM "
      "Document FROM Document INNER JOIN #TempDocument3 ON Document.EntryID = "
      "#TempDocument3.EntryID \nDELETE FROM SubDocument FROM #TempDocument3 INNER JOIN SubDocument "
      "ON #TempDocument3.EntryID = SubDocument.ParentEntryID\nDELETE FROM SubDocument FROM "
      "#TempDocument3 INNER JOIN SubDocument ON #TempDocument3.EntryID = "
      "SubDocument.ChildEntryID\nDELETE FROM DocCategory FROM #TempDocument3 INNER JOIN "
      "DocCategory ON #TempDocument3.EntryID = DocCategory.EntryID\nDELETE FROM ExtendedData FROM "
      "(#TempDocument3 INNER JOIN ExtendedData ON #TempDocument3.EntryID = ExtendedData.EntryID) "
      "INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE "
      "(((ExtendedField.FieldType)=3))\nDELETE FROM DocLink FROM #TempDocument3 INNER JOIN DocLink "
      "ON #TempDocument3.EntryID = DocLink.EntryID\nDROP TABLE #TempDocument1\nDROP TABLE "
      "#TempDocument2\nDROP TABLE #TempDocument3\nCOMMIT TRANSACTION");
  script.push_back("GRANT EXEC ON DeleteDoc TO qa_writer");
  script.push_back(
      "CREATE PROCEDURE DeleteFolder\n@FolderID SMALLINT\nAs\nDECLARE @Virtual BIT\nBEGIN "
      "TRANSACTION\nCREATE TABLE #TempFolder (FolderID INTEGER)\nINSERT INTO #TempFolder "
      "(FolderID)\nSELECT ChildFolderID FROM SubFolder WHERE ParentFolderID=@FolderID\nINSERT INTO "
      "#TempFolder (FolderID) VALUES (@FolderID)\nWHILE @@ROWCOUNT > 0\nBEGIN\nINSERT INTO "
      "#TempFolder (FolderID) SELECT DISTINCT SubFolder.ChildFolderID FROM #TempFolder INNER JOIN "
      "SubFolder ON #TempFolder.FolderID = SubFolder.ParentFolderID WHERE "
      "(((SubFolder.ChildFolderID) Not In (SELECT #TempFolder.FolderID FROM "
      "#TempFolder)))\nEND\nSELECT @Virtual=(SELECT Virtual FROM Folder WHERE FolderID = "
      "@FolderID)\nIF (@Virtual=0)\nBEGIN\nCREATE TABLE #TempDocument (EntryID INTEGER)\nINSERT "
      "INTO #TempDocument (EntryID) SELECT Document.EntryID FROM #TempFolder INNER JOIN Document "
      "ON #TempFolder.FolderID = Document.FolderID\nWHILE @@ROWCOUNT > 0\nBEGIN\nINSERT INTO "
      "#TempDocument (EntryID) SELECT DISTINCT SubDocument.ChildEntryID AS EntryID FROM "
      "#TempDocument AS #TempDocument_1 RIGHT JOIN (#TempDocument INNER JOIN SubDocument ON "
      "#TempDocument.EntryID = SubDocument.ParentEntryID) ON #TempDocument_1.EntryID = "
      "SubDocument.ChildEntryID WHERE (((#TempDocument_1.EntryID) Is Null))\nEND\nDELETE FROM "
      "#TempDocument FROM (#TempDocument INNER JOIN SubDocument ON #TempDocument.EntryID = "
      "SubDocument.ChildEntryID) LEFT JOIN #TempDocument AS #TempDocument_1 ON "
      "SubDocument.ParentEntryID = #TempDocument_1.EntryID WHERE (((#TempDocument_1.EntryID) Is "
      "Null))\nDELETE FROM Document FROM Document INNER JOIN #TempDocument ON Document.EntryID = "
      "#TempDocument.EntryID WHERE Document.EntryID>1\nDELETE FROM SubDocument FROM #TempDocument "
      "INNER JOIN SubDocument ON #TempDocument.EntryID = SubDocument.ParentEntryID\nDELETE FROM "
      "SubDocument FROM #TempDocument INNER JOIN SubDocument ON #TempDocument.EntryID = "
      "SubDocument.ChildEntryID\nDELETE FROM DocCategory FROM #TempDocument INNER JOIN DocCategory "
      "ON #TempDocument.EntryID = DocCategory.EntryID\nDELETE FROM ExtendedData FROM #TempDocument "
      "INNER JOIN ExtendedData ON #TempDocument.EntryID = ExtendedData.EntryID INNER JOIN "
      "ExtendedField ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE "
      "ExtendedField.FieldType=3\nDROP TABLE #TempDocument\nEND\nELSE\nDELETE FROM DocLink FROM "
      "#TempFolder INNER JOIN DocLink ON #TempFolder.FolderID = DocLink.FolderID\n\tDELETE FROM "
      "Folder FROM #TempFolder INNER JOIN Folder ON #TempFolder.FolderID = Folder.FolderID WHERE "
      "Folder.FolderID > 1000\n\tDELETE FROM SubFolder FROM #TempFolder INNER JOIN SubFolder ON "
      "#TempFolder.FolderID = SubFolder.ParentFolderID WHERE SubFolder.ParentFolderID > "
      "1000\n\tDELETE FROM SubFolder FROM #TempFolder INNER JOIN SubFolder ON #TempFolder.FolderID "
      "= SubFolder.ChildFolderID WHERE SubFolder.ChildFolderID > 1000\nDELETE FROM ExtendedData "
      "FROM (ExtendedData INNER JOIN ExtendedField ON ExtendedData.ExtFieldID = "
      "ExtendedField.ExtFieldID) INNER JOIN #TempFolder ON ExtendedData.EntryID = "
      "#TempFolder.FolderID WHERE ExtendedField.FieldType=2\nDROP TABLE #TempFolder\n\nIF "
      "(@FolderID=600)\nUPDATE Document SET FolderID=0 WHERE FolderID=600\nCOMMIT TRANSACTION");
  script.push_back("GRANT EXEC ON DeleteFolder TO qa_structurer");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (1, 'Wurzelordner', "
      "current_timestamp);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (100, 'Schablonen', "
      "current_timestamp, 1);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 100);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (110, 'Kategorien', "
      "current_timestamp);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 110);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (140, 'Suchvorlagen', "
      "current_timestamp, 2);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 140);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (150, 'Kontaktpersonen', "
      "current_timestamp, 1);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 150);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (200, 'Ideen', "
      "current_timestamp, 2);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 200);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (300, 'Notierte Webadressen', "
      "current_timestamp);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 300);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (400, 'Neu erfasste Dokumente', "
      "current_timestamp);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 400);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status, Virtual) Values (500, "
      "'Suchergebnisse', current_timestamp, 2, -1);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 500);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (600, 'Gelöschte Dokumente', "
      "current_timestamp);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 600);");
  script.push_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (700, 'Dokumenteneingang', "
      "current_timestamp, 2);");
  script.push_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 700);");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (1, 3, 'Quillarchive: "
      "Document OriginalFolder');");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (2, 1, 'Quillarchive: "
      "Archive Type');");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (3, 1, 'Quillarchive: "
      "Archive Version');");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (4, 1, 'Quillarchive: "
      "Archive Comment');");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (5, 2, 'Quillarchive: "
      "Folder OriginalFolder');");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (6, 1, 'Quillarchive: "
      "Archive Compatibility');");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (7, 1, 'Quillarchive: "
      "Archive GUID');");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (8, 1, 'Quillarchive: "
      "Archive Creation Time');");
  script.push_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (10, 1, 'Quillarchive: "
      "Search in PlainText');");
  script.push_back(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 2, 'Server "
      "Archive');");
  script.push_back(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 3, '1.61');");
  script.push_back(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 6, '1.50');");
  script.push_back("INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 7, '" +
                   guid + "');");
  script.push_back("INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 8, '" +
                   day + "');");
  script.push_back(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 10, 'True');");
  return script;
}

}  // namespace sandbox::testing
