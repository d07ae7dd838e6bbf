#include "sandbox/server_info.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

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

// What each version calls itself in @@VERSION, when it was built and on which Windows.
struct Release {
  int major;
  int minor;            // the first minor version the row is for (2008 R2 is 10.50)
  const char* product;  // "  2000": SQL Server 7.0 and 2000 put two blanks after "Server"
  const char* built;
  const char* copyright;
  const char* windows;
  const char* windows_version;  // xp_msver's WindowsVersion: "5.2 (3790)"
  const char* year;             // the first part of xp_msver's FileVersion
  bool x64;                     // 64-bit builds say (X64) and "(64-bit)" after the edition
  bool level_in_name;           // from 2008 on the service pack follows the name: "2008 R2 (SP1)"
};

// clang-format off
constexpr Release kReleases[] = {
    {7, 0, "  7.00", "Apr  9 2002 14:18:16", "1988-2002",
     "Windows NT 5.0 (Build 2195: Service Pack 4)", "5.0 (2195)", "1998", false, false},
    {8, 0, "  2000", "May  3 2005 23:18:38", "1988-2003",
     "Windows NT 5.2 (Build 3790: Service Pack 1)", "5.2 (3790)", "2000", false, false},
    {9, 0, " 2005", "Dec 10 2010 10:56:29", "1988-2005",
     "Windows NT 5.2 (Build 3790: Service Pack 2)", "5.2 (3790)", "2005", false, false},
    {10, 0, " 2008", "Sep 22 2011 00:28:06", "1988-2008",
     "Windows NT 6.1 <X64> (Build 7601: Service Pack 1)", "6.1 (7601)", "2007", true, true},
    {10, 50, " 2008 R2", "Jun 28 2012 08:36:30", "Microsoft Corporation",
     "Windows NT 6.1 <X64> (Build 7601: Service Pack 1)", "6.1 (7601)", "2009", true, true},
    {11, 0, " 2012", "Oct 19 2012 13:38:57", "Microsoft Corporation",
     "Windows NT 6.1 <X64> (Build 7601: Service Pack 1)", "6.1 (7601)", "2011", true, true},
    {15, 0, " 2019", "Sep 24 2019 13:48:23", "Microsoft Corporation",
     "Windows Server 2019 Standard 10.0 <X64> (Build 17763: )", "10.0 (17763)", "2019", true,
     true},
};
// clang-format on

// The last release at or before the version; 7.0 for anything older.
const Release& ReleaseOf(const Version& v) {
  const Release* found = &kReleases[0];
  for (const Release& release : kReleases) {
    if (release.major < v.major || (release.major == v.major && release.minor <= v.minor))
      found = &release;
  }
  return *found;
}

// "1988-2003 " before the holder's name, or nothing for releases that name no years.
std::string Years(const Release& release) {
  std::string copyright = release.copyright;
  return copyright == "Microsoft Corporation" ? std::string() : copyright + " ";
}

}  // namespace

bool IsProductVersion(std::string_view text) {
  size_t first = text.find('.');
  if (first == std::string_view::npos) return false;
  size_t second = text.find('.', first + 1);
  if (second == std::string_view::npos) return false;
  std::string_view major = text.substr(0, first);
  std::string_view minor = text.substr(first + 1, second - first - 1);
  std::string_view build = text.substr(second + 1);
  auto digits = [](std::string_view part, size_t min, size_t max) {
    if (part.size() < min || part.size() > max) return false;
    return std::all_of(part.begin(), part.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  };
  if (!digits(major, 1, 2) || !digits(minor, 2, 2) || !digits(build, 1, 5)) return false;
  return std::stoi(std::string(major)) >= 7;
}

namespace {

struct NamedVersion {
  std::string_view build;
  std::initializer_list<std::string_view> names;
};
const NamedVersion kNamedVersions[] = {
    {"7.00.1063", {"7", "7.0", "7.00"}},
    {"8.00.2039", {"8", "8.0", "8.00", "2000"}},
    {"9.00.5000", {"9", "9.0", "9.00", "2005"}},
    {"10.50.6000", {"10.5", "10.50", "2008R2", "2008 R2"}},
    {"11.00.7001", {"11", "11.0", "11.00", "2012"}},
    {"15.00.2000", {"15", "15.0", "15.00", "2019"}},
};

}  // namespace

const char* const kProductVersionForms =
    "a build such as 7.00.1063 or 8.00.2039, or a version's name: 7, 7.0, 7.00, 8, 8.0, 8.00, "
    "2000, 9.00, 2005, 10.50, 2008R2, 11.00, 2012, 15.00 or 2019";

std::optional<std::string> ProductVersionNamed(std::string_view text) {
  if (IsProductVersion(text)) return std::string(text);
  for (const NamedVersion& version : kNamedVersions)
    for (std::string_view name : version.names)
      if (name == text) return std::string(version.build);
  return std::nullopt;
}

// Later builds of 2019 are cumulative updates: still RTM.
std::string ProductLevelOf(std::string_view version) {
  struct Build {
    const char* version;
    const char* level;
  };
  static const Build kBuilds[] = {
      {"7.00.623", "RTM"},   {"7.00.699", "SP1"},   {"7.00.842", "SP2"},   {"7.00.961", "SP3"},
      {"7.00.1063", "SP4"},  {"8.00.194", "RTM"},   {"8.00.384", "SP1"},   {"8.00.534", "SP2"},
      {"8.00.760", "SP3"},   {"8.00.2039", "SP4"},  {"9.00.1399", "RTM"},  {"9.00.2047", "SP1"},
      {"9.00.3042", "SP2"},  {"9.00.4035", "SP3"},  {"9.00.5000", "SP4"},  {"10.50.1600", "RTM"},
      {"10.50.2500", "SP1"}, {"10.50.4000", "SP2"}, {"10.50.6000", "SP3"}, {"11.00.2100", "RTM"},
      {"11.00.3000", "SP1"}, {"11.00.5058", "SP2"}, {"11.00.6020", "SP3"}, {"11.00.7001", "SP4"},
      {"15.00.2000", "RTM"}};
  for (const Build& build : kBuilds) {
    if (version == build.version) return build.level;
  }
  return "RTM";
}

std::string PlatformOf(std::string_view version) {
  return ReleaseOf(ParseVersion(std::string(version))).x64 ? "NT x64" : "NT INTEL X86";
}

std::string VersionText(const InstanceConfig& config) {
  if (!config.version_text.empty()) return config.version_text;
  Version v = ParseVersion(config.product_version);
  const Release& release = ReleaseOf(v);
  std::string text = "Microsoft SQL Server" + std::string(release.product);
  if (release.level_in_name && !config.product_level.empty())
    text += " (" + config.product_level + ")";
  text += " - " + config.product_version + (release.x64 ? " (X64)" : " (Intel X86)") + " \n\t" +
          release.built + " \n\t";
  text += "Copyright (c) " + Years(release) + "Microsoft Corporation";
  text +=
      "\n\t" + config.edition + (release.x64 ? " (64-bit)" : "") + " on " + release.windows + "\n";
  return text;
}

std::vector<MsVerRow> MsVerRows(const InstanceConfig& config) {
  Version v = ParseVersion(config.product_version);
  const Release& release = ReleaseOf(v);
  // FileVersion reads "2000.080.2039.00" for SQL Server 2000: the year the major version came
  // out, the version times ten, the build.
  char file_version[64];
  std::snprintf(file_version, sizeof file_version,
                v.major >= 10 ? "%s.%04d.%d.00" : "%s.%03d.%d.00", release.year, v.major * 10,
                v.build);
  std::string windows_version = release.windows_version;
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
       "\xC2\xA9 " + Years(release) + "Microsoft Corp. All rights reserved."},
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
