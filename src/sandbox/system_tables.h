// SQL Server's system tables (sysobjects, sysusers, master..sysdatabases, ...) as read-only
// sub-selects over the catalogue, so queries written for SQL Server read them as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "sandbox/translator.h"

namespace sandbox {

class Executor;
struct AttachedDatabase;

// A system table or view: its row in sysobjects and how it is read.
struct SystemTableEntry {
  enum class Scope {
    kEveryDatabase,
    kMaster,
    kServer,  // master's, and read from every database as well
  };
  const char* name;
  int id;
  const char* type;  // sysobjects.type: "S " table, "V " view
  Scope scope;
  ResolvedTable (*build)(Executor& executor, AttachedDatabase& db, const char* name);
  // Whether the database's sysobjects lists it (dbid 1 is master).
  constexpr bool Listed(int dbid) const { return scope == Scope::kEveryDatabase || dbid == 1; }
};

std::span<const SystemTableEntry> SystemTables();
// The system table of that name or id the database lists, or null.
const SystemTableEntry* FindSystemTable(std::string_view name, int dbid);
const SystemTableEntry* FindSystemTable(std::int64_t id, int dbid);

std::optional<ResolvedTable> SystemTable(Executor& executor, AttachedDatabase& db,
                                         std::string_view name);

// INFORMATION_SCHEMA.name of the database (information_schema.cc); nullopt for other names.
std::optional<ResolvedTable> InformationSchemaView(Executor& executor, AttachedDatabase& db,
                                                   std::string_view name);

}  // namespace sandbox
