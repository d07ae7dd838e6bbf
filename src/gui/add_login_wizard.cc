#include "gui/add_login_wizard.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QVBoxLayout>

#include "console/result_views.h"

namespace gui {

AddLoginWizard::AddLoginWizard(security::frmUserWizard& form, QWidget* parent)
    : WizardFrame(Text(security::frmUserWizard::Caption()), console::kIconUser, parent),
      form_(form) {
  // Authentication type.
  windows_ = Named(new QRadioButton(mnemonics_(Message(265))), "optWindowsAuthentication");
  sql_ = Named(new QRadioButton(mnemonics_(Message(267))), "optSQLServerAuthentication");
  for (QRadioButton* option : {windows_, sql_})
    option->setAccessibleName(AccessibleText(option->text()));
  auto* authentication = new QButtonGroup(this);
  authentication->addButton(windows_);
  authentication->addButton(sql_);
  QWidget* type_page = AddPage(Heading(Message(262)), Explanation(Message(263)));
  auto* type_layout = new QGridLayout(type_page);
  type_layout->setContentsMargins(40, 16, 40, 16);
  type_layout->addWidget(Explanation(Message(264)), 0, 0, 1, 2);
  type_layout->setRowMinimumHeight(1, 8);
  type_layout->addWidget(windows_, 2, 0, 1, 2);
  type_layout->addWidget(Explanation(Message(266)), 3, 1);
  type_layout->setRowMinimumHeight(4, 8);
  type_layout->addWidget(sql_, 5, 0, 1, 2);
  type_layout->addWidget(Explanation(Message(268)), 6, 1);
  type_layout->setColumnMinimumWidth(0, 24);
  type_layout->setColumnStretch(1, 1);
  type_layout->setRowStretch(7, 1);

  // Account.
  account_header_ = Heading(QString());
  account_subheader_ = Explanation(QString());
  QWidget* account_page = AddPage(account_header_, account_subheader_);
  account_explanation_ = Explanation(QString());
  name_ = Named(new QLineEdit, "txtLoginName");
  pick_ = Button(mnemonics_, Message(306), "cmdPickLoginName");
  access_note_ = Explanation(Message(249));
  grant_ = Named(new QRadioButton(mnemonics_(Message(108))), "optGrantLogin");
  deny_ = Named(new QRadioButton(mnemonics_(Message(109))), "optDenyLogin");
  for (QRadioButton* option : {grant_, deny_})
    option->setAccessibleName(AccessibleText(option->text()));
  auto* access = new QButtonGroup(this);
  access->addButton(grant_);
  access->addButton(deny_);
  password_ = Named(new QLineEdit, "txtPassword");
  password_->setEchoMode(QLineEdit::Password);
  password2_ = Named(new QLineEdit, "txtPassword2");
  password2_->setEchoMode(QLineEdit::Password);
  auto* account_layout = new QGridLayout(account_page);
  account_layout->setContentsMargins(40, 16, 40, 16);
  account_layout->addWidget(account_explanation_, 0, 0, 1, 3);
  account_layout->setRowMinimumHeight(1, 8);
  account_layout->addWidget(BuddyLabel(mnemonics_, Message(221), name_), 2, 0);
  account_layout->addWidget(name_, 2, 1);
  account_layout->addWidget(pick_, 2, 2);
  password_label_ = BuddyLabel(mnemonics_, Message(222), password_);
  password2_label_ = BuddyLabel(mnemonics_, Message(252), password2_);
  account_layout->addWidget(password_label_, 3, 0);
  account_layout->addWidget(password_, 3, 1);
  account_layout->addWidget(password2_label_, 4, 0);
  account_layout->addWidget(password2_, 4, 1);
  account_layout->setRowMinimumHeight(5, 8);
  account_layout->addWidget(access_note_, 6, 0, 1, 3);
  account_layout->addWidget(grant_, 7, 0, 1, 3);
  account_layout->addWidget(deny_, 8, 0, 1, 3);
  account_layout->setColumnStretch(1, 1);
  account_layout->setRowStretch(9, 1);

  // Collections.
  collections_ = Named(new QListWidget, "lstDatabases");
  QWidget* collections_page = AddPage(Heading(Message(255)), Explanation(Message(256)));
  auto* collections_layout = new QVBoxLayout(collections_page);
  collections_layout->setContentsMargins(40, 16, 40, 16);
  collections_layout->addWidget(BuddyLabel(mnemonics_, Message(257), collections_));
  collections_layout->addWidget(collections_, 1);

  balloon_ = new Balloon(this, form_.Balloon());

  setTabOrder(windows_, sql_);
  setTabOrder(sql_, name_);
  setTabOrder(name_, pick_);
  setTabOrder(pick_, password_);
  setTabOrder(password_, password2_);
  setTabOrder(password2_, grant_);
  setTabOrder(grant_, deny_);
  setTabOrder(deny_, collections_);
  setTabOrder(collections_, back());
  setTabOrder(back(), next());
  setTabOrder(next(), cancel());

  auto handle = [this](auto handler) {
    return [this, handler] {
      Pull();
      handler();
      Push();
    };
  };
  connect(windows_, &QRadioButton::clicked, this,
          handle([this] { form_.optWindowsAuthentication_Click(); }));
  connect(sql_, &QRadioButton::clicked, this,
          handle([this] { form_.optSQLServerAuthentication_Click(); }));
  connect(grant_, &QRadioButton::clicked, this, handle([this] { form_.optGrantLogin_Click(); }));
  connect(deny_, &QRadioButton::clicked, this, handle([this] { form_.optDenyLogin_Click(); }));
  connect(pick_, &QPushButton::clicked, this, handle([this] { form_.cmdPickLoginName_Click(); }));
  connect(back(), &QPushButton::clicked, this, handle([this] { form_.cmdZur_ck_Click(); }));
  connect(next(), &QPushButton::clicked, this, [this] {
    Pull();
    form_.cmdWeiter_Click();
    Push();
    if (form_.Closed()) {
      accept();
      return;
    }
    const security::ValidationBalloon& shown = form_.Balloon();
    if (shown.Shown()) {
      QWidget* field = shown.Field() == "txtPassword" ? password_ : name_;
      balloon_->ShowAt(field, QString());
    }
  });
  connect(cancel(), &QPushButton::clicked, this, &AddLoginWizard::reject);
  connect(collections_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (pushing_) return;
    const int row = collections_->row(item);
    if (row >= 0 && row < static_cast<int>(form_.lstDatabases.size())) {
      form_.lstDatabases[static_cast<size_t>(row)].checked = item->checkState() == Qt::Checked;
    }
  });
  Push();
}

void AddLoginWizard::reject() {
  if (form_.Closed() || form_.cmdAbbrechen_Click()) QDialog::reject();
}

void AddLoginWizard::Pull() {
  form_.txtLoginName.text = name_->text().toStdString();
  form_.txtPassword.text = password_->text().toStdString();
  form_.txtPassword2.text = password2_->text().toStdString();
}

void AddLoginWizard::Push() {
  pushing_ = true;
  const int page = form_.CurrentPage();
  const bool welcome = page == security::kWizardWelcome || page == security::kWizardResult;
  SetWelcome(Text(form_.WelcomeTitle()), Text(form_.WelcomeText()), form_.WelcomeHintVisible());
  pages()->setCurrentIndex(welcome ? 0 : page - 1);

  windows_->setChecked(form_.optWindowsAuthentication.checked);
  sql_->setChecked(form_.optSQLServerAuthentication.checked);
  account_header_->setText(Text(form_.AccountHeader()));
  account_subheader_->setText(Text(form_.AccountSubheader()));
  account_explanation_->setText(Text(form_.AccountExplanation()));
  if (name_->text().toStdString() != form_.txtLoginName.text)
    name_->setText(Text(form_.txtLoginName.text));
  Bind(pick_, form_.cmdPickLoginName);
  grant_->setChecked(form_.optGrantLogin.checked);
  deny_->setChecked(form_.optDenyLogin.checked);
  Bind(grant_, form_.optGrantLogin);
  Bind(deny_, form_.optDenyLogin);
  access_note_->setVisible(form_.optGrantLogin.visible);
  Bind(password_, form_.txtPassword);
  Bind(password2_, form_.txtPassword2);
  password_label_->setVisible(form_.txtPassword.visible);
  password2_label_->setVisible(form_.txtPassword2.visible);

  if (collections_->count() != static_cast<int>(form_.lstDatabases.size())) {
    collections_->clear();
    for (const auto& entry : form_.lstDatabases) {
      auto* item = new QListWidgetItem(Text(entry.text), collections_);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    }
  }
  for (int i = 0; i < collections_->count(); ++i) {
    const auto& entry = form_.lstDatabases[static_cast<size_t>(i)];
    collections_->item(i)->setText(Text(entry.text));
    collections_->item(i)->setCheckState(entry.checked ? Qt::Checked : Qt::Unchecked);
  }

  back()->setEnabled(form_.BackEnabled());
  cancel()->setEnabled(form_.CancelEnabled());
  SetNextCaption(Text(form_.NextCaption()));
  if (!form_.Balloon().Shown()) balloon_->Hide();

  if (page != shown_page_) {
    shown_page_ = page;
    if (page == security::kWizardAuthentication) {
      (windows_->isChecked() ? windows_ : sql_)->setFocus();
    } else if (page == security::kWizardAccount) {
      name_->setFocus();
    } else if (page == security::kWizardCollections) {
      collections_->setFocus();
    } else {
      next()->setFocus();
    }
  }
  pushing_ = false;
}

}  // namespace gui
