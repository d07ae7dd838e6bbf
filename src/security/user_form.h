// The logic of frmUser, "Collection User Properties": adds a server login to one collection as a
// database user, or changes an existing user's collection roles. Everything runs on the
// collection's own connection; role changes are sent at OK.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "collections/database.h"
#include "security/login_form.h"
#include "security/statements.h"

namespace security {

inline constexpr int kMessageUserCaption = 226;
inline constexpr int kMessageNewUserCaption = 52;
inline constexpr int kMessageNoNewUserPermission = 242;
inline constexpr int kMessageNoUserPermission = 243;
inline constexpr int kMessageUserFailed = 244;
// The login list's entry that starts a new login.
inline constexpr char kNewLoginEntry[] = "<neu>";

class frmUser {
 public:
  explicit frmUser(DialogHost host);

  // Set by the caller: new-user mode NewUser, Database; edit mode NewUser, UserName, LoginName,
  // Database.
  void SetNewUser(bool new_user);
  void SetUserName(std::string_view name);
  void SetLoginName(std::string_view name);
  // Fills the login list (logins that are no user of the collection yet, "sa" left out) and
  // the role list. Errors reach the caller.
  void SetDatabase(collections::Database& database);
  void SetCaption(std::string caption) { caption_ = std::move(caption); }

  const std::string& Caption() const { return caption_; }
  bool NewUser() const { return new_user_; }
  const std::string& UserName() const { return user_name_; }

  // Controls.
  ControlState lblLoginName;
  ControlState cmbLoginName;
  std::vector<std::string> cmbLoginNameItems;
  ControlState txtDBUsername;
  struct ListEntry {
    std::string text;
    bool checked = false;
  };
  const std::vector<ListEntry>& Roles() const { return roles_; }
  const std::string& Description() const { return description_; }

  // Typing in the login list: the user name follows (new-user mode).
  void cmbLoginName_Change(std::string_view text);
  // Choosing an entry; "<neu>" instead asks for a new login: the dialog to show modally is
  // returned (nullptr when refused with 242); call NewLoginClosed afterwards.
  std::unique_ptr<frmLogin> cmbLoginName_Click(std::string_view entry);
  // After the new-login dialog: the last new login name goes into both fields.
  void NewLoginClosed();
  void lstDatabaseRoles_Highlight(int index);
  // Checks or unchecks a role and the roles that depend on it.
  void lstDatabaseRoles_Check(int index, bool checked);

  // OK: permission (243), the grant in new-user mode, then the role changes in list order. True
  // when the dialog closed.
  bool cmdOK_Click();
  void cmdCancel_Click() { closed_ = true; }
  bool Closed() const { return closed_; }
  const ChangeReport& Report() const { return report_; }

 private:
  void ApplyMode();
  void ListDatabaseRoles();
  bool MayManageUsers();
  void SetRole(int index, bool checked);

  DialogHost host_;
  collections::Database* database_ = nullptr;
  db::Command command_;
  std::string caption_;
  bool new_user_ = false;
  // The user was added at an earlier OK whose role changes failed.
  bool granted_ = false;
  std::string user_name_;
  std::string login_name_;
  std::vector<ListEntry> roles_;
  std::vector<bool> initially_;
  bool in_dependencies_ = false;
  int highlighted_ = 0;
  std::string description_;
  bool closed_ = false;
  ChangeReport report_;
};

}  // namespace security
