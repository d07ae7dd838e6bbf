// Waiting for another session's lock. SQLite lets one writer into a database at a time; a
// session that finds the write lock taken waits in SQLite's busy handler as SET LOCK_TIMEOUT
// says. A waiting session, and one holding databases in an open transaction, say so in a table
// of the instance's sessions file, which every process sees; a waiting session follows that
// table from the holder of what it waits for to what that one waits for, and a chain that comes
// back to it is a deadlock, whatever processes its sessions live in.
#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "sandbox/instance.h"
#include "sandbox/session.h"
#include "sandbox/sql_error.h"
#include "sandbox/types.h"

namespace sandbox {

using common::Value;

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Short waits cost nothing shared; a longer one is published and looked at a few times a second.
constexpr milliseconds kFirstCheck{100};
constexpr milliseconds kCheckEvery{150};
constexpr milliseconds kNap{10};

std::int64_t EpochMilliseconds() {
  return std::chrono::duration_cast<milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string HoldsKey(int dbid) { return " " + std::to_string(dbid) + " "; }

// The session holding the write lock the waiter waits for. There is one writer per database;
// two claims mean one is out of date, and nothing is concluded from it.
const LockEntry* Holder(const std::vector<LockEntry>& all, const LockEntry& waiter) {
  const LockEntry* found = nullptr;
  for (const LockEntry& e : all) {
    if (e.spid == waiter.spid || e.holds.find(HoldsKey(waiter.wait_dbid)) == std::string::npos)
      continue;
    if (found) return nullptr;
    found = &e;
  }
  return found;
}

// The sessions of the wait-for cycle through spid, starting with it; empty when it waits for
// nobody who (through others) waits for it.
std::vector<const LockEntry*> Cycle(const std::vector<LockEntry>& all, int spid) {
  auto self =
      std::find_if(all.begin(), all.end(), [&](const LockEntry& e) { return e.spid == spid; });
  if (self == all.end()) return {};
  std::vector<const LockEntry*> chain{&*self};
  while (chain.size() <= all.size()) {
    const LockEntry& last = *chain.back();
    if (last.wait_dbid == 0) return {};
    const LockEntry* next = Holder(all, last);
    if (!next) return {};
    if (next->spid == spid) return chain;
    if (std::find(chain.begin(), chain.end(), next) != chain.end()) return {};
    chain.push_back(next);
  }
  return {};
}

// The victim is the session with the lower DEADLOCK_PRIORITY, else the one cheaper to roll
// back: the younger transaction (the later process id when both began together).
bool BetterVictim(const LockEntry& a, const LockEntry& b) {
  if (a.priority != b.priority) return a.priority < b.priority;
  if (a.tran_started != b.tran_started) return a.tran_started > b.tran_started;
  return a.spid > b.spid;
}

}  // namespace

// --- the instance's table ----------------------------------------------------------------

void InstanceImpl::PublishLocks(const LockEntry& entry) const {
  std::lock_guard lock(mutex_);
  WriteTransaction(
      [&] {
        CachedStatement put(*master_,
                            "INSERT OR REPLACE INTO sessions.\"sandbox$locks\" (spid, pid, "
                            "wait_dbid, wait_since, holds, priority, tran_started, uids) VALUES "
                            "(?,?,?,?,?,?,?,?)");
        put.Bind(1, Value(entry.spid));
        put.Bind(2, Value(static_cast<long long>(Self().pid)));
        put.Bind(3, Value(entry.wait_dbid));
        put.Bind(4, Value(static_cast<long long>(entry.wait_since)));
        put.Bind(5, Value(entry.holds));
        put.Bind(6, Value(entry.priority));
        put.Bind(7, Value(entry.tran_started));
        put.Bind(8, Value(entry.uids));
        put.Step();
      },
      true);
}

std::vector<LockEntry> InstanceImpl::Locks() const {
  std::lock_guard lock(mutex_);
  // Rows of ended sessions stay until their process id is taken again; only the live ones count.
  CachedStatement rows(*master_,
                       "SELECT l.spid, l.wait_dbid, l.wait_since, l.holds, l.priority, "
                       "l.tran_started, l.uids FROM sessions.\"sandbox$locks\" l JOIN "
                       "sessions.\"sandbox$sessions\" s ON s.spid = l.spid AND s.pid = l.pid "
                       "AND s.killed = 0 WHERE l.wait_dbid <> 0 OR l.holds <> ''");
  std::vector<LockEntry> out;
  while (rows.Step()) {
    LockEntry e;
    e.spid = static_cast<int>(rows.ColumnInt(0));
    e.wait_dbid = static_cast<int>(rows.ColumnInt(1));
    e.wait_since = rows.ColumnInt(2);
    e.holds = rows.ColumnText(3);
    e.priority = static_cast<int>(rows.ColumnInt(4));
    e.tran_started = rows.ColumnText(5);
    e.uids = rows.ColumnText(6);
    out.push_back(std::move(e));
  }
  return out;
}

std::map<int, BlockedSession> InstanceImpl::Blocked() const {
  std::map<int, BlockedSession> out;
  const std::vector<LockEntry> all = Locks();
  for (const LockEntry& e : all) {
    if (e.wait_dbid == 0) continue;
    const LockEntry* holder = Holder(all, e);
    out[e.spid] = {holder ? holder->spid : 0,
                   std::max<std::int64_t>(0, EpochMilliseconds() - e.wait_since)};
  }
  return out;
}

// --- the session's side ------------------------------------------------------------------

int SessionImpl::OnBusy(void* session, int count) {
  return static_cast<SessionImpl*>(session)->WaitForLock(count);
}

std::string SessionImpl::HeldDatabases() const {
  std::string holds;
  for (const auto& [dbid, db] : attached_)
    if (sqlite3_txn_state(connection_->get(), db.schema.c_str()) == SQLITE_TXN_WRITE)
      holds += HoldsKey(dbid).substr(holds.empty() ? 0 : 1);
  return holds;
}

void SessionImpl::PublishLocks(int wait_dbid) {
  LockEntry entry;
  entry.spid = spid_;
  entry.wait_dbid = wait_dbid;
  // Published a little after the wait began; sysprocesses' waittime counts from its start.
  auto waited = std::chrono::duration_cast<milliseconds>(steady_clock::now() - lock_wait_.started);
  entry.wait_since = wait_dbid ? EpochMilliseconds() - waited.count() : 0;
  entry.holds = wait_dbid || trancount_ > 0 ? HeldDatabases() : "";
  entry.priority = options_.deadlock_priority;
  entry.tran_started =
      trancount_ > 0 ? transaction_started_ : DateTimeToStorage(common::DateTime::Now());
  // DBCC OPENTRAN of another process names the user the transaction runs as.
  for (auto& [dbid, db] : attached_)
    if (entry.holds.find(HoldsKey(dbid)) != std::string::npos)
      entry.uids += " " + std::to_string(dbid) + ":" + std::to_string(UserId(db)) + " ";
  instance_->PublishLocks(entry);
  published_holds_ = entry.holds;
  lock_wait_.published = wait_dbid != 0;
}

int SessionImpl::WaitForLock(int count) {
  auto now = steady_clock::now();
  lock_wait_.invoked = true;
  if (count == 0) {
    lock_wait_.started = now;
    lock_wait_.next_check = now + kFirstCheck;
    lock_wait_.victim = false;
    lock_wait_.cycle.clear();
  }
  // Attention, KILL and the command time-out end the wait; RunSql tells them apart.
  if (broken() || cancelled() || (has_deadline_ && now > deadline_)) return 0;
  auto left = milliseconds::max();
  if (options_.lock_timeout >= 0) {
    left = std::chrono::duration_cast<milliseconds>(lock_wait_.started +
                                                    milliseconds(options_.lock_timeout) - now);
    if (left.count() <= 0) return 0;
  }
  if (now >= lock_wait_.next_check) {
    lock_wait_.next_check = now + kCheckEvery;
    try {
      if (!lock_wait_.published) {
        // The database waited for is the first one the statement names that this session does
        // not hold yet: a write's target comes first in its text.
        std::string sql;
        for (sqlite3_stmt* s = sqlite3_next_stmt(connection_->get(), nullptr); s;
             s = sqlite3_next_stmt(connection_->get(), s))
          if (sqlite3_stmt_busy(s) && !sqlite3_stmt_readonly(s)) sql = sqlite3_sql(s);
        int wanted = 0;
        size_t first = std::string::npos;
        for (const auto& [dbid, db] : attached_) {
          size_t at = sql.find(QuoteIdentifier(db.schema) + ".");
          if (at < first &&
              sqlite3_txn_state(connection_->get(), db.schema.c_str()) != SQLITE_TXN_WRITE) {
            first = at;
            wanted = dbid;
          }
        }
        if (wanted != 0) PublishLocks(wanted);
      }
      // A deadlock stays; a cycle seen only once may be a wait that ended meanwhile.
      std::vector<int> cycle;
      const std::vector<LockEntry> all = instance_->Locks();
      const LockEntry* victim = nullptr;
      for (const LockEntry* e : Cycle(all, spid_)) {
        cycle.push_back(e->spid);
        if (!victim || BetterVictim(*e, *victim)) victim = e;
      }
      if (!cycle.empty() && cycle == lock_wait_.cycle && victim->spid == spid_) {
        lock_wait_.victim = true;
        return 0;
      }
      lock_wait_.cycle = std::move(cycle);
    } catch (const SqliteError&) {
      // The sessions file is busy: looked at again at the next check.
    }
  }
  std::this_thread::sleep_for(std::min(left, kNap));
  return 1;
}

SqlError SessionImpl::LockFailure() {
  if (!std::exchange(lock_wait_.victim, false)) return errors::LockTimeout();
  return errors::DeadlockVictim(spid_);
}

void SessionImpl::EndConnection() {
  broken_ = true;
  instance_->DropSession(spid_);
}

bool SessionImpl::WaitOutside(int count) {
  sqlite3* db = connection_->get();
  // Once the holder has committed, this transaction's earlier reads are out of date and SQLite
  // cannot let it write: that ends the wait.
  if ((count == 0 && lock_wait_.invoked) || trancount_ == 0 ||
      sqlite3_extended_errcode(db) == SQLITE_BUSY_SNAPSHOT)
    return false;
  return WaitForLock(count) != 0;
}

bool SessionImpl::RetryAfterBusy(const SqlError& error) {
  return error.number() == 1222 && std::exchange(lock_wait_.immediate, false) &&
         options_.lock_timeout != 0 && sqlite3_get_autocommit(connection_->get());
}

void SessionImpl::SettleLocks() {
  lock_wait_.immediate = !std::exchange(lock_wait_.invoked, false);
  if (!lock_wait_.published && trancount_ == 0 && published_holds_.empty()) return;
  std::string holds = trancount_ > 0 ? HeldDatabases() : "";
  if (!lock_wait_.published && holds == published_holds_) return;
  try {
    PublishLocks(0);
  } catch (const SqliteError&) {
    // Told again after the next statement; until then the session only looks blocked.
  }
}

}  // namespace sandbox
