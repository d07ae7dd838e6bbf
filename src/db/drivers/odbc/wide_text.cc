#include "db/drivers/odbc/wide_text.h"

namespace db {

WideString Wide(std::string_view utf8) {
  WideString out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t code = 0xFFFD;
    std::size_t length = 1;
    if (c < 0x80) {
      code = c;
    } else if ((c >> 5) == 0x6 || (c >> 4) == 0xE || (c >> 3) == 0x1E) {
      length = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
      code = c & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
      if (i + length > utf8.size()) {
        code = 0xFFFD;
        length = 1;
      } else {
        for (std::size_t k = 1; k < length; ++k) {
          unsigned char d = static_cast<unsigned char>(utf8[i + k]);
          if ((d >> 6) != 0x2) {
            code = 0xFFFD;
            length = k;
            break;
          }
          code = (code << 6) | (d & 0x3F);
        }
      }
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<SQLWCHAR>(0xD800 + (code >> 10));
      out += static_cast<SQLWCHAR>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<SQLWCHAR>(code);
    }
    i += length;
  }
  return out;
}

namespace {

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

std::string Narrow(const SQLWCHAR* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    AppendUtf8(out, code);
  }
  return out;
}

}  // namespace db
