#include "format/template_document.h"

#include <string>

namespace format {

common::Bytes TemplateImage() {
  return {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x91, 0x00, 0x00,
          0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21,
          0xF9, 0x04, 0x09, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
          0x00, 0x01, 0x00, 0x00, 0x08, 0x04, 0x00, 0x01, 0x04, 0x04, 0x00, 0x3B};
}

std::vector<TemplateColumn> TemplateDocumentColumns(int code_page, const common::DateTime& now) {
  common::Bytes image = TemplateImage();
  const int file_size = static_cast<int>(image.size());
  std::vector<TemplateColumn> columns;
  columns.push_back({"Url", common::Value(kTemplateUrl)});
  columns.push_back({"TypeID", common::Value(kTemplateTypeID)});
  columns.push_back({"FolderID", common::Value(0)});
  columns.push_back({"Filename", common::Value(kTemplateFilename)});
  columns.push_back({"FileModifiedDate", common::Value(now)});
  columns.push_back({"CreationTime", common::Value(now)});
  columns.push_back({"Title", common::Value(kTemplateTitle)});
  columns.push_back({"Comment", common::Value(kTemplateTitle)});
  columns.push_back({"Importance", common::Value(kTemplateImportance)});
  columns.push_back({"CodePage", common::Value(code_page)});
  columns.push_back({"BinaryContent", common::Value(std::move(image)), true});
  columns.push_back({"BinaryData", common::Value(true)});
  columns.push_back({"Content", common::Value("")});
  columns.push_back({"FileSize", common::Value(file_size)});
  return columns;
}

}  // namespace format
