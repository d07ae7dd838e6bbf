#include "sandbox/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include "sandbox/file_modes.h"

namespace sandbox {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMagic = "TESSERA-LOG 1\n";
constexpr std::int64_t kMinimumGrowthBytes = 8 * kPageBytes;
// How much of a record's statement text is written to the file.
constexpr std::size_t kWrittenTextBytes = 512;

struct Header {
  bool present = false;
  std::int64_t used_bytes = 0;  // records after the header page
  std::string growth = "10%";
};

std::int64_t PagesFor(std::int64_t bytes) { return (bytes + kPageBytes - 1) / kPageBytes; }

// The header of a file's first page (`page` may be shorter when the file is).
Header ParseHeader(std::string_view page) {
  Header header;
  std::string text(page.data(), strnlen(page.data(), page.size()));
  if (text.compare(0, kMagic.size(), kMagic) != 0) return header;
  header.present = true;
  size_t used = text.find("used=");
  if (used != std::string::npos)
    header.used_bytes = std::max<long long>(0, std::strtoll(text.c_str() + used + 5, nullptr, 10));
  size_t growth = text.find("growth=");
  if (growth != std::string::npos) {
    size_t end = text.find('\n', growth);
    header.growth = text.substr(growth + 7, end == std::string::npos ? end : end - growth - 7);
  }
  return header;
}

std::string HeaderPage(const Header& header) {
  std::string page(static_cast<size_t>(kPageBytes), '\0');
  std::string text(kMagic);
  char used[40];
  std::snprintf(used, sizeof used, "used=%020lld\n", static_cast<long long>(header.used_bytes));
  text += used;
  // The growth text comes from a CREATE DATABASE statement: keep it to one short line.
  std::string growth = header.growth.substr(0, 32);
  for (char& c : growth)
    if (c == '\n' || c == '\0') c = ' ';
  text += "growth=" + growth + "\n";
  std::copy(text.begin(), text.end(), page.begin());
  return page;
}

Header ReadHeader(std::fstream& file) {
  std::vector<char> page(static_cast<size_t>(kPageBytes), '\0');
  file.seekg(0);
  file.read(page.data(), kPageBytes);
  file.clear();
  return ParseHeader(std::string_view(page.data(), page.size()));
}

bool WriteHeader(std::fstream& file, const Header& header) {
  const std::string page = HeaderPage(header);
  file.seekp(0);
  file.write(page.data(), kPageBytes);
  file.flush();
  return static_cast<bool>(file);
}

// Writes all of `data` at `offset`; false when the system refuses.
bool WriteAt(int fd, std::string_view data, off_t offset) {
  while (!data.empty()) {
    const ssize_t written = pwrite(fd, data.data(), data.size(), offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<size_t>(written));
    offset += written;
  }
  return true;
}

// Closes the descriptor when the scope ends.
struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
};

std::int64_t FileBytes(const fs::path& path) {
  std::error_code ec;
  auto size = fs::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

LogFileState StateOf(std::int64_t file_bytes, const Header& header) {
  LogFileState state;
  state.size_pages = PagesFor(std::max<std::int64_t>(file_bytes, 0));
  state.used_pages = 1 + PagesFor(header.used_bytes);
  state.minimum_pages = std::max(kMinimumLogPages, state.used_pages);
  return state;
}

}  // namespace

std::int64_t GrowthBytes(std::string_view growth, std::int64_t size_bytes) {
  std::string text;
  for (char c : growth)
    if (!std::isspace(static_cast<unsigned char>(c)))
      text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (text.empty()) return size_bytes / 10;
  char* end = nullptr;
  double number = std::strtod(text.c_str(), &end);
  std::string unit(end);
  if (end == text.c_str() || number < 0) return size_bytes / 10;
  if (unit == "%") return static_cast<std::int64_t>(static_cast<double>(size_bytes) * number / 100);
  double factor = 1024.0 * 1024.0;
  if (unit == "KB")
    factor = 1024.0;
  else if (unit == "GB")
    factor = 1024.0 * 1024.0 * 1024.0;
  else if (unit == "TB")
    factor = 1024.0 * 1024.0 * 1024.0 * 1024.0;
  else if (!unit.empty() && unit != "MB")
    return size_bytes / 10;
  return static_cast<std::int64_t>(number * factor);
}

void CreateLogFile(const fs::path& path, std::int64_t size_bytes, std::string_view growth) {
  std::int64_t pages = std::max<std::int64_t>(PagesFor(size_bytes), kMinimumLogPages);
  if (!WritePrivateFile(path, "")) return;
  std::error_code ec;
  fs::resize_file(path, static_cast<std::uintmax_t>(pages * kPageBytes), ec);
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  Header header;
  header.present = true;
  header.growth = growth.empty() ? std::string("10%") : std::string(growth);
  WriteHeader(file, header);
}

LogFileState ReadLogFile(const fs::path& path) {
  std::fstream file(path, std::ios::in | std::ios::binary);
  if (!file) return StateOf(0, Header());
  return StateOf(FileBytes(path), ReadHeader(file));
}

bool AppendLogRecord(const fs::path& path, std::string_view text, std::int64_t extra_bytes) {
  // Every changing statement comes here: plain system calls, no stream set up each time.
  FileDescriptor file{open(path.c_str(), O_RDWR | O_CLOEXEC)};
  if (file.fd < 0) return false;
  std::string page(static_cast<size_t>(kPageBytes), '\0');
  const ssize_t read_bytes = pread(file.fd, page.data(), page.size(), 0);
  Header header = ParseHeader(
      std::string_view(page.data(), read_bytes > 0 ? static_cast<size_t>(read_bytes) : 0));
  header.present = true;
  struct stat status {};
  if (fstat(file.fd, &status) != 0) return false;
  const std::int64_t size = static_cast<std::int64_t>(status.st_size);
  std::int64_t offset = kPageBytes + header.used_bytes;
  std::int64_t record =
      static_cast<std::int64_t>(text.size()) + 1 + std::max<std::int64_t>(0, extra_bytes);
  std::int64_t needed = offset + record;
  if (needed > size) {
    std::int64_t grown = std::max(size, kPageBytes);
    while (grown < needed)
      grown += std::max(GrowthBytes(header.growth, grown), kMinimumGrowthBytes);
    if (ftruncate(file.fd, static_cast<off_t>(PagesFor(grown) * kPageBytes)) != 0) return false;
  }
  // The record takes its whole size in the log, which is what the file's sizes follow; like the
  // rows' bytes, most of it is not written: a statement carrying a document's bytes would
  // otherwise be written to disk once more. Nothing reads the records back.
  std::string written(text.substr(0, std::min<std::size_t>(text.size(), kWrittenTextBytes)));
  written += '\n';
  if (!WriteAt(file.fd, written, static_cast<off_t>(offset))) return false;
  header.used_bytes += record;
  return WriteAt(file.fd, HeaderPage(header), 0);
}

LogFileState GrowLogFile(const fs::path& path, std::int64_t pages) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file) return StateOf(0, Header());
  Header header = ReadHeader(file);
  if (!header.present) {
    header.present = true;
    WriteHeader(file, header);
  }
  file.close();
  if (pages > PagesFor(FileBytes(path))) {
    std::error_code ec;
    fs::resize_file(path, static_cast<std::uintmax_t>(pages * kPageBytes), ec);
  }
  return StateOf(FileBytes(path), header);
}

LogFileState TruncateLogFile(const fs::path& path) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file) return StateOf(0, Header());
  Header header = ReadHeader(file);
  header.present = true;
  header.used_bytes = 0;
  WriteHeader(file, header);
  return StateOf(FileBytes(path), header);
}

LogFileState ShrinkLogFile(const fs::path& path, std::int64_t target_pages) {
  Header header;
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) return StateOf(0, Header());
    header = ReadHeader(file);
    if (!header.present) {
      header.present = true;
      WriteHeader(file, header);
    }
  }
  LogFileState state = StateOf(FileBytes(path), header);
  std::int64_t target = std::max(target_pages, state.minimum_pages);
  if (target < state.size_pages) {
    std::error_code ec;
    fs::resize_file(path, static_cast<std::uintmax_t>(target * kPageBytes), ec);
  }
  return StateOf(FileBytes(path), header);
}

}  // namespace sandbox
