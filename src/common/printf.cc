#include "common/printf.h"

#include <algorithm>

#include "common/error.h"
#include "common/text.h"
#include "common/value_format.h"

namespace common {

std::string printf(std::string_view format, const std::vector<Value>& values) {
  // Escapes first, in this order: "\\" must win over "\n" so that "\\n" stays a backslash and n.
  std::string text = ReplaceText(format, "\\\\", "[\\]");
  text = ReplaceText(text, "\\t", "\t");
  text = ReplaceText(text, "\\r", "\r");
  text = ReplaceText(text, "\\n", "\r\n");
  text = ReplaceText(text, "\\[", "[(]");

  const long long count = static_cast<long long>(values.size());
  long long index = 0;
  size_t scan = 0;
  while (true) {
    size_t open = text.find('[', scan);
    if (open == std::string::npos) return text;
    size_t close = text.find(']', open + 1);
    if (close == std::string::npos) {
      throw Error(kErrPrintfMissingBracket, "printf",
                  "Missing ']' after '[' at position " + std::to_string(open + 1) + "!");
    }
    std::string content = text.substr(open + 1, close - open - 1);

    bool explicit_value = false;
    long long saved_index = index;
    if (content.size() >= 2 && content[0] >= '1' && content[0] <= '9' && content[1] == ':') {
      explicit_value = true;
      index = std::min<long long>(content[0] - '1', count - 1);
      content.erase(0, 2);
    }
    if (!content.empty() && content[0] == '=') {
      throw Error(kErrPrintfScriptCode, "sprintf",
                  "No script code allowed in placeholder string. Use the sprintf COM-component "
                  "instead.");
    }

    std::string replacement;
    bool uses_value = true;
    if (content == "(") {
      replacement = "[";
      uses_value = false;
    } else if (content == "\\") {
      replacement = "\\";
      uses_value = false;
    } else if (!content.empty()) {
      if (index < 0 || index >= count) {
        throw Error(kErrPrintfMissingValue, "printf",
                    "Missing value in printf-call for format string '[" + content + "]'!");
      }
      const Value& value = values[static_cast<size_t>(index)];
      replacement = content == "*" ? value.ToText() : FormatValue(value, content);
    }

    text.replace(open, close - open + 1, replacement);
    scan = open + replacement.size();
    if (explicit_value) {
      index = saved_index;
    } else if (uses_value) {
      ++index;
    }
  }
}

}  // namespace common
