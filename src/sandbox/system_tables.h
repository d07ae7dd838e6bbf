// SQL Server's system tables (sysobjects, sysusers, master..sysdatabases, ...) as read-only
// sub-selects over the catalogue, so queries written for SQL Server read them as they are.
#pragma once

#include <optional>
#include <string_view>

#include "sandbox/translator.h"

namespace sandbox {

class Executor;
struct AttachedDatabase;

std::optional<ResolvedTable> SystemTable(Executor& executor, AttachedDatabase& db,
                                         std::string_view name);

// INFORMATION_SCHEMA.name of the database (information_schema.cc); nullopt for other names.
std::optional<ResolvedTable> InformationSchemaView(Executor& executor, AttachedDatabase& db,
                                                   std::string_view name);

}  // namespace sandbox
