#include "collections/databases.h"

#include "common/error.h"
#include "servers/sql_text.h"

namespace collections {

namespace {

using servers::QuoteDatabaseName;
using servers::QuoteText;

constexpr std::int32_t kErrInvalidIndex = 5;
constexpr std::int32_t kErrNoObject = 91;

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
  if (database->Connect()) Append(std::move(database));
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
  database->DoFullTextAction("drop");
  if (!DisconnectUsers(database->Connection(), database->DatabaseName())) return false;
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
    throw;
  }
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
