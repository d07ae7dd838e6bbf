#include "format/upgrade_collection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "db/command.h"
#include "db/observer.h"
#include "db/recordset.h"
#include "db/sql_text.h"
#include "format/upgrade_ladder.h"
#include "format/upgrade_run.h"

namespace format::testing {
namespace {

std::string Quote(std::string_view text) { return db::SqlLiteral(common::Value(text)); }

void SkipToRows(db::Recordset& rs) {
  for (int skipped = 0; rs.State() != db::kStateOpen && skipped < 16; ++skipped) {
    rs = rs.NextRecordset();
  }
}

bool HasRow(db::Recordset& rs) { return rs.State() == db::kStateOpen && !rs.Eof(); }

}  // namespace

std::string ConnectionCollection::GetExtendedProperty(std::int32_t entry, std::int32_t field_number,
                                                      int field_type, std::string_view field_name) {
  std::string select =
      "SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON "
      "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=" +
      std::to_string(entry);
  if (field_number != 0) {
    select += ") AND ((ExtendedField.ExtFieldID)=" + std::to_string(field_number) + "));";
  } else {
    select += ") AND ((ExtendedField.FieldType)=" + std::to_string(field_type) +
              ") AND ((ExtendedField.FieldName)=" + Quote(field_name) + "));";
  }
  try {
    db::Recordset rs;
    rs.Open(select, connection_, db::kOpenForwardOnly, db::kLockReadOnly);
    SkipToRows(rs);
    return HasRow(rs) ? rs.Fields("FieldValue").Value().ToText() : std::string();
  } catch (const std::exception&) {
    return {};
  }
}

void ConnectionCollection::SetExtendedProperty(std::string_view value, std::int32_t entry,
                                               std::int32_t& field_number,
                                               std::string_view field_name, int field_type,
                                               bool user_property, bool visible) {
  const std::string flag_visible = visible ? "-1" : "0";
  const std::string flag_user = user_property ? "-1" : "0";
  db::Command command;
  try {
    command.SetActiveConnection(connection_);
    command.SetCommandType(db::kCmdText);
    if (field_number == 0) {
      if (field_name.empty()) return;
      const std::string select =
          "SELECT * FROM ExtendedField WHERE FieldName=" + Quote(field_name) +
          " AND FieldType=" + std::to_string(field_type) + ";";
      db::Recordset rs;
      command.SetCommandText(select);
      rs.Open(command, db::kOpenStatic, db::kLockOptimistic);
      if (!HasRow(rs)) {
        command.SetCommandText(
            "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName, Visible, UserProperty) "
            "SELECT Max(ExtFieldID)+1, " +
            std::to_string(field_type) + ", " + Quote(field_name) + ", " + flag_visible + ", " +
            flag_user + " FROM ExtendedField;");
        command.Execute();
        rs.Close();
        command.SetCommandText(select);
        rs.Open(command, db::kOpenStatic, db::kLockOptimistic);
        if (!HasRow(rs)) return;
      }
      rs.Fields("Visible").SetValue(db::Value(visible));
      rs.Fields("UserProperty").SetValue(db::Value(user_property));
      rs.Update();
      field_number = static_cast<std::int32_t>(rs.Fields("ExtFieldID").Value().ToInt().value());
      rs.Close();
    }
    command.SetCommandText("UPDATE ExtendedData SET FieldValue=" + Quote(value) +
                           " WHERE EntryID=" + std::to_string(entry) +
                           " And ExtFieldID=" + std::to_string(field_number));
    std::int64_t changed = 0;
    command.Execute(&changed);
    if (changed == 0) {
      command.SetCommandText("INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (" +
                             std::to_string(entry) + ", " + std::to_string(field_number) + ", " +
                             Quote(value) + ");");
      command.Execute();
    }
  } catch (const std::exception&) {
    // As the collection object: the write is given up, the caller goes on.
  }
}

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

UpgradeResult RunUpgrade(db::Environment& environment, db::Connection& connection,
                         int version_number, const UpgradeOptions& options) {
  auto log = std::make_shared<db::StatementLog>();
  environment.AddObserver(log);
  platform::ScriptedUserInterface ui;
  for (int i = 0; i < options.ok_answers; ++i) ui.QueueAnswer(platform::kAnswerOk);
  if (options.at_progress) {
    ui.SetOnPendingEvents([&] { options.at_progress(ui.progress().back().value); });
  }
  ConnectionCollection collection(options.name, connection);
  frmProgress window(ui, collection, frmProgress::kUpgrade, version_number);
  UpgradeResult result;
  try {
    result.completed = window.Show();
  } catch (...) {
    environment.RemoveObserver(log);
    throw;
  }
  environment.RemoveObserver(log);
  result.statements = log->TextsOn(connection.Id());
  result.boxes = ui.boxes();
  if (!ui.progress().empty()) result.window = ui.progress().back();
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
  UpgradeResult result =
      RunUpgrade(server.environment(), connection, version_number, {.ok_answers = 1});
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

}  // namespace format::testing
