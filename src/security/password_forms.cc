#include "security/password_forms.h"

#include "collections/sql.h"
#include "common/messages.h"

namespace security {

std::string frmPassword::Caption() { return common::LoadMessage(kMessagePasswordCaption); }

int CheckNewPassword(std::string_view password, std::string_view confirmation) {
  if (CharacterCount(password) > kMaxPasswordLength) return kMessagePasswordTooLong;
  if (password != confirmation) return kMessagePasswordMismatch;
  return 0;
}

bool frmPassword::cmdOK_Click() {
  int refusal = CheckNewPassword(txtPassword.text, txtPasswordRepeated.text);
  if (refusal != 0) {
    ShowInformation(ui_, common::LoadMessage(refusal),
                    refusal == kMessagePasswordTooLong ? platform::MessageIcon::kNone
                                                       : platform::MessageIcon::kInformation);
    return false;
  }
  caller_.SetPasswordChanged(true);
  caller_.SetPasswordText(txtPassword.text);
  hidden_ = true;
  return true;
}

std::string frmChangeOwner::Caption() { return common::LoadMessage(kMessageOwnerCaption); }

void frmChangeOwner::SetDatabase(collections::Database& database) {
  login_names_.clear();
  database_ = &database;
  command_.SetActiveConnection(database.Connection());
  std::vector<Row> rows = ReadRows(command_, HelpDbStatement(database.DatabaseName()));
  old_owner_ =
      rows.empty() ? std::string() : collections::detail::Trim(TextOf(rows.front(), "owner"));
  for (const Row& login : ReadRows(command_, AllLoginsQuery())) {
    std::string name = TextOf(login, "loginname");
    if (name != old_owner_) login_names_.push_back(std::move(name));
  }
}

bool frmChangeOwner::cmdOK_Click() {
  if (login_name_.empty()) {
    ShowInformation(ui_, common::LoadMessage(kMessageSelectUser));
    return false;
  }
  if (!database_) return false;
  std::vector<Change> changes;
  std::vector<std::string> revoked;
  try {
    command_.SetActiveConnection(database_->Connection());
    for (const Row& user : ReadRows(command_, HelpUserStatement())) {
      if (IsNullIn(user, "LoginName") || TextOf(user, "LoginName") != login_name_) continue;
      // The user keeps its own name, which need not be the login's.
      std::string user_name = TextOf(user, "UserName");
      if (!database_->RevokeDBAccess(user_name)) {
        // The collection has shown why; the owner stays as it was.
        report_ = ChangeReport{};
        report_.error = "access of '" + user_name + "' not revoked";
        return false;
      }
      revoked.push_back("access of user '" + user_name + "' revoked");
      break;
    }
  } catch (const std::exception& error) {
    ShowInformation(ui_, common::LoadMessage(kMessageOwnerFailed) + "\r" + DescriptionOf(error));
    return false;
  }
  db::Connection connection = database_->Connection();
  changes.push_back({"use '" + database_->DatabaseName() + "'",
                     UseStatement(database_->DatabaseName()), connection});
  changes.push_back(
      {"owner changed to '" + login_name_ + "'", ChangeDbOwnerStatement(login_name_), connection});
  report_ = ApplyChanges(command_, changes);
  report_.applied.insert(report_.applied.begin(), revoked.begin(), revoked.end());
  if (!report_.Complete()) {
    std::string text = common::LoadMessage(kMessageOwnerFailed) + "\r" + report_.error;
    if (!revoked.empty()) text += "\r\n" + report_.Summary();
    ShowInformation(ui_, std::move(text));
    return false;
  }
  closed_ = true;
  return true;
}

}  // namespace security
