#include "app/admin_cli/commands.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "app/admin_cli/completion.h"
#include "app/admin_cli/security_verbs.h"
#include "app/admin_cli/table.h"
#include "collections/database.h"
#include "collections/databases.h"
#include "common/error.h"
#include "common/messages.h"
#include "common/version.h"
#include "console/commands.h"
#include "console/result_views.h"
#include "console/startup_check.h"
#include "dialogs/folder_browser.h"
#include "dialogs/new_archive_wizard.h"
#include "dialogs/open_archive.h"
#include "format/format_version.h"
#include "format/html_text.h"
#include "format/install_script.h"
#include "format/mht.h"
#include "format/progress_window.h"
#include "format/upgrade_ladder.h"
#include "format/upgrade_run.h"
#include "platform/service_control.h"
#include "platform/terminal_user_interface.h"
#include "servers/registration_form.h"

namespace admin_cli {

namespace {

using PasswordReader = std::function<std::optional<std::string>()>;

// The collection property that says the plain text has been generated.
constexpr char kPlainTextMarker[] = "Quillarchive: Search in PlainText";
constexpr int kMessageNoPermission = 40;

// Answers No to every Yes/No question by making No the default button: unattended, nothing is
// removed, stopped or converted that nobody agreed to.
class DecliningUserInterface : public platform::UserInterface {
 public:
  explicit DecliningUserInterface(platform::UserInterface& ui) : ui_(ui) {}

  int ShowMessage(const platform::MessageRequest& request) override {
    platform::MessageRequest declined = request;
    std::vector<int> answers = platform::AnswersOf(request.buttons);
    for (size_t i = 0; i < answers.size(); ++i) {
      if (answers[i] == platform::kAnswerNo) declined.default_button = static_cast<int>(i) + 1;
    }
    return ui_.ShowMessage(declined);
  }
  void BeginBusy() override { ui_.BeginBusy(); }
  void EndBusy() override { ui_.EndBusy(); }
  void ProcessPendingEvents() override { ui_.ProcessPendingEvents(); }
  std::unique_ptr<platform::ProgressSink> OpenProgress() override { return ui_.OpenProgress(); }
  std::string PickAccounts(std::string_view title, int flags) override {
    return ui_.PickAccounts(title, flags);
  }
  std::optional<std::string> PromptDataLink() override { return ui_.PromptDataLink(); }

 private:
  platform::UserInterface& ui_;
};

struct Command {
  Session& session;
  const Invocation& invocation;
  const PasswordReader& read_password;
  DecliningUserInterface declining{session.ui()};

  const std::string& Arg(size_t index) const { return invocation.arguments[index]; }
  std::ostream& out() { return session.io().out; }
  platform::UserInterface& ui() { return session.ui(); }
  // The user interface for a command that removes, drops or stops something: unattended (no
  // terminal, no --yes) its question is answered No, whatever the console's default button,
  // so a script that forgot --yes loses nothing.
  platform::UserInterface& destructive_ui() {
    bool unattended = !session.io().interactive && !session.options().yes;
    return unattended ? declining : session.ui();
  }
  bool tsv() const { return session.options().tsv; }
  void Print(const Table& table) { PrintTable(out(), table, tsv()); }
  // A line that says what was done; left out of tab-separated output, which holds results only.
  void Done(const std::string& text) {
    if (!tsv()) out() << platform::TerminalSafe(text) << "\n";
  }
};

std::string ServiceStatusText(int status) {
  switch (status) {
    case platform::kServiceStopped:
      return "stopped";
    case platform::kServiceStartPending:
      return "starting";
    case platform::kServiceStopPending:
      return "stopping";
    case platform::kServiceRunning:
      return "running";
    case platform::kServiceContinuePending:
      return "continuing";
    case platform::kServicePausePending:
      return "pausing";
    case platform::kServicePaused:
      return "paused";
    default:
      return "unknown";
  }
}

std::string LocationOf(servers::Server& server) {
  try {
    return server.Location();
  } catch (const std::exception&) {
    return server.Name();
  }
}

// The cells of a console list, one column per list column, in the list's order.
Table TableOf(const console::ListView& view, bool with_row_text = false,
              const std::string& text_caption = "") {
  Table table;
  if (with_row_text) table.columns.push_back(text_caption);
  for (const console::ListColumn& column : view.columns) table.columns.push_back(column.caption);
  for (const console::ListRow& row : view.rows) {
    std::vector<std::string> cells;
    if (with_row_text) cells.push_back(row.text);
    for (const console::ListColumn& column : view.columns) cells.push_back(row.SubItem(column.key));
    table.AddRow(std::move(cells));
  }
  return table;
}

void ShowRefusal(Command& command, const dialogs::Refusal& refusal) {
  std::string heading = refusal.title.empty() ? "" : refusal.title + ": ";
  command.session.io().err << platform::TerminalSafe(heading + refusal.text) << "\n";
}

// ---- server ------------------------------------------------------------------------------

std::string PasswordFor(Command& command) {
  if (auto password = command.invocation.Option("--password")) return *password;
  if (command.read_password) {
    if (auto typed = command.read_password()) return *typed;
  }
  return std::string();
}

int ServerAdd(Command& command) {
  servers::Servers& list = command.session.Servers();
  int count_before = list.Count();
  servers::frmSQLServer form(command.session.ServerContext(), list);
  form.SetServerText(command.Arg(0));
  if (auto login = command.invocation.Option("--login")) {
    form.optServerSecurity_Click();
    form.SetUsername(*login);
    form.SetPassword(PasswordFor(command));
  } else {
    form.optIntegratedSecurity_Click();
  }
  if (!form.cmdOK_Click()) return kExitFailure;
  const std::shared_ptr<servers::Server>& server = form.Registered();
  if (!server) {
    std::string why;
    if (const std::shared_ptr<servers::Server>& stored = list.LastUnconnected()) {
      why =
          " (ServerID " + std::to_string(stored->ServerID()) + "): " + NotConnectedReason(*stored);
    }
    command.session.io().err << "The registration was stored, but the server could not be "
                                "connected"
                             << platform::TerminalSafe(why)
                             << "; 'tessera-admin server list' shows it.\n";
    return kExitFailure;
  }
  bool added = list.Count() != count_before;
  command.Done(std::string(added ? "Registered " : "Already registered: ") + LocationOf(*server) +
               " as ServerID " + std::to_string(server->ServerID()) +
               (server->Connected() ? ", connected as " + server->CurrentUser() : "") + ".");
  return kExitSuccess;
}

// How a registration logs in: "Windows" for integrated security, else its login name; two
// registrations of one server differ here.
std::string LoginOf(const servers::Server& server) {
  servers::RegistrationLogin login = servers::ReadRegistrationLogin(server.ConnectionString());
  return login.integrated_security ? "Windows" : login.login;
}

int ServerList(Command& command) {
  Table table;
  table.columns = {"Position",  "ServerID", "Data source", "Login",
                   "Connected", "Platform", "Service"};
  for (const auto& server : command.session.Servers()) {
    std::string platform_text = server->Connected() ? server->Version("Platform") : "";
    table.AddRow({std::to_string(server->OrdinalPosition()), std::to_string(server->ServerID()),
                  LocationOf(*server), LoginOf(*server), server->Connected() ? "yes" : "no",
                  platform_text, ServiceStatusText(server->Status())});
  }
  command.Print(table);
  return kExitSuccess;
}

int ServerEdit(Command& command) {
  servers::Servers& list = command.session.Servers();
  servers::Server& server = command.session.FindServer(command.Arg(0));
  std::shared_ptr<servers::Server> shared;
  for (const auto& item : list) {
    if (item.get() == &server) shared = item;
  }
  std::string before = server.ConnectionString();
  servers::frmSQLServer form(command.session.ServerContext(), list);
  form.SetServer(shared);
  if (auto data_source = command.invocation.Option("--data-source")) {
    form.SetServerText(*data_source);
  }
  if (auto login = command.invocation.Option("--login")) {
    form.optServerSecurity_Click();
    form.SetUsername(*login);
    form.SetPassword(PasswordFor(command));
  } else if (command.invocation.Has("--integrated")) {
    form.optIntegratedSecurity_Click();
  }
  if (!form.cmdOK_Click()) return kExitFailure;
  if (server.ConnectionString() != before && !server.Connect()) {
    command.session.io().err << "The registration was changed, but the server could not be "
                                "connected: "
                             << platform::TerminalSafe(NotConnectedReason(server)) << "\n";
    return kExitFailure;
  }
  command.Done("Changed the registration " + std::to_string(server.ServerID()) + " (" +
               LocationOf(server) + ").");
  return kExitSuccess;
}

int ServerMove(Command& command) {
  const std::string& text = command.Arg(1);
  int position = 0;
  bool number = !text.empty() && text.size() <= 6 &&
                text.find_first_not_of("0123456789") == std::string::npos;
  if (number) position = std::stoi(text);
  if (!number || position < 1) {
    throw UsageError{"the position must be a whole number from 1 on, not '" +
                         platform::TerminalSafe(text.substr(0, 20)) + "'",
                     "server move"};
  }
  servers::Server& server = command.session.FindServer(command.Arg(0));
  server.SetOrdinalPosition(position);
  // A position past the end places the registration last; say where it went.
  command.Done("Moved " + LocationOf(server) + " to position " +
               std::to_string(server.OrdinalPosition()) + ".");
  return kExitSuccess;
}

int ServerRemove(Command& command) {
  servers::Server& server = command.session.FindServer(command.Arg(0));
  std::string shown = LocationOf(server) + " (ServerID " + std::to_string(server.ServerID()) + ")";
  if (!console::DetachRegistration(command.destructive_ui(), command.session.Servers(), server)) {
    return kExitFailure;
  }
  command.Done("Removed the registration of " + shown + ".");
  return kExitSuccess;
}

servers::Server& ConnectedServer(Command& command);

int ServerProperties(Command& command) {
  servers::Server& server = command.session.FindServer(command.Arg(0));
  if (!server.Connected()) {
    throw CommandError{"the server " + LocationOf(server) +
                       " is not connected: " + NotConnectedReason(server)};
  }
  Table table = TableOf(console::ServerView(server));
  // Where new collections' files usually go; a fresh server has no C:\Data.
  table.AddRow({"Default data folder", dialogs::DefaultDataFolder(server)});
  command.Print(table);
  return kExitSuccess;
}

int ServerFolders(Command& command) {
  servers::Server& server = ConnectedServer(command);
  dialogs::frmFolderBrowser browser(server);
  browser.SetFolderMode(true);
  Table table;
  if (command.invocation.arguments.size() < 2) {
    table.columns = {"Drive", "Free (MB)"};
    for (const dialogs::ServerDrive& drive : browser.ListDrives()) {
      table.AddRow({drive.letter + ":\\", drive.free_megabytes});
    }
    command.Print(table);
    return kExitSuccess;
  }
  // The browser's keys end in a backslash; "C:" and "C:/Data" name the same folders.
  std::string path = command.Arg(1);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.empty() || path.back() != '\\') path += '\\';
  std::optional<std::vector<dialogs::FolderNode>> folders = browser.ListFolder(path);
  if (!folders) {
    throw CommandError{"the server " + LocationOf(server) + " cannot list the folder '" +
                       platform::TerminalSafe(path.substr(0, 200)) + "'"};
  }
  table.columns = {"Folder"};
  for (const dialogs::FolderNode& folder : *folders) table.AddRow({folder.key});
  command.Print(table);
  return kExitSuccess;
}

// The console offers Start and Stop only in the states its menu enables them; the command line
// says why instead, and a service already where it was sent counts as done.
bool ServiceAlreadyThere(Command& command, servers::Server& server, bool start) {
  int status = server.Status();
  console::ServiceMenuState state = console::ServiceMenuStateFor(status);
  const std::optional<console::MenuItemState>& item = start ? state.start : state.stop;
  if (!item || item->enabled) return false;
  bool there = start ? (status == platform::kServiceRunning || status == platform::kServicePaused)
                     : status == platform::kServiceStopped;
  if (!there) {
    throw CommandError{"the service state of " + LocationOf(server) + " is " +
                       ServiceStatusText(status) + "; it cannot be " +
                       (start ? "started" : "stopped") + " now"};
  }
  command.Done(LocationOf(server) + " is " + ServiceStatusText(status) + " already.");
  return true;
}

int ServerStart(Command& command) {
  servers::Server& server = command.session.FindServer(command.Arg(0));
  if (ServiceAlreadyThere(command, server, true)) return kExitSuccess;
  if (!console::StartServer(command.ui(), server)) return kExitFailure;
  command.Done("Started " + LocationOf(server) + ".");
  return kExitSuccess;
}

int ServerStop(Command& command) {
  servers::Server& server = command.session.FindServer(command.Arg(0));
  if (ServiceAlreadyThere(command, server, false)) return kExitSuccess;
  if (!console::StopServer(command.destructive_ui(), server)) return kExitFailure;
  command.Done("Stopped " + LocationOf(server) + ".");
  return kExitSuccess;
}

// ---- collection --------------------------------------------------------------------------

servers::Server& ConnectedServer(Command& command) {
  servers::Server& server = command.session.FindServer(command.Arg(0));
  if (!server.Connected()) {
    throw CommandError{"the server " + LocationOf(server) +
                       " is not connected: " + NotConnectedReason(server)};
  }
  return server;
}

collections::Database& NamedCollection(Command& command) {
  servers::Server& server = command.session.FindServer(command.Arg(0));
  return command.session.FindCollection(server, command.Arg(1));
}

std::string VersionOf(collections::Database& database) {
  db::Connection connection = database.Connection();
  return format::ReadFormatVersion(connection);
}

int CollectionList(Command& command) {
  servers::Server& server = ConnectedServer(command);
  Table table;
  table.columns = {"Name", "ArchiveID", "Database", "Version", "Plain text"};
  std::vector<std::string> incomplete;
  for (const auto& database : CatalogueOf(server)) {
    std::string marker = database->GetExtendedProperty(0, 0, 1, kPlainTextMarker);
    std::string version = VersionOf(*database);
    std::string reason = database->IncompleteReason();
    if (!reason.empty()) {
      version = version.empty() ? "(incomplete)" : version + " (incomplete)";
      incomplete.push_back("the collection " + database->Name() + " is incomplete (" + reason +
                           "); 'tessera-admin collection delete " + command.Arg(0) + " " +
                           database->Name() + "' removes it");
    }
    table.AddRow({database->Name(), std::to_string(database->ArchiveID()), database->DatabaseName(),
                  version, marker});
  }
  command.Print(table);
  for (const std::string& line : incomplete) {
    command.session.io().err << kProgram << ": " << platform::TerminalSafe(line) << "\n";
  }
  // The login may use only some of the collections: the list holds those, and says which not.
  for (const auto& unopened : CatalogueOf(server).UnopenedCollections()) {
    command.session.io().err << kProgram << ": "
                             << platform::TerminalSafe(
                                    "the collection " + unopened.name + " (" +
                                    unopened.database_name + ") could not be opened" +
                                    (unopened.reason.empty() ? "" : ": " + unopened.reason))
                             << "\n";
  }
  return kExitSuccess;
}

// The creation opens no progress window of its own; its statements are counted instead, against
// the installation script's length and the few statements around it. The progress text appears
// with the first statement, so input the wizard refuses never shows "Creating...".
class CreationProgress : public db::StatementObserver {
 public:
  CreationProgress(platform::UserInterface& ui, std::shared_ptr<db::Environment> environment)
      : ui_(ui), environment_(std::move(environment)) {
    maximum_ = static_cast<int>(format::InstallationScript({}).size()) + kAroundScript;
  }
  void OnStatement(const db::Statement& /*statement*/) override {
    Open();
    sink_->SetValue(std::min(++count_, maximum_));
  }
  // Watches the environment's statements for as long as the returned guard lives.
  static std::shared_ptr<void> Watch(platform::UserInterface& ui,
                                     const std::shared_ptr<db::Environment>& environment) {
    auto progress = std::make_shared<CreationProgress>(ui, environment);
    environment->AddObserver(progress);
    return std::shared_ptr<void>(nullptr, [progress](void*) {
      if (progress->sink_) progress->sink_->SetValue(progress->maximum_);
      progress->environment_->RemoveObserver(progress);
    });
  }

 private:
  static constexpr int kMessageCreateCaption = 132;
  static constexpr int kMessageCreating = 133;
  // Creation, rename, options, the template document, the full-text index.
  static constexpr int kAroundScript = 16;

  void Open() {
    if (sink_) return;
    sink_ = ui_.OpenProgress();
    sink_->SetCaption(common::LoadMessage(kMessageCreateCaption));
    sink_->SetLine(0, common::LoadMessage(kMessageCreating));
    sink_->SetMaximum(maximum_);
  }

  platform::UserInterface& ui_;
  std::unique_ptr<platform::ProgressSink> sink_;
  std::shared_ptr<db::Environment> environment_;
  int maximum_ = 0;
  int count_ = 0;
};

int CollectionCreate(Command& command) {
  servers::Server& server = ConnectedServer(command);
  if (!console::MayCreateCollection(command.ui(), server)) return kExitFailure;
  dialogs::frmNewArchiveWizard wizard(command.ui());
  wizard.SetDatabases(CatalogueOf(server));
  wizard.cmdWeiter_Click();
  wizard.SetArchiveName(command.Arg(1));
  wizard.cmdWeiter_Click();
  if (wizard.Balloon()) {
    ShowRefusal(command, *wizard.Balloon());
    return kExitFailure;
  }
  wizard.SetArchivePath(command.Arg(2));
  {
    std::shared_ptr<void> progress =
        CreationProgress::Watch(command.ui(), command.session.environment());
    wizard.cmdWeiter_Click();
  }
  if (wizard.Balloon()) {
    ShowRefusal(command, *wizard.Balloon());
    return kExitFailure;
  }
  const std::shared_ptr<collections::Database>& created = wizard.Created();
  if (!created) return kExitFailure;  // the creation reported its failure
  command.Done("Created the collection " + created->Name() + " (ArchiveID " +
               std::to_string(created->ArchiveID()) + ", database " + created->DatabaseName() +
               ") with its data file " + wizard.DataFilePath() + ".");
  return kExitSuccess;
}

int CollectionAttach(Command& command) {
  servers::Server& server = ConnectedServer(command);
  if (!console::MayAttachCollection(command.ui(), server)) return kExitFailure;
  dialogs::frmOpenArchive dialog(command.ui());
  dialog.SetDatabases(CatalogueOf(server));
  dialog.SetDatabaseName(command.Arg(1));
  dialog.SetMDFFilename(command.Arg(2));
  if (command.invocation.arguments.size() > 3) dialog.SetLDFFilename(command.Arg(3));
  if (!dialog.cmdOK_Click()) return kExitFailure;
  const std::shared_ptr<collections::Database>& attached = dialog.Attached();
  if (!attached) {
    command.session.io().err << "The files were attached, but the collection could not be "
                                "connected.\n";
    return kExitFailure;
  }
  command.Done("Attached the collection " + attached->Name() + " (ArchiveID " +
               std::to_string(attached->ArchiveID()) + ").");
  return kExitSuccess;
}

int CollectionDetach(Command& command) {
  collections::Database& database = NamedCollection(command);
  std::string name = database.Name();
  if (!console::CloseCollection(command.destructive_ui(), database)) return kExitFailure;
  command.Done("Detached the collection " + name + "; its files stay on the server.");
  return kExitSuccess;
}

int CollectionDelete(Command& command) {
  collections::Database& database = NamedCollection(command);
  std::string name = database.Name();
  if (!console::DeleteCollection(command.destructive_ui(), database)) return kExitFailure;
  command.Done("Deleted the collection " + name + ".");
  return kExitSuccess;
}

// A collection name as the rename takes it: every database-name prefix removed when it starts
// with one.
std::string CollectionNamePart(std::string_view name) {
  constexpr std::string_view kPrefix = "Quillarchive_";
  std::string text(name);
  if (text.size() < kPrefix.size() || !SameText(text.substr(0, kPrefix.size()), kPrefix)) {
    return text;
  }
  std::string rest;
  for (size_t at = 0; at < text.size();) {
    if (text.size() - at >= kPrefix.size() && SameText(text.substr(at, kPrefix.size()), kPrefix)) {
      at += kPrefix.size();
    } else {
      rest += text[at++];
    }
  }
  return rest;
}

int CollectionRename(Command& command) {
  collections::Database& database = NamedCollection(command);
  std::string old_name = database.Name();
  std::string new_name = CollectionNamePart(command.Arg(2));
  // The rename refuses a name that differs in letter case alone without a word of its own.
  if (SameText(new_name, old_name)) {
    throw CommandError{"the collection " + old_name + " has that name already; a new name " +
                       "must differ in more than letter case"};
  }
  // The name rules of creating and attaching, before anything is sent: a name they refuse
  // (blanks, quotes, brackets, a blank or line break at the end) leaves a database that the
  // collection verbs cannot address afterwards. Nothing is trimmed.
  if (std::optional<dialogs::Refusal> refusal =
          dialogs::CheckCollectionName(new_name, CatalogueOf(*database.Server()))) {
    ShowRefusal(command, *refusal);
    return kExitFailure;
  }
  if (!console::RenameCollection(command.ui(), database, new_name)) return kExitFailure;
  command.Done("Renamed the collection " + old_name + " to " + database.Name() + ".");
  return kExitSuccess;
}

int CollectionProperties(Command& command) {
  collections::Database& database = NamedCollection(command);
  command.Print(TableOf(console::PropertiesView(database)));
  return kExitSuccess;
}

int CollectionShrinkLog(Command& command) {
  collections::Database& database = NamedCollection(command);
  // Truncating the log breaks a log-backup chain: unattended, the question is answered No.
  if (!console::ShrinkLogFile(command.destructive_ui(), database)) return kExitFailure;
  command.Done("Shrank the log file of " + database.Name() + ".");
  return kExitSuccess;
}

bool HoldsRole(servers::Server& server, collections::Database& database,
               const std::vector<std::string>& server_roles,
               const std::vector<std::string>& collection_roles) {
  // A role that cannot be asked counts as not held, as in the console's checks.
  try {
    for (const std::string& role : server_roles) {
      if (server.IsRolemember(role)) return true;
    }
    for (const std::string& role : collection_roles) {
      if (database.IsRolemember(role)) return true;
    }
  } catch (const std::exception&) {
  }
  return false;
}

// Maps each rung's own progress (0 to its maximum, again for every rung) onto one bar for the
// whole run: a rung starts with its BEGIN TRANSACTION, so counting those statements tells which
// rung the values belong to.
class WholeRunProgress : public platform::UserInterface, public db::StatementObserver {
 public:
  WholeRunProgress(platform::UserInterface& ui, int rungs) : ui_(ui), rungs_(std::max(rungs, 1)) {}

  int ShowMessage(const platform::MessageRequest& request) override {
    return ui_.ShowMessage(request);
  }
  void BeginBusy() override { ui_.BeginBusy(); }
  void EndBusy() override { ui_.EndBusy(); }
  void ProcessPendingEvents() override { ui_.ProcessPendingEvents(); }
  std::unique_ptr<platform::ProgressSink> OpenProgress() override {
    return std::make_unique<Sink>(*this, ui_.OpenProgress());
  }
  std::string PickAccounts(std::string_view title, int flags) override {
    return ui_.PickAccounts(title, flags);
  }
  std::optional<std::string> PromptDataLink() override { return ui_.PromptDataLink(); }

  void OnStatement(const db::Statement& statement) override {
    if (statement.text != format::kBeginRung) return;
    rung_ = std::min(rung_ + 1, rungs_ - 1);
    rung_value_ = 0;
    if (sink_ != nullptr) sink_->Show();
  }

 private:
  static constexpr int kScale = 100;

  class Sink : public platform::ProgressSink {
   public:
    Sink(WholeRunProgress& owner, std::unique_ptr<platform::ProgressSink> inner)
        : owner_(owner), inner_(std::move(inner)) {
      owner_.sink_ = this;
      inner_->SetMaximum(owner_.rungs_ * kScale);
    }
    ~Sink() override { owner_.sink_ = nullptr; }
    void SetCaption(std::string_view caption) override { inner_->SetCaption(caption); }
    void SetLine(int line, std::string_view text) override { inner_->SetLine(line, text); }
    void SetMaximum(int maximum) override {
      owner_.rung_maximum_ = std::max(maximum, 1);
      Show();
    }
    void SetValue(int value) override {
      owner_.rung_value_ = std::clamp(value, 0, owner_.rung_maximum_);
      Show();
    }
    void Show() {
      int rung = std::max(owner_.rung_, 0);
      long long within = 1LL * owner_.rung_value_ * kScale / owner_.rung_maximum_;
      inner_->SetValue(static_cast<int>(rung * kScale + within));
    }

   private:
    WholeRunProgress& owner_;
    std::unique_ptr<platform::ProgressSink> inner_;
  };

  platform::UserInterface& ui_;
  int rungs_;
  int rung_ = -1;  // none begun yet
  int rung_maximum_ = 100;
  int rung_value_ = 0;
  Sink* sink_ = nullptr;
};

int CollectionUpgrade(Command& command) {
  collections::Database& database = NamedCollection(command);
  std::string version = VersionOf(database);
  std::string incomplete = database.IncompleteReason();
  if (!incomplete.empty()) {
    throw CommandError{"the collection " + database.Name() + " is incomplete (" + incomplete +
                       ") and is not upgraded; 'tessera-admin collection delete " + command.Arg(0) +
                       " " + database.Name() + "' removes it"};
  }
  std::optional<int> number = format::FormatVersionNumber(version);
  if (!number) {
    throw CommandError{"the collection " + database.Name() + " has no readable format version ('" +
                       version + "')"};
  }
  if (*number >= console::kCurrentFormatNumber) {
    command.Done("The collection " + database.Name() + " is at format " + version +
                 " already; nothing to upgrade.");
    return kExitSuccess;
  }
  std::optional<std::size_t> first = format::FirstRung(*number);
  if (!first) {
    // The ladder has no rung that starts at such a version: running it would change nothing
    // and report an "upgrade" from a version to itself.
    command.Done("The collection " + database.Name() + " is at format " + version +
                 ", which no upgrade step starts from: it counts as the current format; nothing "
                 "to upgrade.");
    return kExitSuccess;
  }
  if (!HoldsRole(*database.Server(), database, {"sysadmin"}, {"db_owner"})) {
    console::Tell(command.ui(), common::LoadMessage(kMessageNoPermission));
    return kExitFailure;
  }
  // An upgrade cannot be undone: asked as the start-up check asks, and declined unattended.
  if (!console::Ask(command.destructive_ui(),
                    console::UpgradeQuestionText(*number, database.Name()))) {
    if (!command.session.io().interactive && !command.session.options().yes) {
      command.session.io().err << "Without a terminal the upgrade needs --yes.\n";
    }
    return kExitFailure;
  }
  auto rungs = static_cast<int>(format::UpgradeLadder().size() - *first);
  auto whole_run = std::make_shared<WholeRunProgress>(command.ui(), rungs);
  const std::shared_ptr<db::Environment>& environment = command.session.environment();
  environment->AddObserver(whole_run);
  bool completed = false;
  try {
    completed =
        console::RunCollectionJob(*whole_run, database, format::frmProgress::kUpgrade, *number);
  } catch (...) {
    environment->RemoveObserver(whole_run);
    throw;
  }
  environment->RemoveObserver(whole_run);
  std::string now = VersionOf(database);
  if (!completed) {
    command.session.io().err << "The upgrade of " << database.Name() << " stopped at format " << now
                             << ".\n";
    return kExitFailure;
  }
  command.Done("Upgraded the collection " + database.Name() + " from format " + version + " to " +
               now + ".");
  if (database.GetExtendedProperty(0, 0, 1, kPlainTextMarker).empty()) {
    command.Done(
        "Its documents have no plain text for searching yet: tessera-admin collection "
        "plaintext " +
        command.Arg(0) + " " + database.Name());
  }
  return kExitSuccess;
}

int CollectionPlainText(Command& command) {
  collections::Database& database = NamedCollection(command);
  // The product generates plain text from format 1.50 on; older layouts keep their text
  // elsewhere, so they are upgraded first.
  std::string version = VersionOf(database);
  std::optional<int> number = format::FormatVersionNumber(version);
  if (!number || *number < console::kPlainTextFormatNumber) {
    throw CommandError{"the collection " + database.Name() + " is at format " +
                       (version.empty() ? std::string("(unknown)") : version) +
                       "; plain text is generated from format 1.50 on, so upgrade it first: "
                       "tessera-admin collection upgrade " +
                       command.Arg(0) + " " + database.Name()};
  }
  if (!console::RunCollectionJob(command.ui(), database, format::frmProgress::kPlainText, 0)) {
    command.session.io().err << "The plain text of " << database.Name()
                             << " was not generated completely.\n";
    return kExitFailure;
  }
  command.Done("Generated the plain text of the collection " + database.Name() + ".");
  return kExitSuccess;
}

// ---- fulltext ----------------------------------------------------------------------------

int FullTextStatus(Command& command) {
  collections::Database& database = NamedCollection(command);
  command.Print(TableOf(console::FullTextView(database)));
  return kExitSuccess;
}

// The console offers Create only without an index and Remove only with one; the index action
// does nothing in the other states, so the command line says so instead of reporting it done.
bool FullTextAlreadyThere(Command& command, collections::Database& database, bool create) {
  int status = database.GetFullTextStatus();
  console::FullTextMenuState state = console::FullTextMenuStateFor(status);
  if ((create ? state.create : state.remove).enabled) return false;
  if (status < 0 && status != -1) {
    throw CommandError{"the server of the collection " + database.Name() +
                       " does not support full-text indexing"};
  }
  command.Done("The collection " + database.Name() +
               (create ? " has a full-text index already; nothing to create."
                       : " has no full-text index; nothing to remove."));
  return true;
}

int FullTextCreate(Command& command) {
  collections::Database& database = NamedCollection(command);
  if (FullTextAlreadyThere(command, database, true)) return kExitSuccess;
  if (!console::CreateFullTextIndex(command.ui(), database)) return kExitFailure;
  command.Done("Created the full-text index of " + database.Name() + ".");
  return kExitSuccess;
}

int FullTextRemove(Command& command) {
  collections::Database& database = NamedCollection(command);
  if (FullTextAlreadyThere(command, database, false)) return kExitSuccess;
  if (!console::RemoveFullTextIndex(command.destructive_ui(), database)) return kExitFailure;
  command.Done("Removed the full-text index of " + database.Name() + ".");
  return kExitSuccess;
}

// ---- login, user -------------------------------------------------------------------------

// The row of a list whose "NAME" is the text: the exact spelling, else the only one that
// matches without regard to case.
const console::ListRow* RowNamed(const console::ListView& view, std::string_view name) {
  for (const console::ListRow& row : view.rows) {
    if (row.SubItem("NAME") == name) return &row;
  }
  const console::ListRow* found = nullptr;
  for (const console::ListRow& row : view.rows) {
    if (!SameText(row.SubItem("NAME"), name)) continue;
    if (found != nullptr) return nullptr;
    found = &row;
  }
  return found;
}

int LoginList(Command& command) {
  servers::Server& server = ConnectedServer(command);
  command.Print(TableOf(console::LoginsView(server)));
  return kExitSuccess;
}

int LoginRemove(Command& command) {
  servers::Server& server = ConnectedServer(command);
  console::ListView logins = console::LoginsView(server);
  const console::ListRow* row = RowNamed(logins, command.Arg(1));
  if (row == nullptr) {
    throw CommandError{"the server " + LocationOf(server) + " lists no login '" +
                       platform::TerminalSafe(command.Arg(1).substr(0, 80)) +
                       "'; 'tessera-admin login list " + command.Arg(0) + "' shows them"};
  }
  std::string login = row->SubItem("NAME");
  if (!console::RemoveLogin(command.destructive_ui(), server, login, row->SubItem("TYPE"))) {
    return kExitFailure;
  }
  command.Done("Removed the login " + login + " from " + LocationOf(server) + ".");
  return kExitSuccess;
}

int UserList(Command& command) {
  collections::Database& database = NamedCollection(command);
  command.Print(TableOf(console::UsersView(database)));
  return kExitSuccess;
}

int UserRemove(Command& command) {
  collections::Database& database = NamedCollection(command);
  console::ListView users = console::UsersView(database);
  const console::ListRow* row = RowNamed(users, command.Arg(2));
  if (row == nullptr) {
    throw CommandError{"the collection " + database.Name() + " has no user '" +
                       platform::TerminalSafe(command.Arg(2).substr(0, 80)) + "'"};
  }
  std::string user = row->SubItem("NAME");
  if (!console::RemoveCollectionUser(command.destructive_ui(), database, user)) return kExitFailure;
  command.Done("Removed the user " + user + " from the collection " + database.Name() + ".");
  return kExitSuccess;
}

// ---- check -------------------------------------------------------------------------------

// Whether the run left something the check offered undone: a No, a refusal or a job that
// stopped.
bool LeftUndone(const console::StartupCheckOutcome& outcome) {
  bool upgrade_undone =
      outcome.question != 0 && (!outcome.answered_yes || outcome.refused ||
                                (outcome.upgrade_ran && !outcome.upgrade_completed));
  bool plain_text_undone = outcome.plain_text_asked && !outcome.plain_text_completed;
  return upgrade_undone || plain_text_undone;
}

std::string OutcomeText(const console::StartupCheckOutcome& outcome) {
  std::vector<std::string> parts;
  if (!outcome.incomplete.empty()) {
    return "incomplete (" + outcome.incomplete + "); not upgraded: delete it with 'collection " +
           "delete'";
  }
  if (!outcome.version_number) parts.push_back("format version not readable; skipped");
  if (outcome.question != 0) {
    if (!outcome.answered_yes) {
      parts.push_back("upgrade declined");
    } else if (outcome.refused) {
      parts.push_back("upgrade refused: no permission");
    } else if (outcome.upgrade_completed && outcome.version_number &&
               !format::FirstRung(*outcome.version_number)) {
      // Asked as every older version is, but no rung starts there: nothing was changed.
      parts.push_back("unchanged: no upgrade step starts at format " + outcome.version);
    } else if (outcome.upgrade_completed) {
      parts.push_back("upgraded");
    } else if (outcome.upgrade_ran) {
      parts.push_back("upgrade stopped");
    }
  }
  if (outcome.plain_text_asked) {
    if (outcome.plain_text_completed) {
      parts.push_back("plain text generated");
    } else if (outcome.plain_text_ran) {
      parts.push_back("plain text stopped");
    } else {
      parts.push_back("plain text declined");
    }
  }
  if (parts.empty()) return "up to date";
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

int Check(Command& command) {
  bool unattended = !command.session.io().interactive && !command.session.options().yes;
  if (unattended) {
    command.session.io().err << "No terminal and no --yes: every offer is answered No.\n";
  }
  // An upgrade cannot be undone: the check's offers are answered as destructive questions.
  platform::UserInterface& ui = command.destructive_ui();
  Table table;
  table.columns = {"ServerID", "Server", "Collection", "Version", "Question", "Outcome"};
  bool failed = false;
  for (const auto& server : command.session.Servers()) {
    for (const console::StartupCheckOutcome& outcome : console::RunStartupCheck(ui, *server)) {
      std::string question = outcome.question != 0 ? std::to_string(outcome.question) : "";
      if (outcome.plain_text_asked) question += question.empty() ? "316" : ", 316";
      table.AddRow({std::to_string(server->ServerID()), outcome.server, outcome.collection,
                    outcome.version, question, OutcomeText(outcome)});
      if (LeftUndone(outcome)) failed = true;
    }
  }
  command.Print(table);
  return failed ? kExitFailure : kExitSuccess;
}

// ---- render-text -------------------------------------------------------------------------

bool IsWebArchiveName(std::string_view name) {
  // ".mht" anywhere in the name, looked for from its end, letter case aside.
  for (size_t i = name.size(); i >= 4; --i) {
    if (SameText(name.substr(i - 4, 4), ".mht")) return true;
  }
  return false;
}

int RenderText(const std::vector<std::string>& files, Io& io) {
  int result = kExitSuccess;
  for (const std::string& file : files) {
    std::error_code ec;
    std::ifstream in;
    if (std::filesystem::is_regular_file(file, ec)) in.open(file, std::ios::binary);
    std::string content;
    if (in) content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) {
      io.err << kProgram << ": cannot read the file '" << platform::TerminalSafe(file) << "'\n";
      result = kExitFailure;
      continue;
    }
    std::string text = IsWebArchiveName(file)
                           ? format::MhtToText(content)
                           : format::HTML2Text(format::HtmlBytesToText(content, 0));
    io.out << text;
    if (!text.empty() && text.back() != '\n') io.out << '\n';
  }
  io.out.flush();
  return result;
}

using Handler = int (*)(Command&);

Handler HandlerFor(const std::string& noun, const std::string& verb) {
  static const std::vector<std::tuple<std::string, std::string, Handler>> handlers = {
      {"server", "add", ServerAdd},
      {"server", "list", ServerList},
      {"server", "edit", ServerEdit},
      {"server", "move", ServerMove},
      {"server", "remove", ServerRemove},
      {"server", "properties", ServerProperties},
      {"server", "folders", ServerFolders},
      {"server", "start", ServerStart},
      {"server", "stop", ServerStop},
      {"collection", "list", CollectionList},
      {"collection", "create", CollectionCreate},
      {"collection", "attach", CollectionAttach},
      {"collection", "detach", CollectionDetach},
      {"collection", "delete", CollectionDelete},
      {"collection", "rename", CollectionRename},
      {"collection", "properties", CollectionProperties},
      {"collection", "shrink-log", CollectionShrinkLog},
      {"collection", "upgrade", CollectionUpgrade},
      {"collection", "plaintext", CollectionPlainText},
      {"fulltext", "status", FullTextStatus},
      {"fulltext", "create", FullTextCreate},
      {"fulltext", "remove", FullTextRemove},
      {"login", "list", LoginList},
      {"login", "remove", LoginRemove},
      {"user", "list", UserList},
      {"user", "remove", UserRemove},
      {"check", "", Check},
  };
  for (const auto& [handler_noun, handler_verb, handler] : handlers) {
    if (handler_noun == noun && handler_verb == verb) return handler;
  }
  return nullptr;
}

// "collection create SERVER --help": the example path in that server's default data folder, as
// a fresh server has no C:\Data. Empty when the server cannot be asked.
std::string CreationExample(Io& io, const Invocation& invocation) {
  try {
    Session session(io, invocation.global);
    servers::Server& server = session.FindServer(invocation.arguments[0]);
    if (!server.Connected()) return std::string();
    std::string folder = dialogs::DefaultDataFolder(server);
    if (folder.empty()) return std::string();
    return "\nOn " + platform::TerminalSafe(LocationOf(server)) +
           ", its default data folder gives for example:\n  tessera-admin collection create " +
           platform::TerminalSafe(invocation.arguments[0]) + " Projects '" +
           platform::TerminalSafe(folder) + "Projects.mdf'\n";
  } catch (const std::exception&) {
    return std::string();
  } catch (const CommandError&) {
    return std::string();
  }
}

int ReportUsage(Io& io, const UsageError& error) {
  io.err << kProgram << ": " << platform::TerminalSafe(error.text) << "\n"
         << "Try '" << kProgram << (error.topic.empty() ? "" : " " + error.topic) << " --help'.\n";
  return kExitUsage;
}

}  // namespace

int PrintMessages(std::ostream& out) {
  for (const common::MessageEntry& entry : common::AllMessages()) {
    std::string line = std::to_string(entry.number);
    line += '\t';
    for (char c : entry.text) {
      if (c == '\n') {
        line += "\\n";
      } else if (c == '\r') {
        line += "\\r";
      } else {
        line += c;
      }
    }
    line += '\n';
    out << line;
  }
  out.flush();
  return out ? kExitSuccess : kExitFailure;
}

int RunAdmin(const std::vector<std::string>& args, Io io,
             const std::function<std::optional<std::string>()>& read_password) {
  // The shell's Tab completion asks here; not a command, so not in the help.
  if (!args.empty() && args[0] == "--complete") return RunCompletion(args, io);
  Invocation invocation;
  try {
    invocation = ParseCommandLine(args);
  } catch (const UsageError& error) {
    return ReportUsage(io, error);
  }
  switch (invocation.kind) {
    case Invocation::Kind::kHelp:
      io.out << HelpText(invocation.noun, invocation.verb);
      if (invocation.noun == "collection" && invocation.verb == "create" &&
          !invocation.arguments.empty()) {
        io.out << CreationExample(io, invocation);
      }
      return kExitSuccess;
    case Invocation::Kind::kNoCommand:
      // The help says what there is, and a script that lost its command (global options
      // alone) does not pass for one that succeeded.
      io.err << HelpText("", "");
      return kExitUsage;
    case Invocation::Kind::kVersion:
      io.out << kProgram << " " << common::kProductVersion << "\n";
      return kExitSuccess;
    case Invocation::Kind::kRun:
      break;
  }
  if (invocation.noun == "messages") return PrintMessages(io.out);
  if (invocation.noun == "render-text") return RenderText(invocation.arguments, io);

  try {
    Session session(io, invocation.global);
    if (invocation.noun == "demo")
      return RunDemo(session, invocation.Option("--server-version").value_or("8.00.2039"));
    if (SecurityHandler security = SecurityHandlerFor(invocation.noun, invocation.verb))
      return security(session, invocation, read_password);
    Handler handler = HandlerFor(invocation.noun, invocation.verb);
    if (handler == nullptr) {
      throw UsageError{"'" + invocation.noun + " " + invocation.verb + "' is not available",
                       invocation.noun};
    }
    Command command{session, invocation, read_password};
    return handler(command);
  } catch (const UsageError& error) {
    return ReportUsage(io, error);
  } catch (const CommandError& error) {
    io.err << kProgram << ": " << platform::TerminalSafe(error.text) << "\n";
  } catch (const common::Error& error) {
    io.err << kProgram << ": " << platform::TerminalSafe(error.description()) << "\n";
  } catch (const std::exception& error) {
    io.err << kProgram << ": " << platform::TerminalSafe(error.what()) << "\n";
  }
  return kExitFailure;
}

}  // namespace admin_cli
