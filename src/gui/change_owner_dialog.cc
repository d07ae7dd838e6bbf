#include "gui/change_owner_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialog_kit.h"

namespace gui {

ChangeOwnerDialog::ChangeOwnerDialog(security::frmChangeOwner& form, QWidget* parent)
    : QDialog(parent), form_(form) {
  setWindowTitle(Text(security::frmChangeOwner::Caption()));
  setModal(true);
  Mnemonics mnemonics;
  auto* old_owner = Named(new QLabel(Text(form_.OldOwner())), "lblOldOwner");
  old_owner->setTextFormat(Qt::PlainText);
  old_owner->setTextInteractionFlags(Qt::TextSelectableByMouse);
  old_owner->setAccessibleName(AccessibleText(Message(88)));
  logins_ = Named(new QComboBox, "cmbLoginName");
  logins_->setEditable(true);
  logins_->setInsertPolicy(QComboBox::NoInsert);
  logins_->setMinimumContentsLength(24);
  for (const std::string& name : form_.LoginNames()) logins_->addItem(Text(name));
  logins_->setEditText(Text(form_.LoginName()));
  auto* ok = Named(new QPushButton(Message(90)), "cmdOK");
  ok->setDefault(true);
  auto* cancel = Named(new QPushButton(Message(91)), "cmdCancel");

  auto* fields = new QFormLayout;
  fields->addRow(new QLabel(Message(88)), old_owner);
  auto* new_owner = BuddyLabel(mnemonics, Message(89), logins_);
  new_owner->setObjectName("lblUsername");
  fields->addRow(new_owner, logins_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  setTabOrder(logins_, ok);
  setTabOrder(ok, cancel);

  connect(ok, &QPushButton::clicked, this, [this] {
    form_.SetLoginName(logins_->currentText().toStdString());
    if (form_.cmdOK_Click()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(this, &QDialog::rejected, this, [this] { form_.cmdCancel_Click(); });
}

}  // namespace gui
