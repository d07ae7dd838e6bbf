#include "format/collection_snapshot.h"

#include <algorithm>

namespace format::testing {
namespace {

// Enough to see what went wrong; a wholesale difference would flood the output.
constexpr std::size_t kMaxListed = 8;

std::string Shown(const common::Value& value) {
  std::string shown = value.IsNull() ? "NULL" : value.ToText();
  if (shown.size() > 60) shown = shown.substr(0, 57) + "...";
  return shown;
}

std::string Describe(const Row& row) {
  std::string text;
  for (const common::Value& value : row) {
    if (!text.empty()) text += " | ";
    text += Shown(value);
  }
  return text;
}

// Rows of the same width by the columns that differ, each with its position; others whole.
std::string RowDifference(const Row* a, const Row* b) {
  if (a && b && a->size() == b->size() && !a->empty()) {
    std::string text = "key " + Shown((*a)[0]);
    for (std::size_t i = 1; i < a->size(); ++i) {
      if ((*a)[i] == (*b)[i]) continue;
      text += ", column " + std::to_string(i + 1) + ": " + Shown((*a)[i]) + " against " +
              Shown((*b)[i]);
    }
    return text;
  }
  return (a ? Describe(*a) : "(none)") + " against " + (b ? Describe(*b) : "(none)");
}

template <typename Set>
void SetDifferences(const std::string& what, const Set& a, const Set& b,
                    std::vector<std::string>& out) {
  for (const auto& item : a) {
    if (!b.count(item)) out.push_back(what + " only in the first: " + item);
  }
  for (const auto& item : b) {
    if (!a.count(item)) out.push_back(what + " only in the second: " + item);
  }
}

}  // namespace

SchemaSnapshot ReadSchema(db::Connection& collection) {
  SchemaSnapshot schema;
  for (const Row& row : Query(collection, "SELECT name, RTRIM(type) FROM sysobjects")) {
    schema.objects.insert(row[0].ToText() + " " + row[1].ToText());
  }
  for (const Row& row : Query(collection,
                              "SELECT o.name, c.name, c.typename, CASE WHEN c.typename IN "
                              "('char', 'varchar', 'nchar', 'nvarchar', 'binary', 'varbinary') "
                              "THEN c.prec ELSE 0 END, c.isnullable FROM syscolumns c INNER JOIN "
                              "sysobjects o ON o.id = c.id ORDER BY o.name, c.colid")) {
    std::string type = row[2].ToText();
    if (row[3].ToInt().value_or(0) > 0) type += "(" + row[3].ToText() + ")";
    schema.columns[row[0].ToText()].push_back(row[1].ToText() + " " + type +
                                              (row[4].ToInt() == 1 ? " null" : " not null"));
  }
  for (const Row& row : Query(collection,
                              "SELECT o.name, i.name FROM sysindexes i INNER JOIN sysobjects o "
                              "ON o.id = i.id")) {
    schema.indexes.insert(row[0].ToText() + "." + row[1].ToText());
  }
  for (const Row& row : Query(collection,
                              "SELECT o.name, u.name, p.action, p.protecttype FROM sysprotects p "
                              "INNER JOIN sysusers u ON u.uid = p.uid LEFT JOIN sysobjects o ON "
                              "o.id = p.id")) {
    schema.grants.insert(row[0].ToText() + " " + row[1].ToText() + " " + row[2].ToText() + " " +
                         row[3].ToText());
  }
  return schema;
}

DataSnapshot ReadData(db::Connection& collection, const DataOptions& options) {
  DataSnapshot data;
  std::string document_columns;
  for (const Row& row : Query(collection,
                              "SELECT c.name FROM syscolumns c INNER JOIN sysobjects o ON o.id = "
                              "c.id WHERE o.name = 'Document' ORDER BY c.colid")) {
    const std::string name = row[0].ToText();
    if (options.skip_document_columns.count(name)) continue;
    if (!document_columns.empty()) document_columns += ", ";
    document_columns += name;
  }
  auto listed = [](const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return list;
  };
  if (!options.document_columns.empty()) document_columns = listed(options.document_columns);
  const std::string folder_columns =
      options.folder_columns.empty() ? std::string("*") : listed(options.folder_columns);
  data["Document"] =
      Query(collection, "SELECT " + document_columns + " FROM Document ORDER BY EntryID");
  data["Folder"] = Query(collection, "SELECT " + folder_columns + " FROM Folder ORDER BY FolderID");
  data["SubFolder"] =
      Query(collection, "SELECT * FROM SubFolder ORDER BY ParentFolderID, ChildFolderID");
  data["SubDocument"] =
      Query(collection, "SELECT * FROM SubDocument ORDER BY ParentEntryID, ChildEntryID");
  data["DocLink"] = Query(collection, "SELECT * FROM DocLink ORDER BY FolderID, EntryID");
  data["Category"] = Query(collection, "SELECT * FROM Category ORDER BY CategoryID");
  data["SubCategory"] =
      Query(collection, "SELECT * FROM SubCategory ORDER BY ParentCategoryID, ChildCategoryID");
  data["DocCategory"] = Query(collection, "SELECT * FROM DocCategory ORDER BY EntryID, CategoryID");
  data["BlackList"] = Query(collection, "SELECT * FROM BlackList ORDER BY Url");

  auto skipped = [&](const common::Value& name) {
    return options.skip_fields.count(name.ToText()) > 0;
  };
  for (Row& row : Query(collection,
                        "SELECT FieldType, FieldName, Visible, UserProperty FROM ExtendedField "
                        "ORDER BY FieldType, FieldName")) {
    if (!skipped(row[1])) data["ExtendedField"].push_back(std::move(row));
  }
  for (Row& row : Query(collection,
                        "SELECT d.EntryID, f.FieldType, f.FieldName, d.FieldValue FROM "
                        "ExtendedData d INNER JOIN ExtendedField f ON f.ExtFieldID = d.ExtFieldID "
                        "ORDER BY d.EntryID, f.FieldType, f.FieldName")) {
    if (!skipped(row[2])) data["ExtendedData"].push_back(std::move(row));
  }
  return data;
}

SchemaSnapshot WithTableColumnsSorted(SchemaSnapshot schema) {
  for (auto& [object, columns] : schema.columns) {
    if (schema.objects.count(object + " U")) std::sort(columns.begin(), columns.end());
  }
  return schema;
}

std::vector<std::string> Differences(const SchemaSnapshot& a, const SchemaSnapshot& b) {
  std::vector<std::string> out;
  SetDifferences("object", a.objects, b.objects, out);
  SetDifferences("index", a.indexes, b.indexes, out);
  SetDifferences("right", a.grants, b.grants, out);
  for (const auto& [object, columns] : a.columns) {
    auto other = b.columns.find(object);
    if (other == b.columns.end()) continue;  // reported as an object
    if (columns == other->second) continue;
    std::string first, second;
    for (const std::string& c : columns) first += (first.empty() ? "" : ", ") + c;
    for (const std::string& c : other->second) second += (second.empty() ? "" : ", ") + c;
    out.push_back("columns of " + object + ": [" + first + "] against [" + second + "]");
  }
  return out;
}

std::vector<std::string> Differences(const DataSnapshot& a, const DataSnapshot& b) {
  std::vector<std::string> out;
  for (const auto& [table, rows] : a) {
    auto other = b.find(table);
    const Rows empty;
    const Rows& second = other == b.end() ? empty : other->second;
    const std::size_t n = std::max(rows.size(), second.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (i < rows.size() && i < second.size() && rows[i] == second[i]) continue;
      if (out.size() == kMaxListed) {
        out.push_back("...");
        return out;
      }
      out.push_back(table + " row " + std::to_string(i + 1) + ": " +
                    RowDifference(i < rows.size() ? &rows[i] : nullptr,
                                  i < second.size() ? &second[i] : nullptr));
    }
  }
  return out;
}

}  // namespace format::testing
