#include "sandbox/sql_error.h"

namespace sandbox {

SqlError::SqlError(std::int32_t number, int severity, std::string text, ErrorScope scope, int state)
    : std::runtime_error(text), scope_(scope) {
  message_.number = number;
  message_.severity = severity;
  message_.state = state;
  message_.text = std::move(text);
}

namespace errors {

namespace {
std::string Quoted(std::string_view prefix, std::string_view name, std::string_view suffix) {
  std::string text(prefix);
  text += name;
  text += suffix;
  return text;
}
}  // namespace

SqlError InvalidObject(std::string_view name) {
  // Names are resolved when a statement is compiled: a wrong one ends the batch.
  return SqlError(208, 16, Quoted("Invalid object name '", name, "'."), ErrorScope::kBatch);
}
SqlError InvalidColumn(std::string_view name) {
  return SqlError(207, 16, Quoted("Invalid column name '", name, "'."), ErrorScope::kBatch);
}
SqlError AmbiguousColumn(std::string_view name) {
  return SqlError(209, 16, Quoted("Ambiguous column name '", name, "'."), ErrorScope::kBatch);
}
SqlError ObjectExists(std::string_view name) {
  return SqlError(2714, 16,
                  Quoted("There is already an object named '", name, "' in the database."));
}
SqlError CannotDrop(std::string_view kind, std::string_view name) {
  std::string text = "Cannot drop the ";
  text += kind;
  text += " '";
  text += name;
  text += "', because it does not exist in the system catalog.";
  return SqlError(3701, 11, std::move(text));
}
SqlError UnknownDatabase(std::string_view name) {
  return SqlError(911, 16,
                  Quoted("Could not locate entry in sysdatabases for database '", name,
                         "'. No entry found with that name. Make sure that the name is entered "
                         "correctly."));
}
SqlError DatabaseExists(std::string_view name) {
  return SqlError(1801, 16, Quoted("Database '", name, "' already exists."));
}
SqlError DatabaseInUse(std::string_view name) {
  return SqlError(3702, 16,
                  Quoted("Cannot drop the database '", name, "' because it is currently in use."));
}
SqlError CreateFileFailed(std::string_view machine_path) {
  return SqlError(5123, 16,
                  Quoted("CREATE FILE encountered operating system error 3(The system cannot find "
                         "the path specified.) while attempting to open or create the physical "
                         "file '",
                         machine_path, "'."));
}
SqlError NullNotAllowed(std::string_view column, std::string_view table_full, bool insert) {
  std::string text = "Cannot insert the value NULL into column '";
  text += column;
  text += "', table '";
  text += table_full;
  text += insert ? "'; column does not allow nulls. INSERT fails."
                 : "'; column does not allow nulls. UPDATE fails.";
  return SqlError(515, 16, std::move(text), ErrorScope::kStatement, 2);
}
SqlError Truncation() { return SqlError(8152, 16, "String or binary data would be truncated."); }
SqlError Overflow(std::string_view type_name, std::string_view value) {
  std::string text = "Arithmetic overflow error for data type ";
  text += type_name;
  text += ", value = ";
  text += value;
  text += ".";
  return SqlError(220, 16, std::move(text));
}
SqlError OverflowConverting(std::string_view type_name, int state, std::string_view from) {
  std::string text = "Arithmetic overflow error converting ";
  text += from;
  return SqlError(8115, 16, Quoted(text + " to data type ", type_name, "."), ErrorScope::kStatement,
                  state);
}
SqlError DuplicateKey(std::string_view kind, std::string_view constraint, std::string_view table) {
  std::string text = "Violation of ";
  text += kind;
  text += " constraint '";
  text += constraint;
  text += "'. Cannot insert duplicate key in object '";
  text += table;
  text += "'.";
  return SqlError(2627, 14, std::move(text));
}
SqlError DuplicateIndexKey(std::string_view table, std::string_view index) {
  std::string text = "Cannot insert duplicate key row in object '";
  text += table;
  text += "' with unique index '";
  text += index;
  text += "'.";
  return SqlError(2601, 14, std::move(text));
}
SqlError ConversionFailed(std::string_view value, std::string_view type_name) {
  std::string text = "Syntax error converting the varchar value '";
  text += value;
  text += "' to a column of data type ";
  text += type_name;
  text += ".";
  return SqlError(245, 16, std::move(text), ErrorScope::kTransaction);
}
SqlError DateConversion() {
  return SqlError(241, 16, "Syntax error converting datetime from character string.",
                  ErrorScope::kTransaction);
}
SqlError GuidConversion() {
  return SqlError(8169, 16, "Syntax error converting from a character string to uniqueidentifier.",
                  ErrorScope::kTransaction);
}
SqlError IdentifierTooLong(std::string_view name) {
  return SqlError(103, 15,
                  Quoted("The identifier that starts with '", name.substr(0, 128),
                         "' is too long. Maximum length is 128."),
                  ErrorScope::kBatch);
}
SqlError UndeclaredVariable(std::string_view name) {
  return SqlError(137, 15, Quoted("Must declare the variable '", name, "'."), ErrorScope::kBatch);
}
SqlError ExplicitIdentity(std::string_view table) {
  return SqlError(544, 16,
                  Quoted("Cannot insert explicit value for identity column in table '", table,
                         "' when IDENTITY_INSERT is set to OFF."));
}
SqlError UpdateIdentity(std::string_view column) {
  return SqlError(8102, 16, Quoted("Cannot update identity column '", column, "'."));
}
SqlError NotInTransaction(bool commit) {
  return commit ? SqlError(3902, 16,
                           "The COMMIT TRANSACTION request has no corresponding BEGIN "
                           "TRANSACTION.")
                : SqlError(3903, 16,
                           "The ROLLBACK TRANSACTION request has no corresponding BEGIN "
                           "TRANSACTION.");
}
SqlError DivideByZero() { return SqlError(8134, 16, "Divide by zero error encountered."); }
SqlError DomainError() { return SqlError(3623, 16, "A domain error occurred."); }
SqlError UnknownProcedure(std::string_view name) {
  return SqlError(2812, 16, Quoted("Could not find stored procedure '", name, "'."));
}
SqlError TooManyArguments(std::string_view procedure) {
  return SqlError(
      8144, 16, Quoted("Procedure or function ", procedure, " has too many arguments specified."));
}
SqlError MissingArgument(std::string_view procedure, std::string_view parameter) {
  std::string text = "Procedure '";
  text += procedure;
  text += "' expects parameter '";
  text += parameter;
  text += "', which was not supplied.";
  return SqlError(201, 16, std::move(text));
}
SqlError NotAParameter(std::string_view name, std::string_view procedure) {
  std::string text(name);
  text += " is not a parameter for procedure ";
  text += procedure;
  text += ".";
  return SqlError(8145, 16, std::move(text));
}
SqlError Unsupported(std::string_view what) {
  return SqlError(40000, 16, Quoted("The sandbox server does not support ", what, "."),
                  ErrorScope::kBatch);
}
SqlError OuterJoinOperatorsNeedLevel80(int major_version) {
  // 2012 and later name ALTER DATABASE instead of sp_dbcmptlevel.
  return SqlError(
      4147, 15,
      std::string("The query uses non-ANSI outer join operators (\"*=\" or \"=*\"). "
                  "To run this query without modification, please set the "
                  "compatibility level for current database to 80") +
          (major_version >= 11 ? ", using the SET COMPATIBILITY_LEVEL option of ALTER DATABASE."
                               : " or lower, using stored procedure sp_dbcmptlevel.") +
          " It is strongly recommended to rewrite the query using ANSI outer join "
          "operators (LEFT OUTER JOIN, RIGHT OUTER JOIN). In the future versions of "
          "SQL Server, non-ANSI join operators will not be supported even in "
          "backward-compatibility modes.",
      ErrorScope::kBatch);
}
SqlError OuterJoinNotPermitted() {
  return SqlError(301, 16, "Query contains an outer-join request that is not permitted.",
                  ErrorScope::kBatch);
}

}  // namespace errors
}  // namespace sandbox
