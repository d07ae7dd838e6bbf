// A scratch sandbox instance served over TDS on a free loopback port, and a database environment
// whose only driver is the ODBC one: what these tests send crosses the network protocol.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "db/connection.h"
#include "db/drivers/odbc/odbc_driver.h"
#include "db/environment.h"
#include "sandbox/server.h"
#include "sandbox/tds/server.h"

namespace db {

// Quotes, brackets, a semicolon, a brace and non-ASCII: what a connection string must carry.
inline const std::string kSaPassword = "Pa'ss]; w\xC3\xB6rd}=";

class OdbcServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (DefaultOdbcDriver() == "FreeTDS")
      GTEST_SKIP()
          << "FreeTDS's ODBC driver is not installed (scripts/setup-deps installs tdsodbc)";
    static std::atomic<int> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            ("odbc-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    host_ = sandbox::OpenHost(root_ / "instances");
    sandbox::InstanceConfig config;
    config.sa_password = kSaPassword;
    instance_ = host_->Create("", config);
    server_ = std::make_unique<sandbox::tds::Server>(
        instance_, sandbox::tds::ServerOptions{"127.0.0.1", 0}, nullptr);
    port_ = server_->Start();
    driver_ = std::make_shared<OdbcDriver>();
    DriverRegistry drivers;
    drivers.Add(driver_);
    environment_ = Environment::Create(std::move(drivers));
  }
  void TearDown() override {
    server_.reset();
    instance_.reset();
    host_.reset();
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }

  std::string DataSource() const { return "127.0.0.1," + std::to_string(port_); }

  std::string ConnectionString(const std::string& extra = {}) const {
    return "Provider=SQLOLEDB;Data Source=" + DataSource() +
           ";User Id=sa;Password=" + ConnectionString::QuoteValue(kSaPassword) + ";" + extra;
  }

  Connection Open(const std::string& extra = {}) {
    Connection connection(environment_);
    connection.SetConnectionString(ConnectionString(extra));
    connection.Open();
    return connection;
  }

  std::filesystem::path root_;
  std::shared_ptr<sandbox::Host> host_;
  std::shared_ptr<sandbox::Instance> instance_;
  std::unique_ptr<sandbox::tds::Server> server_;
  int port_ = 0;
  std::shared_ptr<OdbcDriver> driver_;
  std::shared_ptr<Environment> environment_;
};

}  // namespace db
