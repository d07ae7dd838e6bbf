// "Change Password": the new password typed twice, bound to security::frmPassword, which hands it
// to the dialog that opened it.
#pragma once

#include <QDialog>
#include <QLineEdit>

#include "security/password_forms.h"

namespace gui {

class PasswordDialog : public QDialog {
  Q_OBJECT

 public:
  // `form` must outlive the dialog.
  explicit PasswordDialog(security::frmPassword& form, QWidget* parent = nullptr);

 private:
  security::frmPassword& form_;
  QLineEdit* password_ = nullptr;
  QLineEdit* repeated_ = nullptr;
};

}  // namespace gui
