#include "sandbox/sql_error.h"

#include "sandbox/messages.h"

namespace sandbox {

SqlError::SqlError(std::int32_t number, int severity, std::string text, ErrorScope scope, int state)
    : std::runtime_error(text), scope_(scope) {
  message_.number = number;
  message_.severity = severity;
  message_.state = state;
  message_.text = std::move(text);
}

namespace errors {

SqlError InvalidObject(std::string_view name) { return Raise<208>(name); }
SqlError InvalidColumn(std::string_view name) { return Raise<207>(name); }
SqlError AmbiguousColumn(std::string_view name) { return Raise<209>(name); }
SqlError ObjectExists(std::string_view name) { return Raise<2714>(name); }
SqlError CannotDrop(std::string_view kind, std::string_view name) {
  return Raise<3701>("drop", kind, name);
}
SqlError UnknownDatabase(std::string_view name) { return Raise<911>(name); }
SqlError DatabaseExists(std::string_view name) { return Raise<1801>(name); }
SqlError DatabaseInUse(std::string_view name) { return Raise<3702>(name); }
SqlError CreateFileFailed(std::string_view machine_path) {
  return Raise<5123>("3(The system cannot find the path specified.)", machine_path);
}
SqlError NullNotAllowed(std::string_view column, std::string_view table_full, bool insert) {
  return Raise<515>(column, table_full, insert ? "INSERT" : "UPDATE").WithState(2);
}
SqlError Truncation() { return Raise<8152>(); }
SqlError Overflow(std::string_view type_name, std::string_view value) {
  return Raise<220>(type_name, value);
}
SqlError OverflowConverting(std::string_view type_name, int state, std::string_view from) {
  return Raise<8115>(from, type_name).WithState(state);
}
SqlError DuplicateKey(std::string_view kind, std::string_view constraint, std::string_view table) {
  return Raise<2627>(kind, constraint, table);
}
SqlError DuplicateIndexKey(std::string_view table, std::string_view index) {
  return Raise<2601>(table, index);
}
SqlError ConversionFailed(std::string_view value, std::string_view type_name) {
  return Raise<245>(value, type_name);
}
SqlError DateConversion() { return Raise<241>(); }
SqlError GuidConversion() { return Raise<8169>(); }
SqlError IdentifierTooLong(std::string_view name) { return Raise<103>(name.substr(0, 128)); }
SqlError UndeclaredVariable(std::string_view name) { return Raise<137>(name); }
SqlError ExplicitIdentity(std::string_view table) { return Raise<544>(table); }
SqlError UpdateIdentity(std::string_view column) { return Raise<8102>(column); }
SqlError NotInTransaction(bool commit) { return commit ? Raise<3902>() : Raise<3903>(); }
SqlError DivideByZero() { return Raise<8134>(); }
SqlError DomainError() { return Raise<3623>(); }
SqlError UnknownProcedure(std::string_view name) { return Raise<2812>(name); }
SqlError TooManyArguments(std::string_view procedure) { return Raise<8144>(procedure); }
SqlError MissingArgument(std::string_view procedure, std::string_view parameter) {
  return Raise<201>(procedure, parameter);
}
SqlError NotAParameter(std::string_view name, std::string_view procedure) {
  return Raise<8145>(name, procedure);
}
SqlError Unsupported(std::string_view what) { return Raise<40000>(what); }

SqlError CursorExists(std::string_view name) {
  return SqlError(16915, 16, Quoted("A cursor with the name '", name, "' already exists."));
}
SqlError CursorMissing(std::string_view name) {
  return SqlError(16916, 16, Quoted("A cursor with the name '", name, "' does not exist."));
}
SqlError CursorNotOpen() { return SqlError(16917, 16, "Cursor is not open."); }
SqlError CursorAlreadyOpen() { return SqlError(16905, 16, "The cursor is already open."); }
SqlError FetchTypeForwardOnly(std::string_view type) {
  return SqlError(
      16911, 16,
      Quoted("fetch: The fetch type ", type, " cannot be used with forward only cursors."));
}
SqlError FetchTypeDynamic(std::string_view type) {
  return SqlError(16925, 16,
                  Quoted("The fetch type ", type, " cannot be used with dynamic cursors."));
}
SqlError FetchIntoCount() {
  return SqlError(16924, 16,
                  "Cursorfetch: The number of variables declared in the INTO list must match that "
                  "of selected columns.");
}
SqlError CursorReadOnly() { return SqlError(16929, 16, "The cursor is READ ONLY."); }
SqlError CursorNoRow() {
  return SqlError(16930, 16, "The requested row is not in the fetch buffer.");
}
SqlError CursorColumnNotForUpdate() {
  return SqlError(16932, 16,
                  "The cursor has a FOR UPDATE list and the requested column to be updated is not "
                  "in this list.");
}
SqlError CursorTableNotUpdatable() {
  return SqlError(16933, 16,
                  "The cursor does not include the table being modified or the table is not "
                  "updatable through the cursor.");
}
SqlError CursorRowChanged() {
  return SqlError(16934, 10,
                  "Optimistic concurrency check failed. The row was modified outside of this "
                  "cursor.");
}
SqlError CursorVariableEmpty(std::string_view name) {
  return SqlError(
      16950, 10,
      Quoted("The variable '", name, "' does not currently have a cursor allocated to it."));
}
SqlError CursorForUpdateReadOnly() {
  return SqlError(16957, 16, "FOR UPDATE cannot be specified on a READ ONLY cursor.");
}
SqlError CursorOptionsConflict(std::string_view a, std::string_view b) {
  return SqlError(1048, 15,
                  "Conflicting cursor options " + std::string(a) + " and " + std::string(b) + ".");
}
SqlError VariableDeclaredTwice(std::string_view name) {
  return SqlError(134, 15,
                  Quoted("The variable name '", name,
                         "' has already been declared. Variable names must be unique within a "
                         "query batch or stored procedure."),
                  ErrorScope::kBatch);
}
SqlError ConstraintConflict(std::string_view verb, std::string_view kind, std::string_view name,
                            std::string_view database, std::string_view table,
                            std::string_view column) {
  std::string text = std::string(verb) + " statement conflicted with " + std::string(kind) +
                     " constraint '" + std::string(name) +
                     "'. The conflict occurred in database '" + std::string(database) +
                     "', table '" + std::string(table) + "'";
  if (!column.empty()) text += ", column '" + std::string(column) + "'";
  return SqlError(547, 16, text + ".");
}
SqlError LockTimeout() { return SqlError(1222, 16, "Lock request time out period exceeded."); }
SqlError DeadlockVictim(int spid) {
  return SqlError(1205, 13,
                  "Transaction (Process ID " + std::to_string(spid) +
                      ") was deadlocked on lock resources with another process and has been "
                      "chosen as the deadlock victim. Rerun the transaction.",
                  ErrorScope::kTransaction);
}
}  // namespace errors
}  // namespace sandbox
