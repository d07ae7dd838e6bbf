#include "db/drivers/odbc/parameter_binding.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "db/drivers/odbc/wide_text.h"
#include "db/error.h"
#include "db/sql_text.h"

namespace db {

namespace {

using Kind = Binding::Kind;

constexpr std::size_t kTextCapacity = 8000;    // characters an output of text can bring back
constexpr std::size_t kBinaryCapacity = 8000;  // bytes an output of binary can bring back

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsDecimalType(const std::string& t) {
  return t == "decimal" || t == "numeric" || t == "money" || t == "smallmoney";
}

// Digits after the point of a number as it reads (at most 10 when unsure); a number given as
// text too, so that "12.5" is not rounded to 13.
int DecimalPlaces(const Value& value) {
  if (value.type() != Value::Type::kDouble && value.type() != Value::Type::kText) return 0;
  std::string text = value.ToText();
  if (value.type() == Value::Type::kText) {
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) return 0;
  }
  if (text.find_first_of("eE") != std::string::npos) return 10;
  std::size_t point = text.find('.');
  return point == std::string::npos ? 0
                                    : std::min<int>(static_cast<int>(text.size() - point - 1), 38);
}

struct DecimalShape {
  int precision;
  int scale;
};

// Its own precision and scale; without them, room for the value as it reads.
DecimalShape ShapeOf(const DriverParameter& p) {
  std::string t = Lower(p.type_name);
  if (t == "money") return {19, 4};
  if (t == "smallmoney") return {10, 4};
  if (p.precision > 0) {
    int precision = std::min(p.precision, 38);
    return {precision, std::clamp(p.scale, 0, precision)};
  }
  return {38, DecimalPlaces(p.value)};
}

// A number as exact digits at the parameter's scale: the driver then never converts it
// through float, and E notation loses no digits. std::nullopt for infinities and NaN.
std::optional<std::string> DecimalDigits(const DriverParameter& p) {
  if (p.value.type() == Value::Type::kInt) return std::to_string(*p.value.ToInt());
  std::optional<double> d = p.value.ToDouble();
  if (!d || !std::isfinite(*d)) return std::nullopt;
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", ShapeOf(p).scale, *d);
  return std::string(buffer);
}

// A name goes into sp_executesql's declaration, and is the argument's name of a procedure.
bool IsVariableName(const std::string& name) {
  return name.size() > 1 && name.size() <= 128 && name.front() == '@' &&
         std::all_of(name.begin() + 1, name.end(), [](char c) {
           unsigned char u = static_cast<unsigned char>(c);
           return std::isalnum(u) || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
         });
}

Error WrongArgument(const std::string& what) {
  return Error(kErrorInvalidArgument, "ADODB.Command",
               "Arguments are of the wrong type, are out of acceptable range, or are in "
               "conflict with one another. (" +
                   what + ")");
}

const std::string& Checked(const std::string& name) {
  if (!IsVariableName(name)) throw WrongArgument("parameter name \"" + name + "\"");
  return name;
}

// The type the value stands for when the parameter names none.
std::string BaseType(const DriverParameter& p) {
  std::string t = Lower(p.type_name);
  if (!t.empty()) return t;
  switch (p.value.type()) {
    case Value::Type::kBool:
      return "bit";
    case Value::Type::kInt:
      return "bigint";
    case Value::Type::kDouble:
      return "float";
    case Value::Type::kDateTime:
      return "datetime";
    case Value::Type::kBinary:
      return "varbinary";
    case Value::Type::kGuid:
      return "uniqueidentifier";
    default:
      return "nvarchar";
  }
}

Kind KindOfType(const std::string& t) {
  if (t == "bit") return Kind::kBool;
  if (t == "tinyint" || t == "smallint" || t == "int" || t == "bigint") return Kind::kInt;
  if (IsDecimalType(t)) return Kind::kDecimal;
  if (t == "float" || t == "real") return Kind::kDouble;
  if (t == "datetime" || t == "smalldatetime" || t == "date" || t == "datetime2")
    return Kind::kDateTime;
  if (t == "binary" || t == "varbinary" || t == "image" || t == "timestamp") return Kind::kBinary;
  if (t == "uniqueidentifier") return Kind::kGuid;
  return Kind::kText;
}

// How an input travels: as its own value's kind (the server converts it to the declared type,
// as it would a literal), numbers for decimals as exact digits.
Kind InputKind(const DriverParameter& p, const std::string& base) {
  switch (p.value.type()) {
    case Value::Type::kNull:
      return KindOfType(base);
    case Value::Type::kBool:
      return Kind::kBool;
    case Value::Type::kInt:
      return IsDecimalType(base) ? Kind::kDecimal : Kind::kInt;
    case Value::Type::kDouble:
      return IsDecimalType(base) ? Kind::kDecimal : Kind::kDouble;
    case Value::Type::kDateTime:
      return Kind::kDateTime;
    case Value::Type::kBinary:
      return Kind::kBinary;
    case Value::Type::kGuid:
    case Value::Type::kText:
      return Kind::kText;
  }
  return Kind::kText;
}

std::size_t WideLength(const Value& value) {
  return value.type() == Value::Type::kText ? Wide(*value.AsText()).size() : 0;
}

std::size_t ByteLength(const Value& value) {
  const common::Bytes* bytes = value.AsBytes();
  return bytes ? bytes->size() : 0;
}

template <typename T>
void Store(Binding& b, const T& value) {
  b.buffer.resize(sizeof value);
  std::memcpy(b.buffer.data(), &value, sizeof value);
  b.indicator = sizeof value;
}

template <typename T>
T Load(const Binding& b) {
  T value{};
  std::memcpy(&value, b.buffer.data(), std::min(sizeof value, b.buffer.size()));
  return value;
}

// The value of an input (or input/output) parameter into the binding's buffer.
void StoreInput(Binding& b, const DriverParameter& p) {
  const Value& v = p.value;
  auto wrong = [&] {
    return WrongArgument("parameter " + p.name + " cannot take the value \"" + v.ToText() + "\"");
  };
  if (v.IsNull()) {
    b.indicator = SQL_NULL_DATA;
    return;
  }
  switch (b.kind) {
    case Kind::kInt: {
      std::optional<std::int64_t> n = v.ToInt();
      if (!n) throw wrong();
      Store(b, static_cast<SQLBIGINT>(*n));
      return;
    }
    case Kind::kBool: {
      std::optional<bool> flag = v.ToBool();
      if (!flag) throw wrong();
      Store(b, static_cast<unsigned char>(*flag ? 1 : 0));
      return;
    }
    case Kind::kDouble: {
      std::optional<double> d = v.ToDouble();
      if (!d) throw wrong();
      Store(b, *d);
      return;
    }
    case Kind::kDecimal: {
      std::optional<std::string> digits = DecimalDigits(p);
      if (!digits) {
        b.indicator = SQL_NULL_DATA;
        return;
      }
      b.buffer.assign(digits->begin(), digits->end());
      b.indicator = static_cast<SQLLEN>(b.buffer.size());
      return;
    }
    case Kind::kDateTime: {
      std::optional<common::DateTime> t;
      if (const common::DateTime* own = v.AsDateTime()) t = *own;
      if (!t) t = common::DateTime::Parse(v.ToText());
      if (!t) throw wrong();
      SQL_TIMESTAMP_STRUCT s{};
      s.year = static_cast<SQLSMALLINT>(t->year);
      s.month = static_cast<SQLUSMALLINT>(t->month);
      s.day = static_cast<SQLUSMALLINT>(t->day);
      s.hour = static_cast<SQLUSMALLINT>(t->hour);
      s.minute = static_cast<SQLUSMALLINT>(t->minute);
      s.second = static_cast<SQLUSMALLINT>(t->second);
      s.fraction = static_cast<SQLUINTEGER>(t->millisecond) * 1000000u;
      Store(b, s);
      return;
    }
    case Kind::kBinary: {
      const common::Bytes* bytes = v.AsBytes();
      if (!bytes) throw wrong();
      b.buffer.assign(bytes->begin(), bytes->end());
      b.indicator = static_cast<SQLLEN>(b.buffer.size());
      return;
    }
    case Kind::kGuid:
    case Kind::kText: {
      std::string text = v.ToText();
      // Drivers read a uniqueidentifier without its braces.
      if (b.kind == Kind::kGuid && text.size() > 2 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, text.size() - 2);
      WideString wide = Wide(text);
      b.buffer.resize(wide.size() * sizeof(SQLWCHAR));
      if (!wide.empty()) std::memcpy(b.buffer.data(), wide.data(), b.buffer.size());
      b.indicator = static_cast<SQLLEN>(b.buffer.size());
      return;
    }
  }
}

SQLSMALLINT IntegerType(const std::string& t) {
  if (t == "tinyint") return SQL_TINYINT;
  if (t == "smallint") return SQL_SMALLINT;
  if (t == "bigint") return SQL_BIGINT;
  return SQL_INTEGER;
}

Binding TextInput(const std::string& text) {
  DriverParameter p;
  p.value = Value(text);
  Binding b;
  StoreInput(b, p);
  b.column_size = std::max<SQLULEN>(1, b.buffer.size() / sizeof(SQLWCHAR));
  if (b.buffer.size() > kLongValueBytes) b.sql_type = SQL_WLONGVARCHAR;
  return b;
}

Binding Bind(const DriverParameter& p, std::size_t index) {
  Binding b;
  b.parameter = index;
  b.io = p.direction == ParameterDirection::kInput         ? SQL_PARAM_INPUT
         : p.direction == ParameterDirection::kInputOutput ? SQL_PARAM_INPUT_OUTPUT
                                                           : SQL_PARAM_OUTPUT;
  const std::string base = BaseType(p);
  // An output is read back as its declared type; an input goes as its value is.
  b.kind = b.IsOutput() ? KindOfType(base) : InputKind(p, base);
  if (p.direction != ParameterDirection::kOutput && p.direction != ParameterDirection::kReturnValue)
    StoreInput(b, p);
  else
    b.indicator = SQL_NULL_DATA;
  const std::size_t input_bytes = b.indicator > 0 ? static_cast<std::size_t>(b.indicator) : 0;
  std::size_t capacity = b.buffer.size();
  switch (b.kind) {
    case Kind::kInt: {
      b.c_type = SQL_C_SBIGINT;
      capacity = sizeof(SQLBIGINT);
      if (b.IsOutput() || p.value.IsNull()) {
        b.sql_type = IntegerType(base);
      } else {
        // bigint only where the value needs it: servers before 2000 have none.
        std::int64_t n = Load<SQLBIGINT>(b);
        b.sql_type = n >= std::numeric_limits<std::int32_t>::min() &&
                             n <= std::numeric_limits<std::int32_t>::max()
                         ? SQL_INTEGER
                         : SQL_BIGINT;
      }
      break;
    }
    case Kind::kBool:
      b.c_type = SQL_C_BIT;
      b.sql_type = SQL_BIT;
      capacity = 1;
      break;
    case Kind::kDouble:
      b.c_type = SQL_C_DOUBLE;
      b.sql_type = base == "real" ? SQL_REAL : SQL_FLOAT;
      b.column_size = base == "real" ? 24 : 53;
      capacity = sizeof(double);
      break;
    case Kind::kDecimal: {
      DecimalShape shape = ShapeOf(p);
      b.c_type = SQL_C_CHAR;
      b.sql_type = base == "numeric" ? SQL_NUMERIC : SQL_DECIMAL;
      b.column_size = static_cast<SQLULEN>(shape.precision);
      b.digits = static_cast<SQLSMALLINT>(shape.scale);
      capacity = std::max<std::size_t>(capacity, 64);  // 38 digits, sign, point
      break;
    }
    case Kind::kDateTime:
      b.c_type = SQL_C_TYPE_TIMESTAMP;
      b.sql_type = SQL_TYPE_TIMESTAMP;
      b.column_size = 23;
      b.digits = 3;
      capacity = sizeof(SQL_TIMESTAMP_STRUCT);
      break;
    case Kind::kBinary:
      b.c_type = SQL_C_BINARY;
      b.sql_type = SQL_VARBINARY;
      b.column_size = std::max<SQLULEN>(1, input_bytes);
      if (b.IsOutput()) {
        capacity = std::max({capacity, kBinaryCapacity, static_cast<std::size_t>(p.size)});
        b.column_size = std::max<SQLULEN>(b.column_size, p.size > 0 ? p.size : kBinaryCapacity);
      } else if (input_bytes > kLongValueBytes) {
        b.sql_type = SQL_LONGVARBINARY;
      }
      break;
    case Kind::kGuid:
      b.c_type = SQL_C_WCHAR;
      b.sql_type = SQL_GUID;
      b.column_size = 36;
      capacity = std::max<std::size_t>(capacity, 40 * sizeof(SQLWCHAR));
      break;
    case Kind::kText:
      b.c_type = SQL_C_WCHAR;
      b.sql_type = SQL_WVARCHAR;
      b.column_size = std::max<SQLULEN>(1, input_bytes / sizeof(SQLWCHAR));
      if (b.IsOutput()) {
        std::size_t characters =
            std::max({kTextCapacity, static_cast<std::size_t>(std::max(p.size, 0)),
                      input_bytes / sizeof(SQLWCHAR)});
        capacity = (characters + 1) * sizeof(SQLWCHAR);
        b.column_size =
            std::min<SQLULEN>(4000, std::max<SQLULEN>(b.column_size, p.size > 0 ? p.size : 4000));
      } else if (input_bytes > kLongValueBytes) {
        b.sql_type = SQL_WLONGVARCHAR;
      }
      break;
  }
  if (b.IsOutput()) b.buffer.resize(std::max(capacity, b.buffer.size()));
  return b;
}

std::string JoinMarkers(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += i == 0 ? "?" : ", ?";
  return text;
}

}  // namespace

std::string DeclaredType(const DriverParameter& p) {
  const std::string t = Lower(p.type_name);
  const bool long_input = !p.IsOutput();
  // Its own size where it gives one; else the widest that can hold a value of any length
  // as a variable, or the long type for a long input.
  auto sized = [&](const std::string& name, int limit, const char* long_name, std::size_t length) {
    if (p.size > 0 && p.size <= limit) return name + "(" + std::to_string(p.size) + ")";
    if (long_input && length > static_cast<std::size_t>(limit)) return std::string(long_name);
    return name + "(" + std::to_string(limit) + ")";
  };
  if (t == "char" || t == "varchar") return sized(t, 8000, "text", WideLength(p.value));
  if (t == "nchar" || t == "nvarchar") return sized(t, 4000, "ntext", WideLength(p.value));
  if (t == "binary" || t == "varbinary") return sized(t, 8000, "image", ByteLength(p.value));
  // The long types take no output; the widest kind that can stands in.
  if (t == "text") return long_input ? t : "varchar(8000)";
  if (t == "ntext") return long_input ? t : "nvarchar(4000)";
  if (t == "image") return long_input ? t : "varbinary(8000)";
  if (t == "decimal" || t == "numeric") {
    DecimalShape shape = ShapeOf(p);
    return t + "(" + std::to_string(shape.precision) + ", " + std::to_string(shape.scale) + ")";
  }
  if (!t.empty()) return t;
  switch (p.value.type()) {
    case Value::Type::kBinary:
      return sized("varbinary", 8000, "image", ByteLength(p.value));
    case Value::Type::kText:
    case Value::Type::kNull:
      return sized("nvarchar", 4000, "ntext", WideLength(p.value));
    default:
      return BaseType(p);
  }
}

BoundCall BindRequest(const DriverRequest& request) {
  BoundCall call;
  const auto& parameters = request.parameters;
  if (request.kind == DriverRequest::Kind::kBatch) {
    std::string declaration;
    std::vector<Binding> values;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
      const DriverParameter& p = parameters[i];
      // A batch has no return status.
      if (p.direction == ParameterDirection::kReturnValue) continue;
      declaration += (declaration.empty() ? "" : ", ") + Checked(p.name) + " " + DeclaredType(p);
      if (p.IsOutput()) declaration += " OUTPUT";
      values.push_back(Bind(p, i));
    }
    if (values.empty()) {
      call.text = request.text;
      return call;
    }
    // The values follow the statement and the declaration in declared order.
    call.text = "{call sp_executesql(" + JoinMarkers(values.size() + 2) + ")}";
    call.bindings.push_back(TextInput(request.text));
    call.bindings.push_back(TextInput(declaration));
    for (Binding& b : values) call.bindings.push_back(std::move(b));
    return call;
  }

  bool has_status = false;
  std::vector<Binding> arguments;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const DriverParameter& p = parameters[i];
    if (p.direction == ParameterDirection::kReturnValue) {
      if (has_status) continue;  // one status only; a second stays as it was
      has_status = true;
      Binding status;
      status.parameter = i;
      status.io = SQL_PARAM_OUTPUT;
      status.kind = Kind::kInt;
      status.c_type = SQL_C_SBIGINT;
      status.sql_type = SQL_INTEGER;
      status.buffer.resize(sizeof(SQLBIGINT));
      status.indicator = SQL_NULL_DATA;
      call.bindings.push_back(std::move(status));
      continue;
    }
    Binding b = Bind(p, i);
    if (!p.name.empty()) b.name = Checked(p.name);
    arguments.push_back(std::move(b));
  }
  // Names only where every argument has one: a driver that binds by name takes no mixture.
  // (FreeTDS passes them by position whatever they are called, as ADO does by default.)
  if (!std::all_of(arguments.begin(), arguments.end(),
                   [](const Binding& b) { return !b.name.empty(); })) {
    for (Binding& b : arguments) b.name.clear();
  }
  call.text = std::string("{") + (has_status ? "? = " : "") + "call " + SqlName(request.text);
  if (!arguments.empty()) call.text += "(" + JoinMarkers(arguments.size()) + ")";
  call.text += "}";
  for (Binding& b : arguments) call.bindings.push_back(std::move(b));
  return call;
}

Value OutputValue(const Binding& b) {
  if (b.indicator == SQL_NULL_DATA || b.indicator < 0) return Value();
  // A longer answer than the buffer holds was cut to it.
  const std::size_t length = std::min(static_cast<std::size_t>(b.indicator), b.buffer.size());
  switch (b.kind) {
    case Kind::kInt:
      return Value(static_cast<long long>(Load<SQLBIGINT>(b)));
    case Kind::kBool:
      return Value(Load<unsigned char>(b) != 0);
    case Kind::kDouble:
      return Value(Load<double>(b));
    case Kind::kDecimal: {
      std::string text(reinterpret_cast<const char*>(b.buffer.data()), length);
      if (auto end = text.find('\0'); end != std::string::npos) text.resize(end);
      // Whole-number decimals are integers to the program, as in result columns.
      long long whole = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
      if (b.digits == 0 && ec == std::errc() && end == text.data() + text.size())
        return Value(whole);
      return Value(std::strtod(text.c_str(), nullptr));
    }
    case Kind::kDateTime: {
      auto s = Load<SQL_TIMESTAMP_STRUCT>(b);
      common::DateTime t;
      t.year = s.year;
      t.month = s.month;
      t.day = s.day;
      t.hour = s.hour;
      t.minute = s.minute;
      t.second = s.second;
      t.millisecond = std::min(999, static_cast<int>((s.fraction + 500000) / 1000000));
      return Value(t);
    }
    case Kind::kBinary:
      return Value(common::Bytes(b.buffer.begin(), b.buffer.begin() + length));
    case Kind::kGuid:
    case Kind::kText: {
      // Leave room for the terminator the driver writes when it cuts the answer.
      std::size_t units = std::min(length, b.buffer.size() - sizeof(SQLWCHAR)) / sizeof(SQLWCHAR);
      WideString wide(units, 0);
      if (units) std::memcpy(wide.data(), b.buffer.data(), units * sizeof(SQLWCHAR));
      std::string text = Narrow(wide);
      if (b.kind == Kind::kGuid) {
        if (auto guid = common::Guid::Parse(text)) return Value(*guid);
      }
      return Value(std::move(text));
    }
  }
  return Value();
}

}  // namespace db
