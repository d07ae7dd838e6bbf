// What the sql command shows of a batch's results, the way sqlcmd shows them: each row set as a
// table (headers, a line of dashes, the rows padded to their column's width), row counts as
// "(N rows affected)", informational messages as their text and errors in the "Msg" form on
// the error stream.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"

namespace sandbox_cli {

struct TableOptions {
  std::string separator = " ";  // between columns
  bool headers = true;          // the header and dash lines
  bool trim = false;            // no padding: values as they are, for scripts
};

// A value as the table shows it: "NULL", bits as 1 and 0, dates with milliseconds, binary as
// 0x and hex digits, GUIDs without braces.
std::string DisplayValue(const common::Value& value);
// Characters on a terminal (UTF-8 sequences count once).
size_t DisplayWidth(std::string_view text);
// "Msg 208, Level 16, State 1, Line 1" with ", Procedure NAME" before the line where the error
// came from a procedure, then a line with the text.
std::string ErrorText(const db::ServerMessage& message);

class ResultPrinter {
 public:
  ResultPrinter(std::ostream& out, std::ostream& err, TableOptions options)
      : out_(out), err_(err), options_(std::move(options)) {}

  void Print(const db::ResultEvent& event);
  // Writes a row set that the stream left open (a request that failed half-way).
  void Finish();
  // Whether an error (severity above 10) has been shown since the printer was made.
  bool had_error() const { return had_error_; }

 private:
  void WriteTable();

  std::ostream& out_;
  std::ostream& err_;
  TableOptions options_;
  bool in_row_set_ = false;
  bool after_row_set_ = false;  // the last thing written was a table
  std::vector<db::ColumnInfo> columns_;
  std::vector<std::vector<std::string>> rows_;
  bool had_error_ = false;
};

}  // namespace sandbox_cli
