#include "dialogs/folder_browser.h"

#include <cctype>
#include <exception>

#include "common/messages.h"
#include "db/command.h"
#include "db/constants.h"
#include "db/recordset.h"
#include "servers/sql_text.h"

namespace dialogs {

namespace {

// Procedures that print or run with NOCOUNT send row-less results before their rows.
constexpr int kMaxSkippedResults = 100;

void SkipToRows(db::Recordset& recordset) {
  for (int i = 0; i < kMaxSkippedResults && recordset.State() != db::kStateOpen; ++i) {
    recordset.NextRecordset();
  }
}

// The filter found in the name, searched from its end without regard to letter case.
bool NameHoldsFilter(std::string_view name, std::string_view filter) {
  if (filter.empty()) return true;
  for (size_t i = name.size(); i >= filter.size(); --i) {
    if (servers::EqualsNoCase(name.substr(i - filter.size(), filter.size()), filter)) return true;
    if (i == filter.size()) break;
  }
  return false;
}

FolderNode Placeholder() {
  return FolderNode{FolderNode::Kind::kPlaceholder, "", kPlaceholderText, {}};
}

}  // namespace

std::string DriveText(const ServerDrive& drive) {
  return drive.letter + ":\\ (" + drive.free_megabytes + " MB " +
         common::LoadMessage(kMessageFree) + ")";
}

std::vector<ServerDrive> frmFolderBrowser::ListDrives() {
  db::Command command;
  command.SetActiveConnection(server_.Connection());
  command.SetCommandType(db::kCmdText);
  command.SetCommandText("EXEC master..xp_fixeddrives");
  db::Recordset recordset;
  recordset.SetCursorLocation(db::kUseClient);
  recordset.Open(command);
  SkipToRows(recordset);
  std::vector<ServerDrive> drives;
  if (recordset.State() != db::kStateOpen) return drives;
  for (; !recordset.Eof(); recordset.MoveNext()) {
    drives.push_back({recordset.Fields(0).Value().ToText(), recordset.Fields(1).Value().ToText()});
  }
  recordset.Close();
  return drives;
}

std::optional<std::vector<FolderNode>> frmFolderBrowser::ListFolder(std::string_view path) {
  std::vector<FolderNode> children;
  try {
    db::Command command;
    command.SetActiveConnection(server_.Connection());
    command.SetCommandType(db::kCmdText);
    // The path is data: quoted, so a folder named with a quote is listed, not executed.
    command.SetCommandText("EXEC master..xp_dirtree " + servers::QuoteText(path) +
                           (folder_mode_ ? ", 1, 0" : ", 1, 1"));
    db::Recordset recordset;
    recordset.SetCursorLocation(db::kUseClient);
    recordset.Open(command);
    SkipToRows(recordset);
    if (recordset.State() != db::kStateOpen) return std::nullopt;
    // Folders (file = 0) before files.
    if (!folder_mode_) recordset.SetSort("file");
    std::string parent(path);
    for (; !recordset.Eof(); recordset.MoveNext()) {
      std::string name = recordset.Fields("subdirectory").Value().ToText();
      bool file = !folder_mode_ && recordset.Fields("file").Value().ToText() == "1";
      if (!file) {
        children.push_back(
            FolderNode{FolderNode::Kind::kFolder, parent + name + "\\", name, {Placeholder()}});
      } else if (NameHoldsFilter(name, file_filter_)) {
        children.push_back(FolderNode{FolderNode::Kind::kFile, parent + name, name, {}});
      }
    }
    recordset.Close();
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return children;
}

void frmFolderBrowser::Form_Activate() {
  nodes_.clear();
  for (const ServerDrive& drive : ListDrives()) {
    nodes_.push_back(FolderNode{
        FolderNode::Kind::kDrive, drive.letter + ":\\", DriveText(drive), {Placeholder()}});
  }
}

const FolderNode* frmFolderBrowser::Find(std::string_view key) const {
  const std::vector<FolderNode>* level = &nodes_;
  // Keys of drives and folders end in a backslash, so a node's key begins every key below it.
  while (true) {
    const FolderNode* parent = nullptr;
    for (const FolderNode& node : *level) {
      if (node.kind == FolderNode::Kind::kPlaceholder) continue;
      if (node.key == key) return &node;
      if (node.kind != FolderNode::Kind::kFile && key.starts_with(node.key)) parent = &node;
    }
    if (parent == nullptr) return nullptr;
    level = &parent->children;
  }
}

void frmFolderBrowser::TreeView1_Expand(std::string_view key) {
  // The tree is ours; Find only hands it out read-only.
  auto* node = const_cast<FolderNode*>(Find(key));
  if (node == nullptr || node->children.empty() ||
      node->children.front().kind != FolderNode::Kind::kPlaceholder) {
    return;
  }
  std::optional<std::vector<FolderNode>> children = ListFolder(node->key);
  if (!children) {
    node->children.clear();
    return;
  }
  if (children->empty()) {
    if (folder_mode_) {
      node->children.clear();
    } else {
      // The placeholder stays, telling what is missing.
      node->children.front().text =
          common::LoadMessage(kMessageNoDatabaseFiles) + " (*." + file_filter_ + ")";
    }
    return;
  }
  node->children = std::move(*children);
}

std::string DefaultDataFolder(servers::Server& server) {
  try {
    db::Recordset recordset;
    recordset.Open("SELECT filename FROM master..sysdatabases WHERE name = 'master'",
                   server.Connection());
    SkipToRows(recordset);
    if (recordset.State() != db::kStateOpen || recordset.Eof()) return std::string();
    std::string file = recordset.Fields(0).Value().ToText();
    recordset.Close();
    while (!file.empty() && std::isspace(static_cast<unsigned char>(file.back()))) file.pop_back();
    size_t backslash = file.rfind('\\');
    if (backslash == std::string::npos) return std::string();
    return file.substr(0, backslash + 1);
  } catch (const std::exception&) {
    return std::string();
  }
}

}  // namespace dialogs
