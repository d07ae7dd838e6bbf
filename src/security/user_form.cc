#include "security/user_form.h"

#include "common/messages.h"

namespace security {

namespace {

constexpr int kMessageFirstRole = 235;
// Descriptions run backwards: 234 for the first role down to 229 for the last.
constexpr int kMessageFirstDescription = 234;
constexpr int kRoleCount = 6;
constexpr int kReader = 0;
constexpr int kWriter = 1;
constexpr int kStructurer = 2;

}  // namespace

frmUser::frmUser(DialogHost host) : host_(std::move(host)) {
  caption_ = common::LoadMessage(kMessageUserCaption);
  for (int i = 0; i < kRoleCount; ++i)
    roles_.push_back({common::LoadMessage(kMessageFirstRole + i), false});
  initially_.assign(kRoleCount, false);
  description_ = common::LoadMessage(kMessageFirstDescription);
  ApplyMode();
}

void frmUser::ApplyMode() {
  lblLoginName.visible = new_user_;
  cmbLoginName.visible = new_user_;
  cmbLoginName.read_only = !new_user_;
  txtDBUsername.read_only = !new_user_;
  txtDBUsername.border = new_user_;
  txtDBUsername.window_background = new_user_;
}

void frmUser::SetNewUser(bool new_user) {
  new_user_ = new_user;
  ApplyMode();
}

void frmUser::SetUserName(std::string_view name) {
  user_name_ = name;
  txtDBUsername.text = user_name_;
}

void frmUser::SetLoginName(std::string_view name) {
  login_name_ = name;
  cmbLoginName.text = login_name_;
}

void frmUser::SetDatabase(collections::Database& database) {
  database_ = &database;
  cmbLoginNameItems.clear();
  command_.SetActiveConnection(database.Connection());
  command_.SetCommandType(db::kCmdText);
  std::vector<Row> users = ReadRows(command_, HelpUserStatement());
  for (const Row& login : ReadRows(command_, AllLoginsQuery())) {
    std::string name = TextOf(login, "loginname");
    if (name == "sa") continue;
    bool is_user = false;
    for (const Row& user : users)
      if (!IsNullIn(user, "LoginName") && TextOf(user, "LoginName") == name) is_user = true;
    if (!is_user) cmbLoginNameItems.push_back(name);
  }
  cmbLoginNameItems.push_back(kNewLoginEntry);
  ListDatabaseRoles();
}

void frmUser::ListDatabaseRoles() {
  for (int i = 0; i < kRoleCount; ++i) {
    roles_[i] = {common::LoadMessage(kMessageFirstRole + i), false};
    initially_[i] = false;
  }
  if (new_user_) {
    for (int i : {kReader, kWriter, kStructurer}) roles_[i].checked = true;
  } else if (database_) {
    for (int i = 0; i < kRoleCount; ++i) {
      for (const Row& member :
           ReadRows(command_, HelpRoleMemberStatement(kDialogDatabaseRoles[i]))) {
        std::string name = TextOf(member, "MemberName");
        if (name == user_name_ || name == login_name_) {
          initially_[i] = true;
          roles_[i].checked = true;
        }
      }
    }
  }
  lstDatabaseRoles_Highlight(highlighted_);
}

void frmUser::cmbLoginName_Change(std::string_view text) {
  cmbLoginName.text = text;
  if (new_user_) txtDBUsername.text = text;
}

std::unique_ptr<frmLogin> frmUser::cmbLoginName_Click(std::string_view entry) {
  if (entry != kNewLoginEntry) {
    cmbLoginName.text = entry;
    txtDBUsername.text = entry;
    return nullptr;
  }
  if (!MayManageUsers()) {
    ShowInformation(host_.ui, common::LoadMessage(kMessageNoNewUserPermission));
    return nullptr;
  }
  auto login = std::make_unique<frmLogin>(host_);
  login->SetCaption(common::LoadMessage(kMessageNewLoginCaption));
  if (database_ && database_->Server()) login->SetServer(*database_->Server());
  login->SetNewLogin(true);
  return login;
}

void frmUser::NewLoginClosed() {
  // A cancelled login dialog leaves whatever an earlier new login put there, possibly nothing.
  txtDBUsername.text = host_.state.last_new_login_name;
  cmbLoginName.text = host_.state.last_new_login_name;
}

void frmUser::lstDatabaseRoles_Highlight(int index) {
  if (index < 0 || index >= kRoleCount) return;
  highlighted_ = index;
  description_ = common::LoadMessage(kMessageFirstDescription - index);
}

void frmUser::SetRole(int index, bool checked) { roles_[index].checked = checked; }

void frmUser::lstDatabaseRoles_Check(int index, bool checked) {
  if (index < 0 || index >= kRoleCount) return;
  SetRole(index, checked);
  if (in_dependencies_) return;
  in_dependencies_ = true;
  if (index == kReader && !checked) {
    SetRole(kWriter, false);
    SetRole(kStructurer, false);
  } else if (index == kWriter && !checked) {
    SetRole(kStructurer, false);
  } else if (index == kWriter && checked) {
    SetRole(kReader, true);
  } else if (index == kStructurer && checked) {
    SetRole(kWriter, true);
    SetRole(kReader, true);
  }
  in_dependencies_ = false;
}

bool frmUser::MayManageUsers() {
  if (!database_) return false;
  servers::Server* server = database_->Server();
  if (server && (server->IsRolemember("sysadmin") || server->IsRolemember("securityadmin")))
    return true;
  return database_->IsRolemember("db_securityadmin") || database_->IsRolemember("db_owner");
}

bool frmUser::cmdOK_Click() {
  if (closed_ || !database_) return closed_;
  platform::BusyCursor busy(host_.ui);
  if (!MayManageUsers()) {
    ShowInformation(host_.ui, common::LoadMessage(kMessageNoUserPermission));
    return false;
  }
  std::vector<std::string> granted;
  if (new_user_ && !granted_) {
    user_name_ = txtDBUsername.text;
    login_name_ = cmbLoginName.text;
    if (!database_->GrantDBAccess(login_name_, user_name_)) return false;
    granted_ = true;
    granted.push_back("access of '" + login_name_ + "' granted as user '" + user_name_ + "'");
  }
  std::vector<Change> changes;
  db::Connection connection = database_->Connection();
  for (int i = 0; i < kRoleCount; ++i) {
    if (roles_[i].checked == initially_[i]) continue;
    std::string role = kDialogDatabaseRoles[i];
    bool now = roles_[i].checked;
    auto done = [this, i, now] { initially_[i] = now; };
    if (now)
      changes.push_back({"role '" + role + "' added", AddRoleMemberStatement(role, user_name_),
                         connection, done});
    else
      changes.push_back({"role '" + role + "' dropped", DropRoleMemberStatement(role, user_name_),
                         connection, done});
  }
  report_ = ApplyChanges(command_, changes);
  report_.applied.insert(report_.applied.begin(), granted.begin(), granted.end());
  if (!report_.Complete()) {
    std::string text = common::LoadMessage(kMessageUserFailed) + "\r" + report_.error;
    std::string summary = report_.Summary();
    if (!summary.empty()) text += "\r\n" + summary;
    ShowInformation(host_.ui, std::move(text));
    return false;
  }
  closed_ = true;
  return true;
}

}  // namespace security
