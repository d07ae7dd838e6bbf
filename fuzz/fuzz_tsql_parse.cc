// Transact-SQL from any client: lexing and parsing never crash, and a parsed expression prints
// to text that parses to the same expression again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sandbox/tsql/parser.h"
#include "sandbox/tsql/printer.h"

namespace {

void Require(bool condition, const char* what, const std::string& detail) {
  if (condition) return;
  std::fprintf(stderr, "%s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sandbox::tsql;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    ParseBatch(text);
  } catch (const ParseError&) {
  }
  ExprPtr expr;
  try {
    expr = ParseExpression(text);
  } catch (const ParseError&) {
    return 0;
  }
  if (!expr) return 0;
  const std::string printed = ToSql(*expr);
  ExprPtr again;
  try {
    again = ParseExpression(printed);
  } catch (const ParseError& error) {
    Require(false, "the printed expression does not parse", printed + "\n" + error.message());
  }
  Require(again != nullptr, "the printed expression parses to nothing", printed);
  Require(ToSql(*again) == printed, "the printed expression parses to another expression",
          printed + "\n" + ToSql(*again));
  return 0;
}
