#include "servers/servers.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

#include "common/error.h"
#include "servers/registration_keys.h"
#include "servers/sql_text.h"

namespace servers {

namespace {

void QuickSort(std::vector<StoredPosition>& entries, std::ptrdiff_t low, std::ptrdiff_t high) {
  while (low < high) {
    std::int32_t pivot = entries[static_cast<size_t>((low + high) / 2)].position;
    std::ptrdiff_t i = low;
    std::ptrdiff_t j = high;
    while (i <= j) {
      while (entries[static_cast<size_t>(i)].position < pivot) ++i;
      while (entries[static_cast<size_t>(j)].position > pivot) --j;
      if (i <= j) {
        std::swap(entries[static_cast<size_t>(i)], entries[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    }
    if (j - low < high - i) {
      if (low < j) QuickSort(entries, low, j);
      low = i;
    } else {
      if (i < high) QuickSort(entries, i, high);
      high = j;
    }
  }
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

void SortByPosition(std::vector<StoredPosition>& entries) {
  if (entries.size() > 1) {
    QuickSort(entries, 0, static_cast<std::ptrdiff_t>(entries.size()) - 1);
  }
}

Servers::Servers(Context context, ConnectAtLoad connect)
    : context_(std::move(context)),
      connect_(connect),
      registry_(context_.services.registry, context_.services.environment) {
  registry_.SetClassKey(platform::kHkeyCurrentUser);
  registry_.SetSectionKey(kServerListKey);
  Load();
}

void Servers::Load() {
  std::vector<std::pair<std::int32_t, std::string>> stored;
  // Renumbered in one registry transaction, so a registration another process adds meanwhile
  // cannot end up sharing a position; the connections are made after it.
  registry_.Atomically([&] {
    std::vector<std::int32_t> ids = RegistrationIds(registry_);
    std::vector<StoredPosition> entries;
    entries.reserve(ids.size());
    std::int32_t index = 0;
    for (std::int32_t id : ids) {
      ++index;
      std::int32_t position = ReadNumber(registry_, RegistrationKey(id), kOrdinalPositionValue);
      entries.push_back({id, position == 0 ? index : position});
    }
    SortByPosition(entries);
    std::int32_t k = 0;
    for (const StoredPosition& entry : entries) {
      std::string key = RegistrationKey(entry.server_id);
      // Stored positions become exactly 1..N, without gaps.
      WriteNumber(registry_, key, kOrdinalPositionValue, ++k);
      registry_.SetSectionKey(key);
      registry_.SetValueKey(kConnectionStringValue);
      registry_.SetDefault(common::Value(0));
      stored.emplace_back(entry.server_id, registry_.Value().ToText());
    }
  });
  for (const auto& [server_id, connection_string] : stored) {
    AddExisting(server_id, connection_string);
  }
}

void Servers::AddExisting(std::int32_t server_id, std::string_view connection_string) {
  auto server = std::make_shared<Server>(context_, server_id);
  server->SetConnectionString(connection_string);
  // Listed whether or not it answers: the console shows unreachable servers as such.
  if (connect_ == ConnectAtLoad::kInTurn) server->Connect();
  items_.push_back(std::move(server));
}

std::int32_t Servers::IssueServerId() {
  std::int32_t last = ReadNumber(registry_, kServerListKey, kLastServerIdValue);
  std::int64_t candidate = std::max<std::int64_t>(last, 0) + 1;
  // A lost or lowered counter must not hand out the key of a registration that exists: its
  // connection string would be overwritten.
  for (;; ++candidate) {
    if (candidate > std::numeric_limits<std::int32_t>::max()) {
      throw common::Error(kErrOverflow, kServersSource,
                          "No server registration identifier is left to issue (LastServerID is " +
                              std::to_string(last) + ").");
    }
    registry_.SetSectionKey(RegistrationKey(static_cast<std::int32_t>(candidate)));
    if (!registry_.KeyExists()) break;
  }
  auto id = static_cast<std::int32_t>(candidate);
  WriteNumber(registry_, kServerListKey, kLastServerIdValue, id);
  return id;
}

std::shared_ptr<Server> Servers::Add(std::string_view connection_string,
                                     std::string_view /*unused*/) {
  last_unconnected_.reset();
  std::string text(connection_string);
  if (text.empty()) {
    std::optional<std::string> prompted = context_.services.ui.PromptDataLink();
    // An empty answer is a cancel too: as a prefix it would match every registration.
    if (!prompted || prompted->empty()) return std::make_shared<Server>(context_, 0);
    text = std::move(*prompted);
  }
  for (const auto& server : items_) {
    if (StartsWithNoCase(server->ConnectionString(), text)) return server;
  }
  // Issuing the identifier and writing its key are one registry transaction: two processes
  // adding at once would otherwise both take the same LastServerID and one registration would
  // overwrite the other.
  std::shared_ptr<Server> server;
  registry_.Atomically([&] {
    server = std::make_shared<Server>(context_, IssueServerId());
    server->SetConnectionString(text);
    // Last among every stored registration, those other processes added included.
    server->SetOrdinalPosition(static_cast<std::int32_t>(RegistrationIds(registry_).size()));
  });
  if (!server->Connect()) {
    last_unconnected_ = server;
    return nullptr;
  }
  items_.push_back(server);
  return server;
}

size_t Servers::IndexOf(std::string_view key) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (std::to_string(items_[i]->ServerID()) == key) return i;
  }
  throw common::Error(kErrUnknownKey, kServersSource,
                      "There is no server registration with the key '" + std::string(key) + "'.");
}

size_t Servers::IndexOf(int position) const {
  if (position < 1 || position > Count()) {
    throw common::Error(kErrPositionOutOfRange, kServersSource,
                        "There is no server registration at position " + std::to_string(position) +
                            " (there are " + std::to_string(Count()) + ").");
  }
  return static_cast<size_t>(position - 1);
}

std::shared_ptr<Server> Servers::Item(std::string_view key) const { return items_[IndexOf(key)]; }

std::shared_ptr<Server> Servers::Item(int position) const { return items_[IndexOf(position)]; }

void Servers::Remove(std::string_view key) { RemoveAt(IndexOf(key)); }

void Servers::Remove(int position) { RemoveAt(IndexOf(position)); }

void Servers::RemoveAt(size_t index) {
  std::shared_ptr<Server> server = items_[index];
  server->CloseConnection();
  server->RemoveRegistration();
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace servers
