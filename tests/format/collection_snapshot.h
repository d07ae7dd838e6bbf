// What a collection holds, read back in a form two collections can be compared in: its objects,
// columns, indexes and rights, and the rows of its tables.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/connection.h"
#include "format/sandbox_collection.h"

namespace format::testing {

struct SchemaSnapshot {
  std::set<std::string> objects;  // "name type"
  // Per table, view or procedure: "name type(length) null|not null" in column order.
  std::map<std::string, std::vector<std::string>> columns;
  std::set<std::string> indexes;  // "table.index"
  std::set<std::string> grants;   // "object role action"; the object is empty for statements
};

SchemaSnapshot ReadSchema(db::Connection& collection);

// Per table, its rows in key order. Extended fields and values are keyed by the field's type and
// name rather than its number, which depends on the order fields were defined in.
using DataSnapshot = std::map<std::string, Rows>;

struct DataOptions {
  // Document columns left out (the text storage the plain-text generation changes).
  std::set<std::string> skip_document_columns{};
  // When not empty, the only Document and Folder columns read, in this order.
  std::vector<std::string> document_columns{};
  std::vector<std::string> folder_columns{};
  // Extended fields (by name) whose values and definitions are left out.
  std::set<std::string> skip_fields{};
};

DataSnapshot ReadData(db::Connection& collection, const DataOptions& options = {});

// The same schema with the columns of every table in name order: where a rung appends a column,
// a new collection has it in its place.
SchemaSnapshot WithTableColumnsSorted(SchemaSnapshot schema);

// Every difference between two snapshots, one line each; empty when they are equal.
std::vector<std::string> Differences(const SchemaSnapshot& a, const SchemaSnapshot& b);
std::vector<std::string> Differences(const DataSnapshot& a, const DataSnapshot& b);

}  // namespace format::testing
