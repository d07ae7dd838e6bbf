// Entry point of the Transact-SQL front end: a batch of text in, a syntax tree out, or a
// ParseError with the number and text SQL Server gives for the same mistake.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/messages.h"
#include "sandbox/tsql/ast.h"
#include "sandbox/tsql/limits.h"

namespace sandbox::tsql {

// A syntax error as SQL Server reports it: native number (102, 156, 105, ...), severity 15,
// state 1, the message text and the batch line it was found on.
class ParseError : public std::runtime_error {
 public:
  ParseError(std::int32_t number, std::string message, int line, int severity = 15, int state = 1)
      : std::runtime_error(message),
        number_(number),
        severity_(severity),
        state_(state),
        line_(line),
        message_(std::move(message)) {}

  std::int32_t number() const { return number_; }
  int severity() const { return severity_; }
  int state() const { return state_; }
  int line() const { return line_; }
  const std::string& message() const { return message_; }

 private:
  std::int32_t number_;
  int severity_;
  int state_;
  int line_;
  std::string message_;
};

// The parser's error number N, worded and graded as the server's message table has it.
template <std::int32_t N, typename... Args>
ParseError MessageError(int line, const Args&... args) {
  return ParseError(N, errors::Text<N>(args...), line, kMessages[MessageIndex(N)].severity);
}

struct ParseOptions {
  // SET QUOTED_IDENTIFIER of the session: ON reads "x" as a name, OFF as a character string.
  // A SET QUOTED_IDENTIFIER statement inside the batch changes it from there on, as on SQL Server.
  bool quoted_identifier = true;
  // How deeply expressions, subqueries and statement blocks may nest before error 191.
  int max_nesting = kMaxNesting;
  // The server's major version: syntax a later version brought is a syntax error before it.
  int major_version = 8;
};

// Parses one batch (no GO separators: a batch separator belongs to client tools). Throws
// ParseError.
Batch ParseBatch(std::string_view text, const ParseOptions& options = {});

// A single expression, e.g. a column default kept in the catalogue as text. Throws ParseError.
ExprPtr ParseExpression(std::string_view text, const ParseOptions& options = {});

// A declared parameter list as sp_executesql takes it: "@a int, @b nvarchar(10) OUTPUT"; empty
// text declares none. Throws ParseError.
std::vector<ProcedureParameter> ParseParameterList(std::string_view text,
                                                   const ParseOptions& options = {});

}  // namespace sandbox::tsql
