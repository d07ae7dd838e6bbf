// Table variables (and, with them, what a routine's scope owns): a table variable is a #table
// of tempdb under a generated name, seen only through its @name in the frame that declared it,
// dropped when that frame ends and left alone by ROLLBACK.
#include <cstdio>

#include "sandbox/collation.h"
#include "sandbox/executor.h"
#include "sandbox/versions.h"

namespace sandbox {

using common::Value;

namespace {

// 7.0 knows no table variables or functions: its parser stops at the word.
[[noreturn]] void RefuseOn70(const char* keyword) {
  throw SqlError(156, 15, std::string("Incorrect syntax near the keyword '") + keyword + "'.",
                 ErrorScope::kBatch);
}

}  // namespace

void Executor::DeclareTableVariable(const tsql::VariableDecl& decl) {
  if (MajorVersionOf(session_.instance().config()) < 8) RefuseOn70("TABLE");
  // SQL Server names the tempdb table after its object id; error messages show that name.
  char name[16];
  std::snprintf(name, sizeof name, "#%08X",
                static_cast<unsigned>(-session_.NextTempId()) * 2654435761u);
  tsql::ObjectName storage;
  storage.name = name;
  storage.part_count = 1;
  RegisterTable(storage, DefineTable(name, *decl.table));
  frame().table_variables[Lower(decl.name)] = Lower(name);
}

std::optional<ResolvedTable> Executor::ResolveTableVariable(const tsql::ObjectName& name) {
  if (name.name.empty() || name.name[0] != '@') return std::nullopt;
  auto it = frame().table_variables.find(Lower(name.name));
  TempTable* temp = it == frame().table_variables.end() ? nullptr : session_.FindTemp(it->second);
  if (!temp) throw errors::UndeclaredVariable(name.name);
  tsql::ObjectName storage;
  storage.name = temp->info.name;
  storage.part_count = 1;
  return ResolveTable(storage);
}

void Executor::DropTableVariables(Frame& frame) {
  for (const auto& [variable, key] : frame.table_variables) DropTemp(key);
  frame.table_variables.clear();
}

void Executor::RollbackKeepingTableVariables(const std::function<void()>& rollback) {
  struct Saved {
    std::string key;
    TempTable temp;
    std::vector<std::vector<Value>> rows;
  };
  std::vector<Saved> saved;
  for (const auto& f : frames_) {
    for (const auto& [variable, key] : f->table_variables) {
      TempTable* temp = session_.FindTemp(key);
      if (!temp) continue;
      Saved s{key, *temp, {}};
      RunSql("SELECT * FROM \"temp\"." + QuoteIdentifier(temp->info.storage_name), {},
             [&](sqlite3_stmt* stmt) {
               std::vector<Value>& row = s.rows.emplace_back();
               for (int i = 0; i < sqlite3_column_count(stmt); ++i)
                 row.push_back(ReadColumn(stmt, i));
             });
      saved.push_back(std::move(s));
    }
  }
  rollback();
  if (saved.empty()) return;
  Connection& connection = session_.connection();
  connection.Exec("SAVEPOINT keep_table_variables");
  for (Saved& s : saved) {
    const std::string table = "\"temp\"." + QuoteIdentifier(s.temp.info.storage_name);
    // A table declared inside the transaction went with it; its identity counter stays.
    if (!session_.FindTemp(s.key)) {
      BuildTable("temp\x1f" + s.temp.info.storage_name, s.temp.info);
      session_.temp_tables()[s.key] = s.temp;
    }
    RunSql("DELETE FROM " + table, {});
    if (s.rows.empty()) continue;
    std::string insert = "INSERT INTO " + table + " VALUES (";
    for (size_t i = 0; i < s.rows[0].size(); ++i) insert += i ? ", ?" : "?";
    insert += ")";
    for (const std::vector<Value>& row : s.rows) RunSql(insert, row);
  }
  connection.Exec("RELEASE keep_table_variables");
}

}  // namespace sandbox
