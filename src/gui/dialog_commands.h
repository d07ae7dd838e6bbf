// The console commands that open a dialog or wizard: each checks the permission the command asks
// for, prepares the form model as the command does, shows the Qt view modally and reports an
// error with the command's introduction. The window brings its tree and lists up to date
// afterwards from what each returns.
#pragma once

#include <QWidget>
#include <string>

#include "collections/database.h"
#include "platform/user_interface.h"
#include "security/statements.h"
#include "servers/server.h"

namespace gui {

class DialogCommands {
 public:
  // `ui` must outlive this; dialogs are owned by `owner`.
  DialogCommands(platform::UserInterface& ui, QWidget* owner) : ui_(ui), owner_(owner) {}

  // Create New Network Collection / Open Network Collection on the server's catalogue: the
  // collection the catalogue listed last when its count changed, else nullptr.
  collections::Database* NewCollection(servers::Server& server);
  collections::Database* OpenCollection(servers::Server& server);
  // Change Owner... of a collection. True when the owner was changed.
  bool ChangeOwner(collections::Database& database);
  // New Login... on the server (the Add Login wizard).
  void AddLogin(servers::Server& server);
  // Properties of a login row.
  void LoginProperties(servers::Server& server, const std::string& login);
  // New User... of a collection, and Properties of a user row.
  void NewUser(collections::Database& database);
  void UserProperties(collections::Database& database, const std::string& user,
                      const std::string& login);

 private:
  platform::UserInterface& ui_;
  QWidget* owner_;
  // The last new login name, handed from the new-login dialog to the user dialog.
  security::ApplicationState state_;
};

}  // namespace gui
