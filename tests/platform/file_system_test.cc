// The local disk as the export uses it: private folders, exact writes, quiet removal.
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using platform_test::TempDir;

TEST(LocalFileSystemTest, PrivateFoldersAreRealFoldersOfOursClosedToOthers) {
  TempDir temp;
  LocalFileSystem files;
  const fs::path mine = temp.path() / "mine";
  ASSERT_TRUE(files.MakePrivateFolder(mine.string()));
  struct stat info;
  ASSERT_EQ(::stat(mine.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(files.MakePrivateFolder(mine.string())) << "an existing private folder is taken";

  // A link planted where the folder should be, a folder others may write into, a file, a path
  // whose parent is missing, and a path with a zero byte are all refused.
  const fs::path link = temp.path() / "link";
  fs::create_directory_symlink(mine, link);
  const fs::path open_folder = temp.path() / "open";
  fs::create_directory(open_folder);
  ::chmod(open_folder.c_str(), 0777);
  const fs::path file = temp.path() / "file";
  std::ofstream(file) << "x";
  for (const std::string& refused : {link.string(), open_folder.string(), file.string(),
                                     (temp.path() / "missing" / "deeper").string(),
                                     mine.string() + std::string(1, '\0') + "x", std::string()}) {
    EXPECT_FALSE(files.MakePrivateFolder(refused)) << refused;
  }
}

TEST(LocalFileSystemTest, WritesReadsAndRemovesExactly) {
  TempDir temp;
  LocalFileSystem files;
  const std::string path = (temp.path() / "f.bin").string();
  const std::string bytes("a\0b\xff", 4);
  ASSERT_TRUE(files.WriteFile(path, bytes));
  EXPECT_EQ(files.ReadFile(path), bytes);
  ASSERT_TRUE(files.WriteFile(path, "kurz"));
  EXPECT_EQ(files.ReadFile(path), "kurz") << "a write replaces the whole file";
  EXPECT_FALSE(files.WriteFile((temp.path() / "missing" / "f").string(), "x"));
  EXPECT_FALSE(files.WriteFile(path + std::string(1, '\0') + "x", "x"));
  EXPECT_EQ(files.ReadFile((temp.path() / "none").string()), std::nullopt);

  const std::string folder = (temp.path() / "folder").string();
  EXPECT_TRUE(files.CreateFolder(folder));
  EXPECT_FALSE(files.CreateFolder(folder)) << "an existing folder is not created again";
  ASSERT_TRUE(files.WriteFile(folder + "/inner", "x"));
  files.Remove(path);
  files.RemoveAll(folder);
  files.RemoveAll(folder);  // gone already: quiet
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(folder));
}

}  // namespace
}  // namespace platform
