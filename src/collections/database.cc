#include "collections/database.h"

#include "collections/databases.h"
#include "collections/sql.h"
#include "common/error.h"
#include "common/text.h"
#include "db/connection_string.h"
#include "db/error.h"
#include "format/format_version.h"
#include "platform/user_interface.h"
#include "servers/sql_text.h"

namespace collections {

namespace {

using detail::CloseQuietly;
using detail::FirstValue;
using detail::HasRow;
using detail::SkipToRows;
using servers::QuoteDatabaseName;
using servers::QuoteText;

// A definition that cannot be found right after it was inserted will not be found by inserting
// it again; give up rather than fill the table.
constexpr int kMaxDefinitionInserts = 2;

constexpr int kSqlServer2008 = 10;

std::string Flag(bool value) { return value ? "-1" : "0"; }

}  // namespace

int ShrinkTargetMegabytes(std::int64_t pages) {
  if (pages <= 0) return 0;
  std::int64_t megabytes = pages / 128;
  std::int64_t rest = pages % 128;
  if (rest > 64 || (rest == 64 && megabytes % 2 == 1)) ++megabytes;
  if (megabytes > 5) return 3;
  if (megabytes >= 2) return 1;
  return 0;
}

Database::Database(Context context)
    : context_(std::move(context)), connection_(context_.database) {}

Database::~Database() { CloseConnection(); }

void Database::CloseConnection() {
  try {
    if (connection_.State() == db::kStateOpen) connection_.Close();
  } catch (const std::exception&) {
    // A connection the server already ended has nothing left to close.
  }
}

void Database::Orphan() {
  CloseConnection();
  connected_ = false;
  parent_ = nullptr;
  server_ = nullptr;
}

void Database::SetServer(servers::Server& server) { server_ = &server; }

void Database::SetName(std::string_view name) {
  name_ = std::string(name);
  database_name_ = std::string(servers::kCollectionPrefix) + name_;
}

std::string Database::Location() const {
  return connection_.Properties("Data Source").Value().ToText();
}

db::Connection Database::ServerConnection() const {
  if (server_ == nullptr) {
    throw common::Error(91, kDatabaseSource,
                        "The network collection '" + name_ + "' belongs to no server.");
  }
  return server_->Connection();
}

bool Database::Connect(std::string_view /*unused*/) {
  if (server_ == nullptr) {
    throw common::Error(91, kDatabaseSource,
                        "The network collection '" + name_ + "' belongs to no server.");
  }
  if (connection_.State() == db::kStateOpen) connection_.Close();
  // The name goes in quotes when it holds a ";" or a quote, so it cannot add settings.
  connection_.SetConnectionString(server_->ConnectionString() +
                                  ";Persist Security Info=True;Initial Catalog=" +
                                  db::ConnectionString::QuoteValue(database_name_));
  connection_.Open();
  if (connection_.State() != db::kStateOpen) return false;
  connected_ = true;
  command_.SetActiveConnection(connection_);
  return true;
}

servers::KeyedTexts Database::ListOf(const std::string& statement, const char* column) {
  command_.SetCommandType(db::kCmdText);
  command_.SetCommandText(statement);
  db::Recordset recordset;
  recordset.Open(command_);
  SkipToRows(recordset);
  servers::KeyedTexts list;
  if (recordset.State() == db::kStateOpen) {
    for (; !recordset.Eof(); recordset.MoveNext()) {
      list.Add(recordset.Fields(column).Value().ToText());
    }
  }
  CloseQuietly(recordset);
  return list;
}

servers::KeyedTexts Database::Roles() { return ListOf("EXEC sp_helprole", "RoleName"); }

servers::KeyedTexts Database::RoleMembers(std::string_view role) {
  return ListOf("EXEC sp_helprolemember " + QuoteText(role), "MemberName");
}

servers::KeyedTexts Database::UserRoles(std::string_view user) {
  return ListOf("EXEC sp_helpuser " + QuoteText(user), "GroupName");
}

bool Database::IsRolemember(std::string_view role) {
  command_.SetCommandType(db::kCmdText);
  command_.SetCommandText("SELECT IS_MEMBER (" + QuoteText(role) + ")");
  CloseQuietly(recordset_);
  recordset_.Open(command_);
  std::optional<db::Value> value = FirstValue(recordset_);
  CloseQuietly(recordset_);
  if (!value || value->IsNull()) return false;
  return value->ToBool().value_or(false);
}

namespace {

// SQL Server's "Invalid object name": the table was never installed.
constexpr int kInvalidObjectName = 208;

enum class Probe { kValue, kMissing, kUnknown };

// The first value of the query, or why there is none: kMissing when a table it reads does not
// exist, kUnknown for any other failure (a refused read says nothing about the collection).
Probe FirstValueOf(const db::Connection& connection, const std::string& query,
                   std::optional<db::Value>& value) {
  try {
    db::Recordset recordset;
    recordset.Open(query, connection, db::kOpenForwardOnly, db::kLockReadOnly);
    value = FirstValue(recordset);
    CloseQuietly(recordset);
    return Probe::kValue;
  } catch (const db::Error& error) {
    return error.native_error() == kInvalidObjectName ? Probe::kMissing : Probe::kUnknown;
  } catch (const std::exception&) {
    return Probe::kUnknown;
  }
}

}  // namespace

std::string Database::IncompleteReason() {
  if (servers::FindNoCase(database_name_, servers::kCollectionPrefix) == std::string::npos) {
    return "its creation stopped before the database got its collection name";
  }
  if (connection_.State() != db::kStateOpen) return std::string();
  std::optional<db::Value> version;
  switch (FirstValueOf(connection_, format::FormatVersionQuery(), version)) {
    case Probe::kMissing:
      return "it has no format version";
    case Probe::kUnknown:
      return std::string();
    case Probe::kValue:
      if (!version || version->IsNull() || !format::FormatVersionNumber(version->ToText())) {
        return "it has no readable format version";
      }
      break;
  }
  std::optional<db::Value> templates;
  switch (FirstValueOf(connection_, "SELECT COUNT(*) FROM Document WHERE EntryID = 1", templates)) {
    case Probe::kMissing:
      return "it has no document table";
    case Probe::kUnknown:
      return std::string();
    case Probe::kValue:
      if (!templates || templates->ToInt().value_or(0) == 0) return "it has no template document";
      break;
  }
  return std::string();
}

bool Database::ReportAccessProblem(const char* problem, const std::exception& error) {
  platform::MessageRequest box;
  box.text = std::string(problem) + "\r\n" + detail::DescriptionOf(error);
  box.title = servers::kMessageTitle;
  box.buttons = platform::MessageButtons::kOk;
  box.icon = platform::MessageIcon::kInformation;
  context_.services.ui.ShowMessage(box);
  return false;
}

bool Database::GrantDBAccess(std::string_view login, std::string_view user) {
  try {
    command_.SetCommandType(db::kCmdText);
    command_.SetCommandText("EXEC sp_grantdbaccess " + QuoteText(login) + ", " + QuoteText(user));
    command_.Execute();
    return true;
  } catch (const std::exception& error) {
    return ReportAccessProblem(kGrantAccessProblem, error);
  }
}

bool Database::RevokeDBAccess(std::string_view user) {
  try {
    command_.SetCommandType(db::kCmdText);
    command_.SetCommandText("EXEC sp_revokedbaccess " + QuoteText(user));
    command_.Execute();
    return true;
  } catch (const std::exception& error) {
    return ReportAccessProblem(kRevokeAccessProblem, error);
  }
}

void Database::Reconnect() {
  try {
    Connect();
  } catch (const std::exception&) {
    // The failure that brought us here is the one to report.
  }
}

bool Database::Rename(std::string_view new_name) {
  std::string name(new_name);
  if (servers::FindNoCase(name, servers::kCollectionPrefix) == 0) {
    name = common::ReplaceText(name, servers::kCollectionPrefix, "", 1, common::kReplaceAll, true);
  }
  if (name.empty()) {
    throw common::Error(5, kDatabaseSource,
                        "A network collection cannot be renamed to an empty name.");
  }
  if (servers::EqualsNoCase(name, name_)) return false;
  if (parent_ == nullptr) {
    throw common::Error(91, kDatabaseSource,
                        "The network collection '" + name_ + "' belongs to no catalogue.");
  }
  if (!parent_->DisconnectUsers(connection_, database_name_)) return false;
  std::string new_database_name = std::string(servers::kCollectionPrefix) + name;
  try {
    db::Command command;
    command.SetActiveConnection(ServerConnection());
    command.SetCommandType(db::kCmdText);
    command.SetCommandText("sp_renamedb @dbname =" + QuoteText(database_name_) +
                           " , @newname = " + QuoteText(new_database_name));
    command.Execute();
  } catch (const std::exception&) {
    Reconnect();
    throw;
  }
  SetName(name);
  Connect();
  return true;
}

void Database::ShrinkLogfile() {
  db::Command command;
  command.SetActiveConnection(ServerConnection());
  command.SetCommandType(db::kCmdText);
  command.SetCommandText(
      "SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON sysdatabases.dbid = "
      "sysaltfiles.dbid WHERE sysaltfiles.filename LIKE '%.LDF%' AND sysdatabases.name=" +
      QuoteText(database_name_));
  db::Recordset files;
  files.Open(command);
  SkipToRows(files);
  if (!HasRow(files)) {
    CloseQuietly(files);
    return;
  }
  try {
    command.SetActiveConnection(connection_);
    // Truncating and shrinking a large log takes as long as it takes.
    command.SetCommandTimeout(0);
    auto shrink_files = [&] {
      for (; !files.Eof(); files.MoveNext()) {
        std::string file = detail::Trim(files.Fields("name").Value().ToText());
        std::int64_t pages = files.Fields("size").Value().ToInt().value_or(0);
        command.SetCommandText("DBCC SHRINKFILE(" + QuoteDatabaseName(file) + ", " +
                               std::to_string(ShrinkTargetMegabytes(pages)) + ")");
        command.Execute();
      }
    };
    // Known without asking: a server whose version is unknown gets the statements as written.
    if (server_ != nullptr && server_->KnownProductVersion() >= kSqlServer2008) {
      ShrinkLogThroughSimpleRecovery(command, shrink_files);
    } else {
      command.SetCommandText("BACKUP LOG " + QuoteDatabaseName(database_name_) +
                             " WITH TRUNCATE_ONLY");
      command.Execute();
      shrink_files();
    }
  } catch (const std::exception&) {
    CloseQuietly(files);
    throw;
  }
  CloseQuietly(files);
}

void Database::ShrinkLogThroughSimpleRecovery(db::Command& command,
                                              const std::function<void()>& shrink_files) {
  // SQL Server 2008 dropped BACKUP LOG ... WITH TRUNCATE_ONLY: the simple recovery model
  // truncates the log instead. The database gets its own model back, whatever happens.
  db::Recordset recovery;
  command.SetCommandText("SELECT DATABASEPROPERTYEX(" + QuoteText(database_name_) +
                         ", 'Recovery')");
  recovery.Open(command);
  SkipToRows(recovery);
  std::string model =
      HasRow(recovery) ? detail::Trim(recovery.Fields(0).Value().ToText()) : std::string();
  CloseQuietly(recovery);
  if (model != "FULL" && model != "BULK_LOGGED") {
    // Simple already (or unknown): the log is truncated on checkpoint, nothing to switch.
    shrink_files();
    return;
  }
  const std::string alter =
      "ALTER DATABASE " + QuoteDatabaseName(database_name_) + " SET RECOVERY ";
  command.SetCommandText(alter + "SIMPLE");
  command.Execute();
  try {
    shrink_files();
  } catch (const std::exception&) {
    try {
      command.SetCommandText(alter + model);
      command.Execute();
    } catch (const std::exception&) {
      // The shrink's failure is the one to report.
    }
    throw;
  }
  command.SetCommandText(alter + model);
  command.Execute();
}

void Database::SetExtendedProperty(std::string_view value, std::int32_t entry,
                                   std::int32_t& field_number, std::string_view field_name,
                                   int field_type, bool user_property, bool visible) {
  try {
    command_.SetCommandType(db::kCmdText);
    if (field_number == 0) {
      if (field_name.empty()) return;
      const std::string select =
          "SELECT * FROM ExtendedField WHERE FieldName=" + QuoteText(field_name) +
          " AND FieldType=" + std::to_string(field_type) + ";";
      CloseQuietly(recordset_);
      command_.SetCommandText(select);
      recordset_.Open(command_, db::kOpenStatic, db::kLockOptimistic);
      for (int inserts = 0; !HasRow(recordset_); ++inserts) {
        if (inserts == kMaxDefinitionInserts) {
          CloseQuietly(recordset_);
          return;
        }
        command_.SetCommandText(
            "INSERT INTO ExtendedField (ExtFieldID, FieldType, FieldName, Visible, UserProperty) "
            "SELECT Max(ExtFieldID)+1, " +
            std::to_string(field_type) + ", " + QuoteText(field_name) + ", " + Flag(visible) +
            ", " + Flag(user_property) + " FROM ExtendedField;");
        command_.Execute();
        recordset_.Close();
        command_.SetCommandText(select);
        recordset_.Open(command_, db::kOpenStatic, db::kLockOptimistic);
      }
      recordset_.Fields("Visible").SetValue(db::Value(visible));
      recordset_.Fields("UserProperty").SetValue(db::Value(user_property));
      recordset_.Update();
      std::optional<std::int64_t> id = recordset_.Fields("ExtFieldID").Value().ToInt();
      recordset_.Close();
      if (!id) return;
      field_number = static_cast<std::int32_t>(*id);
    }
    command_.SetCommandText("UPDATE ExtendedData SET FieldValue=" + QuoteText(value) +
                            " WHERE EntryID=" + std::to_string(entry) +
                            " And ExtFieldID=" + std::to_string(field_number));
    std::int64_t changed = 0;
    command_.Execute(&changed);
    if (changed == 0) {
      command_.SetCommandText(
          "INSERT INTO ExtendedData (EntryID, ExtFieldID, FieldValue) VALUES (" +
          std::to_string(entry) + ", " + std::to_string(field_number) + ", " + QuoteText(value) +
          ");");
      command_.Execute();
    }
  } catch (const std::exception&) {
    // Properties are written on a best-effort basis; callers go on without them.
    CloseQuietly(recordset_);
  }
}

std::string Database::GetExtendedProperty(std::int32_t entry, std::int32_t field_number,
                                          int field_type, std::string_view field_name) {
  // Each step on its own: a step that fails leaves the result empty, the next still runs.
  std::string select =
      "SELECT ExtendedData.FieldValue FROM ExtendedData INNER JOIN ExtendedField ON "
      "ExtendedData.ExtFieldID = ExtendedField.ExtFieldID WHERE (((ExtendedData.EntryID)=" +
      std::to_string(entry);
  if (field_number != 0) {
    select += ") AND ((ExtendedField.ExtFieldID)=" + std::to_string(field_number) + "));";
  } else {
    select += ") AND ((ExtendedField.FieldType)=" + std::to_string(field_type) +
              ") AND ((ExtendedField.FieldName)=" + QuoteText(field_name) + "));";
  }
  std::string result;
  CloseQuietly(recordset_);
  try {
    command_.SetCommandType(db::kCmdText);
    command_.SetCommandText(select);
  } catch (const std::exception&) {
  }
  try {
    recordset_.Open(command_, db::kOpenForwardOnly, db::kLockReadOnly);
  } catch (const std::exception&) {
  }
  try {
    SkipToRows(recordset_);
    if (HasRow(recordset_)) result = recordset_.Fields("FieldValue").Value().ToText();
  } catch (const std::exception&) {
  }
  CloseQuietly(recordset_);
  return result;
}

}  // namespace collections
