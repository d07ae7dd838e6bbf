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

}  // namespace db
