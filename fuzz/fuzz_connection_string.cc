// Connection strings from the registry and the command line: parsing, printing and parsing
// again keeps every key and value.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "db/connection_string.h"
#include "db/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  db::ConnectionString parsed;
  try {
    parsed = db::ConnectionString::Parse(text);
  } catch (const db::Error&) {
    return 0;
  }
  // What is set through Set (as the registration form does) reads back unchanged.
  db::ConnectionString rebuilt;
  for (const auto& entry : parsed.entries()) rebuilt.Set(entry.key, entry.value);
  const std::string printed = rebuilt.ToString();
  db::ConnectionString again;
  try {
    again = db::ConnectionString::Parse(printed);
  } catch (const db::Error& error) {
    std::fprintf(stderr, "printed string does not parse: %s\n", printed.c_str());
    std::abort();
  }
  for (const auto& entry : parsed.entries()) {
    if (again.Get(entry.key) != parsed.Get(entry.key)) {
      std::fprintf(stderr, "key %s changed through %s\n", entry.key.c_str(), printed.c_str());
      std::abort();
    }
  }
  return 0;
}
