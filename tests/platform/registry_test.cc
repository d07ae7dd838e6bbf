// cRegistry: reading by stored type, the string-type rule on writing, type mismatches, the
// enumeration of subkeys and the 26001 errors.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "platform/memory_registry_store.h"

namespace platform {
namespace {

constexpr const char* kListKey = "Software\\Fernwick\\Tessera Server Manager\\Database Servers";

common::Bytes B(std::string_view text) { return common::Bytes(text.begin(), text.end()); }

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    env_.Set("SRV", "SRV01");
    env_.Set("TEMP", "/tmp");
    registry_.SetClassKey(kHkeyCurrentUser);
    registry_.SetSectionKey(kListKey);
  }

  // Puts raw data in place, as another program might have written it.
  void Store(std::string_view name, RegistryData data) {
    ASSERT_EQ(store_.SetValue(kHkeyCurrentUser, kListKey, name, data), kErrorSuccess);
  }
  RegistryData Stored(std::string_view name) {
    RegistryData data;
    EXPECT_EQ(store_.QueryValue(kHkeyCurrentUser, kListKey, name, &data), kErrorSuccess) << name;
    return data;
  }
  bool IsStored(std::string_view name) {
    RegistryData data;
    return store_.QueryValue(kHkeyCurrentUser, kListKey, name, &data) == kErrorSuccess;
  }
  common::Value Read(std::string_view name) {
    registry_.SetValueKey(std::string(name));
    return registry_.Value();
  }
  bool Write(std::string_view name, std::uint32_t type, const common::Value& value) {
    registry_.SetValueKey(std::string(name));
    registry_.SetValueType(type);
    return registry_.SetValue(value);
  }

  MemoryRegistryStore store_;
  FakeEnvironment env_;
  cRegistry registry_{store_, env_};
};

TEST_F(RegistryTest, ReadsEachStoredTypeAndReportsIt) {
  Store("sz", {kRegSz, B(std::string_view("Data Source=SRV01;\0", 19))});
  Store("unterminated", {kRegSz, B("abc")});
  Store("empty", {kRegSz, {}});
  Store("expand", {kRegExpandSz, B(std::string_view("%TEMP%\\%SRV%;%NOPE%\0", 20))});
  Store("multi", {kRegMultiSz, B(std::string_view("a\0b\0\0", 5))});
  Store("dword", {kRegDword, {0x39, 0x30, 0, 0}});
  Store("negative", {kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}});
  Store("short", {kRegDword, {7}});
  Store("be", {kRegDwordBigEndian, {0, 0, 0x30, 0x39}});
  Store("binary", {kRegBinary, {1, 0, 2}});
  Store("qword", {11, {1, 2, 3, 4, 5, 6, 7, 8}});

  struct Case {
    const char* name;
    common::Value expected;
    std::uint32_t type;
  };
  const Case cases[] = {
      {"sz", "Data Source=SRV01;", kRegSz},
      {"unterminated", "abc", kRegSz},
      {"empty", "", kRegSz},
      {"expand", "/tmp\\SRV01;%NOPE%", kRegExpandSz},
      {"multi", std::string("a\0b\0", 4), kRegMultiSz},
      {"dword", 12345, kRegDword},
      {"negative", -1, kRegDword},
      {"short", 7, kRegDword},
      {"be", 12345, kRegDwordBigEndian},
      {"binary", common::Bytes{1, 0, 2}, kRegBinary},
      {"qword", common::Bytes{1, 2, 3, 4, 5, 6, 7, 8}, 11},
  };
  for (const auto& c : cases) {
    registry_.SetValueType(kRegNone);
    EXPECT_EQ(Read(c.name), c.expected) << c.name;
    EXPECT_EQ(registry_.ValueType(), c.type) << c.name;
  }
}

TEST_F(RegistryTest, UnreadableValuesGiveTheDefault) {
  registry_.SetDefault(0);
  EXPECT_EQ(Read("LastServerID"), common::Value(0));
  registry_.SetSectionKey("Software\\Missing");
  EXPECT_EQ(Read("LastServerID"), common::Value(0));
  registry_.SetDefault("fallback");
  registry_.SetValueType(kRegDword);
  EXPECT_EQ(Read("LastServerID"), common::Value("fallback"));
  EXPECT_EQ(registry_.ValueType(), kRegDword) << "a failed read changed ValueType";

  registry_.SetSectionKey(kListKey);
  Store("present", {kRegSz, B(std::string_view("x\0", 2))});
  store_.FailOperation(RegistryOperation::kQueryValue, kErrorAccessDenied);
  EXPECT_EQ(Read("present"), common::Value("fallback"));
  EXPECT_EQ(Read("present"), common::Value("x"));
}

TEST_F(RegistryTest, StringsWithAPercentPairAreStoredExpandable) {
  struct Case {
    const char* text;
    std::uint32_t stored_type;
  };
  const Case cases[] = {
      {"Data Source=%SRV%;", kRegExpandSz},
      {"%a%", kRegExpandSz},
      {"a%%b%", kRegExpandSz},
      {"%%", kRegSz},
      {"a%%b", kRegSz},
      {"100%", kRegSz},
      {"%x", kRegSz},
      {"plain", kRegSz},
      {"", kRegSz},
  };
  for (std::uint32_t declared : {kRegSz, kRegExpandSz}) {
    for (const auto& c : cases) {
      ASSERT_TRUE(Write("ConnectionString", declared, c.text)) << c.text;
      RegistryData data = Stored("ConnectionString");
      EXPECT_EQ(data.type, c.stored_type) << c.text << " declared " << declared;
      common::Bytes expected = B(c.text);
      expected.push_back(0);  // the terminating zero is part of the stored size
      EXPECT_EQ(data.bytes, expected) << c.text;
    }
  }
  // Read back at the next load, the expandable one is expanded.
  ASSERT_TRUE(Write("ConnectionString", kRegSz, "Data Source=%SRV%;"));
  EXPECT_EQ(Read("ConnectionString"), common::Value("Data Source=SRV01;"));
}

TEST_F(RegistryTest, PlainStringWritesKeepPercentSignsAsData) {
  const std::string connection = "Provider=SQLOLEDB;Data Source=%SRV%;User Id=sa;Password=50%off%;";
  registry_.SetValueKey("ConnectionString");
  ASSERT_TRUE(registry_.SetPlainString(connection));
  EXPECT_EQ(Stored("ConnectionString").type, kRegSz);
  EXPECT_EQ(Read("ConnectionString"), common::Value(connection));
  EXPECT_EQ(registry_.ValueType(), kRegSz);

  // Values stored expandable by earlier versions still expand.
  Store("Old", {kRegExpandSz, B(std::string_view("Data Source=%SRV%;\0", 19))});
  EXPECT_EQ(Read("Old"), common::Value("Data Source=SRV01;"));
}

TEST_F(RegistryTest, NumbersAndBytesNeedTheirTypes) {
  ASSERT_TRUE(Write("OrdinalPosition", kRegDword, 3));
  EXPECT_EQ(Stored("OrdinalPosition"), (RegistryData{kRegDword, {3, 0, 0, 0}}));
  ASSERT_TRUE(Write("Swapped", kRegDwordBigEndian, 0x01020304));
  EXPECT_EQ(Stored("Swapped"), (RegistryData{kRegDword, {4, 3, 2, 1}}));
  ASSERT_TRUE(Write("Unsigned", kRegDword, 4294967295LL));
  EXPECT_EQ(Read("Unsigned"), common::Value(-1));
  ASSERT_TRUE(Write("Negative", kRegDword, -2));
  EXPECT_EQ(Stored("Negative").bytes, (common::Bytes{0xFE, 0xFF, 0xFF, 0xFF}));

  // Mismatches write nothing, and leave what was there.
  EXPECT_FALSE(Write("OrdinalPosition", kRegDword, "12"));
  EXPECT_FALSE(Write("OrdinalPosition", kRegDword, 2.5));
  EXPECT_FALSE(Write("OrdinalPosition", kRegDword, true));
  EXPECT_FALSE(Write("OrdinalPosition", kRegDword, common::Value()));
  EXPECT_FALSE(Write("OrdinalPosition", kRegDword, 4294967296LL));
  EXPECT_FALSE(Write("OrdinalPosition", kRegDword, -2147483649LL));
  EXPECT_EQ(Stored("OrdinalPosition"), (RegistryData{kRegDword, {3, 0, 0, 0}}));

  EXPECT_FALSE(Write("Blob", kRegBinary, "not bytes"));
  EXPECT_FALSE(Write("Blob", kRegBinary, 5));
  EXPECT_FALSE(IsStored("Blob"));
  ASSERT_TRUE(Write("Blob", kRegBinary, common::Bytes{0, 1, 0}));
  EXPECT_EQ(Stored("Blob"), (RegistryData{kRegBinary, {0, 1, 0}}));

  // Strings take any value with a text form, but not bytes or null.
  ASSERT_TRUE(Write("Text", kRegSz, 42));
  EXPECT_EQ(Read("Text"), common::Value("42"));
  EXPECT_FALSE(Write("Text", kRegSz, common::Bytes{65}));
  EXPECT_FALSE(Write("Text", kRegSz, common::Value()));
  EXPECT_EQ(Read("Text"), common::Value("42"));

  EXPECT_FALSE(Write("Unknown", 6, "link"));
  EXPECT_FALSE(IsStored("Unknown"));
}

TEST_F(RegistryTest, CreateKeyFailureRaises26001) {
  registry_.SetSectionKey("Software\\Fernwick\\Tessera Server Manager\\Database Servers\\7");
  store_.FailOperation(RegistryOperation::kCreateKey, kErrorAccessDenied);
  try {
    registry_.CreateKey();
    FAIL() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(e.number(), 26001);
    EXPECT_EQ(e.source(), "TSAdmin.cRegistry");
    EXPECT_EQ(e.description(),
              "Failed to create registry Key: 'Software\\Fernwick\\Tessera Server "
              "Manager\\Database Servers\\7");
  }
  EXPECT_FALSE(registry_.KeyExists());
  EXPECT_TRUE(registry_.CreateKey());
  EXPECT_TRUE(registry_.KeyExists());

  // A malformed path is refused by the store the same way.
  registry_.SetSectionKey("\\Leading");
  EXPECT_THROW(registry_.CreateKey(), common::Error);
}

TEST_F(RegistryTest, FailedWriteRaises26001WithTheDetails) {
  registry_.SetSectionKey("Software\\S'; DROP");
  registry_.SetValueKey("ConnectionString");
  registry_.SetValueType(kRegSz);
  store_.FailOperation(RegistryOperation::kSetValue, kErrorRegistryIoFailed, 2);
  try {
    registry_.SetValue("Provider=SQLOLEDB;");
    FAIL() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(e.number(), 26001);
    EXPECT_EQ(e.source(), "TSAdmin.cRegistry");
    EXPECT_EQ(e.description(),
              "Failed to set registry value Key: '-2147483647',Section: 'Software\\S'; "
              "DROP',Key: 'ConnectionString' to value: 'Provider=SQLOLEDB;'\r\nErrorCode: 1016");
  }
  EXPECT_THROW(registry_.SetPlainString("x"), common::Error);
  EXPECT_FALSE(registry_.KeyExists()) << "a failed write left a key behind";

  // A mismatch is not a failure: nothing is raised.
  registry_.SetValueType(kRegDword);
  EXPECT_NO_THROW(EXPECT_FALSE(registry_.SetValue("x")));
}

TEST_F(RegistryTest, EnumerateSectionsListsSubkeysInOrder) {
  std::vector<std::string> names = {"stale"};
  int count = -1;
  EXPECT_TRUE(registry_.EnumerateSections(&names, &count));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(names.empty());

  for (const char* id : {"3", "1", "12"}) {
    registry_.SetSectionKey(std::string(kListKey) + "\\" + id);
    registry_.CreateKey();
  }
  registry_.SetSectionKey(kListKey);
  EXPECT_TRUE(registry_.EnumerateSections(&names, &count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(names, (std::vector<std::string>{"3", "1", "12"}));
}

TEST_F(RegistryTest, DeleteKeyLeavesKeysWithSubkeys) {
  registry_.SetSectionKey(std::string(kListKey) + "\\4\\Child");
  registry_.CreateKey();
  registry_.SetSectionKey(std::string(kListKey) + "\\4");
  EXPECT_FALSE(registry_.DeleteKey());
  EXPECT_TRUE(registry_.KeyExists());
  registry_.SetSectionKey(std::string(kListKey) + "\\4\\Child");
  EXPECT_TRUE(registry_.DeleteKey());
  registry_.SetSectionKey(std::string(kListKey) + "\\4");
  EXPECT_TRUE(registry_.DeleteKey());
  EXPECT_FALSE(registry_.KeyExists());
  EXPECT_FALSE(registry_.DeleteKey());
}

TEST_F(RegistryTest, LongAndHostileTextsRoundTrip) {
  std::string text(100000, 'x');
  text += "'; DROP TABLE x; -- [brackets] \"quotes\" \xC3\xA4";
  registry_.SetValueKey("Long");
  ASSERT_TRUE(registry_.SetPlainString(text));
  EXPECT_EQ(Read("Long"), common::Value(text));
}

TEST(LooksExpandableTest, NeedsOneCharacterBetweenThePercentSigns) {
  EXPECT_TRUE(LooksExpandable("%a%"));
  EXPECT_TRUE(LooksExpandable("x %PATH% y"));
  EXPECT_FALSE(LooksExpandable("%%"));
  EXPECT_FALSE(LooksExpandable("%"));
  EXPECT_FALSE(LooksExpandable("no percent"));
}

TEST(ExpandEnvironmentStringsTest, ExpandsKnownNamesOnly) {
  FakeEnvironment env{{"A", "1"}, {"PATH", "/bin"}, {"EMPTY", ""}};
  EXPECT_EQ(ExpandEnvironmentStrings("%A%-%PATH%", env), "1-/bin");
  EXPECT_EQ(ExpandEnvironmentStrings("%NOPE%", env), "%NOPE%");
  EXPECT_EQ(ExpandEnvironmentStrings("%NOPE%A%", env), "%NOPE1");
  EXPECT_EQ(ExpandEnvironmentStrings("%%A%%", env), "%1%");
  EXPECT_EQ(ExpandEnvironmentStrings("50% of %EMPTY%x", env), "50% of x");
  EXPECT_EQ(ExpandEnvironmentStrings("trailing %", env), "trailing %");
  EXPECT_EQ(ExpandEnvironmentStrings("%a%", env), "%a%") << "names are case-sensitive here";
}

}  // namespace
}  // namespace platform
