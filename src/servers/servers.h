// The administrator's registered SQL Servers: loaded from the per-user registry in their stored
// order, each connected in turn, and kept in a list keyed by the decimal ServerID.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "servers/context.h"
#include "servers/server.h"

namespace servers {

inline constexpr char kServersSource[] = "TSAdmin.Servers";
// The lookup errors of the list: an unknown key, a position outside 1..Count.
inline constexpr std::int32_t kErrUnknownKey = 5;
inline constexpr std::int32_t kErrPositionOutOfRange = 9;
// No identifier is left to issue.
inline constexpr std::int32_t kErrOverflow = 6;

// One registration as found at load: its identifier and stored position.
struct StoredPosition {
  std::int32_t server_id = 0;
  std::int32_t position = 0;
  friend bool operator==(const StoredPosition&, const StoredPosition&) = default;
};

// Sorts by position, ascending: quicksort with the middle element as pivot. Equal positions end
// in no defined order. The recursion goes into the smaller part only, so its depth stays
// logarithmic however the positions were stored.
void SortByPosition(std::vector<StoredPosition>& entries);

// Who connects the registrations a load lists: the load itself, one after the other, or the
// caller (a window that connects them all at once, away from its own thread).
enum class ConnectAtLoad { kInTurn, kByCaller };

class Servers {
 public:
  using List = std::vector<std::shared_ptr<Server>>;

  // Loads every registration and, unless the caller connects them, connects each one
  // (unreachable servers are listed too). Registry failures while renumbering throw
  // common::Error 26001.
  explicit Servers(Context context, ConnectAtLoad connect = ConnectAtLoad::kInTurn);
  Servers(const Servers&) = delete;
  Servers& operator=(const Servers&) = delete;

  // Registers a server. An empty connection string asks the user for one; a cancelled prompt
  // gives a fresh registration that is neither stored nor listed. A registration whose stored
  // connection string begins with the given one (letter case aside) is returned unchanged. A new
  // one is stored, placed last and connected; when it cannot connect it stays in the registry
  // (the next load lists it) and nullptr is returned. The second argument is not used.
  std::shared_ptr<Server> Add(std::string_view connection_string, std::string_view unused = {});
  // The registration the last Add stored but could not connect (its FailureReason says why);
  // nullptr when the last Add connected or returned an existing one.
  const std::shared_ptr<Server>& LastUnconnected() const { return last_unconnected_; }

  // By key (the decimal ServerID) or by 1-based position; unknown ones throw common::Error
  // kErrUnknownKey or kErrPositionOutOfRange.
  std::shared_ptr<Server> Item(std::string_view key) const;
  std::shared_ptr<Server> Item(int position) const;
  int Count() const { return static_cast<int>(items_.size()); }

  // Closes the registration's connection, deletes its registry key and takes it off the list.
  // LastServerID stays; the other positions are renumbered at the next load.
  void Remove(std::string_view key);
  void Remove(int position);

  List::const_iterator begin() const { return items_.begin(); }
  List::const_iterator end() const { return items_.end(); }

 private:
  void Load();
  // Creates the registration for a stored one, lets it connect and appends it.
  void AddExisting(std::int32_t server_id, std::string_view connection_string);
  std::int32_t IssueServerId();
  void RemoveAt(size_t index);
  size_t IndexOf(std::string_view key) const;
  size_t IndexOf(int position) const;

  Context context_;
  ConnectAtLoad connect_;
  platform::cRegistry registry_;
  List items_;
  std::shared_ptr<Server> last_unconnected_;
};

}  // namespace servers
