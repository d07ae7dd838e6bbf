// Collections in the layouts older releases left behind, built on a fresh database: what the
// upgrade ladder finds when it starts at each version, filled with deterministic sample content.
// The upgrade is proven on them; the command-line demo and the benchmarks reuse them.
//
// Each layout is the current format with what the later rungs add taken away again:
//   1.30  any version before the first rung: no PlainText, no UniqueID, Url VARCHAR(255), no
//         DocsWithCategory (the rung to 1.36 brings them, in the desktop database's dialect)
//   1.36  Url VARCHAR(4000); no SearchFolderView, InsertSearchFolder, RemoveSearchFolder, no
//         CREATE TABLE right and no rights on ExtendedField/ExtendedData for qa_reader
//   1.40  the view and the search-folder procedures; no DeleteDoc, DeleteFolder, DocWithSub
//   1.41  no VisibleInFolderID: documents are shown in the folder they are filed in, sub-documents
//         are filed in folder 0, documents without a folder too, and DocsInFolder, DocCount,
//         FoldersRoot, FoldersSub and FoldersOpen count by FolderID; no compatibility properties
//   1.50  VisibleInFolderID (appended); documents refiled as the rung to 1.50 refiles them;
//         "Compatibility" and "Quillarchive: Archive Compatibility" are "1.50"; no Document.Status,
//         Folder.Icon, Folder.Status
//   1.53  the three columns, appended after the view was created (so the view does not show
//         them, as on a server that binds a view's columns when it is created); every folder
//         Status 0
//   1.54  folders 140, 200, 500 and 700 Status 2
//   1.55  Url NVARCHAR(4000), DocByUrl and DocByUrlSize take NVARCHAR(4000)
//   1.56  the view recreated over the whole Folder table
// In every older layout FolderByID counts by FolderID, FoldersSub has the 1.50 shape without
// parent and sub-folder count, and IDX_Document1 lacks VisibleInFolderID: the rung to 1.61 brings
// those. Up to 1.50 the text of HTML and text documents is in Content (BinaryData 0, no plain text,
// no "Quillarchive: Search in PlainText" value); from 1.53 on it is in BinaryContent in the
// document's code page, with PlainText and the marker "True".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "db/connection.h"

namespace format {

enum class OlderLayout { k130, k136, k140, k141, k150, k153, k154, k155, k156 };

// Oldest first.
std::vector<OlderLayout> OlderLayouts();

// The collection format version a layout carries ("1.30" ... "1.56") and its version number.
std::string_view LayoutVersion(OlderLayout layout);
int LayoutVersionNumber(OlderLayout layout);
// The layout carrying `version` ("1.41"), or nothing.
std::optional<OlderLayout> LayoutForVersion(std::string_view version);

struct SampleOptions {
  // Top-level documents besides the template: HTML pages, texts, web archives and binary files
  // in turn. Every eighth document (the first included) is an HTML page with a chain of three
  // frame pages (TypeID 100, each embedded in the one before) ending in an image; the second
  // chain's page also embeds the first chain's image. Documents 6, 14, 22, ... (counting from 1)
  // are filed in no folder.
  int document_count = 24;
  // Stored as "Quillarchive: Archive GUID".
  std::string collection_guid = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";
  // Creation and modification times are counted from here, one hour apart; also the creation
  // day of the collection.
  common::DateTime base_time{2002, 11, 4, 9, 30, 0};
  // The code page of the documents; every other text document is Russian in code page 1251.
  int code_page = 1252;
};

// What the builder put in, for callers that report it (tests count on the server instead).
struct SampleSummary {
  int documents = 0;  // the template included
  int sub_document_links = 0;
  int folders = 0;
  int folder_links = 0;
  int doc_links = 0;
  int categories = 0;
  int doc_categories = 0;
  int extended_values = 0;
};

// User folders of the sample, in every layout.
inline constexpr int kSampleProjectsFolder = 1001;  // under 1, expanded
inline constexpr int kSampleYearFolder = 1002;      // under 1001
inline constexpr int kSampleHostileFolder = 1003;   // under 1, a name with quotes and brackets
inline constexpr int kSampleVirtualFolder = 1004;   // under 1, virtual, shows documents by DocLink
inline constexpr int kSampleSearchFolder = 1005;    // under 500
inline constexpr int kSampleInvoiceCategory = 2;    // under 1
inline constexpr int kSampleLetterCategory = 3;     // under 1
inline constexpr int kSampleYearCategory = 4;       // under 2

// The statements that give an empty database the objects, rights and seed rows of `layout`
// (without the template document and the sample), in the order they must run.
std::vector<std::string> LayoutSchemaStatements(OlderLayout layout, const SampleOptions& options);

// Builds a collection of `layout` on `collection`, a connection to a new, empty database: the
// schema, the template document as EntryID 1 and the sample content. Options the sample cannot
// be built from (a negative count, an unknown code page, a day or time that does not exist)
// raise std::invalid_argument before anything is written. Database errors reach the caller; the
// sample rows go in one transaction, so a failure there leaves none of them.
SampleSummary BuildOlderCollection(db::Connection& collection, OlderLayout layout,
                                   const SampleOptions& options = {});

}  // namespace format
