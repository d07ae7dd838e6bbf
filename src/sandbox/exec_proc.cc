// EXEC of stored procedures: user procedures are interpreted from their stored text, system
// procedures are C++ functions.
#include "sandbox/collation.h"
#include "sandbox/executor.h"
#include "sandbox/messages.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"
#include "sandbox/tsql/parser.h"
#include "sandbox/versions.h"

namespace sandbox {

using common::Value;
using namespace tsql;

namespace {
// SQL Server's limit for procedures calling procedures (error 217).
constexpr int kMaxProcedureNesting = 32;
}  // namespace

void Executor::Execute(const ExecuteStatement& s) {
  ObjectName name = s.procedure;
  if (name.empty()) {
    VariableSlot* slot = FindVariable(s.procedure_variable);
    if (!slot) throw errors::UndeclaredVariable(s.procedure_variable);
    std::string text = slot->value.ToText();
    name.name = text;
    name.part_count = 1;
    size_t dot = text.rfind('.');
    if (dot != std::string::npos) {
      name.name = text.substr(dot + 1);
      std::string rest = text.substr(0, dot);
      size_t dot2 = rest.rfind('.');
      name.owner = dot2 == std::string::npos ? rest : rest.substr(dot2 + 1);
      if (dot2 != std::string::npos) name.database = rest.substr(0, dot2);
      name.part_count = dot2 == std::string::npos ? 2 : 3;
    }
  }
  std::vector<Argument> arguments;
  for (const ExecuteArgument& a : s.args) {
    Argument argument;
    argument.name = a.name;
    argument.output = a.output;
    if (a.value->kind == Expr::Kind::kDefault) {
      argument.is_default = true;
    } else if (a.value->kind == Expr::Kind::kVariable) {
      const std::string& variable = a.value->As<Variable>().name;
      VariableSlot* slot = FindVariable(variable);
      if (!slot) throw errors::UndeclaredVariable(variable);
      argument.value = slot->value;
      argument.type = slot->type;
      if (a.output) argument.target_variable = variable;
    } else {
      SqlType type;
      argument.value = Evaluate(*a.value, &type);
      argument.type = type;
      if (a.output) throw errors::Raise<179>();
    }
    arguments.push_back(std::move(argument));
  }
  std::int64_t status = CallProcedure(name, arguments);
  for (const Argument& a : arguments) {
    if (!a.output || a.target_variable.empty()) continue;
    Assign(a.target_variable, a.value, a.type);
  }
  if (!s.return_variable.empty())
    Assign(s.return_variable, Value(static_cast<long long>(status)), SqlType::Int());
}

std::int64_t Executor::CallProcedure(const ObjectName& name, std::vector<Argument>& arguments) {
  if (static_cast<int>(frames_.size()) > kMaxProcedureNesting) throw errors::Raise<217>();
  CheckIdentifier(name.name);
  if (name.IsTemporary()) return CallTemporaryProcedure(name, arguments);
  AttachedDatabase* db = name.database.empty() ? &Db() : &session_.Database(name.database);
  const ObjectInfo* object = db->catalog->Find(name.name, name.owner, session_.UserId(*db));
  if (object && object->type == ObjectType::kProcedure)
    return CallUserProcedure(*db, *object, arguments);
  std::string lower = Lower(name.name);
  if (lower.rfind("sp_", 0) == 0 || lower.rfind("xp_", 0) == 0) {
    const SystemProcedure* procedure = FindSystemProcedure(lower);
    const int removed_in = procedure ? ProcedureRemovedIn(lower) : 0;
    if (removed_in != 0 && MajorVersionOf(session_.instance().config()) >= removed_in)
      throw errors::Raise<2812>(name.ToString()).WithState(62);
    if (procedure) {
      // System procedures act in the caller's database unless the name says another.
      int saved = session_.current_dbid();
      int saved_caller = caller_dbid_;
      caller_dbid_ = saved;
      session_.SetCurrent(db->dbid);
      std::int64_t status = 0;
      try {
        status = (*procedure)(*this, arguments);
      } catch (...) {
        session_.SetCurrent(saved);
        caller_dbid_ = saved_caller;
        throw;
      }
      session_.SetCurrent(saved);
      caller_dbid_ = saved_caller;
      for (Argument& a : arguments)
        if (a.client && a.output)
          a.client->value = ToClient(a.value, a.type.value_or(TypeOfClientValue(a.value)));
      return status;
    }
    // sp_ procedures of master are found from every database.
    AttachedDatabase& master = session_.Database(1);
    const ObjectInfo* in_master = master.catalog->Find(name.name, name.owner);
    if (in_master && in_master->type == ObjectType::kProcedure)
      return CallUserProcedure(*db, *in_master, arguments);
  }
  throw errors::UnknownProcedure(name.ToString());
}

std::int64_t Executor::CallUserProcedure(AttachedDatabase& db, const ObjectInfo& procedure,
                                         std::vector<Argument>& arguments) {
  CheckPermission("EXECUTE", db, &procedure);
  std::shared_ptr<const Batch> parsed = session_.ParsedProcedure(procedure.definition);
  if (parsed->statements.empty() ||
      parsed->statements[0]->kind != tsql::Statement::Kind::kCreateProcedure)
    throw errors::Raise<8624>(procedure.name, "procedure");
  const CreateProcedureStatement& definition =
      parsed->statements[0]->As<CreateProcedureStatement>();

  auto child = std::make_unique<Frame>();
  child->procedure = procedure.name;
  child->procedure_id = procedure.id;
  child->text = parsed->text;
  child->dbid = db.dbid;
  child->chain_owner = procedure.uid;
  child->depth = frame().depth + 1;
  // Parameters: positional arguments first, then named ones.
  std::vector<int> bound(definition.parameters.size(), -1);
  size_t position = 0;
  bool named_seen = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const Argument& a = arguments[i];
    size_t index = 0;
    if (a.name.empty()) {
      if (named_seen) throw errors::Raise<119>(i + 1);
      if (position >= definition.parameters.size()) throw errors::TooManyArguments(procedure.name);
      index = position++;
    } else {
      named_seen = true;
      index = definition.parameters.size();
      for (size_t k = 0; k < definition.parameters.size(); ++k)
        if (EqualsNoCase(definition.parameters[k].name, a.name)) index = k;
      if (index == definition.parameters.size())
        throw errors::NotAParameter(a.name, procedure.name);
    }
    bound[index] = static_cast<int>(i);
  }
  for (size_t k = 0; k < definition.parameters.size(); ++k) {
    const ProcedureParameter& p = definition.parameters[k];
    VariableSlot slot;
    slot.type = Translator::ResolveType(p.type, false, MajorVersion());
    int index = bound[k];
    if (index >= 0 && !arguments[static_cast<size_t>(index)].is_default) {
      const Argument& a = arguments[static_cast<size_t>(index)];
      slot.value = Convert(a.value, slot.type, Fit::kCut, a.type, 0, &session_.options().dates);
    } else if (p.default_value) {
      SqlType type;
      slot.value = Convert(Evaluate(*p.default_value, &type), slot.type, Fit::kCut, type, 0,
                           &session_.options().dates);
    } else {
      throw errors::MissingArgument(procedure.name, p.name);
    }
    child->variables[Lower(p.name)] = std::move(slot);
  }

  int saved_db = session_.current_dbid();
  int trancount = session_.trancount();
  session_.SetCurrent(db.dbid);
  OptionsScope options(session_);
  frames_.push_back(std::move(child));
  int depth = static_cast<int>(frames_.size()) - 1;
  auto finish = [&]() {
    // #tables made by the procedure end with it.
    std::vector<std::string> doomed;
    for (const auto& [key, temp] : session_.temp_tables())
      if (temp.frame_depth >= depth) doomed.push_back(key);
    for (const std::string& key : doomed) DropTemp(key);
    session_.SetCurrent(saved_db);
  };
  bool aborted_batch = false;
  try {
    RunList(definition.body);
  } catch (const AbortScope& abort) {
    aborted_batch = abort.whole_batch;
  } catch (...) {
    finish();
    frames_.pop_back();
    throw;
  }
  finish();
  std::unique_ptr<Frame> done = std::move(frames_.back());
  frames_.pop_back();
  if (aborted_batch) throw AbortScope{true};
  if (session_.trancount() != trancount) {
    Inform(*this, errors::Raise<266>(trancount, session_.trancount()));
    session_.error = 266;
  }
  // OUTPUT parameters go back to the caller's variables or client parameters.
  for (size_t k = 0; k < definition.parameters.size(); ++k) {
    int index = bound[k];
    if (index < 0) continue;
    Argument& a = arguments[static_cast<size_t>(index)];
    if (!a.output || !definition.parameters[k].output) continue;
    const VariableSlot& slot = done->variables[Lower(definition.parameters[k].name)];
    a.value = slot.value;
    a.type = slot.type;
    if (a.client) a.client->value = ToClient(slot.value, slot.type);
  }
  return done->return_status.value_or(0);
}

}  // namespace sandbox
