// The collection's text extraction: the searchable text of one document, and the export of a
// document with its sub-documents to files that the renderer reads.
#include <cstdio>
#include <string>
#include <string_view>

#include "collections/database.h"
#include "format/html_text.h"

namespace collections {

namespace {

constexpr int kTypePlainText = 90;
constexpr int kTypeHtml = 100;
constexpr int kTypeHtmlDocument = 500;

// ASCII case folding is enough: the extension searched for is ASCII.
std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

std::string Database::CreatePlainText(std::int32_t entry, std::string_view content, int type,
                                      std::string_view file_name) {
  try {
    if (type == kTypePlainText) return std::string(content);
    if (type == kTypeHtml || type == kTypeHtmlDocument) {
      if (AsciiLower(file_name).rfind(".mht") != std::string::npos) {
        return CreatePlainTextInIE(entry);
      }
      return HTML2Text(content);
    }
  } catch (const std::exception&) {
    // The text is for searching only; a document that cannot be rendered is found by its
    // other fields.
  }
  return {};
}

std::string Database::HTML2Text(std::string_view html) { return format::HTML2Text(html); }

std::string Database::CreatePlainTextInIE(std::int32_t /*entry*/) { return {}; }

bool Database::WriteFileAPI_A(std::string_view path, std::string_view bytes, std::size_t length) {
  if (length > bytes.size()) length = bytes.size();
  std::FILE* file = std::fopen(std::string(path).c_str(), "wb");
  if (file == nullptr) return false;
  bool whole = std::fwrite(bytes.data(), 1, length, file) == length;
  if (std::fclose(file) != 0) whole = false;
  return whole;
}

}  // namespace collections
