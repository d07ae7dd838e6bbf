// The two small dialogs around a login's password and a collection's owner: frmPassword ("Change
// Password"), which hands a new password back to its caller, and frmChangeOwner ("Change
// Database Owner"), which makes another login the owner of a collection.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "collections/database.h"
#include "platform/user_interface.h"
#include "security/statements.h"

namespace security {

inline constexpr int kMessagePasswordCaption = 164;
inline constexpr int kMessagePasswordMismatch = 167;
inline constexpr int kMessagePasswordTooLong = 168;
inline constexpr int kMessageOwnerCaption = 94;
inline constexpr int kMessageSelectUser = 92;
inline constexpr int kMessageOwnerFailed = 93;

// What the password dialog writes into its caller: the flag PasswordChanged and the text of the
// caller's password field.
class PasswordCaller {
 public:
  virtual ~PasswordCaller() = default;
  virtual void SetPasswordChanged(bool changed) = 0;
  virtual void SetPasswordText(std::string_view password) = 0;
};

class frmPassword {
 public:
  frmPassword(platform::UserInterface& ui, PasswordCaller& caller) : ui_(ui), caller_(caller) {}

  static std::string Caption();  // 164

  ControlState txtPassword;
  ControlState txtPasswordRepeated;

  // OK: a password over 128 characters shows 168 (no icon), a confirmation that differs shows
  // 167; both keep the dialog open. Otherwise the caller gets the password and the dialog is
  // hidden. True when hidden.
  bool cmdOK_Click();
  void cmdCancel_Click() { hidden_ = true; }
  bool Hidden() const { return hidden_; }

 private:
  platform::UserInterface& ui_;
  PasswordCaller& caller_;
  bool hidden_ = false;
};

// Checks a new password as the password dialog does: the message number that refuses it (168
// or 167), 0 when it is accepted.
int CheckNewPassword(std::string_view password, std::string_view confirmation);

class frmChangeOwner {
 public:
  explicit frmChangeOwner(platform::UserInterface& ui) : ui_(ui) {}

  static std::string Caption();  // 94

  // Reads the current owner (sp_helpdb) and the candidate logins (every login but the owner),
  // on the collection's connection. Errors reach the caller.
  void SetDatabase(collections::Database& database);

  // lblOldOwner.
  const std::string& OldOwner() const { return old_owner_; }
  // The entries of cmbLoginName, in the server's order.
  const std::vector<std::string>& LoginNames() const { return login_names_; }
  // The text of cmbLoginName.
  const std::string& LoginName() const { return login_name_; }
  void SetLoginName(std::string_view name) { login_name_ = name; }

  // OK: an empty name shows 92. A login that already is a user of the collection loses that
  // access first; then "USE" the database and sp_changedbowner. An error shows 93 with the
  // description and what was applied; the dialog stays open. True when closed.
  bool cmdOK_Click();
  void cmdCancel_Click() { closed_ = true; }
  bool Closed() const { return closed_; }
  // What the last OK applied.
  const ChangeReport& Report() const { return report_; }

 private:
  platform::UserInterface& ui_;
  collections::Database* database_ = nullptr;
  db::Command command_;
  std::string old_owner_;
  std::vector<std::string> login_names_;
  std::string login_name_;
  bool closed_ = false;
  ChangeReport report_;
};

}  // namespace security
