// The scalar built-in functions that translate to one SQLite function each: one entry per
// function, with its argument counts, what its arguments are converted to, its result type and
// the SQLite function that computes it. Adding a function is adding an entry.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "sandbox/functions.h"
#include "sandbox/translator.h"

namespace sandbox {

struct BuiltinFunction {
  const char* name;  // the Transact-SQL name, upper case
  int min_args;
  int max_args;
  // What each argument is converted to before the call, one letter per argument (the last
  // repeats): 'f' a number (text becomes float), 'i' a number (text becomes int), 't' text,
  // 'a' as it is.
  const char* arguments;
  SqlType (*result)(const std::vector<TypedSql>& args);
  void (*compute)(sqlite3_context*, int, sqlite3_value**);
  bool deterministic = true;
  bool never_null = false;
  bool star = false;  // f(*): every column of the FROM sources
  // The result type's length (-1 for the max types) goes in as a last argument, for functions
  // that make texts as long as their type allows.
  bool result_length = false;
  int since = 7;  // the first major version that has it
};

// The entry of an upper-case name, nullptr for names the table does not have.
const BuiltinFunction* FindBuiltinFunction(std::string_view name);
// The SQLite function an entry is registered as.
std::string BuiltinSqlName(const BuiltinFunction& function);
// Registers every entry on a connection; host may be null for connections without a session.
void RegisterBuiltinFunctions(sqlite3* db, FunctionHost* host);

// The four-character code SOUNDEX gives a text, and DIFFERENCE's 0-4 likeness of two texts.
std::string Soundex(std::string_view text);
int SoundexDifference(std::string_view a, std::string_view b);
// STR(value, length, decimals); nullopt where SQL Server gives NULL.
std::optional<std::string> StrFunction(double value, std::int64_t length, std::int64_t decimals);
// QUOTENAME(text, quote); nullopt where SQL Server gives NULL.
std::optional<std::string> QuoteName(std::string_view text, std::string_view quote);

}  // namespace sandbox
