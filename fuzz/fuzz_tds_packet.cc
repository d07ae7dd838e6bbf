// TDS packets as a network client sends them: the input is the client's side of a connection.
// Its messages are read and handed to every request parser, then the same bytes go through a
// whole conversation with the listener (over a socket pair, on a stand-in instance whose
// sessions answer every batch with a row set), so framing, login and request handling meet
// hostile bytes. A malformed request must end its connection with a logged reason; a crash,
// a hang or unbounded memory is a finding.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sandbox/server.h"
#include "sandbox/tds/protocol.h"
#include "sandbox/tds/rpc.h"
#include "sandbox/tds/server.h"
#include "sandbox/tds/wire.h"

namespace {

namespace tds = sandbox::tds;

// Echoes each batch back as a one-row result (with the text as its value); the parameters of a
// remote procedure call come back as their OUTPUT values, so every parameter type is written as
// a return value too; "many" in a batch
// adds 3000 rows, "error" gives an error after the rows, as a statement failing mid-result
// does, and "use" changes the database.
class EchoSession : public sandbox::Session {
 public:
  int spid() const override { return 51; }
  void Execute(std::string_view batch, std::vector<sandbox::Parameter>& parameters,
               sandbox::ResultSink& sink, std::chrono::milliseconds) override {
    for (sandbox::Parameter& p : parameters)
      if (p.output && p.value.IsNull()) p.value = common::Value(p.name);
    sandbox::Column text;
    text.name = "text";
    text.type_name = "nvarchar";
    text.size = 4000;
    sandbox::Column number;
    number.name = "n";
    number.type_name = "int";
    number.value_type = common::Value::Type::kInt;
    sink.BeginRowSet({text, number});
    sink.Row(
        {common::Value(std::string(batch)), common::Value(static_cast<long long>(batch.size()))});
    // A result long enough to stream, so that whatever else the input holds arrives while
    // rows are being sent.
    if (batch.find("many") != std::string_view::npos) {
      for (int i = 0; i < 3000; ++i)
        sink.Row({common::Value("row"), common::Value(static_cast<long long>(i))});
    }
    if (batch.find("error") != std::string_view::npos) {
      sandbox::ServerMessage error;
      error.number = 208;
      error.severity = 16;
      error.text = "Invalid object name.";
      sink.Message(error);
    }
    sink.EndRowSet();
    sink.Done(1);
    if (batch.find("use") != std::string_view::npos) database_ = "tempdb";
  }
  std::string CurrentDatabase() const override { return database_; }
  void Close() override {}

 private:
  std::string database_ = "master";
};

class EchoInstance : public sandbox::Instance {
 public:
  std::string name() const override { return ""; }
  std::unique_ptr<sandbox::Session> Connect(const sandbox::LoginRequest& request) override {
    if (request.login != "sa") {
      sandbox::ServerMessage refused;
      refused.number = 18456;
      refused.severity = 14;
      refused.text = "Login failed for user '" + request.login + "'.";
      throw sandbox::ConnectError(refused);
    }
    return std::make_unique<EchoSession>();
  }
  sandbox::InstanceConfig config() const override { return {}; }
  void SetRunning(bool) override {}
  std::filesystem::path directory() const override { return {}; }
  std::filesystem::path MapPath(std::string_view) const override { return {}; }
  void InjectFault(sandbox::Fault) override {}
  void ClearFaults() override {}
  bool DropSession(int) override { return false; }
};

// Every parser on every message the input holds, whatever the conversation's state.
void ParseEach(std::string_view input) {
  std::size_t position = 0;
  auto read = [&](char* buffer, std::size_t count) {
    std::size_t n = std::min(count, input.size() - position);
    std::memcpy(buffer, input.data() + position, n);
    position += n;
    return n;
  };
  try {
    tds::Message message;
    while (tds::ReadMessage(read, 1u << 20, &message)) {
      const std::string& p = message.payload;
      auto attempt = [](auto&& parse) {
        try {
          parse();
        } catch (const tds::ProtocolError&) {
        }
      };
      attempt([&] { tds::ParsePrelogin(p); });
      attempt([&] { tds::ParseLogin7(p); });
      for (std::uint32_t version : {tds::kTds70, tds::kTds71, tds::kTds72, tds::kTds74}) {
        attempt([&] { tds::ParseSqlBatch(p, version); });
        attempt([&] { tds::ParseTransactionRequest(p, version); });
        attempt([&] { tds::ParseRpcRequest(p, version); });
      }
    }
  } catch (const tds::ProtocolError&) {
  }
}

// Sends the input to the listener's side and reads whatever comes back until it closes.
void Client(int fd, std::string_view input) {
  std::size_t sent = 0;
  bool writing = true;
  char buffer[16384];
  for (;;) {
    if (writing && sent == input.size()) {
      ::shutdown(fd, SHUT_WR);
      writing = false;
    }
    pollfd p{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got == 0) return;
      if (got < 0 && errno != EAGAIN && errno != EINTR) return;
    }
    if (writing && (p.revents & POLLOUT)) {
      ssize_t n = ::send(fd, input.data() + sent, input.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) writing = false;
    }
  }
}

void Converse(std::string_view input) {
  static EchoInstance instance;
  static std::mutex login_mutex;
  tds::ServerOptions options;
  options.max_message = 1u << 20;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  std::thread client([&] { Client(fds[1], input); });
  std::vector<std::string> lines;
  tds::ServeConnection(
      fds[0], instance, options, [&](std::string_view line) { lines.emplace_back(line); }, "fuzz",
      login_mutex);
  ::shutdown(fds[0], SHUT_RDWR);
  client.join();
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ParseEach(input);
  Converse(input);
  return 0;
}
