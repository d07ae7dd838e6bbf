// A small TDS client for the listener's tests: it speaks PRELOGIN, LOGIN7 and SQL batches and
// decodes the reply tokens into a flat list, so tests can check what a real client would see.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "common/value.h"
#include "sandbox/tds/rpc.h"

namespace tds_test {

struct Token {
  enum class Kind {
    kColumns,
    kRow,
    kDone,
    kError,
    kInfo,
    kEnvChange,
    kLoginAck,
    kReturnStatus,
    kReturnValue
  };
  Kind kind{};
  std::uint8_t token = 0;                  // the token byte: DONE, DONEPROC, DONEINPROC, ...
  std::vector<std::string> column_names;   // kColumns
  std::vector<std::uint8_t> column_types;  // kColumns: the wire type bytes
  std::vector<sandbox::tds::TypeInfo> column_info;  // kColumns: lengths, precision, collation
  std::vector<common::Value> row;                   // kRow; kReturnValue: the value
  std::uint16_t status = 0;                         // kDone
  std::uint64_t count = 0;                          // kDone
  std::int32_t number = 0;                          // kError, kInfo; kReturnStatus: the status
  int ordinal = 0;                                  // kReturnValue, with its name in text
  std::uint8_t value_type = 0;                      // kReturnValue: the wire type
  int state = 0;
  int severity = 0;
  std::string text;  // kError, kInfo: message; kEnvChange: new value
  std::string procedure;
  int line = 0;
  int env_type = 0;           // kEnvChange
  std::string old_value;      // kEnvChange
  std::uint32_t version = 0;  // kLoginAck
};

// The tokens of one kind, in order.
inline std::vector<Token> Of(const std::vector<Token>& tokens, Token::Kind kind) {
  std::vector<Token> out;
  std::copy_if(tokens.begin(), tokens.end(), std::back_inserter(out),
               [&](const Token& t) { return t.kind == kind; });
  return out;
}

class Client {
 public:
  // Connects to 127.0.0.1:port.
  explicit Client(int port);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // PRELOGIN (unless skipped) and LOGIN7; the reply's tokens.
  std::vector<Token> Login(const std::string& user, const std::string& password,
                           std::uint32_t version = 0x74000004, bool prelogin = true,
                           bool integrated = false);
  std::vector<Token> Batch(const std::string& sql);
  // Sends a batch without reading its reply.
  void SendBatch(const std::string& sql);
  // Reads whole packets of a reply, discarding them, until at least bytes of payload have come
  // or the reply has ended (then *ended is set); the last bytes of the payload (up to 64) are
  // left in *tail. Returns the payload bytes read. Throws when the connection ends first.
  std::size_t Skim(std::size_t bytes, bool* ended, std::string* tail);
  // Sends an attention; the tokens of every message up to the one that acknowledges it.
  std::vector<Token> Attention();
  // An RPC request: the payload after the 7.2+ headers, which are added here.
  std::vector<Token> Rpc(const std::string& body);
  // Sends an RPC request without reading its reply.
  void SendRpc(const std::string& body);
  // A transaction-manager request: 5 begin, 7 commit, 8 rollback.
  std::vector<Token> Transaction(std::uint16_t type, bool begin_after = false);
  // The encryption byte of the server's PRELOGIN answer.
  int encryption() const { return encryption_; }

  void SendPacket(std::uint8_t type, const std::string& payload);
  void SendRaw(const std::string& bytes);
  // Ends the client's sending side, as a client that stops half-way does.
  void StopSending();
  // One reply message's payload.
  std::string ReadMessage();
  std::vector<Token> Decode(const std::string& payload);
  // True when the server ends the connection, after whatever it still sends (waits up to 10 s).
  bool ClosedByServer();

 private:
  int fd_ = -1;
  std::uint32_t version_ = 0x74000004;
  int encryption_ = -1;
};

// The LOGIN7 record a client sends.
std::string Login7Record(const std::string& user, const std::string& password,
                         std::uint32_t version, bool integrated);

}  // namespace tds_test
