#include "console/commands.h"

#include <initializer_list>
#include <memory>

#include "common/error.h"
#include "common/messages.h"
#include "platform/service_control.h"
#include "servers/sql_text.h"

namespace console {

namespace {

using platform::MessageIcon;

std::string Message(int number) { return common::LoadMessage(number); }
std::string Message(int number, const std::string& value) {
  return common::FormatMessage(number, {common::Value(value)});
}

std::string DescriptionOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const common::Error*>(&error)) return own->description();
  return error.what();
}

// Whether the connection's login holds any of the server roles. A server that cannot answer
// grants nothing: the command is refused rather than run blind.
bool HoldsServerRole(servers::Server& server, std::initializer_list<std::string_view> roles) {
  for (std::string_view role : roles) {
    try {
      if (server.IsRolemember(role)) return true;
    } catch (const std::exception&) {
      // Not an answer; try the next role.
    }
  }
  return false;
}

bool HoldsCollectionRole(collections::Database& database,
                         std::initializer_list<std::string_view> roles) {
  for (std::string_view role : roles) {
    try {
      if (database.IsRolemember(role)) return true;
    } catch (const std::exception&) {
      // Not an answer; try the next role.
    }
  }
  return false;
}

// The collection-role test of the commands that message 40 refuses: asked of the collection's
// own connection, where a sysadmin is dbo and so in db_owner as well.
bool HoldsCollectionAdminRole(collections::Database& database) {
  return HoldsCollectionRole(database, {"sysadmin", "db_owner"});
}

bool HoldsCollectionOrServerRole(collections::Database& database,
                                 std::initializer_list<std::string_view> collection_roles,
                                 std::initializer_list<std::string_view> server_roles) {
  if (HoldsCollectionRole(database, collection_roles)) return true;
  servers::Server* server = database.Server();
  return server != nullptr && HoldsServerRole(*server, server_roles);
}

bool Refuse(platform::UserInterface& ui, const std::string& text) {
  Tell(ui, text);
  return false;
}

// The collection's server's Name, for the messages that name it.
std::string ServerNameOf(const collections::Database& database) {
  return database.Server() != nullptr ? database.Server()->Name() : std::string();
}

// The catalogue that lists the collection; nullptr when it is no longer listed (an earlier
// command took it away).
collections::Databases* ListingCatalogue(const collections::Database& database) {
  collections::Databases* catalogue = database.Parent();
  if (catalogue == nullptr ||
      catalogue->Item(std::to_string(database.ArchiveID())).get() != &database) {
    return nullptr;
  }
  return catalogue;
}

common::Error NotListed(const collections::Database& database) {
  return common::Error(
      5, "TSAdmin.Console",
      "The network collection '" + database.Name() + "' is no longer listed on its server.");
}

// Detach (Remove) or drop (Delete) through the collection's own catalogue: a registration of
// the same server under another login numbers its collections differently, and its key could
// name another collection.
bool TakeAway(platform::UserInterface& ui, collections::Database& database, bool detach,
              const std::string& question, MessageIcon icon, bool default_no, int intro) {
  collections::Databases* catalogue = ListingCatalogue(database);
  if (catalogue == nullptr) {
    ReportError(ui, Message(intro), NotListed(database));
    return false;
  }
  if (!Ask(ui, question, icon, default_no)) return false;
  try {
    std::string key = std::to_string(database.ArchiveID());
    // The catalogue lets go of the collection on success; keep it alive until the call returns.
    std::shared_ptr<collections::Database> keep = catalogue->Item(key);
    return detach ? catalogue->Remove(key) : catalogue->Delete(key);
  } catch (const std::exception& error) {
    ReportError(ui, Message(intro), error);
    return false;
  }
}

bool ToggleFullText(platform::UserInterface& ui, collections::Database& database, int question,
                    std::string_view action) {
  if (!HoldsCollectionAdminRole(database)) return Refuse(ui, Message(40));
  if (!Ask(ui, Message(question, database.Name()), MessageIcon::kNone)) return false;
  try {
    database.DoFullTextAction(action);
    return true;
  } catch (const std::exception& error) {
    ReportError(ui, std::string(), error);
    return false;
  }
}

}  // namespace

bool Ask(platform::UserInterface& ui, const std::string& text, MessageIcon icon, bool default_no) {
  platform::MessageRequest box;
  box.text = text;
  box.title = servers::kMessageTitle;
  box.buttons = platform::MessageButtons::kYesNo;
  box.icon = icon;
  box.default_button = default_no ? 2 : 1;
  return ui.ShowMessage(box) == platform::kAnswerYes;
}

void Tell(platform::UserInterface& ui, const std::string& text, MessageIcon icon) {
  platform::MessageRequest box;
  box.text = text;
  box.title = servers::kMessageTitle;
  box.buttons = platform::MessageButtons::kOk;
  box.icon = icon;
  ui.ShowMessage(box);
}

void ReportError(platform::UserInterface& ui, const std::string& intro, const std::exception& error,
                 MessageIcon icon) {
  std::string description = DescriptionOf(error);
  Tell(ui, intro.empty() ? description : intro + "\r" + description, icon);
}

bool MayCreateCollection(platform::UserInterface& ui, servers::Server& server) {
  if (HoldsServerRole(server, {"sysadmin", "dbcreator"})) return true;
  return Refuse(ui, Message(39, server.Name()));
}

bool MayAttachCollection(platform::UserInterface& ui, servers::Server& server) {
  if (HoldsServerRole(server, {"sysadmin", "dbcreator"})) return true;
  return Refuse(ui, Message(55, server.Name()));
}

bool MayChangeOwner(platform::UserInterface& ui, collections::Database& database) {
  if (HoldsCollectionOrServerRole(database, {"db_owner"}, {"sysadmin"})) return true;
  return Refuse(ui, Message(40));
}

bool MayGrantLogin(platform::UserInterface& ui, servers::Server& server) {
  if (HoldsServerRole(server, {"sysadmin", "securityadmin"})) return true;
  return Refuse(ui, Message(49, server.Name()));
}

bool MayAddCollectionUser(platform::UserInterface& ui, collections::Database& database) {
  if (HoldsCollectionOrServerRole(database, {"db_owner", "db_accessadmin"}, {"sysadmin"})) {
    return true;
  }
  return Refuse(ui, Message(53));
}

ServiceMenuState ServiceMenuStateFor(int status, bool nt_family) {
  ServiceMenuState state;
  if (!nt_family) {
    state.start = MenuItemState{false, false};
    state.stop = MenuItemState{false, false};
    return state;
  }
  switch (status) {
    case platform::kServiceStopped:
      state.start = MenuItemState{true, false};
      state.stop = MenuItemState{false, true};
      break;
    case platform::kServiceRunning:
    case platform::kServicePaused:
      state.start = MenuItemState{false, true};
      state.stop = MenuItemState{true, false};
      break;
    case platform::kServiceUnknown:
    case platform::kServiceStartPending:
    case platform::kServiceStopPending:
    case platform::kServiceContinuePending:
    case platform::kServicePausePending:
      state.start = MenuItemState{false, true};
      state.stop = MenuItemState{false, true};
      break;
    default:
      break;
  }
  return state;
}

FullTextMenuState FullTextMenuStateFor(int full_text_status) {
  FullTextMenuState state;
  state.create = full_text_status == -1 ? MenuItemState{true, false} : MenuItemState{false, true};
  state.remove = full_text_status < 0 ? MenuItemState{false, true} : MenuItemState{true, false};
  return state;
}

namespace {

MenuItem Item(const char* name, int caption, int status_text) {
  return {name, Message(caption), Message(status_text)};
}

}  // namespace

std::optional<GroupMenu> MenuForNode(std::string_view node_type) {
  if (node_type == "DatabaseServers") {
    return GroupMenu{"mnuServers", Message(12), {Item("mnuAddSQLServer", 10, 11)}};
  }
  if (node_type == "Server") {
    return GroupMenu{"mnuServer",
                     "SQL Server",
                     {Item("mnuSQLServerProperties", 13, 87), Item("mnuDetachSQLServer", 14, 86),
                      Item("mnuStopSQLServer", 15, 84), Item("mnuStartSQLServer", 16, 85)}};
  }
  if (node_type == "Databases") {
    return GroupMenu{"mnuDatabases",
                     "Datenbanken",
                     {Item("mnuAddNewDatabase", 17, 18), Item("mnuOpenDatabase", 19, 20)}};
  }
  if (node_type == "Database") {
    return GroupMenu{"mnuDatabase",
                     Message(21),
                     {Item("mnuDeleteDatabase", 24, 25), Item("mnuCloseDatabase", 22, 23),
                      Item("mnuChangeOwner", 26, 27), Item("mnuShrinkLogfile", 353, 353)}};
  }
  if (node_type == "LoginNames") {
    return GroupMenu{"mnuLoginNames", Message(28), {Item("mnuGrantLogin", 29, 30)}};
  }
  if (node_type == "Users") {
    return GroupMenu{"mnuUsers", Message(31), {Item("mnuNewDatabaseUser", 32, 33)}};
  }
  if (node_type == "Catalog") {
    return GroupMenu{"mnuCatalog",
                     Message(321),
                     {Item("mnuAddCatalog", 322, 323), Item("mnuRemoveCatalog", 324, 325)}};
  }
  return std::nullopt;
}

std::optional<GroupMenu> MenuForRows(const std::vector<std::string>& row_keys) {
  if (row_keys.size() != 1) return std::nullopt;
  const std::string& key = row_keys.front();
  if (key.starts_with("Login")) {
    return GroupMenu{"mnuLoginName",
                     Message(28),
                     {Item("mnuRevokeLogin", 34, 35), Item("mnuLoginProperties", 5, 36)}};
  }
  if (key.starts_with("User")) {
    return GroupMenu{"mnuUser",
                     Message(31),
                     {Item("mnuRevokeDBAccess", 34, 37), Item("mnuUserProperties", 5, 38)}};
  }
  return std::nullopt;
}

bool DetachRegistration(platform::UserInterface& ui, servers::Servers& servers,
                        servers::Server& server) {
  if (!Ask(ui, Message(48, server.Name()))) return false;
  try {
    servers.Remove(std::to_string(server.ServerID()));
    return true;
  } catch (const std::exception& error) {
    ReportError(ui, std::string(), error);
    return false;
  }
}

bool StartServer(platform::UserInterface& ui, servers::Server& server) {
  if (!Ask(ui, Message(64, server.Name()))) return false;
  try {
    return server.StartService();
  } catch (const std::exception& error) {
    ReportError(ui, Message(65, server.Name()), error, MessageIcon::kCritical);
    return false;
  }
}

bool StopServer(platform::UserInterface& ui, servers::Server& server) {
  if (!Ask(ui, Message(66, server.Name()))) return false;
  try {
    if (server.StopService()) return true;
  } catch (const std::exception& error) {
    ReportError(ui, Message(68, server.Name()), error, MessageIcon::kCritical);
    return false;
  }
  Tell(ui, Message(67, server.Name()));
  return false;
}

bool DeleteCollection(platform::UserInterface& ui, collections::Database& database) {
  if (database.Server() == nullptr ||
      !HoldsServerRole(*database.Server(), {"sysadmin", "dbcreator"})) {
    return Refuse(ui, Message(46, ServerNameOf(database)));
  }
  return TakeAway(ui, database, false, Message(45, database.Name()), MessageIcon::kExclamation,
                  true, 47);
}

bool CloseCollection(platform::UserInterface& ui, collections::Database& database) {
  if (database.Server() == nullptr || !HoldsServerRole(*database.Server(), {"sysadmin"})) {
    return Refuse(ui, Message(43, ServerNameOf(database)));
  }
  std::string question = common::FormatMessage(
      42, {common::Value(database.Name()), common::Value(ServerNameOf(database))});
  return TakeAway(ui, database, true, question, MessageIcon::kQuestion, false, 44);
}

bool ShrinkLogFile(platform::UserInterface& ui, collections::Database& database) {
  // Message 40 names db_owner as enough; the collection's connection answers for both roles.
  if (!HoldsCollectionAdminRole(database)) return Refuse(ui, Message(40));
  if (!Ask(ui, Message(354, database.Name()))) return false;
  try {
    database.ShrinkLogfile();
    return true;
  } catch (const std::exception& error) {
    ReportError(ui, Message(355), error);
    return false;
  }
}

bool RemoveLogin(platform::UserInterface& ui, servers::Server& server, std::string_view login,
                 std::string_view type_text) {
  if (!HoldsServerRole(server, {"sysadmin", "securityadmin"})) {
    return Refuse(ui, Message(61, server.Name()));
  }
  if (!Ask(ui, Message(60, std::string(login)), MessageIcon::kQuestion, true)) return false;
  int kind = servers::EqualsNoCase(type_text, "Standard") ? servers::kSqlServerLogin : 0;
  try {
    return server.RevokeLogin(login, kind);
  } catch (const std::exception& error) {
    ReportError(ui, Message(62), error);
    return false;
  }
}

bool RemoveCollectionUser(platform::UserInterface& ui, collections::Database& database,
                          std::string_view user) {
  if (!HoldsCollectionOrServerRole(database, {"db_owner", "db_accessadmin"}, {"sysadmin"})) {
    return Refuse(ui, Message(58, database.Name()));
  }
  if (!Ask(ui, Message(57, std::string(user)))) return false;
  try {
    return database.RevokeDBAccess(user);
  } catch (const std::exception& error) {
    ReportError(ui, Message(59), error);
    return false;
  }
}

bool CreateFullTextIndex(platform::UserInterface& ui, collections::Database& database) {
  return ToggleFullText(ui, database, 344, "create");
}

bool RemoveFullTextIndex(platform::UserInterface& ui, collections::Database& database) {
  return ToggleFullText(ui, database, 345, "drop");
}

}  // namespace console
