// Ending every connection to a collection database, which SQL Server requires before it detaches,
// drops or renames one.
#include <utility>
#include <vector>

#include "collections/databases.h"
#include "collections/sql.h"
#include "platform/user_interface.h"
#include "servers/sql_text.h"

namespace collections {

namespace {

bool IsProcessId(std::string_view text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool Databases::DisconnectUsers(const db::Connection& collection_connection,
                                std::string_view database_name) {
  std::string current_login;
  std::string own_spid;
  {
    db::Recordset recordset;
    recordset.Open("SELECT SYSTEM_USER;", collection_connection);
    std::optional<db::Value> value = detail::FirstValue(recordset);
    detail::CloseQuietly(recordset);
    if (value) current_login = value->ToText();
    // Our own session is closed, not killed: KILL needs processadmin, which a dbcreator lacks.
    recordset.Open("SELECT @@SPID;", collection_connection);
    value = detail::FirstValue(recordset);
    detail::CloseQuietly(recordset);
    if (value) own_spid = detail::Trim(value->ToText());
  }

  // The server reports names padded; a name given with blanks around it is the same database.
  const std::string wanted = detail::Trim(database_name);
  // (login, process id) of every other connection that uses the database.
  std::vector<std::pair<std::string, std::string>> connections;
  std::vector<std::string> foreign_logins;
  {
    db::Command who;
    who.SetActiveConnection(collection_connection);
    who.SetCommandType(db::kCmdStoredProc);
    who.SetCommandText("sp_who");
    db::Recordset recordset;
    recordset.Open(who);
    detail::SkipToRows(recordset);
    if (recordset.State() == db::kStateOpen) {
      for (; !recordset.Eof(); recordset.MoveNext()) {
        std::string database = detail::Trim(recordset.Fields("dbname").Value().ToText());
        if (!servers::EqualsNoCase(database, wanted)) continue;
        std::string login = detail::Trim(recordset.Fields("loginame").Value().ToText());
        std::string spid = detail::Trim(recordset.Fields("spid").Value().ToText());
        if (!own_spid.empty() && spid == own_spid) continue;
        connections.emplace_back(login, spid);
        if (servers::EqualsNoCase(login, current_login)) continue;
        // Whole names: "Bob" must be named even when "Bobby" already is.
        bool listed = false;
        for (const std::string& other : foreign_logins) {
          if (servers::EqualsNoCase(other, login)) listed = true;
        }
        if (!listed) foreign_logins.push_back(login);
      }
    }
    detail::CloseQuietly(recordset);
  }

  if (!foreign_logins.empty()) {
    std::string list;
    for (const std::string& login : foreign_logins) {
      if (!list.empty()) list += '\r';
      list += "- " + login;
    }
    platform::MessageRequest box;
    box.text = std::string(kDisconnectIntro) + '\r' + list + '\r' + kDisconnectQuestion + '\r' +
               kDisconnectWarning;
    box.title = servers::kMessageTitle;
    box.buttons = platform::MessageButtons::kYesNo;
    box.icon = platform::MessageIcon::kNone;
    if (context_.services.ui.ShowMessage(box) != platform::kAnswerYes) return false;
  }

  try {
    db::Connection own = collection_connection;
    if (own.State() == db::kStateOpen) own.Close();
  } catch (const std::exception&) {
    // A session the server already ended has nothing left to close.
  }
  command_.SetActiveConnection(ServerConnection());
  command_.SetCommandType(db::kCmdText);
  for (const auto& [login, spid] : connections) {
    // sp_who's spid is a number; anything else would be a statement of its own.
    if (!IsProcessId(spid)) continue;
    try {
      command_.SetCommandText("KILL " + spid);
      command_.Execute();
    } catch (const std::exception&) {
      // The process may have ended meanwhile; the others are ended all the same.
    }
  }
  return true;
}

}  // namespace collections
