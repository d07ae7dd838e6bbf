#include "format/mht.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace format {
namespace {

// An archive as a browser saves it: quoted-printable page in windows-1252, base64 image.
constexpr std::string_view kSavedPage =
    "From: <Saved by a browser>\r\n"
    "Subject: Prices\r\n"
    "Date: Mon, 3 Mar 2008 10:00:00 +0100\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/related;\r\n"
    "\ttype=\"text/html\";\r\n"
    "\tboundary=\"----=_NextPart_000_0000_01C87D0A.5E3C1A30\"\r\n"
    "\r\n"
    "This is a multi-part message in MIME format.\r\n"
    "\r\n"
    "------=_NextPart_000_0000_01C87D0A.5E3C1A30\r\n"
    "Content-Type: text/html;\r\n"
    "\tcharset=\"windows-1252\"\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "Content-Location: file://C:\\prices.htm\r\n"
    "\r\n"
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n"
    "<HTML><HEAD><TITLE>Prices</TITLE>\r\n"
    "<META http-equiv=3DContent-Type content=3D\"text/html; charset=3Dwindows-1252\">\r\n"
    "</HEAD>\r\n"
    "<BODY>\r\n"
    "<P>Caf=E9 cr=E8me: 3 =80, =93quoted=94 and a very long line that the encoder =\r\n"
    "wrapped with a soft break.</P>   \r\n"
    "<TABLE><TR><TD>a=3Db</TD><TD>=3D</TD></TR></TABLE>\r\n"
    "<IMG src=3D\"logo.gif\" alt=3D\"Logo\">\r\n"
    "</BODY></HTML>\r\n"
    "\r\n"
    "------=_NextPart_000_0000_01C87D0A.5E3C1A30\r\n"
    "Content-Type: image/gif\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Location: file://C:\\logo.gif\r\n"
    "\r\n"
    "R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==\r\n"
    "\r\n"
    "------=_NextPart_000_0000_01C87D0A.5E3C1A30--\r\n";

TEST(MhtTest, QuotedPrintableWindows1252PageIsDecodedAndRendered) {
  EXPECT_EQ(MhtToText(kSavedPage),
            "Caf\u00E9 cr\u00E8me: 3 \u20AC, \u201Cquoted\u201D and a very long line that the "
            "encoder wrapped with a soft break.\r\n\r\na=b\t=");
  auto root = MhtRootDocument(kSavedPage);
  ASSERT_TRUE(root.has_value());
  EXPECT_EQ(root->media_type, "text/html");
  EXPECT_THAT(root->text, testing::StartsWith("<!DOCTYPE HTML"));
  EXPECT_THAT(root->text, testing::HasSubstr("content=\"text/html; charset=windows-1252\">\r\n"));
}

std::string Base64Part(std::string_view type, std::string_view encoded,
                       std::string_view extra_headers = "") {
  return "Content-Type: " + std::string(type) + "\r\nContent-Transfer-Encoding: base64\r\n" +
         std::string(extra_headers) + "\r\n" + std::string(encoded) + "\r\n";
}

std::string Multipart(std::string_view parameters, const std::vector<std::string>& parts,
                      std::string_view boundary = "b1") {
  std::string mime = "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"" +
                     std::string(boundary) + "\"" + std::string(parameters) + "\r\n\r\n";
  for (const std::string& part : parts) mime += "--" + std::string(boundary) + "\r\n" + part;
  return mime + "--" + std::string(boundary) + "--\r\n";
}

TEST(MhtTest, Base64PartsAreDecoded) {
  // "<p>Gr\u00FC\u00DFe <b>aus</b> K\u00F6ln</p>" in UTF-8, wrapped over two lines.
  std::string mime = Multipart(
      "",
      {Base64Part("image/png", "iVBORw0KGgo="),
       Base64Part("text/html; charset=utf-8", "PHA+R3LDvMOfZSA8Yj5hdXM8L2I+\r\nIEvDtmxuPC9wPg==")});
  EXPECT_EQ(MhtToText(mime), "Gr\u00FC\u00DFe aus K\u00F6ln");
}

TEST(MhtTest, StartParameterChoosesTheRootByContentIdOrLocation) {
  std::vector<std::string> parts = {
      "Content-Type: text/html\r\nContent-ID: <first@x>\r\nContent-Location: first.htm\r\n\r\n"
      "<p>first</p>\r\n",
      "Content-Type: text/html\r\nContent-ID: <second@x>\r\nContent-Location: second.htm\r\n\r\n"
      "<p>second</p>\r\n"};
  EXPECT_EQ(MhtToText(Multipart("; start=\"<second@x>\"", parts)), "second");
  EXPECT_EQ(MhtToText(Multipart("; start=second@x", parts)), "second");
  EXPECT_EQ(MhtToText(Multipart("; start=\"second.htm\"", parts)), "second");
  // Without start, or with a start that names nothing, the first page.
  EXPECT_EQ(MhtToText(Multipart("", parts)), "first");
  EXPECT_EQ(MhtToText(Multipart("; start=\"<missing@x>\"", parts)), "first");
}

TEST(MhtTest, NestedAlternativeAndPlainTextRoots) {
  std::string alternative =
      "Content-Type: multipart/alternative; boundary=inner\r\n\r\n"
      "--inner\r\nContent-Type: text/plain\r\n\r\nplain version\r\n"
      "--inner\r\nContent-Type: text/html\r\n\r\n<div>html version</div>\r\n"
      "--inner--\r\n";
  EXPECT_EQ(MhtToText(Multipart("", {alternative})), "html version");
  // A text root keeps its lines, with CR LF.
  EXPECT_EQ(MhtToText(Multipart("", {"Content-Type: text/plain\r\n\r\nline 1\nline 2\r\n"})),
            "line 1\r\nline 2");
  EXPECT_EQ(MhtToText("MIME-Version: 1.0\r\n\r\njust text"), "just text");
}

TEST(MhtTest, ArchivesWithoutAPageGiveNoText) {
  EXPECT_EQ(MhtToText(Multipart("", {Base64Part("image/gif", "R0lGODlh")})), "");
  EXPECT_EQ(MhtToText("MIME-Version: 1.0\r\nContent-Type: multipart/related\r\n\r\nno boundary"),
            "");
  EXPECT_EQ(MhtToText("MIME-Version: 1.0\r\nContent-Type: application/pdf\r\n\r\n%PDF-1.4"), "");
  EXPECT_EQ(MhtRootDocument("MIME-Version: 1.0\r\nContent-Type: image/gif\r\n\r\nGIF89a"),
            std::nullopt);
}

TEST(MhtTest, InputThatIsNotMimeIsRenderedAsHtml) {
  EXPECT_EQ(MhtRootDocument("<html><body><p>page</p></body></html>"), std::nullopt);
  EXPECT_EQ(MhtToText("<html><body><p>page</p><script>x()</script></body></html>"), "page");
  EXPECT_EQ(MhtToText("plain words\nonly"), "plain words only");
  EXPECT_EQ(MhtToText(""), "");
}

TEST(MhtTest, LineFeedOnlyArchivesAndMissingCloseDelimiter) {
  std::string mime =
      "MIME-Version: 1.0\nContent-Type: multipart/related; boundary=zz\n\n"
      "--zz\nContent-Type: text/html; charset=iso-8859-1\nContent-Transfer-Encoding: 8bit\n\n"
      "<p>na\xEFve</p>\n";
  EXPECT_EQ(MhtToText(mime), "na\u00EFve");
}

TEST(MhtTest, OnlyWholeBoundaryLinesSplitParts) {
  // "--bxyz" starts like the delimiter "--b" but is not one; nor is "--b" inside a line.
  std::string mime = Multipart(
      "", {"Content-Type: text/html\r\n\r\n<p>one</p>\r\n--bxyz\r\n<p>two --b</p>\r\n"}, "b");
  EXPECT_EQ(MhtToText(mime), "one\r\n\r\n--bxyz\r\n\r\ntwo --b");
}

TEST(MhtTest, CharsetComesFromThePageWhenThePartDoesNotSayIt) {
  // "\u041F\u0440\u0438\u0432\u0435\u0442" in windows-1251, declared only by the page.
  std::string mime = Multipart(
      "",
      {"Content-Type: text/html\r\n\r\n<meta charset=\"windows-1251\"><p>\xCF\xF0\xE8\xE2\xE5\xF2"
       "</p>\r\n"});
  EXPECT_EQ(MhtToText(mime), "\u041F\u0440\u0438\u0432\u0435\u0442");
  // Undeclared but valid UTF-8 is read as UTF-8.
  EXPECT_EQ(MhtToText(Multipart("", {"Content-Type: text/html\r\n\r\n<p>\u00E9t\u00E9</p>\r\n"})),
            "\u00E9t\u00E9");
}

TEST(MhtTest, QuotedPrintableEdgeCases) {
  std::string mime =
      Multipart("", {"Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
                     "Quoted-Printable\r\n\r\n"
                     "a=3d=3D b =C3=A9=\r\nc= stray =ZZ end=\r\n"});
  EXPECT_EQ(MhtToText(mime), "a== b \u00E9c= stray =ZZ end");
}

TEST(MhtTest, CharsetNamesMapToCodePages) {
  EXPECT_EQ(CharsetCodePage("windows-1252"), 1252);
  EXPECT_EQ(CharsetCodePage(" Windows-1251 "), 1251);
  EXPECT_EQ(CharsetCodePage("\"UTF-8\""), 65001);
  EXPECT_EQ(CharsetCodePage("iso-8859-2"), 28592);
  EXPECT_EQ(CharsetCodePage("ISO_8859-15"), 28605);
  EXPECT_EQ(CharsetCodePage("us-ascii"), 20127);
  EXPECT_EQ(CharsetCodePage("shift_jis"), 932);
  EXPECT_EQ(CharsetCodePage("cp850"), 850);
  EXPECT_EQ(CharsetCodePage("ks_c_5601-1987"), 949);
  EXPECT_EQ(CharsetCodePage("koi8-r"), 20866);
  for (std::string_view unknown : {"", "x-user-defined", "windows-", "windows-99999999999",
                                   "iso-8859-99", "utf-9", "cp1252; drop table"}) {
    EXPECT_EQ(CharsetCodePage(unknown), 0) << unknown;
  }
}

TEST(MhtTest, HostileArchivesDoNotBreakTheReader) {
  // Boundary with quotes, semicolons and brackets.
  std::string boundary = "a'b;c]d<e>";
  std::string mime =
      "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"a'b;c]d<e>\""
      "\r\n\r\n--" +
      boundary + "\r\nContent-Type: text/html\r\n\r\n<p>ok</p>\r\n--" + boundary + "--";
  EXPECT_EQ(MhtToText(mime), "ok");
  // Multiparts nested far deeper than any archive are not followed to the bottom.
  auto nest = [](int levels) {
    std::string entity = "Content-Type: text/html\r\n\r\n<p>deep</p>";
    for (int i = 0; i < levels; ++i) {
      std::string b = "n" + std::to_string(i);
      entity = "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n--" + b + "\r\n" + entity +
               "\r\n--" + b + "--";
    }
    return "MIME-Version: 1.0\r\n" + entity;
  };
  EXPECT_EQ(MhtToText(nest(5)), "deep");
  EXPECT_EQ(MhtToText(nest(50)), "");
  // A very long header line, an unterminated quoted parameter, a huge base64 body.
  std::string long_header = "MIME-Version: 1.0\r\nX-Long: " + std::string(1 << 20, 'x') +
                            "\r\nContent-Type: multipart/related; boundary=\"unterminated\r\n\r\n";
  EXPECT_EQ(MhtToText(long_header), "");
  std::string huge = Multipart("", {Base64Part("text/html", std::string(4 << 20, 'A'))});
  EXPECT_EQ(MhtToText(huge), "");
}

}  // namespace
}  // namespace format
