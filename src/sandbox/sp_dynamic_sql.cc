// sp_executesql and the prepared statements of clients (sp_prepare, sp_execute, sp_prepexec,
// sp_unprepare): a statement text with a declared parameter list, run in a scope of its own
// whose variables are those parameters. Argument values are bound as variables, never put into
// the text.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/executor.h"
#include "sandbox/messages.h"
#include "sandbox/system_procedures.h"
#include "sandbox/tsql/parser.h"

namespace sandbox {

using common::Value;

namespace {

tsql::ParseOptions Options(Executor& executor) {
  return tsql::ParseOptions{executor.session().options().quoted_identifier, tsql::kMaxNesting,
                            executor.MajorVersion()};
}

std::vector<tsql::ProcedureParameter> Declared(Executor& executor, const std::string& text) {
  try {
    return tsql::ParseParameterList(text, Options(executor));
  } catch (const tsql::ParseError& e) {
    throw SqlError(e.number(), e.severity(), e.message(), ErrorScope::kStatement, e.state());
  }
}

// The type of a declared parameter. Clients that speak a newer protocol declare their date and
// time values with the types that came with it; the sandbox holds them as datetime.
SqlType ParameterType(Executor& executor, const tsql::ProcedureParameter& parameter) {
  std::string name = Lower(parameter.type.name);
  if (name == "date" || name == "time" || name == "datetime2" || name == "datetimeoffset")
    return SqlType::DateTimeType();
  return Translator::ResolveType(parameter.type, false, executor.MajorVersion());
}

// A statement that does not parse fails when it is prepared, not when it first runs.
void CheckParses(Executor& executor, const std::string& statement) {
  try {
    tsql::ParseBatch(statement, Options(executor));
  } catch (const tsql::ParseError& e) {
    throw SqlError(e.number(), e.severity(), e.message(), ErrorScope::kStatement, e.state());
  }
}

std::string ArgumentText(const ProcedureArgument& argument) {
  return argument.is_default || argument.value.IsNull() ? std::string() : argument.value.ToText();
}

// Runs the statement with its declared parameters bound to arguments[first...]: positional ones
// in declared order, named ones by name. OUTPUT arguments receive what the statement left in
// parameters declared OUTPUT.
void RunParameterised(Executor& executor, std::string_view procedure, const std::string& declared,
                      const std::string& statement, std::vector<ProcedureArgument>& arguments,
                      std::size_t first) {
  std::vector<tsql::ProcedureParameter> parameters = Declared(executor, declared);
  for (std::size_t k = 0; k < parameters.size(); ++k)
    for (std::size_t j = 0; j < k; ++j)
      if (EqualsNoCase(parameters[j].name, parameters[k].name))
        throw errors::Raise<134>(parameters[k].name);
  std::vector<int> bound(parameters.size(), -1);
  std::size_t position = 0;
  bool named_seen = false;
  for (std::size_t i = first; i < arguments.size(); ++i) {
    const ProcedureArgument& a = arguments[i];
    std::size_t index = parameters.size();
    if (a.name.empty()) {
      if (named_seen) throw errors::Raise<119>(i + 1);
      if (position >= parameters.size()) throw errors::TooManyArguments(procedure);
      index = position++;
    } else {
      named_seen = true;
      for (std::size_t k = 0; k < parameters.size(); ++k)
        if (EqualsNoCase(parameters[k].name, a.name)) index = k;
      if (index == parameters.size()) throw errors::NotAParameter(a.name, procedure);
      if (bound[index] >= 0) throw errors::Raise<8143>(a.name);
    }
    bound[index] = static_cast<int>(i);
  }
  std::map<std::string, VariableSlot> variables;
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    const tsql::ProcedureParameter& p = parameters[k];
    VariableSlot slot;
    slot.type = ParameterType(executor, p);
    int index = bound[k];
    if (index < 0 || arguments[static_cast<std::size_t>(index)].is_default) {
      throw errors::Raise<8178>(declared, statement, p.name);
    }
    const ProcedureArgument& a = arguments[static_cast<std::size_t>(index)];
    slot.value = Convert(a.value, slot.type, Fit::kCut, a.type);
    variables[p.name] = std::move(slot);
  }
  executor.RunNestedBatch(statement, variables);
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    int index = bound[k];
    if (index < 0 || !parameters[k].output) continue;
    ProcedureArgument& a = arguments[static_cast<std::size_t>(index)];
    if (!a.output) continue;
    const VariableSlot& slot = variables[parameters[k].name];
    a.value = slot.value;
    a.type = slot.type;
  }
}

// The argument at position (or named name) among the leading positional ones.
ProcedureArgument* Leading(std::vector<ProcedureArgument>& arguments, std::size_t position,
                           std::string_view name) {
  if (position >= arguments.size()) return nullptr;
  ProcedureArgument& a = arguments[position];
  if (!a.name.empty() && !EqualsNoCase(a.name, name)) return nullptr;
  return &a;
}

ProcedureArgument& Required(std::vector<ProcedureArgument>& arguments, std::size_t position,
                            std::string_view name, std::string_view procedure) {
  ProcedureArgument* a = Leading(arguments, position, name);
  if (!a || a->is_default) throw errors::MissingArgument(procedure, name);
  return *a;
}

std::int64_t Handle(const ProcedureArgument& argument, std::string_view procedure) {
  std::optional<std::int64_t> handle = argument.value.ToInt();
  if (!handle) throw errors::MissingArgument(procedure, "@handle");
  return *handle;
}

SqlError UnknownHandle(std::int64_t handle) { return errors::Raise<8179>(handle); }

std::int64_t Prepare(Executor& executor, std::vector<ProcedureArgument>& arguments,
                     std::string_view procedure) {
  ProcedureArgument& handle = Required(arguments, 0, "@handle", procedure);
  std::string declared = ArgumentText(Required(arguments, 1, "@params", procedure));
  std::string statement = ArgumentText(Required(arguments, 2, "@stmt", procedure));
  for (const tsql::ProcedureParameter& p : Declared(executor, declared)) ParameterType(executor, p);
  CheckParses(executor, statement);
  SessionImpl& session = executor.session();
  std::int64_t id = session.NextPreparedHandle();
  session.prepared()[id] = {declared, statement};
  handle.value = Value(static_cast<long long>(id));
  handle.type = SqlType::Int();
  return id;
}

std::int64_t ExecuteSql(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  constexpr std::string_view kName = "sp_executesql";
  if (arguments.empty() || arguments[0].is_default)
    throw errors::MissingArgument(kName, "@statement");
  // A null statement runs nothing, as on SQL Server.
  if (arguments[0].value.IsNull()) return 0;
  std::string statement = arguments[0].value.ToText();
  std::string declared;
  std::size_t first = 1;
  if (arguments.size() > 1 &&
      (arguments[1].name.empty() || EqualsNoCase(arguments[1].name, "@params"))) {
    declared = ArgumentText(arguments[1]);
    first = 2;
  }
  RunParameterised(executor, kName, declared, statement, arguments, first);
  return 0;
}

std::int64_t PrepareOnly(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  if (arguments.size() > 4) throw errors::TooManyArguments("sp_prepare");
  Prepare(executor, arguments, "sp_prepare");
  return 0;
}

std::int64_t PrepareAndExecute(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  std::int64_t id = Prepare(executor, arguments, "sp_prepexec");
  const SessionImpl::PreparedStatement prepared = executor.session().prepared().at(id);
  RunParameterised(executor, "sp_prepexec", prepared.parameters, prepared.text, arguments, 3);
  return 0;
}

std::int64_t ExecutePrepared(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  std::int64_t id = Handle(Required(arguments, 0, "@handle", "sp_execute"), "sp_execute");
  auto& prepared = executor.session().prepared();
  auto it = prepared.find(id);
  if (it == prepared.end()) throw UnknownHandle(id);
  // A copy: the statement may unprepare itself.
  const SessionImpl::PreparedStatement statement = it->second;
  RunParameterised(executor, "sp_execute", statement.parameters, statement.text, arguments, 1);
  return 0;
}

std::int64_t Unprepare(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  if (arguments.size() > 1) throw errors::TooManyArguments("sp_unprepare");
  std::int64_t id = Handle(Required(arguments, 0, "@handle", "sp_unprepare"), "sp_unprepare");
  if (executor.session().prepared().erase(id) == 0) throw UnknownHandle(id);
  return 0;
}

}  // namespace

void AddDynamicProcedures(SystemProcedureTable& table) {
  table["sp_executesql"] = ExecuteSql;
  table["sp_prepare"] = PrepareOnly;
  table["sp_prepexec"] = PrepareAndExecute;
  table["sp_execute"] = ExecutePrepared;
  table["sp_unprepare"] = Unprepare;
}

}  // namespace sandbox
