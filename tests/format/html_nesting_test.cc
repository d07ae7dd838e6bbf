#include "format/html_nesting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "format/html_text.h"

namespace format {
namespace {

std::string Repeat(std::string_view unit, size_t count) {
  std::string s;
  s.reserve(unit.size() * count);
  for (size_t i = 0; i < count; ++i) s.append(unit);
  return s;
}

// Sloppy markup that a browser keeps shallow must pass untouched even with a tiny bound: the
// model has to know the implied end tags.
TEST(HtmlNestingTest, ImpliedEndTagsKeepSloppyDocumentsShallow) {
  const size_t bound = 8;
  for (const std::string& html : {
           Repeat("<p>para", 100),
           Repeat("<ul><li>a<li>b<li>c</ul>", 50),
           "<ul>" + Repeat("<li><b>item", 100) + "</ul>",
           "<table>" + Repeat("<tr><td><font size=2>x<td><div>y", 100) + "</table>",
           "<dl>" + Repeat("<dt>t<dd>d", 100) + "</dl>",
           "<select>" + Repeat("<option>o", 100) + "</select>",
           Repeat("<a href=x>unclosed link ", 100),
           Repeat("<form><input></form>", 100),
           Repeat("<p><b>bold</p>", 100),
           Repeat("<h1>a<h2>b", 100),
           Repeat("<svg><path d=1 /><circle/></svg>", 100),
           Repeat("<div>x</div>", 100) + Repeat("<span>y</span>", 100),
           Repeat("<ruby>r<rt>t<rp>p</ruby>", 100),
           // Tags inside raw text, comments and attribute values are not tags.
           "<script>" + Repeat("<div>", 100) + "</script>",
           "<style>" + Repeat("<div>", 100) + "</STYLE >",
           "<textarea>" + Repeat("<div>", 100) + "</textarea>",
           "<!--" + Repeat("<div>", 100) + "-->",
           Repeat("<span title='<div><div>'>x</span>", 100),
           Repeat("<!doctype html><?php x ?></>", 100),
       }) {
    EXPECT_EQ(LimitHtmlNesting(html, bound), std::nullopt) << html.substr(0, 60);
  }
}

TEST(HtmlNestingTest, StartTagsBeyondTheBoundAreTakenOut) {
  std::string html = Repeat("<div>", 12) + "x" + Repeat("</div>", 12);
  auto limited = LimitHtmlNesting(html, 8);
  ASSERT_TRUE(limited.has_value());
  // Block-level tags leave a blank, inline ones nothing; end tags and text stay.
  EXPECT_EQ(*limited, Repeat("<div>", 8) + "    x" + Repeat("</div>", 12));
  std::string spans = Repeat("<span class=\"a>b\">", 10) + "y";
  EXPECT_EQ(LimitHtmlNesting(spans, 8), Repeat("<span class=\"a>b\">", 8) + "y");
}

TEST(HtmlNestingTest, ForeignContentNestsByItsOwnRules) {
  // Self-closing elements close in SVG, but not in HTML.
  EXPECT_EQ(LimitHtmlNesting("<svg>" + Repeat("<g/>", 20) + "</svg>", 8), std::nullopt);
  EXPECT_TRUE(LimitHtmlNesting(Repeat("<div/>", 20), 8).has_value());
  EXPECT_TRUE(LimitHtmlNesting("<svg>" + Repeat("<g>", 20), 8).has_value());
  // An HTML tag ends the SVG content.
  EXPECT_EQ(LimitHtmlNesting(Repeat("<svg><g><g><p>x</p>", 20), 8), std::nullopt);
}

TEST(HtmlNestingTest, MisnestedMarkupThatReallyNestsIsCaught) {
  // Each of these makes a browser's tree deeper with every repetition.
  for (const std::string& html : {
           Repeat("<span><div></span>", 20),  // the end tag cannot reach past the div
           Repeat("<a><div>", 20),            // the new link cannot close the old one
           Repeat("<form><div></form>", 20),  // closes the form only
           Repeat("<ul><li>", 20),            // nested lists
           Repeat("<table><td>", 20),         // nested tables
           Repeat("<b><div></b>", 20),        // formatting across a block
           Repeat("<rt>", 20),                // no ruby: nothing closes them
           Repeat("<font>", 20),              // unclosed formatting
       }) {
    EXPECT_TRUE(LimitHtmlNesting(html, 8).has_value()) << html.substr(0, 40);
  }
  // Many distinct formatting elements are re-opened after each block: they are bounded too.
  std::string formatting;
  for (int i = 0; i < 100; ++i) formatting += "<b id=" + std::to_string(i) + ">";
  EXPECT_TRUE(
      LimitHtmlNesting("<p>" + formatting + "</p>" + Repeat("<p>x</p>", 1000), 1000).has_value());
}

// Each hostile shape, a few megabytes large, renders in bounded time without a crash; before the
// bound such documents took minutes (quadratic) or overflowed the stack.
TEST(HtmlNestingTest, HostileDocumentsRenderInBoundedTime) {
  struct Case {
    std::string html;
    std::string expected;
  };
  const size_t n = 200000;
  std::string distinct_formatting = "<p>";
  for (int i = 0; i < 1000; ++i) distinct_formatting += "<b id=" + std::to_string(i) + ">";
  distinct_formatting += "</p>" + Repeat("<p>x</p>", n);
  for (const Case& c : {
           Case{Repeat("<div>", n) + "deep", "deep"},
           Case{Repeat("<span><div></span>", n / 2) + "z", "z"},
           Case{Repeat("<a><div>", n) + "a", "a"},
           Case{Repeat("<form><div></form>", n / 2) + "f", "f"},
           Case{Repeat("<ul><li>", n) + "li", "li"},
           Case{Repeat("<table><tr><td>", n / 2) + "t", "t"},
           Case{Repeat("<font color=red>", n) + "c", "c"},
           Case{Repeat("<svg><g>", n) + "g", "g"},
       }) {
    std::string text = RenderVisibleText(c.html);
    EXPECT_THAT(text, testing::EndsWith(c.expected)) << c.html.substr(0, 30);
  }
  std::string text = RenderVisibleText(distinct_formatting);
  EXPECT_THAT(text, testing::StartsWith("x\r\n\r\nx"));
}

TEST(HtmlNestingTest, TextSurvivesTheBound) {
  // Words in blocks beyond the bound stay apart, and every one of them is kept.
  std::string html;
  for (int i = 0; i < 400; ++i) html += "<div>w" + std::to_string(i);
  std::string text = RenderVisibleText(html);
  for (int i = 0; i < 399; ++i) {
    std::string word = "w" + std::to_string(i);
    EXPECT_THAT(text,
                testing::AnyOf(testing::HasSubstr(word + "\r\n"), testing::HasSubstr(word + " ")));
  }
  EXPECT_THAT(text, testing::EndsWith(" w399"));
}

}  // namespace
}  // namespace format
