// The logic of frmFolderBrowser, the remote folder browser: a tree of the server machine's fixed
// drives, folders and (when choosing a file) matching files, read from the server itself over
// its connection. The New Collection wizard browses for a folder, the Open Collection dialog for
// a data or log file; the command line lists a folder the same way.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "servers/server.h"

namespace dialogs {

inline constexpr int kMessageSelectFolder = 95;
inline constexpr int kMessageNoDatabaseFiles = 96;
inline constexpr int kMessageFree = 97;
// The text of a node whose children have not been read yet.
inline constexpr char kPlaceholderText[] = "HasChildren";

struct FolderNode {
  enum class Kind { kDrive, kFolder, kFile, kPlaceholder };
  Kind kind = Kind::kPlaceholder;
  // Drives: letter + ":\"; folders: parent key + name + "\"; files: parent key + name;
  // placeholders: empty.
  std::string key;
  std::string text;
  std::vector<FolderNode> children;
};

// A drive of the server machine as xp_fixeddrives lists it.
struct ServerDrive {
  std::string letter;
  std::string free_megabytes;
};

class frmFolderBrowser {
 public:
  // `server`'s connection runs the listing statements; it must outlive the browser.
  explicit frmFolderBrowser(servers::Server& server) : server_(server) {}

  // Folder mode lists drives and folders only (choosing a folder); file mode lists folders and
  // the files whose name holds the filter ("mdf", "ldf").
  void SetFolderMode(bool folder_mode) { folder_mode_ = folder_mode; }
  bool FolderMode() const { return folder_mode_; }
  void SetFileFilter(std::string_view filter) { file_filter_ = filter; }

  // Activation: "EXEC master..xp_fixeddrives" fills the tree with one drive node per row, each
  // with a placeholder. An error of the listing reaches the caller.
  void Form_Activate();
  // Expanding the node of that key: when its first child is the placeholder, its children are
  // read with xp_dirtree; a listing that fails leaves it without children. Unknown keys and
  // nodes read already are left alone.
  void TreeView1_Expand(std::string_view key);
  // OK with the node of that key selected (empty: none): the last browsed path becomes the key.
  void cmdOK_Click(std::string_view selected_key) { last_browsed_path_ = selected_key; }
  // Cancel: the last browsed path becomes empty.
  void cmdCancel_Click() { last_browsed_path_.clear(); }

  const std::vector<FolderNode>& Nodes() const { return nodes_; }
  const FolderNode* Find(std::string_view key) const;
  const std::string& LastBrowsedPath() const { return last_browsed_path_; }

  // The drives as the server lists them ("EXEC master..xp_fixeddrives"). Errors reach the
  // caller.
  std::vector<ServerDrive> ListDrives();
  // The folders (and in file mode the matching files) one level below a path that ends in a
  // backslash, folders first. Nothing when the server cannot list the path.
  std::optional<std::vector<FolderNode>> ListFolder(std::string_view path);

 private:
  servers::Server& server_;
  bool folder_mode_ = true;
  std::string file_filter_;
  std::vector<FolderNode> nodes_;
  std::string last_browsed_path_;
};

// A drive node's text: its key, " (", the free megabytes, " MB ", message 97 and ")".
std::string DriveText(const ServerDrive& drive);

// The folder the server creates databases in when no path is given: the folder of master's data
// file, ending in a backslash. Empty when the server does not tell.
std::string DefaultDataFolder(servers::Server& server);

}  // namespace dialogs
