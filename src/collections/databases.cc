#include "collections/databases.h"

#include "collections/sql.h"
#include "common/error.h"
#include "common/process.h"
#include "db/error.h"
#include "platform/registry.h"
#include "servers/sql_text.h"

namespace collections {

namespace {

using servers::QuoteDatabaseName;
using servers::QuoteText;

constexpr std::int32_t kErrInvalidIndex = 5;
constexpr std::int32_t kErrNoObject = 91;
// "User does not have permission to perform this action."
constexpr std::int32_t kErrNoPermission = 15247;

}  // namespace

Databases::Databases(Context context) : context_(std::move(context)) {}

Databases::~Databases() {
  // Whoever still holds a collection keeps an object that no longer belongs anywhere.
  for (const std::shared_ptr<Database>& database : items_) database->Orphan();
}

void Databases::SetServer(servers::Server& server) {
  server_ = &server;
  server_connection_ = server.Connection();
  if (server_connection_.State() == db::kStateClosed) server_connection_.Open();
  command_.SetActiveConnection(server_connection_);
}

db::Connection Databases::ServerConnection() const {
  if (server_ == nullptr) {
    throw common::Error(kErrNoObject, kDatabasesSource,
                        "The collection catalogue has not been given its server.");
  }
  return server_connection_;
}

std::shared_ptr<Database> Databases::NewDatabase(std::string_view name, std::int32_t archive_id) {
  if (server_ == nullptr) {
    throw common::Error(kErrNoObject, kDatabasesSource,
                        "The collection catalogue has not been given its server.");
  }
  auto database = std::make_shared<Database>(context_);
  database->SetArchiveID(archive_id);
  database->SetServer(*server_);
  database->SetParent(this);
  database->SetName(name);
  return database;
}

void Databases::Append(std::shared_ptr<Database> database) {
  items_.push_back(std::move(database));
}

void Databases::AddExisting(const servers::FoundCollection& found) {
  std::shared_ptr<Database> database = NewDatabase(found.name, Count() + 1);
  // The name as listed: "Old_Quillarchive_Sales" must not be taken for "Quillarchive_Sales".
  if (!found.database_name.empty()) database->SetDatabaseName(found.database_name);
  // One collection the login may not open must not hide the others: it is left out, as one
  // whose connection does not open, and named for whoever lists the catalogue.
  try {
    if (database->Connect()) {
      Append(std::move(database));
      return;
    }
    unopened_.push_back({database->Name(), database->DatabaseName(), std::string()});
  } catch (const std::exception& error) {
    unopened_.push_back({database->Name(), database->DatabaseName(), detail::DescriptionOf(error)});
  }
}

namespace {

// Where creations not yet past their rename are remembered, per data source: a creation stopped
// there leaves a database under the bare name, which nothing else could tell from anybody's.
constexpr char kUnfinishedCreationsKey[] =
    "Software\\Fernwick\\Tessera Server Manager\\Unfinished Creations";

// The list is "entry;entry;...", an entry "NAME|CREATOR" (or a bare name, creator unknown); a
// collection's name holds neither separator.
std::vector<StartedCreation> SplitCreations(const std::string& text) {
  std::vector<StartedCreation> list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string entry = text.substr(start, end - start);
    size_t bar = entry.find('|');
    if (bar != 0 && !entry.empty()) {
      if (bar == std::string::npos) {
        list.push_back({entry, {}});
      } else {
        list.push_back({entry.substr(0, bar), entry.substr(bar + 1)});
      }
    }
    start = end + 1;
  }
  return list;
}

}  // namespace

std::vector<StartedCreation> Databases::UnfinishedCreations() const {
  if (server_ == nullptr || server_->Name().empty()) return {};
  try {
    platform::cRegistry registry(context_.services.registry, context_.services.environment);
    registry.SetSectionKey(kUnfinishedCreationsKey);
    registry.SetValueKey(server_->Name());
    registry.SetDefault(common::Value(std::string()));
    return SplitCreations(registry.Value().ToText());
  } catch (const std::exception&) {
    return {};
  }
}

void Databases::RememberCreation(std::string_view name, Creation state) {
  // Only names a collection can have are ever listed; the separators are none of them.
  if (server_ == nullptr || server_->Name().empty() || !IsCollectionName(name)) return;
  try {
    platform::cRegistry registry(context_.services.registry, context_.services.environment);
    registry.Atomically([&] {
      std::vector<StartedCreation> list = UnfinishedCreations();
      bool changed = state != Creation::kForgotten;
      std::string text;
      auto add = [&text](std::string_view entry, const std::string& creator) {
        text += (text.empty() ? "" : ";") + std::string(entry);
        if (!creator.empty()) text += "|" + creator;
      };
      for (const StartedCreation& known : list) {
        if (servers::EqualsNoCase(known.name, name)) {
          changed = true;
          continue;
        }
        add(known.name, known.creator);
      }
      if (state == Creation::kUnderWay) add(name, common::CurrentProcessToken());
      if (state == Creation::kLeftOver) add(name, {});
      if (!changed) return;
      registry.SetSectionKey(kUnfinishedCreationsKey);
      if (!registry.KeyExists()) registry.CreateKey();
      registry.SetValueKey(server_->Name());
      registry.SetPlainString(text);
    });
  } catch (const std::exception&) {
    // Remembering is a help for later; the creation itself goes on without it.
  }
}

bool IsCollectionName(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  for (char c : name) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

void Databases::EndOfList() {
  for (const StartedCreation& creation : UnfinishedCreations()) {
    // A creation still under way in another process is not left over: connecting to it would
    // keep its rename from having the database to itself.
    if (!creation.creator.empty() && common::ProcessTokenAlive(creation.creator)) continue;
    const std::string& name = creation.name;
    try {
      db::Recordset exists;
      exists.Open("SELECT COUNT(*) FROM master..sysdatabases WHERE name = " + QuoteText(name),
                  server_connection_, db::kOpenForwardOnly, db::kLockReadOnly);
      std::optional<db::Value> count = detail::FirstValue(exists);
      detail::CloseQuietly(exists);
      if (count && count->ToInt() == 0) {
        RememberCreation(name, Creation::kForgotten);  // gone meanwhile: nothing left to list
        continue;
      }
      std::shared_ptr<Database> database = NewDatabase(name, Count() + 1);
      database->SetDatabaseName(name);
      if (!database->Connect()) continue;
      // A table in it means somebody has used the name since: not ours to offer for deletion.
      db::Recordset tables;
      tables.Open("SELECT COUNT(*) FROM sysobjects WHERE OBJECTPROPERTY(id, 'IsUserTable') = 1",
                  database->Connection(), db::kOpenForwardOnly, db::kLockReadOnly);
      count = detail::FirstValue(tables);
      detail::CloseQuietly(tables);
      if (count && count->ToInt() == 0) Append(std::move(database));
    } catch (const std::exception&) {
      // A database this login cannot open is none of its business.
    }
  }
}

void Databases::AttachFiles(std::string_view database_name, std::string_view data_file,
                            std::string_view log_file) {
  command_.SetActiveConnection(ServerConnection());
  command_.SetCommandType(db::kCmdText);
  if (!log_file.empty()) {
    command_.SetCommandText("EXEC sp_attach_db " + QuoteText(database_name) + ", " +
                            QuoteText(data_file) + ", " + QuoteText(log_file));
  } else {
    command_.SetCommandText("EXEC sp_attach_single_file_db " + QuoteText(database_name) + ", " +
                            QuoteText(data_file));
  }
  command_.Execute();
}

std::shared_ptr<Database> Databases::Add(std::string_view name, std::string_view data_file,
                                         std::string_view log_file) {
  std::shared_ptr<Database> database = NewDatabase(name, Count() + 1 + removed_count_);
  AttachFiles(database->DatabaseName(), data_file, log_file);
  if (!database->Connect()) return nullptr;
  Append(database);
  // Detaching removed the index; attached again, the collection is searchable as a new one is.
  if (database->GetFullTextStatus() == kFullTextNoCatalogue) database->DoFullTextAction("create");
  return database;
}

std::shared_ptr<Database> Databases::AddNew(std::string_view name, std::string_view data_file) {
  std::shared_ptr<Database> database = NewDatabase(name, Count() + 1 + removed_count_);
  // A failed creation has been reported and cleaned up. Connecting anyway could reach a
  // collection of that name that existed before and list it a second time.
  if (!CreateDatabase(name, data_file)) return nullptr;
  if (!database->Connect()) return nullptr;
  Append(database);
  if (database->GetFullTextStatus() == kFullTextNoCatalogue) database->DoFullTextAction("create");
  return database;
}

size_t Databases::IndexOf(std::string_view key) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (std::to_string(items_[i]->ArchiveID()) == key) return i;
  }
  return std::string::npos;
}

size_t Databases::IndexOf(int position) const {
  if (position < 1 || position > Count()) return std::string::npos;
  return static_cast<size_t>(position - 1);
}

std::shared_ptr<Database> Databases::Item(std::string_view key) const {
  size_t index = IndexOf(key);
  return index == std::string::npos ? nullptr : items_[index];
}

std::shared_ptr<Database> Databases::Item(int position) const {
  size_t index = IndexOf(position);
  return index == std::string::npos ? nullptr : items_[index];
}

bool Databases::TakeAway(size_t index, bool detach) {
  std::shared_ptr<Database> database = items_[index];
  bool dropped_index = false;
  try {
    dropped_index = database->DoFullTextAction("drop");
  } catch (const db::Error& error) {
    // A dbcreator may drop a database whose index only its owner may remove; the drop takes the
    // index along, so only a detach, which would keep it, needs the right.
    if (detach || error.native_error() != kErrNoPermission) throw;
  }
  // Whatever stops the removal leaves the collection as searchable as it was.
  auto restore_index = [&database, dropped_index] {
    if (!dropped_index) return;
    try {
      database->DoFullTextAction("create");
    } catch (const std::exception&) {
      // The failure that stopped the removal is the one to report.
    }
  };
  bool disconnected = false;
  try {
    disconnected = DisconnectUsers(database->Connection(), database->DatabaseName());
  } catch (const std::exception&) {
    restore_index();
    throw;
  }
  if (!disconnected) {
    // Declined: nothing may have changed, so the index comes back, and a failure says so.
    if (dropped_index) database->DoFullTextAction("create");
    return false;
  }
  try {
    command_.SetActiveConnection(ServerConnection());
    command_.SetCommandType(db::kCmdText);
    if (detach) {
      command_.SetCommandText("sp_detach_db @dbname=" + QuoteText(database->DatabaseName()) + ";");
    } else {
      command_.SetCommandText("DROP DATABASE " + QuoteDatabaseName(database->DatabaseName()));
    }
    command_.Execute();
  } catch (const std::exception&) {
    database->Reconnect();
    restore_index();
    throw;
  }
  if (!detach) RememberCreation(database->DatabaseName(), Creation::kForgotten);
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  ++removed_count_;
  return true;
}

bool Databases::Remove(std::string_view key) {
  size_t index = IndexOf(key);
  if (index == std::string::npos) {
    throw common::Error(
        kErrInvalidIndex, kDatabasesSource,
        "No network collection is listed under the key '" + std::string(key) + "'.");
  }
  return TakeAway(index, true);
}

bool Databases::Remove(int position) {
  size_t index = IndexOf(position);
  if (index == std::string::npos) {
    throw common::Error(
        kErrInvalidIndex, kDatabasesSource,
        "No network collection is listed at position " + std::to_string(position) + ".");
  }
  return TakeAway(index, true);
}

bool Databases::Delete(std::string_view key) {
  size_t index = IndexOf(key);
  if (index == std::string::npos) {
    throw common::Error(
        kErrInvalidIndex, kDatabasesSource,
        "No network collection is listed under the key '" + std::string(key) + "'.");
  }
  return TakeAway(index, false);
}

bool Databases::Delete(int position) {
  size_t index = IndexOf(position);
  if (index == std::string::npos) {
    throw common::Error(
        kErrInvalidIndex, kDatabasesSource,
        "No network collection is listed at position " + std::to_string(position) + ".");
  }
  return TakeAway(index, false);
}

servers::CatalogueFactory MakeCatalogueFactory(Context context) {
  return [context]() -> std::unique_ptr<servers::CollectionCatalogue> {
    return std::make_unique<Databases>(context);
  };
}

}  // namespace collections
