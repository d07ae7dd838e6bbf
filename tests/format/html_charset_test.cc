// Raw HTML bytes decoded as a browser decodes them: byte order mark, then the declaration in the
// first 1,024 bytes, then the document's code page, then UTF-8 or Windows-1252.
#include <gtest/gtest.h>

#include <string>

#include "common/code_page.h"
#include "format/html_text.h"
#include "format/mht.h"

namespace format {
namespace {

// The bytes of `text` in the code page, without the terminating zero.
std::string Bytes(const std::string& text, int code_page) {
  common::Bytes bytes = common::TextToBytes(text, code_page, common::kConvertNoSubstitution);
  EXPECT_FALSE(bytes.empty()) << "code page " << code_page << " cannot hold " << text;
  std::string out(bytes.begin(), bytes.end());
  if (!out.empty()) out.pop_back();
  return out;
}

std::string Page(const std::string& head, const std::string& body) {
  return "<html><head>" + head + "<title>t</title></head><body><p>" + body + "</p></body></html>";
}

struct CodePage {
  const char* label;  // as a page declares it
  int code_page;      // the bytes are written in
  const char* sample;
};

// The code pages the product converts documents with, each with words it holds.
const CodePage kCodePages[] = {
    {"windows-1250", 1250, "Zażółć gęślą jaźń"},
    {"windows-1251", 1251, "Привет из Москвы"},
    {"windows-1252", 1252, "Grüße aus Köln"},
    {"windows-1253", 1253, "Καλημέρα κόσμε"},
    {"windows-1254", 1254, "Günaydın dünya"},
    {"windows-1255", 1255, "שלום עולם"},
    {"windows-1256", 1256, "مرحبا بالعالم"},
    {"windows-1257", 1257, "Labrīt pasaulē"},
    {"windows-874", 874, "สวัสดีชาวโลก"},
    {"shift_jis", 932, "日本語のページ"},
    {"gbk", 936, "中文网页"},
    {"ks_c_5601-1987", 949, "한국어 페이지"},
    {"big5", 950, "中文網頁"},
    {"iso-8859-1", 28591, "Grüße aus Köln"},
    {"iso-8859-2", 28592, "Zażółć gęślą"},
    {"iso-8859-5", 28595, "Привет"},
    {"iso-8859-7", 28597, "Καλημέρα"},
    {"iso-8859-15", 28605, "Grüße für 5 €"},
    {"koi8-r", 20866, "Привет из Москвы"},
    {"koi8-u", 21866, "Привіт зі Львова"},
    {"euc-jp", 51932, "日本語のページ"},
    {"euc-kr", 51949, "한국어 페이지"},
    {"gb18030", 54936, "中文网页"},
    {"utf-8", 65001, "Grüße, Привет, 日本語"},
    {"us-ascii", 20127, "Plain words"},
};

TEST(HtmlCharsetTest, EveryCodePageIsFoundFromTheDeclarationOrTheDocument) {
  for (const CodePage& c : kCodePages) {
    SCOPED_TRACE(c.label);
    const std::string meta =
        Bytes(Page("<meta charset=\"" + std::string(c.label) + "\">", c.sample), c.code_page);
    const std::string http_equiv = Bytes(
        Page("<META HTTP-EQUIV=Content-Type CONTENT='text/html; charset=" + std::string(c.label) +
                 "'>",
             c.sample),
        c.code_page);
    const std::string bare = Bytes(Page("", c.sample), c.code_page);
    // The declaration decides over whatever the document's code page says.
    EXPECT_EQ(RenderVisibleText(HtmlBytesToText(meta, 0)), c.sample);
    EXPECT_EQ(RenderVisibleText(HtmlBytesToText(meta, 1252)), c.sample);
    EXPECT_EQ(RenderVisibleText(HtmlBytesToText(http_equiv, 0)), c.sample);
    EXPECT_EQ(RenderVisibleText(HtmlBytesToText(bare, c.code_page)), c.sample);
    // A web archive that is plain HTML inside, as render-text and the batch run read it.
    EXPECT_EQ(MhtToText(meta), c.sample);
    EXPECT_EQ(MhtToText(bare, c.code_page), c.sample);
  }
}

TEST(HtmlCharsetTest, AByteOrderMarkComesFirst) {
  const std::string page = Page("<meta charset=windows-1251>", "Grüße 日本");
  EXPECT_EQ(RenderVisibleText(HtmlBytesToText("\xEF\xBB\xBF" + Bytes(page, 65001), 1251)),
            "Grüße 日本");
  common::Bytes le = common::TextToBytes(page, common::kCodePageUtf16);
  std::string utf16le = "\xFF\xFE" + std::string(le.begin(), le.end() - 2);
  EXPECT_EQ(RenderVisibleText(HtmlBytesToText(utf16le, 1251)), "Grüße 日本");
  common::Bytes be = common::TextToBytes(page, 1201);
  std::string utf16be = "\xFE\xFF" + std::string(be.begin(), be.end() - 2);
  EXPECT_EQ(RenderVisibleText(HtmlBytesToText(utf16be, 1251)), "Grüße 日本");
}

TEST(HtmlCharsetTest, OnlyARealDeclarationInTheFirstBytesCounts) {
  const std::string words = "Привет";
  struct Case {
    const char* name;
    std::string html;
  };
  const Case ignored[] = {
      {"after 1,024 bytes", "<p>" + std::string(1100, 'x') + "</p><meta charset=windows-1252>"},
      {"in a comment", "<!-- <meta charset=windows-1252> -->"},
      {"an unknown name", "<meta charset=no-such-charset>"},
      {"another element", "<metadata charset=windows-1252>"},
      {"no charset in the content", "<meta http-equiv=content-type content=text/html>"},
      {"content without http-equiv", "<meta name=x content='text/html; charset=windows-1252'>"},
  };
  for (const Case& c : ignored) {
    SCOPED_TRACE(c.name);
    // The document's code page applies.
    std::string text = RenderVisibleText(HtmlBytesToText(Bytes(c.html + words, 1251), 1251));
    EXPECT_NE(text.find(words), std::string::npos) << text;
  }
}

TEST(HtmlCharsetTest, WithoutAnyHintUtf8StaysAndOtherBytesAreWindows1252) {
  EXPECT_EQ(HtmlBytesToText("Grüße", 0), "Grüße");
  EXPECT_EQ(HtmlBytesToText(Bytes("Grüße aus Köln", 1252), 0), "Grüße aus Köln");
  EXPECT_EQ(HtmlBytesToText(Bytes("Grüße", 1252), -1), "Grüße");
  // A code page nobody knows is no hint either.
  EXPECT_EQ(HtmlBytesToText(Bytes("Köln", 1252), 99999), "Köln");
  EXPECT_EQ(HtmlBytesToText("", 1251), "");
  // Hostile declarations are only text: no crash, nothing read past the input.
  EXPECT_EQ(HtmlBytesToText("<meta charset=\"", 0), "<meta charset=\"");
  EXPECT_EQ(HtmlBytesToText("<meta http-equiv=content-type content='charset=", 0),
            "<meta http-equiv=content-type content='charset=");
  EXPECT_EQ(HtmlBytesToText("<meta", 0), "<meta");
  EXPECT_EQ(HtmlBytesToText("<!--", 0), "<!--");
}

}  // namespace
}  // namespace format
