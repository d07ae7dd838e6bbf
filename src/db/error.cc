#include "db/error.h"

namespace db {

std::int32_t ProviderNumberFor(std::int32_t native_error) {
  switch (native_error) {
    case 208:  // invalid object name
      return kErrorNoTable;
    case 229:  // permission denied on an object
    case 230:
    case 262:
      return kErrorPermissionDenied;
    case 245:  // conversion failed
    case 8114:
      return kErrorCantConvertValue;
    case 515:  // NULL into a NOT NULL column
    case 547:  // constraint conflict
    case 2601:
    case 2627:
      return kErrorIntegrityViolation;
    case 8152:  // string or binary data would be truncated
      return kErrorDataOverflow;
    case 18456:
      return kErrorAuthenticationFailed;
    default:
      return kErrorsInCommand;
  }
}

Error ObjectClosedError(const std::string& source) {
  return Error(kErrorObjectClosed, source, "Operation is not allowed when the object is closed.");
}

Error NoCurrentRecordError(const std::string& source) {
  return Error(kErrorNoCurrentRecord, source,
               "Either BOF or EOF is True, or the current record has been deleted. Requested "
               "operation requires a current record.");
}

Error ItemNotFoundError(const std::string& source) {
  return Error(kErrorItemNotFound, source,
               "Item cannot be found in the collection corresponding to the requested name or "
               "ordinal.");
}

Error InvalidArgumentError(const std::string& source, const std::string& detail) {
  std::string text =
      "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one "
      "another.";
  if (!detail.empty()) text += " (" + detail + ")";
  return Error(kErrorInvalidArgument, source, text);
}

}  // namespace db
