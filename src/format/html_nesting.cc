#include "format/html_nesting.h"

#include <gumbo.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace format {
namespace {

// Distinct formatting elements kept open at once (the parser re-opens all of them after every
// block that closed them). Real documents use a handful.
constexpr size_t kMaxActiveFormatting = 16;

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

uint64_t Hash(uint64_t hash, char c) {
  return (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;  // FNV-1a
}
constexpr uint64_t kHashSeed = 0xCBF29CE484222325ull;

struct Tag {
  GumboTag tag = GUMBO_TAG_UNKNOWN;
  uint64_t name = 0;  // hash of the lower-case name, to tell unknown elements apart
  uint64_t attributes = 0;
  bool self_closing = false;
  size_t begin = 0;  // of "<"
  size_t end = 0;    // after ">"
};

// Reads the tag at `lt` ("<name" or "</name"), as the HTML tokenizer does. False when the text
// ends inside it (the tokenizer then drops it).
bool ReadTag(std::string_view html, size_t lt, bool end_tag, Tag& tag) {
  const size_t n = html.size();
  size_t p = lt + (end_tag ? 2 : 1);
  char name[24];
  size_t length = 0;
  uint64_t name_hash = kHashSeed;
  while (p < n && !IsTagSpace(html[p]) && html[p] != '/' && html[p] != '>') {
    char c = Lower(html[p++]);
    name_hash = Hash(name_hash, c);
    if (length < sizeof name) name[length] = c;
    ++length;
  }
  tag.tag = length <= sizeof name ? gumbo_tagn_enum(name, static_cast<unsigned>(length))
                                  : GUMBO_TAG_UNKNOWN;
  tag.name = name_hash;
  tag.begin = lt;
  tag.self_closing = false;
  uint64_t attributes = kHashSeed;
  while (true) {
    while (p < n && (IsTagSpace(html[p]) || html[p] == '/')) {
      if (html[p] == '/' && p + 1 < n && html[p + 1] == '>') tag.self_closing = true;
      ++p;
    }
    if (p >= n) return false;
    if (html[p] == '>') break;
    tag.self_closing = false;
    // Attribute name (its first character may be "="), then an optional value.
    attributes = Hash(attributes, ' ');
    do {
      attributes = Hash(attributes, Lower(html[p++]));
    } while (p < n && !IsTagSpace(html[p]) && html[p] != '/' && html[p] != '>' && html[p] != '=');
    size_t q = p;
    while (q < n && IsTagSpace(html[q])) ++q;
    if (q >= n || html[q] != '=') continue;
    p = q + 1;
    while (p < n && IsTagSpace(html[p])) ++p;
    if (p >= n) return false;
    attributes = Hash(attributes, '=');
    if (html[p] == '"' || html[p] == '\'') {
      size_t close = html.find(html[p], p + 1);
      if (close == std::string_view::npos) return false;
      for (size_t i = p + 1; i < close; ++i) attributes = Hash(attributes, html[i]);
      p = close + 1;
    } else {
      while (p < n && !IsTagSpace(html[p]) && html[p] != '>')
        attributes = Hash(attributes, html[p++]);
    }
  }
  tag.attributes = attributes;
  tag.end = p + 1;
  return true;
}

// End of a comment whose "<!--" ends before `from`.
size_t CommentEnd(std::string_view html, size_t from) {
  if (from < html.size() && html[from] == '>') return from + 1;  // "<!-->"
  if (html.substr(from, 2) == "->") return from + 2;             // "<!--->"
  for (size_t p = from; (p = html.find("--", p)) != std::string_view::npos; ++p) {
    if (p + 2 < html.size() && html[p + 2] == '>') return p + 3;
    if (html.substr(p + 2, 2) == "!>") return p + 4;
  }
  return html.size();
}

// Position of the end tag "</name" that ends raw text started before `from`.
size_t RawTextEnd(std::string_view html, size_t from, GumboTag tag) {
  const char* name = gumbo_normalized_tagname(tag);
  std::string_view wanted(name);
  for (size_t p = from; (p = html.find("</", p)) != std::string_view::npos; p += 2) {
    size_t i = 0;
    while (i < wanted.size() && p + 2 + i < html.size() && Lower(html[p + 2 + i]) == wanted[i]) {
      ++i;
    }
    if (i < wanted.size()) continue;
    size_t after = p + 2 + i;
    if (after >= html.size() || IsTagSpace(html[after]) || html[after] == '/' ||
        html[after] == '>') {
      return p;
    }
  }
  return html.size();
}

bool OneOf(GumboTag tag, std::initializer_list<GumboTag> tags) {
  return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

bool IsHeading(GumboTag t) {
  return OneOf(
      t, {GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6});
}

bool IsVoid(GumboTag t) {
  return OneOf(t, {GUMBO_TAG_AREA,     GUMBO_TAG_BASE,    GUMBO_TAG_BR,    GUMBO_TAG_COL,
                   GUMBO_TAG_EMBED,    GUMBO_TAG_HR,      GUMBO_TAG_IMG,   GUMBO_TAG_IMAGE,
                   GUMBO_TAG_INPUT,    GUMBO_TAG_KEYGEN,  GUMBO_TAG_LINK,  GUMBO_TAG_META,
                   GUMBO_TAG_PARAM,    GUMBO_TAG_SOURCE,  GUMBO_TAG_TRACK, GUMBO_TAG_WBR,
                   GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_FRAME, GUMBO_TAG_ISINDEX});
}

// Elements whose content the tokenizer reads as text up to their end tag.
bool IsRawText(GumboTag t) {
  return OneOf(t, {GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_XMP, GUMBO_TAG_IFRAME,
                   GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES, GUMBO_TAG_TITLE, GUMBO_TAG_TEXTAREA});
}

bool IsFormatting(GumboTag t) {
  return OneOf(t, {GUMBO_TAG_A, GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM,
                   GUMBO_TAG_FONT, GUMBO_TAG_I, GUMBO_TAG_NOBR, GUMBO_TAG_S, GUMBO_TAG_SMALL,
                   GUMBO_TAG_STRIKE, GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U});
}

// Elements with tree-building rules of their own: they stop the search for a matching end tag.
bool IsStructural(GumboTag t) {
  switch (t) {
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_COLGROUP:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_ISINDEX:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MARQUEE:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_META:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_P:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_TH:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_WBR:
    case GUMBO_TAG_XMP:
      return true;
    default:
      return false;
  }
}

// Start tags that close an open paragraph.
bool ClosesParagraph(GumboTag t) {
  switch (t) {
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_P:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT:
      return true;
    default:
      return false;
  }
}

// HTML start tags that end foreign (SVG, MathML) content.
bool BreaksOutOfForeign(GumboTag t) {
  switch (t) {
    case GUMBO_TAG_B:
    case GUMBO_TAG_BIG:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_CODE:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_EM:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_I:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_META:
    case GUMBO_TAG_NOBR:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_P:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_RUBY:
    case GUMBO_TAG_S:
    case GUMBO_TAG_SMALL:
    case GUMBO_TAG_SPAN:
    case GUMBO_TAG_STRONG:
    case GUMBO_TAG_STRIKE:
    case GUMBO_TAG_SUB:
    case GUMBO_TAG_SUP:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TT:
    case GUMBO_TAG_U:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_VAR:
    case GUMBO_TAG_FONT:
      return true;
    default:
      return false;
  }
}

// Elements that put a marker on the list of active formatting elements.
bool IsMarkerElement(GumboTag t) {
  return OneOf(t, {GUMBO_TAG_APPLET, GUMBO_TAG_OBJECT, GUMBO_TAG_MARQUEE, GUMBO_TAG_TD,
                   GUMBO_TAG_TH, GUMBO_TAG_CAPTION, GUMBO_TAG_TEMPLATE});
}

enum class Scope { kDefault, kButton, kList, kTable };

// The tree builder's stack of open elements, reduced to what decides the depth.
class NestingModel {
 public:
  explicit NestingModel(size_t max_depth) : max_depth_(max_depth), open_(GUMBO_TAG_LAST + 1) {}

  bool InForeign() const {
    return !stack_.empty() && stack_.back().foreign && !IntegrationPoint(stack_.back());
  }

  void Start(const Tag& tag) {
    if (InForeign()) {
      if (!BreaksOutOfForeign(tag.tag)) {
        if (!tag.self_closing) Push(tag, true);
        return;
      }
      while (InForeign()) PopTo(stack_.size() - 1);
    }
    switch (tag.tag) {
      case GUMBO_TAG_HTML:
      case GUMBO_TAG_HEAD:
      case GUMBO_TAG_BODY:
      case GUMBO_TAG_FRAMESET:
      case GUMBO_TAG_FRAME:
        return;  // merged into the existing elements, or ignored in a body
      case GUMBO_TAG_SVG:
      case GUMBO_TAG_MATH:
        if (!tag.self_closing) Push(tag, true);
        return;
      case GUMBO_TAG_LI:
      case GUMBO_TAG_DD:
      case GUMBO_TAG_DT:
        CloseListItem(tag.tag);
        ClosePInButtonScope();
        Push(tag);
        return;
      case GUMBO_TAG_BUTTON:
        if (size_t i = Find(GUMBO_TAG_BUTTON, Scope::kDefault); i != kNone) PopTo(i);
        Push(tag);
        return;
      case GUMBO_TAG_FORM:
        if (Open(GUMBO_TAG_FORM)) return;  // a form inside a form is ignored
        ClosePInButtonScope();
        Push(tag);
        return;
      case GUMBO_TAG_TABLE:
        // Directly inside a table (not in a cell or caption) a table ends the previous one.
        for (size_t i = stack_.size(); i-- > 0;) {
          const Entry& entry = stack_[i];
          if (entry.foreign) break;
          if (OneOf(entry.tag,
                    {GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_CAPTION, GUMBO_TAG_TEMPLATE})) {
            break;
          }
          if (entry.tag == GUMBO_TAG_TABLE) {
            PopTo(i);
            break;
          }
        }
        Push(tag);
        return;
      case GUMBO_TAG_TD:
      case GUMBO_TAG_TH:
        if (!InTable()) return;  // ignored outside tables
        ClearBackTo(
            {GUMBO_TAG_TR, GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT, GUMBO_TAG_TABLE},
            {GUMBO_TAG_TD, GUMBO_TAG_TH});
        Push(tag);
        return;
      case GUMBO_TAG_TR:
        if (!InTable()) return;
        ClearBackTo({GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT, GUMBO_TAG_TABLE}, {});
        Push(tag);
        return;
      case GUMBO_TAG_TBODY:
      case GUMBO_TAG_THEAD:
      case GUMBO_TAG_TFOOT:
      case GUMBO_TAG_CAPTION:
      case GUMBO_TAG_COLGROUP:
        if (!InTable()) return;
        ClearBackTo({GUMBO_TAG_TABLE}, {});
        Push(tag);
        return;
      case GUMBO_TAG_OPTION:
        if (Top(GUMBO_TAG_OPTION)) PopTo(stack_.size() - 1);
        Push(tag);
        return;
      case GUMBO_TAG_OPTGROUP:
        if (Top(GUMBO_TAG_OPTION)) PopTo(stack_.size() - 1);
        if (Top(GUMBO_TAG_OPTGROUP)) PopTo(stack_.size() - 1);
        Push(tag);
        return;
      case GUMBO_TAG_RB:
      case GUMBO_TAG_RTC:
      case GUMBO_TAG_RT:
      case GUMBO_TAG_RP:
        if (Find(GUMBO_TAG_RUBY, Scope::kDefault) != kNone) {
          bool keep_rtc = tag.tag == GUMBO_TAG_RT || tag.tag == GUMBO_TAG_RP;
          while (Top(GUMBO_TAG_RB) || Top(GUMBO_TAG_RP) || Top(GUMBO_TAG_RT) ||
                 (!keep_rtc && Top(GUMBO_TAG_RTC))) {
            PopTo(stack_.size() - 1);
          }
        }
        Push(tag);
        return;
      case GUMBO_TAG_A:
      case GUMBO_TAG_NOBR:
        // A new link ends the open one, unless a block opened since keeps it.
        for (size_t i = stack_.size(); i-- > 0;) {
          if (Is(stack_[i], tag.tag)) {
            PopTo(i);
            break;
          }
          if (IsStructural(stack_[i].tag) || stack_[i].foreign) break;
        }
        ForgetFormatting(tag.tag);
        PushFormatting(tag);
        return;
      case GUMBO_TAG_PLAINTEXT:
        ClosePInButtonScope();
        return;  // the rest of the document is text
      default:
        break;
    }
    if (IsVoid(tag.tag)) {
      if (tag.tag == GUMBO_TAG_HR) ClosePInButtonScope();
      return;
    }
    if (IsRawText(tag.tag)) {
      if (tag.tag == GUMBO_TAG_XMP) ClosePInButtonScope();
      return;  // its content is text and its end tag follows
    }
    if (ClosesParagraph(tag.tag)) {
      ClosePInButtonScope();
      if (IsHeading(tag.tag) && !stack_.empty() && !stack_.back().foreign &&
          IsHeading(stack_.back().tag)) {
        PopTo(stack_.size() - 1);
      }
    }
    if (IsFormatting(tag.tag)) {
      PushFormatting(tag);
    } else {
      Push(tag);
    }
  }

  void End(const Tag& tag) {
    if (InForeign()) {
      for (size_t i = stack_.size(); i-- > 0 && stack_[i].foreign;) {
        if (stack_[i].tag == tag.tag && stack_[i].name == tag.name) {
          PopTo(i);
          return;
        }
      }
    }
    switch (tag.tag) {
      case GUMBO_TAG_HTML:
      case GUMBO_TAG_BODY:
      case GUMBO_TAG_BR:
        return;
      case GUMBO_TAG_P:
        PopToFound(GUMBO_TAG_P, Scope::kButton);
        return;
      case GUMBO_TAG_LI:
        PopToFound(GUMBO_TAG_LI, Scope::kList);
        return;
      case GUMBO_TAG_TD:
      case GUMBO_TAG_TH:
      case GUMBO_TAG_TR:
      case GUMBO_TAG_TBODY:
      case GUMBO_TAG_THEAD:
      case GUMBO_TAG_TFOOT:
      case GUMBO_TAG_TABLE:
      case GUMBO_TAG_CAPTION:
        PopToFound(tag.tag, Scope::kTable);
        return;
      case GUMBO_TAG_H1:
      case GUMBO_TAG_H2:
      case GUMBO_TAG_H3:
      case GUMBO_TAG_H4:
      case GUMBO_TAG_H5:
      case GUMBO_TAG_H6:
        // Any heading closes any heading.
        for (size_t i = stack_.size(); i-- > 0;) {
          if (!stack_[i].foreign && IsHeading(stack_[i].tag)) {
            PopTo(i);
            return;
          }
          if (IsBoundary(stack_[i], Scope::kDefault)) return;
        }
        return;
      case GUMBO_TAG_FORM:
        // Only the form itself is closed; what opened inside it stays open.
        if (size_t i = Find(GUMBO_TAG_FORM, Scope::kDefault); i != kNone) {
          stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(i));
          --open_[GUMBO_TAG_FORM];
        }
        return;
      case GUMBO_TAG_SELECT:
        for (size_t i = stack_.size(); i-- > 0;) {
          if (Is(stack_[i], GUMBO_TAG_SELECT)) {
            PopTo(i);
            return;
          }
        }
        return;
      case GUMBO_TAG_OPTION:
      case GUMBO_TAG_OPTGROUP:
      case GUMBO_TAG_COLGROUP:
        if (Top(tag.tag)) PopTo(stack_.size() - 1);
        return;
      default:
        break;
    }
    if (IsStructural(tag.tag)) {
      PopToFound(tag.tag, Scope::kDefault);
      return;
    }
    // Formatting and other elements: the nearest open one of the same name, unless a block
    // opened after it.
    if (IsFormatting(tag.tag)) ForgetFormatting(tag.tag);
    for (size_t i = stack_.size(); i-- > 0;) {
      const Entry& entry = stack_[i];
      if (!entry.foreign && entry.tag == tag.tag && entry.name == tag.name) {
        PopTo(i);
        return;
      }
      if (IsStructural(entry.tag) && !entry.foreign) return;
    }
  }

  const std::vector<std::pair<size_t, size_t>>& dropped() const { return dropped_; }
  const std::vector<bool>& dropped_blocks() const { return dropped_blocks_; }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  struct Entry {
    GumboTag tag;
    uint64_t name;
    bool foreign;
  };

  struct Formatting {
    GumboTag tag;
    uint64_t attributes;
    bool marker;
  };

  static bool Is(const Entry& entry, GumboTag tag) { return !entry.foreign && entry.tag == tag; }

  static bool IntegrationPoint(const Entry& entry) {
    return entry.foreign &&
           OneOf(entry.tag, {GUMBO_TAG_MI, GUMBO_TAG_MO, GUMBO_TAG_MN, GUMBO_TAG_MS,
                             GUMBO_TAG_MTEXT, GUMBO_TAG_ANNOTATION_XML, GUMBO_TAG_FOREIGNOBJECT,
                             GUMBO_TAG_DESC, GUMBO_TAG_TITLE});
  }

  static bool IsBoundary(const Entry& entry, Scope scope) {
    if (entry.foreign) return IntegrationPoint(entry);
    if (scope == Scope::kTable) {
      return OneOf(entry.tag, {GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TEMPLATE});
    }
    if (OneOf(entry.tag,
              {GUMBO_TAG_APPLET, GUMBO_TAG_CAPTION, GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TD,
               GUMBO_TAG_TH, GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT, GUMBO_TAG_TEMPLATE})) {
      return true;
    }
    if (scope == Scope::kButton) return entry.tag == GUMBO_TAG_BUTTON;
    if (scope == Scope::kList) return entry.tag == GUMBO_TAG_OL || entry.tag == GUMBO_TAG_UL;
    return false;
  }

  bool Top(GumboTag tag) const { return !stack_.empty() && Is(stack_.back(), tag); }

  // Whether an HTML element `tag` is open anywhere; saves most walks down the stack.
  bool Open(GumboTag tag) const { return open_[tag] > 0; }

  bool InTable() const { return Open(GUMBO_TAG_TABLE); }

  // Index of the nearest open `tag` in scope, or kNone.
  size_t Find(GumboTag tag, Scope scope) const {
    if (!Open(tag)) return kNone;
    for (size_t i = stack_.size(); i-- > 0;) {
      if (Is(stack_[i], tag)) return i;
      if (IsBoundary(stack_[i], scope)) return kNone;
    }
    return kNone;
  }

  void PopToFound(GumboTag tag, Scope scope) {
    if (size_t i = Find(tag, scope); i != kNone) PopTo(i);
  }

  void ClosePInButtonScope() { PopToFound(GUMBO_TAG_P, Scope::kButton); }

  // A new list item closes the open one of its kind, unless a block other than address, div or
  // p opened after it.
  void CloseListItem(GumboTag tag) {
    if (tag == GUMBO_TAG_LI ? !Open(GUMBO_TAG_LI) : !Open(GUMBO_TAG_DD) && !Open(GUMBO_TAG_DT)) {
      return;
    }
    for (size_t i = stack_.size(); i-- > 0;) {
      const Entry& entry = stack_[i];
      if (entry.foreign) return;
      bool same = tag == GUMBO_TAG_LI ? entry.tag == GUMBO_TAG_LI
                                      : (entry.tag == GUMBO_TAG_DD || entry.tag == GUMBO_TAG_DT);
      if (same) {
        PopTo(i);
        return;
      }
      if (IsStructural(entry.tag) &&
          !OneOf(entry.tag, {GUMBO_TAG_ADDRESS, GUMBO_TAG_DIV, GUMBO_TAG_P})) {
        return;
      }
    }
  }

  // Closes everything above the nearest of `stops`; an element of `closed` found first is closed
  // itself.
  void ClearBackTo(std::initializer_list<GumboTag> stops, std::initializer_list<GumboTag> closed) {
    for (size_t i = stack_.size(); i-- > 0;) {
      const Entry& entry = stack_[i];
      if (entry.foreign) continue;
      if (OneOf(entry.tag, closed)) {
        PopTo(i);
        return;
      }
      if (OneOf(entry.tag, stops) || entry.tag == GUMBO_TAG_TEMPLATE) {
        PopTo(i + 1);
        return;
      }
    }
  }

  void PopTo(size_t index) {
    for (size_t i = index; i < stack_.size(); ++i) {
      if (stack_[i].foreign) continue;
      --open_[stack_[i].tag];
      if (IsMarkerElement(stack_[i].tag)) ClearFormattingToMarker();
    }
    stack_.resize(index);
  }

  void Push(const Tag& tag, bool foreign = false) {
    if (stack_.size() >= max_depth_) {
      Drop(tag, foreign);
      return;
    }
    stack_.push_back({tag.tag, tag.name, foreign});
    if (foreign) return;
    ++open_[tag.tag];
    if (IsMarkerElement(tag.tag)) formatting_.push_back({tag.tag, 0, true});
  }

  void Drop(const Tag& tag, bool foreign) {
    dropped_.emplace_back(tag.begin, tag.end);
    dropped_blocks_.push_back(!foreign && IsStructural(tag.tag));
  }

  // Formatting elements are also remembered for re-opening; identical ones at most three times.
  void PushFormatting(const Tag& tag) {
    size_t first_same = kNone;
    size_t same = 0;
    size_t since_marker = 0;
    for (size_t i = formatting_.size(); i-- > 0 && !formatting_[i].marker;) {
      ++since_marker;
      if (formatting_[i].tag == tag.tag && formatting_[i].attributes == tag.attributes) {
        ++same;
        first_same = i;
      }
    }
    if (same >= 3) {
      formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(first_same));
      --since_marker;
    }
    if (since_marker >= kMaxActiveFormatting || stack_.size() >= max_depth_) {
      Drop(tag, false);
      return;
    }
    formatting_.push_back({tag.tag, tag.attributes, false});
    Push(tag);
  }

  void ForgetFormatting(GumboTag tag) {
    for (size_t i = formatting_.size(); i-- > 0 && !formatting_[i].marker;) {
      if (formatting_[i].tag == tag) {
        formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }

  void ClearFormattingToMarker() {
    while (!formatting_.empty()) {
      bool marker = formatting_.back().marker;
      formatting_.pop_back();
      if (marker) return;
    }
  }

  size_t max_depth_;
  std::vector<Entry> stack_;
  std::vector<int> open_;  // open HTML elements by tag
  std::vector<Formatting> formatting_;
  std::vector<std::pair<size_t, size_t>> dropped_;
  std::vector<bool> dropped_blocks_;
};

}  // namespace

std::optional<std::string> LimitHtmlNesting(std::string_view html, size_t max_depth) {
  // Every element needs a start tag: a document with few cannot nest deeply.
  if (static_cast<size_t>(std::count(html.begin(), html.end(), '<')) <= max_depth) {
    return std::nullopt;
  }
  NestingModel model(max_depth);
  const size_t n = html.size();
  size_t pos = 0;
  while (pos < n) {
    size_t lt = html.find('<', pos);
    if (lt == std::string_view::npos || lt + 1 >= n) break;
    char next = html[lt + 1];
    Tag tag;
    if (IsAsciiAlpha(next)) {
      if (!ReadTag(html, lt, false, tag)) break;
      bool foreign = model.InForeign();
      model.Start(tag);
      pos = tag.end;
      if (!foreign && tag.tag == GUMBO_TAG_PLAINTEXT) break;
      if (!foreign && IsRawText(tag.tag)) pos = RawTextEnd(html, pos, tag.tag);
    } else if (next == '/' && lt + 2 < n && IsAsciiAlpha(html[lt + 2])) {
      if (!ReadTag(html, lt, true, tag)) break;
      model.End(tag);
      pos = tag.end;
    } else if (html.substr(lt, 4) == "<!--") {
      pos = CommentEnd(html, lt + 4);
    } else if (next == '!' && model.InForeign() && html.substr(lt, 9) == "<![CDATA[") {
      size_t close = html.find("]]>", lt + 9);
      pos = close == std::string_view::npos ? n : close + 3;
    } else if (next == '!' || next == '?' || next == '/') {
      // Doctype, processing instruction, "</>" or another bogus comment: up to the next ">".
      size_t close = html.find('>', lt + 2);
      pos = close == std::string_view::npos ? n : close + 1;
    } else {
      pos = lt + 1;  // a "<" in text
    }
  }
  if (model.dropped().empty()) return std::nullopt;
  std::string out;
  out.reserve(html.size());
  size_t copied = 0;
  for (size_t i = 0; i < model.dropped().size(); ++i) {
    auto [begin, end] = model.dropped()[i];
    out.append(html.substr(copied, begin - copied));
    if (model.dropped_blocks()[i]) out.push_back(' ');
    copied = end;
  }
  out.append(html.substr(copied));
  return out;
}

}  // namespace format
