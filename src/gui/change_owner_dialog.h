// "Change Database Owner": the current owner and the login to become the new one, bound to
// security::frmChangeOwner, which makes the change.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>

#include "security/password_forms.h"

namespace gui {

class ChangeOwnerDialog : public QDialog {
  Q_OBJECT

 public:
  // `form` has its collection set; it must outlive the dialog.
  explicit ChangeOwnerDialog(security::frmChangeOwner& form, QWidget* parent = nullptr);

 private:
  security::frmChangeOwner& form_;
  QComboBox* logins_ = nullptr;
};

}  // namespace gui
