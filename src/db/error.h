// Errors of the client database interface: the provider's HRESULT-style number, its source and
// description, and what the server said (native number, severity, state).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/error.h"

namespace db {

// HRESULT-style numbers as the program sees them: signed 32-bit.
constexpr std::int32_t HResult(std::uint32_t code) { return static_cast<std::int32_t>(code); }

// Provider numbers.
inline constexpr std::int32_t kErrorUnspecified = HResult(0x80004005);  // also connection failures
inline constexpr std::int32_t kErrorCantConvertValue = HResult(0x80040E07);
inline constexpr std::int32_t kErrorPermissionDenied = HResult(0x80040E09);
inline constexpr std::int32_t kErrorsInCommand = HResult(0x80040E14);
inline constexpr std::int32_t kErrorCannotFetchBackwards = HResult(0x80040E24);
inline constexpr std::int32_t kErrorIntegrityViolation = HResult(0x80040E2F);
inline constexpr std::int32_t kErrorTimeoutExpired = HResult(0x80040E31);
inline constexpr std::int32_t kErrorNoTable = HResult(0x80040E37);
inline constexpr std::int32_t kErrorRowNotLocated = HResult(0x80040E38);
inline constexpr std::int32_t kErrorAuthenticationFailed = HResult(0x80040E4D);
inline constexpr std::int32_t kErrorDataOverflow = HResult(0x80040E57);
inline constexpr std::int32_t kErrorBadInitString = HResult(0x80040E73);
// Numbers of the interface objects themselves (0x800A0000 + the classic error number).
inline constexpr std::int32_t kErrorInvalidArgument = HResult(0x800A0BB9);      // 3001
inline constexpr std::int32_t kErrorNoCurrentRecord = HResult(0x800A0BCD);      // 3021
inline constexpr std::int32_t kErrorIllegalOperation = HResult(0x800A0C93);     // 3219
inline constexpr std::int32_t kErrorNotUpdatable = HResult(0x800A0CB3);         // 3251
inline constexpr std::int32_t kErrorItemNotFound = HResult(0x800A0CC1);         // 3265
inline constexpr std::int32_t kErrorObjectClosed = HResult(0x800A0E78);         // 3704
inline constexpr std::int32_t kErrorObjectOpen = HResult(0x800A0E79);           // 3705
inline constexpr std::int32_t kErrorProviderNotFound = HResult(0x800A0E7A);     // 3706
inline constexpr std::int32_t kErrorConnectionNotUsable = HResult(0x800A0E7D);  // 3709

inline constexpr char kProviderSource[] = "Microsoft OLE DB Provider for SQL Server";

// One entry of a connection's Errors collection: an error or an informational message.
struct ErrorRecord {
  std::int32_t number = 0;
  std::string source;
  std::string description;
  std::int32_t native_error = 0;
  int severity = 0;
  int state = 0;
  bool IsError() const { return severity > 10 || number < 0; }
};

class Error : public common::Error {
 public:
  Error(std::int32_t number, std::string source, std::string description,
        std::int32_t native_error = 0, int severity = 0, int state = 0)
      : common::Error(number, std::move(source), std::move(description)),
        native_error_(native_error),
        severity_(severity),
        state_(state) {}
  explicit Error(const ErrorRecord& record)
      : Error(record.number, record.source, record.description, record.native_error,
              record.severity, record.state) {}

  std::int32_t native_error() const { return native_error_; }
  int severity() const { return severity_; }
  int state() const { return state_; }
  // Every error of the batch that raised this one, this one first; empty when it was alone.
  const std::vector<ErrorRecord>& errors() const { return errors_; }
  void set_errors(std::vector<ErrorRecord> errors) { errors_ = std::move(errors); }
  ErrorRecord record() const {
    return {number(), source(), description(), native_error_, severity_, state_};
  }

 private:
  std::int32_t native_error_;
  int severity_;
  int state_;
  std::vector<ErrorRecord> errors_;
};

// The provider's number for a server error: a few native numbers have numbers of their own,
// everything else is "errors in the command".
std::int32_t ProviderNumberFor(std::int32_t native_error);

// The errors the interface objects raise about their own use.
Error ObjectClosedError(const std::string& source);
Error NoCurrentRecordError(const std::string& source);
Error ItemNotFoundError(const std::string& source);
Error InvalidArgumentError(const std::string& source, const std::string& detail = {});

}  // namespace db
