// A database's transaction log file (.ldf). Its first page holds how much of the file the active
// log uses and how the file grows; change records follow. The file grows by its growth increment
// when the records fill it, BACKUP LOG empties it and DBCC SHRINKFILE gives the unused end back,
// so the sizes a client reads in sysfiles move as they do on a SQL Server.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace sandbox {

inline constexpr std::int64_t kPageBytes = 8192;
// A log cannot be shrunk below two virtual log files' worth of pages.
inline constexpr std::int64_t kMinimumLogPages = 63;

struct LogFileState {
  std::int64_t size_pages = 0;     // the file as it is on disk
  std::int64_t used_pages = 0;     // the header page and the active records
  std::int64_t minimum_pages = 0;  // what a shrink can reach now
};

// Creates (or replaces) a log file of at least size_bytes, in whole pages. growth is written as
// SQL Server takes it: "10%", "1MB", "512KB", "0" (none).
void CreateLogFile(const std::filesystem::path& path, std::int64_t size_bytes,
                   std::string_view growth);

// The file's sizes; a file without a header (or none at all) reads as empty.
LogFileState ReadLogFile(const std::filesystem::path& path);

// Adds a change record of text and extra_bytes more (the rows it changed), growing the file
// when it is full. Returns false when the file cannot be written.
bool AppendLogRecord(const std::filesystem::path& path, std::string_view text,
                     std::int64_t extra_bytes);

// ALTER DATABASE ... MODIFY FILE (SIZE = ...): the file is made at least pages long.
LogFileState GrowLogFile(const std::filesystem::path& path, std::int64_t pages);

// BACKUP LOG ... WITH TRUNCATE_ONLY: the records are no longer needed; the file keeps its size.
LogFileState TruncateLogFile(const std::filesystem::path& path);

// DBCC SHRINKFILE: the file is cut to target_pages, never below what it needs.
LogFileState ShrinkLogFile(const std::filesystem::path& path, std::int64_t target_pages);

// Bytes a growth setting adds to a file of size_bytes ("10%", "1MB", "64KB", "5" in MB).
std::int64_t GrowthBytes(std::string_view growth, std::int64_t size_bytes);

}  // namespace sandbox
