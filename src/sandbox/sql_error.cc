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
SqlError OuterJoinOperatorsNeedLevel80(int major_version) {
  // 2012 and later name ALTER DATABASE instead of sp_dbcmptlevel.
  return Raise<4147>(major_version >= 11
                         ? ", using the SET COMPATIBILITY_LEVEL option of ALTER DATABASE."
                         : " or lower, using stored procedure sp_dbcmptlevel.");
}
SqlError OuterJoinNotPermitted() { return Raise<301>(); }

SqlError CursorExists(std::string_view name) { return Raise<16915>(name); }
SqlError CursorMissing(std::string_view name) { return Raise<16916>(name); }
SqlError CursorNotOpen() { return Raise<16917>(); }
SqlError CursorAlreadyOpen() { return Raise<16905>(); }
SqlError FetchTypeForwardOnly(std::string_view type) { return Raise<16911>(type); }
SqlError FetchTypeDynamic(std::string_view type) { return Raise<16925>(type); }
SqlError FetchIntoCount() { return Raise<16924>(); }
SqlError CursorReadOnly() { return Raise<16929>(); }
SqlError CursorNoRow() { return Raise<16930>(); }
SqlError CursorColumnNotForUpdate() { return Raise<16932>(); }
SqlError CursorTableNotUpdatable() { return Raise<16933>(); }
SqlError CursorRowChanged() { return Raise<16934>(); }
SqlError CursorVariableEmpty(std::string_view name) { return Raise<16950>(name); }
SqlError CursorForUpdateReadOnly() { return Raise<16957>(); }
SqlError CursorOptionsConflict(std::string_view a, std::string_view b) {
  return Raise<1048>(a, b);
}
SqlError VariableDeclaredTwice(std::string_view name) {
  return Raise<134>(name).WithScope(ErrorScope::kBatch);
}
SqlError ConstraintConflict(std::string_view verb, std::string_view kind, std::string_view name,
                            std::string_view database, std::string_view table,
                            std::string_view column) {
  const std::string where = column.empty() ? "" : ", column '" + std::string(column) + "'";
  return Raise<547>(verb, kind, name, database, table, where);
}
SqlError LockTimeout() { return Raise<1222>(); }
SqlError DeadlockVictim(int spid) { return Raise<1205>(spid); }
}  // namespace errors
}  // namespace sandbox
