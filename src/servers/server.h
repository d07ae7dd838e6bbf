// One registered SQL Server: its registry entries, its connection, and the questions the console
// asks about it (current login, roles, version, login mode, collections, service state).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/command.h"
#include "db/connection.h"
#include "platform/registry.h"
#include "servers/catalogue.h"
#include "servers/context.h"
#include "servers/keyed_texts.h"

namespace servers {

inline constexpr char kMessageTitle[] = "Tessera Server Manager";
inline constexpr char kServerSource[] = "TSAdmin.Server";
// What every collection's database name holds.
inline constexpr std::string_view kCollectionPrefix = "Quillarchive_";

// The payload and the wait of the echo sent before connecting.
inline constexpr char kEchoPayload[] = "Echo this";
inline constexpr int kEchoTimeoutMs = 500;
// Appended to the stored connection string when connecting.
inline constexpr char kConnectTimeoutSuffix[] = ";Connect Timeout=5;";

// RevokeLogin's kinds: a SQL Server login; any other value is a Windows login.
inline constexpr int kSqlServerLogin = 1;

// LoginMode's answers.
inline constexpr int kLoginModeUnknown = 0;
inline constexpr int kLoginModeWindows = 1;
inline constexpr int kLoginModeMixed = 2;

// The machine a data source runs on: the text before its first backslash ("SRV01\ARCHIVE" gives
// "SRV01"); the whole data source when it has none or begins with one.
std::string MachineNameOf(std::string_view data_source);

// Why an echo to the machine failed, in words, for an echo status other than kEchoSuccess.
std::string EchoFailureText(std::string_view machine, int echo_status);

// The address as a UNC server name: two backslashes in front unless it already has them.
std::string UncName(std::string_view address);

// The major version at the start of a version text ("10.50.1600" gives 10); 0 when the text does
// not begin with a digit.
int MajorVersion(std::string_view version);

class Server {
 public:
  // `server_id` is set once, by the list that creates the registration.
  Server(Context context, std::int32_t server_id);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Why the last connect failed; empty until one fails.
  const std::string& Description() const { return description_; }
  // Why the last connect returned false, as far as the attempt found out: the machine's name
  // was not found, it did not answer the echo, the server refused the login, or the server's
  // own message. Unlike Description it also covers a failed network check; empty after a
  // successful connect and before the first one.
  const std::string& FailureReason() const { return failure_reason_; }

  // Read from the registry at every call (0 when the registration has no position).
  std::int32_t OrdinalPosition();
  // Moves the registration to the position and shifts the ones in between; throws common::Error
  // for positions below 1.
  void SetOrdinalPosition(std::int32_t position);

  // The connection's "Data Source", read at each call. Throws when no connection string has been
  // assigned yet.
  std::string Location() const;
  // The server connection, for statements other parts send on it. Throws when no connection
  // string has been assigned yet.
  db::Connection Connection() const;

  // Checks that the machine answers, then opens the connection. Never throws: false, with the
  // reason in Description when the server refused or could not be reached.
  bool Connect();

  const std::string& ConnectionString() const { return connection_string_; }
  // Stores the text in the registry (creating the registration key) and replaces the
  // connection object. A registry failure throws common::Error 26001 and changes nothing here.
  void SetConnectionString(std::string_view text);

  // The data source captured at the last connect; empty before.
  const std::string& Name() const { return name_; }
  const std::string& MachineName() const { return machine_name_; }
  std::int32_t ServerID() const { return server_id_; }

  // The login of the connection; empty while it is closed.
  std::string CurrentUser();
  // The roles of the login's user in master, in the server's order.
  KeyedTexts UserRoles(std::string_view login);
  // Membership of a fixed server role, for the login or (empty) the connection's own login. An
  // unknown role is false.
  bool IsRolemember(std::string_view role, std::string_view login = {});

  // The collections on the server, read on the first call and then kept. While the connection
  // is closed at that first call the catalogue stays empty for good.
  CollectionCatalogue& Databases();
  // Lets go of the catalogue (and its collections), so the next Databases() reads the server's
  // list again: collections created, attached or detached elsewhere show up.
  void ForgetCatalogue() { catalogue_.reset(); }

  // Removes the login's users from every database the connection's login may enter, then the
  // login itself. Stops with message 309 (and false) at a database the login owns; users already
  // removed stay removed. The connection is back in master afterwards, whatever happened.
  bool RevokeLogin(std::string_view login, int kind);

  // The SQL Server service's state (platform::kService...), 0 when it cannot be known: always
  // for machines not in a workgroup or domain.
  int Status();
  // Starts the service, then connects (that result is not part of the answer).
  bool StartService();
  // Closes the connection, then stops the service. The connected flag stays as it was.
  bool StopService();

  // One value of the server's version report ("ProductVersion", "Platform", ...); empty when it
  // cannot be read.
  std::string Version(std::string_view name);
  // The major version (7, 8, ...), kept after the first successful read; 0 when unknown.
  int ProductVersion();
  // The same without sending anything: what ProductVersion read already, else what the server
  // told at login; 0 when neither is known.
  int KnownProductVersion() const;
  // kLoginModeMixed, kLoginModeWindows or kLoginModeUnknown; never throws.
  int LoginMode();

  // True after a successful connect, false after a failed one.
  bool Connected() const { return connected_; }
  // Whether Connect has been called at all (a list the caller connects leaves it to the caller).
  bool ConnectTried() const { return connect_tried_; }
  // Set by a connect whose machine reported membership of a workgroup or domain; never reset.
  bool JoinedToNetwork() const { return joined_; }

  // Closes the connection when it is open.
  void CloseConnection();
  // Deletes the registration's registry key when it exists.
  void RemoveRegistration();

 private:
  // True when the machine answers; otherwise false, with the reason in failure_reason_.
  bool CheckNetwork();
  const db::Connection& RequireConnection() const;
  void ReadCatalogue(CollectionCatalogue& catalogue);
  void RepairOrphanedOwners();
  // Removes the login's users database by database; the database the login owns, if the walk
  // stopped there.
  std::optional<std::string> RevokeUsers(std::string_view login);
  void ReturnToMaster();

  Context context_;
  platform::cRegistry registry_;
  std::int32_t server_id_;
  std::string connection_string_;
  std::optional<db::Connection> connection_;
  db::Command command_;
  std::string name_;
  std::string machine_name_;
  bool connected_ = false;
  bool connect_tried_ = false;
  bool joined_ = false;
  std::string description_;
  std::string failure_reason_;
  std::unique_ptr<CollectionCatalogue> catalogue_;
  int major_version_ = 0;
};

}  // namespace servers
