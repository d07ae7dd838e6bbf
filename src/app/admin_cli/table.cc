#include "app/admin_cli/table.h"

#include <algorithm>

namespace admin_cli {

std::string CellText(std::string_view value) {
  std::string cell;
  cell.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    auto c = static_cast<unsigned char>(value[i]);
    if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
    if (c == '\t' || c == '\n' || c == '\r') {
      cell += ' ';
    } else if (c < 0x20 || c == 0x7F) {
      cell += '?';
    } else {
      cell += static_cast<char>(c);
    }
  }
  return cell;
}

size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (char c : text) {
    // Continuation bytes of a UTF-8 sequence add nothing.
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

void PrintTable(std::ostream& out, const Table& table, bool tsv) {
  const size_t count = table.columns.size();
  std::vector<std::vector<std::string>> lines;
  lines.reserve(table.rows.size() + 1);
  lines.push_back({});
  for (const std::string& column : table.columns) lines.back().push_back(CellText(column));
  for (const auto& row : table.rows) {
    std::vector<std::string> cells;
    for (size_t i = 0; i < std::max(count, row.size()); ++i) {
      cells.push_back(i < row.size() ? CellText(row[i]) : std::string());
    }
    lines.push_back(std::move(cells));
  }

  if (tsv) {
    for (const auto& cells : lines) {
      std::string line;
      for (size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) line += '\t';
        line += cells[i];
      }
      out << line << '\n';
    }
    out.flush();
    return;
  }

  std::vector<size_t> widths;
  for (const auto& cells : lines) {
    if (widths.size() < cells.size()) widths.resize(cells.size(), 0);
    for (size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max(widths[i], DisplayWidth(cells[i]));
    }
  }
  auto write = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) line += "  ";
      line += cells[i];
      if (i + 1 < cells.size()) line.append(widths[i] - DisplayWidth(cells[i]), ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  write(lines[0]);
  std::vector<std::string> dashes;
  for (size_t i = 0; i < widths.size(); ++i) dashes.push_back(std::string(widths[i], '-'));
  write(dashes);
  for (size_t i = 1; i < lines.size(); ++i) write(lines[i]);
  out.flush();
}

}  // namespace admin_cli
