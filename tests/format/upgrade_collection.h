// The upgrade run in tests as the start-up check starts it: the console's collection object on a
// sandbox database, the progress window shown on it, and what the run sent and showed.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collections/database.h"
#include "db/connection.h"
#include "format/sandbox_collection.h"
#include "platform/testing/fake_platform.h"
#include "platform/scripted_user_interface.h"
#include "servers/server.h"

namespace format::testing {

// The console's collection object with the registration and services it refers to.
struct ConsoleCollection {
  platform::FakePlatform platform;
  std::unique_ptr<servers::Server> registration;
  std::unique_ptr<collections::Database> database;
};

struct UpgradeResult {
  bool completed = false;               // what Show answered
  std::vector<std::string> statements;  // every text sent on the collection's connection
  std::vector<platform::MessageRequest> boxes;
  platform::ScriptedUserInterface::ProgressRecord window;
  // The collection object the run worked on, still connected.
  std::shared_ptr<ConsoleCollection> console;
  db::Connection CollectionConnection() const { return console->database->Connection(); }

  // Executions of the statement the rung to 1.50 repeats.
  int RepeatedUpdates() const;
  // The statements without the transaction statements around each rung.
  std::vector<std::string> RungStatements() const;
};

struct UpgradeOptions {
  // Message boxes answered with OK; another box fails the run with platform::UnexpectedPrompt.
  int ok_answers = 0;
  // The collection's display name; the database's own name after the prefix when empty.
  std::string name{};
  // Called once the collection is connected, before the window is shown.
  std::function<void(db::Connection& collection)> before{};
  // Called whenever the window lets pending events run, with the bar's value then.
  std::function<void(int value)> at_progress{};
};

// Connects a collection object to the database `connection` is connected to, shows the upgrade
// window from `version_number` on it and reports what happened.
UpgradeResult RunUpgrade(SandboxServer& server, db::Connection& connection, int version_number,
                         const UpgradeOptions& options = {});

// Runs the first rung from `version_number` only: the next rung cannot begin (an injected lock
// time-out), and the run reports that in one box.
UpgradeResult RunOneRung(SandboxServer& server, db::Connection& connection, int version_number);

// The statement the rung to 1.50 repeats, as the ladder holds it.
std::string RepeatedUpdateText();

// A document with the given number, folder and kind, and a sub-document link: the shapes the
// rung to 1.50 files.
void AddDocument(db::Connection& c, int id, int folder, int type);
void Embed(db::Connection& c, int parent, int child);

}  // namespace format::testing
