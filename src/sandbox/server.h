// The sandbox server's client-facing surface: instances found by name under a root folder,
// logins that open sessions, and batches whose results stream into a sink in the order a
// SQL Server sends them (row sets, done counts, informational messages and errors interleaved).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"

namespace sandbox {

// One message of the server: an error (severity above 10) or an informational text (PRINT,
// "Changed database context to ...", severity 0 to 10).
struct ServerMessage {
  std::int32_t number = 0;  // native error number, e.g. 208, 2627, 18456; 0 for PRINT
  int severity = 0;
  int state = 1;
  std::string text;
  std::string procedure;  // procedure the message came from, empty for the batch itself
  int line = 0;
  bool IsError() const { return severity > 10; }
};

// A result column as the server describes it.
struct Column {
  std::string name;
  std::string type_name;  // the SQL Server type name: "int", "varchar", "image", ...
  common::Value::Type value_type = common::Value::Type::kText;
  int size = 0;  // declared length for character and binary types, else 0
  bool nullable = true;
  // For columns read straight from one base table: what an updatable client cursor needs.
  std::string base_table;  // "dbo.Document" form is not required; the table's own name
  std::string base_column;
  bool key_column = false;  // part of the base table's primary key
  bool identity = false;
  int precision = 0;  // digits in all of decimal and numeric; 0 where not known
  int scale = 0;      // places after the point of decimal and numeric (money: 4)
};

// Results are handed over as the engine reads them, one row at a time, and nothing of a row set
// is held back: a sink that keeps what it is given decides itself how much memory that takes.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  virtual void BeginRowSet(const std::vector<Column>& columns) = 0;
  virtual void Row(std::vector<common::Value> values) = 0;
  virtual void EndRowSet() = 0;
  // The end of a statement: rows affected, or -1 where SQL Server sends no count (SET NOCOUNT ON,
  // DDL). Sent for statements without a row set as well, so a client can count result sets.
  virtual void Done(std::int64_t rows_affected) = 0;
  virtual void Message(const ServerMessage& message) = 0;
};

// Thrown by a sink (from any of its calls) to stop the running batch, as a client's attention
// or a reader that has had enough does: the running statement stops and is undone as an
// interrupted one would be, its SQLite statement is reset (so its locks go with it), an open
// transaction stays open, and Execute throws SessionError kCancelled.
struct BatchCancelled {};

// A parameter of a remote procedure call or of a parameterised batch ("@name" in the text).
struct Parameter {
  std::string name;  // with the leading "@"; empty for the procedure's return status
  common::Value value;
  std::string type_name;  // SQL Server type the client declared, may be empty
  int size = 0;
  bool output = false;  // updated by Execute for OUTPUT parameters
};

struct LoginRequest {
  bool integrated = false;  // Windows authentication: the local account is the login
  std::string os_user;      // for integrated security: the local user name (no domain)
  std::string login;        // SQL Server authentication
  std::string password;
  std::string database;  // initial catalog, empty for the login's default database
  std::string host_name;
  std::string application;
};

// Thrown by Instance::Connect when the server refuses a connection (18456 login failed, the
// service stopped, an unknown initial database, ...).
class ConnectError : public std::runtime_error {
 public:
  explicit ConnectError(ServerMessage message)
      : std::runtime_error(message.text), message_(std::move(message)) {}
  const ServerMessage& message() const { return message_; }

 private:
  ServerMessage message_;
};

class Session {
 public:
  virtual ~Session() = default;
  virtual int spid() const = 0;
  // Runs one batch (or, with procedure set, a remote procedure call with parameters). Errors are
  // delivered to the sink as messages, as the server sends them; Execute itself throws only when
  // the session is gone (killed, server stopped), the time-out expired (timeout zero means
  // none) or the sink cancelled the batch.
  virtual void Execute(std::string_view batch, std::vector<Parameter>& parameters, ResultSink& sink,
                       std::chrono::milliseconds timeout) = 0;
  // Asks the running batch to stop, from any thread (a client's attention, a command time-out
  // or cancel of a client that waits on another thread). The batch ends as when its sink
  // throws BatchCancelled, soon also inside WAITFOR, loops and long queries. Without a running
  // batch nothing happens.
  virtual void Cancel() {}
  // The session's current database, as "USE" left it.
  virtual std::string CurrentDatabase() const = 0;
  virtual void Close() = 0;
};

// Thrown by Session::Execute when the batch cannot run at all.
class SessionError : public std::runtime_error {
 public:
  // kCancelled: a sink stopped the batch (BatchCancelled); the session goes on.
  enum class Kind { kBroken, kTimeout, kCancelled };
  SessionError(Kind kind, std::string text) : std::runtime_error(std::move(text)), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

enum class LoginMode { kWindowsOnly, kSqlOnly, kMixed };

// What an instance is set up as; kept in the instance folder.
struct InstanceConfig {
  std::string product_version = "8.00.2039";  // SERVERPROPERTY('ProductVersion'); "7.00.1063"
  std::string product_level = "SP4";
  std::string edition = "Developer Edition";
  std::string platform = "NT INTEL X86";
  // @@VERSION; built from the fields above when empty.
  std::string version_text;
  LoginMode login_mode = LoginMode::kMixed;
  std::string collation = "SQL_Latin1_General_CP1_CI_AS";
  bool full_text_installed = true;
  bool running = true;                   // the service state
  std::string machine_name = "SANDBOX";  // @@SERVERNAME's machine part, MACHINE\user logins
  // The local account that set the instance up: its login MACHINE\creator is sysadmin and it is
  // the machine's one administrator (member of BUILTIN\Administrators). Empty: every local
  // account without a login of its own counts as an administrator of the machine.
  std::string creator;
  // sa's password at creation; only its salted hash is kept (never in the instance file).
  std::string sa_password;
};

// A fault for tests: the occurrence-th statement (1 = the next) whose text contains pattern
// (compared without regard to case; empty matches every statement) fails with error instead of
// running. Statements inside procedures count too.
struct Fault {
  std::string pattern;
  int occurrence = 1;
  ServerMessage error;
};

class Instance {
 public:
  virtual ~Instance() = default;
  virtual std::string name() const = 0;
  virtual std::unique_ptr<Session> Connect(const LoginRequest& request) = 0;

  virtual InstanceConfig config() const = 0;
  // Stopping the service breaks every session; Connect then fails until it runs again.
  virtual void SetRunning(bool running) = 0;
  // The instance folder; the machine's drive C: is the folder drives/C below it.
  virtual std::filesystem::path directory() const = 0;
  // A path of the instance's machine ("C:\Data\x.mdf") as a path of this host. Drive letters
  // and names compare without regard to case, so existing folders are found whatever the case.
  virtual std::filesystem::path MapPath(std::string_view machine_path) const = 0;
  virtual void InjectFault(Fault fault) = 0;
  virtual void ClearFaults() = 0;
  // Ends a session as a lost connection would: its next Execute throws SessionError kBroken.
  // False when no session has that spid.
  virtual bool DropSession(int spid) = 0;
};

// Finds (and on request creates) instances under a root folder. The data source "(sandbox)" is
// the default instance, "(sandbox)\NAME" a named one.
class Host {
 public:
  virtual ~Host() = default;
  // nullptr when no instance of that name exists.
  virtual std::shared_ptr<Instance> Find(std::string_view instance_name) = 0;
  // Creates the instance folder with master, model, msdb and tempdb. Throws std::runtime_error
  // when an instance of that name exists or the name cannot be a folder name. The empty name
  // (and "MSSQLSERVER") is the default instance.
  virtual std::shared_ptr<Instance> Create(std::string_view instance_name,
                                           const InstanceConfig& config) = 0;
};

// The host for a root folder. The default root is $XDG_DATA_HOME/tessera-server-manager/sandbox
// (~/.local/share/... when unset); TESSERA_SANDBOX_ROOT overrides it.
std::filesystem::path DefaultRoot();
std::unique_ptr<Host> OpenHost(const std::filesystem::path& root);
// The names of the instances under a root folder, sorted: "MSSQLSERVER" for the default
// instance, the upper-case name of each named one. Empty when the root does not exist.
std::vector<std::string> ListInstances(const std::filesystem::path& root);

}  // namespace sandbox
