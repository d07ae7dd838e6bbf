// The "Add Login Wizard": welcome, authentication type, account, collections and the result,
// bound to security::frmUserWizard, which checks the input and creates the login.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "gui/balloon.h"
#include "gui/wizard_frame.h"
#include "security/user_wizard.h"

namespace gui {

class AddLoginWizard : public WizardFrame {
  Q_OBJECT

 public:
  // `form` has its server set; it must outlive the wizard.
  explicit AddLoginWizard(security::frmUserWizard& form, QWidget* parent = nullptr);

  security::frmUserWizard& form() { return form_; }
  Balloon* balloon() const { return balloon_; }

 public slots:
  void reject() override;

 private:
  void Pull();
  void Push();

  security::frmUserWizard& form_;
  Balloon* balloon_ = nullptr;
  int shown_page_ = 0;
  bool pushing_ = false;
  QRadioButton* windows_ = nullptr;
  QRadioButton* sql_ = nullptr;
  QLabel* account_header_ = nullptr;
  QLabel* account_subheader_ = nullptr;
  QLabel* account_explanation_ = nullptr;
  QLineEdit* name_ = nullptr;
  QPushButton* pick_ = nullptr;
  QLabel* access_note_ = nullptr;
  QRadioButton* grant_ = nullptr;
  QRadioButton* deny_ = nullptr;
  QLabel* password_label_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLabel* password2_label_ = nullptr;
  QLineEdit* password2_ = nullptr;
  QListWidget* collections_ = nullptr;
};

}  // namespace gui
