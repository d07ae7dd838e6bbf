#include "sandbox/file_modes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace sandbox {

namespace fs = std::filesystem;

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

// Narrows an existing entry's mode; never follows a link.
void Restrict(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISLNK(st.st_mode)) return;
  mode_t wanted = S_ISDIR(st.st_mode) ? kFolderMode : kFileMode;
  if ((st.st_mode & 0777 & ~wanted) == 0) return;
  ::chmod(path.c_str(), st.st_mode & 0777 & wanted);
}

}  // namespace

bool CreatePrivateFolders(const fs::path& folder) {
  if (folder.empty()) return false;
  fs::path current;
  for (const fs::path& part : folder) {
    current /= part;
    if (part == current.root_path() || part == current.root_name() ||
        part == current.root_directory())
      continue;
    if (::mkdir(current.c_str(), kFolderMode) != 0 && errno != EEXIST) return false;
  }
  std::error_code ec;
  return fs::is_directory(folder, ec);
}

bool CreatePrivateFile(const fs::path& file) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool WritePrivateFile(const fs::path& file, std::string_view contents) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, kFileMode);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, kFileMode) == 0;
  const char* data = contents.data();
  size_t left = contents.size();
  while (ok && left > 0) {
    ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

void RestrictModes(const fs::path& folder) {
  Restrict(folder);
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec))
    Restrict(it->path());
}

}  // namespace sandbox
