// The instance's part of sessions: every process that opens the instance registers its sessions
// in master, so process ids are unique and sp_who, KILL and the "in use" checks see them all.
#include <unistd.h>

#include <map>

#include "common/process.h"
#include "sandbox/collation.h"
#include "sandbox/databases.h"
#include "sandbox/instance.h"
#include "sandbox/messages.h"
#include "sandbox/session.h"
#include "sandbox/sql_error.h"

namespace sandbox {

using common::Value;

namespace {

SqlError SingleUser(std::string_view name) { return errors::Raise<924>(name); }

}  // namespace

InstanceImpl::ProcessIdentity InstanceImpl::Self() const {
  std::int64_t pid = ::getpid();
  if (self_.pid != pid) self_ = ProcessIdentity{pid, common::ProcessStart(pid)};
  return self_;
}

std::vector<SessionEntry> InstanceImpl::ReadSessions(bool with_killed, bool* dead) const {
  ProcessIdentity self = Self();
  CachedStatement rows(*master_,
                       "SELECT s.spid, s.pid, s.process_start, s.login, s.sid, s.dbid, d.name, "
                       "s.host, s.program, s.killed FROM sessions.\"sandbox$sessions\" s LEFT JOIN "
                       "main.\"sandbox$databases\" d ON d.dbid = s.dbid ORDER BY s.spid");
  std::map<std::pair<std::int64_t, std::string>, bool> alive;
  std::vector<SessionEntry> out;
  while (rows.Step()) {
    std::int64_t pid = rows.ColumnInt(1);
    std::string start = rows.ColumnText(2);
    bool live = pid == self.pid && start == self.start;
    if (!live) {
      auto key = std::make_pair(pid, start);
      auto it = alive.find(key);
      if (it == alive.end()) it = alive.emplace(key, common::ProcessAlive(pid, start)).first;
      live = it->second;
    }
    if (!live) {
      if (dead) *dead = true;
      continue;
    }
    if (rows.ColumnInt(9) != 0 && !with_killed) continue;
    SessionEntry entry;
    entry.spid = static_cast<int>(rows.ColumnInt(0));
    entry.pid = pid;
    entry.login = rows.ColumnText(3);
    Value sid = rows.Column(4);
    if (const auto* bytes = sid.AsBytes()) entry.sid = *bytes;
    entry.dbid = static_cast<int>(rows.ColumnInt(5));
    entry.database = rows.ColumnText(6);
    entry.host = rows.ColumnText(7);
    entry.program = rows.ColumnText(8);
    out.push_back(std::move(entry));
  }
  return out;
}

void InstanceImpl::PurgeDeadSessions() const {
  // Each process is looked at once, however many sessions it holds (a console holds one per
  // collection).
  ProcessIdentity self = Self();
  std::vector<std::pair<std::int64_t, std::string>> dead;
  {
    CachedStatement processes(
        *master_, "SELECT DISTINCT pid, process_start FROM sessions.\"sandbox$sessions\"");
    while (processes.Step()) {
      std::int64_t pid = processes.ColumnInt(0);
      std::string start = processes.ColumnText(1);
      if ((pid != self.pid || start != self.start) && !common::ProcessAlive(pid, start))
        dead.emplace_back(pid, std::move(start));
    }
  }
  for (const auto& [pid, start] : dead) {
    CachedStatement remove(*master_,
                           "DELETE FROM sessions.\"sandbox$sessions\" WHERE pid = ? AND "
                           "process_start = ?");
    remove.Bind(1, Value(static_cast<long long>(pid)));
    remove.Bind(2, Value(start));
    remove.Step();
  }
}

bool InstanceImpl::InUseLocked(int dbid, int except_spid) const {
  for (const SessionEntry& entry : ReadSessions(false))
    if (entry.dbid == dbid && entry.spid != except_spid) return true;
  return false;
}

void InstanceImpl::CheckSingleUser(const DatabaseRecord& record, int except_spid) const {
  if ((record.status & dbstatus::kSingleUser) && InUseLocked(record.dbid, except_spid))
    throw SingleUser(record.name);
}

int InstanceImpl::RegisterSession(const LoginRecord& login, const LoginRequest& request, int dbid) {
  std::lock_guard lock(mutex_);
  ProcessIdentity self = Self();
  int spid = 0;
  WriteTransaction(
      [&] {
        PurgeDeadSessions();
        auto record = ReadDatabase(dbid);
        if (!record) throw errors::UnknownDatabase(std::to_string(dbid));
        CheckSingleUser(*record, 0);
        // The lowest free process id, taken in the transaction that read which are free. Every
        // row left is a live session's (killed ones included), so any row's spid is taken.
        CachedStatement free_spid(
            *master_,
            "SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM sessions.\"sandbox$sessions\" WHERE spid "
            "= 51) THEN 51 ELSE (SELECT MIN(s.spid) + 1 FROM sessions.\"sandbox$sessions\" s "
            "WHERE s.spid >= 51 AND NOT EXISTS (SELECT 1 FROM sessions.\"sandbox$sessions\" n "
            "WHERE n.spid = s.spid + 1)) END");
        free_spid.Step();
        spid = static_cast<int>(free_spid.ColumnInt(0));
        CachedStatement insert(
            *master_,
            "INSERT INTO sessions.\"sandbox$sessions\" (spid, pid, process_start, "
            "login, sid, dbid, host, program, login_time) VALUES "
            "(?,?,?,?,?,?,?,?,?)");
        insert.Bind(1, Value(spid));
        insert.Bind(2, Value(static_cast<long long>(self.pid)));
        insert.Bind(3, Value(self.start));
        insert.Bind(4, Value(login.name));
        insert.Bind(5, Value(login.sid));
        insert.Bind(6, Value(dbid));
        insert.Bind(7, Value(request.host_name));
        insert.Bind(8, Value(request.application));
        insert.Bind(9, Value(DateTimeToStorage(common::DateTime::Now())));
        insert.Step();
      },
      true);
  return spid;
}

void InstanceImpl::Register(SessionImpl* session) {
  std::lock_guard lock(sessions_mutex_);
  sessions_[session->spid()] = session;
  if (!watcher_.joinable()) watcher_ = std::thread([this] { Watch(); });
}

void InstanceImpl::Watch() {
  std::unique_lock wait(watch_mutex_);
  while (!stopping_) {
    watch_wakeup_.wait_for(wait, std::chrono::milliseconds(100));
    if (stopping_) break;
    wait.unlock();
    bool any = false;
    {
      std::lock_guard lock(sessions_mutex_);
      for (const auto& [spid, session] : sessions_) any = any || !session->broken();
    }
    std::vector<int> killed;
    if (any) {
      try {
        std::lock_guard lock(mutex_);
        CachedStatement rows(*master_,
                             "SELECT spid FROM sessions.\"sandbox$sessions\" WHERE pid = ? AND "
                             "killed <> 0");
        rows.Bind(1, Value(static_cast<long long>(Self().pid)));
        while (rows.Step()) killed.push_back(static_cast<int>(rows.ColumnInt(0)));
      } catch (const SqliteError&) {
        // Looked for again shortly.
      }
    }
    for (int spid : killed) {
      std::lock_guard lock(sessions_mutex_);
      auto it = sessions_.find(spid);
      if (it != sessions_.end() && !it->second->broken()) it->second->MarkBroken();
    }
    wait.lock();
  }
}

void InstanceImpl::Unregister(SessionImpl* session) {
  {
    std::lock_guard lock(sessions_mutex_);
    auto it = sessions_.find(session->spid());
    if (it != sessions_.end() && it->second == session) sessions_.erase(it);
  }
  try {
    std::lock_guard lock(mutex_);
    WriteTransaction(
        [&] {
          CachedStatement remove(
              *master_, "DELETE FROM sessions.\"sandbox$sessions\" WHERE spid = ? AND pid = ?");
          remove.Bind(1, Value(session->spid()));
          remove.Bind(2, Value(static_cast<long long>(Self().pid)));
          remove.Step();
          // Its global temporary procedures go with it.
          CachedStatement procedures(*master_,
                                     "DELETE FROM sessions.\"sandbox$global_procedures\" WHERE "
                                     "spid = ? AND pid = ?");
          procedures.Bind(1, Value(session->spid()));
          procedures.Bind(2, Value(static_cast<long long>(Self().pid)));
          procedures.Step();
        },
        true);
  } catch (const std::exception&) {
    // Master stayed locked too long: the row goes with this process, as rows of ended
    // processes do.
  }
}

void InstanceImpl::EnterDatabase(int spid, const DatabaseRecord& record) {
  std::lock_guard lock(mutex_);
  WriteTransaction(
      [&] {
        auto now = ReadDatabase(record.dbid);
        if (!now || !EqualsNoCase(now->name, record.name))
          throw errors::UnknownDatabase(record.name);
        CheckSingleUser(*now, spid);
        CachedStatement update(
            *master_,
            "UPDATE sessions.\"sandbox$sessions\" SET dbid = ? WHERE spid = ? AND "
            "pid = ?");
        update.Bind(1, Value(record.dbid));
        update.Bind(2, Value(spid));
        update.Bind(3, Value(static_cast<long long>(Self().pid)));
        update.Step();
      },
      true);
}

std::vector<SessionEntry> InstanceImpl::Sessions() const {
  std::lock_guard lock(mutex_);
  bool dead = false;
  std::vector<SessionEntry> out = ReadSessions(false, &dead);
  if (dead) {
    try {
      WriteTransaction([&] { PurgeDeadSessions(); }, true);
    } catch (const SqliteError&) {
      // The next reader cleans up.
    }
  }
  return out;
}

bool InstanceImpl::DatabaseInUse(int dbid, int except_spid) const {
  std::lock_guard lock(mutex_);
  return InUseLocked(dbid, except_spid);
}

bool InstanceImpl::SessionKilled(int spid) const {
  std::lock_guard lock(mutex_);
  CachedStatement row(
      *master_, "SELECT killed FROM sessions.\"sandbox$sessions\" WHERE spid = ? AND pid = ?");
  row.Bind(1, Value(spid));
  row.Bind(2, Value(static_cast<long long>(Self().pid)));
  return !row.Step() || row.ColumnInt(0) != 0;
}

std::optional<std::string> InstanceImpl::InputBuffer(int spid) const {
  {
    std::lock_guard lock(sessions_mutex_);
    auto it = sessions_.find(spid);
    if (it != sessions_.end()) return it->second->InputBuffer();
  }
  std::lock_guard lock(mutex_);
  CachedStatement row(*master_,
                      "SELECT input_buffer FROM sessions.\"sandbox$sessions\" WHERE spid = ? "
                      "AND killed = 0");
  row.Bind(1, Value(spid));
  if (!row.Step()) return std::nullopt;
  return row.ColumnText(0);
}

void InstanceImpl::PublishInputBuffer(int spid, const std::string& text) const {
  size_t end = 0;
  for (size_t n = 0; end < text.size() && n < 255; ++n) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  try {
    std::lock_guard lock(mutex_);
    WriteTransaction(
        [&] {
          CachedStatement update(*master_,
                                 "UPDATE sessions.\"sandbox$sessions\" SET input_buffer = ? "
                                 "WHERE spid = ? AND pid = ?");
          update.Bind(1, Value(text.substr(0, end)));
          update.Bind(2, Value(spid));
          update.Bind(3, Value(static_cast<long long>(Self().pid)));
          update.Step();
        },
        true);
  } catch (const SqliteError&) {
    // Only other processes' DBCC INPUTBUFFER reads it; they see the batch before.
  }
}

bool InstanceImpl::DropSession(int spid) {
  bool dropped = false;
  {
    std::lock_guard lock(mutex_);
    WriteTransaction(
        [&] {
          PurgeDeadSessions();
          CachedStatement mark(
              *master_,
              "UPDATE sessions.\"sandbox$sessions\" SET killed = 1 WHERE spid = ? AND "
              "killed = 0");
          mark.Bind(1, Value(spid));
          mark.Step();
          dropped = master_->Changes() > 0;
        },
        true);
  }
  // A session of this process ends at once; one of another process at its next statement.
  std::lock_guard lock(sessions_mutex_);
  auto it = sessions_.find(spid);
  if (it != sessions_.end() && !it->second->broken()) {
    it->second->MarkBroken();
    dropped = true;
  }
  return dropped;
}

void InstanceImpl::MarkKilled(const std::vector<int>& spids) const {
  if (spids.empty()) return;
  try {
    std::lock_guard lock(mutex_);
    WriteTransaction(
        [&] {
          for (int spid : spids) {
            CachedStatement mark(
                *master_,
                "UPDATE sessions.\"sandbox$sessions\" SET killed = 1 WHERE spid = ? AND "
                "pid = ?");
            mark.Bind(1, Value(spid));
            mark.Bind(2, Value(static_cast<long long>(Self().pid)));
            mark.Step();
          }
        },
        true);
  } catch (const SqliteError&) {
    // The sessions end anyway; until the rows go, they only look busy.
  }
}

}  // namespace sandbox
