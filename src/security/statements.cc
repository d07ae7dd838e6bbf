#include "security/statements.h"

#include "collections/sql.h"
#include "common/error.h"
#include "db/recordset.h"
#include "servers/server.h"
#include "servers/sql_text.h"

namespace security {

void ValidationBalloon::Show(std::string text, std::string field) {
  shown_ = true;
  in_tick_ = false;
  ticks_ = 0;
  text_ = std::move(text);
  field_ = std::move(field);
}

bool ValidationBalloon::Tick(bool any_key_or_button_down) {
  if (!shown_ || in_tick_) return false;
  in_tick_ = true;
  ++ticks_;
  bool removed = any_key_or_button_down;
  if (removed) Remove();
  in_tick_ = false;
  return removed;
}

void ValidationBalloon::Remove() {
  shown_ = false;
  ticks_ = 0;
  text_.clear();
  field_.clear();
}

std::string Quoted(std::string_view text) { return servers::QuoteText(text); }
std::string DatabaseName(std::string_view name) { return servers::QuoteDatabaseName(name); }

std::string AllLoginsQuery() {
  return "SELECT loginname, isntgroup, isntuser, isntname, denylogin, hasaccess FROM "
         "master.dbo.syslogins";
}

std::string LoginQuery(std::string_view name) {
  return AllLoginsQuery() + " WHERE loginname=" + Quoted(name);
}

std::string AddLoginStatement(std::string_view name, std::string_view password) {
  return "EXEC master..sp_addlogin " + Quoted(name) + ", " + Quoted(password);
}

std::string GrantLoginStatement(std::string_view name) {
  return "EXEC master..sp_grantlogin " + Quoted(name);
}

std::string DenyLoginStatement(std::string_view name) {
  return "EXEC master..sp_denylogin " + Quoted(name);
}

std::string HelpServerRoleMemberStatement(std::string_view role) {
  return "EXEC master..sp_helpsrvrolemember " + Quoted(role);
}

std::string AddServerRoleStatement(std::string_view name, std::string_view role) {
  return "EXEC master..sp_addsrvrolemember " + Quoted(name) + ", " + Quoted(role);
}

std::string DropServerRoleStatement(std::string_view name, std::string_view role) {
  return "EXEC master..sp_dropsrvrolemember " + Quoted(name) + ", " + Quoted(role);
}

std::string GrantAccessInStatement(std::string_view database, std::string_view name) {
  return "EXEC " + DatabaseName(database) + "..sp_grantdbaccess " + Quoted(name);
}

std::string AddRoleMemberInStatement(std::string_view database, std::string_view role,
                                     std::string_view name) {
  return "EXEC " + DatabaseName(database) + "..sp_addrolemember " + Quoted(role) + ", " +
         Quoted(name);
}

std::string RevokeAccessInStatement(std::string_view database, std::string_view user) {
  return "EXEC " + DatabaseName(database) + "..sp_revokedbaccess " + Quoted(user);
}

std::string HelpUserStatement() { return "EXEC sp_helpuser"; }

std::string HelpRoleMemberStatement(std::string_view role) {
  return "EXEC sp_helprolemember " + Quoted(role);
}

std::string GrantAccessAsStatement(std::string_view login, std::string_view user) {
  return "EXEC sp_grantdbaccess " + Quoted(login) + ", " + Quoted(user);
}

std::string AddRoleMemberStatement(std::string_view role, std::string_view member) {
  return "EXEC sp_addrolemember " + Quoted(role) + ", " + Quoted(member);
}

std::string DropRoleMemberStatement(std::string_view role, std::string_view member) {
  return "EXEC sp_droprolemember " + Quoted(role) + ", " + Quoted(member);
}

std::string ChangePasswordStatement(std::string_view login, std::string_view password) {
  // The blank before the comma is how the statement has always read.
  return "EXEC master..sp_password @old=NULL, @new=" + Quoted(password) +
         " , @loginame=" + Quoted(login);
}

std::string HelpDbStatement(std::string_view database) {
  return "sp_helpdb @dbname=" + Quoted(database);
}

std::string UseStatement(std::string_view database) { return "USE " + DatabaseName(database); }

std::string ChangeDbOwnerStatement(std::string_view login) {
  return "sp_changedbowner " + Quoted(login);
}

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

std::string ChangeReport::Summary() const {
  auto join = [](const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : "; ") + item;
    return out;
  };
  std::string out;
  if (!applied.empty()) out += "Changes applied: " + join(applied);
  if (!not_applied.empty()) {
    if (!out.empty()) out += "\r\n";
    out += "Changes not applied: " + join(not_applied);
  }
  return out;
}

ChangeReport ApplyChanges(db::Command& command, const std::vector<Change>& changes) {
  ChangeReport report;
  size_t i = 0;
  for (; i < changes.size(); ++i) {
    const Change& change = changes[i];
    try {
      command.SetActiveConnection(change.connection);
      command.SetCommandType(db::kCmdText);
      command.SetCommandText(change.statement);
      command.Execute();
    } catch (const std::exception& error) {
      report.error = DescriptionOf(error);
      report.error_number = NumberOf(error);
      break;
    }
    report.applied.push_back(change.what);
    if (change.applied) change.applied();
  }
  for (; i < changes.size(); ++i) report.not_applied.push_back(changes[i].what);
  return report;
}

std::string DescriptionOf(const std::exception& error) {
  return collections::detail::DescriptionOf(error);
}

std::int32_t NumberOf(const std::exception& error) {
  if (const auto* product = dynamic_cast<const common::Error*>(&error)) return product->number();
  return 0;
}

void ShowInformation(platform::UserInterface& ui, std::string text, platform::MessageIcon icon) {
  platform::MessageRequest request;
  request.text = std::move(text);
  request.title = servers::kMessageTitle;
  request.icon = icon;
  ui.ShowMessage(request);
}

std::vector<Row> ReadRows(db::Command& command, std::string_view statement) {
  command.SetCommandType(db::kCmdText);
  command.SetCommandText(statement);
  db::Recordset recordset;
  recordset.Open(command);
  collections::detail::SkipToRows(recordset);
  std::vector<Row> rows;
  if (recordset.State() == db::kStateOpen) {
    int columns = recordset.Fields().Count();
    for (; !recordset.Eof(); recordset.MoveNext()) {
      Row row;
      for (int c = 0; c < columns; ++c) {
        db::Field field = recordset.Fields(c);
        row[field.Name()] = field.Value();
      }
      rows.push_back(std::move(row));
    }
  }
  collections::detail::CloseQuietly(recordset);
  return rows;
}

std::string TextOf(const Row& row, const std::string& column) {
  auto it = row.find(column);
  if (it == row.end() || it->second.IsNull()) return std::string();
  return it->second.ToText();
}

bool IsNullIn(const Row& row, const std::string& column) {
  auto it = row.find(column);
  return it == row.end() || it->second.IsNull();
}

}  // namespace security
