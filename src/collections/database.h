// One network collection on one server: its names, its own connection to the collection
// database, and the operations that work inside it (roles and users, renaming, the log file, the
// extended properties and the full-text index).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "collections/context.h"
#include "db/command.h"
#include "db/connection.h"
#include "db/recordset.h"
#include "format/html_text.h"
#include "format/progress_window.h"
#include "servers/keyed_texts.h"
#include "servers/server.h"

namespace collections {

class Databases;

inline constexpr char kDatabaseSource[] = "TSAdmin.Database";

// GetFullTextStatus's answers besides the server's catalogue states 0 to 9.
inline constexpr int kFullTextNotInstalled = -2;
inline constexpr int kFullTextNoCatalogue = -1;
inline constexpr int kFullTextIdle = 0;
inline constexpr int kFullTextFullPopulation = 1;
inline constexpr int kFullTextChangeTracking = 9;

// The collection's full-text catalogue and what it indexes.
inline constexpr char kFullTextCatalogue[] = "Doc_Desc";

// The problem texts GrantDBAccess and RevokeDBAccess show in front of the error.
inline constexpr char kGrantAccessProblem[] =
    "Beim Hinzufügen eines neuen Benutzers ist folgendes Problem aufgetreten:";
inline constexpr char kRevokeAccessProblem[] =
    "Beim Entfernen eines neuen Benutzers ist folgendes Problem aufgetreten:";

// What the console shows about an existing full-text catalogue.
struct FullTextIndexProperties {
  std::string name;
  int status = 0;
  std::string path;
  std::string item_count;
  std::string index_size;  // in MB, without the unit
  // The last population's end: PopulateCompletionAge seconds after 1 January 1990.
  common::DateTime last_change;
};

// The moment `seconds` after midnight of 1 January 1990.
common::DateTime FullTextAgeToDate(std::int64_t seconds);

// The target size in MB DBCC SHRINKFILE is given for a log file of `pages` 8 KB pages: 3 above
// 5 MB, 1 from 2 to 5 MB, 0 below (sizes rounded to whole MB, halves to the even number).
int ShrinkTargetMegabytes(std::int64_t pages);

class Database : public format::Collection {
 public:
  explicit Database(Context context);
  ~Database() override;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Set by the catalogue that creates the object. The server and the catalogue outlive it.
  void SetArchiveID(std::int32_t id) { archive_id_ = id; }
  std::int32_t ArchiveID() const { return archive_id_; }
  void SetServer(servers::Server& server);
  servers::Server* Server() const { return server_; }
  void SetParent(Databases* parent) { parent_ = parent; }
  Databases* Parent() const { return parent_; }
  // Sets the display name and DatabaseName = prefix + name.
  void SetName(std::string_view name);
  // The database's own name when the server lists it under another spelling than prefix +
  // name (text before the prefix, other letter case): statements must address that database.
  void SetDatabaseName(std::string_view database_name) { database_name_ = database_name; }

  const std::string& Name() const override { return name_; }
  const std::string& DatabaseName() const { return database_name_; }
  db::Connection Connection() const override { return connection_; }
  db::Command& Command() { return command_; }
  bool Connected() const { return connected_; }
  // The "Data Source" of the collection's connection.
  std::string Location() const;

  // (Re)opens the collection's connection. The argument is not used. Errors reach the caller.
  bool Connect(std::string_view unused = {});

  // Role names of the collection, members of a role, roles of a user; in the server's order.
  servers::KeyedTexts Roles();
  servers::KeyedTexts RoleMembers(std::string_view role);
  servers::KeyedTexts UserRoles(std::string_view user);
  // Whether the connection's own user is a member of the role; false for an unknown role.
  bool IsRolemember(std::string_view role);

  // Give or take a login's access to the collection. A failure is shown to the user and gives
  // false.
  bool GrantDBAccess(std::string_view login, std::string_view user);
  bool RevokeDBAccess(std::string_view user);

  // Renames the collection; a leading prefix in the new name is dropped. False when the name
  // does not change or the user declines to disconnect other logins. Every connection to the
  // database is ended first; the collection is connected again under its new name.
  bool Rename(std::string_view new_name);

  // Empties the log and shrinks each log file to a size that fits how large it had grown.
  void ShrinkLogfile();

  // Writes a property value. With field_number 0 the field is looked up (and defined when
  // missing) by name and type, and its number handed back. Errors are swallowed.
  void SetExtendedProperty(std::string_view value, std::int32_t entry, std::int32_t& field_number,
                           std::string_view field_name, int field_type, bool user_property,
                           bool visible) override;
  // Reads a property value by field number, or (field number 0) by type and name; empty when
  // it cannot be read.
  std::string GetExtendedProperty(std::int32_t entry, std::int32_t field_number, int field_type,
                                  std::string_view field_name) override;

  // The searchable text of one document: HTML rendered to its visible text, .mht documents
  // through their exported file, other kinds as stored. Never raises.
  std::string CreatePlainText(std::int32_t entry, std::string_view content, int type,
                              std::string_view file_name) override;
  // CreatePlainText's text of an HTML page that is not a web archive, nullopt for other
  // documents; uses nothing but the renderer, so another thread may call it during a run.
  std::optional<std::string> ContentPlainText(std::string_view content, int type,
                                              std::string_view file_name) const override;
  // For a web archive stored as text in an explicit code page: the main file its export writes
  // and that file's rendering; uses nothing of the collection's state.
  std::optional<format::ArchiveText> ArchivePlainText(std::string_view content, int code_page,
                                                      int type,
                                                      std::string_view file_name) const override;
  // CreatePlainText, taking the ahead text when the exported main file is `ahead.file`.
  std::string CreatePlainTextOfArchive(std::int32_t entry, std::string_view content, int type,
                                       std::string_view file_name,
                                       const format::ArchiveText& ahead) override;
  // The visible text of an HTML text (format::HTML2Text). Never raises.
  std::string HTML2Text(std::string_view html);
  // Exports the document `entry` (with its sub-documents) to the collection's cache folder
  // under the system's temporary folder, renders the exported main file and deletes it again.
  // Empty when the document cannot be exported or rendered. Never raises.
  std::string CreatePlainTextInIE(std::int32_t entry, const format::ArchiveText* ahead = nullptr);
  // The export CreatePlainTextInIE renders: the document `entry` and its sub-documents written
  // to a folder of their own under the system's temporary folder ("isCache/<collection>_<entry>/",
  // deleted first when it exists). Returns the main file's path, or empty when the document
  // cannot be exported; the caller removes the folder. Never raises.
  std::string ExportDocument(std::int32_t entry);
  // Writes the first `length` bytes of `bytes` to `path` (created or replaced). False when the
  // file cannot be written.
  bool WriteFileAPI_A(std::string_view path, std::string_view bytes, std::size_t length);

  // kFullTextNotInstalled, kFullTextNoCatalogue or the catalogue's status 0 to 9. Raises only
  // when the server cannot say whether full-text search is installed.
  int GetFullTextStatus();
  // "create", "stop", "start" or "drop" (any letter case); other texts do nothing. The first
  // failing statement ends the action and its error reaches the caller. True when the action's
  // statements were sent; false when the state called for none. On SQL Server 7.0 the
  // change-tracking statements are left out and "create" starts the catalogue's full population.
  bool DoFullTextAction(std::string_view action);
  // The first catalogue's row and properties, for a collection whose status is 0 or more.
  // Errors reach the caller.
  FullTextIndexProperties ReadFullTextProperties();

  // Why the collection is incomplete, as a creation stopped half-way leaves one: still under the
  // bare name it was created with, without a readable format version, or without its template
  // document (EntryID 1). Empty for a complete collection and when the login may not look (a
  // refused read proves nothing). Such a collection is only ever offered for deletion. Never
  // raises.
  std::string IncompleteReason();

  // After a failed rename, detach or drop the collection's connection has been closed along with
  // every other: open it again so the collection stays usable. Never raises.
  void Reconnect();
  // Closes the collection's own connection when it is open, so the server sees the database
  // unused by us (a dbcreator may not KILL its own session). Never raises.
  void CloseConnection();
  // Called by a catalogue that ends before the object: closes the connection and forgets the
  // server and the catalogue, so later use raises an error instead of reaching freed objects.
  void Orphan();

 private:
  db::Connection ServerConnection() const;
  // False on SQL Server 7.0, which has no full-text change tracking or background updating.
  bool ServerKnowsChangeTracking();
  // The log shrink of servers without BACKUP LOG ... WITH TRUNCATE_ONLY.
  void ShrinkLogThroughSimpleRecovery(db::Command& command,
                                      const std::function<void()>& shrink_files);
  servers::KeyedTexts ListOf(const std::string& statement, const char* column);
  bool ReportAccessProblem(const char* problem, const std::exception& error);

  Context context_;
  Databases* parent_ = nullptr;
  db::Command command_;
  db::Recordset recordset_;
  servers::Server* server_ = nullptr;
  std::int32_t archive_id_ = 0;
  std::string name_;
  std::string database_name_;
  bool connected_ = false;
  db::Connection connection_;
  // The shared renderer; null when its patterns cannot be compiled.
  const format::HtmlTextRenderer* Renderer() const;

  // Compiled at the first HTML text and kept: a generation run renders thousands. Made under
  // the lock, as two threads may ask at the same time; a const renderer may be shared.
  mutable std::mutex renderer_mutex_;
  mutable std::unique_ptr<format::HtmlTextRenderer> renderer_;
};

}  // namespace collections
