// tessera-admin: administration of network collections from the command line.
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: tessera-admin [--yes] [--trace-sql] [--tsv] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  messages      print the message table, one message per line\n"
    "  --help        show this help\n"
    "  --version     show the version\n";

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
  std::cerr << "tessera-admin: unknown command '" << argv[1] << "'\n" << kUsage;
  return 2;
}
