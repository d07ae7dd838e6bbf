// The file store: where it lives, who may read it, and two processes writing at once.
#include "platform/sqlite_registry_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>

#include "common/error.h"
#include "platform/temp_dir.h"

namespace platform {
namespace {

using platform_test::TempDir;

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

TEST(DefaultRegistryPathTest, FollowsTheOverrideThenTheConfigFolder) {
  FakeEnvironment env{{"HOME", "/home/ann"}};
  EXPECT_EQ(DefaultRegistryPath(env), "/home/ann/.config/tessera-server-manager/registry.db");
  env.Set("XDG_CONFIG_HOME", "relative/ignored");
  EXPECT_EQ(DefaultRegistryPath(env), "/home/ann/.config/tessera-server-manager/registry.db");
  env.Set("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(DefaultRegistryPath(env), "/cfg/tessera-server-manager/registry.db");
  env.Set("TESSERA_REGISTRY", "");
  EXPECT_EQ(DefaultRegistryPath(env), "/cfg/tessera-server-manager/registry.db");
  env.Set("TESSERA_REGISTRY", "/tmp/other.db");
  EXPECT_EQ(DefaultRegistryPath(env), "/tmp/other.db");
}

TEST(SqliteRegistryStoreTest, CreatesAPrivateFileInPrivateFolders) {
  TempDir dir;
  ::umask(022);
  auto path = dir / "config" / "tessera-server-manager" / "registry.db";
  auto store = SqliteRegistryStore::Open(path);
  ASSERT_EQ(store->SetValue(kHkeyCurrentUser, "K", "v", {kRegSz, {'x', 0}}), kErrorSuccess);
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(ModeOf(path.parent_path()), 0700u);
  EXPECT_EQ(ModeOf(path.parent_path().parent_path()), 0700u);
  // The journal holds the same data and must be just as private.
  auto wal = path;
  wal += "-wal";
  if (std::filesystem::exists(wal)) {
    EXPECT_EQ(ModeOf(wal), 0600u);
  }
}

TEST(SqliteRegistryStoreTest, KeepsDataAcrossReopening) {
  TempDir dir;
  {
    auto store = SqliteRegistryStore::Open(dir / "r.db");
    ASSERT_EQ(store->SetValue(kHkeyCurrentUser, "A\\B", "n", {kRegDword, {9, 0, 0, 0}}),
              kErrorSuccess);
    ASSERT_EQ(store->CreateKey(kHkeyCurrentUser, "A\\C"), kErrorSuccess);
  }
  auto store = SqliteRegistryStore::Open(dir / "r.db");
  RegistryData data;
  ASSERT_EQ(store->QueryValue(kHkeyCurrentUser, "a\\b", "N", &data), kErrorSuccess);
  EXPECT_EQ(data, (RegistryData{kRegDword, {9, 0, 0, 0}}));
  std::vector<std::string> names;
  ASSERT_EQ(store->ListSubkeys(kHkeyCurrentUser, "A", &names), kErrorSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"B", "C"}));
}

TEST(SqliteRegistryStoreTest, RefusesFilesThatAreNotAStore) {
  TempDir dir;
  auto garbage = dir.Write("garbage.db", std::string(4096, 'G'));
  try {
    SqliteRegistryStore::Open(garbage);
    FAIL() << "a file of garbage opened as a registry store";
  } catch (const common::Error& e) {
    EXPECT_EQ(e.number(), kErrorRegistryIoFailed);
    EXPECT_NE(e.description().find(garbage.string()), std::string::npos) << e.description();
  }
  // The garbage is left as it was.
  EXPECT_EQ(std::filesystem::file_size(garbage), 4096u);

  // A folder where the file should be.
  std::filesystem::create_directory(dir / "folder.db");
  EXPECT_THROW(SqliteRegistryStore::Open(dir / "folder.db"), common::Error);

  // An SQLite file of some other program with a newer format number.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "newer.db").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_THROW(SqliteRegistryStore::Open(dir / "newer.db"), common::Error);
}

// Each child writes its own values and overwrites shared ones; afterwards the file must be sound
// and every value must be one that some process wrote.
TEST(SqliteRegistryStoreTest, TwoProcessesWriteAtOnceWithoutDamage) {
  TempDir dir;
  auto path = dir / "shared.db";
  constexpr int kWrites = 300;
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      try {
        auto store = SqliteRegistryStore::Open(path);
        for (int i = 0; i < kWrites; ++i) {
          std::string own = "P" + std::to_string(child) + "\\" + std::to_string(i % 17);
          std::uint8_t tag = static_cast<std::uint8_t>(child + 1);
          if (store->SetValue(kHkeyCurrentUser, own, "v" + std::to_string(i),
                              {kRegDword, {tag, 0, 0, 0}}) != kErrorSuccess) {
            ++failures;
          }
          if (store->SetValue(kHkeyCurrentUser, "Shared\\" + std::to_string(i % 5), "LastServerID",
                              {kRegDword,
                               {tag, static_cast<std::uint8_t>(i & 0xFF),
                                static_cast<std::uint8_t>(i >> 8), 0}}) != kErrorSuccess) {
            ++failures;
          }
        }
      } catch (const std::exception& e) {
        fprintf(stderr, "writer %d: %s\n", child, e.what());
        _exit(3);
      }
      _exit(failures == 0 ? 0 : 2);
    }
    children[child] = pid;
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a writer failed";
  }

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);

  auto store = SqliteRegistryStore::Open(path);
  for (int child = 0; child < 2; ++child) {
    std::vector<std::string> keys;
    ASSERT_EQ(store->ListSubkeys(kHkeyCurrentUser, "P" + std::to_string(child), &keys),
              kErrorSuccess);
    EXPECT_EQ(keys.size(), 17u);
    for (int i = 0; i < kWrites; ++i) {
      RegistryData data;
      std::string own = "P" + std::to_string(child) + "\\" + std::to_string(i % 17);
      ASSERT_EQ(store->QueryValue(kHkeyCurrentUser, own, "v" + std::to_string(i), &data),
                kErrorSuccess);
      EXPECT_EQ(data, (RegistryData{kRegDword, {static_cast<std::uint8_t>(child + 1), 0, 0, 0}}));
    }
  }
  std::vector<std::string> shared;
  ASSERT_EQ(store->ListSubkeys(kHkeyCurrentUser, "Shared", &shared), kErrorSuccess);
  EXPECT_EQ(shared.size(), 5u) << "a key was created twice or lost";
  for (int k = 0; k < 5; ++k) {
    RegistryData data;
    ASSERT_EQ(
        store->QueryValue(kHkeyCurrentUser, "Shared\\" + std::to_string(k), "LastServerID", &data),
        kErrorSuccess);
    ASSERT_EQ(data.bytes.size(), 4u);
    EXPECT_TRUE(data.bytes[0] == 1 || data.bytes[0] == 2);
    // Whichever process wrote last, its last write of this key was i = kWrites - 5 + k.
    EXPECT_EQ(data.bytes[1] | data.bytes[2] << 8, kWrites - 5 + k);
  }
}

// A body's writes are stored together or not at all; the store's calls inside it join it, and
// a body inside another joins the outer one.
TEST(SqliteRegistryStoreTest, TransactStoresABodyWholeOrNotAtAll) {
  TempDir dir;
  auto store = SqliteRegistryStore::Open(dir / "r.db");
  const RegistryData one{kRegDword, {1, 0, 0, 0}};
  auto has = [&](std::string_view key) {
    return store->OpenKey(kHkeyCurrentUser, key) == kErrorSuccess;
  };

  EXPECT_EQ(store->Transact([&] {
    EXPECT_EQ(store->SetValue(kHkeyCurrentUser, "A", "v", one), kErrorSuccess);
    return store->Transact([&] { return store->CreateKey(kHkeyCurrentUser, "A\\B"); });
  }),
            kErrorSuccess);
  EXPECT_TRUE(has("A\\B"));

  struct Case {
    const char* name;
    std::function<RegResult()> last_step;
  };
  const std::vector<Case> failures = {
      {"a failing result", [] { return kErrorAccessDenied; }},
      {"an exception", []() -> RegResult { throw common::Error(26001, "test", "failed"); }},
      {"a failing inner body", [&] { return store->Transact([] { return kErrorFileNotFound; }); }},
  };
  for (const Case& c : failures) {
    SCOPED_TRACE(c.name);
    RegResult result = kErrorSuccess;
    try {
      result = store->Transact([&] {
        EXPECT_EQ(store->SetValue(kHkeyCurrentUser, "C\\D", "v", one), kErrorSuccess);
        EXPECT_EQ(store->DeleteKey(kHkeyCurrentUser, "A\\B"), kErrorSuccess);
        return c.last_step();
      });
    } catch (const common::Error&) {
      result = kErrorRegistryIoFailed;
    }
    EXPECT_NE(result, kErrorSuccess);
    EXPECT_FALSE(has("C")) << "a write of the undone body stayed";
    EXPECT_TRUE(has("A\\B")) << "a deletion of the undone body stayed";
  }
  // The store works as before after an undone body.
  EXPECT_EQ(store->SetValue(kHkeyCurrentUser, "E", "v", one), kErrorSuccess);
  EXPECT_TRUE(has("E"));
}

}  // namespace
}  // namespace platform
