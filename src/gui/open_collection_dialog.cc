#include "gui/open_collection_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "console/commands.h"
#include "gui/dialog_kit.h"
#include "gui/folder_browser_dialog.h"

namespace gui {

OpenCollectionDialog::OpenCollectionDialog(platform::UserInterface& ui,
                                           collections::Databases& databases, QWidget* parent)
    : QDialog(parent), ui_(ui), databases_(databases), form_(ui) {
  form_.SetDatabases(databases);
  setWindowTitle(Text(dialogs::frmOpenArchive::Caption()));
  setModal(true);
  Mnemonics mnemonics;
  name_ = Named(new QLineEdit, "txtDatabaseName");
  mdf_ = Named(new QLineEdit, "txtMDFFilename");
  mdf_->setMinimumWidth(340);
  ldf_ = Named(new QLineEdit, "txtLDFFilename");
  auto* name_label = BuddyLabel(mnemonics, Message(161), name_);
  auto* mdf_label = BuddyLabel(mnemonics, Message(162), mdf_);
  auto* ldf_label = BuddyLabel(mnemonics, Message(163), ldf_);
  // The browse buttons say "..." only; their names say which file they choose.
  auto* select_mdf = Named(new QPushButton("..."), "cmdSelectMDF");
  select_mdf->setAccessibleName(Text(dialogs::frmOpenArchive::DataFileBrowseCaption()));
  select_mdf->setToolTip(select_mdf->accessibleName());
  auto* select_ldf = Named(new QPushButton("..."), "cmdSelectLDF");
  select_ldf->setAccessibleName(Text(dialogs::frmOpenArchive::LogFileBrowseCaption()));
  select_ldf->setToolTip(select_ldf->accessibleName());
  auto* ok = Named(new QPushButton(Message(90)), "cmdOK");
  ok->setDefault(true);
  auto* cancel = Named(new QPushButton(Message(91)), "cmdCancel");

  auto* grid = new QGridLayout;
  grid->addWidget(name_label, 0, 0, 1, 2);
  grid->addWidget(name_, 1, 0, 1, 2);
  grid->setRowMinimumHeight(2, 8);
  grid->addWidget(mdf_label, 3, 0, 1, 2);
  grid->addWidget(mdf_, 4, 0);
  grid->addWidget(select_mdf, 4, 1);
  grid->setRowMinimumHeight(5, 8);
  grid->addWidget(ldf_label, 6, 0, 1, 2);
  grid->addWidget(ldf_, 7, 0);
  grid->addWidget(select_ldf, 7, 1);
  grid->setColumnStretch(0, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(12);
  layout->addLayout(buttons);

  setTabOrder(name_, mdf_);
  setTabOrder(mdf_, select_mdf);
  setTabOrder(select_mdf, ldf_);
  setTabOrder(ldf_, select_ldf);
  setTabOrder(select_ldf, ok);
  setTabOrder(ok, cancel);

  connect(select_mdf, &QPushButton::clicked, this, [this] { Browse(true); });
  connect(select_ldf, &QPushButton::clicked, this, [this] { Browse(false); });
  connect(ok, &QPushButton::clicked, this, [this] {
    Pull();
    if (form_.cmdOK_Click()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  Push();
}

void OpenCollectionDialog::Pull() {
  form_.SetDatabaseName(name_->text().toStdString());
  form_.SetMDFFilename(mdf_->text().toStdString());
  form_.SetLDFFilename(ldf_->text().toStdString());
}

void OpenCollectionDialog::Push() {
  name_->setText(Text(form_.DatabaseName()));
  mdf_->setText(Text(form_.MDFFilename()));
  ldf_->setText(Text(form_.LDFFilename()));
}

void OpenCollectionDialog::Browse(bool data_file) {
  Pull();
  servers::Server* server = databases_.Server();
  if (!server) return;
  std::string path;
  try {
    path = FolderBrowserDialog::Browse(
        *server, false, data_file ? "mdf" : "ldf",
        Text(data_file ? dialogs::frmOpenArchive::DataFileBrowseCaption()
                       : dialogs::frmOpenArchive::LogFileBrowseCaption()),
        Text(form_.BrowsePrompt()), this);
  } catch (const std::exception& error) {
    console::ReportError(ui_, std::string(), error);
    return;
  }
  if (data_file) {
    form_.ApplyBrowsedDataFile(path);
  } else {
    form_.ApplyBrowsedLogFile(path);
  }
  Push();
  (data_file ? mdf_ : ldf_)->setFocus();
}

}  // namespace gui
