// The visible text of an HTML document, as searching needs it: what a browser's innerText gives
// for the document element, with nothing fetched and no script run.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace format {

// Renders HTML texts to plain text. Holds the compiled clean-up patterns, so one renderer serves
// a whole run; a const renderer may be shared between threads.
class HtmlTextRenderer {
 public:
  // Throws std::runtime_error when the patterns cannot be compiled (a broken PCRE2 install).
  HtmlTextRenderer();
  ~HtmlTextRenderer();
  HtmlTextRenderer(const HtmlTextRenderer&) = delete;
  HtmlTextRenderer& operator=(const HtmlTextRenderer&) = delete;

  // The clean-ups, then the visible text (UTF-8, lines ending in CR LF). Never throws: a document
  // that cannot be rendered gives the empty text.
  std::string HTML2Text(std::string_view html) const noexcept;

  // The clean-ups alone: absolute web addresses in attribute values emptied, a blank before every
  // "</td>", and object, embed and applet elements cut out. Throws std::runtime_error when the
  // pattern engine gives up on the input.
  std::string CleanUp(std::string_view html) const;

 private:
  struct Patterns;
  std::unique_ptr<Patterns> patterns_;
};

// The visible text of `html` without the clean-ups (UTF-8 in and out, lines ending in CR LF):
// script, style, head, template, noscript and hidden elements left out, blocks on lines of their
// own, table cells separated by a TAB, white space collapsed outside pre-formatted text. Throws
// only std::bad_alloc.
std::string RenderVisibleText(std::string_view html);

// Raw HTML bytes as UTF-8 text, their code page decided as a browser decides it: a byte order
// mark, else a <meta charset> or <meta http-equiv="Content-Type"> in the first 1,024 bytes, else
// `code_page` (the document's; 0 or less when unknown), else UTF-8 when the bytes are valid UTF-8,
// else Windows-1252.
std::string HtmlBytesToText(std::string_view bytes, int code_page);

// HtmlTextRenderer().HTML2Text(html), for a single document; never throws.
std::string HTML2Text(std::string_view html) noexcept;

}  // namespace format
