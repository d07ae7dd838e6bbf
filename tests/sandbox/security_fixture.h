// Sessions of several logins on one sandbox instance, for the tests of logins, users, roles
// and permissions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {

class SecurityTest : public SandboxTest {
 protected:
  // A session of a local account with integrated security.
  std::unique_ptr<Session> AsWindows(Instance& instance, const std::string& os_user,
                                     const std::string& database = "") {
    LoginRequest request;
    request.integrated = true;
    request.os_user = os_user;
    request.database = database;
    return instance.Connect(request);
  }
  // The error number a refused connection gives (0 when it was accepted), and its text.
  ServerMessage Refusal(Instance& instance, const LoginRequest& request) {
    try {
      instance.Connect(request);
    } catch (const ConnectError& e) {
      return e.message();
    }
    return ServerMessage{};
  }
  ServerMessage SqlRefusal(const std::string& login, const std::string& password) {
    LoginRequest request;
    request.login = login;
    request.password = password;
    return Refusal(*instance_, request);
  }
  std::int32_t Error(Session& session, const std::string& batch) {
    return Run(session, batch).FirstError();
  }
  std::int32_t Error(const std::string& batch) { return Run(batch).FirstError(); }
  // The text of the first error of a batch.
  std::string ErrorText(Session& session, const std::string& batch) {
    CollectingSink sink = Run(session, batch);
    return sink.Errors().empty() ? std::string() : sink.Errors()[0]->text;
  }
  std::string ErrorText(const std::string& batch) { return ErrorText(*session_, batch); }
  // The informational messages of a batch that must succeed.
  std::vector<std::string> Infos(Session& session, const std::string& batch) {
    CollectingSink sink = Run(session, batch);
    EXPECT_EQ(sink.FirstError(), 0) << batch << "\n" << sink.ErrorText();
    std::vector<std::string> out;
    for (const ServerMessage& m : sink.messages)
      if (!m.IsError()) out.push_back(m.text);
    return out;
  }
  std::vector<std::string> Infos(const std::string& batch) { return Infos(*session_, batch); }
  common::Value ScalarOf(Session& session, const std::string& batch) {
    RowSet set = Query(session, batch);
    if (set.rows.size() != 1 || set.rows[0].size() != 1) {
      ADD_FAILURE() << "expected one value from: " << batch;
      return {};
    }
    return set.rows[0][0];
  }
  // A SQL login made by sa, with server roles.
  void AddLogin(const std::string& name, const std::string& password,
                const std::vector<std::string>& roles = {}) {
    Ok("EXEC sp_addlogin '" + name + "', '" + password + "'");
    for (const std::string& role : roles)
      Ok("EXEC sp_addsrvrolemember '" + name + "', '" + role + "'");
  }
  std::vector<std::string> Column(const RowSet& set, size_t column) {
    std::vector<std::string> out;
    for (const auto& row : set.rows) out.push_back(row.at(column).ToText());
    return out;
  }
};

}  // namespace sandbox::testing
