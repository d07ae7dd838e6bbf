// The logic of frmLogin, "SQL Server Login Properties": one server login's authentication, its
// access to the server, three server roles and its access to the server's collections, in edit
// mode for an existing login or in new-login mode to create one. Nothing is sent before OK; OK
// sends the changes in a fixed order and reports which of them were applied when one fails.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "collections/database.h"
#include "platform/user_interface.h"
#include "security/account_lookup.h"
#include "security/password_forms.h"
#include "security/statements.h"
#include "servers/server.h"

namespace security {

inline constexpr int kMessageLoginCaption = 98;
inline constexpr int kMessageNewLoginCaption = 241;
inline constexpr int kMessageOnlyNtAccounts = 116;
inline constexpr int kMessageSelectAccount = 117;
inline constexpr int kMessageTypeLoginName = 118;
inline constexpr int kMessageNoLoginPermission = 119;
inline constexpr int kMessageLoginFailed = 120;
inline constexpr int kMessageSelectExistingAccount = 121;
inline constexpr int kMessageOrSqlAuthentication = 122;
// The account picker's flags, passed through.
inline constexpr int kAccountPickerFlags = 43;
// The error number of errors in the command.
inline constexpr std::int32_t kErrorsInCommand = -2147217900;
// What the password field of a SQL Server login shows.
inline constexpr char kMaskedPassword[] = "********";

// The tabs, by their index.
inline constexpr int kTabCommon = 1;
inline constexpr int kTabServerRoles = 2;
inline constexpr int kTabCollections = 3;

// What the dialogs need from the program.
struct DialogHost {
  platform::UserInterface& ui;
  AccountLookup& accounts;
  ApplicationState& state;
  // The Windows version number (common::GetWindowsVersion when empty): 0, 1 and 4 are the
  // Windows 95/98/Me family, which has no account picker.
  std::function<int()> windows_version;
};

// The refusal shown when a sysadmin's collection is unchecked: the system's own German text.
std::string SysadminCollectionRefusal(std::string_view login);

// The text 120 shows for a failed change, with 121 and 122 appended for errors in the command
// with Windows authentication, and the list of what was applied and what not.
std::string LoginErrorText(const ChangeReport& report, bool windows_selected,
                           bool sql_option_enabled);

class frmLogin : public PasswordCaller {
 public:
  explicit frmLogin(DialogHost host);

  // Set by the caller, in this order (the user dialog sets Server before NewLogin).
  void SetNewLogin(bool new_login);
  void SetServer(servers::Server& server);
  // Loads the login: its look, its collections and its server roles (edit mode).
  void SetLoginName(std::string_view name);
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  // The first activation fills the domain list; in new-login mode every activation adapts the
  // form to the server's login mode and fills the lists.
  void Form_Activate();

  bool NewLogin() const { return new_login_; }
  const std::string& LoginName() const { return login_name_; }
  bool PasswordChanged() const { return password_changed_; }
  bool AccessChanged() const { return access_changed_; }
  const std::string& Caption() const { return caption_; }

  // PasswordCaller.
  void SetPasswordChanged(bool changed) override { password_changed_ = changed; }
  void SetPasswordText(std::string_view password) override { txtPassword.text = password; }

  // Controls.
  ControlState txtLoginName;
  ControlState cmdPickLoginName;
  ControlState optWindowsAuthentication;
  ControlState optSQLServerAuthentication;
  ControlState cboDomain;
  std::vector<std::string> cboDomainItems;
  ControlState optGrantLogin;
  ControlState optDenyLogin;
  ControlState txtPassword;
  ControlState cmdChangePassword;

  struct ListEntry {
    std::string text;
    bool checked = false;
  };
  const std::vector<ListEntry>& ServerRoles() const { return server_roles_; }
  const std::vector<ListEntry>& Collections() const { return collections_; }
  // The database user found for the login in each collection (empty when none).
  const std::string& CollectionUser(int index) const { return collection_users_.at(index); }
  const std::string& Description() const { return description_; }  // lblDescription
  int CurrentTab() const { return current_tab_; }
  bool PageVisible(int tab) const { return tab == current_tab_; }

  // User actions.
  void optWindowsAuthentication_Click();
  void optSQLServerAuthentication_Click();
  void optGrantLogin_Click();
  void optDenyLogin_Click();
  void lstServerRoles_Highlight(int index);
  void lstServerRoles_Check(int index, bool checked);
  // Unchecking while sysadmin is checked is refused with the German text; the entry stays.
  void lstDatabases_Check(int index, bool checked);
  // Browse: message 116 on Windows 95/98/Me; else the domain's controller is looked up and the
  // picker opened; an account it returns replaces the name.
  void cmdPickLoginName_Click();
  // The accounts the picker offers (the lookup's, as "DOMAIN\name").
  std::vector<std::string> AccountChoices();
  // The Change Password dialog with this dialog as its caller; the view shows it modally.
  std::unique_ptr<frmPassword> cmdChangePassword_Click();
  // A click on a tab: switches when the focused tab differs from the last handled one.
  void TabStrip_Click(int focused_tab);
  // A mouse action on the tab strip arms the 1 ms timer; its tick switches to the focused tab.
  void TabStrip_MouseDown() { tab_timer_armed_ = true; }
  bool TabTimerArmed() const { return tab_timer_armed_; }
  void tmrTabTimer_Timer(int focused_tab);

  // OK: permission check (119 and close), the login statement, server roles, collections and
  // the password, in that order. True when the dialog closed.
  bool cmdOK_Click();
  void cmdCancel_Click() { closed_ = true; }
  bool Closed() const { return closed_; }
  // Closed by the permission refusal of OK (message 119).
  bool Refused() const { return refused_; }
  // Whether the loaded login is one the server has.
  bool Found() const { return found_; }
  // What the last OK applied.
  const ChangeReport& Report() const { return report_; }

  // The control looks.
  void ApplyWindowsLoginLook();
  void ApplySqlLoginLook();

 private:
  void ApplyNameState();
  void AdaptToLoginMode();
  void FillCollectionList();
  void ListServerRoles();
  void ShowTab(int tab);
  std::vector<collections::Database*> CatalogueCollections();
  std::vector<Change> Changes(const std::string& name);

  DialogHost host_;
  servers::Server* server_ = nullptr;
  db::Command command_;
  std::string caption_;
  bool new_login_ = false;
  std::string login_name_;
  bool password_changed_ = false;
  bool access_changed_ = false;
  // A new login's statement ran at an earlier OK that failed later on.
  bool login_created_ = false;
  std::string created_name_;
  bool activated_ = false;
  bool closed_ = false;
  bool refused_ = false;
  bool found_ = false;
  bool tab_timer_armed_ = false;
  int current_tab_ = kTabCommon;
  int handled_tab_ = kTabCommon;
  int highlighted_role_ = 0;
  std::vector<ListEntry> server_roles_;
  std::vector<bool> roles_initially_;
  std::vector<ListEntry> collections_;
  std::vector<std::string> collection_databases_;
  std::vector<std::string> collection_users_;
  std::vector<bool> collections_initially_;
  std::string description_;
  ChangeReport report_;
};

}  // namespace security
