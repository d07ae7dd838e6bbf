// FreeTDS tells no column's table (SQL Server sends that only in browse mode), yet the client
// cursor needs it to update a row. A query over one table names it, so the driver reads it
// there and asks the server which result columns belong to that table.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace db {

// The table of "SELECT ... FROM table [WHERE|ORDER BY|GROUP BY|HAVING ...]", as written;
// std::nullopt for joins, several tables, sub-queries in FROM, unions and other batches.
std::optional<std::string> SingleSourceTable(std::string_view batch);

// "name", "owner.name" or "database.owner.name", brackets and double quotes taken off, as the
// parts of a name sp_pkeys takes; std::nullopt for text that is no such name.
struct TableNameParts {
  std::string owner;  // empty when not given
  std::string name;
};
std::optional<TableNameParts> SplitTableName(std::string_view text);

}  // namespace db
