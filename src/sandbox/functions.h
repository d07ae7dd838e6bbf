// The collation, LIKE and the Transact-SQL functions the engine's translated SQL calls, as
// SQLite functions on each connection.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "sandbox/languages.h"
#include "sandbox/sql_error.h"

namespace sandbox {

// What the session-dependent functions ask the session: system functions such as OBJECT_ID
// or IS_MEMBER, and the next identity value of the table being inserted into.
class FunctionHost {
 public:
  virtual ~FunctionHost() = default;
  // name is upper-case ("OBJECT_ID"); throws SqlError.
  virtual common::Value SystemFunction(std::string_view name,
                                       const std::vector<common::Value>& args) = 0;
  virtual std::int64_t NextIdentity(int slot) = 0;
  // RAND: the next value of the session's sequence, which a seed starts anew.
  virtual double Random(std::optional<std::int64_t> seed) = 0;
  // The session's SET LANGUAGE, DATEFORMAT and DATEFIRST.
  virtual DateSettings Dates() const { return {}; }
};

// Registers everything on a connection; host may be null for connections without a session.
void RegisterFunctions(sqlite3* db, FunctionHost* host);

// Errors raised inside SQLite functions travel as an encoded message; this turns them back.
// Returns false when the text is an ordinary SQLite message.
bool DecodeFunctionError(std::string_view text, SqlError* out);
std::string EncodeFunctionError(const SqlError& error);

// Date arithmetic on storage texts, shared with the interpreter.
std::optional<std::int64_t> DatePart(std::string_view part, const common::DateTime& d,
                                     int datefirst = 7);
// DATENAME: month and weekday names in the language, other parts as numbers.
std::optional<std::string> DateName(std::string_view part, const common::DateTime& d,
                                    const DateSettings& dates);
std::optional<common::DateTime> DateAdd(std::string_view part, std::int64_t amount,
                                        const common::DateTime& d);
std::optional<std::int64_t> DateDiff(std::string_view part, const common::DateTime& a,
                                     const common::DateTime& b);

}  // namespace sandbox
