#include "app/sandbox_cli/batches.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace sandbox_cli {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

ScriptLine ClassifyLine(std::string_view line) {
  std::string_view text = Trim(line);
  ScriptLine result;
  bool colon = !text.empty() && text.front() == ':';
  std::string_view body = colon ? text.substr(1) : text;
  size_t word_end = 0;
  while (word_end < body.size() && std::isalpha(static_cast<unsigned char>(body[word_end])))
    ++word_end;
  std::string_view word = body.substr(0, word_end);
  std::string_view rest = Trim(body.substr(word_end));
  bool alone = rest.empty();
  if ((EqualsNoCase(word, "exit") || EqualsNoCase(word, "quit")) && alone) {
    result.kind = ScriptLine::Kind::kExit;
    return result;
  }
  if (EqualsNoCase(word, "exit") && rest.size() >= 2 && rest.front() == '(' && rest.back() == ')') {
    result.kind = ScriptLine::Kind::kExitQuery;
    result.argument = std::string(Trim(rest.substr(1, rest.size() - 2)));
    return result;
  }
  if (EqualsNoCase(word, "reset") && alone) {
    result.kind = ScriptLine::Kind::kReset;
    return result;
  }
  if (colon) {
    bool separated = word_end < body.size()
                         ? std::isspace(static_cast<unsigned char>(body[word_end])) != 0
                         : true;
    if (EqualsNoCase(word, "r") && separated && !alone) {
      result.kind = ScriptLine::Kind::kRead;
      // A name with blanks is given in double quotes.
      if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
        rest = rest.substr(1, rest.size() - 2);
      result.argument = std::string(rest);
      return result;
    }
    if (EqualsNoCase(word, "setvar") && separated) {
      result.kind = ScriptLine::Kind::kSetVar;
      result.argument = std::string(rest);
      return result;
    }
    result.kind = ScriptLine::Kind::kBadCommand;
    result.argument = std::string(
        text.substr(0, std::min<size_t>(text.size(), 1 + std::max<size_t>(word_end, 1))));
    return result;
  }
  if (text.size() < 2 || !EqualsNoCase(text.substr(0, 2), "go")) return result;
  rest = text.substr(2);
  if (rest.empty()) {
    result.kind = ScriptLine::Kind::kGo;
    return result;
  }
  // "GOTO label" and "go_on" are Transact-SQL, not separators.
  if (!std::isspace(static_cast<unsigned char>(rest.front()))) return result;
  rest = Trim(rest);
  long long count = 0;
  for (char c : rest) {
    if (!std::isdigit(static_cast<unsigned char>(c)) || count > INT_MAX) {
      result.kind = ScriptLine::Kind::kBadGo;
      return result;
    }
    count = count * 10 + (c - '0');
  }
  result.kind = count >= 1 && count <= INT_MAX ? ScriptLine::Kind::kGo : ScriptLine::Kind::kBadGo;
  result.count = result.kind == ScriptLine::Kind::kGo ? static_cast<int>(count) : 1;
  return result;
}

bool IsBlank(std::string_view batch) { return Trim(batch).empty(); }

}  // namespace sandbox_cli
