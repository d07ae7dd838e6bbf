#include "format/template_document.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace format {
namespace {

TEST(TemplateDocumentTest, ImageIsAOnePixelGifOf51Bytes) {
  const common::Bytes image = TemplateImage();
  ASSERT_EQ(image.size(), 51u);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 6), "GIF89a");
  // Logical screen 1 x 1, little-endian.
  EXPECT_EQ(image[6], 1);
  EXPECT_EQ(image[7], 0);
  EXPECT_EQ(image[8], 1);
  EXPECT_EQ(image[9], 0);
  // Graphic control extension with the transparency flag, then the image descriptor.
  EXPECT_EQ(image[25], 0x21);
  EXPECT_EQ(image[26], 0xF9);
  EXPECT_EQ(image[33], 0x2C);
  EXPECT_EQ(image.back(), 0x3B);  // trailer
}

TEST(TemplateDocumentTest, ColumnsAreSetInOrderWithTheirValues) {
  const common::DateTime now{2024, 2, 29, 23, 59, 58, 0};
  const auto columns = TemplateDocumentColumns(1252, now);
  std::vector<std::string_view> names;
  for (const auto& column : columns) names.push_back(column.name);
  EXPECT_THAT(names,
              testing::ElementsAre("Url", "TypeID", "FolderID", "Filename", "FileModifiedDate",
                                   "CreationTime", "Title", "Comment", "Importance", "CodePage",
                                   "BinaryContent", "BinaryData", "Content", "FileSize"));
  ASSERT_EQ(columns.size(), 14u);
  // One backslash: the text is a Windows path behind the scheme.
  EXPECT_EQ(columns[0].value, common::Value("file:///c:\\qablank.gif"));
  EXPECT_EQ(columns[0].value.AsText()->size(), 22u);
  EXPECT_EQ(columns[1].value.ToInt(), 110);
  EXPECT_EQ(columns[2].value.ToInt(), 0);
  EXPECT_EQ(columns[3].value, common::Value("qablank.gif"));
  EXPECT_EQ(columns[4].value, common::Value(now));
  EXPECT_EQ(columns[5].value, common::Value(now));
  EXPECT_EQ(columns[6].value,
            common::Value("Interne Quillarchive-Vorlage. Bitte nicht l\xC3\xB6schen!"));
  EXPECT_EQ(columns[7].value, columns[6].value);
  EXPECT_EQ(columns[8].value.ToInt(), 2);
  EXPECT_EQ(columns[9].value.ToInt(), 1252);
  EXPECT_EQ(columns[10].value, common::Value(TemplateImage()));
  EXPECT_EQ(columns[11].value, common::Value(true));
  // Empty text, not null: the desktop application reads Content as text.
  EXPECT_EQ(columns[12].value.type(), common::Value::Type::kText);
  EXPECT_EQ(columns[12].value.ToText(), "");
  EXPECT_EQ(columns[13].value.ToInt(), 51);
}

TEST(TemplateDocumentTest, OnlyTheImageIsWrittenAsAChunk) {
  for (const auto& column : TemplateDocumentColumns(932, common::DateTime{})) {
    EXPECT_EQ(column.append_chunk, column.name == "BinaryContent") << column.name;
  }
}

TEST(TemplateDocumentTest, FileSizeMatchesTheImageItDescribes) {
  const auto columns = TemplateDocumentColumns(65001, common::DateTime{});
  EXPECT_EQ(columns[13].value.ToInt(),
            static_cast<std::int64_t>(columns[10].value.AsBytes()->size()));
  EXPECT_EQ(columns[9].value.ToInt(), 65001);
}

}  // namespace
}  // namespace format
