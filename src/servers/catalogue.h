// What a server hands to the catalogue of its collections. The catalogue itself lives above this
// folder; a server only creates it through a factory, tells it its server and passes on every
// database of the server's list whose name holds the collection prefix.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace servers {

class Server;

// One database of the server's list that counts as a collection.
struct FoundCollection {
  // The display name: the text after the first occurrence of the prefix.
  std::string name;
  // The database's own name as the server listed it. It differs from prefix + name when the
  // name has text before the prefix or spells the prefix in other letter case; statements about
  // the collection must address this name, or they would act on another database.
  std::string database_name;
  std::string size;     // "db_size" as text
  std::string created;  // "created" as text
  friend bool operator==(const FoundCollection&, const FoundCollection&) = default;
};

class CollectionCatalogue {
 public:
  virtual ~CollectionCatalogue() = default;
  // Called once, while the server's connection is open, before any collection is handed over.
  // The server outlives its catalogue.
  virtual void SetServer(Server& server) = 0;
  // Decides whether and under which key the collection is listed. Errors propagate to whoever
  // read the server's catalogue.
  virtual void AddExisting(const FoundCollection& found) = 0;
  // Called once after the last collection of the list was handed over, while the connection is
  // still open. Never raises.
  virtual void EndOfList() {}
};

// Creates an empty catalogue; called at most once per server, on the first read of its catalogue.
using CatalogueFactory = std::function<std::unique_ptr<CollectionCatalogue>()>;

}  // namespace servers
