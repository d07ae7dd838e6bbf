#include "app/sandbox_cli/batches.h"

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
  if (EqualsNoCase(text, "exit") || EqualsNoCase(text, "quit")) {
    result.kind = ScriptLine::Kind::kExit;
    return result;
  }
  if (text.size() < 2 || !EqualsNoCase(text.substr(0, 2), "go")) return result;
  std::string_view rest = text.substr(2);
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

std::vector<ScriptBatch> SplitScript(std::string_view script, int* bad_go_line) {
  std::vector<ScriptBatch> batches;
  if (bad_go_line) *bad_go_line = 0;
  ScriptBatch current;
  int line_number = 0;
  size_t start = 0;
  while (start < script.size()) {
    size_t end = script.find('\n', start);
    if (end == std::string_view::npos) end = script.size();
    std::string_view line = script.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    ++line_number;
    ScriptLine kind = ClassifyLine(line);
    switch (kind.kind) {
      case ScriptLine::Kind::kText:
        if (current.text.empty()) current.first_line = line_number;
        current.text.append(line);
        current.text += '\n';
        break;
      case ScriptLine::Kind::kGo:
        current.count = kind.count;
        batches.push_back(std::move(current));
        current = ScriptBatch{};
        break;
      case ScriptLine::Kind::kExit:
        return batches;
      case ScriptLine::Kind::kBadGo:
        if (bad_go_line) *bad_go_line = line_number;
        return batches;
    }
  }
  if (!IsBlank(current.text)) batches.push_back(std::move(current));
  return batches;
}

}  // namespace sandbox_cli
