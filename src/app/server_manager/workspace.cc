#include "app/server_manager/workspace.h"

#include <cstdlib>
#include <sstream>
#include <system_error>

#include "app/admin_cli/commands.h"
#include "app/admin_cli/session.h"
#include "collections/databases.h"
#include "db/drivers/odbc/odbc_driver.h"
#include "db/drivers/sandbox/sandbox_driver.h"
#include "servers/registration_form.h"

namespace server_manager {

namespace {

constexpr char kDemoInstance[] = "DEMO";
constexpr char kDemoDataSource[] = "(sandbox)\\DEMO";

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

}  // namespace

Workspace::Workspace(platform::UserInterface& ui)
    : platform_(platform::LinuxPlatform::Options{}, &ui),
      sandbox_root_(sandbox::DefaultRoot()),
      host_(sandbox::OpenHost(sandbox_root_)),
      environment_(MakeEnvironment(host_)),
      sandbox_services_(host_, sandbox_root_) {
  sandbox_services_.Attach(platform_.service_control(), platform_.discovery());
}

Workspace::~Workspace() {
  // The registrations close their connections while the drivers are still there.
  servers_.reset();
}

servers::Context Workspace::ServerContext() {
  collections::Context collection_context{platform_.services(), environment_, {}, {}};
  return servers::Context{platform_.services(), environment_,
                          collections::MakeCatalogueFactory(collection_context)};
}

servers::Servers& Workspace::Servers(servers::ConnectAtLoad connect) {
  if (!servers_) servers_ = std::make_unique<servers::Servers>(ServerContext(), connect);
  return *servers_;
}

std::string PrepareDemo() {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  try {
    admin_cli::Session session(admin_cli::Io{in, out, err}, admin_cli::GlobalOptions{});
    std::error_code ec;
    if (std::filesystem::is_regular_file(session.sandbox_root() / kDemoInstance / "instance.conf",
                                         ec)) {
      // Registering again returns the registration there is, so this only adds a missing one.
      session.Servers().Add(servers::BuildRegistrationString(kDemoDataSource, true, "", ""));
      return {};
    }
    if (admin_cli::RunDemo(session) == admin_cli::kExitSuccess) return {};
    return err.str();
  } catch (const admin_cli::CommandError& error) {
    return error.text;
  } catch (const std::exception& error) {
    return error.what();
  }
}

}  // namespace server_manager
