// "SQL Server Login Properties" with its tabs Common, Server Roles and Collection Access, bound
// to security::frmLogin, which loads the login and sends the changes at OK.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include "security/login_form.h"

namespace gui {

class LoginPropertiesDialog : public QDialog {
  Q_OBJECT

 public:
  // `form` has its mode, server and (editing) login set; it and `ui` (which reports what the
  // activation could not read) must outlive the dialog.
  LoginPropertiesDialog(security::frmLogin& form, platform::UserInterface& ui,
                        QWidget* parent = nullptr);

  security::frmLogin& form() { return form_; }
  QTabWidget* tabs() const { return tabs_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Pull();
  void Push();
  // Runs a handler of the form between taking the controls' input and showing the result.
  template <typename F>
  void Handle(F handler) {
    Pull();
    handler();
    Push();
  }
  static void FillChecks(QListWidget* list,
                         const std::vector<security::frmLogin::ListEntry>& entries);

  security::frmLogin& form_;
  platform::UserInterface& ui_;
  bool pushing_ = false;
  QTabWidget* tabs_ = nullptr;
  QLineEdit* name_ = nullptr;
  QPushButton* pick_ = nullptr;
  QRadioButton* windows_ = nullptr;
  QRadioButton* sql_ = nullptr;
  QComboBox* domain_ = nullptr;
  QRadioButton* grant_ = nullptr;
  QRadioButton* deny_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPushButton* change_password_ = nullptr;
  QListWidget* roles_ = nullptr;
  QLabel* description_ = nullptr;
  QListWidget* collections_ = nullptr;
};

}  // namespace gui
