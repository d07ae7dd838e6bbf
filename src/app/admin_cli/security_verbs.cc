#include "app/admin_cli/security_verbs.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "common/messages.h"
#include "console/commands.h"
#include "platform/terminal_user_interface.h"
#include "security/login_form.h"
#include "security/password_forms.h"
#include "security/user_form.h"
#include "security/user_wizard.h"

namespace admin_cli {

namespace {

using PasswordReader = std::function<std::optional<std::string>()>;

const OptionDefinition kPasswordFile = {
    "--password-file", "F", "read the password from the file F (one trailing line break dropped)"};

// One run of a security command: what it was given and what its dialogs share.
struct Run {
  Session& session;
  const Invocation& invocation;
  const PasswordReader& read_password;
  security::ApplicationState state;
  security::NoAccountLookup accounts;

  security::DialogHost Host() { return {session.ui(), accounts, state, {}}; }
  const std::string& Arg(size_t index) const { return invocation.arguments.at(index); }
  std::ostream& out() { return session.io().out; }
  std::ostream& err() { return session.io().err; }
  // The values of a repeatable option, in the order given.
  std::vector<std::string> Values(const std::string& option) const {
    std::vector<std::string> values;
    std::optional<std::string> joined = invocation.Option(option);
    if (!joined) return values;
    std::istringstream lines(*joined);
    for (std::string line; std::getline(lines, line);) values.push_back(line);
    return values;
  }
};

std::string Topic(const Run& run) { return run.invocation.noun + " " + run.invocation.verb; }

std::string ReadPasswordFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CommandError{"cannot read the password file '" + path + "'"};
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

// The password from --password, --password-file or, on a terminal, typed twice. It is masked
// in the statement trace from now on.
std::string Password(Run& run) {
  std::string password;
  if (auto given = run.invocation.Option("--password"); given && !given->empty()) {
    password = *given;
  } else if (auto file = run.invocation.Option("--password-file")) {
    password = ReadPasswordFile(*file);
  } else {
    std::optional<std::string> first = run.read_password ? run.read_password() : std::nullopt;
    if (!first)
      throw CommandError{"a password is needed: give --password-file F, or run on a terminal"};
    run.err() << "Confirm the password.\n";
    std::optional<std::string> second = run.read_password();
    if (!second || *second != *first)
      throw CommandError{common::LoadMessage(security::kMessagePasswordMismatch)};
    password = *first;
  }
  run.session.MaskInTrace(password);
  return password;
}

// "+NAME" or "NAME" adds, "-NAME" takes away.
std::pair<bool, std::string> Signed(const std::string& value) {
  if (!value.empty() && (value[0] == '+' || value[0] == '-'))
    return {value[0] == '+', value.substr(1)};
  return {true, value};
}

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int>(i);
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], name)) return static_cast<int>(i);
  return -1;
}

template <size_t N>
std::vector<std::string> Names(const char* const (&names)[N]) {
  return std::vector<std::string>(std::begin(names), std::end(names));
}

int ServerRoleIndex(const Run& run, const std::string& role) {
  int index = IndexOf(Names(security::kDialogServerRoles), role);
  if (index < 0)
    throw UsageError{"'" + role + "' is no server role: sysadmin, securityadmin or dbcreator",
                     Topic(run)};
  return index;
}

int DatabaseRoleIndex(const Run& run, const std::string& role) {
  int index = IndexOf(Names(security::kDialogDatabaseRoles), role);
  if (index < 0)
    throw UsageError{"'" + role +
                         "' is no collection role: qa_reader, qa_writer, qa_structurer, "
                         "db_securityadmin, db_accessadmin or db_owner",
                     Topic(run)};
  return index;
}

void PrintReport(Run& run, const security::ChangeReport& report) {
  std::string summary = report.Summary();
  run.out() << platform::TerminalSafe(summary.empty() ? "Nothing to change." : summary) << "\n";
}

std::string Mark(bool checked) { return checked ? "[x] " : "[ ] "; }

// ---- login -------------------------------------------------------------------------------

// Loads a login as the properties dialog does; throws when the server has no such login.
std::unique_ptr<security::frmLogin> LoadLogin(Run& run, servers::Server& server,
                                              const std::string& name) {
  CatalogueOf(server);
  auto form = std::make_unique<security::frmLogin>(run.Host());
  form->SetNewLogin(false);
  form->SetServer(server);
  form->SetLoginName(name);
  form->Form_Activate();
  if (!form->Found()) throw CommandError{"the server has no login '" + name + "'"};
  return form;
}

// Applies role and collection changes given as +NAME/-NAME to a loaded login dialog.
bool MarkLoginChanges(Run& run, security::frmLogin& form) {
  for (const std::string& value : run.Values("--role")) {
    auto [add, role] = Signed(value);
    form.lstServerRoles_Check(ServerRoleIndex(run, role), add);
  }
  std::vector<std::string> shown;
  for (const auto& entry : form.Collections()) shown.push_back(entry.text);
  for (const std::string& value : run.Values("--collection")) {
    auto [add, name] = Signed(value);
    int index = IndexOf(shown, name);
    if (index < 0) throw CommandError{"the server has no collection '" + name + "'"};
    form.lstDatabases_Check(index, add);
    // A sysadmin's collection stays checked: the refusal has been shown.
    if (form.Collections()[index].checked != add) return false;
  }
  return true;
}

int LoginAdd(Run& run) {
  servers::Server& server = run.session.FindServer(run.Arg(0));
  const std::string& name = run.Arg(1);
  bool windows = run.invocation.Has("--windows");
  if (windows == run.invocation.Has("--sql"))
    throw UsageError{"give either --windows or --sql", Topic(run)};
  if (!windows && run.invocation.Has("--deny"))
    throw UsageError{"--deny is for Windows accounts", Topic(run)};
  if (windows && (run.invocation.Has("--password") || run.invocation.Has("--password-file")))
    throw UsageError{"a Windows account has no password here", Topic(run)};
  for (const std::string& role : run.Values("--role")) ServerRoleIndex(run, role);
  if (!console::MayGrantLogin(run.session.ui(), server)) return kExitFailure;
  collections::Databases& catalogue = CatalogueOf(server);

  security::frmUserWizard wizard(run.Host());
  wizard.SetServer(server);
  wizard.cmdWeiter_Click();
  if (windows)
    wizard.optWindowsAuthentication_Click();
  else
    wizard.optSQLServerAuthentication_Click();
  wizard.cmdWeiter_Click();
  if (wizard.CurrentPage() != security::kWizardAccount) return kExitFailure;
  wizard.txtLoginName.text = name;
  if (run.invocation.Has("--deny")) wizard.optDenyLogin_Click();
  if (!windows) {
    std::string password = Password(run);
    wizard.txtPassword.text = password;
    wizard.txtPassword2.text = password;
  }
  wizard.cmdWeiter_Click();
  if (wizard.Balloon().Shown()) {
    run.err() << kProgram << ": " << platform::TerminalSafe(wizard.Balloon().Text()) << "\n";
    return kExitFailure;
  }
  for (const std::string& collection : run.Values("--collection")) {
    std::vector<std::string> shown;
    for (const auto& entry : wizard.lstDatabases) shown.push_back(entry.text);
    int index = IndexOf(shown, collection);
    if (index < 0) throw CommandError{"the server has no collection '" + collection + "'"};
    wizard.lstDatabases[index].checked = true;
  }
  (void)catalogue;
  wizard.cmdWeiter_Click();
  if (wizard.CurrentPage() != security::kWizardResult) return kExitFailure;
  run.out() << platform::TerminalSafe(wizard.WelcomeText()) << "\n";
  if (run.Values("--role").empty()) return kExitSuccess;
  auto form = LoadLogin(run, server, name);
  for (const std::string& role : run.Values("--role"))
    form->lstServerRoles_Check(ServerRoleIndex(run, role), true);
  if (!form->cmdOK_Click() || form->Refused()) return kExitFailure;
  PrintReport(run, form->Report());
  return kExitSuccess;
}

int LoginProperties(Run& run) {
  servers::Server& server = run.session.FindServer(run.Arg(0));
  auto form = LoadLogin(run, server, run.Arg(1));
  std::ostream& out = run.out();
  bool windows = form->optWindowsAuthentication.checked;
  out << "Name: " << platform::TerminalSafe(form->LoginName()) << "\n";
  out << "Authentication: " << (windows ? "Windows" : "SQL Server") << "\n";
  if (windows) out << "Access: " << (form->optGrantLogin.checked ? "Grant" : "Deny") << "\n";
  out << "Server roles:\n";
  for (const auto& role : form->ServerRoles())
    out << "  " << Mark(role.checked) << platform::TerminalSafe(role.text) << "\n";
  out << "Collections:\n";
  for (size_t i = 0; i < form->Collections().size(); ++i) {
    const auto& entry = form->Collections()[i];
    out << "  " << Mark(entry.checked) << platform::TerminalSafe(entry.text);
    if (entry.checked) out << " (user " << platform::TerminalSafe(form->CollectionUser(i)) << ")";
    out << "\n";
  }
  return kExitSuccess;
}

int LoginSet(Run& run) {
  servers::Server& server = run.session.FindServer(run.Arg(0));
  bool grant = run.invocation.Has("--grant"), deny = run.invocation.Has("--deny");
  if (grant && deny) throw UsageError{"--grant and --deny exclude each other", Topic(run)};
  for (const std::string& value : run.Values("--role")) ServerRoleIndex(run, Signed(value).second);
  auto form = LoadLogin(run, server, run.Arg(1));
  if (grant || deny) {
    if (!form->optGrantLogin.enabled)
      throw CommandError{"a SQL Server login is neither granted nor denied"};
    if (grant && !form->optGrantLogin.checked) form->optGrantLogin_Click();
    if (deny && !form->optDenyLogin.checked) form->optDenyLogin_Click();
  }
  if (!MarkLoginChanges(run, *form)) return kExitFailure;
  bool new_password = run.invocation.Has("--password") || run.invocation.Has("--password-file");
  if (new_password) {
    if (!form->cmdChangePassword.visible)
      throw CommandError{"a Windows login has no password here"};
    std::string password = Password(run);
    std::unique_ptr<security::frmPassword> dialog = form->cmdChangePassword_Click();
    dialog->txtPassword.text = password;
    dialog->txtPasswordRepeated.text = password;
    if (!dialog->cmdOK_Click()) return kExitFailure;
  }
  if (!form->cmdOK_Click() || form->Refused()) {
    if (!form->Report().Complete()) PrintReport(run, form->Report());
    return kExitFailure;
  }
  PrintReport(run, form->Report());
  return kExitSuccess;
}

// ---- user --------------------------------------------------------------------------------

bool MarkRoleChanges(Run& run, security::frmUser& form) {
  for (const std::string& value : run.Values("--role")) {
    auto [add, role] = Signed(value);
    form.lstDatabaseRoles_Check(DatabaseRoleIndex(run, role), add);
  }
  return true;
}

// The login of a collection user, as sp_helpuser names it; throws for an unknown user.
std::string LoginOfUser(collections::Database& database, const std::string& user) {
  db::Command command;
  command.SetActiveConnection(database.Connection());
  for (const security::Row& row : security::ReadRows(command, security::HelpUserStatement())) {
    if (security::TextOf(row, "UserName") == user) return security::TextOf(row, "LoginName");
  }
  throw CommandError{"the collection has no user '" + user + "'"};
}

std::unique_ptr<security::frmUser> LoadUser(Run& run, collections::Database& database,
                                            const std::string& user) {
  std::string login = LoginOfUser(database, user);
  auto form = std::make_unique<security::frmUser>(run.Host());
  form->SetNewUser(false);
  form->SetUserName(user);
  form->SetLoginName(login);
  form->SetDatabase(database);
  return form;
}

int UserAdd(Run& run) {
  servers::Server& server = run.session.FindServer(run.Arg(0));
  collections::Database& database = run.session.FindCollection(server, run.Arg(1));
  for (const std::string& value : run.Values("--role"))
    DatabaseRoleIndex(run, Signed(value).second);
  if (!console::MayAddCollectionUser(run.session.ui(), database)) return kExitFailure;
  security::frmUser form(run.Host());
  form.SetNewUser(true);
  form.SetDatabase(database);
  const std::string& login = run.Arg(2);
  bool offered = std::find(form.cmbLoginNameItems.begin(), form.cmbLoginNameItems.end(), login) !=
                 form.cmbLoginNameItems.end();
  if (offered && login != security::kNewLoginEntry)
    form.cmbLoginName_Click(login);
  else
    form.cmbLoginName_Change(login);
  if (auto name = run.invocation.Option("--name")) form.txtDBUsername.text = *name;
  MarkRoleChanges(run, form);
  if (!form.cmdOK_Click()) {
    if (!form.Report().Complete()) PrintReport(run, form.Report());
    return kExitFailure;
  }
  PrintReport(run, form.Report());
  return kExitSuccess;
}

int UserProperties(Run& run) {
  servers::Server& server = run.session.FindServer(run.Arg(0));
  collections::Database& database = run.session.FindCollection(server, run.Arg(1));
  auto form = LoadUser(run, database, run.Arg(2));
  run.out() << "User: " << platform::TerminalSafe(form->UserName()) << "\n"
            << "Login: " << platform::TerminalSafe(form->cmbLoginName.text) << "\n"
            << "Roles:\n";
  for (const auto& role : form->Roles())
    run.out() << "  " << Mark(role.checked) << platform::TerminalSafe(role.text) << "\n";
  return kExitSuccess;
}

int UserSet(Run& run) {
  servers::Server& server = run.session.FindServer(run.Arg(0));
  collections::Database& database = run.session.FindCollection(server, run.Arg(1));
  for (const std::string& value : run.Values("--role"))
    DatabaseRoleIndex(run, Signed(value).second);
  auto form = LoadUser(run, database, run.Arg(2));
  MarkRoleChanges(run, *form);
  if (!form->cmdOK_Click()) {
    if (!form->Report().Complete()) PrintReport(run, form->Report());
    return kExitFailure;
  }
  PrintReport(run, form->Report());
  return kExitSuccess;
}

// ---- collection owner --------------------------------------------------------------------

int CollectionOwner(Run& run) {
  servers::Server& server = run.session.FindServer(run.Arg(0));
  collections::Database& database = run.session.FindCollection(server, run.Arg(1));
  if (!console::MayChangeOwner(run.session.ui(), database)) return kExitFailure;
  security::frmChangeOwner form(run.session.ui());
  form.SetDatabase(database);
  form.SetLoginName(run.Arg(2));
  if (!form.cmdOK_Click()) {
    if (!form.Report().applied.empty()) PrintReport(run, form.Report());
    return kExitFailure;
  }
  PrintReport(run, form.Report());
  return kExitSuccess;
}

template <int (*F)(Run&)>
int Handle(Session& session, const Invocation& invocation, const PasswordReader& read_password) {
  Run run{session, invocation, read_password, {}, {}};
  int result = F(run);
  run.out().flush();
  return result;
}

OptionDefinition Repeatable(std::string name, std::string value_name, std::string help) {
  OptionDefinition option{std::move(name), std::move(value_name), std::move(help)};
  option.repeatable = true;
  return option;
}

VerbDefinition Verb(std::string noun, std::string verb, std::string arguments, size_t count,
                    std::string summary, std::string description,
                    std::vector<OptionDefinition> options = {}) {
  VerbDefinition definition;
  definition.noun = std::move(noun);
  definition.verb = std::move(verb);
  definition.arguments = std::move(arguments);
  definition.min_arguments = count;
  definition.max_arguments = count;
  definition.summary = std::move(summary);
  definition.description = std::move(description);
  definition.options = std::move(options);
  return definition;
}

}  // namespace

void AppendSecurityVerbs(std::vector<VerbDefinition>& verbs) {
  verbs.push_back(
      Verb("login", "add", "SERVER NAME", 2, "add a login, as the Add Login wizard does",
           "Adds a login the way the Add Login wizard does: a Windows account granted (or with\n"
           "--deny denied) access, or a SQL Server login with a password. Each --collection\n"
           "gives it access to that collection with the roles qa_reader, qa_writer and\n"
           "qa_structurer; each --role then makes it a member of that server role. Without\n"
           "--password or --password-file the password is asked twice on the terminal. Needs\n"
           "sysadmin or securityadmin.\n",
           {{"--windows", "", "a Windows account or group (DOMAIN\\name)"},
            {"--sql", "", "a SQL Server login with a password"},
            {"--deny", "", "deny the Windows account access instead of granting it"},
            {"--password", "PW",
             "the SQL Server login's password (visible to other users of the machine)"},
            kPasswordFile,
            Repeatable("--role", "R", "sysadmin, securityadmin or dbcreator; may be repeated"),
            Repeatable("--collection", "C", "a collection to give access to; may be repeated")}));
  verbs.push_back(Verb(
      "login", "properties", "SERVER NAME", 2, "show a login as the Login Properties dialog does",
      "Shows the login's authentication, access, server roles and collections.\n"));
  verbs.push_back(Verb(
      "login", "set", "SERVER NAME", 2, "change a login as the Login Properties dialog does",
      "Changes the login in the dialog's order: access (--grant, --deny), server roles\n"
      "(--role +R adds, --role -R removes), collections (--collection +C gives access with\n"
      "the three collection roles, -C takes it away), then the password (--password asks\n"
      "for it twice on the terminal, --password-file reads it). What was applied and what\n"
      "not is printed; a failure stops the rest and exits with 1. Needs sysadmin or\n"
      "securityadmin.\n",
      {{"--grant", "", "grant the Windows login access"},
       {"--deny", "", "deny the Windows login access"},
       Repeatable("--role", "+R|-R", "add to or remove from a server role; may be repeated"),
       Repeatable("--collection", "+C|-C", "give or take access to a collection; may be repeated"),
       {"--password", "", "set a new password, asked twice on the terminal"},
       kPasswordFile}));
  verbs.push_back(Verb(
      "user", "add", "SERVER COLLECTION LOGIN", 3, "add a login to a collection as a user",
      "Gives the login access to the collection as a user (named like the login unless\n"
      "--name says otherwise) with the roles qa_reader, qa_writer and qa_structurer; --role\n"
      "+R or R adds a role, -R leaves one out. Needs db_owner or db_accessadmin in the\n"
      "collection, or sysadmin.\n",
      {{"--name", "USER", "the user's name in the collection"},
       Repeatable("--role", "[+|-]R", "a collection role to add or leave out; may be repeated")}));
  verbs.push_back(Verb("user", "properties", "SERVER COLLECTION USER", 3,
                       "show a collection user's login and roles",
                       "Shows the user's login and which of the collection roles it holds.\n"));
  verbs.push_back(
      Verb("user", "set", "SERVER COLLECTION USER", 3, "change a collection user's roles",
           "Changes the user's roles: --role +R adds, --role -R removes (qa_reader, qa_writer\n"
           "and qa_structurer depend on each other as in the dialog). Needs db_owner or\n"
           "db_securityadmin in the collection, or sysadmin or securityadmin.\n",
           {Repeatable("--role", "+R|-R", "add or remove a collection role; may be repeated")}));
  verbs.push_back(Verb(
      "collection", "owner", "SERVER COLLECTION LOGIN", 3, "make a login the collection's owner",
      "Makes the login the owner of the collection; a login that already is a user of the\n"
      "collection loses that access first. Needs db_owner in the collection or sysadmin.\n"));
}

SecurityHandler SecurityHandlerFor(std::string_view noun, std::string_view verb) {
  struct Entry {
    const char* noun;
    const char* verb;
    SecurityHandler handler;
  };
  static const Entry kHandlers[] = {
      {"login", "add", Handle<LoginAdd>},
      {"login", "properties", Handle<LoginProperties>},
      {"login", "set", Handle<LoginSet>},
      {"user", "add", Handle<UserAdd>},
      {"user", "properties", Handle<UserProperties>},
      {"user", "set", Handle<UserSet>},
      {"collection", "owner", Handle<CollectionOwner>},
  };
  for (const Entry& entry : kHandlers)
    if (noun == entry.noun && verb == entry.verb) return entry.handler;
  return nullptr;
}

}  // namespace admin_cli
