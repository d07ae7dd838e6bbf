#include "dialogs/collection_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dialogs {
namespace {

constexpr char kInvalidText[] =
    "Please type only characters from the English\nalphabet, numbers, or the underscore _ .";

int MessageOf(const std::optional<Refusal>& refusal) { return refusal ? refusal->message : 0; }

TEST(CollectionNameRule, RefusesAnEmptyNameFirst) {
  std::optional<Refusal> refusal = CheckCollectionName("", 7, {""});
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, kMessageNameMissing);
  EXPECT_EQ(refusal->text, "You must enter a collection name here.");
  EXPECT_TRUE(refusal->title.empty());
}

TEST(CollectionNameRule, LimitsNamesToElevenCharactersOnVersion7Only) {
  const std::string eleven = "Abcdefghi_1";
  const std::string twelve = eleven + "2";
  EXPECT_EQ(MessageOf(CheckCollectionName(eleven, 7, {})), 0);
  std::optional<Refusal> refusal = CheckCollectionName(twelve, 7, {});
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, kMessageNameTooLongOn70);
  EXPECT_EQ(refusal->text,
            "When using MS SQL Server 7.0, the name of a collection cannot be longer than 11 "
            "characters.");
  for (int version : {0, 8, 9, 10, 16}) {
    EXPECT_EQ(MessageOf(CheckCollectionName(twelve, version, {})), 0) << version;
    EXPECT_EQ(MessageOf(CheckCollectionName(std::string(100, 'a'), version, {})), 0) << version;
  }
  // The version is compared as text, as the wizard always did: "70" would begin with "7" too.
  EXPECT_EQ(MessageOf(CheckCollectionName(twelve, 70, {})), kMessageNameTooLongOn70);
}

TEST(CollectionNameRule, CountsCharactersNotBytesForTheLimit) {
  // Eleven characters, twelve bytes: the accent is what is wrong with it, not its length.
  std::optional<Refusal> refusal = CheckCollectionName("Abcdefghij\xC3\xA9", 7, {});
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, kMessageInvalidName);
  EXPECT_EQ(CharacterCount("Abcdefghij\xC3\xA9"), 11u);
  EXPECT_EQ(CharacterCount("\xE2\x82\xAC\xF0\x9F\x98\x80"), 2u);
}

TEST(CollectionNameRule, AcceptsOnlyEnglishLettersDigitsAndUnderscore) {
  EXPECT_EQ(MessageOf(CheckCollectionName("Archive_2024_x", 8, {})), 0);
  EXPECT_EQ(MessageOf(CheckCollectionName("_", 8, {})), 0);
  for (const std::string& name : std::vector<std::string>{
           "inner blank", "O'Brien", "[Sales]", "a;DROP DATABASE master", "quote\"d", "semi;",
           "dash-ed", "dot.ted", "M\xC3\xBCller", "tab\there", std::string(10000, 'a') + "!"}) {
    std::optional<Refusal> refusal = CheckCollectionName(name, 8, {});
    ASSERT_TRUE(refusal) << name.substr(0, 40);
    EXPECT_EQ(refusal->message, kMessageInvalidName);
    EXPECT_EQ(refusal->title, "Invalid collection name");
    EXPECT_EQ(refusal->text, kInvalidText);
  }
}

TEST(CollectionNameRule, RulesApplyInTheirOrder) {
  // Too long and invalid on 7.0: the length speaks first.
  EXPECT_EQ(MessageOf(CheckCollectionName("twelve chars", 7, {})), kMessageNameTooLongOn70);
  // Invalid and in use: the characters speak first.
  EXPECT_EQ(MessageOf(CheckCollectionName("a b", 8, {"a b"})), kMessageInvalidName);
}

TEST(CollectionNameRule, ANameInUseIsComparedWithLetterCase) {
  std::vector<std::string> existing = {"Sales", "Archive"};
  std::optional<Refusal> refusal = CheckCollectionName("Sales", 8, existing);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, kMessageNameInUse);
  EXPECT_EQ(
      refusal->text,
      "There is already a collection in use with this name.\nPlease choose a different name.");
  EXPECT_EQ(MessageOf(CheckCollectionName("SALES", 8, existing)), 0);
  EXPECT_EQ(MessageOf(CheckCollectionName("Sale", 8, existing)), 0);
}

TEST(DataFilePath, IsTrimmedAndCompletedWithTheExtensionOnce) {
  EXPECT_EQ(CompleteDataFilePath("C:\\Data\\Sales"), "C:\\Data\\Sales.mdf");
  EXPECT_EQ(CompleteDataFilePath("  C:\\Data\\Sales.mdf  "), "C:\\Data\\Sales.mdf");
  EXPECT_EQ(CompleteDataFilePath("C:\\Data\\Sales.MDF"), "C:\\Data\\Sales.MDF");
  EXPECT_EQ(CompleteDataFilePath("C:\\Data\\Sales.Mdf"), "C:\\Data\\Sales.Mdf");
  EXPECT_EQ(CompleteDataFilePath("C:\\Data\\Sales.ldf"), "C:\\Data\\Sales.ldf.mdf");
  EXPECT_EQ(CompleteDataFilePath("C:\\Data\\Sales.md"), "C:\\Data\\Sales.md.mdf");
  EXPECT_EQ(CompleteDataFilePath(".mdf"), ".mdf");
  EXPECT_EQ(CompleteDataFilePath("mdf"), "mdf.mdf");
  EXPECT_EQ(CompleteDataFilePath("x"), "x.mdf");
  EXPECT_EQ(CompleteDataFilePath(""), "");
  EXPECT_EQ(CompleteDataFilePath("    "), "");
  std::string long_path = "C:\\" + std::string(5000, 'p');
  EXPECT_EQ(CompleteDataFilePath(long_path), long_path + ".mdf");
}

TEST(DataFilePath, NeedsAFolder) {
  auto no_file = [](std::string_view) { return false; };
  EXPECT_EQ(MessageOf(CheckDataFilePath("C:\\Data\\Sales.mdf", no_file)), 0);
  EXPECT_EQ(MessageOf(CheckDataFilePath("\\\\host\\share\\x.mdf", no_file)), 0);
  EXPECT_EQ(MessageOf(CheckDataFilePath("C:\\O'Brien; [x].mdf", no_file)), 0);

  std::optional<Refusal> refusal = CheckDataFilePath("Sales.mdf", no_file);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, kMessagePathInvalid);
  EXPECT_EQ(refusal->text, "The specified path is invalid!");
  EXPECT_EQ(MessageOf(CheckDataFilePath("", no_file)), kMessagePathInvalid);
  // Forward slashes are no folder separator on the server's machine.
  EXPECT_EQ(MessageOf(CheckDataFilePath("C:/Data/Sales.mdf", no_file)), kMessagePathInvalid);
}

TEST(DataFilePath, APathWithoutFolderNamingALocalFileGetsTheFileMessage) {
  std::vector<std::string> asked;
  auto exists = [&](std::string_view path) {
    asked.emplace_back(path);
    return path == "Sales.mdf";
  };
  std::optional<Refusal> refusal = CheckDataFilePath("Sales.mdf", exists);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, kMessageFileExists);
  EXPECT_EQ(refusal->text,
            "This file already exists. Please choose a different name for the file,\nor click "
            "\"Browse...\" to select a different folder.");
  EXPECT_EQ(MessageOf(CheckDataFilePath("Other.mdf", exists)), kMessagePathInvalid);
  // A path with a folder is never looked for on this machine.
  EXPECT_EQ(MessageOf(CheckDataFilePath("C:\\Sales.mdf", exists)), 0);
  EXPECT_EQ(asked, (std::vector<std::string>{"Sales.mdf", "Other.mdf"}));
}

TEST(AttachRules, NameAndDataFileAreRequiredAndTheNameMustBeValid) {
  std::optional<Refusal> refusal = CheckAttachName("");
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->text, "Please enter a collection name!");
  EXPECT_EQ(refusal->title, "Tessera Server Manager");
  EXPECT_EQ(refusal->icon, platform::MessageIcon::kInformation);

  for (const std::string& name :
       std::vector<std::string>{" Sales", "O'Brien", "[x]", "a;b", "x\"y", "a b"}) {
    refusal = CheckAttachName(name);
    ASSERT_TRUE(refusal) << name;
    EXPECT_EQ(refusal->message, kMessageAttachNameInvalid);
    EXPECT_EQ(refusal->text,
              "The database name is invalid. Please use only characters\nfrom the English "
              "alphabet, numbers, or the underscore '_'.");
  }
  EXPECT_FALSE(CheckAttachName("Sales_2"));
  EXPECT_FALSE(CheckAttachName(std::string(300, 'x')));

  refusal = CheckAttachDataFile("");
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, kMessageAttachFileMissing);
  EXPECT_EQ(refusal->text, "Please enter a valid file path.");
  EXPECT_FALSE(CheckAttachDataFile("C:\\Data\\x.mdf"));
}

TEST(AttachRules, ADataFileAnOpenedCollectionUsesIsRefused) {
  std::vector<OpenedDataFile> opened = {{"Sales", "C:\\Data\\Sales.mdf"},
                                        {"Other", "D:\\Archive\\Other.mdf"}};
  for (const char* chosen : {"C:\\Data\\Sales.mdf", "c:\\data\\SALES.MDF", " C:\\Data\\Sales.mdf ",
                             "C:/Data/Sales.mdf"}) {
    std::optional<Refusal> refusal = CheckDataFileNotOpened(chosen, opened);
    ASSERT_TRUE(refusal) << chosen;
    EXPECT_EQ(refusal->message, kMessageFileAlreadyOpened);
    EXPECT_EQ(refusal->icon, platform::MessageIcon::kExclamation);
    EXPECT_EQ(refusal->text, "The selected collection with the file name '" + std::string(chosen) +
                                 "'\nis already opened in Tessera Server Manager.");
  }
  EXPECT_FALSE(CheckDataFileNotOpened("C:\\Data\\Sales2.mdf", opened));
  EXPECT_FALSE(CheckDataFileNotOpened("C:\\Data\\Sales.mdf", {}));
  EXPECT_FALSE(CheckDataFileNotOpened("", opened));
}

}  // namespace
}  // namespace dialogs
