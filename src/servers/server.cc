#include "servers/server.h"

#include <exception>
#include <limits>
#include <vector>

#include "common/error.h"
#include "common/messages.h"
#include "db/error.h"
#include "db/recordset.h"
#include "platform/network_probe.h"
#include "platform/samba_config.h"
#include "platform/user_interface.h"
#include "servers/registration_keys.h"
#include "servers/sql_text.h"

namespace servers {

namespace {

// Message 309: the login owns a database and cannot be removed.
constexpr int kMessageLoginOwnsDatabase = 309;

// Procedures that print or run with NOCOUNT send row-less results before their rows.
constexpr int kMaxSkippedResults = 100;

void SkipToRows(db::Recordset& recordset) {
  for (int i = 0; i < kMaxSkippedResults && recordset.State() != db::kStateOpen; ++i) {
    recordset.NextRecordset();
  }
}

// The first column of a single-row query, or nothing when no row came back.
std::optional<db::Value> FirstValue(db::Recordset& recordset) {
  SkipToRows(recordset);
  if (recordset.State() != db::kStateOpen || recordset.Eof()) return std::nullopt;
  return recordset.Fields(0).Value();
}

void CloseQuietly(db::Recordset& recordset) {
  try {
    if (recordset.State() == db::kStateOpen) recordset.Close();
  } catch (const std::exception&) {
    // Closing only frees what the rows held; nothing to report.
  }
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::string EchoFailureText(std::string_view machine, int echo_status) {
  std::string name = "'" + std::string(machine) + "'";
  switch (echo_status) {
    case platform::kEchoNoAddress:
      return "the machine name " + name + " was not found (it has no network address)";
    case platform::kIpReqTimedOut:
      return "the machine " + name + " did not answer the echo within " +
             std::to_string(kEchoTimeoutMs) + " ms";
    case platform::kIpDestHostUnreachable:
      return "the machine " + name + " cannot be reached (host unreachable)";
    case platform::kIpDestNetUnreachable:
      return "the machine " + name + " cannot be reached (network unreachable)";
    default:
      return "the machine " + name + " did not answer the echo (status " +
             std::to_string(echo_status) + ")";
  }
}

std::string MachineNameOf(std::string_view data_source) {
  size_t backslash = data_source.find('\\');
  if (backslash == std::string_view::npos || backslash == 0) return std::string(data_source);
  return std::string(data_source.substr(0, backslash));
}

std::string UncName(std::string_view address) {
  if (address.starts_with("\\\\")) return std::string(address);
  if (address.starts_with("\\")) return "\\" + std::string(address);
  return "\\\\" + std::string(address);
}

int MajorVersion(std::string_view version) {
  size_t i = 0;
  while (i < version.size() && version[i] == ' ') ++i;
  std::int64_t major = 0;
  bool any = false;
  for (; i < version.size() && version[i] >= '0' && version[i] <= '9'; ++i) {
    major = major * 10 + (version[i] - '0');
    if (major > std::numeric_limits<int>::max()) return 0;
    any = true;
  }
  return any ? static_cast<int>(major) : 0;
}

Server::Server(Context context, std::int32_t server_id)
    : context_(std::move(context)),
      registry_(context_.services.registry, context_.services.environment),
      server_id_(server_id) {
  registry_.SetClassKey(platform::kHkeyCurrentUser);
}

Server::~Server() {
  // The catalogue's collections close their own connections first; they may use this one.
  catalogue_.reset();
  command_ = db::Command();
  CloseConnection();
}

std::int32_t Server::OrdinalPosition() {
  return ReadNumber(registry_, RegistrationKey(server_id_), kOrdinalPositionValue);
}

void Server::SetOrdinalPosition(std::int32_t position) {
  if (position < 1) {
    throw common::Error(5, kServerSource,
                        "A server registration's position must be 1 or more, not " +
                            std::to_string(position) + ".");
  }
  std::int32_t old_position = OrdinalPosition();
  if (old_position == position) return;
  std::vector<std::int32_t> ids = RegistrationIds(registry_);
  auto count = static_cast<std::int32_t>(ids.size());
  if (position > count) position = count;
  for (std::int32_t id : ids) {
    std::string key = RegistrationKey(id);
    std::int32_t current = ReadNumber(registry_, key, kOrdinalPositionValue);
    if (current == old_position) {
      WriteNumber(registry_, key, kOrdinalPositionValue, position);
    } else if (old_position < 1) {
      continue;
    } else if (current < old_position && current >= position) {
      WriteNumber(registry_, key, kOrdinalPositionValue, current + 1);
    } else if (current > old_position && current <= position) {
      WriteNumber(registry_, key, kOrdinalPositionValue, current - 1);
    }
  }
}

const db::Connection& Server::RequireConnection() const {
  if (!connection_) {
    throw common::Error(91, kServerSource,
                        "The server registration " + std::to_string(server_id_) +
                            " has no connection: no connection string was assigned.");
  }
  return *connection_;
}

std::string Server::Location() const {
  return RequireConnection().Properties("Data Source").Value().ToText();
}

db::Connection Server::Connection() const { return RequireConnection(); }

void Server::SetConnectionString(std::string_view text) {
  registry_.SetClassKey(platform::kHkeyCurrentUser);
  registry_.SetSectionKey(RegistrationKey(server_id_));
  if (!registry_.KeyExists()) registry_.CreateKey();
  registry_.SetValueKey(kConnectionStringValue);
  // A connection string is data: percent signs in it are never environment references.
  registry_.SetPlainString(text);
  connection_string_ = std::string(text);
  connection_ = db::Connection(context_.database);
}

bool Server::Connect() {
  connect_tried_ = true;
  failure_reason_.clear();
  try {
    db::Connection connection = RequireConnection();
    if (connection.State() == db::kStateOpen) {
      // Already connected (a start of a running service connects again): the open
      // connection is the answer, not the "object is open" error a new open would raise.
      command_.SetActiveConnection(connection);
      connected_ = true;
      return true;
    }
    connection.SetCursorLocation(db::kUseServer);
    connection.SetConnectionString(connection_string_ + kConnectTimeoutSuffix);
    connection.Properties("Persist Security Info").SetValue(db::Value(true));
    name_ = connection.Properties("Data Source").Value().ToText();
    machine_name_ = MachineNameOf(name_);
    // An unreachable machine costs the echo's wait, not the connection's time-out.
    if (!CheckNetwork()) return false;
    connection.Open();
    if (connection.State() != db::kStateOpen) {
      failure_reason_ = "the connection to " + name_ + " did not open";
      return false;
    }
    command_.SetActiveConnection(connection);
    connected_ = true;
    return true;
  } catch (const common::Error& error) {
    connected_ = false;
    description_ = error.description();
    failure_reason_ = error.number() == db::kErrorAuthenticationFailed
                          ? "the login failed: " + description_
                          : description_;
  } catch (const std::exception& error) {
    connected_ = false;
    description_ = error.what();
    failure_reason_ = description_;
  }
  if (failure_reason_.empty()) failure_reason_ = "the connection failed without a reason given";
  return false;
}

bool Server::CheckNetwork() {
  platform::NetworkProbe& probe = context_.services.network;
  int echo = probe.Echo(machine_name_, kEchoPayload, kEchoTimeoutMs);
  if (echo != platform::kEchoSuccess) {
    failure_reason_ = EchoFailureText(machine_name_, echo);
    return false;
  }
  try {
    std::string address = probe.LookupAddress(machine_name_);
    // Without an address there is no machine to ask; "\\" alone would ask this one.
    if (!address.empty()) {
      platform::JoinInformation join = probe.GetJoinInformation(UncName(address));
      if (join.status == platform::kJoinStatusWorkgroup ||
          join.status == platform::kJoinStatusDomain) {
        joined_ = true;
      }
    }
  } catch (const std::exception&) {
    // The join state only gates the service status; the machine answered all the same.
  }
  return true;
}

std::string Server::CurrentUser() {
  if (!connection_ || connection_->State() != db::kStateOpen) return std::string();
  db::Recordset recordset;
  recordset.Open("SELECT SUSER_SNAME()", *connection_);
  std::optional<db::Value> value = FirstValue(recordset);
  CloseQuietly(recordset);
  return value ? value->ToText() : std::string();
}

KeyedTexts Server::UserRoles(std::string_view login) {
  command_.SetActiveConnection(RequireConnection());
  command_.SetCommandType(db::kCmdText);
  command_.SetCommandText("EXEC master..sp_helpuser " + QuoteText(login));
  db::Recordset recordset;
  recordset.Open(command_);
  SkipToRows(recordset);
  KeyedTexts roles;
  if (recordset.State() == db::kStateOpen) {
    for (; !recordset.Eof(); recordset.MoveNext()) {
      roles.Add(recordset.Fields("GroupName").Value().ToText());
    }
  }
  CloseQuietly(recordset);
  return roles;
}

bool Server::IsRolemember(std::string_view role, std::string_view login) {
  command_.SetActiveConnection(RequireConnection());
  command_.SetCommandType(db::kCmdText);
  if (!login.empty()) {
    command_.SetCommandText("SELECT IS_SRVROLEMEMBER (" + QuoteText(role) + "," + QuoteText(login) +
                            ")");
  } else {
    command_.SetCommandText("SELECT IS_SRVROLEMEMBER (" + QuoteText(role) + ")");
  }
  db::Recordset recordset;
  recordset.Open(command_);
  std::optional<db::Value> value = FirstValue(recordset);
  CloseQuietly(recordset);
  if (!value || value->IsNull()) return false;
  return value->ToBool().value_or(false);
}

CollectionCatalogue& Server::Databases() {
  if (catalogue_) return *catalogue_;
  if (!context_.catalogue_factory) {
    throw common::Error(91, kServerSource,
                        "The server registration " + std::to_string(server_id_) +
                            " was created without a collection catalogue.");
  }
  std::unique_ptr<CollectionCatalogue> catalogue = context_.catalogue_factory();
  if (!catalogue) {
    throw common::Error(91, kServerSource, "The collection catalogue could not be created.");
  }
  catalogue_ = std::move(catalogue);
  if (!connection_ || connection_->State() == db::kStateClosed) return *catalogue_;
  catalogue_->SetServer(*this);
  if (connection_->State() == db::kStateClosed) return *catalogue_;
  ReadCatalogue(*catalogue_);
  return *catalogue_;
}

void Server::ReadCatalogue(CollectionCatalogue& catalogue) {
  db::Connection& connection = *connection_;
  connection.Execute("SET NOCOUNT ON");
  connection.Execute("SET ANSI_NULL_DFLT_ON ON");
  db::Recordset recordset;
  for (int failures = 0;;) {
    try {
      recordset = db::Recordset();
      recordset.SetCursorLocation(db::kUseClient);
      recordset.Open("EXEC master..sp_helpdb", connection, db::kOpenForwardOnly,
                     db::kLockOptimistic, db::kCmdText);
      SkipToRows(recordset);
      break;
    } catch (const common::Error&) {
      // sp_helpdb fails on a database whose owner login was dropped: give such databases to
      // "sa" and ask once more.
      if (++failures >= 2) return;
      try {
        RepairOrphanedOwners();
      } catch (const common::Error&) {
        ReturnToMaster();
        return;
      }
    }
  }
  if (recordset.State() != db::kStateOpen) return;
  for (; !recordset.Eof(); recordset.MoveNext()) {
    std::string name = recordset.Fields("name").Value().ToText();
    size_t prefix = FindNoCase(name, kCollectionPrefix);
    if (prefix == std::string::npos) continue;
    FoundCollection found;
    found.name = name.substr(prefix + kCollectionPrefix.size());
    found.database_name = name;
    found.size = recordset.Fields("db_size").Value().ToText();
    found.created = recordset.Fields("created").Value().ToText();
    catalogue.AddExisting(found);
  }
  CloseQuietly(recordset);
  catalogue.EndOfList();
}

void Server::RepairOrphanedOwners() {
  db::Connection& connection = *connection_;
  std::vector<std::string> names;
  {
    // Read every name before changing databases, so no statement runs while rows are pending.
    db::Recordset recordset;
    recordset.Open("SELECT name FROM master..sysdatabases Where SUSER_SNAME(sid) Is Null",
                   connection);
    SkipToRows(recordset);
    if (recordset.State() == db::kStateOpen) {
      for (; !recordset.Eof(); recordset.MoveNext()) {
        names.push_back(recordset.Fields(0).Value().ToText());
      }
    }
    CloseQuietly(recordset);
  }
  for (const std::string& name : names) {
    connection.Execute("USE " + QuoteDatabaseName(name));
    connection.Execute("EXEC sp_changedbowner 'sa'");
  }
  connection.Execute("USE master");
}

void Server::ReturnToMaster() {
  if (!connection_ || connection_->State() != db::kStateOpen) return;
  try {
    connection_->Execute("USE master");
  } catch (const std::exception&) {
    // Best effort: the failure that brought us here is the one to report.
  }
}

std::optional<std::string> Server::RevokeUsers(std::string_view login) {
  db::Connection& connection = *connection_;
  db::Recordset databases;
  databases.SetActiveConnection(connection);
  databases.SetCursorLocation(db::kUseClient);
  databases.SetCursorType(db::kOpenForwardOnly);
  databases.SetLockType(db::kLockOptimistic);
  databases.Open("SET NOCOUNT ON");
  CloseQuietly(databases);
  databases.Open("EXEC master..sp_helpdb", db::kOpenUnspecified, db::kLockUnspecified,
                 db::kCmdText);
  SkipToRows(databases);
  if (databases.State() != db::kStateOpen) return std::nullopt;
  for (; !databases.Eof(); databases.MoveNext()) {
    std::string database = databases.Fields("name").Value().ToText();
    if (EqualsNoCase(databases.Fields("owner").Value().ToText(), login)) {
      CloseQuietly(databases);
      return database;
    }
    db::Recordset users;
    users.SetActiveConnection(connection);
    try {
      users.Open("USE " + QuoteDatabaseName(database));
    } catch (const db::Error&) {
      // A database the administrator may not enter (a securityadmin is no user of model) is
      // passed by: a user of the login there makes the server refuse to drop the login, with its
      // own message, so nothing is removed blind.
      CloseQuietly(users);
      continue;
    }
    CloseQuietly(users);
    users.Open("SELECT db_name(), name FROM sysusers WHERE sid=suser_sid(" + QuoteText(login) +
               ")");
    SkipToRows(users);
    if (users.State() == db::kStateOpen && !users.Eof()) {
      std::string user = users.Fields("name").Value().ToText();
      if (!EqualsNoCase(user, "dbo")) {
        command_.SetCommandText("EXEC sp_revokedbaccess " + QuoteText(user));
        command_.Execute();
      }
    }
    CloseQuietly(users);
  }
  CloseQuietly(databases);
  return std::nullopt;
}

bool Server::RevokeLogin(std::string_view login, int kind) {
  if (!connection_ || connection_->State() == db::kStateClosed) return false;
  command_.SetActiveConnection(*connection_);
  command_.SetCommandType(db::kCmdText);
  std::optional<std::string> owned;
  try {
    owned = RevokeUsers(login);
  } catch (const std::exception&) {
    ReturnToMaster();
    throw;
  }
  // The walk leaves the connection in the last database it visited; the collection there may
  // be detached or dropped next, which a connection using it would prevent.
  ReturnToMaster();
  if (owned) {
    platform::MessageRequest box;
    box.text = common::FormatMessage(kMessageLoginOwnsDatabase,
                                     {db::Value(std::string(login)), db::Value(*owned)});
    box.title = kMessageTitle;
    box.buttons = platform::MessageButtons::kOk;
    box.icon = platform::MessageIcon::kInformation;
    context_.services.ui.ShowMessage(box);
    return false;
  }
  if (kind == kSqlServerLogin) {
    command_.SetCommandText("EXEC master..sp_droplogin " + QuoteText(login));
  } else {
    command_.SetCommandText("EXEC master..sp_revokelogin " + QuoteText(login));
  }
  command_.Execute();
  return true;
}

int Server::Status() {
  if (!joined_) return platform::kServiceUnknown;
  try {
    return context_.services.service_control.Status("\\\\" + name_);
  } catch (const std::exception&) {
    return platform::kServiceUnknown;
  }
}

bool Server::StartService() {
  bool started = false;
  try {
    started = context_.services.service_control.Start(name_);
  } catch (const std::exception&) {
    started = false;
  }
  Connect();
  return started;
}

void Server::CloseConnection() {
  if (connection_ && connection_->State() == db::kStateOpen) {
    try {
      connection_->Close();
    } catch (const std::exception&) {
      // A session the server already ended has nothing left to close.
    }
  }
}

bool Server::StopService() {
  CloseConnection();
  try {
    return context_.services.service_control.Stop(name_);
  } catch (const std::exception&) {
    return false;
  }
}

std::string Server::Version(std::string_view name) {
  try {
    if (!connection_) return std::string();
    db::Recordset recordset;
    recordset.Open("EXEC master..xp_msver " + QuoteText(name), *connection_, db::kOpenForwardOnly,
                   db::kLockReadOnly);
    SkipToRows(recordset);
    std::string value;
    if (recordset.State() == db::kStateOpen && !recordset.Eof()) {
      value = recordset.Fields("Character_Value").Value().ToText();
    }
    CloseQuietly(recordset);
    return value;
  } catch (const std::exception&) {
    return std::string();
  }
}

int Server::ProductVersion() {
  if (major_version_ == 0) major_version_ = MajorVersion(Version("ProductVersion"));
  return major_version_;
}

int Server::KnownProductVersion() const {
  if (major_version_ != 0) return major_version_;
  try {
    if (connection_ && connection_->State() == db::kStateOpen)
      return MajorVersion(connection_->Properties("DBMS Version").Value().ToText());
  } catch (const std::exception&) {
    // A driver that cannot tell leaves the version unknown.
  }
  return 0;
}

int Server::LoginMode() {
  try {
    if (!connection_) return kLoginModeUnknown;
    db::Recordset recordset;
    recordset.Open("EXEC master..xp_loginconfig 'login mode'", *connection_, db::kOpenForwardOnly,
                   db::kLockReadOnly);
    SkipToRows(recordset);
    std::string mode;
    if (recordset.State() == db::kStateOpen && !recordset.Eof()) {
      mode = Lower(recordset.Fields("config_value").Value().ToText());
    }
    CloseQuietly(recordset);
    if (mode == "mixed") return kLoginModeMixed;
    if (mode == "windows nt authentication") return kLoginModeWindows;
  } catch (const std::exception&) {
    // A server that cannot tell its mode counts as unknown.
  }
  return kLoginModeUnknown;
}

void Server::RemoveRegistration() {
  registry_.SetClassKey(platform::kHkeyCurrentUser);
  registry_.SetSectionKey(RegistrationKey(server_id_));
  if (registry_.KeyExists()) registry_.DeleteKey();
}

}  // namespace servers
