// Global temporary procedures (##name) live in the instance's sessions file, so every session of
// every process sees them. Each row names the session that made it; a procedure goes with that
// session (Unregister), and one whose session ended without saying so (its process died) is
// removed the next time any session looks for procedures.
#include "sandbox/collation.h"
#include "sandbox/instance.h"
#include "sandbox/sql_error.h"

namespace sandbox {

using common::Value;

namespace {

constexpr const char* kOrphans =
    "DELETE FROM sessions.\"sandbox$global_procedures\" AS p WHERE NOT EXISTS (SELECT 1 FROM "
    "sessions.\"sandbox$sessions\" s WHERE s.spid = p.spid AND s.pid = p.pid AND "
    "s.process_start = p.process_start AND s.killed = 0)";

}  // namespace

void InstanceImpl::SaveGlobalProcedure(std::string_view name, std::int64_t id,
                                       const std::string& definition, int spid, bool alter) {
  std::lock_guard lock(mutex_);
  ProcessIdentity self = Self();
  WriteTransaction(
      [&] {
        PurgeDeadSessions();
        master_->Exec(kOrphans);
        CachedStatement exists(
            *master_, "SELECT 1 FROM sessions.\"sandbox$global_procedures\" WHERE name = ?");
        exists.Bind(1, Value(Lower(name)));
        bool found = exists.Step();
        if (found && !alter) throw errors::ObjectExists(name);
        if (!found && alter) throw errors::InvalidObject(name);
        if (alter) {
          // ALTER keeps the procedure's maker: it still ends with that session.
          CachedStatement update(*master_,
                                 "UPDATE sessions.\"sandbox$global_procedures\" SET definition = "
                                 "? WHERE name = ?");
          update.Bind(1, Value(definition));
          update.Bind(2, Value(Lower(name)));
          update.Step();
          return;
        }
        CachedStatement insert(*master_,
                               "INSERT INTO sessions.\"sandbox$global_procedures\" (name, id, "
                               "definition, spid, pid, process_start) VALUES (?,?,?,?,?,?)");
        insert.Bind(1, Value(Lower(name)));
        insert.Bind(2, Value(static_cast<long long>(id)));
        insert.Bind(3, Value(definition));
        insert.Bind(4, Value(spid));
        insert.Bind(5, Value(static_cast<long long>(self.pid)));
        insert.Bind(6, Value(self.start));
        insert.Step();
      },
      true);
}

std::optional<GlobalProcedure> InstanceImpl::FindGlobalProcedure(std::string_view name) const {
  std::lock_guard lock(mutex_);
  std::optional<GlobalProcedure> out;
  WriteTransaction(
      [&] {
        PurgeDeadSessions();
        master_->Exec(kOrphans);
        CachedStatement find(*master_,
                             "SELECT id, definition FROM sessions.\"sandbox$global_procedures\" "
                             "WHERE name = ?");
        find.Bind(1, Value(Lower(name)));
        if (find.Step()) out = GlobalProcedure{find.ColumnInt(0), find.ColumnText(1)};
      },
      true);
  return out;
}

bool InstanceImpl::DropGlobalProcedure(std::string_view name) {
  std::lock_guard lock(mutex_);
  bool dropped = false;
  WriteTransaction(
      [&] {
        PurgeDeadSessions();
        master_->Exec(kOrphans);
        CachedStatement remove(*master_,
                               "DELETE FROM sessions.\"sandbox$global_procedures\" WHERE name = ?");
        remove.Bind(1, Value(Lower(name)));
        remove.Step();
        dropped = master_->Changes() > 0;
      },
      true);
  return dropped;
}

}  // namespace sandbox
