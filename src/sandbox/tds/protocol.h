// The messages of a TDS conversation: PRELOGIN, LOGIN7 and SQL batch requests read from the
// client, and the tokens of the server's replies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "sandbox/server.h"
#include "sandbox/tds/wire.h"

namespace sandbox::tds {

// Protocol versions as LOGIN7 and LOGINACK carry them.
inline constexpr std::uint32_t kTds70 = 0x70000000;
inline constexpr std::uint32_t kTds71 = 0x71000001;
inline constexpr std::uint32_t kTds72 = 0x72090002;
inline constexpr std::uint32_t kTds74 = 0x74000004;

// The version a server answers a client's LOGIN7 version with: the client's own up to 7.4.
std::uint32_t NegotiateVersion(std::uint32_t requested);
inline bool AtLeast72(std::uint32_t version) { return (version >> 24) >= 0x72; }
inline bool AtLeast71(std::uint32_t version) { return (version >> 24) >= 0x71; }

struct Prelogin {
  std::uint8_t encryption = 0;  // 0 off, 1 on, 2 not supported, 3 required
};
Prelogin ParsePrelogin(std::string_view payload);
// The answer: this server's version, no encryption, no MARS.
std::string PreloginResponse(std::string_view product_version);

struct Login7 {
  std::uint32_t tds_version = 0;
  std::uint32_t packet_size = 0;
  bool integrated = false;
  std::string host_name;
  std::string user_name;
  std::string password;  // decoded; never logged
  std::string application;
  std::string server_name;
  std::string language;
  std::string database;
};
Login7 ParseLogin7(std::string_view payload);

// Skips the 7.2+ headers (ALL_HEADERS) that begin a batch, RPC or transaction request.
void SkipHeaders(Reader& reader, std::string_view payload, std::uint32_t tds_version);

// The text of a SQL batch request, without the 7.2+ headers.
std::string ParseSqlBatch(std::string_view payload, std::uint32_t tds_version);

// A transaction-manager request: begin, commit or rollback, the latter two optionally beginning
// the next transaction at once.
struct TransactionRequest {
  enum Type : std::uint16_t { kBegin = 5, kCommit = 7, kRollback = 8 };
  std::uint16_t type = 0;  // other request types are read but not served
  bool begin_after = false;
};
TransactionRequest ParseTransactionRequest(std::string_view payload, std::uint32_t tds_version);

// DONE status bits.
inline constexpr std::uint16_t kDoneMore = 0x0001;
inline constexpr std::uint16_t kDoneError = 0x0002;
inline constexpr std::uint16_t kDoneCount = 0x0010;
inline constexpr std::uint16_t kDoneAttention = 0x0020;

// Token writers; version selects the widths of the negotiated protocol.
void WriteLoginAck(Writer& out, std::uint32_t version, std::string_view product_version);
void WriteEnvChange(Writer& out, std::uint8_t type, std::string_view new_value,
                    std::string_view old_value);
void WriteCollationChange(Writer& out);
// An ENVCHANGE whose values are bytes (transaction descriptors).
void WriteEnvChangeBytes(Writer& out, std::uint8_t type, std::string_view new_value,
                         std::string_view old_value);
void WriteMessage(Writer& out, std::uint32_t version, const ServerMessage& message,
                  std::string_view server_name);
void WriteDone(Writer& out, std::uint32_t version, std::uint16_t status, std::int64_t count);

struct WireColumn;

// Writes a row set as its rows arrive. Each column's wire type is chosen from its declared type
// and widened (or made text) so that the values fit without loss; to see them, the first rows
// are held back (up to kHeldRows rows or kHeldBytes of values), so a small set goes out exactly
// as its values need. Past that the types are fixed, with room to spare where the declared type
// gives no size, and every further row is written at once: a set of any size takes little
// memory. A later value its column's type cannot carry throws std::runtime_error, so the
// statement fails there, after the rows before it, as a server's conversion error would.
class RowSetWriter {
 public:
  static constexpr std::size_t kHeldRows = 1000;
  static constexpr std::size_t kHeldBytes = 1u << 20;

  RowSetWriter(std::uint32_t version, std::vector<Column> columns);
  ~RowSetWriter();
  RowSetWriter(const RowSetWriter&) = delete;
  RowSetWriter& operator=(const RowSetWriter&) = delete;

  void Row(Writer& out, std::vector<common::Value> row);
  // Writes what is held (the column metadata too, for a set without rows).
  void Finish(Writer& out);
  // Whether rows now go out as they come.
  bool streaming() const { return streaming_; }

 private:
  void Start(Writer& out, bool streaming);

  std::uint32_t version_;
  std::vector<Column> columns_;
  std::vector<WireColumn> wires_;
  std::vector<std::vector<common::Value>> held_;
  std::size_t held_bytes_ = 0;
  bool streaming_ = false;
  bool started_ = false;
};

// Days since 1900-01-01 and 1/300 seconds, as datetime travels.
std::pair<std::int32_t, std::uint32_t> DateTimeParts(const common::DateTime& value);

}  // namespace sandbox::tds
