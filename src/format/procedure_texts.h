// Creation texts of the collection's view and of its read and search-folder procedures, as the
// desktop application expects them on the server: byte for byte, spacing included.
// DeleteDoc and DeleteFolder live in the message table (see procedures.h).
#pragma once

#include <string_view>

namespace format {

inline constexpr std::string_view kSearchFolderViewText =
    "CREATE VIEW dbo.SearchFolderView AS SELECT Folder.* FROM Folder INNER JOIN SubFolder ON "
    "Folder.FolderID = SubFolder.ChildFolderID Where (SubFolder.ParentFolderID = 500)";

inline constexpr std::string_view kDocByIDText =
    "CREATE PROCEDURE dbo.DocByID @EntryID INTEGER AS SELECT Document.*, (SELECT "
    "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
    "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE "
    "((Document.EntryID) = @EntryID);";

inline constexpr std::string_view kDocByUrlText =
    "CREATE PROCEDURE dbo.DocByUrl @sUrl NVARCHAR(4000) AS SELECT Document.* From Document WHERE "
    "((Document.Url) = @sUrl);";

inline constexpr std::string_view kDocByUrlSizeText =
    "CREATE PROCEDURE dbo.DocByUrlSize (@sUrl NVARCHAR(4000), @lFileSize INTEGER) AS SELECT "
    "Document.* From Document WHERE (((Document.Url)=@sUrl) AND ((Document.FileSize)=@lFileSize));";

inline constexpr std::string_view kDocWithSubText =
    "CREATE PROCEDURE dbo.DocWithSub @EntryID INTEGER AS SELECT Document.*, (SELECT "
    "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
    "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount From Document WHERE "
    "((Document.EntryID) = @EntryID) Union All SELECT Document.*, (SELECT "
    "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
    "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount FROM SubDocument INNER JOIN "
    "Document ON SubDocument.ChildEntryID = Document.EntryID WHERE (SubDocument.ParentEntryID = "
    "@EntryID)";

inline constexpr std::string_view kDocsInFolderText =
    "CREATE PROCEDURE dbo.DocsInFolder @FolderID INTEGER AS SELECT Document.EntryID, Document.Url, "
    "Document.TypeID, Document.Title, Document.Filename, Document.FileSize, Document.CreationTime, "
    "Document.FileModifiedDate, Document.Comment, Document.Importance, Document.Categories, "
    "Document.Status From Document WHERE (((Document.VisibleInFolderID) = @FolderID));";

inline constexpr std::string_view kDocsSubText =
    "CREATE PROCEDURE dbo.DocsSub @ParentEntryID INTEGER AS SELECT Document.*, (SELECT "
    "Count(SubDocument.ChildEntryID) FROM SubDocument WHERE "
    "(((SubDocument.ParentEntryID)=Document.EntryID))) AS SubDocsCount FROM SubDocument INNER JOIN "
    "Document ON SubDocument.ChildEntryID = Document.EntryID WHERE (SubDocument.ParentEntryID= "
    "@ParentEntryID);";

inline constexpr std::string_view kDocsWithCategoryText =
    "CREATE PROCEDURE dbo.DocsWithCategory @CategoryID INTEGER AS SELECT DISTINCT "
    "Document.EntryID, Document.Url, Document.TypeID, Document.Title, Document.FileSize, "
    "Document.Filename, Document.CreationTime, Document.FileModifiedDate, Document.Comment AS "
    "Comment, Document.Importance, Document.Categories, Document.Status, Folder.FolderID, "
    "Folder.Name AS Folder, Folder.Icon FROM (Document INNER JOIN DocCategory ON Document.EntryID "
    "= DocCategory.EntryID) INNER JOIN Folder ON Document.FolderID = Folder.FolderID WHERE "
    "(DocCategory.CategoryID = @CategoryID);";

inline constexpr std::string_view kFolderByIDText =
    "CREATE PROCEDURE dbo.FolderByID @FolderID INTEGER AS SELECT Folder.*, "
    "SubFolder.ParentFolderID, (SELECT Count(SubFolder_1.ChildFolderID) FROM SubFolder AS "
    "SubFolder_1 WHERE (((SubFolder_1.ParentFolderID)=Folder.FolderID))) AS SubFolderCount, "
    "(SELECT Count(Document.EntryID) FROM Document WHERE "
    "(((Document.VisibleInFolderID)=Folder.FolderID))) AS DocsCount FROM SubFolder RIGHT JOIN "
    "Folder ON SubFolder.ChildFolderID = Folder.FolderID Where (((Folder.FolderID) = @FolderID)) "
    "ORDER BY Folder.Name";

inline constexpr std::string_view kFoldersRootText =
    "CREATE PROCEDURE dbo.FoldersRoot AS SELECT Folder.*, (SELECT "
    "Count(Document.VisibleInFolderID) FROM Document WHERE Document.VisibleInFolderID = "
    "Folder.FolderID) AS DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = "
    "Folder.FolderID WHERE (((SubFolder.ParentFolderID)=1) AND ((Folder.FolderID)>1000)) ORDER BY "
    "Folder.Name;";

inline constexpr std::string_view kFoldersOpenText =
    "CREATE PROCEDURE dbo.FoldersOpen AS SELECT Folder.*, SubFolder.ParentFolderID, (SELECT "
    "COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS SubFolder_1 WHERE "
    "SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT "
    "COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) AS "
    "DocCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID INNER "
    "JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE Folder.FolderID > "
    "1000 AND Folder_1.Expanded = 1 OR Folder.FolderID > 1000 AND Folder_1.Expanded = 0 AND "
    "SubFolder.ParentFolderID = 1 ORDER BY Folder.Name;";

inline constexpr std::string_view kFoldersSubText =
    "CREATE PROCEDURE dbo.FoldersSub @FolderID INTEGER AS SELECT Folder.*, "
    "SubFolder.ParentFolderID, (SELECT COUNT(SubFolder_1.ChildFolderID) FROM SubFolder AS "
    "SubFolder_1 WHERE SubFolder_1.ParentFolderID = Folder.FolderID) AS SubFolderCount, (SELECT "
    "COUNT(Document.EntryID) FROM Document WHERE Document.VisibleInFolderID = Folder.FolderID) AS "
    "DocsCount FROM SubFolder INNER JOIN Folder ON SubFolder.ChildFolderID = Folder.FolderID INNER "
    "JOIN Folder Folder_1 ON SubFolder.ParentFolderID = Folder_1.FolderID WHERE "
    "SubFolder.ParentFolderID = @FolderID ORDER BY Folder.Name;";

inline constexpr std::string_view kDocCountText =
    "CREATE PROCEDURE dbo.DocCount AS SELECT Count(EntryID) AS DocCount FROM Document WHERE "
    "((VisibleInFolderID > 1000) OR (VisibleInFolderID = 400 OR VisibleInFolderID = 600))";

inline constexpr std::string_view kFolderCountText =
    "CREATE PROCEDURE dbo.FolderCount AS SELECT Count(FolderID) AS FolderCount FROM Folder WHERE "
    "FolderID > 1000";

inline constexpr std::string_view kCategoriesSubText =
    "CREATE PROCEDURE dbo.CategoriesSub @CategoryID INTEGER AS SELECT Category.* FROM SubCategory "
    "LEFT JOIN Category ON SubCategory.ChildCategoryID=Category.CategoryID WHERE "
    "(((SubCategory.ParentCategoryID)= @CategoryID )) ORDER BY Category.Name;";

inline constexpr std::string_view kInsertSearchFolderText =
    "CREATE PROCEDURE dbo.InsertSearchFolder (@FolderName VARCHAR(255), @FolderID SMALLINT OUTPUT) "
    "AS DECLARE @MaxFolderID SMALLINT SELECT @FolderID = Max(Folder.FolderID)+1 FROM Folder IF "
    "@FolderID < 1000 BEGIN SET @FolderID = 1001 END INSERT INTO Folder (FolderID, Name, "
    "CreationTime) VALUES (@FolderID, @FolderName, GETDATE()) INSERT INTO SubFolder "
    "(ParentFolderID, ChildFolderID) VALUES (500, @FolderID)";

inline constexpr std::string_view kRemoveSearchFolderText =
    "CREATE PROCEDURE dbo.RemoveSearchFolder (@FolderID SMALLINT) AS IF EXISTS(SELECT * FROM "
    "SubFolder WHERE ParentFolderID=500 AND ChildFolderID=@FolderID) BEGIN DELETE FROM Folder "
    "WHERE FolderID=@FolderID DELETE FROM SubFolder WHERE ParentFolderID=500 AND "
    "ChildFolderID=@FolderID DELETE FROM ExtendedData FROM (ExtendedData INNER JOIN ExtendedField "
    "ON ExtendedData.ExtFieldID = ExtendedField.ExtFieldID) WHERE (ExtendedField.FieldType=2) AND "
    "(ExtendedData.EntryID=@FolderID) End";

}  // namespace format
