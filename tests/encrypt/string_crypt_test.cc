// The platform's reversible string encryption and base64 helpers.
#include "crypt/zolt_crypt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "encrypt_fixture.h"

namespace {

using zoltsh::testing::EncryptTest;
using zoltsh::testing::TempRoot;

struct B64Case {
  std::string bytes;
  std::string text;
};

// RFC 4648 section 10, plus bytes that use the last two alphabet characters.
const std::vector<B64Case> kStdCases = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {"\xfb\xff\xbf", "+/+/"},
    {std::string("\0\0", 2), "AAA="},
};

TEST(Base64Test, EncodesAndDecodesKnownVectors) {
  for (const B64Case& c : kStdCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ZOLTBase64Encode(c.bytes.data(), c.bytes.size()), c.text);
    std::string back = "junk";
    ASSERT_TRUE(ZOLTBase64Decode(c.text, back));
    EXPECT_EQ(back, c.bytes);
  }
}

TEST(Base64Test, UrlFormUsesItsAlphabetWithoutPadding) {
  EXPECT_EQ(ZOLTBase64UrlEncode("\xfb\xff\xbf", 3), "-_-_");
  EXPECT_EQ(ZOLTBase64UrlEncode("f", 1), "Zg");
  std::string back;
  ASSERT_TRUE(ZOLTBase64UrlDecode("-_-_", back));
  EXPECT_EQ(back, "\xfb\xff\xbf");
  for (const char* bad : {"Zg==", "+/+/", "Z", "Zh", "Zm9v\n", "Zm 9v"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ZOLTBase64UrlDecode(bad, back));
  }
}

TEST(Base64Test, AcceptsLineBreaksBetweenDigits) {
  std::string back;
  ASSERT_TRUE(ZOLTBase64Decode("Zm9v\nYmFy\r\n", back));
  EXPECT_EQ(back, "foobar");
  ASSERT_TRUE(ZOLTBase64Decode("Zm9vYg=\n=\n", back));
  EXPECT_EQ(back, "foob");
}

TEST(Base64Test, RefusesWhatIsNotStandardBase64) {
  const char* bad[] = {
      "Zg",         // padding missing
      "Zg=",        // padding short
      "Zg===",      // padding too long
      "Z===",       // a lone digit
      "Zh==",       // unused bits set
      "Zm9=",       // unused bits set
      "Zg==Zg==",   // data after padding
      "Zm9v Zg==",  // a space
      "Zm9\tv",     // a tab
      "Zm-_",       // url alphabet
      "Zm9v\x80",   // a byte outside ASCII
      "=",          // padding alone
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    std::string back = "kept";
    EXPECT_FALSE(ZOLTBase64Decode(text, back));
    EXPECT_EQ(back, "kept");
  }
  std::string withNul("Zm9v\0Zg==", 9);
  std::string back;
  EXPECT_FALSE(ZOLTBase64Decode(withNul, back));
}

TEST(Base64Test, RoundTripsEveryLengthAndByte) {
  std::string bytes;
  for (int i = 0; i < 300; ++i) {
    bytes.push_back(static_cast<char>((i * 7) & 0xff));
    std::string back;
    ASSERT_TRUE(ZOLTBase64Decode(ZOLTBase64Encode(bytes.data(), bytes.size()), back)) << i;
    ASSERT_EQ(back, bytes);
    ASSERT_TRUE(ZOLTBase64UrlDecode(ZOLTBase64UrlEncode(bytes.data(), bytes.size()), back)) << i;
    ASSERT_EQ(back, bytes);
  }
}

class StringCryptTest : public EncryptTest {
 protected:
  std::string Encrypt(const std::string& plain) {
    std::vector<char> buf(ZOLTStringEncryptBufSize(plain.size()));
    EXPECT_TRUE(ZOLTStringEncrypt(plain.c_str(), buf.data(), buf.size()));
    return buf.data();
  }
  bool Decrypt(const std::string& cipher, std::string& plain) {
    std::vector<char> buf(cipher.size() + 1);
    if (!ZOLTStringDecrypt(cipher.c_str(), buf.data(), buf.size())) return false;
    plain = buf.data();
    return true;
  }
};

TEST_F(StringCryptTest, RoundTripsWithinTheBoundForEveryLength) {
  std::string plain;
  for (size_t n = 0; n <= 100; ++n) {
    SCOPED_TRACE(n);
    const std::string cipher = Encrypt(plain);
    // At most the bound less the terminator, all printable.
    EXPECT_LE(cipher.size() + 1, ZOLTStringEncryptBufSize(n));
    for (char c : cipher) EXPECT_TRUE(std::isprint(static_cast<unsigned char>(c))) << cipher;
    std::string back;
    ASSERT_TRUE(Decrypt(cipher, back));
    EXPECT_EQ(back, plain);
    plain.push_back(static_cast<char>(' ' + (n * 37) % 95));
  }
}

TEST_F(StringCryptTest, SystemPasswordFitsInFiftyThreeCharacters) {
  const std::string sysPass(32, '~');
  EXPECT_EQ(ZOLTStringEncryptBufSize(32), 54u);
  std::vector<char> buf(54);
  ASSERT_TRUE(ZOLTStringEncrypt(sysPass.c_str(), buf.data(), buf.size()));
  EXPECT_LE(std::strlen(buf.data()), 53u);
}

TEST_F(StringCryptTest, EveryEncryptionUsesAFreshNonce) {
  const std::string a = Encrypt("same text");
  const std::string b = Encrypt("same text");
  EXPECT_NE(a, b);
}

TEST_F(StringCryptTest, KeyFileIsRootOnlyAndMadeOnce) {
  Encrypt("x");
  struct stat st {};
  ASSERT_EQ(::lstat(ZOLTCryptKeyPath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  EXPECT_EQ(ZOLTCryptKeyPath().rfind(root_.dir(), 0), 0u) << "key outside the appliance root";
  const std::string key = ReadFile(ZOLTCryptKeyPath());
  Encrypt("y");
  EXPECT_EQ(ReadFile(ZOLTCryptKeyPath()), key);
}

TEST_F(StringCryptTest, AnotherAppliancesKeyDoesNotGiveThePlaintext) {
  const std::string cipher = Encrypt("the secret");
  TempRoot other;
  std::string back;
  if (Decrypt(cipher, back)) {
    EXPECT_NE(back, "the secret");
  }
}

TEST_F(StringCryptTest, RefusesForeignTextAndSmallBuffers) {
  const std::string cipher = Encrypt("abcdef");
  std::string back;
  for (const std::string& bad :
       {std::string(""), std::string("1"), std::string("1AAAA"), "2" + cipher.substr(1),
        cipher.substr(1), cipher + "=", cipher + "!"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(Decrypt(bad, back));
  }
  char small[4];
  EXPECT_FALSE(ZOLTStringDecrypt(cipher.c_str(), small, sizeof(small)));
  EXPECT_FALSE(ZOLTStringEncrypt("abcdef", small, sizeof(small)));
  EXPECT_FALSE(ZOLTStringEncrypt(nullptr, small, sizeof(small)));
  EXPECT_FALSE(ZOLTStringDecrypt(nullptr, small, sizeof(small)));
}

// A key file that others could read, or a link planted at its name, is never used.
TEST_F(StringCryptTest, AKeyFileOthersCanReachIsRefused) {
  ASSERT_EQ(::mkdir(root_.path("etc").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(root_.path("etc/zolt").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(root_.path("etc/zolt/crypt").c_str(), 0700), 0);
  WriteFile(ZOLTCryptKeyPath(), std::string(32, 'k'));
  ASSERT_EQ(::chmod(ZOLTCryptKeyPath().c_str(), 0644), 0);
  char buf[64];
  EXPECT_FALSE(ZOLTStringEncrypt("x", buf, sizeof(buf)));
  EXPECT_TRUE(Logged("wrong type, mode or size")) << AllLines();

  ASSERT_EQ(::unlink(ZOLTCryptKeyPath().c_str()), 0);
  WriteFile(root_.path("elsewhere.key"), std::string(32, 'k'));
  ASSERT_EQ(::chmod(root_.path("elsewhere.key").c_str(), 0600), 0);
  ASSERT_EQ(::symlink(root_.path("elsewhere.key").c_str(), ZOLTCryptKeyPath().c_str()), 0);
  EXPECT_FALSE(ZOLTStringEncrypt("x", buf, sizeof(buf)));
}

}  // namespace
