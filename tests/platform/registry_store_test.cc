// Behaviour both registry stores share: the tree of keys, names without regard to case, values
// with their types and raw bytes, and the refusals of malformed input.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/memory_registry_store.h"
#include "platform/sqlite_registry_store.h"
#include "platform/temp_dir.h"

namespace platform {
namespace {

using platform_test::TempDir;

common::Bytes B(std::string_view text) { return common::Bytes(text.begin(), text.end()); }

struct MemoryStoreMaker {
  std::unique_ptr<RegistryStore> Make() { return std::make_unique<MemoryRegistryStore>(); }
};

struct SqliteStoreMaker {
  TempDir dir;
  std::unique_ptr<RegistryStore> Make() { return SqliteRegistryStore::Open(dir / "registry.db"); }
};

template <typename Maker>
class RegistryStoreTest : public ::testing::Test {
 protected:
  std::vector<std::string> Subkeys(std::string_view path, std::uint32_t root = kHkeyCurrentUser) {
    std::vector<std::string> names;
    EXPECT_EQ(store_->ListSubkeys(root, path, &names), kErrorSuccess) << path;
    return names;
  }

  Maker maker_;
  std::unique_ptr<RegistryStore> store_ = maker_.Make();
};

using StoreMakers = ::testing::Types<MemoryStoreMaker, SqliteStoreMaker>;
TYPED_TEST_SUITE(RegistryStoreTest, StoreMakers);

TYPED_TEST(RegistryStoreTest, CreatingAKeyCreatesItsParents) {
  auto& store = *this->store_;
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "Software\\Fernwick"), kErrorFileNotFound);
  EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, "Software\\Fernwick\\Servers\\7"), kErrorSuccess);
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "Software"), kErrorSuccess);
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "Software\\Fernwick\\Servers"), kErrorSuccess);
  EXPECT_EQ(this->Subkeys("Software\\Fernwick\\Servers"), std::vector<std::string>{"7"});
  // The root itself always exists.
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, ""), kErrorSuccess);
}

TYPED_TEST(RegistryStoreTest, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  auto& store = *this->store_;
  ASSERT_EQ(store.CreateKey(kHkeyCurrentUser, "Software\\Database Servers"), kErrorSuccess);
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "SOFTWARE\\database servers"), kErrorSuccess);
  EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, "software\\DATABASE SERVERS"), kErrorSuccess);
  EXPECT_EQ(this->Subkeys("Software"), std::vector<std::string>{"Database Servers"});

  ASSERT_EQ(store.SetValue(kHkeyCurrentUser, "Software", "LastServerID", {kRegDword, {1, 0, 0, 0}}),
            kErrorSuccess);
  ASSERT_EQ(store.SetValue(kHkeyCurrentUser, "software", "LASTSERVERID", {kRegDword, {2, 0, 0, 0}}),
            kErrorSuccess);
  RegistryData data;
  ASSERT_EQ(store.QueryValue(kHkeyCurrentUser, "SOFTWARE", "lastserverid", &data), kErrorSuccess);
  EXPECT_EQ(data, (RegistryData{kRegDword, {2, 0, 0, 0}}));
  std::vector<std::string> values;
  ASSERT_EQ(store.ListValues(kHkeyCurrentUser, "Software", &values), kErrorSuccess);
  EXPECT_EQ(values, std::vector<std::string>{"LastServerID"});
}

TYPED_TEST(RegistryStoreTest, SubkeysEnumerateInCreationOrder) {
  auto& store = *this->store_;
  for (const char* name : {"10", "2", "b", "A", "1"}) {
    ASSERT_EQ(store.CreateKey(kHkeyCurrentUser, std::string("List\\") + name), kErrorSuccess);
  }
  EXPECT_EQ(this->Subkeys("List"), (std::vector<std::string>{"10", "2", "b", "A", "1"}));
  ASSERT_EQ(store.DeleteKey(kHkeyCurrentUser, "List\\1"), kErrorSuccess);
  ASSERT_EQ(store.DeleteKey(kHkeyCurrentUser, "List\\2"), kErrorSuccess);
  ASSERT_EQ(store.CreateKey(kHkeyCurrentUser, "List\\2"), kErrorSuccess);
  EXPECT_EQ(this->Subkeys("List"), (std::vector<std::string>{"10", "b", "A", "2"}));
}

TYPED_TEST(RegistryStoreTest, AKeyWithSubkeysIsNotDeleted) {
  auto& store = *this->store_;
  ASSERT_EQ(store.CreateKey(kHkeyCurrentUser, "List\\7\\Extra"), kErrorSuccess);
  ASSERT_EQ(store.SetValue(kHkeyCurrentUser, "List\\7", "ConnectionString", {kRegSz, B("x\0")}),
            kErrorSuccess);
  EXPECT_EQ(store.DeleteKey(kHkeyCurrentUser, "List\\7"), kErrorAccessDenied);
  RegistryData data;
  EXPECT_EQ(store.QueryValue(kHkeyCurrentUser, "List\\7", "ConnectionString", &data),
            kErrorSuccess);
  EXPECT_EQ(this->Subkeys("List\\7"), std::vector<std::string>{"Extra"});

  // Leaf first, then the emptied parent goes too, values and all.
  EXPECT_EQ(store.DeleteKey(kHkeyCurrentUser, "List\\7\\Extra"), kErrorSuccess);
  EXPECT_EQ(store.DeleteKey(kHkeyCurrentUser, "list\\7"), kErrorSuccess);
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "List\\7"), kErrorFileNotFound);
  EXPECT_EQ(store.DeleteKey(kHkeyCurrentUser, "List\\7"), kErrorFileNotFound);
  ASSERT_EQ(store.CreateKey(kHkeyCurrentUser, "List\\7"), kErrorSuccess);
  EXPECT_EQ(store.QueryValue(kHkeyCurrentUser, "List\\7", "ConnectionString", &data),
            kErrorFileNotFound);
  EXPECT_EQ(store.DeleteKey(kHkeyCurrentUser, ""), kErrorAccessDenied);
}

TYPED_TEST(RegistryStoreTest, ValuesKeepTheirTypeAndRawBytes) {
  auto& store = *this->store_;
  const std::vector<std::pair<std::string, RegistryData>> values = {
      {"sz", {kRegSz, B(std::string_view("Provider=SQLOLEDB;\0", 19))}},
      {"expand", {kRegExpandSz, B(std::string_view("%TEMP%\\x\0", 9))}},
      {"binary", {kRegBinary, {0, 255, 0, 1}}},
      {"empty", {kRegBinary, {}}},
      {"dword", {kRegDword, {0x78, 0x56, 0x34, 0x12}}},
      {"be", {kRegDwordBigEndian, {0x12, 0x34, 0x56, 0x78}}},
      {"multi", {kRegMultiSz, B(std::string_view("a\0b\0\0", 5))}},
      {"", {kRegSz, B(std::string_view("default\0", 8))}},
  };
  for (const auto& [name, data] : values) {
    ASSERT_EQ(store.SetValue(kHkeyCurrentUser, "Types", name, data), kErrorSuccess) << name;
  }
  for (const auto& [name, data] : values) {
    RegistryData read;
    ASSERT_EQ(store.QueryValue(kHkeyCurrentUser, "Types", name, &read), kErrorSuccess) << name;
    EXPECT_EQ(read, data) << name;
  }
  std::vector<std::string> names;
  ASSERT_EQ(store.ListValues(kHkeyCurrentUser, "Types", &names), kErrorSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"sz", "expand", "binary", "empty", "dword", "be",
                                             "multi", ""}));
  EXPECT_EQ(store.DeleteValue(kHkeyCurrentUser, "Types", "BINARY"), kErrorSuccess);
  EXPECT_EQ(store.DeleteValue(kHkeyCurrentUser, "Types", "binary"), kErrorFileNotFound);
  RegistryData read;
  EXPECT_EQ(store.QueryValue(kHkeyCurrentUser, "Types", "binary", &read), kErrorFileNotFound);
  EXPECT_EQ(store.QueryValue(kHkeyCurrentUser, "NoSuchKey", "sz", &read), kErrorFileNotFound);
}

TYPED_TEST(RegistryStoreTest, RootsAreSeparateTrees) {
  auto& store = *this->store_;
  ASSERT_EQ(store.SetValue(kHkeyCurrentUser, "Software", "v", {kRegDword, {1, 0, 0, 0}}),
            kErrorSuccess);
  ASSERT_EQ(store.SetValue(kHkeyCurrentUser, "", "v", {kRegDword, {3, 0, 0, 0}}), kErrorSuccess);
  EXPECT_EQ(store.OpenKey(kHkeyLocalMachine, "Software"), kErrorFileNotFound);
  ASSERT_EQ(store.SetValue(kHkeyLocalMachine, "Software", "v", {kRegDword, {2, 0, 0, 0}}),
            kErrorSuccess);
  RegistryData user, machine, root_value;
  ASSERT_EQ(store.QueryValue(kHkeyCurrentUser, "Software", "v", &user), kErrorSuccess);
  ASSERT_EQ(store.QueryValue(kHkeyLocalMachine, "Software", "v", &machine), kErrorSuccess);
  ASSERT_EQ(store.QueryValue(kHkeyCurrentUser, "", "v", &root_value), kErrorSuccess);
  EXPECT_EQ(user.bytes[0], 1);
  EXPECT_EQ(machine.bytes[0], 2);
  EXPECT_EQ(root_value.bytes[0], 3);
  EXPECT_EQ(store.QueryValue(kHkeyLocalMachine, "", "v", &root_value), kErrorFileNotFound);
  EXPECT_EQ(store.OpenKey(0x12345678u, ""), kErrorInvalidHandle);
  EXPECT_EQ(store.CreateKey(7u, "Software"), kErrorInvalidHandle);
}

TYPED_TEST(RegistryStoreTest, MalformedPathsAndNamesAreRefused) {
  auto& store = *this->store_;
  EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, "\\Software"), kErrorBadPathname);
  EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, "Software\\\\x"), kErrorBadPathname);
  EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, std::string("a\0b", 3)), kErrorBadPathname);
  EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, "Software\\" + std::string(256, 'k')),
            kErrorInvalidParameter);
  EXPECT_EQ(store.SetValue(kHkeyCurrentUser, "ok", std::string(16384, 'v'), {kRegSz, {0}}),
            kErrorInvalidParameter);
  EXPECT_EQ(store.SetValue(kHkeyCurrentUser, "ok", "big",
                           {kRegBinary, common::Bytes(kMaxValueDataSize + 1, 1)}),
            kErrorInvalidParameter);
  EXPECT_EQ(store.SetValue(kHkeyCurrentUser, "ok", "type", {12, {0}}), kErrorInvalidParameter);
  // Nothing of the refused calls was created.
  EXPECT_EQ(this->Subkeys(""), std::vector<std::string>{});

  // A trailing backslash is tolerated; the longest names are fine.
  EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, "Software\\"), kErrorSuccess);
  EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, "Software\\" + std::string(255, 'k')), kErrorSuccess);
  EXPECT_EQ(this->Subkeys("").size(), 1u);
}

TYPED_TEST(RegistryStoreTest, HostileNamesAreJustNames) {
  auto& store = *this->store_;
  const std::string key = "Srv'); DROP TABLE registry_keys; --\\[x]\\\"q\"";
  const std::string value = "ConnectionString' OR '1'='1";
  ASSERT_EQ(store.SetValue(kHkeyCurrentUser, key, value, {kRegSz, B("a;b'c\0")}), kErrorSuccess);
  RegistryData data;
  ASSERT_EQ(store.QueryValue(kHkeyCurrentUser, key, value, &data), kErrorSuccess);
  EXPECT_EQ(data.bytes, B("a;b'c\0"));
  EXPECT_EQ(store.QueryValue(kHkeyCurrentUser, key, "ConnectionString", &data), kErrorFileNotFound);
  EXPECT_EQ(this->Subkeys(""), std::vector<std::string>{"Srv'); DROP TABLE registry_keys; --"});
  EXPECT_EQ(this->Subkeys("Srv'); DROP TABLE registry_keys; --\\[X]"),
            std::vector<std::string>{"\"q\""});
}

TEST(MemoryRegistryStoreTest, InjectedFailuresChangeNothing) {
  MemoryRegistryStore store;
  store.FailOperation(RegistryOperation::kSetValue, kErrorRegistryIoFailed, 2);
  EXPECT_EQ(store.SetValue(kHkeyCurrentUser, "K", "v", {kRegSz, {0}}), kErrorRegistryIoFailed);
  EXPECT_EQ(store.SetValue(kHkeyCurrentUser, "K", "v", {kRegSz, {0}}), kErrorRegistryIoFailed);
  EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "K"), kErrorFileNotFound);
  EXPECT_EQ(store.SetValue(kHkeyCurrentUser, "K", "v", {kRegSz, {0}}), kErrorSuccess);

  store.FailOperation(RegistryOperation::kOpenKey, kErrorAccessDenied, -1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(store.OpenKey(kHkeyCurrentUser, "K"), kErrorAccessDenied);
}

}  // namespace
}  // namespace platform
