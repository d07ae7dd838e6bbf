// The Windows account picker of the login dialogs: the accounts and groups the server's account
// lookup knows, to choose one or more from. PickerUserInterface offers it to a form model through
// UserInterface::PickAccounts and forwards everything else to the window's user interface.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <vector>

#include "gui/dialog_kit.h"
#include "platform/user_interface.h"
#include "security/account_lookup.h"

namespace gui {

class AccountPickerDialog : public QDialog {
  Q_OBJECT

 public:
  AccountPickerDialog(const QString& title, std::vector<platform::Account> accounts,
                      QWidget* parent = nullptr);

  QListWidget* list() const { return list_; }
  // The accounts selected, in list order.
  std::vector<platform::Account> Chosen() const;

 private:
  std::vector<platform::Account> accounts_;
  QListWidget* list_ = nullptr;
};

class PickerUserInterface : public ForwardingUserInterface {
 public:
  // `accounts` and `base` must outlive this; the picker is owned by `owner`.
  PickerUserInterface(platform::UserInterface& base, security::AccountLookup& accounts,
                      QWidget* owner)
      : ForwardingUserInterface(base), accounts_(accounts), owner_(owner) {}
  void SetOwner(QWidget* owner) { owner_ = owner; }
  // "DOMAIN\name" lines of the accounts chosen; empty when cancelled.
  std::string PickAccounts(std::string_view title, int flags) override;

 private:
  security::AccountLookup& accounts_;
  QWidget* owner_;
};

}  // namespace gui
