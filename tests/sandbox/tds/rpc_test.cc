// RPC requests: parameters of every type as clients write them, several calls in one request,
// malformed requests, and the tokens that answer a call (over the listener, on a sandbox).
#include "sandbox/tds/rpc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "common/test_support.h"
#include "sandbox/tds/protocol.h"
#include "sandbox/tds/server.h"
#include "tds_client.h"

namespace sandbox::tds {
namespace {

using common::Value;
using tds_test::Client;
using tds_test::Of;
using tds_test::Token;
using Kind = tds_test::Token::Kind;

// "26 04 FB" as bytes; "<c>" stands for the collation of a character type.
std::string Hex(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (text.substr(i, 3) == "<c>") {
      out += std::string("\x09\x04\xD0\x00\x34", 5);
      i += 3;
      continue;
    }
    out += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    i += 2;
  }
  return out;
}

std::string Headers() {
  Writer w;
  w.U32(22);
  w.U32(18);
  w.U16(2);
  w.U64(0);
  w.U32(1);
  return w.data();
}

// A request of one call of sp_executesql (ProcID 10) with one parameter "@p".
std::string OneParameter(std::uint32_t version, std::string_view parameter) {
  Writer w;
  if (AtLeast72(version)) w.Bytes(Headers());
  w.U16(0xFFFF);
  w.U16(10);
  w.U16(0);
  w.BVarchar("@p");
  w.U8(0);
  w.Bytes(parameter);
  return w.data();
}

common::DateTime Moment(int y, int mo, int d, int h, int mi, int s, int ms) {
  common::DateTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.millisecond = ms;
  return t;
}

TEST(RpcRequest, ParametersOfEveryTypeReadAsClientsSendThem) {
  common::Guid guid;
  for (int k = 0; k < 16; ++k) guid.bytes[k] = static_cast<std::uint8_t>(k * 0x11);
  struct Case {
    const char* name;
    const char* wire;  // TYPE_INFO and value
    Value value;
    const char* type_name;
    int size;
    bool plp;  // only from 7.2 on
  };
  const Case cases[] = {
      {"int", "26 04 04 FB FF FF FF", Value(-5), "int", 0, false},
      {"tinyint", "26 01 01 C8", Value(200), "tinyint", 0, false},
      {"bigint", "26 08 08 00 1A 71 18 02 00 00 00", Value(9000000000LL), "bigint", 0, false},
      {"null int", "26 04 00", Value(), "int", 0, false},
      {"fixed int", "38 07 00 00 00", Value(7), "int", 0, false},
      {"bit", "68 01 01 01", Value(true), "bit", 0, false},
      {"float", "6D 08 08 00 00 00 00 00 00 04 40", Value(2.5), "float", 0, false},
      {"real", "6D 04 04 00 00 00 3F", Value(0.5), "real", 0, false},
      {"decimal", "6A 05 0A 03 05 01 39 30 00 00", Value("12.345"), "", 0, false},
      {"numeric with the short length FreeTDS writes", "6C 04 05 03 05 01 39 30 00 00",
       Value("12.345"), "", 0, false},
      {"negative numeric", "6C 05 05 02 05 00 32 00 00 00", Value("-0.50"), "", 0, false},
      {"money", "6E 08 08 00 00 00 00 08 E2 01 00", Value("12.3400"), "", 0, false},
      {"smallmoney", "6E 04 04 EF D8 FF FF", Value("-1.0001"), "", 0, false},
      {"datetime", "6F 08 08 F5 92 00 00 7E 6D AA 00", Value(Moment(2003, 1, 2, 10, 20, 30, 500)),
       "datetime", 0, false},
      {"smalldatetime", "6F 04 04 F5 92 6D 02", Value(Moment(2003, 1, 2, 10, 21, 0, 0)),
       "smalldatetime", 0, false},
      {"date", "28 03 50 28 0B", Value(Moment(2003, 1, 2, 0, 0, 0, 0)), "datetime", 0, false},
      {"datetime2", "2A 07 08 40 76 1B AF 56 50 28 0B", Value(Moment(2003, 1, 2, 10, 20, 30, 500)),
       "datetime", 0, false},
      {"datetimeoffset", "2B 00 08 4E 75 00 50 28 0B 78 00",
       Value(Moment(2003, 1, 2, 10, 20, 30, 0)), "datetime", 0, false},
      {"guid", "24 10 10 33 22 11 00 55 44 77 66 88 99 AA BB CC DD EE FF", Value(guid),
       "uniqueidentifier", 0, false},
      {"varchar", "A7 14 00 <c> 05 00 47 72 FC DF 65",
       Value("Gr\xC3\xBC\xC3\x9F"
             "e"),
       "varchar", 20, false},
      {"nvarchar", "E7 40 1F <c> 04 00 E5 65 2C 67", Value("\xE6\x97\xA5\xE6\x9C\xAC"), "nvarchar",
       4000, false},
      {"nchar", "EF 04 00 <c> 04 00 61 00 20 00", Value("a "), "nchar", 2, false},
      {"null nvarchar", "E7 40 1F <c> FF FF", Value(), "nvarchar", 4000, false},
      {"varbinary", "A5 40 1F 02 00 01 02", Value(common::Bytes{1, 2}), "varbinary", 8000, false},
      {"image", "22 10 00 00 00 03 00 00 00 01 02 03", Value(common::Bytes{1, 2, 3}), "image", 0,
       false},
      {"ntext", "63 10 00 00 00 <c> 04 00 00 00 A9 03 6D 00", Value("\xCE\xA9m"), "ntext", 0,
       false},
      {"null text", "23 10 00 00 00 <c> FF FF FF FF", Value(), "text", 0, false},
      {"null type", "1F", Value(), "", 0, false},
      {"nvarchar(max) in chunks",
       "E7 FF FF <c> 08 00 00 00 00 00 00 00 04 00 00 00 61 00 62 00 04 00 00 00 63 00 64 00 "
       "00 00 00 00",
       Value("abcd"), "nvarchar", 4000, true},
      {"varchar(max) of unknown length",
       "A7 FF FF <c> FE FF FF FF FF FF FF FF 02 00 00 00 6F 6B "
       "00 00 00 00",
       Value("ok"), "varchar", 8000, true},
      {"null varbinary(max)", "A5 FF FF FF FF FF FF FF FF FF FF", Value(), "varbinary", 8000, true},
  };
  for (std::uint32_t version : {kTds71, kTds74}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(version >> 24));
      std::string request = OneParameter(version, Hex(c.wire));
      if (c.plp && !AtLeast72(version)) {
        EXPECT_THROW(ParseRpcRequest(request, version), ProtocolError);
        continue;
      }
      std::vector<RpcCall> calls = ParseRpcRequest(request, version);
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(calls[0].procedure, "sp_executesql");
      ASSERT_EQ(calls[0].parameters.size(), 1u);
      const RpcParameter& p = calls[0].parameters[0];
      EXPECT_EQ(p.name, "@p");
      EXPECT_EQ(p.value, c.value) << p.value.ToText();
      EXPECT_EQ(p.type_name, c.type_name);
      EXPECT_EQ(p.size, c.size);
    }
  }
}

TEST(RpcRequest, CallsByNameAndByNumberWithFlagsInOneRequest) {
  struct Layout {
    std::uint32_t version;
    std::uint8_t separator;
  };
  for (Layout layout : {Layout{kTds71, 0x80}, Layout{kTds74, 0xFF}}) {
    SCOPED_TRACE(layout.version >> 24);
    Writer w;
    if (AtLeast72(layout.version)) w.Bytes(Headers());
    w.UsVarchar("dbo.[my proc]");
    w.U16(0x0001);  // with recompile
    w.BVarchar("@out");
    w.U8(0x01);  // by reference
    w.Bytes(Hex("26 04 00"));
    w.BVarchar("");
    w.U8(0x02);  // the default
    w.Bytes(Hex("26 04 00"));
    w.U8(layout.separator);
    w.U16(0xFFFF);
    w.U16(12);
    w.U16(0);
    w.U8(0);
    w.U8(0);
    w.Bytes(Hex("26 04 04 01 00 00 00"));
    w.U8(0xFE);  // the next call is not run
    w.U16(0xFFFF);
    w.U16(15);
    w.U16(0);
    std::vector<RpcCall> calls = ParseRpcRequest(w.data(), layout.version);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].procedure, "dbo.[my proc]");
    EXPECT_EQ(calls[0].options, 1);
    ASSERT_EQ(calls[0].parameters.size(), 2u);
    EXPECT_TRUE(calls[0].parameters[0].output);
    EXPECT_FALSE(calls[0].parameters[0].default_value);
    EXPECT_EQ(calls[0].parameters[1].name, "");
    EXPECT_TRUE(calls[0].parameters[1].default_value);
    EXPECT_EQ(calls[1].procedure, "sp_execute");
    EXPECT_EQ(calls[1].procedure_id, 12);
    EXPECT_FALSE(calls[1].no_exec);
    ASSERT_EQ(calls[1].parameters.size(), 1u);
    EXPECT_EQ(calls[1].parameters[0].value, Value(1));
    EXPECT_EQ(calls[2].procedure, "sp_unprepare");
    EXPECT_TRUE(calls[2].no_exec);
    EXPECT_TRUE(calls[2].parameters.empty());
  }
}

TEST(RpcRequest, MalformedRequestsAreRefused) {
  const struct {
    const char* name;
    std::string request;
  } cases[] = {
      {"headers longer than the message", Hex("FF 00 00 00")},
      {"no procedure at all", Headers()},
      {"an empty procedure name", Headers() + Hex("00 00 00 00")},
      {"a name past the message", Headers() + Hex("10 00 61 00 00 00")},
      {"a parameter name of 200 characters", OneParameter(kTds74, "").substr(0, 28) + Hex("C8")},
      {"an integer of three bytes", OneParameter(kTds74, Hex("26 03 03 01 02 03"))},
      {"an integer value longer than its type", OneParameter(kTds74, Hex("26 04 08 00"))},
      {"a bit of two bytes", OneParameter(kTds74, Hex("68 02 02 00 01"))},
      {"a decimal of precision 0", OneParameter(kTds74, Hex("6A 05 00 00 05 01 01 00 00 00"))},
      {"a decimal of 39 digits",
       OneParameter(kTds74,
                    Hex("6A 11 26 00 11 01 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"))},
      {"a datetime past its day", OneParameter(kTds74, Hex("6F 08 08 00 00 00 00 00 00 00 10"))},
      {"a time of scale 9", OneParameter(kTds74, Hex("29 09 05 00 00 00 00 00"))},
      {"a text longer than its type", OneParameter(kTds74, Hex("E7 02 00 <c> 04 00 61 00 62 00"))},
      {"a varchar of 9000 bytes", OneParameter(kTds74, Hex("A7 28 23 <c> 00 00"))},
      {"a value past the message", OneParameter(kTds74, Hex("E7 A0 0F <c> 10 00 61 00"))},
      {"a chunked value that differs from its length",
       OneParameter(kTds74,
                    Hex("E7 FF FF <c> 08 00 00 00 00 00 00 00 02 00 00 00 61 00 00 00 00 00"))},
      {"a chunk past the message", OneParameter(kTds74, Hex("E7 FF FF <c> FE FF FF FF FF FF FF FF "
                                                            "FF FF 00 00"))},
      {"an unlimited nchar", OneParameter(kTds74, Hex("EF FF FF <c> FF FF FF FF FF FF FF FF"))},
      {"an xml parameter", OneParameter(kTds74, Hex("F1 00"))},
      {"an unknown type", OneParameter(kTds74, Hex("99 00"))},
      {"an encrypted parameter",
       OneParameter(kTds74, "").substr(0, 28) + Hex("02 40 00 70 00 08 26 04 00")},
      {"a smalldatetime past its day", OneParameter(kTds74, Hex("6F 04 04 00 00 A0 05"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(ParseRpcRequest(c.request, kTds74), ProtocolError);
  }
  // Every cut of a whole request is refused, except the one that ends after the call's options
  // (a call without parameters).
  const std::string whole = OneParameter(kTds74, Hex("E7 A0 0F <c> 04 00 E5 65 2C 67"));
  const std::size_t without_parameters = Headers().size() + 6;
  for (std::size_t length = 0; length < whole.size(); ++length) {
    if (length == without_parameters) continue;
    SCOPED_TRACE(length);
    EXPECT_THROW(ParseRpcRequest(whole.substr(0, length), kTds74), ProtocolError);
  }
  EXPECT_EQ(ParseRpcRequest(whole.substr(0, without_parameters), kTds74).size(), 1u);
}

TEST(RpcRequest, ProcedureNamesSplitIntoTheirParts) {
  using Parts = std::vector<std::string>;
  const struct {
    const char* name;
    Parts parts;
  } cases[] = {
      {"sp_who", {"sp_who"}},
      {"dbo.rpc_double", {"dbo", "rpc_double"}},
      {"master..sp_who", {"master", "", "sp_who"}},
      {"[my db].[o]]wner].\"p q\"", {"my db", "o]wner", "p q"}},
      {"#temp_proc", {"#temp_proc"}},
      {"x; DROP TABLE t", {}},
      {"p'--", {}},
      {"[unclosed", {}},
      {"a.b.c.d.e", {}},
      {"dbo.", {}},
      {"[a]b", {}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitProcedureName(c.name), c.parts) << c.name;
}

TEST(RpcReturnValue, OutputsTravelInTheDeclaredTypeOrOneThatHoldsThem) {
  auto type = [](std::uint8_t byte, std::uint32_t length, std::uint8_t precision = 0,
                 std::uint8_t scale = 0) {
    TypeInfo t;
    t.type = byte;
    t.max_length = length;
    t.precision = precision;
    t.scale = scale;
    return t;
  };
  const struct {
    const char* name;
    std::uint32_t version;
    TypeInfo declared;
    Value value;
    std::uint8_t sent_type;
    Value read_back;
  } cases[] = {
      {"a fixed int goes as its nullable form", kTds74, type(0x38, 0), Value(7), 0x26, Value(7)},
      {"a smallint widens for a large value", kTds74, type(0x26, 2), Value(100000), 0x26,
       Value(100000)},
      {"a null", kTds74, type(0x26, 4), Value(), 0x26, Value()},
      {"a decimal rounds to its scale", kTds74, type(0x6A, 5, 10, 3), Value("12.3456"), 0x6A,
       Value("12.346")},
      {"a decimal declared with a short length", kTds71, type(0x6C, 4, 5, 3), Value("-1.5"), 0x6C,
       Value("-1.500")},
      {"a decimal past its precision goes as text", kTds74, type(0x6A, 17, 38, 2),
       Value("1234567890123456789012345678901234567"), 0xE7,
       Value("1234567890123456789012345678901234567")},
      {"a money", kTds74, type(0x6E, 8), Value(-2.5), 0x6E, Value("-2.5000")},
      {"a datetime", kTds71, type(0x6F, 8), Value(Moment(2003, 1, 2, 10, 20, 30, 500)), 0x6F,
       Value(Moment(2003, 1, 2, 10, 20, 30, 500))},
      {"a datetime2", kTds74, type(0x2A, 0, 0, 7), Value(Moment(2003, 1, 2, 10, 20, 30, 500)), 0x2A,
       Value(Moment(2003, 1, 2, 10, 20, 30, 500))},
      {"a long text in a short nvarchar goes whole on 7.2", kTds74, type(0xE7, 4),
       Value("\xC3\xA9t\xC3\xA9!"), 0xE7, Value("\xC3\xA9t\xC3\xA9!")},
      {"text that is no number in an int goes as text", kTds71, type(0x26, 4), Value("abc"), 0xE7,
       Value("abc")},
      {"a null type", kTds71, type(0x1F, 0), Value("x"), 0xE7, Value("x")},
      {"varchar keeps its code page", kTds71, type(0xA7, 20),
       Value("Gr\xC3\xBC\xC3\x9F"
             "e"),
       0xA7,
       Value("Gr\xC3\xBC\xC3\x9F"
             "e")},
      {"ntext goes as nvarchar", kTds71, type(0x63, 0x7FFFFFFF), Value("\xCE\xA9"), 0xE7,
       Value("\xCE\xA9")},
      // money's limits as the engine's doubles hold them lie just outside; never wrapped.
      {"money at its largest", kTds74, type(0x6E, 8), Value(922337203685477.5807), 0x6E,
       Value("922337203685477.5807")},
      {"money at its smallest", kTds70, type(0x3C, 0), Value(-922337203685477.5808), 0x6E,
       Value("-922337203685477.5808")},
      {"smallmoney at its largest", kTds71, type(0x7A, 0), Value(214748.3647), 0x6E,
       Value("214748.3647")},
      {"money far past its range goes as text", kTds74, type(0x6E, 8), Value(1e16), 0xE7,
       Value("1e+16")},
      {"varchar outside its code page goes as nvarchar", kTds71, type(0xA7, 20), Value("\xD0\x96"),
       0xE7, Value("\xD0\x96")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer out;
    WriteReturnValue(out, c.version, 3, "@v", c.declared, c.value);
    Reader r(out.data());
    EXPECT_EQ(r.U8(), 0xAC);
    EXPECT_EQ(r.U16(), 3);
    EXPECT_EQ(FromUtf16(r.Bytes(r.U8() * 2u)), "@v");
    EXPECT_EQ(r.U8(), 1);
    r.Skip(AtLeast72(c.version) ? 4 : 2);
    EXPECT_EQ(r.U16(), 1);
    TypeInfo sent = ReadTypeInfo(r, c.version);
    EXPECT_EQ(sent.type, c.sent_type);
    EXPECT_EQ(ReadTypedValue(r, sent), c.read_back);
    EXPECT_EQ(r.remaining(), 0u);
  }
}

// --- over the listener ---------------------------------------------------------------------

const std::string kPassword = "rpc-Pa'ss";

class RpcServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = common::testing::ScratchFolder("tds-rpc");
    host_ = OpenHost(root_);
    InstanceConfig config;
    config.sa_password = kPassword;
    instance_ = host_->Create("", config);
    server_ = std::make_unique<Server>(instance_, ServerOptions{"127.0.0.1", 0},
                                       [this](std::string_view line) {
                                         std::lock_guard lock(log_mutex_);
                                         log_.emplace_back(line);
                                       });
    port_ = server_->Start();
  }
  void TearDown() override {
    server_.reset();
    instance_.reset();
    host_.reset();
    common::testing::RemoveScratch(root_);
  }

  std::unique_ptr<Client> Connect(std::uint32_t version = kTds74) {
    auto client = std::make_unique<Client>(port_);
    client->Login("sa", kPassword, version);
    return client;
  }

  std::filesystem::path root_;
  std::unique_ptr<Host> host_;
  std::shared_ptr<Instance> instance_;
  std::unique_ptr<Server> server_;
  std::mutex log_mutex_;
  std::vector<std::string> log_;
  int port_ = 0;
};

// A parameter as a client writes it.
void Param(Writer& w, std::string_view name, std::string_view wire, bool output = false) {
  w.BVarchar(name);
  w.U8(output ? 1 : 0);
  w.Bytes(Hex(wire));
}

void NVarChar(Writer& w, std::string_view name, std::string_view text) {
  w.BVarchar(name);
  w.U8(0);
  w.U8(0xE7);
  w.U16(8000);
  w.Bytes(Hex("<c>"));
  std::string units = ToUtf16(text);
  w.U16(static_cast<std::uint16_t>(units.size()));
  w.Bytes(units);
}

void ById(Writer& w, std::uint16_t id) {
  w.U16(0xFFFF);
  w.U16(id);
  w.U16(0);
}

TEST_F(RpcServerTest, ExecuteSqlBindsValuesAndEndsWithDoneProc) {
  for (std::uint32_t version : {kTds71, kTds74}) {
    SCOPED_TRACE(version >> 24);
    auto client = Connect(version);
    const std::string hostile = "x'); DROP TABLE t; --\xC3\xA9";
    Writer w;
    ById(w, 10);
    NVarChar(w, "", "SELECT @a + 1 AS a, @b AS b, LEN(@b) AS n");
    NVarChar(w, "", "@a int, @b nvarchar(40)");
    Param(w, "@a", "26 04 04 29 00 00 00");
    NVarChar(w, "@b", hostile);
    std::vector<Token> tokens = client->Rpc(w.data());
    auto rows = Of(tokens, Kind::kRow);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].row, (std::vector<Value>{Value(42), Value(hostile), Value(22)}));
    ASSERT_GE(tokens.size(), 4u);
    const Token& in_proc = tokens[tokens.size() - 3];
    EXPECT_EQ(in_proc.token, kTokenDoneInProc);
    EXPECT_EQ(in_proc.status, kDoneMore | kDoneCount);
    EXPECT_EQ(in_proc.count, 1u);
    EXPECT_EQ(tokens[tokens.size() - 2].kind, Kind::kReturnStatus);
    EXPECT_EQ(tokens[tokens.size() - 2].number, 0);
    EXPECT_EQ(tokens.back().token, kTokenDoneProc);
    EXPECT_EQ(tokens.back().status & kDoneMore, 0);
    // The session goes on.
    EXPECT_EQ(Of(client->Batch("SELECT 1"), Kind::kRow).size(), 1u);
  }
}

// Each statement's count travels once, with its DONEINPROC: clients that add up every count of
// a request (tedious) report what was changed, not twice that.
TEST_F(RpcServerTest, ARowCountTravelsOnlyWithItsStatement) {
  for (std::uint32_t version : {kTds71, kTds74}) {
    SCOPED_TRACE(version >> 24);
    auto client = Connect(version);
    client->Batch("IF OBJECT_ID('rpc_counted') IS NULL CREATE TABLE rpc_counted (v INT)");
    client->Batch(
        "DELETE FROM rpc_counted INSERT INTO rpc_counted VALUES (1) "
        "INSERT INTO rpc_counted VALUES (1)");
    client->Batch(
        "IF OBJECT_ID('rpc_touch') IS NULL EXEC ('CREATE PROCEDURE rpc_touch AS "
        "UPDATE rpc_counted SET v = v + 1 RETURN 3')");
    Writer by_id;
    ById(by_id, 10);
    NVarChar(by_id, "", "UPDATE rpc_counted SET v = @a");
    NVarChar(by_id, "", "@a int");
    Param(by_id, "@a", "26 04 04 05 00 00 00");
    Writer by_name;
    by_name.UsVarchar("rpc_touch");
    by_name.U16(0);
    for (const std::string& request : {by_id.data(), by_name.data()}) {
      std::vector<Token> tokens = client->Rpc(request);
      std::uint64_t counted = 0;
      for (const Token& t : Of(tokens, Kind::kDone))
        if (t.status & kDoneCount) counted += t.count;
      EXPECT_EQ(counted, 2u);
      ASSERT_FALSE(tokens.empty());
      EXPECT_EQ(tokens.back().token, kTokenDoneProc);
      EXPECT_EQ(tokens.back().status & kDoneCount, 0);
    }
  }
}

TEST_F(RpcServerTest, ProceduresReturnOutputParametersStatusAndErrors) {
  auto client = Connect();
  client->Batch(
      "CREATE PROCEDURE rpc_p @x INT, @y INT OUTPUT, @s NVARCHAR(20) = N'none' OUTPUT AS\n"
      "SET @y = @x * 2\n"
      "SELECT @s AS s\n"
      "IF @x < 0 RAISERROR('negative %d', 16, 2, @x)\n"
      "RETURN 7");
  Writer w;
  w.UsVarchar("dbo.rpc_p");
  w.U16(0);
  Param(w, "@x", "26 04 04 15 00 00 00");
  Param(w, "@y", "26 04 00", true);
  Param(w, "@s", "E7 28 00 <c> FF FF", true);
  std::vector<Token> tokens = client->Rpc(w.data());
  ASSERT_EQ(Of(tokens, Kind::kRow).size(), 1u);
  EXPECT_EQ(Of(tokens, Kind::kRow)[0].row[0], Value());
  auto status = Of(tokens, Kind::kReturnStatus);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].number, 7);
  auto values = Of(tokens, Kind::kReturnValue);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].ordinal, 1);
  EXPECT_EQ(values[0].text, "@y");
  EXPECT_EQ(values[0].row[0], Value(42));
  EXPECT_EQ(values[1].ordinal, 2);
  EXPECT_EQ(values[1].row[0], Value());
  EXPECT_EQ(tokens.back().token, kTokenDoneProc);
  EXPECT_EQ(tokens.back().status & kDoneError, 0);

  // An error in the procedure: its number, severity, state, procedure and line; DONEPROC
  // carries the error bit.
  Writer negative;
  negative.UsVarchar("rpc_p");
  negative.U16(0);
  Param(negative, "", "26 04 04 FF FF FF FF");
  Param(negative, "", "26 04 00", true);
  tokens = client->Rpc(negative.data());
  auto errors = Of(tokens, Kind::kError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].number, 50000);
  EXPECT_EQ(errors[0].severity, 16);
  EXPECT_EQ(errors[0].state, 2);
  EXPECT_EQ(errors[0].procedure, "rpc_p");
  EXPECT_EQ(errors[0].line, 4);
  EXPECT_EQ(errors[0].text, "negative -1");
  EXPECT_NE(tokens.back().status & kDoneError, 0);
  ASSERT_EQ(Of(tokens, Kind::kReturnValue).size(), 1u);
  EXPECT_EQ(Of(tokens, Kind::kReturnValue)[0].row[0], Value(-2));

  // An unknown procedure and a name that is no name: errors, never statements.
  client->Batch("CREATE TABLE rpc_keep (v INT)");
  for (std::string name : {"rpc_missing", "rpc_p; DROP TABLE rpc_keep"}) {
    SCOPED_TRACE(name);
    Writer missing;
    missing.UsVarchar(name);
    missing.U16(0);
    tokens = client->Rpc(missing.data());
    errors = Of(tokens, Kind::kError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].number, 2812);
    EXPECT_TRUE(Of(tokens, Kind::kReturnStatus).empty());
    EXPECT_NE(tokens.back().status & kDoneError, 0);
  }
  Writer hostile_name;
  hostile_name.UsVarchar("rpc_p");
  hostile_name.U16(0);
  Param(hostile_name, "@x = 1; DROP TABLE rpc_keep; --", "26 04 04 01 00 00 00");
  EXPECT_EQ(Of(client->Rpc(hostile_name.data()), Kind::kError).size(), 1u);
  EXPECT_EQ(Of(client->Batch("SELECT COUNT(*) FROM rpc_keep"), Kind::kRow).size(), 1u);
  // A parameter name in other letters than ASCII ones.
  const std::string gross = "gr\xC3\xB6\xC3\x9F";
  client->Batch("CREATE PROCEDURE rpc_" + gross + " @" + gross + " INT OUTPUT AS SET @" + gross +
                " = @" + gross + " + 1");
  Writer letters;
  letters.UsVarchar("rpc_" + gross);
  letters.U16(0);
  Param(letters, "@" + gross, "26 04 04 29 00 00 00", true);
  tokens = client->Rpc(letters.data());
  EXPECT_TRUE(Of(tokens, Kind::kError).empty());
  ASSERT_EQ(Of(tokens, Kind::kReturnValue).size(), 1u);
  EXPECT_EQ(Of(tokens, Kind::kReturnValue)[0].row[0], Value(42));
  // More parameters than SQL Server takes.
  Writer many;
  many.UsVarchar("rpc_p");
  many.U16(0);
  for (int i = 0; i < 2101; ++i) Param(many, "", "26 04 04 01 00 00 00");
  errors = Of(client->Rpc(many.data()), Kind::kError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].number, 8003);
}

// A client's time-out or cancel of a call that sends nothing for a while (tedious's request
// time-out) stops it at once, also after an earlier batch was cancelled on the connection. The
// cut-short reply ends as a message and the acknowledgement comes in the next, alone: tedious
// takes the first message for the reply and waits for the acknowledgement after it.
TEST_F(RpcServerTest, AnAttentionStopsACallThatSendsNothing) {
  auto client = Connect();
  auto cancel = [&](const std::string& what) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto start = std::chrono::steady_clock::now();
    client->SendPacket(6, "");
    std::vector<Token> reply = client->Decode(client->ReadMessage());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << what;
    EXPECT_TRUE(Of(reply, Kind::kRow).empty()) << what;
    for (const Token& t : reply) EXPECT_FALSE(t.status & kDoneAttention) << what;
    std::vector<Token> ack = client->Decode(client->ReadMessage());
    ASSERT_EQ(ack.size(), 1u) << what;
    EXPECT_EQ(ack[0].kind, Kind::kDone) << what;
    EXPECT_EQ(ack[0].status, kDoneAttention) << what;
    auto rows = Of(client->Batch("SELECT 2"), Kind::kRow);
    ASSERT_EQ(rows.size(), 1u) << what;
    EXPECT_EQ(rows[0].row[0], Value(2)) << what;
  };
  client->SendBatch("WAITFOR DELAY '00:00:10' SELECT 'after'");
  cancel("batch");
  for (int call = 0; call < 2; ++call) {
    Writer w;
    ById(w, 10);
    NVarChar(w, "", "WAITFOR DELAY '00:00:10' SELECT 'after'");
    client->SendPacket(3, Headers() + w.data());
    cancel("call " + std::to_string(call));
  }
}

TEST_F(RpcServerTest, PreparedStatementsByProcedureNumber) {
  auto client = Connect();
  // sp_prepare (11): the handle comes back as an output parameter.
  Writer prepare;
  ById(prepare, 11);
  Param(prepare, "", "26 04 00", true);
  NVarChar(prepare, "", "@a int");
  NVarChar(prepare, "", "SELECT @a * 2 AS doubled");
  auto tokens = client->Rpc(prepare.data());
  auto handle = Of(tokens, Kind::kReturnValue);
  ASSERT_EQ(handle.size(), 1u);
  ASSERT_TRUE(handle[0].row[0].ToInt());
  const auto id = static_cast<std::uint32_t>(*handle[0].row[0].ToInt());
  auto by_handle = [&](std::uint16_t proc, std::string_view argument) {
    Writer w;
    ById(w, proc);
    w.BVarchar("");
    w.U8(0);
    w.U8(0x26);
    w.U8(4);
    w.U8(4);
    w.U32(id);
    if (!argument.empty()) Param(w, "", argument);
    return w.data();
  };
  // sp_execute (12) twice in one request: the first DONEPROC has the "more" bit.
  std::string twice = by_handle(12, "26 04 04 05 00 00 00");
  twice += '\xFF';
  twice += by_handle(12, "26 04 04 06 00 00 00");
  tokens = client->Rpc(twice);
  auto rows = Of(tokens, Kind::kRow);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].row[0], Value(10));
  EXPECT_EQ(rows[1].row[0], Value(12));
  std::vector<Token> procs;
  std::copy_if(tokens.begin(), tokens.end(), std::back_inserter(procs),
               [](const Token& t) { return t.token == kTokenDoneProc; });
  ASSERT_EQ(procs.size(), 2u);
  EXPECT_NE(procs[0].status & kDoneMore, 0);
  EXPECT_EQ(procs[1].status & kDoneMore, 0);
  // sp_unprepare (15), after which the handle is unknown.
  EXPECT_TRUE(Of(client->Rpc(by_handle(15, "")), Kind::kError).empty());
  auto errors = Of(client->Rpc(by_handle(12, "26 04 04 05 00 00 00")), Kind::kError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].number, 8179);
  // sp_prepexec (13) prepares and runs at once.
  Writer prepexec;
  ById(prepexec, 13);
  Param(prepexec, "", "26 04 00", true);
  NVarChar(prepexec, "", "@a int");
  NVarChar(prepexec, "", "SELECT @a + 100 AS a");
  Param(prepexec, "", "26 04 04 01 00 00 00");
  tokens = client->Rpc(prepexec.data());
  ASSERT_EQ(Of(tokens, Kind::kRow).size(), 1u);
  EXPECT_EQ(Of(tokens, Kind::kRow)[0].row[0], Value(101));
  EXPECT_EQ(Of(tokens, Kind::kReturnValue).size(), 1u);
}

TEST_F(RpcServerTest, AMalformedRequestEndsItsConnectionWithALoggedReason) {
  auto client = Connect();
  client->SendPacket(3, Headers() + Hex("FF FF 0A 00 00 00 00 00 26 03 03 01 02 03"));
  EXPECT_TRUE(client->ClosedByServer());
  {
    std::lock_guard lock(log_mutex_);
    EXPECT_TRUE(std::any_of(log_.begin(), log_.end(), [](const std::string& line) {
      return line.find("malformed request") != std::string::npos &&
             line.find("0x26") != std::string::npos;
    }));
  }
  EXPECT_EQ(Of(Connect()->Batch("SELECT 1"), Kind::kRow).size(), 1u);
}

}  // namespace
}  // namespace sandbox::tds
