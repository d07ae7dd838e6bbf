// Long string and binary literals in statements: stored, compared and refused exactly as short
// ones, whichever way the engine hands them to its storage, in every statement that takes them.
#include <string>

#include "sandbox/sandbox_fixture.h"

namespace sandbox::testing {
namespace {

using common::Value;

// `text` as a T-SQL literal, quotes doubled.
std::string Quoted(const std::string& text, bool national = true) {
  std::string out = national ? "N'" : "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string HexLiteral(const common::Bytes& bytes) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out = "0x";
  for (std::uint8_t b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

// A long text that would break naive quoting: quotes, brackets, semicolons, a comment
// marker and umlauts, different for every seed.
std::string HostileText(int seed, std::size_t length = 1500) {
  std::string text = "Seite " + std::to_string(seed) + ": it's [x]; DROP TABLE t; -- äöü \"q\" ";
  while (text.size() < length) text += static_cast<char>('a' + (text.size() * 7 + seed) % 26);
  return text;
}

common::Bytes SomeBytes(int seed, std::size_t length = 3000) {
  common::Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
  bytes[7] = 0;
  bytes[8] = '\'';
  return bytes;
}

class LongLiteralTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    Ok("CREATE TABLE doc (id INT PRIMARY KEY, body NTEXT NULL, head VARCHAR(2000) NULL, "
       "short_text VARCHAR(10) NULL, data IMAGE NULL, stamp DATETIME NULL)");
  }
};

TEST_F(LongLiteralTest, InsertUpdateSelectAndDeleteKeepEveryCharacter) {
  const std::string body = HostileText(1, 30000);
  const std::string head = HostileText(2);
  const common::Bytes data = SomeBytes(3);
  Ok("INSERT INTO doc (id, body, head, data) VALUES (1, " + Quoted(body) + ", " +
     Quoted(head, false) + ", " + HexLiteral(data) + ")");
  Ok("INSERT INTO doc (id, head) VALUES (2, 'kurz')");
  EXPECT_EQ(Scalar("SELECT body FROM doc WHERE id = 1"), Value(body));
  EXPECT_EQ(Scalar("SELECT data FROM doc WHERE id = 1"), Value(data));
  // Found by the long values themselves, in comparisons, LIKE and IN.
  EXPECT_EQ(Scalar("SELECT id FROM doc WHERE head = " + Quoted(head, false)), Value(1));
  EXPECT_EQ(Scalar("SELECT id FROM doc WHERE data = " + HexLiteral(data)), Value(1));
  // (Its start holds "[x]", a character class in a pattern; the letters after it do not.)
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM doc WHERE head LIKE " +
                   Quoted("%" + head.substr(100, 600) + "%", false)),
            Value(1));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM doc WHERE head IN ('kurz', " + Quoted(head, false) + ", " +
                   Quoted(HostileText(9), false) + ")"),
            Value(2));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM doc WHERE head = " + Quoted(HostileText(9), false)),
            Value(0));
  // A long literal in the select list comes back as it was written.
  EXPECT_EQ(Scalar("SELECT " + Quoted(head, false)), Value(head));

  // The update the client cursor sends: long new values, long original values as criteria.
  const std::string new_head = HostileText(4);
  const common::Bytes new_data = SomeBytes(5);
  CollectingSink sink =
      Run("UPDATE doc SET body = N'', head = " + Quoted(new_head, false) +
          ", data = " + HexLiteral(new_data) + " WHERE id = 1 AND head = " + Quoted(head, false));
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  ASSERT_FALSE(sink.done.empty());
  EXPECT_EQ(sink.done.back(), 1);
  EXPECT_EQ(Scalar("SELECT head FROM doc WHERE id = 1"), Value(new_head));
  EXPECT_EQ(Scalar("SELECT data FROM doc WHERE id = 1"), Value(new_data));
  // The same statement again no longer finds the row: its original value is gone.
  sink = Run("UPDATE doc SET head = 'x' WHERE id = 1 AND head = " + Quoted(head, false));
  ASSERT_EQ(sink.FirstError(), 0) << sink.ErrorText();
  EXPECT_EQ(sink.done.back(), 0);

  // UPDATE with TOP takes the other way through the engine; both values reach the row.
  const std::string third = HostileText(6);
  Ok("UPDATE TOP (1) doc SET head = " + Quoted(third, false) +
     " WHERE data = " + HexLiteral(new_data));
  EXPECT_EQ(Scalar("SELECT head FROM doc WHERE id = 1"), Value(third));

  Ok("DELETE FROM doc WHERE head = " + Quoted(third, false));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM doc"), Value(1));
}

TEST_F(LongLiteralTest, TheSameStatementWithOtherValuesStoresEachValue) {
  // One statement shape, many values: each execution must use its own.
  for (int i = 0; i < 30; ++i) {
    Ok("INSERT INTO doc (id, head, data) VALUES (" + std::to_string(i) + ", " +
       Quoted(HostileText(i), false) + ", " + HexLiteral(SomeBytes(i)) + ")");
  }
  for (int i = 0; i < 30; i += 3) {
    Ok("UPDATE doc SET head = " + Quoted(HostileText(100 + i), false) +
       " WHERE id = " + std::to_string(i));
  }
  for (int i = 0; i < 30; ++i) {
    const std::string id = std::to_string(i);
    ASSERT_EQ(Scalar("SELECT head FROM doc WHERE id = " + id),
              Value(HostileText(i % 3 == 0 ? 100 + i : i)))
        << "row " << i;
    ASSERT_EQ(Scalar("SELECT data FROM doc WHERE id = " + id), Value(SomeBytes(i))) << "row " << i;
  }
}

TEST_F(LongLiteralTest, ValuesTooLongForTheColumnAreStillRefused) {
  Ok("INSERT INTO doc (id, short_text) VALUES (1, 'alt')");
  CollectingSink sink = Run("UPDATE doc SET short_text = " + Quoted(HostileText(1), false));
  EXPECT_EQ(sink.FirstError(), 8152);
  EXPECT_EQ(Scalar("SELECT short_text FROM doc"), Value("alt"));
  sink =
      Run("INSERT INTO doc (id, head) VALUES (2, " + Quoted(std::string(2001, 'y'), false) + ")");
  EXPECT_EQ(sink.FirstError(), 8152);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM doc"), Value(1));
  // A long text that is no date fails as a short one does, with the conversion error.
  Ok("UPDATE doc SET stamp = '2003-02-01'");
  sink = Run("SELECT id FROM doc WHERE stamp = " + Quoted(HostileText(3), false));
  EXPECT_EQ(sink.FirstError(), 241) << sink.ErrorText();
  EXPECT_EQ(Run("SELECT id FROM doc WHERE stamp = '1. Feb'").FirstError(), 241);
}

TEST_F(LongLiteralTest, TextsWithZeroCharactersStayWhole) {
  std::string text = HostileText(7);
  text[300] = '\0';
  Ok("INSERT INTO doc (id, head) VALUES (1, " + Quoted(text, false) + ")");
  // One byte a character in the column's code page: the three umlauts take three.
  EXPECT_EQ(Scalar("SELECT DATALENGTH(head) FROM doc"), Value(static_cast<int>(text.size()) - 3));
  EXPECT_EQ(Scalar("SELECT head FROM doc"), Value(text));
}

TEST_F(LongLiteralTest, DefinitionsThatKeepTheirTextKeepLongLiterals) {
  const std::string fallback = HostileText(8, 700);
  Ok("INSERT INTO doc (id) VALUES (1)");
  // A default given to existing rows while the table is rebuilt.
  Ok("ALTER TABLE doc ADD note VARCHAR(800) NOT NULL DEFAULT " + Quoted(fallback, false));
  EXPECT_EQ(Scalar("SELECT note FROM doc WHERE id = 1"), Value(fallback));
  Ok("INSERT INTO doc (id) VALUES (2)");
  EXPECT_EQ(Scalar("SELECT note FROM doc WHERE id = 2"), Value(fallback));
  // A view reads its literal every time it is used.
  Ok("CREATE VIEW v AS SELECT id, " + Quoted(fallback, false) +
     " AS note2 FROM doc WHERE note = " + Quoted(fallback, false));
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM v WHERE note2 = " + Quoted(fallback, false)), Value(2));
  // Procedures and variables take the long value as well.
  Ok("CREATE PROCEDURE p @v VARCHAR(800) AS UPDATE doc SET note = @v WHERE id = 2");
  Ok("EXEC p " + Quoted(HostileText(9, 700), false));
  EXPECT_EQ(Scalar("SELECT note FROM doc WHERE id = 2"), Value(HostileText(9, 700)));
  EXPECT_EQ(Scalar("DECLARE @t VARCHAR(800) SET @t = " + Quoted(fallback, false) +
                   " IF @t = " + Quoted(fallback, false) + " SELECT 1 ELSE SELECT 0"),
            Value(1));
}

}  // namespace
}  // namespace sandbox::testing
