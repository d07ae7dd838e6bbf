#include "db/drivers/odbc/request_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "db/error.h"
#include "db/sql_text.h"

namespace db {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Digits after the point of a number as it reads (at most 10 when unsure).
int DecimalPlaces(const Value& value) {
  if (value.type() != Value::Type::kDouble) return 0;
  std::string text = value.ToText();
  if (text.find_first_of("eE") != std::string::npos) return 10;
  std::size_t point = text.find('.');
  return point == std::string::npos ? 0
                                    : std::min<int>(static_cast<int>(text.size() - point - 1), 38);
}

// The literal of a value: a decimal's as exact digits (a float literal would make the server
// convert through float, and E notation loses digits).
std::string Literal(const DriverParameter& p, bool national) {
  std::string t = Lower(p.type_name);
  if ((t == "decimal" || t == "numeric") && p.value.type() == Value::Type::kDouble) {
    double d = *p.value.ToDouble();
    if (!std::isfinite(d)) return "NULL";
    int scale = p.precision > 0 ? std::min(p.scale, 38) : DecimalPlaces(p.value);
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", scale, d);
    return buffer;
  }
  return SqlLiteral(p.value, national);
}

bool IsNational(const DriverParameter& p) {
  std::string t = Lower(p.type_name);
  return t.empty() || t == "nchar" || t == "nvarchar" || t == "ntext" || t == "sysname";
}

// "@name" when it is a usable variable name, else nothing: such a name never reaches the text.
bool IsVariableName(const std::string& name) {
  return name.size() > 1 && name.size() <= 128 && name.front() == '@' &&
         std::all_of(name.begin() + 1, name.end(), [](char c) {
           unsigned char u = static_cast<unsigned char>(c);
           return std::isalnum(u) || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
         });
}

std::string Checked(const std::string& name) {
  if (!IsVariableName(name)) {
    throw Error(kErrorInvalidArgument, "ADODB.Command",
                "Arguments are of the wrong type, are out of acceptable range, or are in "
                "conflict with one another. (parameter name \"" +
                    name + "\")");
  }
  return name;
}

std::string OutputSelect(const std::vector<std::size_t>& outputs,
                         const std::vector<std::string>& variables) {
  std::string text = "\nSELECT 0 AS [" + std::string(kOutputMarker) + "]";
  for (std::size_t index : outputs) text += ", " + variables[index];
  return text;
}

}  // namespace

std::string DeclaredType(const DriverParameter& p) {
  std::string t = Lower(p.type_name);
  auto sized = [&](const char* name, int fallback) {
    int size = p.size > 0 && p.size <= fallback ? p.size : fallback;
    return std::string(name) + "(" + std::to_string(size) + ")";
  };
  if (t == "char" || t == "varchar") return sized(t.c_str(), 8000);
  if (t == "nchar" || t == "nvarchar") return sized(t.c_str(), 4000);
  if (t == "binary" || t == "varbinary") return sized(t.c_str(), 8000);
  // Long types cannot be variables; the widest kind that can stands in.
  if (t == "text") return "varchar(8000)";
  if (t == "ntext") return "nvarchar(4000)";
  if (t == "image") return "varbinary(8000)";
  if (t == "decimal" || t == "numeric") {
    // Its own precision and scale; without them, room for the value as it reads.
    int precision = p.precision > 0 ? std::min(p.precision, 38) : 38;
    int scale = p.precision > 0 ? std::min(p.scale, precision) : DecimalPlaces(p.value);
    return t + "(" + std::to_string(precision) + ", " + std::to_string(scale) + ")";
  }
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
      return "varbinary(8000)";
    case Value::Type::kGuid:
      return "uniqueidentifier";
    default:
      return "nvarchar(4000)";
  }
}

RenderedRequest RenderRequest(const DriverRequest& request) {
  RenderedRequest out;
  const auto& parameters = request.parameters;
  if (request.kind == DriverRequest::Kind::kBatch) {
    if (parameters.empty()) {
      out.text = request.text;
      return out;
    }
    std::vector<std::string> variables;
    std::string declare, assign;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
      const DriverParameter& p = parameters[i];
      variables.push_back(p.direction == ParameterDirection::kReturnValue ? std::string()
                                                                          : Checked(p.name));
      if (p.direction == ParameterDirection::kReturnValue) continue;
      declare += (declare.empty() ? "DECLARE " : ", ") + p.name + " " + DeclaredType(p);
      if (p.direction != ParameterDirection::kOutput)
        assign += "SET " + p.name + " = " + Literal(p, IsNational(p)) + "\n";
      if (p.IsOutput()) out.outputs.push_back(i);
    }
    out.text = declare + "\n" + assign + request.text;
    if (!out.outputs.empty()) out.text += OutputSelect(out.outputs, variables);
    return out;
  }

  // A procedure call: inputs as literals, outputs and the return status through variables.
  std::vector<std::string> variables(parameters.size());
  std::string declare, assign, arguments, status;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const DriverParameter& p = parameters[i];
    if (p.direction == ParameterDirection::kReturnValue) {
      variables[i] = "@tessera_return";
      declare += (declare.empty() ? "DECLARE " : ", ") + variables[i] + " int";
      status = variables[i] + " = ";
      out.outputs.push_back(i);
      continue;
    }
    std::string argument = p.name.empty() ? std::string() : Checked(p.name) + " = ";
    if (p.IsOutput()) {
      variables[i] = "@tessera_p" + std::to_string(i + 1);
      declare += (declare.empty() ? "DECLARE " : ", ") + variables[i] + " " + DeclaredType(p);
      if (p.direction == ParameterDirection::kInputOutput)
        assign += "SET " + variables[i] + " = " + Literal(p, IsNational(p)) + "\n";
      argument += variables[i] + " OUTPUT";
      out.outputs.push_back(i);
    } else {
      argument += Literal(p, IsNational(p));
    }
    arguments += (arguments.empty() ? " " : ", ") + argument;
  }
  if (!declare.empty()) out.text = declare + "\n" + assign;
  out.text += "EXEC " + status + SqlName(request.text) + arguments;
  if (!out.outputs.empty()) out.text += OutputSelect(out.outputs, variables);
  return out;
}

}  // namespace db
