#include "security/login_form.h"

#include <algorithm>

#include "collections/databases.h"
#include "common/messages.h"
#include "common/system.h"

namespace security {

namespace {

constexpr int kMessageFirstServerRole = 311;
constexpr int kMessageFirstRoleDescription = 113;

std::string TrimSpaces(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

void Select(ControlState& chosen, ControlState& other) {
  chosen.checked = true;
  other.checked = false;
}

}  // namespace

std::string SysadminCollectionRefusal(std::string_view login) {
  return "Der Benutzer '" + std::string(login) +
         "' ist Mitglied der Serverrolle 'System Administrators'\r"
         "und hat daher automatisch Zugriff auf alle Archive.";
}

std::string LoginErrorText(const ChangeReport& report, bool windows_selected,
                           bool sql_option_enabled) {
  std::string text = common::LoadMessage(kMessageLoginFailed) + "\r\n" + report.error + "\r\r";
  if (report.error_number == kErrorsInCommand && windows_selected) {
    text += common::LoadMessage(kMessageSelectExistingAccount);
    if (sql_option_enabled) text += "\r" + common::LoadMessage(kMessageOrSqlAuthentication);
  }
  std::string summary = report.Summary();
  if (!summary.empty()) text += "\r\n" + summary;
  return text;
}

frmLogin::frmLogin(DialogHost host) : host_(std::move(host)) {
  if (!host_.windows_version) host_.windows_version = [] { return common::GetWindowsVersion(); };
  caption_ = common::LoadMessage(kMessageLoginCaption);
  optWindowsAuthentication.checked = true;
  optGrantLogin.checked = true;
  txtPassword.enabled = false;
  txtPassword.window_background = false;
  cmdChangePassword.visible = false;
  for (int i = 0; i < 3; ++i)
    server_roles_.push_back({common::LoadMessage(kMessageFirstServerRole + i), false});
  roles_initially_.assign(3, false);
  description_ = common::LoadMessage(kMessageFirstRoleDescription);
  ApplyNameState();
}

void frmLogin::ApplyNameState() {
  // Editable in new-login mode, fixed for an existing login.
  cboDomain.enabled = new_login_;
  cboDomain.window_background = new_login_;
  txtLoginName.read_only = !new_login_;
  txtLoginName.border = new_login_;
  txtLoginName.window_background = new_login_;
  cmdPickLoginName.visible = new_login_;
}

void frmLogin::SetNewLogin(bool new_login) {
  new_login_ = new_login;
  ApplyNameState();
}

void frmLogin::SetServer(servers::Server& server) {
  server_ = &server;
  command_.SetActiveConnection(server.Connection());
  command_.SetCommandType(db::kCmdText);
}

void frmLogin::ApplyWindowsLoginLook() {
  Select(optWindowsAuthentication, optSQLServerAuthentication);
  optSQLServerAuthentication.enabled = false;
  optGrantLogin.enabled = true;
  optDenyLogin.enabled = true;
  txtPassword.enabled = false;
  txtPassword.window_background = false;
  cmdChangePassword.visible = false;
}

void frmLogin::ApplySqlLoginLook() {
  Select(optSQLServerAuthentication, optWindowsAuthentication);
  optWindowsAuthentication.enabled = false;
  optGrantLogin.enabled = false;
  optDenyLogin.enabled = false;
  txtPassword.enabled = false;
  txtPassword.window_background = true;
  txtPassword.text = kMaskedPassword;
  cmdChangePassword.visible = true;
}

void frmLogin::SetLoginName(std::string_view name) {
  platform::BusyCursor busy(host_.ui);
  login_name_ = name;
  txtLoginName.text = login_name_;
  if (login_name_.empty() || !server_) return;
  std::vector<Row> rows = ReadRows(command_, LoginQuery(login_name_));
  found_ = !rows.empty();
  if (found_) {
    const Row& login = rows.front();
    if (TextOf(login, "isntgroup") == "1" || TextOf(login, "isntuser") == "1") {
      ApplyWindowsLoginLook();
      bool granted = TextOf(login, "denylogin") == "0" && TextOf(login, "hasaccess") == "1";
      if (granted)
        Select(optGrantLogin, optDenyLogin);
      else
        Select(optDenyLogin, optGrantLogin);
    } else {
      ApplySqlLoginLook();
    }
  }
  FillCollectionList();
  ListServerRoles();
  access_changed_ = false;
}

void frmLogin::AdaptToLoginMode() {
  if (!server_) return;
  switch (server_->LoginMode()) {
    case servers::kLoginModeWindows:
      Select(optWindowsAuthentication, optSQLServerAuthentication);
      optSQLServerAuthentication.enabled = false;
      optGrantLogin.enabled = true;
      optDenyLogin.enabled = true;
      txtPassword.enabled = false;
      txtPassword.window_background = false;
      cmdPickLoginName.visible = true;
      break;
    case servers::kLoginModeMixed:
      break;
    default:
      Select(optSQLServerAuthentication, optWindowsAuthentication);
      optWindowsAuthentication.enabled = false;
      txtPassword.enabled = true;
      txtPassword.window_background = true;
      optGrantLogin.enabled = false;
      optDenyLogin.enabled = false;
      cmdPickLoginName.visible = false;
      break;
  }
}

void frmLogin::Form_Activate() {
  if (!activated_) {
    activated_ = true;
    try {
      cboDomainItems = host_.accounts.Domains();
    } catch (const std::exception&) {
      // The domain is typed instead.
      cboDomainItems.clear();
    }
    if (!cboDomainItems.empty()) cboDomain.text = cboDomainItems.back();
  }
  if (new_login_) {
    AdaptToLoginMode();
    FillCollectionList();
    ListServerRoles();
  }
}

std::vector<collections::Database*> frmLogin::CatalogueCollections() {
  std::vector<collections::Database*> out;
  if (!server_) return out;
  auto* catalogue = dynamic_cast<collections::Databases*>(&server_->Databases());
  if (!catalogue) return out;
  for (const auto& database : *catalogue) out.push_back(database.get());
  return out;
}

void frmLogin::FillCollectionList() {
  std::vector<collections::Database*> databases = CatalogueCollections();
  collections_.assign(databases.size(), {});
  collection_databases_.assign(databases.size(), {});
  collection_users_.assign(databases.size(), {});
  collections_initially_.assign(databases.size(), false);
  for (size_t i = 0; i < databases.size(); ++i) {
    collections_[i].text = databases[i]->Name();
    collection_databases_[i] = databases[i]->DatabaseName();
    if (new_login_) continue;
    db::Command command;
    command.SetActiveConnection(databases[i]->Connection());
    for (const Row& user : ReadRows(command, HelpUserStatement())) {
      if (!IsNullIn(user, "LoginName")) {
        if (TextOf(user, "LoginName") != login_name_) continue;
        collections_[i].checked = true;
        collections_initially_[i] = true;
        collection_users_[i] = TextOf(user, "UserName");
        break;
      }
      // A role without a login: the login may reach the collection as one of its members.
      std::string role = TextOf(user, "GroupName");
      for (const Row& member : ReadRows(command, HelpRoleMemberStatement(role))) {
        if (TextOf(member, "MemberName") != login_name_) continue;
        collections_[i].checked = true;
        collections_initially_[i] = true;
        collection_users_[i] = TextOf(member, "MemberName");
      }
    }
  }
}

void frmLogin::ListServerRoles() {
  for (int i = 0; i < 3; ++i) {
    server_roles_[i] = {common::LoadMessage(kMessageFirstServerRole + i), false};
    roles_initially_[i] = false;
    if (!server_) continue;
    for (const Row& member :
         ReadRows(command_, HelpServerRoleMemberStatement(kDialogServerRoles[i]))) {
      if (TextOf(member, "MemberName") == login_name_) {
        roles_initially_[i] = true;
        server_roles_[i].checked = true;
      }
    }
  }
  lstServerRoles_Highlight(highlighted_role_);
}

void frmLogin::optWindowsAuthentication_Click() {
  Select(optWindowsAuthentication, optSQLServerAuthentication);
  cboDomain.enabled = true;
  cboDomain.window_background = true;
  optGrantLogin.enabled = true;
  optDenyLogin.enabled = true;
  txtPassword.enabled = false;
  txtPassword.window_background = false;
  cmdPickLoginName.visible = true;
}

void frmLogin::optSQLServerAuthentication_Click() {
  Select(optSQLServerAuthentication, optWindowsAuthentication);
  cboDomain.enabled = false;
  cboDomain.window_background = false;
  optGrantLogin.enabled = false;
  optDenyLogin.enabled = false;
  if (new_login_) txtPassword.enabled = true;
  txtPassword.window_background = true;
  cmdPickLoginName.visible = false;
}

void frmLogin::optGrantLogin_Click() {
  if (!optGrantLogin.enabled) return;
  Select(optGrantLogin, optDenyLogin);
  access_changed_ = !access_changed_;
}

void frmLogin::optDenyLogin_Click() {
  if (!optDenyLogin.enabled) return;
  Select(optDenyLogin, optGrantLogin);
  access_changed_ = !access_changed_;
}

void frmLogin::lstServerRoles_Highlight(int index) {
  if (index < 0 || index >= 3) return;
  highlighted_role_ = index;
  description_ = common::LoadMessage(kMessageFirstRoleDescription + index);
}

void frmLogin::lstServerRoles_Check(int index, bool checked) {
  if (index < 0 || index >= 3) return;
  server_roles_[index].checked = checked;
}

void frmLogin::lstDatabases_Check(int index, bool checked) {
  if (index < 0 || index >= static_cast<int>(collections_.size())) return;
  if (!checked && server_roles_[0].checked) {
    collections_[index].checked = true;
    std::string name = new_login_ ? txtLoginName.text : login_name_;
    ShowInformation(host_.ui, SysadminCollectionRefusal(name));
    return;
  }
  collections_[index].checked = checked;
}

void frmLogin::cmdPickLoginName_Click() {
  int version = host_.windows_version();
  if (version == 0 || version == 1 || version == 4) {
    ShowInformation(host_.ui, common::LoadMessage(kMessageOnlyNtAccounts));
    return;
  }
  host_.accounts.PrimaryDomainController(cboDomain.text);
  std::string chosen =
      host_.ui.PickAccounts(common::LoadMessage(kMessageSelectAccount), kAccountPickerFlags);
  if (!chosen.empty()) txtLoginName.text = chosen;
}

std::vector<std::string> frmLogin::AccountChoices() {
  std::vector<std::string> out;
  for (const platform::Account& account : host_.accounts.Accounts())
    out.push_back(account.domain + "\\" + account.name);
  return out;
}

std::unique_ptr<frmPassword> frmLogin::cmdChangePassword_Click() {
  return std::make_unique<frmPassword>(host_.ui, *this);
}

void frmLogin::ShowTab(int tab) {
  if (tab < kTabCommon || tab > kTabCollections) return;
  current_tab_ = tab;
  handled_tab_ = tab;
}

void frmLogin::TabStrip_Click(int focused_tab) {
  if (focused_tab != handled_tab_) ShowTab(focused_tab);
}

void frmLogin::tmrTabTimer_Timer(int focused_tab) {
  if (!tab_timer_armed_) return;
  tab_timer_armed_ = false;
  TabStrip_Click(focused_tab);
}

std::vector<Change> frmLogin::Changes(const std::string& name) {
  db::Connection server = server_->Connection();
  std::vector<Change> changes;
  bool grant = optGrantLogin.checked;
  auto login_done = [this, name] {
    login_created_ = new_login_;
    created_name_ = name;
    access_changed_ = false;
  };
  // Another name typed after a failed OK is another login.
  if (new_login_ && name != created_name_) login_created_ = false;
  if (new_login_ && !login_created_) {
    if (optSQLServerAuthentication.checked) {
      changes.push_back({"login '" + name + "' created",
                         AddLoginStatement(name, TrimSpaces(txtPassword.text)), server,
                         login_done});
    } else if (grant || optDenyLogin.checked) {
      changes.push_back({"login '" + name + (grant ? "' granted access" : "' denied access"),
                         grant ? GrantLoginStatement(name) : DenyLoginStatement(name), server,
                         login_done});
    }
  } else if (!new_login_ && access_changed_) {
    changes.push_back({"login '" + name + (grant ? "' granted access" : "' denied access"),
                       grant ? GrantLoginStatement(name) : DenyLoginStatement(name), server,
                       login_done});
  }
  for (int i = 0; i < 3; ++i) {
    if (server_roles_[i].checked == roles_initially_[i]) continue;
    std::string role = kDialogServerRoles[i];
    bool now = server_roles_[i].checked;
    auto done = [this, i, now] { roles_initially_[i] = now; };
    if (now)
      changes.push_back(
          {"server role '" + role + "' added", AddServerRoleStatement(name, role), server, done});
    else
      changes.push_back({"server role '" + role + "' dropped", DropServerRoleStatement(name, role),
                         server, done});
  }
  for (size_t i = 0; i < collections_.size(); ++i) {
    if (collections_[i].checked == collections_initially_[i]) continue;
    const std::string& database = collection_databases_[i];
    const std::string& shown = collections_[i].text;
    if (collections_[i].checked) {
      // Granted, the collection counts as reached even if a role statement fails after it.
      auto granted = [this, i, name] {
        collections_initially_[i] = true;
        collection_users_[i] = name;
      };
      changes.push_back({"access to collection '" + shown + "' granted",
                         GrantAccessInStatement(database, name), server, granted});
      for (const char* role : kCollectionRoles)
        changes.push_back({"role '" + std::string(role) + "' in collection '" + shown + "' added",
                           AddRoleMemberInStatement(database, role, name), server});
    } else {
      changes.push_back({"access to collection '" + shown + "' revoked",
                         RevokeAccessInStatement(database, collection_users_[i]), server,
                         [this, i] { collections_initially_[i] = false; }});
    }
  }
  if (password_changed_)
    changes.push_back({"password changed", ChangePasswordStatement(name, txtPassword.text), server,
                       [this] { password_changed_ = false; }});
  return changes;
}

bool frmLogin::cmdOK_Click() {
  if (closed_ || !server_) return closed_;
  if (!server_->IsRolemember("sysadmin") && !server_->IsRolemember("securityadmin")) {
    ShowInformation(host_.ui, common::LoadMessage(kMessageNoLoginPermission));
    closed_ = true;
    refused_ = true;
    return true;
  }
  if (new_login_) {
    login_name_ = txtLoginName.text;
    host_.state.last_new_login_name = login_name_;
    if (login_name_.empty()) {
      ShowInformation(host_.ui, common::LoadMessage(kMessageTypeLoginName));
      return false;
    }
  }
  report_ = ApplyChanges(command_, Changes(login_name_));
  // The command stays with the server connection for the next OK.
  command_.SetActiveConnection(server_->Connection());
  if (!report_.Complete()) {
    ShowInformation(host_.ui, LoginErrorText(report_, optWindowsAuthentication.checked,
                                             optSQLServerAuthentication.enabled));
    return false;
  }
  closed_ = true;
  return true;
}

}  // namespace security
