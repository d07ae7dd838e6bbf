// A variant value as it travels between the server and the program: the shape of a column value,
// a parameter, or a registry value read back. Text is UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace common {

// A civil date and time without zone, as SQL Server's datetime keeps it.
struct DateTime {
  int year = 1900;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  friend bool operator==(const DateTime&, const DateTime&) = default;
  friend auto operator<=>(const DateTime&, const DateTime&) = default;

  // "YYYY-MM-DD hh:mm:ss" with ".mmm" when the milliseconds are not zero.
  std::string ToText() const;
  // Reads the text form above (the time and the milliseconds may be left out).
  static std::optional<DateTime> Parse(std::string_view text);
  static DateTime Now();
};

struct Guid {
  std::array<std::uint8_t, 16> bytes{};
  friend bool operator==(const Guid&, const Guid&) = default;
  // Registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
  std::string ToText() const;
  static std::optional<Guid> Parse(std::string_view text);
};

using Bytes = std::vector<std::uint8_t>;

class Value {
 public:
  enum class Type { kNull, kBool, kInt, kDouble, kText, kDateTime, kBinary, kGuid };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool v) : data_(v) {}
  Value(int v) : data_(static_cast<std::int64_t>(v)) {}
  Value(long v) : data_(static_cast<std::int64_t>(v)) {}
  Value(long long v) : data_(static_cast<std::int64_t>(v)) {}
  Value(double v) : data_(v) {}
  Value(const char* v) : data_(std::string(v)) {}
  Value(std::string v) : data_(std::move(v)) {}
  Value(std::string_view v) : data_(std::string(v)) {}
  Value(DateTime v) : data_(v) {}
  Value(Bytes v) : data_(std::move(v)) {}
  Value(Guid v) : data_(v) {}

  Type type() const { return static_cast<Type>(data_.index()); }
  bool IsNull() const { return type() == Type::kNull; }

  // Conversions follow the rules the console shows values by: null is the empty text, booleans
  // are "True"/"False", doubles the shortest text that reads back the same.
  std::string ToText() const;
  // Null, and text that is not a number, give std::nullopt.
  std::optional<std::int64_t> ToInt() const;
  std::optional<double> ToDouble() const;
  // Numbers are true when not zero; the texts "true"/"false" (any case) and numbers in text too.
  std::optional<bool> ToBool() const;

  const std::string* AsText() const { return std::get_if<std::string>(&data_); }
  const Bytes* AsBytes() const { return std::get_if<Bytes>(&data_); }
  const DateTime* AsDateTime() const { return std::get_if<DateTime>(&data_); }
  const Guid* AsGuid() const { return std::get_if<Guid>(&data_); }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::string, DateTime, Bytes, Guid>
      data_;
};

}  // namespace common
