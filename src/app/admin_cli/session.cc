#include "app/admin_cli/session.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <typeinfo>
#include <vector>

#include "db/drivers/odbc/odbc_driver.h"
#include "db/drivers/sandbox/sandbox_driver.h"

namespace admin_cli {

namespace {

platform::TerminalUserInterface::Options TerminalOptions(const Io& io,
                                                         const GlobalOptions& options) {
  platform::TerminalUserInterface::Options terminal;
  terminal.interactive = io.interactive;
  terminal.assume_yes = options.yes;
  terminal.show_progress = io.progress_bar;
  return terminal;
}

std::shared_ptr<db::Environment> MakeEnvironment(const std::shared_ptr<sandbox::Host>& host) {
  db::DriverRegistry drivers;
  drivers.Add(std::make_shared<db::SandboxDriver>(host));
  // Every other data source is a real server, reached through ODBC; TESSERA_ODBC_DRIVER names
  // another ODBC driver (Microsoft's) than FreeTDS's.
  db::OdbcOptions odbc;
  if (const char* driver = std::getenv("TESSERA_ODBC_DRIVER")) odbc.driver = driver;
  drivers.Add(std::make_shared<db::OdbcDriver>(std::move(odbc)));
  return db::Environment::Create(std::move(drivers));
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

std::string Shown(std::string_view text) {
  std::string shown(text.substr(0, 80));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return text.size() > 80 ? shown + "..." : shown;
}

class ProgressBar : public platform::ProgressSink {
 public:
  explicit ProgressBar(std::ostream& out) : out_(out) {}
  ~ProgressBar() override {
    if (drawn_) out_ << "\n";
    out_.flush();
  }

  void SetCaption(std::string_view caption) override { PrintLine(caption); }
  void SetLine(int line, std::string_view text) override {
    if (line == 1) {
      status_ = platform::TerminalSafe(text);
      for (char& c : status_) {
        if (c == '\n' || c == '\t') c = ' ';
      }
      Draw();
    } else if (line == 0 && text != collection_line_) {
      collection_line_ = text;
      if (!text.empty()) PrintLine("  " + std::string(text));
    }
  }
  void SetMaximum(int maximum) override {
    maximum_ = maximum;
    Draw();
  }
  void SetValue(int value) override {
    value_ = value;
    Draw();
  }

 private:
  static constexpr int kWidth = 30;

  void PrintLine(std::string_view text) {
    if (drawn_) out_ << "\n";
    drawn_ = false;
    last_line_.clear();
    out_ << platform::TerminalSafe(text) << "\n";
    out_.flush();
  }
  void Draw() {
    long long percent = maximum_ > 0 ? std::clamp(100LL * value_ / maximum_, 0LL, 100LL) : 0;
    int filled = static_cast<int>(percent * kWidth / 100);
    std::string line = "\r  [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kWidth - filled), '.') + "] " +
                       std::to_string(percent) + "%";
    if (!status_.empty()) line += "  " + status_;
    if (drawn_ && line == last_line_) return;
    last_line_ = line;
    // Clears what a longer status left on the line.
    out_ << line << "\x1b[K";
    out_.flush();
    drawn_ = true;
  }

  std::ostream& out_;
  std::string collection_line_;
  std::string status_;
  std::string last_line_;
  int maximum_ = 100;
  int value_ = 0;
  bool drawn_ = false;
};

}  // namespace

std::unique_ptr<platform::ProgressSink> AdminUserInterface::OpenProgress() {
  if (!bar_) return TerminalUserInterface::OpenProgress();
  return std::make_unique<ProgressBar>(out_);
}

collections::Databases& CatalogueOf(servers::Server& server) {
  try {
    return dynamic_cast<collections::Databases&>(server.Databases());
  } catch (const std::bad_cast&) {
    throw;
  } catch (const std::exception& error) {
    std::string location;
    try {
      location = server.Location();
    } catch (const std::exception&) {
      location = server.Name();
    }
    throw CommandError{"the collections of " + location + " cannot be read: " + error.what()};
  }
}

std::string NotConnectedReason(const servers::Server& server) {
  if (!server.FailureReason().empty()) return server.FailureReason();
  if (!server.Description().empty()) return server.Description();
  return "its connection is closed";
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

Session::Session(Io io, const GlobalOptions& options)
    : io_(io),
      options_(options),
      ui_(io.in, io.err, TerminalOptions(io, options)),
      platform_(platform::LinuxPlatform::Options{}, &ui_),
      sandbox_root_(sandbox::DefaultRoot()),
      host_(sandbox::OpenHost(sandbox_root_)),
      environment_(MakeEnvironment(host_)),
      sandbox_services_(host_, sandbox_root_) {
  sandbox_services_.Attach(platform_.service_control(), platform_.discovery());
  if (options.trace_sql) {
    trace_ = std::make_shared<db::StatementTrace>(io_.err);
    environment_->AddObserver(trace_);
  }
}

Session::~Session() {
  // The registrations close their connections while the drivers are still there.
  servers_.reset();
}

servers::Context Session::ServerContext() {
  collections::Context collection_context{platform_.services(), environment_, {}, {}};
  return servers::Context{platform_.services(), environment_,
                          collections::MakeCatalogueFactory(collection_context)};
}

servers::Servers& Session::Servers() {
  if (!servers_) servers_ = std::make_unique<servers::Servers>(ServerContext());
  return *servers_;
}

void Session::UnloadServers() { servers_.reset(); }

servers::Server& Session::FindServer(std::string_view text) {
  servers::Servers& list = Servers();
  if (AllDigits(text)) {
    for (const auto& server : list) {
      if (std::to_string(server->ServerID()) == std::string(text)) return *server;
    }
  }
  std::vector<servers::Server*> found;
  for (const auto& server : list) {
    std::string location;
    try {
      location = server->Location();
    } catch (const std::exception&) {
      location = server->Name();
    }
    if (SameText(location, text) || (!server->Name().empty() && SameText(server->Name(), text))) {
      found.push_back(server.get());
    }
  }
  if (found.size() == 1) return *found.front();
  if (found.empty()) {
    throw CommandError{"no registered server is '" + Shown(text) +
                       "'; 'tessera-admin server list' shows the registrations"};
  }
  std::string ids;
  for (servers::Server* server : found) {
    ids += (ids.empty() ? "" : ", ") + std::to_string(server->ServerID());
  }
  throw CommandError{"'" + Shown(text) + "' is registered " + std::to_string(found.size()) +
                     " times; name the registration by its ServerID (" + ids + ")"};
}

collections::Database& Session::FindCollection(servers::Server& server, std::string_view name) {
  if (!server.Connected()) {
    throw CommandError{"the server " + server.Location() +
                       " is not connected: " + NotConnectedReason(server)};
  }
  collections::Databases& catalogue = CatalogueOf(server);
  // Display names are not unique: "xQuillarchive_Archive" is listed as "Archive" beside
  // "Quillarchive_Archive". A name that several collections answer to is refused, never guessed;
  // the database name, which the server keeps unique, names each of them.
  auto pick = [&](auto matches) -> collections::Database* {
    std::vector<collections::Database*> found;
    for (const auto& database : catalogue) {
      if (matches(*database)) found.push_back(database.get());
    }
    if (found.size() == 1) return found.front();
    if (found.empty()) return nullptr;
    std::string names;
    for (collections::Database* database : found) {
      names += (names.empty() ? "" : ", ") + database->DatabaseName();
    }
    throw CommandError{"the server " + server.Location() + " has " + std::to_string(found.size()) +
                       " collections named '" + Shown(name) + "' (" + names +
                       "); name one by its database name"};
  };
  if (auto* found = pick([&](const auto& database) { return database.Name() == name; })) {
    return *found;
  }
  // The server compares database names without regard to letter case.
  if (auto* found =
          pick([&](const auto& database) { return SameText(database.DatabaseName(), name); })) {
    return *found;
  }
  if (auto* found = pick([&](const auto& database) { return SameText(database.Name(), name); })) {
    return *found;
  }
  throw CommandError{"the server " + server.Location() + " has no collection '" + Shown(name) +
                     "'; 'tessera-admin collection list " + std::to_string(server.ServerID()) +
                     "' shows them"};
}

}  // namespace admin_cli
