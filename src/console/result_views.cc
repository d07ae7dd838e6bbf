#include "console/result_views.h"

#include <algorithm>
#include <optional>

#include "common/messages.h"
#include "common/value_format.h"
#include "console/commands.h"
#include "db/recordset.h"
#include "platform/service_control.h"
#include "servers/keyed_texts.h"
#include "servers/sql_text.h"

namespace console {

namespace {

using servers::EqualsNoCase;
using servers::FindNoCase;
using servers::QuoteText;

// Procedures that print or run with NOCOUNT answer with row-less results first.
constexpr int kMaxSkippedResults = 100;

std::string Message(int number) { return common::LoadMessage(number); }

void SkipToRows(db::Recordset& recordset) {
  for (int i = 0; i < kMaxSkippedResults && recordset.State() != db::kStateOpen; ++i) {
    recordset.NextRecordset();
  }
}

bool HasRow(db::Recordset& recordset) {
  return recordset.State() == db::kStateOpen && !recordset.Eof();
}

void CloseQuietly(db::Recordset& recordset) {
  try {
    if (recordset.State() == db::kStateOpen) recordset.Close();
  } catch (const std::exception&) {
    // Closing only frees what the rows held.
  }
}

// Opens a statement on the connection, positioned on its first result with rows.
db::Recordset Query(const db::Connection& connection, const std::string& statement) {
  db::Recordset recordset;
  recordset.Open(statement, connection, db::kOpenForwardOnly, db::kLockReadOnly);
  SkipToRows(recordset);
  return recordset;
}

// The first column of the first row as text ("" for null or no row).
std::string FirstText(const db::Connection& connection, const std::string& statement) {
  db::Recordset recordset = Query(connection, statement);
  std::string text = HasRow(recordset) ? recordset.Fields(0).Value().ToText() : std::string();
  CloseQuietly(recordset);
  return text;
}

std::string Text(db::Recordset& recordset, std::string_view column) {
  return recordset.Fields(column).Value().ToText();
}

bool IsOne(db::Recordset& recordset, std::string_view column) {
  return recordset.Fields(column).Value().ToInt().value_or(0) == 1;
}

std::string Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::string();
  size_t last = text.find_last_not_of(kBlanks);
  return std::string(text.substr(first, last - first + 1));
}

// The non-empty runs of characters other than line feed, form feed and carriage return.
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find_first_of("\n\f\r", i);
    if (end == std::string_view::npos) end = text.size();
    if (end > i) lines.emplace_back(text.substr(i, end - i));
    i = end + 1;
  }
  return lines;
}

std::vector<ListColumn> Columns(std::initializer_list<std::pair<const char*, int>> columns) {
  std::vector<ListColumn> result;
  for (const auto& [key, caption] : columns) result.push_back({key, Message(caption)});
  return result;
}

ListView NewView(const char* name, int mode, std::vector<ListColumn> columns) {
  ListView view;
  view.name = name;
  view.view_mode = mode;
  view.columns = std::move(columns);
  return view;
}

// A row of a two-column property list: the label is the row text and the first cell.
ListRow PropertyRow(const std::string& label, const std::string& value,
                    const char* label_key = "PROPERTY") {
  ListRow row;
  row.text = label;
  row.icon = kIconProperty;
  row.sub_items[label_key] = label;
  row.sub_items["VALUE"] = value;
  return row;
}

std::string ServerLocation(const servers::Server& server) {
  try {
    return server.Location();
  } catch (const std::exception&) {
    // A registration without a connection string is known by its captured name only.
    return server.Name();
  }
}

int ServiceStatus(servers::Server& server) {
  try {
    return server.Status();
  } catch (const std::exception&) {
    return 0;
  }
}

// A file size in 8 KB pages as megabytes with one decimal.
std::string Megabytes(const db::Value& pages) {
  double megabytes = pages.ToDouble().value_or(0) / 128.0;
  return common::FormatValue(common::Value(megabytes), "#,##0.0") + " MB";
}

}  // namespace

std::string ListRow::SubItem(std::string_view column_key) const {
  auto it = sub_items.find(std::string(column_key));
  return it == sub_items.end() ? std::string() : it->second;
}

bool ListView::AddRow(ListRow row, bool at_top) {
  if (!row.key.empty() && Find(row.key) != nullptr) return false;
  if (at_top) {
    rows.insert(rows.begin(), std::move(row));
  } else {
    rows.push_back(std::move(row));
  }
  return true;
}

const ListRow* ListView::Find(std::string_view key) const {
  auto it = std::find_if(rows.begin(), rows.end(),
                         [&](const ListRow& row) { return !key.empty() && row.key == key; });
  return it == rows.end() ? nullptr : &*it;
}

bool ListView::RemoveRow(std::string_view key) {
  auto it = std::find_if(rows.begin(), rows.end(),
                         [&](const ListRow& row) { return !key.empty() && row.key == key; });
  if (it == rows.end()) return false;
  rows.erase(it);
  return true;
}

std::string PlatformSuffix(std::string_view platform) {
  if (FindNoCase(platform, "NT") != std::string_view::npos) return Message(9);
  return " (" + std::string(platform) + ")";
}

ServerNode DescribeServerNode(servers::Server& server, ServerNodeUse use) {
  ServerNode node;
  node.key = "Server" + std::to_string(server.ServerID());
  node.name = server.Name();
  node.has_children = true;
  if (use == ServerNodeUse::kAdded) {
    node.typed = true;
    node.caption = ServerLocation(server) + PlatformSuffix(server.Version("Platform"));
    node.icon = server.Connected() ? kIconServerConnected : kIconCollection;
    return node;
  }
  if (!server.Connected()) {
    node.typed = false;
    node.caption = ServerLocation(server);
    node.icon = ServiceStatus(server) == platform::kServiceStopped ? kIconServerStopped
                                                                   : kIconServerNotConnected;
    return node;
  }
  node.typed = true;
  std::string platform = server.Version("Platform");
  node.caption = ServerLocation(server) + PlatformSuffix(platform);
  if (!server.Connected()) {
    node.icon = use == ServerNodeUse::kRebuilt ? kIconError : kIconServerStopped;
    node.has_children = false;
  } else {
    node.icon = kIconServerConnected;
  }
  return node;
}

ListRow ErrorNodeRow(const servers::Server& server) {
  ListRow row;
  row.key = "Error" + std::to_string(server.ServerID());
  row.text = Message(83);
  row.icon = kIconError;
  row.sub_items["NAME"] = row.text;
  return row;
}

ListView ServersView(servers::Servers& servers) {
  ListView view = NewView("lvServers", kViewIcons, Columns({{"NAME", 298}}));
  for (const std::shared_ptr<servers::Server>& server : servers) {
    ServerNode node = DescribeServerNode(*server);
    ListRow row;
    row.key = node.key;
    row.text = node.caption;
    row.icon = node.icon;
    row.sub_items["NAME"] = node.name;
    row.server = server.get();
    view.AddRow(std::move(row));
  }
  return view;
}

ListView ServerView(servers::Server& server) {
  // The rows' first cell stands in the list's first column, "NAME".
  ListView view = NewView("lvServer", kViewDetails, Columns({{"NAME", 298}, {"VALUE", 303}}));
  if (!server.Connected()) return view;
  db::Connection connection = server.Connection();

  std::vector<std::string> lines = Lines(FirstText(connection, "SELECT @@VERSION"));
  view.AddRow(PropertyRow("Engine Edition", lines.size() >= 4 ? lines[3] : std::string(), "NAME"));

  int mode_message = 105;
  switch (server.LoginMode()) {
    case servers::kLoginModeWindows:
      mode_message = 104;
      break;
    case servers::kLoginModeMixed:
      mode_message = 320;
      break;
    default:
      break;
  }
  view.AddRow(PropertyRow(Message(351), Message(mode_message), "NAME"));

  db::Recordset versions = Query(connection, "EXEC master..xp_msver");
  for (; HasRow(versions); versions.MoveNext()) {
    view.AddRow(
        PropertyRow(Text(versions, "Name"), Trim(Text(versions, "Character_Value")), "NAME"));
  }
  CloseQuietly(versions);

  std::string collation =
      FirstText(connection, "SELECT SERVERPROPERTY('Collation') AS Server_Default_Collation;");
  view.AddRow(PropertyRow(Message(350), Trim(collation), "NAME"));
  return view;
}

ListView CollectionsView(servers::Server& server) {
  ListView view = NewView("lvArchives", kViewIcons, Columns({{"NAME", 298}}));
  auto* catalogue = dynamic_cast<collections::Databases*>(&server.Databases());
  if (catalogue == nullptr) return view;
  for (const std::shared_ptr<collections::Database>& database : *catalogue) {
    ListRow row;
    row.key = "Server" + std::to_string(server.ServerID()) + ".Database" +
              std::to_string(database->ArchiveID());
    row.text = database->Name();
    row.icon = kIconCollection;
    row.sub_items["NAME"] = database->Name();
    row.server = &server;
    row.database = database.get();
    view.AddRow(std::move(row));
  }
  return view;
}

ListView LoginsView(servers::Server& server) {
  ListView view = NewView("lvLoginNames", kViewDetails,
                          Columns({{"NAME", 298}, {"TYPE", 299}, {"ACCESS", 300}}));
  db::Recordset logins =
      Query(server.Connection(),
            "SELECT loginname, isntgroup, isntuser, isntname, denylogin, hasaccess FROM "
            "master.dbo.syslogins");
  for (; HasRow(logins); logins.MoveNext()) {
    std::string name = Text(logins, "loginname");
    if (EqualsNoCase(name, "sa") || name.starts_with("##")) continue;
    ListRow row;
    row.key = "Login" + name;
    row.icon = kIconUser;
    row.server = &server;
    row.sub_items["NAME"] = name;
    if (IsOne(logins, "isntgroup")) {
      row.sub_items["TYPE"] = Message(70);
    } else if (IsOne(logins, "isntuser")) {
      row.sub_items["TYPE"] = Message(71);
    } else {
      row.sub_items["TYPE"] = "Standard";
    }
    bool granted =
        logins.Fields("denylogin").Value().ToInt().value_or(0) == 0 && IsOne(logins, "hasaccess");
    row.sub_items["ACCESS"] = Message(granted ? 72 : 73);
    view.AddRow(std::move(row));
  }
  CloseQuietly(logins);
  return view;
}

ListView UsersView(collections::Database& database) {
  ListView view = NewView("lvUsers", kViewDetails,
                          Columns({{"NAME", 298}, {"LOGINNAME", 301}, {"ACCESS", 302}}));
  db::Connection connection = database.Connection();
  servers::KeyedTexts logins;

  db::Recordset users = Query(connection, "EXEC sp_helpuser");
  for (; HasRow(users); users.MoveNext()) {
    std::string user = Text(users, "UserName");
    std::string login = Text(users, "LoginName");
    logins.Add(login);
    ListRow row;
    row.key = "User" + user;
    row.text = user;
    row.icon = kIconUser;
    row.database = &database;
    row.sub_items["NAME"] = user;
    row.sub_items["LOGINNAME"] = login;
    row.sub_items["ACCESS"] = Message(72);
    // One row per user and role: the user's further rows find their key taken.
    view.AddRow(std::move(row));
  }
  CloseQuietly(users);

  db::Recordset members = Query(connection, "EXEC sp_helpsrvrolemember 'sysadmin'");
  for (; HasRow(members); members.MoveNext()) {
    std::string member = Text(members, "MemberName");
    if (EqualsNoCase(member, "sa") || logins.Contains(member)) continue;
    ListRow row;
    row.key = "User" + member;
    row.text = member;
    row.icon = kIconUser;
    row.database = &database;
    row.sub_items["NAME"] = member;
    row.sub_items["LOGINNAME"] = member;
    row.sub_items["ACCESS"] = Message(82);
    view.AddRow(std::move(row));
  }
  CloseQuietly(members);
  return view;
}

ListView PropertiesView(collections::Database& database) {
  ListView view =
      NewView("lvProperties", kViewDetails, Columns({{"PROPERTY", 298}, {"VALUE", 303}}));
  db::Connection connection = database.Connection();
  const std::string& name = database.DatabaseName();

  db::Recordset help = Query(connection, "sp_helpdb @dbname=" + QuoteText(name));
  if (HasRow(help)) {
    view.AddRow(PropertyRow(Message(74), Text(help, "name")), true);
    view.AddRow(PropertyRow(Message(76), Trim(Text(help, "owner"))), true);
    view.AddRow(PropertyRow(Message(77), Trim(Text(help, "created"))), true);
  }
  CloseQuietly(help);

  db::Recordset files = Query(connection,
                              "SELECT sysaltfiles.* FROM sysdatabases INNER JOIN sysaltfiles ON "
                              "sysdatabases.dbid = sysaltfiles.dbid WHERE sysdatabases.name=" +
                                  QuoteText(name));
  if (files.State() == db::kStateOpen) {
    auto add_file = [&](const char* filter, int logical, int physical, int size) {
      files.SetFilter(filter);
      if (!HasRow(files)) return;
      view.AddRow(PropertyRow(Message(logical), Trim(Text(files, "name"))));
      view.AddRow(PropertyRow(Message(physical), Trim(Text(files, "filename"))));
      view.AddRow(PropertyRow(Message(size), Megabytes(files.Fields("size").Value())));
    };
    add_file("fileid=1", 78, 79, 80);
    add_file("fileid=2", 81, 356, 357);
  }
  CloseQuietly(files);

  view.AddRow(
      PropertyRow("Search in PlainText",
                  database.GetExtendedProperty(0, 0, 1, "Quillarchive: Search in PlainText")));
  ListRow version = PropertyRow("Version", database.GetExtendedProperty(0, 3, 1, ""));
  version.text = "Quillarchive Archive Version";
  view.AddRow(std::move(version));

  std::string collation = FirstText(connection, "SELECT DATABASEPROPERTYEX(" + QuoteText(name) +
                                                    ", 'Collation') AS Database_Default_Collation");
  view.AddRow(PropertyRow(Message(350), collation));
  return view;
}

std::string FullTextStatusText(int status) {
  if (status >= 0 && status <= 9) return Message(326 + status);
  return std::to_string(status);
}

ListView FullTextView(collections::Database& database) {
  ListView view =
      NewView("lvProperties", kViewDetails, Columns({{"PROPERTY", 298}, {"VALUE", 303}}));
  int status = database.GetFullTextStatus();
  if (status < 0) {
    view.AddRow(PropertyRow("Status", Message(status == -1 ? 336 : 346)), true);
    return view;
  }
  collections::FullTextIndexProperties index = database.ReadFullTextProperties();
  view.AddRow(PropertyRow(Message(337), index.name), true);
  view.AddRow(PropertyRow("Status", FullTextStatusText(index.status)), true);
  view.AddRow(PropertyRow(Message(338), index.path), true);
  view.AddRow(PropertyRow(Message(339), index.item_count), true);
  view.AddRow(PropertyRow(Message(340), index.index_size + " MB"), true);
  view.AddRow(PropertyRow(Message(341), common::Value(index.last_change).ToText()), true);
  return view;
}

bool RenameEnabled(std::string_view node_type) { return node_type == "Database"; }

bool RenameCollection(platform::UserInterface& ui, collections::Database& database,
                      std::string_view new_name) {
  try {
    return database.Rename(new_name);
  } catch (const std::exception& error) {
    ReportError(ui, Message(355), error);
    return false;
  }
}

}  // namespace console
