// Facts about the machine and the session the product asks for.
#pragma once

#include <string>

#include "platform/environment.h"

namespace platform {

class SystemFacts {
 public:
  virtual ~SystemFacts() = default;
  // The machine's name as Windows shows it: COMPUTERNAME, else the host name without its domain,
  // in upper case.
  virtual std::string ComputerName() = 0;
  // The folder for temporary files, ending in "/".
  virtual std::string TempFolder() = 0;
  // The screen's logical pixels per inch; 96 when unknown.
  virtual int LogicalPixelsPerInch() = 0;
  // The name of the user running the program.
  virtual std::string UserName() = 0;
  // The ANSI code page a Windows machine with this locale would use.
  virtual int AnsiCodePage() = 0;
};

class LinuxSystemFacts : public SystemFacts {
 public:
  explicit LinuxSystemFacts(const Environment& environment) : environment_(environment) {}

  // The desktop console sets what the screen reports; until then QT_FONT_DPI, else 96.
  void SetLogicalPixelsPerInch(int dpi) { dpi_ = dpi; }

  std::string ComputerName() override;
  std::string TempFolder() override;
  int LogicalPixelsPerInch() override;
  std::string UserName() override;
  int AnsiCodePage() override;

 private:
  const Environment& environment_;
  int dpi_ = 0;
};

// Facts for tests, set directly.
class FakeSystemFacts : public SystemFacts {
 public:
  std::string computer_name = "ARCHIVEPC";
  std::string temp_folder = "/tmp/";
  int logical_pixels_per_inch = 96;
  std::string user_name = "tester";
  int ansi_code_page = 1252;

  std::string ComputerName() override { return computer_name; }
  std::string TempFolder() override { return temp_folder; }
  int LogicalPixelsPerInch() override { return logical_pixels_per_inch; }
  std::string UserName() override { return user_name; }
  int AnsiCodePage() override { return ansi_code_page; }
};

}  // namespace platform
