#include "format/html_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace format {
namespace {

using testing::HasSubstr;
using testing::Not;

// The visible text without the clean-ups, to pin the rendering on its own.
std::string Render(std::string_view html) { return RenderVisibleText(html); }

// ---- Blocks, line breaks and white space ---------------------------------------------------

TEST(HtmlTextRenderTest, ParagraphsAndHeadingsAreSeparatedByABlankLine) {
  EXPECT_EQ(Render("<p>One</p><p>Two</p>"), "One\r\n\r\nTwo");
  EXPECT_EQ(Render("<h1>Title</h1>Body text"), "Title\r\n\r\nBody text");
  EXPECT_EQ(Render("<h3>A</h3><h4>B</h4>"), "A\r\n\r\nB");
  // A paragraph's two breaks and a div's one do not add up.
  EXPECT_EQ(Render("<div>a</div><p>b</p><div>c</div>"), "a\r\n\r\nb\r\n\r\nc");
}

TEST(HtmlTextRenderTest, BlocksStandOnLinesOfTheirOwn) {
  EXPECT_EQ(Render("<div>a</div><div>b</div>"), "a\r\nb");
  EXPECT_EQ(Render("x<section>a</section><article>b</article><nav>c</nav>y"),
            "x\r\na\r\nb\r\nc\r\ny");
  EXPECT_EQ(Render("<blockquote>q</blockquote><address>ad</address><header>h</header>"
                   "<footer>f</footer>"),
            "q\r\nad\r\nh\r\nf");
  EXPECT_EQ(Render("<form>f<fieldset><legend>L</legend>field</fieldset></form>"),
            "f\r\nL\r\nfield");
  EXPECT_EQ(Render("a<hr>b"), "a\r\nb");
  // Nested blocks give one break, not one per level.
  EXPECT_EQ(Render("<div><div><div>deep</div></div></div>after"), "deep\r\nafter");
}

TEST(HtmlTextRenderTest, NoBreaksAtTheStartOrEnd) {
  EXPECT_EQ(Render("<p>only</p>"), "only");
  EXPECT_EQ(Render("<div><p></p><h1></h1></div><p>x</p><div></div><p></p>"), "x");
  EXPECT_EQ(Render(""), "");
  EXPECT_EQ(Render("<p></p><div>   </div>"), "");
}

TEST(HtmlTextRenderTest, BreakElementGivesALineBreakEvenWhenRepeated) {
  EXPECT_EQ(Render("a<br>b"), "a\r\nb");
  EXPECT_EQ(Render("a <br> b"), "a\r\nb");
  EXPECT_EQ(Render("a<br><br>b"), "a\r\n\r\nb");
  EXPECT_EQ(Render("a<br/>b<BR>c"), "a\r\nb\r\nc");
  // A break is text of its own: the breaks of a following block are not merged into it.
  EXPECT_EQ(Render("a<br><div>b</div>"), "a\r\n\r\nb");
}

TEST(HtmlTextRenderTest, WhiteSpaceIsCollapsedAndTrimmed) {
  EXPECT_EQ(Render("  a \n\t b  "), "a b");
  EXPECT_EQ(Render("<span>a</span> <span>b</span>"), "a b");
  EXPECT_EQ(Render("<span>a </span><span> b</span>"), "a b");
  EXPECT_EQ(Render("a<b>b</b>c"), "abc");
  EXPECT_EQ(Render("<div>  lead</div><div>trail  </div>"), "lead\r\ntrail");
  EXPECT_EQ(Render("<p>\n  one\n  two\n</p>"), "one two");
  // A no-break space is a character, not collapsible white space.
  EXPECT_EQ(Render("a&nbsp;&nbsp;b&nbsp;"), "a\u00A0\u00A0b\u00A0");
}

TEST(HtmlTextRenderTest, EveryLineEndsInCarriageReturnLineFeed) {
  std::string text = Render(
      "<pre>1\n2\n3</pre><p>4</p>5<br>6<table><tr><td>7</td></tr>"
      "<tr><td>8</td></tr></table>");
  EXPECT_EQ(text, "1\r\n2\r\n3\r\n\r\n4\r\n\r\n5\r\n6\r\n7\r\n8");
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
    }
  }
}

TEST(HtmlTextRenderTest, ListItemsStandOnLinesOfTheirOwnWithoutMarkers) {
  EXPECT_EQ(Render("<ul><li>one</li><li>two</li></ul>"), "one\r\ntwo");
  EXPECT_EQ(Render("<ol start=3><li>one<li>two</ol>after"), "one\r\ntwo\r\nafter");
  EXPECT_EQ(Render("<ul><li>a<ul><li>a1</li><li>a2</li></ul></li><li>b</li></ul>"),
            "a\r\na1\r\na2\r\nb");
  EXPECT_EQ(Render("<dl><dt>Term</dt><dd>Definition</dd><dt>T2<dd>D2</dl>"),
            "Term\r\nDefinition\r\nT2\r\nD2");
}

TEST(HtmlTextRenderTest, TableCellsAreSeparatedByTabsAndRowsByLineBreaks) {
  EXPECT_EQ(Render("<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>"),
            "a\tb\r\nc\td");
  EXPECT_EQ(Render("<table><caption>Cap</caption><thead><tr><th>H1</th><th>H2</th></tr></thead>"
                   "<tbody><tr><td>1</td><td>2</td></tr></tbody><tfoot><tr><td>f</td></tr>"
                   "</tfoot></table>"),
            "Cap\r\nH1\tH2\r\n1\t2\r\nf");
  EXPECT_EQ(Render("before<table><tr><td>a</td></tr></table>after"), "before\r\na\r\nafter");
  // Empty cells keep their place; blocks inside a cell do not break the row.
  EXPECT_EQ(Render("<table><tr><td></td><td>b</td><td></td></tr></table>"), "\tb\t");
  EXPECT_EQ(Render("<table><tr><td><p>a</p><p>b</p></td><td><div>c</div></td></tr></table>"),
            "a\r\n\r\nb\tc");
  // Rows and cells belong to their own table.
  EXPECT_EQ(Render("<table><tr><td>a<table><tr><td>x</td><td>y</td></tr><tr><td>z</td></tr>"
                   "</table></td><td>b</td></tr></table>"),
            "a\r\nx\ty\r\nz\tb");
}

TEST(HtmlTextRenderTest, PreformattedTextKeepsItsWhiteSpace) {
  EXPECT_EQ(Render("<pre>  a\n    b  c </pre>"), "  a\r\n    b  c ");
  // The line feed right after the start tag belongs to the markup.
  EXPECT_EQ(Render("<pre>\nfirst\n\nthird</pre>"), "first\r\n\r\nthird");
  EXPECT_EQ(Render("x<pre>\tt</pre>y"), "x\r\n\tt\r\ny");
  EXPECT_EQ(Render("<div style=\"white-space: pre\">a  b\nc</div>"), "a  b\r\nc");
  EXPECT_EQ(Render("<div style=\"white-space:pre-line\">a   b\n  c</div>"), "a b\r\nc");
  // Inline children of pre stay pre-formatted; normal white space after kept blanks is still
  // one blank, and none at the end of the line.
  EXPECT_EQ(Render("<pre><b>  x  </b><span style=\"white-space:normal\">  y  </span></pre>"),
            "  x   y");
}

TEST(HtmlTextRenderTest, EntitiesAreDecodedAndBrokenOnesKeptAsText) {
  EXPECT_EQ(Render("&amp; &lt;tag&gt; &quot;q&quot; &eacute;&#233;&#xE9; &euro;"),
            "& <tag> \"q\" \u00E9\u00E9\u00E9 \u20AC");
  EXPECT_EQ(Render("&bogus; &amp &copy2 &#xZZ; a&b"), "&bogus; & \u00A92 &#xZZ; a&b");
  EXPECT_EQ(Render("&#99999999; &#0;"), "\uFFFD \uFFFD");
}

// ---- What is left out -------------------------------------------------------------------

TEST(HtmlTextRenderTest, HeadScriptStyleTemplateAndNoscriptAreLeftOut) {
  EXPECT_EQ(Render("<html><head><title>T</title><style>p{color:red}</style>"
                   "<script>var a = '<p>no</p>';</script><meta charset=utf-8></head>"
                   "<body><noscript>enable scripts</noscript><template><p>t</p></template>"
                   "visible<script>document.write('x')</script><style>b{}</style></body></html>"),
            "visible");
  // Even when a style asks for them to be shown.
  EXPECT_EQ(Render("<script style=\"display:block\">code()</script>"
                   "<style style=\"display:block\">css</style>text"),
            "text");
}

TEST(HtmlTextRenderTest, HiddenAttributeAndDisplayNoneAreLeftOut) {
  EXPECT_EQ(Render("<div hidden>secret</div>shown"), "shown");
  EXPECT_EQ(Render("<p style=\"display:none\">x</p>y"), "y");
  EXPECT_EQ(Render("<p style=\"DISPLAY : None !important\">x</p>y"), "y");
  EXPECT_EQ(Render("<span style=\"color: red;display:\tnone;\">x</span>y"), "y");
  EXPECT_EQ(Render("<span style='/* c */ display /* d */ : none'>x</span>y"), "y");
  // The last declaration wins; an explicit display overrides the hidden attribute.
  EXPECT_EQ(Render("<span style=\"display:none;display:inline\">x</span>y"), "xy");
  EXPECT_EQ(Render("<div hidden style=\"display:block\">x</div>y"), "x\r\ny");
  // Nothing below a hidden element shows, whatever its own style.
  EXPECT_EQ(Render("<div hidden><p style=\"display:block\">x</p></div>y"), "y");
  // Not a display: none.
  EXPECT_EQ(Render("<span style=\"display:nonesuch\">a</span><span style=\"x-display:none\">b"
                   "</span><span title=\"display:none\">c</span>"),
            "abc");
}

TEST(HtmlTextRenderTest, InlineStyleDisplayChangesLineBreaks) {
  EXPECT_EQ(Render("<span style=\"display:block\">a</span>b"), "a\r\nb");
  EXPECT_EQ(Render("<div style=\"display:inline\">a</div><div style=\"display:inline\">b</div>"),
            "ab");
}

TEST(HtmlTextRenderTest, InvisibleElementsHideTheirTextButNotVisibleChildren) {
  EXPECT_EQ(Render("a<span style=\"visibility:hidden\">b<em style=\"visibility:visible\">c</em>"
                   "</span>d"),
            "acd");
}

TEST(HtmlTextRenderTest, ImagesControlsAndMediaGiveNoText) {
  EXPECT_EQ(Render("a<img alt=\"picture\" src=\"x.gif\">b"), "ab");
  EXPECT_EQ(Render("<input value=\"v\"><textarea>t</textarea><button>Press</button>"), "Press");
  EXPECT_EQ(Render("<video>no video</video><audio>no audio</audio><canvas>c</canvas>"
                   "<iframe src=x>frame</iframe>text"),
            "text");
}

TEST(HtmlTextRenderTest, SelectOptionsStandOnLinesOfTheirOwn) {
  EXPECT_EQ(Render("Go to<select><option>Home</option><option selected>Archive  Search</option>"
                   "</select>now"),
            "Go to\r\nHome\r\nArchive Search\r\nnow");
  // Groups and the options of a list box the same; a hidden option or a data list stays out.
  EXPECT_EQ(Render("<select multiple size=3><optgroup label=\"Years\"><option>2001<option>2002"
                   "</optgroup><option hidden>secret</option></select>"),
            "2001\r\n2002");
  EXPECT_EQ(Render("<input list=l><datalist id=l><option>suggested</option></datalist>x"), "x");
}

TEST(HtmlTextRenderTest, ClosedDisclosureShowsOnlyItsSummary) {
  EXPECT_EQ(Render("<details><summary>S</summary>body</details>"), "S");
  EXPECT_EQ(Render("<details open><summary>S</summary>body</details>"), "S\r\nbody");
}

TEST(HtmlTextRenderTest, SvgTextCountsButItsDescriptionsDoNot) {
  EXPECT_EQ(Render("<svg><title>tip</title><desc>d</desc><defs><text>x</text></defs>"
                   "<text>Label</text></svg>"),
            "Label");
}

// ---- Malformed and unusual input ------------------------------------------------------------

TEST(HtmlTextRenderTest, MalformedHtmlIsRepairedAsABrowserDoes) {
  EXPECT_EQ(Render("<p>one<p>two<div>three"), "one\r\n\r\ntwo\r\n\r\nthree");
  EXPECT_EQ(Render("<table><tr><td>a<td>b<tr><td>c</table>"), "a\tb\r\nc");
  EXPECT_EQ(Render("<b>bold<i>both</b>italic</i>"), "boldbothitalic");
  EXPECT_EQ(Render("a</td>b</tr></p>c"), "ab\r\n\r\nc");
  EXPECT_EQ(Render("text<!-- an unclosed comment <p>x</p>"), "text");
  EXPECT_EQ(Render("1 < 2 and 3 > 2"), "1 < 2 and 3 > 2");
  EXPECT_EQ(Render("<div <p>>x"), ">x");
  EXPECT_EQ(Render("<a href=\"unterminated>x</a>"), "");
}

TEST(HtmlTextRenderTest, NonHtmlInputComesOutAsCollapsedText) {
  EXPECT_EQ(Render("Hello\nworld,\r\n  plain text."), "Hello world, plain text.");
  EXPECT_EQ(Render("{\"json\": [1, 2]}"), "{\"json\": [1, 2]}");
  // Bytes that are not UTF-8 become replacement characters; a byte-order mark is dropped.
  EXPECT_EQ(Render("\xEF\xBB\xBF"
                   "a\xFF\xFE"
                   "b"),
            "a\uFFFD\uFFFDb");
  // A zero character in text is dropped by the HTML parser.
  std::string with_nul("a\0b", 3);
  EXPECT_EQ(Render(with_nul), "ab");
}

TEST(HtmlTextRenderTest, HostileNamesAndValuesAreJustMarkup) {
  EXPECT_EQ(Render("<div class=\"'; DROP TABLE Document; --\" id='\"]]>'>a</div>"
                   "<x-y;z>b</x-y;z><p title=\")(*&^%$\">c</p>"),
            "a\r\nb\r\n\r\nc");
  std::string long_name = "<" + std::string(100000, 'q') + ">t";
  EXPECT_EQ(Render(long_name), "t");
  std::string long_value = "<div title=\"" + std::string(1 << 20, '"' + 1) + "\">v</div>";
  EXPECT_EQ(Render(long_value), "v");
}

TEST(HtmlTextRenderTest, VeryLargeAndDeeplyNestedDocumentsRender) {
  // Ten megabytes of nested elements: no stack overflow, and the text at the bottom is there.
  std::string nested;
  for (int i = 0; i < 2000000; ++i) nested += "<div>";
  nested += "bottom";
  EXPECT_EQ(HTML2Text(nested), "bottom");
  std::string tables;
  for (int i = 0; i < 100000; ++i) tables += "<table><tr><td>c" + std::to_string(i);
  std::string text = HTML2Text(tables);
  EXPECT_THAT(text, testing::StartsWith("c0\r\nc1\r\nc2\r\n"));
  EXPECT_THAT(text, testing::EndsWith("c99999"));
  // A long flat document keeps every paragraph.
  std::string flat;
  for (int i = 0; i < 100000; ++i) flat += "<p>paragraph " + std::to_string(i) + "</p>\n";
  text = HTML2Text(flat);
  EXPECT_THAT(text, testing::StartsWith("paragraph 0\r\n\r\nparagraph 1\r\n"));
  EXPECT_THAT(text, testing::EndsWith("\r\n\r\nparagraph 99999"));
}

// ---- Clean-ups --------------------------------------------------------------------------

class HtmlCleanUpTest : public testing::Test {
 protected:
  HtmlTextRenderer renderer_;
};

TEST_F(HtmlCleanUpTest, AbsoluteAddressesInQuotedValuesAreEmptied) {
  EXPECT_EQ(renderer_.CleanUp("<a href=\"http://example.com/a b?c='d'\">l</a>"),
            "<a href=''>l</a>");
  EXPECT_EQ(renderer_.CleanUp("<img src='http://example.com/x.gif\"y'>"), "<img src=''>");
  EXPECT_EQ(renderer_.CleanUp("<A HREF=\"HTTP://X.COM\">"), "<A HREF=''>");
  EXPECT_EQ(renderer_.CleanUp("<a href=\"http://a\">1</a>\n<img src='http://b'>"),
            "<a href=''>1</a>\n<img src=''>");
  // A quoted value may span lines.
  EXPECT_EQ(renderer_.CleanUp("<a href=\"http://a\nb\">"), "<a href=''>");
}

TEST_F(HtmlCleanUpTest, UnquotedAddressLosesOnlyItsFirstCharacterAfterTheScheme) {
  EXPECT_EQ(renderer_.CleanUp("<a href=http://example.com/>x</a>"), "<a href=''xample.com/>x</a>");
  // A blank or ">" right after the scheme is not taken.
  EXPECT_EQ(renderer_.CleanUp("<a href=http:// x>"), "<a href=http:// x>");
  EXPECT_EQ(renderer_.CleanUp("<a href=http://>"), "<a href=http://>");
  // Also in text: the pattern does not know about tags.
  EXPECT_EQ(renderer_.CleanUp("a=http://host"), "a=''ost");
}

TEST_F(HtmlCleanUpTest, OtherAddressesAreKept) {
  for (const char* html :
       {"<a href=\"https://secure\">", "<a href=\"/relative\">", "<a href= \"http://space\">",
        "<a href=\"ftp://x\">", "<a href=\"file:///c:/x\">", "<a href=\"http:/one-slash\">",
        "<a href=\"http://unterminated>"}) {
    EXPECT_EQ(renderer_.CleanUp(html), html);
  }
}

TEST_F(HtmlCleanUpTest, CellEndsGetABlankBefore) {
  EXPECT_EQ(renderer_.CleanUp("<td>a</td><TD>b</Td>"), "<td>a </td><TD>b </td>");
  EXPECT_EQ(renderer_.CleanUp("</td></td>"), " </td> </td>");
}

TEST_F(HtmlCleanUpTest, ActiveContentIsCutOutElementByElement) {
  EXPECT_EQ(renderer_.CleanUp("a<object data=\"x.swf\"><param name=p value=v>fallback</object>b"),
            "ab");
  EXPECT_EQ(renderer_.CleanUp("a<EMBED src=x.swf></Embed>b<applet code=A>java</APPLET>c"), "abc");
  // Text between two elements stays.
  EXPECT_EQ(renderer_.CleanUp("<object>1</object>middle<object>2</object>end"), "middleend");
  EXPECT_EQ(renderer_.CleanUp("<embed src=a></embed>x<embed src=b></embed>"), "x");
  // No end tag: nothing to cut.
  EXPECT_EQ(renderer_.CleanUp("<object>fallback"), "<object>fallback");
  EXPECT_EQ(renderer_.CleanUp("</object><object>x"), "</object><object>x");
  // Element content over several lines.
  EXPECT_EQ(renderer_.CleanUp("<object\nclassid=x>\n<p>a</p>\n</object>z"), "z");
}

TEST_F(HtmlCleanUpTest, HTML2TextAppliesTheCleanUpsBeforeRendering) {
  EXPECT_EQ(renderer_.HTML2Text("<table><tr><td>a</td><td>b</td></tr></table>"), "a\tb");
  // The blank before "</td>" keeps words apart even where there is no cell.
  EXPECT_EQ(renderer_.HTML2Text("a</td>b"), "a b");
  EXPECT_EQ(renderer_.HTML2Text("<p>See x=http://host</p>"), "See x=''ost");
  EXPECT_EQ(renderer_.HTML2Text("<object>1</object>middle<embed src=y></embed>"), "middle");
  // An object without an end tag is not cut, and still gives no text.
  EXPECT_EQ(renderer_.HTML2Text("a<object data=x>fallback"), "a");
  EXPECT_EQ(HTML2Text("<p>free <b>function</b></p>"), "free function");
}

// Large hostile inputs come out right; a pattern that backtracks quadratically would not finish
// within the test's time-out. The speed itself is measured by bench_html_text.
TEST_F(HtmlCleanUpTest, PatternsStayLinearOnTenMegabytesOfHostileInput) {
  const size_t size = 10u << 20;
  auto repeat = [size](std::string_view unit) {
    std::string s;
    s.reserve(size + unit.size());
    while (s.size() < size) s.append(unit);
    return s;
  };
  struct Case {
    std::string input;
    size_t expected_size;
  };
  std::string objects = repeat("<object");
  std::string embeds_then_end = repeat("<embed ") + "</embed>";
  std::string unclosed_quote = "=\"http://" + repeat("a");
  std::string addresses = repeat("=\"http://x\"");
  std::string cells = repeat("</td>");
  std::string end_then_applets = "</applet>" + repeat("<applet");
  std::string closed_objects = repeat("<object>x</object>");
  for (const Case& c :
       {Case{objects, objects.size()}, Case{embeds_then_end, 0},
        Case{unclosed_quote, unclosed_quote.size()}, Case{addresses, addresses.size() / 11 * 3},
        Case{cells, cells.size() / 5 * 6}, Case{end_then_applets, end_then_applets.size()},
        Case{closed_objects, 0}}) {
    std::string out = renderer_.CleanUp(c.input);
    EXPECT_EQ(out.size(), c.expected_size) << c.input.substr(0, 20);
  }
}

TEST_F(HtmlCleanUpTest, HTML2TextNeverThrowsAndGivesEmptyTextForNothing) {
  EXPECT_EQ(renderer_.HTML2Text(""), "");
  EXPECT_EQ(renderer_.HTML2Text("<html><head><title>only a title</title></head></html>"), "");
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xFF));
  std::string text = renderer_.HTML2Text(binary);
  EXPECT_THAT(text, Not(HasSubstr(std::string(1, '\0'))));
}

}  // namespace
}  // namespace format
