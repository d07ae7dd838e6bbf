// The console's commands that open no dialog, and the permission checks and enabled states of
// the ones that do. Each command is one call: permission check, confirmation, operation and
// error report, all through the user interface it is given; it returns whether the operation
// happened, so the host only brings its tree or list up to date afterwards. Message boxes carry
// the title "Tessera Server Manager".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "collections/database.h"
#include "collections/databases.h"
#include "platform/user_interface.h"
#include "servers/server.h"
#include "servers/servers.h"

namespace console {

// ---- Permission checks -------------------------------------------------------------------
// Each returns true when the current login may run the command; otherwise it shows the refusal
// (information icon) and returns false. Roles are asked of the server's or the collection's
// connection; a failure to ask counts as not holding the role.
// Commands that need no check of their own: add registration, registration properties,
// login properties and user properties (their dialogs decide).

// Create New Network Collection: sysadmin or dbcreator, else message 39 (server Name).
bool MayCreateCollection(platform::UserInterface& ui, servers::Server& server);
// Open Network Collection (attach): sysadmin or dbcreator, else message 55 (server Name).
bool MayAttachCollection(platform::UserInterface& ui, servers::Server& server);
// Change Owner: collection role db_owner or server role sysadmin, else message 40.
bool MayChangeOwner(platform::UserInterface& ui, collections::Database& database);
// New Login: sysadmin or securityadmin, else message 49 (server Name).
bool MayGrantLogin(platform::UserInterface& ui, servers::Server& server);
// New User: db_owner or db_accessadmin in the collection, or sysadmin, else message 53.
bool MayAddCollectionUser(platform::UserInterface& ui, collections::Database& database);

// ---- Enabled states ----------------------------------------------------------------------

struct MenuItemState {
  bool enabled = true;
  bool grayed = false;
  friend bool operator==(const MenuItemState&, const MenuItemState&) = default;
};

// Start and Stop of a server's menu. std::nullopt: leave the item as it was.
struct ServiceMenuState {
  std::optional<MenuItemState> start;
  std::optional<MenuItemState> stop;
};
// By the service status (platform::kService...): stopped offers Start, running or paused offers
// Stop, unknown or pending offers neither. `nt_family` false (a console on a Windows without
// service control) disables both (not grayed).
ServiceMenuState ServiceMenuStateFor(int status, bool nt_family = true);

struct FullTextMenuState {
  MenuItemState create;
  MenuItemState remove;
};
// By the full-text status: Create only when there is no index (-1); Remove when there is one
// (0 or more).
FullTextMenuState FullTextMenuStateFor(int full_text_status);

// ---- Context menus -----------------------------------------------------------------------

struct MenuItem {
  std::string name;  // "mnuAddSQLServer", ...
  std::string caption;
  std::string status_text;
};

// A group menu: its items become the top-level items of the context menu.
struct GroupMenu {
  std::string name;  // "mnuServers", ...
  std::string caption;
  std::vector<MenuItem> items;
};

// The menu of a selected scope node by its node type name ("DatabaseServers", "Server",
// "Databases", "Database", "LoginNames", "Users", "Catalog"); nothing for other types (the root,
// Properties). Enabled states are the host's, from ServiceMenuStateFor / FullTextMenuStateFor.
std::optional<GroupMenu> MenuForNode(std::string_view node_type);
// The menu of selected list rows by their keys: exactly one row whose key begins with "Login"
// gives mnuLoginName, with "User" mnuUser; anything else nothing.
std::optional<GroupMenu> MenuForRows(const std::vector<std::string>& row_keys);

// ---- Commands ----------------------------------------------------------------------------

// Delete SQL Server Registration: asks message 48; on Yes removes the registration from the list
// and the registry. Neither the server nor its service is touched. An error is shown as its
// description alone. True when the registration was removed.
bool DetachRegistration(platform::UserInterface& ui, servers::Servers& servers,
                        servers::Server& server);

// Start: asks message 64; on Yes starts the service (and connects). True when the service
// started; the host then shows the node connected and rebuilds it. A start the service refuses
// gives false without a message; an error is shown after message 65 with the critical icon.
bool StartServer(platform::UserInterface& ui, servers::Server& server);

// Stop: asks message 66; on Yes stops the service. True when it stopped (the node then gets
// icon 4 and no children); a refused stop shows message 67; an error is shown after message 68
// with the critical icon.
bool StopServer(platform::UserInterface& ui, servers::Server& server);

// Delete Network Collection: sysadmin or dbcreator (else 46); asks 45 (exclamation, No the
// default); on Yes drops the collection through its catalogue. Error intro 47. True when it was
// dropped (the host deletes the node; `database` is gone from its catalogue then). A collection
// no longer listed (a stale row or node) is reported after the introduction without a question;
// the same holds for Close.
bool DeleteCollection(platform::UserInterface& ui, collections::Database& database);

// Close Network Collection: sysadmin (else 43); asks 42; on Yes detaches the collection through
// its own catalogue, ending other logins' connections after consent (asked through the user
// interface the catalogue was created with). Error intro 44. True when it was detached (the
// host deletes the node; `database` is gone from its catalogue then).
bool CloseCollection(platform::UserInterface& ui, collections::Database& database);

// Shrink Log File: sysadmin or db_owner asked of the collection (else 40); asks 354; on Yes shrinks
// the log. Error intro 355. True when the shrink ran.
bool ShrinkLogFile(platform::UserInterface& ui, collections::Database& database);

// Delete (a login row): sysadmin or securityadmin (else 61); asks 60 (No the default); on Yes
// removes the login's users and the login, as a SQL Server login when `type_text` is "Standard"
// (any case), as a Windows login otherwise. Error intro 62. True when the login was removed (the
// host removes the row); a login that owns a collection is refused with message 309 and false.
bool RemoveLogin(platform::UserInterface& ui, servers::Server& server, std::string_view login,
                 std::string_view type_text);

// Delete (a user row): db_owner or db_accessadmin or sysadmin (else 58); asks 57; on Yes
// removes the user from the collection. A refusal of the server is shown by the collection
// (with its own problem text); other errors after message 59. True when the user was removed.
bool RemoveCollectionUser(platform::UserInterface& ui, collections::Database& database,
                          std::string_view user);

// Create / Remove Full-Text Index: sysadmin or db_owner asked of the collection (else 40); asks
// 344 / 345 (no icon); on Yes creates or drops the index. An error is shown as its description
// alone (information icon). True when the action ran; the host then refills the index view.
bool CreateFullTextIndex(platform::UserInterface& ui, collections::Database& database);
bool RemoveFullTextIndex(platform::UserInterface& ui, collections::Database& database);

// ---- Message boxes shared by the commands ------------------------------------------------

// A Yes/No question; true on Yes.
bool Ask(platform::UserInterface& ui, const std::string& text,
         platform::MessageIcon icon = platform::MessageIcon::kQuestion, bool default_no = false);
// An OK box with the information icon (or the one given).
void Tell(platform::UserInterface& ui, const std::string& text,
          platform::MessageIcon icon = platform::MessageIcon::kInformation);
// The error report: the introduction, a carriage return and the error's description (the
// description alone when the introduction is empty).
void ReportError(platform::UserInterface& ui, const std::string& intro, const std::exception& error,
                 platform::MessageIcon icon = platform::MessageIcon::kInformation);

}  // namespace console
