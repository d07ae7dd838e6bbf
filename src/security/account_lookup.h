// Where the login dialogs find names to offer: the domain list, a domain's controller and the
// Windows accounts and groups to pick from. Every answer is a suggestion; the name fields stay
// editable and an empty answer is valid.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/user_interface.h"
#include "servers/server.h"

namespace security {

class AccountLookup {
 public:
  virtual ~AccountLookup() = default;
  // Domains and workgroups, in the order found.
  virtual std::vector<std::string> Domains() = 0;
  // The domain's primary domain controller; empty when unknown.
  virtual std::string PrimaryDomainController(std::string_view domain) = 0;
  // The accounts and groups offered by the picker.
  virtual std::vector<platform::Account> Accounts() = 0;
};

// Knows nothing: every field is typed.
class NoAccountLookup : public AccountLookup {
 public:
  std::vector<std::string> Domains() override { return {}; }
  std::string PrimaryDomainController(std::string_view) override { return {}; }
  std::vector<platform::Account> Accounts() override { return {}; }
};

// The accounts of the server's own machine: its local groups under BUILTIN, and the machine's
// accounts the server holds logins for, read from the server's connection. Suits the sandbox
// server, whose machine has exactly these.
class ServerAccountLookup : public AccountLookup {
 public:
  explicit ServerAccountLookup(servers::Server& server) : server_(server) {}
  std::vector<std::string> Domains() override;
  std::string PrimaryDomainController(std::string_view) override { return {}; }
  std::vector<platform::Account> Accounts() override;

 private:
  std::string MachineName();
  servers::Server& server_;
};

// Runs a program with its arguments (no shell) and returns what it wrote to its standard
// output; nothing when it cannot be run or fails.
using ProgramRunner = std::function<std::optional<std::string>(const std::vector<std::string>&)>;

// Winbind's view of the domain this machine has joined: "wbinfo --own-domain", "wbinfo -u",
// "wbinfo -g" and "wbinfo --getdcname". Names without a domain belong to the own domain.
class WinbindAccountLookup : public AccountLookup {
 public:
  explicit WinbindAccountLookup(ProgramRunner run) : run_(std::move(run)) {}
  std::vector<std::string> Domains() override;
  std::string PrimaryDomainController(std::string_view domain) override;
  std::vector<platform::Account> Accounts() override;

 private:
  std::vector<std::string> Lines(const std::vector<std::string>& arguments);
  ProgramRunner run_;
};

// The runner of this system: the program's output when it exits with 0.
ProgramRunner SystemProgramRunner();

// The lookup for a server's login dialogs: the sandbox machine's accounts for a sandbox server,
// winbind's where wbinfo answers, none otherwise.
std::unique_ptr<AccountLookup> AccountLookupFor(servers::Server& server, ProgramRunner run);

// "DOMAIN\name" lines joined by CR LF, without a trailing break: what the account picker
// returns for a choice of accounts.
std::string PickerResult(const std::vector<platform::Account>& accounts);

}  // namespace security
