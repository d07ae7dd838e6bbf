// The file system of the instance's machine: drive paths such as "C:\Data\x.mdf" live in
// folders drives/C/Data below the instance folder. Windows compares names without regard to
// case, so each component is matched against what exists before a new one is made up.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sandbox {

class Machine {
 public:
  explicit Machine(std::filesystem::path instance_directory);

  // nullopt for paths that are not absolute drive paths ("x.mdf", "\\server\share", "C:x").
  std::optional<std::filesystem::path> ToHost(std::string_view machine_path) const;
  // The machine form of a host path below a drive folder, e.g. "C:\Data\x.mdf".
  std::optional<std::string> ToMachine(const std::filesystem::path& host_path) const;
  // Creates the drive's folder (and the folders of path) on the machine.
  bool CreateFolders(std::string_view machine_path) const;
  std::filesystem::path DriveFolder(char letter) const;

  // Joins a folder and a file name the Windows way.
  static std::string Join(std::string_view folder, std::string_view name);
  // The folder part of a machine path ("C:\Data" for "C:\Data\x.mdf"), empty when none.
  static std::string FolderOf(std::string_view machine_path);
  static bool SamePath(std::string_view a, std::string_view b);

 private:
  std::filesystem::path drives_;
};

}  // namespace sandbox
