#include "app/sandbox_cli/result_printer.h"

#include <algorithm>
#include <cstdio>

namespace sandbox_cli {

namespace {

using Type = common::Value::Type;

bool RightAligned(const db::ColumnInfo& column) {
  return column.value_type == Type::kInt || column.value_type == Type::kDouble ||
         column.value_type == Type::kBool;
}

void Pad(std::string& line, size_t count) { line.append(count, ' '); }

}  // namespace

std::string DisplayValue(const common::Value& value) {
  switch (value.type()) {
    case Type::kNull:
      return "NULL";
    case Type::kBool:
      return *value.ToBool() ? "1" : "0";
    case Type::kDateTime: {
      const common::DateTime& d = *value.AsDateTime();
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month,
                    d.day, d.hour, d.minute, d.second, d.millisecond);
      return buffer;
    }
    case Type::kBinary: {
      static const char* kHex = "0123456789ABCDEF";
      std::string text = "0x";
      for (std::uint8_t byte : *value.AsBytes()) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
      }
      return text;
    }
    case Type::kGuid: {
      std::string text = value.ToText();
      return text.size() > 2 ? text.substr(1, text.size() - 2) : text;
    }
    default:
      return value.ToText();
  }
}

std::string DisplayValue(const common::Value& value, const db::ColumnInfo& column) {
  if (value.type() == Type::kDouble && column.scale > 0) {
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", std::min(column.scale, 38), *value.ToDouble());
    return buffer;
  }
  return DisplayValue(value);
}

size_t DisplayWidth(std::string_view text) {
  size_t width = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string ErrorText(const db::ServerMessage& message) {
  std::string text = "Msg " + std::to_string(message.number) + ", Level " +
                     std::to_string(message.severity) + ", State " + std::to_string(message.state);
  if (!message.procedure.empty()) text += ", Procedure " + message.procedure;
  text += ", Line " + std::to_string(std::max(message.line, 1));
  text += "\n" + message.text;
  return text;
}

void ResultPrinter::Print(const db::ResultEvent& event) {
  using Kind = db::ResultEvent::Kind;
  switch (event.kind) {
    case Kind::kBeginRowSet:
      if (in_row_set_) WriteTable();
      if (after_row_set_) out_ << "\n";
      after_row_set_ = false;
      in_row_set_ = true;
      columns_ = event.columns;
      rows_.clear();
      break;
    case Kind::kRow: {
      std::vector<std::string> row;
      row.reserve(event.row.size());
      for (size_t i = 0; i < event.row.size(); ++i)
        row.push_back(i < columns_.size() ? DisplayValue(event.row[i], columns_[i])
                                          : DisplayValue(event.row[i]));
      if (streaming_) {
        WriteRow(row);
        break;
      }
      rows_.push_back(std::move(row));
      // Widths come from the rows held so far; the rest of a long result streams through.
      if (rows_.size() >= kWidthRows) StartTable();
      break;
    }
    case Kind::kEndRowSet:
      if (in_row_set_) WriteTable();
      break;
    case Kind::kDone:
      if (in_row_set_) WriteTable();
      // One empty line follows a table, and one comes before every count.
      if (event.rows_affected >= 0) {
        out_ << "\n(" << event.rows_affected << " rows affected)\n";
      } else if (after_row_set_) {
        out_ << "\n";
      }
      after_row_set_ = false;
      break;
    case Kind::kMessage:
      if (in_row_set_) WriteTable();
      if (after_row_set_) out_ << "\n";
      after_row_set_ = false;
      if (event.message.IsError()) {
        had_error_ = true;
        // The two streams may go to one terminal: what came before the error shows before it.
        out_.flush();
        err_ << ErrorText(event.message) << "\n";
        err_.flush();
      } else {
        out_ << event.message.text << "\n";
      }
      break;
  }
}

void ResultPrinter::Finish() {
  if (in_row_set_) WriteTable();
  if (after_row_set_) out_ << "\n";
  after_row_set_ = false;
  out_.flush();
}

void ResultPrinter::StartTable() {
  const size_t count = columns_.size();
  widths_.assign(count, 0);
  for (size_t i = 0; i < count; ++i) {
    widths_[i] = std::max<size_t>(1, DisplayWidth(columns_[i].name));
    for (const auto& row : rows_) {
      if (i < row.size()) widths_[i] = std::max(widths_[i], DisplayWidth(row[i]));
    }
  }
  if (options_.headers) {
    WriteLine([&](size_t i) { return columns_[i].name; }, [](size_t) { return false; });
    WriteLine(
        [&](size_t i) {
          size_t width =
              options_.trim ? std::max<size_t>(1, DisplayWidth(columns_[i].name)) : widths_[i];
          return std::string(width, '-');
        },
        [](size_t) { return false; });
  }
  for (const auto& row : rows_) WriteRow(row);
  rows_.clear();
  rows_.shrink_to_fit();
  streaming_ = true;
}

void ResultPrinter::WriteRow(const std::vector<std::string>& row) {
  WriteLine([&](size_t i) { return i < row.size() ? row[i] : std::string(); },
            [&](size_t i) { return RightAligned(columns_[i]); });
}

// Padding to the column's width; the last column is not padded on the right, so lines end with
// their text. A value wider than its column (after the rows that set the widths) widens its line.
void ResultPrinter::WriteLine(const std::function<std::string(size_t)>& cell,
                              const std::function<bool(size_t)>& right_aligned) {
  std::string line;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) line += options_.separator;
    std::string text = cell(i);
    size_t fill = options_.trim ? 0 : widths_[i] - std::min(widths_[i], DisplayWidth(text));
    if (right_aligned(i)) {
      Pad(line, fill);
      line += text;
    } else {
      line += text;
      if (i + 1 < columns_.size()) Pad(line, fill);
    }
  }
  out_ << line << "\n";
}

void ResultPrinter::WriteTable() {
  if (!streaming_) StartTable();
  in_row_set_ = false;
  after_row_set_ = true;
  streaming_ = false;
}

}  // namespace sandbox_cli
