#include "gui/folder_browser_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/dialog_kit.h"

namespace gui {

namespace {

constexpr int kKeyRole = Qt::UserRole;

QIcon NodeIcon(const QStyle* style, dialogs::FolderNode::Kind kind) {
  switch (kind) {
    case dialogs::FolderNode::Kind::kDrive:
      return QIcon::fromTheme("drive-harddisk", style->standardIcon(QStyle::SP_DriveHDIcon));
    case dialogs::FolderNode::Kind::kFolder:
      return QIcon::fromTheme("folder", style->standardIcon(QStyle::SP_DirIcon));
    case dialogs::FolderNode::Kind::kFile:
      return QIcon::fromTheme("text-x-generic", style->standardIcon(QStyle::SP_FileIcon));
    case dialogs::FolderNode::Kind::kPlaceholder:
      break;
  }
  return QIcon::fromTheme("dialog-information",
                          style->standardIcon(QStyle::SP_MessageBoxInformation));
}

bool Unread(const dialogs::FolderNode& node) {
  return !node.children.empty() &&
         node.children.front().kind == dialogs::FolderNode::Kind::kPlaceholder &&
         node.children.front().text == dialogs::kPlaceholderText;
}

}  // namespace

FolderBrowserDialog::FolderBrowserDialog(dialogs::frmFolderBrowser& form, const QString& caption,
                                         const QString& prompt, QWidget* parent)
    : QDialog(parent), form_(form) {
  setWindowTitle(caption);
  setModal(true);
  Mnemonics mnemonics;
  tree_ = Named(new QTreeWidget, "TreeView1");
  tree_->setHeaderHidden(true);
  tree_->setUniformRowHeights(true);
  tree_->setMinimumSize(360, 300);
  auto* label = BuddyLabel(mnemonics, prompt, tree_);
  label->setWordWrap(true);
  auto* ok = Named(new QPushButton(Message(90)), "cmdOK");
  ok->setDefault(true);
  auto* cancel = Named(new QPushButton(Message(91)), "cmdCancel");

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(tree_, 1);
  layout->addLayout(buttons);
  setTabOrder(tree_, ok);
  setTabOrder(ok, cancel);

  for (const dialogs::FolderNode& drive : form_.Nodes()) {
    auto* item = new QTreeWidgetItem(tree_);
    item->setText(0, Text(drive.text));
    item->setData(0, kKeyRole, Text(drive.key));
    item->setIcon(0, NodeIcon(style(), drive.kind));
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
  if (tree_->topLevelItemCount() > 0) tree_->setCurrentItem(tree_->topLevelItem(0));

  connect(tree_, &QTreeWidget::itemExpanded, this, &FolderBrowserDialog::Expand);
  connect(ok, &QPushButton::clicked, this, [this] {
    QTreeWidgetItem* item = tree_->currentItem();
    form_.cmdOK_Click(item ? item->data(0, kKeyRole).toString().toStdString() : std::string());
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // Escape and the title bar's close button cancel too.
  connect(this, &QDialog::rejected, this, [this] { form_.cmdCancel_Click(); });
}

void FolderBrowserDialog::AddChildren(QTreeWidgetItem* parent,
                                      const std::vector<dialogs::FolderNode>& nodes) {
  for (const dialogs::FolderNode& node : nodes) {
    auto* item = new QTreeWidgetItem(parent);
    item->setText(0, Text(node.text));
    item->setData(0, kKeyRole, Text(node.key));
    item->setIcon(0, NodeIcon(style(), node.kind));
    // What the placeholder says instead of files is no path to choose.
    if (node.kind == dialogs::FolderNode::Kind::kPlaceholder) {
      item->setFlags(item->flags() & ~Qt::ItemIsSelectable);
    }
    item->setChildIndicatorPolicy(Unread(node) ? QTreeWidgetItem::ShowIndicator
                                               : QTreeWidgetItem::DontShowIndicatorWhenChildless);
  }
}

void FolderBrowserDialog::Expand(QTreeWidgetItem* item) {
  if (item->childCount() > 0) return;
  const std::string key = item->data(0, kKeyRole).toString().toStdString();
  form_.TreeView1_Expand(key);
  const dialogs::FolderNode* node = form_.Find(key);
  if (!node) return;
  AddChildren(item, node->children);
  if (item->childCount() == 0) {
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  }
}

std::string FolderBrowserDialog::Browse(servers::Server& server, bool folder_mode,
                                        const std::string& filter, const QString& caption,
                                        const QString& prompt, QWidget* parent) {
  dialogs::frmFolderBrowser form(server);
  form.SetFolderMode(folder_mode);
  if (!folder_mode) form.SetFileFilter(filter);
  form.Form_Activate();
  FolderBrowserDialog dialog(form, caption, prompt, parent);
  dialog.exec();
  return form.LastBrowsedPath();
}

}  // namespace gui
