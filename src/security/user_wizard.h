// The logic of frmUserWizard, the "Add Login Wizard": five pages that create a server login (a
// Windows account granted or denied, or a SQL Server login with a password) and give it access to
// chosen collections with the three collection roles. Nothing is sent before Next on page 4.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "security/login_form.h"
#include "security/statements.h"
#include "servers/server.h"

namespace security {

inline constexpr int kWizardWelcome = 1;
inline constexpr int kWizardAuthentication = 2;
inline constexpr int kWizardAccount = 3;
inline constexpr int kWizardCollections = 4;
inline constexpr int kWizardResult = 5;

inline constexpr int kMessageWizardCaption = 260;
inline constexpr int kMessageNoWindowsAuthentication = 245;
inline constexpr int kMessageNoSqlAuthentication = 246;
inline constexpr int kMessageTypeALoginName = 253;
inline constexpr int kMessagePasswordNotConfirmed = 254;
inline constexpr int kMessageUserAdded = 259;

class frmUserWizard {
 public:
  explicit frmUserWizard(DialogHost host);

  // Binds the wizard's command to the server's connection.
  void SetServer(servers::Server& server);

  static std::string Caption();  // 260

  // Controls.
  ControlState optWindowsAuthentication;
  ControlState optSQLServerAuthentication;
  ControlState txtLoginName;
  ControlState cmdPickLoginName;
  ControlState optGrantLogin;
  ControlState optDenyLogin;
  ControlState txtPassword;
  ControlState txtPassword2;
  struct ListEntry {
    std::string text;
    bool checked = false;
  };
  std::vector<ListEntry> lstDatabases;

  int CurrentPage() const { return page_; }
  bool BackEnabled() const { return back_enabled_; }
  bool CancelEnabled() const { return cancel_enabled_; }
  // "Next >", or "Close" on the result page.
  std::string NextCaption() const;
  // Page 3's header, subheader and explanation for the chosen authentication.
  std::string AccountHeader() const;
  std::string AccountSubheader() const;
  std::string AccountExplanation() const;
  // The welcome panel: 305 and 261 on page 1, 258 and 259 on the result page.
  std::string WelcomeTitle() const;
  std::string WelcomeText() const;
  bool WelcomeHintVisible() const { return page_ != kWizardResult; }
  const ValidationBalloon& Balloon() const { return balloon_; }
  ValidationBalloon& Balloon() { return balloon_; }
  bool Closed() const { return closed_; }
  // What the last Next on page 4 applied.
  const ChangeReport& Report() const { return report_; }

  void optWindowsAuthentication_Click() { Choose(true); }
  void optSQLServerAuthentication_Click() { Choose(false); }
  void optGrantLogin_Click();
  void optDenyLogin_Click();
  void cmdWeiter_Click();
  void cmdZur_ck_Click();
  // Closes the wizard unless a balloon is shown. True when closed.
  bool cmdAbbrechen_Click();
  // Browse: message 116 on Windows 95/98/Me, else the account picker.
  void cmdPickLoginName_Click();

 private:
  void Choose(bool windows);
  void SetUpAccountPage();
  void LeaveAccountPage();
  void Apply();

  DialogHost host_;
  servers::Server* server_ = nullptr;
  db::Command command_;
  int page_ = kWizardWelcome;
  bool back_enabled_ = false;
  bool cancel_enabled_ = true;
  bool closed_ = false;
  std::string added_login_;
  // What an earlier Next on page 4 applied before a later statement failed: not sent again.
  std::string applied_name_;
  bool login_created_ = false;
  std::vector<std::string> granted_collections_;
  ValidationBalloon balloon_;
  ChangeReport report_;
};

}  // namespace security
