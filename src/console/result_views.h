// The console's result lists as plain data: what each list shows (its columns and rows), read
// fresh from the server at every call. The desktop console binds them to its list views; the
// command line prints them as tables.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "collections/database.h"
#include "collections/databases.h"
#include "servers/server.h"
#include "servers/servers.h"

namespace console {

// View mode codes: the icon view of the lists the host fills from child nodes, the details view
// of the lists the console fills itself.
inline constexpr int kViewIcons = 0;
inline constexpr int kViewDetails = 3;

// Icon indices of the console's image list.
inline constexpr int kIconServersFolder = 2;
inline constexpr int kIconServerConnected = 3;
inline constexpr int kIconServerStopped = 4;
inline constexpr int kIconCollection = 5;
inline constexpr int kIconUser = 6;
inline constexpr int kIconPropertiesFolder = 7;
inline constexpr int kIconProperty = 8;
inline constexpr int kIconLoginsFolder = 9;
inline constexpr int kIconCollectionsFolder = 12;
inline constexpr int kIconServerNotConnected = 13;
inline constexpr int kIconError = 14;
inline constexpr int kIconFullText = 15;

// The rename verb, the only console verb the console enables.
inline constexpr int kVerbRename = 0x8005;

struct ListColumn {
  std::string key;
  std::string caption;
  friend bool operator==(const ListColumn&, const ListColumn&) = default;
};

struct ListRow {
  // Unique within a list when not empty ("Login" + name, "User" + name, "Server7", ...).
  std::string key;
  std::string text;  // the row text; empty for login rows
  int icon = 0;
  // Cell texts by column key.
  std::map<std::string, std::string> sub_items;
  // The row's tag: the domain object a command on the row works on. Not owned; the server list
  // that owns it outlives the list.
  servers::Server* server = nullptr;
  collections::Database* database = nullptr;

  // The cell of a column; empty when the row has none.
  std::string SubItem(std::string_view column_key) const;
};

struct ListView {
  std::string name;  // "lvServer", "lvLoginNames", ...
  int view_mode = kViewDetails;
  std::vector<ListColumn> columns;
  std::vector<ListRow> rows;

  // Adds at the end, or (at_top) in front of every row added so far. A row whose non-empty key
  // is already listed is not added (false).
  bool AddRow(ListRow row, bool at_top = false);
  // By key; nullptr when not listed.
  const ListRow* Find(std::string_view key) const;
  // Removes the row with the key; false when not listed.
  bool RemoveRow(std::string_view key);
};

// How a server's node looks in the tree (and so its row under Database Servers).
struct ServerNode {
  std::string key;      // "Server" + ServerID
  std::string caption;  // Location, with the platform suffix when connected
  int icon = 0;
  // A typed node gets Collections and Logins below it; an untyped one at most the error node.
  bool typed = false;
  bool has_children = true;
  std::string name;  // the "NAME" sub-item: the server's Name (data source)
};

// Where a server's node is being made; they differ only for a server that is not connected.
enum class ServerNodeUse {
  // Expanding Database Servers: untyped with icon 4 (service stopped) or 13 when not connected;
  // typed with icon 3, or icon 4 without children when the connection was gone after reading
  // the platform.
  kTree,
  // Rebuilt after a start or a changed registration: as kTree, but icon 14 for a typed node whose
  // connection is gone.
  kRebuilt,
  // Just registered: always typed with the platform suffix, icon 3 when connected, 5 when not.
  kAdded,
};

// Describes a server's node. The caption is Location, followed for typed nodes by the platform
// suffix (" (Windows NT)" when the platform text holds "NT", else " (" + platform + ")"). Asks
// the server only when it is connected; never throws.
ServerNode DescribeServerNode(servers::Server& server, ServerNodeUse use = ServerNodeUse::kTree);
// The caption suffix of a platform text as above.
std::string PlatformSuffix(std::string_view platform);

// The error node an unconnected server's node gets when expanded: key "Error" + ServerID,
// caption message 83, icon 14.
ListRow ErrorNodeRow(const servers::Server& server);

// lvServers: one row per registration, in list order, as DescribeServerNode gives it; column
// "NAME". The row's server is set.
ListView ServersView(servers::Servers& servers);

// lvServer: engine edition, authentication mode, xp_msver's rows and the default collation;
// empty when the server is not connected. SQL errors reach the caller.
ListView ServerView(servers::Server& server);

// lvArchives: one row per collection of the server's catalogue, in catalogue order: key
// "Server" + ServerID + ".Database" + ArchiveID, text and "NAME" the collection's Name, icon 5,
// database set. The rows come from the collection nodes, so the column is their "NAME".
ListView CollectionsView(servers::Server& server);

// lvLoginNames: the server's logins except sa (any case) and "##" logins: key "Login" + name,
// no row text, icon 6, "NAME", "TYPE" ("Windows Group", "Windows User" or "Standard"), "ACCESS"
// ("Grant" or "Deny"); server set. SQL errors reach the caller.
ListView LoginsView(servers::Server& server);

// lvUsers: the collection's users once each (key "User" + name, text the user name, "NAME",
// "LOGINNAME", "ACCESS" "Grant"), then sysadmin members without a user of their login ("By group
// membership"); icon 6, database set. SQL errors reach the caller.
ListView UsersView(collections::Database& database);

// lvProperties of a collection's Properties node: creation time, owner and name (each added at
// the top, so in that order), then the data and log files, "Search in PlainText", "Version", the
// default collation; icon 8, cells "PROPERTY" and "VALUE". SQL errors reach the caller.
ListView PropertiesView(collections::Database& database);

// lvProperties of a collection's Full-Text Index node: a single "Status" row when the index is
// not active or not supported; otherwise name, status, location, item count, size and date of
// last change, each added at the top. SQL errors reach the caller.
ListView FullTextView(collections::Database& database);

// The label of a full-text status code 0..9 ("Idle", ...); the code as text for others.
std::string FullTextStatusText(int status);

// Whether the rename verb is enabled for a selection whose first scope node has this type name:
// only for "Database".
bool RenameEnabled(std::string_view node_type);

// Renames a collection (its node's caption becomes the new name when this returns true). False
// when the collection refuses the name or the user declined to disconnect other logins; an error
// raised on the way is shown (message 355, CR, description; information icon) and gives false.
bool RenameCollection(platform::UserInterface& ui, collections::Database& database,
                      std::string_view new_name);

}  // namespace console
