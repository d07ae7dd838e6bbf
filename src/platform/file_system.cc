#include "platform/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace platform {

namespace {

// A path with a zero byte would name another file than the one meant.
bool Usable(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

}  // namespace

bool LocalFileSystem::MakePrivateFolder(const std::string& path) {
  if (!Usable(path)) return false;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0022) == 0;
}

bool LocalFileSystem::CreateFolder(const std::string& path) {
  if (!Usable(path)) return false;
  std::error_code error;
  return std::filesystem::create_directory(path, error);
}

void LocalFileSystem::Remove(const std::string& path) {
  if (!Usable(path)) return;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

void LocalFileSystem::RemoveAll(const std::string& path) {
  if (!Usable(path)) return;
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::optional<std::string> LocalFileSystem::ReadFile(const std::string& path) {
  if (!Usable(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

bool LocalFileSystem::WriteFile(const std::string& path, std::string_view bytes) {
  if (!Usable(path)) return false;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool whole = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0) whole = false;
  return whole;
}

}  // namespace platform
