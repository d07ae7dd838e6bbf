#include "gui/dialog_commands.h"

#include "collections/databases.h"
#include "common/messages.h"
#include "console/commands.h"
#include "gui/account_picker.h"
#include "gui/add_login_wizard.h"
#include "gui/change_owner_dialog.h"
#include "gui/collection_user_dialog.h"
#include "gui/login_properties_dialog.h"
#include "gui/new_collection_wizard.h"
#include "gui/open_collection_dialog.h"

namespace gui {

namespace {

// Error introductions of the commands.
constexpr int kIntroChangeOwner = 41;
constexpr int kIntroGrantLogin = 50;
constexpr int kIntroLoginProperties = 51;
constexpr int kIntroNewUser = 54;
constexpr int kIntroOpenCollection = 56;
constexpr int kIntroUserProperties = 69;

collections::Databases& CatalogueOf(servers::Server& server) {
  return dynamic_cast<collections::Databases&>(server.Databases());
}

// The catalogue's last collection when its count moved from `before`.
collections::Database* Added(collections::Databases& catalogue, int before) {
  if (catalogue.Count() == before || catalogue.Count() == 0) return nullptr;
  return catalogue.Item(catalogue.Count()).get();
}

}  // namespace

collections::Database* DialogCommands::NewCollection(servers::Server& server) {
  // The creation reports its own failures; this command catches nothing else.
  if (!console::MayCreateCollection(ui_, server)) return nullptr;
  collections::Databases& catalogue = CatalogueOf(server);
  const int before = catalogue.Count();
  NewCollectionWizard wizard(ui_, catalogue, owner_);
  wizard.exec();
  return Added(catalogue, before);
}

collections::Database* DialogCommands::OpenCollection(servers::Server& server) {
  try {
    if (!console::MayAttachCollection(ui_, server)) return nullptr;
    collections::Databases& catalogue = CatalogueOf(server);
    const int before = catalogue.Count();
    OpenCollectionDialog dialog(ui_, catalogue, owner_);
    dialog.exec();
    return Added(catalogue, before);
  } catch (const std::exception& error) {
    console::ReportError(ui_, common::LoadMessage(kIntroOpenCollection), error);
    return nullptr;
  }
}

bool DialogCommands::ChangeOwner(collections::Database& database) {
  try {
    if (!console::MayChangeOwner(ui_, database)) return false;
    security::frmChangeOwner form(ui_);
    form.SetDatabase(database);
    ChangeOwnerDialog dialog(form, owner_);
    return dialog.exec() == QDialog::Accepted;
  } catch (const std::exception& error) {
    console::ReportError(ui_, common::LoadMessage(kIntroChangeOwner), error);
    return false;
  }
}

void DialogCommands::AddLogin(servers::Server& server) {
  try {
    if (!console::MayGrantLogin(ui_, server)) return;
    std::unique_ptr<security::AccountLookup> accounts =
        security::AccountLookupFor(server, security::SystemProgramRunner());
    PickerUserInterface ui(ui_, *accounts, owner_);
    security::frmUserWizard form({ui, *accounts, state_, {}});
    form.SetServer(server);
    AddLoginWizard wizard(form, owner_);
    ui.SetOwner(&wizard);
    wizard.exec();
  } catch (const std::exception& error) {
    console::ReportError(ui_, common::LoadMessage(kIntroGrantLogin), error);
  }
}

void DialogCommands::LoginProperties(servers::Server& server, const std::string& login) {
  try {
    std::unique_ptr<security::AccountLookup> accounts =
        security::AccountLookupFor(server, security::SystemProgramRunner());
    PickerUserInterface ui(ui_, *accounts, owner_);
    security::frmLogin form({ui, *accounts, state_, {}});
    form.SetNewLogin(false);
    form.SetServer(server);
    form.SetLoginName(login);
    LoginPropertiesDialog dialog(form, ui, owner_);
    ui.SetOwner(&dialog);
    dialog.exec();
  } catch (const std::exception& error) {
    console::ReportError(ui_, common::LoadMessage(kIntroLoginProperties), error);
  }
}

void DialogCommands::NewUser(collections::Database& database) {
  try {
    if (!console::MayAddCollectionUser(ui_, database)) return;
    servers::Server* server = database.Server();
    if (!server) return;
    std::unique_ptr<security::AccountLookup> accounts =
        security::AccountLookupFor(*server, security::SystemProgramRunner());
    PickerUserInterface ui(ui_, *accounts, owner_);
    security::frmUser form({ui, *accounts, state_, {}});
    form.SetCaption(common::LoadMessage(security::kMessageNewUserCaption));
    form.SetNewUser(true);
    form.SetDatabase(database);
    CollectionUserDialog dialog(form, ui, owner_);
    ui.SetOwner(&dialog);
    dialog.exec();
  } catch (const std::exception& error) {
    console::ReportError(ui_, common::LoadMessage(kIntroNewUser), error);
  }
}

void DialogCommands::UserProperties(collections::Database& database, const std::string& user,
                                    const std::string& login) {
  try {
    servers::Server* server = database.Server();
    if (!server) return;
    std::unique_ptr<security::AccountLookup> accounts =
        security::AccountLookupFor(*server, security::SystemProgramRunner());
    PickerUserInterface ui(ui_, *accounts, owner_);
    security::frmUser form({ui, *accounts, state_, {}});
    form.SetNewUser(false);
    form.SetUserName(user);
    form.SetLoginName(login);
    form.SetDatabase(database);
    CollectionUserDialog dialog(form, ui, owner_);
    ui.SetOwner(&dialog);
    dialog.exec();
  } catch (const std::exception& error) {
    console::ReportError(ui_, common::LoadMessage(kIntroUserProperties), error,
                         platform::MessageIcon::kCritical);
  }
}

}  // namespace gui
