// A new, empty collection: the database, its prefixed name, the collection format, automatic
// shrinking and the template document.
#include "collections/databases.h"
#include "collections/sql.h"
#include "common/messages.h"
#include "common/process.h"
#include "db/connection_string.h"
#include "db/recordset.h"
#include "format/install_script.h"
#include "format/names.h"
#include "format/template_document.h"
#include "platform/user_interface.h"
#include "servers/sql_text.h"

namespace collections {

namespace {

using servers::QuoteDatabaseName;
using servers::QuoteText;

constexpr int kSqlServer7 = 7;

// How far the creation got, which decides what the clean-up drops.
enum class Stage { kNothing, kCreated, kRenamed };

}  // namespace

void Databases::ShowCreationFailure(const std::exception& error) {
  platform::MessageRequest box;
  box.text = common::LoadMessage(kMessageCreationFailed) + '\r' + detail::DescriptionOf(error);
  box.title = servers::kMessageTitle;
  box.buttons = platform::MessageButtons::kOk;
  box.icon = platform::MessageIcon::kInformation;
  context_.services.ui.ShowMessage(box);
}

bool Databases::CreateDatabase(std::string_view name, std::string_view data_file) {
  const std::string created_name(name);
  const std::string final_name = std::string(servers::kCollectionPrefix) + created_name;
  Stage stage = Stage::kNothing;
  db::Connection creation(context_.database);
  auto execute = [this](const std::string& statement) {
    command_.SetCommandText(statement);
    command_.Execute();
  };
  // Until the rename, a creation that is stopped leaves a database nothing marks as ours. A
  // leftover of an earlier attempt stays remembered when this one cannot even create.
  // The same name under way in another process stays that process's to remember.
  bool leftover_before = false;
  bool another_creation = false;
  for (const StartedCreation& known : UnfinishedCreations()) {
    if (!servers::EqualsNoCase(known.name, created_name)) continue;
    leftover_before = true;
    another_creation = !known.creator.empty() && common::ProcessTokenAlive(known.creator);
  }
  if (!another_creation) RememberCreation(created_name, Creation::kUnderWay);
  try {
    command_.SetActiveConnection(ServerConnection());
    command_.SetCommandType(db::kCmdText);
    execute("CREATE DATABASE " + QuoteDatabaseName(created_name) + " ON ( NAME = " +
            QuoteDatabaseName(created_name) + ", FILENAME = " + QuoteText(data_file) + ")");
    stage = Stage::kCreated;
    // SQL Server 7.0 renames only a database in single-user mode.
    if (server_->ProductVersion() == kSqlServer7) {
      execute("sp_dboption @dbname =" + QuoteText(created_name) +
              " , @optname = 'single user', @optvalue = 'true'");
    }
    execute("sp_renamedb @dbname =" + QuoteText(created_name) +
            " , @newname = " + QuoteText(final_name));
    stage = Stage::kRenamed;
    RememberCreation(created_name, Creation::kForgotten);
    if (server_->ProductVersion() == kSqlServer7) {
      execute("sp_dboption @dbname =" + QuoteText(final_name) +
              " , @optname = 'single user', @optvalue = 'false'");
    }

    std::string server_string = ServerConnection().ConnectionString();
    if (server_string.empty() || server_string.back() != ';') server_string += ';';
    creation.SetConnectionString(server_string +
                                 "Initial Catalog=" + db::ConnectionString::QuoteValue(final_name));
    creation.Open();
    command_.SetActiveConnection(creation);

    const common::DateTime now = context_.Now();
    format::InstallValues values;
    values.collection_guid = context_.NewGuid();
    values.creation_day = format::DayNumber(now);
    for (const std::string& statement : format::InstallationScript(values)) execute(statement);

    if (server_->ProductVersion() > kSqlServer7) {
      execute("ALTER DATABASE " + QuoteDatabaseName(final_name) + " SET AUTO_SHRINK ON;");
    } else {
      execute("EXEC sp_dboption " + QuoteText(final_name) + ", 'autoshrink', 'true'");
    }

    db::Recordset document;
    document.Open(format::kDocumentTable, creation, db::kOpenStatic, db::kLockOptimistic,
                  db::kCmdTable);
    document.AddNew();
    for (const format::TemplateColumn& column :
         format::TemplateDocumentColumns(context_.services.system.AnsiCodePage(), now)) {
      if (column.append_chunk) {
        document.Fields(column.name).AppendChunk(column.value);
      } else {
        document.Fields(column.name).SetValue(column.value);
      }
    }
    document.Update();
    document.Close();
    command_.SetActiveConnection(ServerConnection());
    creation.Close();
    return true;
  } catch (const std::exception& error) {
    ShowCreationFailure(error);
  }

  // The server drops no database a connection still uses.
  try {
    if (creation.State() == db::kStateOpen) creation.Close();
  } catch (const std::exception&) {
  }
  try {
    command_.SetActiveConnection(ServerConnection());
    command_.SetCommandType(db::kCmdText);
    // Before the rename the new database still carries the name it was created with; the
    // prefixed name may then belong to a collection that existed before.
    if (stage == Stage::kCreated) execute("DROP DATABASE " + QuoteDatabaseName(created_name));
    if (stage == Stage::kRenamed) execute("DROP DATABASE " + QuoteDatabaseName(final_name));
    // Nothing under the bare name is left (or was made by this attempt).
    if (stage == Stage::kCreated || (stage == Stage::kNothing && !leftover_before)) {
      RememberCreation(created_name, Creation::kForgotten);
      return false;
    }
  } catch (const std::exception&) {
    // Nothing more can be done; the failure itself has been reported.
  }
  // A database left under the bare name stays remembered, no longer as under way, so every
  // catalogue offers it for deletion.
  if (stage != Stage::kRenamed && !(stage == Stage::kNothing && another_creation)) {
    RememberCreation(created_name, Creation::kLeftOver);
  }
  return false;
}

}  // namespace collections
