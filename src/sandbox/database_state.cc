// The instance's part of a database's options and log: sysdatabases.status in master, the log
// file beside the data file.
#include "sandbox/databases.h"
#include "sandbox/instance.h"
#include "sandbox/sql_error.h"

namespace sandbox {

using common::Value;

void InstanceImpl::SetDatabaseStatus(int dbid, std::uint32_t status, std::uint32_t status2) {
  std::lock_guard lock(mutex_);
  WriteTransaction([&] {
    if (!ReadDatabase(dbid)) throw errors::UnknownDatabase(std::to_string(dbid));
    // master keeps both words in one column: status2 in the high half.
    CachedStatement update(*master_,
                           "UPDATE main.\"sandbox$databases\" SET status = ? WHERE dbid = ?");
    update.Bind(
        1, Value(static_cast<long long>((static_cast<std::uint64_t>(status2) << 32) | status)));
    update.Bind(2, Value(dbid));
    update.Step();
  });
  ++generations_[dbid];
}

void InstanceImpl::SetCompatibilityLevel(int dbid, int level) {
  std::lock_guard lock(mutex_);
  WriteTransaction([&] {
    if (!ReadDatabase(dbid)) throw errors::UnknownDatabase(std::to_string(dbid));
    CachedStatement update(*master_,
                           "UPDATE main.\"sandbox$databases\" SET cmptlevel = ? WHERE dbid = ?");
    update.Bind(1, Value(level));
    update.Bind(2, Value(dbid));
    update.Step();
  });
  ++generations_[dbid];
}

LogFileState InstanceImpl::LogState(int dbid) const {
  std::lock_guard lock(mutex_);
  auto record = ReadDatabase(dbid);
  if (!record || record->log_host.empty()) return LogFileState{};
  return ReadLogFile(record->log_host);
}

LogFileState InstanceImpl::TruncateLog(int dbid) {
  std::lock_guard lock(mutex_);
  auto record = ReadDatabase(dbid);
  if (!record || record->log_host.empty()) return LogFileState{};
  return TruncateLogFile(record->log_host);
}

LogFileState InstanceImpl::ShrinkLog(int dbid, std::int64_t target_pages) {
  std::lock_guard lock(mutex_);
  auto record = ReadDatabase(dbid);
  if (!record || record->log_host.empty()) return LogFileState{};
  return ShrinkLogFile(record->log_host, target_pages);
}

LogFileState InstanceImpl::GrowLog(int dbid, std::int64_t pages) {
  std::lock_guard lock(mutex_);
  auto record = ReadDatabase(dbid);
  if (!record || record->log_host.empty()) return LogFileState{};
  return GrowLogFile(record->log_host, pages);
}

void InstanceImpl::AppendLog(int dbid, std::string_view text, std::int64_t rows) {
  std::lock_guard lock(mutex_);
  auto record = ReadDatabase(dbid);
  if (!record || record->log_host.empty()) return;
  // A row's log record carries the row and its bookkeeping; a hundred bytes is about right.
  AppendLogRecord(record->log_host, text, rows * 100);
}

}  // namespace sandbox
