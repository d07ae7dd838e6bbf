#include "format/html_text.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <gumbo.h>
#include <pcre2.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "format/html_nesting.h"

namespace format {

// ---------------------------------------------------------------------------------------------
// Clean-ups before parsing.

namespace {

// Absolute web addresses in attribute values are emptied, so nothing would be fetched. The
// unquoted form takes only the first character after "http://", as it always has.
constexpr std::string_view kAddressPattern =
    R"re((?:=)("http://[^"]*"|'http://[^']*'|http://[^ >]))re";
// A blank before every cell end keeps neighbouring cells' words apart.
constexpr std::string_view kCellEndPattern = "</td>";
// Cheap test whether active content may be present at all (a character class: "<" followed by
// any one of those letters).
constexpr std::string_view kActiveContentPattern = "<[object|embed|applet]";
// Each element is cut out up to its own end tag. A greedy match would also cut out all the text
// between the first and the last of several such elements.
constexpr std::string_view kObjectPattern = R"re(<object[\s\S]*?</object>)re";
constexpr std::string_view kEmbedPattern = R"re(<embed[\s\S]*?</embed>)re";
constexpr std::string_view kAppletPattern = R"re(<applet[\s\S]*?</applet>)re";

std::string PatternError(int code) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0) return std::to_string(code);
  return reinterpret_cast<const char*>(buffer);
}

// One compiled pattern: ignore case, multi-line, JIT-compiled when the platform allows it.
class Regex {
 public:
  explicit Regex(std::string_view pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                          PCRE2_CASELESS | PCRE2_MULTILINE, &error, &offset, nullptr);
    if (code_ == nullptr) {
      throw std::runtime_error("cannot compile the pattern " + std::string(pattern) + ": " +
                               PatternError(error));
    }
    // Without JIT the interpreter runs the same pattern, only slower.
    pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
    // None of the patterns nests repetitions, so the work is bounded by the length of the text;
    // the default limit would stop a lazy "[\s\S]*?" a few megabytes into a large document.
    context_ = pcre2_match_context_create(nullptr);
    if (context_ == nullptr) {
      pcre2_code_free(code_);
      throw std::bad_alloc();
    }
    pcre2_set_match_limit(context_, 0xFFFFFFFFu);
  }
  ~Regex() {
    pcre2_match_context_free(context_);
    pcre2_code_free(code_);
  }
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  // The first match at or after `start`: its begin and end offsets, or nothing.
  std::optional<std::pair<size_t, size_t>> Find(std::string_view subject, size_t start,
                                                pcre2_match_data* match) const {
    if (subject.empty() || start > subject.size()) return std::nullopt;
    int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start,
                         0, match, context_);
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc < 0) throw std::runtime_error("pattern matching failed: " + PatternError(rc));
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match);
    return std::make_pair(static_cast<size_t>(ovector[0]), static_cast<size_t>(ovector[1]));
  }

  // `subject` with every match replaced by `replacement` (taken literally).
  std::string ReplaceAll(std::string_view subject, std::string_view replacement) const {
    MatchData match(code_);
    std::string out;
    size_t start = 0;
    while (auto found = Find(subject, start, match.get())) {
      auto [begin, end] = *found;
      if (out.empty()) out.reserve(subject.size() + 64);
      out.append(subject.substr(start, begin - start));
      out.append(replacement);
      if (end == begin) {  // an empty match must not stall the loop
        if (end < subject.size()) out.push_back(subject[end]);
        ++end;
      }
      start = end;
    }
    if (start < subject.size()) out.append(subject.substr(start));
    return out;
  }

  bool Matches(std::string_view subject) const {
    MatchData match(code_);
    return Find(subject, 0, match.get()).has_value();
  }

 private:
  class MatchData {
   public:
    explicit MatchData(const pcre2_code* code)
        : data_(pcre2_match_data_create_from_pattern(code, nullptr)) {
      if (data_ == nullptr) throw std::bad_alloc();
    }
    ~MatchData() { pcre2_match_data_free(data_); }
    MatchData(const MatchData&) = delete;
    MatchData& operator=(const MatchData&) = delete;
    pcre2_match_data* get() const { return data_; }

   private:
    pcre2_match_data* data_;
  };

  pcre2_code* code_ = nullptr;
  pcre2_match_context* context_ = nullptr;
};

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Position of the last occurrence of the lower-case ASCII `needle` (which starts with "<"),
// ignoring case.
size_t FindLastIgnoreCase(std::string_view haystack, std::string_view needle) {
  if (needle.empty() || haystack.size() < needle.size()) return std::string_view::npos;
  // One backward pass (a memrchr per candidate would rescan the text under instrumentation).
  for (size_t i = haystack.size() - needle.size() + 1; i-- > 0;) {
    if (haystack[i] != needle[0]) continue;
    size_t k = 1;
    while (k < needle.size() && AsciiLower(haystack[i + k]) == needle[k]) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

// Cuts out every match of `regex` (an element up to `end_tag`). The search stops after the last
// end tag: a start tag beyond it cannot match, and trying each one to the end of a large text
// would take quadratic time.
std::string RemoveElements(const Regex& regex, std::string_view end_tag, std::string text) {
  size_t last = FindLastIgnoreCase(text, end_tag);
  if (last == std::string_view::npos) return text;
  size_t limit = last + end_tag.size();
  std::string out = regex.ReplaceAll(std::string_view(text).substr(0, limit), "");
  out.append(text, limit, std::string::npos);
  return out;
}

}  // namespace

struct HtmlTextRenderer::Patterns {
  Regex address{kAddressPattern};
  Regex cell_end{kCellEndPattern};
  Regex active_content{kActiveContentPattern};
  Regex object{kObjectPattern};
  Regex embed{kEmbedPattern};
  Regex applet{kAppletPattern};
};

HtmlTextRenderer::HtmlTextRenderer() : patterns_(std::make_unique<Patterns>()) {}
HtmlTextRenderer::~HtmlTextRenderer() = default;

std::string HtmlTextRenderer::CleanUp(std::string_view html) const {
  std::string text = patterns_->address.ReplaceAll(html, "=''");
  text = patterns_->cell_end.ReplaceAll(text, " </td>");
  if (patterns_->active_content.Matches(text)) {
    text = RemoveElements(patterns_->object, "</object>", std::move(text));
    text = RemoveElements(patterns_->embed, "</embed>", std::move(text));
    text = RemoveElements(patterns_->applet, "</applet>", std::move(text));
  }
  return text;
}

std::string HtmlTextRenderer::HTML2Text(std::string_view html) const noexcept {
  try {
    return RenderVisibleText(CleanUp(html));
  } catch (...) {
    return {};
  }
}

std::string HTML2Text(std::string_view html) noexcept {
  try {
    return HtmlTextRenderer().HTML2Text(html);
  } catch (...) {
    return {};
  }
}

// ---------------------------------------------------------------------------------------------
// Parsing.

namespace {

// Owns every block the parser allocates, so the tree is released in one sweep: the parser's own
// release walks the tree recursively and would overflow the stack on deeply nested documents.
// Small blocks (nodes, short texts, attribute lists) come from large chunks and are reused by
// size once freed, which also spares the many small mallocs of a parse.
class ParseArena {
 public:
  ParseArena() { large_.prev = large_.next = &large_; }
  ~ParseArena() {
    for (Large* block = large_.next; block != &large_;) {
      Large* next = block->next;
      std::free(block);
      block = next;
    }
    for (void* chunk : chunks_) std::free(chunk);
  }
  ParseArena(const ParseArena&) = delete;
  ParseArena& operator=(const ParseArena&) = delete;

  static void* Allocate(void* arena, size_t size) {
    return static_cast<ParseArena*>(arena)->Get(size);
  }

  static void Release(void* arena, void* pointer) {
    if (pointer != nullptr) static_cast<ParseArena*>(arena)->Put(pointer);
  }

 private:
  static constexpr size_t kAlign = alignof(std::max_align_t);
  static constexpr size_t kSmallLimit = 512;
  static constexpr size_t kChunkSize = 256 * 1024;

  // Every block is preceded by its size; a large block also by its links.
  struct alignas(kAlign) Small {
    size_t pad;
    size_t size;
  };
  struct alignas(kAlign) Large {
    Large* prev;
    Large* next;
    size_t pad;
    size_t size;
  };
  struct FreeBlock {
    FreeBlock* next;
  };

  static void* Check(void* memory) {
    // The parser cannot handle a failed allocation; stopping here beats writing through null.
    if (memory == nullptr) std::abort();
    return memory;
  }

  void* Get(size_t size) {
    size = (std::max<size_t>(size, 1) + kAlign - 1) / kAlign * kAlign;
    if (size > kSmallLimit) {
      auto* block = static_cast<Large*>(Check(std::malloc(sizeof(Large) + size)));
      block->size = size;
      block->prev = &large_;
      block->next = large_.next;
      large_.next->prev = block;
      large_.next = block;
      return block + 1;
    }
    FreeBlock*& reusable = free_[size / kAlign];
    if (reusable != nullptr) {
      FreeBlock* block = reusable;
      reusable = block->next;
      return block;
    }
    size_t needed = sizeof(Small) + size;
    if (static_cast<size_t>(chunk_end_ - chunk_next_) < needed) {
      chunks_.push_back(Check(std::malloc(kChunkSize)));
      chunk_next_ = static_cast<char*>(chunks_.back());
      chunk_end_ = chunk_next_ + kChunkSize;
    }
    auto* header = reinterpret_cast<Small*>(chunk_next_);
    chunk_next_ += needed;
    header->size = size;
    return header + 1;
  }

  void Put(void* pointer) {
    size_t size = (static_cast<Small*>(pointer) - 1)->size;
    if (size > kSmallLimit) {
      Large* block = static_cast<Large*>(pointer) - 1;
      block->prev->next = block->next;
      block->next->prev = block->prev;
      std::free(block);
      return;
    }
    auto* block = static_cast<FreeBlock*>(pointer);
    block->next = free_[size / kAlign];
    free_[size / kAlign] = block;
  }

  Large large_;
  std::vector<void*> chunks_;
  char* chunk_next_ = nullptr;
  char* chunk_end_ = nullptr;
  FreeBlock* free_[kSmallLimit / kAlign + 1] = {};
};

// ---------------------------------------------------------------------------------------------
// Rendering.

enum class Display { kNone, kInline, kBlock, kParagraph, kTable, kCaption, kRow, kCell, kBreak };
enum class WhiteSpace { kNormal, kPre, kPreLine };

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// What an inline style attribute says about the rendering; the last declaration wins.
struct InlineStyle {
  std::optional<Display> display;
  std::optional<WhiteSpace> white_space;
  std::optional<bool> visible;
};

std::optional<Display> ParseDisplay(std::string_view value) {
  if (value == "none") return Display::kNone;
  if (value == "block" || value == "list-item" || value == "flex" || value == "grid" ||
      value == "flow-root") {
    return Display::kBlock;
  }
  if (value == "table") return Display::kTable;
  if (value == "table-row") return Display::kRow;
  if (value == "table-cell") return Display::kCell;
  if (value == "table-caption") return Display::kCaption;
  if (value == "inline" || value == "inline-block" || value == "inline-flex" ||
      value == "inline-grid" || value == "inline-table" || value == "contents" ||
      value == "table-row-group" || value == "table-header-group" ||
      value == "table-footer-group") {
    return Display::kInline;
  }
  return std::nullopt;  // unknown values leave the element's own display
}

InlineStyle ParseInlineStyle(std::string_view style) {
  std::string text;
  text.reserve(style.size());
  for (size_t i = 0; i < style.size(); ++i) {
    if (style[i] == '/' && i + 1 < style.size() && style[i + 1] == '*') {
      size_t end = style.find("*/", i + 2);
      if (end == std::string_view::npos) break;
      i = end + 1;
      continue;
    }
    text.push_back(AsciiLower(style[i]));
  }
  InlineStyle result;
  std::string_view rest = text;
  while (!rest.empty()) {
    size_t semicolon = rest.find(';');
    std::string_view declaration = rest.substr(0, semicolon);
    rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    size_t colon = declaration.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view property = Trim(declaration.substr(0, colon));
    std::string_view value = Trim(declaration.substr(colon + 1));
    if (size_t bang = value.find('!'); bang != std::string_view::npos) {
      if (Trim(value.substr(bang + 1)) != "important") continue;  // not a valid declaration
      value = Trim(value.substr(0, bang));
    }
    if (property == "display") {
      if (auto display = ParseDisplay(value)) result.display = display;
    } else if (property == "white-space") {
      if (value == "pre" || value == "pre-wrap" || value == "break-spaces") {
        result.white_space = WhiteSpace::kPre;
      } else if (value == "pre-line") {
        result.white_space = WhiteSpace::kPreLine;
      } else if (value == "normal" || value == "nowrap") {
        result.white_space = WhiteSpace::kNormal;
      }
    } else if (property == "visibility") {
      if (value == "visible") result.visible = true;
      if (value == "hidden" || value == "collapse") result.visible = false;
    }
  }
  return result;
}

Display HtmlDisplay(GumboTag tag) {
  switch (tag) {
    // Not rendered, or rendered as something other than text (controls, media, frames, active
    // content whose fallback a browser does not show).
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_DATALIST:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_IMAGE:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_COLGROUP:
    case GUMBO_TAG_METER:
    case GUMBO_TAG_PROGRESS:
    case GUMBO_TAG_MENUITEM:
    case GUMBO_TAG_ISINDEX:
    case GUMBO_TAG_NEXTID:
      return Display::kNone;
    case GUMBO_TAG_P:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
      return Display::kParagraph;
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_MULTICOL:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_UL:
    // A list's choices show in the page (a navigation list, a form's options): one per line.
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_OPTION:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_XMP:
      return Display::kBlock;
    case GUMBO_TAG_TABLE:
      return Display::kTable;
    case GUMBO_TAG_CAPTION:
      return Display::kCaption;
    case GUMBO_TAG_TR:
      return Display::kRow;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
      return Display::kCell;
    case GUMBO_TAG_BR:
      return Display::kBreak;
    default:
      return Display::kInline;
  }
}

bool IsPreformatted(GumboTag tag) {
  return tag == GUMBO_TAG_PRE || tag == GUMBO_TAG_LISTING || tag == GUMBO_TAG_XMP ||
         tag == GUMBO_TAG_PLAINTEXT;
}

// The element's name as written (lower case), for names the parser does not know.
std::string ElementName(const GumboElement& element) {
  if (element.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(element.tag);
  GumboStringPiece piece = element.original_tag;
  gumbo_tag_from_original_text(&piece);
  std::string name(piece.data == nullptr ? "" : std::string(piece.data, piece.length));
  for (char& c : name) c = AsciiLower(c);
  return name;
}

// SVG and MathML: only their text content counts; descriptions, definitions and styles do not.
Display ForeignDisplay(const GumboElement& element) {
  switch (element.tag) {
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_DESC:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_ANNOTATION_XML:
      return Display::kNone;
    case GUMBO_TAG_UNKNOWN:
      break;
    default:
      return Display::kInline;
  }
  static constexpr std::string_view kHidden[] = {
      "metadata", "defs",   "symbol",         "clippath",       "mask",      "pattern",
      "marker",   "filter", "lineargradient", "radialgradient", "annotation"};
  std::string name = ElementName(element);
  for (std::string_view hidden : kHidden) {
    if (name == hidden) return Display::kNone;
  }
  return Display::kInline;
}

// Collects the text, with innerText's rules for line breaks: a run of required line breaks
// between two pieces of text becomes the largest of them, and none are kept at the start and end.
class TextBuilder {
 public:
  void RequireBreaks(int count) {
    pending_breaks_ = std::max(pending_breaks_, count);
    pending_space_ = false;
  }

  // Text under white-space: normal; runs of white space become one blank, none at a line's
  // start or end.
  void Collapsible(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
      if (IsSpace(text[i])) {
        pending_space_ = true;
        while (i < text.size() && IsSpace(text[i])) ++i;
        continue;
      }
      size_t end = i;
      while (end < text.size() && !IsSpace(text[end])) ++end;
      Content(text.substr(i, end - i));
      i = end;
    }
  }

  // white-space: pre-line: collapsed, but line feeds kept.
  void PreLine(std::string_view text) {
    while (true) {
      size_t feed = text.find('\n');
      Collapsible(text.substr(0, feed));
      if (feed == std::string_view::npos) return;
      LineBreak();
      text.remove_prefix(feed + 1);
    }
  }

  // Pre-formatted text keeps every character.
  void Preformatted(std::string_view text) {
    while (true) {
      size_t feed = text.find('\n');
      std::string_view line = text.substr(0, feed);
      if (!line.empty()) Content(line);
      if (feed == std::string_view::npos) return;
      LineBreak();
      text.remove_prefix(feed + 1);
    }
  }

  void LineBreak() {
    Flush();
    out_ += "\r\n";
    line_start_ = true;
    pending_space_ = false;
  }

  void Tab() {
    Flush();
    out_ += '\t';
    line_start_ = true;
    pending_space_ = false;
  }

  // A table cell starts: line breaks its content requires at its start and end are dropped,
  // as at the start and end of the whole text. Returns what EndIsolated needs.
  size_t BeginIsolated() {
    Flush();
    pending_space_ = false;
    line_start_ = true;
    return std::exchange(mark_, out_.size());
  }

  void EndIsolated(size_t saved) {
    pending_breaks_ = 0;
    pending_space_ = false;
    mark_ = saved;
  }

  std::string Finish() { return std::move(out_); }

 private:
  void Flush() {
    if (pending_breaks_ == 0) return;
    if (out_.size() > mark_) {
      for (int i = 0; i < pending_breaks_; ++i) out_ += "\r\n";
      line_start_ = true;
    }
    pending_breaks_ = 0;
    pending_space_ = false;
  }

  void Content(std::string_view text) {
    Flush();
    if (pending_space_ && !line_start_) out_ += ' ';
    pending_space_ = false;
    out_.append(text);
    line_start_ = false;
  }

  std::string out_;
  size_t mark_ = 0;  // required line breaks are dropped while nothing follows this position
  int pending_breaks_ = 0;
  bool pending_space_ = false;
  bool line_start_ = true;
};

const GumboAttribute* Attribute(const GumboElement& element, const char* name) {
  return gumbo_get_attribute(&element.attributes, name);
}

class Renderer {
 public:
  std::string Run(const GumboNode* root) {
    tables_.push_back({});  // rows and cells outside any table
    Enter(root, WhiteSpace::kNormal, true);
    while (!frames_.empty()) {
      Frame& frame = frames_.back();
      const GumboVector& children = frame.node->v.element.children;
      if (frame.next >= children.length) {
        Exit(frame);
        frames_.pop_back();
        continue;
      }
      const auto* child = static_cast<const GumboNode*>(children.data[frame.next++]);
      if (frame.closed_details) {
        // A closed disclosure shows its first summary only.
        bool summary = child->type == GUMBO_NODE_ELEMENT &&
                       child->v.element.tag == GUMBO_TAG_SUMMARY &&
                       child->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
        if (!summary || frame.summary_seen) continue;
        frame.summary_seen = true;
      }
      switch (child->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
          if (frame.visible) Text(child->v.text.text, frame.white_space);
          break;
        case GUMBO_NODE_ELEMENT:
          Enter(child, frame.white_space, frame.visible);  // may invalidate `frame`
          break;
        default:  // comments; template contents are never rendered
          break;
      }
    }
    return builder_.Finish();
  }

 private:
  struct Frame {
    const GumboNode* node;
    unsigned next = 0;
    Display display = Display::kInline;
    WhiteSpace white_space = WhiteSpace::kNormal;
    bool visible = true;
    bool closed_details = false;
    bool summary_seen = false;
    size_t saved_mark = 0;
  };

  struct TableContext {
    int rows = 0;
    int cells = 0;
  };

  void Enter(const GumboNode* node, WhiteSpace white_space, bool visible) {
    const GumboElement& element = node->v.element;
    Frame frame{node};
    bool html = element.tag_namespace == GUMBO_NAMESPACE_HTML;
    frame.display = html ? HtmlDisplay(element.tag) : ForeignDisplay(element);
    // Scripts, styles, the head, controls and media stay out whatever their style says.
    if (frame.display == Display::kNone) return;
    frame.white_space = html && IsPreformatted(element.tag) ? WhiteSpace::kPre : white_space;
    frame.visible = visible;
    if (html) {
      if (element.tag == GUMBO_TAG_UNKNOWN) {
        // Elements newer than the parser's tag list.
        std::string name = ElementName(element);
        if (name == "dialog") {
          frame.display = Attribute(element, "open") ? Display::kBlock : Display::kNone;
        } else if (name == "search") {
          frame.display = Display::kBlock;
        }
      }
      if (Attribute(element, "hidden") != nullptr) frame.display = Display::kNone;
      frame.closed_details =
          element.tag == GUMBO_TAG_DETAILS && Attribute(element, "open") == nullptr;
    }
    if (const GumboAttribute* style = Attribute(element, "style")) {
      InlineStyle parsed = ParseInlineStyle(style->value);
      // An explicit display also overrides the hidden attribute, as in a browser.
      if (parsed.display) frame.display = *parsed.display;
      if (parsed.white_space) frame.white_space = *parsed.white_space;
      if (parsed.visible) frame.visible = *parsed.visible;
    }
    if (frame.display == Display::kNone) return;

    // An invisible element adds no line breaks or separators; its children may still be visible.
    bool shown = frame.visible;
    switch (frame.display) {
      case Display::kBlock:
      case Display::kCaption:
        if (shown) builder_.RequireBreaks(1);
        break;
      case Display::kParagraph:
        if (shown) builder_.RequireBreaks(2);
        break;
      case Display::kTable:
        if (shown) builder_.RequireBreaks(1);
        tables_.push_back({});
        break;
      case Display::kRow: {
        TableContext& table = tables_.back();
        if (table.rows++ > 0 && shown) builder_.LineBreak();
        table.cells = 0;
        break;
      }
      case Display::kCell:
        if (tables_.back().cells++ > 0 && shown) builder_.Tab();
        frame.saved_mark = builder_.BeginIsolated();
        break;
      case Display::kBreak:
        if (shown) builder_.LineBreak();
        break;
      default:
        break;
    }
    frames_.push_back(frame);
  }

  void Exit(const Frame& frame) {
    switch (frame.display) {
      case Display::kBlock:
      case Display::kCaption:
        if (frame.visible) builder_.RequireBreaks(1);
        break;
      case Display::kParagraph:
        if (frame.visible) builder_.RequireBreaks(2);
        break;
      case Display::kTable:
        if (frame.visible) builder_.RequireBreaks(1);
        tables_.pop_back();
        break;
      case Display::kCell:
        builder_.EndIsolated(frame.saved_mark);
        break;
      default:
        break;
    }
  }

  void Text(std::string_view text, WhiteSpace white_space) {
    switch (white_space) {
      case WhiteSpace::kNormal:
        builder_.Collapsible(text);
        break;
      case WhiteSpace::kPre:
        builder_.Preformatted(text);
        break;
      case WhiteSpace::kPreLine:
        builder_.PreLine(text);
        break;
    }
  }

  TextBuilder builder_;
  std::vector<Frame> frames_;
  std::vector<TableContext> tables_;
};

}  // namespace

std::string RenderVisibleText(std::string_view html) {
  // A byte-order mark is not text.
  if (html.substr(0, 3) == "\xEF\xBB\xBF") html.remove_prefix(3);
  if (html.size() >= 0xFFFFFFFFu) return {};  // beyond what the parser takes
  std::optional<std::string> limited = LimitHtmlNesting(html);
  if (limited) html = *limited;

  ParseArena arena;
  GumboOptions options = kGumboDefaultOptions;
  options.allocator = &ParseArena::Allocate;
  options.deallocator = &ParseArena::Release;
  options.userdata = &arena;
  options.max_errors = 0;  // the messages are not used; collecting them costs time
  GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
  // The arena releases the tree; gumbo_destroy_output is not called (see ParseArena).
  if (output == nullptr || output->root == nullptr) return {};
  return Renderer().Run(output->root);
}

}  // namespace format
