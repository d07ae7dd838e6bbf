#include "sandbox/tds/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "sandbox/tds/input_watch.h"
#include "sandbox/tds/protocol.h"
#include "sandbox/tds/rpc.h"

namespace sandbox::tds {

namespace {

constexpr std::uint32_t kDefaultPacketSize = 4096;
constexpr std::size_t kMaxRpcParameters = 2100;

ServerMessage Msg(std::int32_t number, int severity, int state, std::string text) {
  ServerMessage message;
  message.number = number;
  message.severity = severity;
  message.state = state;
  message.text = std::move(text);
  return message;
}

// A name from the network as a log shows it: no control characters, bounded length.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 128)) out.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
  if (text.size() > 128) out += "...";
  return out;
}

// Writes a batch's results as tokens as they come; pump sends what is complete and may stop the
// batch (BatchCancelled) when the client asks for that or has gone. A statement's DONE is held
// back until the next token shows whether more follow, so that only the last one lacks the
// "more" bit.
class TokenSink : public ResultSink {
 public:
  TokenSink(Writer& out, std::uint32_t version, std::string server_name,
            std::string* current_database, std::function<void()> pump)
      : out_(out),
        version_(version),
        server_name_(std::move(server_name)),
        current_database_(current_database),
        pump_(std::move(pump)) {}

  void BeginRowSet(const std::vector<Column>& columns) override {
    FlushDone();
    // A statement that failed without a DONE of its own (RAISERROR) still ends before the next
    // row set: ODBC drivers otherwise report the error on that row set and lose it.
    if (error_) {
      WriteDoneToken(out_, version_, done_token_, kDoneMore | kDoneError, -1);
      error_ = false;
    }
    row_set_.emplace(version_, columns);
  }
  void Row(std::vector<common::Value> values) override {
    if (!row_set_) return;
    row_set_->Row(out_, std::move(values));
    if (row_set_->streaming()) pump_();
  }
  void EndRowSet() override {
    if (!row_set_) return;
    row_set_->Finish(out_);
    row_set_.reset();
    pump_();
  }
  void Done(std::int64_t rows_affected) override {
    FlushDone();
    // A failed statement sends no DONE of its own: a count after its error is the next
    // statement's, and would be lost with the error bit (drivers report no count for it).
    if (error_ && rows_affected >= 0) {
      WriteDone(out_, version_, kDoneMore | kDoneError, -1);
      error_ = false;
    }
    pending_ = {static_cast<std::uint16_t>(kDoneCount | (error_ ? kDoneError : 0)), rows_affected};
    error_ = false;
  }
  void Message(const ServerMessage& message) override {
    FlushDone();
    constexpr std::string_view kPrefix = "Changed database context to '";
    if (message.number == 5701 && message.text.starts_with(kPrefix) &&
        message.text.ends_with("'.")) {
      std::string name =
          message.text.substr(kPrefix.size(), message.text.size() - kPrefix.size() - 2);
      ChangeDatabase(name);
    }
    if (message.number == 5701 && !message.IsError()) {
      // SQL Server sends the database change as class 0; DB-Library clients such as pymssql
      // raise an exception for an informational message of a higher class.
      ServerMessage change = message;
      change.severity = 0;
      WriteMessage(out_, version_, change, server_name_);
    } else {
      WriteMessage(out_, version_, message, server_name_);
    }
    if (message.IsError()) error_ = true;
    pump_();
  }

  void ChangeDatabase(const std::string& name) {
    if (name.empty() || name == *current_database_) return;
    FlushDone();
    WriteEnvChange(out_, 1, name, *current_database_);
    *current_database_ = name;
  }

  // Statements of a procedure call end with DONEINPROC.
  void InProcedure() { done_token_ = kTokenDoneInProc; }

  // Ends the statements of a procedure call: the last DONEINPROC goes out with the "more" bit,
  // as DONEPROC follows. True when an error came after it.
  bool EndProcedure() {
    if (row_set_) EndRowSet();
    FlushDone();
    bool error = error_;
    error_ = false;
    return error;
  }

  // The batch's last DONE, without the "more" bit.
  void Finish(std::uint16_t extra_status) {
    if (row_set_) EndRowSet();
    if (pending_) {
      WriteDone(out_, version_, pending_->status | extra_status, pending_->count);
      pending_.reset();
    } else {
      WriteDone(out_, version_, (error_ ? kDoneError : 0) | extra_status, -1);
    }
  }

 private:
  struct PendingDone {
    std::uint16_t status;
    std::int64_t count;
  };
  void FlushDone() {
    if (!pending_) return;
    WriteDoneToken(out_, version_, done_token_, pending_->status | kDoneMore, pending_->count);
    pending_.reset();
  }

  Writer& out_;
  std::uint32_t version_;
  std::string server_name_;
  std::string* current_database_;
  std::function<void()> pump_;
  std::optional<RowSetWriter> row_set_;
  bool error_ = false;
  std::optional<PendingDone> pending_;
  std::uint8_t done_token_ = 0xFD;  // DONE
};

class Connection {
 public:
  Connection(int fd, Instance& instance, const ServerOptions& options, const LogFunction& log,
             std::string_view peer, std::mutex& login_mutex)
      : fd_(fd),
        instance_(instance),
        options_(options),
        log_(log),
        peer_(peer),
        login_mutex_(login_mutex) {}

  void Run() {
    try {
      Converse();
    } catch (const ProtocolError& error) {
      log_("connection " + peer_ + " ended: malformed request: " + error.what());
    } catch (const std::exception& error) {
      log_("connection " + peer_ + " ended: " + error.what());
    }
    if (session_) {
      try {
        session_->Close();
      } catch (const std::exception& error) {
        log_("connection " + peer_ + ": closing its session failed: " + error.what());
      }
    }
  }

 private:
  void Converse() {
    Message message;
    if (!Read(&message)) return;
    if (message.type == PacketType::kPrelogin) {
      Prelogin prelogin = ParsePrelogin(message.payload);
      out_.Bytes(PreloginResponse(instance_.config().product_version));
      Pump(true);
      if (prelogin.encryption == 1 || prelogin.encryption == 3)
        log_("connection " + peer_ + ": the client asks for encryption, which is not offered");
      if (!Read(&message)) return;
    }
    if (message.type != PacketType::kLogin7)
      throw ProtocolError("a request of type " + std::to_string(static_cast<int>(message.type)) +
                          " before LOGIN7");
    if (!Login(ParseLogin7(message.payload))) return;
    while (!broken_ && Read(&message)) {
      switch (message.type) {
        case PacketType::kSqlBatch:
          RunBatch(ParseSqlBatch(message.payload, version_));
          break;
        case PacketType::kAttention:
          // The batch it was meant for had ended before it was noticed; the client still waits
          // for the acknowledgement.
          WriteDone(out_, version_, kDoneAttention, -1);
          Pump(true);
          break;
        case PacketType::kTransactionManager:
          Transaction(ParseTransactionRequest(message.payload, version_));
          break;
        case PacketType::kRpc:
          RunRpcs(ParseRpcRequest(message.payload, version_));
          break;
        case PacketType::kBulkLoad:
          Refuse(
              "This request type is not supported by the sandbox server; send the "
              "statements as a SQL batch.");
          break;
        default:
          throw ProtocolError("a request of type " +
                              std::to_string(static_cast<int>(message.type)) + " after login");
      }
    }
  }

  bool Login(Login7 login) {
    version_ = NegotiateVersion(login.tds_version);
    std::string user = Printable(login.user_name);
    if (login.integrated) {
      log_("connection " + peer_ + ": Windows authentication refused");
      return RefuseLogin(Msg(18452, 14, 1,
                             "Login failed. The login is from an untrusted domain and cannot be "
                             "used with Windows authentication. Windows authentication is not "
                             "offered over the network by the sandbox server; use a SQL login."));
    }
    LoginRequest request;
    request.login = login.user_name;
    request.password = std::move(login.password);
    request.database = login.database;
    request.host_name = login.host_name;
    request.application = login.application;
    try {
      std::lock_guard lock(login_mutex_);
      session_ = instance_.Connect(request);
    } catch (const ConnectError& error) {
      std::fill(request.password.begin(), request.password.end(), '\0');
      log_("connection " + peer_ + ": login '" + user + "' refused (error " +
           std::to_string(error.message().number) + ")");
      return RefuseLogin(error.message());
    }
    std::fill(request.password.begin(), request.password.end(), '\0');
    log_("connection " + peer_ + ": login '" + user + "' as session " +
         std::to_string(session_->spid()));
    if (login.packet_size >= 512 && login.packet_size <= kMaxPacketSize)
      packet_size_ = login.packet_size;
    database_ = session_->CurrentDatabase();
    const std::string server = ServerName();
    WriteLoginAck(out_, version_, instance_.config().product_version);
    WriteEnvChange(out_, 1, database_, "master");
    WriteMessage(out_, version_,
                 Msg(5701, 0, 2, "Changed database context to '" + database_ + "'."), server);
    WriteEnvChange(out_, 2, "us_english", "");
    WriteMessage(out_, version_, Msg(5703, 0, 1, "Changed language setting to us_english."),
                 server);
    if (AtLeast71(version_)) {
      WriteCollationChange(out_);
    } else {
      // 7.0 columns carry no collation: the character set tells clients what varchar bytes are.
      WriteEnvChange(out_, 3, "iso_1", "");
    }
    WriteEnvChange(out_, 4, std::to_string(packet_size_), std::to_string(kDefaultPacketSize));
    WriteDone(out_, version_, 0, -1);
    Pump(true);
    return true;
  }

  bool RefuseLogin(const ServerMessage& message) {
    WriteMessage(out_, version_, message, ServerName());
    WriteDone(out_, version_, kDoneError, -1);
    Pump(true);
    return false;
  }

  void Refuse(const std::string& text) {
    WriteMessage(out_, version_, Msg(0, 16, 1, text), ServerName());
    WriteDone(out_, version_, kDoneError, -1);
    Pump(true);
  }

  void RunBatch(const std::string& batch) {
    TokenSink sink(out_, version_, ServerName(), &database_, [this] { PumpWhileRunning(); });
    std::vector<Parameter> parameters;
    interruption_.clear();
    input_read_ = false;
    running_ = true;
    try {
      InputWatch::Scope watching(Watch());
      session_->Execute(batch, parameters, sink, std::chrono::milliseconds(0));
      running_ = false;
    } catch (const SessionError& error) {
      running_ = false;
      if (error.kind() == SessionError::Kind::kCancelled) return Cancelled();
      log_("connection " + peer_ + ": session ended: " + error.what());
      // What the batch said before it ended the session (a fatal error's message) still goes
      // out, as the reply's last message, before the connection closes.
      if (!out_.data().empty()) {
        WriteDone(out_, version_, kDoneError, -1);
        Pump(true);
      }
      broken_ = true;
      return;
    } catch (const BatchCancelled&) {
      // A session that lets the sink's own cancel through ends the same way.
      running_ = false;
      return Cancelled();
    }
    sink.ChangeDatabase(session_->CurrentDatabase());
    sink.Finish(0);
    Pump(true);
  }

  // The calls of an RPC request, one after the other; each ends with DONEPROC, all but the last
  // with the "more" bit.
  void RunRpcs(const std::vector<RpcCall>& calls) {
    std::size_t last = calls.size();
    for (std::size_t i = 0; i < calls.size(); ++i)
      if (!calls[i].no_exec) last = i;
    if (last == calls.size()) {
      WriteDoneToken(out_, version_, kTokenDoneProc, 0, -1);
      Pump(true);
      return;
    }
    for (std::size_t i = 0; i <= last; ++i) {
      if (calls[i].no_exec) continue;
      if (!RunRpc(calls[i], i != last)) return;
    }
    Pump(true);
  }

  // One procedure call, as an EXEC whose arguments are variables bound to the parameters, so no
  // value is ever part of the statement text. False when the request ended otherwise (cancel,
  // a broken session), its answer sent.
  bool RunRpc(const RpcCall& call, bool more) {
    const std::uint16_t more_bit = more ? kDoneMore : 0;
    std::vector<std::string> parts = SplitProcedureName(call.procedure);
    std::string text = "EXEC @rpc_status = ";
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (i > 0) text += '.';
      // Empty middle parts ("master..sp_who") stay empty.
      if (parts[i].empty()) continue;
      text += '[';
      for (char c : parts[i]) text += c == ']' ? std::string("]]") : std::string(1, c);
      text += ']';
    }
    std::vector<Parameter> parameters;
    parameters.push_back({"@rpc_status", common::Value(), "int", 0, true});
    std::string refused;
    std::int32_t refused_number = 2812;
    if (call.parameters.size() > kMaxRpcParameters) {
      refused =
          "The incoming request has too many parameters. The server supports a maximum of 2100 "
          "parameters. Reduce the number of parameters and resend the request.";
      refused_number = 8003;
    } else if (parts.empty()) {
      refused =
          call.procedure.empty()
              ? "Could not find stored procedure number " + std::to_string(call.procedure_id) + "."
              : "Could not find stored procedure '" + Printable(call.procedure) + "'.";
    }
    for (std::size_t i = 0; i < call.parameters.size() && refused.empty(); ++i) {
      const RpcParameter& p = call.parameters[i];
      text += i == 0 ? " " : ", ";
      if (!p.name.empty()) {
        if (!IsParameterName(p.name)) {
          refused = Printable(p.name) + " is not a parameter for procedure " +
                    Printable(call.procedure) + ".";
          refused_number = 8145;
          break;
        }
        text += (p.name[0] == '@' ? "" : "@") + p.name + " = ";
      }
      if (p.default_value) {
        text += "DEFAULT";
        continue;
      }
      std::string variable = "@rpc_p" + std::to_string(i + 1);
      text += variable;
      if (p.output) text += " OUTPUT";
      parameters.push_back({variable, p.value, p.type_name, p.size, p.output});
    }
    if (!refused.empty()) {
      WriteMessage(out_, version_, Msg(refused_number, 16, 1, refused), ServerName());
      WriteDoneToken(out_, version_, kTokenDoneProc, more_bit | kDoneError, -1);
      return true;
    }

    TokenSink sink(out_, version_, ServerName(), &database_, [this] { PumpWhileRunning(); });
    sink.InProcedure();
    interruption_.clear();
    input_read_ = false;
    running_ = true;
    try {
      // A call that sends nothing for a while is stopped by an attention too.
      InputWatch::Scope watching(Watch());
      session_->Execute(text, parameters, sink, std::chrono::milliseconds(0));
      running_ = false;
    } catch (const SessionError& error) {
      running_ = false;
      if (error.kind() == SessionError::Kind::kCancelled) {
        Cancelled();
        return false;
      }
      log_("connection " + peer_ + ": session ended: " + error.what());
      broken_ = true;
      return false;
    } catch (const BatchCancelled&) {
      running_ = false;
      Cancelled();
      return false;
    }
    sink.ChangeDatabase(session_->CurrentDatabase());
    const bool error = sink.EndProcedure();
    // A procedure that ran has a status; one that was not found has none.
    if (auto status = parameters[0].value.ToInt())
      WriteReturnStatus(out_, static_cast<std::int32_t>(*status));
    for (std::size_t i = 0, bound = 1; i < call.parameters.size(); ++i) {
      const RpcParameter& p = call.parameters[i];
      if (p.default_value) continue;
      const Parameter& value = parameters[bound++];
      if (!p.output) continue;
      WriteReturnValue(out_, version_, static_cast<std::uint16_t>(i), p.name, p.type, value.value);
    }
    // The statements' counts went out with their DONEINPROC; SQL Server's DONEPROC carries none,
    // and clients that add up every count (tedious) would count the last statement twice.
    WriteDoneToken(out_, version_, kTokenDoneProc,
                   static_cast<std::uint16_t>(more_bit | (error ? kDoneError : 0)), -1);
    return true;
  }

  // A parameter name goes into the EXEC text, so only the characters of a variable name pass
  // (non-ASCII letters are name characters to the T-SQL lexer).
  static bool IsParameterName(const std::string& name) {
    if (name.size() > 4 * 129 || name == "@") return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      const auto c = static_cast<unsigned char>(name[i]);
      if (std::isalnum(c) || c >= 0x80 || c == '_' || c == '#' || c == '$' || (c == '@' && i == 0))
        continue;
      return false;
    }
    return true;
  }

  // The end of a batch the sink stopped: the client has gone, sent something it must not
  // (the connection ends), or sent an attention: what was written stays (the client reads
  // past it) and a DONE ends that cut-short reply; the acknowledgement follows as a message of
  // its own, as SQL Server sends it (tedious reads the first message as the request's reply
  // and then waits for the acknowledgement in the next).
  void Cancelled() {
    // The input watch stopped the batch and left what came to be read here.
    if (!broken_ && !input_read_) ReadAttention();
    if (broken_) return;  // Run closes the session
    if (!interruption_.empty()) throw ProtocolError(interruption_);
    WriteDone(out_, version_, 0, -1);
    Pump(true);
    WriteDone(out_, version_, kDoneAttention, -1);
    Pump(true);
  }

  // Begin, commit and rollback as the client's transaction manager asks; the client learns the
  // transaction's descriptor from the ENVCHANGE that answers.
  void Transaction(const TransactionRequest& request) {
    struct Step {
      const char* statement;
      std::uint8_t change;  // ENVCHANGE: 8 begun, 9 committed, 10 rolled back
    };
    std::vector<Step> steps;
    if (request.type == TransactionRequest::kCommit) steps.push_back({"COMMIT TRANSACTION", 9});
    if (request.type == TransactionRequest::kRollback)
      steps.push_back({"ROLLBACK TRANSACTION", 10});
    if (request.type == TransactionRequest::kBegin || request.begin_after)
      steps.push_back({"BEGIN TRANSACTION", 8});
    if (steps.empty()) {
      Refuse("This transaction manager request is not supported by the sandbox server.");
      return;
    }
    for (const Step& step : steps) {
      ErrorSink sink;
      std::vector<Parameter> parameters;
      try {
        session_->Execute(step.statement, parameters, sink, std::chrono::milliseconds(0));
      } catch (const SessionError& error) {
        log_("connection " + peer_ + ": session ended: " + error.what());
        broken_ = true;
        return;
      }
      if (!sink.errors.empty()) {
        for (const ServerMessage& message : sink.errors)
          WriteMessage(out_, version_, message, ServerName());
        WriteDone(out_, version_, kDoneError, -1);
        Pump(true);
        return;
      }
      if (step.change == 8) {
        Writer descriptor;
        descriptor.U64(++transactions_);
        transaction_ = descriptor.data();
        WriteEnvChangeBytes(out_, 8, transaction_, "");
      } else {
        WriteEnvChangeBytes(out_, step.change, "", transaction_);
        transaction_.clear();
      }
    }
    WriteDone(out_, version_, 0, -1);
    Pump(true);
  }

  // Keeps only the errors of a statement run on the client's behalf.
  struct ErrorSink : ResultSink {
    void BeginRowSet(const std::vector<Column>&) override {}
    void Row(std::vector<common::Value>) override {}
    void EndRowSet() override {}
    void Done(std::int64_t) override {}
    void Message(const ServerMessage& message) override {
      if (message.IsError()) errors.push_back(message);
    }
    std::vector<ServerMessage> errors;
  };

  std::string ServerName() {
    InstanceConfig config = instance_.config();
    std::string name = instance_.name();
    if (name.empty() || name == "MSSQLSERVER") return config.machine_name;
    return config.machine_name + "\\" + name;
  }

  bool Read(Message* message) {
    return ReadMessage(
        [this](char* buffer, std::size_t count) -> std::size_t {
          for (;;) {
            ssize_t got = ::recv(fd_, buffer, count, 0);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("reading failed: ") + std::strerror(errno));
          }
        },
        options_.max_message, message);
  }

  // Sends the whole packets of a running batch's reply, and stops the batch (BatchCancelled)
  // when the client cannot take more: it has gone, sent an attention, or sent something else
  // before reading the reply (then the connection ends as for a malformed request).
  void PumpWhileRunning() {
    if (!running_) {
      Pump(false);
      return;
    }
    if (broken_) throw BatchCancelled{};
    if (!Pump(false)) return;
    if (broken_) throw BatchCancelled{};
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, 0) <= 0) return;
    ReadAttention();
    throw BatchCancelled{};
  }

  // Reads what the client sent while its batch ran. Anything but an attention ends the
  // connection: broken_ when the client has gone, interruption_ for another request.
  void ReadAttention() {
    input_read_ = true;
    Message message;
    bool more = false;
    try {
      more = Read(&message);
    } catch (const ProtocolError& error) {
      interruption_ = error.what();
      return;
    } catch (const std::exception& error) {
      log_("connection " + peer_ + " ended during a result: " + error.what());
      broken_ = true;
      return;
    }
    if (!more) {
      log_("connection " + peer_ + ": the client closed the connection during a result");
      broken_ = true;
      return;
    }
    if (message.type != PacketType::kAttention)
      interruption_ = "a request of type " + std::to_string(static_cast<int>(message.type)) +
                      " while a reply was being sent";
  }

  // Watches the socket while a batch runs, so that an attention stops a batch that sends
  // nothing.
  InputWatch& Watch() {
    if (!watch_) watch_ = std::make_unique<InputWatch>(fd_, [this] { session_->Cancel(); });
    return *watch_;
  }

  // Sends whole packets of what is written so far; with final, the rest as the message's end.
  // Whether any packet went out.
  bool Pump(bool final) {
    std::string& data = out_.data();
    const std::size_t body = packet_size_ - kHeaderSize;
    std::size_t position = 0;
    bool sent = false;
    while (data.size() - position > body || (final && position < data.size()) ||
           (final && data.empty() && position == 0)) {
      std::size_t chunk = std::min(body, data.size() - position);
      bool last = final && position + chunk == data.size();
      Writer header;
      header.U8(static_cast<std::uint8_t>(PacketType::kReply));
      header.U8(last ? kStatusEndOfMessage : 0);
      header.U16BigEndian(static_cast<std::uint16_t>(chunk + kHeaderSize));
      header.U16BigEndian(static_cast<std::uint16_t>(session_ ? session_->spid() : 0));
      header.U8(packet_id_++);
      header.U8(0);
      Send(header.data() + data.substr(position, chunk));
      position += chunk;
      sent = true;
      if (last) break;
    }
    data.erase(0, position);
    return sent;
  }

  void Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (!broken_ && sent < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // A running batch stops at its next row or message; the connection ends.
        log_("connection " + peer_ + ": sending failed: " + std::strerror(errno));
        broken_ = true;
        return;
      }
      sent += static_cast<std::size_t>(n);
    }
  }

  int fd_;
  Instance& instance_;
  const ServerOptions& options_;
  const LogFunction& log_;
  std::string peer_;
  std::mutex& login_mutex_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<InputWatch> watch_;  // after session_: ends before it
  std::uint32_t version_ = kTds70;
  std::uint32_t packet_size_ = kDefaultPacketSize;
  std::uint8_t packet_id_ = 1;
  std::string database_;
  std::string transaction_;  // the descriptor of the transaction begun by request, if any
  std::uint64_t transactions_ = 0;
  Writer out_;
  bool broken_ = false;
  bool running_ = false;      // a batch runs: pumping may stop it
  bool input_read_ = false;   // pumping read what the client sent while the batch ran
  std::string interruption_;  // why a running batch was stopped by a malformed request
};

std::string PeerName(const sockaddr_storage& address) {
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (address.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    port = ntohs(in->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
  }
  return std::string(host) + ":" + std::to_string(port);
}

}  // namespace

void ServeConnection(int fd, Instance& instance, const ServerOptions& options,
                     const LogFunction& log, std::string_view peer, std::mutex& login_mutex) {
  Connection(fd, instance, options, log, peer, login_mutex).Run();
}

Server::Server(std::shared_ptr<Instance> instance, ServerOptions options, LogFunction log)
    : instance_(std::move(instance)), options_(std::move(options)), log_(std::move(log)) {}

Server::~Server() { Stop(); }

void Server::Log(std::string_view line) {
  std::lock_guard lock(log_mutex_);
  if (log_) log_(line);
}

int Server::Start() {
  if (listen_fd_ >= 0) return port_;
  if (options_.port < 0 || options_.port > 65535)
    throw std::runtime_error("the port must be between 0 and 65535");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  std::string port_text = std::to_string(options_.port);
  if (getaddrinfo(options_.address.c_str(), port_text.c_str(), &hints, &found) != 0 || !found)
    throw std::runtime_error("'" + Printable(options_.address) +
                             "' is not an IPv4 or IPv6 address");
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> holder(found, freeaddrinfo);
  int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
    std::string reason = std::strerror(errno);
    ::close(fd);
    throw std::runtime_error("cannot listen on " + options_.address + " port " + port_text + ": " +
                             reason);
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    ::close(fd);
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  listen_fd_ = fd;
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return port_;
}

void Server::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, 1000) < 0 && errno != EINTR) {
      Log(std::string("listening failed: ") + std::strerror(errno));
      return;
    }
    if (fds[1].revents) return;
    Reap(false);
    if (!(fds[0].revents & POLLIN)) continue;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string name = PeerName(peer);
    std::lock_guard lock(clients_mutex_);
    if (clients_.size() >= options_.max_connections) {
      ::close(fd);
      Log("connection " + name + " refused: too many connections");
      continue;
    }
    auto client = std::make_unique<Client>();
    client->fd = fd;
    Client* raw = client.get();
    raw->thread = std::thread([this, raw, name] {
      ServeConnection(
          raw->fd, *instance_, options_, [this](std::string_view line) { Log(line); }, name,
          login_mutex_);
      // The client sees the end now; the descriptor itself is closed when the thread is reaped.
      ::shutdown(raw->fd, SHUT_RDWR);
      raw->done = true;
    });
    clients_.push_back(std::move(client));
  }
}

void Server::Reap(bool all) {
  std::lock_guard lock(clients_mutex_);
  for (auto it = clients_.begin(); it != clients_.end();) {
    Client& client = **it;
    if (!all && !client.done) {
      ++it;
      continue;
    }
    // Wakes a thread blocked reading; the descriptor is closed only after it has ended.
    if (!client.done) ::shutdown(client.fd, SHUT_RDWR);
    client.thread.join();
    ::close(client.fd);
    it = clients_.erase(it);
  }
}

void Server::Stop() {
  if (listen_fd_ < 0) return;
  char byte = 0;
  if (::write(wake_[1], &byte, 1) < 0) Log("waking the listener failed");
  accept_thread_.join();
  ::close(listen_fd_);
  listen_fd_ = -1;
  Reap(true);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

}  // namespace sandbox::tds
