// Several processes registering servers in one per-user registry file at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "fixture.h"
#include "platform/sqlite_registry_store.h"
#include "servers/registration_keys.h"
#include "servers/servers.h"

namespace servers {
namespace {

class ParallelAddTest : public testing::ServersFixture {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::path(TESSERA_BINARY_DIR) / ("parallel-add-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  // Registers `count` servers that do not answer (stored, not connected) through a registration
  // list of its own on the shared file; the process's exit status.
  [[noreturn]] void AddInChild(int process, int count) {
    int status = 0;
    try {
      auto store = platform::SqliteRegistryStore::Open(folder_ / "registry.db");
      platform::Services services = platform_.services();
      platform::Services shared{
          services.environment, *store,          services.network, services.service_control,
          services.discovery,   services.system, services.ui,      services.files};
      Servers list(Context{shared, environment_, nullptr});
      for (int i = 0; i < count; ++i) {
        std::string text = "Provider=SQLOLEDB;Data Source=P" + std::to_string(process) + "N" +
                           std::to_string(i) + ";Integrated Security=SSPI;";
        if (list.Add(text) != nullptr || list.LastUnconnected() == nullptr) status = 2;
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "process %d: %s\n", process, error.what());
      status = 3;
    }
    std::fflush(nullptr);
    ::_exit(status);
  }

  std::filesystem::path folder_;
};

// Each registration gets an identifier of its own and keeps its connection string: none is
// overwritten by another process that took the same LastServerID.
TEST_F(ParallelAddTest, FourProcessesAddingAtOnceLoseNoRegistration) {
  constexpr int kProcesses = 4;
  constexpr int kEach = 25;
  std::vector<pid_t> children;
  for (int process = 0; process < kProcesses; ++process) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) AddInChild(process, kEach);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  auto store = platform::SqliteRegistryStore::Open(folder_ / "registry.db");
  platform::cRegistry registry(*store, platform_.environment);
  std::vector<std::int32_t> ids = RegistrationIds(registry);
  EXPECT_EQ(ids.size(), static_cast<size_t>(kProcesses * kEach));
  EXPECT_EQ(ReadNumber(registry, kServerListKey, kLastServerIdValue), kProcesses * kEach);
  std::set<std::string> texts;
  std::set<std::int32_t> positions;
  for (std::int32_t id : ids) {
    registry.SetSectionKey(RegistrationKey(id));
    registry.SetValueKey(kConnectionStringValue);
    registry.SetDefault(common::Value(0));
    texts.insert(registry.Value().ToText());
    positions.insert(ReadNumber(registry, RegistrationKey(id), kOrdinalPositionValue));
  }
  EXPECT_EQ(texts.size(), static_cast<size_t>(kProcesses * kEach)) << "a registration was lost";
  EXPECT_EQ(positions.size(), static_cast<size_t>(kProcesses * kEach))
      << "two registrations share a position";
}

}  // namespace
}  // namespace servers
