// SQL Server data types and the value rules the engine applies when values are stored, cast or
// compared: ranges of the integer types, BIT as 0 or 1, length limits, date and GUID texts.
//
// Inside the engine (SQLite storage, variables, parameters) a value has its storage form:
// null, integer, double, text or bytes. datetime is the text "YYYY-MM-DD hh:mm:ss.mmm",
// uniqueidentifier the 36-character upper-case text, bit the integer 0 or 1. Clients see the
// typed form of common::Value (bool, DateTime, Guid).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/value.h"
#include "sandbox/languages.h"

namespace sandbox {

enum class TypeKind {
  kBit,
  kTinyInt,
  kSmallInt,
  kInt,
  kBigInt,
  kReal,
  kFloat,
  kDecimal,
  kNumeric,
  kMoney,
  kSmallMoney,
  kChar,
  kVarChar,
  kText,
  kNChar,
  kNVarChar,
  kNText,
  kBinary,
  kVarBinary,
  kImage,
  kDateTime,
  kSmallDateTime,
  kUniqueIdentifier,
  kTimestamp,
  kSqlVariant,
};

struct SqlType {
  TypeKind kind = TypeKind::kInt;
  int length = 0;  // characters or bytes for the character and binary types; -1 for unlimited
  int precision = 0;
  int scale = 0;

  friend bool operator==(const SqlType&, const SqlType&) = default;

  // The name as SQL Server reports it: "int", "nvarchar", ...
  std::string Name() const;
  // The name with its length or precision, as in a column definition: "nvarchar(100)".
  std::string Declaration() const;
  std::string SqliteDeclaration() const;
  common::Value::Type ClientType() const;
  // The size a client sees: the declared length for character and binary types (the large
  // types report SQL Server's maximum), else 0.
  int ClientSize() const;

  bool IsInteger() const;
  bool IsNumeric() const;  // integers, bit, float, decimal, money
  bool IsCharacter() const;
  bool IsUnicode() const;
  bool IsBinary() const;
  bool IsDate() const;
  bool IsLarge() const;  // text, ntext, image
  // Bytes a value takes, as syscolumns.length and COL_LENGTH give it (a pointer's 16 for the
  // large types).
  int ByteLength() const;
  // Digits of numbers, characters of texts (36 for a uniqueidentifier's text form), bytes of
  // binaries, the maximum for the large types.
  int Precision() const;

  static SqlType Int() { return {TypeKind::kInt}; }
  static SqlType Bit() { return {TypeKind::kBit}; }
  static SqlType VarChar(int length) { return {TypeKind::kVarChar, length}; }
  static SqlType NVarChar(int length) { return {TypeKind::kNVarChar, length}; }
  static SqlType DateTimeType() { return {TypeKind::kDateTime}; }
  static SqlType Float() { return {TypeKind::kFloat}; }
};

// A type from its name and the numbers in brackets (none, length, or precision and scale);
// "sysname" is nvarchar(128). nullopt for unknown names.
std::optional<SqlType> TypeFromName(std::string_view name, int count = 0, int first = 0,
                                    int second = 0);

// How a conversion treats a text or binary value too long for the target: stores (columns)
// fail with error 8152, casts and variables cut it.
enum class Fit { kFail, kCut };

// Converts a storage-form value to the storage form of target; source is the value's static
// type when known (it decides how dates print as text), style is CONVERT's, dates the session's
// language and date order (us_english when null). Throws SqlError (220, 8115, 8152, 245, 241,
// 8169, 281).
common::Value Convert(const common::Value& value, const SqlType& target, Fit fit,
                      const std::optional<SqlType>& source = std::nullopt, int style = 0,
                      const DateSettings* dates = nullptr);

// Storage form to the typed form a client receives.
common::Value ToClient(const common::Value& storage, const SqlType& type);
// A client's typed value (parameter) to storage form.
common::Value FromClient(const common::Value& value);
// The type SQL Server gives a client value or literal of that kind.
SqlType TypeOfClientValue(const common::Value& value);

// Date helpers on the storage text.
std::string DateTimeToStorage(const common::DateTime& d);
// A text as a date under us_english's rules (see ParseDateText for the session's).
std::optional<common::DateTime> ParseDateTimeText(std::string_view text);
// SQL Server's default text of a datetime: "Jan  1 2003 12:00AM".
std::string DateTimeDefaultText(const common::DateTime& d);
std::string NewGuidText();

}  // namespace sandbox
