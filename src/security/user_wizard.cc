#include "security/user_wizard.h"

#include <algorithm>

#include "collections/databases.h"
#include "common/messages.h"
#include "common/system.h"

namespace security {

namespace {

constexpr int kMessageNext = 140;
constexpr int kMessageClose = 136;
constexpr int kMessageWelcomeTitle = 305;
constexpr int kMessageWelcomeText = 261;
constexpr int kMessageAddedTitle = 258;

}  // namespace

frmUserWizard::frmUserWizard(DialogHost host) : host_(std::move(host)) {
  if (!host_.windows_version) host_.windows_version = [] { return common::GetWindowsVersion(); };
  optWindowsAuthentication.checked = true;
  optGrantLogin.checked = true;
}

std::string frmUserWizard::Caption() { return common::LoadMessage(kMessageWizardCaption); }

void frmUserWizard::SetServer(servers::Server& server) {
  server_ = &server;
  command_.SetActiveConnection(server.Connection());
  command_.SetCommandType(db::kCmdText);
}

std::string frmUserWizard::NextCaption() const {
  return common::LoadMessage(page_ == kWizardResult ? kMessageClose : kMessageNext);
}

std::string frmUserWizard::AccountHeader() const {
  return common::LoadMessage(optWindowsAuthentication.checked ? 247 : 250);
}

std::string frmUserWizard::AccountSubheader() const {
  return common::LoadMessage(optWindowsAuthentication.checked ? 286 : 287);
}

std::string frmUserWizard::AccountExplanation() const {
  return common::LoadMessage(optWindowsAuthentication.checked ? 248 : 251);
}

std::string frmUserWizard::WelcomeTitle() const {
  return common::LoadMessage(page_ == kWizardResult ? kMessageAddedTitle : kMessageWelcomeTitle);
}

std::string frmUserWizard::WelcomeText() const {
  if (page_ != kWizardResult) return common::LoadMessage(kMessageWelcomeText);
  return common::FormatMessage(
      kMessageUserAdded,
      {common::Value(added_login_), common::Value(server_ ? server_->Name() : std::string())});
}

void frmUserWizard::Choose(bool windows) {
  optWindowsAuthentication.checked = windows;
  optSQLServerAuthentication.checked = !windows;
}

void frmUserWizard::optGrantLogin_Click() {
  optGrantLogin.checked = true;
  optDenyLogin.checked = false;
}

void frmUserWizard::optDenyLogin_Click() {
  optDenyLogin.checked = true;
  optGrantLogin.checked = false;
}

void frmUserWizard::SetUpAccountPage() {
  bool windows = optWindowsAuthentication.checked;
  cmdPickLoginName.visible = windows;
  optGrantLogin.visible = windows;
  optDenyLogin.visible = windows;
  txtPassword.visible = !windows;
  txtPassword2.visible = !windows;
  txtLoginName.text.clear();
}

void frmUserWizard::cmdWeiter_Click() {
  if (closed_) return;
  // A button press takes a balloon away before the click arrives.
  balloon_.Remove();
  switch (page_) {
    case kWizardWelcome:
      back_enabled_ = true;
      page_ = kWizardAuthentication;
      break;
    case kWizardAuthentication: {
      int mode = server_ ? server_->LoginMode() : servers::kLoginModeMixed;
      std::string name = server_ ? server_->Name() : std::string();
      int refusal = 0;
      if (optWindowsAuthentication.checked && mode == servers::kLoginModeUnknown)
        refusal = kMessageNoWindowsAuthentication;
      if (optSQLServerAuthentication.checked && mode == servers::kLoginModeWindows)
        refusal = kMessageNoSqlAuthentication;
      if (refusal != 0) {
        ShowInformation(host_.ui, common::FormatMessage(refusal, {common::Value(name)}));
        return;
      }
      SetUpAccountPage();
      page_ = kWizardAccount;
      break;
    }
    case kWizardAccount:
      LeaveAccountPage();
      break;
    case kWizardCollections:
      Apply();
      break;
    case kWizardResult:
      closed_ = true;
      break;
  }
}

void frmUserWizard::LeaveAccountPage() {
  if (txtLoginName.text.empty()) {
    balloon_.Show(common::LoadMessage(kMessageTypeALoginName), "txtLoginName");
    return;
  }
  if (optSQLServerAuthentication.checked) {
    if (txtPassword.text.empty() || txtPassword.text != txtPassword2.text) {
      balloon_.Show(common::LoadMessage(kMessagePasswordNotConfirmed), "txtPassword");
      return;
    }
    // The server takes no longer password; say so here rather than after the statement.
    if (CharacterCount(txtPassword.text) > kMaxPasswordLength) {
      balloon_.Show(common::LoadMessage(kMessagePasswordTooLong), "txtPassword");
      return;
    }
  }
  platform::BusyCursor busy(host_.ui);
  lstDatabases.clear();
  if (server_) {
    if (auto* catalogue = dynamic_cast<collections::Databases*>(&server_->Databases()))
      for (const auto& database : *catalogue) lstDatabases.push_back({database->Name(), false});
  }
  page_ = kWizardCollections;
}

void frmUserWizard::Apply() {
  if (!server_) return;
  platform::BusyCursor busy(host_.ui);
  std::string name = txtLoginName.text;
  std::vector<Change> changes;
  db::Connection server = server_->Connection();
  if (name != applied_name_) {
    login_created_ = false;
    granted_collections_.clear();
    applied_name_ = name;
  }
  auto created = [this] { login_created_ = true; };
  // A login created at an earlier Next whose collections failed is not created again.
  if (!login_created_) {
    if (optSQLServerAuthentication.checked)
      changes.push_back({"login '" + name + "' created", AddLoginStatement(name, txtPassword.text),
                         server, created});
    else if (optGrantLogin.checked)
      changes.push_back(
          {"login '" + name + "' granted access", GrantLoginStatement(name), server, created});
    else
      changes.push_back(
          {"login '" + name + "' denied access", DenyLoginStatement(name), server, created});
  }
  auto* catalogue = dynamic_cast<collections::Databases*>(&server_->Databases());
  for (const ListEntry& entry : lstDatabases) {
    if (!entry.checked || !catalogue) continue;
    collections::Database* found = nullptr;
    for (const auto& database : *catalogue)
      if (database->Name() == entry.text) found = database.get();
    if (!found) continue;
    if (std::find(granted_collections_.begin(), granted_collections_.end(), entry.text) !=
        granted_collections_.end())
      continue;
    db::Connection connection = found->Connection();
    std::string shown = entry.text;
    changes.push_back({"access to collection '" + entry.text + "' granted",
                       GrantAccessAsStatement(name, name), connection,
                       [this, shown] { granted_collections_.push_back(shown); }});
    for (const char* role : kCollectionRoles)
      changes.push_back(
          {"role '" + std::string(role) + "' in collection '" + entry.text + "' added",
           AddRoleMemberStatement(role, name), connection});
  }
  report_ = ApplyChanges(command_, changes);
  command_.SetActiveConnection(server);
  if (!report_.Complete()) {
    ShowInformation(host_.ui, LoginErrorText(report_, optWindowsAuthentication.checked,
                                             optSQLServerAuthentication.enabled));
    return;
  }
  added_login_ = name;
  back_enabled_ = false;
  cancel_enabled_ = false;
  page_ = kWizardResult;
}

void frmUserWizard::cmdZur_ck_Click() {
  if (!back_enabled_ || closed_) return;
  balloon_.Remove();
  if (page_ > kWizardWelcome) --page_;
  if (page_ == kWizardWelcome) back_enabled_ = false;
}

bool frmUserWizard::cmdAbbrechen_Click() {
  if (!cancel_enabled_ || balloon_.Shown()) return false;
  closed_ = true;
  return true;
}

void frmUserWizard::cmdPickLoginName_Click() {
  int version = host_.windows_version();
  if (version == 0 || version == 1 || version == 4) {
    ShowInformation(host_.ui, common::LoadMessage(kMessageOnlyNtAccounts));
    return;
  }
  std::string chosen =
      host_.ui.PickAccounts(common::LoadMessage(kMessageSelectAccount), kAccountPickerFlags);
  if (!chosen.empty()) txtLoginName.text = chosen;
}

}  // namespace security
