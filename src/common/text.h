// Small text helpers shared by the console, the wizards and plain-text generation.
#pragma once

#include <string>
#include <string_view>

namespace common {

// The count printf passes to ReplaceText for "every occurrence".
inline constexpr int kReplaceAll = 2147483647;

// Replaces occurrences of `search` left to right, starting at the 1-based position `start`, at
// most `max_count` times (a negative count also means all). Text before `start` is kept. With
// `ignore_case` the comparison ignores the case of A-Z while the result keeps the input's letters.
// An empty `search` returns the text unchanged.
std::string ReplaceText(std::string_view text, std::string_view search,
                        std::string_view replacement, int start = 1, int max_count = kReplaceAll,
                        bool ignore_case = false);

// Replaces each of \ / : * ? < > | and the double quote by one blank; nothing else changes.
std::string MakeValidFileName(std::string_view name);

// True when every character is A-Z, a-z, 0-9 or "_" (the empty text included).
bool IsValidName(std::string_view text);

}  // namespace common
