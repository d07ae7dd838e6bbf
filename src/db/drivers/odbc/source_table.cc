#include "db/drivers/odbc/source_table.h"

#include <cctype>
#include <vector>

namespace db {

namespace {

struct Token {
  std::string text;
  int depth = 0;  // parentheses around it
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Words, bracketed and quoted names as one token each, strings and comments skipped; "." joins
// the parts of a dotted name.
std::optional<std::vector<Token>> Tokens(std::string_view text) {
  std::vector<Token> out;
  int depth = 0;
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      std::size_t end = text.find("*/", i + 2);
      if (end == std::string_view::npos) return std::nullopt;
      i = end + 2;
    } else if (c == '\'') {
      for (++i; i < text.size(); ++i) {
        if (text[i] != '\'') continue;
        if (i + 1 < text.size() && text[i + 1] == '\'') {
          ++i;
          continue;
        }
        break;
      }
      if (i >= text.size()) return std::nullopt;
      ++i;
      out.push_back({"'", depth});
    } else if (c == '[' || c == '"' || std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
               c == '@' || c == '#' || static_cast<unsigned char>(c) >= 0x80) {
      std::size_t start = i;
      for (;;) {
        if (i < text.size() && (text[i] == '[' || text[i] == '"')) {
          char close = text[i] == '[' ? ']' : '"';
          for (++i; i < text.size(); ++i) {
            if (text[i] != close) continue;
            if (i + 1 < text.size() && text[i + 1] == close) {
              ++i;
              continue;
            }
            break;
          }
          if (i >= text.size()) return std::nullopt;
          ++i;
        } else {
          while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) ||
                                     text[i] == '_' || text[i] == '@' || text[i] == '#' ||
                                     text[i] == '$' || static_cast<unsigned char>(text[i]) >= 0x80))
            ++i;
        }
        if (i < text.size() && text[i] == '.') {
          ++i;
          continue;
        }
        break;
      }
      out.push_back({std::string(text.substr(start, i - start)), depth});
    } else {
      if (c == '(') ++depth;
      if (c == ')') --depth;
      out.push_back({std::string(1, c), depth});
      ++i;
    }
  }
  return out;
}

}  // namespace

std::optional<TableNameParts> SplitTableName(std::string_view text) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '[' || c == '"') {
      const char close = c == '[' ? ']' : '"';
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= text.size()) return std::nullopt;
        if (text[j] == close) {
          if (j + 1 < text.size() && text[j + 1] == close) {
            parts.back() += close;
            ++j;
            continue;
          }
          break;
        }
        parts.back() += text[j];
      }
      i = j;
    } else if (c == '.') {
      parts.emplace_back();
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      return std::nullopt;
    } else {
      parts.back() += c;
    }
  }
  if (parts.size() > 3 || parts.back().empty()) return std::nullopt;
  TableNameParts out;
  out.name = parts.back();
  if (parts.size() >= 2) out.owner = parts[parts.size() - 2];
  return out;
}

std::optional<std::string> SingleSourceTable(std::string_view batch) {
  auto tokens = Tokens(batch);
  if (!tokens || tokens->empty() || Lower(tokens->front().text) != "select") return std::nullopt;
  std::optional<std::size_t> from;
  for (std::size_t i = 0; i < tokens->size(); ++i) {
    const Token& t = (*tokens)[i];
    std::string word = Lower(t.text);
    if (t.depth == 0 && (word == "union" || word == "into" || word == "select") && i > 0)
      return std::nullopt;
    if (t.depth == 0 && word == "from") {
      if (from) return std::nullopt;
      from = i;
    }
  }
  if (!from || *from + 1 >= tokens->size()) return std::nullopt;
  const Token& table = (*tokens)[*from + 1];
  if (table.text.size() < 1 || table.text == "(" || table.text == "'" ||
      table.text.front() == '@' || table.text.front() == '#')
    return std::nullopt;
  if (*from + 2 < tokens->size()) {
    std::string next = Lower((*tokens)[*from + 2].text);
    if (next != "where" && next != "order" && next != "group" && next != "having" && next != ";")
      return std::nullopt;
    if (next == ";" && *from + 3 < tokens->size()) return std::nullopt;
  }
  return table.text;
}

}  // namespace db
