#include "format/mht.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/code_page.h"
#include "format/html_text.h"

namespace format {
namespace {

// Multiparts inside multiparts are followed this deep; archives use one or two levels.
constexpr int kMaxMultipartDepth = 8;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r' || s.front() == '\n')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

// The next line of `text` from `pos`, without its line end; `pos` moves past the line end.
std::string_view NextLine(std::string_view text, size_t& pos) {
  size_t feed = text.find('\n', pos);
  size_t end = feed == std::string_view::npos ? text.size() : feed;
  std::string_view line = text.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos = feed == std::string_view::npos ? text.size() : feed + 1;
  return line;
}

// A MIME entity: its header fields (names in lower case, folded lines joined) and its body.
struct Entity {
  std::vector<std::pair<std::string, std::string>> headers;
  std::string_view body;

  std::string_view Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
      if (key == name) return value;
    }
    return {};
  }
  bool Has(std::string_view name) const {
    for (const auto& header : headers) {
      if (header.first == name) return true;
    }
    return false;
  }
};

// Splits header fields from the body at the first empty line. A line that is neither a field nor
// a continuation ends the fields there: what follows is body.
Entity ParseEntity(std::string_view text) {
  Entity entity;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t line_start = pos;
    std::string_view line = NextLine(text, pos);
    if (line.empty()) {
      entity.body = text.substr(pos);
      return entity;
    }
    if (IsBlank(line.front()) && !entity.headers.empty()) {
      entity.headers.back().second += ' ';
      entity.headers.back().second += Trim(line);
      continue;
    }
    size_t colon = line.find(':');
    std::string_view name = colon == std::string_view::npos ? "" : Trim(line.substr(0, colon));
    bool field = !name.empty() && name.find_first_of(" \t") == std::string_view::npos;
    if (!field) {
      entity.body = text.substr(line_start);
      return entity;
    }
    entity.headers.emplace_back(LowerCase(name), std::string(Trim(line.substr(colon + 1))));
  }
  entity.body = {};
  return entity;
}

// "type/subtype; name=value; name="quoted value"" split up; names and the type in lower case.
struct ContentType {
  std::string type;
  std::vector<std::pair<std::string, std::string>> parameters;

  std::string Parameter(std::string_view name) const {
    for (const auto& [key, value] : parameters) {
      if (key == name) return value;
    }
    return {};
  }
};

ContentType ParseContentType(std::string_view value) {
  ContentType result;
  size_t semicolon = value.find(';');
  result.type = LowerCase(Trim(value.substr(0, semicolon)));
  size_t pos = semicolon == std::string_view::npos ? value.size() : semicolon + 1;
  while (pos < value.size()) {
    while (pos < value.size() && (IsBlank(value[pos]) || value[pos] == ';')) ++pos;
    size_t equals = value.find('=', pos);
    if (equals == std::string_view::npos) break;
    std::string name = LowerCase(Trim(value.substr(pos, equals - pos)));
    pos = equals + 1;
    while (pos < value.size() && IsBlank(value[pos])) ++pos;
    std::string parameter;
    if (pos < value.size() && value[pos] == '"') {
      ++pos;
      while (pos < value.size() && value[pos] != '"') {
        if (value[pos] == '\\' && pos + 1 < value.size()) ++pos;
        parameter += value[pos++];
      }
      ++pos;  // closing quote
    } else {
      size_t end = value.find(';', pos);
      if (end == std::string_view::npos) end = value.size();
      parameter = std::string(Trim(value.substr(pos, end - pos)));
      pos = end;
    }
    result.parameters.emplace_back(std::move(name), std::move(parameter));
  }
  return result;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    bool had_line_end = text.find('\n', pos) != std::string_view::npos;
    std::string_view line = NextLine(text, pos);
    // Blanks at a line end were added in transport.
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    bool soft_break = !line.empty() && line.back() == '=';
    if (soft_break) line.remove_suffix(1);
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '=' && i + 2 < line.size() && HexDigit(line[i + 1]) >= 0 &&
          HexDigit(line[i + 2]) >= 0) {
        out += static_cast<char>(HexDigit(line[i + 1]) * 16 + HexDigit(line[i + 2]));
        i += 2;
      } else {
        out += line[i];  // a stray "=" is kept as it is
      }
    }
    if (!soft_break && had_line_end) out += "\r\n";
  }
  return out;
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=') {
      break;
    } else {
      continue;  // line ends and other characters outside the alphabet
    }
    bits = (bits << 6) | static_cast<uint32_t>(value);
    if (++count == 4) {
      out += static_cast<char>((bits >> 16) & 0xFF);
      out += static_cast<char>((bits >> 8) & 0xFF);
      out += static_cast<char>(bits & 0xFF);
      bits = 0;
      count = 0;
    }
  }
  if (count == 2) out += static_cast<char>((bits >> 4) & 0xFF);
  if (count == 3) {
    out += static_cast<char>((bits >> 10) & 0xFF);
    out += static_cast<char>((bits >> 2) & 0xFF);
  }
  return out;
}

std::string DecodeBody(const Entity& entity) {
  std::string encoding = LowerCase(Trim(entity.Header("content-transfer-encoding")));
  if (encoding == "base64") return DecodeBase64(entity.body);
  if (encoding == "quoted-printable") return DecodeQuotedPrintable(entity.body);
  return std::string(entity.body);  // 7bit, 8bit, binary
}

bool IsUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto lead = static_cast<unsigned char>(s[i]);
    size_t length = lead < 0x80         ? 1
                    : (lead >> 5) == 6  ? 2
                    : (lead >> 4) == 14 ? 3
                    : (lead >> 3) == 30 ? 4
                                        : 0;
    if (length == 0 || i + length > s.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// The charset a page declares in a meta element near its start.
std::string MetaCharset(std::string_view html) {
  std::string head = LowerCase(html.substr(0, 2048));
  for (size_t pos = head.find("charset"); pos != std::string::npos;
       pos = head.find("charset", pos + 7)) {
    size_t p = pos + 7;
    while (p < head.size() && IsBlank(head[p])) ++p;
    if (p >= head.size() || head[p] != '=') continue;
    ++p;
    while (p < head.size() && (IsBlank(head[p]) || head[p] == '"' || head[p] == '\'')) ++p;
    size_t end = p;
    while (end < head.size() &&
           (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
            head[end] == '_' || head[end] == ':' || head[end] == '.')) {
      ++end;
    }
    if (end > p) return head.substr(p, end - p);
  }
  return {};
}

// The part's bytes as UTF-8: byte-order mark, declared charset, the page's own declaration,
// UTF-8 when the bytes are valid UTF-8, else the system's ANSI code page.
std::string ToUtf8(const std::string& bytes, const ContentType& type) {
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    return common::BytesToText(std::string_view(bytes).substr(2), common::kCodePageUtf16);
  }
  if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
    return common::BytesToText(std::string_view(bytes).substr(2), 1201);
  }
  int code_page = CharsetCodePage(type.Parameter("charset"));
  if (code_page == 0 && type.type == "text/html") code_page = CharsetCodePage(MetaCharset(bytes));
  if (code_page == 0 || code_page == common::kCodePageUtf8) {
    if (IsUtf8(bytes)) return bytes;
    if (code_page == 0) code_page = common::kCodePageAnsi;
  }
  if (code_page == common::kCodePageUtf16 || code_page == 1201) {
    return common::BytesToText(bytes, code_page);
  }
  // The conversion would stop at a zero byte; zeros are no text anyway.
  std::string without_zeros = bytes;
  std::erase(without_zeros, '\0');
  return common::BytesToText(without_zeros, code_page);
}

std::string StripAngles(std::string_view id) {
  id = Trim(id);
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  return std::string(Trim(id));
}

// The body parts of a multipart body with `boundary`; preamble and epilogue left out.
std::vector<std::string_view> SplitMultipart(std::string_view body, std::string_view boundary) {
  std::vector<std::string_view> parts;
  std::string delimiter = "--" + std::string(boundary);
  size_t part_start = std::string_view::npos;
  size_t pos = 0;
  while (pos <= body.size()) {
    size_t line_start = pos;
    if (pos == body.size()) break;
    std::string_view line = NextLine(body, pos);
    if (line.substr(0, delimiter.size()) != delimiter) continue;
    std::string_view rest = line.substr(delimiter.size());
    bool close = rest.substr(0, 2) == "--";
    if (!close && !Trim(rest).empty()) continue;  // a longer boundary, not ours
    if (part_start != std::string_view::npos) {
      // The line end before the delimiter belongs to the delimiter.
      size_t end = line_start;
      if (end > part_start && body[end - 1] == '\n') --end;
      if (end > part_start && body[end - 1] == '\r') --end;
      parts.push_back(body.substr(part_start, end - part_start));
    }
    if (close) return parts;
    part_start = pos;
  }
  // A missing close delimiter: the last part runs to the end.
  if (part_start != std::string_view::npos && part_start < body.size()) {
    parts.push_back(body.substr(part_start));
  }
  return parts;
}

std::optional<MhtDocument> Render(const Entity& entity, const ContentType& type) {
  if (type.type != "text/html" && type.type != "text/plain") return std::nullopt;
  return MhtDocument{type.type, ToUtf8(DecodeBody(entity), type)};
}

// The page of a multipart entity, or of a single text entity.
std::optional<MhtDocument> RootOf(const Entity& entity, int depth) {
  std::string_view content_type = entity.Header("content-type");
  ContentType type = ParseContentType(content_type.empty() ? "text/plain" : content_type);
  if (type.type.compare(0, 10, "multipart/") != 0) return Render(entity, type);
  if (depth >= kMaxMultipartDepth) return std::nullopt;
  std::string boundary = type.Parameter("boundary");
  if (boundary.empty()) return std::nullopt;

  std::vector<Entity> parts;
  for (std::string_view part : SplitMultipart(entity.body, boundary)) {
    parts.push_back(ParseEntity(part));
  }
  std::string start = type.Parameter("start");
  if (!start.empty()) {
    std::string id = StripAngles(start);
    for (const Entity& part : parts) {
      if (StripAngles(part.Header("content-id")) == id ||
          Trim(part.Header("content-location")) == Trim(start)) {
        if (auto root = RootOf(part, depth + 1)) return root;
        break;
      }
    }
  }
  // No start, or no text under that name: the first page, then the first text.
  for (const Entity& part : parts) {
    ContentType part_type = ParseContentType(part.Header("content-type"));
    if (part_type.type == "text/html") return Render(part, part_type);
    if (part_type.type.compare(0, 10, "multipart/") == 0) {
      if (auto nested = RootOf(part, depth + 1); nested && nested->media_type == "text/html") {
        return nested;
      }
    }
  }
  for (const Entity& part : parts) {
    std::string_view part_type = part.Header("content-type");
    if (part_type.empty() || ParseContentType(part_type).type == "text/plain") {
      return RootOf(part, depth + 1);
    }
  }
  return std::nullopt;
}

std::string WithCarriageReturns(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

int CharsetCodePage(std::string_view charset) {
  std::string name = LowerCase(Trim(charset));
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = name.substr(1, name.size() - 2);
  }
  struct Alias {
    std::string_view name;
    int code_page;
  };
  static constexpr Alias kAliases[] = {
      {"utf-8", 65001},     {"utf8", 65001},      {"us-ascii", 20127},     {"ascii", 20127},
      {"utf-16", 1200},     {"utf-16le", 1200},   {"utf-16be", 1201},      {"unicode", 1200},
      {"latin1", 28591},    {"l1", 28591},        {"koi8-r", 20866},       {"koi8-u", 21866},
      {"shift_jis", 932},   {"shift-jis", 932},   {"sjis", 932},           {"x-sjis", 932},
      {"ms_kanji", 932},    {"windows-31j", 932}, {"euc-jp", 51932},       {"iso-2022-jp", 50220},
      {"gb2312", 936},      {"gbk", 936},         {"x-gbk", 936},          {"gb18030", 54936},
      {"big5", 950},        {"euc-kr", 51949},    {"ks_c_5601-1987", 949}, {"tis-620", 874},
      {"windows-874", 874},
  };
  for (const Alias& alias : kAliases) {
    if (name == alias.name) return alias.code_page;
  }
  auto number_after = [&name](std::string_view prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return 0;
    int value = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9' || value > 100000) return 0;
      value = value * 10 + (name[i] - '0');
    }
    return value;
  };
  for (std::string_view prefix : {"iso-8859-", "iso8859-", "iso_8859-"}) {
    if (int part = number_after(prefix); part >= 1 && part <= 16) return 28590 + part;
  }
  for (std::string_view prefix : {"windows-", "cp-", "cp", "x-cp", "ibm"}) {
    if (int code_page = number_after(prefix); code_page > 0) {
      return common::CodePageCharset(code_page).empty() ? 0 : code_page;
    }
  }
  return 0;
}

std::optional<MhtDocument> MhtRootDocument(std::string_view mime) {
  Entity message = ParseEntity(mime);
  if (!message.Has("mime-version") && !message.Has("content-type")) return std::nullopt;
  return RootOf(message, 0);
}

std::string MhtToText(std::string_view mime, int code_page) noexcept {
  try {
    Entity message = ParseEntity(mime);
    if (!message.Has("mime-version") && !message.Has("content-type")) {
      return RenderVisibleText(HtmlBytesToText(mime, code_page));
    }
    std::optional<MhtDocument> root = RootOf(message, 0);
    if (!root) return {};
    if (root->media_type == "text/plain") return WithCarriageReturns(root->text);
    return RenderVisibleText(root->text);
  } catch (...) {
    return {};
  }
}

}  // namespace format
