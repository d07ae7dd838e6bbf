// sp_MSforeachtable and sp_MSforeachdb: up to three commands run for each user table of the
// current database (the replace character standing for "[owner].[table]") or each database
// the login can use (standing for its name), between an optional pre- and post-command.
#include <map>
#include <string>
#include <vector>

#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/executor.h"
#include "sandbox/instance.h"
#include "sandbox/security.h"
#include "sandbox/system_procedures.h"

namespace sandbox {

namespace {

std::string Doubled(std::string_view text, char quote) {
  std::string out;
  for (char ch : text) {
    out += ch;
    if (ch == quote) out += ch;
  }
  return out;
}

// Puts name for each replace character of command. Inside a string literal the name's quotes
// are doubled, inside a bracketed name its closing brackets, so a name cannot end the literal
// and run as SQL of its own; inside a comment, what would end or open one is broken up. A quote
// in a comment starts no literal. Elsewhere, and for ordinary names everywhere, the text is the
// same as plain replacement.
std::string ReplaceForEach(std::string_view command, std::string_view replace,
                           std::string_view name) {
  std::string out;
  char closing = 0;  // the character that ends the literal or name being read, 0 outside
  bool line_comment = false;
  int block_depth = 0;  // block comments nest
  auto starts = [&](size_t i, std::string_view text) {
    return command.compare(i, text.size(), text) == 0;
  };
  auto in_comment = [&] {
    std::string text(name);
    for (char& ch : text)
      if (ch == '\n' || ch == '\r' || (block_depth > 0 && (ch == '*' || ch == '/'))) ch = ' ';
    return text;
  };
  for (size_t i = 0; i < command.size();) {
    char ch = command[i];
    if (!replace.empty() && starts(i, replace)) {
      out += line_comment || block_depth > 0 ? in_comment()
             : closing                       ? Doubled(name, closing)
                                             : std::string(name);
      i += replace.size();
      continue;
    }
    if (line_comment) {
      line_comment = ch != '\n';
    } else if (block_depth > 0 || (closing == 0 && starts(i, "/*"))) {
      if (starts(i, "/*") || starts(i, "*/")) {
        block_depth += ch == '/' ? 1 : -1;
        out += command.substr(i, 2);
        i += 2;
        continue;
      }
    } else if (closing == 0 && starts(i, "--")) {
      line_comment = true;
    } else if (closing == 0) {
      if (ch == '\'' || ch == '"') closing = ch;
      if (ch == '[') closing = ']';
    } else if (ch == closing) {
      if (i + 1 < command.size() && command[i + 1] == closing) {
        out += ch;  // a doubled quote or bracket stays inside
        ++i;
      } else {
        closing = 0;
      }
    }
    out += ch;
    ++i;
  }
  return out;
}

struct ForEachCommands {
  std::string replace = "?";
  std::vector<std::string> commands;  // @command1..3 that were given
  std::string pre, post;
};

ForEachCommands ReadCommands(const SystemArguments& args, std::string_view procedure) {
  if (!args.Given("@command1") || args.Get("@command1").IsNull())
    throw errors::MissingArgument(procedure, "@command1");
  ForEachCommands c;
  // @replacechar is nchar(1): a longer text gives its first character.
  if (std::string r = args.Text("@replacechar"); !r.empty()) {
    size_t n = 1;
    while (n < r.size() && (static_cast<unsigned char>(r[n]) & 0xC0) == 0x80) ++n;
    c.replace = r.substr(0, n);
  }
  for (const char* p : {"@command1", "@command2", "@command3"})
    if (!args.Get(p).IsNull()) c.commands.push_back(args.Text(p));
  c.pre = args.Text("@precommand");
  c.post = args.Text("@postcommand");
  return c;
}

// Runs text as EXEC of a string would: in a scope of its own, a text that does not parse
// reported without ending the loop.
void RunCommand(Executor& executor, const std::string& text) {
  std::map<std::string, VariableSlot> none;
  try {
    executor.RunNestedBatch(text, none);
  } catch (SqlError& e) {
    if (e.scope() != ErrorScope::kStatement) throw;
    executor.sink().Message(e.message());
  }
}

void RunEach(Executor& executor, const ForEachCommands& c, const std::vector<std::string>& names) {
  if (!c.pre.empty()) RunCommand(executor, c.pre);
  for (const std::string& name : names)
    for (const std::string& command : c.commands)
      RunCommand(executor, ReplaceForEach(command, c.replace, name));
  if (!c.post.empty()) RunCommand(executor, c.post);
}

std::string Bracketed(std::string_view name) { return "[" + Doubled(name, ']') + "]"; }

std::int64_t ForEachTable(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_MSforeachtable", arguments,
                       {"@command1", "@replacechar", "@command2", "@command3", "@whereand",
                        "@precommand", "@postcommand"});
  ForEachCommands c = ReadCommands(args, "sp_MSforeachtable");
  AttachedDatabase& db = executor.Db();
  const std::string where_and = args.Text("@whereand");
  // The tables are listed before any condition runs: a condition's batch may change the
  // catalogue, which would leave its objects behind.
  struct Table {
    std::int64_t id;
    std::string name;
  };
  std::vector<Table> tables;
  for (const ObjectInfo* o : db.catalog->Objects())
    if (o->type == ObjectType::kTable)
      tables.push_back({o->id, Bracketed(db.catalog->OwnerName(o->uid)) + "." + Bracketed(o->name)});
  std::vector<std::string> names;
  for (const Table& t : tables) {
    if (!where_and.empty()) {
      // The condition is SQL on sysobjects as o, as the caller wrote it.
      std::map<std::string, VariableSlot> found;
      found["@found"] = VariableSlot{SqlType::Int(), common::Value(0)};
      executor.RunNestedBatch("SELECT @found = 1 FROM dbo.sysobjects o WHERE o.id = " +
                                  std::to_string(t.id) + " " + where_and,
                              found);
      if (found["@found"].value.ToInt().value_or(0) != 1) continue;
    }
    names.push_back(t.name);
  }
  RunEach(executor, c, names);
  return 0;
}

std::int64_t ForEachDatabase(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args(
      "sp_MSforeachdb", arguments,
      {"@command1", "@replacechar", "@command2", "@command3", "@precommand", "@postcommand"});
  ForEachCommands c = ReadCommands(args, "sp_MSforeachdb");
  SessionImpl& session = executor.session();
  std::vector<std::string> names;
  for (const DatabaseRecord& d : session.instance().Databases()) {
    if (d.status & dbstatus::kOffline) continue;
    try {
      if (!HasDatabaseAccess(session, session.Database(d.dbid))) continue;
    } catch (const SqlError&) {
      continue;  // a database that cannot be opened is passed over
    }
    names.push_back(d.name);
  }
  RunEach(executor, c, names);
  return 0;
}

}  // namespace

void AddForEachProcedures(SystemProcedureTable& table) {
  table.emplace("sp_msforeachtable", ForEachTable);
  table.emplace("sp_msforeachdb", ForEachDatabase);
}

}  // namespace sandbox
