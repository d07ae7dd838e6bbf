// Documents of the archive: HTML pages and web archives, in any charset and transfer encoding,
// become searchable text without crashing, hanging or growing without bound.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "format/html_text.h"
#include "format/mht.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The text of a page is never larger than a small multiple of the page: a renderer that
  // multiplies its input is a memory exhaustion waiting for a hostile document.
  const std::size_t bound = 64 * size + 4096;
  if (format::HTML2Text(text).size() > bound) std::abort();
  if (format::MhtToText(text).size() > bound) std::abort();
  format::CharsetCodePage(text.substr(0, 64));
  return 0;
}
