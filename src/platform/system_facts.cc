#include "platform/system_facts.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>

#include "common/system.h"
#include "platform/config_file.h"
#include "platform/local_machine.h"

namespace platform {

std::string LinuxSystemFacts::ComputerName() {
  if (auto name = environment_.Get("COMPUTERNAME"); name && !name->empty()) return *name;
  std::string host = LocalMachine::HostName();
  host = host.substr(0, host.find('.'));
  return host.empty() ? "LOCALHOST" : ToUpperAscii(host);
}

std::string LinuxSystemFacts::TempFolder() {
  std::string folder = GetOrEmpty(environment_, "TMPDIR");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

int LinuxSystemFacts::LogicalPixelsPerInch() {
  if (dpi_ > 0) return dpi_;
  std::string text = GetOrEmpty(environment_, "QT_FONT_DPI");
  int dpi = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), dpi);
  if (error == std::errc() && end == text.data() + text.size() && dpi > 0 && dpi <= 2000) {
    return dpi;
  }
  return 96;
}

std::string LinuxSystemFacts::UserName() {
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_name != nullptr) {
    return found->pw_name;
  }
  for (const char* name : {"USER", "LOGNAME"}) {
    if (auto user = environment_.Get(name); user && !user->empty()) return *user;
  }
  return std::string();
}

int LinuxSystemFacts::AnsiCodePage() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    if (auto locale = environment_.Get(name); locale && !locale->empty()) {
      return common::AnsiCodePageForLocale(*locale);
    }
  }
  return common::AnsiCodePageForLocale("C");
}

}  // namespace platform
