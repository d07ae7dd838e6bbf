// sp_dbcmptlevel: shows or sets the compatibility level of a database, which decides what its
// batches may say (*= and =* outer joins, for one).
#include <algorithm>
#include <string>
#include <vector>

#include "sandbox/databases.h"
#include "sandbox/instance.h"
#include "sandbox/messages.h"
#include "sandbox/session.h"
#include "sandbox/sql_error.h"
#include "sandbox/system_procedures.h"
#include "sandbox/versions.h"

namespace sandbox {

namespace {

// The levels a server of that major version takes: 60 and 65 up to 9.0, then the three or so
// versions before it.
std::vector<int> ValidLevels(int major) {
  std::vector<int> levels;
  int lowest = major <= 9 ? 60 : major <= 12 ? (major - 2) * 10 : 100;
  for (int level : {60, 65}) {
    if (level >= lowest) levels.push_back(level);
  }
  for (int level = 70; level <= major * 10; level += 10) {
    if (level >= lowest) levels.push_back(level);
  }
  return levels;
}

std::string ValidLevelsText(const std::vector<int>& levels) {
  std::string text;
  for (size_t i = 0; i < levels.size(); ++i) {
    if (i > 0) text += levels.size() > 2 ? ", " : " ";
    if (i > 0 && i + 1 == levels.size()) text += "or ";
    text += std::to_string(levels[i]);
  }
  return text;
}

// sp_dbcmptlevel [@dbname [, @new_cmptlevel]]
std::int64_t DbCmptLevel(Executor& executor, std::vector<ProcedureArgument>& arguments) {
  SystemArguments args("sp_dbcmptlevel", arguments, {"@dbname", "@new_cmptlevel"});
  SessionImpl& session = executor.session();
  InstanceImpl& instance = session.instance();
  const std::vector<int> levels = ValidLevels(executor.MajorVersion());
  if (!args.Given("@dbname")) {
    Inform(executor, errors::Raise<15048>(ValidLevelsText(levels)));
    return 1;
  }
  const std::string name = args.Text("@dbname");
  auto record = instance.FindDatabase(name);
  if (!record) throw errors::Raise<15010>(name);
  if (!args.Given("@new_cmptlevel")) {
    Inform(executor, errors::Raise<15054>(record->compatibility_level));
    return 0;
  }
  const auto level = args.Get("@new_cmptlevel").ToInt();
  if (!level || std::find(levels.begin(), levels.end(), *level) == levels.end()) {
    Inform(executor, errors::Raise<15048>(ValidLevelsText(levels)));
    return 1;
  }
  if (!MayAlterDatabase(session, *record)) throw errors::Raise<15247>();
  instance.SetCompatibilityLevel(record->dbid, static_cast<int>(*level));
  return 0;
}

}  // namespace

void AddCompatibilityProcedures(SystemProcedureTable& table) {
  table.emplace("sp_dbcmptlevel", DbCmptLevel);
}

}  // namespace sandbox
