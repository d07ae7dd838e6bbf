// Registrations on fake platform services and a scripted fake server, with every statement
// logged and every catalogue a server creates recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "db/environment.h"
#include "db/observer.h"
#include "db/testing/fake_driver.h"
#include "platform/testing/fake_platform.h"
#include "platform/registry.h"
#include "servers/catalogue.h"
#include "servers/context.h"
#include "servers/registration_keys.h"
#include "servers/server.h"

namespace servers::testing {

// What the catalogues of a test were told.
struct CatalogueLog {
  int created = 0;
  int set_server_calls = 0;
  Server* server = nullptr;
  // The server connection's state when the catalogue was given its server.
  int connection_state_at_set = -1;
  std::vector<FoundCollection> found;
  // AddExisting raises an error for the collection of this display name.
  std::string fail_on;
};

class RecordingCatalogue : public CollectionCatalogue {
 public:
  explicit RecordingCatalogue(std::shared_ptr<CatalogueLog> log) : log_(std::move(log)) {}

  void SetServer(Server& server) override {
    ++log_->set_server_calls;
    log_->server = &server;
    log_->connection_state_at_set = server.Connection().State();
  }
  void AddExisting(const FoundCollection& found) override {
    if (!log_->fail_on.empty() && found.name == log_->fail_on) {
      throw common::Error(-2147467259, "Microsoft OLE DB Provider for SQL Server",
                          "Cannot open database '" + found.database_name + "'.");
    }
    log_->found.push_back(found);
  }

 private:
  std::shared_ptr<CatalogueLog> log_;
};

inline constexpr char kSrv01[] =
    "Provider=SQLOLEDB;Data Source=SRV01;Integrated Security=SSPI;Persist Security Info=False";
inline constexpr char kSrv02[] =
    "Provider=SQLOLEDB;Data Source=SRV02\\ARCHIVE;User Id=sa;Password=secret";
inline constexpr char kSrv03[] = "Provider=SQLOLEDB;Data Source=SRV03;Integrated Security=SSPI";

class ServersFixture : public ::testing::Test {
 protected:
  ServersFixture() {
    fake_ = std::make_shared<db::testing::FakeServer>();
    db::DriverRegistry drivers;
    drivers.Add(std::make_shared<db::testing::FakeDriver>(fake_));
    environment_ = db::Environment::Create(std::move(drivers));
    log_ = std::make_shared<db::StatementLog>();
    environment_->AddObserver(log_);
    catalogues_ = std::make_shared<CatalogueLog>();
  }

  Context MakeContext() {
    auto log = catalogues_;
    return Context{platform_.services(), environment_, [log] {
                     ++log->created;
                     return std::make_unique<RecordingCatalogue>(log);
                   }};
  }

  // A machine that answers the echo and reports the join state.
  void Answering(const std::string& machine, std::string address = "10.0.0.1",
                 int join_status = platform::kJoinStatusWorkgroup) {
    platform::FakeNetworkProbe::Machine m;
    m.echo = platform::kEchoSuccess;
    m.address = std::move(address);
    m.join = {join_status, join_status == platform::kJoinStatusDomain ? "CORP" : "WORKGROUP"};
    platform_.network.SetMachine(machine, m);
  }
  // A machine whose echo times out.
  void Silent(const std::string& machine) {
    platform::FakeNetworkProbe::Machine m;
    m.echo = platform::kIpReqTimedOut;
    m.address = "10.0.0.99";
    platform_.network.SetMachine(machine, m);
  }

  // A registration as an earlier session left it; position 0 writes none.
  void Store(std::int32_t id, const std::string& connection_string, std::int32_t position) {
    registry_.SetSectionKey(RegistrationKey(id));
    registry_.CreateKey();
    registry_.SetValueKey(kConnectionStringValue);
    registry_.SetPlainString(connection_string);
    if (position != 0) WriteNumber(registry_, RegistrationKey(id), kOrdinalPositionValue, position);
  }
  std::int32_t StoredPosition(std::int32_t id) {
    return ReadNumber(registry_, RegistrationKey(id), kOrdinalPositionValue);
  }
  bool HasValue(const std::string& key, const std::string& name) {
    platform::RegistryData data;
    return platform_.registry.QueryValue(platform::kHkeyCurrentUser, key, name, &data) ==
           platform::kErrorSuccess;
  }
  platform::RegistryData StoredData(const std::string& key, const std::string& name) {
    platform::RegistryData data;
    platform_.registry.QueryValue(platform::kHkeyCurrentUser, key, name, &data);
    return data;
  }
  std::string StoredConnectionString(std::int32_t id) {
    platform::RegistryData data = StoredData(RegistrationKey(id), kConnectionStringValue);
    std::string text(data.bytes.begin(), data.bytes.end());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  bool KeyExists(const std::string& key) {
    return platform_.registry.OpenKey(platform::kHkeyCurrentUser, key) == platform::kErrorSuccess;
  }
  std::int32_t LastServerId() { return ReadNumber(registry_, kServerListKey, kLastServerIdValue); }

  // A registration of SRV01 (reachable) that has connected.
  std::unique_ptr<Server> ConnectedServer(const std::string& connection_string = kSrv01,
                                          const std::string& machine = "SRV01") {
    Answering(machine);
    auto server = std::make_unique<Server>(MakeContext(), 1);
    server->SetConnectionString(connection_string);
    EXPECT_TRUE(server->Connect()) << server->Description();
    log_->Clear();
    fake_->ClearCalls();
    return server;
  }

  // The statements sent on the server's connection, in order.
  std::vector<std::string> TextsOf(Server& server) {
    return log_->TextsOn(server.Connection().Id());
  }

  platform::FakePlatform platform_;
  std::shared_ptr<db::testing::FakeServer> fake_;
  std::shared_ptr<db::Environment> environment_;
  std::shared_ptr<db::StatementLog> log_;
  std::shared_ptr<CatalogueLog> catalogues_;
  platform::cRegistry registry_{platform_.registry, platform_.environment};
};

}  // namespace servers::testing
