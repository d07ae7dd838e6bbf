// Databases as the server keeps them: options and states (sysdatabases.status and status2),
// who may enter a database, renaming, the files with their sizes, BACKUP LOG and
// DBCC SHRINKFILE, and DATABASEPROPERTY / DATABASEPROPERTYEX.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "sandbox/instance.h"
#include "sandbox/sql_error.h"
#include "sandbox/tsql/ast.h"

namespace sandbox {

class Executor;
class SessionImpl;

// sysdatabases.status, with SQL Server 2000's numbers.
namespace dbstatus {
inline constexpr std::uint32_t kAutoClose = 1;
inline constexpr std::uint32_t kSelectInto = 4;
inline constexpr std::uint32_t kTruncLog = 8;
inline constexpr std::uint32_t kTornPage = 16;
inline constexpr std::uint32_t kOffline = 512;
inline constexpr std::uint32_t kReadOnly = 1024;
inline constexpr std::uint32_t kDboOnly = 2048;
inline constexpr std::uint32_t kSingleUser = 4096;
inline constexpr std::uint32_t kAutoShrink = 4194304;
// The states that need the database to themselves while they change.
inline constexpr std::uint32_t kExclusiveStates = kOffline | kReadOnly | kSingleUser;
}  // namespace dbstatus

// sysdatabases.status2. SQL Server keeps the statistics and a few SQL options elsewhere; the
// sandbox keeps them in bits status2 leaves unused.
namespace dbstatus2 {
inline constexpr std::uint32_t kAutoCreateStatistics = 1;
inline constexpr std::uint32_t kAutoUpdateStatistics = 2;
inline constexpr std::uint32_t kAnsiPadding = 4;
inline constexpr std::uint32_t kArithAbort = 8;
inline constexpr std::uint32_t kNumericRoundAbort = 16;
inline constexpr std::uint32_t kDbChaining = 32;
inline constexpr std::uint32_t kAnsiNullDefault = 16384;
inline constexpr std::uint32_t kConcatNullYieldsNull = 65536;
inline constexpr std::uint32_t kRecursiveTriggers = 131072;
inline constexpr std::uint32_t kLocalCursor = 1048576;
inline constexpr std::uint32_t kQuotedIdentifier = 8388608;
inline constexpr std::uint32_t kCursorCloseOnCommit = 33554432;
inline constexpr std::uint32_t kAnsiNulls = 67108864;
inline constexpr std::uint32_t kAnsiWarnings = 268435456;
inline constexpr std::uint32_t kFullTextEnabled = 536870912;
}  // namespace dbstatus2

// A new user database starts with these, as model has them after a SQL Server set-up.
inline constexpr std::uint32_t kNewDatabaseStatus = dbstatus::kTornPage;
inline constexpr std::uint32_t kNewDatabaseStatus2 =
    dbstatus2::kAutoCreateStatistics | dbstatus2::kAutoUpdateStatistics;

// An option as sp_dboption names it and ALTER DATABASE ... SET sets it.
struct DatabaseOptionEntry {
  const char* dboption;  // "single user"
  const char* alter;     // "SINGLE_USER", or the option word of ON / OFF options
  bool second_word;      // status2
  std::uint32_t bit;
};
const std::vector<DatabaseOptionEntry>& DatabaseOptionTable();

// One file of a database, with its sizes in 8 KB pages as sysfiles reports them.
struct DatabaseFileState {
  int fileid = 0;
  std::string name;
  std::string filename;  // machine path
  bool log = false;
  std::int64_t size_pages = 0;
  std::int64_t max_pages = -1;  // -1: unlimited
  std::int64_t growth = 10;     // pages, or per cent when growth_percent
  bool growth_percent = true;
};
// Reads the files from the database's own catalogue. Empty when the file cannot be read.
std::vector<DatabaseFileState> ReadDatabaseFiles(const InstanceImpl& instance,
                                                 const DatabaseRecord& record);
// sysfiles of one database (with_dbid false) or sysaltfiles of several, as an SQLite query
// of literal rows.
std::string FilesTableSql(const InstanceImpl& instance,
                          const std::vector<DatabaseRecord>& databases, bool with_dbid);
// Bytes of a size as CREATE DATABASE writes it ("10MB", "512KB", "10" in MB); nullopt when the
// text is no size.
std::optional<std::int64_t> ParseFileSize(std::string_view text);

// A collation name as CREATE / ALTER DATABASE ... COLLATE take it; error 448 for names that are
// none (the sandbox compares text one way whatever the name says).
std::string CheckedCollation(std::string_view name);

// Whether a session may make the database its current one (USE, the initial catalog of a
// connection): error 942 for an offline database, 924 for a single-user database somebody else
// uses. spid is the entering session, 0 before it has one.
std::optional<SqlError> CheckDatabaseEntry(InstanceImpl& instance, const DatabaseRecord& record,
                                           int spid);
// Error 3906 for a change to a read-only database; action as CheckPermission takes it.
void CheckWritable(InstanceImpl& instance, int dbid, std::string_view action);

// ALTER DATABASE ... SET, and sp_dboption through it. termination is "ROLLBACK IMMEDIATE",
// "ROLLBACK AFTER n", "NO_WAIT" or empty.
void SetDatabaseOptions(Executor& executor, const DatabaseRecord& record,
                        const std::vector<tsql::DatabaseOption>& options,
                        std::string_view termination);
// Writes new options and states after checking the caller may (5011) and, for the states that
// need it, that nobody else uses the database (5070) or ending those sessions when termination
// says ROLLBACK.
void ApplyDatabaseStatus(Executor& executor, const DatabaseRecord& record, std::uint32_t status,
                         std::uint32_t status2, std::string_view termination);
// sp_renamedb and ALTER DATABASE ... MODIFY NAME: refused (5030) while another session uses the
// database.
void RenameDatabaseChecked(Executor& executor, const DatabaseRecord& record,
                           std::string_view new_name);
// Whether the session may change the database's options: sysadmin, dbcreator or its owner.
bool MayAlterDatabase(SessionImpl& session, const DatabaseRecord& record);

// DATABASEPROPERTY (ex false) and DATABASEPROPERTYEX (ex true); null for unknown databases and
// properties.
common::Value DatabaseProperty(SessionImpl& session, std::string_view database,
                               std::string_view property, bool ex);

// Brings master's copy of the database's files and collation up to date after a statement of
// the session changed them; inside a transaction the copy is dropped instead (a rollback would
// leave it wrong), and the database's own file is read from then on.
void FilesChanged(SessionImpl& session, int dbid);

// ALTER DATABASE ... MODIFY FILE with a SIZE: a file only grows (5039 otherwise), and a log
// file grows on disk at once. Unknown files are left to the caller.
void ResizeDatabaseFile(Executor& executor, int dbid, const tsql::DatabaseFile& file);

// Whether the session is sysadmin, the database's owner or a member of its db_owner role.
bool IsDatabaseOwner(SessionImpl& session, const DatabaseRecord& record);

// BACKUP LOG ... WITH TRUNCATE_ONLY | NO_LOG; backups to a device go to RunBackupToDevice.
void RunBackup(Executor& executor, const tsql::BackupStatement& statement);
// DBCC SHRINKFILE (name | fileid [, target MB]).
void RunDbcc(Executor& executor, const tsql::DbccStatement& statement);
// CHECKPOINT in the current database: with "trunc. log on chkpt." the log is emptied, with
// autoshrink a log with more than a quarter unused is shrunk (SQL Server does both in the
// background; the sandbox does them when asked to checkpoint).
void RunCheckpoint(Executor& executor);

// The status text sp_helpdb shows for a database.
std::string DatabaseStatusText(const DatabaseRecord& record, std::string_view collation,
                               bool version7);

}  // namespace sandbox
