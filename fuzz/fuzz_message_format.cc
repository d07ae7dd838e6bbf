// Messages are filled with user values (names, server texts): any format and any values give a
// text or the formatter's own error, never a crash.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/messages.h"
#include "common/printf.h"
#include "common/value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first line is the format; each further line a value, typed by its first byte.
  const std::size_t first_break = input.find('\n');
  const std::string_view format = input.substr(0, first_break);
  std::vector<common::Value> values;
  if (first_break != std::string_view::npos) {
    std::string_view rest = input.substr(first_break + 1);
    while (!rest.empty() && values.size() < 16) {
      const std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      const char kind = line.empty() ? 't' : line[0];
      if (!line.empty()) line.remove_prefix(1);
      switch (kind % 4) {
        case 0:
          values.emplace_back();
          break;
        case 1:
          values.emplace_back(static_cast<std::int64_t>(line.size()) - 8);
          break;
        case 2:
          values.emplace_back(static_cast<double>(line.size()) / 3.0);
          break;
        default:
          values.emplace_back(std::string(line));
          break;
      }
    }
  }
  try {
    common::printf(format, values);
  } catch (const common::Error&) {
  }
  if (!input.empty()) {
    const int number = static_cast<unsigned char>(input[0]) * 4;
    try {
      common::FormatMessage(number, values);
    } catch (const common::Error&) {
    }
  }
  return 0;
}
