// Shorthands for the result sets that system procedures and views describe column by column.
#pragma once

#include <string>
#include <string_view>

#include "common/value.h"
#include "sandbox/translator.h"
#include "sandbox/types.h"

namespace sandbox {

inline OutputColumn Col(const char* name, SqlType type, bool nullable = true) {
  OutputColumn c;
  c.name = name;
  c.type = type;
  c.nullable = nullable;
  return c;
}

inline SqlType Sysname() { return SqlType::NVarChar(128); }
inline SqlType SmallInt() { return SqlType{TypeKind::kSmallInt}; }
inline SqlType TinyInt() { return SqlType{TypeKind::kTinyInt}; }

inline common::Value Text(std::string_view text) { return common::Value(std::string(text)); }
inline common::Value Int(long long v) { return common::Value(v); }

}  // namespace sandbox
