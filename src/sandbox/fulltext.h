// Full-text search of one database: its catalogues, the tables they index and their state
// (active, change tracking, background updating). Each indexed table has an SQLite FTS5 index
// kept in the database's own file, filled by populations and kept current by triggers while
// change tracking is on, so a detached file takes its full-text definitions and index along.
// The catalogue's folder on the instance's drive (FTData) is created and removed with it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sandbox/catalog.h"
#include "sandbox/sql_error.h"

namespace sandbox {

class SessionImpl;
struct AttachedDatabase;

struct FullTextCatalogInfo {
  int id = 0;  // ftcatid
  std::string name;
  std::string root;  // the root folder given at creation; empty for the instance's FTData
  std::optional<std::string> populated;  // when the index last took in changes
};

struct FullTextTableInfo {
  std::int64_t object_id = 0;
  int catalog_id = 0;
  std::string key_index;
  std::string key_column;
  bool integer_key = true;  // the key itself is the index's document id
  bool active = false;
  bool change_tracking = false;
  bool background = false;
  std::vector<std::string> columns;  // in the order they were added
  bool HasColumn(std::string_view column) const;
};

// Catalogue population status, as sp_help_fulltext_catalogs and PopulateStatus report it.
constexpr int kFullTextIdle = 0;
constexpr int kFullTextChangeTracking = 9;

class FullText {
 public:
  FullText(SessionImpl& session, AttachedDatabase& db);

  bool Enabled() const;
  // Enabling empties every catalogue (their definitions stay); disabling removes the
  // catalogues' folders and index data and stops propagation.
  void Enable();
  void Disable();

  std::vector<FullTextCatalogInfo> Catalogs() const;
  std::optional<FullTextCatalogInfo> FindCatalog(std::string_view name) const;
  std::vector<FullTextTableInfo> Tables() const;
  std::optional<FullTextTableInfo> FindTable(std::int64_t object_id) const;
  std::vector<FullTextTableInfo> TablesOf(int catalog_id) const;

  // The root folder a catalogue reports as PATH, and its own folder below it.
  std::string RootFolder(const FullTextCatalogInfo& catalog) const;
  std::string CatalogFolder(const FullTextCatalogInfo& catalog) const;

  // Throws SqlError 7610 when the folder cannot be made.
  int CreateCatalog(std::string_view name, std::string_view root);
  void DropCatalog(const FullTextCatalogInfo& catalog);
  // Empties the catalogue's indexes and forgets when they were last filled.
  void RebuildCatalog(const FullTextCatalogInfo& catalog);
  // A full population of every active table of the catalogue.
  void PopulateCatalog(const FullTextCatalogInfo& catalog);

  void CreateTable(const ObjectInfo& table, int catalog_id, const IndexInfo& key);
  // Removes the table's index, its triggers and its definitions.
  void DropTable(std::int64_t object_id);
  void AddColumn(const ObjectInfo& table, std::string_view column);
  void DropColumn(const ObjectInfo& table, std::string_view column);
  void SetActive(const ObjectInfo& table, bool active);
  // Returns how many tracked changes were discarded by stopping.
  std::int64_t SetChangeTracking(const ObjectInfo& table, bool on);
  void SetBackgroundUpdate(const ObjectInfo& table, bool on);
  // Takes the tracked changes into the index.
  void UpdateIndex(const ObjectInfo& table);
  // With background updating, row changes are only noted in their own statement (as SQL
  // Server's search service takes them in after the transaction); whatever reads the index or
  // its figures first applies what its tables have noted.
  void CatchUpCatalog(int catalog_id) const;
  void PopulateTable(const ObjectInfo& table);
  std::int64_t PendingChanges(std::int64_t object_id) const;

  // Figures of a catalogue.
  int Status(const FullTextCatalogInfo& catalog) const;
  std::int64_t ItemCount(const FullTextCatalogInfo& catalog) const;
  std::int64_t IndexBytes(const FullTextCatalogInfo& catalog) const;
  std::int64_t UniqueKeyCount(const FullTextCatalogInfo& catalog) const;
  // Seconds from 1 January 1990 to the end of the last population, 0 when never populated.
  std::int64_t PopulateCompletionAge(const FullTextCatalogInfo& catalog) const;

  // For the table's own DDL: refuses changes to indexed and key columns (7614) and to the key
  // index (7613) before a table is rebuilt, and puts the triggers back afterwards.
  void CheckTableChange(const ObjectInfo& before, const ObjectInfo& after) const;
  void AfterTableRebuilt(const ObjectInfo& table);
  void CheckDropIndex(const ObjectInfo& table, std::string_view index) const;

  // A condition true for the rows of a table source (row_sql names it in the query) whose
  // indexed columns (all when none are named) satisfy a CONTAINS or FREETEXT search condition.
  // Throws SqlError 7601 for tables and columns without a full-text index, 7616. Applies the
  // table's noted background changes first.
  std::string Predicate(const ObjectInfo& table, const std::string& row_sql,
                        const std::vector<std::string>& columns, const std::string& search_sql,
                        bool freetext, bool in_view);

 private:
  std::string Table(const char* name) const;
  std::string IndexTable(std::int64_t object_id) const;  // unquoted
  std::string KeyTable(std::int64_t object_id) const;    // unquoted
  bool Exists(const std::string& name) const;
  void EnsureTables();
  void SaveTable(const FullTextTableInfo& info);
  void RecreateIndex(const FullTextTableInfo& info);
  void DropIndexObjects(std::int64_t object_id);
  void SyncTriggers(const FullTextTableInfo& info);
  void DropTriggers(std::int64_t object_id);
  void Populate(const FullTextTableInfo& info, const ObjectInfo& table);
  void Touch(int catalog_id) const;
  bool HasPending(std::int64_t object_id) const;
  void ApplyNoted(const FullTextTableInfo& info) const;
  void CatchUp(const FullTextTableInfo& info) const;
  bool Immediate(std::int64_t object_id) const;
  bool HasIndex(const FullTextTableInfo& info) const;
  const ObjectInfo* Object(std::int64_t object_id) const;

  SessionImpl& session_;
  AttachedDatabase& db_;
};

// Turns a CONTAINS (or FREETEXT) search condition into an FTS5 query over the given columns
// (empty for all). Throws SqlError 7630 for conditions that do not parse, 7645 for empty ones.
std::string FullTextQuery(std::string_view condition, const std::vector<int>& columns,
                          bool freetext);

// The SQLite function tsql_fulltext_query(condition, columns, freetext) the predicates call.
void RegisterFullTextFunctions(sqlite3* db);

// FULLTEXTCATALOGPROPERTY and the full-text properties of OBJECTPROPERTY and DATABASEPROPERTY;
// null for unknown names, as SQL Server answers.
common::Value FullTextCatalogProperty(SessionImpl& session, AttachedDatabase& db,
                                      std::string_view catalog, std::string_view property);
std::optional<common::Value> FullTextObjectProperty(SessionImpl& session, AttachedDatabase& db,
                                                    const ObjectInfo& object,
                                                    std::string_view property);
bool FullTextEnabled(SessionImpl& session, AttachedDatabase& db);

// The folders of a database's catalogues on this host, for DROP DATABASE to remove after the
// database is gone; empty when the database cannot be read.
std::vector<std::filesystem::path> FullTextFolders(SessionImpl& session, int dbid);
void RemoveFullTextFolders(const std::vector<std::filesystem::path>& folders);

}  // namespace sandbox
