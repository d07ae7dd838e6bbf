// The server's messages, one entry per number, as sysmessages lists them, and the one way the
// engine raises them: errors::Raise<number>(arguments...). A message's text holds %s (a text
// argument), %d (a whole-number argument) and %% (a percent sign); the compiler checks that each
// Raise passes as many arguments, of the kinds, as its message's text has placeholders.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "sandbox/sql_error.h"

namespace sandbox {

struct MessageEntry {
  std::int32_t number;
  int severity;
  std::string_view text;
  // How far the failure reaches; a throw site may narrow or widen it.
  ErrorScope scope = ErrorScope::kStatement;
  // False for the sandbox's own and the extended procedures' messages, which a server's
  // sysmessages does not hold.
  bool server = true;
};

// Numbers ascending. 40000 and up are the sandbox's own.
// clang-format off
inline constexpr MessageEntry kMessages[] = {
    {102, 15, "Incorrect syntax near '%s'."},
    {103, 15, "The identifier that starts with '%s' is too long. Maximum length is 128.", ErrorScope::kBatch},
    {105, 15, "Unclosed quotation mark before the character string '%s'."},
    {107, 16, "The column prefix '%s' does not match with a table name or alias name used in the query.", ErrorScope::kBatch},
    {108, 15, "The ORDER BY position number %d is out of range of the number of items in the select list."},
    {109, 15, "There are more columns in the INSERT statement than values specified in the VALUES clause. The number of values in the VALUES clause must match the number of columns specified in the INSERT statement."},
    {110, 15, "There are fewer columns in the INSERT statement than values specified in the VALUES clause. The number of values in the VALUES clause must match the number of columns specified in the INSERT statement."},
    {111, 15, "'%s' must be the first statement in a query batch."},
    {113, 15, "Missing end comment mark '*/'."},
    {116, 16, "Only one expression can be specified in the select list when the subquery is not introduced with EXISTS.", ErrorScope::kBatch},
    {119, 15, "Must pass parameter number %d and subsequent parameters as '@name = value'. After the form '@name = value' has been used, all subsequent parameters must be passed in the form '@name = value'."},
    {120, 15, "The select list for the INSERT statement contains fewer items than the insert list. The number of SELECT values must match the number of INSERT columns."},
    {121, 15, "The select list for the INSERT statement contains more items than the insert list. The number of SELECT values must match the number of INSERT columns."},
    {131, 15, "The size (%d) given to the type '%s' exceeds the maximum allowed for any data type (8000).", ErrorScope::kBatch},
    {134, 15, "The variable name '%s' has already been declared. Variable names must be unique within a query batch or stored procedure."},
    {137, 15, "Must declare the variable '%s'.", ErrorScope::kBatch},
    {141, 15, "A SELECT statement that assigns a value to a variable must not be combined with data-retrieval operations.", ErrorScope::kBatch},
    {148, 15, "Incorrect time syntax in time string '%s' used with WAITFOR."},
    {154, 15, "a USE database statement is not allowed in a procedure or trigger."},
    {155, 15, "'%s' is not a recognized %s option."},
    {156, 15, "Incorrect syntax near the keyword '%s'.", ErrorScope::kBatch},
    {166, 15, "'%s' does not allow specifying the database name as a prefix to the object name.", ErrorScope::kBatch},
    {170, 15, "Line %d: Incorrect syntax near '%s'."},
    {174, 15, "The %s function requires %d arguments.", ErrorScope::kBatch},
    {179, 15, "Cannot use the OUTPUT option when passing a constant to a stored procedure.", ErrorScope::kBatch},
    {189, 15, "The %s function requires %d to %d arguments.", ErrorScope::kBatch},
    {191, 15, "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up into smaller queries.", ErrorScope::kBatch},
    {193, 15, "The object or column name starting with '%s' is too long. The maximum length is %d characters.", ErrorScope::kBatch},
    {195, 15, "'%s' is not a recognized %s."},
    {197, 15, "EXECUTE cannot be used as a source when inserting into a table variable."},
    {201, 16, "Procedure '%s' expects parameter '%s', which was not supplied."},
    {205, 16, "All queries in an SQL statement containing a UNION operator must have an equal number of expressions in their target lists."},
    {207, 16, "Invalid column name '%s'.", ErrorScope::kBatch},
    {208, 16, "Invalid object name '%s'.", ErrorScope::kBatch},
    {209, 16, "Ambiguous column name '%s'.", ErrorScope::kBatch},
    {213, 16, "Insert Error: Column name or number of supplied values does not match table definition."},
    {217, 16, "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit 32).", ErrorScope::kTransaction},
    {220, 16, "Arithmetic overflow error for data type %s, value = %s."},
    {226, 16, "%s statement not allowed within multi-statement transaction."},
    {229, 14, "%s permission denied on object '%s', database '%s', owner '%s'."},
    {241, 16, "Syntax error converting datetime from character string.", ErrorScope::kTransaction},
    {243, 16, "Type %s is not a defined system type.", ErrorScope::kBatch},
    {245, 16, "Syntax error converting the varchar value '%s' to a column of data type %s.", ErrorScope::kTransaction},
    {259, 16, "Ad hoc updates to system catalogs are not enabled. The system administrator must reconfigure SQL Server to allow this."},
    {262, 14, "%s permission denied in database '%s'."},
    {263, 16, "Must specify table to select from.", ErrorScope::kBatch},
    {264, 16, "Column name '%s' appears more than once in the result column list."},
    {266, 16, "Transaction count after EXECUTE indicates that a COMMIT or ROLLBACK TRANSACTION statement is missing. Previous count = %d, current count = %d."},
    {281, 16, "%d is not a valid style number when converting from %s to a character string."},
    {286, 16, "The logical tables INSERTED and DELETED cannot be updated."},
    {301, 16, "Query contains an outer-join request that is not permitted.", ErrorScope::kBatch},
    {313, 16, "An insufficient number of arguments were supplied for the procedure or function %s."},
    {409, 16, "The %s aggregate operation cannot take a %s data type as an argument."},
    {443, 16, "Invalid use of '%s' within a function.", ErrorScope::kBatch},
    {444, 16, "Select statements included within a function cannot return data to a client.", ErrorScope::kBatch},
    {448, 16, "Invalid collation '%s'."},
    {455, 16, "The last statement included within a function must be a return statement.", ErrorScope::kBatch},
    {512, 16, "Subquery returned more than 1 value. This is not permitted when the subquery follows =, !=, <, <= , >, >= or when the subquery is used as an expression."},
    {515, 16, "Cannot insert the value NULL into column '%s', table '%s'; column does not allow nulls. %s fails."},
    {536, 16, "Invalid length parameter passed to the %s function."},
    {544, 16, "Cannot insert explicit value for identity column in table '%s' when IDENTITY_INSERT is set to OFF."},
    {545, 16, "Explicit value must be specified for identity column in table '%s' either when IDENTITY_INSERT is set to ON or when a replication user is inserting into a NOT FOR REPLICATION identity column."},
    {547, 16, "%s statement conflicted with %s constraint '%s'. The conflict occurred in database '%s', table '%s'%s."},
    {628, 16, "Cannot issue SAVE TRANSACTION when there is no active transaction."},
    {911, 16, "Could not locate entry in sysdatabases for database '%s'. No entry found with that name. Make sure that the name is entered correctly."},
    {916, 14, "Server user '%s' is not a valid user in database '%s'."},
    {924, 14, "Database '%s' is already open and can only have one user at a time."},
    {942, 14, "Database '%s' cannot be opened because it is offline."},
    {945, 14, "Database '%s' cannot be opened because some of the files could not be activated."},
    {1023, 15, "Invalid parameter %d specified for %s.", ErrorScope::kBatch},
    {1033, 15, "The ORDER BY clause is invalid in views, inline functions, derived tables, and subqueries, unless TOP is also specified."},
    {1038, 15, "Cannot use empty object or column names. Use a single space if necessary."},
    {1048, 15, "Conflicting cursor options %s and %s."},
    {1050, 15, "This syntax is only allowed for parameterized queries."},
    {1205, 13, "Transaction (Process ID %d) was deadlocked on lock resources with another process and has been chosen as the deadlock victim. Rerun the transaction.", ErrorScope::kTransaction},
    {1222, 16, "Lock request time out period exceeded."},
    {1505, 16, "CREATE UNIQUE INDEX terminated because a duplicate key was found for index ID %d. Most significant primary key is '%s'."},
    {1750, 16, "Could not create constraint. See previous errors."},
    {1763, 16, "Cross-database foreign key references are not supported. Foreign key '%s'."},
    {1767, 16, "Foreign key '%s' references invalid table '%s'."},
    {1769, 16, "Foreign key '%s' references invalid column '%s' in referencing table '%s'."},
    {1770, 16, "Foreign key '%s' references invalid column '%s' in referenced table '%s'."},
    {1776, 16, "There are no primary or candidate keys in the referenced table '%s' that match the referencing column list in the foreign key '%s'."},
    {1778, 16, "Column '%s.%s' is not the same data type as referencing column '%s.%s' in foreign key '%s'."},
    {1779, 16, "Table '%s' already has a primary key defined on it."},
    {1781, 16, "Column already has a DEFAULT bound to it."},
    {1785, 16, "Introducing FOREIGN KEY constraint '%s' on table '%s' may cause cycles or multiple cascade paths. Specify ON DELETE NO ACTION or ON UPDATE NO ACTION, or modify other FOREIGN KEY constraints."},
    {1801, 16, "Database '%s' already exists."},
    {1802, 16, "CREATE DATABASE failed. Some file names listed could not be created. Check previous errors."},
    {1813, 16, "Could not open new database '%s'. CREATE DATABASE is aborted."},
    {1834, 16, "The file '%s' cannot be overwritten.  It is being used by database '%s'."},
    {1902, 16, "Cannot create more than one clustered index on table '%s'. Drop the existing clustered index '%s' before creating another."},
    {1911, 16, "Column name '%s' does not exist in the target table."},
    {1913, 16, "There is already an index on table '%s' named '%s'."},
    {1919, 16, "Column '%s' in table '%s' is of a type that is invalid for use as a key column in an index."},
    {1939, 16, "Cannot create index on view '%s' because the view is not schema bound."},
    {2111, 16, "Cannot %s trigger '%s' on table '%s' because an INSTEAD OF %s trigger already exists on this object."},
    {2528, 10, "DBCC execution completed. If DBCC printed error messages, contact your system administrator."},
    {2536, 10, "DBCC results for '%s'."},
    {2560, 16, "Parameter %d is incorrect for this DBCC statement."},
    {2571, 14, "User '%s' does not have permission to run DBCC %s."},
    {2593, 10, "There are %s rows in %s pages for object '%s'."},
    {2601, 14, "Cannot insert duplicate key row in object '%s' with unique index '%s'."},
    {2627, 14, "Violation of %s constraint '%s'. Cannot insert duplicate key in object '%s'."},
    {2705, 16, "Column names in each table must be unique. Column name '%s' in table '%s' is specified more than once."},
    {2714, 16, "There is already an object named '%s' in the database."},
    {2715, 16, "Column or parameter #%d: Cannot find data type %s."},
    {2717, 16, "The size (%d) given to the parameter '%s' exceeds the maximum allowed (4000).", ErrorScope::kBatch},
    {2740, 16, "SET LANGUAGE failed because '%s' is not an official language name or a language alias on this SQL Server."},
    {2741, 16, "SET DATEFORMAT date order '%s' is invalid."},
    {2742, 16, "SET DATEFIRST %d is out of range."},
    {2744, 16, "Multiple identity columns specified for table '%s'. Only one identity column per table is allowed."},
    {2748, 16, "Cannot specify the identity increment as 0."},
    {2749, 16, "Identity column '%s' must be of data type int, bigint, smallint, tinyint, or decimal or numeric with a scale of 0, and constrained to be nonnullable."},
    {2754, 16, "Error severity levels greater than 18 can only be specified by members of the sysadmin role, using the WITH LOG option."},
    {2758, 16, "RAISERROR could not locate entry for error %d in sysmessages."},
    {2760, 16, "Specified owner name '%s' either does not exist or you do not have permission to use it."},
    {2812, 16, "Could not find stored procedure '%s'."},
    {3013, 16, "%s is terminating abnormally."},
    {3014, 10, "%s successfully processed %s pages in %s seconds (%s MB/sec)."},
    {3021, 16, "Cannot perform a backup or restore operation within a transaction."},
    {3101, 16, "Exclusive access could not be obtained because the database is in use."},
    {3108, 16, "RESTORE DATABASE must be used in single user mode when trying to restore the master database."},
    {3110, 14, "User does not have permission to RESTORE database '%s'."},
    {3135, 16, "The backup set in file '%s' was created by %s and cannot be used for this restore operation."},
    {3147, 16, "Backup and restore operations are not allowed on database tempdb."},
    {3154, 16, "The backup set holds a backup of a database other than the existing '%s' database."},
    {3156, 16, "File '%s' cannot be restored to '%s'. Use WITH MOVE to identify a valid location for the file."},
    {3201, 16, "Cannot open backup device '%s'. Device error or device off-line. See the SQL Server error log for more details."},
    {3206, 16, "No entry in sysdevices for backup device '%s'. Update sysdevices and rerun statement."},
    {3211, 10, "%s percent %s."},
    {3234, 16, "Logical file '%s' is not part of database '%s'. Use RESTORE FILELISTONLY to list the logical file names."},
    {3241, 16, "The media family on device '%s' is incorrectly formed. SQL Server cannot process this media family."},
    {3609, 16, "The transaction ended in the trigger. The batch has been aborted.", ErrorScope::kTransaction},
    {3621, 0, "The statement has been terminated."},
    {3623, 16, "A domain error occurred."},
    {3701, 11, "Cannot %s the %s '%s', because it does not exist in the system catalog."},
    {3702, 16, "Cannot drop the database '%s' because it is currently in use."},
    {3703, 16, "Cannot %s the database '%s' because it is currently in use."},
    {3704, 16, "User does not have permission to perform this operation on %s '%s'."},
    {3705, 16, "Cannot use DROP %s with '%s' because '%s' is a %s. Use DROP %s."},
    {3708, 16, "Cannot %s the database '%s' because it is a system database."},
    {3723, 16, "An explicit DROP INDEX is not allowed on index '%s'. It is being used for %s constraint enforcement."},
    {3725, 16, "The constraint '%s' is being referenced by %s."},
    {3726, 16, "Could not drop object '%s' because it is referenced by a FOREIGN KEY constraint."},
    {3727, 16, "Could not drop constraint. See previous errors."},
    {3728, 16, "'%s' is not a constraint."},
    {3902, 16, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {3903, 16, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {3906, 16, "Could not run BEGIN TRANSACTION in database '%s' because the database is read-only."},
    {4035, 10, "Processed %s pages for database '%s', file '%s' on file %s."},
    {4038, 16, "Cannot find file ID %s on device '%s'."},
    {4103, 16, "\"%s\": Temporary views are not allowed."},
    {4104, 16, "The multi-part identifier '%s' could not be bound."},
    {4145, 15, "An expression of non-boolean type specified in a context where a condition is expected, near '%s'."},
    {4147, 15, "The query uses non-ANSI outer join operators (\"*=\" or \"=*\"). To run this query without modification, please set the compatibility level for current database to 80%s It is strongly recommended to rewrite the query using ANSI outer join operators (LEFT OUTER JOIN, RIGHT OUTER JOIN). In the future versions of SQL Server, non-ANSI join operators will not be supported even in backward-compatibility modes.", ErrorScope::kBatch},
    {4208, 16, "The statement BACKUP LOG is not allowed while the recovery model is SIMPLE. Use BACKUP DATABASE or change the recovery model using ALTER DATABASE."},
    {4214, 16, "BACKUP LOG cannot be performed because there is no current database backup."},
    {4406, 16, "Update or insert of view or function '%s' failed because it contains a derived or constant field."},
    {4506, 16, "Column names in each view or function must be unique. Column name '%s' in view or function '%s' is specified more than once."},
    {4508, 16, "Views or functions are not allowed on temporary tables or on tables of other databases."},
    {4511, 16, "Create View or Function failed because no column name was specified for column %d."},
    {4604, 16, "There is no such user or group '%s'."},
    {4606, 16, "Granted or revoked privilege %s is not compatible with object."},
    {4613, 16, "Grantor does not have GRANT permission."},
    {4708, 16, "Could not truncate object '%s' because it is not a table."},
    {4712, 16, "Cannot truncate table '%s' because it is being referenced by a FOREIGN KEY constraint."},
    {4901, 16, "ALTER TABLE only allows columns to be added that can contain nulls or have a DEFAULT definition specified. Column '%s' cannot be added to table '%s' because it does not allow nulls and does not specify a DEFAULT definition."},
    {4902, 16, "Cannot alter '%s' because it is not a table."},
    {4917, 16, "Constraint '%s' does not exist."},
    {4920, 16, "ALTER TABLE failed because trigger '%s' does not belong to table '%s'."},
    {4922, 16, "ALTER TABLE %s %s failed because one or more objects access this column."},
    {4923, 16, "ALTER TABLE DROP COLUMN failed because '%s' is the only data column in table '%s'. A table must have at least one data column."},
    {4924, 16, "ALTER TABLE DROP COLUMN failed because column '%s' does not exist in table '%s'."},
    {4928, 16, "Cannot alter column '%s' because it is '%s'."},
    {5011, 14, "User does not have permission to alter database '%s'."},
    {5030, 16, "The database could not be exclusively locked to perform the operation."},
    {5039, 16, "MODIFY FILE failed. Specified size is less than current size."},
    {5041, 16, "MODIFY FILE failed. File '%s' does not exist."},
    {5058, 16, "Option cannot be set in database '%s'."},
    {5060, 0, "Nonqualified transactions are being rolled back. Estimated rollback completion: 100%%."},
    {5069, 16, "ALTER DATABASE statement failed."},
    {5070, 16, "Database state cannot be changed while other users are using the database '%s'"},
    {5072, 0, "The database name '%s' has been set."},
    {5074, 16, "The object '%s' is dependent on column '%s'."},
    {5105, 16, "Device activation error. The physical file name '%s' may be incorrect."},
    {5120, 16, "Unable to open the physical file \"%s\". Operating system error %d: \"%s\"."},
    {5123, 16, "CREATE FILE encountered operating system error %s while attempting to open or create the physical file '%s'."},
    {5170, 16, "Cannot create file '%s' because it already exists."},
    {5172, 16, "The header for file '%s' is not a valid database file header."},
    {5701, 10, "Changed database context to '%s'."},
    {5703, 10, "Changed language setting to %s."},
    {6102, 14, "User does not have permission to use the KILL statement."},
    {6104, 16, "Cannot use KILL to kill your own process."},
    {6106, 16, "Process ID %d is not an active process ID."},
    {6107, 14, "Only user processes can be killed."},
    {6112, 16, "Process ID must be a number."},
    {7601, 16, "Cannot use a CONTAINS or FREETEXT predicate on %s '%s' because it is not full-text indexed."},
    {7609, 17, "Full-Text Search is not installed, or a full-text component cannot be loaded."},
    {7610, 16, "Access is denied to '%s', or the path is invalid."},
    {7613, 16, "Cannot drop index '%s' because it enforces the full-text key for table '%s'."},
    {7614, 16, "Cannot alter or drop column '%s' because it is enabled for Full-Text Search."},
    {7615, 16, "A CONTAINS or FREETEXT predicate can only operate on one table. Qualify the use of * with a table name."},
    {7616, 16, "Full-Text Search is not enabled for the current database. Use sp_fulltext_database to enable full-text search for the database."},
    {7630, 15, "Syntax error near '%s' in the full-text search condition '%s'."},
    {7638, 10, "Warning: Request to stop change tracking has deleted all changes tracked on table '%s'."},
    {7641, 16, "Full-text catalog '%s' does not exist."},
    {7642, 16, "A full-text catalog named '%s' already exists in this database. Use a different name."},
    {7645, 16, "Null or empty full-text predicate."},
    {7646, 16, "Fulltext predicate references columns from two different tables '%s' and '%s' which is not allowed."},
    {7652, 16, "A full-text index for table '%s' has already been created."},
    {7653, 16, "'%s' is not a valid index to enforce a full-text search key. You must specify a unique, non-nullable, single-column index."},
    {7658, 16, "Table or indexed view '%s' does not have a full-text index or user does not have permission to perform this action."},
    {7659, 16, "Cannot activate full-text search for table '%s' because no columns have been enabled for full-text search."},
    {7660, 16, "Full-text search must be activated on table '%s' before this operation can be performed."},
    {7664, 16, "Full-text change tracking must be started on table '%s' before the changes can be flushed."},
    {7668, 16, "Cannot drop full-text catalog '%s' because it contains a full-text index."},
    {7670, 16, "Column '%s' cannot be used for full-text search because it is not a character-based column."},
    {7677, 16, "Column \"%s\" is not full-text indexed."},
    {7955, 16, "Invalid SPID %d specified."},
    {7969, 10, "No active open transactions."},
    {7997, 16, "'%s' does not contain an identity column."},
    {7998, 10, "Checking identity information: current identity value '%s', current column value '%s'."},
    {8101, 16, "An explicit value for the identity column in table '%s' can only be specified when a column list is used and IDENTITY_INSERT is ON."},
    {8102, 16, "Cannot update identity column '%s'."},
    {8106, 16, "Table '%s' does not have the identity property. Cannot perform SET operation."},
    {8107, 16, "IDENTITY_INSERT is already ON for table '%s'. Cannot perform SET operation for table '%s'."},
    {8110, 16, "Cannot add multiple PRIMARY KEY constraints to table '%s'."},
    {8111, 16, "Cannot define PRIMARY KEY constraint on nullable column in table '%s'."},
    {8115, 16, "Arithmetic overflow error converting %s to data type %s."},
    {8134, 16, "Divide by zero error encountered."},
    {8139, 16, "Number of referencing columns in foreign key differs from number of referenced columns, table '%s'."},
    {8143, 16, "Parameter '%s' was supplied multiple times."},
    {8144, 16, "Procedure or function %s has too many arguments specified."},
    {8145, 16, "%s is not a parameter for procedure %s."},
    {8152, 16, "String or binary data would be truncated."},
    {8155, 16, "No column was specified for column %d of '%s'."},
    {8158, 16, "'%s' has more columns than were specified in the column list."},
    {8169, 16, "Syntax error converting from a character string to uniqueidentifier.", ErrorScope::kTransaction},
    {8178, 16, "The parameterized query '(%s)%s' expects the parameter '%s', which was not supplied."},
    {8179, 16, "Could not find prepared statement with handle %d."},
    {8624, 16, "Internal SQL Server error: the text of '%s' is no %s."},
    {8939, 16, "Table error: Object ID %d, index ID %d, page %s. Test (%s) failed. Values are %d and %d."},
    {8958, 10, "%s is the minimum repair level for the errors found by DBCC CHECKDB (%s )."},
    {8985, 16, "Could not locate file '%s' in sysfiles."},
    {8989, 10, "CHECKDB found %s allocation errors and %s consistency errors in database '%s'."},
    {9966, 16, "Cannot use full-text search in master, tempdb, or model database."},
    {15002, 16, "The procedure '%s' cannot be executed within a transaction."},
    {15004, 16, "Name cannot be NULL."},
    {15006, 16, "'%s' is not a valid name because it contains invalid characters."},
    {15007, 16, "The login '%s' does not exist."},
    {15008, 16, "User '%s' does not exist in the current database."},
    {15009, 16, "The object '%s' does not exist in database '%s'."},
    {15010, 16, "The database '%s' does not exist. Use sp_helpdb to show available databases."},
    {15011, 16, "Database option '%s' does not exist. Specify a valid option name."},
    {15014, 16, "The role '%s' does not exist in the current database."},
    {15023, 16, "User or role '%s' already exists in the current database."},
    {15025, 16, "The login '%s' already exists."},
    {15046, 16, "The filegroup '%s' does not exist in this database."},
    {15048, 10, "Valid values of database compatibility level are %s."},
    {15054, 10, "The current compatibility level is %d."},
    {15062, 16, "The guest user cannot be mapped to a login name."},
    {15063, 16, "The login already has an account under a different user name."},
    {15065, 16, "All user IDs have been assigned."},
    {15081, 16, "Membership of the public role cannot be changed."},
    {15109, 16, "Cannot change the owner of the master database."},
    {15110, 16, "The proposed new database owner is already a user in the database."},
    {15123, 16, "The configuration option '%s' does not exist, or it may be an advanced option."},
    {15129, 16, "'%d' is not a valid value for configuration option '%s'."},
    {15142, 16, "Cannot drop the role '%s'."},
    {15143, 16, "'%s' is not a valid option for the @updateusage parameter. Enter either 'true' or 'false'."},
    {15144, 16, "The role has members. It must be empty before it can be dropped."},
    {15156, 16, "The password that you specified is too long. The password should have no more than 128 characters."},
    {15175, 16, "Login '%s' is aliased or mapped to a user in one or more database(s). Drop the user or alias before dropping the login."},
    {15181, 16, "Cannot drop the database owner."},
    {15182, 16, "Cannot disable access to the guest user in master or tempdb."},
    {15183, 16, "The %s owns objects in the database and cannot be dropped."},
    {15197, 16, "There is no text for object '%s'."},
    {15198, 16, "The name supplied (%s) is not a user, role, or aliased login."},
    {15211, 16, "Old (current) password incorrect for user. The password was not changed."},
    {15218, 16, "Object '%s' is not a table."},
    {15223, 11, "Error: The input parameter '%s' is not allowed to be null."},
    {15234, 16, "Object does not exist or is not a valid object type."},
    {15241, 16, "Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]"},
    {15242, 16, "Database option '%s' is not unique."},
    {15247, 16, "User does not have permission to perform this action."},
    {15248, 11, "Either the parameter @objname is ambiguous or the claimed @objtype (%s) is wrong."},
    {15249, 11, "Error: Explicit @objtype '%s' is unrecognized."},
    {15250, 16, "The database name component of the object qualifier must be the name of the current database."},
    {15281, 16, "SQL Server blocked access to procedure 'sys.xp_cmdshell' of component 'xp_cmdshell' because this component is turned off as part of the security configuration for this server. A system administrator can enable the use of 'xp_cmdshell' by using sp_configure. For more information about enabling 'xp_cmdshell', see \"Surface Area Configuration\" in SQL Server Books Online."},
    {15300, 16, "No recognized permission area was specified. Valid values are 'o', 's' or 'o s'."},
    {15330, 11, "There are no matching rows on which to report."},
    {15335, 11, "Error: The new name '%s' is already in use as a %s name and would cause a duplicate that is not permitted."},
    {15401, 11, "Windows NT user or group '%s' not found. Check the name again."},
    {15402, 11, "'%s' is not a fixed server role."},
    {15405, 11, "Cannot use the reserved user or role name '%s'."},
    {15407, 11, "'%s' is not a valid Windows NT name. Give the complete name: <domain\\username>."},
    {15409, 11, "'%s' is not a role."},
    {15410, 11, "User or role '%s' does not exist in this database."},
    {15412, 11, "'%s' is not a known fixed role."},
    {15413, 11, "Cannot make a role a member of itself."},
    {15419, 16, "Supplied parameter @sid should be binary(16)."},
    {15433, 16, "Supplied parameter @sid is in use."},
    {15434, 16, "Could not drop login '%s' as the user is currently logged in."},
    {15457, 10, "Configuration option '%s' changed from %d to %d. Run the RECONFIGURE statement to install."},
    {15461, 10, "Object does not reference any object, and no objects reference it."},
    {15469, 10, "No constraints have been defined for this object."},
    {15470, 10, "No foreign keys reference this table."},
    {15472, 10, "The object does not have any indexes."},
    {15477, 10, "Caution: Changing any part of an object name could break scripts and stored procedures."},
    {15520, 10, "The %s was renamed to '%s'."},
    {15600, 15, "An invalid parameter or option was specified for procedure '%s'."},
    {15601, 16, "Full-Text Search is not enabled for the current database. Use sp_fulltext_database to enable Full-Text Search."},
    {15645, 16, "Column '%s' does not exist."},
    {16905, 16, "The cursor is already open."},
    {16911, 16, "fetch: The fetch type %s cannot be used with forward only cursors."},
    {16915, 16, "A cursor with the name '%s' already exists."},
    {16916, 16, "A cursor with the name '%s' does not exist."},
    {16917, 16, "Cursor is not open."},
    {16924, 16, "Cursorfetch: The number of variables declared in the INTO list must match that of selected columns."},
    {16925, 16, "The fetch type %s cannot be used with dynamic cursors."},
    {16929, 16, "The cursor is READ ONLY."},
    {16930, 16, "The requested row is not in the fetch buffer."},
    {16932, 16, "The cursor has a FOR UPDATE list and the requested column to be updated is not in this list."},
    {16933, 16, "The cursor does not include the table being modified or the table is not updatable through the cursor."},
    {16934, 10, "Optimistic concurrency check failed. The row was modified outside of this cursor."},
    {16950, 10, "The variable '%s' does not currently have a cursor allocated to it."},
    {16957, 16, "FOR UPDATE cannot be specified on a READ ONLY cursor."},
    {22001, 16, "xp_dirtree: '%s' is not a number of levels or a flag.", ErrorScope::kStatement, false},
    {40000, 16, "The sandbox server does not support %s.", ErrorScope::kBatch, false},
    {40001, 16, "The sandbox server could not open database '%s' for this session: %s. Use the database once before BEGIN TRANSACTION.", ErrorScope::kStatement, false},
    {40002, 16, "Internal SQL Server error: %s", ErrorScope::kStatement, false},
    {50000, 16, "xp_loginconfig: '%s' is not a name of a login setting.", ErrorScope::kStatement, false},
};
// clang-format on

// An index, not a pointer, so the compile-time checks below also hold in sanitizer builds
// (GCC's -fsanitize=undefined makes pointer comparisons non-constant).
constexpr int MessageIndex(std::int32_t number) {
  for (size_t i = 0; i < std::size(kMessages); ++i)
    if (kMessages[i].number == number) return static_cast<int>(i);
  return -1;
}

constexpr const MessageEntry* FindMessage(std::int32_t number) {
  const int index = MessageIndex(number);
  return index < 0 ? nullptr : &kMessages[index];
}

// The kinds of a text's placeholders in order ('s' or 'd'); '?' after the last one, '!' for a
// '%' that starts no placeholder.
constexpr char PlaceholderKind(std::string_view text, int index) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 1 >= text.size()) return '!';
    char c = text[++i];
    if (c == '%') continue;
    if (c != 's' && c != 'd') return '!';
    if (index-- == 0) return c;
  }
  return '?';
}

constexpr int PlaceholderCount(std::string_view text) {
  int n = 0;
  while (PlaceholderKind(text, n) == 's' || PlaceholderKind(text, n) == 'd') ++n;
  return PlaceholderKind(text, n) == '?' ? n : -1;
}

// A message's text with its placeholders replaced by the arguments in order. An argument is
// copied as it is: a '%' in it is no placeholder. A missing argument leaves its place empty.
// Inline, so that the parser can word its errors from the table without linking the engine.
inline std::string FormatMessage(std::string_view text, std::span<const std::string> args) {
  std::string out;
  out.reserve(text.size());
  auto next = args.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 's' || c == 'd') {
      if (next != args.end()) out += *next++;
    } else {
      out += c;  // %% (the table holds no other)
    }
  }
  return out;
}

class Executor;
// Sends a message of the table to the client without failing the statement (informational
// messages, and errors a procedure reports before it returns a failure code).
void Inform(Executor& executor, const SqlError& message);

namespace errors {
namespace detail {

template <typename T>
constexpr char KindOf() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_integral_v<U> && !std::is_same_v<U, bool> && !std::is_same_v<U, char>)
    return 'd';
  else if constexpr (std::is_convertible_v<const T&, std::string_view>)
    return 's';
  else
    return '?';
}

template <typename T>
std::string ArgText(const T& value) {
  if constexpr (KindOf<T>() == 'd')
    return std::to_string(value);
  else
    return std::string(std::string_view(value));
}

// Message N's text; the first message's for an unknown N, whose own check fails first.
template <std::int32_t N>
constexpr std::string_view TextOf() {
  return kMessages[MessageIndex(N) < 0 ? 0 : MessageIndex(N)].text;
}

template <std::int32_t N, typename... Args, size_t... I>
constexpr bool KindsMatch(std::index_sequence<I...>) {
  return ((PlaceholderKind(TextOf<N>(), static_cast<int>(I)) == KindOf<Args>()) && ...);
}

}  // namespace detail

// Message N's text with its arguments, checked by the compiler as Raise checks them.
template <std::int32_t N, typename... Args>
std::string Text(const Args&... args) {
  static_assert(MessageIndex(N) >= 0, "no message with this number in kMessages");
  static_assert(PlaceholderCount(detail::TextOf<N>()) == sizeof...(Args),
                "the message has another count of placeholders than arguments given");
  static_assert(detail::KindsMatch<N, Args...>(std::index_sequence_for<Args...>{}),
                "an argument's kind differs from its placeholder's (%s text, %d integer)");
  const std::array<std::string, sizeof...(Args)> texts{detail::ArgText(args)...};
  return FormatMessage(kMessages[MessageIndex(N)].text, texts);
}

// The error (or informational message) number N with its arguments, its severity and scope from
// the table.
template <std::int32_t N, typename... Args>
SqlError Raise(const Args&... args) {
  std::string text = Text<N>(args...);
  const MessageEntry& m = kMessages[MessageIndex(N)];
  return SqlError(N, m.severity, std::move(text), m.scope);
}

}  // namespace errors
}  // namespace sandbox
