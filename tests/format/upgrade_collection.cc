#include "format/upgrade_collection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "db/observer.h"
#include "format/names.h"
#include "format/upgrade_ladder.h"
#include "format/upgrade_run.h"

namespace format::testing {

int UpgradeResult::RepeatedUpdates() const {
  return static_cast<int>(std::count(statements.begin(), statements.end(), RepeatedUpdateText()));
}

std::vector<std::string> UpgradeResult::RungStatements() const {
  std::vector<std::string> texts;
  for (const std::string& text : statements) {
    if (text != kBeginRung && text != kCommitRung && text != kRollbackRung) texts.push_back(text);
  }
  return texts;
}

UpgradeResult RunUpgrade(SandboxServer& server, db::Connection& connection, int version_number,
                         const UpgradeOptions& options) {
  auto console = std::make_shared<ConsoleCollection>();
  platform::ScriptedUserInterface& ui = console->platform.ui;
  for (int i = 0; i < options.ok_answers; ++i) ui.QueueAnswer(platform::kAnswerOk);
  if (options.at_progress) {
    ui.SetOnPendingEvents([&] { options.at_progress(ui.progress().back().value); });
  }
  console->registration = std::make_unique<servers::Server>(
      servers::Context{console->platform.services(), server.shared_environment(), {}}, 1);
  console->registration->SetConnectionString(
      "Provider=SQLOLEDB;Data Source=(sandbox);Integrated Security=SSPI;");
  const std::string database_name = Text(connection, "SELECT DB_NAME()");
  console->database = std::make_unique<collections::Database>(
      collections::Context{console->platform.services(), server.shared_environment(), {}, {}});
  collections::Database& collection = *console->database;
  collection.SetServer(*console->registration);
  collection.SetName(options.name.empty() ? database_name.substr(kCollectionPrefix.size())
                                          : options.name);
  collection.SetDatabaseName(database_name);
  if (!collection.Connect()) throw std::runtime_error("cannot connect to " + database_name);
  if (options.before) {
    db::Connection own = collection.Connection();
    options.before(own);
  }

  auto log = std::make_shared<db::StatementLog>();
  server.environment().AddObserver(log);
  UpgradeResult result;
  try {
    frmProgress window(ui, collection, frmProgress::kUpgrade, version_number);
    result.completed = window.Show();
  } catch (...) {
    server.environment().RemoveObserver(log);
    throw;
  }
  server.environment().RemoveObserver(log);
  result.statements = log->TextsOn(collection.Connection().Id());
  result.boxes = ui.boxes();
  if (!ui.progress().empty()) result.window = ui.progress().back();
  ui.SetOnPendingEvents({});
  result.console = std::move(console);
  return result;
}

UpgradeResult RunOneRung(SandboxServer& server, db::Connection& connection, int version_number) {
  sandbox::ServerMessage error;
  error.number = 1222;
  error.severity = 16;
  error.text = "Lock request time out period exceeded.";
  // The procedures DeleteDoc and DeleteFolder hold the text too; their CREATE must not fail.
  int occurrence = 2;
  const std::vector<UpgradeRung> ladder = UpgradeLadder();
  for (const UpgradeStep& step : ladder.at(FirstRung(version_number).value()).steps) {
    if (step.text.find(kBeginRung) != std::string::npos) ++occurrence;
  }
  server.instance().InjectFault({std::string(kBeginRung), occurrence, error});
  UpgradeResult result = RunUpgrade(server, connection, version_number, {.ok_answers = 1});
  server.instance().ClearFaults();
  EXPECT_FALSE(result.completed);
  EXPECT_EQ(result.boxes.size(), 1u);
  return result;
}

std::string RepeatedUpdateText() {
  for (const UpgradeRung& rung : UpgradeLadder()) {
    for (const UpgradeStep& step : rung.steps) {
      if (step.kind == StepKind::kRepeatUntilSameCount) return step.text;
    }
  }
  return {};
}

void AddDocument(db::Connection& c, int id, int folder, int type) {
  c.Execute(
      "SET IDENTITY_INSERT Document ON INSERT INTO Document (EntryID, FolderID, TypeID, "
      "Url, CreationTime, FileModifiedDate) VALUES (" +
      std::to_string(id) + ", " + std::to_string(folder) + ", " + std::to_string(type) +
      ", N'http://example.com/" + std::to_string(id) +
      "', '20021104', '20021104') SET IDENTITY_INSERT Document OFF");
}

void Embed(db::Connection& c, int parent, int child) {
  c.Execute("INSERT INTO SubDocument (ParentEntryID, ChildEntryID) VALUES (" +
            std::to_string(parent) + ", " + std::to_string(child) + ")");
}

}  // namespace format::testing
