// How deep and how long a statement may be. The parser refuses anything beyond these with error
// 191, and every walk over the syntax tree (translation, interpretation, printing, destruction)
// handles left-deep operator chains in loops and recurses only once per nesting level, so these
// two numbers bound the stack any walk needs, however long the statement. At the nesting bound the
// hungriest walk, the translator, takes about 35 KB a level in an unoptimised build with address
// and undefined-behaviour checks (gcc -fstack-usage): some 4.5 MB, inside the 8 MB a client thread
// gets by default.
#pragma once

#include "sandbox/messages.h"

namespace sandbox::tsql {

// Parentheses, subqueries, CASE, function calls, unary operators, table sources and statement
// blocks nested inside one another.
inline constexpr int kMaxNesting = 128;

// Operators in the chains of one statement (a + b + c ..., a AND b AND ..., UNION, JOIN, COLLATE).
// SQL Server itself gives up on a few thousand terms of one expression.
inline constexpr int kMaxChain = 4096;

// SQL Server's error 191: its parser reports with this one message every statement whose tree is
// too deep for it, whether from nesting or from long chains, so the sandbox does the same wherever
// a walk meets its bound (8621 and 8631 are optimiser-internal messages of later versions).
inline constexpr int kTooDeepNumber = 191;
inline constexpr const char* kTooDeepText = kMessages[MessageIndex(kTooDeepNumber)].text.data();

// Counts the nesting of one recursive walk: construct one per recursive step over a shared
// counter and ask TooDeep().
class NestingGuard {
 public:
  explicit NestingGuard(int& depth) : depth_(depth) { ++depth_; }
  ~NestingGuard() { --depth_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  bool TooDeep() const { return depth_ > kMaxNesting; }

 private:
  int& depth_;
};

}  // namespace sandbox::tsql
