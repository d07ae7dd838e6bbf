#include "gui/password_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialog_kit.h"

namespace gui {

PasswordDialog::PasswordDialog(security::frmPassword& form, QWidget* parent)
    : QDialog(parent), form_(form) {
  setWindowTitle(Text(security::frmPassword::Caption()));
  setModal(true);
  Mnemonics mnemonics;
  password_ = Named(new QLineEdit, "txtPassword");
  password_->setEchoMode(QLineEdit::Password);
  password_->setMinimumWidth(220);
  repeated_ = Named(new QLineEdit, "txtPasswordRepeated");
  repeated_->setEchoMode(QLineEdit::Password);
  auto* ok = Named(new QPushButton(Message(90)), "cmdOK");
  ok->setDefault(true);
  auto* cancel = Named(new QPushButton(Message(91)), "cmdCancel");

  auto* fields = new QFormLayout;
  fields->addRow(BuddyLabel(mnemonics, Message(166), password_), password_);
  fields->addRow(BuddyLabel(mnemonics, Message(165), repeated_), repeated_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  setTabOrder(password_, repeated_);
  setTabOrder(repeated_, ok);
  setTabOrder(ok, cancel);

  connect(ok, &QPushButton::clicked, this, [this] {
    form_.txtPassword.text = password_->text().toStdString();
    form_.txtPasswordRepeated.text = repeated_->text().toStdString();
    if (form_.cmdOK_Click()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(this, &QDialog::rejected, this, [this] { form_.cmdCancel_Click(); });
}

}  // namespace gui
