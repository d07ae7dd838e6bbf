// The remote folder browser: the server machine's drives, folders and (choosing a file) matching
// files as dialogs::frmFolderBrowser reads them over the server's connection.
#pragma once

#include <QDialog>
#include <QTreeWidget>
#include <string>

#include "dialogs/folder_browser.h"
#include "servers/server.h"

namespace gui {

class FolderBrowserDialog : public QDialog {
  Q_OBJECT

 public:
  // `form` has been activated (its drives listed); it must outlive the dialog.
  FolderBrowserDialog(dialogs::frmFolderBrowser& form, const QString& caption,
                      const QString& prompt, QWidget* parent = nullptr);

  QTreeWidget* tree() const { return tree_; }
  dialogs::frmFolderBrowser& form() { return form_; }

  // Shows a browser for `server` modally and returns its last browsed path: the chosen key, or
  // empty when cancelled. Folder mode without a filter, file mode with one. A failure to list the
  // drives reaches the caller.
  static std::string Browse(servers::Server& server, bool folder_mode, const std::string& filter,
                            const QString& caption, const QString& prompt, QWidget* parent);

 private:
  void AddChildren(QTreeWidgetItem* parent, const std::vector<dialogs::FolderNode>& nodes);
  void Expand(QTreeWidgetItem* item);

  dialogs::frmFolderBrowser& form_;
  QTreeWidget* tree_ = nullptr;
};

}  // namespace gui
