// "Open Network Collection": the database name and the data and log files on the server machine,
// chosen with the remote folder browser, bound to dialogs::frmOpenArchive, which checks them and
// attaches the collection.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "collections/databases.h"
#include "dialogs/open_archive.h"

namespace gui {

class OpenCollectionDialog : public QDialog {
  Q_OBJECT

 public:
  // `databases` is the server's catalogue; it and `ui` must outlive the dialog.
  OpenCollectionDialog(platform::UserInterface& ui, collections::Databases& databases,
                       QWidget* parent = nullptr);

  dialogs::frmOpenArchive& form() { return form_; }

 private:
  void Pull();
  void Push();
  // The data file (true) or log file browser.
  void Browse(bool data_file);

  platform::UserInterface& ui_;
  collections::Databases& databases_;
  dialogs::frmOpenArchive form_;
  QLineEdit* name_ = nullptr;
  QLineEdit* mdf_ = nullptr;
  QLineEdit* ldf_ = nullptr;
};

}  // namespace gui
