// Remote procedure calls: the RPC request a client sends (procedures by name or by number, typed
// parameters), and the tokens that answer one (return status, output parameters, DONEPROC).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/value.h"
#include "sandbox/tds/wire.h"

namespace sandbox::tds {

// Wire type bytes.
namespace wire_type {
enum : std::uint8_t {
  kNull = 0x1F,
  kImage = 0x22,
  kText = 0x23,
  kGuid = 0x24,
  kIntN = 0x26,
  kDateN = 0x28,
  kTimeN = 0x29,
  kDateTime2N = 0x2A,
  kDateTimeOffsetN = 0x2B,
  kInt1 = 0x30,
  kBit = 0x32,
  kInt2 = 0x34,
  kInt4 = 0x38,
  kDateTime4 = 0x3A,
  kFloat4 = 0x3B,
  kMoney = 0x3C,
  kDateTime = 0x3D,
  kFloat8 = 0x3E,
  kNText = 0x63,
  kBitN = 0x68,
  kDecimalN = 0x6A,
  kNumericN = 0x6C,
  kFloatN = 0x6D,
  kMoneyN = 0x6E,
  kDateTimeN = 0x6F,
  kMoney4 = 0x7A,
  kInt8 = 0x7F,
  kBigVarBinary = 0xA5,
  kBigVarChar = 0xA7,
  kBigBinary = 0xAD,
  kBigChar = 0xAF,
  kNVarChar = 0xE7,
  kNChar = 0xEF,
};
}  // namespace wire_type

// The server's collation, SQL_Latin1_General_CP1_CI_AS (LCID 1033, case-, kana- and
// width-insensitive, sort order 52), and the code page its varchar bytes are in.
inline constexpr char kServerCollation[5] = {0x09, 0x04, static_cast<char>(0xD0), 0x00, 0x34};
inline constexpr int kServerCodePage = 1252;

// The TYPE_INFO of a parameter.
struct TypeInfo {
  std::uint8_t type = 0;         // the wire type byte
  std::uint32_t max_length = 0;  // of the variable-length types, in bytes; 0xFFFF with plp
  std::uint8_t precision = 0;    // decimal and numeric
  std::uint8_t scale = 0;        // decimal, numeric and the 7.3 time types
  std::string collation;         // 5 bytes for character types on 7.1 and later, else empty
  bool plp = false;              // a (max) type: the value travels in chunks
};

struct RpcParameter {
  std::string name;            // as sent ("@x"), empty for a positional parameter
  bool output = false;         // passed by reference
  bool default_value = false;  // the procedure's default is asked for
  TypeInfo type;
  common::Value value;    // the client form: bool, integer, double, text, DateTime, bytes, Guid
  std::string type_name;  // the SQL Server type for the engine ("int", "nvarchar"), may be empty
  int size = 0;           // characters or bytes of character and binary types
};

struct RpcCall {
  std::string procedure;  // the name as sent, or the name of the ProcID
  std::uint16_t procedure_id = 0;
  std::uint16_t options = 0;  // 1 with recompile, 2 no metadata, 4 reuse metadata
  bool no_exec = false;       // announced by the NoExec flag: parsed, not run
  std::vector<RpcParameter> parameters;
};

// The RPCs of a request, in order. Throws ProtocolError for anything that does not fit the
// message, and for parameter types the server cannot read.
std::vector<RpcCall> ParseRpcRequest(std::string_view payload, std::uint32_t tds_version);

// The procedure a ProcID stands for; empty for an unknown number.
std::string_view ProcedureOfId(std::uint16_t id);

// The parts of a procedure name as a client sends it ("db.owner.name", "[a b].[c]"), each
// unquoted; empty when the name is not a valid one- to four-part name.
std::vector<std::string> SplitProcedureName(std::string_view name);

// Token writers.
void WriteReturnStatus(Writer& out, std::int32_t status);
// An output parameter's value, in the type the client declared it with where the value fits
// (integers widen, long text goes as a large type).
void WriteReturnValue(Writer& out, std::uint32_t version, std::uint16_t ordinal,
                      std::string_view name, const TypeInfo& declared, const common::Value& value);
// DONE, DONEPROC (0xFE) or DONEINPROC (0xFF).
inline constexpr std::uint8_t kTokenDoneProc = 0xFE;
inline constexpr std::uint8_t kTokenDoneInProc = 0xFF;
void WriteDoneToken(Writer& out, std::uint32_t version, std::uint8_t token, std::uint16_t status,
                    std::int64_t count);

// For tests and the fuzz target: a TYPE_INFO and a value as a client writes them.
void WriteTypeInfo(Writer& out, std::uint32_t version, const TypeInfo& type);
void WriteTypedValue(Writer& out, const TypeInfo& type, const common::Value& value);
// The value's bytes in the type (its length first), as a parameter or a row carries it; nullopt
// when the type cannot carry it without loss (a varchar character outside the code page
// included). TEXT, NTEXT and IMAGE come without the text pointer a row puts first.
std::optional<std::string> EncodeTypedValue(const TypeInfo& type, const common::Value& value);
// Read what WriteTypeInfo and WriteTypedValue write; throw ProtocolError.
TypeInfo ReadTypeInfo(Reader& reader, std::uint32_t tds_version);
common::Value ReadTypedValue(Reader& reader, const TypeInfo& type);

}  // namespace sandbox::tds
