#include "gui/registration_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/dialog_kit.h"

namespace gui {

namespace {

// A step's sentence; with a control, a mnemonic that focuses it and the control's accessible name.
QLabel* Label(Mnemonics& mnemonics, int message, QWidget* buddy) {
  if (!buddy) return new QLabel(Message(message));
  return BuddyLabel(mnemonics, Message(message), buddy);
}

}  // namespace

RegistrationDialog::RegistrationDialog(servers::Context context, servers::Servers& servers,
                                       std::shared_ptr<servers::Server> server, QWidget* parent)
    : QDialog(parent), form_(std::move(context), servers) {
  const bool editing = server != nullptr;
  if (editing) form_.SetServer(std::move(server));
  setWindowTitle(editing ? Message(310) : QString::fromStdString(servers::frmSQLServer::Caption()));
  setModal(true);
  Mnemonics mnemonics;

  domains_ = Named(new QComboBox, "cboDomains");
  domains_->setEditable(true);
  servers_ = Named(new QComboBox, "cboServers");
  servers_->setEditable(true);
  servers_->setMinimumContentsLength(28);
  refresh_ = Button(mnemonics, Message(223), "cmdRefresh");
  integrated_ = Named(new QRadioButton(mnemonics(Message(219))), "optIntegratedSecurity");
  server_security_ = Named(new QRadioButton(mnemonics(Message(220))), "optServerSecurity");
  auto* options = new QButtonGroup(this);
  options->addButton(integrated_);
  options->addButton(server_security_);
  username_ = Named(new QLineEdit, "txtUsername");
  password_ = Named(new QLineEdit, "txtPassword");
  password_->setEchoMode(QLineEdit::Password);
  auto* test = Button(mnemonics, Message(224), "cmdTest");
  auto* ok = Named(new QPushButton(Message(90)), "cmdOK");
  ok->setDefault(true);
  auto* cancel = Named(new QPushButton(Message(91)), "cmdCancel");

  // The numbered steps are long sentences: each gets the full width above its control.
  auto* grid = new QGridLayout;
  grid->addWidget(Label(mnemonics, 215, nullptr), 0, 0, 1, 3);
  grid->addWidget(Label(mnemonics, 216, domains_), 1, 0, 1, 3);
  grid->addWidget(domains_, 2, 0, 1, 3);
  grid->addWidget(Label(mnemonics, 217, servers_), 3, 0, 1, 3);
  grid->addWidget(servers_, 4, 0, 1, 2);
  grid->addWidget(refresh_, 4, 2);
  grid->addWidget(Label(mnemonics, 218, nullptr), 5, 0, 1, 3);
  grid->addWidget(integrated_, 6, 0, 1, 3);
  grid->addWidget(server_security_, 7, 0, 1, 3);
  grid->addWidget(Label(mnemonics, 221, username_), 8, 0);
  grid->addWidget(username_, 8, 1, 1, 2);
  grid->addWidget(Label(mnemonics, 222, password_), 9, 0);
  grid->addWidget(password_, 9, 1, 1, 2);
  grid->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(test);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  setTabOrder(domains_, servers_);
  setTabOrder(servers_, refresh_);
  setTabOrder(refresh_, integrated_);
  setTabOrder(integrated_, server_security_);
  setTabOrder(server_security_, username_);
  setTabOrder(username_, password_);
  setTabOrder(password_, test);
  setTabOrder(test, ok);
  setTabOrder(ok, cancel);

  // An edited registration shows its own login data.
  servers_->setEditText(QString::fromStdString(form_.ServerText()));
  username_->setText(QString::fromStdString(form_.Username()));
  password_->setText(QString::fromStdString(form_.Password()));
  (form_.IntegratedSecurity() ? integrated_ : server_security_)->setChecked(true);
  Push();

  connect(refresh_, &QPushButton::clicked, this, [this] {
    Pull();
    form_.cmdRefresh_Click();
    Push();
  });
  connect(domains_, &QComboBox::activated, this, [this] {
    Pull();
    form_.cboDomains_Click();
    Push();
  });
  // Every handler first takes what was typed, since Push writes the form back into the controls.
  connect(integrated_, &QRadioButton::clicked, this, [this] {
    Pull();
    form_.optIntegratedSecurity_Click();
    Push();
  });
  connect(server_security_, &QRadioButton::clicked, this, [this] {
    Pull();
    form_.optServerSecurity_Click();
    Push();
  });
  connect(test, &QPushButton::clicked, this, [this] {
    Pull();
    form_.cmdTest_Click();
  });
  connect(ok, &QPushButton::clicked, this, [this] {
    Pull();
    if (form_.cmdOK_Click()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void RegistrationDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Pull();
  form_.Form_Activate();
  Push();
}

void RegistrationDialog::Pull() {
  form_.SetDomainText(domains_->currentText().toStdString());
  form_.SetServerText(servers_->currentText().toStdString());
  form_.SetUsername(username_->text().toStdString());
  form_.SetPassword(password_->text().toStdString());
}

void RegistrationDialog::Push() {
  auto fill = [](QComboBox* box, const std::vector<std::string>& items, const std::string& text) {
    QStringList wanted;
    for (const std::string& item : items) wanted << QString::fromStdString(item);
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
    if (shown != wanted) {
      box->clear();
      box->addItems(wanted);
    }
    box->setEditText(QString::fromStdString(text));
  };
  fill(domains_, form_.Domains(), form_.DomainText());
  fill(servers_, form_.ServerList(), form_.ServerText());
  refresh_->setEnabled(form_.RefreshEnabled());
  username_->setEnabled(form_.UsernameEnabled());
  password_->setEnabled(form_.PasswordEnabled());
}

}  // namespace gui
