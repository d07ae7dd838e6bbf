#include "servers/registration_form.h"

#include <cctype>
#include <exception>

#include "common/error.h"
#include "common/messages.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/constants.h"
#include "db/error.h"
#include "platform/network_discovery.h"
#include "platform/network_probe.h"
#include "platform/samba_config.h"

namespace servers {

namespace {

constexpr char kProvider[] = "Provider=SQLOLEDB;Data Source=";

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The text after `key` (found without regard to case) up to the next ";" or the end.
std::string TextAfter(std::string_view text, std::string_view key) {
  size_t at = Lower(text).find(Lower(key));
  if (at == std::string::npos) return std::string();
  size_t start = at + key.size();
  size_t end = text.find(';', start);
  return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

RegistrationLogin ReadAsText(std::string_view connection_string) {
  RegistrationLogin result;
  if (Lower(connection_string).find("integrated security=sspi") != std::string::npos) {
    result.integrated_security = true;
    return result;
  }
  result.login = TextAfter(connection_string, "User id=");
  result.password = TextAfter(connection_string, "Password=");
  return result;
}

std::string DescriptionOf(const std::exception& error) {
  if (const auto* product = dynamic_cast<const common::Error*>(&error)) {
    return product->description();
  }
  return error.what();
}

bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::string BuildRegistrationString(std::string_view server, bool integrated_security,
                                    std::string_view login, std::string_view password) {
  // Values are written bare as long as that reads back unchanged; only values that would end
  // the entry early or lose their blanks are quoted, so a login such as "x;Integrated
  // Security=SSPI" stays one login.
  using db::ConnectionString;
  std::string text = kProvider + ConnectionString::QuoteValue(server) + ";";
  if (integrated_security) return text + "Integrated Security=SSPI;";
  text += "User Id=" + ConnectionString::QuoteValue(login);
  if (!password.empty()) text += ";Password=" + ConnectionString::QuoteValue(password);
  return text + ";";
}

RegistrationLogin ReadRegistrationLogin(std::string_view connection_string) {
  db::ConnectionString parsed;
  try {
    parsed = db::ConnectionString::Parse(connection_string);
  } catch (const std::exception&) {
    // Strings stored before values were quoted may not parse; read them as they were written.
    return ReadAsText(connection_string);
  }
  RegistrationLogin result;
  std::optional<std::string> integrated = parsed.Get("Integrated Security");
  if (integrated && db::IsIntegratedSecurityValue(*integrated)) {
    result.integrated_security = true;
    return result;
  }
  result.login = parsed.Get("User ID").value_or(std::string());
  result.password = parsed.Get("Password").value_or(std::string());
  return result;
}

frmSQLServer::frmSQLServer(Context context, Servers& servers)
    : context_(std::move(context)), servers_(servers) {}

std::string frmSQLServer::Caption() { return common::LoadMessage(kMessageRegistrationCaption); }

void frmSQLServer::SetServer(std::shared_ptr<Server> server) {
  server_ = std::move(server);
  if (!server_) {
    refresh_enabled_ = true;
    return;
  }
  refresh_enabled_ = false;
  server_text_ = server_->Name();
  if (server_text_.empty()) {
    // A registration that never connected has no Name yet; its stored data source is what the
    // administrator registered.
    try {
      server_text_ = db::ConnectionString::Parse(server_->ConnectionString())
                         .Get("Data Source")
                         .value_or(std::string());
    } catch (const std::exception&) {
      server_text_.clear();
    }
  }
  RegistrationLogin login = ReadRegistrationLogin(server_->ConnectionString());
  integrated_security_ = login.integrated_security;
  username_ = login.login;
  password_ = login.password;
}

void frmSQLServer::Form_Activate() {
  if (activated_) return;
  activated_ = true;
  if (server_) return;
  platform::NetworkDiscovery& discovery = context_.services.discovery;
  int status = platform::kJoinStatusUnknown;
  try {
    status = discovery.GetJoinStatus();
  } catch (const std::exception&) {
    return;
  }
  if (status != platform::kJoinStatusWorkgroup && status != platform::kJoinStatusDomain) return;
  try {
    domains_ = discovery.EnumDomains();
  } catch (const std::exception&) {
    // The lists are only suggestions; the administrator can still type the names.
    domains_.clear();
  }
  if (domains_.empty()) return;
  domain_text_ = domains_.front();
  // Selecting the first domain is a choice like any other: it lists that domain's servers.
  cboDomains_Click();
}

void frmSQLServer::cmdRefresh_Click() {
  if (!refresh_enabled_) return;
  platform::BusyCursor busy(context_.services.ui);
  server_list_.clear();
  try {
    server_list_ =
        context_.services.discovery.EnumServers(platform::kServerTypeSqlServer, domain_text_);
  } catch (const std::exception&) {
    server_list_.clear();
  }
}

void frmSQLServer::cboDomains_Click() { cmdRefresh_Click(); }

void frmSQLServer::optIntegratedSecurity_Click() { integrated_security_ = true; }

void frmSQLServer::optServerSecurity_Click() { integrated_security_ = false; }

std::optional<std::string> frmSQLServer::ServerTextProblem() const {
  // Blanks alone name no machine either, and stored they would make a registration nobody can
  // reach.
  if (IsBlank(server_text_)) return std::string(kEmptyServerText);
  return std::nullopt;
}

bool frmSQLServer::MachineAnswers() {
  try {
    return context_.services.network.Echo(MachineName(), kEchoPayload, kEchoTimeoutMs) ==
           platform::kEchoSuccess;
  } catch (const std::exception&) {
    return false;
  }
}

std::string frmSQLServer::BuildConnectionString() const {
  return BuildRegistrationString(server_text_, integrated_security_, username_, password_);
}

void frmSQLServer::ShowInformation(const std::string& text) {
  platform::MessageRequest request;
  request.text = text;
  request.title = kMessageTitle;
  request.icon = platform::MessageIcon::kInformation;
  context_.services.ui.ShowMessage(request);
}

bool frmSQLServer::cmdOK_Click() {
  if (std::optional<std::string> problem = ServerTextProblem()) {
    platform::MessageRequest request;
    request.text = *problem;
    request.title = kMessageTitle;
    context_.services.ui.ShowMessage(request);
    return false;
  }
  connection_string_ = BuildConnectionString();
  if (!server_ && !MachineAnswers()) {
    ShowInformation(common::FormatMessage(kMessageMachineNotAvailable, {server_text_}));
    return false;
  }
  try {
    if (!server_) {
      registered_ = servers_.Add(connection_string_);
    } else {
      server_->SetConnectionString(connection_string_);
    }
  } catch (const std::exception& error) {
    // Storing the registration failed; nothing was registered, so the dialog stays open.
    ShowInformation(DescriptionOf(error));
    return false;
  }
  return true;
}

bool frmSQLServer::cmdTest_Click() {
  if (std::optional<std::string> problem = ServerTextProblem()) {
    ShowInformation(*problem);
    return false;
  }
  connection_string_ = BuildConnectionString();
  if (!MachineAnswers()) {
    ShowInformation(common::FormatMessage(kMessageMachineNotAvailable, {server_text_}));
    return false;
  }
  bool opened = false;
  std::string failure;
  try {
    db::Connection connection(context_.database);
    connection.SetConnectionString(connection_string_);
    connection.Open();
    opened = connection.State() == db::kStateOpen;
    // The test only proves the login; the registration keeps its own connection.
    if (opened) connection.Close();
  } catch (const std::exception& error) {
    const auto* product = dynamic_cast<const common::Error*>(&error);
    if (product && product->number() == db::kErrorAuthenticationFailed) {
      failure = common::FormatMessage(kMessageAuthenticationFailed, {product->description()});
    } else {
      failure = common::LoadMessage(kMessageConnectionFailed) + '\r' + DescriptionOf(error);
    }
  }
  if (opened) {
    ShowInformation(common::LoadMessage(kMessageConnectionEstablished));
    return true;
  }
  if (!failure.empty()) ShowInformation(failure);
  return false;
}

}  // namespace servers
