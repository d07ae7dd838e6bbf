// The log file on its own: its header, growth steps, truncation and shrinking, and files that
// are not (or no longer) what the server wrote.
#include "sandbox/log_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace sandbox {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("log-file-test-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = folder_ / "x_log.LDF";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  fs::path folder_;
  fs::path path_;
};

TEST(GrowthTest, GrowthIsReadAsCreateDatabaseWritesIt) {
  EXPECT_EQ(GrowthBytes("10%", 1000000), 100000);
  EXPECT_EQ(GrowthBytes(" 25 % ", 400), 100);
  EXPECT_EQ(GrowthBytes("1MB", 0), 1048576);
  EXPECT_EQ(GrowthBytes("512kb", 0), 524288);
  EXPECT_EQ(GrowthBytes("2", 0), 2097152);
  EXPECT_EQ(GrowthBytes("1GB", 0), 1073741824);
  EXPECT_EQ(GrowthBytes("0", 1000), 0);
  // Anything else falls back to SQL Server's default of a tenth.
  EXPECT_EQ(GrowthBytes("lots", 1000), 100);
  EXPECT_EQ(GrowthBytes("-5MB", 1000), 100);
  EXPECT_EQ(GrowthBytes("", 1000), 100);
}

TEST_F(LogFileTest, ALongStatementTakesItsWholeSizeWithOnlyItsStartWritten) {
  CreateLogFile(path_, 1024 * 1024, "1MB");
  // A saved document: the statement carries its bytes.
  const std::string statement = "UPDATE Document SET BinaryContent = 0x" + std::string(300000, 'A');
  ASSERT_TRUE(AppendLogRecord(path_, statement, 100));
  ASSERT_TRUE(AppendLogRecord(path_, statement, 100));
  ASSERT_TRUE(AppendLogRecord(path_, statement, 100));
  ASSERT_TRUE(AppendLogRecord(path_, statement, 100));
  LogFileState state = ReadLogFile(path_);
  // Four records of 300 KB no longer fit in 1 MB: the file grew as for the whole texts.
  EXPECT_EQ(state.used_pages, 1 + (4 * (statement.size() + 1 + 100) + 8191) / 8192);
  EXPECT_EQ(state.size_pages, 256);
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(path_)), state.size_pages * 8192);
  // The first record begins with the statement's start.
  std::ifstream in(path_, std::ios::binary);
  in.seekg(8192);
  std::string start(40, '\0');
  in.read(start.data(), 40);
  EXPECT_EQ(start, statement.substr(0, 40));
}

TEST_F(LogFileTest, AFileGrowsInStepsOfItsGrowthOnceFull) {
  CreateLogFile(path_, 1024 * 1024, "1MB");
  LogFileState state = ReadLogFile(path_);
  EXPECT_EQ(state.size_pages, 128);
  EXPECT_EQ(state.used_pages, 1);
  // Records first fill the file as it is.
  ASSERT_TRUE(AppendLogRecord(path_, "INSERT INTO t VALUES (1)", 500 * 1024));
  EXPECT_EQ(ReadLogFile(path_).size_pages, 128);
  ASSERT_TRUE(AppendLogRecord(path_, "INSERT INTO t VALUES (2)", 1024 * 1024));
  state = ReadLogFile(path_);
  EXPECT_EQ(state.size_pages, 256);
  EXPECT_GE(state.used_pages, 1 + (1524 * 1024) / 8192);
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(path_)), state.size_pages * 8192);
  // The record's text is in the file after the header page.
  std::ifstream in(path_, std::ios::binary);
  in.seekg(8192);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "INSERT INTO t VALUES (1)");
}

TEST_F(LogFileTest, TruncationKeepsTheSizeAndShrinkingStopsAtWhatIsUsed) {
  CreateLogFile(path_, 4 * 1024 * 1024, "10%");
  ASSERT_TRUE(AppendLogRecord(path_, "UPDATE t SET a = 1", 2 * 1024 * 1024));
  LogFileState full = ShrinkLogFile(path_, 0);
  EXPECT_EQ(full.size_pages, full.used_pages);
  EXPECT_GT(full.size_pages, 256);
  LogFileState truncated = TruncateLogFile(path_);
  EXPECT_EQ(truncated.size_pages, full.size_pages);
  EXPECT_EQ(truncated.used_pages, 1);
  EXPECT_EQ(ShrinkLogFile(path_, 128).size_pages, 128);
  EXPECT_EQ(ShrinkLogFile(path_, 0).size_pages, kMinimumLogPages);
  // Growing back is the growth's business, not the shrink's.
  EXPECT_EQ(ShrinkLogFile(path_, 1000).size_pages, kMinimumLogPages);
}

TEST_F(LogFileTest, FilesWithoutAHeaderOrWithoutAFileAreEmptyLogs) {
  {
    std::ofstream legacy(path_, std::ios::binary);
    legacy << std::string(16384, '\0');
  }
  LogFileState state = ReadLogFile(path_);
  EXPECT_EQ(state.size_pages, 2);
  EXPECT_EQ(state.used_pages, 1);
  ASSERT_TRUE(AppendLogRecord(path_, "DELETE FROM t", 0));
  EXPECT_EQ(ReadLogFile(path_).used_pages, 2);

  fs::path missing = folder_ / "none.LDF";
  EXPECT_FALSE(AppendLogRecord(missing, "x", 0));
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(ReadLogFile(missing).size_pages, 0);
  EXPECT_EQ(TruncateLogFile(missing).size_pages, 0);
  EXPECT_EQ(ShrinkLogFile(missing, 0).size_pages, 0);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(LogFileTest, AHostileGrowthTextStaysOneHeaderLine) {
  CreateLogFile(path_, 0, std::string("1MB\nused=999999\n") + std::string(20000, 'g'));
  LogFileState state = ReadLogFile(path_);
  EXPECT_EQ(state.used_pages, 1);
  EXPECT_EQ(state.size_pages, kMinimumLogPages);
  ASSERT_TRUE(AppendLogRecord(path_, "x", 0));
  EXPECT_EQ(ReadLogFile(path_).used_pages, 2);
}

}  // namespace
}  // namespace sandbox
