#include "gui/login_properties_dialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "gui/dialog_kit.h"
#include "gui/password_dialog.h"

namespace gui {

namespace {

void BindRadio(QRadioButton* button, const security::ControlState& state) {
  button->setChecked(state.checked);
  Bind(button, state);
}

}  // namespace

LoginPropertiesDialog::LoginPropertiesDialog(security::frmLogin& form, platform::UserInterface& ui,
                                             QWidget* parent)
    : QDialog(parent), form_(form), ui_(ui) {
  setModal(true);
  Mnemonics mnemonics;
  // The tabs' own letters, so the pages' labels do not take them.
  tabs_ = Named(new QTabWidget, "TabStrip");
  auto* ok = Named(new QPushButton(Message(90)), "cmdOK");
  ok->setDefault(true);
  ok->setAutoDefault(false);
  auto* cancel = Named(new QPushButton(Message(91)), "cmdCancel");
  cancel->setAutoDefault(false);

  // Common.
  name_ = Named(new QLineEdit, "txtLoginName");
  pick_ = Named(new QPushButton("..."), "cmdPickLoginName");
  pick_->setAccessibleName(Message(security::kMessageSelectAccount));
  pick_->setToolTip(pick_->accessibleName());
  pick_->setAutoDefault(false);
  windows_ = Named(new QRadioButton, "optWindowsAuthentication");
  sql_ = Named(new QRadioButton, "optSQLServerAuthentication");
  domain_ = Named(new QComboBox, "cboDomain");
  domain_->setEditable(true);
  domain_->setInsertPolicy(QComboBox::NoInsert);
  grant_ = Named(new QRadioButton, "optGrantLogin");
  deny_ = Named(new QRadioButton, "optDenyLogin");
  password_ = Named(new QLineEdit, "txtPassword");
  password_->setEchoMode(QLineEdit::Password);
  change_password_ = Named(new QPushButton("..."), "cmdChangePassword");
  change_password_->setAccessibleName(Message(security::kMessagePasswordCaption));
  change_password_->setToolTip(change_password_->accessibleName());
  change_password_->setAutoDefault(false);

  QWidget* common = new QWidget;
  auto* grid = new QGridLayout(common);
  grid->addWidget(BuddyLabel(mnemonics, Message(103), name_), 0, 0);
  grid->addWidget(name_, 0, 1, 1, 2);
  grid->addWidget(pick_, 0, 3);
  grid->setRowMinimumHeight(1, 8);
  windows_->setText(mnemonics(Message(104)));
  sql_->setText(mnemonics(Message(105)));
  grant_->setText(mnemonics(Message(108)));
  deny_->setText(mnemonics(Message(109)));
  for (QRadioButton* option : {windows_, sql_, grant_, deny_})
    option->setAccessibleName(AccessibleText(option->text()));
  auto* authentication = new QButtonGroup(this);
  authentication->addButton(windows_);
  authentication->addButton(sql_);
  auto* access = new QButtonGroup(this);
  access->addButton(grant_);
  access->addButton(deny_);
  grid->addWidget(windows_, 2, 0, 1, 4);
  grid->addWidget(BuddyLabel(mnemonics, Message(106), domain_), 3, 1);
  grid->addWidget(domain_, 3, 2, 1, 2);
  auto* access_label = new QLabel(Message(107));
  grid->addWidget(access_label, 4, 1);
  grid->addWidget(grant_, 4, 2, 1, 2);
  grid->addWidget(deny_, 5, 2, 1, 2);
  grid->addWidget(sql_, 6, 0, 1, 4);
  grid->addWidget(BuddyLabel(mnemonics, Message(110), password_), 7, 1);
  grid->addWidget(password_, 7, 2);
  grid->addWidget(change_password_, 7, 3);
  grid->setColumnMinimumWidth(0, 20);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(8, 1);

  // Server Roles.
  roles_ = Named(new QListWidget, "lstServerRoles");
  description_ = Named(Explanation(QString()), "lblDescription");
  description_->setMinimumHeight(description_->fontMetrics().lineSpacing() * 3);
  QWidget* roles_page = new QWidget;
  auto* roles_layout = new QVBoxLayout(roles_page);
  roles_layout->addWidget(Explanation(Message(111)));
  roles_->setAccessibleName(AccessibleText(Message(100)));
  roles_layout->addWidget(roles_, 1);
  auto* frame = new QGroupBox(Message(112));
  auto* frame_layout = new QVBoxLayout(frame);
  frame_layout->addWidget(description_);
  roles_layout->addWidget(frame);

  // Collection Access.
  collections_ = Named(new QListWidget, "lstDatabases");
  QWidget* collections_page = new QWidget;
  auto* collections_layout = new QVBoxLayout(collections_page);
  collections_layout->addWidget(BuddyLabel(mnemonics, Message(102), collections_));
  collections_layout->addWidget(collections_, 1);

  tabs_->addTab(common, mnemonics(Message(99)));
  tabs_->addTab(roles_page, mnemonics(Message(100)));
  tabs_->addTab(collections_page, mnemonics(Message(101)));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addLayout(buttons);
  resize(520, 440);

  setTabOrder(name_, pick_);
  setTabOrder(pick_, windows_);
  setTabOrder(windows_, domain_);
  setTabOrder(domain_, grant_);
  setTabOrder(grant_, deny_);
  setTabOrder(deny_, sql_);
  setTabOrder(sql_, password_);
  setTabOrder(password_, change_password_);
  setTabOrder(change_password_, roles_);
  setTabOrder(roles_, collections_);
  setTabOrder(collections_, ok);
  setTabOrder(ok, cancel);

  connect(windows_, &QRadioButton::clicked, this,
          [this] { Handle([this] { form_.optWindowsAuthentication_Click(); }); });
  connect(sql_, &QRadioButton::clicked, this,
          [this] { Handle([this] { form_.optSQLServerAuthentication_Click(); }); });
  connect(grant_, &QRadioButton::clicked, this,
          [this] { Handle([this] { form_.optGrantLogin_Click(); }); });
  connect(deny_, &QRadioButton::clicked, this,
          [this] { Handle([this] { form_.optDenyLogin_Click(); }); });
  connect(pick_, &QPushButton::clicked, this,
          [this] { Handle([this] { form_.cmdPickLoginName_Click(); }); });
  connect(change_password_, &QPushButton::clicked, this, [this] {
    Handle([this] {
      std::unique_ptr<security::frmPassword> password = form_.cmdChangePassword_Click();
      PasswordDialog dialog(*password, this);
      dialog.exec();
    });
  });
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (pushing_) return;
    Handle([this, index] { form_.TabStrip_Click(index + 1); });
  });
  connect(roles_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (pushing_ || row < 0) return;
    Handle([this, row] { form_.lstServerRoles_Highlight(row); });
  });
  connect(roles_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (pushing_) return;
    Handle([this, item] {
      form_.lstServerRoles_Check(roles_->row(item), item->checkState() == Qt::Checked);
    });
  });
  connect(collections_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (pushing_) return;
    Handle([this, item] {
      form_.lstDatabases_Check(collections_->row(item), item->checkState() == Qt::Checked);
    });
  });
  connect(ok, &QPushButton::clicked, this, [this] {
    Pull();
    bool closed = form_.cmdOK_Click();
    Push();
    if (closed || form_.Closed()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(this, &QDialog::rejected, this, [this] { form_.cmdCancel_Click(); });
  Push();
}

void LoginPropertiesDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Reading the server's login mode may fail; the form then keeps the look it had.
  Handle([this] {
    try {
      form_.Form_Activate();
    } catch (const std::exception& error) {
      security::ShowInformation(ui_, security::DescriptionOf(error));
    }
  });
}

void LoginPropertiesDialog::Pull() {
  form_.txtLoginName.text = name_->text().toStdString();
  form_.cboDomain.text = domain_->currentText().toStdString();
  form_.txtPassword.text = password_->text().toStdString();
}

void LoginPropertiesDialog::FillChecks(QListWidget* list,
                                       const std::vector<security::frmLogin::ListEntry>& entries) {
  if (list->count() != static_cast<int>(entries.size())) {
    list->clear();
    for (const auto& entry : entries) {
      auto* item = new QListWidgetItem(Text(entry.text), list);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    }
  }
  for (int i = 0; i < list->count(); ++i) {
    list->item(i)->setText(Text(entries[static_cast<size_t>(i)].text));
    list->item(i)->setCheckState(entries[static_cast<size_t>(i)].checked ? Qt::Checked
                                                                         : Qt::Unchecked);
  }
}

void LoginPropertiesDialog::Push() {
  pushing_ = true;
  setWindowTitle(Text(form_.Caption()));
  BindLine(name_, form_.txtLoginName);
  Bind(pick_, form_.cmdPickLoginName);
  BindRadio(windows_, form_.optWindowsAuthentication);
  BindRadio(sql_, form_.optSQLServerAuthentication);
  QStringList domains;
  for (const std::string& domain : form_.cboDomainItems) domains << Text(domain);
  QStringList shown;
  for (int i = 0; i < domain_->count(); ++i) shown << domain_->itemText(i);
  if (shown != domains) {
    domain_->clear();
    domain_->addItems(domains);
  }
  domain_->setEditText(Text(form_.cboDomain.text));
  Bind(domain_, form_.cboDomain);
  BindRadio(grant_, form_.optGrantLogin);
  BindRadio(deny_, form_.optDenyLogin);
  BindLine(password_, form_.txtPassword);
  Bind(change_password_, form_.cmdChangePassword);
  FillChecks(roles_, form_.ServerRoles());
  description_->setText(Text(form_.Description()));
  FillChecks(collections_, form_.Collections());
  tabs_->setCurrentIndex(form_.CurrentTab() - 1);
  pushing_ = false;
}

}  // namespace gui
