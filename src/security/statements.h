// The statements the login and user dialogs send, and what they share: the program-wide state
// the dialogs hand each other, the look of a control, the validation balloon, and the account of
// which changes of a multi-statement OK were applied.
//
// Names and values go between single quotes with embedded quotes doubled, database names bare
// when they are plain identifiers and bracketed otherwise: ordinary input reads exactly as the
// statements always did, and no name or password ever runs as SQL.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/command.h"
#include "db/connection.h"
#include "platform/user_interface.h"

namespace security {

// The program-wide texts the dialogs hand on: the login name entered at the last OK of a new
// login (read by the collection user dialog after its "<neu>" entry). One object per program,
// passed to every dialog that needs it.
struct ApplicationState {
  std::string last_new_login_name;
};

// The visible state of one control as a view binds it.
struct ControlState {
  std::string text;
  bool checked = false;
  bool enabled = true;
  bool visible = true;
  bool read_only = false;
  bool border = true;
  // The window background (white) or the button-face background (grey).
  bool window_background = true;
  friend bool operator==(const ControlState&, const ControlState&) = default;
};

// The validation balloon of the wizards: a message at a field. The view drives the removal
// rule: from 700 ms after it was shown it looks every 5 ms for a pressed key or mouse button,
// and the first one takes the balloon away.
class ValidationBalloon {
 public:
  static constexpr int kFirstCheckMs = 700;
  static constexpr int kPollMs = 5;
  // The balloon points 50 pixels right of and 15 below the field's top-left corner.
  static constexpr int kOffsetX = 50;
  static constexpr int kOffsetY = 15;

  void Show(std::string text, std::string field);
  bool Shown() const { return shown_; }
  const std::string& Text() const { return text_; }
  // The name of the control the balloon points at ("txtLoginName", "txtPassword").
  const std::string& Field() const { return field_; }
  // The milliseconds until the view next calls Tick: 700 after showing, then 5.
  int NextTickMs() const { return ticks_ == 0 ? kFirstCheckMs : kPollMs; }
  // One tick of the removal timer, with whether any key or mouse button is down now. True when
  // the balloon went away. A tick while another is running does nothing.
  bool Tick(bool any_key_or_button_down);
  void Remove();

 private:
  bool shown_ = false;
  bool in_tick_ = false;
  int ticks_ = 0;
  std::string text_;
  std::string field_;
};

// The three collection roles every new collection user receives, in the order they are given.
inline constexpr const char* kCollectionRoles[] = {"qa_reader", "qa_writer", "qa_structurer"};
// The server roles the login dialog offers, in list order.
inline constexpr const char* kDialogServerRoles[] = {"sysadmin", "securityadmin", "dbcreator"};
// The collection roles the user dialog offers, in list order.
inline constexpr const char* kDialogDatabaseRoles[] = {
    "qa_reader", "qa_writer", "qa_structurer", "db_securityadmin", "db_accessadmin", "db_owner"};

// The longest password the server takes.
inline constexpr std::size_t kMaxPasswordLength = 128;

// ---- Statement texts ---------------------------------------------------------------------
// 'text' with quotes doubled, and a database name bare or bracketed.
std::string Quoted(std::string_view text);
std::string DatabaseName(std::string_view name);

// SELECT loginname, isntgroup, isntuser, isntname, denylogin, hasaccess FROM master.dbo.syslogins
std::string AllLoginsQuery();
// ... WHERE loginname='name'
std::string LoginQuery(std::string_view name);
std::string AddLoginStatement(std::string_view name, std::string_view password);
std::string GrantLoginStatement(std::string_view name);
std::string DenyLoginStatement(std::string_view name);
std::string HelpServerRoleMemberStatement(std::string_view role);
std::string AddServerRoleStatement(std::string_view name, std::string_view role);
std::string DropServerRoleStatement(std::string_view name, std::string_view role);
// EXEC db..sp_grantdbaccess 'name' / sp_addrolemember 'role', 'name' / sp_revokedbaccess 'user'
std::string GrantAccessInStatement(std::string_view database, std::string_view name);
std::string AddRoleMemberInStatement(std::string_view database, std::string_view role,
                                     std::string_view name);
std::string RevokeAccessInStatement(std::string_view database, std::string_view user);
// On the collection's own connection.
std::string HelpUserStatement();
std::string HelpRoleMemberStatement(std::string_view role);
std::string GrantAccessAsStatement(std::string_view login, std::string_view user);
std::string AddRoleMemberStatement(std::string_view role, std::string_view member);
std::string DropRoleMemberStatement(std::string_view role, std::string_view member);
std::string ChangePasswordStatement(std::string_view login, std::string_view password);
std::string HelpDbStatement(std::string_view database);
std::string UseStatement(std::string_view database);
std::string ChangeDbOwnerStatement(std::string_view login);

// The number of characters (not bytes) of a UTF-8 text.
std::size_t CharacterCount(std::string_view text);

// ---- Running a dialog's changes ----------------------------------------------------------

// One change of an OK: what it does, in words for the administrator, and its statement.
struct Change {
  std::string what;
  std::string statement;
  db::Connection connection;
  // Called once the statement ran, so a dialog that stays open after a later failure takes the
  // applied change as its new starting point and does not send it again.
  std::function<void()> applied = {};
};

// What an OK applied before it stopped.
struct ChangeReport {
  std::vector<std::string> applied;
  std::vector<std::string> not_applied;
  // The description of the error that stopped the run; empty when all changes were applied.
  std::string error;
  std::int32_t error_number = 0;
  bool Complete() const { return error.empty(); }
  // "Changes applied: ...\r\nChanges not applied: ..." (lines only for non-empty lists).
  std::string Summary() const;
};

// Runs the changes one at a time on the command, each on its own connection, in order; the
// first failure stops the rest. Nothing runs in a transaction: what ran stays in effect, and
// the report says exactly which changes those were.
ChangeReport ApplyChanges(db::Command& command, const std::vector<Change>& changes);

// The description of an error as the user sees it.
std::string DescriptionOf(const std::exception& error);
// The error number (an HRESULT-style number for database errors), 0 for other exceptions.
std::int32_t NumberOf(const std::exception& error);

// A message box with the product's title.
void ShowInformation(platform::UserInterface& ui, std::string text,
                     platform::MessageIcon icon = platform::MessageIcon::kInformation);

// The rows of a query sent on the command (result sets without rows skipped): column name to
// value.
using Row = std::map<std::string, db::Value>;
std::vector<Row> ReadRows(db::Command& command, std::string_view statement);
// The value's text; empty for null or a missing column.
std::string TextOf(const Row& row, const std::string& column);
bool IsNullIn(const Row& row, const std::string& column);

}  // namespace security
