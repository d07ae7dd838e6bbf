// The logic of frmSQLServer, the dialog that registers a SQL Server or edits the login data of a
// registered one: the form's state, the connection string it builds, the machine check, OK and
// Test. No toolkit here; the desktop dialog binds its controls to it and the command line drives
// it directly.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "servers/context.h"
#include "servers/server.h"
#include "servers/servers.h"

namespace servers {

// Captions and messages of the dialog.
inline constexpr int kMessageRegistrationCaption = 225;
inline constexpr int kMessageMachineNotAvailable = 211;
inline constexpr int kMessageConnectionEstablished = 212;
inline constexpr int kMessageConnectionFailed = 213;
inline constexpr int kMessageAuthenticationFailed = 214;
// Shown, without title or icon, when OK finds no server text.
inline constexpr char kEmptyServerText[] = "Please enter a server name or IP-Address";

// The login data a connection string carries.
struct RegistrationLogin {
  bool integrated_security = false;
  std::string login;
  std::string password;
  friend bool operator==(const RegistrationLogin&, const RegistrationLogin&) = default;
};

// The connection string of a registration:
//   "Provider=SQLOLEDB;Data Source=" + server + ";" + "Integrated Security=SSPI;"
//   "Provider=SQLOLEDB;Data Source=" + server + ";" + "User Id=" + login + [";Password=" +
//   password] + ";"
// (the password part only when the password is not empty). Server, login and password are
// written as given, except that a value holding ";" or a quote, or beginning with "=" or a blank
// or ending with a blank, is quoted so that it cannot add keys of its own to the string.
std::string BuildRegistrationString(std::string_view server, bool integrated_security,
                                    std::string_view login, std::string_view password);

// Reads the login data back from a stored connection string: integrated security when its
// "Integrated Security" asks for Windows authentication; otherwise the "User Id" and "Password"
// values (keys without regard to case, quoted values unquoted). A string that does not parse is
// read as text: integrated when it contains "Integrated Security=SSPI" (any case), else the text
// after "User id=" and after "Password=", each up to the next ";" or the end.
RegistrationLogin ReadRegistrationLogin(std::string_view connection_string);

// The form state and handlers of frmSQLServer. Messages are shown through the context's user
// interface; handlers never throw.
class frmSQLServer {
 public:
  // `servers` receives new registrations; it must outlive the form.
  frmSQLServer(Context context, Servers& servers);

  // Hands the form a registration to edit (before it is shown): the server text becomes its
  // Name, Refresh is disabled and the login data are read back from its ConnectionString.
  void SetServer(std::shared_ptr<Server> server);
  const std::shared_ptr<Server>& GetServer() const { return server_; }

  // Window caption (message 225).
  static std::string Caption();

  // First activation of a new registration: on a machine in a workgroup or domain (join status
  // 2 or 3) the domains fill cboDomains and the first is selected. Later activations, and
  // activations while editing, do nothing. A failing enumeration leaves the list empty.
  void Form_Activate();
  // Refresh (also run when a domain is chosen): the SQL Servers announced in the domain text
  // replace the server list, under the busy cursor. A failing enumeration leaves it empty.
  void cmdRefresh_Click();
  void cboDomains_Click();

  // The option buttons: integrated security disables the login and password boxes, SQL Server
  // authentication enables them.
  void optIntegratedSecurity_Click();
  void optServerSecurity_Click();

  // OK: checks the server text and (new registrations only) the machine, then registers through
  // Servers.Add or assigns the existing registration's ConnectionString. True when the dialog
  // closes; false when a message was shown and it stays open. A failure to store the
  // registration shows the error's description and keeps the dialog open.
  bool cmdOK_Click();
  // Test: the server text check and the machine check as for OK, then a connection of its own
  // with the built string, closed again; reports 212, 214 (authentication failed) or 213 + CR +
  // description. True when the connection opened.
  bool cmdTest_Click();

  // The message OK would show for the server text, or nothing when it is acceptable.
  std::optional<std::string> ServerTextProblem() const;
  // The machine the server text runs on: the text before the first backslash when that stands
  // at position 2 or later, else the whole text.
  std::string MachineName() const { return MachineNameOf(server_text_); }
  // Sends one echo ("Echo this") to the machine; true when it answers.
  bool MachineAnswers();
  // The connection string for the current state.
  std::string BuildConnectionString() const;
  // The string built by the last OK or Test; empty before.
  const std::string& LastConnectionString() const { return connection_string_; }

  // Control state.
  const std::vector<std::string>& Domains() const { return domains_; }
  const std::string& DomainText() const { return domain_text_; }
  void SetDomainText(std::string_view text) { domain_text_ = text; }
  const std::vector<std::string>& ServerList() const { return server_list_; }
  const std::string& ServerText() const { return server_text_; }
  void SetServerText(std::string_view text) { server_text_ = text; }
  bool IntegratedSecurity() const { return integrated_security_; }
  const std::string& Username() const { return username_; }
  void SetUsername(std::string_view text) { username_ = text; }
  const std::string& Password() const { return password_; }
  void SetPassword(std::string_view text) { password_ = text; }
  bool UsernameEnabled() const { return !integrated_security_; }
  bool PasswordEnabled() const { return !integrated_security_; }
  bool RefreshEnabled() const { return refresh_enabled_; }

  // The registration OK added (nullptr when editing, before OK, or when Servers.Add could not
  // connect it: it is stored all the same and listed at the next load).
  const std::shared_ptr<Server>& Registered() const { return registered_; }

 private:
  void ShowInformation(const std::string& text);

  Context context_;
  Servers& servers_;
  std::shared_ptr<Server> server_;
  std::shared_ptr<Server> registered_;
  bool activated_ = false;
  std::vector<std::string> domains_;
  std::string domain_text_;
  std::vector<std::string> server_list_;
  std::string server_text_;
  // A new registration starts with Windows authentication, as the dialog's default option.
  bool integrated_security_ = true;
  std::string username_;
  std::string password_;
  bool refresh_enabled_ = true;
  std::string connection_string_;
};

}  // namespace servers
