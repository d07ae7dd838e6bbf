// The catalogue of the network collections on one server: the collections keyed by the decimal
// ArchiveID, in the order they were added, and the operations that add a collection to the
// server (attach, create) or take one away (detach, drop).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "collections/context.h"
#include "collections/database.h"
#include "db/command.h"
#include "db/connection.h"
#include "servers/catalogue.h"
#include "servers/server.h"

namespace collections {

inline constexpr char kDatabasesSource[] = "TSAdmin.Databases";

// Message 137: the introduction of a failed creation's report.
inline constexpr int kMessageCreationFailed = 137;

// The prompt before other logins' connections to a collection are ended, joined by CR.
inline constexpr char kDisconnectIntro[] =
    "Die folgenden Benutzer greifen noch auf das Server-Archiv zu:";
inline constexpr char kDisconnectQuestion[] =
    "Sollen diese Nutzer jetzt gewaltsam von der Datenbank getrennt werden?";
inline constexpr char kDisconnectWarning[] = "Dies kann zu Datenverlusten führen.";

// A creation of a collection, started and not yet past its rename, with the process that
// started it (common::CurrentProcessToken; empty when not known).
struct StartedCreation {
  std::string name;
  std::string creator;
};

class Databases : public servers::CollectionCatalogue {
 public:
  using List = std::vector<std::shared_ptr<Database>>;

  explicit Databases(Context context);
  ~Databases() override;
  Databases(const Databases&) = delete;
  Databases& operator=(const Databases&) = delete;

  // Stores the server and binds the catalogue's command to its connection (opened first when
  // it is closed).
  void SetServer(servers::Server& server) override;
  // A collection of the server's list: listed under Count + 1 when it can be connected, left out
  // when not (an error while connecting included) and then named in Unopened().
  void AddExisting(const servers::FoundCollection& found) override;

  // Lists what a creation stopped before its rename left behind: the database under the bare
  // name, when a creation of that name on this data source is remembered as unfinished and the
  // database holds no table. Listed after the collections so that it can be deleted;
  // IncompleteReason says what it is. Never raises.
  void EndOfList() override;

  // A collection of the server's list that was left out because it could not be opened.
  struct Unopened {
    std::string name;  // the display name
    std::string database_name;
    std::string reason;  // the error's description; empty when the connection just did not open
  };
  const std::vector<Unopened>& UnopenedCollections() const { return unopened_; }

  servers::Server* Server() const { return server_; }

  // Attaches the database files (an empty log file attaches the data file alone) as prefix +
  // name and lists the collection, giving it a full-text index as AddNew does; nullptr when it
  // cannot be connected.
  std::shared_ptr<Database> Add(std::string_view name, std::string_view data_file,
                                std::string_view log_file);
  // Creates a new collection, lists it and gives it a full-text index where the server has
  // full-text search. nullptr when the creation failed (already reported to the user) or the
  // new collection cannot be connected.
  std::shared_ptr<Database> AddNew(std::string_view name, std::string_view data_file);

  // By key (the decimal ArchiveID) or by 1-based position; nullptr when not listed.
  std::shared_ptr<Database> Item(std::string_view key) const;
  std::shared_ptr<Database> Item(int position) const;
  int Count() const { return static_cast<int>(items_.size()); }
  // How many collections were detached or dropped; new keys count past them.
  int RemovedCount() const { return removed_count_; }

  // Detach (Remove) or drop (Delete) the collection: its full-text index is removed, every
  // connection to it ended (after consent when other logins use it), then the database goes.
  // False when the user declined; the index removed before the question is then created again,
  // as it is when the removal fails. An index that is not listed raises common::Error 5.
  bool Remove(std::string_view key);
  bool Remove(int position);
  bool Delete(std::string_view key);
  bool Delete(int position);

  List::const_iterator begin() const { return items_.begin(); }
  List::const_iterator end() const { return items_.end(); }

  // Ends every connection that uses the database (names compared trimmed, letter case aside).
  // When logins other than the collection connection's own are among them the user is asked
  // first; false when he declines, and then no connection is ended. The collection connection
  // itself is closed rather than killed, so a login without processadmin gets the database to
  // itself as well.
  bool DisconnectUsers(const db::Connection& collection_connection, std::string_view database_name);

  // Creates the database, names it prefix + name, installs the collection format and the
  // template document. A failure is reported to the user and the partly created database is
  // dropped; the result tells whether the collection was created. Never raises.
  bool CreateDatabase(std::string_view name, std::string_view data_file);

  // Sends the attach statement for the files.
  void AttachFiles(std::string_view database_name, std::string_view data_file,
                   std::string_view log_file);

 private:
  std::shared_ptr<Database> NewDatabase(std::string_view name, std::int32_t archive_id);
  void Append(std::shared_ptr<Database> database);
  size_t IndexOf(std::string_view key) const;
  size_t IndexOf(int position) const;
  // Shared by Remove and Delete: `statement` is sent once every connection has been ended.
  bool TakeAway(size_t index, bool detach);
  db::Connection ServerConnection() const;
  void ShowCreationFailure(const std::exception& error);
  // Creations on this data source that were started and have not got past their rename (nor
  // were cleaned up), as the per-user registry remembers them.
  std::vector<StartedCreation> UnfinishedCreations() const;
  // Puts the name on that list (as under way in this process, or as left over by a creation
  // that ended) or takes it off, in one transaction of the registry, since other processes
  // change the list too. Registry failures are ignored.
  enum class Creation { kUnderWay, kLeftOver, kForgotten };
  void RememberCreation(std::string_view name, Creation state);

  Context context_;
  List items_;
  std::vector<Unopened> unopened_;
  servers::Server* server_ = nullptr;
  db::Connection server_connection_;
  db::Command command_;
  int removed_count_ = 0;
};

// Whether a creation may have used the name: letters A to Z, digits and "_".
bool IsCollectionName(std::string_view name);

// What the console hands to its server registrations so that each makes a Databases.
servers::CatalogueFactory MakeCatalogueFactory(Context context);

}  // namespace collections
