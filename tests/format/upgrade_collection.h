// A collection for the upgrade run in tests: a connection to a sandbox database that reads and
// writes extended properties with the statements the console's collection object sends, and a
// helper that shows the progress window on it the way the start-up check does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/environment.h"
#include "format/progress_window.h"
#include "format/sandbox_collection.h"
#include "platform/scripted_user_interface.h"

namespace format::testing {

class ConnectionCollection : public Collection {
 public:
  ConnectionCollection(std::string name, db::Connection connection)
      : name_(std::move(name)), connection_(std::move(connection)) {}

  const std::string& Name() const override { return name_; }
  db::Connection Connection() const override { return connection_; }
  std::string GetExtendedProperty(std::int32_t entry, std::int32_t field_number, int field_type,
                                  std::string_view field_name) override;
  void SetExtendedProperty(std::string_view value, std::int32_t entry, std::int32_t& field_number,
                           std::string_view field_name, int field_type, bool user_property,
                           bool visible) override;
  std::string CreatePlainText(std::int32_t, std::string_view content, int,
                              std::string_view) override {
    return std::string(content);
  }

 private:
  std::string name_;
  db::Connection connection_;
};

struct UpgradeResult {
  bool completed = false;               // what Show answered
  std::vector<std::string> statements;  // every text sent on the collection's connection
  std::vector<platform::MessageRequest> boxes;
  platform::ScriptedUserInterface::ProgressRecord window;
  // Executions of the statement the rung to 1.50 repeats.
  int RepeatedUpdates() const;
  // The statements without the transaction statements around each rung.
  std::vector<std::string> RungStatements() const;
};

struct UpgradeOptions {
  // Message boxes answered with OK; another box fails the run with platform::UnexpectedPrompt.
  int ok_answers = 0;
  std::string name = "Upgrade";
  // Called whenever the window lets pending events run, with the bar's value then.
  std::function<void(int value)> at_progress{};
};

// Shows the upgrade window from `version_number` on `connection` and reports what happened.
UpgradeResult RunUpgrade(db::Environment& environment, db::Connection& connection,
                         int version_number, const UpgradeOptions& options = {});

// Runs the first rung from `version_number` only: the next rung cannot begin (an injected lock
// time-out), and the run reports that in one box.
UpgradeResult RunOneRung(SandboxServer& server, db::Connection& connection, int version_number);

// The statement the rung to 1.50 repeats, as the ladder holds it.
std::string RepeatedUpdateText();

}  // namespace format::testing
