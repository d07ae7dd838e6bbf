#include "common/code_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/env_guard.h"
#include "common/test_support.h"

namespace common {
namespace {

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST(CodePageTest, WesternUmlautsRoundTripIn1252) {
  EXPECT_EQ(TextToBytes("Grüße €", 1252), B({'G', 'r', 0xFC, 0xDF, 'e', ' ', 0x80, 0}));
  EXPECT_EQ(BytesToText(B({'G', 'r', 0xFC, 0xDF, 'e', ' ', 0x80, 0}), 1252), "Grüße €");
  std::string all;
  for (int c = 0x20; c < 0x7F; ++c) all += static_cast<char>(c);
  all += "ÄÖÜäöüß¿¡ñçéèêœ“”–—…";
  Bytes bytes = TextToBytes(all, 1252);
  EXPECT_EQ(bytes.size(), (0x7F - 0x20) + 20u + 1u);  // one byte a character, plus the zero
  EXPECT_EQ(BytesToText(bytes, 1252), all);
}

TEST(CodePageTest, CyrillicRoundTripsIn1251) {
  Bytes expected = B({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0});
  EXPECT_EQ(TextToBytes("Привет", 1251), expected);
  EXPECT_EQ(BytesToText(expected, 1251), "Привет");
  EXPECT_EQ(BytesToText(TextToBytes("Ёжик в тумане", 1251), 1251), "Ёжик в тумане");
}

TEST(CodePageTest, JapaneseRoundTripsIn932) {
  Bytes expected = B({0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0});
  EXPECT_EQ(TextToBytes("日本語", 932), expected);
  EXPECT_EQ(BytesToText(expected, 932), "日本語");
  EXPECT_EQ(BytesToText(TextToBytes("ｶﾀｶﾅ and ひらがな", 932), 932), "ｶﾀｶﾅ and ひらがな");
  EXPECT_EQ(TextToBytes("ｶ", 932), B({0xB6, 0}));  // half-width katakana is one byte
}

TEST(CodePageTest, CharactersThePageLacksBecomeQuestionMarks) {
  bool substituted = false;
  EXPECT_EQ(TextToBytes("Añ日€", 1252, kConvertDefault, &substituted),
            B({'A', 0xF1, '?', 0x80, 0}));
  EXPECT_TRUE(substituted);
  EXPECT_EQ(TextToBytes("ä Ж", 1251, kConvertDefault, &substituted), B({'?', ' ', 0xC6, 0}));
  EXPECT_TRUE(substituted);
  EXPECT_EQ(TextToBytes("😀", 932), B({'?', 0}));  // one substitute for one character
  TextToBytes("plain", 1252, kConvertDefault, &substituted);
  EXPECT_FALSE(substituted);
  // Round trip of a name the page cannot hold, as plain-text generation does for file names.
  EXPECT_EQ(BytesToText(TextToBytes("Отчёт.txt", 1252), 1252), "?????.txt");
  // Strict conversion refuses instead.
  EXPECT_TRUE(TextToBytes("Añ日", 1252, kConvertNoSubstitution).empty());
  EXPECT_EQ(TextToBytes("Añ", 1252, kConvertNoSubstitution), B({'A', 0xF1, 0}));
}

TEST(CodePageTest, InvalidInputIsReplacedNotLost) {
  EXPECT_EQ(TextToBytes(std::string("a\xFF"
                                    "b",
                                    3),
                        1252),
            B({'a', '?', 'b', 0}));
  EXPECT_EQ(TextToBytes(std::string("a\xC3", 2), 1252), B({'a', '?', 0}));  // cut sequence
  EXPECT_EQ(TextToBytes(std::string("\xC3\xA4\xFF", 3), kCodePageUtf8), B({0xC3, 0xA4, '?', 0}));
  EXPECT_EQ(BytesToText(std::string("a\x81z", 3), 1252), "a\xEF\xBF\xBDz");
  EXPECT_EQ(BytesToText(std::string("ab\x93", 3), 932), "ab\xEF\xBF\xBD");  // lead byte alone
}

TEST(CodePageTest, TerminatorsAndEmptyTexts) {
  EXPECT_EQ(TextToBytes("", 1252), B({0}));
  EXPECT_EQ(BytesToText(std::string_view(), 1252), "");
  EXPECT_EQ(BytesToText(std::string("ab\0cd", 5), 1252), "ab");
  EXPECT_EQ(TextToBytes("Aä", kCodePageUtf16), B({'A', 0, 0xE4, 0, 0, 0}));
  EXPECT_EQ(BytesToText(B({'A', 0, 0xE4, 0, 0, 0, 'x', 0}), kCodePageUtf16), "Aä");
  EXPECT_EQ(TextToBytes("Aä", kCodePageUtf8), B({'A', 0xC3, 0xA4, 0}));
  EXPECT_EQ(BytesToText(B({'A', 0xC3, 0xA4}), kCodePageUtf8), "Aä");
}

TEST(CodePageTest, UnknownCodePagesGiveNothing) {
  EXPECT_EQ(CodePageCharset(1252), "CP1252");
  EXPECT_EQ(CodePageCharset(65001), "UTF-8");
  EXPECT_EQ(CodePageCharset(28591), "ISO-8859-1");
  EXPECT_EQ(CodePageCharset(99999), "");
  EXPECT_EQ(CodePageCharset(-5), "");
  EXPECT_TRUE(TextToBytes("abc", 99999).empty());
  EXPECT_EQ(BytesToText("abc", 99999), "");
}

TEST(CodePageTest, AnsiCodePageFollowsTheLocale) {
  testing::EnvGuard env;
  env.Set("LC_ALL", "ru_RU.UTF-8");
  EXPECT_EQ(CodePageCharset(kCodePageAnsi), "CP1251");
  EXPECT_EQ(BytesToText(B({0xCF, 0}), kCodePageAnsi), "П");
  EXPECT_EQ(TextToBytes("П", 0), B({0xCF, 0}));
  env.Set("LC_ALL", "de_DE.UTF-8");
  EXPECT_EQ(BytesToText(B({0xCF, 0}), kCodePageAnsi), "Ï");
}

class WriteTextFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = common::testing::ScratchFolder("tessera-common", true); }
  void TearDown() override { common::testing::RemoveScratch(dir_); }

  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
};

TEST_F(WriteTextFileTest, WritesTheConvertedBytesWithoutTerminator) {
  std::filesystem::path file = dir_ / "Grüße; 'x'.txt";
  EXPECT_TRUE(WriteTextFile(file.string(), "Grüße\r\nЖ", 1252));
  EXPECT_EQ(Read(file), std::string("Gr\xFC\xDF"
                                    "e\r\n?",
                                    8));
  EXPECT_TRUE(WriteTextFile(file.string(), "日本", 932));
  EXPECT_EQ(Read(file), "\x93\xFA\x96\x7B");  // replaced, not appended
  EXPECT_TRUE(WriteTextFile(file.string(), "A", kCodePageUtf16));
  EXPECT_EQ(Read(file), std::string("A\0", 2));
}

TEST_F(WriteTextFileTest, NothingToWriteOrNowhereToWriteIsSkipped) {
  std::filesystem::path file = dir_ / "empty.txt";
  EXPECT_FALSE(WriteTextFile(file.string(), "", 1252));
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(WriteTextFile(file.string(), "abc", 99999));
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(WriteTextFile((dir_ / "no folder" / "x.txt").string(), "abc", 1252));
  EXPECT_FALSE(WriteTextFile(dir_.string(), "abc", 1252));  // a folder
  EXPECT_FALSE(WriteTextFile("", "abc", 1252));
  // Existing content stays when there is nothing to write.
  std::ofstream(file) << "keep";
  EXPECT_FALSE(WriteTextFile(file.string(), "", 1252));
  EXPECT_EQ(Read(file), "keep");
}

}  // namespace
}  // namespace common
