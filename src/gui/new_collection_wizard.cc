#include "gui/new_collection_wizard.h"

#include <QGridLayout>
#include <QVBoxLayout>

#include "console/commands.h"
#include "console/result_views.h"
#include "gui/folder_browser_dialog.h"

namespace gui {

NewCollectionWizard::NewCollectionWizard(platform::UserInterface& ui,
                                         collections::Databases& databases, QWidget* parent)
    : WizardFrame(Text(dialogs::frmNewArchiveWizard::Caption()), console::kIconCollection, parent),
      ui_(ui, [this] { Push(); }),
      databases_(databases),
      form_(ui_) {
  form_.SetDatabases(databases);

  name_ = Named(new QLineEdit, "txtArchiveName");
  QWidget* name_page = AddPage(Heading(Message(144)), Explanation(Message(145)));
  auto* name_layout = new QGridLayout(name_page);
  name_layout->setContentsMargins(40, 24, 40, 16);
  name_layout->addWidget(BuddyLabel(mnemonics_, Message(147), name_), 0, 0);
  name_layout->addWidget(name_, 0, 1);
  name_layout->addWidget(Explanation(Message(149)), 1, 1);
  name_layout->setColumnStretch(1, 1);
  name_layout->setRowStretch(2, 1);

  file_header_ = Heading(QString());
  path_ = Named(new QLineEdit, "txtArchivePath");
  browse_ = Button(mnemonics_, Message(139), "cmdDurchsuchenZielordner");
  QWidget* file_page = AddPage(file_header_, Explanation(Message(146)));
  file_explanation_ = Explanation(QString());
  path_label_ = BuddyLabel(mnemonics_, Text(form_.PathLabel()), path_);
  path_label_->setWordWrap(true);
  auto* file_layout = new QGridLayout(file_page);
  file_layout->setContentsMargins(40, 24, 40, 16);
  file_layout->addWidget(file_explanation_, 0, 0, 1, 2);
  file_layout->addWidget(path_label_, 1, 0, 1, 2);
  file_layout->addWidget(path_, 2, 0);
  file_layout->addWidget(browse_, 2, 1);
  file_layout->setColumnStretch(0, 1);
  file_layout->setRowStretch(3, 1);

  balloon_ = new Balloon(this, validation_, [this] { form_.RemoveBalloon(); });

  setTabOrder(name_, path_);
  setTabOrder(path_, browse_);
  setTabOrder(browse_, back());
  setTabOrder(back(), next());
  setTabOrder(next(), cancel());

  connect(next(), &QPushButton::clicked, this, [this] {
    Pull();
    // A refusal again shows afresh, with its own text and timing.
    validation_.Remove();
    balloon_->Hide();
    form_.cmdWeiter_Click();
    Push();
    if (form_.Closed()) accept();
  });
  connect(back(), &QPushButton::clicked, this, [this] {
    Pull();
    form_.cmdZur_ck_Click();
    Push();
  });
  connect(cancel(), &QPushButton::clicked, this, &NewCollectionWizard::reject);
  connect(browse_, &QPushButton::clicked, this, &NewCollectionWizard::Browse);
  Push();
}

void NewCollectionWizard::reject() {
  if (form_.Closed() || form_.cmdAbbrechen_Click()) QDialog::reject();
}

void NewCollectionWizard::Pull() {
  form_.SetArchiveName(name_->text().toStdString());
  form_.SetArchivePath(path_->text().toStdString());
}

void NewCollectionWizard::Push() {
  const int page = form_.CurrentPage();
  const bool welcome = page == dialogs::kPageWelcome || page == dialogs::kPageResult;
  SetWelcome(Text(form_.WelcomeTitle()), Text(form_.WelcomeText()), form_.WelcomeHintVisible());
  pages()->setCurrentIndex(welcome ? 0 : page - 1);

  if (name_->text().toStdString() != form_.ArchiveName()) name_->setText(Text(form_.ArchiveName()));
  file_header_->setText(Text(form_.FileHeader()));
  file_explanation_->setText(Text(form_.FileExplanation()));
  if (path_->text().toStdString() != form_.ArchivePath()) path_->setText(Text(form_.ArchivePath()));
  // While creating, the page shows only its working texts.
  const bool inputs = form_.PathControlsVisible();
  path_label_->setVisible(inputs);
  path_->setVisible(inputs);
  browse_->setVisible(inputs);

  back()->setEnabled(form_.BackEnabled());
  next()->setEnabled(form_.NextEnabled());
  cancel()->setEnabled(form_.CancelEnabled());
  SetNextCaption(Text(form_.NextCaption()));

  if (page != shown_page_) {
    shown_page_ = page;
    if (page == dialogs::kPageName) {
      name_->selectAll();
      name_->setFocus();
    } else if (page == dialogs::kPageFile) {
      path_->setFocus();
    } else {
      next()->setFocus();
    }
  }

  const std::optional<dialogs::Refusal>& refusal = form_.Balloon();
  if (refusal && !validation_.Shown()) {
    QLineEdit* field = page == dialogs::kPageName ? name_ : path_;
    validation_.Show(refusal->text, field->objectName().toStdString());
    // A duplicate name is selected whole, ready to be typed over.
    if (refusal->message == dialogs::kMessageNameInUse) name_->selectAll();
    balloon_->ShowAt(field, Text(refusal->title));
  } else if (!refusal && validation_.Shown()) {
    validation_.Remove();
    balloon_->Hide();
  }
}

void NewCollectionWizard::Browse() {
  Pull();
  servers::Server* server = databases_.Server();
  if (!server) return;
  std::string folder;
  try {
    folder = FolderBrowserDialog::Browse(*server, true, std::string(),
                                         Text(dialogs::frmNewArchiveWizard::BrowseCaption()),
                                         Text(form_.BrowsePrompt()), this);
  } catch (const std::exception& error) {
    console::ReportError(ui_, std::string(), error);
    return;
  }
  form_.ApplyBrowsedFolder(folder);
  Push();
  if (!folder.empty()) path_->setFocus();
}

}  // namespace gui
