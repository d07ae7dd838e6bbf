// tessera-admin: administration of network collections from the command line.
#include <cstring>
#include <iostream>
#include <string>

#include "common/messages.h"

namespace {

constexpr const char* kUsage =
    "Usage: tessera-admin [--yes] [--trace-sql] [--tsv] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  messages      print the message table, one message per line\n"
    "  --help        show this help\n"
    "  --version     show the version\n";

// One line per message: number, tab, text. Line breaks are written as \n and \r so that every
// message stays on its line; other characters, backslashes included, are written as they are.
int PrintMessages(std::ostream& out) {
  for (const common::MessageEntry& entry : common::AllMessages()) {
    std::string line = std::to_string(entry.number);
    line += '\t';
    for (char c : entry.text) {
      if (c == '\n') {
        line += "\\n";
      } else if (c == '\r') {
        line += "\\r";
      } else {
        line += c;
      }
    }
    line += '\n';
    out << line;
  }
  out.flush();
  return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::cout << kUsage;
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << "tessera-admin 0.1.0\n";
    return 0;
  }
  if (std::strcmp(argv[1], "messages") == 0) {
    if (argc > 2) {
      std::cerr << "tessera-admin: 'messages' takes no arguments\n";
      return 2;
    }
    return PrintMessages(std::cout);
  }
  std::cerr << "tessera-admin: unknown command '" << argv[1] << "'\n" << kUsage;
  return 2;
}
