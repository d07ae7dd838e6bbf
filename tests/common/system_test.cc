#include "common/system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "common/env_guard.h"
#include "common/test_support.h"

namespace common {
namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

TEST(NewGuidStringTest, RegistryFormVersionFourAndUnique) {
  std::set<std::string> seen;
  for (int i = 0; i < 500; ++i) {
    std::string guid = NewGuidString();
    ASSERT_EQ(guid.size(), 38u) << guid;
    EXPECT_EQ(guid.front(), '{');
    EXPECT_EQ(guid.back(), '}');
    for (size_t k = 1; k < 37; ++k) {
      if (k == 9 || k == 14 || k == 19 || k == 24) {
        EXPECT_EQ(guid[k], '-') << guid;
      } else {
        EXPECT_TRUE(IsUpperHex(guid[k])) << guid;
      }
    }
    EXPECT_EQ(guid[15], '4') << guid;
    EXPECT_NE(std::string("89AB").find(guid[20]), std::string::npos) << guid;
    EXPECT_TRUE(seen.insert(guid).second) << "repeated " << guid;
  }
}

class FileExistsTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = common::testing::ScratchFolder("tessera-common", true); }
  void TearDown() override { common::testing::RemoveScratch(dir_); }
  std::filesystem::path dir_;
};

TEST_F(FileExistsTest, FilesYesFoldersAndMissingNo) {
  std::filesystem::path file = dir_ / "x 'y'; [z].mdf";
  std::ofstream(file) << "data";
  EXPECT_TRUE(FileExists(file.string()));
  std::filesystem::create_symlink(file, dir_ / "link.mdf");
  EXPECT_TRUE(FileExists((dir_ / "link.mdf").string()));
  EXPECT_FALSE(FileExists(dir_.string()));
  EXPECT_FALSE(FileExists((dir_ / "missing.mdf").string()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(std::string(file.string() + std::string(1, '\0') + "x")));
  EXPECT_FALSE(FileExists(std::string(10000, 'a')));
}

TEST(WindowsVersionTest, FamiliesByPlatformAndVersion) {
  EXPECT_EQ(WindowsVersionFamily(2, 5, 0), 3);  // 2000
  EXPECT_EQ(WindowsVersionFamily(2, 5, 1), 5);  // XP
  EXPECT_EQ(WindowsVersionFamily(2, 5, 2), 5);  // Server 2003
  EXPECT_EQ(WindowsVersionFamily(2, 4, 0), 2);  // NT 4
  EXPECT_EQ(WindowsVersionFamily(2, 6, 0), 2);
  EXPECT_EQ(WindowsVersionFamily(1, 4, 10), 1);  // 98
  EXPECT_EQ(WindowsVersionFamily(1, 4, 90), 4);  // Me
  EXPECT_EQ(WindowsVersionFamily(1, 4, 0), 0);   // 95
  EXPECT_EQ(WindowsVersionFamily(0, 3, 10), 0);
  // This system has accounts and groups: never one of the 9x codes callers refuse.
  EXPECT_EQ(GetWindowsVersion(), 5);
}

TEST(AnsiCodePageTest, LocalesMapToTheirWindowsCodePage) {
  const std::pair<const char*, int> cases[] = {
      {"de_DE.UTF-8", 1252}, {"fr_FR", 1252},        {"en_US.UTF-8", 1252},
      {"C", 1252},           {"POSIX", 1252},        {"", 1252},
      {"C.UTF-8", 1252},     {"ru_RU.UTF-8", 1251},  {"uk_UA", 1251},
      {"be_BY", 1251},       {"bg_BG.CP1251", 1251}, {"sr_RS", 1251},
      {"sr_RS@latin", 1250}, {"pl_PL.UTF-8", 1250},  {"cs_CZ", 1250},
      {"hu_HU", 1250},       {"sk_SK", 1250},        {"sl_SI", 1250},
      {"hr_HR", 1250},       {"ro_RO", 1250},        {"el_GR.UTF-8", 1253},
      {"tr_TR", 1254},       {"ja_JP.UTF-8", 932},   {"ja_JP.eucJP", 932},
      {"zh_CN.UTF-8", 936},  {"zh_SG", 936},         {"ko_KR.UTF-8", 949},
      {"zh_TW.UTF-8", 950},  {"zh_HK", 950},         {"he_IL", 1255},
      {"ar_EG", 1256},       {"lt_LT", 1257},        {"vi_VN", 1258},
      {"th_TH", 874},        {"DE_de", 1252},        {"RU", 1251},
      {"xx_YY'; --", 1252}};
  for (auto [locale, page] : cases) EXPECT_EQ(AnsiCodePageForLocale(locale), page) << locale;
}

TEST(AnsiCodePageTest, EnvironmentOrderIsLcAllThenLcCtypeThenLang) {
  testing::EnvGuard env;
  env.Set("LC_ALL", "ru_RU.UTF-8");
  env.Set("LC_CTYPE", "ja_JP.UTF-8");
  env.Set("LANG", "pl_PL.UTF-8");
  EXPECT_EQ(GetAnsiCodePage(), 1251);
  env.Set("LC_ALL", "");
  EXPECT_EQ(GetAnsiCodePage(), 932);
  env.Unset("LC_CTYPE");
  EXPECT_EQ(GetAnsiCodePage(), 1250);
  env.Unset("LANG");
  EXPECT_EQ(GetAnsiCodePage(), 1252);
}

}  // namespace
}  // namespace common
