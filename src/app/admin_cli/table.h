// Results of tessera-admin: aligned tables for people, tab-separated values for scripts.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace admin_cli {

struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;

  void AddRow(std::vector<std::string> row) { rows.push_back(std::move(row)); }
};

// A value made fit for one cell: tabs and line breaks become blanks, other control characters
// (escape sequences among them) "?", so neither a terminal nor a script reading lines can be
// misled by what a server sent.
std::string CellText(std::string_view value);

// Characters on a terminal: UTF-8 sequences count once.
size_t DisplayWidth(std::string_view text);

// Aligned: a header line, a line of dashes, then the rows, columns two blanks apart, padded to
// the widest cell, no blanks at a line's end. TSV: the header line, then the rows, cells joined
// by tabs. Rows shorter than the header are filled with empty cells.
void PrintTable(std::ostream& out, const Table& table, bool tsv);

}  // namespace admin_cli
