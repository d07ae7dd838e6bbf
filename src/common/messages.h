// The numbered message table and the filling of its "[*]" placeholders.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"

namespace common {

struct MessageEntry {
  int number;
  std::string_view text;  // UTF-8; line breaks are single line-feed characters
};

// Number of the error raised for a message number that is not in the table (the resource
// loader's "resource not found").
inline constexpr std::int32_t kErrMessageNotFound = 326;

// Every message, in ascending number order.
std::span<const MessageEntry> AllMessages();

bool HasMessage(int number);

// The text of a message exactly as in the table. Throws common::Error (kErrMessageNotFound,
// source "LoadMessage") for a number that is not in the table.
std::string LoadMessage(int number);

// Loads a message and fills its placeholders with `values` in order (see printf).
std::string FormatMessage(int number, const std::vector<Value>& values);

}  // namespace common
