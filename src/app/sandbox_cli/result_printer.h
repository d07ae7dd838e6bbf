// What the sql command shows of a batch's results, the way sqlcmd shows them: each row set as a
// table (headers, a line of dashes, the rows padded to their column's width), row counts as
// "(N rows affected)", informational messages as their text and errors in the "Msg" form on
// the error stream.
#pragma once

#include <functional>
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
// The same in its column: decimal, numeric and money show all the places of their scale.
std::string DisplayValue(const common::Value& value, const db::ColumnInfo& column);
// Characters on a terminal (UTF-8 sequences count once).
size_t DisplayWidth(std::string_view text);
// "Msg 208, Level 16, State 1, Line 1" with ", Procedure NAME" before the line where the error
// came from a procedure, then a line with the text.
std::string ErrorText(const db::ServerMessage& message);

// A row set is shown as it arrives: the first rows (up to kWidthRows) are held to find the
// columns' widths, then everything streams, so a result of any size is shown in little memory.
class ResultPrinter {
 public:
  static constexpr size_t kWidthRows = 1000;

  ResultPrinter(std::ostream& out, std::ostream& err, TableOptions options)
      : out_(out), err_(err), options_(std::move(options)) {}

  void Print(const db::ResultEvent& event);
  // Writes a row set that the stream left open (a request that failed half-way).
  void Finish();
  // Whether an error (severity above 10) has been shown since the printer was made.
  bool had_error() const { return had_error_; }

 private:
  // Writes the headers and the rows held so far; later rows are written as they come.
  void StartTable();
  void WriteRow(const std::vector<std::string>& row);
  void WriteLine(const std::function<std::string(size_t)>& cell,
                 const std::function<bool(size_t)>& right_aligned);
  // Ends the row set that is being shown.
  void WriteTable();

  std::ostream& out_;
  std::ostream& err_;
  TableOptions options_;
  bool in_row_set_ = false;
  bool after_row_set_ = false;  // the last thing written was a table
  std::vector<db::ColumnInfo> columns_;
  std::vector<std::vector<std::string>> rows_;  // held until the widths are known
  std::vector<size_t> widths_;
  bool streaming_ = false;  // the headers are out, rows are written as they come
  bool had_error_ = false;
};

}  // namespace sandbox_cli
