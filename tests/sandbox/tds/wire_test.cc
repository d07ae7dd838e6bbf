// The byte-level pieces of the protocol, and random input against every parser of it.
#include "sandbox/tds/wire.h"

#include <gtest/gtest.h>

#include <random>

#include "sandbox/tds/protocol.h"
#include "tds_client.h"

namespace sandbox::tds {
namespace {

TEST(TdsWire, TextTravelsAsUtf16LittleEndian) {
  struct Case {
    std::string utf8;
    std::string utf16;
  };
  const Case cases[] = {
      {"A", std::string("A\0", 2)},
      {"\xC3\xA9", std::string("\xE9\0", 2)},                    // é
      {"\xE2\x82\xAC", "\xAC\x20"},                              // €
      {"\xF0\x9F\x98\x80", std::string("\x3D\xD8\x00\xDE", 4)},  // 😀, a surrogate pair
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(FromUtf16(c.utf16), c.utf8) << c.utf8;
    EXPECT_EQ(Utf16Units(c.utf8), c.utf16.size() / 2) << c.utf8;
  }
}

TEST(TdsWire, BrokenTextBecomesReplacementCharacters) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  EXPECT_EQ(FromUtf16("\x3D\xD8"), kReplacement);                    // a lone high surrogate
  EXPECT_EQ(FromUtf16(std::string("\x00\xDE", 2)), kReplacement);    // a lone low surrogate
  EXPECT_EQ(FromUtf16(std::string("A\0B", 3)), "A" + kReplacement);  // an odd byte at the end
  EXPECT_EQ(FromUtf16(ToUtf16("\xC3")), kReplacement);               // truncated UTF-8
  EXPECT_EQ(FromUtf16(ToUtf16("\xED\xA0\x80")), kReplacement + kReplacement + kReplacement);
  // A limit never splits a surrogate pair.
  EXPECT_EQ(ToUtf16Limited("a\xF0\x9F\x98\x80", 2), std::string("a\0", 2));
}

TEST(TdsWire, DateTimesCountDaysFrom1900AndThreeHundredthsOfSeconds) {
  struct Case {
    common::DateTime value;
    std::int32_t days;
    std::uint32_t ticks;
  };
  const Case cases[] = {
      {{1900, 1, 1, 0, 0, 0, 0}, 0, 0},
      {{1753, 1, 1, 0, 0, 0, 0}, -53690, 0},
      {{2000, 1, 1, 12, 0, 0, 500}, 36524, 12960150},
      {{9999, 12, 31, 23, 59, 59, 998}, 2958463, 25919999},
      // Rounding up to the next day carries into the date.
      {{1899, 12, 31, 23, 59, 59, 999}, 0, 0},
  };
  for (const Case& c : cases) {
    auto [days, ticks] = DateTimeParts(c.value);
    EXPECT_EQ(days, c.days) << c.value.ToText();
    EXPECT_EQ(ticks, c.ticks) << c.value.ToText();
  }
}

TEST(TdsWire, MessagesAreReassembledFromPackets) {
  std::uint8_t id = 0;
  std::string payload(10000, 'x');
  std::string stream = Frame(PacketType::kSqlBatch, payload, 4096, &id);
  EXPECT_EQ(id, 3);  // 10000 bytes in packets of 4088
  std::size_t position = 0;
  ReadFunction read = [&](char* buffer, std::size_t count) {
    std::size_t n = std::min<std::size_t>({count, stream.size() - position, 7});
    std::copy_n(stream.data() + position, n, buffer);
    position += n;
    return n;
  };
  Message message;
  ASSERT_TRUE(ReadMessage(read, 1 << 20, &message));
  EXPECT_EQ(message.type, PacketType::kSqlBatch);
  EXPECT_EQ(message.payload, payload);
  EXPECT_FALSE(ReadMessage(read, 1 << 20, &message));  // a clean end
  position = 0;
  EXPECT_THROW(ReadMessage(read, 9999, &message), ProtocolError);  // over the limit
}

// Random bytes, and valid requests with random bytes changed, into every parser: each either
// reads them or refuses them as a protocol error; nothing else escapes and nothing reads past
// the data it was given.
Column IntColumn(const std::string& name) {
  Column column;
  column.name = name;
  column.type_name = "int";
  column.value_type = common::Value::Type::kInt;
  column.nullable = false;
  return column;
}

// A small row set is held until it ends, so its types follow all its values; a long one is
// written from its kHeldRows-th row on, row by row.
TEST(TdsRowSet, SmallSetsAreHeldLongOnesStream) {
  // COLMETADATA of one INTN(4) column "n" at 7.4: token, count, user type, flags, type, width,
  // name; then each row is a ROW token, the width and four bytes.
  constexpr std::size_t kMetadata = 1 + 2 + 4 + 2 + 1 + 1 + 1 + 2;
  constexpr std::size_t kRow = 1 + 1 + 4;
  Writer out;
  RowSetWriter small(kTds74, {IntColumn("n")});
  for (int i = 0; i < 3; ++i) small.Row(out, {common::Value(i)});
  EXPECT_TRUE(out.data().empty());
  small.Finish(out);
  EXPECT_EQ(out.data().size(), kMetadata + 3 * kRow);
  EXPECT_EQ(static_cast<unsigned char>(out.data()[0]), 0x81);

  Writer streamed;
  RowSetWriter long_set(kTds74, {IntColumn("n")});
  for (std::size_t i = 0; i + 1 < RowSetWriter::kHeldRows; ++i)
    long_set.Row(streamed, {common::Value(7)});
  EXPECT_TRUE(streamed.data().empty());
  EXPECT_FALSE(long_set.streaming());
  long_set.Row(streamed, {common::Value(7)});
  EXPECT_TRUE(long_set.streaming());
  EXPECT_EQ(streamed.data().size(), kMetadata + RowSetWriter::kHeldRows * kRow);
  streamed.data().clear();
  long_set.Row(streamed, {common::Value(8)});
  EXPECT_EQ(streamed.data(), std::string("\xD1\x04\x08\x00\x00\x00", 6));
  long_set.Row(streamed, {common::Value()});  // NULL, though no held row had one
  EXPECT_EQ(streamed.data().substr(6), std::string("\xD1\x00", 2));
  long_set.Finish(streamed);
  EXPECT_EQ(streamed.data().size(), 8u);
}

// Large values count too: a set of a few big texts starts streaming long before kHeldRows.
TEST(TdsRowSet, HeldValuesAreBoundedByTheirSize) {
  Column text;
  text.name = "t";
  text.type_name = "text";
  Writer out;
  RowSetWriter set(kTds74, {text});
  const std::string big(200000, 'x');
  int rows = 0;
  while (!set.streaming() && rows < 100) {
    set.Row(out, {common::Value(big)});
    ++rows;
  }
  EXPECT_TRUE(set.streaming());
  EXPECT_LE(static_cast<std::size_t>(rows) * big.size(), RowSetWriter::kHeldBytes + big.size());
  // Every held text went out whole, a byte a character in the collation's code page.
  EXPECT_GT(out.data().size(), static_cast<std::size_t>(rows) * big.size());
}

// Once streaming, a value the sent type cannot carry is refused, never cut or mangled; where
// the declared type gives no length, text has room up to 8000 bytes.
TEST(TdsRowSet, LaterValuesMustFitTheTypesSent) {
  Column name;
  name.name = "name";
  name.type_name = "varchar";
  name.size = 10;
  Column computed;
  computed.name = "c";
  computed.type_name = "";
  computed.size = 0;
  Writer out;
  RowSetWriter set(kTds74, {name, computed, IntColumn("n")});
  for (std::size_t i = 0; i < RowSetWriter::kHeldRows; ++i)
    set.Row(out, {common::Value("short"), common::Value("c"), common::Value(1)});
  ASSERT_TRUE(set.streaming());
  EXPECT_NO_THROW(set.Row(
      out, {common::Value("ten chars!"), common::Value(std::string(4000, 'y')), common::Value(2)}));
  EXPECT_THROW(set.Row(out, {common::Value("eleven char"), common::Value("c"), common::Value(3)}),
               std::runtime_error);
  EXPECT_THROW(
      set.Row(out, {common::Value("a"), common::Value(std::string(4001, 'y')), common::Value(3)}),
      std::runtime_error);
  EXPECT_THROW(
      set.Row(out, {common::Value("a"), common::Value("c"), common::Value("not a number")}),
      std::runtime_error);
}

// Column metadata as each version has it: collations from 7.1 on, the (max) types as PLP from
// 7.2, the large types before it.
TEST(TdsRowSet, ColumnMetadataFollowsTheVersion) {
  auto column = [](const char* type_name, int size) {
    Column c;
    c.name = "c";
    c.type_name = type_name;
    c.size = size;
    return c;
  };
  const struct {
    const char* name;
    std::uint32_t version;
    Column column;
    std::string type_info;  // from the type byte to the name
  } cases[] = {
      {"varchar at 7.0 has no collation", kTds70, column("varchar", 10),
       std::string("\xA7\x0A\x00", 3)},
      {"varchar at 7.1 has the server's", kTds71, column("varchar", 10),
       std::string("\xA7\x0A\x00\x09\x04\xD0\x00\x34", 8)},
      {"nchar counts bytes", kTds74, column("nchar", 3),
       std::string("\xEF\x06\x00\x09\x04\xD0\x00\x34", 8)},
      {"nvarchar(max) at 7.2 is PLP", kTds72, column("nvarchar", -1),
       std::string("\xE7\xFF\xFF\x09\x04\xD0\x00\x34", 8)},
      {"nvarchar(max) at 7.1 is ntext", kTds71, column("nvarchar", -1),
       std::string("\x63\xFE\xFF\xFF\x7F\x09\x04\xD0\x00\x34\x00\x00", 12)},
      {"image at 7.2 names no table", kTds72, column("image", 0),
       std::string("\x22\xFF\xFF\xFF\x7F\x00", 6)},
      {"timestamp is binary(8)", kTds74, column("timestamp", 0), std::string("\xAD\x08\x00", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer out;
    RowSetWriter set(c.version, {c.column});
    set.Finish(out);
    // Token, count, user type (4 bytes from 7.2), flags; then the type info and the name.
    const std::size_t start = 1 + 2 + (AtLeast72(c.version) ? 4 : 2) + 2;
    ASSERT_GE(out.data().size(), start + c.type_info.size() + 3);
    EXPECT_EQ(out.data().substr(start, c.type_info.size()), c.type_info);
    EXPECT_EQ(out.data().substr(start + c.type_info.size()), std::string("\x01"
                                                                         "c\x00",
                                                                         3));
  }
}

// Exact numbers travel as scaled integers: decimals in their precision's width, money in
// 1/10000 units (high half first), from the text or double the engine holds.
TEST(TdsRowSet, ExactNumbersCarryEveryDigit) {
  auto column = [](const char* type_name, int precision, int scale) {
    Column c;
    c.name = "c";
    c.type_name = type_name;
    c.precision = precision;
    c.scale = scale;
    return c;
  };
  const struct {
    const char* name;
    Column column;
    common::Value value;
    std::string row;  // after the ROW token
  } cases[] = {
      {"decimal(5,2) from a double", column("decimal", 5, 2), common::Value(-123.45),
       std::string("\x05\x00\x39\x30\x00\x00", 6)},
      {"numeric(38,0) beyond 64 bits from its digits", column("numeric", 38, 0),
       common::Value("18446744073709551616"),
       std::string("\x11\x01", 2) + std::string(8, '\0') + std::string("\x01", 1) +
           std::string(7, '\0')},
      {"money's largest from its double", column("money", 0, 4),
       common::Value(922337203685477.5807), std::string("\x08\xFF\xFF\xFF\x7F\xFF\xFF\xFF\xFF", 9)},
      {"smallmoney", column("smallmoney", 0, 4), common::Value(-1.5),
       std::string("\x04\x68\xC5\xFF\xFF", 5)},
      {"a null decimal", column("decimal", 10, 2), common::Value(), std::string("\x00", 1)},
      // Of a decimal whose precision is not known, the scale is no promise: a float keeps the
      // fraction.
      {"a decimal of unknown precision", column("decimal", 0, 0), common::Value(0.5),
       std::string("\x08\x00\x00\x00\x00\x00\x00\xE0\x3F", 9)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer out;
    RowSetWriter set(kTds74, {c.column});
    set.Row(out, {c.value});
    set.Finish(out);
    ASSERT_GE(out.data().size(), c.row.size());
    EXPECT_EQ(out.data().substr(out.data().size() - c.row.size()), c.row);
  }
}

// A varchar column goes in the code page's bytes; a held value outside the code page makes it
// Unicode, and a later one the sent varchar cannot carry fails the set rather than become "?".
TEST(TdsRowSet, VarcharKeepsEveryCharacter) {
  Column v;
  v.name = "v";
  v.type_name = "varchar";
  v.size = 10;
  Writer held;
  RowSetWriter unicode(kTds74, {v});
  unicode.Row(held, {common::Value("\xC3\xA9")});
  unicode.Row(held, {common::Value("\xD0\x96")});
  unicode.Finish(held);
  EXPECT_EQ(held.data().substr(9, 3), std::string("\xE7\x14\x00", 3));
  EXPECT_NE(held.data().find(std::string("\x02\x00\x16\x04", 4)), std::string::npos);

  Writer out;
  RowSetWriter streamed(kTds74, {v});
  for (std::size_t i = 0; i < RowSetWriter::kHeldRows; ++i)
    streamed.Row(out, {common::Value("caf\xC3\xA9")});
  ASSERT_TRUE(streamed.streaming());
  EXPECT_EQ(out.data().substr(9, 3), std::string("\xA7\x0A\x00", 3));
  EXPECT_NE(out.data().find(std::string("\x04\x00"
                                        "caf\xE9",
                                        6)),
            std::string::npos);
  const std::size_t before = out.data().size();
  EXPECT_THROW(streamed.Row(out, {common::Value("\xD0\x96")}), std::runtime_error);
  EXPECT_EQ(out.data().size(), before);  // nothing of the refused row
}

TEST(TdsWire, RandomInputIsReadOrRefusedAsAProtocolError) {
  std::mt19937 random(20261206);
  std::string login = tds_test::Login7Record("sa", "secret", kTds74, false);
  std::string prelogin("\x00\x00\x0B\x00\x06\x01\x00\x11\x00\x01\xFF\x09\x00\x00\x00\x00\x00\x00",
                       18);
  std::string batch =
      std::string("\x16\0\0\0\x12\0\0\0\x02\0", 10) + std::string(12, '\0') + ToUtf16("SELECT 1");
  const std::string* seeds[] = {&login, &prelogin, &batch};
  int refused = 0;
  for (int round = 0; round < 30000; ++round) {
    std::string input;
    if (round % 3 == 0) {
      input.resize(random() % 200);
      for (char& c : input) c = static_cast<char>(random());
    } else {
      input = *seeds[random() % 3];
      for (int flips = 1 + random() % 4; flips > 0; --flips)
        input[random() % input.size()] = static_cast<char>(random());
      if (random() % 4 == 0) input.resize(random() % (input.size() + 1));
    }
    try {
      switch (round % 5) {
        case 0:
          ParsePrelogin(input);
          break;
        case 1:
          ParseLogin7(input);
          break;
        case 2:
          ParseSqlBatch(input, kTds74);
          break;
        case 3:
          ParseSqlBatch(input, kTds70);
          break;
        case 4: {
          std::size_t position = 0;
          Message message;
          ReadMessage(
              [&](char* buffer, std::size_t count) {
                std::size_t n = std::min<std::size_t>(
                    {count, input.size() - position, 1 + static_cast<std::size_t>(random() % 16)});
                std::copy_n(input.data() + position, n, buffer);
                position += n;
                return n;
              },
              512, &message);
          ASSERT_LE(message.payload.size(), 512u);
          break;
        }
      }
    } catch (const ProtocolError&) {
      ++refused;
    }
  }
  // The mutations reach both outcomes.
  EXPECT_GT(refused, 1000);
  EXPECT_LT(refused, 29000);
}

}  // namespace
}  // namespace sandbox::tds
