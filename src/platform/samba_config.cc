#include "platform/samba_config.h"

#include "platform/config_file.h"

namespace platform {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

SambaConfig FromSections(const std::vector<ConfigSection>& sections) {
  SambaConfig config;
  for (const auto& section : sections) {
    // Parameters outside any section count as global, as Samba reads them.
    if (!section.name.empty() && !EqualsNoCase(section.name, "global")) continue;
    if (auto v = section.Get("workgroup")) config.workgroup = *v;
    if (auto v = section.Get("realm")) config.realm = *v;
    if (auto v = section.Get("security")) config.security = Lower(*v);
    if (auto v = section.Get("server role")) config.server_role = Lower(*v);
    if (auto v = section.Get("password server")) config.password_server = *v;
    if (auto v = section.Get("netbios name")) config.netbios_name = *v;
  }
  return config;
}

}  // namespace

int SambaConfig::JoinStatus() const {
  if (security == "ads" || security == "domain") return kJoinStatusDomain;
  if (server_role.find("domain controller") != std::string::npos ||
      server_role.find("member server") != std::string::npos) {
    return kJoinStatusDomain;
  }
  return kJoinStatusWorkgroup;
}

std::string SambaConfig::JoinName() const {
  if (!workgroup.empty()) return ToUpperAscii(workgroup);
  if (!realm.empty()) return ToUpperAscii(realm.substr(0, realm.find('.')));
  return "WORKGROUP";
}

std::string SambaConfig::DomainController() const {
  // A list of servers separated by commas or spaces; "*" means "look it up", which we do not.
  size_t end = password_server.find_first_of(", \t");
  std::string first = password_server.substr(0, end);
  return first == "*" ? std::string() : first;
}

SambaConfig ParseSambaConfig(std::string_view text) { return FromSections(ParseConfig(text)); }

std::optional<SambaConfig> ReadSambaConfig(const std::filesystem::path& path) {
  auto sections = ReadConfigFile(path);
  if (!sections) return std::nullopt;
  return FromSections(*sections);
}

}  // namespace platform
