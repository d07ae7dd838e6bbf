#include "platform/testing/fake_file_system.h"

namespace platform {

namespace {

std::string Parent(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool Below(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool FakeFileSystem::ParentExists(const std::string& path) const {
  const std::string parent = Parent(path);
  return parent.empty() || folders.count(parent) > 0 || foreign_folders.count(parent) > 0;
}

bool FakeFileSystem::MakePrivateFolder(const std::string& raw) {
  const std::string path = WithoutTrailingSlash(raw);
  if (foreign_folders.count(path) > 0 || files.count(path) > 0) return false;
  if (folders.count(path) == 0 && !ParentExists(path)) return false;
  folders.insert(path);
  return true;
}

bool FakeFileSystem::CreateFolder(const std::string& raw) {
  const std::string path = WithoutTrailingSlash(raw);
  if (folders.count(path) > 0 || foreign_folders.count(path) > 0 || files.count(path) > 0)
    return false;
  if (!ParentExists(path)) return false;
  folders.insert(path);
  return true;
}

void FakeFileSystem::Remove(const std::string& path) {
  files.erase(path);
  folders.erase(WithoutTrailingSlash(path));
}

void FakeFileSystem::RemoveAll(const std::string& raw) {
  const std::string path = WithoutTrailingSlash(raw);
  std::erase_if(files,
                [&](const auto& file) { return file.first == path || Below(file.first, path); });
  std::erase_if(folders,
                [&](const std::string& folder) { return folder == path || Below(folder, path); });
}

std::optional<std::string> FakeFileSystem::ReadFile(const std::string& path) {
  auto found = files.find(path);
  if (found == files.end()) return std::nullopt;
  return found->second;
}

bool FakeFileSystem::WriteFile(const std::string& path, std::string_view bytes) {
  ++writes;
  if (!fail_writes_containing.empty() && path.find(fail_writes_containing) != std::string::npos)
    return false;
  if (folders.count(path) > 0 || !ParentExists(path)) return false;
  files[path] = std::string(bytes);
  return true;
}

}  // namespace platform
