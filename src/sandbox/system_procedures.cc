#include "sandbox/system_procedures.h"

#include <map>

#include "sandbox/collation.h"
#include "sandbox/object_functions.h"
#include "sandbox/security.h"

namespace sandbox {

using common::Value;

SystemArguments::SystemArguments(std::string_view procedure,
                                 std::vector<ProcedureArgument>& arguments,
                                 std::vector<std::string> parameter_names)
    : arguments_(arguments), names_(std::move(parameter_names)), slot_(names_.size(), -1) {
  size_t position = 0;
  for (size_t i = 0; i < arguments_.size(); ++i) {
    const ProcedureArgument& a = arguments_[i];
    int index = -1;
    if (a.name.empty()) {
      if (position >= names_.size()) throw errors::TooManyArguments(procedure);
      index = static_cast<int>(position++);
    } else {
      index = IndexOf(a.name);
      if (index < 0) throw errors::NotAParameter(a.name, procedure);
    }
    if (!a.is_default) slot_[static_cast<size_t>(index)] = static_cast<int>(i);
  }
}

int SystemArguments::IndexOf(std::string_view parameter) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (EqualsNoCase(names_[i], parameter)) return static_cast<int>(i);
  return -1;
}

Value SystemArguments::Get(std::string_view parameter) const {
  int index = IndexOf(parameter);
  if (index < 0 || slot_[static_cast<size_t>(index)] < 0) return Value();
  return arguments_[static_cast<size_t>(slot_[static_cast<size_t>(index)])].value;
}

bool SystemArguments::Given(std::string_view parameter) const {
  int index = IndexOf(parameter);
  return index >= 0 && slot_[static_cast<size_t>(index)] >= 0;
}

std::string SystemArguments::Text(std::string_view parameter) const {
  Value v = Get(parameter);
  return v.IsNull() ? std::string() : v.ToText();
}

void SystemArguments::SetOutput(std::string_view parameter, const Value& value) {
  int index = IndexOf(parameter);
  if (index < 0 || slot_[static_cast<size_t>(index)] < 0) return;
  arguments_[static_cast<size_t>(slot_[static_cast<size_t>(index)])].value = value;
}

std::vector<std::string> SplitObjectName(std::string_view text) {
  std::optional<std::vector<std::string>> parts = ParseObjectName(text);
  return parts ? std::move(*parts) : std::vector<std::string>{std::string(text)};
}

namespace {

const SystemProcedureTable& Registry() {
  static const SystemProcedureTable registry = [] {
    SystemProcedureTable table;
    AddSecurityProcedures(table);
    AddDatabaseProcedures(table);
    AddFullTextProcedures(table);
    AddServerProcedures(table);
    AddDynamicProcedures(table);
    AddCatalogProcedures(table);
    AddHelpProcedures(table);
    AddRenameProcedures(table);
    AddCatalogListProcedures(table);
    AddConfigureProcedures(table);
    AddCompatibilityProcedures(table);
    AddTriggerProcedures(table);
    AddForEachProcedures(table);
    return table;
  }();
  return registry;
}

}  // namespace

std::vector<std::string> SystemProcedureNames() {
  std::vector<std::string> names;
  for (const auto& entry : Registry()) names.push_back(entry.first);
  return names;
}

const SystemProcedure* FindSystemProcedure(std::string_view name) {
  const auto& registry = Registry();
  auto it = registry.find(Lower(name));
  return it == registry.end() ? nullptr : &it->second;
}

}  // namespace sandbox
