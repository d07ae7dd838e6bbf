#include "gui/account_picker.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace gui {

AccountPickerDialog::AccountPickerDialog(const QString& title,
                                         std::vector<platform::Account> accounts, QWidget* parent)
    : QDialog(parent), accounts_(std::move(accounts)) {
  setWindowTitle(title);
  setModal(true);
  Mnemonics mnemonics;
  list_ = Named(new QListWidget, "lstAccounts");
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setMinimumSize(320, 240);
  for (const platform::Account& account : accounts_) {
    list_->addItem(Text(account.domain + "\\" + account.name));
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
  auto* label = BuddyLabel(mnemonics, "Accounts and groups:", list_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(Message(90));
  buttons->button(QDialogButtonBox::Ok)->setObjectName("cmdOK");
  buttons->button(QDialogButtonBox::Cancel)->setText(Message(91));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cmdCancel");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(list_, 1);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

std::vector<platform::Account> AccountPickerDialog::Chosen() const {
  std::vector<platform::Account> chosen;
  for (int i = 0; i < list_->count(); ++i) {
    if (list_->item(i)->isSelected()) chosen.push_back(accounts_[static_cast<size_t>(i)]);
  }
  return chosen;
}

std::string PickerUserInterface::PickAccounts(std::string_view title, int) {
  AccountPickerDialog dialog(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                             accounts_.Accounts(), owner_);
  if (dialog.exec() != QDialog::Accepted) return {};
  return platform::JoinAccounts(dialog.Chosen());
}

}  // namespace gui
