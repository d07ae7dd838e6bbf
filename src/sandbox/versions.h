// What the instance's product version changes: the compatibility level of its databases and
// what a later version no longer has, refused with the error that version gives.
#pragma once

#include <string_view>

#include "sandbox/server.h"
#include "sandbox/types.h"

namespace sandbox {

namespace tsql {
struct BackupStatement;
}

// 7 for "7.00.1063", 15 for "15.00.2000"; 8 when the text starts with no number.
int MajorVersionOf(const InstanceConfig& config);

// The level a new database gets: 70, 80, 90, 100 (also 10.50), 110, ..., 150.
int DefaultCompatibilityLevel(const InstanceConfig& config);

// The first major version without the system procedure (name in lower case), 0 while every
// version has it. There a call fails as for any unknown procedure.
int ProcedureRemovedIn(std::string_view lower_name);

// The first major version with the built-in function (upper-case name); 7 for names every
// version has and for names no version has. Before it the name is an unknown function (195).
int FunctionAddedIn(std::string_view upper_name);

// The first major version with the system type; before it the type's name is unknown.
int TypeAddedIn(TypeKind kind);

// BACKUP LOG ... WITH TRUNCATE_ONLY / NO_LOG is gone from 10.0 on: a syntax error there.
void RefuseRemovedBackupOptions(const InstanceConfig& config, const tsql::BackupStatement& s);

}  // namespace sandbox
