// CHECK and FOREIGN KEY constraints are objects of their own (sysobjects 'C' and 'F') whose
// parent is the table they guard. What the objects row has no column for is kept in the
// object's spare fields: flags in storage_name, the key columns as its columns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sandbox/catalog.h"
#include "sandbox/tsql/ast.h"

namespace sandbox {

struct ConstraintDetails {
  bool column_level = false;  // written with a column: 547 names "COLUMN ..." and the column
  bool enabled = true;        // ALTER TABLE ... NOCHECK CONSTRAINT turns it off
  bool cascade_delete = false;
  bool cascade_update = false;
  std::int64_t referenced = 0;           // FOREIGN KEY: the referenced table's id
  std::vector<std::string> columns;      // FOREIGN KEY: referencing columns; CHECK: its column
  std::vector<std::string> ref_columns;  // FOREIGN KEY: the referenced key, in the same order
};

ConstraintDetails ReadConstraint(const ObjectInfo& object);
// Writes details into the object (storage_name and columns); table gives the column types.
void WriteConstraint(const ConstraintDetails& details, const ObjectInfo& table, ObjectInfo& object);

// The CHECK constraints of a table variable's definition, as objects kept with the variable.
std::vector<ObjectInfo> TableVariableChecks(const ObjectInfo& table,
                                            const tsql::TableDefinition& definition);

// The CHECK or FOREIGN KEY constraint that uses a column of the table, empty for none.
std::string ConstraintUsing(const Catalog& catalog, std::int64_t table_id,
                            const std::string& column);

}  // namespace sandbox
