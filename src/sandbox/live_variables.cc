#include "sandbox/live_variables.h"

#include <string>

#include "sandbox/translator.h"

namespace sandbox {
namespace {

// The pointer's type tag: SQL text cannot forge a pointer bound under it.
constexpr const char* kVariablePointer = "tessera.variable";

// The variable's value as BindValue would have bound it.
void CurrentValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* slot =
      static_cast<const VariableSlot*>(sqlite3_value_pointer(argv[0], kVariablePointer));
  if (!slot) return sqlite3_result_error(ctx, "tsql_variable: no variable bound", -1);
  const common::Value& value = slot->value;
  switch (value.type()) {
    case common::Value::Type::kNull:
      return sqlite3_result_null(ctx);
    case common::Value::Type::kBool:
      return sqlite3_result_int64(ctx, *value.ToBool() ? 1 : 0);
    case common::Value::Type::kInt:
      return sqlite3_result_int64(ctx, *value.ToInt());
    case common::Value::Type::kDouble:
      return sqlite3_result_double(ctx, *value.ToDouble());
    case common::Value::Type::kText: {
      const std::string& text = *value.AsText();
      return sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    case common::Value::Type::kBinary: {
      const common::Bytes& bytes = *value.AsBytes();
      return sqlite3_result_blob64(ctx, bytes.empty() ? "" : (const void*)bytes.data(),
                                   bytes.size(), SQLITE_TRANSIENT);
    }
    case common::Value::Type::kDateTime:
    case common::Value::Type::kGuid: {
      std::string text = value.ToText();
      return sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
  }
}

}  // namespace

void LiveVariables::Bind(sqlite3_stmt* stmt) const {
  const int count = sqlite3_bind_parameter_count(stmt);
  for (const auto& [n, slot] : bound_)
    if (n <= count)
      sqlite3_bind_pointer(stmt, n, const_cast<VariableSlot*>(slot), kVariablePointer, nullptr);
}

void RegisterVariableFunctions(sqlite3* db) {
  // Not deterministic: SQLite must call it again for every row, never once for the statement.
  sqlite3_create_function_v2(db, "tsql_variable", 1, SQLITE_UTF8, nullptr, CurrentValue, nullptr,
                             nullptr, nullptr);
}

}  // namespace sandbox
