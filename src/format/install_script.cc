#include "format/install_script.h"

#include <stdexcept>
#include <string>
#include <string_view>

#include "format/procedure_texts.h"
#include "format/procedures.h"

namespace format {
namespace {

// A T-SQL text literal: quotes doubled inside, so the value cannot end the literal early.
std::string TextLiteral(std::string_view value) {
  std::string literal = "'";
  for (char c : value) {
    literal += c;
    if (c == '\'') literal += '\'';
  }
  literal += '\'';
  return literal;
}

// Days from 1 March of year 0 of the proleptic Gregorian calendar; exact for any year.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era;
}

int DaysInMonth(std::int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::int64_t DayNumber(const common::DateTime& date) {
  if (date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > DaysInMonth(date.year, date.month)) {
    throw std::invalid_argument("not a calendar date: month " + std::to_string(date.month) +
                                ", day " + std::to_string(date.day));
  }
  return DaysFromCivil(date.year, date.month, date.day) - DaysFromCivil(1899, 12, 30);
}

std::vector<std::string> InstallationScript(const InstallValues& values) {
  std::vector<std::string> script;
  script.reserve(kInstallationStatementCount);
  script.emplace_back("EXEC sp_addrole @rolename = 'qa_reader'");
  script.emplace_back("GRANT CREATE TABLE TO qa_reader");
  script.emplace_back("EXEC sp_addrole @rolename = 'qa_writer'");
  script.emplace_back("EXEC sp_addrole @rolename = 'qa_structurer'");
  script.emplace_back(
      "CREATE TABLE dbo.Document (EntryID INTEGER IDENTITY (1,1) NOT NULL, UniqueID "
      "uniqueidentifier, FolderID SMALLINT NOT NULL DEFAULT 0, VisibleInFolderID SMALLINT DEFAULT "
      "0 ,Url NVARCHAR(4000) NOT NULL DEFAULT '', TypeID SMALLINT NOT NULL DEFAULT 0, CodePage INT "
      "NOT NULL DEFAULT 0, FileSize INT NOT NULL DEFAULT 0, Title NVARCHAR(255) NULL DEFAULT '', "
      "Content NTEXT DEFAULT '', BinaryContent IMAGE NULL, PlainText NTEXT DEFAULT '', Filename "
      "NVARCHAR(255) NOT NULL DEFAULT '', CreationTime DATETIME NOT NULL, FileModifiedDate "
      "DATETIME NOT NULL, Comment NVARCHAR(4000) NULL, Importance TINYINT NOT NULL DEFAULT 2, "
      "BinaryData BIT DEFAULT 0, Categories BIT DEFAULT 0, Status INT DEFAULT 0 CONSTRAINT "
      "PK_Document PRIMARY KEY ( EntryID ) )");
  script.emplace_back(
      "CREATE INDEX IDX_Document1 ON dbo.Document (Url, FileSize, FolderID, VisibleInFolderID)");
  script.emplace_back("GRANT SELECT ON dbo.Document TO qa_reader");
  script.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.Document TO qa_writer");
  script.emplace_back(
      "CREATE TABLE dbo.DocLink ( FolderID SMALLINT NOT NULL , EntryID INTEGER NOT NULL)");
  script.emplace_back("GRANT SELECT, INSERT, UPDATE, DELETE ON dbo.DocLink TO qa_reader");
  script.emplace_back(
      "CREATE TABLE dbo.SubDocument (ParentEntryID INTEGER NOT NULL , ChildEntryID INTEGER NOT "
      "NULL)");
  script.emplace_back(
      "CREATE INDEX IDX_SubDocument ON dbo.SubDocument (ParentEntryID, ChildEntryID)");
  script.emplace_back("GRANT SELECT ON dbo.SubDocument TO qa_reader");
  script.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubDocument TO qa_writer");
  script.emplace_back(
      "CREATE TABLE dbo.Folder (FolderID SMALLINT NOT NULL , Name NVARCHAR(100) NOT NULL DEFAULT "
      "'', FolderType SMALLINT DEFAULT 0, Comment NVARCHAR(4000) NULL DEFAULT '', CreationTime "
      "DATETIME NOT NULL , Expanded BIT DEFAULT 0, Virtual BIT DEFAULT 0, Icon SMALLINT DEFAULT 0, "
      "Status INT DEFAULT 0 CONSTRAINT PK_Folder PRIMARY KEY ( FolderID ) )");
  script.emplace_back("CREATE INDEX IDX_Folder ON dbo.Folder (FolderID)");
  script.emplace_back("GRANT SELECT ON dbo.Folder TO qa_reader");
  script.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.Folder TO qa_structurer");
  script.emplace_back(
      "CREATE TABLE dbo.SubFolder ( ParentFolderID SMALLINT NOT NULL , ChildFolderID SMALLINT NOT "
      "NULL )");
  script.emplace_back(
      "CREATE INDEX IDX_SubFolder ON dbo.SubFolder (ParentFolderID, ChildFolderID)");
  script.emplace_back("GRANT SELECT ON dbo.SubFolder TO qa_reader");
  script.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubFolder TO qa_structurer");
  script.emplace_back(kSearchFolderViewText);
  script.emplace_back("GRANT SELECT, UPDATE ON dbo.SearchFolderView TO qa_reader");
  script.emplace_back(
      "CREATE TABLE dbo.Category (CategoryID SMALLINT NOT NULL , Name NVARCHAR(100) NOT NULL "
      "DEFAULT '', Comment NVARCHAR(4000) NULL DEFAULT '', CONSTRAINT PK_Category PRIMARY KEY ( "
      "CategoryID ) )");
  script.emplace_back("INSERT INTO dbo.Category (CategoryID, Name ) VALUES (1, 'Wurzelkategorie')");
  script.emplace_back("GRANT SELECT ON dbo.Category TO qa_reader");
  script.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.Category TO qa_structurer");
  script.emplace_back(
      "CREATE TABLE dbo.DocCategory (EntryID INT NOT NULL , CategoryID SMALLINT NOT NULL)");
  script.emplace_back("GRANT SELECT ON dbo.DocCategory TO qa_reader");
  script.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.DocCategory TO qa_structurer");
  script.emplace_back(
      "CREATE TABLE dbo.SubCategory (ParentCategoryID SMALLINT NOT NULL , ChildCategoryID SMALLINT "
      "NOT NULL )");
  script.emplace_back("GRANT SELECT ON dbo.SubCategory TO qa_reader");
  script.emplace_back("GRANT INSERT, UPDATE, DELETE ON dbo.SubCategory TO qa_structurer");
  script.emplace_back(
      "CREATE TABLE dbo.ExtendedField ( ExtFieldID SMALLINT NOT NULL , FieldType TINYINT NOT NULL, "
      "FieldName NVARCHAR(100) NOT NULL , Visible BIT, UserProperty BIT )");
  script.emplace_back("GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedField TO qa_reader");
  script.emplace_back(
      "CREATE TABLE dbo.ExtendedData (EntryID INTEGER NOT NULL, ExtFieldID SMALLINT NOT NULL, "
      "FieldValue NTEXT NULL DEFAULT '')");
  script.emplace_back("GRANT SELECT, INSERT, UPDATE, DELETE ON ExtendedData TO qa_reader");
  script.emplace_back("CREATE TABLE dbo.BlackList ( Url NVARCHAR(255) NOT NULL, Userdefined BIT);");
  script.emplace_back("GRANT SELECT ON BlackList TO qa_reader");
  script.emplace_back("GRANT INSERT, UPDATE, DELETE ON BlackList TO qa_writer");
  script.emplace_back(kDocByIDText);
  script.emplace_back("GRANT EXEC ON DocByID TO qa_reader");
  script.emplace_back(kDocByUrlText);
  script.emplace_back("GRANT EXEC ON DocByUrl TO qa_reader");
  script.emplace_back(kDocByUrlSizeText);
  script.emplace_back("GRANT EXEC ON DocByUrlSize TO qa_reader");
  script.emplace_back(kDocWithSubText);
  script.emplace_back("GRANT EXEC ON DocWithSub TO qa_reader");
  script.emplace_back(kDocsInFolderText);
  script.emplace_back("GRANT EXEC ON DocsInFolder TO qa_reader");
  script.emplace_back(kDocsSubText);
  script.emplace_back("GRANT EXEC ON DocsSub TO qa_reader");
  script.emplace_back(kDocsWithCategoryText);
  script.emplace_back("GRANT EXEC ON DocsWithCategory TO qa_reader");
  script.emplace_back(kFolderByIDText);
  script.emplace_back("GRANT EXEC ON FolderByID TO qa_reader");
  script.emplace_back(kFoldersRootText);
  script.emplace_back("GRANT EXEC ON FoldersRoot TO qa_reader");
  script.emplace_back(kFoldersOpenText);
  script.emplace_back("GRANT EXEC ON FoldersOpen TO qa_reader");
  script.emplace_back(kFoldersSubText);
  script.emplace_back("GRANT EXEC ON FoldersSub TO qa_reader");
  script.emplace_back(kDocCountText);
  script.emplace_back("GRANT EXEC ON DocCount TO qa_reader");
  script.emplace_back(kFolderCountText);
  script.emplace_back("GRANT EXEC ON FolderCount TO qa_reader");
  script.emplace_back(kCategoriesSubText);
  script.emplace_back("GRANT EXEC ON CategoriesSub TO qa_reader");
  script.emplace_back(kInsertSearchFolderText);
  script.emplace_back("GRANT EXEC ON InsertSearchFolder TO qa_reader");
  script.emplace_back(kRemoveSearchFolderText);
  script.emplace_back("GRANT EXEC ON RemoveSearchFolder TO qa_reader");
  script.push_back(DeleteDocText());
  script.emplace_back("GRANT EXEC ON DeleteDoc TO qa_writer");
  script.push_back(DeleteFolderText());
  script.emplace_back("GRANT EXEC ON DeleteFolder TO qa_structurer");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (1, 'Wurzelordner', "
      "current_timestamp);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (100, 'Schablonen', "
      "current_timestamp, 1);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 100);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (110, 'Kategorien', "
      "current_timestamp);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 110);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (140, 'Suchvorlagen', "
      "current_timestamp, 2);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 140);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (150, 'Kontaktpersonen', "
      "current_timestamp, 1);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (100, 150);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (200, 'Ideen', "
      "current_timestamp, 2);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 200);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (300, 'Notierte Webadressen', "
      "current_timestamp);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 300);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (400, 'Neu erfasste Dokumente', "
      "current_timestamp);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 400);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status, Virtual) Values (500, "
      "'Suchergebnisse', current_timestamp, 2, -1);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 500);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime) Values (600, 'Gelöschte Dokumente', "
      "current_timestamp);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 600);");
  script.emplace_back(
      "INSERT INTO Folder (FolderID, Name, CreationTime, Status) Values (700, 'Dokumenteneingang', "
      "current_timestamp, 2);");
  script.emplace_back("INSERT INTO SubFolder (ParentFolderID, ChildFolderID) Values (1, 700);");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (1, 3, 'Quillarchive: "
      "Document OriginalFolder');");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (2, 1, 'Quillarchive: "
      "Archive Type');");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (3, 1, 'Quillarchive: "
      "Archive Version');");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (4, 1, 'Quillarchive: "
      "Archive Comment');");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (5, 2, 'Quillarchive: "
      "Folder OriginalFolder');");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (6, 1, 'Quillarchive: "
      "Archive Compatibility');");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (7, 1, 'Quillarchive: "
      "Archive GUID');");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (8, 1, 'Quillarchive: "
      "Archive Creation Time');");
  script.emplace_back(
      "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName) Values (10, 1, 'Quillarchive: "
      "Search in PlainText');");
  script.emplace_back(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 2, 'Server "
      "Archive');");
  script.emplace_back(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 3, '1.61');");
  script.emplace_back(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 6, '1.50');");
  script.push_back("INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 7, " +
                   TextLiteral(values.collection_guid) + ");");
  script.push_back("INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 8, " +
                   TextLiteral(std::to_string(values.creation_day)) + ");");
  script.emplace_back(
      "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (0, 10, 'True');");
  return script;
}

}  // namespace format
