#include "security/account_lookup.h"

#include <exception>

#include "platform/program_runner.h"
#include "security/statements.h"
#include "servers/sql_text.h"

namespace security {

namespace {

constexpr const char* kBuiltinGroups[] = {"Administrators", "Backup Operators", "Guests",
                                          "Power Users", "Users"};

platform::Account SplitAccount(std::string_view text, std::string_view default_domain) {
  size_t slash = text.find('\\');
  if (slash == std::string_view::npos) return {std::string(default_domain), std::string(text)};
  return {std::string(text.substr(0, slash)), std::string(text.substr(slash + 1))};
}

}  // namespace

ProgramRunner SystemProgramRunner() {
  return [](const std::vector<std::string>& argv) -> std::optional<std::string> {
    if (argv.empty()) return std::nullopt;
    return platform::ProgramOutput(argv.front(),
                                   std::vector<std::string>(argv.begin() + 1, argv.end()));
  };
}

std::unique_ptr<AccountLookup> AccountLookupFor(servers::Server& server, ProgramRunner run) {
  std::string source;
  try {
    source = server.Location();
  } catch (const std::exception&) {
    source = server.Name();
  }
  if (servers::FindNoCase(source, "(sandbox)") == 0)
    return std::make_unique<ServerAccountLookup>(server);
  if (run && run({"wbinfo", "--own-domain"}))
    return std::make_unique<WinbindAccountLookup>(std::move(run));
  return std::make_unique<NoAccountLookup>();
}

std::string PickerResult(const std::vector<platform::Account>& accounts) {
  return platform::JoinAccounts(accounts);
}

std::string ServerAccountLookup::MachineName() {
  try {
    db::Command command;
    command.SetActiveConnection(server_.Connection());
    std::vector<Row> rows =
        ReadRows(command, "SELECT CONVERT(nvarchar(128), SERVERPROPERTY('MachineName')) AS m");
    return rows.empty() ? std::string() : TextOf(rows.front(), "m");
  } catch (const std::exception&) {
    return std::string();
  }
}

std::vector<std::string> ServerAccountLookup::Domains() {
  std::vector<std::string> domains;
  std::string machine = MachineName();
  if (!machine.empty()) domains.push_back(machine);
  return domains;
}

std::vector<platform::Account> ServerAccountLookup::Accounts() {
  std::vector<platform::Account> accounts;
  for (const char* group : kBuiltinGroups) accounts.push_back({"BUILTIN", group});
  std::string machine = MachineName();
  if (machine.empty()) return accounts;
  try {
    db::Command command;
    command.SetActiveConnection(server_.Connection());
    for (const Row& row : ReadRows(command, AllLoginsQuery() + " WHERE isntname = 1")) {
      platform::Account account = SplitAccount(TextOf(row, "loginname"), machine);
      if (account.domain == machine) accounts.push_back(std::move(account));
    }
  } catch (const std::exception&) {
    // The local groups are still worth offering.
  }
  return accounts;
}

std::vector<std::string> WinbindAccountLookup::Lines(const std::vector<std::string>& arguments) {
  std::vector<std::string> lines;
  std::optional<std::string> out = run_ ? run_(arguments) : std::nullopt;
  if (!out) return lines;
  std::string line;
  for (char c : *out + "\n") {
    if (c == '\n') {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (!line.empty()) lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  return lines;
}

std::vector<std::string> WinbindAccountLookup::Domains() {
  std::vector<std::string> own = Lines({"wbinfo", "--own-domain"});
  if (own.empty()) return {};
  return {own.front()};
}

std::string WinbindAccountLookup::PrimaryDomainController(std::string_view domain) {
  if (domain.empty()) return std::string();
  std::vector<std::string> dc = Lines({"wbinfo", "--getdcname=" + std::string(domain)});
  return dc.empty() ? std::string() : dc.front();
}

std::vector<platform::Account> WinbindAccountLookup::Accounts() {
  std::vector<std::string> own = Lines({"wbinfo", "--own-domain"});
  std::string domain = own.empty() ? std::string() : own.front();
  std::vector<platform::Account> accounts;
  for (const char* kind : {"-u", "-g"})
    for (const std::string& line : Lines({"wbinfo", kind}))
      accounts.push_back(SplitAccount(line, domain));
  return accounts;
}

}  // namespace security
