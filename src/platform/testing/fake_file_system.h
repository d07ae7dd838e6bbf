// Files and folders in memory, with failures on demand: what a test wants the disk to do.
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace platform {

class FakeFileSystem : public FileSystem {
 public:
  bool MakePrivateFolder(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  void Remove(const std::string& path) override;
  void RemoveAll(const std::string& path) override;
  std::optional<std::string> ReadFile(const std::string& path) override;
  bool WriteFile(const std::string& path, std::string_view bytes) override;

  std::map<std::string, std::string> files;  // path -> content
  std::set<std::string> folders{"/tmp"};     // a file or folder needs its parent here
  // Folders that exist but are not private (a link, or writable by others).
  std::set<std::string> foreign_folders;
  // A write whose path contains this text fails, leaving what a full disk leaves: nothing.
  std::string fail_writes_containing;
  int writes = 0;

 private:
  bool ParentExists(const std::string& path) const;
};

}  // namespace platform
