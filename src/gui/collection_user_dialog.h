// "Collection User Properties" (and "New User"): the login, the database user name and the
// collection roles, bound to security::frmUser, which adds the user and changes the roles at OK.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "security/user_form.h"

namespace gui {

class CollectionUserDialog : public QDialog {
  Q_OBJECT

 public:
  // `form` has its mode, names and collection set; it and `ui` (for the new-login dialog it may
  // open) must outlive the dialog.
  CollectionUserDialog(security::frmUser& form, platform::UserInterface& ui,
                       QWidget* parent = nullptr);

  security::frmUser& form() { return form_; }

 private:
  void Pull();
  void Push();
  void Choose(const QString& entry);

  security::frmUser& form_;
  platform::UserInterface& ui_;
  bool pushing_ = false;
  QLabel* login_label_ = nullptr;
  QComboBox* login_ = nullptr;
  QLineEdit* user_ = nullptr;
  QListWidget* roles_ = nullptr;
  QLabel* description_ = nullptr;
};

}  // namespace gui
