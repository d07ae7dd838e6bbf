#include "gui/collection_user_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialog_kit.h"
#include "gui/login_properties_dialog.h"

namespace gui {

CollectionUserDialog::CollectionUserDialog(security::frmUser& form, platform::UserInterface& ui,
                                           QWidget* parent)
    : QDialog(parent), form_(form), ui_(ui) {
  setModal(true);
  Mnemonics mnemonics;
  login_ = Named(new QComboBox, "cmbLoginName");
  login_->setEditable(true);
  login_->setInsertPolicy(QComboBox::NoInsert);
  login_->setMinimumContentsLength(24);
  user_ = Named(new QLineEdit, "txtDBUsername");
  roles_ = Named(new QListWidget, "lstDatabaseRoles");
  description_ = Named(Explanation(QString()), "lblDescription");
  description_->setMinimumHeight(description_->fontMetrics().lineSpacing() * 2);
  auto* ok = Named(new QPushButton(Message(90)), "cmdOK");
  ok->setDefault(true);
  ok->setAutoDefault(false);
  auto* cancel = Named(new QPushButton(Message(91)), "cmdCancel");
  cancel->setAutoDefault(false);

  login_label_ = BuddyLabel(mnemonics, Message(221), login_);
  login_label_->setObjectName("lblLoginName");
  // In edit mode the login row is hidden and the user name takes its place at the top.
  auto* fields = new QGridLayout;
  fields->addWidget(login_label_, 0, 0);
  fields->addWidget(login_, 0, 1);
  fields->addWidget(BuddyLabel(mnemonics, Message(227), user_), 1, 0);
  fields->addWidget(user_, 1, 1);
  fields->setColumnStretch(1, 1);
  auto* frame = new QGroupBox(Message(112));
  auto* frame_layout = new QVBoxLayout(frame);
  frame_layout->addWidget(description_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(8);
  layout->addWidget(BuddyLabel(mnemonics, Message(228), roles_));
  layout->addWidget(roles_, 1);
  layout->addWidget(frame);
  layout->addLayout(buttons);
  resize(460, 440);

  setTabOrder(login_, user_);
  setTabOrder(user_, roles_);
  setTabOrder(roles_, ok);
  setTabOrder(ok, cancel);

  connect(login_, &QComboBox::editTextChanged, this, [this](const QString& text) {
    if (pushing_) return;
    Pull();
    form_.cmbLoginName_Change(text.toStdString());
    Push();
  });
  connect(login_, &QComboBox::activated, this,
          [this](int index) { Choose(login_->itemText(index)); });
  connect(roles_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (pushing_ || row < 0) return;
    form_.lstDatabaseRoles_Highlight(row);
    Push();
  });
  connect(roles_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (pushing_) return;
    form_.lstDatabaseRoles_Check(roles_->row(item), item->checkState() == Qt::Checked);
    Push();
  });
  connect(ok, &QPushButton::clicked, this, [this] {
    Pull();
    if (form_.cmdOK_Click()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(this, &QDialog::rejected, this, [this] { form_.cmdCancel_Click(); });

  // Filling the list must not count as typing a login name.
  pushing_ = true;
  for (const std::string& login : form_.cmbLoginNameItems) login_->addItem(Text(login));
  login_->setCurrentIndex(-1);
  pushing_ = false;
  Push();
  if (roles_->count() > 0) roles_->setCurrentRow(0);
}

void CollectionUserDialog::Choose(const QString& entry) {
  Pull();
  std::unique_ptr<security::frmLogin> login = form_.cmbLoginName_Click(entry.toStdString());
  if (login) {
    LoginPropertiesDialog dialog(*login, ui_, this);
    dialog.exec();
    form_.NewLoginClosed();
  }
  Push();
}

void CollectionUserDialog::Pull() {
  form_.cmbLoginName.text = login_->currentText().toStdString();
  form_.txtDBUsername.text = user_->text().toStdString();
}

void CollectionUserDialog::Push() {
  pushing_ = true;
  setWindowTitle(Text(form_.Caption()));
  Bind(login_label_, form_.lblLoginName);
  Bind(login_, form_.cmbLoginName);
  if (login_->currentText().toStdString() != form_.cmbLoginName.text) {
    login_->setEditText(Text(form_.cmbLoginName.text));
  }
  BindLine(user_, form_.txtDBUsername);
  const auto& roles = form_.Roles();
  if (roles_->count() != static_cast<int>(roles.size())) {
    roles_->clear();
    for (const auto& role : roles) {
      auto* item = new QListWidgetItem(Text(role.text), roles_);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    }
  }
  for (int i = 0; i < roles_->count(); ++i) {
    roles_->item(i)->setCheckState(roles[static_cast<size_t>(i)].checked ? Qt::Checked
                                                                         : Qt::Unchecked);
  }
  description_->setText(Text(form_.Description()));
  pushing_ = false;
}

}  // namespace gui
