// What the engine's SQLite functions share: reading arguments, giving results, and turning a
// SqlError into the encoded SQLite error the executor reads back.
#pragma once

#include <sqlite3.h>

#include <string>

#include "common/value.h"
#include "sandbox/functions.h"
#include "sandbox/sql_error.h"

namespace sandbox {

common::Value FunctionArg(sqlite3_value* v);
// The argument as UTF-8 text (empty for NULL).
std::string FunctionTextArg(sqlite3_value* v);
void FunctionResult(sqlite3_context* ctx, const common::Value& value);
// Whether one of the first count arguments is NULL.
bool AnyNullArg(int argc, sqlite3_value** argv, int count);

// Runs a function body, turning exceptions into SQLite errors the executor can decode.
template <typename F>
void GuardFunction(sqlite3_context* ctx, F body) {
  try {
    body();
  } catch (const SqlError& e) {
    std::string text = EncodeFunctionError(e);
    sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

}  // namespace sandbox
