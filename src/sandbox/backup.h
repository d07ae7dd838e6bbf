// BACKUP DATABASE / BACKUP LOG to backup files on the machine's drives, RESTORE DATABASE,
// RESTORE FILELISTONLY and RESTORE HEADERONLY from them, and the DBCC commands beyond
// SHRINKFILE (CHECKDB, SQLPERF, OPENTRAN, INPUTBUFFER).
//
// A backup file is an SQLite file of its own: one row per backup set (what RESTORE HEADERONLY
// lists), one per database file in a set (RESTORE FILELISTONLY), and the files' bytes in chunks.
// INIT starts the file again, NOINIT appends a set, as a SQL Server media family does.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "sandbox/sql_error.h"
#include "sandbox/tsql/ast.h"

namespace sandbox {

class Executor;

// BACKUP DATABASE | LOG ... TO DISK = '...' (the log truncation without a device stays in
// RunBackup).
void RunBackupToDevice(Executor& executor, const tsql::BackupStatement& statement);
// RESTORE DATABASE, RESTORE FILELISTONLY, RESTORE HEADERONLY.
void RunRestore(Executor& executor, const tsql::RestoreStatement& statement);
// DBCC CHECKDB, SQLPERF(LOGSPACE), OPENTRAN, INPUTBUFFER; SHRINKFILE stays in RunDbcc.
// Returns false for commands it does not know.
bool RunDbccCommand(Executor& executor, const tsql::DbccStatement& statement);

}  // namespace sandbox
