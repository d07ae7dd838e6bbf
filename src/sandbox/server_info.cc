#include "sandbox/server_info.h"

#include <cstdio>
#include <cstdlib>

namespace sandbox {

namespace {

struct Version {
  int major = 8;
  int minor = 0;
  int build = 0;
};

Version ParseVersion(const std::string& text) {
  Version v;
  const char* p = text.c_str();
  char* end = nullptr;
  v.major = static_cast<int>(std::strtol(p, &end, 10));
  if (*end == '.') v.minor = static_cast<int>(std::strtol(end + 1, &end, 10));
  if (*end == '.') v.build = static_cast<int>(std::strtol(end + 1, &end, 10));
  return v;
}

// What each major version calls itself in @@VERSION, when it was built and on which Windows.
struct Release {
  const char* product;  // "  2000": SQL Server 7.0 and 2000 put two blanks after "Server"
  const char* built;
  const char* copyright;
  const char* windows;
};

Release ReleaseOf(int major) {
  switch (major) {
    case 7:
      return {"  7.00", "Apr  9 2002 14:18:16", "1988-2002",
              "Windows NT 5.0 (Build 2195: Service Pack 4)"};
    case 8:
      return {"  2000", "May  3 2005 23:18:38", "1988-2003",
              "Windows NT 5.2 (Build 3790: Service Pack 1)"};
    case 9:
      return {" 2005", "Dec 10 2010 10:56:29", "1988-2005",
              "Windows NT 5.2 (Build 3790: Service Pack 2)"};
    case 10:
      return {" 2008", "Sep 22 2011 00:28:06", "1988-2008",
              "Windows NT 6.1 <X86> (Build 7601: Service Pack 1)"};
    default:
      return {" 2012", "Oct 19 2012 13:38:57", "Microsoft Corporation",
              "Windows NT 6.1 <X64> (Build 7601: Service Pack 1)"};
  }
}

}  // namespace

std::string VersionText(const InstanceConfig& config) {
  if (!config.version_text.empty()) return config.version_text;
  Version v = ParseVersion(config.product_version);
  Release release = ReleaseOf(v.major);
  std::string text = "Microsoft SQL Server" + std::string(release.product) + " - " +
                     config.product_version + " (Intel X86) \n\t" + release.built + " \n\t";
  text += "Copyright (c) " + std::string(release.copyright) + " Microsoft Corporation\n\t";
  text += config.edition + " on " + release.windows + "\n";
  return text;
}

std::vector<MsVerRow> MsVerRows(const InstanceConfig& config) {
  Version v = ParseVersion(config.product_version);
  Release release = ReleaseOf(v.major);
  // FileVersion reads "2000.080.2039.00" for SQL Server 2000: the year the major version came
  // out, the version times ten, the build.
  std::string year = v.major == 7 ? "1998" : v.major == 8 ? "2000" : v.major == 9 ? "2005" : "2007";
  char file_version[64];
  std::snprintf(file_version, sizeof file_version, "%s.%03d.%d.00", year.c_str(),
                v.major * 10 + v.minor, v.build);
  std::string windows = release.windows;
  // "Windows NT 5.2 (Build 3790: ...)" gives "5.2 (3790)".
  std::string windows_version;
  {
    size_t nt = windows.find("NT ");
    size_t build = windows.find("Build ");
    std::string number = nt == std::string::npos ? "" : windows.substr(nt + 3, 3);
    std::string build_number =
        build == std::string::npos
            ? ""
            : windows.substr(build + 6, windows.find(':', build) - build - 6);
    windows_version = number + " (" + build_number + ")";
  }
  std::int64_t windows_internal = 0;
  {
    Version w = ParseVersion(windows_version);
    Version b = ParseVersion(windows_version.substr(windows_version.find('(') + 1));
    windows_internal = (static_cast<std::int64_t>(b.major) << 16) | (w.minor << 8) | w.major;
  }
  std::vector<MsVerRow> rows = {
      {1, "ProductName", std::nullopt, "Microsoft SQL Server"},
      {2, "ProductVersion", (static_cast<std::int64_t>(v.major) << 16) | v.minor,
       config.product_version},
      {3, "Language", 1033, "English (United States)"},
      {4, "Platform", std::nullopt, config.platform},
      {5, "Comments", std::nullopt, config.platform},
      {6, "CompanyName", std::nullopt, "Microsoft Corporation"},
      {7, "FileDescription", std::nullopt, "SQL Server Windows NT"},
      {8, "FileVersion", std::nullopt, std::string(file_version)},
      {9, "InternalName", std::nullopt, "SQLSERVR"},
      {10, "LegalCopyright", std::nullopt,
       "\xC2\xA9 " + std::string(release.copyright) + " Microsoft Corp. All rights reserved."},
      {11, "LegalTrademarks", std::nullopt,
       "Microsoft\xC2\xAE is a registered trademark of Microsoft Corporation. Windows(TM) is a "
       "trademark of Microsoft Corporation"},
      {12, "OriginalFilename", std::nullopt, "SQLSERVR.EXE"},
      {13, "PrivateBuild", std::nullopt, std::nullopt},
      {14, "SpecialBuild", (static_cast<std::int64_t>(v.build) << 16), std::nullopt},
      {15, "WindowsVersion", windows_internal, windows_version},
      {16, "ProcessorCount", 1, "1"},
      {17, "ProcessorActiveMask", 1, "00000001"},
      {18, "ProcessorType", 586, "PROCESSOR_INTEL_PENTIUM"},
      {19, "PhysicalMemory", 2047, "2047 (2146353152)"},
      {20, "Product ID", std::nullopt, std::nullopt},
  };
  return rows;
}

std::string LoginModeName(LoginMode mode) {
  switch (mode) {
    case LoginMode::kMixed:
      return "Mixed";
    case LoginMode::kWindowsOnly:
      return "Windows NT Authentication";
    case LoginMode::kSqlOnly:
      return "Standard";
  }
  return "Mixed";
}

}  // namespace sandbox
