// The string form of the encrypted container.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypt/zolt_crypt.h"
#include "encrypt/zoltsh_encrypt.h"
#include "encrypt_fixture.h"
#include "json/json_text.h"

namespace {

using zoltsh::testing::EncryptTest;

class ContainerTest : public EncryptTest {
 protected:
  std::string Encrypt(const std::string& plain, const std::string& password) {
    Json::Value out;
    EXPECT_TRUE(ZOLT_SH_ENCRYPT::EncryptStringToBase64(plain, password, out));
    EXPECT_TRUE(out.isString());
    return out.asString();
  }
  static std::string Decode(const std::string& text) {
    std::string bytes;
    EXPECT_TRUE(ZOLTBase64Decode(text, bytes));
    return bytes;
  }
  static std::string B64(const std::string& bytes) {
    return ZOLTBase64Encode(bytes.data(), bytes.size());
  }
};

TEST_F(ContainerTest, RoundTripsTextsOfEverySizeThatMatters) {
  // One byte, a block less one, whole blocks, a piece of the cipher loop and one more, megabytes.
  for (size_t n : {1u, 15u, 16u, 17u, 32u, 32768u, 32769u, 3u * 1024 * 1024 + 5}) {
    SCOPED_TRACE(n);
    std::string plain = Bytes(n);
    for (char& c : plain) c = c == '\0' ? 'z' : c;  // the string form reads up to a NUL
    const std::string cipher = Encrypt(plain, "pw");
    EXPECT_EQ(cipher.find('\n'), std::string::npos);
    const std::string bytes = Decode(cipher);
    EXPECT_EQ(bytes.size(), 16 + (n / 16 + 1) * 16);
    std::string back;
    ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(cipher, "pw", back));
    EXPECT_EQ(back, plain);
  }
}

TEST_F(ContainerTest, StartsWithTheMagicAndAPrintableSalt) {
  const std::string bytes = Decode(Encrypt("hello", "pw"));
  ASSERT_GE(bytes.size(), 32u);
  EXPECT_EQ(bytes.substr(0, 8), "Salted__");
  for (char c : bytes.substr(8, 8)) {
    EXPECT_GE(c, ' ');
    EXPECT_LE(c, '~');
  }
  // A fresh salt every time.
  EXPECT_NE(Decode(Encrypt("hello", "pw")).substr(8, 8), bytes.substr(8, 8));
}

TEST_F(ContainerTest, EmptyTextIsRefusedWithoutALogLine) {
  Json::Value out = "unchanged";
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::EncryptStringToBase64("", "pw", out));
  EXPECT_EQ(out.asString(), "unchanged");
  EXPECT_TRUE(log_.lines().empty()) << AllLines();
}

TEST_F(ContainerTest, WrongPasswordFailsAndLeavesTheOutput) {
  const std::string cipher = Encrypt("{\"a\": 1} and some more text to fill blocks", "right");
  std::string out = "unchanged";
  // A wrong password breaks the padding but for about one time in 256; then the text differs.
  for (const char* wrong : {"wrong", "Right", "right ", ""}) {
    SCOPED_TRACE(wrong);
    std::string tmp = out;
    if (ZOLT_SH_ENCRYPT::DecryptStringFromBase64(cipher, wrong, tmp)) {
      EXPECT_NE(tmp, "{\"a\": 1} and some more text to fill blocks");
      continue;
    }
    EXPECT_EQ(tmp, "unchanged");
  }
  EXPECT_TRUE(Logged("AES Decrypt fail: bad decrypt")) << AllLines();
}

TEST_F(ContainerTest, PlaintextEndsAtItsFirstNul) {
  const std::string cipher = Encrypt(std::string("before\0after", 12), "pw");
  std::string out;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(cipher, "pw", out));
  EXPECT_EQ(out, "before");
}

struct BadCase {
  const char* what;
  std::string cipher;
  const char* logged;
};

TEST_F(ContainerTest, DamagedContainersFailWithTheirOwnMessage) {
  const std::string good = Decode(Encrypt("a text of more than one block, 40 bytes.", "pw"));
  std::string flipped = good;
  flipped.back() = static_cast<char>(flipped.back() ^ 0x5a);
  std::string badMagic = good;
  badMagic[0] = 's';
  const std::vector<BadCase> cases = {
      {"empty", "", "Failed [strCipher.empty()]"},
      {"not base64", "Salted__!!!!", "Failed [!ZOLTBase64Decode(strCipher, container)]"},
      {"base64 with a space", B64(good).insert(8, " "), "Failed [!ZOLTBase64Decode"},
      {"shorter than the header", B64("Salted__1234567"), "File doesn't contain magic salt"},
      {"header only", B64(good.substr(0, 16)), "AES Decrypt fail"},
      {"bad magic", B64(badMagic), "File doesn't contain magic salt"},
      {"cut inside a block", B64(good.substr(0, good.size() - 3)), "AES Decrypt fail"},
      {"last block lost", B64(good.substr(0, good.size() - 16)), "AES Decrypt fail"},
      {"last byte changed", B64(flipped), "AES Decrypt fail"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    log_.clear();
    std::string out = "unchanged";
    EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(c.cipher, "pw", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(Logged(c.logged)) << AllLines();
    Json::Value value = "unchanged";
    EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(c.cipher, "pw", value));
    EXPECT_EQ(value.asString(), "unchanged");
  }
}

TEST_F(ContainerTest, JsonFormParsesThePlaintext) {
  const std::string cipher = Encrypt(R"({"sheet": [1, "two", null]})", "pw");
  Json::Value out;
  ASSERT_TRUE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(cipher, "pw", out));
  EXPECT_EQ(Json::toString(out), R"({"sheet":[1,"two",null]})");
}

TEST_F(ContainerTest, UnparsablePlaintextIsNotWrittenToTheLog) {
  const std::string secret = "secret cell text {not json";
  const std::string cipher = Encrypt(secret, "pw");
  Json::Value out = "unchanged";
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(cipher, "pw", out));
  EXPECT_EQ(out.asString(), "unchanged");
  EXPECT_TRUE(Logged("Failed to parse plaintext of 26 bytes")) << AllLines();
  EXPECT_FALSE(Logged("secret")) << AllLines();
}

TEST_F(ContainerTest, LogLinesNameTheSourceFile) {
  std::string out;
  EXPECT_FALSE(ZOLT_SH_ENCRYPT::DecryptStringFromBase64(B64("short"), "pw", out));
  ASSERT_FALSE(log_.lines().empty());
  EXPECT_EQ(log_.lines()[0].rfind("encrypt/aes_container:", 0), 0u) << AllLines();
}

TEST(GenRandomStringTest, FillsPrintableCharactersAndTerminates) {
  char buffer[257];
  std::fill(std::begin(buffer), std::end(buffer), '\x01');
  ASSERT_TRUE(genRandomString(buffer, 256));
  EXPECT_EQ(buffer[256], '\0');
  bool seen[95] = {};
  for (int i = 0; i < 256; ++i) {
    ASSERT_GE(buffer[i], ' ');
    ASSERT_LE(buffer[i], '~');
    seen[buffer[i] - ' '] = true;
  }
  // 256 draws from 95 characters leave about 6 unseen; far fewer seen means a broken generator.
  EXPECT_GT(std::count(std::begin(seen), std::end(seen), true), 70);
}

}  // namespace
