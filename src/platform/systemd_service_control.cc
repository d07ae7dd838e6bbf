#include "platform/systemd_service_control.h"

#include "platform/config_file.h"
#include "platform/program_runner.h"

namespace platform {

SystemdServiceControl::SystemdServiceControl(const Environment& environment, Options options)
    : local_(environment), options_(std::move(options)) {}

bool SystemdServiceControl::Handles(std::string_view data_source) {
  data_source = StripLeadingBackslashes(data_source);
  size_t slash = data_source.find('\\');
  std::string_view machine = data_source.substr(0, slash);
  std::string_view instance =
      slash == std::string_view::npos ? std::string_view() : data_source.substr(slash + 1);
  machine = machine.substr(0, machine.find(','));
  if (!instance.empty() && !EqualsNoCase(instance, "MSSQLSERVER")) return false;
  return local_.IsLocal(machine);
}

int ServiceStateOfUnit(std::string_view load_state, std::string_view active_state) {
  if (load_state != "loaded") return kServiceUnknown;
  if (active_state == "active" || active_state == "reloading") return kServiceRunning;
  if (active_state == "activating") return kServiceStartPending;
  if (active_state == "deactivating") return kServiceStopPending;
  if (active_state == "inactive" || active_state == "failed") return kServiceStopped;
  return kServiceUnknown;
}

int SystemdServiceControl::Status(std::string_view data_source) {
  if (!Handles(data_source)) return kServiceUnknown;
  std::string output;
  if (Run({"show", "--property=LoadState", "--property=ActiveState", "--", options_.unit},
          &output) != 0) {
    return kServiceUnknown;
  }
  std::string load_state, active_state;
  for (const auto& section : ParseConfig(output)) {
    if (auto v = section.Get("LoadState")) load_state = *v;
    if (auto v = section.Get("ActiveState")) active_state = *v;
  }
  return ServiceStateOfUnit(load_state, active_state);
}

bool SystemdServiceControl::Start(std::string_view data_source) {
  std::string output;
  return Handles(data_source) && Run({"--no-block", "start", "--", options_.unit}, &output) == 0;
}

bool SystemdServiceControl::Stop(std::string_view data_source) {
  std::string output;
  return Handles(data_source) && Run({"--no-block", "stop", "--", options_.unit}, &output) == 0;
}

int SystemdServiceControl::Run(const std::vector<std::string>& arguments, std::string* output) {
  return RunProgram(options_.systemctl, arguments, options_.timeout_ms, output);
}

}  // namespace platform
