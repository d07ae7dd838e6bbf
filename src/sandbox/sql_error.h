// Errors raised while a batch runs, with the number, severity and text a SQL Server sends, and
// how far the failure reaches: the statement, the batch (or procedure), or the transaction too.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sandbox/server.h"

namespace sandbox {

enum class ErrorScope {
  kStatement,    // the statement is rolled back, the batch goes on
  kBatch,        // the rest of the batch (or procedure) is skipped, the transaction stays
  kTransaction,  // the batch stops and an open transaction is rolled back
};

class SqlError : public std::runtime_error {
 public:
  SqlError(std::int32_t number, int severity, std::string text,
           ErrorScope scope = ErrorScope::kStatement, int state = 1);

  const ServerMessage& message() const { return message_; }
  ServerMessage& message() { return message_; }
  ErrorScope scope() const { return scope_; }
  // For a throw site whose state or reach differs from its message's usual one.
  SqlError& WithState(int state) {
    message_.state = state;
    return *this;
  }
  SqlError& WithScope(ErrorScope scope) {
    scope_ = scope;
    return *this;
  }
  std::int32_t number() const { return message_.number; }

 private:
  ServerMessage message_;
  ErrorScope scope_;
};

// The server's texts for the errors the engine raises itself.
namespace errors {
SqlError InvalidObject(std::string_view name);                      // 208
SqlError InvalidColumn(std::string_view name);                      // 207
SqlError AmbiguousColumn(std::string_view name);                    // 209
SqlError ObjectExists(std::string_view name);                       // 2714
SqlError CannotDrop(std::string_view kind, std::string_view name);  // 3701
SqlError UnknownDatabase(std::string_view name);                    // 911
SqlError DatabaseExists(std::string_view name);                     // 1801
SqlError DatabaseInUse(std::string_view name);                      // 3702
SqlError CreateFileFailed(std::string_view machine_path);           // 5123
SqlError NullNotAllowed(std::string_view column, std::string_view table_full,
                        bool insert = true);                            // 515
SqlError Truncation();                                                  // 8152
SqlError Overflow(std::string_view type_name, std::string_view value);  // 220
// State 2 for a computed result out of its type's range, 1 for a conversion.
SqlError OverflowConverting(std::string_view type_name, int state = 1,
                            std::string_view from = "expression");  // 8115
SqlError DuplicateKey(std::string_view kind, std::string_view constraint,
                      std::string_view table);                                     // 2627
SqlError DuplicateIndexKey(std::string_view table, std::string_view index);        // 2601
SqlError ConversionFailed(std::string_view value, std::string_view type_name);     // 245
SqlError DateConversion();                                                         // 241
SqlError GuidConversion();                                                         // 8169
SqlError IdentifierTooLong(std::string_view name);                                 // 103
SqlError UndeclaredVariable(std::string_view name);                                // 137
SqlError ExplicitIdentity(std::string_view table);                                 // 544
SqlError UpdateIdentity(std::string_view column);                                  // 8102
SqlError NotInTransaction(bool commit);                                            // 3902 / 3903
SqlError DivideByZero();                                                           // 8134
SqlError UnknownProcedure(std::string_view name);                                  // 2812
SqlError TooManyArguments(std::string_view procedure);                             // 8144
SqlError MissingArgument(std::string_view procedure, std::string_view parameter);  // 201
SqlError NotAParameter(std::string_view name, std::string_view procedure);         // 8145
SqlError Unsupported(std::string_view what);  // 156-like refusal

// 3623: a mathematical function given a value outside its domain (SQRT(-1), LOG(0)).
SqlError DomainError();
SqlError CursorExists(std::string_view name);                            // 16915
SqlError CursorMissing(std::string_view name);                           // 16916
SqlError CursorNotOpen();                                                // 16917
SqlError CursorAlreadyOpen();                                            // 16905
SqlError FetchTypeForwardOnly(std::string_view type);                    // 16911
SqlError FetchTypeDynamic(std::string_view type);                        // 16925
SqlError FetchIntoCount();                                               // 16924
SqlError CursorReadOnly();                                               // 16929
SqlError CursorNoRow();                                                  // 16930
SqlError CursorColumnNotForUpdate();                                     // 16932
SqlError CursorTableNotUpdatable();                                      // 16933
SqlError CursorRowChanged();                                             // 16934
SqlError CursorVariableEmpty(std::string_view name);                     // 16950
SqlError CursorForUpdateReadOnly();                                      // 16957
SqlError CursorOptionsConflict(std::string_view a, std::string_view b);  // 1048
SqlError VariableDeclaredTwice(std::string_view name);                   // 134
// 547: kind is "COLUMN CHECK", "TABLE FOREIGN KEY", "COLUMN REFERENCE", ...; column may be empty.
SqlError ConstraintConflict(std::string_view verb, std::string_view kind, std::string_view name,
                            std::string_view database, std::string_view table,
                            std::string_view column);
SqlError LockTimeout();             // 1222
SqlError DeadlockVictim(int spid);  // 1205: ends the batch, rolls the transaction back
SqlError OuterJoinOperatorsNeedLevel80(int major_version);  // 4147
SqlError OuterJoinNotPermitted();                           // 301
}  // namespace errors

}  // namespace sandbox
