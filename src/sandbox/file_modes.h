// The instance's folders and files are for its owner's eyes only: master holds the login hashes
// and every database the rows of its archive. Folders are made 0700 and files 0600, whatever the
// process's umask, and an instance opened later has wider modes taken back.
#pragma once

#include <filesystem>
#include <string_view>

namespace sandbox {

// Creates the folder and its missing parents, each new one with mode 0700. True when the folder
// exists afterwards.
bool CreatePrivateFolders(const std::filesystem::path& folder);
// Creates an empty file with mode 0600 when there is none; an existing file is left as it is.
// False when the file is not there afterwards.
bool CreatePrivateFile(const std::filesystem::path& file);
// Replaces the file's contents (truncating it), creating it with mode 0600 when missing and
// narrowing the mode of an existing one. False on any failure.
bool WritePrivateFile(const std::filesystem::path& file, std::string_view contents);
// Takes the group's and others' rights away from the folder and everything below it. Symbolic
// links are neither followed nor changed, and what cannot be changed is left as it is.
void RestrictModes(const std::filesystem::path& folder);

}  // namespace sandbox
