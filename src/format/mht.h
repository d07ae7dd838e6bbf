// Web archives (".mht"): a MIME message, usually multipart/related, holding a page and the files
// it refers to. Only the page's text is needed for searching; nothing it refers to is fetched.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace format {

// The archive's root document, decoded from its transfer encoding and charset.
struct MhtDocument {
  std::string media_type;  // lower case: "text/html" or "text/plain"
  std::string text;        // UTF-8
};

// The root document of a MIME message: the part named by the "start" parameter (by Content-ID or
// Content-Location), else the first text/html part (searched into nested multiparts), else a
// text/plain root. Nothing when the input is not a MIME message (no MIME-Version or
// Content-Type header) or holds no text to render.
std::optional<MhtDocument> MhtRootDocument(std::string_view mime);

// The code page of a MIME charset name ("windows-1252" 1252, "UTF-8" 65001, "iso-8859-2" 28592,
// "shift_jis" 932, ...), case and surrounding blanks ignored; 0 when unknown.
int CharsetCodePage(std::string_view charset);

// The visible text of an archive (see RenderVisibleText), lines ending in CR LF. Input that is not
// a MIME message is rendered as HTML, as a browser opening the file would: its bytes decoded by
// HtmlBytesToText with `code_page`, the document's code page (0 when unknown). Never throws; an
// archive without a page gives the empty text.
std::string MhtToText(std::string_view mime, int code_page = 0) noexcept;

}  // namespace format
