// The template document every collection holds as EntryID 1: a blank image the desktop
// application builds new documents from. It is added through an updatable cursor on the table
// "Document" after the installation script.
#pragma once

#include <string_view>
#include <vector>

#include "common/value.h"

namespace format {

inline constexpr std::string_view kTemplateUrl = "file:///c:\\qablank.gif";
inline constexpr std::string_view kTemplateFilename = "qablank.gif";
inline constexpr std::string_view kTemplateTitle =
    "Interne Quillarchive-Vorlage. Bitte nicht löschen!";
inline constexpr int kTemplateTypeID = 110;
inline constexpr int kTemplateImportance = 2;

// A 1x1 transparent GIF image, 51 bytes.
common::Bytes TemplateImage();

struct TemplateColumn {
  std::string_view name;
  common::Value value;
  // Written with Field::AppendChunk as one chunk rather than assigned.
  bool append_chunk = false;
};

// The columns to set on the new row, in the order they must be set; the others keep their
// defaults. `code_page` is the ANSI code page of the administrator's machine, `now` its local
// date and time.
std::vector<TemplateColumn> TemplateDocumentColumns(int code_page, const common::DateTime& now);

}  // namespace format
