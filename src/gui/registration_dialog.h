// The server registration dialog: its controls bound to servers::frmSQLServer, which holds the
// state and does the checks, the registration and the connection test.
#pragma once

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

#include "servers/registration_form.h"

namespace gui {

class RegistrationDialog : public QDialog {
  Q_OBJECT

 public:
  // A new registration when `server` is null, else the login data of that registration.
  RegistrationDialog(servers::Context context, servers::Servers& servers,
                     std::shared_ptr<servers::Server> server, QWidget* parent = nullptr);

  servers::frmSQLServer& form() { return form_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Controls to form, before a handler runs; form to controls, after.
  void Pull();
  void Push();

  servers::frmSQLServer form_;
  QComboBox* domains_ = nullptr;
  QComboBox* servers_ = nullptr;
  QPushButton* refresh_ = nullptr;
  QRadioButton* integrated_ = nullptr;
  QRadioButton* server_security_ = nullptr;
  QLineEdit* username_ = nullptr;
  QLineEdit* password_ = nullptr;
};

}  // namespace gui
