// Names and values that make a database a collection and that the desktop application relies on.
#pragma once

#include <array>
#include <string_view>

namespace format {

// A database is a collection when its name contains this prefix (compared without regard to
// case); the display name is the text after it.
inline constexpr std::string_view kCollectionPrefix = "Quillarchive_";

// The format that new collections get, and the oldest format a reading application must support.
inline constexpr std::string_view kFormatVersion = "1.61";
inline constexpr int kFormatVersionNumber = 161;
inline constexpr std::string_view kCompatibilityVersion = "1.50";

// Roles that carry every right in a collection.
inline constexpr std::string_view kReaderRole = "qa_reader";
inline constexpr std::string_view kWriterRole = "qa_writer";
inline constexpr std::string_view kStructurerRole = "qa_structurer";

// What an extended property belongs to (ExtendedField.FieldType); it decides how
// ExtendedData.EntryID is read.
inline constexpr int kCollectionProperty = 1;  // the collection itself, always entry 0
inline constexpr int kFolderProperty = 2;      // EntryID is a FolderID
inline constexpr int kDocumentProperty = 3;    // EntryID is a document's EntryID

// Entry number under which the collection's own properties are stored.
inline constexpr int kCollectionEntry = 0;

// Extended fields seeded in every new collection (ExtFieldID and name).
inline constexpr int kDocumentOriginalFolderField = 1;
inline constexpr int kArchiveTypeField = 2;
inline constexpr int kArchiveVersionField = 3;
inline constexpr int kArchiveCommentField = 4;
inline constexpr int kFolderOriginalFolderField = 5;
inline constexpr int kArchiveCompatibilityField = 6;
inline constexpr int kArchiveGuidField = 7;
inline constexpr int kArchiveCreationTimeField = 8;
inline constexpr int kSearchInPlainTextField = 10;

inline constexpr std::string_view kDocumentOriginalFolderName =
    "Quillarchive: Document OriginalFolder";
inline constexpr std::string_view kArchiveTypeName = "Quillarchive: Archive Type";
inline constexpr std::string_view kArchiveVersionName = "Quillarchive: Archive Version";
inline constexpr std::string_view kArchiveCommentName = "Quillarchive: Archive Comment";
inline constexpr std::string_view kFolderOriginalFolderName = "Quillarchive: Folder OriginalFolder";
inline constexpr std::string_view kArchiveCompatibilityName = "Quillarchive: Archive Compatibility";
inline constexpr std::string_view kArchiveGuidName = "Quillarchive: Archive GUID";
inline constexpr std::string_view kArchiveCreationTimeName = "Quillarchive: Archive Creation Time";
inline constexpr std::string_view kSearchInPlainTextName = "Quillarchive: Search in PlainText";
// Older releases kept the compatibility under this bare name; the upgrade still writes it.
inline constexpr std::string_view kLegacyCompatibilityName = "Compatibility";

struct ExtendedFieldDefinition {
  int id;
  int type;
  std::string_view name;
};

// In the order the installation inserts them.
inline constexpr std::array<ExtendedFieldDefinition, 9> kSeededExtendedFields = {{
    {kDocumentOriginalFolderField, kDocumentProperty, kDocumentOriginalFolderName},
    {kArchiveTypeField, kCollectionProperty, kArchiveTypeName},
    {kArchiveVersionField, kCollectionProperty, kArchiveVersionName},
    {kArchiveCommentField, kCollectionProperty, kArchiveCommentName},
    {kFolderOriginalFolderField, kFolderProperty, kFolderOriginalFolderName},
    {kArchiveCompatibilityField, kCollectionProperty, kArchiveCompatibilityName},
    {kArchiveGuidField, kCollectionProperty, kArchiveGuidName},
    {kArchiveCreationTimeField, kCollectionProperty, kArchiveCreationTimeName},
    {kSearchInPlainTextField, kCollectionProperty, kSearchInPlainTextName},
}};

// Reserved identifiers.
inline constexpr int kRootFolder = 1;
inline constexpr int kSearchResultsFolder = 500;  // parent of every search folder
inline constexpr int kDeletedDocumentsFolder = 600;
inline constexpr int kLastSystemFolder = 1000;  // user folders are numbered above it
inline constexpr int kRootCategory = 1;
inline constexpr int kTemplateEntryID = 1;

inline constexpr std::string_view kDocumentTable = "Document";

}  // namespace format
