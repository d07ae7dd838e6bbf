// Password hashes against the published test vectors of SHA-256 (FIPS 180-2), HMAC-SHA-256
// (RFC 4231) and PBKDF2-HMAC-SHA-256, and the stored form's salt and checks.
#include "sandbox/password.h"

#include <gtest/gtest.h>

#include <string>

namespace sandbox {
namespace {

std::string Hex(const Sha256Digest& d) { return HexText(d.data(), d.size()); }
std::string Hex(const std::vector<std::uint8_t>& d) { return HexText(d.data(), d.size()); }

TEST(PasswordTest, Sha256OfKnownMessages) {
  EXPECT_EQ(Hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the padding needs a block of its own.
  EXPECT_EQ(Hex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(Sha256(std::string(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(PasswordTest, HmacAndPbkdf2) {
  EXPECT_EQ(Hex(HmacSha256("Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  // A key longer than a block is hashed first (RFC 4231 case 6).
  EXPECT_EQ(Hex(HmacSha256(std::string(131, '\xaa'),
                           "Test Using Larger Than Block-Size Key - Hash Key First")),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  EXPECT_EQ(Hex(Pbkdf2Sha256("password", "salt", 1, 32)),
            "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
  EXPECT_EQ(Hex(Pbkdf2Sha256("password", "salt", 2, 32)),
            "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43");
  EXPECT_EQ(Hex(Pbkdf2Sha256("password", "salt", 4096, 32)),
            "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
  // More than one block of output (RFC 7914's vector).
  EXPECT_EQ(Hex(Pbkdf2Sha256("passwd", "salt", 1, 64)),
            "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
            "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
}

TEST(PasswordTest, StoredHashesAreSaltedAndChecked) {
  std::string first = HashPassword("Geheim 1!");
  std::string second = HashPassword("Geheim 1!");
  EXPECT_NE(first, second);  // each login gets a salt of its own
  EXPECT_EQ(first.find("Geheim"), std::string::npos);
  EXPECT_EQ(first.rfind("pbkdf2-sha256$", 0), 0u);
  EXPECT_TRUE(VerifyPassword(first, "Geheim 1!"));
  EXPECT_TRUE(VerifyPassword(second, "Geheim 1!"));
  EXPECT_FALSE(VerifyPassword(first, "geheim 1!"));
  EXPECT_FALSE(VerifyPassword(first, ""));
  EXPECT_TRUE(VerifyPassword(HashPassword(""), ""));
  // Anything that is not a stored hash matches no password, not even its own text.
  for (const char* stored :
       {"", "Geheim 1!", "pbkdf2-sha256$", "pbkdf2-sha256$x$00$00", "pbkdf2-sha256$1$zz$00",
        "pbkdf2-sha256$0$00$00", "pbkdf2-sha256$99999999999$00$00", "md5$1$00$00"})
    EXPECT_FALSE(VerifyPassword(stored, stored)) << stored;
}

}  // namespace
}  // namespace sandbox
