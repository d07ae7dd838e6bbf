// A program's database environment on the scripted fake server, with a statement log.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/test_support.h"
#include "db/command.h"
#include "db/connection.h"
#include "db/environment.h"
#include "db/recordset.h"
#include "db/testing/fake_driver.h"

namespace db {

// The database error `f` raises.
template <typename F>
Error CatchError(F&& f) {
  return common::testing::CatchError<Error>(f);
}

class FakeServerTest : public ::testing::Test {
 protected:
  FakeServerTest() {
    server_ = std::make_shared<testing::FakeServer>();
    DriverRegistry drivers;
    drivers.Add(std::make_shared<testing::FakeDriver>(server_));
    environment_ = Environment::Create(std::move(drivers));
    log_ = std::make_shared<StatementLog>();
    environment_->AddObserver(log_);
  }

  // An open connection to the fake server "SRV01".
  Connection Open(const std::string& extra = "Integrated Security=SSPI;") {
    Connection connection(environment_);
    connection.SetConnectionString("Provider=SQLOLEDB;Data Source=SRV01;" + extra);
    connection.Open();
    return connection;
  }

  std::shared_ptr<testing::FakeServer> server_;
  std::shared_ptr<Environment> environment_;
  std::shared_ptr<StatementLog> log_;
};

}  // namespace db
