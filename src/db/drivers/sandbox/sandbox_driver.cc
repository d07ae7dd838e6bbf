#include "db/drivers/sandbox/sandbox_driver.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <exception>
#include <functional>

#include "db/error.h"

namespace db {

namespace {

constexpr char kPrefix[] = "(sandbox)";

Error NetworkError() {
  return Error(kErrorUnspecified, kProviderSource,
               "[DBNETLIB][ConnectionWrite (send()).]General network error. Check your network "
               "documentation.",
               11, 16, 1);
}

Error TimeoutError() { return Error(kErrorTimeoutExpired, kProviderSource, "Timeout expired"); }

Error CancelledError() { return Error(HResult(0x80040E4E), kProviderSource, "Operation canceled"); }

ColumnInfo ColumnFrom(const sandbox::Column& c) {
  ColumnInfo info;
  info.name = c.name;
  info.type_name = c.type_name;
  info.value_type = c.value_type;
  info.size = c.size;
  info.scale = c.scale;
  info.nullable = c.nullable;
  info.base_table = c.base_table;
  info.base_column = c.base_column;
  info.key_column = c.key_column;
  info.identity = c.identity;
  return info;
}

ServerMessage MessageFrom(const sandbox::ServerMessage& m) {
  ServerMessage message;
  message.number = m.number;
  message.severity = m.severity;
  message.state = m.state;
  message.text = m.text;
  message.procedure = m.procedure;
  message.line = m.line;
  return message;
}

// Makes an event of each thing the server sends and hands it on.
class EventSink : public sandbox::ResultSink {
 public:
  void BeginRowSet(const std::vector<sandbox::Column>& columns) override {
    ResultEvent event;
    event.kind = ResultEvent::Kind::kBeginRowSet;
    for (const auto& c : columns) event.columns.push_back(ColumnFrom(c));
    Emit(event);
  }
  void Row(std::vector<common::Value> values) override {
    ResultEvent event;
    event.kind = ResultEvent::Kind::kRow;
    event.row = std::move(values);
    Emit(event);
  }
  void EndRowSet() override {
    ResultEvent event;
    event.kind = ResultEvent::Kind::kEndRowSet;
    Emit(event);
  }
  void Done(std::int64_t rows_affected) override {
    ResultEvent event;
    event.kind = ResultEvent::Kind::kDone;
    event.rows_affected = rows_affected;
    Emit(event);
  }
  void Message(const sandbox::ServerMessage& message) override {
    ResultEvent event;
    event.kind = ResultEvent::Kind::kMessage;
    event.message = MessageFrom(message);
    Emit(event);
  }

 protected:
  virtual void Emit(ResultEvent& event) = 0;
};

// Hands each event to the reader at once; what the reader throws stops the batch, and is
// kept to be thrown again once the engine has unwound.
class ForwardingSink : public EventSink {
 public:
  explicit ForwardingSink(const std::function<void(ResultEvent&)>& on_event)
      : on_event_(on_event) {}
  std::exception_ptr failure() const { return failure_; }

 private:
  void Emit(ResultEvent& event) override {
    try {
      on_event_(event);
    } catch (...) {
      failure_ = std::current_exception();
      throw sandbox::BatchCancelled{};
    }
  }
  const std::function<void(ResultEvent&)>& on_event_;
  std::exception_ptr failure_;
};

// Collects what the server sends into events for the stream.
class CollectingSink : public EventSink {
 public:
  std::vector<ResultEvent> Take() { return std::move(events_); }

 private:
  void Emit(ResultEvent& event) override { events_.push_back(std::move(event)); }
  std::vector<ResultEvent> events_;
};

// A procedure call as the sandbox runs it: an EXEC batch whose arguments are the call's
// parameters, so output values come back through the parameter list.
std::string ExecText(std::string_view procedure, std::vector<sandbox::Parameter>& parameters,
                     const std::vector<DriverParameter>& request) {
  std::string text = "EXEC ";
  for (size_t i = 0; i < request.size(); ++i) {
    if (request[i].direction == ParameterDirection::kReturnValue) {
      text += parameters[i].name + " = ";
      break;
    }
  }
  text += std::string(procedure);
  bool first = true;
  for (size_t i = 0; i < request.size(); ++i) {
    if (request[i].direction == ParameterDirection::kReturnValue) continue;
    text += first ? " " : ", ";
    first = false;
    if (!request[i].name.empty()) text += request[i].name + " = ";
    text += parameters[i].name;
    if (request[i].IsOutput()) text += " OUTPUT";
  }
  return text;
}

class SandboxSession : public DriverSession {
 public:
  SandboxSession(std::unique_ptr<sandbox::Session> session, std::string server_version)
      : session_(std::move(session)), server_version_(std::move(server_version)) {}
  ~SandboxSession() override { Close(); }

  std::unique_ptr<ResultStream> Execute(DriverRequest& request) override {
    CollectingSink sink;
    Run(request, sink);
    return std::make_unique<BufferedResultStream>(sink.Take());
  }

  void ExecuteEach(DriverRequest& request,
                   const std::function<void(ResultEvent& event)>& on_event) override {
    ForwardingSink sink(on_event);
    try {
      Run(request, sink);
    } catch (...) {
      if (sink.failure()) std::rethrow_exception(sink.failure());
      throw;
    }
  }

  // From another thread: the batch running on the caller's thread stops at its next check
  // (none runs: nothing happens, finished work is not reported as cancelled).
  void Cancel() override {
    if (session_) session_->Cancel();
  }

  std::string ServerVersion() const override { return server_version_; }

  std::string CurrentDatabase() const override {
    if (!session_ || broken_) return {};
    try {
      return session_->CurrentDatabase();
    } catch (const std::exception&) {
      return {};
    }
  }

  void Close() override {
    if (!session_) return;
    try {
      session_->Close();
    } catch (const std::exception&) {
      // Closing a session the server already ended is not a failure of ours.
    }
    session_.reset();
  }

 private:
  void Run(DriverRequest& request, sandbox::ResultSink& sink) {
    if (broken_ || !session_) throw NetworkError();
    std::vector<sandbox::Parameter> parameters;
    for (size_t i = 0; i < request.parameters.size(); ++i) {
      const DriverParameter& p = request.parameters[i];
      sandbox::Parameter sp;
      sp.name = p.name;
      // A procedure call passes its arguments through batch variables of their own, so
      // unnamed and return-value parameters need names too.
      if (request.kind == DriverRequest::Kind::kProcedure) {
        sp.name = p.direction == ParameterDirection::kReturnValue ? "@RETURN_VALUE"
                                                                  : "@P" + std::to_string(i + 1);
        if (!p.name.empty() && p.direction != ParameterDirection::kReturnValue) sp.name = p.name;
      }
      sp.value = p.value;
      sp.type_name = p.type_name;
      sp.size = p.size;
      sp.output = p.IsOutput();
      parameters.push_back(std::move(sp));
    }
    std::string text = request.kind == DriverRequest::Kind::kProcedure
                           ? ExecText(request.text, parameters, request.parameters)
                           : request.text;
    try {
      session_->Execute(text, parameters, sink, request.timeout);
    } catch (const sandbox::SessionError& error) {
      if (error.kind() == sandbox::SessionError::Kind::kTimeout) throw TimeoutError();
      // Cancel stopped it, or the reader did (ExecuteEach throws what the reader threw).
      if (error.kind() == sandbox::SessionError::Kind::kCancelled) throw CancelledError();
      broken_ = true;
      throw NetworkError();
    }
    for (size_t i = 0; i < request.parameters.size() && i < parameters.size(); ++i) {
      if (request.parameters[i].IsOutput()) request.parameters[i].value = parameters[i].value;
    }
  }

  std::unique_ptr<sandbox::Session> session_;
  std::string server_version_;  // what the login answer carries; the instance knows it
  bool broken_ = false;
};

}  // namespace

std::string LocalUserName() {
  struct passwd pw {};
  struct passwd* result = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &result) == 0 && result && result->pw_name)
    return result->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

std::string LocalHostName() {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return "localhost";
  return buffer;
}

SandboxDriver::SandboxDriver(std::shared_ptr<sandbox::Host> host, std::string os_user,
                             std::string host_name)
    : host_(std::move(host)),
      os_user_(os_user.empty() ? LocalUserName() : std::move(os_user)),
      host_name_(host_name.empty() ? LocalHostName() : std::move(host_name)) {}

std::optional<std::string> SandboxDriver::InstanceName(std::string_view data_source) {
  while (!data_source.empty() && std::isspace(static_cast<unsigned char>(data_source.front())))
    data_source.remove_prefix(1);
  while (!data_source.empty() && std::isspace(static_cast<unsigned char>(data_source.back())))
    data_source.remove_suffix(1);
  std::string_view prefix(kPrefix);
  if (data_source.size() < prefix.size()) return std::nullopt;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(data_source[i])) != prefix[i]) {
      return std::nullopt;
    }
  }
  std::string_view rest = data_source.substr(prefix.size());
  if (rest.empty()) return std::string();
  if (rest.front() != '\\' || rest.size() == 1) return std::nullopt;
  return std::string(rest.substr(1));
}

bool SandboxDriver::Accepts(std::string_view data_source) const {
  return InstanceName(data_source).has_value();
}

std::unique_ptr<DriverSession> SandboxDriver::Connect(const ConnectRequest& request) {
  std::optional<std::string> instance_name = InstanceName(request.data_source);
  std::shared_ptr<sandbox::Instance> instance =
      instance_name && host_ ? host_->Find(*instance_name) : nullptr;
  if (!instance) {
    throw Error(kErrorUnspecified, kProviderSource,
                "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access "
                "denied.",
                17, 16, 1);
  }
  sandbox::LoginRequest login;
  login.integrated = request.integrated;
  if (request.integrated) {
    login.os_user = os_user_;
  } else {
    login.login = request.user;
    login.password = request.password;
  }
  login.database = request.catalog;
  login.host_name = request.workstation.empty() ? host_name_ : request.workstation;
  login.application = request.application;
  try {
    std::lock_guard lock(login_mutex_);
    return std::make_unique<SandboxSession>(instance->Connect(login),
                                            instance->config().product_version);
  } catch (const sandbox::ConnectError& error) {
    const sandbox::ServerMessage& m = error.message();
    throw Error(m.number == 18456 ? kErrorAuthenticationFailed : kErrorUnspecified, kProviderSource,
                m.text, m.number, m.severity, m.state);
  }
}

}  // namespace db
