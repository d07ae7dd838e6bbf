// tessera-admin demo: a sandbox instance with collections of the current and of older formats,
// logins of both kinds with different server roles, collection users and a full-text index,
// registered so that every command has something to work on.
#include <filesystem>
#include <string>
#include <vector>

#include "app/admin_cli/commands.h"
#include "app/admin_cli/table.h"
#include "collections/databases.h"
#include "db/connection.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "format/older_layouts.h"
#include "platform/terminal_user_interface.h"
#include "sandbox/server_info.h"
#include "servers/registration_form.h"

namespace admin_cli {

namespace {

namespace fs = std::filesystem;

constexpr char kInstance[] = "DEMO";
constexpr char kDataSource[] = "(sandbox)\\DEMO";
constexpr char kDataFolder[] = "C:\\Data";
// Every SQL Server login of the demonstration has this password.
constexpr char kPassword[] = "tessera";

struct DemoLogin {
  std::string name;
  bool windows = false;
  std::string server_role;  // empty: none
  bool denied = false;
  std::string about;
};

struct DemoUser {
  std::string collection;
  std::string login;
  std::vector<std::string> roles;
};

struct OlderCollection {
  std::string name;
  format::OlderLayout layout;
  int documents;
  std::string guid;
};

std::vector<DemoLogin> Logins(const std::string& machine) {
  return {
      {"archive_admin", false, "sysadmin", false, "administers everything"},
      {"creator", false, "dbcreator", false, "creates, attaches and deletes collections"},
      {"security", false, "securityadmin", false, "manages logins"},
      {"reader", false, "", false, "no server role: refused every administrative command"},
      {machine + "\\maria", true, "dbcreator", false, "Windows user, db_owner in Archive"},
      {machine + "\\peter", true, "", false, "Windows user, writer in Archive"},
      {"BUILTIN\\Users", true, "", false, "Windows group"},
      {machine + "\\former", true, "", true, "Windows user whose login is denied"},
  };
}

std::vector<DemoUser> Users(const std::string& machine) {
  // Each SQL Server login of the demonstration is a user of each collection, so each lists all
  // of them (a login lists only the collections it may open).
  std::vector<DemoUser> users;
  for (const char* collection : {"Archive", "Projects", "Letters", "Contracts", "Minutes"}) {
    std::string name = collection;
    users.push_back({name, "reader", {"qa_reader"}});
    users.push_back({name, "security", {"qa_reader"}});
    users.push_back({name, "creator",
                     name == "Projects" ? std::vector<std::string>{"db_owner"}
                                        : std::vector<std::string>{"qa_reader", "qa_writer"}});
  }
  users.push_back({"Archive", machine + "\\maria", {"db_owner"}});
  users.push_back({"Archive", machine + "\\peter", {"qa_writer", "qa_structurer"}});
  return users;
}

std::vector<OlderCollection> OlderCollections() {
  return {
      {"Letters", format::OlderLayout::k150, 16, "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"},
      {"Contracts", format::OlderLayout::k155, 8, "{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809}"},
      {"Minutes", format::OlderLayout::k141, 8, "{2B3C4D5E-6F70-8192-A3B4-C5D6E7F8091A}"},
  };
}

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string AdminString() { return servers::BuildRegistrationString(kDataSource, true, "", ""); }

db::Connection OpenAs(Session& session, const std::string& catalog) {
  db::Connection connection(session.environment());
  std::string text = AdminString();
  if (!catalog.empty()) text += "Initial Catalog=" + catalog + ";";
  connection.SetConnectionString(text);
  connection.Open();
  return connection;
}

// The demonstration starts afresh every time: the old instance's folder goes, with every
// collection in it. Only a folder that is an instance is removed.
void RemoveOldInstance(Session& session) {
  fs::path folder = session.sandbox_root() / kInstance;
  std::error_code ec;
  if (!fs::is_regular_file(folder / "instance.conf", ec)) return;
  fs::remove_all(folder, ec);
  if (ec) {
    throw CommandError{"the old demonstration instance in " + folder.string() +
                       " cannot be removed: " + ec.message()};
  }
  session.io().err << "Removed the previous demonstration instance.\n";
}

void BuildOlder(Session& session, db::Connection& master, const OlderCollection& older) {
  std::string database = "Quillarchive_" + older.name;
  master.Execute("CREATE DATABASE " + database + " ON ( NAME = " + database + ", FILENAME = " +
                 Quoted(std::string(kDataFolder) + "\\" + older.name + ".mdf") + ")");
  db::Connection collection = OpenAs(session, database);
  format::SampleOptions options;
  options.document_count = older.documents;
  options.collection_guid = older.guid;
  format::BuildOlderCollection(collection, older.layout, options);
  collection.Close();
}

}  // namespace

int RunDemo(Session& session, const std::string& product_version) {
  std::ostream& err = session.io().err;
  if (!sandbox::IsProductVersion(product_version)) {
    throw CommandError{"'" + product_version.substr(0, 64) +
                       "' is not a product version such as 8.00.2039 or 15.00.2000"};
  }
  RemoveOldInstance(session);

  sandbox::InstanceConfig config;
  config.product_version = product_version;
  config.product_level = sandbox::ProductLevelOf(product_version);
  config.platform = sandbox::PlatformOf(product_version);
  config.login_mode = sandbox::LoginMode::kMixed;
  config.full_text_installed = true;
  config.creator = db::LocalUserName();
  std::shared_ptr<sandbox::Instance> instance = session.sandbox_host()->Create(kInstance, config);
  fs::create_directories(instance->MapPath(kDataFolder));
  // The instance's own folders are the owner's alone; the data folder made here is no exception.
  fs::permissions(instance->MapPath(kDataFolder), fs::perms::owner_all, fs::perm_options::replace);
  const std::string machine = instance->config().machine_name;
  err << "Created the sandbox instance " << kDataSource << " in " << instance->directory().string()
      << ".\n";

  db::Connection master = OpenAs(session, "");
  for (const OlderCollection& older : OlderCollections()) {
    err << "Building the collection " << older.name << " at format "
        << format::LayoutVersion(older.layout) << "...\n";
    BuildOlder(session, master, older);
  }

  for (const DemoLogin& login : Logins(machine)) {
    if (login.windows) {
      master.Execute((login.denied ? "EXEC sp_denylogin " : "EXEC sp_grantlogin ") +
                     Quoted(login.name));
    } else {
      master.Execute("EXEC sp_addlogin " + Quoted(login.name) + ", " + Quoted(kPassword));
    }
    if (!login.server_role.empty()) {
      master.Execute("EXEC sp_addsrvrolemember " + Quoted(login.name) + ", " +
                     Quoted(login.server_role));
    }
  }

  // The registration: the local account, through Windows authentication, is sysadmin.
  servers::Servers& list = session.Servers();
  std::shared_ptr<servers::Server> server = list.Add(AdminString());
  if (!server || !server->Connected()) {
    throw CommandError{"the demonstration server could not be connected" +
                       (server ? ": " + server->Description() : std::string())};
  }
  auto& catalogue = dynamic_cast<collections::Databases&>(server->Databases());
  for (const char* name : {"Archive", "Projects"}) {
    err << "Creating the collection " << name << " at format 1.61...\n";
    std::string file = std::string(kDataFolder) + "\\" + name + ".mdf";
    if (!catalogue.AddNew(name, file)) {
      throw CommandError{std::string("the collection ") + name + " could not be created"};
    }
  }
  // New collections get a full-text index; one without shows what creating one does.
  for (const auto& database : catalogue) {
    if (database->Name() == "Projects") database->DoFullTextAction("drop");
  }

  for (const DemoUser& user : Users(machine)) {
    db::Connection collection = OpenAs(session, "Quillarchive_" + user.collection);
    collection.Execute("EXEC sp_grantdbaccess " + Quoted(user.login));
    for (const std::string& role : user.roles) {
      collection.Execute("EXEC sp_addrolemember " + Quoted(role) + ", " + Quoted(user.login));
    }
    collection.Close();
  }
  master.Close();

  std::ostream& out = session.io().out;
  bool tsv = session.options().tsv;
  if (!tsv) {
    out << "The demonstration server " << kDataSource << " is registered as ServerID "
        << server->ServerID() << "; you are its administrator (" << server->CurrentUser()
        << ", Windows authentication).\n\nCollections:\n";
  }
  Table collections_table;
  collections_table.columns = {"Name", "Format", "Contents"};
  collections_table.AddRow({"Archive", "1.61", "current format, with a full-text index"});
  collections_table.AddRow({"Projects", "1.61", "current format, no full-text index"});
  collections_table.AddRow({"Letters", "1.50", "HTML, text and .mht documents without plain text"});
  collections_table.AddRow({"Contracts", "1.55", "older format"});
  collections_table.AddRow({"Minutes", "1.41", "older format"});
  PrintTable(out, collections_table, tsv);
  if (!tsv) out << "\nLogins (SQL Server logins have the password '" << kPassword << "'):\n";
  Table logins_table;
  logins_table.columns = {"Login", "Kind", "Server role", "What for"};
  for (const DemoLogin& login : Logins(machine)) {
    logins_table.AddRow(
        {login.name, login.windows ? "Windows" : "SQL Server", login.server_role, login.about});
  }
  PrintTable(out, logins_table, tsv);
  if (!tsv) {
    // By ServerID: once the reader is registered too, the data source names two registrations.
    std::string id = std::to_string(server->ServerID());
    out << "\nTry:\n"
        << "  tessera-admin collection list " << id << "\n"
        << "  tessera-admin check            # offers the upgrades of the old collections\n"
        << "  tessera-admin user list " << id << " Archive\n"
        << "To see the refusals of a login without roles, register it as well (the data\n"
        << "source is then registered twice; name each registration by its ServerID):\n"
        << "  tessera-admin server add '" << kDataSource << "' --login reader --password "
        << kPassword << "\n";
  }
  out.flush();
  return kExitSuccess;
}

}  // namespace admin_cli
